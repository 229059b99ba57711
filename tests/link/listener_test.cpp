#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "link/transport.h"
#include "test_support.h"

namespace tessara::link {
namespace {

namespace fs = std::filesystem;

// A socket bound at `path`, listening or (closed at once) left stale; the listening one's fd.
int plain_socket(const fs::path& path, bool listening) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    if (!listening) {
        ::close(fd);
        return -1;
    }
    EXPECT_EQ(::listen(fd, 1), 0);
    return fd;
}

// $XDG_RUNTIME_DIR pointed at a fresh private folder; `root` stands in for /tmp.
class SocketPath : public testing::Test {
  protected:
    SocketPath() {
        fs::permissions(runtime.path(), fs::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    }
    ~SocketPath() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    test::TempDir runtime;
    test::TempDir root;
    const fs::path path = runtime.file("Tessara-plugin");
    Listener listener;
    int error = 0;
};

TEST_F(SocketPath, OnlyAStaleSocketIsReplacedAndWhateverElseIsThereIsLeftAlone) {
    ASSERT_EQ(socket_path(), path.string());
    // A file where the socket would first be made, before it is moved into place.
    const fs::path taken = runtime.file("Tessara-plugin." + std::to_string(::getpid()) + ".0");
    test::write_file(taken, "notes");
    test::write_file(path, "a file with content");
    EXPECT_EQ(listener.open(error), Listener::OpenResult::InTheWay);
    EXPECT_EQ(listener.failed_path(), path.string());
    EXPECT_EQ(test::read_file(path), "a file with content");

    fs::remove(path);
    fs::create_symlink(taken, path);
    EXPECT_EQ(listener.open(error), Listener::OpenResult::InTheWay);
    EXPECT_TRUE(fs::is_symlink(path));

    // Another program listening there without the lock keeps its socket and its clients.
    fs::remove(path);
    const int foreign = plain_socket(path, true);
    EXPECT_EQ(listener.open(error), Listener::OpenResult::Listening);
    Channel client;
    EXPECT_EQ(connect_to_server(client, error), ConnectResult::Connected);
    const int accepted = ::accept(foreign, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    ::close(accepted);
    ::close(foreign);

    // Now nobody listens on it and nobody holds the lock: it is stale and replaced.
    ASSERT_TRUE(fs::is_socket(path));
    ASSERT_EQ(listener.open(error), Listener::OpenResult::Ok);
    EXPECT_EQ(connect_to_server(client, error), ConnectResult::Connected);
    listener.close();
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_EQ(test::read_file(taken), "notes");
    // No temporary name left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(runtime.path()), fs::directory_iterator()), 2);
}

TEST_F(SocketPath, ARuntimeFolderOthersMayEnterIsNotUsed) {
    const fs::path own = root.path() / ("Tessara-" + std::to_string(::getuid()));
    for (auto mode : {fs::perms::owner_all | fs::perms::group_exec, fs::perms::all}) {
        fs::permissions(runtime.path(), mode);
        const SocketPlace place = socket_place(runtime.path().c_str(), root.path());
        EXPECT_TRUE(place.own_folder);
        EXPECT_EQ(place.path, (own / "Tessara-plugin").string());
        EXPECT_EQ(place.refused_runtime_dir, runtime.path().string());
    }
    fs::permissions(runtime.path(), fs::perms::owner_all);
    fs::create_directory_symlink(runtime.path(), root.file("link"));
    EXPECT_TRUE(socket_place(root.file("link").c_str(), root.path()).own_folder);
    EXPECT_FALSE(socket_place(runtime.path().c_str(), root.path()).own_folder);

    // The program's own folder is made private and holds the socket.
    ASSERT_EQ(listener.open(socket_place(nullptr, root.path()), error), Listener::OpenResult::Ok);
    EXPECT_EQ(fs::status(own).permissions(), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_socket(own / "Tessara-plugin"));
    listener.close();

    // Once it is not private, or not this user's, it is refused and nothing goes into it.
    fs::remove_all(own);
    fs::create_directory(own);
    fs::permissions(own, fs::perms::owner_all | fs::perms::others_exec);
    EXPECT_EQ(listener.open(socket_place(nullptr, root.path()), error),
              Listener::OpenResult::UnsafeFolder);
    EXPECT_EQ(listener.failed_path(), own.string());
    fs::permissions(own, fs::perms::owner_all);
    if (::chown(own.c_str(), ::getuid() + 1, ::getgid()) == 0) {
        EXPECT_EQ(listener.open(socket_place(nullptr, root.path()), error),
                  Listener::OpenResult::UnsafeFolder);
    }
    EXPECT_TRUE(fs::is_empty(own));
}

}  // namespace
}  // namespace tessara::link
