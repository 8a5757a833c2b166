#include "archive/core/zipcrypt.h"

#include <sys/random.h>

#include <random>

namespace varnok {

void ZipCipher::InitKeys(std::string_view password) {
    k0_ = 0x12345678;
    k1_ = 0x23456789;
    k2_ = 0x34567890;
    for (char c : password)
        UpdateKeys(static_cast<uint8_t>(c));
}

void ZipCipher::MakeCryptHeader(std::string_view password, uint32_t check, uint8_t out[12]) {
    // The ten random bytes come from the system's random source: a predictable header weakens the cipher
    // further (known plaintext).
    size_t have = 0;
    while (have < 10) {
        const ssize_t got = getrandom(out + have, 10 - have, 0);
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    if (have < 10) {
        std::random_device rd;
        for (size_t i = have; i < 10; ++i)
            out[i] = static_cast<uint8_t>(rd());
    }
    InitKeys(password);
    out[10] = static_cast<uint8_t>(check >> 16);
    out[11] = static_cast<uint8_t>(check >> 24);
    Encrypt(out, 12);
}

bool ZipCipher::CheckCryptHeader(const uint8_t header[12], std::string_view password, uint16_t gpFlags,
                                 uint32_t dosTime, uint32_t crc) {
    InitKeys(password);
    uint8_t h[12];
    for (int i = 0; i < 12; ++i)
        h[i] = DecryptByte(header[i]);
    uint8_t want = (gpFlags & 0x08) ? static_cast<uint8_t>(dosTime >> 8) : static_cast<uint8_t>(crc >> 24);
    return h[11] == want;
}

}  // namespace varnok
