#include "formats/dvd_subpicture.h"

#include <algorithm>
#include <cassert>

namespace tessara::formats {

namespace {

using namespace std::string_view_literals;

// Control commands of a display control sequence.
constexpr uint8_t kStartDisplay = 0x01;
constexpr uint8_t kStopDisplay = 0x02;
constexpr uint8_t kSetColour = 0x03;
constexpr uint8_t kSetContrast = 0x04;
constexpr uint8_t kSetArea = 0x05;
constexpr uint8_t kSetFieldOffsets = 0x06;
constexpr uint8_t kEndOfSequence = 0xFF;

constexpr int32_t kMaxRun = 255;  // the longest run one code holds
constexpr int64_t kMaxDelay = 0xFFFF;

constexpr uint8_t kPrivateStream1 = 0xBD;
constexpr uint8_t kPaddingStream = 0xBE;
constexpr uint8_t kFirstSubpictureStream = 0x20;
constexpr size_t kPackHeaderSize = 14;
constexpr size_t kPesHeaderSize = 6;  // start code, stream id, length
constexpr size_t kPesFlagsSize = 3;   // flags and header data length
constexpr size_t kPtsSize = 5;
// 10.08 Mbit/s in units of 50 bytes/s, the DVD multiplex rate.
constexpr uint32_t kMuxRate = 25200;

void put_be16(std::string& out, uint32_t v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void set_be16(std::string& out, size_t at, uint32_t v) {
    out[at] = static_cast<char>((v >> 8) & 0xFF);
    out[at + 1] = static_cast<char>(v & 0xFF);
}

// Collects 4-bit nibbles, high nibble first.
class NibbleWriter {
  public:
    explicit NibbleWriter(std::string& out) : m_out(out) {}

    void put(uint32_t value, int nibbles) {
        for (int i = nibbles - 1; i >= 0; --i) {
            put_nibble(static_cast<uint8_t>((value >> (4 * i)) & 0xF));
        }
    }
    // Each row starts on a byte.
    void align() {
        if (m_half) {
            put_nibble(0);
        }
    }

  private:
    void put_nibble(uint8_t n) {
        if (m_half) {
            m_out.back() = static_cast<char>(static_cast<uint8_t>(m_out.back()) | n);
        } else {
            m_out += static_cast<char>(n << 4);
        }
        m_half = !m_half;
    }

    std::string& m_out;
    bool m_half = false;
};

// One run: 1-3 pixels in one nibble, 4-15 in two, 16-63 in three, 64-255 in four; the length
// sits above the 2-bit value with leading zero nibbles telling the size.
void put_run(NibbleWriter& w, int32_t length, uint8_t value) {
    const uint32_t code = (static_cast<uint32_t>(length) << 2) | value;
    if (length < 4) {
        w.put(code, 1);
    } else if (length < 16) {
        w.put(code, 2);
    } else if (length < 64) {
        w.put(code, 3);
    } else {
        w.put(code, 4);
    }
}

void encode_field(std::string& out, const render::ClassMap& classes, const render::Rect& extent,
                  const std::array<uint8_t, 4>& value_of_class, int32_t first_row) {
    NibbleWriter w(out);
    auto value_at = [&](const uint8_t* row, int32_t x) {
        const uint8_t k = row[x];
        return k < 4 ? value_of_class[k] : value_of_class[render::kBackground];
    };
    for (int32_t y = extent.top + first_row; y < extent.bottom; y += 2) {
        const uint8_t* row = classes.row(y);
        int32_t x = extent.left;
        while (x < extent.right) {
            const uint8_t v = value_at(row, x);
            int32_t end = x + 1;
            while (end < extent.right && value_at(row, end) == v) {
                ++end;
            }
            for (int32_t left = end - x; left > 0;) {
                const int32_t n = std::min(left, kMaxRun);
                put_run(w, n, v);
                left -= n;
            }
            x = end;
        }
        w.align();
    }
}

uint32_t nibbles(const std::array<uint8_t, 4>& by_value) {
    // Value 3 in the top nibble down to value 0 in the bottom one.
    return (uint32_t{by_value[3]} & 0xF) << 12 | (uint32_t{by_value[2]} & 0xF) << 8 |
           (uint32_t{by_value[1]} & 0xF) << 4 | (uint32_t{by_value[0]} & 0xF);
}

void put_pack_header(std::string& out, int64_t scr) {
    const uint64_t s = static_cast<uint64_t>(scr) & 0x1FFFFFFFFULL;
    out += "\x00\x00\x01\xBA"sv;
    out += static_cast<char>(0x44 | ((s >> 27) & 0x38) | ((s >> 28) & 0x03));
    out += static_cast<char>((s >> 20) & 0xFF);
    out += static_cast<char>(0x04 | ((s >> 12) & 0xF8) | ((s >> 13) & 0x03));
    out += static_cast<char>((s >> 5) & 0xFF);
    out += static_cast<char>(0x04 | ((s << 3) & 0xF8));
    out += static_cast<char>(0x01);
    const uint32_t rate = (kMuxRate << 2) | 0x03;
    out += static_cast<char>((rate >> 16) & 0xFF);
    out += static_cast<char>((rate >> 8) & 0xFF);
    out += static_cast<char>(rate & 0xFF);
    out += static_cast<char>(0xF8);  // no stuffing
}

void put_pts(std::string& out, int64_t pts) {
    const uint64_t p = static_cast<uint64_t>(pts) & 0x1FFFFFFFFULL;
    out += static_cast<char>(0x21 | ((p >> 29) & 0x0E));
    out += static_cast<char>((p >> 22) & 0xFF);
    out += static_cast<char>(0x01 | ((p >> 14) & 0xFE));
    out += static_cast<char>((p >> 7) & 0xFF);
    out += static_cast<char>(0x01 | ((p << 1) & 0xFE));
}

}  // namespace

std::string encode_subpicture_unit(const render::ClassMap& classes, const render::Rect& extent,
                                   int32_t area_left, int32_t area_top,
                                   const SubpictureUnitLook& look, int64_t duration_ticks) {
    assert(!extent.empty());
    std::string unit(4, '\0');  // total size and control offset, set below
    const size_t top_field = unit.size();
    encode_field(unit, classes, extent, look.value_of_class, 0);
    const size_t bottom_field = unit.size();
    encode_field(unit, classes, extent, look.value_of_class, 1);

    const size_t first = unit.size();
    const size_t second = first + 4 + 3 + 3 + 7 + 5 + 1 + 1;  // the first sequence's bytes
    put_be16(unit, 0);                                        // shown at once
    put_be16(unit, static_cast<uint32_t>(second));
    unit += static_cast<char>(kSetColour);
    put_be16(unit, nibbles(look.colour));
    unit += static_cast<char>(kSetContrast);
    put_be16(unit, nibbles(look.contrast));
    // The area's last column and row are inclusive.
    const uint32_t x1 = static_cast<uint32_t>(area_left);
    const uint32_t x2 = static_cast<uint32_t>(area_left + extent.width() - 1);
    const uint32_t y1 = static_cast<uint32_t>(area_top);
    const uint32_t y2 = static_cast<uint32_t>(area_top + extent.height() - 1);
    unit += static_cast<char>(kSetArea);
    unit += static_cast<char>((x1 >> 4) & 0xFF);
    unit += static_cast<char>(((x1 & 0xF) << 4) | ((x2 >> 8) & 0xF));
    unit += static_cast<char>(x2 & 0xFF);
    unit += static_cast<char>((y1 >> 4) & 0xFF);
    unit += static_cast<char>(((y1 & 0xF) << 4) | ((y2 >> 8) & 0xF));
    unit += static_cast<char>(y2 & 0xFF);
    unit += static_cast<char>(kSetFieldOffsets);
    put_be16(unit, static_cast<uint32_t>(top_field));
    put_be16(unit, static_cast<uint32_t>(bottom_field));
    unit += static_cast<char>(kStartDisplay);
    unit += static_cast<char>(kEndOfSequence);
    assert(unit.size() == second);

    // The stop: rounded down, so the picture is gone by the frame it ends before and still
    // shown on the frame before that (a frame lasts longer than one delay unit).
    const int64_t delay = std::clamp<int64_t>(duration_ticks / kDelayTicks, 0, kMaxDelay);
    put_be16(unit, static_cast<uint32_t>(delay));
    put_be16(unit, static_cast<uint32_t>(second));  // the last sequence points to itself
    unit += static_cast<char>(kStopDisplay);
    unit += static_cast<char>(kEndOfSequence);

    set_be16(unit, 0, static_cast<uint32_t>(std::min<size_t>(unit.size(), 0xFFFF)));
    set_be16(unit, 2, static_cast<uint32_t>(first));
    return unit;
}

void append_subpicture_packs(std::string& out, std::string_view unit, int64_t pts, int stream) {
    bool first = true;
    while (!unit.empty() || first) {
        const size_t header = kPackHeaderSize + kPesHeaderSize + kPesFlagsSize +
                              (first ? kPtsSize : 0) + 1;  // + the substream id
        const size_t room = kPackSize - header;
        const size_t take = std::min(room, unit.size());
        // A gap too small for a padding packet is filled with stuffing in the PES header.
        size_t gap = room - take;
        const size_t stuffing = gap < kPesHeaderSize ? gap : 0;
        gap -= stuffing;

        put_pack_header(out, pts);
        out += "\x00\x00\x01"sv;
        out += static_cast<char>(kPrivateStream1);
        const size_t pes_data = kPesFlagsSize + (first ? kPtsSize : 0) + stuffing + 1 + take;
        put_be16(out, static_cast<uint32_t>(pes_data));
        out += static_cast<char>(0x81);  // MPEG-2 PES, original
        out += static_cast<char>(first ? 0x80 : 0x00);
        out += static_cast<char>((first ? kPtsSize : 0) + stuffing);
        if (first) {
            put_pts(out, pts);
        }
        out.append(stuffing, '\xFF');
        out += static_cast<char>(kFirstSubpictureStream + stream);
        out.append(unit.substr(0, take));
        unit.remove_prefix(take);
        if (gap > 0) {
            out += "\x00\x00\x01"sv;
            out += static_cast<char>(kPaddingStream);
            put_be16(out, static_cast<uint32_t>(gap - kPesHeaderSize));
            out.append(gap - kPesHeaderSize, '\xFF');
        }
        first = false;
    }
}

}  // namespace tessara::formats
