#include "script/settings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/messages.h"
#include "base/text.h"

namespace tessara::script {
namespace {

using Strings = std::vector<std::u16string>;
using Texts = std::vector<std::string>;

constexpr std::u16string_view kConfPrefix =
    u"Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,TSRACONF: ";

TimingSettings timing_25() {
    TimingSettings t;
    t.fps_in_text = u"25";
    t.fps_out_text = u"25";
    t.rate_in = 25000;
    t.rate_out = 25000;
    return t;
}

FrameTime frame(int32_t n, int32_t rate = 25000) {
    FrameTime f;
    f.frame = n;
    f.rate = rate;
    return f;
}

ScriptTime smpte(int32_t seconds, int32_t frames) {
    return ScriptTime{seconds * 100 + frames, true};
}

// "a|b|c" as a list, for long lists of short cases.
Strings cases(std::u16string_view bar_separated) {
    Strings out;
    size_t start = 0, bar;
    while ((bar = bar_separated.find(u'|', start)) != std::u16string_view::npos) {
        out.emplace_back(bar_separated.substr(start, bar - start));
        start = bar + 1;
    }
    out.emplace_back(bar_separated.substr(start));
    return out;
}

// Every setting as listed, "Expected" left out: for comparing two records.
std::vector<std::pair<std::u16string, SettingValue>> listed(const ConversionSettings& s) {
    std::vector<std::pair<std::u16string, SettingValue>> out;
    for (const auto& d : describe_settings(s)) {
        if (d.key != u"Expected") {
            out.emplace_back(std::u16string(d.key), d.value);
        }
    }
    return out;
}

// --- reading -------------------------------------------------------------------------------

// The first settings payload of a file switches four settings off; later payloads do not.
TEST(ReadSettingsPayload, FirstPayloadSwitchesFourSettingsOff) {
    ConversionSettings s;
    ASSERT_TRUE(read_settings_payload(s, u"Colors=2"));
    EXPECT_TRUE(s.settings_seen);
    EXPECT_FALSE(s.intell_coll);
    EXPECT_FALSE(s.coll_foresee);
    EXPECT_FALSE(s.sticky_colors);
    EXPECT_EQ(s.comp, 0);
    EXPECT_TRUE(s.show_safe);  // others keep their defaults

    ASSERT_TRUE(read_settings_payload(s, u"IntellColl=1;Comp=2"));
    ASSERT_TRUE(read_settings_payload(s, u"ResX=700"));
    EXPECT_TRUE(s.intell_coll);
    EXPECT_EQ(s.comp, 2);
    EXPECT_EQ(s.settings_count, 4);

    // CollForesee on brings IntellColl on after loading, even when IntellColl was not given.
    ConversionSettings f;
    ASSERT_TRUE(read_settings_payload(f, u"CollForesee=1;Expected=1"));
    base::RecordingMessages messages;
    ASSERT_TRUE(post_load(f, messages));
    EXPECT_TRUE(f.intell_coll);
    EXPECT_TRUE(messages.messages().empty());
}

TEST(ReadSettingsPayload, ValuesAndForms) {
    ConversionSettings s;
    ASSERT_TRUE(read_settings_payload(
        s,
        u"  resx = 704 ;DoLevels=yes;NoSound=Y;ScaleScreen=No;ShowSafe=n;ShowGuides=FALSE;"
        u"BackColor=0x102030;CharSpacing=-2000;ScrType=;VGuides=10, 20;HGuides=5,,7;"
        u"StyleOrder= A ,, B ;Compatible=-5"));
    EXPECT_EQ(s.res_x, 704);
    EXPECT_TRUE(s.do_levels && s.no_sound);
    EXPECT_FALSE(s.scale_screen || s.show_safe || s.show_guides);
    EXPECT_EQ(s.back_color, 0x102030u);
    EXPECT_EQ(s.char_spacing, -2000);
    EXPECT_EQ(s.scr_type, ScriptType::SON);
    EXPECT_EQ(s.guides, (std::vector<int32_t>{10 | INT32_MIN, 20 | INT32_MIN, 5, 7}));
    EXPECT_EQ(s.style_order, (Strings{u"A", u"B"}));
    EXPECT_EQ(s.compatible, -5);
    EXPECT_EQ(s.settings_count, 13);

    // A key given twice: the last value stays and both count.
    ASSERT_TRUE(read_settings_payload(s, u"TabWidth=8;TabWidth=9"));
    EXPECT_EQ(s.tab_width, 9);
    EXPECT_EQ(s.settings_count, 15);
}

TEST(ReadSettingsPayload, ErrorsStopThePayload) {
    for (const auto& payload :
         cases(u"|   |ResX|Nonsense=1|ResX=59|ResX=4801|ResX=7x|Colors=0|TabWidth=201|SafeFrm=100|"
               u"Minus2=4|Comp=3|CodePage=256|DoLevels=maybe|BackColor=xyz|ImgType=png|"
               u"ImgType=BMP8|ScrType=son|FixedWidth=59|LineSpacing=-1|BPP=5|MBCodePage=12345|"
               u"SNAPX=1|CropAbove=601")) {
        ConversionSettings s;
        EXPECT_FALSE(read_settings_payload(s, payload)) << base::utf16_to_utf8(payload);
    }
    // Pairs before the error stay applied; the ones after are not read.
    ConversionSettings s;
    EXPECT_FALSE(read_settings_payload(s, u"ResX=800;Bogus=1;ResY=300"));
    EXPECT_EQ(s.res_x, 800);
    EXPECT_EQ(s.res_y, 480);
    EXPECT_EQ(s.settings_count, 1);
}

// Paths take the rest of the payload, ';' included.
TEST(ReadSettingsPayload, WholeLineValues) {
    ConversionSettings s;
    ASSERT_TRUE(read_settings_payload(s, u"ResX=704;OutputFile= /o/a;b.son ;ResY=300"));
    EXPECT_EQ(s.output_file, u"/o/a;b.son ;ResY=300");
    EXPECT_EQ(s.res_y, 480);
    EXPECT_EQ(s.settings_count, 2);

    ASSERT_TRUE(read_settings_payload(s, u"BackMovie=/m/x.avi"));
    ASSERT_TRUE(read_settings_payload(s, u"BackPicture=/p/y;z.png"));
    EXPECT_EQ(s.back_picture, u"/p/y;z.png");
    EXPECT_EQ(s.back_movie, u"");
    ASSERT_TRUE(read_settings_payload(s, u"BackMovie=/m/x.avi"));
    EXPECT_EQ(s.back_picture, u"");

    // The old Background key: a colour, or a picture that resets the colour.
    ASSERT_TRUE(read_settings_payload(s, u"Background=#a0b0c0"));
    EXPECT_EQ(s.back_color, 0xA0B0C0u);
    ASSERT_TRUE(read_settings_payload(s, u"Background=C:\\pics\\x;1.bmp"));
    EXPECT_EQ(s.back_color, 0x504040u);
    EXPECT_EQ(s.back_picture, u"C:\\pics\\x;1.bmp");
    EXPECT_EQ(s.back_movie, u"");
}

TEST(ReadSettingsPayload, OlderKeys) {
    ConversionSettings s;
    ASSERT_TRUE(read_settings_payload(s, u"Minus2=1"));
    EXPECT_EQ(s.minus2, 2);
    ASSERT_TRUE(read_settings_payload(s, u"Minus2=0"));
    EXPECT_EQ(s.minus2, 0);

    // BPP only applies when the type is not TIFF.
    ASSERT_TRUE(read_settings_payload(s, u"ImgType=bmp8rle;LieTIFF=1;BPP=4"));
    EXPECT_EQ(s.img_type, u"tif");
    ASSERT_TRUE(read_settings_payload(s, u"ImgType=bmp8;LieTIFF=0;BPP=4"));
    EXPECT_EQ(s.img_type, u"bmp4");
    ASSERT_TRUE(read_settings_payload(s, u"BPP=8"));
    EXPECT_EQ(s.img_type, u"bmp8");

    ASSERT_TRUE(read_settings_payload(s, u"43Comp=1"));
    EXPECT_EQ(s.comp, 1);
    ASSERT_TRUE(read_settings_payload(s, u"43Comp=no"));
    EXPECT_EQ(s.comp, 0);
}

// A frame rate that is not a number still counts; drop frame fixes the output rate.
TEST(ReadSettingsPayload, FrameRates) {
    ConversionSettings s;
    ASSERT_TRUE(read_settings_payload(s, u"DropFrame=1;FPSin=23.976;FPSout=fast;Expected=3"));
    EXPECT_EQ(s.timing.rate_out, 29970);
    base::RecordingMessages messages;
    ASSERT_TRUE(post_load(s, messages));
    EXPECT_EQ(s.timing.fps_out_text, u"29.97");
    EXPECT_TRUE(messages.messages().empty());
}

TEST(ReadUserPayload, ItemsAndErrors) {
    std::optional<UserOverride> pending;
    // A plain time is not accepted; the SMPTE form is.
    EXPECT_FALSE(read_user_payload(pending, u"ABSOLUTEIN=0:00:01.00"));
    pending.reset();
    ASSERT_TRUE(read_user_payload(pending, u"absolutein=00:00:01:00; PosX = -12 ;snapx=2"));
    ASSERT_TRUE(read_user_payload(pending, u"ABSOLUTEOUT=00:00:02:05;POSY=7;SNAPY=1"));
    UserOverride want;
    want.absolute_in = smpte(1, 0);
    want.absolute_out = smpte(2, 5);
    want.pos_x = -12;
    want.snap_x = 2;
    want.pos_y = 7;
    want.snap_y = 1;
    EXPECT_EQ(pending, want);

    // Giving a time or a position twice fails, also across lines; snaps may repeat.
    const char16_t* bad[] = {u"ABSOLUTEIN=00:00:03:00", u"ABSOLUTEOUT=00:00:03:00", u"POSX=1",
                             u"POSY=1"};
    for (const char16_t* payload : bad) {
        std::optional<UserOverride> p = want;
        EXPECT_FALSE(read_user_payload(p, payload)) << base::utf16_to_utf8(payload);
    }
    std::optional<UserOverride> p = want;
    EXPECT_TRUE(read_user_payload(p, u"SNAPX=0"));

    for (const auto& payload : cases(u"SNAPX=3|SNAPY=-1|POSX=1.5|POSX=2147483647|OTHER=1|POSX|"
                                     u"ABSOLUTEIN=00:00:01:00x")) {
        std::optional<UserOverride> q;
        EXPECT_FALSE(read_user_payload(q, payload)) << base::utf16_to_utf8(payload);
    }
}

// --- after loading -------------------------------------------------------------------------

TEST(PostLoad, CountCheck) {
    const Strings lines = settings_lines(ConversionSettings());
    auto load = [](const Strings& payloads) {
        ConversionSettings s;
        for (const auto& p : payloads) {
            EXPECT_TRUE(read_settings_payload(s, p));
        }
        base::RecordingMessages messages;
        EXPECT_TRUE(post_load(s, messages));
        return messages.texts();
    };
    Strings payloads;
    for (const auto& l : lines) {
        ASSERT_TRUE(l.starts_with(kConfPrefix));
        payloads.push_back(l.substr(kConfPrefix.size()));
    }
    EXPECT_EQ(load(payloads), Texts{});
    EXPECT_EQ(load({}), Texts{});  // no settings at all: 0 and 0

    Strings missing = payloads;
    size_t at = missing[0].find(u"ResX=720;");
    ASSERT_NE(at, std::u16string::npos);
    missing[0].erase(at, 9);
    EXPECT_EQ(load(missing), Texts{kSettingCountMismatchText});

    Strings extra = payloads;
    extra.push_back(u"NoSound=0");
    EXPECT_EQ(load(extra), Texts{kSettingCountMismatchText});
}

TEST(PostLoad, OutputFileFromSourcePath) {
    base::RecordingMessages messages;
    ConversionSettings s;
    s.source_path = u"/films/a.b/movie.ssa";
    s.scr_type = ScriptType::IAU;
    ASSERT_TRUE(post_load(s, messages));
    EXPECT_EQ(s.output_file, u"/films/a.b/movie.txt");
    // Without a '.' in the file name the extension is appended.
    ConversionSettings n;
    n.source_path = u"/films/a.b/movie";
    ASSERT_TRUE(post_load(n, messages));
    EXPECT_EQ(n.output_file, u"/films/a.b/movie.son");
}

TEST(PostLoad, DvdSegmentsNeedTiming) {
    ConversionSettings s;
    ASSERT_TRUE(read_settings_payload(
        s, u"FPSin=25;FPSout=25;DVDSeg=00:00:10:00/00:00:12:00;DVDSeg=0:00:20.00;Expected=4"));
    EXPECT_EQ(s.pending_dvd_segments.size(), 2u);
    base::RecordingMessages messages;
    ASSERT_TRUE(post_load(s, messages));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(format_segment_text(s.dvd_segments, false),
              u"Segment range from 00:00:10:00 to 00:00:12:00\r\nChapter point at 00:00:20:00\r\n");
    EXPECT_EQ(s.dvd_segments[0].end, frame(300));
    EXPECT_TRUE(s.pending_dvd_segments.empty());

    ConversionSettings no_timing;
    ASSERT_TRUE(read_settings_payload(no_timing, u"DVDSeg=00:00:10:00;Expected=1"));
    ASSERT_TRUE(post_load(no_timing, messages));
    EXPECT_EQ(messages.texts(), Texts{kSegmentsNotImportedText});
    EXPECT_TRUE(no_timing.dvd_segments.empty());
    EXPECT_TRUE(no_timing.pending_dvd_segments.empty());
}

TEST(PostLoad, OldSegmentsWarning) {
    base::RecordingMessages messages;
    ConversionSettings simple;
    ASSERT_TRUE(read_settings_payload(simple, u"Segment=*,*,*,00:01:00:00;Expected=1"));
    ASSERT_TRUE(post_load(simple, messages));
    EXPECT_TRUE(messages.messages().empty());

    ConversionSettings old;
    ASSERT_TRUE(read_settings_payload(
        old, u"Segment=0:00:00.00,0:10:00.00,*,00:01:00:00;Segment=*,*,*,*;Expected=2"));
    ASSERT_TRUE(post_load(old, messages));
    EXPECT_EQ(messages.texts(), Texts{kOldSegmentsText});
    EXPECT_EQ(old.legacy_segments.size(), 2u);
}

// --- DVD segments and legacy segments ------------------------------------------------------

TEST(DvdSegments, ValueForms) {
    auto range = parse_dvd_segment_value(u"00:00:10:00/0:00:12.50");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->start, smpte(10, 0));
    EXPECT_EQ(range->end, (ScriptTime{1250, false}));
    auto chapter = parse_dvd_segment_value(u"00:00:10;05");
    ASSERT_TRUE(chapter);
    EXPECT_EQ(chapter->start, smpte(10, 5));
    EXPECT_FALSE(chapter->end);
    for (const auto& bad :
         cases(u"|x|00:00:10:00-00:00:12:00|00:00:10:00/|00:00:10:00/00:00:12:00x|00:00:10:00 ")) {
        EXPECT_FALSE(parse_dvd_segment_value(bad)) << base::utf16_to_utf8(bad);
    }
}

TEST(DvdSegments, AtMost256) {
    ConversionSettings s;
    std::u16string payload;
    for (int i = 0; i < 256; ++i) {
        payload += u"DVDSeg=00:00:01:00;";
    }
    ASSERT_TRUE(read_settings_payload(s, payload));
    EXPECT_EQ(s.pending_dvd_segments.size(), 256u);
    EXPECT_FALSE(read_settings_payload(s, u"DVDSeg=00:00:02:00"));
    EXPECT_EQ(s.pending_dvd_segments.size(), 256u);
}

TEST(SegmentText, ParseSortAndList) {
    const TimingSettings t = timing_25();
    const std::u16string text =
        u"; a comment 00:00:01:00\r\n"
        u"   ; another\n"
        u"Chapter at 00:00:20:00 please\r\n"
        u"from 00:00:10:00 to 00:00:05:00\r\n"
        u"00:00:10:00 - 00:00:12:00\r\n"
        u"00:00:10:00\r\n"
        u"Episode 12 and 99:99:99:99 x\r\n"
        u"00:00:10:00 00:00:11:00\n"
        u"0:00:30.00 to 0:00:31.00 and 0:00:40.00";
    auto segs = parse_segment_text(text, t, false);
    ASSERT_EQ(segs.size(), 5u);
    EXPECT_EQ(format_segment_text(segs, false),
              u"Segment range from 00:00:10:00 to 00:00:11:00\r\n"
              u"Segment range from 00:00:10:00 to 00:00:12:00\r\n"
              u"Chapter point at 00:00:10:00\r\n"
              u"Chapter point at 00:00:20:00\r\n"
              u"Segment range from 00:00:30:00 to 00:00:31:00\r\n");
    EXPECT_EQ(segs[0].end, frame(275));

    EXPECT_TRUE(parse_segment_text(u"nothing here\r\n; 00:00:01:00", t, false).empty());
    EXPECT_EQ(format_segment_text({}, false), u"");
}

// With ends shown as the next frame, a typed end is stored one frame earlier.
TEST(SegmentText, EndAsNextFrame) {
    const TimingSettings t = timing_25();
    auto segs = parse_segment_text(u"00:00:10:00 00:00:10:02\n00:00:20:00 00:00:20:01", t, true);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_EQ(segs[0].end, frame(251));
    EXPECT_EQ(format_segment_text(segs, true),
              u"Segment range from 00:00:10:00 to 00:00:10:02\r\n");
    EXPECT_EQ(format_segment_text(segs, false),
              u"Segment range from 00:00:10:00 to 00:00:10:01\r\n");
}

TEST(SegmentText, StopsAt256Entries) {
    std::u16string text;
    for (int i = 0; i < 300; ++i) {
        text += u"00:00:01:00\n";
    }
    EXPECT_EQ(parse_segment_text(text, timing_25(), false).size(), 256u);
}

TEST(LegacySegments, ParseAndFormat) {
    auto seg = parse_legacy_segment(u"0:00:01.00, *,0:00:00.50 ,00:00:02:03");
    ASSERT_TRUE(seg);
    EXPECT_EQ(seg->start, (ScriptTime{100, false}));
    EXPECT_FALSE(seg->stop);
    EXPECT_EQ(seg->src_pos, (ScriptTime{50, false}));
    EXPECT_EQ(seg->dst_pos, smpte(2, 3));
    EXPECT_EQ(format_legacy_segment(*seg), u"00:00:01.00,*,00:00:00.50,00:00:02:03");
    EXPECT_EQ(parse_legacy_segment(format_legacy_segment(*seg)), seg);

    for (const char16_t* bad : {u"*,*,*", u"*,*,*,*,*", u"00:00:01:00,*,*,*", u"*,*,0:00:01:00,*",
                                u"x,*,*,*", u"0:00:01.00x,*,*,*", u"*,*,*,"}) {
        EXPECT_FALSE(parse_legacy_segment(bad)) << base::utf16_to_utf8(bad);
    }

    EXPECT_TRUE(is_simple_offset({}));
    LegacySegment offset;
    offset.dst_pos = smpte(60, 0);
    EXPECT_TRUE(is_simple_offset({offset}));
    EXPECT_FALSE(is_simple_offset({offset, offset}));
    offset.dst_pos = ScriptTime{6000, false};
    EXPECT_FALSE(is_simple_offset({offset}));
    offset.dst_pos = smpte(60, 0);
    offset.src_pos = ScriptTime{0, false};
    EXPECT_FALSE(is_simple_offset({offset}));
}

// --- writing -------------------------------------------------------------------------------

// Entries joined with '|', for comparing whole lists at a glance.
std::u16string joined(const Strings& entries) {
    std::u16string out;
    for (const auto& e : entries) {
        out += (out.empty() ? u"" : u"|") + e;
    }
    return out;
}

TEST(SettingsEntries, Defaults) {
    EXPECT_EQ(joined(settings_entries(ConversionSettings())),
              u"BackColor=504040|Colors=2|ResX=720|ResY=480|TabWidth=32|"
              u"OutputBackground=7f7f7f|SafeFrm=3|ClipMinusOnePixel=0|StickyColors=1|Minus2=2|"
              u"IntellColl=1|CollForesee=1|ImgType=tif|BWWrap=1|ScrType=SON|Comp=1|"
              u"Color0=ff0000|Color1=ff|Color2=0|Color3=ffffff|StyleOrder=|CodePage=-1|"
              u"Expected=22");
}

ConversionSettings movie_settings() {
    ConversionSettings s;
    s.output_file = u"/o/out;x.usf";
    s.honor_file = u"/h/pal.son";
    s.back_movie = u"/m/movie;1.avi";
    s.back_offset = u"00:00:00:05";
    s.crop_above = 8;
    s.crop_below = 10;
    s.back_color = 0x123456;  // not written with a movie
    s.do_levels = s.no_sound = s.auto_detach = true;
    s.timing = timing_25();
    s.colors = 3;
    s.res_x = 704;
    s.res_y = 576;
    s.tab_width = 16;
    s.output_background = 0xFF123456;
    s.safe_frm = 5;
    s.clip_minus_one_pixel = s.dvd_separate = true;
    s.fixed_width = 320;
    s.line_spacing = 120;
    s.char_spacing = -3;
    s.sticky_colors = false;
    s.dont_clip = true;
    s.scale_screen = false;
    s.right_to_left = true;
    s.minus2 = 3;
    s.intell_coll = s.coll_foresee = false;
    s.no_hrz_coll = true;
    s.show_safe = s.show_guides = s.show_snaps = false;
    s.full_width = true;
    s.compatible = 256;
    s.stop_is_next = s.dont_check_fr = true;
    s.vdub_offset = u"00:00:01:00";
    s.img_type = u"bmp4rle";
    s.bw_wrap = false;
    s.scr_type = ScriptType::USF;
    s.comp = 2;
    s.fixed_colors = {0xABCDEF, 1, 0xFEDCBA, 0x1000000};
    s.style_order = {u"A", u"B"};
    s.guides = {10 | INT32_MIN, 30, 20 | INT32_MIN};
    s.dvd_segments = {{frame(250), frame(300)}, {frame(500), std::nullopt}};
    s.code_page = 128;
    s.mb_code_page = 932;
    LegacySegment offset;
    offset.dst_pos = smpte(5, 0);
    s.legacy_segments = {offset};
    return s;
}

TEST(SettingsEntries, WrittenFormsInTableOrder) {
    EXPECT_EQ(joined(settings_entries(movie_settings())),
              u"!OutputFile=/o/out;x.usf|!HonorFile=/h/pal.son|!BackMovie=/m/movie;1.avi|"
              u"BackOffset=00:00:00:05|CropAbove=8|CropBelow=10|DoLevels=1|NoSound=1|"
              u"AutoDetach=1|FPSin=25|FPSout=25|Colors=3|ResX=704|ResY=576|TabWidth=16|"
              u"OutputBackground=123456|SafeFrm=5|ClipMinusOnePixel=1|DVDSeparate=1|"
              u"FixedWidth=320|LineSpacing=120|CharSpacing=-3|DontClip=1|ScaleScreen=0|"
              u"RightToLeft=1|Minus2=3|CollForesee=0|NoHrzColl=1|ShowSafe=0|ShowGuides=0|"
              u"ShowSnaps=0|FullWidth=1|Compatible=256|StopIsNext=1|DontCheckFR=1|"
              u"VDubOffset=00:00:01:00|ImgType=bmp4rle|BWWrap=0|ScrType=USF|Comp=2|"
              u"Color0=abcdef|Color1=1|Color2=fedcba|Color3=0|StyleOrder=A,B|VGuides=10,20|"
              u"HGuides=30|DVDSeg=00:00:10:00/00:00:12:00|DVDSeg=00:00:20:00|CodePage=128|"
              u"MBCodePage=932|Segment=*,*,*,00:00:05:00|Expected=52");
}

TEST(SettingsEntries, ConditionalForms) {
    ConversionSettings s;
    s.back_picture = u"/p/pic.png";
    s.back_movie = u"/m/movie.avi";  // a picture hides the movie and its options
    s.back_offset = u"00:00:01:00";
    s.crop_above = 4;
    s.timing.drop_frame = true;
    s.timing.fps_in_text = u"29.97";
    s.timing.fps_out_text = u"29.97";
    s.line_spacing = 100;
    s.minus2 = 0;
    Strings e = settings_entries(s);
    auto has = [&](std::u16string_view prefix) {
        return std::any_of(e.begin(), e.end(),
                           [&](const std::u16string& x) { return x.starts_with(prefix); });
    };
    EXPECT_TRUE(has(u"!BackPicture=/p/pic.png"));
    EXPECT_FALSE(has(u"!BackMovie"));
    EXPECT_FALSE(has(u"BackOffset"));
    EXPECT_FALSE(has(u"CropAbove"));
    EXPECT_FALSE(has(u"BackColor"));
    EXPECT_TRUE(has(u"FPSin=29.97"));
    EXPECT_FALSE(has(u"FPSout"));
    EXPECT_TRUE(has(u"DropFrame=1"));
    EXPECT_FALSE(has(u"LineSpacing"));
    // A zero Minus2 is written: left out, it would read back as the default 2.
    EXPECT_TRUE(has(u"Minus2=0"));
}

// A style name with ';' cannot be read back from the list, and would break the rest of its line.
TEST(SettingsEntries, StyleOrderLeavesOutNamesWithSemicolons) {
    ConversionSettings s;
    s.style_order = {u"A", u"B;C", u"D"};
    s.code_page = 5;
    Strings e = settings_entries(s);
    EXPECT_NE(std::find(e.begin(), e.end(), u"StyleOrder=A,D"), e.end());
    ConversionSettings r;
    for (const auto& payload : pack_settings_entries(e)) {
        EXPECT_TRUE(read_settings_payload(r, payload));
    }
    EXPECT_EQ(r.code_page, 5);
}

TEST(PackSettingsEntries, LengthRuleAndWholeLineEntries) {
    const std::u16string a(100, u'a');
    const std::u16string b57(57, u'b');
    const std::u16string b58(58, u'b');
    // 100 + ';' + 57 is 158: one line; one more character starts a new one.
    EXPECT_EQ(pack_settings_entries({a, b57}), (Strings{a + u";" + b57}));
    EXPECT_EQ(pack_settings_entries({a, b58}), (Strings{a, b58}));
    // A long entry stands alone.
    const std::u16string long_entry(200, u'c');
    EXPECT_EQ(pack_settings_entries({u"x=1", long_entry, u"y=2"}),
              (Strings{u"x=1", long_entry, u"y=2"}));

    // A whole-line entry ends its line.
    EXPECT_EQ(pack_settings_entries({u"!OutputFile=/a;b", u"!HonorFile=/c", u"ResX=1", u"ResY=2"}),
              (Strings{u"OutputFile=/a;b", u"HonorFile=/c", u"ResX=1;ResY=2"}));
    EXPECT_EQ(pack_settings_entries({u"ResX=1", u"!OutputFile=/a;b", u"ResY=2"}),
              (Strings{u"ResX=1;OutputFile=/a;b", u"ResY=2"}));
    EXPECT_EQ(pack_settings_entries({}), Strings{});

    // Packing the real entries loses nothing and keeps every line within the limit.
    Strings entries = settings_entries(movie_settings());
    std::u16string joined;
    for (const auto& e : entries) {
        joined += (joined.empty() ? u"" : u";") + (e[0] == u'!' ? e.substr(1) : e);
    }
    std::u16string packed;
    for (const auto& p : pack_settings_entries(entries)) {
        EXPECT_LE(p.size(), 158u);
        packed += (packed.empty() ? u"" : u";") + p;
    }
    EXPECT_EQ(packed, joined);
}

// Written settings read back as the same settings, without a count warning.
TEST(SettingsLines, RoundTrip) {
    ConversionSettings picture;
    picture.back_picture = u"/p/pic;1.png";
    picture.timing.drop_frame = true;
    picture.timing.fps_in_text = u"29.97";
    picture.timing.fps_out_text = u"29.97";
    picture.minus2 = 0;
    picture.style_order = {u"Only"};
    picture.dvd_segments = {{frame(1800, 29970), std::nullopt}};
    picture.dvd_segments[0].start.drop = true;

    // With a movie the background colour is not written; leave it at its default here.
    ConversionSettings movie = movie_settings();
    movie.back_color = ConversionSettings().back_color;

    for (const ConversionSettings& s : {ConversionSettings(), movie, picture}) {
        ConversionSettings r;
        for (const auto& line : settings_lines(s)) {
            ASSERT_TRUE(line.starts_with(kConfPrefix)) << base::utf16_to_utf8(line);
            EXPECT_TRUE(read_settings_payload(r, line.substr(kConfPrefix.size())))
                << base::utf16_to_utf8(line);
        }
        base::RecordingMessages messages;
        ASSERT_TRUE(post_load(r, messages));
        EXPECT_EQ(messages.texts(), Texts{});
        EXPECT_EQ(listed(r), listed(s));
    }
}

TEST(StyleExtras, WrittenOnlyWhenNotDefaultAndReadBack) {
    Style st;
    st.name = u"Main";
    EXPECT_EQ(style_extras_text(st), u"");
    EXPECT_EQ(style_extras_line(st), u"");
    st.font_flags = 0;
    st.aa_average = 40;
    st.line_spacing = 2;
    st.extra_space = 0;
    st.italics_right = -1;
    EXPECT_EQ(style_extras_line(st),
              u"Comment: Marked=0,0:00:00.00,0:00:01.00,*Default,,0000,0000,0000,,TSRASTYLE: "
              u"Main;LineSpacing=2;ExtraSpace=0;ItalicsRight=-1;AAliasAvg=40;FontFlags=0");
    Style back;
    ASSERT_TRUE(read_style_extras(back,
                                  u" lineSpacing = 2;ExtraSpace=0;ItalicsRight=-1;;"
                                  u"AAliasAvg=40;FontFlags=0"));
    EXPECT_EQ(style_extras_text(back), style_extras_text(st));
    // The average moves the anti-alias colour between outline and text.
    ASSERT_TRUE(read_style_extras(back, u"AAliasAvg=100"));
    EXPECT_EQ(back.antialias, back.primary);
    EXPECT_FALSE(read_style_extras(back, u"Bold=1"));
    EXPECT_FALSE(read_style_extras(back, u"FaceTHLD=x"));
}

TEST(UserOverrideLine, WrittenForms) {
    UserOverride uo;
    uo.snap_x = 2;
    EXPECT_EQ(user_override_line(uo, ScriptTime{100, false}), u"");  // snaps alone
    uo.absolute_in = smpte(3723, 4);
    uo.pos_y = -5;
    uo.snap_y = 1;
    EXPECT_EQ(user_override_line(uo, ScriptTime{366012, false}),
              u"Comment: Marked=0,1:01:00.12,1:01:00.62,*Default,,0000,0000,0000,,TSRAUSER: "
              u"ABSOLUTEIN=01:02:03:04;POSY=-5;SNAPY=1");
    uo.absolute_out = smpte(3724, 0);
    uo.pos_x = 9;
    std::u16string line = user_override_line(uo, ScriptTime{0, false});
    const std::u16string_view marker = u"TSRAUSER: ";
    std::u16string items = line.substr(line.find(marker) + marker.size());
    EXPECT_EQ(items,
              u"ABSOLUTEIN=01:02:03:04;ABSOLUTEOUT=01:02:04:00;POSX=9;SNAPX=2;POSY=-5;SNAPY=1");
    std::optional<UserOverride> back;
    ASSERT_TRUE(read_user_payload(back, items));
    EXPECT_EQ(back, uo);
}

}  // namespace
}  // namespace tessara::script

namespace tessara::script {
namespace {

// A dialog's edited copy of the values cannot clear the document's path or flags.
TEST(SettingsValues, AssigningAnEditedCopyKeepsTheBookkeeping) {
    ConversionSettings settings;
    settings.source_path = u"/films/a.ssa";
    settings.modified = true;
    settings.settings_seen = true;
    settings.unicode = true;
    SettingsValues copy = settings;
    copy.res_x = 704;
    copy.style_order = {u"Sign", u"Default"};
    settings.assign_values(copy);
    EXPECT_EQ(settings.res_x, 704);
    EXPECT_EQ(settings.style_order, (std::vector<std::u16string>{u"Sign", u"Default"}));
    EXPECT_EQ(settings.source_path, u"/films/a.ssa");
    EXPECT_TRUE(settings.modified);
    EXPECT_TRUE(settings.settings_seen);
    EXPECT_TRUE(settings.unicode);
}

TEST(SettingKeyInfo, RangesDefaultsAndWrittenFormsComeFromTheKeyTable) {
    auto res_x = setting_key_info(u"resx");  // keys are found in any case
    ASSERT_TRUE(res_x);
    EXPECT_EQ(res_x->key, u"ResX");
    EXPECT_EQ(res_x->range, std::make_pair(60, 4800));
    EXPECT_EQ(res_x->default_value, SettingValue(int64_t{720}));
    EXPECT_EQ(res_x->default_entries, (std::vector<std::u16string>{u"ResX=720"}));
    // The range is the one the reader enforces.
    ConversionSettings s;
    EXPECT_FALSE(apply_setting(s, u"ResX", u"59"));
    EXPECT_TRUE(apply_setting(s, u"ResX", u"4800"));

    // A key written only when on, and one only older files hold.
    auto clip = setting_key_info(u"DontClip");
    ASSERT_TRUE(clip);
    EXPECT_FALSE(clip->range);
    EXPECT_TRUE(clip->default_entries.empty());
    SettingsValues on;
    on.dont_clip = true;
    EXPECT_EQ(written_entries(u"DontClip", on), (std::vector<std::u16string>{u"DontClip=1"}));
    auto bpp = setting_key_info(u"BPP");
    ASSERT_TRUE(bpp);
    EXPECT_FALSE(bpp->default_value);
    EXPECT_FALSE(setting_key_info(u"Frobnicate"));
}

}  // namespace
}  // namespace tessara::script
