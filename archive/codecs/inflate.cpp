// Inflate and Deflate64.
//
// Decoding uses two-level lookup tables indexed by the next input bits (least significant first). One 32-bit
// table entry says everything about a code: what it is (literal, length, distance, end of block, link to a
// second-level table, invalid), its value, its code length and the number of extra bits that follow it. The
// main loop keeps a 64-bit bit buffer that is refilled a whole word at a time, writes literals straight into
// a large output buffer and copies matches eight bytes at a time; it runs while the input buffer and the
// output buffer have safe margins, and a careful one-symbol-at-a-time path handles the stream's ends.
// Decoding is bound by the chain from one table lookup to the next (load, drop the code's bits, mask,
// load); a first-level literal entry therefore carries the start and width of the next index in the form
// of a bit-field extraction's operand, so that on processors with BMI one instruction takes the place of
// the shift and the mask on that chain.
//
// Inflate keeps a bit reader of its own instead of the codecs' LSB-first LsbBitReader. The fast loop
// refills without any test (the input margin guarantees eight readable bytes), ORs a whole word into the
// buffer and lets bits above the count be the next bytes' bits; the careful path needs the opposite,
// clean bits above the count, and the input buffer must keep the last eight bytes read so that a stored
// block or the end of the stream can hand the unused whole bytes back (Unconsumed). LsbBitReader's
// refill tests the count and the buffered input on every call and cannot give bytes back: it would put
// two branches into each of the fast loop's three refills per symbol and lose the data descriptors and
// gzip trailers that follow a stream.
#include "archive/codecs/inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "archive/core/errors.h"

namespace varnok {

namespace {

constexpr unsigned kLitLenRoot = 11;  // first-level index bits of the literal/length table
constexpr unsigned kDistRoot = 8;     // ... of the distance table
constexpr unsigned kPrecodeRoot = 7;  // code-length codes are at most 7 bits long: one level
constexpr unsigned kMaxCodeLength = 15;

// Each second-level table holds at most 2^(15 - root) entries and starts with a distinct code, so these
// bounds can never be exceeded (the builder checks anyway).
constexpr size_t kLitLenCap =
    (size_t{1} << kLitLenRoot) + 288 * (size_t{1} << (kMaxCodeLength - kLitLenRoot));
constexpr size_t kDistCap = (size_t{1} << kDistRoot) + 32 * (size_t{1} << (kMaxCodeLength - kDistRoot));

// Table entry layouts. Bits 0-7 always hold the bits to drop: code length + extra bits (second level:
// bits past the first level + extra bits; link: the first-level bits).
//   Literal:          bit 31 set, bits 16-23 the byte, bits 8-15 the first-level width (first level) or
//                     the code length (second level)
//   Length, distance: bits 20-31 the length base or the distance code, bits 16-19 the code length (second
//                     level: bits past the first level), bits 8-15 the first-level width of the table
//                     looked up next (distances for a length, literals/lengths for a distance)
//   Other:            bits 16-31 the code-length symbol or the start of the second-level table, bits 12-15
//                     flags, bits 8-11 the code length (link: the index bits of the second-level table)
// So for literals, lengths and distances bits 0-15 are the start and width of the next lookup's index in
// the bit buffer, the operand of one bit-field extraction.
constexpr uint32_t kLiteral = 1u << 31;
constexpr uint32_t kExceptional = 1u << 14;  // end of block, second-level link, or invalid code
constexpr uint32_t kSubtable = 1u << 13;
constexpr uint32_t kEndOfBlock = 1u << 12;
constexpr uint32_t kInvalid = kExceptional;
inline uint32_t EntryValue(uint32_t e) {
    return e >> 16;
}
inline unsigned EntryCodeLength(uint32_t e) {
    return (e >> 8) & 0xF;
}
inline unsigned EntryBits(uint32_t e) {
    return e & 0xFF;
}
inline uint32_t MatchValue(uint32_t e) {
    return e >> 20;
}
inline unsigned MatchCodeLength(uint32_t e) {
    return (e >> 16) & 0xF;
}

enum class TableKind { LitLen, Dist, Precode };

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t kPrecodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// What each symbol decodes to, without its code length (the builder adds that).
struct SymbolInfo {
    uint32_t litlen[288];
    uint32_t dist[32];
    uint32_t precode[19];

    explicit constexpr SymbolInfo(bool deflate64) : litlen(), dist(), precode() {
        for (unsigned s = 0; s < 256; ++s)
            litlen[s] = kLiteral | (s << 16);
        litlen[256] = kExceptional | kEndOfBlock;
        for (unsigned s = 257; s < 286; ++s)
            litlen[s] = (uint32_t{kLengthBase[s - 257]} << 20) | kLengthExtra[s - 257];
        if (deflate64) litlen[285] = (3u << 20) | 16u;
        litlen[286] = litlen[287] = kInvalid;
        for (unsigned s = 0; s < 32; ++s)
            dist[s] = (s << 20) | kDistExtra[s];
        if (!deflate64) dist[30] = dist[31] = kInvalid;
        for (unsigned s = 0; s < 19; ++s)
            precode[s] = s << 16;
    }
};

constexpr SymbolInfo kDeflateInfo(false);
constexpr SymbolInfo kDeflate64Info(true);

struct ReverseTable {
    uint8_t v[256];
    constexpr ReverseTable() : v() {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned r = 0;
            for (unsigned b = 0; b < 8; ++b)
                if (i & (1u << b)) r |= 0x80u >> b;
            v[i] = static_cast<uint8_t>(r);
        }
    }
};
constexpr ReverseTable kReverse;

inline uint32_t ReverseBits(uint32_t code, unsigned length) {
    uint32_t r16 = (uint32_t{kReverse.v[code & 0xFF]} << 8) | kReverse.v[(code >> 8) & 0xFF];
    return r16 >> (16 - length);
}

enum class Build { Complete, SingleCode, Empty, Incomplete, Oversubscribed };

// Builds the lookup table of a canonical prefix code given by its code lengths. Incomplete sets are
// accepted only in the two forms other decoders accept: no code at all, or a single code of one bit.
Build BuildTable(uint32_t* table, size_t cap, const uint8_t* lengths, unsigned count, const uint32_t* info,
                 unsigned root, TableKind kind) {
    // The entry of a symbol whose code takes `bits` bits of this level (see the layouts above).
    const unsigned nextWidth = kind == TableKind::LitLen ? kDistRoot : kLitLenRoot;
    auto entry = [&](unsigned sym, unsigned bits, bool firstLevel) -> uint32_t {
        const uint32_t i = info[sym];
        if (kind == TableKind::Precode || (i & kExceptional)) return i + (bits << 8) + bits;
        if (i & kLiteral) return i + ((firstLevel ? kLitLenRoot : bits) << 8) + bits;
        return i + (bits << 16) + (nextWidth << 8) + bits;
    };
    unsigned perLength[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < count; ++s)
        ++perLength[lengths[s]];
    perLength[0] = 0;

    int left = 1;
    unsigned used = 0, maxLength = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        left = 2 * left - static_cast<int>(perLength[len]);
        if (left < 0) return Build::Oversubscribed;
        used += perLength[len];
        if (perLength[len]) maxLength = len;
    }
    const size_t rootSize = size_t{1} << root;
    Build result = Build::Complete;
    if (left > 0) {
        if (used == 0)
            result = Build::Empty;
        else if (used == 1 && perLength[1] == 1)
            result = Build::SingleCode;
        else
            return Build::Incomplete;
        std::fill(table, table + rootSize, kInvalid);
        if (used == 0) return result;
    }

    // Symbols in canonical order: by code length, then by symbol.
    unsigned offset[kMaxCodeLength + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeLength; ++len)
        offset[len + 1] = offset[len] + perLength[len];
    uint16_t sorted[288];
    for (unsigned s = 0; s < count; ++s)
        if (lengths[s]) sorted[offset[lengths[s]]++] = static_cast<uint16_t>(s);

    unsigned remaining[kMaxCodeLength + 1];
    std::copy(perLength, perLength + kMaxCodeLength + 1, remaining);
    uint32_t code = 0;  // canonical code, most significant bit first
    unsigned next = 0;  // index into sorted
    size_t subNext = rootSize, subStart = 0;
    unsigned subBits = 0;
    uint32_t subPrefix = ~0u;
    // The first level is filled by code length: the codes of length len take distinct slots among the first
    // 2^len, and doubling the filled part before the next length repeats every shorter code's entry.
    const unsigned lastShort = std::min(root, maxLength);
    size_t filled = 2;
    for (unsigned len = 1; len <= maxLength; ++len, code <<= 1) {
        if (len > 1 && len <= root) {
            std::memcpy(table + filled, table, filled * sizeof(uint32_t));
            filled *= 2;
        }
        for (unsigned k = 0; k < perLength[len]; ++k, ++code) {
            const unsigned sym = sorted[next++];
            const uint32_t rev = ReverseBits(code, len);
            if (len <= root) {
                table[rev] = entry(sym, len, true);
            } else {
                const uint32_t prefix = rev & static_cast<uint32_t>(rootSize - 1);
                if (prefix != subPrefix) {
                    // Size the second-level table so that it is exactly filled by the codes under this
                    // prefix.
                    unsigned bits = len - root;
                    int slots = 1 << bits;
                    for (unsigned l = len; l < maxLength; ++l) {
                        slots -= static_cast<int>(remaining[l]);
                        if (slots <= 0) break;
                        ++bits;
                        slots <<= 1;
                    }
                    if (subNext + (size_t{1} << bits) > cap) return Build::Oversubscribed;
                    table[prefix] = kExceptional | kSubtable | (static_cast<uint32_t>(subNext) << 16) |
                                    (bits << 8) | root;
                    subStart = subNext;
                    subNext += size_t{1} << bits;
                    subBits = bits;
                    subPrefix = prefix;
                }
                const unsigned rest = len - root;
                const uint32_t e = entry(sym, rest, false);
                for (size_t i = rev >> root; i < (size_t{1} << subBits); i += size_t{1} << rest)
                    table[subStart + i] = e;
            }
            --remaining[len];
        }
        if (len == lastShort) {
            for (; filled < rootSize; filled *= 2)
                std::memcpy(table + filled, table, filled * sizeof(uint32_t));
        }
    }
    return result;
}

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}
inline void Copy8(uint8_t* dst, const uint8_t* src) {
    std::memcpy(dst, src, 8);
}

// Copies a match of `length` bytes from `distance` bytes back. Writes up to kCopyOverrun bytes past the end
// of the match (the caller guarantees the room); later output overwrites them.
inline void CopyMatch(uint8_t* out, size_t distance, size_t length) {
    uint8_t* const end = out + length;
    const uint8_t* src = out - distance;
    if (distance >= 8) {
        // Most matches are short: five unconditional word moves cover them.
        Copy8(out, src);
        Copy8(out + 8, src + 8);
        Copy8(out + 16, src + 16);
        Copy8(out + 24, src + 24);
        Copy8(out + 32, src + 32);
        if (length > 40) {
            out += 40;
            src += 40;
            do {
                Copy8(out, src);
                Copy8(out + 8, src + 8);
                out += 16;
                src += 16;
            } while (out < end);
        }
    } else if (distance == 1) {
        const uint64_t v = 0x0101010101010101ull * *src;
        do {
            std::memcpy(out, &v, 8);
            std::memcpy(out + 8, &v, 8);
            std::memcpy(out + 16, &v, 8);
            std::memcpy(out + 24, &v, 8);
            out += 32;
        } while (out < end);
    } else {
        // A short period: lay down one stretch of it byte by byte, then copy words from a multiple of the
        // period that is at least eight bytes back.
        size_t step = distance;
        while (step < 8)
            step += distance;
        for (size_t i = 0; i < step; ++i)
            out[i] = src[i];
        out += step;
        src = out - step;
        while (out < end) {
            Copy8(out, src);
            Copy8(out + 8, src + 8);
            out += 16;
            src += 16;
        }
    }
}

constexpr size_t kInSize = 64 * 1024;
constexpr size_t kInKeep = 8;     // bytes kept before the read position: they may still sit in the bit buffer
constexpr size_t kInMargin = 32;  // input the fast loop needs per step (three word refills)
constexpr size_t kChunk = 256 * 1024;
constexpr size_t kMaxWindow = 64 * 1024;
constexpr size_t kCopyOverrun = 64;
constexpr size_t kOutMargin = 3 + 258 + kCopyOverrun + 11;  // room the fast loop needs per step
constexpr size_t kOutSlack = 64;

}  // namespace

struct Inflater::Tables {
    uint32_t litlen[kLitLenCap];
    uint32_t dist[kDistCap];
};

Inflater::Inflater(Format format) : format_(format) {}
Inflater::~Inflater() = default;

void Inflater::Release() {
    inBuf_.reset();
    outBuf_.reset();
    dynamic_.reset();
    fixed_.reset();
    unconsumed_ = {};
}

std::span<const uint8_t> Inflater::Unconsumed() const {
    return unconsumed_;
}

Inflater::Step Inflater::Fail(int code) {
    error_ = code;
    return Step::Corrupt;
}

bool Inflater::FillInput() {
    if (sourceEnded_) return false;
    uint8_t* base = inBuf_.get();
    const uint8_t* keepFrom = in_ - base > static_cast<ptrdiff_t>(kInKeep) ? in_ - kInKeep : base;
    if (keepFrom > base) {
        const size_t keep = static_cast<size_t>(inEnd_ - keepFrom);
        std::memmove(base, keepFrom, keep);
        in_ = base + (in_ - keepFrom);
        inEnd_ = base + keep;
    }
    uint8_t* end = base + (inEnd_ - base);
    const size_t n = source_->Read(end, kInSize - static_cast<size_t>(end - base));
    if (n == 0) {
        sourceEnded_ = true;
        return false;
    }
    inEnd_ = end + n;
    totalRead_ += n;
    return true;
}

void Inflater::TopUpInput(size_t want) {
    while (static_cast<size_t>(inEnd_ - in_) < want && FillInput()) {
    }
}

// Makes at least n bits (n <= 56) available; false when the input ends first. Bits above the count are
// either zero or the very bits the next bytes will bring, so a lookup over them is deterministic.
bool Inflater::NeedBits(unsigned n) {
    while (bitsleft_ < n) {
        if (in_ == inEnd_ && !FillInput()) return false;
        bitbuf_ |= uint64_t{*in_++} << bitsleft_;
        bitsleft_ += 8;
    }
    return true;
}

uint32_t Inflater::TakeBits(unsigned n) {
    const uint32_t v = static_cast<uint32_t>(bitbuf_ & ((uint64_t{1} << n) - 1));
    bitbuf_ >>= n;
    bitsleft_ -= n;
    return v;
}

// Drops the bits of the current partial byte and hands the whole bytes held in the bit buffer back to the
// input buffer (they are still there: kInKeep bytes before the read position are always kept).
void Inflater::AlignToByte() {
    in_ -= bitsleft_ / 8;
    bitbuf_ = 0;
    bitsleft_ = 0;
}

bool Inflater::FlushOutput(bool slide) {
    if (out_ > flushed_) {
        sink_->Write(flushed_, static_cast<size_t>(out_ - flushed_));
        produced_ += static_cast<uint64_t>(out_ - flushed_);
    }
    uint8_t* base = outBuf_.get();
    if (slide && static_cast<size_t>(out_ - base) > window_) {
        std::memmove(base, out_ - window_, window_);
        out_ = base + window_;
    }
    flushed_ = out_;
    return !IsCancelled(cancel_);
}

const Inflater::Tables& Inflater::FixedTables() {
    if (!fixed_ || fixedFormat_ != format_) {
        if (!fixed_) fixed_ = std::make_unique_for_overwrite<Tables>();
        const SymbolInfo& info = format_ == Format::Deflate64 ? kDeflate64Info : kDeflateInfo;
        uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        BuildTable(fixed_->litlen, kLitLenCap, lengths, 288, info.litlen, kLitLenRoot, TableKind::LitLen);
        std::fill(lengths, lengths + 32, 5);
        // All 32 five-bit distance codes exist; in Deflate codes 30 and 31 decode as invalid.
        BuildTable(fixed_->dist, kDistCap, lengths, 32, info.dist, kDistRoot, TableKind::Dist);
        fixedFormat_ = format_;
    }
    return *fixed_;
}

Inflater::Step Inflater::ReadDynamicTables() {
    if (!NeedBits(14)) return Step::Truncated;
    const unsigned numLitLen = TakeBits(5) + 257;
    const unsigned numDist = TakeBits(5) + 1;
    const unsigned numPrecode = TakeBits(4) + 4;
    // The 5-bit fields cannot express more than 288 and 32 codes; the check guards the arrays below.
    if (numLitLen > 288 || numDist > 32) return Fail(E_BadBlock);

    uint8_t precodeLengths[19] = {};
    for (unsigned i = 0; i < numPrecode; ++i) {
        if (!NeedBits(3)) return Step::Truncated;
        precodeLengths[kPrecodeOrder[i]] = static_cast<uint8_t>(TakeBits(3));
    }
    uint32_t precode[1u << kPrecodeRoot];
    const Build pb = BuildTable(precode, std::size(precode), precodeLengths, 19, kDeflateInfo.precode,
                                kPrecodeRoot, TableKind::Precode);
    if (pb == Build::Oversubscribed) return Fail(E_BadHuffmanCode);
    if (pb != Build::Complete && pb != Build::SingleCode) return Fail(E_IncompleteCodeSet);

    uint8_t lengths[288 + 32];
    const unsigned total = numLitLen + numDist;
    for (unsigned i = 0; i < total;) {
        uint32_t e;
        const Step s = DecodeSlow(precode, kPrecodeRoot, &e);
        if (s != Step::Continue) return s;
        TakeBits(EntryCodeLength(e));
        const unsigned sym = EntryValue(e);
        if (sym < 16) {
            lengths[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        unsigned repeat;
        uint8_t value = 0;
        if (sym == 16) {
            if (i == 0) return Fail(E_BadLengths);  // nothing to repeat
            if (!NeedBits(2)) return Step::Truncated;
            repeat = 3 + TakeBits(2);
            value = lengths[i - 1];
        } else if (sym == 17) {
            if (!NeedBits(3)) return Step::Truncated;
            repeat = 3 + TakeBits(3);
        } else {
            if (!NeedBits(7)) return Step::Truncated;
            repeat = 11 + TakeBits(7);
        }
        if (repeat > total - i) return Fail(E_BadLengths);  // the repeat runs past the last code length
        std::fill(lengths + i, lengths + i + repeat, value);
        i += repeat;
    }
    if (lengths[256] == 0) return Fail(E_IncompleteCodeSet);  // no end-of-block code: the block cannot end

    if (!dynamic_) dynamic_ = std::make_unique_for_overwrite<Tables>();
    const SymbolInfo& info = format_ == Format::Deflate64 ? kDeflate64Info : kDeflateInfo;
    const Build lb = BuildTable(dynamic_->litlen, kLitLenCap, lengths, numLitLen, info.litlen, kLitLenRoot,
                                TableKind::LitLen);
    if (lb == Build::Oversubscribed) return Fail(E_BadHuffmanCode);
    if (lb != Build::Complete && lb != Build::SingleCode) return Fail(E_IncompleteCodeSet);
    // A block of literals only may carry no distance codes at all.
    const Build db = BuildTable(dynamic_->dist, kDistCap, lengths + numLitLen, numDist, info.dist, kDistRoot,
                                TableKind::Dist);
    if (db == Build::Oversubscribed) return Fail(E_BadHuffmanCode);
    if (db == Build::Incomplete) return Fail(E_IncompleteCodeSet);
    return Step::Continue;
}

Inflater::Step Inflater::StoredBlock() {
    AlignToByte();
    uint8_t header[4];
    for (uint8_t& b : header) {
        if (in_ == inEnd_ && !FillInput()) return Step::Truncated;
        b = *in_++;
    }
    const uint32_t length = header[0] | (header[1] << 8);
    const uint32_t check = header[2] | (header[3] << 8);
    if ((length ^ 0xFFFF) != check) return Fail(E_BadBlock);
    size_t left = length;
    while (left) {
        if (OutSpace() == 0 && !FlushOutput(true)) return Step::Cancelled;
        if (in_ == inEnd_ && !FillInput()) return Step::Truncated;
        const size_t n = std::min({left, OutSpace(), static_cast<size_t>(inEnd_ - in_)});
        std::memcpy(out_, in_, n);
        out_ += n;
        in_ += n;
        left -= n;
    }
    return Step::Continue;
}

// Looks up the next code with the careful reader. On Continue, *entry is a code whose bits are all
// present (the bits of a first-level link have been dropped already); its own bits are not dropped yet.
Inflater::Step Inflater::DecodeSlow(const uint32_t* table, unsigned rootBits, uint32_t* entry) {
    bool complete = NeedBits(rootBits);
    uint32_t e = table[bitbuf_ & ((uint64_t{1} << rootBits) - 1)];
    if (e & kSubtable) {
        if (!complete) return Step::Truncated;
        TakeBits(EntryBits(e));
        const unsigned subBits = EntryCodeLength(e);
        complete = NeedBits(subBits);
        e = table[EntryValue(e) + (bitbuf_ & ((uint64_t{1} << subBits) - 1))];
    }
    if ((e & kExceptional) && !(e & kEndOfBlock)) return complete ? Fail(E_InvalidCode) : Step::Truncated;
    unsigned codeLength;
    if (rootBits == kPrecodeRoot || (e & kExceptional))
        codeLength = EntryCodeLength(e);
    else if (rootBits == kLitLenRoot && (e & kLiteral))
        codeLength = EntryBits(e);
    else
        codeLength = MatchCodeLength(e);
    if (codeLength > bitsleft_) return Step::Truncated;
    *entry = e;
    return Step::Continue;
}

Inflater::Step Inflater::EmitMatch(size_t length, size_t distance) {
    if (distance > static_cast<size_t>(out_ - outBuf_.get())) return Fail(E_CorruptInput);
    if (length + kCopyOverrun <= OutSpace()) {
        CopyMatch(out_, distance, length);
        out_ += length;
        return Step::Continue;
    }
    pendingLength_ = length;
    pendingDistance_ = distance;
    return CopyPending();
}

// Finishes a match that did not fit in the room left, flushing between pieces.
Inflater::Step Inflater::CopyPending() {
    while (pendingLength_) {
        if (OutSpace() < kOutMargin && !FlushOutput(true)) return Step::Cancelled;
        const size_t n = std::min(pendingLength_, OutSpace() - kCopyOverrun);
        CopyMatch(out_, pendingDistance_, n);
        out_ += n;
        pendingLength_ -= n;
    }
    return Step::Continue;
}

Inflater::Step Inflater::SlowSymbol(const Tables& t) {
    uint32_t e;
    Step s = DecodeSlow(t.litlen, kLitLenRoot, &e);
    if (s != Step::Continue) return s;
    if (e & kLiteral) {
        TakeBits(EntryBits(e));
        *out_++ = static_cast<uint8_t>(EntryValue(e));
        return Step::Continue;
    }
    if (e & kEndOfBlock) {
        TakeBits(EntryBits(e));
        return Step::EndOfBlock;
    }
    if (!NeedBits(EntryBits(e))) return Step::Truncated;
    uint32_t extra = TakeBits(EntryBits(e)) >> MatchCodeLength(e);
    const size_t length = MatchValue(e) + extra;
    s = DecodeSlow(t.dist, kDistRoot, &e);
    if (s != Step::Continue) return s;
    if (e & kExceptional) return Fail(E_InvalidCode);
    if (!NeedBits(EntryBits(e))) return Step::Truncated;
    extra = TakeBits(EntryBits(e)) >> MatchCodeLength(e);
    return EmitMatch(length, kDistBase[MatchValue(e)] + extra);
}

namespace {

// The state the main loop works on, copied in and out of the Inflater around each run.
struct FastState {
    uint64_t bitbuf;
    unsigned bitsleft;
    const uint8_t* in;
    const uint8_t* inEnd;
    uint8_t* out;
    uint8_t* outBase;
    uint8_t* outLimit;
    size_t pendingLength;
    size_t pendingDistance;
    int error;
};

enum class FastEnd { Margin, EndOfBlock, Corrupt };

// The index of the next first-level lookup after a first-level literal entry: the bits of the buffer from
// the entry's code length on, as wide as the entry says (the first-level width).
template <bool kBextr, unsigned kWidth>
[[gnu::always_inline]] inline uint64_t NextIndex(uint64_t bitbuf, uint32_t e) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if constexpr (kBextr) {
        uint64_t r;
        const uint64_t control = e & 0xFFFF;
        __asm__("bextr %2, %1, %0" : "=r"(r) : "r"(bitbuf), "r"(control));
        return r;
    }
#endif
    return (bitbuf >> (e & 0xFF)) & ((uint64_t{1} << kWidth) - 1);
}

// The main decoding loop. Runs while at least kInMargin input bytes and kOutMargin bytes of output room
// remain. The next literal/length entry is looked up as early as possible so that its load overlaps the
// work on the current symbol.
template <bool kDeflate64, bool kBextr>
[[gnu::always_inline]] inline FastEnd FastLoopBody(FastState& st, const uint32_t* litlen,
                                                   const uint32_t* dist) {
    constexpr uint64_t kLitMask = (uint64_t{1} << kLitLenRoot) - 1;
    uint64_t bitbuf = st.bitbuf;
    unsigned bitsleft = st.bitsleft;
    const uint8_t* in = st.in;
    const uint8_t* const inSafe = st.inEnd - kInMargin;
    uint8_t* out = st.out;
    uint8_t* const outBase = st.outBase;
    uint8_t* const outSafe = st.outLimit - kOutMargin;
    FastEnd result = FastEnd::Margin;

    // Tops the bit buffer up to 56..63 bits with one unaligned load. The bits loaded above the new count
    // are the next bytes' bits, so OR-ing them in again on the next refill changes nothing.
#define VARNOK_REFILL()                   \
    do {                                  \
        bitbuf |= Load64(in) << bitsleft; \
        in += (63 - bitsleft) >> 3;       \
        bitsleft |= 56;                   \
    } while (0)
#define VARNOK_DROP(n)   \
    do {                 \
        bitbuf >>= (n);  \
        bitsleft -= (n); \
    } while (0)
#define VARNOK_LOW(x, n) ((x) & ((uint64_t{1} << (n)) - 1))

    if (in > inSafe || out > outSafe) return result;
    VARNOK_REFILL();
    uint32_t e = litlen[bitbuf & kLitMask];
    for (;;) {
        // Here e is the entry for the next code and at least 56 bits are held.
        if (e & kLiteral) {
            // Up to three literals: 3 x 11 bits fit in the 56 held, and 11 remain for the next lookup. The
            // next index is taken straight from the entry's start and width (one bit-field extraction),
            // which keeps the chain from one literal's lookup to the next short.
#define VARNOK_LITERAL()                                                 \
    do {                                                                 \
        const uint64_t next = NextIndex<kBextr, kLitLenRoot>(bitbuf, e); \
        VARNOK_DROP(EntryBits(e));                                       \
        *out++ = static_cast<uint8_t>(e >> 16);                          \
        e = litlen[next];                                                \
    } while (0)
            VARNOK_LITERAL();
            if (e & kLiteral) {
                VARNOK_LITERAL();
                if (e & kLiteral) {
                    VARNOK_LITERAL();
                    VARNOK_REFILL();
                    if (in > inSafe || out > outSafe) break;
                    continue;
                }
            }
#undef VARNOK_LITERAL
            VARNOK_REFILL();
        }
        if (e & kExceptional) {
            if (e & kSubtable) {
                VARNOK_DROP(EntryBits(e));
                e = litlen[EntryValue(e) + VARNOK_LOW(bitbuf, EntryCodeLength(e))];
                if (e & kLiteral) {
                    VARNOK_DROP(EntryBits(e));
                    *out++ = static_cast<uint8_t>(EntryValue(e));
                    e = litlen[bitbuf & kLitMask];
                    VARNOK_REFILL();
                    if (in > inSafe || out > outSafe) break;
                    continue;
                }
            }
            if (e & kExceptional) {
                if (e & kEndOfBlock) {
                    VARNOK_DROP(EntryBits(e));
                    result = FastEnd::EndOfBlock;
                } else {
                    st.error = E_InvalidCode;
                    result = FastEnd::Corrupt;
                }
                break;
            }
        }
        // A length code and its extra bits (at most 15 + 5 bits; Deflate64: 15 + 16).
        uint64_t saved = bitbuf;
        unsigned bits = EntryBits(e);
        const uint64_t distIndex = NextIndex<kBextr, kDistRoot>(saved, e);
        VARNOK_DROP(bits);
        const size_t length = MatchValue(e) + (VARNOK_LOW(saved, bits) >> MatchCodeLength(e));
        // The distance code and its extra bits (at most 15 + 13 bits; Deflate64: 15 + 14). All 64 bits of
        // the buffer were real after the last refill, so at least 33 remain for the lookup.
        e = dist[distIndex];
        if (e & kExceptional) {
            if (e & kSubtable) {
                VARNOK_DROP(EntryBits(e));
                e = dist[EntryValue(e) + VARNOK_LOW(bitbuf, EntryCodeLength(e))];
            }
            if (e & kExceptional) {
                st.error = E_InvalidCode;
                result = FastEnd::Corrupt;
                break;
            }
        }
        // Hold the distance's bits and the next lookup's bits, so that the next entry can be looked up
        // before the refill that follows.
        bits = EntryBits(e);
        if (bitsleft < bits + kLitLenRoot) VARNOK_REFILL();
        saved = bitbuf;
        const uint64_t litIndex = NextIndex<kBextr, kLitLenRoot>(saved, e);
        VARNOK_DROP(bits);
        const size_t distance = kDistBase[MatchValue(e)] + (VARNOK_LOW(saved, bits) >> MatchCodeLength(e));
        if (distance > static_cast<size_t>(out - outBase)) {
            st.error = E_CorruptInput;
            result = FastEnd::Corrupt;
            break;
        }
        e = litlen[litIndex];
        VARNOK_REFILL();
        if constexpr (kDeflate64) {
            if (length + kCopyOverrun > static_cast<size_t>(st.outLimit - out)) {
                st.pendingLength = length;
                st.pendingDistance = distance;
                break;
            }
        }
        CopyMatch(out, distance, length);
        out += length;
        if (in > inSafe || out > outSafe) break;
    }
#undef VARNOK_REFILL
#undef VARNOK_DROP
#undef VARNOK_LOW

    st.bitbuf = bitbuf;
    st.bitsleft = bitsleft;
    st.in = in;
    st.out = out;
    return result;
}

FastEnd FastLoopGeneric(FastState& st, const uint32_t* litlen, const uint32_t* dist, bool deflate64) {
    return deflate64 ? FastLoopBody<true, false>(st, litlen, dist)
                     : FastLoopBody<false, false>(st, litlen, dist);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The same loop compiled for processors with BMI2 (variable shifts and bit-field extraction without the
// shift-count register), chosen at run time.
#define VARNOK_HAVE_BMI2_LOOP 1
[[gnu::target("bmi,bmi2")]] FastEnd FastLoopBmi2(FastState& st, const uint32_t* litlen, const uint32_t* dist,
                                                 bool deflate64) {
    return deflate64 ? FastLoopBody<true, true>(st, litlen, dist)
                     : FastLoopBody<false, true>(st, litlen, dist);
}

bool CpuHasBmi2() {
    static const bool has = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return has;
}
#endif

}  // namespace

Inflater::Step Inflater::FastLoop(const Tables& t) {
    FastState st{bitbuf_, bitsleft_, in_, inEnd_, out_, outBuf_.get(), outLimit_, 0, 0, 0};
    const bool d64 = format_ == Format::Deflate64;
    FastEnd end;
#ifdef VARNOK_HAVE_BMI2_LOOP
    if (CpuHasBmi2())
        end = FastLoopBmi2(st, t.litlen, t.dist, d64);
    else
        end = FastLoopGeneric(st, t.litlen, t.dist, d64);
#else
    end = FastLoopGeneric(st, t.litlen, t.dist, d64);
#endif
    bitbuf_ = st.bitbuf;
    bitsleft_ = st.bitsleft;
    in_ = st.in;
    out_ = st.out;
    if (st.pendingLength) {
        pendingLength_ = st.pendingLength;
        pendingDistance_ = st.pendingDistance;
    }
    if (end == FastEnd::EndOfBlock) return Step::EndOfBlock;
    if (end == FastEnd::Corrupt) return Fail(st.error);
    return Step::Continue;
}

Inflater::Step Inflater::HuffmanBlock(const Tables& t) {
    for (;;) {
        if (pendingLength_) {
            const Step s = CopyPending();
            if (s != Step::Continue) return s;
        }
        if (OutSpace() < kOutMargin && !FlushOutput(true)) return Step::Cancelled;
        if (static_cast<size_t>(inEnd_ - in_) < kInMargin) TopUpInput(kInMargin);
        if (static_cast<size_t>(inEnd_ - in_) >= kInMargin) {
            const Step s = FastLoop(t);
            if (s != Step::Continue) return s;
            continue;
        }
        // Near the end of the input: bits above the count must be clean for the careful reader.
        if (bitsleft_ < 64) bitbuf_ &= (uint64_t{1} << bitsleft_) - 1;
        const Step s = SlowSymbol(t);
        if (s != Step::Continue) return s;
    }
}

DecodeResult Inflater::Decode(ByteSource& source, ByteSink& sink, const CancelFlag* cancel) {
    if (!inBuf_) inBuf_ = std::make_unique_for_overwrite<uint8_t[]>(kInSize);
    if (!outBuf_) outBuf_ = std::make_unique_for_overwrite<uint8_t[]>(kMaxWindow + kChunk + kOutSlack);
    source_ = &source;
    sink_ = &sink;
    cancel_ = cancel;
    sourceEnded_ = false;
    totalRead_ = 0;
    in_ = inEnd_ = inBuf_.get();
    bitbuf_ = 0;
    bitsleft_ = 0;
    window_ = format_ == Format::Deflate64 ? 65536 : 32768;
    out_ = flushed_ = outBuf_.get();
    outLimit_ = out_ + window_ + kChunk;
    produced_ = 0;
    pendingLength_ = pendingDistance_ = 0;
    error_ = 0;
    unconsumed_ = {};

    DecodeStatus status = DecodeStatus::Ok;
    for (bool last = false; !last;) {
        if (IsCancelled(cancel)) {
            status = DecodeStatus::Cancelled;
            break;
        }
        Step s;
        if (!NeedBits(3)) {
            s = Step::Truncated;
        } else {
            last = TakeBits(1) != 0;
            switch (TakeBits(2)) {
                case 0:
                    s = StoredBlock();
                    break;
                case 1:
                    s = HuffmanBlock(FixedTables());
                    break;
                case 2:
                    s = ReadDynamicTables();
                    if (s == Step::Continue) s = HuffmanBlock(*dynamic_);
                    break;
                default:
                    s = Fail(E_BadBlock);  // block type 3 does not exist
                    break;
            }
        }
        if (s == Step::Continue || s == Step::EndOfBlock) continue;
        status = s == Step::Corrupt     ? DecodeStatus::Corrupt
                 : s == Step::Truncated ? DecodeStatus::Truncated
                                        : DecodeStatus::Cancelled;
        if (s == Step::Truncated) error_ = E_UnexpectedEof;
        break;
    }
    FlushOutput(false);

    AlignToByte();
    unconsumed_ = std::span<const uint8_t>(in_, inEnd_);
    const uint64_t consumed = totalRead_ - unconsumed_.size();
    source_ = nullptr;
    sink_ = nullptr;
    const int code = status == DecodeStatus::Ok          ? 0
                     : status == DecodeStatus::Cancelled ? E_UserCanceled
                                                         : error_;
    return MakeResult(status, code, produced_, consumed);
}

}  // namespace varnok
