// The system font engine: fontconfig chooses the font file for a face name, HarfBuzz places
// glyphs, FreeType turns outlines into coverage.
//
// Scaling is done here rather than by FreeType's size objects. Glyph outlines are loaded in font
// units and scaled by our own matrix, and HarfBuzz reads advances straight from the font tables at
// our own scale. That keeps fractional sizes exact (FreeType would round the pixel size of most
// TrueType fonts to whole pixels), lets fonts of every size share one FreeType face, and makes the
// drawn outlines match the measured advances exactly, since neither is hinted. Text is drawn at the
// output resolution and placed to 1/16 pixel, where hinting to whole pixels would only fight the
// sub-pixel positions.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>
#include <hb.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "base/int_math.h"
#include "base/text.h"
#include "render/font_engine.h"

namespace tessara::render {
namespace {

// Em size for a request with height 0, in pixels.
constexpr double kDefaultEmPixels = 12.0;
// Sizes are held to this range (pixels per em); beyond it glyph bitmaps would be absurdly large.
constexpr double kMinEmPixels = 1.0 / 64.0;
constexpr double kMaxEmPixels = 4096.0;
constexpr int32_t kMaxUnitsPerPixel = 64;
// Only this many characters of a face name are looked up.
constexpr size_t kMaxFaceChars = 31;
// Synthetic italic leans glyphs by 12 degrees; synthetic bold thickens strokes by 1/24 em.
constexpr double kSyntheticSlant = 0.21256;
constexpr double kSyntheticBoldPerEm = 1.0 / 24.0;
// Memory a font keeps of the glyphs it has rendered (bytes); when full, it starts afresh. Each
// entry also costs about this much in the table besides its coverage.
constexpr size_t kGlyphCacheBytes = size_t{2} << 20;
constexpr size_t kGlyphEntryOverhead = 32;

// a / b rounded to nearest, halves away from zero; b > 0.
int64_t round_div(int64_t a, int64_t b) {
    return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b);
}

int32_t clamp_to_int32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// The language a character set number stands for, used to prefer faces that cover it and to let
// shaping pick the language's glyph forms. Nothing for the Western and symbol sets.
const char* charset_language(int32_t charset) {
    switch (charset) {
        case 128:
            return "ja";
        case 129:
        case 130:
            return "ko";
        case 134:
            return "zh-cn";
        case 136:
            return "zh-tw";
        case 161:
            return "el";
        case 162:
            return "tr";
        case 163:
            return "vi";
        case 177:
            return "he";
        case 178:
            return "ar";
        case 186:
            return "lt";
        case 204:
            return "ru";
        case 222:
            return "th";
        case 238:
            return "cs";
        default:
            return nullptr;
    }
}

// The face name as fontconfig takes it: at most 31 UTF-16 units (never half a surrogate pair),
// ending at any NUL. A leading '@' asks for the face's vertical forms; the face is found without
// it and its text is drawn horizontally.
std::string family_name(std::u16string_view face) {
    face = face.substr(0, std::min(face.find(u'\0'), face.size()));
    if (face.size() > kMaxFaceChars) {
        face = face.substr(0, kMaxFaceChars);
        if (face.back() >= 0xD800 && face.back() <= 0xDBFF) {
            face.remove_suffix(1);
        }
    }
    if (!face.empty() && face.front() == u'@') {
        face.remove_prefix(1);
    }
    return base::utf16_to_utf8(face);
}

// The character at text[i] and how many UTF-16 units it takes; a lone surrogate is U+FFFD.
std::pair<char32_t, size_t> char_at(std::u16string_view text, size_t i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
        return {0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00), 2};
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
        return {0xFFFD, 1};
    }
    return {c, 1};
}

// ---------------------------------------------------------------------------------------------
// Shared FreeType and HarfBuzz objects

struct Library {
    FT_Library ft = nullptr;
    Library() {
        if (FT_Init_FreeType(&ft) != 0) {
            ft = nullptr;
        }
    }
    ~Library() {
        if (ft != nullptr) {
            FT_Done_FreeType(ft);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

// One face of one font file, opened once and shared by every font made from it. The file is
// mapped once; FreeType and HarfBuzz both read that mapping.
struct FaceFile {
    std::shared_ptr<Library> library;
    hb_blob_t* blob = nullptr;
    hb_face_t* hb_face = nullptr;
    FT_Face ft_face = nullptr;
    unsigned named_instance = 0;  // 1-based named instance of a variable font; 0: default

    // Font-unit metrics.
    int32_t units_per_em = 0;
    int32_t ascent = 0;     // above the baseline, covering every glyph the font expects to show
    int32_t descent = 0;    // below the baseline, positive
    int32_t avg_width = 0;  // average character width

    FaceFile() = default;
    FaceFile(const FaceFile&) = delete;
    FaceFile& operator=(const FaceFile&) = delete;
    ~FaceFile() {
        if (ft_face != nullptr) {
            FT_Done_Face(ft_face);
        }
        hb_face_destroy(hb_face);
        hb_blob_destroy(blob);
    }
};

// Opens face `index` of `path` (the high 16 bits of the index select a named instance, as
// fontconfig reports them). Nothing when the file is not a scalable OpenType or TrueType font.
std::shared_ptr<FaceFile> open_face(const std::shared_ptr<Library>& library,
                                    const std::string& path, int index) {
    if (library->ft == nullptr || index < 0) {
        return nullptr;
    }
    auto f = std::make_shared<FaceFile>();
    f->library = library;
    f->blob = hb_blob_create_from_file_or_fail(path.c_str());
    if (f->blob == nullptr) {
        return nullptr;
    }
    unsigned length = 0;
    const char* data = hb_blob_get_data(f->blob, &length);
    if (data == nullptr || length == 0 ||
        FT_New_Memory_Face(library->ft, reinterpret_cast<const FT_Byte*>(data),
                           static_cast<FT_Long>(length), index, &f->ft_face) != 0) {
        f->ft_face = nullptr;
        return nullptr;
    }
    FT_Face ft = f->ft_face;
    if (!FT_IS_SCALABLE(ft) || !FT_IS_SFNT(ft) || ft->units_per_EM == 0) {
        return nullptr;
    }
    f->hb_face = hb_face_create(f->blob, static_cast<unsigned>(index) & 0xFFFFu);
    if (hb_face_get_glyph_count(f->hb_face) == 0) {
        return nullptr;
    }
    f->named_instance = static_cast<unsigned>(index) >> 16;
    f->units_per_em = ft->units_per_EM;

    // The OS/2 table's win ascent and descent bound every glyph the font shows; the horizontal
    // header is the fallback, then the bounding box.
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
    const bool has_os2 = os2 != nullptr && os2->version != 0xFFFF;
    if (has_os2 && os2->usWinAscent + os2->usWinDescent > 0) {
        f->ascent = os2->usWinAscent;
        f->descent = os2->usWinDescent;
    } else if (ft->ascender - ft->descender > 0) {
        f->ascent = ft->ascender;
        f->descent = -ft->descender;
    } else {
        f->ascent = static_cast<int32_t>(ft->bbox.yMax);
        f->descent = static_cast<int32_t>(-ft->bbox.yMin);
    }
    if (f->ascent + f->descent <= 0) {
        f->ascent = f->units_per_em * 4 / 5;
        f->descent = f->units_per_em / 5;
    }

    if (has_os2 && os2->xAvgCharWidth > 0) {
        f->avg_width = os2->xAvgCharWidth;
    } else {
        // Without the table's figure, the width of "x" stands for the average.
        FT_Fixed advance = 0;
        const FT_UInt x = FT_Get_Char_Index(ft, 'x');
        if (x != 0 && FT_Get_Advance(ft, x, FT_LOAD_NO_SCALE, &advance) == 0 && advance > 0) {
            f->avg_width = static_cast<int32_t>(advance);
        } else {
            f->avg_width = f->units_per_em / 2;
        }
    }
    return f;
}

struct HbFontDeleter {
    void operator()(hb_font_t* f) const { hb_font_destroy(f); }
};
struct HbBufferDeleter {
    void operator()(hb_buffer_t* b) const { hb_buffer_destroy(b); }
};

// The faces an engine has opened, by file and index. Shared with the fallback lists of the fonts
// it made, which may outlive it.
class FaceTable {
  public:
    FaceTable() : m_library(std::make_shared<Library>()) {}

    std::shared_ptr<FaceFile> open(const std::string& path, int index) {
        const auto key = std::make_pair(path, index);
        if (auto it = m_faces.find(key); it != m_faces.end()) {
            return it->second;
        }
        auto f = open_face(m_library, path, index);
        m_faces.emplace(key, f);  // failures are remembered too
        return f;
    }

  private:
    std::shared_ptr<Library> m_library;
    std::map<std::pair<std::string, int>, std::shared_ptr<FaceFile>> m_faces;
};

// A numeric property of a font pattern; `fallback` when it is missing or a range (a variable
// font, which can take the style asked for).
int pattern_number(FcPattern* p, const char* object, int fallback) {
    int i = 0;
    if (FcPatternGetInteger(p, object, 0, &i) == FcResultMatch) {
        return i;
    }
    double d = 0;
    if (FcPatternGetDouble(p, object, 0, &d) == FcResultMatch) {
        return static_cast<int>(d);
    }
    return fallback;
}

// A face chosen for a request, with what must be synthesised because the file lacks it.
struct StyledFace {
    std::shared_ptr<FaceFile> face;
    bool synthetic_bold = false;
    bool synthetic_italic = false;
};

// Opens the file of a font fontconfig listed; the style is the font's own, not that of a
// prepared pattern, where configuration may have already marked a regular face bold.
StyledFace open_listed(FaceTable& table, FcPattern* font, bool bold, bool italic) {
    StyledFace found;
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || file == nullptr) {
        return found;
    }
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    found.face = table.open(reinterpret_cast<const char*>(file), index);
    if (found.face) {
        const int weight = pattern_number(font, FC_WEIGHT, FC_WEIGHT_BOLD);
        const int slant = pattern_number(font, FC_SLANT, FC_SLANT_ITALIC);
        found.synthetic_bold = bold && weight < FC_WEIGHT_DEMIBOLD;
        found.synthetic_italic = italic && slant == FC_SLANT_ROMAN;
    }
    return found;
}

// The faces that stand in for characters a face lacks, in fontconfig's order of preference for
// the family, style and language asked for (as a system with linked fonts would fill them in).
// Nothing is sorted until a character is first missing, and a candidate is opened only when its
// character set has a missing character. Shared by every size of the face.
class FallbackFaces {
  public:
    // Takes a reference to `pattern`, the request after configuration.
    FallbackFaces(std::shared_ptr<FaceTable> table, FcPattern* pattern, bool bold, bool italic)
        : m_table(std::move(table)), m_pattern(pattern), m_bold(bold), m_italic(italic) {
        FcPatternReference(m_pattern);
    }
    ~FallbackFaces() {
        if (m_set != nullptr) {
            FcFontSetDestroy(m_set);
        }
        FcPatternDestroy(m_pattern);
    }
    FallbackFaces(const FallbackFaces&) = delete;
    FallbackFaces& operator=(const FallbackFaces&) = delete;

    // The candidate whose face has a glyph for c; -1 when none has.
    int find(char32_t c) {
        if (auto it = m_found.find(c); it != m_found.end()) {
            return it->second;
        }
        sort();
        int found = -1;
        for (size_t i = 0; i < m_candidates.size() && found < 0; ++i) {
            Candidate& k = m_candidates[i];
            if (k.charset == nullptr || !FcCharSetHasChar(k.charset, c)) {
                continue;
            }
            if (!k.opened) {
                k.opened = true;
                k.face = open_listed(*m_table, m_set->fonts[i], m_bold, m_italic);
            }
            if (k.face.face && FT_Get_Char_Index(k.face.face->ft_face, c) != 0) {
                found = static_cast<int>(i);
            }
        }
        m_found.emplace(c, found);
        return found;
    }

    // A candidate find() returned.
    const StyledFace& face(int candidate) const {
        return m_candidates.at(static_cast<size_t>(candidate)).face;
    }
    size_t size() const { return m_candidates.size(); }

  private:
    struct Candidate {
        FcCharSet* charset = nullptr;  // held by m_set
        bool opened = false;
        StyledFace face;
    };

    void sort() {
        if (m_sorted) {
            return;
        }
        m_sorted = true;
        FcResult result = FcResultNoMatch;
        m_set = FcFontSort(nullptr, m_pattern, FcFalse, nullptr, &result);
        // Glyph face numbers are 16 bits, 0 standing for the font's own face.
        const int count = m_set != nullptr ? std::min(m_set->nfont, 0xFFFE) : 0;
        m_candidates.resize(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            FcCharSet* charset = nullptr;
            if (FcPatternGetCharSet(m_set->fonts[i], FC_CHARSET, 0, &charset) == FcResultMatch) {
                m_candidates[static_cast<size_t>(i)].charset = charset;
            }
        }
    }

    std::shared_ptr<FaceTable> m_table;
    FcPattern* m_pattern = nullptr;
    bool m_bold = false;
    bool m_italic = false;
    bool m_sorted = false;
    FcFontSet* m_set = nullptr;
    std::vector<Candidate> m_candidates;
    std::unordered_map<char32_t, int> m_found;
};

// ---------------------------------------------------------------------------------------------
// Fonts

// Everything a font needs once its face is chosen and its size worked out.
struct FontSetup {
    std::shared_ptr<FaceFile> face;
    int32_t units_per_pixel = 16;
    bool antialias = true;
    double em_x = 0;  // pixels per em horizontally (differs from em_y when the width is set)
    double em_y = 0;  // pixels per em vertically
    bool synthetic_bold = false;
    bool synthetic_italic = false;
    hb_language_t language = HB_LANGUAGE_INVALID;
    // Faces for the characters this one lacks; none for a font that itself stands in.
    std::shared_ptr<FallbackFaces> fallbacks;
};

class SystemFont final : public Font {
  public:
    explicit SystemFont(FontSetup s) : m_setup(std::move(s)) {
        const FaceFile& f = *m_setup.face;
        const int32_t upp = m_setup.units_per_pixel;
        const double upem = f.units_per_em;

        // Ascent and descent are rounded outwards to whole pixels: the cell then holds every
        // glyph, and the baseline falls on a pixel row however the layout rounds.
        const auto whole_pixels = [&](int32_t units) {
            const double px = units * m_setup.em_y / upem;
            return static_cast<int32_t>(std::ceil(px - 1e-9)) * upp;
        };
        m_ascent = whole_pixels(f.ascent);
        m_descent = whole_pixels(f.descent);
        m_avg_width = static_cast<int32_t>(std::lround(f.avg_width * m_setup.em_x / upem * upp));

        // HarfBuzz works in 1/64 logical units; outlines are scaled to 1/64 device pixels.
        m_hb_font.reset(hb_font_create(f.hb_face));
        hb_font_set_scale(m_hb_font.get(), static_cast<int>(std::lround(m_setup.em_x * 64 * upp)),
                          static_cast<int>(std::lround(m_setup.em_y * 64 * upp)));
        hb_font_set_ppem(m_hb_font.get(), static_cast<unsigned>(std::lround(m_setup.em_x)),
                         static_cast<unsigned>(std::lround(m_setup.em_y)));
        if (f.named_instance > 0) {
            hb_font_set_var_named_instance(m_hb_font.get(), f.named_instance - 1);
        }
        if (m_setup.synthetic_italic) {
            // Shaping then shifts raised marks along the slant so they stay on their letters.
            hb_font_set_synthetic_slant(m_hb_font.get(), static_cast<float>(kSyntheticSlant));
        }
        hb_font_make_immutable(m_hb_font.get());
        m_buffer.reset(hb_buffer_create());

        m_scale.xx = static_cast<FT_Fixed>(std::lround(m_setup.em_x * 64 / upem * 65536));
        m_scale.yy = static_cast<FT_Fixed>(std::lround(m_setup.em_y * 64 / upem * 65536));
        m_scale.xy = 0;
        m_scale.yx = 0;
        if (m_setup.synthetic_bold) {
            // Thickening widens each glyph by this much (1/64 px) and its advance with it.
            m_embolden = std::max<FT_Pos>(1, std::lround(m_setup.em_y * 64 * kSyntheticBoldPerEm));
        }
    }

    int32_t ascent() const override { return m_ascent; }
    int32_t descent() const override { return m_descent; }
    int32_t average_char_width() const override { return m_avg_width; }
    std::vector<KerningPair> kerning_pairs() const override { return {}; }

    std::optional<GlyphPlacement> place(std::u16string_view text, int32_t font_flags,
                                        bool right_to_left_off, int32_t char_extra) const override;
    GlyphPlacement place_plain(std::u16string_view text, int32_t char_extra) const override;
    void draw(const GlyphPlacement& glyphs, GreyMap& map, int32_t x, int32_t y) const override;

  private:
    // A placement being built: advances and offsets still in 1/64 logical units.
    struct Shaped {
        GlyphPlacement g;
        std::vector<int64_t> advances64;
        std::vector<std::pair<hb_position_t, hb_position_t>> offsets64;
        uint16_t face = 0;  // the face every glyph is drawn with
    };
    bool shape(std::u16string_view text, size_t start, size_t length, int32_t font_flags,
               hb_direction_t direction) const;
    Shaped collect(uint16_t face) const;
    GlyphPlacement finish(Shaped& s, int32_t char_extra) const;
    // False when the face covers the text (shaped in m_buffer); otherwise `out` is the text
    // placed with the fallback faces, or nothing when it cannot be shaped.
    bool place_with_fallbacks(std::u16string_view text, int32_t font_flags, int32_t char_extra,
                              std::optional<GlyphPlacement>& out) const;
    // The font that draws glyphs of `face` (0: this one), made when first needed; nothing for a
    // face that cannot be used.
    const SystemFont* fallback_font(uint16_t face) const;
    // The fallback face that has c; 0 when none has.
    uint16_t face_for(char32_t c) const;
    bool has_char(char32_t c) const;

    // Advance of a shaped or nominal glyph in 1/64 logical units, with the synthetic bold.
    int64_t with_bold(int64_t advance) const {
        return advance != 0 ? advance + int64_t{m_embolden} * m_setup.units_per_pixel : advance;
    }
    // Turns advances in 1/64 logical units into logical ones. The pen positions are rounded
    // rather than each advance, so rounding never adds up along a line.
    void finish(GlyphPlacement& g, const std::vector<int64_t>& advances64,
                int32_t char_extra) const;
    void draw_glyph(uint32_t glyph, int64_t x64, int64_t y64, GreyMap& map) const;

    // Rendered glyphs by glyph and sub-pixel origin. A glyph's coverage depends on nothing else,
    // and subtitles repeat the same letters at the same few fractions over and over.
    struct CachedGlyph {
        int64_t left = 0;  // the coverage's left column and top row relative to the whole-pixel
        int64_t top = 0;   // origin (top upwards, as in the outline)
        unsigned width = 0;
        unsigned rows = 0;
        int pitch = 0;
        bool drawable = false;  // false: the glyph draws nothing at all
        std::vector<unsigned char> coverage;
    };
    static uint64_t glyph_key(uint32_t glyph, int64_t fx, int64_t fy) {
        return (uint64_t{glyph} << 12) | static_cast<uint64_t>(fx << 6) | static_cast<uint64_t>(fy);
    }
    void blend(const unsigned char* coverage, int pitch, unsigned width, unsigned rows,
               GreyMap& map, int64_t map_left, int64_t map_top) const;
    // Keeps a glyph, counting its entry as well as its coverage; a full cache starts afresh.
    void remember(uint64_t key, CachedGlyph glyph) const {
        const size_t bytes = glyph.coverage.size() + sizeof(CachedGlyph) + kGlyphEntryOverhead;
        if (m_glyph_bytes + bytes > kGlyphCacheBytes) {
            m_glyphs.clear();
            m_glyph_bytes = 0;
        }
        m_glyph_bytes += bytes;
        m_glyphs.insert_or_assign(key, std::move(glyph));
    }

    FontSetup m_setup;
    int32_t m_ascent = 0;
    int32_t m_descent = 0;
    int32_t m_avg_width = 0;
    std::unique_ptr<hb_font_t, HbFontDeleter> m_hb_font;
    std::unique_ptr<hb_buffer_t, HbBufferDeleter> m_buffer;  // reused by every place()
    FT_Matrix m_scale{};
    FT_Pos m_embolden = 0;                          // 1/64 px; 0 without synthetic bold
    mutable std::vector<unsigned char> m_coverage;  // scratch glyph bitmap for draw()
    mutable std::unordered_map<uint64_t, CachedGlyph> m_glyphs;
    mutable size_t m_glyph_bytes = 0;  // held by m_glyphs, entries included
    // By fallback candidate; fonts are made only for the candidates used.
    mutable std::vector<std::unique_ptr<SystemFont>> m_fallback_fonts;
};

void SystemFont::finish(GlyphPlacement& g, const std::vector<int64_t>& advances64,
                        int32_t char_extra) const {
    g.advances.resize(advances64.size());
    int64_t pen64 = 0;
    int64_t pen = 0;
    int64_t width = 0;
    for (size_t i = 0; i < advances64.size(); ++i) {
        pen64 += advances64[i];
        const int64_t next = round_div(pen64, 64);
        const int64_t advance = next - pen + char_extra;
        pen = next;
        g.advances[i] = clamp_to_int32(advance);
        width += g.advances[i];
    }
    g.extent.width = clamp_to_int32(width);
    g.extent.height = m_ascent + m_descent;
}

// Shapes text[start, start + length) into m_buffer, the rest of the text serving as context.
// A direction of HB_DIRECTION_INVALID is guessed from the text.
bool SystemFont::shape(std::u16string_view text, size_t start, size_t length, int32_t font_flags,
                       hb_direction_t direction) const {
    hb_buffer_t* buffer = m_buffer.get();
    hb_buffer_reset(buffer);
    hb_buffer_add_utf16(buffer, reinterpret_cast<const uint16_t*>(text.data()),
                        static_cast<int>(text.size()), static_cast<unsigned>(start),
                        static_cast<int>(length));
    // Text already in visual order is shaped left to right. HarfBuzz still shapes a
    // right-to-left script in its logical order internally (joining forms come out right) but
    // returns the glyphs in the order given and mirrors no brackets.
    if (direction != HB_DIRECTION_INVALID) {
        hb_buffer_set_direction(buffer, direction);
    }
    if (m_setup.language != HB_LANGUAGE_INVALID) {
        hb_buffer_set_language(buffer, m_setup.language);
    }
    hb_buffer_guess_segment_properties(buffer);

    // Kerning and ligatures follow their flags. The diacritics flag governs mark positioning:
    // without it marks keep zero width and sit where the pen is, unattached. Composition and
    // decomposition (normalisation, "ccmp") always happen, as many scripts need them to show
    // at all; so do required ligatures such as Arabic lam-alef.
    const bool kern = (font_flags & kFontFlagKerning) != 0;
    const bool liga = (font_flags & kFontFlagLigatures) != 0;
    const bool marks = (font_flags & kFontFlagDiacritics) != 0;
    const auto feature = [](const char tag[4], bool on) {
        return hb_feature_t{HB_TAG(tag[0], tag[1], tag[2], tag[3]), on ? 1u : 0u,
                            HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END};
    };
    const hb_feature_t features[] = {feature("kern", kern), feature("liga", liga),
                                     feature("clig", liga), feature("mark", marks),
                                     feature("mkmk", marks)};
    hb_shape(m_hb_font.get(), buffer, features, std::size(features));
    return hb_buffer_allocation_successful(buffer) != 0;
}

// The glyphs of m_buffer, drawn with `face`.
SystemFont::Shaped SystemFont::collect(uint16_t face) const {
    unsigned count = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(m_buffer.get(), &count);
    const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(m_buffer.get(), nullptr);
    Shaped out;
    out.face = face;
    out.g.glyphs.resize(count);
    out.g.clusters.resize(count);
    out.advances64.resize(count);
    out.offsets64.resize(count);
    for (unsigned i = 0; i < count; ++i) {
        out.g.glyphs[i] = info[i].codepoint;
        out.g.clusters[i] = info[i].cluster;
        out.advances64[i] = with_bold(pos[i].x_advance);
        out.offsets64[i] = {pos[i].x_offset, pos[i].y_offset};
    }
    return out;
}

GlyphPlacement SystemFont::finish(Shaped& s, int32_t char_extra) const {
    GlyphPlacement& g = s.g;
    bool displaced = false;
    for (const auto& [x, y] : s.offsets64) {
        displaced = displaced || x != 0 || y != 0;
    }
    if (displaced) {
        g.offsets.resize(s.offsets64.size());
        for (size_t i = 0; i < s.offsets64.size(); ++i) {
            g.offsets[i].x = clamp_to_int32(round_div(s.offsets64[i].first, 64));
            g.offsets[i].y = clamp_to_int32(round_div(s.offsets64[i].second, 64));
        }
    }
    finish(g, s.advances64, char_extra);
    return std::move(g);
}

const SystemFont* SystemFont::fallback_font(uint16_t face) const {
    if (face == 0) {
        return this;
    }
    const size_t k = face - 1u;
    if (!m_setup.fallbacks || k >= m_setup.fallbacks->size()) {
        return nullptr;
    }
    if (m_fallback_fonts.size() <= k) {
        m_fallback_fonts.resize(k + 1);
    }
    if (!m_fallback_fonts[k]) {
        const StyledFace& f = m_setup.fallbacks->face(static_cast<int>(k));
        if (!f.face) {
            return nullptr;
        }
        // The same size and rendering as this font; only the outlines come from elsewhere.
        FontSetup setup = m_setup;
        setup.face = f.face;
        setup.synthetic_bold = f.synthetic_bold;
        setup.synthetic_italic = f.synthetic_italic;
        setup.fallbacks = nullptr;
        m_fallback_fonts[k] = std::make_unique<SystemFont>(std::move(setup));
    }
    return m_fallback_fonts[k].get();
}

uint16_t SystemFont::face_for(char32_t c) const {
    if (!m_setup.fallbacks) {
        return 0;
    }
    const int k = m_setup.fallbacks->find(c);
    return k >= 0 ? static_cast<uint16_t>(k + 1) : 0;
}

bool SystemFont::has_char(char32_t c) const {
    hb_codepoint_t glyph = 0;
    return hb_font_get_nominal_glyph(m_hb_font.get(), c, &glyph) != 0;
}

std::optional<GlyphPlacement> SystemFont::place(std::u16string_view text, int32_t font_flags,
                                                bool right_to_left_off, int32_t char_extra) const {
    if (text.size() > static_cast<size_t>(INT_MAX / 4)) {
        return std::nullopt;
    }
    if (!shape(text, 0, text.size(), font_flags,
               right_to_left_off ? HB_DIRECTION_LTR : HB_DIRECTION_INVALID)) {
        return std::nullopt;
    }
    std::optional<GlyphPlacement> mixed;
    if (m_setup.fallbacks && place_with_fallbacks(text, font_flags, char_extra, mixed)) {
        return mixed;
    }
    Shaped s = collect(0);
    return finish(s, char_extra);
}

// False for text the face covers, which is left as shaped. Otherwise the characters in clusters
// that came out as the missing glyph, and that the face lacks, go to the first fallback face that
// has them, marks and joiners after them going along where that face has them too. Each stretch of
// one face is shaped with the direction the whole text was, in the context of the whole text.
bool SystemFont::place_with_fallbacks(std::u16string_view text, int32_t font_flags,
                                      int32_t char_extra,
                                      std::optional<GlyphPlacement>& out) const {
    unsigned count = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(m_buffer.get(), &count);
    if (std::none_of(info, info + count,
                     [](const hb_glyph_info_t& g) { return g.codepoint == 0; })) {
        return false;
    }
    const hb_direction_t direction = hb_buffer_get_direction(m_buffer.get());

    // Which units of the text are in a cluster with a missing glyph.
    std::vector<uint32_t> starts;
    starts.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        starts.push_back(info[i].cluster);
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    std::vector<bool> missing(text.size(), false);
    for (unsigned i = 0; i < count; ++i) {
        if (info[i].codepoint != 0) {
            continue;
        }
        const auto next = std::upper_bound(starts.begin(), starts.end(), info[i].cluster);
        const size_t end = next == starts.end() ? text.size() : *next;
        for (size_t u = info[i].cluster; u < end && u < text.size(); ++u) {
            missing[u] = true;
        }
    }

    std::vector<uint16_t> faces(text.size(), 0);
    bool any = false;
    uint16_t previous = 0;
    for (size_t i = 0; i < text.size();) {
        const auto [c, units] = char_at(text, i);
        uint16_t face = 0;
        if (missing[i]) {
            if (!has_char(c)) {
                face = face_for(c);
            } else if (previous != 0) {
                const SystemFont* f = fallback_font(previous);
                face = f != nullptr && f->has_char(c) ? previous : 0;
            }
        }
        std::fill_n(faces.begin() + static_cast<std::ptrdiff_t>(i), units, face);
        any = any || face != 0;
        previous = face;
        i += units;
    }
    if (!any) {
        return false;
    }

    std::vector<Shaped> runs;
    for (size_t start = 0; start < text.size();) {
        size_t end = start + 1;
        while (end < text.size() && faces[end] == faces[start]) {
            ++end;
        }
        const SystemFont* f = fallback_font(faces[start]);
        if (f == nullptr) {
            f = this;
        }
        if (!f->shape(text, start, end - start, font_flags, direction)) {
            out.reset();
            return true;
        }
        runs.push_back(f->collect(f == this ? 0 : faces[start]));
        start = end;
    }
    if (HB_DIRECTION_IS_BACKWARD(direction)) {
        std::reverse(runs.begin(), runs.end());
    }
    Shaped s;
    for (Shaped& r : runs) {
        s.g.glyphs.insert(s.g.glyphs.end(), r.g.glyphs.begin(), r.g.glyphs.end());
        s.g.clusters.insert(s.g.clusters.end(), r.g.clusters.begin(), r.g.clusters.end());
        s.g.faces.insert(s.g.faces.end(), r.g.glyphs.size(), r.face);
        s.advances64.insert(s.advances64.end(), r.advances64.begin(), r.advances64.end());
        s.offsets64.insert(s.offsets64.end(), r.offsets64.begin(), r.offsets64.end());
    }
    out = finish(s, char_extra);
    return true;
}

GlyphPlacement SystemFont::place_plain(std::u16string_view text, int32_t char_extra) const {
    Shaped s;
    for (size_t i = 0; i < text.size();) {
        const auto [c, units] = char_at(text, i);
        const SystemFont* f = this;
        uint16_t face = 0;
        hb_codepoint_t glyph = 0;
        if (!hb_font_get_nominal_glyph(m_hb_font.get(), c, &glyph)) {
            glyph = 0;
            if (const SystemFont* other = fallback_font(face_for(c)); other != this && other) {
                if (hb_font_get_nominal_glyph(other->m_hb_font.get(), c, &glyph)) {
                    f = other;
                    face = face_for(c);
                } else {
                    glyph = 0;
                }
            }
        }
        s.g.glyphs.push_back(glyph);
        s.g.clusters.push_back(static_cast<uint32_t>(i));
        s.g.faces.push_back(face);
        s.advances64.push_back(
            f->with_bold(hb_font_get_glyph_h_advance(f->m_hb_font.get(), glyph)));
        i += units;
    }
    finish(s.g, s.advances64, char_extra);
    if (std::all_of(s.g.faces.begin(), s.g.faces.end(), [](uint16_t v) { return v == 0; })) {
        s.g.faces.clear();
    }
    return std::move(s.g);
}

void SystemFont::draw(const GlyphPlacement& glyphs, GreyMap& map, int32_t x, int32_t y) const {
    if (map.empty()) {
        return;
    }
    const int64_t upp = m_setup.units_per_pixel;
    // Pen positions are kept in logical units and each glyph is drawn at its exact position in
    // 1/64 pixels, so sub-pixel placement survives into the coverage.
    const auto to64 = [upp](int64_t logical) { return round_div(logical * 64, upp); };
    const int64_t baseline64 = (int64_t{y} * upp + m_ascent) * 64 / upp;
    const size_t count = std::min(glyphs.glyphs.size(), glyphs.advances.size());
    const bool has_offsets = glyphs.offsets.size() >= count;
    const bool has_faces = glyphs.faces.size() >= count;
    int64_t pen = 0;
    for (size_t i = 0; i < count; ++i) {
        const GlyphOffset offset = has_offsets ? glyphs.offsets[i] : GlyphOffset{};
        const int64_t gx = int64_t{x} * 64 + to64(pen + offset.x);
        const int64_t gy = baseline64 - to64(offset.y);
        // Glyphs of a fallback face sit on this font's baseline.
        if (const SystemFont* f = has_faces ? fallback_font(glyphs.faces[i]) : this) {
            f->draw_glyph(glyphs.glyphs[i], gx, gy, map);
        }
        pen += glyphs.advances[i];
    }
}

// Ink darkens: each pixel keeps the darker of what is there and the glyph's grey. The coverage
// must lie wholly inside the map.
void SystemFont::blend(const unsigned char* coverage, int pitch, unsigned width, unsigned rows,
                       GreyMap& map, int64_t map_left, int64_t map_top) const {
    for (unsigned r = 0; r < rows; ++r) {
        const unsigned char* src = coverage + static_cast<size_t>(r) * static_cast<size_t>(pitch);
        uint8_t* dst = map.row(static_cast<int32_t>(map_top + r)) + map_left;
        if (m_setup.antialias) {
            for (unsigned c = 0; c < width; ++c) {
                const auto grey = static_cast<uint8_t>(255 - src[c]);
                dst[c] = grey < dst[c] ? grey : dst[c];
            }
        } else {
            for (unsigned c = 0; c < width; ++c) {
                if (((src[c >> 3] >> (7 - (c & 7))) & 1) != 0) {
                    dst[c] = 0;
                }
            }
        }
    }
}

// Draws one glyph with its origin at (x64, y64), in 1/64 device pixels from the map's top left.
void SystemFont::draw_glyph(uint32_t glyph, int64_t x64, int64_t y64, GreyMap& map) const {
    // The whole-pixel part of the origin becomes the bitmap's place in the map, the fraction
    // moves the outline.
    const int64_t ix = base::floor_div(x64, 64);
    const int64_t iy = base::floor_div(y64, 64);
    const int64_t fx = x64 - ix * 64;
    const int64_t fy = y64 - iy * 64;
    const uint64_t key = glyph_key(glyph, fx, fy);
    if (auto it = m_glyphs.find(key); it != m_glyphs.end()) {
        const CachedGlyph& g = it->second;
        if (!g.drawable) {
            return;
        }
        // A glyph that reaches over the map's edge is rendered clipped below instead.
        const int64_t map_left = ix + g.left;
        const int64_t map_top = iy - g.top;
        if (map_left >= 0 && map_top >= 0 && map_left + g.width <= map.width() &&
            map_top + g.rows <= map.height()) {
            blend(g.coverage.data(), g.pitch, g.width, g.rows, map, map_left, map_top);
            return;
        }
    }

    FT_Face ft = m_setup.face->ft_face;
    if (glyph >= static_cast<uint32_t>(ft->num_glyphs) ||
        FT_Load_Glyph(ft, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) != 0 ||
        ft->glyph->format != FT_GLYPH_FORMAT_OUTLINE || ft->glyph->outline.n_points == 0) {
        remember(key, CachedGlyph{});
        return;
    }
    FT_Outline* outline = &ft->glyph->outline;
    FT_Matrix scale = m_scale;
    FT_Outline_Transform(outline, &scale);
    if (m_embolden != 0) {
        FT_Outline_EmboldenXY(outline, m_embolden, m_embolden);
    }
    if (m_setup.synthetic_italic) {
        FT_Matrix slant{0x10000, static_cast<FT_Fixed>(std::lround(kSyntheticSlant * 0x10000)), 0,
                        0x10000};
        FT_Outline_Transform(outline, &slant);
    }
    // Device rows grow downwards while outline y grows upwards.
    FT_Outline_Translate(outline, static_cast<FT_Pos>(fx), -static_cast<FT_Pos>(fy));

    FT_BBox box;
    FT_Outline_Get_CBox(outline, &box);
    const int64_t left = base::floor_div(box.xMin, 64);
    const int64_t top = base::ceil_div(box.yMax, 64);
    const int64_t width = base::ceil_div(box.xMax, 64) - left;
    const int64_t rows = top - base::floor_div(box.yMin, 64);
    // Where the glyph's pixel cell falls in the map; only the part inside is rasterised.
    const int64_t map_left = ix + left;
    const int64_t map_top = iy - top;
    const int64_t c0 = std::max<int64_t>(0, -map_left);
    const int64_t c1 = std::min<int64_t>(width, map.width() - map_left);
    const int64_t r0 = std::max<int64_t>(0, -map_top);
    const int64_t r1 = std::min<int64_t>(rows, map.height() - map_top);
    if (c0 >= c1 || r0 >= r1) {
        return;
    }
    const bool whole = c0 == 0 && r0 == 0 && c1 == width && r1 == rows;

    FT_Bitmap bitmap{};
    bitmap.width = static_cast<unsigned>(c1 - c0);
    bitmap.rows = static_cast<unsigned>(r1 - r0);
    if (m_setup.antialias) {
        bitmap.pixel_mode = FT_PIXEL_MODE_GRAY;
        bitmap.num_grays = 256;
        bitmap.pitch = static_cast<int>(bitmap.width);
    } else {
        bitmap.pixel_mode = FT_PIXEL_MODE_MONO;
        bitmap.pitch = static_cast<int>((bitmap.width + 15) / 16 * 2);
    }
    std::vector<unsigned char> coverage;
    std::vector<unsigned char>& buffer = whole ? coverage : m_coverage;
    buffer.assign(static_cast<size_t>(bitmap.pitch) * bitmap.rows, 0);
    bitmap.buffer = buffer.data();
    // The bitmap's bottom left corner becomes the outline's origin.
    FT_Outline_Translate(outline, static_cast<FT_Pos>(-(left + c0) * 64),
                         static_cast<FT_Pos>(-(top - r1) * 64));
    if (FT_Outline_Get_Bitmap(m_setup.face->library->ft, outline, &bitmap) != 0) {
        return;
    }
    blend(buffer.data(), bitmap.pitch, bitmap.width, bitmap.rows, map, map_left + c0, map_top + r0);
    if (!whole) {
        return;  // only a glyph rendered whole is kept
    }
    remember(key, CachedGlyph{left, top, bitmap.width, bitmap.rows, bitmap.pitch, true,
                              std::move(coverage)});
}

// ---------------------------------------------------------------------------------------------
// The engine

// A face chosen for a request and the faces that stand in for the characters it lacks.
struct Resolved : StyledFace {
    std::shared_ptr<FallbackFaces> fallbacks;
};

class SystemFontEngine final : public FontEngine {
  public:
    SystemFontEngine() : m_faces(std::make_shared<FaceTable>()) {}

    std::unique_ptr<Font> create(const FontRequest& request) override;

  private:
    using ResolveKey = std::tuple<std::string, bool, bool, std::string>;

    const Resolved* resolve(const std::string& family, bool bold, bool italic,
                            const char* language);

    std::shared_ptr<FaceTable> m_faces;
    std::map<ResolveKey, Resolved> m_resolved;  // an empty face: nothing usable was found
};

const Resolved* SystemFontEngine::resolve(const std::string& family, bool bold, bool italic,
                                          const char* language) {
    ResolveKey key{family, bold, italic, language != nullptr ? language : ""};
    if (auto it = m_resolved.find(key); it != m_resolved.end()) {
        return it->second.face ? &it->second : nullptr;
    }
    Resolved found;
    FcPattern* pattern = FcPatternCreate();
    if (pattern != nullptr) {
        if (!family.empty()) {
            FcPatternAddString(pattern, FC_FAMILY,
                               reinterpret_cast<const FcChar8*>(family.c_str()));
        }
        FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        if (language != nullptr) {
            FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(language));
        }
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        // Candidates best first; the first that FreeType and HarfBuzz can both use is taken, so
        // a bitmap-only or unreadable best match falls through to the next.
        FcResult result = FcResultNoMatch;
        FcFontSet* set = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
        for (int i = 0; set != nullptr && i < set->nfont && !found.face; ++i) {
            static_cast<StyledFace&>(found) = open_listed(*m_faces, set->fonts[i], bold, italic);
        }
        if (set != nullptr) {
            FcFontSetDestroy(set);
        }
        if (found.face) {
            found.fallbacks = std::make_shared<FallbackFaces>(m_faces, pattern, bold, italic);
        }
        FcPatternDestroy(pattern);
    }
    auto [it, inserted] = m_resolved.emplace(std::move(key), std::move(found));
    return it->second.face ? &it->second : nullptr;
}

std::unique_ptr<Font> SystemFontEngine::create(const FontRequest& request) {
    if (request.units_per_pixel < 1 || request.units_per_pixel > kMaxUnitsPerPixel) {
        return nullptr;
    }
    const char* language = charset_language(request.charset);
    const Resolved* resolved =
        resolve(family_name(request.face), request.bold, request.italic, language);
    if (resolved == nullptr) {
        return nullptr;
    }
    const FaceFile& f = *resolved->face;
    const double upp = request.units_per_pixel;
    const double upem = f.units_per_em;

    // Negative heights give the em, positive ones the whole cell (ascent plus descent).
    double em_y = kDefaultEmPixels;
    if (request.height < 0) {
        em_y = -static_cast<double>(request.height) / upp;
    } else if (request.height > 0) {
        em_y = request.height / upp * upem / (f.ascent + f.descent);
    }
    em_y = std::clamp(em_y, kMinEmPixels, kMaxEmPixels);
    // A width stretches or narrows the glyphs until the average character is that wide.
    double em_x = em_y;
    if (request.width != 0) {
        const double target = std::abs(static_cast<double>(request.width)) / upp;
        em_x = std::clamp(target * upem / f.avg_width, kMinEmPixels, kMaxEmPixels);
    }

    FontSetup setup;
    setup.face = resolved->face;
    setup.units_per_pixel = request.units_per_pixel;
    setup.antialias = request.antialias;
    setup.em_x = em_x;
    setup.em_y = em_y;
    setup.synthetic_bold = resolved->synthetic_bold;
    setup.synthetic_italic = resolved->synthetic_italic;
    setup.fallbacks = resolved->fallbacks;
    if (language != nullptr) {
        setup.language = hb_language_from_string(language, -1);
    }
    return std::make_unique<SystemFont>(std::move(setup));
}

}  // namespace

std::unique_ptr<FontEngine> make_system_font_engine() {
    return std::make_unique<SystemFontEngine>();
}

}  // namespace tessara::render
