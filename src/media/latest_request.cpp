#include "media/latest_request.h"

#include <utility>

namespace tessara::media {

void LatestFrameRequest::post(int64_t frame) {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return;
        }
        m_pending = frame;
    }
    m_posted.notify_one();
}

std::optional<int64_t> LatestFrameRequest::take() {
    std::unique_lock lock(m_mutex);
    m_posted.wait(lock, [this] { return m_closed || m_pending.has_value(); });
    if (m_closed) {
        return std::nullopt;
    }
    return std::exchange(m_pending, std::nullopt);
}

std::optional<int64_t> LatestFrameRequest::try_take() {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return std::nullopt;
    }
    return std::exchange(m_pending, std::nullopt);
}

void LatestFrameRequest::close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_pending.reset();
    }
    m_posted.notify_all();
}

}  // namespace tessara::media
