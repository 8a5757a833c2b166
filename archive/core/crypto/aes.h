// AES block encryption (FIPS-197), SHA-1 and HMAC-SHA1, PBKDF2: what the WinZip AES scheme of ZIP entries
// needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace varnok::crypto {

// AES with a 128-, 192- or 256-bit key; encryption of single blocks (CTR mode needs no decryption).
class Aes {
  public:
    // key: 16, 24 or 32 bytes.
    void SetKey(const uint8_t* key, size_t keyLen);
    void EncryptBlock(const uint8_t in[16], uint8_t out[16]) const;

  private:
    std::array<uint32_t, 60> rk_{};
    int rounds_ = 0;
};

class Sha1 {
  public:
    Sha1() { Reset(); }
    void Reset();
    void Update(const uint8_t* data, size_t n);
    std::array<uint8_t, 20> Finish();

  private:
    void Block(const uint8_t* p);
    uint32_t h_[5];
    uint8_t buf_[64];
    size_t used_ = 0;
    uint64_t total_ = 0;
};

class HmacSha1 {
  public:
    HmacSha1(const uint8_t* key, size_t keyLen);
    void Update(const uint8_t* data, size_t n) { inner_.Update(data, n); }
    std::array<uint8_t, 20> Finish();

  private:
    Sha1 inner_, outer_;
};

// PBKDF2 with HMAC-SHA1.
std::vector<uint8_t> Pbkdf2Sha1(std::string_view password, const uint8_t* salt, size_t saltLen,
                                int iterations, size_t outLen);

// WinZip AES: the key derivation, the 2-byte password check, the CTR decryption with a little-endian counter
// starting at 1, and the 10-byte HMAC-SHA1 authentication code over the encrypted data.
class WinZipAes {
  public:
    // strength: 1, 2 or 3 (AES-128, -192, -256). The salt is 8, 12 or 16 bytes.
    static size_t SaltLength(int strength) { return strength == 1 ? 8 : strength == 2 ? 12 : 16; }
    // Derives the keys; false when the 2-byte password check does not match.
    bool Init(std::string_view password, int strength, const uint8_t* salt, const uint8_t verifier[2]);
    // Decrypts in place; the authentication code runs over the encrypted bytes.
    void Decrypt(uint8_t* data, size_t n);
    // Whether the stored 10-byte code matches what was decrypted.
    bool Authentic(const uint8_t stored[10]);

  private:
    Aes aes_;
    std::vector<uint8_t> macKey_;
    std::unique_ptr<HmacSha1> mac_;
    uint8_t counter_[16] = {};
    uint8_t stream_[16] = {};
    size_t used_ = 16;
};

}  // namespace varnok::crypto
