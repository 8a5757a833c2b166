// The desktop entry a user's first start writes stands in for the installed one (same name, varnok.desktop, and
// the user's folder wins in the menus). The hazard: an installed program whose menu entry loses its icon after
// the first start because the user's entry names another one.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/application.h"
#include "app/ini_file.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// The Icon line of the entry the start-up association check writes for a program at prefix/bin/varnok.
std::string IconOfUsersEntry(const fs::path& prefix) {
    TempDir user;
    const std::string u = user.Path().string();
    ArchiveView view;
    Application app(view, {u + "/config/varnok", u + "/config", u + "/data", (prefix / "bin/varnok").string()});
    app.Start();
    app.CheckAssociations();
    const std::string entry = u + "/data/applications/varnok.desktop";
    EXPECT_TRUE(fs::exists(entry));
    return IniFile(entry).ReadString("Desktop Entry", "Icon", "");
}

TEST(InstalledEntry, UsersEntryNamesTheInstalledIcon) {
    TempDir prefix;
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/icons/hicolor/scalable/apps");
    test::WriteFile(prefix / "share/icons/hicolor/scalable/apps/varnok.svg", "<svg/>");
    EXPECT_EQ(IconOfUsersEntry(prefix.Path()), "varnok");
}

TEST(InstalledEntry, ProgramWithoutAnInstalledIconKeepsTheThemesArchiveIcon) {
    TempDir prefix;
    fs::create_directories(prefix / "bin");
    EXPECT_EQ(IconOfUsersEntry(prefix.Path()), "package-x-generic");
}

}  // namespace
}  // namespace varnok::app
