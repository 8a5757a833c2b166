#include "archive/decoders/lzh/check_sink.h"

#include <bit>
#include <cstring>

#include "archive/core/crc.h"

namespace varnok {

namespace {

// t[0] is the byte table; t[k][i] is the CRC of byte i followed by k zero bytes.
struct Crc16Tables {
    uint16_t t[8][256];
    Crc16Tables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xA001u ^ (c >> 1) : c >> 1;
            t[0][i] = static_cast<uint16_t>(c);
        }
        for (int k = 1; k < 8; ++k)
            for (uint32_t i = 0; i < 256; ++i)
                t[k][i] = static_cast<uint16_t>(t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8));
    }
};

const Crc16Tables kCrc16;

}  // namespace

uint16_t FastUpdateCrc16(uint16_t crc16, const void* data, size_t len) {
    const auto& t = kCrc16.t;
    auto p = static_cast<const uint8_t*>(data);
    uint32_t crc = crc16;  // a full-width register: no partial-register merges in the loop
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

void CheckSink::Write(const uint8_t* buf, size_t n) {
    if (kind_ == CrcKind::Crc32)
        crc_ = UpdateCrc32(crc_, buf, n);
    else if (kind_ == CrcKind::Crc16)
        crc_ = FastUpdateCrc16(static_cast<uint16_t>(crc_), buf, n);
    size_ += n;
    if (inner_) inner_->Write(buf, n);
}

bool CheckSink::Matches(uint32_t stored) const {
    if (kind_ == CrcKind::Crc16) {
        uint16_t v = static_cast<uint16_t>(crc_), s = static_cast<uint16_t>(stored);
        return s == v || s == static_cast<uint16_t>(~v);
    }
    return stored == Value() || stored == ~Value();
}

}  // namespace varnok
