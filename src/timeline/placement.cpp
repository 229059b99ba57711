#include "timeline/placement.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "script/compatible.h"
#include "script/script.h"

namespace tessara::timeline {

namespace {

using placement_detail::Direction;
using placement_detail::Rect;

// A computed coordinate as stored on a member: clamped into 32 bits, and never equal to the
// value that marks a position as unset.
int32_t to_position(int64_t v) {
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = int64_t{kUnsetPosition} - 1;
    return static_cast<int32_t>(std::clamp(v, lo, hi));
}

// A style's precedence; a subtitle without a bound style ranks below every style.
int32_t precedence(const SubpictureMember& m) {
    return m.event != nullptr && m.event->bound_style != nullptr ? m.event->bound_style->priority
                                                                 : 0;
}

// Vertical alignment with anything out of range read as bottom, the default alignment.
script::VAlign vertical(const render::RenderedSubtitle& r) {
    switch (r.valign) {
        case script::VAlign::Top:
            return script::VAlign::Top;
        case script::VAlign::Middle:
            return script::VAlign::Middle;
        default:
            return script::VAlign::Bottom;
    }
}

// Highest precedence first; equal precedences keep their order. This is the order of a bubble
// sort that swaps neighbours only when the first has the strictly lower precedence.
void sort_by_precedence(const Subpicture& sp, std::vector<size_t>& indices) {
    std::stable_sort(indices.begin(), indices.end(), [&](size_t a, size_t b) {
        return precedence(sp.members[a]) > precedence(sp.members[b]);
    });
}

// The box a placed subtitle occupies, with the space kept below it.
Rect box_at(const render::RenderedSubtitle& r, int64_t x, int64_t y) {
    return Rect{x, y, x + r.box_width, y + int64_t{r.box_height} + int64_t{r.trailing_line_space}};
}

// ---- Stacking ----

// The new y of every member of `order` (sorted by precedence), indexed like `order`.
// `first` is the group's first member of this alignment in member order.
std::vector<int64_t> stack_bottom(const Subpicture& sp, const std::vector<size_t>& order,
                                  size_t first, int64_t hs) {
    std::vector<int64_t> y(order.size());
    const int64_t base = hs - sp.members[first].rendered->margin_bottom;
    for (size_t j = 0; j < order.size(); ++j) {
        const auto& r = *sp.members[order[j]].rendered;
        if (r.absolute) {
            y[j] = hs - r.margin_bottom - r.box_height;
            continue;
        }
        // The newcomer goes to the base; everything already stacked moves up over it, each
        // keeping its own trailing space below it.
        y[j] = base - r.box_height;
        for (size_t i = 0; i < j; ++i) {
            const auto& above = *sp.members[order[i]].rendered;
            if (!above.absolute) {
                y[i] -= int64_t{r.box_height} + above.trailing_line_space;
            }
        }
    }
    return y;
}

std::vector<int64_t> stack_top(const Subpicture& sp, const std::vector<size_t>& order,
                               size_t first) {
    std::vector<int64_t> y(order.size());
    int64_t f = sp.members[first].rendered->margin_top;
    for (size_t j = 0; j < order.size(); ++j) {
        const auto& r = *sp.members[order[j]].rendered;
        if (r.absolute) {
            y[j] = r.margin_top;
            continue;
        }
        y[j] = f;
        f += int64_t{r.trailing_line_space} + r.box_height;
    }
    return y;
}

std::vector<int64_t> stack_middle(const Subpicture& sp, const std::vector<size_t>& order,
                                  int64_t hs) {
    std::vector<int64_t> y(order.size());
    int64_t f = 0;
    for (size_t j = 0; j < order.size(); ++j) {
        const auto& r = *sp.members[order[j]].rendered;
        if (r.absolute) {
            // Centred in the band between its own top and bottom margins.
            const int64_t band = hs - r.margin_top - r.margin_bottom;
            y[j] = r.margin_top + (band >> 1) - (r.box_height >> 1);
            continue;
        }
        y[j] = f;
        f += int64_t{r.trailing_line_space} + r.box_height;
    }
    // Centre the stack (without the last trailing space) between the margins of the first.
    const auto& first = *sp.members[order.front()].rendered;
    const auto& last = *sp.members[order.back()].rendered;
    const int64_t a = first.margin_top + (hs - first.margin_bottom - first.margin_top) / 2 -
                      (f - last.trailing_line_space) / 2;
    for (size_t j = 0; j < order.size(); ++j) {
        const auto& r = *sp.members[order[j]].rendered;
        if (!r.absolute) {
            y[j] += a + r.trailing_line_space;
        }
    }
    return y;
}

// Stacks one group of members (indices in member order) into `new_y`.
void stack_group(const Subpicture& sp, const std::vector<size_t>& group, int64_t hs,
                 std::vector<int64_t>& new_y) {
    for (script::VAlign v : {script::VAlign::Bottom, script::VAlign::Top, script::VAlign::Middle}) {
        std::vector<size_t> order;
        for (size_t i : group) {
            if (vertical(*sp.members[i].rendered) == v) {
                order.push_back(i);
            }
        }
        if (order.empty()) {
            continue;
        }
        const size_t first = order.front();
        sort_by_precedence(sp, order);
        std::vector<int64_t> y;
        switch (v) {
            case script::VAlign::Bottom:
                y = stack_bottom(sp, order, first, hs);
                break;
            case script::VAlign::Top:
                y = stack_top(sp, order, first);
                break;
            case script::VAlign::Middle:
                y = stack_middle(sp, order, hs);
                break;
        }
        for (size_t j = 0; j < order.size(); ++j) {
            new_y[order[j]] = y[j];
        }
    }
}

// ---- Intelligent placement ----

bool kept_by_pass(const SubpictureMember& m, PlacementPass pass) {
    const bool manual = m.event->user_override.has_value() &&
                        m.event->user_override->pos_x != script::UserOverride::kUnsetPosition;
    switch (pass) {
        case PlacementPass::Automatic:
            return !manual;
        case PlacementPass::Manual:
            return manual;
        case PlacementPass::Single:
            break;
    }
    return true;
}

// Where a candidate starts before it is moved out of the way of the others.
int64_t start_position(const render::RenderedSubtitle& r, script::VAlign v,
                       const PlacementSettings& settings) {
    const int64_t ha = settings.area_height();
    switch (v) {
        case script::VAlign::Top:
            return r.margin_top;
        case script::VAlign::Middle:
            return ((ha - r.margin_top) >> 1) + r.margin_top + settings.area_top() -
                   (r.collision_height >> 1);
        case script::VAlign::Bottom:
            break;
    }
    return ha - r.margin_bottom - r.collision_height;
}

// The final y of a candidate starting at y0: the preferred direction first, the other when that
// fails; middle subtitles take the nearer of the two, down on a tie. A subtitle that cannot be
// cleared stays at y0 and overlaps.
int64_t resolve(const std::vector<Rect>& obstacles, const Rect& box, script::VAlign v,
                const PlacementSettings& settings) {
    const int64_t top = settings.area_top();
    const int64_t bottom = settings.area_bottom();
    const auto move = [&](Direction d) {
        return placement_detail::move_clear(obstacles, box, d, top, bottom);
    };
    const int64_t y0 = box.top;
    switch (v) {
        case script::VAlign::Top: {
            if (auto y = move(Direction::Down)) {
                return *y;
            }
            return move(Direction::Up).value_or(y0);
        }
        case script::VAlign::Middle: {
            const auto down = move(Direction::Down);
            const auto up = move(Direction::Up);
            if (down && up) {
                return *down - y0 <= y0 - *up ? *down : *up;
            }
            return down ? *down : up.value_or(y0);
        }
        case script::VAlign::Bottom:
            break;
    }
    if (auto y = move(Direction::Up)) {
        return *y;
    }
    return move(Direction::Down).value_or(y0);
}

std::string frames_between(int64_t n) {
    return std::to_string(n) + " frames in between";
}

}  // namespace

PlacementSettings PlacementSettings::from(const script::ConversionSettings& s) {
    PlacementSettings p;
    p.res_x = s.res_x;
    p.res_y = s.res_y;
    p.minus2 = s.minus2;
    p.no_hrz_coll = s.no_hrz_coll;
    p.intell_coll = s.intell_coll;
    p.coll_foresee = s.coll_foresee;
    p.compatible = s.compatible;
    return p;
}

int32_t horizontal_position(const render::RenderedSubtitle& sub, int32_t frame_width) {
    const int64_t w = sub.box_width;
    const int64_t frame = frame_width;
    const int64_t left = sub.margin_left;
    const int64_t right = sub.margin_right;
    switch (sub.halign) {
        case script::HAlign::Left:
            return to_position(left);
        case script::HAlign::Right:
            return to_position(frame - right - w);
        default:
            break;
    }
    // Centred between the margins; an odd leftover pixel goes to the left side.
    return to_position(frame - ((frame - left - w - right) >> 1) - w - right);
}

bool stack_subpicture(Subpicture& sp, const PlacementSettings& settings) {
    // Groups of rendered members, each in member order.
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < sp.members.size(); ++i) {
        const auto* r = sp.members[i].rendered.get();
        if (r == nullptr) {
            continue;
        }
        auto same_group = [&](const std::vector<size_t>& g) {
            if (!settings.no_hrz_coll) {
                return true;
            }
            const auto& o = *sp.members[g.front()].rendered;
            return o.halign == r->halign && o.margin_left == r->margin_left &&
                   o.margin_right == r->margin_right;
        };
        auto it = std::find_if(groups.begin(), groups.end(), same_group);
        if (it == groups.end()) {
            groups.push_back({i});
        } else {
            it->push_back(i);
        }
    }

    std::vector<int64_t> new_y(sp.members.size(), 0);
    for (const auto& group : groups) {
        stack_group(sp, group, settings.stack_height(), new_y);
    }

    bool changed = false;
    for (size_t i = 0; i < sp.members.size(); ++i) {
        auto& m = sp.members[i];
        if (!m.rendered) {
            continue;
        }
        const int32_t x = horizontal_position(*m.rendered, settings.res_x);
        const int32_t y = to_position(new_y[i]);
        if (m.x != x || m.y != y) {
            changed = true;
            m.x = x;
            m.y = y;
        }
    }
    return changed;
}

bool place_group(Timeline& timeline, size_t subpicture_index, script::VAlign valign,
                 PlacementPass pass, const PlacementSettings& settings) {
    auto& subpictures = timeline.subpictures();
    if (subpicture_index >= subpictures.size() || !subpictures[subpicture_index]) {
        return false;
    }
    Subpicture& sp = *subpictures[subpicture_index];
    bool changed = false;
    const auto set_position = [&](SubpictureMember& m, int32_t x, int32_t y) {
        if (m.x != x || m.y != y) {
            changed = true;
            m.x = x;
            m.y = y;
        }
    };

    // Members without a rendering have no box, and members without a work record nowhere to
    // keep their place; neither takes part.
    const auto takes_part = [](const SubpictureMember& m) {
        return m.rendered != nullptr && m.event != nullptr && m.work != nullptr;
    };

    // Subtitles already placed keep their place; the others (and absolute ones, which are
    // always positioned from their own margins) are the candidates.
    std::vector<size_t> candidates;
    for (size_t i = 0; i < sp.members.size(); ++i) {
        auto& m = sp.members[i];
        if (!takes_part(m) || vertical(*m.rendered) != valign) {
            continue;
        }
        if (!m.work->placed || m.rendered->absolute) {
            if (kept_by_pass(m, pass)) {
                candidates.push_back(i);
            }
        } else {
            set_position(m, m.work->placed_x, m.work->placed_y);
        }
    }

    if (!candidates.empty()) {
        sort_by_precedence(sp, candidates);

        // Every placed, non-absolute subtitle of the subpicture is an obstacle, whatever its
        // alignment. Its box stands at its event's placed position: that is where it is shown,
        // since a placed subtitle only ever takes that position. The member's own (x, y) would
        // not do for another alignment whose group has not been handled in this subpicture yet:
        // it is still unset, or left over from an earlier build.
        std::vector<Rect> obstacles;
        for (const auto& m : sp.members) {
            if (takes_part(m) && m.work->placed && !m.rendered->absolute) {
                obstacles.push_back(box_at(*m.rendered, m.work->placed_x, m.work->placed_y));
            }
        }

        for (size_t i : candidates) {
            auto& m = sp.members[i];
            const auto& r = *m.rendered;
            const int32_t x = horizontal_position(r, settings.res_x);
            const int32_t y0 = to_position(start_position(r, valign, settings));
            const int32_t y = to_position(resolve(obstacles, box_at(r, x, y0), valign, settings));
            obstacles.push_back(box_at(r, x, y));
            set_position(m, x, y);
            m.work->placed_x = x;
            m.work->placed_y = y;
            m.work->placed = true;
        }
    }

    if (changed) {
        sp.change_id = next_change_id();
    }
    return changed;
}

void place_all(Timeline& timeline, const PlacementSettings& settings) {
    for (auto& t : timeline.subtitles()) {
        if (t.work != nullptr) {
            t.work->placed = false;
        }
    }
    auto& subpictures = timeline.subpictures();
    for (auto& sp : subpictures) {
        if (sp) {
            for (auto& m : sp->members) {
                if (m.work != nullptr) {
                    m.work->placed = false;
                }
            }
        }
    }

    std::vector<PlacementPass> passes = {PlacementPass::Automatic, PlacementPass::Manual};
    if ((settings.compatible & script::compatible::kSinglePlacementPass) != 0) {
        passes = {PlacementPass::Single};
    }
    const size_t n = subpictures.size();
    for (PlacementPass pass : passes) {
        // Looking ahead, bottom subtitles are placed from the end backwards, so that one that
        // appears first makes room below itself for one that joins it later.
        if (settings.coll_foresee) {
            for (size_t i = n; i-- > 0;) {
                place_group(timeline, i, script::VAlign::Bottom, pass, settings);
            }
        }
        for (size_t i = 0; i < n; ++i) {
            if (!settings.coll_foresee) {
                place_group(timeline, i, script::VAlign::Bottom, pass, settings);
            }
            place_group(timeline, i, script::VAlign::Top, pass, settings);
            place_group(timeline, i, script::VAlign::Middle, pass, settings);
        }
    }
}

bool box_exceeds_frame(const SubpictureMember& member, const PlacementSettings& settings) {
    return member.rendered && (member.rendered->box_width > settings.res_x ||
                               member.rendered->box_height > settings.stack_height());
}

Point drawn_origin(const SubpictureMember& m) {
    Point p{m.x, m.y};
    if (!m.rendered) {
        return p;
    }
    const auto& r = *m.rendered;
    const auto anchored = [](int32_t pos, int32_t snap, int32_t size) {
        switch (snap) {
            case 1:
                return to_position(int64_t{pos} - (size >> 1));
            case 2:
                return to_position(int64_t{pos} - size);
            default:
                return pos;
        }
    };
    const auto* manual = m.event != nullptr && m.event->user_override.has_value()
                             ? &*m.event->user_override
                             : nullptr;
    if (manual != nullptr && manual->pos_x != script::UserOverride::kUnsetPosition) {
        p.x = anchored(manual->pos_x, manual->snap_x, r.box_width);
        // A manual x without a manual y keeps the placed y.
        if (manual->pos_y != script::UserOverride::kUnsetPosition) {
            p.y = anchored(manual->pos_y, manual->snap_y, r.box_height);
        }
    }
    if (p.y != kUnsetPosition) {
        p.y = to_position(int64_t{p.y} - r.collision_top);
    }
    return p;
}

CollisionStatus collision_status(const Timeline& timeline, script::FrameTime start,
                                 script::FrameTime last_visible,
                                 const script::DialogueEvent* event) {
    CollisionStatus status{"Unknown", "Unknown"};
    if (event == nullptr || !start.is_set() || !last_visible.is_set() || start >= last_visible) {
        return status;
    }
    const auto& sps = timeline.subpictures();
    const size_t n = sps.size();
    const int64_t s = start.frame;
    const int64_t e = last_visible.frame;
    const auto begins = [&](size_t k) { return int64_t{sps[k]->start.frame}; };
    const auto has_others = [&](size_t k) {
        return std::any_of(sps[k]->members.begin(), sps[k]->members.end(),
                           [&](const SubpictureMember& m) { return m.event != event; });
    };
    // The first subpicture at or after `from` that starts later than `frame`; n for none.
    const auto first_later = [&](size_t from, int64_t frame) {
        size_t k = from;
        while (k < n && begins(k) <= frame) {
            ++k;
        }
        return k;
    };

    // Before: the subpicture holding the first frame, then the nearest earlier one with
    // another subtitle.
    const size_t i = first_later(0, s);
    if (i == 0 || i == n) {
        status.before = "Not colliding";
    } else if (has_others(i - 1)) {
        status.before = "Colliding";
    } else {
        status.before = "Not colliding";
        for (size_t k = i - 1; k-- > 0;) {
            if (has_others(k)) {
                const int64_t t = begins(k + 1);
                status.before = t == s ? "Contiguous" : frames_between(s - t);
                break;
            }
        }
    }

    // After: the subpicture holding the last frame, then the nearest later one with another
    // subtitle.
    const size_t m = i != 0 && i < n ? i - 1 : i;
    const size_t after = first_later(m, e);
    if (after == 0 || after == n) {
        status.after = "Not colliding";
    } else if (has_others(after - 1)) {
        status.after = "Colliding";
    } else {
        status.after = "Not colliding";
        for (size_t k = after; k < n; ++k) {
            if (has_others(k)) {
                const int64_t t = begins(k);
                status.after = t == e + 1 ? "Contiguous" : frames_between(t - e - 1);
                break;
            }
        }
    }
    return status;
}

namespace placement_detail {

bool intersects(const Rect& a, const Rect& b) {
    return std::max(a.left, b.left) < std::min(a.right, b.right) &&
           std::max(a.top, b.top) < std::min(a.bottom, b.bottom);
}

// The move is defined step by step: at the first obstacle (in order) that the box overlaps, the
// box is shifted by the height of the overlap in the given direction, the move fails when the
// box has left the area, and the search restarts from the first obstacle.
//
// Because the direction never changes, the box only ever travels one way, each shift by at
// least one pixel, so there is no ping-pong. Two more facts let the walk be done in at most one
// jump per obstacle instead of pixel-sized shifts (an obstacle much taller than the box would
// otherwise take many small steps to pass):
// - A shift never skips a free position: every position between the box's old top and its new
//   one still overlaps the obstacle that caused the shift. So the walk ends at the first free
//   position in the direction of travel, and clearing an overlapped obstacle in one jump (to
//   sit flush against its far side) reaches the same place.
// - Travel is monotonic, so the box leaves the area on the far side at some step exactly when
//   it is outside at the end, and it is outside on the near side at some step exactly when it
//   is after the first shift. That first shift is therefore made exactly as defined.
// Once the box has been cleared past an obstacle it never meets it again, so the loop below
// makes at most one jump per obstacle.
std::optional<int64_t> move_clear(const std::vector<Rect>& obstacles, Rect box, Direction dir,
                                  int64_t area_top, int64_t area_bottom) {
    const auto first_hit = [&]() -> const Rect* {
        for (const auto& o : obstacles) {
            if (intersects(box, o)) {
                return &o;
            }
        }
        return nullptr;
    };
    const int64_t height = box.bottom - box.top;
    const auto move_to = [&](int64_t top) {
        box.top = top;
        box.bottom = top + height;
        return box.top >= area_top && box.bottom <= area_bottom;
    };

    const Rect* hit = first_hit();
    if (hit == nullptr) {
        return box.top;
    }
    const int64_t overlap = std::min(box.bottom, hit->bottom) - std::max(box.top, hit->top);
    if (!move_to(dir == Direction::Down ? box.top + overlap : box.top - overlap)) {
        return std::nullopt;
    }
    for (size_t jumps = 0; jumps <= obstacles.size(); ++jumps) {
        hit = first_hit();
        if (hit == nullptr) {
            return box.top;
        }
        if (!move_to(dir == Direction::Down ? hit->bottom : hit->top - height)) {
            return std::nullopt;
        }
    }
    return std::nullopt;  // not reached: each obstacle causes at most one jump
}

}  // namespace placement_detail

}  // namespace tessara::timeline
