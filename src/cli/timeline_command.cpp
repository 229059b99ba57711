#include <iostream>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/cli_progress.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "document/document.h"
#include "document/preview_build.h"
#include "script/timecode.h"

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
    document::Document document;
    if (!open_for_command(path, options, document, messages)) {
        return kExitFailed;
    }
    CliProgress progress(options.quiet || json);
    const document::PreviewBuild* build = document.build_preview(&progress, messages);
    if (build == nullptr) {
        return kExitFailed;
    }

    JsonWriter out;
    out.begin_object();
    out.begin_array("subpictures");
    for (const document::SubpictureRow& row :
         document::subpicture_rows(*build, document.script())) {
        const std::u16string start = script::format_smpte(row.start);
        const std::u16string stop = script::format_smpte(row.stop);
        if (!json) {
            std::cout << "#" << row.number << "  " << base::utf16_to_utf8(start) << " - "
                      << base::utf16_to_utf8(stop) << "  colours " << row.colours[0] << ' '
                      << row.colours[1] << ' ' << row.colours[2] << '\n';
        }
        out.begin_object();
        out.value("number", int64_t{row.number});
        out.value("start", std::u16string_view(start));
        out.value("stop", std::u16string_view(stop));
        out.value("start_frame", int64_t{row.start.frame});
        out.value("stop_frame", int64_t{row.stop.frame});
        out.begin_array("colors");
        for (uint32_t colour : row.colours) {
            out.value("", int64_t{colour});
        }
        out.end_array();
        out.begin_array("members");
        for (const document::MemberRow& m : row.members) {
            out.begin_object();
            out.value("event", m.event);
            out.value("x", int64_t{m.x});
            out.value("y", int64_t{m.y});
            out.value("width", int64_t{m.width});
            out.value("height", int64_t{m.height});
            out.value("cut", m.cut);
            out.end_object();
            if (!json) {
                std::cout << "    event " << m.event << " at (" << m.x << ", " << m.y << ") "
                          << m.width << " x " << m.height << (m.cut ? ", cut" : "") << '\n';
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
