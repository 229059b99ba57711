#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "script/settings.h"
#include "script/timecode.h"

namespace tessara::base {
class Messages;
}

// The rules of the subtitle editor, the dialog the preview opens for one subtitle of its last
// build. Like the other dialogs (dialogs.h) it is a plain struct of what the fields show, filled
// from the document, and an apply function that is the dialog's OK. The editor also owns the
// small rules its buttons follow: where an override block goes, what the colour and font pickers
// insert, and how long the readability test shows the sample.
namespace tessara::document {

class Document;

extern const char* const kEmptyDialogText;
extern const char* const kInvalidStartText;
extern const char* const kInvalidStopText;
extern const char* const kSubtitleUpdateFailedText;

struct SubtitleEdit {
    // The Dialogue line up to its Text field, as a person reads it; shown, never edited.
    std::u16string line_head;
    std::u16string style_name;  // as held (8-bit scripts: one character a byte)
    // The Text field as typed text (Unicode), each forced break "\N" shown as a line break ('\n').
    std::u16string text;
    // Output timecodes "hh:mm:ss:ff" of the subtitle's frames in the output timeline (offsets of
    // its segment applied). The stop is the first frame no longer visible while the script's
    // StopIsNext is on, else the last visible frame.
    std::u16string start;
    std::u16string stop;
    // Start and stop are the event's ABSOLUTEIN / ABSOLUTEOUT overrides rather than its times.
    bool absolute_in = false;
    bool absolute_out = false;
};

// The editor for subtitle `timeline_index` of the document's last build; none when there is no
// build or no such subtitle. For a copy of a blinking line the fields describe the whole line.
std::optional<SubtitleEdit> load_subtitle_edit(const Document& document, int32_t timeline_index);

// A typed start or stop field as frames at the output rate; the stop is returned as the first
// frame no longer visible whatever StopIsNext says. None for an empty field, anything but an
// SMPTE label (blanks around it are allowed) or a label whose frames field is not a frame of a
// second at the output rate.
std::optional<script::FrameTime> read_edit_start(const Document& document,
                                                 std::u16string_view text);
std::optional<script::FrameTime> read_edit_stop(const Document& document, std::u16string_view text);

// The text field as the live sample draws it: line breaks as "\N".
std::u16string sample_text(std::u16string_view typed);

// After a style was edited from the editor without the subtitle being changed: the build brings
// the renderings of that style's subtitles up to date, `shown` following subtitle
// `timeline_index`. False when there is no build or it failed (reported).
bool refresh_build(Document& document, int32_t timeline_index, int32_t& shown,
                   base::Messages& messages);

// --- Override buttons ------------------------------------------------------------------------

// Where a block goes for a caret at `caret` (an index in `text`, clamped to its size): the caret
// itself, or, when the caret lies inside an override block (after its '{' and not after its
// '}'), just after that block's closing brace. An unclosed '{' encloses the rest of the text.
size_t override_insertion_point(std::u16string_view text, size_t caret);

struct TextInsertion {
    std::u16string text;  // the whole text after inserting
    size_t caret = 0;     // just after what was inserted
};
// Inserts the block "{\" + tag + "}" at override_insertion_point().
TextInsertion insert_override(std::u16string_view text, size_t caret, std::u16string_view tag);
// Inserts plain text (a non-breaking space, a quote) at the caret itself.
TextInsertion insert_plain(std::u16string_view text, size_t caret, std::u16string_view what);

// The buttons that insert a fixed block or character, in the order the dialog shows them.
struct OverrideButton {
    std::string_view label;
    std::u16string_view insert;  // the tag of a block, or the text itself when plain
    bool plain = false;
};
inline constexpr size_t kOverrideButtonCount = 17;
const std::array<OverrideButton, kOverrideButtonCount>& override_buttons();

// The colour picker's block: "c&H" and the colour (red in the low byte) in hexadecimal, "&".
std::u16string colour_tag(script::Colour colour);

// What the font picker returned.
struct PickedFont {
    std::u16string face;
    int32_t point_size = 0;
    int32_t weight = 400;  // 100-900; 700 is bold
    bool italic = false;
    int32_t charset = 0;
};
// The font picker's block: face, the character set when it is not the subtitle style's, bold
// from a weight of 600 up, italic and the point size, as one block's tags joined by '\'.
std::u16string font_tag(const PickedFont& font, int32_t style_charset);

// --- Readability test ------------------------------------------------------------------------

// The test hides the sample, shows it after kReadabilityLeadMillis for the subtitle's display
// time, and enables the button again kReadabilityTailMillis after hiding it.
inline constexpr int32_t kReadabilityLeadMillis = 2000;
inline constexpr int32_t kReadabilityTailMillis = 1000;

// The display time in milliseconds of frames [start, stop) at `rate_out` (frames per 1000 s),
// rounded; 0 when there is nothing to show (stop not after start, or no rate).
int32_t display_millis(script::FrameTime start, script::FrameTime stop, int32_t rate_out);
// The display time of the fields as typed; none when either field is empty or not valid.
std::optional<int32_t> readability_millis(const Document& document, const SubtitleEdit& edit);

// --- OK --------------------------------------------------------------------------------------

enum class SubtitleEditResult {
    Refused,    // a field is not valid or the line could not be rewritten (reported); nothing
                // changed and the dialog stays open
    Unchanged,  // the fields say what the script holds
    Changed,    // the script was edited, the build updated and the document marked modified
};

// OK. Checked in order: the text must hold more than blanks (kEmptyDialogText), the start and
// then the stop must be valid (kInvalidStartText, kInvalidStopText; a stop not after the start
// is not valid). Then the text is written as typed (line breaks become "\N"), the style chosen,
// and the times: a checked absolute box stores its time as the event's ABSOLUTEIN / ABSOLUTEOUT
// override (SMPTE form; ABSOLUTEOUT names the last visible frame) and leaves that time of the
// Dialogue line alone, an unchecked one drops the override and writes the time into the line
// (the segment's offsets taken off). A line that cannot take the edit reports
// kSubtitleUpdateFailedText and is left as it was. The build is brought up to date
// incrementally through the timeline's retime, `shown` following the subtitle (or, when it
// draws nothing, kept to a subpicture there still is; -1 for none); a blinking line
// (before or after the edit) makes and remakes event copies, so the document is built again
// instead, and `shown` is then the first subpicture that holds the line. A failed rebuild has been
// reported; the edit stands. A new build keeps `messages` for its later reports, as
// Document::build_preview does: it must outlive the build.
SubtitleEditResult apply_subtitle_edit(Document& document, int32_t timeline_index,
                                       const SubtitleEdit& edit, int32_t& shown,
                                       base::Messages& messages);

}  // namespace tessara::document
