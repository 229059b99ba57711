#include "script/timecode.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/int_math.h"
#include "base/messages.h"
#include "base/text.h"

namespace tessara::script {

namespace {

using base::muldiv;

constexpr int64_t kCentisPerSecond = 100;
// Rates count frames per 1000 s, so frames * 100000 / rate is hundredths of a second.
constexpr int64_t kCentisScale = 100000;
// frames * 10000000 / rate is ten-thousandths of a second, the resolution of SMPTE non-drop.
constexpr int64_t kTenThousandthsScale = 10000000;
constexpr int64_t kTenThousandthsPerSecond = 10000;
// frames * 1000000 / rate is milliseconds.
constexpr int64_t kMillisScale = 1000000;

// The largest magnitude the parser can produce: 99:59:59 and a last field of 99.
constexpr int64_t kMaxScriptValue = 35999999;

constexpr char16_t kDropFrameRateText[] = u"29.97";
constexpr int32_t kDropFrameRate = 29970;

// Results are stored in 32-bit frame indices. Anything beyond is clamped, and the clamp stops one
// short of the smallest value so that a conversion never yields the unset marker by accident.
int32_t to_frame(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, int64_t{INT32_MIN} + 1, INT32_MAX));
}

int32_t to_int32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// The first frame whose start, truncated to hundredths, is not earlier than `centis`.
// `rate` must not be 0.
int64_t frames_of_plain(int64_t centis, int32_t rate) {
    int64_t f = muldiv(centis, rate, kCentisScale);
    if (muldiv(f, kCentisScale, rate) != centis) {
        ++f;
    }
    return f;
}

// The frame of a drop-frame SMPTE label (seconds * 100 + frame). Labels that do not exist
// (frames 0 and 1 of a minute other than every tenth) land on the frames before them.
//
// A negative label is the exact mirror of its magnitude. That is what the truncating div/mod
// formula gives when the second-start table is extended as an odd function, and it keeps the
// table index in range.
int64_t frames_of_drop_label(int64_t value) {
    const DropFrameTables& tables = DropFrameTables::get();
    bool negative = value < 0;
    int64_t a = negative ? -value : value;
    int64_t s = a / kCentisPerSecond;
    int64_t fr = a % kCentisPerSecond;
    int64_t frame = tables.second_start[s % DropFrameTables::kCycleSeconds] +
                    (s / DropFrameTables::kCycleSeconds) * DropFrameTables::kCycleFrames + fr;
    return negative ? -frame : frame;
}

// The frame of a non-drop SMPTE label at `rate`: the label second is a real second, and the
// frame is the one holding the instant 1/10000 s before the end of frame `fr`. `rate` must not
// be 0.
int64_t frames_of_nondrop_label(int64_t value, int32_t rate) {
    // Values beyond what the parser accepts would overflow the 64-bit product below; there is no
    // meaningful label out there anyway.
    value = std::clamp(value, -kMaxScriptValue, kMaxScriptValue);
    int64_t s = value / kCentisPerSecond;
    int64_t fr = value % kCentisPerSecond;
    int64_t d = muldiv(fr + 1, kTenThousandthsScale, rate);
    return muldiv(s * kTenThousandthsPerSecond + d - 1, rate, kTenThousandthsScale);
}

// Fills one 10-minute drop-frame cycle. Each minute but the first of the cycle skips labels 0
// and 1; its second-start entry is two before its first real frame so that adding the label
// lands on the right frame. The last step writes entry 600 under the same rule.
void fill_drop_tables(DropFrameTables& t) {
    t.second_start[0] = 0;
    int32_t label = 0;
    int32_t second = 0;
    int32_t minute = 0;
    int next = 1;
    for (int32_t i = 0; i < DropFrameTables::kCycleFrames; ++i) {
        t.label_frame[i] = label;
        t.label_second[i] = minute * 60 + second;
        if (label < 29) {
            ++label;
        } else if (second == 59) {
            t.second_start[next++] = i - 1;
            label = 2;
            second = 0;
            ++minute;
        } else {
            t.second_start[next++] = i + 1;
            label = 0;
            ++second;
        }
    }
}

std::atomic<bool> g_drop_tables_built{false};

struct DropTablesHolder {
    DropFrameTables tables;
    DropTablesHolder() {
        fill_drop_tables(tables);
        g_drop_tables_built.store(true, std::memory_order_release);
    }
};

bool is_c_space(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Scans one floating-point number the way "%f" does (leading white space, an optional sign,
// decimal or 0x-hexadecimal digits, an exponent, inf/nan) and demands that nothing follows it,
// not even a blank. Locale-independent: the decimal point is always '.'.
std::optional<float> scan_single_float(std::u16string_view text) {
    size_t pos = 0;
    while (pos < text.size() && is_c_space(text[pos])) {
        ++pos;
    }
    // Everything a number can hold is ASCII; any other character means trailing or leading junk.
    std::string ascii;
    ascii.reserve(text.size() - pos);
    for (size_t i = pos; i < text.size(); ++i) {
        if (text[i] == 0 || text[i] > 0x7F) {
            return std::nullopt;
        }
        ascii.push_back(static_cast<char>(text[i]));
    }
    const char* p = ascii.data();
    const char* end = p + ascii.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // from_chars would take a second '-' as the sign; the scanner accepts only one sign.
    if (p == end || *p == '+' || *p == '-') {
        return std::nullopt;
    }
    float f = 0;
    std::from_chars_result r{};
    if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        (is_hex_digit(p[2]) || (p[2] == '.' && end - p > 3 && is_hex_digit(p[3])))) {
        r = std::from_chars(p + 2, end, f, std::chars_format::hex);
    } else {
        r = std::from_chars(p, end, f, std::chars_format::general);
    }
    // Numbers a float cannot hold are no frame rate either.
    if (r.ec != std::errc{} || r.ptr != end) {
        return std::nullopt;
    }
    return negative ? -f : f;
}

void report(base::Messages* messages, bool quiet, std::string_view text) {
    if (!quiet && messages != nullptr) {
        messages->error(text);
    }
}

// A rate read from text that callers may divide by.
std::optional<int32_t> valid_rate(std::u16string_view text) {
    std::optional<int32_t> rate = rate_from_text(text);
    if (!rate || *rate < kMinRate) {
        return std::nullopt;
    }
    return rate;
}

// The text snprintf wrote, or nothing when it failed or did not fit.
std::u16string printed(const char* buf, size_t size, int n) {
    if (n <= 0 || static_cast<size_t>(n) >= size) {
        return {};
    }
    return base::to_u16(std::string_view(buf, static_cast<size_t>(n)));
}

// "hh:mm:ss" + separator + the last field printed with `last_format`.
std::u16string clock_text(int64_t h, int64_t m, int64_t s, char16_t separator,
                          const char* last_format, int64_t last) {
    char head[48];
    char tail[24];
    int hn = std::snprintf(head, sizeof head, "%02lld:%02lld:%02lld", static_cast<long long>(h),
                           static_cast<long long>(m), static_cast<long long>(s));
    int tn = std::snprintf(tail, sizeof tail, last_format, static_cast<long long>(last));
    std::u16string out = printed(head, sizeof head, hn);
    std::u16string last_text = printed(tail, sizeof tail, tn);
    if (out.empty() || last_text.empty()) {
        return {};
    }
    out.push_back(separator);
    out.append(last_text);
    return out;
}

}  // namespace

std::optional<ParsedScriptTime> parse_script_time(std::u16string_view text, bool whole,
                                                  bool allow_smpte) {
    static constexpr int64_t kLimits[4] = {99, 59, 59, 99};
    // Digits beyond this cannot pass any limit; saturating keeps long digit strings harmless.
    static constexpr int64_t kSaturate = 1000000;

    ScriptTime result;
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && text[pos] == u'-') {
        negative = true;
        ++pos;
    }
    int64_t fields[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (pos >= text.size() || !base::is_digit(text[pos])) {
            return std::nullopt;
        }
        int64_t v = 0;
        while (pos < text.size() && base::is_digit(text[pos])) {
            v = std::min(v * 10 + (text[pos] - u'0'), kSaturate);
            ++pos;
        }
        if (v > kLimits[i]) {
            return std::nullopt;
        }
        fields[i] = v;
        if (i == 3) {
            break;
        }
        if (pos >= text.size()) {
            return std::nullopt;
        }
        char16_t sep = text[pos];
        if (i < 2) {
            if (sep != u':') {
                return std::nullopt;
            }
        } else if (sep == u':' || sep == u';') {
            if (!allow_smpte) {
                return std::nullopt;
            }
            result.smpte = true;
        } else if (sep != u'.') {
            return std::nullopt;
        }
        ++pos;
    }
    if (whole && pos != text.size()) {
        return std::nullopt;
    }
    int64_t value = ((fields[0] * 60 + fields[1]) * 60 + fields[2]) * kCentisPerSecond + fields[3];
    result.value = static_cast<int32_t>(negative ? -value : value);
    return ParsedScriptTime{result, pos};
}

std::u16string format_script_time(ScriptTime t, bool short_hours) {
    int64_t a = t.value < 0 ? -int64_t{t.value} : int64_t{t.value};
    const char* format =
        short_hours ? "%s%lld:%02lld:%02lld%c%02lld" : "%s%02lld:%02lld:%02lld%c%02lld";
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, format, t.value < 0 ? "-" : "",
                          static_cast<long long>(a / 360000), static_cast<long long>(a / 6000 % 60),
                          static_cast<long long>(a / 100 % 60), t.smpte ? ':' : '.',
                          static_cast<long long>(a % 100));
    return printed(buf, sizeof buf, n);
}

std::optional<int32_t> rate_from_text(std::u16string_view text) {
    std::optional<float> f = scan_single_float(text);
    if (!f || !std::isfinite(*f)) {
        return std::nullopt;
    }
    double r = (static_cast<double>(*f) + 0.0001) * 1000.0;
    // Beyond the 32-bit range the conversion below would be undefined; such a rate is not one.
    if (!(r > -2147483649.0 && r < 2147483648.0)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(r);
}

bool validate_timing(TimingSettings& timing, bool iauthor, base::Messages* messages, bool quiet) {
    if (timing.fps_in_text.empty()) {
        report(messages, quiet, "Please enter the input frame rate");
        return false;
    }
    if (!timing.drop_frame && timing.fps_out_text.empty()) {
        report(messages, quiet, "Please enter the output frame rate");
        return false;
    }
    // Only valid rates are stored: the conversions divide by them.
    std::optional<int32_t> rate_in = valid_rate(timing.fps_in_text);
    if (!rate_in) {
        report(messages, quiet, "FPS in is invalid");
        return false;
    }
    timing.rate_in = *rate_in;
    if (timing.drop_frame) {
        if (iauthor) {
            report(messages, quiet, "You cannot use drop frame with I-Author format");
            return false;
        }
        timing.fps_out_text = kDropFrameRateText;
        timing.rate_out = kDropFrameRate;
        return true;
    }
    std::optional<int32_t> rate_out = valid_rate(timing.fps_out_text);
    if (!rate_out) {
        report(messages, quiet, "FPS out is invalid");
        return false;
    }
    timing.rate_out = *rate_out;
    return true;
}

void recompute_rates(TimingSettings& timing, bool iauthor) {
    if (timing.fps_in_text.empty() || (!timing.drop_frame && timing.fps_out_text.empty())) {
        return;
    }
    std::optional<int32_t> rate_in = valid_rate(timing.fps_in_text);
    if (!rate_in) {
        return;
    }
    timing.rate_in = *rate_in;
    if (timing.drop_frame && !iauthor) {
        timing.fps_out_text = kDropFrameRateText;
        timing.rate_out = kDropFrameRate;
        return;
    }
    if (std::optional<int32_t> rate_out = valid_rate(timing.fps_out_text)) {
        timing.rate_out = *rate_out;
    }
}

const DropFrameTables& DropFrameTables::get() {
    // Built in place: the tables are too large for a temporary on the stack.
    static const DropTablesHolder holder;
    return holder.tables;
}

bool DropFrameTables::built() {
    return g_drop_tables_built.load(std::memory_order_acquire);
}

FrameTime frame_time_from_script_time(ScriptTime t, const TimingSettings& timing) {
    FrameTime ft;
    ft.rate = timing.rate_out;
    ft.drop = timing.drop_frame;
    if (t.smpte) {
        if (timing.drop_frame) {
            ft.frame = to_frame(frames_of_drop_label(t.value));
        } else if (timing.rate_out != 0) {
            ft.frame = to_frame(frames_of_nondrop_label(t.value, timing.rate_out));
        }
    } else if (timing.rate_in != 0) {
        ft.frame = to_frame(frames_of_plain(t.value, timing.rate_in));
    }
    return ft;
}

int32_t frames_of_offset(ScriptTime offset, const FrameTime& target) {
    if (offset.smpte && target.drop) {
        return to_frame(frames_of_drop_label(offset.value));
    }
    if (target.rate == 0) {
        return 0;
    }
    if (offset.smpte) {
        return to_frame(frames_of_nondrop_label(offset.value, target.rate));
    }
    return to_frame(frames_of_plain(offset.value, target.rate));
}

FrameTime frame_time_from_script_time(ScriptTime t, const TimingSettings& timing,
                                      const std::optional<ScriptTime>& plain_offset,
                                      const std::optional<ScriptTime>& smpte_offset) {
    FrameTime ft;
    ft.rate = timing.rate_out;
    ft.drop = timing.drop_frame;
    if (timing.rate_in == 0) {
        return ft;
    }
    int64_t v = t.value;
    if (plain_offset && !plain_offset->smpte) {
        v += plain_offset->value;
    }
    int64_t frame = frames_of_plain(v, timing.rate_in);
    if (smpte_offset) {
        frame += frames_of_offset(*smpte_offset, ft);
    }
    ft.frame = to_frame(frame);
    return ft;
}

void back_convert(FrameTime& ft, const std::optional<ScriptTime>& plain_offset,
                  const std::optional<ScriptTime>& smpte_offset, const TimingSettings& timing) {
    if (!ft.is_set()) {
        return;
    }
    if (smpte_offset) {
        ft.frame = to_frame(int64_t{ft.frame} - frames_of_offset(*smpte_offset, ft));
    }
    // Only a plain offset was added on the way in, so only a plain one is taken off.
    if (plain_offset && !plain_offset->smpte && timing.rate_in != 0) {
        int64_t v = muldiv(ft.frame, kCentisScale, timing.rate_in) - plain_offset->value;
        ft.frame = to_frame(frames_of_plain(v, timing.rate_in));
    }
}

ScriptTime script_time_from_frame_time(const FrameTime& ft, int32_t rate) {
    if (rate == 0) {
        rate = ft.rate;
    }
    ScriptTime t;
    if (ft.is_set() && rate != 0) {
        t.value = to_int32(muldiv(ft.frame, kCentisScale, rate));
    }
    return t;
}

std::u16string format_smpte(const FrameTime& ft, char16_t separator) {
    if (!ft.is_set()) {
        return {};
    }
    int64_t s = 0;
    int64_t fr = 0;
    bool negative = false;
    if (ft.drop) {
        // Drop-frame labels are defined from frame 0 on. A negative index prints as the label of
        // its magnitude with a leading '-', the mirror of how a negative label is read.
        const DropFrameTables& tables = DropFrameTables::get();
        negative = ft.frame < 0;
        int64_t frame = negative ? -int64_t{ft.frame} : int64_t{ft.frame};
        int64_t r = frame % DropFrameTables::kCycleFrames;
        fr = tables.label_frame[r];
        s = (frame - r) * DropFrameTables::kCycleSeconds / DropFrameTables::kCycleFrames +
            tables.label_second[r];
    } else {
        if (ft.rate == 0) {
            return {};
        }
        int64_t t = muldiv(ft.frame, kTenThousandthsScale, ft.rate);
        int64_t u = t % kTenThousandthsPerSecond;
        s = (t - u) / kTenThousandthsPerSecond;
        fr = muldiv(u + 1, ft.rate, kTenThousandthsScale);
    }
    std::u16string out = clock_text(s / 3600, s / 60 % 60, s % 60, separator, "%02lld", fr);
    if (negative && !out.empty()) {
        out.insert(out.begin(), u'-');
    }
    return out;
}

std::u16string format_clock_hundredths(const FrameTime& ft, char16_t separator) {
    if (!ft.is_set() || ft.rate == 0) {
        return {};
    }
    int64_t ms = muldiv(ft.frame, kMillisScale, ft.rate);
    int64_t whole = ms - ms % 1000;
    return clock_text(whole / 3600000, whole / 60000 % 60, whole / 1000 % 60, separator, "%02lld",
                      ms % 1000 / 10);
}

std::u16string format_clock_millis(const FrameTime& ft, char16_t separator) {
    if (!ft.is_set() || ft.rate == 0) {
        return {};
    }
    int64_t ms = muldiv(ft.frame, kMillisScale, ft.rate);
    int64_t whole = ms - ms % 1000;
    return clock_text(whole / 3600000, whole / 60000 % 60, whole / 1000 % 60, separator, "%03lld",
                      ms % 1000);
}

std::u16string format_seconds(const FrameTime& ft) {
    if (!ft.is_set() || ft.rate == 0) {
        return {};
    }
    int64_t ms = muldiv(ft.frame, kMillisScale, ft.rate);
    int64_t whole = ms - ms % 1000;
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%lld.%02lld", static_cast<long long>(whole / 1000),
                          static_cast<long long>(ms % 1000 / 10));
    return printed(buf, sizeof buf, n);
}

std::u16string format_film_footage(const FrameTime& ft, const FrameTime& origin) {
    // Video frames map onto film frames through a 3:2 pattern: 20 video frames to a 16-frame foot.
    static constexpr int64_t kPulldown[20] = {0, 1, 2,  3,  3,  4,  5,  6,  7,  7,
                                              8, 9, 10, 11, 11, 12, 13, 14, 15, 15};
    static constexpr int32_t kFilmRate = 24000;
    static constexpr int64_t kFilmFramesPerFoot = 16;
    static constexpr int64_t kVideoFramesPerFoot = 20;
    if (!ft.is_set() || !origin.is_set()) {
        return {};
    }
    int64_t n = std::max<int64_t>(int64_t{ft.frame} - origin.frame, 0);
    int64_t feet = 0;
    int64_t frames = 0;
    if (ft.rate == kFilmRate) {
        feet = n / kFilmFramesPerFoot;
        frames = n % kFilmFramesPerFoot;
    } else {
        feet = n / kVideoFramesPerFoot;
        frames = kPulldown[n % kVideoFramesPerFoot];
    }
    char buf[48];
    int n_chars = std::snprintf(buf, sizeof buf, "%06lld.%02lld", static_cast<long long>(feet),
                                static_cast<long long>(frames));
    return printed(buf, sizeof buf, n_chars);
}

}  // namespace tessara::script
