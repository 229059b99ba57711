#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/event_text.h"
#include "script/timecode.h"

// Edits of a loaded script made by the editor and the script-wide tools. Every edit is applied
// to the kept line itself, and the event is then derived again from the edited line with the
// reader's rules, so that what is in memory is what the saved file will read back as.
//
// Blinking lines: the reader replaces a blinking event by copies; the first copy (the head) owns
// the line, later copies point to it through blink_head and have no line. An edit given any copy
// edits the line of its head. The head object survives every edit; when the line is derived
// again its copies are brought to the number the new times and period give: existing copy
// objects are reused in order, missing ones are inserted right after the last one (or the head),
// surplus ones are removed from the event list. A line that stops blinking keeps only its head,
// and one that starts blinking gets its copies.
//
// Every successful edit increments the change counter of each event it touches and sets the
// settings' modified and rebuild-needed flags.
namespace tessara::script {

class Script;
struct DialogueEvent;
struct Style;

// Rewrites the Start and End fields of the event's Dialogue line in SSA short-hours form. False,
// with nothing changed, when the event has no Dialogue line, either time is in SMPTE form, start
// is not before end, or a time would not read back (outside -99:59:59.99 to 99:59:59.99): each
// would make the reader drop the line. For a blinking line these are the times of the whole
// line; its copies are made again from them.
bool rewrite_event_times(Script& script, DialogueEvent& event, ScriptTime start, ScriptTime end);

// Rewrites the Style field of the event's Dialogue line (a leading '*' of style_name is dropped)
// and binds the event to that style, recomputing its runs: their colours and, in an 8-bit
// script, their texts, decoded with the new style's character set. False, with nothing changed,
// when the event has no Dialogue line or the name holds a comma or a line break (which would
// shift the line's fields).
bool rewrite_event_style(Script& script, DialogueEvent& event, std::u16string_view style_name);

enum class TextInput {
    Typed,   // text as the user sees it (Unicode); an 8-bit script stores it encoded
    Stored,  // text already in the line's stored form (one byte per character in 8-bit scripts)
};

// Replaces the Text field of the event's Dialogue line (everything after its ninth comma) and
// derives the event again from it: runs, plain text, absolute flag, blink period. Line-break
// characters in `text` (CR LF, CR, LF) become "\N": a kept line cannot hold them.
// In an 8-bit script typed text is stored encoded: every word is encoded with the code page of
// its run's effective character set (its \fe, else "CodePage", else the event's style's
// Encoding), as the reader will decode it (a word that code page cannot hold is stored as
// "Error", as the reader shows undecodable runs); override blocks are encoded with the system
// code page. Everything but the words (spacing, breaks, tags the program does not interpret) is
// kept as typed.
// False, with nothing changed, when the event has no Dialogue line, stored text for an 8-bit
// script holds a character above 255, an override block of typed text cannot be encoded, or the
// text would make the line blink while the event has ABSOLUTEIN/ABSOLUTEOUT times (a script
// holding such a line does not load).
bool rewrite_event_text(Script& script, DialogueEvent& event, std::u16string_view text,
                        TextInput input);

// The Style line for `style`: "Style: " and the style's columns in the order of the style
// section's Format line (the identity order without one). A column no field maps to keeps the
// value it had in the style's current line, if any. The reader takes consecutive commas as one
// separator, so an empty value that has a non-empty one after it is written as a single blank
// (read back as absent) rather than as nothing, which would shift every later column.
std::u16string style_line_text(const Script& script, const Style& style);

// Stores style_line_text() in the style's line. A style without a line gets a new one after the
// last style line (or after the "[V4 Styles]" header and its Format line); false when the script
// has neither.
bool rebuild_style_line(Script& script, Style& style);

// Deletes the event at `index` (index < number of events): its line becomes a deleted line with
// empty text and no link, and the event leaves the list. For a blinking line the head and all
// its copies leave the list, whichever copy was given.
void delete_event(Script& script, size_t index);

// Duplicates the event at `index` (index < number of events): a copy of its line is appended at
// the end of the kept lines and a new event derived from it, with a copy of the original's user
// overrides, joins the end of the event list. The new event is returned. Its line is the whole
// line of the original, so the duplicate of a blinking line blinks as well, with its own copies
// after it; the returned event is their head.
DialogueEvent& duplicate_event(Script& script, size_t index);

// ---- Lower level, shared with the script-wide tools ----------------------------------------

// Replaces the whole text of the event's Dialogue line and derives the event (and its blink
// copies) from it. False, with nothing changed, when the event has no Dialogue line, the new
// text is not a Dialogue line the reader accepts, or it would blink while the event has
// ABSOLUTEIN/ABSOLUTEOUT times.
bool set_dialogue_line(Script& script, DialogueEvent& event, std::u16string line_text);

// Index in a Dialogue line just after its ninth comma, where the Text field starts; npos when it
// has fewer commas.
size_t text_field_start(std::u16string_view line);

// A piece of a dialogue Text field as the run scanner sees it.
struct TextPiece {
    enum class Kind : uint8_t {
        Spacing,  // blanks, "\N" and "\n", and the unmatched '{' or "{#" the scanner drops
        Tag,      // an override block "{...}" or a program tag "{#...}", braces included
        Word,     // characters that go into a run's text
    };
    Kind kind = Kind::Spacing;
    size_t begin = 0;  // range in the text field
    size_t end = 0;
    // Word only: the characters as the run holds them (escapes "\\", "\{", "\}", "\h", "\t"
    // resolved), the index in the text field each one comes from, and the code page the reader
    // decodes the run with (text_code_page() of its effective character set; -1 for an unknown
    // character set).
    std::u16string chars;
    std::vector<size_t> sources;
    int code_page = 0;
};

// Splits a Text field into pieces. Words end at spacing and at tags; the override in force for
// each word comes from running the override parser over the blocks before it. `options` are
// those of the event's line (Script::scan_options for its style): they give the code pages.
std::vector<TextPiece> split_event_text(std::u16string_view text, const ScanOptions& options);

enum class WordConversion {
    Decode,  // stored bytes of an 8-bit script to Unicode
    Encode,  // Unicode to the stored bytes of an 8-bit script
};

struct ConvertedText {
    std::u16string text;
    int failed_words = 0;  // words stored as "Error"
    bool tags_ok = true;   // false when a tag could not be converted and was kept as it was
};

// Converts the words of a Text field with their runs' code pages, and its tags holding
// non-ASCII characters with the system code page; spacing is kept. A word the conversion leaves
// unchanged keeps its written form; a converted word is written with escape_word(). `options`
// as for split_event_text().
ConvertedText convert_event_text(std::u16string_view text, WordConversion direction,
                                 const ScanOptions& options);

}  // namespace tessara::script
