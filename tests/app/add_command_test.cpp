// The writing commands of the window without a display: new archives of every writable type, add, delete by
// exact name, cancel and failure leaving the archive untouched, the root folder of an add, the password
// confirmation and the split into a spanned set.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/add_command.h"
#include "app/archive_model.h"
#include "platform/fileattr.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

namespace fs = std::filesystem;
using test::RecordingView;
using varnok::test::ReadFile;
using varnok::test::TempDir;
using varnok::test::WriteFile;

class AddCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        src = (tmp / "src").string();
        fs::create_directories(src + "/sub");
        WriteFile(src + "/a.txt", std::string(3000, 'a'));
        WriteFile(src + "/B.TXT", "bee");
        WriteFile(src + "/noext", "no extension");
        WriteFile(src + "/sub/c.txt", "sea");
    }
    std::vector<std::string> StoredNames() const {
        std::vector<std::string> out;
        for (int i = 0; i < model.RowCount(); ++i)
            out.push_back(model.Row(i).StoredName());
        std::sort(out.begin(), out.end());
        return out;
    }
    int RowOf(const std::string& stored) const {
        for (int i = 0; i < model.RowCount(); ++i)
            if (model.Row(i).StoredName() == stored) return i;
        return -1;
    }

    TempDir tmp;
    std::string src;
    Settings settings;
    RecordingView view;
    ArchiveModel model{settings, view};
    AddOperation op{model};
};

// ---- root folder and entries ----

TEST(AddRoot, SeveralEntriesShareTheirDeepestFolder) {
    auto isDir = [](const std::string& p) { return p == "/a/b"; };
    RootedList r = RootAndEntries({"/a/x.txt", "/a/b/y.txt"}, true, false, isDir);
    EXPECT_EQ(r.root, "/a/");
    EXPECT_EQ(r.entries, (std::vector<std::string>{"x.txt", "b/y.txt"}));
}

TEST(AddRoot, AFolderWithoutRecursionKeepsItsNameInFront) {
    auto isDir = [](const std::string& p) { return p == "/home/data"; };
    RootedList r = RootAndEntries({"/home/data/"}, true, false, isDir);
    EXPECT_EQ(r.root, "/home/");
    ASSERT_EQ(r.entries.size(), 1u);
    EXPECT_EQ(r.entries[0], "data/*");
    r = RootAndEntries({"/home/data"}, true, true, isDir);
    EXPECT_EQ(r.root, "/home/data/");
    EXPECT_EQ(r.entries[0], "*");
}

TEST(AddRoot, APrefixOfANameIsNotAFolder) {
    // "/a/bc" and "/a/bd" share "/a/b" as text, but only "/a/" as a folder.
    RootedList r = RootAndEntries({"/a/bc/x", "/a/bd/y"}, true, false, [](const std::string&) { return false; });
    EXPECT_EQ(r.root, "/a/");
    EXPECT_EQ(r.entries, (std::vector<std::string>{"bc/x", "bd/y"}));
}

TEST(AddRoot, WithoutRelativePathsEntriesStayAbsolute) {
    RootedList r = RootAndEntries({"/a/x", "/a/d"}, false, false, [](const std::string& p) { return p == "/a/d"; });
    EXPECT_TRUE(r.root.empty());
    EXPECT_EQ(r.entries, (std::vector<std::string>{"/a/x", "/a/d/*"}));
}

// ---- small rules of the dialogs ----

TEST(AddDialogRules, PasswordConfirmationComparesExactly) {
    PasswordConfirm p;
    EXPECT_TRUE(p.Ok("Secret"));
    EXPECT_EQ(p.Current(), PasswordConfirm::Step::Again);
    EXPECT_FALSE(p.Ok("secret"));  // differs in case only: not the same password
    EXPECT_EQ(p.Error(), PasswordConfirm::kMismatch);
    EXPECT_EQ(p.Current(), PasswordConfirm::Step::Again);
    EXPECT_TRUE(p.Ok("Secret"));
    EXPECT_EQ(p.Current(), PasswordConfirm::Step::Done);
    EXPECT_EQ(p.Password(), "Secret");
}

TEST(AddDialogRules, CoupledPathBoxesExcludeEachOther) {
    PathOptions o;
    o.SetFullPath(true);
    EXPECT_TRUE(o.fullPath);
    EXPECT_FALSE(o.relativePath);
    o.SetRelativePath(false);
    EXPECT_FALSE(o.fullPath);
    EXPECT_FALSE(o.relativePath);
    o.SetRecurse(true);
    EXPECT_FALSE(o.includeSubfolders);
    o.SetIncludeSubfolders(true);
    EXPECT_FALSE(o.recurse);
}

TEST(AddDialogRules, SpanSizesAndTheirRememberedChoice) {
    EXPECT_EQ(SpanSizeOf({0, ""}), 720);
    EXPECT_EQ(SpanSizeOf({1, ""}), 1410);
    EXPECT_EQ(SpanSizeOf({2, "1000"}), 1000);
    EXPECT_FALSE(SpanSizeOf({2, "10k"}));
    EXPECT_FALSE(SpanSizeOf({2, ""}));
    EXPECT_FALSE(SpanSizeOf({2, "0"}));
    EXPECT_FALSE(SpanSizeOf({2, "-5"}));
    EXPECT_EQ(SpanChoiceFor(0).choice, 1);
    EXPECT_EQ(SpanChoiceFor(720).choice, 0);
    // The HD choice stores 1410: opening the dialog again shows the HD choice, not a user size.
    EXPECT_EQ(SpanChoiceFor(*SpanSizeOf({1, ""})).choice, 1);
    EXPECT_EQ(SpanChoiceFor(1000).choice, 2);
    EXPECT_EQ(SpanChoiceFor(1000).field, "1000");
}

TEST(AddDialogRules, DeletePatternMatchesWholeNamesIgnoringCase) {
    EXPECT_TRUE(PatternMatches("a.txt", "*.TXT"));
    EXPECT_TRUE(PatternMatches("B.Txt", "*.TXT"));
    EXPECT_FALSE(PatternMatches("a.txt.bak", "*.TXT"));
    EXPECT_TRUE(PatternMatches("ab", "a?"));
    EXPECT_FALSE(PatternMatches("abc", "a?"));
    EXPECT_FALSE(PatternMatches("a[b]", "a?"));
    EXPECT_TRUE(PatternMatches("a[b]", "a[b]"));  // "[" is an ordinary character
}

TEST(AddDialogRules, KindsGiveTheirExtensions) {
    EXPECT_EQ(PathForKind("/t/x.txt", ArchiveKind::Zip), "/t/x.zip");
    EXPECT_EQ(PathForKind("/t/x.lzh", ArchiveKind::Lha), "/t/x.lzh");
    EXPECT_EQ(PathForKind("/t/x", ArchiveKind::Cab), "/t/x.cab");
    EXPECT_EQ(PathForKind("/t/x.tar.gz", ArchiveKind::Tar), "/t/x.tar.gz");
    EXPECT_EQ(KindOfPath("/t/x.LHA"), ArchiveKind::Lha);
    EXPECT_FALSE(KindOfPath("/t/x.rar"));
}

// ---- add on real writers ----

TEST_F(AddCommand, NewArchivesOfEachTypeHoldTheDroppedFiles) {
    struct Case {
        ArchiveKind kind;
        int compression;
        const char* name;
    };
    for (const Case& c : {Case{ArchiveKind::Zip, -1, "n.zip"}, Case{ArchiveKind::Lha, -1, "n.lha"},
                          Case{ArchiveKind::Tar, 0, "n.tar"}, Case{ArchiveKind::Jar, -1, "n.jar"},
                          Case{ArchiveKind::Bh, -1, "n.bh"}}) {
        SCOPED_TRACE(c.name);
        const std::string path = (tmp / c.name).string();
        op.CreateArchive(path, c.kind);
        ASSERT_TRUE(model.IsOpen());
        EXPECT_TRUE(model.Enabled(Cmd::Add));
        EXPECT_FALSE(platform::FileExists(path));  // nothing written before the first add
        AddRequest r;
        r.compression = c.compression;
        EXPECT_EQ(op.Add({src + "/a.txt", src + "/sub"}, r), 2);
        EXPECT_TRUE(view.messages.empty()) << (view.messages.empty() ? "" : view.messages.back().second);
        EXPECT_EQ(model.ArchivePath(), path);
        EXPECT_EQ(model.NewWriter(), NewWriterKind::None);
        std::vector<std::string> names = StoredNames();
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const std::string& n) { return !n.empty() && n.back() == '/'; }),
                    names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub/c.txt"}));
        model.Close();
    }
}

TEST_F(AddCommand, GzipTarNewArchiveIsNamedAsWhatItIs) {
    op.CreateArchive((tmp / "t.tar").string(), ArchiveKind::Tar);
    AddRequest r;
    r.compression = 1;  // GZipTar
    EXPECT_EQ(op.Add({src + "/a.txt"}, r), 1);
    EXPECT_FALSE(platform::FileExists((tmp / "t.tar").string()));
    EXPECT_EQ(model.ArchivePath(), (tmp / "t.tar.gz").string());
    EXPECT_EQ(model.RowCount(), 1);
    // And it can be added to again, staying compressed.
    EXPECT_EQ(op.Add({src + "/B.TXT"}, AddRequest{}), 1);
    EXPECT_EQ(model.RowCount(), 2);
    auto bytes = ReadFile(tmp / "t.tar.gz");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0x1f);
}

TEST_F(AddCommand, FilesWithoutExtensionComeAlongWithTheirFolder) {
    op.CreateArchive((tmp / "f.zip").string(), ArchiveKind::Zip);
    AddRequest r;
    r.includeSubfolders = false;  // the folder alone, without recursion: its own files, below its name
    EXPECT_EQ(op.Add({src + "/"}, r), 3);
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"src/B.TXT", "src/a.txt", "src/noext"}));
}

TEST_F(AddCommand, ExcludedPatternsAndPasswordsReachTheArchive) {
    op.CreateArchive((tmp / "p.zip").string(), ArchiveKind::Zip);
    op.excludeList = {"*.TXT"};
    AddRequest r;
    r.password = "Pw";
    EXPECT_EQ(op.Add({src + "/a.txt", src + "/noext"}, r), 1);
    ASSERT_EQ(model.RowCount(), 1);
    EXPECT_EQ(model.Row(0).name, "noext");
    // The bridge lists the entry as encrypted: flag bit 0.
    ASSERT_EQ(model.Bridge().Count(), 1);
    EXPECT_TRUE(model.Bridge().Entry(0).Encrypted);
}

TEST_F(AddCommand, PasswordForATypeThatCannotEncryptAddsNothing) {
    op.CreateArchive((tmp / "p.lha").string(), ArchiveKind::Lha);
    AddRequest r;
    r.password = "Pw";
    EXPECT_EQ(op.Add({src + "/a.txt"}, r), -1);
    EXPECT_FALSE(platform::FileExists((tmp / "p.lha").string()));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, "Error");
}

TEST_F(AddCommand, CancelLeavesTheArchiveByteForByte) {
    const std::string path = (tmp / "c.zip").string();
    op.CreateArchive(path, ArchiveKind::Zip);
    ASSERT_EQ(op.Add({src + "/a.txt"}, AddRequest{}), 1);
    const auto before = ReadFile(path);
    // The user presses Cancel while the add runs.
    view.onEvents = [this] { op.Cancel(); };
    EXPECT_EQ(op.Add({src + "/B.TXT", src + "/sub"}, AddRequest{}), -1);
    view.onEvents = nullptr;
    EXPECT_TRUE(op.LastRunCancelled());
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(model.RowCount(), 1);
    EXPECT_FALSE(model.Busy());
    // No stray temporary files beside it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(tmp.Path()))
        if (e.is_regular_file()) ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(AddCommand, NewArchiveOverAnExistingFileReplacesItOnlyWhenWritten) {
    const std::string path = (tmp / "old.zip").string();
    WriteFile(path, "not yet replaced");
    view.askAnswers = {false};
    EXPECT_FALSE(op.NewArchive(path, ArchiveKind::Zip));
    EXPECT_FALSE(model.IsOpen());
    view.askAnswers = {true};
    ASSERT_TRUE(op.NewArchive(path, ArchiveKind::Zip));
    EXPECT_EQ(varnok::test::ReadText(path), "not yet replaced");  // still there until the add
    view.onEvents = [this] { op.Cancel(); };
    EXPECT_EQ(op.Add({src + "/a.txt"}, AddRequest{}), -1);
    view.onEvents = nullptr;
    EXPECT_EQ(varnok::test::ReadText(path), "not yet replaced");
    EXPECT_EQ(op.Add({src + "/a.txt"}, AddRequest{}), 1);
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"a.txt"}));  // a new archive, not an update of the file
    int entries = 0;
    for (const auto& e : fs::directory_iterator(tmp.Path()))
        if (e.path().filename() != "src") ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(AddCommand, AddingToAnArchiveOfAnotherProgramKeepsItsEntries) {
    const std::string path = (tmp / "z.zip").string();
    WriteFile(path, varnok::test::BuildZip({{"kept.txt", "kept"}}));
    ASSERT_TRUE(model.Open(path));
    EXPECT_EQ(op.Add({src + "/a.txt"}, AddRequest{}), 1);
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"a.txt", "kept.txt"}));
}

// ---- delete ----

TEST_F(AddCommand, DeleteSelectedTakesExactlyTheSelectedRows) {
    const std::string path = (tmp / "d.zip").string();
    WriteFile(path, varnok::test::BuildZip({{"a*.txt", "star"}, {"ab.txt", "ab"}, {"A*.TXT", "upper"},
                                            {"x?.c", "q"}, {"xy.c", "xy"}}));
    ASSERT_TRUE(model.Open(path));
    model.SetSelected(RowOf("a*.txt"), true);
    model.SetSelected(RowOf("x?.c"), true);
    view.askAnswers = {true};
    EXPECT_EQ(op.Delete(DeleteMode::Selected), 2);
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"A*.TXT", "ab.txt", "xy.c"}));
}

TEST_F(AddCommand, DeleteAsksAndNoChangesNothing) {
    const std::string path = (tmp / "d.zip").string();
    WriteFile(path, varnok::test::BuildZip({{"a.txt", "a"}, {"b.txt", "b"}}));
    ASSERT_TRUE(model.Open(path));
    const auto before = ReadFile(path);
    view.askAnswers = {false};
    EXPECT_EQ(op.Delete(DeleteMode::All), -1);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].second, AddOperation::kDeleteQuestion);
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(AddCommand, DeleteByPatternOnATarArchive) {
    const std::string path = (tmp / "t.tar").string();
    op.CreateArchive(path, ArchiveKind::Tar);
    AddRequest r;
    r.compression = 0;
    ASSERT_EQ(op.Add({src + "/a.txt", src + "/B.TXT", src + "/noext"}, r), 3);
    view.askAnswers = {true};
    EXPECT_EQ(op.Delete(DeleteMode::Pattern, "*.txt"), 2);
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"noext"}));
    // Deleting the last entry removes the file; the archive stays open as a new TAR archive.
    view.askAnswers = {true};
    EXPECT_EQ(op.Delete(DeleteMode::All), 1);
    EXPECT_TRUE(model.IsOpen());
    EXPECT_EQ(model.RowCount(), 0);
    EXPECT_TRUE(model.Enabled(Cmd::Add));
}

TEST_F(AddCommand, CancelledDeleteLeavesTheArchive) {
    const std::string path = (tmp / "d.lha").string();
    op.CreateArchive(path, ArchiveKind::Lha);
    ASSERT_EQ(op.Add({src + "/a.txt", src + "/B.TXT"}, AddRequest{}), 2);
    const auto before = ReadFile(path);
    view.askAnswers = {true};
    view.onEvents = [this] { op.Cancel(); };
    EXPECT_EQ(op.Delete(DeleteMode::All), -1);
    view.onEvents = nullptr;
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(AddCommand, CancelledZipDeleteThroughTheEngineLeavesTheArchive) {
    const std::string path = (tmp / "d.zip").string();
    op.CreateArchive(path, ArchiveKind::Zip);
    ASSERT_EQ(op.Add({src + "/a.txt", src + "/B.TXT", src + "/sub"}, AddRequest{}), 3);
    const auto before = ReadFile(path);
    view.askAnswers = {true};
    view.onEvents = [this] { op.Cancel(); };
    EXPECT_EQ(op.Delete(DeleteMode::All), -1);
    view.onEvents = nullptr;
    EXPECT_TRUE(op.LastRunCancelled());
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(model.RowCount(), 3);
    int files = 0;
    for (const auto& e : fs::directory_iterator(tmp.Path()))
        if (e.is_regular_file()) ++files;
    EXPECT_EQ(files, 1) << "no temporary file left beside the archive";
}

// The engine takes its items with markers ("<" for a password, a leading ">" or "|" for recursion): names that
// hold those characters must reach the archive as they are, and a folder row must take what lies below it.
TEST_F(AddCommand, ZipNamesHoldingEngineMarkersAreAddedAndDeletedAsTheyAre) {
    for (const char* odd : {"a<b.txt", ">arrow.txt", "|pipe.txt", "x<"})
        WriteFile(src + "/" + odd, odd);
    const std::string path = (tmp / "m.zip").string();
    op.CreateArchive(path, ArchiveKind::Zip);
    AddRequest r;
    r.password = "Secret";
    ASSERT_EQ(op.Add({src + "/a<b.txt", src + "/>arrow.txt", src + "/|pipe.txt", src + "/x<", src + "/sub"}, r),
              5);
    EXPECT_EQ(StoredNames(),
              (std::vector<std::string>{">arrow.txt", "a<b.txt", "sub/c.txt", "x<", "|pipe.txt"}));
    for (int i = 0; i < model.Bridge().Count(); ++i)
        EXPECT_TRUE(model.Bridge().Entry(i).Encrypted) << model.Bridge().Entry(i).FileName;
    model.SetSelected(RowOf("a<b.txt"), true);
    model.SetSelected(RowOf(">arrow.txt"), true);
    view.askAnswers = {true};
    EXPECT_EQ(op.Delete(DeleteMode::Selected), 2);
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"sub/c.txt", "x<", "|pipe.txt"}));
}

// The engine and the writer it runs inside must store the same names for the same request.
TEST_F(AddCommand, ZipThroughTheEngineStoresWhatTheWriterStores) {
    std::vector<std::string> names[2];
    for (int i = 0; i < 2; ++i) {
        op.useBridge = i == 0;
        const std::string path = (tmp / (i == 0 ? "e.zip" : "w.zip")).string();
        op.CreateArchive(path, ArchiveKind::Zip);
        AddRequest r;
        r.emptyFolders = false;
        op.excludeList = {"*.TXT"};
        ASSERT_EQ(op.Add({src + "/noext", src + "/sub", src + "/a.txt"}, r), 1) << i;
        op.excludeList.clear();
        ASSERT_EQ(op.Add({src + "/sub"}, r), 1) << i;
        names[i] = StoredNames();
        model.Close();
    }
    op.useBridge = true;
    EXPECT_EQ(names[0], names[1]);
    // A folder added on its own is the root of its entries.
    EXPECT_EQ(names[0], (std::vector<std::string>{"c.txt", "noext"}));
}

// ---- split ----

TEST_F(AddCommand, FailedSplitPutsTheOnlyCopyBack) {
    const std::string path = (tmp / "s.zip").string();
    op.CreateArchive(path, ArchiveKind::Zip);
    ASSERT_EQ(op.Add({src + "/a.txt"}, AddRequest{}), 1);
    const auto before = ReadFile(path);
    op.SetSpanWriter([](const std::string& in, const std::string&, int64_t, std::vector<std::string>&) {
        EXPECT_TRUE(platform::FileExists(in));
        return -7;
    });
    EXPECT_FALSE(op.Split(1));
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(model.ArchivePath(), path);
    EXPECT_FALSE(platform::FileExists((tmp / "s.tmp").string()));
}

TEST_F(AddCommand, SplitOpensTheLastVolumeTheWriterMade) {
    const std::string path = (tmp / "s.zip").string();
    op.CreateArchive(path, ArchiveKind::Zip);
    ASSERT_EQ(op.Add({src + "/a.txt"}, AddRequest{}), 1);
    WriteFile((tmp / "s.tmp").string(), "a file of the user's");
    std::string input;
    // The writer needed three volumes where the size alone suggests one.
    op.SetSpanWriter([&](const std::string& in, const std::string&, int64_t max, std::vector<std::string>& vols) {
        input = in;
        EXPECT_EQ(max, 100 * 1024);
        for (int i = 1; i <= 3; ++i) {
            std::string v = (tmp / ("s00" + std::to_string(i) + ".zip")).string();
            fs::copy_file(in, v);
            vols.push_back(v);
        }
        return 0;
    });
    op.spanAfterAdd = true;
    EXPECT_TRUE(op.Split(100));
    EXPECT_EQ(model.ArchivePath(), (tmp / "s003.zip").string());
    EXPECT_FALSE(platform::FileExists(input));
    EXPECT_NE(input, (tmp / "s.tmp").string());
    EXPECT_EQ(varnok::test::ReadText((tmp / "s.tmp").string()), "a file of the user's");
    EXPECT_FALSE(op.spanAfterAdd);
}

}  // namespace
}  // namespace varnok::app
