#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "render/font_engine.h"

namespace tessara::render {

// What distinguishes one cached font from another.
struct FontKey {
    std::u16string face;
    int32_t logical_height = 0;
    bool bold = false;
    bool italic = false;
    int32_t charset = 0;
    bool antialias = true;

    bool operator==(const FontKey&) const = default;
};

struct FontEntry {
    FontKey key;
    std::unique_ptr<Font> font;
    int32_t ascent_px = -1;  // device pixels; -1 until first measured
    std::vector<KerningPair> kerning;
};

// The settings font creation depends on.
struct FontSettings {
    bool old_scale = false;       // script::compatible::kOldScale
    bool whole_pixels = false;    // script::compatible::kWholePixels
    int32_t forced_charset = -1;  // "CodePage"; -1 keeps each style's own
    int32_t comp = 0;             // "Comp": 0 none, 1 for 4:3, 2 for 16:9 width compensation
    int32_t output_width = 720;   // "ResX"
    int32_t output_height = 478;  // "ResY" less "Minus2"
    int32_t minus2 = 2;

    int32_t units_per_pixel() const { return whole_pixels ? 1 : 16; }
};

// The process-wide table of created fonts, one per distinct key. Fonts, their metrics and
// kerning pairs are created once and shared until the cache is emptied. Not thread-safe.
class FontCache {
  public:
    explicit FontCache(FontEngine& engine) : m_engine(engine) {}

    // The index of the font for a style's face, size (as the style reads it back), weight,
    // slant and character set; -1 when the font cannot be created. charset_explicit: the style's
    // character set was given by a tag, so a forced one does not replace it.
    int32_t get(const FontSettings& settings, const std::u16string& face, int32_t size, bool bold,
                bool italic, int32_t charset, bool charset_explicit, bool antialias);

    FontEntry& entry(int32_t index) { return m_entries.at(static_cast<size_t>(index)); }
    size_t size() const { return m_entries.size(); }
    void clear() { m_entries.clear(); }

    // Logical height of a point size: -(size * 4 / 3), in 1/16 px or whole pixels.
    static int32_t logical_height(int32_t size, bool whole_pixels);

  private:
    FontEngine& m_engine;
    std::vector<FontEntry> m_entries;
};

}  // namespace tessara::render
