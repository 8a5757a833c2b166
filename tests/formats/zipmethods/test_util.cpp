#include "tests/formats/zipmethods/test_util.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "archive/core/bytes.h"

namespace varnok::test {

void BitWriter::Bits(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        acc_ |= uint64_t{(value >> i) & 1} << count_;
        if (++count_ == 8) {
            bytes_.push_back(static_cast<uint8_t>(acc_));
            acc_ = 0;
            count_ = 0;
        }
    }
}

void BitWriter::Code(uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;)
        Bits((code >> i) & 1, 1);
}

void BitWriter::AlignToByte() {
    if (count_) Bits(0, 8 - count_);
}

std::vector<uint8_t> BitWriter::Finish() {
    AlignToByte();
    return bytes_;
}

std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    unsigned count[16] = {};
    for (uint8_t l : lengths)
        ++count[l];
    count[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (unsigned bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

void DeflateWriter::FixedLitLen(unsigned s) {
    if (s < 144)
        w.Code(0x30 + s, 8);
    else if (s < 256)
        w.Code(0x190 + (s - 144), 9);
    else if (s < 280)
        w.Code(s - 256, 7);
    else
        w.Code(0xC0 + (s - 280), 8);
}

namespace {
constexpr unsigned kPrecodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
}

void DeflateWriter::DynamicHeaderRaw(bool last, unsigned hlit, unsigned hdist,
                                     const std::vector<uint8_t>& precodeLengths,
                                     const std::vector<std::pair<unsigned, unsigned>>& symbols) {
    w.Bits(last ? 1 : 0, 1);
    w.Bits(2, 2);
    w.Bits(hlit - 257, 5);
    w.Bits(hdist - 1, 5);
    w.Bits(19 - 4, 4);
    for (unsigned i = 0; i < 19; ++i)
        w.Bits(precodeLengths[kPrecodeOrder[i]], 3);
    const std::vector<uint32_t> codes = CanonicalCodes(precodeLengths);
    for (auto [sym, extra] : symbols) {
        w.Code(codes[sym], precodeLengths[sym]);
        if (sym == 16) w.Bits(extra, 2);
        if (sym == 17) w.Bits(extra, 3);
        if (sym == 18) w.Bits(extra, 7);
    }
}

void DeflateWriter::DynamicHeader(bool last, const std::vector<uint8_t>& litlen,
                                  const std::vector<uint8_t>& dist) {
    // Code-length code: 0..12 get 4 bits, 13..18 get 5 bits (a complete set).
    std::vector<uint8_t> pre(19, 4);
    for (unsigned s = 13; s < 19; ++s)
        pre[s] = 5;
    std::vector<std::pair<unsigned, unsigned>> symbols;
    for (uint8_t l : litlen)
        symbols.push_back({l, 0});
    for (uint8_t l : dist)
        symbols.push_back({l, 0});
    DynamicHeaderRaw(last, static_cast<unsigned>(litlen.size()), static_cast<unsigned>(dist.size()), pre,
                     symbols);
}

size_t TrickleSource::Read(uint8_t* buf, size_t n) {
    const size_t k = std::min({n, piece_, data_.size() - pos_});
    if (k) std::memcpy(buf, data_.data() + pos_, k);
    pos_ += k;
    return k;
}

std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& data, int level, int strategy, int windowBits,
                                 size_t flushEvery) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -windowBits, 8, strategy) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::vector<uint8_t> out(deflateBound(&z, data.size()) + 1024 +
                             (flushEvery ? data.size() / flushEvery * 64 : 0));
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    size_t pos = 0;
    int round = 0;
    while (true) {
        const size_t piece = flushEvery ? std::min(flushEvery, data.size() - pos) : data.size() - pos;
        z.next_in = const_cast<Bytef*>(data.data() + pos);
        z.avail_in = static_cast<uInt>(piece);
        pos += piece;
        const bool end = pos == data.size();
        const int flush = end ? Z_FINISH : (round % 2 ? Z_FULL_FLUSH : Z_SYNC_FLUSH);
        int rc = deflate(&z, flush);
        if (rc != (end ? Z_STREAM_END : Z_OK) || z.avail_in != 0) throw std::runtime_error("deflate");
        if (end) break;
        ++round;
        // Switch level and strategy for the next piece: stored, fixed, filtered, default blocks alternate.
        static const int kLevels[] = {0, 1, 6, 9, 3};
        static const int kStrategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_FILTERED, Z_DEFAULT_STRATEGY, Z_RLE};
        if (deflateParams(&z, kLevels[round % 5], kStrategies[round % 5]) != Z_OK)
            throw std::runtime_error("deflateParams");
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<uint8_t> ZlibInflate(const std::vector<uint8_t>& compressed, size_t expected) {
    z_stream z{};
    inflateInit2(&z, -15);
    std::vector<uint8_t> out(expected + 1);
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

namespace {
struct Rng {
    uint64_t s;
    explicit Rng(uint32_t seed) : s(0x9E3779B97F4A7C15ull ^ seed) {}
    uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s >> 11);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};
}  // namespace

std::vector<uint8_t> TextData(size_t size, uint32_t seed) {
    static const char* const kWords[] = {
        "archive", "the",    "of",     "entry",  "window", "deflate", "and",    "header", "a",     "to",
        "in",      "block",  "length", "code",   "tree",   "bits",    "output", "input",  "file",  "is",
        "data",    "stream", "CRC",    "offset", "match",  "literal", "table",  "set",    "zip",   "method",
        "reduce",  "shrink", "size",   "for",    "with",   "that",    "value",  "byte",   "first", "last"};
    Rng r(seed);
    std::vector<uint8_t> out;
    out.reserve(size);
    while (out.size() < size) {
        const char* w = kWords[r.Below(std::size(kWords))];
        out.insert(out.end(), w, w + std::strlen(w));
        const uint32_t p = r.Below(20);
        out.push_back(p == 0 ? '\n' : p == 1 ? ',' : p == 2 ? '.' : ' ');
        if (p == 3) {  // a number now and then
            const uint32_t n = r.Next() % 100000;
            const std::string s = std::to_string(n);
            out.insert(out.end(), s.begin(), s.end());
        }
    }
    out.resize(size);
    return out;
}

std::vector<uint8_t> RandomData(size_t size, uint32_t seed) {
    Rng r(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out)
        b = static_cast<uint8_t>(r.Next());
    return out;
}

std::vector<uint8_t> RunData(size_t size, uint32_t seed) {
    Rng r(seed);
    std::vector<uint8_t> out;
    out.reserve(size);
    while (out.size() < size) {
        const uint32_t kind = r.Below(4);
        const size_t len = 1 + r.Below(kind == 3 ? 8 : 600);
        if (kind == 0) {
            out.insert(out.end(), len, static_cast<uint8_t>(r.Next()));
        } else if (kind == 1 || kind == 2) {
            const unsigned period = 2 + r.Below(6);
            uint8_t pat[8];
            for (auto& b : pat)
                b = static_cast<uint8_t>(r.Below(4));
            for (size_t i = 0; i < len; ++i)
                out.push_back(pat[i % period]);
        } else {
            for (size_t i = 0; i < len; ++i)
                out.push_back(static_cast<uint8_t>(r.Next()));
        }
    }
    out.resize(size);
    return out;
}

std::vector<uint8_t> MixedData(size_t size, uint32_t seed) {
    Rng r(seed);
    std::vector<uint8_t> out;
    out.reserve(size + 70000);
    while (out.size() < size) {
        const size_t len = 1000 + r.Below(40000);
        std::vector<uint8_t> piece;
        switch (r.Below(4)) {
            case 0:
                piece = TextData(len, r.Next());
                break;
            case 1:
                piece = RandomData(len, r.Next());
                break;
            case 2:
                piece = RunData(len, r.Next());
                break;
            default:
                // Repeat something from far back, near the window's reach.
                if (out.size() > 40000) {
                    const size_t back = 32768 - r.Below(64);
                    const size_t from = out.size() - back;
                    piece.assign(out.begin() + static_cast<ptrdiff_t>(from),
                                 out.begin() + static_cast<ptrdiff_t>(from + std::min<size_t>(len, back)));
                } else {
                    piece = TextData(len, r.Next());
                }
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    out.resize(size);
    return out;
}

std::vector<ZipEntry> ReadZipEntries(const std::vector<uint8_t>& f) {
    // The central directory gives the deferred sizes; find the end record first.
    if (f.size() < 22) throw std::runtime_error("not a ZIP file");
    size_t eocd = SIZE_MAX;
    for (size_t i = f.size() - 22 + 1; i-- > 0 && f.size() - i <= 65557;)
        if (Le32(&f[i]) == 0x06054b50) {
            eocd = i;
            break;
        }
    if (eocd == SIZE_MAX) throw std::runtime_error("no end record");
    const uint16_t count = Le16(&f[eocd + 10]);
    size_t cd = Le32(&f[eocd + 16]);
    std::vector<ZipEntry> entries;
    for (unsigned i = 0; i < count; ++i) {
        if (cd + 46 > f.size() || Le32(&f[cd]) != 0x02014b50) throw std::runtime_error("bad central record");
        ZipEntry e;
        e.flags = Le16(&f[cd + 8]);
        e.method = Le16(&f[cd + 10]);
        e.crc = Le32(&f[cd + 16]);
        e.compressedSize = Le32(&f[cd + 20]);
        e.size = Le32(&f[cd + 24]);
        const size_t nameLen = Le16(&f[cd + 28]), extraLen = Le16(&f[cd + 30]),
                     commentLen = Le16(&f[cd + 32]);
        const size_t local = Le32(&f[cd + 42]);
        e.name.assign(reinterpret_cast<const char*>(&f[cd + 46]), nameLen);
        cd += 46 + nameLen + extraLen + commentLen;

        // The local header: its own name and extra lengths place the data.
        if (local + 30 > f.size() || Le32(&f[local]) != 0x04034b50)
            throw std::runtime_error("bad local header");
        if (!(Le16(&f[local + 6]) & 8)) {
            // Sizes are in the local header itself.
            e.crc = Le32(&f[local + 14]);
            e.compressedSize = Le32(&f[local + 18]);
            e.size = Le32(&f[local + 22]);
        }
        e.dataOffset = local + 30 + Le16(&f[local + 26]) + Le16(&f[local + 28]);
        if (e.dataOffset + e.compressedSize > f.size()) throw std::runtime_error("entry data past the end");
        entries.push_back(e);
    }
    return entries;
}

}  // namespace varnok::test
