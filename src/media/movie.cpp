#include "media/movie.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <list>
#include <unordered_map>

#include "base/messages.h"
#include "base/progress.h"
#include "media/ffmpeg_handles.h"

namespace tessara::media {
namespace {

constexpr size_t kDefaultCacheBudget = 64u << 20;
// Seeks that land later than asked are retried from this many earlier key frames before the
// file is read again from its start.
constexpr int kSeekAttempts = 4;
// Decoding on from where the decoder stopped beats a seek when the frame asked for is this close
// ahead, even past a key frame (a seek would decode from that key frame anyway).
constexpr int64_t kDecodeOnReach = 16;
// Progress updates while indexing: about this many over the whole file.
constexpr int64_t kProgressSteps = 1000;

struct ScalerFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

bool is_key_frame(const AVFrame* f) {
#ifdef AV_FRAME_FLAG_KEY
    return (f->flags & AV_FRAME_FLAG_KEY) != 0;
#else
    return f->key_frame != 0;
#endif
}

// The demuxer opened on `path` with its streams probed, and the first video stream that is a
// film rather than a cover picture; nullptr or -1 on failure.
FormatPtr open_format(const std::string& path, int& stream) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        return nullptr;
    }
    FormatPtr fmt(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0) {
        return nullptr;
    }
    stream = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            stream = static_cast<int>(i);
            break;
        }
    }
    if (stream < 0) {
        return nullptr;
    }
    // Packets of the other streams are never read into memory.
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (static_cast<int>(i) != stream) {
            fmt->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    return fmt;
}

// A decoder for the stream. The index runs with frame threads (throughput); seeks with slice
// threads, which add no delay before the first picture comes out.
CodecPtr open_decoder(const AVStream* st, bool for_index) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (codec == nullptr) {
        return nullptr;
    }
    CodecPtr dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0) {
        return nullptr;
    }
    dec->pkt_timebase = st->time_base;
    dec->thread_count = 0;
    dec->thread_type = for_index ? FF_THREAD_FRAME | FF_THREAD_SLICE : FF_THREAD_SLICE;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    return dec;
}

}  // namespace

struct Movie::Impl {
    // A key frame as the index keeps it. pts is learnt from the decoded picture when the packet
    // had none (AV_NOPTS_VALUE until then).
    struct KeyPoint {
        int64_t dts;
        int64_t pos;
        int64_t pts;
    };
    struct CacheEntry {
        std::shared_ptr<const MovieFrame> frame;
        std::list<int64_t>::iterator use;
    };

    std::string path;
    FormatPtr fmt;
    int stream = -1;
    CodecPtr dec;
    PacketPtr packet{av_packet_alloc()};
    FramePtr picture{av_frame_alloc()};
    std::unique_ptr<SwsContext, ScalerFreer> scaler;
    // What the scaler's colour details were last set for.
    bool scaler_levels = false;
    int scaler_colorspace = -1;

    // Presentation timestamps in presentation order, strictly increasing: frame N is pts[N].
    std::vector<int64_t> pts;
    std::vector<KeyPoint> keys;  // decode order
    int width = 0;
    int height = 0;
    FrameRate rate;
    bool do_levels = false;

    size_t budget = kDefaultCacheBudget;
    size_t held = 0;
    std::unordered_map<int64_t, CacheEntry> cache;
    std::list<int64_t> uses;  // most recently used first

    // The decoding run: where the decoder stands since the last seek.
    bool run_valid = false;     // false: the next frame needs a seek
    bool fed_key = false;       // a key packet has gone into the decoder since the seek
    bool accepting = false;     // the key frame itself has come out: pictures are sound
    bool flushed = false;       // the end of the file was sent to the decoder
    int64_t first_key_dts = 0;  // the key packet the run started from
    int64_t last_key_dts = 0;   // the last key packet fed
    int64_t last_output = -1;   // the last frame recognised, -1 for none yet

    size_t frame_bytes() const { return static_cast<size_t>(width) * height * 4; }

    // ---- the cache ----
    std::shared_ptr<const MovieFrame> cached(int64_t n) {
        auto it = cache.find(n);
        if (it == cache.end()) {
            return nullptr;
        }
        uses.splice(uses.begin(), uses, it->second.use);
        return it->second.frame;
    }

    void shrink_to(size_t limit) {
        while (held > limit && !uses.empty()) {
            const int64_t oldest = uses.back();
            uses.pop_back();
            cache.erase(oldest);
            held -= frame_bytes();
        }
    }

    void keep(int64_t n, std::shared_ptr<const MovieFrame> f) {
        if (cache.count(n) != 0 || frame_bytes() > budget) {
            return;
        }
        shrink_to(budget >= frame_bytes() ? budget - frame_bytes() : 0);
        uses.push_front(n);
        cache.emplace(n, CacheEntry{std::move(f), uses.begin()});
        held += frame_bytes();
    }

    void clear_cache() {
        cache.clear();
        uses.clear();
        held = 0;
    }

    // ---- conversion ----
    std::shared_ptr<const MovieFrame> convert(const AVFrame* src) {
        SwsContext* s = sws_getCachedContext(
            scaler.release(), src->width, src->height, static_cast<AVPixelFormat>(src->format),
            width, height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
        scaler.reset(s);
        if (s == nullptr) {
            return nullptr;
        }
        const int colorspace = src->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
        if (scaler_colorspace != colorspace || scaler_levels != do_levels) {
            // Levels on reads the source as video range, which the conversion stretches to full
            // range; off reads it as full range, so the levels pass through unchanged.
            const int* coefficients = sws_getCoefficients(colorspace);
            sws_setColorspaceDetails(s, coefficients, do_levels ? 0 : 1,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            scaler_colorspace = colorspace;
            scaler_levels = do_levels;
        }
        auto out = std::make_shared<MovieFrame>();
        out->width = width;
        out->height = height;
        out->pixels.resize(static_cast<size_t>(width) * height);
        uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(out->pixels.data()), nullptr, nullptr,
                              nullptr};
        const int strides[4] = {width * 4, 0, 0, 0};
        if (sws_scale(s, src->data, src->linesize, 0, src->height, planes, strides) != height) {
            return nullptr;
        }
        // The conversion leaves the alpha byte as the source had it (none: often 0).
        for (uint32_t& p : out->pixels) {
            p |= 0xFF000000u;
        }
        return out;
    }

    // ---- the index ----
    // Appends a decoded picture's timestamp: strictly after the one before, made so when the
    // container gave none or a repeated one.
    void index_picture(const AVFrame* f, std::vector<int64_t>& key_pts) {
        int64_t ts = f->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE || (!pts.empty() && ts <= pts.back())) {
            ts = pts.empty() ? 0 : pts.back() + 1;
        }
        pts.push_back(ts);
        if (is_key_frame(f)) {
            key_pts.push_back(ts);
        }
        if (width == 0) {
            width = f->width;
            height = f->height;
        }
    }

    // 1 indexed, 0 cancelled, -1 failed.
    int build_index(base::Progress& progress) {
        CodecPtr index_dec = open_decoder(fmt->streams[stream], true);
        if (!index_dec) {
            return -1;
        }
        const int64_t size = avio_size(fmt->pb);
        const int64_t range = size > 0 ? size : 1;
        progress.set_range(0, range);
        const int64_t progress_step = std::max<int64_t>(1, range / kProgressSteps);
        int64_t next_report = 0;
        std::vector<int64_t> key_pts;

        bool at_end = false;
        while (!at_end) {
            if (av_read_frame(fmt.get(), packet.get()) < 0) {
                at_end = true;
                avcodec_send_packet(index_dec.get(), nullptr);
            } else {
                if (packet->stream_index == stream) {
                    if ((packet->flags & AV_PKT_FLAG_KEY) != 0) {
                        keys.push_back({packet->dts, packet->pos, packet->pts});
                    }
                    // A damaged packet is skipped, as a player would.
                    avcodec_send_packet(index_dec.get(), packet.get());
                    const int64_t at = avio_tell(fmt->pb);
                    if (at >= next_report) {
                        progress.set_position(std::min(at, range));
                        if (!progress.keep_going()) {
                            return 0;
                        }
                        next_report = at + progress_step;
                    }
                }
                av_packet_unref(packet.get());
            }
            while (avcodec_receive_frame(index_dec.get(), picture.get()) == 0) {
                index_picture(picture.get(), key_pts);
                av_frame_unref(picture.get());
            }
        }
        progress.set_position(range);
        if (pts.empty() || keys.empty() || width <= 0 || height <= 0) {
            return -1;
        }
        // Key pictures come out in the order their packets went in: fill in the presentation
        // times the packets did not carry. When the counts differ (a damaged key frame), they
        // are learnt at the first seek instead.
        if (key_pts.size() == keys.size()) {
            for (size_t i = 0; i < keys.size(); ++i) {
                if (keys[i].pts == AV_NOPTS_VALUE) {
                    keys[i].pts = key_pts[i];
                }
            }
        }
        return 1;
    }

    // ---- decoding to a frame ----
    // The frame a picture is, by its timestamp, or the one after the last recognised when its
    // timestamp is not in the index; -1 when neither tells.
    int64_t recognise(const AVFrame* f) const {
        const int64_t ts = f->best_effort_timestamp;
        // The index made a missing or repeated timestamp one more than the one before.
        if (last_output >= 0 && (ts == AV_NOPTS_VALUE || ts <= pts[last_output])) {
            return last_output + 1;
        }
        if (ts != AV_NOPTS_VALUE) {
            auto it = std::lower_bound(pts.begin(), pts.end(), ts);
            if (it != pts.end() && *it == ts) {
                return it - pts.begin();
            }
        }
        return last_output >= 0 ? last_output + 1 : -1;
    }

    // Whether a key packet read after a seek carries the timestamps the index has for a key
    // frame. A seek into a program stream whose packs hold several pictures makes the demuxer
    // give the first pictures after it the timestamps of their neighbours until the next pack
    // timestamp; decoding starts only from a key frame the index recognises, so that every
    // timestamp after it is the one the index was made with.
    bool is_indexed_key(const AVPacket* p) const {
        for (const KeyPoint& k : keys) {
            if (p->dts != AV_NOPTS_VALUE ? p->dts == k.dts
                                         : p->pts != AV_NOPTS_VALUE && p->pts == k.pts) {
                return true;
            }
        }
        return false;
    }

    void learn_key_pts(int64_t dts, int64_t ts) {
        for (KeyPoint& k : keys) {
            if (k.dts == dts && k.pts == AV_NOPTS_VALUE) {
                k.pts = ts;
                return;
            }
        }
    }

    enum class Outcome { Continue, Found, Missed };

    // Takes one picture out of the decoder's hands.
    Outcome take_picture(const AVFrame* f, int64_t target,
                         std::shared_ptr<const MovieFrame>& found) {
        if (!accepting) {
            if (!is_key_frame(f)) {
                return Outcome::Continue;  // a leading picture of an open GOP: unsound
            }
            accepting = true;
            if (f->best_effort_timestamp != AV_NOPTS_VALUE) {
                learn_key_pts(first_key_dts, f->best_effort_timestamp);
            }
        }
        const int64_t n = recognise(f);
        if (n < 0 || n >= static_cast<int64_t>(pts.size())) {
            return Outcome::Continue;
        }
        last_output = n;
        if (n > target) {
            return Outcome::Missed;
        }
        // Only frames the cache can hold up to the target are worth converting.
        const int64_t room = frame_bytes() > 0 ? static_cast<int64_t>(budget / frame_bytes()) : 0;
        if (n == target || target - n < room) {
            auto converted = cached(n);
            if (!converted) {
                converted = convert(f);
                if (!converted) {
                    return Outcome::Missed;
                }
                keep(n, converted);
            }
            if (n == target) {
                found = std::move(converted);
                return Outcome::Found;
            }
        }
        return Outcome::Continue;
    }

    // Decodes on from where the run stands until frame `target` comes out; nullptr when it was
    // passed or the file ended first (the run is then spent).
    std::shared_ptr<const MovieFrame> decode_to(int64_t target) {
        std::shared_ptr<const MovieFrame> found;
        for (;;) {
            while (avcodec_receive_frame(dec.get(), picture.get()) == 0) {
                const Outcome o = take_picture(picture.get(), target, found);
                av_frame_unref(picture.get());
                if (o == Outcome::Found) {
                    return found;
                }
                if (o == Outcome::Missed) {
                    run_valid = false;
                    return nullptr;
                }
            }
            if (flushed) {
                run_valid = false;
                return nullptr;
            }
            if (av_read_frame(fmt.get(), packet.get()) < 0) {
                flushed = true;
                avcodec_send_packet(dec.get(), nullptr);
                continue;
            }
            if (packet->stream_index == stream) {
                const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
                if (key && !fed_key && is_indexed_key(packet.get())) {
                    fed_key = true;
                    first_key_dts = packet->dts;
                }
                if (key) {
                    last_key_dts = packet->dts;
                }
                // Nothing before the first key packet: it could only decode to garbage.
                if (fed_key) {
                    avcodec_send_packet(dec.get(), packet.get());
                }
            }
            av_packet_unref(packet.get());
        }
    }

    void start_run(bool from_start) {
        avcodec_flush_buffers(dec.get());
        run_valid = true;
        fed_key = from_start;
        accepting = from_start;
        flushed = false;
        first_key_dts = AV_NOPTS_VALUE;
        last_key_dts = AV_NOPTS_VALUE;
        last_output = -1;
    }

    // Positions the demuxer at key frame `k`: by decode time, else by byte position.
    bool seek_to_key(const KeyPoint& k) {
        const int64_t ts = k.dts != AV_NOPTS_VALUE ? k.dts : k.pts;
        bool ok =
            ts != AV_NOPTS_VALUE && av_seek_frame(fmt.get(), stream, ts, AVSEEK_FLAG_BACKWARD) >= 0;
        if (!ok && k.pos >= 0 && (fmt->iformat->flags & AVFMT_NO_BYTE_SEEK) == 0) {
            ok = av_seek_frame(fmt.get(), stream, k.pos, AVSEEK_FLAG_BYTE) >= 0;
        }
        if (ok) {
            start_run(false);
        }
        return ok;
    }

    // The last key frame, among the first `limit` in decode order, whose picture is shown at or
    // before `shown`: by its presentation time when known, else by its decode time (never later
    // than its presentation time); -1 when none is.
    int64_t key_for(int64_t shown, int64_t limit) const {
        for (int64_t i = std::min<int64_t>(limit, keys.size()) - 1; i >= 0; --i) {
            const KeyPoint& k = keys[i];
            const int64_t when = k.pts != AV_NOPTS_VALUE ? k.pts : k.dts;
            if (when != AV_NOPTS_VALUE && when <= shown) {
                return i;
            }
        }
        return -1;
    }

    // Whether decoding on from the run's position reaches `n` no slower than a seek would.
    bool can_decode_on(int64_t n) const {
        if (!run_valid || !accepting || last_output < 0 || last_output >= n) {
            return false;
        }
        if (n - last_output <= kDecodeOnReach) {
            return true;
        }
        const int64_t k = key_for(pts[n], static_cast<int64_t>(keys.size()));
        return k >= 0 && last_key_dts != AV_NOPTS_VALUE && keys[k].dts != AV_NOPTS_VALUE &&
               keys[k].dts <= last_key_dts;
    }

    // Opens the file again and decodes from its very start, as the index was made.
    bool restart_from_beginning() {
        int s = -1;
        FormatPtr again = open_format(path, s);
        if (!again || s != stream) {
            return false;
        }
        fmt = std::move(again);
        start_run(true);
        return true;
    }

    std::shared_ptr<const MovieFrame> frame(int64_t n) {
        if (n < 0 || n >= static_cast<int64_t>(pts.size())) {
            return nullptr;
        }
        if (auto hit = cached(n)) {
            return hit;
        }
        if (can_decode_on(n)) {
            if (auto f = decode_to(n)) {
                return f;
            }
        }
        int64_t limit = static_cast<int64_t>(keys.size());
        for (int attempt = 0; attempt < kSeekAttempts; ++attempt) {
            const int64_t k = key_for(pts[n], limit);
            if (k < 0 || !seek_to_key(keys[k])) {
                break;
            }
            if (auto f = decode_to(n)) {
                return f;
            }
            limit = k;
        }
        if (restart_from_beginning()) {
            if (auto f = decode_to(n)) {
                return f;
            }
        }
        run_valid = false;
        return nullptr;
    }
};

Movie::Movie() : m_impl(std::make_unique<Impl>()) {}
Movie::~Movie() = default;

bool Movie::open(const std::string& path, base::Progress& progress, base::Messages& messages) {
    close();
    // FFmpeg writes its decoder complaints (damaged pictures, reference warnings after a seek)
    // to stderr by default; the program reports through `messages` only.
    av_log_set_level(AV_LOG_QUIET);
    auto impl = std::make_unique<Impl>();
    impl->budget = m_impl->budget;
    impl->do_levels = m_impl->do_levels;
    impl->path = path;
    impl->fmt = open_format(path, impl->stream);
    if (!impl->fmt || !impl->packet || !impl->picture) {
        messages.error(kMovieLoadError);
        return false;
    }
    const int indexed = impl->build_index(progress);
    if (indexed == 0) {
        return false;
    }
    const AVStream* st = impl->fmt->streams[impl->stream];
    if (indexed < 0 || !(impl->dec = open_decoder(st, false))) {
        messages.error(kMovieLoadError);
        return false;
    }
    const AVRational r = av_guess_frame_rate(impl->fmt.get(), const_cast<AVStream*>(st), nullptr);
    if (r.num > 0 && r.den > 0) {
        impl->rate = {r.num, r.den};
    }
    m_impl = std::move(impl);
    return true;
}

void Movie::close() {
    auto fresh = std::make_unique<Impl>();
    fresh->budget = m_impl->budget;
    fresh->do_levels = m_impl->do_levels;
    m_impl = std::move(fresh);
}

bool Movie::is_open() const {
    return m_impl->dec != nullptr;
}
int64_t Movie::frame_count() const {
    return is_open() ? static_cast<int64_t>(m_impl->pts.size()) : 0;
}
int Movie::width() const {
    return is_open() ? m_impl->width : 0;
}
int Movie::height() const {
    return is_open() ? m_impl->height : 0;
}
FrameRate Movie::frame_rate() const {
    return is_open() ? m_impl->rate : FrameRate{};
}

std::shared_ptr<const MovieFrame> Movie::frame(int64_t n) {
    return is_open() ? m_impl->frame(n) : nullptr;
}

void Movie::set_do_levels(bool on) {
    if (on != m_impl->do_levels) {
        m_impl->do_levels = on;
        m_impl->clear_cache();
    }
}
bool Movie::do_levels() const {
    return m_impl->do_levels;
}

void Movie::set_cache_budget(size_t bytes) {
    m_impl->budget = bytes;
    m_impl->shrink_to(bytes);
}
size_t Movie::cache_budget() const {
    return m_impl->budget;
}
size_t Movie::cache_bytes() const {
    return m_impl->held;
}

}  // namespace tessara::media
