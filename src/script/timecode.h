#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessara::base {
class Messages;
}

// Script times (hundredths of a second or SMPTE labels), frame-exact times and the frame rates
// that connect them. All arithmetic is on signed integers with 64-bit intermediates; every
// division truncates toward zero and every remainder has the sign of the dividend.
namespace tessara::script {

// A time as read from or written to the script.
struct ScriptTime {
    // Plain form: hundredths of a second. SMPTE form: seconds * 100 + frame number.
    int32_t value = 0;
    // The value is an SMPTE label (typed with ':' or ';' before the last field).
    bool smpte = false;

    bool operator==(const ScriptTime&) const = default;
};

struct ParsedScriptTime {
    ScriptTime time;
    size_t end = 0;  // index in the parsed text just after the last digit of the time
};

// Parses "[-]h:mm:ss.cc" (one or more digits per field; limits 99, 59, 59, 99). With
// allow_smpte, ':' or ';' before the last field is accepted and marks the SMPTE form. With
// whole, nothing may follow the time. Returns nothing on failure.
std::optional<ParsedScriptTime> parse_script_time(std::u16string_view text, bool whole,
                                                  bool allow_smpte);

// "h:mm:ss.cc" with short_hours (the SSA form), else "hh:mm:ss.cc"; ':' before the last field in
// SMPTE form. Negative values carry a leading '-'.
std::u16string format_script_time(ScriptTime t, bool short_hours);

constexpr int32_t kMinRate = 1000;  // rates count frames per 1000 seconds; below 1 fps is invalid

// The rate of a typed frame rate: frames per 1000 seconds, or nothing when the text is not
// exactly one number. A result below kMinRate is returned as is; callers treat it as invalid.
// Infinities, NaN and numbers whose rate does not fit in 32 bits give nothing.
std::optional<int32_t> rate_from_text(std::u16string_view text);

// The timing fields of the conversion settings.
struct TimingSettings {
    std::u16string fps_in_text;   // "FPSin", as typed
    std::u16string fps_out_text;  // "FPSout", as typed; "29.97" while drop frame is on
    int32_t rate_in = 0;          // frames per 1000 s, from fps_in_text
    int32_t rate_out = 0;         // frames per 1000 s, from fps_out_text (29970 with drop frame)
    bool drop_frame = false;      // "DropFrame": output labels are 29.97 drop-frame
};

// Checks the timing settings and recomputes both rates. iauthor: the script type is I-Author,
// which forbids drop frame. Unless quiet, the failure message goes to `messages`. A rate is
// stored only when it is valid, so a failed check never leaves a zero rate to divide by.
bool validate_timing(TimingSettings& timing, bool iauthor, base::Messages* messages, bool quiet);

// Recomputes the rates after "FPSin" or "FPSout" was read from a settings line: only when the
// FPS-in text is set and drop frame is on or the FPS-out text is set, and only when the FPS-in
// rate is at least kMinRate. A text that is not a valid rate leaves its rate unchanged.
void recompute_rates(TimingSettings& timing, bool iauthor);

// A frame-exact time.
struct FrameTime {
    static constexpr int32_t kUnset = INT32_MIN;

    int32_t frame = kUnset;  // frame index from 0
    int32_t rate = 0;        // frames per 1000 s the index counts at
    bool drop = false;       // labelled with 29.97 drop-frame timecode

    bool is_set() const { return frame != kUnset; }

    // Comparisons look at the frame index alone.
    friend bool operator==(const FrameTime& a, const FrameTime& b) { return a.frame == b.frame; }
    friend auto operator<=>(const FrameTime& a, const FrameTime& b) { return a.frame <=> b.frame; }
    FrameTime& operator++() {
        ++frame;
        return *this;
    }
    FrameTime& operator--() {
        --frame;
        return *this;
    }
    FrameTime& operator+=(int32_t n) {
        frame += n;
        return *this;
    }
};

// One 10-minute cycle of 29.97 drop-frame labels, built once on first use.
struct DropFrameTables {
    static constexpr int kCycleFrames = 17982;
    static constexpr int kCycleSeconds = 600;

    int32_t label_frame[kCycleFrames];        // label 0-29 of each frame of the cycle
    int32_t label_second[kCycleFrames];       // label second 0-599 of each frame
    int32_t second_start[kCycleSeconds + 1];  // frame whose label would be s:00; [600] = cycle end

    static const DropFrameTables& get();
    static bool built();  // whether get() has been called in this process
};

// The standard conversion (event times, ABSOLUTEIN/OUT, typed SMPTE values). The result counts
// at rate out with the settings' drop flag. The frame stays unset when the rate the conversion
// divides by is 0. Negative drop-frame labels mirror their magnitude.
FrameTime frame_time_from_script_time(ScriptTime t, const TimingSettings& timing);

// Frames of an offset, counted at the target's own rate and drop flag; 0 when that rate is 0 and
// the form needs it.
int32_t frames_of_offset(ScriptTime offset, const FrameTime& target);

// The conversion with the offsets of one old-style segment: plain_offset (plain form only is
// used) is added before converting, then the frames of smpte_offset are added.
FrameTime frame_time_from_script_time(ScriptTime t, const TimingSettings& timing,
                                      const std::optional<ScriptTime>& plain_offset,
                                      const std::optional<ScriptTime>& smpte_offset);

// Undoes the offsets on an edited frame time, in place. The caller then takes the script time
// as frame * 100000 / rate in.
void back_convert(FrameTime& ft, const std::optional<ScriptTime>& plain_offset,
                  const std::optional<ScriptTime>& smpte_offset, const TimingSettings& timing);

// Plain script time of a frame: frame * 100000 / rate, with the FrameTime's own rate when rate
// is 0. An unset frame, or no rate at all, gives 0.
ScriptTime script_time_from_frame_time(const FrameTime& ft, int32_t rate = 0);

// Printed forms. An unset FrameTime prints as the empty string in every form, and so does one
// with rate 0 in the forms that divide by it. A negative drop-frame index prints as the label
// of its magnitude with a leading '-'. Footage is empty when the origin is unset.
std::u16string format_smpte(const FrameTime& ft, char16_t separator = u':');
std::u16string format_clock_hundredths(const FrameTime& ft, char16_t separator = u':');
std::u16string format_clock_millis(const FrameTime& ft, char16_t separator = u',');
std::u16string format_seconds(const FrameTime& ft);
std::u16string format_film_footage(const FrameTime& ft, const FrameTime& origin);

}  // namespace tessara::script
