#include "link/transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace tessara::link {

namespace {

// Waits up to one slice for the events; the revents, 0 when the slice passed, -1 on error.
int wait_slice(int fd, short events) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int n = ::poll(&p, 1, kWaitSliceMs);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        return n == 0 ? 0 : p.revents;
    }
}

// After a non-blocking call that made no progress (errno set by it): waits one slice for the
// events. Nothing means try again; otherwise the status the operation ends with.
std::optional<IoStatus> wait_again(int fd, short events, const SliceCallback& slice, int& error) {
    if (errno == EINTR) {
        return std::nullopt;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
        error = errno;
        return IoStatus::Failed;
    }
    const int ready = wait_slice(fd, events);
    if (ready < 0) {
        error = errno;
        return IoStatus::Failed;
    }
    if (ready == 0 && !slice()) {
        return IoStatus::Stopped;
    }
    return std::nullopt;
}

bool peer_is_this_user(int fd) {
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) {
        return false;
    }
    return cred.uid == ::getuid();
}

bool make_address(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

Channel& Channel::operator=(Channel&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void Channel::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

IoStatus Channel::write_all(std::span<const uint8_t> bytes, const SliceCallback& slice, int& error,
                            bool stop_on_reply) {
    error = 0;
    if (m_fd < 0) {
        error = EBADF;
        return IoStatus::Failed;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        if (stop_on_reply && has_input()) {
            return IoStatus::ReplyFirst;
        }
        const ssize_t n =
            ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const short events = static_cast<short>(POLLOUT | (stop_on_reply ? POLLIN : 0));
        if (auto end = wait_again(m_fd, events, slice, error)) {
            return *end;
        }
    }
    return IoStatus::Done;
}

IoStatus Channel::read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error) {
    error = 0;
    if (m_fd < 0) {
        error = EBADF;
        return IoStatus::Failed;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::recv(m_fd, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            error = ECONNRESET;
            return IoStatus::Closed;
        }
        if (auto end = wait_again(m_fd, POLLIN, slice, error)) {
            return *end;
        }
    }
    return IoStatus::Done;
}

bool Channel::has_input() const {
    if (m_fd < 0) {
        return false;
    }
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

std::string socket_path() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') {
        std::string path = runtime;
        if (path.back() != '/') {
            path += '/';
        }
        return path + "Tessara-plugin";
    }
    return "/tmp/Tessara-plugin-" + std::to_string(::getuid());
}

Listener::OpenResult Listener::open(int& error) {
    close();
    error = 0;
    const std::string path = socket_path();
    sockaddr_un address{};
    if (!make_address(path, address)) {
        error = ENAMETOOLONG;
        return OpenResult::Failed;
    }
    // The lock is held for as long as this server owns the socket; the system drops it when the
    // process dies, so a socket file without a locked lock file is stale.
    const std::string lock_path = path + ".lock";
    m_lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lock_fd < 0) {
        error = errno;
        return OpenResult::Failed;
    }
    // In a shared folder someone else could have made the lock file first; it must be ours.
    struct stat lock_stat {};
    if (::fstat(m_lock_fd, &lock_stat) != 0 || lock_stat.st_uid != ::getuid()) {
        error = EACCES;
        close();
        return OpenResult::Failed;
    }
    if (::flock(m_lock_fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(m_lock_fd);
        m_lock_fd = -1;
        if (e == EWOULDBLOCK) {
            return OpenResult::Busy;
        }
        error = e;
        return OpenResult::Failed;
    }
    // The socket is made under a temporary name and renamed into place once it listens, so a
    // client never finds a socket file that refuses connections.
    const std::string temporary = path + ".new";
    sockaddr_un temporary_address{};
    if (!make_address(temporary, temporary_address)) {
        error = ENAMETOOLONG;
        close();
        return OpenResult::Failed;
    }
    for (const std::string& old : {path, temporary}) {
        if (::unlink(old.c_str()) != 0 && errno != ENOENT) {
            error = errno;
            close();
            return OpenResult::Failed;
        }
    }
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        error = errno;
        close();
        return OpenResult::Failed;
    }
    // Only the owner may connect: the socket is created without group or other permissions.
    const mode_t old_mask = ::umask(0077);
    const int bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&temporary_address),
                             sizeof temporary_address);
    const int bind_error = errno;
    ::umask(old_mask);
    if (bound != 0) {
        error = bind_error;
        close();
        return OpenResult::Failed;
    }
    if (::chmod(temporary.c_str(), 0600) != 0 || ::listen(m_fd, 1) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        ::unlink(temporary.c_str());
        close();
        return OpenResult::Failed;
    }
    m_path = path;
    return OpenResult::Ok;
}

IoStatus Listener::accept(Channel& out, const SliceCallback& slice, int& error) {
    error = 0;
    if (m_fd < 0) {
        error = EBADF;
        return IoStatus::Failed;
    }
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            if (!peer_is_this_user(fd)) {
                ::close(fd);  // another user's process: not our plug-in
                continue;
            }
            out = Channel(fd);
            // One client at a time: later clients find no server.
            ::close(m_fd);
            m_fd = -1;
            ::unlink(m_path.c_str());
            return IoStatus::Done;
        }
        if (errno == ECONNABORTED) {
            continue;  // a client that gave up while queued
        }
        if (auto end = wait_again(m_fd, POLLIN, slice, error)) {
            return *end;
        }
    }
}

void Listener::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
    if (m_lock_fd >= 0) {
        ::close(m_lock_fd);  // releases the lock
        m_lock_fd = -1;
    }
}

ConnectResult connect_to_server(Channel& out, int& error) {
    error = 0;
    sockaddr_un address{};
    if (!make_address(socket_path(), address)) {
        error = ENAMETOOLONG;
        return ConnectResult::Failed;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = errno;
        return ConnectResult::Failed;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int e = errno;
        ::close(fd);
        if (e != ENOENT && e != ECONNREFUSED) {
            error = e;
            return ConnectResult::Failed;
        }
        // No socket to connect to. When a server still holds the lock it is busy with another
        // client: the channel exists but is taken, which is not the same as no server at all.
        const std::string lock_path = socket_path() + ".lock";
        const int lock_fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (lock_fd >= 0) {
            const bool held = ::flock(lock_fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            ::close(lock_fd);
            if (held) {
                error = EBUSY;
                return ConnectResult::Failed;
            }
        }
        return ConnectResult::NoServer;
    }
    if (!peer_is_this_user(fd)) {
        ::close(fd);
        error = EACCES;
        return ConnectResult::Failed;
    }
    out = Channel(fd);
    return ConnectResult::Connected;
}

}  // namespace tessara::link
