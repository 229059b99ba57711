#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "render/font_cache.h"
#include "render/pixel_class.h"
#include "script/event_text.h"
#include "script/style.h"

namespace tessara::base {
class Messages;
}
namespace tessara::script {
class Script;
struct DialogueEvent;
}  // namespace tessara::script

// Turning an event's runs into rendered words and placing them in the subtitle's box. All
// geometry is in output pixels; text is measured in logical units (1/16 px, or whole pixels
// with the older rendering) and converted once per run.
namespace tessara::render {

extern const char* const kCannotCreateBitmapText;
extern const char* const kCannotReadPixelsText;

// Everything rendering reads from the settings and the script.
struct LayoutSettings {
    FontSettings fonts;
    int32_t res_x = 720;         // "ResX": the width lines are broken against
    int32_t char_spacing = 0;    // "CharSpacing", device pixels
    int32_t line_spacing = 0;    // "LineSpacing", percent; 0 = 100
    int32_t tab_width = 32;      // "TabWidth"
    int32_t compatible = 0;      // "Compatible" bits (script/compatible.h)
    bool bw_wrap = true;         // "BWWrap": balanced line breaking
    bool scale_screen = true;    // "ScaleScreen": margins scaled from script to output size
    bool right_to_left = false;  // "RightToLeft"
    int32_t output_width = 720;
    int32_t output_height = 478;
    int32_t script_width = 1024;  // from PlayResY
    int32_t script_height = 768;
    bool generate_bitmaps = true;  // off: geometry only, every pixel background
    // With generate_bitmaps off: a run too large to draw is still refused (and reported) as a
    // drawing pass would refuse it, so that the geometry is the one drawing gives. For a build
    // that measures first and draws each subtitle only when its bitmap is written.
    bool refuse_undrawable = false;

    static LayoutSettings from_script(const script::Script& script);
};

// One rendered run (normally a word).
struct RenderedSegment {
    int32_t width = 0;        // W: the run's box, padding and outline included
    int32_t height = 0;       // H
    ClassMap classes;         // W x H; empty when no pixels were drawn (all background)
    int32_t inner_width = 0;  // W - 2 pad
    int32_t ascent = 0;
    int32_t outline = 0;  // o, 0-4
    int32_t pad = 0;
    int32_t advance = 0;
    int32_t line_height = 0;
    int32_t space_before = 0;  // width of the space before, 0 without one
    int32_t space_after = 0;
    bool line_break_after = false;
    bool right_to_left = false;
    bool tab = false;
    bool end_of_line = false;
    // The run's colours (24-bit, red in the low byte) and the slots its classes use.
    script::Colour text_colour = 0;
    script::Colour antialias_colour = 0;
    script::Colour outline_colour = 0;
    uint8_t text_class = 0;
    uint8_t antialias_class = kBackground;
    uint8_t outline_class = kBackground;
    int32_t x = 0;  // left of the box in the subtitle box
    int32_t y = 0;  // top of the box in the subtitle box

    // The class of a pixel of the box; background outside the map and for tab runs.
    uint8_t class_at(int32_t px, int32_t py) const {
        return tab ? kBackground : classes.get(px, py, kBackground);
    }
};

// One laid-out event.
struct RenderedSubtitle {
    const script::DialogueEvent* event = nullptr;
    std::vector<RenderedSegment> segments;
    int32_t margin_top = 0, margin_bottom = 0, margin_left = 0, margin_right = 0;
    script::HAlign halign = script::HAlign::Centre;
    script::VAlign valign = script::VAlign::Bottom;
    bool absolute = false;
    int32_t box_width = 0;
    int32_t box_height = 0;
    int32_t collision_height = 0;
    int32_t collision_top = 0;
    int32_t trailing_line_space = 0;
};

// Measures and (with generate_bitmaps) rasterises one run. `subtitle_style` is the event's style
// merged with the event's own override; the run's override is merged over it here. Nothing when
// the font cannot be created or a bitmap cannot be made (the latter with a message).
std::optional<RenderedSegment> DrawText(const script::CSubSegment& run,
                                        const script::Style& subtitle_style,
                                        const LayoutSettings& settings, FontCache& fonts,
                                        base::Messages& messages);

// What line breaking needs of a run.
struct BreakItem {
    int32_t inner_width = 0;
    int32_t advance = 0;
    int32_t outline = 0;
    int32_t space_before = 0;
    int32_t space_after = 0;
    bool line_break_after = false;
};

// The end (one past the last run) of the line that starts at `begin`: greedy, or balanced
// against the following lines when `balanced` is set and the line overflows.
size_t break_line(const std::vector<BreakItem>& items, size_t begin, int32_t available,
                  bool balanced);

// Lays out the segments (already drawn, in order): line breaks, baselines, x positions,
// alignment and tab stops, and the box metrics. `available` is the width lines break against.
void position_segments(RenderedSubtitle& sub, int32_t available, int32_t style_line_spacing,
                       const LayoutSettings& settings);

// Renders and lays out one event. False when no run rendered. The run bitmaps of one event
// take at most 64 Mi pixels together (also counted when only measuring with
// refuse_undrawable); runs beyond that are left out and the bitmap message is reported once.
bool layout_subtitle(const script::DialogueEvent& event, const LayoutSettings& settings,
                     FontCache& fonts, base::Messages& messages, RenderedSubtitle& out);
// The same with `runs` (the event's runs as a build colours them) in place of the event's own.
bool layout_subtitle(const script::DialogueEvent& event,
                     const std::vector<script::CSubSegment>& runs, const LayoutSettings& settings,
                     FontCache& fonts, base::Messages& messages, RenderedSubtitle& out);

}  // namespace tessara::render
