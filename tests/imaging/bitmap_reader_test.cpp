#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "imaging/bitmap_reader.h"
#include "imaging/bitmap_writer.h"
#include "imaging/image_types.h"
#include "imaging/png_writer.h"
#include "imaging/yc_writer.h"
#include "render/subpicture_canvas.h"
#include "test_support.h"

namespace tessara::imaging {
namespace {

// Distinct channels, so a swapped red and blue shows.
constexpr ClassColours kColours{0x123456, 0xA0B0C0, 0x00FF7F, 0x3C2814};
constexpr ClassOpacity kOpacity{0xFF, 0x80, 0x40, 0x00};

uint32_t argb_of(uint32_t colour, uint8_t alpha = 0xFF) {
    return uint32_t{alpha} << 24 | (colour & 0xFF) << 16 | (colour & 0xFF00) |
           (colour >> 16 & 0xFF);
}

// All four classes in runs the encoders treat differently: one longer than 255, single pixels,
// pairs, short runs of every length, a background row. The content starts on an odd column and
// row, so the YC extent moves it, and the width is odd.
SubpictureCanvas reader_canvas() {
    constexpr int32_t kW = 299;
    constexpr int32_t kH = 6;
    ClassMap seg(kW, kH, kBackground);
    for (int32_t x = 0; x < kW; ++x) {
        seg.at(x, 0) = x < 270 ? 0 : 2;
        seg.at(x, 1) = static_cast<uint8_t>(x % 4);
        seg.at(x, 2) = static_cast<uint8_t>((x / 2) % 4);
        seg.at(x, 4) = static_cast<uint8_t>((x * 7 / 5 + x / 11) % 4);
        seg.at(x, 5) = x == 0 || x == kW - 1 ? 1 : kBackground;  // row 3 stays background
    }
    SubpictureCanvas canvas(kW + 4, kH + 4);
    canvas.compose(seg, kW, kH, 1, 3, false, true);
    return canvas;
}

// What the file of a type must decode to, pixel by pixel, from the class map inside `extent`.
std::vector<uint32_t> expected_pixels(const SubpictureCanvas& canvas, const Rect& extent,
                                      const ImageType* type) {
    std::vector<uint32_t> out;
    for (int32_t y = extent.top; y < extent.bottom; ++y) {
        for (int32_t x = extent.left; x < extent.right; ++x) {
            const uint8_t k = canvas.classes().get(x, y, kBackground);
            if (type == nullptr) {  // the transparent PNG
                out.push_back(argb_of(kColours[k], kOpacity[k]));
            } else if (type->encoding != ImageEncoding::Yc) {
                out.push_back(argb_of(kColours[k]));
            } else {
                const int32_t first = x - (x - extent.left) % 2;
                const uint8_t a = canvas.classes().get(first, y, kBackground);
                const uint8_t b = canvas.classes().get(first + 1, y, kBackground);
                const uint32_t key = k == kBackground ? 0 : 0xFF;
                out.push_back(key << 24 | uint32_t{yc_luma(kColours[k])} << 16 |
                              yc_chroma(kColours[a], kColours[b]));
            }
        }
    }
    return out;
}

TEST(BitmapReader, EveryWrittenTypeDecodesToItsClassColours) {
    test::TempDir dir;
    const SubpictureCanvas canvas = reader_canvas();
    // An order that is not the identity shows that indices go through the file's own table.
    constexpr PaletteOrder kOrder{3, 0, 2, 1};
    for (int32_t id = 0; id <= static_cast<int32_t>(image_type_table().size()); ++id) {
        const ImageType* type = find_image_type(id);  // past the table: the transparent PNG
        const std::string extension(type != nullptr ? type->extension : "png");
        SCOPED_TRACE(type != nullptr ? std::string(type->key) : extension);
        // Upper case on the file name: the extension is matched without regard to case.
        const std::string path = dir.file("sub_" + std::to_string(id) + "." +
                                          (id % 2 == 0 ? extension : "UPPER." + extension))
                                     .string();
        base::RecordingMessages messages;
        Rect extent;
        const bool written =
            type != nullptr
                ? write_bitmap(canvas, path, {}, kColours, id, kOrder, extent, messages)
                : write_indexed_png(canvas, path, {}, kColours, kOpacity, kOrder, extent, messages);
        ASSERT_TRUE(written);

        std::string error;
        const std::optional<DecodedImage> image = read_image_file(path, error);
        ASSERT_TRUE(image) << error;
        EXPECT_EQ(error, "");
        ASSERT_EQ(image->width, extent.width());
        ASSERT_EQ(image->height, extent.height());
        const std::vector<uint32_t> expected = expected_pixels(canvas, extent, type);
        ASSERT_EQ(image->pixels.size(), expected.size());
        for (size_t i = 0, wrong = 0; i < expected.size() && wrong < 3; ++i) {
            if (image->pixels[i] != expected[i]) {
                ADD_FAILURE() << "pixel (" << i % size_t(image->width) << ", "
                              << i / size_t(image->width) << "): " << std::hex << image->pixels[i]
                              << " instead of " << expected[i];
                ++wrong;
            }
        }
    }
}

// ---- Malformed files ------------------------------------------------------------------------

// Small pictures of every encoder, made in memory: two rows, the second unlike the first.
PaletteImage small_palette_image(int32_t w) {
    PaletteImage image;
    image.indices = Bitmap<uint8_t>(w, 2, 0);
    for (int32_t x = 0; x < w; ++x) {
        image.indices.at(x, 1) = static_cast<uint8_t>(x % 3);
    }
    image.palette[0] = 0x0000FF;
    image.palette[1] = 0x00FF00;
    image.palette[2] = 0xFF0000;
    return image;
}

std::string small_file(std::string_view kind) {
    const PaletteImage p = small_palette_image(6);
    ClassMap classes(6, 2, 1);
    const Rect all{0, 0, 6, 2};
    std::optional<std::string> bytes;
    if (kind == "bmp8")
        bytes = encode_bmp_indexed(p, 8, false);
    if (kind == "rle8")
        bytes = encode_bmp_indexed(p, 8, true);
    if (kind == "rle4")
        bytes = encode_bmp_indexed(p, 4, true);
    if (kind == "tga")
        bytes = encode_tga(p, false);
    if (kind == "tgarle")
        bytes = encode_tga(p, true);
    if (kind == "tif")
        bytes = encode_tiff(build_rgb_image(classes, all, kColours));
    if (kind == "yc")
        bytes = encode_yc(classes, all, kColours, false);
    if (kind == "uyc")
        bytes = encode_yc(classes, all, kColours, true);
    if (kind == "png") {
        const std::array<uint8_t, 3> opacity{0xFF, 0xFF, 0};
        bytes = encode_png_indexed(p.indices, std::span(p.palette).first(3), opacity);
    }
    EXPECT_TRUE(bytes) << kind;
    return bytes.value_or("");
}

std::string with(std::string bytes, size_t at, std::string_view replacement) {
    bytes.replace(at, replacement.size(), replacement);
    return bytes;
}

TEST(BitmapReader, MalformedFilesAreRefusedWithAReason) {
    const std::string bmp8 = small_file("bmp8");
    const std::string rle8 = small_file("rle8");
    const std::string tga = small_file("tgarle");
    const std::string uyc = small_file("uyc");
    const size_t bmp_pixels = 14 + 40 + 4 * 256;
    const size_t tga_pixels = 18 + 3 * 256;
    // Both passes pack the same planes, so the second starts halfway through the data.
    const size_t yc_second_pass = 32 + (uyc.size() - 32) / 2;
    struct Case {
        const char* what;
        std::string extension;
        std::string bytes;
        std::string reason;  // the start of the error
    };
    const Case cases[] = {
        {"wrong signature", "bmp", with(bmp8, 0, "MB"), "not a BMP file"},
        {"a TIFF named .png", "png", small_file("tif"), "not a PNG file"},
        {"a PNG named .yc", "yc", small_file("png"), "not a YC file"},
        {"unknown extension", "gif", bmp8, "unknown image type \"gif\""},
        {"empty", "tif", "", "not a TIFF file"},
        {"cut in the pixels", "bmp", bmp8.substr(0, bmp8.size() - 3),
         "truncated BMP pixel data at row 0"},
        {"RLE8 cut short", "bmp", rle8.substr(0, rle8.size() - 4), "truncated RLE data at row 0"},
        // The bottom row (picture row 1) first: a run of 7 in a row of 6.
        {"RLE8 run past the row", "bmp", with(rle8, bmp_pixels, "\x07\x01"),
         "RLE run past the end of row 1"},
        {"RLE literal past the row", "bmp", with(rle8, bmp_pixels, std::string("\0\x09", 2)),
         "RLE run past the end of row 1"},
        {"index past a short table", "bmp",
         with(with(bmp8, 46, std::string("\x02\0\0\0", 4)), bmp_pixels, "\x05"),
         "palette index 5 past the colour table of 2 at row 1"},
        {"absurd RLE size", "bmp", with(rle8, 18, std::string("\xA0\x86\x01\0\xA0\x86\x01\0", 8)),
         "BMP picture too large (100000 x 100000)"},
        {"TGA packet past the row", "tga", with(tga, tga_pixels, "\x86"),
         "TGA RLE packet past the end of row 1"},
        {"TGA cut short", "tga", tga.substr(0, tga_pixels + 2), "truncated TGA RLE data at row 1"},
        {"TGA of true colour", "tga", with(tga, 2, "\x0A"), "unsupported TGA image type 10"},
        {"TIFF cut short", "tif", small_file("tif").substr(0, 40), "unreadable TIFF"},
        {"UYC run past the row", "uyc", with(uyc, 32, "\xF1\x0F\x04\x00"),
         "YC run of 4 words past the end of row 0"},
        {"UYC passes differ", "uyc", with(uyc, yc_second_pass + 4, "\x01"),
         "the two YC passes differ at row 0"},
        {"YC with bytes after it", "yc", small_file("yc") + "xx", "2 bytes after the YC data"},
        // A picture far larger than the bytes after the header could hold allocates nothing.
        {"YC claiming a large picture", "yc", with(small_file("yc"), 6, "\xE8\x03\xFF\xFF"),
         "truncated YC pixel data for 1000 x 65535 pixels"},
        {"PNG cut short", "png", small_file("png").substr(0, 60), "unreadable PNG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(decode_image(c.bytes, c.extension, error));
        EXPECT_EQ(error.substr(0, c.reason.size()), c.reason) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

// Every cut of every kind of file is refused without reading past the bytes it was given (run
// under the sanitizers, this is where a stray read would show), unless all it loses is optional
// trailing data that leaves the picture whole: a TGA's footer, the text of a TIFF's software tag.
TEST(BitmapReader, EveryTruncationIsRefusedOrLosesNoPixel) {
    const std::pair<const char*, const char*> kinds[] = {
        {"bmp8", "bmp"}, {"rle8", "bmp"}, {"rle4", "bmp"}, {"tga", "tga"}, {"tgarle", "tga"},
        {"tif", "tif"},  {"yc", "yc"},    {"uyc", "uyc"},  {"png", "png"},
    };
    for (const auto& [kind, extension] : kinds) {
        SCOPED_TRACE(kind);
        const std::string whole = small_file(kind);
        std::string error;
        const std::optional<DecodedImage> picture = decode_image(whole, extension, error);
        ASSERT_TRUE(picture) << error;
        for (size_t n = 0; n < whole.size(); ++n) {
            // A heap copy of exactly n bytes, so that a read past them is caught.
            const std::vector<char> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(n));
            const auto image = decode_image(std::string_view(cut.data(), n), extension, error);
            if (image) {
                EXPECT_GE(n, whole.size() - 26);
                EXPECT_EQ(image->pixels, picture->pixels) << n;
            } else {
                EXPECT_FALSE(error.empty()) << n;
            }
        }
    }
}

}  // namespace
}  // namespace tessara::imaging
