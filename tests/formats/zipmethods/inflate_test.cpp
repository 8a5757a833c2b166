// Inflate on streams made by zlib and on hand-built streams: every block type and mix, window and buffer
// edges, input in small pieces, bytes after the stream, and every way the data can break the format.
#include <gtest/gtest.h>
#include <zlib.h>

#include <numeric>

#include "archive/core/errors.h"
#include "archive/codecs/inflate.h"
#include "archive/formats/zip/zip_method.h"
#include "tests/formats/zipmethods/test_util.h"

namespace varnok {
namespace {

using test::BitWriter;
using test::DeflateWriter;

struct Decoded {
    DecodeResult result;
    std::vector<uint8_t> data;
};

Decoded Inflate(const std::vector<uint8_t>& in, Inflater::Format format = Inflater::Format::Deflate,
                size_t piece = 0) {
    Inflater inf(format);
    VectorSink sink;
    Decoded d;
    if (piece) {
        test::TrickleSource src(in, piece);
        d.result = inf.Decode(src, sink);
    } else {
        MemorySource src(in);
        d.result = inf.Decode(src, sink);
    }
    d.data = std::move(sink.Data());
    return d;
}

void ExpectDecodes(const std::vector<uint8_t>& compressed, const std::vector<uint8_t>& original,
                   size_t piece = 0) {
    const Decoded d = Inflate(compressed, Inflater::Format::Deflate, piece);
    ASSERT_EQ(d.result.status, DecodeStatus::Ok) << "error " << d.result.errorCode;
    EXPECT_EQ(d.result.produced, original.size());
    EXPECT_EQ(d.result.consumed, compressed.size());
    ASSERT_EQ(d.data.size(), original.size());
    EXPECT_TRUE(d.data == original);
}

// ---------------------------------------------------------------------------------------------------------
// Streams made by zlib

TEST(InflateZlib, EveryLevelAndStrategyOverEveryKindOfData) {
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> inputs = {
        {"text", test::TextData(300000, 1)},
        {"random", test::RandomData(100000, 2)},
        {"runs", test::RunData(300000, 3)},
        {"mixed", test::MixedData(600000, 4)},
    };
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    for (const auto& [name, data] : inputs) {
        for (int level : {0, 1, 6, 9}) {
            for (int strategy : strategies) {
                if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;
                SCOPED_TRACE(std::string(name) + " level " + std::to_string(level) + " strategy " +
                             std::to_string(strategy));
                ExpectDecodes(test::ZlibDeflate(data, level, strategy), data);
            }
        }
    }
}

TEST(InflateZlib, SizesAroundTheWindowAndTheOutputBuffer) {
    // 32 KiB is the window; the output buffer is written out and slid every 256 KiB.
    const std::vector<uint8_t> base = test::MixedData(1 << 20, 5);
    for (size_t size :
         {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{257}, size_t{32767}, size_t{32768},
          size_t{32769}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{262143}, size_t{262144},
          size_t{262145}, size_t{294911}, size_t{294912}, size_t{294913}, size_t{1} << 20}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> data(base.begin(), base.begin() + static_cast<ptrdiff_t>(size));
        ExpectDecodes(test::ZlibDeflate(data, 6), data);
        ExpectDecodes(test::ZlibDeflate(data, 0), data);
    }
}

TEST(InflateZlib, MatchesReachingExactlyOneWindowBack) {
    // Blocks that repeat what was written exactly 32768 bytes before, many times over several buffer slides.
    std::vector<uint8_t> data = test::RandomData(32768, 6);
    while (data.size() < 1500000)
        data.push_back(data[data.size() - 32768]);
    ExpectDecodes(test::ZlibDeflate(data, 9), data);
    ExpectDecodes(test::ZlibDeflate(data, 1), data);
}

TEST(InflateZlib, SmallerWindowsAndLongRuns) {
    const std::vector<uint8_t> text = test::TextData(200000, 7);
    for (int bits = 9; bits <= 15; ++bits)
        ExpectDecodes(test::ZlibDeflate(text, 9, Z_DEFAULT_STRATEGY, bits), text);
    const std::vector<uint8_t> zeros(3000000, 0);  // one long run of distance-1 matches of 258
    ExpectDecodes(test::ZlibDeflate(zeros, 9), zeros);
    std::vector<uint8_t> periods;
    for (int period = 2; period < 40; ++period)
        for (int i = 0; i < 5000; ++i)
            periods.push_back(static_cast<uint8_t>('a' + i % period));
    ExpectDecodes(test::ZlibDeflate(periods, 9), periods);
}

TEST(InflateZlib, MixedBlockTypesWithFlushPoints) {
    // Stored, fixed, filtered and default blocks alternate, separated by empty stored blocks (flush points);
    // fixed blocks come after dynamic ones and the other way round.
    const std::vector<uint8_t> data = test::MixedData(800000, 8);
    for (size_t every : {size_t{1000}, size_t{4096}, size_t{33000}, size_t{100000}}) {
        SCOPED_TRACE(every);
        ExpectDecodes(test::ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY, 15, every), data);
    }
}

// ---------------------------------------------------------------------------------------------------------
// What follows the stream

TEST(InflateTrailing, BytesAfterTheStreamAreHandedBackExactly) {
    const std::vector<uint8_t> trailer = {'T', 'R', 'A', 'I', 'L', 0xFF, 0x00, 0x12, 0x34, 0x56, 0x78};
    for (int level : {0, 1, 9}) {
        for (size_t size : {size_t{0}, size_t{5}, size_t{1000}, size_t{70000}}) {
            const std::vector<uint8_t> data = test::TextData(size, 10);
            std::vector<uint8_t> stream = test::ZlibDeflate(data, level);
            const size_t streamSize = stream.size();
            stream.insert(stream.end(), trailer.begin(), trailer.end());
            for (size_t piece : {size_t{0}, size_t{1}, size_t{5}}) {
                SCOPED_TRACE("level " + std::to_string(level) + " size " + std::to_string(size) + " piece " +
                             std::to_string(piece));
                Inflater inf;
                VectorSink sink;
                test::TrickleSource src(stream, piece ? piece : stream.size());
                const DecodeResult r = inf.Decode(src, sink);
                ASSERT_TRUE(r.Ok());
                EXPECT_EQ(r.consumed, streamSize);
                EXPECT_TRUE(sink.Data() == data);
                // What was read past the end, followed by what the source still has, is the trailer.
                std::vector<uint8_t> rest(inf.Unconsumed().begin(), inf.Unconsumed().end());
                uint8_t buf[64];
                for (size_t n; (n = src.Read(buf, sizeof buf)) != 0;)
                    rest.insert(rest.end(), buf, buf + n);
                EXPECT_TRUE(rest == trailer);
            }
        }
    }
}

TEST(InflateTrailing, ConsecutiveStreamsThroughOneInflater) {
    // Two members one after the other, as GZIP chains them; the second starts with the first's leftovers.
    const std::vector<uint8_t> a = test::TextData(50000, 11), b = test::RunData(70000, 12);
    std::vector<uint8_t> both = test::ZlibDeflate(a, 9);
    const std::vector<uint8_t> second = test::ZlibDeflate(b, 1);
    both.insert(both.end(), second.begin(), second.end());
    MemorySource src(both);
    Inflater inf;
    VectorSink first;
    ASSERT_TRUE(inf.Decode(src, first).Ok());
    EXPECT_TRUE(first.Data() == a);
    PrefixedSource rest(inf.Unconsumed(), src);
    VectorSink next;
    const DecodeResult r = inf.Decode(rest, next);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.consumed, second.size());
    EXPECT_TRUE(next.Data() == b);
    EXPECT_TRUE(inf.Unconsumed().empty());
}

// ---------------------------------------------------------------------------------------------------------
// Hand-built streams

// A fixed-code block holding the given symbols: literals (< 256), or {length symbol, extra bits, extra
// count, distance symbol, extra bits, extra count} as separate entries of a match.
struct Match {
    unsigned lengthSymbol, lengthExtra, lengthExtraBits, distSymbol, distExtra, distExtraBits;
};

void FixedMatch(DeflateWriter& d, const Match& m) {
    d.FixedLitLen(m.lengthSymbol);
    d.w.Bits(m.lengthExtra, m.lengthExtraBits);
    d.FixedDistance(m.distSymbol);
    d.w.Bits(m.distExtra, m.distExtraBits);
}

std::vector<uint8_t> StoredBlock(const std::vector<uint8_t>& data, bool last) {
    BitWriter w;
    w.Bits(last, 1);
    w.Bits(0, 2);
    w.AlignToByte();
    std::vector<uint8_t> out = w.Finish();
    out.push_back(static_cast<uint8_t>(data.size()));
    out.push_back(static_cast<uint8_t>(data.size() >> 8));
    out.push_back(static_cast<uint8_t>(~data.size()));
    out.push_back(static_cast<uint8_t>(~data.size() >> 8));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST(InflateBuilt, FixedBlockLiteralsMatchesAndOverlappingCopies) {
    DeflateWriter d;
    d.w.Bits(1, 1);
    d.w.Bits(1, 2);
    for (char c : std::string("abc"))
        d.FixedLitLen(static_cast<uint8_t>(c));
    FixedMatch(d, {257, 0, 0, 2, 0, 0});   // length 3, distance 3: "abc"
    FixedMatch(d, {265, 1, 1, 0, 0, 0});   // length 12, distance 1: "cccccccccccc"
    FixedMatch(d, {284, 30, 5, 4, 1, 1});  // length 257 (227 + 30), distance 6 (5 + 1)
    FixedMatch(d, {285, 0, 0, 3, 0, 0});   // length 258, distance 4
    d.FixedLitLen(256);
    std::string expected = "abcabc" + std::string(12, 'c');
    for (int i = 0; i < 257; ++i)
        expected.push_back(expected[expected.size() - 6]);
    for (int i = 0; i < 258; ++i)
        expected.push_back(expected[expected.size() - 4]);
    const Decoded r = Inflate(d.w.Finish());
    ASSERT_TRUE(r.result.Ok());
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), expected);
}

TEST(InflateBuilt, MatchReachingTheFirstByteIsValidOneFurtherIsNot) {
    for (unsigned distSymbol : {1u, 2u}) {  // distance 2 reaches the first of two bytes; 3 would be before it
        DeflateWriter d;
        d.w.Bits(1, 1);
        d.w.Bits(1, 2);
        d.FixedLitLen('x');
        d.FixedLitLen('y');
        FixedMatch(d, {257, 0, 0, distSymbol, 0, 0});
        d.FixedLitLen(256);
        const Decoded r = Inflate(d.w.Finish());
        if (distSymbol == 1) {
            ASSERT_TRUE(r.result.Ok());
            EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "xyxyx");
        } else {
            EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
            EXPECT_EQ(r.result.errorCode, E_CorruptInput);
            EXPECT_EQ(r.data.size(), 2u);  // what came before the bad match is delivered
        }
    }
}

TEST(InflateBuilt, DistanceBeforeTheStartAfterManyBytesOfOutput) {
    // The check must hold at any position, also in the fast path: 1000 literals, then distance 1025.
    DeflateWriter d;
    d.w.Bits(1, 1);
    d.w.Bits(1, 2);
    for (int i = 0; i < 1000; ++i)
        d.FixedLitLen('a' + i % 26);
    FixedMatch(d, {257, 0, 0, 20, 0, 9});  // distance symbol 20: 1025 + 9 extra bits
    for (int i = 0; i < 1000; ++i)
        d.FixedLitLen('a');  // more data: the match is met in the main loop
    d.FixedLitLen(256);
    const Decoded r = Inflate(d.w.Finish());
    EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.data.size(), 1000u);
}

TEST(InflateBuilt, ReservedCodesAreCorrupt) {
    struct Case {
        unsigned litlen, dist;
    };
    // Length symbols 286 and 287 and distance symbols 30 and 31 have fixed codes but no meaning in Deflate.
    for (Case c : {Case{286, 0}, Case{287, 0}, Case{257, 30}, Case{257, 31}}) {
        DeflateWriter d;
        d.w.Bits(1, 1);
        d.w.Bits(1, 2);
        d.FixedLitLen('a');
        d.FixedLitLen(c.litlen);
        d.FixedDistance(c.dist);
        d.FixedLitLen(256);
        const Decoded r = Inflate(d.w.Finish());
        EXPECT_EQ(r.result.status, DecodeStatus::Corrupt) << c.litlen << " " << c.dist;
        EXPECT_EQ(r.result.errorCode, E_InvalidCode);
    }
}

TEST(InflateBuilt, BlockTypeThreeAndStoredLengthMismatch) {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(3, 2);
    Decoded r = Inflate(w.Finish());
    EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.result.errorCode, E_BadBlock);

    std::vector<uint8_t> stored = StoredBlock({1, 2, 3}, true);
    stored[3] ^= 1;  // NLEN no longer the complement of LEN
    r = Inflate(stored);
    EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.result.errorCode, E_BadBlock);
}

TEST(InflateBuilt, StoredBlocksOfEverySizeUpToTheMaximum) {
    std::vector<uint8_t> stream, expected;
    for (size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65535}, size_t{12345}, size_t{0}}) {
        const std::vector<uint8_t> part = test::RandomData(size, static_cast<uint32_t>(size));
        const std::vector<uint8_t> block = StoredBlock(part, false);
        stream.insert(stream.end(), block.begin(), block.end());
        expected.insert(expected.end(), part.begin(), part.end());
    }
    const std::vector<uint8_t> end = StoredBlock({}, true);
    stream.insert(stream.end(), end.begin(), end.end());
    ExpectDecodes(stream, expected);
    ExpectDecodes(stream, expected, 3);
}

// Code lengths for a dynamic block: literals 'a'..'d', end of block and length 3 (symbol 257) get 3 bits
// (six of eight codes), so 258 and 259 complete the set; two distance codes of one bit.
std::vector<uint8_t> SmallLitLen() {
    std::vector<uint8_t> l(260, 0);
    for (char c : std::string("abcd"))
        l[static_cast<uint8_t>(c)] = 3;
    l[256] = l[257] = l[258] = l[259] = 3;
    return l;
}

TEST(InflateBuilt, DynamicBlockWithHandMadeCodes) {
    const std::vector<uint8_t> lit = SmallLitLen(), dist = {1, 1};
    DeflateWriter d;
    d.DynamicHeader(true, lit, dist);
    const std::vector<uint32_t> lc = test::CanonicalCodes(lit), dc = test::CanonicalCodes(dist);
    for (char c : std::string("abcd"))
        d.w.Code(lc[static_cast<uint8_t>(c)], 3);
    d.w.Code(lc[258], 3);  // length 4
    d.w.Code(dc[1], 1);    // distance 2: "cdcd"
    d.w.Code(lc[256], 3);
    const Decoded r = Inflate(d.w.Finish());
    ASSERT_TRUE(r.result.Ok()) << r.result.errorCode;
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "abcdcdcd");
}

TEST(InflateBuilt, BadCodeSetsFailTheBlock) {
    struct Case {
        const char* what;
        std::vector<uint8_t> lit, dist;
        int error;
    };
    std::vector<Case> cases;
    {
        std::vector<uint8_t> over = SmallLitLen();
        over['e'] = 3;  // nine 3-bit codes
        cases.push_back({"over-subscribed literal/length", over, {1, 1}, E_BadHuffmanCode});
        std::vector<uint8_t> under = SmallLitLen();
        under[259] = 0;  // seven 3-bit codes
        cases.push_back({"incomplete literal/length", under, {1, 1}, E_IncompleteCodeSet});
        cases.push_back({"over-subscribed distance", SmallLitLen(), {1, 1, 1}, E_BadHuffmanCode});
        cases.push_back({"incomplete distance", SmallLitLen(), {2, 2, 2}, E_IncompleteCodeSet});
        std::vector<uint8_t> noEnd = SmallLitLen();
        noEnd[256] = 0;
        noEnd['e'] = 3;
        cases.push_back({"no end-of-block code", noEnd, {1, 1}, E_IncompleteCodeSet});
    }
    for (const Case& c : cases) {
        DeflateWriter d;
        d.DynamicHeader(true, c.lit, c.dist);
        d.w.Bits(0, 32);
        const Decoded r = Inflate(d.w.Finish());
        EXPECT_EQ(r.result.status, DecodeStatus::Corrupt) << c.what;
        EXPECT_EQ(r.result.errorCode, c.error) << c.what;
    }
}

TEST(InflateBuilt, AcceptedIncompleteDistanceSets) {
    // No distance codes at all (a block of literals), and a single one-bit distance code, are accepted as
    // zlib and Info-ZIP accept them; a match in the first case is corrupt.
    for (int variant = 0; variant < 3; ++variant) {
        const std::vector<uint8_t> lit = SmallLitLen();
        const std::vector<uint8_t> dist =
            variant == 1 ? std::vector<uint8_t>{0, 1} : std::vector<uint8_t>{0, 0};
        const std::vector<uint32_t> lc = test::CanonicalCodes(lit);
        DeflateWriter d;
        d.DynamicHeader(true, lit, dist);
        d.w.Code(lc['a'], 3);
        d.w.Code(lc['b'], 3);
        if (variant == 1) {
            d.w.Code(lc[257], 3);
            d.w.Code(0, 1);  // distance symbol 1: distance 2
        }
        if (variant == 2) {
            d.w.Code(lc[257], 3);
            d.w.Code(0, 1);
        }
        d.w.Code(lc[256], 3);
        d.w.Bits(0, 16);  // bytes after the stream, so that a lookup is never short of bits
        const Decoded r = Inflate(d.w.Finish());
        if (variant == 2) {
            EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
            EXPECT_EQ(r.result.errorCode, E_InvalidCode);
        } else {
            ASSERT_TRUE(r.result.Ok()) << variant << " " << r.result.errorCode;
            EXPECT_EQ(std::string(r.data.begin(), r.data.end()), variant == 0 ? "ab" : "ababa");
        }
    }
}

TEST(InflateBuilt, AllDeclarableCodeCountsAreAccepted) {
    // HLIT and HDIST at their maxima (288 and 32 codes) with lengths for the symbols that carry no meaning:
    // the block is fine as long as those symbols are not used (the 5-bit fields cannot declare 289 or 33).
    std::vector<uint8_t> lit(288, 0), dist(32, 0);
    for (int s = 0; s < 256; ++s)
        lit[s] = 9;  // 256 x 2^-9 = 1/2
    for (int s = 256; s < 288; ++s)
        lit[s] = 6;  // 32 x 2^-6 = 1/2
    for (int s = 0; s < 32; ++s)
        dist[s] = 5;  // complete, with 30 and 31
    const std::vector<uint32_t> lc = test::CanonicalCodes(lit), dc = test::CanonicalCodes(dist);
    DeflateWriter d;
    d.DynamicHeader(true, lit, dist);
    d.w.Code(lc['q'], 9);
    d.w.Code(lc[258], 6);  // length 4
    d.w.Code(dc[0], 5);    // distance 1
    d.w.Code(lc[256], 6);
    const Decoded r = Inflate(d.w.Finish());
    ASSERT_TRUE(r.result.Ok()) << r.result.errorCode;
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "qqqqq");
}

TEST(InflateBuilt, CodeLengthRepeatsMustStayInsideTheDeclaredCodes) {
    // Code-length code: every symbol 0..18 has 5 bits except 0..12 with 4 (complete).
    std::vector<uint8_t> pre(19, 4);
    for (unsigned s = 13; s < 19; ++s)
        pre[s] = 5;
    using Sym = std::pair<unsigned, unsigned>;
    struct Case {
        const char* what;
        std::vector<Sym> symbols;
        DecodeStatus status;
        int error;
    };
    // 257 literal/length codes and 1 distance code: 258 lengths in all.
    std::vector<Sym> good;
    good.push_back({18, 138 - 11});  // zeros for 0..137
    good.push_back({18, 97 - 11});   // zeros for 138..234
    good.push_back({1, 0});          // literal 235: one bit
    good.push_back({18, 20 - 11});   // zeros for 236..255
    good.push_back({1, 0});          // end of block: one bit
    good.push_back({1, 0});          // the one distance code: one bit
    const std::vector<Case> cases = {
        {"repeat 16 first", {{16, 0}}, DecodeStatus::Corrupt, E_BadLengths},
        {"18 past the end", {{18, 127}, {18, 127}, {18, 0}}, DecodeStatus::Corrupt, E_BadLengths},
        {"16 past the end", {{18, 127}, {18, 107}, {1, 0}, {16, 3}}, DecodeStatus::Corrupt, E_BadLengths},
        {"17 past the end", {{18, 127}, {18, 108}, {17, 3}}, DecodeStatus::Corrupt, E_BadLengths},
        {"exactly to the end", good, DecodeStatus::Ok, 0},
    };
    for (const Case& c : cases) {
        DeflateWriter d;
        d.DynamicHeaderRaw(true, 257, 1, pre, c.symbols);
        if (c.status == DecodeStatus::Ok) {
            // Literal 235 is code 0, end of block code 1 (both one bit).
            d.w.Code(0, 1);
            d.w.Code(1, 1);
        }
        const Decoded r = Inflate(d.w.Finish());
        EXPECT_EQ(r.result.status, c.status) << c.what;
        EXPECT_EQ(r.result.errorCode, c.error) << c.what;
        if (c.status == DecodeStatus::Ok) {
            EXPECT_EQ(r.data, std::vector<uint8_t>{235}) << c.what;
        }
    }
}

TEST(InflateBuilt, BadCodeLengthCodes) {
    std::vector<uint8_t> over(19, 4);  // nineteen 4-bit codes
    std::vector<uint8_t> under(19, 0);
    under[1] = under[2] = 2;  // half the code space
    for (const auto& [pre, error] :
         {std::pair{over, E_BadHuffmanCode}, std::pair{under, E_IncompleteCodeSet}}) {
        BitWriter w;
        w.Bits(1, 1);
        w.Bits(2, 2);
        w.Bits(0, 5);
        w.Bits(0, 5);
        w.Bits(15, 4);
        static const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        for (unsigned s : order)
            w.Bits(pre[s], 3);
        w.Bits(0, 32);
        const Decoded r = Inflate(w.Finish());
        EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.result.errorCode, error);
    }
}

TEST(InflateBuilt, EveryTruncationIsReportedAndKeepsTheGoodPrefix) {
    const std::vector<uint8_t> data = test::MixedData(40000, 13);
    std::vector<uint8_t> comp = test::ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY, 15, 9000);
    ASSERT_TRUE(Inflate(comp).result.Ok());
    for (size_t n = 0; n < comp.size(); n += (n < 300 || comp.size() - n < 300) ? 1 : 97) {
        const std::vector<uint8_t> cut(comp.begin(), comp.begin() + static_cast<ptrdiff_t>(n));
        const Decoded r = Inflate(cut);
        ASSERT_EQ(r.result.status, DecodeStatus::Truncated) << n;
        EXPECT_EQ(r.result.errorCode, E_UnexpectedEof);
        ASSERT_LE(r.data.size(), data.size());
        EXPECT_TRUE(std::equal(r.data.begin(), r.data.end(), data.begin())) << n;
    }
}

TEST(InflateBuilt, LongestCodesWithTheMostExtraBits) {
    // Code lengths 1, 2, ..., 14, 15, 15: the longest codes go to the longest length and distance symbols
    // (most extra bits), so one match takes 15 + 5 + 15 + 13 bits (Deflate64: 15 + 16 + 15 + 14), through
    // second-level tables, at every bit alignment. Many of them, so that the main loop meets them.
    for (auto format : {Inflater::Format::Deflate, Inflater::Format::Deflate64}) {
        const bool d64 = format == Inflater::Format::Deflate64;
        const unsigned longLen = d64 ? 285 : 284, longDist = d64 ? 31 : 29, shortDist = d64 ? 30 : 28;
        const unsigned lenExtra = d64 ? 16 : 5, distExtra = d64 ? 14 : 13;
        const unsigned lenBase = d64 ? 3 : 227, distBase = d64 ? 49153 : 24577;
        std::vector<uint8_t> lit(286, 0), dist(32, 0);
        for (unsigned i = 0; i < 14; ++i)
            lit['a' + i] = static_cast<uint8_t>(i + 1);
        lit[256] = lit[longLen] = 15;
        for (unsigned i = 0; i < 14; ++i)
            dist[i] = static_cast<uint8_t>(i + 1);
        dist[shortDist] = dist[longDist] = 15;
        if (!d64) dist.resize(30);
        const std::vector<uint32_t> lc = test::CanonicalCodes(lit), dc = test::CanonicalCodes(dist);

        const std::vector<uint8_t> history = test::RandomData(d64 ? 65536 : 32768, 40);
        std::vector<uint8_t> stream;
        for (size_t off = 0; off < history.size(); off += 32768) {
            const std::vector<uint8_t> block =
                StoredBlock(std::vector<uint8_t>(history.begin() + static_cast<ptrdiff_t>(off),
                                                 history.begin() + static_cast<ptrdiff_t>(off + 32768)),
                            false);
            stream.insert(stream.end(), block.begin(), block.end());
        }
        std::vector<uint8_t> expected = history;
        DeflateWriter d;
        d.DynamicHeader(true, lit, dist);
        for (unsigned k = 0; k < 400; ++k) {
            for (unsigned j = 0; j < k % 5; ++j) {  // a few literals to shift the bit alignment
                const unsigned sym = 'a' + (k + j) % 14;
                d.w.Code(lc[sym], lit[sym]);
                expected.push_back(static_cast<uint8_t>(sym));
            }
            const unsigned le = (k * 7919u) % (1u << lenExtra), de = (k * 104729u) % (1u << distExtra);
            const size_t length = d64 ? lenBase + le : std::min(lenBase + le, 257u);
            const size_t distance = distBase + de;
            d.w.Code(lc[longLen], 15);
            d.w.Bits(static_cast<uint32_t>(length - lenBase), lenExtra);
            d.w.Code(dc[longDist], 15);
            d.w.Bits(de, distExtra);
            for (size_t i = 0; i < length; ++i)
                expected.push_back(expected[expected.size() - distance]);
        }
        d.w.Code(lc[256], 15);
        const std::vector<uint8_t> tail = d.w.Finish();
        stream.insert(stream.end(), tail.begin(), tail.end());
        for (size_t piece : {size_t{0}, size_t{13}}) {
            const Decoded r = Inflate(stream, format, piece);
            ASSERT_TRUE(r.result.Ok()) << d64 << " " << r.result.errorCode;
            EXPECT_TRUE(r.data == expected) << d64;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// Deflate64

TEST(InflateDeflate64, LongLengthCodeAndFarDistanceCodes) {
    // History: 50000 distinct-ish bytes in stored blocks, then a fixed block with matches at distances that
    // need codes 30 and 31, and lengths that need code 285's 16 extra bits.
    const std::vector<uint8_t> history = test::RandomData(50000, 14);
    std::vector<uint8_t> stream =
        StoredBlock(std::vector<uint8_t>(history.begin(), history.begin() + 40000), false);
    const std::vector<uint8_t> more =
        StoredBlock(std::vector<uint8_t>(history.begin() + 40000, history.end()), false);
    stream.insert(stream.end(), more.begin(), more.end());
    DeflateWriter d;
    d.w.Bits(1, 1);
    d.w.Bits(1, 2);
    FixedMatch(d, {285, 100 - 3, 16, 30, 40000 - 32769, 14});    // length 100, distance 40000
    FixedMatch(d, {285, 60000 - 3, 16, 31, 50100 - 49153, 14});  // length 60000, distance 50100
    FixedMatch(d, {285, 0, 16, 0, 0, 0});                        // length 3, distance 1
    d.FixedLitLen(256);
    const std::vector<uint8_t> tail = d.w.Finish();
    stream.insert(stream.end(), tail.begin(), tail.end());

    std::vector<uint8_t> expected = history;
    for (int i = 0; i < 100; ++i)
        expected.push_back(expected[expected.size() - 40000]);
    for (int i = 0; i < 60000; ++i)
        expected.push_back(expected[expected.size() - 50100]);
    for (int i = 0; i < 3; ++i)
        expected.push_back(expected.back());
    for (size_t piece : {size_t{0}, size_t{5}}) {
        const Decoded r = Inflate(stream, Inflater::Format::Deflate64, piece);
        ASSERT_TRUE(r.result.Ok()) << r.result.errorCode;
        EXPECT_TRUE(r.data == expected);
    }
    // Read as plain Deflate the same stream means something else (285 is 258, code 30 is invalid).
    const Decoded plain = Inflate(stream);
    EXPECT_FALSE(plain.result.Ok() && plain.data == expected);
}

TEST(InflateDeflate64, FullWindowDistanceAndLongestMatchRepeatedly) {
    // Distance 65536 (code 31 with all extra bits set) is valid once 64 KiB are there.
    const std::vector<uint8_t> history = test::RandomData(65536, 15);
    std::vector<uint8_t> stream =
        StoredBlock(std::vector<uint8_t>(history.begin(), history.begin() + 65535), false);
    const std::vector<uint8_t> one = StoredBlock({history.back()}, false);
    stream.insert(stream.end(), one.begin(), one.end());
    DeflateWriter d;
    d.w.Bits(1, 1);
    d.w.Bits(1, 2);
    for (int i = 0; i < 10; ++i)
        FixedMatch(d, {285, 65535, 16, 31, 16383, 14});  // 65538 bytes, 65536 back
    d.FixedLitLen(256);
    const std::vector<uint8_t> tail = d.w.Finish();
    stream.insert(stream.end(), tail.begin(), tail.end());
    std::vector<uint8_t> expected = history;
    for (int i = 0; i < 10 * 65538; ++i)
        expected.push_back(expected[expected.size() - 65536]);
    const Decoded r = Inflate(stream, Inflater::Format::Deflate64);
    ASSERT_TRUE(r.result.Ok()) << r.result.errorCode;
    EXPECT_TRUE(r.data == expected);
}

// ---------------------------------------------------------------------------------------------------------
// Reuse, cancel, sink failures

TEST(InflateLifecycle, OneInflaterForManyStreamsAndBothFormats) {
    Inflater inf;
    for (int round = 0; round < 6; ++round) {
        // Text without 258-byte matches (Deflate64's length code 285 differs) means the same in both formats.
        const bool d64 = round % 3 == 2;
        const std::vector<uint8_t> data =
            d64 ? test::TextData(100000, 20 + round) : test::MixedData(100000 + round * 5000, 20 + round);
        const std::vector<uint8_t> comp = test::ZlibDeflate(data, round % 2 ? 9 : 1, Z_FILTERED);
        inf.SetFormat(d64 ? Inflater::Format::Deflate64 : Inflater::Format::Deflate);
        MemorySource src(comp);
        VectorSink sink;
        const DecodeResult r = inf.Decode(src, sink);
        ASSERT_TRUE(r.Ok());
        EXPECT_TRUE(sink.Data() == data);
        if (round == 3) inf.Release();
    }
}

class CancellingSink final : public ByteSink {
  public:
    explicit CancellingSink(CancelFlag& flag) : flag_(flag) {}
    void Write(const uint8_t*, size_t n) override {
        written += n;
        ++writes;
        flag_ = true;
    }
    size_t written = 0;
    int writes = 0;

  private:
    CancelFlag& flag_;
};

TEST(InflateLifecycle, CancelIsSeenBetweenChunks) {
    const std::vector<uint8_t> data = test::RunData(3000000, 30);
    const std::vector<uint8_t> comp = test::ZlibDeflate(data, 6);
    CancelFlag flag{false};
    CancellingSink sink(flag);
    MemorySource src(comp);
    Inflater inf;
    const DecodeResult r = inf.Decode(src, sink, &flag);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
    EXPECT_EQ(r.errorCode, E_UserCanceled);
    EXPECT_EQ(r.produced, sink.written);
    EXPECT_LT(sink.written, data.size() / 2);

    CancelFlag already{true};
    CountingSink none;
    MemorySource src2(comp);
    EXPECT_EQ(inf.Decode(src2, none, &already).status, DecodeStatus::Cancelled);
    EXPECT_EQ(none.Count(), 0u);
}

TEST(InflateLifecycle, SinkFailurePropagatesAndTheInflaterStaysUsable) {
    const std::vector<uint8_t> data = test::TextData(1000000, 31);
    const std::vector<uint8_t> comp = test::ZlibDeflate(data, 6);
    Inflater inf;
    VectorSink small(100000);
    MemorySource src(comp);
    EXPECT_THROW(inf.Decode(src, small), ArchiveError);
    MemorySource again(comp);
    VectorSink sink;
    ASSERT_TRUE(inf.Decode(again, sink).Ok());
    EXPECT_TRUE(sink.Data() == data);
}

}  // namespace
}  // namespace varnok
