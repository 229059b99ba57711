#include "document/rendering_dialogs.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "base/int_math.h"
#include "base/messages.h"
#include "base/text.h"
#include "document/dialog_support.h"
#include "document/document.h"
#include "document/summary.h"
#include "formats/script_text.h"
#include "formats/script_types.h"
#include "imaging/image_types.h"
#include "render/font_engine.h"
#include "script/codepage.h"
#include "script/script.h"
#include "script/script_edit.h"

namespace tessara::document {

const char* const kVerticalResolutionNumberText = "Vertical Resolution: invalid number";
const char* const kVerticalResolutionValueText = "Vertical Resolution: invalid value";
const char* const kHorizontalResolutionNumberText = "Horizontal Resolution: invalid number";
const char* const kHorizontalResolutionValueText = "Horizontal Resolution: invalid value";
const char* const kFixedWidthNumberText = "Fixed width: invalid number";
const char* const kFixedWidthValueText = "Fixed width: invalid value";
const char* const kFixedWidthTooWideText =
    "Fixed width: cannot be greater than horizontal resolution";
const char* const kLineSpacingNumberText = "Line spacing: invalid number";
const char* const kLineSpacingValueText = "Line spacing: invalid value";
const char* const kCharSpacingNumberText = "Char spacing: invalid number";
const char* const kCharSpacingValueText = "Char spacing: invalid value";
const char* const kPickEveryConceptText = "You must pick colors for every concept.";
const char* const kOutlineSizeText = "The outline size must be between 0 and 4";
const char* const kInvalidVerticalMarginText = "Invalid vertical margin";
const char* const kInvalidLeftMarginText = "Invalid left margin";
const char* const kInvalidRightMarginText = "Invalid right margin";
const char* const kStyleUpdateFailedText = "Internal error updating the style";

namespace {

using base::format_int;
using script::Colour;
using script::HAlign;
using script::ScriptType;
using script::Style;
using script::VAlign;

constexpr std::array<ScriptTypeChoice, script::kScriptTypeCount> kScriptTypes = {{
    {".son (DVD Maestro)", ScriptType::SON},
    {".txt (I-Author)", ScriptType::IAU},
    {".sst (Scenarist)", ScriptType::SST},
    {".sub (Philips IMG)", ScriptType::IMG},
    {".sub (submux)", ScriptType::SMX},
    {".usf (Ultech)", ScriptType::USF},
    {".scr (Toshiba)", ScriptType::SCR},
    {".xml (spumux)", ScriptType::SPU},
    {".idx (VobSub)", ScriptType::VOBSUB},
}};

constexpr std::array<ResolutionPreset, kCustomResolution + 1> kResolutionPresets = {{
    {"720x480 (MPEG-2 NTSC DVD)", 720, 480},
    {"704x480 (MPEG-2 NTSC DVD)", 704, 480},
    {"480x480 (MPEG-2 NTSC SVCD)", 480, 480},
    {"352x480 (MPEG-2 NTSC DVD)", 352, 480},
    {"720x576 (MPEG-2 PAL/SECAM DVD)", 720, 576},
    {"704x576 (MPEG-2 PAL/SECAM DVD)", 704, 576},
    {"480x576 (MPEG-2 PAL/SECAM SVCD)", 480, 576},
    {"352x576 (MPEG-2 PAL/SECAM DVD)", 352, 576},
    {"352x240 (MPEG-1 NTSC DVD)", 352, 240},
    {"352x288 (MPEG-1 PAL/SECAM DVD)", 352, 288},
    {"Custom", 0, 0},
}};

constexpr std::array<std::string_view, 3> kFontScalingLabels = {"No correction", "4:3 correction",
                                                                "16:9 correction"};

constexpr std::array<std::string_view, 3> kColourModeLabels = {"1 text, 1 anti-alias, 1 outline",
                                                               "2 text, 1 outline", "3 text"};

// Output sizes and fixed widths the settings accept.
constexpr int32_t kMinResolution = 60;
constexpr int32_t kMaxResolution = 4800;
constexpr int32_t kMaxLineSpacing = 2000;
constexpr int32_t kMaxCharSpacing = 2000;
// A line spacing of 100 % is the default, which the settings hold as 0.
constexpr int32_t kNormalLineSpacing = 100;
// Style line limits: a font size outside them makes the reader refuse the line.
constexpr int32_t kMaxStoredFontSize = 2000;
constexpr int32_t kMaxOutline = 4;
constexpr int32_t kMaxCharset = 255;

constexpr std::array<std::string_view, kColourKeyConceptCount> kColourKeyConcepts = {
    "Primary text color", "Anti-alias or second text color", "Outline or third text color",
    "Background"};

constexpr std::array<KeyColour, 8> kKeyColours = {{
    {"Black", 0x000000},
    {"Blue", 0xFF0000},
    {"Green", 0x00FF00},
    {"Cyan", 0xFFFF00},
    {"Red", 0x0000FF},
    {"Magenta", 0xFF00FF},
    {"Yellow", 0x00FFFF},
    {"White", 0xFFFFFF},
}};

bool is_blank_text(std::u16string_view text) {
    return base::trim_blanks(text).empty();
}

// A typed whole number within [lo, hi]; otherwise the field's message (not a number, or out of
// range) is reported.
std::optional<int32_t> read_number(std::u16string_view text, int32_t lo, int32_t hi,
                                   const char* not_a_number, const char* out_of_range,
                                   base::Messages& messages) {
    const std::optional<int32_t> value = base::parse_int_exact(base::trim_blanks(text));
    if (!value) {
        messages.error(not_a_number);
        return std::nullopt;
    }
    if (*value < lo || *value > hi) {
        messages.error(out_of_range);
        return std::nullopt;
    }
    return value;
}

// As read_number, with an empty field standing for 0.
std::optional<int32_t> read_optional_number(std::u16string_view text, int32_t lo, int32_t hi,
                                            const char* not_a_number, const char* out_of_range,
                                            base::Messages& messages) {
    if (is_blank_text(text)) {
        return 0;
    }
    return read_number(text, lo, hi, not_a_number, out_of_range, messages);
}

std::u16string rgb_text(Colour c) {
    return base::to_u16("RGB(" + std::to_string(formats::red_of(c)) + ", " +
                        std::to_string(formats::green_of(c)) + ", " +
                        std::to_string(formats::blue_of(c)) + ")");
}

std::string_view halign_name(HAlign a) {
    switch (a) {
        case HAlign::Left:
            return "left";
        case HAlign::Right:
            return "right";
        case HAlign::Centre:
            break;
    }
    return "centre";
}

std::string_view valign_name(VAlign a) {
    switch (a) {
        case VAlign::Top:
            return "top";
        case VAlign::Middle:
            return "middle";
        case VAlign::Bottom:
            break;
    }
    return "bottom";
}

// --- Style editor scales ---

enum MarginField : size_t { kLeftMargin, kRightMargin, kVerticalMargin };

const std::u16string& margin_text(const StyleEditor& editor, size_t field) {
    switch (field) {
        case kLeftMargin:
            return editor.left_margin;
        case kRightMargin:
            return editor.right_margin;
        default:
            return editor.vertical_margin;
    }
}

std::u16string& margin_text(StyleEditor& editor, size_t field) {
    return const_cast<std::u16string&>(margin_text(std::as_const(editor), field));
}

// Margins are scaled to the output as the layout scales them: horizontal ones by the widths,
// vertical ones by the heights, with the platform's rounding. Nothing is scaled without both
// sizes or with ScaleScreen off.
int32_t scale_margin(const StyleEditorScale& scale, size_t field, int32_t value, bool to_output) {
    const bool horizontal = field != kVerticalMargin;
    const int32_t script_size = horizontal ? scale.ssa_width : scale.ssa_height;
    const int32_t output_size = horizontal ? scale.output_width : scale.output_height;
    if (!scale.scale_screen || script_size <= 0 || output_size <= 0) {
        return value;
    }
    return to_output ? base::muldiv_round(value, output_size, script_size)
                     : base::muldiv_round(value, script_size, output_size);
}

// The number a margin field shows, when it is one a style can hold.
std::optional<int32_t> shown_margin(const StyleEditor& editor, size_t field) {
    const std::optional<int32_t> value =
        base::parse_int_exact(base::trim_blanks(margin_text(editor, field)));
    if (!value || *value < 0 || *value > kMaxStyleMargin) {
        return std::nullopt;
    }
    return value;
}

// A margin field's value in the script's scale; none when the field holds no valid margin.
std::optional<int32_t> script_margin(const StyleEditor& editor, size_t field) {
    const std::optional<int32_t> shown = shown_margin(editor, field);
    if (!shown || !editor.internal_scale) {
        return shown;
    }
    const auto& kept = editor.scaled_margins[field];
    if (kept && kept->shown == margin_text(editor, field)) {
        return kept->script_value;
    }
    return scale_margin(editor.scale, field, *shown, false);
}

const Style* find_style(const Document& document, std::u16string_view name) {
    return document.script().find_style(name);
}

}  // namespace

// --- Rendering options -----------------------------------------------------------------------

std::span<const ScriptTypeChoice> rendering_script_types() {
    return kScriptTypes;
}

std::span<const ResolutionPreset> resolution_presets() {
    return kResolutionPresets;
}

size_t resolution_preset_for(int32_t width, int32_t height) {
    for (size_t i = 0; i < kCustomResolution; ++i) {
        if (kResolutionPresets[i].width == width && kResolutionPresets[i].height == height) {
            return i;
        }
    }
    return kCustomResolution;
}

std::span<const std::string_view, 3> font_scaling_labels() {
    return kFontScalingLabels;
}

std::string_view colour_mode_label(int32_t mode) {
    return kColourModeLabels[mode == 1 ? 0 : mode == 2 ? 1 : 2];
}

std::string charset_choice_label(const CharsetName& charset) {
    return charset.value == -1 ? std::string(charset.name) : "force " + std::string(charset.name);
}

const std::vector<CodePageChoice>& code_page_choices() {
    // Asking about every number costs a noticeable moment, so the list is made once.
    static const std::vector<CodePageChoice> choices = [] {
        std::vector<CodePageChoice> list{{0, "System default"}};
        for (int32_t cp = 1; cp <= 65535; ++cp) {
            if (script::is_valid_code_page(cp)) {
                list.push_back({cp, std::to_string(cp) + " (" + script::code_page_name(cp) + ")"});
            }
        }
        return list;
    }();
    return choices;
}

RenderingDialog fill_rendering_dialog(const Document& document) {
    const script::ConversionSettings& s = document.script().settings;
    RenderingDialog d;
    d.script_type = s.scr_type;
    d.image_type = imaging::image_type_id(s.img_type);
    d.line_spacing = format_int(s.line_spacing == 0 ? kNormalLineSpacing : s.line_spacing);
    d.char_spacing = format_int(s.char_spacing);
    d.balanced_wrap = s.bw_wrap;
    d.no_horizontal_collisions = s.no_hrz_coll;
    d.intelligent_collisions = s.intell_coll;
    d.collision_foresee = s.coll_foresee;
    d.charset = s.code_page;
    d.right_to_left = s.right_to_left;
    d.mb_code_page = s.mb_code_page;
    d.horizontal = format_int(s.res_x);
    d.vertical = format_int(s.res_y);
    d.fixed_width = s.fixed_width > 0 ? format_int(s.fixed_width) : std::u16string();
    d.full_width = s.full_width;
    d.minus2 = s.minus2 == 2;
    d.minus3 = s.minus2 == 3;
    d.dont_clip = s.dont_clip;
    d.clip_minus_one_pixel = s.clip_minus_one_pixel;
    d.font_scaling = s.comp;
    d.colour_mode = s.colors;
    d.sticky_colours = s.sticky_colors;
    d.colour_keys = s.fixed_colors;
    d.background_colour = s.output_background;
    d.resolution_preset = resolution_preset_for(s.res_x, s.res_y);
    enforce_rendering_rules(d);
    return d;
}

bool dont_clip_forced(ScriptType type) {
    return type == ScriptType::SST;
}

bool no_horizontal_collisions_enabled(bool intelligent_collisions) {
    return !intelligent_collisions;
}

bool colour_keys_enabled(ScriptType type) {
    return type == ScriptType::SON || type == ScriptType::SST;
}

bool background_colour_enabled(ScriptType type) {
    return !colour_keys_enabled(type);
}

void enforce_rendering_rules(RenderingDialog& dialog) {
    if (dont_clip_forced(dialog.script_type)) {
        dialog.dont_clip = true;
    }
    if (!no_horizontal_collisions_enabled(dialog.intelligent_collisions)) {
        dialog.no_horizontal_collisions = false;
    }
}

void choose_resolution_preset(RenderingDialog& dialog, size_t index) {
    if (index >= kCustomResolution) {
        dialog.resolution_preset = kCustomResolution;
        return;
    }
    dialog.resolution_preset = index;
    dialog.horizontal = format_int(kResolutionPresets[index].width);
    dialog.vertical = format_int(kResolutionPresets[index].height);
}

size_t resolution_preset_of(const RenderingDialog& dialog) {
    const auto width = base::parse_int_exact(base::trim_blanks(dialog.horizontal));
    const auto height = base::parse_int_exact(base::trim_blanks(dialog.vertical));
    return width && height ? resolution_preset_for(*width, *height) : kCustomResolution;
}

bool apply_rendering_dialog(Document& document, const RenderingDialog& input,
                            base::Messages& messages) {
    RenderingDialog dialog = input;
    enforce_rendering_rules(dialog);

    const auto res_y =
        read_number(dialog.vertical, kMinResolution, kMaxResolution, kVerticalResolutionNumberText,
                    kVerticalResolutionValueText, messages);
    if (!res_y) {
        return false;
    }
    const auto res_x =
        read_number(dialog.horizontal, kMinResolution, kMaxResolution,
                    kHorizontalResolutionNumberText, kHorizontalResolutionValueText, messages);
    if (!res_x) {
        return false;
    }
    int32_t fixed_width = 0;
    if (!dialog.full_width && !is_blank_text(dialog.fixed_width)) {
        const auto width = read_number(dialog.fixed_width, kMinResolution, kMaxResolution,
                                       kFixedWidthNumberText, kFixedWidthValueText, messages);
        if (!width) {
            return false;
        }
        if (*width > *res_x) {
            messages.error(kFixedWidthTooWideText);
            return false;
        }
        fixed_width = *width;
    }
    const auto line_spacing =
        read_optional_number(dialog.line_spacing, 1, kMaxLineSpacing, kLineSpacingNumberText,
                             kLineSpacingValueText, messages);
    if (!line_spacing) {
        return false;
    }
    const auto char_spacing =
        read_optional_number(dialog.char_spacing, -kMaxCharSpacing, kMaxCharSpacing,
                             kCharSpacingNumberText, kCharSpacingValueText, messages);
    if (!char_spacing) {
        return false;
    }

    // The lists only offer values the settings accept.
    assert(dialog.mb_code_page == 0 || script::is_valid_code_page(dialog.mb_code_page));
    assert(!charset_name(dialog.charset).empty());
    assert(!imaging::image_type_key(dialog.image_type).empty());

    script::Script& script = document.script();
    script::ConversionSettings& settings = script.settings;
    script::SettingsValues values = settings.values();
    values.scr_type = dialog.script_type;
    // A key the script spells in another case stays as written.
    if (imaging::image_type_id(values.img_type) != dialog.image_type) {
        values.img_type = base::to_u16(imaging::image_type_key(dialog.image_type));
    }
    values.line_spacing = *line_spacing == kNormalLineSpacing ? 0 : *line_spacing;
    values.char_spacing = *char_spacing;
    values.bw_wrap = dialog.balanced_wrap;
    values.no_hrz_coll = dialog.no_horizontal_collisions;
    values.intell_coll = dialog.intelligent_collisions;
    values.coll_foresee = dialog.collision_foresee;
    values.code_page = dialog.charset;
    values.right_to_left = dialog.right_to_left;
    // Every conversion with the system code page reads this setting, so the new code page
    // takes effect at once.
    values.mb_code_page = dialog.mb_code_page;
    values.res_x = *res_x;
    values.res_y = *res_y;
    values.full_width = dialog.full_width;
    values.fixed_width = fixed_width;
    values.minus2 = dialog.minus2 ? 2 : dialog.minus3 ? 3 : 0;
    values.dont_clip = dialog.dont_clip;
    values.clip_minus_one_pixel = dialog.clip_minus_one_pixel;
    values.comp = std::clamp(dialog.font_scaling, 0, 2);
    values.colors = std::clamp(dialog.colour_mode, 1, 3);
    values.sticky_colors = dialog.sticky_colours;
    values.fixed_colors = dialog.colour_keys;
    values.output_background = dialog.background_colour;
    if (!values.output_file.empty()) {
        values.output_file = formats::fit_output_path(values.output_file, values.scr_type);
    }

    const bool changed = detail::saved_differently(settings, values);
    settings.assign_values(values);
    // The layout scales margins and fonts to the output size; it follows the settings now
    // rather than at the next load.
    script.follow_output_size();
    // The forced character set and the system code page decide how an 8-bit script's runs are
    // decoded.
    script.bind_events();
    if (changed) {
        detail::mark_changed(settings, true);
    }
    return true;
}

// --- Colour keys -----------------------------------------------------------------------------

std::span<const std::string_view, kColourKeyConceptCount> colour_key_concepts() {
    return kColourKeyConcepts;
}

std::span<const KeyColour> key_colours() {
    return kKeyColours;
}

ColourKeysDialog fill_colour_keys_dialog(const std::array<Colour, 4>& keys) {
    ColourKeysDialog dialog;
    for (size_t row = 0; row < kColourKeyConceptCount; ++row) {
        for (size_t column = 0; column < kKeyColours.size(); ++column) {
            const bool taken = std::find(dialog.choice.begin(), dialog.choice.end(), column) !=
                               dialog.choice.end();
            // A key a script gives two concepts shows on the first only: the other must be
            // picked again.
            if (kKeyColours[column].colour == (keys[row] & 0xFFFFFF) && !taken) {
                dialog.choice[row] = column;
                break;
            }
        }
    }
    return dialog;
}

ColourKeysDialog default_colour_keys_dialog() {
    return fill_colour_keys_dialog(script::SettingsValues().fixed_colors);
}

void pick_colour_key(ColourKeysDialog& dialog, size_t concept_row, size_t column) {
    if (concept_row >= kColourKeyConceptCount || column >= kKeyColours.size()) {
        return;
    }
    for (auto& choice : dialog.choice) {
        if (choice == column) {
            choice.reset();
        }
    }
    dialog.choice[concept_row] = column;
}

bool apply_colour_keys_dialog(const ColourKeysDialog& dialog, std::array<Colour, 4>& keys,
                              base::Messages& messages) {
    std::array<Colour, 4> picked{};
    for (size_t row = 0; row < kColourKeyConceptCount; ++row) {
        const std::optional<size_t> column = dialog.choice[row];
        const bool shared =
            column && std::count(dialog.choice.begin(), dialog.choice.end(), column) > 1;
        if (!column || *column >= kKeyColours.size() || shared) {
            messages.error(kPickEveryConceptText);
            return false;
        }
        picked[row] = kKeyColours[*column].colour;
    }
    keys = picked;
    return true;
}

// --- Style precedence ------------------------------------------------------------------------

StylePrecedenceDialog fill_style_precedence_dialog(const Document& document) {
    const script::Script& script = document.script();
    return StylePrecedenceDialog{script.completed_style_order(script.settings.style_order)};
}

size_t raise_style(StylePrecedenceDialog& dialog, size_t selected) {
    if (selected == 0 || selected >= dialog.order.size()) {
        return selected;
    }
    std::swap(dialog.order[selected], dialog.order[selected - 1]);
    return selected - 1;
}

size_t lower_style(StylePrecedenceDialog& dialog, size_t selected) {
    if (selected + 1 >= dialog.order.size()) {
        return selected;
    }
    std::swap(dialog.order[selected], dialog.order[selected + 1]);
    return selected + 1;
}

std::string style_description(const Document& document, std::u16string_view style_name) {
    const Style* style = find_style(document, style_name);
    if (style == nullptr) {
        return {};
    }
    const script::Script& script = document.script();
    const auto number = [](int32_t v) { return std::to_string(v); };
    const std::string_view charset = charset_name(style->charset);

    std::string weight = style->bold ? "bold" : "";
    if (style->italic) {
        weight += weight.empty() ? "italic" : ", italic";
    }
    std::string margins =
        "left " + number(style->margin_left) + ", right " + number(style->margin_right);
    if (style->valign == VAlign::Top) {
        margins += ", top " + number(style->margin_top);
    } else if (style->valign == VAlign::Bottom) {
        margins += ", bottom " + number(style->margin_bottom);
    }

    std::string text;
    const auto line = [&text](std::string_view label, std::string_view value) {
        text.append(label).append(": ").append(value).append("\n");
    };
    line("Face", display_text(script, style->face));
    line("Size", number(style->font_size(script.settings.old_scale())) + " pt");
    line("Weight and slant", weight.empty() ? "regular" : weight);
    line("Charset", charset.empty() ? number(style->charset)
                                    : std::string(charset) + " (" + number(style->charset) + ")");
    line("Text colour", base::utf16_to_utf8(rgb_text(style->primary)));
    line("Outline colour", base::utf16_to_utf8(rgb_text(style->outline_colour)));
    line("Outline size", number(style->outline));
    line("Alignment",
         std::string(valign_name(style->valign)) + " " + std::string(halign_name(style->halign)));
    line("Margins", margins);
    line("Extra spacing", style->extra_space == Style::kUnsetExtraSpace
                              ? "global"
                              : number(style->extra_space) + " px");
    line("Line spacing", style->line_spacing == 0 ? "global" : number(style->line_spacing) + "%");
    return text;
}

void apply_style_precedence_dialog(Document& document, const StylePrecedenceDialog& dialog) {
    script::Script& script = document.script();
    const std::vector<std::u16string> order = script.completed_style_order(dialog.order);
    if (order == script.completed_style_order(script.settings.style_order)) {
        return;
    }
    script::SettingsValues values = script.settings.values();
    values.style_order = order;
    script.settings.assign_values(values);
    script.order_styles();
    detail::mark_changed(script.settings, true);
}

// --- Style editor ----------------------------------------------------------------------------

std::optional<StyleEditor> fill_style_editor(const Document& document,
                                             std::u16string_view style_name) {
    const Style* style = find_style(document, style_name);
    if (style == nullptr) {
        return std::nullopt;
    }
    const script::Script& script = document.script();
    StyleEditor e;
    e.style_name = style->name;
    e.face = style->face;
    e.font_size = style->font_size(script.settings.old_scale());
    e.bold = style->bold;
    e.italic = style->italic;
    e.charset = style->charset;
    e.text_colour = style->primary;
    e.outline_colour = style->outline_colour;
    e.outline_size = style->outline;
    e.halign = style->halign;
    e.valign = style->valign;
    e.left_margin = format_int(style->margin_left);
    e.right_margin = format_int(style->margin_right);
    // A middle-aligned style's MarginV is read into its bottom margin.
    e.vertical_margin =
        format_int(style->valign == VAlign::Top ? style->margin_top : style->margin_bottom);
    if (style->extra_space != Style::kUnsetExtraSpace) {
        e.extra_spacing = style->extra_space;
    }
    e.line_spacing = style->line_spacing;
    e.italics_left = style->italics_left;
    e.italics_right = style->italics_right;
    e.aa_average = style->aa_average;
    e.face_threshold = style->face_threshold;
    e.aa_threshold = style->aa_threshold;
    e.kerning = (style->font_flags & render::kFontFlagKerning) != 0;
    e.ligatures = (style->font_flags & render::kFontFlagLigatures) != 0;
    e.diacritics = (style->font_flags & render::kFontFlagDiacritics) != 0;
    e.scale = StyleEditorScale{script.ssa_width,
                               script.ssa_height,
                               script.output_width,
                               script.output_height,
                               script.settings.scale_screen,
                               script.settings.old_scale()};
    return e;
}

std::string_view vertical_margin_label(VAlign valign) {
    switch (valign) {
        case VAlign::Top:
            return "Top margi&n";
        case VAlign::Middle:
            return "Vertical margi&n";
        case VAlign::Bottom:
            break;
    }
    return "Bottom margi&n";
}

void set_internal_scale(StyleEditor& editor, bool on) {
    if (editor.internal_scale == on) {
        return;
    }
    for (size_t field = kLeftMargin; field <= kVerticalMargin; ++field) {
        const std::optional<int32_t> value = script_margin(editor, field);
        auto& kept = editor.scaled_margins[field];
        kept.reset();
        if (!value) {
            continue;  // left as typed
        }
        std::u16string& text = margin_text(editor, field);
        if (on) {
            text = format_int(scale_margin(editor.scale, field, *value, true));
            kept = StyleEditor::ScaledMargin{*value, text};
        } else {
            text = format_int(*value);
        }
    }
    editor.internal_scale = on;
}

int32_t shown_font_size(const StyleEditor& editor) {
    if (editor.internal_scale || !editor.scale.old_scale) {
        return editor.font_size;
    }
    // What a Style line stores for that size.
    return base::saturate_int32(int64_t{editor.font_size} * 5 / 2);
}

Style style_from_editor(const StyleEditor& editor, const Style& original) {
    const bool old_scale = editor.scale.old_scale;
    Style s = original;
    s.face = editor.face;
    if (editor.font_size != original.font_size(old_scale)) {
        // Kept to what a Style line holds, so the line reads back.
        const int32_t max_size = old_scale ? kMaxStoredFontSize * 2 / 5 : kMaxStoredFontSize;
        s.set_font_size(std::clamp(editor.font_size, 1, max_size), old_scale);
    }
    s.bold = editor.bold;
    s.italic = editor.italic;
    s.charset = std::clamp(editor.charset, 0, kMaxCharset);
    s.primary = editor.text_colour & 0xFFFFFF;
    s.outline_colour = editor.outline_colour & 0xFFFFFF;
    s.outline = std::clamp(editor.outline_size, 0, kMaxOutline);
    s.halign = editor.halign;
    s.valign = editor.valign;
    s.margin_left = script_margin(editor, kLeftMargin).value_or(original.margin_left);
    s.margin_right = script_margin(editor, kRightMargin).value_or(original.margin_right);
    const int32_t vertical =
        script_margin(editor, kVerticalMargin)
            .value_or(editor.valign == VAlign::Top ? original.margin_top : original.margin_bottom);
    // The line holds one vertical margin; the other takes the value the reader gives it, so the
    // style in memory is the one the saved script reads back as.
    s.margin_top = editor.valign == VAlign::Top ? vertical : Style::kDefaultMargin;
    s.margin_bottom = editor.valign == VAlign::Bottom   ? vertical
                      : editor.valign == VAlign::Middle ? 0
                                                        : Style::kDefaultMargin;
    s.extra_space = editor.extra_spacing.value_or(Style::kUnsetExtraSpace);
    s.line_spacing = editor.line_spacing;
    s.italics_left = editor.italics_left;
    s.italics_right = editor.italics_right;
    s.aa_average = editor.aa_average;
    s.face_threshold = editor.face_threshold;
    s.aa_threshold = editor.aa_threshold;
    constexpr int32_t kEditedFlags =
        render::kFontFlagKerning | render::kFontFlagLigatures | render::kFontFlagDiacritics;
    s.font_flags = (original.font_flags & ~kEditedFlags) |
                   (editor.kerning ? render::kFontFlagKerning : 0) |
                   (editor.ligatures ? render::kFontFlagLigatures : 0) |
                   (editor.diacritics ? render::kFontFlagDiacritics : 0);
    s.synthesise_antialias();
    s.renew_id();
    return s;
}

bool apply_style_editor(Document& document, const StyleEditor& editor, base::Messages& messages) {
    if (editor.outline_size < 0 || editor.outline_size > kMaxOutline) {
        messages.error(kOutlineSizeText);
        return false;
    }
    constexpr std::array<std::pair<size_t, const char*>, 3> kMarginChecks = {{
        {kVerticalMargin, kInvalidVerticalMarginText},
        {kLeftMargin, kInvalidLeftMarginText},
        {kRightMargin, kInvalidRightMarginText},
    }};
    for (const auto& [field, message] : kMarginChecks) {
        if (!shown_margin(editor, field)) {
            messages.error(message);
            return false;
        }
    }
    script::Script& script = document.script();
    Style* style = script.find_style(editor.style_name);
    if (style == nullptr) {
        messages.error(kStyleUpdateFailedText);
        return false;
    }
    Style edited = style_from_editor(editor, *style);
    if (script::style_line_text(script, edited) == script::style_line_text(script, *style) &&
        script::style_extras_text(edited) == script::style_extras_text(*style)) {
        return true;
    }
    const Style before = *style;
    *style = std::move(edited);
    if (!script::rebuild_style_line(script, *style)) {
        *style = before;
        messages.error(kStyleUpdateFailedText);
        return false;
    }
    // Events hold their style's colours in their runs and notice the new id.
    script.bind_events();
    detail::mark_changed(script.settings, true);
    return true;
}

}  // namespace tessara::document
