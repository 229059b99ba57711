#include "formats/dvd_subpicture.h"

#include <algorithm>
#include <cassert>
#include <cstdarg>
#include <cstdio>

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
constexpr uint8_t kForcedStartDisplay = 0x00;

constexpr int32_t kMaxRun = 255;  // the longest run one code holds
constexpr int64_t kMaxDelay = 0xFFFF;

constexpr uint8_t kPrivateStream1 = 0xBD;
constexpr uint8_t kPackStart = 0xBA;
constexpr uint8_t kProgramEnd = 0xB9;
constexpr uint8_t kFirstStreamCode = 0xBB;  // the system header, then every stream
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

namespace {

// Formats the one-line reason into `error`; gives false, so a step can `return fail(...)`.
[[gnu::format(printf, 2, 3)]] bool fail(std::string& error, const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    error = text;
    return false;
}

uint8_t byte_at(std::string_view b, size_t at) {
    return static_cast<uint8_t>(b[at]);
}

uint32_t be16_at(std::string_view b, size_t at) {
    return uint32_t{byte_at(b, at)} << 8 | byte_at(b, at + 1);
}

std::array<uint8_t, 4> by_value(uint32_t nibbles) {
    return {static_cast<uint8_t>(nibbles & 0xF), static_cast<uint8_t>((nibbles >> 4) & 0xF),
            static_cast<uint8_t>((nibbles >> 8) & 0xF), static_cast<uint8_t>(nibbles >> 12)};
}

// Reads 4-bit nibbles, high nibble first, from bytes [begin, end).
class NibbleReader {
  public:
    NibbleReader(std::string_view bytes, size_t begin, size_t end)
        : m_bytes(bytes), m_at(2 * begin), m_end(2 * end) {}

    bool next(uint32_t& n) {
        if (m_at >= m_end) {
            return false;
        }
        const uint8_t b = byte_at(m_bytes, m_at / 2);
        n = m_at % 2 == 0 ? b >> 4 : b & 0xF;
        ++m_at;
        return true;
    }
    void align() { m_at += m_at % 2; }

  private:
    std::string_view m_bytes;
    size_t m_at;
    size_t m_end;
};

// The rows of one field (every second row from `first_row`), each a sequence of runs ending on a
// byte. A run of length 0 (the four-nibble code's zero length) fills the rest of the row.
bool decode_field(std::string_view unit, size_t begin, size_t end, int32_t first_row,
                  DecodedUnit& out, std::string& error) {
    NibbleReader r(unit, begin, end);
    for (int32_t y = first_row; y < out.height; y += 2) {
        uint8_t* row = out.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(out.width);
        for (int32_t x = 0; x < out.width;) {
            uint32_t code = 0;
            uint32_t n = 0;
            // One nibble for lengths 1-3, two for 4-15, three for 16-63, four for the rest: a
            // code too small for its nibbles so far takes another.
            bool ok = r.next(code);
            for (uint32_t limit = 0x4; ok && code < limit && limit <= 0x40; limit <<= 2) {
                ok = r.next(n);
                code = code << 4 | n;
            }
            if (!ok) {
                return fail(error, "pixel data ends at row %d", y);
            }
            const uint32_t length = code >> 2;
            const int32_t run = length == 0 ? out.width - x : static_cast<int32_t>(length);
            if (x + run > out.width) {
                return fail(error, "run past the end of row %d", y);
            }
            std::fill_n(row + x, run, static_cast<uint8_t>(code & 3));
            x += run;
        }
        r.align();
    }
    return true;
}

}  // namespace

std::optional<DecodedUnit> decode_subpicture_unit(std::string_view unit, std::string& error) {
    error.clear();
    if (unit.size() < 4) {
        fail(error, "subpicture unit of %zu bytes", unit.size());
        return std::nullopt;
    }
    const size_t size = be16_at(unit, 0);
    const size_t first = be16_at(unit, 2);
    if (size != unit.size()) {
        fail(error, "subpicture unit size field %zu for %zu bytes", size, unit.size());
        return std::nullopt;
    }
    if (first < 4 || first >= size) {
        fail(error, "control sequence offset %zu outside the unit", first);
        return std::nullopt;
    }

    DecodedUnit out;
    bool have_area = false;
    bool have_offsets = false;
    size_t fields[2] = {0, 0};
    // Each sequence: its delay, the offset of the next one (its own for the last), commands up
    // to the end code. Links only run forwards, so the walk ends.
    for (size_t at = first;;) {
        if (size - at < 4) {
            fail(error, "truncated control sequence at byte %zu", at);
            return std::nullopt;
        }
        const uint32_t delay = be16_at(unit, at);
        const size_t next = be16_at(unit, at + 2);
        size_t p = at + 4;
        auto need = [&](size_t n) {
            return size - p >= n || fail(error, "truncated control sequence at byte %zu", at);
        };
        for (bool end = false; !end;) {
            if (!need(1)) {
                return std::nullopt;
            }
            const uint8_t command = byte_at(unit, p++);
            switch (command) {
                case kForcedStartDisplay:
                case kStartDisplay:
                    out.start_delay = delay;
                    break;
                case kStopDisplay:
                    out.stop_delay = delay;
                    break;
                case kSetColour:
                case kSetContrast:
                    if (!need(2)) {
                        return std::nullopt;
                    }
                    (command == kSetColour ? out.colour : out.contrast) =
                        by_value(be16_at(unit, p));
                    p += 2;
                    break;
                case kSetArea: {
                    if (!need(6)) {
                        return std::nullopt;
                    }
                    // Two 12-bit values in three bytes each: left and right, then top and bottom
                    // (the right and bottom inclusive).
                    auto pair = [&](size_t q, uint32_t& a, uint32_t& b) {
                        a = uint32_t{byte_at(unit, q)} << 4 | byte_at(unit, q + 1) >> 4;
                        b = uint32_t{byte_at(unit, q + 1) & 0xFu} << 8 | byte_at(unit, q + 2);
                    };
                    uint32_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
                    pair(p, x1, x2);
                    pair(p + 3, y1, y2);
                    p += 6;
                    if (x2 < x1 || y2 < y1) {
                        fail(error, "empty display area (%u-%u, %u-%u)", x1, x2, y1, y2);
                        return std::nullopt;
                    }
                    out.left = static_cast<int32_t>(x1);
                    out.top = static_cast<int32_t>(y1);
                    out.width = static_cast<int32_t>(x2 - x1 + 1);
                    out.height = static_cast<int32_t>(y2 - y1 + 1);
                    have_area = true;
                    break;
                }
                case kSetFieldOffsets:
                    if (!need(4)) {
                        return std::nullopt;
                    }
                    fields[0] = be16_at(unit, p);
                    fields[1] = be16_at(unit, p + 2);
                    p += 4;
                    have_offsets = true;
                    break;
                case kEndOfSequence:
                    end = true;
                    break;
                default:
                    fail(error, "unknown control command 0x%02x at byte %zu", command, p - 1);
                    return std::nullopt;
            }
        }
        if (next == at) {
            break;
        }
        if (next < at || next >= size) {
            fail(error, "control sequence at byte %zu links to byte %zu", at, next);
            return std::nullopt;
        }
        at = next;
    }
    if (!have_area || !have_offsets) {
        fail(error, "subpicture unit without %s", have_area ? "field offsets" : "a display area");
        return std::nullopt;
    }
    // The pixel data lies between the header and the first control sequence.
    for (size_t offset : fields) {
        if (offset < 4 || offset >= first) {
            fail(error, "field offset %zu outside the pixel data", offset);
            return std::nullopt;
        }
    }
    out.pixels.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height), 0);
    if (!decode_field(unit, fields[0], first, 0, out, error) ||
        !decode_field(unit, fields[1], first, 1, out, error)) {
        return std::nullopt;
    }
    return out;
}

std::vector<std::pair<int64_t, std::string>> read_subpicture_packs(std::string_view b,
                                                                   std::string* error) {
    std::vector<std::pair<int64_t, std::string>> units;
    std::string reason;
    std::optional<std::pair<int64_t, std::string>> partial;  // a unit still being gathered
    size_t partial_at = 0;                                   // the pack it starts in
    size_t pack_at = 0;
    size_t p = 0;
    auto stop = [&](const char* format, size_t at) {
        char text[120];
        std::snprintf(text, sizeof text, format, at);
        reason = text;
    };
    while (p < b.size() && reason.empty()) {
        if (b.size() - p < 4 || b.substr(p, 3) != "\x00\x00\x01"sv) {
            stop("no start code at byte %zu", p);
            break;
        }
        const uint8_t code = byte_at(b, p + 3);
        if (code == kProgramEnd) {
            p += 4;
            continue;
        }
        if (code == kPackStart) {
            // MPEG-2 pack headers are 14 bytes and stuffing; MPEG-1 ones 12.
            size_t length = 0;
            if (b.size() - p >= kPackHeaderSize && (byte_at(b, p + 4) & 0xC0) == 0x40) {
                length = kPackHeaderSize + (byte_at(b, p + 13) & 0x07);
            } else if (b.size() - p >= 12 && (byte_at(b, p + 4) & 0xF0) == 0x20) {
                length = 12;
            }
            if (length == 0 || b.size() - p < length) {
                stop("bad or truncated pack header at byte %zu", p);
                break;
            }
            pack_at = p;
            p += length;
            continue;
        }
        if (code < kFirstStreamCode || b.size() - p < kPesHeaderSize) {
            stop("unexpected start code at byte %zu", p);
            break;
        }
        const size_t length = be16_at(b, p + 4);
        if (b.size() - p - kPesHeaderSize < length) {
            stop("truncated packet at byte %zu", p);
            break;
        }
        const std::string_view packet = b.substr(p + kPesHeaderSize, length);
        const size_t packet_at = p;
        p += kPesHeaderSize + length;
        if (code != kPrivateStream1) {
            continue;
        }
        // Flags, header data length, the header data (with the stamp), then the substream.
        if (packet.size() < kPesFlagsSize || (byte_at(packet, 0) & 0xC0) != 0x80 ||
            packet.size() < kPesFlagsSize + byte_at(packet, 2) + 1u) {
            stop("bad private stream 1 packet at byte %zu", packet_at);
            break;
        }
        const size_t header_data = byte_at(packet, 2);
        const bool stamped = (byte_at(packet, 1) & 0x80) != 0;
        if (stamped && header_data < kPtsSize) {
            stop("bad private stream 1 packet at byte %zu", packet_at);
            break;
        }
        if (byte_at(packet, kPesFlagsSize + header_data) != kFirstSubpictureStream) {
            continue;
        }
        const std::string_view payload = packet.substr(kPesFlagsSize + header_data + 1);
        if (stamped) {
            if (partial) {
                stop("subpicture unit at byte %zu cut short", partial_at);
                break;
            }
            const std::string_view t = packet.substr(kPesFlagsSize, kPtsSize);
            const int64_t pts = int64_t{(byte_at(t, 0) >> 1) & 0x07} << 30 |
                                int64_t{byte_at(t, 1)} << 22 | int64_t{byte_at(t, 2) >> 1} << 15 |
                                int64_t{byte_at(t, 3)} << 7 | int64_t{byte_at(t, 4) >> 1};
            partial.emplace(pts, std::string());
            partial_at = pack_at;
        } else if (!partial) {
            stop("subpicture data without a unit start at byte %zu", packet_at);
            break;
        }
        partial->second.append(payload);
        if (partial->second.size() >= 2) {
            const size_t size = be16_at(partial->second, 0);
            if (size < 4) {
                stop("subpicture unit at byte %zu with a bad size", partial_at);
                break;
            }
            if (partial->second.size() >= size) {
                partial->second.resize(size);
                units.push_back(std::move(*partial));
                partial.reset();
            }
        }
    }
    if (reason.empty() && partial) {
        stop("subpicture unit at byte %zu cut short", partial_at);
    }
    if (error != nullptr) {
        *error = reason;
    }
    return units;
}

}  // namespace tessara::formats
