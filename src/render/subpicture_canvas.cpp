#include "render/subpicture_canvas.h"

#include <algorithm>
#include <cstring>

#include "script/settings.h"

namespace tessara::render {

SubpictureCanvas::SubpictureCanvas(int32_t width, int32_t height)
    : m_classes(width, height, kBackground) {}

void SubpictureCanvas::clear() {
    if (!m_box) {
        return;
    }
    const auto width = static_cast<size_t>(m_box->width());
    for (int32_t y = m_box->top; y < m_box->bottom; ++y) {
        std::memset(m_classes.row(y) + m_box->left, kBackground, width);
    }
    m_box.reset();
}

void SubpictureCanvas::compose(const ClassMap& classes, int32_t box_width, int32_t box_height,
                               int32_t dx, int32_t dy, bool is_tab, bool generate_bitmaps) {
    if (is_tab || box_width <= 0 || box_height <= 0) {
        return;
    }
    // 64-bit so that a box placed far outside cannot overflow on the way to being clipped.
    const int64_t left = std::max<int64_t>(dx, 0);
    const int64_t top = std::max<int64_t>(dy, 0);
    const int64_t right = std::min<int64_t>(int64_t{dx} + box_width, width());
    const int64_t bottom = std::min<int64_t>(int64_t{dy} + box_height, height());
    if (left >= right || top >= bottom) {
        return;
    }
    Rect clipped{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
                 static_cast<int32_t>(bottom)};
    if (m_box) {
        m_box->left = std::min(m_box->left, clipped.left);
        m_box->top = std::min(m_box->top, clipped.top);
        m_box->right = std::max(m_box->right, clipped.right);
        m_box->bottom = std::max(m_box->bottom, clipped.bottom);
    } else {
        m_box = clipped;
    }
    if (!generate_bitmaps) {
        return;
    }
    // Only the part of the box the map covers can hold ink; the rest stays background.
    const int32_t x0 = clipped.left;
    const auto x1 =
        static_cast<int32_t>(std::min<int64_t>(clipped.right, int64_t{dx} + classes.width()));
    const auto y1 =
        static_cast<int32_t>(std::min<int64_t>(clipped.bottom, int64_t{dy} + classes.height()));
    if (x0 >= x1) {
        return;
    }
    const auto count = static_cast<size_t>(x1 - x0);
    for (int32_t y = clipped.top; y < y1; ++y) {
        const uint8_t* in = classes.row(static_cast<int32_t>(int64_t{y} - dy)) + (int64_t{x0} - dx);
        uint8_t* out = m_classes.row(y) + x0;
        for (size_t i = 0; i < count; ++i) {
            out[i] = in[i] != kBackground ? in[i] : out[i];
        }
    }
}

ExtentOptions extent_options(const script::ConversionSettings& settings) {
    ExtentOptions options;
    options.fixed_width = settings.full_width ? settings.res_x : settings.fixed_width;
    options.dont_clip = settings.dont_clip;
    options.clip_minus_one_pixel = settings.clip_minus_one_pixel;
    return options;
}

Rect bitmap_extent(const SubpictureCanvas& canvas, const ExtentOptions& options) {
    Rect r;
    if (options.dont_clip) {
        r = {0, 0, canvas.width(), canvas.height()};
    } else if (!canvas.bounding_box()) {
        r = {0, 0, 1, 1};
    } else {
        r = *canvas.bounding_box();
        if (options.clip_minus_one_pixel) {
            if (r.left > 0) {
                --r.left;
            }
            if (r.top > 0) {
                --r.top;
            }
            if (r.right < canvas.width()) {
                ++r.right;
            }
            if (r.bottom < canvas.height()) {
                ++r.bottom;
            }
        }
        // Authoring tools want even widths, and a display area past the frame is refused: the
        // extra column goes on the right where there is room, else on the left; a box as wide
        // as an odd-width canvas loses its last column (one a single column wide keeps it).
        if (r.width() % 2 != 0) {
            if (r.right < canvas.width()) {
                ++r.right;
            } else if (r.left > 0) {
                --r.left;
            } else if (r.width() > 1) {
                --r.right;
            }
        }
    }
    if (options.fixed_width >= canvas.width()) {
        r.left = 0;
        r.right = canvas.width();
    } else if (options.fixed_width > 0) {
        r.left = (canvas.width() - options.fixed_width) / 2;
        r.right = r.left + options.fixed_width;
    }
    return r;
}

}  // namespace tessara::render
