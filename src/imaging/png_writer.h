#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "render/bitmap.h"

namespace tessara::base {
class Messages;
}

// PNG pictures for looking at rendered subtitles outside an authoring tool.
namespace tessara::imaging {

using render::Bitmap;

// Pixels are 24-bit colours laid out as subpicture colours are: red in bits 0-7, green in
// bits 8-15, blue in bits 16-23; bits 24-31 are ignored. Rows run top to bottom.

// The picture with every pixel repeated `factor` times across and down (nearest neighbour);
// a factor below 1 counts as 1. An empty picture when the result would be more than 32768
// pixels on a side or more than 128 Mi pixels in all.
Bitmap<uint32_t> enlarge(const Bitmap<uint32_t>& image, int32_t factor);

// An 8-bit RGB PNG of the picture; nothing when libpng fails (an empty picture, or no memory).
std::optional<std::string> encode_png(const Bitmap<uint32_t>& image);

// An 8-bit palette PNG of `indices` with the first `colours.size()` entries (1-256) of a
// colour table laid out as above, and one opacity 0-255 per entry (a tRNS chunk; left out when
// every entry is opaque). Every index must be below colours.size(). Nothing when libpng fails.
std::optional<std::string> encode_png_indexed(const Bitmap<uint8_t>& indices,
                                              std::span<const uint32_t> colours,
                                              std::span<const uint8_t> opacity);

// Encodes and atomically writes the picture. On failure it reports once: the path followed by
// the system's text, or by "Unknown error" when encoding failed.
bool write_png(const std::string& path, const Bitmap<uint32_t>& image, base::Messages& messages);

}  // namespace tessara::imaging
