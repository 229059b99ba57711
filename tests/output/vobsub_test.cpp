#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "output/dvd_fixture.h"
#include "script/timecode.h"
#include "test_support.h"

// The VobSub target read back by FFmpeg's vobsub demuxer (which reads the .idx and finds the
// units in the .sub) and its DVD subtitle decoder: the same pixels as the spumux target's PNGs
// of the same script, shown from and to the right frames.
namespace tessara::output {
namespace {

using namespace test::dvd;

struct Decoded {
    int64_t start_ms = 0;
    int64_t end_ms = 0;
    Frame frame;  // the picture in the frame, as place() lays it out
};

std::vector<Decoded> decode(const fs::path& idx, int frame_w, int frame_h) {
    std::vector<Decoded> out;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, idx.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "FFmpeg cannot open " << idx;
        return out;
    }
    EXPECT_EQ(format->nb_streams, 1u);
    const AVStream* stream = format->streams[0];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
        ADD_FAILURE() << "FFmpeg has no decoder for " << idx;
        avformat_close_input(&format);
        return out;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, stream->codecpar);
    EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
        AVSubtitle sub{};
        int got = 0;
        EXPECT_GE(avcodec_decode_subtitle2(context, &sub, &got, packet), 0);
        if (got != 0) {
            EXPECT_EQ(sub.num_rects, 1u);
            const int64_t pts = av_rescale_q(packet->pts, stream->time_base, AVRational{1, 1000});
            Decoded d{pts + sub.start_display_time, pts + sub.end_display_time,
                      Frame(static_cast<size_t>(frame_w) * frame_h, 0)};
            for (unsigned r = 0; r < sub.num_rects; ++r) {
                const AVSubtitleRect* rect = sub.rects[r];
                const auto* palette = reinterpret_cast<const uint32_t*>(rect->data[1]);
                for (int y = 0; y < rect->h; ++y) {
                    for (int x = 0; x < rect->w; ++x) {
                        const uint32_t argb = palette[rect->data[0][y * rect->linesize[0] + x]];
                        if ((argb >> 24) == 0) {
                            continue;
                        }
                        // Laid out like place(): red in the low byte, opacity in the high one.
                        d.frame[static_cast<size_t>(rect->y + y) * frame_w + rect->x + x] =
                            ((argb >> 16) & 0xFF) | (argb & 0xFF00) | ((argb & 0xFF) << 16) |
                            (argb & 0xFF000000);
                    }
                }
            }
            out.push_back(std::move(d));
            avsubtitle_free(&sub);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return out;
}

// A time in milliseconds shows frame `f` (at 30000/1001) first: it lies after the start of
// frame f - 1 and no later than the start of frame f.
void expect_on_frame(int64_t ms, int64_t f, const std::string& what) {
    EXPECT_GT(ms * 30, (f - 1) * 1001) << what << " at " << ms << " ms, frame " << f;
    EXPECT_LE(ms * 30, f * 1001) << what << " at " << ms << " ms, frame " << f;
}

const std::string kNtscSettings =
    "FPSin=29.97;FPSout=29.97;DropFrame=1;ResX=720;ResY=480;Colors=2;StickyColors=1;";

// The spumux target's pictures of the same script: the pixels VobSub must show.
std::vector<Frame> png_pictures(const std::string& settings, int expected) {
    test::TempDir dir;
    auto g = generate(ntsc_script(kNtscSettings + "ScrType=SPU;" + settings), dir.file("f.xml"));
    EXPECT_TRUE(g->ok);
    const std::string xml = test::read_file(dir.file("f.xml"));
    std::vector<Frame> frames;
    for (int n = 1; n <= expected; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "f_%04d.png", n);
        const size_t at = xml.find(std::string("image=\"") + name);
        EXPECT_NE(at, std::string::npos) << name;
        int x = 0;
        int y = 0;
        std::sscanf(xml.c_str() + at, "image=\"%*[^\"]\" xoffset=\"%d\" yoffset=\"%d\"", &x, &y);
        Frame f;
        place(dir.file(name), x, y, 720, 480, f);
        frames.push_back(std::move(f));
    }
    return frames;
}

TEST(VobSub, FfmpegDecodesOurPicturesOnTheirFramesAtDropFrame) {
    test::TempDir dir;
    auto g =
        generate(ntsc_script(kNtscSettings + "ScrType=VOBSUB;Expected=9"), dir.file("film.idx"));
    ASSERT_TRUE(g->ok) << (g->messages.texts().empty() ? "" : g->messages.texts()[0]);
    EXPECT_EQ(g->summary.bitmaps, 0);
    EXPECT_EQ(g->summary.companions, std::vector<std::string>{dir.file("film.sub").string()});
    const std::string idx = test::read_file(dir.file("film.idx"));
    EXPECT_EQ(idx.rfind("# VobSub index file, v7 (do not modify this line!)\r\n", 0), 0u);
    EXPECT_NE(idx.find("\r\nsize: 720x480\r\n"), std::string::npos);
    EXPECT_EQ(fs::file_size(dir.file("film.sub")) % 2048, 0u);

    const std::vector<Decoded> decoded = decode(dir.file("film.idx"), 720, 480);
    const std::vector<Frame> pictures = png_pictures("Expected=9", 4);
    ASSERT_EQ(decoded.size(), 4u);
    ASSERT_EQ(pictures.size(), 4u);
    const int starts[] = {100, 200, 300, 500};  // hundredths
    const int ends[] = {200, 300, 400, 600};
    for (size_t i = 0; i < decoded.size(); ++i) {
        const std::string what = "subpicture " + std::to_string(i + 1);
        expect_on_frame(decoded[i].start_ms,
                        script::frame_time_from_script_time({starts[i], false}, g->timing).frame,
                        what + " start");
        expect_on_frame(decoded[i].end_ms,
                        script::frame_time_from_script_time({ends[i], false}, g->timing).frame,
                        what + " end");
        EXPECT_TRUE(decoded[i].frame == pictures[i]) << what;
    }
}

TEST(VobSub, MkvmergeTakesThePair) {
    if (!have("mkvmerge") || !have("ffprobe")) {
        GTEST_SKIP() << "mkvmerge (mkvtoolnix) or ffprobe is not installed";
    }
    test::TempDir dir;
    auto g =
        generate(ntsc_script(kNtscSettings + "ScrType=VOBSUB;Expected=9"), dir.file("film.idx"));
    ASSERT_TRUE(g->ok);
    int status = 0;
    const std::string log = run("mkvmerge -q -o " + quoted(dir.file("film.mkv")) + " " +
                                    quoted(dir.file("film.idx")) + " 2>&1",
                                &status);
    ASSERT_EQ(status, 0) << log;  // 1 would mean warnings
    const std::string packets = run("ffprobe -v error -show_entries packet=pts -of csv=p=0 " +
                                    quoted(dir.file("film.mkv")));
    EXPECT_EQ(std::count(packets.begin(), packets.end(), '\n'), 4) << packets;
}

// Each part is a pair of its own whose times count from its segment's start, offsets from its
// own .sub's start.
TEST(VobSub, SplitPartsAreEachAPairOfTheirOwn) {
    test::TempDir dir;
    auto g = generate(
        ntsc_script(kNtscSettings + "ScrType=VOBSUB;DVDSeparate=1;DVDSeg=00:00:00:00/00:00:03:00;"
                                    "DVDSeg=00:00:04:10/00:00:10:00;Expected=12"),
        dir.file("film.idx"));
    ASSERT_TRUE(g->ok) << (g->messages.texts().empty() ? "" : g->messages.texts()[0]);
    ASSERT_EQ(g->summary.scripts.size(), 2u);
    EXPECT_EQ(g->summary.skipped, 1);
    const auto first = decode(dir.file("film_01.idx"), 720, 480);
    const auto second = decode(dir.file("film_02.idx"), 720, 480);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(test::read_file(dir.file("film_02.idx")).find("filepos: 000000000"),
              std::string::npos);

    const std::vector<Frame> pictures = png_pictures("Expected=9", 4);
    auto frame_of = [&](int hundredths) {
        return script::frame_time_from_script_time({hundredths, false}, g->timing).frame;
    };
    expect_on_frame(first[1].start_ms, frame_of(200), "part 1, subpicture 2");
    EXPECT_TRUE(first[1].frame == pictures[1]);
    const int32_t base = 4 * 30 + 10;  // 00:00:04;10
    expect_on_frame(second[0].start_ms, frame_of(500) - base, "part 2 start");
    expect_on_frame(second[0].end_ms, frame_of(600) - base, "part 2 end");
    EXPECT_TRUE(second[0].frame == pictures[3]);
}

// A picture whose unit would not fit a DVD player's buffer stops the run with a message naming
// it, and nothing is written.
TEST(VobSub, AUnitOverTheLimitIsReportedAndNothingIsWritten) {
    std::string dense;
    for (int line = 0; line < 60; ++line) {
        dense += line == 0 ? "" : "\\N";
        for (int i = 0; i < 60; ++i) {
            dense += "%#";
        }
    }
    std::string text = ntsc_script(kNtscSettings + "ScrType=VOBSUB;Expected=9");
    text += "Dialogue: Marked=0,0:00:07.00,0:00:08.00,Default,,0,0,0,,{\\fs8}" + dense + "\r\n";
    test::TempDir dir;
    auto g = generate(text, dir.file("film.idx"));
    EXPECT_FALSE(g->ok);
    ASSERT_FALSE(g->messages.texts().empty());
    const std::string message = g->messages.texts().front();
    EXPECT_EQ(message.rfind("Subpicture 5, starting at 00:00:07", 0), 0u) << message;
    EXPECT_NE(message.find("a DVD subpicture unit holds at most 53220."), std::string::npos)
        << message;
    EXPECT_FALSE(fs::exists(dir.file("film.idx")));
    EXPECT_FALSE(fs::exists(dir.file("film.sub")));
}

}  // namespace
}  // namespace tessara::output
