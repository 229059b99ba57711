#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/messages.h"
#include "formats/dvd_subpicture.h"
#include "formats/writer_fixture.h"
#include "media/vobsub_reader.h"
#include "render/pixel_class.h"
#include "test_support.h"

// A pair written by the real VobSub writer from known class maps, read back through FFmpeg.
namespace tessara::media {
namespace {

using render::ClassMap;
using render::Rect;

// Palette entries 0-15 as the writer's palette holds them (red in the low byte).
script::Colour entry_colour(int32_t i) {
    return static_cast<script::Colour>(0x102030 + 0x0B0705 * i);
}

// What FFmpeg shows for a palette entry at a contrast: 0xAARRGGBB.
uint32_t shown(int32_t entry, int32_t contrast) {
    const script::Colour c = entry_colour(entry);
    return static_cast<uint32_t>(contrast * 17) << 24 | (c & 0xFF) << 16 | (c & 0xFF00) |
           (c >> 16 & 0xFF);
}

struct Written {
    ClassMap classes;
    Rect extent;   // the part of the map shown
    int32_t left;  // where it is shown
    int32_t top;
    std::array<int32_t, 4> colours;   // by slot, as a run sets them
    std::array<int32_t, 4> contrast;  // by slot
    int32_t start, end;               // frames at 25 fps
};

ClassMap all_classes(int32_t w, int32_t h) {
    ClassMap m(w, h, render::kBackground);
    for (int32_t y = 1; y < h - 1; ++y) {
        for (int32_t x = 2; x < w - 3; ++x) {
            m.at(x, y) = static_cast<uint8_t>((x / 3 + y) % 4);
        }
    }
    return m;
}

TEST(VobSubReader, ReadsBackWhatTheWriterWrote) {
    test::TempDir dir;
    const script::ConversionSettings settings = formats::test::pal_settings();
    timeline::Palette palette(16);
    for (int32_t i = 0; i < 16; ++i) {
        palette.add_at(entry_colour(i), i);
    }
    // The first shows its background (no transparent border to trim), odd size and place; the
    // second has a transparent background, so FFmpeg trims it to its visible pixels.
    const std::vector<Written> subs{
        {all_classes(41, 17), {0, 0, 41, 17}, 101, 437, {3, 7, 12, 1}, {15, 8, 4, 2}, 25, 75},
        {all_classes(60, 20), {5, 2, 55, 20}, 200, 300, {9, 2, 5, 14}, {15, 15, 6, 0}, 100, 130},
    };
    auto writer = formats::make_script_writer(script::ScriptType::VOBSUB);
    base::RecordingMessages messages;
    std::string idx;
    formats::test::prepare_header(*writer, settings);
    ASSERT_TRUE(writer->write_header(idx, settings, u"", palette, std::nullopt, messages));
    std::vector<std::array<int32_t, 4>> colour_by_class;
    std::vector<std::array<int32_t, 4>> contrast_by_class;
    for (size_t i = 0; i < subs.size(); ++i) {
        const Written& s = subs[i];
        writer->set_file(u"", static_cast<int32_t>(i + 1));
        writer->set_times(formats::test::frame(s.start), formats::test::frame(s.end));
        writer->set_colors(s.colours[0], s.colours[1], s.colours[2], s.colours[3]);
        writer->set_contrast(s.contrast[0], s.contrast[1], s.contrast[2], s.contrast[3]);
        writer->set_picture(s.classes, s.extent);
        writer->set_area(s.left, s.top, s.left + s.extent.width(), s.top + s.extent.height());
        ASSERT_TRUE(writer->write_subpicture(idx, settings, palette, messages));
        colour_by_class.push_back(writer->colors());
        contrast_by_class.push_back(writer->contrast());
    }
    ASSERT_TRUE(writer->write_footer(idx, settings, messages));
    test::write_file(dir.file("film.idx"), idx);
    test::write_file(dir.file("film.sub"), writer->take_companion());

    std::string error;
    const auto pictures = read_vobsub(dir.file("film.idx").string(), error);
    ASSERT_TRUE(pictures) << error;
    ASSERT_EQ(pictures->size(), subs.size());
    for (size_t i = 0; i < subs.size(); ++i) {
        SCOPED_TRACE("subpicture " + std::to_string(i + 1));
        const Written& s = subs[i];
        const VobSubPicture& p = (*pictures)[i];
        // Whole milliseconds of the start; the stop delay counts in units of 1024 ticks of the
        // 90 kHz clock, rounded down by the writer and again to milliseconds by the decoder.
        const int64_t ticks = int64_t{s.end - s.start} * 3600;
        EXPECT_EQ(p.start_ms, s.start * 40);
        EXPECT_EQ(p.end_ms, s.start * 40 + ticks / 1024 * 1024 / 90);

        // Every pixel the picture covers, against the class at that place on the frame; and the
        // picture is the smallest rectangle holding every visible pixel.
        Rect visible{1 << 20, 1 << 20, -1, -1};
        auto shown_at = [&](int32_t fx, int32_t fy) {
            const int32_t x = fx - s.left + s.extent.left;
            const int32_t y = fy - s.top + s.extent.top;
            const uint8_t k = s.classes.get(x, y, render::kBackground);
            return shown(colour_by_class[i][k], contrast_by_class[i][k]);
        };
        for (int32_t fy = s.top; fy < s.top + s.extent.height(); ++fy) {
            for (int32_t fx = s.left; fx < s.left + s.extent.width(); ++fx) {
                if (shown_at(fx, fy) >> 24 != 0) {
                    visible = {std::min(visible.left, fx), std::min(visible.top, fy),
                               std::max(visible.right, fx + 1), std::max(visible.bottom, fy + 1)};
                }
            }
        }
        EXPECT_EQ(p.x, visible.left);
        EXPECT_EQ(p.y, visible.top);
        ASSERT_EQ(p.image.width, visible.width());
        ASSERT_EQ(p.image.height, visible.height());
        int wrong = 0;
        for (int32_t y = 0; y < p.image.height && wrong < 3; ++y) {
            for (int32_t x = 0; x < p.image.width && wrong < 3; ++x) {
                const uint32_t got = p.image.pixels[size_t(y) * size_t(p.image.width) + size_t(x)];
                const uint32_t want = shown_at(p.x + x, p.y + y);
                if (got != want) {
                    ADD_FAILURE() << "(" << x << ", " << y << "): " << std::hex << got
                                  << " instead of " << want;
                    ++wrong;
                }
            }
        }
    }
    // The first shows its whole area, background included.
    EXPECT_EQ((*pictures)[0].x, 101);
    EXPECT_EQ((*pictures)[0].image.width, 41);

    // Our own decoder of the .sub, untrimmed: the whole area where it was placed, each visible
    // pixel's value naming the colour and contrast FFmpeg showed.
    const auto units = formats::read_subpicture_packs(test::read_file(dir.file("film.sub")));
    ASSERT_EQ(units.size(), subs.size());
    for (size_t i = 0; i < subs.size(); ++i) {
        const Written& s = subs[i];
        const VobSubPicture& p = (*pictures)[i];
        EXPECT_EQ(units[i].first, int64_t{s.start} * 3600);
        const auto unit = formats::decode_subpicture_unit(units[i].second, error);
        ASSERT_TRUE(unit) << error;
        EXPECT_EQ(unit->left, s.left);
        EXPECT_EQ(unit->top, s.top);
        EXPECT_EQ(unit->width, s.extent.width());
        EXPECT_EQ(unit->height, s.extent.height());
        for (int32_t y = 0; y < p.image.height; ++y) {
            for (int32_t x = 0; x < p.image.width; ++x) {
                const size_t at =
                    size_t(p.y - s.top + y) * size_t(unit->width) + size_t(p.x - s.left + x);
                const uint8_t v = unit->pixels[at];
                ASSERT_EQ(p.image.pixels[size_t(y) * size_t(p.image.width) + size_t(x)],
                          shown(unit->colour[v], unit->contrast[v]));
            }
        }
    }
}

TEST(VobSubReader, RefusesWhatIsNotAPair) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(read_vobsub(dir.file("missing.idx").string(), error));
    EXPECT_EQ(error.rfind(dir.file("missing.idx").string() + ": ", 0), 0u) << error;

    // An index without its .sub names the .sub.
    test::write_file(dir.file("film.idx"), "# VobSub index file, v7\nsize: 720x576\n");
    EXPECT_FALSE(read_vobsub(dir.file("film.idx").string(), error));
    EXPECT_EQ(error, dir.file("film.sub").string() + ": No such file or directory");

    // With the .sub there, an index naming no language has no stream to read.
    test::write_file(dir.file("film.sub"), "");
    EXPECT_FALSE(read_vobsub(dir.file("film.idx").string(), error));
    EXPECT_EQ(error, dir.file("film.idx").string() + ": no subtitle stream");
}

}  // namespace
}  // namespace tessara::media
