#include "render/pixel_classes.h"

#include <algorithm>

namespace tessara::render {

std::string_view outline_shape(int32_t size) {
    // Each row is a centred run of marked cells, so the shapes are close to discs.
    static constexpr std::string_view kShapes[] = {
        " * *** * ",
        " *** *************** *** ",
        "  ***   ***** ********************* *****   ***  ",
        "  *****   ******* ********************************************* *******   *****  ",
    };
    if (size < 1 || size > 4) {
        return {};
    }
    return kShapes[size - 1];
}

ClassMap classify_and_outline(const GreyMap& grey, int32_t width, int32_t height,
                              const ClassifyParams& p) {
    width = std::clamp(width, 0, grey.width());
    height = std::clamp(height, 0, grey.height());
    ClassMap face(width, height, kBackground);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = grey.row(y);
        uint8_t* out = face.row(y);
        for (int32_t x = 0; x < width; ++x) {
            if (in[x] < p.face_threshold) {
                out[x] = p.text_class;
            } else if (in[x] < p.aa_threshold) {
                out[x] = p.antialias_class;
            }
        }
    }
    const std::string_view shape = outline_shape(p.outline_size);
    // A run whose text has no colour slot grows no outline (every background pixel would
    // otherwise count as text).
    if (shape.empty() || p.text_class == kBackground) {
        return face;
    }
    // The outline map: every pixel from which a marked offset reaches a text pixel. Done as one
    // pass per marked cell over the pixels whose offset stays inside the map.
    ClassMap outline(width, height, kBackground);
    const int32_t n = p.outline_size;
    const int32_t d = 2 * n + 1;
    for (int32_t r = 0; r < d; ++r) {
        for (int32_t c = 0; c < d; ++c) {
            if (shape[static_cast<size_t>(r * d + c)] != '*') {
                continue;
            }
            const int32_t dx = c - n;
            const int32_t dy = r - n;
            const int32_t y0 = std::max(0, -dy), y1 = std::min(height, height - dy);
            const int32_t x0 = std::max(0, -dx), x1 = std::min(width, width - dx);
            for (int32_t y = y0; y < y1; ++y) {
                const uint8_t* src = face.row(y + dy);
                uint8_t* dst = outline.row(y);
                for (int32_t x = x0; x < x1; ++x) {
                    if (src[x + dx] == p.text_class) {
                        dst[x] = p.outline_class;
                    }
                }
            }
        }
    }
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = face.row(y);
        const uint8_t* ol = outline.row(y);
        for (int32_t x = 0; x < width; ++x) {
            if (out[x] == kBackground) {
                out[x] = ol[x];
            }
        }
    }
    return face;
}

}  // namespace tessara::render
