#pragma once

#include <cstdint>
#include <string_view>

#include "render/bitmap.h"
#include "render/pixel_class.h"

namespace tessara::render {

// How one run's grey rendering becomes classes.
struct ClassifyParams {
    int32_t face_threshold = 85;  // grey below this is text
    int32_t aa_threshold = 200;   // grey below this (and not text) is anti-alias
    int32_t outline_size = 0;     // 0-4; 0 draws no outline
    uint8_t text_class = 0;
    uint8_t antialias_class = kBackground;
    uint8_t outline_class = kBackground;
};

// The outline shape of size 1-4 as d x d characters (d = 2 * size + 1) row by row, '*' where a
// text pixel at that offset produces outline. Empty for other sizes.
std::string_view outline_shape(int32_t size);

// Classifies the first `width` columns and `height` rows of `grey` (which may be wider: scratch
// columns are ignored) with strict thresholds, grows the outline from every pixel holding the
// text class, and combines the two: a pixel keeps its face class unless that is background, in
// which case it takes the outline class.
ClassMap classify_and_outline(const GreyMap& grey, int32_t width, int32_t height,
                              const ClassifyParams& params);

}  // namespace tessara::render
