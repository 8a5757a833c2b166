#include "tests/decoders/lzh/lzh_test_util.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "tests/support/test_support.h"

namespace varnok::test {

namespace {

constexpr uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

}  // namespace

Sha256::Sha256()
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::Block(const uint8_t* p) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = Be32(p + 4 * i);
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kK[i] + w[i];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e, h_[5] += f, h_[6] += g, h_[7] += h;
}

void Sha256::Update(const uint8_t* data, size_t n) {
    total_ += n;
    while (n) {
        if (used_ == 0 && n >= 64) {
            Block(data);
            data += 64;
            n -= 64;
            continue;
        }
        size_t k = std::min(n, 64 - used_);
        std::memcpy(buf_.data() + used_, data, k);
        used_ += k;
        data += k;
        n -= k;
        if (used_ == 64) {
            Block(buf_.data());
            used_ = 0;
        }
    }
}

std::string Sha256::FinishHex() {
    uint64_t bits = total_ * 8;
    uint8_t pad = 0x80;
    Update(&pad, 1);
    uint8_t zero = 0;
    while (used_ != 56)
        Update(&zero, 1);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i)
        len[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(len, 8);
    char hex[65];
    for (int i = 0; i < 8; ++i)
        std::snprintf(hex + 8 * i, 9, "%08x", h_[i]);
    return std::string(hex, 64);
}

std::string Sha256Hex(const uint8_t* data, size_t n) {
    Sha256 s;
    s.Update(data, n);
    return s.FinishHex();
}

void HashSink::Write(const uint8_t* buf, size_t n) {
    if (writes && lastWrite_ < smallestNonFinalWrite) smallestNonFinalWrite = lastWrite_;
    ++writes;
    lastWrite_ = n;
    size += n;
    crc16 = UpdateCrc16(crc16, buf, n);
    crc32 = UpdateCrc32(crc32, buf, n);
    sha_.Update(buf, n);
    if (keep_) data.insert(data.end(), buf, buf + n);
}

void BitWriter::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        acc_ = (acc_ << 1) | ((value >> i) & 1);
        if (++n_ == 8) {
            out_.push_back(static_cast<uint8_t>(acc_));
            acc_ = 0;
            n_ = 0;
        }
    }
}

std::vector<uint8_t> BitWriter::Finish() {
    if (n_) out_.push_back(static_cast<uint8_t>(acc_ << (8 - n_)));
    acc_ = 0;
    n_ = 0;
    return out_;
}

namespace {

bool PlausibleLzhHeader(const std::vector<uint8_t>& f, size_t off) {
    if (off + 22 > f.size()) return false;
    const uint8_t* p = f.data() + off;
    if (p[2] != '-' || p[6] != '-' || (p[3] != 'l' && p[3] != 'p')) return false;
    return p[20] <= 3;
}

std::string DirName(const uint8_t* p, size_t n) {
    std::string s(reinterpret_cast<const char*>(p), n);
    for (char& c : s)
        if (c == '\xFF' || c == '\\') c = '/';
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

}  // namespace

std::vector<LzhEntry> WalkLzh(const std::vector<uint8_t>& f) {
    std::vector<LzhEntry> out;
    size_t off = 0;
    if (!PlausibleLzhHeader(f, 0)) {
        off = SIZE_MAX;
        for (size_t i = 0; i + 22 <= f.size(); ++i)
            if (PlausibleLzhHeader(f, i) && f[i] != 0) {
                off = i;
                break;
            }
    }
    while (off != SIZE_MAX && off + 22 <= f.size() && f[off] != 0 && PlausibleLzhHeader(f, off)) {
        const uint8_t* p = f.data() + off;
        LzhEntry e;
        e.method.assign(reinterpret_cast<const char*>(p + 2), 5);
        e.packed = Le32(p + 7);
        e.unpacked = Le32(p + 11);
        e.level = p[20];
        std::string dir, name;
        size_t extStart = 0, next = 0;
        uint64_t extTotal = 0;
        size_t sizeField = 2;
        if (e.level == 0 || e.level == 1) {
            size_t hsize = p[0];
            size_t nameLen = p[21];
            if (off + hsize + 2 > f.size() || 22 + nameLen + 2 > hsize + 2) break;
            name.assign(reinterpret_cast<const char*>(p + 22), nameLen);
            e.crc16 = Le16(p + 22 + nameLen);
            if (e.level == 1) {
                extStart = off + hsize + 2;
                next = Le16(p + hsize);
            }
            e.dataOffset = off + hsize + 2;
        } else if (e.level == 2) {
            size_t hsize = Le16(p);
            if (off + hsize > f.size() || hsize < 26) break;
            e.crc16 = Le16(p + 21);
            extStart = off + 26;
            next = Le16(p + 24);
            e.dataOffset = off + hsize;
        } else {
            if (off + 32 > f.size()) break;
            size_t hsize = Le32(p + 24);
            e.crc16 = Le16(p + 21);
            sizeField = 4;
            extStart = off + 32;
            next = Le32(p + 28);
            e.dataOffset = off + hsize;
            if (e.dataOffset > f.size()) break;
        }
        // Extended headers: type, data, then the size of the next one.
        size_t q = extStart;
        while (next) {
            if (next < 1 + sizeField || q + next > f.size()) return out;
            const uint8_t* x = f.data() + q;
            size_t dataLen = next - 1 - sizeField;
            if (x[0] == 0x01) name.assign(reinterpret_cast<const char*>(x + 1), dataLen);
            if (x[0] == 0x02) dir = DirName(x + 1, dataLen);
            if (x[0] == 0x42 && dataLen >= 16) {  // 64-bit sizes
                e.packed = Le64(x + 1);
                e.unpacked = Le64(x + 9);
            }
            extTotal += next;
            q += next;
            next = sizeField == 2 ? Le16(x + next - 2) : Le32(x + next - 4);
        }
        // Some OS-9/68k writers leave the extended headers out of a level-2 header's size; the data
        // then starts where the chain ends.
        if (e.level == 2 && q > e.dataOffset) e.dataOffset = q;
        if (e.level == 1) {
            e.dataOffset = q;
            if (e.packed < extTotal) break;
            e.packed -= extTotal;
        }
        for (char& c : name)
            if (c == '\\' || c == '\xFF') c = '/';
        e.name = dir + name;
        if (e.dataOffset + e.packed > f.size()) {
            // Keep a truncated last entry: its data ends with the file.
            out.push_back(e);
            break;
        }
        out.push_back(e);
        off = e.dataOffset + e.packed;
    }
    return out;
}

std::vector<ArjEntry> WalkArj(const std::vector<uint8_t>& f) {
    std::vector<ArjEntry> out;
    auto validAt = [&](size_t off) {
        if (off + 4 > f.size() || f[off] != 0x60 || f[off + 1] != 0xEA) return false;
        size_t bsize = Le16(f.data() + off + 2);
        if (bsize == 0 || bsize > 2600 || off + 4 + bsize + 4 > f.size()) return false;
        return Crc32(f.data() + off + 4, bsize) == Le32(f.data() + off + 4 + bsize);
    };
    size_t off = 0;
    while (off < f.size() && !validAt(off))
        ++off;
    bool first = true;
    while (validAt(off)) {
        size_t bsize = Le16(f.data() + off + 2);
        const uint8_t* h = f.data() + off + 4;
        size_t q = off + 4 + bsize + 4;
        while (q + 2 <= f.size()) {
            size_t s = Le16(f.data() + q);
            q += 2;
            if (!s) break;
            q += s + 4;
        }
        ArjEntry e;
        size_t firstSize = h[0];
        e.flags = h[4];
        e.method = h[5];
        e.fileType = h[6];
        e.passwordModifier = h[7];
        e.packed = Le32(h + 12);
        e.unpacked = Le32(h + 16);
        e.crc32 = Le32(h + 20);
        if (firstSize < bsize) e.name = FieldString(h + firstSize, bsize - firstSize);
        for (char& c : e.name)
            if (c == '\\') c = '/';
        e.dataOffset = q;
        if (first) {
            first = false;
            off = q;
            continue;
        }
        out.push_back(e);
        off = q + e.packed;
    }
    return out;
}

std::vector<ExpectedRow> ExpectedFor(const std::string& archive) {
    std::vector<ExpectedRow> rows;
    auto dir = FixturesDir();
    if (dir.empty()) return rows;
    std::ifstream in(dir / "EXPECTED.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string c;
        while (std::getline(ss, c, '\t'))
            cols.push_back(c);
        if (cols.size() < 5 || cols[0] != archive || cols[3].size() != 64) continue;
        if (cols[4].find("partial") != std::string::npos) continue;
        rows.push_back({cols[1], std::stoull(cols[2]), cols[3], cols[4]});
    }
    return rows;
}

}  // namespace varnok::test
