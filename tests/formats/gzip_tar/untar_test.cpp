// TUnTar: archives written by GNU tar and bsdtar in every format they offer (long names, links, modes,
// sparse files), hand-made archives with hostile names and links, damage, and the fixtures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/core/utils.h"
#include "archive/extractors.h"
#include "archive/formats/tar/untar.h"
#include "platform/fileattr.h"
#include "tests/formats/gzip_tar/codec_test_util.h"
#include "tests/support/builders.h"
#include "tests/support/extractor_run.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

const std::string kLongFolder =
    "a-folder-name-of-some-length/another-rather-long-folder-name/and-a-third-one";
const std::string kLongName = kLongFolder + "/with-a-file-name-that-is-long-as-well-to-pass-one-hundred.txt";

// A tree with what TAR archives carry: text and binary files, an empty one, folders, long names, modes, a
// symbolic and a hard link, fixed times.
void MakeTree(const fs::path& root, bool longNames) {
    fs::create_directories(root / "docs" / "deep");
    test::WriteFile(root / "readme.txt", std::string("read me\n"));
    test::WriteFile(root / "docs" / "deep" / "data.bin", test::SampleRandom(70000, 11));
    test::WriteFile(root / "docs" / "empty", std::string());
    test::WriteFile(root / "tool.sh", std::string("#!/bin/sh\necho hi\n"));
    chmod((root / "tool.sh").c_str(), 0755);
    test::WriteFile(root / "private.txt", std::string("secret\n"));
    chmod((root / "private.txt").c_str(), 0600);
    fs::create_symlink("docs/deep/data.bin", root / "link-to-data");
    fs::create_hard_link(root / "readme.txt", root / "docs" / "readme-again.txt");
    if (longNames) {
        fs::create_directories(root / kLongFolder);
        test::WriteFile(root / kLongName, std::string("long name\n"));
    }
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_symlink()) platform::SetFileTime(e.path().string(), 1500000000);
    }
    platform::SetFileTime(root.string(), 1500000000);
}

struct Format {
    const char* tool;    // "tar" or "bsdtar"
    const char* format;  // its name for the format
    bool longNames;      // whether it stores names over 100 bytes
    bool links;          // whether it stores symbolic and hard links
};

class UnTarFormats : public ::testing::TestWithParam<Format> {};

TEST_P(UnTarFormats, ExtractsTheTreeAsWritten) {
    const Format f = GetParam();
    VARNOK_REQUIRE_TOOL(f.tool);
    test::TempDir tmp;
    fs::path src = tmp / "src";
    MakeTree(src, f.longNames);
    if (!f.links) {
        fs::remove(src / "link-to-data");
        fs::remove(src / "docs" / "readme-again.txt");
    }
    fs::path archive = tmp / "t.tar";
    std::string cmd = std::string(f.tool) + " --format=" + f.format + " -cf " + test::Quote(archive) +
                      " -C " + test::Quote(src) + " .";
    ASSERT_EQ(test::Run(cmd + " 2>/dev/null"), 0) << cmd;

    fs::path out = tmp / "out";
    TUnTar x;
    auto o = test::RunExtractor(x, archive, out, [](TUnBase& b) { b.CreateStoredDirs = true; });
    EXPECT_EQ(o.failed, 0) << (o.messages.empty() ? "" : o.messages.front());
    EXPECT_FALSE(o.threw);
    EXPECT_EQ(test::FilesUnder(out), test::FilesUnder(src));
    struct stat st;
    ASSERT_EQ(stat((out / "tool.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat((out / "private.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_mtime, 1500000000);
    ASSERT_EQ(stat((out / "docs" / "deep").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
    if (f.links) {
        EXPECT_TRUE(fs::is_symlink(out / "link-to-data"));
        EXPECT_TRUE(fs::equivalent(out / "readme.txt", out / "docs" / "readme-again.txt"));
    }

    // Testing: every entry passes and nothing is written.
    TUnTar t;
    auto ot = test::RunExtractor(t, archive, {}, [&](TUnBase& b) { b.ExtractDir = (tmp / "none").string(); });
    EXPECT_EQ(ot.failed, 0);
    EXPECT_GE(ot.result, 7);
    EXPECT_FALSE(fs::exists(tmp / "none" / "readme.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Peers, UnTarFormats,
    ::testing::Values(Format{"tar", "gnu", true, true}, Format{"tar", "oldgnu", true, true},
                      Format{"tar", "ustar", true, true}, Format{"tar", "pax", true, true},
                      Format{"tar", "v7", false, true}, Format{"bsdtar", "ustar", true, true},
                      Format{"bsdtar", "pax", true, true}, Format{"bsdtar", "gnutar", true, true},
                      Format{"bsdtar", "v7", false, true}),
    [](const auto& p) { return std::string(p.param.tool) + "_" + p.param.format; });

// A sparse file: data at a few places, holes between them and at its end.
void MakeSparse(const fs::path& p) {
    platform::File f;
    ASSERT_TRUE(f.Open(p.string(), platform::File::Mode::Create));
    std::string a(5000, 'a'), b = "middle", c(70000, 'c');
    f.WriteAt(100000, a.data(), a.size());
    f.WriteAt(1 << 20, b.data(), b.size());
    f.WriteAt(3 << 20, c.data(), c.size());
    f.Truncate(5 << 20);
}

class UnTarSparse : public ::testing::TestWithParam<const char*> {};

TEST_P(UnTarSparse, HolesComeBackAsZeros) {
    VARNOK_REQUIRE_TOOL("tar");
    test::TempDir tmp;
    fs::create_directories(tmp / "src");
    MakeSparse(tmp / "src" / "sparse.img");
    test::WriteFile(tmp / "src" / "after.txt", std::string("after the sparse file\n"));
    std::string cmd = std::string("tar ") + GetParam() + " -cf " + test::Quote(tmp / "s.tar") + " -C " +
                      test::Quote(tmp / "src") + " sparse.img after.txt";
    ASSERT_EQ(test::Run(cmd + " 2>/dev/null"), 0) << cmd;
    // The archive is much smaller than the file: it was stored sparse.
    ASSERT_LT(fs::file_size(tmp / "s.tar"), 1u << 20);
    TUnTar x;
    auto o = test::RunExtractor(x, tmp / "s.tar", tmp / "out");
    EXPECT_EQ(o.failed, 0) << (o.messages.empty() ? "" : o.messages.front());
    EXPECT_EQ(test::ReadFile(tmp / "out" / "sparse.img"), test::ReadFile(tmp / "src" / "sparse.img"));
    EXPECT_EQ(test::ReadText(tmp / "out" / "after.txt"), "after the sparse file\n");
}

INSTANTIATE_TEST_SUITE_P(GnuLayouts, UnTarSparse,
                         ::testing::Values("--format=gnu --sparse",
                                           "--format=pax --sparse --sparse-version=0.0",
                                           "--format=pax --sparse --sparse-version=0.1",
                                           "--format=pax --sparse --sparse-version=1.0"));

class UnTar : public ::testing::Test {
  protected:
    fs::path Write(const std::vector<test::TarItem>& items, const std::string& name = "t.tar") {
        fs::path p = tmp_ / name;
        test::WriteFile(p, test::BuildTar(items));
        return p;
    }
    test::TempDir tmp_;
};

TEST_F(UnTar, HostileNamesAndLinksNeverLeaveTheDestination) {
    fs::path outside = tmp_ / "outside";
    fs::create_directories(outside);
    fs::path out = tmp_ / "dest" / "out";
    auto tar = Write({{"../evil.txt", "up"},
                      {"/rooted/abs.txt", "absolute"},
                      {"a/../../b.txt", "middle"},
                      {"up", "", '2', "../../outside"},
                      {"up/through.txt", "through a link"},
                      {"etc", "", '2', "/etc"},
                      {"etc/passwd", "overwritten?"},
                      {"hard", "", '1', "/etc/shadow"},
                      {"../hard2", "", '1', "ok.txt"},
                      {"ok.txt", "fine"}});
    TUnTar x;
    auto o = test::RunExtractor(x, tar, out);
    EXPECT_TRUE(o.HasCode(E_InvalidFileName));
    EXPECT_TRUE(fs::is_empty(outside));
    auto files = test::FilesUnder(tmp_ / "dest");
    EXPECT_EQ(files["out/rooted/abs.txt"], "absolute");
    EXPECT_EQ(files["out/ok.txt"], "fine");
    // The links exist as links, and nothing was written through them.
    EXPECT_EQ(files["out/up"], "-> ../../outside");
    EXPECT_EQ(files["out/etc"], "-> /etc");
    for (const char* absent : {"evil.txt", "b.txt", "out/evil.txt", "out/b.txt", "out/hard", "hard2"})
        EXPECT_EQ(files.count(absent), 0u) << absent;
    EXPECT_TRUE(o.FailedEntry("up/through.txt"));
    EXPECT_TRUE(o.FailedEntry("etc/passwd"));
    EXPECT_GE(o.failed, 5);
}

TEST_F(UnTar, HardLinksToFilesNotExtractedGetACopy) {
    auto tar = Write({{"dir/target.txt", "the shared data"}, {"link.txt", "", '1', "dir/target.txt"}});
    TUnTar x;
    auto o = test::RunExtractor(x, tar, tmp_ / "out", [](TUnBase& b) { b.FileSpec = {"link.txt"}; });
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"),
              (std::map<std::string, std::string>{{"link.txt", "the shared data"}}));
    // Both selected: a real link.
    TUnTar y;
    test::RunExtractor(y, tar, tmp_ / "both");
    EXPECT_TRUE(fs::equivalent(tmp_ / "both" / "dir/target.txt", tmp_ / "both" / "link.txt"));
    // A link to a name the archive does not hold fails.
    TUnTar z;
    auto bad = test::RunExtractor(z, Write({{"lonely", "", '1', "missing.txt"}}, "bad.tar"), tmp_ / "bad");
    EXPECT_TRUE(bad.HasCode(E_FileNotFound));
    EXPECT_FALSE(fs::exists(tmp_ / "bad" / "lonely"));
}

TEST_F(UnTar, LinksToAFileThatFailedGetNoCopiesOfIt) {
    // "t" is a file, so "t/big.bin" cannot be written: a copy of it for each link would write its data once
    // per link, from a header of 512 bytes each.
    std::vector<test::TarItem> items{{"t", "a file"}, {"t/big.bin", std::string(100000, 'b')}};
    for (int i = 0; i < 20; ++i)
        items.push_back({"h" + std::to_string(i), "", '1', "t/big.bin"});
    TUnTar x;
    auto o = test::RunExtractor(x, Write(items), tmp_ / "out");
    EXPECT_EQ(o.failed, 21);
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"), (std::map<std::string, std::string>{{"t", "a file"}}));
    EXPECT_NE(o.messages.back().find("h19: "), std::string::npos) << o.messages.back();
    EXPECT_NE(o.messages.back().find("could not be extracted"), std::string::npos) << o.messages.back();
}

TEST_F(UnTar, NamesFillingTheWholeFieldStayInIt) {
    std::string hundred(96, 'n');
    hundred += ".txt";
    ASSERT_EQ(hundred.size(), 100u);
    TUnTar x;
    auto o = test::RunExtractor(x, Write({{hundred, "full field", '0', "", 0640}}), tmp_ / "out");
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"), (std::map<std::string, std::string>{{hundred, "full field"}}));
}

TEST_F(UnTar, DamageIsReportedWhereItIs) {
    auto bytes = test::BuildTar({{"one.txt", "first"}, {"two.txt", "second"}, {"three.txt", "third"}});
    // The second header's name: its checksum no longer matches.
    bytes[1024 + 1] ^= 0x20;
    test::WriteFile(tmp_ / "d.tar", bytes);
    TUnTar x;
    auto o = test::RunExtractor(x, tmp_ / "d.tar", tmp_ / "out");
    EXPECT_TRUE(o.HasCode(E_BadFileHeader));
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"), (std::map<std::string, std::string>{{"one.txt", "first"}}));

    // Data cut short: the entry fails, and nothing is made up.
    auto cut = test::BuildTar({{"whole.txt", "all there"}, {"big.bin", std::string(5000, 'b')}});
    cut.resize(512 + 512 + 512 + 2000);
    test::WriteFile(tmp_ / "cut.tar", cut);
    TUnTar y;
    auto c = test::RunExtractor(y, tmp_ / "cut.tar", {});
    EXPECT_TRUE(c.Passed("whole.txt"));
    EXPECT_TRUE(c.FailedEntry("big.bin"));
}

// One pax record: "<length> key=value\n", the length counting itself.
std::string PaxRecord(const std::string& key, const std::string& value) {
    std::string body = " " + key + "=" + value + "\n";
    size_t len = body.size() + 1;
    while (std::to_string(len).size() + body.size() != len)
        ++len;
    return std::to_string(len) + body;
}

TEST_F(UnTar, AMalformedLengthRecordIsAnErrorNamingTheEntry) {
    for (const auto& [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"size", "99999999999999999999999"},
                                                          {"size", "-4"},
                                                          {"size", "12x"},
                                                          {"size", "18446744073709551615"},
                                                          {"GNU.sparse.realsize", "1e9"},
                                                          {"GNU.sparse.size", "99999999999999999999"}}) {
        SCOPED_TRACE(key + "=" + value);
        auto tar = Write({{"first.txt", "first"},
                          {"PaxHeaders/big.bin", PaxRecord(key, value), 'x'},
                          {"big.bin", "not what the record says"},
                          {"last.txt", "last"}});
        TUnTar x;
        auto o = test::RunExtractor(x, tar, tmp_ / "out");
        ASSERT_TRUE(o.HasCode(E_BadFileHeader));
        const std::string& m = o.messages.back();
        EXPECT_NE(m.find("\"big.bin\""), std::string::npos) << m;
        EXPECT_NE(m.find("its pax " + key + " record"), std::string::npos) << m;
        // What came before is extracted; nothing is guessed from the header's own size.
        EXPECT_EQ(test::FilesUnder(tmp_ / "out"),
                  (std::map<std::string, std::string>{{"first.txt", "first"}}));
        fs::remove_all(tmp_ / "out");
    }
}

TEST_F(UnTar, TheArchiveItselfIsNeverReplaced) {
    // An entry with the archive's own name, extracted into the archive's folder.
    fs::path dir = tmp_ / "here";
    fs::create_directories(dir);
    auto bytes = test::BuildTar({{"self.tar", "not a tar"}, {"other.txt", "other"}});
    test::WriteFile(dir / "self.tar", bytes);
    TUnTar x;
    auto o = test::RunExtractor(x, dir / "self.tar", dir);
    EXPECT_TRUE(o.HasCode(E_SameInOut));
    EXPECT_EQ(test::ReadFile(dir / "self.tar"), bytes);
    EXPECT_EQ(test::ReadText(dir / "other.txt"), "other");
}

TEST_F(UnTar, FolderSelectionAndFlatOutput) {
    auto tar = Write({{"a/", "", '5'}, {"a/x.txt", "ax"}, {"a/b/y.txt", "aby"}, {"c/z.txt", "cz"}});
    TUnTar x;
    auto o = test::RunExtractor(x, tar, tmp_ / "out", [](TUnBase& b) {
        b.FileSpec = {"a/*.txt"};
        b.UseStoredDirs = false;
    });
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"),
              (std::map<std::string, std::string>{{"x.txt", "ax"}, {"y.txt", "aby"}}));
}

TEST(UnTarFixtures, ExtractWhatThePeersExtracted) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    int archives = 0;
    for (auto& e : fs::directory_iterator(test::FixturesDir() / "tar")) {
        std::string rel = "tar/" + e.path().filename().string();
        auto rows = test::ExpectedFor(rel);
        bool usable =
            !rows.empty() && std::all_of(rows.begin(), rows.end(), [](const test::ExpectedEntry& r) {
                return r.peer.find("partial") == std::string::npos &&
                       r.peer.find("no peer") == std::string::npos;
            });
        if (!usable) continue;
        test::TempDir tmp;
        auto x = CreateExtractor(atTar);
        auto o = test::RunExtractor(*x, e.path(), tmp.Path(), [](TUnBase& b) { b.CreateStoredDirs = true; });
        EXPECT_FALSE(o.threw) << rel;
        ++archives;
        EXPECT_EQ(o.failed, 0) << rel << ": " << (o.messages.empty() ? "" : o.messages.front());
        for (const auto& row : rows) {
            if (row.sha256 == "-") continue;
            EXPECT_EQ(test::Sha256Hex(test::ReadFile(tmp.Path() / row.entry)), row.sha256)
                << rel << " " << row.entry;
        }
    }
    EXPECT_GT(archives, 15);
}

TEST(UnTarFixtures, NegativeSizeIsDamage) {
    VARNOK_REQUIRE_FIXTURE(path, "tar/go_neg-size.tar");
    test::TempDir tmp;
    TUnTar x;
    auto o = test::RunExtractor(x, path, tmp.Path());
    // Not even taken for a TAR; if it were, its entry would fail.
    EXPECT_TRUE(o.threw || o.failed >= 1);
    EXPECT_TRUE(test::FilesUnder(tmp.Path()).empty());
}

}  // namespace
}  // namespace varnok
