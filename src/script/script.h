#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "script/event_text.h"
#include "script/settings.h"
#include "script/style.h"
#include "script/style_override.h"
#include "script/timecode.h"

namespace tessara::script {

struct DialogueEvent;

enum class LineKind : uint8_t { Style = 0, Dialogue = 1, EventsAnchor = 2, Other = 3, Deleted = 4 };

// One kept line of the file, without its line end. Style and dialogue lines link to what was
// parsed from them.
struct ScriptLine {
    LineKind kind = LineKind::Other;
    std::u16string text;
    Style* style = nullptr;
    DialogueEvent* event = nullptr;
};

// One dialogue event of the script.
struct DialogueEvent {
    ScriptTime start;
    ScriptTime end;
    std::u16string style_name;  // without a leading '*'
    std::u16string actor;
    // The line's own MarginL/R/V (when not zero) and the \a alignment of its text.
    std::optional<StyleOverride> margin_override;
    std::u16string plain_text;
    int32_t blink_period = 0;  // hundredths of a second; 0 or 10-500
    bool absolute = false;
    std::optional<UserOverride> user_override;
    int32_t change_counter = 0;
    DialogueEvent* blink_head = nullptr;  // the first copy, for later copies of a blinking event
    ScriptLine* line = nullptr;
    const Style* bound_style = nullptr;
    int32_t bound_style_id = 0;  // the bound style's id when it was bound
    // The scanned text, with the bound style's colours filled in. The assigned colours and
    // classes keep their defaults here: a build draws its own copies (timeline::EventWork).
    std::vector<CSubSegment> runs;
    // What the runs were scanned with. In an 8-bit script their texts are decoded with the code
    // pages these name, so binding scans the line again when the options that apply change.
    ScanOptions scanned_with;
};

// The column map of the style section's Format line: the column number of each SSA V4 style
// field, -1 when absent.
struct StyleFormat {
    enum Field {
        Name,
        Fontname,
        Fontsize,
        PrimaryColour,
        SecondaryColour,
        TertiaryColour,
        BackColour,
        Bold,
        Italic,
        BorderStyle,
        Outline,
        Shadow,
        Alignment,
        MarginL,
        MarginR,
        MarginV,
        AlphaLevel,
        Encoding,
        kFieldCount
    };
    static const std::array<std::u16string_view, kFieldCount>& field_names();

    std::array<int32_t, kFieldCount> column;

    static StyleFormat identity();
    // From the value of a Format line.
    static StyleFormat from_format_line(std::u16string_view value);
};

// The values of a style section line (Format or Style) as the program splits them: at commas,
// consecutive commas counting as one, each value trimmed of spaces. Views into `value`.
std::vector<std::u16string_view> split_style_columns(std::u16string_view value);

// The document: one SSA V4 script with its settings. Every line of the file is kept so that
// saving reproduces it; the program's own comment lines are regenerated instead.
class Script {
  public:
    static constexpr int32_t kDefaultSsaWidth = 1024;
    static constexpr int32_t kDefaultSsaHeight = 768;
    static constexpr int32_t kDefaultOutputWidth = 720;
    static constexpr int32_t kDefaultOutputHeight = 478;

    Script();
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    ConversionSettings settings;
    int32_t ssa_width = kDefaultSsaWidth;
    int32_t ssa_height = kDefaultSsaHeight;
    int32_t output_width = kDefaultOutputWidth;
    int32_t output_height = kDefaultOutputHeight;

    // Empties the script; reset_settings also returns the settings to their defaults.
    // treat_n_as_N is the per-user preference, read again by every reset.
    void reset(bool reset_settings, bool treat_n_as_N = false);

    const std::vector<std::unique_ptr<DialogueEvent>>& events() const { return m_events; }
    const std::vector<std::unique_ptr<Style>>& styles() const { return m_styles; }
    const std::vector<std::unique_ptr<ScriptLine>>& lines() const { return m_lines; }
    const std::optional<StyleFormat>& style_format() const { return m_style_format; }
    const Style& default_style() const { return m_default_style; }

    // Exact, case-sensitive lookup.
    Style* find_style(std::u16string_view name);
    const Style* find_style(std::u16string_view name) const;
    // The style an event naming `name` is bound to: the named one, else the default style.
    const Style& style_or_default(std::u16string_view name) const;

    // Building the document (the reader and the editor).
    ScriptLine& append_line(LineKind kind, std::u16string text);
    Style& append_style(std::unique_ptr<Style> style);
    DialogueEvent& append_event(std::unique_ptr<DialogueEvent> event);
    void set_style_format(StyleFormat format) { m_style_format = format; }
    // Removes an event from the list (its line is left to the caller).
    std::unique_ptr<DialogueEvent> take_event(size_t index);
    // Inserts an event before `index` (at the end when index is the list's size).
    DialogueEvent& insert_event(size_t index, std::unique_ptr<DialogueEvent> event);
    // Position of the event in the list, or npos.
    size_t event_index(const DialogueEvent& event) const;
    // Inserts a kept line before `index` (at the end when index is the number of lines).
    ScriptLine& insert_line(size_t index, LineKind kind, std::u16string text);

    // Binds every event to its style (the default style when its name matches none) and fills
    // the runs' colours. In an 8-bit script the runs' texts are decoded with the style's
    // character set, so an event whose scan options no longer match those of its style and the
    // settings (its style, the style's Encoding, "CodePage" or "MBCodePage" changed) is scanned
    // again from its kept line. An event without a line keeps its runs.
    void bind_events();
    void bind_event(DialogueEvent& ev);
    // The output size the layout scales margins and fonts to: ResX by ResY less Minus2, taken
    // again whenever those settings change (loading, the rendering dialog, --set).
    void follow_output_size();
    // A style precedence list kept to existing styles, with the unlisted ones appended in file
    // order.
    std::vector<std::u16string> completed_style_order(std::vector<std::u16string> order) const;
    // Completes the settings' style order list and sets the styles' priorities from it.
    void order_styles();

    // Options of the run scanner for the text of an event of `style` (or of the style an event
    // naming `style_name` is bound to).
    ScanOptions scan_options(const Style& style) const;
    ScanOptions scan_options(std::u16string_view style_name) const;

  private:
    std::vector<std::unique_ptr<DialogueEvent>> m_events;
    std::optional<StyleFormat> m_style_format;
    std::vector<std::unique_ptr<Style>> m_styles;
    Style m_default_style;
    std::vector<std::unique_ptr<ScriptLine>> m_lines;
};

}  // namespace tessara::script
