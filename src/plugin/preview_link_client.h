#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/protocol.h"
#include "link/transport.h"
#include "plugin/picture_cache.h"

namespace tessara::base {
class Messages;
}

// The plug-in's end of the preview link.
namespace tessara::plugin {

// The frame the host filters, as the client needs it.
struct FrameFormat {
    int32_t width = 0;
    int32_t height = 0;
    int32_t frame_us = 0;  // the host's current microseconds per frame; 0 when unknown
};

// A 32-bit frame stored bottom-up: frame row y (from the top) starts at
// data + (height - 1 - y) * pitch bytes.
struct FrameBuffer {
    uint8_t* data = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    ptrdiff_t pitch = 0;
};

// One per filter instance: receives pictures from the program when filtering starts and paints
// the one whose frames hold the current frame. The cache outlives any number of starts.
class PreviewLinkClient {
  public:
    static constexpr int64_t kDefaultWaitLimitMs = 1'500'000;  // 25 minutes per wait

    explicit PreviewLinkClient(base::Messages& messages) : m_messages(messages) {}

    // Connects to a waiting program and takes its transfer, then checks the session against the
    // frame. Without a program it goes on with the cache it holds. False after any failure
    // (reported); the session is then forgotten, so the next transfer is a complete one.
    bool start(const FrameFormat& frame);
    // start() over a channel that is already connected to the program (none: no program).
    bool start_on(link::Channel channel, const FrameFormat& frame);

    // Paints the picture showing on `frame` (a source frame number) over the buffer.
    void paint(int32_t frame, const FrameBuffer& buffer);

    const PictureCache& cache() const { return m_cache; }
    int32_t server_thread() const { return m_server_thread; }
    int32_t session_id() const { return m_session_id; }
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    int32_t output_frame_us() const { return m_output_us; }
    int32_t input_frame_us() const { return m_input_us; }

    // How long one wait for the program may take.
    void set_wait_limit_ms(int64_t ms) { m_wait_limit_ms = ms; }

  private:
    struct Message {
        link::LinkHeader header;
        std::vector<uint8_t> first;
        std::vector<uint8_t> second;
    };
    enum class LoopResult { Closed, Failed };

    LoopResult message_loop(const FrameFormat& frame);
    bool receive(Message& message, const FrameFormat& frame);
    // Ends a wait once the wait limit has passed from now.
    link::SliceCallback wait_limit() const;
    bool read(std::span<uint8_t> bytes);
    bool reply(int32_t status);
    void abort();
    void forget_session();
    bool frame_rate_matches(const FrameFormat& frame) const;

    base::Messages& m_messages;
    PictureCache m_cache;
    int32_t m_server_thread = 0;
    int32_t m_session_id = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_output_us = 0;
    int32_t m_input_us = 0;
    int32_t m_cursor = PictureCache::kNone;
    link::Channel m_channel;
    int64_t m_wait_limit_ms = kDefaultWaitLimitMs;
};

// The texts the plug-in shows.
inline constexpr const char* kNotInitializedText = "Plugin not correctly initialized";
inline constexpr const char* kResolutionAtStartText =
    "Error: the VirtualDub filter working resolution\nmust match exactly that of Tessara. All "
    "cached\nsubtitles will be erased.";
inline constexpr const char* kResolutionText =
    "Error: the VirtualDub filter working resolution\nmust match exactly that of Tessara. "
    "Configure\neither Tessara or VirtualDub to have them\nmatched. You can use the VirtualDub "
    "resize filter\nto resize your input to the right size.";
inline constexpr const char* kFrameRateText =
    "Error: the movie file played in VirtualDub\nhas a different frame rate than the "
    "Tessara\nscript. Due to the internal working in frame\nnumbers, you should not preview files "
    "with\ndifferent frame rates. You must either get a\nnew video file with the proper frame "
    "rate,\nchange Tessara configuration to use the same\nframe rate as your video file, or, if "
    "you happen\nto know exactly what you're doing, check the\n\"don't check frame rate match\" "
    "option in the\nfeed dialog of Tessara,";
inline constexpr const char* kInvalidSequenceText =
    "Protocol error: invalid sequence from the server";
inline constexpr const char* kInvalidRemoveText = "Protocol error: invalid picture to remove";
inline constexpr const char* kInvalidAddText = "Protocol error: invalid picture to add";
inline constexpr const char* kInvalidCommandText =
    "Protocol error: invalid command or sequence from the server";
inline constexpr const char* kUnsupportedFormatText =
    "Protocol error: unsupported server message format";
inline constexpr const char* kClientReadFailedText =
    "Cannot read from the pipe.\n\nThis is probably because the server\nhas aborted the "
    "connection.";
inline constexpr const char* kClientWriteFailedText =
    "Cannot write to the pipe.\n\nThis is probably because the server\nhas aborted the "
    "connection.";
inline constexpr const char* kTimeoutText = "Timeout waiting for the server data";
inline constexpr const char* kServerVersionText =
    "The Tessara server has a different version\nthan the supported by this plug in.";
inline constexpr const char* kOpenFailedText = "Cannot open the named pipe";
inline constexpr const char* kPipeStateText = "Cannot set pipe state\n";
inline constexpr const char* kEventText = "Cannot create event handler\n";

}  // namespace tessara::plugin
