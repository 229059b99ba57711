#pragma once

#include <cstdint>
#include <vector>

#include "script/event_text.h"
#include "script/style.h"

namespace tessara::render {

enum class CharClass : uint8_t { LeftToRight, Neutral, RightToLeft, Space };

// The class right-to-left processing gives a character: from its Unicode bidirectional class,
// with U+0020 and U+00A0 as spaces.
CharClass char_class(char32_t c);

// Rebuilds runs for right-to-left text. Runs are taken in groups of the same effective character
// set (the run's \fe, else forced_charset when not -1, else the style's), a group also ending
// after a line break. Each group is cut into new runs wherever the source run or the direction
// changes and at every space; right-to-left runs get their text reversed with brackets and
// quotes mirrored. The scanned runs are left as they are.
std::vector<script::CSubSegment> right_to_left_runs(const std::vector<script::CSubSegment>& runs,
                                                    const script::Style& subtitle_style,
                                                    int32_t forced_charset);

}  // namespace tessara::render
