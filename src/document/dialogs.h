#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_tools.h"
#include "script/settings.h"

namespace tessara::base {
class Messages;
class Preferences;
}  // namespace tessara::base

// The rules of the settings dialogs and of the main window, without a window. Each dialog is a
// plain struct of what its fields show (texts as typed, check boxes as bools). A fill_ function
// sets the fields from the document; an apply_ function is the dialog's OK: it checks the fields
// in order, reports the first problem through base::Messages and returns false (the dialog stays
// open), or writes the values into the document's settings and returns true. Values are written
// as a whole (ConversionSettings::assign_values), so the document's bookkeeping (source path,
// Unicode, counts) is never touched, and the document is marked modified (and in need of a
// rebuild where the subpictures depend on the values) only when a value really changed. Cancel
// is simply not calling apply_: nothing changes.
namespace tessara::document {

class Document;

// --- Timing (the frame-rate dialog) ----------------------------------------------------------

// The choices of the editable frame-rate lists (timing and snap-to-frames dialogs); any other
// number may be typed.
inline constexpr std::array<std::u16string_view, 8> kFrameRateChoices = {
    u"23.976", u"24", u"25", u"29.97", u"30", u"50", u"59.94", u"60"};

// What the SMPTE offset field shows while the script holds old-style segments rather than one
// plain offset; typing it back keeps them.
inline constexpr std::u16string_view kLegacyOffsetText = u"Legacy";

extern const char* const kReplaceLegacySegmentsQuestion;  // asked Yes/No
extern const char* const kBadOffsetText;

struct TimingDialog {
    std::u16string fps_in;
    std::u16string fps_out;
    bool drop_frame = false;
    std::u16string smpte_offset;  // "hh:mm:ss:ff", empty for none, or kLegacyOffsetText
};

TimingDialog fill_timing_dialog(const Document& document);

// The frame rates are checked as before every run (their messages), then the offset: empty or
// an SMPTE time replaces the old-style segments by nothing or by that one offset (asking first
// when they were more than an offset; No keeps the dialog open), "Legacy" keeps them, anything
// else is refused with kBadOffsetText. DVD segments keep their SMPTE labels when the output rate
// or drop frame changes: their frames are counted again at the new rate, as a reload would.
bool apply_timing_dialog(Document& document, const TimingDialog& dialog, base::Messages& messages);

// --- Files -----------------------------------------------------------------------------------

extern const char* const kBadHonourFileFormat;  // one %s: the path
// What the palette and bitmap fields show when there is nothing to derive.
inline constexpr std::u16string_view kNotApplicableText = u"N/A";

// The "always honour" box: checked while the per-user preference names this dialog's honoured
// script, partly checked while it names another one, clear while it names none.
enum class CheckState { Unchecked, Partial, Checked };

struct FilesDialog {
    std::u16string output_file;
    // The script type, changed only by the filter chosen in the output-file dialog.
    script::ScriptType script_type = script::ScriptType::SON;
    std::u16string honor_file;
    CheckState always_honour = CheckState::Unchecked;
};

// The read-only fields, derived from the dialog's output path and script type.
struct FilesDialogNames {
    std::u16string palette_file;    // the type's palette file, or "N/A"
    std::u16string bitmap_pattern;  // folder, title and "_NNNN." with the bitmap type's extension
};

FilesDialog fill_files_dialog(const Document& document, const base::Preferences& preferences);
FilesDialogNames files_dialog_names(const FilesDialog& dialog, const Document& document);

// One row of a file dialog's filter: "DVD Maestro (*.son)" and "*.son".
struct FileFilterRow {
    std::string label;
    std::string patterns;  // ';'-separated
};
struct FileFilters {
    std::vector<FileFilterRow> rows;
    int32_t initial = 0;  // 1-based position of the row to start with
};
// The output-file dialog: one row per script type in table order, then "All files"; the
// current type's row first chosen.
FileFilters output_file_filters(script::ScriptType current);
// The rows of a filter text in the form "label|patterns|label|patterns||".
std::vector<FileFilterRow> parse_file_filter(std::string_view filter);

// After the user confirms the output-file dialog: the path is taken, the filter's 1-based
// position chooses the script type ("All files" or any other position keeps it), and the path
// gets that type's extension.
void pick_output_file(FilesDialog& dialog, std::u16string_view path, int32_t filter_position);

// A non-empty honoured script must open for reading (kBadHonourFileFormat). The output path is
// stored with the script type's extension. The preference follows the "always honour" box:
// checked stores this dialog's script, clear stores none, partly checked leaves it.
bool apply_files_dialog(Document& document, const FilesDialog& dialog,
                        base::Preferences& preferences, base::Messages& messages);

// --- Segments and chapters -------------------------------------------------------------------

extern const char* const kSegmentsHelpText;  // the ';' comment lines the edit area starts with
extern const char* const kUnparsedSegmentsQuestion;

struct SegmentsDialog {
    std::u16string text;  // the edit area
    bool end_as_next_frame = false;
    std::vector<script::DvdSegment> segments;  // the last parsed list (at first the document's)
    std::u16string parsed_text;                // the text that list was parsed from or listed as
};

// The help lines and then the document's segments, ends shown as the next frame while the
// script's StopIsNext is on.
SegmentsDialog fill_segments_dialog(const Document& document);
// The list box under the edit area: the parsed entries, or kNoSegmentsDefinedText.
std::u16string segments_listing(const SegmentsDialog& dialog);
// The edit area's text for a list: the help lines, then one line per entry.
std::u16string segments_text(const std::vector<script::DvdSegment>& segments,
                             bool end_as_next_frame);
// Whether the edit area holds edits that were not parsed (line ends compared loosely, as an
// edit control may hand back LF for CR LF).
bool has_unparsed_edits(const SegmentsDialog& dialog);

// The Parse button. The frame rates must validate (their messages): segments are frames at the
// output rate. Text without any entry reports kNoSegmentsFoundText and keeps the list.
bool parse_segments_dialog(SegmentsDialog& dialog, const Document& document,
                           base::Messages& messages);
// The Clear button: no entries, and the edit area back to the help lines.
void clear_segments_dialog(SegmentsDialog& dialog);
// The option changed: without unparsed edits the edit area is listed again with the new option,
// so that what it shows keeps meaning the same frames.
void set_end_as_next_frame(SegmentsDialog& dialog, bool on);

// OK. With unparsed edits kUnparsedSegmentsQuestion is asked (Yes/No/Cancel): Yes parses them
// (a failed parse keeps the dialog open), No keeps the last parsed list, Cancel keeps the dialog
// open.
bool apply_segments_dialog(Document& document, SegmentsDialog& dialog, base::Messages& messages);

// --- Snap times to frames --------------------------------------------------------------------

extern const char* const kSnapExplanationText;

struct SnapDialog {
    std::u16string rate;  // starts as the FPS-in text
};

SnapDialog fill_snap_dialog(const Document& document);
// Runs the tool with the typed rate. Failed (its message shown) keeps the dialog open.
script::ToolOutcome apply_snap_dialog(Document& document, const SnapDialog& dialog,
                                      base::Messages& messages);

// --- Separate titles by one frame ------------------------------------------------------------

extern const char* const kSeparateTitlesQuestion;

// Refused with several old-style segment timelines; otherwise asks kSeparateTitlesQuestion and
// runs the tool on Yes (Cancelled on No).
script::ToolOutcome separate_titles_command(Document& document, base::Messages& messages);

// --- Film offset (Export as film subtitle) ---------------------------------------------------

extern const char* const kFilmOffsetCaption;
extern const char* const kFilmOffsetLabel;
extern const char* const kInvalidSmpteText;

struct FilmOffsetDialog {
    std::u16string offset;  // starts as "01:00:00:00"
};

FilmOffsetDialog fill_film_offset_dialog();
// The SMPTE label the first foot of film stands at, taken at the output rate; nothing (reported
// with kInvalidSmpteText) for anything but an SMPTE time.
std::optional<script::ScriptTime> apply_film_offset_dialog(const FilmOffsetDialog& dialog,
                                                           base::Messages& messages);

// --- Compatibility ---------------------------------------------------------------------------

struct CompatibilityFlag {
    std::string_view label;  // '&' marks the access key
    int32_t bit;             // of the "Compatible" setting (script/compatible.h)
};
inline constexpr size_t kCompatibilityFlagCount = 9;
std::span<const CompatibilityFlag, kCompatibilityFlagCount> compatibility_flags();

inline constexpr std::string_view kTreatNAsNLabel = "Treat \\n as \\N";
// Shown, disabled.
inline constexpr std::string_view kDontEscapeLabel = "Don't escape { and \\ with \\";
inline constexpr std::string_view kTabsAsSpacesLabel = "Process tabs as spaces";
extern const char* const kReopenForTreatNText;

struct CompatibilityDialog {
    std::array<bool, kCompatibilityFlagCount> flags{};  // in compatibility_flags() order
    bool treat_n_as_N = false;                          // the per-user reader preference
};

CompatibilityDialog fill_compatibility_dialog(const Document& document,
                                              const base::Preferences& preferences);
// Stores the flags (bits the dialog does not show are kept) and the preference; a changed
// preference only takes effect on the next load, which kReopenForTreatNText tells.
void apply_compatibility_dialog(Document& document, const CompatibilityDialog& dialog,
                                base::Preferences& preferences, base::Messages& messages);

// --- Segment intersection check -------------------------------------------------------------

extern const char* const kDefineSegmentsQuestion;

enum class SegmentCheckStart {
    Refused,       // the frame rates are not valid (reported), or the user declined
    NeedSegments,  // none defined and the user wants to define them: the segments dialog first
    Ready,
};
// Before the check opens: the frame rates must validate, and without any segment or chapter
// kDefineSegmentsQuestion is asked (Yes/No).
SegmentCheckStart segment_check_start(Document& document, base::Messages& messages);

// --- The subtitle editor's font (per-user preferences, section "Editor") ----------------------

struct EditorFont {
    static constexpr int32_t kMinSize = 6;
    static constexpr int32_t kMaxSize = 72;
    static constexpr int32_t kFallbackSize = 11;

    std::string face = "Verdana";
    int32_t size = kFallbackSize;
    bool bold = false;
    bool italic = false;
};
// The stored font. A size of 0 (or none) takes `dialog_font_size` when that is positive, else
// kFallbackSize; any size is held to kMinSize-kMaxSize.
EditorFont read_editor_font(const base::Preferences& preferences, int32_t dialog_font_size);
void write_editor_font(base::Preferences& preferences, const EditorFont& font);
// The editor's context menu: one size larger or smaller, within the limits.
EditorFont editor_font_resized(EditorFont font, int32_t by);

// --- The main window -------------------------------------------------------------------------

extern const char* const kNoSourceText;
extern const char* const kNoOutputText;
extern const char* const kSkipBitmapsWarningText;
extern const char* const kFileChangedQuestion;
extern const char* const kBackupAdviceText;
extern const char* const kNotImplementedText;
inline constexpr std::string_view kNoFileTitle = "Tessara - No file";
inline constexpr std::string_view kLoadingTitle = "Tessara - Loading file...";

// Before Generate and Edit & preview: a source file, an output path, then the frame rates (their
// messages; the rates are recomputed in the document).
bool check_before_run(Document& document, base::Messages& messages);
// Generate is offered once a file is open with an output path, FPS in and FPS out.
bool can_generate(const Document& document);
// Export as film subtitle is offered for non-drop output at exactly 24 or 30 frames per second.
bool can_export_film(const Document& document);
// The No bitmaps switch; switching it on warns with kSkipBitmapsWarningText.
void set_skip_bitmaps(Document& document, bool on, base::Messages& messages);
// Before the document is replaced or closed: true when it is not modified or the user says Yes.
bool confirm_discard_changes(const Document& document, base::Messages& messages);
// Save: the first save after opening shows kBackupAdviceText and goes through Save As (true).
bool save_needs_new_name(const Document& document, base::Messages& messages);
// "Tessara - TITLE", with " *" while modified; kNoFileTitle without a file. UTF-8.
std::string window_title(const Document& document);
// "Tessara version 0.3.0.0".
std::string about_text();

}  // namespace tessara::document
