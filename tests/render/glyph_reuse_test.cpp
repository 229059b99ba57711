// A font keeps the glyphs it has drawn; drawing from what it kept must give exactly the pixels a
// font drawing everything afresh gives, wherever the glyphs land and however much was kept.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "render/font_engine.h"

namespace tessara::render {
namespace {

std::unique_ptr<Font> make(FontEngine& engine, int32_t height, bool antialias = true,
                           bool italic = false) {
    FontRequest r{u"DejaVu Sans", height, 0, false, italic, 0, antialias, 16};
    return engine.create(r);
}

// The text drawn at x (device pixels) into a fresh map; extra spacing spreads the glyphs over
// many sub-pixel positions.
GreyMap drawn(const Font& font, const std::u16string& text, int32_t extra, int32_t x,
              int32_t w = 400, int32_t h = 60) {
    GreyMap map(w, h, 255);
    font.draw(font.place_plain(text, extra), map, x, 4);
    return map;
}

TEST(GlyphReuse, KeptGlyphsDrawLikeFreshOnes) {
    auto engine = make_system_font_engine();
    for (bool antialias : {true, false}) {
        SCOPED_TRACE(antialias);
        auto kept = make(*engine, -20 * 16, antialias);
        ASSERT_NE(kept, nullptr);
        const std::u16string text = u"a lamp burns all night, the keeper stays awake";
        // The same glyphs at positions 1/16 px apart, some reaching over the map's left and
        // right edges (those are drawn clipped, never from what was kept).
        for (int32_t extra : {0, 1, 5, 11}) {
            for (int32_t x : {-7, 0, 3, 250}) {
                const GreyMap first = drawn(*kept, text, extra, x);
                const GreyMap again = drawn(*kept, text, extra, x);
                auto fresh_font = make(*engine, -20 * 16, antialias);
                const GreyMap fresh = drawn(*fresh_font, text, extra, x);
                EXPECT_TRUE(first.data() == fresh.data()) << extra << " " << x;
                EXPECT_TRUE(again.data() == fresh.data()) << extra << " " << x;
            }
        }
    }
}

TEST(GlyphReuse, AFontThatKeptTooMuchStartsAfreshAndStillDrawsTheSame) {
    auto engine = make_system_font_engine();
    // Glyphs of 180 px: a few dozen fill what a font keeps.
    auto kept = make(*engine, -180 * 16, true, true);
    ASSERT_NE(kept, nullptr);
    const std::u16string text = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int round = 0; round < 3; ++round) {
        for (int32_t extra : {0, 3, 7}) {
            const GreyMap once = drawn(*kept, text, extra, 2, 9000, 260);
            auto fresh_font = make(*engine, -180 * 16, true, true);
            EXPECT_TRUE(once.data() == drawn(*fresh_font, text, extra, 2, 9000, 260).data())
                << round << " " << extra;
        }
    }
}

}  // namespace
}  // namespace tessara::render
