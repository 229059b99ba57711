#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>

#include "base/messages.h"
#include "base/progress.h"
#include "media/latest_request.h"
#include "media/movie.h"
#include "test_support.h"

namespace tessara::media {
namespace {

constexpr int kFrames = 100;
constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Frame n of the test clips is one flat grey level, different from its neighbours'.
int level_of(int n) {
    return (n * 37) % 200 + 30;
}

bool have_ffmpeg() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

// Encodes the grey frames as MPEG-2 in a program stream: B-frames, groups of 12 left open.
// With `cuts`, every change of level starts a new group, as a scene cut does, so every
// reference picture is a key frame with B-frames shown before it.
bool make_clip(const std::filesystem::path& folder, const std::string& name, bool cuts) {
    const auto raw = folder / "frames.gray";
    {
        std::ofstream out(raw, std::ios::binary);
        for (int n = 0; n < kFrames; ++n) {
            out << std::string(kWidth * kHeight, static_cast<char>(level_of(n)));
        }
    }
    const std::string command =
        "ffmpeg -v error -y -f rawvideo -pix_fmt gray -s " + std::to_string(kWidth) + "x" +
        std::to_string(kHeight) + " -r 25 -i '" + raw.string() +
        "' -c:v mpeg2video -bf 2 -g 12 -flags -cgop -q:v 2 " +
        (cuts ? "" : "-sc_threshold 1000000000 ") + "'" + (folder / name).string() + "'";
    return std::system(command.c_str()) == 0;
}

class MovieClips : public ::testing::TestWithParam<bool> {
  protected:
    static void SetUpTestSuite() {
        if (!have_ffmpeg()) {
            return;
        }
        s_dir = std::make_unique<test::TempDir>();
        s_made = make_clip(s_dir->path(), "gop.mpg", false) &&
                 make_clip(s_dir->path(), "cuts.mpg", true);
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override {
        if (!have_ffmpeg()) {
            GTEST_SKIP() << "the ffmpeg command is not installed; the movie tests make their "
                            "clips with it";
        }
        ASSERT_TRUE(s_made) << "ffmpeg could not make the test clips";
        base::NullProgress progress;
        base::RecordingMessages messages;
        const auto clip = s_dir->file(GetParam() ? "cuts.mpg" : "gop.mpg");
        ASSERT_TRUE(m_movie.open(clip.string(), progress, messages));
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_EQ(progress.position(), progress.high());
    }

    // The level of frame n as delivered, checking on the way that the frame is whole, opaque
    // grey and flat.
    int level(int n) {
        auto f = m_movie.frame(n);
        if (!f) {
            ADD_FAILURE() << "frame " << n << " not delivered";
            return -1;
        }
        EXPECT_EQ(f->width, kWidth);
        EXPECT_EQ(f->height, kHeight);
        EXPECT_EQ(f->pixels.size(), static_cast<size_t>(kWidth * kHeight));
        const uint32_t p = f->pixels[kWidth * (kHeight / 2) + kWidth / 2];
        const uint32_t corner = f->pixels.front();
        EXPECT_EQ(p >> 24, 0xFFu);
        const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        EXPECT_LE(std::abs(r - g) + std::abs(g - b), 4) << "frame " << n;
        EXPECT_LE(std::abs(static_cast<int>(corner & 0xFF) - b), 4) << "frame " << n;
        return g;
    }

    void expect_frames(const std::vector<int>& order) {
        for (int n : order) {
            EXPECT_NEAR(level(n), level_of(n), 4) << "frame " << n;
        }
    }

    Movie m_movie;
    static inline std::unique_ptr<test::TempDir> s_dir;
    static inline bool s_made = false;
};

TEST_P(MovieClips, EveryFrameIsExactForwardsBackwardsAndInAnyOrder) {
    EXPECT_EQ(m_movie.frame_count(), kFrames);
    EXPECT_EQ(m_movie.width(), kWidth);
    EXPECT_EQ(m_movie.height(), kHeight);
    EXPECT_EQ(m_movie.frame_rate(), (FrameRate{25, 1}));

    std::vector<int> forwards(kFrames);
    std::iota(forwards.begin(), forwards.end(), 0);
    std::vector<int> backwards(forwards.rbegin(), forwards.rend());
    std::vector<int> shuffled = forwards;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));

    // The clips hold the grey levels in video range: stretched back, they are the levels made.
    m_movie.set_do_levels(true);
    // Without a cache every frame is reached by a seek (or by decoding on).
    m_movie.set_cache_budget(0);
    expect_frames(backwards);
    expect_frames(shuffled);
    expect_frames(forwards);
    EXPECT_EQ(m_movie.cache_bytes(), 0u);

    // With one, frames come from it as well, and it keeps to its budget.
    const size_t frame_bytes = kWidth * kHeight * 4;
    m_movie.set_cache_budget(10 * frame_bytes);
    expect_frames(shuffled);
    expect_frames(backwards);
    EXPECT_LE(m_movie.cache_bytes(), 10 * frame_bytes);
    EXPECT_GT(m_movie.cache_bytes(), 0u);

    EXPECT_EQ(m_movie.frame(-1), nullptr);
    EXPECT_EQ(m_movie.frame(kFrames), nullptr);
}

TEST_P(MovieClips, LevelsStretchVideoRangeToFullRange) {
    // ffmpeg stores grey level v as luma 16 + v * 219 / 255: frame 5 (215) as 201, frame 0 (30)
    // as 42. Plain, the luma is shown as it is; with levels, stretched back to the grey made.
    EXPECT_NEAR(level(5), 201, 3);
    EXPECT_NEAR(level(0), 42, 3);
    m_movie.set_do_levels(true);
    EXPECT_NEAR(level(5), 215, 3);
    EXPECT_NEAR(level(0), 30, 3);
    m_movie.set_do_levels(false);
    EXPECT_NEAR(level(5), 201, 3);
}

INSTANTIATE_TEST_SUITE_P(Mpeg2, MovieClips, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Cuts" : "Groups"; });

TEST(Movie, WhatIsNoMovieIsReportedAndLeavesItClosed) {
    test::TempDir dir;
    std::vector<std::string> files = {(dir.path() / "missing.mpg").string()};
    test::write_file(dir.file("text.mpg"),
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi\n");
    files.push_back(dir.file("text.mpg").string());
    if (have_ffmpeg()) {
        const auto wav = dir.file("sound.wav").string();
        ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i sine=d=0.2 '" + wav + "'").c_str()),
                  0);
        files.push_back(wav);
    }
    for (const std::string& file : files) {
        Movie movie;
        base::NullProgress progress;
        base::RecordingMessages messages;
        EXPECT_FALSE(movie.open(file, progress, messages)) << file;
        EXPECT_EQ(messages.texts(), std::vector<std::string>{"Error loading background movie"})
            << file;
        EXPECT_FALSE(movie.is_open());
        EXPECT_EQ(movie.frame_count(), 0);
        EXPECT_EQ(movie.frame(0), nullptr);
    }
}

TEST(Movie, CancellingTheIndexSaysNothingAndOpensNothing) {
    if (!have_ffmpeg()) {
        GTEST_SKIP() << "the ffmpeg command is not installed; the movie tests make their clips "
                        "with it";
    }
    test::TempDir dir;
    ASSERT_TRUE(make_clip(dir.path(), "clip.mpg", false));
    Movie movie;
    base::NullProgress progress;
    progress.cancel_after(0);
    base::RecordingMessages messages;
    EXPECT_FALSE(movie.open(dir.file("clip.mpg").string(), progress, messages));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_FALSE(movie.is_open());
}

TEST(LatestFrameRequest, KeepsOnlyTheNewestAndCloseWakesTheDecoder) {
    LatestFrameRequest requests;
    requests.post(3);
    requests.post(9);
    EXPECT_EQ(requests.try_take(), 9);
    EXPECT_EQ(requests.try_take(), std::nullopt);

    std::optional<int64_t> got;
    std::thread decoder([&] { got = requests.take(); });
    requests.post(42);
    decoder.join();
    EXPECT_EQ(got, 42);

    std::optional<int64_t> after_close = 0;
    std::thread waiting([&] { after_close = requests.take(); });
    requests.close();
    waiting.join();
    EXPECT_EQ(after_close, std::nullopt);
    requests.post(5);
    EXPECT_EQ(requests.try_take(), std::nullopt);
}

}  // namespace
}  // namespace tessara::media
