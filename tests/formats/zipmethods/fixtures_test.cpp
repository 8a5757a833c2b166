// Real archives made by other programs: every entry of the listed samples decodes to its stored size and
// CRC-32, and to the digest the peer tools' output had.
#include <gtest/gtest.h>

#include <map>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/formats/zip/zip_method.h"
#include "tests/formats/zipmethods/test_util.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::ZipEntry;

using Counts = std::map<uint16_t, int>;  // entries decoded, per method

// Decodes every unencrypted entry and checks size, CRC and (where EXPECTED.tsv has one) sha256.
Counts CheckArchive(const std::string& rel) {
    Counts counts;
    const auto path = test::Fixture(rel);
    const std::vector<uint8_t> file = test::ReadFile(path);
    const std::vector<ZipEntry> entries = test::ReadZipEntries(file);
    const auto& expected = test::ExpectedOf(rel);
    ZipMethodDecoder decoder;
    int digests = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ZipEntry& e = entries[i];
        if (e.flags & 1) continue;  // encrypted
        SCOPED_TRACE(rel + ": " + e.name + " method " + std::to_string(e.method));
        MemorySource src(file.data() + e.dataOffset, e.compressedSize);
        VectorSink sink;
        const DecodeResult r = decoder.Decode(e.method, e.flags, e.size, src, sink);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << "error " << r.errorCode;
        EXPECT_EQ(r.produced, e.size);
        EXPECT_EQ(sink.Data().size(), e.size);
        EXPECT_EQ(Crc32(sink.Data()), e.crc);
        if (e.method == zmDeflated || e.method == zmDeflate64) {
            EXPECT_EQ(r.consumed, e.compressedSize);
        }
        if (r.Ok() && Crc32(sink.Data()) == e.crc) ++counts[e.method];

        // The digest of the peer's output for the same entry: by name, else by size when the peer printed the
        // name in another code page and only one row has that size.
        std::string digest;
        int sameSize = 0;
        for (const auto& x : expected) {
            if (!x.HasDigest()) continue;
            if (x.entry == e.name) {
                digest = x.sha256;
                sameSize = 1;
                break;
            }
            if (x.size == e.size && ++sameSize == 1) digest = x.sha256;
        }
        if (sameSize != 1) digest.clear();
        if (!digest.empty()) {
            EXPECT_EQ(test::Sha256Hex(sink.Data()), digest);
            ++digests;
        }
    }
    printf("%s: %zu entries, %d digests compared\n", rel.c_str(), entries.size(), digests);
    return counts;
}

TEST(ZipFixtures, ShrunkEntries) {
    VARNOK_REQUIRE_FIXTURE(a, "zip/commons_SHRUNK.ZIP");
    EXPECT_EQ(CheckArchive("zip/commons_SHRUNK.ZIP")[zmShrunk], 2);
    for (const char* rel : {"zip/sharpcompress_Zip.shrink.zip", "zip/zip2_shrink.zip"}) {
        VARNOK_REQUIRE_FIXTURE(p, rel);
        EXPECT_GE(CheckArchive(rel)[zmShrunk], 1) << rel;
    }
}

TEST(ZipFixtures, ReducedEntriesAllFactors) {
    int factor = 1;
    for (const char* rel : {"zip/sharpcompress_Zip.reduce1.zip", "zip/sharpcompress_Zip.reduce2.zip",
                            "zip/sharpcompress_Zip.reduce3.zip", "zip/sharpcompress_Zip.reduce4.zip"}) {
        VARNOK_REQUIRE_FIXTURE(p, rel);
        EXPECT_GE(CheckArchive(rel)[static_cast<uint16_t>(zmReduced1 + factor - 1)], 1) << rel;
        ++factor;
    }
    VARNOK_REQUIRE_FIXTURE(z, "zip/zip2_reduce.zip");
    EXPECT_EQ(CheckArchive("zip/zip2_reduce.zip")[zmReduced4], 1);
}

TEST(ZipFixtures, ImplodedEntriesBothWindowsAndTreeCounts) {
    VARNOK_REQUIRE_FIXTURE(a, "zip/commons_imploding-4Kdict-2trees.zip");
    EXPECT_EQ(CheckArchive("zip/commons_imploding-4Kdict-2trees.zip")[zmImploded], 1);
    EXPECT_EQ(CheckArchive("zip/commons_imploding-8Kdict-3trees.zip")[zmImploded], 1);
    for (const char* rel : {"zip/sharpcompress_Zip.implode.zip", "zip/zip2_implode.zip",
                            "zip/libarchive_compat_zip_implode.zip"}) {
        VARNOK_REQUIRE_FIXTURE(p, rel);
        EXPECT_GE(CheckArchive(rel)[zmImploded], 1) << rel;
    }
}

TEST(ZipFixtures, Deflate64Entries) {
    VARNOK_REQUIRE_FIXTURE(a, "zip/sharpcompress_Zip.deflate64.zip");
    EXPECT_EQ(CheckArchive("zip/sharpcompress_Zip.deflate64.zip")[zmDeflate64], 3);
}

TEST(ZipFixtures, DeflatedAndStoredEntries) {
    for (const char* rel : {"zip/commons_bla.zip", "zip/go_dd.zip", "zip/go_unix.zip", "zip/go_winxp.zip",
                            "zip/generated_infozip_sfx", "zip/commons_utf8-winzip-test.zip",
                            "zip/libarchive_zip_filename_utf8_jp.zip", "zip/go_crc32-not-streamed.zip"}) {
        VARNOK_REQUIRE_FIXTURE(p, rel);
        Counts c = CheckArchive(rel);
        EXPECT_GE(c[zmDeflated] + c[zmStored], 1) << rel;
    }
}

TEST(ZipFixtures, EntryFollowedByDataDescriptorHandsItBack) {
    VARNOK_REQUIRE_FIXTURE(p, "zip/go_dd.zip");
    const std::vector<uint8_t> file = test::ReadFile(p);
    const std::vector<ZipEntry> entries = test::ReadZipEntries(file);
    ASSERT_FALSE(entries.empty());
    const ZipEntry& e = entries[0];
    ASSERT_TRUE(e.flags & 8);
    // Decode as a streaming reader would: without the compressed size, from the data to the end of the file.
    MemorySource src(file.data() + e.dataOffset, file.size() - e.dataOffset);
    VectorSink sink;
    ZipMethodDecoder decoder;
    const DecodeResult r = decoder.Decode(e.method, e.flags, kUnknownSize, src, sink);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.consumed, e.compressedSize);
    const auto rest = decoder.Unconsumed();
    ASSERT_GE(rest.size(), 16u);
    // The data descriptor: signature, CRC-32, sizes.
    EXPECT_EQ(Le32(rest.data()), 0x08074b50u);
    EXPECT_EQ(Le32(rest.data() + 4), e.crc);
    EXPECT_EQ(Le32(rest.data() + 8), e.compressedSize);
    EXPECT_EQ(Crc32(sink.Data()), e.crc);
}

}  // namespace
}  // namespace varnok
