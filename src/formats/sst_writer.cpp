#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_text.h"
#include "formats/son_common.h"
#include "formats/writers.h"
#include "script/compatible.h"

namespace tessara::formats {

namespace {

constexpr int32_t kSstPaletteSize = 16;

// Scenarist numbers palette entries from 1.
class SstWriter final : public ScriptWriter {
  public:
    script::ScriptType type() const override { return script::ScriptType::SST; }

    std::array<Colour, kClassCount> color_keys(const PaletteView&,
                                               const ConversionSettings& settings) const override {
        return fixed_color_keys(settings);
    }

    bool write_header(std::string& out, const ConversionSettings& settings,
                      std::u16string_view directory, const PaletteView& palette,
                      const std::optional<FrameTime>& base_time, base::Messages&) override {
        const std::string base = smpte_text(base_time.value_or(FrameTime{0}), settings);
        put(out, "st_format\t%s\n", "2");
        put(out, "Display_Start\t%s\n", "non_forced");
        put_tv_lines(out, settings, base);
        if ((settings.compatible & script::compatible::kPixelAreaFrom2) != 0) {
            put(out, "Pixel_Area\t(%d %d)\n", 2, m_area.bottom - m_area.top + 2);
        } else {
            put(out, "Pixel_Area\t(%d %d)\n", 0, m_area.bottom - m_area.top);
        }
        const std::string dir = (settings.compatible & script::compatible::kDotDirectory) != 0
                                    ? "."
                                    : text_bytes(directory);
        put(out, "Directory\t%s\n", dir.c_str());
        put(out, "Subtitle\t%s\n", text_bytes(file_title(settings.output_file)).c_str());
        put(out, "Display_Area\t(%d %d %d %d)\n", m_area.left, m_area.top, m_area.right,
            m_area.bottom);
        put_contrast_line(out, m_contrast);
        if ((settings.compatible & script::compatible::kHeaderColours) != 0) {
            put(out, "Color\t\t(%d %d %d %d)\n", m_colors[1] + 1, m_colors[0] + 1, m_colors[2] + 1,
                m_colors[3] + 1);
        }
        m_colors_changed = true;
        m_area_changed = false;
        m_contrast_changed = false;
        put_palette_comments(out, palette, 1);
        static constexpr struct {
            const char* label;
            int key;
        } kKeyLines[] = {{"PA", 0}, {"E1", 1}, {"E2", 2}, {"BG", 3}};
        for (const auto& line : kKeyLines) {
            const Colour c = settings.fixed_colors[line.key];
            put(out, "%s\t(%d %d %d - - - )\n", line.label, red_of(c), green_of(c), blue_of(c));
        }
        put(out, "\n\nSP_NUMBER\tSTART\tEND\tFILE_NAME\n");
        return true;
    }

    // No Display_Area lines: Scenarist takes the area from the bitmap.
    bool write_subpicture(std::string& out, const ConversionSettings& settings, const PaletteView&,
                          base::Messages&) override {
        if (m_colors_changed) {
            put(out, "Color\t(%d %d %d %d)\n", m_colors[1] + 1, m_colors[0] + 1, m_colors[2] + 1,
                m_colors[3] + 1);
            m_colors_changed = false;
        }
        if (m_contrast_changed) {
            put_contrast_line(out, m_contrast);
            m_contrast_changed = false;
        }
        put(out, "%04d\t%s\t%s\t%s\n", m_number, smpte_text(m_start, settings).c_str(),
            smpte_text(end(), settings).c_str(), text_bytes(m_bitmap_name).c_str());
        return true;
    }

    int32_t palette_size() const override { return kSstPaletteSize; }

    bool honor_palette(std::string_view script_text, EditablePalette& palette,
                       base::Messages& messages) override {
        return honour_palette_comments(script_text, palette, messages);
    }
};

}  // namespace

std::unique_ptr<ScriptWriter> make_sst_writer() {
    return std::make_unique<SstWriter>();
}

}  // namespace tessara::formats
