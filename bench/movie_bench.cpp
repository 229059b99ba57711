#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>

#include "base/messages.h"
#include "base/progress.h"
#include "media/movie.h"

namespace tessara::media {
namespace {

constexpr int kClipFrames = 750;  // 30 s at 25 frames/s

// A PAL-sized MPEG-2 program stream as DVDs carry them (B-frames, open groups of 15), made once
// by the ffmpeg command into a temporary folder that goes when the program ends.
struct Clip {
    std::filesystem::path folder;
    std::unique_ptr<Movie> movie;
    double index_seconds = 0;
    std::string error;

    Clip() {
        if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
            error = "the ffmpeg command is not installed; it makes the clip";
            return;
        }
        folder = std::filesystem::temp_directory_path() /
                 ("tessara-movie-bench-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder);
        const auto path = (folder / "clip.mpg").string();
        const std::string command =
            "ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v " +
            std::to_string(kClipFrames) +
            " -pix_fmt yuv420p -c:v mpeg2video -b:v 6M -maxrate 8M -bufsize 1835k -bf 2 -g 15 "
            "-f vob '" +
            path + "'";
        if (std::system(command.c_str()) != 0) {
            error = "ffmpeg could not make the clip";
            return;
        }
        movie = std::make_unique<Movie>();
        base::NullProgress progress;
        base::SilentMessages messages;
        const auto start = std::chrono::steady_clock::now();
        if (!movie->open(path, progress, messages)) {
            error = "the clip did not open";
            movie.reset();
        }
        index_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    ~Clip() {
        std::error_code ignored;
        if (!folder.empty()) {
            std::filesystem::remove_all(folder, ignored);
        }
    }
};

Clip& clip() {
    static Clip c;
    return c;
}

// A random frame, as a jump of the preview's slider: a seek and the decoding up to the frame.
// The cache is off, so every jump pays in full.
void BM_MovieRandomFrame(benchmark::State& state) {
    Clip& c = clip();
    if (!c.movie) {
        state.SkipWithError(c.error.c_str());
        return;
    }
    c.movie->set_cache_budget(0);
    std::mt19937 random(11);
    std::uniform_int_distribution<int64_t> pick(0, c.movie->frame_count() - 1);
    for (auto _ : state) {
        auto f = c.movie->frame(pick(random));
        if (!f) {
            state.SkipWithError("a frame was not delivered");
            return;
        }
        benchmark::DoNotOptimize(f->pixels.data());
    }
    state.counters["index_s"] = c.index_seconds;
    state.counters["frames"] = static_cast<double>(c.movie->frame_count());
}
BENCHMARK(BM_MovieRandomFrame)->Unit(benchmark::kMillisecond);

// The next frame, as stepping through the film one frame at a time: decoding on, no seek.
void BM_MovieNextFrame(benchmark::State& state) {
    Clip& c = clip();
    if (!c.movie) {
        state.SkipWithError(c.error.c_str());
        return;
    }
    c.movie->set_cache_budget(64u << 20);
    int64_t n = 0;
    for (auto _ : state) {
        auto f = c.movie->frame(n);
        if (!f) {
            state.SkipWithError("a frame was not delivered");
            return;
        }
        benchmark::DoNotOptimize(f->pixels.data());
        n = (n + 1) % c.movie->frame_count();
    }
}
BENCHMARK(BM_MovieNextFrame)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessara::media
