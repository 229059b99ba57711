#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/style.h"
#include "script/style_override.h"

namespace tessara::script {

// One run of an event's text: normally one word with uniform formatting, with the override in
// force when it was finished and the spacing around it.
struct CSubSegment {
    std::optional<StyleOverride> override;
    bool space_before = false;
    bool space_after = false;
    bool line_break_after = false;
    // Colours of the run: the bound style merged with the run's override.
    Colour text_colour = 0;
    Colour antialias_colour = 0;
    Colour outline_colour = 0;
    // Colours the subpicture assigns to the run (the colours it is drawn with), and the classes
    // below: what a build decides, held in the build's copy of the runs.
    Colour assigned_text = 0;
    Colour assigned_antialias = 0;
    Colour assigned_outline = 0;
    // Colour slots 0-2 the subpicture assigns to the run's classes; 3 is none.
    uint8_t text_class = 3;
    uint8_t antialias_class = 3;
    uint8_t outline_class = 3;
    std::u16string text;
    bool right_to_left = false;

    bool operator==(const CSubSegment&) const = default;
};

// How run texts are treated after scanning.
enum class TextEncoding {
    AsRead,      // Unicode script: run texts stay as read
    DecodeAnsi,  // 8-bit script: each run's bytes are decoded with its character set's code page
    EncodeAnsi,  // Unicode text going into an 8-bit script: each run is encoded to its code page
};

// The options that decide how an event's text is scanned. Only an 8-bit script's conversions
// read the code page fields; a Unicode script leaves them at their defaults so that options of
// two of its events compare equal whatever their styles.
struct ScanOptions {
    bool treat_n_as_N = false;  // "\n" is a hard break like "\N" (a per-user preference)
    TextEncoding encoding = TextEncoding::AsRead;
    int system_code_page = 1252;  // code page for character sets 0 and 1
    int32_t style_charset = 0;    // Encoding of the event's style
    int32_t forced_charset = -1;  // the "CodePage" setting; -1 keeps the style's

    bool operator==(const ScanOptions&) const = default;
};

// The character set a run is drawn with and, in an 8-bit script, stored in: the run's own \fe,
// else the forced character set when it is not -1, else the style's.
int32_t effective_charset(const std::optional<StyleOverride>& run_override, int32_t style_charset,
                          int32_t forced_charset);
int32_t effective_charset(const std::optional<StyleOverride>& run_override,
                          const ScanOptions& options);

// The code page text in `charset` is held in: the set's own, the system code page for the sets
// that have none (0 and 1), -1 for a character set without a code page.
int text_code_page(int32_t charset, int system_code_page);

// The code page a run's text is held in. A style's or the forced character set without a code
// page of its own (3, 163 ...) reads as the system code page, as such scripts always read; only
// a run's own \fe naming one leaves the run without a code page (-1).
int run_code_page(const std::optional<StyleOverride>& run_override, const ScanOptions& options);

// What scanning an event's text yields.
struct ScannedText {
    std::vector<CSubSegment> runs;
    std::u16string plain_text;  // runs joined by single spaces, hard breaks as '\n'; not decoded
    bool absolute = false;      // a {#absolute} block
    int32_t blink_period = 0;   // {#blink[N]}: N (100 without a number), 0 outside 10-500
};

// Scans the Text field of a dialogue line into runs. `event_override` is the event's own
// override (margins from the line, set by the caller); an \a tag writes both alignments into it,
// creating it when absent. Never fails on the text itself.
ScannedText scan_event_text(std::u16string_view text, const ScanOptions& options,
                            std::optional<StyleOverride>& event_override);

// Parses the text between '{' and '}' of one override block over the current override and
// returns the new current override. \a tags go into `event_override`.
std::optional<StyleOverride> parse_override_block(std::u16string_view block,
                                                  const std::optional<StyleOverride>& current,
                                                  std::optional<StyleOverride>& event_override);

// Run characters written so that the scanner reads them back as one word: '\\' as "\\\\", '{' as
// "\\{", a blank as "\\h", a tab as "\\t".
std::u16string escape_word(std::u16string_view chars);

// Writes runs back as SSA text with the override tags each run changes.
std::u16string serialize_runs(const std::optional<StyleOverride>& event_override,
                              const std::vector<CSubSegment>& runs);

// Fills each run's three colours from `style` merged with the run's override.
void fill_run_colours(std::vector<CSubSegment>& runs, const Style& style, bool old_scale);

}  // namespace tessara::script
