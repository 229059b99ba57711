#include "plugin/preview_link_client.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "base/messages.h"

namespace tessara::plugin {

namespace {

// Pictures arrive with red in the low byte; the host's 32-bit pixels hold blue there.
uint32_t host_pixel(uint32_t colour) {
    return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

}  // namespace

bool PreviewLinkClient::start(const FrameFormat& frame) {
    link::Channel channel;
    int error = 0;
    switch (link::connect_to_server(channel, error)) {
        case link::ConnectResult::Connected:
        case link::ConnectResult::NoServer:  // no program waiting: paint from the cache as it is
            return start_on(std::move(channel), frame);
        case link::ConnectResult::Failed:
            m_messages.error_with_system(kOpenFailedText, error);
            break;
        case link::ConnectResult::StateFailed:
            m_messages.error_with_system(kPipeStateText, error);
            break;
        case link::ConnectResult::EventFailed:
            m_messages.error_with_system(kEventText, error);
            break;
    }
    forget_session();
    return false;
}

bool PreviewLinkClient::start_on(link::Channel channel, const FrameFormat& frame) {
    bool ok = true;
    if (channel.is_open()) {
        m_channel = std::move(channel);
        ok = message_loop(frame) == LoopResult::Closed;
        m_channel.close();
    }
    if (!ok) {
        forget_session();
        return false;
    }
    m_cursor = m_cache.first();
    if ((m_width != 0 || m_height != 0) && (m_width != frame.width || m_height != frame.height)) {
        m_messages.error(kResolutionAtStartText);
        forget_session();
        return false;
    }
    if (!frame_rate_matches(frame)) {
        m_messages.error(kFrameRateText);
        return false;
    }
    return true;
}

void PreviewLinkClient::forget_session() {
    m_server_thread = 0;
    m_session_id = 0;
    m_width = 0;
    m_height = 0;
    m_output_us = 0;
    m_input_us = 0;
    m_cursor = PictureCache::kNone;
}

bool PreviewLinkClient::frame_rate_matches(const FrameFormat& frame) const {
    return m_output_us == 0 || frame.frame_us == 0 || frame.frame_us == m_output_us ||
           frame.frame_us == m_input_us;
}

PreviewLinkClient::LoopResult PreviewLinkClient::message_loop(const FrameFormat& frame) {
    int32_t pending_removals = 0;
    int32_t pending_additions = 0;
    bool new_session = false;
    auto fail = [&](const char* text) {
        m_messages.error(text);
        return LoopResult::Failed;
    };
    for (;;) {
        Message m;
        if (!receive(m, frame)) {
            return LoopResult::Failed;
        }
        const link::LinkHeader& h = m.header;
        if (h.server_thread != m_server_thread || h.session_id != m_session_id) {
            m_width = m_height = m_output_us = m_input_us = 0;
            m_cursor = PictureCache::kNone;
            m_server_thread = h.server_thread;
            m_session_id = h.session_id;
            new_session = true;
        }
        const bool has_first = !m.first.empty();
        const bool has_second = !m.second.empty();
        const bool no_payload = !has_first && !has_second;
        const bool first_only = has_first && !has_second;
        const int32_t command = h.command;

        if (command == static_cast<int32_t>(link::LinkCommand::Hello)) {
            if (!no_payload) {
                return fail(kUnsupportedFormatText);
            }
            pending_removals = 0;
            pending_additions = 0;
            if (!reply(link::kStatusAccepted)) {
                return LoopResult::Failed;
            }
        } else if (command == link::kStatusDeclined) {
            if (!no_payload) {
                return fail(kUnsupportedFormatText);
            }
            reply(link::kStatusAccepted);
            return LoopResult::Failed;
        } else if (pending_removals > 0) {
            if (command != static_cast<int32_t>(link::LinkCommand::RemovePicture)) {
                return fail(kInvalidSequenceText);
            }
            const auto start = first_only ? link::decode_frame(m.first) : std::nullopt;
            if (!start) {
                return fail(kUnsupportedFormatText);
            }
            m_cursor = PictureCache::kNone;
            if (!m_cache.remove(*start)) {
                return fail(kInvalidRemoveText);
            }
            --pending_removals;
            if (!reply(link::kStatusAccepted)) {
                return LoopResult::Failed;
            }
        } else if (pending_additions > 0) {
            if (command != static_cast<int32_t>(link::LinkCommand::AddPicture)) {
                return fail(kInvalidSequenceText);
            }
            const auto info =
                has_first && has_second ? link::decode_add_picture(m.first) : std::nullopt;
            if (!info) {
                return fail(kUnsupportedFormatText);
            }
            // The picture is checked whole here, so painting never meets a record that does not
            // fit; rows outside the frame are clipped when painted.
            const bool valid = info->start <= info->last &&
                               info->byte_count == static_cast<int64_t>(m.second.size()) &&
                               link::PictureReader::open(m.second).has_value();
            m_cursor = PictureCache::kNone;
            if (!valid || !m_cache.insert(info->start, info->last, std::move(m.second))) {
                return fail(kInvalidAddText);
            }
            --pending_additions;
            if (!reply(link::kStatusAccepted)) {
                return LoopResult::Failed;
            }
        } else if (command == static_cast<int32_t>(link::LinkCommand::Close)) {
            if (!no_payload) {
                return fail(kUnsupportedFormatText);
            }
            return reply(link::kStatusAccepted) ? LoopResult::Closed : LoopResult::Failed;
        } else if (command == static_cast<int32_t>(link::LinkCommand::SessionInfo)) {
            const auto info = first_only ? link::decode_session_info(m.first) : std::nullopt;
            if (!info) {
                return fail(kUnsupportedFormatText);
            }
            if (info->width != m_width || info->height != m_height) {
                m_width = info->width;
                m_height = info->height;
                m_cursor = PictureCache::kNone;
                m_cache.clear();
                new_session = true;
            }
            if (m_width != frame.width || m_height != frame.height) {
                m_messages.error(kResolutionText);
                abort();
                return LoopResult::Failed;
            }
            m_output_us = info->output_frame_us;
            m_input_us = info->input_frame_us;
            if (!frame_rate_matches(frame)) {
                m_messages.error(kFrameRateText);
                abort();
                return LoopResult::Failed;
            }
            int32_t status = link::kStatusAccepted;
            if (new_session) {
                pending_removals = 0;
                pending_additions = info->total;
                status = link::kStatusSendAll;
            } else {
                pending_removals = info->removed;
                pending_additions = info->added;
            }
            if (!reply(status)) {
                return LoopResult::Failed;
            }
        } else {
            return fail(kInvalidCommandText);
        }
    }
}

bool PreviewLinkClient::receive(Message& message, const FrameFormat& frame) {
    std::array<uint8_t, link::kHeaderSize> header_bytes{};
    if (!read(header_bytes)) {
        return false;
    }
    message.header = *link::decode_header(header_bytes);
    const link::LinkHeader& h = message.header;
    if (h.version != link::kLinkVersion) {
        // Answer in our own version so that the server can report the mismatch too.
        const auto answer = link::encode(link::LinkReply{link::kLinkVersion, link::kStatusAbort});
        int error = 0;
        m_channel.write_all(answer, wait_limit(), error);
        m_messages.error(kServerVersionText);
        return false;
    }
    // Lengths are checked before anything is allocated: no request has a first payload longer
    // than SessionInfo's, and no picture for this frame can be larger than a full-frame one.
    const int64_t picture_limit = std::max<int64_t>(
        link::kEmptyPictureSize, link::max_picture_bytes(frame.width, frame.height));
    if (h.first_length < 0 || h.second_length < 0 ||
        h.first_length > static_cast<int32_t>(link::kSessionInfoSize) ||
        h.second_length > picture_limit) {
        m_messages.error(kUnsupportedFormatText);
        return false;
    }
    message.first.resize(static_cast<size_t>(h.first_length));
    message.second.resize(static_cast<size_t>(h.second_length));
    return (message.first.empty() || read(message.first)) &&
           (message.second.empty() || read(message.second));
}

link::SliceCallback PreviewLinkClient::wait_limit() const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_wait_limit_ms);
    return [deadline] { return std::chrono::steady_clock::now() < deadline; };
}

bool PreviewLinkClient::read(std::span<uint8_t> bytes) {
    int error = 0;
    const auto status = m_channel.read_exact(bytes, wait_limit(), error);
    if (status == link::IoStatus::Done) {
        return true;
    }
    m_messages.error(status == link::IoStatus::Stopped ? kTimeoutText : kClientReadFailedText);
    return false;
}

bool PreviewLinkClient::reply(int32_t status) {
    const auto bytes = link::encode(
        link::LinkReply{link::kLinkVersion, status, m_server_thread, m_session_id, 0, 0});
    int error = 0;
    const auto result = m_channel.write_all(bytes, wait_limit(), error);
    if (result == link::IoStatus::Done) {
        return true;
    }
    m_messages.error(result == link::IoStatus::Stopped ? kTimeoutText : kClientWriteFailedText);
    return false;
}

void PreviewLinkClient::abort() {
    reply(link::kStatusAbort);
    m_channel.close();
}

void PreviewLinkClient::paint(int32_t frame, const FrameBuffer& buffer) {
    if (m_cache.empty()) {
        return;
    }
    if (m_cursor == PictureCache::kNone) {
        m_cursor = m_cache.first();
    }
    if (frame < m_cache.entry(m_cursor).start) {
        while (m_cursor != PictureCache::kNone && m_cache.entry(m_cursor).start > frame) {
            m_cursor = m_cache.entry(m_cursor).prev;
        }
        if (m_cursor == PictureCache::kNone || m_cache.entry(m_cursor).last < frame) {
            return;
        }
    } else if (frame > m_cache.entry(m_cursor).last) {
        while (m_cursor != PictureCache::kNone && m_cache.entry(m_cursor).last < frame) {
            m_cursor = m_cache.entry(m_cursor).next;
        }
        if (m_cursor == PictureCache::kNone || frame < m_cache.entry(m_cursor).start) {
            return;
        }
    }
    const auto reader = link::PictureReader::open(m_cache.entry(m_cursor).picture);
    if (!reader || buffer.data == nullptr) {
        return;
    }
    const uint32_t colours[4] = {0, host_pixel(reader->colour(1)), host_pixel(reader->colour(2)),
                                 host_pixel(reader->colour(3))};
    reader->for_each_row([&](const link::PictureRow& row) {
        // Rows and columns outside the frame are clipped; pixel bytes above 3 are transparent.
        if (row.y < 0 || row.y >= buffer.height) {
            return;
        }
        const int64_t x = row.x;
        const int64_t from = std::max<int64_t>(0, -x);
        const int64_t to =
            std::min<int64_t>(static_cast<int64_t>(row.pixels.size()), int64_t{buffer.width} - x);
        uint8_t* line =
            buffer.data + static_cast<ptrdiff_t>(buffer.height - 1 - row.y) * buffer.pitch;
        for (int64_t i = from; i < to; ++i) {
            const uint8_t v = row.pixels[static_cast<size_t>(i)];
            if (v == 0 || v > 3) {
                continue;
            }
            std::memcpy(line + (x + i) * 4, &colours[v], 4);
        }
    });
}

}  // namespace tessara::plugin
