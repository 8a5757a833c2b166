// The Preferences model without a display: what OK changes and in which order, what Cancel still writes,
// the file associations and file-manager actions it leaves behind, and that every page reads back the same
// after the program has ended and started again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/preferences.h"
#include "app/paths.h"
#include "platform/fileattr.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

namespace fs = std::filesystem;
using varnok::test::TempDir;

// The window side of OK, recorded; it starts as the main window does, from the settings.
class FakeWindow : public PreferencesWindow {
  public:
    bool toolbar = true, statusbar = true;
    std::array<int, kColumnCount> widths{};
    std::optional<ListLook> look;
    std::vector<std::string> calls;
    std::function<void()> onReread;

    explicit FakeWindow(const Settings& s) {
        toolbar = s.tbVisible != 0;
        statusbar = s.sbVisible != 0;
        for (int c = 0; c < kColumnCount; ++c)
            widths[static_cast<size_t>(c)] = s.ColumnWidth(c);
    }
    bool ToolbarShown() const override { return toolbar; }
    bool StatusbarShown() const override { return statusbar; }
    int ColumnWidth(int c) const override { return widths.at(static_cast<size_t>(c)); }
    void ApplyListLook(const ListLook& l) override {
        look = l;
        calls.push_back("look");
    }
    void ShowBars(bool t, bool s) override {
        toolbar = t;
        statusbar = s;
        calls.push_back("bars");
    }
    void SetColumnWidth(int c, int w) override {
        widths.at(static_cast<size_t>(c)) = w;
        calls.push_back("column");
    }
    void ReadDirectoryAgain() override {
        calls.push_back("reread");
        if (onReread) onReread();
    }
};

// A user of their own: HOME and the XDG folders in a scratch folder for the whole test.
class PrefsTest : public ::testing::Test {
  protected:
    TempDir d;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;

    void SetUp() override {
        for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            const char* old = std::getenv(v);
            saved.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        fs::create_directories(d / "home");
        setenv("HOME", (d / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (d / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (d / "data").c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    ApplicationFolders Folders() const {
        const std::string root = d.Path().string();
        return {root + "/config/varnok", root + "/config", root + "/data", "/usr/bin/varnok"};
    }
    std::string IniPath() const { return (d / "config/varnok/varnok.ini").string(); }
    void Settings(const std::string& text) {
        IniFile ini(IniPath());
        ini.Parse(text);
        ini.WriteString("Test", "Written", "1");
        ASSERT_TRUE(ini.Flush());
    }
    std::string Folder(const std::string& rel) {
        fs::create_directories(d / rel);
        return WithSlash((d / rel).string());
    }
    // What the file on disk says.
    std::string Key(const std::string& section, const std::string& key, const std::string& path = {}) const {
        return IniFile(path.empty() ? IniPath() : path).ReadString(section, key, "<absent>");
    }
};

// One run of the program: the application started on the user's folders and its window.
struct Session {
    test::RecordingView view;
    Application app;
    int notified = 0;
    std::optional<FakeWindow> window;
    PreferencesModel prefs;

    explicit Session(const ApplicationFolders& f) : app(view, f) {
        app.Start();
        app.FileAssociations().OnNotify = [this] { ++notified; };
        window.emplace(app.Config());
        prefs.Load(app, *window);
    }
    PreferencesResult Ok() {
        PreferencesResult r = prefs.Apply(app, *window);
        if (r.ok) prefs.Close(app);
        return r;
    }
};

std::string MimeDefault(const Associations& a, const std::string& mime) {
    return IniFile(a.MimeAppsPath()).ReadString("Default Applications", mime, "");
}

// ---- OK without changes, Cancel, closing ----

TEST_F(PrefsTest, OkWithoutChangesKeepsTheFolderChoicesAndEveryOtherSetting) {
    const std::string open = Folder("work"), extract = Folder("out"), temp = Folder("tmp");
    Settings("[Settings]\nOpenLast=0\nExtractLast=0\nSysTemp=0\nView=3\nViewProg=/usr/bin/less\n"
             "[Directories]\nOpen=" + open + "\nExtract=" + extract + "\nTemp=" + temp +
             "\noptFavFolder=" + open + "\n[Compression]\nzipCR=2\ncabCR=3\nlhaCR=0\ntarCR=0\n"
             "[Visual]\nSingleClick=1\nMousePoint=1\n[AutoUpd]\nProxy=proxy.example\nProxyPort=3128\n");
    Session s(Folders());
    const app::Settings before = s.app.Config();
    const PreferencesModel loaded = s.prefs;
    ASSERT_TRUE(s.Ok().ok);
    const app::Settings& after = s.app.Config();
    EXPECT_FALSE(after.OpenLast);
    EXPECT_FALSE(after.ExtractLast);
    EXPECT_FALSE(after.SysTemp);
    EXPECT_EQ(after.Open, before.Open);
    EXPECT_EQ(after.Extract, before.Extract);
    EXPECT_EQ(after.Temp, before.Temp);
    EXPECT_EQ(after.optFavFolder, before.optFavFolder);
    EXPECT_EQ(after.View, "3");
    EXPECT_EQ(after.ViewProg, "/usr/bin/less");
    EXPECT_EQ(after.zipCR, 2);
    EXPECT_EQ(after.cabCR, 3);
    EXPECT_EQ(after.ProxyPort, "3128");
    EXPECT_EQ(s.app.TempFolder(), temp);
    EXPECT_EQ(Key("Settings", "OpenLast"), "0");
    EXPECT_EQ(Key("Settings", "ExtractLast"), "0");
    EXPECT_EQ(Key("Directories", "Open"), open);
    // Loading again gives what was shown before.
    PreferencesModel again;
    again.Load(s.app, *s.window);
    EXPECT_EQ(again.folders.open, loaded.folders.open);
    EXPECT_EQ(again.folders.temp, loaded.folders.temp);
    EXPECT_EQ(again.view.underlineHot, true);
    EXPECT_EQ(again.autoUpdate.proxy, "proxy.example");
    // The window's columns and bars are as they were.
    for (int c = 0; c < kColumnCount; ++c)
        EXPECT_EQ(s.window->widths[static_cast<size_t>(c)], before.ColumnWidth(c)) << c;
}

TEST_F(PrefsTest, CancelStillWritesTheTempFieldAndTheStartUpChoiceAndNothingElse) {
    Session s(Folders());
    s.prefs.folders.temp = "/somewhere/else";
    s.prefs.folders.openLast = false;
    s.prefs.compression.zip = 0;
    s.prefs.view.toolbar = false;
    s.prefs.Close(s.app);  // Cancel
    EXPECT_EQ(Key("Directories", "Temp"), "/somewhere/else");
    EXPECT_EQ(Key("Settings", "StartUp"), "1");
    EXPECT_EQ(Key("Settings", "OpenLast"), "<absent>");
    EXPECT_EQ(s.app.Config().zipCR, 4);
    EXPECT_TRUE(s.window->toolbar);
    EXPECT_TRUE(s.window->calls.empty());

    s.prefs.folders.openLast = true;
    s.prefs.Close(s.app);
    EXPECT_EQ(Key("Settings", "StartUp"), "0");
}

TEST_F(PrefsTest, ClosingNeverTouchesTheZipLevelThatOkSet) {
    Session s(Folders());
    s.app.Model().Bridge().AddCompLevel = 5;
    s.prefs.Close(s.app);  // Cancel
    EXPECT_EQ(s.app.Model().Bridge().AddCompLevel, 5);
    EXPECT_EQ(Key("Settings", "Packrate"), "<absent>");

    s.prefs.compression.zip = 1;  // "Super fast"
    ASSERT_TRUE(s.Ok().ok);
    EXPECT_EQ(s.app.Model().Bridge().AddCompLevel, 3);
    EXPECT_EQ(Key("Settings", "Packrate"), "3");
    EXPECT_EQ(Key("Compression", "zipCR"), "1");
    EXPECT_EQ(s.app.Compression().zipAddCompLevel, 3);
    s.prefs.Close(s.app);
    EXPECT_EQ(s.app.Model().Bridge().AddCompLevel, 3);
}

// ---- Where OK stops ----

TEST_F(PrefsTest, APortThatIsNotANumberStopsAfterTheShellStepsWithThemApplied) {
    Session s(Folders());
    s.prefs.view.statusbar = false;
    s.prefs.compression.cab = 0;
    s.prefs.shell.Cascaded = false;
    s.prefs.autoUpdate.active = false;
    s.prefs.autoUpdate.proxy = "proxy.example";
    s.prefs.autoUpdate.port = "80a";
    const PreferencesResult r = s.prefs.Apply(s.app, *s.window);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.stoppedAt, 16);
    EXPECT_EQ(r.page, PreferencesPage::AutoUpdate);
    EXPECT_NE(r.error.find("\"80a\""), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("Port"), std::string::npos) << r.error;
    // Steps 1-15 are in force and on disk.
    EXPECT_FALSE(s.window->statusbar);
    EXPECT_EQ(Key("Compression", "cabCR"), "0");
    EXPECT_FALSE(ReadShellSwitches(s.app.Registry()).Cascaded);
    EXPECT_FALSE(RegistryStore(Folders().config).ShellSwitch("Cascaded", true));
    // Step 16 is not.
    EXPECT_TRUE(s.app.Config().AutoUpd);
    EXPECT_EQ(s.app.Config().Proxy, "");
    EXPECT_EQ(Key("AutoUpd", "ProxyPort"), "<absent>");

    s.prefs.autoUpdate.port = "70000";
    EXPECT_EQ(s.prefs.Apply(s.app, *s.window).stoppedAt, 16);
    s.prefs.autoUpdate.port = " 8080 ";
    ASSERT_TRUE(s.prefs.Apply(s.app, *s.window).ok);
    EXPECT_EQ(s.app.Config().ProxyPortNumber(), 8080);
    EXPECT_EQ(Key("AutoUpd", "Proxy"), "proxy.example");
    EXPECT_EQ(Key("AutoUpd", "AutoUpd"), "0");
}

TEST_F(PrefsTest, ProxyPortFieldsAreReadStrictly) {
    EXPECT_EQ(ProxyPortOfField(""), 0);
    EXPECT_EQ(ProxyPortOfField(" 81 "), 81);
    EXPECT_EQ(ProxyPortOfField("65535"), 65535);
    for (const char* bad : {"0", "65536", "-1", "+80", "8 0", "0x50", "999999999999"})
        EXPECT_EQ(ProxyPortOfField(bad), -1) << bad;
    PreferencesModel m;
    m.autoUpdate.proxy = " host ";
    m.autoUpdate.port = "";
    EXPECT_EQ(m.CheckNowProxy(), (std::pair<std::string, int>{"host", 80}));
    m.autoUpdate.port = "abc";
    EXPECT_EQ(m.CheckNowProxy().second, -1);
}

TEST_F(PrefsTest, AnOtherChoiceWithoutItsFolderStopsAtItsStepAndKeepsTheOldFolder) {
    Session s(Folders());
    const std::string temp = s.app.Config().Temp;
    s.prefs.misc.viewerOther = true;
    s.prefs.misc.viewer = "/usr/bin/less";
    s.prefs.folders.tempSystem = false;
    s.prefs.folders.temp = "  ";
    const PreferencesResult r = s.prefs.Apply(s.app, *s.window);
    EXPECT_EQ(r.stoppedAt, 6);
    EXPECT_EQ(r.page, PreferencesPage::Folders);
    EXPECT_EQ(Key("Settings", "View"), "3");  // step 3 came before
    EXPECT_TRUE(s.app.Config().SysTemp);
    EXPECT_EQ(s.app.Config().Temp, temp);

    s.prefs.folders.temp = "relative/tmp";
    EXPECT_EQ(s.prefs.Apply(s.app, *s.window).stoppedAt, 6);
    s.prefs.folders.temp = "/";
    s.prefs.misc.viewer = "";
    EXPECT_EQ(s.prefs.Apply(s.app, *s.window).stoppedAt, 3);
}

TEST_F(PrefsTest, ASettingsFolderThatCannotBeMadeStopsBeforeAnythingElseIsWritten) {
    varnok::test::WriteFile(d / "afile", std::string("x"));
    Session s(Folders());
    s.prefs.misc.iniExtra = true;
    s.prefs.misc.iniFolder = (d / "afile/settings").string();
    s.prefs.compression.zip = 0;
    const PreferencesResult r = s.prefs.Apply(s.app, *s.window);
    EXPECT_EQ(r.stoppedAt, 1);
    EXPECT_EQ(r.page, PreferencesPage::Miscellaneous);
    EXPECT_FALSE(s.app.Store().Relocated());
    EXPECT_EQ(s.app.Config().zipCR, 4);
    EXPECT_EQ(Key("Settings", "LocalIni"), "<absent>");
}

// ---- What OK does to the window ----

TEST_F(PrefsTest, OkAppliesTheLookThenTheBarsThenTheColumnsAndKeepsWidthsTheUserGave) {
    Session s(Folders());
    s.window->widths[colType] = 0;    // hidden before
    s.window->widths[colSize] = 123;  // narrowed by the user
    s.prefs.view.columns[colType] = true;
    s.prefs.view.columns[colSize] = true;
    s.prefs.view.columns[colRatio] = false;
    s.prefs.view.columns[colName] = false;  // cannot be hidden
    s.prefs.view.singleClick = true;
    s.prefs.view.underlineAlways = true;
    s.prefs.view.toolbar = false;
    ASSERT_TRUE(s.Ok().ok);
    ASSERT_GE(s.window->calls.size(), 3u);
    EXPECT_EQ(s.window->calls[0], "look");
    EXPECT_EQ(s.window->calls[1], "bars");
    EXPECT_EQ(s.window->calls[2], "column");
    EXPECT_TRUE(s.window->look->singleClick);
    EXPECT_TRUE(s.window->look->underlineAlways);
    EXPECT_FALSE(s.window->toolbar);
    EXPECT_EQ(s.window->widths[colType], kDefaultColumnWidths[colType]);
    EXPECT_EQ(s.window->widths[colSize], 123);
    EXPECT_EQ(s.window->widths[colRatio], 0);
    EXPECT_GT(s.window->widths[colName], 0);
    EXPECT_EQ(s.app.Config().Columns[colRatio].width, 0);
    EXPECT_EQ(s.app.Config().tbVisible, 0);
    EXPECT_TRUE(s.app.Config().SingleClick);
}

TEST_F(PrefsTest, ChangingTheDirectoryChoiceReadsTheOpenZipAgainAndOnlyThen) {
    const std::string zip = (d / "a.zip").string();
    varnok::test::WriteFile(zip, varnok::test::BuildZip({{"docs/", "", 0x10}, {"docs/a.txt", "abc"}}));
    Session s(Folders());
    s.window->onReread = [&] { s.app.Model().Reread(); };
    ASSERT_TRUE(s.app.Model().Open(zip));
    ASSERT_EQ(s.app.Model().RowCount(), 1);
    ASSERT_TRUE(s.Ok().ok);
    EXPECT_EQ(std::count(s.window->calls.begin(), s.window->calls.end(), "reread"), 0);

    s.prefs.view.dirEntries = true;
    ASSERT_TRUE(s.Ok().ok);
    EXPECT_EQ(s.window->calls.back(), "reread");
    EXPECT_EQ(s.app.Model().RowCount(), 2);
    EXPECT_TRUE(s.app.Model().Bridge().UseDirOnlyEntries);
    EXPECT_TRUE(s.app.Config().ShowDirEntry);
}

// ---- File types ----

TEST_F(PrefsTest, UntickingAceRemovesOnlyOurAceAndNeverAForeignDefault) {
    Session s(Folders());
    Associations& a = s.app.FileAssociations();
    ASSERT_TRUE(a.Associate(".ace"));
    ASSERT_TRUE(a.Associate(".arj"));
    s.prefs.LoadFileTypes(a);
    const auto& rows = AssociationRows();
    size_t ace = rows.size();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].extensions == std::vector<std::string>{".ace"}) ace = i;
    ASSERT_LT(ace, rows.size());
    EXPECT_TRUE(s.prefs.fileTypes.ticked[ace]);
    s.prefs.fileTypes.ticked[ace] = false;
    s.notified = 0;
    ASSERT_TRUE(s.Ok().ok);
    EXPECT_FALSE(a.IsAssociated(".ace"));
    EXPECT_TRUE(a.IsAssociated(".arj"));
    EXPECT_EQ(s.notified, 1);
    // The silent association at start keeps the choice.
    EXPECT_EQ(Key("FileAssociation", ".ace"), "0");
    EXPECT_EQ(Key("FileAssociation", ".arj"), "1");

    // Another program's default for .ace stays as it is.
    {
        IniFile list(a.MimeAppsPath());
        list.WriteString("Default Applications", MimeTypeOfExtension(".ace"), "unace-gui.desktop;");
        ASSERT_TRUE(list.Flush());
    }
    ASSERT_TRUE(s.Ok().ok);
    EXPECT_EQ(MimeDefault(a, MimeTypeOfExtension(".ace")), "unace-gui.desktop;");
}

TEST_F(PrefsTest, TickingGZipAssociatesBothOfItsExtensions) {
    Session s(Folders());
    Associations& a = s.app.FileAssociations();
    s.prefs.LoadFileTypes(a);
    const auto& rows = AssociationRows();
    bool found = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].caption != "GZip archives (*.gz, *.tgz)") continue;
        found = true;
        EXPECT_FALSE(s.prefs.fileTypes.ticked[i]);
        s.prefs.fileTypes.ticked[i] = true;
    }
    ASSERT_TRUE(found);
    ASSERT_TRUE(s.Ok().ok);
    EXPECT_TRUE(a.IsAssociated(".gz"));
    EXPECT_TRUE(a.IsAssociated(".tgz"));
    EXPECT_FALSE(a.IsAssociated(".zip"));
    // The desktop entry the defaults point to is there.
    EXPECT_TRUE(a.ClassKeyCurrent());
}

TEST_F(PrefsTest, OkLeavesAssociationsAloneWhenTheFileTypePageWasNeverShown) {
    Session s(Folders());
    Associations& a = s.app.FileAssociations();
    ASSERT_TRUE(a.Associate(".zip"));
    const std::string before = varnok::test::ReadText(a.MimeAppsPath());
    s.notified = 0;
    ASSERT_TRUE(s.Ok().ok);
    EXPECT_EQ(varnok::test::ReadText(a.MimeAppsPath()), before);
    EXPECT_EQ(s.notified, 0);
    EXPECT_EQ(Key("FileAssociation", ".zip"), "<absent>");
}

// ---- Shell extension ----

TEST_F(PrefsTest, ShellExtensionOffRemovesOurActionFilesAndNoOtherFile) {
    Session s(Folders());
    const ApplicationFolders f = Folders();
    ShellActions actions(f.dataHome, f.configHome, f.program);
    // DropHandler has no control: whatever was stored comes back unchanged.
    s.app.Registry().SetShellSwitch("DropHandler", false);
    for (const char* v : kShellExtensionValues)
        if (std::string(v) != "DropHandler") s.app.Registry().SetShellSwitch(v, true);
    s.prefs.Load(s.app, *s.window);
    EXPECT_FALSE(s.prefs.shell.DropHandler);
    s.prefs.shell.ShellExtension = true;
    ASSERT_TRUE(s.Ok().ok);
    const auto files = actions.Files(s.prefs.shell);
    ASSERT_FALSE(files.empty());
    for (const auto& file : files)
        EXPECT_TRUE(platform::FileExists(file)) << file;
    const std::string foreign = WithSlash(actions.DolphinDir()) + "someone-else.desktop";
    varnok::test::WriteFile(foreign, std::string("[Desktop Entry]\nType=Service\n"));

    s.prefs.shell.ShellExtension = false;
    ASSERT_TRUE(s.Ok().ok);
    for (const auto& file : files) {
        if (file != actions.ThunarFile()) {
            EXPECT_FALSE(platform::FileExists(file)) << file;
        } else if (platform::FileExists(file)) {
            EXPECT_EQ(varnok::test::ReadText(file).find("<unique-id>varnok-"), std::string::npos);
        }
    }
    EXPECT_TRUE(platform::FileExists(foreign));
    RegistryStore reg(f.config);
    EXPECT_FALSE(reg.ShellSwitch("ShellExtension", true));
    EXPECT_FALSE(reg.ShellSwitch("DropHandler", true));
}

TEST_F(PrefsTest, TheFirstStartWritesTheActionsAndAStartAfterTurningThemOffDoesNot) {
    const ApplicationFolders f = Folders();
    ShellActions actions(f.dataHome, f.configHome, f.program);
    std::vector<std::string> files;
    {
        Session s(f);
        ASSERT_TRUE(s.prefs.shell.ShellExtension);  // on unless turned off
        files = actions.Files(s.prefs.shell);
        ASSERT_FALSE(files.empty());
        for (const auto& file : files)
            EXPECT_TRUE(platform::FileExists(file)) << file;
        EXPECT_TRUE(actions.Current(s.prefs.shell));
        // One deleted by hand comes back at the next start.
        fs::remove(files.front());
    }
    {
        Session s(f);
        EXPECT_TRUE(platform::FileExists(files.front()));
        s.prefs.shell.ShellExtension = false;
        ASSERT_TRUE(s.Ok().ok);
    }
    {
        Session s(f);
        EXPECT_FALSE(s.prefs.shell.ShellExtension);
        EXPECT_FALSE(platform::FileExists(files.front()));
    }
    // A program moved elsewhere: the actions are written again to call it.
    {
        RegistryStore reg(f.config);
        reg.SetShellSwitch("ShellExtension", true);
        ASSERT_TRUE(reg.Flush());
    }
    ApplicationFolders moved = f;
    moved.program = "/opt/varnok/bin/varnok";
    Session s(moved);
    ShellActions now(moved.dataHome, moved.configHome, moved.program);
    EXPECT_TRUE(now.Current(s.prefs.shell));
    EXPECT_NE(varnok::test::ReadText(files.front()).find("/opt/varnok/bin/varnok"), std::string::npos);
}

// ---- A restart ----

TEST_F(PrefsTest, EveryPageSurvivesARestartAlsoWithTheSettingsMoved) {
    const std::string work = Folder("work"), out = Folder("out"), temp = Folder("tmp"), cfg = Folder("cfg");
    const ApplicationFolders f = Folders();
    PreferencesModel chosen;
    {
        Session s(f);
        s.app.Config().OpenHistory.Push("/data/old.zip");
        s.app.Config().SaveHistory(s.app.Ini());
        s.app.FileAssociations().Associate(".zip");
        s.prefs.LoadFileTypes(s.app.FileAssociations());
        PreferencesModel& p = s.prefs;
        p.view.rowSelect = p.view.gridLines = p.view.singleClick = p.view.underlineHot = true;
        p.view.toolbar = false;
        p.view.columns[colCrc] = false;
        p.view.dirEntries = true;
        p.folders = {false, temp, false, work, false, out, out};
        p.misc.viewerOther = true;
        p.misc.viewer = "/usr/bin/less";
        p.misc.iniExtra = true;
        p.misc.iniFolder = cfg;
        p.compression = {0, 1, 0, 0};
        p.extraction = {false, false, false};
        p.mail = {false, "smtp.example", "helo", "Me", "me@example.org", 587, "smtps", "me", "secret"};
        p.fileTypes.ticked.assign(p.fileTypes.ticked.size(), false);
        p.fileTypes.ticked.back() = true;
        p.shell.Cascaded = false;
        p.shell.AddCab = true;
        p.autoUpdate = {false, 2, "proxy.example", "3128"};
        const PreferencesResult r = s.Ok();
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(r.warnings.empty());
        EXPECT_TRUE(s.app.Store().Relocated());
        chosen = p;
        s.app.Exit();
    }
    EXPECT_EQ(Key("Settings", "LocalIni"), "1");
    EXPECT_EQ(Key("Compression", "zipCR", cfg + "varnok.ini"), "0");

    Session again(f);
    EXPECT_EQ(again.app.Store().Ini().Path(), cfg + "varnok.ini");
    EXPECT_EQ(again.app.Config().OpenHistory.Slots()[0], "/data/old.zip");
    EXPECT_EQ(again.app.TempFolder(), temp);
    PreferencesModel& n = again.prefs;
    n.LoadFileTypes(again.app.FileAssociations());
    EXPECT_EQ(n.view, chosen.view);
    EXPECT_EQ(n.folders, chosen.folders);
    EXPECT_EQ(n.misc, chosen.misc);
    EXPECT_EQ(n.compression, chosen.compression);
    EXPECT_EQ(n.extraction, chosen.extraction);
    EXPECT_EQ(n.mail, chosen.mail);
    EXPECT_EQ(n.fileTypes, chosen.fileTypes);
    EXPECT_EQ(n.autoUpdate, chosen.autoUpdate);
    for (const char* v : kShellExtensionValues)
        EXPECT_EQ(again.app.Registry().ShellSwitch(v, false), RegistryStore(f.config).ShellSwitch(v, true)) << v;
    EXPECT_FALSE(n.shell.Cascaded);
    EXPECT_TRUE(n.shell.AddCab);

    // Moving the settings back brings them to the application folder, history and all.
    n.misc.iniExtra = false;
    ASSERT_TRUE(again.Ok().ok);
    EXPECT_FALSE(again.app.Store().Relocated());
    EXPECT_EQ(Key("Settings", "LocalIni"), "0");
    EXPECT_EQ(Key("History", "Open1"), "/data/old.zip");
    EXPECT_EQ(Key("Compression", "cabCR"), "1");
}

}  // namespace
}  // namespace varnok::app
