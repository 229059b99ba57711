#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "render/bitmap.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "script/timecode.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace tessara::script {
class Script;
}

namespace tessara::document {

// A script's timeline with every subpicture completed (colours, renderings, placement), as the
// views that show or draw subpictures need it. It points into the script it was built from.
struct PreviewBuild {
    std::unique_ptr<render::FontEngine> engine;
    std::unique_ptr<render::FontCache> fonts;
    timeline::Timeline timeline;
    std::unique_ptr<timeline::BuildContext> context;

    // The subpicture numbered `number`, or the one shown at `frame`; null when there is none.
    const timeline::Subpicture* find(std::optional<int64_t> number,
                                     std::optional<script::FrameTime> frame) const;
};

// One subtitle of a subpicture: its event (numbered from 0) and the box it is drawn in.
struct MemberRow {
    int64_t event = -1;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool cut = false;  // the box is larger than the output frame: part of its text is not shown
};

// One subpicture as the timeline views list it.
struct SubpictureRow {
    int32_t number = 0;
    script::FrameTime start;
    script::FrameTime stop;  // the first frame not shown
    uint32_t colours[3] = {0, 0, 0};
    std::vector<MemberRow> members;
};
std::vector<SubpictureRow> subpicture_rows(const PreviewBuild& build, const script::Script& script);

// The composed subpicture at full output size over BackColor, each pixel class in its slot's
// colour (timeline::colour_of_class).
render::Bitmap<uint32_t> paint_subpicture(const timeline::Subpicture& sp,
                                          const script::Script& script);

// An event drawn alone: the picture, and the number of lines its text was broken into.
struct DrawnEvent {
    render::Bitmap<uint32_t> image;
    int32_t lines = 0;
};

// The index of an event in the script's event list, or -1.
int64_t event_index(const script::Script& script, const script::DialogueEvent* event);

}  // namespace tessara::document
