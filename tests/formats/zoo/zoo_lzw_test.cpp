// ZOO method 1 (LZW): real archives made by zoo, streams from the test compressor in ZOO's layout, and
// hand-made corner cases.
#include <gtest/gtest.h>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/formats/zoo/zoo_lzw.h"
#include "tests/formats/gzip_tar/codec_test_util.h"

namespace varnok {
namespace {

using Bytes = std::vector<uint8_t>;

DecodeResult Decode(const Bytes& in, Bytes& out, const CancelFlag* cancel = nullptr) {
    MemorySource src(in);
    VectorSink sink;
    DecodeResult r = DecodeZooLzw(src, sink, cancel);
    out = sink.Data();
    EXPECT_EQ(r.produced, out.size());
    EXPECT_LE(r.consumed, in.size());
    return r;
}

Bytes Codes(std::initializer_list<uint32_t> codes, int width = 9) {
    test::LsbBitWriter w;
    for (uint32_t c : codes)
        w.Put(c, width);
    return w.Finish();
}

test::TestLzwLayout ZooLayout(bool clearWhenFull = true) {
    test::TestLzwLayout l;
    l.maxBits = 13;
    l.clearCode = true;
    l.endCode = true;
    l.groupAlign = false;
    l.leadingClear = true;
    l.clearWhenFull = clearWhenFull;
    return l;
}

// One entry of a ZOO directory (58-byte entries chained by their next-entry position).
struct ZooEntry {
    std::string name;
    int method = 0;
    uint16_t crc = 0;
    uint32_t size = 0;
    Bytes data;
};

std::vector<ZooEntry> WalkZoo(const Bytes& f) {
    std::vector<ZooEntry> out;
    if (f.size() < 34) return out;
    uint32_t pos = Le32(&f[24]);
    for (int guard = 0; guard < 1000 && pos + 58 <= f.size(); ++guard) {
        const uint8_t* d = &f[pos];
        if (Le32(d) != 0xFDC4A7DCu) break;
        uint32_t next = Le32(d + 6);
        if (next == 0) break;
        ZooEntry e;
        e.method = d[5];
        uint32_t offset = Le32(d + 10);
        e.crc = Le16(d + 18);
        e.size = Le32(d + 20);
        uint32_t packed = Le32(d + 24);
        e.name = FieldString(d + 38, 13);
        if (!d[30] && offset <= f.size() && packed <= f.size() - offset) {
            e.data.assign(f.begin() + offset, f.begin() + offset + packed);
            out.push_back(e);
        }
        pos = next;
    }
    return out;
}

TEST(ZooFixtures, LzwEntriesDecodeToTheirCrcAndThePeersBytes) {
    VARNOK_REQUIRE_FIXTURE(path, "zoo/unarcrs_default.zoo");
    auto entries = WalkZoo(test::ReadFile(path));
    ASSERT_EQ(entries.size(), 1u);
    const auto& e = entries[0];
    ASSERT_EQ(e.method, 1);
    Bytes out;
    DecodeResult r = Decode(e.data, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(r.consumed, e.data.size());
    EXPECT_EQ(out.size(), e.size);
    EXPECT_EQ(Crc16(out.data(), out.size()), e.crc);
    auto rows = test::ExpectedFor("zoo/unarcrs_default.zoo");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(test::Sha256Hex(out), rows[0].sha256);
}

TEST(ZooLzw, RoundTrips) {
    for (auto [name, data] : std::vector<std::pair<std::string, Bytes>>{
             {"text", test::SampleText(400000, 1)},
             {"runs", test::SampleRuns(200000, 2)},
             {"random", test::SampleRandom(60000, 3)},
             {"mixed", test::SampleMixed(300000, 4)},
             {"one", {'z'}},
         }) {
        for (bool clearWhenFull : {true, false}) {
            Bytes out;
            DecodeResult r = Decode(test::TestLzwCompress(data, ZooLayout(clearWhenFull)), out);
            EXPECT_EQ(r.status, DecodeStatus::Ok) << name << " " << clearWhenFull;
            EXPECT_TRUE(out == data) << name << " " << clearWhenFull;
        }
    }
}

TEST(ZooLzw, SmallStreams) {
    Bytes out;
    // Clear, 'A', end: the single byte 65.
    DecodeResult r = Decode(Codes({256, 65, 257}), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Bytes{65});
    // Clear then end: an empty file.
    r = Decode(Codes({256, 257}), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_TRUE(out.empty());
    // New strings start at 258: 'a' 'b' 258 ("ab", entering "ba" as 259) 260 (the string being defined:
    // "ab" + 'a').
    r = Decode(Codes({256, 'a', 'b', 258, 260, 257}), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abababa");
    // A clear in the middle starts over; nothing after the end code is read.
    Bytes s = Codes({256, 'x', 'y', 258, 256, 'p', 'q', 258, 257});
    s.push_back(0xAB);
    r = Decode(s, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "xyxypqpq");
    EXPECT_EQ(r.consumed, s.size() - 1);
}

TEST(ZooLzw, CorruptAndTruncated) {
    Bytes out;
    // A code beyond the next free code (259 after 'a' 'b').
    DecodeResult r = Decode(Codes({256, 'a', 'b', 260, 257}), out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidCode);
    EXPECT_EQ(std::string(out.begin(), out.end()), "ab");
    // A string code right after a clear.
    r = Decode(Codes({256, 258, 257}), out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    // No end code.
    r = Decode(Codes({256, 'a', 'b'}), out);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_EQ(std::string(out.begin(), out.end()), "ab");
    r = Decode({}, out);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
}

TEST(ZooLzw, WidthGrowsWithoutCodeGroups) {
    // After 254 new strings the next free code is 512 and codes become 10 bits wide, straight away.
    test::LsbBitWriter w;
    w.Put(256, 9);
    std::string expect;
    for (int i = 0; i < 255; ++i) {
        uint8_t ch = static_cast<uint8_t>('a' + i % 26);
        w.Put(ch, 9);
        expect += static_cast<char>(ch);
    }
    w.Put(258, 10);  // 'a' + 'b'
    w.Put(257, 10);
    Bytes out;
    DecodeResult r = Decode(w.Finish(), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), expect + "ab");
}

TEST(ZooLzw, CancelAndSmallReads) {
    auto data = test::SampleText(300000, 6);
    Bytes z = test::TestLzwCompress(data, ZooLayout());
    CancelFlag cancel{true};
    Bytes out;
    EXPECT_EQ(Decode(z, out, &cancel).status, DecodeStatus::Cancelled);
    ZooLzwDecoder d;
    for (size_t step : {1, 7, 4093}) {
        test::TrickleSource src(z, step);
        VectorSink sink;
        DecodeResult r = d.Decode(src, sink);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << step;
        EXPECT_TRUE(sink.Data() == data) << step;
    }
}

}  // namespace
}  // namespace varnok
