#include "document/preview.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/messages.h"
#include "document/document.h"
#include "document/preview_dialogs.h"
#include "document/subtitle_editor.h"
#include "script/script.h"
#include "test_support.h"

namespace tessara::document {
namespace {

namespace fs = std::filesystem;

std::string demo() {
    return std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa";
}

TEST(PreviewRules, OpeningNeedsAFrameUpTo720x576AndSubtitles) {
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    ASSERT_FALSE(doc.apply_settings({{"ResX", "720"}, {"ResY", "480"}}, messages));
    EXPECT_EQ(preview_opening(doc, false, messages), PreviewOpening::Rebuild);
    ASSERT_TRUE(build_for_preview(doc, nullptr, messages));
    EXPECT_EQ(preview_opening(doc, false, messages), PreviewOpening::Reuse);
    EXPECT_EQ(preview_opening(doc, true, messages), PreviewOpening::Rebuild);  // Shift held
    // Display settings do not call for a new build; the frame rate does.
    doc.script().settings.show_guides = false;
    doc.script().settings.guides = {100};
    EXPECT_EQ(preview_opening(doc, false, messages), PreviewOpening::Reuse);
    ASSERT_FALSE(doc.apply_settings({{"FPSout", "29.97"}}, messages));
    EXPECT_EQ(preview_opening(doc, false, messages), PreviewOpening::Rebuild);
    EXPECT_TRUE(messages.texts().empty());

    ASSERT_FALSE(doc.apply_settings({{"ResX", "704"}, {"ResY", "578"}}, messages));
    EXPECT_EQ(preview_opening(doc, false, messages), PreviewOpening::Refused);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kPreviewTooLargeText});
}

// Guides 100 and 106, snapping the left edge: 103 is 3 from both and the first found wins; 110
// snaps to 106; 113 is 7 away and stays.
TEST(PreviewRules, SnappingTakesTheStrictlyClosestGuideBelowSevenPixels) {
    Guides guides;
    guides.vertical = {100, 106};
    auto snapped_x = [&](int32_t x) {
        return snap_box({x, 50, 40, 20}, guides, SnapEdge::Low, SnapEdge::None).x;
    };
    EXPECT_EQ(snapped_x(103), 100);
    EXPECT_EQ(snapped_x(110), 106);
    EXPECT_EQ(snapped_x(113), 113);
    // The right edge is x + width - 1, the middle x + width / 2.
    EXPECT_EQ(snap_box({70, 0, 40, 20}, guides, SnapEdge::High, SnapEdge::None).x, 67);
    EXPECT_EQ(snap_box({82, 0, 41, 20}, guides, SnapEdge::Middle, SnapEdge::None).x, 80);
    guides.horizontal = {300};
    EXPECT_EQ(snap_box({0, 279, 10, 20}, guides, SnapEdge::None, SnapEdge::High).y, 281);

    // The settings keep both kinds in one list, vertical ones with the top bit set.
    const std::vector<int32_t> stored = guides.to_settings();
    EXPECT_EQ(stored[0], static_cast<int32_t>(0x80000064u));
    const Guides back = Guides::from_settings(stored);
    EXPECT_EQ(back.vertical, guides.vertical);
    EXPECT_EQ(back.horizontal, guides.horizontal);
    std::vector<int32_t> list = {5, 9};
    toggle_guide(list, 9);
    toggle_guide(list, 12);
    EXPECT_EQ(list, (std::vector<int32_t>{5, 12}));
}

TEST(PreviewRules, DragLockDropAnchorsAndJog) {
    const Box start{200, 300, 120, 40};
    EXPECT_EQ(dragged_box(start, 10, 10, 40, 20, true), (Box{230, 300, 120, 40}));
    EXPECT_EQ(dragged_box(start, 10, 10, 40, 20, false), (Box{230, 310, 120, 40}));
    EXPECT_EQ(dragged_box(start, 10, 10, 15, 60, true), (Box{200, 350, 120, 40}));

    EXPECT_FALSE(drop_accepted({-120, 300, 120, 40}, 720, 574));  // entirely left of the frame
    EXPECT_TRUE(drop_accepted({-119, 300, 120, 40}, 720, 574));
    EXPECT_FALSE(drop_accepted({720, 0, 10, 10}, 720, 574));
    EXPECT_FALSE(drop_accepted({0, 574, 10, 10}, 720, 574));

    // A third of 100 is 33: 0-32 low, 33-65 middle, 66 on high.
    EXPECT_EQ(anchor_third(32, 100), 0);
    EXPECT_EQ(anchor_third(33, 100), 1);
    EXPECT_EQ(anchor_third(66, 100), 2);

    EXPECT_EQ(jog_frame(100, 11, 0, 500), 100);
    EXPECT_EQ(jog_frame(100, 1, 0, 500), 90);
    EXPECT_EQ(jog_frame(5, 1, 0, 500), 0);
    EXPECT_EQ(jog_frame(495, 21, 0, 500), 500);
    EXPECT_EQ(slider_page_step(0, 2000), 100);
}

// The background dialog checks the crop lines, then the movie's first frame; the display is
// written back only when something changed, with the unchosen file dropped.
TEST(PreviewRules, BackgroundAndGuideFieldsAreCheckedAndWrittenBack) {
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    PreviewDisplay display = PreviewDisplay::from(doc.script().settings.values());
    display.write_back(doc);
    EXPECT_FALSE(doc.modified());

    BackgroundFields fields = BackgroundFields::from(display);
    fields.kind = BackgroundKind::Picture;
    fields.picture = u"/films/still.png";
    fields.movie = u"/films/reel1.mpg";
    fields.crop_above = u"601";
    fields.offset = u"junk";
    EXPECT_FALSE(apply_background(fields, display, messages));
    fields.crop_above = u"72";
    EXPECT_FALSE(apply_background(fields, display, messages));
    fields.offset = u"01:00:00:00";
    EXPECT_TRUE(apply_background(fields, display, messages));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kCropRangeText, "Invalid SMPTE value"}));

    EXPECT_FALSE(add_typed_guide(display.guides.vertical, u"720", 720, messages));
    EXPECT_TRUE(add_typed_guide(display.guides.vertical, u" 360", 720, messages));
    display.write_back(doc);
    EXPECT_TRUE(doc.modified());
    const auto& s = doc.script().settings;
    EXPECT_EQ(s.back_picture, u"/films/still.png");
    EXPECT_TRUE(s.back_movie.empty());
    EXPECT_EQ(s.crop_above, 72);
    EXPECT_EQ(s.guides, std::vector<int32_t>{static_cast<int32_t>(360u | kVerticalGuideBit)});
    EXPECT_EQ(PreviewDisplay::from(s.values()).background, BackgroundKind::Picture);
}

// A drag writes the manual position into the script: saved and loaded again, the subtitle is
// drawn where it was dropped; undo and Restore bring it back, and the automatic position can
// be taken again.
TEST(PreviewSession, AMoveIsWrittenBackAndSurvivesSavingAndUndo) {
    test::TempDir dir;
    fs::copy_file(demo(), dir.file("film.ssa"));
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(dir.file("film.ssa").string(), nullptr, messages));
    ASSERT_TRUE(build_for_preview(doc, nullptr, messages));
    PreviewSession session(doc);
    ASSERT_TRUE(session.next());
    const std::vector<Box> before = session.boxes();
    ASSERT_FALSE(before.empty());
    const int32_t member = session.member_at(before[0].x + 1, before[0].y + 1);
    ASSERT_GE(member, 0);
    session.select(member);
    EXPECT_FALSE(session.selected_has_moved());

    Box moved = before[static_cast<size_t>(member)];
    moved.x -= 50;
    moved.y -= 120;
    ASSERT_TRUE(session.move_selected(moved, messages));
    EXPECT_EQ(session.boxes()[static_cast<size_t>(member)], moved);
    EXPECT_TRUE(session.selected_is_manual());
    EXPECT_TRUE(session.selected_has_moved());
    EXPECT_TRUE(doc.modified());
    // A drop outside the frame is refused and changes nothing.
    EXPECT_FALSE(
        session.move_selected({-moved.width, moved.y, moved.width, moved.height}, messages));

    // Anchored at the right edge the box stays where it is.
    ASSERT_TRUE(session.set_selected_anchors(2, 2, messages));
    EXPECT_EQ(session.boxes()[static_cast<size_t>(member)], moved);

    ASSERT_TRUE(doc.save_as(dir.file("moved.ssa").string(), messages));
    Document again;
    ASSERT_TRUE(again.open(dir.file("moved.ssa").string(), nullptr, messages));
    ASSERT_TRUE(build_for_preview(again, nullptr, messages));
    PreviewSession reloaded(again);
    reloaded.show_frame(session.frame());
    EXPECT_EQ(reloaded.boxes(), session.boxes());

    ASSERT_TRUE(session.undo(messages));  // the anchors
    ASSERT_TRUE(session.undo(messages));  // the move
    EXPECT_EQ(session.boxes(), before);
    ASSERT_TRUE(session.redo(messages));
    EXPECT_EQ(session.boxes()[static_cast<size_t>(member)], moved);
    ASSERT_TRUE(session.restore_selected(messages));
    EXPECT_EQ(session.boxes(), before);
    EXPECT_FALSE(session.selected_is_manual());
    EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();
}

TEST(PreviewSession, DeletingAsksAndRemovesTheEvent) {
    Document doc;
    base::RecordingMessages messages;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    ASSERT_TRUE(build_for_preview(doc, nullptr, messages));
    PreviewSession session(doc);
    const size_t events = doc.script().events().size();
    session.select(0);
    EXPECT_FALSE(session.delete_selected(messages));  // answered No
    EXPECT_EQ(doc.script().events().size(), events);
    messages.queue_answer(base::Answer::Yes);
    ASSERT_TRUE(session.delete_selected(messages));
    EXPECT_EQ(doc.script().events().size(), events - 1);
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{kDeleteSubtitleText, kDeleteSubtitleText}));
    EXPECT_EQ(session.selected(), -1);
    EXPECT_FALSE(session.subpicture().members.empty());

    // A delete and an edit go back with the whole script, and come again.
    const std::u16string first_text = doc.script().events()[0]->plain_text;
    session.select(0);
    const int32_t subtitle = session.selected_subtitle();
    auto edit = load_subtitle_edit(doc, subtitle);
    ASSERT_TRUE(edit);
    edit->text = u"Changed";
    int32_t shown = session.shown();
    session.begin_edit();
    ASSERT_EQ(apply_subtitle_edit(doc, subtitle, *edit, shown, messages),
              SubtitleEditResult::Changed);
    session.end_edit(true, shown);
    EXPECT_EQ(doc.script().events()[0]->plain_text, u"Changed");
    ASSERT_TRUE(session.undo(messages));
    EXPECT_EQ(doc.script().events()[0]->plain_text, first_text);
    ASSERT_TRUE(session.undo(messages));
    EXPECT_EQ(doc.script().events().size(), events);
    ASSERT_TRUE(session.redo(messages));
    ASSERT_TRUE(session.redo(messages));
    EXPECT_EQ(doc.script().events().size(), events - 1);
    EXPECT_EQ(doc.script().events()[0]->plain_text, u"Changed");
    EXPECT_FALSE(session.can_redo());
    EXPECT_TRUE(doc.modified());
}

}  // namespace
}  // namespace tessara::document
