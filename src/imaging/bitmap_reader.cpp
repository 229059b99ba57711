#include "imaging/bitmap_reader.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <span>
#include <system_error>

#include "base/file_io.h"

namespace tessara::imaging {

namespace {

using Result = std::optional<DecodedImage>;

constexpr uint32_t kOpaque = 0xFF000000;

// Formats the reason into `error` and gives the failed result, so a decoder can end with
// `return fail(error, ...)`.
[[gnu::format(printf, 2, 3)]] Result fail(std::string& error, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    error = text;
    return std::nullopt;
}

uint8_t u8_at(std::string_view b, size_t at) {
    return static_cast<uint8_t>(b[at]);
}
uint16_t le16_at(std::string_view b, size_t at) {
    return static_cast<uint16_t>(u8_at(b, at) | u8_at(b, at + 1) << 8);
}
uint32_t le32_at(std::string_view b, size_t at) {
    return le16_at(b, at) | static_cast<uint32_t>(le16_at(b, at + 2)) << 16;
}

uint32_t argb(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t{a} << 24 | uint32_t{r} << 16 | uint32_t{g} << 8 | b;
}

// The picture's pixels, allocated once its size has been checked: against the limits, and
// against `most_pixels`, the most pixels the file's remaining bytes could hold, so that a short
// file claiming a large picture allocates nothing.
Result check_size(int64_t width, int64_t height, const char* format, std::string& error,
                  uint64_t most_pixels = std::numeric_limits<uint64_t>::max()) {
    if (width <= 0 || height <= 0) {
        return fail(error, "%s picture has no pixels (%lld x %lld)", format,
                    static_cast<long long>(width), static_cast<long long>(height));
    }
    if (width > kMaxDecodedSide || height > kMaxDecodedSide || width * height > kMaxDecodedPixels) {
        return fail(error, "%s picture too large (%lld x %lld)", format,
                    static_cast<long long>(width), static_cast<long long>(height));
    }
    if (static_cast<uint64_t>(width * height) > most_pixels) {
        return fail(error, "truncated %s pixel data for %lld x %lld pixels", format,
                    static_cast<long long>(width), static_cast<long long>(height));
    }
    DecodedImage image;
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    image.pixels.assign(static_cast<size_t>(width * height), 0);
    return image;
}

// A picture of palette indices and the table they index; the colours are looked up once all
// indices are in, so every decoder refuses an index past the table the same way.
struct IndexedPixels {
    std::vector<uint8_t> indices;
    std::vector<uint32_t> palette;  // 0xAARRGGBB
};

bool apply_palette(const IndexedPixels& in, DecodedImage& image, std::string& error) {
    for (size_t i = 0; i < in.indices.size(); ++i) {
        const uint8_t index = in.indices[i];
        if (index >= in.palette.size()) {
            fail(error, "palette index %d past the colour table of %zu at row %zu", index,
                 in.palette.size(), i / static_cast<size_t>(image.width));
            return false;
        }
        image.pixels[i] = in.palette[index];
    }
    return true;
}

// ---- BMP ----------------------------------------------------------------------------------

constexpr size_t kBmpFileHeaderSize = 14;
constexpr uint32_t kBmpInfoHeaderSize = 40;  // later versions only add fields behind it
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint8_t kRleEndOfLine = 0;
constexpr uint8_t kRleEndOfBitmap = 1;
constexpr uint8_t kRleDelta = 2;

// RLE4 and RLE8 pixels into `indices` (rows bottom-up in the file). Codes are two bytes: a
// count and an index (two alternating ones for RLE4), or 0 and an escape: end of line, end of
// bitmap, a move, or a count of literal indices padded to a 16-bit boundary.
bool decode_bmp_rle(std::string_view data, int32_t w, int32_t h, int32_t bits_per_pixel,
                    std::vector<uint8_t>& indices, std::string& error) {
    int64_t x = 0;
    int64_t r = 0;  // rows from the bottom
    size_t p = 0;
    auto row = [h](int64_t from_bottom) { return static_cast<long long>(h - 1 - from_bottom); };
    auto put = [&](uint8_t index) {
        indices[static_cast<size_t>((h - 1 - r) * w + x)] = index;
        ++x;
    };
    for (;;) {
        if (data.size() - p < 2) {
            if (r >= h) {
                fail(error, "truncated RLE data: no end of bitmap after the last row");
            } else {
                fail(error, "truncated RLE data at row %lld", row(r));
            }
            return false;
        }
        const uint8_t count = u8_at(data, p);
        const uint8_t value = u8_at(data, p + 1);
        p += 2;
        if (count > 0 || value > kRleDelta) {
            if (r >= h) {
                fail(error, "RLE data past the last row");
                return false;
            }
            const int64_t n = count > 0 ? count : value;
            if (x + n > w) {
                fail(error, "RLE run past the end of row %lld", row(r));
                return false;
            }
            if (count > 0) {
                for (int64_t i = 0; i < n; ++i) {
                    put(bits_per_pixel == 8
                            ? value
                            : static_cast<uint8_t>(i % 2 == 0 ? value >> 4 : value & 0x0F));
                }
                continue;
            }
            const size_t bytes = bits_per_pixel == 8 ? n : (n + 1) / 2;
            const size_t padded = bytes + bytes % 2;
            if (data.size() - p < padded) {
                fail(error, "truncated RLE data at row %lld", row(r));
                return false;
            }
            for (int64_t i = 0; i < n; ++i) {
                const uint8_t byte =
                    u8_at(data, p + static_cast<size_t>(bits_per_pixel == 8 ? i : i / 2));
                put(bits_per_pixel == 8
                        ? byte
                        : static_cast<uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0x0F));
            }
            p += padded;
            continue;
        }
        if (value == kRleEndOfBitmap) {
            return true;
        }
        if (value == kRleEndOfLine) {
            x = 0;
            if (++r > h) {
                fail(error, "RLE data past the last row");
                return false;
            }
            continue;
        }
        // kRleDelta: right and up by the next two bytes.
        if (data.size() - p < 2) {
            fail(error, "truncated RLE data at row %lld", row(r));
            return false;
        }
        x += u8_at(data, p);
        r += u8_at(data, p + 1);
        p += 2;
        if (x > w || r >= h) {
            fail(error, "RLE move past the picture");
            return false;
        }
    }
}

Result decode_bmp(std::string_view b, std::string& error) {
    if (b.size() < 2 || b.substr(0, 2) != "BM") {
        return fail(error, "not a BMP file");
    }
    if (b.size() < kBmpFileHeaderSize + kBmpInfoHeaderSize) {
        return fail(error, "truncated BMP header");
    }
    const uint32_t info_size = le32_at(b, 14);
    if (info_size < kBmpInfoHeaderSize) {
        return fail(error, "unsupported BMP header of %u bytes", info_size);
    }
    if (b.size() - kBmpFileHeaderSize < info_size) {
        return fail(error, "truncated BMP header");
    }
    const uint32_t offset = le32_at(b, 10);
    const auto width = static_cast<int32_t>(le32_at(b, 18));
    const auto height = static_cast<int32_t>(le32_at(b, 22));
    const int32_t bits = le16_at(b, 28);
    const uint32_t compression = le32_at(b, 30);
    const uint32_t colours_used = le32_at(b, 46);
    if (bits != 4 && bits != 8 && bits != 24) {
        return fail(error, "unsupported BMP depth of %d bits", bits);
    }
    const bool rle = compression != kBiRgb;
    if (rle && !(compression == kBiRle8 && bits == 8) && !(compression == kBiRle4 && bits == 4)) {
        return fail(error, "unsupported BMP compression %u for %d bits", compression, bits);
    }
    // A negative height stores the rows top-down; RLE pictures are always bottom-up.
    const bool top_down = height < 0;
    if (top_down && rle) {
        return fail(error, "top-down BMP with RLE compression");
    }
    // Plain pixels take at least `bits` bits each; RLE moves can skip any number of them.
    const uint64_t available = offset < b.size() ? b.size() - offset : 0;
    const uint64_t most_pixels =
        rle ? std::numeric_limits<uint64_t>::max() : available * 8 / static_cast<uint64_t>(bits);
    Result image =
        check_size(width, top_down ? -int64_t{height} : height, "BMP", error, most_pixels);
    if (!image) {
        return image;
    }
    const int32_t w = image->width;
    const int32_t h = image->height;

    IndexedPixels indexed;
    const size_t table_at = kBmpFileHeaderSize + info_size;
    if (bits <= 8) {
        const uint32_t most = 1u << bits;
        const uint32_t entries = colours_used == 0 ? most : colours_used;
        if (entries > most) {
            return fail(error, "BMP colour table of %u entries for %d bits", entries, bits);
        }
        if (b.size() - table_at < 4 * size_t{entries}) {
            return fail(error, "truncated BMP colour table");
        }
        if (offset < table_at + 4 * size_t{entries}) {
            return fail(error, "BMP pixels start inside the header or colour table");
        }
        for (uint32_t i = 0; i < entries; ++i) {
            const size_t at = table_at + 4 * size_t{i};  // blue, green, red, reserved
            indexed.palette.push_back(argb(0xFF, u8_at(b, at + 2), u8_at(b, at + 1), u8_at(b, at)));
        }
        indexed.indices.assign(image->pixels.size(), 0);
    } else if (offset < table_at) {
        return fail(error, "BMP pixels start inside the header");
    }
    if (offset > b.size()) {
        return fail(error, "truncated BMP pixel data at row 0");
    }
    const std::string_view data = b.substr(offset);

    if (rle) {
        if (!decode_bmp_rle(data, w, h, bits, indexed.indices, error)) {
            return std::nullopt;
        }
    } else {
        const uint64_t stride = (uint64_t(w) * uint64_t(bits) + 31) / 32 * 4;
        const uint64_t rows = data.size() / stride;
        if (rows < uint64_t(h)) {
            const auto missing = static_cast<int64_t>(rows);
            return fail(error, "truncated BMP pixel data at row %lld",
                        static_cast<long long>(top_down ? missing : h - 1 - missing));
        }
        for (int32_t r = 0; r < h; ++r) {
            const int32_t y = top_down ? r : h - 1 - r;
            const size_t in = static_cast<size_t>(uint64_t(r) * stride);
            const size_t out = static_cast<size_t>(y) * static_cast<size_t>(w);
            for (int32_t x = 0; x < w; ++x) {
                const auto sx = static_cast<size_t>(x);
                if (bits == 24) {
                    const size_t at = in + 3 * sx;
                    image->pixels[out + sx] =
                        argb(0xFF, u8_at(data, at + 2), u8_at(data, at + 1), u8_at(data, at));
                } else if (bits == 8) {
                    indexed.indices[out + sx] = u8_at(data, in + sx);
                } else {
                    const uint8_t byte = u8_at(data, in + sx / 2);  // left pixel in the high nibble
                    indexed.indices[out + sx] =
                        static_cast<uint8_t>(x % 2 == 0 ? byte >> 4 : byte & 0x0F);
                }
            }
        }
    }
    if (bits <= 8 && !apply_palette(indexed, *image, error)) {
        return std::nullopt;
    }
    return image;
}

// ---- TGA ----------------------------------------------------------------------------------

constexpr size_t kTgaHeaderSize = 18;
constexpr uint8_t kTgaColourMapped = 1;
constexpr uint8_t kTgaColourMappedRle = 9;
constexpr uint8_t kTgaTopOrigin = 0x20;
constexpr uint8_t kTgaRightOrigin = 0x10;
constexpr uint8_t kTgaRunPacket = 0x80;

// Colour-mapped 8-bit pictures, the kind the TGA writer makes, with a 24- or 32-bit colour map.
// RLE packets must not cross the end of a row: the writer packs every row on its own.
Result decode_tga(std::string_view b, std::string& error) {
    if (b.size() < kTgaHeaderSize) {
        return fail(error, "not a TGA file");
    }
    const uint8_t id_length = u8_at(b, 0);
    const uint8_t map_type = u8_at(b, 1);
    const uint8_t type = u8_at(b, 2);
    const uint16_t map_first = le16_at(b, 3);
    const uint16_t map_length = le16_at(b, 5);
    const uint8_t map_bits = u8_at(b, 7);
    const uint16_t width = le16_at(b, 12);
    const uint16_t height = le16_at(b, 14);
    const uint8_t depth = u8_at(b, 16);
    const uint8_t descriptor = u8_at(b, 17);
    // The image types a TGA file can have (0 none, 1-3 plain, 9-11 RLE).
    if (map_type > 1 || (type > 3 && (type < 9 || type > 11))) {
        return fail(error, "not a TGA file");
    }
    if (type != kTgaColourMapped && type != kTgaColourMappedRle) {
        return fail(error, "unsupported TGA image type %d", type);
    }
    if (map_type != 1) {
        return fail(error, "colour-mapped TGA without a colour map");
    }
    if (depth != 8) {
        return fail(error, "unsupported TGA depth of %d bits", depth);
    }
    if (map_bits != 24 && map_bits != 32) {
        return fail(error, "unsupported TGA colour map of %d-bit entries", map_bits);
    }
    const size_t map_at = kTgaHeaderSize + id_length;
    const size_t entry_size = map_bits / 8;
    const size_t data_at = map_at + entry_size * map_length;
    if (b.size() < data_at) {
        return fail(error, "truncated TGA colour map");
    }
    // A plain pixel is a byte; an RLE packet of at least two bytes holds at most 128 pixels.
    const uint64_t available = b.size() - data_at;
    Result image = check_size(width, height, "TGA", error,
                              type == kTgaColourMapped ? available : available / 2 * 128);
    if (!image) {
        return image;
    }
    const int32_t w = image->width;
    const int32_t h = image->height;

    // Indices below the map's first entry have no colour: they stay past the table.
    IndexedPixels indexed;
    indexed.palette.assign(size_t{map_first} + map_length, 0);
    for (size_t i = 0; i < map_length; ++i) {
        const size_t at = map_at + entry_size * i;  // blue, green, red (, alpha)
        indexed.palette[map_first + i] = argb(entry_size == 4 ? u8_at(b, at + 3) : 0xFF,
                                              u8_at(b, at + 2), u8_at(b, at + 1), u8_at(b, at));
    }
    indexed.indices.assign(image->pixels.size(), 0);

    const bool top = (descriptor & kTgaTopOrigin) != 0;
    const bool right = (descriptor & kTgaRightOrigin) != 0;
    size_t p = data_at;
    for (int32_t r = 0; r < h; ++r) {
        const int32_t y = top ? r : h - 1 - r;
        uint8_t* out = indexed.indices.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        auto put = [&](int32_t x, uint8_t index) { out[right ? w - 1 - x : x] = index; };
        if (type == kTgaColourMapped) {
            if (b.size() - p < static_cast<size_t>(w)) {
                return fail(error, "truncated TGA pixel data at row %d", y);
            }
            for (int32_t x = 0; x < w; ++x) {
                put(x, u8_at(b, p++));
            }
            continue;
        }
        for (int32_t x = 0; x < w;) {
            if (p >= b.size()) {
                return fail(error, "truncated TGA RLE data at row %d", y);
            }
            const uint8_t packet = u8_at(b, p++);
            const int32_t n = (packet & ~kTgaRunPacket) + 1;
            const bool run = (packet & kTgaRunPacket) != 0;
            if (x + n > w) {
                return fail(error, "TGA RLE packet past the end of row %d", y);
            }
            const size_t bytes = run ? 1 : static_cast<size_t>(n);
            if (b.size() - p < bytes) {
                return fail(error, "truncated TGA RLE data at row %d", y);
            }
            for (int32_t i = 0; i < n; ++i) {
                put(x + i, u8_at(b, p + (run ? 0 : static_cast<size_t>(i))));
            }
            p += bytes;
            x += n;
        }
    }
    // Colour map entries below the first one do not exist.
    for (size_t i = 0; i < indexed.indices.size(); ++i) {
        if (indexed.indices[i] < map_first) {
            return fail(error, "palette index %d below the TGA colour map's first entry %d",
                        indexed.indices[i], map_first);
        }
    }
    if (!apply_palette(indexed, *image, error)) {
        return std::nullopt;
    }
    return image;
}

// ---- TIFF ---------------------------------------------------------------------------------

// Enough for any picture decode_image accepts, four bytes a pixel.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{4} * kMaxDecodedPixels + (1 << 20);

// The file for libtiff's client I/O: read only, and the first error libtiff reports.
struct TiffSource {
    std::string_view bytes;
    uint64_t position = 0;
    std::string error;
};

TiffSource& tiff_source(thandle_t handle) {
    return *static_cast<TiffSource*>(handle);
}

tmsize_t tiff_read(thandle_t handle, void* buffer, tmsize_t size) {
    TiffSource& s = tiff_source(handle);
    if (size < 0 || s.position >= s.bytes.size()) {
        return 0;
    }
    const uint64_t n = std::min<uint64_t>(uint64_t(size), s.bytes.size() - s.position);
    std::memcpy(buffer, s.bytes.data() + s.position, static_cast<size_t>(n));
    s.position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t tiff_write(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t tiff_seek(thandle_t handle, toff_t offset, int whence) {
    TiffSource& s = tiff_source(handle);
    int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<int64_t>(s.position);
    } else if (whence == SEEK_END) {
        base = static_cast<int64_t>(s.bytes.size());
    }
    const int64_t target = base + static_cast<int64_t>(offset);
    if (target < 0) {
        return static_cast<toff_t>(-1);
    }
    s.position = static_cast<uint64_t>(target);
    return s.position;
}

int tiff_close(thandle_t) {
    return 0;
}

toff_t tiff_size(thandle_t handle) {
    return tiff_source(handle).bytes.size();
}

int tiff_map(thandle_t, void**, toff_t*) {
    return 0;
}

void tiff_unmap(thandle_t, void*, toff_t) {}

int tiff_error(TIFF*, void* user_data, const char*, const char* format, va_list args) {
    TiffSource& s = *static_cast<TiffSource*>(user_data);
    if (s.error.empty()) {
        char text[200];
        std::vsnprintf(text, sizeof text, format, args);
        s.error = text;
        std::replace(s.error.begin(), s.error.end(), '\n', ' ');
    }
    return 1;
}

int tiff_warning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

Result decode_tiff(std::string_view b, std::string& error) {
    const bool little = b.substr(0, 4) == std::string_view("II*\0", 4);
    const bool big = b.substr(0, 4) == std::string_view("MM\0*", 4);
    if (!little && !big) {
        return fail(error, "not a TIFF file");
    }
    TiffSource source{b, 0, {}};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return fail(error, "out of memory");
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_error, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_warning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAllocation);
    std::unique_ptr<TIFF, TiffCloser> tif(
        TIFFClientOpenExt("bitmap", "rm", &source, tiff_read, tiff_write, tiff_seek, tiff_close,
                          tiff_size, tiff_map, tiff_unmap, options));
    TIFFOpenOptionsFree(options);
    auto libtiff_failure = [&](const char* what) {
        return fail(error, "%s%s%s", what, source.error.empty() ? "" : ": ", source.error.c_str());
    };
    if (!tif) {
        return libtiff_failure("unreadable TIFF file");
    }
    uint32_t width = 0;
    uint32_t height = 0;
    if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1) {
        return libtiff_failure("TIFF file without a picture size");
    }
    Result image = check_size(width, height, "TIFF", error);
    if (!image) {
        return image;
    }
    char why[1024] = {};
    if (TIFFRGBAImageOK(tif.get(), why) != 1) {
        std::replace(std::begin(why), std::end(why), '\n', ' ');
        return fail(error, "unsupported TIFF picture: %s", why);
    }
    // Each pixel comes as A, B, G, R from the high byte down.
    if (TIFFReadRGBAImageOriented(tif.get(), width, height, image->pixels.data(),
                                  ORIENTATION_TOPLEFT, 1) != 1 ||
        !source.error.empty()) {
        return libtiff_failure("unreadable TIFF pixel data");
    }
    for (uint32_t& p : image->pixels) {
        p = argb(static_cast<uint8_t>(TIFFGetA(p)), static_cast<uint8_t>(TIFFGetR(p)),
                 static_cast<uint8_t>(TIFFGetG(p)), static_cast<uint8_t>(TIFFGetB(p)));
    }
    return image;
}

// ---- PNG ----------------------------------------------------------------------------------

struct PngSource {
    std::string_view bytes;
    size_t position = 0;
    char error[160] = {};
};

// libpng reports errors by calling this, which must not return: it keeps the first reason and
// jumps back to the setjmp of the step that was running.
[[noreturn]] void png_error_handler(png_structp png, png_const_charp message) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source != nullptr && source->error[0] == '\0') {
        std::snprintf(source->error, sizeof source->error, "%s", message);
    }
    png_longjmp(png, 1);
}

void png_warning_handler(png_structp, png_const_charp) {}

void png_source_read(png_structp png, png_bytep data, size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->bytes.size() - source->position < length) {
        png_error(png, "truncated PNG data");
    }
    std::memcpy(data, source->bytes.data() + source->position, length);
    source->position += length;
}

// The two steps between which the caller allocates the pixels. Nothing with a destructor lives
// between a setjmp and the longjmp that may come back to it.
bool png_read_header(png_structp png, png_infop info, png_uint_32& width, png_uint_32& height) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    // Every kind of PNG as 8-bit RGBA: palettes and greys expanded, tRNS as alpha, opaque
    // pictures given alpha 0xFF.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    (void)png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == size_t{width} * 4;
}

bool png_read_pixels(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

Result decode_png(std::string_view b, std::string& error) {
    constexpr size_t kSignatureSize = 8;
    if (b.size() < kSignatureSize ||
        png_sig_cmp(reinterpret_cast<png_const_bytep>(b.data()), 0, kSignatureSize) != 0) {
        return fail(error, "not a PNG file");
    }
    PngSource source{b, 0, {}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_handler,
                                             png_warning_handler);
    if (png == nullptr) {
        return fail(error, "out of memory");
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return fail(error, "out of memory");
    }
    png_set_read_fn(png, &source, png_source_read);
    png_set_user_limits(png, kMaxDecodedSide, kMaxDecodedSide);

    Result image;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    if (!png_read_header(png, info, width, height)) {
        fail(error, "unreadable PNG header%s%s", source.error[0] != '\0' ? ": " : "", source.error);
    } else if ((image = check_size(width, height, "PNG", error))) {
        std::vector<png_bytep> rows(height);
        std::vector<png_byte> rgba(image->pixels.size() * 4);
        for (png_uint_32 y = 0; y < height; ++y) {
            rows[y] = rgba.data() + size_t{y} * width * 4;
        }
        if (!png_read_pixels(png, rows.data())) {
            fail(error, "unreadable PNG pixel data%s%s", source.error[0] != '\0' ? ": " : "",
                 source.error);
            image.reset();
        } else {
            for (size_t i = 0; i < image->pixels.size(); ++i) {
                const png_byte* p = rgba.data() + 4 * i;
                image->pixels[i] = argb(p[3], p[0], p[1], p[2]);
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

// ---- YC -----------------------------------------------------------------------------------

constexpr std::string_view kYcSignature = "UYC ";
constexpr size_t kYcHeaderSize = 32;
constexpr uint16_t kYcVersion = 0x0100;
constexpr uint16_t kYcRunEscape = 0x0FF1;

// One plane of `words` 16-bit words at `p`, run-length decoded when compressed: escape, count,
// word is a run, and escape, escape one literal escape word.
bool read_yc_plane(std::string_view b, size_t& p, bool compressed, std::span<uint16_t> words,
                   int32_t row, std::string& error) {
    auto next = [&](uint16_t& w) {
        if (b.size() - p < 2) {
            return false;
        }
        w = le16_at(b, p);
        p += 2;
        return true;
    };
    for (size_t i = 0; i < words.size();) {
        uint16_t w = 0;
        if (!next(w)) {
            fail(error, "truncated YC data at row %d", row);
            return false;
        }
        if (!compressed || w != kYcRunEscape) {
            words[i++] = w;
            continue;
        }
        uint16_t count = 0;
        if (!next(count)) {
            fail(error, "truncated YC data at row %d", row);
            return false;
        }
        if (count == kYcRunEscape) {
            words[i++] = kYcRunEscape;
            continue;
        }
        uint16_t value = 0;
        if (!next(value)) {
            fail(error, "truncated YC data at row %d", row);
            return false;
        }
        if (count == 0 || count > words.size() - i) {
            fail(error, "YC run of %d words past the end of row %d", count, row);
            return false;
        }
        std::fill_n(words.begin() + static_cast<ptrdiff_t>(i), count, value);
        i += count;
    }
    return true;
}

// A 32-byte header, then every row twice: the first pass stores each row's planes as luma,
// chroma, key (key, luma, chroma when compressed), the second as luma, chroma, key. Both passes
// must agree, and nothing may follow them.
Result decode_yc(std::string_view b, std::string& error) {
    if (b.size() < kYcSignature.size() || b.substr(0, kYcSignature.size()) != kYcSignature) {
        return fail(error, "not a YC file");
    }
    if (b.size() < kYcHeaderSize) {
        return fail(error, "truncated YC header");
    }
    const uint16_t version = le16_at(b, 4);
    const uint16_t width = le16_at(b, 6);
    const uint16_t height = le16_at(b, 8);
    const uint16_t flag = le16_at(b, 10);
    if (version != kYcVersion) {
        return fail(error, "unsupported YC version 0x%04x", version);
    }
    if (flag > 1) {
        return fail(error, "unsupported YC compression %d", flag);
    }
    if (width % 2 != 0) {
        return fail(error, "YC picture of odd width %d", width);
    }
    const bool compressed = flag == 1;
    // Plain: a pair is three words in each pass, six bytes a pixel. Compressed: each row's six
    // planes take at least a word each.
    const uint64_t available = b.size() - kYcHeaderSize;
    Result image = check_size(width, height, "YC", error,
                              compressed ? uint64_t{width} * (available / 12) : available / 6);
    if (!image) {
        return image;
    }
    const size_t pairs = width / 2;
    // Per row: the key, luma and chroma planes of each pass.
    std::vector<uint16_t> second(3 * pairs);
    std::vector<uint16_t> planes(3 * pairs * height);
    auto plane = [pairs](std::vector<uint16_t>& words, size_t k) {
        return std::span(words).subspan(k * pairs, pairs);
    };
    enum : size_t { kKey = 0, kLuma = 1, kChroma = 2 };
    const std::array<size_t, 3> first_order = compressed
                                                  ? std::array<size_t, 3>{kKey, kLuma, kChroma}
                                                  : std::array<size_t, 3>{kLuma, kChroma, kKey};
    constexpr std::array<size_t, 3> kSecondOrder{kLuma, kChroma, kKey};
    size_t p = kYcHeaderSize;
    for (int32_t y = 0; y < height; ++y) {
        std::span<uint16_t> row = std::span(planes).subspan(3 * pairs * size_t(y), 3 * pairs);
        for (size_t k : first_order) {
            if (!read_yc_plane(b, p, compressed, row.subspan(k * pairs, pairs), y, error)) {
                return std::nullopt;
            }
        }
    }
    for (int32_t y = 0; y < height; ++y) {
        for (size_t k : kSecondOrder) {
            if (!read_yc_plane(b, p, compressed, plane(second, k), y, error)) {
                return std::nullopt;
            }
        }
        if (!std::equal(second.begin(), second.end(), planes.begin() + 3 * pairs * size_t(y))) {
            return fail(error, "the two YC passes differ at row %d", y);
        }
    }
    if (p != b.size()) {
        return fail(error, "%zu bytes after the YC data", b.size() - p);
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* row = planes.data() + 3 * pairs * size_t(y);
        uint32_t* out = image->pixels.data() + size_t(y) * width;
        for (size_t x = 0; x < width; ++x) {
            // The pair's first pixel sits in each word's low byte.
            const int shift = x % 2 == 0 ? 0 : 8;
            const uint32_t key = (row[kKey * pairs + x / 2] >> shift) & 0xFF;
            const uint32_t luma = (row[kLuma * pairs + x / 2] >> shift) & 0xFF;
            out[x] = key << 24 | luma << 16 | row[kChroma * pairs + x / 2];
        }
    }
    return image;
}

// ---- Dispatch -----------------------------------------------------------------------------

bool same_ascii_lower(std::string_view text, std::string_view lower) {
    return text.size() == lower.size() &&
           std::equal(text.begin(), text.end(), lower.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

using Decoder = Result (*)(std::string_view, std::string&);

struct Format {
    std::string_view extension;
    Decoder decode;
};

constexpr std::array<Format, 6> kFormats{{
    {"bmp", decode_bmp},
    {"tga", decode_tga},
    {"tif", decode_tiff},
    {"yc", decode_yc},
    {"uyc", decode_yc},
    {"png", decode_png},
}};

// Files are read whole; no bitmap a run writes comes near this.
constexpr std::uintmax_t kMaxFileSize = std::uintmax_t{1} << 30;

}  // namespace

std::optional<DecodedImage> decode_image(std::string_view bytes, std::string_view extension,
                                         std::string& error) {
    for (const Format& f : kFormats) {
        if (same_ascii_lower(extension, f.extension)) {
            error.clear();
            return f.decode(bytes, error);
        }
    }
    return fail(error, "unknown image type \"%.*s\"",
                static_cast<int>(std::min<size_t>(extension.size(), 16)), extension.data());
}

std::optional<DecodedImage> read_image_file(const std::string& path, std::string& error) {
    // The extension is what follows the last dot of the file's own name.
    const size_t name_at = path.find_last_of("/\\");
    const std::string_view name =
        std::string_view(path).substr(name_at == std::string::npos ? 0 : name_at + 1);
    const size_t dot = name.rfind('.');
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);

    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxFileSize) {
        error = path + ": file too large";
        return std::nullopt;
    }
    int system_error = 0;
    const std::optional<std::string> bytes = base::read_whole_file(path, system_error);
    if (!bytes) {
        error = path + ": " + std::strerror(system_error);
        return std::nullopt;
    }
    return decode_image(*bytes, extension, error);
}

}  // namespace tessara::imaging
