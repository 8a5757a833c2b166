// Deflate compressor.
//
// The input is read in pieces into one buffer that holds the 32 KiB history, the block being built and the
// lookahead; when the buffer fills, everything before the history of the current block is dropped by one
// move and the match finder's positions are rebased. Memory is therefore fixed (about 3 MiB; 4.5 MiB at
// the maximum strength) for inputs of any size, and a block's raw bytes are still at hand when it is
// flushed, so any block can go out stored.
//
// Match finding uses hash chains over 4-byte hashes (hash heads plus a 32 K ring of links), which skip
// the crowd of short 3-byte candidates; the normal and maximum strengths add a one-entry 3-byte hash for
// length-3 matches. The strengths differ in the parse and the search effort:
//   super-fast  greedy, two candidates per search, no insertion inside matches
//   fast        greedy, short chains, every position inserted
//   normal      lazy: a match is deferred when the next position has a better one ("better" weighs length
//               against the distance's extra bits); the longer the match in hand, the shorter that search;
//               a near length-3 match only (a far one costs more bits than its three literals)
//   maximum     near-optimal parse: for a segment of 16 K positions every position's candidate matches
//               (each longer than the last) are collected, then the cheapest path through literals and
//               matches of every usable length is found backwards from the segment's end, under a cost
//               model (bits per symbol) taken from the symbols of the previous segment, and found again
//               under the model of that first path. Positions inside a very long match are not searched.
// Greedy and lazy parsing are how zlib works; the near-optimal parse is what gets below zlib's best.
//
// Blocks end where the data change character: the parser counts coarse classes of the symbols it emits
// (literal byte ranges, short and long matches) and compares each new stretch of 512 symbols with the
// block so far; a large difference in the distributions ends the block, so that each block gets codes
// fitted to its own statistics. Blocks also end at a size cap. Each block is sent in the cheapest of the
// three forms, computed exactly from the symbol counts: stored, fixed codes or dynamic codes. Dynamic codes
// are Huffman codes limited to 15 bits (7 for the code-length code) by moving leaves up the tree, which
// keeps them within a fraction of a percent of optimal.
//
// Output goes through a 64-bit bit buffer that is flushed whole bytes at a time into an output buffer
// written to the sink in large pieces.
#include "archive/codecs/deflate_encoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "archive/core/errors.h"

namespace varnok {

namespace {

constexpr unsigned kWindow = 32768;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kFarLength3 = 4096;  // a length-3 match farther back than this does not pay

constexpr size_t kMaxBlockLength = size_t{1} << 18;  // input bytes covered by one block, at most
constexpr size_t kBlockMargin = 4096;                // a block ends this far before the cap
constexpr size_t kMaxItems = kMaxBlockLength;        // each item covers at least one byte
constexpr size_t kReadPiece = size_t{1} << 17;       // bytes asked of the source at once
constexpr size_t kLookahead = 4096;  // input kept ahead of the parser while the source has more
constexpr size_t kBufferSize = 2 * kWindow + kMaxBlockLength + 2 * kReadPiece + 2 * kLookahead;
constexpr size_t kBufferSlack = 16;
constexpr size_t kOutSize = size_t{1} << 16;
constexpr size_t kOutSlack = 16;

constexpr unsigned kHashBits = 15;
constexpr unsigned kHash3Bits = 15;
constexpr int32_t kNoPos = -0x40000000;  // an empty hash slot: always farther back than any window

constexpr unsigned kNumLitLen = 288;
constexpr unsigned kNumDist = 32;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kMaxCodeLength = 15;
constexpr unsigned kMaxPrecodeLength = 7;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kPrecodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
constexpr uint8_t kPrecodeExtra[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// Symbol lookups: the length slot of each match length, and the distance slot of (distance - 1), direct
// below 256 and by (distance - 1) >> 7 above.
struct SlotTables {
    uint8_t length[kMaxMatch + 1];
    uint8_t distSmall[256];
    uint8_t distLarge[256];
    constexpr SlotTables() : length(), distSmall(), distLarge() {
        for (unsigned s = 0; s < 29; ++s) {
            const unsigned top = s + 1 < 29 ? kLengthBase[s + 1] : kMaxMatch + 1;
            for (unsigned len = kLengthBase[s]; len < top && len <= kMaxMatch; ++len)
                length[len] = static_cast<uint8_t>(s);
        }
        length[kMaxMatch] = 28;
        for (unsigned s = 0; s < 30; ++s) {
            const unsigned first = kDistBase[s] - 1, last = first + (1u << kDistExtra[s]) - 1;
            for (unsigned d = first; d <= last; ++d) {
                if (d < 256)
                    distSmall[d] = static_cast<uint8_t>(s);
                else
                    distLarge[d >> 7] = static_cast<uint8_t>(s);
            }
        }
    }
};
constexpr SlotTables kSlots;

inline unsigned DistSlot(unsigned distMinus1) {
    return distMinus1 < 256 ? kSlots.distSmall[distMinus1] : kSlots.distLarge[distMinus1 >> 7];
}

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline uint32_t Hash4(const uint8_t* p) {
    uint32_t v = Load32(p);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return (v * 0x9E3779B1u) >> (32 - kHashBits);
}
inline uint32_t Hash3(const uint8_t* p) {
    uint32_t v = Load32(p);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return ((v & 0xFFFFFFu) * 0x9E3779B1u) >> (32 - kHash3Bits);
}
inline bool Same3(const uint8_t* a, const uint8_t* b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// Length of the common prefix of a and b, from `start` (known equal) up to `limit`.
inline unsigned MatchLength(const uint8_t* a, const uint8_t* b, unsigned start, unsigned limit) {
    unsigned len = start;
    while (len + 8 <= limit) {
        const uint64_t x = Load64(a + len) ^ Load64(b + len);
        if (x) {
            if constexpr (std::endian::native == std::endian::little)
                return len + static_cast<unsigned>(std::countr_zero(x)) / 8;
            else
                return len + static_cast<unsigned>(std::countl_zero(x)) / 8;
        }
        len += 8;
    }
    while (len < limit && a[len] == b[len])
        ++len;
    return len;
}

inline unsigned Log2(unsigned v) {
    return 31 - static_cast<unsigned>(std::countl_zero(v | 1));
}

// How good a match is: its length, less a little for the distance's extra bits.
inline int MatchScore(unsigned length, unsigned distance) {
    return static_cast<int>(4 * length) - static_cast<int>(Log2(distance));
}

enum class Parse { Greedy, Lazy, Optimal };

struct Strength {
    Parse parse;
    bool hash3;           // look for length-3 matches
    bool insertAll;       // insert every position inside a match
    unsigned depth;       // candidates examined per search
    unsigned nice;        // a match this long ends the search (optimal: and skips the positions it covers)
    unsigned lazyCutoff;  // a match this long is taken without looking further
};

constexpr Strength kStrengths[4] = {
    /* S */ {Parse::Greedy, false, false, 2, 32, 0},
    /* F */ {Parse::Greedy, false, true, 6, 32, 0},
    /* N */ {Parse::Lazy, true, true, 24, 96, 64},
    /* X */ {Parse::Optimal, true, true, 48, 96, 0},
};

// The optimal parse works on segments of this many positions.
constexpr size_t kOptSegment = 16384;
constexpr size_t kOptMaxMatches = kOptSegment * 12;  // match candidates kept per segment
constexpr unsigned kOptPerPosition = 24;             // ... and per position
constexpr unsigned kCostScale = 16;                  // costs are in sixteenths of a bit

// Huffman code lengths for `n` symbols with the given frequencies, limited to maxLength bits. At least two
// symbols get a code (with fewer than two in use, codes of one bit are given to make a complete code, as
// every decoder accepts).
void BuildLengths(const uint32_t* freq, unsigned n, unsigned maxLength, uint8_t* lengths) {
    std::fill(lengths, lengths + n, 0);
    uint32_t sorted[kNumLitLen];  // frequency << 9 | symbol, ascending
    unsigned m = 0;
    for (unsigned s = 0; s < n; ++s)
        if (freq[s]) sorted[m++] = (std::min<uint32_t>(freq[s], 0x7FFFFF) << 9) | s;
    if (m < 2) {
        const unsigned used = m ? sorted[0] & 0x1FF : 0;
        lengths[used] = 1;
        lengths[used ? 0 : 1] = 1;
        return;
    }
    std::sort(sorted, sorted + m);

    // Two-queue Huffman: leaves in ascending order, internal nodes created in ascending order.
    uint32_t weight[2 * kNumLitLen];
    uint16_t parent[2 * kNumLitLen];
    for (unsigned i = 0; i < m; ++i)
        weight[i] = sorted[i] >> 9;
    unsigned leaf = 0, inner = m;
    auto take = [&](unsigned made) {
        if (leaf < m && (inner >= made || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    for (unsigned made = m; made < 2 * m - 1; ++made) {
        const unsigned a = take(made);
        const unsigned b = take(made);
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<uint16_t>(made);
    }
    uint8_t depth[2 * kNumLitLen];
    depth[2 * m - 2] = 0;
    unsigned count[kMaxCodeLength + 2] = {};
    bool overflow = false;
    for (unsigned i = 2 * m - 2; i-- > 0;) {
        depth[i] = static_cast<uint8_t>(depth[parent[i]] + 1);
        if (i < m) {
            unsigned d = depth[i];
            if (d > maxLength) {
                d = maxLength;
                overflow = true;
            }
            ++count[d];
        }
    }
    if (!overflow) {
        for (unsigned i = 0; i < m; ++i)
            lengths[sorted[i] & 0x1FF] = depth[i];
        return;
    }
    // Too deep: the clamped leaves over-fill the code space. Each step moves a leaf from the deepest level
    // below the limit one level down and gives it a clamped leaf as its sibling, which frees one slot at the
    // limit, until the code is exactly full again.
    uint64_t kraft = 0;
    for (unsigned len = 1; len <= maxLength; ++len)
        kraft += uint64_t{count[len]} << (maxLength - len);
    for (; kraft > (uint64_t{1} << maxLength); --kraft) {
        unsigned len = maxLength - 1;
        while (count[len] == 0)
            --len;
        --count[len];
        count[len + 1] += 2;
        --count[maxLength];
    }
    // The least frequent symbols take the longest codes.
    unsigned i = 0;
    for (unsigned len = maxLength; len >= 1; --len)
        for (unsigned k = 0; k < count[len]; ++k)
            lengths[sorted[i++] & 0x1FF] = static_cast<uint8_t>(len);
}

inline uint32_t ReverseBits(uint32_t code, unsigned length) {
    uint32_t r = 0;
    for (unsigned i = 0; i < length; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

// Canonical codes for the given lengths, bit-reversed because bits leave least significant first.
void BuildCodes(const uint8_t* lengths, unsigned n, uint16_t* codes) {
    unsigned count[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < n; ++s)
        ++count[lengths[s]];
    count[0] = 0;
    uint32_t next[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned s = 0; s < n; ++s)
        codes[s] = lengths[s] ? static_cast<uint16_t>(ReverseBits(next[lengths[s]]++, lengths[s])) : 0;
}

struct FixedCodes {
    uint8_t litLengths[kNumLitLen];
    uint8_t distLengths[kNumDist];
    uint16_t litCodes[kNumLitLen];
    uint16_t distCodes[kNumDist];
    FixedCodes() {
        std::fill(litLengths, litLengths + 144, 8);
        std::fill(litLengths + 144, litLengths + 256, 9);
        std::fill(litLengths + 256, litLengths + 280, 7);
        std::fill(litLengths + 280, litLengths + 288, 8);
        std::fill(distLengths, distLengths + kNumDist, 5);
        BuildCodes(litLengths, kNumLitLen, litCodes);
        BuildCodes(distLengths, kNumDist, distCodes);
    }
};

const FixedCodes& Fixed() {
    static const FixedCodes fixed;
    return fixed;
}

// Symbol classes the block splitter counts: eight literal byte ranges, short and long matches.
constexpr unsigned kObsTypes = 10;
constexpr unsigned kObsPerCheck = 512;
constexpr size_t kMinSplitLength = 8192;

}  // namespace

struct DeflateEncoder::State {
    // Input: history, current block and lookahead.
    uint8_t buf[kBufferSize + kBufferSlack];
    size_t pos = 0;         // next byte to parse
    size_t end = 0;         // end of the bytes read
    size_t blockStart = 0;  // first byte of the current block
    size_t nextInsert = 0;  // positions below this are in the match finder
    bool eof = false;
    uint64_t consumed = 0;  // bytes read from the source
    uint64_t dropped = 0;   // bytes slid out of the front of buf

    // Match finder: positions are indices into buf.
    int32_t head[1u << kHashBits];
    int32_t head3[1u << kHash3Bits];
    int32_t prev[kWindow];

    // The current block: one item per symbol (a literal byte, or 1 << 31 | length << 16 | distance - 1).
    uint32_t items[kMaxItems];
    size_t numItems = 0;
    uint32_t litFreq[kNumLitLen];
    uint32_t distFreq[kNumDist];

    // Block splitting statistics.
    uint32_t obsBlock[kObsTypes];
    uint32_t obsNew[kObsTypes];
    uint32_t obsBlockTotal = 0;
    uint32_t obsNewTotal = 0;
    bool splitNow = false;

    // Output.
    uint8_t out[kOutSize + kOutSlack];
    size_t outPos = 0;
    uint64_t bitbuf = 0;
    unsigned bitcount = 0;
    uint64_t produced = 0;
    ByteSink* sink = nullptr;

    // Codes of the block being written.
    uint8_t litLengths[kNumLitLen];
    uint8_t distLengths[kNumDist];
    uint16_t litCodes[kNumLitLen];
    uint16_t distCodes[kNumDist];

    void Reset();
    void ResetBlockStats();

    // Input.
    bool Refill(ByteSource& source);
    void Slide();

    // Match finding.
    void Insert(size_t p, bool hash3);
    void InsertUpTo(size_t upTo, const Strength& st);
    template <bool kCollect = false>
    unsigned FindMatch(size_t p, const Strength& st, unsigned best, unsigned depth, unsigned* distance,
                       uint32_t* list = nullptr, unsigned* count = nullptr);

    // Parsing into items.
    void Literal(uint8_t b);
    void Match(unsigned length, unsigned distance);
    void Observe(unsigned type);
    bool BlockFull() const {
        return splitNow || numItems + kBlockMargin >= kMaxItems ||
               pos - blockStart + kBlockMargin >= kMaxBlockLength;
    }
    void ParseGreedy(size_t limit, const Strength& st);
    void ParseLazy(size_t limit, const Strength& st);
    void ParseOptimal(size_t limit, const Strength& st);

    // Optimal parse: per segment, the candidate matches of every position (length << 16 | distance - 1),
    // the cheapest cost from each position to the segment's end and the choice that achieves it.
    struct Optimal {
        std::vector<uint32_t> first, matches, cost, choice;
        uint32_t litCost[256];
        uint32_t lengthCost[kMaxMatch + 1];
        uint32_t distCost[30];
        bool modelReady = false;
    };
    std::unique_ptr<Optimal> opt;
    void SetCostModel(const uint32_t* litLenFreq, const uint32_t* distFreqs);
    void ModelFromChoices(size_t start, size_t n);
    void CheapestPath(size_t start, size_t n);

    // Output.
    void PutBits(uint32_t value, unsigned n) {
        bitbuf |= uint64_t{value} << bitcount;
        bitcount += n;
    }
    // Moves the whole bytes of the bit buffer to the output (the count never exceeds 63).
    void FlushBits() {
        uint64_t le = bitbuf;
        if constexpr (std::endian::native == std::endian::big) le = __builtin_bswap64(le);
        std::memcpy(out + outPos, &le, 8);
        outPos += bitcount >> 3;
        bitbuf >>= bitcount & ~7u;
        bitcount &= 7;
        if (outPos >= kOutSize - 64) DrainOutput();
    }
    void AlignToByte() {
        bitcount = (bitcount + 7) & ~7u;
        FlushBits();
    }
    void DrainOutput() {
        if (outPos) {
            sink->Write(out, outPos);
            produced += outPos;
            outPos = 0;
        }
    }
    void FlushBlock(bool final);
    void WriteStored(const uint8_t* data, size_t length, bool final);
    void WriteSymbols(const uint8_t* litLen, const uint16_t* litCode, const uint8_t* distLen,
                      const uint16_t* distCode);
};

void DeflateEncoder::State::Reset() {
    pos = end = blockStart = nextInsert = 0;
    eof = false;
    consumed = dropped = 0;
    std::fill(std::begin(head), std::end(head), kNoPos);
    std::fill(std::begin(prev), std::end(prev), kNoPos);
    std::fill(std::begin(head3), std::end(head3), kNoPos);
    outPos = 0;
    bitbuf = 0;
    bitcount = 0;
    produced = 0;
    if (opt) opt->modelReady = false;
    ResetBlockStats();
}

void DeflateEncoder::State::ResetBlockStats() {
    numItems = 0;
    std::fill(std::begin(litFreq), std::end(litFreq), 0);
    std::fill(std::begin(distFreq), std::end(distFreq), 0);
    std::fill(std::begin(obsBlock), std::end(obsBlock), 0);
    std::fill(std::begin(obsNew), std::end(obsNew), 0);
    obsBlockTotal = obsNewTotal = 0;
    splitNow = false;
}

// Drops everything before the history of the current block and rebases the match finder. The shift is a
// whole number of windows so that positions keep their slots in the ring of chain links.
void DeflateEncoder::State::Slide() {
    if (blockStart < 2 * kWindow) return;
    const size_t shift = (blockStart - kWindow) & ~size_t{kWindow - 1};
    std::memmove(buf, buf + shift, end - shift);
    pos -= shift;
    end -= shift;
    blockStart -= shift;
    nextInsert -= shift;
    dropped += shift;
    const int32_t s = static_cast<int32_t>(shift);
    auto rebase = [s](int32_t& v) { v = v >= s ? v - s : kNoPos; };
    std::for_each(std::begin(head), std::end(head), rebase);
    std::for_each(std::begin(head3), std::end(head3), rebase);
    std::for_each(std::begin(prev), std::end(prev), rebase);
}

// Reads until the parser has its lookahead or the source has ended. False when nothing new arrived.
bool DeflateEncoder::State::Refill(ByteSource& source) {
    bool got = false;
    while (!eof && end - pos < kLookahead + kReadPiece / 2) {
        if (kBufferSize - end < kReadPiece) {
            Slide();
            if (kBufferSize - end < kReadPiece) break;  // the lookahead is already long
        }
        const size_t n = source.Read(buf + end, kReadPiece);
        if (n == 0) {
            eof = true;
            break;
        }
        end += n;
        consumed += n;
        got = true;
    }
    // Zero bytes after the data make the word loads of the match finder deterministic.
    std::memset(buf + end, 0, kBufferSlack);
    return got;
}

inline void DeflateEncoder::State::Insert(size_t p, bool hash3) {
    const int32_t ip = static_cast<int32_t>(p);
    if (hash3) head3[Hash3(buf + p)] = ip;
    const uint32_t h = Hash4(buf + p);
    prev[p & (kWindow - 1)] = head[h];
    head[h] = ip;
}

// Inserts the positions from nextInsert up to (not including) upTo, as far as four bytes are readable.
void DeflateEncoder::State::InsertUpTo(size_t upTo, const Strength& st) {
    const size_t last = std::min(upTo, end >= 4 ? end - 3 : 0);
    for (size_t p = nextInsert; p < last; ++p)
        Insert(p, st.hash3);
    nextInsert = std::max(nextInsert, upTo);
}

// Searches for a match at p longer than `best` (inserting p first when it is not yet in the finder).
// Returns the length found (or `best` when none is longer) and its distance.
// With kCollect, every improvement is also appended to list (at most kOptPerPosition entries), and
// length-3 candidates are kept at any distance.
template <bool kCollect>
unsigned DeflateEncoder::State::FindMatch(size_t p, const Strength& st, unsigned best, unsigned depth,
                                          unsigned* distance, uint32_t* list, unsigned* count) {
    const size_t avail = end - p;
    if (avail < 4) return best;
    const unsigned limit = static_cast<unsigned>(std::min<size_t>(avail, kMaxMatch));
    const uint8_t* const cur = buf + p;
    const int32_t ip = static_cast<int32_t>(p);
    const int32_t lowest = ip - static_cast<int32_t>(kWindow);
    int32_t cand;
    const uint32_t h = Hash4(cur);
    if (p >= nextInsert) {
        if (st.hash3) {
            const uint32_t h3 = Hash3(cur);
            const int32_t c3 = head3[h3];
            head3[h3] = ip;
            const int32_t far = kCollect ? static_cast<int32_t>(kWindow) : static_cast<int32_t>(kFarLength3);
            if (best < 3 && c3 >= ip - far && Same3(buf + c3, cur)) {
                best = 3;
                *distance = static_cast<unsigned>(ip - c3);
                if constexpr (kCollect) list[(*count)++] = (3u << 16) | (*distance - 1);
            }
        }
        cand = head[h];
        prev[p & (kWindow - 1)] = cand;
        head[h] = ip;
        nextInsert = p + 1;
    } else {
        cand = prev[p & (kWindow - 1)];
    }
    if (best >= limit) return best;
    const unsigned nice = std::min(st.nice, limit);
    const uint32_t first4 = Load32(cur);
    for (unsigned d = depth; d > 0 && cand >= lowest; --d) {
        const uint8_t* const c = buf + cand;
        // The bytes ending at the current best length must match for the candidate to be longer.
        const unsigned tail = best >= 4 ? best - 3 : 0;
        if (Load32(c + tail) == Load32(cur + tail) && Load32(c) == first4) {
            const unsigned len = MatchLength(c, cur, 4, limit);
            if (len > best) {
                best = len;
                *distance = static_cast<unsigned>(ip - cand);
                if constexpr (kCollect) {
                    if (*count == kOptPerPosition) --*count;  // full: the longer match replaces the last
                    list[(*count)++] = (len << 16) | (*distance - 1);
                }
                if (len >= nice) break;
            }
        }
        // A candidate a whole window back shares its link slot with p: the chain ends there.
        if (cand == lowest) break;
        cand = prev[static_cast<size_t>(cand) & (kWindow - 1)];
    }
    return best;
}

inline void DeflateEncoder::State::Observe(unsigned type) {
    ++obsNew[type];
    if (++obsNewTotal < kObsPerCheck) return;
    // Compare the new stretch's class distribution with the block's: sum |new_i / N - block_i / T| in
    // units of 1 / (N T). A difference of a half ends the block (less in a long block).
    if (obsBlockTotal && pos - blockStart >= kMinSplitLength) {
        uint64_t delta = 0;
        for (unsigned i = 0; i < kObsTypes; ++i) {
            const uint64_t a = uint64_t{obsNew[i]} * obsBlockTotal, b = uint64_t{obsBlock[i]} * obsNewTotal;
            delta += a > b ? a - b : b - a;
        }
        // The longer the block, the smaller the difference that is worth a new block's header.
        const uint64_t scale = uint64_t{obsNewTotal} * obsBlockTotal;
        const uint64_t lengthBonus = (pos - blockStart) / 16384 * scale / 64;
        if (delta * 8 + lengthBonus * 8 >= scale * 4) {
            splitNow = true;
            return;
        }
    }
    for (unsigned i = 0; i < kObsTypes; ++i) {
        obsBlock[i] += obsNew[i];
        obsNew[i] = 0;
    }
    obsBlockTotal += obsNewTotal;
    obsNewTotal = 0;
}

inline void DeflateEncoder::State::Literal(uint8_t b) {
    items[numItems++] = b;
    ++litFreq[b];
    Observe(b >> 5);
}

inline void DeflateEncoder::State::Match(unsigned length, unsigned distance) {
    items[numItems++] = (1u << 31) | (length << 16) | (distance - 1);
    ++litFreq[257 + kSlots.length[length]];
    ++distFreq[DistSlot(distance - 1)];
    Observe(length < 9 ? 8 : 9);
}

void DeflateEncoder::State::ParseGreedy(size_t limit, const Strength& st) {
    while (pos < limit && !BlockFull()) {
        unsigned distance = 0;
        const unsigned len = FindMatch(pos, st, kMinMatch - 1, st.depth, &distance);
        if (len >= kMinMatch) {
            Match(len, distance);
            if (st.insertAll) InsertUpTo(pos + len, st);
            pos += len;
            nextInsert = std::max(nextInsert, pos);
        } else {
            Literal(buf[pos]);
            ++pos;
        }
    }
}

void DeflateEncoder::State::ParseLazy(size_t limit, const Strength& st) {
    while (pos < limit && !BlockFull()) {
        unsigned dist = 0;
        unsigned len = FindMatch(pos, st, kMinMatch - 1, st.depth, &dist);
        if (len < kMinMatch) {
            Literal(buf[pos]);
            ++pos;
            continue;
        }
        // Look one position ahead for a better match; each better one found turns the current position
        // into a literal.
        while (len < st.lazyCutoff && pos + 1 < end) {
            unsigned d1 = 0;
            // The longer the match in hand, the shorter the search for a better one.
            const unsigned depth = len >= 16 ? st.depth / 4 : len >= 8 ? st.depth / 2 : st.depth;
            const unsigned l1 = FindMatch(pos + 1, st, len, depth, &d1);
            if (l1 <= len || MatchScore(l1, d1) <= MatchScore(len, dist)) break;
            Literal(buf[pos]);
            ++pos;
            len = l1;
            dist = d1;
        }
        Match(len, dist);
        InsertUpTo(pos + len, st);
        pos += len;
    }
}

// Costs (in sixteenths of a bit) of a code in which each symbol takes -log2 of its share, smoothed so that
// unseen symbols cost a little more than the rarest seen one, clamped to the 1..15 bits codes can have.
void DeflateEncoder::State::SetCostModel(const uint32_t* litLenFreq, const uint32_t* distFreqs) {
    auto costs = [](const uint32_t* freq, unsigned n, uint32_t* result) {
        double total = 0;
        for (unsigned s = 0; s < n; ++s)
            total += freq[s] + 0.5;
        for (unsigned s = 0; s < n; ++s) {
            const double bits = std::log2(total / (freq[s] + 0.5));
            result[s] = static_cast<uint32_t>(std::clamp(bits, 1.0, 15.0) * kCostScale + 0.5);
        }
    };
    uint32_t litLen[286];
    costs(litLenFreq, 286, litLen);
    std::copy_n(litLen, 256, opt->litCost);
    for (unsigned len = kMinMatch; len <= kMaxMatch; ++len) {
        const unsigned slot = kSlots.length[len];
        opt->lengthCost[len] = litLen[257 + slot] + kLengthExtra[slot] * kCostScale;
    }
    uint32_t dist[30];
    costs(distFreqs, 30, dist);
    for (unsigned slot = 0; slot < 30; ++slot)
        opt->distCost[slot] = dist[slot] + kDistExtra[slot] * kCostScale;
    opt->modelReady = true;
}

// The cost model of the symbols the current choices of a segment would emit.
void DeflateEncoder::State::ModelFromChoices(size_t start, size_t n) {
    uint32_t litLen[286] = {}, dist[30] = {};
    litLen[kEndOfBlock] = 1;
    for (size_t i = 0; i < n;) {
        const uint32_t c = opt->choice[i];
        const unsigned len = c >> 16;
        if (len == 0) {
            ++litLen[buf[start + i]];
            ++i;
        } else {
            ++litLen[257 + kSlots.length[len]];
            ++dist[DistSlot(c & 0xFFFF)];
            i += len;
        }
    }
    SetCostModel(litLen, dist);
}

// Chooses, from the end of the segment backwards, the cheapest way on from each position: a literal, or
// any length up to each candidate's at that candidate's distance (a shorter length is always available
// at the distance of the shortest candidate that reaches it).
void DeflateEncoder::State::CheapestPath(size_t start, size_t n) {
    Optimal& o = *opt;
    o.cost[n] = 0;
    for (size_t i = n; i-- > 0;) {
        uint32_t best = o.litCost[buf[start + i]] + o.cost[i + 1];
        uint32_t choice = 0;
        unsigned done = kMinMatch - 1;
        const unsigned reach = static_cast<unsigned>(std::min<size_t>(n - i, kMaxMatch));
        for (uint32_t k = o.first[i]; k < o.first[i + 1] && done < reach; ++k) {
            const uint32_t m = o.matches[k];
            const unsigned top = std::min(m >> 16, reach);
            const uint32_t distCost = o.distCost[DistSlot(m & 0xFFFF)];
            for (unsigned len = done + 1; len <= top; ++len) {
                const uint32_t c = o.lengthCost[len] + distCost + o.cost[i + len];
                if (c < best) {
                    best = c;
                    choice = (len << 16) | (m & 0xFFFF);
                }
            }
            done = std::max(done, top);
        }
        o.cost[i] = best;
        o.choice[i] = choice;
    }
}

// Near-optimal parse: the candidates of every position of a segment are collected first, then the
// cheapest path through them is found under a cost model taken from the symbols the previous segment
// emitted, then again under the model of that first path, and emitted.
void DeflateEncoder::State::ParseOptimal(size_t limit, const Strength& st) {
    if (!opt) {
        opt = std::make_unique<Optimal>();
        opt->first.resize(kOptSegment + 1);
        opt->matches.resize(kOptMaxMatches + kOptPerPosition);
        opt->cost.resize(kOptSegment + 1);
        opt->choice.resize(kOptSegment);
    }
    Optimal& o = *opt;
    while (pos < limit && !BlockFull()) {
        const size_t start = pos;
        // Whole segments while the source has more, so that the output does not depend on its reads.
        size_t n = std::min(kOptSegment, blockStart + kMaxBlockLength - kBlockMargin - start);
        if (limit - start < n) {
            if (!eof) return;
            n = limit - start;
        }
        uint32_t count = 0;
        size_t skipTo = 0;
        for (size_t i = 0; i < n; ++i) {
            o.first[i] = count;
            const size_t p = start + i;
            if (p < skipTo || count >= kOptMaxMatches) {
                if (p >= nextInsert) {
                    if (end - p >= 4) Insert(p, st.hash3);
                    nextInsert = p + 1;
                }
                continue;
            }
            unsigned dist = 0, found = 0;
            const unsigned len =
                FindMatch<true>(p, st, kMinMatch - 1, st.depth, &dist, o.matches.data() + count, &found);
            count += found;
            if (len >= st.nice) skipTo = p + len;
        }
        o.first[n] = count;

        if (!o.modelReady) {
            // A neutral start: literals of 8 bits, lengths and distances by their extra bits.
            uint32_t litLen[286], dist[30];
            std::fill_n(litLen, 286, 1u);
            std::fill_n(dist, 30, 1u);
            std::fill_n(litLen, 256, 4u);
            SetCostModel(litLen, dist);
        }
        CheapestPath(start, n);
        ModelFromChoices(start, n);
        CheapestPath(start, n);
        for (size_t i = 0; i < n;) {
            const uint32_t c = o.choice[i];
            const unsigned len = c >> 16;
            pos = start + i;  // the block splitter measures the block up to here
            if (len == 0) {
                Literal(buf[pos]);
                ++i;
            } else {
                Match(len, (c & 0xFFFF) + 1);
                i += len;
            }
        }
        pos = start + n;
        ModelFromChoices(start, n);
    }
}

void DeflateEncoder::State::WriteStored(const uint8_t* data, size_t length, bool final) {
    do {
        const size_t n = std::min<size_t>(length, 65535);
        length -= n;
        PutBits(final && length == 0 ? 1 : 0, 3);
        AlignToByte();
        PutBits(static_cast<uint32_t>(n) | (static_cast<uint32_t>(n ^ 0xFFFF) << 16), 32);
        FlushBits();
        DrainOutput();
        if (n) {
            sink->Write(data, n);
            produced += n;
        }
        data += n;
    } while (length);
}

void DeflateEncoder::State::WriteSymbols(const uint8_t* litLen, const uint16_t* litCode,
                                         const uint8_t* distLen, const uint16_t* distCode) {
    // Per block: each length's code and extra bits in one value.
    uint32_t lengthBits[kMaxMatch + 1];
    uint8_t lengthCount[kMaxMatch + 1];
    for (unsigned len = kMinMatch; len <= kMaxMatch; ++len) {
        const unsigned slot = kSlots.length[len];
        const unsigned sym = 257 + slot;
        lengthBits[len] = litCode[sym] | ((len - kLengthBase[slot]) << litLen[sym]);
        lengthCount[len] = static_cast<uint8_t>(litLen[sym] + kLengthExtra[slot]);
    }
    for (size_t i = 0; i < numItems; ++i) {
        const uint32_t item = items[i];
        if (!(item >> 31)) {
            PutBits(litCode[item], litLen[item]);
            // A second literal fits as well: at most 7 + 15 + 15 bits.
            if (i + 1 < numItems && !(items[i + 1] >> 31)) {
                const uint32_t next = items[++i];
                PutBits(litCode[next], litLen[next]);
            }
        } else {
            const unsigned len = (item >> 16) & 0x1FF;
            const unsigned d = item & 0xFFFF;
            const unsigned slot = DistSlot(d);
            PutBits(lengthBits[len], lengthCount[len]);
            PutBits(distCode[slot] | ((d + 1 - kDistBase[slot]) << distLen[slot]),
                    distLen[slot] + kDistExtra[slot]);
        }
        FlushBits();
    }
    PutBits(litCode[kEndOfBlock], litLen[kEndOfBlock]);
    FlushBits();
}

void DeflateEncoder::State::FlushBlock(bool final) {
    const size_t rawLength = pos - blockStart;
    litFreq[kEndOfBlock] = 1;

    BuildLengths(litFreq, 286, kMaxCodeLength, litLengths);
    litLengths[286] = litLengths[287] = 0;
    BuildLengths(distFreq, 30, kMaxCodeLength, distLengths);
    distLengths[30] = distLengths[31] = 0;

    unsigned numLit = 286, numDist = 30;
    while (numLit > 257 && litLengths[numLit - 1] == 0)
        --numLit;
    while (numDist > 1 && distLengths[numDist - 1] == 0)
        --numDist;

    // The code-length sequence, run-length coded: each entry is a code-length symbol and its extra value.
    uint8_t all[kNumLitLen + kNumDist];
    std::memcpy(all, litLengths, numLit);
    std::memcpy(all + numLit, distLengths, numDist);
    const unsigned total = numLit + numDist;
    uint16_t runs[kNumLitLen + kNumDist];
    unsigned numRuns = 0;
    uint32_t preFreq[19] = {};
    auto emit = [&](unsigned sym, unsigned extra) {
        runs[numRuns++] = static_cast<uint16_t>(sym | (extra << 5));
        ++preFreq[sym];
    };
    for (unsigned i = 0; i < total;) {
        const uint8_t len = all[i];
        unsigned run = 1;
        while (i + run < total && all[i + run] == len)
            ++run;
        i += run;
        if (len == 0) {
            while (run >= 11) {
                const unsigned r = std::min(run, 138u);
                emit(18, r - 11);
                run -= r;
            }
            if (run >= 3) {
                emit(17, run - 3);
                run = 0;
            }
        } else {
            emit(len, 0);
            --run;
            while (run >= 3) {
                const unsigned r = std::min(run, 6u);
                emit(16, r - 3);
                run -= r;
            }
        }
        for (; run; --run)
            emit(len, 0);
    }
    uint8_t preLengths[19];
    uint16_t preCodes[19];
    BuildLengths(preFreq, 19, kMaxPrecodeLength, preLengths);
    BuildCodes(preLengths, 19, preCodes);
    unsigned numPre = 19;
    while (numPre > 4 && preLengths[kPrecodeOrder[numPre - 1]] == 0)
        --numPre;

    // Exact sizes of the three forms.
    uint64_t extraBits = 0, dynamicBits = 0, fixedBits = 0;
    const FixedCodes& fixed = Fixed();
    for (unsigned s = 0; s < 286; ++s) {
        dynamicBits += uint64_t{litFreq[s]} * litLengths[s];
        fixedBits += uint64_t{litFreq[s]} * fixed.litLengths[s];
        if (s >= 257) extraBits += uint64_t{litFreq[s]} * kLengthExtra[s - 257];
    }
    for (unsigned s = 0; s < 30; ++s) {
        dynamicBits += uint64_t{distFreq[s]} * distLengths[s];
        fixedBits += uint64_t{distFreq[s]} * 5;
        extraBits += uint64_t{distFreq[s]} * kDistExtra[s];
    }
    dynamicBits += extraBits + 3 + 5 + 5 + 4 + 3 * numPre;
    for (unsigned s = 0; s < 19; ++s)
        dynamicBits += uint64_t{preFreq[s]} * (preLengths[s] + kPrecodeExtra[s]);
    fixedBits += extraBits + 3;
    const uint64_t storedPieces = std::max<uint64_t>(1, (rawLength + 65534) / 65535);
    const uint64_t storedBits = uint64_t{rawLength} * 8 + storedPieces * 40;

    if (storedBits < std::min(dynamicBits, fixedBits)) {
        WriteStored(buf + blockStart, rawLength, final);
    } else if (fixedBits <= dynamicBits) {
        PutBits(final ? 3 : 2, 3);  // final bit, type 1
        WriteSymbols(fixed.litLengths, fixed.litCodes, fixed.distLengths, fixed.distCodes);
    } else {
        BuildCodes(litLengths, kNumLitLen, litCodes);
        BuildCodes(distLengths, kNumDist, distCodes);
        PutBits((final ? 5 : 4) | ((numLit - 257) << 3) | ((numDist - 1) << 8) | ((numPre - 4) << 13), 17);
        FlushBits();
        for (unsigned i = 0; i < numPre; ++i) {
            PutBits(preLengths[kPrecodeOrder[i]], 3);
            FlushBits();
        }
        for (unsigned i = 0; i < numRuns; ++i) {
            const unsigned sym = runs[i] & 31;
            PutBits(preCodes[sym], preLengths[sym]);
            PutBits(runs[i] >> 5, kPrecodeExtra[sym]);
            FlushBits();
        }
        WriteSymbols(litLengths, litCodes, distLengths, distCodes);
    }
    ResetBlockStats();
    blockStart = pos;
}

uint16_t DeflateFlagBits(TDeflateType type) {
    switch (type) {
        case dtDeflateS:
            return 6;
        case dtDeflateF:
            return 4;
        case dtDeflateX:
            return 2;
        case dtDeflateN:
            break;
    }
    return 0;
}

DeflateEncoder::DeflateEncoder(TDeflateType type) : type_(type) {}
DeflateEncoder::~DeflateEncoder() = default;

void DeflateEncoder::Release() {
    state_.reset();
}

DecodeResult DeflateEncoder::Encode(ByteSource& source, ByteSink& sink, const CancelFlag* cancel) {
    if (!state_) state_ = std::make_unique_for_overwrite<State>();
    State& s = *state_;
    s.Reset();
    s.sink = &sink;
    const unsigned index = static_cast<unsigned>(type_) < 4 ? static_cast<unsigned>(type_) : 2;
    const Strength& st = kStrengths[index];

    bool cancelled = false;
    for (;;) {
        if (IsCancelled(cancel)) {
            cancelled = true;
            break;
        }
        s.Refill(source);
        const size_t limit = s.eof ? s.end : s.end - std::min(s.end, kLookahead);
        if (st.parse == Parse::Optimal)
            s.ParseOptimal(limit, st);
        else if (st.parse == Parse::Lazy)
            s.ParseLazy(limit, st);
        else
            s.ParseGreedy(limit, st);
        if (s.eof && s.pos >= s.end) break;
        if (s.BlockFull()) s.FlushBlock(false);
    }
    s.FlushBlock(true);
    s.AlignToByte();
    s.DrainOutput();
    s.sink = nullptr;
    const uint64_t consumed = s.consumed;
    const uint64_t produced = s.produced;
    if (cancelled) return MakeResult(DecodeStatus::Cancelled, E_UserCanceled, produced, s.dropped + s.pos);
    return MakeResult(DecodeStatus::Ok, 0, produced, consumed);
}

std::vector<uint8_t> DeflateBuffer(std::span<const uint8_t> data, TDeflateType type) {
    MemorySource source(data);
    VectorSink sink;
    DeflateEncoder encoder(type);
    encoder.Encode(source, sink);
    return std::move(sink.Data());
}

}  // namespace varnok
