#include "script/script_tools.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/script_edit.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"
#include "test_support.h"

namespace tessara::script {
namespace {

using base::Answer;
using base::MessageKind;
using base::RecordedMessage;

std::string script_text(std::string_view events, std::string_view styles = "") {
    std::string s =
        "[Script Info]\nTitle: 5\x80\n\n[V4 Styles]\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
        "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
        "MarginV, AlphaLevel, Encoding\n"
        "Style: Default,Arial,20,16777215,65535,65535,0,0,0,1,2,0,2,10,10,10,0,0\n";
    s += styles;
    s += "\n[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
         "Effect, Text\n";
    s += events;
    return s;
}

std::string dialogue(std::string_view fields) {
    return "Dialogue: Marked=0," + std::string(fields) + "\n";
}

class ScriptToolsTest : public ::testing::Test {
  protected:
    void load(std::string_view bytes) {
        script.reset(true);
        ASSERT_TRUE(read_script_bytes(script, bytes, u"", {}, messages));
        script.settings.modified = false;
        script.settings.rebuild_needed = false;
        messages.clear();
    }
    std::string times() const {
        std::string out;
        for (const auto& ev : script.events()) {
            out += (out.empty() ? "" : " ") + std::to_string(ev->start.value) + "-" +
                   std::to_string(ev->end.value);
        }
        return out;
    }
    // The Text field of event i's line.
    std::u16string text_of(size_t i) const {
        const std::u16string& line = script.events().at(i)->line->text;
        return line.substr(text_field_start(line));
    }
    std::vector<std::u16string> run_texts(size_t i) const {
        std::vector<std::u16string> out;
        for (const auto& r : script.events().at(i)->runs) {
            out.push_back(r.text);
        }
        return out;
    }
    void reload() {
        std::optional<std::string> bytes = serialize_script(script, messages);
        ASSERT_TRUE(bytes.has_value());
        load(*bytes);
    }

    Script script;
    base::RecordingMessages messages;
};

using Texts = std::vector<std::u16string>;

// --- snapping ------------------------------------------------------------------------------------

TEST_F(ScriptToolsTest, SnapAt25FpsMovesTimesToFrameStarts) {
    load(script_text(dialogue("0:00:00.04,0:00:01.00,Default,,0,0,0,,A") +
                     dialogue("0:00:00.05,0:00:00.13,Default,,0,0,0,,B") +
                     dialogue("0:00:00.05,0:00:00.07,Default,,0,0,0,,C")));
    EXPECT_EQ(snap_times(script, u"25", messages), ToolOutcome::Changed);
    // Multiples of 4 hundredths stay; 0.05 goes to 0.08. Both times of C fall into one frame
    // slot: its end goes to the next slot instead of making the line unreadable.
    EXPECT_EQ(times(), "4-100 8-16 8-12");
    EXPECT_EQ(base::utf16_to_utf8(script.events()[1]->line->text),
              "Dialogue: Marked=0,0:00:00.08,0:00:00.16,Default,,0,0,0,,B");
    EXPECT_TRUE(script.settings.modified);
    EXPECT_TRUE(script.settings.rebuild_needed);
    EXPECT_TRUE(messages.messages().empty());

    // Snapping again finds nothing to move.
    script.settings.modified = false;
    EXPECT_EQ(snap_times(script, u"25", messages), ToolOutcome::Unchanged);
    EXPECT_FALSE(script.settings.modified);
}

TEST_F(ScriptToolsTest, SnapAtNtscAgreesWithTheFrameConversion) {
    std::string events;
    for (int t = 0; t < 300; ++t) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "0:00:%02d.%02d,0:01:00.00,Default,,0,0,0,,x", t / 100,
                      t % 100);
        events += dialogue(buf);
    }
    load(script_text(events));
    EXPECT_EQ(snap_times(script, u" 29,97 ", messages), ToolOutcome::Changed);
    EXPECT_EQ(script.events()[2]->start.value, 3);
    EXPECT_EQ(script.events()[3]->start.value, 3);

    TimingSettings timing;
    timing.rate_in = 29970;
    timing.rate_out = 29970;
    for (size_t i = 0; i < script.events().size(); ++i) {
        const ScriptTime snapped = script.events()[i]->start;
        FrameTime ft = frame_time_from_script_time(snapped, timing);
        EXPECT_EQ(script_time_from_frame_time(ft), snapped) << i;
        // Never earlier than the time it came from, and within one frame of it.
        EXPECT_GE(snapped.value, static_cast<int32_t>(i));
        EXPECT_LE(snapped.value, static_cast<int32_t>(i) + 4);
    }
}

TEST_F(ScriptToolsTest, SnapRefusesBadRates) {
    load(script_text(dialogue("0:00:00.05,0:00:01.00,Default,,0,0,0,,A")));
    const std::u16string before = script.events()[0]->line->text;
    struct Case {
        std::u16string_view rate;
        const char* message;
    };
    for (const Case& c : {Case{u"", kSnapEmptyRateText}, Case{u"  ", kSnapEmptyRateText},
                          Case{u"fast", kSnapBadNumberText}, Case{u"25 30", kSnapBadNumberText},
                          Case{u"25fps", kSnapBadNumberText}, Case{u"inf", kSnapBadNumberText},
                          Case{u"0x19", kSnapBadNumberText}, Case{u"0", kSnapBadValueText},
                          Case{u"-25", kSnapBadValueText},
                          // Frames so long that a snapped time leaves the range of a line.
                          Case{u"1e-9", kSnapBadValueText}}) {
        messages.clear();
        EXPECT_EQ(snap_times(script, c.rate, messages), ToolOutcome::Failed)
            << base::utf16_to_utf8(c.rate);
        EXPECT_EQ(messages.texts(), std::vector<std::string>{c.message});
    }
    EXPECT_EQ(script.events()[0]->line->text, before);
    EXPECT_FALSE(script.settings.modified);
}

TEST_F(ScriptToolsTest, SnapUsesABlinkingLinesOwnTimes) {
    load(script_text(dialogue("0:00:01.01,0:00:02.01,Default,,0,0,0,,{#blink50}B")));
    ASSERT_EQ(times(), "101-126 151-176 201-226");
    EXPECT_EQ(snap_times(script, u"25", messages), ToolOutcome::Changed);
    EXPECT_EQ(times(), "104-129 154-179 204-229");
    EXPECT_EQ(base::utf16_to_utf8(script.events()[0]->line->text),
              "Dialogue: Marked=0,0:00:01.04,0:00:02.04,Default,,0,0,0,,{#blink50}B");
}

// --- quotes --------------------------------------------------------------------------------------

TEST_F(ScriptToolsTest, QuotesPairFromTheLeft) {
    load(test::utf16le_with_bom(
        script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,\"a\" {\\fn\"X\"}\"b\" \"c") +
                    dialogue("0:00:03.00,0:00:04.00,Default,,0,0,0,,No quotes, \"one") +
                    dialogue("0:00:05.00,0:00:06.00,Default,,0,0,0,,\"x\"\"y\""))));
    messages.queue_answer(Answer::Cancel);
    EXPECT_EQ(straight_to_typographic_quotes(script, messages), ToolOutcome::Cancelled);
    EXPECT_EQ(messages.messages(),
              (std::vector<RecordedMessage>{{MessageKind::Ask, kQuotesQuestion}}));
    EXPECT_EQ(text_of(0), u"\"a\" {\\fn\"X\"}\"b\" \"c");

    messages.queue_answer(Answer::Ok);
    const int32_t untouched = script.events()[1]->change_counter;
    EXPECT_EQ(straight_to_typographic_quotes(script, messages), ToolOutcome::Changed);
    // Quotes inside the override block are tag syntax and stay straight.
    EXPECT_EQ(text_of(0), u"\u201Ca\u201D {\\fn\"X\"}\u201Cb\u201D \"c");
    EXPECT_EQ(text_of(1), u"No quotes, \"one");
    EXPECT_EQ(script.events()[1]->change_counter, untouched);
    EXPECT_EQ(text_of(2), u"\u201Cx\u201D\u201Cy\u201D");
    EXPECT_EQ(script.events()[0]->plain_text, u"\u201Ca\u201D \u201Cb\u201D \"c");
    EXPECT_TRUE(script.settings.modified);
}

TEST_F(ScriptToolsTest, QuotesInAnsiScriptUseTheRunsCodePage) {
    load(script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,\"Hi\" \"there\" \"") +
                     dialogue("0:00:03.00,0:00:04.00,Default,,0,0,0,,{\\fe128}\"x\"") +
                     dialogue("0:00:05.00,0:00:06.00,Default,,0,0,0,,\"ok\" {\\fe2}\"sym\"")));
    messages.queue_answer(Answer::Ok);
    EXPECT_EQ(straight_to_typographic_quotes(script, messages), ToolOutcome::Changed);
    EXPECT_EQ(text_of(0), u"\x93Hi\x94 \x93there\x94 \"");
    EXPECT_EQ(run_texts(0), (Texts{u"\u201CHi\u201D", u"\u201Cthere\u201D", u"\""}));
    EXPECT_EQ(text_of(1), u"{\\fe128}\x81\x67x\x81\x68");
    EXPECT_EQ(run_texts(1), (Texts{u"\u201Cx\u201D"}));
    // The symbol character set has no quotes: the whole line stays as it was.
    EXPECT_EQ(text_of(2), u"\"ok\" {\\fe2}\"sym\"");
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{
                  kQuotesQuestion,
                  "1 lines were left unchanged: their character set cannot hold typographic "
                  "quotes."}));
    EXPECT_EQ(messages.messages().back().kind, MessageKind::Warn);

    reload();
    EXPECT_EQ(run_texts(0), (Texts{u"\u201CHi\u201D", u"\u201Cthere\u201D", u"\""}));
}

// Both tools take a run's code page from its style's Encoding when it has no \fe of its own.
TEST_F(ScriptToolsTest, ToolsUseTheCodePageOfTheEventsStyle) {
    load(script_text(dialogue("0:00:01.00,0:00:02.00,Jap,,0,0,0,,\"x\"") +
                         dialogue("0:00:03.00,0:00:04.00,Cyr,,0,0,0,,\xCF\xF0\xE8\xE2\xE5\xF2"),
                     "Style: Jap,Arial,20,255,0,0,0,0,0,1,2,0,2,10,10,10,0,128\n"
                     "Style: Cyr,Arial,20,255,0,0,0,0,0,1,2,0,2,10,10,10,0,204\n"));
    messages.queue_answer(Answer::Ok);
    EXPECT_EQ(straight_to_typographic_quotes(script, messages), ToolOutcome::Changed);
    EXPECT_EQ(text_of(0), u"\x81\x67x\x81\x68");
    EXPECT_EQ(run_texts(0), (Texts{u"\u201Cx\u201D"}));

    messages.queue_answer(Answer::Ok);
    EXPECT_EQ(convert_to_unicode(script, messages), ToolOutcome::Changed);
    EXPECT_EQ(text_of(0), u"\u201Cx\u201D");
    EXPECT_EQ(text_of(1), u"Привет");
    EXPECT_EQ(run_texts(1), (Texts{u"Привет"}));
}

// --- Unicode conversion --------------------------------------------------------------------------

// A UTF-8 script is Unicode already. A script converted from 8-bit is saved as UTF-16, even when
// the same file was UTF-8 when it was read before (reading again keeps the settings).
TEST_F(ScriptToolsTest, ConvertToUnicodeLeavesUtf8AloneAndWritesUtf16) {
    std::string utf8 = script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,Tom\xC3\xA9"));
    utf8.replace(utf8.find("5\x80"), 2, "5\xE2\x82\xAC");
    load(utf8);
    EXPECT_EQ(convert_to_unicode(script, messages), ToolOutcome::Unchanged);
    EXPECT_TRUE(messages.messages().empty());  // nothing asked
    EXPECT_EQ(script.settings.unicode_file, UnicodeFile::Utf8);

    ASSERT_TRUE(read_script_bytes(
        script, script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,Tom\xE9")), u"", {},
        messages));
    EXPECT_FALSE(script.settings.unicode);
    messages.queue_answer(Answer::Ok);
    EXPECT_EQ(convert_to_unicode(script, messages), ToolOutcome::Changed);
    const auto saved = serialize_script(script, messages);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->substr(0, 2), "\xFF\xFE");
    EXPECT_NE(saved->find(std::string("T\0o\0m\0\xE9\0\r\0\n\0", 12)), std::string::npos);
}

TEST_F(ScriptToolsTest, ConvertToUnicodeDecodesEveryStoredText) {
    // cp1252: 0x92 is U+2019, 0x80 is U+20AC, 0xE9 is U+00E9; \fe204 runs are cp1251.
    load(script_text(
        dialogue("0:00:01.00,0:00:02.00,Euro\x80,Jos\xE9,0,0,0,,It\x92s  {\\pos(1,2)}ok\\n"
                 "{\\fe204}\xCF\xF0\xE8\xE2\xE5\xF2 {#blink50}") +
            dialogue("0:00:03.00,0:00:04.00,Default,,0,0,0,,{\\fe3}bad {\\r}fine"),
        "Style: Euro\x80,Arial,20,255,0,0,0,0,0,1,2,0,2,10,10,10,0,0\n"));
    ASSERT_EQ(script.events().size(), 4u);  // three flashes and the second line
    const Texts before = run_texts(0);

    EXPECT_EQ(convert_to_unicode(script, messages), ToolOutcome::Cancelled);
    EXPECT_FALSE(script.settings.unicode);

    messages.queue_answer(Answer::Ok);
    EXPECT_EQ(convert_to_unicode(script, messages), ToolOutcome::Changed);
    EXPECT_TRUE(script.settings.unicode);
    EXPECT_TRUE(script.settings.modified);
    EXPECT_EQ(base::utf16_to_utf8(script.events()[0]->line->text),
              "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Euro€,José,0,0,0,,It’s  {\\pos(1,2)}ok\\n"
              "{\\fe204}Привет {#blink50}");
    // Tags, spacing and the blink survive; the runs read as before.
    EXPECT_EQ(run_texts(0), before);
    EXPECT_EQ(script.events().size(), 4u);
    EXPECT_EQ(script.events()[2]->blink_head, script.events()[0].get());
    const Style* euro = script.find_style(u"Euro€");
    ASSERT_NE(euro, nullptr);
    EXPECT_EQ(script.events()[0]->bound_style, euro);
    EXPECT_EQ(base::utf16_to_utf8(euro->line->text),
              "Style: Euro€,Arial,20,255,0,0,0,0,0,1,2,0,2,10,10,10,0,0");
    EXPECT_NE(
        std::find(script.settings.style_order.begin(), script.settings.style_order.end(), u"Euro€"),
        script.settings.style_order.end());
    EXPECT_EQ(script.lines()[1]->text, u"Title: 5€");
    // An unknown character set could not be decoded: its word reads "Error", as it showed.
    EXPECT_EQ(text_of(3), u"{\\fe3}Error {\\r}fine");
    EXPECT_EQ(messages.texts().back(),
              "1 dialogue lines held words their character set cannot decode; those words now "
              "read \"Error\".");

    messages.clear();
    EXPECT_EQ(convert_to_unicode(script, messages), ToolOutcome::Unchanged);
    EXPECT_TRUE(messages.messages().empty());

    reload();
    EXPECT_TRUE(script.settings.unicode);
    EXPECT_EQ(run_texts(0), before);
    EXPECT_EQ(script.events()[0]->bound_style, script.find_style(u"Euro€"));
}

}  // namespace
}  // namespace tessara::script
