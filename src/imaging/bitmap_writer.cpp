#include "imaging/bitmap_writer.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "base/messages.h"
#include "imaging/image_types.h"
#include "imaging/little_endian.h"
#include "imaging/packbits.h"
#include "imaging/png_writer.h"
#include "imaging/yc_writer.h"

namespace tessara::imaging {

namespace {

constexpr uint32_t kColourMask = 0xFFFFFF;

uint8_t red_of(uint32_t c) {
    return static_cast<uint8_t>(c & 0xFF);
}
uint8_t green_of(uint32_t c) {
    return static_cast<uint8_t>((c >> 8) & 0xFF);
}
uint8_t blue_of(uint32_t c) {
    return static_cast<uint8_t>((c >> 16) & 0xFF);
}

// The longest run of equal values starting at `i` (i < n), at most `limit`. Subpictures are
// mostly long runs of background, so eight pixels are compared at a time.
int32_t run_length(const uint8_t* px, int32_t i, int32_t n, int32_t limit) {
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(n, int64_t{i} + limit));
    const uint8_t v = px[i];
    int32_t k = i + 1;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = 0x0101010101010101ULL * v;
        for (; k + 8 <= end; k += 8) {
            uint64_t word;
            std::memcpy(&word, px + k, sizeof word);
            if (const uint64_t diff = word ^ pattern; diff != 0) {
                return k + std::countr_zero(diff) / 8 - i;  // the first differing byte
            }
        }
    }
    while (k < end && px[k] == v) {
        ++k;
    }
    return k - i;
}

// One row's run-length codes, gathered in a buffer sized for the worst case (two bytes a pixel
// and an end code) and appended to the file in one piece, far cheaper than growing the file a
// byte at a time.
class RowBytes {
  public:
    explicit RowBytes(int32_t width) : m_bytes(2 * static_cast<size_t>(std::max(width, 0)) + 4) {}
    void put(uint8_t v) {
        assert(m_size < m_bytes.size());
        m_bytes[m_size++] = v;
    }
    void put(const uint8_t* p, int32_t n) {
        assert(m_size + static_cast<size_t>(n) <= m_bytes.size());
        std::memcpy(m_bytes.data() + m_size, p, static_cast<size_t>(n));
        m_size += static_cast<size_t>(n);
    }
    void move_to(std::string& out) {
        out.append(reinterpret_cast<const char*>(m_bytes.data()), m_size);
        m_size = 0;
    }

  private:
    std::vector<uint8_t> m_bytes;
    size_t m_size = 0;
};

// ---- BMP ----------------------------------------------------------------------------------

constexpr std::string_view kBmpMagic = "BM";
constexpr uint32_t kBmpFileHeaderSize = 14;
constexpr uint32_t kBmpInfoHeaderSize = 40;
constexpr uint32_t kBmpPaletteEntrySize = 4;  // blue, green, red, reserved
constexpr uint16_t kBmpPlanes = 1;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBmpPixelsPerMetre = 2835;  // 72 dots per inch

// RLE codes: a zero count byte escapes to end of line, end of bitmap or an absolute run.
constexpr uint8_t kRleEscape = 0;
constexpr uint8_t kRleEndOfLine = 0;
constexpr uint8_t kRleEndOfBitmap = 1;
constexpr int32_t kRleMaxRun = 255;
// Absolute runs of 1 and 2 would read as the escape codes above.
constexpr int32_t kRleMinAbsolute = 3;

// Rows are padded to a multiple of four bytes.
uint64_t bmp_stride(int32_t width, int32_t bits_per_pixel) {
    return (uint64_t(width) * uint64_t(bits_per_pixel) + 31) / 32 * 4;
}

std::optional<std::string> bmp_file(int32_t width, int32_t height, uint16_t bits_per_pixel,
                                    uint32_t compression, std::span<const uint32_t> palette,
                                    const std::string& pixels) {
    const uint64_t offset =
        kBmpFileHeaderSize + kBmpInfoHeaderSize + kBmpPaletteEntrySize * uint64_t(palette.size());
    const uint64_t size = offset + pixels.size();
    if (size > std::numeric_limits<uint32_t>::max()) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(static_cast<size_t>(size));
    out += kBmpMagic;
    put_le32(out, static_cast<uint32_t>(size));
    put_le16(out, 0);  // reserved
    put_le16(out, 0);
    put_le32(out, static_cast<uint32_t>(offset));

    put_le32(out, kBmpInfoHeaderSize);
    put_le32(out, static_cast<uint32_t>(width));
    put_le32(out, static_cast<uint32_t>(height));  // positive: bottom-up rows
    put_le16(out, kBmpPlanes);
    put_le16(out, bits_per_pixel);
    put_le32(out, compression);
    put_le32(out, static_cast<uint32_t>(pixels.size()));
    put_le32(out, kBmpPixelsPerMetre);
    put_le32(out, kBmpPixelsPerMetre);
    put_le32(out, 0);  // colours used: the whole table
    put_le32(out, 0);  // colours important: all
    for (uint32_t c : palette) {
        put_u8(out, blue_of(c));
        put_u8(out, green_of(c));
        put_u8(out, red_of(c));
        put_u8(out, 0);
    }
    out += pixels;
    return out;
}

void rle8_row(RowBytes& out, const uint8_t* px, int32_t n) {
    int32_t i = 0;
    while (i < n) {
        const int32_t run = run_length(px, i, n, kRleMaxRun);
        if (run >= 2) {
            out.put(static_cast<uint8_t>(run));
            out.put(px[i]);
            i += run;
            continue;
        }
        // Gather differing pixels up to the next pair of equal ones.
        int32_t j = i;
        while (j < n && j - i < kRleMaxRun && run_length(px, j, n, 2) < 2) {
            ++j;
        }
        const int32_t count = j - i;
        if (count < kRleMinAbsolute) {
            for (int32_t k = i; k < j; ++k) {
                out.put(1);
                out.put(px[k]);
            }
        } else {
            out.put(kRleEscape);
            out.put(static_cast<uint8_t>(count));
            out.put(px + i, count);
            if (count % 2 != 0) {
                out.put(0);  // absolute runs end on a 16-bit boundary
            }
        }
        i = j;
    }
}

// 4-bit runs: an encoded run repeats the two nibbles of its byte alternately, so one code
// carries either a run of one index or any two pixels. Absolute runs are kept to an even
// number of pixels so each ends on a whole byte; some readers mishandle an odd run's half byte.
void rle4_row(RowBytes& out, const uint8_t* px, int32_t n) {
    constexpr int32_t kMaxAbsolute = kRleMaxRun - 1;  // even
    auto pair = [](uint8_t hi, uint8_t lo) {
        return static_cast<uint8_t>((hi << 4) | (lo & 0x0F));
    };
    int32_t i = 0;
    while (i < n) {
        const int32_t run = run_length(px, i, n, kRleMaxRun);
        if (run >= 2) {
            out.put(static_cast<uint8_t>(run));
            out.put(pair(px[i], px[i]));
            i += run;
            continue;
        }
        int32_t j = i;
        while (j < n && j - i < kMaxAbsolute && run_length(px, j, n, 2) < 2) {
            ++j;
        }
        const int32_t even = (j - i) & ~1;
        if (even >= kRleMinAbsolute) {
            out.put(kRleEscape);
            out.put(static_cast<uint8_t>(even));
            for (int32_t k = i; k < i + even; k += 2) {
                out.put(pair(px[k], px[k + 1]));
            }
            if ((even / 2) % 2 != 0) {
                out.put(0);
            }
            // An odd pixel left over starts the next step.
            i += even;
            continue;
        }
        for (int32_t k = i; k < j; k += 2) {
            const bool two = k + 1 < j;
            out.put(two ? 2 : 1);
            out.put(pair(px[k], two ? px[k + 1] : 0));
        }
        i = j;
    }
}

std::optional<std::string> bmp_indexed_pixels(const Bitmap<uint8_t>& indices,
                                              int32_t bits_per_pixel, bool rle) {
    const int32_t w = indices.width();
    const int32_t h = indices.height();
    std::string pixels;
    if (rle) {
        RowBytes row(w);
        for (int32_t y = h - 1; y >= 0; --y) {
            if (bits_per_pixel == 8) {
                rle8_row(row, indices.row(y), w);
            } else {
                rle4_row(row, indices.row(y), w);
            }
            row.put(kRleEscape);
            row.put(y > 0 ? kRleEndOfLine : kRleEndOfBitmap);
            row.move_to(pixels);
        }
        if (h == 0) {
            put_u8(pixels, kRleEscape);
            put_u8(pixels, kRleEndOfBitmap);
        }
        return pixels;
    }
    const uint64_t stride = bmp_stride(w, bits_per_pixel);
    if (stride * uint64_t(h) > std::numeric_limits<uint32_t>::max()) {
        return std::nullopt;
    }
    pixels.assign(static_cast<size_t>(stride * uint64_t(h)), '\0');
    char* out = pixels.data();
    for (int32_t y = h - 1; y >= 0; --y, out += stride) {
        const uint8_t* row = indices.row(y);
        for (int32_t x = 0; x < w; ++x) {
            if (bits_per_pixel == 8) {
                out[x] = static_cast<char>(row[x]);
            } else {
                // Two pixels a byte, the left one in the high nibble.
                const int shift = x % 2 == 0 ? 4 : 0;
                out[x / 2] = static_cast<char>(out[x / 2] | ((row[x] & 0x0F) << shift));
            }
        }
    }
    return pixels;
}

// ---- TGA ----------------------------------------------------------------------------------

constexpr uint8_t kTgaColourMapped = 1;
constexpr uint8_t kTgaColourMappedRle = 9;
constexpr uint8_t kTgaHasColourMap = 1;
constexpr uint16_t kTgaColourMapLength = 256;
constexpr uint8_t kTgaColourMapEntryBits = 24;
constexpr uint8_t kTgaPixelBits = 8;
constexpr uint8_t kTgaBottomLeftOrigin = 0x00;
constexpr int32_t kTgaMaxSide = 0xFFFF;
constexpr int32_t kTgaMaxPacket = 128;
constexpr uint8_t kTgaRunPacket = 0x80;
// The TGA 2.0 footer: no extension or developer area, then the signature with its NUL.
constexpr std::string_view kTgaSignature{"TRUEVISION-XFILE.\0", 18};

void tga_rle_row(RowBytes& out, const uint8_t* px, int32_t n) {
    int32_t i = 0;
    while (i < n) {
        const int32_t run = run_length(px, i, n, kTgaMaxPacket);
        if (run >= 2) {
            out.put(static_cast<uint8_t>(kTgaRunPacket | (run - 1)));
            out.put(px[i]);
            i += run;
            continue;
        }
        int32_t j = i;
        while (j < n && j - i < kTgaMaxPacket && run_length(px, j, n, 2) < 2) {
            ++j;
        }
        out.put(static_cast<uint8_t>(j - i - 1));
        out.put(px + i, j - i);
        i = j;
    }
}

// ---- TIFF ---------------------------------------------------------------------------------

constexpr const char* kTiffSoftware = "Tessara";

// A growing in-memory file for libtiff's client I/O.
struct MemoryFile {
    std::string bytes;
    uint64_t position = 0;
    bool failed = false;  // libtiff reported an error
};

MemoryFile& memory_file(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

tmsize_t memory_read(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& f = memory_file(handle);
    if (size < 0 || f.position >= f.bytes.size()) {
        return 0;
    }
    const uint64_t n = std::min<uint64_t>(uint64_t(size), f.bytes.size() - f.position);
    std::memcpy(buffer, f.bytes.data() + f.position, static_cast<size_t>(n));
    f.position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t memory_write(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& f = memory_file(handle);
    if (size < 0) {
        return -1;
    }
    try {
        const uint64_t end = f.position + uint64_t(size);
        if (end > f.bytes.size()) {
            f.bytes.resize(static_cast<size_t>(end));
        }
    } catch (...) {  // no exception may cross back into libtiff
        return -1;
    }
    std::memcpy(f.bytes.data() + f.position, buffer, static_cast<size_t>(size));
    f.position += uint64_t(size);
    return size;
}

toff_t memory_seek(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& f = memory_file(handle);
    // SEEK_CUR and SEEK_END offsets may be negative, passed in the unsigned type.
    int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<int64_t>(f.position);
    } else if (whence == SEEK_END) {
        base = static_cast<int64_t>(f.bytes.size());
    }
    const int64_t target = base + static_cast<int64_t>(offset);
    if (target < 0) {
        return static_cast<toff_t>(-1);
    }
    f.position = static_cast<uint64_t>(target);
    return f.position;
}

int memory_close(thandle_t) {
    return 0;
}

toff_t memory_size(thandle_t handle) {
    return memory_file(handle).bytes.size();
}

int memory_map(thandle_t, void**, toff_t*) {
    return 0;  // not mappable: libtiff falls back to reads
}

void memory_unmap(thandle_t, void*, toff_t) {}

// Library code never prints: libtiff's errors mark the encode as failed, warnings are dropped.
int tiff_error(TIFF*, void* user_data, const char*, const char*, va_list) {
    static_cast<MemoryFile*>(user_data)->failed = true;
    return 1;
}

int tiff_warning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// The tags of every TIFF written: 24-bit RGB, top-left, PackBits, the software name.
bool set_tiff_tags(TIFF* tif, int32_t w, int32_t h) {
    return TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w)) == 1 &&
           TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h)) == 1 &&
           TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) == 1 &&
           TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3) == 1 &&
           TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1 &&
           TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
           TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
           TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS) == 1 &&
           TIFFSetField(tif, TIFFTAG_SOFTWARE, kTiffSoftware) == 1 &&
           TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0)) == 1;
}

// Writes a w x h RGB image whose rows `fill_row(y, bytes)` provides, three bytes a pixel.
template <typename FillRow>
bool tiff_write_image(TIFF* tif, int32_t w, int32_t h, FillRow&& fill_row) {
    if (!set_tiff_tags(tif, w, h)) {
        return false;
    }
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    for (int32_t y = 0; y < h; ++y) {
        fill_row(y, row.data());
        if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) != 1) {
            return false;
        }
    }
    return TIFFFlush(tif) == 1;
}

// tiff_write_image with the rows compressed here, strip by strip, rather than by libtiff row
// by row: the same codes (see packbits_row) at a fraction of the cost, taken from rows given as
// runs of bytes by `row_runs(y, runs)`, which returns true for a row of nothing but background
// (those all pack the same). libtiff still lays out the file, so the bytes are those
// tiff_write_image writes.
template <typename RowRuns>
bool tiff_write_packed(TIFF* tif, int32_t w, int32_t h, RowRuns&& row_runs) {
    if (!set_tiff_tags(tif, w, h)) {
        return false;
    }
    uint32_t strip_rows = 0;
    if (TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &strip_rows) != 1 || strip_rows == 0) {
        return false;
    }
    ByteRuns runs;
    std::string strip;
    std::string background;  // a packed row of background, once one was seen
    int32_t y = 0;
    for (uint32_t s = 0; y < h; ++s) {
        strip.clear();
        for (uint32_t r = 0; r < strip_rows && y < h; ++r, ++y) {
            runs.clear();
            if (!row_runs(y, runs)) {
                packbits_row(runs.runs(), strip);
            } else {
                if (background.empty()) {
                    packbits_row(runs.runs(), background);
                }
                strip += background;
            }
        }
        const auto size = static_cast<tmsize_t>(strip.size());
        if (TIFFWriteRawStrip(tif, s, strip.data(), size) != size) {
            return false;
        }
    }
    return TIFFFlush(tif) == 1;
}

// Opens an in-memory TIFF file, has `write(tif)` fill it, and returns its bytes.
template <typename Write>
std::optional<std::string> encode_tiff_with(Write&& write) {
    MemoryFile file;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return std::nullopt;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_error, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_warning, nullptr);
    TIFF* tif = TIFFClientOpenExt("bitmap", "w", &file, memory_read, memory_write, memory_seek,
                                  memory_close, memory_size, memory_map, memory_unmap, options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        return std::nullopt;
    }
    const bool written = write(tif);
    TIFFClose(tif);
    if (!written || file.failed) {
        return std::nullopt;
    }
    return std::move(file.bytes);
}

// The TIFF file of the part of a class map inside `extent`, as encode_tiff(build_rgb_image(...))
// gives it, without the image in between: each row goes to PackBits as runs of its pixels'
// bytes, found a run of classes at a time.
std::optional<std::string> encode_tiff_classes(const ClassMap& classes, const Rect& extent,
                                               const ClassColours& colours) {
    const int32_t w = std::max(extent.width(), 0);
    const int32_t h = std::max(extent.height(), 0);
    std::array<std::array<uint8_t, 3>, 5> rgb{};  // classes 0-3, then any other value (black)
    for (size_t k = 0; k < 4; ++k) {
        rgb[k] = {red_of(colours[k]), green_of(colours[k]), blue_of(colours[k])};
    }
    // Each class's pixel as runs of its three bytes.
    std::array<ByteRuns, 5> pixel;
    for (size_t k = 0; k < pixel.size(); ++k) {
        for (uint8_t b : rgb[k]) {
            pixel[k].add(b, 1);
        }
    }
    // n pixels of class k (4: any value no class has).
    auto add_pixels = [&pixel](ByteRuns& runs, size_t k, uint32_t n) {
        const std::span<const ByteRun> p = pixel[k].runs();
        if (p.size() == 1) {
            if (n > 0) {
                runs.add(p[0].value, 3 * n);
            }
            return;
        }
        runs.add_repeated(p, n);
    };
    const int64_t first = std::clamp<int64_t>(-int64_t{extent.left}, 0, w);
    const int64_t last = std::clamp<int64_t>(int64_t{classes.width()} - extent.left, first, w);
    auto row_runs = [&](int32_t r, ByteRuns& runs) {
        const int64_t y = int64_t{extent.top} + r;
        if (y < 0 || y >= classes.height()) {
            add_pixels(runs, kBackground, static_cast<uint32_t>(w));
            return true;
        }
        bool plain = true;
        add_pixels(runs, kBackground, static_cast<uint32_t>(first));
        const uint8_t* in = classes.row(static_cast<int32_t>(y)) + (extent.left + first);
        const auto count = static_cast<int32_t>(last - first);
        for (int32_t i = 0; i < count;) {
            const int32_t n = run_length(in, i, count, count - i);
            const uint8_t k = in[i];
            add_pixels(runs, std::min<uint8_t>(k, 4), static_cast<uint32_t>(n));
            plain = plain && k == kBackground;
            i += n;
        }
        add_pixels(runs, kBackground, static_cast<uint32_t>(w - last));
        return plain;
    };
    if (w == 0 || h == 0) {
        // Refused by libtiff, the way an empty image always was.
        return encode_tiff(Bitmap<uint32_t>(w, h, 0));
    }
    return encode_tiff_with([&](TIFF* tif) { return tiff_write_packed(tif, w, h, row_runs); });
}

// ---- Writing ------------------------------------------------------------------------------

// The path, then the system's text for why the file could not be made.
constexpr std::string_view kFileFailureFormat = "%s";
// Bitmaps wider than this cannot be described by the 16-bit fields of TGA and YC, and are far
// beyond any frame; refusing them also keeps a stray fixed width from exhausting memory.
constexpr int32_t kMaxBitmapSide = 0xFFFF;

}  // namespace

namespace {

// Maps the part of a class map inside `extent` through `lut` (one entry per byte value, the same
// for every value above 3) into `out` (extent-sized). Pixels outside the map take
// lut[kBackground].
template <typename T>
void map_classes(const ClassMap& classes, const Rect& extent, const std::array<T, 256>& lut,
                 Bitmap<T>& out) {
    const T background = lut[kBackground];
    // The columns of the extent that lie on the map, relative to the extent's left.
    const int64_t first = std::clamp<int64_t>(-int64_t{extent.left}, 0, out.width());
    const int64_t last =
        std::clamp<int64_t>(int64_t{classes.width()} - extent.left, first, out.width());
    for (int32_t r = 0; r < out.height(); ++r) {
        T* row = out.row(r);
        const int64_t y = int64_t{extent.top} + r;
        if (y < 0 || y >= classes.height()) {
            std::fill(row, row + out.width(), background);
            continue;
        }
        const uint8_t* in = classes.row(static_cast<int32_t>(y)) + (extent.left + first);
        std::fill(row, row + first, background);
        // Masks rather than a table lookup, so that the loop is vectorised.
        const T c0 = lut[0], c1 = lut[1], c2 = lut[2], c3 = lut[3], other = lut[4];
        for (int64_t c = first; c < last; ++c) {
            const uint8_t k = in[c - first];
            const auto mask = [](bool b) { return static_cast<T>(T(0) - T(b)); };
            row[c] =
                static_cast<T>((mask(k == 0) & c0) | (mask(k == 1) & c1) | (mask(k == 2) & c2) |
                               (mask(k == 3) & c3) | (mask(k > 3) & other));
        }
        std::fill(row + last, row + out.width(), background);
    }
}

}  // namespace

PaletteImage build_palette_image(const ClassMap& classes, const Rect& extent,
                                 const ClassColours& colours, const PaletteOrder& order) {
    PaletteImage image;
    for (size_t k = 0; k < 4; ++k) {
        image.palette[order[k]] = colours[k] & kColourMask;
    }
    std::array<uint8_t, 256> lut;
    lut.fill(order[kBackground]);
    for (size_t k = 0; k < 4; ++k) {
        lut[k] = order[k];
    }
    image.indices = Bitmap<uint8_t>(extent.width(), extent.height(), order[kBackground]);
    map_classes(classes, extent, lut, image.indices);
    return image;
}

Bitmap<uint32_t> build_rgb_image(const ClassMap& classes, const Rect& extent,
                                 const ClassColours& colours) {
    std::array<uint32_t, 256> lut;
    lut.fill(0);
    for (size_t k = 0; k < 4; ++k) {
        lut[k] = colours[k] & kColourMask;
    }
    Bitmap<uint32_t> image(extent.width(), extent.height(), 0);
    map_classes(classes, extent, lut, image);
    return image;
}

std::optional<std::string> encode_bmp_indexed(const PaletteImage& image, int32_t bits_per_pixel,
                                              bool rle) {
    assert(bits_per_pixel == 4 || bits_per_pixel == 8);
    const size_t entries = bits_per_pixel == 4 ? 16 : 256;
    std::optional<std::string> pixels = bmp_indexed_pixels(image.indices, bits_per_pixel, rle);
    if (!pixels) {
        return std::nullopt;
    }
    const uint32_t compression = !rle ? kBiRgb : bits_per_pixel == 8 ? kBiRle8 : kBiRle4;
    return bmp_file(image.indices.width(), image.indices.height(),
                    static_cast<uint16_t>(bits_per_pixel), compression,
                    std::span<const uint32_t>(image.palette.data(), entries), *pixels);
}

std::optional<std::string> encode_bmp_rgb(const Bitmap<uint32_t>& image) {
    const int32_t w = image.width();
    const int32_t h = image.height();
    const uint64_t stride = bmp_stride(w, 24);
    if (stride * uint64_t(h) > std::numeric_limits<uint32_t>::max()) {
        return std::nullopt;
    }
    std::string pixels(static_cast<size_t>(stride * uint64_t(h)), '\0');
    char* out = pixels.data();
    for (int32_t y = h - 1; y >= 0; --y, out += stride) {
        const uint32_t* row = image.row(y);
        for (int32_t x = 0; x < w; ++x) {
            out[3 * x] = static_cast<char>(blue_of(row[x]));
            out[3 * x + 1] = static_cast<char>(green_of(row[x]));
            out[3 * x + 2] = static_cast<char>(red_of(row[x]));
        }
    }
    return bmp_file(w, h, 24, kBiRgb, {}, pixels);
}

std::optional<std::string> encode_tiff(const Bitmap<uint32_t>& image) {
    return encode_tiff_with([&](TIFF* tif) {
        return tiff_write_image(tif, image.width(), image.height(), [&](int32_t y, uint8_t* out) {
            const uint32_t* in = image.row(y);
            for (int32_t x = 0; x < image.width(); ++x) {
                out[3 * size_t(x)] = red_of(in[x]);
                out[3 * size_t(x) + 1] = green_of(in[x]);
                out[3 * size_t(x) + 2] = blue_of(in[x]);
            }
        });
    });
}

std::optional<std::string> encode_tga(const PaletteImage& image, bool rle) {
    const int32_t w = image.indices.width();
    const int32_t h = image.indices.height();
    if (w > kTgaMaxSide || h > kTgaMaxSide) {
        return std::nullopt;
    }
    std::string out;
    put_u8(out, 0);  // no image id
    put_u8(out, kTgaHasColourMap);
    put_u8(out, rle ? kTgaColourMappedRle : kTgaColourMapped);
    put_le16(out, 0);  // first colour map entry
    put_le16(out, kTgaColourMapLength);
    put_u8(out, kTgaColourMapEntryBits);
    put_le16(out, 0);  // x origin
    put_le16(out, 0);  // y origin
    put_le16(out, static_cast<uint16_t>(w));
    put_le16(out, static_cast<uint16_t>(h));
    put_u8(out, kTgaPixelBits);
    put_u8(out, kTgaBottomLeftOrigin);
    for (uint32_t c : image.palette) {
        put_u8(out, blue_of(c));
        put_u8(out, green_of(c));
        put_u8(out, red_of(c));
    }
    RowBytes packed(w);
    for (int32_t y = h - 1; y >= 0; --y) {
        const uint8_t* row = image.indices.row(y);
        if (rle) {
            tga_rle_row(packed, row, w);
            packed.move_to(out);
        } else {
            out.append(reinterpret_cast<const char*>(row), static_cast<size_t>(w));
        }
    }
    put_le32(out, 0);  // extension area offset
    put_le32(out, 0);  // developer area offset
    out += kTgaSignature;
    return out;
}

bool write_bitmap(const SubpictureCanvas& canvas, const std::string& path,
                  const ExtentOptions& options, const ClassColours& colours, int32_t type_id,
                  const PaletteOrder& order, Rect& extent, base::Messages& messages) {
    extent = bitmap_extent(canvas, options);
    if (path.empty()) {
        return true;
    }
    const ImageType* type = find_image_type(type_id);
    if (type == nullptr) {
        messages.error_with_system(path, 0);
        return false;
    }
    if (type->encoding == ImageEncoding::Yc) {
        extent = yc_extent(extent, canvas.width());
        if (extent.width() > kYcMaxWidth) {
            messages.error(kYcWidthMessage);
            return false;
        }
    }
    if (extent.width() > kMaxBitmapSide || extent.height() > kMaxBitmapSide) {
        messages.error_with_system(path, EFBIG);
        return false;
    }
    assert(type->bits_per_pixel != 4 ||
           (order[0] < 16 && order[1] < 16 && order[2] < 16 && order[3] < 16));

    std::optional<std::string> bytes;
    int failure = EFBIG;  // the encoders of fixed-size formats fail only on sizes
    switch (type->encoding) {
        case ImageEncoding::Bmp:
            bytes = type->palette
                        ? encode_bmp_indexed(
                              build_palette_image(canvas.classes(), extent, colours, order),
                              type->bits_per_pixel, type->compressed)
                        : encode_bmp_rgb(build_rgb_image(canvas.classes(), extent, colours));
            break;
        case ImageEncoding::Tiff:
            bytes = encode_tiff_classes(canvas.classes(), extent, colours);
            failure = 0;  // libtiff gives no system reason
            break;
        case ImageEncoding::Tga:
            bytes = encode_tga(build_palette_image(canvas.classes(), extent, colours, order),
                               type->compressed);
            break;
        case ImageEncoding::Yc:
            bytes = encode_yc(canvas.classes(), extent, colours, type->compressed);
            break;
    }
    if (!bytes) {
        messages.error_with_system(path, failure);
        return false;
    }
    return base::write_file_direct(path, *bytes, kFileFailureFormat, kFileFailureFormat, messages);
}

bool write_indexed_png(const SubpictureCanvas& canvas, const std::string& path,
                       const ExtentOptions& options, const ClassColours& colours,
                       const ClassOpacity& opacity, const PaletteOrder& order, Rect& extent,
                       base::Messages& messages) {
    extent = bitmap_extent(canvas, options);
    if (path.empty()) {
        return true;
    }
    if (extent.width() > kMaxBitmapSide || extent.height() > kMaxBitmapSide) {
        messages.error_with_system(path, EFBIG);
        return false;
    }
    assert(order[0] < 4 && order[1] < 4 && order[2] < 4 && order[3] < 4);
    const PaletteImage image = build_palette_image(canvas.classes(), extent, colours, order);
    std::array<uint8_t, 4> entry_opacity{};
    for (size_t k = 0; k < 4; ++k) {
        entry_opacity[order[k]] = opacity[k];
    }
    const std::optional<std::string> bytes =
        encode_png_indexed(image.indices, std::span(image.palette).first(4), entry_opacity);
    if (!bytes) {
        messages.error_with_system(path, 0);
        return false;
    }
    return base::write_file_direct(path, *bytes, kFileFailureFormat, kFileFailureFormat, messages);
}

}  // namespace tessara::imaging
