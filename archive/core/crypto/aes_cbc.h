// AES decryption (the inverse cipher of FIPS-197) and the CBC mode over it, for the formats that encrypt
// whole blocks (RAR 3 to 5). The ZIP scheme only ever encrypts (CTR mode) and keeps its own class in aes.h;
// this one is separate so that the ZIP path is untouched and a decryptor carries only what it needs: the
// decryption round keys, laid out for the equivalent inverse cipher so that every round is four table
// look-ups per column like the forward direction.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace varnok::crypto {

class AesDecryptor {
  public:
    // key: 16, 24 or 32 bytes; false (and no key) for any other length.
    bool SetKey(const uint8_t* key, size_t keyLen);
    void DecryptBlock(const uint8_t in[16], uint8_t out[16]) const;

  private:
    std::array<uint32_t, 60> rk_{};
    int rounds_ = 0;
};

// CBC decryption: each block decrypted and XORed with the ciphertext block before it (the IV for the first).
// The chain carries over from one Decrypt call to the next, so a stream can be decrypted in pieces.
class AesCbcDecryptor {
  public:
    bool Init(const uint8_t* key, size_t keyLen, const uint8_t iv[16]);
    // n must be a multiple of 16; decrypts in place.
    void Decrypt(uint8_t* data, size_t n);

  private:
    AesDecryptor aes_;
    uint8_t chain_[16] = {};
};

}  // namespace varnok::crypto
