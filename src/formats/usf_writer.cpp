#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_text.h"
#include "formats/writers.h"

namespace tessara::formats {

namespace {

constexpr int32_t kUsfPaletteSize = 4096;
constexpr int32_t kNtscHeight = 480;
constexpr int32_t kPalHeight = 576;
constexpr int32_t kUsfWidth = 720;
// Positions are given in half pixels from an origin this many (halved) lines down the frame.
constexpr int32_t kNtscTopOffset = 23;
constexpr int32_t kPalTopOffset = 40;

constexpr const char* kNoColorsText = "No colors in palette";
constexpr const char* kUsfHeightText =
    "Only heights of 480 (NTSC) and 576 (PAL)\r\nare supported for USF scripts.";
constexpr const char* kUsfWidthText = "Only a width of 720 is supported for USF scripts.";

// A list of SUBTITLE commands: "time name x y" shows a bitmap, "time" alone clears the screen.
// A clear is only needed where nothing follows a bitmap at once.
class UsfWriter final : public ScriptWriter {
  public:
    script::ScriptType type() const override { return script::ScriptType::USF; }

    // Checks the display area the run set before the header (inclusive right and bottom).
    bool write_header(std::string&, const ConversionSettings&, std::u16string_view,
                      const PaletteView& palette, const std::optional<FrameTime>&,
                      base::Messages& messages) override {
        if (!palette.any_used()) {
            messages.error(kNoColorsText);
            return false;
        }
        m_previous_end = FrameTime{};
        const int64_t height = int64_t{m_area.bottom} - m_area.top + 1;
        if (height != kNtscHeight && height != kPalHeight) {
            messages.error(kUsfHeightText);
            return false;
        }
        if (int64_t{m_area.right} != int64_t{m_area.left} + kUsfWidth - 1) {
            messages.error(kUsfWidthText);
            return false;
        }
        m_ntsc_height = height == kNtscHeight;
        return true;
    }

    bool write_subpicture(std::string& out, const ConversionSettings& settings, const PaletteView&,
                          base::Messages&) override {
        if (m_previous_end.is_set() && m_previous_end != m_start) {
            put(out, "SUBTITLE %s\n", smpte_text(m_previous_end, settings).c_str());
        }
        m_previous_end = end();
        // Halving rounds toward minus infinity, as a shift does.
        const int32_t x = m_area.left >> 1;
        const int32_t y = (m_area.top >> 1) + (m_ntsc_height ? kNtscTopOffset : kPalTopOffset);
        put(out, "SUBTITLE %s %s %d %d\n", smpte_text(m_start, settings).c_str(),
            text_bytes(m_bitmap_name).c_str(), x, y);
        return true;
    }

    bool write_footer(std::string& out, const ConversionSettings& settings,
                      base::Messages&) override {
        if (m_previous_end.is_set()) {
            put(out, "SUBTITLE %s\n", smpte_text(m_previous_end, settings).c_str());
        }
        return true;
    }

    int32_t palette_size() const override { return kUsfPaletteSize; }

    bool honor_palette(std::string_view, EditablePalette&, base::Messages& messages) override {
        messages.inform(kHonourNotNeededUsfText);
        return true;
    }

  private:
    FrameTime m_previous_end;  // exclusive end of the bitmap written last; unset before the first
    bool m_ntsc_height = false;
};

}  // namespace

std::unique_ptr<ScriptWriter> make_usf_writer() {
    return std::make_unique<UsfWriter>();
}

}  // namespace tessara::formats
