#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "render/font_engine.h"

// Characters a face lacks are drawn from a face that has them. Measured with the fonts
// scripts/install-deps installs: DejaVu Sans (no Japanese, no Thai), WenQuanYi Micro Hei and Loma.
namespace tessara::render {
namespace {

constexpr int32_t kAllFlags = kFontFlagKerning | kFontFlagLigatures | kFontFlagDiacritics;
constexpr int32_t kUpp = 16;

std::unique_ptr<Font> make(FontEngine& engine, std::u16string face, bool bold = false,
                           bool italic = false) {
    FontRequest r{std::move(face), -24 * kUpp, 0, bold, italic, 0, true, kUpp};
    auto f = engine.create(r);
    EXPECT_NE(f, nullptr);
    return f;
}

GlyphPlacement placed(const Font& f, std::u16string_view text) {
    auto g = f.place(text, kAllFlags, false, 0);
    EXPECT_TRUE(g.has_value());
    return g ? *g : GlyphPlacement{};
}

// The text drawn with the top of its cell at row `top`.
GreyMap drawn(const Font& f, const GlyphPlacement& g, int32_t top) {
    GreyMap map(300, 80, 255);
    f.draw(g, map, 10, top);
    return map;
}

bool same(const GreyMap& a, const GreyMap& b) {
    for (int32_t y = 0; y < a.height(); ++y) {
        for (int32_t x = 0; x < a.width(); ++x) {
            if (a.at(x, y) != b.at(x, y)) {
                return false;
            }
        }
    }
    return true;
}

bool inked(const GreyMap& map) {
    for (int32_t y = 0; y < map.height(); ++y) {
        for (int32_t x = 0; x < map.width(); ++x) {
            if (map.at(x, y) != 255) {
                return true;
            }
        }
    }
    return false;
}

TEST(FontFallback, MissingCharactersAreDrawnLikeTheFaceThatHasThem) {
    auto engine = make_system_font_engine();
    struct Case {
        std::u16string text;
        std::u16string covering;
    };
    for (const Case& c :
         {Case{u"日本語のテキスト", u"WenQuanYi Micro Hei"}, Case{u"ภาษาไทย", u"Loma"}}) {
        for (std::u16string face : {u"DejaVu Sans", u"Arial"}) {
            for (bool bold : {false, true}) {
                SCOPED_TRACE(std::string(face.begin(), face.end()) + (bold ? " bold" : ""));
                auto font = make(*engine, face, bold);
                auto direct = make(*engine, c.covering, bold);
                const GlyphPlacement g = placed(*font, c.text);
                const GlyphPlacement d = placed(*direct, c.text);
                ASSERT_FALSE(g.glyphs.empty());
                for (uint32_t glyph : g.glyphs) {
                    EXPECT_NE(glyph, 0u);
                }
                // Same glyphs, same advances, same pixels, on the run's own baseline.
                EXPECT_EQ(g.glyphs, d.glyphs);
                EXPECT_EQ(g.advances, d.advances);
                EXPECT_EQ(g.extent.width, d.extent.width);
                EXPECT_EQ(g.extent.height, font->ascent() + font->descent());
                const int32_t shift = (font->ascent() - direct->ascent()) / kUpp;
                const GreyMap a = drawn(*font, g, 20);
                EXPECT_TRUE(inked(a));
                EXPECT_TRUE(same(a, drawn(*direct, d, 20 + shift)));
                // The plain path finds the same faces.
                const GlyphPlacement p = font->place_plain(c.text, 0);
                for (uint32_t glyph : p.glyphs) {
                    EXPECT_NE(glyph, 0u);
                }
                EXPECT_TRUE(same(drawn(*font, p, 20),
                                 drawn(*direct, direct->place_plain(c.text, 0), 20 + shift)));
            }
        }
    }
}

TEST(FontFallback, CharactersTheFaceHasKeepIt) {
    auto engine = make_system_font_engine();
    auto font = make(*engine, u"DejaVu Sans");
    // Covered text takes no other face.
    const GlyphPlacement latin = placed(*font, u"Hello, world");
    EXPECT_TRUE(latin.faces.empty());
    EXPECT_TRUE(font->place_plain(u"Hello", 0).faces.empty());

    // In mixed text only the missing characters change face; the Latin ones are the same glyphs
    // with the same advances as alone.
    const GlyphPlacement mixed = placed(*font, u"ab日本cd");
    const GlyphPlacement ab = placed(*font, u"ab");
    ASSERT_EQ(mixed.glyphs.size(), 6u);
    ASSERT_EQ(mixed.faces.size(), 6u);
    EXPECT_EQ(mixed.faces[0], 0);
    EXPECT_EQ(mixed.faces[1], 0);
    EXPECT_NE(mixed.faces[2], 0);
    EXPECT_EQ(mixed.faces[2], mixed.faces[3]);
    EXPECT_EQ(mixed.faces[4], 0);
    EXPECT_EQ(mixed.faces[5], 0);
    EXPECT_EQ(mixed.glyphs[0], ab.glyphs[0]);
    EXPECT_EQ(mixed.advances[0], ab.advances[0]);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(mixed.clusters[i], i);
        EXPECT_NE(mixed.glyphs[i], 0u);
    }
}

TEST(FontFallback, VerticalFormNamesFindTheFaceWithoutTheAt) {
    auto engine = make_system_font_engine();
    for (std::u16string face : {u"DejaVu Sans", u"DejaVu Serif", u"DejaVu Sans Mono"}) {
        auto plain = make(*engine, face);
        auto vertical = make(*engine, u"@" + face);
        const GlyphPlacement a = placed(*plain, u"Subtitle 12");
        const GlyphPlacement b = placed(*vertical, u"Subtitle 12");
        EXPECT_EQ(a.glyphs, b.glyphs);
        EXPECT_EQ(a.advances, b.advances);
        EXPECT_EQ(plain->ascent(), vertical->ascent());
        EXPECT_TRUE(same(drawn(*plain, a, 10), drawn(*vertical, b, 10)));
    }
    // The serif face is really found, not the default that stands in for unknown names.
    auto serif = make(*engine, u"@DejaVu Serif");
    auto unknown = make(*engine, u"No Such Face");
    EXPECT_NE(placed(*serif, u"Subtitle").advances, placed(*unknown, u"Subtitle").advances);
}

}  // namespace
}  // namespace tessara::render
