#include "output/generation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_set>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/progress.h"
#include "base/staged_files.h"
#include "base/text.h"
#include "formats/script_writer.h"
#include "imaging/bitmap_writer.h"
#include "imaging/image_types.h"
#include "render/font_cache.h"
#include "render/subpicture_canvas.h"
#include "script/compatible.h"
#include "script/script.h"
#include "script/settings.h"
#include "timeline/colours.h"
#include "timeline/member_drawer.h"
#include "timeline/palette.h"
#include "timeline/placement.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace tessara::output {

const char* const kHonorOpenErrorText =
    "The target script file with the palette to honor cannot be opened";
const char* const kBitmapSaveErrorText = "Error trying to save a bitmap file.";
const char* const kSkippedSubpicturesFormat =
    "Warning: %d subpictures were not generated because\r\nthey fell out of every defined "
    "segment.";
const char* const kCutSubtitleFormat =
    "Event %d, starting at %s, is %d x %d pixels, larger than the %d x %d output "
    "frame;\nits text is cut.";

namespace {

using base::utf16_to_utf8;
using base::utf8_to_utf16;
using formats::kScriptOpenErrorText;
using timeline::BuildContext;
using timeline::MemberDrawer;
using timeline::Subpicture;
using timeline::Timeline;

std::u16string format_u16(const char* format, int32_t n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, static_cast<int>(n));
    return base::to_u16(buf);
}

// The script being written: its bytes collect in memory and go to the staging folder when the
// part is complete.
struct ScriptFile {
    std::string path;  // UTF-8, the target
    std::string name;  // the file name within the output folder
    std::string bytes;
    bool open = false;
};

class Run {
  public:
    Run(script::Script& script, const GenerationOptions& options, base::Messages& messages,
        GenerationSummary& summary)
        : m_script(script),
          m_settings(script.settings),
          m_options(options),
          m_messages(messages),
          m_summary(summary),
          m_names(derive_output_names(script.settings.output_file)),
          m_writer(formats::make_script_writer(script.settings.scr_type)),
          m_palette(m_writer->palette_size()),
          m_embedded(m_writer->picture_files() == formats::PictureFiles::InCompanionFile),
          m_draw(options.generate_bitmaps || m_embedded) {
        if (options.clock) {
            m_writer->set_clock(options.clock);
        }
    }

    bool run();

  private:
    bool honour_palette();
    bool build();
    std::string part_path(int32_t part) const;
    bool open_script(const std::string& path, const Subpicture* first);
    bool close_script();
    bool write_subpicture(const Subpicture& sp, size_t drawn_index, const script::FrameTime& stop);
    // The segment a subpicture from s to e belongs to, moving on to the next segment (and the
    // next script part) when s has passed the current one. False to skip the subpicture; `failed`
    // is set when opening the next part failed.
    bool in_segment(const Subpicture& sp, const script::FrameTime& e, bool& failed);
    void set_initial_state(const Subpicture* colours_from);
    void warn_cut_members(const Subpicture& sp);

    script::Script& m_script;
    const script::ConversionSettings& m_settings;
    const GenerationOptions& m_options;
    base::Messages& m_messages;
    GenerationSummary& m_summary;
    OutputNames m_names;
    std::unique_ptr<formats::ScriptWriter> m_writer;
    timeline::Palette m_palette;
    Timeline m_timeline;
    std::unique_ptr<render::FontEngine> m_engine;
    std::unique_ptr<render::FontCache> m_fonts;
    // The build measures only; the drawer draws the subtitles as their bitmaps are written.
    render::LayoutSettings m_draw_layout;
    std::unique_ptr<MemberDrawer> m_drawer;
    std::vector<const render::RenderedSubtitle*> m_drawn;
    // One canvas for the whole run: timeline::compose() clears only what the previous subpicture
    // drew.
    std::optional<render::SubpictureCanvas> m_canvas;
    ScriptFile m_file;
    // Every file of the run is written here first and replaces its target only when the whole
    // run has succeeded, so a failed or killed run leaves the earlier output as it was.
    base::StagedFiles m_staged;
    std::unique_ptr<base::StagedFiles::TargetMessages> m_staged_messages;
    std::vector<std::string> m_scripts;  // targets of the staged scripts, in order
    std::vector<std::string> m_companions;
    // Events already warned about as larger than the frame (a blinking event by its first copy).
    std::unordered_set<const script::DialogueEvent*> m_cut_warned;
    std::string m_cut_report;  // one paragraph per cut event
    bool m_split = false;
    size_t m_segment = 0;  // index into the DVD segment list
    int32_t m_next_part = 1;
    int32_t m_bitmap_count = 0;
    int32_t m_image_type = 0;
    std::u16string m_extension;  // of the picture files
    // The pictures go into the writer's companion file rather than into files of their own;
    // they are drawn then even when no bitmaps are asked for, the companion being part of the
    // script.
    bool m_embedded = false;
    bool m_draw = true;
    std::chrono::system_clock::time_point m_started = std::chrono::system_clock::now();
};

bool Run::honour_palette() {
    if (m_settings.honor_file.empty()) {
        return true;
    }
    int error = 0;
    auto text = base::read_whole_file(utf16_to_utf8(m_settings.honor_file), error);
    if (!text) {
        m_messages.file_error(utf16_to_utf8(m_settings.honor_file), kHonorOpenErrorText, error);
        return false;
    }
    return m_writer->honor_palette(*text, m_palette, m_messages);
}

bool Run::build() {
    m_timeline.fill(m_script, m_messages);
    if (!timeline::build_subpictures(m_timeline, false)) {
        return true;  // no subtitle at all: a header and a footer
    }
    m_engine = render::make_system_font_engine();
    m_fonts = std::make_unique<render::FontCache>(*m_engine);
    BuildContext context(m_script, *m_fonts, m_messages, nullptr);
    context.layout.generate_bitmaps = false;
    context.layout.refuse_undrawable = m_draw;
    m_draw_layout = context.layout;
    if (!timeline::BuildAll(m_timeline, context)) {
        m_messages.error(timeline::kBuildAllErrorText);
        return false;
    }
    return timeline::check_palette(m_timeline, m_palette, m_messages);
}

std::string Run::part_path(int32_t part) const {
    return utf16_to_utf8(m_names.directory + m_names.title + format_u16("_%02d", part) +
                         m_names.extension);
}

void Run::set_initial_state(const Subpicture* colours_from) {
    m_writer->set_area(0, script::minus2_row_shift(m_settings), m_settings.res_x - 1,
                       m_settings.res_y - 1 - (m_settings.minus2 == 3 ? 1 : 0));
    m_writer->set_contrast(15, 15, 15, 0);
    if ((m_settings.compatible & script::compatible::kHeaderColours) != 0 &&
        colours_from != nullptr) {
        m_writer->set_colors(m_palette.index_of(colours_from->colors.slot0),
                             m_palette.index_of(colours_from->colors.slot1),
                             m_palette.index_of(colours_from->colors.slot2), 0);
    }
}

bool Run::open_script(const std::string& path, const Subpicture* colours_from) {
    m_file = ScriptFile{path, path.substr(utf16_to_utf8(m_names.directory).size()), {}, true};
    set_initial_state(colours_from);
    std::optional<script::FrameTime> base_time;
    if (m_split) {
        base_time = m_settings.dvd_segments[m_segment].start;
    }
    if (!m_writer->write_header(m_file.bytes, m_settings, m_names.directory, m_palette, base_time,
                                m_messages)) {
        m_file.open = false;
        return false;
    }
    return true;
}

bool Run::close_script() {
    if (!m_file.open) {
        return true;
    }
    m_file.open = false;
    if (!base::write_file_direct(m_staged.staged_path(m_file.name), m_file.bytes,
                                 kScriptOpenErrorText, "Error writing to %s", *m_staged_messages)) {
        return false;
    }
    const std::string_view companion = m_writer->companion_extension();
    if (!companion.empty()) {
        const size_t dot = m_file.name.rfind('.');
        const std::string name =
            (dot == std::string::npos || m_file.name.find('/', dot) != std::string::npos
                 ? m_file.name
                 : m_file.name.substr(0, dot)) +
            "." + std::string(companion);
        if (!base::write_file_direct(m_staged.staged_path(name), m_writer->take_companion(),
                                     kScriptOpenErrorText, "Error writing to %s",
                                     *m_staged_messages)) {
            return false;
        }
        m_staged.add(name, kScriptOpenErrorText, false);
        m_companions.push_back(m_staged.target_path(name));
    }
    m_staged.add(m_file.name, kScriptOpenErrorText, true);
    m_scripts.push_back(m_file.path);
    return true;
}

bool Run::in_segment(const Subpicture& sp, const script::FrameTime& e, bool& failed) {
    const auto& segments = m_settings.dvd_segments;
    if (m_segment >= segments.size()) {
        return false;
    }
    const script::FrameTime& ds = segments[m_segment].start;
    const script::FrameTime& de = *segments[m_segment].end;
    const script::FrameTime& s = sp.start;
    if (s < ds) {
        return false;
    }
    if (s <= de && e > de) {
        return false;  // runs past the segment's stop
    }
    if (s > de) {
        size_t next = m_segment + 1;
        while (next < segments.size() &&
               !(segments[next].end && segments[next].start <= s && s < *segments[next].end)) {
            ++next;
        }
        m_segment = next;
        if (next >= segments.size()) {
            return false;
        }
        if (!m_writer->write_footer(m_file.bytes, m_settings, m_messages) || !close_script() ||
            !open_script(part_path(m_next_part++), &sp)) {
            failed = true;
            return false;
        }
    }
    return true;
}

void Run::warn_cut_members(const Subpicture& sp) {
    const timeline::PlacementSettings frame = timeline::PlacementSettings::from(m_settings);
    for (const auto& m : sp.members) {
        if (!timeline::box_exceeds_frame(m, frame)) {
            continue;
        }
        const script::DialogueEvent* event = m.event;
        if (!m_cut_warned.insert(event->blink_head ? event->blink_head : event).second) {
            continue;
        }
        const auto& events = m_script.events();
        const auto it = std::find_if(events.begin(), events.end(),
                                     [&](const auto& e) { return e.get() == event; });
        const std::string start = utf16_to_utf8(script::format_script_time(event->start, true));
        char text[512];
        std::snprintf(text, sizeof text, kCutSubtitleFormat,
                      static_cast<int>(std::distance(events.begin(), it)), start.c_str(),
                      static_cast<int>(m.rendered->box_width),
                      static_cast<int>(m.rendered->box_height), static_cast<int>(frame.res_x),
                      static_cast<int>(frame.stack_height()));
        // Collected and said once, after the run: one box for all of them in the desktop
        // program rather than one per event while the progress runs.
        if (!m_cut_report.empty()) {
            m_cut_report += "\n\n";
        }
        m_cut_report += text;
    }
}

bool Run::write_subpicture(const Subpicture& sp, size_t drawn_index,
                           const script::FrameTime& stop) {
    if (!m_canvas) {
        m_canvas.emplace(m_settings.res_x, m_settings.res_y - m_settings.minus2);
    }
    render::SubpictureCanvas& canvas = *m_canvas;
    if (m_draw) {
        base::RecordingMessages failure;
        if (!m_drawer->take(drawn_index, m_drawn, failure)) {
            // The build has reported whatever measuring the subtitle could report; this is
            // what only drawing it found.
            for (const std::string& text : failure.texts()) {
                m_messages.error(text);
            }
            if (failure.texts().empty()) {
                m_messages.error(render::kCannotCreateBitmapText);
            }
            m_messages.error(kBitmapSaveErrorText);
            return false;
        }
        timeline::compose(sp, m_drawn, canvas);
    } else {
        timeline::compose(sp, canvas, false);
    }

    const int32_t n = ++m_bitmap_count;
    const bool png = m_writer->picture_files() == formats::PictureFiles::TransparentPng;
    const std::u16string name = m_names.bitmap_title + format_u16("_%04d.", n) + m_extension;
    m_writer->set_file(name, n);
    m_writer->set_times(sp.start, stop);
    m_writer->set_colors(m_palette.index_of(sp.colors.slot0), m_palette.index_of(sp.colors.slot1),
                         m_palette.index_of(sp.colors.slot2), 0);

    const imaging::ClassColours colours = m_writer->color_keys(m_palette, m_settings);
    const auto order = m_writer->bitmap_index_order(m_image_type);
    imaging::PaletteOrder palette_order = imaging::kDefaultPaletteOrder;
    for (size_t k = 0; k < palette_order.size(); ++k) {
        palette_order[k] = static_cast<uint8_t>(order[k]);
    }
    render::Rect extent;
    const render::ExtentOptions extent_options = render::extent_options(m_settings);
    if (m_embedded) {
        extent = render::bitmap_extent(canvas, extent_options);
        if (extent.empty()) {
            extent = render::Rect{0, 0, 1, 1};  // a unit shows at least one (clear) pixel
        }
        m_writer->set_picture(canvas.classes(), extent);
    } else if (m_options.generate_bitmaps) {
        const std::string file = utf16_to_utf8(name);
        bool written = false;
        if (png) {
            // The contrasts become opacities: 0-15 spread over 0-255.
            imaging::ClassOpacity opacity{};
            for (size_t k = 0; k < opacity.size(); ++k) {
                opacity[k] = static_cast<uint8_t>(m_writer->contrast()[k] * 17);
            }
            written = imaging::write_indexed_png(canvas, m_staged.staged_path(file), extent_options,
                                                 colours, opacity, palette_order, extent,
                                                 *m_staged_messages);
        } else {
            written =
                imaging::write_bitmap(canvas, m_staged.staged_path(file), extent_options, colours,
                                      m_image_type, palette_order, extent, *m_staged_messages);
        }
        if (!written) {
            m_messages.error(kBitmapSaveErrorText);
            return false;
        }
        m_staged.add(file, kBitmapSaveErrorText, false);
        ++m_summary.bitmaps;
    } else {
        // Only the rectangle the bitmap would cover.
        imaging::write_bitmap(canvas, std::string(), extent_options, colours, 5,
                              imaging::kDefaultPaletteOrder, extent, m_messages);
    }
    const int32_t shift = script::minus2_row_shift(m_settings);
    m_writer->set_area(extent.left, extent.top + shift, extent.right, extent.bottom + shift);
    if (!m_writer->write_subpicture(m_file.bytes, m_settings, m_palette, m_messages)) {
        return false;
    }
    ++m_summary.subpictures;
    return true;
}

bool Run::run() {
    m_image_type = imaging::image_type_id(m_settings.img_type);
    m_extension = base::to_u16(picture_extension(m_settings.scr_type, m_settings.img_type));
    for (const auto& seg : m_settings.dvd_segments) {
        if (seg.end) {
            m_split = m_settings.dvd_separate;
            break;
        }
    }
    if (m_split) {
        while (!m_settings.dvd_segments[m_segment].end)
            ++m_segment;
    }
    if (!honour_palette() || !build()) {
        return false;
    }

    auto& subs = m_timeline.subpictures();
    const Subpicture* first = nullptr;
    for (const auto& sp : subs) {
        if (!sp->members.empty()) {
            first = sp.get();
            break;
        }
    }
    const std::string first_path =
        m_split ? part_path(m_next_part++) : utf16_to_utf8(m_settings.output_file);
    // Whether files can be created in the output folder is known before anything is drawn.
    const std::string prefix = utf16_to_utf8(m_names.directory);
    base::remove_leftovers(prefix, m_started);
    int error = 0;
    if (!m_staged.open(prefix, error)) {
        m_messages.file_error(first_path, "", error);
        m_messages.error(kScriptOpenErrorText);
        return false;
    }
    m_staged_messages = std::make_unique<base::StagedFiles::TargetMessages>(m_staged, m_messages);
    if (!open_script(first_path, first)) {
        return false;
    }
    if (m_draw) {
        std::vector<const Subpicture*> shown;
        for (const auto& sp : subs) {
            if (!sp->members.empty()) {
                shown.push_back(sp.get());
            }
        }
        const bool ahead = m_options.draw_ahead && std::thread::hardware_concurrency() > 1;
        m_drawer = std::make_unique<MemberDrawer>(std::move(shown), m_draw_layout, ahead);
    }
    if (m_options.progress != nullptr) {
        m_options.progress->set_range(0, static_cast<int64_t>(subs.size()));
        m_options.progress->set_position(0);
    }

    bool ok = true;
    bool part_failed = false;
    int32_t skipped = 0;
    size_t shown = 0;  // non-empty subpictures before this one: the drawer's index
    for (size_t i = 0; i < subs.size(); ++i) {
        const Subpicture& sp = *subs[i];
        if (sp.members.empty()) {
            continue;
        }
        const size_t drawn_index = shown++;
        // The last subpicture is always empty, so a non-empty one has a successor.
        const script::FrameTime stop = subs[i + 1]->start;
        if (m_split && !in_segment(sp, stop, part_failed)) {
            if (part_failed) {
                ok = false;
                break;
            }
            ++skipped;
            continue;
        }
        warn_cut_members(sp);
        if (!write_subpicture(sp, drawn_index, stop)) {
            ok = false;
            break;
        }
        if (m_options.progress != nullptr) {
            m_options.progress->set_position(static_cast<int64_t>(i));
            m_options.progress->keep_going();
        }
    }

    if (!m_cut_report.empty()) {
        m_messages.warn(m_cut_report);
    }

    std::string palette_file;
    if (ok && !part_failed) {
        ok = m_writer->write_footer(m_file.bytes, m_settings, m_messages) && close_script();
        if (ok && m_options.generate_bitmaps) {
            const std::u16string spf = m_writer->palette_file_name(m_settings.output_file);
            if (!spf.empty()) {
                const std::string name = utf16_to_utf8(m_names.title + u".spf");
                ok = m_writer->write_palette_file(m_staged.staged_path(name), m_palette,
                                                  *m_staged_messages);
                if (ok) {
                    m_staged.add(name, formats::kPaletteFileWriteFailureText, false);
                    palette_file = m_staged.target_path(name);
                }
            }
        }
    }
    // Only a complete run replaces anything: the bitmaps, the palette file, then the scripts.
    if (ok && m_staged.commit(m_messages)) {
        m_summary.scripts = m_scripts;
        m_summary.companions = m_companions;
        m_summary.palette_file = palette_file;
    } else {
        ok = false;
    }
    if (skipped > 0) {
        char text[256];
        std::snprintf(text, sizeof text, kSkippedSubpicturesFormat, static_cast<int>(skipped));
        m_messages.warn(text);
    }
    m_summary.skipped = skipped;
    m_summary.palette_entries = m_palette.used_count();
    return ok;
}

}  // namespace

OutputNames derive_output_names(std::u16string_view output_file) {
    OutputNames names;
    const size_t sep = output_file.find_last_of(u"/\\");
    const size_t name_start = sep == std::u16string_view::npos ? 0 : sep + 1;
    names.directory = std::u16string(output_file.substr(0, name_start));
    const std::u16string_view file = output_file.substr(name_start);
    const size_t dot = file.rfind(u'.');
    names.title = std::u16string(dot == std::u16string_view::npos ? file : file.substr(0, dot));
    names.extension =
        dot == std::u16string_view::npos ? std::u16string() : std::u16string(file.substr(dot));
    for (char16_t c : names.title) {
        if (c >= 33 && c <= 126) {
            names.bitmap_title += c;
        }
    }
    return names;
}

std::string picture_extension(script::ScriptType type, std::u16string_view img_type) {
    switch (formats::make_script_writer(type)->picture_files()) {
        case formats::PictureFiles::TransparentPng:
            return "png";
        case formats::PictureFiles::InCompanionFile:
            return {};
        case formats::PictureFiles::ImageType:
            break;
    }
    return std::string(imaging::image_type_extension(imaging::image_type_id(img_type)));
}

bool run_generation(script::Script& script, const GenerationOptions& options,
                    base::Messages& messages, GenerationSummary& summary) {
    summary = GenerationSummary();
    if (!script::validate_timing(script.settings.timing, script.settings.iauthor(), &messages,
                                 false)) {
        return false;
    }
    if (script.settings.output_file.empty()) {
        messages.error("No output script file is set.");
        return false;
    }
    Run run(script, options, messages, summary);
    return run.run();
}

}  // namespace tessara::output
