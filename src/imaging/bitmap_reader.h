#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reading back the bitmap files a run writes: BMP (4, 8 and 24 bits, plain, RLE4 and RLE8), TGA
// (colour-mapped, plain and RLE), TIFF (through libtiff), Ultech YC and UYC, and PNG (through
// libpng). Pure decoding of bytes; read_image_file is the one call that touches the disk.
namespace tessara::imaging {

// A decoded picture, `width` pixels to a row, rows top-down, no padding.
//
// BMP, TGA, TIFF and PNG: each pixel is 0xAARRGGBB, alpha 0xFF for an opaque pixel (every BMP,
// TGA with a 24-bit colour map and TIFF pixel); a PNG's tRNS chunk or alpha channel and a TGA's
// 32-bit colour map give the alpha otherwise. Note that this is not the ClassColours layout
// (red in the low byte) the writers take.
//
// YC and UYC files hold no colours but a key, a luma and a chroma plane of pixel pairs. Each pixel
// is 0xKKYYCCCC: the pixel's key byte in bits 24-31 (255 text, 0 background), its luma byte in
// bits 16-23, and the chroma word of the pixel pair it belongs to in bits 0-15 (Cr in bits 8-15,
// Cb in bits 0-7), the same word for both pixels of a pair (see yc_luma and yc_chroma).
struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// The largest picture decoded: at most this many pixels on a side and in all. Larger sizes are
// refused before anything is allocated (a few bytes of RLE can claim any size).
inline constexpr int32_t kMaxDecodedSide = 0xFFFF;
inline constexpr int64_t kMaxDecodedPixels = int64_t{1} << 26;

// Decodes the bytes of a file of the type `extension` names ("bmp", "tga", "tif", "yc", "uyc",
// "png", in any ASCII case; the extensions of the image type table and of PNG pictures). The type
// is checked against the file's signature where the format has one (BMP, TIFF, YC, PNG; TGA has
// none at its start, so its header fields are checked instead). A YC file is decoded as compressed
// or not by its header's flag, whichever of the two extensions it has.
//
// Anything malformed gives nothing and one line in `error` saying why, rows counted from 0 at the
// top of the picture: "not a BMP file", "truncated RLE data at row 12", "RLE run past the end of
// row 3". The decoders are strict where a reader could guess: a run that crosses the end of a
// row, a palette index past the colour table, and YC passes that differ are refused. Short RLE
// rows in BMP files are not: the rest of such a row is palette entry 0, as BMP readers agree.
std::optional<DecodedImage> decode_image(std::string_view bytes, std::string_view extension,
                                         std::string& error);

// Reads the file (UTF-8 path) and decodes it by its name's extension. A file that cannot be read
// gives the path and the system's text in `error`.
std::optional<DecodedImage> read_image_file(const std::string& path, std::string& error);

}  // namespace tessara::imaging
