#pragma once

#include <cstdint>
#include <optional>

#include "render/pixel_class.h"
#include "render/rect.h"

namespace tessara::script {
struct ConversionSettings;
}

namespace tessara::render {

// The composed picture of one subpicture: a class per pixel of the whole output frame, plus the
// box of everything placed on it so far. The bitmap writers read it; it is never changed by them.
class SubpictureCanvas {
  public:
    // A canvas of the output frame size (output pixels), all background, nothing composed.
    SubpictureCanvas(int32_t width, int32_t height);

    int32_t width() const { return m_classes.width(); }
    int32_t height() const { return m_classes.height(); }
    const ClassMap& classes() const { return m_classes; }

    // The box of everything composed so far, clipped to the canvas; nothing before the first
    // segment that overlaps the canvas.
    const std::optional<Rect>& bounding_box() const { return m_box; }

    // Back to all background with nothing composed. Only the bounding box is cleared: nothing
    // is ever drawn outside it, so one canvas serves a whole run without a full-frame fill per
    // subpicture.
    void clear();

    // Places one rendered segment with its top-left corner at (dx, dy). The segment's box is
    // box_width x box_height; `classes` holds its pixels and may be smaller than the box or empty
    // (missing pixels are background). The part inside the canvas counts towards the bounding
    // box as a whole, background pixels included, and its non-background pixels are copied onto
    // the canvas. A tab run changes nothing. With generate_bitmaps off only the bounding box is
    // kept up to date, so the extent can be reported without drawing.
    void compose(const ClassMap& classes, int32_t box_width, int32_t box_height, int32_t dx,
                 int32_t dy, bool is_tab, bool generate_bitmaps);

  private:
    ClassMap m_classes;
    std::optional<Rect> m_box;
};

// What decides the extent of a bitmap besides the canvas.
struct ExtentOptions {
    int32_t fixed_width = 0;            // output pixels, centred on the canvas; 0 or less: none
    bool dont_clip = false;             // the whole canvas
    bool clip_minus_one_pixel = false;  // one pixel of border around the content where it fits
};

// The options from the settings: the fixed width is ResX with FullWidth on, else FixedWidth.
ExtentOptions extent_options(const script::ConversionSettings& settings);

// The rectangle of the canvas a bitmap file covers:
// - DontClip: the whole canvas;
// - nothing composed: (0, 0, 1, 1);
// - otherwise the bounding box, with one pixel more on each side that has room when
//   clip_minus_one_pixel is set, then made of even width: one more column on the right, or on
//   the left when the box reaches the right edge, or one column less when it spans the whole
//   of an odd-width canvas;
// - a fixed width f > 0 then replaces the horizontal span with f columns centred on the canvas
//   (left = (canvas width - f) / 2, rounded down), or with the whole canvas when f is wider.
// The rectangle never leaves the canvas.
Rect bitmap_extent(const SubpictureCanvas& canvas, const ExtentOptions& options);

}  // namespace tessara::render
