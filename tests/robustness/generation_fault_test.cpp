#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/staged_files.h"
#include "base/text.h"
#include "output/generation.h"
#include "robustness_support.h"
#include "script/script.h"
#include "test_support.h"

// A generation run over the complete output of an earlier one, made to fail or killed at many
// points: the earlier authoring script is afterwards byte for byte as it was, or (only when the
// run was killed while putting its files in place) absent; never shorter, never naming bitmaps
// of another run. No bitmap is ever left truncated under its own name, and what a killed run
// left behind is removed by the next one.
namespace tessara {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // name -> bytes

// Every regular file of the folder; `leftovers` counts our staging folders and temporary files.
Files snapshot(const fs::path& dir, int* leftovers = nullptr) {
    Files files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".tessara-", 0) == 0 || name.find(".tessara-") != std::string::npos) {
            if (leftovers != nullptr) {
                ++*leftovers;
            }
            continue;
        }
        if (entry.is_regular_file()) {
            files[name] = test::read_file(entry.path());
        }
    }
    return files;
}

void restore(const fs::path& dir, const Files& files) {
    for (const auto& entry : fs::directory_iterator(dir)) {
        fs::remove_all(entry.path());
    }
    for (const auto& [name, bytes] : files) {
        test::write_file(dir / name, bytes);
    }
}

// The disk fills at the N-th write call (0: never) while the object lives; it counts the calls.
int g_calls = 0;
int g_fail_at = 0;
base::FileIoCalls g_system{};

ssize_t fill_up(int fd, const void* data, size_t size) {
    if (++g_calls == g_fail_at) {
        errno = ENOSPC;
        return -1;
    }
    return g_system.write(fd, data, size);
}

class FillingDisk {
  public:
    explicit FillingDisk(int fail_at) {
        g_calls = 0;
        g_fail_at = fail_at;
        g_system = base::set_file_io_calls_for_testing({fill_up, ::fsync});
    }
    ~FillingDisk() { base::set_file_io_calls_for_testing(g_system); }
    FillingDisk(const FillingDisk&) = delete;
    FillingDisk& operator=(const FillingDisk&) = delete;
};

class GenerationFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        out = dir.path() / "out";
        fs::create_directory(out);
        ASSERT_TRUE(load(old_script, "Second line"));
        ASSERT_TRUE(load(new_script, "A longer second line"));
        ASSERT_TRUE(generate(old_script));
        old_files = snapshot(out);
        ASSERT_TRUE(generate(new_script));
        new_files = snapshot(out);
        ASSERT_NE(old_files.at("film.son"), new_files.at("film.son"));
        restore(out, old_files);
    }

    bool load(script::Script& script, const std::string& last_text) {
        std::string text = test::small_script_text("ImgType=bmp8;Expected=7");
        text.replace(text.find("Second line"), 11, last_text);
        if (!test::load_text(script, text, (dir.path() / "film.ssa").string())) {
            return false;
        }
        script.settings.output_file = base::utf8_to_utf16((out / "film.son").string());
        return true;
    }

    bool generate(script::Script& script, base::Messages* messages = nullptr) {
        base::SilentMessages silent;
        output::GenerationSummary summary;
        output::GenerationOptions options;
        options.clock = [] { return std::tm{}; };
        return output::run_generation(script, options, messages ? *messages : silent, summary);
    }

    test::TempDir dir;
    fs::path out;
    script::Script old_script;
    script::Script new_script;
    Files old_files;
    Files new_files;
};

TEST_F(GenerationFaults, ADiskThatFillsPartWayKeepsTheEarlierOutput) {
    // How many write calls a whole run makes.
    int needed = 0;
    {
        FillingDisk disk(0);
        EXPECT_TRUE(generate(new_script));
        needed = g_calls;
    }
    restore(out, old_files);
    ASSERT_GT(needed, 3);
    for (int n = 1; n <= needed; ++n) {
        SCOPED_TRACE("the disk fills at write " + std::to_string(n));
        base::RecordingMessages messages;
        bool ok = true;
        {
            FillingDisk disk(n);
            ok = generate(new_script, &messages);
        }
        ASSERT_FALSE(ok);
        ASSERT_FALSE(messages.texts().empty());
        int leftovers = 0;
        ASSERT_EQ(snapshot(out, &leftovers), old_files);
        ASSERT_EQ(leftovers, 0);
    }
}

TEST_F(GenerationFaults, AFileThatCannotBeReplacedPutsEverythingBack) {
    // A folder where the third bitmap goes: found only while the files are put in place, after
    // the first two bitmaps and the palette file have been replaced.
    const std::string third = "film_0003.bmp";
    ASSERT_TRUE(old_files.count(third));
    fs::remove(out / third);
    fs::create_directory(out / third);
    Files before = old_files;
    before.erase(third);

    base::RecordingMessages messages;
    EXPECT_FALSE(generate(new_script, &messages));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{output::kBitmapSaveErrorText,
                                                          base::system_error_text(EISDIR)}));
    int leftovers = 0;
    EXPECT_EQ(snapshot(out, &leftovers), before);
    EXPECT_EQ(leftovers, 0);
    EXPECT_TRUE(fs::is_directory(out / third));
}

// SIGKILL at moments spread over a whole run.
TEST_F(GenerationFaults, KilledRunsLeaveTheOldOrTheNewOutputAndAreCleanedUp) {
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(generate(new_script));
    const auto run_time = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - begin)
                              .count();
    std::mt19937 random(20261208);
    std::uniform_int_distribution<long> delay(0, run_time * 5 / 4);
    int saw_old = 0;
    int saw_new = 0;
    for (int attempt = 0; attempt < 24; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        restore(out, old_files);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            generate(new_script);
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);

        const Files now = snapshot(out);
        // Every file under its own name is complete: the old one or the new one.
        for (const auto& [name, bytes] : now) {
            const bool is_old = old_files.count(name) && old_files.at(name) == bytes;
            const bool is_new = new_files.count(name) && new_files.at(name) == bytes;
            ASSERT_TRUE(is_old || is_new) << name << " is neither the old nor the new file";
        }
        // The script never names bitmaps of another run.
        if (now.count("film.son")) {
            const Files& set =
                now.at("film.son") == old_files.at("film.son") ? old_files : new_files;
            (set == old_files ? saw_old : saw_new)++;
            for (const auto& [name, bytes] : set) {
                ASSERT_TRUE(now.count(name)) << name << " is missing";
                ASSERT_EQ(now.at(name), bytes) << name << " belongs to the other run";
            }
        }
    }
    EXPECT_GT(saw_old, 0);

    // A later run removes what the killed one left and writes the new output.
    ASSERT_TRUE(generate(new_script));
    int leftovers = 0;
    EXPECT_EQ(snapshot(out, &leftovers), new_files);
    EXPECT_EQ(leftovers, 0);
}

// Only our own leftovers, only when nobody holds them and only when older than the run.
TEST(Leftovers, OnlyAbandonedFilesOfOurOwnAreRemoved) {
    test::TempDir dir;
    auto make = [&](const std::string& name) {
        test::write_file(dir.file(name), "x");
        return dir.file(name);
    };
    const fs::path abandoned = make(".film.ssa.tessara-Ab12Cd");
    const fs::path probe = make(".tessara-probe-Zz9yX8");
    const fs::path held = make(".other.son.tessara-Qq1Ww2");
    const fs::path user_file = make("film.tessara-notes");
    const fs::path similar = make(".film.ssa.tessara-toolongname");
    base::StagedFiles live;
    int error = 0;
    ASSERT_TRUE(live.open(dir.path().string() + "/", error));
    fs::create_directory(dir.file(".tessara-run-dead00"));
    test::write_file(dir.file(".tessara-run-dead00/new-film_0001.bmp"), "partial");

    // A writer that still has its file open and locked.
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    // Nothing is older than a run that started an hour ago.
    base::remove_leftovers(dir.path().string(),
                           std::chrono::system_clock::now() - std::chrono::hours(1));
    EXPECT_TRUE(fs::exists(abandoned));

    base::remove_leftovers(dir.path().string(),
                           std::chrono::system_clock::now() + std::chrono::seconds(1));
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_FALSE(fs::exists(probe));
    EXPECT_FALSE(fs::exists(dir.file(".tessara-run-dead00")));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(user_file));
    EXPECT_TRUE(fs::exists(similar));
    int staging = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        staging += entry.path().filename().string().rfind(".tessara-run-", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(staging, 1);  // the live one
    ::close(fd);
}

}  // namespace
}  // namespace tessara
