#include "render/packbits.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tessara::render {

namespace {

constexpr uint8_t kLongestRunCode = 0x81;  // -127: 128 copies
constexpr int32_t kLongestRun = 128;
constexpr uint8_t kFullLiteral = 127;  // 128 bytes
constexpr uint8_t kTwoByteRun = 0xFF;  // -1

// One past the last byte equal to bytes[i] from i on (i < count). Background rows are mostly
// long runs of one byte, so eight are compared at a time.
size_t run_end(const uint8_t* bytes, size_t i, size_t count) {
    const uint8_t b = bytes[i];
    size_t k = i + 1;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = 0x0101010101010101ULL * b;
        for (; k + 8 <= count; k += 8) {
            uint64_t word;
            std::memcpy(&word, bytes + k, sizeof word);
            if (const uint64_t diff = word ^ pattern; diff != 0) {
                return k + static_cast<size_t>(std::countr_zero(diff) / 8);
            }
        }
    }
    while (k < count && bytes[k] == b) {
        ++k;
    }
    return k;
}

// What the last code written was, which decides how the next bytes join it.
enum class Last { Nothing, Literal, Run, RunAfterLiteral };

}  // namespace

void packbits_row(const uint8_t* bytes, size_t count, std::string& out) {
    const size_t start = out.size();
    // Literal headers add a byte per 128; runs never take more than they hold.
    out.resize(start + count + count / kLongestRun + 2);
    auto* const base = reinterpret_cast<uint8_t*>(out.data());
    uint8_t* op = base + start;
    uint8_t* literal = nullptr;  // header of the literal being extended
    Last last = Last::Nothing;

    size_t i = 0;
    while (i < count) {
        const uint8_t b = bytes[i];
        const size_t end = run_end(bytes, i, count);
        size_t n = end - i;
        i = end;
        const bool single = n == 1;
        // A run longer than 128 comes out as 128s first; each step may revisit the rest.
        for (bool again = true; again;) {
            again = false;
            switch (last) {
                case Last::Nothing:
                case Last::Run:
                case Last::Literal:
                    if (n > 1) {
                        last = last == Last::Literal ? Last::RunAfterLiteral : Last::Run;
                        if (n > static_cast<size_t>(kLongestRun)) {
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
        if (!single) {
            continue;
        }
        // Bytes that differ from both neighbours only ever extend literals: take them in
        // blocks up to each literal's 128 bytes.
        size_t m = 0;
        while (i + m < count && (i + m + 1 == count || bytes[i + m] != bytes[i + m + 1])) {
            ++m;
        }
        const uint8_t* src = bytes + i;
        i += m;
        while (m > 0) {
            if (last != Last::Literal) {  // a full literal was closed: start the next
                literal = op;
                *op++ = 0;
                *op++ = *src++;
                --m;
                last = Last::Literal;
                continue;
            }
            const size_t take = std::min<size_t>(m, kFullLiteral - *literal);
            std::memcpy(op, src, take);
            op += take;
            src += take;
            m -= take;
            *literal = static_cast<uint8_t>(*literal + take);
            if (*literal == kFullLiteral) {
                last = Last::Nothing;
            }
        }
    }
    out.resize(static_cast<size_t>(op - base));
}

}  // namespace tessara::render
