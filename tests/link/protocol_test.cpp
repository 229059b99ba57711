#include <gtest/gtest.h>

#include <vector>

#include "link/protocol.h"
#include "link/server.h"
#include "render/subpicture_canvas.h"
#include "script/settings.h"

namespace tessara::link {
namespace {

std::vector<uint8_t> bytes_of(std::initializer_list<int32_t> values) {
    std::vector<uint8_t> out;
    for (int32_t v : values) {
        const auto u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(u >> (8 * i)));
        }
    }
    return out;
}

TEST(LinkRecords, AreLittleEndianAndDecodeOnlyTheirExactSize) {
    const LinkHeader h{2, 4, 0x01020304, -5, 12, 300};
    const auto encoded = encode(h);
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()),
              bytes_of({2, 4, 0x01020304, -5, 12, 300}));
    EXPECT_EQ(encoded[8], 0x04);
    EXPECT_EQ(decode_header(encoded), h);
    EXPECT_FALSE(decode_header(std::span(encoded).first(23)));
    const auto longer = bytes_of({2, 4, 0, 0, 0, 0, 0});
    EXPECT_FALSE(decode_header(longer));

    const LinkReply r{2, kStatusDeclined, 7, 8, 0, 0};
    EXPECT_EQ(decode_reply(encode(r)), r);

    const SessionInfo s{33367, 40000, 10, 1, 2, 720, 576};
    const auto se = encode(s);
    EXPECT_EQ(std::vector<uint8_t>(se.begin(), se.end()),
              bytes_of({33367, 40000, 10, 1, 2, 720, 576}));
    EXPECT_EQ(decode_session_info(se), s);
    EXPECT_FALSE(decode_session_info(std::span(se).first(24)));

    const AddPictureInfo a{100, 149, 4};
    EXPECT_EQ(decode_add_picture(encode(a)), a);
    EXPECT_EQ(decode_frame(encode_frame(-3)), -3);
    EXPECT_FALSE(decode_frame(bytes_of({1, 2})));
}

TEST(FrameDuration, RoundsMicrosecondsPerFrame) {
    EXPECT_EQ(frame_duration_us(29970), 33367);
    EXPECT_EQ(frame_duration_us(25000), 40000);
    EXPECT_EQ(frame_duration_us(23976), 41708);
    EXPECT_EQ(frame_duration_us(0), 0);
    EXPECT_EQ(frame_duration_us(-1), 0);
}

TEST(Picture, RowWithPixelsAtColumnsTenAndThirteen) {
    render::SubpictureCanvas canvas(40, 20);
    render::ClassMap segment(4, 1, render::kBackground);
    segment.at(0, 0) = 0;  // text: pixel byte 3
    segment.at(3, 0) = 2;  // class 2: pixel byte 1
    canvas.compose(segment, 4, 1, 10, 5, false, true);
    std::vector<uint8_t> picture;
    ASSERT_TRUE(build_picture(canvas, 2, 0x11, 0x22, 0x33, picture));
    std::vector<uint8_t> expected = bytes_of({40, 1, 0x11, 0x22, 0x33, 20, 7, 10, 4});
    expected.insert(expected.end(), {3, 0, 0, 1});
    EXPECT_EQ(picture, expected);

    auto reader = PictureReader::open(picture);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->colour(1), 0x11u);
    EXPECT_EQ(reader->colour(3), 0x33u);
    int rows = 0;
    reader->for_each_row([&](const PictureRow& row) {
        ++rows;
        EXPECT_EQ(row.y, 7);
        EXPECT_EQ(row.x, 10);
        EXPECT_EQ(std::vector<uint8_t>(row.pixels.begin(), row.pixels.end()),
                  (std::vector<uint8_t>{3, 0, 0, 1}));
    });
    EXPECT_EQ(rows, 1);
}

TEST(Picture, RowsSkipEmptyLinesAndPadToFourBytes) {
    render::SubpictureCanvas canvas(30, 10);
    render::ClassMap segment(5, 3, render::kBackground);
    segment.at(1, 0) = 1;
    segment.at(2, 0) = 1;
    segment.at(4, 2) = 0;  // the middle row of the box stays empty
    canvas.compose(segment, 5, 3, 2, 1, false, true);
    std::vector<uint8_t> picture;
    ASSERT_TRUE(build_picture(canvas, 0, 1, 2, 3, picture));
    std::vector<uint8_t> expected = bytes_of({20 + 20 + 20, 2, 1, 2, 3, 20, 1, 3, 2});
    expected.insert(expected.end(), {2, 2, 0, 0});
    auto second = bytes_of({20, 3, 6, 1});
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), {3, 0, 0, 0});
    EXPECT_EQ(picture, expected);
}

TEST(Picture, NothingDrawnIsTheFourBytePicture) {
    render::SubpictureCanvas canvas(30, 10);
    std::vector<uint8_t> picture;
    ASSERT_TRUE(build_picture(canvas, 2, 1, 2, 3, picture));
    EXPECT_EQ(picture, bytes_of({4}));
    // A composed box of background only is empty too.
    render::ClassMap blank(3, 3, render::kBackground);
    canvas.compose(blank, 3, 3, 0, 0, false, true);
    ASSERT_TRUE(build_picture(canvas, 2, 1, 2, 3, picture));
    EXPECT_EQ(picture, bytes_of({4}));
    auto reader = PictureReader::open(picture);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->row_count(), 0);
}

TEST(Picture, MalformedPicturesAreRefusedWhole) {
    auto row = [](int32_t size, int32_t n) {
        auto r = bytes_of({size, 0, 0, n});
        r.resize(static_cast<size_t>(std::max(size, 16)), 0);
        return r;
    };
    auto picture = [](int32_t total, int32_t rows, const std::vector<std::vector<uint8_t>>& rs) {
        auto p = bytes_of({total, rows, 1, 2, 3});
        for (const auto& r : rs) {
            p.insert(p.end(), r.begin(), r.end());
        }
        return p;
    };
    EXPECT_TRUE(PictureReader::open(picture(40, 1, {row(20, 3)})));
    EXPECT_TRUE(PictureReader::open(picture(20, 0, {})));
    // The byte count must be the size received.
    EXPECT_FALSE(PictureReader::open(picture(44, 1, {row(20, 3)})));
    EXPECT_FALSE(PictureReader::open(bytes_of({8, 0})));
    // More rows announced than present, or bytes left over.
    EXPECT_FALSE(PictureReader::open(picture(40, 2, {row(20, 3)})));
    EXPECT_FALSE(PictureReader::open(picture(60, 1, {row(20, 3), row(20, 3)})));
    EXPECT_FALSE(PictureReader::open(picture(40, -1, {row(20, 3)})));
    // Records whose size does not match their pixel count, or that run past the end.
    EXPECT_FALSE(PictureReader::open(picture(40, 1, {row(20, 5)})));
    EXPECT_FALSE(PictureReader::open(picture(40, 1, {row(20, -4)})));
    EXPECT_FALSE(PictureReader::open(picture(36, 1, {row(16, 0x7FFFFFFF)})));
    auto overrun = picture(40, 1, {row(20, 3)});
    overrun[20] = 24;  // the record claims 24 bytes, only 20 remain
    EXPECT_FALSE(PictureReader::open(overrun));
    EXPECT_FALSE(PictureReader::open({}));
}

std::vector<SentPicture> list(std::initializer_list<SentPicture> items) {
    return items;
}

TEST(ComparePictureLists, FindsRemovedAndAddedPicturesInStartOrder) {
    const auto sent = list({{1, 0, 9, 0}, {2, 10, 19, 1}, {3, 30, 39, 3}, {4, 50, 59, 5}});
    // 10 changed, 30 moved to 32, 60 is new, 50 is unchanged, 0 is gone.
    const auto next = list({{5, 10, 19, 0}, {3, 32, 41, 2}, {4, 50, 59, 4}, {6, 60, 69, 6}});
    std::vector<SentPicture> removed;
    std::vector<SentPicture> added;
    compare_picture_lists(sent, next, removed, added);
    std::vector<int32_t> removed_starts;
    std::vector<int32_t> added_starts;
    for (const auto& e : removed) {
        removed_starts.push_back(e.start);
    }
    for (const auto& e : added) {
        added_starts.push_back(e.start);
    }
    EXPECT_EQ(removed_starts, (std::vector<int32_t>{0, 10, 30}));
    EXPECT_EQ(added_starts, (std::vector<int32_t>{10, 32, 60}));

    // Same start and change id but a new last frame: the plug-in must learn the new interval.
    compare_picture_lists(list({{1, 0, 9, 0}}), list({{1, 0, 5, 0}}), removed, added);
    EXPECT_EQ(removed.size(), 1u);
    EXPECT_EQ(added.size(), 1u);

    compare_picture_lists(sent, sent, removed, added);
    EXPECT_TRUE(removed.empty());
    EXPECT_TRUE(added.empty());
}

TEST(PreviewOffset, TakesVDubOffsetThenBackOffsetThenASingleSegmentsDestination) {
    script::ConversionSettings s;
    s.timing.fps_in_text = u"25";
    s.timing.fps_out_text = u"25";
    ASSERT_TRUE(script::validate_timing(s.timing, false, nullptr, true));
    EXPECT_EQ(preview_offset(s).frame, 0);

    s.legacy_segments.push_back({});
    s.legacy_segments[0].dst_pos = script::ScriptTime{1000 * 100 + 5, true};  // 00:16:40:05
    EXPECT_EQ(preview_offset(s).frame, 1000 * 25 + 5);
    s.legacy_segments.push_back({});
    EXPECT_EQ(preview_offset(s).frame, 0);  // two segments: no single destination

    s.back_offset = u"00:00:10:00";
    EXPECT_EQ(preview_offset(s).frame, 250);
    s.vdub_offset = u"not a time";
    EXPECT_EQ(preview_offset(s).frame, 250);
    s.vdub_offset = u"00:00:10.00";  // plain time: not an SMPTE timecode
    EXPECT_EQ(preview_offset(s).frame, 250);
    s.vdub_offset = u"01:00:00:00";
    EXPECT_EQ(preview_offset(s).frame, 90000);
}

}  // namespace
}  // namespace tessara::link
