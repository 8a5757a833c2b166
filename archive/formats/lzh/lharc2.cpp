#include "archive/formats/lzh/lharc2.h"

#include <array>
#include <cstring>
#include <iterator>
#include <memory>

#include "archive/codecs/huffman_table.h"
#include "archive/codecs/lz_driver.h"
#include "archive/core/errors.h"

namespace varnok {

namespace {

constexpr size_t kWindow = 8192;
constexpr int kSymbols = 286;          // literals, lengths 3..31, and the escape to longer lengths
constexpr int kEscape = kSymbols - 1;  // followed by 8 bits: lengths 32..287
constexpr size_t kMaxMatch = kEscape + 255 - 253;
constexpr int kPositionSymbols = 128;  // upper 7 bits of a 13-bit position

// The pair of adaptive codes of -lh2-. Nodes are kept in order of falling frequency (the root
// first); an inner node's children sit next to each other at child and child - 1 (bit 0 and bit
// 1); a leaf holds ~symbol. Runs of nodes with equal frequency form blocks whose first node (the
// leader) is recorded, so that incrementing a node swaps it with its leader in one step. Block ids
// come from a pool shared by both codes.
class Lh2Codes {
  public:
    Lh2Codes() {
        for (int i = 0; i < kNodes; ++i)
            pool_[i] = static_cast<int16_t>(i);
        StartLiteralTree();
        StartPositionTree();
    }

    bool Broken() const { return broken_; }

    int DecodeLiteral(MsbBitReader& br) {
        int c = Walk(br, child_[kRootC]);
        c = ~c;
        UpdateLiteral(c);
        return c;
    }

    // `produced` is the output size before this match: the position alphabet gains a symbol for
    // every 64 bytes written, up to the window size.
    int DecodePosition(MsbBitReader& br, uint64_t produced) {
        while (produced > nextGrowth_) {
            AddPositionSymbol(static_cast<int>(nextGrowth_ / 64));
            nextGrowth_ += 64;
            if (nextGrowth_ >= kWindow) nextGrowth_ = UINT64_MAX;
        }
        int c = child_[kRootP];
        if (c > 0) c = Walk(br, c);
        int p = ~c - kLeafSlots;
        UpdatePosition(p);
        return p;
    }

  private:
    static constexpr int kLeafSlots = 314;          // position leaves are numbered from here
    static constexpr int kCNodes = 2 * kLeafSlots;  // room of the literal tree
    static constexpr int kNodes = kCNodes + 2 * kPositionSymbols;
    static constexpr int kRootC = 0;
    static constexpr int kRootP = kCNodes;
    static constexpr uint16_t kMaxFreq = 0x8000;

    // Follows the code from a pair of children down to a leaf, a bit per level.
    int Walk(MsbBitReader& br, int c) {
        return br.WalkTree(
            c, [](int n) { return n > 0; }, [&](int n, int bit) { return child_[n - bit]; });
    }

    int16_t TakeBlock() {
        if (avail_ >= kNodes) {
            broken_ = true;
            return 0;
        }
        return pool_[avail_++];
    }
    void GiveBlock(int16_t b) {
        if (avail_ <= 0) {
            broken_ = true;
            return;
        }
        pool_[--avail_] = b;
    }

    void StartLiteralTree() {
        // Leaves at the end in symbol order (symbol 0 last), all of frequency 1, in one block.
        int j = 2 * kSymbols - 2;
        for (int i = 0; i < kSymbols; ++i, --j) {
            freq_[j] = 1;
            child_[j] = static_cast<int16_t>(~i);
            leaf_[i] = static_cast<int16_t>(j);
            block_[j] = 1;
        }
        avail_ = 2;
        edge_[1] = kSymbols - 1;
        // Inner nodes pair the nodes behind them, from the end towards the root.
        int i = 2 * kSymbols - 2;
        while (j >= 0) {
            uint16_t f = freq_[j] = static_cast<uint16_t>(freq_[i] + freq_[i - 1]);
            child_[j] = static_cast<int16_t>(i);
            parent_[i] = parent_[i - 1] = static_cast<int16_t>(j);
            if (f == freq_[j + 1]) {
                block_[j] = block_[j + 1];
            } else {
                block_[j] = TakeBlock();
            }
            edge_[block_[j]] = static_cast<int16_t>(j);
            i -= 2;
            --j;
        }
    }

    void StartPositionTree() {
        // A single leaf (position symbol 0) at the root; more are added as the output grows.
        freq_[kRootP] = 1;
        child_[kRootP] = static_cast<int16_t>(~kLeafSlots);
        leaf_[kLeafSlots] = kRootP;
        block_[kRootP] = TakeBlock();
        edge_[block_[kRootP]] = kRootP;
        lastP_ = kRootP;
        totalP_ = 0;
        nextGrowth_ = 64;
    }

    void Relink(int c, int at) {
        if (c >= 0) {
            parent_[c] = parent_[c - 1] = static_cast<int16_t>(at);
        } else {
            leaf_[~c] = static_cast<int16_t>(at);
        }
    }

    // Halves the leaf frequencies of the node range [start, end) and rebuilds its inner nodes.
    void Rebuild(int start, int end) {
        int j = start;
        for (int i = start; i < end; ++i) {
            if (child_[i] < 0) {
                freq_[j] = static_cast<uint16_t>((freq_[i] + 1) / 2);
                child_[j] = child_[i];
                ++j;
            }
            int16_t b = block_[i];
            if (edge_[b] == i) GiveBlock(b);
        }
        --j;
        int i = end - 1;
        int l = end - 2;
        while (i >= start) {
            while (i >= l) {
                freq_[i] = freq_[j];
                child_[i] = child_[j];
                --i, --j;
            }
            unsigned f = static_cast<unsigned>(freq_[l]) + freq_[l + 1];
            int k = start;
            while (k < end && f < freq_[k])
                ++k;
            while (j >= k) {
                freq_[i] = freq_[j];
                child_[i] = child_[j];
                --i, --j;
            }
            freq_[i] = static_cast<uint16_t>(f);
            child_[i] = static_cast<int16_t>(l + 1);
            --i;
            l -= 2;
        }
        unsigned f = 0;
        int16_t b = 0;
        for (int n = start; n < end; ++n) {
            Relink(child_[n], n);
            if (freq_[n] == f) {
                block_[n] = b;
            } else {
                b = block_[n] = TakeBlock();
                edge_[b] = static_cast<int16_t>(n);
                f = freq_[n];
            }
        }
    }

    // Increments node p, first exchanging it with the leader of its block; returns its parent.
    int Increment(int p) {
        int16_t b = block_[p];
        int q = edge_[b];
        bool moved = q != p;
        if (moved) {
            int r = child_[p];
            int s = child_[q];
            child_[p] = static_cast<int16_t>(s);
            child_[q] = static_cast<int16_t>(r);
            Relink(r, q);
            Relink(s, p);
            p = q;
        }
        if (moved || b == block_[p + 1]) {
            // p leaves its block (whose leader moves on by one) for the block above or a new one.
            ++edge_[b];
            if (++freq_[p] == freq_[p - 1]) {
                block_[p] = block_[p - 1];
            } else {
                block_[p] = TakeBlock();
                edge_[block_[p]] = static_cast<int16_t>(p);
            }
        } else if (++freq_[p] == freq_[p - 1]) {
            // p was alone in its block: the block goes and p joins the one above.
            GiveBlock(b);
            block_[p] = block_[p - 1];
        }
        return parent_[p];
    }

    void UpdateLiteral(int symbol) {
        if (freq_[kRootC] == kMaxFreq) Rebuild(kRootC, 2 * kSymbols - 1);
        ++freq_[kRootC];
        int q = leaf_[symbol];
        do {
            q = Increment(q);
        } while (q != kRootC && !broken_);
    }

    void UpdatePosition(int symbol) {
        if (totalP_ == kMaxFreq) {
            Rebuild(kRootP, lastP_ + 1);
            totalP_ = freq_[kRootP];
            freq_[kRootP] = 0xFFFF;
        }
        int q = leaf_[symbol + kLeafSlots];
        while (q != kRootP && !broken_)
            q = Increment(q);
        ++totalP_;
    }

    // Splits the last leaf into itself and a new leaf for `symbol` of frequency 0, then counts
    // the symbol once.
    void AddPositionSymbol(int symbol) {
        if (symbol >= kPositionSymbols || lastP_ + 2 >= kNodes) {
            broken_ = true;
            return;
        }
        int r = lastP_ + 1;
        int q = r + 1;
        child_[r] = child_[lastP_];
        leaf_[~child_[r]] = static_cast<int16_t>(r);
        child_[q] = static_cast<int16_t>(~(symbol + kLeafSlots));
        child_[lastP_] = static_cast<int16_t>(q);
        freq_[r] = freq_[lastP_];
        freq_[q] = 0;
        block_[r] = block_[lastP_];
        if (lastP_ == kRootP) {
            freq_[kRootP] = 0xFFFF;  // the root no longer takes part in the ordering
            ++edge_[block_[kRootP]];
        }
        parent_[r] = parent_[q] = static_cast<int16_t>(lastP_);
        block_[q] = TakeBlock();
        edge_[block_[q]] = static_cast<int16_t>(q);
        leaf_[symbol + kLeafSlots] = static_cast<int16_t>(q);
        lastP_ = q;
        UpdatePosition(symbol);
    }

    std::array<int16_t, kNodes + 1> child_{};
    std::array<int16_t, kNodes + 1> parent_{};
    std::array<int16_t, kNodes + 1> block_{};
    std::array<int16_t, kNodes + 1> edge_{};
    std::array<int16_t, kNodes + 1> pool_{};
    std::array<int16_t, kNodes / 2> leaf_{};
    std::array<uint16_t, kNodes + 1> freq_{};
    int avail_ = 0;
    int lastP_ = 0;
    uint16_t totalP_ = 0;
    uint64_t nextGrowth_ = 64;
    bool broken_ = false;
};

// The built-in position code of -lh3-: lengths 2, 4, 4, then runs of 5 to 9 bits.
void BuildFixedPositionTable(HuffmanDecodeTable& t) {
    std::array<uint8_t, kPositionSymbols> len{};
    const int steps[] = {1, 1, 3, 6, 13, 31, 78};  // symbols where the length grows by one
    int bits = 2;
    size_t s = 0;
    for (int i = 0; i < kPositionSymbols; ++i) {
        while (s < std::size(steps) && steps[s] == i) {
            ++bits;
            ++s;
        }
        len[i] = static_cast<uint8_t>(bits);
    }
    t.Build(len.data(), kPositionSymbols);
}

}  // namespace

DecodeResult DecodeLh2(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel) {
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitInput input(in, packedSize);
    LzOutput w(out, unpackedSize, kWindow, kMaxMatch, 0x20);
    auto codes = std::make_unique<Lh2Codes>();
    uint64_t made = 0;  // output so far: the position code grows with it
    auto step = [&](MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int& error) -> size_t {
        int c = codes->DecodeLiteral(br);
        if (codes->Broken()) {
            error = E_InvalidDecodeTree;
            return 0;
        }
        if (c < 256) {
            buf[pos] = static_cast<LzByte>(c);
            ++made;
            return 1;
        }
        if (c == kEscape) c += static_cast<int>(br.Get(8));
        size_t len = static_cast<size_t>(c - 253);
        uint32_t upper = static_cast<uint32_t>(codes->DecodePosition(br, made));
        if (codes->Broken()) {
            error = E_InvalidDecodeTree;
            return 0;
        }
        size_t dist = (upper << 6) | br.Get(6);
        if (len > room) len = room;
        LzCopy(buf, pos, dist + 1, len);
        made += len;
        return len;
    };
    return DriveLzDecoder(input, w, cancel, step);
}

DecodeResult DecodeLh3(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel) {
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitInput input(in, packedSize);
    LzOutput w(out, unpackedSize, kWindow, kMaxMatch, 0x20);
    HuffmanDecodeTable cTable(12), pTable(8);
    std::array<uint8_t, kSymbols> cLen{};
    std::array<uint8_t, kPositionSymbols> pLen{};
    uint32_t blockLeft = 0;

    // Literal/length lengths: a presence bit, then 4 bits (length - 1). Three leading lengths of 1
    // (impossible in a real code) announce a single symbol in 9 bits.
    auto readLiteralTable = [&](MsbBitReader& br) {
        for (int i = 0; i < kSymbols; ++i) {
            br.Refill();
            cLen[i] = br.Get(1) ? static_cast<uint8_t>(br.Get(4) + 1) : 0;
            if (i == 2 && cLen[0] == 1 && cLen[1] == 1 && cLen[2] == 1) {
                uint32_t c = br.Get(9);
                if (c >= static_cast<uint32_t>(kSymbols)) return false;
                cTable.SetSingle(c);
                return true;
            }
        }
        return cTable.Build(cLen.data(), kSymbols);
    };
    // Position lengths: 4 bits each, with the same single-symbol escape (7 bits).
    auto readPositionTable = [&](MsbBitReader& br) {
        for (int i = 0; i < kPositionSymbols; ++i) {
            br.Refill();
            pLen[i] = static_cast<uint8_t>(br.Get(4));
            if (i == 2 && pLen[0] == 1 && pLen[1] == 1 && pLen[2] == 1) {
                pTable.SetSingle(br.Get(7));
                return true;
            }
        }
        return pTable.Build(pLen.data(), kPositionSymbols);
    };

    // A block's code count and tables; 0 (error set) when they cannot be used.
    auto startBlock = [&](MsbBitReader& br, int& error) -> uint32_t {
        br.Refill();
        uint32_t count = br.Get(16);
        if (count == 0) {
            error = E_BadBlock;
            return 0;
        }
        if (!readLiteralTable(br)) {
            error = E_BadHuffmanCode;
            return 0;
        }
        br.Refill();
        if (br.Get(1)) {
            if (!readPositionTable(br)) {
                error = E_BadHuffmanCode;
                return 0;
            }
        } else {
            BuildFixedPositionTable(pTable);
        }
        return count;
    };

    auto step = [&](MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int& error) -> size_t {
        if (blockLeft == 0) {
            blockLeft = startBlock(br, error);
            if (error) return 0;
        }
        --blockLeft;
        br.Refill();
        uint32_t c = cTable.Decode(br);
        if (c < 256) {
            buf[pos] = static_cast<LzByte>(c);
            return 1;
        }
        if (c >= static_cast<uint32_t>(kSymbols)) {
            error = E_BadHuffmanCode;
            return 0;
        }
        if (c == static_cast<uint32_t>(kEscape)) c += br.Get(8);
        size_t len = c - 253;
        uint32_t upper = pTable.Decode(br);
        if (upper >= static_cast<uint32_t>(kPositionSymbols)) {
            error = E_BadHuffmanCode;
            return 0;
        }
        size_t dist = (upper << 6) | br.Get(6);
        if (len > room) len = room;
        LzCopy(buf, pos, dist + 1, len);
        return len;
    };
    return DriveLzDecoder(input, w, cancel, step);
}

}  // namespace varnok
