#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "base/messages.h"
#include "robustness_support.h"
#include "script/ssa_writer.h"
#include "test_support.h"

// A process saving the script is killed at random moments: whenever it dies, the file on disk is
// the old version or the new one, complete, and loads.
namespace tessara {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A script of some hundred kilobytes, so that a save takes long enough to be interrupted in
// the middle of writing as well as around the rename.
std::string large_script(const std::string& text) {
    std::string s = test::small_script_text();
    for (int i = 0; i < 2000; ++i) {
        const int start = 1000 + i * 3;
        auto time = [](int hundredths) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%d:%02d:%02d.%02d", hundredths / 360000,
                          hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
            return std::string(buf);
        };
        s += "Dialogue: Marked=0," + time(start * 100) + "," + time(start * 100 + 150) +
             ",Default,,0,0,0,," + text + " " + std::to_string(i) + "\r\n";
    }
    return s;
}

[[noreturn]] void save_forever(script::Script& a, script::Script& b, const std::string& path) {
    base::SilentMessages silent;
    for (;;) {
        script::save_script(a, path, silent);
        script::save_script(b, path, silent);
    }
}

TEST(SaveCrash, KilledSavesLeaveTheOldOrTheNewFile) {
    test::TempDir dir;
    const std::string path = dir.file("film.ssa").string();
    script::Script a;
    script::Script b;
    ASSERT_TRUE(test::load_text(a, large_script("The old version of the line"), path));
    ASSERT_TRUE(test::load_text(b, large_script("A new version, of another length"), path));
    base::RecordingMessages messages;
    const auto old_bytes = script::serialize_script(a, messages);
    const auto new_bytes = script::serialize_script(b, messages);
    ASSERT_TRUE(old_bytes && new_bytes);
    ASSERT_GT(old_bytes->size(), 100000u);

    // How long one save takes here, to spread the kills over a few saves.
    const auto t0 = Clock::now();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(script::save_script(a, path, messages));
    }
    const auto per_save = (Clock::now() - t0) / 5;
    const auto window = std::chrono::duration_cast<std::chrono::microseconds>(3 * per_save);
    ASSERT_EQ(test::read_file(path), *old_bytes);

    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int64_t> delay(0, std::max<int64_t>(window.count(), 200));
    int saw_old = 0;
    int saw_new = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(8);
    int kills = 0;
    for (; kills < 200 && Clock::now() < deadline; ++kills) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            save_forever(a, b, path);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string now = test::read_file(path);
        if (now == *old_bytes) {
            ++saw_old;
        } else if (now == *new_bytes) {
            ++saw_new;
        } else {
            FAIL() << "after kill " << kills << " the file is neither version (" << now.size()
                   << " bytes)";
        }
        // A kill between creating the temporary file and the rename leaves that file; it is
        // never the script itself. All but the last round's are cleared here, so that every
        // round's saves take the same time; the last one is left for the save below.
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            if (entry.path() != fs::path(path)) {
                ASSERT_EQ(entry.path().filename().string().rfind(".film.ssa.tessara-", 0), 0u)
                    << entry.path();
                if (kills + 1 < 200 && Clock::now() < deadline) {
                    fs::remove(entry.path());
                }
            }
        }
    }
    EXPECT_GE(kills, 100);
    // Both outcomes occur, so the kills did land during saves.
    EXPECT_GT(saw_old, 0);
    EXPECT_GT(saw_new, 0);

    // One more save leaves nothing of the killed ones behind.
    ASSERT_TRUE(script::save_script(b, path, messages));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    script::Script reloaded;
    EXPECT_TRUE(test::load_text(reloaded, test::read_file(path), path));
    EXPECT_EQ(reloaded.events().size(), 2003u);
}

}  // namespace
}  // namespace tessara
