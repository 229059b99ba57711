#include <benchmark/benchmark.h>

#include <cstdint>

#include "script/timecode.h"

namespace tessara::script {
namespace {

TimingSettings make_timing(int32_t rate, bool drop) {
    TimingSettings t;
    t.fps_in_text = u"29.97";
    t.fps_out_text = u"29.97";
    t.rate_in = rate;
    t.rate_out = rate;
    t.drop_frame = drop;
    return t;
}

// Plain script times (hundredths) to frames at 29.97, as every event start and end goes.
void BM_PlainToFrame(benchmark::State& state) {
    const TimingSettings timing = make_timing(29970, false);
    ScriptTime t;
    for (auto _ : state) {
        t.value = (t.value + 137) % 36000000;
        benchmark::DoNotOptimize(frame_time_from_script_time(t, timing));
    }
}
BENCHMARK(BM_PlainToFrame);

// Drop-frame SMPTE labels to frames: one table lookup per label.
void BM_SmpteDropToFrame(benchmark::State& state) {
    const TimingSettings timing = make_timing(29970, true);
    DropFrameTables::get();  // keep the one-time build out of the measurement
    ScriptTime t{0, true};
    int32_t seconds = 0;
    for (auto _ : state) {
        seconds = (seconds + 7) % 360000;
        t.value = seconds * 100 + seconds % 30;
        benchmark::DoNotOptimize(frame_time_from_script_time(t, timing));
    }
}
BENCHMARK(BM_SmpteDropToFrame);

// Frames to SMPTE text, drop (arg 1) and non-drop (arg 0).
void BM_FrameToSmpte(benchmark::State& state) {
    FrameTime ft{0, 29970, state.range(0) != 0};
    DropFrameTables::get();
    for (auto _ : state) {
        ft.frame = (ft.frame + 1001) % 10000000;
        benchmark::DoNotOptimize(format_smpte(ft));
    }
}
BENCHMARK(BM_FrameToSmpte)->Arg(0)->Arg(1);

}  // namespace
}  // namespace tessara::script
