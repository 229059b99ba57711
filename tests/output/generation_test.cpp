#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "output/generation.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

namespace tessara::output {
namespace {

namespace fs = std::filesystem;

// Two styles in two colours, an overlap and a pause, at 25 fps into 720 x 576.
std::string small_script(const std::string& settings) {
    return "[Script Info]\r\nPlayResY: 576\r\n[V4 Styles]\r\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
           "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
           "MarginV, AlphaLevel, Encoding\r\n"
           "Style: Default,DejaVu Sans,24,16777215,0,0,0,0,0,1,2,0,2,30,30,30,0,0\r\n"
           "Style: Sign,DejaVu Sans,20,65535,0,0,0,-1,0,1,2,0,6,30,30,20,0,0\r\n"
           "[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
           "Effect, Text\r\n"
           "Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0,0,0,,TSRACONF: FPSin=25;"
           "FPSout=25;ResX=720;ResY=576;Colors=2;StickyColors=1;" +
           settings +
           "\r\n"
           "Dialogue: Marked=0,0:00:01.00,0:00:03.00,Default,,0,0,0,,First line\r\n"
           "Dialogue: Marked=0,0:00:02.00,0:00:04.00,Sign,,0,0,0,,SIGN\r\n"
           "Dialogue: Marked=0,0:00:05.00,0:00:06.00,Default,,0,0,0,,Second line\r\n";
}

struct Generated {
    bool ok = false;
    base::RecordingMessages messages;
    GenerationSummary summary;
};

std::unique_ptr<Generated> generate(const std::string& text, const fs::path& output, bool bitmaps) {
    auto g = std::make_unique<Generated>();
    script::Script script;
    script::ReadOptions read;
    EXPECT_TRUE(script::read_script_bytes(script, text, u"in.ssa", read, g->messages));
    g->messages.clear();
    script.settings.output_file = base::utf8_to_utf16(output.string());
    GenerationOptions options;
    options.generate_bitmaps = bitmaps;
    options.clock = [] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = 7;
        t.tm_hour = 9;
        return t;
    };
    g->ok = run_generation(script, options, g->messages, g->summary);
    return g;
}

TEST(Generation, OutputNamesComeFromTheScriptPath) {
    auto n = derive_output_names(u"D:\\out\\My Film.son");
    EXPECT_EQ(n.directory, u"D:\\out\\");
    EXPECT_EQ(n.title, u"My Film");
    EXPECT_EQ(n.extension, u".son");
    EXPECT_EQ(n.bitmap_title, u"MyFilm");
    auto bare = derive_output_names(u"out.d/movie");
    EXPECT_EQ(bare.directory, u"out.d/");
    EXPECT_EQ(bare.title, u"movie");
    EXPECT_EQ(bare.extension, u"");
}

// Every script type from one small script, compared with reviewed golden files
// (TESSARA_REGENERATE_GOLDEN=1 writes them anew).
TEST(Generation, EveryScriptTypeMatchesItsGoldenFile) {
    const char* types[][2] = {{"SON", "son"}, {"SST", "sst"}, {"IAU", "txt"},
                              {"SMX", "sub"}, {"IMG", "sub"}, {"USF", "usf"},
                              {"SCR", "scr"}, {"SPU", "xml"}, {"VOBSUB", "idx"}};
    for (auto [key, ext] : types) {
        test::TempDir dir;
        const auto out = dir.file(std::string("film.") + ext);
        // Ultech scripts take only full-height frames (480 or 576 lines).
        const std::string settings =
            std::string("ScrType=") + key +
            (std::string(key) == "USF" ? ";Minus2=0;Expected=9" : ";Expected=8");
        auto g = generate(small_script(settings), out, false);
        ASSERT_TRUE(g->ok) << key << ": "
                           << (g->messages.texts().empty() ? "" : g->messages.texts()[0]);
        std::string text = test::read_file(out);
        // The folder differs from run to run; the golden files hold a fixed one.
        const std::string folder = dir.path().string() + "/";
        for (size_t p; (p = text.find(folder)) != std::string::npos;) {
            text.replace(p, folder.size(), "/OUT/");
        }
        const auto golden = test::test_data(std::string("golden/generate/") + key + "." + ext);
        if (std::getenv("TESSARA_REGENERATE_GOLDEN") != nullptr) {
            fs::create_directories(golden.parent_path());
            test::write_file(golden, text);
        }
        EXPECT_EQ(text, test::read_file(golden)) << key;
        EXPECT_EQ(g->summary.bitmaps, 0);
    }
}

TEST(Generation, BitmapsAndPaletteFileAreWrittenBesideTheScript) {
    test::TempDir dir;
    auto with = generate(small_script("ImgType=bmp4rle;Expected=8"), dir.file("My Film.son"), true);
    ASSERT_TRUE(with->ok) << with->messages.texts().at(0);
    EXPECT_EQ(with->summary.subpictures, 4);
    EXPECT_EQ(with->summary.bitmaps, 4);
    for (int n = 1; n <= 4; ++n) {
        EXPECT_TRUE(fs::exists(dir.file("MyFilm_000" + std::to_string(n) + ".bmp"))) << n;
    }
    EXPECT_EQ(fs::file_size(dir.file("My Film.spf")), 64u);
    const std::string script = test::read_file(dir.file("My Film.son"));
    EXPECT_NE(script.find("0004\t00:00:05:00\t00:00:06:00\tMyFilm_0004.bmp\r\n"),
              std::string::npos);

    // Without bitmaps the script is the same and nothing else is written.
    test::TempDir other;
    auto without =
        generate(small_script("ImgType=bmp4rle;Expected=8"), other.file("My Film.son"), false);
    ASSERT_TRUE(without->ok);
    EXPECT_EQ(test::read_file(other.file("My Film.son")), script);
    EXPECT_EQ(std::distance(fs::directory_iterator(other.path()), fs::directory_iterator()), 1);
}

TEST(Generation, SplitOutputWritesOnePartPerSegment) {
    test::TempDir dir;
    // Segment 1 holds the first two subpictures, segment 2 the last line; the subpicture from
    // 3.00 to 4.00 runs past the first segment's stop and is skipped.
    auto g = generate(small_script("DVDSeparate=1;DVDSeg=00:00:00:00/00:00:03:00;"
                                   "DVDSeg=00:00:04:10/00:00:10:00;Expected=10"),
                      dir.file("film.son"), true);
    ASSERT_TRUE(g->ok);
    EXPECT_EQ(g->summary.scripts.size(), 2u);
    EXPECT_TRUE(fs::exists(dir.file("film_01.son")));
    EXPECT_TRUE(fs::exists(dir.file("film_02.son")));
    EXPECT_EQ(g->summary.skipped, 1);
    EXPECT_EQ(g->messages.texts().back(),
              "Warning: 1 subpictures were not generated because\r\nthey fell out of every "
              "defined segment.");
    // Bitmap numbers continue into the second part.
    EXPECT_NE(test::read_file(dir.file("film_02.son"))
                  .find("0003\t00:00:05:00\t00:00:06:00\tfilm_0003.tif"),
              std::string::npos);

    // Chapter points alone do not split.
    test::TempDir chapters;
    auto c = generate(small_script("DVDSeparate=1;DVDSeg=00:00:02:00;Expected=9"),
                      chapters.file("film.son"), false);
    ASSERT_TRUE(c->ok);
    EXPECT_EQ(c->summary.scripts, std::vector<std::string>{chapters.file("film.son").string()});
    EXPECT_EQ(c->summary.skipped, 0);
}

// A subtitle whose box is larger than the frame loses part of its text: the run names each such
// event once, however many subpictures show it (a blinking event counts once), in one warning
// after the run, and still succeeds.
TEST(Generation, ASubtitleLargerThanTheFrameIsWarnedAboutOnce) {
    const std::string huge =
        "Style: Huge,DejaVu Sans,200,16777215,0,0,0,0,0,1,2,0,2,30,30,30,0,0\r\n[Events]";
    std::string text = small_script("Expected=8");
    text.replace(text.find("[Events]"), 8, huge);
    text += "Dialogue: Marked=0,0:00:02.50,0:00:05.50,Huge,,0,0,0,,Lighthousekeeper\r\n";
    text += "Dialogue: Marked=0,0:00:07.00,0:00:08.00,Huge,,0,0,0,,{#blink20}Lighthousekeeper\r\n";
    for (bool bitmaps : {false, true}) {
        test::TempDir dir;
        auto g = generate(text, dir.file("film.son"), bitmaps);
        ASSERT_TRUE(g->ok) << g->messages.texts().at(0);
        const auto& messages = g->messages.messages();
        ASSERT_EQ(messages.size(), 1u) << (messages.empty() ? "" : messages[0].text);
        EXPECT_EQ(messages[0].kind, base::MessageKind::Warn);
        const std::string& report = messages[0].text;
        const size_t gap = report.find("\n\n");
        ASSERT_NE(gap, std::string::npos) << report;
        ASSERT_EQ(report.find("\n\n", gap + 2), std::string::npos) << report;
        const std::string parts[] = {report.substr(0, gap), report.substr(gap + 2)};
        const std::pair<int, const char*> cut[] = {{3, "0:00:02.50"}, {4, "0:00:07.00"}};
        for (size_t i = 0; i < 2; ++i) {
            const std::string start = std::string("Event ") + std::to_string(cut[i].first) +
                                      ", starting at " + cut[i].second + ", is ";
            EXPECT_TRUE(parts[i].starts_with(start)) << parts[i];
            EXPECT_TRUE(parts[i].ends_with(
                " pixels, larger than the 720 x 574 output frame;\nits text is cut."))
                << parts[i];
        }
    }
    // Nothing is said when everything fits.
    test::TempDir dir;
    auto fits = generate(small_script("Expected=8"), dir.file("film.son"), false);
    ASSERT_TRUE(fits->ok);
    EXPECT_TRUE(fits->messages.messages().empty());
}

TEST(Generation, FailuresAreReportedAndStopTheRun) {
    test::TempDir dir;
    // A palette to honour that cannot be read.
    auto honour = generate(small_script("Expected=6") + "", dir.file("a.son"), false);
    ASSERT_TRUE(honour->ok);
    {
        script::Script script;
        base::RecordingMessages messages;
        ASSERT_TRUE(script::read_script_bytes(script, small_script("Expected=6"), u"in.ssa",
                                              script::ReadOptions{}, messages));
        messages.clear();
        script.settings.output_file = base::utf8_to_utf16(dir.file("b.son").string());
        script.settings.honor_file = base::utf8_to_utf16(dir.file("missing.son").string());
        GenerationSummary summary;
        EXPECT_FALSE(run_generation(script, GenerationOptions{}, messages, summary));
        ASSERT_GE(messages.texts().size(), 1u);
        EXPECT_EQ(messages.texts()[0], kHonorOpenErrorText);
        EXPECT_FALSE(fs::exists(dir.file("b.son")));
    }
    // A bitmap that cannot be saved (a folder stands where the file should go).
    fs::create_directory(dir.file("c_0001.bmp"));
    auto bitmap = generate(small_script("ImgType=bmp8;Expected=7"), dir.file("c.son"), true);
    EXPECT_FALSE(bitmap->ok);
    EXPECT_EQ(bitmap->messages.texts(),
              (std::vector<std::string>{kBitmapSaveErrorText, base::system_error_text(EISDIR)}));
    EXPECT_FALSE(fs::exists(dir.file("c.son")));
    EXPECT_TRUE(fs::is_directory(dir.file("c_0001.bmp")));
    // Philips IMG refuses other rates than 25 and 29.97.
    std::string img = small_script("ScrType=IMG;Expected=7");
    img.replace(img.find("FPSout=25"), 9, "FPSout=24");
    auto refused = generate(img, dir.file("d.sub"), false);
    EXPECT_FALSE(refused->ok);
    EXPECT_EQ(refused->messages.texts().back(),
              "Only 25 and 29.97 output frame rates\ncan be used with Philips IMG files");
}

// Every file of a folder by name, with its bytes; the folder's own path written into a script
// reads "/OUT/".
std::map<std::string, std::string> files_in(const fs::path& folder) {
    std::map<std::string, std::string> files;
    const std::string path = folder.string() + "/";
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string bytes = test::read_file(entry.path());
        for (size_t p; (p = bytes.find(path)) != std::string::npos;) {
            bytes.replace(p, path.size(), "/OUT/");
        }
        files[entry.path().filename().string()] = std::move(bytes);
    }
    return files;
}

// Real scripts hold events without text (empty, or only override blocks): they draw nothing,
// and every file comes out byte for byte as without them.
TEST(Generation, EventsWithoutTextChangeNoOutputByte) {
    const char* blank[] = {
        "Dialogue: Marked=0,0:00:01.50,0:00:02.50,Default,,0,0,0,,\r\n",
        "Dialogue: Marked=0,0:00:03.50,0:00:05.50,Default,,0,0,0,,{\\pos(10,10)}\r\n",
        "Dialogue: Marked=0,0:00:07.00,0:00:08.00,Sign,,0,0,0,,{\\i1}{\\b1}\r\n",
    };
    for (const char* type : {"ScrType=SON;ImgType=bmp4rle", "ScrType=SST;ImgType=tif"}) {
        SCOPED_TRACE(type);
        const std::string settings = std::string(type) + ";Expected=8";
        const std::string plain = small_script(settings);
        std::string with = plain;
        with.insert(with.find("Dialogue: Marked=0,0:00:05.00"), blank[0]);
        with.insert(with.find("Dialogue: Marked=0,0:00:05.00"), blank[1]);
        with += blank[2];

        test::TempDir a;
        test::TempDir b;
        auto g = generate(plain, a.file("film.son"), true);
        ASSERT_TRUE(g->ok);
        auto h = generate(with, b.file("film.son"), true);
        ASSERT_TRUE(h->ok) << (h->messages.texts().empty() ? "" : h->messages.texts()[0]);
        EXPECT_EQ(h->summary.subpictures, g->summary.subpictures);
        EXPECT_EQ(h->messages.texts(), g->messages.texts());
        const auto expected = files_in(a.path());
        const auto written = files_in(b.path());
        ASSERT_EQ(written.size(), expected.size());
        for (const auto& [name, bytes] : expected) {
            EXPECT_TRUE(written.contains(name) && written.at(name) == bytes) << name;
        }
    }
}

// A subtitle pushed against the right edge of the 720-wide frame: whatever evens the bitmap's
// width, no script type puts its area past the frame. Two positions, so that one box has an odd
// width at the edge.
TEST(Generation, AreasAtTheRightEdgeStayInsideTheFrame) {
    struct Type {
        const char* settings;
        const char* extension;
    };
    const Type types[] = {{"ScrType=SON", "son"}, {"ScrType=IAU", "txt"},
                          {"ScrType=SMX", "sub"}, {"ScrType=IMG;ImgType=tga", "sub"},
                          {"ScrType=SCR", "scr"}, {"ScrType=USF;ImgType=uyc;Minus2=0", "usf"}};
    for (const Type& type : types) {
        for (const char* x : {"660", "661"}) {
            SCOPED_TRACE(std::string(type.settings) + " at " + x);
            std::string text = small_script(std::string(type.settings) + ";Expected=9");
            text = text.substr(0, text.find("Dialogue:")) +
                   "Comment: Marked=0,0:00:01.00,0:00:01.10,*Default,,0,0,0,,TSRAUSER: POSX=" + x +
                   ";SNAPX=1\r\n"
                   "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,over the edge\r\n";
            test::TempDir dir;
            const auto out = dir.file(std::string("film.") + type.extension);
            auto g = generate(text, out, true);
            ASSERT_TRUE(g->ok) << (g->messages.texts().empty() ? "" : g->messages.texts()[0]);
            const std::string script = test::read_file(out);

            // Left and exclusive right of the one subpicture, as the script states them.
            int left = -1;
            int right = -1;
            int w = 0;
            int h = 0;
            int x0 = 0;
            int y0 = 0;
            const std::string key = type.extension;
            if (key == "son") {
                const size_t at = script.rfind("Display_Area");
                ASSERT_EQ(std::sscanf(script.c_str() + at, "Display_Area (%d %d %d %d)", &left, &y0,
                                      &right, &h),
                          4);
                ++right;
            } else if (key == "txt") {
                const size_t at = script.find("REGION");
                ASSERT_EQ(std::sscanf(script.c_str() + at, "REGION %d, %d to %d, %d", &left, &y0,
                                      &right, &h),
                          4);
                ++right;
            } else if (key == "usf") {
                const size_t at = script.find("SUBTITLE");
                ASSERT_EQ(std::sscanf(script.c_str() + at, "SUBTITLE %*s %*s %d", &x0), 1);
                const std::string bitmap = test::read_file(dir.file("film_0001.uyc"));
                ASSERT_GT(bitmap.size(), 8u);
                left = 2 * x0;
                right = left + (static_cast<unsigned char>(bitmap[6]) |
                                static_cast<unsigned char>(bitmap[7]) << 8);
            } else {
                const size_t at = script.find("film_0001.");
                ASSERT_EQ(
                    std::sscanf(script.c_str() + at, "%*s %*s %*s %d %d %d %d", &w, &h, &left, &y0),
                    4);
                right = left + w;
            }
            EXPECT_GT(left, 300);
            EXPECT_EQ(right, 720);
            EXPECT_EQ((right - left) % 2, 0);
        }
    }
}

TEST(Generation, AScriptWithoutEventsWritesHeaderAndFooterOnly) {
    test::TempDir dir;
    std::string text = small_script("Expected=6");
    text = text.substr(0, text.find("Dialogue:"));
    auto g = generate(text, dir.file("empty.son"), true);
    ASSERT_TRUE(g->ok);
    const std::string script = test::read_file(dir.file("empty.son"));
    EXPECT_TRUE(script.ends_with("SP_NUMBER\tSTART\tEND\tFILE_NAME\r\n")) << script;
    EXPECT_EQ(g->summary.subpictures, 0);
}

}  // namespace
}  // namespace tessara::output
