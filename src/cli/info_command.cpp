#include <algorithm>
#include <iostream>
#include <string>
#include <string_view>
#include <variant>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "document/document.h"
#include "document/summary.h"
#include "script/script.h"

namespace tessara::cli {

namespace {

using script::Script;

std::string u8(std::u16string_view s) {
    return base::utf16_to_utf8(s);
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

// How the script's file holds its text: "utf-16", "utf-8" (with or without its mark) or "8-bit".
std::string_view encoding_name(const script::ConversionSettings& s) {
    if (!s.unicode) {
        return "8-bit";
    }
    return s.unicode_file == script::UnicodeFile::Utf16 ? "utf-16" : "utf-8";
}

void write_json(const Script& s) {
    JsonWriter json;
    json.begin_object();
    json.value("source", std::u16string_view(s.settings.source_path));
    json.value("unicode", s.settings.unicode);
    json.value("encoding", encoding_name(s.settings));
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
        if (auto code_page = document::style_code_page(s, *st)) {
            json.value("code_page", int64_t{*code_page});
        } else {
            json.null("code_page");
        }
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
        json.value("actor", std::string_view(document::display_text(s, ev->actor)));
        json.value("text", std::string_view(document::display_event_text(s, *ev)));
        json.value("absolute", ev->absolute);
        json.value("blink", ev->blink_period != 0);
        json.end_object();
    }
    json.end_array();
    json.end_object();
    std::cout << json.str();
}

void write_summary(const document::Document& document) {
    for (const auto& row : document::summary_rows(document)) {
        std::cout << row.label << ": " << row.value << '\n';
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
    document::Document document;
    if (!open_for_command(path, options, document, messages)) {
        return kExitFailed;
    }
    if (json) {
        write_json(document.script());
    } else {
        write_summary(document);
    }
    return kExitOk;
}

}  // namespace tessara::cli
