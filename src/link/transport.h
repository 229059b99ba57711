#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// The local channel the preview link runs over. Three kinds carry the same bytes:
// - Linux: a Unix-domain stream socket named "Tessara-plugin" in a folder only its user may enter
//   ($XDG_RUNTIME_DIR, or the program's own /tmp/Tessara-UID), readable and writable by its owner
//   only (transport_posix.h);
// - Windows: the message-mode named pipe \\.\pipe\Tessara-plugin (transport_win.h);
// - loopback, only when asked for: TCP on 127.0.0.1, for a Linux program and a plug-in running
//   under Wine on the same machine. The server writes its port and a random secret into a file
//   only its user can read; a client sends the secret before anything else, and a connection
//   without it is dropped (loopback.h).
// Messages keep their boundaries through the header's lengths: the reader always knows how many
// bytes the next record holds. Every wait is cut into 100 ms slices; after each slice without
// progress the caller's callback decides whether to go on waiting.
namespace tessara::link {

inline constexpr int kWaitSliceMs = 100;

// Called after every 100 ms a wait made no progress: true to keep waiting.
using SliceCallback = std::function<bool()>;

enum class IoStatus {
    Done,
    Stopped,     // the callback ended the wait
    Failed,      // a system error (its code is returned beside the status)
    Closed,      // the peer went away before the record was complete
    ReplyFirst,  // a write stopped because the peer had already answered
};

// One kind of connected end. `error` receives the system's error code (errno on Linux, the
// Windows error code on Windows) whenever the status is Failed or Closed.
class ChannelBackend {
  public:
    virtual ~ChannelBackend() = default;

    virtual IoStatus write_all(std::span<const uint8_t> bytes, const SliceCallback& slice,
                               int& error, bool stop_on_reply) = 0;
    virtual IoStatus read_exact(std::span<uint8_t> bytes, const SliceCallback& slice,
                                int& error) = 0;
    virtual bool has_input() const = 0;
};

// One connected end, whatever carries it. Closing it (or destroying it) closes the connection.
// Writes never raise a signal: a vanished peer is a failure of the write.
class Channel {
  public:
    Channel() = default;
    explicit Channel(std::unique_ptr<ChannelBackend> backend) : m_backend(std::move(backend)) {}
#ifndef _WIN32
    // A connected stream socket; the channel owns the descriptor.
    explicit Channel(int fd);
#endif

    bool is_open() const {
        return m_backend != nullptr;
    }
    void close() {
        m_backend.reset();
    }

    // Writes every byte. With stop_on_reply, the write ends with ReplyFirst as soon as the peer
    // has sent something to read, whatever is left unwritten.
    IoStatus write_all(std::span<const uint8_t> bytes, const SliceCallback& slice, int& error,
                       bool stop_on_reply = false);
    // Reads exactly bytes.size() bytes.
    IoStatus read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error);
    // Whether the peer has sent bytes (or closed) that have not been read yet.
    bool has_input() const {
        return m_backend != nullptr && m_backend->has_input();
    }

  private:
    std::unique_ptr<ChannelBackend> m_backend;
};

// The client's way in. NoServer when no server is running; Failed when one could not be reached
// (with a busy-channel error when a server is running but already serves another client). On
// Windows the pipe is opened first and set to message reads (StateFailed) with its wait event
// (EventFailed); without a pipe, a loopback server is looked for (loopback.h).
enum class ConnectResult { Connected, NoServer, Failed, StateFailed, EventFailed };
ConnectResult connect_to_server(Channel& out, int& error);

}  // namespace tessara::link

#ifdef _WIN32
#include "link/transport_win.h"
#else
#include "link/transport_posix.h"
#endif
