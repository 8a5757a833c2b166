#include "archive/core/crypto/aes_cbc.h"

#include <cstring>

namespace varnok::crypto {

namespace {

uint8_t Mul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
        b >>= 1;
    }
    return r;
}

uint8_t Rotl8(uint8_t x, int n) {
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

// The S-box, its inverse and the inverse round tables, computed once from the field arithmetic.
struct Tables {
    uint8_t s[256], si[256];
    uint32_t td[4][256];
    Tables() {
        uint8_t p = 1, q = 1;
        do {
            p = static_cast<uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));  // times 3
            q ^= static_cast<uint8_t>(q << 1);                                   // divided by 3
            q ^= static_cast<uint8_t>(q << 2);
            q ^= static_cast<uint8_t>(q << 4);
            if (q & 0x80) q ^= 0x09;
            s[p] = static_cast<uint8_t>(q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4) ^ 0x63);
        } while (p != 1);
        s[0] = 0x63;
        for (int i = 0; i < 256; ++i)
            si[s[i]] = static_cast<uint8_t>(i);
        for (int i = 0; i < 256; ++i) {
            const uint8_t x = si[i];
            const uint32_t w = (static_cast<uint32_t>(Mul(x, 14)) << 24) | (static_cast<uint32_t>(Mul(x, 9)) << 16) |
                               (static_cast<uint32_t>(Mul(x, 13)) << 8) | Mul(x, 11);
            td[0][i] = w;
            td[1][i] = Rotr(w, 8);
            td[2][i] = Rotr(w, 16);
            td[3][i] = Rotr(w, 24);
        }
    }
};

const Tables& T() {
    static const Tables t;
    return t;
}

uint32_t SubWord(const Tables& t, uint32_t w) {
    return (static_cast<uint32_t>(t.s[w >> 24]) << 24) | (static_cast<uint32_t>(t.s[(w >> 16) & 0xFF]) << 16) |
           (static_cast<uint32_t>(t.s[(w >> 8) & 0xFF]) << 8) | t.s[w & 0xFF];
}

uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

bool AesDecryptor::SetKey(const uint8_t* key, size_t keyLen) {
    rounds_ = 0;
    if (keyLen != 16 && keyLen != 24 && keyLen != 32) return false;
    const Tables& t = T();
    const int nk = static_cast<int>(keyLen / 4);
    const int rounds = nk + 6;
    const int total = 4 * (rounds + 1);
    std::array<uint32_t, 60> w{};
    for (int i = 0; i < nk; ++i)
        w[static_cast<size_t>(i)] = Be32(key + 4 * i);
    uint8_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t x = w[static_cast<size_t>(i - 1)];
        if (i % nk == 0) {
            x = SubWord(t, (x << 8) | (x >> 24)) ^ (static_cast<uint32_t>(rcon) << 24);
            rcon = static_cast<uint8_t>((rcon << 1) ^ ((rcon & 0x80) ? 0x1B : 0));
        } else if (nk > 6 && i % nk == 4) {
            x = SubWord(t, x);
        }
        w[static_cast<size_t>(i)] = w[static_cast<size_t>(i - nk)] ^ x;
    }
    // The equivalent inverse cipher: round keys in reverse order, the inner ones through InvMixColumns.
    for (int r = 0; r <= rounds; ++r)
        for (int c = 0; c < 4; ++c) {
            uint32_t k = w[static_cast<size_t>(4 * (rounds - r) + c)];
            if (r > 0 && r < rounds)
                k = t.td[0][t.s[k >> 24]] ^ t.td[1][t.s[(k >> 16) & 0xFF]] ^ t.td[2][t.s[(k >> 8) & 0xFF]] ^
                    t.td[3][t.s[k & 0xFF]];
            rk_[static_cast<size_t>(4 * r + c)] = k;
        }
    rounds_ = rounds;
    return true;
}

void AesDecryptor::DecryptBlock(const uint8_t in[16], uint8_t out[16]) const {
    const Tables& t = T();
    const uint32_t* rk = rk_.data();
    uint32_t s0 = Be32(in) ^ rk[0], s1 = Be32(in + 4) ^ rk[1], s2 = Be32(in + 8) ^ rk[2], s3 = Be32(in + 12) ^ rk[3];
    for (int r = 1; r < rounds_; ++r) {
        rk += 4;
        const uint32_t t0 = t.td[0][s0 >> 24] ^ t.td[1][(s3 >> 16) & 0xFF] ^ t.td[2][(s2 >> 8) & 0xFF] ^
                            t.td[3][s1 & 0xFF] ^ rk[0];
        const uint32_t t1 = t.td[0][s1 >> 24] ^ t.td[1][(s0 >> 16) & 0xFF] ^ t.td[2][(s3 >> 8) & 0xFF] ^
                            t.td[3][s2 & 0xFF] ^ rk[1];
        const uint32_t t2 = t.td[0][s2 >> 24] ^ t.td[1][(s1 >> 16) & 0xFF] ^ t.td[2][(s0 >> 8) & 0xFF] ^
                            t.td[3][s3 & 0xFF] ^ rk[2];
        const uint32_t t3 = t.td[0][s3 >> 24] ^ t.td[1][(s2 >> 16) & 0xFF] ^ t.td[2][(s1 >> 8) & 0xFF] ^
                            t.td[3][s0 & 0xFF] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
        return ((static_cast<uint32_t>(t.si[a >> 24]) << 24) | (static_cast<uint32_t>(t.si[(b >> 16) & 0xFF]) << 16) |
                (static_cast<uint32_t>(t.si[(c >> 8) & 0xFF]) << 8) | t.si[d & 0xFF]) ^
               k;
    };
    PutBe32(out, last(s0, s3, s2, s1, rk[0]));
    PutBe32(out + 4, last(s1, s0, s3, s2, rk[1]));
    PutBe32(out + 8, last(s2, s1, s0, s3, rk[2]));
    PutBe32(out + 12, last(s3, s2, s1, s0, rk[3]));
}

bool AesCbcDecryptor::Init(const uint8_t* key, size_t keyLen, const uint8_t iv[16]) {
    std::memcpy(chain_, iv, 16);
    return aes_.SetKey(key, keyLen);
}

void AesCbcDecryptor::Decrypt(uint8_t* data, size_t n) {
    uint8_t cipher[16], plain[16];
    for (size_t i = 0; i + 16 <= n; i += 16) {
        std::memcpy(cipher, data + i, 16);
        aes_.DecryptBlock(cipher, plain);
        for (int k = 0; k < 16; ++k)
            data[i + static_cast<size_t>(k)] = plain[k] ^ chain_[k];
        std::memcpy(chain_, cipher, 16);
    }
}

}  // namespace varnok::crypto
