#include <gtest/gtest.h>

#include <string>

#include "base/messages.h"
#include "formats/script_types.h"
#include "test_support.h"
#include "writer_fixture.h"

namespace tessara::formats {
namespace {

using script::ScriptType;
using test::Sub;

struct Output {
    std::string text;
    base::RecordingMessages messages;
    bool ok = true;
};

// Header for the prepared writer, then the given subpictures.
Output write(ScriptWriter& w, const script::ConversionSettings& s, const PaletteView& palette,
             std::initializer_list<Sub> subs, int32_t rate = 25000,
             std::optional<script::FrameTime> base_time = std::nullopt) {
    Output o;
    test::prepare_header(w, s);
    o.ok = w.write_header(o.text, s, u"/out/", palette, base_time, o.messages);
    for (const Sub& sub : subs) {
        test::set_sub(w, sub, rate);
        o.ok = o.ok && w.write_subpicture(o.text, s, palette, o.messages);
    }
    o.ok = o.ok && w.write_footer(o.text, s, o.messages);
    return o;
}

bool has_line(const std::string& text, const std::string& line) {
    return text.find(line + "\r\n") != std::string::npos;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) {
        ++n;
    }
    return n;
}

Palette palette_of(int32_t size, std::initializer_list<std::pair<int32_t, Colour>> entries) {
    Palette p(size);
    for (const auto& [pos, colour] : entries) {
        p.add_at(colour, pos);
    }
    return p;
}

const Sub kFirst = {u"a.bmp", 1, 100, 150, 0, 1, 2, 10, 20, 110, 60};
const Sub kSecond = {u"b.bmp", 2, 150, 200, 0, 1, 2, 10, 20, 110, 60};

TEST(ScriptWriterState, SetOperationsHoldClassOrderAndClampInput) {
    auto w = make_script_writer(ScriptType::SON);
    w->set_colors(5, -3, 7, 9);
    EXPECT_EQ(w->colors(), (std::array<int32_t, 4>{0, 7, 5, 9}));
    w->set_contrast(15, 16, -1, 4);
    EXPECT_EQ(w->contrast(), (std::array<int32_t, 4>{0, 0, 15, 4}));
    w->set_times(test::frame(100), test::frame(150));
    EXPECT_EQ(w->start().frame, 100);
    EXPECT_EQ(w->last_frame().frame, 149);
    w->set_area(1, 2, 3, 4);
    EXPECT_EQ(w->area(), (DisplayArea{1, 2, 3, 4}));
}

TEST(ScriptWriterState, PerTargetConstants) {
    const std::pair<ScriptType, int32_t> sizes[] = {
        {ScriptType::SON, 16},   {ScriptType::SST, 16},  {ScriptType::IAU, 1024},
        {ScriptType::SMX, 4096}, {ScriptType::IMG, 256}, {ScriptType::USF, 4096},
        {ScriptType::SCR, 256}};
    for (const auto& [type, size] : sizes) {
        auto w = make_script_writer(type);
        EXPECT_EQ(w->type(), type);
        EXPECT_EQ(w->palette_size(), size);
        const bool reversed = type == ScriptType::SMX || type == ScriptType::SCR;
        EXPECT_EQ(w->bitmap_index_order(0), reversed ? (std::array<int32_t, 4>{3, 2, 1, 0})
                                                     : (std::array<int32_t, 4>{0, 1, 2, 3}));
    }
}

TEST(ScriptWriterState, ColourKeysByTarget) {
    script::ConversionSettings s = test::pal_settings();
    s.fixed_colors = {0x10, 0x11, 0x12, 0x13};
    s.output_background = 0x777777;
    Palette palette = palette_of(256, {{0, 0xAA}, {1, 0xBB}, {2, 0xCC}});
    for (ScriptType type : {ScriptType::SON, ScriptType::SST, ScriptType::IMG, ScriptType::SCR}) {
        auto w = make_script_writer(type);
        w->set_colors(0, 1, 2, 0);  // classes hold entries 1, 2, 0, 0
        const auto keys = w->color_keys(palette, s);
        if (type == ScriptType::SON || type == ScriptType::SST) {
            EXPECT_EQ(keys, (std::array<Colour, 4>{0x11, 0x12, 0x10, 0x13}));
        } else if (type == ScriptType::SCR) {
            EXPECT_EQ(keys, (std::array<Colour, 4>{0xBB, 0xCC, 0xAA, 0x777777}));
        } else {
            EXPECT_EQ(keys, (std::array<Colour, 4>{0xBB, 0xCC, 0xAA, 0xAA}));
        }
    }
}

TEST(SonSstWriters, PaletteCommentsNumberedFromZeroAndOne) {
    const Palette palette = palette_of(16, {{0, 0xFFFFFF}, {2, 0x0000FF}});
    const auto s = test::pal_settings();
    auto son = make_script_writer(ScriptType::SON);
    auto sst = make_script_writer(ScriptType::SST);
    const std::string son_text = write(*son, s, palette, {}).text;
    const std::string sst_text = write(*sst, s, palette, {}).text;
    EXPECT_TRUE(has_line(son_text, "# 00 : RGB(255,255,255)"));
    EXPECT_TRUE(has_line(son_text, "# 02 : RGB(255,  0,  0)"));
    EXPECT_EQ(count(son_text, " : RGB("), 2u);
    EXPECT_TRUE(has_line(sst_text, "# 01 : RGB(255,255,255)"));
    EXPECT_TRUE(has_line(sst_text, "# 03 : RGB(255,  0,  0)"));
    EXPECT_EQ(count(sst_text, " : RGB("), 2u);
}

TEST(SonSstWriters, ColorLineOnlyWhenColoursChangeAndAgainAfterEachHeader) {
    const Palette palette = palette_of(16, {{0, 1}, {1, 2}, {2, 3}});
    const auto s = test::pal_settings();
    for (ScriptType type : {ScriptType::SON, ScriptType::SST}) {
        auto w = make_script_writer(type);
        const std::string color = type == ScriptType::SON ? "Color\t(1 2 0 0)" : "Color\t(3 2 1 1)";
        const std::string first = write(*w, s, palette, {kFirst, kSecond}).text;
        EXPECT_EQ(count(first, color), 1u) << first;
        EXPECT_LT(first.find(color), first.find("0001\t"));
        // The next part's script starts afresh although the colours are the same.
        const std::string next = write(*w, s, palette, {kSecond}).text;
        EXPECT_EQ(count(next, color), 1u) << next;
    }
}

TEST(SonSstWriters, DisplayAreaInclusiveInHeaderAndSubpictures) {
    const auto s = test::pal_settings();
    auto w = make_script_writer(ScriptType::SON);
    const std::string text = write(*w, s, Palette(16), {kFirst, kSecond}).text;
    EXPECT_TRUE(has_line(text, "Pixel_Area\t(0 575)"));
    EXPECT_TRUE(has_line(text, "Display_Area\t(0 0 719 575)"));
    EXPECT_EQ(count(text, "Display_Area\t(10 20 109 59)"), 1u);
}

TEST(SonSstWriters, DropFrameHeaderLines) {
    for (ScriptType type : {ScriptType::SON, ScriptType::SST}) {
        auto w = make_script_writer(type);
        const std::string drop = write(*w, test::ntsc_settings(true), Palette(16), {}).text;
        EXPECT_TRUE(has_line(drop, "TV_Type\t\tNTSC"));
        EXPECT_TRUE(has_line(drop, "Tape_Type\tDROP"));
        EXPECT_TRUE(has_line(drop, "Base_Time\t00:00:00:00"));
        const std::string non_drop = write(*w, test::ntsc_settings(false), Palette(16), {}).text;
        EXPECT_TRUE(has_line(non_drop, "TV_Type\t\tNTSC"));
        EXPECT_TRUE(has_line(non_drop, "Tape_Type\tNON_DROP"));
        EXPECT_EQ(non_drop.find("Base_Time"), std::string::npos);
    }
    // Only Scenarist takes the part's own base time; DVD Maestro always counts from frame 0.
    const script::FrameTime part_start{1800, 29970, true};
    auto sst = make_script_writer(ScriptType::SST);
    EXPECT_TRUE(
        has_line(write(*sst, test::ntsc_settings(true), Palette(16), {}, 29970, part_start).text,
                 "Base_Time\t00:01:00:02"));
    auto son = make_script_writer(ScriptType::SON);
    EXPECT_TRUE(
        has_line(write(*son, test::ntsc_settings(true), Palette(16), {}, 29970, part_start).text,
                 "Base_Time\t00:00:00:00"));
}

TEST(SonSstWriters, ScenaristCompatibilityBits) {
    auto s = test::pal_settings();
    s.output_file = u"/out/Film 1.sst";
    auto w = make_script_writer(ScriptType::SST);
    const std::string plain = write(*w, s, Palette(16), {}).text;
    EXPECT_TRUE(has_line(plain, "Pixel_Area\t(0 575)"));
    EXPECT_TRUE(has_line(plain, "Directory\t/out/"));
    EXPECT_TRUE(has_line(plain, "Subtitle\tFilm 1"));
    EXPECT_EQ(plain.find("Color\t\t("), std::string::npos);

    s.compatible = 0x80 | 0x200 | 0x400;
    w->set_colors(3, 4, 5, 0);  // the run sets the first subpicture's colours before the header
    const std::string compat = write(*w, s, Palette(16), {}).text;
    EXPECT_TRUE(has_line(compat, "Pixel_Area\t(2 577)"));
    EXPECT_TRUE(has_line(compat, "Directory\t."));
    EXPECT_TRUE(has_line(compat, "Color\t\t(6 5 4 1)"));
}

TEST(WriterTimes, Frames100To150At25Fps) {
    const auto s = test::pal_settings();
    const Palette palette = palette_of(4096, {{0, 0xFFFFFF}});
    const Sub sub = {u"x.bmp", 7, 100, 150, 0, 0, 0, 0, 0, 10, 10};

    auto son = make_script_writer(ScriptType::SON);
    const std::string son_text = write(*son, s, palette, {sub}).text;
    EXPECT_TRUE(has_line(son_text, "0007\t00:00:04:00\t00:00:06:00\tx.bmp"));
    EXPECT_TRUE(has_line(son_text, "Contrast\t(15 15 15 0)"));

    auto iau = make_script_writer(ScriptType::IAU);
    const std::string iau_text = write(*iau, s, palette, {sub}).text;
    EXPECT_TRUE(has_line(iau_text, "STARTTIME: 4.00"));
    EXPECT_TRUE(has_line(iau_text, "TIME: 5.96 DISABLE_OGT"));

    auto smx = make_script_writer(ScriptType::SMX);
    EXPECT_EQ(write(*smx, s, palette, {sub}).text,
              "x.bmp 00:00:04:00 00:00:06:00 10 10 0 0 0 255 255 255\r\n");
}

TEST(IAuthorWriter, VideoLevelsAreTruncated) {
    const auto s = test::pal_settings();
    const Palette palette = palette_of(1024, {{0, 0xFFFFFF}, {1, 0x000000}, {2, 0x0000FF}});
    auto w = make_script_writer(ScriptType::IAU);
    // Classes 0, 1, 2, 3 get entries 0 (white), 1 (black), 2 (red), 0.
    const std::string text =
        write(*w, s, palette, {{u"x.bmp", 1, 0, 25, 2, 0, 1, 0, 0, 8, 8}}).text;
    EXPECT_TRUE(has_line(text, "TIME: 0.00 SETCOLOR Primary 0, 234, 128, 128"));
    EXPECT_TRUE(has_line(text, "TIME: 0.00 SETCOLOR Primary 1, 16, 128, 128"));
    EXPECT_TRUE(has_line(text, "TIME: 0.00 SETCOLOR Primary 2, 81, 91, 239"));
    EXPECT_TRUE(has_line(text, "TIME: 0.00 SETCOLOR Highlight 2, 81, 91, 239"));
}

TEST(IAuthorWriter, EmptyPaletteFailsBeforeWriting) {
    auto w = make_script_writer(ScriptType::IAU);
    std::string out;
    base::RecordingMessages messages;
    EXPECT_FALSE(
        w->write_header(out, test::pal_settings(), u"", Palette(1024), std::nullopt, messages));
    EXPECT_EQ(out, "");
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"No colors in palette"});
}

TEST(ImgWriter, FrameRateLines) {
    auto w = make_script_writer(ScriptType::IMG);
    const std::string drop = write(*w, test::ntsc_settings(true), Palette(256), {}).text;
    EXPECT_TRUE(has_line(drop, "FRAMERATE\tNTSC"));
    EXPECT_TRUE(has_line(drop, "DROPFRAME\tYES"));
    EXPECT_TRUE(
        has_line(write(*w, test::ntsc_settings(false), Palette(256), {}).text, "DROPFRAME\tNO"));
    const std::string pal = write(*w, test::pal_settings(), Palette(256), {}).text;
    EXPECT_TRUE(has_line(pal, "FRAMERATE\tPAL"));
    EXPECT_EQ(pal.find("DROPFRAME"), std::string::npos);

    auto film = test::pal_settings();
    film.timing.rate_out = 24000;
    const Output o = write(*w, film, Palette(256), {});
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.text, "");
    EXPECT_EQ(o.messages.texts(),
              std::vector<std::string>{
                  "Only 25 and 29.97 output frame rates\ncan be used with Philips IMG files"});
}

class UsfWriterTest : public ::testing::Test {
  protected:
    Palette palette = palette_of(4096, {{0, 0xFFFFFF}});
};

TEST_F(UsfWriterTest, BackToBackBitmapsNeedNoClear) {
    const Sub a = {u"A", 1, 100, 150, 0, 0, 0, 0, 400, 100, 450};
    const Sub b = {u"B", 2, 150, 200, 0, 0, 0, 0, 400, 100, 450};
    auto w = make_script_writer(ScriptType::USF);
    EXPECT_EQ(write(*w, test::pal_settings(), palette, {a, b}).text,
              "SUBTITLE 00:00:04:00 A 0 240\r\n"
              "SUBTITLE 00:00:06:00 B 0 240\r\n"
              "SUBTITLE 00:00:08:00\r\n");
    const Output ntsc = write(*w, test::ntsc_settings(false), palette, {a}, 29970);
    EXPECT_TRUE(ntsc.ok);
    EXPECT_TRUE(has_line(ntsc.text, "SUBTITLE 00:00:03:10 A 0 223"));
}

TEST_F(UsfWriterTest, PauseGetsAClearAndHalvingRoundsDown) {
    const Sub a = {u"A", 1, 100, 150, 0, 0, 0, 7, 401, 100, 450};
    const Sub b = {u"B", 2, 175, 200, 0, 0, 0, -3, -1, 100, 450};
    auto w = make_script_writer(ScriptType::USF);
    EXPECT_EQ(write(*w, test::pal_settings(), palette, {a, b}).text,
              "SUBTITLE 00:00:04:00 A 3 240\r\n"
              "SUBTITLE 00:00:06:00\r\n"
              "SUBTITLE 00:00:07:00 B -2 39\r\n"
              "SUBTITLE 00:00:08:00\r\n");
}

TEST_F(UsfWriterTest, RejectsOtherFrameSizesAndEmptyPalettes) {
    auto w = make_script_writer(ScriptType::USF);
    auto s = test::pal_settings();
    std::string out;
    base::RecordingMessages messages;
    // With Minus2 the run's header area is 574 lines high.
    w->set_area(0, 2, 719, 575);
    EXPECT_FALSE(w->write_header(out, s, u"", palette, std::nullopt, messages));
    w->set_area(0, 0, 703, 575);
    EXPECT_FALSE(w->write_header(out, s, u"", palette, std::nullopt, messages));
    w->set_area(0, 0, 719, 575);
    EXPECT_FALSE(w->write_header(out, s, u"", Palette(4096), std::nullopt, messages));
    EXPECT_EQ(out, "");
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{
                  "Only heights of 480 (NTSC) and 576 (PAL)\r\nare supported for USF scripts.",
                  "Only a width of 720 is supported for USF scripts.", "No colors in palette"}));
}

TEST(ScrWriter, CreationDateOnTheTwelveHourClock) {
    auto w = make_script_writer(ScriptType::SCR);
    auto at = [&w](int hour, int minute) {
        w->set_clock([=] {
            std::tm t{};
            t.tm_year = 100;
            t.tm_mon = 0;
            t.tm_mday = 2;
            t.tm_hour = hour;
            t.tm_min = minute;
            return t;
        });
        return write(*w, test::pal_settings(), Palette(256), {}).text;
    };
    EXPECT_TRUE(has_line(at(0, 5), "# Creation date: Jan-02-00 12:05 AM"));
    EXPECT_TRUE(has_line(at(12, 0), "# Creation date: Jan-02-00 12:00 PM"));
    EXPECT_TRUE(has_line(at(23, 59), "# Creation date: Jan-02-00 11:59 PM"));
}

TEST(ScriptText, NamesAboveLatin1AreWrittenAsUtf8) {
    auto s = test::pal_settings();
    auto w = make_script_writer(ScriptType::SST);
    s.output_file = u"/out/caf\u00e9.sst";
    EXPECT_TRUE(has_line(write(*w, s, Palette(16), {}).text, "Subtitle\tcaf\xe9"));
    s.output_file = u"/out/\u6620\u753b\u00e9.sst";
    EXPECT_TRUE(
        has_line(write(*w, s, Palette(16), {}).text, "Subtitle\t\xe6\x98\xa0\xe7\x94\xbb\xc3\xa9"));
}

TEST(PathOperations, PaletteFileNameAndBitmapPrefix) {
    auto son = make_script_writer(ScriptType::SON);
    auto sst = make_script_writer(ScriptType::SST);
    EXPECT_EQ(son->palette_file_name(u"/out/movie.son"), u"/out/movie.spf");
    EXPECT_EQ(son->palette_file_name(u"C:\\out.d\\movie"), u"C:\\out.d\\movie.spf");
    EXPECT_EQ(sst->palette_file_name(u"/out/movie.sst"), u"");

    EXPECT_EQ(sst->bitmap_prefix(u"/out/my movie\u00e9!.sst"), u"/out/mymovie!_");
    EXPECT_EQ(sst->bitmap_prefix(u"C:\\dvd\\Film.sst"), u"C:\\dvd\\Film_");
    // A bare name has no folder to put in front.
    EXPECT_EQ(sst->bitmap_prefix(u"movie.sst"), u"movie_");
}

TEST(PaletteFile, SixteenLittleEndianEntries) {
    auto w = make_script_writer(ScriptType::SON);
    const Palette palette = palette_of(16, {{0, 0x030201}, {15, 0xFFFFFF}});
    tessara::test::TempDir dir;
    const std::string path = dir.file("movie.spf").string();
    base::RecordingMessages messages;
    ASSERT_TRUE(w->write_palette_file(path, palette, messages));
    std::string expected(64, '\0');
    expected.replace(0, 3, "\x01\x02\x03");
    expected.replace(60, 3, "\xFF\xFF\xFF");
    EXPECT_EQ(tessara::test::read_file(path), expected);

    const std::string missing = dir.file("no/such/dir/movie.spf").string();
    EXPECT_FALSE(w->write_palette_file(missing, palette, messages));
    ASSERT_EQ(messages.texts().size(), 2u);
    EXPECT_EQ(messages.texts()[0], "Error trying to open the output palette file.");

    // Other targets have no palette file and succeed without writing one.
    auto sst = make_script_writer(ScriptType::SST);
    EXPECT_TRUE(sst->write_palette_file(missing, palette, messages));
}

}  // namespace
}  // namespace tessara::formats
