// The entry and archive-file commands of the main window on real archives, without a display: renaming that
// touches only the entry named, comments, self-extractors both ways, cancel leaving the archive byte for byte
// as it was, opening only after a question for anything that could run, install, find, properties, drag-out
// and the archive file's own commands.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <set>

#include "app/archive_file_commands.h"
#include "app/archive_model.h"
#include "app/entry_commands.h"
#include "app/paths.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::app {
namespace {

namespace fs = std::filesystem;
using test::RecordingView;
using varnok::test::ReadFile;
using varnok::test::TempDir;
using varnok::test::WriteFile;
using varnok::test::ZipItem;

// Files of a folder (names), temporary names included.
std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class EntryCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(tmp / "arc");
        fs::create_directories(tmp / "session");
        fs::create_directories(tmp / "data");
        // The trash and the desktop of this test only.
        for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"}) {
            const char* old = getenv(v);
            savedEnv.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        setenv("XDG_DATA_HOME", (tmp / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (tmp / "config").c_str(), 1);
        setenv("HOME", tmp.Path().c_str(), 1);
        model.SetSessionTempDir((tmp / "session").string());
        cmds.SetSpawner([this](const std::vector<std::string>& argv, const std::string&) {
            spawned.push_back(argv);
            return true;
        });
        cmds.SetProgramFinder([this](const std::string& p) { return installed.count(p) != 0; });
    }
    void TearDown() override {
        for (const auto& [name, value] : savedEnv)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
    }
    std::string Zip(const std::vector<ZipItem>& items, const std::string& name = "a.zip") {
        std::string p = (tmp / "arc" / name).string();
        WriteFile(p, varnok::test::BuildZip(items));
        return p;
    }
    int RowOf(const std::string& stored) {
        for (int i = 0; i < model.RowCount(); ++i)
            if (model.Row(i).StoredName() == stored) return i;
        return -1;
    }
    void SelectOnly(const std::string& stored) {
        model.UnselectAll();
        int r = RowOf(stored);
        ASSERT_GE(r, 0) << stored;
        model.SetSelected(r, true);
        model.SetFocusedRow(r);
    }
    std::vector<std::string> Names() {
        std::vector<std::string> n;
        for (int i = 0; i < model.RowCount(); ++i)
            n.push_back(model.Row(i).StoredName());
        std::sort(n.begin(), n.end());
        return n;
    }
    bool HaveStub() {
        // Beside the programs of the build, in lib/varnok.
        if (model.Bridge().FindSfxStub().empty())
            TZipBridge::SetSfxFolder((varnok::test::BinDir().parent_path() / "lib" / "varnok").string());
        return !model.Bridge().FindSfxStub().empty();
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv;
    TempDir tmp;
    Settings settings;
    RecordingView view;
    ArchiveModel model{settings, view};
    EntryCommands cmds{model};
    std::vector<std::vector<std::string>> spawned;
    std::set<std::string> installed{"xdg-open"};
};

// ---- wildcard matching of find

TEST(FindPattern, MatchesWholeNamesIgnoringCase) {
    EXPECT_TRUE(WildcardMatch("a.txt", "*.TXT"));
    EXPECT_TRUE(WildcardMatch("B.Txt", "*.TXT"));
    EXPECT_FALSE(WildcardMatch("a.txt.bak", "*.TXT"));
    EXPECT_TRUE(WildcardMatch("ab.c", "a?.c"));
    EXPECT_FALSE(WildcardMatch("abc.c", "a?.c"));
    EXPECT_TRUE(WildcardMatch("noext", "*"));
    EXPECT_FALSE(WildcardMatch("noext", "*.*"));
    EXPECT_TRUE(WildcardMatch("x.y.z", "*.*"));
    EXPECT_EQ(FindNumber("12x"), 0u);
    EXPECT_EQ(FindNumber(" 42"), 42u);
}

// ---- rename

TEST_F(EntryCommandsTest, RenameTouchesOnlyTheEntryOfThatExactName) {
    const std::string a = Zip({{"a.txt", "A"}, {"data.txt", "D"}, {"sub/a.txt", "S"}, {"A.TXT", "U"}});
    ASSERT_TRUE(model.Open(a));
    SelectOnly("a.txt");
    const int row = cmds.RenameRow();
    EXPECT_EQ(cmds.RenameName(row), "a.txt");
    EXPECT_EQ(cmds.RenamePath(row), "");
    ASSERT_TRUE(cmds.RenameEntry(row, "b.txt", "docs"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"A.TXT", "data.txt", "docs/b.txt", "sub/a.txt"}));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_GT(view.progressOpened, 0);
    EXPECT_EQ(Listing(tmp / "arc"), (std::vector<std::string>{"a.zip"}));
}

TEST_F(EntryCommandsTest, RenameRefusesUnsafeAndTakenNamesLeavingTheArchiveAsItWas) {
    const std::string a = Zip({{"a.txt", "A"}, {"b.txt", "B"}});
    const auto before = ReadFile(a);
    ASSERT_TRUE(model.Open(a));
    SelectOnly("a.txt");
    const int row = cmds.RenameRow();
    for (const auto& [name, path] : std::vector<std::pair<std::string, std::string>>{
             {"x.txt", "../up"}, {"..", ""}, {"x.txt", "a/./b"}, {"b.txt", ""}}) {
        view.messages.clear();
        EXPECT_FALSE(cmds.RenameEntry(row, name, path)) << path << "/" << name;
        ASSERT_EQ(view.messages.size(), 1u) << "said once";
        EXPECT_EQ(view.messages[0].first, "Error");
    }
    EXPECT_EQ(ReadFile(a), before);
}

TEST_F(EntryCommandsTest, CancelledRenameLeavesTheArchiveByteIdenticalAndNoFileBehind) {
    std::vector<ZipItem> items;
    for (int i = 0; i < 20; ++i)
        items.push_back({"f" + std::to_string(i) + ".txt", std::string(3000, static_cast<char>('a' + i))});
    const std::string a = Zip(items);
    const auto before = ReadFile(a);
    ASSERT_TRUE(model.Open(a));
    SelectOnly("f3.txt");
    view.onEvents = [this] { cmds.Cancel(); };
    EXPECT_FALSE(cmds.RenameEntry(cmds.RenameRow(), "g.txt", ""));
    view.onEvents = nullptr;
    EXPECT_TRUE(cmds.LastCancelled());
    EXPECT_TRUE(view.messages.empty()) << "a cancel is not an error";
    EXPECT_EQ(ReadFile(a), before);
    EXPECT_EQ(Listing(tmp / "arc"), (std::vector<std::string>{"a.zip"}));
    EXPECT_FALSE(model.Busy());
}

TEST_F(EntryCommandsTest, RenamingAFolderMovesEverythingBelowItAndNothingBeside) {
    const std::string a = Zip({{"docs/", ""}, {"docs/a.txt", "A"}, {"docs/sub/b.txt", "B"}, {"docsx/c.txt", "C"}});
    settings.ShowDirEntry = true;
    ASSERT_TRUE(model.Open(a));
    model.Bridge().UseDirOnlyEntries = true;
    model.Bridge().List();
    const int dir = RowOf("docs/");
    ASSERT_GE(dir, 0);
    model.SetSelected(dir, true);
    model.SetFocusedRow(dir);
    EXPECT_EQ(cmds.RenameName(dir), "docs");
    ASSERT_TRUE(cmds.RenameEntry(dir, "misc", ""));
    EXPECT_EQ(Names(), (std::vector<std::string>{"docsx/c.txt", "misc/", "misc/a.txt", "misc/sub/b.txt"}));
}

// ---- comment

TEST_F(EntryCommandsTest, CommentIsWrittenReadBackAndCleared) {
    const std::string a = Zip({{"a.txt", "A"}});
    ASSERT_TRUE(model.Open(a));
    ASSERT_TRUE(cmds.SetComment("first line\nsecond line"));
    EXPECT_EQ(cmds.Comment(), "first line\nsecond line");
    EntryCommands other(model);
    model.Close();
    ASSERT_TRUE(model.Open(a));
    EXPECT_EQ(cmds.Comment(), "first line\nsecond line");
    EXPECT_EQ(model.RowCount(), 1);
    ASSERT_TRUE(cmds.SetComment(""));
    EXPECT_EQ(cmds.Comment(), "");
    EXPECT_EQ(Listing(tmp / "arc"), (std::vector<std::string>{"a.zip"}));
}

TEST_F(EntryCommandsTest, CommentTooLongOrCancelledLeavesTheArchiveByteIdentical) {
    std::vector<ZipItem> items;
    for (int i = 0; i < 10; ++i)
        items.push_back({"f" + std::to_string(i), std::string(2000, 'x')});
    const std::string a = Zip(items);
    const auto before = ReadFile(a);
    ASSERT_TRUE(model.Open(a));
    EXPECT_FALSE(cmds.SetComment(std::string(70000, 'c')));
    ASSERT_EQ(view.messages.size(), 1u);
    view.messages.clear();
    view.onEvents = [this] { cmds.Cancel(); };
    EXPECT_FALSE(cmds.SetComment("never"));
    view.onEvents = nullptr;
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(ReadFile(a), before);
    EXPECT_EQ(Listing(tmp / "arc"), (std::vector<std::string>{"a.zip"}));
}

TEST_F(EntryCommandsTest, UnreadableCommentFileSaysSo) {
    ASSERT_TRUE(model.Open(Zip({{"a.txt", "A"}})));
    EXPECT_FALSE(cmds.LoadCommentFile((tmp / "none.txt").string()));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].second, "Error loading textfile");
    WriteFile(tmp / "c.txt", std::string("from a file"));
    EXPECT_EQ(cmds.LoadCommentFile((tmp / "c.txt").string()).value_or(""), "from a file");
}

// ---- self-extractors

TEST_F(EntryCommandsTest, MakeExeLeavesTheZipAndBackGivesTheSameArchive) {
    if (!HaveStub()) GTEST_SKIP() << "varnok-sfx is not built";
    const std::string a = Zip({{"a.txt", std::string(20000, 'a')}, {"b/c.txt", "C"}});
    const auto before = ReadFile(a);
    ASSERT_TRUE(model.Open(a));
    SfxChoices c;
    c.title = "Title";
    c.destination = "out";
    ASSERT_TRUE(cmds.MakeExe(c));
    const std::string exe = (tmp / "arc" / "a.exe").string();
    EXPECT_EQ(Listing(tmp / "arc"), (std::vector<std::string>{"a.exe", "a.zip"}));
    EXPECT_EQ(ReadFile(a), before) << "the archive stays as it was";
    EXPECT_EQ(model.ArchivePath(), a) << "the window shows the archive again";
    EXPECT_EQ(model.RowCount(), 2);
    EXPECT_TRUE(fs::status(exe).permissions() != fs::perms::none &&
                (fs::status(exe).permissions() & fs::perms::owner_exec) != fs::perms::none);

    // Back: the program in another folder gives the same archive bytes.
    fs::create_directories(tmp / "back");
    fs::rename(exe, tmp / "back" / "a.exe");
    ASSERT_TRUE(model.Open((tmp / "back" / "a.exe").string()));
    ASSERT_TRUE(model.IsExecutable());
    EXPECT_EQ(model.Bridge().SFXCaption, "Title");
    ASSERT_TRUE(cmds.ExeToZip());
    EXPECT_EQ(ReadFile(tmp / "back" / "a.zip"), before);
    EXPECT_EQ(Listing(tmp / "back"), (std::vector<std::string>{"a.zip"})) << "the program went to the trash";
    EXPECT_EQ(model.ArchivePath(), (tmp / "back" / "a.zip").string());
}

TEST_F(EntryCommandsTest, CancelledSelfExtractorLeavesNothingAndDeclinedReplaceKeepsTheOldProgram) {
    if (!HaveStub()) GTEST_SKIP() << "varnok-sfx is not built";
    const std::string a = Zip({{"big.bin", std::string(200000, 'z')}});
    const auto before = ReadFile(a);
    ASSERT_TRUE(model.Open(a));
    view.onEvents = [this] { cmds.Cancel(); };
    EXPECT_FALSE(cmds.MakeExe(SfxChoices{}));
    view.onEvents = nullptr;
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(Listing(tmp / "arc"), (std::vector<std::string>{"a.zip"}));
    EXPECT_EQ(ReadFile(a), before);
    EXPECT_EQ(model.ArchivePath(), a);

    WriteFile(tmp / "arc" / "a.exe", std::string("older program"));
    view.askAnswers = {false};
    EXPECT_FALSE(cmds.MakeExe(SfxChoices{}));
    EXPECT_EQ(varnok::test::ReadText(tmp / "arc" / "a.exe"), "older program");
    ASSERT_EQ(view.questions.size(), 1u);
}

TEST_F(EntryCommandsTest, SfxDestinationField) {
    EXPECT_EQ(SfxDefaultDirOf("", "/tmp/"), "/tmp/");
    EXPECT_EQ(SfxDefaultDirOf("/opt/x", "/tmp/"), "/opt/x/");
    EXPECT_EQ(SfxDefaultDirOf("sub", "/tmp/"), "./sub/");
}

// ---- open, view, install

TEST_F(EntryCommandsTest, OpeningAScriptAsksFirstAndViewFilesGoOnClose) {
    ASSERT_TRUE(model.Open(Zip({{"run.sh", "#!/bin/sh\necho hi\n"}, {"read.txt", "text"}, {"x.desktop", "[Desktop Entry]"}})));
    SelectOnly("run.sh");
    view.askAnswers = {false};
    EXPECT_FALSE(cmds.OpenEntry());
    EXPECT_TRUE(spawned.empty());
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_NE(view.questions[0].second.find("run.sh"), std::string::npos) << "the question names it";

    SelectOnly("x.desktop");
    view.askAnswers = {false};
    EXPECT_FALSE(cmds.OpenEntry());
    EXPECT_TRUE(spawned.empty());

    SelectOnly("read.txt");
    view.questions.clear();
    EXPECT_TRUE(cmds.OpenEntry());
    EXPECT_TRUE(view.questions.empty());
    ASSERT_EQ(spawned.size(), 1u);
    const std::string opened = spawned[0].back();
    EXPECT_EQ(spawned[0].front(), "xdg-open");
    EXPECT_EQ(varnok::test::ReadText(opened), "text");
    EXPECT_EQ(opened.rfind((tmp / "session").string(), 0), 0u) << "a private folder of the session";
    model.Close();
    EXPECT_FALSE(fs::exists(opened));
    EXPECT_FALSE(fs::exists(tmp / "arc" / "read.txt"));
}

TEST_F(EntryCommandsTest, InstallOfAWindowsProgramNeedsARunnerAndAConfirmationNamingIt) {
    ASSERT_TRUE(model.Open(Zip({{"setup.exe", "MZ...."}, {"data/readme.txt", "r"}})));
    ASSERT_EQ(model.InstallRow(), "setup.exe");
    EXPECT_FALSE(cmds.Install());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].second.find("Wine"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(tmp / "session")) << "nothing extracted without a runner";

    installed.insert("wine");
    view.askAnswers = {false};
    EXPECT_FALSE(cmds.Install());
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_NE(view.questions[0].second.find("setup.exe"), std::string::npos);
    EXPECT_TRUE(spawned.empty());
    EXPECT_TRUE(fs::is_empty(tmp / "session"));

    view.askAnswers = {true};
    EXPECT_TRUE(cmds.Install());
    ASSERT_EQ(spawned.size(), 1u);
    EXPECT_EQ(spawned[0][0], "wine");
    EXPECT_TRUE(fs::exists(fs::path(spawned[0][1]).parent_path() / "data" / "readme.txt"));
}

// ---- find, properties, drag-out

TEST_F(EntryCommandsTest, FindAddsMatchesToTheSelection) {
    ASSERT_TRUE(model.Open(Zip({{"a.txt", std::string(1024, 'a')}, {"B.Txt", std::string(1025, 'b')},
                                {"a.txt.bak", std::string(5000, 'c')}})));
    model.SetSelected(RowOf("a.txt.bak"), true);
    FindRequest r;
    r.by = FindRequest::By::Size;
    r.sizeMode = FindRequest::SizeMode::Above;
    r.first = 1024;
    EXPECT_EQ(cmds.Find(r), 2);
    EXPECT_FALSE(model.IsSelected(RowOf("a.txt")));
    EXPECT_TRUE(model.IsSelected(RowOf("B.Txt")));
    FindRequest n;
    n.pattern = "*.TXT";
    model.UnselectAll();
    EXPECT_EQ(cmds.Find(n), 2);
    EXPECT_FALSE(model.IsSelected(RowOf("a.txt.bak")));
}

TEST_F(EntryCommandsTest, PropertiesOfAnEmptyAndAFullArchive) {
    ASSERT_TRUE(model.Open(Zip({{"a.txt", "abc"}})));
    ArchiveProperties p = cmds.Properties();
    EXPECT_EQ(p.name, "a.zip");
    EXPECT_EQ(p.type, "ZIP");
    EXPECT_EQ(p.files, 1u);
    EXPECT_EQ(p.size, 3u);
    EXPECT_EQ(p.compression, 0) << "stored";
    ASSERT_TRUE(model.Open(Zip({}, "e.zip")));
    EXPECT_EQ(cmds.Properties().compression, 0);
}

TEST_F(EntryCommandsTest, DragOutNamesTopFoldersOnceAndExtractsAtTheDrop) {
    ASSERT_TRUE(model.Open(Zip({{"d/x.txt", "x"}, {"d/y.txt", "y"}, {"top.txt", "t"}})));
    model.SelectAll();
    std::vector<std::string> paths = cmds.PrepareDrag();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(FileNameOf(paths[0]), "d");
    EXPECT_EQ(FileNameOf(paths[1]), "top.txt");
    EXPECT_FALSE(fs::exists(paths[1])) << "nothing before the drop";
    ASSERT_TRUE(cmds.ExtractForDrag());
    EXPECT_EQ(varnok::test::ReadText(paths[0] + "/y.txt"), "y");
    EXPECT_EQ(varnok::test::ReadText(paths[1]), "t");
}

// ---- the archive file

TEST_F(EntryCommandsTest, ArchiveRenameRefusesForbiddenAndTakenNames) {
    const std::string a = Zip({{"a.txt", "A"}});
    Zip({{"o.txt", "O"}}, "other.zip");
    ASSERT_TRUE(model.Open(a));
    ArchiveFileCommands f(model);
    EXPECT_FALSE(f.Rename("what?.zip"));
    EXPECT_TRUE(view.messages.empty()) << "refused silently";
    EXPECT_FALSE(f.Rename("other.zip"));
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(varnok::test::ReadFile(tmp / "arc" / "other.zip"), varnok::test::ReadFile(tmp / "arc" / "other.zip"));
    EXPECT_TRUE(fs::exists(a));
    ASSERT_TRUE(f.Rename("b.zip"));
    EXPECT_EQ(model.ArchivePath(), (tmp / "arc" / "b.zip").string());
    EXPECT_EQ(model.RowCount(), 1);
}

TEST_F(EntryCommandsTest, ArchiveCopyMoveDeleteAndShortcut) {
    const std::string a = Zip({{"a.txt", "A"}});
    const auto bytes = ReadFile(a);
    fs::create_directories(tmp / "to");
    ASSERT_TRUE(model.Open(a));
    ArchiveFileCommands f(model);
    ASSERT_TRUE(f.CopyTo((tmp / "to").string()));
    EXPECT_EQ(ReadFile(tmp / "to" / "a.zip"), bytes);
    view.askAnswers = {false};
    EXPECT_FALSE(f.MoveTo((tmp / "to").string())) << "not replaced without a yes";
    EXPECT_TRUE(fs::exists(a));
    fs::remove(tmp / "to" / "a.zip");
    ASSERT_TRUE(f.MoveTo((tmp / "to").string()));
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(model.ArchivePath(), (tmp / "to" / "a.zip").string());

    const std::string link = f.CreateShortcut();
    ASSERT_FALSE(link.empty());
    EXPECT_EQ(fs::path(link).parent_path(), tmp / "Desktop");
    EXPECT_NE(varnok::test::ReadText(link).find("URL=file://" + (tmp / "to" / "a.zip").string()), std::string::npos);

    view.askAnswers = {true};
    ASSERT_TRUE(f.Delete());
    EXPECT_FALSE(model.IsOpen());
    EXPECT_FALSE(fs::exists(tmp / "to" / "a.zip"));
    EXPECT_TRUE(fs::exists(tmp / "data" / "Trash" / "files" / "a.zip"));
}

}  // namespace
}  // namespace varnok::app
