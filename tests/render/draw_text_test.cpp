#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "render/font_cache.h"
#include "render/text_layout.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

namespace tessara::render {
namespace {

// Scripts rendered with the DejaVu Sans the project installs, so results do not depend on the
// machine's other fonts.
std::string script_text(const std::string& style_line, const std::string& text,
                        const std::string& settings = "", const std::string& style_extras = "") {
    return "[Script Info]\r\nPlayResY: 480\r\n[V4 Styles]\r\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
           "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, "
           "MarginR, MarginV, AlphaLevel, Encoding\r\n" +
           style_line + "\r\n[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, " +
           "MarginR, MarginV, Effect, Text\r\n" +
           (settings.empty() ? std::string()
                             : "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,"
                               "TSRACONF: " +
                                   settings + "\r\n") +
           (style_extras.empty() ? std::string()
                                 : "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,"
                                   "TSRASTYLE: Default;" +
                                       style_extras + "\r\n") +
           "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0000,0000,0000,," + text + "\r\n";
}

const std::string kStyle20 =
    "Style: Default,DejaVu Sans,20,16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0";

struct Rendered {
    script::Script script;
    RenderedSubtitle sub;
    bool ok = false;
};

// Loads the script and lays out its first event with text class 2, anti-alias 0, outline 1
// (the one-text, one-anti-alias, one-outline colour mode).
std::unique_ptr<Rendered> render(const std::string& text, LayoutSettings* tweak = nullptr,
                                 uint8_t aa_class = 0, uint8_t outline_class = 1) {
    auto r = std::make_unique<Rendered>();
    base::RecordingMessages messages;
    EXPECT_TRUE(
        script::read_script_bytes(r->script, text, u"t.ssa", script::ReadOptions{}, messages));
    auto& ev = *r->script.events().front();
    for (auto& run : ev.runs) {
        run.text_class = 2;
        run.antialias_class = aa_class;
        run.outline_class = outline_class;
    }
    static auto engine = make_system_font_engine();
    FontCache fonts(*engine);
    LayoutSettings settings = LayoutSettings::from_script(r->script);
    if (tweak != nullptr) {
        settings.generate_bitmaps = tweak->generate_bitmaps;
        settings.compatible = tweak->compatible;
        settings.fonts.whole_pixels = tweak->fonts.whole_pixels;
    }
    r->ok = layout_subtitle(ev, settings, fonts, messages, r->sub);
    EXPECT_TRUE(messages.messages().empty());
    return r;
}

std::string class_text(const RenderedSegment& s) {
    std::string out;
    for (int32_t y = 0; y < s.height; ++y) {
        for (int32_t x = 0; x < s.width; ++x) {
            uint8_t c = s.class_at(x, y);
            out += c == kBackground ? '.' : static_cast<char>('0' + c);
        }
        out += '\n';
    }
    return out;
}

// Compares with tests/data/golden/<name>.txt; TESSARA_REGENERATE_GOLDEN=1 rewrites the file.
void expect_golden(const std::string& name, const std::string& actual) {
    const auto path = test::test_data("golden/" + name + ".txt");
    if (std::getenv("TESSARA_REGENERATE_GOLDEN") != nullptr) {
        std::filesystem::create_directories(path.parent_path());
        test::write_file(path, actual);
    }
    EXPECT_EQ(test::read_file(path), actual)
        << "golden " << name << " differs (TESSARA_REGENERATE_GOLDEN=1 renews)";
}

TEST(DrawText, ClassMapsOfAWordMatchTheGoldenFiles) {
    for (int size : {20, 32}) {
        const std::string style = "Style: Default,DejaVu Sans," + std::to_string(size) +
                                  ",16777215,0,0,0,0,0,1,2,0,2,10,10,10,0,0";
        auto r = render(script_text(style, "Tag"));
        ASSERT_TRUE(r->ok);
        ASSERT_EQ(r->sub.segments.size(), 1u);
        expect_golden("tag_" + std::to_string(size), class_text(r->sub.segments[0]));
    }
}

TEST(DrawText, OutlineSizesGrowTheBoxAndAntiAliasCanBeOff) {
    int32_t last_width = 0;
    for (int outline = 0; outline <= 4; ++outline) {
        const std::string style = "Style: Default,DejaVu Sans,20,16777215,0,0,0,0,0,1," +
                                  std::to_string(outline) + ",0,2,10,10,10,0,0";
        auto r = render(script_text(style, "o"));
        ASSERT_TRUE(r->ok);
        const RenderedSegment& s = r->sub.segments[0];
        EXPECT_EQ(s.outline, outline);
        EXPECT_EQ(s.height, s.line_height + 2 * outline);
        EXPECT_EQ(s.inner_width, s.advance + 2 * outline);
        if (outline > 0) {
            EXPECT_EQ(s.width, last_width + 2);
        }
        last_width = s.width;
        bool has_outline = false;
        for (uint8_t c : s.classes.data())
            has_outline |= c == 1;
        EXPECT_EQ(has_outline, outline > 0);
    }
    // Without an anti-alias slot the font is drawn without grey edges: only text and outline.
    auto mono = render(script_text(kStyle20, "Sample"), nullptr, kBackground, 1);
    for (uint8_t c : mono->sub.segments[0].classes.data()) {
        EXPECT_TRUE(c == 2 || c == 1 || c == kBackground);
    }
    // Without an outline slot there is no outline, and no outline margin in the box.
    auto plain = render(script_text(kStyle20, "Sample"), nullptr, 0, kBackground);
    EXPECT_EQ(plain->sub.segments[0].outline, 0);
}

// ItalicsRight moves the end of an italic run's box by a share of its height; the glyphs drawn
// into the box stay the same whichever way it moves.
TEST(DrawText, ItalicCorrectionMovesTheBoxNotTheGlyphs) {
    const std::string style =
        "Style: Default,DejaVu Sans,40,16777215,0,0,0,0,1,1,2,0,2,10,10,10,0,0";
    auto plain = render(script_text(style, "WWWWWWWWMM"));
    const RenderedSegment& p = plain->sub.segments.at(0);
    ASSERT_FALSE(p.classes.empty());
    for (int percent : {-100, 30}) {
        auto r =
            render(script_text(style, "WWWWWWWWMM", "", "ItalicsRight=" + std::to_string(percent)));
        const RenderedSegment& s = r->sub.segments.at(0);
        const int32_t shift = (p.height - 2 * p.outline) * percent / 100;
        EXPECT_EQ(s.inner_width, p.inner_width + shift) << percent;
        EXPECT_EQ(r->sub.box_width, plain->sub.box_width + shift) << percent;
        // A narrower box keeps the whole map; a wider one only adds background on the right.
        ASSERT_EQ(s.width, p.width + std::max(shift, 0)) << percent;
        for (int32_t y = 0; y < s.height; ++y) {
            for (int32_t x = 0; x < s.width; ++x) {
                ASSERT_EQ(s.class_at(x, y), p.class_at(x, y)) << percent << " " << x << "," << y;
            }
        }
    }
}

// The script as a Unicode (UTF-16) file, for text no 8-bit code page holds.
std::string unicode_script(const std::string& utf8) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : base::utf8_to_utf16(utf8)) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::map<uint8_t, int> class_counts(const RenderedSegment& s) {
    std::map<uint8_t, int> counts;
    for (uint8_t c : s.classes.data())
        ++counts[c];
    return counts;
}

// A style whose face lacks the characters draws them from a face that has them, with its own
// size, weight and outline: the same pixels as the covering face's style, on the style's cell.
TEST(DrawText, CharactersTheStyleFaceLacksAreDrawnFromAFaceThatHasThem) {
    struct Case {
        const char* text;
        const char* covering;
    };
    for (const Case& c :
         {Case{"日本語のテキスト", "WenQuanYi Micro Hei"}, Case{"ภาษาไทย", "Loma"}}) {
        for (const std::string bold : {"0", "-1"}) {
            const std::string rest = ",24,16777215,0,0,0," + bold + ",0,1,2,0,2,10,10,10,0,0";
            // Without width compensation, which each face would work out from its own average
            // character width.
            auto lacking = render(unicode_script(
                script_text("Style: Default,Arial" + rest, c.text, "Comp=0;Expected=1")));
            auto covering = render(unicode_script(script_text(
                std::string("Style: Default,") + c.covering + rest, c.text, "Comp=0;Expected=1")));
            ASSERT_TRUE(lacking->ok && covering->ok);
            const RenderedSegment& a = lacking->sub.segments.at(0);
            const RenderedSegment& b = covering->sub.segments.at(0);
            EXPECT_EQ(a.inner_width, b.inner_width) << c.covering;
            // The boxes differ with the cells; the inked pixels do not.
            auto ink_a = class_counts(a);
            auto ink_b = class_counts(b);
            ink_a.erase(kBackground);
            ink_b.erase(kBackground);
            EXPECT_EQ(ink_a, ink_b) << c.covering;
        }
    }
}

TEST(Layout, WordsBreakIntoBalancedLinesAndAWideWordStandsAlone) {
    // 200 pixels of room: ResX 220 less 10 + 10 margins.
    auto r =
        render(script_text(kStyle20, "one two three four five six seven", "ResX=220;Expected=1"));
    ASSERT_TRUE(r->ok);
    int lines = 0;
    for (const auto& s : r->sub.segments) {
        lines += s.end_of_line ? 1 : 0;
    }
    EXPECT_GE(lines, 2);
    EXPECT_LE(r->sub.box_width, 200);

    auto wide =
        render(script_text(kStyle20, "a Pneumonoultramicroscopic b", "ResX=100;Expected=1"));
    ASSERT_EQ(wide->sub.segments.size(), 3u);
    EXPECT_TRUE(wide->sub.segments[0].end_of_line);
    EXPECT_TRUE(wide->sub.segments[1].end_of_line);
    EXPECT_GT(wide->sub.segments[1].inner_width, 80);
}

TEST(Layout, GeometryWithoutBitmapsAndInWholePixels) {
    auto drawn = render(script_text(kStyle20, "Hello world"));
    LayoutSettings off;
    off.generate_bitmaps = false;
    auto geometry = render(script_text(kStyle20, "Hello world"), &off);
    ASSERT_EQ(drawn->sub.segments.size(), geometry->sub.segments.size());
    for (size_t i = 0; i < drawn->sub.segments.size(); ++i) {
        const auto& a = drawn->sub.segments[i];
        const auto& b = geometry->sub.segments[i];
        EXPECT_EQ(a.width, b.width);
        EXPECT_EQ(a.x, b.x);
        EXPECT_TRUE(b.classes.empty());
        EXPECT_EQ(b.class_at(a.width / 2, a.height / 2), kBackground);
    }
    // Whole-pixel units measure the same words to within a pixel or two (without the width
    // compensation, whose average width loses its fraction in whole pixels).
    auto fine = render(script_text(kStyle20, "Hello world", "Comp=0;Expected=1"));
    LayoutSettings whole;
    whole.fonts.whole_pixels = true;
    auto coarse = render(script_text(kStyle20, "Hello world", "Comp=0;Expected=1"), &whole);
    ASSERT_TRUE(coarse->ok);
    EXPECT_NEAR(coarse->sub.box_width, fine->sub.box_width, 3);
}

// Text of nothing but spaces has no direction: right-to-left processing leaves no run of it, and
// it is drawn blank as without that processing rather than failing as if nothing rendered.
TEST(Layout, TextOfOnlySpacesIsDrawnInEitherDirection) {
    for (const char* text : {"\\h", "\\N", "\\h\\N\\h"}) {
        SCOPED_TRACE(text);
        auto ltr = render(script_text(kStyle20, text));
        auto rtl = render(script_text(kStyle20, text, "RightToLeft=1;Expected=1"));
        ASSERT_TRUE(ltr->ok);
        ASSERT_TRUE(rtl->ok);
        EXPECT_EQ(rtl->sub.segments.size(), ltr->sub.segments.size());
        EXPECT_EQ(rtl->sub.box_height, ltr->sub.box_height);
        EXPECT_GT(rtl->sub.box_width, 0);
    }
}

}  // namespace
}  // namespace tessara::render
