#include "archive/core/crc.h"

#include <array>
#include <bit>
#include <cstring>

namespace varnok {
namespace {

struct Tables {
    uint32_t crc32[8][256];
    uint16_t crc16[256];
    uint16_t crc16x[8][256];  // crc16x[k][i]: CRC-16 of byte i followed by k zero bytes
    Tables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crc32[0][i] = c;
            uint16_t h = static_cast<uint16_t>(i);
            for (int k = 0; k < 8; ++k)
                h = (h & 1) ? static_cast<uint16_t>(0xA001u ^ (h >> 1)) : h >> 1;
            crc16[i] = h;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int t = 1; t < 8; ++t)
                crc32[t][i] = crc32[0][crc32[t - 1][i] & 0xFF] ^ (crc32[t - 1][i] >> 8);
        for (uint32_t i = 0; i < 256; ++i)
            crc16x[0][i] = crc16[i];
        for (int k = 1; k < 8; ++k)
            for (uint32_t i = 0; i < 256; ++i)
                crc16x[k][i] =
                    static_cast<uint16_t>(crc16[crc16x[k - 1][i] & 0xFF] ^ (crc16x[k - 1][i] >> 8));
    }
};

const Tables& T() {
    static const Tables t;
    return t;
}

}  // namespace

const uint32_t* Crc32Table() {
    return T().crc32[0];
}
const uint16_t* Crc16Table() {
    return T().crc16;
}

uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t len) {
    const auto& t = T().crc32;
    auto p = static_cast<const uint8_t*>(data);
    // Slicing by eight: eight table look-ups per eight bytes.
    while (len >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        if constexpr (std::endian::native == std::endian::big) {
            lo = __builtin_bswap32(lo);
            hi = __builtin_bswap32(hi);
        }
        lo ^= crc;
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        len -= 8;
    }
    while (len--)
        crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint16_t UpdateCrc16(uint16_t crc16, const void* data, size_t len) {
    const auto& t = T().crc16x;
    auto p = static_cast<const uint8_t*>(data);
    uint32_t crc = crc16;  // a full-width register keeps the loop free of partial-register merges
    // Slicing by eight, as for CRC-32.
    while (len >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        w ^= crc;
        crc = static_cast<uint32_t>(t[7][w & 0xFF]) ^ t[6][(w >> 8) & 0xFF] ^ t[5][(w >> 16) & 0xFF] ^
              t[4][(w >> 24) & 0xFF] ^ t[3][(w >> 32) & 0xFF] ^ t[2][(w >> 40) & 0xFF] ^
              t[1][(w >> 48) & 0xFF] ^ t[0][w >> 56];
        p += 8;
        len -= 8;
    }
    while (len--)
        crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return static_cast<uint16_t>(crc);
}

}  // namespace varnok
