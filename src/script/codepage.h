#pragma once

#include <optional>
#include <string>
#include <string_view>

// Windows code pages through ICU converters. Code pages are numbered as on Windows.
namespace tessara::script {

// Code page of an SSA/font character set: 0 means the system default code page, -1 an unknown
// character set.
int code_page_for_charset(int charset);

// The system default code page: the "MBCodePage" setting when it is set (not 0), else 1252.
int system_code_page(int mb_code_page);

// Whether ICU can convert the code page (the "valid code page" test of "MBCodePage").
bool is_valid_code_page(int code_page);

// A name people know the code page by: its IANA name where it has one ("Shift_JIS"), else its
// Windows name, else ICU's own; "Symbol" for the symbol code page. Empty for a code page
// is_valid_code_page() refuses.
std::string code_page_name(int code_page);

// Decodes 8-bit text held one byte per character (every unit 0-255) with the code page.
// Nothing on failure: unknown code page, a unit above 255, or bytes the code page rejects.
std::optional<std::u16string> decode_8bit(std::u16string_view bytes, int code_page);

// Encodes UTF-16 text into the code page's bytes, returned one byte per character. Nothing when
// the code page is unknown or a character cannot be represented.
std::optional<std::u16string> encode_8bit(std::u16string_view text, int code_page);

}  // namespace tessara::script
