#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace tessara::media {

// Hands frame numbers from the thread that wants them shown (a slider being dragged) to the one
// thread that decodes them, keeping only the newest: a number posted while an earlier one waits
// replaces it, so while one frame is decoded the positions the slider passed meanwhile are
// dropped and the next decode is for where the slider is now. Thread-safe.
//
//   decoding thread: while (auto n = requests.take()) show(movie.frame(*n));
//   slider:          requests.post(position);      on closing: requests.close(), join.
class LatestFrameRequest {
  public:
    // Replaces any number not yet taken. Ignored after close().
    void post(int64_t frame);
    // Waits until a number is posted and takes it; nullopt once close() was called, even when a
    // number was still waiting (a closing window wants no more frames).
    std::optional<int64_t> take();
    // The waiting number, if any, without waiting (for a caller polling between other work).
    std::optional<int64_t> try_take();
    // Wakes take() for good.
    void close();

  private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::optional<int64_t> m_pending;
    bool m_closed = false;
};

}  // namespace tessara::media
