#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/settings.h"
#include "script/timecode.h"

namespace tessara::base {
class Messages;
class Progress;
}  // namespace tessara::base
namespace tessara::script {
class Script;
}

// Plain-text exports of the loaded script: SubRip, Captions Inc., a text dialogue list (with
// SMPTE times or film feet and frames) and the comma-separated Chi list. Every file has CR LF
// line ends and one byte per character; no bitmaps are written.
namespace tessara::formats {

enum class TextExportKind { Srt, CaptionsInc, Dialogue, Chi };

struct TextExportOptions {
    // Text dialogue only: times are printed as film feet and frames counted from this SMPTE label
    // (taken at the output rate) instead of as SMPTE times. Needs non-drop output at 24 or 30 fps.
    std::optional<script::ScriptTime> film_offset;
    // One step per subpicture (SubRip, Captions Inc.) or entry; cancelling stops between steps.
    base::Progress* progress = nullptr;
};

enum class ExportStatus { Done, Failed, Cancelled };

struct TextExport {
    ExportStatus status = ExportStatus::Failed;
    std::string bytes;    // the whole file
    int32_t entries = 0;  // SubRip entries, caption blocks, or dialogue / Chi entries written
    // "START END : text" notes collected while exporting: the warnings of Captions Inc., and for
    // every export the entries whose characters the file's code page could not hold (written as
    // '?'). They are reported together once the file is written.
    std::vector<std::string> notes;
};

// Builds the file of an export from the script and its settings (a validated copy of the
// timing settings is used; the script's own are left as they are). Failures (timing settings,
// Captions Inc. rates, an unavailable film export, "No subtitles parsed", a subtitle that does
// not render) are reported to `messages` and give status Failed. Warnings of the timeline fill
// (subtitles removed for a negative span) are reported as they happen.
TextExport build_text_export(script::Script& script, TextExportKind kind,
                             const TextExportOptions& options, base::Messages& messages);

// build_text_export(), then the file replaces `path` in one piece (never a partial file); the
// notes follow in one warning. Done only when the file was written completely.
ExportStatus export_text(script::Script& script, TextExportKind kind, const std::string& path,
                         const TextExportOptions& options, base::Messages& messages,
                         TextExport* result = nullptr);

// Whether film feet can be printed at the output rate of validated timing settings: non-drop
// output at exactly 24.000 or 30.000 frames per second.
bool film_export_available(const script::TimingSettings& timing);

// The film offset the film export starts from unless told otherwise: 01:00:00:00.
script::ScriptTime default_film_offset();

// The first line of Captions Inc., Chi and text dialogue (without '\n'): the timecode type of
// the output rate, or for other rates the input rate (Chi and text dialogue only).
std::string timecode_header(const script::TimingSettings& timing);

// The heading of the warning that lists an export's notes.
std::string notes_heading(TextExportKind kind);

// Program texts.
extern const char* const kNoSubtitlesParsedText;
extern const char* const kNtscNonDropRateText;
extern const char* const kInvalidTimecodeTypeText;
extern const char* const kFilmRateText;
extern const char* const kInvalidColourText;
extern const char* const kMixedCodePagesText;
extern const char* const kUnplacedText;

}  // namespace tessara::formats
