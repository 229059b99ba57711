#include "script/timecode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"

namespace tessara::script {
namespace {

std::optional<ScriptTime> parse(std::u16string_view text, bool allow_smpte = false) {
    auto p = parse_script_time(text, true, allow_smpte);
    return p ? std::optional<ScriptTime>(p->time) : std::nullopt;
}

TimingSettings timing(int32_t rate_in, int32_t rate_out, bool drop = false) {
    TimingSettings t;
    t.rate_in = rate_in;
    t.rate_out = rate_out;
    t.drop_frame = drop;
    return t;
}

FrameTime at(int32_t frame, int32_t rate, bool drop = false) {
    return FrameTime{frame, rate, drop};
}

TEST(ScriptTimeParse, FieldsLimitsAndSeparators) {
    EXPECT_EQ(parse(u"1:00:00.00")->value, 360000);
    EXPECT_EQ(parse(u"01:00:00.00")->value, 360000);
    EXPECT_EQ(parse(u"0:00:01.5")->value, 105);  // the last field is a number, not a fraction
    EXPECT_EQ(parse(u"-0:00:01.00")->value, -100);
    EXPECT_FALSE(parse(u"100:00:00.00"));
    EXPECT_FALSE(parse(u"0:60:00.00"));
    EXPECT_FALSE(parse(u"0:00:60.00"));
    EXPECT_FALSE(parse(u"0:00:00.100"));
    EXPECT_FALSE(parse(u"0:00:01:00"));
    EXPECT_FALSE(parse(u"-"));
    EXPECT_FALSE(parse(u"0:00:01."));

    ScriptTime smpte = *parse(u"00:01:00;02", true);
    EXPECT_TRUE(smpte.smpte);
    EXPECT_EQ(smpte.value, 6002);
    EXPECT_FALSE(parse(u"00:00:01.00", true)->smpte);

    EXPECT_FALSE(parse_script_time(u"0:00:01.00,x", true, false));
    EXPECT_EQ(parse_script_time(u"0:00:01.00,x", false, false)->end, 10u);
}

TEST(ScriptTimeParse, LongDigitStringsFailWithoutOverflow) {
    std::u16string huge(400, u'9');
    EXPECT_FALSE(parse(huge + u":00:00.00"));
    EXPECT_FALSE(parse(u"0:00:00." + huge));
    // Leading zeros alone do not make a field too large.
    EXPECT_EQ(parse(std::u16string(50, u'0') + u"1:00:00.00")->value, 360000);
    // 2^32 + 5 would wrap to 5 in a 32-bit reader.
    EXPECT_FALSE(parse(u"0:00:00.4294967301"));
}

TEST(ScriptTimeFormat, ShortAndLongHoursSignAndSeparator) {
    EXPECT_EQ(format_script_time({360000 + 6000 + 100 + 5, false}, true), u"1:01:01.05");
    EXPECT_EQ(format_script_time({360000 + 6000 + 100 + 5, false}, false), u"01:01:01.05");
    EXPECT_EQ(format_script_time({-100, false}, true), u"-0:00:01.00");
    EXPECT_EQ(format_script_time({6002, true}, false), u"00:01:00:02");
    EXPECT_EQ(format_script_time({INT32_MIN, false}, false), u"-5965:13:56.48");
}

TEST(FrameRateText, ParsesLikeScanf) {
    EXPECT_EQ(rate_from_text(u"23.976"), 23976);
    EXPECT_EQ(rate_from_text(u"29.97"), 29970);
    EXPECT_EQ(rate_from_text(u" \t+25"), 25000);
    EXPECT_EQ(rate_from_text(u"2.5e1"), 25000);
    EXPECT_EQ(rate_from_text(u"0x19"), 25000);
    EXPECT_EQ(rate_from_text(u"0.5"), 500);  // a number, but below kMinRate
    EXPECT_EQ(rate_from_text(u"-5"), -4999);
    for (std::u16string_view bad :
         {u"", u"   ", u"25fps", u"25 ", u"25.0.0", u".", u"+-25", u"--25", u"0x", u"inf", u"nan",
          u"1e30", u"3000000", u"2\u00B75"}) {
        EXPECT_FALSE(rate_from_text(bad)) << std::string(bad.begin(), bad.end());
    }
}

TEST(TimingValidation, MessagesInOrder) {
    struct Case {
        std::u16string in, out;
        bool drop, iauthor;
        const char* message;
    };
    const Case cases[] = {
        {u"", u"25", false, false, "Please enter the input frame rate"},
        {u"25", u"", false, false, "Please enter the output frame rate"},
        {u"0.5", u"25", false, false, "FPS in is invalid"},
        {u"25x", u"25", false, false, "FPS in is invalid"},
        {u"25", u"", true, true, "You cannot use drop frame with I-Author format"},
        {u"25", u"abc", false, false, "FPS out is invalid"},
    };
    for (const Case& c : cases) {
        TimingSettings t;
        t.fps_in_text = c.in;
        t.fps_out_text = c.out;
        t.drop_frame = c.drop;
        base::RecordingMessages messages;
        EXPECT_FALSE(validate_timing(t, c.iauthor, &messages, false));
        EXPECT_EQ(messages.texts(), std::vector<std::string>{c.message});
        messages.clear();
        EXPECT_FALSE(validate_timing(t, c.iauthor, &messages, true));
        EXPECT_FALSE(validate_timing(t, c.iauthor, nullptr, false));
        EXPECT_TRUE(messages.texts().empty());
    }
}

TEST(TimingValidation, DropFrameForcesOutputRate) {
    TimingSettings t;
    t.fps_in_text = u"23.976";
    t.fps_out_text = u"25";
    t.drop_frame = true;
    EXPECT_TRUE(validate_timing(t, false, nullptr, false));
    EXPECT_EQ(t.fps_out_text, u"29.97");
    EXPECT_EQ(t.rate_in, 23976);
    EXPECT_EQ(t.rate_out, 29970);

    // A rate that fails is never stored: the conversions divide by it.
    TimingSettings r;
    r.fps_in_text = u"25";
    r.fps_out_text = u"0";
    r.rate_out = 30000;
    EXPECT_FALSE(validate_timing(r, false, nullptr, true));
    EXPECT_EQ(r.rate_out, 30000);
    recompute_rates(r, false);
    EXPECT_EQ(r.rate_in, 25000);
    EXPECT_EQ(r.rate_out, 30000);
    r.drop_frame = true;
    recompute_rates(r, true);  // I-Author: drop frame does not force the output rate
    EXPECT_EQ(r.rate_out, 30000);
    recompute_rates(r, false);
    EXPECT_EQ(r.fps_out_text, u"29.97");
    EXPECT_EQ(r.rate_out, 29970);
}

TEST(FrameTimeConversion, PlainTimesLandOnFirstFrameNotEarlier) {
    TimingSettings ntsc = timing(29970, 29970);
    EXPECT_EQ(frame_time_from_script_time({2, false}, ntsc).frame, 1);
    FrameTime one = frame_time_from_script_time({3, false}, ntsc);
    EXPECT_EQ(script_time_from_frame_time(one).value, 3);
    EXPECT_EQ(format_smpte(one), u"00:00:00:01");
    // Frames are counted at FPS in and carry FPS out.
    EXPECT_EQ(frame_time_from_script_time({100, false}, timing(23976, 25000)),
              (FrameTime{24, 25000}));
    // No rate to divide by: no frame rather than a crash.
    EXPECT_FALSE(frame_time_from_script_time({100, false}, timing(0, 25000)).is_set());
    EXPECT_FALSE(frame_time_from_script_time({100, true}, timing(25000, 0)).is_set());
}

TEST(FrameTimeConversion, SmpteLabels) {
    TimingSettings drop = timing(29970, 29970, true);
    EXPECT_EQ(frame_time_from_script_time(*parse(u"00:01:00;02", true), drop).frame, 1800);
    EXPECT_EQ(frame_time_from_script_time(*parse(u"00:10:00;00", true), drop).frame, 17982);
    // Labels skipped by drop frame land on the frames before them.
    EXPECT_EQ(frame_time_from_script_time(*parse(u"00:01:00;00", true), drop).frame, 1798);
    // A negative label mirrors its magnitude instead of reading outside the tables.
    EXPECT_EQ(frame_time_from_script_time(*parse(u"-00:01:00;02", true), drop).frame, -1800);
    EXPECT_EQ(format_smpte(at(-1800, 29970, true)), u"-00:01:00:02");

    EXPECT_EQ(frame_time_from_script_time({100 + 5, true}, timing(25000, 25000)).frame, 30);
    EXPECT_EQ(frame_time_from_script_time({100, true}, timing(25000, 29970)).frame, 30);
    EXPECT_EQ(frame_time_from_script_time({INT32_MAX, true}, timing(25000, INT32_MAX)).frame,
              INT32_MAX);
}

TEST(FrameTimeConversion, SmpteRoundTrips) {
    for (int32_t f = 0; f <= 3 * DropFrameTables::kCycleFrames; ++f) {
        std::u16string label = format_smpte(at(f, 29970, true), u';');
        auto t = parse(label, true);
        ASSERT_TRUE(t) << f;
        ASSERT_EQ(frame_time_from_script_time(*t, timing(29970, 29970, true)).frame, f) << f;
    }
    for (int32_t rate : {23976, 25000, 29970, 30000}) {
        TimingSettings s = timing(rate, rate);
        for (int32_t f = 0; f <= 2 * 60 * 31; ++f) {
            auto t = parse(format_smpte(at(f, rate)), true);
            ASSERT_TRUE(t) << rate << " " << f;
            ASSERT_EQ(frame_time_from_script_time(*t, s).frame, f) << rate << " " << f;
            // Plain times printed from a frame come back to the same frame.
            ASSERT_EQ(
                frame_time_from_script_time(script_time_from_frame_time(at(f, rate)), s).frame, f);
        }
    }
}

TEST(FrameTimeConversion, OffsetsAndBackConversion) {
    TimingSettings ntsc = timing(29970, 29970);
    ScriptTime a{100, false};
    ScriptTime b{6002, true};  // non-drop at 29.97: second 60 is a real second
    FrameTime ft = frame_time_from_script_time({3, false}, ntsc, a, b);
    int32_t b_frames = frames_of_offset(b, ft);
    EXPECT_EQ(b_frames, 1801);
    EXPECT_EQ(ft.frame, 31 + b_frames);
    back_convert(ft, a, b, ntsc);
    EXPECT_EQ(ft.frame, 1);

    // An SMPTE-form plain offset is ignored both ways.
    ScriptTime smpte_a{100, true};
    FrameTime g = frame_time_from_script_time({3, false}, ntsc, smpte_a, std::nullopt);
    back_convert(g, smpte_a, std::nullopt, ntsc);
    EXPECT_EQ(g.frame, 1);
    EXPECT_EQ(frames_of_offset({6002, true}, at(0, 29970, true)), 1800);
}

TEST(FrameTimeFormat, SmpteForms) {
    EXPECT_EQ(format_smpte(at(1799, 29970, true)), u"00:00:59:29");
    EXPECT_EQ(format_smpte(at(1800, 29970, true)), u"00:01:00:02");
    EXPECT_EQ(format_smpte(at(17982, 29970, true)), u"00:10:00:00");
    EXPECT_TRUE(DropFrameTables::built());
    EXPECT_EQ(format_smpte(at(25, 25000)), u"00:00:01:00");
    EXPECT_EQ(format_smpte(at(29, 29970)), u"00:00:00:29");
    EXPECT_EQ(format_smpte(at(30, 29970)), u"00:00:01:00");
    EXPECT_EQ(format_smpte(at(INT32_MAX, 1000)), u"596523:14:07:00");
    EXPECT_EQ(format_smpte(FrameTime{}), u"");
    EXPECT_EQ(format_smpte(at(25, 0)), u"");
}

TEST(FrameTimeFormat, ClockSecondsAndFootage) {
    EXPECT_EQ(format_clock_hundredths(at(1, 29970)), u"00:00:00:03");
    EXPECT_EQ(format_clock_millis(at(90061 * 25 + 1, 25000)), u"25:01:01,040");
    EXPECT_EQ(format_seconds(at(38, 25000)), u"1.52");
    for (auto form : {format_clock_hundredths, format_clock_millis}) {
        EXPECT_EQ(form(FrameTime{}, u':'), u"");
        EXPECT_EQ(form(at(5, 0), u':'), u"");
    }
    EXPECT_EQ(format_seconds(at(5, 0)), u"");

    EXPECT_EQ(format_film_footage(at(33, 24000), at(0, 24000)), u"000002.01");
    EXPECT_EQ(format_film_footage(at(24, 30000), at(0, 30000)), u"000001.03");
    EXPECT_EQ(format_film_footage(at(10, 30000), at(20, 30000)), u"000000.00");
    EXPECT_EQ(format_film_footage(at(INT32_MAX, 24000), at(-INT32_MAX, 24000)), u"268435455.14");
    EXPECT_EQ(format_film_footage(at(5, 24000), FrameTime{}), u"");
}

}  // namespace
}  // namespace tessara::script
