// A generation run measures every subtitle first and draws it later: measuring with
// refuse_undrawable must give the geometry (and the messages) that drawing gives.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/messages.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "render/text_layout.h"
#include "script/script.h"
#include "script/ssa_reader.h"

namespace tessara::render {
namespace {

std::string one_event(const std::string& text) {
    return "[Script Info]\r\nPlayResY: 480\r\n[V4 Styles]\r\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
           "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, "
           "MarginR, MarginV, AlphaLevel, Encoding\r\n"
           "Style: Default,DejaVu Sans,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0\r\n"
           "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
           "Effect, Text\r\n"
           "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0000,0000,0000,," +
           text + "\r\n";
}

struct Laid {
    RenderedSubtitle sub;
    base::RecordingMessages messages;
};

std::unique_ptr<Laid> lay_out(const std::string& text, bool bitmaps, bool refuse) {
    script::Script script;
    base::RecordingMessages reading;
    EXPECT_TRUE(script::read_script_bytes(script, one_event(text), u"t.ssa", {}, reading));
    auto& ev = *script.events().front();
    for (auto& run : ev.runs) {
        run.text_class = 2;
        run.antialias_class = 0;
        run.outline_class = 1;
    }
    static auto engine = make_system_font_engine();
    FontCache fonts(*engine);
    LayoutSettings settings = LayoutSettings::from_script(script);
    settings.generate_bitmaps = bitmaps;
    settings.refuse_undrawable = refuse;
    auto out = std::make_unique<Laid>();
    layout_subtitle(ev, settings, fonts, out->messages, out->sub);
    return out;
}

void expect_same_geometry(const RenderedSubtitle& a, const RenderedSubtitle& b) {
    ASSERT_EQ(a.segments.size(), b.segments.size());
    EXPECT_EQ(a.box_width, b.box_width);
    EXPECT_EQ(a.box_height, b.box_height);
    for (size_t i = 0; i < a.segments.size(); ++i) {
        EXPECT_EQ(a.segments[i].x, b.segments[i].x) << i;
        EXPECT_EQ(a.segments[i].y, b.segments[i].y) << i;
        EXPECT_EQ(a.segments[i].width, b.segments[i].width) << i;
        EXPECT_EQ(a.segments[i].height, b.segments[i].height) << i;
    }
}

TEST(MeasureThenDraw, MeasuringGivesTheGeometryOfDrawing) {
    const std::string text = "The {\\i1}lamp{\\i0} burns\\Nall {\\fs28}night";
    auto drawn = lay_out(text, true, false);
    auto measured = lay_out(text, false, true);
    expect_same_geometry(drawn->sub, measured->sub);
    EXPECT_FALSE(drawn->sub.segments[0].classes.empty());
    EXPECT_TRUE(measured->sub.segments[0].classes.empty());
    EXPECT_TRUE(measured->messages.messages().empty());
}

TEST(MeasureThenDraw, ARunTooLargeToDrawIsRefusedWhenMeasuringForDrawing) {
    // About 27,000 x 3,100 pixels: beyond what one run may draw.
    const std::string text = "small {\\fs2000}WWWWWWWWWWWW{\\fs20} end";
    auto drawn = lay_out(text, true, false);
    auto measured = lay_out(text, false, true);
    auto plain = lay_out(text, false, false);
    ASSERT_EQ(drawn->sub.segments.size(), 2u);
    expect_same_geometry(drawn->sub, measured->sub);
    EXPECT_EQ(measured->messages.texts(), drawn->messages.texts());
    EXPECT_EQ(measured->messages.texts(), std::vector<std::string>{kCannotCreateBitmapText});
    // Measuring for nothing else keeps the run and says nothing.
    EXPECT_EQ(plain->sub.segments.size(), 3u);
    EXPECT_TRUE(plain->messages.messages().empty());
}

}  // namespace
}  // namespace tessara::render
