// ARJ method 4 on hand-made streams, and the method dispatcher.
#include <gtest/gtest.h>

#include <random>

#include "archive/core/errors.h"
#include "archive/formats/arj/arj_methods.h"
#include "tests/formats/lzh/lzh_test_util.h"

namespace varnok {
namespace {

DecodeResult Decode4(const std::vector<uint8_t>& in, uint64_t unpacked, std::vector<uint8_t>* out) {
    MemorySource src(in.data(), in.size());
    test::HashSink sink(true);
    auto r = DecodeArjMethod(4, src, in.size(), sink, unpacked);
    EXPECT_EQ(r.produced, sink.size);
    EXPECT_LE(sink.size, unpacked);
    *out = sink.data;
    return r;
}

TEST(ArjMethod4, LiteralsAndMatchesWithShortAndLongestPrefixes) {
    test::BitWriter w;
    w.Put(0, 1), w.Put('x', 8);     // literal
    w.Put(0b10, 2), w.Put(0, 1);    // length value 1 + 0 = 1: a match of 3
    w.Put(0, 1), w.Put(0, 9);       // distance 0
    w.Put(0, 1), w.Put('y', 8);     // literal
    w.Put(0x7F, 7), w.Put(127, 7);  // 7 one-bits, no terminator: 127 + 127 = 254: 256 bytes
    w.Put(0xF, 4), w.Put(1, 13);    // 4 one-bits, no terminator: 7680 + 1: distance 7681
    std::vector<uint8_t> out;
    auto r = Decode4(w.Finish(), 5 + 256, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    ASSERT_EQ(out.size(), 5u + 256);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 5), "xxxxy");
    // The long match reaches 7682 bytes back, before the first byte: the history is zeros.
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 5, out.end()), std::vector<uint8_t>(256, 0));
}

TEST(ArjMethod4, TruncatedStreamStopsAtTheLastWholeItem) {
    test::BitWriter w;
    for (int i = 0; i < 10; ++i)
        w.Put(0, 1), w.Put('a' + i, 8);
    auto in = w.Finish();
    in.resize(in.size() - 2);
    std::vector<uint8_t> out;
    auto r = Decode4(in, 10, &out);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abcdefgh");
}

TEST(ArjMethods, MethodsOutsideZeroToFourAreUnsupported) {
    std::vector<uint8_t> in(10, 1);
    for (int m : {-1, 5, 7, 255}) {
        MemorySource src(in.data(), in.size());
        test::HashSink sink;
        auto r = DecodeArjMethod(m, src, in.size(), sink, 10);
        EXPECT_FALSE(IsSupportedArjMethod(m));
        EXPECT_EQ(r.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.errorCode, E_UnsupportedMethod);
        EXPECT_EQ(sink.size, 0u);
    }
    MemorySource src(in.data(), in.size());
    test::HashSink sink(true);
    EXPECT_EQ(DecodeArjMethod(0, src, in.size(), sink, 10).status, DecodeStatus::Ok);
    EXPECT_EQ(sink.data, in);
}

TEST(ArjMethods, RandomInputNeverExceedsTheEntrySize) {
    std::mt19937 rng(99);
    for (int m = 1; m <= 4; ++m) {
        for (int round = 0; round < 80; ++round) {
            std::vector<uint8_t> in(1 + rng() % 4000);
            for (auto& b : in)
                b = static_cast<uint8_t>(rng());
            uint64_t unpacked = rng() % 300000;
            MemorySource src(in.data(), in.size());
            test::HashSink sink;
            auto r = DecodeArjMethod(m, src, in.size(), sink, unpacked);
            EXPECT_LE(sink.size, unpacked);
            EXPECT_EQ(r.produced, sink.size);
            EXPECT_LE(r.consumed, in.size());
        }
    }
}

}  // namespace
}  // namespace varnok
