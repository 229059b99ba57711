#include "timeline/separate_titles.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "script/script.h"
#include "script/script_edit.h"
#include "script/settings.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace tessara::timeline {

const char* const kMultipleTimelinesText =
    "This function is not available when multiple timelines are defined";
const char* const kTitlesChangedFormat = "%d titles were changed.";
const char* const kNoTitlesChangedText = "No titles were changed.";

namespace {

struct NewEnd {
    script::DialogueEvent* event;
    script::FrameTime stop;  // first frame no longer shown
};

}  // namespace

script::ToolOutcome separate_titles(script::Script& script, base::Messages& messages) {
    const auto& legacy = script.settings.legacy_segments;
    if (legacy.size() > 1) {
        messages.error(kMultipleTimelinesText);
        return script::ToolOutcome::Failed;
    }
    script::ConversionSettings settings = script.settings;
    if (!script::validate_timing(settings.timing, settings.iauthor(), &messages, false)) {
        return script::ToolOutcome::Failed;
    }
    const std::optional<script::ScriptTime> src = legacy.empty() ? std::nullopt : legacy[0].src_pos;
    const std::optional<script::ScriptTime> dst = legacy.empty() ? std::nullopt : legacy[0].dst_pos;

    // Every new end is decided on the subpictures as they stand before any line changes.
    Timeline timeline;
    timeline.fill(script, settings, messages);
    std::vector<NewEnd> ends;
    if (build_subpictures(timeline, false)) {
        const auto& sps = timeline.subpictures();
        for (size_t k = 1; k < sps.size(); ++k) {
            const Subpicture& prev = *sps[k - 1];
            const Subpicture& cur = *sps[k];
            if (prev.members.size() != 1 || cur.members.empty()) {
                continue;
            }
            const TimedSubtitle& ts =
                timeline.subtitles()[static_cast<size_t>(prev.members.front().index)];
            script::FrameTime stop = cur.start;
            --stop;
            // A blinking line's pieces do not end at the line's end, and a subtitle must keep at
            // least one frame: rewriting either would lose subtitles.
            if (ts.event->blink_period != 0 || stop <= ts.start) {
                continue;
            }
            ends.push_back({ts.event, stop});
        }
    }

    int count = 0;
    for (const NewEnd& e : ends) {
        script::FrameTime back = e.stop;
        script::back_convert(back, src, dst, settings.timing);
        const script::ScriptTime end =
            script::script_time_from_frame_time(back, settings.timing.rate_in);
        if (!script::rewrite_event_times(script, *e.event, e.event->start, end)) {
            continue;
        }
        if (e.event->user_override && e.event->user_override->absolute_out) {
            e.event->user_override->absolute_out.reset();
        }
        ++count;
    }

    if (count == 0) {
        messages.inform(kNoTitlesChangedText);
        return script::ToolOutcome::Unchanged;
    }
    char text[64];
    std::snprintf(text, sizeof text, kTitlesChangedFormat, count);
    messages.inform(text);
    script.settings.modified = true;
    script.settings.rebuild_needed = true;
    return script::ToolOutcome::Changed;
}

}  // namespace tessara::timeline
