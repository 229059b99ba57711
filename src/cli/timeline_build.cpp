#include "cli/timeline_build.h"

#include "cli/cli_messages.h"
#include "cli/cli_progress.h"
#include "script/script.h"

namespace tessara::cli {

bool build_timeline(script::Script& script, CliMessages& messages, bool quiet, BuiltTimeline& out) {
    if (!script::validate_timing(script.settings.timing, script.settings.iauthor(), &messages,
                                 false)) {
        return false;
    }
    out.engine = render::make_system_font_engine();
    out.fonts = std::make_unique<render::FontCache>(*out.engine);
    out.timeline.fill(script, messages);
    if (!timeline::build_subpictures(out.timeline, false)) {
        return true;  // no subtitles: nothing to build
    }
    CliProgress progress(quiet);
    out.context = std::make_unique<timeline::BuildContext>(script, *out.fonts, messages, &progress);
    if (!timeline::BuildAll(out.timeline, *out.context)) {
        messages.error(timeline::kBuildAllErrorText);
        return false;
    }
    out.context->progress = nullptr;
    return true;
}

int64_t event_index(const script::Script& script, const script::DialogueEvent* event) {
    const auto& events = script.events();
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].get() == event) {
            return static_cast<int64_t>(i);
        }
    }
    return -1;
}

}  // namespace tessara::cli
