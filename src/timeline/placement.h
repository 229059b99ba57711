#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "render/text_layout.h"
#include "script/settings.h"
#include "script/style.h"
#include "script/timecode.h"
#include "timeline/timeline.h"

namespace tessara::script {
struct DialogueEvent;
}

// Where the subtitles of a subpicture stand: stacking each subpicture by itself, or intelligent
// collisions that keep a subtitle where it first appeared and move newcomers out of its way.
// All positions are top-left corners of the subtitle boxes in output pixels, relative to the
// subpicture canvas (ResX wide, ResY - Minus2 high).
namespace tessara::timeline {

// What placement reads from the conversion settings.
struct PlacementSettings {
    int32_t res_x = 720, res_y = 480, minus2 = 2;
    bool no_hrz_coll = false, intell_coll = true, coll_foresee = true;
    int32_t compatible = 0;  // "Compatible" bits (script/compatible.h)

    static PlacementSettings from(const script::ConversionSettings& settings);

    // Height of the canvas the stacking works in: ResY - Minus2.
    int64_t stack_height() const { return int64_t{res_y} - minus2; }
    // The band intelligent placement keeps subtitles in: [area_top, area_bottom].
    int64_t area_top() const { return minus2; }
    int64_t area_bottom() const { return minus2 == 3 ? int64_t{res_y} - 1 : int64_t{res_y}; }
    int64_t area_height() const { return area_bottom() - area_top(); }
};

// Left edge of a subtitle box from its horizontal alignment and margins.
int32_t horizontal_position(const render::RenderedSubtitle& sub, int32_t frame_width);

// Stacks the rendered members of one subpicture from their margins, highest precedence on the
// outside. Members without a rendering are left alone. True when any member's (x, y) changed.
bool stack_subpicture(Subpicture& subpicture, const PlacementSettings& settings);

enum class PlacementPass {
    Automatic,  // subtitles without a manual x position
    Manual,     // subtitles with one
    Single      // everything
};

// One step of intelligent placement: the members of one vertical alignment of one subpicture.
// Stamps a new change id on the subpicture (once) when a position changed, and then returns true.
bool place_group(Timeline& timeline, size_t subpicture_index, script::VAlign valign,
                 PlacementPass pass, const PlacementSettings& settings);

// Intelligent placement over every subpicture of the timeline, from scratch.
void place_all(Timeline& timeline, const PlacementSettings& settings);

struct Point {
    int32_t x, y;
};

// Where a member's box is drawn: the manual position when its event has one, else the placed
// position, moved up by the box's collision top offset. Unset coordinates stay unset.
Point drawn_origin(const SubpictureMember& member);

// Whether a member's box is wider or taller than the subpicture canvas (ResX by ResY - Minus2),
// so that part of its text is cut off wherever it stands. False for a member not rendered.
bool box_exceeds_frame(const SubpictureMember& member, const PlacementSettings& settings);

struct CollisionStatus {
    std::string before, after;
};

// Whether a subtitle shown from `start` to `last_visible` (both included) shares the screen with
// other subtitles just before it and just after it, or how far away they are.
CollisionStatus collision_status(const Timeline& timeline, script::FrameTime start,
                                 script::FrameTime last_visible,
                                 const script::DialogueEvent* event);

// Building blocks, exposed for testing.
namespace placement_detail {

// A rectangle with exclusive right and bottom edges; empty when either extent is not positive.
struct Rect {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
};

bool intersects(const Rect& a, const Rect& b);

enum class Direction { Up = -1, Down = 1 };

// Moves `box` vertically, in one direction only, until it overlaps none of the obstacles.
// The new top, or nothing when the box would leave [area_top, area_bottom] on the way.
std::optional<int64_t> move_clear(const std::vector<Rect>& obstacles, Rect box, Direction dir,
                                  int64_t area_top, int64_t area_bottom);

}  // namespace placement_detail

}  // namespace tessara::timeline
