// Test helpers shared by the compress, ARC and ZOO decoder tests: the peers' expectations for an archive,
// sample data generators and small byte sources.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/core/stream.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok::test {

// The rows of EXPECTED.tsv for one archive that give an entry's size: its files (folders, links and the
// rows of archives no peer read are left out).
inline std::vector<ExpectedEntry> ExpectedFor(const std::string& archive) {
    std::vector<ExpectedEntry> rows;
    for (const auto& r : ExpectedOf(archive))
        if (r.size) rows.push_back(r);
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
