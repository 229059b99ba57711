#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"
#include "script/script.h"
#include "timeline/separate_titles.h"
#include "timeline_scripts.h"

namespace tessara::timeline {
namespace {

using script::ToolOutcome;
using testing::Line;
using testing::load;

std::u16string dialogue(const char16_t* start, const char16_t* end, const char16_t* text) {
    return std::u16string(u"Dialogue: Marked=0,") + start + u"," + end +
           u",Default,,0000,0000,0000,," + text;
}

TEST(SeparateTitles, AContiguousPairGetsOneEmptyFrame) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "a"}, {"0:00:02.00", "0:00:03.00", "b"}});
    base::RecordingMessages messages;
    EXPECT_EQ(separate_titles(*s, messages), ToolOutcome::Changed);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"1 titles were changed."}));
    // Frame 50 starts "b", so "a" now stops at frame 49: 1.96 s at 25 fps.
    EXPECT_EQ(s->events()[0]->line->text, dialogue(u"0:00:01.00", u"0:00:01.96", u"a"));
    EXPECT_EQ(s->events()[1]->line->text, dialogue(u"0:00:02.00", u"0:00:03.00", u"b"));
    EXPECT_TRUE(s->settings.modified);
    EXPECT_TRUE(s->settings.rebuild_needed);

    // Done twice, nothing is left to change.
    messages.clear();
    EXPECT_EQ(separate_titles(*s, messages), ToolOutcome::Unchanged);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"No titles were changed."}));
}

TEST(SeparateTitles, GapsAndStacksAreLeftAlone) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "a"},
                   {"0:00:02.04", "0:00:03.00", "b"},  // one empty frame already
                   {"0:00:05.00", "0:00:06.00", "c"},
                   {"0:00:05.00", "0:00:06.00", "d"},
                   {"0:00:05.00", "0:00:06.00", "e"}});
    s->settings.modified = false;
    base::RecordingMessages messages;
    EXPECT_EQ(separate_titles(*s, messages), ToolOutcome::Unchanged);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"No titles were changed."}));
    EXPECT_FALSE(s->settings.modified);
}

TEST(SeparateTitles, AnOverlappedSubtitleEndsBeforeTheNextStartsAndLosesItsAbsoluteOut) {
    auto s = load({{"0:00:01.00", "0:00:03.00", "a", "Default", "ABSOLUTEOUT=00:00:04:00"},
                   {"0:00:02.00", "0:00:05.00", "b"}});
    base::RecordingMessages messages;
    EXPECT_EQ(separate_titles(*s, messages), ToolOutcome::Changed);
    const auto& a = *s->events()[0];
    EXPECT_EQ(a.line->text, dialogue(u"0:00:01.00", u"0:00:01.96", u"a"));
    ASSERT_TRUE(a.user_override);
    EXPECT_FALSE(a.user_override->absolute_out);
}

TEST(SeparateTitles, EndsGoBackThroughTheSegmentsOffsets) {
    auto s = load({{"0:00:01.00", "0:00:02.00", "a"}, {"0:00:02.00", "0:00:03.00", "b"}});
    script::LegacySegment seg;
    seg.src_pos = script::ScriptTime{1000, false};
    s->settings.legacy_segments = {seg};
    base::RecordingMessages messages;
    EXPECT_EQ(separate_titles(*s, messages), ToolOutcome::Changed);
    EXPECT_EQ(s->events()[0]->line->text, dialogue(u"0:00:01.00", u"0:00:01.96", u"a"));

    s->settings.legacy_segments = {seg, seg};
    messages.clear();
    EXPECT_EQ(separate_titles(*s, messages), ToolOutcome::Failed);
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{"This function is not available when multiple timelines "
                                        "are defined"}));
}

TEST(SeparateTitles, BlinkingLinesAndOneFrameSubtitlesKeepTheirEnds) {
    // Shortening a blinking line's end cannot end one of its flashes earlier, only drop
    // flashes; a one-frame subtitle would vanish.
    auto s = load({{"0:00:00.00", "0:00:01.00", "{#blink100}flash"},
                   {"0:00:00.50", "0:00:00.80", "after"},
                   {"0:00:03.00", "0:00:03.04", "short"},
                   {"0:00:03.04", "0:00:04.00", "next"}});
    const std::u16string blink_line = s->events()[0]->line->text;
    base::RecordingMessages messages;
    EXPECT_EQ(separate_titles(*s, messages), ToolOutcome::Unchanged);
    EXPECT_EQ(s->events()[0]->line->text, blink_line);
}

}  // namespace
}  // namespace tessara::timeline
