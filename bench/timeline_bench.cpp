#include <benchmark/benchmark.h>

#include "base/messages.h"
#include "bench_script.h"
#include "render/font_cache.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace {

using namespace tessara;

std::unique_ptr<script::Script> load(int events) {
    auto s = std::make_unique<script::Script>();
    base::SilentMessages messages;
    script::read_script_bytes(*s, bench::make_bench_script(events), u"bench.ssa",
                              script::ReadOptions{}, messages);
    script::validate_timing(s->settings.timing, false, nullptr, true);
    return s;
}

// Filling the timeline, cutting it into subpictures and completing them (colours, renderings,
// placement) for the generated 2,000-event script.
void BM_BuildAll(benchmark::State& state) {
    auto s = load(2000);
    auto engine = render::make_system_font_engine();
    render::FontCache fonts(*engine);
    base::SilentMessages messages;
    int64_t subpictures = 0;
    for (auto _ : state) {
        timeline::Timeline tl;
        tl.fill(*s, messages);
        timeline::build_subpictures(tl, false);
        timeline::BuildContext context(*s, fonts, messages);
        if (!timeline::BuildAll(tl, context)) {
            state.SkipWithError("BuildAll failed");
            break;
        }
        subpictures = static_cast<int64_t>(tl.subpictures().size());
    }
    state.counters["subpictures"] = static_cast<double>(subpictures);
    state.counters["subtitles/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * 2000), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildAll)->Unit(benchmark::kMillisecond);

// The preview's incremental rebuild after one subtitle's stop moved by a frame: only the
// subpictures around it are built again.
void BM_RebuildAfterRetime(benchmark::State& state) {
    auto s = load(2000);
    auto engine = render::make_system_font_engine();
    render::FontCache fonts(*engine);
    base::SilentMessages messages;
    timeline::Timeline tl;
    tl.fill(*s, messages);
    timeline::build_subpictures(tl, false);
    timeline::BuildContext context(*s, fonts, messages);
    timeline::BuildAll(tl, context);
    const int32_t index = 1000;
    int64_t before = context.renderings;
    int64_t rebuilds = 0;
    bool longer = true;
    for (auto _ : state) {
        const auto& sub = tl.subtitles()[index];
        script::FrameTime stop = sub.stop;
        stop += longer ? 1 : -1;
        longer = !longer;
        int32_t shown = -1;
        if (!tl.retime(index, sub.start, stop, *s, context, shown)) {
            state.SkipWithError("retime failed");
            break;
        }
        ++rebuilds;
    }
    state.counters["renderings/rebuild"] =
        rebuilds > 0
            ? static_cast<double>(context.renderings - before) / static_cast<double>(rebuilds)
            : 0.0;
}
BENCHMARK(BM_RebuildAfterRetime)->Unit(benchmark::kMillisecond);

}  // namespace
