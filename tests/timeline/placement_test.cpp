#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "script/compatible.h"
#include "script/script.h"
#include "timeline/placement.h"

namespace tessara::timeline {
namespace {

using placement_detail::Direction;
using placement_detail::move_clear;
using placement_detail::Rect;
using script::HAlign;
using script::VAlign;

// The geometry of a fabricated rendering; the collision height equals the box height.
struct Box {
    int32_t w = 200, h = 40, s = 10, top = 30, bottom = 30, left = 30, right = 30;
    HAlign ha = HAlign::Centre;
    VAlign va = VAlign::Bottom;
    bool absolute = false;
};

// Events with styles of a given precedence, and subpictures built by hand.
struct Scene {
    Timeline timeline;
    std::deque<script::Style> styles;
    std::deque<script::DialogueEvent> events;

    script::DialogueEvent& event(int32_t precedence = 1) {
        styles.emplace_back().priority = precedence;
        events.emplace_back().bound_style = &styles.back();
        return events.back();
    }
    // A placed event, as an obstacle for place_group.
    script::DialogueEvent& placed(int32_t y) {
        auto& e = event(9);
        EventWork& work = timeline.work_for(e);
        work.placed = true;
        work.placed_x = 0;
        work.placed_y = y;
        return e;
    }
    Subpicture& add(int32_t frame,
                    std::vector<std::pair<script::DialogueEvent*, std::optional<Box>>> members) {
        auto& sp = *timeline.subpictures().emplace_back(std::make_unique<Subpicture>());
        sp.start.frame = frame;
        for (auto& [e, b] : members) {
            auto& m = sp.members.emplace_back();
            m.event = e;
            m.work = &timeline.work_for(*e);
            if (b) {
                m.rendered = std::make_unique<render::RenderedSubtitle>();
                auto& r = *m.rendered;
                r.box_width = b->w;
                r.box_height = r.collision_height = b->h;
                r.trailing_line_space = b->s;
                r.margin_top = b->top;
                r.margin_bottom = b->bottom;
                r.margin_left = b->left;
                r.margin_right = b->right;
                r.halign = b->ha;
                r.valign = b->va;
                r.absolute = b->absolute;
            }
        }
        return sp;
    }
    int32_t y(size_t sp, size_t m) { return timeline.subpictures()[sp]->members[m].y; }
};

PlacementSettings screen(int32_t minus2) {
    PlacementSettings s;
    s.minus2 = minus2;
    return s;
}

TEST(Placement, HorizontalPositionCentresWithTheOddPixelLeft) {
    render::RenderedSubtitle r;
    r.box_width = 101;
    r.margin_left = 30;
    r.margin_right = 40;
    r.halign = HAlign::Right;
    EXPECT_EQ(horizontal_position(r, 720), 720 - 40 - 101);
    r.halign = HAlign::Centre;
    EXPECT_EQ(horizontal_position(r, 720), 30 + 275);  // 549 spare: 275 left, 274 right
    r.box_width = 801;                                 // spare -151 >> 1 = -76
    EXPECT_EQ(horizontal_position(r, 720), 720 + 76 - 801 - 40);
}

TEST(Stacking, BottomStacksFromTheFirstMembersMarginHighestPrecedenceOnTop) {
    Scene sc;
    auto& sp = sc.add(0, {{&sc.event(), Box{.h = 40}}, {&sc.event(), Box{.h = 30}}});
    EXPECT_TRUE(stack_subpicture(sp, screen(0)));
    EXPECT_EQ(sc.y(0, 1), 480 - 30 - 30);
    EXPECT_EQ(sc.y(0, 0), 480 - 30 - 40 - 30 - 10);
    EXPECT_EQ(sp.members[0].x, 260);
    EXPECT_FALSE(stack_subpicture(sp, screen(0)));

    auto& prec = sc.add(0, {{&sc.event(1), Box{.h = 40, .s = 5, .bottom = 50}},
                            {&sc.event(5), Box{.h = 30, .s = 5, .bottom = 10}},
                            {&sc.event(1), Box{.top = 20, .va = VAlign::Top}},
                            {&sc.event(5), Box{.h = 30, .top = 99, .va = VAlign::Top}}});
    stack_subpicture(prec, screen(2));
    EXPECT_EQ(sc.y(1, 0), 478 - 50 - 40);
    EXPECT_EQ(sc.y(1, 1), 478 - 50 - 40 - 30 - 5);
    EXPECT_EQ(sc.y(1, 3), 20);  // top: from the first top member's margin
    EXPECT_EQ(sc.y(1, 2), 20 + 30 + 10);
}

TEST(Stacking, AbsoluteAndMiddleSubtitles) {
    Scene sc;
    auto& sp = sc.add(0, {{&sc.event(1), Box{.h = 30}},
                          {&sc.event(9), Box{.h = 40, .bottom = 100, .absolute = true}},
                          {&sc.event(1), Box{.top = 77, .va = VAlign::Top, .absolute = true}},
                          {&sc.event(1), Box{.va = VAlign::Middle, .absolute = true}},
                          {&sc.event(1), Box{.va = VAlign::Middle}},
                          {&sc.event(1), Box{.va = VAlign::Middle}}});
    stack_subpicture(sp, screen(2));
    EXPECT_EQ(sc.y(0, 0), 478 - 30 - 30);  // not pushed by the absolute one
    EXPECT_EQ(sc.y(0, 1), 478 - 100 - 40);
    EXPECT_EQ(sc.y(0, 2), 77);
    EXPECT_EQ(sc.y(0, 3), 30 + (418 >> 1) - 20);  // centred between its own margins
    // a = 30 + 418 / 2 - (100 - 10) / 2 = 194; each moves down by a and its own space.
    EXPECT_EQ(sc.y(0, 4), 0 + 194 + 10);
    EXPECT_EQ(sc.y(0, 5), 50 + 194 + 10);
}

TEST(Stacking, NoHrzCollStacksOnlyEqualAlignmentsAndMargins) {
    Scene sc;
    auto& sp = sc.add(0, {{&sc.event(), Box{.ha = HAlign::Left}},
                          {&sc.event(), Box{.ha = HAlign::Right}},
                          {&sc.event(), Box{.left = 31, .ha = HAlign::Left}},
                          {&sc.event(), std::nullopt}});
    auto s = screen(0);
    s.no_hrz_coll = true;
    stack_subpicture(sp, s);
    EXPECT_EQ(std::vector({sc.y(0, 0), sc.y(0, 1), sc.y(0, 2)}), std::vector({410, 410, 410}));
    EXPECT_EQ(sc.y(0, 3), kUnsetPosition);  // no rendering: left alone
    s.no_hrz_coll = false;
    stack_subpicture(sp, s);
    EXPECT_EQ(std::vector({sc.y(0, 0), sc.y(0, 1), sc.y(0, 2)}), std::vector({310, 360, 410}));
}

// Bottom subtitles A [0, 20) and B [10, 30): subpictures {A}, {A, B}, {B}, {}.
TEST(IntelligentPlacement, TheFirstPlacedKeepsTheBottomForeseeingPlacesTheLaterFirst) {
    for (bool foresee : {false, true}) {
        Scene sc;
        auto& a = sc.event();
        auto& b = sc.event();
        sc.add(0, {{&a, Box{}}});
        sc.add(10, {{&a, Box{}}, {&b, Box{}}});
        sc.add(20, {{&b, Box{}}});
        sc.add(30, {});
        auto s = screen(2);
        s.coll_foresee = foresee;
        place_all(sc.timeline, s);
        const int32_t bottom = 478 - 30 - 40, above = bottom - 50;
        EXPECT_EQ(sc.y(0, 0), foresee ? above : bottom);
        EXPECT_EQ(sc.y(1, 0), foresee ? above : bottom);
        EXPECT_EQ(sc.y(1, 1), foresee ? bottom : above);
        EXPECT_EQ(sc.y(2, 0), foresee ? bottom : above);

        // Placing again changes nothing and stamps no new change id.
        const int64_t id = sc.timeline.subpictures()[1]->change_id;
        place_all(sc.timeline, s);
        EXPECT_EQ(sc.timeline.subpictures()[1]->change_id, id);
        EXPECT_FALSE(place_group(sc.timeline, 1, VAlign::Bottom, PlacementPass::Single, s));
    }
}

// A middle candidate 20 high starts at ((478 - 30) >> 1) + 30 + 2 - 10 = 246.
int32_t middle_against(int32_t obstacle_y, bool absolute = false) {
    Scene sc;
    sc.add(0, {{&sc.placed(obstacle_y),
                Box{.w = 720, .h = 4, .s = 0, .va = VAlign::Top, .absolute = absolute}},
               {&sc.event(1), Box{.h = 20, .s = 0, .va = VAlign::Middle}}});
    place_group(sc.timeline, 0, VAlign::Middle, PlacementPass::Single, screen(2));
    return sc.y(0, 1);
}

TEST(IntelligentPlacement, MiddleTakesTheNearerMoveDownOnATie) {
    EXPECT_EQ(middle_against(254), 258);        // 12 down or 12 up
    EXPECT_EQ(middle_against(255), 235);        // 13 down or 11 up
    EXPECT_EQ(middle_against(254, true), 246);  // absolute subtitles are no obstacles
}

TEST(IntelligentPlacement, ASubtitleThatCannotBeClearedStaysAtItsStart) {
    Scene sc;
    sc.add(0, {{&sc.placed(3), Box{.w = 720, .h = 470, .s = 0, .va = VAlign::Top}},
               {&sc.event(1), Box{}}});
    EXPECT_TRUE(place_group(sc.timeline, 0, VAlign::Bottom, PlacementPass::Single, screen(3)));
    EXPECT_EQ(sc.y(0, 1), (479 - 3) - 30 - 40);
}

TEST(IntelligentPlacement, APlacedSubtitleOfAnotherAlignmentBlocksWhereItWasPlaced) {
    // The middle subtitle's position in the second subpicture is stale when the top subtitle
    // arriving there is placed; it still blocks where it stands.
    Scene sc;
    auto& mid = sc.event();
    const Box mid_box{.h = 40, .s = 0, .va = VAlign::Middle};
    sc.add(0, {{&mid, mid_box}});
    auto& second =
        sc.add(10, {{&mid, mid_box}, {&sc.event(), Box{.h = 20, .top = 250, .va = VAlign::Top}}});
    sc.add(20, {});
    second.members[0].x = second.members[0].y = 0;
    place_all(sc.timeline, screen(2));
    EXPECT_EQ(sc.y(0, 0), 236);
    EXPECT_EQ(sc.y(1, 0), 236);
    EXPECT_EQ(sc.y(1, 1), 236 + 40);
}

TEST(IntelligentPlacement, ManualPositionsComeSecondUnlessCompatible8) {
    for (int32_t compatible : {0, script::compatible::kSinglePlacementPass}) {
        Scene sc;
        auto& manual = sc.event(10);
        manual.user_override.emplace().pos_x = 100;
        sc.add(0, {{&manual, Box{}}, {&sc.event(1), Box{}}});
        auto s = screen(2);
        s.compatible = compatible;
        place_all(sc.timeline, s);
        EXPECT_EQ(sc.y(0, compatible == 0 ? 1 : 0), 408) << compatible;
        EXPECT_EQ(sc.y(0, compatible == 0 ? 0 : 1), 358) << compatible;
    }
}

// The move as defined: shift by the overlap with the first obstacle hit, check the area, repeat.
std::optional<int64_t> move_step_by_step(const std::vector<Rect>& obstacles, Rect box,
                                         Direction dir, int64_t top, int64_t bottom) {
    for (;;) {
        auto hit = std::find_if(obstacles.begin(), obstacles.end(), [&](const Rect& o) {
            return placement_detail::intersects(box, o);
        });
        if (hit == obstacles.end()) {
            return box.top;
        }
        const int64_t d = std::min(box.bottom, hit->bottom) - std::max(box.top, hit->top);
        box.top += dir == Direction::Down ? d : -d;
        box.bottom += dir == Direction::Down ? d : -d;
        if (box.top < top || box.bottom > bottom) {
            return std::nullopt;
        }
    }
}

TEST(Move, TouchingIsNotOverlappingAndTheAreaEdgesAreInclusive) {
    const std::vector<Rect> wall = {{0, 410, 720, 430}};
    const auto s = screen(3);  // area 3 to 479
    const auto move = [&](Rect box, Direction d) {
        return move_clear(wall, box, d, s.area_top(), s.area_bottom());
    };
    EXPECT_EQ(move({0, 430, 10, 900}, Direction::Up), 430);  // touching, even outside the area
    EXPECT_EQ(move({720, 420, 730, 440}, Direction::Up), 420);
    EXPECT_EQ(move({0, 420, 10, 469}, Direction::Down), 430);
    EXPECT_EQ(move({0, 420, 10, 470}, Direction::Down), std::nullopt);
    EXPECT_EQ(move({0, 420, 10, 436}, Direction::Up), 394);
    EXPECT_EQ(move_clear({{0, 20, 720, 40}}, {0, 30, 10, 47}, Direction::Up, 3, 479), 3);
    EXPECT_EQ(move_clear({{0, 20, 720, 40}}, {0, 30, 10, 48}, Direction::Up, 3, 479), std::nullopt);
}

TEST(Move, JumpingPastObstaclesMatchesShiftingStepByStep) {
    std::mt19937 rng(12345);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 20000; ++round) {
        std::vector<Rect> obstacles(pick(0, 6));
        for (auto& o : obstacles) {
            o.left = pick(0, 30);
            o.top = pick(-20, 140);
            o.right = o.left + pick(-2, 30);
            o.bottom = o.top + pick(-2, 60);
        }
        const int64_t top = pick(-10, 130), left = pick(0, 30);
        const Rect box{left, top, left + pick(0, 30), top + pick(0, 40)};
        const int64_t area_top = pick(0, 10), area_bottom = pick(90, 150);
        for (Direction d : {Direction::Up, Direction::Down}) {
            ASSERT_EQ(move_clear(obstacles, box, d, area_top, area_bottom),
                      move_step_by_step(obstacles, box, d, area_top, area_bottom))
                << "round " << round;
        }
    }
}

TEST(Placement, DrawnOriginTakesTheManualPositionAndTheCollisionTop) {
    Scene sc;
    auto& e = sc.event();
    auto& m = sc.add(0, {{&e, Box{.w = 101, .h = 41}}}).members[0];
    m.rendered->collision_top = 3;
    EXPECT_EQ(drawn_origin(m).y, kUnsetPosition);  // not placed: nothing to offset
    m.x = 5;
    m.y = 50;
    auto& manual = e.user_override.emplace();
    manual.pos_y = 200;  // a y alone is not a manual position
    EXPECT_EQ(drawn_origin(m).x, 5);
    EXPECT_EQ(drawn_origin(m).y, 47);
    manual.pos_x = 360;
    manual.snap_x = 1;
    manual.snap_y = 2;
    EXPECT_EQ(drawn_origin(m).x, 310);
    EXPECT_EQ(drawn_origin(m).y, 200 - 41 - 3);
    manual.pos_y = script::UserOverride::kUnsetPosition;  // x alone: the placed y remains
    EXPECT_EQ(drawn_origin(m).y, 47);
}

TEST(Placement, CollisionStatusTexts) {
    // X [0, 10), Y [15, 30), Z [30, 40), V [35, 50).
    Scene sc;
    auto *x = &sc.event(), *y = &sc.event(), *z = &sc.event(), *v = &sc.event();
    sc.add(0, {{x, {}}});
    sc.add(10, {});
    sc.add(15, {{y, {}}});
    sc.add(30, {{z, {}}});
    sc.add(35, {{z, {}}, {v, {}}});
    sc.add(40, {{v, {}}});
    sc.add(50, {});
    const auto texts = [&](int32_t first, int32_t last, const script::DialogueEvent* e) {
        script::FrameTime s, l;
        s.frame = first;
        l.frame = last;
        const auto c = collision_status(sc.timeline, s, l, e);
        return c.before + " / " + c.after;
    };
    EXPECT_EQ(texts(0, 9, x), "Not colliding / 5 frames in between");
    EXPECT_EQ(texts(15, 29, y), "5 frames in between / Contiguous");
    EXPECT_EQ(texts(30, 39, z), "Contiguous / Colliding");
    EXPECT_EQ(texts(35, 49, v), "Colliding / Not colliding");
    EXPECT_EQ(texts(15, 15, y), "Unknown / Unknown");  // one frame
    EXPECT_EQ(texts(15, 29, nullptr), "Unknown / Unknown");
    sc.timeline.subpictures().clear();
    EXPECT_EQ(texts(15, 29, y), "Not colliding / Not colliding");
}

// The canvas is ResX by ResY - Minus2: a box one pixel larger either way cannot fit anywhere.
TEST(Placement, ABoxLargerThanTheCanvasIsCut) {
    Scene sc;
    auto& e = sc.event();
    const PlacementSettings s = screen(2);  // 720 x 478
    auto& sp = sc.add(0, {{&e, Box{.w = 720, .h = 478}},
                          {&e, Box{.w = 721, .h = 10}},
                          {&e, Box{.w = 10, .h = 479}},
                          {&e, std::nullopt}});
    EXPECT_FALSE(box_exceeds_frame(sp.members[0], s));
    EXPECT_TRUE(box_exceeds_frame(sp.members[1], s));
    EXPECT_TRUE(box_exceeds_frame(sp.members[2], s));
    EXPECT_FALSE(box_exceeds_frame(sp.members[3], s));  // not rendered
    EXPECT_FALSE(box_exceeds_frame(sp.members[2], screen(0)));
}

}  // namespace
}  // namespace tessara::timeline
