#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>

#include "app/associations.h"
#include "app/ini_file.h"
#include "platform/fileattr.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

namespace fs = std::filesystem;
using varnok::test::TempDir;

struct Xdg {
    TempDir d;
    std::string data = (d / "data").string();
    std::string config = (d / "config").string();
    int notified = 0;
    Associations a{data, config, "/opt/var nok/bin/varnok"};
    Xdg() {
        a.OnNotify = [this] { ++notified; };
    }
};

TEST(Associations, TheDesktopEntryCarriesTheOpenCommand) {
    Xdg x;
    EXPECT_FALSE(x.a.ClassKeyCurrent());
    ASSERT_TRUE(x.a.EnsureClassKey());
    EXPECT_TRUE(x.a.ClassKeyCurrent());
    IniFile desktop(x.a.DesktopFilePath());
    EXPECT_EQ(desktop.ReadString("Desktop Entry", "Exec", ""), "\"/opt/var nok/bin/varnok\" %f");
    EXPECT_EQ(desktop.ReadString("Desktop Entry", "Comment", ""), "Varnok file");
    EXPECT_NE(desktop.ReadString("Desktop Entry", "MimeType", "").find("application/zip;"),
              std::string::npos);
    // Extensions the shared database lacks get a type from our package.
    std::string pkg = varnok::test::ReadText(x.a.MimePackagePath());
    EXPECT_NE(pkg.find("<glob pattern=\"*.bh\"/>"), std::string::npos);
    EXPECT_NE(pkg.find("<glob pattern=\"*.xxe\"/>"), std::string::npos);
    // Another program path makes the entry stale. A path without reserved characters is not quoted, so that
    // xdg-open's fallback, which runs Exec's first word as it stands, finds the program.
    Associations other(x.data, x.config, "/usr/bin/varnok");
    EXPECT_FALSE(other.ClassKeyCurrent());
    EXPECT_EQ(other.OpenCommand(), "/usr/bin/varnok %f");
    // Reserved characters of the program path are escaped in the Exec line.
    Associations odd(x.data, x.config, "/tmp/a\"b$c");
    EXPECT_EQ(odd.OpenCommand(), "\"/tmp/a\\\\\"b\\\\$c\" %f");
}

TEST(Associations, AssociateMakesUsTheDefaultAndUnassociateRemovesOnlyOurs) {
    Xdg x;
    {
        IniFile list(x.a.MimeAppsPath());
        list.WriteString("Default Applications", "application/x-ace", "other.desktop;");
        list.WriteString("Default Applications", "application/x-arj", "arj-tool.desktop;");
        ASSERT_TRUE(list.Flush());
    }
    EXPECT_FALSE(x.a.IsAssociated(".ace"));
    ASSERT_TRUE(x.a.Associate(".ACE"));
    EXPECT_TRUE(x.a.IsAssociated(".ace"));
    IniFile list(x.a.MimeAppsPath());
    EXPECT_EQ(list.ReadString("Default Applications", "application/x-ace", ""),
              "varnok.desktop;other.desktop;");
    EXPECT_EQ(list.ReadString("Added Associations", "application/x-ace", ""), "varnok.desktop;");
    // .lha and .lzh share one type.
    ASSERT_TRUE(x.a.Associate(".lzh"));
    EXPECT_TRUE(x.a.IsAssociated(".lha"));

    EXPECT_TRUE(x.a.Unassociate(".ace"));
    EXPECT_FALSE(x.a.IsAssociated(".ace"));
    IniFile after(x.a.MimeAppsPath());
    EXPECT_EQ(after.ReadString("Default Applications", "application/x-ace", ""), "other.desktop;");
    // Another program's default stays.
    EXPECT_TRUE(x.a.Unassociate(".arj"));
    EXPECT_EQ(after.ReadString("Default Applications", "application/x-arj", ""), "arj-tool.desktop;");
    EXPECT_FALSE(x.a.Associate(".unknown"));
    EXPECT_FALSE(x.a.IsAssociated(".unknown"));
}

// What a double click does where no desktop environment answers: xdg-open finds the default application of the
// file's type in mimeapps.list and runs its Exec line. The program here is a script that records its arguments.
TEST(Associations, XdgOpenRunsTheAssociatedProgramWithTheArchive) {
    VARNOK_REQUIRE_TOOL("xdg-open");
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    const std::string program = (d / "bin/varnok").string();
    const std::string record = (d / "args").string();
    varnok::test::WriteFile(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + "'\n");
    fs::permissions(program, fs::perms::owner_all);
    Associations a{(d / "data").string(), (d / "config").string(), program};
    ASSERT_TRUE(a.EnsureClassKey());
    ASSERT_TRUE(a.Associate(".zip"));
    varnok::test::WriteFile(d / "in/a.txt", "a");
    const fs::path zip = d / "in/some archive.zip";
    ASSERT_EQ(varnok::test::Run("cd " + varnok::test::Quote(d / "in") + " && zip -q " + varnok::test::Quote(zip) +
                                " a.txt"),
              0);
    const std::string env = "env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID"
                            " DISPLAY=:99 XDG_DATA_HOME=" + varnok::test::Quote(d / "data") +
                            " XDG_CONFIG_HOME=" + varnok::test::Quote(d / "config") +
                            " XDG_DATA_DIRS=" + varnok::test::Quote(d / "none") + " ";
    ASSERT_EQ(varnok::test::Run(env + "xdg-open " + varnok::test::Quote(zip) + " >/dev/null 2>&1"), 0);
    // xdg-open starts the program in the background.
    for (int i = 0; i < 100 && !fs::exists(record); ++i)
        usleep(50 * 1000);
    usleep(100 * 1000);
    EXPECT_EQ(varnok::test::ReadText(record), zip.string() + "\n");
}

TEST(Associations, StartUpDecision) {
    using A = AssociationAction;
    // associate, noDialog, zipIsOurs, allAssociated
    EXPECT_EQ(DecideAssociationCheck(true, false, true, true), A::None);
    EXPECT_EQ(DecideAssociationCheck(true, false, true, false), A::Dialog);
    EXPECT_EQ(DecideAssociationCheck(true, true, true, false), A::Silent);
    EXPECT_EQ(DecideAssociationCheck(false, false, true, false), A::None);
    EXPECT_EQ(DecideAssociationCheck(false, false, false, false), A::Dialog);
    // "Never ask again" with Cancel: nothing is shown or changed.
    EXPECT_EQ(DecideAssociationCheck(false, true, false, false), A::None);
}

TEST(Associations, SilentCheckAssociatesTheExtensionsWhoseKeyIsOne) {
    Xdg x;
    IniFile ini;
    ini.Parse("[FileAssociation]\nAssociate=1\nNoDialog=1\n.rar=0\n");
    Settings s;
    s.Load(ini);
    EXPECT_EQ(RunAssociationCheck(x.a, ini, s), AssociationAction::Silent);
    EXPECT_TRUE(x.a.ClassKeyCurrent());
    EXPECT_TRUE(x.a.IsAssociated(".zip"));
    EXPECT_TRUE(x.a.IsAssociated(".ace"));
    EXPECT_TRUE(x.a.IsAssociated(".xxe"));
    EXPECT_FALSE(x.a.IsAssociated(".rar"));
    EXPECT_EQ(x.notified, 1);
    // Nothing left to do: no second notification.
    EXPECT_EQ(RunAssociationCheck(x.a, ini, s), AssociationAction::Silent);
    EXPECT_EQ(x.notified, 1);
}

TEST(Associations, DialogAnswersAreRemembered) {
    Xdg x;
    IniFile ini;
    Settings s;
    s.Load(ini);
    EXPECT_EQ(RunAssociationCheck(x.a, ini, s), AssociationAction::Dialog);
    // One row per kind of archive file the registry knows, and the encrypted archives.
    const auto& rows = AssociationRows();
    ASSERT_EQ(rows.size(), 18u);
    EXPECT_EQ(rows.front().caption, "Ace archives (*.ace)");
    std::vector<bool> ticked;
    std::map<std::string, bool> byCaption;
    for (const auto& r : rows) {
        ticked.push_back(r.tickedByDefault);
        byCaption[r.caption] = r.tickedByDefault;
    }
    EXPECT_TRUE(byCaption.at("Zip archives (*.zip)"));
    EXPECT_TRUE(byCaption.at("Lha archives (*.lzh, *.lha)"));
    EXPECT_TRUE(byCaption.at("Encrypted archives (*.vca)"));
    EXPECT_FALSE(byCaption.at("Game package archives (*.pak, *.pk3)"));
    ApplyAssociationDialog(x.a, ini, s, ticked, true);
    EXPECT_TRUE(x.a.AllAssociated(CheckedExtensions()));
    EXPECT_FALSE(x.a.IsAssociated(".pk3"));
    EXPECT_EQ(ini.ReadString("FileAssociation", ".uu", ""), "1");
    EXPECT_EQ(ini.ReadString("FileAssociation", ".pak", "absent"), "absent");
    EXPECT_EQ(ini.ReadString("FileAssociation", "NoDialog", ""), "1");
    EXPECT_EQ(ini.ReadString("FileAssociation", "Associate", ""), "1");
    EXPECT_EQ(RunAssociationCheck(x.a, ini, s), AssociationAction::Silent);

    IniFile ini2;
    Settings s2;
    CancelAssociationDialog(ini2, s2, false);
    EXPECT_FALSE(ini2.HasSection("FileAssociation"));
    CancelAssociationDialog(ini2, s2, true);
    EXPECT_EQ(ini2.ReadString("FileAssociation", "Associate", ""), "0");
    EXPECT_TRUE(s2.NoDialog);
    EXPECT_FALSE(s2.Associate);
}

}  // namespace
}  // namespace varnok::app
