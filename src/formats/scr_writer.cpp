#include <cstdio>

#include "base/messages.h"
#include "formats/palette_honour.h"
#include "formats/script_text.h"
#include "formats/writers.h"

namespace tessara::formats {

namespace {

constexpr int32_t kScrPaletteSize = 256;

// "Dec-20-05 10:35 AM". Month names and AM/PM are English whatever the locale: the tool reads
// the date as written by its own platform's C library.
std::string creation_date(const std::tm& t) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int month = t.tm_mon >= 0 && t.tm_mon < 12 ? t.tm_mon : 0;
    const int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
    char buf[120];
    std::snprintf(buf, sizeof buf, "%s-%02d-%02d %02d:%02d %s", kMonths[month], t.tm_mday,
                  ((t.tm_year % 100) + 100) % 100, hour12, t.tm_min, t.tm_hour < 12 ? "AM" : "PM");
    return buf;
}

class ScrWriter final : public ScriptWriter {
  public:
    script::ScriptType type() const override { return script::ScriptType::SCR; }

    // The background is painted with the user's output background colour, not a palette entry.
    std::array<Colour, kClassCount> color_keys(const PaletteView& palette,
                                               const ConversionSettings& settings) const override {
        return {palette.colour_at(m_colors[0]), palette.colour_at(m_colors[1]),
                palette.colour_at(m_colors[2]), settings.output_background};
    }

    bool write_header(std::string& out, const ConversionSettings& settings, std::u16string_view,
                      const PaletteView&, const std::optional<FrameTime>&,
                      base::Messages&) override {
        put(out, "# DVD Subtitle file: \"%s\"\n",
            text_bytes(file_title(settings.output_file)).c_str());
        put(out, "# Creation date: %s\n", creation_date(local_time()).c_str());
        put(out, "# Subtitle Company: \n");
        put(out, "# \"Name of the movie\" - English\n");
        put(out, "# Other: \n");
        put(out, "# Number of subtitles: \n");
        put(out, "# First time code: \n");
        put(out, "# Last time code: \n");
        put(out, "# Font: \n");
        put(out, "\n");
        m_colors_changed = true;
        m_contrast_changed = false;
        return true;
    }

    bool write_subpicture(std::string& out, const ConversionSettings& settings, const PaletteView&,
                          base::Messages&) override {
        put(out, "%s\t%s\t%s\t%d\t%d\t%d\t%d\n", text_bytes(m_bitmap_name).c_str(),
            smpte_text(m_start, settings).c_str(), smpte_text(end(), settings).c_str(),
            m_area.right - m_area.left, m_area.bottom - m_area.top, m_area.left, m_area.top);
        return true;
    }

    int32_t palette_size() const override { return kScrPaletteSize; }

    bool honor_palette(std::string_view, EditablePalette&, base::Messages& messages) override {
        messages.error(kHonourNotImplementedText);
        return false;
    }

    std::array<int32_t, kClassCount> bitmap_index_order(int32_t) const override {
        return {3, 2, 1, 0};
    }
};

}  // namespace

std::unique_ptr<ScriptWriter> make_scr_writer() {
    return std::make_unique<ScrWriter>();
}

}  // namespace tessara::formats
