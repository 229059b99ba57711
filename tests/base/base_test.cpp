#include <gtest/gtest.h>

#include <cerrno>

#include "base/int_math.h"
#include "base/messages.h"
#include "base/preferences.h"
#include "base/text.h"
#include "test_support.h"

namespace tessara::base {
namespace {

TEST(IntMath, MuldivTruncatesTowardZeroWith64BitProducts) {
    EXPECT_EQ(muldiv(2'000'000'000, 3, 4), 1'500'000'000);
    EXPECT_EQ(muldiv(-7, 1, 2), -3);
    EXPECT_EQ(muldiv(7, -1, 2), -3);
}

TEST(IntMath, MuldivRoundRoundsHalfAwayFromZeroAndFlagsFailures) {
    EXPECT_EQ(muldiv_round(5, 5, 2), 13);    // 12.5
    EXPECT_EQ(muldiv_round(-5, 5, 2), -13);  // -12.5
    EXPECT_EQ(muldiv_round(7, 5, 2), 18);    // 17.5
    EXPECT_EQ(muldiv_round(1, 1, 3), 0);
    EXPECT_EQ(muldiv_round(2, 1, 3), 1);
    EXPECT_EQ(muldiv_round(1, 2, 0), -1);
    EXPECT_EQ(muldiv_round(0x7FFFFFFF, 4, 1), -1);
}

TEST(IntMath, FloorAndCeilOfNegativeQuotients) {
    EXPECT_EQ(floor_div(-7, 2), -4);
    EXPECT_EQ(ceil_div(-7, 2), -3);
    EXPECT_EQ(floor_div(7, 2), 3);
    EXPECT_EQ(ceil_div(7, 2), 4);
}

TEST(Text, Utf8AndUtf16RoundTripAndRepairInvalidInput) {
    const std::string s = "Caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x8E\xAC";
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(s)), s);
    EXPECT_EQ(utf8_to_utf16("\xC3"), u"\uFFFD");            // truncated sequence
    EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong form
    EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

// A file is taken for UTF-8 only when every byte belongs to a well-formed sequence: a single
// stray byte means another encoding, and repairing it would change the file on saving.
TEST(Text, ExactUtf8RefusesAnyMalformedSequence) {
    EXPECT_EQ(utf8_to_utf16_exact("Tom\xC3\xA9 \xD0\x96 \xEF\xBF\xBD \xF0\x9F\x8E\xAC"),
              u"Tom\u00E9 \u0416 \uFFFD \U0001F3AC");
    EXPECT_EQ(utf8_to_utf16_exact(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    for (const char* bad : {"Tom\xE9", "\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                            "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xA9", "\xE2\x82"}) {
        EXPECT_FALSE(utf8_to_utf16_exact(bad)) << bad;
    }
}

TEST(Text, UnpairedSurrogatesAreFound) {
    EXPECT_FALSE(has_unpaired_surrogate(u"Tom\u00E9 \U0001F3AC"));
    EXPECT_TRUE(has_unpaired_surrogate(std::u16string(1, char16_t(0xD800))));
    EXPECT_TRUE(has_unpaired_surrogate(std::u16string{u'a', char16_t(0xDC00), u'b'}));
    EXPECT_TRUE(has_unpaired_surrogate(std::u16string{char16_t(0xD83C), u'x'}));
}

TEST(Text, ExactIntegersAcceptOneNumberAndNothingElse) {
    EXPECT_EQ(parse_int_exact(u"  -42"), -42);
    EXPECT_EQ(parse_int_exact(u"0000"), 0);
    EXPECT_FALSE(parse_int_exact(u"42 "));
    EXPECT_FALSE(parse_int_exact(u"4x"));
    EXPECT_FALSE(parse_int_exact(u""));
    EXPECT_FALSE(parse_int_exact(u"-"));
    EXPECT_EQ(parse_int_exact(u"2147483647"), 2147483647);
    EXPECT_EQ(parse_int_exact(u"-2147483648"), INT32_MIN);
    EXPECT_FALSE(parse_int_exact(u"2147483648"));
    EXPECT_FALSE(parse_int_exact(u"99999999999999999999999999"));

    EXPECT_EQ(parse_hex_exact(u"7f7f7f"), 0x7F7F7Fu);
    EXPECT_EQ(parse_hex_exact(u"0xFF"), 0xFFu);
    EXPECT_FALSE(parse_hex_exact(u"fg"));
    EXPECT_FALSE(parse_hex_exact(u"1ffffffff"));
}

TEST(Text, CaseInsensitiveComparisonTouchesAsciiOnly) {
    EXPECT_TRUE(iequals(u"TSRAconf", u"tsraCONF"));
    EXPECT_FALSE(iequals(u"\u00C9", u"\u00E9"));
    EXPECT_TRUE(istarts_with(u"Comment: x", u"COMMENT"));
    EXPECT_EQ(trim_spaces(u"  a b \t"), u"a b \t");
    EXPECT_EQ(trim_blanks(u" \ta b \t"), u"a b");
}

TEST(Messages, RecordingKeepsTextsAndAnswersFromItsQueue) {
    RecordingMessages m;
    m.warn("careful");
    m.error_with_system("Error opening x", ENOENT);
    m.error_with_system("Error writing to x", 0);
    m.queue_answer(Answer::Yes);
    EXPECT_EQ(m.ask("Sure?", AskKind::YesNo), Answer::Yes);
    EXPECT_EQ(m.ask("Sure?", AskKind::OkCancel), Answer::Cancel);  // queue empty: safe answer
    EXPECT_EQ(m.texts(),
              (std::vector<std::string>{"careful", "Error opening x", system_error_text(ENOENT),
                                        "Error writing to x", "Unknown error", "Sure?", "Sure?"}));
}

TEST(Preferences, IniFileReadsQSettingsStyleNamesAndIntegers) {
    test::TempDir dir;
    test::write_file(dir.file("Tessara.conf"),
                     "[General]\nLastSSAFolder=/home/x\n\n[Files]\n"
                     "Treat%20%5Cn%20as%20%5CN=1\r\nHonorPalette=\"/dvd/old.son\"\nbad=x\n");
    IniFilePreferences prefs(dir.file("Tessara.conf").string());
    EXPECT_EQ(prefs.get_int("Files", "Treat \\n as \\N", 0), 1);
    EXPECT_EQ(prefs.get_string_or("Files", "HonorPalette", ""), "/dvd/old.son");
    EXPECT_EQ(prefs.get_int("Files", "bad", 7), 7);
    EXPECT_EQ(prefs.get_int("Files", "missing", 3), 3);

    IniFilePreferences missing(dir.file("nope.conf").string());
    EXPECT_FALSE(missing.get_string("Files", "HonorPalette"));
}

}  // namespace
}  // namespace tessara::base
