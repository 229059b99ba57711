#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "document/preview_build.h"
#include "formats/text_exports.h"
#include "output/generation.h"
#include "output/verify.h"
#include "script/script.h"
#include "script/script_tools.h"

namespace tessara::base {
class Messages;
class Preferences;
class Progress;
}  // namespace tessara::base

// The document: one open script with its settings and what the program keeps beside it, and
// every operation a menu of the desktop program or a command of the command line runs on it.
// Operations report through base::Messages (and base::Progress for long work) at the point of
// failure and return whether they succeeded; the front ends only present.
namespace tessara::document {

// A setting given as text ("ResX", "704"), as the command line's --set and a settings line
// of the script give them.
using SettingText = std::pair<std::string, std::string>;

// Which script-wide tool to run.
enum class Tool { Snap, Quotes, Unicode, Separate };

class Document {
  public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Opens an SSA script, or an old settings file (".tsraconf" in any case) and the script it
    // names. On failure the document holds no file and the reason has been reported.
    bool open(const std::string& path, const base::Preferences* preferences,
              base::Messages& messages);
    // Forgets the file: an empty document.
    void close();

    // Changes settings after loading, each checked like a settings line; segments given this
    // way count at the frame rates set by then. The first setting refused is returned (nothing
    // after it is applied); none: all applied, and the document is modified.
    std::optional<SettingText> apply_settings(const std::vector<SettingText>& settings,
                                              base::Messages& messages);

    // Writes the script back: in place, or to `path` (which the document then names, and
    // which counts as the first save since opening). A successful save leaves the document
    // unmodified.
    bool save(base::Messages& messages);
    bool save_as(const std::string& path, base::Messages& messages);
    // Whether the script has been saved under a name of the user's choice since it was opened.
    // Until then the desktop program's Save goes through Save As, so that the file as it was
    // opened stays as a backup.
    bool saved_once() const { return m_saved_once; }

    // Runs a script-wide tool. `rate` is the frame rate for Snap (default: the input rate).
    script::ToolOutcome run_tool(Tool tool, const std::optional<std::string>& rate,
                                 base::Messages& messages);

    // The generation run. `output` replaces the output script path; without it the path's
    // extension follows the script type. With skip_bitmaps only the scripts are written. The
    // summary tells what was written. The last preview build is kept: a build never changes
    // the script, and the run builds its own.
    bool generate(const std::optional<std::string>& output, base::Progress* progress,
                  base::Messages& messages, output::GenerationSummary& summary);
    bool skip_bitmaps() const { return m_skip_bitmaps; }
    void set_skip_bitmaps(bool skip) { m_skip_bitmaps = skip; }
    // "FOLDER/TITLE_NNNN.EXT": how the bitmaps of the last run are named.
    std::string bitmap_name_pattern() const;

    // Reads back the output of a generation run and compares it with a fresh run of the
    // script (output::verify_output). `output` replaces the output script path, as for
    // generate(). False when nothing could be compared (reported).
    bool verify(const std::optional<std::string>& output, const output::VerifyOptions& options,
                base::Messages& messages, output::VerifyReport& report);

    // A text export to `path`.
    bool export_text(formats::TextExportKind kind, const std::string& path,
                     formats::TextExportOptions options, base::Messages& messages,
                     formats::TextExport& result);

    // The report of the subtitles the DVD segments would cut, each widened by `distance`
    // frames; nothing when the check cannot run (reported).
    std::optional<std::string> check_segments(int64_t distance, base::Messages& messages);
    // The safety distance of the last check (0-99 frames), kept while the document is open. It
    // is not stored in the script, so changing it does not mark the document modified.
    int32_t segment_check_distance() const { return m_segment_check_distance; }
    void set_segment_check_distance(int32_t frames) { m_segment_check_distance = frames; }

    // Builds every subpicture (colours, renderings, placement) for looking at them, and keeps
    // the build as the document's last one. Null when the frame rates are not set or a subtitle
    // cannot be rendered (reported).
    const PreviewBuild* build_preview(base::Progress* progress, base::Messages& messages);
    const PreviewBuild* last_build() const { return m_build.get(); }
    // The last build, for the one who changes what it holds (change ids of a reload).
    PreviewBuild& last_build_for_update() { return *m_build; }

    // Draws event `index` (numbered from 0, blink copies included) as it looks shown alone: its
    // runs in the colour mode's classes and colours over BackColor. Empty when there is no such
    // event or nothing of it can be drawn (reported).
    std::optional<DrawnEvent> draw_event(size_t index, base::Messages& messages);
    // Draws `text` (SSA event text) in `style` as an event of that style is drawn alone: the
    // style editor's live sample. Empty when nothing of it can be drawn.
    std::optional<DrawnEvent> draw_sample(const script::Style& style, std::u16string_view text,
                                          base::Messages& messages) const;

    // The script as its saved file would hold it, to go back to later (the preview's undo);
    // nothing when it cannot be written as it stands.
    std::optional<std::string> snapshot() const;
    // Puts the script back as a snapshot held it: the file name and the saved-once flag stay, the
    // document is modified and the last build is gone. False (reported) when it does not read.
    bool restore(const std::string& snapshot, base::Messages& messages);

    script::Script& script() { return *m_script; }
    const script::Script& script() const { return *m_script; }
    bool has_file() const;
    bool modified() const;
    const std::u16string& source_path() const;

  private:
    std::unique_ptr<script::Script> m_script;
    bool m_saved_once = false;
    bool m_skip_bitmaps = false;
    int32_t m_segment_check_distance = 0;
    // Built after m_script and pointing into it: destroyed first.
    std::unique_ptr<PreviewBuild> m_build;
};

// Text of the script as a person reads it: an 8-bit script's bytes decoded with the system
// code page (as Latin-1 where they do not decode), a Unicode script's text as it is. UTF-8.
std::string display_text(const script::Script& script, std::u16string_view text);

// The code page an 8-bit script decodes the runs of `style`'s events with (those without \fe):
// that of the forced "CodePage" character set, else of the style's Encoding; the system code
// page for character sets 0 and 1. Nothing in a Unicode script, whose text is taken as read, or
// for a character set without a code page.
std::optional<int> style_code_page(const script::Script& script, const script::Style& style);

// An event's plain text as a person reads it: in an 8-bit script decoded as a whole with the
// code page of its style (style_code_page()), whatever \fe its runs carry; else as
// display_text() shows it. UTF-8.
std::string display_event_text(const script::Script& script, const script::DialogueEvent& event);

}  // namespace tessara::document
