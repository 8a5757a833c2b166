#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "app/archive_model.h"
#include "app/extract.h"
#include "app/formatting.h"
#include "app/paths.h"
#include "archive/core/bytes.h"
#include "archive/core/utils.h"
#include "platform/fileattr.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using test::RecordingView;
using varnok::test::TempDir;
using varnok::test::ZipItem;

// Sets the packed size of every central record (stored entries have packed == size otherwise).
std::vector<uint8_t> WithPackedSizes(std::vector<uint8_t> zip, const std::vector<uint32_t>& packed) {
    size_t k = 0;
    for (size_t i = 0; i + 46 <= zip.size() && k < packed.size(); ++i) {
        if (Le32(&zip[i]) == 0x02014B50) {
            PutLe32(&zip[i + 20], packed[k++]);
            i += 45;
        }
    }
    return zip;
}

class ModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        model.SetDateFormatter([](int64_t t) { return "zip:" + std::to_string(t); });
        model.SetSessionTempDir(tmp.Path().string() + "/session");
        platform::ForceDirectories(tmp.Path().string() + "/session");
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& data) {
        std::string p = (tmp / name).string();
        varnok::test::WriteFile(p, data);
        return p;
    }
    std::string StandardZip(const std::string& name = "x.zip") {
        ZipItem readme{"readme.txt", std::string(1234567, 'r')};
        ZipItem main{"src/main.c", "int main() { return 0; }\n"};
        ZipItem docs{"docs/", ""};
        docs.externalAttr = 0x10;
        ZipItem setup{"Data/Setup.EXE", "MZ"};
        setup.externalAttr = 0x21;
        return Write(name,
                     WithPackedSizes(varnok::test::BuildZip({readme, main, docs, setup}), {1000, 20, 0, 2}));
    }

    TempDir tmp;
    Settings settings;
    RecordingView view;
    ArchiveModel model{settings, view};
};

TEST(Formatting, SizesRatiosAndTotals) {
    EXPECT_EQ(GroupDigits(0), "0");
    EXPECT_EQ(GroupDigits(123), "123");
    EXPECT_EQ(GroupDigits(1234), "1.234");
    EXPECT_EQ(GroupDigits(123456), "123.456");
    EXPECT_EQ(GroupDigits(1234567), "1.234.567");
    EXPECT_EQ(UngroupDigits("1.234.567"), 1234567u);
    EXPECT_EQ(UngroupDigits("-"), 0u);
    // Kilobytes round to the nearest, ties to even.
    EXPECT_EQ(TotalsText(1, 1023, 1536), "Total 1 entry(ies), 1 KB [2 KB]");
    EXPECT_EQ(TotalsText(2, 2560, 512), "Total 2 entry(ies), 2 KB [0 KB]");
    EXPECT_EQ(SelectionText(3, 3584), "3 entry(ies) selected, 4 KB");
    EXPECT_EQ(RatioText(0, 0), "0% ");
    EXPECT_EQ(RatioText(150, 100), "0% ");
    EXPECT_EQ(RatioText(100, 100), "0% ");
    EXPECT_EQ(RatioText(25, 100), "75% ");
    EXPECT_EQ(RatioText(1, 200), "100% ");  // 99.5 rounds to the even 100
    EXPECT_EQ(RatioText(3, 200), "98% ");   // 98.5 rounds to the even 98
    EXPECT_EQ(RatioText(1, UINT64_MAX), "100% ");
    EXPECT_EQ(AttributeText(0x27), "ASHR");
    EXPECT_EQ(AttributeText(0x21), "AR");
    EXPECT_EQ(AttributeText(0x10), "");
    EXPECT_EQ(CrcText(0xABC, 8), "00000abc");
    EXPECT_EQ(CrcText(0x1234ABCD, 4), "abcd");
    EXPECT_EQ(CrcText(5, 0), "");
    EXPECT_EQ(MegabytesText(12 * 1048576 + 524288), "12.50");
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(ListerDateText(1600000000), "13.09.2020 12:26");
}

TEST_F(ModelTest, ZipRowsShowTheNineColumns) {
    std::string path = StandardZip();
    ASSERT_TRUE(model.Open(path));
    EXPECT_TRUE(model.IsOpen());
    EXPECT_EQ(model.Engine(), EngineKind::ZipBridge);
    ASSERT_EQ(model.RowCount(), 3);  // the folder entry is not listed
    EXPECT_EQ(model.Text(0, colName), "readme.txt");
    EXPECT_EQ(model.Text(0, colType), "TXT File");
    EXPECT_EQ(model.Text(0, colSize), "1.234.567");
    EXPECT_EQ(model.Text(0, colPacked), "1.000");
    EXPECT_EQ(model.Text(0, colRatio), "100% ");
    EXPECT_EQ(model.Text(0, colPath), "");
    EXPECT_EQ(model.Text(0, colCrc).size(), 8u);
    EXPECT_EQ(model.Text(0, colAttributes), "A");
    EXPECT_EQ(model.Text(1, colName), "main.c");
    EXPECT_EQ(model.Text(1, colPath), "src/");
    EXPECT_EQ(model.Text(1, colType), "C File");
    EXPECT_EQ(model.Text(1, colRatio), "20% ");
    EXPECT_EQ(model.Text(2, colName), "Setup.EXE");
    EXPECT_EQ(model.Text(2, colAttributes), "AR");
    EXPECT_EQ(model.Text(2, colRatio), "0% ");
    EXPECT_EQ(model.Text(1, colDate),
              "zip:" + std::to_string(DosToUnixTime((44u << 25) | (1u << 21) | (2u << 16) | (3u << 11) |
                                                    (4u << 5) | 5u)));
    // Totals, title, status, history.
    EXPECT_EQ(model.TotalsStatus(), TotalsText(3, 1234567 + 25 + 2, 1000 + 20 + 2));
    EXPECT_EQ(view.status[2], model.TotalsStatus());
    EXPECT_EQ(view.title, "Varnok - x.zip");
    EXPECT_EQ(view.status[0], path);
    EXPECT_EQ(view.panels, 3);
    EXPECT_EQ(settings.OpenHistory.Slots()[0], path);
    EXPECT_EQ(settings.Open, tmp.Path().string() + "/");
    // Setup.EXE in a subfolder is the install entry.
    EXPECT_TRUE(view.installVisible);
    EXPECT_EQ(model.InstallRow(), "Data/Setup.EXE");
    EXPECT_EQ(model.QuickExtractFolderNamed(), tmp.Path().string() + "/x/");
    EXPECT_EQ(model.QuickExtractFolderHere(), tmp.Path().string() + "/");
}

TEST_F(ModelTest, RowTimesAreTheEntriesLocalTimes) {
    // A zone with daylight saving, on the day it starts (31 March 2024 in Berlin).
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const uint32_t day = (44u << 25) | (3u << 21) | (31u << 16);
    const std::vector<uint32_t> times = {day | (1u << 11) | (5u << 5) | 7u,
                                         day | (10u << 11) | (59u << 5) | 29u,
                                         day | (15u << 11),
                                         (44u << 25) | (2u << 21) | (30u << 16),
                                         day | (10u << 11) | (61u << 5),
                                         0u,
                                         (44u << 25) | (2u << 21) | (30u << 16) | (1u << 5)};
    std::vector<ZipItem> items;
    for (size_t i = 0; i < times.size(); ++i)
        items.push_back({"f" + std::to_string(i), "x"});
    auto zip = varnok::test::BuildZip(items);
    size_t k = 0;
    for (size_t i = 0; i + 46 <= zip.size() && k < times.size(); ++i)
        if (Le32(&zip[i]) == 0x02014B50) PutLe32(&zip[i + 12], times[k++]);
    ASSERT_TRUE(model.Open(Write("times.zip", zip)));
    ASSERT_EQ(model.RowCount(), static_cast<int>(times.size()));
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(model.Row(static_cast<int>(i)).time, DosToUnixTime(times[i])) << i;
    EXPECT_EQ(model.Row(2).time - model.Row(0).time, 13 * 3600 - 5 * 60 - 14);
    setenv("TZ", "UTC", 1);
    tzset();
}

TEST_F(ModelTest, DirectoryEntriesAreRowsWhenTheSettingSaysSo) {
    settings.ShowDirEntry = true;
    ASSERT_TRUE(model.Open(StandardZip()));
    ASSERT_EQ(model.RowCount(), 4);
    EXPECT_EQ(model.Text(2, colName), "docs/");
    EXPECT_EQ(model.Text(2, colType), "Directory");
    for (int c : {colSize, colPacked, colRatio, colPath, colCrc, colAttributes})
        EXPECT_EQ(model.Text(2, c), "-");
    EXPECT_EQ(model.Text(2, colDate).substr(0, 4), "zip:");
    EXPECT_EQ(model.TotalCount(), 4u);
    // The selection text shows for ZIP archives that list their folders.
    model.SetSelected(0, true);
    model.SetSelected(2, true);
    EXPECT_EQ(view.status[1], SelectionText(2, 1234567));
    model.SetRangeSelected(0, 3, true);
    EXPECT_EQ(model.SelectionSum(), 1234567u + 25 + 2);
    EXPECT_EQ(view.status[1], SelectionText(4, 1234567 + 25 + 2));
    model.SetSelected(0, false);
    EXPECT_EQ(model.SelectionSum(), 27u);
}

TEST_F(ModelTest, SelectionTotalsAndInversion) {
    ASSERT_TRUE(model.Open(StandardZip()));
    EXPECT_FALSE(model.Enabled(Cmd::CloseArchive) == false);
    model.SetSelected(1, true);
    model.SetSelected(1, true);  // already selected: counted once
    EXPECT_EQ(model.SelectionCount(), 1);
    EXPECT_EQ(model.SelectionSum(), 25u);
    // Without listed folders the panel stays empty.
    EXPECT_EQ(view.status[1], "");
    EXPECT_TRUE(model.State().anySelected);
    model.InvertSelection();
    EXPECT_EQ(model.SelectedRows(), (std::vector<int>{0, 2}));
    EXPECT_EQ(model.SelectionSum(), 1234567u + 2);
    model.SelectAll();
    EXPECT_EQ(model.SelectionCount(), 3);
    model.UnselectAll();
    EXPECT_EQ(model.SelectionCount(), 0);
    EXPECT_EQ(model.SelectionSum(), 0u);
    EXPECT_FALSE(model.State().anySelected);
    EXPECT_EQ(view.selectionResets, 3);
    model.SetRangeSelected(-5, 100, true);
    EXPECT_EQ(model.SelectionCount(), 3);
}

TEST_F(ModelTest, SortingFlipsOneDirectionFlagForAllColumns) {
    std::vector<ZipItem> items;
    for (auto [n, size] : std::vector<std::pair<std::string, int>>{
             {"b.txt", 30}, {"a.txt", 10}, {"C.txt", 20}, {"empty.txt", 0}, {"d/", 0}}) {
        ZipItem it{n, std::string(static_cast<size_t>(size), 'x')};
        if (n.back() == '/') it.externalAttr = 0x10;
        items.push_back(it);
    }
    settings.ShowDirEntry = true;
    ASSERT_TRUE(model.Open(Write("s.zip", varnok::test::BuildZip(items))));
    auto names = [&] {
        std::vector<std::string> v;
        for (int i = 0; i < model.RowCount(); ++i)
            v.push_back(model.Row(i).name);
        return v;
    };
    model.SetSelected(0, true);  // b.txt
    model.SortByColumn(colSize);
    // The directory row (size "-") sorts with the empty file.
    EXPECT_EQ(names(), (std::vector<std::string>{"empty.txt", "d/", "a.txt", "C.txt", "b.txt"}));
    EXPECT_FALSE(model.SortedDescending());
    // The selection travels with its row.
    EXPECT_TRUE(model.IsSelected(4));
    EXPECT_EQ(model.SelectionCount(), 1);
    model.SortByColumn(colSize);
    EXPECT_TRUE(model.SortedDescending());
    EXPECT_EQ(names().front(), "b.txt");
    // Name then Size: ascending sizes. Byte-wise names: upper case before lower case.
    model.SortByColumn(colName);
    EXPECT_FALSE(model.SortedDescending());
    EXPECT_EQ(names(), (std::vector<std::string>{"C.txt", "a.txt", "b.txt", "d/", "empty.txt"}));
    // The one flag: after Name, Size sorts ascending twice and descending on the third click.
    model.SortByColumn(colSize);
    EXPECT_FALSE(model.SortedDescending());
    EXPECT_EQ(names().back(), "b.txt");
    model.SortByColumn(colSize);
    EXPECT_FALSE(model.SortedDescending());
    model.SortByColumn(colSize);
    EXPECT_TRUE(model.SortedDescending());
    EXPECT_EQ(model.SortColumn(), colSize);
    EXPECT_EQ(view.sorts, 6);
    // Every column sorts; Type puts "Directory" among the descriptions by text.
    for (int c = 0; c < kColumnCount; ++c)
        model.SortByColumn(c);
    EXPECT_EQ(model.RowCount(), 5);
    EXPECT_EQ(model.SelectionCount(), 1);
}

TEST_F(ModelTest, SortByTextColumnsComparesTheShownTexts) {
    std::vector<ZipItem> items = {
        {"z/one.txt", "a"}, {"a/two.c", "bb"}, {"m/three.TXT", "ccc"}, {"four", "dddd"}};
    items[1].externalAttr = 0x21;
    items[3].externalAttr = 0x00;
    ASSERT_TRUE(model.Open(Write("t.zip", varnok::test::BuildZip(items))));
    model.SortByColumn(colPath);
    EXPECT_EQ(model.Row(0).folder, "");
    EXPECT_EQ(model.Row(1).folder, "a/");
    EXPECT_EQ(model.Row(3).folder, "z/");
    model.SortByColumn(colType);  // flag set, other column: ascending
    EXPECT_FALSE(model.SortedDescending());
    std::vector<std::string> types;
    for (int i = 0; i < 4; ++i)
        types.push_back(model.Text(i, colType));
    EXPECT_EQ(types, (std::vector<std::string>{"C File", "File", "TXT File", "TXT File"}));
    model.SortByColumn(colAttributes);
    EXPECT_EQ(model.Text(0, colAttributes), "");
    EXPECT_EQ(model.Text(3, colAttributes), "AR");
}

TEST_F(ModelTest, TypeDescriptionsAreLookedUpOncePerExtension) {
    int calls = 0;
    model.SetTypeDescriber([&](const std::string& ext) {
        ++calls;
        return ext == ".txt" ? std::string("Plain text document") : std::string();
    });
    std::vector<ZipItem> items = {{"a.txt", ""}, {"b.TXT", ""}, {"c.txt", ""}, {"d.bin", ""}};
    ASSERT_TRUE(model.Open(Write("d.zip", varnok::test::BuildZip(items))));
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 3; ++k)
            model.Text(r, colType);
    EXPECT_EQ(model.Text(1, colType), "Plain text document");
    EXPECT_EQ(model.Text(3, colType), "BIN File");
    EXPECT_EQ(calls, 2);
}

TEST_F(ModelTest, EnginesAreChosenByContentNotByExtension) {
    ASSERT_TRUE(model.Open(StandardZip("game.pk3")));
    EXPECT_EQ(model.Engine(), EngineKind::ZipBridge);
    EXPECT_EQ(model.RowCount(), 3);

    // A ZIP appended to a program: the bridge serves it, and it is a program.
    varnok::test::ZipOptions opt;
    opt.prefix = "MZ" + std::string(3000, '\x01');
    ASSERT_TRUE(model.Open(Write("setup.exe", varnok::test::BuildZip({{"a.txt", "hello"}}, opt))));
    EXPECT_EQ(model.Engine(), EngineKind::ZipBridge);
    EXPECT_TRUE(model.IsExecutable());
    EXPECT_EQ(model.RowCount(), 1);
    EXPECT_TRUE(GroupAllows(CmdGroup::ExeToZip, model.State()));
    EXPECT_FALSE(GroupAllows(CmdGroup::MakeExe, model.State()));

    ASSERT_TRUE(model.Open(Write("data.tar", varnok::test::BuildTar({{"a.txt", "1"}, {"dir/b.txt", "22"}}))));
    EXPECT_EQ(model.Engine(), EngineKind::Lister);
    EXPECT_EQ(model.ArcType(), atTar);
    ASSERT_EQ(model.RowCount(), 2);
    EXPECT_EQ(model.Text(1, colPath), "dir/");
    EXPECT_EQ(model.Text(1, colDate), "13.09.2020 12:26");
    EXPECT_EQ(model.Text(1, colCrc).size(), 8u);
    EXPECT_EQ(view.status[2], TotalsText(2, 3, 3));
    EXPECT_TRUE(GroupAllows(CmdGroup::Writing, model.State()));
    EXPECT_FALSE(GroupAllows(CmdGroup::ZipOnly, model.State()));
    EXPECT_TRUE(model.Enabled(Cmd::Extract));
    EXPECT_EQ(view.title, "Varnok - data.tar");
}

TEST_F(ModelTest, NothingElseStartsWhileAnArchiveIsListed) {
    int pumped = 0;
    bool blocked = true;
    view.onEvents = [&] {
        ++pumped;
        blocked = blocked && model.Busy() && !model.Enabled(Cmd::OpenArchive) &&
                  !model.Enabled(Cmd::Extract) && view.busy;
    };
    ASSERT_TRUE(model.Open(Write("l.tar", varnok::test::BuildTar({{"a", "1"}, {"b", "2"}, {"c", "3"}}))));
    EXPECT_GT(pumped, 0);
    EXPECT_TRUE(blocked);
    EXPECT_FALSE(model.Busy());
    EXPECT_FALSE(view.busy);
    EXPECT_TRUE(model.Enabled(Cmd::OpenArchive));
}

TEST_F(ModelTest, AnUnrecognisedFileIsOpenWithoutRows) {
    std::string p = Write("notes.txt", std::vector<uint8_t>(100, 'n'));
    ASSERT_TRUE(model.Open(p));
    EXPECT_TRUE(model.IsOpen());
    EXPECT_EQ(model.RowCount(), 0);
    EXPECT_EQ(model.Engine(), EngineKind::Lister);
    EXPECT_TRUE(model.Enabled(Cmd::Extract));
    EXPECT_TRUE(model.Enabled(Cmd::CloseArchive));
    EXPECT_FALSE(GroupAllows(CmdGroup::Writing, model.State()));
    EXPECT_FALSE(view.logs.empty());  // the lister's complaint reaches the log
    EXPECT_FALSE(model.Open(""));
}

TEST_F(ModelTest, AnInvalidZipIsClosedWhenTheUserSaysSo) {
    // Local headers without a directory: identified as ZIP, but the bridge finds no end record.
    auto zip = varnok::test::BuildZip({{"a.txt", "hello"}, {"b.txt", "world"}});
    size_t cut = 0;
    for (size_t i = 0; i + 4 <= zip.size(); ++i)
        if (Le32(&zip[i]) == 0x02014B50) {
            cut = i;
            break;
        }
    ASSERT_GT(cut, 0u);
    zip.resize(cut);
    std::string p = Write("broken.zip", zip);
    view.askAnswers = {true};
    ASSERT_TRUE(model.Open(p));
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0],
              (std::pair<std::string, std::string>{
                  "Error", "This archive is invalid. Do you want Varnok trying to fix it ?"}));
    EXPECT_FALSE(model.IsOpen());
    EXPECT_EQ(view.title, "Varnok");
    // The bridge showed its own message and logged it.
    ASSERT_FALSE(view.messages.empty());
    EXPECT_EQ(view.messages.back().second, "This archive is not a valid Zip archive");
    EXPECT_NE(std::find(view.logs.begin(), view.logs.end(), "This archive is not a valid Zip archive"),
              view.logs.end());

    view.askAnswers = {false};
    ASSERT_TRUE(model.Open(p));
    EXPECT_TRUE(model.IsOpen());
    EXPECT_EQ(model.RowCount(), 0);
    EXPECT_EQ(view.title, "Varnok - broken.zip");
}

TEST_F(ModelTest, ClosingResetsEverythingAndDeletesViewedFiles) {
    ASSERT_TRUE(model.Open(StandardZip()));
    std::string viewed = (tmp / "viewed.txt").string();
    varnok::test::WriteFile(viewed, "x");
    model.AddViewFile(viewed);
    model.SetSelected(0, true);
    model.SortByColumn(colName);
    model.Close();
    EXPECT_FALSE(platform::PathExists(viewed));
    EXPECT_FALSE(model.IsOpen());
    EXPECT_EQ(model.RowCount(), 0);
    EXPECT_EQ(model.SelectionSum(), 0u);
    EXPECT_EQ(model.SortColumn(), -1);
    EXPECT_EQ(view.title, "Varnok");
    EXPECT_EQ(view.status[0], "Ready");
    EXPECT_EQ(view.panels, 1);
    EXPECT_FALSE(view.installVisible);
    EXPECT_TRUE(model.InstallRow().empty());
    EXPECT_EQ(model.Engine(), EngineKind::None);
    for (const auto& c : AllCommands()) {
        if (c.group != CmdGroup::Always) {
            EXPECT_FALSE(model.Enabled(c.id)) << c.caption;
        }
    }
    EXPECT_TRUE(model.Enabled(Cmd::OpenArchive));
    EXPECT_TRUE(model.ViewFiles().empty());
}

TEST_F(ModelTest, ReopeningKeepsHistoryOrderAndASixthArchiveDropsTheOldest) {
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i)
        paths.push_back(Write("h" + std::to_string(i) + ".zip", varnok::test::BuildZip({{"a", "b"}})));
    for (int i = 0; i < 5; ++i)
        model.Open(paths[static_cast<size_t>(i)]);
    model.Open(paths[1]);
    EXPECT_EQ(settings.OpenHistory.Slots()[0], paths[4]);
    model.Open(paths[5]);
    EXPECT_EQ(settings.OpenHistory.Slots()[0], paths[5]);
    EXPECT_EQ(settings.OpenHistory.Slots()[4], paths[1]);
    IniFile ini((tmp / "varnok.ini").string());
    model.SetSettingsFile(&ini);
    model.Open(paths[0]);
    IniFile saved((tmp / "varnok.ini").string());
    EXPECT_EQ(saved.ReadString("History", "Open1", ""), paths[0]);
}

TEST(Commands, GroupsFollowTheArchiveKind) {
    CommandState closed;
    CommandState zip{true, true, false, true, false, false, false};
    CommandState tar{true, false, false, true, false, false, false};
    CommandState arj{true, false, false, false, false, false, false};
    EXPECT_FALSE(GroupAllows(CmdGroup::OpenArchive, closed));
    EXPECT_TRUE(GroupAllows(CmdGroup::Always, closed));
    EXPECT_TRUE(GroupAllows(CmdGroup::ZipOnly, zip));
    EXPECT_TRUE(GroupAllows(CmdGroup::MakeExe, zip));
    EXPECT_FALSE(GroupAllows(CmdGroup::ExeToZip, zip));
    EXPECT_FALSE(GroupAllows(CmdGroup::ZipOnly, tar));
    EXPECT_TRUE(GroupAllows(CmdGroup::Writing, tar));
    EXPECT_FALSE(GroupAllows(CmdGroup::Writing, arj));
    EXPECT_TRUE(GroupAllows(CmdGroup::ArchiveFile, arj));
    EXPECT_FALSE(GroupAllows(CmdGroup::Selection, zip));
    zip.anySelected = true;
    EXPECT_TRUE(GroupAllows(CmdGroup::Selection, zip));
    // Present commands follow their group; absent ones are always off; nothing runs while busy.
    EXPECT_TRUE(CommandEnabled(Cmd::Extract, zip));
    for (const auto& info : AllCommands()) {
        if (!info.present) {
            EXPECT_FALSE(CommandEnabled(info.id, zip)) << info.caption;
        }
    }
    zip.busy = true;
    EXPECT_FALSE(CommandEnabled(Cmd::Extract, zip));
    EXPECT_FALSE(CommandEnabled(Cmd::OpenArchive, zip));
    EXPECT_TRUE(CommandEnabled(Cmd::ViewLog, zip));
    // The table is in enumeration order and every command has a caption.
    for (size_t i = 0; i < AllCommands().size(); ++i) {
        EXPECT_EQ(static_cast<size_t>(AllCommands()[i].id), i);
        EXPECT_NE(std::string(AllCommands()[i].caption), "");
    }
    EXPECT_EQ(AllCommands().size(), static_cast<size_t>(Cmd::Count));
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(ColumnOfSortCommand(SortCommandOf(c)), c);
    EXPECT_EQ(ColumnOfSortCommand(Cmd::Extract), -1);
    EXPECT_STREQ(Info(Cmd::SortByPacked).caption, "by Compressed Size");
}

}  // namespace
}  // namespace varnok::app
