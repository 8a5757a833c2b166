// TZipBridge's add and delete through the add/delete engine library: each property arriving in its record field
// (seen by a recording stand-in library), the item markers, the built-in password prompts with their exact
// comparison, the messages, and real archives that the peers accept; a stopped add leaves the archive and the
// moved sources as they were.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/zipbridge/recorded_zip_call.h"
#include "zipbridge/zip_bridge.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct AddBridge {
    TZipBridge z;
    std::vector<std::pair<int, std::string>> messages;
    AddBridge() {
        z.Unattended = true;
        z.OnMessage = [this](TZipBridge&, int code, const std::string& m) { messages.push_back({code, m}); };
    }
    bool Said(const std::string& part) const {
        for (const auto& m : messages)
            if (m.second.find(part) != std::string::npos) return true;
        return false;
    }
};

struct Files {
    TempDir dir;
    fs::path src = dir / "src", zip = dir / "a.zip";
    Files() {
        fs::create_directories(src / "sub");
        WriteFile(src / "one.txt", std::string(2000, '1'));
        WriteFile(src / "two.txt", std::string("two two two"));
        WriteFile(src / "sub" / "three.txt", std::string(500, '3'));
    }
};

std::vector<std::string> Names(const TZipBridge& z) {
    std::vector<std::string> n;
    for (const auto& e : z.Entries())
        n.push_back(e.FileName);
    std::sort(n.begin(), n.end());
    return n;
}

// ---- the record, as a recording stand-in library receives it ----

struct Recorder {
    void* handle = nullptr;
    const RecordedZipCall* (*last)() = nullptr;
    Recorder() {
        handle = dlopen(VARNOK_ZIPDLL_RECORD_DIR "/libvarnok-zipdll.so", RTLD_NOW | RTLD_LOCAL);
        if (handle) last = reinterpret_cast<const RecordedZipCall* (*)()>(dlsym(handle, "LastZipCall"));
    }
    ~Recorder() {
        if (handle) dlclose(handle);
    }
};

TEST(ZipBridgeAddRecord, EveryPropertyReachesItsField) {
    Recorder rec;
    ASSERT_NE(rec.last, nullptr) << dlerror();
    AddBridge b;
    b.z.SetDLLDirectory(VARNOK_ZIPDLL_RECORD_DIR "/");
    b.z.SetZipFileName("/tmp/never-written.zip");
    b.z.Password = "run";
    b.z.Verbose = true;
    b.z.AddCompLevel = 4;
    b.z.TempDir = "/tmp";
    b.z.AddOptions = {AddRecurseDirs, AddMove, AddUpdate, AddFreshen, AddZipTime, AddForceDOS, AddHiddenFiles,
                      AddEncrypt,     AddSeparateDirs, AddArchiveOnly, AddResetArchive, AddVolume};
    b.z.AddStoreSuffixes = {assGIF, assZIP, assEXE};
    b.z.FSpecArgs = {">a*.txt", "|b.txt", "c.txt<Secret", "d.txt<", "e.txt"};
    b.z.FSpecArgsExcl = {"*.o", "tmp/*"};
    b.z.AddComment = "new comment";
    b.z.SetRootDir("/data/root");
    EXPECT_EQ(b.z.RootDir(), "/data/root/");
    b.z.Add();
    const RecordedZipCall& c = *rec.last();
    ASSERT_EQ(c.calls, 1);
    const ZipExecRecord& r = c.rec;
    EXPECT_EQ(r.Version, 160);
    EXPECT_EQ(r.Caller, &b.z);
    EXPECT_EQ(r.Handle, nullptr);
    EXPECT_NE(r.Callback, nullptr);
    EXPECT_EQ(r.Seven, 7);
    EXPECT_EQ(r.AlwaysTrue, -1);
    EXPECT_EQ(c.password, "run");
    EXPECT_EQ(c.suffixes, ".gif:.zip:.exe");
    EXPECT_EQ(r.Encrypt, -1);
    EXPECT_EQ(r.SystemFiles, -1);
    EXPECT_EQ(r.Volume, -1);
    EXPECT_EQ(r.NoDirEntries, 0) << "separate folder entries";
    EXPECT_EQ(r.Verbose, -1);
    EXPECT_EQ(r.Level, 4);
    EXPECT_EQ(r.JunkDir, -1) << "folder names are junked unless AddDirNames";
    EXPECT_EQ(r.Recurse, 0xFFFF);
    EXPECT_EQ(r.Reserved78, 0);
    EXPECT_EQ(r.Grow, -1);
    EXPECT_EQ(r.ForceDOS, -1);
    EXPECT_EQ(r.Move, -1);
    EXPECT_EQ(r.DeleteEntries, 0);
    EXPECT_EQ(r.Update, -1);
    EXPECT_EQ(r.Freshen, 0) << "freshen gives way to update";
    EXPECT_EQ(r.LatestTime, -1);
    EXPECT_EQ(c.archive, "/tmp/never-written.zip");
    EXPECT_EQ(c.tempDir, "/tmp");
    EXPECT_EQ(c.comment, "new comment");
    EXPECT_EQ(r.ArchiveOnly, 1);
    EXPECT_EQ(r.ResetArchive, 1);
    EXPECT_EQ(c.exclusions, (std::vector<std::string>{"*.o", "tmp/*"}));
    EXPECT_EQ(c.specs, (std::vector<std::string>{"a*.txt", "b.txt", "c.txt", "d.txt", "e.txt"}));
    EXPECT_EQ(c.recurse, (std::vector<uint16_t>{0xFFFF, 0, 0xFFFF, 0xFFFF, 0xFFFF}));
    EXPECT_EQ(c.encrypt, (std::vector<int32_t>{-1, -1, 65535, 0, -1}));
    EXPECT_EQ(c.passwords[2], "Secret");
    EXPECT_EQ(c.passwords[3], "<null>");
    EXPECT_EQ(c.roots[0], "/data/root/");
    // Used up by the add.
    EXPECT_TRUE(b.z.FSpecArgs.empty());
    EXPECT_TRUE(b.z.FSpecArgsExcl.empty());
    EXPECT_FALSE(b.z.AddComment.has_value());
    EXPECT_FALSE(b.z.AddBusy());
}

// File names may themselves hold the marker characters: a name with "<" must not lose its tail to a password,
// and a name beginning with ">" or "|" must keep that character once a marker stands before it.
TEST(ZipBridgeAddRecord, NamesHoldingMarkerCharactersSurviveTheirOwnMarkers) {
    Recorder rec;
    ASSERT_NE(rec.last, nullptr) << dlerror();
    AddBridge b;
    b.z.SetDLLDirectory(VARNOK_ZIPDLL_RECORD_DIR);
    b.z.SetZipFileName("/tmp/never-written.zip");
    b.z.FSpecArgs = {"|a<b.txt<", ">>arrow<pw", "||pipe.txt<"};
    b.z.Add();
    const RecordedZipCall& c = *rec.last();
    EXPECT_EQ(c.specs, (std::vector<std::string>{"a<b.txt", ">arrow", "|pipe.txt"}));
    EXPECT_EQ(c.recurse, (std::vector<uint16_t>{0, 0xFFFF, 0}));
    EXPECT_EQ(c.encrypt, (std::vector<int32_t>{0, 65535, 0}));
    EXPECT_EQ(c.passwords[1], "pw");
}

TEST(ZipBridgeAddRecord, DeleteCarriesOnlyTheSpecifications) {
    Recorder rec;
    ASSERT_NE(rec.last, nullptr);
    Files f;
    WriteFile(f.zip, std::string("PK\5\6") + std::string(18, '\0'));
    AddBridge b;
    b.z.SetDLLDirectory(VARNOK_ZIPDLL_RECORD_DIR);
    b.z.SetZipFileName(f.zip.string());
    b.z.Password = "run";
    b.z.AddOptions = {AddRecurseDirs, AddMove, AddEncrypt};
    b.z.FSpecArgs = {">x.txt<pw", TZipBridge::ExactSpec("docs/")};
    b.z.Delete();
    const RecordedZipCall& c = *rec.last();
    EXPECT_EQ(c.rec.DeleteEntries, -1);
    EXPECT_EQ(c.rec.Grow, 0);
    EXPECT_EQ(c.rec.Encrypt, 0);
    EXPECT_EQ(c.rec.Move, 0);
    EXPECT_EQ(c.rec.JunkDir, 0);
    EXPECT_EQ(c.rec.Recurse, 0);
    EXPECT_EQ(c.specs, (std::vector<std::string>{">x.txt<pw", "\\docs/"})) << "markers mean nothing to delete";
    EXPECT_EQ(c.encrypt, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(c.passwords, (std::vector<std::string>{"<null>", "<null>"}));
}

TEST(ZipBridgeAddRecord, RefusalsBeforeAnyCall) {
    Recorder rec;
    ASSERT_NE(rec.last, nullptr);
    const int before = rec.last()->calls;
    Files f;
    AddBridge b;
    b.z.SetDLLDirectory(VARNOK_ZIPDLL_RECORD_DIR);
    b.z.SetZipFileName(f.zip.string());
    EXPECT_EQ(b.z.Add(), 0);
    EXPECT_TRUE(b.Said("Error - no files to zip!"));
    EXPECT_EQ(b.z.Delete(), 0);
    EXPECT_TRUE(b.Said("Error - no files selected for deletion"));
    b.z.AddOptions = {AddEncrypt};
    b.z.FSpecArgs = {"x"};
    EXPECT_EQ(b.z.Add(), 0);
    EXPECT_TRUE(b.Said("Unattended action not possible without a password"));
    b.z.AddOptions = {AddDiskSpan, AddUpdate};
    b.z.FSpecArgs = {"x"};
    EXPECT_EQ(b.z.Add(), 0);
    EXPECT_TRUE(b.Said("AddFreshen or AddUpdate not possible on a spanned archive"));
    b.z.AddOptions = {};
    b.z.Password = std::string(81, 'p');
    b.z.FSpecArgs = {"x"};
    EXPECT_EQ(b.z.Add(), 0);
    TZipBridge none;
    none.Unattended = true;
    none.FSpecArgs = {"x"};
    EXPECT_EQ(none.Add(), 0);
    EXPECT_EQ(none.ErrCode(), 10102);
    EXPECT_EQ(rec.last()->calls, before) << "nothing reached the library";
    EXPECT_FALSE(fs::exists(f.zip));
}

TEST(ZipBridgeAddLibrary, LoadedOnlyFromTheProgramsFolders) {
    TempDir planted;
    WriteFile(planted / TZipBridge::kZipDllName, std::string("not a library"));
    const fs::path cwd = fs::current_path();
    fs::current_path(planted.Path());
    AddBridge b;
    EXPECT_TRUE(b.z.LoadZipDll());
    fs::current_path(cwd);
    EXPECT_EQ(fs::path(b.z.ZipDllPath()).filename(), TZipBridge::kZipDllName);
    EXPECT_EQ(b.z.ZipDllPath().find(planted.Path().string()), std::string::npos);
    EXPECT_EQ(b.z.ZipDllVersion(), 160);
    b.z.UnloadZipDll();
    AddBridge rel;
    rel.z.SetDLLDirectory("relative/folder");
    EXPECT_FALSE(rel.z.LoadZipDll());
    EXPECT_EQ(rel.z.ErrCode(), 10604);
    EXPECT_TRUE(rel.Said("ZIPDLL.DLL not found!"));
}

// ---- real archives through the engine library ----

TEST(ZipBridgeAdd, AddThenDeleteListsAndPassesThePeers) {
    Files f;
    AddBridge b;
    std::vector<int> kinds;
    b.z.OnProgress = [&](TZipBridge&, int kind, const std::string&, int64_t) { kinds.push_back(kind); };
    b.z.SetZipFileName(f.zip.string());
    b.z.SetRootDir(f.src.string());
    b.z.AddOptions = {AddDirNames, AddRecurseDirs};
    b.z.FSpecArgs = {"*.txt"};
    EXPECT_EQ(b.z.Add(), 3);
    EXPECT_EQ(Names(b.z), (std::vector<std::string>{"one.txt", "sub/three.txt", "two.txt"}));
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), 3), kinds.end()) << "total files";
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), 0), kinds.end()) << "new file";
    EXPECT_EQ(kinds.back(), 2) << "end of batch last";
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -tq " + test::Quote(f.zip) + " >/dev/null"), 0);
    }
    if (test::HaveTool("7z")) {
        EXPECT_EQ(test::Run("7z t " + test::Quote(f.zip) + " >/dev/null"), 0);
    }
    b.z.FSpecArgs = {TZipBridge::ExactSpec("sub/")};
    EXPECT_EQ(b.z.Delete(), 1);
    EXPECT_EQ(Names(b.z), (std::vector<std::string>{"one.txt", "two.txt"}));
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -tq " + test::Quote(f.zip) + " >/dev/null"), 0);
    }
}

// Adding with disk spanning makes a new spanned set: the add goes to an ordinary ZIP in a private folder, which
// is then spread over numbered volumes; the set joins back to the same entries and nothing else is left.
TEST(ZipBridgeAdd, DiskSpanningAddMakesASetThatJoinsBack) {
    Files f;
    std::string big(300000, '\0');
    uint64_t x = 88172645463325252u;  // xorshift: data that does not compress
    for (auto& c : big) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 32);
    }
    WriteFile(f.src / "big.bin", big);
    fs::create_directory(f.dir / "tmp");
    AddBridge b;
    b.z.TempDir = (f.dir / "tmp").string();
    b.z.SetZipFileName(f.zip.string());
    b.z.SetRootDir(f.src.string());
    b.z.AddOptions = {AddDirNames, AddRecurseDirs, AddDiskSpan};
    b.z.MaxVolumeSize = 100000;
    b.z.FSpecArgs = {"*.*"};
    EXPECT_EQ(b.z.Add(), 4);
    ASSERT_GE(b.z.SpanVolumes().size(), 3u);
    for (const auto& v : b.z.SpanVolumes()) EXPECT_LE(fs::file_size(v), 100000u) << v;
    EXPECT_TRUE(fs::is_empty(f.dir / "tmp"));
    std::string joined = (f.dir / "joined.zip").string();
    ASSERT_EQ(b.z.ReadSpan(b.z.SpanVolumes().back(), joined), 0);
    TZipBridge j;
    j.SetZipFileName(joined);
    EXPECT_EQ(Names(j), (std::vector<std::string>{"big.bin", "one.txt", "sub/three.txt", "two.txt"}));
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -tq " + test::Quote(joined) + " >/dev/null"), 0);
    }
    // A set that exists is not added to.
    b.z.SetZipFileName(b.z.SpanVolumes().back());
    b.z.AddOptions = {AddDiskSpan};
    b.z.FSpecArgs = {"one.txt"};
    EXPECT_EQ(b.z.Add(), 0);
}

TEST(ZipBridgeAdd, PasswordPromptsMustMatchExactly) {
    Files f;
    std::vector<std::string> answers;
    std::vector<std::string> prompts;
    AddBridge b;
    b.z.Unattended = false;
    b.z.PasswordDialog = [&](const PasswordPrompt& p, std::string& pw) {
        prompts.push_back(p.Prompt);
        EXPECT_EQ(p.Caption, "Password");
        EXPECT_EQ(p.MaxLength, 80u);
        if (answers.empty()) return false;
        pw = answers.front();
        answers.erase(answers.begin());
        return true;
    };
    b.z.SetZipFileName(f.zip.string());
    b.z.SetRootDir(f.src.string());
    b.z.AddOptions = {AddEncrypt};
    // Two entries that differ only in case are two different passwords.
    answers = {"Secret", "secret"};
    b.z.FSpecArgs = {"one.txt"};
    EXPECT_EQ(b.z.Add(), 0);
    EXPECT_EQ(prompts, (std::vector<std::string>{"Enter Password ", "Confirm Password "}));
    EXPECT_TRUE(b.Said("Error - passwords do NOT match\nPassword ignored"));
    EXPECT_FALSE(fs::exists(f.zip));
    answers = {"Secret", "Secret"};
    b.z.FSpecArgs = {"one.txt"};
    EXPECT_EQ(b.z.Add(), 1);
    ASSERT_EQ(b.z.Count(), 1);
    EXPECT_TRUE(b.z.Entry(0).Encrypted);
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -P Secret -tq " + test::Quote(f.zip) + " >/dev/null"), 0);
        EXPECT_NE(test::Run("unzip -P secret -tq " + test::Quote(f.zip) + " >/dev/null 2>&1"), 0);
    }
}

TEST(ZipBridgeAdd, OwnPasswordItemAndClearItem) {
    Files f;
    AddBridge b;
    b.z.SetZipFileName(f.zip.string());
    b.z.SetRootDir(f.src.string());
    b.z.Password = "global";
    b.z.AddOptions = {AddEncrypt};
    b.z.FSpecArgs = {"one.txt<Mine", "two.txt<"};
    EXPECT_EQ(b.z.Add(), 2);
    ASSERT_EQ(b.z.Count(), 2);
    for (const auto& e : b.z.Entries())
        EXPECT_EQ(e.Encrypted, e.FileName == "one.txt") << e.FileName;
    if (test::HaveTool("unzip")) {
        std::string out;
        EXPECT_EQ(test::Run("unzip -P Mine -p " + test::Quote(f.zip) + " one.txt", &out), 0);
        EXPECT_EQ(out, std::string(2000, '1'));
    }
}

TEST(ZipBridgeAdd, CancelledMoveLeavesArchiveAndSources) {
    Files f;
    AddBridge b;
    b.z.SetZipFileName(f.zip.string());
    b.z.SetRootDir(f.src.string());
    b.z.FSpecArgs = {"two.txt"};
    ASSERT_EQ(b.z.Add(), 1);
    const std::vector<uint8_t> before = ReadFile(f.zip);
    b.z.OnProgress = [](TZipBridge& z, int kind, const std::string&, int64_t) {
        if (kind == 0) z.SetCancel(true);
    };
    b.z.AddOptions = {AddMove};
    b.z.FSpecArgs = {"one.txt", ">sub"};
    EXPECT_EQ(b.z.Add(), 0);
    EXPECT_EQ(ReadFile(f.zip), before);
    EXPECT_TRUE(fs::exists(f.src / "one.txt"));
    EXPECT_TRUE(fs::exists(f.src / "sub" / "three.txt"));
    EXPECT_FALSE(b.z.Cancel()) << "cleared when the add ends";
    b.z.OnProgress = nullptr;
    b.z.AddOptions = {AddMove, AddDirNames};
    b.z.FSpecArgs = {"one.txt"};
    EXPECT_EQ(b.z.Add(), 1);
    EXPECT_FALSE(fs::exists(f.src / "one.txt"));
    EXPECT_EQ(Names(b.z), (std::vector<std::string>{"one.txt", "two.txt"}));
}

TEST(ZipBridgeAdd, ArchiveCommentAndLibraryMessagesWithTheirCodes) {
    Files f;
    AddBridge b;
    b.z.SetZipFileName(f.zip.string());
    b.z.SetRootDir(f.src.string());
    b.z.AddComment = "from the bridge";
    b.z.FSpecArgs = {"one.txt", "missing.txt"};
    EXPECT_EQ(b.z.Add(), 1);
    EXPECT_EQ(b.z.ZipComment(), "from the bridge");
    bool sourceMessage = false;
    for (const auto& m : b.messages)
        sourceMessage = sourceMessage || (m.first == zenSource && m.second.find("missing.txt") != std::string::npos);
    EXPECT_TRUE(sourceMessage);
}

}  // namespace
}  // namespace varnok
