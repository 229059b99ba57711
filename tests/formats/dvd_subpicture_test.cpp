#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "formats/dvd_subpicture.h"
#include "render/pixel_class.h"

namespace tessara::formats {
namespace {

using render::ClassMap;
using render::Rect;

std::string be16(size_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

// Rows with runs of every code size (1-3, 4-15, 16-63 and 64-255 pixels), one past 255, lone
// pixels and all four classes; the extent leaves out the map's first row and column and has an
// odd width and height, so both fields differ in length and rows end on half bytes.
ClassMap unit_classes() {
    ClassMap classes(303, 8, render::kBackground);
    for (int32_t x = 0; x < classes.width(); ++x) {
        classes.at(x, 1) = x < 280 ? 0 : 1;
        classes.at(x, 2) = static_cast<uint8_t>(x % 4);
        classes.at(x, 3) = static_cast<uint8_t>(x < 3     ? 1
                                                : x < 13  ? 2
                                                : x < 60  ? 0
                                                : x < 250 ? 1
                                                          : 3);
        classes.at(x, 5) = static_cast<uint8_t>((x * 5 / 7) % 4);
        classes.at(x, 6) = static_cast<uint8_t>(x == 1 || x == 301 ? 2 : 3);
    }
    return classes;
}

TEST(SubpictureUnit, DecodesBackToWhatWasEncoded) {
    const ClassMap classes = unit_classes();
    const Rect extent{1, 1, 302, 8};  // 301 x 7
    const SubpictureUnitLook look{{2, 1, 3, 0}, {5, 9, 14, 0}, {15, 8, 0, 3}};
    const int64_t duration = 90 * 2500 + 1000;  // 2.5 s and part of a delay unit
    const std::string unit = encode_subpicture_unit(classes, extent, 17, 403, look, duration);

    std::string error;
    const std::optional<DecodedUnit> d = decode_subpicture_unit(unit, error);
    ASSERT_TRUE(d) << error;
    EXPECT_EQ(d->left, 17);
    EXPECT_EQ(d->top, 403);
    EXPECT_EQ(d->width, 301);
    EXPECT_EQ(d->height, 7);
    EXPECT_EQ(d->colour, look.colour);
    EXPECT_EQ(d->contrast, look.contrast);
    EXPECT_EQ(d->start_delay, 0);
    EXPECT_EQ(d->stop_delay, duration / kDelayTicks);
    ASSERT_EQ(d->pixels.size(), 301u * 7u);
    for (int32_t y = 0; y < d->height; ++y) {
        for (int32_t x = 0; x < d->width; ++x) {
            const uint8_t k = classes.at(extent.left + x, extent.top + y);
            ASSERT_EQ(d->pixels[size_t(y) * 301 + size_t(x)], look.value_of_class[k])
                << x << ", " << y;
        }
    }
}

TEST(SubpictureUnit, MalformedUnitsAreRefusedWithAReason) {
    ClassMap classes(3, 2, 1);
    const SubpictureUnitLook look{{1, 2, 3, 0}, {1, 2, 3, 4}, {15, 15, 15, 0}};
    const std::string unit = encode_subpicture_unit(classes, {0, 0, 3, 2}, 0, 0, look, 9000);
    const size_t control = (uint8_t(unit[2]) << 8) | uint8_t(unit[3]);
    auto with = [&](size_t at, std::string bytes) {
        std::string u = unit;
        u.replace(at, bytes.size(), bytes);
        return u;
    };
    const size_t second = unit.size() - 6;  // the stop sequence
    struct Case {
        std::string bytes;
        std::string reason;
    };
    const Case cases[] = {
        {unit.substr(0, 3), "subpicture unit of 3 bytes"},
        {unit + "x", "subpicture unit size field"},
        {with(2, be16(unit.size())), "control sequence offset"},
        {with(4, "\x3C"), "run past the end of row 0"},  // a run of 15 in a row of 3
        {with(control + 4, "\x09"), "unknown control command 0x09"},
        {with(second + 2, be16(control)), "control sequence at byte"},           // links backwards
        {with(control + 10, "\xFF"), "subpicture unit without a display area"},  // ends early
        {with(unit.size() - 1, "\x03"), "truncated control sequence"},
    };
    for (const Case& c : cases) {
        std::string error;
        std::string bytes = c.bytes;
        if (bytes.size() >= 4 && c.reason != "subpicture unit size field") {
            bytes.replace(0, 2, be16(bytes.size()));
        }
        EXPECT_FALSE(decode_subpicture_unit(bytes, error)) << c.reason;
        EXPECT_EQ(error.substr(0, c.reason.size()), c.reason);
    }
    // Whatever a byte is changed to, the decoder stays inside the unit.
    for (size_t at = 2; at < unit.size(); ++at) {
        for (char v : {'\x00', '\x3C', '\xFF'}) {
            std::string error;
            (void)decode_subpicture_unit(with(at, std::string(1, v)), error);
        }
    }
}

// A unit of `size` bytes whose size field holds its size: the packs carry bytes, not pictures.
std::string unit_of_size(size_t size, char fill) {
    return be16(size) + std::string(size - 2, fill);
}

TEST(SubpicturePacks, UnitsComeBackWholeFromTheirPacks) {
    // 2016 bytes leave a gap too small for a padding packet in the first pack (stuffing instead),
    // 2019 fill it exactly, 7000 span four packs; a stamp above 32 bits keeps its 33rd.
    const std::vector<std::pair<int64_t, std::string>> units{
        {900, unit_of_size(2016, 'a')},
        {0x1FFFFFFF0, unit_of_size(2019, 'b')},
        {45045, unit_of_size(7000, 'c')},
        {90000, unit_of_size(4, 'd')},
    };
    std::string sub;
    for (const auto& [pts, unit] : units) {
        append_subpicture_packs(sub, unit, pts, 0);
        append_subpicture_packs(sub, unit_of_size(30, 'z'), pts, 1);  // another stream: skipped
    }
    ASSERT_EQ(sub.size() % kPackSize, 0u);
    std::string error = "unchanged";
    EXPECT_EQ(read_subpicture_packs(sub, &error), units);
    EXPECT_EQ(error, "");

    // Cut inside the third unit's second pack: the units before it, and the reason.
    const size_t third = 4 * kPackSize;  // two packs for each of the first two units
    auto read =
        read_subpicture_packs(std::string_view(sub).substr(0, third + kPackSize + 100), &error);
    EXPECT_EQ(read.size(), 2u);
    EXPECT_EQ(error.rfind("truncated packet at byte", 0), 0u) << error;
    // The third unit's second pack lost: the unit is cut short when the fourth one starts.
    const std::string gapped = sub.substr(0, third + kPackSize) + sub.substr(third + 2 * kPackSize);
    read = read_subpicture_packs(gapped, &error);
    EXPECT_EQ(read.size(), 2u);
    EXPECT_EQ(error, "subpicture unit at byte " + std::to_string(third) + " cut short");
    // No error requested: the same units.
    EXPECT_EQ(read_subpicture_packs(gapped).size(), 2u);
}

}  // namespace
}  // namespace tessara::formats
