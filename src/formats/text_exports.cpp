#include "formats/text_exports.h"
#include "formats/script_writer.h"

#include <algorithm>
#include <cstdio>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/progress.h"
#include "base/text.h"
#include "formats/export_bytes.h"
#include "formats/export_internal.h"
#include "script/script.h"
#include "timeline/subpictures.h"
#include "timeline/timeline.h"

namespace tessara::formats {

const char* const kNoSubtitlesParsedText = "No subtitles parsed";
const char* const kNtscNonDropRateText = "You must use 30.000 FPS out for NTSC non-drop";
const char* const kInvalidTimecodeTypeText =
    "Invalid timecode type:\nFPS out must be either 25.000,\n29.97 drop frame or 30.000";
const char* const kFilmRateText =
    "Film feet and frames can only be exported for non-drop output at 24.000 or 30.000 FPS.";
const char* const kInvalidColourText = "Invalid color. Using white instead.";
const char* const kMixedCodePagesText =
    "Not all subtitles use the same code page. Some special characters can be incorrectly "
    "expressed in the output file.";
const char* const kUnplacedText = "some subtitles couldn't be properly placed";

namespace internal {

const char* const kReplacedCharactersText =
    "characters the file's code page cannot hold were written as '?'";

std::string smpte(const script::FrameTime& t) {
    return base::utf16_to_utf8(script::format_smpte(t, u':'));
}

std::string note(const script::FrameTime& start, const script::FrameTime& end,
                 std::string_view text) {
    std::string out = smpte(start) + " " + smpte(end) + " : ";
    out.append(text);
    return out;
}

std::string replaced_characters_note(const script::FrameTime& start, const script::FrameTime& end) {
    return note(start, end, kReplacedCharactersText);
}

}  // namespace internal

namespace {

using internal::put_line;
using internal::smpte;
using script::FrameTime;

// Pieces of a text between line feeds; a text without one is one piece.
std::vector<std::u16string_view> split_lines(std::u16string_view text) {
    std::vector<std::u16string_view> pieces;
    size_t from = 0;
    for (size_t p = text.find(u'\n'); p != std::u16string_view::npos; p = text.find(u'\n', from)) {
        pieces.push_back(text.substr(from, p - from));
        from = p + 1;
    }
    pieces.push_back(text.substr(from));
    return pieces;
}

// `text` cut or padded with blanks to exactly `width` characters, as "%-W.Ws" prints it.
std::string fit(std::string text, size_t width) {
    text.resize(width, ' ');
    return text;
}

// One step of the progress; false once the user cancelled.
bool step(base::Progress* progress) {
    if (progress == nullptr) {
        return true;
    }
    progress->step(1);
    return progress->keep_going();
}

void start_progress(base::Progress* progress, size_t count) {
    if (progress != nullptr) {
        progress->set_range(0, static_cast<int64_t>(count));
        progress->set_position(0);
    }
}

// ---- SubRip ----

// "hh:mm:ss,mmm".
std::string srt_time(const FrameTime& t) {
    return base::utf16_to_utf8(script::format_clock_millis(t, u','));
}

TextExport build_srt(script::Script& script, const script::ConversionSettings& settings,
                     const TextExportOptions& options, base::Messages& messages) {
    TextExport result;
    const ExportBytes bytes(settings);
    timeline::Timeline tl;
    tl.fill(script, settings, messages);
    if (timeline::build_subpictures(tl, false)) {
        const auto& sps = tl.subpictures();
        start_progress(options.progress, sps.size());
        // The last subpicture is always empty: every non-empty one has a next boundary.
        for (size_t i = 0; i + 1 < sps.size(); ++i) {
            const timeline::Subpicture& sp = *sps[i];
            if (!sp.members.empty()) {
                const FrameTime& end = sps[i + 1]->start;
                put_line(result.bytes, std::to_string(++result.entries));
                put_line(result.bytes, srt_time(sp.start) + " --> " + srt_time(end));
                bool replaced = false;
                for (const timeline::SubpictureMember& m : sp.members) {
                    for (std::u16string_view piece : split_lines(m.event->plain_text)) {
                        if (!piece.empty()) {
                            put_line(result.bytes, bytes.held(piece, replaced));
                        }
                    }
                }
                put_line(result.bytes, "");
                if (replaced) {
                    result.notes.push_back(internal::replaced_characters_note(sp.start, end));
                }
            }
            if (!step(options.progress)) {
                result.status = ExportStatus::Cancelled;
                return result;
            }
        }
    }
    result.status = ExportStatus::Done;
    return result;
}

// ---- Entry list of the text dialogue and Chi ----

struct Entry {
    const script::DialogueEvent* event;
    FrameTime start;
    FrameTime end;  // the first frame no longer visible
};

// Every event inside each old-style segment's source range (the whole script when there are
// none), with the times a generation run would give it, sorted by start. Equal starts keep the
// order they were collected in; an entry that ends before it starts is left out.
std::vector<Entry> collect_entries(const script::Script& script,
                                   const script::ConversionSettings& settings) {
    static const std::vector<script::LegacySegment> kWholeScript(1);
    const auto& segments =
        settings.legacy_segments.empty() ? kWholeScript : settings.legacy_segments;
    const script::TimingSettings& timing = settings.timing;
    std::vector<Entry> entries;
    for (const script::LegacySegment& seg : segments) {
        for (const auto& ev : script.events()) {
            if ((seg.start && ev->start.value < seg.start->value) ||
                (seg.stop && ev->end.value > seg.stop->value)) {
                continue;
            }
            const script::UserOverride* uo = ev->user_override ? &*ev->user_override : nullptr;
            Entry e{ev.get(), {}, {}};
            e.start = uo != nullptr && uo->absolute_in
                          ? script::frame_time_from_script_time(*uo->absolute_in, timing)
                          : script::frame_time_from_script_time(ev->start, timing, seg.src_pos,
                                                                seg.dst_pos);
            if (uo != nullptr && uo->absolute_out) {
                // ABSOLUTEOUT names the last visible frame.
                e.end = script::frame_time_from_script_time(*uo->absolute_out, timing);
                if (e.end.is_set() && e.end.frame < INT32_MAX) {
                    ++e.end;
                }
            } else {
                e.end =
                    script::frame_time_from_script_time(ev->end, timing, seg.src_pos, seg.dst_pos);
            }
            if (e.start.is_set() && e.end.is_set() && !(e.end < e.start)) {
                entries.push_back(e);
            }
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.start < b.start; });
    return entries;
}

TextExport build_dialogue(script::Script& script, const script::ConversionSettings& settings,
                          const TextExportOptions& options, base::Messages& messages) {
    TextExport result;
    const script::TimingSettings& timing = settings.timing;
    std::optional<FrameTime> origin;
    if (options.film_offset) {
        if (!film_export_available(timing)) {
            messages.error(kFilmRateText);
            return result;
        }
        origin = script::frame_time_from_script_time(*options.film_offset, timing);
    }
    const std::vector<Entry> entries = collect_entries(script, settings);
    if (entries.empty()) {
        messages.error(kNoSubtitlesParsedText);
        return result;
    }

    const ExportBytes bytes(settings);
    bool ignored = false;
    size_t width = 0;
    for (const Entry& e : entries) {
        width = std::max(width, bytes.held(e.event->actor, ignored).size());
    }
    auto time_text = [&](const FrameTime& t) {
        return origin ? base::utf16_to_utf8(script::format_film_footage(t, *origin)) : smpte(t);
    };

    if (!origin) {
        put_line(result.bytes, timecode_header(timing));
    }
    start_progress(options.progress, entries.size());
    for (const Entry& e : entries) {
        bool replaced = false;
        put_line(result.bytes, "");
        const std::string lead = fit(time_text(e.start), 11) + " " + fit(time_text(e.end), 11) +
                                 " " + fit(bytes.held(e.event->actor, replaced), width) + " ";
        bool first = true;
        for (std::u16string_view piece : split_lines(e.event->plain_text)) {
            // Further lines start in the column of the first line's text.
            put_line(result.bytes,
                     (first ? lead : std::string(width + 25, ' ')) + bytes.held(piece, replaced));
            first = false;
        }
        if (replaced) {
            result.notes.push_back(internal::replaced_characters_note(e.start, e.end));
        }
        ++result.entries;
        if (!step(options.progress)) {
            result.status = ExportStatus::Cancelled;
            return result;
        }
    }
    result.status = ExportStatus::Done;
    return result;
}

TextExport build_chi(script::Script& script, const script::ConversionSettings& settings,
                     const TextExportOptions& options, base::Messages& messages) {
    TextExport result;
    const std::vector<Entry> entries = collect_entries(script, settings);
    if (entries.empty()) {
        messages.error(kNoSubtitlesParsedText);
        return result;
    }
    const ExportBytes bytes(settings);
    put_line(result.bytes, timecode_header(settings.timing));
    start_progress(options.progress, entries.size());
    for (const Entry& e : entries) {
        bool replaced = false;
        std::string text;
        bool first = true;
        for (std::u16string_view piece : split_lines(e.event->plain_text)) {
            if (!first) {
                text += "\\n";
            }
            text += bytes.held(piece, replaced);
            first = false;
        }
        put_line(result.bytes, smpte(e.start) + "," + smpte(e.end) + "," +
                                   bytes.held(e.event->actor, replaced) + "," + text);
        if (replaced) {
            result.notes.push_back(internal::replaced_characters_note(e.start, e.end));
        }
        ++result.entries;
        if (!step(options.progress)) {
            result.status = ExportStatus::Cancelled;
            return result;
        }
    }
    result.status = ExportStatus::Done;
    return result;
}

}  // namespace

bool film_export_available(const script::TimingSettings& timing) {
    return !timing.drop_frame && (timing.rate_out == 24000 || timing.rate_out == 30000);
}

script::ScriptTime default_film_offset() {
    return script::ScriptTime{360000, true};  // one hour: 3600 seconds * 100, frame 0
}

std::string timecode_header(const script::TimingSettings& timing) {
    switch (timing.rate_out) {
        case 30000:
            return "*Timecode type: SMPTE nondrop";
        case 29970:
            return "*Timecode type: SMPTE drop";
        case 25000:
            return "*Timecode type: PAL/EBU";
        default:
            break;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "*Timecode is: %.3f fps", timing.rate_in * 0.001);
    return buf;
}

std::string notes_heading(TextExportKind kind) {
    const char* name = "SubRip";
    switch (kind) {
        case TextExportKind::Srt:
            break;
        case TextExportKind::CaptionsInc:
            name = "Captions Inc.";
            break;
        case TextExportKind::Dialogue:
            name = "text dialogue";
            break;
        case TextExportKind::Chi:
            name = "Chi";
            break;
    }
    return std::string("The following messages were produced while exporting to ") + name +
           " format:";
}

TextExport build_text_export(script::Script& script, TextExportKind kind,
                             const TextExportOptions& options, base::Messages& messages) {
    script::ConversionSettings settings = script.settings;
    if (!script::validate_timing(settings.timing, settings.iauthor(), &messages, false)) {
        return {};
    }
    switch (kind) {
        case TextExportKind::Srt:
            return build_srt(script, settings, options, messages);
        case TextExportKind::CaptionsInc:
            return internal::build_captions_inc(script, settings, options, messages);
        case TextExportKind::Dialogue:
            return build_dialogue(script, settings, options, messages);
        case TextExportKind::Chi:
            return build_chi(script, settings, options, messages);
    }
    return {};
}

ExportStatus export_text(script::Script& script, TextExportKind kind, const std::string& path,
                         const TextExportOptions& options, base::Messages& messages,
                         TextExport* result) {
    TextExport built = build_text_export(script, kind, options, messages);
    if (built.status == ExportStatus::Done &&
        !base::write_file_atomically(path, built.bytes, formats::kScriptOpenErrorText,
                                     "Error writing to %s", messages)) {
        built.status = ExportStatus::Failed;
    }
    if (built.status == ExportStatus::Done && !built.notes.empty()) {
        std::string text = notes_heading(kind);
        for (const std::string& n : built.notes) {
            text += "\r\n" + n;
        }
        messages.warn(text);
    }
    const ExportStatus status = built.status;
    if (result != nullptr) {
        *result = std::move(built);
    }
    return status;
}

}  // namespace tessara::formats
