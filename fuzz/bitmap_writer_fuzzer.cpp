// The bitmap writers on small random canvases. Boxes of random classes are composed onto a
// canvas, the extent is taken with random options, and every encoder's output is read back with
// our own strict decoders (libtiff for TIFF) and compared with the class map it came from. One
// type per input also goes through write_bitmap to a file, which must hold the encoder's bytes.

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/file_io.h"
#include "base/messages.h"
#include "fuzz_support.h"
#include "image_decoders.h"
#include "imaging/bitmap_writer.h"
#include "imaging/image_types.h"
#include "imaging/packbits.h"
#include "imaging/yc_writer.h"
#include "render/subpicture_canvas.h"

namespace {

using namespace tessara;
using imaging::ClassColours;
using imaging::PaletteOrder;
using render::ClassMap;
using render::Rect;

// The class a pixel of the extent shows: background outside the canvas, and for any value
// that is no class.
uint8_t class_at(const ClassMap& classes, const Rect& extent, int32_t x, int32_t y) {
    const uint8_t k =
        classes.get(int64_t{extent.left} + x, int64_t{extent.top} + y, render::kBackground);
    return k <= render::kBackground ? k : render::kBackground;
}

// Names the encoding whose file did not read back, to make a crasher quick to understand.
void report(bool same, const char* what) {
    if (!same) {
        std::fprintf(stderr, "%s does not read back as written\n", what);
    }
}

void check_palette_image(const fuzz::DecodedImage& d, const imaging::PaletteImage& image,
                         const char* what) {
    report(d.indices == image.indices.data(), what);
    FUZZ_CHECK(d.width == image.indices.width() && d.height == image.indices.height());
    FUZZ_CHECK(d.indices == image.indices.data());
    for (uint8_t index : d.indices) {
        FUZZ_CHECK(d.palette[index] == image.palette[index]);
    }
}

void check_rgb(const fuzz::DecodedImage& d, const render::Bitmap<uint32_t>& image,
               const char* what) {
    report(d.rgb == image.data(), what);
    for (size_t i = 0; i < std::min(d.rgb.size(), image.data().size()); ++i) {
        if (d.rgb[i] != image.data()[i]) {
            std::fprintf(
                stderr, "first difference at pixel (%zu, %zu) of %d x %d: %06x, not %06x\n",
                i % static_cast<size_t>(image.width()), i / static_cast<size_t>(image.width()),
                image.width(), image.height(), d.rgb[i], image.data()[i]);
            break;
        }
    }
    FUZZ_CHECK(d.width == image.width() && d.height == image.height());
    FUZZ_CHECK(d.rgb == image.data());
}

void check_yc(const ClassMap& classes, const Rect& extent, const ClassColours& colours,
              bool compressed) {
    const auto bytes = imaging::encode_yc(classes, extent, colours, compressed);
    if (extent.width() > imaging::kYcMaxWidth) {
        FUZZ_CHECK(!bytes);
        return;
    }
    FUZZ_CHECK(bytes.has_value());
    const auto d = fuzz::decode_yc(*bytes);
    FUZZ_CHECK(d && d->width == extent.width() && d->height == extent.height() &&
               d->compressed == compressed);
    size_t i = 0;
    for (int32_t y = 0; y < extent.height(); ++y) {
        for (int32_t x = 0; x < extent.width(); x += 2, ++i) {
            const uint8_t a = class_at(classes, extent, x, y);
            const uint8_t b = class_at(classes, extent, x + 1, y);
            auto key = [](uint8_t k) { return k == render::kBackground ? 0 : 255; };
            FUZZ_CHECK(d->key[i] == (key(a) | (key(b) << 8)));
            FUZZ_CHECK(d->luma[i] ==
                       (imaging::yc_luma(colours[a]) | (imaging::yc_luma(colours[b]) << 8)));
            FUZZ_CHECK(d->chroma[i] == imaging::yc_chroma(colours[a], colours[b]));
        }
    }
}

// What the encoder of a type makes of the extent, as write_bitmap would call it.
std::optional<std::string> encode(const imaging::ImageType& type, const ClassMap& classes,
                                  const Rect& extent, const ClassColours& colours,
                                  const PaletteOrder& order) {
    switch (type.encoding) {
        case imaging::ImageEncoding::Bmp:
            return type.palette ? imaging::encode_bmp_indexed(
                                      imaging::build_palette_image(classes, extent, colours, order),
                                      type.bits_per_pixel, type.compressed)
                                : imaging::encode_bmp_rgb(
                                      imaging::build_rgb_image(classes, extent, colours));
        case imaging::ImageEncoding::Tiff:
            return imaging::encode_tiff(imaging::build_rgb_image(classes, extent, colours));
        case imaging::ImageEncoding::Tga:
            return imaging::encode_tga(
                imaging::build_palette_image(classes, extent, colours, order), type.compressed);
        case imaging::ImageEncoding::Yc:
            return imaging::encode_yc(classes, extent, colours, type.compressed);
    }
    return std::nullopt;
}

const std::string& scratch_file() {
    static const std::string path = [] {
        std::string dir = (std::filesystem::temp_directory_path() / "tessara-fuzz-XXXXXX").string();
        FUZZ_CHECK(::mkdtemp(dir.data()) != nullptr);
        static std::string remove_at_exit = dir;
        std::atexit([] { std::filesystem::remove_all(remove_at_exit); });
        return dir + "/bitmap";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader in(data, size);
    const int32_t width = 1 + in.byte() % 64;
    const int32_t height = 1 + in.byte() % 64;
    const uint8_t flags = in.byte();
    render::ExtentOptions options;
    options.dont_clip = (flags & 1) != 0;
    options.clip_minus_one_pixel = (flags & 2) != 0;
    options.fixed_width = (flags & 4) != 0 ? in.byte() - 16 : 0;
    const bool raw_classes = (flags & 8) != 0;  // values beyond the four classes too
    ClassColours colours{};
    for (auto& c : colours) {
        c = in.le32();
    }
    PaletteOrder order{};
    for (auto& o : order) {
        o = in.byte() & 0x0F;  // 4-bit types need indices below 16
    }
    const int32_t type_id = in.byte() % 10;

    render::SubpictureCanvas canvas(width, height);
    const int boxes = in.byte() % 8;
    for (int b = 0; b < boxes && !in.empty(); ++b) {
        const int32_t dx = static_cast<int8_t>(in.byte());
        const int32_t dy = static_cast<int8_t>(in.byte());
        const int32_t bw = 1 + in.byte() % 40;
        const int32_t bh = 1 + in.byte() % 40;
        ClassMap box(bw, bh, render::kBackground);
        for (uint8_t& c : box.data()) {
            const uint8_t v = in.byte();
            c = raw_classes ? v : v & 3;
        }
        canvas.compose(box, bw, bh, dx, dy, false, true);
    }

    const Rect extent = render::bitmap_extent(canvas, options);
    FUZZ_CHECK(extent.width() > 0 && extent.height() > 0);
    FUZZ_CHECK(extent.left >= 0 && extent.top >= 0 && extent.right <= width &&
               extent.bottom <= height);
    const ClassMap& classes = canvas.classes();

    const imaging::PaletteImage palette_image =
        imaging::build_palette_image(classes, extent, colours, order);
    for (int32_t y = 0; y < extent.height(); ++y) {
        for (int32_t x = 0; x < extent.width(); ++x) {
            FUZZ_CHECK(palette_image.indices.at(x, y) == order[class_at(classes, extent, x, y)]);
        }
    }
    const render::Bitmap<uint32_t> rgb = imaging::build_rgb_image(classes, extent, colours);

    for (int bits : {4, 8}) {
        for (bool rle : {false, true}) {
            const auto bytes = imaging::encode_bmp_indexed(palette_image, bits, rle);
            FUZZ_CHECK(bytes.has_value());
            const auto d = fuzz::decode_bmp(*bytes);
            FUZZ_CHECK(d.has_value());
            check_palette_image(*d, palette_image, "BMP (indexed)");
        }
    }
    {
        const auto bytes = imaging::encode_bmp_rgb(rgb);
        FUZZ_CHECK(bytes.has_value());
        const auto d = fuzz::decode_bmp(*bytes);
        FUZZ_CHECK(d.has_value());
        check_rgb(*d, rgb, "BMP (24-bit)");
    }
    for (bool rle : {false, true}) {
        const auto bytes = imaging::encode_tga(palette_image, rle);
        FUZZ_CHECK(bytes.has_value());
        const auto d = fuzz::decode_tga(*bytes);
        FUZZ_CHECK(d.has_value());
        check_palette_image(*d, palette_image, "TGA");
    }
    if ((flags & 16) != 0) {  // libtiff is slow next to the others: every other input
        const auto bytes = imaging::encode_tiff(rgb);
        FUZZ_CHECK(bytes.has_value());
        std::string software;
        const auto d = fuzz::decode_tiff(*bytes, &software);
        FUZZ_CHECK(d.has_value());
        FUZZ_CHECK(software == "Tessara");
        check_rgb(*d, rgb, "TIFF");
    }
    const Rect yc = imaging::yc_extent(extent, width);
    for (bool compressed : {false, true}) {
        check_yc(classes, yc, colours, compressed);
    }

    // What is left of the input as one row for PackBits (TIFF rows are packed by our own code),
    // in the bytes of a few colours, as subpicture rows come.
    {
        std::string row;
        for (char c : in.rest()) {
            row += static_cast<char>(static_cast<uint8_t>(c) % 4 * 0x55);
        }
        std::string codes = "x";  // packing appends
        imaging::packbits_row(reinterpret_cast<const uint8_t*>(row.data()), row.size(), codes);
        const auto back = fuzz::unpack_packbits(std::string_view(codes).substr(1));
        FUZZ_CHECK(codes.front() == 'x' && back && *back == row);
    }

    // One type through the file: the extent it reports and the bytes on disk.
    const imaging::ImageType& type = *imaging::find_image_type(type_id);
    base::SilentMessages messages;
    Rect written_extent;
    const bool ok = imaging::write_bitmap(canvas, scratch_file(), options, colours, type_id, order,
                                          written_extent, messages);
    const Rect expected_extent = type.encoding == imaging::ImageEncoding::Yc ? yc : extent;
    FUZZ_CHECK(written_extent == expected_extent);
    int error = 0;
    const auto on_disk = base::read_whole_file(scratch_file(), error);
    if (ok) {
        FUZZ_CHECK(on_disk.has_value());
        // The file shows the canvas...
        switch (type.encoding) {
            case imaging::ImageEncoding::Bmp:
            case imaging::ImageEncoding::Tga: {
                const auto d = type.encoding == imaging::ImageEncoding::Bmp
                                   ? fuzz::decode_bmp(*on_disk)
                                   : fuzz::decode_tga(*on_disk);
                FUZZ_CHECK(d.has_value());
                if (type.palette) {
                    check_palette_image(*d, palette_image, "the written file");
                } else {
                    check_rgb(*d, rgb, "the written file");
                }
                break;
            }
            case imaging::ImageEncoding::Tiff: {
                const auto d = fuzz::decode_tiff(*on_disk);
                FUZZ_CHECK(d.has_value());
                check_rgb(*d, rgb, "the written file");
                break;
            }
            case imaging::ImageEncoding::Yc:
                break;  // compared byte for byte below with the encoding checked above
        }
        // ... and holds exactly the bytes of the encoder.
        const auto bytes = encode(type, classes, expected_extent, colours, order);
        report(bytes && *on_disk == *bytes, "the written file (byte for byte)");
        FUZZ_CHECK(bytes && *on_disk == *bytes);
    } else {
        FUZZ_CHECK(!on_disk && error == ENOENT);
    }
    std::filesystem::remove(scratch_file());
    return 0;
}
