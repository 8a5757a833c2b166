#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>

#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/drive.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"
#include "tests/support/test_support.h"

namespace varnok::platform {
namespace {

using test::TempDir;

TEST(CodePage, OemAndUtf8) {
    EXPECT_EQ(OemToUtf8("abc"), "abc");
    EXPECT_EQ(OemToUtf8("\x8E\x99\x9A"), "\xC3\x84\xC3\x96\xC3\x9C");  // Ä Ö Ü in CP437
    EXPECT_EQ(Utf8ToOem("\xC3\xA9"), "\x82");
    EXPECT_EQ(Utf8ToOem("\xE2\x82\xAC"), "_");  // the euro sign is not in CP437
    EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9"));
    EXPECT_FALSE(IsValidUtf8("\x82"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_EQ(ToDisplayUtf8("\x82t\x82"), "\xC3\xA9t\xC3\xA9");
    SetOemCodePage("CP866");
    EXPECT_EQ(OemToUtf8("\x8F"), "\xD0\x9F");  // Cyrillic Pe
    SetOemCodePage("CP437");
    EXPECT_EQ(ConvertCharset("x", "NO-SUCH-SET", "UTF-8"), "x");
}

TEST(DateTime, CivilAndFormatting) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(UtcToUnix({1970, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(LocalToUnix({2000, 3, 1, 12, 30, 15}), 951913815);
    EXPECT_EQ(FormatLocalIso(951913815), "2000-03-01T12:30:15");
    auto c = UnixToUtc(-86400);
    EXPECT_EQ(c.year, 1969);
    EXPECT_EQ(c.day, 31);
    EXPECT_FALSE(IsValidCivil({2023, 2, 29, 0, 0, 0}));
    EXPECT_TRUE(IsValidCivil({2024, 2, 29, 0, 0, 0}));
}

TEST(Files, AttributesAndTimes) {
    TempDir d;
    test::WriteFile(d / "plain.txt", std::string("x"));
    test::WriteFile(d / ".hidden", std::string("y"));
    EXPECT_EQ(AttributesOf((d / "plain.txt").string()), faArchive);
    EXPECT_EQ(AttributesOf((d / ".hidden").string()), faArchive | faHidden);
    EXPECT_EQ(AttributesOf(d.Path().string()) & faDirectory, faDirectory);
    EXPECT_EQ(AttributesOf((d / "none").string()), 0u);
    ASSERT_TRUE(ApplyDosAttributes((d / "plain.txt").string(), faReadOnly));
    EXPECT_TRUE(AttributesOf((d / "plain.txt").string()) & faReadOnly);
    ASSERT_TRUE(SetFileTime((d / ".hidden").string(), 1000000000));
    EXPECT_EQ(FileMTime((d / ".hidden").string()), 1000000000);
    EXPECT_TRUE(ForceDirectories((d / "a" / "b" / "c").string()));
    EXPECT_TRUE(DirectoryExists((d / "a" / "b" / "c").string()));
    EXPECT_FALSE(ForceDirectories(""));
    // A file in the way of a folder.
    EXPECT_FALSE(ForceDirectories((d / "plain.txt" / "sub").string()));
}

TEST(Files, TempFilesArePrivateAndUnique) {
    TempDir d;
    File f;
    std::string a = CreateTempFile(d.Path().string(), "vnk", ".zip", &f);
    std::string b = CreateTempFile(d.Path().string(), "vnk", ".zip");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.substr(a.size() - 4), ".zip");
    EXPECT_TRUE(f.IsOpen());
    EXPECT_TRUE(f.Write("abc", 3));
    struct stat st;
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string dir = CreateTempDir(d.Path().string(), "vnkd");
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_TRUE(RemoveTree(dir));
    EXPECT_TRUE(CreateTempFile((d / "missing").string(), "x").empty());
}

// A whole-file write replaces the old file only when the new one is complete, gives it the mode asked, and
// leaves no private file behind whether it succeeds or fails.
TEST(Files, AtomicWriteReplacesWholeOrLeavesTheOldFile) {
    test::TempDir d;
    const std::string path = (d / "sub/deeper/f.txt").string();
    ASSERT_TRUE(platform::WriteFileAtomically(path, "first", 0755));
    ASSERT_TRUE(platform::WriteFileAtomically(path, "second"));
    EXPECT_EQ(test::ReadText(path), "second");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // A folder where the file should go: the write fails with a reason and the folder stays as it was.
    std::filesystem::create_directories(d / "sub/deeper/taken");
    std::string why;
    EXPECT_FALSE(platform::WriteFileAtomically((d / "sub/deeper/taken").string(), "x", 0644, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(std::filesystem::is_directory(d / "sub/deeper/taken"));
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(d / "sub/deeper")) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2) << "only f.txt and the folder";
}

TEST(Files, PositionedReadsAndWrites) {
    TempDir d;
    File f;
    ASSERT_TRUE(f.Open((d / "f").string(), File::Mode::Create));
    ASSERT_TRUE(f.WriteAt(5, "xyz", 3));
    EXPECT_EQ(f.Size(), 8u);
    char buf[16] = {};
    EXPECT_EQ(f.ReadAt(5, buf, 16), 3u);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    EXPECT_EQ(f.ReadAt(100, buf, 4), 0u);
    ASSERT_TRUE(f.Truncate(2));
    EXPECT_EQ(f.Size(), 2u);
    File dir;
    EXPECT_FALSE(dir.Open(d.Path().string(), File::Mode::Read));
}

TEST(Drive, StandInDisk) {
    TempDir d;
    auto disk = (d / "floppy").string();
    ASSERT_TRUE(MakeStandInDrive(disk, dkRemovable, "PKBACK# 001", 0xCAFE1234, 10000));
    test::WriteFile(d / "floppy" / "sub" / "data", std::string(4000, 'd'));
    DriveFacts f = QueryDrive(disk + "/sub/not-yet-there.zip");
    EXPECT_TRUE(f.ready);
    EXPECT_TRUE(f.standIn);
    EXPECT_EQ(f.root, disk);
    EXPECT_EQ(f.kind, dkRemovable);
    EXPECT_EQ(f.label, "PKBACK# 001");
    EXPECT_EQ(f.serial, 0xCAFE1234u);
    EXPECT_EQ(f.totalBytes, 10000u);
    EXPECT_EQ(f.freeBytes, 6000u);
    ASSERT_TRUE(SetDriveLabel(disk, "PKBACK# 002"));
    EXPECT_EQ(QueryDrive(disk).label, "PKBACK# 002");
    // A real folder belongs to its mounted file system.
    DriveFacts real = QueryDrive(d.Path().string());
    EXPECT_TRUE(real.ready);
    EXPECT_FALSE(real.standIn);
    EXPECT_NE(real.kind, dkRemovable);
    EXPECT_FALSE(SetDriveLabel(d.Path().string(), "X"));
}

// Inside a chroot the mount table lists no mount that holds the process's files (only /proc, /dev and the
// like): such a path is still on a ready, fixed drive, and a ZIP there is opened instead of "Drive ... is NOT
// defined".
TEST(Drive, APathNoMountHoldsIsOnAReadyFixedDrive) {
    TempDir d;
    test::WriteFile(d / "mountinfo",
                    "45 27 0:40 / /proc rw,relatime - proc proc rw\n"
                    "46 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw\n");
    DriveFacts f = QueryDrive((d / "a/not-yet.zip").string(), (d / "mountinfo").string());
    EXPECT_TRUE(f.ready);
    EXPECT_EQ(f.kind, dkFixed);
    EXPECT_EQ(f.root, "/");
    EXPECT_GT(f.totalBytes, 0u);
    // A mount table that cannot be read at all says the same.
    EXPECT_TRUE(QueryDrive(d.Path().string(), (d / "absent").string()).ready);
}

TEST(Trash, MovesWithInfoFile) {
    TempDir d;
    setenv("XDG_DATA_HOME", (d / "data").c_str(), 1);
    test::WriteFile(d / "gone.txt", std::string("bye"));
    test::WriteFile(d / "other" / "gone.txt", std::string("bye2"));
    ASSERT_TRUE(MoveToTrash((d / "gone.txt").string()));
    ASSERT_TRUE(MoveToTrash((d / "other" / "gone.txt").string()));
    EXPECT_FALSE(PathExists((d / "gone.txt").string()));
    EXPECT_TRUE(FileExists((d / "data" / "Trash" / "files" / "gone.txt").string()));
    EXPECT_TRUE(FileExists((d / "data" / "Trash" / "files" / "gone.txt.2").string()));
    std::string info = test::ReadText(d / "data" / "Trash" / "info" / "gone.txt.trashinfo");
    EXPECT_NE(info.find("[Trash Info]\nPath=" + (d / "gone.txt").string()), std::string::npos);
    EXPECT_NE(info.find("DeletionDate="), std::string::npos);
    EXPECT_FALSE(MoveToTrash((d / "never").string()));
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace varnok::platform
