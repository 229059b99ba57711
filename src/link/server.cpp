#include "link/server.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>

#include "base/messages.h"
#include "base/text.h"
#include "link/loopback.h"
#include "render/subpicture_canvas.h"
#include "script/settings.h"
#include "timeline/colour_slots.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace tessara::link {

namespace {

constexpr const char* kFeedingFormat = "Feeding %d total subtitles (%d new, %d deleted)\n%s";
constexpr const char* kFeedingAdvice =
    "\nPlease start VirtualDub preview with the Tessara plugin configured to start the data "
    "upload, or click cancel to return to the edit/preview mode.";
constexpr const char* kCreateFailedText = "Cannot create named pipe";
constexpr const char* kInTheWayText =
    "Cannot create named pipe: something else is at this path (left untouched)";
constexpr const char* kListeningText =
    "Cannot create named pipe: another program listens on this socket (left untouched)";
constexpr const char* kUnsafeFolderText =
    "Cannot create named pipe: the folder must belong to this user and give no permissions to "
    "anyone else";
constexpr const char* kConnectFailedText = "Cannot write to the pipe";
constexpr const char* kWriteFailedText =
    "Cannot write to the pipe.\n\nThis is probably because the plugin\nhas aborted the "
    "connection.";
constexpr const char* kReadFailedText =
    "Cannot read from the pipe.\n\nThis is probably because the plugin\nhas aborted the "
    "connection.";
constexpr const char* kVersionText = "Client has not the same version as the server";
constexpr const char* kDeclinedText = "The client has declined the data transfer";
constexpr const char* kBuildFailedText = "Internal error building bitmaps";
constexpr const char* kInvalidSmpteText = "Invalid SMPTE value";

// Counts the session ids made by this process.
std::atomic<uint32_t> g_session_counter{0};

// A typed offset: an SMPTE timecode converted at the output rate.
std::optional<script::FrameTime> smpte_frames(std::u16string_view text,
                                              const script::TimingSettings& timing) {
    auto t = script::parse_script_time(text, true, true);
    if (!t || !t->time.smpte) {
        return std::nullopt;
    }
    script::FrameTime ft = script::frame_time_from_script_time(t->time, timing);
    if (!ft.is_set()) {
        return std::nullopt;
    }
    return ft;
}

std::string smpte_text(const script::FrameTime& ft) {
    return base::utf16_to_utf8(script::format_smpte(ft));
}

// A class's pixel value in a picture: 3 minus the class, so that values 1, 2 and 3 stand for
// classes 2, 1 and 0; 0 (transparent) for the background and the classes above it, which never
// reach a canvas.
uint8_t picture_value(uint8_t pixel_class) {
    return pixel_class < render::kBackground ? static_cast<uint8_t>(3 - pixel_class) : 0;
}

// The colour the plug-in paints pixel value 1, 2 or 3 in: that of the class the value stands for.
uint32_t value_colour(const timeline::SubpictureColors& colours, uint8_t value) {
    return timeline::colour_of_class(colours, static_cast<uint8_t>(3 - value), 0);
}

}  // namespace

void compare_picture_lists(const std::vector<SentPicture>& sent,
                           const std::vector<SentPicture>& next, std::vector<SentPicture>& removed,
                           std::vector<SentPicture>& added) {
    removed.clear();
    added.clear();
    size_t o = 0;
    size_t n = 0;
    while (o < sent.size() && n < next.size()) {
        if (sent[o].start < next[n].start) {
            removed.push_back(sent[o++]);
        } else if (next[n].start < sent[o].start) {
            added.push_back(next[n++]);
        } else {
            if (sent[o].change_id != next[n].change_id || sent[o].last != next[n].last) {
                removed.push_back(sent[o]);
                added.push_back(next[n]);
            }
            ++o;
            ++n;
        }
    }
    removed.insert(removed.end(), sent.begin() + static_cast<ptrdiff_t>(o), sent.end());
    added.insert(added.end(), next.begin() + static_cast<ptrdiff_t>(n), next.end());
}

bool build_picture(const render::SubpictureCanvas& canvas, int32_t row_offset, uint32_t colour1,
                   uint32_t colour2, uint32_t colour3, std::vector<uint8_t>& out) {
    PictureBuilder builder(colour1, colour2, colour3);
    const auto& box = canvas.bounding_box();
    if (box && !box->empty()) {
        const auto& classes = canvas.classes();
        std::vector<uint8_t> pixels;
        for (int32_t y = box->top; y < box->bottom; ++y) {
            const uint8_t* row = classes.row(y);
            int32_t first = box->left;
            while (first < box->right && row[first] == render::kBackground) {
                ++first;
            }
            if (first == box->right) {
                continue;
            }
            int32_t last = box->right - 1;
            while (row[last] == render::kBackground) {
                --last;
            }
            pixels.resize(static_cast<size_t>(last - first + 1));
            for (int32_t x = first; x <= last; ++x) {
                pixels[static_cast<size_t>(x - first)] = picture_value(row[x]);
            }
            builder.add_row(y + row_offset, first, pixels);
        }
    }
    return builder.finish(out);
}

bool subpicture_picture(const timeline::Subpicture& subpicture,
                        const script::ConversionSettings& settings,
                        render::SubpictureCanvas& canvas, std::vector<uint8_t>& out) {
    timeline::compose(subpicture, canvas, true);
    const auto& c = subpicture.colors;
    return build_picture(canvas, script::minus2_row_shift(settings), value_colour(c, 1),
                         value_colour(c, 2), value_colour(c, 3), out);
}

script::FrameTime preview_offset(const script::ConversionSettings& settings) {
    if (auto ft = smpte_frames(settings.vdub_offset, settings.timing)) {
        return *ft;
    }
    if (auto ft = smpte_frames(settings.back_offset, settings.timing)) {
        return *ft;
    }
    if (settings.legacy_segments.size() == 1 && settings.legacy_segments[0].dst_pos) {
        auto ft = script::frame_time_from_script_time(*settings.legacy_segments[0].dst_pos,
                                                      settings.timing);
        if (ft.is_set()) {
            return ft;
        }
    }
    return script::FrameTime{0, settings.timing.rate_out, settings.timing.drop_frame};
}

PreviewLinkServer::PreviewLinkServer(base::Messages& messages) : m_messages(messages) {
    m_server_thread = static_cast<int32_t>(::syscall(SYS_gettid));
    new_session_id();
}

void PreviewLinkServer::new_session_id() {
    // Seconds since 1970 times 256 plus a counter: the product outgrows 32 bits, and only the
    // low 32 bits travel, which keeps ids of one process distinct all the same.
    const auto seconds = static_cast<uint64_t>(std::time(nullptr));
    const uint32_t counter = g_session_counter.fetch_add(1) % 256;
    m_session_id = static_cast<int32_t>(static_cast<uint32_t>(seconds * 256 + counter));
}

bool PreviewLinkServer::feed(const timeline::Timeline& timeline,
                             script::ConversionSettings& settings, FeedDialog& dialog) {
    script::validate_timing(settings.timing, settings.iauthor(), &m_messages, false);
    m_added.clear();
    m_removed.clear();
    m_next.clear();
    const auto& subpictures = timeline.subpictures();
    for (size_t i = 0; i < subpictures.size(); ++i) {
        const auto& sp = *subpictures[i];
        if (!sp.members.empty()) {
            // The timeline always ends with an empty subpicture, so a non-empty one has a
            // successor whose start ends it.
            const int32_t stop =
                i + 1 < subpictures.size() ? subpictures[i + 1]->start.frame : sp.start.frame + 1;
            m_next.push_back({sp.change_id, sp.start.frame, stop - 1, static_cast<int32_t>(i)});
        }
    }
    if (m_sent) {
        compare_picture_lists(*m_sent, m_next, m_removed, m_added);
        m_handshake_needed = false;
    } else {
        m_added = m_next;
        m_handshake_needed = true;
    }
    m_offset = preview_offset(settings);

    char advice[1024];
    std::snprintf(advice, sizeof advice, kFeedingFormat, static_cast<int>(m_next.size()),
                  static_cast<int>(m_added.size()), static_cast<int>(m_removed.size()),
                  kFeedingAdvice);
    m_dialog = &dialog;
    m_cancelled = false;
    dialog.show(advice, smpte_text(m_offset), settings.dont_check_fr);
    const bool succeeded = transfer(timeline, settings, dialog);
    m_slice = nullptr;  // it refers to the transfer's own state
    m_channel.close();
    m_dialog = nullptr;
    if (succeeded) {
        m_sent = std::move(m_next);
    }
    m_next.clear();
    m_added.clear();
    m_removed.clear();
    return succeeded;
}

bool PreviewLinkServer::listen(Listener& socket, LoopbackListener& loopback) {
    int error = 0;
    const SocketPlace place = socket_place();
    if (m_loopback) {
        loopback.set_refusal_log([this](const std::string& text) { m_messages.warn(text); });
        const auto opened = loopback.open(place, error);
        if (opened != Listener::OpenResult::Ok) {
            report_open_failure(opened, loopback.failed_path(), error);
            return false;
        }
        m_socket_path = loopback.file_path();
        if (place.own_folder && m_told_path != m_socket_path) {
            // Not where the plug-in looks by itself: it must be told with the variable.
            m_told_path = m_socket_path;
            m_messages.inform(
                "Listening for the plug-in on 127.0.0.1; its port and secret are "
                "in " +
                m_socket_path + " (give the plug-in that path in " + kLoopbackFileVariable + ").");
        }
        return true;
    }
    m_socket_path = place.path;
    const auto opened = socket.open(place, error);
    if (opened != Listener::OpenResult::Ok) {
        report_open_failure(opened, socket.failed_path(), error);
        return false;
    }
    if (place.own_folder && place.path != m_told_path) {
        // Not where the user's session keeps such things: say where the plug-in is awaited.
        m_told_path = place.path;
        m_messages.inform(place.refused_runtime_dir.empty()
                              ? "Listening for the plug-in on " + place.path + "."
                              : "$XDG_RUNTIME_DIR (" + place.refused_runtime_dir +
                                    ") is not a private folder of this user's; listening for "
                                    "the plug-in on " +
                                    place.path + " instead.");
    }
    return true;
}

void PreviewLinkServer::report_open_failure(Listener::OpenResult result, const std::string& about,
                                            int error) {
    switch (result) {
        case Listener::OpenResult::Ok:
            break;
        case Listener::OpenResult::Busy:
            m_messages.error("Another tessara feed may be running (" + about + " is in use).");
            break;
        case Listener::OpenResult::InTheWay:
            m_messages.file_error(about, kInTheWayText, std::nullopt);
            break;
        case Listener::OpenResult::Listening:
            m_messages.file_error(about, kListeningText, std::nullopt);
            break;
        case Listener::OpenResult::UnsafeFolder:
            m_messages.file_error(about, kUnsafeFolderText, std::nullopt);
            break;
        case Listener::OpenResult::Failed:
            m_messages.file_error(about, kCreateFailedText, error);
            break;
    }
}

bool PreviewLinkServer::transfer(const timeline::Timeline& timeline,
                                 script::ConversionSettings& settings, FeedDialog& dialog) {
    Listener socket_listener;
    LoopbackListener loopback_listener;
    if (!listen(socket_listener, loopback_listener)) {
        return false;
    }
    int error = 0;

    dialog.set_status(kWaitingText);
    bool connecting = true;
    m_slice = [&]() {
        switch (dialog.poll()) {
            case DialogRequest::Cancel:
                m_cancelled = true;
                return false;
            case DialogRequest::ChangeOffset:
                if (connecting) {
                    while (auto typed = dialog.ask_offset(smpte_text(m_offset))) {
                        auto ft = smpte_frames(base::utf8_to_utf16(*typed), settings.timing);
                        if (!ft) {
                            m_messages.error(kInvalidSmpteText);
                            continue;
                        }
                        m_offset = *ft;
                        settings.vdub_offset = script::format_smpte(*ft);
                        settings.modified = true;
                        dialog.show_offset(smpte_text(m_offset));
                        break;
                    }
                }
                return true;
            case DialogRequest::None:
                return true;
        }
        return true;
    };

    const IoStatus connected = m_loopback ? loopback_listener.accept(m_channel, m_slice, error)
                                          : socket_listener.accept(m_channel, m_slice, error);
    switch (connected) {
        case IoStatus::Done:
            break;
        case IoStatus::Stopped:
            return false;
        default:
            m_messages.file_error(m_socket_path, kConnectFailedText, error);
            return false;
    }
    // The listener keeps its lock until the transfer ends: other plug-ins find the channel busy.
    connecting = false;

    dialog.lock_settings();
    const bool dont_check = dialog.dont_check_fr();
    if (dont_check != settings.dont_check_fr) {
        settings.dont_check_fr = dont_check;
        settings.modified = true;
    }
    if (m_offset.frame != m_session_offset) {
        new_session_id();
        m_session_offset = m_offset.frame;
    }

    dialog.set_status(kHandshakeText);
    if (m_handshake_needed && !accepted(request(LinkCommand::Hello, {}, {}))) {
        return false;
    }

    SessionInfo info;
    if (!settings.dont_check_fr) {
        info.output_frame_us = frame_duration_us(settings.timing.rate_out);
        info.input_frame_us = frame_duration_us(settings.timing.rate_in);
    }
    info.total = static_cast<int32_t>(m_next.size());
    info.removed = static_cast<int32_t>(m_removed.size());
    info.added = static_cast<int32_t>(m_added.size());
    info.width = settings.res_x;
    info.height = settings.res_y;
    const auto info_bytes = encode(info);
    const auto status = request(LinkCommand::SessionInfo, info_bytes, {});
    if (!status) {
        return false;
    }
    if (*status == kStatusAbort) {
        return false;
    }
    if (*status != kStatusAccepted && *status != kStatusSendAll) {
        m_messages.error(kProtocolErrorText);
        return false;
    }
    dialog.set_status(kSendingText);

    render::SubpictureCanvas canvas(settings.res_x, settings.res_y - settings.minus2);
    if (*status == kStatusAccepted) {
        for (const auto& entry : m_removed) {
            const auto frame = encode_frame(entry.start - m_offset.frame);
            if (!accepted(request(LinkCommand::RemovePicture, frame, {}))) {
                return false;
            }
        }
        for (const auto& entry : m_added) {
            if (!send_picture(timeline, entry, settings, canvas)) {
                return false;
            }
        }
    } else {
        for (const auto& entry : m_next) {
            if (!send_picture(timeline, entry, settings, canvas)) {
                return false;
            }
        }
    }

    dialog.set_status(kClosingText);
    if (!accepted(request(LinkCommand::Close, {}, {}))) {
        return false;
    }
    dialog.set_status(kSentText);
    return true;
}

bool PreviewLinkServer::send_picture(const timeline::Timeline& timeline, const SentPicture& entry,
                                     const script::ConversionSettings& settings,
                                     render::SubpictureCanvas& canvas) {
    const auto& sp = *timeline.subpictures()[static_cast<size_t>(entry.index)];
    std::vector<uint8_t> picture;
    if (!subpicture_picture(sp, settings, canvas, picture)) {
        m_messages.error(kBuildFailedText);
        return false;
    }
    AddPictureInfo info{entry.start - m_offset.frame, entry.last - m_offset.frame,
                        static_cast<int32_t>(picture.size())};
    const auto info_bytes = encode(info);
    return accepted(request(LinkCommand::AddPicture, info_bytes, picture));
}

bool PreviewLinkServer::accepted(std::optional<int32_t> status) {
    if (!status || *status == kStatusAbort) {
        return false;
    }
    if (*status != kStatusAccepted) {
        m_messages.error(kProtocolErrorText);
        return false;
    }
    return true;
}

std::optional<int32_t> PreviewLinkServer::request(LinkCommand command,
                                                  std::span<const uint8_t> first,
                                                  std::span<const uint8_t> second) {
    LinkHeader header;
    header.command = static_cast<int32_t>(command);
    header.server_thread = m_server_thread;
    header.session_id = m_session_id;
    header.first_length = static_cast<int32_t>(first.size());
    header.second_length = static_cast<int32_t>(second.size());
    const auto header_bytes = encode(header);
    int error = 0;

    auto write_failed = [&](IoStatus s) {
        if (s != IoStatus::Stopped) {
            m_messages.file_error(m_socket_path, kWriteFailedText, std::nullopt);
        }
        return std::nullopt;
    };
    IoStatus s = m_channel.write_all(header_bytes, m_slice, error);
    if (s != IoStatus::Done) {
        return write_failed(s);
    }
    // The plug-in may answer before it has read a payload (it refuses the request); what it has
    // not asked for is then not sent.
    bool replied = false;
    for (auto payload : {first, second}) {
        if (payload.empty() || replied) {
            continue;
        }
        s = m_channel.write_all(payload, m_slice, error, true);
        if (s == IoStatus::ReplyFirst) {
            replied = true;
        } else if (s != IoStatus::Done) {
            if (s == IoStatus::Stopped) {
                return std::nullopt;
            }
            // A write that fails because the plug-in answered and went away: its answer says why.
            if (!m_channel.has_input()) {
                return write_failed(s);
            }
            replied = true;
        }
    }
    std::array<uint8_t, kReplySize> reply_bytes{};
    s = m_channel.read_exact(reply_bytes, m_slice, error);
    if (s != IoStatus::Done) {
        if (s != IoStatus::Stopped) {
            m_messages.file_error(m_socket_path, kReadFailedText, std::nullopt);
        }
        return std::nullopt;
    }
    const auto reply = decode_reply(reply_bytes);
    if (reply->version != kLinkVersion) {
        m_messages.error(kVersionText);
        return std::nullopt;
    }
    if (reply->status == kStatusDeclined) {
        m_messages.error(kDeclinedText);
        return std::nullopt;
    }
    return reply->status;
}

}  // namespace tessara::link
