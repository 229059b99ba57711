#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/protocol.h"
#include "link/transport.h"
#include "script/timecode.h"

namespace tessara::base {
class Messages;
}
namespace tessara::script {
struct ConversionSettings;
}
namespace tessara::render {
class SubpictureCanvas;
}
namespace tessara::timeline {
class Timeline;
struct Subpicture;
}  // namespace tessara::timeline

// The program's end of the preview link: it hands the subpictures to the video-filter plug-in,
// sending everything the first time and only the changes afterwards.
namespace tessara::link {

// What the feed dialog's buttons asked for since the last wait slice.
enum class DialogRequest { None, Cancel, ChangeOffset };

// The feed dialog as the transfer drives it. The GUI shows a window; the command line prints.
class FeedDialog {
  public:
    virtual ~FeedDialog() = default;

    // Shown with the feeding text, the offset (an SMPTE timecode) and the frame-rate check box.
    virtual void show(std::string_view feeding_text, std::string_view offset,
                      bool dont_check_fr) = 0;
    virtual void show_offset(std::string_view offset) = 0;
    virtual void set_status(std::string_view text) = 0;
    // The "don't check frame rate match" check box as the user left it.
    virtual bool dont_check_fr() const = 0;
    // Connected: the offset button and the check box stop taking input.
    virtual void lock_settings() = 0;
    // Called after every 100 ms a wait made no progress; the GUI handles its window events here.
    virtual DialogRequest poll() = 0;
    // The offset dialog, filled with the current offset: the typed text, nothing when cancelled.
    virtual std::optional<std::string> ask_offset(std::string_view current) = 0;
};

// A picture the plug-in holds, or is about to be sent.
struct SentPicture {
    int64_t change_id = 0;
    int32_t start = 0;  // output frame of the subpicture's start
    int32_t last = 0;   // the last output frame it shows on
    int32_t index = 0;  // of the subpicture in the timeline

    bool operator==(const SentPicture&) const = default;
};

// The changes from what the plug-in holds to the new full list, both in start order: pictures
// whose start is gone or whose change id changed are removed, new starts and changed pictures
// are added. A picture whose last frame moved counts as changed too: a subpicture keeps its
// change id when only the next one's start moves, but the plug-in must learn its new interval
// (it would paint it on frames it no longer covers, or refuse the next one as overlapping).
void compare_picture_lists(const std::vector<SentPicture>& sent,
                           const std::vector<SentPicture>& next, std::vector<SentPicture>& removed,
                           std::vector<SentPicture>& added);

// The picture of a composed canvas: a record for every row of the bounding box holding a
// non-background pixel, from its first to its last such pixel, each pixel byte being 3 minus its
// class. Rows move down by row_offset. Colours are those painted for pixel values 1, 2 and 3.
// False when the picture cannot be built.
bool build_picture(const render::SubpictureCanvas& canvas, int32_t row_offset, uint32_t colour1,
                   uint32_t colour2, uint32_t colour3, std::vector<uint8_t>& out);

// The picture the plug-in receives for a subpicture: composed into the canvas (of the output
// size less Minus2 rows), rows moved down by script::minus2_row_shift, each pixel value painted
// in the colour of the class it stands for (timeline::colour_of_class). False when the picture
// cannot be built.
bool subpicture_picture(const timeline::Subpicture& subpicture,
                        const script::ConversionSettings& settings,
                        render::SubpictureCanvas& canvas, std::vector<uint8_t>& out);

// The frame the plug-in's first frame stands for: VDubOffset when it is a valid SMPTE timecode,
// else BackOffset when valid, else the destination position of a single old-style segment, else
// frame 0. `text` receives the offset as an SMPTE timecode.
script::FrameTime preview_offset(const script::ConversionSettings& settings);

class PreviewLinkServer {
  public:
    explicit PreviewLinkServer(base::Messages& messages);

    // Runs one complete transfer of the timeline's subpictures inside the dialog. Settings are
    // read for the rates, resolution and offset; the dialog's check box and a changed offset are
    // stored back (marking the settings modified). True when the plug-in took everything.
    bool feed(const timeline::Timeline& timeline, script::ConversionSettings& settings,
              FeedDialog& dialog);

    // Listens on the loopback link (TCP on 127.0.0.1 with a secret) instead of the socket, for a
    // plug-in running under Wine; connections without the secret are dropped and warned about.
    void set_loopback(bool on) { m_loopback = on; }
    bool loopback() const { return m_loopback; }

    // What the plug-in held after the last successful transfer; nothing before the first.
    const std::optional<std::vector<SentPicture>>& sent() const { return m_sent; }
    bool handshake_needed() const { return m_handshake_needed; }
    int32_t session_id() const { return m_session_id; }
    int32_t server_thread() const { return m_server_thread; }

  private:
    enum class Outcome { Succeeded, Failed };

    bool transfer(const timeline::Timeline& timeline, script::ConversionSettings& settings,
                  FeedDialog& dialog);
    // Opens the chosen listener (reporting a failure) and says where the plug-in is awaited
    // when that is not the usual place.
    bool listen(Listener& socket, LoopbackListener& loopback);
    // Reports a listener that could not open.
    void report_open_failure(Listener::OpenResult result, const std::string& about, int error);
    // One request: header, payloads, reply. The reply's status, or nothing after a failure
    // (reported) or a cancel (silent).
    std::optional<int32_t> request(LinkCommand command, std::span<const uint8_t> first,
                                   std::span<const uint8_t> second);
    bool send_picture(const timeline::Timeline& timeline, const SentPicture& entry,
                      const script::ConversionSettings& settings, render::SubpictureCanvas& canvas);
    // A status other than accepted ends the transfer: 3 silently, anything else reported.
    bool accepted(std::optional<int32_t> status);
    void new_session_id();

    base::Messages& m_messages;
    std::string m_socket_path;
    std::string m_told_path;  // the socket's place outside $XDG_RUNTIME_DIR, once said
    FeedDialog* m_dialog = nullptr;
    Channel m_channel;
    SliceCallback m_slice;
    int32_t m_server_thread = 0;
    int32_t m_session_id = 0;
    int32_t m_session_offset = 0;  // offset frames the session id was made for
    script::FrameTime m_offset;
    bool m_handshake_needed = true;
    bool m_cancelled = false;
    bool m_loopback = false;
    std::optional<std::vector<SentPicture>> m_sent;
    std::vector<SentPicture> m_next;
    std::vector<SentPicture> m_added;
    std::vector<SentPicture> m_removed;
};

// Status and message texts of the transfer.
inline constexpr std::string_view kWaitingText = "Waiting for the plugin to open the connection...";
inline constexpr std::string_view kHandshakeText = "Starting handshake...";
inline constexpr std::string_view kSendingText = "Sending data to the plugin...";
inline constexpr std::string_view kClosingText = "Closing connection...";
inline constexpr std::string_view kSentText = "Data sent to the plugin.";
inline constexpr std::string_view kProtocolErrorText = "Protocol error: incorrect client response";

}  // namespace tessara::link
