#include "image_decoders.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

namespace tessara::fuzz {

namespace {

// Bounds-checked little-endian reads from a byte view.
class ByteReader {
  public:
    explicit ByteReader(std::string_view bytes) : m_bytes(bytes) {}

    bool u8(uint8_t& v) {
        if (m_pos >= m_bytes.size()) {
            return false;
        }
        v = static_cast<uint8_t>(m_bytes[m_pos++]);
        return true;
    }
    bool le16(uint16_t& v) {
        uint8_t a = 0, b = 0;
        if (!u8(a) || !u8(b)) {
            return false;
        }
        v = static_cast<uint16_t>(a | (b << 8));
        return true;
    }
    bool le32(uint32_t& v) {
        uint16_t a = 0, b = 0;
        if (!le16(a) || !le16(b)) {
            return false;
        }
        v = a | (uint32_t{b} << 16);
        return true;
    }
    bool skip(size_t n) {
        if (m_bytes.size() - m_pos < n) {
            return false;
        }
        m_pos += n;
        return true;
    }
    size_t position() const { return m_pos; }
    size_t left() const { return m_bytes.size() - m_pos; }
    bool seek(size_t pos) {
        if (pos > m_bytes.size()) {
            return false;
        }
        m_pos = pos;
        return true;
    }

  private:
    std::string_view m_bytes;
    size_t m_pos = 0;
};

uint32_t colour(uint8_t red, uint8_t green, uint8_t blue) {
    return red | (uint32_t{green} << 8) | (uint32_t{blue} << 16);
}

void fill_rgb(DecodedImage& image) {
    image.rgb.resize(image.indices.size());
    for (size_t i = 0; i < image.indices.size(); ++i) {
        image.rgb[i] = image.palette[image.indices[i]];
    }
}

// Decodes BMP run-length pixels (RLE8 or RLE4) into bottom-up `rows`. Every row must be
// complete before its end-of-line, the last one ends with end-of-bitmap, and nothing follows.
bool decode_bmp_rle(ByteReader& in, int32_t width, int32_t height, int bits,
                    std::vector<uint8_t>& out) {
    out.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    int32_t x = 0;
    int32_t row = 0;  // counted from the bottom
    auto put = [&](uint8_t index) {
        if (x >= width || row >= height) {
            return false;
        }
        out[static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width) +
            static_cast<size_t>(x)] = index;
        ++x;
        return true;
    };
    while (true) {
        uint8_t count = 0, value = 0;
        if (!in.u8(count) || !in.u8(value)) {
            return false;
        }
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                const uint8_t index = bits == 8 ? value : (i % 2 == 0 ? value >> 4 : value & 0x0F);
                if (!put(index)) {
                    return false;
                }
            }
            continue;
        }
        if (value == 0 || value == 1) {  // end of line / end of bitmap
            if (x != width) {
                return false;
            }
            x = 0;
            ++row;
            if (value == 1) {
                return row == height && in.left() == 0;
            }
            continue;
        }
        if (value == 2) {
            return false;  // deltas are never written
        }
        // An absolute run of `value` pixels, padded to a 16-bit boundary.
        const size_t bytes = bits == 8 ? value : (value + 1u) / 2;
        for (size_t i = 0; i < bytes; ++i) {
            uint8_t b = 0;
            if (!in.u8(b)) {
                return false;
            }
            if (bits == 8) {
                if (!put(b)) {
                    return false;
                }
            } else {
                if (!put(b >> 4)) {
                    return false;
                }
                if (2 * i + 1 < value && !put(b & 0x0F)) {
                    return false;
                }
            }
        }
        if (bytes % 2 != 0 && !in.skip(1)) {
            return false;
        }
    }
}

// ---- TIFF from memory ---------------------------------------------------------------------

struct TiffSource {
    std::string_view bytes;
    uint64_t position = 0;
};

tmsize_t tiff_read(thandle_t h, void* buffer, tmsize_t size) {
    auto& s = *static_cast<TiffSource*>(h);
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
toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
    auto& s = *static_cast<TiffSource*>(h);
    int64_t base = whence == SEEK_CUR   ? static_cast<int64_t>(s.position)
                   : whence == SEEK_END ? static_cast<int64_t>(s.bytes.size())
                                        : 0;
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
toff_t tiff_size(thandle_t h) {
    return static_cast<TiffSource*>(h)->bytes.size();
}
int tiff_map(thandle_t, void**, toff_t*) {
    return 0;
}
void tiff_unmap(thandle_t, void*, toff_t) {}
int tiff_quiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

}  // namespace

std::optional<DecodedImage> decode_bmp(std::string_view bytes) {
    constexpr uint32_t kHeaders = 14 + 40;
    ByteReader in(bytes);
    uint16_t magic = 0, reserved1 = 1, reserved2 = 1, planes = 0, bits = 0;
    uint32_t file_size = 0, offset = 0, info_size = 0, w = 0, h = 0, compression = 0,
             image_size = 0, ppm_x = 0, ppm_y = 0, used = 0, important = 0;
    if (!in.le16(magic) || magic != 0x4D42 || !in.le32(file_size) || file_size != bytes.size() ||
        !in.le16(reserved1) || !in.le16(reserved2) || reserved1 != 0 || reserved2 != 0 ||
        !in.le32(offset) || !in.le32(info_size) || info_size != 40 || !in.le32(w) || !in.le32(h) ||
        !in.le16(planes) || planes != 1 || !in.le16(bits) || !in.le32(compression) ||
        !in.le32(image_size) || !in.le32(ppm_x) || !in.le32(ppm_y) || !in.le32(used) ||
        !in.le32(important)) {
        return std::nullopt;
    }
    const auto width = static_cast<int32_t>(w);
    const auto height = static_cast<int32_t>(h);
    if (width <= 0 || height <= 0 || (bits != 4 && bits != 8 && bits != 24) ||
        int64_t{width} * height > (int64_t{1} << 26)) {
        return std::nullopt;
    }
    const bool rle = compression != 0;
    if (rle && !((compression == 1 && bits == 8) || (compression == 2 && bits == 4))) {
        return std::nullopt;
    }
    const uint32_t entries = bits == 24 ? 0 : (used == 0 ? (1u << bits) : used);
    if (entries > (1u << (bits == 24 ? 0 : bits)) || offset != kHeaders + 4 * entries ||
        image_size != bytes.size() - std::min<size_t>(offset, bytes.size())) {
        return std::nullopt;
    }
    DecodedImage image;
    image.width = width;
    image.height = height;
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t b = 0, g = 0, r = 0, zero = 1;
        if (!in.u8(b) || !in.u8(g) || !in.u8(r) || !in.u8(zero) || zero != 0) {
            return std::nullopt;
        }
        image.palette.push_back(colour(r, g, b));
    }
    if (bits != 24) {
        image.palette.resize(256, 0);
    }
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (rle) {
        if (!decode_bmp_rle(in, width, height, bits, image.indices)) {
            return std::nullopt;
        }
    } else {
        const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
        if (in.left() != stride * static_cast<size_t>(height)) {
            return std::nullopt;
        }
        const char* data = bytes.data() + in.position();
        if (bits == 24) {
            image.rgb.resize(pixels);
        } else {
            image.indices.resize(pixels);
        }
        for (int32_t y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const uint8_t*>(
                data + static_cast<size_t>(height - 1 - y) * stride);
            const size_t at = static_cast<size_t>(y) * static_cast<size_t>(width);
            for (int32_t x = 0; x < width; ++x) {
                if (bits == 24) {
                    image.rgb[at + x] = colour(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
                } else if (bits == 8) {
                    image.indices[at + x] = row[x];
                } else {
                    image.indices[at + x] = x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
                }
            }
        }
    }
    if (bits != 24) {
        for (uint8_t index : image.indices) {
            if (index >= entries) {
                return std::nullopt;
            }
        }
        fill_rgb(image);
    }
    return image;
}

std::optional<DecodedImage> decode_tga(std::string_view bytes) {
    constexpr std::string_view kSignature{"TRUEVISION-XFILE.\0", 18};
    constexpr size_t kFooter = 8 + kSignature.size();
    ByteReader in(bytes);
    uint8_t id_length = 0, map_type = 0, image_type = 0, entry_bits = 0, pixel_bits = 0,
            descriptor = 0;
    uint16_t first_entry = 0, map_length = 0, x_origin = 0, y_origin = 0, w = 0, h = 0;
    if (!in.u8(id_length) || !in.u8(map_type) || map_type != 1 || !in.u8(image_type) ||
        (image_type != 1 && image_type != 9) || !in.le16(first_entry) || first_entry != 0 ||
        !in.le16(map_length) || map_length == 0 || map_length > 256 || !in.u8(entry_bits) ||
        entry_bits != 24 || !in.le16(x_origin) || !in.le16(y_origin) || !in.le16(w) ||
        !in.le16(h) || !in.u8(pixel_bits) || pixel_bits != 8 || !in.u8(descriptor) ||
        descriptor != 0 || !in.skip(id_length) || w == 0 || h == 0) {
        return std::nullopt;
    }
    if (bytes.size() < kFooter || bytes.substr(bytes.size() - kSignature.size()) != kSignature ||
        bytes.substr(bytes.size() - kFooter, 8) != std::string_view("\0\0\0\0\0\0\0\0", 8)) {
        return std::nullopt;
    }
    DecodedImage image;
    image.width = w;
    image.height = h;
    for (uint16_t i = 0; i < map_length; ++i) {
        uint8_t b = 0, g = 0, r = 0;
        if (!in.u8(b) || !in.u8(g) || !in.u8(r)) {
            return std::nullopt;
        }
        image.palette.push_back(colour(r, g, b));
    }
    image.palette.resize(256, 0);
    const size_t width = w;
    image.indices.resize(width * h);
    // Rows are stored bottom-up; a packet never spans two rows.
    for (int32_t row = h - 1; row >= 0; --row) {
        uint8_t* out = image.indices.data() + static_cast<size_t>(row) * width;
        size_t x = 0;
        while (x < width) {
            uint8_t header = 0;
            if (image_type == 1) {
                if (!in.u8(out[x])) {
                    return std::nullopt;
                }
                ++x;
                continue;
            }
            if (!in.u8(header)) {
                return std::nullopt;
            }
            const size_t count = (header & 0x7F) + 1u;
            if (x + count > width) {
                return std::nullopt;
            }
            if ((header & 0x80) != 0) {
                uint8_t v = 0;
                if (!in.u8(v)) {
                    return std::nullopt;
                }
                std::fill(out + x, out + x + count, v);
            } else {
                for (size_t i = 0; i < count; ++i) {
                    if (!in.u8(out[x + i])) {
                        return std::nullopt;
                    }
                }
            }
            x += count;
        }
    }
    if (in.left() != kFooter) {
        return std::nullopt;
    }
    for (uint8_t index : image.indices) {
        if (index >= map_length) {
            return std::nullopt;
        }
    }
    fill_rgb(image);
    return image;
}

std::optional<DecodedImage> decode_tiff(std::string_view bytes, std::string* software) {
    TiffSource source{bytes};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return std::nullopt;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_quiet, nullptr);
    TIFF* tif = TIFFClientOpenExt("decode", "rm", &source, tiff_read, tiff_write, tiff_seek,
                                  tiff_close, tiff_size, tiff_map, tiff_unmap, options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        return std::nullopt;
    }
    uint32_t w = 0, h = 0;
    uint16_t compression = 0, samples = 0, bits = 0;
    char* tag = nullptr;
    std::optional<DecodedImage> out;
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) == 1 &&
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) == 1 &&
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression) == 1 &&
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) == 1 &&
        TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits) == 1 &&
        compression == COMPRESSION_PACKBITS && samples == 3 && bits == 8 && w > 0 && h > 0 &&
        uint64_t{w} * h <= (uint64_t{1} << 26)) {
        if (software != nullptr) {
            *software = TIFFGetField(tif, TIFFTAG_SOFTWARE, &tag) == 1 && tag ? tag : "";
        }
        std::vector<uint32_t> raster(size_t{w} * h);
        if (TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0) == 1) {
            DecodedImage image;
            image.width = static_cast<int32_t>(w);
            image.height = static_cast<int32_t>(h);
            image.rgb.reserve(raster.size());
            for (uint32_t abgr : raster) {
                image.rgb.push_back(abgr & 0xFFFFFF);
            }
            out = std::move(image);
        }
    }
    TIFFClose(tif);
    return out;
}

std::optional<DecodedYc> decode_yc(std::string_view bytes) {
    constexpr uint16_t kEscape = 0x0FF1;
    ByteReader in(bytes);
    uint16_t version = 0, w = 0, h = 0, compressed = 0;
    if (bytes.substr(0, 4) != "UYC " || !in.skip(4) || !in.le16(version) || version != 0x0100 ||
        !in.le16(w) || !in.le16(h) || !in.le16(compressed) || compressed > 1 || w % 2 != 0) {
        return std::nullopt;
    }
    for (int i = 0; i < 20; ++i) {
        uint8_t zero = 1;
        if (!in.u8(zero) || zero != 0) {
            return std::nullopt;
        }
    }
    DecodedYc yc;
    yc.width = w;
    yc.height = h;
    yc.compressed = compressed != 0;
    const size_t pairs = w / 2u;
    auto plane = [&](std::vector<uint16_t>& out) {
        std::vector<uint16_t> words;
        while (words.size() < pairs) {
            uint16_t v = 0;
            if (!in.le16(v)) {
                return false;
            }
            if (!yc.compressed || v != kEscape) {
                words.push_back(v);
                continue;
            }
            uint16_t count = 0;
            if (!in.le16(count)) {
                return false;
            }
            if (count == kEscape) {  // a lone escape word, doubled
                words.push_back(kEscape);
                continue;
            }
            uint16_t repeated = 0;
            if (count == 0 || !in.le16(repeated) || words.size() + count > pairs) {
                return false;
            }
            words.insert(words.end(), count, repeated);
        }
        out.insert(out.end(), words.begin(), words.end());
        return true;
    };
    DecodedYc passes[2];
    for (int pass = 0; pass < 2; ++pass) {
        DecodedYc& p = passes[pass];
        for (uint16_t row = 0; row < h; ++row) {
            const bool key_first = pass == 0 && yc.compressed;
            if (key_first && !plane(p.key)) {
                return std::nullopt;
            }
            if (!plane(p.luma) || !plane(p.chroma)) {
                return std::nullopt;
            }
            if (!key_first && !plane(p.key)) {
                return std::nullopt;
            }
        }
    }
    if (in.left() != 0 || passes[0].key != passes[1].key || passes[0].luma != passes[1].luma ||
        passes[0].chroma != passes[1].chroma) {
        return std::nullopt;
    }
    yc.key = std::move(passes[0].key);
    yc.luma = std::move(passes[0].luma);
    yc.chroma = std::move(passes[0].chroma);
    return yc;
}

std::optional<std::string> unpack_packbits(std::string_view codes) {
    std::string out;
    size_t i = 0;
    while (i < codes.size()) {
        const auto n = static_cast<int8_t>(codes[i++]);
        if (n >= 0) {
            const size_t count = static_cast<size_t>(n) + 1;
            if (codes.size() - i < count) {
                return std::nullopt;
            }
            out.append(codes.substr(i, count));
            i += count;
        } else if (n != -128) {
            if (i >= codes.size()) {
                return std::nullopt;
            }
            out.append(static_cast<size_t>(1 - n), codes[i++]);
        }
    }
    return out;
}

}  // namespace tessara::fuzz
