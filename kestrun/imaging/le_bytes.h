// Little-endian integers in byte strings, for the bitmap headers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::imaging::le {

inline void PutU16(std::string &out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

inline void PutU32(std::string &out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
    }
}

inline void PutI32(std::string &out, int32_t v) {
    PutU32(out, static_cast<uint32_t>(v));
}

// Readers: the caller has checked that the bytes are there.
inline uint16_t U16(std::string_view s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) |
                                 (static_cast<uint8_t>(s[at + 1]) << 8));
}

inline uint32_t U32(std::string_view s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24);
}

inline int32_t I32(std::string_view s, size_t at) {
    return static_cast<int32_t>(U32(s, at));
}

} // namespace kestrun::imaging::le
