// The fast paths of composing and encoding, held to plain pixel-by-pixel versions of the same
// rules: every byte must come out as the simple version makes it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/messages.h"
#include "imaging/bitmap_writer.h"
#include "imaging/packbits.h"
#include "render/subpicture_canvas.h"
#include "test_support.h"

namespace tessara::imaging {
namespace {

constexpr ClassColours kColours{0x123456, 0xA0B0C0, 0x00FF7F, 0x3C2814};

uint32_t g_seed = 2024;
uint32_t next(uint32_t n) {
    g_seed = g_seed * 1103515245u + 12345u;
    return (g_seed >> 16) % n;
}

// Runs of random length and class, now and then a value no class has.
ClassMap random_classes(int32_t w, int32_t h) {
    ClassMap m(w, h, kBackground);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w;) {
            const int32_t len = static_cast<int32_t>(1 + next(next(4) == 0 ? 300 : 6));
            const auto k = static_cast<uint8_t>(next(20) == 0 ? 7 : next(4));
            for (int32_t i = 0; i < len && x < w; ++i, ++x) {
                m.at(x, y) = k;
            }
        }
    }
    return m;
}

// Extents inside, across every edge and wholly outside a 40 x 12 map.
const Rect kExtents[] = {
    {0, 0, 40, 12}, {5, 3, 31, 9},  {-7, -2, 20, 5}, {30, 8, 52, 20}, {-3, -3, 45, 15},
    {50, 0, 60, 4}, {0, 20, 8, 25}, {0, 0, 0, 0},    {10, 5, 11, 6},
};

TEST(BitmapPaths, PaletteAndRgbImagesMatchAPixelByPixelMapping) {
    const ClassMap classes = random_classes(40, 12);
    const PaletteOrder order{7, 0, 15, 2};
    for (const Rect& e : kExtents) {
        const PaletteImage p = build_palette_image(classes, e, kColours, order);
        const Bitmap<uint32_t> rgb = build_rgb_image(classes, e, kColours);
        ASSERT_EQ(p.indices.width(), e.width());
        ASSERT_EQ(rgb.height(), e.height());
        for (int32_t r = 0; r < e.height(); ++r) {
            for (int32_t c = 0; c < e.width(); ++c) {
                const uint8_t k = classes.get(e.left + c, e.top + r, kBackground);
                EXPECT_EQ(p.indices.at(c, r), order[k <= 3 ? k : 3]) << c << "," << r;
                EXPECT_EQ(rgb.at(c, r), k <= 3 ? kColours[k] : 0u) << c << "," << r;
            }
        }
    }
}

TEST(BitmapPaths, ATiffWrittenFromTheCanvasEqualsOneEncodedFromItsRgbImage) {
    SubpictureCanvas canvas(40, 12);
    canvas.compose(random_classes(40, 12), 40, 12, 0, 0, false, true);
    test::TempDir dir;
    // Natural extent (one column past the odd right edge), and fixed widths wider than the
    // canvas, which reach past both sides.
    for (int32_t fixed : {0, 50, 61}) {
        SCOPED_TRACE(fixed);
        const std::string path = dir.file("a.tif").string();
        base::RecordingMessages messages;
        Rect extent;
        ASSERT_TRUE(write_bitmap(canvas, path, {.fixed_width = fixed}, kColours, 5,
                                 kDefaultPaletteOrder, extent, messages));
        const auto expected = encode_tiff(build_rgb_image(canvas.classes(), extent, kColours));
        ASSERT_TRUE(expected);
        EXPECT_TRUE(test::read_file(path) == *expected);
    }
}

// Colours whose bytes repeat make every kind of PackBits code: white and black give long runs,
// 0x0000FF a run of two inside each pixel, mixed ones literals. Tall canvases span many strips.
TEST(BitmapPaths, PackedTiffRowsEqualLibtiffsOwnOverManyCanvases) {
    const ClassColours palettes[] = {
        {0xFFFFFF, 0x000000, 0x0000FF, 0x3C2814},
        {0x000000, 0x010101, 0xFF00FF, 0x000000},
        {0x00FF00, 0xFFFFFF, 0x123456, 0xFFFFFF},
    };
    test::TempDir dir;
    const std::string path = dir.file("b.tif").string();
    for (int round = 0; round < 24; ++round) {
        const int32_t w = static_cast<int32_t>(1 + next(round < 12 ? 60 : 700));
        const int32_t h = static_cast<int32_t>(1 + next(round < 12 ? 20 : 120));
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        SubpictureCanvas canvas(w, h);
        canvas.compose(random_classes(w, h), w, h, 0, 0, false, true);
        const ClassColours& colours = palettes[static_cast<size_t>(round) % 3];
        base::RecordingMessages messages;
        Rect extent;
        ASSERT_TRUE(write_bitmap(canvas, path, {.dont_clip = round % 2 == 0}, colours, 5,
                                 kDefaultPaletteOrder, extent, messages));
        const auto expected = encode_tiff(build_rgb_image(canvas.classes(), extent, colours));
        ASSERT_TRUE(expected);
        EXPECT_TRUE(test::read_file(path) == *expected);
    }
}

// Rows of arbitrary bytes (few distinct values, so runs of every length and literals of every
// size meet in every order), packed here and by libtiff: its strips follow the 8-byte header.
TEST(BitmapPaths, PackBitsMatchesLibtiffOnArbitraryRows) {
    for (int round = 0; round < 40; ++round) {
        const int32_t w = static_cast<int32_t>(1 + next(round < 20 ? 30 : 400));
        const int32_t h = static_cast<int32_t>(1 + next(40));
        Bitmap<uint32_t> image(w, h, 0);
        std::string expected;
        std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
        for (int32_t y = 0; y < h; ++y) {
            const uint32_t values = 1 + next(round % 4 == 0 ? 200 : 3);
            for (size_t i = 0; i < row.size();) {
                const size_t len = 1 + next(next(3) == 0 ? 200 : 3);
                const auto v = static_cast<uint8_t>(next(values));
                for (size_t k = 0; k < len && i < row.size(); ++k, ++i) {
                    row[i] = v;
                }
            }
            for (int32_t x = 0; x < w; ++x) {
                const size_t i = 3 * static_cast<size_t>(x);
                image.at(x, y) =
                    row[i] | (uint32_t{row[i + 1]} << 8) | (uint32_t{row[i + 2]} << 16);
            }
            packbits_row(row.data(), row.size(), expected);
        }
        const auto file = encode_tiff(image);
        ASSERT_TRUE(file);
        ASSERT_GT(file->size(), 8 + expected.size());
        EXPECT_TRUE(file->substr(8, expected.size()) == expected) << round;
    }
}

TEST(BitmapPaths, PackBitsCodes) {
    auto packed = [](std::vector<uint8_t> bytes) {
        std::string out;
        packbits_row(bytes.data(), bytes.size(), out);
        return std::vector<uint8_t>(out.begin(), out.end());
    };
    using V = std::vector<uint8_t>;
    EXPECT_EQ(packed({}), V{});
    EXPECT_EQ(packed({7}), (V{0, 7}));
    EXPECT_EQ(packed({7, 7, 7}), (V{0xFE, 7}));
    EXPECT_EQ(packed({1, 2, 3}), (V{2, 1, 2, 3}));
    // literal, a run of two, literal: one literal.
    EXPECT_EQ(packed({1, 5, 5, 2}), (V{3, 1, 5, 5, 2}));
    // A run of three stays a run, and so does a run of two before another run.
    EXPECT_EQ(packed({1, 5, 5, 5, 2}), (V{0, 1, 0xFE, 5, 0, 2}));
    EXPECT_EQ(packed({1, 5, 5, 6, 6, 6}), (V{0, 1, 0xFF, 5, 0xFE, 6}));
    // A literal of 127 bytes has no room for a run of two.
    V almost(127);
    for (size_t i = 0; i < almost.size(); ++i) {
        almost[i] = static_cast<uint8_t>(i + 10);
    }
    V joined = almost;
    V expected_joined(1, 126);
    for (uint8_t b : almost) {
        expected_joined.push_back(b);
    }
    for (int b : {3, 3, 4}) {
        joined.push_back(static_cast<uint8_t>(b));
    }
    for (int b : {0xFF, 3, 0, 4}) {
        expected_joined.push_back(static_cast<uint8_t>(b));
    }
    EXPECT_EQ(packed(joined), expected_joined);
    // Runs over 128 are split, 128 first.
    V long_run(130, 9);
    EXPECT_EQ(packed(long_run), (V{0x81, 9, 0xFF, 9}));
    // The codes can outgrow the row: a single byte between runs of two costs a literal of its
    // own (six bytes for every five here).
    V short_literals;
    for (int i = 0; i < 100; ++i) {
        const auto b = static_cast<uint8_t>(i % 2 != 0 ? 10 : 20);
        for (uint8_t v :
             {uint8_t{1}, b, b, static_cast<uint8_t>(b + 1), static_cast<uint8_t>(b + 1)}) {
            short_literals.push_back(v);
        }
    }
    const V grown = packed(short_literals);
    ASSERT_EQ(grown.size(), 600u);
    EXPECT_EQ((V{grown.begin(), grown.begin() + 6}), (V{0, 1, 0xFF, 20, 0xFF, 21}));
    // A literal holds at most 128 bytes.
    V ramp(130);
    for (size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<uint8_t>(i);
    }
    const V out = packed(ramp);
    ASSERT_EQ(out.size(), 1u + 128 + 1 + 2);
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(out[129], 1);
    EXPECT_EQ(out[130], 128);
}

// ---- Run-length encoders, written out the long way ------------------------------------------

int32_t plain_run(const uint8_t* px, int32_t i, int32_t n, int32_t limit) {
    int32_t run = 1;
    while (i + run < n && run < limit && px[i + run] == px[i]) {
        ++run;
    }
    return run;
}

void plain_rle8(std::string& out, const uint8_t* px, int32_t n) {
    for (int32_t i = 0; i < n;) {
        const int32_t run = plain_run(px, i, n, 255);
        if (run >= 2) {
            out += static_cast<char>(run);
            out += static_cast<char>(px[i]);
            i += run;
            continue;
        }
        int32_t j = i;
        while (j < n && j - i < 255 && plain_run(px, j, n, 2) < 2) {
            ++j;
        }
        if (j - i < 3) {
            for (int32_t k = i; k < j; ++k) {
                out += '\1';
                out += static_cast<char>(px[k]);
            }
        } else {
            out += '\0';
            out += static_cast<char>(j - i);
            out.append(reinterpret_cast<const char*>(px + i), static_cast<size_t>(j - i));
            if ((j - i) % 2 != 0) {
                out += '\0';
            }
        }
        i = j;
    }
}

void plain_rle4(std::string& out, const uint8_t* px, int32_t n) {
    auto pair = [](uint8_t hi, uint8_t lo) { return static_cast<char>((hi << 4) | (lo & 15)); };
    for (int32_t i = 0; i < n;) {
        const int32_t run = plain_run(px, i, n, 255);
        if (run >= 2) {
            out += static_cast<char>(run);
            out += pair(px[i], px[i]);
            i += run;
            continue;
        }
        int32_t j = i;
        while (j < n && j - i < 254 && plain_run(px, j, n, 2) < 2) {
            ++j;
        }
        const int32_t even = (j - i) & ~1;
        if (even >= 3) {
            out += '\0';
            out += static_cast<char>(even);
            for (int32_t k = i; k < i + even; k += 2) {
                out += pair(px[k], px[k + 1]);
            }
            if ((even / 2) % 2 != 0) {
                out += '\0';
            }
            i += even;
            continue;
        }
        for (int32_t k = i; k < j; k += 2) {
            const bool two = k + 1 < j;
            out += static_cast<char>(two ? 2 : 1);
            out += pair(px[k], two ? px[k + 1] : 0);
        }
        i = j;
    }
}

void plain_tga_rle(std::string& out, const uint8_t* px, int32_t n) {
    for (int32_t i = 0; i < n;) {
        const int32_t run = plain_run(px, i, n, 128);
        if (run >= 2) {
            out += static_cast<char>(0x80 | (run - 1));
            out += static_cast<char>(px[i]);
            i += run;
            continue;
        }
        int32_t j = i;
        while (j < n && j - i < 128 && plain_run(px, j, n, 2) < 2) {
            ++j;
        }
        out += static_cast<char>(j - i - 1);
        out.append(reinterpret_cast<const char*>(px + i), static_cast<size_t>(j - i));
        i = j;
    }
}

PaletteImage random_indices(int32_t w, int32_t h) {
    PaletteImage image;
    image.indices = random_classes(w, h);
    for (uint8_t& v : image.indices.data()) {
        v = static_cast<uint8_t>(v == 7 ? 9 : v);  // a fifth index, within 4 bits
    }
    return image;
}

TEST(BitmapPaths, RunLengthEncodersMatchTheirPlainForm) {
    for (int32_t w : {1, 2, 7, 64, 255, 256, 301, 720}) {
        SCOPED_TRACE(w);
        const PaletteImage image = random_indices(w, 6);
        for (int32_t bits : {4, 8}) {
            std::string expected;
            for (int32_t y = image.indices.height() - 1; y >= 0; --y) {
                (bits == 8 ? plain_rle8 : plain_rle4)(expected, image.indices.row(y), w);
                expected += '\0';
                expected += y > 0 ? '\0' : '\1';
            }
            const auto file = encode_bmp_indexed(image, bits, true);
            ASSERT_TRUE(file);
            const size_t offset = 14 + 40 + 4 * (bits == 4 ? 16 : 256);
            EXPECT_TRUE(file->substr(offset) == expected) << bits;
        }
        std::string expected;
        for (int32_t y = image.indices.height() - 1; y >= 0; --y) {
            plain_tga_rle(expected, image.indices.row(y), w);
        }
        const auto tga = encode_tga(image, true);
        ASSERT_TRUE(tga);
        const size_t header = 18 + 256 * 3;
        EXPECT_TRUE(tga->substr(header, expected.size()) == expected);
        EXPECT_EQ(tga->size(), header + expected.size() + 26);
    }
}

// ---- Canvas reuse --------------------------------------------------------------------------

TEST(BitmapPaths, AClearedCanvasIsAFreshOne) {
    SubpictureCanvas canvas(60, 30);
    canvas.compose(random_classes(20, 10), 20, 10, 45, 25, false, true);  // clipped
    canvas.compose(random_classes(12, 8), 12, 8, -4, 3, false, true);
    ASSERT_TRUE(canvas.bounding_box());
    canvas.clear();
    EXPECT_FALSE(canvas.bounding_box());
    EXPECT_TRUE(canvas.classes().data() == SubpictureCanvas(60, 30).classes().data());

    // Composing after a clear gives what a fresh canvas gives.
    const ClassMap seg = random_classes(15, 6);
    SubpictureCanvas fresh(60, 30);
    canvas.compose(seg, 15, 6, 30, 10, false, true);
    fresh.compose(seg, 15, 6, 30, 10, false, true);
    EXPECT_EQ(canvas.bounding_box(), fresh.bounding_box());
    EXPECT_TRUE(canvas.classes().data() == fresh.classes().data());
    canvas.clear();
    canvas.clear();  // nothing composed: nothing to do
    EXPECT_FALSE(canvas.bounding_box());
}

TEST(BitmapPaths, ComposeCopiesOnlyInkFromMapsSmallerThanTheirBox) {
    SubpictureCanvas canvas(30, 20);
    ClassMap ink(4, 3, kBackground);
    ink.at(3, 2) = 1;
    ink.at(0, 0) = 2;
    // A 10 x 8 box of which the map covers the top left 4 x 3; placed across the left edge.
    canvas.compose(ink, 10, 8, -0, 5, false, true);
    canvas.compose(ink, 10, 8, -3, 12, false, true);
    EXPECT_EQ(*canvas.bounding_box(), (Rect{0, 5, 10, 20}));
    EXPECT_EQ(canvas.classes().at(0, 5), 2);
    EXPECT_EQ(canvas.classes().at(3, 7), 1);
    EXPECT_EQ(canvas.classes().at(0, 14), 1);  // (3, 2) of the map, moved 3 left
    int inked = 0;
    for (uint8_t v : canvas.classes().data()) {
        inked += v != kBackground ? 1 : 0;
    }
    EXPECT_EQ(inked, 3);
}

}  // namespace
}  // namespace tessara::imaging
