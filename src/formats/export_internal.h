#pragma once

#include <string>
#include <string_view>

#include "formats/text_exports.h"
#include "script/timecode.h"

// Pieces the exports share; not part of the library's interface.
namespace tessara::formats::internal {

// Appends `text` and a CR LF line end.
inline void put_line(std::string& out, std::string_view text) {
    out.append(text);
    out.append("\r\n");
}

// "hh:mm:ss:ff" (drop-frame labels when the time counts drop-frame).
std::string smpte(const script::FrameTime& t);

// "START END : text" with SMPTE times.
std::string note(const script::FrameTime& start, const script::FrameTime& end,
                 std::string_view text);

// What an entry is told when some of its characters were written as '?'.
extern const char* const kReplacedCharactersText;

// The note of such an entry.
std::string replaced_characters_note(const script::FrameTime& start, const script::FrameTime& end);

// The Captions Inc. export over validated settings.
TextExport build_captions_inc(script::Script& script, const script::ConversionSettings& settings,
                              const TextExportOptions& options, base::Messages& messages);

}  // namespace tessara::formats::internal
