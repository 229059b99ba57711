#include "imaging/yc_writer.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "imaging/little_endian.h"

namespace tessara::imaging {

namespace {

constexpr std::string_view kYcSignature = "UYC ";
constexpr uint16_t kYcVersion = 0x0100;
constexpr size_t kYcHeaderPadding = 20;  // zero bytes up to the 32-byte header's end
constexpr int32_t kYcMaxHeight = 0xFFFF;
constexpr uint8_t kKeyText = 255;
constexpr uint8_t kKeyBackground = 0;

// 1/255, as the file's readers expect it (multiplied, not divided, so results match them).
constexpr double kByteToUnit = 0.00392156862745098;

struct UnitColour {
    double r, g, b;
};

UnitColour unit_colour(uint32_t c) {
    return {static_cast<double>(c & 0xFF) * kByteToUnit,
            static_cast<double>((c >> 8) & 0xFF) * kByteToUnit,
            static_cast<double>((c >> 16) & 0xFF) * kByteToUnit};
}

uint16_t word(uint8_t low, uint8_t high) {
    return static_cast<uint16_t>(low | (high << 8));
}

// Runs of three or more equal words become escape, count, word (see yc_run_length_encode).
void run_length_encode(std::span<const uint16_t> words, std::vector<uint16_t>& out) {
    out.clear();
    size_t i = 0;
    while (i < words.size()) {
        const uint16_t w = words[i];
        size_t run = 1;
        while (i + run < words.size() && run < 0xFFFF && words[i + run] == w) {
            ++run;
        }
        if (run >= 3 || (run == 2 && w == kYcRunEscape)) {
            out.insert(out.end(), {kYcRunEscape, static_cast<uint16_t>(run), w});
        } else if (run == 2 || w == kYcRunEscape) {
            // A pair, or a lone escape written twice so that it cannot start a run.
            out.insert(out.end(), {w, w});
        } else {
            out.push_back(w);
        }
        i += run;
    }
}

// Appends a plane as the file stores it: 16-bit little-endian words, run-length encoded when
// compressed (`scratch` holds the encoded words).
void put_plane(std::string& out, std::span<const uint16_t> words, bool compressed,
               std::vector<uint16_t>& scratch) {
    if (compressed) {
        run_length_encode(words, scratch);
        words = scratch;
    }
    const size_t at = out.size();
    out.resize(at + 2 * words.size());
    char* p = out.data() + at;
    for (uint16_t w : words) {
        *p++ = static_cast<char>(w & 0xFF);
        *p++ = static_cast<char>(w >> 8);
    }
}

}  // namespace

Rect yc_extent(const Rect& extent, int32_t canvas_width) {
    Rect r = extent;
    if (r.left % 2 != 0) {
        --r.left;
    }
    if (r.right % 2 != 0) {
        // In at the canvas edge, unless that leaves no pixel pair at all.
        r.right += r.right < canvas_width || r.right - 1 == r.left ? 1 : -1;
    }
    if (r.top % 2 != 0) {
        --r.top;
    }
    return r;
}

uint8_t yc_luma(uint32_t colour) {
    const UnitColour c = unit_colour(colour);
    const double y = std::min(0.299 * c.r + 0.587 * c.g + 0.114 * c.b, 1.0);
    return static_cast<uint8_t>(static_cast<int32_t>(y * 219 + 16));
}

uint16_t yc_chroma(uint32_t first, uint32_t second) {
    const UnitColour a = unit_colour(first);
    const UnitColour b = unit_colour(second);
    const double r = (a.r + b.r) / 2;
    const double g = (a.g + b.g) / 2;
    const double bl = (a.b + b.b) / 2;
    // Both lie in 16-240 for any colours, so the truncated values fit their bytes.
    const auto cr = static_cast<int32_t>((0.5 * r - 0.419 * g - 0.081 * bl) * 2 * 112 + 128);
    const auto cb = static_cast<int32_t>((0.5 * bl - 0.169 * r - 0.331 * g) * 2 * 112 + 128);
    return static_cast<uint16_t>(cr * 256 + cb);
}

std::vector<uint16_t> yc_run_length_encode(std::span<const uint16_t> words) {
    std::vector<uint16_t> out;
    out.reserve(words.size());
    run_length_encode(words, out);
    return out;
}

std::optional<std::string> encode_yc(const ClassMap& classes, const Rect& extent,
                                     const ClassColours& colours, bool compressed) {
    const int32_t w = extent.width();
    const int32_t h = extent.height();
    if (w < 0 || h < 0 || w > kYcMaxWidth || h > kYcMaxHeight || w % 2 != 0) {
        return std::nullopt;
    }

    std::array<uint8_t, 4> key{};
    std::array<uint8_t, 4> luma{};
    std::array<std::array<uint16_t, 4>, 4> chroma{};
    for (size_t a = 0; a < 4; ++a) {
        key[a] = a == kBackground ? kKeyBackground : kKeyText;
        luma[a] = yc_luma(colours[a]);
        for (size_t b = 0; b < 4; ++b) {
            chroma[a][b] = yc_chroma(colours[a], colours[b]);
        }
    }

    std::string out;
    out += kYcSignature;
    put_le16(out, kYcVersion);
    put_le16(out, static_cast<uint16_t>(w));
    put_le16(out, static_cast<uint16_t>(h));
    put_le16(out, compressed ? 1 : 0);
    out.append(kYcHeaderPadding, '\0');

    const size_t pairs = static_cast<size_t>(w / 2);
    std::vector<uint16_t> key_plane(pairs);
    std::vector<uint16_t> luma_plane(pairs);
    std::vector<uint16_t> chroma_plane(pairs);
    std::vector<uint16_t> scratch;
    // Both passes store the same planes; the second is built beside the first and appended.
    std::string second;
    for (int32_t y = extent.top; y < extent.bottom; ++y) {
        const bool on_map = y >= 0 && y < classes.height();
        const uint8_t* row = on_map ? classes.row(y) : nullptr;
        auto class_at = [&](int32_t x) -> size_t {
            if (row == nullptr || x < 0 || x >= classes.width()) {
                return kBackground;
            }
            const uint8_t k = row[x];
            return k <= kBackground ? k : kBackground;
        };
        for (size_t p = 0; p < pairs; ++p) {
            const int32_t x = extent.left + static_cast<int32_t>(2 * p);
            const size_t a = class_at(x);
            const size_t b = class_at(x + 1);
            key_plane[p] = word(key[a], key[b]);
            luma_plane[p] = word(luma[a], luma[b]);
            chroma_plane[p] = chroma[a][b];
        }
        // The first pass of a compressed file leads with the key plane.
        if (compressed) {
            put_plane(out, key_plane, compressed, scratch);
        }
        put_plane(out, luma_plane, compressed, scratch);
        put_plane(out, chroma_plane, compressed, scratch);
        if (!compressed) {
            put_plane(out, key_plane, compressed, scratch);
        }
        put_plane(second, luma_plane, compressed, scratch);
        put_plane(second, chroma_plane, compressed, scratch);
        put_plane(second, key_plane, compressed, scratch);
    }
    out += second;
    return out;
}

}  // namespace tessara::imaging
