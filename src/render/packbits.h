#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessara::render {

// `count` copies of one byte.
struct ByteRun {
    uint8_t value = 0;
    uint32_t count = 0;
};

// A row of bytes as runs: each run's value differs from the next one's. Adding a run of the
// value the row ends with lengthens that run.
class ByteRuns {
  public:
    void clear() { m_runs.clear(); }
    void add(uint8_t value, uint32_t count) {
        if (!m_runs.empty() && m_runs.back().value == value) {
            m_runs.back().count += count;
        } else {
            m_runs.push_back({value, count});
        }
    }
    std::span<const ByteRun> runs() const { return m_runs; }

  private:
    std::vector<ByteRun> m_runs;
};

// PackBits, as our TIFF files store each row: a header byte n then either n + 1 literal bytes
// (n 0-127) or one byte repeated 1 - n times (n -127 to -1, stored as a byte). The choices
// between runs and literals are exactly libtiff's, whose files we wrote before and must keep
// writing byte for byte:
// - a run of two or more equal bytes is a run code (runs over 128 are split, 128 first);
// - other bytes extend the current literal up to 128 bytes;
// - a run of exactly two between two literal bytes is folded into the literal when the literal
//   has room for it (fewer than 127 bytes), so literal-run-literal becomes one literal.
// Each row is encoded on its own; nothing carries over from one call to the next. The row is
// given as maximal runs (neighbouring runs differ in value, no run is empty), which is how a
// subpicture's rows come: a few colours in long stretches.
void packbits_row(std::span<const ByteRun> row, std::string& out);

// The same for a row given byte by byte.
void packbits_row(const uint8_t* bytes, size_t count, std::string& out);

}  // namespace tessara::render
