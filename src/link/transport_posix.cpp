#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "link/loopback.h"
#include "link/transport.h"

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

// A connected stream socket (Unix-domain or TCP): non-blocking calls, each wait one slice.
class FdBackend final : public ChannelBackend {
  public:
    explicit FdBackend(int fd) : m_fd(fd) {}
    FdBackend(const FdBackend&) = delete;
    FdBackend& operator=(const FdBackend&) = delete;
    ~FdBackend() override { ::close(m_fd); }

    IoStatus write_all(std::span<const uint8_t> bytes, const SliceCallback& slice, int& error,
                       bool stop_on_reply) override;
    IoStatus read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error) override;
    bool has_input() const override;

  private:
    int m_fd;
};

IoStatus FdBackend::write_all(std::span<const uint8_t> bytes, const SliceCallback& slice,
                              int& error, bool stop_on_reply) {
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

IoStatus FdBackend::read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error) {
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

bool FdBackend::has_input() const {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

}  // namespace

Channel::Channel(int fd) {
    if (fd >= 0) {
        m_backend = std::make_unique<FdBackend>(fd);
    }
}

IoStatus Channel::write_all(std::span<const uint8_t> bytes, const SliceCallback& slice, int& error,
                            bool stop_on_reply) {
    error = 0;
    if (!m_backend) {
        error = EBADF;
        return IoStatus::Failed;
    }
    return m_backend->write_all(bytes, slice, error, stop_on_reply);
}

IoStatus Channel::read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error) {
    error = 0;
    if (!m_backend) {
        error = EBADF;
        return IoStatus::Failed;
    }
    return m_backend->read_exact(bytes, slice, error);
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

// Makes the program's own folder (private) when that is the place, and checks that it is.
Listener::OpenResult prepare_folder(const SocketPlace& place, int& error) {
    if (!place.own_folder) {
        return Listener::OpenResult::Ok;
    }
    // Made private; one that was there already must be private too, or it is not used.
    if (::mkdir(place.folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = errno;
        return Listener::OpenResult::Failed;
    }
    return is_private_folder(place.folder) ? Listener::OpenResult::Ok
                                           : Listener::OpenResult::UnsafeFolder;
}

// The server's lock beside the socket, held for as long as the server runs; the system drops it
// when the process dies, so a socket (or loopback file) without a locked lock file is stale.
// Busy when another server holds it.
Listener::OpenResult take_lock(const std::string& lock_path, int& lock_fd, int& error) {
    lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_fd < 0) {
        if (errno == ELOOP) {
            return Listener::OpenResult::InTheWay;  // a symbolic link
        }
        error = errno;
        return Listener::OpenResult::Failed;
    }
    struct stat lock_stat {};
    if (::fstat(lock_fd, &lock_stat) != 0) {
        error = errno;
        return Listener::OpenResult::Failed;
    }
    if (!S_ISREG(lock_stat.st_mode)) {
        return Listener::OpenResult::InTheWay;
    }
    if (lock_stat.st_uid != ::getuid()) {
        error = EACCES;
        return Listener::OpenResult::Failed;
    }
    if (::flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return Listener::OpenResult::Busy;
        }
        error = errno;
        return Listener::OpenResult::Failed;
    }
    return Listener::OpenResult::Ok;
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
    if (const auto ready = prepare_folder(place, error); ready != OpenResult::Ok) {
        return fail(ready, place.folder);
    }
    sockaddr_un address{};
    if (!make_address(path, address)) {
        return failed(ENAMETOOLONG, path);
    }
    const std::string lock_path = path + ".lock";
    if (const auto locked = take_lock(lock_path, m_lock_fd, error); locked != OpenResult::Ok) {
        return fail(locked, locked == OpenResult::Busy ? path : lock_path);
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

namespace {

ConnectResult connect_socket(Channel& out, int& error) {
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

}  // namespace

ConnectResult connect_to_server(Channel& out, int& error) {
    const ConnectResult result = connect_socket(out, error);
    // No socket to connect to: perhaps a server waits on the loopback link (it holds the same
    // lock, so the socket alone looks busy).
    if (result == ConnectResult::NoServer || (result == ConnectResult::Failed && error == EBUSY)) {
        const int socket_error = error;
        const ConnectResult loopback = connect_loopback(loopback_file_path(), out, error);
        if (loopback != ConnectResult::NoServer) {
            return loopback;
        }
        error = socket_error;
    }
    return result;
}

namespace {

std::string hex_secret() {
    uint8_t random[kSecretSize / 2];
    size_t got = 0;
    while (got < sizeof random) {
        const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return {};
        }
        got += static_cast<size_t>(n);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : random) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string peer_name(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ':' + std::to_string(ntohs(address.sin_port));
}

sockaddr_in loopback_address(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

LoopbackListener::OpenResult LoopbackListener::fail(OpenResult result, const std::string& path) {
    close();
    m_failed_path = path;
    return result;
}

LoopbackListener::OpenResult LoopbackListener::open(const SocketPlace& place, int& error) {
    close();
    error = 0;
    m_failed_path.clear();
    const std::string file = place.folder + '/' + std::string(kLoopbackFileName);
    auto failed = [&](int e, const std::string& about) {
        error = e;
        return fail(OpenResult::Failed, about);
    };
    if (const auto ready = prepare_folder(place, error); ready != OpenResult::Ok) {
        return fail(ready, place.folder);
    }
    const std::string lock_path = place.path + ".lock";
    if (const auto locked = take_lock(lock_path, m_lock_fd, error); locked != OpenResult::Ok) {
        return fail(locked, locked == OpenResult::Busy ? place.path : lock_path);
    }
    // With the lock held, a loopback file of this user's was left by a server that died.
    struct stat existing {};
    if (::lstat(file.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode) || existing.st_uid != ::getuid()) {
            return fail(OpenResult::InTheWay, file);
        }
    } else if (errno != ENOENT) {
        return failed(errno, file);
    }

    m_secret = hex_secret();
    if (m_secret.size() != kSecretSize) {
        return failed(errno != 0 ? errno : EIO, file);
    }
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        return failed(errno, file);
    }
    // 127.0.0.1 only: nothing from another machine can even reach the port.
    sockaddr_in address = loopback_address(0);
    socklen_t size = sizeof address;
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_fd, 4) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return failed(errno, file);
    }
    m_port = ntohs(address.sin_port);

    // Written under a name of this process's own with mode 0600 and moved into place whole, so
    // a client never reads half a file and nobody else ever can read it.
    const std::string temporary = file + '.' + std::to_string(::getpid());
    const std::string text = format_loopback_file({m_port, m_secret});
    ::unlink(temporary.c_str());
    const int out =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) {
        return failed(errno, temporary);
    }
    const bool written =
        ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int write_error = errno;
    struct stat made {};
    const bool stated = ::fstat(out, &made) == 0;
    if (::close(out) != 0 || !written || !stated ||
        ::rename(temporary.c_str(), file.c_str()) != 0) {
        const int e = written ? errno : write_error;
        ::unlink(temporary.c_str());
        return failed(e != 0 ? e : EIO, file);
    }
    m_file_path = file;
    m_device = made.st_dev;
    m_inode = made.st_ino;
    return OpenResult::Ok;
}

void LoopbackListener::refuse(const std::string& peer, const std::string& reason) {
    if (m_refusal_log) {
        m_refusal_log("Dropped a loopback connection from " + peer + ": " + reason);
    }
}

IoStatus LoopbackListener::accept(Channel& out, const SliceCallback& slice, int& error) {
    error = 0;
    if (m_fd < 0) {
        error = EBADF;
        return IoStatus::Failed;
    }
    for (;;) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(m_fd, reinterpret_cast<sockaddr*>(&peer), &size,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == ECONNABORTED) {
                continue;
            }
            if (auto end = wait_again(m_fd, POLLIN, slice, error)) {
                return *end;
            }
            continue;
        }
        Channel candidate(fd);
        // The secret comes first, and soon; waiting for it still answers the caller's slices.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kSecretWaitMs);
        bool stopped = false;
        auto secret_slice = [&] {
            if (!slice()) {
                stopped = true;
                return false;
            }
            return std::chrono::steady_clock::now() < deadline;
        };
        std::string secret(kSecretSize, '\0');
        int read_error = 0;
        const IoStatus got = candidate.read_exact(
            std::span(reinterpret_cast<uint8_t*>(secret.data()), secret.size()), secret_slice,
            read_error);
        if (stopped) {
            return IoStatus::Stopped;
        }
        if (got != IoStatus::Done) {
            refuse(peer_name(peer), "no secret");
            continue;
        }
        if (!same_secret(secret, m_secret)) {
            refuse(peer_name(peer), "wrong secret");
            continue;
        }
        out = std::move(candidate);
        // One client at a time: later clients find no server.
        ::close(m_fd);
        m_fd = -1;
        remove_file();
        return IoStatus::Done;
    }
}

void LoopbackListener::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    remove_file();
    if (m_lock_fd >= 0) {
        ::close(m_lock_fd);
        m_lock_fd = -1;
    }
    m_secret.clear();
    m_port = 0;
}

void LoopbackListener::remove_file() {
    if (m_file_path.empty()) {
        return;
    }
    struct stat st {};
    if (::lstat(m_file_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode) {
        ::unlink(m_file_path.c_str());
    }
    m_file_path.clear();
}

std::string loopback_file_path() {
    if (const char* given = std::getenv(kLoopbackFileVariable); given != nullptr && *given) {
        return given;
    }
    return socket_place().folder + '/' + std::string(kLoopbackFileName);
}

ConnectResult connect_loopback(const std::string& file_path, Channel& out, int& error) {
    error = 0;
    const int in = ::open(file_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        if (errno == ENOENT) {
            return ConnectResult::NoServer;
        }
        error = errno;
        return ConnectResult::Failed;
    }
    // Only a file of this user's that nobody else can read is the server's: anyone may have made
    // the program's own folder in /tmp before it ran.
    struct stat st {};
    if (::fstat(in, &st) != 0 || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        ::close(in);
        error = EACCES;
        return ConnectResult::Failed;
    }
    char text[128];
    const ssize_t size = ::read(in, text, sizeof text);
    ::close(in);
    if (size < 0) {
        error = errno;
        return ConnectResult::Failed;
    }
    const auto address = parse_loopback_file(std::string_view(text, static_cast<size_t>(size)));
    if (!address) {
        error = EINVAL;
        return ConnectResult::Failed;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return ConnectResult::Failed;
    }
    const sockaddr_in to = loopback_address(address->port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == ECONNREFUSED) {
            return ConnectResult::NoServer;  // the file of a server that died
        }
        error = e;
        return ConnectResult::Failed;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    Channel channel(fd);
    const auto forever = [] { return true; };
    const auto sent = channel.write_all(
        std::span(reinterpret_cast<const uint8_t*>(address->secret.data()), kSecretSize), forever,
        error);
    if (sent != IoStatus::Done) {
        return ConnectResult::Failed;
    }
    out = std::move(channel);
    return ConnectResult::Connected;
}

}  // namespace tessara::link
