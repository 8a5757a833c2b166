#include "archive/core/crypto/aes.h"

#include <algorithm>
#include <cstring>

namespace varnok::crypto {

namespace {

constexpr uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

inline uint8_t XTime(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0));
}

inline uint32_t SubWord(uint32_t w) {
    return (static_cast<uint32_t>(kSbox[w >> 24]) << 24) |
           (static_cast<uint32_t>(kSbox[(w >> 16) & 0xFF]) << 16) |
           (static_cast<uint32_t>(kSbox[(w >> 8) & 0xFF]) << 8) | kSbox[w & 0xFF];
}

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

void Aes::SetKey(const uint8_t* key, size_t keyLen) {
    const int nk = static_cast<int>(keyLen / 4);
    rounds_ = nk + 6;
    const int total = 4 * (rounds_ + 1);
    for (int i = 0; i < nk; ++i)
        rk_[static_cast<size_t>(i)] = (static_cast<uint32_t>(key[4 * i]) << 24) |
                                      (static_cast<uint32_t>(key[4 * i + 1]) << 16) |
                                      (static_cast<uint32_t>(key[4 * i + 2]) << 8) | key[4 * i + 3];
    uint8_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t t = rk_[static_cast<size_t>(i - 1)];
        if (i % nk == 0) {
            t = SubWord(Rotl(t, 8)) ^ (static_cast<uint32_t>(rcon) << 24);
            rcon = XTime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            t = SubWord(t);
        }
        rk_[static_cast<size_t>(i)] = rk_[static_cast<size_t>(i - nk)] ^ t;
    }
}

void Aes::EncryptBlock(const uint8_t in[16], uint8_t out[16]) const {
    uint8_t s[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            s[4 * c + r] =
                static_cast<uint8_t>(in[4 * c + r] ^ (rk_[static_cast<size_t>(c)] >> (24 - 8 * r)));
    for (int round = 1; round <= rounds_; ++round) {
        uint8_t t[16];
        // SubBytes and ShiftRows.
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                t[4 * c + r] = kSbox[s[4 * ((c + r) % 4) + r]];
        // MixColumns, except in the last round.
        if (round != rounds_) {
            for (int c = 0; c < 4; ++c) {
                uint8_t* col = t + 4 * c;
                uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
                uint8_t all = static_cast<uint8_t>(a0 ^ a1 ^ a2 ^ a3);
                col[0] = static_cast<uint8_t>(a0 ^ all ^ XTime(static_cast<uint8_t>(a0 ^ a1)));
                col[1] = static_cast<uint8_t>(a1 ^ all ^ XTime(static_cast<uint8_t>(a1 ^ a2)));
                col[2] = static_cast<uint8_t>(a2 ^ all ^ XTime(static_cast<uint8_t>(a2 ^ a3)));
                col[3] = static_cast<uint8_t>(a3 ^ all ^ XTime(static_cast<uint8_t>(a3 ^ a0)));
            }
        }
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                s[4 * c + r] = static_cast<uint8_t>(
                    t[4 * c + r] ^ (rk_[static_cast<size_t>(4 * round + c)] >> (24 - 8 * r)));
    }
    std::memcpy(out, s, 16);
}

void Sha1::Reset() {
    h_[0] = 0x67452301;
    h_[1] = 0xEFCDAB89;
    h_[2] = 0x98BADCFE;
    h_[3] = 0x10325476;
    h_[4] = 0xC3D2E1F0;
    used_ = 0;
    total_ = 0;
}

void Sha1::Block(const uint8_t* p) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = (static_cast<uint32_t>(p[4 * i]) << 24) | (static_cast<uint32_t>(p[4 * i + 1]) << 16) |
               (static_cast<uint32_t>(p[4 * i + 2]) << 8) | p[4 * i + 3];
    for (int i = 16; i < 80; ++i)
        w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20)
            f = (b & c) | (~b & d), k = 0x5A827999;
        else if (i < 40)
            f = b ^ c ^ d, k = 0x6ED9EBA1;
        else if (i < 60)
            f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
        else
            f = b ^ c ^ d, k = 0xCA62C1D6;
        uint32_t t = Rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = t;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
}

void Sha1::Update(const uint8_t* data, size_t n) {
    total_ += n;
    while (n) {
        if (used_ == 0 && n >= 64) {
            Block(data);
            data += 64;
            n -= 64;
            continue;
        }
        size_t k = std::min(n, 64 - used_);
        std::memcpy(buf_ + used_, data, k);
        used_ += k;
        data += k;
        n -= k;
        if (used_ == 64) {
            Block(buf_);
            used_ = 0;
        }
    }
}

std::array<uint8_t, 20> Sha1::Finish() {
    uint64_t bits = total_ * 8;
    uint8_t pad = 0x80, zero = 0;
    Update(&pad, 1);
    while (used_ != 56)
        Update(&zero, 1);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i)
        len[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(len, 8);
    std::array<uint8_t, 20> out;
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 4; ++k)
            out[static_cast<size_t>(4 * i + k)] = static_cast<uint8_t>(h_[i] >> (24 - 8 * k));
    return out;
}

HmacSha1::HmacSha1(const uint8_t* key, size_t keyLen) {
    uint8_t k[64] = {};
    if (keyLen > 64) {
        Sha1 s;
        s.Update(key, keyLen);
        auto d = s.Finish();
        std::memcpy(k, d.data(), d.size());
    } else {
        std::memcpy(k, key, keyLen);
    }
    uint8_t ipad[64], opad[64];
    for (int i = 0; i < 64; ++i) {
        ipad[i] = static_cast<uint8_t>(k[i] ^ 0x36);
        opad[i] = static_cast<uint8_t>(k[i] ^ 0x5C);
    }
    inner_.Update(ipad, 64);
    outer_.Update(opad, 64);
}

std::array<uint8_t, 20> HmacSha1::Finish() {
    auto in = inner_.Finish();
    outer_.Update(in.data(), in.size());
    return outer_.Finish();
}

std::vector<uint8_t> Pbkdf2Sha1(std::string_view password, const uint8_t* salt, size_t saltLen,
                                int iterations, size_t outLen) {
    std::vector<uint8_t> out;
    const auto* pw = reinterpret_cast<const uint8_t*>(password.data());
    for (uint32_t block = 1; out.size() < outLen; ++block) {
        HmacSha1 first(pw, password.size());
        first.Update(salt, saltLen);
        uint8_t index[4] = {static_cast<uint8_t>(block >> 24), static_cast<uint8_t>(block >> 16),
                            static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
        first.Update(index, 4);
        auto u = first.Finish();
        auto t = u;
        for (int i = 1; i < iterations; ++i) {
            HmacSha1 next(pw, password.size());
            next.Update(u.data(), u.size());
            u = next.Finish();
            for (size_t k = 0; k < t.size(); ++k)
                t[k] ^= u[k];
        }
        out.insert(out.end(), t.begin(), t.end());
    }
    out.resize(outLen);
    return out;
}

bool WinZipAes::Init(std::string_view password, int strength, const uint8_t* salt,
                     const uint8_t verifier[2]) {
    if (strength < 1 || strength > 3) return false;
    const size_t keyLen = 8 + 8 * static_cast<size_t>(strength);  // 16, 24, 32
    auto keys = Pbkdf2Sha1(password, salt, SaltLength(strength), 1000, 2 * keyLen + 2);
    if (keys[2 * keyLen] != verifier[0] || keys[2 * keyLen + 1] != verifier[1]) return false;
    aes_.SetKey(keys.data(), keyLen);
    macKey_.assign(keys.begin() + static_cast<long>(keyLen), keys.begin() + static_cast<long>(2 * keyLen));
    mac_ = std::make_unique<HmacSha1>(macKey_.data(), macKey_.size());
    std::memset(counter_, 0, sizeof counter_);
    used_ = 16;
    return true;
}

void WinZipAes::Decrypt(uint8_t* data, size_t n) {
    if (!mac_) return;
    mac_->Update(data, n);
    for (size_t i = 0; i < n; ++i) {
        if (used_ == 16) {
            // The counter is a little-endian number starting at 1.
            for (int k = 0; k < 16 && ++counter_[k] == 0; ++k) {
            }
            aes_.EncryptBlock(counter_, stream_);
            used_ = 0;
        }
        data[i] ^= stream_[used_++];
    }
}

bool WinZipAes::Authentic(const uint8_t stored[10]) {
    if (!mac_) return false;
    auto code = mac_->Finish();
    return std::memcmp(code.data(), stored, 10) == 0;
}

}  // namespace varnok::crypto
