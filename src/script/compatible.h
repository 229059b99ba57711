#pragma once

#include <cstdint>

// The bits of the "Compatible" setting: each makes output match what older versions of the
// program, or of the authoring tools, did or expect.
namespace tessara::script::compatible {

// A word advances by its box less one outline width instead of two.
inline constexpr int32_t kOutlineWidensWordSpacing = 0x1;
// Text is measured in whole pixels rather than sixteenths of a pixel.
inline constexpr int32_t kWholePixels = 0x2;
// Lines step by their height less one outline width instead of two, and a subtitle collides
// with its whole box, outline included.
inline constexpr int32_t kOutlineWidensLineSpacing = 0x4;
// Manually and automatically positioned subtitles are placed in one pass, with equal priority.
inline constexpr int32_t kSinglePlacementPass = 0x8;
// Captions Inc. export lines carry the actor's name instead of a colour code.
inline constexpr int32_t kCaptionNames = 0x10;
// The Scenarist header carries a Color line, and each script file starts out with the colours
// of its first subpicture.
inline constexpr int32_t kHeaderColours = 0x80;
// Font sizes are stored 5/2 times larger than they are drawn.
inline constexpr int32_t kOldScale = 0x100;
// The Scenarist Directory line is "." instead of the script's folder.
inline constexpr int32_t kDotDirectory = 0x200;
// The Scenarist Pixel_Area starts at line 2 instead of 0, and ends two lines lower.
inline constexpr int32_t kPixelAreaFrom2 = 0x400;

}  // namespace tessara::script::compatible
