// The SSA reader on arbitrary bytes (8-bit, UTF-8, or UTF-16 behind an FF FE mark). A file that
// loads must save, and the saved bytes must load again into the same events, styles and settings;
// saved again, the file must not change any more.

#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"
#include "settings_compare.h"

namespace {

using namespace tessara;
using script::Script;

// Says which field differs, to make a crasher quick to understand.
bool same_field(bool equal, const char* what) {
    if (!equal) {
        std::fprintf(stderr, "field %s differs after saving\n", what);
    }
    return equal;
}

// A style name holding ';' (or a line end) cannot be written into the StyleOrder list or a
// TSRASTYLE line (';' ends the name there): such a style keeps its columns, but its extras are
// not saved and it ranks after the listed styles when read back.
bool has_semicolon(const script::Style& s) {
    return s.name.find_first_of(u";\r\n") != std::u16string::npos;
}

bool any_semicolon_name(const Script& s) {
    for (const auto& style : s.styles()) {
        if (has_semicolon(*style)) {
            return true;
        }
    }
    return false;
}

bool same_style(const script::Style& a, const script::Style& b, bool ranks_kept) {
    return same_field(a.name == b.name && a.starred == b.starred && a.face == b.face,
                      "style name or face") &&
           same_field(
               a.bold == b.bold && a.italic == b.italic && a.font_size_stored == b.font_size_stored,
               "style font") &&
           same_field(a.primary == b.primary && a.outline_colour == b.outline_colour &&
                          a.antialias == b.antialias,
                      "style colours") &&
           same_field(a.margin_top == b.margin_top && a.margin_bottom == b.margin_bottom &&
                          a.margin_left == b.margin_left && a.margin_right == b.margin_right,
                      "style margins") &&
           same_field(a.outline == b.outline && a.halign == b.halign && a.valign == b.valign &&
                          a.charset == b.charset,
                      "style layout") &&
           same_field(!ranks_kept || a.priority == b.priority, "style priority") &&
           same_field(
               has_semicolon(a) || script::style_extras_text(a) == script::style_extras_text(b),
               "style extras") &&
           same_field(a.secondary == b.secondary && a.tertiary == b.tertiary &&
                          a.alpha_level == b.alpha_level && a.shadow == b.shadow &&
                          a.border_style == b.border_style,
                      "style kept columns");
}

// An override is written back only when it holds a time or a position, and a snap only with
// its position: nothing else of it has any effect.
std::optional<script::UserOverride> effective(const std::optional<script::UserOverride>& uo) {
    if (!uo || (!uo->has_absolute() && !uo->has_position())) {
        return std::nullopt;
    }
    script::UserOverride out = *uo;
    if (out.pos_x == script::UserOverride::kUnsetPosition)
        out.snap_x = 0;
    if (out.pos_y == script::UserOverride::kUnsetPosition)
        out.snap_y = 0;
    return out;
}

bool same_event(const script::DialogueEvent& a, const script::DialogueEvent& b) {
    return same_field(a.start == b.start && a.end == b.end, "times") &&
           same_field(a.style_name == b.style_name && a.actor == b.actor, "style or actor") &&
           same_field(a.margin_override == b.margin_override, "margins") &&
           same_field(a.plain_text == b.plain_text, "text") &&
           same_field(a.blink_period == b.blink_period && a.absolute == b.absolute &&
                          (a.blink_head == nullptr) == (b.blink_head == nullptr),
                      "blink or absolute") &&
           same_field(effective(a.user_override) == effective(b.user_override), "user override") &&
           same_field(a.runs == b.runs, "runs") &&
           same_field((a.bound_style == nullptr) == (b.bound_style == nullptr) &&
                          (a.bound_style == nullptr || a.bound_style->name == b.bound_style->name),
                      "bound style");
}

// Saving puts the settings lines right after the events section's Format line. A "Collisions"
// header line (read in any section, the later line winning) that stands after that place in
// the file then overrides the saved CollForesee on the next load: the two settings it drives
// are left out of the comparison for such files.
bool collisions_after_settings(const Script& s) {
    // Where saving puts the settings: the first events anchor, else the first "[Events]" line.
    const script::ScriptLine* anchor = nullptr;
    for (const auto& line : s.lines()) {
        if (line->kind == script::LineKind::EventsAnchor) {
            anchor = line.get();
            break;
        }
    }
    for (const auto& line : s.lines()) {
        if (anchor == nullptr && line->kind == script::LineKind::Other &&
            base::iequals(base::trim_blanks(line->text), u"[Events]")) {
            anchor = line.get();
        }
    }
    bool after = false;
    for (const auto& line : s.lines()) {
        if (after && line->kind == script::LineKind::Other) {
            std::u16string_view key =
                std::u16string_view(line->text).substr(0, line->text.find(u':'));
            if (base::iequals(base::trim_spaces(key), u"Collisions")) {
                return true;
            }
        }
        after = after || line.get() == anchor;
    }
    return false;
}

// A file is saved in the encoding it was read in. A UTF-8 file without a mark whose only
// characters beyond ASCII were in lines the program drops (a settings line it could not read)
// saves as plain ASCII, which reads back as an 8-bit file holding the same characters.
bool same_encoding(const script::ConversionSettings& a, const script::ConversionSettings& b) {
    if (a.unicode && a.unicode_file == script::UnicodeFile::Utf8 && !b.unicode) {
        return true;
    }
    return a.unicode == b.unicode && (!a.unicode || a.unicode_file == b.unicode_file);
}

bool same_settings(const Script& a, const Script& b) {
    fuzz::SettingsCompareOptions options;
    options.skip_collisions = collisions_after_settings(a);
    options.skip_style_order = any_semicolon_name(a);
    return fuzz::same_saved_settings(a.settings, b.settings, options) &&
           same_encoding(a.settings, b.settings) && a.ssa_width == b.ssa_width &&
           a.ssa_height == b.ssa_height && a.output_width == b.output_width &&
           a.output_height == b.output_height;
}

void check_loaded(const Script& s) {
    for (const auto& ev : s.events()) {
        FUZZ_CHECK(ev->start.value < ev->end.value);
        FUZZ_CHECK(ev->bound_style != nullptr);
        FUZZ_CHECK(ev->blink_period == 0 || (ev->blink_period >= 10 && ev->blink_period <= 500));
    }
    for (const auto& line : s.lines()) {
        FUZZ_CHECK(line->text.size() < script::kMaxLineChars);
    }
}

void check_same(const Script& loaded, const Script& reloaded) {
    FUZZ_CHECK(same_settings(loaded, reloaded));
    FUZZ_CHECK(loaded.styles().size() == reloaded.styles().size());
    for (size_t i = 0; i < loaded.styles().size(); ++i) {
        FUZZ_CHECK(
            same_style(*loaded.styles()[i], *reloaded.styles()[i], !any_semicolon_name(loaded)));
    }
    FUZZ_CHECK(loaded.events().size() == reloaded.events().size());
    for (size_t i = 0; i < loaded.events().size(); ++i) {
        FUZZ_CHECK(same_event(*loaded.events()[i], *reloaded.events()[i]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    base::SilentMessages messages;
    const script::ReadOptions options;

    Script first;
    if (!script::read_script_bytes(first, bytes, u"fuzz.ssa", options, messages)) {
        FUZZ_CHECK(first.events().empty() && first.lines().empty());
        return 0;
    }
    check_loaded(first);

    // Text read from a file always fits the file's encoding again.
    const std::optional<std::string> saved = script::serialize_script(first, messages);
    FUZZ_CHECK(saved.has_value());

    Script second;
    FUZZ_CHECK(script::read_script_bytes(second, *saved, u"fuzz.ssa", options, messages));
    check_loaded(second);
    // Bytes that are not UTF-8 only in lines the program writes anew (its settings lines) keep
    // the first reading 8-bit; the saved file is then UTF-8 and reads as such. That file is
    // the one held to its own reading below.
    const bool read_anew = !first.settings.unicode && second.settings.unicode;
    if (!read_anew) {
        check_same(first, second);
    }

    // Saving may move the settings lines once (to after the events Format line that the first
    // save made the anchor); from then on the file is a fixed point.
    const std::optional<std::string> again = script::serialize_script(second, messages);
    FUZZ_CHECK(again.has_value());
    Script third;
    FUZZ_CHECK(script::read_script_bytes(third, *again, u"fuzz.ssa", options, messages));
    check_same(second, third);
    const std::optional<std::string> last = script::serialize_script(third, messages);
    FUZZ_CHECK(last.has_value() && *last == *again);
    return 0;
}
