#pragma once

#include <cstdint>

// Exact integer helpers. Every computation the program defines with "div" uses 64-bit
// intermediates and truncates toward zero (C++ division does exactly that).
namespace tessara::base {

// a * b / c with a 64-bit intermediate, truncating toward zero. c must not be 0.
constexpr int64_t muldiv(int64_t a, int64_t b, int64_t c) {
    return a * b / c;
}

// The platform's rounding multiply-divide: a * b / c rounded half away from zero, computed with a
// 64-bit intermediate. Returns -1 when c is 0 or the result does not fit in 32 bits, as the
// platform function does.
constexpr int32_t muldiv_round(int32_t a, int32_t b, int32_t c) {
    if (c == 0) {
        return -1;
    }
    int64_t p = int64_t{a} * b;
    int64_t q = c;
    bool negative = (p < 0) != (q < 0);
    uint64_t up = static_cast<uint64_t>(p < 0 ? -p : p);
    uint64_t uq = static_cast<uint64_t>(q < 0 ? -q : q);
    uint64_t r = (up + uq / 2) / uq;
    if (r > 0x7FFFFFFFull) {
        return -1;
    }
    int64_t v = static_cast<int64_t>(r);
    return static_cast<int32_t>(negative ? -v : v);
}

// A 64-bit value held to the 32-bit range: sums of 32-bit values are made in 64 bits and
// saturate instead of overflowing.
constexpr int32_t saturate_int32(int64_t v) {
    return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

// Floor and ceiling of a / b for b > 0.
constexpr int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0)) ? q - 1 : q;
}
constexpr int64_t ceil_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a > 0)) ? q + 1 : q;
}

}  // namespace tessara::base
