#include "archive/codecs/static_huffman.h"

#include <array>

#include "archive/codecs/huffman_table.h"
#include "archive/codecs/lz_driver.h"
#include "archive/core/errors.h"

namespace varnok {

namespace {

constexpr int kNC = 510;              // 256 literals + lengths 3..256
constexpr int kCBit = 9;              // width of the literal/length count
constexpr int kNT = 19;               // code-length code symbols
constexpr int kTBit = 5;              // width of the code-length code count
constexpr int kMaxMatch = 256;        // longest match
constexpr int kLengthBias = 253;      // symbol 256 is a match of 3
constexpr int kMaxSmallSymbols = 32;  // a 5-bit count names at most 31 lengths, plus a zero run

enum class TableStatus { Ok, Bad };

}  // namespace

struct StaticHuffmanDecoder::State {
    State() : cTable(12), ptTable(8), pTable(8) {}
    HuffmanDecodeTable cTable;   // literal/length code
    HuffmanDecodeTable ptTable;  // code-length code
    HuffmanDecodeTable pTable;   // position code
    std::array<uint8_t, kNC> cLen{};
    std::array<uint8_t, kMaxSmallSymbols + 4> ptLen{};
};

namespace {

// Reads the lengths of a small code (the code-length code or the position code) and builds its
// table. `countBits` is the width of the count field; `zeroRunAfter` is the index after which a
// 2-bit count of zero lengths follows (or -1).
TableStatus ReadSmallTable(MsbBitReader& br, HuffmanDecodeTable& table, uint8_t* len, int countBits,
                           int zeroRunAfter) {
    br.Refill();
    int n = static_cast<int>(br.Get(countBits));
    if (n == 0) {
        table.SetSingle(br.Get(countBits));
        return TableStatus::Ok;
    }
    // The count field can name up to 31 symbols; symbols beyond the alphabet are refused when used.
    int i = 0;
    while (i < n) {
        br.Refill();
        int c = static_cast<int>(br.Peek(3));
        br.Skip(3);
        if (c == 7) {
            while (br.Get(1)) {
                if (++c > HuffmanDecodeTable::kMaxBits) return TableStatus::Bad;
            }
        }
        len[i++] = static_cast<uint8_t>(c);
        if (i == zeroRunAfter) {
            // Encoders may count zeros past the last coded length; they are zeros either way.
            int z = static_cast<int>(br.Get(2));
            if (i + z > kMaxSmallSymbols) return TableStatus::Bad;
            while (z-- > 0)
                len[i++] = 0;
        }
    }
    return table.Build(len, i) ? TableStatus::Ok : TableStatus::Bad;
}

TableStatus ReadLiteralTable(MsbBitReader& br, HuffmanDecodeTable& table, HuffmanDecodeTable& ptTable,
                             uint8_t* len) {
    br.Refill();
    int n = static_cast<int>(br.Get(kCBit));
    if (n == 0) {
        uint32_t c = br.Get(kCBit);
        if (c >= static_cast<uint32_t>(kNC)) return TableStatus::Bad;
        table.SetSingle(c);
        return TableStatus::Ok;
    }
    if (n > kNC) return TableStatus::Bad;
    int i = 0;
    while (i < n) {
        br.Refill();
        uint32_t c = ptTable.Decode(br);
        if (c >= static_cast<uint32_t>(kNT)) return TableStatus::Bad;
        if (c <= 2) {
            int run = c == 0   ? 1
                      : c == 1 ? static_cast<int>(br.Get(4)) + 3
                               : static_cast<int>(br.Get(kCBit)) + 20;
            if (i + run > n) return TableStatus::Bad;
            while (run-- > 0)
                len[i++] = 0;
        } else {
            len[i++] = static_cast<uint8_t>(c - 2);
        }
    }
    return table.Build(len, n) ? TableStatus::Ok : TableStatus::Bad;
}

}  // namespace

// A block's code count and its three tables. Kept out of the decoding loop (it runs once per block);
// the loop's reader goes in and comes out by value, and nothing of the loop's is passed by reference.
[[gnu::noinline]] StaticHuffmanDecoder::Block StaticHuffmanDecoder::StartBlock(MsbBitReader br, State& st,
                                                                               int pBit) {
    br.Refill();
    uint32_t count = br.Get(16);
    if (count == 0) return {br, 0, E_BadBlock};
    if (ReadSmallTable(br, st.ptTable, st.ptLen.data(), kTBit, 3) != TableStatus::Ok ||
        ReadLiteralTable(br, st.cTable, st.ptTable, st.cLen.data()) != TableStatus::Ok ||
        ReadSmallTable(br, st.pTable, st.ptLen.data(), pBit, -1) != TableStatus::Ok)
        return {br, 0, E_BadHuffmanCode};
    return {br, count, 0};
}

StaticHuffmanDecoder::StaticHuffmanDecoder(const StaticHuffmanParams& params)
    : params_(params), state_(std::make_unique<State>()) {}

StaticHuffmanDecoder::~StaticHuffmanDecoder() = default;

DecodeResult StaticHuffmanDecoder::Decode(ByteSource& in, uint64_t packedSize, ByteSink& out,
                                          uint64_t unpackedSize, const CancelFlag* cancel) {
    State& st = *state_;
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);

    MsbBitInput input(in, packedSize);
    LzOutput w(out, unpackedSize, params_.history, kMaxMatch, params_.initialFill);
    const uint32_t np = static_cast<uint32_t>(params_.dicBit + 1);
    const size_t history = params_.history;
    const int pBit = params_.pBit;
    uint32_t blockLeft = 0;

    auto step = [&](MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int& error) -> size_t {
        if (blockLeft == 0) {
            const Block b = StartBlock(br, st, pBit);
            br = b.reader;
            blockLeft = b.count;
            if (b.error) {
                error = b.error;
                return 0;
            }
        }
        --blockLeft;
        br.Refill();
        uint32_t c = st.cTable.Decode(br);
        if (c < 256) {
            buf[pos] = static_cast<LzByte>(c);
            return 1;
        }
        if (c >= static_cast<uint32_t>(kNC)) {
            error = E_BadHuffmanCode;
            return 0;
        }
        size_t len = c - kLengthBias;
        uint32_t j = st.pTable.Decode(br);
        if (j >= np) {
            error = j == HuffmanDecodeTable::kInvalid ? E_BadHuffmanCode : E_CorruptInput;
            return 0;
        }
        size_t dist = j == 0 ? 0 : (size_t{1} << (j - 1)) + (j > 1 ? br.Peek(static_cast<int>(j - 1)) : 0);
        if (j > 1) br.Skip(static_cast<int>(j - 1));
        if (dist >= history) {
            error = E_CorruptInput;
            return 0;
        }
        if (len > room) len = room;
        LzCopy(buf, pos, dist + 1, len);
        return len;
    };
    return DriveLzDecoder(input, w, cancel, step);
}

DecodeResult DecodeStaticHuffman(const StaticHuffmanParams& params, ByteSource& in, uint64_t packedSize,
                                 ByteSink& out, uint64_t unpackedSize, const CancelFlag* cancel) {
    StaticHuffmanDecoder d(params);
    return d.Decode(in, packedSize, out, unpackedSize, cancel);
}

}  // namespace varnok
