#include "base/text.h"

#include <limits>

namespace tessara::base {

namespace {

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

// Decodes s, each malformed byte as U+FFFD; `exact` is cleared at the first one.
std::u16string decode_utf8(std::string_view s, bool& exact) {
    exact = true;
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        size_t need = 0;
        char32_t min = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            need = 1;
            cp = b & 0x1F;
            min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            need = 2;
            cp = b & 0x0F;
            min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            need = 3;
            cp = b & 0x07;
            min = 0x10000;
        } else {
            cp = 0xFFFD;
            exact = false;
        }
        if (need > 0) {
            bool ok = i + need < s.size();
            for (size_t k = 1; ok && k <= need; ++k) {
                auto c = static_cast<unsigned char>(s[i + k]);
                if ((c & 0xC0) != 0x80) {
                    ok = false;
                } else {
                    cp = (cp << 6) | (c & 0x3F);
                }
            }
            if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                len = need + 1;
            } else {
                cp = 0xFFFD;
                len = 1;
                exact = false;
            }
        }
        append_utf16(out, cp);
        i += len;
    }
    return out;
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view s) {
    bool exact = true;
    return decode_utf8(s, exact);
}

std::optional<std::u16string> utf8_to_utf16_exact(std::string_view s) {
    bool exact = true;
    std::u16string out = decode_utf8(s, exact);
    if (!exact) {
        return std::nullopt;
    }
    return out;
}

bool has_unpaired_surrogate(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            ++i;
        } else if (s[i] >= 0xD800 && s[i] <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

std::string utf16_to_utf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        append_utf8(out, c);
    }
    return out;
}

std::u16string latin1_to_utf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        out += static_cast<char16_t>(static_cast<unsigned char>(b));
    }
    return out;
}

std::u16string_view trim_spaces(std::u16string_view s) {
    while (!s.empty() && s.front() == u' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == u' ')
        s.remove_suffix(1);
    return s;
}

std::u16string_view trim_blanks(std::u16string_view s) {
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view trim_ascii(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

char16_t ascii_lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool iequals(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool istarts_with(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::optional<int32_t> parse_int_exact(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && is_blank(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i >= s.size() || !is_digit(s[i])) {
        return std::nullopt;
    }
    int64_t v = 0;
    for (; i < s.size() && is_digit(s[i]); ++i) {
        v = v * 10 + (s[i] - u'0');
        if (v > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
            return std::nullopt;
        }
    }
    if (i != s.size()) {
        return std::nullopt;
    }
    v = negative ? -v : v;
    if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(v);
}

std::optional<uint32_t> parse_hex_exact(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && is_blank(s[i]))
        ++i;
    if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        i += 2;
    }
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < s.size(); ++i, ++digits) {
        char16_t c = s[i];
        int d;
        if (c >= u'0' && c <= u'9') {
            d = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            d = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            d = c - u'A' + 10;
        } else {
            return std::nullopt;
        }
        v = v * 16 + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

int32_t leading_decimal(std::u16string_view s, size_t* used) {
    int64_t v = 0;
    size_t i = 0;
    for (; i < s.size() && is_digit(s[i]); ++i) {
        if (v < std::numeric_limits<int32_t>::max()) {
            v = v * 10 + (s[i] - u'0');
        }
    }
    if (used != nullptr) {
        *used = i;
    }
    return v > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                   : static_cast<int32_t>(v);
}

std::u16string to_u16(std::string_view ascii) {
    return latin1_to_utf16(ascii);
}

std::u16string format_int(int64_t v) {
    return to_u16(std::to_string(v));
}

}  // namespace tessara::base
