#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/bitmap_writer.h"
#include "render/pixel_class.h"
#include "render/rect.h"

// Ultech YC and compressed YC files: a 32-byte header, then every row of the bitmap twice (two
// passes), each row as three planes of 16-bit words, one word per pair of pixels:
// key (255 for text, 0 for background), luma, and chroma of the pair.
namespace tessara::imaging {

inline constexpr int32_t kYcMaxWidth = 1000;
inline constexpr std::string_view kYcWidthMessage = "Maximum bitmap width is 1000 for (U)YC files.";
// Introduces a run in a compressed plane: escape, count, word.
inline constexpr uint16_t kYcRunEscape = 0x0FF1;

// The extent moved to even coordinates as YC pixel pairs need: an odd left or top moves up or
// left by one, an odd right moves right by one, or left by one where that would pass the edge of
// a canvas `canvas_width` pixels wide (and leave a pixel pair). The bottom stays.
Rect yc_extent(const Rect& extent, int32_t canvas_width);

// Studio-range luma (16-235) of a colour (ClassColours layout).
uint8_t yc_luma(uint32_t colour);
// The chroma word of a pixel pair: Cr in the high byte, Cb in the low byte, both of the average
// of the two colours.
uint16_t yc_chroma(uint32_t first, uint32_t second);

// Run-length encoding of one compressed plane: runs of three or more equal words become
// escape, count, word; shorter runs stay as they are (a lone escape word is doubled).
std::vector<uint16_t> yc_run_length_encode(std::span<const uint16_t> words);

// The file for the class map's part inside `extent`, which must already have even left and
// right (yc_extent). Pixels outside the map are background. Nothing when the width exceeds
// kYcMaxWidth or the height 65535.
std::optional<std::string> encode_yc(const ClassMap& classes, const Rect& extent,
                                     const ClassColours& colours, bool compressed);

}  // namespace tessara::imaging
