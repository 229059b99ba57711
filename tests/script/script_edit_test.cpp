#include "script/script_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"
#include "test_support.h"

namespace tessara::script {
namespace {

constexpr std::string_view kStyleFormat =
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
    "BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    "MarginV, AlphaLevel, Encoding\n";

std::string script_text(std::string_view events, std::string_view styles = "") {
    std::string s = "[Script Info]\nScriptType: v4.00\n\n[V4 Styles]\n";
    s += kStyleFormat;
    s += "Style: Default,Arial,20,16777215,65535,65535,0,0,0,1,2,0,2,10,10,10,0,0\n";
    s += styles;
    s += "\n[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
         "Effect, Text\n";
    s += events;
    return s;
}

std::string dialogue(std::string_view fields) {
    return "Dialogue: Marked=0," + std::string(fields) + "\n";
}

std::string utf8(std::u16string_view s) {
    return base::utf16_to_utf8(s);
}

class ScriptEditTest : public ::testing::Test {
  protected:
    void load(std::string_view bytes) {
        script.reset(true);
        ASSERT_TRUE(read_script_bytes(script, bytes, u"", {}, messages));
        script.settings.modified = false;
        script.settings.rebuild_needed = false;
    }
    DialogueEvent& event(size_t i) { return *script.events().at(i); }
    // "start-end" of every event, in hundredths.
    std::string times() const {
        std::string out;
        for (const auto& ev : script.events()) {
            out += (out.empty() ? "" : " ") + std::to_string(ev->start.value) + "-" +
                   std::to_string(ev->end.value);
        }
        return out;
    }
    std::vector<std::u16string> run_texts(const DialogueEvent& ev) const {
        std::vector<std::u16string> out;
        for (const auto& r : ev.runs) {
            out.push_back(r.text);
        }
        return out;
    }
    // Saves and loads the script again, as the next session would see it.
    void reload() {
        std::optional<std::string> bytes = serialize_script(script, messages);
        ASSERT_TRUE(bytes.has_value());
        load(*bytes);
    }

    Script script;
    base::RecordingMessages messages;
};

using Texts = std::vector<std::u16string>;

// --- times and style ---------------------------------------------------------------------------

TEST_F(ScriptEditTest, RewriteTimesKeepsEverythingElseOfTheLine) {
    load(script_text(
        dialogue(" 0:00:01.00, 00:00:02.00,*Default,Bob,0000,0000,0000,,Hello, world")));
    DialogueEvent& ev = event(0);
    const int32_t counter = ev.change_counter;
    ASSERT_TRUE(rewrite_event_times(script, ev, {6150, false}, {360000, false}));
    EXPECT_EQ(utf8(ev.line->text),
              "Dialogue: Marked=0,0:01:01.50,1:00:00.00,*Default,Bob,0000,0000,0000,,Hello, world");
    EXPECT_EQ(times(), "6150-360000");
    EXPECT_EQ(ev.change_counter, counter + 1);
    EXPECT_EQ(ev.plain_text, u"Hello, world");
    EXPECT_TRUE(script.settings.modified);
    EXPECT_TRUE(script.settings.rebuild_needed);

    // Times the reader would not take back leave the line alone.
    const std::u16string before = ev.line->text;
    EXPECT_FALSE(rewrite_event_times(script, ev, {200, false}, {200, false}));
    EXPECT_FALSE(rewrite_event_times(script, ev, {300, false}, {200, false}));
    EXPECT_FALSE(rewrite_event_times(script, ev, {100, true}, {200, false}));
    EXPECT_FALSE(rewrite_event_times(script, ev, {100, false}, {36000000, false}));
    EXPECT_EQ(ev.line->text, before);
    EXPECT_EQ(times(), "6150-360000");
}

TEST_F(ScriptEditTest, RewriteStyleRebindsAndRecolours) {
    load(script_text(dialogue("0:00:01.00,0:00:02.00,Default,Bob,0,0,0,,{\\b1}Hi there"),
                     "Style: Red,Arial,20,255,0,0,0,0,0,1,2,0,2,10,10,10,0,0\n"));
    DialogueEvent& ev = event(0);
    ASSERT_TRUE(rewrite_event_style(script, ev, u"*Red"));
    EXPECT_EQ(utf8(ev.line->text),
              "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Red,Bob,0,0,0,,{\\b1}Hi there");
    EXPECT_EQ(ev.style_name, u"Red");
    EXPECT_EQ(ev.bound_style, script.find_style(u"Red"));
    for (const auto& run : ev.runs) {
        EXPECT_EQ(run.text_colour, 0xFFu);
    }
    // An unknown name binds the default style; a name that would shift the fields is refused.
    ASSERT_TRUE(rewrite_event_style(script, ev, u"Missing"));
    EXPECT_EQ(ev.bound_style, &script.default_style());
    EXPECT_FALSE(rewrite_event_style(script, ev, u"A,B"));
    EXPECT_EQ(ev.actor, u"Bob");
}

// --- text ----------------------------------------------------------------------------------------

TEST_F(ScriptEditTest, RewriteTextInUnicodeScriptDerivesTheEventAgain) {
    load(test::utf16le_with_bom(
        script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\a5}{#absolute}Old"))));
    DialogueEvent& ev = event(0);
    ASSERT_TRUE(ev.absolute);
    ASSERT_TRUE(ev.margin_override.has_value());

    ASSERT_TRUE(rewrite_event_text(script, ev, u"{\\b1}Ωmega  new\r\nline", TextInput::Typed));
    EXPECT_EQ(utf8(ev.line->text),
              "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\b1}Ωmega  new\\Nline");
    EXPECT_EQ(run_texts(ev), (Texts{u"Ωmega", u"new", u"line"}));
    EXPECT_EQ(ev.plain_text, u"Ωmega new\nline");
    EXPECT_FALSE(ev.absolute);
    // The old text's \a no longer applies.
    EXPECT_FALSE(ev.margin_override.has_value());
}

TEST_F(ScriptEditTest, TypedTextInAnsiScriptIsStoredEncodedPerRun) {
    load(script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,Old")));
    DialogueEvent& ev = event(0);

    // cp1252 for runs without \fe, cp1251 after \fe204; tags and spacing stay as typed.
    ASSERT_TRUE(rewrite_event_text(script, ev, u"It\u2019s {\\pos(1,2)}{\\fe204}Привет  да",
                                   TextInput::Typed));
    const size_t text_at = text_field_start(ev.line->text);
    EXPECT_EQ(ev.line->text.substr(text_at),
              u"It\x92s {\\pos(1,2)}{\\fe204}\xCF\xF0\xE8\xE2\xE5\xF2  \xE4\xE0");
    EXPECT_EQ(run_texts(ev), (Texts{u"It\u2019s", u"Привет", u"да"}));

    // A word its code page cannot hold is stored as "Error", like an undecodable run is shown.
    ASSERT_TRUE(rewrite_event_text(script, ev, u"Hello Ωmega", TextInput::Typed));
    EXPECT_EQ(ev.line->text.substr(text_at), u"Hello Error");
    EXPECT_EQ(run_texts(ev), (Texts{u"Hello", u"Error"}));

    // A double-byte character whose second byte is '\' is escaped so that the scanner does not
    // take it for a tag: "ソN" in code page 932 is 83 5C 4E.
    ASSERT_TRUE(rewrite_event_text(script, ev, u"{\\fe128}ソN", TextInput::Typed));
    EXPECT_EQ(ev.line->text.substr(text_at), u"{\\fe128}\x83\\\\N");
    EXPECT_EQ(run_texts(ev), (Texts{u"ソN"}));

    // Stored text is taken as bytes; a character above 255 cannot be one.
    ASSERT_TRUE(rewrite_event_text(script, ev, u"caf\xE9", TextInput::Stored));
    EXPECT_EQ(run_texts(ev), (Texts{u"café"}));
    EXPECT_FALSE(rewrite_event_text(script, ev, u"Ω", TextInput::Stored));
    // A face name the system code page cannot hold cannot be stored either.
    EXPECT_FALSE(rewrite_event_text(script, ev, u"{\\fnΩ}x", TextInput::Typed));
    EXPECT_EQ(run_texts(ev), (Texts{u"café"}));
}

// In an 8-bit script a run is stored in the code page of its style's Encoding (without \fe):
// typed text is encoded with it, and another style decodes the kept bytes anew.
TEST_F(ScriptEditTest, EightBitTextFollowsTheCharacterSetOfTheEventsStyle) {
    load(script_text(dialogue("0:00:01.00,0:00:02.00,Cyr,,0,0,0,,Old"),
                     "Style: Cyr,Arial,20,255,0,0,0,0,0,1,2,0,2,10,10,10,0,204\n"));
    DialogueEvent& ev = event(0);
    const size_t text_at = text_field_start(ev.line->text);
    ASSERT_TRUE(rewrite_event_text(script, ev, u"Привет {\\fe0}café", TextInput::Typed));
    EXPECT_EQ(ev.line->text.substr(text_at), u"\xCF\xF0\xE8\xE2\xE5\xF2 {\\fe0}caf\xE9");
    EXPECT_EQ(run_texts(ev), (Texts{u"Привет", u"café"}));

    ASSERT_TRUE(rewrite_event_style(script, ev, u"Default"));
    EXPECT_EQ(run_texts(ev), (Texts{u"\u00CF\u00F0\u00E8\u00E2\u00E5\u00F2", u"café"}));
    ASSERT_TRUE(rewrite_event_style(script, ev, u"Cyr"));
    EXPECT_EQ(run_texts(ev), (Texts{u"Привет", u"café"}));
}

// --- blinking lines ------------------------------------------------------------------------------

TEST_F(ScriptEditTest, BlinkCopiesFollowTheLine) {
    load(script_text(dialogue("0:00:01.00,0:00:03.00,Default,,0,0,0,,{#blink50}Blink") +
                     dialogue("0:00:05.00,0:00:06.00,Default,,0,0,0,,After")));
    ASSERT_EQ(times(), "100-125 150-175 200-225 250-275 300-325 500-600");
    DialogueEvent* head = &event(0);
    DialogueEvent* second = &event(1);

    // Editing through any copy edits the line; the head and reused copies keep their identity.
    ASSERT_TRUE(rewrite_event_times(script, event(3), {100, false}, {200, false}));
    EXPECT_EQ(times(), "100-125 150-175 200-225 500-600");
    EXPECT_EQ(&event(0), head);
    EXPECT_EQ(&event(1), second);
    EXPECT_EQ(event(2).blink_head, head);
    EXPECT_EQ(event(2).line, nullptr);
    EXPECT_EQ(head->line->event, head);

    // More copies go right after the existing ones, not at the end of the list.
    ASSERT_TRUE(rewrite_event_times(script, *head, {100, false}, {250, false}));
    EXPECT_EQ(times(), "100-125 150-175 200-225 250-275 500-600");
    EXPECT_EQ(event(3).blink_head, head);

    // New text reaches every copy; without the blink tag only the head remains, whole.
    ASSERT_TRUE(rewrite_event_text(script, event(1), u"{#blink50}Changed", TextInput::Typed));
    EXPECT_EQ(event(3).plain_text, u"Changed");
    ASSERT_TRUE(rewrite_event_text(script, *head, u"Steady", TextInput::Typed));
    EXPECT_EQ(times(), "100-250 500-600");
    EXPECT_EQ(head->blink_period, 0);

    // A line with ABSOLUTEIN/ABSOLUTEOUT times cannot start blinking: the script would not load.
    head->user_override.emplace().absolute_in = ScriptTime{100, true};
    EXPECT_FALSE(rewrite_event_text(script, *head, u"{#blink50}Steady", TextInput::Typed));
    EXPECT_EQ(times(), "100-250 500-600");
    head->user_override.reset();
    ASSERT_TRUE(rewrite_event_text(script, *head, u"{#blink100}Steady", TextInput::Typed));
    EXPECT_EQ(times(), "100-150 200-250 500-600");

    reload();
    EXPECT_EQ(times(), "100-150 200-250 500-600");
}

// --- deleting and duplicating --------------------------------------------------------------------

TEST_F(ScriptEditTest, DeleteAndDuplicateSurviveSaving) {
    load(script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,One") +
                     dialogue("0:00:03.00,0:00:04.00,Default,,0,0,0,,Two") +
                     dialogue("0:00:05.00,0:00:06.00,Default,,0,0,0,,{#blink50}Three") +
                     "[Fonts]\n"));
    ASSERT_EQ(script.events().size(), 5u);
    event(0).user_override.emplace().pos_x = 12;

    ScriptLine* two_line = event(1).line;
    delete_event(script, 1);
    EXPECT_EQ(two_line->kind, LineKind::Deleted);
    EXPECT_TRUE(two_line->text.empty());
    EXPECT_EQ(two_line->event, nullptr);
    EXPECT_EQ(times(), "100-200 500-525 550-575 600-625");
    EXPECT_TRUE(script.settings.modified);

    DialogueEvent& dup = duplicate_event(script, 0);
    EXPECT_EQ(&dup, &event(4));
    EXPECT_EQ(dup.line, script.lines().back().get());
    EXPECT_EQ(dup.line->text, event(0).line->text);
    EXPECT_EQ(dup.line->event, &dup);
    ASSERT_TRUE(dup.user_override.has_value());
    EXPECT_EQ(dup.user_override->pos_x, 12);

    // Deleting any copy of a blinking line deletes the line with all its copies.
    delete_event(script, 2);
    EXPECT_EQ(times(), "100-200 100-200");

    reload();
    EXPECT_EQ(times(), "100-200 100-200");
    EXPECT_EQ(utf8(script.lines().back()->text),
              "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,One");
    ASSERT_TRUE(script.events()[1]->user_override.has_value());
    EXPECT_EQ(script.events()[1]->user_override->pos_x, 12);
    for (const auto& l : script.lines()) {
        EXPECT_EQ(l->text.find(u"Two"), std::u16string::npos);
        EXPECT_EQ(l->text.find(u"Three"), std::u16string::npos);
    }
}

TEST_F(ScriptEditTest, DuplicateOfBlinkingLineBlinksToo) {
    load(script_text(dialogue("0:00:01.00,0:00:02.00,Default,,0,0,0,,{#blink50}B")));
    DialogueEvent& dup = duplicate_event(script, 2);
    EXPECT_EQ(times(), "100-125 150-175 200-225 100-125 150-175 200-225");
    EXPECT_EQ(&dup, &event(3));
    EXPECT_EQ(event(5).blink_head, &dup);
    reload();
    EXPECT_EQ(times(), "100-125 150-175 200-225 100-125 150-175 200-225");
}

// --- style lines ---------------------------------------------------------------------------------

TEST_F(ScriptEditTest, StyleLineFollowsTheFormatLineColumns) {
    // Shuffled columns with one the program does not know and without AlphaLevel.
    const std::string text =
        "[V4 Styles]\n"
        "Format: Fontname, Name, Effect, Fontsize, Encoding, PrimaryColour, BackColour, Bold, "
        "Italic, Outline, Alignment, MarginL, MarginR, MarginV, SecondaryColour, TertiaryColour, "
        "BorderStyle, Shadow\n"
        "Style: Arial,*Main,keep,20,0,255,0,0,0,2,2,10,20,30,1,2,3,4\n"
        "[Events]\n";
    load(text);
    Style& style = *script.find_style(u"Main");
    EXPECT_EQ(utf8(style_line_text(script, style)),
              "Style: Arial,*Main,keep,20,0,255,0,0,0,2,2,10,20,30,1,2,3,4");

    style.bold = true;
    style.valign = VAlign::Top;
    style.halign = HAlign::Right;
    style.margin_top = 44;
    style.charset = 204;
    style.face = u"Times";
    ASSERT_TRUE(rebuild_style_line(script, style));
    EXPECT_EQ(utf8(style.line->text),
              "Style: Times,*Main,keep,20,204,255,0,-1,0,2,7,10,20,44,1,2,3,4");
    EXPECT_TRUE(script.settings.modified);

    // Middle alignment writes MarginV 0; the value reads back as the bottom margin.
    style.valign = VAlign::Middle;
    EXPECT_EQ(utf8(style_line_text(script, style)),
              "Style: Times,*Main,keep,20,204,255,0,-1,0,2,11,10,20,0,1,2,3,4");
}

TEST_F(ScriptEditTest, EmptyStyleColumnsDoNotShiftLaterOnes) {
    // No Format line: identity order. The line omits the text columns, which stay empty.
    load("[V4 Styles]\nStyle: Short,Arial,20\n[Events]\n");
    Style& style = *script.find_style(u"Short");
    style.italic = true;
    ASSERT_TRUE(rebuild_style_line(script, style));
    EXPECT_EQ(utf8(style.line->text),
              "Style: Short,Arial,20,16777215, , ,0,0,-1, ,2, ,2,30,30,30, ,0");

    // The rebuilt line reads back as the same style.
    load("[V4 Styles]\n" + utf8(style.line->text) + "\n[Events]\n");
    const Style& back = *script.find_style(u"Short");
    EXPECT_FALSE(back.bold);
    EXPECT_TRUE(back.italic);
    EXPECT_EQ(back.outline, 2);
    EXPECT_EQ(back.halign, HAlign::Centre);
    EXPECT_EQ(back.margin_bottom, 30);
    EXPECT_EQ(back.secondary, u"");
}

TEST_F(ScriptEditTest, NewStyleGetsALineAfterTheLastStyle) {
    load(script_text(""));
    auto added = std::make_unique<Style>();
    added->name = u"Added";
    Style& style = script.append_style(std::move(added));
    ASSERT_TRUE(rebuild_style_line(script, style));
    ASSERT_EQ(script.lines()[6].get(), style.line);  // right after the Default style line
    EXPECT_EQ(style.line->kind, LineKind::Style);
    EXPECT_EQ(style.line->style, &style);
}

}  // namespace
}  // namespace tessara::script
