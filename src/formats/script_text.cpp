#include "formats/script_text.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "base/int_math.h"
#include "base/text.h"

namespace tessara::formats {

void put(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, again);
        for (int i = 0; i < n; ++i) {
            if (buf[i] == '\n') {
                out += '\r';
            }
            out += buf[i];
        }
    }
    va_end(again);
}

std::string text_bytes(std::u16string_view text) {
    for (char16_t c : text) {
        if (c > 0xFF) {
            return base::utf16_to_utf8(text);
        }
    }
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        out += static_cast<char>(c);
    }
    return out;
}

namespace {

size_t after_last_separator(std::u16string_view path) {
    const size_t sep = path.find_last_of(u"/\\");
    return sep == std::u16string_view::npos ? 0 : sep + 1;
}

std::string ascii(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

}  // namespace

std::u16string_view directory_of(std::u16string_view path) {
    return path.substr(0, after_last_separator(path));
}

std::u16string_view file_name_of(std::u16string_view path) {
    return path.substr(after_last_separator(path));
}

std::u16string_view file_title(std::u16string_view path) {
    std::u16string_view name = file_name_of(path);
    const size_t dot = name.rfind(u'.');
    return dot == std::u16string_view::npos ? name : name.substr(0, dot);
}

script::FrameTime at_output_rate(const script::FrameTime& t,
                                 const script::ConversionSettings& settings) {
    script::FrameTime out = t;
    out.rate = settings.timing.rate_out;
    out.drop = settings.timing.drop_frame;
    return out;
}

std::string smpte_text(const script::FrameTime& t, const script::ConversionSettings& settings) {
    return ascii(script::format_smpte(at_output_rate(t, settings), u':'));
}

std::string centisecond_text(const script::FrameTime& t,
                             const script::ConversionSettings& settings) {
    return ascii(script::format_clock_hundredths(at_output_rate(t, settings), u':'));
}

int64_t mpeg_ticks(int64_t frame, int32_t rate) {
    constexpr int64_t kClock = 90000;
    assert(rate > 0);
    const int64_t nominal = (int64_t{rate} * 1001 + 500) / 1000;
    if (nominal != rate && nominal % 1000 == 0) {
        return base::floor_div(frame * kClock * 1001, nominal);
    }
    return base::floor_div(frame * kClock * 1000, rate);
}

std::string seconds_text(const script::FrameTime& t, const script::ConversionSettings& settings) {
    return ascii(script::format_seconds(at_output_rate(t, settings)));
}

}  // namespace tessara::formats
