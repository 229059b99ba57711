#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_text.h"
#include "formats/son_common.h"
#include "formats/writers.h"
#include "timeline/colour_slots.h"

namespace tessara::formats {

void put_tv_lines(std::string& out, const ConversionSettings& settings,
                  std::string_view base_time) {
    if (settings.timing.drop_frame) {
        put(out, "TV_Type\t\t%s\n", "NTSC");
        put(out, "Tape_Type\t%s\n", "DROP");
        put(out, "Base_Time\t%s\n", std::string(base_time).c_str());
    } else {
        put(out, "TV_Type\t\t%s\n", settings.timing.rate_out == 25000 ? "PAL" : "NTSC");
        put(out, "Tape_Type\t%s\n", "NON_DROP");
    }
}

void put_palette_comments(std::string& out, const PaletteView& palette, int first_number) {
    put(out, "\n#\n# Palette entries:\n#\n");
    for (int32_t i = 0; i < palette.size(); ++i) {
        if (palette.used(i)) {
            const Colour c = palette.colour_at(i);
            put(out, "# %02d : RGB(%3d,%3d,%3d)\n", i + first_number, red_of(c), green_of(c),
                blue_of(c));
        }
    }
    put(out, "#\n\n");
}

void put_contrast_line(std::string& out, const std::array<int32_t, kClassCount>& k) {
    put(out, "Contrast\t(%d %d %d %d)\n", k[0], k[1], k[2], k[3]);
}

std::array<Colour, kClassCount> fixed_color_keys(const ConversionSettings& settings) {
    return timeline::by_class(settings.fixed_colors);
}

namespace {

// DVD Maestro palettes have 16 entries; the separate palette file always holds all of them.
constexpr int32_t kSonPaletteSize = 16;

class SonWriter final : public ScriptWriter {
  public:
    script::ScriptType type() const override { return script::ScriptType::SON; }

    std::array<Colour, kClassCount> color_keys(const PaletteView&,
                                               const ConversionSettings& settings) const override {
        return fixed_color_keys(settings);
    }

    // The header's Display_Area is the held area as is (the run sets it inclusive); the
    // subpictures' areas arrive with exclusive right and bottom.
    bool write_header(std::string& out, const ConversionSettings& settings, std::u16string_view,
                      const PaletteView& palette, const std::optional<FrameTime>&,
                      base::Messages&) override {
        put(out, "st_format\t%s\n", "2");
        put(out, "Display_Start\t\t%s\n", "non_forced");
        put_tv_lines(out, settings, smpte_text(FrameTime{0}, settings));
        put(out, "Pixel_Area\t(%d %d)\n", 0, m_area.bottom - m_area.top);
        put(out, "Directory\t%s\n", "");
        put(out, "Display_Area\t(%d %d %d %d)\n", m_area.left, m_area.top, m_area.right,
            m_area.bottom);
        put_contrast_line(out, m_contrast);
        m_colors_changed = true;
        m_area_changed = false;
        m_contrast_changed = false;
        put_palette_comments(out, palette, 0);
        put(out, "SP_NUMBER\tSTART\tEND\tFILE_NAME\n");
        return true;
    }

    bool write_subpicture(std::string& out, const ConversionSettings& settings, const PaletteView&,
                          base::Messages&) override {
        if (m_area_changed) {
            put(out, "Display_Area\t(%d %d %d %d)\n", m_area.left, m_area.top, m_area.right - 1,
                m_area.bottom - 1);
            m_area_changed = false;
        }
        if (m_colors_changed) {
            put(out, "Color\t(%d %d %d %d)\n", m_colors[0], m_colors[1], m_colors[2], m_colors[3]);
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

    int32_t palette_size() const override { return kSonPaletteSize; }

    bool honor_palette(std::string_view script_text, EditablePalette& palette,
                       base::Messages& messages) override {
        return honour_palette_comments(script_text, palette, messages);
    }

    // Sixteen little-endian 32-bit entries: red, green, blue, 0.
    std::optional<std::string> palette_file(const PaletteView& palette) const override {
        std::string bytes;
        for (int32_t i = 0; i < kSonPaletteSize; ++i) {
            const Colour c = palette.colour_at(i);
            bytes += static_cast<char>(red_of(c));
            bytes += static_cast<char>(green_of(c));
            bytes += static_cast<char>(blue_of(c));
            bytes += '\0';
        }
        return bytes;
    }

    std::u16string palette_file_name(std::u16string_view script_path) const override {
        const std::u16string_view name = file_name_of(script_path);
        const size_t dot = name.rfind(u'.');
        const size_t keep = script_path.size() - name.size() +
                            (dot == std::u16string_view::npos ? name.size() : dot);
        return std::u16string(script_path.substr(0, keep)) + u".spf";
    }
};

}  // namespace

std::unique_ptr<ScriptWriter> make_son_writer() {
    return std::make_unique<SonWriter>();
}

}  // namespace tessara::formats
