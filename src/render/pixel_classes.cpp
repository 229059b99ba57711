#include "render/pixel_classes.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

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
    // The box of the text pixels: the outline can only grow around them.
    int32_t tx0 = width, tx1 = 0, ty0 = height, ty1 = 0;
    // Thresholds outside the byte range behave like the nearest byte value.
    const int32_t face_t = std::clamp(p.face_threshold, 0, 256);
    const int32_t aa_t = std::clamp(p.aa_threshold, 0, 256);
    // g < t as g <= t - 1 on bytes, so that the row loop is vectorised; t = 0 admits nothing.
    const bool face_any = face_t > 0, aa_any = aa_t > 0;
    const auto face_max = static_cast<uint8_t>(face_any ? face_t - 1 : 0);
    const auto aa_max = static_cast<uint8_t>(aa_any ? aa_t - 1 : 0);
    const uint8_t text = p.text_class;
    const uint8_t antialias = p.antialias_class;
    const auto all_if = [](bool b) { return static_cast<uint8_t>(0u - static_cast<unsigned>(b)); };
    for (int32_t y = 0; y < height && width > 0; ++y) {
        const uint8_t* in = grey.row(y);
        uint8_t* out = face.row(y);
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t g = in[x];
            const uint8_t is_face = all_if(face_any && g <= face_max);
            const uint8_t is_aa = static_cast<uint8_t>(all_if(aa_any && g <= aa_max) & ~is_face);
            out[x] = static_cast<uint8_t>((is_face & text) | (is_aa & antialias) |
                                          (~(is_face | is_aa) & kBackground));
        }
        const void* found = std::memchr(out, text, static_cast<size_t>(width));
        if (found == nullptr) {
            continue;
        }
        const auto first = static_cast<int32_t>(static_cast<const uint8_t*>(found) - out);
        const auto from_end = std::find(std::make_reverse_iterator(out + width),
                                        std::make_reverse_iterator(out + first), text);
        const auto last = static_cast<int32_t>(from_end.base() - out) - 1;
        tx0 = std::min(tx0, first);
        tx1 = std::max(tx1, last + 1);
        ty0 = std::min(ty0, y);
        ty1 = y + 1;
    }
    const std::string_view shape = outline_shape(p.outline_size);
    // A run whose text has no colour slot grows no outline (every background pixel would
    // otherwise count as text).
    if (shape.empty() || p.text_class == kBackground || tx0 >= tx1) {
        return face;
    }
    // Every pixel from which a marked offset of the shape reaches a text pixel becomes outline
    // unless it already shows text or anti-alias. Each row of a shape is a centred run of marked
    // cells, so shape row r (radius k_r) marks (x, y) when a text pixel lies within k_r columns
    // of x on row y + r - n. The text rows are widened once per distinct radius, and each shape
    // row then costs one pass over the window around the text: O(window x d) rather than one
    // pass over the whole box per marked cell.
    const int32_t n = p.outline_size;
    const int32_t d = 2 * n + 1;
    const int32_t wx0 = std::max(0, tx0 - n), wx1 = std::min(width, tx1 + n);
    const int32_t wy0 = std::max(0, ty0 - n), wy1 = std::min(height, ty1 + n);
    const int32_t ww = wx1 - wx0;

    std::vector<int32_t> radius(static_cast<size_t>(d));
    for (int32_t r = 0; r < d; ++r) {
        int32_t marked = 0;
        for (int32_t c = 0; c < d; ++c) {
            marked += shape[static_cast<size_t>(r * d + c)] == '*' ? 1 : 0;
        }
        radius[static_cast<size_t>(r)] = marked / 2;
    }
    // widened[k] at (x - wx0, y - ty0): a text pixel in columns [x - k, x + k] of row y, for the
    // text rows ty0 <= y < ty1. Built radius by radius from shifted copies of the text mask,
    // in plain loops the compiler vectorises.
    const int32_t th = ty1 - ty0;
    std::vector<Bitmap<uint8_t>> widened(static_cast<size_t>(n + 1));
    widened[0] = Bitmap<uint8_t>(ww, th, 0);
    for (int32_t y = ty0; y < ty1; ++y) {
        const uint8_t* src = face.row(y) + wx0;
        uint8_t* dst = widened[0].row(y - ty0);
        for (int32_t x = 0; x < ww; ++x) {
            dst[x] = src[x] == p.text_class ? 1 : 0;
        }
    }
    for (int32_t k = 1; k <= n; ++k) {
        widened[static_cast<size_t>(k)] = widened[static_cast<size_t>(k - 1)];
        if (k >= ww) {
            continue;
        }
        for (int32_t y = 0; y < th; ++y) {
            const uint8_t* mask = widened[0].row(y);
            uint8_t* dst = widened[static_cast<size_t>(k)].row(y);
            for (int32_t x = 0; x + k < ww; ++x) {
                dst[x] |= mask[x + k];  // text k columns to the right
            }
            for (int32_t x = k; x < ww; ++x) {
                dst[x] |= mask[x - k];  // text k columns to the left
            }
        }
    }
    for (int32_t r = 0; r < d; ++r) {
        const int32_t dy = r - n;
        const auto& w = widened[static_cast<size_t>(radius[static_cast<size_t>(r)])];
        // Rows y whose source row y + dy is a text row.
        const int32_t y0 = std::max(wy0, ty0 - dy), y1 = std::min(wy1, ty1 - dy);
        for (int32_t y = y0; y < y1; ++y) {
            const uint8_t* src = w.row(y + dy - ty0);
            uint8_t* dst = face.row(y) + wx0;
            const uint8_t oc = p.outline_class;
            for (int32_t x = 0; x < ww; ++x) {
                const uint8_t v = dst[x];
                dst[x] = (src[x] != 0 && v == kBackground) ? oc : v;
            }
        }
    }
    return face;
}

}  // namespace tessara::render
