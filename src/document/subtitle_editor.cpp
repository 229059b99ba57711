#include "document/subtitle_editor.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "base/int_math.h"
#include "base/messages.h"
#include "base/text.h"
#include "document/document.h"
#include "script/codepage.h"
#include "script/script.h"
#include "script/script_edit.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace tessara::document {

const char* const kEmptyDialogText = "Dialog text must not be empty or only spaces";
const char* const kInvalidStartText = "Start time is not valid";
const char* const kInvalidStopText = "Stop time is not valid";
const char* const kSubtitleUpdateFailedText = "Internal error updating the subtitle";

namespace {

using script::DialogueEvent;
using script::FrameTime;
using script::ScriptTime;

constexpr std::array<OverrideButton, kOverrideButtonCount> kOverrideButtons = {{
    {"B", u"b1"},
    {"x B", u"b0"},
    {"I", u"i1"},
    {"x I", u"i0"},
    {"rst", u"r"},
    {"TL", u"a5"},
    {"TC", u"a6"},
    {"TR", u"a7"},
    {"ML", u"a9"},
    {"MC", u"a10"},
    {"MR", u"a11"},
    {"BL", u"a1"},
    {"BC", u"a2"},
    {"BR", u"a3"},
    {"sp", u"\u00A0", true},
    {"\u201C", u"\u201C", true},
    {"\u201D", u"\u201D", true},
}};

// The offsets of the old-style segment a timed subtitle was added with: the first segment
// holding the event whose offsets give the subtitle's start. Without segments there are none.
struct SegmentOffsets {
    std::optional<ScriptTime> source;
    std::optional<ScriptTime> destination;
};

SegmentOffsets segment_offsets(const script::Script& script, const timeline::TimedSubtitle& ts,
                               const DialogueEvent& head) {
    const auto& settings = script.settings;
    std::optional<SegmentOffsets> first;
    for (const script::LegacySegment& seg : settings.legacy_segments) {
        // The containment test of Timeline::fill.
        if ((seg.start && head.start.value < seg.start->value) ||
            (seg.stop && head.end.value > seg.stop->value)) {
            continue;
        }
        const SegmentOffsets offsets{seg.src_pos, seg.dst_pos};
        if (!first) {
            first = offsets;
        }
        const FrameTime start = script::frame_time_from_script_time(
            ts.event->start, settings.timing, seg.src_pos, seg.dst_pos);
        if (start == ts.start) {
            return offsets;
        }
    }
    return first.value_or(SegmentOffsets{});
}

// The Start and End fields of a Dialogue line as written; a blinking line's head holds only the
// first blink's end.
std::optional<std::pair<ScriptTime, ScriptTime>> line_times(std::u16string_view line) {
    const size_t first = line.find(u',');
    if (first == std::u16string_view::npos) {
        return std::nullopt;
    }
    const size_t second = line.find(u',', first + 1);
    if (second == std::u16string_view::npos) {
        return std::nullopt;
    }
    const size_t third = line.find(u',', second + 1);
    // The reader takes SMPTE-form times too; such a line keeps them while they are not edited.
    auto start = script::parse_script_time(
        base::trim_blanks(line.substr(first + 1, second - first - 1)), true, true);
    auto end = script::parse_script_time(
        base::trim_blanks(line.substr(second + 1, third == std::u16string_view::npos
                                                      ? std::u16string_view::npos
                                                      : third - second - 1)),
        true, true);
    if (!start || !end) {
        return std::nullopt;
    }
    return std::pair{start->time, end->time};
}

// The SMPTE label of a frame, as ABSOLUTEIN / ABSOLUTEOUT hold it.
std::optional<ScriptTime> label_of(const FrameTime& frame) {
    auto parsed = script::parse_script_time(script::format_smpte(frame, u':'), true, true);
    if (!parsed || !parsed->time.smpte) {
        return std::nullopt;
    }
    return parsed->time;
}

std::optional<FrameTime> read_label(const Document& document, std::u16string_view text) {
    auto parsed = script::parse_script_time(base::trim_blanks(text), true, true);
    const script::TimingSettings& timing = document.script().settings.timing;
    if (!parsed || !parsed->time.smpte) {
        return std::nullopt;
    }
    // Labels number the frames of a second from 0 up to the rate rounded up, less one.
    const int32_t frames_a_second = (timing.rate_out + 999) / 1000;
    const int32_t label_frame = parsed->time.value % 100;
    if (label_frame >= frames_a_second || -label_frame >= frames_a_second) {
        return std::nullopt;
    }
    const FrameTime frame = script::frame_time_from_script_time(parsed->time, timing);
    if (!frame.is_set()) {
        return std::nullopt;
    }
    return frame;
}

bool only_blanks(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) {
        return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u00A0';
    });
}

// A Text field as the editor shows it: typed (decoded) text, forced breaks as line breaks. Only
// the breaks between words and blocks are shown so; a "\N" inside a block is the block's own.
// An 8-bit script's words are decoded with the code pages of the event's style.
std::u16string editable_text(const script::Script& script, const script::DialogueEvent& event,
                             std::u16string_view field) {
    const script::ScanOptions options = script.scan_options(event.style_name);
    std::u16string text(field);
    if (!script.settings.unicode) {
        text = script::convert_event_text(field, script::WordConversion::Decode, options).text;
    }
    std::u16string shown;
    shown.reserve(text.size());
    size_t at = 0;
    for (const script::TextPiece& piece : script::split_event_text(text, options)) {
        shown.append(text, at, piece.begin - at);
        std::u16string_view part =
            std::u16string_view(text).substr(piece.begin, piece.end - piece.begin);
        if (piece.kind == script::TextPiece::Kind::Spacing) {
            for (size_t i = 0; i < part.size(); ++i) {
                if (part[i] == u'\\' && i + 1 < part.size() && part[i + 1] == u'N') {
                    shown += u'\n';
                    ++i;
                } else {
                    shown += part[i];
                }
            }
        } else {
            shown.append(part);
        }
        at = piece.end;
    }
    shown.append(text, at);
    return shown;
}

DialogueEvent& line_owner(DialogueEvent& event) {
    return event.blink_head != nullptr ? *event.blink_head : event;
}

const timeline::TimedSubtitle* timed_subtitle(const Document& document, int32_t index) {
    const PreviewBuild* build = document.last_build();
    if (build == nullptr || index < 0 ||
        static_cast<size_t>(index) >= build->timeline.subtitles().size()) {
        return nullptr;
    }
    const timeline::TimedSubtitle& ts = build->timeline.subtitles()[static_cast<size_t>(index)];
    const DialogueEvent& head = line_owner(*ts.event);
    if (head.line == nullptr || head.line->kind != script::LineKind::Dialogue) {
        return nullptr;
    }
    return &ts;
}

// The frames a fresh build gives the edited event (its own first blink for a blinking line).
std::pair<FrameTime, FrameTime> timeline_frames(const script::Script& script,
                                                const DialogueEvent& head,
                                                const SegmentOffsets& offsets) {
    const script::TimingSettings& timing = script.settings.timing;
    const script::UserOverride* uo = head.user_override ? &*head.user_override : nullptr;
    FrameTime start = uo != nullptr && uo->absolute_in
                          ? script::frame_time_from_script_time(*uo->absolute_in, timing)
                          : script::frame_time_from_script_time(head.start, timing, offsets.source,
                                                                offsets.destination);
    FrameTime stop;
    if (uo != nullptr && uo->absolute_out) {
        stop = script::frame_time_from_script_time(*uo->absolute_out, timing);
        ++stop;  // the label names the last visible frame
    } else {
        stop = script::frame_time_from_script_time(head.end, timing, offsets.source,
                                                   offsets.destination);
    }
    return {start, stop};
}

// The first subpicture showing the line (any copy of a blinking one), or -1.
int32_t first_subpicture_of(const PreviewBuild& build, const DialogueEvent& head) {
    const auto& sps = build.timeline.subpictures();
    for (size_t k = 0; k < sps.size(); ++k) {
        for (const timeline::SubpictureMember& m : sps[k]->members) {
            if (m.event == &head || m.event->blink_head == &head) {
                return static_cast<int32_t>(k);
            }
        }
    }
    return -1;
}

}  // namespace

std::optional<SubtitleEdit> load_subtitle_edit(const Document& document, int32_t timeline_index) {
    const timeline::TimedSubtitle* ts = timed_subtitle(document, timeline_index);
    if (ts == nullptr) {
        return std::nullopt;
    }
    const script::Script& script = document.script();
    const DialogueEvent& head = line_owner(*ts->event);
    const std::u16string& line = head.line->text;
    const size_t cut = script::text_field_start(line);
    if (cut == std::u16string::npos) {
        return std::nullopt;
    }
    SubtitleEdit edit;
    edit.line_head =
        base::utf8_to_utf16(display_text(script, std::u16string_view(line).substr(0, cut)));
    edit.style_name = head.style_name;
    edit.text = editable_text(script, head, std::u16string_view(line).substr(cut));

    FrameTime start = ts->start;
    FrameTime stop = ts->stop;
    if (ts->event->blink_period != 0) {
        // A copy's frames are one blink; the fields edit the whole line.
        const auto times = line_times(line);
        if (!times) {
            return std::nullopt;
        }
        const SegmentOffsets offsets = segment_offsets(script, *ts, head);
        const auto& timing = script.settings.timing;
        start = script::frame_time_from_script_time(times->first, timing, offsets.source,
                                                    offsets.destination);
        stop = script::frame_time_from_script_time(times->second, timing, offsets.source,
                                                   offsets.destination);
    }
    if (!script.settings.stop_is_next) {
        --stop;
    }
    edit.start = script::format_smpte(start, u':');
    edit.stop = script::format_smpte(stop, u':');
    edit.absolute_in = head.user_override && head.user_override->absolute_in;
    edit.absolute_out = head.user_override && head.user_override->absolute_out;
    return edit;
}

std::optional<FrameTime> read_edit_start(const Document& document, std::u16string_view text) {
    return read_label(document, text);
}

std::optional<FrameTime> read_edit_stop(const Document& document, std::u16string_view text) {
    std::optional<FrameTime> stop = read_label(document, text);
    if (stop && !document.script().settings.stop_is_next) {
        if (stop->frame == INT32_MAX) {
            return std::nullopt;
        }
        ++*stop;
    }
    return stop;
}

std::u16string sample_text(std::u16string_view typed) {
    std::u16string out;
    out.reserve(typed.size());
    for (size_t i = 0; i < typed.size(); ++i) {
        if (typed[i] == u'\r' || typed[i] == u'\n') {
            if (typed[i] == u'\r' && i + 1 < typed.size() && typed[i + 1] == u'\n') {
                ++i;
            }
            out += u"\\N";
        } else {
            out += typed[i];
        }
    }
    return out;
}

bool refresh_build(Document& document, int32_t timeline_index, int32_t& shown,
                   base::Messages& messages) {
    if (document.last_build() == nullptr) {
        return false;
    }
    PreviewBuild& build = document.last_build_for_update();
    if (build.context == nullptr) {
        return document.build_preview(nullptr, messages) != nullptr;
    }
    return timeline::Rebuild(build.timeline, *build.context, timeline_index, shown);
}

// --- Override buttons ------------------------------------------------------------------------

size_t override_insertion_point(std::u16string_view text, size_t caret) {
    caret = std::min(caret, text.size());
    const size_t open = text.substr(0, caret).rfind(u'{');
    if (open == std::u16string_view::npos) {
        return caret;
    }
    const size_t close = text.find(u'}', open);
    if (close != std::u16string_view::npos && close < caret) {
        return caret;  // that block ended before the caret
    }
    return close == std::u16string_view::npos ? text.size() : close + 1;
}

TextInsertion insert_plain(std::u16string_view text, size_t caret, std::u16string_view what) {
    caret = std::min(caret, text.size());
    TextInsertion out;
    out.text.reserve(text.size() + what.size());
    out.text.append(text.substr(0, caret));
    out.text.append(what);
    out.text.append(text.substr(caret));
    out.caret = caret + what.size();
    return out;
}

TextInsertion insert_override(std::u16string_view text, size_t caret, std::u16string_view tag) {
    std::u16string block = u"{\\";
    block.append(tag);
    block += u'}';
    return insert_plain(text, override_insertion_point(text, caret), block);
}

const std::array<OverrideButton, kOverrideButtonCount>& override_buttons() {
    return kOverrideButtons;
}

std::u16string colour_tag(script::Colour colour) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(colour & 0xFFFFFF));
    return u"c&H" + base::utf8_to_utf16(hex) + u"&";
}

std::u16string font_tag(const PickedFont& font, int32_t style_charset) {
    std::u16string tag = u"fn" + font.face;
    if (font.charset != style_charset) {
        tag += u"\\fe" + base::format_int(font.charset);
    }
    // A weight from semi-bold up draws as bold.
    tag += font.weight < 600 ? u"\\b0" : u"\\b1";
    tag += font.italic ? u"\\i1" : u"\\i0";
    tag += u"\\fs" + base::format_int(font.point_size);
    return tag;
}

// --- Readability test ------------------------------------------------------------------------

int32_t display_millis(FrameTime start, FrameTime stop, int32_t rate_out) {
    if (!start.is_set() || !stop.is_set() || stop <= start || rate_out <= 0) {
        return 0;
    }
    const int64_t frames = int64_t{stop.frame} - start.frame;
    if (frames > INT32_MAX) {
        return 0;
    }
    // rate_out counts frames per 1000 s: frames * 1000 / (rate_out / 1000) milliseconds.
    return std::max(0, base::muldiv_round(static_cast<int32_t>(frames), 1000000, rate_out));
}

std::optional<int32_t> readability_millis(const Document& document, const SubtitleEdit& edit) {
    const std::optional<FrameTime> start = read_edit_start(document, edit.start);
    const std::optional<FrameTime> stop = read_edit_stop(document, edit.stop);
    if (!start || !stop) {
        return std::nullopt;
    }
    return display_millis(*start, *stop, document.script().settings.timing.rate_out);
}

// --- OK --------------------------------------------------------------------------------------

SubtitleEditResult apply_subtitle_edit(Document& document, int32_t timeline_index,
                                       const SubtitleEdit& edit, int32_t& shown,
                                       base::Messages& messages) {
    if (only_blanks(edit.text)) {
        messages.error(kEmptyDialogText);
        return SubtitleEditResult::Refused;
    }
    const std::optional<FrameTime> start = read_edit_start(document, edit.start);
    if (!start) {
        messages.error(kInvalidStartText);
        return SubtitleEditResult::Refused;
    }
    const std::optional<FrameTime> stop = read_edit_stop(document, edit.stop);
    if (!stop || *stop <= *start) {
        messages.error(kInvalidStopText);
        return SubtitleEditResult::Refused;
    }
    const std::optional<SubtitleEdit> held = load_subtitle_edit(document, timeline_index);
    if (!held) {
        messages.error(kSubtitleUpdateFailedText);
        return SubtitleEditResult::Refused;
    }

    script::Script& script = document.script();
    const timeline::TimedSubtitle& ts =
        document.last_build()->timeline.subtitles()[static_cast<size_t>(timeline_index)];
    DialogueEvent& head = line_owner(*ts.event);
    const SegmentOffsets offsets = segment_offsets(script, ts, head);
    const bool was_blinking = head.blink_period != 0;
    const auto held_times = line_times(head.line->text);
    if (!held_times) {
        messages.error(kSubtitleUpdateFailedText);
        return SubtitleEditResult::Refused;
    }

    // Everything is put back as it was when a step fails, so that OK either takes the whole
    // edit or none of it.
    const std::u16string line_before = head.line->text;
    const std::optional<script::UserOverride> override_before = head.user_override;
    const bool modified_before = script.settings.modified;
    const bool rebuild_before = script.settings.rebuild_needed;
    auto refuse = [&] {
        head.user_override = override_before;
        const bool restore_line = head.line->text != line_before;
        const bool copies_remade = restore_line && (was_blinking || head.blink_period != 0);
        if (restore_line) {
            script::set_dialogue_line(script, head, line_before);
        }
        script.settings.modified = modified_before;
        script.settings.rebuild_needed = rebuild_before;
        messages.error(kSubtitleUpdateFailedText);
        if (copies_remade) {
            // The timeline may point to copies that are gone.
            const PreviewBuild* fresh = document.build_preview(nullptr, messages);
            shown = fresh != nullptr ? first_subpicture_of(*fresh, head) : -1;
        }
        return SubtitleEditResult::Refused;
    };

    script::UserOverride uo = override_before.value_or(script::UserOverride{});
    uo.absolute_in.reset();
    uo.absolute_out.reset();
    if (edit.absolute_in) {
        uo.absolute_in = label_of(*start);
    }
    if (edit.absolute_out) {
        FrameTime last = *stop;
        --last;
        uo.absolute_out = label_of(last);
    }
    if ((edit.absolute_in && !uo.absolute_in) || (edit.absolute_out && !uo.absolute_out)) {
        return refuse();
    }
    if (uo.has_absolute() || uo.has_position()) {
        head.user_override = uo;
    } else {
        head.user_override.reset();
    }

    if (edit.text != held->text &&
        !script::rewrite_event_text(script, head, edit.text, script::TextInput::Typed)) {
        return refuse();
    }
    if (edit.style_name != head.style_name &&
        !script::rewrite_event_style(script, head, edit.style_name)) {
        return refuse();
    }
    // A blinking line with absolute times does not load again.
    if (head.blink_period != 0 && head.user_override && head.user_override->has_absolute()) {
        return refuse();
    }

    // The line's times: a time given as an override keeps the line's; a time that did not move
    // and was already the line's is not written again (the conversion back is not exact).
    const script::TimingSettings& timing = script.settings.timing;
    auto line_time = [&](FrameTime frame) {
        script::back_convert(frame, offsets.source, offsets.destination, timing);
        return script::script_time_from_frame_time(frame, timing.rate_in);
    };
    ScriptTime line_start = held_times->first;
    ScriptTime line_end = held_times->second;
    if (!edit.absolute_in && (held->absolute_in || edit.start != held->start)) {
        line_start = line_time(*start);
    }
    if (!edit.absolute_out && (held->absolute_out || edit.stop != held->stop)) {
        line_end = line_time(*stop);
    }
    if ((line_start != held_times->first || line_end != held_times->second) &&
        !script::rewrite_event_times(script, head, line_start, line_end)) {
        return refuse();
    }

    if (head.line->text == line_before && head.user_override == override_before) {
        script.settings.modified = modified_before;
        script.settings.rebuild_needed = rebuild_before;
        return SubtitleEditResult::Unchanged;
    }
    script.settings.modified = true;

    const bool blinking = was_blinking || head.blink_period != 0;
    PreviewBuild& build = document.last_build_for_update();
    if (blinking || build.context == nullptr) {
        // Copies of a blinking line were made and deleted: the timeline's pointers to them are
        // stale, so the build starts again.
        const PreviewBuild* fresh = document.build_preview(nullptr, messages);
        shown = fresh != nullptr ? first_subpicture_of(*fresh, head) : -1;
        return SubtitleEditResult::Changed;
    }
    const auto [new_start, new_stop] = timeline_frames(script, head, offsets);
    build.timeline.retime(timeline_index, new_start, new_stop, script, *build.context, shown);
    // A subtitle left with nothing to draw joins no subpicture, and `shown` is not moved: it
    // must still name one of the subpictures there are now.
    const auto count = static_cast<int32_t>(build.timeline.subpictures().size());
    shown = std::min(shown, count - 1);
    return SubtitleEditResult::Changed;
}

}  // namespace tessara::document
