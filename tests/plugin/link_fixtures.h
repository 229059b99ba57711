#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/messages.h"
#include "filter_host.h"
#include "link/protocol.h"
#include "link/server.h"
#include "link/transport.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "script/script.h"
#include "test_support.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

// What the preview-link tests share: a private socket folder, a built script, a scripted feed
// dialog and a client that records the wire.
namespace tessara::link_test {

// A program run in a child process, its standard output and error in files. The destructor
// kills it when it is still running.
class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> args, std::filesystem::path out,
                 std::filesystem::path err);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Its exit status, -1 when it did not end normally.
    int wait();
    void interrupt();
    std::string out() const { return test::read_file(m_out); }
    std::string err() const { return test::read_file(m_err); }

  private:
    std::filesystem::path m_out;
    std::filesystem::path m_err;
    int m_pid = -1;
};

// Points the channel at a fresh folder for the test's lifetime (private, or it would not be
// used).
class SocketFolder {
  public:
    SocketFolder() {
        std::filesystem::permissions(m_dir.path(), std::filesystem::perms::owner_all);
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old != nullptr) {
            m_old = old;
        }
        ::setenv("XDG_RUNTIME_DIR", m_dir.path().c_str(), 1);
    }
    ~SocketFolder() {
        if (m_old) {
            ::setenv("XDG_RUNTIME_DIR", m_old->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
    }
    const std::filesystem::path& path() const { return m_dir.path(); }

  private:
    test::TempDir m_dir;
    std::optional<std::string> m_old;
};

// Three lone subtitles at 25 fps into 720 x 576, in three colours, each on its own frames:
// 25-49, 75-99 and 125-149.
std::string three_subtitles(const std::string& settings = "");

// A script read from text with its timeline built (renderings with pixels).
struct BuiltScript {
    explicit BuiltScript(const std::string& text);

    base::RecordingMessages messages;
    std::unique_ptr<render::FontEngine> engine;
    std::unique_ptr<render::FontCache> fonts;
    script::Script script;
    timeline::Timeline timeline;
    std::unique_ptr<timeline::BuildContext> context;

    // Moves timeline subtitle `index` to [start, stop) and rebuilds.
    void move(int32_t index, int32_t start, int32_t stop);
    const timeline::Subpicture* subpicture_at(int32_t frame) const;
};

// The feed dialog driven by the test: statuses are recorded, `on_waiting` runs once the server
// waits for its client, and polls answer from a queue (then None).
class TestDialog final : public link::FeedDialog {
  public:
    void show(std::string_view feeding_text, std::string_view offset, bool dont_check) override {
        feeding = feeding_text;
        shown_offset = offset;
        m_dont_check = m_dont_check || dont_check;
    }
    void show_offset(std::string_view offset) override { shown_offset = offset; }
    void set_status(std::string_view text) override {
        statuses.emplace_back(text);
        if (text == link::kWaitingText && on_waiting) {
            on_waiting();
        }
    }
    bool dont_check_fr() const override { return m_dont_check; }
    void set_dont_check(bool v) { m_dont_check = v; }
    void lock_settings() override { locked = true; }
    link::DialogRequest poll() override {
        ++polls;
        if (on_poll) {
            on_poll(polls);
        }
        if (!requests.empty()) {
            auto r = requests.front();
            requests.erase(requests.begin());
            return r;
        }
        return link::DialogRequest::None;
    }
    std::optional<std::string> ask_offset(std::string_view) override {
        if (typed_offsets.empty()) {
            return std::nullopt;
        }
        auto t = typed_offsets.front();
        typed_offsets.erase(typed_offsets.begin());
        return t;
    }

    std::string feeding;
    std::string shown_offset;
    std::vector<std::string> statuses;
    std::vector<link::DialogRequest> requests;
    std::vector<std::string> typed_offsets;
    std::function<void()> on_waiting;
    std::function<void(int)> on_poll;  // with the number of polls so far
    bool locked = false;
    int polls = 0;

  private:
    bool m_dont_check = false;
};

// One request as a client received it.
struct WireMessage {
    link::LinkHeader header;
    std::vector<uint8_t> first;
    std::vector<uint8_t> second;
};

// A client that records every request and answers like a well-behaved plug-in: 2 to the
// SessionInfo of a session it has not seen, 1 to everything else. `answer` may replace a
// status (return nothing to close the connection instead of answering).
class WireClient {
  public:
    using Answer =
        std::function<std::optional<link::LinkReply>(const WireMessage&, link::LinkReply)>;

    // Connects and serves one transfer on its own thread.
    void start();
    void join();

    std::vector<WireMessage> received;
    Answer answer;
    // Answers AddPicture with status 3 as soon as its first payload is read, leaving the picture
    // unread (a plug-in giving up half way).
    bool abort_before_picture = false;
    int32_t known_session = 0;
    bool connected = false;

  private:
    void run();
    std::thread m_thread;
};

// The commands of the recorded requests, in order.
std::vector<int32_t> commands_of(const std::vector<WireMessage>& messages);

// A test with the built module loaded into the stand-in host, its messages recorded, and one
// filter instance set up for 720 x 576 frames in a private socket folder.
class LoadedPlugin : public testing::Test {
  protected:
    explicit LoadedPlugin(int64_t wait_limit_ms = 5000) : m_wait_limit_ms(wait_limit_ms) {}
    void SetUp() override;
    void TearDown() override;

    // The frame intervals the filter instance holds pictures for, in order.
    std::vector<std::pair<int32_t, int32_t>> cached() const;

    SocketFolder folder;
    base::RecordingMessages plugin_messages;
    plugin_test::FilterHost host;

  private:
    int64_t m_wait_limit_ms;
};

}  // namespace tessara::link_test
