#include "document/summary.h"

#include <array>

#include "base/text.h"
#include "document/dialogs.h"
#include "document/document.h"
#include "document/rendering_dialogs.h"
#include "formats/script_types.h"
#include "imaging/image_types.h"
#include "script/script.h"
#include "script/settings.h"

namespace tessara::document {

namespace {

using base::utf16_to_utf8;

constexpr std::array<CharsetName, 19> kCharsets = {{
    {"use style's", -1},
    {"Western", 0},
    {"font default", 1},
    {"OEM", 255},
    {"Macintosh", 77},
    {"symbol", 2},
    {"Arabic", 178},
    {"Baltic", 186},
    {"Chinese (Big5)", 136},
    {"Chinese (GB2312)", 134},
    {"Eastern Europe", 238},
    {"Greek", 161},
    {"Japanese (Shift JIS)", 128},
    {"Korean (Hangul)", 129},
    {"Korean (Johab)", 130},
    {"Hebrew", 177},
    {"Russian", 204},
    {"Thai", 222},
    {"Turkish", 162},
}};

const char* const kNotAvailable = "N/A";

std::string or_text(std::u16string_view s, const char* otherwise) {
    return s.empty() ? std::string(otherwise) : utf16_to_utf8(s);
}

std::string resolution_text(const script::SettingsValues& c) {
    std::string res = std::to_string(c.res_x) + " x " + std::to_string(c.res_y);
    if (c.minus2 == 2 || c.minus2 == 3) {
        res += " (minus 2)";
    }
    if (c.dont_clip) {
        res += ", not clipped";
    } else if (c.full_width) {
        res += ", full width";
    } else if (c.fixed_width > 0) {
        res += ", fixed width=" + std::to_string(c.fixed_width);
    }
    return res;
}

std::string code_page_text(int32_t code_page) {
    const std::string_view name = charset_name(code_page);
    if (name.empty()) {
        return "Unknown";
    }
    return charset_choice_label(CharsetName{name, code_page});
}

}  // namespace

std::span<const CharsetName> charset_names() {
    return kCharsets;
}

std::string_view charset_name(int32_t value) {
    for (const CharsetName& c : kCharsets) {
        if (c.value == value) {
            return c.name;
        }
    }
    return {};
}

std::vector<SummaryRow> summary_rows(const Document& document) {
    static const char* const kLabels[] = {"Output script",
                                          "Output palette file",
                                          "Output bitmap files",
                                          "Honour palette from",
                                          "Script format",
                                          "Bitmap format",
                                          "Colours allowed",
                                          "Sticky colours",
                                          "Line spacing",
                                          "Word wrap",
                                          "Code page",
                                          "Output resolution",
                                          "FPS in",
                                          "FPS out",
                                          "Frame type"};
    std::vector<SummaryRow> rows;
    if (!document.has_file()) {
        for (const char* label : kLabels) {
            rows.push_back({label, kNotAvailable});
        }
        return rows;
    }
    const script::ConversionSettings& c = document.script().settings;
    // The names the files dialog derives, from the document's own path and type.
    FilesDialog files;
    files.output_file = c.output_file;
    files.script_type = c.scr_type;
    const FilesDialogNames names = files_dialog_names(files, document);
    const std::string_view image_label =
        imaging::image_type_label(imaging::image_type_id(c.img_type));
    const std::string values[] = {
        or_text(c.output_file, "not set"),
        utf16_to_utf8(names.palette_file),
        utf16_to_utf8(names.bitmap_pattern),
        or_text(c.honor_file, "none"),
        std::string(formats::script_type_row(c.scr_type).description),
        image_label.empty() ? std::string("Unknown") : std::string(image_label),
        std::string(colour_mode_label(c.colors)),
        c.sticky_colors ? "yes" : "no",
        c.line_spacing == 0 ? std::string("100%") : std::to_string(c.line_spacing) + "%",
        c.bw_wrap ? "balanced" : "unbalanced",
        code_page_text(c.code_page),
        resolution_text(c),
        or_text(c.timing.fps_in_text, "not set"),
        or_text(c.timing.fps_out_text, "not set"),
        c.timing.drop_frame ? "drop" : "non drop",
    };
    for (size_t i = 0; i < std::size(kLabels); ++i) {
        rows.push_back({kLabels[i], values[i]});
    }
    return rows;
}

std::vector<std::string> segment_lines(const Document& document) {
    std::vector<std::string> lines;
    if (!document.has_file()) {
        return lines;
    }
    const std::u16string text =
        script::format_segment_text(document.script().settings.dvd_segments, false);
    size_t from = 0;
    for (size_t end = text.find(u"\r\n"); end != std::u16string::npos;
         from = end + 2, end = text.find(u"\r\n", from)) {
        lines.push_back(utf16_to_utf8(std::u16string_view(text).substr(from, end - from)));
    }
    return lines;
}

std::vector<std::string> style_precedence(const Document& document) {
    std::vector<std::string> names;
    if (!document.has_file()) {
        return names;
    }
    for (const auto& name : document.script().settings.style_order) {
        names.push_back(utf16_to_utf8(name));
    }
    return names;
}

}  // namespace tessara::document
