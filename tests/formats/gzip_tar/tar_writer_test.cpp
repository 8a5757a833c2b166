// The TAR and GZIP writers: GNU tar and bsdtar read back every file with its mode, time and full name; the
// archive ends as every reader expects; compressed TARs and .gz files pass gzip -t.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/core/errors.h"
#include "archive/core/utils.h"
#include "archive/formats/gzip/gzip_writer.h"
#include "archive/formats/gzip/ungzip.h"
#include "archive/formats/tar/tar_writer.h"
#include "archive/formats/tar/untar.h"
#include "tests/support/extractor_run.h"
#include "tests/support/writer_run.h"

namespace varnok::test {
namespace {



TEST(TarWriter, PeersGiveBackTheTreeWithModesTimesAndLongNames) {
    TempDir d;
    auto tree = MakeTree(d / "src");
    TTar w;
    WriteOutcome o = RunWriter(w, d / "t.tar", {"*"}, d / "src");
    ASSERT_FALSE(o.failed) << (o.messages.empty() ? "" : o.messages[0]);
    const std::vector<uint8_t> bytes = ReadFile(d / "t.tar");
    // Two zero records at least, and the last block full.
    EXPECT_EQ(bytes.size() % 10240, 0u);
    EXPECT_TRUE(std::all_of(bytes.end() - 1024, bytes.end(), [](uint8_t b) { return b == 0; }));
    struct stat src {};
    stat((d / "src/run.sh").c_str(), &src);
    for (const std::string tool : {"tar", "bsdtar"}) {
        if (!HaveTool(tool)) continue;
        TempDir out;
        ASSERT_EQ(test::Run(tool + " -xf " + Quote(d / "t.tar") + " -C " + Quote(out.Path()) + " 2>&1"), 0) << tool;
        ExpectTree(tree, out.Path());
        struct stat got {};
        stat((out / "run.sh").c_str(), &got);
        EXPECT_EQ(got.st_mode & 0777, 0755u) << tool;
        EXPECT_EQ(got.st_mtime, src.st_mtime) << tool;
    }
    TUnTar x;
    TempDir out;
    EXPECT_EQ(RunExtractor(x, d / "t.tar", out.Path(), WithFolders).failed, 0);
    ExpectTree(tree, out.Path());
}

TEST(TarWriter, OneSmallFileIsOneBlock) {
    TempDir d;
    WriteFile(d / "a", "1");
    TTar w;
    RunWriter(w, d / "one.tar", {"a"}, d.Path());
    const std::vector<uint8_t> b = ReadFile(d / "one.tar");
    ASSERT_EQ(b.size(), 10240u);
    // The header's checksum, read as octal, is the sum of its bytes with the field taken as spaces.
    unsigned sum = 0;
    for (size_t i = 0; i < 512; ++i)
        sum += (i >= 148 && i < 156) ? ' ' : b[i];
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[148]), 8), ToOctal(sum, 8, true));
    EXPECT_EQ(b[155], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[257]), 8), std::string("ustar  \0", 8));
}

TEST(TarWriter, UpdateAndDeleteKeepTheOtherEntries) {
    TempDir d;
    WriteFile(d / "a.txt", "a");
    WriteFile(d / "b.txt", "b");
    TTar first;
    RunWriter(first, d / "u.tar", {"a.txt", "b.txt"}, d.Path());
    WriteFile(d / "c.txt", "c");
    TTar add;
    EXPECT_EQ(RunWriter(add, d / "u.tar", {"c.txt"}, d.Path()).result, 1);
    TTar del;
    EXPECT_EQ(RunWriter(del, d / "u.tar", {"a.txt"}, d.Path(), [](TCompBase& c) { c.Switch = swDelete; }).result, 1);
    TUnTar x;
    TempDir out;
    RunExtractor(x, d / "u.tar", out.Path());
    auto files = FilesUnder(out.Path());
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"b.txt", "b"}, {"c.txt", "c"}}));
    if (HaveTool("tar")) {
        EXPECT_EQ(test::Run("tar -tf " + Quote(d / "u.tar") + " >/dev/null 2>&1"), 0);
    }
}

TEST(TarWriter, CompressedTarIsCreatedAndUpdatedInPlace) {
    TempDir d;
    WriteFile(d / "a.txt", Text(30000));
    TTar w;
    w.SetCompressMethod(cmGzipTar);
    WriteOutcome o = RunWriter(w, d / "x.tgz", {"a.txt"}, d.Path());
    ASSERT_FALSE(o.failed);
    WriteFile(d / "b.txt", "b");
    TTar again;
    again.SetCompressMethod(cmGzipTar);
    o = RunWriter(again, d / "x.tgz", {"b.txt"}, d.Path());
    ASSERT_FALSE(o.failed) << (o.messages.empty() ? "" : o.messages[0]);
    EXPECT_TRUE(TempLeftovers(d.Path()).empty());
    if (HaveTool("gzip")) {
        EXPECT_EQ(test::Run("gzip -t " + Quote(d / "x.tgz") + " 2>&1"), 0);
    }
    if (HaveTool("tar")) {
        std::string listing;
        EXPECT_EQ(test::Run("tar -tzf " + Quote(d / "x.tgz"), &listing), 0);
        EXPECT_EQ(listing, "a.txt\nb.txt\n");
    }
    TUnGZip x;  // the compressed TAR's entries, straight out of the stream
    TempDir out;
    RunExtractor(x, d / "x.tgz", out.Path());
    EXPECT_EQ(ReadText(out / "a.txt"), Text(30000));
    EXPECT_EQ(ReadText(out / "b.txt"), "b");
}

TEST(GzipWriter, EveryInputGivesAGzipFileThatPeersAccept) {
    TempDir d;
    WriteFile(d / "empty", "");
    WriteFile(d / "noise", RandomBytes(70000, 9));
    WriteFile(d / "text", Text(200000));
    TGZip w;
    WriteOutcome o = RunWriter(w, d / "out.gz", {"empty", "noise", "text"}, d.Path());
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(o.result, 3);
    for (const char* n : {"empty", "noise", "text"}) {
        const fs::path gz = d / (std::string(n) + ".gz");
        ASSERT_TRUE(fs::exists(gz)) << n;
        const std::vector<uint8_t> b = ReadFile(gz);
        ASSERT_GE(b.size(), 20u) << n;  // a header alone is no gzip file
        EXPECT_EQ(b[2], 8) << n;
        if (HaveTool("gzip")) {
            std::string out;
            EXPECT_EQ(test::Run("gzip -dc " + Quote(gz), &out), 0) << n;
            EXPECT_EQ(out, ReadText(d / n)) << n;
        }
        TUnGZip x;
        TempDir out;
        RunExtractor(x, gz, out.Path());
        EXPECT_EQ(ReadText(out / n), ReadText(d / n)) << n;
    }
}

TEST(GzipWriter, MoveDeletesTheSourceOnlyAfterItsGzipFileIsComplete) {
    TempDir d;
    WriteFile(d / "keep", Text(1000));
    WriteFile(d / "keep.gz", "old");
    TGZip w;
    WriteOutcome o = RunWriter(w, d / "x.gz", {"keep"}, d.Path(), [](TCompBase& c) {
        c.Switch = swMove;
        c.DeleteOptions = doFinal;
        c.OnBegin = [](TZipCommon& s, const std::string&, int, bool&) { s.SetCancel(true); };
        static_cast<TGZip&>(c).OnFileExists = [](TZipCommon&, const std::string&, int64_t, TOverwriteMode& m) {
            m = omOverwrite;
        };
    });
    EXPECT_TRUE(o.failed);
    EXPECT_TRUE(fs::exists(d / "keep"));
    EXPECT_EQ(ReadText(d / "keep.gz"), "old");
    EXPECT_TRUE(TempLeftovers(d.Path()).empty());
    TGZip moved;
    o = RunWriter(moved, d / "x.gz", {"keep"}, d.Path(), [](TCompBase& c) {
        c.Switch = swMove;
        c.DeleteOptions = doFinal;
        static_cast<TGZip&>(c).OnFileExists = [](TZipCommon&, const std::string&, int64_t, TOverwriteMode& m) {
            m = omOverwrite;
        };
    });
    EXPECT_FALSE(o.failed);
    EXPECT_FALSE(fs::exists(d / "keep"));
    if (HaveTool("gzip")) {
        EXPECT_EQ(test::Run("gzip -t " + Quote(d / "keep.gz") + " 2>&1"), 0);
    }
}

}  // namespace
}  // namespace varnok::test
