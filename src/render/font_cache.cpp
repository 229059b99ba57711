#include "render/font_cache.h"

#include "base/int_math.h"

namespace tessara::render {

int32_t FontCache::logical_height(int32_t size, bool whole_pixels) {
    int64_t h = -(int64_t{size} * 4 / 3);
    return static_cast<int32_t>(whole_pixels ? h : h * 16);
}

int32_t FontCache::get(const FontSettings& settings, const std::u16string& face, int32_t size,
                       bool bold, bool italic, int32_t charset, bool charset_explicit,
                       bool antialias) {
    FontKey key;
    key.face = face.substr(0, 31);
    key.logical_height = logical_height(size, settings.whole_pixels);
    key.bold = bold;
    key.italic = italic;
    key.charset =
        settings.forced_charset != -1 && !charset_explicit ? settings.forced_charset : charset;
    key.antialias = antialias;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].key == key) {
            return static_cast<int32_t>(i);
        }
    }

    FontRequest request;
    request.face = key.face;
    request.height = key.logical_height;
    request.bold = bold;
    request.italic = italic;
    request.charset = key.charset;
    request.antialias = antialias;
    request.units_per_pixel = settings.units_per_pixel();
    std::unique_ptr<Font> font = m_engine.create(request);
    if (!font) {
        return -1;
    }
    if (settings.comp != 0) {
        // DVD pixels are not square: the font is made wider by the ratio of the frame's pixel
        // shape to the display's (4:3 or 16:9). The device's horizontal and vertical
        // resolutions are equal here and cancel out.
        const int64_t k = settings.comp == 2 ? 9 : 3;
        const int64_t m = settings.comp == 2 ? 16 : 4;
        const int64_t w = font->average_char_width();
        const int64_t denominator = int64_t{settings.output_height + settings.minus2} * m;
        if (w > 0 && denominator > 0) {
            request.width = static_cast<int32_t>(settings.output_width * w * k / denominator);
            if (auto wide = m_engine.create(request)) {
                font = std::move(wide);
            }
        }
    }
    if (m_entries.size() == m_entries.capacity()) {
        m_entries.reserve(m_entries.size() + 64);
    }
    FontEntry e;
    e.key = key;
    e.kerning = font->kerning_pairs();
    e.font = std::move(font);
    m_entries.push_back(std::move(e));
    return static_cast<int32_t>(m_entries.size() - 1);
}

}  // namespace tessara::render
