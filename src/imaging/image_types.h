#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tessara::imaging {

// Which encoder writes a type's files.
enum class ImageEncoding : uint8_t { Bmp, Tiff, Tga, Yc };

// One bitmap output type. The key is what the ImgType setting stores, the label is shown to
// the user and the extension names the files.
struct ImageType {
    int32_t id;
    std::string_view key;
    std::string_view label;
    std::string_view extension;
    bool palette;            // pixels are palette indices; otherwise 24-bit colours
    int32_t bits_per_pixel;  // of the file's pixels
    ImageEncoding encoding;
    bool compressed;  // run-length compressed (BMP, TGA, YC); TIFF is always PackBits
};

// Ids run from 0 to 9 in table order; this one stands for "no such type".
inline constexpr int32_t kUnknownImageType = 10;

// The ten types, ordered by id.
std::span<const ImageType> image_type_table();

// The id for an ImgType value, matched without regard to (ASCII) case; kUnknownImageType when
// no key matches.
int32_t image_type_id(std::u16string_view key);
int32_t image_type_id(std::string_view key);

// The row for an id, or nullptr for an unknown id.
const ImageType* find_image_type(int32_t id);

// Lookups by id; an unknown id gives an empty text, false and 0.
std::string_view image_type_key(int32_t id);
std::string_view image_type_label(int32_t id);
std::string_view image_type_extension(int32_t id);
bool image_type_has_palette(int32_t id);
int32_t image_type_bits_per_pixel(int32_t id);

}  // namespace tessara::imaging
