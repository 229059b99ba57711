#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "render/rect.h"
#include "script/settings.h"

// Reading a written authoring script back: the subpictures it lists, in the order it lists them,
// with what each line says about them. Only what a run writes is understood; anything else is
// kept as a line of its own, so two scripts can still be compared line by line.
namespace tessara::output {

// Left, top, and exclusive right and bottom, in frame pixels.
using FrameArea = render::Rect;

struct ScriptEntry {
    int32_t line = 0;   // 1-based line naming the subpicture (the timestamp line of a VobSub index)
    std::string file;   // the bitmap as named, relative to the script's folder; empty for VobSub
    std::string start;  // the times as written; `end` is empty when the script gives none
    std::string end;
    // Where the picture sits: the whole area when the script gives its size, else only its
    // top-left corner (in the script's own units: half pixels for USF).
    std::optional<FrameArea> area;
    std::optional<std::pair<int32_t, int32_t>> corner;
    // The colour and contrast lines that apply to the subpicture, as written, one per line.
    std::string look;
    // Palette entries the look refers to (each must exist in the target's palette).
    std::vector<int32_t> colour_indices;
    std::vector<int32_t> contrasts;  // 0-15 each
};

struct ScriptLine {
    int32_t number = 0;  // 1-based
    std::string text;    // without its line end
};

struct ParsedScript {
    std::vector<ScriptEntry> entries;
    // Every line that belongs to no subpicture (headers, palette listings, footers).
    std::vector<ScriptLine> other_lines;
    // Lines that look like a subpicture's but cannot be read, with the reason.
    std::vector<std::string> problems;
};

ParsedScript parse_authoring_script(script::ScriptType type, std::string_view text);

// A number that orders the times of one script: later times give larger numbers, whatever the
// script's time form (HH:MM:SS:FF, HH:MM:SS;FF, HH:MM:SS.FFFF, HH:MM:SS:mmm or S.SS).
// Nothing when the text is not such a time.
std::optional<int64_t> time_order_key(std::string_view time);

// Whether a line differs between two runs only because it carries the date of the run.
bool is_dated_line(script::ScriptType type, std::string_view line);

}  // namespace tessara::output
