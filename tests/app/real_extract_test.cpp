// The extract operation with the program's own engines on archives made here.
#include <gtest/gtest.h>

#include "app/archive_model.h"
#include "app/extract.h"
#include "app/paths.h"
#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "platform/fileattr.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using test::RecordingView;
using varnok::test::ReadText;
using varnok::test::TempDir;
using varnok::test::WriteFile;
using varnok::test::ZipItem;

class RealExtract : public ::testing::Test {
  protected:
    void SetUp() override { out = (tmp / "out").string() + "/"; }
    std::string Zip(const std::vector<ZipItem>& items, const std::string& name = "a.zip") {
        std::string p = (tmp / name).string();
        WriteFile(p, varnok::test::BuildZip(items));
        return p;
    }
    int Select(const std::string& stored) {
        for (int i = 0; i < model.RowCount(); ++i)
            if (model.Row(i).StoredName() == stored) {
                model.SetSelected(i, true);
                return i;
            }
        return -1;
    }
    ExtractRequest Req(bool selected, bool overwrite = false) {
        ExtractRequest r;
        r.selectedOnly = selected;
        r.destination = out;
        r.overwrite = overwrite;
        return r;
    }

    TempDir tmp;
    std::string out;
    Settings settings;
    RecordingView view;
    ArchiveModel model{settings, view};
};

TEST_F(RealExtract, SelectedRowsAreExtractedByExactNameNotAsPatterns) {
    ASSERT_TRUE(model.Open(Zip({{"a*.txt", "star"},
                                {"ab.txt", "ab"},
                                {"A*.TXT", "upper"},
                                {"dir/x?.c", "q"},
                                {"dir/xy.c", "xy"},
                                {"other/x?.c", "other"}})));
    ASSERT_EQ(model.RowCount(), 6);
    Select("a*.txt");
    Select("dir/x?.c");
    EXPECT_EQ(model.Extractor().Run(Req(true)), 2);
    EXPECT_EQ(ReadText(out + "a*.txt"), "star");
    EXPECT_EQ(ReadText(out + "dir/x?.c"), "q");
    EXPECT_FALSE(platform::PathExists(out + "ab.txt"));
    EXPECT_FALSE(platform::PathExists(out + "A*.TXT"));
    EXPECT_FALSE(platform::PathExists(out + "dir/xy.c"));
    EXPECT_FALSE(platform::PathExists(out + "other"));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.status[0], "2 entry(ies) successfully extracted !");
}

TEST_F(RealExtract, TheOverwritePromptDecidesFileByFile) {
    ASSERT_TRUE(model.Open(Zip({{"one.txt", "new 1"}, {"two.txt", "new 2"}, {"sub/three.txt", "new 3"}})));
    platform::ForceDirectories(out + "sub");
    for (const char* f : {"one.txt", "two.txt", "sub/three.txt"})
        WriteFile(out + f, std::string("old"));
    view.overwriteAnswers = {OverwriteAnswer::No, OverwriteAnswer::Yes, OverwriteAnswer::No};
    EXPECT_EQ(model.Extractor().Run(Req(false)), 1);
    ASSERT_EQ(view.prompts.size(), 3u);
    EXPECT_EQ(ReadText(out + "one.txt"), "old");
    EXPECT_EQ(ReadText(out + "two.txt"), "new 2");
    EXPECT_EQ(ReadText(out + "sub/three.txt"), "old");
    // The prompt names the existing file and the entry with its listed size and time.
    EXPECT_EQ(view.prompts[2].existingPath, out + "sub/three.txt");
    EXPECT_EQ(view.prompts[2].entryName, "sub/three.txt");
    EXPECT_EQ(view.prompts[2].entrySize, 5u);
    EXPECT_FALSE(view.prompts[2].entryTime.empty());

    // A "No" for one file does not skip the files after it that do not exist yet.
    std::remove((out + "two.txt").c_str());
    view.prompts.clear();
    view.overwriteAnswers = {OverwriteAnswer::No, OverwriteAnswer::NoToAll};
    EXPECT_EQ(model.Extractor().Run(Req(false)), 1);
    EXPECT_EQ(ReadText(out + "two.txt"), "new 2");
    EXPECT_EQ(view.prompts.size(), 2u);
    EXPECT_EQ(ReadText(out + "sub/three.txt"), "old");
}

TEST_F(RealExtract, DamagedEntriesAndUnsafeNamesAreReportedTogether) {
    auto zip =
        varnok::test::BuildZip({{"good.txt", "fine"}, {"bad.txt", "damaged data"}, {"../escape.txt", "x"}});
    // Flip a byte of bad.txt's stored data: its CRC no longer matches.
    for (size_t i = 0; i + 12 <= zip.size(); ++i)
        if (std::string(zip.begin() + static_cast<long>(i), zip.begin() + static_cast<long>(i) + 12) ==
            "damaged data") {
            zip[i] ^= 0x20;
            break;
        }
    std::string p = (tmp / "damaged.zip").string();
    WriteFile(p, zip);
    ASSERT_TRUE(model.Open(p));
    model.Extractor().Run(Req(false));
    EXPECT_EQ(ReadText(out + "good.txt"), "fine");
    EXPECT_FALSE(platform::PathExists((tmp / "escape.txt").string()));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, "Error");
    const std::string& summary = view.messages[0].second;
    EXPECT_NE(summary.find("bad.txt"), std::string::npos) << summary;
    EXPECT_NE(summary.find("escape.txt"), std::string::npos) << summary;
    EXPECT_EQ(model.Extractor().Errors().size(), 2u) << summary;
}

TEST_F(RealExtract, TheBombLimitsOfTheSettingsHoldForZipAndTheOtherFamilies) {
    // 69 MB of zeros from 438 KB: refused at a ratio of 100, in a ZIP (the engine library) and in a TAR
    // compressed with gzip (the family's own extractor).
    ZipItem bomb{"bomb.bin", std::string(1 + 258 * 270000, '\0')};
    bomb.method = 8;
    bomb.packed = varnok::test::DeflateZeros(270000);
    std::string tgz = (tmp / "bomb.gz").string();
    {
        std::vector<uint8_t> gz{0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 3};
        for (char c : std::string("bomb.bin"))
            gz.push_back(static_cast<uint8_t>(c));
        gz.push_back(0);
        gz.insert(gz.end(), bomb.packed.begin(), bomb.packed.end());
        AppendLe32(gz, Crc32(bomb.data.data(), bomb.data.size()));
        AppendLe32(gz, static_cast<uint32_t>(bomb.data.size()));
        WriteFile(tgz, gz);
    }
    settings.MaxRatio = 100;
    for (const std::string& archive : {Zip({bomb, {"after.txt", "fine"}}), tgz}) {
        SCOPED_TRACE(archive);
        view.messages.clear();
        ASSERT_TRUE(model.Open(archive));
        model.Extractor().Run(Req(false));
        EXPECT_FALSE(platform::PathExists(out + "bomb.bin"));
        ASSERT_EQ(view.messages.size(), 1u);
        const std::string& summary = view.messages[0].second;
        EXPECT_NE(summary.find("bomb.bin"), std::string::npos) << summary;
        EXPECT_NE(summary.find("100 times their packed size"), std::string::npos) << summary;
        model.Close();
    }
    EXPECT_EQ(ReadText(out + "after.txt"), "fine");
    // Raised in the settings, the same entries come out.
    settings.MaxRatio = 1000;
    ASSERT_TRUE(model.Open(tgz));
    model.Extractor().Run(Req(false));
    EXPECT_EQ(platform::FileSizeOf(out + "bomb.bin"), 1 + 258 * 270000);
}

TEST_F(RealExtract, CancelStopsTheExtractorAndRemovesWhatItWrote) {
    std::vector<ZipItem> items;
    for (int i = 0; i < 40; ++i)
        items.push_back({"f" + std::to_string(i) + ".bin", std::string(200000, 'a' + i % 26)});
    ASSERT_TRUE(model.Open(Zip(items, "big.zip")));
    platform::ForceDirectories(out);
    WriteFile(out + "f39.bin", std::string("mine"));
    view.overwriteAnswers = {OverwriteAnswer::No};
    int events = 0;
    view.onEvents = [&] {
        if (++events == 3) model.Extractor().Cancel();
    };
    int n = model.Extractor().Run(Req(false));
    EXPECT_LT(n, 40);
    EXPECT_TRUE(model.Extractor().LastRunCancelled());
    for (int i = 0; i < 39; ++i)
        EXPECT_FALSE(platform::PathExists(out + "f" + std::to_string(i) + ".bin")) << i;
    EXPECT_EQ(ReadText(out + "f39.bin"), "mine");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_FALSE(model.Busy());
}

TEST_F(RealExtract, FolderNamesAndSkipOlder) {
    ASSERT_TRUE(model.Open(Zip({{"d1/a.txt", "from d1"}, {"d2/b.txt", "from d2"}})));
    ExtractRequest r = Req(false, true);
    r.useFolderNames = false;
    EXPECT_EQ(model.Extractor().Run(r), 2);
    EXPECT_EQ(ReadText(out + "a.txt"), "from d1");
    EXPECT_FALSE(platform::PathExists(out + "d1"));
    // Newer files on disk stay with "Skip older files", even when overwriting.
    WriteFile(out + "a.txt", std::string("newer"));
    platform::SetFileTime(out + "a.txt", 1893456000);
    WriteFile(out + "b.txt", std::string("older"));
    platform::SetFileTime(out + "b.txt", 946684800);
    r.skipOlder = true;
    EXPECT_EQ(model.Extractor().Run(r), 1);
    EXPECT_EQ(ReadText(out + "a.txt"), "newer");
    EXPECT_EQ(ReadText(out + "b.txt"), "from d2");
    EXPECT_TRUE(view.prompts.empty());
}

TEST_F(RealExtract, ListerArchivesGoThroughTheirExtractorComponent) {
    // A JAR is listed by the lister and extracted by its own extractor.
    ASSERT_TRUE(model.Open(Zip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n"},
                                {"a?.class", "q"},
                                {"ab.class", "ab"},
                                {"pkg/Main.class", "main"}},
                               "app.jar")));
    ASSERT_EQ(model.Engine(), EngineKind::Lister);
    ASSERT_EQ(model.ArcType(), atJar);
    Select("a?.class");
    Select("pkg/Main.class");
    platform::ForceDirectories(out + "pkg");
    WriteFile(out + "pkg/Main.class", std::string("old"));
    view.overwriteAnswers = {OverwriteAnswer::Yes};
    EXPECT_EQ(model.Extractor().Run(Req(true)), 2);
    EXPECT_EQ(ReadText(out + "a?.class"), "q");
    EXPECT_EQ(ReadText(out + "pkg/Main.class"), "main");
    EXPECT_FALSE(platform::PathExists(out + "ab.class"));
    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(view.prompts[0].entryName, "pkg/Main.class");

    // Cancel stops the extractor component too, and what it wrote goes again.
    std::vector<ZipItem> items;
    for (int i = 0; i < 20; ++i)
        items.push_back({"c" + std::to_string(i) + ".class", std::string(300000, 'x')});
    ASSERT_TRUE(model.Open(Zip(items, "big.jar")));
    int events = 0;
    view.onEvents = [&] {
        if (++events == 2) model.Extractor().Cancel();
    };
    std::string dest = (tmp / "jar-out").string() + "/";
    ExtractRequest r = Req(false);
    r.destination = dest;
    EXPECT_LT(model.Extractor().Run(r), 20);
    EXPECT_TRUE(model.Extractor().LastRunCancelled());
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(platform::PathExists(dest + "c" + std::to_string(i) + ".class")) << i;
}

}  // namespace
}  // namespace varnok::app
