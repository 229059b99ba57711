#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "render/pixel_class.h"
#include "render/rect.h"

// DVD subpicture units and the MPEG program stream packs that carry them, as a VobSub .sub file
// holds them, built and read back. Pure bytes: no files, no messages.
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

// A subpicture unit read back.
struct DecodedUnit {
    // The display area: its top-left corner on the frame and its size, in frame pixels.
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    // Pixel values 0-3, `width` to a row, rows top-down (both fields interleaved again).
    std::vector<uint8_t> pixels;
    std::array<uint8_t, 4> colour{};    // palette entry 0-15 per pixel value
    std::array<uint8_t, 4> contrast{};  // 0 (transparent) - 15 (opaque) per pixel value
    // When the unit is shown and hidden, in delay units (kDelayTicks) after its stamp. No stop
    // delay: the unit stays until the next one replaces it.
    int64_t start_delay = 0;
    std::optional<int64_t> stop_delay;
};

// Decodes one whole unit (its size field must match `unit`'s size). It needs a display area and
// field offsets; colours and contrasts missing from it stay 0. Nothing, with a one-line reason in
// `error`, for anything malformed: a field offset or a control sequence outside the unit, a
// control sequence that links backwards, an unknown command, pixel data that ends before the
// area is filled or a run that passes the end of a row.
std::optional<DecodedUnit> decode_subpicture_unit(std::string_view unit, std::string& error);

// The units of subpicture stream 0 (substream 0x20) in `sub_bytes`, a program stream as a VobSub
// .sub holds it, with the stamp of the packet each starts in (90 kHz ticks), in file order. A unit
// is put back together from the private stream 1 packets it spans; other streams and padding are
// skipped. Reading stops at the first malformed pack or packet, or a unit cut short; the units
// before it are returned, and the reason is put in `*error` when given (left empty otherwise).
std::vector<std::pair<int64_t, std::string>> read_subpicture_packs(std::string_view sub_bytes,
                                                                   std::string* error = nullptr);

}  // namespace tessara::formats
