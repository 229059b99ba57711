#pragma once

#include <cstdint>

#include "render/bitmap.h"

namespace tessara::render {

// What a pixel of a subpicture shows: one of three colour slots, or the transparent background.
enum class PixelClass : uint8_t { Slot0 = 0, Slot1 = 1, Slot2 = 2, Background = 3 };

inline constexpr uint8_t kBackground = 3;

// One byte per pixel holding a PixelClass value (0, 1, 2 or 3).
using ClassMap = Bitmap<uint8_t>;

}  // namespace tessara::render
