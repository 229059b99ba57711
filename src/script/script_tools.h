#pragma once

#include <string_view>

namespace tessara::base {
class Messages;
}

// Tools that change every event of a script at once. Each reports through the Messages it is
// given and leaves the script unchanged when it is cancelled or fails.
namespace tessara::script {

class Script;

enum class ToolOutcome {
    Changed,    // the script was edited (and marked modified and in need of a rebuild)
    Unchanged,  // nothing needed changing
    Cancelled,  // the user declined the question
    Failed,     // the input was refused; the message has been shown
};

extern const char* const kConvertUnicodeQuestion;
extern const char* const kUndecodableWordsFormat;  // one %d: the number of lines
extern const char* const kUndecodedLinesFormat;    // one %d: the number of lines
extern const char* const kSnapEmptyRateText;
extern const char* const kSnapBadNumberText;
extern const char* const kSnapBadValueText;
extern const char* const kQuotesQuestion;
extern const char* const kQuotesUnencodableFormat;  // one %d: the number of lines

// Makes an 8-bit script a Unicode one (there is no way back; the user is asked first). The
// Text field of every Dialogue line is decoded word by word with the code page the reader
// decodes its runs with, keeping every tag, blank and break as written; a word that code page
// cannot decode is stored as "Error", as the reader already showed it (reported with
// kUndecodableWordsFormat). Every other stored text (other lines, the fields of Dialogue lines
// before the Text, Style lines with their styles' names and texts, the style order list) is
// decoded with the system code page: Style and Dialogue lines field by field so that style names
// decode alike everywhere, other lines whole. A field or line that does not decode is kept as it
// was (reported with kUndecodedLinesFormat). Every event is then derived again from its line.
// The script is saved as UTF-16 from then on. Unchanged when the script is already Unicode
// (UTF-16 or UTF-8).
ToolOutcome convert_to_unicode(Script& script, base::Messages& messages);

// Snaps the start and end of every Dialogue line to the frame slots of `rate_text` frames per
// second (a decimal number, ',' taken as the decimal point): a time t in hundredths becomes
// floor(ceil(t * r * 0.01) / r * 100), the start of the first frame that does not begin before
// t, truncated to hundredths. An end that would fall on its start is moved to the next frame
// slot, so that no line is left with start equal to end (which the reader would drop). For a
// blinking line the line's own times are snapped and its copies made again. Failed with
// kSnapEmptyRateText, kSnapBadNumberText or kSnapBadValueText (also when a snapped time would
// leave the range a Dialogue line can hold); nothing is changed then.
ToolOutcome snap_times(Script& script, std::u16string_view rate_text, base::Messages& messages);

// After the user confirms, pairs straight double quotes from the left in the visible text of
// every Dialogue line (quotes inside override blocks and program tags are tag syntax and stay):
// the first becomes U+201C, the next U+201D; a last unpaired one stays straight. In an 8-bit
// script each typographic quote is stored encoded with the code page of the run it falls in; a
// line whose code page cannot hold them is left unchanged and reported (kQuotesUnencodableFormat).
ToolOutcome straight_to_typographic_quotes(Script& script, base::Messages& messages);

}  // namespace tessara::script
