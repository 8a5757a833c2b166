// Little- and big-endian field access for header parsing.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace varnok {

inline uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) {
    return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}
inline uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Appends little-endian fields to a byte vector (building headers and test archives).
template <class Vec>
inline void AppendLe16(Vec& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
template <class Vec>
inline void AppendLe32(Vec& v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
template <class Vec>
inline void AppendLe64(Vec& v, uint64_t x) {
    for (int i = 0; i < 8; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
template <class Vec>
inline void AppendBytes(Vec& v, std::string_view s) {
    v.insert(v.end(), s.begin(), s.end());
}

// Text of a fixed-size field up to its first zero byte (never past the field).
inline std::string FieldString(const uint8_t* p, size_t n) {
    size_t k = 0;
    while (k < n && p[k])
        ++k;
    return std::string(reinterpret_cast<const char*>(p), k);
}

}  // namespace varnok
