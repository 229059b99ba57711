#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "document/feed_source.h"
#include "link/server.h"
#include "script/timecode.h"

namespace tessara::cli {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void on_interrupt(int) {
    g_interrupted = true;
}

// Ctrl-C cancels the transfer (and ends watching) instead of killing the program mid-message.
class InterruptGuard {
  public:
    InterruptGuard() {
        g_interrupted = false;
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_old_int);
        sigaction(SIGTERM, &action, &m_old_term);
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &m_old_int, nullptr);
        sigaction(SIGTERM, &m_old_term, nullptr);
    }

  private:
    struct sigaction m_old_int {};
    struct sigaction m_old_term {};
};

// The feed dialog on a terminal: texts are printed as they change; Ctrl-C is the Cancel button.
// The offset and the frame-rate check box come from the command line.
class TerminalFeedDialog final : public link::FeedDialog {
  public:
    explicit TerminalFeedDialog(bool dont_check_fr) : m_dont_check_fr(dont_check_fr) {}

    void show(std::string_view feeding_text, std::string_view offset, bool dont_check_fr) override {
        m_dont_check_fr = m_dont_check_fr || dont_check_fr;
        std::cout << feeding_text << "\nFirst SMPTE frame in VirtualDub: " << offset << '\n';
        if (m_dont_check_fr) {
            std::cout << "The frame rate match is not checked.\n";
        }
        std::cout.flush();
    }
    void show_offset(std::string_view offset) override {
        std::cout << "First SMPTE frame in VirtualDub: " << offset << std::endl;
    }
    void set_status(std::string_view text) override { std::cout << text << std::endl; }
    bool dont_check_fr() const override { return m_dont_check_fr; }
    void lock_settings() override {}
    link::DialogRequest poll() override {
        return g_interrupted ? link::DialogRequest::Cancel : link::DialogRequest::None;
    }
    std::optional<std::string> ask_offset(std::string_view) override { return std::nullopt; }

  private:
    bool m_dont_check_fr;
};

// What identifies a version of the script file on disk.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified_ns = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp stamp_of(const std::string& path) {
    struct stat st {};
    FileStamp s;
    if (::stat(path.c_str(), &st) == 0) {
        s.exists = true;
        s.device = st.st_dev;
        s.inode = st.st_ino;
        s.size = st.st_size;
        s.modified_ns = int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    }
    return s;
}

// Waits until the file looks different from `seen` (and has stayed so for a moment, so that a
// save in progress is not read half written). False when interrupted.
bool wait_for_change(const std::string& path, FileStamp& seen) {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (g_interrupted) {
            return false;
        }
        FileStamp now = stamp_of(path);
        if (now == seen || !now.exists) {
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (stamp_of(path) == now) {
            seen = now;
            return true;
        }
    }
}

}  // namespace

int run_feed(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string path;
    std::optional<std::string> offset;
    bool dont_check_fr = false;
    bool watch = false;
    bool loopback = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--offset") {
            if (i + 1 >= args.size())
                throw UsageError{"feed: --offset needs an SMPTE time HH:MM:SS:FF"};
            offset = args[++i];
            auto t = script::parse_script_time(base::utf8_to_utf16(*offset), true, true);
            if (!t || !t->time.smpte) {
                throw UsageError{"feed: Invalid SMPTE value '" + *offset +
                                 "' for --offset (HH:MM:SS:FF)"};
            }
        } else if (a == "--dont-check-fr") {
            dont_check_fr = true;
        } else if (a == "--watch") {
            watch = true;
        } else if (a == "--loopback") {
            loopback = true;
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{"feed: unknown option " + a};
        } else if (path.empty()) {
            path = a;
        } else {
            throw UsageError{"feed takes one SCRIPT"};
        }
    }
    if (path.empty()) {
        throw UsageError{"feed needs a SCRIPT"};
    }

    CliMessages messages(options.yes);
    InterruptGuard interrupts;
    FileStamp seen = stamp_of(path);
    document::FeedSource source({path, &preferences(), options.sets, offset});
    if (!source.load(messages)) {
        return kExitFailed;
    }
    link::PreviewLinkServer server(messages);
    server.set_loopback(loopback);
    TerminalFeedDialog dialog(dont_check_fr);
    // A transfer can end without a message of ours: cancelled, or refused by the plug-in
    // (which told its own user why). The terminal still says so.
    auto feed = [&] {
        const int errors = messages.errors();
        const bool ok =
            server.feed(source.build().timeline, source.document().script().settings, dialog);
        if (!ok && messages.errors() == errors) {
            std::cerr << (g_interrupted ? "Feed cancelled.\n"
                                        : "The plug-in ended the transfer.\n");
        }
        return ok;
    };
    bool succeeded = feed();
    if (!watch) {
        return succeeded ? kExitOk : kExitFailed;
    }
    while (!g_interrupted) {
        std::cout << "Watching " << path << " for changes (Ctrl-C to stop)..." << std::endl;
        if (!wait_for_change(path, seen)) {
            break;
        }
        if (!source.reload(messages)) {
            continue;  // reported; the next save is tried again
        }
        succeeded = feed();
    }
    return succeeded ? kExitOk : kExitFailed;
}

}  // namespace tessara::cli
