#include "formats/palette_honour.h"

#include <algorithm>
#include <string>

#include "base/messages.h"

namespace tessara::formats {

const char* const kInvalidHonourPaletteText =
    "The target script file with the palette to honor has and invalid palette";
const char* const kHonourNotNeededIAuthorText = "You don't need to honor a palette with I-Author";
const char* const kHonourNotNeededUsfText = "You don't need to honor a palette with USF";
const char* const kHonourNotImplementedText =
    "Honor palette file: not implemented for this type of script";

namespace {

// Lines are read through a buffer of this many characters, its terminator included; a line that
// does not fit (its line end counted) is no palette line.
constexpr size_t kLineBuffer = 10240;

// Scans text the way the C library's formatted input does for a pattern of blanks, literals and
// decimal numbers: a blank skips any white space, a number may be signed.
class Scanner {
  public:
    explicit Scanner(std::string_view text) : m_text(text) {}

    void skip_space() {
        while (m_pos < m_text.size() && is_space(m_text[m_pos])) {
            ++m_pos;
        }
    }

    bool literal(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) != word) {
            return false;
        }
        m_pos += word.size();
        return true;
    }

    // Saturates far beyond any valid value, so an overlong number still reads as out of range.
    std::optional<int64_t> number() {
        skip_space();
        size_t p = m_pos;
        bool negative = false;
        if (p < m_text.size() && (m_text[p] == '+' || m_text[p] == '-')) {
            negative = m_text[p] == '-';
            ++p;
        }
        if (p >= m_text.size() || m_text[p] < '0' || m_text[p] > '9') {
            return std::nullopt;
        }
        constexpr int64_t kLimit = int64_t{1} << 40;
        int64_t value = 0;
        while (p < m_text.size() && m_text[p] >= '0' && m_text[p] <= '9') {
            value = std::min(value * 10 + (m_text[p] - '0'), kLimit);
            ++p;
        }
        m_pos = p;
        return negative ? -value : value;
    }

    bool at_end() const { return m_pos == m_text.size(); }

  private:
    static bool is_space(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

}  // namespace

std::optional<PaletteComment> parse_palette_comment(std::string_view text) {
    Scanner s(text);
    PaletteComment c;
    auto field = [&s](int64_t& out) {
        std::optional<int64_t> v = s.number();
        if (v) {
            out = *v;
        }
        return v.has_value();
    };
    auto punct = [&s](std::string_view word) {
        s.skip_space();
        return s.literal(word);
    };
    if (!field(c.index) || !punct(":") || !punct("RGB(") || !field(c.red) || !punct(",") ||
        !field(c.green) || !punct(",") || !field(c.blue) || !punct(")")) {
        return std::nullopt;
    }
    s.skip_space();
    if (!s.at_end()) {
        return std::nullopt;
    }
    return c;
}

bool honour_palette_comments(std::string_view script_text, EditablePalette& palette,
                             base::Messages& messages) {
    bool one_based = true;
    size_t pos = 0;
    while (pos < script_text.size()) {
        const size_t nl = script_text.find('\n', pos);
        const size_t next = nl == std::string_view::npos ? script_text.size() : nl + 1;
        std::string_view line = script_text.substr(pos, next - pos);
        pos = next;
        // A line that fills the buffer is no palette line, however it continues.
        if (line.size() >= kLineBuffer - 1) {
            continue;
        }
        if (!line.empty() && line.back() == '\n') {
            line.remove_suffix(1);
        }
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() != '#') {
            continue;
        }
        const std::optional<PaletteComment> entry = parse_palette_comment(line.substr(1));
        if (!entry) {
            continue;
        }
        auto component = [](int64_t v) { return v >= 0 && v <= 255; };
        if (!component(entry->red) || !component(entry->green) || !component(entry->blue)) {
            messages.error(kInvalidHonourPaletteText);
            return false;
        }
        if (entry->index == 0) {
            one_based = false;
        }
        const int64_t position = one_based ? entry->index - 1 : entry->index;
        const Colour colour = static_cast<Colour>(entry->red) |
                              static_cast<Colour>(entry->green) << 8 |
                              static_cast<Colour>(entry->blue) << 16;
        if (position < 0 || position >= palette.size() ||
            !palette.add_at(colour, static_cast<int32_t>(position))) {
            messages.error(kInvalidHonourPaletteText);
            return false;
        }
    }
    return true;
}

}  // namespace tessara::formats
