// ACE's file encryption: Blowfish in CBC mode with a zero initial vector, started afresh for every file (and
// continued across the volumes a file is split over), with a 160-bit key made from the password by one block
// of SHA-0 compression (the SHA-1 rounds without the rotation in the message schedule) over the password's
// first 50 bytes read as little-endian words. Blowfish's state starts from ACE's own variant of the standard
// tables (ace_blowfish_tables.h). The format stores no password check: a wrong password shows only as data
// that does not decode or fails its CRC.
//
// Decryption sits between the packed bytes and the decoder as a ByteSource, so stored and compressed files,
// and files that go on in the next volume, take the same path.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "archive/core/stream.h"

namespace varnok::ace {

// The key made from a password (at most its first 50 bytes count).
std::array<uint32_t, 5> DeriveKey(std::string_view password);

class Blowfish {
  public:
    static constexpr size_t kBlockSize = 8;

    explicit Blowfish(std::string_view password);

    // Decrypts n bytes (a multiple of kBlockSize) in place, going on from the blocks of earlier calls.
    void DecryptCbc(uint8_t* data, size_t n);

    // One block in the cipher's own word order (for the tests' encrypting writer).
    void EncryptBlock(uint32_t& l, uint32_t& r) const;
    void DecryptBlock(uint32_t& l, uint32_t& r) const;

  private:
    uint32_t F(uint32_t x) const {
        return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
    }

    uint32_t p_[18];
    uint32_t s_[4][256];
    uint32_t lastL_ = 0, lastR_ = 0;
};

// Delivers the decrypted bytes of an encrypted file read from `inner`. The ciphertext comes in whole blocks;
// a part of a block at its end cannot be decrypted and is dropped (Ragged() tells).
class DecryptingSource final : public ByteSource {
  public:
    DecryptingSource(ByteSource& inner, std::string_view password);
    size_t Read(uint8_t* buf, size_t n) override;
    bool Ragged() const { return ragged_; }

  private:
    ByteSource& inner_;
    Blowfish cipher_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, end_ = 0, partial_ = 0;  // decrypted [pos_, end_), then partial_ undecrypted bytes
    bool eof_ = false, ragged_ = false;
};

}  // namespace varnok::ace
