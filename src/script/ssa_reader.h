#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "script/event_text.h"
#include "script/style_override.h"
#include "script/timecode.h"

namespace tessara::base {
class Messages;
class Preferences;
}  // namespace tessara::base

namespace tessara::script {

class Script;

// Longest line the reader accepts: a line of this many characters or more, its line feed
// included, stops the load.
inline constexpr size_t kMaxLineChars = 10239;

// A blinking event is shown as copies, one per blink. A Dialogue line's times allow seven
// million blinks at the shortest period, each copy repeating the event's runs, so copies are
// limited: at most kMaxBlinkCopies per event (at the shortest period, a tenth of a second,
// almost 17 minutes of blinking), and at most kMaxBlinkRunCopies runs in the copies of all the
// events of a script. An event beyond a limit stops blinking early.
inline constexpr int64_t kMaxBlinkCopies = 10000;
inline constexpr int64_t kMaxBlinkRunCopies = 1000000;

// How many copies (the first one included) a blinking event from `start` to `end` is shown
// as, within kMaxBlinkCopies and a budget of `run_budget` copied runs; at least one.
int64_t blink_copy_count(ScriptTime start, ScriptTime end, int32_t period, size_t runs,
                         int64_t run_budget);

extern const char* const kLineTooLongText;
extern const char* const kNoStylesText;
// When no style was read but Style lines were: the first rejected line's number in the file (%d),
// the column (%s) and what is wrong with it (%s); the load's message is this, a blank line and
// kNoStylesText.
extern const char* const kStyleNotReadFormat;
extern const char* const kNoDialogueText;
// An ASS (V4+) script, which is imported (see ass_import.h), never read directly.
extern const char* const kAssScriptText;
extern const char* const kBlinkAbsoluteText;
extern const char* const kCommentParseErrorFormat;  // one %s: the whole line
extern const char* const kOddUtf16Text;
extern const char* const kBlinkLimitFormat;  // %s: the event's start time; %d: the blinks kept

struct ReadOptions {
    // With parse_dialogue off, Dialogue lines stay ordinary lines.
    bool parse_dialogue = true;
    // Per-user preferences ("Files": "Treat \n as \N", "HonorPalette"); none means defaults.
    const base::Preferences* preferences = nullptr;
};

// What one Dialogue line holds, read with the reader's rules.
struct ParsedDialogue {
    ScriptTime start;
    ScriptTime end;
    std::u16string style_name;  // without a leading '*'
    std::u16string actor;
    // The line's non-zero MarginL/R/V, and the alignment of an \a tag in its text.
    std::optional<StyleOverride> margin_override;
    ScanOptions options;  // what the text was scanned with
    ScannedText text;
};

// Parses the value of a Dialogue line (the text after its first ':', trimmed of spaces) and
// scans its Text field, with the script's options for the style the line names or with the
// options given. Nothing when the reader would reject the line: too few fields, a bad time,
// start not before end, or a margin that is not an integer.
std::optional<ParsedDialogue> parse_dialogue_value(std::u16string_view value, const Script& script);
std::optional<ParsedDialogue> parse_dialogue_value(std::u16string_view value,
                                                   const ScanOptions& options);

// The value of a kept line: the text after its first ':', trimmed of spaces; empty without ':'.
std::u16string_view line_value(std::u16string_view line);

// Loads a script file. With a path the script (and its settings) is reset first and the path
// becomes the source path; without one the source path already in the settings is read again
// and the settings are kept. On failure the message has been shown and the script is reset.
bool load_script(Script& script, const std::optional<std::string>& path, const ReadOptions& options,
                 base::Messages& messages);

// Reads a script from the bytes of a file (the reset is the caller's). source_path, when not
// empty, becomes the settings' source path on success.
bool read_script_bytes(Script& script, std::string_view bytes, std::u16string_view source_path,
                       const ReadOptions& options, base::Messages& messages);

}  // namespace tessara::script
