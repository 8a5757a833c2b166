// The method dispatcher (whole-id matching), the LArc methods on hand-made streams, and every
// decoder on damaged input: truncated real streams and random bytes.
#include <gtest/gtest.h>

#include <random>

#include "archive/core/errors.h"
#include "archive/formats/lzh/lzh_methods.h"
#include "tests/formats/lzh/lzh_test_util.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

DecodeResult DecodeId(std::string_view id, const std::vector<uint8_t>& in, uint64_t unpacked,
                      std::vector<uint8_t>* out = nullptr) {
    MemorySource src(in.data(), in.size());
    test::HashSink sink(true);
    auto r = DecodeLzhMethod(id, src, in.size(), sink, unpacked);
    EXPECT_EQ(r.produced, sink.size);
    EXPECT_LE(sink.size, unpacked) << id;
    EXPECT_LE(r.consumed, in.size());
    if (out) *out = sink.data;
    return r;
}

TEST(LzhMethods, DispatchComparesTheWholeId) {
    const std::vector<uint8_t> raw = {'h', 'e', 'l', 'l', 'o'};
    std::vector<uint8_t> out;
    // -lz4- is LArc's stored method: its bytes come out as they are (not as -lh4- data).
    EXPECT_EQ(DecodeId("-lz4-", raw, 5, &out).status, DecodeStatus::Ok);
    EXPECT_EQ(out, raw);
    EXPECT_EQ(DecodeId("-lh0-", raw, 5, &out).status, DecodeStatus::Ok);
    EXPECT_EQ(out, raw);
    // The same bytes as -lh4- are a (damaged) compressed stream, not a copy.
    DecodeId("-lh4-", raw, 5, &out);
    EXPECT_NE(out, raw);
    for (const char* id :
         {"-lh8-", "-lz6-", "-LH5-", "-lh5", "lh5", "", "-lh5--", "-pm1-", "-lk7-", "xlh5x", "-ah5-"}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(IsSupportedLzhMethod(id));
        auto r = DecodeId(id, raw, 5, &out);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.errorCode, E_UnsupportedMethod);
        EXPECT_TRUE(out.empty());
    }
    EXPECT_TRUE(IsLzhDirectoryMethod("-lhd-"));
    EXPECT_FALSE(IsLzhDirectoryMethod("-lh0-"));
    auto r = DecodeId("-lhd-", raw, 0, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_TRUE(out.empty());
}

TEST(LzhMethods, StoredEntryShorterThanItsSizeIsTruncated) {
    const std::vector<uint8_t> raw(100, 7);
    std::vector<uint8_t> out;
    auto r = DecodeId("-lh0-", raw, 150, &out);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_EQ(out, raw);
    // More data than the size: only the size is written.
    r = DecodeId("-lz4-", raw, 60, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out.size(), 60u);
}

TEST(LzhMethods, Lz5MatchesNameRingPositions) {
    // Flags 0b10: a literal 'Q' (it lands on ring position 4078), then a match of 3 from ring
    // position 4078, then a match of 18 from ring position 0 (the preset run of 13 zero bytes,
    // then 5 ones).
    std::vector<uint8_t> in = {0x01, 'Q', 0xEE, 0xF0, 0x00, 0x0F};
    std::vector<uint8_t> out;
    auto r = DecodeId("-lz5-", in, 4 + 18, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    std::vector<uint8_t> want = {'Q', 'Q', 'Q', 'Q'};
    want.insert(want.end(), 13, 0);
    want.insert(want.end(), 5, 1);
    EXPECT_EQ(out, want);
}

TEST(LzhMethods, LzsMatchesNameRingPositions) {
    // A literal 'k' at ring position 2031, a match of 2 + 3 from there, then 2 bytes from ring
    // position 0 (spaces).
    test::BitWriter w;
    w.Put(1, 1), w.Put('k', 8);
    w.Put(0, 1), w.Put(2031, 11), w.Put(3, 4);
    w.Put(0, 1), w.Put(0, 11), w.Put(0, 4);
    std::vector<uint8_t> out;
    auto r = DecodeId("-lzs-", w.Finish(), 8, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "kkkkkk  ");
}

// Real streams of every method, cut short: the decoder reports it and never invents the rest.
TEST(LzhMethods, TruncatedRealStreamsAreReported) {
    const char* samples[] = {"lzh/lharc113_lh1.lzh",    "lzh/unlha32_lh2.lzh",    "lzh/unlha32_lh3.lzh",
                             "lzh/amiga122_lh4.lzh",    "lzh/lha213_lh5.lzh",     "lzh/unix114i_h1_lh6.lzh",
                             "lzh/unix114i_h2_lh7.lzh", "lzh/unlha32_h2_lhx.lzh", "lzh/generated_lzs.lzs",
                             "lzh/larc333_lz5.lzs",     "lzh/pmarc2_pm2.pma"};
    int tried = 0;
    for (const char* s : samples) {
        auto path = test::Fixture(s);
        if (path.empty()) continue;
        auto file = test::ReadFile(path);
        auto entries = test::WalkLzh(file);
        ASSERT_FALSE(entries.empty()) << s;
        const auto& e = entries[0];
        for (uint64_t keep : {e.packed / 2, e.packed - 1}) {
            SCOPED_TRACE(std::string(s) + " keeping " + std::to_string(keep));
            std::vector<uint8_t> cut(file.begin() + static_cast<long>(e.dataOffset),
                                     file.begin() + static_cast<long>(e.dataOffset + keep));
            std::vector<uint8_t> out;
            auto r = DecodeId(e.method, cut, e.unpacked, &out);
            EXPECT_NE(r.status, DecodeStatus::Ok);
            EXPECT_LT(out.size(), e.unpacked);
            ++tried;
        }
    }
    if (!tried) GTEST_SKIP() << "fixtures not available";
}

// Random bytes through every decoder: no crash, never more output than the entry size.
TEST(LzhMethods, RandomInputNeverExceedsTheEntrySize) {
    std::mt19937 rng(12345);
    const char* ids[] = {"-lh1-", "-lh2-", "-lh3-", "-lh4-", "-lh5-", "-lh6-",
                         "-lh7-", "-lhx-", "-lzs-", "-lz5-", "-pm2-"};
    for (const char* id : ids) {
        for (int round = 0; round < 60; ++round) {
            std::vector<uint8_t> in(1 + rng() % 3000);
            for (auto& b : in)
                b = static_cast<uint8_t>(rng());
            uint64_t unpacked = rng() % 200000;
            DecodeId(id, in, unpacked);
        }
    }
}

}  // namespace
}  // namespace varnok
