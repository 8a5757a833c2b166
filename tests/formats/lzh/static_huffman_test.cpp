// Hand-made static-Huffman streams: the single-code forms, per-format history contents, the output
// bound, and corrupt or truncated input.
#include <gtest/gtest.h>

#include "archive/core/errors.h"
#include "archive/codecs/static_huffman.h"
#include "tests/formats/lzh/lzh_test_util.h"

namespace varnok {
namespace {

using test::BitWriter;

DecodeResult Decode(const StaticHuffmanParams& p, const std::vector<uint8_t>& in, uint64_t unpacked,
                    std::vector<uint8_t>* out = nullptr, const CancelFlag* cancel = nullptr) {
    MemorySource src(in.data(), in.size());
    test::HashSink sink(true);
    auto r = DecodeStaticHuffman(p, src, in.size(), sink, unpacked, cancel);
    EXPECT_EQ(r.produced, sink.size);
    EXPECT_LE(sink.size, unpacked);
    if (out) *out = sink.data;
    return r;
}

// A block whose three tables are all of the single-code form: every code of the block is
// `symbol` and, for matches, every position code is `position` (no code bits at all).
void PutSingleCodeBlock(BitWriter& w, const StaticHuffmanParams& p, uint32_t count, uint32_t symbol,
                        uint32_t position = 0) {
    w.Put(count, 16);
    w.Put(0, 5), w.Put(0, 5);  // code-length code: single symbol 0 (unused)
    w.Put(0, 9), w.Put(symbol, 9);
    w.Put(0, p.pBit), w.Put(position, p.pBit);
}

// A block with a real two-symbol literal code: 'a' is 0 and 'b' is 1. The code-length code has
// two symbols of one bit (2: a run of 20 or more zeros; 3: length 1).
void PutTwoLiteralHeader(BitWriter& w, const StaticHuffmanParams& p, uint32_t count) {
    w.Put(count, 16);
    w.Put(4, 5);                            // four code-length-code lengths
    w.Put(0, 3), w.Put(0, 3), w.Put(1, 3);  // symbols 0, 1 unused; symbol 2: 1 bit
    w.Put(0, 2);                            // no zeros after the third
    w.Put(1, 3);                            // symbol 3: 1 bit
    w.Put(99, 9);                           // 99 literal/length lengths
    w.Put(0, 1), w.Put(97 - 20, 9);         // 97 zeros
    w.Put(1, 1), w.Put(1, 1);               // 'a' and 'b' get length 1
    w.Put(0, p.pBit), w.Put(0, p.pBit);     // position code: single, unused
}

TEST(StaticHuffman, SingleLiteralCodeRepeatsWithoutReadingCodeBits) {
    BitWriter w;
    PutSingleCodeBlock(w, kLh5Params, 1000, 'A');
    std::vector<uint8_t> out;
    auto r = Decode(kLh5Params, w.Finish(), 1000, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, std::vector<uint8_t>(1000, 'A'));
}

TEST(StaticHuffman, HistoryBeforeTheFirstByteIsSpacesForLhaAndZerosElsewhere) {
    // Matches of 3 at distance 1 from the very start copy what the history holds.
    for (auto [params, fill] :
         {std::pair{kLh5Params, uint8_t{0x20}}, std::pair{kLh7Params, uint8_t{0x20}},
          std::pair{kZooMethod2Params, uint8_t{0}}, std::pair{kArjMethod1to3Params, uint8_t{0}}}) {
        BitWriter w;
        PutSingleCodeBlock(w, params, 10, 256, 0);
        std::vector<uint8_t> out;
        auto r = Decode(params, w.Finish(), 30, &out);
        EXPECT_EQ(r.status, DecodeStatus::Ok);
        EXPECT_EQ(out, std::vector<uint8_t>(30, fill));
    }
}

TEST(StaticHuffman, OutputStopsAtTheEntrySizeEvenInsideAMatch) {
    BitWriter w;
    PutSingleCodeBlock(w, kLh6Params, 100, 509, 0);  // matches of 256
    std::vector<uint8_t> out;
    auto r = Decode(kLh6Params, w.Finish(), 1000, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out.size(), 1000u);
}

TEST(StaticHuffman, RealCodeDecodesBitsAndMultipleBlocksFollowEachOther) {
    BitWriter w;
    PutTwoLiteralHeader(w, kLh5Params, 8);
    w.Put(0b01101001, 8);
    PutSingleCodeBlock(w, kLh5Params, 3, 'z');
    std::vector<uint8_t> out;
    auto r = Decode(kLh5Params, w.Finish(), 11, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abbabaabzzz");
}

TEST(StaticHuffman, CorruptTablesAndBlocksAreReported) {
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        int code;
    };
    std::vector<Case> cases;
    {
        BitWriter w;  // a block of no codes
        w.Put(0, 16);
        cases.push_back({"zero block size", w.Finish(), E_BadBlock});
    }
    {
        BitWriter w;  // code-length code with three 1-bit codes (over-subscribed)
        w.Put(10, 16);
        w.Put(3, 5), w.Put(1, 3), w.Put(1, 3), w.Put(1, 3), w.Put(0, 2);
        cases.push_back({"over-subscribed code", w.Finish(), E_BadHuffmanCode});
    }
    {
        BitWriter w;  // code-length code with a single 1-bit code (incomplete)
        w.Put(10, 16);
        w.Put(1, 5), w.Put(1, 3);
        cases.push_back({"incomplete code", w.Finish(), E_BadHuffmanCode});
    }
    {
        BitWriter w;  // a length of 17 in unary form
        w.Put(10, 16);
        w.Put(1, 5), w.Put(7, 3), w.Put(0x3FF, 10), w.Put(0, 1);
        cases.push_back({"code longer than 16 bits", w.Finish(), E_BadHuffmanCode});
    }
    {
        BitWriter w;  // more literal/length lengths than symbols
        w.Put(10, 16);
        w.Put(0, 5), w.Put(3, 5);
        w.Put(511, 9);
        cases.push_back({"511 literal lengths", w.Finish(), E_BadHuffmanCode});
    }
    {
        BitWriter w;  // single literal/length symbol outside the alphabet
        w.Put(10, 16);
        w.Put(0, 5), w.Put(0, 5), w.Put(0, 9), w.Put(510, 9);
        cases.push_back({"symbol 510", w.Finish(), E_BadHuffmanCode});
    }
    {
        BitWriter w;  // zero run past the literal count
        w.Put(10, 16);
        w.Put(0, 5), w.Put(2, 5);  // every code-length code is "run of 20+"
        w.Put(5, 9), w.Put(0, 9);
        cases.push_back({"zero run past the count", w.Finish(), E_BadHuffmanCode});
    }
    {
        BitWriter w;  // position code 14 with -lh5- (the dictionary has 8 KiB)
        PutSingleCodeBlock(w, kLh5Params, 5, 256, 14);
        w.Put(0, 16);
        cases.push_back({"position code beyond the dictionary", w.Finish(), E_CorruptInput});
    }
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = Decode(kLh5Params, c.stream, 5000);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.errorCode, c.code);
        EXPECT_EQ(r.produced, 0u);
    }
}

TEST(StaticHuffman, ArjDistanceBeyondTheDictionaryIsCorrupt) {
    // Position code 16 with 15 one-bits: distance 65535, beyond ARJ's 26624 bytes. The same code
    // with 15 zero-bits (32768) is beyond too; 26623 would be the farthest allowed.
    BitWriter w;
    PutSingleCodeBlock(w, kArjMethod1to3Params, 5, 'x');
    PutSingleCodeBlock(w, kArjMethod1to3Params, 5, 256, 16);
    w.Put(0x7FFF, 15);
    std::vector<uint8_t> out;
    auto r = Decode(kArjMethod1to3Params, w.Finish(), 100, &out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_CorruptInput);
    EXPECT_EQ(out, std::vector<uint8_t>(5, 'x'));  // what came before is delivered
}

TEST(StaticHuffman, TruncatedInputIsReportedAfterWhatCouldBeDecoded) {
    BitWriter w;
    PutTwoLiteralHeader(w, kLh5Params, 4000);
    for (int i = 0; i < 4000 / 8; ++i)
        w.Put(0x5A, 8);
    auto full = w.Finish();
    std::vector<uint8_t> out;
    EXPECT_EQ(Decode(kLh5Params, full, 4000, &out).status, DecodeStatus::Ok);
    auto cut = std::vector<uint8_t>(full.begin(), full.end() - 100);
    auto r = Decode(kLh5Params, cut, 4000, &out);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_EQ(r.errorCode, E_UnexpectedEof);
    EXPECT_LT(out.size(), 4000u);
    EXPECT_EQ(r.consumed, cut.size());
}

TEST(StaticHuffman, ZeroSizeReadsNothingAndCancelStops) {
    std::vector<uint8_t> junk(100, 0xFF);
    auto r = Decode(kLh5Params, junk, 0);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(r.consumed, 0u);

    BitWriter w;
    PutSingleCodeBlock(w, kLh5Params, 60000, 'c');
    CancelFlag cancel{true};
    r = Decode(kLh5Params, w.Finish(), 60000, nullptr, &cancel);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
    EXPECT_EQ(r.produced, 0u);
}

TEST(StaticHuffman, DecoderInstanceIsReusableAcrossEntries) {
    StaticHuffmanDecoder d(kLh5Params);
    for (int round = 0; round < 2; ++round) {
        BitWriter w;
        PutTwoLiteralHeader(w, kLh5Params, 8);
        w.Put(0xF0, 8);
        auto in = w.Finish();
        MemorySource src(in.data(), in.size());
        test::HashSink sink(true);
        auto r = d.Decode(src, in.size(), sink, 8);
        EXPECT_EQ(r.status, DecodeStatus::Ok);
        EXPECT_EQ(std::string(sink.data.begin(), sink.data.end()), "bbbbaaaa");
    }
}

}  // namespace
}  // namespace varnok
