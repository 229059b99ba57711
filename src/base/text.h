#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Small text helpers shared by every part of the program. Text inside the program is UTF-16;
// an 8-bit script holds one character (0-255) per byte.
namespace tessara::base {

// UTF-8 <-> UTF-16. Invalid sequences become U+FFFD; lone surrogates are encoded as U+FFFD.
std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);
// UTF-8 -> UTF-16 without repair: nothing when any byte is not part of a well-formed sequence
// (truncated, overlong, a surrogate or a value above U+10FFFF).
std::optional<std::u16string> utf8_to_utf16_exact(std::string_view s);
// Whether some surrogate has no partner, which no UTF encoding can store.
bool has_unpaired_surrogate(std::u16string_view s);

// Text held one byte per character (each unit 0-255) for files written byte by byte.
std::u16string latin1_to_utf16(std::string_view bytes);

// Space-only trimming (the program's "trimmed of spaces") and blank trimming (space and tab).
std::u16string_view trim_spaces(std::u16string_view s);
std::u16string_view trim_blanks(std::u16string_view s);
std::string_view trim_ascii(std::string_view s);

// ASCII letters compared without regard to case; other characters compare exactly.
bool iequals(std::u16string_view a, std::u16string_view b);
bool istarts_with(std::u16string_view s, std::u16string_view prefix);
char16_t ascii_lower(char16_t c);

inline bool is_digit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
inline bool is_blank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// "Exactly one decimal integer": optional leading blanks, an optional sign, digits, and nothing
// after them. A value outside the 32-bit range fails.
std::optional<int32_t> parse_int_exact(std::u16string_view s);
// "Exactly one hexadecimal integer": optional leading blanks, an optional 0x, hex digits, nothing
// after. Values above 32 bits fail.
std::optional<uint32_t> parse_hex_exact(std::u16string_view s);

// Leading decimal digits of s (no sign, no blanks), saturating at INT32_MAX; `used` receives the
// number of digits read. 0 with used == 0 when s does not start with a digit.
int32_t leading_decimal(std::u16string_view s, size_t* used = nullptr);

// Formatting helpers that return UTF-16.
std::u16string to_u16(std::string_view ascii);
std::u16string format_int(int64_t v);

}  // namespace tessara::base
