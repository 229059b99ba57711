#include <algorithm>
#include <cstdio>

#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_text.h"
#include "formats/writers.h"
#include "timeline/colour_slots.h"

namespace tessara::formats {

namespace {

// A DVD subpicture stream holds 16 colours; every picture of the stream draws from them.
constexpr int32_t kSpumuxPaletteSize = 16;

// spumux reads a time as seconds with at most four decimals and drops any further digits, so
// its finest step is 1/10000 s, nine ticks of the 90 kHz clock. A time written as the frame's
// start rounded down to that step lands less than nine ticks before the frame's own stamp and
// (a frame being at least 1500 ticks long) after the previous frame's: the subpicture starts
// or stops exactly at that frame at every rate, 29.97 drop frame included (3003 ticks a frame,
// which 1/10000 s does not divide). Drop-frame labels never appear: the elapsed time is
// computed from the frame number.
constexpr int64_t kTicksPerStep = 9;  // 90 kHz / 10000

std::string spumux_time(int64_t frame, int32_t rate) {
    const int64_t units = std::max<int64_t>(mpeg_ticks(frame, rate), 0) / kTicksPerStep;
    const int64_t seconds = units / 10000;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%04lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), static_cast<long long>(units % 10000));
    return buf;
}

std::string xml_attribute(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The XML that dvdauthor's spumux muxes into a video stream: one <spu> per subpicture with its
// PNG, shown from its first frame to its exclusive end frame at the picture's top-left corner.
// Image names are relative: spumux is run in the script's folder. In split output each part
// goes with its own segment's video, so its times count from the segment's start.
class SpumuxWriter final : public ScriptWriter {
  public:
    script::ScriptType type() const override { return script::ScriptType::SPU; }

    bool write_header(std::string& out, const ConversionSettings& settings, std::u16string_view,
                      const PaletteView&, const std::optional<FrameTime>& base_time,
                      base::Messages&) override {
        m_base = base_time ? base_time->frame : 0;
        put(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        put(out, "<subpictures format=\"%s\">\n",
            settings.timing.rate_out == 25000 ? "PAL" : "NTSC");
        put(out, "  <stream>\n");
        return true;
    }

    bool write_subpicture(std::string& out, const ConversionSettings& settings, const PaletteView&,
                          base::Messages&) override {
        const int32_t rate = settings.timing.rate_out;
        put(out, "    <spu start=\"%s\" end=\"%s\" image=\"%s\" xoffset=\"%d\" yoffset=\"%d\"/>\n",
            spumux_time(int64_t{m_start.frame} - m_base, rate).c_str(),
            spumux_time(int64_t{end().frame} - m_base, rate).c_str(),
            xml_attribute(text_bytes(m_bitmap_name)).c_str(), m_area.left, m_area.top);
        return true;
    }

    bool write_footer(std::string& out, const ConversionSettings&, base::Messages&) override {
        put(out, "  </stream>\n");
        put(out, "</subpictures>\n");
        return true;
    }

    int32_t palette_size() const override { return kSpumuxPaletteSize; }

    // The pictures carry the colours; the XML has no palette to read back.
    bool honor_palette(std::string_view, EditablePalette&, base::Messages& messages) override {
        messages.error(kHonourNotImplementedText);
        return false;
    }

    PictureFiles picture_files() const override { return PictureFiles::TransparentPng; }

    // Entry 0 is the transparent background, then slots 0, 1 and 2 (text, anti-alias and
    // outline in the usual colour mode).
    std::array<int32_t, kClassCount> bitmap_index_order(int32_t) const override {
        std::array<int32_t, kClassCount> order{};
        for (uint8_t k = 0; k < kClassCount; ++k) {
            const uint8_t slot = timeline::slot_of_class(k);
            order[k] = slot == timeline::kBackgroundSlot ? 0 : slot + 1;
        }
        return order;
    }

  private:
    int64_t m_base = 0;
};

}  // namespace

std::unique_ptr<ScriptWriter> make_spumux_writer() {
    return std::make_unique<SpumuxWriter>();
}

}  // namespace tessara::formats
