// Implode (ZIP method 6): a sliding dictionary of 4 or 8 KiB whose literals, match lengths and the high six
// bits of match distances are coded with Shannon-Fano trees stored at the start of the data.
#include <algorithm>
#include <cstring>

#include "archive/core/errors.h"
#include "archive/formats/zip/legacy.h"
#include "archive/formats/zip/legacy_io.h"

namespace varnok {

namespace {

// A binary decoding tree in a node array of twice the symbol count: indices below the symbol count are the
// symbols, internal nodes are taken downwards from the root, which is the last node.
class ShannonFanoTree {
  public:
    enum class Result { Ok, Truncated, Ambiguous, Unreadable };

    // Reads the compressed tree description and builds the tree for `symbols` (64 or 256) symbols.
    Result Read(LsbBitReader& in, unsigned symbols) {
        symbols_ = symbols;
        uint8_t lengths[256];
        uint32_t count;
        if (!in.Read(8, count)) return Result::Truncated;
        unsigned filled = 0;
        for (uint32_t i = 0; i <= count; ++i) {
            uint32_t b;
            if (!in.Read(8, b)) return Result::Truncated;
            const unsigned run = (b >> 4) + 1, length = (b & 15) + 1;
            if (run > symbols - filled) return Result::Unreadable;  // more lengths than symbols
            std::fill(lengths + filled, lengths + filled + run, static_cast<uint8_t>(length));
            filled += run;
        }
        if (filled != symbols) return Result::Unreadable;
        return Build(lengths);
    }

    // Walks the tree one bit at a time from the root.
    Result Decode(LsbBitReader& in, unsigned& symbol) const {
        unsigned node = Root();
        for (;;) {
            uint32_t bit;
            if (!in.Read(1, bit)) return Result::Truncated;
            const int child = nodes_[node].child[bit];
            if (child < 0) return Result::Ambiguous;  // a code the tree does not have
            if (static_cast<unsigned>(child) < symbols_) {
                symbol = static_cast<unsigned>(child);
                return Result::Ok;
            }
            node = static_cast<unsigned>(child);
        }
    }

  private:
    struct Node {
        int16_t child[2];
    };

    unsigned Root() const { return 2 * symbols_ - 1; }

    // Codes are given out from the last symbol in (length, symbol) order to the first: each code is the top
    // `length` bits of a 16-bit counter that grows by 2^(16 - length).
    Result Build(const uint8_t* lengths) {
        uint16_t order[256];
        for (unsigned s = 0; s < symbols_; ++s)
            order[s] = static_cast<uint16_t>(s);
        std::stable_sort(order, order + symbols_,
                         [&](uint16_t a, uint16_t b) { return lengths[a] < lengths[b]; });
        for (unsigned i = 0; i < 2 * symbols_; ++i)
            nodes_[i].child[0] = nodes_[i].child[1] = -1;
        nextNode_ = Root() - 1;
        uint32_t code = 0, increment = 0;
        unsigned lastLength = 0;
        for (unsigned i = symbols_; i-- > 0;) {
            const unsigned sym = order[i];
            code = (code + increment) & 0xFFFF;
            if (lengths[sym] != lastLength) {
                lastLength = lengths[sym];
                increment = 1u << (16 - lastLength);
            }
            const Result r = Insert(code >> (16 - lastLength), lastLength, sym);
            if (r != Result::Ok) return r;
        }
        return Result::Ok;
    }

    // Inserts a code of `length` bits, most significant bit first.
    Result Insert(uint32_t code, unsigned length, unsigned symbol) {
        unsigned node = Root();
        for (unsigned i = length; i-- > 1;) {
            const unsigned bit = (code >> i) & 1;
            int child = nodes_[node].child[bit];
            if (child < 0) {
                if (nextNode_ < symbols_)
                    return Result::Ambiguous;  // more internal nodes than a code can need
                child = static_cast<int>(nextNode_--);
                nodes_[node].child[bit] = static_cast<int16_t>(child);
            } else if (static_cast<unsigned>(child) < symbols_) {
                return Result::Ambiguous;  // a shorter code is a prefix of this one
            }
            node = static_cast<unsigned>(child);
        }
        int16_t& slot = nodes_[node].child[code & 1];
        if (slot >= 0) return Result::Ambiguous;  // the place is taken
        slot = static_cast<int16_t>(symbol);
        return Result::Ok;
    }

    unsigned symbols_ = 0;
    unsigned nextNode_ = 0;
    Node nodes_[512];
};

}  // namespace

DecodeResult Explode(ByteSource& source, ByteSink& sink, uint16_t gpFlags, uint64_t uncompressedSize,
                     const CancelFlag* cancel) {
    CodecInput input(source);  // not given the cancel flag: a cancel must not look like the end of the data
    LsbBitReader in(input);
    HistoryOutput out(sink, uncompressedSize, cancel);
    LegacyRun run(in, out, uncompressedSize);
    auto fail = [&](ShannonFanoTree::Result r) {
        if (r == ShannonFanoTree::Result::Truncated) return run.Truncated();
        return run.Fail(r == ShannonFanoTree::Result::Ambiguous ? E_AmbiguousTree : E_BadBlock);
    };
    if (uncompressedSize == 0) return run.End();
    if (out.Cancelled()) return run.Cancelled();

    const bool bigWindow = (gpFlags & 2) != 0;
    const bool literalTree = (gpFlags & 4) != 0;
    const unsigned lowDistanceBits = bigWindow ? 7 : 6;
    const unsigned minMatch = literalTree ? 3 : 2;

    auto trees = std::make_unique<ShannonFanoTree[]>(3);
    ShannonFanoTree& literals = trees[0];
    ShannonFanoTree& lengths = trees[1];
    ShannonFanoTree& distances = trees[2];
    ShannonFanoTree::Result r;
    if (literalTree && (r = literals.Read(in, 256)) != ShannonFanoTree::Result::Ok) return fail(r);
    if ((r = lengths.Read(in, 64)) != ShannonFanoTree::Result::Ok) return fail(r);
    if ((r = distances.Read(in, 64)) != ShannonFanoTree::Result::Ok) return fail(r);

    while (!out.Full()) {
        if (out.Cancelled()) return run.Cancelled();
        uint32_t flag;
        if (!in.Read(1, flag)) break;
        if (flag) {
            unsigned literal;
            if (literalTree) {
                r = literals.Decode(in, literal);
                if (r == ShannonFanoTree::Result::Truncated) break;
                if (r != ShannonFanoTree::Result::Ok) return fail(r);
            } else {
                uint32_t raw;
                if (!in.Read(8, raw)) break;
                literal = raw;
            }
            out.Put(static_cast<uint8_t>(literal));
            continue;
        }
        uint32_t low;
        if (!in.Read(lowDistanceBits, low)) break;
        unsigned high, length;
        r = distances.Decode(in, high);
        if (r == ShannonFanoTree::Result::Truncated) break;
        if (r != ShannonFanoTree::Result::Ok) return fail(r);
        r = lengths.Decode(in, length);
        if (r == ShannonFanoTree::Result::Truncated) break;
        if (r != ShannonFanoTree::Result::Ok) return fail(r);
        if (length == 63) {
            uint32_t more;
            if (!in.Read(8, more)) break;
            length += more;
        }
        length += minMatch;
        const size_t distance = ((size_t{high} << lowDistanceBits) | low) + 1;
        out.Copy(distance, static_cast<size_t>(std::min<uint64_t>(length, out.Room())));
    }
    return run.End();
}

}  // namespace varnok
