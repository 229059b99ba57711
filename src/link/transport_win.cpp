// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "link/loopback.h"
#include "link/transport.h"

namespace tessara::link {

namespace {

// Waits one slice for an overlapped operation: true when it completed (the byte count in
// `done`), false with `error` set when it failed. `stopped` is set when the slice callback ended
// the wait; the operation has then been cancelled and has finished.
enum class Wait { Completed, Failed, Stopped };

Wait wait_overlapped(HANDLE handle, OVERLAPPED& ov, const SliceCallback& slice, DWORD& done,
                     int& error, const std::function<bool()>& give_up_early = nullptr) {
    for (;;) {
        const DWORD waited = ::WaitForSingleObject(ov.hEvent, kWaitSliceMs);
        if (waited == WAIT_OBJECT_0) {
            if (::GetOverlappedResult(handle, &ov, &done, FALSE)) {
                return Wait::Completed;
            }
            error = static_cast<int>(::GetLastError());
            return Wait::Failed;
        }
        if (waited != WAIT_TIMEOUT) {
            error = static_cast<int>(::GetLastError());
            ::CancelIo(handle);
            ::GetOverlappedResult(handle, &ov, &done, TRUE);
            return Wait::Failed;
        }
        if ((give_up_early && give_up_early()) || !slice()) {
            // The buffer belongs to the operation until it has finished.
            ::CancelIo(handle);
            if (::GetOverlappedResult(handle, &ov, &done, TRUE)) {
                return Wait::Completed;  // it finished after all
            }
            return Wait::Stopped;
        }
    }
}

bool is_gone(DWORD code) {
    return code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED || code == ERROR_NO_DATA;
}

// A connected pipe end. Reads and writes are overlapped, each with its own manual-reset event,
// and every wait is sliced.
class PipeBackend final : public ChannelBackend {
  public:
    PipeBackend(HANDLE pipe, HANDLE read_event, HANDLE write_event)
        : m_pipe(pipe), m_read_event(read_event), m_write_event(write_event) {}
    PipeBackend(const PipeBackend&) = delete;
    PipeBackend& operator=(const PipeBackend&) = delete;
    ~PipeBackend() override {
        ::CancelIo(m_pipe);
        ::CloseHandle(m_pipe);
        ::CloseHandle(m_read_event);
        ::CloseHandle(m_write_event);
    }

    IoStatus write_all(std::span<const uint8_t> bytes, const SliceCallback& slice, int& error,
                       bool stop_on_reply) override {
        size_t done = 0;
        while (done < bytes.size()) {
            if (stop_on_reply && has_input()) {
                return IoStatus::ReplyFirst;
            }
            OVERLAPPED ov{};
            ov.hEvent = m_write_event;
            ::ResetEvent(m_write_event);
            DWORD written = 0;
            const auto size = static_cast<DWORD>(bytes.size() - done);
            if (!::WriteFile(m_pipe, bytes.data() + done, size, &written, &ov)) {
                const DWORD code = ::GetLastError();
                if (code != ERROR_IO_PENDING) {
                    error = static_cast<int>(code);
                    return IoStatus::Failed;
                }
                bool replied = false;
                auto reply_came = [&] { return stop_on_reply && (replied = has_input()); };
                switch (wait_overlapped(m_pipe, ov, slice, written, error, reply_came)) {
                    case Wait::Completed:
                        break;
                    case Wait::Failed:
                        return IoStatus::Failed;
                    case Wait::Stopped:
                        return replied ? IoStatus::ReplyFirst : IoStatus::Stopped;
                }
            }
            done += written;
        }
        return IoStatus::Done;
    }

    IoStatus read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error) override {
        size_t done = 0;
        while (done < bytes.size()) {
            OVERLAPPED ov{};
            ov.hEvent = m_read_event;
            ::ResetEvent(m_read_event);
            DWORD got = 0;
            const auto size = static_cast<DWORD>(bytes.size() - done);
            if (!::ReadFile(m_pipe, bytes.data() + done, size, &got, &ov)) {
                DWORD code = ::GetLastError();
                if (code == ERROR_IO_PENDING) {
                    switch (wait_overlapped(m_pipe, ov, slice, got, error)) {
                        case Wait::Completed:
                            code = ERROR_SUCCESS;
                            break;
                        case Wait::Failed:
                            code = static_cast<DWORD>(error);
                            break;
                        case Wait::Stopped:
                            return IoStatus::Stopped;
                    }
                } else if (code == ERROR_MORE_DATA) {
                    ::GetOverlappedResult(m_pipe, &ov, &got, FALSE);
                }
                // A message longer than what is asked for arrives in parts.
                if (code != ERROR_SUCCESS && code != ERROR_MORE_DATA) {
                    error = static_cast<int>(code);
                    return is_gone(code) ? IoStatus::Closed : IoStatus::Failed;
                }
            }
            done += got;
        }
        return IoStatus::Done;
    }

    bool has_input() const override {
        DWORD available = 0;
        if (!::PeekNamedPipe(m_pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return true;  // the end is there to be read
        }
        return available > 0;
    }

  private:
    HANDLE m_pipe;
    HANDLE m_read_event;
    HANDLE m_write_event;
};

// A connected TCP socket of the loopback link, non-blocking, each wait one select slice.
class SocketBackend final : public ChannelBackend {
  public:
    explicit SocketBackend(SOCKET s) : m_socket(s) {}
    SocketBackend(const SocketBackend&) = delete;
    SocketBackend& operator=(const SocketBackend&) = delete;
    ~SocketBackend() override {
        ::closesocket(m_socket);
        ::WSACleanup();
    }

    IoStatus write_all(std::span<const uint8_t> bytes, const SliceCallback& slice, int& error,
                       bool stop_on_reply) override {
        size_t done = 0;
        while (done < bytes.size()) {
            if (stop_on_reply && has_input()) {
                return IoStatus::ReplyFirst;
            }
            const int n = ::send(m_socket, reinterpret_cast<const char*>(bytes.data() + done),
                                 static_cast<int>(bytes.size() - done), 0);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (auto end = wait_again(false, slice, error)) {
                return *end;
            }
        }
        return IoStatus::Done;
    }

    IoStatus read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error) override {
        size_t done = 0;
        while (done < bytes.size()) {
            const int n = ::recv(m_socket, reinterpret_cast<char*>(bytes.data() + done),
                                 static_cast<int>(bytes.size() - done), 0);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n == 0) {
                error = WSAECONNRESET;
                return IoStatus::Closed;
            }
            if (auto end = wait_again(true, slice, error)) {
                return *end;
            }
        }
        return IoStatus::Done;
    }

    bool has_input() const override { return ready(true, 0) != 0; }

  private:
    // 1 when the socket is ready, 0 when the time passed, -1 on error.
    int ready(bool for_reading, long ms) const {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_socket, &set);
        timeval wait{ms / 1000, (ms % 1000) * 1000};
        const int n =
            ::select(0, for_reading ? &set : nullptr, for_reading ? nullptr : &set, nullptr, &wait);
        return n < 0 ? -1 : (n > 0 ? 1 : 0);
    }

    std::optional<IoStatus> wait_again(bool for_reading, const SliceCallback& slice,
                                       int& error) const {
        const int code = ::WSAGetLastError();
        if (code != WSAEWOULDBLOCK) {
            error = code;
            return code == WSAECONNRESET || code == WSAECONNABORTED ? IoStatus::Closed
                                                                    : IoStatus::Failed;
        }
        const int r = ready(for_reading, kWaitSliceMs);
        if (r < 0) {
            error = ::WSAGetLastError();
            return IoStatus::Failed;
        }
        if (r == 0 && !slice()) {
            return IoStatus::Stopped;
        }
        return std::nullopt;
    }

    SOCKET m_socket;
};

HANDLE make_event() {
    return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

}  // namespace

IoStatus Channel::write_all(std::span<const uint8_t> bytes, const SliceCallback& slice, int& error,
                            bool stop_on_reply) {
    error = 0;
    if (!m_backend) {
        error = ERROR_INVALID_HANDLE;
        return IoStatus::Failed;
    }
    return m_backend->write_all(bytes, slice, error, stop_on_reply);
}

IoStatus Channel::read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error) {
    error = 0;
    if (!m_backend) {
        error = ERROR_INVALID_HANDLE;
        return IoStatus::Failed;
    }
    return m_backend->read_exact(bytes, slice, error);
}

Listener::OpenResult Listener::open(int& error) {
    close();
    error = 0;
    HANDLE pipe = ::CreateNamedPipeA(
        kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kPipeOutputBuffer,
        kPipeInputBuffer, kPipeTimeoutMs, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        error = static_cast<int>(code);
        return code == ERROR_PIPE_BUSY || code == ERROR_ACCESS_DENIED ? OpenResult::Busy
                                                                      : OpenResult::Failed;
    }
    m_pipe = pipe;
    m_event = make_event();
    if (m_event == nullptr) {
        error = static_cast<int>(::GetLastError());
        close();
        return OpenResult::Failed;
    }
    return OpenResult::Ok;
}

IoStatus Listener::accept(Channel& out, const SliceCallback& slice, int& error) {
    error = 0;
    if (m_pipe == nullptr) {
        error = ERROR_INVALID_HANDLE;
        return IoStatus::Failed;
    }
    auto* pipe = static_cast<HANDLE>(m_pipe);
    OVERLAPPED ov{};
    ov.hEvent = static_cast<HANDLE>(m_event);
    ::ResetEvent(ov.hEvent);
    if (!::ConnectNamedPipe(pipe, &ov)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_IO_PENDING) {
            DWORD ignored = 0;
            switch (wait_overlapped(pipe, ov, slice, ignored, error)) {
                case Wait::Completed:
                    break;
                case Wait::Failed:
                    return IoStatus::Failed;
                case Wait::Stopped:
                    return IoStatus::Stopped;
            }
        } else if (code != ERROR_PIPE_CONNECTED) {
            error = static_cast<int>(code);
            return IoStatus::Failed;
        }
    }
    HANDLE write_event = make_event();
    if (write_event == nullptr) {
        error = static_cast<int>(::GetLastError());
        return IoStatus::Failed;
    }
    // The pipe and its event now belong to the channel; the single instance stays taken until
    // the channel closes.
    out = Channel(std::make_unique<PipeBackend>(pipe, static_cast<HANDLE>(m_event), write_event));
    m_pipe = nullptr;
    m_event = nullptr;
    return IoStatus::Done;
}

void Listener::close() {
    if (m_pipe != nullptr) {
        ::CancelIo(static_cast<HANDLE>(m_pipe));
        ::CloseHandle(static_cast<HANDLE>(m_pipe));
        m_pipe = nullptr;
    }
    if (m_event != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(m_event));
        m_event = nullptr;
    }
}

namespace {

ConnectResult connect_pipe(Channel& out, int& error) {
    HANDLE pipe = ::CreateFileA(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) {
            return ConnectResult::NoServer;
        }
        error = static_cast<int>(code);
        return ConnectResult::Failed;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
        error = static_cast<int>(::GetLastError());
        ::CloseHandle(pipe);
        return ConnectResult::StateFailed;
    }
    HANDLE read_event = make_event();
    HANDLE write_event = read_event != nullptr ? make_event() : nullptr;
    if (write_event == nullptr) {
        error = static_cast<int>(::GetLastError());
        if (read_event != nullptr) {
            ::CloseHandle(read_event);
        }
        ::CloseHandle(pipe);
        return ConnectResult::EventFailed;
    }
    out = Channel(std::make_unique<PipeBackend>(pipe, read_event, write_event));
    return ConnectResult::Connected;
}

// Wine's drive Z: shows the Unix root: /run/user/1000 is Z:\run\user\1000.
std::string wine_path(const std::string& unix_path) {
    std::string out = "Z:";
    for (char c : unix_path) {
        out += c == '/' ? '\\' : c;
    }
    return out;
}

}  // namespace

std::string loopback_file_path() {
    if (const char* given = std::getenv(kLoopbackFileVariable); given != nullptr && *given) {
        return given;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return {};
    }
    std::string folder = runtime;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return wine_path(folder) + '\\' + std::string(kLoopbackFileName);
}

ConnectResult connect_loopback(const std::string& file_path, Channel& out, int& error) {
    error = 0;
    if (file_path.empty()) {
        return ConnectResult::NoServer;
    }
    HANDLE file = ::CreateFileA(file_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return ConnectResult::NoServer;
        }
        error = static_cast<int>(code);
        return ConnectResult::Failed;
    }
    char text[128];
    DWORD size = 0;
    const BOOL read = ::ReadFile(file, text, sizeof text, &size, nullptr);
    const DWORD read_error = ::GetLastError();
    ::CloseHandle(file);
    if (!read) {
        error = static_cast<int>(read_error);
        return ConnectResult::Failed;
    }
    const auto address = parse_loopback_file(std::string_view(text, size));
    if (!address) {
        error = ERROR_INVALID_DATA;
        return ConnectResult::Failed;
    }

    WSADATA wsa{};
    if (const int code = ::WSAStartup(MAKEWORD(2, 2), &wsa); code != 0) {
        error = code;
        return ConnectResult::Failed;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        ::WSACleanup();
        return ConnectResult::Failed;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(address->port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        const int code = ::WSAGetLastError();
        ::closesocket(s);
        ::WSACleanup();
        if (code == WSAECONNREFUSED) {
            return ConnectResult::NoServer;  // the file of a server that died
        }
        error = code;
        return ConnectResult::Failed;
    }
    u_long non_blocking = 1;
    ::ioctlsocket(s, FIONBIO, &non_blocking);
    Channel channel(std::make_unique<SocketBackend>(s));
    const auto sent = channel.write_all(
        std::span(reinterpret_cast<const uint8_t*>(address->secret.data()), kSecretSize),
        [] { return true; }, error);
    if (sent != IoStatus::Done) {
        return ConnectResult::Failed;
    }
    out = std::move(channel);
    return ConnectResult::Connected;
}

ConnectResult connect_to_server(Channel& out, int& error) {
    error = 0;
    const ConnectResult result = connect_pipe(out, error);
    if (result != ConnectResult::NoServer) {
        return result;
    }
    // No pipe: perhaps a program on the other side of Wine waits on the loopback link.
    return connect_loopback(loopback_file_path(), out, error);
}

}  // namespace tessara::link
