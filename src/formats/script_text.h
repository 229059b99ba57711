#pragma once

#include <string>
#include <string_view>

#include "script/settings.h"
#include "script/timecode.h"

// Helpers the script writers share: text-mode lines, path pieces and the printed time forms.
namespace tessara::formats {

// Appends printf-formatted text with every '\n' written as CR LF, as a text-mode stream does.
void put(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A name or title as script bytes: one byte per character when every character is below 256,
// otherwise the whole text as UTF-8.
std::string text_bytes(std::u16string_view text);

// Path pieces; '/' and '\' both separate folders.
std::u16string_view directory_of(std::u16string_view path);  // up to the last separator, or ""
std::u16string_view file_name_of(std::u16string_view path);  // after the last separator
std::u16string_view file_title(std::u16string_view path);    // file name without its extension

// A frame counted at the output rate, labelled drop-frame or not per the settings.
script::FrameTime at_output_rate(const script::FrameTime& t,
                                 const script::ConversionSettings& settings);

// "hh:mm:ss:ff", drop-frame per the settings.
std::string smpte_text(const script::FrameTime& t, const script::ConversionSettings& settings);
// "hh:mm:ss:cc" in hundredths of a second.
std::string centisecond_text(const script::FrameTime& t,
                             const script::ConversionSettings& settings);
// "s.cc".
std::string seconds_text(const script::FrameTime& t, const script::ConversionSettings& settings);

// MPEG's 90 kHz clock: the ticks from frame 0 to the start of `frame`, counted at `rate`
// (frames per 1000 s), rounded down. The rates 23.976, 29.97 and 59.94 stand for the NTSC
// rates 24000/1001, 30000/1001 and 60000/1001 the video runs at, so that 29.97 (drop frame or
// not) gives exactly 3003 ticks a frame and the stamps never drift from the pictures.
int64_t mpeg_ticks(int64_t frame, int32_t rate);

inline int red_of(script::Colour c) {
    return static_cast<int>(c & 0xFF);
}
inline int green_of(script::Colour c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
inline int blue_of(script::Colour c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

}  // namespace tessara::formats
