// SHA-256 (FIPS 180-4), HMAC-SHA256 (RFC 2104) and PBKDF2-HMAC-SHA256 (RFC 8018), for the RAR 5 key
// derivation. PBKDF2 is also offered as a running iteration (Pbkdf2Sha256Stream) because RAR 5 derives
// three values from one chain, at three points of it, and computing the chain three times would triple
// the cost of every password tried.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace varnok::crypto {

class Sha256 {
  public:
    Sha256() { Reset(); }
    void Reset();
    void Update(const uint8_t* data, size_t n);
    std::array<uint8_t, 32> Finish();

  private:
    void Block(const uint8_t* p);
    uint32_t h_[8];
    uint8_t buf_[64];
    size_t used_ = 0;
    uint64_t total_ = 0;
};

class HmacSha256 {
  public:
    HmacSha256(const uint8_t* key, size_t keyLen);
    void Update(const uint8_t* data, size_t n) { inner_.Update(data, n); }
    std::array<uint8_t, 32> Finish();
    // Starts a new message with the same key (the keyed pads are kept, not recomputed).
    void Restart();

  private:
    Sha256 innerStart_, outerStart_, inner_;
};

// One 32-byte block of PBKDF2-HMAC-SHA256 computed round by round: Run(n) adds n more rounds to the running
// XOR, Value() is the result after the rounds run so far.
class Pbkdf2Sha256Stream {
  public:
    Pbkdf2Sha256Stream(std::string_view password, const uint8_t* salt, size_t saltLen, uint32_t blockIndex = 1);
    void Run(uint64_t rounds);
    const std::array<uint8_t, 32>& Value() const { return sum_; }

  private:
    HmacSha256 mac_;
    std::array<uint8_t, 32> u_{}, sum_{};
    bool started_ = false;
};

// PBKDF2-HMAC-SHA256 of outLen bytes.
std::vector<uint8_t> Pbkdf2Sha256(std::string_view password, const uint8_t* salt, size_t saltLen,
                                  uint64_t iterations, size_t outLen);

}  // namespace varnok::crypto
