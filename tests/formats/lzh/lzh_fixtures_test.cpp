// Decoding every entry of the real LZH-family samples and comparing with the headers' CRC-16 and
// with what the peer tools extracted.
#include <gtest/gtest.h>

#include <set>

#include "archive/core/crc.h"
#include "archive/formats/lzh/lzh_methods.h"
#include "tests/formats/lzh/lzh_test_util.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::HashSink;

struct Decoded {
    test::LzhEntry entry;
    DecodeResult result;
    uint16_t crc16 = 0;
    uint64_t size = 0;
    std::string sha;
    size_t smallestNonFinalWrite = SIZE_MAX;
};

std::vector<Decoded> DecodeAll(const std::vector<uint8_t>& file) {
    std::vector<Decoded> out;
    for (const auto& e : test::WalkLzh(file)) {
        uint64_t avail = e.dataOffset < file.size() ? file.size() - e.dataOffset : 0;
        MemorySource src(file.data() + e.dataOffset, std::min<uint64_t>(avail, e.packed));
        HashSink sink;
        Decoded d;
        d.entry = e;
        d.result = DecodeLzhMethod(e.method, src, e.packed, sink, e.unpacked);
        d.crc16 = sink.crc16;
        d.size = sink.size;
        d.sha = sink.Sha();
        d.smallestNonFinalWrite = sink.smallestNonFinalWrite;
        out.push_back(d);
    }
    return out;
}

// Every sample whose entries are expected to decode cleanly.
const char* const kCleanSamples[] = {
    "lzh/amiga122_level0.lzh",
    "lzh/amiga122_level1.lzh",
    "lzh/amiga122_level2.lzh",
    "lzh/amiga122_lh0_dirs_bug.lzh",
    "lzh/amiga122_lh1.lzh",
    "lzh/amiga122_lh4.lzh",
    "lzh/amiga122_lh4_long.lzh",
    "lzh/amiga212_lh6.lzh",
    "lzh/atari313a_h1_lh5.lzh",
    "lzh/atari313a_h2_lz5.lzh",
    "lzh/explzh723_declha_sfx_ansi.exe",
    "lzh/explzh723_h0_lh6.lzh",
    "lzh/explzh723_h2_lh7.lzh",
    "lzh/generated_lzs.lzs",
    "lzh/larc333_initial.lzs",
    "lzh/larc333_lz4.lzs",
    "lzh/larc333_lz5.lzs",
    "lzh/larc333_sfx.com",
    "lzh/larc333_subdir.lzs",
    "lzh/lengths_lh1-0.lzh",
    "lzh/lengths_lz5-1.lzs",
    "lzh/lh2_222_eas.lzh",
    "lzh/lha213_lh5.lzh",
    "lzh/lha213_sfx.exe",
    "lzh/lha213_subdir.lzh",
    "lzh/lha255e_lh5.lzh",
    "lzh/lha255e_sfx.exe",
    "lzh/lharc113_lh0.lzh",
    "lzh/lharc113_lh1.lzh",
    "lzh/lharc113_long.lzh",
    "lzh/lharc113_sfx.com",
    "lzh/lhmelt_h0_lh1.lzh",
    "lzh/lhmelt_h2_lh5.lzh",
    "lzh/lhmelt_sfx_winsfx_213.exe",
    "lzh/libarchive_bugfix_0.lzh",
    "lzh/libarchive_filename_cp932.lzh",
    "lzh/libarchive_filename_utf16.lzh",
    "lzh/libarchive_header0.lzh",
    "lzh/libarchive_header1.lzh",
    "lzh/libarchive_header2.lzh",
    "lzh/libarchive_header3.lzh",
    "lzh/libarchive_withjunk.lzh",
    "lzh/maclha224_l0_lh5.lzh",
    "lzh/maclha224_l1_full_subdir.lzh",
    "lzh/maclha224_l2_lh5.lzh",
    "lzh/morphos_h0_metadata.lzh",
    "lzh/morphos_h1_metadata.lzh",
    "lzh/morphos_h2_metadata.lzh",
    "lzh/os2_208_h3_lfn.lzh",
    "lzh/os2_208_h3_lh0.lzh",
    "lzh/os2_208_h3_lh5.lzh",
    "lzh/os2_208_h3_subdir.lzh",
    "lzh/os2_208_lfn.lzh",
    "lzh/os9_211c_h1_lh1.lzh",
    "lzh/osk_201_h2_lh5.lzh",
    "lzh/pmarc2_pm2.pma",
    "lzh/regression_abspath.lzh",
    "lzh/regression_badterm.lzh",
    "lzh/regression_dir.lzh",
    "lzh/regression_dotdot.lzh",
    "lzh/regression_multiple.lzh",
    "lzh/regression_unixsep.lzh",
    "lzh/tascal051h_lh5.lzh",
    "lzh/unix114i_h0_lh0.lzh",
    "lzh/unix114i_h0_lh5.lzh",
    "lzh/unix114i_h0_subdir.lzh",
    "lzh/unix114i_h1_lh5.lzh",
    "lzh/unix114i_h1_lh6.lzh",
    "lzh/unix114i_h1_subdir.lzh",
    "lzh/unix114i_h2_lh5.lzh",
    "lzh/unix114i_h2_lh7.lzh",
    "lzh/unix114i_h2_subdir.lzh",
    "lzh/unix114i_h2_symlink.lzh",
    "lzh/unix114i_lh6_long.lzh",
    "lzh/unix114i_lh7_long.lzh",
    "lzh/unlha32_h2_lhx.lzh",
    "lzh/unlha32_lh2.lzh",
    "lzh/unlha32_lh3.lzh",
    "lzh/x68k_213_h2_lh5.lzh",
};

// MacLHA stores files as MacBinary (a 128-byte header, the data fork, the resource fork); the
// peers strip that wrapping on extraction, so only the CRC of the stored bytes can be compared.
bool PeersUnwrapMacBinary(const std::string& sample) {
    return sample.find("maclha224_l") != std::string::npos && sample.find("_l0_") == std::string::npos;
}

class LzhSample : public ::testing::TestWithParam<const char*> {};

TEST_P(LzhSample, EveryEntryMatchesItsCrcAndThePeers) {
    VARNOK_REQUIRE_FIXTURE(path, GetParam());
    auto file = test::ReadFile(path);
    auto decoded = DecodeAll(file);
    ASSERT_FALSE(decoded.empty()) << "no entries found";
    std::multiset<std::string> ours;
    for (const auto& d : decoded) {
        SCOPED_TRACE(d.entry.name + " " + d.entry.method);
        EXPECT_EQ(d.result.status, DecodeStatus::Ok) << "error " << d.result.errorCode;
        EXPECT_EQ(d.size, d.entry.unpacked);
        EXPECT_EQ(d.result.produced, d.entry.unpacked);
        EXPECT_EQ(d.crc16, d.entry.crc16);
        EXPECT_LE(d.result.consumed, d.entry.packed);
        // Output goes out in large pieces: every write but the last is at least 32 KiB.
        if (d.smallestNonFinalWrite != SIZE_MAX) {
            EXPECT_GE(d.smallestNonFinalWrite, 32u * 1024);
        }
        ours.insert(d.sha);
    }
    if (PeersUnwrapMacBinary(GetParam())) return;
    for (const auto& row : test::ExpectedFor(GetParam())) {
        EXPECT_TRUE(ours.count(row.sha))
            << "peer output of " << row.entry << " (" << row.size << " bytes) not produced";
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LzhSample, ::testing::ValuesIn(kCleanSamples),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string n = param.param;
                             n = n.substr(n.find('/') + 1);
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// Samples that must not pass: a cut archive and a method id that LHARK reused for its own scheme.
TEST(LzhSampleDamaged, TruncatedAndClashingEntriesAreReported) {
    {
        VARNOK_REQUIRE_FIXTURE(path, "lzh/regression_truncated.lzh");
        auto file = test::ReadFile(path);
        auto d = DecodeAll(file);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].result.status, DecodeStatus::Truncated);
        EXPECT_LT(d[0].size, d[0].entry.unpacked);
    }
    {
        VARNOK_REQUIRE_FIXTURE(path, "lzh/lhark04d_lh7.lzh");
        auto d = DecodeAll(test::ReadFile(path));
        ASSERT_EQ(d.size(), 1u);
        EXPECT_TRUE(d[0].result.status != DecodeStatus::Ok || d[0].crc16 != d[0].entry.crc16);
    }
}

// An entry whose 64-bit sizes live in an extended header (4.4 GiB of zeros in 23 KB). The peers'
// listing wraps the size at 4 GiB; the stored CRC-16 covers all of it.
TEST(LzhSampleHuge, SizeBeyond4GiBDecodesInFullAndMatchesItsCrc) {
    VARNOK_REQUIRE_FIXTURE(path, "lzh/morphos_h2_huge.lzh");
    auto file = test::ReadFile(path);
    auto entries = test::WalkLzh(file);
    ASSERT_EQ(entries.size(), 1u);
    const auto& e = entries[0];
    ASSERT_GT(e.unpacked, uint64_t{1} << 32);
    struct Crc16Sink : ByteSink {
        uint64_t size = 0;
        uint16_t crc = 0;
        bool allZero = true;
        void Write(const uint8_t* b, size_t n) override {
            size += n;
            crc = UpdateCrc16(crc, b, n);
            for (size_t i = 0; i < n && allZero; i += 4096)
                allZero = b[i] == 0;
        }
    } sink;
    MemorySource src(file.data() + e.dataOffset, e.packed);
    auto r = DecodeLzhMethod(e.method, src, e.packed, sink, e.unpacked);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(sink.size, e.unpacked);
    EXPECT_EQ(sink.crc, e.crc16);
    EXPECT_TRUE(sink.allZero);
}

}  // namespace
}  // namespace varnok
