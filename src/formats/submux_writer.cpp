#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_text.h"
#include "formats/writers.h"

namespace tessara::formats {

namespace {

constexpr int32_t kSubmuxPaletteSize = 4096;

// One line per subpicture: name, start, end, size, position and the four contrasts as 0-255
// levels in reverse class order.
class SubmuxWriter final : public ScriptWriter {
  public:
    script::ScriptType type() const override { return script::ScriptType::SMX; }

    bool write_header(std::string&, const ConversionSettings&, std::u16string_view,
                      const PaletteView&, const std::optional<FrameTime>&,
                      base::Messages&) override {
        return true;
    }

    bool write_subpicture(std::string& out, const ConversionSettings& settings, const PaletteView&,
                          base::Messages&) override {
        auto level = [](int32_t k) { return k * 255 / 15; };
        put(out, "%s %s %s %d %d %d %d %d %d %d %d\n", text_bytes(m_bitmap_name).c_str(),
            centisecond_text(m_start, settings).c_str(), centisecond_text(end(), settings).c_str(),
            m_area.right - m_area.left, m_area.bottom - m_area.top, m_area.left, m_area.top,
            level(m_contrast[3]), level(m_contrast[2]), level(m_contrast[1]), level(m_contrast[0]));
        return true;
    }

    int32_t palette_size() const override { return kSubmuxPaletteSize; }

    bool honor_palette(std::string_view, EditablePalette&, base::Messages& messages) override {
        messages.error(kHonourNotImplementedText);
        return false;
    }

    std::array<int32_t, kClassCount> bitmap_index_order(int32_t) const override {
        return {3, 2, 1, 0};
    }
};

}  // namespace

std::unique_ptr<ScriptWriter> make_submux_writer() {
    return std::make_unique<SubmuxWriter>();
}

}  // namespace tessara::formats
