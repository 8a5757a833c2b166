// BLAKE2s (RFC 7693) and BLAKE2sp, its 8-way parallel tree form, which RAR 5 stores instead of CRC-32 for
// entries archived with -htb.
//
// BLAKE2sp: eight BLAKE2s leaves (fanout 8, depth 2, inner length 32, leaf i at node offset i, the last
// leaf flagged as the last node) take the input in 64-byte blocks in turn (block k goes to leaf k mod 8); a
// root node (node depth 1, last node) hashes the eight 32-byte leaf digests in order. With a key, every leaf
// starts with the key block and both leaves and root carry the key length in their parameters (the root takes
// no key block). Incremental: Update takes the data in pieces of any size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace varnok::crypto {

class Blake2s {
  public:
    struct Params {
        uint8_t digestLength = 32;  // 1..32
        uint8_t keyLength = 0;
        uint8_t fanout = 1;
        uint8_t depth = 1;
        uint32_t leafLength = 0;
        uint64_t nodeOffset = 0;  // 48 bits
        uint8_t nodeDepth = 0;
        uint8_t innerLength = 0;
        bool lastNode = false;
    };
    // Plain BLAKE2s with a digest of `digestLength` bytes and an optional key of up to 32 bytes.
    explicit Blake2s(size_t digestLength = 32, const uint8_t* key = nullptr, size_t keyLength = 0);
    // A tree node; with key != nullptr the key block is hashed first (params.keyLength bytes of it).
    explicit Blake2s(const Params& params, const uint8_t* key = nullptr);

    void Update(const uint8_t* data, size_t n);
    // Writes digestLength bytes to out (at most 32).
    void Finish(uint8_t* out);
    size_t DigestLength() const { return digestLength_; }

  private:
    void Init(const Params& p, const uint8_t* key);
    void Compress(const uint8_t* block, bool last);

    uint32_t h_[8];
    uint32_t t_[2] = {0, 0};
    uint8_t buf_[64];
    size_t used_ = 0;
    size_t digestLength_ = 32;
    bool lastNode_ = false;
};

class Blake2sp {
  public:
    explicit Blake2sp(const uint8_t* key = nullptr, size_t keyLength = 0);
    void Update(const uint8_t* data, size_t n);
    std::array<uint8_t, 32> Finish();

  private:
    std::array<Blake2s, 8> leaves_;
    Blake2s root_;
    size_t pos_ = 0;  // bytes taken, modulo 8 * 64: which leaf the next byte goes to
};

}  // namespace varnok::crypto
