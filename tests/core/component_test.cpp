#include <gtest/gtest.h>

#include "archive/core/lister.h"
#include "archive/core/volumes.h"
#include "platform/drive.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::TempDir;

TEST(Component, VolumeNames) {
    TArcLister c;
    c.VolumeLetter = 'a';
    EXPECT_EQ(c.VolumeFileName("/d/x.arj", 1), "/d/x.a01");
    EXPECT_EQ(c.VolumeFileName("/d/x.arj", 12), "/d/x.a12");
    EXPECT_EQ(c.VolumeFileName("/d/x.arj", 120), "/d/x.120");
    EXPECT_EQ(c.VolumeFileName("", 1), "");
    EXPECT_EQ(c.VolumeFileName("x.arj", -1), "");
    EXPECT_EQ(NextRarPartName("/d/set.part1.rar"), "/d/set.part2.rar");
    EXPECT_EQ(NextRarPartName("/d/set.part09.rar"), "/d/set.part10.rar");
    EXPECT_EQ(NextRarPartName("/d/set.rar"), "");
    EXPECT_EQ(NextEncodedVolumeName("a/f.uue"), "a/f.uu1");
    EXPECT_EQ(NextEncodedVolumeName("a/f.uu9"), "a/f.u10");
    EXPECT_EQ(NextEncodedVolumeName("a/f.u99"), "a/f.100");
    EXPECT_EQ(NextEncodedVolumeName("a/f.001"), "a/f.002");
    EXPECT_EQ(NextEncodedVolumeName("a/f.txt"), "");
}

TEST(Component, RarVolumeLetters) {
    TempDir d;
    std::vector<uint8_t> rar = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    rar.resize(64, 0);
    test::WriteFile(d / "x.rar", rar);
    TArcLister c;
    c.SetArchiveFile(d / "x.rar");
    ASSERT_EQ(c.VolumeLetter, 'q');
    EXPECT_EQ(c.VolumeFileName("x.rar", 0), "x.r00");
    EXPECT_EQ(c.VolumeFileName("x.rar", 99), "x.r99");
    EXPECT_EQ(c.VolumeFileName("x.rar", 100), "x.s00");
}

TEST(Component, RequestVolumeLimitsAndHandlers) {
    TArcLister c;
    std::vector<int> codes;
    int asked = 0;
    c.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
        codes.push_back(code);
    };
    std::string name = "/tmp/x.a01";
    EXPECT_FALSE(c.RequestVolume(name, 5));  // no handler
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0], E_EventNotAssigned);
    c.OnNextVolume = [&](TZipCommon&, std::string&, const std::string&, bool, bool& cancel) {
        ++asked;
        cancel = true;
    };
    EXPECT_FALSE(c.RequestVolume(name, 1000));
    EXPECT_EQ(codes.back(), E_MaxVolumes);
    EXPECT_EQ(asked, 0);
    std::string empty;
    EXPECT_FALSE(c.RequestVolume(empty, 2));
    EXPECT_EQ(codes.back(), E_InvalidFileName);

    // A handler that names an existing file is taken; the volume number moves on.
    TempDir d;
    test::WriteFile(d / "v.a02", std::string("x"));
    c.OnNextVolume = [&](TZipCommon&, std::string& n, const std::string& id, bool exists, bool& cancel) {
        EXPECT_EQ(id, "2");
        if (!exists) n = (d / "v.a02").string();
        cancel = false;
    };
    std::string want = (d / "nothere").string();
    int before = c.VolumeNumber;
    EXPECT_TRUE(c.RequestVolume(want, 2));
    EXPECT_EQ(want, (d / "v.a02").string());
    EXPECT_EQ(c.VolumeNumber, before + 1);
}

TEST(Component, ErrorsWhileCancelling) {
    TArcLister c;
    int last = 0;
    c.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
        last = code;
    };
    c.ReportError("f", "", E_CrcCheck);
    EXPECT_EQ(last, E_CrcCheck);
    EXPECT_THROW(c.RaiseError("f", "", E_BadFileHeader), ArchiveError);
    c.SetCancel(true);
    c.ReportError("f", "", E_CrcCheck);
    EXPECT_EQ(last, E_UserCanceled);
    EXPECT_THROW(c.RaiseError("f", "", E_BadFileHeader), RunCancelled);
    // Components driven by one composite share a single stop flag.
    TArcLister a, b;
    a.ShareCancel(b.CancelPtr());
    b.SetCancel(true);
    EXPECT_TRUE(a.Cancel());
}

TEST(Component, CommentBufferIsClamped) {
    TArcLister c;
    EXPECT_EQ(c.ZipCmntBufSize(), 32000);
    c.SetZipCmntBufSize(10);
    EXPECT_EQ(c.ZipCmntBufSize(), 2000);
    c.SetZipCmntBufSize(100000);
    EXPECT_EQ(c.ZipCmntBufSize(), 32767);
}

TEST(Component, TempDirAndTempFiles) {
    TempDir d;
    TArcLister c;
    std::string asked;
    c.OnConfirmCreateDir = [&](const std::string& text) {
        asked = text;
        return true;
    };
    c.SetTempDir((d / "new" / "tmp").string() + "/");
    EXPECT_NE(asked.find("Directory does not exist... Create?"), std::string::npos);
    EXPECT_TRUE(platform::DirectoryExists((d / "new" / "tmp").string()));
    std::string f = c.CreateTempFile();
    EXPECT_EQ(f.rfind((d / "new" / "tmp" / "vnk").string(), 0), 0u);
    EXPECT_TRUE(platform::FileExists(f));
    c.OnConfirmCreateDir = [](const std::string&) { return false; };
    c.SetTempDir((d / "refused").string());
    EXPECT_FALSE(platform::DirectoryExists((d / "refused").string()));
    EXPECT_EQ(c.TempDir(), platform::SystemTempDir());
}

// A spanned set on a stand-in floppy: disk requests are answered by swapping the folder's content.
TEST(Component, SpannedDiskRequests) {
    TempDir d;
    auto floppy = (d / "a").string();
    ASSERT_TRUE(platform::MakeStandInDrive(floppy, platform::dkRemovable, "PKBACK# 002", 2, 1457664));
    test::WriteFile(d / "a" / "set.zip", std::string(100, 'x'));
    TArcLister c;
    c.SetArchiveFile(floppy + "/set.zip");
    std::vector<std::string> asked;
    c.OnGetZipNextDisk = [&](TZipCommon&, const std::string& n, bool& cancel) {
        asked.push_back(n);
        platform::SetDriveLabel(floppy, "PKBACK# 00" + n);
        cancel = false;
    };
    EXPECT_TRUE(c.RequestZipDisk(2));  // already in the drive
    EXPECT_TRUE(asked.empty());
    EXPECT_TRUE(c.RequestZipDisk(3));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "3");
    // Refusing a disk fails the request.
    c.OnGetZipNextDisk = [&](TZipCommon&, const std::string&, bool& cancel) { cancel = true; };
    EXPECT_FALSE(c.RequestZipDisk(4));
    // No handler: reported as a missing event.
    c.OnGetZipNextDisk = nullptr;
    int code = 0;
    c.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int e) {
        code = e;
    };
    EXPECT_FALSE(c.RequestZipDisk(5));
    EXPECT_EQ(code, E_EventNotAssigned);
}

}  // namespace
}  // namespace varnok
