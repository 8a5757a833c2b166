// Shrink, reduce and implode on hand-built data. Each stream is written code by code from the method
// descriptions (PKWARE's application note); the expected output is worked out from the same descriptions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "archive/core/errors.h"
#include "archive/formats/zip/legacy.h"
#include "tests/formats/zipmethods/test_util.h"

namespace varnok {
namespace {

using test::BitWriter;

struct Decoded {
    DecodeResult result;
    std::string text;
};

template <class F>
Decoded Run(const std::vector<uint8_t>& in, F decode) {
    MemorySource src(in);
    VectorSink sink;
    Decoded d;
    d.result = decode(src, sink);
    d.text.assign(sink.Data().begin(), sink.Data().end());
    EXPECT_EQ(d.result.produced, sink.Data().size());
    return d;
}

// ---------------------------------------------------------------------------------------------------------
// Shrink: codes least significant bit first, 9 bits wide until the compressor widens them with 256,1.

std::vector<uint8_t> ShrinkCodes(const std::vector<std::pair<unsigned, unsigned>>& codes) {
    BitWriter w;
    for (auto [code, width] : codes)
        w.Bits(code, width);
    return w.Finish();
}

Decoded Unshrunk(const std::vector<uint8_t>& in, uint64_t size) {
    return Run(in, [&](ByteSource& s, ByteSink& k) { return Unshrink(s, k, size); });
}

TEST(Unshrink, StringsAndTheCodeNotYetDefined) {
    // A, B, then 257 = "AB" (defined when B arrived), then 259: the code being defined right now, which is
    // the previous string plus its own first byte: "AB" + "A".
    const auto in = ShrinkCodes({{65, 9}, {66, 9}, {257, 9}, {259, 9}});
    const Decoded d = Unshrunk(in, 7);
    ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
    EXPECT_EQ(d.text, "ABABABA");
    EXPECT_EQ(d.result.consumed, in.size());
    // The size given ends the output early.
    EXPECT_EQ(Unshrunk(in, 5).text, "ABABA");
}

TEST(Unshrink, WideningTheCodes) {
    // A, then 256,1: codes are 10 bits from here on; B, then 257 = "AB".
    Decoded d = Unshrunk(ShrinkCodes({{65, 9}, {256, 9}, {1, 9}, {66, 10}, {257, 10}}), 4);
    ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
    EXPECT_EQ(d.text, "ABAB");
    // Up to 13 bits is fine; a fifth widening would need 14-bit codes, which cannot exist.
    std::vector<std::pair<unsigned, unsigned>> codes = {{65, 9}};
    for (unsigned width = 9; width < 13; ++width) {
        codes.push_back({256, width});
        codes.push_back({1, width});
    }
    codes.push_back({66, 13});
    d = Unshrunk(ShrinkCodes(codes), 2);
    ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
    EXPECT_EQ(d.text, "AB");
    codes.push_back({256, 13});
    codes.push_back({1, 13});
    codes.push_back({67, 14});
    d = Unshrunk(ShrinkCodes(codes), 3);
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_BadBlock);
    EXPECT_EQ(d.text, "AB");
}

TEST(Unshrink, PartialClearFreesLeavesAndReusesTheLowestCodesFirst) {
    // A, B [257 = AB], 257 [258 = BA], A [259 = ABA]; then 256,2 frees the leaves 258 and 259 (257 still
    // has the child 259 when the leaves are collected). B [258 = AB again], C [259 = BC], 259 = "BC"
    // [260 = CB], 257 = "AB" (kept).
    const auto in = ShrinkCodes(
        {{65, 9}, {66, 9}, {257, 9}, {65, 9}, {256, 9}, {2, 9}, {66, 9}, {67, 9}, {259, 9}, {257, 9}});
    const Decoded d = Unshrunk(in, 11);
    ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
    EXPECT_EQ(d.text,
              "ABABA"
              "BCBCAB");
}

TEST(Unshrink, CorruptData) {
    struct Case {
        const char* what;
        std::vector<std::pair<unsigned, unsigned>> codes;
        int error;
        const char* before;
    };
    const std::vector<Case> cases = {
        {"first code not a byte", {{300, 9}}, E_BadBlock, ""},
        {"unknown control code", {{65, 9}, {256, 9}, {3, 9}}, E_BadBlock, "A"},
        {"undefined code other than the next one", {{65, 9}, {66, 9}, {300, 9}}, E_BadBlock, "AB"},
        // A, B [257 = AB], 257 [258 = BA], then 256,2 frees 257 and 258 while the previous code is 257.
        // A adds the next free code, 257, as 257 + "A": a string that contains itself, whose expansion
        // overflows the stack.
        {"self-referencing string",
         {{65, 9}, {66, 9}, {257, 9}, {256, 9}, {2, 9}, {65, 9}, {257, 9}},
         E_StackOverflow,
         "ABABA"},
    };
    for (const Case& c : cases) {
        const Decoded d = Unshrunk(ShrinkCodes(c.codes), 100000);
        EXPECT_EQ(d.result.status, DecodeStatus::Corrupt) << c.what;
        EXPECT_EQ(d.result.errorCode, c.error) << c.what;
        EXPECT_EQ(d.text, c.before) << c.what;
    }
}

TEST(Unshrink, EmptyAndShortInput) {
    Decoded d = Unshrunk({}, 0);
    EXPECT_TRUE(d.result.Ok());
    EXPECT_EQ(d.text, "");
    d = Unshrunk({}, 10);  // no first code at all
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_BadBlock);
    d = Unshrunk(ShrinkCodes({{65, 9}, {66, 9}}), 10);
    EXPECT_EQ(d.result.status, DecodeStatus::Truncated);
    EXPECT_EQ(d.text, "AB");
}

// ---------------------------------------------------------------------------------------------------------
// Reduce: 256 follower sets (byte 255 first), then the probabilistic stream of an escaped copy format.

struct ReduceWriter {
    BitWriter w;
    std::vector<std::vector<uint8_t>> sets = std::vector<std::vector<uint8_t>>(256);
    unsigned last = 0;

    void WriteSets() {
        for (int v = 255; v >= 0; --v) {
            w.Bits(static_cast<uint32_t>(sets[v].size()), 6);
            for (uint8_t b : sets[v])
                w.Bits(b, 8);
        }
    }
    // One byte of the probabilistic stage: from the follower set of the last byte when it is there.
    void Byte(uint8_t b) {
        const auto& set = sets[last];
        if (set.empty()) {
            w.Bits(b, 8);
        } else {
            const auto it = std::find(set.begin(), set.end(), b);
            if (it == set.end()) {
                w.Bits(1, 1);
                w.Bits(b, 8);
            } else {
                unsigned bits = 1;
                while ((1u << bits) < set.size())
                    ++bits;
                w.Bits(0, 1);
                w.Bits(static_cast<uint32_t>(it - set.begin()), bits);
            }
        }
        last = b;
    }
};

Decoded Unreduced(const std::vector<uint8_t>& in, int factor, uint64_t size) {
    return Run(in, [&](ByteSource& s, ByteSink& k) { return Unreduce(s, k, factor, size); });
}

TEST(Unreduce, EscapesCopiesAndLongLengthsForEveryFactor) {
    for (int factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE(factor);
        const unsigned lengthBits = 8 - factor, mask = (1u << lengthBits) - 1;
        ReduceWriter r;
        r.WriteSets();
        for (char c : std::string("ABC"))
            r.Byte(static_cast<uint8_t>(c));
        // DLE, V, B: length V & mask = 1 (+3 = 4), distance (V >> lengthBits) * 256 + B + 1 = 3.
        r.Byte(144);
        r.Byte(1);
        r.Byte(2);
        // DLE 0: a literal 144.
        r.Byte(144);
        r.Byte(0);
        // DLE, V with the length part all ones: one more byte adds to the length; distance 1.
        r.Byte(144);
        r.Byte(static_cast<uint8_t>(mask));
        r.Byte(10);
        r.Byte(0);
        std::string expected = "ABCABCA";
        expected.push_back(static_cast<char>(144));
        expected.append(mask + 10 + 3, static_cast<char>(144));
        const Decoded d = Unreduced(r.w.Finish(), factor, expected.size());
        ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
        EXPECT_EQ(d.text, expected);
    }
}

TEST(Unreduce, DistancesUseTheHighBitsOfVAndReadZerosBeforeTheStart) {
    for (int factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE(factor);
        const unsigned lengthBits = 8 - factor;
        const unsigned highMax = (1u << factor) - 1;  // distances up to highMax * 256 + 256
        ReduceWriter r;
        r.WriteSets();
        std::string expected;
        for (int i = 0; i < 5000; ++i) {
            const uint8_t b = static_cast<uint8_t>('a' + (i * 7) % 26);
            r.Byte(b);
            expected.push_back(static_cast<char>(b));
        }
        // The farthest copy: length 2 + 3, distance highMax * 256 + 255 + 1.
        r.Byte(144);
        r.Byte(static_cast<uint8_t>((highMax << lengthBits) | 2));
        r.Byte(255);
        const size_t distance = highMax * 256 + 256;
        for (int i = 0; i < 5; ++i)
            expected.push_back(expected[expected.size() - distance]);
        const Decoded d = Unreduced(r.w.Finish(), factor, expected.size());
        ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
        EXPECT_EQ(d.text, expected);

        // The same copy right after one byte reaches before the start: zeros.
        ReduceWriter z;
        z.WriteSets();
        z.Byte('X');
        z.Byte(144);
        z.Byte(static_cast<uint8_t>((highMax << lengthBits) | 2));
        z.Byte(255);
        const Decoded zd = Unreduced(z.w.Finish(), factor, 6);
        ASSERT_TRUE(zd.result.Ok()) << zd.result.errorCode;
        EXPECT_EQ(zd.text, std::string("X") + std::string(5, '\0'));
    }
}

TEST(Unreduce, FollowerSetsAndTheirIndexWidths) {
    ReduceWriter r;
    r.sets[0] = {'H', 'e'};                   // two followers: one index bit
    r.sets['H'] = {'e', 'l', 'o'};            // three: two bits
    r.sets['e'] = {'l'};                      // one: one bit
    r.sets['l'] = {'a', 'b', 'c', 'l', 'o'};  // five: three bits
    r.WriteSets();
    for (char c : std::string("HelloZ!Hi"))
        r.Byte(static_cast<uint8_t>(c));  // 'i' escapes from H's set
    const Decoded d = Unreduced(r.w.Finish(), 2, 9);
    ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
    EXPECT_EQ(d.text, "HelloZ!Hi");
}

TEST(Unreduce, CorruptAndShortData) {
    // A follower set of 33 bytes is outside the format.
    BitWriter w;
    w.Bits(33, 6);
    for (int i = 0; i < 40; ++i)
        w.Bits(0, 8);
    Decoded d = Unreduced(w.Finish(), 1, 10);
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_BadBlock);

    // An index past the end of a set of three (two index bits can say 3).
    ReduceWriter r;
    r.sets[0] = {'a', 'b', 'c'};
    r.WriteSets();
    r.w.Bits(0, 1);
    r.w.Bits(3, 2);
    r.w.Bits(0, 16);
    d = Unreduced(r.w.Finish(), 1, 10);
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_BadBlock);

    // Input ending inside the follower sets, and inside the data.
    d = Unreduced({0, 0, 0}, 3, 10);
    EXPECT_EQ(d.result.status, DecodeStatus::Truncated);
    ReduceWriter s;
    s.WriteSets();
    s.Byte('a');
    s.Byte('b');
    d = Unreduced(s.w.Finish(), 3, 10);
    EXPECT_EQ(d.result.status, DecodeStatus::Truncated);
    EXPECT_EQ(d.text, "ab");

    // A copy longer than what is left of the entry stops at the entry's size.
    ReduceWriter t;
    t.WriteSets();
    t.Byte('a');
    t.Byte(144);
    t.Byte(100);
    t.Byte(0);
    d = Unreduced(t.w.Finish(), 1, 20);
    ASSERT_TRUE(d.result.Ok());
    EXPECT_EQ(d.text, std::string(20, 'a'));

    // Zero-size entry: nothing is read.
    EXPECT_TRUE(Unreduced({}, 2, 0).result.Ok());
    // Factors outside 1..4 are not reduce methods.
    EXPECT_EQ(Unreduced({}, 5, 10).result.status, DecodeStatus::Corrupt);
}

// ---------------------------------------------------------------------------------------------------------
// Implode: Shannon-Fano trees stored as runs of bit lengths, codes sent most significant bit first.

// The compressed description of a tree: a count byte, then (count - 1) << 4 | (length - 1) per run.
std::vector<uint8_t> TreeBytes(const std::vector<uint8_t>& lengths) {
    std::vector<uint8_t> runs;
    for (size_t i = 0; i < lengths.size();) {
        size_t n = 1;
        while (i + n < lengths.size() && lengths[i + n] == lengths[i] && n < 16)
            ++n;
        runs.push_back(static_cast<uint8_t>(((n - 1) << 4) | (lengths[i] - 1)));
        i += n;
    }
    runs.insert(runs.begin(), static_cast<uint8_t>(runs.size() - 1));
    return runs;
}

// Codes as the application note builds them: sort by length (then symbol), walk from the last entry to
// the first adding 2^(16 - length) to a 16-bit counter; the code is the counter's top `length` bits.
std::vector<uint32_t> ShannonFanoCodes(const std::vector<uint8_t>& lengths) {
    std::vector<unsigned> order(lengths.size());
    for (unsigned i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](unsigned a, unsigned b) { return lengths[a] < lengths[b]; });
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0, increment = 0;
    unsigned last = 0;
    for (size_t i = order.size(); i-- > 0;) {
        code = (code + increment) & 0xFFFF;
        if (lengths[order[i]] != last) {
            last = lengths[order[i]];
            increment = 1u << (16 - last);
        }
        codes[order[i]] = code >> (16 - last);
    }
    return codes;
}

struct ImplodeWriter {
    BitWriter w;
    bool literalTree, bigWindow;
    std::vector<uint8_t> litLengths = std::vector<uint8_t>(256, 8), lenLengths = std::vector<uint8_t>(64, 6),
                         distLengths = std::vector<uint8_t>(64, 6);
    std::vector<uint32_t> litCodes, lenCodes, distCodes;

    ImplodeWriter(bool lit, bool big) : literalTree(lit), bigWindow(big) {}
    void WriteTrees() {
        for (const auto* lengths : {&litLengths, &lenLengths, &distLengths}) {
            if (lengths == &litLengths && !literalTree) continue;
            for (uint8_t b : TreeBytes(*lengths))
                w.Bits(b, 8);
        }
        litCodes = ShannonFanoCodes(litLengths);
        lenCodes = ShannonFanoCodes(lenLengths);
        distCodes = ShannonFanoCodes(distLengths);
    }
    void Literal(uint8_t b) {
        w.Bits(1, 1);
        if (literalTree)
            w.Code(litCodes[b], litLengths[b]);
        else
            w.Bits(b, 8);
    }
    void Match(unsigned distance, unsigned length) {
        const unsigned lowBits = bigWindow ? 7 : 6, minimum = literalTree ? 3 : 2;
        w.Bits(0, 1);
        w.Bits((distance - 1) & ((1u << lowBits) - 1), lowBits);
        const unsigned high = (distance - 1) >> lowBits;
        w.Code(distCodes[high], distLengths[high]);
        const unsigned l = std::min(length - minimum, 63u);
        w.Code(lenCodes[l], lenLengths[l]);
        if (l == 63) w.Bits(length - minimum - 63, 8);
    }
    uint16_t Flags() const { return static_cast<uint16_t>((bigWindow ? 2 : 0) | (literalTree ? 4 : 0)); }
};

Decoded Exploded(const std::vector<uint8_t>& in, uint16_t flags, uint64_t size) {
    return Run(in, [&](ByteSource& s, ByteSink& k) { return Explode(s, k, flags, size); });
}

TEST(Explode, CodesFollowTheApplicationNoteConstruction) {
    // Lengths 2, 3, 3, then three of 6 and 58 of 7 fill the code space exactly. Worked by hand: the last
    // symbol gets code 0, each earlier one the next counter value, so 63 -> 0000000, 6 -> 0111001,
    // 5 -> 011101, 3 -> 011111, 2 -> 100, 1 -> 101, 0 -> 11.
    std::vector<uint8_t> lengths(64, 7);
    lengths[0] = 2;
    lengths[1] = lengths[2] = 3;
    lengths[3] = lengths[4] = lengths[5] = 6;
    const auto codes = ShannonFanoCodes(lengths);
    EXPECT_EQ(codes[63], 0u);
    EXPECT_EQ(codes[6], 0b0111001u);
    EXPECT_EQ(codes[5], 0b011101u);
    EXPECT_EQ(codes[3], 0b011111u);
    EXPECT_EQ(codes[2], 0b100u);
    EXPECT_EQ(codes[1], 0b101u);
    EXPECT_EQ(codes[0], 0b11u);
    EXPECT_EQ(TreeBytes(lengths), (std::vector<uint8_t>{6, 0x01, 0x12, 0x25, 0xF6, 0xF6, 0xF6, 0x96}));

    // A stream using that tree for lengths: matches of 2 (symbol 0), 3 (symbol 1) and 65 + 7.
    ImplodeWriter iw(false, false);
    iw.lenLengths = lengths;
    iw.WriteTrees();
    for (char c : std::string("xyz"))
        iw.Literal(static_cast<uint8_t>(c));
    iw.Match(3, 2);
    iw.Match(2, 3);
    iw.Match(1, 72);
    std::string expected = "xyzxy";
    for (int i = 0; i < 3; ++i)
        expected.push_back(expected[expected.size() - 2]);
    expected.append(72, expected.back());
    const Decoded d = Exploded(iw.w.Finish(), iw.Flags(), expected.size());
    ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
    EXPECT_EQ(d.text, expected);
}

TEST(Explode, BothWindowsWithTwoAndThreeTrees) {
    for (bool literalTree : {false, true}) {
        for (bool bigWindow : {false, true}) {
            SCOPED_TRACE(std::to_string(literalTree) + std::to_string(bigWindow));
            ImplodeWriter iw(literalTree, bigWindow);
            iw.WriteTrees();
            const unsigned minimum = literalTree ? 3 : 2, window = bigWindow ? 8192 : 4096;
            std::string expected;
            for (int i = 0; i < 9000; ++i) {
                const uint8_t b = static_cast<uint8_t>((i * 131) >> 3);
                iw.Literal(b);
                expected.push_back(static_cast<char>(b));
            }
            // The farthest distance, the shortest and the longest length, a distance needing both parts.
            for (auto [distance, length] :
                 {std::pair{window, minimum}, std::pair{1u, minimum + 63 + 255},
                  std::pair{window - 1000, 70u}, std::pair{(1u << 6) + 5, minimum + 62}}) {
                iw.Match(distance, length);
                for (unsigned i = 0; i < length; ++i)
                    expected.push_back(expected[expected.size() - distance]);
            }
            const Decoded d = Exploded(iw.w.Finish(), iw.Flags(), expected.size());
            ASSERT_TRUE(d.result.Ok()) << d.result.errorCode;
            EXPECT_EQ(d.text, expected);
        }
    }
}

TEST(Explode, DistancesBeforeTheStartReadZeros) {
    ImplodeWriter iw(true, true);
    iw.WriteTrees();
    iw.Literal('a');
    iw.Literal('b');
    iw.Match(4, 6);  // two zeros, then "ab", then the first two of those again: 0 0 a b 0 0
    const Decoded d = Exploded(iw.w.Finish(), iw.Flags(), 8);
    ASSERT_TRUE(d.result.Ok());
    EXPECT_EQ(d.text, std::string("ab\0\0ab\0\0", 8));
}

TEST(Explode, BadTrees) {
    auto withLengthTree = [](const std::vector<uint8_t>& lengthTreeBytes) {
        BitWriter w;
        for (uint8_t b : lengthTreeBytes)
            w.Bits(b, 8);
        for (uint8_t b : TreeBytes(std::vector<uint8_t>(64, 6)))
            w.Bits(b, 8);
        w.Bits(0xFFFF, 16);
        return w.Finish();
    };
    // Sixty-four 5-bit codes need twice the code space: two symbols end up on one code.
    Decoded d = Exploded(withLengthTree(TreeBytes(std::vector<uint8_t>(64, 5))), 0, 100);
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_AmbiguousTree);
    // Sixty-four 16-bit codes would need more internal nodes than a 64-symbol tree can have.
    d = Exploded(withLengthTree(TreeBytes(std::vector<uint8_t>(64, 16))), 0, 100);
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_AmbiguousTree);
    // Descriptions of more or fewer than 64 lengths cannot be read.
    d = Exploded(withLengthTree({4, 0xF5, 0xF5, 0xF5, 0xF5, 0x05}), 0, 100);
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_BadBlock);
    d = Exploded(withLengthTree({2, 0xF5, 0xF5, 0xF5}), 0, 100);
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_BadBlock);
}

TEST(Explode, CodeMissingFromAnIncompleteTree) {
    // Sixty-four 7-bit codes fill only the half of the code space that starts with 0.
    ImplodeWriter iw(false, false);
    iw.lenLengths.assign(64, 7);
    iw.WriteTrees();
    iw.Literal('q');
    iw.Match(1, 2);  // length symbol 0 has code 0111111: fine
    iw.w.Bits(0, 1);
    iw.w.Bits(0, 6);
    iw.w.Code(iw.distCodes[0], 6);
    iw.w.Bits(1, 1);  // a length code starting with 1 does not exist
    iw.w.Bits(0, 16);
    const Decoded d = Exploded(iw.w.Finish(), iw.Flags(), 100);
    EXPECT_EQ(d.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(d.result.errorCode, E_AmbiguousTree);
    EXPECT_EQ(d.text, "qqq");
}

TEST(Explode, ShortInputAndSizeLimits) {
    ImplodeWriter iw(false, true);
    iw.WriteTrees();
    iw.Literal('a');
    iw.Match(1, 50);
    const std::vector<uint8_t> in = iw.w.Finish();
    Decoded d = Exploded(in, iw.Flags(), 20);  // stops at the entry size, inside the match
    ASSERT_TRUE(d.result.Ok());
    EXPECT_EQ(d.text, std::string(20, 'a'));
    d = Exploded(in, iw.Flags(), 1000);  // the data end before the entry does
    EXPECT_EQ(d.result.status, DecodeStatus::Truncated);
    EXPECT_GE(d.text.size(), 51u);
    d = Exploded(std::vector<uint8_t>(in.begin(), in.begin() + 5), iw.Flags(), 10);  // inside the trees
    EXPECT_EQ(d.result.status, DecodeStatus::Truncated);
    EXPECT_EQ(d.text, "");
    EXPECT_TRUE(Exploded({}, 0, 0).result.Ok());
}

}  // namespace
}  // namespace varnok
