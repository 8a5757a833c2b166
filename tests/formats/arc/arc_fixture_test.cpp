// ARC and PAK entries of real archives made by other programs: every supported entry decodes to the size
// and CRC-16 of its header, and to the bytes the peers extracted.
#include <gtest/gtest.h>

#include <map>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/formats/arc/arc_codecs.h"
#include "tests/formats/gzip_tar/codec_test_util.h"

namespace varnok {
namespace {

// One entry found by walking the ARC headers (marker 26, method, 13-byte name, sizes, date, CRC-16).
struct ArcEntry {
    int method = 0;
    std::string name;
    uint32_t packedSize = 0, size = 0;
    uint16_t crc = 0;
    std::vector<uint8_t> data;
};

std::vector<ArcEntry> WalkArc(const std::vector<uint8_t>& f) {
    std::vector<ArcEntry> out;
    size_t p = 0;
    while (p + 2 <= f.size() && f[p] == 0x1A && f[p + 1] != 0) {
        ArcEntry e;
        e.method = f[p + 1];
        size_t headerSize = e.method == 1 ? 25 : 29;
        if (p + headerSize > f.size()) break;
        e.name = FieldString(&f[p + 2], 13);
        e.packedSize = Le32(&f[p + 15]);
        e.crc = Le16(&f[p + 23]);
        e.size = e.method == 1 ? e.packedSize : Le32(&f[p + 25]);
        size_t start = p + headerSize;
        if (e.packedSize > f.size() - start) break;
        e.data.assign(f.begin() + static_cast<std::ptrdiff_t>(start),
                      f.begin() + static_cast<std::ptrdiff_t>(start + e.packedSize));
        out.push_back(std::move(e));
        p = start + e.packedSize;
        if (out.back().method == 30) p = start;
    }
    return out;
}

struct Case {
    const char* archive;
    size_t entries;         // entries the walk must find
    const char* reference;  // fixture whose EXPECTED rows give the bytes when the archive's own are unusable
};

class ArcFixture : public ::testing::TestWithParam<Case> {};

TEST_P(ArcFixture, EntriesDecodeToTheirCrcAndThePeersBytes) {
    const Case c = GetParam();
    VARNOK_REQUIRE_FIXTURE(path, c.archive);
    auto entries = WalkArc(test::ReadFile(path));
    ASSERT_EQ(entries.size(), c.entries);
    std::map<std::string, test::ExpectedEntry> expected;
    for (auto& row : test::ExpectedFor(c.reference ? c.reference : c.archive))
        expected[row.entry] = row;

    ArcDecoder decoder;
    for (const auto& e : entries) {
        SCOPED_TRACE(e.name + " method " + std::to_string(e.method));
        MemorySource src(e.data);
        VectorSink sink;
        DecodeResult r = decoder.Decode(e.method, src, sink);
        const auto& out = sink.Data();
        EXPECT_EQ(r.status, DecodeStatus::Ok);
        EXPECT_EQ(r.errorCode, 0);
        EXPECT_EQ(r.produced, out.size());
        EXPECT_LE(r.consumed, e.data.size());
        EXPECT_EQ(out.size(), e.size);
        EXPECT_EQ(Crc16(out.data(), out.size()), e.crc);
        auto it = expected.find(e.name);
        ASSERT_NE(it, expected.end());
        EXPECT_EQ(test::Sha256Hex(out), it->second.sha256);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ArcFixture,
    ::testing::Values(Case{"arc/unarcrs_store.arc", 1, nullptr}, Case{"arc/unarcrs_crunch.arc", 1, nullptr},
                      Case{"arc/unarcrs_crunch2.arc", 1, nullptr},
                      Case{"arc/unarcrs_squashed.arc", 1, nullptr}, Case{"arc/unarcrs_cpm.arc", 2, nullptr},
                      Case{"arc/newtua_crunch.arc", 4, nullptr}, Case{"arc/newtua_multi.arc", 3, nullptr},
                      Case{"arc/newtua_lzw.arc", 2, nullptr}, Case{"arc/newtua_crush.arc", 5, nullptr},
                      Case{"arc/sharpcompress_Arc.squeezed.arc", 3, nullptr},
                      Case{"arc/sharpcompress_Arc.squashed.arc", 3, nullptr},
                      Case{"arc/patool_t.arc", 2, nullptr},
                      Case{"arc/unarcrs_license_crushed.pak", 1, nullptr},
                      Case{"arc/unarcrs_license_crunched.pak", 1, nullptr},
                      Case{"arc/unarcrs_license_squashed.pak", 1, nullptr},
                      // unar failed on the distilled entry; the same LICENSE file is in the stored archive.
                      Case{"arc/unarcrs_license.pak", 1, "arc/unarcrs_store.arc"}),
    [](const ::testing::TestParamInfo<Case>& p) {
        std::string n = p.param.archive;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

// The damaged archive's stored data decodes, and its CRC-16 shows the damage.
TEST(ArcFixtureDamaged, WrongCrcIsVisible) {
    VARNOK_REQUIRE_FIXTURE(path, "arc/unarcrs_wrongcrc16.arc");
    auto entries = WalkArc(test::ReadFile(path));
    ASSERT_EQ(entries.size(), 1u);
    MemorySource src(entries[0].data);
    VectorSink sink;
    DecodeResult r = DecodeArcEntry(entries[0].method, src, sink);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(sink.Data().size(), entries[0].size);
    EXPECT_NE(Crc16(sink.Data().data(), sink.Data().size()), entries[0].crc);
}

}  // namespace
}  // namespace varnok
