#include "archive/formats/ace/ace_crypt.h"

#include <cstring>

#include "archive/core/bytes.h"
#include "archive/formats/ace/ace_blowfish_tables.h"

namespace varnok::ace {

namespace {

constexpr uint32_t kShaInit[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

std::array<uint32_t, 5> DeriveKey(std::string_view password) {
    constexpr size_t kMaxPassword = 50;
    if (password.size() > kMaxPassword) password = password.substr(0, kMaxPassword);
    uint8_t block[64] = {};
    std::memcpy(block, password.data(), password.size());
    block[password.size()] = 0x80;
    uint32_t w[80];
    for (int i = 0; i < 15; ++i)
        w[i] = Le32(block + 4 * i);
    w[15] = static_cast<uint32_t>(password.size() << 3);
    for (int i = 16; i < 80; ++i)
        w[i] = w[i - 16] ^ w[i - 14] ^ w[i - 8] ^ w[i - 3];
    uint32_t a = kShaInit[0], b = kShaInit[1], c = kShaInit[2], d = kShaInit[3], e = kShaInit[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t t = Rotl(a, 5) + f + e + w[i] + k;
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = t;
    }
    return {a + kShaInit[0], b + kShaInit[1], c + kShaInit[2], d + kShaInit[3], e + kShaInit[4]};
}

Blowfish::Blowfish(std::string_view password) {
    const std::array<uint32_t, 5> key = DeriveKey(password);
    for (int i = 0; i < 18; ++i)
        p_[i] = kBlowfishP[i] ^ key[static_cast<size_t>(i) % key.size()];
    std::memcpy(s_, kBlowfishS, sizeof s_);
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
        EncryptBlock(l, r);
        p_[i] = l;
        p_[i + 1] = r;
    }
    for (auto& box : s_) {
        for (int j = 0; j < 256; j += 2) {
            EncryptBlock(l, r);
            box[j] = l;
            box[j + 1] = r;
        }
    }
}

void Blowfish::EncryptBlock(uint32_t& l, uint32_t& r) const {
    uint32_t a = l, b = r;
    for (int i = 0; i < 16; i += 2) {
        a ^= p_[i];
        b ^= F(a);
        b ^= p_[i + 1];
        a ^= F(b);
    }
    a ^= p_[16];
    b ^= p_[17];
    l = b;
    r = a;
}

void Blowfish::DecryptBlock(uint32_t& l, uint32_t& r) const {
    uint32_t a = l, b = r;
    for (int i = 16; i > 0; i -= 2) {
        a ^= p_[i + 1];
        b ^= F(a);
        b ^= p_[i];
        a ^= F(b);
    }
    a ^= p_[1];
    b ^= p_[0];
    l = b;
    r = a;
}

void Blowfish::DecryptCbc(uint8_t* data, size_t n) {
    for (size_t i = 0; i + kBlockSize <= n; i += kBlockSize) {
        const uint32_t cl = Le32(data + i), cr = Le32(data + i + 4);
        uint32_t l = cl, r = cr;
        DecryptBlock(l, r);
        PutLe32(data + i, l ^ lastL_);
        PutLe32(data + i + 4, r ^ lastR_);
        lastL_ = cl;
        lastR_ = cr;
    }
}

DecryptingSource::DecryptingSource(ByteSource& inner, std::string_view password)
    : inner_(inner), cipher_(password), buf_(64 * 1024) {}

size_t DecryptingSource::Read(uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        if (pos_ == end_) {
            if (eof_) break;
            // Keep the undecrypted tail, read behind it, decrypt the whole blocks.
            std::memmove(buf_.data(), buf_.data() + end_, partial_);
            size_t have = partial_;
            pos_ = end_ = 0;
            while (have < buf_.size()) {
                const size_t got = inner_.Read(buf_.data() + have, buf_.size() - have);
                if (!got) {
                    eof_ = true;
                    break;
                }
                have += got;
                if (have >= Blowfish::kBlockSize && have % Blowfish::kBlockSize == 0) break;
            }
            end_ = have - have % Blowfish::kBlockSize;
            partial_ = have - end_;
            if (eof_ && partial_) ragged_ = true;
            cipher_.DecryptCbc(buf_.data(), end_);
            if (end_ == 0) break;
        }
        const size_t k = std::min(n - done, end_ - pos_);
        std::memcpy(out + done, buf_.data() + pos_, k);
        pos_ += k;
        done += k;
    }
    return done;
}

}  // namespace varnok::ace
