// The readers of written output on arbitrary bytes: the first byte picks the bitmap type whose
// decoder reads the rest (0-5), or the DVD subpicture unit decoder (6), or the pack reader with
// every unit it finds decoded (7). Nothing may crash or read outside the input; a refusal always
// has a reason, and whatever is accepted has the size it claims.

#include <array>
#include <string>
#include <string_view>

#include "formats/dvd_subpicture.h"
#include "fuzz_support.h"
#include "imaging/bitmap_reader.h"

namespace {

using namespace tessara;

void check_unit(std::string_view unit) {
    std::string error;
    const auto d = formats::decode_subpicture_unit(unit, error);
    FUZZ_CHECK(d.has_value() == error.empty());
    if (d) {
        FUZZ_CHECK(d->width > 0 && d->height > 0 && d->width <= 4096 && d->height <= 4096);
        FUZZ_CHECK(d->pixels.size() == size_t(d->width) * size_t(d->height));
        for (uint8_t v : d->pixels) {
            FUZZ_CHECK(v < 4);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr std::array<std::string_view, 6> kExtensions{"bmp", "tga", "tif", "yc", "uyc", "png"};
    fuzz::InputReader in(data, size);
    const uint8_t selector = in.byte() % 8;
    const std::string bytes(in.rest());  // a copy of its own size, so a stray read shows
    if (selector < kExtensions.size()) {
        std::string error;
        const auto image = imaging::decode_image(bytes, kExtensions[selector], error);
        FUZZ_CHECK(image.has_value() == error.empty());
        if (image) {
            FUZZ_CHECK(image->width > 0 && image->height > 0);
            FUZZ_CHECK(image->width <= imaging::kMaxDecodedSide &&
                       image->height <= imaging::kMaxDecodedSide);
            FUZZ_CHECK(image->pixels.size() == size_t(image->width) * size_t(image->height));
        }
    } else if (selector == 6) {
        check_unit(bytes);
    } else {
        std::string error;
        for (const auto& [pts, unit] : formats::read_subpicture_packs(bytes, &error)) {
            FUZZ_CHECK(pts >= 0 && pts < (int64_t{1} << 33));
            FUZZ_CHECK(unit.size() >= 4);
            check_unit(unit);
        }
    }
    return 0;
}
