#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What the main window shows of a document, as plain text: the settings summary, the segment
// list and the style precedence list. The command line prints the same rows.
namespace tessara::document {

class Document;

// A character set as the settings and the rendering options name it; -1 stands for the style's
// own character set.
struct CharsetName {
    std::string_view name;
    int32_t value;
};
// "use style's" first, then every character set a style or the settings may force.
std::span<const CharsetName> charset_names();
// The name of a character-set value; empty for a value not in the table.
std::string_view charset_name(int32_t value);

// One field of the summary.
struct SummaryRow {
    std::string label;
    std::string value;
};
// The summary's fields in the order the main window shows them. Without a file every value
// is "N/A".
std::vector<SummaryRow> summary_rows(const Document& document);

// The DVD segments, one line each, as the segments dialog lists them.
std::vector<std::string> segment_lines(const Document& document);
// The style names in precedence order, highest first.
std::vector<std::string> style_precedence(const Document& document);

}  // namespace tessara::document
