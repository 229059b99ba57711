#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/progress.h"
#include "base/text.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "render/subpicture_canvas.h"
#include "script/script.h"
#include "script/script_edit.h"
#include "timeline/subpictures.h"
#include "timeline_scripts.h"

namespace tessara::timeline {
namespace {

using testing::Line;

// Start frame and member indices of every subpicture.
std::vector<std::pair<int32_t, std::vector<int32_t>>> slices(const Timeline& tl) {
    std::vector<std::pair<int32_t, std::vector<int32_t>>> out;
    for (const auto& sp : tl.subpictures()) {
        auto& s = out.emplace_back(sp->start.frame, std::vector<int32_t>{});
        for (const auto& m : sp->members) {
            s.second.push_back(m.index);
        }
    }
    return out;
}

TEST(BuildSubpictures, SlicesWhereTheVisibleSetChangesAndReusesUnchangedOnes) {
    std::deque<script::DialogueEvent> events;
    Timeline tl;
    auto add = [&](int32_t start, int32_t stop) {
        TimedSubtitle& ts = tl.subtitles().emplace_back();
        ts.event = &events.emplace_back();
        ts.event->runs.emplace_back().text = u"text";
        ts.start.frame = start;
        ts.stop.frame = stop;
    };
    add(30, 70);  // out of time order on purpose
    add(10, 50);
    add(80, 90);
    add(80, 90);
    ASSERT_TRUE(build_subpictures(tl, false));
    using S = decltype(slices(tl));
    EXPECT_EQ(slices(tl),
              (S{{10, {1}}, {30, {0, 1}}, {50, {0}}, {70, {}}, {80, {2, 3}}, {90, {}}}));
    std::vector<Subpicture*> before;
    for (const auto& sp : tl.subpictures()) {
        before.push_back(sp.get());
    }

    // Only subpictures with the same start and events survive a rebuild with reuse.
    tl.subtitles()[1].start.frame = 20;
    tl.subtitles()[0].stop.frame = 60;
    tl.subtitles()[3].start.frame = 85;
    ASSERT_TRUE(build_subpictures(tl, true));
    EXPECT_EQ(slices(tl),
              (S{{20, {1}}, {30, {0, 1}}, {50, {0}}, {60, {}}, {80, {2}}, {85, {2, 3}}, {90, {}}}));
    const auto& after = tl.subpictures();
    EXPECT_NE(after[0].get(), before[0]);
    EXPECT_EQ(after[1].get(), before[1]);
    EXPECT_EQ(after[2].get(), before[2]);
    EXPECT_NE(after[4].get(), before[4]);
    EXPECT_EQ(after[6].get(), before[5]);

    tl.subtitles().clear();
    EXPECT_FALSE(build_subpictures(tl, true));
    EXPECT_TRUE(tl.subpictures().empty());
}

// Builds over a real script rendered with DejaVu Sans.
class Build : public ::testing::Test {
  protected:
    void open(const std::vector<Line>& lines) {
        script = testing::load(lines, u"25", u"25", {testing::kWhiteStyle, testing::kYellowStyle});
        timeline.clear();
        timeline.fill(*script, messages);
        ASSERT_TRUE(build_subpictures(timeline, false));
    }
    BuildContext& context() {
        ctx = std::make_unique<BuildContext>(*script, fonts, messages, &progress);
        return *ctx;
    }
    std::vector<int64_t> change_ids() const {
        std::vector<int64_t> ids;
        for (const auto& sp : timeline.subpictures()) {
            ids.push_back(sp->change_id);
        }
        return ids;
    }

    std::unique_ptr<render::FontEngine> engine = render::make_system_font_engine();
    render::FontCache fonts{*engine};
    base::RecordingMessages messages;
    base::NullProgress progress;
    std::unique_ptr<script::Script> script;
    Timeline timeline;
    std::unique_ptr<BuildContext> ctx;
};

TEST_F(Build, BuildAllColoursRendersPlacesNumbersAndComposes) {
    for (bool intell_coll : {true, false}) {
        SCOPED_TRACE(intell_coll);
        open({{"0:00:01.00", "0:00:03.00", "White words"},
              {"0:00:02.00", "0:00:04.00", "Yellow words", "Yellow"}});
        script->settings.intell_coll = intell_coll;
        BuildContext& c = context();
        ASSERT_TRUE(BuildAll(timeline, c));
        EXPECT_EQ(c.renderings, 4);
        EXPECT_EQ(progress.position(), 4);

        const auto& sps = timeline.subpictures();
        ASSERT_EQ(sps.size(), 4u);
        std::vector<int32_t> numbers;
        while (Subpicture* sp = timeline.next_nonempty()) {
            numbers.push_back(sp->sequence);
            EXPECT_EQ(timeline.current_stop(),
                      sps[static_cast<size_t>(timeline.cursor) + 1]->start);
        }
        EXPECT_EQ(numbers, (std::vector<int32_t>{1, 2, 3}));
        const Subpicture& both = *sps[1];
        EXPECT_EQ(both.colors.slot0, 0xFFFFFFu);
        EXPECT_EQ(both.colors.slot1, 0x00FFFFu);
        // Stacking puts the higher precedence on top, and foreseen collisions keep the bottom
        // for the subtitle that stays longer: either way white sits right on yellow.
        const auto& white = both.members[0];
        const auto& yellow = both.members[1];
        ASSERT_TRUE(white.rendered && yellow.rendered);
        EXPECT_EQ(white.y + white.rendered->box_height + white.rendered->trailing_line_space,
                  yellow.y);

        render::SubpictureCanvas canvas(720, 478);
        compose(both, canvas, true);
        ASSERT_TRUE(canvas.bounding_box());
        const auto& px = canvas.classes().data();
        EXPECT_EQ(std::set<uint8_t>(px.begin(), px.end()), (std::set<uint8_t>{0, 1, 2, 3}));
        const int32_t both_height = canvas.bounding_box()->height();

        // Composing clears the canvas first; without bitmaps only the box is computed.
        compose(*sps[2], canvas, false);
        ASSERT_TRUE(canvas.bounding_box());
        EXPECT_LT(canvas.bounding_box()->height(), both_height);
        EXPECT_EQ(std::set<uint8_t>(px.begin(), px.end()), (std::set<uint8_t>{3}));
        EXPECT_TRUE(messages.messages().empty());
    }
}

TEST_F(Build, RebuildRendersOnlyWhatChangedAndKeepsUntouchedChangeIds) {
    open({{"0:00:01.00", "0:00:02.00", "one"},
          {"0:00:03.00", "0:00:04.00", "two"},
          {"0:00:05.00", "0:00:06.00", "three"}});
    BuildContext& c = context();
    ASSERT_TRUE(BuildAll(timeline, c));
    const std::vector<int64_t> ids = change_ids();
    ASSERT_TRUE(build_subpictures(timeline, true));
    ASSERT_TRUE(BuildAll(timeline, c));
    EXPECT_EQ(c.renderings, 3);
    EXPECT_EQ(change_ids(), ids);

    ASSERT_TRUE(script::rewrite_event_text(*script, *script->events()[1], u"deux",
                                           script::TextInput::Typed));
    ASSERT_TRUE(build_subpictures(timeline, true));
    int32_t shown = -1;
    ASSERT_TRUE(Rebuild(timeline, c, 1, shown));
    EXPECT_EQ(c.renderings, 4);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(progress.high(), 1000);
    const std::vector<int64_t> now = change_ids();
    EXPECT_EQ(now[0], ids[0]);
    EXPECT_NE(now[2], ids[2]);
    EXPECT_EQ(now[4], ids[4]);

    // An edited style renders its subtitles again with its new colour.
    script::Style& style = *script->find_style(u"Default");
    style.primary = 0x0000FF;
    style.renew_id();
    ASSERT_TRUE(build_subpictures(timeline, true));
    ASSERT_TRUE(BuildAll(timeline, c));
    EXPECT_EQ(c.renderings, 7);
    EXPECT_EQ(timeline.subpictures()[0]->colors.slot0, 0x0000FFu);
}

TEST_F(Build, ReusedRenderingsMadeWithOtherClassesAreRenderedAgain) {
    open({{"0:00:01.00", "0:00:02.00", "one"}});
    ASSERT_TRUE(BuildAll(timeline, context()));
    // The classes decide which pixels a rendering holds (mode 2 draws no anti-alias).
    script->settings.colors = 1;
    ASSERT_TRUE(build_subpictures(timeline, true));
    BuildContext& c = context();
    ASSERT_TRUE(BuildAll(timeline, c));
    EXPECT_EQ(c.renderings, 1);
    EXPECT_EQ(timeline.subpictures()[0]->members[0].rendered->segments[0].antialias_class, 0);
}

TEST_F(Build, ASubtitleThatRendersNothingStopsTheBuild) {
    // A word far too large for a bitmap: the event has text, but no run of it can be drawn.
    open({{"0:00:01.00", "0:00:03.00", "fine"},
          {"0:00:02.00", "0:00:04.00", "{\\fs2000}" + std::string(40, 'W')}});
    ASSERT_FALSE(script->events()[1]->runs.empty());
    timeline.cursor = 1;
    EXPECT_FALSE(BuildAll(timeline, context()));
    EXPECT_EQ(timeline.cursor, -1);
    const auto& sps = timeline.subpictures();
    EXPECT_TRUE(sps[0]->members[0].rendered);
    EXPECT_FALSE(sps[1]->members[0].rendered || sps[1]->members[1].rendered);
    EXPECT_EQ(fonts.size(), 0u);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{render::kCannotCreateBitmapText});
}

// Every subpicture as "frame #sequence", then its members as "text at x,y".
std::vector<std::string> shown(const Timeline& tl) {
    std::vector<std::string> out;
    for (const auto& sp : tl.subpictures()) {
        out.push_back(std::to_string(sp->start.frame) + " #" + std::to_string(sp->sequence));
        for (const auto& m : sp->members) {
            out.push_back(base::utf16_to_utf8(m.event->plain_text) + " at " + std::to_string(m.x) +
                          "," + std::to_string(m.y));
        }
    }
    return out;
}

// An event without text (empty, or only override blocks) has nothing to draw: it cuts no
// subpicture and joins none, and the others are built exactly as without it.
TEST_F(Build, EventsWithNothingToDrawTakeNoPartInTheSubpictures) {
    const std::vector<Line> drawn = {{"0:00:01.00", "0:00:03.00", "one"},
                                     {"0:00:05.00", "0:00:06.00", "two"}};
    open(drawn);
    ASSERT_TRUE(BuildAll(timeline, context()));
    const auto without = shown(timeline);

    std::vector<Line> with = drawn;
    with.insert(with.begin() + 1, {"0:00:02.00", "0:00:02.50", ""});
    with.insert(with.begin() + 2, {"0:00:02.50", "0:00:05.50", "{\\pos(10,10)}"});
    with.push_back({"0:00:07.00", "0:00:08.00", "{\\i1}"});
    open(with);
    ASSERT_EQ(timeline.size(), 5u);
    ASSERT_TRUE(BuildAll(timeline, context()));
    EXPECT_EQ(shown(timeline), without);
    EXPECT_TRUE(messages.messages().empty());

    // Only such events: nothing to build, as with no events at all.
    script = testing::load({{"0:00:01.00", "0:00:02.00", "{\\b1}"}});
    timeline.clear();
    timeline.fill(*script, messages);
    ASSERT_EQ(timeline.size(), 1u);
    EXPECT_FALSE(build_subpictures(timeline, false));
    EXPECT_TRUE(timeline.subpictures().empty());
}

}  // namespace
}  // namespace tessara::timeline
