// The ZIP writer: what it writes gives back every file byte for byte, to our extractor and to the peers
// (Info-ZIP unzip, 7-Zip, Python's zipfile), encrypted or not; its records say what the peers rely on.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/core/bytes.h"
#include "archive/core/errors.h"
#include "archive/core/zip_records.h"
#include "archive/core/zipcrypt.h"
#include "archive/formats/zip/unzip.h"
#include "archive/formats/zip/zip_writer.h"
#include "tests/support/builders.h"
#include "tests/support/extractor_run.h"
#include "tests/support/writer_run.h"

namespace varnok::test {
namespace {



struct Written {
    TempDir dir;
    std::map<std::string, std::string> tree;
    fs::path zip = dir / "tree.zip";
    explicit Written(const std::string& password = {}, TDeflateType level = dtDeflateN) {
        tree = MakeTree(dir / "src");
        TZip w;
        WriteOutcome o = RunWriter(w, zip, {"*"}, dir / "src", [&](TCompBase& c) {
            c.Password = password;
            c.DeflateType = level;
        });
        EXPECT_FALSE(o.failed);
        EXPECT_TRUE(o.codes.empty()) << (o.messages.empty() ? "" : o.messages[0]);
    }
};

TEST(ZipWriter, TreeComesBackWithModesAndTimes) {
    Written w;
    struct stat st {};
    stat((w.dir / "src/run.sh").c_str(), &st);
    TUnZip x;
    TempDir out;
    Outcome o = RunExtractor(x, w.zip, out.Path(), WithFolders);
    EXPECT_EQ(o.failed, 0);
    ExpectTree(w.tree, out.Path());
    struct stat got {};
    stat((out / "run.sh").c_str(), &got);
    EXPECT_EQ(got.st_mode & 0777, 0755u);
    EXPECT_EQ(got.st_mtime, st.st_mtime);
}

TEST(ZipWriter, EveryStrengthGivesBackTheFiles) {
    for (TDeflateType t : {dtDeflateS, dtDeflateF, dtDeflateX}) {
        Written w({}, t);
        TUnZip x;
        TempDir out;
        EXPECT_EQ(RunExtractor(x, w.zip, out.Path(), WithFolders).failed, 0);
        ExpectTree(w.tree, out.Path());
    }
}

TEST(ZipWriter, PeersReadWhatWeWrite) {
    Written plain;
    Written secret("pa55 word");
    if (HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -tq " + Quote(plain.zip) + " >/dev/null 2>&1"), 0);
        EXPECT_EQ(test::Run("unzip -tq -P 'pa55 word' " + Quote(secret.zip) + " >/dev/null 2>&1"), 0);
        EXPECT_NE(test::Run("unzip -tq -P wrong " + Quote(secret.zip) + " >/dev/null 2>&1"), 0);
    }
    if (HaveTool("7z")) {
        EXPECT_EQ(test::Run("7z t " + Quote(plain.zip) + " >/dev/null 2>&1"), 0);
        EXPECT_EQ(test::Run("7z t '-ppa55 word' " + Quote(secret.zip) + " >/dev/null 2>&1"), 0);
    }
    if (HaveTool("bsdtar")) {
        TempDir out;
        EXPECT_EQ(test::Run("bsdtar -xf " + Quote(plain.zip) + " -C " + Quote(out.Path()) + " 2>&1"), 0);
        ExpectTree(plain.tree, out.Path());
        TempDir out2;
        EXPECT_EQ(test::Run("bsdtar --passphrase 'pa55 word' -xf " + Quote(secret.zip) + " -C " + Quote(out2.Path()) +
                            " 2>&1"),
                  0);
        ExpectTree(secret.tree, out2.Path());
    }
    if (HaveTool("python3")) {
        // zipfile checks every CRC and reads the names with the UTF-8 flag.
        const std::string py =
            "import sys,zipfile\n"
            "z=zipfile.ZipFile(sys.argv[1]); z.setpassword(sys.argv[2].encode() or None)\n"
            "for i in z.infolist():\n"
            "  d=z.read(i)\n"
            "  assert len(d)==i.file_size\n"
            "print(sorted(i.filename for i in z.infolist()))\n";
        WriteFile(plain.dir / "check.py", py);
        std::string out;
        EXPECT_EQ(test::Run("python3 " + Quote(plain.dir / "check.py") + " " + Quote(plain.zip) + " ''", &out), 0);
        EXPECT_NE(out.find("caf\xC3\xA9 \xD0\xBF"), std::string::npos) << out;
        EXPECT_NE(out.find("'emptydir/'"), std::string::npos) << out;
        EXPECT_EQ(test::Run("python3 " + Quote(plain.dir / "check.py") + " " + Quote(secret.zip) + " 'pa55 word'"), 0);
    }
}

// The records of the written archive, read with the shared ZIP record reader.
std::vector<zip::CentralHeader> Central(const fs::path& zip) {
    std::vector<uint8_t> b = ReadFile(zip);
    platform::File f;
    EXPECT_TRUE(f.Open(zip.string(), platform::File::Mode::Read));
    zip::EndRecord end;
    EXPECT_TRUE(zip::FindEndRecord(f, b.size(), end));
    std::vector<zip::CentralHeader> out;
    size_t p = static_cast<size_t>(end.cdOffset);
    for (uint64_t i = 0; i < end.entriesTotal; ++i) {
        zip::CentralHeader h;
        EXPECT_TRUE(zip::ParseCentralHeader(b.data() + p, b.size() - p, h));
        p += static_cast<size_t>(h.recordSize());
        out.push_back(h);
    }
    return out;
}

TEST(ZipWriter, RecordsSayWhatPeersRelyOn) {
    Written w("pw");
    std::vector<uint8_t> bytes = ReadFile(w.zip);
    for (const auto& h : Central(w.zip)) {
        EXPECT_EQ(h.name.find('\\'), std::string::npos) << h.name;  // "/" in every name
        EXPECT_EQ(h.hostSystem(), 3) << h.name;
        EXPECT_EQ(h.internalAttr, 1) << h.name;
        const bool ascii = std::all_of(h.name.begin(), h.name.end(), [](char c) { return c > 0; });
        EXPECT_EQ(h.utf8(), !ascii) << h.name;
        if (h.name == "empty.bin" || h.isDirectory()) {
            // Nothing to encrypt: stored, no flags, no encryption header.
            EXPECT_EQ(h.method, 0);
            EXPECT_FALSE(h.encrypted());
            EXPECT_EQ(h.packedSize, 0u);
            EXPECT_EQ(h.crc, 0u);
            continue;
        }
        EXPECT_TRUE(h.encrypted()) << h.name;
        if (h.name == "noise.bin") {
            EXPECT_EQ(h.method, 0) << "incompressible data is stored";
        }
        if (h.name == "text/big.txt") {
            EXPECT_EQ(h.method, 8);
            EXPECT_EQ(h.flags & 6, 0) << "normal strength sets no speed bits";
        }
        // The encryption header's last plain byte is the CRC's high byte.
        zip::LocalHeader lh;
        platform::File f;
        ASSERT_TRUE(f.Open(w.zip.string(), platform::File::Mode::Read));
        ASSERT_TRUE(zip::ReadLocalHeader(f, h.localOffset, lh));
        ZipCipher c;
        c.InitKeys("pw");
        uint8_t head[12];
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(h.localOffset + lh.headerSize()), 12, head);
        c.Decrypt(head, 12);
        EXPECT_EQ(head[11], static_cast<uint8_t>(h.crc >> 24)) << h.name;
    }
}

TEST(ZipWriter, AlreadyCompressedFilesAreStoredButProgramsAreNot) {
    TempDir d;
    WriteFile(d / "inner.zip", Text(50000));
    WriteFile(d / "tool.exe", Text(50000));
    TZip w;
    RunWriter(w, d / "x.zip", {"inner.zip", "tool.exe"}, d.Path());
    for (const auto& h : Central(d / "x.zip"))
        EXPECT_EQ(h.method, h.name == "inner.zip" ? 0 : 8) << h.name;
}

TEST(ZipWriter, NamesInAChosenCodePageHaveNoUtf8Flag) {
    TempDir d;
    WriteFile(d / "\xD0\xBF\xD1\x80\xD0\xB8.txt", "x");  // "при.txt"
    TZip w;
    w.NameEncoding = "CP866";
    RunWriter(w, d / "x.zip", {"*.txt"}, d.Path());
    std::vector<zip::CentralHeader> c = Central(d / "x.zip");
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].name, "\xAF\xE0\xA8.txt");
    EXPECT_FALSE(c[0].utf8());
}

TEST(ZipWriter, UpdateKeepsDataDescriptorsOfKeptEntries) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 writes the streamed archive";
    TempDir d;
    // Written to a pipe, zipfile cannot go back: sizes and CRC follow each entry's data in a descriptor.
    ASSERT_EQ(test::Run("python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_DEFLATED); "
                  "z.writestr('streamed.txt','streamed data '*500); z.writestr('b.txt','b'); z.close()\" | cat > " +
                  Quote(d / "old.zip")),
              0);
    const std::vector<uint8_t> old = ReadFile(d / "old.zip");
    std::vector<zip::CentralHeader> before = Central(d / "old.zip");
    ASSERT_EQ(before.size(), 2u);
    ASSERT_TRUE(before[0].flags & 0x08);
    const size_t entryBytes = static_cast<size_t>(before[1].localOffset - before[0].localOffset);
    WriteFile(d / "new.txt", "new");
    TZip w;
    WriteOutcome o = RunWriter(w, d / "old.zip", {"new.txt"}, d.Path());
    EXPECT_FALSE(o.failed);
    // The kept entry is the same bytes, descriptor included.
    const std::vector<uint8_t> now = ReadFile(d / "old.zip");
    std::vector<zip::CentralHeader> after = Central(d / "old.zip");
    ASSERT_EQ(after.size(), 3u);
    ASSERT_GE(now.size(), after[0].localOffset + entryBytes);
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + static_cast<ptrdiff_t>(entryBytes),
                           now.begin() + static_cast<ptrdiff_t>(after[0].localOffset)));
    EXPECT_EQ(after[1].localOffset - after[0].localOffset, entryBytes);
    TUnZip x;
    TempDir out;
    EXPECT_EQ(RunExtractor(x, d / "old.zip", out.Path()).failed, 0);
    EXPECT_EQ(ReadText(out / "new.txt"), "new");
    if (HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -tq " + Quote(d / "old.zip") + " >/dev/null 2>&1"), 0);
    }
}

TEST(ZipWriter, ArchiveWithALongCommentCanBeUpdated) {
    TempDir d;
    ZipOptions opt;
    opt.comment = std::string(40000, 'c');
    ZipItem a;
    a.name = "a.txt";
    a.data = "a";
    WriteFile(d / "c.zip", BuildZip({a}, opt));
    WriteFile(d / "b.txt", "b");
    TZip w;
    WriteOutcome o = RunWriter(w, d / "c.zip", {"b.txt"}, d.Path());
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(Central(d / "c.zip").size(), 2u);
    platform::File f;
    ASSERT_TRUE(f.Open((d / "c.zip").string(), platform::File::Mode::Read));
    zip::EndRecord end;
    ASSERT_TRUE(zip::FindEndRecord(f, f.Size(), end));
    EXPECT_EQ(end.comment, opt.comment);
}

TEST(ZipWriter, CentralRecordsWidenPastFourGiB) {
    zip::CentralHeader h;
    h.versionMadeBy = 0x0314;
    h.versionNeeded = 20;
    h.packedSize = 5'000'000'000;
    h.unpackedSize = 6'000'000'000;
    h.name = "big";
    h.extra = {0x55, 0x54, 5, 0, 1, 1, 2, 3, 4};
    std::vector<uint8_t> r = zip::CentralRecordBytes(h, 7'000'000'000);
    zip::CentralHeader back;
    ASSERT_TRUE(zip::ParseCentralHeader(r.data(), r.size(), back));
    EXPECT_EQ(back.packedSize, h.packedSize);
    EXPECT_EQ(back.unpackedSize, h.unpackedSize);
    EXPECT_EQ(back.localOffset, 7'000'000'000u);
    EXPECT_GE(back.versionNeeded, 45);
    // A record that needs no ZIP64 field loses the stale one and keeps the others.
    back.packedSize = back.unpackedSize = 10;
    r = zip::CentralRecordBytes(back, 100);
    zip::CentralHeader small;
    ASSERT_TRUE(zip::ParseCentralHeader(r.data(), r.size(), small));
    EXPECT_EQ(small.localOffset, 100u);
    EXPECT_EQ(small.packedSize, 10u);
    EXPECT_EQ(small.extra, h.extra);
}

TEST(ZipWriter, MoreEntriesThanTheEndRecordCountsGetZip64Records) {
    TempDir d;
    const int n = 65600;
    fs::create_directories(d / "many");
    for (int i = 0; i < n; ++i)
        WriteFile(d / "many" / std::to_string(i), "");
    TZip w;
    WriteOutcome o = RunWriter(w, d / "many.zip", {"many"}, d.Path(), [](TCompBase& c) { c.SetCompressMethod(cmStore); });
    ASSERT_FALSE(o.failed);
    EXPECT_EQ(o.result, n);
    platform::File f;
    ASSERT_TRUE(f.Open((d / "many.zip").string(), platform::File::Mode::Read));
    zip::EndRecord end;
    ASSERT_TRUE(zip::FindEndRecord(f, f.Size(), end));
    EXPECT_TRUE(end.zip64);
    EXPECT_EQ(end.entriesTotal, static_cast<uint64_t>(n));
    if (HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -tq " + Quote(d / "many.zip") + " >/dev/null 2>&1"), 0);
    }
}

}  // namespace
}  // namespace varnok::test

namespace varnok::test {
namespace {

TEST(ZipWriter, CommentsAreEditedWithoutTouchingTheEntries) {
    TempDir d;
    WriteFile(d / "a.txt", Text(3000));
    WriteFile(d / "b.txt", "b");
    TZip w;
    RunWriter(w, d / "c.zip", {"a.txt", "b.txt"}, d.Path());
    const std::vector<zip::CentralHeader> before = Central(d / "c.zip");
    TZip edit;
    edit.SetArchiveFile((d / "c.zip").string());
    ASSERT_EQ(edit.LoadComments(), 2);
    EXPECT_EQ(edit.EntryName(1), "b.txt");
    edit.SetEntryComment(1, "about b");
    edit.SetArchiveComment("the archive");
    ASSERT_TRUE(edit.ApplyComments());
    const std::vector<zip::CentralHeader> after = Central(d / "c.zip");
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].comment, "");
    EXPECT_EQ(after[1].comment, "about b");
    EXPECT_EQ(after[0].crc, before[0].crc);
    EXPECT_EQ(after[0].localOffset, before[0].localOffset);
    TZip again;
    again.SetArchiveFile((d / "c.zip").string());
    ASSERT_EQ(again.LoadComments(), 2);
    EXPECT_EQ(again.GetEntryComment(1), "about b");
    EXPECT_EQ(again.GetArchiveComment(), "the archive");
    if (HaveTool("unzip")) {
        std::string z;
        EXPECT_EQ(test::Run("unzip -z " + Quote(d / "c.zip"), &z), 0);
        EXPECT_NE(z.find("the archive"), std::string::npos) << z;
        EXPECT_EQ(test::Run("unzip -tq " + Quote(d / "c.zip") + " >/dev/null 2>&1"), 0);
    }
    // Nothing changed: nothing is written.
    const std::vector<uint8_t> bytes = ReadFile(d / "c.zip");
    TZip same;
    same.SetArchiveFile((d / "c.zip").string());
    same.LoadComments();
    same.SetEntryComment(1, "about b");
    same.ApplyComments();
    EXPECT_EQ(ReadFile(d / "c.zip"), bytes);
}

}  // namespace
}  // namespace varnok::test
