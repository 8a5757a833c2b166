#include "archive/core/zipcrypt.h"

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
    static thread_local std::mt19937 rng{std::random_device{}()};
    InitKeys(password);
    for (int i = 0; i < 10; ++i)
        out[i] = static_cast<uint8_t>(rng() % 32767 >> 7);
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
