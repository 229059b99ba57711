#include "imaging/packbits.h"

#include <algorithm>
#include <cassert>

namespace tessara::imaging {

namespace {

constexpr uint8_t kLongestRunCode = 0x81;  // -127: 128 copies
constexpr uint32_t kLongestRun = 128;
constexpr uint8_t kFullLiteral = 127;  // 128 bytes
constexpr uint8_t kTwoByteRun = 0xFF;  // -1

// What the last code written was, which decides how the next bytes join it.
enum class Last { Nothing, Literal, Run, RunAfterLiteral };

}  // namespace

void packbits_row(std::span<const ByteRun> row, std::string& out) {
    size_t bytes = 0;
    for (const ByteRun& r : row) {
        bytes += r.count;
    }
    const size_t start = out.size();
    // A code never takes more than two bytes for each byte it holds (a literal of one byte
    // between two runs is the worst case); runs of two or more take at most what they hold.
    out.resize(start + 2 * bytes + 2);
    auto* const base = reinterpret_cast<uint8_t*>(out.data());
    uint8_t* op = base + start;
    uint8_t* literal = nullptr;  // header of the literal being extended
    Last last = Last::Nothing;

    for (size_t i = 0; i < row.size(); ++i) {
        const ByteRun& r = row[i];
        assert(r.count > 0);
        const uint8_t b = r.value;
        uint32_t n = r.count;
        // The common case of a patterned colour inside a literal (FF 00 00 FF 00 00 ...): a run
        // of two and one more byte, which would be written as a run and folded back into the
        // literal, go straight into it.
        if (last == Last::Literal && n == 2 && i + 1 < row.size() && row[i + 1].count == 1 &&
            *literal < kFullLiteral - 1) {
            *op++ = b;
            *op++ = b;
            *literal = static_cast<uint8_t>(*literal + 2);
            const uint8_t next = row[++i].value;
            if (*literal == kFullLiteral) {
                literal = op;
                *op++ = 0;
            } else if (++*literal == kFullLiteral) {
                last = Last::Nothing;
            }
            *op++ = next;
            continue;
        }
        // A run longer than 128 comes out as 128s first; each step may revisit the rest.
        for (bool again = true; again;) {
            again = false;
            switch (last) {
                case Last::Nothing:
                case Last::Run:
                case Last::Literal:
                    if (n > 1) {
                        last = last == Last::Literal ? Last::RunAfterLiteral : Last::Run;
                        if (n > kLongestRun) {
                            *op++ = kLongestRunCode;
                            *op++ = b;
                            n -= kLongestRun;
                            again = true;
                            break;
                        }
                        *op++ = static_cast<uint8_t>(1 - static_cast<int32_t>(n));
                        *op++ = b;
                    } else if (last == Last::Literal) {
                        if (++*literal == kFullLiteral) {
                            last = Last::Nothing;
                        }
                        *op++ = b;
                    } else {
                        literal = op;
                        *op++ = 0;
                        *op++ = b;
                        last = Last::Literal;
                    }
                    break;
                case Last::RunAfterLiteral:
                    // literal, run of two, one more byte: the run joins the literal if it fits.
                    if (n == 1 && op[-2] == kTwoByteRun && *literal < kFullLiteral - 1) {
                        *literal = static_cast<uint8_t>(*literal + 2);
                        last = *literal == kFullLiteral ? Last::Nothing : Last::Literal;
                        op[-2] = op[-1];
                    } else {
                        last = Last::Run;
                    }
                    again = true;
                    break;
            }
        }
    }
    out.resize(static_cast<size_t>(op - base));
}

void packbits_row(const uint8_t* bytes, size_t count, std::string& out) {
    ByteRuns runs;
    for (size_t i = 0; i < count; ++i) {
        runs.add(bytes[i], 1);
    }
    packbits_row(runs.runs(), out);
}

}  // namespace tessara::imaging
