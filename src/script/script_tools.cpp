#include "script/script_tools.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "script/codepage.h"
#include "script/script.h"
#include "script/script_edit.h"
#include "script/ssa_reader.h"

namespace tessara::script {

const char* const kConvertUnicodeQuestion = "This operation cannot be undone. Are you sure?";
const char* const kUndecodableWordsFormat =
    "%d dialogue lines held words their character set cannot decode; those words now read "
    "\"Error\".";
const char* const kUndecodedLinesFormat =
    "%d lines could not be decoded with the system code page and were kept as they were.";
const char* const kSnapEmptyRateText = "Please enter the frame rate";
const char* const kSnapBadNumberText = "Invalid number for FPS";
const char* const kSnapBadValueText = "Invalid value for FPS";
const char* const kQuotesQuestion =
    "This will change straigth(\"\")\r\nto double (\u201C\u201D) quotes in this script.\r\n"
    "Please confirm.";
const char* const kQuotesUnencodableFormat =
    "%d lines were left unchanged: their character set cannot hold typographic quotes.";

namespace {

// Largest magnitude of a time a Dialogue line can hold (99:59:59.99).
constexpr double kMaxLineTime = 35999999.0;

std::string format_count(const char* format, int count) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, count);
    return buf;
}

// Whether the code page leaves printable ASCII as it is, so that decoding a field can never
// change the commas, digits and names that give a line its structure.
bool keeps_ascii(int code_page) {
    std::u16string ascii;
    for (char16_t c = 0x20; c < 0x7F; ++c) {
        ascii += c;
    }
    auto decoded = decode_8bit(ascii, code_page);
    return decoded && *decoded == ascii;
}

// Decodes text with the code page, or keeps it as it is (setting `kept`) when it does not decode.
std::u16string decode_or_keep(std::u16string_view text, int code_page, bool& kept) {
    auto decoded = decode_8bit(text, code_page);
    if (!decoded) {
        kept = true;
        return std::u16string(text);
    }
    return std::move(*decoded);
}

// Decodes each comma-separated field on its own, keeping those that do not decode.
std::u16string decode_fields(std::u16string_view text, int code_page, bool& kept) {
    std::u16string out;
    size_t pos = 0;
    while (true) {
        size_t comma = text.find(u',', pos);
        size_t end = comma == std::u16string_view::npos ? text.size() : comma;
        out += decode_or_keep(text.substr(pos, end - pos), code_page, kept);
        if (comma == std::u16string_view::npos) {
            break;
        }
        out += u',';
        pos = comma + 1;
    }
    return out;
}

// A frame rate typed as "exactly one number": optional blanks around a decimal number.
std::optional<double> parse_rate(std::u16string_view text) {
    text = base::trim_blanks(text);
    std::string ascii;
    for (char16_t c : text) {
        // Digits, sign, point and exponent only: no hexadecimal, infinities or NaN.
        if (!(base::is_digit(c) || c == u'+' || c == u'-' || c == u'.' || c == u'e' || c == u'E')) {
            return std::nullopt;
        }
        ascii += static_cast<char>(c);
    }
    const char* p = ascii.data();
    const char* end = p + ascii.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    double value = 0;
    auto r = std::from_chars(p, end, value, std::chars_format::general);
    if (p == end || r.ec != std::errc{} || r.ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

// The start of frame slot `frame` at `rate`, truncated to hundredths.
double slot_start(double frame, double rate) {
    return std::floor(frame / rate * 100);
}

struct SnapTarget {
    DialogueEvent* event;
    ScriptTime start;
    ScriptTime end;
};

}  // namespace

ToolOutcome convert_to_unicode(Script& script, base::Messages& messages) {
    if (script.settings.unicode) {
        return ToolOutcome::Unchanged;
    }
    if (messages.ask(kConvertUnicodeQuestion, base::AskKind::OkCancel) != base::Answer::Ok) {
        return ToolOutcome::Cancelled;
    }
    const int system_cp = system_code_page(script.settings.mb_code_page);
    // With a code page that changes ASCII, decoding would break the lines' structure; their
    // texts are kept then, and only the words of the Text fields are decoded.
    const bool decode_fields_too = keeps_ascii(system_cp);
    int kept_lines = 0;
    int error_lines = 0;

    std::vector<std::pair<ScriptLine*, std::u16string>> new_texts;
    for (const auto& line : script.lines()) {
        std::u16string_view text = line->text;
        std::u16string converted;
        bool kept = false;
        switch (line->kind) {
            case LineKind::Deleted:
                continue;
            case LineKind::Dialogue: {
                size_t start = text_field_start(text);
                if (start == static_cast<size_t>(-1)) {
                    continue;
                }
                std::u16string_view prefix = text.substr(0, start);
                converted = decode_fields_too ? decode_fields(prefix, system_cp, kept)
                                              : std::u16string(prefix);
                // Words decode as the reader decoded them: with their style's character set.
                const ScanOptions options = line->event != nullptr
                                                ? script.scan_options(line->event->style_name)
                                                : script.scan_options(std::u16string_view());
                ConvertedText body =
                    convert_event_text(text.substr(start), WordConversion::Decode, options);
                converted += body.text;
                error_lines += body.failed_words > 0 ? 1 : 0;
                kept = kept || !body.tags_ok;
                break;
            }
            case LineKind::Style:
                if (!decode_fields_too) {
                    continue;
                }
                converted = decode_fields(text, system_cp, kept);
                break;
            case LineKind::EventsAnchor:
            case LineKind::Other:
                if (!decode_fields_too) {
                    continue;
                }
                converted = decode_or_keep(text, system_cp, kept);
                break;
        }
        kept_lines += kept ? 1 : 0;
        new_texts.emplace_back(line.get(), std::move(converted));
    }

    if (decode_fields_too) {
        // Each style text decodes exactly as its field in the style's line does, so names stay
        // equal to the (decoded) style fields of the Dialogue lines and to the order list.
        bool ignored = false;
        for (const auto& style : script.styles()) {
            for (std::u16string* field :
                 {&style->name, &style->face, &style->secondary, &style->tertiary,
                  &style->alpha_level, &style->shadow, &style->border_style}) {
                *field = decode_or_keep(*field, system_cp, ignored);
            }
        }
        for (std::u16string& name : script.settings.style_order) {
            name = decode_or_keep(name, system_cp, ignored);
        }
    }

    script.settings.unicode = true;
    script.settings.unicode_file = UnicodeFile::Utf16;
    for (auto& [line, text] : new_texts) {
        if (line->kind == LineKind::Dialogue && line->event != nullptr) {
            if (!set_dialogue_line(script, *line->event, text)) {
                // Decoding never touches the fields the reader checks; should it still fail,
                // the line keeps its text rather than losing its event.
                continue;
            }
        } else {
            line->text = std::move(text);
        }
    }
    script.settings.modified = true;
    script.settings.rebuild_needed = true;

    if (error_lines > 0) {
        messages.warn(format_count(kUndecodableWordsFormat, error_lines));
    }
    if (kept_lines > 0) {
        messages.warn(format_count(kUndecodedLinesFormat, kept_lines));
    }
    return ToolOutcome::Changed;
}

ToolOutcome snap_times(Script& script, std::u16string_view rate_text, base::Messages& messages) {
    std::u16string typed(rate_text);
    for (char16_t& c : typed) {
        if (c == u',') {
            c = u'.';
        }
    }
    if (base::trim_blanks(typed).empty()) {
        messages.error(kSnapEmptyRateText);
        return ToolOutcome::Failed;
    }
    std::optional<double> rate = parse_rate(typed);
    if (!rate) {
        messages.error(kSnapBadNumberText);
        return ToolOutcome::Failed;
    }
    const double r = *rate;
    if (!(r > 0)) {
        messages.error(kSnapBadValueText);
        return ToolOutcome::Failed;
    }

    // Every new time is worked out before any line changes, so that a rate that would push a
    // time out of range changes nothing.
    std::vector<SnapTarget> targets;
    for (const auto& line : script.lines()) {
        if (line->kind != LineKind::Dialogue || line->event == nullptr) {
            continue;
        }
        // The line's own times: a blinking line's first copy holds only its first flash.
        auto parsed = parse_dialogue_value(line_value(line->text), script);
        if (!parsed) {
            continue;
        }
        const double start_frame = std::ceil(parsed->start.value * r * 0.01);
        const double start = slot_start(start_frame, r);
        double end_frame = std::ceil(parsed->end.value * r * 0.01);
        double end = slot_start(end_frame, r);
        if (end <= start) {
            // Both times fell into one frame slot: the line keeps one frame.
            end_frame = std::max(start_frame + 1, std::ceil((start + 1) * r * 0.01));
            while (slot_start(end_frame, r) <= start) {
                ++end_frame;
            }
            end = slot_start(end_frame, r);
        }
        if (!(std::fabs(start) <= kMaxLineTime && std::fabs(end) <= kMaxLineTime)) {
            messages.error(kSnapBadValueText);
            return ToolOutcome::Failed;
        }
        targets.push_back({line->event, ScriptTime{static_cast<int32_t>(start), false},
                           ScriptTime{static_cast<int32_t>(end), false}});
    }

    const bool was_modified = script.settings.modified;
    const bool was_rebuild_needed = script.settings.rebuild_needed;
    bool changed = false;
    for (const SnapTarget& t : targets) {
        std::u16string before = t.event->line->text;
        if (rewrite_event_times(script, *t.event, t.start, t.end) &&
            t.event->line->text != before) {
            changed = true;
        }
    }
    if (!changed) {
        // Every line already read as it does now: the document is as it was.
        script.settings.modified = was_modified;
        script.settings.rebuild_needed = was_rebuild_needed;
        return ToolOutcome::Unchanged;
    }
    script.settings.modified = true;
    script.settings.rebuild_needed = true;
    return ToolOutcome::Changed;
}

ToolOutcome straight_to_typographic_quotes(Script& script, base::Messages& messages) {
    if (messages.ask(kQuotesQuestion, base::AskKind::OkCancel) != base::Answer::Ok) {
        return ToolOutcome::Cancelled;
    }
    const bool unicode = script.settings.unicode;
    int changed = 0;
    int unencodable = 0;

    std::vector<DialogueEvent*> heads;
    for (const auto& line : script.lines()) {
        if (line->kind == LineKind::Dialogue && line->event != nullptr) {
            heads.push_back(line->event);
        }
    }
    for (DialogueEvent* ev : heads) {
        const std::u16string& line = ev->line->text;
        size_t start = text_field_start(line);
        if (start == static_cast<size_t>(-1)) {
            continue;
        }
        std::u16string_view text = std::u16string_view(line).substr(start);

        // Quotes of the visible text, with the code page of the run each falls in.
        std::vector<std::pair<size_t, int>> quotes;
        for (const TextPiece& p : split_event_text(text, script.scan_options(ev->style_name))) {
            if (p.kind != TextPiece::Kind::Word) {
                continue;
            }
            for (size_t i = 0; i < p.chars.size(); ++i) {
                if (p.chars[i] == u'"' && text[p.sources[i]] == u'"') {
                    quotes.emplace_back(p.sources[i], p.code_page);
                }
            }
        }
        const size_t paired = quotes.size() / 2 * 2;
        if (paired == 0) {
            continue;
        }

        std::u16string out;
        size_t copied = 0;
        bool ok = true;
        for (size_t q = 0; q < paired && ok; ++q) {
            const auto [pos, code_page] = quotes[q];
            std::u16string mark(1, q % 2 == 0 ? u'\u201C' : u'\u201D');
            if (!unicode) {
                auto encoded = code_page > 0 ? encode_8bit(mark, code_page) : std::nullopt;
                ok = encoded.has_value();
                mark = ok ? escape_word(*encoded) : std::u16string();
            }
            out += text.substr(copied, pos - copied);
            out += mark;
            copied = pos + 1;
        }
        if (!ok) {
            ++unencodable;
            continue;
        }
        out += text.substr(copied);
        if (rewrite_event_text(script, *ev, out, TextInput::Stored)) {
            ++changed;
        }
    }

    if (unencodable > 0) {
        messages.warn(format_count(kQuotesUnencodableFormat, unencodable));
    }
    return changed > 0 ? ToolOutcome::Changed : ToolOutcome::Unchanged;
}

}  // namespace tessara::script
