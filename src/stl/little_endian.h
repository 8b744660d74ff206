// Little-endian fields of binary STL, at any alignment and on any host.
#pragma once

#include <bit>
#include <cstdint>

namespace stlrefine {

inline std::uint32_t loadLittleEndian32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

inline float loadFloat32(const unsigned char* bytes) {
    return std::bit_cast<float>(loadLittleEndian32(bytes));
}

inline unsigned char* storeLittleEndian32(unsigned char* out, std::uint32_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
    return out + 4;
}

inline unsigned char* storeFloat32(unsigned char* out, float value) {
    return storeLittleEndian32(out, std::bit_cast<std::uint32_t>(value));
}

}  // namespace stlrefine
