#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "base/messages.h"
#include "bench_script.h"
#include "imaging/bitmap_writer.h"
#include "imaging/image_types.h"
#include "render/font_cache.h"
#include "render/subpicture_canvas.h"
#include "render/text_layout.h"
#include "script/script.h"
#include "script/ssa_reader.h"

namespace {

using namespace tessara;

// The generated 2,000-event script, loaded once, with the one-text, one-anti-alias,
// one-outline classes on every run.
script::Script& bench_script() {
    static script::Script s;
    static bool loaded = false;
    if (!loaded) {
        base::SilentMessages messages;
        script::read_script_bytes(s, bench::make_bench_script(2000), u"bench.ssa",
                                  script::ReadOptions{}, messages);
        for (const auto& ev : s.events()) {
            for (auto& run : ev->runs) {
                run.text_class = 2;
                run.antialias_class = 0;
                run.outline_class = 1;
            }
        }
        loaded = true;
    }
    return s;
}

// Lays out and rasterises every event; fonts are created on the first pass and reused.
void BM_RenderEvents(benchmark::State& state) {
    script::Script& s = bench_script();
    auto engine = render::make_system_font_engine();
    render::FontCache fonts(*engine);
    render::LayoutSettings settings = render::LayoutSettings::from_script(s);
    base::SilentMessages messages;
    int64_t runs = 0;
    for (auto _ : state) {
        for (const auto& ev : s.events()) {
            render::RenderedSubtitle sub;
            render::layout_subtitle(*ev, settings, fonts, messages, sub);
            runs += static_cast<int64_t>(sub.segments.size());
            benchmark::DoNotOptimize(sub.box_width);
        }
    }
    state.counters["subtitles/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * s.events().size()), benchmark::Counter::kIsRate);
    state.counters["runs/s"] =
        benchmark::Counter(static_cast<double>(runs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderEvents)->Unit(benchmark::kMillisecond);

// Writes 1,000 bitmaps of one type (the argument is the image type id) from a canvas holding
// a two-line subtitle.
void BM_WriteBitmaps(benchmark::State& state) {
    const int32_t type = static_cast<int32_t>(state.range(0));
    script::Script& s = bench_script();
    auto engine = render::make_system_font_engine();
    render::FontCache fonts(*engine);
    render::LayoutSettings settings = render::LayoutSettings::from_script(s);
    base::SilentMessages messages;
    render::RenderedSubtitle sub;
    render::layout_subtitle(*s.events()[1], settings, fonts, messages, sub);
    render::SubpictureCanvas canvas(720, 576);
    for (const auto& seg : sub.segments) {
        canvas.compose(seg.classes, seg.width, seg.height, 100 + seg.x, 450 + seg.y, seg.tab, true);
    }
    const auto dir = std::filesystem::temp_directory_path() / "tessara-bench-bitmaps";
    std::filesystem::create_directories(dir);
    const imaging::ClassColours colours = {0x0000FF, 0x000000, 0xFFFFFF, 0x7F7F7F};
    render::ExtentOptions options;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            const std::string path = (dir / ("b" + std::to_string(i) + "." +
                                             std::string(imaging::image_type_extension(type))))
                                         .string();
            render::Rect extent;
            if (!imaging::write_bitmap(canvas, path, options, colours, type,
                                       imaging::kDefaultPaletteOrder, extent, messages)) {
                state.SkipWithError("a bitmap could not be written");
                break;
            }
        }
    }
    std::filesystem::remove_all(dir);
    state.SetLabel(std::string(imaging::image_type_key(type)));
}
BENCHMARK(BM_WriteBitmaps)->DenseRange(0, 9)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
