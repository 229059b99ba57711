#include "document/dialogs.h"

#include <gtest/gtest.h>

#include <string>

#include "base/messages.h"
#include "base/preferences.h"
#include "base/text.h"
#include "document/document.h"
#include "test_support.h"
#include "timeline/separate_titles.h"

// The dialogs' rules driven as their windows drive them: fill, edit the fields, OK.
namespace tessara::document {
namespace {

using base::Answer;
using base::RecordingMessages;
using base::utf8_to_utf16;
using Texts = std::vector<std::string>;

class Dialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(
            doc.open(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa", nullptr, messages));
        messages.clear();
    }
    const script::ConversionSettings& settings() const { return doc.script().settings; }
    void set(std::vector<SettingText> values) {
        ASSERT_FALSE(doc.apply_settings(values, messages));
        doc.script().settings.modified = false;
        messages.clear();
    }

    Document doc;
    RecordingMessages messages;
    base::MemoryPreferences preferences;
};

TEST_F(Dialogs, TimingChecksRatesThenOffsetAndKeepsSegmentLabels) {
    const std::u16string source = doc.source_path();
    TimingDialog dialog = fill_timing_dialog(doc);
    EXPECT_EQ(dialog.fps_in, u"25");
    EXPECT_EQ(dialog.smpte_offset, u"");

    // Nothing changed: OK leaves the document unmodified.
    ASSERT_TRUE(apply_timing_dialog(doc, dialog, messages));
    EXPECT_FALSE(doc.modified());

    auto refused = [&](TimingDialog d) {
        messages.clear();
        EXPECT_FALSE(apply_timing_dialog(doc, d, messages));
        EXPECT_EQ(settings().timing.fps_out_text, u"25");
        return messages.texts();
    };
    TimingDialog bad = dialog;
    bad.fps_in.clear();
    bad.smpte_offset = u"nonsense";
    EXPECT_EQ(refused(bad), Texts{"Please enter the input frame rate"});
    bad = dialog;
    bad.fps_out = u"30x";
    bad.smpte_offset = u"nonsense";
    EXPECT_EQ(refused(bad), Texts{"FPS out is invalid"});
    for (const char16_t* offset : {u"nonsense", u"00:00:10.00", u"00:00:10"}) {
        bad = dialog;
        bad.smpte_offset = offset;
        EXPECT_EQ(refused(bad), Texts{kBadOffsetText});
    }
    EXPECT_FALSE(doc.modified());

    // A segment at two seconds stays at two seconds when the output rate changes.
    set({{"DVDSeg", "00:00:02:00/00:00:04:00"}});
    dialog.fps_out = u"30";
    dialog.smpte_offset = u" 00:00:10:00 ";
    ASSERT_TRUE(apply_timing_dialog(doc, dialog, messages));
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(settings().timing.rate_out, 30000);
    EXPECT_EQ(settings().dvd_segments.at(0).start.frame, 60);
    EXPECT_EQ(settings().dvd_segments.at(0).end->frame, 120);
    EXPECT_EQ(doc.source_path(), source);
    EXPECT_EQ(fill_timing_dialog(doc).smpte_offset, u"00:00:10:00");
}

TEST_F(Dialogs, TimingAsksBeforeReplacingOldSegments) {
    set({{"Segment", "0:00:00.00,0:00:10.00,*,*"}, {"Segment", "0:00:10.00,*,*,*"}});
    TimingDialog dialog = fill_timing_dialog(doc);
    ASSERT_EQ(dialog.smpte_offset, kLegacyOffsetText);

    // Kept as they are: no question.
    ASSERT_TRUE(apply_timing_dialog(doc, dialog, messages));
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(settings().legacy_segments.size(), 2u);

    dialog.smpte_offset.clear();
    messages.queue_answer(Answer::No);
    EXPECT_FALSE(apply_timing_dialog(doc, dialog, messages));
    EXPECT_EQ(messages.texts(), Texts{kReplaceLegacySegmentsQuestion});
    EXPECT_EQ(settings().legacy_segments.size(), 2u);
    EXPECT_FALSE(doc.modified());

    messages.queue_answer(Answer::Yes);
    EXPECT_TRUE(apply_timing_dialog(doc, dialog, messages));
    EXPECT_TRUE(settings().legacy_segments.empty());
    EXPECT_TRUE(doc.modified());
}

TEST_F(Dialogs, FilesRefuseAnUnreadableHonourFileAndFollowTheFilter) {
    test::TempDir dir;
    const std::u16string honour = utf8_to_utf16(dir.file("old.son").string());
    FilesDialog dialog = fill_files_dialog(doc, preferences);
    EXPECT_EQ(dialog.always_honour, CheckState::Unchecked);
    EXPECT_TRUE(files_dialog_names(dialog, doc).palette_file.ends_with(u".spf"));

    dialog.honor_file = honour;
    dialog.always_honour = CheckState::Checked;
    for (const std::u16string& unreadable : {honour, utf8_to_utf16(dir.path().string())}) {
        messages.clear();
        dialog.honor_file = unreadable;
        EXPECT_FALSE(apply_files_dialog(doc, dialog, preferences, messages));
        EXPECT_EQ(messages.texts(), Texts{"Bad file to honor:\nCould not open file " +
                                          base::utf16_to_utf8(unreadable)});
    }
    EXPECT_TRUE(settings().honor_file.empty());
    EXPECT_FALSE(preferences.get_string("Files", "HonorPalette").has_value());

    // The filter's position picks the type; "All files" keeps it.
    const FileFilters filters = output_file_filters(settings().scr_type);
    ASSERT_EQ(filters.rows.size(), 10u);
    EXPECT_EQ(filters.initial, 1);
    EXPECT_EQ(filters.rows[1].label, "Scenarist (*.sst)");
    EXPECT_EQ(filters.rows[1].patterns, "*.sst");
    EXPECT_EQ(filters.rows[7].label, "spumux XML (*.xml)");
    EXPECT_EQ(filters.rows[8].label, "VobSub (*.idx)");
    EXPECT_EQ(filters.rows[9].label, "All files (*.*)");
    pick_output_file(dialog, u"/out/movie.son", 2);
    EXPECT_EQ(dialog.output_file, u"/out/movie.sst");
    pick_output_file(dialog, u"/out/film.son", 10);
    EXPECT_EQ(dialog.output_file, u"/out/film.sst");
    const FilesDialogNames names = files_dialog_names(dialog, doc);
    EXPECT_EQ(names.palette_file, u"N/A");
    EXPECT_EQ(names.bitmap_pattern, u"/out/film_NNNN.bmp");  // the demo writes 4-bit BMPs
    // The spumux target takes PNGs whatever the bitmap type.
    FilesDialog spu = dialog;
    pick_output_file(spu, u"/out/film.sst", 8);
    EXPECT_EQ(spu.output_file, u"/out/film.xml");
    EXPECT_EQ(files_dialog_names(spu, doc).bitmap_pattern, u"/out/film_NNNN.png");
    // VobSub holds its pictures in the .sub beside the index.
    pick_output_file(spu, u"/out/film.xml", 9);
    EXPECT_EQ(spu.output_file, u"/out/film.idx");
    EXPECT_EQ(files_dialog_names(spu, doc).bitmap_pattern, u"N/A");

    test::write_file(dir.file("old.son"), "# 00 : RGB(1,2,3)\n");
    dialog.honor_file = honour;
    const std::u16string source = doc.source_path();
    ASSERT_TRUE(apply_files_dialog(doc, dialog, preferences, messages));
    EXPECT_EQ(settings().scr_type, script::ScriptType::SST);
    EXPECT_EQ(settings().output_file, u"/out/film.sst");
    EXPECT_EQ(settings().honor_file, honour);
    EXPECT_EQ(doc.source_path(), source);
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(preferences.get_string("Files", "HonorPalette"), base::utf16_to_utf8(honour));

    // Another script honoured always: the box shows it partly, and leaves it so.
    dialog = fill_files_dialog(doc, preferences);
    EXPECT_EQ(dialog.always_honour, CheckState::Checked);
    dialog.honor_file.clear();
    dialog.always_honour = CheckState::Partial;
    ASSERT_TRUE(apply_files_dialog(doc, dialog, preferences, messages));
    EXPECT_EQ(fill_files_dialog(doc, preferences).always_honour, CheckState::Partial);
}

TEST_F(Dialogs, SegmentsParseOnlyWhatWasAskedFor) {
    SegmentsDialog dialog = fill_segments_dialog(doc);
    EXPECT_EQ(dialog.text, utf8_to_utf16(kSegmentsHelpText));
    EXPECT_EQ(segments_listing(dialog), utf8_to_utf16(script::kNoSegmentsDefinedText));

    dialog.text += u"keep from 00:00:01:00 to 00:00:03:00 please\r\n00:00:02:00\r\n";
    messages.queue_answer(Answer::Cancel);
    EXPECT_FALSE(apply_segments_dialog(doc, dialog, messages));
    EXPECT_EQ(messages.texts(), Texts{kUnparsedSegmentsQuestion});
    messages.clear();
    messages.queue_answer(Answer::No);
    ASSERT_TRUE(apply_segments_dialog(doc, dialog, messages));
    EXPECT_TRUE(settings().dvd_segments.empty());
    EXPECT_FALSE(doc.modified());

    // Segments count in frames at FPS out: without valid rates nothing is parsed.
    set({{"FPSout", "abc"}});
    EXPECT_FALSE(parse_segments_dialog(dialog, doc, messages));
    EXPECT_EQ(messages.texts(), Texts{"FPS out is invalid"});
    set({{"FPSout", "25"}});

    ASSERT_TRUE(parse_segments_dialog(dialog, doc, messages));
    EXPECT_EQ(segments_listing(dialog),
              u"Segment range from 00:00:01:00 to 00:00:03:00\r\nChapter point at 00:00:02:00\r\n");
    dialog.text = u"; nothing here 12";
    EXPECT_FALSE(parse_segments_dialog(dialog, doc, messages));
    EXPECT_EQ(messages.texts(), Texts{script::kNoSegmentsFoundText});
    EXPECT_EQ(dialog.segments.size(), 2u);

    // With ends shown as the next frame the edit area is listed again, meaning the same frames.
    dialog.text = segments_text(dialog.segments, false);
    dialog.parsed_text = dialog.text;
    set_end_as_next_frame(dialog, true);
    EXPECT_NE(dialog.text.find(u"to 00:00:03:01"), std::u16string::npos);
    // An edit control handing back LF for CR LF is not an edit.
    std::erase(dialog.text, u'\r');
    ASSERT_TRUE(apply_segments_dialog(doc, dialog, messages));
    EXPECT_EQ(settings().dvd_segments.at(0).end->frame, 75);
    EXPECT_TRUE(doc.modified());
}

TEST_F(Dialogs, ToolsAskOrRefuseBeforeTheyRun) {
    SnapDialog snap = fill_snap_dialog(doc);
    EXPECT_EQ(snap.rate, u"25");
    snap.rate = u" ";
    EXPECT_EQ(apply_snap_dialog(doc, snap, messages), script::ToolOutcome::Failed);
    EXPECT_EQ(messages.texts(), Texts{script::kSnapEmptyRateText});

    messages.clear();
    EXPECT_EQ(separate_titles_command(doc, messages), script::ToolOutcome::Cancelled);
    EXPECT_EQ(messages.texts(), Texts{kSeparateTitlesQuestion});
    EXPECT_FALSE(doc.modified());
    set({{"Segment", "0:00:00.00,0:00:10.00,*,*"}, {"Segment", "0:00:10.00,*,*,*"}});
    EXPECT_EQ(separate_titles_command(doc, messages), script::ToolOutcome::Failed);
    EXPECT_EQ(messages.texts(), Texts{timeline::kMultipleTimelinesText});

    messages.clear();
    FilmOffsetDialog film = fill_film_offset_dialog();
    EXPECT_EQ(film.offset, u"01:00:00:00");
    EXPECT_EQ(apply_film_offset_dialog(film, messages), (script::ScriptTime{360000, true}));
    film.offset = u"1:00:00.00";
    EXPECT_FALSE(apply_film_offset_dialog(film, messages).has_value());
    EXPECT_EQ(messages.texts(), Texts{kInvalidSmpteText});
}

TEST_F(Dialogs, CompatibilityKeepsUnshownBitsAndTellsWhenTheReaderChanges) {
    set({{"Compatible", "33"}});  // bit 32 has no box
    CompatibilityDialog dialog = fill_compatibility_dialog(doc, preferences);
    EXPECT_TRUE(dialog.flags[0]);
    EXPECT_FALSE(dialog.treat_n_as_N);
    apply_compatibility_dialog(doc, dialog, preferences, messages);
    EXPECT_FALSE(doc.modified());
    EXPECT_TRUE(messages.texts().empty());

    dialog.flags[0] = false;
    dialog.flags[8] = true;
    dialog.treat_n_as_N = true;
    apply_compatibility_dialog(doc, dialog, preferences, messages);
    EXPECT_EQ(settings().compatible, 32 | 1024);
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(messages.texts(),
              Texts{"You must close the current file and open it again\nfor the change in the "
                    "\"Treat \\n as \\N\" setting to take effect."});
    EXPECT_EQ(preferences.get_int("Files", "Treat \\n as \\N", 0), 1);
}

TEST_F(Dialogs, MainWindowRules) {
    Document empty;
    EXPECT_EQ(window_title(empty), "Tessara - No file");
    EXPECT_FALSE(can_generate(empty));
    EXPECT_FALSE(check_before_run(empty, messages));
    EXPECT_EQ(messages.texts(), Texts{"Please enter a source SSA file to convert"});
    EXPECT_TRUE(can_generate(doc));
    EXPECT_FALSE(can_export_film(doc));  // 25 fps
    EXPECT_EQ(window_title(doc), "Tessara - demo");
    EXPECT_EQ(about_text(), "Tessara version " TESSARA_VERSION);

    set({{"FPSout", ""}});
    EXPECT_FALSE(can_generate(doc));
    set({{"FPSout", "24"}, {"OutputFile", ""}});
    EXPECT_TRUE(can_export_film(doc));
    EXPECT_FALSE(check_before_run(doc, messages));
    EXPECT_EQ(messages.texts(), Texts{"Please enter a path for the output file"});
    set({{"OutputFile", "/out/demo.son"}, {"FPSout", "0.5"}});
    EXPECT_FALSE(check_before_run(doc, messages));
    EXPECT_EQ(messages.texts(), Texts{"FPS out is invalid"});
    set({{"FPSout", "30"}, {"DropFrame", "1"}});
    EXPECT_FALSE(can_export_film(doc));

    set_skip_bitmaps(doc, true, messages);
    set_skip_bitmaps(doc, true, messages);
    EXPECT_TRUE(doc.skip_bitmaps());
    EXPECT_EQ(messages.texts(), Texts{kSkipBitmapsWarningText});

    // Modified until saved; the first save advises a new name.
    messages.clear();
    doc.script().settings.modified = true;
    EXPECT_EQ(window_title(doc), "Tessara - demo *");
    EXPECT_FALSE(confirm_discard_changes(doc, messages));  // unanswered: No
    messages.queue_answer(Answer::Yes);
    EXPECT_TRUE(confirm_discard_changes(doc, messages));
    EXPECT_TRUE(save_needs_new_name(doc, messages));
    EXPECT_EQ(messages.texts(), (Texts{"File has changed. Are you sure?",
                                       "File has changed. Are you sure?", kBackupAdviceText}));
    test::TempDir dir;
    ASSERT_TRUE(doc.save_as(dir.file("copy.ssa").string(), messages));
    EXPECT_EQ(window_title(doc), "Tessara - copy");
    EXPECT_FALSE(save_needs_new_name(doc, messages));
    EXPECT_TRUE(confirm_discard_changes(doc, messages));
    EXPECT_EQ(messages.texts().size(), 3u);
}

TEST(EditorFont, SizeZeroTakesTheDialogFontAndEverySizeStaysInRange) {
    base::MemoryPreferences preferences;
    EditorFont font = read_editor_font(preferences, 0);
    EXPECT_EQ(font.face, "Verdana");
    EXPECT_EQ(font.size, EditorFont::kFallbackSize);
    EXPECT_EQ(read_editor_font(preferences, 13).size, 13);
    preferences.set_int("Editor", "FontSize", 500);
    EXPECT_EQ(read_editor_font(preferences, 13).size, EditorFont::kMaxSize);

    font.face = "DejaVu Sans";
    font.bold = true;
    font = editor_font_resized(font, -100);
    write_editor_font(preferences, font);
    const EditorFont back = read_editor_font(preferences, 13);
    EXPECT_EQ(back.face, "DejaVu Sans");
    EXPECT_EQ(back.size, EditorFont::kMinSize);
    EXPECT_TRUE(back.bold);
    EXPECT_FALSE(back.italic);
}

}  // namespace
}  // namespace tessara::document
