#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/messages.h"
#include "timeline/segment_check.h"
#include "timeline_scripts.h"

namespace tessara::timeline {
namespace {

using testing::Line;

script::DvdSegment range(int32_t start, int32_t end) {
    return {script::FrameTime{start, 25000, false}, script::FrameTime{end, 25000, false}};
}
script::DvdSegment chapter(int32_t at) {
    return {script::FrameTime{at, 25000, false}, std::nullopt};
}

// Frames 100 to 200 at 25 fps: 199 is the last one visible.
class SegmentCheck : public ::testing::Test {
  protected:
    std::string check(std::vector<script::DvdSegment> segments, int64_t distance) {
        script->settings.dvd_segments = std::move(segments);
        return segment_check_report(*script, script->settings, distance, messages);
    }
    bool errors(std::vector<script::DvdSegment> segments, int64_t distance) {
        return check(std::move(segments), distance).find("Errors found:") != std::string::npos;
    }

    std::unique_ptr<script::Script> script = testing::load({{"0:00:04.00", "0:00:08.00", "Hello"}});
    base::RecordingMessages messages;
};

TEST_F(SegmentCheck, ASubtitleWidenedByTheDistanceMustFitInsideASegment) {
    EXPECT_EQ(check({range(95, 204)}, 5),
              "Segments analyzed:\r\n\r\nSegment range from 00:00:03:20 to 00:00:08:04\r\n\r\n"
              "No errors found.");
    EXPECT_EQ(check({range(96, 204)}, 5),
              "Segments analyzed:\r\n\r\nSegment range from 00:00:03:21 to 00:00:08:04\r\n\r\n"
              "Errors found:\r\n\r\nError: 00:00:04:00 - 00:00:07:24 text = [Hello]\r\n");
    EXPECT_TRUE(errors({range(95, 203)}, 5));
    // Any one segment holding it is enough.
    EXPECT_FALSE(errors({range(0, 150), range(95, 204)}, 5));

    // Out-of-range distances count as 0.
    EXPECT_FALSE(errors({range(100, 199)}, 150));
    EXPECT_FALSE(errors({range(100, 199)}, -3));
    EXPECT_TRUE(errors({range(100, 199)}, 1));
    EXPECT_EQ(effective_safety_distance(99), 99);
    EXPECT_EQ(effective_safety_distance(100), 0);

    // With stops shown as the first frame not visible, the listing and the error line follow.
    script->settings.stop_is_next = true;
    EXPECT_EQ(check({range(96, 204)}, 5),
              "Segments analyzed:\r\n\r\nSegment range from 00:00:03:21 to 00:00:08:05\r\n\r\n"
              "Errors found:\r\n\r\nError: 00:00:04:00 - 00:00:08:00 text = [Hello]\r\n");
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(SegmentCheck, ChapterBreaksCountOnlyStrictlyInsideTheWidenedSubtitle) {
    EXPECT_FALSE(errors({chapter(95)}, 5));
    EXPECT_FALSE(errors({chapter(204)}, 5));
    EXPECT_TRUE(errors({chapter(96)}, 5));
    EXPECT_TRUE(errors({chapter(203)}, 5));
    // Inside a segment that holds it, a chapter break still cuts it.
    EXPECT_TRUE(errors({range(0, 1000), chapter(150)}, 0));

    // Chapters only: just the subtitles a break falls across are listed.
    script = testing::load(
        {{"0:00:04.00", "0:00:08.00", "Crossed\\Ntwice"}, {"0:00:10.00", "0:00:12.00", "Clear"}});
    EXPECT_EQ(check({chapter(150)}, 0),
              "Segments analyzed:\r\n\r\nChapter point at 00:00:06:00\r\n\r\nErrors found:\r\n\r\n"
              "Error: 00:00:04:00 - 00:00:07:24 text = [Crossed\\Ntwice]\r\n");
}

}  // namespace
}  // namespace tessara::timeline
