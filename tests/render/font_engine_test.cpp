#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "render/font_engine.h"

// fontconfig loses a small block while parsing its configuration files, once per process. The
// leak checker of sanitizer builds is told to ignore that library; everything else is checked.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace tessara::render {
namespace {

constexpr int32_t kAllFlags = kFontFlagKerning | kFontFlagLigatures | kFontFlagDiacritics;

std::unique_ptr<Font> make(FontEngine& engine, std::u16string face, int32_t height = -24 * 16,
                           bool bold = false, bool italic = false, int32_t width = 0,
                           int32_t units_per_pixel = 16, bool antialias = true) {
    FontRequest r{std::move(face), height, width, bold, italic, 0, antialias, units_per_pixel};
    auto f = engine.create(r);
    EXPECT_NE(f, nullptr);
    return f;
}

// The inked pixels of a map: count, total darkness, bounds, and darkness-weighted centre.
struct Ink {
    int32_t pixels = 0;
    double weight = 0;
    double centre_x = 0;
    int32_t left = INT32_MAX, right = -1, top = INT32_MAX, bottom = -1;
};

Ink ink_of(const GreyMap& map, int32_t y0 = 0, int32_t y1 = INT32_MAX) {
    Ink ink;
    for (int32_t y = std::max(0, y0); y < std::min(map.height(), y1); ++y) {
        for (int32_t x = 0; x < map.width(); ++x) {
            const double dark = 255.0 - map.at(x, y);
            if (dark > 0) {
                ++ink.pixels;
                ink.weight += dark;
                ink.centre_x += dark * x;
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
        }
    }
    ink.centre_x = ink.weight > 0 ? ink.centre_x / ink.weight : -1;
    return ink;
}

GreyMap drawn(const Font& f, const GlyphPlacement& g, int32_t w = 200, int32_t h = 60,
              int32_t x = 10, int32_t y = 5) {
    GreyMap map(w, h, 255);
    f.draw(g, map, x, y);
    return map;
}

TEST(FontEngine, FacesResolveAndFontsOutliveTheEngine) {
    auto engine = make_system_font_engine();
    // An installed face, a substituted one, an unknown name, no name, and a name longer than the
    // 31 characters looked up all give a usable font.
    for (std::u16string face : {u"DejaVu Sans", u"Verdana", u"No Such Face", u"",
                                u"DejaVu Sans and a great deal of text after it"}) {
        auto f = make(*engine, face);
        ASSERT_NE(f, nullptr);
        EXPECT_GT(f->ascent(), 0);
        EXPECT_GT(f->descent(), 0);
        EXPECT_GT(f->average_char_width(), 0);
        EXPECT_TRUE(f->kerning_pairs().empty());
        EXPECT_GT(f->place_plain(u"Hello", 0).extent.width, 0);
    }
    // Units per pixel out of range are refused; absurd heights and widths are held to a sane
    // size rather than overflowing.
    EXPECT_EQ(engine->create(FontRequest{u"DejaVu Sans", -384, 0, false, false, 0, true, 0}),
              nullptr);
    for (int32_t h : {INT32_MIN, INT32_MAX, -1}) {
        auto f = make(*engine, u"DejaVu Sans", h, false, false, h);
        GreyMap map(50, 50, 255);
        f->draw(f->place_plain(u"W", 0), map, 0, 0);
    }
    auto kept = make(*engine, u"DejaVu Sans");
    engine.reset();
    EXPECT_GT(ink_of(drawn(*kept, *kept->place(u"Hi", kAllFlags, false, 0))).pixels, 0);
}

TEST(FontEngine, SizesHeightsAndWidths) {
    auto engine = make_system_font_engine();
    auto f24 = make(*engine, u"DejaVu Sans");
    auto f48 = make(*engine, u"DejaVu Sans", -48 * 16);
    // Ascent and descent are whole pixels covering the font's extent (DejaVu Sans: 1901 and 483
    // of 2048 units per em).
    EXPECT_EQ(f24->ascent(), 23 * 16);
    EXPECT_EQ(f24->descent(), 6 * 16);
    EXPECT_EQ(f48->ascent(), 45 * 16);
    const int32_t w24 = f24->place_plain(u"Hello world", 0).extent.width;
    EXPECT_NEAR(f48->place_plain(u"Hello world", 0).extent.width, 2 * w24, 2);
    EXPECT_NEAR(f48->average_char_width(), 2 * f24->average_char_width(), 1);
    // Fractional pixel sizes are kept, not rounded to whole pixels.
    const int32_t whalf =
        make(*engine, u"DejaVu Sans", -24 * 16 - 8)->place_plain(u"Hello world", 0).extent.width;
    EXPECT_GT(whalf, w24);
    EXPECT_LT(whalf,
              make(*engine, u"DejaVu Sans", -25 * 16)->place_plain(u"Hello world", 0).extent.width);
    // A positive height is the cell; 0 is a small default.
    auto cell = make(*engine, u"DejaVu Sans", 30 * 16);
    EXPECT_GE(cell->ascent() + cell->descent(), 30 * 16);
    EXPECT_LE(cell->ascent() + cell->descent(), 31 * 16);
    EXPECT_EQ(cell->place_plain(u"x", 0).extent.height, cell->ascent() + cell->descent());
    EXPECT_GT(make(*engine, u"DejaVu Sans", 0)->ascent(), 5 * 16);

    // A width narrows the font to that average character width, keeping its height.
    const int32_t avg = f24->average_char_width();
    auto narrow = make(*engine, u"DejaVu Sans", -24 * 16, false, false, avg * 3 / 4);
    EXPECT_NEAR(narrow->average_char_width(), avg * 3 / 4, 1);
    EXPECT_EQ(narrow->ascent(), f24->ascent());
    EXPECT_NEAR(narrow->place_plain(u"Hello world", 0).extent.width, w24 * 3 / 4, w24 / 200);

    // Whole-pixel units measure and draw like sixteenths; pen positions are rounded, not each
    // advance, so they stay within half a pixel of the precise ones.
    auto whole = make(*engine, u"DejaVu Sans", -24, false, false, 0, 1);
    EXPECT_EQ(whole->ascent() * 16, f24->ascent());
    EXPECT_EQ(whole->descent() * 16, f24->descent());
    const auto gf = f24->place(u"Hello, world", kAllFlags, false, 0);
    const auto gw = whole->place(u"Hello, world", kAllFlags, false, 0);
    ASSERT_TRUE(gf && gw);
    EXPECT_EQ(gf->glyphs, gw->glyphs);
    int64_t pf = 0;
    int64_t pw = 0;
    for (size_t i = 0; i < gf->advances.size(); ++i) {
        pf += gf->advances[i];
        pw += gw->advances[i];
        EXPECT_LE(std::abs(pw * 16 - pf), 9) << i;
    }
    const Ink a = ink_of(drawn(*f24, *gf));
    const Ink b = ink_of(drawn(*whole, *gw));
    EXPECT_NEAR(a.right, b.right, 1);
    EXPECT_EQ(a.top, b.top);
}

TEST(FontEngine, BoldAndItalicRealOrSynthesised) {
    auto engine = make_system_font_engine();
    // DejaVu Sans has bold and oblique faces; DejaVu Math TeX Gyre only a regular one, so its
    // bold and italic are made from it.
    for (std::u16string face : {u"DejaVu Sans", u"DejaVu Math TeX Gyre"}) {
        SCOPED_TRACE(std::string(face.begin(), face.end()));
        auto regular = make(*engine, face);
        auto bold = make(*engine, face, -24 * 16, true);
        auto italic = make(*engine, face, -24 * 16, false, true);
        const GlyphPlacement pb = bold->place_plain(u"Hill", 0);
        EXPECT_GT(pb.extent.width, regular->place_plain(u"Hill", 0).extent.width);
        const Ink ib = ink_of(drawn(*bold, pb, 200, 120));
        EXPECT_GT(
            ib.weight,
            ink_of(drawn(*regular, regular->place_plain(u"Hill", 0), 200, 120)).weight * 5 / 4);
        EXPECT_LE(ib.right, 10 + pb.extent.width / 16 + 1);
        // An italic "l" leans: the top of its stem is right of the bottom; upright it is not.
        const int32_t base = 5 + regular->ascent() / 16;
        const auto lean = [&](const Font& f) {
            const GreyMap m = drawn(f, f.place_plain(u"l", 0), 60, 120);
            return ink_of(m, base - 17, base - 12).centre_x - ink_of(m, base - 5, base).centre_x;
        };
        EXPECT_GT(lean(*italic), 1.5);
        EXPECT_NEAR(lean(*regular), 0.0, 0.3);
    }
}

TEST(FontEngine, ShapingFollowsTheFlags) {
    auto engine = make_system_font_engine();
    auto f = make(*engine, u"DejaVu Sans");
    // Kerning pulls "AV" together only with its flag; unshaped, place and place_plain agree.
    const auto kerned = f->place(u"AV", kFontFlagKerning, false, 0);
    const auto unkerned = f->place(u"AV", 0, false, 0);
    ASSERT_TRUE(kerned && unkerned);
    EXPECT_LT(kerned->extent.width, unkerned->extent.width);
    EXPECT_EQ(unkerned->advances, f->place_plain(u"AV", 0).advances);
    // "fi" is one glyph for both characters with the ligature flag.
    ASSERT_EQ(f->place(u"fi", kFontFlagLigatures, false, 0)->glyphs.size(), 1u);
    EXPECT_EQ(f->place(u"fi", 0, false, 0)->clusters, (std::vector<uint32_t>{0, 1}));
    // With the diacritics flag a combining acute on "X" (no precomposed form) is raised over
    // the capital and drawn there; without it, it is not displaced.
    const auto marked = f->place(u"X\u0301", kFontFlagDiacritics, false, 0);
    const auto unmarked = f->place(u"X\u0301", 0, false, 0);
    ASSERT_TRUE(marked && unmarked);
    EXPECT_EQ(marked->clusters, (std::vector<uint32_t>{0, 0}));
    ASSERT_EQ(marked->offsets.size(), 2u);
    EXPECT_GT(marked->offsets[1].y, 0);
    EXPECT_TRUE(unmarked->offsets.empty());
    const int32_t cap_top = ink_of(drawn(*f, *f->place(u"X", 0, false, 0))).top;
    EXPECT_LT(ink_of(drawn(*f, *marked)).top, cap_top - 3);
    EXPECT_LT(ink_of(drawn(*f, *marked)).top, ink_of(drawn(*f, *unmarked)).top);
    // char_extra goes onto every glyph.
    const auto spaced = f->place(u"Hello", kAllFlags, false, 16);
    EXPECT_EQ(spaced->extent.width, f->place(u"Hello", kAllFlags, false, 0)->extent.width + 80);
    EXPECT_EQ(f->place_plain(u"Hello", -8).extent.width,
              f->place_plain(u"Hello", 0).extent.width - 40);
}

TEST(FontEngine, RightToLeftText) {
    auto engine = make_system_font_engine();
    auto f = make(*engine, u"DejaVu Sans");
    // Arabic in logical order comes out in visual order with joined forms; the same word
    // already reversed into visual order is kept in that order and joined the same way.
    const std::u16string logical = u"\u0633\u0644\u0627\u0645";
    const std::u16string visual(logical.rbegin(), logical.rend());
    const auto rtl = f->place(logical, kAllFlags, false, 0);
    const auto kept = f->place(visual, kAllFlags, true, 0);
    ASSERT_TRUE(rtl && kept);
    EXPECT_TRUE(std::is_sorted(rtl->clusters.rbegin(), rtl->clusters.rend()));
    EXPECT_TRUE(std::is_sorted(kept->clusters.begin(), kept->clusters.end()));
    EXPECT_EQ(kept->glyphs, rtl->glyphs);
    EXPECT_NE(rtl->glyphs, f->place_plain(visual, 0).glyphs);
    // Brackets are mirrored in right-to-left text but not in text already in visual order
    // (that was mirrored when it was reversed).
    const uint32_t open = f->place_plain(u"(", 0).glyphs[0];
    const auto mirrored = f->place(u"(\u05E9)", kAllFlags, false, 0);
    const auto as_given = f->place(u"(\u05E9)", kAllFlags, true, 0);
    ASSERT_TRUE(mirrored && as_given);
    EXPECT_EQ(mirrored->glyphs.front(), open);
    EXPECT_EQ(mirrored->clusters.front(), 2u);
    EXPECT_EQ(as_given->glyphs.front(), open);
    EXPECT_EQ(as_given->clusters.front(), 0u);
}

TEST(FontEngine, SurrogatesAndEmptyText) {
    auto engine = make_system_font_engine();
    auto f = make(*engine, u"DejaVu Sans");
    // U+10300 is one glyph the font has; a lone surrogate is one replacement glyph.
    const std::u16string text = u"a\U00010300b\xD800";
    const GlyphPlacement plain = f->place_plain(text, 0);
    const auto shaped = f->place(text, kAllFlags, false, 0);
    ASSERT_TRUE(shaped);
    for (const GlyphPlacement* g : {&plain, &*shaped}) {
        EXPECT_EQ(g->clusters, (std::vector<uint32_t>{0, 1, 3, 4}));
        ASSERT_EQ(g->glyphs.size(), 4u);
        EXPECT_NE(g->glyphs[1], 0u);
        EXPECT_EQ(g->glyphs[3], f->place_plain(u"\uFFFD", 0).glyphs[0]);
    }
    const auto empty = f->place(u"", kAllFlags, false, 16);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->glyphs.empty());
    EXPECT_EQ(empty->extent.width, 0);
    EXPECT_EQ(empty->extent.height, f->ascent() + f->descent());
    EXPECT_EQ(f->place_plain(u"", 16).extent.width, 0);
    EXPECT_EQ(ink_of(drawn(*f, *empty)).pixels, 0);
}

TEST(FontEngine, DrawingInksTheCellAndOnlyDarkens) {
    auto engine = make_system_font_engine();
    auto f = make(*engine, u"DejaVu Sans");
    const GlyphPlacement g = f->place_plain(u"Hello", 0);
    const GreyMap map = drawn(*f, g, 200, 60, 10, 5);
    const Ink ink = ink_of(map);
    // Ink from just right of the origin to the end of the advances, from the cap height (0.73
    // em) down to the baseline, where "e" and "o" overshoot only faintly.
    const int32_t baseline = 5 + f->ascent() / 16;
    EXPECT_GE(ink.left, 10);
    EXPECT_LE(ink.left, 14);
    EXPECT_LE(ink.right, 10 + g.extent.width / 16);
    EXPECT_NEAR(baseline - ink.top, 18, 1);
    EXPECT_EQ(ink.bottom, baseline);
    EXPECT_GT(*std::min_element(map.row(baseline), map.row(baseline) + map.width()), 128);
    EXPECT_EQ(*std::min_element(map.data().begin(), map.data().end()), 0);
    // Over grey paper the result is the darker of paper and ink, pixel by pixel.
    GreyMap grey(200, 60, 100);
    f->draw(g, grey, 10, 5);
    f->draw(g, grey, 10, 5);
    for (size_t i = 0; i < grey.data().size(); ++i) {
        ASSERT_EQ(grey.data()[i], std::min<uint8_t>(100, map.data()[i]));
    }
    // Without anti-aliasing there is only full ink and paper, over about the same area.
    auto mono = make(*engine, u"DejaVu Sans", -24 * 16, false, false, 0, 16, false);
    const GreyMap mm = drawn(*mono, mono->place_plain(u"Hello", 0));
    EXPECT_TRUE(std::all_of(mm.data().begin(), mm.data().end(),
                            [](uint8_t v) { return v == 0 || v == 255; }));
    EXPECT_NEAR(ink.weight / 255, ink_of(mm).pixels, ink_of(mm).pixels / 5.0);
}

TEST(FontEngine, ClippingAndSubPixelPositions) {
    auto engine = make_system_font_engine();
    for (bool antialias : {true, false}) {
        auto f = make(*engine, u"DejaVu Sans", -24 * 16, false, false, 0, 16, antialias);
        const GlyphPlacement g = f->place_plain(u"Wog", 0);
        const GreyMap whole = drawn(*f, g, 100, 60, 20, 20);
        // A small map whose (0, 0) is the big map's (30, 30): glyphs overhang every side and
        // the visible part is exactly what the big map shows there.
        GreyMap part(25, 12, 255);
        f->draw(g, part, -10, -10);
        for (int32_t y = 0; y < part.height(); ++y) {
            for (int32_t x = 0; x < part.width(); ++x) {
                ASSERT_EQ(part.at(x, y), whole.at(x + 30, y + 30)) << x << "," << y;
            }
        }
        GreyMap off(20, 20, 255);
        f->draw(g, off, -1000, 1000);
        EXPECT_EQ(ink_of(off).pixels, 0);
    }
    // Moving the pen by half a pixel moves the ink by half a pixel.
    auto f = make(*engine, u"DejaVu Sans");
    std::vector<double> centres;
    for (int32_t shift : {0, 8, 16}) {
        GlyphPlacement g = f->place_plain(u" l", 0);
        g.advances[0] = 64 + shift;
        centres.push_back(ink_of(drawn(*f, g)).centre_x);
    }
    EXPECT_NEAR(centres[1] - centres[0], 0.5, 0.1);
    EXPECT_NEAR(centres[2] - centres[0], 1.0, 0.05);
    // Inconsistent placements are drawn as far as they make sense.
    GlyphPlacement bad = f->place_plain(u"Hello", 0);
    bad.glyphs[1] = 0xFFFFFFu;                 // no such glyph: skipped
    bad.advances.resize(3);                    // only three glyphs have advances
    bad.offsets.resize(1, GlyphOffset{5, 5});  // not one per glyph: ignored
    const Ink ink = ink_of(drawn(*f, bad));
    EXPECT_GE(ink.left, 10);
    EXPECT_LE(ink.right, 10 + (bad.advances[0] + bad.advances[1] + bad.advances[2]) / 16);
}

}  // namespace
}  // namespace tessara::render
