#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

// The Linux ends of the channel: the Unix-domain socket, and the loopback listener. Included
// through link/transport.h.
namespace tessara::link {

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

// The program's end of the loopback link: a TCP socket bound to 127.0.0.1 only, on a port the
// system picks, and the file "Tessara-plugin.loopback" beside where the socket would be (mode
// 0600) that names the port and a fresh random secret. It shares the socket's lock, so only one
// server of either kind runs at a time. A client that does not send the secret within two seconds
// is dropped and reported; the next one is waited for.
class LoopbackListener {
  public:
    using OpenResult = Listener::OpenResult;
    // Told about every connection that is dropped, with the reason.
    using RefusalLog = std::function<void(const std::string&)>;

    LoopbackListener() = default;
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    ~LoopbackListener() { close(); }

    // Listens and writes the file. A loopback file left by a server that died is replaced;
    // anything else at that path is left alone (InTheWay).
    OpenResult open(const SocketPlace& place, int& error);
    OpenResult open(int& error) { return open(socket_place(), error); }
    const std::string& failed_path() const { return m_failed_path; }
    const std::string& file_path() const { return m_file_path; }
    uint16_t port() const { return m_port; }
    void set_refusal_log(RefusalLog log) { m_refusal_log = std::move(log); }

    // Waits for one client that sends the secret. The listening socket and the file go once it
    // is accepted.
    IoStatus accept(Channel& out, const SliceCallback& slice, int& error);
    // Removes the file (when it is still ours) and releases the lock; safe to call twice.
    void close();

  private:
    OpenResult fail(OpenResult result, const std::string& path);
    void remove_file();
    void refuse(const std::string& peer, const std::string& reason);

    int m_fd = -1;
    int m_lock_fd = -1;
    uint16_t m_port = 0;
    std::string m_secret;
    std::string m_file_path;
    std::string m_failed_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    RefusalLog m_refusal_log;
};

}  // namespace tessara::link
