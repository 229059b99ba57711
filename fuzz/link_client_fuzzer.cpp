// The plug-in's end of the preview link fed whatever a server might send. The input is the byte
// stream from the server: it is written into one end of a socket pair (then closed), and the
// client takes its transfer from the other end against a small frame, answering into a buffer
// nobody reads. Whatever the transfer did, every cached picture is then painted over frames
// with guard rows around them, which must stay untouched.

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "base/messages.h"
#include "fuzz_support.h"
#include "plugin/preview_link_client.h"

namespace {

using namespace tessara;

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;
constexpr uint32_t kGuard = 0xA5A5A5A5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Larger streams fill the socket buffers without adding anything new.
    if (size > 64 * 1024) {
        return 0;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        std::abort();
    }
    int buffer = 1 << 20;
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fds[0], data + written, size - written);
        if (n <= 0) {
            std::abort();
        }
        written += static_cast<size_t>(n);
    }
    ::shutdown(fds[0], SHUT_WR);

    base::SilentMessages messages;
    plugin::PreviewLinkClient client(messages);
    client.set_wait_limit_ms(1000);
    client.start_on(link::Channel(fds[1]), plugin::FrameFormat{kWidth, kHeight, 40000});
    ::close(fds[0]);

    // One guard row above and below the frame; painting must stay inside.
    std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * (kHeight + 2), kGuard);
    plugin::FrameBuffer frame{reinterpret_cast<uint8_t*>(pixels.data() + kWidth), kWidth, kHeight,
                              kWidth * 4};
    const auto& cache = client.cache();
    for (int32_t at = cache.first(); at != plugin::PictureCache::kNone; at = cache.entry(at).next) {
        const auto& e = cache.entry(at);
        if (e.start > e.last) {
            std::abort();
        }
        client.paint(e.start, frame);
        client.paint(e.last, frame);
        if (e.next != plugin::PictureCache::kNone && cache.entry(e.next).start <= e.last) {
            std::abort();  // intervals overlap
        }
    }
    for (int32_t x = 0; x < kWidth; ++x) {
        if (pixels[static_cast<size_t>(x)] != kGuard ||
            pixels[pixels.size() - 1 - static_cast<size_t>(x)] != kGuard) {
            std::abort();
        }
    }
    return 0;
}
