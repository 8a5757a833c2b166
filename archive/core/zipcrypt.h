// The traditional PKWARE ZIP cipher (also used by BH), with its 12-byte encryption header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "archive/core/crc.h"

namespace varnok {

class ZipCipher {
  public:
    void InitKeys(std::string_view password);
    void UpdateKeys(uint8_t c) {
        k0_ = UpdateCrc32Byte(k0_, c);
        k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
        k2_ = UpdateCrc32Byte(k2_, static_cast<uint8_t>(k1_ >> 24));
    }
    uint8_t CipherByte() const {
        uint32_t t = (k2_ & 0xFFFF) | 2;
        return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
    }
    uint8_t DecryptByte(uint8_t c) {
        uint8_t p = c ^ CipherByte();
        UpdateKeys(p);
        return p;
    }
    uint8_t EncryptByte(uint8_t p) {
        uint8_t c = p ^ CipherByte();
        UpdateKeys(p);
        return c;
    }
    void Decrypt(uint8_t* buf, size_t n) {
        for (size_t i = 0; i < n; ++i)
            buf[i] = DecryptByte(buf[i]);
    }
    void Encrypt(uint8_t* buf, size_t n) {
        for (size_t i = 0; i < n; ++i)
            buf[i] = EncryptByte(buf[i]);
    }

    // Makes the encrypted 12-byte header for a password: ten random bytes, then bits 16-23 and 24-31 of
    // check.
    void MakeCryptHeader(std::string_view password, uint32_t check, uint8_t out[12]);
    // Decrypts a header and tells whether the password fits: its last byte must equal the high byte of the
    // DOS time (flag bit 3 set: data descriptor) or of the CRC-32. The keys are then ready for the data.
    bool CheckCryptHeader(const uint8_t header[12], std::string_view password, uint16_t gpFlags,
                          uint32_t dosTime, uint32_t crc);

  private:
    uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

}  // namespace varnok
