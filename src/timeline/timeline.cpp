#include "timeline/timeline.h"

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "base/text.h"
#include "script/script.h"
#include "script/script_edit.h"
#include "script/settings.h"
#include "timeline/subpictures.h"

namespace tessara::timeline {

const char* const kNegativeSpanFormat =
    "Subtitle removed due to negative time span: %s --> %s\nThis may be due to misuse of "
    "ABSOLUTEIN or ABSOLUTEOUT tags.\nText line is:\n\n%s";
const char* const kScriptLineSuffix = "\n\nSSA Script line is:\n";

namespace {

std::atomic<int64_t> g_change_counter{0};

// Replaces each "%s" of the format, left to right, by the next argument. Arguments are not
// scanned again, so a "%s" inside a subtitle's text stays as it is.
std::string substitute(std::string_view format, std::initializer_list<std::string> args) {
    std::string out;
    auto arg = args.begin();
    size_t from = 0;
    for (size_t p = format.find("%s"); p != std::string_view::npos && arg != args.end();
         p = format.find("%s", from)) {
        out.append(format.substr(from, p - from));
        out.append(*arg++);
        from = p + 2;
    }
    out.append(format.substr(from));
    return out;
}

bool has_absolute(const script::DialogueEvent& ev) {
    return ev.user_override && ev.user_override->has_absolute();
}

}  // namespace

int64_t next_change_id() {
    return ++g_change_counter;
}

void EventWork::take_runs(const script::DialogueEvent& event, bool old_scale) {
    if (!taken || content_stamp != event.change_counter) {
        runs = event.runs;
        content_stamp = event.change_counter;
        style_stamp = event.bound_style_id;
        taken = true;
    }
    if (event.bound_style != nullptr && event.bound_style->id != style_stamp) {
        script::fill_run_colours(runs, *event.bound_style, old_scale);
        style_stamp = event.bound_style->id;
    }
}

void Timeline::clear() {
    m_subpictures.clear();
    m_subtitles.clear();
    m_subtitles.shrink_to_fit();
    m_work.clear();
    cursor = -1;
}

EventWork& Timeline::work_for(const script::DialogueEvent& event) {
    std::unique_ptr<EventWork>& work = m_work[&event];
    if (!work) {
        work = std::make_unique<EventWork>();
    }
    return *work;
}

int32_t Timeline::add(script::DialogueEvent& event, const script::ConversionSettings& settings,
                      const std::optional<script::ScriptTime>& source_offset,
                      const std::optional<script::ScriptTime>& destination_offset,
                      base::Messages& messages) {
    const script::TimingSettings& timing = settings.timing;
    const script::UserOverride* uo = event.user_override ? &*event.user_override : nullptr;

    script::FrameTime start = uo != nullptr && uo->absolute_in
                                  ? script::frame_time_from_script_time(*uo->absolute_in, timing)
                                  : script::frame_time_from_script_time(
                                        event.start, timing, source_offset, destination_offset);
    script::FrameTime stop;
    if (uo != nullptr && uo->absolute_out) {
        stop = script::frame_time_from_script_time(*uo->absolute_out, timing);
        // ABSOLUTEOUT names the last visible frame; the stop is the one after it.
        if (stop.is_set() && stop.frame < INT32_MAX) {
            ++stop;
        }
    } else {
        stop = script::frame_time_from_script_time(event.end, timing, source_offset,
                                                   destination_offset);
    }

    if (!start.is_set() || !stop.is_set() || start >= stop) {
        script::FrameTime last = stop;
        if (last.is_set()) {
            --last;
        }
        std::string text =
            substitute(kNegativeSpanFormat, {base::utf16_to_utf8(script::format_smpte(start, u':')),
                                             base::utf16_to_utf8(script::format_smpte(last, u':')),
                                             base::utf16_to_utf8(event.plain_text)});
        if (event.line != nullptr) {
            text += kScriptLineSuffix;
            text += base::utf16_to_utf8(event.line->text);
        }
        messages.warn(text);
        return -1;
    }

    if (m_subtitles.size() == m_subtitles.capacity()) {
        m_subtitles.reserve(m_subtitles.capacity() + kGrowth);
    }
    m_subtitles.push_back({&event, &work_for(event), start, stop});
    return static_cast<int32_t>(m_subtitles.size() - 1);
}

void Timeline::fill(script::Script& script, base::Messages& messages) {
    fill(script, script.settings, messages);
}

void Timeline::fill(script::Script& script, const script::ConversionSettings& settings,
                    base::Messages& messages) {
    static const std::vector<script::LegacySegment> kWholeScript(1);
    const std::vector<script::LegacySegment>& segments =
        settings.legacy_segments.empty() ? kWholeScript : settings.legacy_segments;
    for (const script::LegacySegment& seg : segments) {
        for (const auto& ev : script.events()) {
            // The stored values are compared as they are, whatever their form.
            if (seg.start && ev->start.value < seg.start->value) {
                continue;
            }
            if (seg.stop && ev->end.value > seg.stop->value) {
                continue;
            }
            add(*ev, settings, seg.src_pos, seg.dst_pos, messages);
        }
    }
}

bool Timeline::retime(int32_t index, script::FrameTime start, script::FrameTime stop,
                      script::Script& script, BuildContext& context, int32_t& shown) {
    if (index < 0 || static_cast<size_t>(index) >= m_subtitles.size() || !start.is_set() ||
        !stop.is_set() || start >= stop) {
        return false;
    }
    TimedSubtitle& a = m_subtitles[static_cast<size_t>(index)];
    a.start = start;
    a.stop = stop;

    // Detach: keep one empty frame between the retimed subtitle, shown alone, and the lone
    // subtitle that follows it. The subpictures are still those the preview showed.
    const auto& sps = m_subpictures;
    const auto k = static_cast<size_t>(shown);
    auto lone = [&](size_t i) { return i < sps.size() && sps[i]->members.size() == 1; };
    if (script.settings.auto_detach && shown >= 0 && lone(k) &&
        sps[k]->members.front().index == index && !has_absolute(*a.event) && k + 1 < sps.size() &&
        sps[k + 1]->members.size() <= 1) {
        size_t n = k + 1;
        if (sps[n]->members.empty()) {
            n = k + 2;
            if (!lone(n) || sps[n]->start.frame != sps[k + 1]->start.frame + 1) {
                n = sps.size();
            }
        }
        if (n + 1 < sps.size()) {
            const SubpictureMember& next = sps[n]->members.front();
            script::DialogueEvent& ev = *next.event;
            // A blinking line's pieces are not its times: rewriting its start would move and
            // remake every piece (and the event objects the timeline points to).
            if (!has_absolute(ev) && ev.blink_period == 0 &&
                static_cast<size_t>(next.index) < m_subtitles.size()) {
                const int32_t e = sps[n + 1]->start.frame;
                script::FrameTime new_start = stop;
                new_start.frame = stop.frame < e - 1 ? stop.frame + 1 : e - 1;

                const auto& legacy = script.settings.legacy_segments;
                script::FrameTime back = new_start;
                if (legacy.size() == 1) {
                    script::back_convert(back, legacy.front().src_pos, legacy.front().dst_pos,
                                         script.settings.timing);
                }
                const script::ScriptTime t =
                    script::script_time_from_frame_time(back, script.settings.timing.rate_in);
                // The timeline follows only when the line could be rewritten, so that the two
                // never disagree.
                if (script::rewrite_event_times(script, ev, t, ev.end)) {
                    m_subtitles[static_cast<size_t>(next.index)].start = new_start;
                }
            }
        }
    }

    if (!build_subpictures(*this, true)) {
        return false;
    }
    return Rebuild(*this, context, index, shown);
}

int32_t Timeline::add_and_rebuild(script::DialogueEvent& event,
                                  const std::optional<script::ScriptTime>& source_offset,
                                  const std::optional<script::ScriptTime>& destination_offset,
                                  BuildContext& context, int32_t& shown) {
    const int32_t index =
        add(event, context.settings, source_offset, destination_offset, context.messages);
    if (index < 0) {
        return -1;
    }
    if (build_subpictures(*this, true)) {
        Rebuild(*this, context, index, shown);
    }
    return index;
}

Subpicture* Timeline::next_nonempty() {
    const auto n = static_cast<int32_t>(m_subpictures.size());
    for (int32_t i = cursor + 1; i < n; ++i) {
        if (!m_subpictures[static_cast<size_t>(i)]->members.empty()) {
            cursor = i;
            return m_subpictures[static_cast<size_t>(i)].get();
        }
    }
    cursor = n;
    return nullptr;
}

Subpicture* Timeline::current() {
    if (cursor < 0 || static_cast<size_t>(cursor) >= m_subpictures.size()) {
        return nullptr;
    }
    return m_subpictures[static_cast<size_t>(cursor)].get();
}

script::FrameTime Timeline::current_stop() const {
    if (cursor < 0 || static_cast<size_t>(cursor) + 1 >= m_subpictures.size()) {
        return {};
    }
    return m_subpictures[static_cast<size_t>(cursor) + 1]->start;
}

}  // namespace tessara::timeline
