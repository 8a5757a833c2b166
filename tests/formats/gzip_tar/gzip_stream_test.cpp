// Whole gzip files: made by the gzip program (levels, several members, names and comments), the fixtures,
// and every way a member can disagree with its header or trailer.
#include <gtest/gtest.h>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/formats/gzip/gzip_stream.h"
#include "tests/formats/gzip_tar/codec_test_util.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

DecodeResult Decode(const Bytes& gz, Bytes& out, int* members = nullptr) {
    MemorySource src(gz);
    VectorSink sink;
    GzipDecoder d;
    DecodeResult r = d.Decode(src, sink);
    out = sink.Data();
    if (members) *members = d.Members();
    return r;
}

// gzip's output for data (extra options such as "-1" or "-n").
Bytes GzipTool(const Bytes& data, const std::string& options = "") {
    test::TempDir tmp;
    test::WriteFile(tmp / "in", data);
    std::string out;
    EXPECT_EQ(
        test::Run("gzip -c " + options + " " + test::Quote(tmp / "in") + " > " + test::Quote(tmp / "in.gz")),
        0);
    return test::ReadFile(tmp / "in.gz");
}

TEST(GzipDecoder, LevelsOfTheGzipProgram) {
    VARNOK_REQUIRE_TOOL("gzip");
    for (const auto& data :
         {test::SampleText(300000, 1), test::SampleRandom(70000, 2), test::SampleRuns(90000, 3), Bytes{}}) {
        for (const char* level : {"-1", "-6", "-9"}) {
            Bytes out;
            int members = 0;
            DecodeResult r = Decode(GzipTool(data, level), out, &members);
            EXPECT_EQ(r.status, DecodeStatus::Ok) << level;
            EXPECT_EQ(out, data) << level;
            EXPECT_EQ(members, 1);
        }
    }
}

TEST(GzipDecoder, ConcatenatedMembersAreAllDecoded) {
    VARNOK_REQUIRE_TOOL("gzip");
    Bytes a = test::SampleText(5000, 4), b = test::SampleRandom(3000, 5), c = Bytes{'!'};
    Bytes gz = GzipTool(a);
    for (const Bytes& part : {GzipTool(b, "-1"), GzipTool(Bytes{}), GzipTool(c, "-9")})
        gz.insert(gz.end(), part.begin(), part.end());
    Bytes out;
    int members = 0;
    EXPECT_EQ(Decode(gz, out, &members).status, DecodeStatus::Ok);
    Bytes want = a;
    want.insert(want.end(), b.begin(), b.end());
    want.insert(want.end(), c.begin(), c.end());
    EXPECT_EQ(out, want);
    EXPECT_EQ(members, 4);
}

TEST(GzipDecoder, WhatMayFollowTheLastMember) {
    VARNOK_REQUIRE_TOOL("gzip");
    Bytes data = test::SampleText(2000, 6);
    Bytes gz = GzipTool(data);
    for (const Bytes& tail : {Bytes(1000, 0), Bytes{'j', 'u', 'n', 'k'}, Bytes{0x1F}}) {
        Bytes padded = gz;
        padded.insert(padded.end(), tail.begin(), tail.end());
        Bytes out;
        EXPECT_EQ(Decode(padded, out).status, DecodeStatus::Ok);
        EXPECT_EQ(out, data);
    }
    // A second header that is cut short is a damaged member, not something to pass over.
    Bytes cut = gz;
    cut.insert(cut.end(), {0x1F, 0x8B, 8, 0});
    Bytes out;
    EXPECT_EQ(Decode(cut, out).status, DecodeStatus::Truncated);
}

TEST(GzipDecoder, EveryMemberIsCheckedAgainstItsTrailer) {
    VARNOK_REQUIRE_TOOL("gzip");
    Bytes first = GzipTool(test::SampleText(4000, 7)), second = GzipTool(test::SampleText(4000, 8));
    auto joined = [&](const Bytes& a, const Bytes& b) {
        Bytes j = a;
        j.insert(j.end(), b.begin(), b.end());
        return j;
    };
    // Each field of each member's trailer, changed: CRC-32 (4 bytes before the size) and size.
    for (size_t back : {8u, 5u, 4u, 1u}) {
        for (int which = 0; which < 2; ++which) {
            Bytes a = first, b = second;
            Bytes& m = which ? b : a;
            m[m.size() - back] ^= 0x01;
            Bytes out;
            DecodeResult r = Decode(joined(a, b), out);
            EXPECT_EQ(r.status, DecodeStatus::Corrupt) << back << " " << which;
            EXPECT_EQ(r.errorCode, E_CrcCheck);
        }
    }
    // Damaged deflate data inside the first member.
    Bytes bad = first;
    bad[bad.size() / 2] ^= 0x10;
    Bytes out;
    DecodeResult r = Decode(joined(bad, second), out);
    EXPECT_NE(r.status, DecodeStatus::Ok);
    // Cut inside the data, and inside the trailer.
    for (size_t keep : {first.size() / 2, first.size() - 3}) {
        Bytes cut(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(keep));
        EXPECT_EQ(Decode(cut, out).status, DecodeStatus::Truncated) << keep;
    }
}

// A gzip header with the given flags and optional fields, then the deflate data and trailer of `member`
// (a file made by gzip -n, whose header is the plain 10 bytes).
Bytes WithHeader(const Bytes& member, uint8_t flags, const Bytes& fields, bool headerCrc,
                 bool badCrc = false) {
    Bytes h(member.begin(), member.begin() + 10);
    h[3] = flags;
    h.insert(h.end(), fields.begin(), fields.end());
    if (headerCrc) {
        uint16_t crc = static_cast<uint16_t>(Crc32(h.data(), h.size()) ^ (badCrc ? 1 : 0));
        AppendLe16(h, crc);
    }
    h.insert(h.end(), member.begin() + 10, member.end());
    return h;
}

TEST(GzipDecoder, HeaderFieldsAndChecks) {
    VARNOK_REQUIRE_TOOL("gzip");
    Bytes data = test::SampleText(1500, 9);
    Bytes plain = GzipTool(data, "-n");
    ASSERT_EQ(plain[3], 0);
    Bytes extra = {5, 0, 'A', 'B', 1, 0, 'x'};
    Bytes named = {'n', 'a', 'm', 'e', '.', 't', 'x', 't', 0, 'a', ' ', 'c', 'o', 'm', 'm', 'e', 'n', 't', 0};
    Bytes out;
    for (const Bytes& gz : {WithHeader(plain, 0x04, extra, false), WithHeader(plain, 0x18, named, false),
                            WithHeader(
                                plain, 0x1E,
                                [&] {
                                    Bytes f = extra;
                                    f.insert(f.end(), named.begin(), named.end());
                                    return f;
                                }(),
                                true)}) {
        DecodeResult r = Decode(gz, out);
        EXPECT_EQ(r.status, DecodeStatus::Ok);
        EXPECT_EQ(out, data);
    }
    struct Bad {
        Bytes gz;
        int code;
    };
    Bytes method = plain;
    method[2] = 7;
    Bytes magic = plain;
    magic[1] = 0x8C;
    for (const Bad& b : {Bad{WithHeader(plain, 0x02, {}, true, true), E_HeaderCrc},
                         Bad{WithHeader(plain, 0x20, {}, false), E_PasswordProtected},
                         Bad{WithHeader(plain, 0x40, {}, false), E_UnknownFlags},
                         Bad{method, E_UnsupportedMethod}, Bad{magic, E_HeaderId}}) {
        DecodeResult r = Decode(b.gz, out);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.errorCode, b.code);
    }
    // A name that never ends.
    Bytes endless(plain.begin(), plain.begin() + 10);
    endless[3] = 0x08;
    endless.insert(endless.end(), 5000, 'n');
    EXPECT_EQ(Decode(endless, out).status, DecodeStatus::Truncated);
    // A header and nothing else: an empty file as some writers store it.
    Bytes lone(plain.begin(), plain.begin() + 10);
    EXPECT_EQ(Decode(lone, out).status, DecodeStatus::Ok);
    EXPECT_TRUE(out.empty());
}

TEST(GzipDecoder, FixturesDecodeLikeThePeers) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    for (const char* name :
         {"gzip/commons_multiple.gz", "gzip/commons_lorem-ipsum.txt.gz", "gzip/commons_bla.tgz",
          "gzip/unarcrs_LICENSE.gz", "gzip/libarchive_compat_gzip_1.tgz", "gzip/libarchive_compat_gzip_2.tgz",
          "gzip/ark_test.txt.gz"}) {
        auto path = test::Fixture(name);
        if (path.empty()) continue;
        auto rows = test::ExpectedFor(name);
        ASSERT_EQ(rows.size(), 1u) << name;
        Bytes out;
        DecodeResult r = Decode(test::ReadFile(path), out);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << name;
        EXPECT_EQ(test::Sha256Hex(out), rows[0].sha256) << name;
    }
}

}  // namespace
}  // namespace varnok
