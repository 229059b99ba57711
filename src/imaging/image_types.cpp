#include "imaging/image_types.h"

#include <array>
#include <type_traits>

namespace tessara::imaging {

namespace {

using enum ImageEncoding;

constexpr std::array<ImageType, 10> kImageTypes{{
    {0, "bmp8", "Windows BMP 8 bits", "bmp", true, 8, Bmp, false},
    {1, "bmp8rle", "Windows BMP 8 bits (compressed)", "bmp", true, 8, Bmp, true},
    {2, "bmp4", "Windows BMP 4 bits", "bmp", true, 4, Bmp, false},
    {3, "bmp4rle", "Windows BMP 4 bits (compressed)", "bmp", true, 4, Bmp, true},
    {4, "bmp", "Windows BMP (RGB)", "bmp", false, 24, Bmp, false},
    {5, "tif", "Compressed TIFF", "tif", false, 24, Tiff, true},
    {6, "tga", "TGA", "tga", true, 8, Tga, false},
    {7, "tgarle", "TGA (RLE compressed)", "tga", true, 8, Tga, true},
    {8, "yc", "Ultech YC", "yc", false, 24, Yc, false},
    {9, "uyc", "Ultech compressed YC", "uyc", false, 24, Yc, true},
}};

constexpr char32_t ascii_lower(char32_t c) {
    return c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c;
}

template <typename Char>
int32_t find_key(std::basic_string_view<Char> key) {
    for (const ImageType& t : kImageTypes) {
        if (t.key.size() != key.size()) {
            continue;
        }
        bool same = true;
        for (size_t i = 0; i < key.size() && same; ++i) {
            // Unsigned first, so that no byte above 0x7F can alias a key letter.
            const auto code = static_cast<std::make_unsigned_t<Char>>(key[i]);
            same = ascii_lower(static_cast<char32_t>(code)) ==
                   static_cast<char32_t>(static_cast<unsigned char>(t.key[i]));
        }
        if (same) {
            return t.id;
        }
    }
    return kUnknownImageType;
}

}  // namespace

std::span<const ImageType> image_type_table() {
    return kImageTypes;
}

int32_t image_type_id(std::u16string_view key) {
    return find_key(key);
}

int32_t image_type_id(std::string_view key) {
    return find_key(key);
}

const ImageType* find_image_type(int32_t id) {
    if (id < 0 || id >= static_cast<int32_t>(kImageTypes.size())) {
        return nullptr;
    }
    return &kImageTypes[static_cast<size_t>(id)];
}

std::string_view image_type_key(int32_t id) {
    const ImageType* t = find_image_type(id);
    return t != nullptr ? t->key : std::string_view();
}

std::string_view image_type_label(int32_t id) {
    const ImageType* t = find_image_type(id);
    return t != nullptr ? t->label : std::string_view();
}

std::string_view image_type_extension(int32_t id) {
    const ImageType* t = find_image_type(id);
    return t != nullptr ? t->extension : std::string_view();
}

bool image_type_has_palette(int32_t id) {
    const ImageType* t = find_image_type(id);
    return t != nullptr && t->palette;
}

int32_t image_type_bits_per_pixel(int32_t id) {
    const ImageType* t = find_image_type(id);
    return t != nullptr ? t->bits_per_pixel : 0;
}

}  // namespace tessara::imaging
