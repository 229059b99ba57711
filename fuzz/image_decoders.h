#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// Strict readers of the bitmap files the writers produce, so that fuzz targets can read every
// written file back and compare it with what was meant. Each one accepts exactly the subset of
// its format our writers may emit (and what the format allows around it) and rejects anything
// else: a header field that disagrees with the data, a run crossing a row, bytes after the end.
namespace tessara::fuzz {

struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> indices;   // palette images: one index per pixel, top row first
    std::vector<uint32_t> palette;  // palette images: the colour table (red in the low byte)
    std::vector<uint32_t> rgb;      // every image: each pixel's colour, top row first
};

// BMP with a 40-byte info header: 4 or 8 bits per pixel, plain or RLE, or 24-bit plain.
std::optional<DecodedImage> decode_bmp(std::string_view bytes);
// TGA: colour-mapped 8-bit, plain or RLE, 24-bit colour map, bottom-left origin, 2.0 footer.
std::optional<DecodedImage> decode_tga(std::string_view bytes);
// TIFF, through libtiff; `software` receives the software tag.
std::optional<DecodedImage> decode_tiff(std::string_view bytes, std::string* software = nullptr);

// A YC file's planes, one row after another (top row first), width / 2 words a row. The two
// passes must hold the same rows.
struct DecodedYc {
    int32_t width = 0;
    int32_t height = 0;
    bool compressed = false;
    std::vector<uint16_t> key;
    std::vector<uint16_t> luma;
    std::vector<uint16_t> chroma;
};
std::optional<DecodedYc> decode_yc(std::string_view bytes);

// PackBits codes back to bytes; nothing when a code runs past the end. Code 0x80 is skipped.
std::optional<std::string> unpack_packbits(std::string_view codes);

}  // namespace tessara::fuzz
