#include <cstdio>
#include <iostream>
#include <string>
#include <variant>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "script/codepage.h"
#include "script/script.h"

namespace tessara::cli {

namespace {

using script::Script;

std::string u8(std::u16string_view s) {
    return base::utf16_to_utf8(s);
}

// Text of an 8-bit script is held one byte per character; it is shown decoded with the system
// code page (as Latin-1 when the bytes do not decode).
std::string shown_text(const Script& s, std::u16string_view text) {
    if (s.settings.unicode) {
        return u8(text);
    }
    auto decoded = script::decode_8bit(text, script::system_code_page(s.settings.mb_code_page));
    return u8(decoded ? *decoded : std::u16string(text));
}

void write_setting(JsonWriter& json, const script::DescribedSetting& d) {
    std::string key = u8(d.key);
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::vector<std::u16string>>) {
                json.begin_array(key);
                for (const auto& item : v)
                    json.value("", std::u16string_view(item));
                json.end_array();
            } else if constexpr (std::is_same_v<T, std::vector<int64_t>>) {
                json.begin_array(key);
                for (int64_t item : v)
                    json.value("", item);
                json.end_array();
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                json.value(key, std::u16string_view(v));
            } else {
                json.value(key, v);
            }
        },
        d.value);
}

void write_json(const Script& s) {
    JsonWriter json;
    json.begin_object();
    json.value("source", std::u16string_view(s.settings.source_path));
    json.value("unicode", s.settings.unicode);
    json.begin_object("settings");
    for (const auto& d : script::describe_settings(s.settings)) {
        write_setting(json, d);
    }
    json.end_object();

    const bool old_scale = s.settings.old_scale();
    json.begin_array("styles");
    for (const auto& st : s.styles()) {
        json.begin_object();
        json.value("name", std::u16string_view(st->name));
        json.value("face", std::u16string_view(st->face));
        json.value("size", st->font_size(old_scale));
        json.value("bold", st->bold);
        json.value("italic", st->italic);
        json.value("primary", int64_t{st->primary});
        json.value("outline_colour", int64_t{st->outline_colour});
        json.value("antialias", int64_t{st->antialias});
        json.value("outline", st->outline);
        json.value("halign", static_cast<int>(st->halign));
        json.value("valign", static_cast<int>(st->valign));
        json.value("margin_l", st->margin_left);
        json.value("margin_r", st->margin_right);
        json.value("margin_top", st->margin_top);
        json.value("margin_bottom", st->margin_bottom);
        json.value("priority", st->priority);
        json.end_object();
    }
    json.end_array();

    script::TimingSettings timing = s.settings.timing;
    const bool timed = script::validate_timing(timing, s.settings.iauthor(), nullptr, true);
    json.begin_array("events");
    int64_t index = 0;
    for (const auto& ev : s.events()) {
        json.begin_object();
        json.value("index", index++);
        json.value("start", std::u16string_view(script::format_script_time(ev->start, true)));
        json.value("end", std::u16string_view(script::format_script_time(ev->end, true)));
        if (timed) {
            json.value("start_frame",
                       int64_t{script::frame_time_from_script_time(ev->start, timing).frame});
            json.value("stop_frame",
                       int64_t{script::frame_time_from_script_time(ev->end, timing).frame});
        } else {
            json.null("start_frame");
            json.null("stop_frame");
        }
        json.value("style", std::u16string_view(ev->style_name));
        json.value("actor", std::string_view(shown_text(s, ev->actor)));
        json.value("text", std::string_view(shown_text(s, ev->plain_text)));
        json.value("absolute", ev->absolute);
        json.value("blink", ev->blink_period != 0);
        json.end_object();
    }
    json.end_array();
    json.end_object();
    std::cout << json.str();
}

const char* colour_mode_text(int32_t colors) {
    switch (colors) {
        case 1:
            return "1 text, 1 anti-alias, 1 outline";
        case 2:
            return "2 text, 1 outline";
        default:
            return "3 text";
    }
}

std::string or_text(std::u16string_view s, const char* otherwise) {
    return s.empty() ? std::string(otherwise) : u8(s);
}

void write_summary(const Script& s) {
    const auto& c = s.settings;
    char resolution[96];
    std::snprintf(resolution, sizeof resolution, "%d x %d", c.res_x, c.res_y);
    std::string res = resolution;
    if (c.minus2 == 2 || c.minus2 == 3)
        res += " (minus 2)";
    if (c.dont_clip) {
        res += ", not clipped";
    } else if (c.full_width) {
        res += ", full width";
    } else if (c.fixed_width > 0) {
        res += ", fixed width=" + std::to_string(c.fixed_width);
    }
    std::string spacing = c.line_spacing == 0 ? "100%" : std::to_string(c.line_spacing) + "%";
    std::string code_page =
        c.code_page == -1 ? "use style's" : "force charset " + std::to_string(c.code_page);

    std::cout << "Script:              " << u8(c.source_path) << (c.unicode ? " (Unicode)" : "")
              << '\n'
              << "Styles:              " << s.styles().size() << '\n'
              << "Events:              " << s.events().size() << '\n'
              << "Output script:       " << or_text(c.output_file, "not set") << '\n'
              << "Honour palette from: " << or_text(c.honor_file, "none") << '\n'
              << "Script format:       " << u8(script::script_type_key(c.scr_type)) << '\n'
              << "Bitmap format:       " << u8(c.img_type) << '\n'
              << "Colours allowed:     " << colour_mode_text(c.colors) << '\n'
              << "Sticky colours:      " << (c.sticky_colors ? "yes" : "no") << '\n'
              << "Line spacing:        " << spacing << '\n'
              << "Word wrap:           " << (c.bw_wrap ? "balanced" : "unbalanced") << '\n'
              << "Code page:           " << code_page << '\n'
              << "Output resolution:   " << res << '\n'
              << "FPS in:              " << or_text(c.timing.fps_in_text, "not set") << '\n'
              << "FPS out:             " << or_text(c.timing.fps_out_text, "not set") << '\n'
              << "Frame type:          " << (c.timing.drop_frame ? "drop" : "non drop") << '\n';
    std::cout << "Style precedence:   ";
    for (const auto& name : c.style_order)
        std::cout << ' ' << u8(name);
    std::cout << '\n';
    if (!c.dvd_segments.empty()) {
        std::cout << "Segments:\n" << u8(script::format_segment_text(c.dvd_segments, false));
    }
}

}  // namespace

int run_info(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string path;
    bool json = false;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            throw UsageError{"info: unknown option " + a};
        } else if (path.empty()) {
            path = a;
        } else {
            throw UsageError{"info takes one SCRIPT"};
        }
    }
    if (path.empty()) {
        throw UsageError{"info needs a SCRIPT"};
    }
    CliMessages messages(options.yes);
    Script script;
    if (!open_for_command(path, options, script, messages)) {
        return kExitFailed;
    }
    if (json) {
        write_json(script);
    } else {
        write_summary(script);
    }
    return kExitOk;
}

}  // namespace tessara::cli
