#include <iostream>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/cli_progress.h"
#include "cli/commands.h"
#include "document/document.h"
#include "imaging/png_writer.h"
#include "script/timecode.h"

namespace tessara::cli {

namespace {

// Writes the picture as PNG. An empty picture is one without pixels, or one enlarge() refused as
// too large; it is reported here, as nothing further down would say why nothing was written.
bool write_picture(const std::string& path, const render::Bitmap<uint32_t>& image,
                   base::Messages& messages) {
    if (image.empty()) {
        messages.error("Cannot write " + path +
                       ": the picture is empty, or larger than 32768 pixels on a side or "
                       "128 Mi pixels in all (try a smaller --scale).");
        return false;
    }
    return imaging::write_png(path, image, messages);
}

int render_subpicture(document::Document& document, std::optional<long> number,
                      std::optional<std::string> at, const std::string& output, long scale,
                      const GlobalOptions& options, CliMessages& messages) {
    std::optional<script::FrameTime> frame;
    if (at) {
        auto t = script::parse_script_time(base::utf8_to_utf16(*at), true, true);
        if (!t || !t->time.smpte) {
            throw UsageError{"render: --at takes an SMPTE time HH:MM:SS:FF, got '" + *at + "'"};
        }
        const auto& settings = document.script().settings;
        script::TimingSettings timing = settings.timing;
        if (!script::validate_timing(timing, settings.iauthor(), &messages, false)) {
            return kExitFailed;
        }
        frame = script::frame_time_from_script_time(t->time, timing);
    }
    CliProgress progress(options.quiet);
    const document::PreviewBuild* build = document.build_preview(&progress, messages);
    if (build == nullptr) {
        return kExitFailed;
    }
    const timeline::Subpicture* found =
        build->find(number ? std::optional<int64_t>(*number) : std::nullopt, frame);
    if (found == nullptr) {
        messages.error(number ? "There is no subpicture " + std::to_string(*number) + "."
                              : "No subtitle is shown at " + *at + ".");
        return kExitFailed;
    }
    auto image = imaging::enlarge(document::paint_subpicture(*found, document.script()),
                                  static_cast<int32_t>(scale));
    if (!write_picture(output, image, messages)) {
        return kExitFailed;
    }
    std::cout << "subpicture " << found->sequence << " ("
              << base::utf16_to_utf8(script::format_smpte(found->start)) << ", "
              << found->members.size() << (found->members.size() == 1 ? " subtitle" : " subtitles")
              << ") -> " << output << '\n';
    return kExitOk;
}

}  // namespace

int run_render(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string path;
    std::optional<std::string> output;
    std::optional<long> event;
    std::optional<long> subpicture;
    std::optional<std::string> at;
    long scale = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw UsageError{"render: " + a + " needs a value"};
            return args[++i];
        };
        auto number = [&](const std::string& v, long lo, long hi) {
            auto n = base::parse_int_exact(base::utf8_to_utf16(v));
            if (!n || *n < lo || *n > hi) {
                throw UsageError{"render: " + a + " takes a number from " + std::to_string(lo) +
                                 " to " + std::to_string(hi) + ", got '" + v + "'"};
            }
            return static_cast<long>(*n);
        };
        if (a == "--event") {
            event = number(value(), 0, INT32_MAX);
        } else if (a == "--subpicture") {
            subpicture = number(value(), 1, INT32_MAX);
        } else if (a == "--at") {
            at = value();
        } else if (a == "-o" || a == "--output") {
            output = value();
        } else if (a == "--scale") {
            scale = number(value(), 1, 16);
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{"render: unknown option " + a};
        } else if (path.empty()) {
            path = a;
        } else {
            throw UsageError{"render takes one SCRIPT"};
        }
    }
    const int chosen = (event ? 1 : 0) + (subpicture ? 1 : 0) + (at ? 1 : 0);
    if (path.empty() || chosen != 1 || !output) {
        throw UsageError{
            "render needs a SCRIPT, -o OUT.png and one of --event, --subpicture or --at"};
    }

    CliMessages messages(options.yes);
    document::Document document;
    if (!open_for_command(path, options, document, messages)) {
        return kExitFailed;
    }
    if (!event) {
        return render_subpicture(document, subpicture, at, *output, scale, options, messages);
    }
    auto drawn = document.draw_event(static_cast<size_t>(*event), messages);
    if (!drawn) {
        return kExitFailed;
    }
    const int32_t width = drawn->image.width();
    const int32_t height = drawn->image.height();
    if (!write_picture(*output, imaging::enlarge(drawn->image, static_cast<int32_t>(scale)),
                       messages)) {
        return kExitFailed;
    }
    std::cout << "event " << *event << ": " << width << " x " << height << " pixels, "
              << drawn->lines << (drawn->lines == 1 ? " line" : " lines") << " -> " << *output
              << '\n';
    return kExitOk;
}

}  // namespace tessara::cli
