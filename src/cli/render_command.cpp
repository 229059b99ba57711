#include <iostream>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/timeline_build.h"
#include "imaging/png_writer.h"
#include "render/font_cache.h"
#include "render/subpicture_canvas.h"
#include "render/text_layout.h"
#include "script/script.h"
#include "timeline/subpictures.h"

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

// The composed subpicture over the background colour at full output size: class 2 in the first
// slot's colour, class 0 in the second's, class 1 in the third's.
render::Bitmap<uint32_t> paint_subpicture(const timeline::Subpicture& sp,
                                          const script::Script& script) {
    const auto& c = script.settings;
    render::SubpictureCanvas canvas(c.res_x, c.res_y - c.minus2);
    timeline::compose(sp, canvas, true);
    render::Bitmap<uint32_t> image(canvas.width(), canvas.height(), c.back_color & 0xFFFFFF);
    for (int32_t y = 0; y < canvas.height(); ++y) {
        for (int32_t x = 0; x < canvas.width(); ++x) {
            const uint8_t k = canvas.classes().at(x, y);
            image.at(x, y) = timeline::colour_of_class(sp.colors, k, c.back_color) & 0xFFFFFF;
        }
    }
    return image;
}

int render_subpicture(script::Script& script, std::optional<long> number,
                      std::optional<std::string> at, const std::string& output, long scale,
                      const GlobalOptions& options, CliMessages& messages) {
    std::optional<script::FrameTime> frame;
    if (at) {
        auto t = script::parse_script_time(base::utf8_to_utf16(*at), true, true);
        if (!t || !t->time.smpte) {
            throw UsageError{"render: --at takes an SMPTE time HH:MM:SS:FF, got '" + *at + "'"};
        }
        script::TimingSettings timing = script.settings.timing;
        if (!script::validate_timing(timing, script.settings.iauthor(), &messages, false)) {
            return kExitFailed;
        }
        frame = script::frame_time_from_script_time(t->time, timing);
    }
    BuiltTimeline built;
    if (!build_timeline(script, messages, options.quiet, built)) {
        return kExitFailed;
    }
    const auto& subs = built.timeline.subpictures();
    const timeline::Subpicture* found = nullptr;
    for (size_t i = 0; i < subs.size() && found == nullptr; ++i) {
        const auto& sp = *subs[i];
        if (sp.members.empty())
            continue;
        if (number && sp.sequence == *number)
            found = &sp;
        if (frame && sp.start <= *frame && i + 1 < subs.size() && *frame < subs[i + 1]->start) {
            found = &sp;
        }
    }
    if (found == nullptr) {
        messages.error(number ? "There is no subpicture " + std::to_string(*number) + "."
                              : "No subtitle is shown at " + *at + ".");
        return kExitFailed;
    }
    auto image = imaging::enlarge(paint_subpicture(*found, script), static_cast<int32_t>(scale));
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
    script::Script script;
    if (!open_for_command(path, options, script, messages)) {
        return kExitFailed;
    }
    if (!event) {
        return render_subpicture(script, subpicture, at, *output, scale, options, messages);
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
        imaging::enlarge(paint(sub, script.settings.back_color), static_cast<int32_t>(scale));
    if (!write_picture(*output, image, messages)) {
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
