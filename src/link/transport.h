#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// The local channel the preview link runs over: a Unix-domain stream socket named
// "Tessara-plugin" in a folder only its user may enter ($XDG_RUNTIME_DIR, or the program's own
// /tmp/Tessara-UID), readable and writable by its owner only. Messages keep their boundaries
// through the header's lengths: the reader always knows how many bytes the next record holds. Every
// wait is cut into 100 ms slices; after each slice without progress the caller's callback decides
// whether to go on waiting.
namespace tessara::link {

inline constexpr int kWaitSliceMs = 100;

// Called after every 100 ms a wait made no progress: true to keep waiting.
using SliceCallback = std::function<bool()>;

enum class IoStatus {
    Done,
    Stopped,     // the callback ended the wait
    Failed,      // a system error (its errno is returned beside the status)
    Closed,      // the peer went away before the record was complete
    ReplyFirst,  // a write stopped because the peer had already answered
};

// One connected end. Closing it (or destroying it) closes the socket. Writes never raise SIGPIPE:
// a vanished peer is a failure of the write.
class Channel {
  public:
    Channel() = default;
    explicit Channel(int fd) : m_fd(fd) {}
    Channel(Channel&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Channel& operator=(Channel&& other) noexcept;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    ~Channel() { close(); }

    bool is_open() const { return m_fd >= 0; }
    void close();

    // Writes every byte. With stop_on_reply, the write ends with ReplyFirst as soon as the peer
    // has sent something to read, whatever is left unwritten.
    IoStatus write_all(std::span<const uint8_t> bytes, const SliceCallback& slice, int& error,
                       bool stop_on_reply = false);
    // Reads exactly bytes.size() bytes.
    IoStatus read_exact(std::span<uint8_t> bytes, const SliceCallback& slice, int& error);
    // Whether the peer has sent bytes (or closed) that have not been read yet.
    bool has_input() const;

  private:
    int m_fd = -1;
};

// Where the server's socket lives. Both ends work it out the same way.
struct SocketPlace {
    std::string folder;
    std::string path;  // "Tessara-plugin" in the folder
    // The program's own folder, which the server makes when it is missing, rather than
    // $XDG_RUNTIME_DIR.
    bool own_folder = false;
    // $XDG_RUNTIME_DIR when it was set but refused.
    std::string refused_runtime_dir;
};

// $XDG_RUNTIME_DIR serves only when it is an absolute path to a folder (not a symbolic link)
// that belongs to this user and gives no permissions to anyone else. Otherwise the socket goes
// into the program's own folder, Tessara-UID in `temporary_root`. `runtime_dir` is the
// variable's value, nullptr when it is unset.
SocketPlace socket_place(const char* runtime_dir, const std::string& temporary_root);
// From the environment, with /tmp as the temporary root.
SocketPlace socket_place();
std::string socket_path();

// The server's end of the channel: one socket file, one client at a time. A lock held beside the
// socket tells a live server from a stale socket file left by one that died. Nothing but a stale
// socket is ever removed to make room.
class Listener {
  public:
    enum class OpenResult {
        Ok,
        Busy,          // another server holds the lock
        InTheWay,      // something that is not a stale socket (or not a lock file) is there
        Listening,     // a socket someone listens on without the lock: another program's
        UnsafeFolder,  // the program's own folder is not a private folder of this user's
        Failed,        // a system error; its errno is returned beside the result
    };

    Listener() = default;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener() { close(); }

    // Creates the socket (mode 0600) at the place, making the program's own folder (mode 0700)
    // when that is the place and it is missing. A stale socket file is replaced; anything else
    // is left alone.
    OpenResult open(const SocketPlace& place, int& error);
    OpenResult open(int& error) { return open(socket_place(), error); }
    // The file or folder the last open that did not succeed was about.
    const std::string& failed_path() const { return m_failed_path; }
    // Waits for one client of this user. The socket stops taking clients once one is accepted.
    IoStatus accept(Channel& out, const SliceCallback& slice, int& error);
    // Removes the socket file and releases the lock; safe to call twice.
    void close();

  private:
    OpenResult fail(OpenResult result, const std::string& path);
    // Removes the socket file when it is still the one this listener made.
    void remove_socket_file();

    int m_fd = -1;
    int m_lock_fd = -1;
    std::string m_path;
    std::string m_failed_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

// The client's way in. NoServer when no server is running (no socket file, or a stale one);
// Failed with EBUSY when a server is running but already serves another client.
enum class ConnectResult { Connected, NoServer, Failed };
ConnectResult connect_to_server(Channel& out, int& error);

}  // namespace tessara::link
