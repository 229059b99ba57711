#pragma once

#include <cstdint>

#include "render/bitmap.h"

namespace tessara::render {

// What a pixel of a subpicture shows: class 0, 1 or 2 is drawn in one of the subpicture's three
// colours (timeline::slot_of_class says which), class 3 is the transparent background.
inline constexpr uint8_t kBackground = 3;

// One byte per pixel holding its class (0, 1, 2 or 3).
using ClassMap = Bitmap<uint8_t>;

}  // namespace tessara::render
