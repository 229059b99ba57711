#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "render/bitmap.h"

// The platform's fonts as text layout needs them. Everything here is in logical units: 1/16 of
// a device pixel normally, or whole pixels when the font was created with units_per_pixel 1
// (the older, less accurate rendering). Device pixels appear only where a map is drawn into.
// No FreeType, HarfBuzz or fontconfig type leaves this interface.
namespace tessara::render {

// What a font is created from; mirrors a logical font description.
struct FontRequest {
    std::u16string face;  // family name; at most 31 characters are used
    int32_t height = 0;   // logical units; negative: the em height (character height)
    int32_t width = 0;    // average character width in logical units; 0: natural width
    bool bold = false;    // weight 700 instead of 400
    bool italic = false;
    int32_t charset = 0;           // character set number (0-255), a hint for choosing the face
    bool antialias = true;         // grey edges; off gives pure black-and-white glyphs
    int32_t units_per_pixel = 16;  // 16 (1/16 px) or 1 (whole pixels)
};

// Font flags of a style (the "FontFlags" extra): which shaping steps apply.
inline constexpr int32_t kFontFlagKerning = 0x8;
inline constexpr int32_t kFontFlagLigatures = 0x20;
inline constexpr int32_t kFontFlagDiacritics = 0x100;

struct KerningPair {
    char16_t first = 0;
    char16_t second = 0;
    int32_t amount = 0;  // logical units
};

struct TextExtent {
    int32_t width = 0;   // logical units
    int32_t height = 0;  // logical units: the font's ascent plus descent
};

// How far a glyph is drawn from its pen position (logical units; y upwards). Shaping moves
// marks this way onto their base letters.
struct GlyphOffset {
    int32_t x = 0;
    int32_t y = 0;
};

// Glyphs of one run of text in visual order with where each goes.
struct GlyphPlacement {
    std::vector<uint32_t> glyphs;    // font glyph indices
    std::vector<int32_t> advances;   // logical units, one per glyph
    std::vector<uint32_t> clusters;  // index in the text of each glyph's first character
    TextExtent extent;               // sum of the advances, and the font's height
    // One per glyph, or empty when no glyph is displaced. Advances alone give the pen positions;
    // the offsets only move where each glyph is drawn.
    std::vector<GlyphOffset> offsets;
    // One per glyph, or empty when every glyph is the font's own. 0: the font's own face; k: the
    // k-th face standing in for characters it lacks. Only the font that placed the glyphs can
    // draw them.
    std::vector<uint16_t> faces;
};

// One created font. Owned by the FontCache; not shared between threads.
class Font {
  public:
    virtual ~Font() = default;

    virtual int32_t ascent() const = 0;              // logical units, above the baseline
    virtual int32_t descent() const = 0;             // logical units, below the baseline
    virtual int32_t average_char_width() const = 0;  // logical units
    // Pairs the font asks to be kerned when the layout applies kerning itself. Fonts whose
    // kerning is applied by shaping (see place) report none, so it is never applied twice.
    virtual std::vector<KerningPair> kerning_pairs() const = 0;

    // Glyph placement of `text` with shaping; font_flags choose kerning, ligatures and mark
    // positioning. right_to_left_off: the text is already in visual order and must not be
    // reordered. char_extra (logical units) is added to every glyph's advance. Nothing when the
    // text cannot be shaped.
    virtual std::optional<GlyphPlacement> place(std::u16string_view text, int32_t font_flags,
                                                bool right_to_left_off,
                                                int32_t char_extra) const = 0;
    // The plain path: one nominal glyph per character, no shaping.
    virtual GlyphPlacement place_plain(std::u16string_view text, int32_t char_extra) const = 0;

    // Draws the glyphs black on the grey map (255 paper, 0 ink; ink darkens, never lightens):
    // the top of the text cell (ascent above the baseline) at device row y, the first glyph's
    // origin at device column x. Pixels outside the map are clipped.
    virtual void draw(const GlyphPlacement& glyphs, GreyMap& map, int32_t x, int32_t y) const = 0;
};

// Creates fonts from requests.
class FontEngine {
  public:
    virtual ~FontEngine() = default;

    // Nothing when the face resolves to no font file at all or the file cannot be used.
    virtual std::unique_ptr<Font> create(const FontRequest& request) = 0;
};

// The engine of this system: fontconfig finds the file for a face (with its substitutes),
// FreeType rasterises, HarfBuzz shapes.
std::unique_ptr<FontEngine> make_system_font_engine();

}  // namespace tessara::render
