#include "output/verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "output/dvd_fixture.h"
#include "output/script_reader.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "test_support.h"

// Reading a run's output back: every script type verifies against itself, and the faults a user
// would meet on a disc (a changed pixel, a lost picture, a time out of place) are each found.
namespace tessara::output {
namespace {

using namespace test::dvd;

struct Checked {
    bool ok = false;
    VerifyReport report;
    base::RecordingMessages messages;
};

std::unique_ptr<Checked> verify(const std::string& text, const fs::path& output, bool mux = false) {
    auto c = std::make_unique<Checked>();
    script::Script script;
    script::ReadOptions read;
    EXPECT_TRUE(script::read_script_bytes(script, text, u"in.ssa", read, c->messages));
    script.settings.output_file = base::utf8_to_utf16(output.string());
    VerifyOptions options;
    options.mux = mux;
    c->ok = verify_output(script, options, c->messages, c->report);
    return c;
}

std::string joined(const VerifyReport& report) {
    std::string all;
    for (const auto& line : report.mismatches) {
        all += line + "\n";
    }
    return all;
}

TEST(Verify, EveryScriptTypeReadsBackAsWritten) {
    constexpr const char* kPal = "FPSin=25;FPSout=25;ResX=720;ResY=576;";
    constexpr const char* kDropFrame = "FPSin=29.97;FPSout=29.97;DropFrame=1;ResX=720;ResY=480;";
    const struct {
        const char* timing;
        const char* settings;
        const char* file;
        int32_t scripts;
    } cases[] = {
        {kDropFrame, "ScrType=SON;ImgType=bmp4rle", "film.son", 1},
        {kPal, "ScrType=SST;ImgType=tif", "film.sst", 1},
        {kPal, "ScrType=IAU;ImgType=tgarle", "film.txt", 1},
        {kPal, "ScrType=SMX;ImgType=bmp8", "film.sub", 1},
        {kPal, "ScrType=IMG;ImgType=bmp", "film.sub", 1},
        {kPal, "ScrType=USF;ImgType=yc;Minus2=0", "film.usf", 1},
        {kPal, "ScrType=SCR;ImgType=uyc", "film.scr", 1},
        {kDropFrame, "ScrType=SPU", "film.xml", 1},
        {kDropFrame, "ScrType=VOBSUB", "film.idx", 1},
        // One script per DVD segment, times counted from each segment's start.
        {kDropFrame,
         "ScrType=VOBSUB;DVDSeparate=1;DVDSeg=00:00:00:00/00:00:03:00;"
         "DVDSeg=00:00:04:10/00:00:10:00",
         "film.idx", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        test::TempDir dir;
        const std::string text = ntsc_script(std::string(c.timing) +
                                             "Colors=2;StickyColors=1;Expected=10;" + c.settings);
        auto g = generate(text, dir.file(c.file));
        ASSERT_TRUE(g->ok) << (g->messages.texts().empty() ? "" : g->messages.texts()[0]);
        auto v = verify(text, dir.file(c.file));
        ASSERT_TRUE(v->ok) << (v->messages.texts().empty() ? "" : v->messages.texts()[0]);
        EXPECT_TRUE(v->report.all_match()) << joined(v->report);
        EXPECT_EQ(v->report.scripts, c.scripts);
        EXPECT_EQ(v->report.subpictures, g->summary.subpictures);
        EXPECT_EQ(v->report.pictures, g->summary.subpictures);
    }
}

// Sets pixel (0, 0) of an uncompressed 8-bit BMP to a palette entry of another colour.
void alter_first_pixel(const fs::path& bmp) {
    std::string bytes = test::read_file(bmp);
    auto le32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
    };
    const uint32_t pixels = le32(10);
    const int32_t height = static_cast<int32_t>(le32(22));
    const uint32_t row = (le32(18) + 3) & ~3u;
    // Bottom-up rows: the top row is the last one stored.
    const size_t at = pixels + static_cast<size_t>(height - 1) * row;
    const auto index = static_cast<uint8_t>(bytes[at]);
    for (int other = 0; other < 4; ++other) {
        if (le32(54 + other * 4) != le32(54 + index * 4)) {
            bytes[at] = static_cast<char>(other);
            test::write_file(bmp, bytes);
            return;
        }
    }
    FAIL() << "the palette has one colour";
}

TEST(Verify, FindsAnAlteredPixelAMissingPictureAndSwappedTimes) {
    test::TempDir dir;
    const std::string text = ntsc_script(
        "FPSin=25;FPSout=25;ResX=720;ResY=576;Colors=2;"
        "StickyColors=1;ScrType=SON;ImgType=bmp8;Expected=10");
    ASSERT_TRUE(generate(text, dir.file("film.son"))->ok);

    alter_first_pixel(dir.file("film_0001.bmp"));
    fs::remove(dir.file("film_0003.bmp"));
    std::string son = test::read_file(dir.file("film.son"));
    const std::string second = "0002\t00:00:02:00\t00:00:03:00";
    const std::string third = "0003\t00:00:03:00\t00:00:04:00";
    const size_t a = son.find(second);
    const size_t b = son.find(third);
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    son.replace(b, third.size(), "0003\t00:00:02:00\t00:00:03:00");
    son.replace(a, second.size(), "0002\t00:00:03:00\t00:00:04:00");
    test::write_file(dir.file("film.son"), son);
    std::string palette = test::read_file(dir.file("film.spf"));
    palette[0] = static_cast<char>(palette[0] ^ 1);
    test::write_file(dir.file("film.spf"), palette);

    auto v = verify(text, dir.file("film.son"));
    ASSERT_TRUE(v->ok);
    const std::string all = joined(v->report);
    EXPECT_NE(all.find("film_0001.bmp: 1 pixel differs, the first at (0, 0)"), std::string::npos)
        << all;
    EXPECT_NE(all.find("subpicture 3: film_0003.bmp is missing"), std::string::npos) << all;
    EXPECT_NE(all.find("subpicture 2: starts at 00:00:03:00, expected 00:00:02:00"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("subpicture 3: starts at 00:00:02:00, before the subpicture above ends"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("film.spf: the palette differs from the fresh run's"), std::string::npos)
        << all;
    // Nothing else: pictures 2 and 4 are as written.
    EXPECT_EQ(v->report.mismatches.size(), 8u) << all;
    EXPECT_EQ(v->report.summary(), "1 script, 4 subpictures, 3 pictures checked: 8 mismatches");
}

// A VobSub index time moved by 40 ms is found twice: in the index as written and in what
// FFmpeg shows from the pair.
TEST(Verify, FindsAVobSubPictureShownAtTheWrongTime) {
    test::TempDir dir;
    const std::string text = ntsc_script(
        "FPSin=25;FPSout=25;ResX=720;ResY=576;Colors=2;"
        "StickyColors=1;ScrType=VOBSUB;Expected=10");
    ASSERT_TRUE(generate(text, dir.file("film.idx"))->ok);
    std::string idx = test::read_file(dir.file("film.idx"));
    const size_t at = idx.find("timestamp: 00:00:02:000");
    ASSERT_NE(at, std::string::npos);
    idx.replace(at, 23, "timestamp: 00:00:02:040");
    test::write_file(dir.file("film.idx"), idx);

    auto v = verify(text, dir.file("film.idx"));
    ASSERT_TRUE(v->ok);
    const std::string all = joined(v->report);
    EXPECT_NE(all.find("subpicture 2: starts at 00:00:02:040, expected 00:00:02:000"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("film.idx picture 2: shows from 2040 to"), std::string::npos) << all;
    EXPECT_EQ(v->report.mismatches.size(), 2u) << all;
}

TEST(Verify, SpumuxAndSpuunmuxGiveBackTheSamePictures) {
    if (!have("spumux") || !have("spuunmux") || !have("ffmpeg")) {
        GTEST_SKIP() << "spumux, spuunmux (dvdauthor) or ffmpeg is not installed";
    }
    test::TempDir dir;
    const std::string text = ntsc_script(
        "FPSin=29.97;FPSout=29.97;DropFrame=1;ResX=720;ResY=480;"
        "Colors=2;StickyColors=1;ScrType=SPU;Expected=10");
    ASSERT_TRUE(generate(text, dir.file("film.xml"))->ok);
    auto v = verify(text, dir.file("film.xml"), true);
    ASSERT_TRUE(v->ok);
    EXPECT_TRUE(v->report.all_match()) << joined(v->report);
    EXPECT_TRUE(v->report.notes.empty());
}

// The reader against scripts of every type as the writers' golden files hold them.
TEST(ScriptReader, ReadsEveryTypesSubpictures) {
    const struct {
        script::ScriptType type;
        const char* golden;
        const char* first_file;
        const char* last_start;
        bool has_area;
    } cases[] = {
        {script::ScriptType::SON, "SON.son", "film_0001.tif", "00:00:05:00", true},
        {script::ScriptType::SST, "SST.sst", "film_0001.tif", "00:00:05:00", false},
        {script::ScriptType::IAU, "IAU.txt", "film_0001.tif", "5.00", true},
        {script::ScriptType::SMX, "SMX.sub", "film_0001.tif", "00:00:05:00", true},
        {script::ScriptType::IMG, "IMG.sub", "film_0001.tif", "00:00:05:00", true},
        {script::ScriptType::USF, "USF.usf", "film_0001.tif", "00:00:05:00", false},
        {script::ScriptType::SCR, "SCR.scr", "film_0001.tif", "00:00:05:00", true},
        {script::ScriptType::SPU, "SPU.xml", "film_0001.png", "00:00:05.0000", false},
        {script::ScriptType::VOBSUB, "VOBSUB.idx", "", "00:00:05:000", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.golden);
        const ParsedScript parsed = parse_authoring_script(
            c.type, test::read_file(test::test_data(std::string("golden/generate/") + c.golden)));
        EXPECT_TRUE(parsed.problems.empty()) << parsed.problems.front();
        ASSERT_EQ(parsed.entries.size(), 4u);
        EXPECT_EQ(parsed.entries[0].file, c.first_file);
        EXPECT_EQ(parsed.entries[3].start, c.last_start);
        EXPECT_EQ(parsed.entries[0].area.has_value(), c.has_area);
        for (const ScriptEntry& e : parsed.entries) {
            EXPECT_EQ(e.end.empty(), c.type == script::ScriptType::VOBSUB) << e.line;
        }
    }
    // The first subpicture of the golden script sits at (282, 502), 158 x 42 pixels.
    const ParsedScript son = parse_authoring_script(
        script::ScriptType::SON, test::read_file(test::test_data("golden/generate/SON.son")));
    EXPECT_EQ(son.entries[0].area, (FrameArea{282, 502, 440, 544}));
    EXPECT_EQ(son.entries[0].look, "Color\t(0 1 0 0)");
    EXPECT_EQ(son.entries[0].colour_indices, (std::vector<int32_t>{0, 1, 0, 0}));
}

TEST(ScriptReader, TimesOrderInEveryForm) {
    EXPECT_LT(*time_order_key("00:00:01:29"), *time_order_key("00:00:02:00"));
    EXPECT_LT(*time_order_key("00:59:59;29"), *time_order_key("01:00:00;02"));
    EXPECT_LT(*time_order_key("00:00:01.9999"), *time_order_key("00:00:02.0000"));
    EXPECT_LT(*time_order_key("1.96"), *time_order_key("2.00"));
    EXPECT_LT(*time_order_key("59.99"), *time_order_key("60.00"));
    EXPECT_EQ(time_order_key("00:00:01:000"), time_order_key("00:00:01:00"));
    EXPECT_FALSE(time_order_key(""));
    EXPECT_FALSE(time_order_key("1:2:3:4:5"));
    EXPECT_FALSE(time_order_key("00:00:01:0a"));
    EXPECT_FALSE(time_order_key("00:00:01:10000"));
}

}  // namespace
}  // namespace tessara::output
