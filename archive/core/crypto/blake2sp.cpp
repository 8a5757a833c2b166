#include "archive/core/crypto/blake2sp.h"

#include <algorithm>
#include <cstring>

namespace varnok::crypto {

namespace {

constexpr uint32_t kIv[8] = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                             0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};

constexpr uint8_t kSigma[10][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4}, {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13}, {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11}, {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5}, {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
};

inline uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

inline uint32_t Load32(const uint8_t* p) {
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

Blake2s::Params SimpleParams(size_t digestLength, size_t keyLength) {
    Blake2s::Params p;
    p.digestLength = static_cast<uint8_t>(std::clamp<size_t>(digestLength, 1, 32));
    p.keyLength = static_cast<uint8_t>(std::min<size_t>(keyLength, 32));
    return p;
}

Blake2s::Params TreeParams(bool root, uint32_t offset, size_t keyLength) {
    Blake2s::Params p;
    p.digestLength = 32;
    p.keyLength = static_cast<uint8_t>(std::min<size_t>(keyLength, 32));
    p.fanout = 8;
    p.depth = 2;
    p.nodeOffset = offset;
    p.nodeDepth = root ? 1 : 0;
    p.innerLength = 32;
    p.lastNode = root || offset == 7;
    return p;
}

}  // namespace

Blake2s::Blake2s(size_t digestLength, const uint8_t* key, size_t keyLength) {
    Init(SimpleParams(digestLength, key ? keyLength : 0), key);
}

Blake2s::Blake2s(const Params& params, const uint8_t* key) {
    Init(params, key);
}

void Blake2s::Init(const Params& p, const uint8_t* key) {
    digestLength_ = std::clamp<size_t>(p.digestLength, 1, 32);
    lastNode_ = p.lastNode;
    std::memcpy(h_, kIv, sizeof h_);
    h_[0] ^= static_cast<uint32_t>(digestLength_) | (static_cast<uint32_t>(p.keyLength) << 8) |
             (static_cast<uint32_t>(p.fanout) << 16) | (static_cast<uint32_t>(p.depth) << 24);
    h_[1] ^= p.leafLength;
    h_[2] ^= static_cast<uint32_t>(p.nodeOffset);
    h_[3] ^= static_cast<uint32_t>((p.nodeOffset >> 32) & 0xFFFF) | (static_cast<uint32_t>(p.nodeDepth) << 16) |
             (static_cast<uint32_t>(p.innerLength) << 24);
    if (key && p.keyLength) {
        uint8_t block[64] = {};
        std::memcpy(block, key, std::min<size_t>(p.keyLength, 32));
        Update(block, sizeof block);
    }
}

void Blake2s::Compress(const uint8_t* block, bool last) {
    uint32_t m[16], v[16];
    for (int i = 0; i < 16; ++i)
        m[i] = Load32(block + 4 * i);
    for (int i = 0; i < 8; ++i) {
        v[i] = h_[i];
        v[i + 8] = kIv[i];
    }
    v[12] ^= t_[0];
    v[13] ^= t_[1];
    if (last) {
        v[14] = ~v[14];
        if (lastNode_) v[15] = ~v[15];
    }
    auto g = [&](int a, int b, int c, int d, uint32_t x, uint32_t y) {
        v[a] = v[a] + v[b] + x;
        v[d] = Rotr(v[d] ^ v[a], 16);
        v[c] = v[c] + v[d];
        v[b] = Rotr(v[b] ^ v[c], 12);
        v[a] = v[a] + v[b] + y;
        v[d] = Rotr(v[d] ^ v[a], 8);
        v[c] = v[c] + v[d];
        v[b] = Rotr(v[b] ^ v[c], 7);
    };
    for (const auto& s : kSigma) {
        g(0, 4, 8, 12, m[s[0]], m[s[1]]);
        g(1, 5, 9, 13, m[s[2]], m[s[3]]);
        g(2, 6, 10, 14, m[s[4]], m[s[5]]);
        g(3, 7, 11, 15, m[s[6]], m[s[7]]);
        g(0, 5, 10, 15, m[s[8]], m[s[9]]);
        g(1, 6, 11, 12, m[s[10]], m[s[11]]);
        g(2, 7, 8, 13, m[s[12]], m[s[13]]);
        g(3, 4, 9, 14, m[s[14]], m[s[15]]);
    }
    for (int i = 0; i < 8; ++i)
        h_[i] ^= v[i] ^ v[i + 8];
}

void Blake2s::Update(const uint8_t* data, size_t n) {
    // The last block is held back until more data come: it is compressed with the final flag by Finish.
    while (n) {
        if (used_ == 64) {
            t_[0] += 64;
            if (t_[0] < 64) ++t_[1];
            Compress(buf_, false);
            used_ = 0;
        }
        const size_t take = std::min(n, 64 - used_);
        std::memcpy(buf_ + used_, data, take);
        used_ += take;
        data += take;
        n -= take;
    }
}

void Blake2s::Finish(uint8_t* out) {
    t_[0] += static_cast<uint32_t>(used_);
    if (t_[0] < used_) ++t_[1];
    std::memset(buf_ + used_, 0, 64 - used_);
    Compress(buf_, true);
    for (size_t i = 0; i < digestLength_; ++i)
        out[i] = static_cast<uint8_t>(h_[i / 4] >> (8 * (i % 4)));
}

Blake2sp::Blake2sp(const uint8_t* key, size_t keyLength)
    : leaves_{Blake2s(TreeParams(false, 0, keyLength), key), Blake2s(TreeParams(false, 1, keyLength), key),
              Blake2s(TreeParams(false, 2, keyLength), key), Blake2s(TreeParams(false, 3, keyLength), key),
              Blake2s(TreeParams(false, 4, keyLength), key), Blake2s(TreeParams(false, 5, keyLength), key),
              Blake2s(TreeParams(false, 6, keyLength), key), Blake2s(TreeParams(false, 7, keyLength), key)},
      root_(TreeParams(true, 0, keyLength)) {
    if (!key) {
        // Without a key no key length goes into the parameters either.
        for (uint32_t i = 0; i < 8; ++i)
            leaves_[i] = Blake2s(TreeParams(false, i, 0));
        root_ = Blake2s(TreeParams(true, 0, 0));
    }
}

void Blake2sp::Update(const uint8_t* data, size_t n) {
    while (n) {
        const size_t inBlock = pos_ % 64;
        const size_t take = std::min(n, 64 - inBlock);
        leaves_[pos_ / 64].Update(data, take);
        pos_ = (pos_ + take) % (8 * 64);
        data += take;
        n -= take;
    }
}

std::array<uint8_t, 32> Blake2sp::Finish() {
    for (Blake2s& leaf : leaves_) {
        uint8_t d[32];
        leaf.Finish(d);
        root_.Update(d, sizeof d);
    }
    std::array<uint8_t, 32> out{};
    root_.Finish(out.data());
    return out;
}

}  // namespace varnok::crypto
