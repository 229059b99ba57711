#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "timeline/palette.h"

namespace tessara::base {
class Messages;
}

// Reading the palette of a script written earlier back into a new run's palette, so that its
// colours keep their entries.
namespace tessara::formats {

using script::Colour;
using timeline::EditablePalette;

extern const char* const kInvalidHonourPaletteText;
extern const char* const kHonourNotNeededIAuthorText;
extern const char* const kHonourNotNeededUsfText;
extern const char* const kHonourNotImplementedText;

// One palette comment as found after the '#': "NN : RGB( r , g , b )" with any blanks around the
// numbers and punctuation, and nothing but blanks after the closing parenthesis.
struct PaletteComment {
    int64_t index = 0;
    int64_t red = 0;
    int64_t green = 0;
    int64_t blue = 0;
};
std::optional<PaletteComment> parse_palette_comment(std::string_view text_after_prefix);

// Reads the "#" palette comments of a script text (one byte per character, LF or CR LF line
// ends). Entries are numbered from 1 until a comment numbered 0 is met, from 0 after it; each
// colour goes to exactly its entry. A component outside 0-255, or an entry out of range or
// listed twice, reports the invalid-palette message and fails; entries placed before stay.
bool honour_palette_comments(std::string_view script_text, EditablePalette& palette,
                             base::Messages& messages);

}  // namespace tessara::formats
