#include "script/event_text.h"

#include <array>
#include <cstdio>

#include "base/text.h"
#include "script/codepage.h"

namespace tessara::script {

namespace {

bool is_ascii_letter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

std::u16string_view skip_blanks(std::u16string_view s) {
    while (!s.empty() && base::is_blank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

// A decimal tag argument: leading blanks skipped, no sign, 0 without digits, saturating.
int32_t tag_decimal(std::u16string_view arg) {
    return base::leading_decimal(skip_blanks(arg));
}

int hex_value(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// "&H" and hexadecimal digits, or a decimal number. Only the low 24 bits are kept, so the
// digits are accumulated modulo 2^32 (exact in those bits, and no overflow on long numbers).
// Blanks after "&H" are skipped: colours are written space padded ("&H    ff&").
Colour tag_colour(std::u16string_view arg) {
    arg = skip_blanks(arg);
    uint32_t value = 0;
    if (arg.size() >= 2 && arg[0] == u'&' && (arg[1] == u'H' || arg[1] == u'h')) {
        arg = skip_blanks(arg.substr(2));
        for (char16_t c : arg) {
            int d = hex_value(c);
            if (d < 0) {
                break;
            }
            value = value * 16 + static_cast<uint32_t>(d);
        }
    } else {
        bool negative = !arg.empty() && arg.front() == u'-';
        if (negative) {
            arg.remove_prefix(1);
        }
        for (char16_t c : arg) {
            if (!base::is_digit(c)) {
                break;
            }
            value = value * 10 + static_cast<uint32_t>(c - u'0');
        }
        if (negative) {
            value = 0u - value;
        }
    }
    return value & 0xFFFFFF;
}

struct BlockState {
    std::optional<StyleOverride>& current;
    std::optional<StyleOverride>& event_override;

    StyleOverride& run() {
        if (!current) {
            current.emplace();
        }
        return *current;
    }
};

void tag_bold(std::u16string_view arg, BlockState& st) {
    st.run().bold = !arg.empty() && arg.front() == u'1';
}

void tag_italic(std::u16string_view arg, BlockState& st) {
    st.run().italic = !arg.empty() && arg.front() == u'1';
}

void tag_face(std::u16string_view arg, BlockState& st) {
    st.run().face = std::u16string(arg);
}

void tag_size(std::u16string_view arg, BlockState& st) {
    st.run().font_size = tag_decimal(arg);
}

void tag_charset(std::u16string_view arg, BlockState& st) {
    int32_t charset = tag_decimal(arg);
    if (charset <= 255) {
        st.run().charset = charset;
    }
}

void tag_colour(std::u16string_view arg, BlockState& st) {
    st.run().primary = tag_colour(arg);
}

// SSA alignment numbering: low two bits 1 left, 2 centre, 3 right; 4 top, 8 middle. The whole
// subtitle takes it, wherever the tag stands.
void tag_alignment(std::u16string_view arg, BlockState& st) {
    int32_t n = tag_decimal(arg);
    if (!st.event_override) {
        st.event_override.emplace();
    }
    switch (n & 3) {
        case 2:
            st.event_override->halign = HAlign::Centre;
            break;
        case 3:
            st.event_override->halign = HAlign::Right;
            break;
        default:
            st.event_override->halign = HAlign::Left;
            break;
    }
    switch (n & 12) {
        case 4:
            st.event_override->valign = VAlign::Top;
            break;
        case 8:
            st.event_override->valign = VAlign::Middle;
            break;
        default:
            st.event_override->valign = VAlign::Bottom;
            break;
    }
}

struct TagHandler {
    std::u16string_view name;
    // A tag whose argument may start with a letter (a face name). Otherwise a letter right after
    // the name means a longer tag name (\bord, \fscx, \an, \clip...), which is not this tag.
    bool letters_follow;
    void (*apply)(std::u16string_view arg, BlockState& st);
};

constexpr std::array<TagHandler, 7> kTags = {{
    {u"fn", true, tag_face},
    {u"fs", false, tag_size},
    {u"fe", false, tag_charset},
    {u"b", false, tag_bold},
    {u"i", false, tag_italic},
    {u"c", false, tag_colour},
    {u"a", false, tag_alignment},
}};

void apply_tag(std::u16string_view token, BlockState& st) {
    for (const TagHandler& tag : kTags) {
        if (!token.starts_with(tag.name)) {
            continue;
        }
        std::u16string_view arg = token.substr(tag.name.size());
        if (!tag.letters_follow && !arg.empty() && is_ascii_letter(arg.front())) {
            continue;
        }
        tag.apply(arg, st);
        return;
    }
}

// The tokens of a block: the text after each backslash up to the next one.
template <typename F>
void for_each_token(std::u16string_view block, F&& f) {
    size_t pos = block.find(u'\\');
    while (pos != std::u16string_view::npos) {
        size_t next = block.find(u'\\', pos + 1);
        size_t end = next == std::u16string_view::npos ? block.size() : next;
        f(block.substr(pos + 1, end - pos - 1));
        pos = next;
    }
}

// Program tags between "{#" and "}".
void apply_program_tag(std::u16string_view tag, ScannedText& out) {
    if (tag == u"absolute") {
        out.absolute = true;
        return;
    }
    if (!tag.starts_with(u"blink")) {
        return;
    }
    std::u16string_view arg = skip_blanks(tag.substr(5));
    bool negative = false;
    if (arg.size() >= 2 && (arg[0] == u'-' || arg[0] == u'+') && base::is_digit(arg[1])) {
        negative = arg[0] == u'-';
        arg.remove_prefix(1);
    }
    int32_t period = 100;
    if (!arg.empty() && base::is_digit(arg.front())) {
        period = negative ? -1 : base::leading_decimal(arg);
    }
    out.blink_period = (period < 10 || period > 500) ? 0 : period;
}

class Scanner {
  public:
    Scanner(const ScanOptions& options, std::optional<StyleOverride>& event_override)
        : m_options(options), m_event_override(event_override) {
        m_out.runs.emplace_back();
    }

    ScannedText run(std::u16string_view text) {
        size_t i = 0;
        while (i < text.size()) {
            i = step(text, i);
        }
        if (!m_word.empty()) {
            finish_open_run(m_word);
        }
        if (m_out.runs.back().text.empty()) {
            m_out.runs.pop_back();
        }
        convert_texts();
        return std::move(m_out);
    }

  private:
    CSubSegment& open_run() { return m_out.runs.back(); }

    // Gives the open run its text and the override in force, and opens a new one.
    void finish_open_run(std::u16string_view text) {
        open_run().text = std::u16string(text);
        open_run().override = m_current;
    }
    void finish_and_open(std::u16string_view text) {
        finish_open_run(text);
        m_out.runs.emplace_back();
        m_word.clear();
    }

    void hard_break() {
        size_t count = m_out.runs.size();
        if (!m_word.empty() || count < 2 || m_out.runs[count - 2].line_break_after) {
            // An empty line still needs a run to carry its break: it holds one space.
            std::u16string text = m_word.empty() ? std::u16string(u" ") : m_word;
            open_run().line_break_after = true;
            finish_and_open(text);
        } else {
            m_out.runs[count - 2].line_break_after = true;
        }
        m_word.clear();
        m_out.plain_text += u'\n';
        m_pending_space = false;
    }

    void resolve_pending_space() {
        if (!m_pending_space) {
            return;
        }
        if (m_word.empty()) {
            open_run().space_before = true;
        } else {
            open_run().space_after = true;
            finish_and_open(m_word);
        }
        m_out.plain_text += u' ';
        m_pending_space = false;
    }

    void add_char(char16_t c) {
        m_word += c;
        m_out.plain_text += c;
    }

    void override_block(std::u16string_view block) {
        if (!m_word.empty()) {
            if (m_pending_space) {
                open_run().space_after = true;
                m_out.plain_text += u' ';
                m_pending_space = false;
            }
            finish_and_open(m_word);
        }
        m_current = parse_override_block(block, m_current, m_event_override);
    }

    // Handles the character(s) at i; returns the index after them.
    size_t step(std::u16string_view text, size_t i) {
        const char16_t c = text[i];
        const char16_t next = i + 1 < text.size() ? text[i + 1] : u'\0';
        if (c == u' ' || c == u'\t') {
            m_pending_space = true;
            return i + 1;
        }
        if (c == u'\\' && (next == u'N' || (next == u'n' && m_options.treat_n_as_N))) {
            hard_break();
            return i + 2;
        }
        if (c == u'\\' && next == u'n') {
            m_pending_space = true;
            return i + 2;
        }
        if (c == u'{' && next == u'#') {
            size_t close = text.find(u'}', i + 2);
            if (close == std::u16string_view::npos) {
                return i + 2;
            }
            apply_program_tag(text.substr(i + 2, close - i - 2), m_out);
            return close + 1;
        }
        if (c == u'{') {
            size_t close = text.find(u'}', i + 1);
            if (close == std::u16string_view::npos) {
                return i + 1;
            }
            override_block(text.substr(i + 1, close - i - 1));
            return close + 1;
        }
        resolve_pending_space();
        if (c == u'\\') {
            switch (next) {
                case u'{':
                case u'}':
                case u'\\':
                    add_char(next);
                    return i + 2;
                case u't':
                case u'T':
                    add_char(u'\t');
                    m_pending_space = true;
                    return i + 2;
                case u'h':
                case u'H':
                    add_char(u' ');
                    return i + 2;
                default:
                    break;
            }
        }
        add_char(c);
        return i + 1;
    }

    void convert_texts() {
        if (m_options.encoding == TextEncoding::AsRead) {
            return;
        }
        for (CSubSegment& seg : m_out.runs) {
            const int code_page = run_code_page(seg.override, m_options);
            std::optional<std::u16string> converted;
            if (code_page > 0) {
                converted = m_options.encoding == TextEncoding::DecodeAnsi
                                ? decode_8bit(seg.text, code_page)
                                : encode_8bit(seg.text, code_page);
            }
            seg.text = converted ? std::move(*converted) : std::u16string(u"Error");
        }
    }

    const ScanOptions& m_options;
    std::optional<StyleOverride>& m_event_override;
    ScannedText m_out;
    std::u16string m_word;
    bool m_pending_space = false;
    std::optional<StyleOverride> m_current;
};

int alignment_number(HAlign h, VAlign v) {
    int n = h == HAlign::Left ? 1 : h == HAlign::Right ? 3 : 2;
    if (v == VAlign::Top) {
        n += 4;
    }
    if (v == VAlign::Middle) {
        n += 8;
    }
    return n;
}

std::u16string format_colour(Colour c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "&H%6x&", static_cast<unsigned>(c));
    return base::to_u16(buf);
}

// Whether `prev` sets a tag that `cur` leaves unset: only a reset can express that.
bool drops_a_tag(const StyleOverride* prev, const StyleOverride* cur) {
    if (prev == nullptr) {
        return false;
    }
    if (cur == nullptr) {
        return prev->face || prev->font_size || prev->bold || prev->italic || prev->primary ||
               prev->charset;
    }
    return (prev->face && !cur->face) || (prev->font_size && !cur->font_size) ||
           (prev->bold && !cur->bold) || (prev->italic && !cur->italic) ||
           (prev->primary && !cur->primary) || (prev->charset && !cur->charset);
}

template <typename T>
bool changed(const std::optional<T>& cur, const std::optional<T>* prev) {
    return cur && (prev == nullptr || *prev != cur);
}

// The tags that take the override in force from `prev` to `cur`.
std::u16string override_tags(const StyleOverride* prev, const StyleOverride* cur) {
    std::u16string tags;
    if (drops_a_tag(prev, cur)) {
        tags += u"\\r";
        prev = nullptr;
    }
    if (cur == nullptr) {
        return tags;
    }
    if (changed(cur->face, prev ? &prev->face : nullptr)) {
        tags += u"\\fn" + *cur->face;
    }
    if (changed(cur->font_size, prev ? &prev->font_size : nullptr)) {
        tags += u"\\fs" + base::format_int(*cur->font_size);
    }
    if (changed(cur->bold, prev ? &prev->bold : nullptr)) {
        tags += *cur->bold ? u"\\b1" : u"\\b0";
    }
    if (changed(cur->italic, prev ? &prev->italic : nullptr)) {
        tags += *cur->italic ? u"\\i1" : u"\\i0";
    }
    if (changed(cur->primary, prev ? &prev->primary : nullptr)) {
        tags += u"\\c" + format_colour(*cur->primary);
    }
    if (changed(cur->charset, prev ? &prev->charset : nullptr)) {
        tags += u"\\fe" + base::format_int(*cur->charset);
    }
    return tags;
}

// The filler run of an empty line (one space ending a line) is written as it is: the scanner
// rebuilds it from the line break alone.
std::u16string escape_run_text(std::u16string_view text, bool filler) {
    return filler ? std::u16string(text) : escape_word(text);
}

}  // namespace

std::optional<StyleOverride> parse_override_block(std::u16string_view block,
                                                  const std::optional<StyleOverride>& current,
                                                  std::optional<StyleOverride>& event_override) {
    std::optional<StyleOverride> result = current;
    if (result) {
        // A reset anywhere in the block applies before any of its tags.
        bool reset = false;
        for_each_token(block, [&](std::u16string_view token) {
            reset = reset || (!token.empty() && token.front() == u'r');
        });
        if (reset) {
            result.reset();
        }
    }
    BlockState st{result, event_override};
    for_each_token(block, [&](std::u16string_view token) { apply_tag(token, st); });
    return result;
}

int32_t effective_charset(const std::optional<StyleOverride>& run_override, int32_t style_charset,
                          int32_t forced_charset) {
    if (run_override && run_override->charset) {
        return *run_override->charset;
    }
    return forced_charset != -1 ? forced_charset : style_charset;
}

int32_t effective_charset(const std::optional<StyleOverride>& run_override,
                          const ScanOptions& options) {
    return effective_charset(run_override, options.style_charset, options.forced_charset);
}

int text_code_page(int32_t charset, int system_code_page) {
    const int code_page = code_page_for_charset(charset);
    return code_page == 0 ? system_code_page : code_page;
}

int run_code_page(const std::optional<StyleOverride>& run_override, const ScanOptions& options) {
    const int code_page =
        text_code_page(effective_charset(run_override, options), options.system_code_page);
    const bool tagged = run_override && run_override->charset;
    return code_page < 0 && !tagged ? options.system_code_page : code_page;
}

ScannedText scan_event_text(std::u16string_view text, const ScanOptions& options,
                            std::optional<StyleOverride>& event_override) {
    return Scanner(options, event_override).run(text);
}

std::u16string escape_word(std::u16string_view chars) {
    std::u16string out;
    out.reserve(chars.size());
    for (char16_t c : chars) {
        switch (c) {
            case u'\\':
                out += u"\\\\";
                break;
            case u'{':
                out += u"\\{";
                break;
            case u' ':
                out += u"\\h";
                break;
            case u'\t':
                out += u"\\t";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::u16string serialize_runs(const std::optional<StyleOverride>& event_override,
                              const std::vector<CSubSegment>& runs) {
    std::u16string out;
    if (event_override && event_override->halign && event_override->valign) {
        out +=
            u"{\\a" +
            base::format_int(alignment_number(*event_override->halign, *event_override->valign)) +
            u"}";
    }
    const StyleOverride* prev = nullptr;
    const CSubSegment* prev_run = nullptr;
    for (const CSubSegment& seg : runs) {
        const StyleOverride* cur = seg.override ? &*seg.override : nullptr;
        std::u16string tags = override_tags(prev, cur);
        // Without a block between them, two runs read back joined by exactly one space, held
        // as the first run's space after. Runs that touch (a block that changed nothing split a
        // word), a space held as the second run's space before, or spaces on both sides of a
        // block need an (empty) block to keep them as they are.
        const bool needs_block = prev_run != nullptr && !prev_run->line_break_after &&
                                 !(prev_run->space_after && !seg.space_before);
        if (!tags.empty() || needs_block) {
            out += u'{' + tags + u'}';
        }
        prev = cur;
        bool filler = seg.text == u" " && seg.line_break_after && !seg.space_before &&
                      (prev_run == nullptr || prev_run->line_break_after);
        prev_run = &seg;
        if (seg.space_before) {
            out += u' ';
        }
        out += escape_run_text(seg.text, filler);
        if (seg.line_break_after) {
            out += u"\\N";
        } else if (seg.space_after) {
            out += u' ';
        }
    }
    return out;
}

void fill_run_colours(std::vector<CSubSegment>& runs, const Style& style, bool old_scale) {
    for (CSubSegment& seg : runs) {
        const StyleOverride* ov = seg.override ? &*seg.override : nullptr;
        // Only the three colour fields can change a run's colours; most runs have none, and
        // skipping the full merge for them keeps loading long scripts cheap.
        if (ov == nullptr || (!ov->primary && !ov->outline_colour && !ov->antialias)) {
            seg.text_colour = style.primary;
            seg.antialias_colour = style.antialias;
            seg.outline_colour = style.outline_colour;
            continue;
        }
        Style merged = merge_style(style, ov, old_scale);
        seg.text_colour = merged.primary;
        seg.antialias_colour = merged.antialias;
        seg.outline_colour = merged.outline_colour;
    }
}

}  // namespace tessara::script
