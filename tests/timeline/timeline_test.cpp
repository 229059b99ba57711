#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"
#include "render/font_cache.h"
#include "render/font_engine.h"
#include "script/script.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"
#include "timeline_scripts.h"

namespace tessara::timeline {
namespace {

using testing::Line;
using testing::load;

struct Span {
    int32_t start, stop;
    bool operator==(const Span&) const = default;
};

std::vector<Span> spans(const Timeline& tl) {
    std::vector<Span> out;
    for (const auto& ts : tl.subtitles()) {
        out.push_back({ts.start.frame, ts.stop.frame});
    }
    return out;
}

script::ScriptTime plain(int32_t centis) {
    return {centis, false};
}

TEST(TimelineFill, EveryEventEntersOnceInScriptOrderAndBlinksArriveAsPieces) {
    auto s = load({{"0:00:03.00", "0:00:04.00", "c"},
                   {"0:00:01.00", "0:00:02.00", "a"},
                   {"0:00:00.00", "0:00:02.00", "{#blink}on"}});
    Timeline tl;
    base::RecordingMessages messages;
    tl.fill(*s, messages);
    // Flashes start every second and last half a second; the last one runs past the end.
    EXPECT_EQ(spans(tl), (std::vector<Span>{{75, 100}, {25, 50}, {0, 13}, {25, 38}, {50, 63}}));
    EXPECT_EQ(tl.subtitles()[1].event, s->events()[1].get());
    EXPECT_TRUE(messages.messages().empty());
}

TEST(TimelineFill, SegmentsFilterByStoredTimesAndApplyTheirOffsets) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "a"},
                   {"0:00:03.00", "0:00:04.00", "b"},
                   {"0:00:06.00", "0:00:07.00", "c"}});
    script::LegacySegment first;
    first.stop = plain(500);
    script::LegacySegment second;
    second.start = plain(300);
    second.src_pos = plain(1000);                     // ten seconds later in the script's clock
    second.dst_pos = script::ScriptTime{6000, true};  // and one minute of output frames
    s->settings.legacy_segments = {first, second};
    Timeline tl;
    base::RecordingMessages messages;
    tl.fill(*s, messages);
    EXPECT_EQ(spans(tl), (std::vector<Span>{{25, 50}, {75, 100}, {1825, 1850}, {1900, 1925}}));
    // Both entries of the event in two segments share the event and its generation state.
    EXPECT_EQ(tl.subtitles()[1].event, tl.subtitles()[2].event);
}

TEST(TimelineAdd, AbsoluteTimesReplaceTheEventsAndIgnoreOffsets) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "a", "Default", "ABSOLUTEOUT=00:00:10:00"}});
    Timeline tl;
    base::RecordingMessages messages;
    auto& ev = *s->events()[0];
    // ABSOLUTEOUT names the last visible frame.
    EXPECT_EQ(tl.add(ev, s->settings, std::nullopt, std::nullopt, messages), 0);
    EXPECT_EQ(spans(tl).back(), (Span{25, 251}));
    EXPECT_EQ(tl.add(ev, s->settings, plain(100), script::ScriptTime{100, true}, messages), 1);
    EXPECT_EQ(spans(tl).back(), (Span{75, 251}));

    // A clock-time ABSOLUTEIN counts frames at FPS in.
    auto film = load({{"0:00:00.00", "0:00:05.00", "a"}}, u"23.976", u"25");
    auto& fe = *film->events()[0];
    fe.user_override.emplace();
    fe.user_override->absolute_in = plain(100);
    EXPECT_EQ(tl.add(fe, film->settings, plain(500), std::nullopt, messages), 2);
    EXPECT_EQ(tl.subtitles()[2].start.frame, 24);
    EXPECT_TRUE(messages.messages().empty());
}

TEST(TimelineAdd, NegativeAndEmptySpansAreRefusedWithTheirLines) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "same"},
                   {"0:00:01.00", "0:00:02.00", "early", "Default", "ABSOLUTEOUT=00:00:00:10"},
                   {"0:00:03.00", "0:00:04.00", "kept"}});
    s->events()[0]->end = s->events()[0]->start;
    Timeline tl;
    base::RecordingMessages messages;
    tl.fill(*s, messages);
    EXPECT_EQ(spans(tl), (std::vector<Span>{{75, 100}}));
    ASSERT_EQ(messages.texts().size(), 2u);
    EXPECT_EQ(messages.texts()[0],
              "Subtitle removed due to negative time span: 00:00:01:00 --> 00:00:00:24\n"
              "This may be due to misuse of ABSOLUTEIN or ABSOLUTEOUT tags.\nText line is:\n\n"
              "same\n\nSSA Script line is:\n"
              "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0000,0000,0000,,same");
    EXPECT_NE(messages.texts()[1].find("span: 00:00:01:00 --> 00:00:00:10\n"), std::string::npos);

    // Unvalidated timing (no rates) refuses every event instead of dividing by zero.
    script::ConversionSettings untimed;
    EXPECT_EQ(tl.add(*s->events()[2], untimed, std::nullopt, std::nullopt, messages), -1);
    EXPECT_EQ(tl.size(), 1u);
}

// Retiming in the preview: the subtitle shown alone and the one after it.
class Retime : public ::testing::Test {
  protected:
    void SetUp() override {
        script = load({{"0:00:00.00", "0:00:02.00", "first"},
                       {"0:00:02.00", "0:00:04.00", "second"},
                       {"0:00:06.00", "0:00:08.00", "third"}});
        script->settings.auto_detach = true;
        timeline.fill(*script, messages);
        ASSERT_TRUE(build_subpictures(timeline, false));
        context = std::make_unique<BuildContext>(*script, fonts, messages);
        ASSERT_TRUE(BuildAll(timeline, *context));
    }

    script::FrameTime frame(int32_t f) {
        script::FrameTime t = timeline.subtitles()[0].start;
        t.frame = f;
        return t;
    }

    std::unique_ptr<render::FontEngine> engine = render::make_system_font_engine();
    render::FontCache fonts{*engine};
    base::RecordingMessages messages;
    std::unique_ptr<script::Script> script;
    Timeline timeline;
    std::unique_ptr<BuildContext> context;
};

TEST_F(Retime, DetachKeepsOneEmptyFrameBeforeTheNextLoneSubtitle) {
    int32_t shown = 0;
    ASSERT_TRUE(timeline.retime(0, frame(0), frame(60), *script, *context, shown));
    EXPECT_EQ(spans(timeline)[1], (Span{61, 100}));
    EXPECT_EQ(script->events()[1]->start, plain(244));
    EXPECT_EQ(script->events()[1]->line->text,
              u"Dialogue: Marked=0,0:00:02.44,0:00:04.00,Default,,0000,0000,0000,,second");
    EXPECT_EQ(shown, 0);

    // Shortening pulls the next subtitle back; it never starts after its own last frame.
    ASSERT_TRUE(timeline.retime(0, frame(0), frame(30), *script, *context, shown));
    EXPECT_EQ(spans(timeline)[1], (Span{31, 100}));
    ASSERT_TRUE(timeline.retime(0, frame(0), frame(140), *script, *context, shown));
    EXPECT_EQ(spans(timeline)[1], (Span{99, 100}));
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(Retime, WithoutDetachOnlyTheEditedSubtitleMoves) {
    script->settings.auto_detach = false;
    int32_t shown = 0;
    ASSERT_TRUE(timeline.retime(0, frame(0), frame(60), *script, *context, shown));
    EXPECT_EQ(spans(timeline)[1], (Span{50, 100}));
    EXPECT_EQ(script->events()[1]->start, plain(200));
    // The subpictures follow the new frames: {first}, {first, second}, {second} ...
    const auto& sps = timeline.subpictures();
    ASSERT_GE(sps.size(), 3u);
    EXPECT_EQ(sps[1]->start.frame, 50);
    EXPECT_EQ(sps[1]->members.size(), 2u);

    // Invalid edits are refused without touching the timeline.
    EXPECT_FALSE(timeline.retime(0, frame(10), frame(10), *script, *context, shown));
    EXPECT_FALSE(timeline.retime(7, frame(0), frame(10), *script, *context, shown));
    EXPECT_EQ(spans(timeline)[0], (Span{0, 60}));

    // A subtitle added in the preview is shown once the subpictures are rebuilt.
    EXPECT_EQ(
        timeline.add_and_rebuild(*script->events()[2], std::nullopt, std::nullopt, *context, shown),
        3);
    EXPECT_EQ(timeline.subpictures()[static_cast<size_t>(shown)]->start.frame, 150);
}

}  // namespace
}  // namespace tessara::timeline
