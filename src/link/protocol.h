#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The preview link's wire format, shared by the program (the server) and the video-filter
// plug-in (the client). Every integer is 32-bit little-endian and signed unless noted. The server
// sends a header, then up to two payloads; the client answers every request with one reply.
// Decoders take exactly the bytes of one record and refuse anything else.
namespace tessara::link {

inline constexpr int32_t kLinkVersion = 2;

enum class LinkCommand : int32_t {
    Hello = 1,
    SessionInfo = 2,
    RemovePicture = 3,
    AddPicture = 4,
    Close = 5,
};

// Reply statuses.
inline constexpr int32_t kStatusAccepted = 1;  // after SessionInfo: send only the changes
inline constexpr int32_t kStatusSendAll = 2;   // after SessionInfo: send every picture
inline constexpr int32_t kStatusAbort = 3;     // the plug-in told its user why and gives up
inline constexpr int32_t kStatusDeclined = 0xFFFF;

inline constexpr size_t kHeaderSize = 24;
inline constexpr size_t kReplySize = 24;
inline constexpr size_t kSessionInfoSize = 28;
inline constexpr size_t kRemovePayloadSize = 4;
inline constexpr size_t kAddPayloadSize = 12;
inline constexpr size_t kPictureHeaderSize = 20;
inline constexpr size_t kRowHeaderSize = 16;
inline constexpr int32_t kEmptyPictureSize = 4;

// Sent before every request.
struct LinkHeader {
    int32_t version = kLinkVersion;
    int32_t command = 0;
    int32_t server_thread = 0;  // the thread that made the server object
    int32_t session_id = 0;
    int32_t first_length = 0;   // bytes of the first payload, 0 for none
    int32_t second_length = 0;  // bytes of the second payload, 0 for none

    bool operator==(const LinkHeader&) const = default;
};

// The client's answer to one request.
struct LinkReply {
    int32_t version = kLinkVersion;
    int32_t status = 0;
    int32_t server_thread = 0;  // echo of the last header's
    int32_t session_id = 0;     // echo of the last header's
    int32_t reserved1 = 0;
    int32_t reserved2 = 0;

    bool operator==(const LinkReply&) const = default;
};

// The first payload of SessionInfo.
struct SessionInfo {
    int32_t output_frame_us = 0;  // 0: frame rates are not checked
    int32_t input_frame_us = 0;
    int32_t total = 0;    // pictures in the complete set
    int32_t removed = 0;  // RemovePicture messages that follow an answer of 1
    int32_t added = 0;    // AddPicture messages that follow an answer of 1
    int32_t width = 0;
    int32_t height = 0;

    bool operator==(const SessionInfo&) const = default;
};

// The first payload of AddPicture: the frames the picture shows on (inclusive) and its size.
struct AddPictureInfo {
    int32_t start = 0;
    int32_t last = 0;
    int32_t byte_count = 0;

    bool operator==(const AddPictureInfo&) const = default;
};

std::array<uint8_t, kHeaderSize> encode(const LinkHeader& h);
std::array<uint8_t, kReplySize> encode(const LinkReply& r);
std::array<uint8_t, kSessionInfoSize> encode(const SessionInfo& s);
std::array<uint8_t, kAddPayloadSize> encode(const AddPictureInfo& a);
std::array<uint8_t, kRemovePayloadSize> encode_frame(int32_t frame);

std::optional<LinkHeader> decode_header(std::span<const uint8_t> bytes);
std::optional<LinkReply> decode_reply(std::span<const uint8_t> bytes);
std::optional<SessionInfo> decode_session_info(std::span<const uint8_t> bytes);
std::optional<AddPictureInfo> decode_add_picture(std::span<const uint8_t> bytes);
std::optional<int32_t> decode_frame(std::span<const uint8_t> bytes);

// Microseconds per frame of a rate in frames per 1000 seconds, rounded to nearest; 0 when the
// rate is not positive.
int32_t frame_duration_us(int32_t rate);

// The largest picture a server can build for a frame of width x height: a record for every
// row, each holding the whole row. 0 for sizes that are not positive.
int64_t max_picture_bytes(int32_t width, int32_t height);

// Pictures: a byte count, a row count, the colours painted for pixel values 1, 2 and 3, then
// the row records. A row record holds its byte count (16 plus the pixels rounded up to four),
// the frame row y, the first column x, the pixel count n and n pixel bytes (0 transparent, 1-3
// a colour), padded with zeros.
struct PictureRow {
    int32_t y = 0;
    int32_t x = 0;
    std::span<const uint8_t> pixels;
};

// Reading a received picture. A picture is valid when its byte count equals its size, the row
// count is not negative and every record fits exactly as described; anything else is refused
// before a single row is used.
class PictureReader {
  public:
    // Nothing when the bytes are not a valid picture.
    static std::optional<PictureReader> open(std::span<const uint8_t> bytes);

    int32_t row_count() const { return m_rows; }
    // The colour painted for pixel value v (1-3), as sent.
    uint32_t colour(int v) const;
    // Calls f(const PictureRow&) for every row record in order.
    template <typename F>
    void for_each_row(F&& f) const {
        size_t at = kPictureHeaderSize;
        for (int32_t i = 0; i < m_rows; ++i) {
            PictureRow row;
            const size_t size = read_row(at, row);
            f(static_cast<const PictureRow&>(row));
            at += size;
        }
    }

  private:
    explicit PictureReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    size_t read_row(size_t at, PictureRow& row) const;  // only on validated bytes

    std::span<const uint8_t> m_bytes;
    int32_t m_rows = 0;
};

// Building a picture row by row, in top-to-bottom order.
class PictureBuilder {
  public:
    // Colours painted for pixel values 1, 2 and 3.
    PictureBuilder(uint32_t colour1, uint32_t colour2, uint32_t colour3);

    // Appends a record for frame row y starting at column x. Pixel bytes above 3 are kept as
    // given; callers pass 0-3.
    void add_row(int32_t y, int32_t x, std::span<const uint8_t> pixels);
    // The finished picture: the 4-byte empty picture when no row was added. False when the
    // picture would not fit the 32-bit byte count.
    bool finish(std::vector<uint8_t>& out);

  private:
    std::vector<uint8_t> m_bytes;
    int32_t m_rows = 0;
    bool m_too_large = false;
};

}  // namespace tessara::link
