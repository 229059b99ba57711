#include <benchmark/benchmark.h>

#include "base/messages.h"
#include "bench_script.h"
#include "link/protocol.h"
#include "link/server.h"
#include "render/font_cache.h"
#include "render/subpicture_canvas.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace {

using namespace tessara;

// What a complete first feed costs the program for the generated 2,000-event script besides
// the socket: composing every subpicture and building its picture, then reading each picture
// back as the plug-in checks it.
void BM_BuildPreviewPictures(benchmark::State& state) {
    script::Script s;
    base::SilentMessages messages;
    script::read_script_bytes(s, bench::make_bench_script(2000), u"bench.ssa",
                              script::ReadOptions{}, messages);
    script::validate_timing(s.settings.timing, false, nullptr, true);
    auto engine = render::make_system_font_engine();
    render::FontCache fonts(*engine);
    timeline::Timeline tl;
    tl.fill(s, messages);
    timeline::build_subpictures(tl, false);
    timeline::BuildContext context(s, fonts, messages);
    if (!timeline::BuildAll(tl, context)) {
        state.SkipWithError("BuildAll failed");
        return;
    }
    render::SubpictureCanvas canvas(s.settings.res_x, s.settings.res_y - s.settings.minus2);
    int64_t pictures = 0;
    int64_t bytes = 0;
    std::vector<uint8_t> picture;
    for (auto _ : state) {
        for (const auto& sp : tl.subpictures()) {
            if (sp->members.empty()) {
                continue;
            }
            link::subpicture_picture(*sp, s.settings, canvas, picture);
            auto reader = link::PictureReader::open(picture);
            benchmark::DoNotOptimize(reader);
            ++pictures;
            bytes += static_cast<int64_t>(picture.size());
        }
    }
    state.counters["pictures/s"] =
        benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
    state.counters["bytes/picture"] =
        static_cast<double>(bytes) / static_cast<double>(std::max<int64_t>(pictures, 1));
}
BENCHMARK(BM_BuildPreviewPictures)->Unit(benchmark::kMillisecond);

}  // namespace
