#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessara::imaging {

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
    // `count` more copies of a group of runs (a pixel's bytes), the first joining the row's
    // last run when it has the same value.
    void add_repeated(std::span<const ByteRun> group, uint32_t count) {
        if (group.empty() || count == 0) {
            return;
        }
        if (group.front().value == group.back().value) {
            // Each copy joins the one before: no shortcut.
            for (uint32_t i = 0; i < count; ++i) {
                for (const ByteRun& r : group) {
                    add(r.value, r.count);
                }
            }
            return;
        }
        for (const ByteRun& r : group) {
            add(r.value, r.count);
        }
        const size_t at = m_runs.size();
        m_runs.resize(at + group.size() * (count - 1));
        for (size_t i = at; i < m_runs.size(); i += group.size()) {
            std::copy(group.begin(), group.end(), m_runs.begin() + static_cast<ptrdiff_t>(i));
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

}  // namespace tessara::imaging
