#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/messages.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "render/subpicture_canvas.h"
#include "script/script.h"
#include "timeline/member_drawer.h"
#include "timeline/subpictures.h"
#include "timeline_scripts.h"

namespace tessara::timeline {
namespace {

using testing::Line;

// The same lines built twice: once drawn by BuildAll itself (the reference), once measured
// only, as a generation run builds, to be drawn by a MemberDrawer.
class Drawer : public ::testing::TestWithParam<bool> {
  protected:
    void open(const std::vector<Line>& lines) {
        for (int pass = 0; pass < 2; ++pass) {
            Built& b = pass == 0 ? drawn : measured;
            b.script =
                testing::load(lines, u"25", u"25", {testing::kWhiteStyle, testing::kYellowStyle});
            b.timeline.fill(*b.script, messages);
            ASSERT_TRUE(build_subpictures(b.timeline, false));
            BuildContext context(*b.script, fonts, messages);
            context.layout.generate_bitmaps = pass == 0;
            context.layout.refuse_undrawable = pass == 1;
            ASSERT_TRUE(BuildAll(b.timeline, context));
            layout = context.layout;
            for (const auto& sp : b.timeline.subpictures()) {
                if (!sp->members.empty()) {
                    b.shown.push_back(sp.get());
                }
            }
        }
        ASSERT_EQ(drawn.shown.size(), measured.shown.size());
        ASSERT_TRUE(messages.messages().empty());
    }

    // Subpicture k composed from the drawer's subtitles equals the reference, pixel for pixel.
    void expect_same_pixels(size_t k, const std::vector<const render::RenderedSubtitle*>& from) {
        render::SubpictureCanvas expected(720, 478);
        render::SubpictureCanvas actual(720, 478);
        compose(*drawn.shown[k], expected, true);
        compose(*measured.shown[k], from, actual);
        EXPECT_EQ(actual.bounding_box(), expected.bounding_box()) << k;
        EXPECT_TRUE(actual.classes().data() == expected.classes().data()) << k;
    }

    struct Built {
        std::unique_ptr<script::Script> script;
        Timeline timeline;
        std::vector<const Subpicture*> shown;
    };
    std::unique_ptr<render::FontEngine> engine = render::make_system_font_engine();
    render::FontCache fonts{*engine};
    base::RecordingMessages messages;
    render::LayoutSettings layout;
    Built drawn;
    Built measured;
};

TEST_P(Drawer, DrawsWhatBuildAllDrawsAndEachSubtitleOnceWhileItsClassesHold) {
    // White alone (its text takes the class of the second slot, which holds the first colour
    // when there is no other), white with yellow (white moves to the first slot's class and must
    // be drawn again; yellow takes the second's), yellow alone (unchanged), then white again.
    open({{"0:00:01.00", "0:00:03.00", "White words"},
          {"0:00:02.00", "0:00:04.00", "Yellow {\\i1}words", "Yellow"},
          {"0:00:05.00", "0:00:06.00", "White again"}});
    ASSERT_EQ(measured.shown.size(), 4u);
    MemberDrawer drawer(measured.shown, layout, GetParam());
    base::RecordingMessages failure;
    std::vector<std::vector<const render::RenderedSubtitle*>> taken;
    for (size_t k = 0; k < 4; ++k) {
        std::vector<const render::RenderedSubtitle*> from;
        ASSERT_TRUE(drawer.take(k, from, failure)) << k;
        ASSERT_EQ(from.size(), measured.shown[k]->members.size());
        expect_same_pixels(k, from);
        taken.push_back(from);
    }
    EXPECT_NE(taken[0][0], taken[1][0]);  // white with other classes: drawn again
    EXPECT_EQ(taken[1][1], taken[2][0]);  // yellow, unchanged: drawn once
    EXPECT_TRUE(failure.messages().empty());
}

TEST_P(Drawer, SubpicturesMayBeSkipped) {
    open({{"0:00:01.00", "0:00:03.00", "one"},
          {"0:00:02.00", "0:00:04.00", "two", "Yellow"},
          {"0:00:05.00", "0:00:06.00", "three"}});
    MemberDrawer drawer(measured.shown, layout, GetParam());
    base::RecordingMessages failure;
    std::vector<const render::RenderedSubtitle*> from;
    for (size_t k : {size_t{1}, size_t{3}}) {
        ASSERT_TRUE(drawer.take(k, from, failure)) << k;
        expect_same_pixels(k, from);
    }
    EXPECT_FALSE(drawer.take(4, from, failure));  // past the end
}

TEST_P(Drawer, AMemberThatDoesNotDrawAsMeasuredFailsThatTakeAndEveryLaterOne) {
    open({{"0:00:01.00", "0:00:02.00", "one"},
          {"0:00:03.00", "0:00:04.00", "two"},
          {"0:00:05.00", "0:00:06.00", "three"},
          {"0:00:07.00", "0:00:08.00", "four"}});
    // A geometry the drawing cannot reproduce.
    const_cast<Subpicture*>(measured.shown[1])->members[0].rendered->box_width += 1;
    MemberDrawer drawer(measured.shown, layout, GetParam());
    base::RecordingMessages failure;
    std::vector<const render::RenderedSubtitle*> from;
    ASSERT_TRUE(drawer.take(0, from, failure));
    // The failed subpicture is skipped: the next take still fails, without waiting forever.
    EXPECT_FALSE(drawer.take(2, from, failure));
    EXPECT_TRUE(from.empty());
    EXPECT_FALSE(drawer.take(3, from, failure));
}

TEST_P(Drawer, ADrawerLeftEarlyStopsItsThread) {
    std::vector<Line> lines;
    for (int i = 0; i < 60; ++i) {
        const std::string s = "0:00:" + std::to_string(10 + i) + ".00";
        const std::string e = "0:00:" + std::to_string(10 + i) + ".50";
        lines.emplace_back(s, e, "line " + std::to_string(i));
    }
    open(lines);
    MemberDrawer drawer(measured.shown, layout, GetParam());
    base::RecordingMessages failure;
    std::vector<const render::RenderedSubtitle*> from;
    ASSERT_TRUE(drawer.take(0, from, failure));
    expect_same_pixels(0, from);
    // Destroyed with most subpictures not taken.
}

INSTANTIATE_TEST_SUITE_P(Threads, Drawer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "Ahead" : "Inline");
                         });

}  // namespace
}  // namespace tessara::timeline
