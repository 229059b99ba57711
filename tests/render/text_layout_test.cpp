#include <gtest/gtest.h>

#include "render/right_to_left.h"
#include "render/text_layout.h"

namespace tessara::render {
namespace {

// Words of the given advances with single spaces between them and no outline.
std::vector<BreakItem> words(std::vector<int32_t> advances, int32_t space = 10) {
    std::vector<BreakItem> out;
    for (size_t i = 0; i < advances.size(); ++i) {
        BreakItem b;
        b.inner_width = advances[i];
        b.advance = advances[i];
        b.space_before = 0;
        b.space_after = i + 1 < advances.size() ? space : 0;
        out.push_back(b);
    }
    return out;
}

TEST(LineBreaking, GreedyFillsTheLineAndATooWideWordStandsAlone) {
    auto items = words({100, 100, 100, 100});
    EXPECT_EQ(break_line(items, 0, 320, false), 3u);  // 100+10+100+10+100 = 320 fits
    EXPECT_EQ(break_line(items, 0, 319, false), 2u);
    EXPECT_EQ(break_line(items, 3, 319, false), 4u);

    auto wide = words({50, 400, 50});
    EXPECT_EQ(break_line(wide, 0, 300, false), 1u);  // the line ends before the wide word
    EXPECT_EQ(break_line(wide, 1, 300, false), 2u);  // which then stands alone
    EXPECT_EQ(break_line(wide, 1, 300, true), 2u);
}

TEST(LineBreaking, ALineBreakEndsTheLine) {
    auto items = words({10, 10, 10});
    items[0].line_break_after = true;
    EXPECT_EQ(break_line(items, 0, 1000, true), 1u);
    EXPECT_EQ(break_line(items, 1, 1000, true), 3u);
}

TEST(LineBreaking, BalancedSplitsSevenWordsIntoTwoEvenLines) {
    auto items = words({60, 60, 60, 60, 60, 60, 60});
    // Greedy: five words (340) and two (130). Balanced: four (270) and three (200).
    EXPECT_EQ(break_line(items, 0, 345, false), 5u);
    EXPECT_EQ(break_line(items, 0, 345, true), 4u);
    // Balancing stops when a line would be left with a single run.
    auto two = words({300, 40});
    EXPECT_EQ(break_line(two, 0, 320, true), 1u);
}

RenderedSegment seg(int32_t advance, int32_t space_after = 0, int32_t space_before = 0) {
    RenderedSegment s;
    s.width = advance;
    s.inner_width = advance;
    s.advance = advance;
    s.height = 20;
    s.line_height = 20;
    s.ascent = 15;
    s.space_after = space_after;
    s.space_before = space_before;
    return s;
}

TEST(Positions, WordsFollowEachOtherAndLinesStack) {
    RenderedSubtitle sub;
    sub.halign = script::HAlign::Left;
    sub.segments = {seg(40, 10), seg(30), seg(50)};
    sub.segments[1].line_break_after = true;
    LayoutSettings settings;
    position_segments(sub, 1000, 0, settings);
    EXPECT_EQ(sub.segments[0].x, 0);
    EXPECT_EQ(sub.segments[1].x, 50);
    EXPECT_EQ(sub.segments[2].x, 0);
    EXPECT_EQ(sub.segments[2].y, 20);
    EXPECT_TRUE(sub.segments[1].end_of_line);
    EXPECT_EQ(sub.box_width, 80);
    EXPECT_EQ(sub.box_height, 40);
    EXPECT_EQ(sub.collision_height, 40);
    EXPECT_EQ(sub.trailing_line_space, 0);

    // 150% line spacing from the style.
    position_segments(sub, 1000, 150, settings);
    EXPECT_EQ(sub.segments[2].y, 30);
    EXPECT_EQ(sub.trailing_line_space, 10);
}

TEST(Positions, CentreAndRightAlignment) {
    RenderedSubtitle sub;
    sub.halign = script::HAlign::Centre;
    sub.segments = {seg(101), seg(200)};
    sub.segments[0].line_break_after = true;
    LayoutSettings settings;
    position_segments(sub, 1000, 0, settings);
    EXPECT_EQ(sub.segments[0].x, 49);
    EXPECT_EQ(sub.segments[1].x, 0);
    sub.halign = script::HAlign::Right;
    position_segments(sub, 1000, 0, settings);
    EXPECT_EQ(sub.segments[0].x, 99);
}

TEST(Positions, TabStopsMoveTheFollowingRuns) {
    LayoutSettings settings;
    settings.tab_width = 50;
    for (auto [lead, shift] : {std::pair{120, 30}, std::pair{150, 50}}) {
        RenderedSubtitle sub;
        sub.halign = script::HAlign::Left;
        RenderedSegment tab = seg(10);
        tab.tab = true;
        sub.segments = {seg(lead), tab, seg(20)};
        position_segments(sub, 1000, 0, settings);
        // The tab's text starts at `lead`; what follows moves by the distance to the next stop.
        EXPECT_EQ(sub.segments[1].x, lead);
        EXPECT_EQ(sub.segments[2].x, lead + 10 + shift) << lead;
    }
}

TEST(Positions, RightToLeftRunsGoBeforeEarlierOnes) {
    RenderedSubtitle sub;
    sub.halign = script::HAlign::Left;
    sub.segments = {seg(30), seg(40, 0, 10)};
    sub.segments[0].right_to_left = true;
    sub.segments[1].right_to_left = true;
    LayoutSettings settings;
    position_segments(sub, 1000, 0, settings);
    EXPECT_EQ(sub.segments[1].x, 0);
    EXPECT_EQ(sub.segments[0].x, 50);
    EXPECT_EQ(sub.box_width, 80);
}

TEST(RightToLeft, ReversesRightToLeftWordsAndMirrorsBrackets) {
    script::CSubSegment a;
    a.text = u"(\u05E9\u05DC\u05D5\u05DD)";  // (shalom)
    a.space_after = true;
    script::CSubSegment b;
    b.text = u"ok";
    script::Style style;
    auto out = right_to_left_runs({a, b}, style, -1);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].right_to_left);
    EXPECT_EQ(out[0].text, u"(\u05DD\u05D5\u05DC\u05E9)");
    EXPECT_FALSE(out[1].right_to_left);
    EXPECT_TRUE(out[1].space_before);
    EXPECT_EQ(out[1].text, u"ok");
}

TEST(RightToLeft, DirectionChangesInsideAWordCutIt) {
    script::CSubSegment a;
    a.text = u"ab\u05D0\u05D1";
    a.line_break_after = true;
    script::Style style;
    auto out = right_to_left_runs({a}, style, -1);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].text, u"ab");
    EXPECT_EQ(out[1].text, u"\u05D1\u05D0");
    EXPECT_TRUE(out[1].line_break_after);
    EXPECT_EQ(char_class(u'A'), CharClass::LeftToRight);
    EXPECT_EQ(char_class(0x0627), CharClass::RightToLeft);
    EXPECT_EQ(char_class(u'1'), CharClass::Neutral);
    EXPECT_EQ(char_class(0xA0), CharClass::Space);
}

}  // namespace
}  // namespace tessara::render
