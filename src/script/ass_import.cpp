#include "script/ass_import.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <unordered_map>

#include "base/int_math.h"
#include "base/text.h"
#include "script/codepage.h"
#include "script/ssa_reader.h"

namespace tessara::script {

using base::iequals;
using base::trim_blanks;

namespace {

constexpr size_t kFirstEventsShown = 5;
constexpr int32_t kDefaultPlayResX = 384;  // what ASS renderers assume without PlayResX/Y
constexpr int32_t kDefaultPlayResY = 288;
constexpr int32_t kMinReadPlayResY = 200;  // the reader ignores a smaller PlayResY

const std::u16string_view kStyleFormatLine =
    u"Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, "
    u"BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    u"MarginV, AlphaLevel, Encoding";
const std::u16string_view kEventFormatLine =
    u"Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text";

// The columns of a V4+ Style line, in the order a Format line may rearrange.
enum StyleColumn {
    kName,
    kFontname,
    kFontsize,
    kPrimary,
    kSecondary,
    kOutlineColour,
    kBack,
    kBold,
    kItalic,
    kUnderline,
    kStrikeOut,
    kScaleX,
    kScaleY,
    kSpacing,
    kAngle,
    kBorderStyle,
    kOutline,
    kShadow,
    kAlignment,
    kMarginL,
    kMarginR,
    kMarginV,
    kEncoding,
    kStyleColumns
};
constexpr std::array<std::u16string_view, kStyleColumns> kStyleColumnNames = {
    u"Name",       u"Fontname", u"Fontsize", u"PrimaryColour", u"SecondaryColour", u"OutlineColour",
    u"BackColour", u"Bold",     u"Italic",   u"Underline",     u"StrikeOut",       u"ScaleX",
    u"ScaleY",     u"Spacing",  u"Angle",    u"BorderStyle",   u"Outline",         u"Shadow",
    u"Alignment",  u"MarginL",  u"MarginR",  u"MarginV",       u"Encoding"};

enum EventColumn {
    kLayer,
    kStart,
    kEnd,
    kStyle,
    kActor,
    kEventMarginL,
    kEventMarginR,
    kEventMarginV,
    kEffect,
    kText,
    kEventColumns
};
constexpr std::array<std::u16string_view, kEventColumns> kEventColumnNames = {
    u"Layer",   u"Start",   u"End",     u"Style",  u"Name",
    u"MarginL", u"MarginR", u"MarginV", u"Effect", u"Text"};

std::u16string u16(std::string_view ascii) {
    return base::to_u16(ascii);
}

// A number as ASS files write them ("20", "4.000", "-1", "2.5"), rounded half away from zero.
std::optional<int64_t> rounded_number(std::u16string_view s) {
    s = trim_blanks(s);
    bool negative = false;
    if (!s.empty() && (s.front() == u'-' || s.front() == u'+')) {
        negative = s.front() == u'-';
        s.remove_prefix(1);
    }
    int64_t whole = 0;
    size_t i = 0;
    for (; i < s.size() && base::is_digit(s[i]); ++i) {
        whole = std::min<int64_t>(whole * 10 + (s[i] - u'0'), int64_t{1} << 40);
    }
    const bool had_digits = i > 0;
    if (i < s.size() && s[i] == u'.') {
        ++i;
        if (i < s.size() && base::is_digit(s[i]) && s[i] >= u'5') {
            ++whole;
        }
        const size_t fraction = i;
        while (i < s.size() && base::is_digit(s[i])) {
            ++i;
        }
        if (!had_digits && i == fraction) {
            return std::nullopt;
        }
    } else if (!had_digits) {
        return std::nullopt;
    }
    if (i != s.size()) {
        return std::nullopt;
    }
    return negative ? -whole : whole;
}

// A colour as ASS writes it: &HAABBGGRR with or without the closing '&', any number of digits,
// or a decimal number. The 32 bits with the alpha byte on top.
std::optional<uint32_t> ass_colour(std::u16string_view s) {
    s = trim_blanks(s);
    if (s.size() >= 2 && s[0] == u'&' && (s[1] == u'H' || s[1] == u'h')) {
        s.remove_prefix(2);
        if (!s.empty() && s.back() == u'&') {
            s.remove_suffix(1);
        }
        uint32_t v = 0;
        if (s.empty()) {
            return std::nullopt;
        }
        for (char16_t c : s) {
            int d = c >= u'0' && c <= u'9'   ? c - u'0'
                    : c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                             : -1;
            if (d < 0) {
                return std::nullopt;
            }
            v = v * 16 + static_cast<uint32_t>(d);
        }
        return v;
    }
    if (s.empty() || s.find(u'.') != std::u16string_view::npos) {
        return std::nullopt;
    }
    auto n = rounded_number(s);
    if (!n) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(*n));
}

std::u16string join_columns(std::initializer_list<std::u16string> columns) {
    std::u16string out;
    for (const std::u16string& c : columns) {
        if (!out.empty() || &c != columns.begin()) {
            out += u',';
        }
        out += c;
    }
    return out;
}

std::u16string hex_tag_colour(uint32_t colour) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "&H%06X&", colour & 0xFFFFFF);
    return u16(buf);
}

// SSA alignment (1-3 bottom, 5-7 top, 9-11 middle) of an ASS numpad alignment; 0 for none.
int32_t ssa_alignment(int64_t numpad) {
    static constexpr std::array<int32_t, 10> kMap = {0, 1, 2, 3, 9, 10, 11, 5, 6, 7};
    return numpad >= 1 && numpad <= 9 ? kMap[static_cast<size_t>(numpad)] : 0;
}

// A value scaled from the ASS resolution to the SSA one.
struct Scale {
    int32_t to = 1;
    int32_t from = 1;

    int64_t apply(int64_t v) const {
        if (to == from) {
            return v;
        }
        const int32_t r = base::muldiv_round(base::saturate_int32(v), to, from);
        return r == -1 && v > 0 ? INT32_MAX : r;
    }
};

// The split of a line into its key and value ("Style: a,b" -> "Style", "a,b").
struct KeyValue {
    std::u16string_view key;
    std::u16string_view value;
    bool has_colon = false;
};

KeyValue key_value(std::u16string_view line) {
    size_t colon = line.find(u':');
    if (colon == std::u16string_view::npos) {
        return {base::trim_spaces(line), {}, false};
    }
    return {trim_blanks(line.substr(0, colon)), trim_blanks(line.substr(colon + 1)), true};
}

// Splits at commas; with `columns` > 0 the last column takes the rest of the line (text may
// hold commas).
std::vector<std::u16string_view> split_commas(std::u16string_view s, size_t columns) {
    std::vector<std::u16string_view> out;
    size_t pos = 0;
    while (columns == 0 || out.size() + 1 < columns) {
        size_t comma = s.find(u',', pos);
        if (comma == std::u16string_view::npos) {
            break;
        }
        out.push_back(s.substr(pos, comma - pos));
        pos = comma + 1;
    }
    out.push_back(s.substr(pos));
    return out;
}

// The position of each column in a Format line; -1 where absent.
template <size_t N>
std::array<int32_t, N> column_positions(std::u16string_view format,
                                        const std::array<std::u16string_view, N>& names) {
    std::array<int32_t, N> out;
    out.fill(-1);
    const auto fields = split_commas(format, 0);
    for (size_t i = 0; i < fields.size(); ++i) {
        std::u16string_view f = trim_blanks(fields[i]);
        for (size_t c = 0; c < N; ++c) {
            if (iequals(f, names[c]) && out[c] < 0) {
                out[c] = static_cast<int32_t>(i);
            }
        }
        if (iequals(f, u"TertiaryColour") && out[kOutlineColour] < 0 && N == kStyleColumns) {
            out[kOutlineColour] = static_cast<int32_t>(i);
        }
        if ((iequals(f, u"Marked") || iequals(f, u"Actor")) && N == kEventColumns) {
            out[iequals(f, u"Marked") ? kLayer : kActor] = static_cast<int32_t>(i);
        }
    }
    return out;
}

template <size_t N>
std::array<int32_t, N> identity_positions() {
    std::array<int32_t, N> out;
    for (size_t i = 0; i < N; ++i) {
        out[i] = static_cast<int32_t>(i);
    }
    return out;
}

// What an override reset (\r, or a tag without a value) goes back to.
struct StyleValues {
    std::u16string face = u"Arial";
    int64_t size = 20;
    uint32_t primary = 0xFFFFFF;
    bool bold = false;
    bool italic = false;
};

struct ImportedStyle {
    std::u16string raw_name;  // as in the file (bytes of an 8-bit file), trimmed
    StyleValues values;
    std::u16string line;
    int code_page = 0;
};

// Counts per-event losses by name, in order of first appearance.
class Tally {
  public:
    explicit Tally(std::vector<LostFeature>& out) : m_out(out) {}

    void add(const std::string& what, int64_t event) {
        auto [it, fresh] = m_index.try_emplace(what, Entry{m_out.size(), 0});
        if (fresh) {
            m_out.push_back({what, 0, {}});
        }
        if (it->second.last_event == event) {
            return;  // counted once per event
        }
        it->second.last_event = event;
        LostFeature& f = m_out[it->second.index];
        ++f.events;
        if (f.first_events.size() < kFirstEventsShown) {
            f.first_events.push_back(event);
        }
    }

  private:
    std::vector<LostFeature>& m_out;
    struct Entry {
        size_t index;
        int64_t last_event;
    };
    std::unordered_map<std::string, Entry> m_index;
};

// The name a dropped tag is reported under: families of tags share one line.
std::string lost_tag_name(std::u16string_view name) {
    static const std::array<std::pair<std::u16string_view, const char*>, 24> kFamilies = {{
        {u"k", "\\k (karaoke)"},      {u"K", "\\k (karaoke)"},      {u"kf", "\\k (karaoke)"},
        {u"ko", "\\k (karaoke)"},     {u"kt", "\\k (karaoke)"},     {u"fade", "\\fad"},
        {u"iclip", "\\clip"},         {u"1a", "\\alpha"},           {u"2a", "\\alpha"},
        {u"3a", "\\alpha"},           {u"4a", "\\alpha"},           {u"fscx", "\\fscx/\\fscy"},
        {u"fscy", "\\fscx/\\fscy"},   {u"fr", "\\frz (rotation)"},  {u"frx", "\\frz (rotation)"},
        {u"fry", "\\frz (rotation)"}, {u"frz", "\\frz (rotation)"}, {u"xbord", "\\bord"},
        {u"ybord", "\\bord"},         {u"xshad", "\\shad"},         {u"yshad", "\\shad"},
        {u"p", "\\p (drawing)"},      {u"fax", "\\fax/\\fay"},      {u"fay", "\\fax/\\fay"},
    }};
    for (const auto& [tag, shown] : kFamilies) {
        if (name == tag) {
            return shown;
        }
    }
    return name.empty() ? "\\ (no tag name)" : "\\" + base::utf16_to_utf8(name);
}

// Rewrites the text of one event: tags this renderer draws become their SSA forms, the others
// are dropped and counted.
class TextConverter {
  public:
    TextConverter(const std::vector<ImportedStyle>& styles, Scale vertical, Tally& tally)
        : m_styles(styles), m_vertical(vertical), m_tally(tally) {}

    std::u16string convert(std::u16string_view text, const StyleValues& style, int64_t event) {
        m_style = &style;
        m_event = event;
        m_drawing = false;
        m_aligned = false;
        std::u16string out;
        size_t i = 0;
        while (i < text.size()) {
            const char16_t c = text[i];
            if (c == u'\\' && i + 1 < text.size() && text[i + 1] == u'{') {
                if (!m_drawing) {
                    out.append(text.substr(i, 2));
                }
                i += 2;
                continue;
            }
            if (c != u'{') {
                if (!m_drawing) {
                    out += c;
                }
                ++i;
                continue;
            }
            const size_t close = text.find(u'}', i + 1);
            if (close == std::u16string_view::npos) {
                if (!m_drawing) {
                    out.append(text.substr(i));
                }
                break;
            }
            std::u16string_view block = text.substr(i + 1, close - i - 1);
            i = close + 1;
            if (block.find(u'\\') == std::u16string_view::npos) {
                // A note of the author's; the reader skips it too, unless it looks like one
                // of this program's own {#...} blocks.
                if (!block.empty() && block.front() == u'#') {
                    m_tally.add("{#...} note", m_event);
                } else {
                    out += u'{';
                    out.append(block);
                    out += u'}';
                }
                continue;
            }
            std::u16string tags = convert_block(block);
            if (!tags.empty()) {
                out += u'{';
                out += tags;
                out += u'}';
            }
        }
        return out;
    }

  private:
    static bool is_letter(char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    }

    std::u16string convert_block(std::u16string_view block) {
        std::u16string out;
        size_t pos = block.find(u'\\');
        while (pos != std::u16string_view::npos) {
            size_t j = pos + 1;
            const size_t name_start = j;
            if (j < block.size() && base::is_digit(block[j])) {
                ++j;
            }
            while (j < block.size() && is_letter(block[j])) {
                ++j;
            }
            std::u16string_view name = block.substr(name_start, j - name_start);
            // A face or style name follows these directly.
            if (name.starts_with(u"fn")) {
                j = name_start + 2;
                name = u"fn";
            } else if (name.starts_with(u"r") && name != u"r") {
                j = name_start + 1;
                name = u"r";
            }
            size_t end;
            if (j < block.size() && block[j] == u'(') {
                int depth = 0;
                end = j;
                for (; end < block.size(); ++end) {
                    depth += block[end] == u'(' ? 1 : block[end] == u')' ? -1 : 0;
                    if (depth == 0) {
                        ++end;
                        break;
                    }
                }
            } else {
                end = std::min(block.find(u'\\', j), block.size());
            }
            out += convert_tag(name, block.substr(j, end - j));
            pos = block.find(u'\\', end);
        }
        return out;
    }

    const StyleValues& named_style(std::u16string_view name) const {
        for (const ImportedStyle& s : m_styles) {
            if (s.raw_name == name) {
                return s.values;
            }
        }
        return *m_style;
    }

    std::u16string size_tag(int64_t size) const {
        return u"\\fs" + base::format_int(std::clamp<int64_t>(m_vertical.apply(size), 1, 2000));
    }

    std::u16string convert_tag(std::u16string_view name, std::u16string_view arg) {
        const std::u16string_view value = trim_blanks(arg);
        const auto number = rounded_number(value);
        const auto on_off = [&](const char16_t* tag, bool style_value) -> std::u16string {
            bool on = style_value;
            if (number) {
                // Weights 100-900 stand for bold from 600 on.
                on = *number >= 100 ? *number >= 600 : *number != 0;
            }
            return std::u16string(tag) + (on ? u"1" : u"0");
        };
        if (name == u"b") {
            return on_off(u"\\b", m_style->bold);
        }
        if (name == u"i") {
            return on_off(u"\\i", m_style->italic);
        }
        if (name == u"fn") {
            return u"\\fn" + std::u16string(value.empty() ? m_style->face : value);
        }
        if (name == u"fs") {
            if (!value.empty() && (value.front() == u'+' || value.front() == u'-')) {
                m_tally.add("\\fs+/-", m_event);
                return {};
            }
            return size_tag(number && *number > 0 ? *number : m_style->size);
        }
        if (name == u"fe" && number && *number >= 0 && *number <= 255) {
            return u"\\fe" + base::format_int(*number);
        }
        if (name == u"c" || name == u"1c") {
            auto colour =
                value.empty() ? std::optional<uint32_t>(m_style->primary) : ass_colour(value);
            if (colour) {
                return u"\\c" + hex_tag_colour(*colour);
            }
        }
        if (name == u"a" || name == u"an") {
            int64_t a = 0;
            if (number && name == u"an") {
                a = ssa_alignment(*number);
            } else if (number && *number >= 1 && *number <= 11 && (*number & 3) != 0) {
                a = *number;
            }
            // The first alignment of a line is the one in force.
            if (a != 0 && !m_aligned) {
                m_aligned = true;
                return u"\\a" + base::format_int(a);
            }
            return {};
        }
        if (name == u"r") {
            const StyleValues& s = value.empty() ? *m_style : named_style(value);
            return u"\\fn" + s.face + size_tag(s.size) + u"\\c" + hex_tag_colour(s.primary) +
                   (s.bold ? u"\\b1" : u"\\b0") + (s.italic ? u"\\i1" : u"\\i0");
        }
        if (name == u"p") {
            m_drawing = number && *number > 0;
            if (!m_drawing) {
                return {};
            }
        }
        m_tally.add(lost_tag_name(name), m_event);
        return {};
    }

    const std::vector<ImportedStyle>& m_styles;
    Scale m_vertical;
    Tally& m_tally;
    const StyleValues* m_style = nullptr;
    int64_t m_event = 0;
    bool m_drawing = false;
    bool m_aligned = false;
};

enum class Section { None, ScriptInfo, Styles, Events, Kept, Dropped };

// The file's text: Unicode as read, or an 8-bit file's bytes one per unit.
struct InputText {
    std::u16string text;
    bool eight_bit = false;
    std::string encoding;
};

InputText decode_input(std::string_view bytes) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    InputText out;
    if (bytes.size() >= 2 &&
        ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        const bool little = byte(0) == 0xFF;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            out.text += static_cast<char16_t>(little ? byte(i) | (byte(i + 1) << 8)
                                                     : (byte(i) << 8) | byte(i + 1));
        }
        out.encoding = little ? "UTF-16" : "UTF-16 (big-endian)";
        return out;
    }
    if (auto text = base::utf8_to_utf16_exact(bytes)) {
        const bool ascii =
            std::none_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
        if (!text->empty() && text->front() == 0xFEFF) {
            text->erase(0, 1);
        }
        out.text = std::move(*text);
        out.encoding = ascii ? "ASCII" : "UTF-8";
        return out;
    }
    out.text = base::latin1_to_utf16(bytes);
    out.eight_bit = true;
    return out;
}

std::vector<std::u16string_view> split_lines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' || text[i] == u'\r') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

Section section_of(std::u16string_view header) {
    if (iequals(header, u"[Script Info]")) {
        return Section::ScriptInfo;
    }
    if (iequals(header, u"[V4+ Styles]")) {
        return Section::Styles;
    }
    if (iequals(header, u"[Events]")) {
        return Section::Events;
    }
    if (iequals(header, u"[Fonts]") || iequals(header, u"[Graphics]")) {
        return Section::Kept;
    }
    return Section::Dropped;
}

bool is_header(std::u16string_view line) {
    line = trim_blanks(line);
    return !line.empty() && line.front() == u'[' && line.find(u']') != std::u16string_view::npos;
}

std::u16string_view header_of(std::u16string_view line) {
    line = trim_blanks(line);
    return line.substr(0, line.find(u']') + 1);
}

class Importer {
  public:
    Importer(std::string_view bytes, const AssImportOptions& options)
        : m_input(decode_input(bytes)),
          m_lines(split_lines(m_input.text)),
          m_default_code_page(options.code_page > 0 ? options.code_page : 1252),
          m_options(options),
          m_tags(m_report.tags),
          m_losses(m_report.events) {}

    AssImport run() {
        read_structure();
        convert_styles();
        emit();
        describe_encoding();
        return {encode_output(), std::move(m_report)};
    }

  private:
    // Text of the file in Unicode: an 8-bit file's bytes decoded with `code_page`.
    std::u16string text_of(std::u16string_view units, int code_page) const {
        if (!m_input.eight_bit) {
            return std::u16string(units);
        }
        for (int cp : {code_page, m_default_code_page}) {
            if (cp > 0) {
                if (auto decoded = decode_8bit(units, cp)) {
                    return *decoded;
                }
            }
        }
        return std::u16string(units);
    }

    int code_page_of_charset(int64_t charset) const {
        const int cp =
            charset >= 0 && charset <= 255 ? code_page_for_charset(static_cast<int>(charset)) : -1;
        return cp > 0 ? cp : m_default_code_page;
    }

    // First pass: the resolution, the Format lines and the styles' columns.
    void read_structure() {
        Section section = Section::None;
        for (std::u16string_view line : m_lines) {
            if (is_header(line)) {
                section = section_of(header_of(line));
                continue;
            }
            const KeyValue kv = key_value(line);
            if (section == Section::ScriptInfo && kv.has_colon) {
                if (iequals(kv.key, u"PlayResX")) {
                    m_play_x = rounded_number(kv.value);
                } else if (iequals(kv.key, u"PlayResY")) {
                    m_play_y = rounded_number(kv.value);
                }
            } else if (section == Section::Styles && iequals(kv.key, u"Format")) {
                m_style_columns = column_positions(kv.value, kStyleColumnNames);
            } else if (section == Section::Styles && iequals(kv.key, u"Style")) {
                m_style_values.push_back(split_commas(kv.value, 0));
            } else if (section == Section::Events && iequals(kv.key, u"Format")) {
                m_event_columns = column_positions(kv.value, kEventColumnNames);
            }
        }
        resolve_resolution();
    }

    void resolve_resolution() {
        int64_t x = m_play_x && *m_play_x > 0 ? *m_play_x : 0;
        int64_t y = m_play_y && *m_play_y > 0 ? *m_play_y : 0;
        std::string source;
        if (x == 0 && y == 0) {
            x = kDefaultPlayResX;
            y = kDefaultPlayResY;
            source = "no PlayResX or PlayResY (the ASS default 384 x 288 is used)";
        } else {
            if (y == 0) {
                y = x == 1280 ? 1024 : x * 3 / 4;
            } else if (x == 0) {
                x = y == 1024 ? 1280 : y * 4 / 3;
            }
            x = std::min<int64_t>(x, 100000);
            y = std::min<int64_t>(y, 100000);
            source = "PlayResX " + std::to_string(x) + ", PlayResY " + std::to_string(y);
        }
        // The SSA script states only its height; its width follows from it.
        const int64_t factor = y < kMinReadPlayResY ? base::ceil_div(kMinReadPlayResY, y) : 1;
        m_ssa_height = y * factor;
        m_ssa_width = m_ssa_height == 1024 ? 1280 : m_ssa_height * 4 / 3;
        m_vertical = {static_cast<int32_t>(m_ssa_height), static_cast<int32_t>(y)};
        m_horizontal = {static_cast<int32_t>(m_ssa_width), static_cast<int32_t>(x)};
        m_report.resolution = source + ": the SSA script is " + std::to_string(m_ssa_width) +
                              " x " + std::to_string(m_ssa_height);
        if (m_horizontal.to != m_horizontal.from) {
            m_report.resolution += "; horizontal margins scaled by " + std::to_string(m_ssa_width) +
                                   "/" + std::to_string(x);
        }
        if (factor != 1) {
            m_report.resolution +=
                "; sizes and vertical margins scaled by " + std::to_string(factor);
        }
        m_report.resolution += ".";
    }

    void convert_styles() {
        for (const auto& columns : m_style_values) {
            convert_style(columns);
        }
        if (m_styles.empty()) {
            // The reader needs a style; ASS renderers draw such scripts with a default one.
            static constexpr std::u16string_view kDefault = u"Default";
            convert_style({kDefault});
            m_report.styles_lost.push_back(
                "The script has no styles: a style \"Default\" (Arial 20, white) was added.");
        }
    }

    void convert_style(const std::vector<std::u16string_view>& columns) {
        const auto& pos =
            m_style_columns && columns.size() > 1 ? *m_style_columns : m_default_style_columns;
        auto field = [&](StyleColumn c) -> std::optional<std::u16string_view> {
            const int32_t at = pos[c];
            if (at < 0 || static_cast<size_t>(at) >= columns.size()) {
                return std::nullopt;
            }
            return trim_blanks(columns[static_cast<size_t>(at)]);
        };
        auto number = [&](StyleColumn c, int64_t fallback) {
            auto f = field(c);
            auto n = f ? rounded_number(*f) : std::nullopt;
            return n ? *n : fallback;
        };
        ImportedStyle style;
        style.raw_name = std::u16string(field(kName).value_or(u""));
        if (style.raw_name.starts_with(u'*')) {
            style.raw_name.erase(0, 1);
        }
        const int64_t encoding = std::clamp<int64_t>(number(kEncoding, 1), 0, 255);
        style.code_page = code_page_of_charset(encoding);
        const std::u16string name = text_of(style.raw_name, style.code_page);
        if (name.empty()) {
            m_report.styles_lost.push_back("A Style line without a name was dropped.");
            return;
        }
        std::vector<std::string> lost;
        auto colour = [&](StyleColumn c, uint32_t fallback) {
            auto f = field(c);
            if (!f) {
                return fallback;
            }
            auto v = ass_colour(*f);
            if (!v) {
                lost.push_back(base::utf16_to_utf8(kStyleColumnNames[c]) + " \"" +
                               base::utf16_to_utf8(*f) + "\" is not a colour");
                return fallback;
            }
            return *v;
        };
        const uint32_t primary = colour(kPrimary, 0x00FFFFFF);
        const uint32_t secondary = colour(kSecondary, 0x000000FF);
        const uint32_t outline_colour = colour(kOutlineColour, 0);
        colour(kBack, 0);
        if (primary >> 24 != 0) {
            lost.push_back("PrimaryColour alpha " + std::to_string(primary >> 24));
        }
        auto differs = [&](StyleColumn c, int64_t normal) {
            if (const int64_t v = number(c, normal); v != normal) {
                lost.push_back(base::utf16_to_utf8(kStyleColumnNames[c]) + " " +
                               base::utf16_to_utf8(*field(c)));
            }
        };
        differs(kUnderline, 0);
        differs(kStrikeOut, 0);
        differs(kScaleX, 100);
        differs(kScaleY, 100);
        differs(kSpacing, 0);
        differs(kAngle, 0);
        differs(kShadow, 0);
        const int64_t border_style = number(kBorderStyle, 1) == 3 ? 3 : 1;
        if (border_style == 3) {
            lost.push_back("BorderStyle 3 (opaque box)");
        }
        const int64_t outline = std::max<int64_t>(0, number(kOutline, 2));
        if (outline > 4) {
            lost.push_back("Outline " + std::to_string(outline) + " is drawn as 4");
        }
        const int64_t numpad = number(kAlignment, 2);
        const int32_t alignment = ssa_alignment(numpad) != 0 ? ssa_alignment(numpad) : 2;

        StyleValues& v = style.values;
        v.face = text_of(field(kFontname).value_or(u"Arial"), style.code_page);
        if (v.face.empty()) {
            v.face = u"Arial";
        }
        v.size = number(kFontsize, 20);
        v.primary = primary & 0xFFFFFF;
        v.bold = number(kBold, 0) != 0;
        v.italic = number(kItalic, 0) != 0;
        auto margin = [&](StyleColumn c, const Scale& scale) {
            return base::format_int(std::max<int64_t>(0, scale.apply(number(c, 10))));
        };
        auto decimal = [](uint32_t c) { return base::format_int(c & 0xFFFFFF); };
        style.line = u"Style: " +
                     join_columns({
                         name,
                         v.face,
                         base::format_int(std::clamp<int64_t>(m_vertical.apply(v.size), 1, 2000)),
                         decimal(primary),
                         decimal(secondary),
                         decimal(outline_colour),  // TertiaryColour
                         decimal(outline_colour),  // BackColour: outlines
                         v.bold ? u"-1" : u"0",
                         v.italic ? u"-1" : u"0",
                         base::format_int(border_style),
                         base::format_int(std::min<int64_t>(outline, 4)),
                         base::format_int(std::max<int64_t>(0, number(kShadow, 0))),
                         base::format_int(alignment),
                         margin(kMarginL, m_horizontal),
                         margin(kMarginR, m_horizontal),
                         margin(kMarginV, m_vertical),
                         u"0",
                         base::format_int(encoding),
                     });
        if (!lost.empty()) {
            std::string text = "Style \"" + base::utf16_to_utf8(name) + "\":";
            for (size_t i = 0; i < lost.size(); ++i) {
                text += (i == 0 ? " " : ", ") + lost[i];
            }
            m_report.styles_lost.push_back(text);
        }
        m_styles.push_back(std::move(style));
    }

    const ImportedStyle* find_style(std::u16string_view raw_name) const {
        if (raw_name.starts_with(u'*')) {
            raw_name.remove_prefix(1);
        }
        for (const ImportedStyle& s : m_styles) {
            if (iequals(s.raw_name, raw_name)) {
                return &s;
            }
        }
        return nullptr;
    }

    void out(std::u16string line) { m_out.push_back(std::move(line)); }

    void emit_script_info_head() {
        out(u"[Script Info]");
        out(u"; Imported from an ASS (V4+) script");
        out(u"ScriptType: v4.00");
        out(u"PlayResX: " + base::format_int(m_ssa_width));
        out(u"PlayResY: " + base::format_int(m_ssa_height));
        m_info_written = true;
    }

    // Second pass: the SSA script, line by line.
    void emit() {
        Section section = Section::None;
        std::u16string dropped_name;
        int64_t dropped_lines = 0;
        auto close_dropped = [&]() {
            if (!dropped_name.empty()) {
                m_report.sections.push_back(base::utf16_to_utf8(dropped_name) + " dropped (" +
                                            std::to_string(dropped_lines) + " lines).");
                dropped_name.clear();
            }
        };
        for (std::u16string_view line : m_lines) {
            if (is_header(line)) {
                close_dropped();
                std::u16string_view header = header_of(line);
                section = section_of(header);
                const bool kept = section == Section::Styles || section == Section::Events ||
                                  section == Section::Kept;
                if (kept && !m_info_written) {
                    emit_script_info_head();
                }
                switch (section) {
                    case Section::ScriptInfo:
                        if (!m_info_written) {
                            emit_script_info_head();
                        } else {
                            section = Section::Dropped;  // a second [Script Info]
                            dropped_name = header;
                        }
                        break;
                    case Section::Styles:
                        emit_styles();
                        break;
                    case Section::Events:
                        out(u"[Events]");
                        out(std::u16string(kEventFormatLine));
                        break;
                    case Section::Kept:
                        out(text_of(line, m_default_code_page));
                        m_report.sections.push_back(base::utf16_to_utf8(header) +
                                                    " kept as ordinary lines.");
                        break;
                    default:
                        dropped_name = header;
                        dropped_lines = 0;
                        break;
                }
                continue;
            }
            const KeyValue kv = key_value(line);
            switch (section) {
                case Section::None:
                case Section::ScriptInfo:
                    emit_info_line(line, kv);
                    break;
                case Section::Styles:
                    if (!iequals(kv.key, u"Style") && !iequals(kv.key, u"Format")) {
                        out(text_of(line, m_default_code_page));
                    }
                    break;
                case Section::Events:
                    emit_event_line(line, kv);
                    break;
                case Section::Kept:
                    out(text_of(line, m_default_code_page));
                    break;
                case Section::Dropped:
                    ++dropped_lines;
                    break;
            }
        }
        close_dropped();
        if (!m_info_written) {
            emit_script_info_head();
        }
        emit_styles();
    }

    // Every style, at the first style section (the reader binds events to styles after reading
    // the whole file, so where they stand does not matter).
    void emit_styles() {
        if (m_styles_written) {
            return;
        }
        out(u"[V4 Styles]");
        out(std::u16string(kStyleFormatLine));
        for (const ImportedStyle& style : m_styles) {
            out(style.line);
        }
        m_styles_written = true;
    }

    // A line of [Script Info], or one before any section.
    void emit_info_line(std::u16string_view line, const KeyValue& kv) {
        if (kv.has_colon && (iequals(kv.key, u"ScriptType") || iequals(kv.key, u"Script Type") ||
                             iequals(kv.key, u"PlayResX") || iequals(kv.key, u"PlayResY"))) {
            return;  // written with the section's head
        }
        for (std::u16string_view other : {u"Dialogue", u"Comment", u"Style", u"Format"}) {
            if (kv.has_colon && iequals(kv.key, other)) {
                m_stray_lines++;
                return;
            }
        }
        out(text_of(line, m_default_code_page));
    }

    void emit_event_line(std::u16string_view line, const KeyValue& kv) {
        if (!kv.has_colon || iequals(kv.key, u"Format")) {
            if (!kv.has_colon) {
                out(text_of(line, m_default_code_page));
            }
            return;
        }
        const bool dialogue = iequals(kv.key, u"Dialogue");
        const bool comment = iequals(kv.key, u"Comment");
        if (!dialogue && !comment) {
            if (iequals(kv.key, u"Picture") || iequals(kv.key, u"Sound") ||
                iequals(kv.key, u"Movie") || iequals(kv.key, u"Command")) {
                ++m_event;
                m_losses.add(base::utf16_to_utf8(kv.key) + " events (dropped)", m_event);
            } else {
                out(text_of(line, m_default_code_page));
            }
            return;
        }
        ++m_event;
        const auto& pos = m_event_columns ? *m_event_columns : m_default_event_columns;
        const int32_t text_at = pos[kText];
        const size_t columns = text_at >= 0 ? static_cast<size_t>(text_at) + 1 : 0;
        const auto fields = split_commas(kv.value, columns);
        if (text_at < 0 || fields.size() < columns || pos[kStart] < 0 || pos[kEnd] < 0) {
            m_losses.add("Malformed event lines (dropped)", m_event);
            return;
        }
        auto field = [&](EventColumn c) -> std::u16string_view {
            const int32_t at = pos[c];
            return at >= 0 ? trim_blanks(fields[static_cast<size_t>(at)]) : std::u16string_view();
        };
        const std::u16string_view style_name = field(kStyle);
        const ImportedStyle* style = find_style(style_name);
        if (style == nullptr && dialogue) {
            m_losses.add("Events naming a style that is not defined (drawn with the default style)",
                         m_event);
        }
        static const StyleValues kNoStyle;
        const int cp = style != nullptr ? style->code_page : m_default_code_page;
        auto margin = [&](EventColumn c, const Scale& scale) -> std::u16string {
            auto n = rounded_number(field(c));
            return n ? base::format_int(std::max<int64_t>(0, scale.apply(*n))) : u"0000";
        };
        std::u16string text = text_of(fields.back(), cp);
        if (dialogue) {
            TextConverter converter(m_styles, m_vertical, m_tags);
            text = converter.convert(text, style != nullptr ? style->values : kNoStyle, m_event);
            ++m_report.dialogues;
        } else {
            ++m_report.comments;
        }
        std::u16string result =
            (dialogue ? u"Dialogue: " : u"Comment: ") +
            join_columns({u"Marked=0", std::u16string(field(kStart)), std::u16string(field(kEnd)),
                          text_of(style_name, cp), text_of(field(kActor), cp),
                          margin(kEventMarginL, m_horizontal), margin(kEventMarginR, m_horizontal),
                          margin(kEventMarginV, m_vertical), text_of(field(kEffect), cp), text});
        // Two more characters for the line end; the reader refuses the whole file otherwise.
        if (result.size() + 2 >= kMaxLineChars) {
            m_losses.add("Events too long for an SSA line (dropped)", m_event);
            (dialogue ? m_report.dialogues : m_report.comments)--;
            return;
        }
        out(std::move(result));
    }

    void describe_encoding() {
        m_report.styles = static_cast<int64_t>(m_styles.size());
        if (m_input.eight_bit) {
            m_report.encoding = "8-bit text, decoded with each style's character set; code page " +
                                std::to_string(m_default_code_page) +
                                " where a style names none (choose another with --code-page)";
        } else {
            m_report.encoding = m_input.encoding;
        }
        if (m_stray_lines > 0) {
            m_report.sections.push_back(std::to_string(m_stray_lines) +
                                        " event, style or format line(s) in [Script Info] or "
                                        "before any section dropped.");
        }
    }

    std::string encode_output() const {
        std::string bytes;
        if (m_options.utf8) {
            bytes = "\xEF\xBB\xBF";
            for (const std::u16string& line : m_out) {
                bytes += base::utf16_to_utf8(line);
                bytes += "\r\n";
            }
            return bytes;
        }
        bytes = "\xFF\xFE";
        for (const std::u16string& line : m_out) {
            for (char16_t c : line) {
                bytes += static_cast<char>(c & 0xFF);
                bytes += static_cast<char>(c >> 8);
            }
            bytes.append("\r\0\n\0", 4);
        }
        return bytes;
    }

    InputText m_input;
    std::vector<std::u16string_view> m_lines;
    int m_default_code_page;
    const AssImportOptions& m_options;
    AssImportReport m_report;
    Tally m_tags;
    Tally m_losses;
    std::optional<int64_t> m_play_x, m_play_y;
    int64_t m_ssa_width = 0, m_ssa_height = 0;
    Scale m_horizontal, m_vertical;
    std::optional<std::array<int32_t, kStyleColumns>> m_style_columns;
    std::array<int32_t, kStyleColumns> m_default_style_columns =
        identity_positions<kStyleColumns>();
    std::optional<std::array<int32_t, kEventColumns>> m_event_columns;
    std::array<int32_t, kEventColumns> m_default_event_columns =
        identity_positions<kEventColumns>();
    std::vector<std::vector<std::u16string_view>> m_style_values;
    std::vector<ImportedStyle> m_styles;
    std::vector<std::u16string> m_out;
    bool m_info_written = false;
    bool m_styles_written = false;
    int64_t m_event = 0;
    int64_t m_stray_lines = 0;
};

void append_lost(std::string& text, const LostFeature& f) {
    text +=
        "  " + f.what + ": " + std::to_string(f.events) + (f.events == 1 ? " event" : " events");
    text += " (";
    for (size_t i = 0; i < f.first_events.size(); ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(f.first_events[i]);
    }
    text += f.events > static_cast<int64_t>(f.first_events.size()) ? ", ...)\n" : ")\n";
}

}  // namespace

bool is_ass_script(std::string_view bytes) {
    const InputText input = decode_input(bytes);
    bool ass = false;
    for (std::u16string_view line : split_lines(input.text)) {
        if (!is_header(line)) {
            continue;
        }
        const std::u16string_view header = header_of(line);
        if (iequals(header, u"[V4 Styles]")) {
            return false;
        }
        ass = ass || iequals(header, u"[V4+ Styles]");
    }
    return ass;
}

AssImport import_ass(std::string_view bytes, const AssImportOptions& options) {
    return Importer(bytes, options).run();
}

std::string import_report_text(const AssImportReport& report) {
    std::string text = "Imported " + std::to_string(report.styles) + " styles, " +
                       std::to_string(report.dialogues) + " dialogue lines and " +
                       std::to_string(report.comments) + " comment lines.\n";
    text += "Text: " + report.encoding + ".\n";
    text += "Resolution: " + report.resolution + "\n";
    if (report.tags.empty() && report.events.empty() && report.styles_lost.empty()) {
        text += "Everything else was carried over.\n";
    } else {
        text += "Not carried over:\n";
        for (const LostFeature& f : report.tags) {
            append_lost(text, f);
        }
        for (const LostFeature& f : report.events) {
            append_lost(text, f);
        }
        for (const std::string& s : report.styles_lost) {
            text += "  " + s + "\n";
        }
    }
    for (const std::string& s : report.sections) {
        text += s + "\n";
    }
    return text;
}

}  // namespace tessara::script
