#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessara::render {

// PackBits, as our TIFF files store each row: a header byte n then either n + 1 literal bytes
// (n 0-127) or one byte repeated 1 - n times (n -127 to -1, stored as a byte). The choices
// between runs and literals are exactly libtiff's, whose files we wrote before and must keep
// writing byte for byte:
// - a run of two or more equal bytes is a run code (runs over 128 are split, 128 first);
// - other bytes extend the current literal up to 128 bytes;
// - a run of exactly two between two literal bytes is folded into the literal when the literal
//   has room for it (fewer than 127 bytes), so literal-run-literal becomes one literal.
// Each row is encoded on its own; nothing carries over from one call to the next.
void packbits_row(const uint8_t* bytes, size_t count, std::string& out);

}  // namespace tessara::render
