#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/messages.h"
#include "formats/dvd_subpicture.h"
#include "formats/palette_honour.h"
#include "formats/script_text.h"
#include "formats/son_common.h"
#include "formats/writers.h"
#include "timeline/colour_slots.h"

namespace tessara::formats {

namespace {

// A DVD subpicture stream draws from 16 colours.
constexpr int32_t kVobSubPaletteSize = 16;

// "hh:mm:ss:mmm", the .idx form: the time rounded down to the millisecond, so it stays after
// the previous frame's start (frames being longer than a millisecond) and the subpicture is
// shown from its own frame on.
constexpr int64_t kTicksPerMillisecond = 90;

std::string idx_time(int64_t ticks) {
    const int64_t ms = std::max<int64_t>(ticks, 0) / kTicksPerMillisecond;
    const int64_t s = ms / 1000;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld:%03lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60),
                  static_cast<long long>(ms % 1000));
    return buf;
}

// The .idx index (frame size, the 16 colours, one timestamp and .sub offset per subpicture) and
// the .sub beside it: one DVD subpicture unit per subpicture in MPEG program stream packs,
// stamped on the 90 kHz clock. The idx also lists the used palette entries as comments, which
// honouring reads back. In split output each part's times count from its segment's start.
class VobSubWriter final : public ScriptWriter {
  public:
    script::ScriptType type() const override { return script::ScriptType::VOBSUB; }

    bool write_header(std::string& out, const ConversionSettings& settings, std::u16string_view,
                      const PaletteView& palette, const std::optional<FrameTime>& base_time,
                      base::Messages&) override {
        m_base = base_time ? base_time->frame : 0;
        m_sub.clear();
        put(out, "# VobSub index file, v7 (do not modify this line!)\n");
        // Numbered from 1: the reader counts from 1 until it meets an entry 0, so a palette
        // whose entry 0 is unused still reads back in its places.
        put_palette_comments(out, palette, 1);
        put(out, "size: %dx%d\n", settings.res_x, settings.res_y);
        put(out, "org: 0, 0\n");
        put(out, "scale: 100%%, 100%%\n");
        put(out, "alpha: 100%%\n");
        put(out, "smooth: OFF\n");
        put(out, "fadein/out: 0, 0\n");
        put(out, "align: OFF at LEFT TOP\n");
        put(out, "time offset: 0\n");
        put(out, "forced subs: OFF\n");
        std::string colours;
        for (int32_t i = 0; i < kVobSubPaletteSize; ++i) {
            const Colour c = palette.colour_at(i);
            char entry[16];
            std::snprintf(entry, sizeof entry, "%s%02x%02x%02x", i == 0 ? "" : ", ", red_of(c),
                          green_of(c), blue_of(c));
            colours += entry;
        }
        put(out, "palette: %s\n", colours.c_str());
        put(out, "custom colors: OFF, tridx: 0000, colors: 000000, 000000, 000000, 000000\n");
        put(out, "langidx: 0\n");
        put(out, "id: en, index: 0\n");
        return true;
    }

    void set_picture(const render::ClassMap& classes, const render::Rect& extent) override {
        m_classes = &classes;
        m_extent = extent;
    }

    bool write_subpicture(std::string& out, const ConversionSettings& settings, const PaletteView&,
                          base::Messages& messages) override {
        if (m_classes == nullptr) {
            return false;  // the run always gives the picture first
        }
        const int32_t rate = settings.timing.rate_out;
        const int64_t start =
            std::max<int64_t>(mpeg_ticks(int64_t{m_start.frame} - m_base, rate), 0);
        const int64_t stop = mpeg_ticks(int64_t{end().frame} - m_base, rate);

        SubpictureUnitLook look{};
        for (uint8_t k = 0; k < kClassCount; ++k) {
            const uint8_t slot = timeline::slot_of_class(k);
            const uint8_t value = slot == timeline::kBackgroundSlot ? 0 : slot + 1;
            look.value_of_class[k] = value;
            look.colour[value] = static_cast<uint8_t>(m_colors[k] & 0xF);
            look.contrast[value] = static_cast<uint8_t>(m_contrast[k]);
        }
        const std::string unit = encode_subpicture_unit(*m_classes, m_extent, m_area.left,
                                                        m_area.top, look, stop - start);
        m_classes = nullptr;
        if (unit.size() > kMaxSubpictureUnitSize) {
            char text[256];
            std::snprintf(text, sizeof text, kUnitTooLargeFormat, static_cast<int>(m_number),
                          smpte_text(m_start, settings).c_str(), unit.size(),
                          kMaxSubpictureUnitSize);
            messages.error(text);
            return false;
        }
        put(out, "timestamp: %s, filepos: %09llx\n", idx_time(start).c_str(),
            static_cast<unsigned long long>(m_sub.size()));
        append_subpicture_packs(m_sub, unit, start, 0);
        return true;
    }

    int32_t palette_size() const override { return kVobSubPaletteSize; }

    bool honor_palette(std::string_view script_text, EditablePalette& palette,
                       base::Messages& messages) override {
        return honour_palette_comments(script_text, palette, messages);
    }

    PictureFiles picture_files() const override { return PictureFiles::InCompanionFile; }
    std::string_view companion_extension() const override { return "sub"; }
    std::string take_companion() override { return std::exchange(m_sub, {}); }

  private:
    std::string m_sub;
    const render::ClassMap* m_classes = nullptr;
    render::Rect m_extent;
    int64_t m_base = 0;
};

}  // namespace

const char* const kUnitTooLargeFormat =
    "Subpicture %d, starting at %s, needs %zu bytes; a DVD subpicture unit holds at most %zu.\n"
    "Shorten its text or use fewer colour changes.";

std::unique_ptr<ScriptWriter> make_vobsub_writer() {
    return std::make_unique<VobSubWriter>();
}

}  // namespace tessara::formats
