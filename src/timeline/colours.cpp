#include "timeline/colours.h"

#include <algorithm>
#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/settings.h"

namespace tessara::timeline {

const char* const kPaletteFullFormat =
    "Too many colors for the output palette.\nEither modify the styles used in order to\nreduce "
    "the number of colors needed, or don't\nhonor any other script's palette.\nLast frame "
    "processed is at %s.";

namespace {

using script::Colour;
using script::CSubSegment;
using script::DialogueEvent;

constexpr int32_t kMainRunBonus = 1000;
// Outweighs any precedence: a subtitle that already has colours keeps them.
constexpr int32_t kStickyBonus = 1000000;

// The classes runs are drawn with to show the colour of slot 0, 1 and 2, and no pixels at all.
constexpr uint8_t kSlot0Class = class_of_slot(0);
constexpr uint8_t kSlot1Class = class_of_slot(1);
constexpr uint8_t kSlot2Class = class_of_slot(2);
constexpr uint8_t kNoPixels = render::kBackground;

bool is_colour_override(const CSubSegment& run) {
    return run.override &&
           (run.override->primary || run.override->outline_colour || run.override->antialias);
}

// The first run without a colour override; run 0 when every run has one.
size_t main_run(const std::vector<CSubSegment>& runs) {
    for (size_t i = 0; i < runs.size(); ++i) {
        if (!is_colour_override(runs[i])) {
            return i;
        }
    }
    return 0;
}

// What a run is assigned, to tell whether an assignment changed anything.
struct Assigned {
    Colour text, antialias, outline;
    uint8_t text_class, antialias_class, outline_class;

    explicit Assigned(const CSubSegment& r)
        : text(r.assigned_text),
          antialias(r.assigned_antialias),
          outline(r.assigned_outline),
          text_class(r.text_class),
          antialias_class(r.antialias_class),
          outline_class(r.outline_class) {}
    bool operator==(const Assigned&) const = default;
};

void set_run(CSubSegment& run, Colour text, uint8_t text_class, Colour antialias,
             uint8_t antialias_class, Colour outline, uint8_t outline_class) {
    run.assigned_text = text;
    run.text_class = text_class;
    run.assigned_antialias = antialias;
    run.antialias_class = antialias_class;
    run.assigned_outline = outline;
    run.outline_class = outline_class;
}

}  // namespace

void ColorCandidates::insert(const ColorCandidate& candidate) {
    // The place as an index: growing the list moves it, which leaves an iterator dangling.
    const auto at =
        std::find_if(m_list.begin(), m_list.end(),
                     [&](const ColorCandidate& c) { return c.priority < candidate.priority; }) -
        m_list.begin();
    if (m_list.size() == m_list.capacity()) {
        m_list.reserve(m_list.capacity() + 256);
    }
    m_list.insert(m_list.begin() + at, candidate);
}

bool assign_colours(Subpicture& subpicture, const script::ConversionSettings& settings) {
    ColorCandidates candidates;
    // Whether each member's event keeps the colours it was given earlier in this build; decided
    // before any flag is set here, for every member alike.
    std::vector<bool> sticky(subpicture.members.size());
    for (size_t i = 0; i < subpicture.members.size(); ++i) {
        const DialogueEvent& ev = *subpicture.members[i].event;
        EventWork& work = *subpicture.members[i].work;
        work.take_runs(ev, settings.old_scale());
        sticky[i] = settings.sticky_colors && work.colours_held;
        const int32_t precedence = ev.bound_style != nullptr ? ev.bound_style->priority : 0;
        const size_t main = main_run(work.runs);
        for (size_t r = 0; r < work.runs.size(); ++r) {
            const CSubSegment& run = work.runs[r];
            if (r != main && !is_colour_override(run)) {
                continue;
            }
            ColorCandidate c;
            c.priority = precedence + (r == main ? kMainRunBonus : 0);
            if (sticky[i]) {
                c.priority += kStickyBonus;
                c.text = run.assigned_text;
                c.antialias = run.assigned_antialias;
                c.outline = run.assigned_outline;
            } else {
                c.text = run.text_colour;
                c.antialias = run.antialias_colour;
                c.outline = run.outline_colour;
            }
            candidates.insert(c);
        }
    }
    if (candidates.empty()) {
        return false;
    }

    const std::vector<ColorCandidate>& list = candidates.list();
    const ColorCandidate& head = list.front();
    const Colour m = head.text;
    SubpictureColors colours;
    bool runs_changed = false;

    auto for_each_run = [&](auto&& assign) {
        for (size_t i = 0; i < subpicture.members.size(); ++i) {
            for (CSubSegment& run : subpicture.members[i].work->runs) {
                const Assigned before(run);
                const Colour t = sticky[i] ? run.assigned_text : run.text_colour;
                const Colour o = sticky[i] ? run.assigned_outline : run.outline_colour;
                assign(run, t, o);
                runs_changed = runs_changed || !(Assigned(run) == before);
            }
        }
    };

    switch (settings.colors) {
        case 1: {
            const Colour a = head.antialias;
            const Colour o = head.outline;
            for_each_run([&](CSubSegment& run, Colour, Colour) {
                set_run(run, m, kSlot0Class, a, kSlot1Class, o, kSlot2Class);
            });
            colours = {m, a, o, true};
            break;
        }
        case 3: {
            auto first_other = [&](size_t from, auto&& differs) -> std::pair<Colour, size_t> {
                for (size_t i = from; i < list.size(); ++i) {
                    if (differs(list[i].text)) {
                        return {list[i].text, i};
                    }
                }
                return {m, list.size()};
            };
            // Named values rather than a structured binding: older compilers cannot capture one.
            const std::pair<Colour, size_t> second =
                first_other(0, [&](Colour c) { return c != m; });
            const Colour s = second.first;
            const size_t s_at = second.second;
            const Colour t3 = first_other(s_at, [&](Colour c) { return c != m && c != s; }).first;
            for_each_run([&](CSubSegment& run, Colour t, Colour) {
                Colour text = m;
                uint8_t cls = kSlot0Class;
                if (t == s) {
                    text = s;
                    cls = kSlot1Class;
                } else if (t == t3) {
                    text = t3;
                    cls = kSlot2Class;
                }
                set_run(run, text, cls, text, kNoPixels, text, kNoPixels);
            });
            colours = {m, s, t3, true};
            break;
        }
        default: {
            const Colour o = head.outline;
            Colour s = m;
            for (const ColorCandidate& c : list) {
                if (c.text != m && c.text != o) {
                    s = c.text;
                    break;
                }
            }
            for_each_run([&](CSubSegment& run, Colour t, Colour ol) {
                Colour text = m;
                uint8_t text_class = kSlot0Class;
                if (t == s) {
                    text = s;
                    text_class = kSlot1Class;
                } else if (t == o) {
                    text = o;
                    text_class = kSlot2Class;
                }
                Colour outline = o;
                uint8_t outline_class = kSlot2Class;
                if (ol == s) {
                    outline = s;
                    outline_class = kSlot1Class;
                } else if (ol == m) {
                    outline = m;
                    outline_class = kSlot0Class;
                }
                set_run(run, text, text_class, m, kNoPixels, outline, outline_class);
            });
            colours = {m, s, o, true};
            break;
        }
    }

    for (SubpictureMember& member : subpicture.members) {
        member.work->colours_held = true;
    }
    const bool changed =
        !subpicture.colors.assigned || runs_changed || !subpicture.colors.same_colours(colours);
    subpicture.colors = colours;
    return changed;
}

bool check_palette(const Timeline& timeline, OutputPalette& palette, base::Messages& messages) {
    for (const auto& sp : timeline.subpictures()) {
        if (sp->members.empty()) {
            continue;
        }
        const SubpictureColors& c = sp->colors;
        if (c.assigned && palette.add(c.slot0) && palette.add(c.slot1) && palette.add(c.slot2)) {
            continue;
        }
        std::string text = kPaletteFullFormat;
        const std::string start = base::utf16_to_utf8(script::format_smpte(sp->start, u':'));
        text.replace(text.find("%s"), 2, start);
        messages.error(text);
        return false;
    }
    return true;
}

}  // namespace tessara::timeline
