#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "render/pixel_class.h"
#include "render/rect.h"

// DVD subpicture units and the MPEG program stream packs that carry them, as a VobSub .sub file
// holds them. Pure byte building: no files, no messages.
namespace tessara::formats {

// The largest subpicture unit a DVD player has to accept, in bytes.
inline constexpr size_t kMaxSubpictureUnitSize = 53220;
// The size of one program stream pack.
inline constexpr size_t kPackSize = 2048;
// Display delays count in units of 1024 ticks of the 90 kHz clock.
inline constexpr int64_t kDelayTicks = 1024;

// What a unit shows. Pixel values 0-3 are the unit's four colours: value 0 is the background.
struct SubpictureUnitLook {
    std::array<uint8_t, 4> value_of_class;  // pixel value for pixel classes 0-3
    std::array<uint8_t, 4> colour;          // palette entry 0-15 per pixel value
    std::array<uint8_t, 4> contrast;        // 0 (transparent) - 15 (opaque) per pixel value
};

// The unit of the part of `classes` inside `extent` (which lies inside the map and is not
// empty), shown at `area_left`, `area_top` of the frame from the unit's stamp until
// `duration_ticks` later (rounded down to whole delay units, at most 65535 of them). The pixels
// are run-length coded in two fields, even rows first. The result may exceed
// kMaxSubpictureUnitSize (or even 65535 bytes, its size field then being wrong): the caller
// checks the size before using it.
std::string encode_subpicture_unit(const render::ClassMap& classes, const render::Rect& extent,
                                   int32_t area_left, int32_t area_top,
                                   const SubpictureUnitLook& look, int64_t duration_ticks);

// Appends `unit` as private stream 1 packets of substream 0x20 + `stream` (0-31), one per
// 2048-byte pack, the first stamped with `pts` (90 kHz ticks, 33 bits; every pack's clock
// reference holds it too); each pack is filled up with padding.
void append_subpicture_packs(std::string& out, std::string_view unit, int64_t pts, int stream);

}  // namespace tessara::formats
