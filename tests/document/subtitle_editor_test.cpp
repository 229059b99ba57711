#include "document/subtitle_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "document/dialogs.h"
#include "document/document.h"
#include "script/script.h"
#include "test_support.h"

// The subtitle editor driven as its window drives it, over a preview build of the demo script
// (25 frames a second in and out, StopIsNext off).
namespace tessara::document {
namespace {

using base::RecordingMessages;
using Texts = std::vector<std::string>;

TEST(SubtitleEditor, OverrideBlocksNeverLandInsideAnotherBlock) {
    const std::u16string text = u"ab{\\i1}cd";
    // Outside a block, at either end and just before a '{', the caret is the place.
    EXPECT_EQ(override_insertion_point(text, 0), 0u);
    EXPECT_EQ(override_insertion_point(text, 2), 2u);
    EXPECT_EQ(override_insertion_point(text, 7), 7u);  // just after the '}'
    EXPECT_EQ(override_insertion_point(text, text.size()), text.size());
    EXPECT_EQ(override_insertion_point(text, 99), text.size());
    // Inside, from just after '{' to just before '}', it moves past the block.
    EXPECT_EQ(override_insertion_point(text, 3), 7u);
    EXPECT_EQ(override_insertion_point(text, 6), 7u);
    // An unclosed block runs to the end.
    EXPECT_EQ(override_insertion_point(u"a{\\b1 x", 3), 7u);

    TextInsertion done = insert_override(text, 4, u"b1");
    EXPECT_EQ(done.text, u"ab{\\i1}{\\b1}cd");
    EXPECT_EQ(done.caret, 12u);
    done = insert_override(text, 0, u"a10");
    EXPECT_EQ(done.text, u"{\\a10}ab{\\i1}cd");
    EXPECT_EQ(done.caret, 6u);
    // Plain text goes where the caret is.
    done = insert_plain(text, 9, u"\u201D");
    EXPECT_EQ(done.text, u"ab{\\i1}cd\u201D");
    EXPECT_EQ(done.caret, 10u);
    // The sample draws the typed breaks as forced ones.
    EXPECT_EQ(sample_text(u"a\r\nb\nc"), u"a\\Nb\\Nc");
}

TEST(SubtitleEditor, PickerBlocksSpellColourAndFont) {
    // Red in the low byte, no leading zeros.
    EXPECT_EQ(colour_tag(0x00FFFF), u"c&HFFFF&");
    EXPECT_EQ(colour_tag(0xFF0000), u"c&HFF0000&");
    EXPECT_EQ(colour_tag(0x0000FF), u"c&HFF&");

    PickedFont font{u"Georgia", 26, 599, true, 0};
    EXPECT_EQ(font_tag(font, 0), u"fnGeorgia\\b0\\i1\\fs26");
    font.weight = 600;
    font.italic = false;
    font.charset = 128;
    EXPECT_EQ(font_tag(font, 0), u"fnGeorgia\\fe128\\b1\\i0\\fs26");
    EXPECT_EQ(font_tag(font, 128), u"fnGeorgia\\b1\\i0\\fs26");
    EXPECT_EQ(insert_override(u"x", 1, font_tag(font, 128)).text, u"x{\\fnGeorgia\\b1\\i0\\fs26}");
}

TEST(SubtitleEditor, DisplayTimeIsRoundedMillisecondsAtTheOutputRate) {
    using script::FrameTime;
    auto at = [](int32_t frame) { return FrameTime{frame, 0, false}; };
    EXPECT_EQ(display_millis(at(0), at(25), 25000), 1000);
    EXPECT_EQ(display_millis(at(10), at(35), 29970), 834);  // 834.17
    EXPECT_EQ(display_millis(at(0), at(1), 24000), 42);     // 41.67
    EXPECT_EQ(display_millis(at(5), at(5), 25000), 0);
    EXPECT_EQ(display_millis(at(6), at(5), 25000), 0);
    EXPECT_EQ(display_millis(at(0), at(5), 0), 0);
}

class SubtitleEditing : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(
            doc.open(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa", nullptr, messages));
        ASSERT_NE(doc.build_preview(nullptr, messages), nullptr);
        messages.clear();
    }
    const timeline::TimedSubtitle& subtitle(int32_t index) const {
        return doc.last_build()->timeline.subtitles().at(static_cast<size_t>(index));
    }
    std::u16string line(int32_t index) const {
        const script::DialogueEvent* ev = subtitle(index).event;
        return (ev->blink_head != nullptr ? ev->blink_head : ev)->line->text;
    }
    SubtitleEditResult apply(int32_t index, const SubtitleEdit& edit) {
        messages.clear();
        return apply_subtitle_edit(doc, index, edit, shown, messages);
    }

    Document doc;
    RecordingMessages messages;  // outlives the builds, which keep it
    int32_t shown = 0;
};

TEST_F(SubtitleEditing, FieldsShowTheLineAndTheOutputFramesAndReadBackTheSame) {
    const auto edit = load_subtitle_edit(doc, 2);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->line_head,
              u"Dialogue: Marked=0,0:00:07.20,0:00:10.40,*Default,ELIAS,0000,0000,0000,,");
    EXPECT_EQ(edit->style_name, u"Default");
    EXPECT_EQ(edit->text, u"Ships still pass at night,\neven if nobody writes to us anymore.");
    EXPECT_EQ(edit->start, u"00:00:07:05");
    EXPECT_EQ(edit->stop, u"00:00:10:09");  // the last visible frame
    EXPECT_FALSE(edit->absolute_in || edit->absolute_out);
    EXPECT_EQ(read_edit_start(doc, edit->start)->frame, subtitle(2).start.frame);
    EXPECT_EQ(read_edit_stop(doc, edit->stop)->frame, subtitle(2).stop.frame);
    EXPECT_FALSE(load_subtitle_edit(doc, 99));

    // OK on what is shown changes nothing.
    EXPECT_EQ(apply(2, *edit), SubtitleEditResult::Unchanged);
    EXPECT_FALSE(doc.modified());

    // Readability: one frame when start and stop name the same frame; with StopIsNext the stop
    // is the first frame not shown, so the same label shows nothing.
    SubtitleEdit same = *edit;
    same.stop = same.start;
    EXPECT_EQ(readability_millis(doc, same), 40);
    EXPECT_EQ(readability_millis(doc, *edit), 3200);
    doc.script().settings.stop_is_next = true;
    EXPECT_EQ(readability_millis(doc, same), 0);
    same.stop = u" ";
    EXPECT_FALSE(readability_millis(doc, same));
    same.stop = u"0:00:10.40";  // not an output timecode
    EXPECT_FALSE(readability_millis(doc, same));
}

TEST_F(SubtitleEditing, OkChecksTextThenStartThenStop) {
    SubtitleEdit edit = *load_subtitle_edit(doc, 1);
    const std::u16string before = line(1);
    edit.text = u" \n\u00A0 ";
    edit.start = u"garbage";
    edit.stop = u"";
    EXPECT_EQ(apply(1, edit), SubtitleEditResult::Refused);
    EXPECT_EQ(messages.texts(), Texts{kEmptyDialogText});
    edit.text = u"x";
    EXPECT_EQ(apply(1, edit), SubtitleEditResult::Refused);
    EXPECT_EQ(messages.texts(), Texts{kInvalidStartText});
    edit.start = u"00:00:05:00";
    EXPECT_EQ(apply(1, edit), SubtitleEditResult::Refused);
    EXPECT_EQ(messages.texts(), Texts{kInvalidStopText});
    edit.stop = u"00:00:06:25";  // no such frame at 25 frames a second
    EXPECT_EQ(apply(1, edit), SubtitleEditResult::Refused);
    EXPECT_EQ(messages.texts(), Texts{kInvalidStopText});
    edit.stop = u"00:00:04:24";  // before the start
    EXPECT_EQ(apply(1, edit), SubtitleEditResult::Refused);
    EXPECT_EQ(messages.texts(), Texts{kInvalidStopText});
    EXPECT_EQ(line(1), before);
    EXPECT_FALSE(doc.modified());
}

TEST_F(SubtitleEditing, TextStyleAndTimesGoIntoTheLineAndTheTimeline) {
    SubtitleEdit edit = *load_subtitle_edit(doc, 1);
    edit.text = u"First line\nsecond {\\i1}line";
    edit.style_name = u"Thoughts";
    edit.start = u"00:00:05:00";
    edit.stop = u"00:00:08:00";  // the last visible frame: the line ends at frame 201
    shown = 0;
    ASSERT_EQ(apply(1, edit), SubtitleEditResult::Changed);
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(line(1),
              u"Dialogue: Marked=0,0:00:05.00,0:00:08.04,Thoughts,MARTHA,0000,0000,0000,,"
              u"First line\\Nsecond {\\i1}line");
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(subtitle(1).start.frame, 125);
    EXPECT_EQ(subtitle(1).stop.frame, 201);
    // The shown subpicture follows the subtitle, and it is drawn.
    const auto& sp = *doc.last_build()->timeline.subpictures().at(static_cast<size_t>(shown));
    ASSERT_FALSE(sp.members.empty());
    EXPECT_EQ(sp.members.front().index, 1);
    EXPECT_TRUE(sp.members.front().rendered);

    // What was saved reads back with the same fields.
    test::TempDir dir;
    ASSERT_TRUE(doc.save_as(dir.file("edited.ssa").string(), messages));
    Document back;
    ASSERT_TRUE(back.open(dir.file("edited.ssa").string(), nullptr, messages));
    ASSERT_NE(back.build_preview(nullptr, messages), nullptr);
    const auto reread = load_subtitle_edit(back, 1);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->text, edit.text);
    EXPECT_EQ(reread->style_name, edit.style_name);
    EXPECT_EQ(reread->start, edit.start);
    EXPECT_EQ(reread->stop, edit.stop);
}

TEST_F(SubtitleEditing, TimesAreShownAndTakenBackAtTheOutputOffset) {
    TimingDialog timing = fill_timing_dialog(doc);
    timing.smpte_offset = u"01:00:00:00";
    ASSERT_TRUE(apply_timing_dialog(doc, timing, messages));
    ASSERT_NE(doc.build_preview(nullptr, messages), nullptr);
    SubtitleEdit edit = *load_subtitle_edit(doc, 1);
    EXPECT_EQ(edit.start, u"01:00:04:13");
    EXPECT_EQ(edit.stop, u"01:00:07:19");
    edit.start = u"01:00:05:00";
    ASSERT_EQ(apply(1, edit), SubtitleEditResult::Changed);
    EXPECT_EQ(line(1).substr(0, 41), u"Dialogue: Marked=0,0:00:05.00,0:00:07.80,");
    EXPECT_EQ(subtitle(1).start.frame, 90125);
}

TEST_F(SubtitleEditing, AbsoluteBoxesStoreOverridesAndLeaveTheLinesTimes) {
    SubtitleEdit edit = *load_subtitle_edit(doc, 1);
    const std::u16string before = line(1);
    edit.start = u"00:00:05:00";
    edit.stop = u"00:00:08:00";
    edit.absolute_in = true;
    edit.absolute_out = true;
    ASSERT_EQ(apply(1, edit), SubtitleEditResult::Changed);
    EXPECT_EQ(line(1), before);
    const script::DialogueEvent& ev = *subtitle(1).event;
    ASSERT_TRUE(ev.user_override);
    EXPECT_EQ(ev.user_override->absolute_in, (script::ScriptTime{500, true}));
    EXPECT_EQ(ev.user_override->absolute_out, (script::ScriptTime{800, true}));
    EXPECT_EQ(subtitle(1).start.frame, 125);
    EXPECT_EQ(subtitle(1).stop.frame, 201);
    EXPECT_TRUE(doc.modified());

    // The fields show the overrides; unchecking writes them into the line instead.
    SubtitleEdit again = *load_subtitle_edit(doc, 1);
    EXPECT_TRUE(again.absolute_in && again.absolute_out);
    EXPECT_EQ(again.start, u"00:00:05:00");
    EXPECT_EQ(again.stop, u"00:00:08:00");
    again.absolute_in = false;
    ASSERT_EQ(apply(1, again), SubtitleEditResult::Changed);
    EXPECT_EQ(line(1).substr(0, 42), u"Dialogue: Marked=0,0:00:05.00,0:00:07.80,*");
    ASSERT_TRUE(ev.user_override);
    EXPECT_FALSE(ev.user_override->absolute_in);
    EXPECT_EQ(ev.user_override->absolute_out, (script::ScriptTime{800, true}));
    again.absolute_out = false;
    ASSERT_EQ(apply(1, again), SubtitleEditResult::Changed);
    EXPECT_FALSE(ev.user_override);
    EXPECT_EQ(line(1).substr(0, 42), u"Dialogue: Marked=0,0:00:05.00,0:00:08.04,*");
}

TEST_F(SubtitleEditing, TheShownSubpictureStaysOneThereIsWhenTheSubtitleDrawsNothing) {
    const auto& sps = doc.last_build()->timeline.subpictures();
    shown = static_cast<int32_t>(sps.size()) - 2;  // the last subtitle, alone
    ASSERT_EQ(sps[static_cast<size_t>(shown)]->members.front().index, 11);
    SubtitleEdit edit = *load_subtitle_edit(doc, 11);
    edit.text = u"{\\b1}";
    ASSERT_EQ(apply(11, edit), SubtitleEditResult::Changed);
    EXPECT_GE(shown, 0);
    EXPECT_LT(shown, static_cast<int32_t>(sps.size()));
}

TEST_F(SubtitleEditing, ABlinkingLineIsEditedWholeAndTheBuildMadeAgain) {
    // "{#blink50}STORM WARNING" from 21.50 to 23.00: four copies, timeline entries 7 to 10.
    SubtitleEdit edit = *load_subtitle_edit(doc, 8);
    EXPECT_EQ(edit.text, u"{#blink50}STORM WARNING");
    EXPECT_EQ(edit.start, u"00:00:21:13");
    EXPECT_EQ(edit.stop, u"00:00:22:24");
    const size_t before = doc.last_build()->timeline.size();

    // Blinking with absolute times would not load again: refused, nothing changed.
    SubtitleEdit absolute = edit;
    absolute.absolute_in = true;
    EXPECT_EQ(apply(8, absolute), SubtitleEditResult::Refused);
    EXPECT_EQ(messages.texts(), Texts{kSubtitleUpdateFailedText});
    EXPECT_FALSE(doc.modified());

    // It stops blinking: its copies are gone, and so are the build's entries for them.
    edit.text = u"STORM WARNING";
    ASSERT_EQ(apply(8, edit), SubtitleEditResult::Changed);
    EXPECT_EQ(doc.last_build()->timeline.size(), before - 3);
    EXPECT_EQ(line(7),
              u"Dialogue: Marked=0,0:00:21.50,0:00:23.00,*Sign,,0000,0000,0000,,"
              u"STORM WARNING");
    ASSERT_GE(shown, 0);
    EXPECT_EQ(
        doc.last_build()->timeline.subpictures()[static_cast<size_t>(shown)]->members.front().index,
        7);
}

}  // namespace
}  // namespace tessara::document
