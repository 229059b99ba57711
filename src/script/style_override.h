#pragma once

#include <optional>
#include <string>

#include "script/style.h"

namespace tessara::script {

// Formatting that replaces fields of a style: from override tags in the event text, or the
// margins and alignment of the event itself. Every field is optional.
struct StyleOverride {
    std::optional<std::u16string> face;
    std::optional<int32_t> font_size;
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<Colour> primary;
    std::optional<Colour> outline_colour;
    std::optional<Colour> antialias;
    std::optional<int32_t> face_threshold;
    std::optional<int32_t> aa_threshold;
    std::optional<int32_t> margin_vertical;
    std::optional<int32_t> margin_left;
    std::optional<int32_t> margin_right;
    std::optional<int32_t> outline;
    std::optional<HAlign> halign;
    std::optional<VAlign> valign;
    std::optional<int32_t> charset;  // 0-255

    bool operator==(const StyleOverride&) const = default;
};

// A new style: `base` with each set field of `ov` applied (fields 1, 2, 3, 4, 8, 9, 11, 12, 13,
// 14, 15, 6, 7, 16, 10, 5 in that order; the vertical margin lands on the top margin for a top
// aligned result, else on the bottom one). When the anti-alias colour is not given but a text or
// outline colour is, it is synthesised again. The result has a fresh id. old_scale: the
// compatible::kOldScale, under which override sizes are multiplied by 5/2 (rounding).
Style merge_style(const Style& base, const StyleOverride* ov, bool old_scale);

}  // namespace tessara::script
