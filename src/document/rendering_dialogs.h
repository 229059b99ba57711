#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "script/settings.h"
#include "script/style.h"

namespace tessara::base {
class Messages;
}

// The rules of the dialogs that shape what is drawn: the rendering options, the style
// precedence list, the style editor and the colour keys. They follow dialogs.h: a plain struct
// of what the fields show, a fill_ function, and an apply_ function that is the dialog's OK
// (false, with the first problem reported, keeps the dialog open). The window only presents the
// fields and calls these functions, also when a field changes (the interdependency rules).
namespace tessara::document {

class Document;
struct CharsetName;

// --- Rendering options -----------------------------------------------------------------------

extern const char* const kVerticalResolutionNumberText;
extern const char* const kVerticalResolutionValueText;
extern const char* const kHorizontalResolutionNumberText;
extern const char* const kHorizontalResolutionValueText;
extern const char* const kFixedWidthNumberText;
extern const char* const kFixedWidthValueText;
extern const char* const kFixedWidthTooWideText;
extern const char* const kLineSpacingNumberText;
extern const char* const kLineSpacingValueText;
extern const char* const kCharSpacingNumberText;
extern const char* const kCharSpacingValueText;

// The script types in the order of their identifiers, with this dialog's labels.
struct ScriptTypeChoice {
    std::string_view label;
    script::ScriptType type;
};
std::span<const ScriptTypeChoice> rendering_script_types();

// An output resolution the screen size list offers. The last row, "Custom", has no size: it
// leaves both fields as they are.
struct ResolutionPreset {
    std::string_view label;
    int32_t width;  // output pixels; 0 for Custom
    int32_t height;
};
std::span<const ResolutionPreset> resolution_presets();
inline constexpr size_t kCustomResolution = 10;  // index of "Custom"

// The preset of that exact size, else kCustomResolution.
size_t resolution_preset_for(int32_t width, int32_t height);

// Labels of the "Comp" setting's three values, by value.
std::span<const std::string_view, 3> font_scaling_labels();
// Label of a colour mode ("Colors" 1-3); any other value is named as 3.
std::string_view colour_mode_label(int32_t mode);
// How the charset list shows an entry: "use style's" alone, any other as "force NAME".
std::string charset_choice_label(const CharsetName& charset);

// An entry of the multibyte code page list.
struct CodePageChoice {
    int32_t code_page;  // 0: the system default
    std::string label;  // UTF-8
};
// "System default" (0), then every code page from 1 to 65535 that can be converted, in
// increasing number, labelled with the number and the code page's name. Built on first use and
// kept for the rest of the run.
const std::vector<CodePageChoice>& code_page_choices();

struct RenderingDialog {
    // File format
    script::ScriptType script_type = script::ScriptType::SON;
    int32_t image_type = 0;  // id in imaging::image_type_table()
    // Text
    std::u16string line_spacing;  // percent; empty is the default (100)
    std::u16string char_spacing;  // output pixels; empty is 0
    bool balanced_wrap = true;
    bool no_horizontal_collisions = false;
    bool intelligent_collisions = true;
    bool collision_foresee = true;
    int32_t charset = -1;  // a value of charset_names(); -1 keeps each style's own
    bool right_to_left = false;
    int32_t mb_code_page = 0;  // a value of code_page_choices()
    // Screen and bitmap size
    size_t resolution_preset = kCustomResolution;
    std::u16string horizontal;   // output pixels
    std::u16string vertical;     // output pixels
    std::u16string fixed_width;  // output pixels; empty for none
    bool full_width = false;
    bool minus2 = false;
    bool minus3 = false;
    bool dont_clip = false;
    bool clip_minus_one_pixel = false;
    int32_t font_scaling = 1;  // index of font_scaling_labels()
    // Colour rendering
    int32_t colour_mode = 2;  // 1-3
    bool sticky_colours = true;
    // The colour keys of DVD Maestro and Scenarist bitmaps (Color0-Color3), edited by the colour
    // keys dialog, and the background colour of every other type's bitmaps.
    std::array<script::Colour, 4> colour_keys = {};
    script::Colour background_colour = 0;
};

RenderingDialog fill_rendering_dialog(const Document& document);

// Interdependencies: what the window enables, checks and shows while the dialog is open.
// Scenarist needs unclipped bitmaps: the box is checked and cannot be changed.
bool dont_clip_forced(script::ScriptType type);
// Intelligent collisions take over horizontal collisions: the box is cleared and disabled.
bool no_horizontal_collisions_enabled(bool intelligent_collisions);
// DVD Maestro and Scenarist paint their bitmaps in colour keys: the Colour keys button is
// enabled, and the Background colour button is disabled with its swatch hidden. Every other type
// paints the background colour: the reverse.
bool colour_keys_enabled(script::ScriptType type);
bool background_colour_enabled(script::ScriptType type);
// Applies the rules above to the fields; the window calls it after every change, and fill and
// OK go through it too.
void enforce_rendering_rules(RenderingDialog& dialog);

// The resolution list changed: a preset puts its size into the fields; Custom leaves them.
void choose_resolution_preset(RenderingDialog& dialog, size_t index);
// The resolution fields changed: the preset they match, else Custom.
size_t resolution_preset_of(const RenderingDialog& dialog);

// OK: vertical resolution, horizontal resolution, fixed width, line spacing and character
// spacing are checked in this order (first failure reported); a line spacing of 100 is stored
// as 0, the default. Everything else is stored as the rules above leave it. The output path
// takes the script type's extension, and the script's output size (used for scaling margins
// and fonts) follows the new resolution at once, as a reload would set it.
bool apply_rendering_dialog(Document& document, const RenderingDialog& dialog,
                            base::Messages& messages);

// --- Colour keys (DVD Maestro and Scenarist) -------------------------------------------------

extern const char* const kPickEveryConceptText;

inline constexpr size_t kColourKeyConceptCount = 4;
// The grid's rows, in the order of the Color0-Color3 settings they choose.
std::span<const std::string_view, kColourKeyConceptCount> colour_key_concepts();

// The grid's columns: the colours a key may take (red in the low byte).
struct KeyColour {
    std::string_view label;
    script::Colour colour;
};
std::span<const KeyColour> key_colours();

struct ColourKeysDialog {
    // Per concept, the column chosen; none when the key is not one of the columns.
    std::array<std::optional<size_t>, kColourKeyConceptCount> choice;
};

ColourKeysDialog fill_colour_keys_dialog(const std::array<script::Colour, 4>& keys);
// The Default button: the keys every new script starts with.
ColourKeysDialog default_colour_keys_dialog();
// A radio button was clicked. A key colour serves one concept only (two concepts sharing one
// key could not be told apart in the bitmaps), so the row that held the column loses it.
void pick_colour_key(ColourKeysDialog& dialog, size_t concept_row, size_t column);
// OK: every row needs a column of its own (kPickEveryConceptText); the keys are written into
// `keys`, the rendering dialog's copy, which that dialog's OK stores.
bool apply_colour_keys_dialog(const ColourKeysDialog& dialog, std::array<script::Colour, 4>& keys,
                              base::Messages& messages);

// --- Style precedence ------------------------------------------------------------------------

struct StylePrecedenceDialog {
    // Style names, highest precedence first, as held (document::display_text shows them).
    std::vector<std::u16string> order;
};

// The stored StyleOrder kept to existing styles, then the unlisted styles in file order.
StylePrecedenceDialog fill_style_precedence_dialog(const Document& document);
// Higher and Lower: the selected style swaps with its neighbour. Returns the new selection
// (unchanged at either end of the list or for an index past it).
size_t raise_style(StylePrecedenceDialog& dialog, size_t selected);
size_t lower_style(StylePrecedenceDialog& dialog, size_t selected);
// The read-only description of a style, one property a line, UTF-8. Empty for an unknown name.
std::string style_description(const Document& document, std::u16string_view style_name);
// OK: stores "StyleOrder" and the styles' priorities follow it; modified only when the order
// changed.
void apply_style_precedence_dialog(Document& document, const StylePrecedenceDialog& dialog);

// --- Style editor ----------------------------------------------------------------------------

extern const char* const kOutlineSizeText;
extern const char* const kInvalidVerticalMarginText;
extern const char* const kInvalidLeftMarginText;
extern const char* const kInvalidRightMarginText;
extern const char* const kStyleUpdateFailedText;

inline constexpr std::u16string_view kDefaultSampleText =
    u"Sample text.\\NSecond line of text. {\\i0}UU{\\i1}UU{\\i0}UU";

// Margins a field accepts, in the scale it shows. Style lines hold no negative margin (the
// reader refuses such a line, and the style with it), so none is taken.
inline constexpr int32_t kMaxStyleMargin = 1000;

// What the "internal scale" box converts with: the script's own coordinates against output
// pixels, and whether font sizes are stored in the old scale.
struct StyleEditorScale {
    int32_t ssa_width = 0;
    int32_t ssa_height = 0;
    int32_t output_width = 0;
    int32_t output_height = 0;
    bool scale_screen = true;  // margins are scaled to the output at all
    bool old_scale = false;
};

struct StyleEditor {
    std::u16string style_name;  // the style edited, not editable
    // Font, as the font picker shows it: the size is the point size text is drawn at.
    std::u16string face;
    int32_t font_size = 24;
    bool bold = false;
    bool italic = false;
    int32_t charset = 0;
    script::Colour text_colour = 0;
    script::Colour outline_colour = 0;
    int32_t outline_size = 0;
    script::HAlign halign = script::HAlign::Centre;
    script::VAlign valign = script::VAlign::Bottom;
    // Margin texts as typed, in the scale the internal_scale box chooses.
    std::u16string left_margin;
    std::u16string right_margin;
    std::u16string vertical_margin;        // the bottom or top margin, by vertical alignment
    std::optional<int32_t> extra_spacing;  // output pixels; none: the global character spacing
    int32_t line_spacing = 0;              // percent; 0: the global line spacing
    int32_t italics_left = 0;              // percent of the run's height
    int32_t italics_right = 0;
    int32_t aa_average = 50;
    int32_t face_threshold = 85;
    int32_t aa_threshold = 200;
    bool kerning = true;
    bool ligatures = true;
    bool diacritics = true;
    std::u16string sample_text{kDefaultSampleText};
    // Margins shown in output pixels and sizes as drawn, instead of the script's own scale.
    bool internal_scale = false;

    // Bookkeeping of the scale switch: the script-scale value each margin field (left, right,
    // vertical) held and the text it was shown as. A field left as shown converts back to that
    // exact value, so switching back and forth never moves a margin by rounding.
    struct ScaledMargin {
        int32_t script_value;
        std::u16string shown;
    };
    std::array<std::optional<ScaledMargin>, 3> scaled_margins;
    StyleEditorScale scale;
};

// The editor for a style of the document; none for an unknown name.
std::optional<StyleEditor> fill_style_editor(const Document& document,
                                             std::u16string_view style_name);
// "Bottom margi&n", "Top margi&n" or "Vertical margi&n".
std::string_view vertical_margin_label(script::VAlign valign);
// The internal scale box changed: the margin fields are converted into the other scale (a text
// that is not a number is left as it is).
void set_internal_scale(StyleEditor& editor, bool on);
// The font size as shown beside the face: the stored size in the script's scale, the drawn size
// in the internal one (they differ only with the old-scale compatibility bit).
int32_t shown_font_size(const StyleEditor& editor);

// The style as the fields describe it, for the live sample: `original` with the fields applied
// (a margin field that is not a number keeps the original's margin) and a fresh id. Nothing is
// checked and the document is not touched.
script::Style style_from_editor(const StyleEditor& editor, const script::Style& original);

// OK: outline size, vertical, left and right margin are checked in this order. A style whose
// line and extras would be written as before is left alone (not modified); otherwise the style
// takes the fields, its line is rewritten, the events are bound to it again and the document is
// marked modified. A line that cannot be rewritten reports kStyleUpdateFailedText and changes
// nothing.
bool apply_style_editor(Document& document, const StyleEditor& editor, base::Messages& messages);

}  // namespace tessara::document
