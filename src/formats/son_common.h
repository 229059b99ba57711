#pragma once

#include <array>
#include <string>
#include <string_view>

#include "formats/script_writer.h"
#include "timeline/palette.h"

// Pieces the DVD Maestro and Scenarist scripts have in common.
namespace tessara::formats {

// The TV_Type and Tape_Type lines, and with drop frame the Base_Time line.
void put_tv_lines(std::string& out, const ConversionSettings& settings, std::string_view base_time);

// The commented palette listing, entries numbered from `first_number`.
void put_palette_comments(std::string& out, const PaletteView& palette, int first_number);

// The "Contrast\t(k0 k1 k2 k3)" line.
void put_contrast_line(std::string& out, const std::array<int32_t, kClassCount>& contrast);

// The user's fixed colours (pattern, emphasis 1, emphasis 2 and background: slots 0, 1, 2 and
// the background) as colour keys, per pixel class.
std::array<Colour, kClassCount> fixed_color_keys(const ConversionSettings& settings);

}  // namespace tessara::formats
