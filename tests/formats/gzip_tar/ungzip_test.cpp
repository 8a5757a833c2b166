// TUnGZip: gzip and compress files made by the gzip and compress programs (names, times, several members,
// code widths), damage, and TAR archives inside them (kept and extracted, streamed, tested), and the
// fixtures.
#include <gtest/gtest.h>

#include "archive/core/utils.h"
#include "archive/formats/gzip/ungzip.h"
#include "archive/extractors.h"
#include "platform/fileattr.h"
#include "tests/formats/gzip_tar/codec_test_util.h"
#include "tests/support/extractor_run.h"
#include "tests/support/builders.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using Map = std::map<std::string, std::string>;

class UnGZip : public ::testing::Test {
  protected:
    void SetUp() override { VARNOK_REQUIRE_TOOL("gzip"); }
    // Compresses a file of the scratch folder with a command ("gzip -9", "compress -b12") into `to`.
    fs::path Pack(const std::string& command, const fs::path& from, const fs::path& to) {
        EXPECT_EQ(test::Run(command + " -c " + test::Quote(from) + " > " + test::Quote(to) + " 2>/dev/null"),
                  0)
            << command;
        return to;
    }
    fs::path Src(const std::string& name, const std::string& data) {
        fs::path p = tmp_ / "src" / name;
        fs::create_directories(p.parent_path());
        test::WriteFile(p, data);
        return p;
    }
    std::vector<uint8_t> Tar() {
        return test::BuildTar({{"docs/", "", '5'},
                               {"docs/a.txt", "first in docs"},
                               {"docs/sub/b.txt", "second in docs"},
                               {"other/a.txt", "same name elsewhere"},
                               {"top.txt", "top level"}});
    }
    fs::path Tgz(const std::string& name = "bundle.tgz") {
        test::WriteFile(tmp_ / "src" / "bundle.tar", Tar());
        return Pack("gzip -n", tmp_ / "src" / "bundle.tar", tmp_ / name);
    }
    test::TempDir tmp_;
};

TEST_F(UnGZip, NamesAndTimes) {
    std::string text = test::Str(test::SampleText(20000, 1));
    auto src = Src("notes.txt", text);
    platform::SetFileTime(src.string(), 1400000000);
    // The stored name (gzip keeps it, and the time) wins over the archive's name.
    auto named = Pack("gzip", src, tmp_ / "renamed.gz");
    TUnGZip x;
    auto o = test::RunExtractor(x, named, tmp_ / "o1");
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "o1"), (Map{{"notes.txt", text}}));
    EXPECT_EQ(platform::FileMTime((tmp_ / "o1" / "notes.txt").string()), 1400000000);
    // Without a stored name: the archive's name less its extension.
    auto bare = Pack("gzip -n", src, tmp_ / "plain.txt.gz");
    TUnGZip y;
    test::RunExtractor(y, bare, tmp_ / "o2");
    EXPECT_EQ(test::FilesUnder(tmp_ / "o2"), (Map{{"plain.txt", text}}));
    // The text flag with a name that has no extension: ".txt" is added.
    auto flagged = test::ReadFile(Pack("gzip -n", Src("readme", "text\n"), tmp_ / "r.gz"));
    flagged[3] |= 0x09;  // text flag and a stored name
    flagged.insert(flagged.begin() + 10, {'r', 'e', 'a', 'd', 'm', 'e', 0});
    test::WriteFile(tmp_ / "r.gz", flagged);
    TUnGZip z;
    auto oz = test::RunExtractor(z, tmp_ / "r.gz", tmp_ / "o3");
    EXPECT_EQ(oz.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "o3"), (Map{{"readme.txt", "text\n"}}));
    // The rules for names.
    EXPECT_EQ(TUnGZip::OutputNameFor("backup.tgz", "backup.tgz", false), "backup.tar");
    EXPECT_EQ(TUnGZip::OutputNameFor("x.TAZ", "x.gz", false), "x.tar");
    EXPECT_EQ(TUnGZip::OutputNameFor("data.tar", "a.gz", true), "data.tar");
    EXPECT_EQ(TUnGZip::OutputNameFor("inner.gz", "outer.gz", false), "inner");
    EXPECT_EQ(TUnGZip::OutputNameFor("notes.txt", "notes.txt.gz", true), "notes.txt");
    // Line ends widened on request.
    auto lines = Pack("gzip", Src("lines.txt", "one\ntwo\r\nthree\n"), tmp_ / "lines.txt.gz");
    TUnGZip w;
    test::RunExtractor(w, lines, tmp_ / "o4", [](TUnBase& b) { b.AsciiTranslation = true; });
    EXPECT_EQ(test::ReadText(tmp_ / "o4" / "lines.txt"), "one\r\ntwo\r\nthree\r\n");
}

TEST_F(UnGZip, MembersAreJoinedAndEachIsChecked) {
    auto a = Pack("gzip", Src("a.txt", "first member\n"), tmp_ / "a.gz");
    auto b = Pack("gzip -9", Src("b.txt", std::string(100000, 'b')), tmp_ / "b.gz");
    auto joined = test::ReadFile(a);
    auto second = test::ReadFile(b);
    joined.insert(joined.end(), second.begin(), second.end());
    test::WriteFile(tmp_ / "ab.gz", joined);
    TUnGZip x;
    auto o = test::RunExtractor(x, tmp_ / "ab.gz", tmp_ / "out");
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"), (Map{{"a.txt", "first member\n" + std::string(100000, 'b')}}));

    // The first member's trailer no longer matches: the file fails, when tested as when extracted.
    auto bad = joined;
    bad[test::ReadFile(a).size() - 6] ^= 0x01;
    test::WriteFile(tmp_ / "bad.gz", bad);
    for (bool extract : {false, true}) {
        TUnGZip y;
        auto ob = test::RunExtractor(y, tmp_ / "bad.gz", extract ? tmp_ / "bad" : fs::path());
        EXPECT_EQ(ob.failed, 1) << extract;
        EXPECT_EQ(ob.ends.size(), 1u);
        EXPECT_FALSE(ob.ends.begin()->second);
    }
}

TEST_F(UnGZip, CompressFilesOfEveryWidth) {
    VARNOK_REQUIRE_TOOL("compress");
    std::string data = test::Str(test::SampleMixed(300000, 2));
    auto src = Src("mixed.bin", data);
    // (ncompress writes files that no reader accepts at -b9.)
    for (int bits = 10; bits <= 16; ++bits) {
        fs::path z =
            Pack("compress -b" + std::to_string(bits), src, tmp_ / ("m" + std::to_string(bits) + ".Z"));
        TUnGZip x;
        fs::path out = tmp_ / ("out" + std::to_string(bits));
        auto o = test::RunExtractor(x, z, out);
        EXPECT_EQ(o.failed, 0) << bits;
        EXPECT_EQ(test::FilesUnder(out), (Map{{"m" + std::to_string(bits), data}})) << bits;
    }
}

TEST_F(UnGZip, TarInsideIsExtractedWithItsFolders) {
    auto tgz = Tgz();
    const Map contents{{"docs/a.txt", "first in docs"},
                       {"docs/sub/b.txt", "second in docs"},
                       {"other/a.txt", "same name elsewhere"},
                       {"top.txt", "top level"}};
    // Read as the TAR inside it: the TAR's entries are the archive's entries, no TAR file is written.
    TUnGZip x;
    auto o = test::RunExtractor(x, tgz, tmp_ / "out", [](TUnBase& b) { b.CreateStoredDirs = true; });
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(o.result, 4);
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"), contents);

    // Read as the one compressed file it is: the TAR is written, checked, and then extracted from.
    TUnGZip whole;
    auto w = test::RunExtractor(whole, tgz, tmp_ / "whole", [](TUnBase& b) {
        b.CreateStoredDirs = true;
        b.OpenTarInside = false;
    });
    EXPECT_EQ(w.failed, 0);
    EXPECT_EQ(w.result, 5);  // the TAR and the four files in it
    auto files = test::FilesUnder(tmp_ / "whole");
    EXPECT_EQ(files["bundle.tar"], test::Str(Tar()));
    files.erase("bundle.tar");
    EXPECT_EQ(files, contents);

    // Without stored folders the contents come out flat, like the TAR itself would give them.
    TUnGZip flat;
    auto f = test::RunExtractor(flat, tgz, tmp_ / "flat", [](TUnBase& b) {
        b.UseStoredDirs = false;
        b.FileSpec = {"docs/*.*"};
    });
    EXPECT_EQ(f.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "flat"),
              (Map{{"a.txt", "first in docs"}, {"b.txt", "second in docs"}}));

    // The TAR file written on the way can be removed afterwards.
    TUnGZip del;
    del.GzTarDeleteOptions = gtDeleteTar;
    del.OpenTarInside = false;
    test::RunExtractor(del, tgz, tmp_ / "del");
    EXPECT_EQ(test::FilesUnder(tmp_ / "del"), contents);
}

TEST_F(UnGZip, TarInsideIsStreamedWhenOnlyItsEntriesAreWanted) {
    auto tgz = Tgz();
    TUnGZip x;
    auto o = test::RunExtractor(x, tgz, tmp_ / "out", [](TUnBase& b) { b.FileSpec = {"*/a.txt"}; });
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"),
              (Map{{"docs/a.txt", "first in docs"}, {"other/a.txt", "same name elsewhere"}}));

    // Testing reads the TAR straight out of the stream: every entry is reported, nothing is written.
    TUnGZip t;
    auto ot = test::RunExtractor(t, tgz, {}, [&](TUnBase& b) { b.ExtractDir = (tmp_ / "none").string(); });
    EXPECT_EQ(ot.failed, 0);
    EXPECT_EQ(ot.result, 4);
    for (const char* n : {"docs/a.txt", "docs/sub/b.txt", "other/a.txt", "top.txt"})
        EXPECT_TRUE(ot.Passed(n)) << n;
    EXPECT_FALSE(fs::exists(tmp_ / "none" / "top.txt"));

    // Read as one file, an existing TAR file that is kept: the contents still come, from the compressed data.
    fs::create_directories(tmp_ / "kept");
    test::WriteFile(tmp_ / "kept" / "bundle.tar", std::string("an older, unrelated file"));
    TUnGZip k;
    auto ok = test::RunExtractor(k, tgz, tmp_ / "kept", [](TUnBase& b) {
        b.OpenTarInside = false;
        b.ConfirmOverwrites = true;
        b.OnFileExists = [](TZipCommon&, const std::string&, std::string&, TOverwriteMode& m) { m = omSkip; };
    });
    EXPECT_EQ(test::ReadText(tmp_ / "kept" / "bundle.tar"), "an older, unrelated file");
    EXPECT_EQ(test::ReadText(tmp_ / "kept" / "top.txt"), "top level");
}

TEST_F(UnGZip, DamagedTarStreamIsReported) {
    auto bytes = test::ReadFile(Tgz());
    bytes[bytes.size() / 2] ^= 0x55;
    test::WriteFile(tmp_ / "bad.tgz", bytes);
    for (bool extract : {false, true}) {
        TUnGZip x;
        auto o = test::RunExtractor(x, tmp_ / "bad.tgz", extract ? tmp_ / "bad" : fs::path(), [](TUnBase& b) {
            b.FileSpec = {"*.txt"};  // only the contents: streamed
        });
        EXPECT_GE(o.failed, 1) << extract;
        EXPECT_FALSE(o.codes.empty());
    }
}

TEST_F(UnGZip, NestedTarCanBeDeclinedAndWorksForCompressToo) {
    auto tgz = Tgz();
    TUnGZip x;
    std::string asked;
    x.OnNestedTarFile = [&](TZipCommon&, const std::string& name, bool& doUnTar) {
        asked = name;
        doUnTar = false;
    };
    test::RunExtractor(x, tgz, tmp_ / "out");
    EXPECT_EQ(asked, "bundle.tar");
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"), (Map{{"bundle.tar", test::Str(Tar())}}));

    VARNOK_REQUIRE_TOOL("compress");
    auto taz = Pack("compress", tmp_ / "src" / "bundle.tar", tmp_ / "bundle.tar.Z");
    TUnGZip z;
    auto oz = test::RunExtractor(z, taz, tmp_ / "z");
    EXPECT_EQ(oz.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "z").size(), 4u);
}

TEST_F(UnGZip, TheArchiveIsNeverItsOwnOutput) {
    // "data" without a stored name would decompress to "data" in its own folder.
    auto src = Src("data", "payload");
    Pack("gzip -n", src, tmp_ / "data");
    auto before = test::ReadFile(tmp_ / "data");
    TUnGZip x;
    auto o = test::RunExtractor(x, tmp_ / "data", tmp_.Path());
    EXPECT_TRUE(o.HasCode(E_SameInOut));
    EXPECT_EQ(test::ReadFile(tmp_ / "data"), before);
    // Elsewhere it is fine.
    TUnGZip y;
    test::RunExtractor(y, tmp_ / "data", tmp_ / "elsewhere");
    EXPECT_EQ(test::ReadText(tmp_ / "elsewhere" / "data"), "payload");
}

TEST_F(UnGZip, OtherMembersOfTheFamilyAreRefused) {
    std::vector<uint8_t> pack = {0x1F, 0x1E, 0, 0, 0, 5};
    pack.resize(40, 0x33);
    test::WriteFile(tmp_ / "p.z", pack);
    auto x = CreateExtractor(atGZip);
    auto o = test::RunExtractor(*x, tmp_ / "p.z", tmp_ / "out");
    EXPECT_TRUE(o.HasCode(E_UnsupportedMethod));
    EXPECT_EQ(o.result, 0);
}

TEST(UnGZipFixtures, ExtractWhatThePeersExtracted) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    for (const char* rel :
         {"gzip/commons_multiple.gz", "gzip/commons_lorem-ipsum.txt.gz", "gzip/commons_bla.tgz",
          "gzip/unarcrs_LICENSE.gz", "gzip/libarchive_compat_gzip_1.tgz", "gzip/libarchive_compat_gzip_2.tgz",
          "gzip/ark_test.txt.gz", "compress/commons_bla.tar.Z", "compress/unarcrs_LICENSE.Z",
          "compress/sharpcompress_large_test.txt.Z", "compress/libarchive_compat_mac-2.tar.Z",
          "compress/ark_simplearchive.tar.Z", "compress/patool_t.txt.Z"}) {
        auto path = test::Fixture(rel);
        if (path.empty()) continue;
        test::TempDir tmp;
        // The peers decompress a compressed TAR into the TAR file.
        TUnGZip x;
        x.OnNestedTarFile = [](TZipCommon&, const std::string&, bool& doUnTar) { doUnTar = false; };
        auto o = test::RunExtractor(x, path, tmp.Path());
        EXPECT_EQ(o.failed, 0) << rel << ": " << (o.messages.empty() ? "" : o.messages.front());
        for (const auto& row : test::ExpectedFor(rel))
            EXPECT_EQ(test::Sha256Hex(test::ReadFile(tmp.Path() / row.entry)), row.sha256) << rel;
    }
}

}  // namespace
}  // namespace varnok
