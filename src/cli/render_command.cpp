#include <iostream>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "render/font_cache.h"
#include "render/png_writer.h"
#include "render/text_layout.h"
#include "script/script.h"

namespace tessara::cli {

namespace {

// The slots a run's text, anti-alias and outline take when the subtitle is shown alone in the
// script's colour mode: one text, one anti-alias and one outline colour; two text colours and
// an outline (no anti-alias); or three text colours (neither anti-alias nor outline).
void set_classes(std::vector<script::CSubSegment>& runs, int32_t colour_mode) {
    for (auto& run : runs) {
        run.text_class = colour_mode == 1 ? 2 : 0;
        run.antialias_class = colour_mode == 1 ? 0 : render::kBackground;
        run.outline_class = colour_mode == 3 ? render::kBackground : 1;
    }
}

// Paints the laid-out box over the background colour, each pixel in its run's colour.
render::Bitmap<uint32_t> paint(const render::RenderedSubtitle& sub, uint32_t background) {
    render::Bitmap<uint32_t> image(std::max(sub.box_width, 1), std::max(sub.box_height, 1),
                                   background & 0xFFFFFF);
    for (const auto& seg : sub.segments) {
        for (int32_t py = 0; py < seg.height; ++py) {
            for (int32_t px = 0; px < seg.width; ++px) {
                const uint8_t c = seg.class_at(px, py);
                if (c == render::kBackground || !image.contains(seg.x + px, seg.y + py)) {
                    continue;
                }
                uint32_t colour = c == seg.text_class        ? seg.text_colour
                                  : c == seg.antialias_class ? seg.antialias_colour
                                                             : seg.outline_colour;
                image.at(seg.x + px, seg.y + py) = colour & 0xFFFFFF;
            }
        }
    }
    return image;
}

}  // namespace

int run_render(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string path;
    std::optional<std::string> output;
    std::optional<long> event;
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
    if (path.empty() || !event || !output) {
        throw UsageError{"usage: tessara render SCRIPT --event N -o OUT.png [--scale K]"};
    }

    CliMessages messages(options.yes);
    script::Script script;
    if (!open_for_command(path, options, script, messages)) {
        return kExitFailed;
    }
    if (static_cast<size_t>(*event) >= script.events().size()) {
        messages.error("There is no event " + std::to_string(*event) + ": the script has " +
                       std::to_string(script.events().size()) + " events (numbered from 0).");
        return kExitFailed;
    }
    script::DialogueEvent shown = *script.events()[static_cast<size_t>(*event)];
    set_classes(shown.runs, script.settings.colors);

    auto engine = render::make_system_font_engine();
    render::FontCache fonts(*engine);
    render::LayoutSettings settings = render::LayoutSettings::from_script(script);
    render::RenderedSubtitle sub;
    if (!render::layout_subtitle(shown, settings, fonts, messages, sub)) {
        messages.error("Event " + std::to_string(*event) +
                       " has nothing to draw: no run of its text could be rendered.");
        return kExitFailed;
    }
    auto image =
        render::enlarge(paint(sub, script.settings.back_color), static_cast<int32_t>(scale));
    if (image.empty() || !render::write_png(*output, image, messages)) {
        return kExitFailed;
    }
    int lines = 0;
    for (const auto& seg : sub.segments)
        lines += seg.end_of_line ? 1 : 0;
    std::cout << "event " << *event << ": " << sub.box_width << " x " << sub.box_height
              << " pixels, " << lines << (lines == 1 ? " line" : " lines") << " -> " << *output
              << '\n';
    return kExitOk;
}

}  // namespace tessara::cli
