#pragma once

#include <memory>

#include "render/font_cache.h"
#include "render/font_engine.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace tessara::script {
class Script;
}

namespace tessara::cli {

class CliMessages;

// A script's timeline with its subpictures completed (colours, renderings, placement), as the
// commands that show or draw subpictures need it.
struct BuiltTimeline {
    std::unique_ptr<render::FontEngine> engine;
    std::unique_ptr<render::FontCache> fonts;
    timeline::Timeline timeline;
    std::unique_ptr<timeline::BuildContext> context;
};

// Checks the frame rates, fills the timeline and builds everything. False when the frame rates
// are not set or a subtitle cannot be rendered (the message has been printed).
bool build_timeline(script::Script& script, CliMessages& messages, bool quiet, BuiltTimeline& out);

// The index of an event in the script's event list, or -1.
int64_t event_index(const script::Script& script, const script::DialogueEvent* event);

}  // namespace tessara::cli
