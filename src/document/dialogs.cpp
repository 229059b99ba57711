#include "document/dialogs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/preferences.h"
#include "base/text.h"
#include "base/version.h"
#include "document/dialog_support.h"
#include "document/document.h"
#include "formats/script_types.h"
#include "formats/text_exports.h"
#include "output/generation.h"
#include "timeline/separate_titles.h"

namespace tessara::document {

const char* const kReplaceLegacySegmentsQuestion =
    "This offset setting will remove legacy\r\nsegment definitions imported from an old\r\n"
    "version of Tessara. Are you sure you want\r\nto replace them with this setting? If "
    "not,\r\nchange the value of the field offset\r\nto the string \"Legacy\".";
const char* const kBadOffsetText =
    "The offset time must be a valid SMPTE value\r\nin the format hh:mm:ss:ff, an empty "
    "string,\r\nor the string \"Legacy\" to keep\r\nsegments defined in old Tessara versions.";
const char* const kBadHonourFileFormat = "Bad file to honor:\nCould not open file %s";
const char* const kSegmentsHelpText =
    "; One segment range or chapter point per line, for example:\r\n"
    ";   Segment range from HH:MM:SS:FF to HH:MM:SS:FF\r\n"
    ";   Chapter point at HH:MM:SS:FF\r\n"
    "; A line with two times is a range, a line with one time a chapter point.\r\n"
    "; Other words are ignored, and so is every line that starts with ';'.\r\n";
const char* const kUnparsedSegmentsQuestion =
    "Warning: the segment text in the edit area\r\ndoesn't match the last parsed data.\r\n"
    "Perhaps you forgot to press the parse button.\r\n\r\nDo you want to parse the latest "
    "text?\r\nPress 'Cancel' to continue editing, 'No' to loose\r\nany editing and 'Yes' to "
    "accept the edited\r\ntext as the new segments/chapter information.";
const char* const kSnapExplanationText =
    "By clicking OK, all times in the dialog events of the current SSA script will be changed "
    "to match exact frame slots. For example, in NTSC 29.97, the time 0:00:00.02 doesn't match "
    "exactly with any frame number, whilst 0:00:00.00 and 0.00:00.03 do. The rounding will be "
    "done in a way that Tessara and VirtualDub would take as the corrected frame slots for the "
    "given inexact times. The ABSOLUTEIN and ABSOLUTEOUT overrides have no effect in this "
    "operation.";
const char* const kSeparateTitlesQuestion =
    "Do you want to separate any two titles by at least one frame?";
const char* const kFilmOffsetCaption = "Specify the time offset for the footage.";
const char* const kFilmOffsetLabel = "First foot of the film is at the SMPTE offset (HH:MM:SS:FF):";
const char* const kInvalidSmpteText = "Invalid SMPTE value";
const char* const kReopenForTreatNText =
    "You must close the current file and open it again\nfor the change in the \"Treat \\n as "
    "\\N\" setting to take effect.";
const char* const kNoSourceText = "Please enter a source SSA file to convert";
const char* const kNoOutputText = "Please enter a path for the output file";
const char* const kSkipBitmapsWarningText =
    "Please take into account that having this button checked\nmay result in invalid script "
    "files if changes done to the\nprocessing settings require a different\nset of bitmaps or "
    "a different sets of colors.\nI recommend to check this only for doing time tests, and\nto "
    "uncheck it for the final rendering.";
const char* const kFileChangedQuestion = "File has changed. Are you sure?";
const char* const kBackupAdviceText =
    "As Tessara could have bugs and inadvertently\ncause a loss of data, I suggest you to save "
    "this\nfile with a different name and preserve the old one\nas a backup.";
const char* const kNotImplementedText = "Not implemented yet";
const char* const kDefineSegmentsQuestion =
    "No segments have been defined for this file.\r\nDo you want to define them now?";

namespace {

using base::utf16_to_utf8;
using base::utf8_to_utf16;
using script::DvdSegment;
using script::FrameTime;
using script::ScriptTime;

// Per-user preferences the dialogs edit, as the reader reads them.
constexpr std::string_view kFilesSection = "Files";
constexpr std::string_view kHonourPreference = "HonorPalette";
constexpr std::string_view kTreatNPreference = "Treat \\n as \\N";

constexpr std::array<CompatibilityFlag, kCompatibilityFlagCount> kCompatibilityFlags = {{
    {"&Outline expands the inter-word spacing", script::compatible::kOutlineWidensWordSpacing},
    {"&Use older (less accurate) font rendering", script::compatible::kWholePixels},
    {"Outline expands the inter-&line spacing", script::compatible::kOutlineWidensLineSpacing},
    {"&Manual and automatic positioning have the same priority",
     script::compatible::kSinglePlacementPass},
    {"Include &names in Captions Inc. export", script::compatible::kCaptionNames},
    {"Include a Color() command in the header of sst files", script::compatible::kHeaderColours},
    {"Use old scale", script::compatible::kOldScale},
    {"Generate SST files with directory path \".\"", script::compatible::kDotDirectory},
    {"Pixel area in SST starts from 2", script::compatible::kPixelAreaFrom2},
}};

using detail::mark_changed;

// A typed SMPTE label "hh:mm:ss:ff" (';' also before the frames); blanks around it are allowed.
std::optional<ScriptTime> smpte_time(std::u16string_view text) {
    auto parsed = script::parse_script_time(base::trim_blanks(text), true, true);
    if (!parsed || !parsed->time.smpte) {
        return std::nullopt;
    }
    return parsed->time;
}

bool same_segments(const std::vector<DvdSegment>& a, const std::vector<DvdSegment>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const DvdSegment& x, const DvdSegment& y) {
                          return x.start == y.start && x.end.has_value() == y.end.has_value() &&
                                 (!x.end || *x.end == *y.end);
                      });
}

// A segment is saved as its SMPTE label and read back at the rates of the day, so when the
// output rate or drop frame changes its frames are counted again from that label: the segments
// then mean in this session what they will mean after the next load.
FrameTime relabelled(const FrameTime& t, const script::TimingSettings& timing) {
    if (!t.is_set() || (t.rate == timing.rate_out && t.drop == timing.drop_frame)) {
        return t;
    }
    const std::optional<ScriptTime> label = smpte_time(script::format_smpte(t, u':'));
    if (!label) {
        return t;
    }
    return script::frame_time_from_script_time(*label, timing);
}

void relabel_segments(std::vector<DvdSegment>& segments, const script::TimingSettings& timing) {
    for (DvdSegment& seg : segments) {
        seg.start = relabelled(seg.start, timing);
        if (seg.end) {
            seg.end = relabelled(*seg.end, timing);
        }
    }
}

// Whether the honoured script can be read: a file (not a folder) that opens for reading.
bool opens_for_reading(const std::u16string& path) {
    const std::filesystem::path p(path);
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) {
        return false;
    }
    std::ifstream in(p, std::ios::binary);
    return in.is_open();
}

CheckState honour_state(const std::u16string& honor_file, const base::Preferences& preferences) {
    const std::string always = preferences.get_string_or(kFilesSection, kHonourPreference, "");
    if (always.empty()) {
        return CheckState::Unchecked;
    }
    return always == utf16_to_utf8(honor_file) ? CheckState::Checked : CheckState::Partial;
}

std::u16string without_cr(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c != u'\r') {
            out += c;
        }
    }
    return out;
}

}  // namespace

// --- Timing ----------------------------------------------------------------------------------

TimingDialog fill_timing_dialog(const Document& document) {
    const script::ConversionSettings& settings = document.script().settings;
    TimingDialog dialog;
    dialog.fps_in = settings.timing.fps_in_text;
    dialog.fps_out = settings.timing.fps_out_text;
    dialog.drop_frame = settings.timing.drop_frame;
    const auto& legacy = settings.legacy_segments;
    if (!script::is_simple_offset(legacy)) {
        dialog.smpte_offset = kLegacyOffsetText;
    } else if (!legacy.empty()) {
        dialog.smpte_offset = script::format_script_time(*legacy.front().dst_pos, false);
    }
    return dialog;
}

bool apply_timing_dialog(Document& document, const TimingDialog& dialog, base::Messages& messages) {
    script::ConversionSettings& settings = document.script().settings;
    script::SettingsValues values = settings.values();
    values.timing.fps_in_text = dialog.fps_in;
    values.timing.fps_out_text = dialog.fps_out;
    values.timing.drop_frame = dialog.drop_frame;
    if (!script::validate_timing(values.timing, values.iauthor(), &messages, false)) {
        return false;
    }

    const std::u16string_view offset = base::trim_blanks(dialog.smpte_offset);
    if (offset != kLegacyOffsetText) {
        std::vector<script::LegacySegment> replacement;
        if (!offset.empty()) {
            const std::optional<ScriptTime> t = smpte_time(offset);
            if (!t) {
                messages.error(kBadOffsetText);
                return false;
            }
            script::LegacySegment simple;
            simple.dst_pos = *t;
            replacement.push_back(simple);
        }
        if (!script::is_simple_offset(values.legacy_segments) &&
            messages.ask(kReplaceLegacySegmentsQuestion, base::AskKind::YesNo) !=
                base::Answer::Yes) {
            return false;
        }
        values.legacy_segments = std::move(replacement);
    }
    relabel_segments(values.dvd_segments, values.timing);

    const script::TimingSettings& before = settings.timing;
    const bool changed = before.fps_in_text != values.timing.fps_in_text ||
                         before.fps_out_text != values.timing.fps_out_text ||
                         before.drop_frame != values.timing.drop_frame ||
                         settings.legacy_segments != values.legacy_segments;
    settings.assign_values(values);
    if (changed) {
        mark_changed(settings, true);
    }
    return true;
}

// --- Files -----------------------------------------------------------------------------------

FilesDialog fill_files_dialog(const Document& document, const base::Preferences& preferences) {
    const script::ConversionSettings& settings = document.script().settings;
    FilesDialog dialog;
    dialog.output_file = settings.output_file;
    dialog.script_type = settings.scr_type;
    dialog.honor_file = settings.honor_file;
    dialog.always_honour = honour_state(settings.honor_file, preferences);
    return dialog;
}

FilesDialogNames files_dialog_names(const FilesDialog& dialog, const Document& document) {
    FilesDialogNames names{std::u16string(kNotApplicableText), std::u16string(kNotApplicableText)};
    if (dialog.output_file.empty()) {
        return names;
    }
    const std::u16string path = formats::fit_output_path(dialog.output_file, dialog.script_type);
    const auto writer = formats::make_script_writer(dialog.script_type);
    if (std::u16string palette = writer->palette_file_name(path); !palette.empty()) {
        names.palette_file = std::move(palette);
    }
    const std::string extension =
        output::picture_extension(dialog.script_type, document.script().settings.img_type);
    if (!extension.empty()) {  // a type that holds the pictures in its own files has none
        names.bitmap_pattern = writer->bitmap_prefix(path) + u"NNNN." + base::to_u16(extension);
    }
    return names;
}

std::vector<FileFilterRow> parse_file_filter(std::string_view filter) {
    std::vector<FileFilterRow> rows;
    while (!filter.empty()) {
        const size_t bar = filter.find('|');
        if (bar == 0 || bar == std::string_view::npos) {
            break;  // "||" ends the list
        }
        FileFilterRow row;
        row.label = filter.substr(0, bar);
        filter.remove_prefix(bar + 1);
        const size_t end = filter.find('|');
        row.patterns = filter.substr(0, end);
        filter.remove_prefix(end == std::string_view::npos ? filter.size() : end + 1);
        rows.push_back(std::move(row));
    }
    return rows;
}

FileFilters output_file_filters(script::ScriptType current) {
    const formats::OutputFileFilter filter = formats::output_file_filter(current);
    return FileFilters{parse_file_filter(filter.filter), filter.current_position};
}

void pick_output_file(FilesDialog& dialog, std::u16string_view path, int32_t filter_position) {
    if (const formats::ScriptTypeRow* row =
            formats::find_script_type_by_position(filter_position)) {
        dialog.script_type = row->type;
    }
    dialog.output_file = formats::fit_output_path(path, dialog.script_type);
}

bool apply_files_dialog(Document& document, const FilesDialog& dialog,
                        base::Preferences& preferences, base::Messages& messages) {
    if (!dialog.honor_file.empty() && !opens_for_reading(dialog.honor_file)) {
        messages.error(
            base::format_message(kBadHonourFileFormat, utf16_to_utf8(dialog.honor_file)));
        return false;
    }
    script::ConversionSettings& settings = document.script().settings;
    script::SettingsValues values = settings.values();
    values.scr_type = dialog.script_type;
    values.output_file = formats::fit_output_path(dialog.output_file, dialog.script_type);
    values.honor_file = dialog.honor_file;
    const bool changed = values.scr_type != settings.scr_type ||
                         values.output_file != settings.output_file ||
                         values.honor_file != settings.honor_file;
    settings.assign_values(values);
    if (changed) {
        mark_changed(settings, false);
    }
    switch (dialog.always_honour) {
        case CheckState::Checked:
            preferences.set_string(kFilesSection, kHonourPreference,
                                   utf16_to_utf8(dialog.honor_file));
            break;
        case CheckState::Unchecked:
            preferences.set_string(kFilesSection, kHonourPreference, "");
            break;
        case CheckState::Partial:
            break;
    }
    return true;
}

// --- Segments --------------------------------------------------------------------------------

std::u16string segments_text(const std::vector<DvdSegment>& segments, bool end_as_next_frame) {
    return utf8_to_utf16(kSegmentsHelpText) +
           script::format_segment_text(segments, end_as_next_frame);
}

SegmentsDialog fill_segments_dialog(const Document& document) {
    const script::ConversionSettings& settings = document.script().settings;
    SegmentsDialog dialog;
    dialog.end_as_next_frame = settings.stop_is_next;
    dialog.segments = settings.dvd_segments;
    dialog.text = segments_text(dialog.segments, dialog.end_as_next_frame);
    dialog.parsed_text = dialog.text;
    return dialog;
}

std::u16string segments_listing(const SegmentsDialog& dialog) {
    if (dialog.segments.empty()) {
        return utf8_to_utf16(script::kNoSegmentsDefinedText);
    }
    return script::format_segment_text(dialog.segments, dialog.end_as_next_frame);
}

bool has_unparsed_edits(const SegmentsDialog& dialog) {
    return without_cr(dialog.text) != without_cr(dialog.parsed_text);
}

bool parse_segments_dialog(SegmentsDialog& dialog, const Document& document,
                           base::Messages& messages) {
    const script::ConversionSettings& settings = document.script().settings;
    script::TimingSettings timing = settings.timing;
    if (!script::validate_timing(timing, settings.iauthor(), &messages, false)) {
        return false;
    }
    std::vector<DvdSegment> parsed =
        script::parse_segment_text(dialog.text, timing, dialog.end_as_next_frame);
    if (parsed.empty()) {
        messages.warn(script::kNoSegmentsFoundText);
        return false;
    }
    dialog.segments = std::move(parsed);
    dialog.parsed_text = dialog.text;
    return true;
}

void clear_segments_dialog(SegmentsDialog& dialog) {
    dialog.segments.clear();
    dialog.text = segments_text(dialog.segments, dialog.end_as_next_frame);
    dialog.parsed_text = dialog.text;
}

void set_end_as_next_frame(SegmentsDialog& dialog, bool on) {
    if (dialog.end_as_next_frame == on) {
        return;
    }
    const bool relist = !has_unparsed_edits(dialog);
    dialog.end_as_next_frame = on;
    if (relist) {
        dialog.text = segments_text(dialog.segments, on);
        dialog.parsed_text = dialog.text;
    }
}

bool apply_segments_dialog(Document& document, SegmentsDialog& dialog, base::Messages& messages) {
    if (has_unparsed_edits(dialog)) {
        switch (messages.ask(kUnparsedSegmentsQuestion, base::AskKind::YesNoCancel)) {
            case base::Answer::Yes:
                if (!parse_segments_dialog(dialog, document, messages)) {
                    return false;
                }
                break;
            case base::Answer::No:
                break;
            default:
                return false;
        }
    }
    script::ConversionSettings& settings = document.script().settings;
    script::SettingsValues values = settings.values();
    const bool changed = !same_segments(values.dvd_segments, dialog.segments);
    values.dvd_segments = dialog.segments;
    settings.assign_values(values);
    if (changed) {
        mark_changed(settings, true);
    }
    return true;
}

// --- Snap and separate -----------------------------------------------------------------------

SnapDialog fill_snap_dialog(const Document& document) {
    return SnapDialog{document.script().settings.timing.fps_in_text};
}

script::ToolOutcome apply_snap_dialog(Document& document, const SnapDialog& dialog,
                                      base::Messages& messages) {
    return document.run_tool(Tool::Snap, utf16_to_utf8(dialog.rate), messages);
}

script::ToolOutcome separate_titles_command(Document& document, base::Messages& messages) {
    if (document.script().settings.legacy_segments.size() > 1) {
        messages.error(timeline::kMultipleTimelinesText);
        return script::ToolOutcome::Failed;
    }
    if (messages.ask(kSeparateTitlesQuestion, base::AskKind::YesNo) != base::Answer::Yes) {
        return script::ToolOutcome::Cancelled;
    }
    return document.run_tool(Tool::Separate, std::nullopt, messages);
}

// --- Film offset -----------------------------------------------------------------------------

FilmOffsetDialog fill_film_offset_dialog() {
    return FilmOffsetDialog{script::format_script_time(formats::default_film_offset(), false)};
}

std::optional<ScriptTime> apply_film_offset_dialog(const FilmOffsetDialog& dialog,
                                                   base::Messages& messages) {
    std::optional<ScriptTime> offset = smpte_time(dialog.offset);
    if (!offset) {
        messages.error(kInvalidSmpteText);
    }
    return offset;
}

// --- Compatibility ---------------------------------------------------------------------------

std::span<const CompatibilityFlag, kCompatibilityFlagCount> compatibility_flags() {
    return kCompatibilityFlags;
}

CompatibilityDialog fill_compatibility_dialog(const Document& document,
                                              const base::Preferences& preferences) {
    CompatibilityDialog dialog;
    const int32_t compatible = document.script().settings.compatible;
    for (size_t i = 0; i < kCompatibilityFlags.size(); ++i) {
        dialog.flags[i] = (compatible & kCompatibilityFlags[i].bit) != 0;
    }
    dialog.treat_n_as_N = preferences.get_int(kFilesSection, kTreatNPreference, 0) != 0;
    return dialog;
}

void apply_compatibility_dialog(Document& document, const CompatibilityDialog& dialog,
                                base::Preferences& preferences, base::Messages& messages) {
    script::ConversionSettings& settings = document.script().settings;
    // Bits no box shows (a script may hold any number) are kept as they are.
    int32_t shown = 0;
    int32_t chosen = 0;
    for (size_t i = 0; i < kCompatibilityFlags.size(); ++i) {
        shown |= kCompatibilityFlags[i].bit;
        chosen |= dialog.flags[i] ? kCompatibilityFlags[i].bit : 0;
    }
    script::SettingsValues values = settings.values();
    values.compatible = (values.compatible & ~shown) | chosen;
    const bool changed = values.compatible != settings.compatible;
    settings.assign_values(values);
    if (changed) {
        mark_changed(settings, true);
    }
    const bool treat_before = preferences.get_int(kFilesSection, kTreatNPreference, 0) != 0;
    if (dialog.treat_n_as_N != treat_before) {
        preferences.set_int(kFilesSection, kTreatNPreference, dialog.treat_n_as_N ? 1 : 0);
        messages.inform(kReopenForTreatNText);
    }
}

// --- The main window -------------------------------------------------------------------------

EditorFont read_editor_font(const base::Preferences& preferences, int32_t dialog_font_size) {
    constexpr std::string_view kSection = "Editor";
    EditorFont font;
    font.face = preferences.get_string_or(kSection, "FontFace", font.face);
    int32_t size = preferences.get_int(kSection, "FontSize", 0);
    if (size <= 0) {
        size = dialog_font_size > 0 ? dialog_font_size : EditorFont::kFallbackSize;
    }
    font.size = std::clamp(size, EditorFont::kMinSize, EditorFont::kMaxSize);
    font.bold = preferences.get_int(kSection, "FontBold", 0) != 0;
    font.italic = preferences.get_int(kSection, "FontItalic", 0) != 0;
    return font;
}

void write_editor_font(base::Preferences& preferences, const EditorFont& font) {
    constexpr std::string_view kSection = "Editor";
    preferences.set_string(kSection, "FontFace", font.face);
    preferences.set_int(kSection, "FontSize", font.size);
    preferences.set_int(kSection, "FontBold", font.bold ? 1 : 0);
    preferences.set_int(kSection, "FontItalic", font.italic ? 1 : 0);
}

EditorFont editor_font_resized(EditorFont font, int32_t by) {
    font.size = std::clamp(font.size + by, EditorFont::kMinSize, EditorFont::kMaxSize);
    return font;
}

SegmentCheckStart segment_check_start(Document& document, base::Messages& messages) {
    script::ConversionSettings& settings = document.script().settings;
    if (!script::validate_timing(settings.timing, settings.iauthor(), &messages, false)) {
        return SegmentCheckStart::Refused;
    }
    if (!settings.dvd_segments.empty()) {
        return SegmentCheckStart::Ready;
    }
    return messages.ask(kDefineSegmentsQuestion, base::AskKind::YesNo) == base::Answer::Yes
               ? SegmentCheckStart::NeedSegments
               : SegmentCheckStart::Refused;
}

bool check_before_run(Document& document, base::Messages& messages) {
    script::ConversionSettings& settings = document.script().settings;
    if (settings.source_path.empty()) {
        messages.error(kNoSourceText);
        return false;
    }
    if (settings.output_file.empty()) {
        messages.error(kNoOutputText);
        return false;
    }
    return script::validate_timing(settings.timing, settings.iauthor(), &messages, false);
}

bool can_generate(const Document& document) {
    const script::ConversionSettings& settings = document.script().settings;
    return document.has_file() && !settings.output_file.empty() &&
           !settings.timing.fps_in_text.empty() && !settings.timing.fps_out_text.empty();
}

bool can_export_film(const Document& document) {
    const script::ConversionSettings& settings = document.script().settings;
    script::TimingSettings timing = settings.timing;
    return document.has_file() &&
           script::validate_timing(timing, settings.iauthor(), nullptr, true) &&
           formats::film_export_available(timing);
}

void set_skip_bitmaps(Document& document, bool on, base::Messages& messages) {
    if (on && !document.skip_bitmaps()) {
        messages.warn(kSkipBitmapsWarningText);
    }
    document.set_skip_bitmaps(on);
}

bool confirm_discard_changes(const Document& document, base::Messages& messages) {
    return !document.modified() ||
           messages.ask(kFileChangedQuestion, base::AskKind::YesNo) == base::Answer::Yes;
}

bool save_needs_new_name(const Document& document, base::Messages& messages) {
    if (document.saved_once()) {
        return false;
    }
    messages.inform(kBackupAdviceText);
    return true;
}

std::string window_title(const Document& document) {
    if (!document.has_file()) {
        return std::string(kNoFileTitle);
    }
    return "Tessara - " + utf16_to_utf8(output::derive_output_names(document.source_path()).title) +
           (document.modified() ? " *" : "");
}

std::string about_text() {
    if (base::kVersion.empty()) {
        return "Tessara version unknown";
    }
    return "Tessara version " + std::string(base::kVersion);
}

}  // namespace tessara::document
