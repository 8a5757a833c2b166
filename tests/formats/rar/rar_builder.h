// Small RAR archives made in the tests: RAR 1.5-4 stored files with names of our choosing (also hostile ones),
// data whose CRC may be made wrong on purpose, and entries encrypted with AES-128 under a salt (the caller gives
// the key and IV: the tests derive them their own way); RAR 5 archives of entries whose packed bytes the caller
// gives (stored or compressed, solid, checked by CRC-32 or BLAKE2sp, encrypted with AES-256 by PBKDF2 keys,
// encrypted headers).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/core/crc.h"
#include "archive/core/crypto/aes.h"
#include "archive/core/crypto/blake2sp.h"
#include "archive/core/crypto/sha256.h"
#include "archive/formats/rar/rar_crypt.h"

namespace varnok::test {

struct RarFile {
    std::string name;  // as stored ("\" between folders)
    std::string data;
    bool badCrc = false;
    // Encrypted with AES-128-CBC under this key and IV; the salt is stored in the header.
    struct Aes {
        std::array<uint8_t, 16> key{}, iv{};
        std::array<uint8_t, 8> salt{};
    };
    std::optional<Aes> aes;
};

inline std::vector<uint8_t> AesCbcEncrypt(std::vector<uint8_t> data, const uint8_t* key, size_t keyLen,
                                          const uint8_t* iv16) {
    data.resize((data.size() + 15) / 16 * 16, 0);
    crypto::Aes aes;
    aes.SetKey(key, keyLen);
    uint8_t chain[16];
    std::copy(iv16, iv16 + 16, chain);
    for (size_t i = 0; i < data.size(); i += 16) {
        for (int k = 0; k < 16; ++k)
            chain[k] ^= data[i + k];
        aes.EncryptBlock(chain, chain);
        std::copy(chain, chain + 16, data.begin() + static_cast<ptrdiff_t>(i));
    }
    return data;
}

inline void PutLe(std::vector<uint8_t>& v, uint64_t x, int n) {
    for (int i = 0; i < n; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

inline std::vector<uint8_t> MakeRar4(const std::vector<RarFile>& files) {
    std::vector<uint8_t> a = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    auto block = [&](std::vector<uint8_t> h) {
        const uint32_t crc = Crc32(h.data() + 2, h.size() - 2);
        h[0] = static_cast<uint8_t>(crc);
        h[1] = static_cast<uint8_t>(crc >> 8);
        a.insert(a.end(), h.begin(), h.end());
    };
    std::vector<uint8_t> main = {0, 0, 0x73};
    PutLe(main, 0, 2);
    PutLe(main, 13, 2);
    PutLe(main, 0, 6);
    block(main);
    for (const RarFile& f : files) {
        std::vector<uint8_t> packed(f.data.begin(), f.data.end());
        if (f.aes) packed = AesCbcEncrypt(std::move(packed), f.aes->key.data(), 16, f.aes->iv.data());
        std::vector<uint8_t> h = {0, 0, 0x74};
        PutLe(h, 0x8000 | (f.aes ? 0x0404 : 0), 2);
        PutLe(h, 32 + f.name.size() + (f.aes ? 8 : 0), 2);
        PutLe(h, packed.size(), 4);
        PutLe(h, f.data.size(), 4);
        h.push_back(2);  // Windows
        PutLe(h, Crc32(f.data.data(), f.data.size()) ^ (f.badCrc ? 1u : 0u), 4);
        PutLe(h, 0x5A8E0000u, 4);  // 2025-04-14
        h.push_back(29);
        h.push_back(0x30);  // stored
        PutLe(h, f.name.size(), 2);
        PutLe(h, 0x20, 4);
        h.insert(h.end(), f.name.begin(), f.name.end());
        if (f.aes) h.insert(h.end(), f.aes->salt.begin(), f.aes->salt.end());
        block(h);
        a.insert(a.end(), packed.begin(), packed.end());
    }
    std::vector<uint8_t> end = {0, 0, 0x7B};
    PutLe(end, 0x4000, 2);
    PutLe(end, 7, 2);
    block(end);
    return a;
}

// RAR 5.

inline void PutVint(std::vector<uint8_t>& v, uint64_t x) {
    do {
        v.push_back(static_cast<uint8_t>((x & 0x7F) | (x > 0x7F ? 0x80 : 0)));
        x >>= 7;
    } while (x);
}

struct Rar5File {
    std::string name;
    std::vector<uint8_t> packed;  // the entry's packed bytes as the decoder reads them (before encryption)
    std::vector<uint8_t> data;    // what they decode to (for the size and the checksum)
    int method = 0;               // 0 stored, 1..5 compressed
    int dictionaryLog = 0;        // 128 KiB << this (4 bits); larger values are written as they are
    bool solid = false;
    bool blake2 = false;          // checked by BLAKE2sp instead of CRC-32
    bool badChecksum = false;
    std::optional<uint64_t> unpackedSizeOverride;
    size_t cutPacked = 0;        // bytes dropped from the end of the (encrypted) packed data
    uint64_t headerSizeLie = 0;  // non-zero: the header's size field says this (its CRC agrees)
};

struct Rar5Options {
    std::string password;        // non-empty: every file's data are encrypted
    bool encryptHeaders = false;  // -hp: the headers too (with `password`)
    int kdfLog2 = 4;              // few rounds: the tests stay fast
    bool useMac = true;           // checksums stored as MACs keyed by the password
    bool plainChecksumsUnderMac = false;  // the record says MAC, the checksums are stored plain
    bool solidArchive = false;
};

inline std::vector<uint8_t> MakeRar5(const std::vector<Rar5File>& files, const Rar5Options& o = {}) {
    std::vector<uint8_t> a = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
    rar::Rar5Crypt rc;
    rc.kdfLog2 = static_cast<uint8_t>(o.kdfLog2);
    rar::Rar5Keys keys;
    uint32_t seed = 0x1234567u;
    auto random16 = [&](std::array<uint8_t, 16>& out) {
        for (auto& b : out)
            b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    };
    if (!o.password.empty()) {
        random16(rc.salt);
        rar::DeriveRar5Keys(o.password, rc, keys);
    }
    auto checkValue = [&](std::vector<uint8_t>& v) {
        v.insert(v.end(), keys.check.begin(), keys.check.end());
        crypto::Sha256 s;
        s.Update(keys.check.data(), 8);
        const auto d = s.Finish();
        v.insert(v.end(), d.begin(), d.begin() + 4);
    };
    bool headersEncrypted = false;
    // A header: CRC, size, then the body; encrypted (IV, then AES-256-CBC) once -hp is in force.
    auto header = [&](const std::vector<uint8_t>& body, uint64_t sizeLie = 0) {
        std::vector<uint8_t> sized;
        PutVint(sized, sizeLie ? sizeLie : body.size());
        sized.insert(sized.end(), body.begin(), body.end());
        std::vector<uint8_t> h;
        PutLe(h, Crc32(sized.data(), sized.size()), 4);
        h.insert(h.end(), sized.begin(), sized.end());
        if (headersEncrypted) {
            std::array<uint8_t, 16> iv;
            random16(iv);
            a.insert(a.end(), iv.begin(), iv.end());
            h = AesCbcEncrypt(std::move(h), keys.key.data(), 32, iv.data());
        }
        a.insert(a.end(), h.begin(), h.end());
    };
    if (o.encryptHeaders) {
        std::vector<uint8_t> b;
        PutVint(b, 4);  // archive encryption header
        PutVint(b, 0);
        PutVint(b, 0);  // AES-256
        PutVint(b, 1);  // a check value follows
        b.push_back(static_cast<uint8_t>(o.kdfLog2));
        b.insert(b.end(), rc.salt.begin(), rc.salt.end());
        checkValue(b);
        header(b);
        headersEncrypted = true;
    }
    {
        std::vector<uint8_t> b;
        PutVint(b, 1);  // main header
        PutVint(b, 0);
        PutVint(b, o.solidArchive ? 4 : 0);
        header(b);
    }
    for (const Rar5File& f : files) {
        std::vector<uint8_t> packed = f.packed;
        std::array<uint8_t, 16> iv{};
        if (!o.password.empty()) {
            random16(iv);
            packed = AesCbcEncrypt(std::move(packed), keys.key.data(), 32, iv.data());
        }
        packed.resize(packed.size() - std::min(f.cutPacked, packed.size()));
        std::vector<uint8_t> extra;
        if (!o.password.empty()) {
            std::vector<uint8_t> r;
            PutVint(r, 1);  // encryption record
            PutVint(r, 0);
            PutVint(r, 1 | (o.useMac ? 2 : 0));
            r.push_back(static_cast<uint8_t>(o.kdfLog2));
            r.insert(r.end(), rc.salt.begin(), rc.salt.end());
            r.insert(r.end(), iv.begin(), iv.end());
            checkValue(r);
            PutVint(extra, r.size());
            extra.insert(extra.end(), r.begin(), r.end());
        }
        uint32_t crc = Crc32(f.data.data(), f.data.size());
        const bool mac = !o.password.empty() && o.useMac && !o.plainChecksumsUnderMac;
        if (mac) crc = rar::Rar5MacCrc(crc, keys.hashKey);
        if (f.badChecksum) crc ^= 1;
        if (f.blake2) {
            crypto::Blake2sp h;
            h.Update(f.data.data(), f.data.size());
            auto d = h.Finish();
            if (mac) d = rar::Rar5MacDigest(d.data(), keys.hashKey);
            if (f.badChecksum) d[5] ^= 0x10;
            std::vector<uint8_t> r;
            PutVint(r, 2);  // hash record
            PutVint(r, 0);  // BLAKE2sp
            r.insert(r.end(), d.begin(), d.end());
            PutVint(extra, r.size());
            extra.insert(extra.end(), r.begin(), r.end());
        }
        std::vector<uint8_t> b;
        PutVint(b, 2);  // file header
        PutVint(b, 0x0002 | (extra.empty() ? 0 : 0x0001));
        if (!extra.empty()) PutVint(b, extra.size());
        PutVint(b, packed.size());
        PutVint(b, f.blake2 ? 0 : 0x0004);  // file flags: CRC stored
        PutVint(b, f.unpackedSizeOverride.value_or(f.data.size()));
        PutVint(b, 0x20);
        if (!f.blake2) PutLe(b, crc, 4);
        PutVint(b, static_cast<uint64_t>(f.method) << 7 | (f.solid ? 0x40 : 0) |
                       static_cast<uint64_t>(f.dictionaryLog & 15) << 10);
        PutVint(b, 0);  // Windows
        PutVint(b, f.name.size());
        b.insert(b.end(), f.name.begin(), f.name.end());
        b.insert(b.end(), extra.begin(), extra.end());
        header(b, f.headerSizeLie);
        a.insert(a.end(), packed.begin(), packed.end());
    }
    std::vector<uint8_t> end;
    PutVint(end, 5);
    PutVint(end, 0);
    PutVint(end, 0);
    header(end);
    return a;
}

}  // namespace varnok::test

namespace varnok::test {

// A RAR 5 compressed stream of literals, matches and filter records, in one block with fixed code tables
// (literals 0..205 in 8 bits, the rest of the main table in 9, distance slots in 6, low distance bits in 4,
// repeat slots in 5 and 6 bits): a small subset of what RAR 5 writes, enough to place filters and matches
// where a test wants them.
class Rar5StreamWriter {
  public:
    void Literal(uint8_t b) { Main(b); }
    void Literals(const std::vector<uint8_t>& v) {
        for (uint8_t b : v)
            Main(b);
    }
    // A match of `length` (at least 2, the bonus lengths of far distances included) at `distance` (from 1).
    void Match(uint32_t length, uint64_t distance) {
        if (distance > 0x100) --length;
        if (distance > 0x2000) --length;
        if (distance > 0x40000) --length;
        const uint32_t l = length - 2;
        uint32_t slot, lbits = 0, lextra = 0;
        if (l < 8) {
            slot = l;
        } else {
            int hb = 31 - __builtin_clz(l);  // l = (4|x) << bits + extra
            lbits = static_cast<uint32_t>(hb - 2);
            slot = 4 * (lbits + 1) + ((l >> lbits) & 3);
            lextra = l - ((4 | ((l >> lbits) & 3)) << lbits);
        }
        Main(262 + slot);
        Bits(lextra, static_cast<int>(lbits));
        const uint64_t d = distance - 1;
        if (d < 4) {
            Bits(static_cast<uint32_t>(d), 6);
            return;
        }
        const int hb = 63 - __builtin_clzll(d);
        const int bits = hb - 1;
        const uint32_t odd = static_cast<uint32_t>((d >> bits) & 1);
        Bits(static_cast<uint32_t>(2 * (bits + 1)) + odd, 6);
        const uint64_t extra = d - ((uint64_t{2} | odd) << bits);
        if (bits >= 4) {
            if (bits > 4) Bits(static_cast<uint32_t>(extra >> 4), bits - 4);
            Bits(static_cast<uint32_t>(extra & 15), 4);
        } else {
            Bits(static_cast<uint32_t>(extra), bits);
        }
    }
    // A filter over [here + start, here + start + length); type 0 DELTA (with channels), 1 E8, 2 E8E9, 3 ARM.
    void Filter(uint32_t start, uint32_t length, int type, int channels = 1) {
        Main(256);
        Number(start);
        Number(length);
        Bits(static_cast<uint32_t>(type), 3);
        if (type == 0) Bits(static_cast<uint32_t>(channels - 1), 5);
    }
    // Raw bits, for streams that break the rules on purpose.
    void Bits(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i)
            bits_.push_back(static_cast<uint8_t>((v >> i) & 1));
    }
    std::vector<uint8_t> Finish() const {
        std::vector<uint8_t> payload;
        auto put = [&](uint32_t v, int n) {
            for (int i = n - 1; i >= 0; --i)
                payload.push_back(static_cast<uint8_t>((v >> i) & 1));
        };
        // The code-length code: symbols 0..11 in 4 bits, 12..19 in 5.
        for (int i = 0; i < 20; ++i)
            put(i < 12 ? 4 : 5, 4);
        // 430 code lengths, each sent as its code-length symbol (those used here are all below 12: 4 bits).
        auto len = [&](uint32_t l) { put(l, 4); };
        for (int i = 0; i < 306; ++i)
            len(i < 206 ? 8 : 9);
        for (int i = 0; i < 64; ++i)
            len(6);
        for (int i = 0; i < 16; ++i)
            len(4);
        for (int i = 0; i < 44; ++i)
            len(i < 20 ? 5 : 6);
        payload.insert(payload.end(), bits_.begin(), bits_.end());
        std::vector<uint8_t> bytes((payload.size() + 7) / 8, 0);
        for (size_t i = 0; i < payload.size(); ++i)
            if (payload[i]) bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        const size_t size = bytes.size();
        const int sizeBytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
        const uint32_t lastBits = payload.size() % 8 ? static_cast<uint32_t>(payload.size() % 8) : 8;
        const uint8_t flags = static_cast<uint8_t>(0x80 | 0x40 | ((sizeBytes - 1) << 3) | (lastBits - 1));
        std::vector<uint8_t> out = {flags, 0};
        uint8_t check = 0x5A ^ flags;
        for (int k = 0; k < sizeBytes; ++k) {
            out.push_back(static_cast<uint8_t>(size >> (8 * k)));
            check ^= static_cast<uint8_t>(size >> (8 * k));
        }
        out[1] = check;
        out.insert(out.end(), bytes.begin(), bytes.end());
        return out;
    }

  private:
    void Main(uint32_t sym) {
        if (sym < 206)
            Bits(sym, 8);
        else
            Bits(412 + (sym - 206), 9);
    }
    void Number(uint32_t v) {
        const int n = v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 4;
        Bits(static_cast<uint32_t>(n - 1), 2);
        for (int k = 0; k < n; ++k)
            Bits((v >> (8 * k)) & 0xFF, 8);
    }
    std::vector<uint8_t> bits_;
};

}  // namespace varnok::test
