#include "script/script_edit.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <optional>

#include "base/text.h"
#include "script/codepage.h"
#include "script/script.h"
#include "script/ssa_reader.h"

namespace tessara::script {

namespace {

constexpr size_t kNpos = static_cast<size_t>(-1);

// The event that owns the line: the head of a blinking line for any of its copies.
DialogueEvent* line_owner(DialogueEvent& event) {
    DialogueEvent* head = event.blink_head != nullptr ? event.blink_head : &event;
    if (head->line == nullptr || head->line->kind != LineKind::Dialogue) {
        return nullptr;
    }
    return head;
}

void mark_edited(Script& script) {
    script.settings.modified = true;
    script.settings.rebuild_needed = true;
}

// Index just after the n-th comma of the line (n from 1), or npos.
size_t after_comma(std::u16string_view line, int n) {
    size_t pos = 0;
    for (int i = 0; i < n; ++i) {
        pos = line.find(u',', pos);
        if (pos == std::u16string_view::npos) {
            return kNpos;
        }
        ++pos;
    }
    return pos;
}

void take_parsed_fields(DialogueEvent& ev, const ParsedDialogue& parsed) {
    ev.style_name = parsed.style_name;
    ev.actor = parsed.actor;
    ev.margin_override = parsed.margin_override;
    ev.plain_text = parsed.text.plain_text;
    ev.absolute = parsed.text.absolute;
    ev.blink_period = parsed.text.blink_period;
    ev.runs = parsed.text.runs;
    ev.scanned_with = parsed.options;
}

// Brings the head and its blink copies in line with its freshly parsed line, as the reader
// would have made them.
void apply_parsed(Script& script, DialogueEvent& head, const ParsedDialogue& parsed) {
    const int32_t period = parsed.text.blink_period;
    take_parsed_fields(head, parsed);
    head.start = parsed.start;
    head.end =
        period != 0
            ? ScriptTime{static_cast<int32_t>(int64_t{parsed.start.value} + period / 2), false}
            : parsed.end;
    ++head.change_counter;
    script.bind_event(head);

    std::vector<int32_t> copy_starts;
    if (period != 0) {
        // The copies within the reader's limits, so that the edited event shows as it would
        // after saving and loading again.
        const int64_t copies = blink_copy_count(parsed.start, parsed.end, period,
                                                parsed.text.runs.size(), kMaxBlinkRunCopies);
        for (int64_t k = 1; k < copies; ++k) {
            copy_starts.push_back(static_cast<int32_t>(int64_t{parsed.start.value} + k * period));
        }
    }
    std::vector<DialogueEvent*> copies;
    for (const auto& ev : script.events()) {
        if (ev->blink_head == &head) {
            copies.push_back(ev.get());
        }
    }
    while (copies.size() > copy_starts.size()) {
        script.take_event(script.event_index(*copies.back()));
        copies.pop_back();
    }
    size_t insert_at = script.event_index(copies.empty() ? head : *copies.back()) + 1;
    for (size_t i = 0; i < copy_starts.size(); ++i) {
        DialogueEvent* copy = nullptr;
        if (i < copies.size()) {
            copy = copies[i];
        } else {
            copy = &script.insert_event(insert_at++, std::make_unique<DialogueEvent>());
            copy->change_counter = head.change_counter - 1;
        }
        take_parsed_fields(*copy, parsed);
        copy->start = ScriptTime{copy_starts[i], false};
        copy->end = ScriptTime{static_cast<int32_t>(int64_t{copy_starts[i]} + period / 2), false};
        copy->blink_head = &head;
        copy->line = nullptr;
        copy->user_override.reset();
        ++copy->change_counter;
        script.bind_event(*copy);
    }
}

// A time the reader takes back unchanged from a Dialogue line.
std::optional<std::u16string> dialogue_time_text(ScriptTime t) {
    if (t.smpte) {
        return std::nullopt;
    }
    std::u16string text = format_script_time(t, true);
    auto back = parse_script_time(text, true, false);
    if (!back || back->time != t) {
        return std::nullopt;
    }
    return text;
}

// CR LF, CR and LF become "\N".
std::u16string line_breaks_as_tags(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            out += u"\\N";
        } else {
            out += text[i];
        }
    }
    return out;
}

bool is_ascii(std::u16string_view s) {
    return std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; });
}

// The pieces of one Style line value, split as the reader splits them.
std::vector<std::u16string> style_pieces(std::u16string_view value) {
    const auto views = split_style_columns(value);
    return std::vector<std::u16string>(views.begin(), views.end());
}

int alignment_number(const Style& s) {
    int n = s.halign == HAlign::Left ? 1 : s.halign == HAlign::Right ? 3 : 2;
    if (s.valign == VAlign::Top) {
        n += 4;
    } else if (s.valign == VAlign::Middle) {
        n += 8;
    }
    return n;
}

std::u16string style_field(const Style& s, StyleFormat::Field f) {
    using base::format_int;
    switch (f) {
        case StyleFormat::Name:
            return (s.starred ? u"*" : u"") + s.name;
        case StyleFormat::Fontname:
            return s.face;
        case StyleFormat::Fontsize:
            // The stored size is what a Style line holds (the old-scale factor applies only to
            // sizes given from elsewhere).
            return format_int(s.font_size_stored);
        case StyleFormat::PrimaryColour:
            return format_int(s.primary);
        case StyleFormat::SecondaryColour:
            return s.secondary;
        case StyleFormat::TertiaryColour:
            return s.tertiary;
        case StyleFormat::BackColour:
            return format_int(s.outline_colour);
        case StyleFormat::Bold:
            return s.bold ? u"-1" : u"0";
        case StyleFormat::Italic:
            return s.italic ? u"-1" : u"0";
        case StyleFormat::BorderStyle:
            return s.border_style;
        case StyleFormat::Outline:
            return format_int(s.outline);
        case StyleFormat::Shadow:
            return s.shadow;
        case StyleFormat::Alignment:
            return format_int(alignment_number(s));
        case StyleFormat::MarginL:
            return format_int(s.margin_left);
        case StyleFormat::MarginR:
            return format_int(s.margin_right);
        case StyleFormat::MarginV:
            return format_int(s.valign == VAlign::Top      ? s.margin_top
                              : s.valign == VAlign::Middle ? 0
                                                           : s.margin_bottom);
        case StyleFormat::AlphaLevel:
            return s.alpha_level;
        case StyleFormat::Encoding:
            return format_int(s.charset);
        case StyleFormat::kFieldCount:
            break;
    }
    return {};
}

// Where a new Style line goes: after the last style line, else after the styles header and the
// Format line right after it. npos when there is no such place.
size_t new_style_line_index(const Script& script) {
    const auto& lines = script.lines();
    for (size_t i = lines.size(); i-- > 0;) {
        if (lines[i]->kind == LineKind::Style) {
            return i + 1;
        }
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (base::iequals(base::trim_spaces(lines[i]->text), u"[V4 Styles]")) {
            std::u16string_view next =
                i + 1 < lines.size() ? std::u16string_view(lines[i + 1]->text) : u"";
            size_t colon = next.find(u':');
            bool format = colon != std::u16string_view::npos &&
                          base::iequals(base::trim_spaces(next.substr(0, colon)), u"Format");
            return format ? i + 2 : i + 1;
        }
    }
    return kNpos;
}

}  // namespace

size_t text_field_start(std::u16string_view line) {
    return after_comma(line, 9);
}

bool set_dialogue_line(Script& script, DialogueEvent& event, std::u16string line_text) {
    DialogueEvent* head = line_owner(event);
    if (head == nullptr) {
        return false;
    }
    const size_t colon = line_text.find(u':');
    if (colon == std::u16string::npos ||
        !base::iequals(base::trim_spaces(std::u16string_view(line_text).substr(0, colon)),
                       u"Dialogue")) {
        return false;
    }
    std::optional<ParsedDialogue> parsed = parse_dialogue_value(line_value(line_text), script);
    if (!parsed) {
        return false;
    }
    if (parsed->text.blink_period != 0 && head->user_override &&
        head->user_override->has_absolute()) {
        return false;
    }
    head->line->text = std::move(line_text);
    apply_parsed(script, *head, *parsed);
    mark_edited(script);
    return true;
}

bool rewrite_event_times(Script& script, DialogueEvent& event, ScriptTime start, ScriptTime end) {
    DialogueEvent* head = line_owner(event);
    if (head == nullptr || start.value >= end.value) {
        return false;
    }
    auto start_text = dialogue_time_text(start);
    auto end_text = dialogue_time_text(end);
    const std::u16string& line = head->line->text;
    size_t first = line.find(u',');
    size_t third = after_comma(line, 3);
    if (!start_text || !end_text || first == std::u16string::npos || third == kNpos) {
        return false;
    }
    std::u16string text =
        line.substr(0, first) + u',' + *start_text + u',' + *end_text + line.substr(third - 1);
    return set_dialogue_line(script, *head, std::move(text));
}

bool rewrite_event_style(Script& script, DialogueEvent& event, std::u16string_view style_name) {
    DialogueEvent* head = line_owner(event);
    if (head == nullptr) {
        return false;
    }
    if (!style_name.empty() && style_name.front() == u'*') {
        style_name.remove_prefix(1);
    }
    if (style_name.find_first_of(u",\r\n") != std::u16string_view::npos) {
        return false;
    }
    const std::u16string& line = head->line->text;
    size_t third = after_comma(line, 3);
    size_t fourth = after_comma(line, 4);
    if (third == kNpos || fourth == kNpos) {
        return false;
    }
    std::u16string text =
        line.substr(0, third - 1) + u',' + std::u16string(style_name) + line.substr(fourth - 1);
    return set_dialogue_line(script, *head, std::move(text));
}

bool rewrite_event_text(Script& script, DialogueEvent& event, std::u16string_view text,
                        TextInput input) {
    DialogueEvent* head = line_owner(event);
    if (head == nullptr) {
        return false;
    }
    const std::u16string& line = head->line->text;
    size_t start = text_field_start(line);
    if (start == kNpos) {
        return false;
    }
    std::u16string stored = line_breaks_as_tags(text);
    if (!script.settings.unicode) {
        if (input == TextInput::Typed) {
            // Encoded as the line will be decoded: with its style's character set.
            ConvertedText encoded = convert_event_text(stored, WordConversion::Encode,
                                                       script.scan_options(head->style_name));
            if (!encoded.tags_ok) {
                return false;
            }
            stored = std::move(encoded.text);
        } else if (std::any_of(stored.begin(), stored.end(), [](char16_t c) { return c > 0xFF; })) {
            return false;
        }
    }
    return set_dialogue_line(script, *head, line.substr(0, start) + stored);
}

std::u16string style_line_text(const Script& script, const Style& style) {
    const StyleFormat format = script.style_format().value_or(StyleFormat::identity());
    std::vector<std::u16string> original;
    if (style.line != nullptr) {
        original = style_pieces(line_value(style.line->text));
    }
    size_t count = std::max<size_t>(StyleFormat::kFieldCount, original.size());
    for (int32_t col : format.column) {
        if (col >= 0) {
            count = std::max(count, static_cast<size_t>(col) + 1);
        }
    }
    std::vector<std::u16string> values(count);
    std::vector<bool> mapped(count, false);
    for (int f = 0; f < StyleFormat::kFieldCount; ++f) {
        int32_t col = format.column[f];
        if (col >= 0) {
            values[col] = style_field(style, static_cast<StyleFormat::Field>(f));
            mapped[col] = true;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (!mapped[i] && i < original.size()) {
            values[i] = original[i];
        }
    }
    size_t last = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!values[i].empty()) {
            last = i;
        }
    }
    std::u16string out = u"Style: ";
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            out += u',';
        }
        out += values[i].empty() && i < last ? std::u16string(u" ") : values[i];
    }
    return out;
}

bool rebuild_style_line(Script& script, Style& style) {
    std::u16string text = style_line_text(script, style);
    if (style.line == nullptr) {
        size_t index = new_style_line_index(script);
        if (index == kNpos) {
            return false;
        }
        ScriptLine& line = script.insert_line(index, LineKind::Style, std::move(text));
        line.style = &style;
        style.line = &line;
    } else {
        style.line->text = std::move(text);
    }
    mark_edited(script);
    return true;
}

void delete_event(Script& script, size_t index) {
    assert(index < script.events().size());
    if (index >= script.events().size()) {
        return;
    }
    DialogueEvent& event = *script.events()[index];
    DialogueEvent* head = event.blink_head != nullptr ? event.blink_head : &event;
    if (head->line != nullptr) {
        head->line->kind = LineKind::Deleted;
        head->line->text.clear();
        head->line->event = nullptr;
        head->line = nullptr;
    }
    for (size_t i = script.events().size(); i-- > 0;) {
        const DialogueEvent* ev = script.events()[i].get();
        if (ev == head || ev->blink_head == head) {
            script.take_event(i);
        }
    }
    mark_edited(script);
}

DialogueEvent& duplicate_event(Script& script, size_t index) {
    assert(index < script.events().size());
    DialogueEvent& source = *script.events().at(index);
    DialogueEvent* head = line_owner(source);
    std::optional<ParsedDialogue> parsed;
    if (head != nullptr) {
        parsed = parse_dialogue_value(line_value(head->line->text), script);
    }
    if (!parsed) {
        // No line to copy: the event alone is copied, as a standalone event.
        auto copy = std::make_unique<DialogueEvent>(source);
        copy->blink_head = nullptr;
        copy->blink_period = 0;
        copy->line = nullptr;
        copy->change_counter = 0;
        mark_edited(script);
        return script.append_event(std::move(copy));
    }
    ScriptLine& line = script.append_line(LineKind::Dialogue, head->line->text);
    auto copy = std::make_unique<DialogueEvent>();
    copy->user_override = head->user_override;
    copy->line = &line;
    DialogueEvent& added = script.append_event(std::move(copy));
    line.event = &added;
    apply_parsed(script, added, *parsed);
    mark_edited(script);
    return added;
}

// ---- Text pieces ------------------------------------------------------------------------------

std::vector<TextPiece> split_event_text(std::u16string_view text, const ScanOptions& options) {
    std::vector<TextPiece> pieces;
    std::optional<StyleOverride> current;
    std::optional<StyleOverride> event_override;  // \a tags land here; not needed
    size_t word = kNpos;                          // index of the word being built

    auto other = [&](TextPiece::Kind kind, size_t begin, size_t end) {
        word = kNpos;
        TextPiece p;
        p.kind = kind;
        p.begin = begin;
        p.end = end;
        pieces.push_back(std::move(p));
    };
    auto add = [&](char16_t c, size_t begin, size_t end) {
        if (word == kNpos) {
            TextPiece p;
            p.kind = TextPiece::Kind::Word;
            p.begin = begin;
            p.code_page = run_code_page(current, options);
            word = pieces.size();
            pieces.push_back(std::move(p));
        }
        TextPiece& w = pieces[word];
        w.chars += c;
        w.sources.push_back(begin);
        w.end = end;
    };

    // Mirrors the run scanner's reading of the text, character for character.
    size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        const char16_t next = i + 1 < text.size() ? text[i + 1] : u'\0';
        if (c == u' ' || c == u'\t') {
            other(TextPiece::Kind::Spacing, i, i + 1);
            i += 1;
        } else if (c == u'\\' && (next == u'N' || next == u'n')) {
            other(TextPiece::Kind::Spacing, i, i + 2);
            i += 2;
        } else if (c == u'{' && next == u'#') {
            size_t close = text.find(u'}', i + 2);
            if (close == std::u16string_view::npos) {
                other(TextPiece::Kind::Spacing, i, i + 2);
                i += 2;
            } else {
                other(TextPiece::Kind::Tag, i, close + 1);
                i = close + 1;
            }
        } else if (c == u'{') {
            size_t close = text.find(u'}', i + 1);
            if (close == std::u16string_view::npos) {
                other(TextPiece::Kind::Spacing, i, i + 1);
                i += 1;
            } else {
                current = parse_override_block(text.substr(i + 1, close - i - 1), current,
                                               event_override);
                other(TextPiece::Kind::Tag, i, close + 1);
                i = close + 1;
            }
        } else if (c == u'\\' && (next == u'{' || next == u'}' || next == u'\\')) {
            add(next, i, i + 2);
            i += 2;
        } else if (c == u'\\' && (next == u'h' || next == u'H')) {
            add(u' ', i, i + 2);
            i += 2;
        } else if (c == u'\\' && (next == u't' || next == u'T')) {
            // A tab ends its word: the scanner takes it as a blank after the tab character.
            add(u'\t', i, i + 2);
            word = kNpos;
            i += 2;
        } else {
            add(c, i, i + 1);
            i += 1;
        }
    }
    return pieces;
}

ConvertedText convert_event_text(std::u16string_view text, WordConversion direction,
                                 const ScanOptions& options) {
    auto convert = [&](std::u16string_view s, int cp) -> std::optional<std::u16string> {
        if (cp <= 0) {
            return std::nullopt;
        }
        return direction == WordConversion::Decode ? decode_8bit(s, cp) : encode_8bit(s, cp);
    };
    ConvertedText out;
    out.text.reserve(text.size());
    for (const TextPiece& p : split_event_text(text, options)) {
        std::u16string_view source = text.substr(p.begin, p.end - p.begin);
        switch (p.kind) {
            case TextPiece::Kind::Spacing:
                out.text += source;
                break;
            case TextPiece::Kind::Tag: {
                std::optional<std::u16string> tag;
                if (!is_ascii(source)) {
                    tag = convert(source, options.system_code_page);
                    out.tags_ok = out.tags_ok && tag.has_value();
                }
                out.text += tag ? *tag : std::u16string(source);
                break;
            }
            case TextPiece::Kind::Word: {
                std::optional<std::u16string> converted = convert(p.chars, p.code_page);
                if (!converted) {
                    out.text += u"Error";
                    ++out.failed_words;
                } else if (*converted == p.chars) {
                    out.text += source;
                } else {
                    out.text += escape_word(*converted);
                }
                break;
            }
        }
    }
    return out;
}

}  // namespace tessara::script
