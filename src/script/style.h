#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace tessara::script {

using Colour = uint32_t;  // 24-bit colour, red in the low byte (SSA's &HBBGGRR& read as a number)

enum class HAlign : uint8_t { Left = 0, Right = 1, Centre = 2 };
enum class VAlign : uint8_t { Top = 0, Bottom = 1, Middle = 2 };

struct ScriptLine;

// One SSA style with the program's extras. Defaults are those of a style without any column.
struct Style {
    static constexpr int32_t kUnsetExtraSpace = INT32_MIN;
    static constexpr int32_t kDefaultFontFlags = 296;
    // Every margin a Style line does not set.
    static constexpr int32_t kDefaultMargin = 30;

    std::u16string name;  // without a leading '*'
    bool starred = false;
    std::u16string face = u"Verdana";
    bool bold = false;
    bool italic = false;
    Colour primary = 0xFFFFFF;
    Colour outline_colour = 0;
    Colour antialias = 0x808080;  // synthesised from primary, outline and aa_average
    int32_t margin_top = kDefaultMargin;
    int32_t margin_bottom = kDefaultMargin;
    int32_t margin_left = kDefaultMargin;
    int32_t margin_right = kDefaultMargin;
    int32_t outline = 2;  // 0-4
    HAlign halign = HAlign::Centre;
    VAlign valign = VAlign::Bottom;
    int32_t priority = 0;
    int32_t charset = 0;  // 0-255
    bool charset_by_tag = false;
    int32_t extra_space = kUnsetExtraSpace;  // unset: the global character spacing
    int32_t line_spacing = 0;
    int32_t font_flags = kDefaultFontFlags;
    int32_t italics_left = 0;
    int32_t italics_right = 0;
    int32_t aa_average = 50;
    int32_t face_threshold = 85;
    int32_t aa_threshold = 200;
    // SSA columns kept as text and not interpreted.
    std::u16string secondary, tertiary, alpha_level, shadow, border_style;
    int32_t id = 0;              // fresh for every created or derived style
    ScriptLine* line = nullptr;  // the style's kept line, if any
    // Stored size. Sizes from a Style line are stored as read; with the old-scale compatibility
    // bit, sizes from anywhere else are stored 2.5 times larger and every size reads back / 2.5.
    int32_t font_size_stored = 24;

    Style();  // takes a fresh id

    // 64-bit intermediates: a stored size near the 32-bit limit must not overflow.
    int32_t font_size(bool old_scale) const {
        return old_scale ? static_cast<int32_t>(int64_t{font_size_stored} * 2 / 5)
                         : font_size_stored;
    }
    // Sets a size that does not come from a Style line (saturating at the 32-bit limits).
    void set_font_size(int32_t size, bool old_scale) {
        int64_t stored = old_scale ? int64_t{size} * 5 / 2 : size;
        font_size_stored = static_cast<int32_t>(std::clamp<int64_t>(stored, INT32_MIN, INT32_MAX));
    }
    // Gives this style a fresh id (after it was edited or derived).
    void renew_id();

    // Recomputes the anti-alias colour from primary, outline_colour and aa_average.
    void synthesise_antialias();
};

// Anti-alias colour between text and outline: per 8-bit channel
// (100 - p) * outline / 100 + text * p / 100 with p = average clamped to 0-100.
Colour synthesise_antialias_colour(Colour text, Colour outline, int32_t average);

// The next value of the process-wide style id counter.
int32_t next_style_id();

}  // namespace tessara::script
