#include "formats/script_writer.h"

#include "base/file_io.h"
#include "base/messages.h"
#include "formats/script_text.h"
#include "formats/writers.h"
#include "timeline/colour_slots.h"

namespace tessara::formats {

namespace {

std::tm system_local_time() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

constexpr const char* kPaletteFileOpenFailure = "Error trying to open the output palette file.";
constexpr const char* kPaletteFileWriteFailure = "Error trying to write the output palette file.";

}  // namespace

const char* const kPaletteFileWriteFailureText = kPaletteFileWriteFailure;
const char* const kScriptOpenErrorText = "Error trying to open the output script file.";

ScriptWriter::ScriptWriter() : m_clock(system_local_time) {}

void ScriptWriter::set_times(const FrameTime& start, const FrameTime& end) {
    m_start = start;
    m_last = end;
    if (m_last.is_set()) {
        --m_last;
    }
}

void ScriptWriter::set_file(std::u16string bitmap_name, int32_t number) {
    m_bitmap_name = std::move(bitmap_name);
    m_number = number;
}

void ScriptWriter::set_colors(int32_t a, int32_t b, int32_t c, int32_t d) {
    auto index = [](int32_t v) { return v < 0 ? 0 : v; };
    const auto held = timeline::by_class(std::array{index(a), index(b), index(c), index(d)});
    if (held != m_colors) {
        m_colors = held;
        m_colors_changed = true;
    }
}

void ScriptWriter::set_contrast(int32_t a, int32_t b, int32_t c, int32_t d) {
    auto level = [](int32_t v) { return v < 0 || v > 15 ? 0 : v; };
    const auto held = timeline::by_class(std::array{level(a), level(b), level(c), level(d)});
    if (held != m_contrast) {
        m_contrast = held;
        m_contrast_changed = true;
    }
}

void ScriptWriter::set_area(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    const DisplayArea held{left, top, right, bottom};
    if (held != m_area) {
        m_area = held;
        m_area_changed = true;
    }
}

std::array<Colour, kClassCount> ScriptWriter::color_keys(const PaletteView& palette,
                                                         const ConversionSettings&) const {
    return {palette.colour_at(m_colors[0]), palette.colour_at(m_colors[1]),
            palette.colour_at(m_colors[2]), palette.colour_at(m_colors[3])};
}

bool ScriptWriter::write_footer(std::string&, const ConversionSettings&, base::Messages&) {
    return true;
}

std::optional<std::string> ScriptWriter::palette_file(const PaletteView&) const {
    return std::nullopt;
}

bool ScriptWriter::write_palette_file(const std::string& path, const PaletteView& palette,
                                      base::Messages& messages) const {
    const std::optional<std::string> bytes = palette_file(palette);
    if (!bytes) {
        return true;
    }
    return base::write_file_atomically(path, *bytes, kPaletteFileOpenFailure,
                                       kPaletteFileWriteFailure, messages);
}

std::u16string ScriptWriter::palette_file_name(std::u16string_view) const {
    return {};
}

std::u16string ScriptWriter::bitmap_prefix(std::u16string_view script_path) const {
    std::u16string prefix(directory_of(script_path));
    for (char16_t c : file_title(script_path)) {
        if (c >= 33 && c <= 126) {
            prefix += c;
        }
    }
    prefix += u'_';
    return prefix;
}

std::array<int32_t, kClassCount> ScriptWriter::bitmap_index_order(int32_t) const {
    return {0, 1, 2, 3};
}

FrameTime ScriptWriter::end() const {
    FrameTime e = m_last;
    if (e.is_set()) {
        ++e;
    }
    return e;
}

std::unique_ptr<ScriptWriter> make_script_writer(script::ScriptType type) {
    switch (type) {
        case script::ScriptType::SON:
            return make_son_writer();
        case script::ScriptType::SST:
            return make_sst_writer();
        case script::ScriptType::IAU:
            return make_iauthor_writer();
        case script::ScriptType::SMX:
            return make_submux_writer();
        case script::ScriptType::IMG:
            return make_img_writer();
        case script::ScriptType::USF:
            return make_usf_writer();
        case script::ScriptType::SCR:
            return make_scr_writer();
        case script::ScriptType::SPU:
            return make_spumux_writer();
        case script::ScriptType::VOBSUB:
            return make_vobsub_writer();
    }
    return make_son_writer();
}

}  // namespace tessara::formats
