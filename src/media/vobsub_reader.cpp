#include "media/vobsub_reader.h"

#include "media/ffmpeg_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

namespace tessara::media {

namespace {

// Holds a decoded subtitle until it has been copied out.
struct SubtitleHolder {
    AVSubtitle sub{};
    ~SubtitleHolder() { avsubtitle_free(&sub); }
};

std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The picture of a decoded subtitle: its one bitmap rectangle through the rectangle's palette,
// whose entries are 0xAARRGGBB already.
bool take_picture(const AVSubtitle& sub, int64_t stamp_ms, VobSubPicture& out, std::string& error) {
    if (sub.num_rects != 1 || sub.rects[0]->type != SUBTITLE_BITMAP) {
        error = "a subtitle at " + std::to_string(stamp_ms) + " ms is not one bitmap";
        return false;
    }
    const AVSubtitleRect& rect = *sub.rects[0];
    if (rect.w <= 0 || rect.h <= 0 || rect.data[0] == nullptr || rect.data[1] == nullptr) {
        error = "an empty subtitle bitmap at " + std::to_string(stamp_ms) + " ms";
        return false;
    }
    out.start_ms = stamp_ms + sub.start_display_time;
    out.end_ms = stamp_ms + sub.end_display_time;
    out.x = rect.x;
    out.y = rect.y;
    out.image.width = rect.w;
    out.image.height = rect.h;
    out.image.pixels.resize(static_cast<size_t>(rect.w) * static_cast<size_t>(rect.h));
    const auto* palette = reinterpret_cast<const uint32_t*>(rect.data[1]);
    for (int y = 0; y < rect.h; ++y) {
        const uint8_t* in = rect.data[0] + static_cast<ptrdiff_t>(y) * rect.linesize[0];
        uint32_t* row = out.image.pixels.data() + static_cast<size_t>(y) * rect.w;
        for (int x = 0; x < rect.w; ++x) {
            if (in[x] >= rect.nb_colors) {
                error = "a subtitle bitmap at " + std::to_string(stamp_ms) +
                        " ms uses a colour past its palette";
                return false;
            }
            row[x] = palette[in[x]];
        }
    }
    return true;
}

}  // namespace

struct VobSubReader::State {
    std::string idx_path;
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    std::unique_ptr<AVCodecContext, CodecCloser> decoder;
    std::unique_ptr<AVPacket, PacketFreer> packet;
    int stream_index = -1;
    const AVStream* stream = nullptr;
};

VobSubReader::VobSubReader() = default;
VobSubReader::~VobSubReader() = default;

bool VobSubReader::open(const std::string& idx_path, std::string& error) {
    // Library code never prints; a malformed pair is reported through `error` instead.
    av_log_set_level(AV_LOG_QUIET);
    error.clear();
    m_state.reset();

    const AVInputFormat* vobsub = av_find_input_format("vobsub");
    if (vobsub == nullptr) {
        error = "FFmpeg has no VobSub demuxer";
        return false;
    }
    AVFormatContext* raw = nullptr;
    if (const int rc = avformat_open_input(&raw, idx_path.c_str(), vobsub, nullptr); rc < 0) {
        // The demuxer opens the .sub under the index's name too: name the one that is missing.
        std::error_code ec;
        const bool have_index = std::filesystem::exists(idx_path, ec);
        const std::string missing =
            rc == AVERROR(ENOENT) && have_index
                ? std::filesystem::path(idx_path).replace_extension("sub").string()
                : idx_path;
        error = missing + ": " + av_error_text(rc);
        return false;
    }
    auto state = std::make_unique<State>();
    state->idx_path = idx_path;
    state->format.reset(raw);
    for (unsigned i = 0; i < state->format->nb_streams; ++i) {
        if (state->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            state->stream_index = static_cast<int>(i);
            break;
        }
    }
    if (state->stream_index < 0) {
        error = idx_path + ": no subtitle stream";
        return false;
    }
    state->stream = state->format->streams[state->stream_index];
    const AVCodec* codec = avcodec_find_decoder(state->stream->codecpar->codec_id);
    if (codec == nullptr || codec->id != AV_CODEC_ID_DVD_SUBTITLE) {
        error = idx_path + ": not a DVD subtitle stream";
        return false;
    }
    state->decoder.reset(avcodec_alloc_context3(codec));
    state->packet.reset(av_packet_alloc());
    if (!state->decoder || !state->packet) {
        error = "out of memory";
        return false;
    }
    // The parameters carry the .idx text, from which the decoder takes the palette and size.
    if (const int rc = avcodec_parameters_to_context(state->decoder.get(), state->stream->codecpar);
        rc < 0) {
        error = idx_path + ": " + av_error_text(rc);
        return false;
    }
    if (const int rc = avcodec_open2(state->decoder.get(), codec, nullptr); rc < 0) {
        error = idx_path + ": " + av_error_text(rc);
        return false;
    }
    m_state = std::move(state);
    return true;
}

bool VobSubReader::next(VobSubPicture& picture, std::string& error) {
    error.clear();
    if (!m_state) {
        error = "no VobSub pair is open";
        return false;
    }
    State& s = *m_state;
    for (;;) {
        const int rc = av_read_frame(s.format.get(), s.packet.get());
        if (rc == AVERROR_EOF) {
            return false;
        }
        if (rc < 0) {
            error = s.idx_path + ": " + av_error_text(rc);
            return false;
        }
        // Unreferenced however the iteration ends.
        const std::unique_ptr<AVPacket, void (*)(AVPacket*)> unref(s.packet.get(), av_packet_unref);
        if (s.packet->stream_index != s.stream_index) {
            continue;
        }
        if (s.packet->pts == AV_NOPTS_VALUE) {
            error = s.idx_path + ": a subtitle without a time stamp";
            return false;
        }
        const int64_t stamp_ms =
            av_rescale_q(s.packet->pts, s.stream->time_base, AVRational{1, 1000});
        SubtitleHolder holder;
        int got = 0;
        if (avcodec_decode_subtitle2(s.decoder.get(), &holder.sub, &got, s.packet.get()) < 0) {
            error = "the subtitle at " + std::to_string(stamp_ms) + " ms cannot be decoded";
            return false;
        }
        if (got == 0) {
            continue;
        }
        picture = VobSubPicture();
        return take_picture(holder.sub, stamp_ms, picture, error);
    }
}

std::optional<std::vector<VobSubPicture>> read_vobsub(const std::string& idx_path,
                                                      std::string& error) {
    VobSubReader reader;
    if (!reader.open(idx_path, error)) {
        return std::nullopt;
    }
    std::vector<VobSubPicture> pictures;
    VobSubPicture picture;
    while (reader.next(picture, error)) {
        pictures.push_back(std::move(picture));
    }
    if (!error.empty()) {
        return std::nullopt;
    }
    return pictures;
}

}  // namespace tessara::media
