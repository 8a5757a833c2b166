// LZX compressor for cabinet folders.
//
// The folder's bytes live in one buffer that holds the window (up to 2 MiB of history) and the frame being
// coded; when it fills, everything older than the window is dropped by one move. Positions are absolute
// within the folder (a folder holds at most 65535 frames, so 32 bits suffice) and the match finders key
// on them, so their memory is fixed by the window size whatever the folder's length.
//
// Normal and Best parse each frame near-optimally, as LZMA-style encoders do, because LZX's three
// repeated offsets and Huffman-coded lengths make greedy or lazy choices cost several percent:
// - A binary-tree match finder (one tree per 3-byte hash, 8 bytes per window byte) gives every position
//   of the frame its matches of increasing length up to a nice length, visiting a bounded number of
//   nodes. Trees are ordered only over full comparisons, so the last 257 positions of a frame are
//   searched without being inserted and go into the trees when the next frame's bytes have arrived.
// - A forward pass reaches every position of the frame at the least cost in bits: a literal, each length
//   of each found match, and each length of a match at one of the three repeated offsets held by the
//   cheapest way to that position (one state per position, as in LZMA). Matches end inside the frame.
//   A match of the nice length is taken whole, so long repeats and runs stay linear.
// - Costs come from the previous frame's code lengths (including the aligned tree, when that frame was
//   an aligned block); Best parses again with the codes of its own first and second passes.
// Fast keeps a greedy parse over hash chains (heads over the 3-byte hash, one link per window position),
// scored in bits: every candidate (the longest match on the chain and the three repeated offsets) is
// weighed as the literal bits it replaces minus its own cost.
//
// Codes are Huffman codes built from the frame's counts and limited (16 bits, 15 for the pretree, 7 for
// the aligned tree) by pushing the rarest symbols down until the Kraft sum is exact: the decoders reject
// incomplete codes, so every sent tree is complete and has at least two codes (only the length tree may
// be empty, which both libmspack and 7-Zip accept).
#include "archive/codecs/lzx_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace varnok {

namespace {

constexpr unsigned kNumChars = 256;
constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 257;
constexpr unsigned kNumPrimaryLengths = 7;
constexpr unsigned kNumLengthSymbols = 249;
constexpr unsigned kNumAligned = 8;
constexpr unsigned kPretreeSize = 20;
constexpr unsigned kMaxSlots = 50;
constexpr unsigned kMaxMainSymbols = kNumChars + 8 * kMaxSlots;
constexpr unsigned kCodeLimit = 16;
constexpr unsigned kPretreeLimit = 15;
constexpr unsigned kAlignedLimit = 7;
constexpr unsigned kE8Frames = 32768;  // frames past the first GiB are not translated
constexpr uint32_t kNone = UINT32_MAX;

enum BlockType : unsigned { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

struct SlotTable {
    uint32_t base[kMaxSlots + 1];
    uint8_t extra[kMaxSlots + 1];
};

constexpr SlotTable MakeSlots() {
    SlotTable t{};
    uint32_t base = 0;
    for (unsigned i = 0; i <= kMaxSlots; ++i) {
        const unsigned e = i < 4 ? 0 : std::min(i / 2 - 1, 17u);
        t.base[i] = base;
        t.extra[i] = static_cast<uint8_t>(e);
        base += 1u << e;
    }
    return t;
}
constexpr SlotTable kSlots = MakeSlots();

unsigned NumSlots(unsigned windowBits) {
    static constexpr uint8_t kCount[] = {30, 32, 34, 36, 38, 42, 50};
    return kCount[windowBits - 15];
}

// Position slot of a formatted offset (0..2 = repeated offsets, else offset + 2).
unsigned SlotOf(uint32_t formatted) {
    if (formatted < 4) return formatted;
    if (formatted < (1u << 18)) {
        const unsigned hb = 31 - static_cast<unsigned>(std::countl_zero(formatted));
        return 2 * hb + ((formatted >> (hb - 1)) & 1);
    }
    return 36 + ((formatted - (1u << 18)) >> 17);
}

// Huffman code lengths for `n` symbols limited to `limit` bits. Fewer than two used symbols get two codes
// of length 1 (a complete code); no used symbol at all leaves every length 0.
void BuildLengths(const uint32_t* freq, unsigned n, unsigned limit, uint8_t* len) {
    std::memset(len, 0, n);
    std::vector<std::pair<uint32_t, unsigned>> leaves;  // (frequency, symbol), rarest first
    for (unsigned s = 0; s < n; ++s)
        if (freq[s]) leaves.emplace_back(freq[s], s);
    if (leaves.empty()) return;
    if (leaves.size() == 1) {
        const unsigned s = leaves[0].second;
        len[s] = 1;
        len[s == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(leaves.begin(), leaves.end());
    const size_t m = leaves.size();
    // Two-queue Huffman: leaves in order, internal nodes are created in order of weight.
    std::vector<uint64_t> weight(2 * m - 1);
    std::vector<uint32_t> parent(2 * m - 1, 0);
    for (size_t i = 0; i < m; ++i) weight[i] = leaves[i].first;
    size_t nextLeaf = 0, nextNode = m, created = m;
    auto take = [&]() -> size_t {
        if (nextLeaf < m && (nextNode >= created || weight[nextLeaf] <= weight[nextNode])) return nextLeaf++;
        return nextNode++;
    };
    while (created < 2 * m - 1) {
        const size_t a = take();
        const size_t b = take();
        weight[created] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<uint32_t>(created);
        ++created;
    }
    std::vector<uint8_t> depth(2 * m - 1, 0);
    for (size_t i = 2 * m - 2; i-- > 0;) depth[i] = static_cast<uint8_t>(std::min(depth[parent[i]] + 1, 255));
    std::vector<unsigned> l(m);
    unsigned maxLen = 0;
    for (size_t i = 0; i < m; ++i) {
        l[i] = depth[i];
        maxLen = std::max(maxLen, l[i]);
    }
    if (maxLen > limit) {
        const uint64_t cap = uint64_t{1} << limit;
        uint64_t kraft = 0;
        for (auto& x : l) {
            x = std::min(x, limit);
            kraft += uint64_t{1} << (limit - x);
        }
        while (kraft > cap) {  // lengthen the rarest codes that still can be
            for (size_t i = 0; i < m && kraft > cap; ++i) {
                if (l[i] < limit) {
                    kraft -= uint64_t{1} << (limit - l[i] - 1);
                    ++l[i];
                }
            }
        }
        bool changed = true;
        while (kraft < cap && changed) {  // then give back the slack to the most frequent
            changed = false;
            for (size_t i = m; i-- > 0;) {
                while (l[i] > 1 && kraft + (uint64_t{1} << (limit - l[i])) <= cap) {
                    kraft += uint64_t{1} << (limit - l[i]);
                    --l[i];
                    changed = true;
                }
            }
        }
    }
    for (size_t i = 0; i < m; ++i) len[leaves[i].second] = static_cast<uint8_t>(l[i]);
}

// Canonical codes (shorter first, then by symbol), sent most significant bit first.
void MakeCodes(const uint8_t* len, unsigned n, uint16_t* code) {
    unsigned count[kCodeLimit + 2] = {};
    for (unsigned s = 0; s < n; ++s) ++count[len[s]];
    count[0] = 0;
    unsigned next[kCodeLimit + 2] = {};
    unsigned c = 0;
    for (unsigned b = 1; b <= kCodeLimit + 1; ++b) {
        c = (c + count[b - 1]) << 1;
        next[b] = c;
    }
    for (unsigned s = 0; s < n; ++s)
        if (len[s]) code[s] = static_cast<uint16_t>(next[len[s]]++);
}

// 16-bit little-endian words, each filled from its most significant bit.
class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint32_t value, unsigned n) {
        acc_ = (acc_ << n) | value;
        bits_ += n;
        while (bits_ >= 16) {
            bits_ -= 16;
            const auto w = static_cast<uint16_t>(acc_ >> bits_);
            out_.push_back(static_cast<uint8_t>(w));
            out_.push_back(static_cast<uint8_t>(w >> 8));
        }
    }
    void Align() {
        if (bits_) Put(0, 16 - bits_);
    }
    unsigned Pending() const { return bits_; }

  private:
    std::vector<uint8_t>& out_;
    uint64_t acc_ = 0;
    unsigned bits_ = 0;
};

struct PreSym {
    uint8_t sym;
    uint8_t extra;
};

unsigned Delta(uint8_t prev, uint8_t cur) { return (prev + 17u - cur) % 17u; }

// The pretree symbols that turn `prev` into `cur`: runs of zeros (17, 18), runs of one length (19 with
// the delta of the run's first position) and single deltas.
void LengthSymbols(const uint8_t* prev, const uint8_t* cur, unsigned n, std::vector<PreSym>& out) {
    out.clear();
    unsigned i = 0;
    while (i < n) {
        unsigned run = 1;
        while (i + run < n && cur[i + run] == cur[i]) ++run;
        if (run >= 4 && cur[i] == 0) {
            while (run >= 4) {
                const unsigned k = run >= 20 ? std::min(run, 51u) : std::min(run, 19u);
                out.push_back(run >= 20 ? PreSym{18, static_cast<uint8_t>(k - 20)}
                                        : PreSym{17, static_cast<uint8_t>(k - 4)});
                i += k;
                run -= k;
            }
        } else if (run >= 4) {
            while (run >= 4) {
                const unsigned k = std::min(run, 5u);
                out.push_back({19, static_cast<uint8_t>(k - 4)});
                out.push_back({static_cast<uint8_t>(Delta(prev[i], cur[i])), 0});
                i += k;
                run -= k;
            }
        }
        for (; run > 0; --run, ++i) out.push_back({static_cast<uint8_t>(Delta(prev[i], cur[i])), 0});
    }
}

unsigned PreExtraBits(unsigned sym) { return sym == 17 ? 4 : sym == 18 ? 5 : sym == 19 ? 1 : 0; }

// Sends `cur` as a delta against `prev` (pretree, then its symbols); with a null writer only counts bits.
size_t SendLengths(BitWriter* w, const uint8_t* prev, const uint8_t* cur, unsigned n, std::vector<PreSym>& syms) {
    LengthSymbols(prev, cur, n, syms);
    uint32_t freq[kPretreeSize] = {};
    for (const auto& p : syms) ++freq[p.sym];
    uint8_t len[kPretreeSize];
    BuildLengths(freq, kPretreeSize, kPretreeLimit, len);
    size_t bits = 4 * kPretreeSize;
    for (const auto& p : syms) bits += len[p.sym] + PreExtraBits(p.sym);
    if (w) {
        uint16_t code[kPretreeSize] = {};
        MakeCodes(len, kPretreeSize, code);
        for (unsigned i = 0; i < kPretreeSize; ++i) w->Put(len[i], 4);
        for (const auto& p : syms) {
            w->Put(code[p.sym], len[p.sym]);
            if (const unsigned e = PreExtraBits(p.sym)) w->Put(p.extra, e);
        }
    }
    return bits;
}

struct Item {
    uint32_t formatted;  // 0..2 repeated offset, else offset + 2
    uint16_t length;     // 0 = literal
    uint8_t literal;
};

struct Effort {
    unsigned chain;   // hash chain links (Fast) or binary tree nodes (the others) visited per position
    unsigned nice;    // a match this long ends the search and is taken without weighing shorter ones
    unsigned lazy;    // Fast only
    unsigned passes;  // near-optimal parses of each frame; 0 = lazy parsing over hash chains
};

Effort EffortOf(LzxEffort e) {
    switch (e) {
        case LzxEffort::Fast: return {8, 32, 0, 0};
        case LzxEffort::Normal: return {12, 32, 0, 1};
        case LzxEffort::Best: return {64, kMaxMatch, 0, 3};
    }
    return {12, 32, 0, 1};
}

struct Match {
    uint16_t length;
    uint32_t offset;
};

// One position of the near-optimal parse: the cheapest way found to reach it, the item that arrives
// there on that way and the repeated offsets after it.
struct Node {
    uint32_t cost;
    uint32_t reps[3];
    uint32_t formatted;
    uint16_t length;  // 0 = a literal arrives
};

}  // namespace

struct LzxEncoder::State {
    unsigned windowBits;
    uint32_t windowMask;
    uint32_t maxOffset;  // window - 4: 7-Zip misreads a match at window - 3, the format's own limit
    unsigned numMain;
    Effort effort;
    uint32_t translationSize;

    std::vector<uint8_t> buf;  // buf[0] is absolute position `base`
    uint32_t base = 0;
    uint32_t total = 0;     // bytes of the folder seen so far
    uint32_t inserted = 0;  // positions below this are in the hash chains
    uint32_t frames = 0;
    bool ended = false;     // a short (last) frame has been coded
    size_t slack;

    static constexpr unsigned kHashBits = 16;
    std::vector<uint32_t> head;
    std::vector<uint32_t> link;   // Fast: hash chains; the others: left children of the binary trees
    std::vector<uint32_t> right;  // right children of the binary trees

    uint32_t reps[3] = {1, 1, 1};
    uint8_t prevMain[kMaxMainSymbols] = {};
    uint8_t prevLength[kNumLengthSymbols] = {};

    // Bit costs of the previous frame's codes, for the parser.
    uint16_t mainCost[kMaxMainSymbols];
    uint16_t lengthCost[kNumLengthSymbols];

    // The aligned tree's costs when the parser should expect an aligned block (else the offsets' low
    // bits cost their 3 verbatim bits).
    uint16_t alignedCost[kNumAligned];
    bool alignedCosts = false;

    std::vector<Item> items;
    std::vector<uint32_t> litPrefix;  // literal bits of the frame's bytes, summed
    std::vector<PreSym> preSyms;

    std::vector<Match> matches;        // the frame's matches, position by position, longer ones later
    std::vector<uint32_t> matchStart;  // where each position's matches begin in `matches`
    std::vector<Node> nodes;

    State(const LzxEncoderParams& p)
        : windowBits(p.windowBits),
          windowMask((1u << p.windowBits) - 1),
          maxOffset((1u << p.windowBits) - 4),
          numMain(kNumChars + 8 * NumSlots(p.windowBits)),
          effort(EffortOf(p.effort)),
          translationSize(p.translationSize),
          slack(std::max<size_t>(size_t{1} << p.windowBits, size_t{1} << 18)),
          head(size_t{1} << kHashBits, kNone),
          link(size_t{1} << p.windowBits, kNone),
          right(effort.passes ? size_t{1} << p.windowBits : 0, kNone) {
        buf.reserve((size_t{1} << windowBits) + slack);
        ResetCosts();
    }

    void ResetCosts() {
        for (unsigned i = 0; i < kMaxMainSymbols; ++i) mainCost[i] = i < kNumChars ? 8 : 9;
        for (unsigned i = 0; i < kNumLengthSymbols; ++i) lengthCost[i] = 7;
        for (unsigned i = 0; i < kNumAligned; ++i) alignedCost[i] = 3;
        alignedCosts = false;
    }

    const uint8_t* At(uint32_t pos) const { return buf.data() + (pos - base); }

    uint32_t Hash(uint32_t pos) const {
        const uint8_t* p = At(pos);
        const uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    void InsertUpTo(uint32_t limit) {
        limit = std::min(limit, total >= 2 ? total - 2 : 0);
        // Positions the window has already let go of (the parser may not have asked for a long stretch, as
        // over incompressible data) can never be matched again: the chains start after them.
        if (inserted < base) inserted = base;
        for (; inserted < limit; ++inserted) {
            const uint32_t h = Hash(inserted);
            link[inserted & windowMask] = head[h];
            head[h] = inserted;
        }
    }

    void AddFrame(std::span<const uint8_t> frame) {
        const size_t window = size_t{1} << windowBits;
        if (buf.size() + frame.size() > window + slack) {
            const size_t drop = buf.size() - window;
            buf.erase(buf.begin(), buf.begin() + static_cast<ptrdiff_t>(drop));
            base += static_cast<uint32_t>(drop);
        }
        const size_t at = buf.size();
        buf.insert(buf.end(), frame.begin(), frame.end());
        if (translationSize && frames < kE8Frames && frame.size() > 10)
            TranslateE8(buf.data() + at, frame.size(), total);
        total += static_cast<uint32_t>(frame.size());
    }

    // The inverse of the decoders' E8 step: a call's relative target becomes absolute where the decoder
    // will turn it back.
    void TranslateE8(uint8_t* data, size_t size, uint32_t start) const {
        const int64_t ts = translationSize;
        for (size_t i = 0; i + 10 < size;) {
            if (data[i] != 0xE8) {
                ++i;
                continue;
            }
            const int64_t cur = int64_t{start} + static_cast<int64_t>(i);
            uint8_t* v = data + i + 1;
            const auto rel = static_cast<int32_t>(uint32_t{v[0]} | uint32_t{v[1]} << 8 | uint32_t{v[2]} << 16 |
                                                  uint32_t{v[3]} << 24);
            if (rel >= -cur && rel < ts) {
                const int64_t abs = rel < ts - cur ? rel + cur : rel - ts;
                const auto u = static_cast<uint32_t>(static_cast<int32_t>(abs));
                v[0] = static_cast<uint8_t>(u);
                v[1] = static_cast<uint8_t>(u >> 8);
                v[2] = static_cast<uint8_t>(u >> 16);
                v[3] = static_cast<uint8_t>(u >> 24);
            }
            i += 5;
        }
    }

    unsigned MatchLength(uint32_t pos, uint32_t offset, unsigned limit) const {
        const uint8_t* a = At(pos);
        return Extend(a, a - offset, 0, limit);
    }

    unsigned MatchCost(unsigned length, uint32_t formatted) const {
        const unsigned slot = SlotOf(formatted);
        const unsigned header = std::min(length - 2, kNumPrimaryLengths);
        unsigned c = mainCost[kNumChars + slot * 8 + header] + kSlots.extra[slot];
        if (header == kNumPrimaryLengths) c += lengthCost[length - 9];
        return c;
    }

    struct Choice {
        int gain = 0;  // literal bits replaced minus the match's bits
        unsigned length = 0;
        uint32_t formatted = 0;
    };

    // The best match at `pos` (absolute), at most `limit` bytes long, under the current costs.
    Choice Best(uint32_t pos, unsigned limit, uint32_t frameStart) {
        Choice best;
        auto consider = [&](unsigned length, uint32_t formatted) {
            const uint32_t at = pos - frameStart;
            const int gain = static_cast<int>(litPrefix[at + length] - litPrefix[at]) -
                             static_cast<int>(MatchCost(length, formatted));
            if (gain > best.gain) best = {gain, length, formatted};
        };
        if (limit < kMinMatch) return best;
        unsigned repLen = 0;
        for (unsigned r = 0; r < 3; ++r) {
            if (reps[r] > pos) continue;
            const unsigned n = MatchLength(pos, reps[r], limit);
            if (n >= kMinMatch) consider(n, r);
            repLen = std::max(repLen, n);
        }
        if (repLen >= effort.nice || limit < 3) return best;
        InsertUpTo(pos);
        const uint8_t* cur = At(pos);
        unsigned bestLen = 2;
        uint32_t bestOff = 0;
        uint32_t cand = head[Hash(pos)];
        for (unsigned depth = effort.chain; depth && cand != kNone; --depth) {
            const uint32_t off = pos - cand;
            if (off > maxOffset || cand < base) break;
            const uint8_t* c = At(cand);
            if (c[bestLen] == cur[bestLen] && c[0] == cur[0] && c[1] == cur[1]) {
                unsigned n = 2;
                while (n < limit && c[n] == cur[n]) ++n;
                if (n > bestLen) {
                    bestLen = n;
                    bestOff = off;
                    if (n >= limit || n >= effort.nice) break;
                }
            }
            cand = link[cand & windowMask];
        }
        if (bestOff) {
            uint32_t formatted = bestOff + 2;
            for (unsigned r = 0; r < 3; ++r)
                if (reps[r] == bestOff) formatted = r;
            consider(bestLen, formatted);
        }
        return best;
    }

    void TakeMatch(const Choice& c) {
        if (c.formatted >= 3) {
            reps[2] = reps[1];
            reps[1] = reps[0];
            reps[0] = c.formatted - 2;
        } else if (c.formatted) {
            std::swap(reps[0], reps[c.formatted]);
        }
        items.push_back({c.formatted, static_cast<uint16_t>(c.length), 0});
    }

    void Parse(uint32_t start, uint32_t end) {
        items.clear();
        litPrefix.resize(end - start + 1);
        litPrefix[0] = 0;
        for (uint32_t i = 0; i < end - start; ++i) litPrefix[i + 1] = litPrefix[i] + mainCost[*At(start + i)];
        uint32_t pos = start;
        while (pos < end) {
            const unsigned limit = std::min<uint32_t>(kMaxMatch, end - pos);
            Choice c = Best(pos, limit, start);
            if (c.length) {
                // Lazy evaluation: a literal now may buy a better match at the next position(s).
                for (unsigned ahead = 1; ahead <= effort.lazy && c.length < effort.nice; ++ahead) {
                    if (pos + ahead >= end) break;
                    const Choice next = Best(pos + ahead, std::min<uint32_t>(kMaxMatch, end - pos - ahead), start);
                    const int literalBits = static_cast<int>(litPrefix[pos + ahead - start] - litPrefix[pos - start]);
                    if (next.gain - literalBits / 2 > c.gain) {
                        for (unsigned k = 0; k < ahead; ++k) items.push_back({0, 0, *At(pos + k)});
                        pos += ahead;
                        c = next;
                        ahead = 0;
                    }
                }
            }
            if (!c.length) {
                items.push_back({0, 0, *At(pos)});
                ++pos;
                continue;
            }
            TakeMatch(c);
            pos += c.length;
            if (effort.lazy == 0 && c.length > 16) inserted = std::max(inserted, std::min(pos, total >= 2 ? total - 2 : 0));
        }
    }

    static constexpr unsigned kUnusedCost = 13;  // between passes, for symbols the pass before left unused

    void SetCosts(const uint8_t* mainLen, const uint8_t* lengthLen, const uint8_t* alignedLen, bool aligned,
                  unsigned unused) {
        for (unsigned s = 0; s < numMain; ++s) mainCost[s] = static_cast<uint16_t>(mainLen[s] ? mainLen[s] : unused);
        for (unsigned s = 0; s < kNumLengthSymbols; ++s)
            lengthCost[s] = static_cast<uint16_t>(lengthLen[s] ? lengthLen[s] : unused);
        alignedCosts = aligned;
        for (unsigned s = 0; s < kNumAligned; ++s) alignedCost[s] = aligned ? alignedLen[s] : 3;
    }

    // The length of the common prefix of `a` and `b`, known to be at least `n`, at most `limit`.
    static unsigned Extend(const uint8_t* a, const uint8_t* b, unsigned n, unsigned limit) {
        while (n + 8 <= limit) {
            uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y) return n + static_cast<unsigned>(std::countr_zero(x ^ y)) / 8;  // little-endian host
            n += 8;
        }
        while (n < limit && a[n] == b[n]) ++n;
        return n;
    }

    // Binary-tree match finder (one tree per 3-byte hash, ordered by the bytes that follow each position):
    // walks the tree of `pos`, reporting each match longer than those before it (at most `limit` bytes)
    // and, with `insert`, re-rooting the tree at `pos`, splitting the nodes it passes into the two
    // subtrees. A node as long as `limit` takes over the children of the node it equals.
    void BtStep(uint32_t pos, unsigned limit, bool insert, bool record) {
        const uint8_t* cur = At(pos);
        const uint32_t h = Hash(pos);
        uint32_t cand = head[h];
        uint32_t scratch[2];
        uint32_t* lt = insert ? &link[pos & windowMask] : &scratch[0];  // where the next smaller node goes
        uint32_t* gt = insert ? &right[pos & windowMask] : &scratch[1];
        if (insert) head[h] = pos;
        unsigned ltLen = 0, gtLen = 0, best = 2;
        for (unsigned depth = effort.chain;; --depth) {
            if (cand == kNone || depth == 0 || cand < base || pos - cand > maxOffset) {
                *lt = *gt = kNone;
                return;
            }
            const uint8_t* c = At(cand);
            const unsigned n = Extend(c, cur, std::min(ltLen, gtLen), limit);
            if (n > best) {
                best = n;
                if (record) matches.push_back({static_cast<uint16_t>(n), pos - cand});
            }
            const uint32_t slot = cand & windowMask;
            if (n >= limit) {
                *lt = link[slot];
                *gt = right[slot];
                return;
            }
            if (c[n] < cur[n]) {
                *lt = cand;
                if (insert) lt = &right[slot];
                cand = right[slot];
                ltLen = n;
            } else {
                *gt = cand;
                if (insert) gt = &link[slot];
                cand = link[slot];
                gtLen = n;
            }
        }
    }

    // The matches of every position of the frame. Positions closer than the longest match to the frame's
    // end are only searched (limited to the frame) and wait for the next frame's bytes to be inserted, so
    // that every tree is ordered over full-length comparisons. Inside a match of the nice length the
    // positions are inserted but not searched: the parser takes such a match whole.
    void FindMatches(uint32_t start, uint32_t end) {
        // The trees compare at most the nice length: a match that long is extended afterwards, beyond it.
        const unsigned cap = effort.nice;
        for (; inserted < start; ++inserted)
            if (total - inserted >= 3) BtStep(inserted, std::min<uint32_t>(cap, total - inserted), true, false);
        const uint32_t n = end - start;
        matches.clear();
        matchStart.resize(n + 1);
        uint32_t skipTo = start;
        for (uint32_t pos = start; pos < end; ++pos) {
            const auto first = static_cast<uint32_t>(matches.size());
            matchStart[pos - start] = first;
            const uint32_t left = end - pos;
            if (left < kMaxMatch) {
                if (left >= 3 && pos >= skipTo) BtStep(pos, std::min(left, cap), false, true);
            } else {
                BtStep(pos, cap, true, pos >= skipTo);
                inserted = pos + 1;
            }
            if (matches.size() > first && matches.back().length >= cap) {
                Match& m = matches.back();
                m.length = static_cast<uint16_t>(Extend(At(pos) - m.offset, At(pos), m.length, std::min(left, kMaxMatch)));
                skipTo = pos + m.length;
            }
        }
        matchStart[n] = static_cast<uint32_t>(matches.size());
    }

    uint32_t OffsetCost(uint32_t formatted, unsigned slot) const {
        const unsigned extra = kSlots.extra[slot];
        if (alignedCosts && extra >= 3) return extra - 3 + alignedCost[formatted & 7];
        return extra;
    }

    // The bits of a match's main symbol and length symbol, without its offset bits.
    uint32_t LengthCost(unsigned slot, unsigned length) const {
        const unsigned header = std::min(length - 2, kNumPrimaryLengths);
        uint32_t c = mainCost[kNumChars + slot * 8 + header];
        if (header == kNumPrimaryLengths) c += lengthCost[length - 9];
        return c;
    }

    // Forward pass over the frame: every position is reached at the least cost found, as a literal, a
    // repeated-offset match of any length (under the repeated offsets of the cheapest way to the
    // position) or any length of a found match; then the cheapest way to the frame's end is read back.
    void OptimalParse(uint32_t start, uint32_t end) {
        const uint32_t n = end - start;
        nodes.resize(n + 1);
        nodes[0].cost = 0;
        std::memcpy(nodes[0].reps, reps, sizeof reps);
        for (uint32_t j = 1; j <= n; ++j) nodes[j].cost = UINT32_MAX;
        auto relax = [&](uint32_t j, uint32_t cost, uint32_t r0, uint32_t r1, uint32_t r2, unsigned length,
                         uint32_t formatted) {
            Node& t = nodes[j];
            if (cost >= t.cost) return;
            t.cost = cost;
            t.reps[0] = r0;
            t.reps[1] = r1;
            t.reps[2] = r2;
            t.length = static_cast<uint16_t>(length);
            t.formatted = formatted;
        };
        uint32_t skipTo = 0;
        for (uint32_t i = 0; i < n; ++i) {
            if (i < skipTo) continue;
            const Node nd = nodes[i];
            const uint32_t pos = start + i;
            const uint8_t* cur = At(pos);
            relax(i + 1, nd.cost + mainCost[cur[0]], nd.reps[0], nd.reps[1], nd.reps[2], 0, 0);
            const unsigned limit = std::min<uint32_t>(kMaxMatch, n - i);
            if (limit < kMinMatch) continue;
            unsigned longest = 0;
            for (unsigned r = 0; r < 3; ++r) {
                const uint32_t o = nd.reps[r];
                if (o > pos || (r > 0 && o == nd.reps[0]) || (r == 2 && o == nd.reps[1])) continue;
                const uint8_t* src = cur - o;
                if (src[0] != cur[0] || src[1] != cur[1]) continue;
                const unsigned len = MatchLength(pos, o, limit);
                longest = std::max(longest, len);
                const uint32_t r0 = o, r1 = r == 1 ? nd.reps[0] : nd.reps[1], r2 = r == 2 ? nd.reps[0] : nd.reps[2];
                for (unsigned l = kMinMatch; l <= len; ++l) relax(i + l, nd.cost + LengthCost(r, l), r0, r1, r2, l, r);
            }
            unsigned covered = kMinMatch;
            for (uint32_t k = matchStart[i]; k < matchStart[i + 1]; ++k) {
                const Match m = matches[k];
                longest = std::max<unsigned>(longest, m.length);
                if (m.offset == nd.reps[0] || m.offset == nd.reps[1] || m.offset == nd.reps[2]) {
                    covered = m.length;  // the repeated offset above covers these lengths
                    continue;
                }
                const uint32_t formatted = m.offset + 2;
                const unsigned slot = SlotOf(formatted);
                const uint32_t before = nd.cost + OffsetCost(formatted, slot);
                for (unsigned l = covered + 1; l <= m.length; ++l)
                    relax(i + l, before + LengthCost(slot, l), m.offset, nd.reps[0], nd.reps[1], l, formatted);
                covered = m.length;
            }
            if (longest >= effort.nice) skipTo = i + longest;
        }
        items.clear();
        for (uint32_t j = n; j > 0;) {
            const Node& t = nodes[j];
            if (!t.length) {
                items.push_back({0, 0, *At(start + j - 1)});
                --j;
            } else {
                items.push_back({t.formatted, t.length, 0});
                j -= t.length;
            }
        }
        std::reverse(items.begin(), items.end());
        std::memcpy(reps, nodes[n].reps, sizeof reps);
    }

    // The frame's symbol counts under the current items, the codes built from them and the exact bit
    // counts of a verbatim and an aligned-offset block carrying them.
    struct Plan {
        uint32_t mainFreq[kMaxMainSymbols];
        uint32_t lengthFreq[kNumLengthSymbols];
        uint32_t alignedFreq[kNumAligned];
        uint8_t mainLen[kMaxMainSymbols];
        uint8_t lengthLen[kNumLengthSymbols];
        uint8_t alignedLen[kNumAligned];
        size_t verbatimCost;
        size_t alignedCost;
    };
    Plan plan;

    void MakePlan(Plan& pl) {
        uint32_t* mainFreq = pl.mainFreq;
        uint32_t* lengthFreq = pl.lengthFreq;
        uint32_t* alignedFreq = pl.alignedFreq;
        uint8_t* mainLen = pl.mainLen;
        uint8_t* lengthLen = pl.lengthLen;
        uint8_t* alignedLen = pl.alignedLen;
        std::memset(mainFreq, 0, sizeof pl.mainFreq);
        std::memset(lengthFreq, 0, sizeof pl.lengthFreq);
        std::memset(alignedFreq, 0, sizeof pl.alignedFreq);
        size_t extraBits = 0;
        size_t alignedUses = 0;
        for (const Item& it : items) {
            if (!it.length) {
                ++mainFreq[it.literal];
                continue;
            }
            const unsigned slot = SlotOf(it.formatted);
            const unsigned header = std::min<unsigned>(it.length - 2, kNumPrimaryLengths);
            ++mainFreq[kNumChars + slot * 8 + header];
            if (header == kNumPrimaryLengths) ++lengthFreq[it.length - 9];
            extraBits += kSlots.extra[slot];
            if (kSlots.extra[slot] >= 3) {
                ++alignedFreq[(it.formatted - kSlots.base[slot]) & 7];
                ++alignedUses;
            }
        }
        BuildLengths(mainFreq, numMain, kCodeLimit, mainLen);
        BuildLengths(lengthFreq, kNumLengthSymbols, kCodeLimit, lengthLen);
        // An unused length tree costs least sent as it was.
        if (std::none_of(lengthFreq, lengthFreq + kNumLengthSymbols, [](uint32_t f) { return f != 0; }))
            std::memcpy(lengthLen, prevLength, kNumLengthSymbols);
        BuildLengths(alignedFreq, kNumAligned, kAlignedLimit, alignedLen);
        if (!alignedUses) alignedLen[0] = alignedLen[1] = 1;

        size_t treeBits = SendLengths(nullptr, prevMain, mainLen, kNumChars, preSyms) +
                          SendLengths(nullptr, prevMain + kNumChars, mainLen + kNumChars, numMain - kNumChars, preSyms) +
                          SendLengths(nullptr, prevLength, lengthLen, kNumLengthSymbols, preSyms);
        size_t symbolBits = 0;
        for (unsigned s = 0; s < numMain; ++s) symbolBits += size_t{mainFreq[s]} * mainLen[s];
        for (unsigned s = 0; s < kNumLengthSymbols; ++s) symbolBits += size_t{lengthFreq[s]} * lengthLen[s];
        size_t alignedBits = 0;
        for (unsigned s = 0; s < kNumAligned; ++s) alignedBits += size_t{alignedFreq[s]} * alignedLen[s];
        pl.verbatimCost = treeBits + symbolBits + extraBits;
        pl.alignedCost = 3 * kNumAligned + treeBits + symbolBits + extraBits - 3 * alignedUses + alignedBits;
    }

    void EncodeFrame(std::span<const uint8_t> frame, std::vector<uint8_t>& out) {
        const uint32_t start = total;
        AddFrame(frame);
        const uint32_t end = total;
        const uint32_t savedReps[3] = {reps[0], reps[1], reps[2]};
        if (effort.passes) {
            // Near-optimal parsing: each pass prices the frame's items with the codes of the pass before.
            FindMatches(start, end);
            for (unsigned pass = 0; pass < effort.passes; ++pass) {
                if (pass) {
                    MakePlan(plan);
                    SetCosts(plan.mainLen, plan.lengthLen, plan.alignedLen, plan.alignedCost < plan.verbatimCost,
                             kUnusedCost);
                }
                std::memcpy(reps, savedReps, sizeof reps);
                OptimalParse(start, end);
            }
        } else {
            Parse(start, end);
        }
        MakePlan(plan);
        const uint8_t* mainLen = plan.mainLen;
        const uint8_t* lengthLen = plan.lengthLen;
        const uint8_t* alignedLen = plan.alignedLen;
        const size_t verbatimCost = plan.verbatimCost;
        const size_t alignedCost = plan.alignedCost;
        const size_t storedCost = 16 + 96 + 8 * frame.size() + 8 * (frame.size() & 1);

        BitWriter w(out);
        if (frames == 0) {
            w.Put(translationSize ? 1 : 0, 1);
            if (translationSize) {
                w.Put(translationSize >> 16, 16);
                w.Put(translationSize & 0xFFFF, 16);
            }
        }
        const auto size = static_cast<uint32_t>(frame.size());
        if (storedCost < std::min(verbatimCost, alignedCost)) {
            std::memcpy(reps, savedReps, sizeof reps);
            w.Put(kUncompressed, 3);
            w.Put(size >> 8, 16);
            w.Put(size & 0xFF, 8);
            w.Put(0, 16 - w.Pending());  // 1 to 16 bits of padding
            for (uint32_t r : reps)
                for (int k = 0; k < 32; k += 8) out.push_back(static_cast<uint8_t>(r >> k));
            const uint8_t* data = At(start);
            out.insert(out.end(), data, data + size);
            if (size & 1) out.push_back(0);
        } else {
            const bool aligned = alignedCost < verbatimCost;
            w.Put(aligned ? kAligned : kVerbatim, 3);
            w.Put(size >> 8, 16);
            w.Put(size & 0xFF, 8);
            if (aligned)
                for (unsigned i = 0; i < kNumAligned; ++i) w.Put(alignedLen[i], 3);
            SendLengths(&w, prevMain, mainLen, kNumChars, preSyms);
            SendLengths(&w, prevMain + kNumChars, mainLen + kNumChars, numMain - kNumChars, preSyms);
            SendLengths(&w, prevLength, lengthLen, kNumLengthSymbols, preSyms);
            uint16_t mainCode[kMaxMainSymbols] = {};
            uint16_t lengthCode[kNumLengthSymbols] = {};
            uint16_t alignedCode[kNumAligned] = {};
            MakeCodes(mainLen, numMain, mainCode);
            MakeCodes(lengthLen, kNumLengthSymbols, lengthCode);
            MakeCodes(alignedLen, kNumAligned, alignedCode);
            for (const Item& it : items) {
                if (!it.length) {
                    w.Put(mainCode[it.literal], mainLen[it.literal]);
                    continue;
                }
                const unsigned slot = SlotOf(it.formatted);
                const unsigned header = std::min<unsigned>(it.length - 2, kNumPrimaryLengths);
                const unsigned sym = kNumChars + slot * 8 + header;
                w.Put(mainCode[sym], mainLen[sym]);
                if (header == kNumPrimaryLengths) w.Put(lengthCode[it.length - 9], lengthLen[it.length - 9]);
                const unsigned extra = kSlots.extra[slot];
                const uint32_t value = it.formatted - kSlots.base[slot];
                if (aligned && extra >= 3) {
                    w.Put(value >> 3, extra - 3);
                    w.Put(alignedCode[value & 7], alignedLen[value & 7]);
                } else {
                    w.Put(value, extra);
                }
            }
            std::memcpy(prevMain, mainLen, numMain);
            std::memcpy(prevLength, lengthLen, kNumLengthSymbols);
            SetCosts(mainLen, lengthLen, alignedLen, aligned, 12);
        }
        w.Align();
        ++frames;
        if (frame.size() < kCabFrameSize) ended = true;
    }
};

uint16_t LzxTypeCompress(unsigned windowBits) {
    windowBits = std::clamp(windowBits, 15u, 21u);
    return static_cast<uint16_t>(3 | windowBits << 8);
}

LzxEncoder::LzxEncoder(const LzxEncoderParams& params) : params_(params) {
    params_.windowBits = std::clamp(params_.windowBits, 15u, 21u);
}

LzxEncoder::~LzxEncoder() = default;

void LzxEncoder::Reset() { state_.reset(); }

void LzxEncoder::EncodeFrame(std::span<const uint8_t> frame, std::vector<uint8_t>& out) {
    if (frame.empty() || frame.size() > kCabFrameSize) throw std::invalid_argument("LZX frame size out of range");
    if (state_ && state_->ended) throw std::invalid_argument("LZX frame after a folder's last (short) frame");
    if (!state_) state_ = std::make_unique<State>(params_);
    state_->EncodeFrame(frame, out);
}

std::vector<uint8_t> LzxEncoder::EncodeFrame(std::span<const uint8_t> frame) {
    std::vector<uint8_t> out;
    EncodeFrame(frame, out);
    return out;
}

std::vector<std::vector<uint8_t>> LzxCompressFolder(std::span<const uint8_t> data, const LzxEncoderParams& params) {
    LzxEncoder enc(params);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; at < data.size(); at += kCabFrameSize)
        frames.push_back(enc.EncodeFrame(data.subspan(at, std::min(kCabFrameSize, data.size() - at))));
    return frames;
}

}  // namespace varnok
