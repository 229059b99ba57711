#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "base/messages.h"
#include "script/script.h"
#include "script/settings.h"
#include "timeline/colour_slots.h"
#include "timeline/colours.h"

namespace tessara::timeline {
namespace {

using script::Colour;

constexpr Colour kWhite = 0xFFFFFF, kYellow = 0x00FFFF, kBlack = 0, kRed = 0x0000FF,
                 kGreen = 0x00FF00, kBlue = 0xFF0000;

// Events with one run, bound to styles of a given precedence, and subpictures of them with
// their work records from one timeline.
class Colouring {
  public:
    script::DialogueEvent& event(Colour text, int32_t precedence, Colour outline = kBlack) {
        auto& st = m_styles.emplace_back();
        st.primary = text;
        st.outline_colour = outline;
        st.priority = precedence;
        auto& e = m_events.emplace_back();
        e.bound_style = &st;
        e.bound_style_id = st.id;
        e.runs.emplace_back();
        script::fill_run_colours(e.runs, st, false);
        return e;
    }

    Subpicture slice(std::vector<script::DialogueEvent*> events) {
        Subpicture sp;
        for (auto* e : events) {
            auto& m = sp.members.emplace_back();
            m.event = e;
            m.work = &m_timeline.work_for(*e);
        }
        return sp;
    }

    // A run as the build colours it.
    const script::CSubSegment& run(const script::DialogueEvent& e, size_t index = 0) {
        return m_timeline.work_for(e).runs.at(index);
    }
    // Text, anti-alias and outline class of a run.
    std::vector<int> classes(const script::DialogueEvent& e, size_t index = 0) {
        const auto& r = run(e, index);
        return {r.text_class, r.antialias_class, r.outline_class};
    }
    bool held(const script::DialogueEvent& e) { return m_timeline.work_for(e).colours_held; }

  private:
    std::deque<script::Style> m_styles;
    std::deque<script::DialogueEvent> m_events;
    Timeline m_timeline;
};

script::ConversionSettings mode(int32_t colors, bool sticky = false) {
    script::ConversionSettings s;
    s.colors = colors;
    s.sticky_colors = sticky;
    return s;
}

TEST(ColorCandidates, HighestPriorityFirstAndTiesKeepInsertionOrder) {
    ColorCandidates list;
    for (auto [text, priority] : {std::pair{1, 5}, {2, 7}, {3, 5}, {4, 7}, {5, 1}}) {
        list.insert({static_cast<Colour>(text), 0, 0, priority});
    }
    std::vector<Colour> order;
    for (const auto& c : list.list()) {
        order.push_back(c.text);
    }
    EXPECT_EQ(order, (std::vector<Colour>{2, 4, 1, 3, 5}));
}

TEST(AssignColours, TwoTextColoursKeepTheHigherPrecedenceInSlot0) {
    Colouring c;
    auto& yellow = c.event(kYellow, 0);
    auto& white = c.event(kWhite, 1);
    Subpicture sp = c.slice({&yellow, &white});
    EXPECT_TRUE(assign_colours(sp, mode(2)));
    EXPECT_EQ(std::vector<Colour>({sp.colors.slot0, sp.colors.slot1, sp.colors.slot2}),
              std::vector<Colour>({kWhite, kYellow, kBlack}));
    EXPECT_EQ(c.classes(yellow), (std::vector<int>{0, 3, 1}));
    EXPECT_EQ(c.classes(white), (std::vector<int>{2, 3, 1}));
    EXPECT_TRUE(c.held(white) && c.held(yellow));

    // A text colour equal to the head's outline takes the outline slot, an outline matching no
    // slot the head's outline, and an outline equal to the head's text slot 0.
    auto& dark = c.event(kBlack, 3, kBlue);
    auto& red = c.event(kRed, 2, kWhite);
    auto& head = c.event(kWhite, 5);
    sp = c.slice({&dark, &red, &head});
    assign_colours(sp, mode(2));
    EXPECT_EQ(sp.colors.slot1, kRed);
    EXPECT_EQ(c.classes(dark), (std::vector<int>{1, 3, 1}));
    EXPECT_EQ(c.run(dark, 0).assigned_outline, kBlack);
    EXPECT_EQ(c.classes(red), (std::vector<int>{0, 3, 2}));

    // One style alone: slot 1 falls back to slot 0.
    sp = c.slice({&white});
    assign_colours(sp, mode(2));
    EXPECT_EQ(sp.colors.slot1, kWhite);
}

TEST(AssignColours, OneOfEachAndThreeTextColourModes) {
    Colouring c;
    auto& a = c.event(kWhite, 4);
    auto& b = c.event(kYellow, 3, kBlue);
    auto& d = c.event(kRed, 2);
    auto& e = c.event(kGreen, 1);
    Subpicture sp = c.slice({&e, &d, &b, &a});
    assign_colours(sp, mode(1));
    EXPECT_EQ(sp.colors.slot2, kBlack);
    EXPECT_EQ(c.classes(b), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(c.run(b, 0).assigned_text, kWhite);

    assign_colours(sp, mode(3));
    EXPECT_EQ(std::vector<Colour>({sp.colors.slot0, sp.colors.slot1, sp.colors.slot2}),
              std::vector<Colour>({kWhite, kYellow, kRed}));
    EXPECT_EQ(c.classes(a), (std::vector<int>{2, 3, 3}));
    EXPECT_EQ(c.classes(b), (std::vector<int>{0, 3, 3}));
    EXPECT_EQ(c.classes(d), (std::vector<int>{1, 3, 3}));
    EXPECT_EQ(c.classes(e), (std::vector<int>{2, 3, 3}));  // the fourth colour gives way
    EXPECT_EQ(c.run(e, 0).assigned_text, kWhite);
    EXPECT_EQ(c.run(d, 0).assigned_outline, kRed);
}

TEST(AssignColours, TheMainRunBeatsColourOverridesOfItsOwnEvent) {
    Colouring c;
    auto& e = c.event(kWhite, 1);
    // Run 0 overrides its colour, so the main run is run 1; run 2 is no candidate of its own.
    e.runs.insert(e.runs.begin(), e.runs[0]);
    e.runs[0].override.emplace().primary = kRed;
    e.runs.emplace_back();
    script::fill_run_colours(e.runs, *e.bound_style, false);
    Subpicture sp = c.slice({&e});
    assign_colours(sp, mode(2));
    EXPECT_EQ(sp.colors.slot0, kWhite);
    EXPECT_EQ(sp.colors.slot1, kRed);
    EXPECT_EQ(c.classes(e, 0), (std::vector<int>{0, 3, 1}));
    EXPECT_EQ(c.classes(e, 2), (std::vector<int>{2, 3, 1}));
}

TEST(AssignColours, StickyColoursKeepASubtitlesColoursWhenAHigherStyleJoins) {
    for (bool sticky : {true, false}) {
        SCOPED_TRACE(sticky);
        Colouring c;
        auto& w = c.event(kWhite, 2);
        auto& y = c.event(kYellow, 1);
        auto& g = c.event(kGreen, 3);
        Subpicture first = c.slice({&w, &y});
        Subpicture second = c.slice({&w, &y, &g});
        assign_colours(first, mode(2, sticky));
        assign_colours(second, mode(2, sticky));
        EXPECT_EQ(second.colors.slot0, sticky ? kWhite : kGreen);
        EXPECT_EQ(c.run(y, 0).assigned_text, sticky ? kYellow : kGreen);
        EXPECT_EQ(c.run(g, 0).assigned_text, sticky ? kWhite : kGreen);
    }
}

TEST(AssignColours, ReportsChangesAndTakesUpEditedStyles) {
    Colouring c;
    auto& e = c.event(kWhite, 1);
    Subpicture sp = c.slice({&e});
    EXPECT_TRUE(assign_colours(sp, mode(2)));
    EXPECT_FALSE(assign_colours(sp, mode(2)));
    EXPECT_TRUE(assign_colours(sp, mode(1)));  // same slot 0, other classes

    auto& style = const_cast<script::Style&>(*e.bound_style);
    style.primary = kYellow;
    style.renew_id();
    EXPECT_TRUE(assign_colours(sp, mode(1)));
    EXPECT_EQ(sp.colors.slot0, kYellow);

    // The event's text changes: the build takes its runs again.
    e.runs.clear();
    ++e.change_counter;
    Subpicture none = c.slice({&e});
    EXPECT_FALSE(assign_colours(none, mode(1)));
    EXPECT_FALSE(none.colors.assigned);
}

// Whatever assign_colours decides, a run drawn with the classes it was given shows the colours
// it was given once the subpicture's slots are painted.
TEST(AssignColours, EveryRunIsPaintedInTheColoursItWasAssigned) {
    for (int32_t colors : {1, 2, 3}) {
        SCOPED_TRACE(colors);
        Colouring c;
        auto& a = c.event(kWhite, 4, kBlue);
        auto& b = c.event(kYellow, 3, kWhite);
        auto& d = c.event(kRed, 2, kYellow);
        auto& e = c.event(kBlue, 1, kGreen);
        Subpicture sp = c.slice({&e, &d, &b, &a});
        ASSERT_TRUE(assign_colours(sp, mode(colors)));
        for (const auto* ev : {&a, &b, &d, &e}) {
            const script::CSubSegment& run = c.run(*ev);
            const std::pair<uint8_t, Colour> drawn[] = {
                {run.text_class, run.assigned_text},
                {run.antialias_class, run.assigned_antialias},
                {run.outline_class, run.assigned_outline}};
            for (const auto& [cls, colour] : drawn) {
                if (cls != render::kBackground) {
                    EXPECT_EQ(colour_of_class(sp.colors, cls, kGreen + 1), colour)
                        << "class " << int{cls};
                }
            }
        }
    }
}

TEST(CheckPalette, SixteenEntriesWithFourteenHonouredTakeTwoNewColoursOnly) {
    Timeline tl;
    auto add = [&](int32_t frame, SubpictureColors colors, size_t members = 1) {
        auto& sp = *tl.subpictures().emplace_back(std::make_unique<Subpicture>());
        sp.start.frame = frame;
        sp.start.rate = 25000;
        sp.colors = colors;
        sp.members.resize(members);
    };
    OutputPalette palette(16);
    for (int32_t i = 0; i < 14; ++i) {
        ASSERT_TRUE(palette.add_at(static_cast<Colour>(0x010101 * i), i));
    }
    add(25, {0x010101, kRed, kBlue, true});        // two new colours
    add(50, {kGreen, kGreen, kGreen, false}, 0);   // a pause is not checked
    add(250, {0x010101, kGreen, 0x020202, true});  // a third one
    base::RecordingMessages messages;
    EXPECT_FALSE(check_palette(tl, palette, messages));
    EXPECT_EQ(palette.index_of(kBlue), 15);
    EXPECT_EQ(palette.colour_at(14), kRed);
    EXPECT_FALSE(palette.add_at(kRed, 15));  // fixed positions must be free
    EXPECT_EQ(messages.texts(),
              std::vector<std::string>{
                  "Too many colors for the output palette.\nEither modify the styles used in "
                  "order to\nreduce the number of colors needed, or don't\nhonor any other "
                  "script's palette.\nLast frame processed is at 00:00:10:00."});

    // Colours never assigned fail the same way.
    tl.subpictures().clear();
    add(0, {});
    OutputPalette empty(16);
    EXPECT_FALSE(check_palette(tl, empty, messages));
    EXPECT_EQ(empty.used_count(), 0);
}

}  // namespace
}  // namespace tessara::timeline
