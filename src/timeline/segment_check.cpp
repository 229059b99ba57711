#include "timeline/segment_check.h"

#include <algorithm>

#include "base/text.h"
#include "script/codepage.h"
#include "script/script.h"
#include "timeline/timeline.h"

namespace tessara::timeline {

const char* const kNoSegmentsDefinedQuestion =
    "No segments have been defined for this file.\r\nDo you want to define them now?";

namespace {

// An event's text for the report: an 8-bit script holds it as bytes, shown decoded with the
// system code page; line breaks are shown as the script writes them.
std::string shown_text(const script::ConversionSettings& settings,
                       const script::DialogueEvent& ev) {
    if (ev.plain_text.empty()) {
        return "?";
    }
    std::u16string text = ev.plain_text;
    if (!settings.unicode) {
        if (auto decoded =
                script::decode_8bit(text, script::system_code_page(settings.mb_code_page))) {
            text = std::move(*decoded);
        }
    }
    std::u16string out;
    for (char16_t c : text) {
        if (c == u'\n') {
            out += u"\\N";
        } else {
            out += c;
        }
    }
    return base::utf16_to_utf8(out);
}

}  // namespace

int32_t effective_safety_distance(int64_t typed) {
    return typed < 0 || typed > kMaxSafetyDistance ? 0 : static_cast<int32_t>(typed);
}

std::string segment_check_report(script::Script& script, const script::ConversionSettings& settings,
                                 int64_t safety_distance, base::Messages& messages) {
    const int64_t distance = effective_safety_distance(safety_distance);
    const auto& segments = settings.dvd_segments;
    const bool has_ranges =
        std::any_of(segments.begin(), segments.end(),
                    [](const script::DvdSegment& s) { return s.end.has_value(); });

    Timeline timeline;
    timeline.fill(script, settings, messages);
    std::string errors;
    for (const TimedSubtitle& ts : timeline.subtitles()) {
        const int64_t last = int64_t{ts.stop.frame} - 1;
        const int64_t low = ts.start.frame - distance;
        const int64_t high = last + distance;
        bool inside = !has_ranges;
        bool crossed = false;
        for (const script::DvdSegment& seg : segments) {
            if (seg.end) {
                inside = inside || (seg.start.frame <= low && seg.end->frame >= high);
            } else {
                crossed = crossed || (low < seg.start.frame && seg.start.frame < high);
            }
        }
        if (inside && !crossed) {
            continue;
        }
        script::FrameTime stop = ts.stop;
        if (!settings.stop_is_next) {
            --stop;
        }
        errors += "Error: " + base::utf16_to_utf8(script::format_smpte(ts.start, u':')) + " - " +
                  base::utf16_to_utf8(script::format_smpte(stop, u':')) + " text = [" +
                  shown_text(settings, *ts.event) + "]\r\n";
    }

    std::string report = "Segments analyzed:\r\n\r\n";
    report += base::utf16_to_utf8(script::format_segment_text(segments, settings.stop_is_next));
    report += "\r\n";
    report += errors.empty() ? "No errors found." : "Errors found:\r\n\r\n" + errors;
    return report;
}

}  // namespace tessara::timeline
