// The -lh5- family encoder: hash-chain LZ77 with lazy matching, block-wise static Huffman codes.
//
// Match finding. The window is one buffer: the dictionary behind the current position, a piece of new
// input and the look-ahead of one longest match. Every position is hashed on its first three bytes
// (the shortest match) and pushed on a chain through `prev`, indexed by buffer position, so the
// dictionary size need not be a power of two (ARJ's 26,624 bytes works too). The chains are walked
// newest first, so of equally long matches the nearest one is kept, whose position code is the
// cheapest. When the position nears the buffer's end the buffer slides down by one piece and the
// chain links are rebased in the same pass; links that fall out of the buffer become 0 (none).
// Lazy matching, as in the common deflate compressors: a match is held back for one position and
// dropped for a literal when the next position has a longer one. The longest match of the format
// (256) is also the length at which a search stops. The trie of the classic LHA encoder finds the
// longest match exactly but is far more code and bookkeeping; a walk of at most 256 links per search
// already compresses a little better than jLHA's port of LHa (on 22 MB of documentation and
// programs: 0.3% smaller at -lh5-, 0.2% at -lh6-, 0.1% at -lh7-). Three-byte matches are taken at any
// distance: refusing far ones (as deflate compressors do) made the output larger here.
//
// Blocks. Symbols (a literal, or a length code with its distance) are kept in two arrays until the
// block holds 16,384 (the count field would allow 65,535, but smaller blocks follow the data's
// changes better: 0.1-0.2% smaller output than 32,768); then the three codes are built from the block's
// frequencies and the block is written. Code lengths are limited to 16 bits (the tables' limit): an
// ordinary Huffman tree is built first and, if it is deeper, the count of codes per length is
// corrected until the Kraft sum is exact again, and the lengths are handed out again by frequency.
//
// The code tables go out in the forms every reader of the family accepts: a code-length or position
// code of a single symbol (or of none) as a zero count followed by the symbol (a literal/length code
// of one symbol is sent as two 1-bit codes instead, see WriteBlock); the lengths of the code-length
// code with the 2-bit run of zeros after its third entry; the literal/length lengths through the
// code-length code with its three zero-run codes (one zero; 3 to 18 zeros; 20 or more zeros; a run
// of exactly 19 is one zero and a run of 18); lengths above 6 in the small tables as a unary tail.
//
// Output goes through an MSB-first bit accumulator into a 64 KiB buffer that is written to the sink
// when full. The not-smaller test (see the header) runs after every block.
#include "archive/codecs/static_huffman_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "archive/core/errors.h"

namespace varnok {

namespace {

constexpr int kNC = 510;      // 256 literals + lengths 3..256
constexpr int kCBit = 9;      // width of the literal/length count
constexpr int kNT = 19;       // code-length code symbols
constexpr int kTBit = 5;      // width of the code-length code count
constexpr int kMaxBits = 16;  // longest code the tables take
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;
constexpr int kLengthBias = 253;  // code 256 is a match of 3
constexpr int kMaxNP = 32;        // position codes of the widest dictionary a 5-bit count can name

constexpr size_t kBlockSymbols = 16384;       // symbols per block (the count field allows 65535)
constexpr size_t kPiece = 64 * 1024;          // input read and slid per step (at least the dictionary)
constexpr size_t kLookAhead = kMaxMatch + 2;  // bytes kept ahead of the position while input remains
constexpr size_t kPad = 8;                    // slack for the 8-byte compares at the buffer's end
constexpr int kHashBits = 16;
constexpr size_t kOutBuffer = 64 * 1024;
constexpr int kMaxChain = 256;   // chain links followed per search
constexpr int kGoodLength = 32;  // a held-back match this long: search a quarter of the chain
constexpr int kMaxLazy = 128;    // a held-back match this long is taken without looking further

inline uint32_t Hash3(const uint8_t* p) {
    const uint32_t v = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
}

// Length of the common prefix of a and b, at most `limit` (reads up to 7 bytes past it).
inline int CommonLength(const uint8_t* a, const uint8_t* b, int limit) {
    int n = 0;
    while (n < limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        const uint64_t d = x ^ y;
        if (d) {
            n += (std::endian::native == std::endian::little ? std::countr_zero(d) : std::countl_zero(d)) / 8;
            return std::min(n, limit);
        }
        n += 8;
    }
    return limit;
}

// The position code of a distance - 1: 0 for 0, else the bit length of the value.
inline int PositionCode(uint32_t d) {
    return d == 0 ? 0 : std::bit_width(d);
}

}  // namespace

int LimitedHuffmanLengths(const uint32_t* freq, int n, uint8_t* len) {
    if (n > kNC) throw std::invalid_argument("LimitedHuffmanLengths: too many symbols");
    std::fill(len, len + n, uint8_t{0});
    std::array<uint16_t, kNC> order;  // used symbols, least frequent first
    int m = 0;
    for (int s = 0; s < n; ++s)
        if (freq[s]) order[m++] = static_cast<uint16_t>(s);
    if (m < 2) return m;
    std::stable_sort(order.begin(), order.begin() + m,
                     [&](uint16_t a, uint16_t b) { return freq[a] < freq[b]; });

    // Huffman tree by the two-queue method: leaves 0..m-1 in frequency order, internal nodes m..2m-2
    // made in increasing weight order. A node's parent always has a higher index.
    std::array<uint64_t, 2 * kNC> weight;
    std::array<uint16_t, 2 * kNC> parent;
    for (int i = 0; i < m; ++i)
        weight[i] = freq[order[i]];
    int leaf = 0, inner = m;
    auto take = [&](int made) {
        if (leaf < m && (inner >= made || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    for (int made = m; made < 2 * m - 1; ++made) {
        const int a = take(made);
        const int b = take(made);
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<uint16_t>(made);
    }
    std::array<uint16_t, 2 * kNC> depth;
    depth[2 * m - 2] = 0;
    std::array<int, 64> count{};
    for (int i = 2 * m - 3; i >= 0; --i) {
        depth[i] = static_cast<uint16_t>(depth[parent[i]] + 1);
        if (i < m) ++count[std::min<int>(depth[i], kMaxBits)];
    }
    // Leaves deeper than the limit were counted at the limit: the Kraft sum is now too large. Each
    // round drops a code of the longest length and splits one of the next shorter length that has
    // codes into two one bit longer, which lowers the sum by one unit of 2^-16.
    uint32_t kraft = 0;
    for (int l = 1; l <= kMaxBits; ++l)
        kraft += static_cast<uint32_t>(count[l]) << (kMaxBits - l);
    while (kraft > (1u << kMaxBits)) {
        --count[kMaxBits];
        for (int l = kMaxBits - 1; l > 0; --l) {
            if (count[l]) {
                --count[l];
                count[l + 1] += 2;
                break;
            }
        }
        --kraft;
    }
    // The least frequent symbols get the longest codes.
    int i = 0;
    for (int l = kMaxBits; l > 0; --l)
        for (int k = count[l]; k > 0; --k)
            len[order[i++]] = static_cast<uint8_t>(l);
    return m;
}

namespace {

// LimitedHuffmanLengths, and *single = the one used symbol (or 0) when fewer than two are used.
int BuildLengths(const uint32_t* freq, int n, uint8_t* len, int* single) {
    const int m = LimitedHuffmanLengths(freq, n, len);
    *single = 0;
    if (m == 1)
        for (int s = 0; s < n; ++s)
            if (freq[s]) *single = s;
    return m;
}

// Canonical codes for the lengths: in order of length, then of symbol.
void MakeCodes(const uint8_t* len, int n, uint16_t* code) {
    std::array<int, kMaxBits + 2> count{};
    for (int s = 0; s < n; ++s)
        ++count[len[s]];
    count[0] = 0;
    std::array<uint32_t, kMaxBits + 2> next{};
    for (int l = 1; l <= kMaxBits; ++l)
        next[l] = (next[l - 1] + static_cast<uint32_t>(count[l - 1])) << 1;
    for (int s = 0; s < n; ++s)
        if (len[s]) code[s] = static_cast<uint16_t>(next[len[s]]++);
}

// Number of lengths up to the last non-zero one.
int TrimmedCount(const uint8_t* len, int n) {
    while (n > 0 && len[n - 1] == 0)
        --n;
    return n;
}

// The literal/length lengths as code-length symbols: f(symbol, extraBits, extraValue) for each.
template <class F>
void ForEachLengthToken(const uint8_t* len, int n, F&& f) {
    for (int i = 0; i < n;) {
        if (len[i]) {
            f(len[i] + 2, 0, 0u);
            ++i;
            continue;
        }
        int run = 0;
        while (i + run < n && len[i + run] == 0)
            ++run;
        i += run;
        if (run <= 2) {
            for (int k = 0; k < run; ++k)
                f(0, 0, 0u);
        } else if (run <= 18) {
            f(1, 4, static_cast<uint32_t>(run - 3));
        } else if (run == 19) {
            f(0, 0, 0u);
            f(1, 4, 15u);
        } else {
            f(2, kCBit, static_cast<uint32_t>(run - 20));
        }
    }
}

}  // namespace

struct StaticHuffmanEncoder::State {
    explicit State(const StaticHuffmanParams& p)
        : window(p.history),
          piece(std::max<size_t>(kPiece, p.history)),
          capacity(window + piece + kLookAhead),
          np(p.dicBit + 1),
          pBit(p.pBit),
          buf(capacity + kPad),
          prev(capacity),
          head(size_t{1} << kHashBits),
          litlen(kBlockSymbols),
          dist(kBlockSymbols),
          out(kOutBuffer + 8) {}

    // Parameters.
    size_t window;    // farthest distance a match may reach back
    size_t piece;     // input read, and slid out, per step
    size_t capacity;  // window + piece + look-ahead
    int np;
    int pBit;

    // Run.
    ByteSource* source = nullptr;
    ByteSink* sink = nullptr;
    StaticHuffmanEncoder::IfNotSmaller ifNotSmaller = StaticHuffmanEncoder::IfNotSmaller::Stop;
    uint64_t consumed = 0;  // bytes read
    uint64_t coded = 0;     // input bytes of the blocks written
    uint64_t produced = 0;  // bytes written to the sink
    bool eof = false;
    bool stopped = false;

    // Window and chains. Chain entries hold buffer position + 1; 0 is the end of a chain.
    std::vector<uint8_t> buf;
    std::vector<uint32_t> prev;
    std::vector<uint32_t> head;
    size_t pos = 0;
    size_t end = 0;

    // Block.
    std::vector<uint16_t> litlen;  // literal, or length code (256 + length - 3)
    std::vector<uint32_t> dist;    // distance - 1 of a length code
    size_t symbols = 0;
    uint64_t blockInput = 0;
    std::array<uint32_t, kNC> cFreq{};
    std::array<uint32_t, kMaxNP> pFreq{};
    std::array<uint8_t, kNC> cLen{};
    std::array<uint16_t, kNC> cCode{};
    std::array<uint8_t, kMaxNP> pLen{};
    std::array<uint16_t, kMaxNP> pCode{};
    std::array<uint32_t, kNT> tFreq{};
    std::array<uint8_t, kNT> tLen{};
    std::array<uint16_t, kNT> tCode{};

    // Output.
    std::vector<uint8_t> out;
    size_t outLen = 0;
    uint64_t bits = 0;
    int bitCount = 0;

    void Reset(ByteSource& src, ByteSink& snk, StaticHuffmanEncoder::IfNotSmaller mode) {
        source = &src;
        sink = &snk;
        ifNotSmaller = mode;
        consumed = coded = produced = 0;
        eof = stopped = false;
        std::fill(head.begin(), head.end(), 0u);
        pos = end = 0;
        symbols = 0;
        blockInput = 0;
        cFreq.fill(0);
        pFreq.fill(0);
        outLen = 0;
        bits = 0;
        bitCount = 0;
    }

    // ---- input ----

    // Reads until the buffer is full or the input ends, so that what is in the buffer never depends
    // on how the source splits its reads.
    void Fill() {
        while (end < capacity && !eof) {
            const size_t got = source->Read(buf.data() + end, capacity - end);
            if (got == 0) {
                eof = true;
                break;
            }
            end += got;
            consumed += got;
        }
    }

    void Slide() {
        const size_t s = piece;
        std::memmove(buf.data(), buf.data() + s, end - s);
        const uint32_t s32 = static_cast<uint32_t>(s);
        for (uint32_t& h : head)
            h = h > s32 ? h - s32 : 0;
        for (size_t i = 0; i + s < end; ++i) {
            const uint32_t v = prev[i + s];
            prev[i] = v > s32 ? v - s32 : 0;
        }
        pos -= s;
        end -= s;
    }

    // ---- match finding ----

    // Pushes position p (at least three bytes before the end) on its chain; returns the old head.
    uint32_t Insert(size_t p) {
        uint32_t& h = head[Hash3(buf.data() + p)];
        const uint32_t old = h;
        prev[p] = old;
        h = static_cast<uint32_t>(p + 1);
        return old;
    }

    // The longest match at pos longer than `best`, through the chain starting at `link`. Returns its
    // length (0 when there is none) and sets *distance.
    int LongestMatch(uint32_t link, int best, int limit, uint32_t* distance) {
        if (best >= limit) return 0;
        const uint8_t* const here = buf.data() + pos;
        const size_t lowest = pos > window ? pos - window : 0;
        int chain = best >= kGoodLength ? kMaxChain / 4 : kMaxChain;
        int found = 0;
        const int floor = std::max(best, kMinMatch - 1);
        int need = floor;  // a candidate must be longer than this
        while (link != 0 && chain-- > 0) {
            const size_t c = link - 1;
            if (c < lowest) break;
            const uint8_t* const there = buf.data() + c;
            if (there[need] == here[need] && there[0] == here[0] && there[1] == here[1]) {
                const int len = CommonLength(there, here, limit);
                if (len > need) {
                    found = len;
                    *distance = static_cast<uint32_t>(pos - c);
                    need = len;
                    if (len >= limit) break;
                }
            }
            link = prev[c];
        }
        return found;
    }

    // ---- output ----

    void FlushOut() {
        if (outLen) sink->Write(out.data(), outLen);
        produced += outLen;
        outLen = 0;
    }

    // Appends n bits (n <= 32), most significant first.
    void Put(uint32_t value, int n) {
        bits = (bits << n) | value;
        bitCount += n;
        if (bitCount >= 32) {
            bitCount -= 32;
            const uint32_t w = static_cast<uint32_t>(bits >> bitCount);
            out[outLen] = static_cast<uint8_t>(w >> 24);
            out[outLen + 1] = static_cast<uint8_t>(w >> 16);
            out[outLen + 2] = static_cast<uint8_t>(w >> 8);
            out[outLen + 3] = static_cast<uint8_t>(w);
            outLen += 4;
            if (outLen >= kOutBuffer) FlushOut();
        }
    }

    // Pads the last byte with zero bits and writes everything out.
    void FinishBits() {
        Put(0, (8 - bitCount % 8) % 8);
        while (bitCount >= 8) {
            bitCount -= 8;
            out[outLen++] = static_cast<uint8_t>(bits >> bitCount);
        }
        FlushOut();
    }

    uint64_t OutputSoFar() const { return produced + outLen + static_cast<unsigned>(bitCount + 7) / 8; }

    // Lengths of the code-length code or the position code: the count in `countBits` bits, then each
    // length in 3 bits, or 7 and a unary tail for 7 and more; after the third length of the
    // code-length code, a 2-bit count of the zero lengths that follow (up to three).
    void PutSmallLengths(const uint8_t* len, int n, int countBits, bool zeroRunAfterThird) {
        n = TrimmedCount(len, n);
        Put(static_cast<uint32_t>(n), countBits);
        for (int i = 0; i < n; ++i) {
            const int k = len[i];
            if (k <= 6)
                Put(static_cast<uint32_t>(k), 3);
            else
                Put((1u << (k - 3)) - 2, k - 3);
            if (zeroRunAfterThird && i == 2) {
                int z = 0;
                while (z < 3 && i + 1 + z < n && len[i + 1 + z] == 0)
                    ++z;
                Put(static_cast<uint32_t>(z), 2);
                i += z;
            }
        }
    }

    void WriteBlock() {
        const int nc = kNC;
        int cSingle = 0, tSingle = 0, pSingle = 0;
        Put(static_cast<uint32_t>(symbols), 16);
        if (BuildLengths(cFreq.data(), nc, cLen.data(), &cSingle) < 2) {
            // One symbol: sent as one of two 1-bit codes, the other (its neighbour) unused. The
            // format's one-symbol form of this table (a zero count and the symbol) costs no bits per
            // symbol, but libarchive (bsdtar 3.6) rejects it, while reading it for the other tables.
            cLen[static_cast<size_t>(cSingle)] = 1;
            cLen[static_cast<size_t>(cSingle ^ 1)] = 1;
        }
        const int n = TrimmedCount(cLen.data(), nc);
        tFreq.fill(0);
        ForEachLengthToken(cLen.data(), n, [&](int t, int, uint32_t) { ++tFreq[t]; });
        if (BuildLengths(tFreq.data(), kNT, tLen.data(), &tSingle) >= 2) {
            PutSmallLengths(tLen.data(), kNT, kTBit, true);
            MakeCodes(tLen.data(), kNT, tCode.data());
        } else {
            Put(0, kTBit);
            Put(static_cast<uint32_t>(tSingle), kTBit);
            tCode.fill(0);
        }
        Put(static_cast<uint32_t>(n), kCBit);
        ForEachLengthToken(cLen.data(), n, [&](int t, int extraBits, uint32_t extra) {
            Put(tCode[t], tLen[t]);
            if (extraBits) Put(extra, extraBits);
        });
        MakeCodes(cLen.data(), nc, cCode.data());
        if (BuildLengths(pFreq.data(), np, pLen.data(), &pSingle) >= 2) {
            PutSmallLengths(pLen.data(), np, pBit, false);
            MakeCodes(pLen.data(), np, pCode.data());
        } else {
            Put(0, pBit);
            Put(static_cast<uint32_t>(pSingle), pBit);
            pCode.fill(0);
        }
        // A code of one symbol has length 0: its symbols take no bits at all.
        for (size_t i = 0; i < symbols; ++i) {
            const uint32_t c = litlen[i];
            Put(cCode[c], cLen[c]);
            if (c >= 256) {
                const uint32_t d = dist[i];
                const int j = PositionCode(d);
                Put(pCode[j], pLen[j]);
                if (j > 1) Put(d & ((1u << (j - 1)) - 1), j - 1);
            }
        }
        coded += blockInput;
        blockInput = 0;
        symbols = 0;
        cFreq.fill(0);
        pFreq.fill(0);
        if (ifNotSmaller == StaticHuffmanEncoder::IfNotSmaller::Stop && OutputSoFar() >= coded)
            stopped = true;
    }

    void Literal(uint8_t b) {
        litlen[symbols] = b;
        ++cFreq[b];
        ++blockInput;
        if (++symbols == kBlockSymbols) WriteBlock();
    }

    void Match(int length, uint32_t distance) {
        const uint32_t c = static_cast<uint32_t>(length + kLengthBias);
        litlen[symbols] = static_cast<uint16_t>(c);
        dist[symbols] = distance - 1;
        ++cFreq[c];
        ++pFreq[PositionCode(distance - 1)];
        blockInput += static_cast<uint64_t>(length);
        if (++symbols == kBlockSymbols) WriteBlock();
    }

    // ---- the main loop ----

    // Returns false when cancelled.
    bool Run(const CancelFlag* cancel) {
        int heldLength = 0;  // the match held back at pos - 1 (0: none)
        uint32_t heldDistance = 0;
        bool held = false;  // pos - 1 is still to be coded
        for (;;) {
            if (stopped) return true;
            if (!eof && end - pos < kLookAhead) {
                if (IsCancelled(cancel)) return false;
                if (end == capacity) Slide();
                Fill();
            }
            if (pos >= end) break;
            const size_t avail = end - pos;
            int length = 0;
            uint32_t distance = 0;
            if (avail >= kMinMatch) {
                const uint32_t link = Insert(pos);
                if (heldLength < kMaxLazy)
                    length = LongestMatch(link, heldLength,
                                          static_cast<int>(std::min<size_t>(avail, kMaxMatch)), &distance);
            }
            if (held && heldLength >= kMinMatch && length <= heldLength) {
                Match(heldLength, heldDistance);
                // The match covers pos - 1 .. pos + heldLength - 2; pos itself is already in the chains.
                const size_t next = pos - 1 + static_cast<size_t>(heldLength);
                for (size_t p = pos + 1; p < next; ++p)
                    if (end - p >= kMinMatch) Insert(p);
                pos = next;
                held = false;
                heldLength = 0;
                continue;
            }
            if (held) Literal(buf[pos - 1]);
            held = true;
            heldLength = length;
            heldDistance = distance;
            ++pos;
        }
        if (held && !stopped) Literal(buf[pos - 1]);  // a match would have been taken in the loop
        return true;
    }
};

StaticHuffmanEncoder::StaticHuffmanEncoder(const StaticHuffmanParams& params) : params_(params) {
    const int np = params.dicBit + 1;
    if (params.dicBit < 1 || np > kMaxNP || params.history < 1 ||
        params.history > (uint64_t{1} << params.dicBit) || params.pBit < 1 || params.pBit > 8 ||
        np >= (1 << params.pBit))
        throw std::invalid_argument("static-Huffman encoder: unusable parameters");
}

StaticHuffmanEncoder::~StaticHuffmanEncoder() = default;

void StaticHuffmanEncoder::Release() {
    state_.reset();
}

StaticHuffmanEncodeResult StaticHuffmanEncoder::Encode(ByteSource& source, ByteSink& sink,
                                                       IfNotSmaller ifNotSmaller, const CancelFlag* cancel) {
    if (!state_) state_ = std::make_unique<State>(params_);
    State& st = *state_;
    st.Reset(source, sink, ifNotSmaller);
    StaticHuffmanEncodeResult r;
    const bool finished = st.Run(cancel);
    if (!finished) {
        st.FlushOut();
        r.status = StaticHuffmanEncodeResult::Status::Cancelled;
    } else if (st.stopped) {
        st.FlushOut();
        r.status = StaticHuffmanEncodeResult::Status::Stopped;
        r.notSmaller = true;
    } else {
        if (st.symbols) st.WriteBlock();
        st.FinishBits();
        r.notSmaller = st.produced >= st.consumed;
    }
    r.consumed = st.consumed;
    r.produced = st.produced;
    return r;
}

std::vector<uint8_t> EncodeStaticHuffman(const StaticHuffmanParams& params, std::span<const uint8_t> data,
                                         StaticHuffmanEncodeResult* result) {
    MemorySource src(data);
    VectorSink sink;
    StaticHuffmanEncoder encoder(params);
    const StaticHuffmanEncodeResult r = encoder.Encode(src, sink, StaticHuffmanEncoder::IfNotSmaller::Finish);
    if (result) *result = r;
    return std::move(sink.Data());
}

}  // namespace varnok
