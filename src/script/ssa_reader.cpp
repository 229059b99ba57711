#include "script/ssa_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <vector>

#include "base/file_io.h"
#include "base/messages.h"
#include "base/preferences.h"
#include "base/text.h"
#include "script/script.h"

namespace tessara::script {

using base::iequals;
using base::is_blank;
using base::trim_spaces;

const char* const kLineTooLongText = "Line too long in SSA script file";
const char* const kNoStylesText =
    "No styles where found.\nMost likely, this is not a SSA V4 file.\nIf this is a SSA V2 file, "
    "you must open it\nwith Sub Station Alpha and save it as SSA V4.\nSub Station Alpha is "
    "freely available from:\nhttps://en.wikipedia.org/wiki/SubStation_Alpha";
const char* const kStyleNotReadFormat =
    "The Style line at line %d was not read:\nits \"%s\" column %s.";
const char* const kNoDialogueText = "No dialogue events parsed";
const char* const kAssScriptText =
    "This is an ASS (V4+) script: its styles are in a [V4+ Styles] section.\nTessara reads SSA V4 "
    "scripts; import it into one first:\n  tessara import SCRIPT.ass -o SCRIPT.ssa";
const char* const kBlinkAbsoluteText =
    "You can't use ABSOLUTEIN / ABSOLUTEOUT tags\nwith a blinking subtitle.";
const char* const kCommentParseErrorFormat =
    "Warning: line totally or partially ignored due to parse error:\n%s";
const char* const kBlinkLimitFormat =
    "Warning: the blinking subtitle starting at %s would need too many copies;\nit stops "
    "blinking after %d blinks.";
const char* const kOddUtf16Text =
    "Warning: the file ends in the middle of a UTF-16 character; the last byte was ignored.";

namespace {

constexpr char16_t kByteOrderMark = 0xFEFF;

// What is wrong with the column of a Style line that made the reader drop the line.
enum class StyleFault {
    Missing,
    NotName,
    NotSize,
    NotInteger,
    NotMargin,
    NotCharset,
    NotColour,
    HexOutsideStyleSection
};

// The end of kStyleNotReadFormat for each fault; the %s is the column's text.
const char* style_fault_text(StyleFault fault) {
    switch (fault) {
        case StyleFault::Missing:
            return "is missing";
        case StyleFault::NotName:
            return "holds \"%s\", which is not a style name";
        case StyleFault::NotSize:
            return "holds \"%s\", which is not a whole number from 1 to 2000";
        case StyleFault::NotInteger:
            return "holds \"%s\", which is not a whole number";
        case StyleFault::NotMargin:
            return "holds \"%s\", which is not a whole number of 0 or more";
        case StyleFault::NotCharset:
            return "holds \"%s\", which is not a whole number from 0 to 255";
        case StyleFault::NotColour:
            return "holds \"%s\", which is not a colour number";
        case StyleFault::HexOutsideStyleSection:
            return "holds \"%s\", a hexadecimal colour, which is read only in a [V4 Styles] "
                   "section";
    }
    return "";
}

struct RejectedStyle {
    StyleFormat::Field field;
    StyleFault fault;
    std::u16string_view text;  // the column's text; empty when missing
};

// The message naming a rejected Style line (its line number in the file, from 1) and why.
std::string style_not_read_text(int64_t line_number, const RejectedStyle& rejected) {
    // A column can be most of a 10,000-character line; the start of it is enough to find it.
    constexpr size_t kShownChars = 60;
    std::string shown = base::utf16_to_utf8(rejected.text.substr(0, kShownChars));
    if (rejected.text.size() > kShownChars) {
        shown += "...";
    }
    std::string reason = style_fault_text(rejected.fault);
    if (size_t at = reason.find("%s"); at != std::string::npos) {
        reason.replace(at, 2, shown);
    }
    std::string text = kStyleNotReadFormat;
    text.replace(text.find("%d"), 2, std::to_string(line_number));
    const std::string column = base::utf16_to_utf8(StyleFormat::field_names()[rejected.field]);
    size_t at = text.find("%s");
    text.replace(at, 2, column);
    text.replace(text.find("%s", at + column.size()), 2, reason);
    return text;
}

enum class Section { None, ScriptInfo, Styles, Events };

// The file's text as the reader sees it, with how it is split into lines.
struct FileText {
    std::u16string text;
    // Byte files (8-bit and UTF-8) are read in text mode, where CR LF is one line feed; a
    // UTF-16 file keeps its carriage returns.
    bool text_mode = true;
    bool odd_tail = false;  // a UTF-16 file with a byte left over
};

// Decides how the file holds its text: UTF-16 behind the FF FE mark; UTF-8 when every byte
// belongs to a well-formed sequence and some character lies beyond ASCII (the EF BB BF mark is
// one); otherwise one character per byte, decoded later with the script's code pages. A UTF-8
// check that fails on one stray byte keeps an 8-bit file's bytes exactly as they were.
FileText decode_file(std::string_view bytes, ConversionSettings& settings) {
    FileText out;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        settings.unicode = true;
        settings.unicode_file = UnicodeFile::Utf16;
        out.text_mode = false;
        out.odd_tail = bytes.size() % 2 != 0;
        out.text.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            out.text += static_cast<char16_t>(byte(i) | (byte(i + 1) << 8));
        }
        return out;
    }
    const bool beyond_ascii =
        std::any_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
    if (beyond_ascii) {
        if (auto text = base::utf8_to_utf16_exact(bytes)) {
            const bool mark = !text->empty() && text->front() == kByteOrderMark;
            settings.unicode = true;
            settings.unicode_file = mark ? UnicodeFile::Utf8WithMark : UnicodeFile::Utf8;
            out.text = mark ? text->substr(1) : std::move(*text);
            return out;
        }
    }
    settings.unicode = false;
    out.text = base::latin1_to_utf16(bytes);
    return out;
}

// Splits the text into lines as the reader sees them (carriage returns kept, or with text-mode
// reading turning CR LF into LF).
class LineSource {
  public:
    explicit LineSource(const FileText& file) : m_text(file.text), m_text_mode(file.text_mode) {}

    // The next line without its line end; nothing at the end of the file. too_long is set
    // when the line, line feed included, reaches kMaxLineChars.
    std::optional<std::u16string> next(bool& too_long) {
        too_long = false;
        if (m_pos >= m_text.size()) {
            return std::nullopt;
        }
        std::u16string line;
        size_t count = 0;  // characters a line-buffered read would return, line feed included
        while (m_pos < m_text.size()) {
            char16_t c = m_text[m_pos++];
            if (m_text_mode && c == u'\r' && m_pos < m_text.size() && m_text[m_pos] == u'\n') {
                continue;  // text mode drops the CR of a CR LF pair
            }
            ++count;
            if (count >= kMaxLineChars) {
                too_long = true;
                return line;
            }
            if (c == u'\n') {
                break;
            }
            line += c;
        }
        if (!line.empty() && line.back() == u'\r') {
            line.pop_back();
        }
        return line;
    }

  private:
    std::u16string_view m_text;
    bool m_text_mode;
    size_t m_pos = 0;
};

// A decimal integer of any size, for colours that are taken modulo 2^24.
std::optional<int64_t> parse_int64_exact(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && is_blank(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i >= s.size() || !base::is_digit(s[i])) {
        return std::nullopt;
    }
    uint64_t v = 0;
    for (; i < s.size() && base::is_digit(s[i]); ++i) {
        v = v * 10 + static_cast<uint64_t>(s[i] - u'0');  // wraps like the low bits it keeps
    }
    if (i != s.size()) {
        return std::nullopt;
    }
    // Negated as unsigned: "-9223372036854775808" must not overflow a signed negation.
    return static_cast<int64_t>(negative ? 0 - v : v);
}

// A colour as editors write it: "&H" (either case) and hexadecimal digits, BBGGRR or AABBGGRR
// with the alpha byte in front, and an optional closing '&'. Nothing for any other text or for
// a value above 32 bits.
std::optional<uint32_t> parse_hex_colour(std::u16string_view s) {
    if (s.size() < 2 || s[0] != u'&' || (s[1] != u'H' && s[1] != u'h')) {
        return std::nullopt;
    }
    s.remove_prefix(2);
    if (!s.empty() && s.back() == u'&') {
        s.remove_suffix(1);
    }
    if (s.empty()) {
        return std::nullopt;
    }
    uint64_t v = 0;
    for (char16_t c : s) {
        int digit;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else {
            return std::nullopt;
        }
        v = v * 16 + static_cast<uint64_t>(digit);
        if (v > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(v);
}

// Reads "text," at pos (after blanks): a plain time directly followed by a comma.
std::optional<ScriptTime> time_field(std::u16string_view v, size_t& pos) {
    while (pos < v.size() && is_blank(v[pos]))
        ++pos;
    auto t = parse_script_time(v.substr(pos), false, false);
    if (!t || pos + t->end >= v.size() || v[pos + t->end] != u',') {
        return std::nullopt;
    }
    pos += t->end + 1;
    return t->time;
}

// Reads the characters up to the next comma (after blanks); nothing when there is no comma.
std::optional<std::u16string_view> text_field(std::u16string_view v, size_t& pos) {
    while (pos < v.size() && is_blank(v[pos]))
        ++pos;
    size_t comma = v.find(u',', pos);
    if (comma == std::u16string_view::npos) {
        return std::nullopt;
    }
    auto out = v.substr(pos, comma - pos);
    pos = comma + 1;
    return out;
}

class Reader {
  public:
    Reader(Script& script, const ReadOptions& options, base::Messages& messages)
        : m_script(script), m_options(options), m_messages(messages) {}

    bool read(std::string_view bytes, std::u16string_view source_path);

  private:
    bool handle_program_comment(const std::u16string& line);
    void classify(std::u16string line);
    // Nothing when the line became a style or named one already read.
    std::optional<RejectedStyle> parse_style(ScriptLine& line, std::u16string_view value);
    bool parse_dialogue(ScriptLine& line, std::u16string_view value);
    bool expand_blink(std::unique_ptr<DialogueEvent> ev);
    bool finish(std::u16string_view source_path);

    Script& m_script;
    const ReadOptions& m_options;
    base::Messages& m_messages;
    Section m_section = Section::None;
    bool m_events_section_seen = false;
    bool m_events_format_seen = false;
    bool m_dialogue_seen = false;
    bool m_v4_styles_seen = false;
    bool m_v4_plus_styles_seen = false;  // an ASS script, unless it has a V4 section too
    bool m_failed = false;
    int64_t m_line_number = 0;  // of the line being read, from 1
    // Why the first rejected Style line was dropped, for when no style is read at all.
    std::optional<std::string> m_first_style_rejection;
    std::optional<UserOverride> m_pending_override;
    int64_t m_blink_run_budget = kMaxBlinkRunCopies;
    bool m_blink_limit_reported = false;
};

bool Reader::read(std::string_view bytes, std::u16string_view source_path) {
    const FileText file = decode_file(bytes, m_script.settings);
    if (file.odd_tail) {
        m_messages.warn(kOddUtf16Text);
    }
    LineSource source(file);
    bool too_long = false;
    while (auto line = source.next(too_long)) {
        ++m_line_number;
        if (too_long) {
            m_messages.error(kLineTooLongText);
            return false;
        }
        if (!handle_program_comment(*line)) {
            classify(std::move(*line));
        }
        if (m_failed) {
            return false;
        }
    }
    return finish(source_path);
}

// Comment lines whose text starts with one of the program's keywords carry settings; they are
// consumed here and regenerated on save.
bool Reader::handle_program_comment(const std::u16string& line) {
    size_t colon = line.find(u':');
    if (colon == std::u16string::npos ||
        !iequals(trim_spaces(std::u16string_view(line).substr(0, colon)), u"Comment")) {
        return false;
    }
    size_t pos = colon + 1;
    for (int commas = 0; commas < 9; ++commas) {
        pos = line.find(u',', pos);
        if (pos == std::u16string::npos) {
            return false;
        }
        ++pos;
    }
    while (pos < line.size() && line[pos] == u' ')
        ++pos;
    std::u16string_view rest = std::u16string_view(line).substr(pos);
    size_t kw_end = rest.find(u':');
    if (kw_end == std::u16string_view::npos) {
        return false;
    }
    auto keyword = trim_spaces(rest.substr(0, kw_end));
    auto payload = trim_spaces(rest.substr(kw_end + 1));
    bool ok;
    if (iequals(keyword, u"TSRACONF")) {
        ok = read_settings_payload(m_script.settings, payload);
    } else if (iequals(keyword, u"TSRAUSER") || iequals(keyword, u"TSRADATA")) {
        ok = read_user_payload(m_pending_override, payload);
    } else if (iequals(keyword, u"TSRASTYLE")) {
        auto p = payload;
        while (!p.empty() && is_blank(p.front()))
            p.remove_prefix(1);
        size_t semi = p.find(u';');
        Style* style = nullptr;
        if (semi != std::u16string_view::npos) {
            auto name = p.substr(0, semi);
            while (!name.empty() && is_blank(name.back()))
                name.remove_suffix(1);
            style = m_script.find_style(name);
        }
        ok = style != nullptr && read_style_extras(*style, p.substr(semi + 1));
    } else {
        return false;
    }
    if (!ok) {
        std::string text = kCommentParseErrorFormat;
        text.replace(text.find("%s"), 2, base::utf16_to_utf8(line));
        m_messages.warn(text);
    }
    return true;
}

void Reader::classify(std::u16string text) {
    ScriptLine& line = m_script.append_line(LineKind::Other, std::move(text));
    std::u16string_view whole = line.text;
    size_t colon = whole.find(u':');
    auto key = trim_spaces(colon == std::u16string_view::npos ? whole : whole.substr(0, colon));
    auto value = colon == std::u16string_view::npos ? std::u16string_view()
                                                    : trim_spaces(whole.substr(colon + 1));

    if (iequals(key, u"[Script Info]")) {
        m_section = Section::ScriptInfo;
    } else if (iequals(key, u"[V4 Styles]")) {
        m_section = Section::Styles;
        m_v4_styles_seen = true;
    } else if (iequals(key, u"[Events]")) {
        m_section = Section::Events;
        m_events_section_seen = true;
    } else if (!key.empty() && key.front() == u'[') {
        m_section = Section::None;
        m_v4_plus_styles_seen = m_v4_plus_styles_seen || iequals(key, u"[V4+ Styles]");
    } else if (iequals(key, u"Collisions")) {
        m_script.settings.coll_foresee = iequals(value, u"Reverse");
    } else if (iequals(key, u"PlayResY")) {
        if (auto v = base::parse_int_exact(value); v && *v >= 200) {
            m_script.ssa_height = *v;
            int64_t w = *v == 1024 ? 1280 : int64_t{*v} * 4 / 3;
            m_script.ssa_width =
                static_cast<int32_t>(std::min<int64_t>(w, std::numeric_limits<int32_t>::max()));
        }
    } else if (iequals(key, u"Format") && m_section == Section::Styles) {
        m_script.set_style_format(StyleFormat::from_format_line(value));
    } else if (iequals(key, u"Style")) {
        if (auto rejected = parse_style(line, value); rejected && !m_first_style_rejection) {
            m_first_style_rejection = style_not_read_text(m_line_number, *rejected);
        }
    } else if (iequals(key, u"Format") && m_section == Section::Events) {
        if (!m_events_format_seen) {
            line.kind = LineKind::EventsAnchor;
            m_events_format_seen = true;
        }
    } else if (iequals(key, u"Dialogue") && m_options.parse_dialogue) {
        m_dialogue_seen = true;
        if (!m_events_section_seen && !m_events_format_seen) {
            // The events section is missing: an anchor goes in before the first Dialogue line
            // so that the settings have a place when the script is saved. Saved, it is an
            // "[Events]" header; the lines after it are read as in that section now already, or
            // a Format line further down would count as a style format now and as the events
            // Format line after saving.
            std::u16string kept = std::move(line.text);
            line.text = u"[Events]";
            line.kind = LineKind::EventsAnchor;
            m_events_format_seen = true;
            m_events_section_seen = true;
            m_section = Section::Events;
            ScriptLine& dialogue = m_script.append_line(LineKind::Other, std::move(kept));
            parse_dialogue(dialogue,
                           trim_spaces(std::u16string_view(dialogue.text).substr(colon + 1)));
            return;
        }
        parse_dialogue(line, value);
    }
}

std::optional<RejectedStyle> Reader::parse_style(ScriptLine& line, std::u16string_view value) {
    if (!m_script.style_format()) {
        m_script.set_style_format(StyleFormat::identity());
    }
    const StyleFormat& format = *m_script.style_format();

    const std::vector<std::u16string_view> pieces = split_style_columns(value);
    auto field = [&](StyleFormat::Field f) -> std::optional<std::u16string_view> {
        int32_t col = format.column[f];
        if (col < 0 || static_cast<size_t>(col) >= pieces.size() || pieces[col].empty()) {
            return std::nullopt;
        }
        return pieces[col];
    };
    std::optional<RejectedStyle> rejected;
    auto int_field = [&](StyleFormat::Field f, int32_t lo, int32_t hi, StyleFault fault,
                         int32_t& out) -> bool {  // false: present and invalid
        auto text = field(f);
        if (!text)
            return true;
        auto v = base::parse_int_exact(*text);
        if (!v || *v < lo || *v > hi) {
            rejected = RejectedStyle{f, fault, *text};
            return false;
        }
        out = *v;
        return true;
    };

    auto style = std::make_unique<Style>();
    for (auto f : {StyleFormat::Name, StyleFormat::Fontname, StyleFormat::Fontsize}) {
        if (!field(f)) {
            return RejectedStyle{f, StyleFault::Missing, {}};
        }
    }
    auto name = field(StyleFormat::Name);
    auto face = field(StyleFormat::Fontname);
    std::u16string_view n = *name;
    if (n.front() == u'*') {
        style->starred = true;
        n.remove_prefix(1);
    }
    if (n.empty()) {
        return RejectedStyle{StyleFormat::Name, StyleFault::NotName, *name};
    }
    style->name = std::u16string(n);
    style->face = std::u16string(*face);

    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    int32_t size = style->font_size_stored, bold = 0, italic = 0, outline = style->outline;
    int32_t alignment = 2, margin_l = 30, margin_r = 30, margin_v = 30, encoding = 0;
    using enum StyleFault;
    bool ok = int_field(StyleFormat::Fontsize, 1, 2000, NotSize, size) &&
              int_field(StyleFormat::Bold, kMin, kMax, NotInteger, bold) &&
              int_field(StyleFormat::Italic, kMin, kMax, NotInteger, italic) &&
              int_field(StyleFormat::Outline, kMin, kMax, NotInteger, outline) &&
              int_field(StyleFormat::Alignment, kMin, kMax, NotInteger, alignment) &&
              int_field(StyleFormat::MarginL, 0, kMax, NotMargin, margin_l) &&
              int_field(StyleFormat::MarginR, 0, kMax, NotMargin, margin_r) &&
              int_field(StyleFormat::MarginV, 0, kMax, NotMargin, margin_v) &&
              int_field(StyleFormat::Encoding, 0, 255, NotCharset, encoding);
    if (!ok) {
        return rejected;
    }
    for (auto [f, colour] : {std::pair{StyleFormat::PrimaryColour, &style->primary},
                             std::pair{StyleFormat::BackColour, &style->outline_colour}}) {
        if (auto text = field(f)) {
            // Either way only the low 24 bits count: &HBBGGRR is the decimal number's own
            // byte order (red low), and an alpha byte in front falls away.
            uint64_t v = 0;
            if (auto decimal = parse_int64_exact(*text)) {
                v = static_cast<uint64_t>(*decimal);
            } else if (auto hex = parse_hex_colour(*text)) {
                // Outside a V4 style section a hex colour most likely belongs to a V4+ line,
                // whose other columns would be misread with V4 meanings.
                if (m_section != Section::Styles) {
                    return RejectedStyle{f, HexOutsideStyleSection, *text};
                }
                v = *hex;
            } else {
                return RejectedStyle{f, NotColour, *text};
            }
            *colour = static_cast<Colour>(v & 0xFFFFFF);
            style->synthesise_antialias();
        }
    }
    style->font_size_stored = size;
    style->bold = bold != 0;
    style->italic = italic != 0;
    style->outline = std::clamp(outline, 0, 4);
    if (field(StyleFormat::Alignment)) {
        int32_t h = alignment % 4;
        style->halign = h == 1 ? HAlign::Left : h == 3 ? HAlign::Right : HAlign::Centre;
        int32_t v = alignment & 12;
        style->valign = v == 4 ? VAlign::Top : v == 8 ? VAlign::Middle : VAlign::Bottom;
    }
    style->margin_left = margin_l;
    style->margin_right = margin_r;
    if (field(StyleFormat::MarginV)) {
        (style->valign == VAlign::Top ? style->margin_top : style->margin_bottom) = margin_v;
    }
    style->charset = encoding;
    auto text_of = [&](StyleFormat::Field f) {
        auto t = field(f);
        return t ? std::u16string(*t) : std::u16string();
    };
    style->secondary = text_of(StyleFormat::SecondaryColour);
    style->tertiary = text_of(StyleFormat::TertiaryColour);
    style->alpha_level = text_of(StyleFormat::AlphaLevel);
    style->shadow = text_of(StyleFormat::Shadow);
    style->border_style = text_of(StyleFormat::BorderStyle);

    if (m_script.find_style(style->name) != nullptr) {
        return std::nullopt;
    }
    style->line = &line;
    line.kind = LineKind::Style;
    line.style = &m_script.append_style(std::move(style));
    return std::nullopt;
}

bool Reader::parse_dialogue(ScriptLine& line, std::u16string_view value) {
    // A style defined further down, or a setting read later, gives other scan options: binding
    // at the end of the read scans such an event again (Script::bind_event).
    std::optional<ParsedDialogue> parsed = parse_dialogue_value(value, m_script);
    if (!parsed) {
        m_pending_override.reset();
        return false;
    }
    auto ev = std::make_unique<DialogueEvent>();
    ev->start = parsed->start;
    ev->end = parsed->end;
    ev->style_name = std::move(parsed->style_name);
    ev->actor = std::move(parsed->actor);
    ev->margin_override = std::move(parsed->margin_override);
    ev->runs = std::move(parsed->text.runs);
    ev->scanned_with = parsed->options;
    ev->plain_text = std::move(parsed->text.plain_text);
    ev->absolute = parsed->text.absolute;
    ev->blink_period = parsed->text.blink_period;
    ev->user_override = std::move(m_pending_override);
    m_pending_override.reset();
    ev->line = &line;
    line.kind = LineKind::Dialogue;
    if (ev->blink_period != 0) {
        if (!expand_blink(std::move(ev))) {
            return false;
        }
    } else {
        line.event = &m_script.append_event(std::move(ev));
    }
    return true;
}

// A blinking event is replaced by copies shown for half of each period, from its start until a
// copy would start after its end.
bool Reader::expand_blink(std::unique_ptr<DialogueEvent> ev) {
    if (ev->user_override && ev->user_override->has_absolute()) {
        m_messages.error(kBlinkAbsoluteText);
        m_failed = true;
        return false;
    }
    const int32_t period = ev->blink_period;
    const int64_t natural = (int64_t{ev->end.value} - ev->start.value) / period + 1;
    const int64_t copies =
        blink_copy_count(ev->start, ev->end, period, ev->runs.size(), m_blink_run_budget);
    m_blink_run_budget -= copies * static_cast<int64_t>(std::max<size_t>(ev->runs.size(), 1));
    if (copies < natural && !m_blink_limit_reported) {
        m_blink_limit_reported = true;
        char text[512];
        std::snprintf(text, sizeof text, kBlinkLimitFormat,
                      base::utf16_to_utf8(format_script_time(ev->start, true)).c_str(),
                      static_cast<int>(copies));
        m_messages.warn(text);
    }
    DialogueEvent* head = nullptr;
    const int64_t last = int64_t{ev->start.value} + (copies - 1) * period;
    for (int64_t cursor = ev->start.value; cursor <= last; cursor += period) {
        auto copy = std::make_unique<DialogueEvent>();
        copy->start = ScriptTime{static_cast<int32_t>(cursor), false};
        copy->end = ScriptTime{static_cast<int32_t>(cursor + period / 2), false};
        copy->style_name = ev->style_name;
        copy->actor = ev->actor;
        copy->margin_override = ev->margin_override;
        copy->plain_text = ev->plain_text;
        copy->blink_period = period;
        copy->absolute = ev->absolute;
        copy->runs = ev->runs;
        if (head == nullptr) {
            // The first copy stands for the line; the others point to it.
            copy->line = ev->line;
            copy->user_override = ev->user_override;
            head = &m_script.append_event(std::move(copy));
            ev->line->event = head;
        } else {
            copy->blink_head = head;
            m_script.append_event(std::move(copy));
        }
    }
    return true;
}

bool Reader::finish(std::u16string_view source_path) {
    if (m_v4_plus_styles_seen && !m_v4_styles_seen) {
        m_messages.error(kAssScriptText);
        return false;
    }
    if (m_script.styles().empty()) {
        if (m_first_style_rejection) {
            m_messages.error(*m_first_style_rejection + "\n\n" + kNoStylesText);
        } else {
            m_messages.error(kNoStylesText);
        }
        return false;
    }
    if (!m_events_section_seen && !m_events_format_seen && !m_dialogue_seen) {
        m_messages.error(kNoDialogueText);
        return false;
    }
    ConversionSettings& s = m_script.settings;
    if (!source_path.empty()) {
        s.source_path = std::u16string(source_path);
    }
    if (!post_load(s, m_messages)) {
        return false;
    }
    // "MBCodePage" and "CodePage" are settings of the whole document, but a settings line may
    // follow some of the Dialogue lines (hand-edited files). Binding decodes those lines again
    // with the final settings, as a save (which writes the settings before the first Dialogue
    // line) and a reload would decode them.
    m_script.bind_events();
    m_script.order_styles();
    m_script.follow_output_size();
    if (s.honor_file.empty() && m_options.preferences != nullptr) {
        s.honor_file =
            base::utf8_to_utf16(m_options.preferences->get_string_or("Files", "HonorPalette", ""));
    }
    return true;
}

}  // namespace

int64_t blink_copy_count(ScriptTime start, ScriptTime end, int32_t period, size_t runs,
                         int64_t run_budget) {
    if (period <= 0 || end.value < start.value) {
        return 1;
    }
    const int64_t natural = (int64_t{end.value} - start.value) / period + 1;
    const int64_t by_runs = run_budget / static_cast<int64_t>(std::max<size_t>(runs, 1));
    return std::max<int64_t>(1, std::min({natural, kMaxBlinkCopies, by_runs}));
}

namespace {

bool treat_n_preference(const ReadOptions& options) {
    return options.preferences != nullptr &&
           options.preferences->get_int("Files", "Treat \\n as \\N", 0) != 0;
}

}  // namespace

std::u16string_view line_value(std::u16string_view line) {
    size_t colon = line.find(u':');
    return colon == std::u16string_view::npos ? std::u16string_view()
                                              : trim_spaces(line.substr(colon + 1));
}

namespace {

// `options_for` gives the scan options from the line's style name.
template <typename OptionsFor>
std::optional<ParsedDialogue> parse_dialogue_fields(std::u16string_view value,
                                                    OptionsFor&& options_for) {
    ParsedDialogue out;
    size_t pos = value.find(u',');
    if (pos == std::u16string_view::npos) {
        return std::nullopt;
    }
    ++pos;
    auto start = time_field(value, pos);
    if (!start)
        return std::nullopt;
    auto end = time_field(value, pos);
    if (!end || start->value >= end->value)
        return std::nullopt;
    out.start = *start;
    out.end = *end;
    auto style = text_field(value, pos);
    auto actor = style ? text_field(value, pos) : std::nullopt;
    if (!style || !actor)
        return std::nullopt;
    if (!style->empty() && style->front() == u'*')
        style->remove_prefix(1);
    out.style_name = std::u16string(*style);
    out.actor = std::u16string(*actor);

    StyleOverride margins;
    std::optional<int32_t>* margin_slots[3] = {&margins.margin_left, &margins.margin_right,
                                               &margins.margin_vertical};
    bool any_margin = false;
    for (auto* slot : margin_slots) {
        auto text = text_field(value, pos);
        if (!text)
            return std::nullopt;
        auto v = base::parse_int_exact(*text);
        if (!v)
            return std::nullopt;
        if (*v != 0) {
            *slot = *v;
            any_margin = true;
        }
    }
    if (any_margin) {
        out.margin_override = margins;
    }
    size_t effect_end = value.find(u',', pos);
    if (effect_end == std::u16string_view::npos)
        return std::nullopt;
    out.options = options_for(out.style_name);
    out.text = scan_event_text(value.substr(effect_end + 1), out.options, out.margin_override);
    return out;
}

}  // namespace

std::optional<ParsedDialogue> parse_dialogue_value(std::u16string_view value,
                                                   const ScanOptions& options) {
    return parse_dialogue_fields(value, [&](std::u16string_view) { return options; });
}

std::optional<ParsedDialogue> parse_dialogue_value(std::u16string_view value,
                                                   const Script& script) {
    return parse_dialogue_fields(
        value, [&](std::u16string_view style) { return script.scan_options(style); });
}

bool read_script_bytes(Script& script, std::string_view bytes, std::u16string_view source_path,
                       const ReadOptions& options, base::Messages& messages) {
    script.settings.bw_wrap = true;
    Reader reader(script, options, messages);
    if (!reader.read(bytes, source_path)) {
        script.reset(true, treat_n_preference(options));
        return false;
    }
    return true;
}

bool load_script(Script& script, const std::optional<std::string>& path, const ReadOptions& options,
                 base::Messages& messages) {
    script.reset(path.has_value(), treat_n_preference(options));
    std::string file = path ? *path : base::utf16_to_utf8(script.settings.source_path);
    int error = 0;
    std::optional<std::string> bytes = base::read_whole_file(file, error);
    if (!bytes) {
        messages.file_error(file, "", error);
        script.reset(true, treat_n_preference(options));
        return false;
    }
    const std::u16string source = base::utf8_to_utf16(file);
    return read_script_bytes(script, *bytes, source, options, messages);
}

}  // namespace tessara::script
