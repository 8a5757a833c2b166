// The compress (.Z) decoder: real files from other programs, files made here by ncompress at every
// width, and hand-made streams for the format's corners and for corrupt input.
#include <gtest/gtest.h>

#include <atomic>

#include "archive/core/errors.h"
#include "archive/formats/gzip/compress_decoder.h"
#include "tests/formats/gzip_tar/codec_test_util.h"

namespace varnok {
namespace {

using test::SampleMixed;
using test::SampleRandom;
using test::SampleRuns;
using test::SampleText;

DecodeResult DecodeAll(const std::vector<uint8_t>& z, std::vector<uint8_t>& out) {
    MemorySource src(z);
    VectorSink sink;
    DecodeResult r = DecodeCompress(src, sink);
    out = sink.Data();
    return r;
}

using CodeWriter = test::LsbBitWriter;

std::vector<uint8_t> Header(uint8_t flags) {
    return {0x1F, 0x9D, flags};
}

TEST(CompressFixtures, DecodeLikeThePeers) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    int checked = 0;
    for (const char* name :
         {"compress/commons_bla.tar.Z", "compress/unarcrs_LICENSE.Z",
          "compress/sharpcompress_large_test.txt.Z", "compress/libarchive_compat_mac-2.tar.Z",
          "compress/ark_simplearchive.tar.Z", "compress/patool_t.txt.Z"}) {
        auto path = test::Fixture(name);
        if (path.empty()) continue;
        auto rows = test::ExpectedFor(name);
        ASSERT_EQ(rows.size(), 1u) << name;
        std::vector<uint8_t> out;
        DecodeResult r = DecodeAll(test::ReadFile(path), out);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << name;
        EXPECT_EQ(r.produced, out.size());
        EXPECT_EQ(r.consumed, test::ReadFile(path).size()) << name;
        EXPECT_EQ(out.size(), rows[0].size) << name;
        EXPECT_EQ(test::Sha256Hex(out), rows[0].sha256) << name;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// Files made by ncompress at each code width, over data that fills the table (and, for the mixed sample,
// makes compress clear it). ncompress 4.2.4 writes broken files at -b9 and with -C (its own uncompress
// and gzip reject them too), so those layouts are covered with the test compressor below.
class CompressRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(CompressRoundTrip, MatchesNcompressOutput) {
    VARNOK_REQUIRE_TOOL("compress");
    const int bits = GetParam();
    test::TempDir dir;
    struct Sample {
        const char* name;
        std::vector<uint8_t> data;
    };
    std::vector<Sample> samples = {
        {"text", SampleText(300000, bits)},
        {"random", SampleRandom(70000, bits)},
        {"runs", SampleRuns(200000, bits)},
        {"mixed", SampleMixed(bits >= 15 ? 1500000 : 400000, bits)},
        {"empty", {}},
        {"one", {'x'}},
    };
    for (const auto& s : samples) {
        auto in = dir / s.name;
        test::WriteFile(in, s.data);
        std::string cmd = "compress -c -f -b" + std::to_string(bits) + " " + test::Quote(in) + " > " +
                          test::Quote(dir / "out.Z");
        ASSERT_EQ(test::Run(cmd), 0) << cmd;
        auto z = test::ReadFile(dir / "out.Z");
        ASSERT_GE(z.size(), 3u);
        ASSERT_EQ(z[2], 0x80 | bits);
        std::vector<uint8_t> out;
        DecodeResult r = DecodeAll(z, out);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << s.name;
        EXPECT_EQ(r.errorCode, 0);
        EXPECT_EQ(r.produced, s.data.size());
        EXPECT_TRUE(out == s.data) << s.name << " -b" << bits;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, CompressRoundTrip, ::testing::Range(10, 17));

// Every width with and without block mode, from the test compressor (which clears as soon as the table
// is full, so block-mode streams clear many times).
TEST(CompressDecoder, AllWidthsBothModes) {
    for (int bits = 9; bits <= 16; ++bits) {
        for (bool block : {true, false}) {
            for (const auto& data :
                 {SampleText(200000, bits), SampleMixed(bits >= 14 ? 600000 : 120000, bits),
                  SampleRuns(50000, bits)}) {
                test::TestLzwLayout l;
                l.maxBits = bits;
                l.clearCode = block;
                auto body = test::TestLzwCompress(data, l);
                auto z = Header(static_cast<uint8_t>((block ? 0x80 : 0) | bits));
                z.insert(z.end(), body.begin(), body.end());
                std::vector<uint8_t> out;
                DecodeResult r = DecodeAll(z, out);
                ASSERT_EQ(r.status, DecodeStatus::Ok) << bits << " " << block;
                ASSERT_TRUE(out == data) << bits << " " << block;
            }
        }
    }
}

// The streams of the test compressor are what another decoder (gzip's) reads too, so the layouts above
// are the real ones and not a shared misreading.
TEST(CompressDecoder, TestCompressorAgreesWithGzip) {
    VARNOK_REQUIRE_TOOL("gzip");
    test::TempDir dir;
    for (int bits : {9, 12, 16}) {
        for (bool block : {true, false}) {
            auto data = SampleMixed(bits == 16 ? 600000 : 100000, bits);
            test::TestLzwLayout l;
            l.maxBits = bits;
            l.clearCode = block;
            auto body = test::TestLzwCompress(data, l);
            auto z = Header(static_cast<uint8_t>((block ? 0x80 : 0) | bits));
            z.insert(z.end(), body.begin(), body.end());
            test::WriteFile(dir / "t.Z", z);
            std::string out;
            ASSERT_EQ(test::Run("gzip -dc < " + test::Quote(dir / "t.Z"), &out), 0) << bits << " " << block;
            EXPECT_TRUE(std::vector<uint8_t>(out.begin(), out.end()) == data) << bits << " " << block;
        }
    }
}

TEST(CompressDecoder, InputInSmallPiecesAndLargeOutputChunks) {
    VARNOK_REQUIRE_TOOL("compress");
    test::TempDir dir;
    auto data = SampleMixed(600000, 7);
    test::WriteFile(dir / "in", data);
    ASSERT_EQ(test::Run("compress -c -f -b12 " + test::Quote(dir / "in") + " > " + test::Quote(dir / "in.Z")),
              0);
    auto z = test::ReadFile(dir / "in.Z");
    for (size_t step : {1, 2, 3, 5, 7, 13, 4096}) {
        test::TrickleSource src(z, step);
        test::RecordingSink sink;
        CompressDecoder d;
        DecodeResult r = d.Decode(src, sink);
        ASSERT_EQ(r.status, DecodeStatus::Ok) << step;
        ASSERT_TRUE(sink.data == data) << step;
        for (size_t i = 0; i + 1 < sink.writes.size(); ++i)
            EXPECT_GE(sink.writes[i], 32u * 1024) << step;
    }
}

TEST(CompressDecoder, HeaderChecks) {
    std::vector<uint8_t> out;
    auto body = [] {
        CodeWriter w;
        w.Put('a', 9);
        return w.Finish();
    }();
    auto with = [&](std::vector<uint8_t> h) {
        h.insert(h.end(), body.begin(), body.end());
        return h;
    };
    DecodeResult r = DecodeAll(with(Header(0x6C)), out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_IncompleteCodeSet);
    EXPECT_EQ(ErrorText(r.errorCode), "Incomplete code set");
    for (uint8_t bits : {0, 8, 17, 31}) {
        r = DecodeAll(with(Header(0x80 | bits)), out);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt) << int(bits);
        EXPECT_EQ(r.errorCode, E_IncorrectBits) << int(bits);
    }
    r = DecodeAll(with({0x1F, 0x8B, 0x90}), out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_HeaderId);
    for (size_t n = 0; n < 3; ++n) {
        auto h = Header(0x90);
        h.resize(n);
        r = DecodeAll(h, out);
        EXPECT_EQ(r.status, DecodeStatus::Truncated) << n;
    }
    r = DecodeAll(Header(0x90), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_TRUE(out.empty());
    r = DecodeAll(with(Header(0x89)), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, std::vector<uint8_t>{'a'});
}

TEST(CompressDecoder, FirstCodeMustBeALiteral) {
    for (uint32_t first : {256u, 257u, 300u}) {
        CodeWriter w;
        w.Put(first, 9);
        auto z = Header(0x90);
        auto b = w.Finish();
        z.insert(z.end(), b.begin(), b.end());
        std::vector<uint8_t> out;
        DecodeResult r = DecodeAll(z, out);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt) << first;
        EXPECT_EQ(r.errorCode, E_CorruptInput);
        EXPECT_TRUE(out.empty());
    }
}

TEST(CompressDecoder, CodesAboveTheNextFreeCodeAreCorrupt) {
    // 'a' 'b' then 257 ("ab"), after which the next free code is 259; 260 lies beyond it -> corrupt, and
    // what came before is still written.
    CodeWriter w;
    for (uint32_t c : std::initializer_list<uint32_t>{'a', 'b', 257u, 260u, 'c'})
        w.Put(c, 9);
    auto z = Header(0x90);
    auto b = w.Finish();
    z.insert(z.end(), b.begin(), b.end());
    std::vector<uint8_t> out;
    DecodeResult r = DecodeAll(z, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_CorruptInput);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abab");
    EXPECT_EQ(r.produced, 4u);

    // The code equal to the next free one is the string being defined: the previous string "b" plus its
    // own first byte.
    CodeWriter w2;
    for (uint32_t c : std::initializer_list<uint32_t>{'a', 'b', 258u})
        w2.Put(c, 9);
    z = Header(0x90);
    b = w2.Finish();
    z.insert(z.end(), b.begin(), b.end());
    r = DecodeAll(z, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abbb");
}

TEST(CompressDecoder, ClearSkipsToTheEndOfTheCodeGroup) {
    // Three codes of a group of eight, the clear as the fourth: the other four 9-bit slots of the group
    // are padding, and decoding resumes at the next 9-byte boundary with a fresh table.
    CodeWriter w;
    for (uint32_t c : std::initializer_list<uint32_t>{'x', 'y', 257u, 256u})
        w.Put(c, 9);
    for (int i = 0; i < 4; ++i)
        w.Put(0x1FF, 9);  // garbage the decoder must skip
    ASSERT_EQ(w.bytes.size(), 9u);
    for (uint32_t c : std::initializer_list<uint32_t>{'p', 'q', 257u})
        w.Put(c, 9);
    auto z = Header(0x90);
    auto b = w.Finish();
    z.insert(z.end(), b.begin(), b.end());
    std::vector<uint8_t> out;
    DecodeResult r = DecodeAll(z, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "xyxypqpq");
}

TEST(CompressDecoder, WidthChangeSkipsToTheEndOfTheCodeGroup) {
    // Without block mode the first free code is 256. After 256 new strings the next free code is 512 and
    // the width becomes 10 bits; the rest of the current 9-bit group is skipped first.
    CodeWriter w;
    std::string expect;
    int codes = 0;
    w.Put('a', 9), expect += 'a', ++codes;
    for (int i = 0; i < 256; ++i) {
        uint8_t ch = static_cast<uint8_t>('a' + (i % 26));
        w.Put(ch, 9), expect += static_cast<char>(ch), ++codes;
    }
    // 257 codes read, 256 strings entered: next free code is 512 > 511, so the width grows now.
    while (codes % 8)
        w.Put(0x155, 9), ++codes;  // padding to the group end
    w.Put(300, 10);                // a 10-bit code for an entered string
    auto z = Header(0x10);
    auto b = w.Finish();
    z.insert(z.end(), b.begin(), b.end());
    std::vector<uint8_t> out;
    DecodeResult r = DecodeAll(z, out);
    ASSERT_EQ(r.status, DecodeStatus::Ok);
    // Code 300 is the string entered 44th: the codes' strings 44 and 45 joined ("rs").
    std::string got(out.begin(), out.end());
    ASSERT_EQ(got.size(), expect.size() + 2);
    EXPECT_EQ(got.substr(0, expect.size()), expect);
    EXPECT_EQ(got.substr(expect.size()), expect.substr(44, 2));
}

TEST(CompressDecoder, CancelAndSinkFailure) {
    VARNOK_REQUIRE_TOOL("compress");
    test::TempDir dir;
    auto data = SampleText(500000, 3);
    test::WriteFile(dir / "in", data);
    ASSERT_EQ(test::Run("compress -c -f " + test::Quote(dir / "in") + " > " + test::Quote(dir / "in.Z")), 0);
    auto z = test::ReadFile(dir / "in.Z");

    CancelFlag cancel{true};
    MemorySource src(z);
    VectorSink sink;
    DecodeResult r = DecodeCompress(src, sink, &cancel);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
    EXPECT_LT(sink.Data().size(), data.size());

    // A sink failure propagates as the sink's exception.
    MemorySource src2(z);
    VectorSink small(100000);
    EXPECT_THROW(DecodeCompress(src2, small), ArchiveError);
}

}  // namespace
}  // namespace varnok
