#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "render/bitmap.h"
#include "render/pixel_class.h"
#include "render/rect.h"
#include "render/subpicture_canvas.h"

namespace tessara::base {
class Messages;
}

// Bitmap files of subpictures. Every encoder builds the whole file in memory; only
// write_bitmap touches the disk: it writes the file directly and removes it again when writing
// fails, so a file under the name is always complete.
namespace tessara::imaging {

// The pictures the files are written from.
using render::Bitmap;
using render::ClassMap;
using render::ExtentOptions;
using render::kBackground;
using render::Rect;
using render::SubpictureCanvas;

// One 24-bit colour per pixel class 0-3 (class 3 is the background): red in bits 0-7, green in
// bits 8-15, blue in bits 16-23. Bits 24-31 are ignored.
using ClassColours = std::array<uint32_t, 4>;

// The palette index each pixel class is stored with, chosen by the authoring tool's script
// writer so that the tool finds its colours where it expects them.
using PaletteOrder = std::array<uint8_t, 4>;
inline constexpr PaletteOrder kDefaultPaletteOrder{0, 1, 2, 3};

// An image of palette indices with a full 256-entry colour table (same layout as ClassColours).
// Entries no class uses are 0.
struct PaletteImage {
    Bitmap<uint8_t> indices;
    std::array<uint32_t, 256> palette{};
};

// The part of a class map inside `extent` as palette indices: palette[order[k]] is colour k and
// a pixel of class k holds order[k]. Pixels outside the map are background; a value outside
// 0-3 is stored as background too.
PaletteImage build_palette_image(const ClassMap& classes, const Rect& extent,
                                 const ClassColours& colours, const PaletteOrder& order);

// The part of a class map inside `extent` as 24-bit colours (ClassColours layout, bits 24-31
// zero). Pixels outside the map are background; a value outside 0-3 gives 0 (black).
Bitmap<uint32_t> build_rgb_image(const ClassMap& classes, const Rect& extent,
                                 const ClassColours& colours);

// Windows BMP with a BITMAPINFOHEADER, rows bottom-up as BMP stores them.
// Indexed: bits_per_pixel 4 (a 16-entry table) or 8 (all 256 entries, so readers that ignore
// the used-colour count still find every colour); indices must fit the depth. With `rle` the
// pixels are RLE4/RLE8 compressed. Nothing when the file would exceed the format's 32-bit sizes.
std::optional<std::string> encode_bmp_indexed(const PaletteImage& image, int32_t bits_per_pixel,
                                              bool rle);
std::optional<std::string> encode_bmp_rgb(const Bitmap<uint32_t>& image);

// 24-bit RGB TIFF, PackBits compressed, with "Tessara" as the software tag. Nothing when
// libtiff refuses the image.
std::optional<std::string> encode_tiff(const Bitmap<uint32_t>& image);

// Truevision TGA 2.0, colour-mapped 8 bits with a 256-entry 24-bit colour map, rows stored
// bottom-up (the format's default origin, which every reader understands). With `rle` each row
// is run-length packed on its own. Nothing when a side exceeds 65535 pixels.
std::optional<std::string> encode_tga(const PaletteImage& image, bool rle);

// Writes one subpicture's bitmap file. The extent is computed from the canvas and `options`
// (bitmap_extent) and stored in `extent`, also when nothing is written; YC types then move it
// to even coordinates (yc_extent). With an empty path only the extent is computed and the call
// succeeds. `type_id` is an id of the image type table.
// Failures, each reported once through `messages`:
// - unknown type, or the encoder fails: the path, then "Unknown error";
// - a bitmap too large for its format: the path, then the system's "file too large" text;
// - a YC bitmap wider than 1000 pixels: "Maximum bitmap width is 1000 for (U)YC files.";
// - the file cannot be created or written: the path, then the system's text.
// The file is written in place (created or truncated); on failure it is removed, never left
// half written. The data is not synced: a run syncs the folder once after its last bitmap.
bool write_bitmap(const SubpictureCanvas& canvas, const std::string& path,
                  const ExtentOptions& options, const ClassColours& colours, int32_t type_id,
                  const PaletteOrder& order, Rect& extent, base::Messages& messages);

// One opacity 0-255 per pixel class 0-3.
using ClassOpacity = std::array<uint8_t, 4>;

// Writes one subpicture as an 8-bit palette PNG of four entries: entry order[k] holds class k's
// colour at opacity[k] (`order` is a permutation of 0-3). The extent, the size limit, the
// failure reports and the file handling are write_bitmap's.
bool write_indexed_png(const SubpictureCanvas& canvas, const std::string& path,
                       const ExtentOptions& options, const ClassColours& colours,
                       const ClassOpacity& opacity, const PaletteOrder& order, Rect& extent,
                       base::Messages& messages);

}  // namespace tessara::imaging
