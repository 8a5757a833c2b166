#include "archive/formats/rar/rar_crypt.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "archive/core/crypto/aes.h"
#include "archive/core/crypto/sha256.h"

namespace varnok::rar {

namespace {

// The RAR 2.0 cipher's initial substitution table (a constant of the format).
constexpr uint8_t kSubst20[256] = {
    215, 19,  149, 35,  73,  197, 192, 205, 249, 28,  16,  119, 48,  221, 2,   42,  232, 1,   177, 233, 14,  88,
    219, 25,  223, 195, 244, 90,  87,  239, 153, 137, 255, 199, 147, 70,  92,  66,  246, 13,  216, 40,  62,  29,
    217, 230, 86,  6,   71,  24,  171, 196, 101, 113, 218, 123, 93,  91,  163, 178, 202, 67,  44,  235, 107, 250,
    75,  234, 49,  167, 125, 211, 83,  114, 157, 144, 32,  193, 143, 36,  158, 124, 247, 187, 89,  214, 141, 47,
    121, 228, 61,  130, 213, 194, 174, 251, 97,  110, 54,  229, 115, 57,  152, 94,  105, 243, 212, 55,  209, 245,
    63,  11,  164, 200, 31,  156, 81,  176, 227, 21,  76,  99,  139, 188, 127, 17,  248, 51,  207, 120, 189, 210,
    8,   226, 41,  72,  183, 203, 135, 165, 166, 60,  98,  7,   122, 38,  155, 170, 69,  172, 252, 238, 39,  134,
    59,  128, 236, 27,  240, 80,  131, 3,   85,  206, 145, 79,  154, 142, 159, 220, 201, 133, 74,  64,  20,  129,
    224, 185, 138, 103, 173, 182, 43,  34,  254, 82,  198, 151, 231, 180, 58,  10,  118, 26,  102, 12,  50,  132,
    22,  191, 136, 111, 162, 179, 45,  4,   148, 108, 161, 56,  78,  126, 242, 222, 15,  175, 146, 23,  33,  241,
    181, 190, 77,  225, 0,   46,  169, 186, 68,  95,  237, 65,  53,  208, 253, 168, 9,   18,  100, 52,  116, 184,
    160, 96,  109, 37,  30,  106, 140, 104, 150, 5,   204, 117, 112, 84,
};

const uint32_t* CrcTable() {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table.data();
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

bool Vint(const uint8_t* p, size_t n, size_t& i, uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (i >= n) return false;
        const uint8_t c = p[i++];
        v |= static_cast<uint64_t>(c & 0x7F) << shift;
        if (!(c & 0x80)) return true;
    }
    return false;
}

constexpr size_t kMaxPasswordBytes = 127;

// What RAR 3's SHA-1 left in a block it hashed in place: the last 16 words of the block's message schedule,
// stored in little-endian order over the block.
void LeaveSha1Schedule(uint8_t* p) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = (static_cast<uint32_t>(p[4 * i]) << 24) | (static_cast<uint32_t>(p[4 * i + 1]) << 16) |
               (static_cast<uint32_t>(p[4 * i + 2]) << 8) | p[4 * i + 3];
    for (int i = 16; i < 80; ++i)
        w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    for (int i = 0; i < 16; ++i)
        PutLe32(p + 4 * i, w[64 + i]);
}

}  // namespace

std::u16string PasswordUtf16(std::string_view s) {
    std::u16string out;
    for (size_t i = 0; i < s.size() && out.size() < kMaxPasswordBytes;) {
        const auto c = static_cast<uint8_t>(s[i]);
        uint32_t cp = c;
        size_t len = 1;
        if (c >= 0xC0 && c < 0xE0 && i + 1 < s.size())
            cp = c & 0x1F, len = 2;
        else if (c >= 0xE0 && c < 0xF0 && i + 2 < s.size())
            cp = c & 0x0F, len = 3;
        else if (c >= 0xF0 && c < 0xF8 && i + 3 < s.size())
            cp = c & 0x07, len = 4;
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            const auto d = static_cast<uint8_t>(s[i + k]);
            if ((d & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (!ok) cp = c, len = 1;
        i += len;
        if (cp >= 0x10000) {
            if (out.size() + 2 > kMaxPasswordBytes) break;
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// RAR 2.0.

Rar20Cipher::Rar20Cipher(std::string_view password) {
    const uint32_t* crc = CrcTable();
    key_[0] = 0xD3A3B879u;
    key_[1] = 0x3F6D12F7u;
    key_[2] = 0x7515A235u;
    key_[3] = 0xA4E7F123u;
    std::memcpy(table_, kSubst20, sizeof table_);
    // The password as its bytes, zero padded to whole blocks (and one zero read past an odd length).
    std::vector<uint8_t> psw(password.begin(), password.begin() + std::min(password.size(), kMaxPasswordBytes));
    const size_t len = psw.size();
    psw.resize((len + 16) & ~size_t{15}, 0);
    for (uint32_t j = 0; j < 256; ++j)
        for (size_t i = 0; i < len; i += 2) {
            uint32_t n1 = crc[(psw[i] - j) & 0xFF] & 0xFF;
            const uint32_t n2 = crc[(psw[i + 1] + j) & 0xFF] & 0xFF;
            for (uint32_t k = 1; n1 != n2; n1 = (n1 + 1) & 0xFF, ++k)
                std::swap(table_[n1], table_[(n1 + i + k) & 0xFF]);
        }
    for (size_t i = 0; i < len; i += 16)
        Crypt(&psw[i], false);
}

uint32_t Rar20Cipher::Subst(uint32_t t) const {
    return table_[t & 0xFF] | (static_cast<uint32_t>(table_[(t >> 8) & 0xFF]) << 8) |
           (static_cast<uint32_t>(table_[(t >> 16) & 0xFF]) << 16) |
           (static_cast<uint32_t>(table_[t >> 24]) << 24);
}

void Rar20Cipher::UpdateKeys(const uint8_t* block) {
    const uint32_t* crc = CrcTable();
    for (int i = 0; i < 16; i += 4)
        for (int k = 0; k < 4; ++k)
            key_[k] ^= crc[block[i + k]];
}

void Rar20Cipher::Crypt(uint8_t* b, bool decrypt) {
    uint8_t in[16];
    std::memcpy(in, b, 16);
    uint32_t a = Le32(b) ^ key_[0], bb = Le32(b + 4) ^ key_[1], c = Le32(b + 8) ^ key_[2], d = Le32(b + 12) ^ key_[3];
    for (int r = 0; r < 32; ++r) {
        const uint32_t k = key_[(decrypt ? 31 - r : r) & 3];
        const uint32_t ta = a ^ Subst((c + Rotl(d, 11)) ^ k);
        const uint32_t tb = bb ^ Subst((d ^ Rotl(c, 17)) + k);
        a = c;
        bb = d;
        c = ta;
        d = tb;
    }
    PutLe32(b, c ^ key_[0]);
    PutLe32(b + 4, d ^ key_[1]);
    PutLe32(b + 8, a ^ key_[2]);
    PutLe32(b + 12, bb ^ key_[3]);
    // The keys move on with the ciphertext block.
    UpdateKeys(decrypt ? in : b);
}

void Rar20Cipher::Decrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i + 16 <= n; i += 16)
        Crypt(data + i, true);
}

// RAR 3 and 4.

Rar3Key DeriveRar3Key(std::string_view password, const uint8_t* salt8) {
    const std::u16string w = PasswordUtf16(password);
    std::vector<uint8_t> raw;
    for (char16_t c : w) {
        raw.push_back(static_cast<uint8_t>(c & 0xFF));
        raw.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (salt8) raw.insert(raw.end(), salt8, salt8 + 8);
    constexpr uint32_t kRounds = 1u << 18;
    crypto::Sha1 sha;
    Rar3Key k;
    uint64_t hashed = 0;  // bytes given to the hash before this round
    for (uint32_t i = 0; i < kRounds; ++i) {
        sha.Update(raw.data(), raw.size());
        // RAR 3's SHA-1 took every 64-byte block that lay wholly inside the caller's buffer (rather than in its
        // own, which holds the first block of a call) straight from that buffer, and left the block's message
        // schedule behind in it: such blocks of the password and salt are rewritten before the next round.
        // Only passwords of 29 characters and more (with a salt) reach one.
        const uint64_t end = (hashed + raw.size()) & ~uint64_t{63};
        for (uint64_t block = (hashed & ~uint64_t{63}) + 64; block + 64 <= end; block += 64)
            LeaveSha1Schedule(raw.data() + (block - hashed));
        hashed += raw.size() + 3;
        const uint8_t counter[3] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8),
                                    static_cast<uint8_t>(i >> 16)};
        sha.Update(counter, 3);
        if (i % (kRounds / 16) == 0) {
            crypto::Sha1 copy = sha;
            k.iv[i / (kRounds / 16)] = copy.Finish()[19];
        }
    }
    const auto d = sha.Finish();
    // The key is the digest's first four words, each in little-endian order.
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            k.key[static_cast<size_t>(4 * i + j)] = d[static_cast<size_t>(4 * i + 3 - j)];
    return k;
}

const Rar3Key& Rar3KeyCache::Get(std::string_view password, const uint8_t* salt8) {
    for (const Item& it : items_)
        if (it.password == password && it.hasSalt == (salt8 != nullptr) &&
            (!salt8 || std::memcmp(it.salt.data(), salt8, 8) == 0))
            return it.key;
    if (items_.size() >= 4) items_.erase(items_.begin());
    Item it;
    it.password = std::string(password);
    it.hasSalt = salt8 != nullptr;
    if (salt8) std::memcpy(it.salt.data(), salt8, 8);
    it.key = DeriveRar3Key(password, salt8);
    items_.push_back(std::move(it));
    return items_.back().key;
}

// RAR 5.

bool ParseRar5Crypt(const uint8_t* p, size_t n, bool fileRecord, Rar5Crypt& c) {
    c = Rar5Crypt{};
    size_t i = 0;
    uint64_t flags;
    if (!Vint(p, n, i, c.version) || !Vint(p, n, i, flags)) return false;
    const size_t need = 1 + 16 + (fileRecord ? 16 : 0) + ((flags & 1) ? 12 : 0);
    if (n - i < need) return false;
    c.kdfLog2 = p[i++];
    std::memcpy(c.salt.data(), p + i, 16);
    i += 16;
    if (fileRecord) {
        std::memcpy(c.iv.data(), p + i, 16);
        i += 16;
    }
    c.useMac = flags & 2;
    if (flags & 1) {
        // The check value comes with a checksum of its own; a damaged one is not used.
        std::memcpy(c.check.data(), p + i, 8);
        crypto::Sha256 s;
        s.Update(p + i, 8);
        const auto d = s.Finish();
        c.hasCheck = std::memcmp(d.data(), p + i + 8, 4) == 0;
    }
    return true;
}

namespace {
std::atomic<int> kdfLimit{kRar5MaxKdfLog2};
}  // namespace

void LimitRar5Kdf(int log2) {
    kdfLimit = std::clamp(log2, 0, kRar5MaxKdfLog2);
}

Rar5KdfResult DeriveRar5Keys(std::string_view password, const Rar5Crypt& c, Rar5Keys& keys) {
    if (c.version != 0 || c.kdfLog2 > kdfLimit.load(std::memory_order_relaxed)) return Rar5KdfResult::Unsupported;
    crypto::Pbkdf2Sha256Stream chain(password.substr(0, std::min(password.size(), size_t{127})), c.salt.data(),
                                      c.salt.size());
    chain.Run(uint64_t{1} << c.kdfLog2);
    keys.key = chain.Value();
    chain.Run(16);
    keys.hashKey = chain.Value();
    chain.Run(16);
    keys.check.fill(0);
    for (size_t i = 0; i < 32; ++i)
        keys.check[i % 8] ^= chain.Value()[i];
    if (c.hasCheck && keys.check != c.check) return Rar5KdfResult::WrongPassword;
    return Rar5KdfResult::Ok;
}

uint32_t Rar5MacCrc(uint32_t crc, const std::array<uint8_t, 32>& hashKey) {
    uint8_t raw[4];
    PutLe32(raw, crc);
    crypto::HmacSha256 mac(hashKey.data(), hashKey.size());
    mac.Update(raw, 4);
    const auto d = mac.Finish();
    uint32_t out = 0;
    for (size_t i = 0; i < d.size(); ++i)
        out ^= static_cast<uint32_t>(d[i]) << ((i & 3) * 8);
    return out;
}

std::array<uint8_t, 32> Rar5MacDigest(const uint8_t digest[32], const std::array<uint8_t, 32>& hashKey) {
    crypto::HmacSha256 mac(hashKey.data(), hashKey.size());
    mac.Update(digest, 32);
    return mac.Finish();
}

// The decrypting source.

std::unique_ptr<DecryptingSource> DecryptingSource::Rar20(ByteSource& inner, std::string_view password) {
    std::unique_ptr<DecryptingSource> s(new DecryptingSource(inner));
    s->rar20_ = std::make_unique<Rar20Cipher>(password);
    return s;
}

std::unique_ptr<DecryptingSource> DecryptingSource::Aes(ByteSource& inner, const uint8_t* key, size_t keyLen,
                                                        const uint8_t iv[16]) {
    std::unique_ptr<DecryptingSource> s(new DecryptingSource(inner));
    s->aes_ = std::make_unique<crypto::AesCbcDecryptor>();
    if (!s->aes_->Init(key, keyLen, iv)) return nullptr;
    return s;
}

bool DecryptingSource::Fill() {
    if (ended_) return false;
    if (buf_.empty()) buf_.resize(64 * 1024);
    // Whole blocks only: what is left of an incomplete block waits for the next read.
    size_t have = carry_;
    while (have < 16 && !ended_) {
        const size_t got = inner_.Read(buf_.data() + have, buf_.size() - have);
        if (!got) ended_ = true;
        have += got;
        if (have >= 16) break;
    }
    const size_t whole = have & ~size_t{15};
    if (!whole) return false;
    if (aes_)
        aes_->Decrypt(buf_.data(), whole);
    else
        rar20_->Decrypt(buf_.data(), whole);
    pos_ = 0;
    end_ = whole;
    carry_ = have - whole;
    return true;
}

size_t DecryptingSource::Read(uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        if (pos_ == end_) {
            // Move the incomplete block's bytes to the front before refilling.
            if (carry_ && end_) std::memmove(buf_.data(), buf_.data() + end_, carry_);
            pos_ = end_ = 0;
            if (!Fill()) break;
        }
        const size_t take = std::min(n - done, end_ - pos_);
        std::memcpy(out + done, buf_.data() + pos_, take);
        pos_ += take;
        done += take;
    }
    return done;
}

}  // namespace varnok::rar
