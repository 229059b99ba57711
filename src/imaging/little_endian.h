#pragma once

#include <cstdint>
#include <string>

// Appending little-endian integers to a byte buffer, as the binary file formats store them.
namespace tessara::imaging {

inline void put_u8(std::string& out, uint8_t v) {
    out.push_back(static_cast<char>(v));
}

inline void put_le16(std::string& out, uint16_t v) {
    put_u8(out, static_cast<uint8_t>(v & 0xFF));
    put_u8(out, static_cast<uint8_t>(v >> 8));
}

inline void put_le32(std::string& out, uint32_t v) {
    put_le16(out, static_cast<uint16_t>(v & 0xFFFF));
    put_le16(out, static_cast<uint16_t>(v >> 16));
}

}  // namespace tessara::imaging
