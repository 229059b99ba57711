#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/messages.h"
#include "imaging/bitmap_writer.h"
#include "imaging/image_types.h"
#include "imaging/png_writer.h"
#include "imaging/yc_writer.h"
#include "render/subpicture_canvas.h"
#include "script/settings.h"
#include "test_support.h"

namespace tessara::imaging {
namespace {

using base::MessageKind;
using base::RecordedMessage;
using base::RecordingMessages;

// ---- Composition and extent ---------------------------------------------------------------

ClassMap filled(int32_t w, int32_t h, uint8_t value) {
    return ClassMap(w, h, value);
}

TEST(SubpictureCanvas, ComposeClipsCopiesInkAndGrowsByWholeBox) {
    SubpictureCanvas canvas(20, 10);
    EXPECT_FALSE(canvas.bounding_box());

    ClassMap seg = filled(6, 4, kBackground);
    seg.at(0, 0) = 1;  // lands outside (x -2)
    seg.at(3, 1) = 2;
    canvas.compose(seg, 6, 4, -2, 3, false, true);
    ASSERT_TRUE(canvas.bounding_box());
    EXPECT_EQ(*canvas.bounding_box(), (Rect{0, 3, 4, 7}));
    EXPECT_EQ(canvas.classes().at(1, 4), 2);
    // Background pixels of a later segment do not erase earlier ink.
    canvas.compose(filled(3, 3, kBackground), 3, 3, 0, 3, false, true);
    EXPECT_EQ(canvas.classes().at(1, 4), 2);

    // The box counts even when its class map is empty (all background).
    canvas.compose(ClassMap(), 5, 2, 17, 8, false, true);
    EXPECT_EQ(*canvas.bounding_box(), (Rect{0, 3, 20, 10}));

    // Tabs and boxes wholly outside change nothing.
    canvas.compose(filled(4, 4, 0), 4, 4, 10, 0, true, true);
    canvas.compose(filled(4, 4, 0), 4, 4, 30, 0, false, true);
    canvas.compose(filled(4, 4, 0), 4, 4, 5, -4, false, true);
    EXPECT_EQ(*canvas.bounding_box(), (Rect{0, 3, 20, 10}));
    EXPECT_EQ(canvas.classes().at(11, 1), kBackground);
}

TEST(SubpictureCanvas, WithoutBitmapsOnlyTheBoxGrows) {
    SubpictureCanvas canvas(20, 10);
    canvas.compose(filled(4, 4, 0), 4, 4, 2, 2, false, false);
    EXPECT_EQ(*canvas.bounding_box(), (Rect{2, 2, 6, 6}));
    EXPECT_EQ(canvas.classes().at(3, 3), kBackground);
}

SubpictureCanvas canvas_with_box(int32_t w, int32_t h, Rect box) {
    SubpictureCanvas canvas(w, h);
    canvas.compose(ClassMap(), box.width(), box.height(), box.left, box.top, false, false);
    return canvas;
}

TEST(BitmapExtent, Cases) {
    const SubpictureCanvas empty(720, 480);
    EXPECT_EQ(bitmap_extent(empty, {}), (Rect{0, 0, 1, 1}));
    EXPECT_EQ(bitmap_extent(empty, {.dont_clip = true}), (Rect{0, 0, 720, 480}));

    // Odd widths grow on the right.
    const auto odd = canvas_with_box(720, 480, {10, 20, 111, 60});
    EXPECT_EQ(bitmap_extent(odd, {}), (Rect{10, 20, 112, 60}));
    // One pixel of border, already even.
    const auto even = canvas_with_box(720, 480, {10, 20, 110, 60});
    EXPECT_EQ(bitmap_extent(even, {.clip_minus_one_pixel = true}), (Rect{9, 19, 111, 61}));
    // Nothing passes the canvas edges: at the right edge the evening column is taken on the
    // left, and a box as wide as an odd canvas loses its last column.
    const auto right = canvas_with_box(720, 480, {433, 20, 720, 60});
    EXPECT_EQ(bitmap_extent(right, {}), (Rect{432, 20, 720, 60}));
    const auto border = canvas_with_box(720, 480, {434, 20, 720, 60});
    EXPECT_EQ(bitmap_extent(border, {.clip_minus_one_pixel = true}), (Rect{432, 19, 720, 61}));
    const auto edge = canvas_with_box(101, 50, {0, 0, 101, 50});
    EXPECT_EQ(bitmap_extent(edge, {.clip_minus_one_pixel = true}), (Rect{0, 0, 100, 50}));
    EXPECT_EQ(bitmap_extent(canvas_with_box(1, 5, {0, 0, 1, 5}), {}), (Rect{0, 0, 1, 5}));

    // A fixed width replaces the horizontal span, centred, whatever the content.
    EXPECT_EQ(bitmap_extent(odd, {.fixed_width = 600}), (Rect{60, 20, 660, 60}));
    EXPECT_EQ(bitmap_extent(empty, {.fixed_width = 600, .dont_clip = true}),
              (Rect{60, 0, 660, 480}));
    // Wider than the canvas: the whole width of the canvas.
    EXPECT_EQ(bitmap_extent(canvas_with_box(99, 10, {0, 0, 2, 2}), {.fixed_width = 100}),
              (Rect{0, 0, 99, 2}));

    script::ConversionSettings settings;
    settings.fixed_width = 600;
    settings.res_x = 704;
    EXPECT_EQ(render::extent_options(settings).fixed_width, 600);
    settings.full_width = true;
    EXPECT_EQ(render::extent_options(settings).fixed_width, 704);
}

// ---- Image type table -----------------------------------------------------------------------

TEST(ImageTypes, TableAndLookups) {
    const auto& keys = script::image_type_keys();
    ASSERT_EQ(image_type_table().size(), keys.size());
    for (const ImageType& t : image_type_table()) {
        EXPECT_EQ(image_type_id(keys[static_cast<size_t>(t.id)]), t.id);
    }
    EXPECT_EQ(image_type_id(u"BMP4rle"), 3);
    EXPECT_EQ(image_type_id("TgaRle"), 7);
    EXPECT_EQ(image_type_id(u"png"), kUnknownImageType);
    EXPECT_EQ(image_type_id(u"bmp8 "), kUnknownImageType);

    EXPECT_EQ(image_type_label(5), "Compressed TIFF");
    EXPECT_EQ(image_type_extension(9), "uyc");
    EXPECT_EQ(image_type_bits_per_pixel(3), 4);
    EXPECT_FALSE(image_type_has_palette(4));
    EXPECT_TRUE(image_type_has_palette(6));
    for (int32_t id : {-1, kUnknownImageType, 99}) {
        EXPECT_EQ(image_type_key(id), "");
        EXPECT_EQ(image_type_label(id), "");
        EXPECT_EQ(image_type_extension(id), "");
        EXPECT_FALSE(image_type_has_palette(id));
        EXPECT_EQ(image_type_bits_per_pixel(id), 0);
    }
}

// ---- Files read back by an independent decoder ----------------------------------------------

// Distinct channels everywhere, so a swapped red and blue shows.
constexpr ClassColours kColours{0x123456, 0xA0B0C0, 0x00FF7F, 0x3C2814};

// A canvas whose rows exercise the run-length encoders: long runs past 255 pixels, runs of
// every short length, lone pixels in odd and even numbers, and background rows. Its content
// spans the whole of an odd-width canvas, so the extent leaves out the last column: an even
// width that stays inside the canvas.
SubpictureCanvas test_canvas() {
    constexpr int32_t kW = 301;
    constexpr int32_t kH = 9;
    ClassMap seg(kW, kH, kBackground);
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int32_t x = 2; x < 290; ++x) {
        seg.at(x, 0) = 0;                                  // one long run
        seg.at(x, 1) = static_cast<uint8_t>(x % 4);        // no runs at all
        seg.at(x, 2) = static_cast<uint8_t>((x / 2) % 3);  // pairs
    }
    for (int32_t y = 3; y < 7; ++y) {
        for (int32_t x = 0; x < kW;) {
            const auto len = static_cast<int32_t>(1 + next(y == 3 ? 2 : 7));
            const auto k = static_cast<uint8_t>(next(4));
            for (int32_t i = 0; i < len && x < kW; ++i, ++x) {
                seg.at(x, y) = k;
            }
        }
    }
    for (int32_t x = 0; x < kW; ++x) {
        seg.at(x, 8) = x < 3 || x > 297 ? 1 : kBackground;  // row 7 stays background
    }
    SubpictureCanvas canvas(kW, kH + 2);
    canvas.compose(seg, kW, kH, 0, 1, false, true);
    return canvas;
}

struct Decoded {
    int32_t width = 0;
    int32_t height = 0;
    std::string mode;
    int64_t compression = -1;  // TIFF only
    std::string software;      // TIFF only
    std::string rgb;           // 3 bytes a pixel, top row first
    std::string indices;       // palette images: one byte a pixel
    std::string palette;       // palette images: 768 bytes
};

const char* pillow_python() {
    static const char* python = []() -> const char* {
        for (const char* candidate : {"/usr/bin/python3", "python3"}) {
            const std::string probe = std::string(candidate) + " -c 'import PIL' >/dev/null 2>&1";
            if (std::system(probe.c_str()) == 0) {
                return candidate;
            }
        }
        return nullptr;
    }();
    return python;
}

constexpr const char* kDecodeScript = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.load()
tags = getattr(im, 'tag_v2', {})
out = open(sys.argv[2], 'wb')
out.write(('%d %d %s %d %s\n' % (im.width, im.height, im.mode, tags.get(259, -1),
                                 tags.get(305, '-'))).encode())
out.write(im.convert('RGB').tobytes())
if im.mode == 'P':
    out.write(im.tobytes())
    out.write(bytes((list(im.getpalette()) + [0] * 768)[:768]))
)";

std::optional<Decoded> decode(const std::filesystem::path& file, const test::TempDir& dir) {
    const auto script = dir.file("decode.py");
    const auto result = dir.file("decoded.bin");
    test::write_file(script, kDecodeScript);
    const std::string command = std::string(pillow_python()) + " " + script.string() + " " +
                                file.string() + " " + result.string();
    if (std::system(command.c_str()) != 0) {
        return std::nullopt;
    }
    const std::string bytes = test::read_file(result);
    Decoded d;
    const size_t eol = bytes.find('\n');
    char mode[16] = {};
    char software[64] = {};
    long long compression = 0;
    if (eol == std::string::npos ||
        std::sscanf(bytes.substr(0, eol).c_str(), "%d %d %15s %lld %63s", &d.width, &d.height, mode,
                    &compression, software) != 5) {
        return std::nullopt;
    }
    d.mode = mode;
    d.compression = compression;
    d.software = software;
    const size_t n = static_cast<size_t>(d.width) * static_cast<size_t>(d.height);
    d.rgb = bytes.substr(eol + 1, 3 * n);
    if (d.mode == "P") {
        d.indices = bytes.substr(eol + 1 + 3 * n, n);
        d.palette = bytes.substr(eol + 1 + 4 * n, 768);
    }
    return d;
}

uint32_t le32_at(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at]) |
                                 static_cast<uint8_t>(b[at + 1]) << 8 |
                                 static_cast<uint8_t>(b[at + 2]) << 16 |
                                 static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}

uint16_t le16_at(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1])
                                                                   << 8);
}

// Every pixel of the decoded picture against the canvas inside `extent`; for palette images
// also the stored index and the table entry it names.
void expect_pixels(const Decoded& d, const SubpictureCanvas& canvas, const Rect& extent,
                   const PaletteOrder* order) {
    ASSERT_EQ(d.width, extent.width());
    ASSERT_EQ(d.height, extent.height());
    ASSERT_EQ(d.rgb.size(), size_t(d.width) * size_t(d.height) * 3);
    int mismatches = 0;
    for (int32_t y = 0; y < d.height && mismatches < 5; ++y) {
        for (int32_t x = 0; x < d.width && mismatches < 5; ++x) {
            const uint8_t k = canvas.classes().get(extent.left + x, extent.top + y, kBackground);
            const uint32_t c = kColours[k];
            const size_t i = size_t(y) * size_t(d.width) + size_t(x);
            const uint32_t got =
                static_cast<uint8_t>(d.rgb[3 * i]) | static_cast<uint8_t>(d.rgb[3 * i + 1]) << 8 |
                static_cast<uint32_t>(static_cast<uint8_t>(d.rgb[3 * i + 2])) << 16;
            if (got != c) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << std::hex << got
                              << " instead of " << c;
                ++mismatches;
            }
            if (order != nullptr && !d.indices.empty() &&
                static_cast<uint8_t>(d.indices[i]) != (*order)[k]) {
                ADD_FAILURE() << "index at (" << x << ", " << y << ")";
                ++mismatches;
            }
        }
    }
    if (order != nullptr) {
        ASSERT_EQ(d.mode, "P");
        for (size_t k = 0; k < 4; ++k) {
            const size_t at = 3 * size_t((*order)[k]);
            EXPECT_EQ(static_cast<uint8_t>(d.palette[at]), kColours[k] & 0xFF);
            EXPECT_EQ(static_cast<uint8_t>(d.palette[at + 2]), (kColours[k] >> 16) & 0xFF);
        }
    }
}

TEST(BitmapFiles, EveryLibraryTypeDecodesToTheCanvas) {
    if (pillow_python() == nullptr) {
        GTEST_SKIP() << "Python with Pillow is not available";
    }
    test::TempDir dir;
    const SubpictureCanvas canvas = test_canvas();
    struct Case {
        int32_t type;
        PaletteOrder order;
        uint32_t bmp_compression;
    };
    const Case cases[] = {
        // With order 3, 2, 1, 0 class 2 is stored as index 1 and entry 1 holds colour 2.
        {0, {5, 9, 200, 0}, 0}, {1, {3, 2, 1, 0}, 1},         {2, {3, 2, 1, 0}, 0},
        {3, {7, 0, 15, 2}, 2},  {4, kDefaultPaletteOrder, 0}, {5, kDefaultPaletteOrder, 0},
        {6, {1, 2, 3, 0}, 0},   {7, {250, 251, 252, 253}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(image_type_key(c.type));
        const auto path = dir.file("sub_0001." + std::string(image_type_extension(c.type)));
        RecordingMessages messages;
        Rect extent;
        ASSERT_TRUE(
            write_bitmap(canvas, path.string(), {}, kColours, c.type, c.order, extent, messages));
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_EQ(extent, (Rect{0, 1, 300, 10}));

        const std::optional<Decoded> d = decode(path, dir);
        ASSERT_TRUE(d);
        const bool palette = image_type_has_palette(c.type);
        expect_pixels(*d, canvas, extent, palette ? &c.order : nullptr);

        const std::string bytes = test::read_file(path);
        if (image_type_table()[size_t(c.type)].encoding == ImageEncoding::Bmp) {
            EXPECT_EQ(le16_at(bytes, 28), image_type_bits_per_pixel(c.type));
            EXPECT_EQ(le32_at(bytes, 30), c.bmp_compression);
            EXPECT_EQ(le32_at(bytes, 2), bytes.size());
        }
        if (c.type == 3) {
            // A 16-entry table holding only the entries the classes use.
            EXPECT_EQ(le32_at(bytes, 10), 14u + 40u + 16u * 4u);
            for (uint8_t i = 0; i < 16; ++i) {
                const bool used = i == 7 || i == 0 || i == 15 || i == 2;
                if (!used) {
                    EXPECT_EQ(le32_at(bytes, 54 + 4u * i), 0u) << int(i);
                }
            }
        }
        if (c.type == 5) {
            EXPECT_EQ(d->compression, 32773);
            EXPECT_EQ(d->software, "Tessara");
        }
        if (c.type == 6 || c.type == 7) {
            EXPECT_EQ(static_cast<uint8_t>(bytes[2]), c.type == 6 ? 1 : 9);
        }
    }
}

TEST(BitmapFiles, PathlessUnknownAndUnwritable) {
    test::TempDir dir;
    const SubpictureCanvas canvas = canvas_with_box(100, 50, {10, 10, 21, 20});
    RecordingMessages messages;
    Rect extent;
    // No path: only the extent, even for an unknown type.
    EXPECT_TRUE(write_bitmap(canvas, "", {}, kColours, kUnknownImageType, kDefaultPaletteOrder,
                             extent, messages));
    EXPECT_EQ(extent, (Rect{10, 10, 22, 20}));
    EXPECT_TRUE(messages.messages().empty());

    const std::string path = dir.file("a.bmp").string();
    EXPECT_FALSE(write_bitmap(canvas, path, {}, kColours, kUnknownImageType, kDefaultPaletteOrder,
                              extent, messages));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{path, "Unknown error"}));
    EXPECT_FALSE(std::filesystem::exists(path));

    messages.clear();
    const std::string missing = dir.file("no/such/folder/a.bmp").string();
    EXPECT_FALSE(
        write_bitmap(canvas, missing, {}, kColours, 0, kDefaultPaletteOrder, extent, messages));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{missing, "No such file or directory"}));

    // A width no format can hold is refused before anything is built.
    messages.clear();
    EXPECT_FALSE(write_bitmap(SubpictureCanvas(70000, 1), path, {.dont_clip = true}, kColours, 0,
                              kDefaultPaletteOrder, extent, messages));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{path, "File too large"}));
}

// ---- YC ---------------------------------------------------------------------------------------

std::vector<uint16_t> words_at(const std::string& b, size_t at, size_t n) {
    std::vector<uint16_t> w;
    for (size_t i = 0; i < n; ++i) {
        w.push_back(le16_at(b, at + 2 * i));
    }
    return w;
}

TEST(YcFiles, LumaAndChroma) {
    // Values of the fixed formulas, truncation included (white is 234, not 235).
    EXPECT_EQ(yc_luma(0x000000), 16);
    EXPECT_EQ(yc_luma(0xFFFFFF), 234);
    EXPECT_EQ(yc_luma(0x0000FF), 81);  // red
    EXPECT_EQ(yc_luma(0x00FF00), 144);
    EXPECT_EQ(yc_chroma(0x000000, 0x000000), 0x8080);
    EXPECT_EQ(yc_chroma(0x0000FF, 0x0000FF), 0xF05A);  // Cr high, Cb low
    EXPECT_EQ(yc_chroma(0xFF0000, 0xFF0000), 0x6DF0);
    EXPECT_EQ(yc_chroma(0x0000FF, 0xFF0000), 0xAEA5);  // red and blue averaged
}

TEST(YcFiles, RunLengthEncoding) {
    const std::vector<uint16_t> in{1, 2, 2, 3, 3, 3, kYcRunEscape, 4, kYcRunEscape, kYcRunEscape};
    EXPECT_EQ(yc_run_length_encode(in),
              (std::vector<uint16_t>{1, 2, 2, kYcRunEscape, 3, 3, kYcRunEscape, kYcRunEscape, 4,
                                     kYcRunEscape, 2, kYcRunEscape}));
    EXPECT_EQ(yc_run_length_encode(std::vector<uint16_t>{7}), (std::vector<uint16_t>{7}));
    EXPECT_TRUE(yc_run_length_encode({}).empty());
}

TEST(YcFiles, HeaderAndPlaneOrderOfBothPasses) {
    // One row of two pairs: (class 0, class 3) and (class 1, class 2).
    ClassMap classes(4, 1, kBackground);
    classes.at(0, 0) = 0;
    classes.at(2, 0) = 1;
    classes.at(3, 0) = 2;
    const Rect extent{0, 0, 4, 1};
    const std::vector<uint16_t> key{0x00FF, 0xFFFF};
    const std::vector<uint16_t> luma{
        static_cast<uint16_t>(yc_luma(kColours[0]) | yc_luma(kColours[3]) << 8),
        static_cast<uint16_t>(yc_luma(kColours[1]) | yc_luma(kColours[2]) << 8)};
    const std::vector<uint16_t> chroma{yc_chroma(kColours[0], kColours[3]),
                                       yc_chroma(kColours[1], kColours[2])};

    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed);
        const std::optional<std::string> file = encode_yc(classes, extent, kColours, compressed);
        ASSERT_TRUE(file);
        ASSERT_EQ(file->size(), 32u + 2 * 3 * 4);  // two-word planes stay as they are
        EXPECT_EQ(file->substr(0, 4), "UYC ");
        EXPECT_EQ(words_at(*file, 4, 4), (std::vector<uint16_t>{0x0100, 4, 1, compressed}));
        EXPECT_EQ(file->substr(12, 20), std::string(20, '\0'));
        const auto plane = [&](size_t i) { return words_at(*file, 32 + 4 * i, 2); };
        if (compressed) {
            EXPECT_EQ(plane(0), key);
            EXPECT_EQ(plane(1), luma);
            EXPECT_EQ(plane(2), chroma);
        } else {
            EXPECT_EQ(plane(0), luma);
            EXPECT_EQ(plane(1), chroma);
            EXPECT_EQ(plane(2), key);
        }
        EXPECT_EQ(plane(3), luma);
        EXPECT_EQ(plane(4), chroma);
        EXPECT_EQ(plane(5), key);
    }
}

TEST(YcFiles, UniformRowCompressesToOneRunPerPlane) {
    ClassMap classes(720, 1, 0);
    const std::optional<std::string> file = encode_yc(classes, Rect{0, 0, 720, 1}, kColours, true);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->size(), 32u + 2 * 3 * 6);
    const uint16_t y = static_cast<uint16_t>(yc_luma(kColours[0]) * 0x0101);
    const uint16_t c = yc_chroma(kColours[0], kColours[0]);
    EXPECT_EQ(words_at(*file, 32, 18),
              (std::vector<uint16_t>{kYcRunEscape, 360, 0xFFFF, kYcRunEscape, 360, y, kYcRunEscape,
                                     360, c, kYcRunEscape, 360, y, kYcRunEscape, 360, c,
                                     kYcRunEscape, 360, 0xFFFF}));
}

TEST(YcFiles, ExtentIsEvenAndWidthIsLimited) {
    test::TempDir dir;
    const std::string path = dir.file("s.yc").string();
    RecordingMessages messages;
    Rect extent;

    // An empty subpicture: 1 x 1 becomes 2 x 1.
    ASSERT_TRUE(write_bitmap(SubpictureCanvas(720, 480), path, {}, kColours, 8,
                             kDefaultPaletteOrder, extent, messages));
    EXPECT_EQ(extent, (Rect{0, 0, 2, 1}));
    const std::string file = test::read_file(path);
    EXPECT_EQ(words_at(file, 6, 2), (std::vector<uint16_t>{2, 1}));
    EXPECT_EQ(file.size(), 32u + 2 * 3 * 2);

    // Odd left and top move out, odd right moves out, the bottom stays; an odd right at the
    // edge of an odd-width canvas moves in instead.
    EXPECT_EQ(yc_extent(Rect{3, 5, 9, 7}, 720), (Rect{2, 4, 10, 7}));
    EXPECT_EQ(yc_extent(Rect{3, 5, 719, 7}, 719), (Rect{2, 4, 718, 7}));
    EXPECT_EQ(yc_extent(Rect{0, 0, 1, 1}, 1), (Rect{0, 0, 2, 1}));
    ASSERT_TRUE(write_bitmap(canvas_with_box(719, 480, {433, 20, 719, 60}), path, {}, kColours, 9,
                             kDefaultPaletteOrder, extent, messages));
    EXPECT_EQ(extent, (Rect{432, 20, 718, 60}));

    ASSERT_TRUE(write_bitmap(SubpictureCanvas(1000, 4), path, {.dont_clip = true}, kColours, 9,
                             kDefaultPaletteOrder, extent, messages));
    EXPECT_EQ(extent.width(), 1000);
    EXPECT_TRUE(messages.messages().empty());

    EXPECT_FALSE(write_bitmap(SubpictureCanvas(1002, 4), path, {.dont_clip = true}, kColours, 9,
                              kDefaultPaletteOrder, extent, messages));
    EXPECT_EQ(messages.messages(),
              (std::vector<RecordedMessage>{{MessageKind::Error, std::string(kYcWidthMessage)}}));
    // The refused write left the earlier file alone.
    EXPECT_EQ(words_at(test::read_file(path), 6, 1), (std::vector<uint16_t>{1000}));
}

// ---- PNG --------------------------------------------------------------------------------------

TEST(PngFiles, EnlargedSubtitleDecodes) {
    if (pillow_python() == nullptr) {
        GTEST_SKIP() << "Python with Pillow is not available";
    }
    test::TempDir dir;
    const SubpictureCanvas canvas = test_canvas();
    const Rect whole{0, 0, canvas.width(), canvas.height()};
    const Bitmap<uint32_t> rgb = build_rgb_image(canvas.classes(), whole, kColours);
    const auto path = dir.file("shot.png");
    RecordingMessages messages;
    ASSERT_TRUE(write_png(path.string(), enlarge(rgb, 3), messages));
    const std::optional<Decoded> d = decode(path, dir);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->mode, "RGB");
    ASSERT_EQ(d->width, 3 * canvas.width());
    ASSERT_EQ(d->height, 3 * canvas.height());
    // Shrink back by sampling one pixel of every 3 x 3 block.
    Decoded sampled = *d;
    sampled.width = canvas.width();
    sampled.height = canvas.height();
    sampled.rgb.clear();
    for (int32_t y = 0; y < d->height; y += 3) {
        for (int32_t x = 0; x < d->width; x += 3) {
            const size_t i = (size_t(y + 2) * size_t(d->width) + size_t(x + 1)) * 3;
            sampled.rgb += d->rgb.substr(i, 3);
        }
    }
    expect_pixels(sampled, canvas, whole, nullptr);

    EXPECT_FALSE(write_png(dir.file("empty.png").string(), Bitmap<uint32_t>(), messages));
    EXPECT_EQ(messages.texts().back(), "Unknown error");
}

}  // namespace
}  // namespace tessara::imaging
