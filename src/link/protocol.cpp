#include "link/protocol.h"

#include <algorithm>
#include <limits>

#include "base/int_math.h"

namespace tessara::link {

namespace {

void put(uint8_t* out, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    out[0] = static_cast<uint8_t>(u & 0xFF);
    out[1] = static_cast<uint8_t>((u >> 8) & 0xFF);
    out[2] = static_cast<uint8_t>((u >> 16) & 0xFF);
    out[3] = static_cast<uint8_t>(u >> 24);
}

int32_t get(const uint8_t* in) {
    const uint32_t u = uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) |
                       (uint32_t{in[3]} << 24);
    return static_cast<int32_t>(u);
}

// Six or seven integers in a row, the layout of every fixed record.
template <size_t N>
std::array<uint8_t, N * 4> put_all(const std::array<int32_t, N>& values) {
    std::array<uint8_t, N * 4> out{};
    for (size_t i = 0; i < N; ++i) {
        put(out.data() + i * 4, values[i]);
    }
    return out;
}

template <size_t N>
std::optional<std::array<int32_t, N>> get_all(std::span<const uint8_t> bytes) {
    if (bytes.size() != N * 4) {
        return std::nullopt;
    }
    std::array<int32_t, N> values{};
    for (size_t i = 0; i < N; ++i) {
        values[i] = get(bytes.data() + i * 4);
    }
    return values;
}

int64_t padded(int64_t n) {
    return (n + 3) / 4 * 4;
}

}  // namespace

std::array<uint8_t, kHeaderSize> encode(const LinkHeader& h) {
    return put_all<6>(
        {h.version, h.command, h.server_thread, h.session_id, h.first_length, h.second_length});
}

std::array<uint8_t, kReplySize> encode(const LinkReply& r) {
    return put_all<6>(
        {r.version, r.status, r.server_thread, r.session_id, r.reserved1, r.reserved2});
}

std::array<uint8_t, kSessionInfoSize> encode(const SessionInfo& s) {
    return put_all<7>(
        {s.output_frame_us, s.input_frame_us, s.total, s.removed, s.added, s.width, s.height});
}

std::array<uint8_t, kAddPayloadSize> encode(const AddPictureInfo& a) {
    return put_all<3>({a.start, a.last, a.byte_count});
}

std::array<uint8_t, kRemovePayloadSize> encode_frame(int32_t frame) {
    return put_all<1>({frame});
}

std::optional<LinkHeader> decode_header(std::span<const uint8_t> bytes) {
    auto v = get_all<6>(bytes);
    if (!v) {
        return std::nullopt;
    }
    return LinkHeader{(*v)[0], (*v)[1], (*v)[2], (*v)[3], (*v)[4], (*v)[5]};
}

std::optional<LinkReply> decode_reply(std::span<const uint8_t> bytes) {
    auto v = get_all<6>(bytes);
    if (!v) {
        return std::nullopt;
    }
    return LinkReply{(*v)[0], (*v)[1], (*v)[2], (*v)[3], (*v)[4], (*v)[5]};
}

std::optional<SessionInfo> decode_session_info(std::span<const uint8_t> bytes) {
    auto v = get_all<7>(bytes);
    if (!v) {
        return std::nullopt;
    }
    return SessionInfo{(*v)[0], (*v)[1], (*v)[2], (*v)[3], (*v)[4], (*v)[5], (*v)[6]};
}

std::optional<AddPictureInfo> decode_add_picture(std::span<const uint8_t> bytes) {
    auto v = get_all<3>(bytes);
    if (!v) {
        return std::nullopt;
    }
    return AddPictureInfo{(*v)[0], (*v)[1], (*v)[2]};
}

std::optional<int32_t> decode_frame(std::span<const uint8_t> bytes) {
    auto v = get_all<1>(bytes);
    if (!v) {
        return std::nullopt;
    }
    return (*v)[0];
}

int32_t frame_duration_us(int32_t rate) {
    if (rate <= 0) {
        return 0;
    }
    // Rates count frames per 1000 seconds: 1,000,000 us * 1000 / rate.
    const int32_t us = base::muldiv_round(1000000, 1000, rate);
    return us < 0 ? 0 : us;
}

int64_t max_picture_bytes(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    return static_cast<int64_t>(kPictureHeaderSize) +
           int64_t{height} * (static_cast<int64_t>(kRowHeaderSize) + padded(width));
}

std::optional<PictureReader> PictureReader::open(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4 || bytes.size() > static_cast<size_t>(INT32_MAX)) {
        return std::nullopt;
    }
    if (get(bytes.data()) != static_cast<int32_t>(bytes.size())) {
        return std::nullopt;
    }
    PictureReader reader(bytes);
    if (bytes.size() == static_cast<size_t>(kEmptyPictureSize)) {
        return reader;  // the empty picture: nothing but its size
    }
    if (bytes.size() < kPictureHeaderSize) {
        return std::nullopt;
    }
    const int32_t rows = get(bytes.data() + 4);
    if (rows < 0) {
        return std::nullopt;
    }
    size_t at = kPictureHeaderSize;
    for (int32_t i = 0; i < rows; ++i) {
        if (bytes.size() - at < kRowHeaderSize) {
            return std::nullopt;
        }
        const int64_t size = get(bytes.data() + at);
        const int64_t n = get(bytes.data() + at + 12);
        if (n < 0 || size != static_cast<int64_t>(kRowHeaderSize) + padded(n) ||
            static_cast<uint64_t>(size) > bytes.size() - at) {
            return std::nullopt;
        }
        at += static_cast<size_t>(size);
    }
    if (at != bytes.size()) {
        return std::nullopt;  // bytes after the last record
    }
    reader.m_rows = rows;
    return reader;
}

uint32_t PictureReader::colour(int v) const {
    if (v < 1 || v > 3 || m_bytes.size() < kPictureHeaderSize) {
        return 0;
    }
    return static_cast<uint32_t>(get(m_bytes.data() + 4 + static_cast<size_t>(v) * 4));
}

size_t PictureReader::read_row(size_t at, PictureRow& row) const {
    const uint8_t* p = m_bytes.data() + at;
    const auto size = static_cast<size_t>(get(p));
    row.y = get(p + 4);
    row.x = get(p + 8);
    row.pixels = m_bytes.subspan(at + kRowHeaderSize, static_cast<size_t>(get(p + 12)));
    return size;
}

PictureBuilder::PictureBuilder(uint32_t colour1, uint32_t colour2, uint32_t colour3)
    : m_bytes(kPictureHeaderSize, 0) {
    put(m_bytes.data() + 8, static_cast<int32_t>(colour1));
    put(m_bytes.data() + 12, static_cast<int32_t>(colour2));
    put(m_bytes.data() + 16, static_cast<int32_t>(colour3));
}

void PictureBuilder::add_row(int32_t y, int32_t x, std::span<const uint8_t> pixels) {
    const int64_t size = static_cast<int64_t>(kRowHeaderSize) + padded(pixels.size());
    if (m_too_large ||
        static_cast<int64_t>(m_bytes.size()) + size > std::numeric_limits<int32_t>::max()) {
        m_too_large = true;
        return;
    }
    const size_t at = m_bytes.size();
    m_bytes.resize(at + static_cast<size_t>(size), 0);
    uint8_t* p = m_bytes.data() + at;
    put(p, static_cast<int32_t>(size));
    put(p + 4, y);
    put(p + 8, x);
    put(p + 12, static_cast<int32_t>(pixels.size()));
    std::copy(pixels.begin(), pixels.end(), p + kRowHeaderSize);
    ++m_rows;
}

bool PictureBuilder::finish(std::vector<uint8_t>& out) {
    if (m_too_large) {
        return false;
    }
    if (m_rows == 0) {
        out.assign(4, 0);
        put(out.data(), kEmptyPictureSize);
        return true;
    }
    put(m_bytes.data(), static_cast<int32_t>(m_bytes.size()));
    put(m_bytes.data() + 4, m_rows);
    out = std::move(m_bytes);
    return true;
}

}  // namespace tessara::link
