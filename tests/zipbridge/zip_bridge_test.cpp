#include "zipbridge/zip_bridge.h"

#include <gtest/gtest.h>

#include "archive/core/bytes.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::TempDir;

struct Bridge {
    TZipBridge z;
    std::vector<std::string> messages;
    int updates = 0;
    std::vector<int> sequence;
    Bridge() {
        z.Unattended = true;
        z.OnMessage = [this](TZipBridge&, int, const std::string& m) { messages.push_back(m); };
        z.OnDirUpdate = [this](TZipBridge&) { ++updates; };
        z.OnNewName = [this](TZipBridge&, int n, const ZipDirEntry&) { sequence.push_back(n); };
    }
};

TEST(ZipBridge, ReadsEntriesAndTheirRecords) {
    TempDir d;
    test::ZipItem a{"a/b/c.txt", "hello"};
    a.comment = "note";
    test::ZipItem dir{"docs/", ""};
    dir.externalAttr = 0x10;
    test::WriteFile(d / "x.zip", test::BuildZip({a, dir, {"z.bin", "12345678"}}));
    Bridge b;
    b.z.SetZipFileName(d / "x.zip");
    EXPECT_EQ(b.updates, 1);
    ASSERT_EQ(b.z.Count(), 2);  // the folder entry is left out
    EXPECT_EQ(b.z.SkippedDirEntries(), 1);
    EXPECT_EQ(b.z.Entry(0).FileName, "a/b/c.txt");
    EXPECT_EQ(b.z.Entry(0).FileComment, "note");
    EXPECT_EQ(b.z.Entry(0).UncompressedSize, 5u);
    EXPECT_EQ(b.z.Entry(0).FileNameLength(), 9);
    EXPECT_EQ(b.z.Entry(0).ExtFileAttrib(), 0x20u);
    EXPECT_EQ(b.z.Entry(1).RelOffLocalHdr, 30u + 9 + 5 + 30 + 5);
    EXPECT_EQ(b.sequence, (std::vector<int>{1, 2}));
    EXPECT_EQ(b.z.SFXOffset(), 0u);
    EXPECT_TRUE(b.messages.empty());
    b.z.UseDirOnlyEntries = true;
    b.z.List();
    ASSERT_EQ(b.z.Count(), 3);
    EXPECT_EQ(b.z.Entry(1).FileName, "docs/");
}

TEST(ZipBridge, EndRecordOnlyAndMissingFiles) {
    TempDir d;
    test::WriteFile(d / "empty.zip", test::BuildZip({}));
    Bridge b;
    b.z.SetZipFileName(d / "empty.zip");
    EXPECT_EQ(b.z.Count(), 0);
    EXPECT_EQ(b.z.SFXOffset(), 0u);
    EXPECT_TRUE(b.messages.empty());
    b.z.SetZipFileName(d / "none.zip");
    EXPECT_EQ(b.z.Count(), 0);
    EXPECT_TRUE(b.messages.empty());
    EXPECT_EQ(b.updates, 2);
    test::WriteFile(d / "not.zip", std::string(200, 'n'));
    b.z.SetZipFileName(d / "not.zip");
    ASSERT_FALSE(b.messages.empty());
    EXPECT_EQ(b.messages.back(), "This archive is not a valid Zip archive");
    EXPECT_EQ(b.z.ErrCode(), 11036);
}

TEST(ZipBridge, GarbageAfterTheArchive) {
    TempDir d;
    test::ZipOptions junk;
    junk.comment = "c";
    junk.trailer = std::string(100, 'g');
    test::WriteFile(d / "junk.zip", test::BuildZip({{"a", "b"}}, junk));
    Bridge b;
    b.z.SetZipFileName(d / "junk.zip");
    EXPECT_EQ(b.z.Count(), 1);
    ASSERT_EQ(b.messages.size(), 1u);
    EXPECT_EQ(b.messages[0], "Warning - Garbage at the end of the zipfile!");
    EXPECT_EQ(b.z.ZipArchiveSize() + 100, b.z.ZipFileSize());
    EXPECT_EQ(b.z.ZipComment(), "c");
    // Fewer than 512 zero bytes padding the file to a multiple of 512 are not garbage.
    test::ZipOptions pad;
    pad.comment = "c";
    auto plain = test::BuildZip({{"a", std::string(100, 'b')}}, pad);
    pad.comment += std::string(724 - plain.size(), 'x');
    pad.trailer = std::string(300, '\0');
    auto padded = test::BuildZip({{"a", std::string(100, 'b')}}, pad);
    ASSERT_EQ(padded.size(), 1024u);
    test::WriteFile(d / "pad.zip", padded);
    Bridge p;
    p.z.SetZipFileName(d / "pad.zip");
    EXPECT_EQ(p.z.Count(), 1);
    EXPECT_TRUE(p.messages.empty());
}

TEST(ZipBridge, NameTranslationByHost) {
    TempDir d;
    auto fat = [](const std::string& name) {
        test::ZipItem i{name, "x"};
        i.host = 0;
        return i;
    };
    test::ZipItem unix{"caf\xC3\xA9.txt", "y"};
    unix.host = 3;
    test::ZipItem flagged{"\xC3\xA9t\xC3\xA9", "z"};
    flagged.flags = 0x800;
    // CP437 names of a DOS archiver, one of whose byte strings happens to be valid UTF-8 too.
    test::WriteFile(d / "n.zip", test::BuildZip({fat("\x81" "ber.txt"), fat("Gr\x94\xE1" "e.txt"),
                                                fat("na\xC3\xAFve.txt"), unix, flagged}));
    Bridge b;
    b.z.SetZipFileName(d / "n.zip");
    ASSERT_EQ(b.z.Count(), 5);
    EXPECT_EQ(b.z.Entry(0).FileName, "\xC3\xBC" "ber.txt");               // über
    EXPECT_EQ(b.z.Entry(1).FileName, "Gr\xC3\xB6\xC3\x9F" "e.txt");      // Größe
    EXPECT_EQ(b.z.Entry(2).FileName, "na\xE2\x94\x9C\xC2\xBBve.txt");  // "na├»ve": read as CP437 too
    EXPECT_EQ(b.z.Entry(3).FileName, "caf\xC3\xA9.txt");
    EXPECT_EQ(b.z.Entry(4).FileName, "\xC3\xA9t\xC3\xA9");
    // Kept as stored: the bytes are taken for UTF-8 whatever system wrote them.
    b.z.CodePage = cpNone;
    b.z.List();
    EXPECT_EQ(b.z.Entry(2).FileName, "na\xC3\xAFve.txt");
    // The OEM page for every name the archive does not mark as UTF-8, also those made on Unix.
    b.z.CodePage = cpOEM;
    b.z.List();
    EXPECT_EQ(b.z.Entry(0).FileName, "\xC3\xBC" "ber.txt");
    EXPECT_EQ(b.z.Entry(3).FileName, "caf\xE2\x94\x9C\xE2\x8C\x90.txt");  // "caf├⌐.txt"
    EXPECT_EQ(b.z.Entry(4).FileName, "\xC3\xA9t\xC3\xA9");
    // A page chosen by the user beats both.
    b.z.NameCodePage = "CP1252";
    b.z.List();
    EXPECT_EQ(b.z.Entry(3).FileName, "caf\xC3\x83\xC2\xA9.txt");  // "cafÃ©.txt"
}

TEST(ZipBridge, SetsTheCommentInPlace) {
    TempDir d;
    test::WriteFile(d / "c.zip", test::BuildZip({{"a.txt", "hello"}}, {"old comment"}));
    Bridge b;
    b.z.SetZipFileName(d / "c.zip");
    ASSERT_TRUE(b.z.SetZipComment("new"));
    auto bytes = test::ReadFile(d / "c.zip");
    ASSERT_GE(bytes.size(), 25u);
    EXPECT_EQ(std::string(bytes.end() - 3, bytes.end()), "new");
    EXPECT_EQ(Le16(&bytes[bytes.size() - 5]), 3);
    Bridge again;
    again.z.SetZipFileName(d / "c.zip");
    EXPECT_EQ(again.z.ZipComment(), "new");
    EXPECT_EQ(again.z.Count(), 1);
    ASSERT_TRUE(again.z.SetZipComment(""));
    Bridge empty;
    empty.z.SetZipFileName(d / "c.zip");
    EXPECT_EQ(empty.z.ZipComment(), "");
    EXPECT_EQ(empty.z.ZipFileSize(), empty.z.ZipEOCOffset() + 22);
}

// A comment is stored in the OEM page when that page holds all of it and as UTF-8 when not (nothing typed is
// dropped); either reads back as typed, and so does a UTF-8 comment written by zip on Unix.
TEST(ZipBridge, CommentsComeBackAsTyped) {
    TempDir d;
    test::WriteFile(d / "c.zip", test::BuildZip({{"a.txt", "hello"}}, {"caf\xC3\xA9 typed on Unix"}));
    Bridge b;
    b.z.SetZipFileName(d / "c.zip");
    EXPECT_EQ(b.z.ZipComment(), "caf\xC3\xA9 typed on Unix");
    EXPECT_EQ(b.z.CommentBytes("caf\xC3\xA9"), "caf\x82");
    for (const std::string text : {"caf\xC3\xA9", "\xE2\x82\xAC 5 \xC3\xA9"}) {  // "café", "€ 5 é"
        ASSERT_TRUE(b.z.SetZipComment(text));
        Bridge again;
        again.z.SetZipFileName(d / "c.zip");
        EXPECT_EQ(again.z.ZipComment(), text);
    }
    // A forced page reads every byte in that page: "Γé¼ 5 ├⌐".
    Bridge forced;
    forced.z.NameCodePage = "CP437";
    forced.z.SetZipFileName(d / "c.zip");
    EXPECT_EQ(forced.z.ZipComment(), "\xCE\x93\xC3\xA9\xC2\xBC 5 \xE2\x94\x9C\xE2\x8C\x90");
}

TEST(ZipBridge, StubInFrontOfTheArchive) {
    TempDir d;
    test::ZipOptions o;
    o.prefix = std::string(512, 'S');
    test::WriteFile(d / "sfx.exe", test::BuildZip({{"a", "1"}, {"b", "2"}}, o));
    Bridge b;
    b.z.SetZipFileName(d / "sfx.exe");
    ASSERT_EQ(b.z.Count(), 2);
    EXPECT_EQ(b.z.SFXOffset(), 512u);
    EXPECT_FALSE(b.z.WrongZipStruct());
}

TEST(ZipBridge, SplitSetFromFixtures) {
    VARNOK_REQUIRE_FIXTURE(path, "zip/spanned_infozip/Infozip.nocomp.multi.zip");
    Bridge b;
    b.z.SetZipFileName(path);
    EXPECT_TRUE(b.z.IsSpanned());
    ASSERT_EQ(b.z.Count(), 3);
    EXPECT_EQ(b.z.Entry(0).FileName, "exe/test.exe");
    EXPECT_EQ(b.z.Entry(0).UncompressedSize, 45056u);
}

}  // namespace
}  // namespace varnok
