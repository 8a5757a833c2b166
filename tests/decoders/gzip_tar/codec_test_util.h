// Test helpers shared by the compress, ARC and ZOO decoder tests: SHA-256, the peers' expectations from
// the fixtures' EXPECTED.tsv, sample data generators and small byte sources.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/core/stream.h"
#include "tests/support/test_support.h"

namespace varnok::test {

inline std::string Sha256Hex(const std::vector<uint8_t>& data) {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::vector<uint8_t> m(data);
    uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
    m.push_back(0x80);
    while (m.size() % 64 != 56)
        m.push_back(0);
    for (int i = 7; i >= 0; --i)
        m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (size_t off = 0; off < m.size(); off += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (uint32_t{m[off + 4 * i]} << 24) | (uint32_t{m[off + 4 * i + 1]} << 16) |
                   (uint32_t{m[off + 4 * i + 2]} << 8) | m[off + 4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; ++i) {
            uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
    }
    char out[65];
    for (int i = 0; i < 8; ++i)
        std::snprintf(out + 8 * i, 9, "%08x", h[i]);
    return std::string(out, 64);
}

// One row of the fixtures' EXPECTED.tsv.
struct ExpectedEntry {
    std::string archive, entry;
    uint64_t size = 0;
    std::string sha256, peer;
};

// The rows of EXPECTED.tsv for one archive (path relative to the fixtures folder).
inline std::vector<ExpectedEntry> ExpectedFor(const std::string& archive) {
    std::vector<ExpectedEntry> rows;
    std::ifstream f(FixturesDir() / "EXPECTED.tsv");
    std::string line;
    while (std::getline(f, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string c;
        while (std::getline(ss, c, '\t'))
            cols.push_back(c);
        if (cols.size() < 5 || cols[0] != archive) continue;
        ExpectedEntry e{cols[0], cols[1], 0, cols[3], cols[4]};
        try {
            e.size = std::stoull(cols[2]);
        } catch (...) {
            continue;
        }
        rows.push_back(e);
    }
    return rows;
}

// A small deterministic generator for sample data.
class SampleRng {
  public:
    explicit SampleRng(uint32_t seed) : s_(seed * 2654435761u + 1) {}
    uint32_t Next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return s_;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }

  private:
    uint32_t s_;
};

// Text-like data: words from a small vocabulary, lines and punctuation.
inline std::vector<uint8_t> SampleText(size_t n, uint32_t seed) {
    static const char* words[] = {"the",   "archive", "of",     "and",   "decoder", "table", "code",
                                  "LZW",   "string",  "output", "input", "width",   "bits",  "clear",
                                  "entry", "file",    "data",   "to",    "in",      "a"};
    SampleRng r(seed);
    std::vector<uint8_t> v;
    while (v.size() < n) {
        const char* w = words[r.Below(20)];
        v.insert(v.end(), w, w + std::char_traits<char>::length(w));
        uint32_t k = r.Below(16);
        v.push_back(k == 0 ? '\n' : k == 1 ? ',' : ' ');
    }
    v.resize(n);
    return v;
}

inline std::vector<uint8_t> SampleRandom(size_t n, uint32_t seed) {
    SampleRng r(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(r.Next() >> 11);
    return v;
}

// Runs of repeated bytes of varied lengths, with many 0x90 bytes among them.
inline std::vector<uint8_t> SampleRuns(size_t n, uint32_t seed) {
    SampleRng r(seed);
    std::vector<uint8_t> v;
    while (v.size() < n) {
        uint8_t b = r.Below(4) == 0 ? 0x90 : static_cast<uint8_t>(r.Below(8));
        size_t len = 1 + r.Below(r.Below(3) == 0 ? 600 : 4);
        v.insert(v.end(), len, b);
    }
    v.resize(n);
    return v;
}

// Text first, then random bytes: a compressor's table fills and its ratio drops, so compress clears.
inline std::vector<uint8_t> SampleMixed(size_t n, uint32_t seed) {
    std::vector<uint8_t> v = SampleText(n / 2, seed);
    std::vector<uint8_t> r = SampleRandom(n - n / 2, seed + 1);
    v.insert(v.end(), r.begin(), r.end());
    return v;
}

// Writes bit fields least significant bit first.
class LsbBitWriter {
  public:
    void Put(uint32_t value, int width) {
        acc_ |= static_cast<uint64_t>(value) << count_;
        count_ += width;
        bits_ += static_cast<uint64_t>(width);
        while (count_ >= 8) {
            bytes.push_back(static_cast<uint8_t>(acc_));
            acc_ >>= 8;
            count_ -= 8;
        }
    }
    uint64_t Bits() const { return bits_; }
    std::vector<uint8_t> Finish() {
        if (count_) bytes.push_back(static_cast<uint8_t>(acc_));
        acc_ = 0;
        count_ = 0;
        return bytes;
    }
    std::vector<uint8_t> bytes;

  private:
    uint64_t acc_ = 0;
    int count_ = 0;
    uint64_t bits_ = 0;
};

// A plain LZW compressor in the layouts the compress family uses: compress with and without block mode,
// ARC methods 8 and 9 (no header), ZOO method 1 (leading clear, end code, no code groups).
struct TestLzwLayout {
    int maxBits = 16;
    bool clearCode = true;
    bool endCode = false;
    bool groupAlign = true;
    bool leadingClear = false;
    bool clearWhenFull = true;  // emit a clear as soon as the table is full
};

inline std::vector<uint8_t> TestLzwCompress(const std::vector<uint8_t>& data, const TestLzwLayout& l) {
    LsbBitWriter w;
    const uint32_t tableEnd = 1u << l.maxBits;
    const uint32_t firstFree = 256 + (l.clearCode ? 1 : 0) + (l.endCode ? 1 : 0);
    std::vector<int32_t> dict;  // (prefix << 8 | byte) -> code, as a flat open table
    std::vector<uint32_t> keys;
    auto reset = [&] {
        dict.assign(1u << 20, -1);
        keys.clear();
    };
    auto slot = [&](uint32_t key) {
        uint32_t h = (key * 2654435761u) >> 12;
        while (dict[h] >= 0 && keys[static_cast<size_t>(dict[h]) - firstFree] != key)
            h = (h + 1) & ((1u << 20) - 1);
        return h;
    };
    int n = 9;
    uint32_t encFree = firstFree;  // the encoder's next free code
    uint32_t decFree = firstFree;  // the decoder's next free code when it reads the next code
    uint32_t segCodes = 0;         // codes since the start or the last clear
    uint64_t groupStart = 0;       // bit position where the current group of eight codes began
    // Widening rule of the compress programs: 9-bit codes up to 511 even when 9 is the widest width.
    auto limit = [&] { return n >= l.maxBits && n > 9 ? tableEnd : (1u << n) - 1; };
    auto align = [&] {
        if (l.groupAlign) {
            uint64_t group = static_cast<uint64_t>(n) * 8;
            uint64_t used = (w.Bits() - groupStart) % group;
            for (uint64_t pad = used ? group - used : 0; pad > 0;) {
                int k = static_cast<int>(std::min<uint64_t>(pad, 24));
                w.Put(0, k);
                pad -= static_cast<uint64_t>(k);
            }
        }
        groupStart = w.Bits();
    };
    auto emit = [&](uint32_t code) {
        if (decFree > limit()) {
            align();
            ++n;
        }
        w.Put(code, n);
        // The decoder enters a string for every code of a segment but the first.
        if (segCodes > 0 && decFree < tableEnd) ++decFree;
        ++segCodes;
    };
    auto clear = [&] {
        emit(256);
        align();
        n = 9;
        encFree = decFree = firstFree;
        segCodes = 0;
        reset();
    };
    reset();
    if (l.leadingClear) clear();
    if (!data.empty()) {
        uint32_t ent = data[0];
        for (size_t i = 1; i < data.size(); ++i) {
            uint32_t key = (ent << 8) | data[i];
            uint32_t h = slot(key);
            if (dict[h] >= 0) {
                ent = static_cast<uint32_t>(dict[h]);
                continue;
            }
            emit(ent);
            if (encFree < tableEnd) {
                dict[h] = static_cast<int32_t>(encFree++);
                keys.push_back(key);
            } else if (l.clearCode && l.clearWhenFull) {
                clear();
            }
            ent = data[i];
        }
        emit(ent);
    }
    if (l.endCode) emit(257);
    return w.Finish();
}

// A source that hands out at most `step` bytes per read (exercises refills at every position).
class TrickleSource final : public ByteSource {
  public:
    TrickleSource(const std::vector<uint8_t>& data, size_t step) : data_(data), step_(step) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t k = std::min({n, step_, data_.size() - pos_});
        std::copy_n(data_.data() + pos_, k, buf);
        pos_ += k;
        return k;
    }

  private:
    const std::vector<uint8_t>& data_;
    size_t step_;
    size_t pos_ = 0;
};

// A sink that records the sizes of the writes it receives.
class RecordingSink final : public ByteSink {
  public:
    void Write(const uint8_t* buf, size_t n) override {
        data.insert(data.end(), buf, buf + n);
        writes.push_back(n);
    }
    std::vector<uint8_t> data;
    std::vector<size_t> writes;
};

}  // namespace varnok::test
