#include "imaging/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <vector>

#include "base/file_io.h"
#include "base/messages.h"

namespace tessara::imaging {

namespace {

constexpr int32_t kMaxPngSide = 0x7FFFFFFF / 4;  // keeps row sizes far from overflow
constexpr int64_t kMaxEnlargedSide = 1 << 15;
// An enlarged picture takes four bytes a pixel here and three more while it is encoded: at
// most this many pixels (a full 720 x 576 frame enlarged 16 times fits).
constexpr int64_t kMaxEnlargedPixels = int64_t{128} * 1024 * 1024;

// libpng reports errors by calling this, which must not return: it jumps back to the setjmp
// in write_png_rows. Library code never prints, so warnings are dropped.
[[noreturn]] void png_error_handler(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void png_warning_handler(png_structp, png_const_charp) {}

void png_append(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    try {
        out->append(reinterpret_cast<const char*>(data), length);
    } catch (...) {  // no exception may cross libpng's frames
        png_error(png, "out of memory");
    }
}

void png_flush(png_structp) {}

// Everything between setjmp and a possible longjmp lives in the caller, so the jump skips no
// destructor.
// A palette, when given, makes the picture indexed; `trans` then holds one opacity per entry
// or is empty.
struct PngPalette {
    std::span<const png_color> colours;
    std::span<const png_byte> trans;
};

bool write_png_rows(png_structp png, png_infop info, uint32_t width, uint32_t height,
                    png_bytepp rows, const PngPalette* palette) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_IHDR(png, info, width, height, 8,
                 palette != nullptr ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette != nullptr) {
        // Subpicture pictures are a few flat colours: the fastest deflate level and no row
        // filters keep them nearly as small as the default effort, several times faster (a run
        // writes thousands).
        png_set_compression_level(png, 1);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        png_set_PLTE(png, info, palette->colours.data(), static_cast<int>(palette->colours.size()));
        if (!palette->trans.empty()) {
            png_set_tRNS(png, info, palette->trans.data(), static_cast<int>(palette->trans.size()),
                         nullptr);
        }
    }
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

std::optional<std::string> encode_rows(uint32_t width, uint32_t height, png_bytepp rows,
                                       const PngPalette* palette) {
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_handler,
                                              png_warning_handler);
    if (png == nullptr) {
        return std::nullopt;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return std::nullopt;
    }
    png_set_write_fn(png, &bytes, png_append, png_flush);
    const bool ok = write_png_rows(png, info, width, height, rows, palette);
    png_destroy_write_struct(&png, &info);
    if (!ok) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

Bitmap<uint32_t> enlarge(const Bitmap<uint32_t>& image, int32_t factor) {
    if (factor <= 1) {
        return image;
    }
    const int64_t w = int64_t{image.width()} * factor;
    const int64_t h = int64_t{image.height()} * factor;
    if (w > kMaxEnlargedSide || h > kMaxEnlargedSide || w * h > kMaxEnlargedPixels) {
        return {};
    }
    Bitmap<uint32_t> out(image.width() * factor, image.height() * factor, 0);
    for (int32_t y = 0; y < out.height(); ++y) {
        const uint32_t* in = image.row(y / factor);
        uint32_t* row = out.row(y);
        for (int32_t x = 0; x < out.width(); ++x) {
            row[x] = in[x / factor];
        }
    }
    return out;
}

std::optional<std::string> encode_png(const Bitmap<uint32_t>& image) {
    const int32_t w = image.width();
    const int32_t h = image.height();
    if (w <= 0 || h <= 0 || w > kMaxPngSide || h > kMaxPngSide) {
        return std::nullopt;
    }
    std::vector<png_byte> pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    std::vector<png_bytep> rows(static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) {
        png_bytep out = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 3;
        rows[static_cast<size_t>(y)] = out;
        const uint32_t* in = image.row(y);
        for (int32_t x = 0; x < w; ++x) {
            *out++ = static_cast<png_byte>(in[x] & 0xFF);
            *out++ = static_cast<png_byte>((in[x] >> 8) & 0xFF);
            *out++ = static_cast<png_byte>((in[x] >> 16) & 0xFF);
        }
    }
    return encode_rows(static_cast<uint32_t>(w), static_cast<uint32_t>(h), rows.data(), nullptr);
}

std::optional<std::string> encode_png_indexed(const Bitmap<uint8_t>& indices,
                                              std::span<const uint32_t> colours,
                                              std::span<const uint8_t> opacity) {
    const int32_t w = indices.width();
    const int32_t h = indices.height();
    if (w <= 0 || h <= 0 || w > kMaxPngSide || h > kMaxPngSide || colours.empty() ||
        colours.size() > PNG_MAX_PALETTE_LENGTH || opacity.size() != colours.size()) {
        return std::nullopt;
    }
    std::vector<png_color> table(colours.size());
    bool opaque = true;
    for (size_t i = 0; i < colours.size(); ++i) {
        table[i] = png_color{static_cast<png_byte>(colours[i] & 0xFF),
                             static_cast<png_byte>((colours[i] >> 8) & 0xFF),
                             static_cast<png_byte>((colours[i] >> 16) & 0xFF)};
        opaque = opaque && opacity[i] == 0xFF;
    }
    // The rows are only read; libpng's row type is not const.
    std::vector<png_bytep> rows(static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) {
        rows[static_cast<size_t>(y)] = const_cast<png_bytep>(indices.row(y));
    }
    const PngPalette palette{table, opaque ? std::span<const png_byte>() : opacity};
    return encode_rows(static_cast<uint32_t>(w), static_cast<uint32_t>(h), rows.data(), &palette);
}

bool write_png(const std::string& path, const Bitmap<uint32_t>& image, base::Messages& messages) {
    std::optional<std::string> bytes = encode_png(image);
    if (!bytes) {
        messages.error_with_system(path, 0);
        return false;
    }
    return base::write_file_atomically(path, *bytes, "%s", "%s", messages);
}

}  // namespace tessara::imaging
