#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "filter_host.h"
#include "link/loopback.h"
#include "link/transport.h"
#include "link_fixtures.h"
#include "plugin/preview_link_client.h"

namespace tessara::link_test {
namespace {

namespace fs = std::filesystem;

// `tessara feed` in a child process, its output in files.
class FeedProcess : public ChildProcess {
  public:
    FeedProcess(const test::TempDir& dir, const std::vector<std::string>& args)
        : ChildProcess(feed_args(args), dir.file("feed.out"), dir.file("feed.err")) {}

  private:
    static std::vector<std::string> feed_args(const std::vector<std::string>& args) {
        std::vector<std::string> all = {TESSARA_CLI, "feed"};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
};

// Waits until the program listens for the plug-in.
bool wait_for_server() {
    for (int i = 0; i < 1000; ++i) {
        if (fs::exists(link::socket_path())) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class FeedCommand : public LoadedPlugin {
  protected:
    // The program may take a while to build the subpictures on a busy machine.
    FeedCommand() : LoadedPlugin(20000) {}
    void SetUp() override {
        LoadedPlugin::SetUp();
        test::write_file(script, three_subtitles());
    }

    test::TempDir dir;
    fs::path script = dir.file("three.ssa");
};

using Intervals = std::vector<std::pair<int32_t, int32_t>>;

TEST_F(FeedCommand, FeedsThePlugInAndExitsWithTheResult) {
    FeedProcess feed(dir, {script.string(), "--offset", "00:00:00:05", "--quiet"});
    ASSERT_TRUE(wait_for_server());
    // Without --loopback nothing is offered on TCP.
    EXPECT_FALSE(fs::exists(folder.path() / "Tessara-plugin.loopback"));
    EXPECT_EQ(host.start(40000), 0);
    EXPECT_EQ(feed.wait(), 0) << feed.err();
    EXPECT_EQ(cached(), (Intervals{{20, 44}, {70, 94}, {120, 144}}));
    const std::string out = feed.out();
    EXPECT_NE(out.find("Feeding 3 total subtitles (3 new, 0 deleted)"), std::string::npos);
    EXPECT_NE(out.find("First SMPTE frame in VirtualDub: 00:00:00:05"), std::string::npos);
    EXPECT_NE(out.find("Data sent to the plugin."), std::string::npos) << out;
    EXPECT_TRUE(plugin_messages.messages().empty());

    // A plug-in that refuses the transfer makes the command fail.
    FeedProcess refused(dir, {script.string(), "--quiet"});
    ASSERT_TRUE(wait_for_server());
    EXPECT_EQ(host.start(33367), 1);
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_NE(refused.err().find("The plug-in ended the transfer."), std::string::npos)
        << refused.err();
}

TEST_F(FeedCommand, LoopbackFeedsThePlugInAndWarnsAboutAWrongSecret) {
    FeedProcess feed(dir, {script.string(), "--loopback", "--quiet"});
    const fs::path file = folder.path() / "Tessara-plugin.loopback";
    for (int i = 0; i < 1000 && !fs::exists(file); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(file));
    EXPECT_FALSE(fs::exists(link::socket_path()));
    // Someone else on this machine knocks with a guess first.
    const auto address = link::parse_loopback_file(test::read_file(file));
    ASSERT_TRUE(address);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(address->port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string guess(link::kSecretSize, '7');
    ASSERT_EQ(::send(fd, guess.data(), guess.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(guess.size()));
    std::array<char, 1> answer{};
    EXPECT_EQ(::recv(fd, answer.data(), answer.size(), 0), 0);  // dropped without a word
    ::close(fd);

    EXPECT_EQ(host.start(40000), 0);
    EXPECT_EQ(feed.wait(), 0) << feed.err();
    EXPECT_EQ(cached(), (Intervals{{25, 49}, {75, 99}, {125, 149}}));
    EXPECT_NE(feed.err().find("warning: Dropped a loopback connection from 127.0.0.1:"),
              std::string::npos)
        << feed.err();
    EXPECT_NE(feed.err().find(": wrong secret"), std::string::npos);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(FeedCommand, WatchFeedsAgainWithOnlyTheChangesWhenTheScriptIsSaved) {
    FeedProcess feed(dir, {script.string(), "--watch", "--quiet"});
    ASSERT_TRUE(wait_for_server());
    ASSERT_EQ(host.start(40000), 0);
    EXPECT_EQ(cached(), (Intervals{{25, 49}, {75, 99}, {125, 149}}));

    // Give the watcher time to settle on the first version, then move the second subtitle.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string text = three_subtitles();
    const std::string from = "0:00:03.00,0:00:04.00";
    text.replace(text.find(from), from.size(), "0:00:03.20,0:00:04.20");
    test::write_file(script, text);
    ASSERT_TRUE(wait_for_server());
    ASSERT_EQ(host.start(40000), 0);
    EXPECT_EQ(cached(), (Intervals{{25, 49}, {80, 104}, {125, 149}}));

    feed.interrupt();
    EXPECT_EQ(feed.wait(), 0);
    const std::string out = feed.out();
    EXPECT_NE(out.find("Feeding 3 total subtitles (1 new, 1 deleted)"), std::string::npos) << out;
    EXPECT_TRUE(plugin_messages.messages().empty());
}

TEST_F(FeedCommand, NamesTheSocketPathItCannotUseAndLeavesWhatIsThere) {
    const std::string path = link::socket_path();
    test::write_file(path, "keep");
    FeedProcess blocked(dir, {script.string(), "--quiet"});
    EXPECT_EQ(blocked.wait(), 1);
    EXPECT_NE(blocked.err().find("error: " + path + ": Cannot create named pipe: "),
              std::string::npos)
        << blocked.err();
    EXPECT_EQ(test::read_file(path), "keep");
}

TEST_F(FeedCommand, RefusesBadArguments) {
    EXPECT_EQ(FeedProcess(dir, {}).wait(), 2);
    FeedProcess bad(dir, {script.string(), "--offset", "00:00:10.00"});
    EXPECT_EQ(bad.wait(), 2);
    EXPECT_NE(bad.err().find("Invalid SMPTE value"), std::string::npos);
    EXPECT_EQ(FeedProcess(dir, {script.string(), "--bogus"}).wait(), 2);
    EXPECT_EQ(FeedProcess(dir, {dir.file("missing.ssa").string()}).wait(), 1);
}

}  // namespace
}  // namespace tessara::link_test
