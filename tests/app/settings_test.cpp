#include <gtest/gtest.h>

#include "app/ini_file.h"
#include "app/paths.h"
#include "app/placement.h"
#include "app/settings.h"
#include "platform/fileattr.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using varnok::test::TempDir;

TEST(IniFile, ReadsSectionsAndKeysIgnoringCaseAndKeepsTheRestOfTheFile) {
    IniFile ini;
    ini.Parse("; top comment\n[Settings]\nOpenLast=0\n# note\nView = 3 \n\n[visual]\nRowSelect=1\r\n");
    EXPECT_EQ(ini.ReadString("settings", "openlast", "x"), "0");
    EXPECT_EQ(ini.ReadString("Settings", "View", "x"), "3");
    EXPECT_EQ(ini.ReadInteger("Settings", "View", 0), 3);
    EXPECT_TRUE(ini.ReadFlag("Visual", "RowSelect", false));
    EXPECT_EQ(ini.ReadString("Visual", "Missing", "def"), "def");
    ini.WriteString("Settings", "ViewProg", "/usr/bin/less");
    ini.WriteString("New", "Key", "v");
    EXPECT_EQ(ini.Text(),
              "; top comment\n[Settings]\nOpenLast=0\n# note\nView=3\nViewProg=/usr/bin/less\n\n[visual]\n"
              "RowSelect=1\n[New]\nKey=v\n");
}

TEST(IniFile, NumbersFlagsAndBooleansFallBackAsTheirTypesSay) {
    IniFile ini;
    ini.Parse("[s]\nflag=yes\nbool=yes\nint=12x\nneg=-4\nzero=0\nfloat=45123,5\n");
    // A flag that is not a number counts as 0; booleans and integers that are not numbers take the default.
    EXPECT_FALSE(ini.ReadFlag("s", "flag", true));
    EXPECT_TRUE(ini.ReadBool("s", "bool", true));
    EXPECT_FALSE(ini.ReadBool("s", "bool", false));
    EXPECT_EQ(ini.ReadInteger("s", "int", 7), 7);
    EXPECT_EQ(ini.ReadInteger("s", "neg", 7), -4);
    EXPECT_FALSE(ini.ReadBool("s", "zero", true));
    EXPECT_DOUBLE_EQ(ini.ReadFloat("s", "float", 0), 45123.5);
    EXPECT_TRUE(ini.ReadFlag("s", "absent", true));
}

TEST(IniFile, FlushWritesAtomicallyAndReloadsWhatWasWritten) {
    TempDir d;
    std::string path = (d / "sub/dir/varnok.ini").string();
    IniFile ini(path);
    EXPECT_FALSE(ini.Dirty());
    ini.WriteString("History", "Open1", "/a/b.zip");
    ini.WriteInteger("Position", "width", 800);
    ini.WriteString("Mail", "MailName", "two\nlines");
    ASSERT_TRUE(ini.Flush());
    EXPECT_FALSE(ini.Dirty());
    IniFile again(path);
    EXPECT_EQ(again.ReadString("History", "Open1", ""), "/a/b.zip");
    EXPECT_EQ(again.ReadInteger("Position", "width", 0), 800);
    EXPECT_EQ(again.ReadString("Mail", "MailName", ""), "two lines");
    // Writing the same value again changes nothing.
    again.WriteInteger("Position", "width", 800);
    EXPECT_FALSE(again.Dirty());
    again.EraseSection("history");
    EXPECT_FALSE(again.HasSection("History"));
    // Only the settings file is left in its folder (no temporary files).
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(d / "sub/dir"))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST(Settings, AFreshStartHasTheWrittenDefaults) {
    IniFile empty;
    Settings s;
    s.Load(empty);
    EXPECT_EQ(s.Width, kDefaultWindowWidth);
    EXPECT_EQ(s.Height, kDefaultWindowHeight);
    EXPECT_FALSE(s.Maximized);
    EXPECT_FALSE(s.HasPosition);
    EXPECT_EQ(s.Docked, "vnDockTop");
    EXPECT_TRUE(s.tbToolTips);
    EXPECT_TRUE(s.tbFlat);
    EXPECT_FALSE(s.tbShowText);
    EXPECT_EQ(s.tbVisible, 1);
    EXPECT_EQ(s.sbVisible, 1);
    EXPECT_EQ(s.tbLogVisible, 1);
    EXPECT_EQ(s.LogHeight(false), 66);
    EXPECT_EQ(s.LogHeight(true), 87);
    for (int i = 0; i < kColumnCount; ++i) {
        EXPECT_EQ(s.Columns[i].width, kDefaultColumnWidthMarker);
        EXPECT_EQ(s.Columns[i].index, i);
        EXPECT_EQ(s.ColumnWidth(i), kDefaultColumnWidths[i]);
    }
    EXPECT_EQ(s.zipCR, 4);
    EXPECT_EQ(s.Compression().zipAddCompLevel, 9);
    EXPECT_TRUE(s.OpenLast && s.ExtractLast && s.SysTemp && s.optZipDirs && s.optOverwrite && s.optUpdate);
    EXPECT_EQ(s.View, "2");
    EXPECT_EQ(s.Open, DefaultRootFolder());
    EXPECT_EQ(s.Extract, DefaultRootFolder());
    EXPECT_EQ(s.TempFolder(), DefaultTempFolder());
    EXPECT_TRUE(s.Associate);
    EXPECT_FALSE(s.NoDialog);
    EXPECT_EQ(s.ProxyPortNumber(), 80);
    EXPECT_DOUBLE_EQ(s.LastCheck, 0);
    EXPECT_EQ(s.MaxRatio, 1000000u);
    EXPECT_EQ(s.MaxSizeMiB, 0u);
}

TEST(Settings, BombLimitsAreKeptAndANegativeValueIsTheDefault) {
    IniFile ini;
    ini.Parse("[Settings]\nMaxRatio=0\nMaxSizeMiB=4096\n");
    Settings s;
    s.Load(ini);
    EXPECT_EQ(s.MaxRatio, 0u);  // no limit, as asked
    EXPECT_EQ(s.MaxSizeMiB, 4096u);
    IniFile out;
    s.SaveAtExit(out);
    Settings back;
    back.Load(out);
    EXPECT_EQ(back.MaxRatio, 0u);
    EXPECT_EQ(back.MaxSizeMiB, 4096u);
    IniFile bad;
    bad.Parse("[Settings]\nMaxRatio=-5\nMaxSizeMiB=lots\n");
    Settings d;
    d.Load(bad);
    EXPECT_EQ(d.MaxRatio, 1000000u);
    EXPECT_EQ(d.MaxSizeMiB, 0u);
}

TEST(Settings, ReadsStoredValuesAndWritesThemBackAtExit) {
    IniFile ini;
    ini.Parse(
        "[Settings]\nSysTemp=0\noptOverwrite=0\n[Directories]\nTemp=/var/tmp\nOpen=C:\\\nExtract=/srv/out\n"
        "[ZipList]\nSize=0,4\nPath=300,1\nCRC=garbage\n[Position]\nx=10\ny=20\nwidth=900\nmaximized=1\n"
        "[AutoUpd]\nProxyPort=eighty\n[Toolbar]\nDocked=\n[Log]\ntbLogVisible=3\ntbLogHeight=120\n");
    Settings s;
    s.Load(ini);
    EXPECT_FALSE(s.SysTemp);
    EXPECT_EQ(s.TempFolder(), "/var/tmp/");
    EXPECT_FALSE(s.optOverwrite);
    EXPECT_EQ(s.Open, DefaultRootFolder());  // a classic drive root stands for the home folder
    EXPECT_EQ(s.Extract, "/srv/out/");
    EXPECT_EQ(s.Columns[2].width, 0);
    EXPECT_EQ(s.Columns[2].index, 4);
    EXPECT_EQ(s.ColumnWidth(6), 300);
    EXPECT_EQ(s.Columns[7].width, kDefaultColumnWidthMarker);
    EXPECT_EQ(s.Columns[7].index, 7);
    EXPECT_TRUE(s.HasPosition);
    EXPECT_EQ(s.X, 10);
    EXPECT_EQ(s.Width, 900);
    EXPECT_EQ(s.Height, kDefaultWindowHeight);
    EXPECT_TRUE(s.Maximized);
    EXPECT_EQ(s.ProxyPortNumber(), 80);
    EXPECT_EQ(s.Docked, "");
    EXPECT_EQ(s.LogHeight(true), 120);

    IniFile out;
    s.SaveAtExit(out);
    Settings back;
    back.Load(out);
    EXPECT_FALSE(back.SysTemp);
    EXPECT_EQ(back.Temp, "/var/tmp/");
    EXPECT_EQ(back.Columns[2].width, 0);
    EXPECT_EQ(back.Columns[2].index, 4);
    EXPECT_EQ(out.ReadString("ZipList", "Name", ""), "65535,0");
    EXPECT_EQ(back.Width, 900);
    EXPECT_TRUE(back.Maximized);
    EXPECT_EQ(back.Docked, "");
    EXPECT_EQ(back.tbLogVisible, 3);
    EXPECT_EQ(out.ReadString("Toolbar", "LogVisible", ""), "1");
    EXPECT_EQ(out.ReadString("Settings", "optOverwrite", ""), "0");
}

TEST(History, PushKeepsFiveNewestFirstAndDoesNotReorderKnownEntries) {
    History h;
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(h.Push("/a" + std::to_string(i) + ".zip"));
    EXPECT_EQ(h.Slots()[0], "/a5.zip");
    EXPECT_FALSE(h.Push("/a2.zip"));
    EXPECT_EQ(h.Slots()[0], "/a5.zip");
    EXPECT_EQ(h.Slots()[3], "/a2.zip");
    EXPECT_TRUE(h.Push("/a6.zip"));
    EXPECT_EQ(h.Slots()[0], "/a6.zip");
    EXPECT_EQ(h.Slots()[4], "/a2.zip");  // /a1.zip dropped out
    EXPECT_FALSE(h.Push(""));

    Settings s;
    s.OpenHistory = h;
    s.ExtractHistory.Push("/out/");
    IniFile ini;
    ini.Parse("[History]\nOpen9=stale\n");
    s.SaveHistory(ini);
    EXPECT_FALSE(ini.HasKey("History", "Open9"));
    EXPECT_EQ(ini.ReadString("History", "Open1", ""), "/a6.zip");
    EXPECT_EQ(ini.ReadString("History", "Ext1", ""), "/out/");
    EXPECT_EQ(ini.ReadString("History", "Ext2", "x"), "");
}

TEST(Settings, CompressionKeysMapToLevelsAndMethods) {
    const int levels[] = {0, 3, 5, 7, 9};
    for (int cr = 0; cr <= 4; ++cr) {
        auto d = CompressionFromKeys(cr, 2, 1, 1);
        EXPECT_EQ(d.zipAddCompLevel, levels[cr]);
        EXPECT_EQ(d.bhJarMethod, cr == 0 ? WriterMethod::Store : WriterMethod::Deflate);
    }
    EXPECT_EQ(CompressionFromKeys(1, 0, 0, 0).bhJarDeflate, DeflateType::S);
    EXPECT_EQ(CompressionFromKeys(4, 0, 0, 0).bhJarDeflate, DeflateType::X);
    EXPECT_EQ(CompressionFromKeys(4, 0, 0, 0).cabMethod, WriterMethod::Store);
    EXPECT_EQ(CompressionFromKeys(4, 1, 0, 0).cabMethod, WriterMethod::Lzx);
    EXPECT_EQ(CompressionFromKeys(4, 3, 0, 0).cabMethod, WriterMethod::Quantum);
    EXPECT_EQ(CompressionFromKeys(4, 3, 0, 0).lhaMethod, WriterMethod::Store);
    EXPECT_EQ(CompressionFromKeys(4, 3, 1, 0).tarMethod, WriterMethod::Tarred);
    // Out of range: that writer keeps its method.
    auto bad = CompressionFromKeys(7, 9, -1, 2);
    EXPECT_EQ(bad.bhJarMethod, WriterMethod::Unchanged);
    EXPECT_EQ(bad.cabMethod, WriterMethod::Unchanged);
    EXPECT_EQ(bad.lhaMethod, WriterMethod::Unchanged);
    EXPECT_EQ(bad.tarMethod, WriterMethod::Unchanged);
}

TEST(SettingsStore, LocalIniRedirectsToTheFolderOfIniPathAndCreatesIt) {
    TempDir d;
    std::string base = (d / "config").string();
    {
        IniFile b(base + "/varnok.ini");
        b.WriteString("Settings", "LocalIni", "1");
        b.WriteString("Settings", "IniPath", (d / "cfg/deep/x.ini").string());
        ASSERT_TRUE(b.Flush());
    }
    SettingsStore store(base);
    store.Open();
    EXPECT_TRUE(store.Relocated());
    EXPECT_EQ(store.Ini().Path(), (d / "cfg/deep/varnok.ini").string());
    EXPECT_TRUE(platform::DirectoryExists((d / "cfg/deep").string()));
    store.Ini().WriteString("Visual", "GridLines", "1");
    ASSERT_TRUE(store.Ini().Flush());
    // The normal file keeps only the redirect.
    IniFile b(base + "/varnok.ini");
    EXPECT_FALSE(b.HasSection("Visual"));

    // Back to the program's folder: the normal file is used again and says so.
    ASSERT_TRUE(store.Switch(SettingsStore::Location::ProgramFolder, "/somewhere/x.ini"));
    EXPECT_FALSE(store.Relocated());
    IniFile b2(base + "/varnok.ini");
    EXPECT_EQ(b2.ReadString("Settings", "LocalIni", ""), "0");
    EXPECT_EQ(b2.ReadString("Settings", "IniPath", ""), "/somewhere/x.ini");

    ASSERT_TRUE(store.Switch(SettingsStore::Location::Extra, (d / "other/y.ini").string()));
    EXPECT_EQ(store.Ini().Path(), (d / "other/varnok.ini").string());
    IniFile b3(base + "/varnok.ini");
    EXPECT_TRUE(b3.ReadBool("Settings", "LocalIni", false));
}

TEST(Placement, TheWindowIsFittedToTheScreen) {
    WindowRect r = FitToScreen({300, 100, 2000, 522}, 1024, 768);
    EXPECT_EQ(r.width, 1024);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 100);
    r = FitToScreen({900, 700, 671, 522}, 1280, 1024);
    EXPECT_EQ(r.x, 1280 - 671);
    EXPECT_EQ(r.y, 1024 - 522);
    r = FitToScreen({-50, -10, 671, 522}, 1280, 1024);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 0);
    r = FitToScreen({10, 10, 671, 2000}, 1280, 1024);
    EXPECT_EQ(r.height, 1024);
    EXPECT_EQ(r.y, 0);
}

TEST(Placement, PanelsLogHeightAndDocks) {
    EXPECT_EQ(StatusPanelWidths(1000), (std::array<int, 2>{360, 270}));
    EXPECT_EQ(StatusPanelWidths(671), (std::array<int, 2>{242, 181}));
    EXPECT_EQ(DockedLogHeight(66, 30), 44);
    EXPECT_EQ(DockedLogHeight(10, 30), 30);
    // The stored height gives back the same pane height at the next start.
    for (int h : {30, 44, 200})
        EXPECT_EQ(DockedLogHeight(StoredLogHeight(h, false), 30), h);
    EXPECT_EQ(StoredLogHeight(87, true), 87);
    for (Dock dk : {Dock::Top, Dock::Bottom, Dock::Left, Dock::Right, Dock::Floating})
        EXPECT_EQ(DockOfName(NameOfDock(dk)), dk);
    EXPECT_EQ(DockOfName("vnDockSomewhere"), Dock::Top);
    EXPECT_TRUE(LogVisibleOf(3) && LogFloatingOf(3) && !LogVisibleOf(2) && !LogFloatingOf(1));
    EXPECT_EQ(LogStateOf(true, false), 1);
    EXPECT_EQ(LogStateOf(false, true), 2);
}

TEST(Paths, ClassicFoldersBecomeFoldersOfThisSystem) {
    EXPECT_EQ(NativeFolder("C:\\"), DefaultRootFolder());
    EXPECT_EQ(NativeFolder("c:"), DefaultRootFolder());
    EXPECT_EQ(NativeFolder("C:\\Temp"), DefaultTempFolder());
    EXPECT_EQ(NativeFolder("D:\\cfg\\x.ini"), DefaultRootFolder() + "cfg/x.ini");
    EXPECT_EQ(NativeFolder("/srv/data/"), "/srv/data/");
    EXPECT_EQ(WithoutExtension("/a/b.tar.gz"), "/a/b.tar");
    EXPECT_EQ(ExtensionOf("/a.b/c"), "");
    EXPECT_EQ(ParentFolder("/a/b/c.zip"), "/a/b/");
    EXPECT_EQ(FileNameOf("docs/"), "");
}

}  // namespace
}  // namespace varnok::app
