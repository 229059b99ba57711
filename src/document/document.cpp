#include "document/document.h"

#include <cstdio>

#include "base/messages.h"
#include "base/preferences.h"
#include "base/text.h"
#include "formats/script_types.h"
#include "render/text_layout.h"
#include "script/codepage.h"
#include "script/settings_file.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"
#include "timeline/segment_check.h"
#include "timeline/separate_titles.h"

namespace tessara::document {

namespace {

using base::utf16_to_utf8;
using base::utf8_to_utf16;

const char* const kNoSegmentsText =
    "No segments have been defined for this file.\nDefine them with --set DVDSeg=START/END "
    "(a range) or --set DVDSeg=TIME (a chapter point), or in the script's settings.";

// The classes a run's text, anti-alias and outline take when its subtitle is shown alone in the
// script's colour mode: one text, one anti-alias and one outline colour; two text colours and
// an outline (no anti-alias); or three text colours (neither anti-alias nor outline).
void set_classes(std::vector<script::CSubSegment>& runs, int32_t colour_mode) {
    for (auto& run : runs) {
        run.text_class = timeline::class_of_slot(colour_mode == 1 ? 0 : 1);
        run.antialias_class = colour_mode == 1 ? timeline::class_of_slot(1) : render::kBackground;
        run.outline_class = colour_mode == 3 ? render::kBackground : timeline::class_of_slot(2);
    }
}

// Paints a laid-out box over the background colour, each pixel in its run's colour.
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
                const uint32_t colour = c == seg.text_class        ? seg.text_colour
                                        : c == seg.antialias_class ? seg.antialias_colour
                                                                   : seg.outline_colour;
                image.at(seg.x + px, seg.y + py) = colour & 0xFFFFFF;
            }
        }
    }
    return image;
}

// An event laid out and painted as it looks shown alone; nothing when no run renders.
std::optional<DrawnEvent> draw_alone(const script::Script& script,
                                     const script::DialogueEvent& event, base::Messages& messages) {
    std::vector<script::CSubSegment> runs = event.runs;
    set_classes(runs, script.settings.colors);
    auto engine = render::make_system_font_engine();
    render::FontCache fonts(*engine);
    const render::LayoutSettings layout = render::LayoutSettings::from_script(script);
    render::RenderedSubtitle sub;
    if (!render::layout_subtitle(event, runs, layout, fonts, messages, sub)) {
        return std::nullopt;
    }
    DrawnEvent drawn;
    drawn.image = paint(sub, script.settings.back_color);
    for (const auto& seg : sub.segments) {
        drawn.lines += seg.end_of_line ? 1 : 0;
    }
    return drawn;
}

}  // namespace

Document::Document() : m_script(std::make_unique<script::Script>()) {}

Document::~Document() {
    m_build.reset();
}

bool Document::open(const std::string& path, const base::Preferences* preferences,
                    base::Messages& messages) {
    m_build.reset();
    script::ReadOptions read;
    read.preferences = preferences;
    if (!script::open_document(*m_script, path, read, messages)) {
        close();
        return false;
    }
    m_saved_once = false;
    return true;
}

void Document::close() {
    m_build.reset();
    m_script = std::make_unique<script::Script>();
    m_saved_once = false;
}

std::optional<SettingText> Document::apply_settings(const std::vector<SettingText>& settings,
                                                    base::Messages& messages) {
    m_build.reset();
    std::optional<SettingText> refused;
    for (const auto& [key, value] : settings) {
        if (!script::apply_setting(m_script->settings, utf8_to_utf16(key), utf8_to_utf16(value))) {
            refused = SettingText{key, value};
            break;
        }
        m_script->settings.modified = true;
    }
    if (!refused) {
        script::convert_pending_segments(m_script->settings, messages);
    }
    // "CodePage" and "MBCodePage" decide how an 8-bit script's runs are decoded, and ResX, ResY
    // and Minus2 the size margins and fonts are scaled to: the settings applied before a refused
    // one count as well.
    m_script->bind_events();
    m_script->follow_output_size();
    return refused;
}

std::optional<std::string> Document::snapshot() const {
    base::SilentMessages quiet;
    return script::serialize_script(*m_script, quiet);
}

bool Document::restore(const std::string& snapshot, base::Messages& messages) {
    auto restored = std::make_unique<script::Script>();
    restored->reset(true, m_script->settings.treat_n_as_N);
    if (!script::read_script_bytes(*restored, snapshot, m_script->settings.source_path, {},
                                   messages)) {
        return false;
    }
    restored->settings.modified = true;
    m_build.reset();
    m_script = std::move(restored);
    return true;
}

bool Document::save(base::Messages& messages) {
    if (!script::save_script(*m_script, std::nullopt, messages)) {
        return false;
    }
    m_script->settings.modified = false;
    return true;
}

bool Document::save_as(const std::string& path, base::Messages& messages) {
    if (!script::save_script(*m_script, path, messages)) {
        return false;
    }
    m_saved_once = true;
    m_script->settings.modified = false;
    return true;
}

script::ToolOutcome Document::run_tool(Tool tool, const std::optional<std::string>& rate,
                                       base::Messages& messages) {
    m_build.reset();
    switch (tool) {
        case Tool::Snap:
            // The rate starts as the script's input frame rate, as the dialog's field does.
            return script::snap_times(
                *m_script, rate ? utf8_to_utf16(*rate) : m_script->settings.timing.fps_in_text,
                messages);
        case Tool::Separate:
            return timeline::separate_titles(*m_script, messages);
        case Tool::Quotes:
            return script::straight_to_typographic_quotes(*m_script, messages);
        case Tool::Unicode:
            return script::convert_to_unicode(*m_script, messages);
    }
    return script::ToolOutcome::Failed;
}

bool Document::generate(const std::optional<std::string>& output, base::Progress* progress,
                        base::Messages& messages, output::GenerationSummary& summary) {
    auto& settings = m_script->settings;
    if (output) {
        settings.output_file = utf8_to_utf16(*output);
    } else {
        // The script type may have changed since the path was set: the extension follows it.
        settings.output_file = formats::fit_output_path(settings.output_file, settings.scr_type);
    }
    output::GenerationOptions options;
    options.generate_bitmaps = !m_skip_bitmaps;
    options.progress = progress;
    return output::run_generation(*m_script, options, messages, summary);
}

bool Document::verify(const std::optional<std::string>& output,
                      const output::VerifyOptions& options, base::Messages& messages,
                      output::VerifyReport& report) {
    auto& settings = m_script->settings;
    const std::u16string kept = settings.output_file;
    settings.output_file = output
                               ? utf8_to_utf16(*output)
                               : formats::fit_output_path(settings.output_file, settings.scr_type);
    const bool ok = output::verify_output(*m_script, options, messages, report);
    settings.output_file = kept;
    return ok;
}

std::string Document::bitmap_name_pattern() const {
    const auto& settings = m_script->settings;
    const auto names = output::derive_output_names(settings.output_file);
    return utf16_to_utf8(names.directory + names.bitmap_title) + "_NNNN." +
           output::picture_extension(settings.scr_type, settings.img_type);
}

bool Document::export_text(formats::TextExportKind kind, const std::string& path,
                           formats::TextExportOptions options, base::Messages& messages,
                           formats::TextExport& result) {
    return formats::export_text(*m_script, kind, path, options, messages, &result) ==
           formats::ExportStatus::Done;
}

std::optional<std::string> Document::check_segments(int64_t distance, base::Messages& messages) {
    script::ConversionSettings settings = m_script->settings;
    if (!script::validate_timing(settings.timing, settings.iauthor(), &messages, false)) {
        return std::nullopt;
    }
    if (settings.dvd_segments.empty()) {
        messages.error(kNoSegmentsText);
        return std::nullopt;
    }
    return timeline::segment_check_report(*m_script, settings, distance, messages);
}

const PreviewBuild* Document::build_preview(base::Progress* progress, base::Messages& messages) {
    m_build.reset();
    if (!script::validate_timing(m_script->settings.timing, m_script->settings.iauthor(), &messages,
                                 false)) {
        return nullptr;
    }
    auto build = std::make_unique<PreviewBuild>();
    build->engine = render::make_system_font_engine();
    build->fonts = std::make_unique<render::FontCache>(*build->engine);
    build->timeline.fill(*m_script, messages);
    if (timeline::build_subpictures(build->timeline, false)) {
        build->context =
            std::make_unique<timeline::BuildContext>(*m_script, *build->fonts, messages, progress);
        if (!timeline::BuildAll(build->timeline, *build->context)) {
            messages.error(timeline::kBuildAllErrorText);
            return nullptr;
        }
        build->context->progress = nullptr;
    }
    m_build = std::move(build);
    return m_build.get();
}

std::optional<DrawnEvent> Document::draw_event(size_t index, base::Messages& messages) {
    const auto& events = m_script->events();
    if (index >= events.size()) {
        messages.error("There is no event " + std::to_string(index) + ": the script has " +
                       std::to_string(events.size()) + " events (numbered from 0).");
        return std::nullopt;
    }
    auto drawn = draw_alone(*m_script, *events[index], messages);
    if (!drawn) {
        messages.error("Event " + std::to_string(index) +
                       " has nothing to draw: no run of its text could be rendered.");
    }
    return drawn;
}

std::optional<DrawnEvent> Document::draw_sample(const script::Style& style,
                                                std::u16string_view text,
                                                base::Messages& messages) const {
    script::DialogueEvent event;
    event.bound_style = &style;
    event.bound_style_id = style.id;
    // Typed text is Unicode already, whatever the script's own encoding.
    script::ScanOptions options = m_script->scan_options(style);
    options.encoding = script::TextEncoding::AsRead;
    script::ScannedText scanned = script::scan_event_text(text, options, event.margin_override);
    event.runs = std::move(scanned.runs);
    event.plain_text = std::move(scanned.plain_text);
    script::fill_run_colours(event.runs, style, m_script->settings.old_scale());
    return draw_alone(*m_script, event, messages);
}

bool Document::has_file() const {
    return !m_script->settings.source_path.empty();
}

bool Document::modified() const {
    return m_script->settings.modified;
}

const std::u16string& Document::source_path() const {
    return m_script->settings.source_path;
}

std::string display_text(const script::Script& script, std::u16string_view text) {
    if (script.settings.unicode) {
        return utf16_to_utf8(text);
    }
    auto decoded =
        script::decode_8bit(text, script::system_code_page(script.settings.mb_code_page));
    return utf16_to_utf8(decoded ? *decoded : std::u16string(text));
}

std::optional<int> style_code_page(const script::Script& script, const script::Style& style) {
    if (script.settings.unicode) {
        return std::nullopt;
    }
    const script::ScanOptions options = script.scan_options(style);
    const int code_page = script::run_code_page(std::nullopt, options);
    return code_page > 0 ? std::optional<int>(code_page) : std::nullopt;
}

std::string display_event_text(const script::Script& script, const script::DialogueEvent& event) {
    const auto code_page = style_code_page(script, script.style_or_default(event.style_name));
    if (code_page) {
        if (auto decoded = script::decode_8bit(event.plain_text, *code_page)) {
            return utf16_to_utf8(*decoded);
        }
    }
    return display_text(script, event.plain_text);
}

}  // namespace tessara::document
