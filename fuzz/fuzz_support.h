#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// What every fuzz target shares: the libFuzzer entry point and a check that stops the run.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A broken invariant: says which, then aborts, so that libFuzzer keeps the input as a crasher
// and the replay test fails on it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace tessara::fuzz {

// Takes bytes off the front of the input to choose options; what is left is the payload.
// Reading past the end gives zeros, so every input is valid.
class InputReader {
  public:
    InputReader(const uint8_t* data, size_t size)
        : m_data(reinterpret_cast<const char*>(data), size) {}

    uint8_t byte() {
        if (m_data.empty()) {
            return 0;
        }
        const auto b = static_cast<uint8_t>(m_data.front());
        m_data.remove_prefix(1);
        return b;
    }
    uint16_t le16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    uint32_t le32() { return le16() | (uint32_t{le16()} << 16); }

    // Up to `n` bytes.
    std::string_view take(size_t n) {
        std::string_view out = m_data.substr(0, n);
        m_data.remove_prefix(out.size());
        return out;
    }
    std::string_view rest() const { return m_data; }
    bool empty() const { return m_data.empty(); }

  private:
    std::string_view m_data;
};

// One UTF-16 code unit per byte: the dictionary's tags stay tags whatever the encoding.
inline std::u16string widen(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        out += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
    return out;
}

// Little-endian code units; an odd last byte is dropped.
inline std::u16string utf16le(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return out;
}

}  // namespace tessara::fuzz
