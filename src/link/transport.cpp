#include "link/transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

namespace {

constexpr const char* kSocketName = "Tessara-plugin";

// A folder of this user's that gives nobody else any permission, seen without following a link.
bool is_private_folder(const std::string& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

// A socket file nobody listens on any more.
bool is_stale_socket(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    const bool refused =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED;
    ::close(fd);
    return refused;
}

// A name beside `path` for the socket to be made under, one of this process's own. Nothing is
// ever removed to make room for it: bind refuses a name that is taken, and the next is tried.
std::string temporary_name(const std::string& path, int attempt) {
    return path + '.' + std::to_string(::getpid()) + '.' + std::to_string(attempt);
}

// Moves the file to `to` unless something is there already: false with errno (EEXIST when the
// name is taken), the file left where it was.
bool move_without_replacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return false;
    }
    // A file system without that kind of rename: a second name, then the first one goes.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

}  // namespace

SocketPlace socket_place(const char* runtime_dir, const std::string& temporary_root) {
    SocketPlace place;
    if (runtime_dir != nullptr && runtime_dir[0] != '\0') {
        std::string folder = runtime_dir;
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        if (folder.front() == '/' && is_private_folder(folder)) {
            place.folder = folder;
            place.path = (folder == "/" ? "" : folder) + "/" + kSocketName;
            return place;
        }
        place.refused_runtime_dir = runtime_dir;
    }
    place.folder = temporary_root + "/Tessara-" + std::to_string(::getuid());
    place.path = place.folder + "/" + kSocketName;
    place.own_folder = true;
    return place;
}

SocketPlace socket_place() {
    return socket_place(std::getenv("XDG_RUNTIME_DIR"), "/tmp");
}

std::string socket_path() {
    return socket_place().path;
}

Listener::OpenResult Listener::fail(OpenResult result, const std::string& path) {
    close();
    m_failed_path = path;
    return result;
}

Listener::OpenResult Listener::open(const SocketPlace& place, int& error) {
    close();
    error = 0;
    m_failed_path.clear();
    const std::string& path = place.path;
    auto failed = [&](int e, const std::string& about) {
        error = e;
        return fail(OpenResult::Failed, about);
    };
    if (place.own_folder) {
        // Made private; one that was there already must be private too, or it is not used.
        if (::mkdir(place.folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return failed(errno, place.folder);
        }
        if (!is_private_folder(place.folder)) {
            return fail(OpenResult::UnsafeFolder, place.folder);
        }
    }
    sockaddr_un address{};
    if (!make_address(path, address)) {
        return failed(ENAMETOOLONG, path);
    }
    // The lock is held for as long as this server owns the socket; the system drops it when the
    // process dies, so a socket file without a locked lock file is stale.
    const std::string lock_path = path + ".lock";
    m_lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lock_fd < 0) {
        if (errno == ELOOP) {
            return fail(OpenResult::InTheWay, lock_path);  // a symbolic link
        }
        return failed(errno, lock_path);
    }
    struct stat lock_stat {};
    if (::fstat(m_lock_fd, &lock_stat) != 0) {
        return failed(errno, lock_path);
    }
    if (!S_ISREG(lock_stat.st_mode)) {
        return fail(OpenResult::InTheWay, lock_path);
    }
    if (lock_stat.st_uid != ::getuid()) {
        return failed(EACCES, lock_path);
    }
    if (::flock(m_lock_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return fail(OpenResult::Busy, path);
        }
        return failed(errno, lock_path);
    }
    // With the lock held, a socket at the path that refuses connections was left by a server
    // that died. Whatever else is there is someone's and stays.
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            return fail(OpenResult::InTheWay, path);
        }
        if (!is_stale_socket(address)) {
            return fail(OpenResult::Listening, path);
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return failed(errno, path);
        }
    } else if (errno != ENOENT) {
        return failed(errno, path);
    }
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        return failed(errno, path);
    }
    // The socket is made under a temporary name and moved into place once it listens, so a
    // client never finds a socket file that refuses connections.
    std::string temporary;
    int bound = -1;
    int bind_error = 0;
    for (int attempt = 0; attempt < 16 && bound != 0; ++attempt) {
        temporary = temporary_name(path, attempt);
        sockaddr_un temporary_address{};
        if (!make_address(temporary, temporary_address)) {
            return failed(ENAMETOOLONG, path);
        }
        // Only the owner may connect: the socket is created without group or other permissions.
        const mode_t old_mask = ::umask(0077);
        bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&temporary_address),
                       sizeof temporary_address);
        bind_error = errno;
        ::umask(old_mask);
        if (bound != 0 && bind_error != EADDRINUSE) {
            break;
        }
    }
    if (bound != 0) {
        return failed(bind_error, path);
    }
    struct stat made {};
    if (::lstat(temporary.c_str(), &made) != 0 || ::chmod(temporary.c_str(), 0600) != 0 ||
        ::listen(m_fd, 1) != 0 || !move_without_replacing(temporary, path)) {
        const int e = errno;
        ::unlink(temporary.c_str());
        if (e == EEXIST) {
            return fail(OpenResult::InTheWay, path);  // something came while the socket was made
        }
        return failed(e, path);
    }
    m_path = path;
    m_device = made.st_dev;
    m_inode = made.st_ino;
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
            remove_socket_file();
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
    remove_socket_file();
    if (m_lock_fd >= 0) {
        ::close(m_lock_fd);  // releases the lock
        m_lock_fd = -1;
    }
}

void Listener::remove_socket_file() {
    if (m_path.empty()) {
        return;
    }
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode) {
        ::unlink(m_path.c_str());
    }
    m_path.clear();
}

ConnectResult connect_to_server(Channel& out, int& error) {
    error = 0;
    const std::string path = socket_path();
    sockaddr_un address{};
    if (!make_address(path, address)) {
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
        const std::string lock_path = path + ".lock";
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
