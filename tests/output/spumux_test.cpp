#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "output/dvd_fixture.h"
#include "output/generation.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

// The spumux target checked by dvdauthor's own tools: spumux muxes the XML and PNGs into an
// MPEG stream made by ffmpeg, the stamps land on the right video frames, and spuunmux gives
// back the pictures we drew.
namespace tessara::output {
namespace {

using namespace test::dvd;

struct Spu {
    std::string image;
    int x = 0;
    int y = 0;
};

std::vector<Spu> spus_of(const std::string& xml) {
    std::vector<Spu> spus;
    const std::regex spu_re("<spu [^>]*>");
    auto attr = [](const std::string& tag, const std::string& name) {
        std::smatch m;
        const std::regex re(" " + name + "=\"([^\"]*)\"");
        return std::regex_search(tag, m, re) ? m[1].str() : std::string();
    };
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), spu_re);
         it != std::sregex_iterator(); ++it) {
        const std::string tag = it->str();
        spus.push_back(
            {attr(tag, "image"), std::stoi(attr(tag, "xoffset")), std::stoi(attr(tag, "yoffset"))});
    }
    return spus;
}

// The subtitle packets' stamps, or the video frames' (decoded: not every video packet carries
// one), in order.
std::vector<int64_t> stamps(const fs::path& mpeg, const char* stream) {
    std::vector<int64_t> pts;
    const std::string entries =
        std::string(stream) == "v" ? "frame=best_effort_timestamp" : "packet=pts";
    const std::string out = run("ffprobe -v error -select_streams " + std::string(stream) +
                                " -show_entries " + entries + " -of csv=p=0 " + quoted(mpeg));
    size_t pos = 0;
    while (pos < out.size()) {
        const size_t end = out.find('\n', pos);
        const std::string line = out.substr(pos, end - pos).substr(0, out.find(',', pos) - pos);
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
            pts.push_back(std::stoll(line));
        }
        pos = end == std::string::npos ? out.size() : end + 1;
    }
    std::sort(pts.begin(), pts.end());
    return pts;
}

// The same pixels are drawn, and each of our colours comes back as one colour of theirs and
// no two of ours as the same (the stream's palette may differ from ours).
void expect_same_picture(const Frame& ours, const Frame& theirs, const std::string& name) {
    std::map<uint32_t, uint32_t> forward;
    std::map<uint32_t, uint32_t> backward;
    size_t drawn = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        ASSERT_EQ(ours[i] == 0, theirs[i] == 0) << name << " pixel " << i;
        if (ours[i] == 0) {
            continue;
        }
        ++drawn;
        const auto f = forward.emplace(ours[i], theirs[i]).first;
        const auto b = backward.emplace(theirs[i], ours[i]).first;
        ASSERT_EQ(f->second, theirs[i]) << name << " pixel " << i;
        ASSERT_EQ(b->second, ours[i]) << name << " pixel " << i;
    }
    EXPECT_GT(drawn, 0u) << name;
}

TEST(Spumux, EverySubpictureIsMuxedOnItsFrameAndReadsBackUnchanged) {
    if (!have("spumux") || !have("spuunmux") || !have("ffmpeg") || !have("ffprobe")) {
        GTEST_SKIP() << "spumux, spuunmux (dvdauthor) or ffmpeg is not installed";
    }
    test::TempDir dir;
    auto g = generate(ntsc_script("FPSin=29.97;FPSout=29.97;DropFrame=1;ResX=720;ResY=480;"
                                  "Colors=2;StickyColors=1;ScrType=SPU;ImgType=bmp4;Expected=10"),
                      dir.file("film.xml"));
    ASSERT_TRUE(g->ok) << (g->messages.texts().empty() ? "" : g->messages.texts()[0]);
    ASSERT_EQ(g->summary.bitmaps, 4);
    const std::string xml = test::read_file(dir.file("film.xml"));
    EXPECT_NE(xml.find("<subpictures format=\"NTSC\">"), std::string::npos);
    const std::vector<Spu> ours = spus_of(xml);
    ASSERT_EQ(ours.size(), 4u);
    EXPECT_EQ(ours[0].image, "film_0001.png");

    // Seven seconds of black NTSC video in a program stream, then the subtitles muxed in.
    int status = 0;
    run("ffmpeg -v error -f lavfi -i color=black:s=720x480:r=30000/1001 -t 7 -c:v mpeg2video "
        "-b:v 200k -f dvd " +
            quoted(dir.file("video.mpg")) + " 2>&1",
        &status);
    ASSERT_EQ(status, 0);
    run("cd " + quoted(dir.path()) + " && spumux film.xml < video.mpg > muxed.mpg 2> log.txt",
        &status);
    const std::string log = test::read_file(dir.file("log.txt"));
    ASSERT_EQ(status, 0) << log;
    EXPECT_NE(log.find("4 subtitles added, 0 subtitles skipped"), std::string::npos) << log;

    // Each subpicture is stamped after the frame before its first and no later than that
    // frame's own stamp, so it shows from exactly that frame.
    const std::vector<int64_t> video = stamps(dir.file("muxed.mpg"), "v");
    const std::vector<int64_t> subs = stamps(dir.file("muxed.mpg"), "s");
    ASSERT_EQ(subs.size(), 4u);
    const int starts[] = {100, 200, 300, 500};  // hundredths: the subpictures' first times
    for (size_t i = 0; i < subs.size(); ++i) {
        const int32_t f = script::frame_time_from_script_time({starts[i], false}, g->timing).frame;
        ASSERT_GT(f, 0);
        ASSERT_LT(static_cast<size_t>(f), video.size());
        EXPECT_GT(subs[i], video[f - 1]) << "subpicture " << i + 1 << ", frame " << f;
        EXPECT_LE(subs[i], video[f]) << "subpicture " << i + 1 << ", frame " << f;
    }

    // spuunmux crops to the drawn pixels; placed in the frame, the pictures are ours.
    fs::create_directory(dir.file("back"));
    run("cd " + quoted(dir.path()) + " && spuunmux -o back/sp muxed.mpg 2>&1", &status);
    ASSERT_EQ(status, 0);
    const std::vector<Spu> theirs = spus_of(test::read_file(dir.file("back/sp.xml")));
    ASSERT_EQ(theirs.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        Frame a;
        Frame b;
        place(dir.file(ours[i].image), ours[i].x, ours[i].y, 720, 480, a);
        place(dir.path() / theirs[i].image, theirs[i].x, theirs[i].y, 720, 480, b);
        expect_same_picture(a, b, ours[i].image);
    }
}

// Each part goes with its own segment's video, which starts at 0: its times count from the
// segment's start, and the picture numbers run on.
TEST(Spumux, SplitPartsCountFromTheirSegment) {
    test::TempDir dir;
    auto g = generate(ntsc_script("FPSin=25;FPSout=25;ResX=720;ResY=576;Colors=2;StickyColors=1;"
                                  "ScrType=SPU;DVDSeparate=1;DVDSeg=00:00:00:00/00:00:03:00;"
                                  "DVDSeg=00:00:04:10/00:00:10:00;Expected=11"),
                      dir.file("film.xml"));
    ASSERT_TRUE(g->ok) << (g->messages.texts().empty() ? "" : g->messages.texts()[0]);
    EXPECT_EQ(g->summary.scripts.size(), 2u);
    EXPECT_EQ(g->summary.skipped, 1);
    const std::string first = test::read_file(dir.file("film_01.xml"));
    EXPECT_NE(first.find("<subpictures format=\"PAL\">"), std::string::npos);
    EXPECT_NE(first.find("<spu start=\"00:00:01.0000\" end=\"00:00:02.0000\" "
                         "image=\"film_0001.png\""),
              std::string::npos)
        << first;
    const std::string second = test::read_file(dir.file("film_02.xml"));
    EXPECT_NE(second.find("<spu start=\"00:00:00.6000\" end=\"00:00:01.6000\" "
                          "image=\"film_0003.png\""),
              std::string::npos)
        << second;
    EXPECT_NE(second.find("</stream>\r\n</subpictures>\r\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir.file("film_0003.png")));
    EXPECT_FALSE(fs::exists(dir.file("film_0004.png")));
}

}  // namespace
}  // namespace tessara::output
