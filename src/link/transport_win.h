#pragma once

#include <cstdint>
#include <string>

// The Windows ends of the channel: the named pipe. The program's end is built here for the pipe's
// own tests; the plug-in uses the client side through connect_to_server. Included through
// link/transport.h.
namespace tessara::link {

inline constexpr const char* kPipeName = "\\\\.\\pipe\\Tessara-plugin";
// The pipe's buffers (bytes) and its default time-out (ms).
inline constexpr uint32_t kPipeOutputBuffer = 65536;
inline constexpr uint32_t kPipeInputBuffer = 512;
inline constexpr uint32_t kPipeTimeoutMs = 5000;

// The server's end: a duplex message-mode pipe of one instance with overlapped I/O.
class Listener {
  public:
    enum class OpenResult {
        Ok,
        Busy,    // another server (or a hung client) holds the pipe
        Failed,  // a system error; its code is returned beside the result
    };

    Listener() = default;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener() { close(); }

    OpenResult open(int& error);
    // Waits for the client to open the pipe; the connected pipe becomes the channel.
    IoStatus accept(Channel& out, const SliceCallback& slice, int& error);
    void close();

  private:
    void* m_pipe = nullptr;
    void* m_event = nullptr;
};

}  // namespace tessara::link
