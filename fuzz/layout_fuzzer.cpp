// Layout and rasterisation of arbitrary event text at 720x576 with DejaVu Sans. A few leading
// bytes choose the style and the layout settings; the rest is the event's text (one character
// per byte, read as an 8-bit script). Every rendered segment's class map must match its box and
// hold only the four pixel classes, and composing the segments onto the frame must keep every
// pixel and the bounding box inside the canvas.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/messages.h"
#include "fuzz_support.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "render/subpicture_canvas.h"
#include "render/text_layout.h"
#include "script/script.h"
#include "script/ssa_reader.h"

namespace {

using namespace tessara;

constexpr int32_t kWidth = 720;
constexpr int32_t kHeight = 576;
// Keeps each input quick: the text of an event is at most this long, and at most this many
// events (blink copies) are laid out.
constexpr size_t kMaxText = 4096;
constexpr size_t kMaxEvents = 3;
constexpr int32_t kMaxSize = 160;
// Fonts are cached per size, face and weight; the cache is emptied before it grows large.
constexpr size_t kMaxCachedFonts = 48;

render::FontCache& font_cache() {
    static std::unique_ptr<render::FontEngine> engine = render::make_system_font_engine();
    static render::FontCache cache(*engine);
    if (cache.size() > kMaxCachedFonts) {
        cache.clear();
    }
    return cache;
}

// A value for a number the script holds without a range: mostly small, sometimes anything.
int64_t any_number(fuzz::InputReader& in, int64_t small_range) {
    const uint8_t kind = in.byte();
    if ((kind & 3) != 0) {
        return static_cast<int8_t>(in.byte()) % small_range;
    }
    return static_cast<int32_t>(in.le32());
}

std::string script_text(fuzz::InputReader& in) {
    const int size = 1 + in.byte() % 96;
    const int bold = in.byte() & 1;
    const int italic = in.byte() & 1;
    const int outline = in.byte() % 6;
    const int alignment = 1 + in.byte() % 11;
    const uint8_t flags = in.byte();
    const int compatible = in.byte() & 0x107;
    const int char_spacing = static_cast<int8_t>(in.byte());
    const int line_spacing = in.byte() * 4;
    const int tab_width = 1 + in.byte() % 200;
    // Style extras and margins are read without a range.
    const int64_t italics_right = any_number(in, 101);
    const int64_t extra_space = any_number(in, 64);
    const int64_t style_line_spacing = any_number(in, 128) * 4;
    auto margin = [&in] { return std::min<int64_t>(std::abs(any_number(in, 100)), INT32_MAX); };
    const int64_t margin_l = margin();
    const int64_t margin_r = margin();
    const int64_t margin_v = margin();
    const int64_t event_margin = any_number(in, 100);

    std::string text(in.take(kMaxText));
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');

    auto n = [](int64_t v) { return std::to_string(v); };
    const std::string comment = "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,";
    std::string s = "[Script Info]\r\nPlayResY: 576\r\n[V4 Styles]\r\n";
    s += "Style: Default,DejaVu Sans," + n(size) + ",16777215,0,0,0," + n(bold) + "," + n(italic) +
         ",1," + n(outline) + ",0," + n(alignment) + "," + n(margin_l) + "," + n(margin_r) + "," +
         n(margin_v) + ",0,0\r\n[Events]\r\n";
    s += "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";
    s += comment + "TSRACONF: ResX=720;ResY=578;Minus2=2;Compatible=" + n(compatible) +
         ";CharSpacing=" + n(char_spacing) + ";LineSpacing=" + n(line_spacing) +
         ";TabWidth=" + n(tab_width) + ";BWWrap=" + n(flags & 1) +
         ";RightToLeft=" + n((flags >> 1) & 1) + ";ScaleScreen=" + n((flags >> 2) & 1) + "\r\n";
    s += comment + "TSRASTYLE: Default;ItalicsRight=" + n(italics_right) +
         ";ExtraSpace=" + n(extra_space) + ";LineSpacing=" + n(style_line_spacing) +
         ";FontFlags=" + n((flags & 8) ? 296 : 0) + "\r\n";
    s += "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0," + n(event_margin) + "," +
         n(event_margin / 2) + ",," + text + "\r\n";
    return s;
}

void check_segment(const render::RenderedSegment& seg) {
    FUZZ_CHECK(seg.width > 0 && seg.height > 0);
    if (seg.classes.empty()) {
        return;
    }
    FUZZ_CHECK(seg.classes.width() == seg.width && seg.classes.height() == seg.height);
    for (uint8_t c : seg.classes.data()) {
        FUZZ_CHECK(c <= render::kBackground);
    }
}

void compose_and_check(const render::RenderedSubtitle& sub) {
    render::SubpictureCanvas canvas(kWidth, kHeight);
    // The box where the placement would put a bottom-centred subtitle; far outside the frame
    // for boxes larger than it, which composing must clip. Margins are read without a range, so
    // this is worked out in 64 bits and each run's corner held to 32 bits, as the program
    // composes a placed subtitle.
    const int64_t x0 = (int64_t{kWidth} - sub.box_width) / 2;
    const int64_t y0 = int64_t{kHeight} - sub.margin_bottom - sub.box_height;
    auto at = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    size_t drawn = 0;
    for (const auto& seg : sub.segments) {
        check_segment(seg);
        canvas.compose(seg.classes, seg.width, seg.height, at(x0 + seg.x), at(y0 + seg.y), seg.tab,
                       true);
        if (!seg.tab) {
            drawn += static_cast<size_t>(std::count_if(seg.classes.data().begin(),
                                                       seg.classes.data().end(),
                                                       [](uint8_t c) { return c != 3; }));
        }
    }
    FUZZ_CHECK(canvas.width() == kWidth && canvas.height() == kHeight);
    size_t shown = 0;
    const auto& box = canvas.bounding_box();
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint8_t c = canvas.classes().at(x, y);
            FUZZ_CHECK(c <= render::kBackground);
            if (c != render::kBackground) {
                ++shown;
                FUZZ_CHECK(box && x >= box->left && x < box->right && y >= box->top &&
                           y < box->bottom);
            }
        }
    }
    FUZZ_CHECK(shown <= drawn);
    if (box) {
        FUZZ_CHECK(box->left >= 0 && box->top >= 0 && box->right <= kWidth &&
                   box->bottom <= kHeight && !box->empty());
    }
    for (bool minus_one : {false, true}) {
        render::ExtentOptions options;
        options.clip_minus_one_pixel = minus_one;
        const render::Rect extent = render::bitmap_extent(canvas, options);
        // Nothing composed gives the one-pixel bitmap; otherwise an even width.
        FUZZ_CHECK(box ? extent.width() % 2 == 0 : extent == (render::Rect{0, 0, 1, 1}));
        FUZZ_CHECK(extent.left >= 0 && extent.top >= 0 && extent.right <= kWidth + 1 &&
                   extent.bottom <= kHeight);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader in(data, size);
    const std::string bytes = script_text(in);
    script::Script script;
    base::SilentMessages messages;
    // The script around the text is well formed and its line short enough: it always loads.
    FUZZ_CHECK(
        script::read_script_bytes(script, bytes, u"layout.ssa", script::ReadOptions{}, messages));
    FUZZ_CHECK(script.output_width == kWidth && script.output_height == kHeight);
    const render::LayoutSettings settings = render::LayoutSettings::from_script(script);
    render::FontCache& fonts = font_cache();
    const size_t events = std::min(script.events().size(), kMaxEvents);
    for (size_t i = 0; i < events; ++i) {
        script::DialogueEvent& ev = *script.events()[i];
        // The classes a three-colour subpicture gives text, anti-aliasing and outline. Sizes are
        // held small: the largest ones cost seconds per input under the sanitizers, and their
        // limits are covered by the limit tests.
        for (auto& run : ev.runs) {
            run.text_class = 0;
            run.antialias_class = 1;
            run.outline_class = 2;
            if (run.override && run.override->font_size) {
                run.override->font_size = std::clamp(*run.override->font_size, -kMaxSize, kMaxSize);
            }
        }
        render::RenderedSubtitle sub;
        if (!render::layout_subtitle(ev, settings, fonts, messages, sub)) {
            continue;
        }
        FUZZ_CHECK(sub.box_width >= 0 && sub.box_height >= 0);
        compose_and_check(sub);
    }
    return 0;
}
