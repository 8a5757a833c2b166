// The program's arguments: every switch read and carried out through a target that records what it was asked
// to do, with real list files and destination folders in a scratch folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "app/command_line.h"
#include "app/settings.h"
#include "platform/fileattr.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using varnok::test::TempDir;
using varnok::test::WriteFile;

std::string Join(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& x : v)
        s += (s.empty() ? "" : ",") + x;
    return s;
}

std::string Flags(const AddRequest& r) {
    std::string s = "act" + std::to_string(r.action) + " span" + std::to_string(r.spanMode);
    s += r.password.empty() ? "" : " password";
    s += r.recurse ? " recurse" : "";
    s += r.includeSubfolders ? " separate" : "";
    s += r.relativePath ? " relative" : "";
    s += r.fullPath ? " full" : "";
    s += r.emptyFolders ? " dirs" : "";
    s += r.hiddenFiles ? " hidden" : "";
    s += r.dos83 ? " dos83" : "";
    return s;
}

// Records every request as one line of text.
class RecordingTarget : public SwitchTarget {
  public:
    std::vector<std::string> calls;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<std::string> reports;
    std::optional<int> quit;
    bool openResult = true;
    bool result = true;

    bool OpenArchive(const std::string& path, bool rows) override {
        calls.push_back("open " + path + (rows ? " rows" : " norows"));
        return openResult;
    }
    bool ExtractAll(const std::string& dest, bool names, bool skipOlder, bool overwrite) override {
        calls.push_back("extract " + dest + " names" + std::to_string(names) + " skip" + std::to_string(skipOlder) +
                        " over" + std::to_string(overwrite));
        return result;
    }
    bool ExtractWithDialog() override {
        calls.push_back("extract-dialog");
        return result;
    }
    bool ShowMultiExtract(const std::vector<std::string>& p) override {
        calls.push_back("multi-window " + Join(p));
        return result;
    }
    bool MultiExtract(const std::vector<std::string>& p, const MultiExtractRequest& r) override {
        calls.push_back("multi " + Join(p) + " mode" + std::to_string(r.mode) + " dest " + r.destination +
                        " names" + std::to_string(r.useFolderNames) + " skip" + std::to_string(r.skipOlder) +
                        " over" + std::to_string(r.overwrite));
        return result;
    }
    bool AddToZip(const std::string& a, const std::vector<std::string>& f, const AddRequest& r) override {
        calls.push_back("add-zip " + a + " [" + Join(f) + "] " + Flags(r));
        return result;
    }
    bool CreateAndAdd(const std::string& a, ArchiveKind k, const std::vector<std::string>& f,
                      const AddRequest& r) override {
        calls.push_back("create " + std::to_string(static_cast<int>(k)) + " " + a + " [" + Join(f) + "] " +
                        Flags(r));
        return result;
    }
    bool ShowTestWindow(const std::vector<std::string>& f) override {
        calls.push_back("test " + Join(f));
        return result;
    }
    bool ShowAddWithOptions(const std::vector<std::string>& f) override {
        calls.push_back("drop " + Join(f));
        return result;
    }
    bool MailFiles(const std::vector<std::string>& f) override {
        calls.push_back("mail " + Join(f));
        return result;
    }
    bool MakeExe() override {
        calls.push_back("make-exe");
        return result;
    }
    void Message(const std::string& t, const std::string& x) override { messages.emplace_back(t, x); }
    void Report(const std::string& l) override { reports.push_back(l); }
    void Quit(int status) override {
        ASSERT_FALSE(quit.has_value()) << "the program was ended twice";
        quit = status;
    }
};

class Switches : public ::testing::Test {
  protected:
    void SetUp() override {
        cwd = tmp.Path().string() + "/cwd";
        lists = tmp.Path().string() + "/run/varnok";
        platform::ForceDirectories(cwd);
        platform::ForceDirectories(lists);
        settings.optUpdate = false;
        settings.optOverwrite = true;
    }
    CommandLineRequest Parse(const std::vector<std::string>& args) const {
        return ParseCommandLine(args, {cwd, lists});
    }
    int Run(const std::vector<std::string>& args) { return RunCommandLine(Parse(args), target, settings); }
    std::string File(const std::string& rel, const std::string& data = "x") {
        std::string p = cwd + "/" + rel;
        WriteFile(p, data);
        return p;
    }
    std::string In(const std::string& rel) const { return cwd + "/" + rel; }

    TempDir tmp;
    std::string cwd, lists;
    Settings settings;
    RecordingTarget target;
};

// ---- "-e" -------------------------------------------------------------------------------------------------------

TEST_F(Switches, AHyphenInsideTheArchiveNameIsNotAnOptionString) {
    const std::string a = File("my-archive.zip");
    CommandLineRequest r = Parse({"-e", "my-archive.zip"});
    EXPECT_EQ(r.mode, SwitchMode::ExtractAll);
    EXPECT_EQ(r.options, "");
    EXPECT_EQ(r.archive, a);
    EXPECT_EQ(Run({"-e", "my-archive.zip"}), 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"open " + a + " norows",
                                                      "extract " + cwd + "/ names0 skip0 over0"}));
    EXPECT_EQ(target.quit, 0);
}

TEST_F(Switches, ExtractOptionLettersAndAGivenDestinationIsCreatedWithItsParents) {
    const std::string a = File("a.zip");
    EXPECT_EQ(Run({"-E", "-rou", "a.zip", "out/deeper/still"}), 0);
    EXPECT_TRUE(platform::DirectoryExists(In("out/deeper/still")));
    EXPECT_EQ(target.calls, (std::vector<std::string>{"open " + a + " norows",
                                                      "extract " + In("out/deeper/still/") + " names1 skip1 over1"}));
    target = {};
    EXPECT_EQ(Run({"-e", "-o", "a.zip"}), 0);
    EXPECT_EQ(target.calls.back(), "extract " + cwd + "/ names0 skip0 over1");
}

TEST_F(Switches, ExtractOfAMissingArchiveEndsWithAFailureAndTouchesNothing) {
    EXPECT_EQ(Run({"-e", "missing.zip", "out"}), 1);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(target.quit, 1);
    EXPECT_FALSE(platform::PathExists(In("out")));
    ASSERT_EQ(target.reports.size(), 1u);
    EXPECT_NE(target.reports[0].find("missing.zip"), std::string::npos);
    target = {};
    EXPECT_EQ(Run({"-e"}), 1);
    EXPECT_TRUE(target.calls.empty());
}

TEST_F(Switches, ExtractOfAFileThatIsNoArchiveOrFailsEndsWithAFailure) {
    File("notes.txt");
    target.openResult = false;
    EXPECT_EQ(Run({"-e", "notes.txt"}), 1);
    EXPECT_EQ(target.calls.size(), 1u);  // opened, never extracted
    target = {};
    File("a.zip");
    target.result = false;
    EXPECT_EQ(Run({"-e", "a.zip"}), 1);
    EXPECT_EQ(target.quit, 1);
}

TEST_F(Switches, AnExtractDestinationThatCannotBeMadeIsSaidAndNothingIsExtracted) {
    File("a.zip");
    File("blocker");
    EXPECT_EQ(Run({"-e", "a.zip", "blocker/out"}), 1);
    EXPECT_EQ(target.messages, (std::vector<std::pair<std::string, std::string>>{{"Error", kCantCreateDirectory}}));
    EXPECT_EQ(target.calls.size(), 1u);
}

// ---- "-a" -------------------------------------------------------------------------------------------------------

TEST_F(Switches, AddWithoutOptionsTakesTheNamesAfterTheArchive) {
    EXPECT_EQ(Run({"-a", "backup", "one.txt", "/abs/two.txt", "sub/three"}), 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"add-zip " + In("backup.zip") + " [" + In("one.txt") +
                                                      ",/abs/two.txt," + In("sub/three") +
                                                      "] act0 span3 hidden"}));
    EXPECT_EQ(target.quit, 0);
}

TEST_F(Switches, AddLettersMapToTheAddAndTheArchiveIsAlwaysAZip) {
    Run({"-a", "-rpy", "new.tar", "x"});
    EXPECT_EQ(target.calls.back(), "add-zip " + In("new.zip") + " [" + In("x") + "] act0 span3 recurse relative dirs hidden");
    target = {};
    Run({"-A", "-RIF", "my-file.zip", "x"});
    // Folders as separate operations turn recursion off; full paths win over relative ones.
    EXPECT_EQ(target.calls.back(), "add-zip " + In("my-file.zip") + " [" + In("x") + "] act0 span3 separate full hidden");
}

TEST_F(Switches, AddListFileGivesOnePathPerLineRelativeToTheStartingFolder) {
    File("names.lst", "a.txt\r\n\n  \n/abs/b.txt\nsub dir/c.txt\n");
    EXPECT_EQ(Run({"-a", "-s", "out.zip", "names.lst", "more.txt"}), 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"add-zip " + In("out.zip") + " [" + In("a.txt") +
                                                      ",/abs/b.txt," + In("sub dir/c.txt") + "," + In("more.txt") +
                                                      "] act0 span3 hidden"}));
}

TEST_F(Switches, AnUnreadableAddListFileStopsWithTheErrorBox) {
    EXPECT_EQ(Run({"-a", "-s", "out.zip", "nowhere.lst"}), 1);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(target.messages, (std::vector<std::pair<std::string, std::string>>{{"Error", "Error opening file !"}}));
    EXPECT_EQ(target.quit, 1);
    // A folder is no list either.
    platform::ForceDirectories(In("dir.lst"));
    target = {};
    EXPECT_EQ(Run({"-a", "-s", "out.zip", "dir.lst"}), 1);
    EXPECT_TRUE(target.calls.empty());
}

// ---- The slash switches -----------------------------------------------------------------------------------------

TEST_F(Switches, ExtractWithDialogOpensOneArchiveAndShowsTheWindowForSeveral) {
    const std::string a = File("a.zip"), b = File("b.lzh");
    EXPECT_EQ(Run({"/vnset", a}), 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"open " + a + " rows", "extract-dialog"}));
    EXPECT_EQ(target.quit, 0);
    target = {};
    EXPECT_EQ(Run({"/VNSET", a, "b.lzh"}), 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"multi-window " + a + "," + b}));
    EXPECT_EQ(target.quit, 0);
}

TEST_F(Switches, ExtractHereUsesTheSettingsForOneArchiveAndTheBatchRulesForSeveral) {
    const std::string a = File("x/a.zip"), b = File("y/b.zip");
    Run({"/vnseh", a});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"open " + a + " norows",
                                                      "extract " + In("x/") + " names1 skip0 over1"}));
    settings.optUpdate = true;
    settings.optOverwrite = false;
    target = {};
    Run({"/vnseh", a});
    EXPECT_EQ(target.calls.back(), "extract " + In("x/") + " names1 skip1 over0");
    target = {};
    EXPECT_EQ(Run({"/vnseh", a, b, a}), 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"multi " + a + "," + b + "," + a + " mode2 dest " + In("x/") +
                                                      " names1 skip1 over0"}));
}

TEST_F(Switches, ExtractToFolderMakesTheFolderNamedAfterTheArchive) {
    const std::string a = File("x/data.tar.gz"), b = File("b.zip");
    EXPECT_EQ(Run({"/vnsef", a}), 0);
    EXPECT_TRUE(platform::DirectoryExists(In("x/data.tar")));
    EXPECT_EQ(target.calls, (std::vector<std::string>{"open " + a + " norows",
                                                      "extract " + In("x/data.tar/") + " names1 skip0 over1"}));
    target = {};
    Run({"/vnsef", b, a});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"multi " + b + "," + a + " mode3 dest " + In("b/") +
                                                      " names1 skip1 over0"}));
}

TEST_F(Switches, ExtractToFolderThatCannotBeMadeShowsTheBoxAndExtractsNothing) {
    const std::string a = File("a.zip");
    File("a");  // a file where the folder would go
    EXPECT_EQ(Run({"/vnsef", a}), 1);
    EXPECT_EQ(target.messages, (std::vector<std::pair<std::string, std::string>>{{"Error", "Can\"t create directory !"}}));
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(target.quit, 1);
}

TEST_F(Switches, MailMakeExeTestAndDropWindowGetTheListedFiles) {
    const std::string a = File("a.zip"), b = File("b.txt");
    Run({"/vnsma", a, b});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"mail " + a + "," + b}));
    target = {};
    Run({"/vnsce", a, b});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"open " + a + " norows", "make-exe"}));
    target = {};
    Run({"/vnsta", a, b});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"test " + a + "," + b}));
    target = {};
    Run({"/vnsac", a, "b.txt"});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"drop " + a + "," + b}));
    EXPECT_EQ(target.quit, 0);
}

TEST_F(Switches, AFailureOfTheSwitchesWorkEndsWithStatusOne) {
    const std::string a = File("a.zip");
    target.result = false;
    for (const char* sw : {"/vnset", "/vnseh", "/vnsef", "/vnsma", "/vnsce", "/vnsta", "/vnsac"}) {
        target.quit.reset();
        EXPECT_EQ(Run({sw, a}), 1) << sw;
        EXPECT_EQ(target.quit, 1) << sw;
    }
    // And a switch without files has nothing to do, which is a failure too.
    target = {};
    EXPECT_EQ(Run({"/vnseh"}), 1);
    EXPECT_TRUE(target.calls.empty());
}

TEST_F(Switches, AddAsTypeNamesTheArchiveAfterTheFirstFileAndTakesTheLastArgumentAsType) {
    const std::string a = File("report.txt"), b = File("pics");
    const std::pair<const char*, int> types[] = {{"zip", 1}, {"BH", 2}, {"cab", 3}, {"lha", 4}, {"Jar", 5}, {"tar", 6}};
    for (const auto& [type, kind] : types) {
        target = {};
        EXPECT_EQ(Run({"/vnsaz", a, b, type}), 0) << type;
        std::string ext = type;
        for (char& c : ext)
            c = static_cast<char>(tolower(c));
        ASSERT_EQ(target.calls.size(), 1u);
        EXPECT_EQ(target.calls[0], "create " + std::to_string(kind) + " " + In("report." + ext) + " [" + a + "," + b +
                                       "] act0 span3 separate relative dirs hidden");
    }
}

TEST_F(Switches, AddAsTypeOfAnUnknownTypeCreatesNothing) {
    const std::string a = File("report.txt");
    EXPECT_EQ(Run({"/vnsaz", a, "rar"}), 1);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(target.quit, 1);
    target = {};
    EXPECT_EQ(Run({"/vnsaz", "rar"}), 1);  // the type alone: no files
    EXPECT_TRUE(target.calls.empty());
}

TEST_F(Switches, TheNoMainFormArgumentIsNotAFileInAnyCase) {
    const std::string a = File("a.zip");
    CommandLineRequest r = Parse({"/vnseh", "-NoMF", a});
    EXPECT_TRUE(r.noMainForm);
    EXPECT_EQ(r.files, std::vector<std::string>{a});
    r = Parse({"/vnsaz", "-nomf", a, "zip"});
    EXPECT_EQ(r.files, std::vector<std::string>{a});
    EXPECT_EQ(r.type, "zip");
    // Only right after the switch.
    r = Parse({"/vnsta", a, "-nomf"});
    EXPECT_EQ(r.files, (std::vector<std::string>{a, In("-nomf")}));
}

// ---- The list file ----------------------------------------------------------------------------------------------

TEST_F(Switches, TheListFileWithThreeLinesNamesThreeFilesAndStays) {
    WriteFile(lists + "/shextdat.par", std::string("/d/one.zip\n/d/two.zip\r\nthree.zip\n"));
    EXPECT_EQ(Run({"/vnseh", "shextdat.par"}), 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"multi /d/one.zip,/d/two.zip," + In("three.zip") +
                                                      " mode2 dest /d/ names1 skip1 over0"}));
    EXPECT_TRUE(platform::FileExists(lists + "/shextdat.par"));
}

TEST_F(Switches, AddAsTypeDeletesTheListFileAfterwardsEvenWhenTheTypeIsUnknown) {
    WriteFile(lists + "/shextdat.par", std::string("/d/a.txt\n/d/b.txt\n/d/c.txt\n"));
    EXPECT_EQ(Run({"/vnsaz", "shextdat.par", "lha"}), 0);
    EXPECT_EQ(target.calls,
              (std::vector<std::string>{"create 4 /d/a.lha [/d/a.txt,/d/b.txt,/d/c.txt] act0 span3 separate relative dirs hidden"}));
    EXPECT_FALSE(platform::PathExists(lists + "/shextdat.par"));
    WriteFile(lists + "/shextdat.par", std::string("/d/a.txt\n"));
    target = {};
    Run({"/vnsaz", "shextdat.par", "rar"});
    EXPECT_TRUE(target.calls.empty());
    EXPECT_FALSE(platform::PathExists(lists + "/shextdat.par"));
}

TEST_F(Switches, TheListFileIsNeverTakenFromTheStartingOrProgramFolder) {
    // One beside the caller is not the list: the runtime folder has none, so this is an error.
    File("shextdat.par", "/d/evil.zip\n");
    EXPECT_EQ(Run({"/vnseh", "shextdat.par"}), 1);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(target.messages, (std::vector<std::pair<std::string, std::string>>{{"Error", "Error opening file !"}}));
}

TEST_F(Switches, AnyOtherArgumentNamesExactlyOneFile) {
    File("list.par", "/d/one.zip\n/d/two.zip\n/d/three.zip\n");
    WriteFile(lists + "/shextdat.par", std::string("/d/one.zip\n"));
    EXPECT_EQ(Parse({"/vnseh", "list.par"}).files, std::vector<std::string>{In("list.par")});
    EXPECT_EQ(Parse({"/vnseh", "./shextdat.par"}).files, std::vector<std::string>{In("shextdat.par")});
    // Two arguments are two files, even when one of them is the list's name.
    EXPECT_EQ(Parse({"/vnseh", "shextdat.par", "b.zip"}).files,
              (std::vector<std::string>{In("shextdat.par"), In("b.zip")}));
}

TEST_F(Switches, TheListFolderIsTheRuntimeFolderThenTheCacheFolder) {
    struct Env {
        std::string name;
        std::optional<std::string> old;
        explicit Env(const char* n) : name(n) {
            if (const char* v = getenv(n)) old = v;
        }
        ~Env() {
            if (old)
                setenv(name.c_str(), old->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    } run("XDG_RUNTIME_DIR"), cache("XDG_CACHE_HOME"), home("HOME");
    setenv("HOME", (tmp.Path() / "home").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    setenv("XDG_CACHE_HOME", "/c/cache", 1);
    EXPECT_EQ(ShellListFolder(), "/run/user/4242/varnok");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(ShellListFolder(), "/c/cache/varnok");
    setenv("XDG_CACHE_HOME", "relative/not/allowed", 1);
    EXPECT_EQ(ShellListFolder(), (tmp.Path() / "home").string() + "/.cache/varnok");
}

// ---- Everything else --------------------------------------------------------------------------------------------

TEST_F(Switches, AnExistingFileIsOpenedAndTheWindowStays) {
    const std::string a = File("archive.lzh");
    EXPECT_EQ(Run({"archive.lzh"}), 0);
    EXPECT_EQ(target.calls, std::vector<std::string>{"open " + a + " rows"});
    EXPECT_FALSE(target.quit.has_value());
    EXPECT_FALSE(IsBatchSwitch("archive.lzh"));
}

TEST_F(Switches, AnUnknownFirstArgumentDoesNothingAndTheWindowStays) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"-x", "a.zip"}, {"/vnsxx", "a.zip"}, {"missing.zip"}, {"/no/such/file"}, {""}, {}}) {
        target = {};
        EXPECT_EQ(Run(args), 0);
        EXPECT_TRUE(target.calls.empty());
        EXPECT_FALSE(target.quit.has_value());
    }
    // A folder is not a file to open.
    platform::ForceDirectories(In("folder.zip"));
    EXPECT_EQ(Parse({"folder.zip"}).mode, SwitchMode::None);
}

TEST_F(Switches, BatchSwitchesAreKnownBeforeTheWindowShowsInAnyCase) {
    for (const char* s : {"-e", "-A", "/vnset", "/VNSEH", "/vnsef", "/vnsma", "/vnsce", "/vnsta", "/vnsaz", "/VnSaC"})
        EXPECT_TRUE(IsBatchSwitch(s)) << s;
    for (const char* s : {"-x", "/vns", "/vnsetx", "a.zip", "-ea", ""})
        EXPECT_FALSE(IsBatchSwitch(s)) << s;
}

}  // namespace
}  // namespace varnok::app
