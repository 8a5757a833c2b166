// A ZIP set spanned over removable disks, played by a stand-in drive whose content the disk requests swap.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/formats/zip/unzip.h"
#include "platform/drive.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

TEST(UnZipSpanned, DisksAreAskedForInTurn) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    std::string a(90000, 'a'), b(90000, 'b');
    for (size_t i = 0; i < a.size(); i += 7)
        a[i] = static_cast<char>(i * 31);
    test::WriteFile(d / "src" / "a.bin", a);
    test::WriteFile(d / "src" / "b.bin", b);
    ASSERT_EQ(
        test::Run("cd " + Quote(d / "src") + " && zip -q -0 -s 64k " + Quote(d / "set.zip") + " a.bin b.bin"),
        0);
    std::vector<fs::path> parts;
    for (int i = 1; fs::exists(d / ("set.z0" + std::to_string(i))); ++i)
        parts.push_back(d / ("set.z0" + std::to_string(i)));
    parts.push_back(d / "set.zip");
    ASSERT_GE(parts.size(), 3u);
    const std::string floppy = (d / "floppy").string();
    auto insert = [&](int disk) {  // 1-based
        ASSERT_TRUE(platform::MakeStandInDrive(floppy, platform::dkRemovable,
                                               "PKBACK# 00" + std::to_string(disk),
                                               static_cast<uint32_t>(disk), 1457664));
        fs::copy_file(parts[static_cast<size_t>(disk - 1)], fs::path(floppy) / "set.zip",
                      fs::copy_options::overwrite_existing);
    };
    insert(static_cast<int>(parts.size()));  // the last disk is in the drive first
    TUnZip x;
    x.SetArchiveFile(floppy + "/set.zip");
    ASSERT_EQ(x.ArcType(), atZipMV);
    std::vector<std::string> asked;
    x.OnGetZipNextDisk = [&](TZipCommon&, const std::string& n, bool& cancel) {
        asked.push_back(n);
        insert(std::stoi(n));
        cancel = false;
    };
    x.OnGetZipFirstDisk = [&](TZipCommon&, bool& cancel) {
        asked.push_back("1");
        insert(1);
        cancel = false;
    };
    x.OnGetZipLastDisk = [&](TZipCommon&, bool& cancel) {
        asked.push_back("last");
        insert(static_cast<int>(parts.size()));
        cancel = false;
    };
    std::vector<int> errors;
    x.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
        errors.push_back(code);
    };
    x.FileSpec = {"*.*"};
    x.ExtractDir = (d / "out").string();
    EXPECT_EQ(x.ExtractArchive(), 2);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(test::ReadText(d / "out" / "a.bin"), a);
    EXPECT_EQ(test::ReadText(d / "out" / "b.bin"), b);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), "1");  // the first entry starts on the first disk
}

}  // namespace
}  // namespace varnok
