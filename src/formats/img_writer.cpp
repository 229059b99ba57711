#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_text.h"
#include "formats/writers.h"

namespace tessara::formats {

namespace {

constexpr int32_t kImgPaletteSize = 256;
constexpr const char* kImgRateText =
    "Only 25 and 29.97 output frame rates\ncan be used with Philips IMG files";

// Every entry repeats its colour and contrast lines, whether they changed or not.
class ImgWriter final : public ScriptWriter {
  public:
    script::ScriptType type() const override { return script::ScriptType::IMG; }

    bool write_header(std::string& out, const ConversionSettings& settings, std::u16string_view,
                      const PaletteView& palette, const std::optional<FrameTime>&,
                      base::Messages& messages) override {
        const bool pal = settings.timing.rate_out == 25000;
        if (!pal && settings.timing.rate_out != 29970) {
            messages.error(kImgRateText);
            return false;
        }
        put(out, "[HEADER]\n");
        put(out, "Title\t%s\n", text_bytes(file_title(settings.output_file)).c_str());
        if (pal) {
            put(out, "FRAMERATE\t%s\n", "PAL");
        } else {
            put(out, "FRAMERATE\t%s\n", "NTSC");
            put(out, "DROPFRAME\t%s\n", settings.timing.drop_frame ? "YES" : "NO");
        }
        put(out, "CONTRAST\t(%d, %d, %d, %d)\n", m_contrast[0], m_contrast[1], m_contrast[2],
            m_contrast[3]);
        m_colors_changed = true;
        m_contrast_changed = false;
        put(out, "\n[PALETTE]\n");
        for (int32_t i = 0; i < palette.size(); ++i) {
            if (palette.used(i)) {
                const Colour c = palette.colour_at(i);
                put(out, "%d\t(%d, %d, %d)\n", i, red_of(c), green_of(c), blue_of(c));
            }
        }
        put(out, "\n[LIST]\n");
        return true;
    }

    bool write_subpicture(std::string& out, const ConversionSettings& settings, const PaletteView&,
                          base::Messages&) override {
        put(out, "& Color\t(%d, %d, %d, %d)\n", m_colors[0], m_colors[1], m_colors[2], m_colors[3]);
        put(out, "& Contrast\t(%d, %d, %d, %d)\n", m_contrast[0], m_contrast[1], m_contrast[2],
            m_contrast[3]);
        put(out, "%s\t%s\t%s\t%d\t%d\t%d\t%d\n", text_bytes(m_bitmap_name).c_str(),
            smpte_text(m_start, settings).c_str(), smpte_text(end(), settings).c_str(),
            m_area.right - m_area.left, m_area.bottom - m_area.top, m_area.left, m_area.top);
        return true;
    }

    int32_t palette_size() const override { return kImgPaletteSize; }

    bool honor_palette(std::string_view, EditablePalette&, base::Messages& messages) override {
        messages.error(kHonourNotImplementedText);
        return false;
    }
};

}  // namespace

std::unique_ptr<ScriptWriter> make_img_writer() {
    return std::make_unique<ImgWriter>();
}

}  // namespace tessara::formats
