#include <gtest/gtest.h>

#include "render/pixel_classes.h"

namespace tessara::render {
namespace {

// Renders a class map as text rows: digits for classes, '.' for background.
std::vector<std::string> rows(const ClassMap& m) {
    std::vector<std::string> out;
    for (int32_t y = 0; y < m.height(); ++y) {
        std::string r;
        for (int32_t x = 0; x < m.width(); ++x) {
            r += m.at(x, y) == kBackground ? '.' : static_cast<char>('0' + m.at(x, y));
        }
        out.push_back(r);
    }
    return out;
}

GreyMap dot(int32_t w, int32_t h, int32_t x, int32_t y, uint8_t grey = 0) {
    GreyMap g(w, h, 255);
    g.at(x, y) = grey;
    return g;
}

ClassifyParams params(int32_t outline, uint8_t text = 2, uint8_t aa = 0, uint8_t ol = 1) {
    ClassifyParams p;
    p.outline_size = outline;
    p.text_class = text;
    p.antialias_class = aa;
    p.outline_class = ol;
    return p;
}

TEST(PixelClasses, ThresholdsAreStrict) {
    GreyMap g(4, 1, 255);
    g.at(0, 0) = 84;
    g.at(1, 0) = 85;
    g.at(2, 0) = 199;
    g.at(3, 0) = 200;
    EXPECT_EQ(rows(classify_and_outline(g, 4, 1, params(0))), (std::vector<std::string>{"200."}));
    // Without an anti-alias slot the middle band is background, and it grows no outline.
    EXPECT_EQ(rows(classify_and_outline(g, 4, 1, params(0, 2, kBackground))),
              (std::vector<std::string>{"2..."}));
}

TEST(PixelClasses, OutlineShapesAroundOnePixel) {
    EXPECT_EQ(rows(classify_and_outline(dot(5, 5, 2, 2), 5, 5, params(1))),
              (std::vector<std::string>{".....", "..1..", ".121.", "..1..", "....."}));
    EXPECT_EQ(rows(classify_and_outline(dot(7, 7, 3, 3), 7, 7, params(2))),
              (std::vector<std::string>{".......", "..111..", ".11111.", ".11211.", ".11111.",
                                        "..111..", "......."}));
    for (int32_t n = 1; n <= 4; ++n) {
        const int32_t d = 2 * n + 1;
        auto shape = outline_shape(n);
        ASSERT_EQ(shape.size(), static_cast<size_t>(d * d));
        EXPECT_EQ(shape[static_cast<size_t>(n * d + n)], '*');  // centre
        // Symmetric about both axes.
        for (int32_t r = 0; r < d; ++r)
            for (int32_t c = 0; c < d; ++c)
                EXPECT_EQ(shape[r * d + c], shape[(d - 1 - r) * d + (d - 1 - c)]);
    }
    EXPECT_TRUE(outline_shape(0).empty());
    EXPECT_TRUE(outline_shape(5).empty());
}

TEST(PixelClasses, OutlineStaysInsideTheMapAndNeverCoversText) {
    EXPECT_EQ(rows(classify_and_outline(dot(3, 2, 0, 0), 3, 2, params(1))),
              (std::vector<std::string>{"21.", "1.."}));
    GreyMap g(3, 1, 255);
    g.at(0, 0) = 0;
    g.at(1, 0) = 150;  // anti-alias next to text keeps its class
    EXPECT_EQ(rows(classify_and_outline(g, 3, 1, params(1))), (std::vector<std::string>{"20."}));
}

TEST(PixelClasses, SharedTextAndAntiAliasSlotGrowOutlineFromBoth) {
    GreyMap g(5, 1, 255);
    g.at(0, 0) = 0;
    g.at(4, 0) = 150;
    EXPECT_EQ(rows(classify_and_outline(g, 5, 1, params(1, 0, 0, 1))),
              (std::vector<std::string>{"01.10"}));
}

TEST(PixelClasses, OnlyTheBoxColumnsAreRead) {
    GreyMap g(6, 1, 0);  // ink everywhere, two scratch columns
    auto m = classify_and_outline(g, 4, 1, params(0));
    EXPECT_EQ(m.width(), 4);
    EXPECT_EQ(rows(m), (std::vector<std::string>{"2222"}));
}

}  // namespace
}  // namespace tessara::render

namespace tessara::render {
namespace {

// The outline by its definition, one marked cell at a time.
ClassMap reference(const GreyMap& grey, const ClassifyParams& p) {
    ClassMap face(grey.width(), grey.height(), kBackground);
    for (int32_t y = 0; y < grey.height(); ++y)
        for (int32_t x = 0; x < grey.width(); ++x)
            face.at(x, y) = grey.at(x, y) < p.face_threshold ? p.text_class
                            : grey.at(x, y) < p.aa_threshold ? p.antialias_class
                                                             : kBackground;
    ClassMap out = face;
    const int32_t n = p.outline_size, d = 2 * n + 1;
    auto shape = outline_shape(n);
    for (int32_t y = 0; y < grey.height(); ++y)
        for (int32_t x = 0; x < grey.width(); ++x) {
            if (face.at(x, y) != kBackground)
                continue;
            for (int32_t r = 0; r < d; ++r)
                for (int32_t c = 0; c < d; ++c)
                    if (shape[r * d + c] == '*' &&
                        face.get(x + c - n, y + r - n, uint8_t{255}) == p.text_class)
                        out.at(x, y) = p.outline_class;
        }
    return out;
}

TEST(PixelClasses, OutlineMatchesItsDefinitionOnRandomGlyphs) {
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245 + 12345, (seed >> 16) & 0x7FFF; };
    for (int round = 0; round < 40; ++round) {
        const int32_t w = 1 + static_cast<int32_t>(next() % 30);
        const int32_t h = 1 + static_cast<int32_t>(next() % 20);
        GreyMap g(w, h, 255);
        for (auto& v : g.data())
            v = next() % 4 == 0 ? static_cast<uint8_t>(next() % 256) : 255;
        for (int32_t n = 1; n <= 4; ++n) {
            ClassifyParams p;
            p.outline_size = n;
            p.text_class = 2;
            p.antialias_class = round % 2 == 0 ? 0 : 2;
            p.outline_class = 1;
            ASSERT_EQ(classify_and_outline(g, w, h, p).data(), reference(g, p).data())
                << "round " << round << " size " << n;
        }
    }
}

}  // namespace
}  // namespace tessara::render
