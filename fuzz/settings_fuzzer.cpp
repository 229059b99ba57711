// The settings readers on arbitrary text. The first byte picks the reader:
//   0 a TSRACONF payload, 1 TSRASTYLE extras, 2 a TSRAUSER payload, 3 the segments dialog's
//   text, 4 a DVDSeg and an old Segment value, 5 an old ".tsraconf" file, 6 one KEY=VALUE as
//   the command line's --set gives it, 7 a script time.
// What is read must be written back so that reading it again gives the same values, and the
// written settings lines must fit the reader's line length.

#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "fuzz_support.h"
#include "script/settings.h"
#include "script/settings_file.h"
#include "script/ssa_reader.h"
#include "script/style.h"
#include "settings_compare.h"

namespace {

using namespace tessara;
using script::ConversionSettings;

// Writes the settings as comment lines and reads their payloads back.
void check_settings_round_trip(ConversionSettings& s) {
    base::SilentMessages messages;
    script::post_load(s, messages);
    ConversionSettings back;
    constexpr std::u16string_view kMarker = u"TSRACONF: ";
    const std::vector<std::u16string> lines = script::settings_lines(s);
    for (const std::u16string& line : lines) {
        // A line too long to read back makes the save fail with a message instead (a style
        // order longer than a line, given on the command line): nothing to read back then.
        if (line.size() + 2 >= script::kMaxLineChars) {
            return;
        }
    }
    for (const std::u16string& line : lines) {
        const size_t at = line.find(kMarker);
        FUZZ_CHECK(at != std::u16string::npos);
        FUZZ_CHECK(script::read_settings_payload(
            back, std::u16string_view(line).substr(at + kMarker.size())));
    }
    script::post_load(back, messages);
    FUZZ_CHECK(fuzz::same_saved_settings(s, back));
}

void settings_payload(std::u16string_view text) {
    ConversionSettings s;
    if (script::read_settings_payload(s, text)) {
        check_settings_round_trip(s);
    }
}

void style_extras(std::u16string_view text) {
    script::Style style;
    if (!script::read_style_extras(style, text)) {
        return;
    }
    script::Style back;
    FUZZ_CHECK(script::read_style_extras(back, script::style_extras_text(style)));
    FUZZ_CHECK(script::style_extras_text(back) == script::style_extras_text(style));
    FUZZ_CHECK(back.antialias == style.antialias);
}

void user_payload(std::u16string_view text, int32_t start) {
    std::optional<script::UserOverride> pending;
    if (!script::read_user_payload(pending, text) || !pending) {
        return;
    }
    const std::u16string line = script::user_override_line(*pending, script::ScriptTime{start});
    if (line.empty()) {
        FUZZ_CHECK(!pending->has_absolute() && !pending->has_position());
        return;
    }
    constexpr std::u16string_view kMarker = u"TSRAUSER: ";
    const size_t at = line.find(kMarker);
    FUZZ_CHECK(at != std::u16string::npos);
    std::optional<script::UserOverride> back;
    FUZZ_CHECK(
        script::read_user_payload(back, std::u16string_view(line).substr(at + kMarker.size())));
    // A snap is written with its position only.
    script::UserOverride expected = *pending;
    if (expected.pos_x == script::UserOverride::kUnsetPosition)
        expected.snap_x = 0;
    if (expected.pos_y == script::UserOverride::kUnsetPosition)
        expected.snap_y = 0;
    FUZZ_CHECK(back && *back == expected);
}

void segment_text(std::u16string_view text, bool end_as_next_frame, bool drop) {
    script::TimingSettings timing;
    timing.fps_in_text = u"25";
    timing.fps_out_text = drop ? u"29.97" : u"25";
    timing.drop_frame = drop;
    FUZZ_CHECK(script::validate_timing(timing, false, nullptr, true));
    const auto segments = script::parse_segment_text(text, timing, end_as_next_frame);
    FUZZ_CHECK(segments.size() <= script::kMaxDvdSegments);
    for (size_t i = 0; i < segments.size(); ++i) {
        FUZZ_CHECK(!segments[i].end || *segments[i].end > segments[i].start);
        FUZZ_CHECK(i == 0 || !(segments[i].start < segments[i - 1].start));
    }
    const std::u16string written = script::format_segment_text(segments, end_as_next_frame);
    const auto back = script::parse_segment_text(written, timing, end_as_next_frame);
    FUZZ_CHECK(back.size() == segments.size());
    for (size_t i = 0; i < back.size(); ++i) {
        FUZZ_CHECK(back[i].start == segments[i].start);
        FUZZ_CHECK(back[i].end.has_value() == segments[i].end.has_value());
        FUZZ_CHECK(!back[i].end || *back[i].end == *segments[i].end);
    }
}

void segment_values(std::u16string_view text) {
    script::parse_dvd_segment_value(text);
    if (auto seg = script::parse_legacy_segment(text)) {
        auto back = script::parse_legacy_segment(script::format_legacy_segment(*seg));
        FUZZ_CHECK(back && *back == *seg);
    }
}

void old_settings_file(std::string_view bytes) {
    ConversionSettings s;
    std::string source;
    base::SilentMessages messages;
    if (script::read_old_settings_bytes(bytes, s, source, messages)) {
        check_settings_round_trip(s);
    }
}

void one_setting(std::u16string_view text) {
    const size_t eq = text.find(u'=');
    if (eq == std::u16string_view::npos) {
        return;
    }
    ConversionSettings s;
    if (script::apply_setting(s, text.substr(0, eq), text.substr(eq + 1))) {
        check_settings_round_trip(s);
    }
}

void script_time(std::u16string_view text, bool whole, bool smpte) {
    auto t = script::parse_script_time(text, whole, smpte);
    if (!t) {
        return;
    }
    FUZZ_CHECK(t->end <= text.size());
    for (bool short_hours : {false, true}) {
        const std::u16string written = script::format_script_time(t->time, short_hours);
        auto back = script::parse_script_time(written, true, true);
        FUZZ_CHECK(back && back->time == t->time);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader in(data, size);
    const uint8_t mode = in.byte();
    const std::u16string text = fuzz::widen(in.rest());
    switch (mode & 7) {
        case 0:
            settings_payload(text);
            break;
        case 1:
            style_extras(text);
            break;
        case 2:
            user_payload(text, static_cast<int32_t>(mode >> 3) * 12345);
            break;
        case 3:
            segment_text(text, (mode & 8) != 0, (mode & 16) != 0);
            break;
        case 4:
            segment_values(text);
            break;
        case 5:
            old_settings_file(in.rest());
            break;
        case 6:
            one_setting(text);
            break;
        default:
            script_time(text, (mode & 8) != 0, (mode & 16) != 0);
            break;
    }
    return 0;
}
