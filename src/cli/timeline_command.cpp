#include <iostream>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/timeline_build.h"
#include "script/script.h"
#include "timeline/placement.h"

namespace tessara::cli {

int run_timeline(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string path;
    bool json = false;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{"timeline: unknown option " + a};
        } else if (path.empty()) {
            path = a;
        } else {
            throw UsageError{"timeline takes one SCRIPT"};
        }
    }
    if (path.empty()) {
        throw UsageError{"timeline needs a SCRIPT"};
    }
    CliMessages messages(options.yes);
    script::Script script;
    if (!open_for_command(path, options, script, messages)) {
        return kExitFailed;
    }
    BuiltTimeline built;
    if (!build_timeline(script, messages, options.quiet || json, built)) {
        return kExitFailed;
    }

    JsonWriter out;
    out.begin_object();
    out.begin_array("subpictures");
    auto& subs = built.timeline.subpictures();
    for (size_t i = 0; i < subs.size(); ++i) {
        const timeline::Subpicture& sp = *subs[i];
        if (sp.members.empty()) {
            continue;
        }
        const script::FrameTime stop = i + 1 < subs.size() ? subs[i + 1]->start : sp.start;
        if (!json) {
            std::cout << "#" << sp.sequence << "  "
                      << base::utf16_to_utf8(script::format_smpte(sp.start)) << " - "
                      << base::utf16_to_utf8(script::format_smpte(stop)) << "  colours "
                      << sp.colors.slot0 << ' ' << sp.colors.slot1 << ' ' << sp.colors.slot2
                      << '\n';
        }
        out.begin_object();
        out.value("number", int64_t{sp.sequence});
        out.value("start", std::u16string_view(script::format_smpte(sp.start)));
        out.value("stop", std::u16string_view(script::format_smpte(stop)));
        out.value("start_frame", int64_t{sp.start.frame});
        out.value("stop_frame", int64_t{stop.frame});
        out.begin_array("colors");
        out.value("", int64_t{sp.colors.slot0});
        out.value("", int64_t{sp.colors.slot1});
        out.value("", int64_t{sp.colors.slot2});
        out.end_array();
        out.begin_array("members");
        for (const auto& m : sp.members) {
            const timeline::Point origin = timeline::drawn_origin(m);
            const int32_t w = m.rendered ? m.rendered->box_width : 0;
            const int32_t h = m.rendered ? m.rendered->box_height : 0;
            const int64_t index = event_index(script, m.event);
            out.begin_object();
            out.value("event", index);
            out.value("x", int64_t{origin.x});
            out.value("y", int64_t{origin.y});
            out.value("width", int64_t{w});
            out.value("height", int64_t{h});
            out.end_object();
            if (!json) {
                std::cout << "    event " << index << " at (" << origin.x << ", " << origin.y
                          << ") " << w << " x " << h << '\n';
            }
        }
        out.end_array();
        out.end_object();
    }
    out.end_array();
    out.end_object();
    if (json) {
        std::cout << out.str();
    }
    return kExitOk;
}

}  // namespace tessara::cli
