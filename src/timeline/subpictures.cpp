#include "timeline/subpictures.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/int_math.h"
#include "base/progress.h"
#include "script/script.h"
#include "timeline/colours.h"

namespace tessara::timeline {

const char* const kBuildAllErrorText = "Unknown error at parsed.BuildAll()";

namespace {

using SubpictureList = std::vector<std::unique_ptr<Subpicture>>;

// Whether two subpictures show the same events (as a set: same count, each of `fresh`'s events
// among `old`'s).
bool same_events(const Subpicture& fresh, const Subpicture& old) {
    if (fresh.members.size() != old.members.size()) {
        return false;
    }
    for (const SubpictureMember& m : fresh.members) {
        auto it = std::find_if(old.members.begin(), old.members.end(),
                               [&](const SubpictureMember& o) { return o.event == m.event; });
        if (it == old.members.end()) {
            return false;
        }
    }
    return true;
}

// Keeps old subpictures that match new ones (same start, same events) in their place.
void reuse_old(SubpictureList& fresh, SubpictureList& old) {
    size_t i = 0;
    size_t j = 0;
    while (i < fresh.size() && j < old.size()) {
        Subpicture& n = *fresh[i];
        Subpicture& o = *old[j];
        if (n.start < o.start) {
            ++i;
        } else if (o.start < n.start) {
            ++j;
        } else {
            if (same_events(n, o)) {
                // The timeline indices may have moved (an event entered twice); keep them right.
                for (size_t m = 0; m < o.members.size(); ++m) {
                    if (o.members[m].event == n.members[m].event) {
                        o.members[m].index = n.members[m].index;
                    }
                }
                fresh[i] = std::move(old[j]);
            }
            ++i;
            ++j;
        }
    }
    old.clear();
}

std::vector<uint8_t> class_stamp(const EventWork& work) {
    std::vector<uint8_t> stamp;
    stamp.reserve(work.runs.size() * 3);
    for (const script::CSubSegment& run : work.runs) {
        stamp.push_back(run.text_class);
        stamp.push_back(run.antialias_class);
        stamp.push_back(run.outline_class);
    }
    return stamp;
}

int32_t style_id(const script::DialogueEvent& ev) {
    return ev.bound_style != nullptr ? ev.bound_style->id : 0;
}

// Whether runs hold the classes of a class stamp; compared run by run without building a stamp.
bool same_classes(const std::vector<uint8_t>& stamp, const std::vector<script::CSubSegment>& runs) {
    if (stamp.size() != runs.size() * 3) {
        return false;
    }
    for (size_t r = 0; r < runs.size(); ++r) {
        const script::CSubSegment& run = runs[r];
        if (stamp[3 * r] != run.text_class || stamp[3 * r + 1] != run.antialias_class ||
            stamp[3 * r + 2] != run.outline_class) {
            return false;
        }
    }
    return true;
}

bool needs_rendering(const SubpictureMember& m) {
    const script::DialogueEvent& ev = *m.event;
    if (!m.rendered || m.content_stamp != ev.change_counter || m.style_stamp != style_id(ev)) {
        return true;
    }
    return !same_classes(m.class_stamp, m.work->runs);
}

// An event whose text is empty or only override blocks has no runs: there is nothing to draw,
// so it neither cuts the frames into subpictures nor joins one, and the others come out exactly
// as they would without it. An event with runs that fail to render is a failure of the build.
bool draws_something(const TimedSubtitle& ts) {
    return !ts.event->runs.empty();
}

bool holds_subtitle(const Subpicture& sp, int32_t subtitle) {
    return std::any_of(sp.members.begin(), sp.members.end(),
                       [&](const SubpictureMember& m) { return m.index == subtitle; });
}

// BuildAll and its preview variant. `shown` is null for BuildAll.
bool build_all(Timeline& timeline, BuildContext& ctx, int32_t subtitle, int32_t* shown) {
    SubpictureList& sps = timeline.subpictures();
    if (sps.empty()) {
        return true;
    }
    ctx.fonts.clear();
    for (const TimedSubtitle& ts : timeline.subtitles()) {
        ts.work->colours_held = false;
    }

    const auto count = static_cast<int32_t>(sps.size());
    base::Progress* progress = ctx.progress;
    if (progress != nullptr) {
        progress->set_range(0, shown != nullptr ? 1000 : count);
        progress->set_position(0);
    }

    int32_t found = -1;
    auto show_found = [&] {
        if (shown != nullptr && found >= 0) {
            *shown = found;
        }
    };

    for (int32_t k = 0; k < count; ++k) {
        if (progress != nullptr && shown != nullptr) {
            progress->set_position(base::muldiv_round(k, 1000, count));
        }
        Subpicture& sp = *sps[static_cast<size_t>(k)];
        if (!sp.members.empty()) {
            if (found < 0 && holds_subtitle(sp, subtitle)) {
                found = k;
            }
            bool changed = assign_colours(sp, ctx.settings);

            for (SubpictureMember& m : sp.members) {
                if (!needs_rendering(m)) {
                    continue;
                }
                m.rendered.reset();
                auto rendered = std::make_unique<render::RenderedSubtitle>();
                ++ctx.renderings;
                if (!render::layout_subtitle(*m.event, m.work->runs, ctx.layout, ctx.fonts,
                                             ctx.messages, *rendered)) {
                    for (SubpictureMember& other : sp.members) {
                        other.rendered.reset();
                    }
                    ctx.fonts.clear();
                    timeline.cursor = -1;
                    show_found();
                    return false;
                }
                m.rendered = std::move(rendered);
                m.content_stamp = m.event->change_counter;
                m.style_stamp = style_id(*m.event);
                m.class_stamp = class_stamp(*m.work);
                m.x = kUnsetPosition;
                m.y = kUnsetPosition;
                changed = true;
            }

            if (!ctx.settings.intell_coll && stack_subpicture(sp, ctx.placement)) {
                changed = true;
            }
            if (changed) {
                sp.change_id = next_change_id();
            }
        }
        if (progress != nullptr) {
            progress->step(1);
            // Lets the display catch up; building itself cannot be cancelled.
            (void)progress->keep_going();
        }
    }

    if (ctx.settings.intell_coll) {
        place_all(timeline, ctx.placement);
    }

    ctx.fonts.clear();
    int32_t sequence = 0;
    for (auto& sp : sps) {
        sp->sequence = sp->members.empty() ? 0 : ++sequence;
    }
    timeline.cursor = -1;
    show_found();
    return true;
}

}  // namespace

BuildContext::BuildContext(const script::Script& script, render::FontCache& fonts_,
                           base::Messages& messages_, base::Progress* progress_)
    : settings(script.settings),
      layout(render::LayoutSettings::from_script(script)),
      placement(PlacementSettings::from(script.settings)),
      fonts(fonts_),
      messages(messages_),
      progress(progress_) {}

bool build_subpictures(Timeline& timeline, bool reuse) {
    SubpictureList old = std::move(timeline.subpictures());
    SubpictureList& fresh = timeline.subpictures();
    fresh.clear();
    const std::vector<TimedSubtitle>& subs = timeline.subtitles();

    std::vector<int32_t> bounds;
    bounds.reserve(subs.size() * 2);
    const TimedSubtitle* first_drawn = nullptr;
    for (const TimedSubtitle& ts : subs) {
        if (!draws_something(ts)) {
            continue;
        }
        if (first_drawn == nullptr) {
            first_drawn = &ts;
        }
        bounds.push_back(ts.start.frame);
        bounds.push_back(ts.stop.frame);
    }
    if (first_drawn == nullptr) {
        return false;
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

    // Every subpicture counts frames like the subtitles do.
    const script::FrameTime like = first_drawn->start;
    fresh.reserve(bounds.size());
    for (int32_t b : bounds) {
        auto sp = std::make_unique<Subpicture>();
        sp->start = like;
        sp->start.frame = b;
        sp->change_id = next_change_id();
        fresh.push_back(std::move(sp));
    }

    for (size_t i = 0; i < subs.size(); ++i) {
        const TimedSubtitle& ts = subs[i];
        if (!draws_something(ts)) {
            continue;
        }
        auto first = std::lower_bound(bounds.begin(), bounds.end(), ts.start.frame);
        auto last = std::lower_bound(bounds.begin(), bounds.end(), ts.stop.frame);
        for (auto b = first; b < last; ++b) {
            SubpictureMember m;
            m.event = ts.event;
            m.work = ts.work;
            m.index = static_cast<int32_t>(i);
            fresh[static_cast<size_t>(b - bounds.begin())]->members.push_back(std::move(m));
        }
    }

    if (reuse) {
        reuse_old(fresh, old);
    }
    timeline.cursor = -1;
    return true;
}

bool BuildAll(Timeline& timeline, BuildContext& context) {
    return build_all(timeline, context, -1, nullptr);
}

bool Rebuild(Timeline& timeline, BuildContext& context, int32_t subtitle, int32_t& shown) {
    return build_all(timeline, context, subtitle, &shown);
}

namespace {

// Draws one rendering's segments with the subtitle box at `origin`.
void compose_rendering(const render::RenderedSubtitle& rendered, Point origin,
                       render::SubpictureCanvas& canvas, bool generate_bitmaps) {
    // A member that was never placed sits at the largest coordinate; the sum must not wrap
    // around onto the canvas.
    auto at = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    for (const render::RenderedSegment& seg : rendered.segments) {
        if (seg.tab) {
            continue;
        }
        canvas.compose(seg.classes, seg.width, seg.height, at(int64_t{origin.x} + seg.x),
                       at(int64_t{origin.y} + seg.y), false, generate_bitmaps);
    }
}

// Whether two renderings of one subtitle put the same boxes in the same places.
bool same_layout(const render::RenderedSubtitle& a, const render::RenderedSubtitle& b) {
    if (a.segments.size() != b.segments.size() || a.box_width != b.box_width ||
        a.box_height != b.box_height) {
        return false;
    }
    for (size_t i = 0; i < a.segments.size(); ++i) {
        const render::RenderedSegment& s = a.segments[i];
        const render::RenderedSegment& t = b.segments[i];
        if (s.x != t.x || s.y != t.y || s.width != t.width || s.height != t.height ||
            s.tab != t.tab) {
            return false;
        }
    }
    return true;
}

}  // namespace

void compose(const Subpicture& subpicture, render::SubpictureCanvas& canvas,
             bool generate_bitmaps) {
    canvas.clear();
    for (const SubpictureMember& m : subpicture.members) {
        if (m.rendered) {
            compose_rendering(*m.rendered, drawn_origin(m), canvas, generate_bitmaps);
        }
    }
}

void compose(const Subpicture& subpicture, std::span<const render::RenderedSubtitle* const> drawn,
             render::SubpictureCanvas& canvas) {
    canvas.clear();
    const size_t n = std::min(drawn.size(), subpicture.members.size());
    for (size_t i = 0; i < n; ++i) {
        const SubpictureMember& m = subpicture.members[i];
        if (m.rendered && drawn[i] != nullptr) {
            compose_rendering(*drawn[i], drawn_origin(m), canvas, true);
        }
    }
}

bool render_member_pixels(const SubpictureMember& member, const render::LayoutSettings& layout,
                          render::FontCache& fonts, base::Messages& messages,
                          render::RenderedSubtitle& out) {
    const std::vector<script::CSubSegment>& runs = member.work->runs;
    if (!member.rendered || member.class_stamp.size() != runs.size() * 3) {
        return false;
    }
    bool ok = false;
    if (same_classes(member.class_stamp, runs)) {
        ok = render::layout_subtitle(*member.event, runs, layout, fonts, messages, out);
    } else {
        // The classes were changed by a later subpicture's colours: draw a copy of the runs
        // with the ones this member was built with.
        std::vector<script::CSubSegment> copy = runs;
        for (size_t r = 0; r < copy.size(); ++r) {
            copy[r].text_class = member.class_stamp[3 * r];
            copy[r].antialias_class = member.class_stamp[3 * r + 1];
            copy[r].outline_class = member.class_stamp[3 * r + 2];
        }
        ok = render::layout_subtitle(*member.event, copy, layout, fonts, messages, out);
    }
    return ok && same_layout(*member.rendered, out);
}

}  // namespace tessara::timeline
