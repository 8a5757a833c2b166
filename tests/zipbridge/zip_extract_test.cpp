// TZipBridge's extract call through the extract engine library: real archives, passwords, progress and
// questions, extraction to memory, loading the library and its messages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstring>
#include <map>
#include <stdexcept>

#include "engines/unzdll/unzdll.h"
#include "platform/drive.h"
#include "tests/engines/encrypted_zip.h"
#include "tests/support/builders.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "zipbridge/zip_bridge.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

struct Bridge {
    TZipBridge z;
    std::vector<std::pair<int, std::string>> messages;  // code, text
    std::vector<std::tuple<int, std::string, int64_t>> progress;
    std::vector<std::tuple<std::string, int, int>> skipped;
    explicit Bridge(const fs::path& archive = {}) {
        z.Unattended = true;
        z.OnMessage = [this](TZipBridge&, int code, const std::string& m) { messages.push_back({code, m}); };
        z.OnProgress = [this](TZipBridge&, int kind, const std::string& name, int64_t n) {
            progress.push_back({kind, name, n});
        };
        z.OnExtractSkipped = [this](TZipBridge&, const std::string& name, int type, int error) {
            skipped.push_back({name, type, error});
        };
        if (!archive.empty()) z.SetZipFileName(archive.string());
    }
    bool Said(const std::string& text) const {
        for (const auto& [c, m] : messages)
            if (m.find(text) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> NewFiles() const {
        std::vector<std::string> r;
        for (const auto& [k, n, v] : progress)
            if (k == 0) r.push_back(n);
        return r;
    }
};

std::string Data(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        s[i] = (i % 3 == 0) ? static_cast<char>(x >> 24) : "abcdefgh \n"[(x >> 16) % 10];
    }
    return s;
}

std::map<std::string, std::string> MakeTree(const fs::path& dir) {
    std::map<std::string, std::string> files = {
        {"small.txt", "hello, world\n"},
        {"docs/text.txt", Data(70000, 1)},
        {"docs/deep/random.bin", Data(300000, 2)},
    };
    for (const auto& [n, d] : files)
        test::WriteFile(dir / n, d);
    return files;
}

TEST(ZipBridgeExtract, InfoZipArchivesPlainAndEncrypted) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    auto files = MakeTree(d / "src");
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") +
                        " && zip -q -r -9 ../plain.zip . && zip -q -r -e -P 'Se cret' "
                        "../enc.zip ."),
              0);
    {
        Bridge b(d / "plain.zip");
        b.z.ExtrBaseDir = (d / "out").string();
        b.z.ExtrOptions = {ExtrDirNames};
        b.z.FSpecArgs = {"*.*"};
        EXPECT_EQ(b.z.Extract(), 3);
        EXPECT_EQ(b.z.SuccessCnt(), 3);
        EXPECT_TRUE(b.z.FSpecArgs.empty());
        EXPECT_FALSE(b.z.UnzDllLoaded());  // loaded for the call only
        for (const auto& [n, data] : files)
            EXPECT_EQ(test::ReadText(d / "out" / n), data) << n;
        // Progress: the totals, a new file per entry, the bytes, the end of the batch.
        ASSERT_FALSE(b.progress.empty());
        EXPECT_EQ(std::get<0>(b.progress.front()), 3);
        EXPECT_EQ(std::get<2>(b.progress.front()), 3);
        EXPECT_EQ(std::get<0>(b.progress[1]), 4);
        EXPECT_EQ(std::get<2>(b.progress[1]), 13 + 70000 + 300000);
        EXPECT_EQ(std::get<0>(b.progress.back()), 2);
        int64_t bytes = 0;
        for (const auto& [k, n, v] : b.progress)
            bytes += k == 1 ? v : 0;
        EXPECT_EQ(bytes, 13 + 70000 + 300000);
        EXPECT_EQ(b.NewFiles().size(), 3u);
    }
    {
        // Without folder names the file lands in the destination itself; the exact form selects one entry.
        Bridge b(d / "plain.zip");
        b.z.ExtrBaseDir = (d / "flat").string();
        b.z.FSpecArgs = {TZipBridge::ExactSpec("docs/deep/random.bin"), "SMALL.TXT"};
        EXPECT_EQ(b.z.Extract(), 2);
        EXPECT_TRUE(fs::exists(d / "flat" / "random.bin"));
        EXPECT_TRUE(fs::exists(d / "flat" / "small.txt"));
        EXPECT_FALSE(fs::exists(d / "flat" / "docs"));
    }
    {
        Bridge b(d / "enc.zip");
        b.z.ExtrBaseDir = (d / "dec").string();
        b.z.ExtrOptions = {ExtrDirNames};
        b.z.Password = "Se cret";
        EXPECT_EQ(b.z.Extract(), 3);
        for (const auto& [n, data] : files)
            EXPECT_EQ(test::ReadText(d / "dec" / n), data) << n;
        // Testing decodes everything and writes nothing.
        Bridge t(d / "enc.zip");
        t.z.Password = "Se cret";
        t.z.ExtrOptions = {ExtrTest};
        t.z.ExtrBaseDir = (d / "tested").string();
        EXPECT_EQ(t.z.Extract(), 3);
        EXPECT_FALSE(fs::exists(d / "tested"));
    }
}

TEST(ZipBridgeExtract, PasswordsFromTheEventAndThePrompt) {
    TempDir d;
    test::WriteFile(d / "e.zip", test::BuildEncryptedZip({{"a.txt", "alpha"}, {"b.txt", "beta"}}, "right",
                                                         {"wrong", "other"}));
    {
        // The event answers wrong, then right; it sees the repeat count and may change it.
        Bridge b(d / "e.zip");
        b.z.ExtrBaseDir = (d / "ev").string();
        b.z.SetPasswordReqCount(3);
        std::vector<unsigned> counts;
        b.z.OnPasswordError = [&](TZipBridge&, std::string& pw, const std::string& name, unsigned& repeat) {
            EXPECT_EQ(name, "a.txt");
            counts.push_back(repeat);
            pw = counts.size() < 2 ? "wrong" : "right";
        };
        EXPECT_EQ(b.z.Extract(), 2);
        EXPECT_EQ(counts, (std::vector<unsigned>{2, 1}));
        EXPECT_EQ(test::ReadText(d / "ev" / "b.txt"), "beta");
        EXPECT_EQ(b.z.PasswordReqCount(), 3u);
    }
    {
        // The built-in prompt: the application's dialog gets the texts; not unattended.
        Bridge b(d / "e.zip");
        b.z.Unattended = false;
        b.z.ExtrBaseDir = (d / "prompt").string();
        std::vector<PasswordPrompt> shown;
        b.z.PasswordDialog = [&](const PasswordPrompt& p, std::string& pw) {
            shown.push_back(p);
            pw = "right";
            return true;
        };
        EXPECT_EQ(b.z.Extract(), 2);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Caption, "Password");
        EXPECT_EQ(shown[0].Prompt, "Enter Password ");
        EXPECT_EQ(shown[0].OkText, "&Ok");
        EXPECT_EQ(shown[0].CancelText, "&Cancel");
        EXPECT_EQ(shown[0].MaxLength, 80u);
    }
    {
        // Not unattended but no dialog to show: 10151, and the entries are skipped for want of a password.
        Bridge b(d / "e.zip");
        b.z.Unattended = false;
        b.z.ExtrBaseDir = (d / "nodialog").string();
        EXPECT_EQ(b.z.Extract(), 0);
        EXPECT_TRUE(b.Said("Error - no extract password given"));
        ASSERT_EQ(b.skipped.size(), 2u);
        EXPECT_EQ(std::get<1>(b.skipped[0]), zstPassword);
        EXPECT_EQ(b.z.ErrCode(), uenPassword);
    }
    {
        // Unattended without password or event: no one is asked, 10502 warns; the count comes back
        // afterwards.
        Bridge b(d / "e.zip");
        b.z.ExtrBaseDir = (d / "unattended").string();
        b.z.SetPasswordReqCount(4);
        int asked = 0;
        b.z.PasswordDialog = [&](const PasswordPrompt&, std::string&) {
            ++asked;
            return false;
        };
        EXPECT_EQ(b.z.Extract(), 0);
        EXPECT_EQ(asked, 0);
        EXPECT_TRUE(b.Said("Warning - Unattended Extract: possible not all files extracted"));
        EXPECT_EQ(b.z.PasswordReqCount(), 4u);
        EXPECT_FALSE(fs::exists(d / "unattended" / "a.txt"));
    }
    {
        // A password the record cannot carry is refused, not cut.
        Bridge b(d / "e.zip");
        b.z.ExtrBaseDir = (d / "long").string();
        b.z.Password = std::string(81, 'x');
        EXPECT_EQ(b.z.Extract(), 0);
        EXPECT_TRUE(b.Said("at most 80 characters"));
        EXPECT_TRUE(b.NewFiles().empty());
        b.z.SetPasswordReqCount(20);
        EXPECT_EQ(b.z.PasswordReqCount(), 15u);
    }
}

TEST(ZipBridgeExtract, OverwriteCrcAndCancelThroughTheEvents) {
    TempDir d;
    auto z = test::BuildZip({{"keep.txt", "from archive"},
                             {"bad.txt", "damaged data!"},
                             {"big.bin", Data(2 << 20, 9)},
                             {"after.txt", "later"}});
    std::string s(z.begin(), z.end());
    z[s.find("damaged data!")] ^= 1;
    test::WriteFile(d / "x.zip", z);
    test::WriteFile(d / "out" / "keep.txt", "mine");
    struct utimbuf old {
        946684800, 946684800
    };
    ASSERT_EQ(utime((d / "out" / "keep.txt").c_str(), &old), 0);

    Bridge b(d / "x.zip");
    b.z.ExtrBaseDir = (d / "out").string();
    std::vector<std::pair<std::string, bool>> asked;
    b.z.OnExtractOverwrite = [&](TZipBridge&, const std::string& name, bool older, bool& overwrite) {
        asked.push_back({name, older});
        EXPECT_FALSE(overwrite);  // the default without ExtrOverWrite
    };
    std::vector<std::tuple<std::string, uint32_t, uint32_t>> crc;
    b.z.OnCRC32Error = [&](TZipBridge&, const std::string& name, uint32_t found, uint32_t expected,
                           bool& anyway) {
        crc.push_back({name, found, expected});
        anyway = false;
    };
    // Cancel in the middle of the big file.
    b.z.OnProgress = [&](TZipBridge& sender, int kind, const std::string&, int64_t n) {
        if (kind == 1 && n > 100000) sender.SetCancel(true);
    };
    EXPECT_EQ(b.z.Extract(), 0);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, (d / "out" / "keep.txt").string());
    EXPECT_TRUE(asked[0].second);
    EXPECT_EQ(test::ReadText(d / "out" / "keep.txt"), "mine");
    ASSERT_EQ(crc.size(), 1u);
    EXPECT_EQ(std::get<0>(crc[0]), "bad.txt");
    EXPECT_EQ(std::get<2>(crc[0]), Crc32("damaged data!", 13));
    EXPECT_NE(std::get<1>(crc[0]), std::get<2>(crc[0]));
    EXPECT_FALSE(fs::exists(d / "out" / "bad.txt"));  // "not anyway": the damaged file is removed
    EXPECT_FALSE(fs::exists(d / "out" / "big.bin"));  // the file cut short by Cancel is removed
    EXPECT_FALSE(fs::exists(d / "out" / "after.txt"));
    EXPECT_FALSE(b.z.Cancel());
    ASSERT_FALSE(b.skipped.empty());
    EXPECT_EQ(std::get<0>(b.skipped[0]), "keep.txt");
    EXPECT_EQ(std::get<1>(b.skipped[0]), zstExisting);

    // With ExtrOverWrite and no handler: the answers are the defaults.
    Bridge o(d / "x.zip");
    o.z.ExtrBaseDir = (d / "out").string();
    o.z.ExtrOptions = {ExtrOverWrite};
    o.z.FSpecArgs = {"keep.txt", "bad.txt"};
    EXPECT_EQ(o.z.Extract(), 1);
    EXPECT_EQ(test::ReadText(d / "out" / "keep.txt"), "from archive");
    EXPECT_TRUE(fs::exists(d / "out" / "bad.txt"));  // no CRC handler: the library keeps the data
    EXPECT_EQ(o.z.ErrCode(), uenData);

    // A failing handler stops the run and is reported as the library's fatal error.
    Bridge f(d / "x.zip");
    f.z.ExtrBaseDir = (d / "fail").string();
    f.z.OnProgress = [](TZipBridge&, int kind, const std::string&, int64_t) {
        if (kind == 0) throw std::runtime_error("handler broke");
    };
    EXPECT_EQ(f.z.Extract(), 0);
    EXPECT_TRUE(f.Said("Fatal Error in UnzDLL.DLL: abort exception"));
    EXPECT_TRUE(f.Said("handler broke"));
    EXPECT_FALSE(fs::exists(d / "fail" / "keep.txt"));
}

TEST(ZipBridgeExtract, ToMemory) {
    TempDir d;
    const std::string body = Data(50000, 4);
    test::WriteFile(
        d / "m.zip",
        test::BuildZip({{"Docs/Read*Me.txt", body}, {"docs/read*me.txt", "lower"}, {"only/One.txt", "one"}}));
    Bridge b(d / "m.zip");
    b.z.FSpecArgs = {"docs/read*me.txt"};
    EXPECT_EQ(b.z.ExtractToMemory(), 1);
    EXPECT_EQ(std::string(b.z.MemoryStream().begin(), b.z.MemoryStream().end()), "lower");
    EXPECT_TRUE(b.z.FSpecArgs.empty());
    b.z.FSpecArgs = {"Docs/Read*Me.txt"};
    EXPECT_EQ(b.z.ExtractToMemory(), 1);
    EXPECT_EQ(std::string(b.z.MemoryStream().begin(), b.z.MemoryStream().end()), body);
    // No exact match: the name that differs only in case.
    b.z.FSpecArgs = {"ONLY/one.TXT"};
    EXPECT_EQ(b.z.ExtractToMemory(), 1);
    EXPECT_EQ(std::string(b.z.MemoryStream().begin(), b.z.MemoryStream().end()), "one");
    b.z.FSpecArgs = {"missing.txt"};
    EXPECT_EQ(b.z.ExtractToMemory(), 0);
    EXPECT_TRUE(b.z.MemoryStream().empty());
    // A library of version 151 cannot extract to memory.
    Bridge old(d / "m.zip");
    old.z.SetDLLDirectory(VARNOK_UNZDLL151_DIR);
    old.z.FSpecArgs = {"only/One.txt"};
    EXPECT_EQ(old.z.ExtractToMemory(), 0);
    EXPECT_EQ(old.z.ErrCode(), 10503);
    EXPECT_TRUE(old.Said("Error - your UnzDLL.dll can not use streams, please update to version >= 1.60"));
}

TEST(ZipBridgeExtract, LoadingTheLibrary) {
    TempDir d;
    test::WriteFile(d / "a.zip", test::BuildZip({{"a.txt", "A"}, {"b.txt", "B"}}));
    {
        // The default: the program's own lib/varnok folder; Trace reports the load.
        Bridge b;
        b.z.Trace = true;
        ASSERT_TRUE(b.z.LoadUnzDll());
        EXPECT_TRUE(b.Said("UNZDLL Loaded!"));
        EXPECT_NE(b.z.UnzDllPath().find("/lib/varnok/libvarnok-unzdll.so"), std::string::npos);
        EXPECT_EQ(b.z.UnzDllVersion(), 160);
        b.z.UnloadUnzDll();
        EXPECT_FALSE(b.z.UnzDllLoaded());
        // The version query loads the library for the question only.
        EXPECT_EQ(b.z.UnzDllVersion(), 160);
        EXPECT_FALSE(b.z.UnzDllLoaded());
    }
    {
        // A folder without the library, a relative folder, a library without the extract entry point.
        Bridge b(d / "a.zip");
        fs::create_directories(d / "empty");
        b.z.SetDLLDirectory((d / "empty").string() + "/");
        EXPECT_EQ(b.z.DLLDirectory(), (d / "empty").string());
        EXPECT_EQ(b.z.Extract(), 0);
        EXPECT_EQ(b.z.ErrCode(), 10704);
        EXPECT_TRUE(b.Said("UNZDLL.DLL not found!"));
        b.z.SetDLLDirectory("lib/varnok");
        EXPECT_FALSE(b.z.LoadUnzDll());
        EXPECT_EQ(b.z.ErrCode(), 10704);
        b.z.SetDLLDirectory(VARNOK_UNZDLL_NOEXEC_DIR);
        EXPECT_FALSE(b.z.LoadUnzDll());
        EXPECT_EQ(b.z.ErrCode(), 10702);
        EXPECT_TRUE(b.Said("UnzDllExec function not found in UNZDLL.DLL!"));
        EXPECT_EQ(b.z.UnzDllVersion(), 0);
    }
    {
        // A library planted beside the archive or in the current folder is never loaded.
        fs::copy_file(fs::path(VARNOK_UNZDLL_NOEXEC_DIR) / TZipBridge::kUnzDllName,
                      d / TZipBridge::kUnzDllName);
        char cwd[4096];
        ASSERT_TRUE(getcwd(cwd, sizeof cwd));
        ASSERT_EQ(chdir(d.Path().c_str()), 0);
        Bridge b(d / "a.zip");
        b.z.ExtrBaseDir = (d / "out").string();
        int n = b.z.Extract();
        ASSERT_EQ(chdir(cwd), 0);
        EXPECT_EQ(n, 2);
    }
    {
        // An old library gets the old record and still extracts into the chosen folder.
        Bridge b(d / "a.zip");
        b.z.SetDLLDirectory(VARNOK_UNZDLL151_DIR);
        b.z.ExtrBaseDir = (d / "old").string();
        fs::create_directories(d / "old");
        char before[4096], after[4096];
        ASSERT_TRUE(getcwd(before, sizeof before));
        b.z.FSpecArgs = {"b.txt"};
        EXPECT_EQ(b.z.Extract(), 1);
        ASSERT_TRUE(getcwd(after, sizeof after));
        EXPECT_STREQ(before, after);
        EXPECT_EQ(test::ReadText(d / "old" / "b.txt"), "B");
        EXPECT_FALSE(fs::exists(d / "old" / "a.txt"));
    }
    {
        Bridge b;
        b.z.FSpecArgs = {"x"};
        EXPECT_EQ(b.z.Extract(), 0);
        EXPECT_EQ(b.z.ErrCode(), 10102);
        EXPECT_TRUE(b.z.FSpecArgs.empty());
    }
}

TEST(ZipBridgeExtract, SplitSetAsItIs) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    auto files = MakeTree(d / "src");
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -r -0 -s 100k ../set.zip ."), 0);
    ASSERT_TRUE(fs::exists(d / "set.z01"));
    Bridge b(d / "set.zip");
    EXPECT_TRUE(b.z.IsSpanned());
    b.z.ExtrBaseDir = (d / "out").string();
    b.z.ExtrOptions = {ExtrDirNames};
    EXPECT_EQ(b.z.Extract(), 3);
    for (const auto& [n, data] : files)
        EXPECT_EQ(test::ReadText(d / "out" / n), data) << n;
}

// The callback record as the libraries fill it: answers are written back within the text area's 512 bytes.
TEST(ZipBridgeExtract, CallbackAnswersStayInsideTheRecord) {
    Bridge b;
    ZipCallbackRecord r;
    auto call = [&](int action, int32_t v20, int32_t v24, const std::string& text) {
        std::memset(&r, 0, sizeof r);
        r.Caller = &b.z;
        r.ActionCode = action;
        r.ErrorCode = v20;
        r.FileSize = v24;
        std::memcpy(r.Text, text.data(), std::min(text.size(), sizeof r.Text));  // possibly unterminated
        return TZipBridge::EngineCallback(&r);
    };
    // A new name of 511 characters fits with its terminator; one of 512 is refused and the old name stays.
    std::string next(511, 'n');
    b.z.OnSetNewName = [&](TZipBridge&, std::string& name, bool& changed) {
        EXPECT_EQ(name, "dir/old.txt");  // "\" is read as "/"
        name = next;
        changed = true;
    };
    EXPECT_EQ(call(zacNewName, 0, 0, "dir\\old.txt"), 0);
    EXPECT_EQ(r.ErrorCode, 1);
    EXPECT_EQ(std::string(r.Text), next);
    next = std::string(512, 'n');
    call(zacNewName, 0, 0, "dir/old.txt");
    EXPECT_EQ(r.ErrorCode, 0);
    EXPECT_EQ(std::string(r.Text), "dir/old.txt");
    EXPECT_EQ(b.z.ErrCode(), 10505);
    // An incoming text without a terminator is read no further than the area.
    std::string seen;
    b.z.OnProgress = [&](TZipBridge&, int, const std::string& name, int64_t) { seen = name; };
    call(zacNewFile, 0, 7, std::string(600, 'x'));
    EXPECT_EQ(seen.size(), 512u);
    // File comments: at most 511 characters, the length at 24.
    b.z.OnFileComment = [](TZipBridge&, const std::string&, std::string& comment, bool& changed) {
        comment = "a comment";
        changed = true;
    };
    call(zacFileComment, 0, 0, "f.txt");
    EXPECT_EQ(std::string(r.Text), "a comment");
    EXPECT_EQ(r.ErrorCode, 1);
    EXPECT_EQ(r.FileSize, 9);
    // The adding prompt asks twice and compares the entries exactly, letter case included.
    b.z.Unattended = false;
    std::vector<std::string> answers = {"Secret", "secret"};
    std::vector<std::string> prompts;
    b.z.PasswordDialog = [&](const PasswordPrompt& p, std::string& pw) {
        prompts.push_back(p.Prompt);
        pw = answers[prompts.size() - 1];
        return true;
    };
    call(zacPassword, 1, 3, "new.txt");
    EXPECT_EQ(prompts, (std::vector<std::string>{"Enter Password ", "Confirm Password "}));
    EXPECT_EQ(r.ErrorCode, 0);
    EXPECT_EQ(r.FileSize, 0);
    EXPECT_TRUE(b.Said("Error - passwords do NOT match\nPassword ignored"));
    answers = {"Secret", "Secret"};
    prompts.clear();
    call(zacPassword, 1, 3, "new.txt");
    EXPECT_EQ(r.ErrorCode, 1);
    EXPECT_EQ(std::string(r.Text), "Secret");
    EXPECT_EQ(r.FileSize, 3);
    // Unattended adding: 10150 and no password.
    b.z.Unattended = true;
    call(zacPassword, 1, 3, "new.txt");
    EXPECT_EQ(r.ErrorCode, 0);
    EXPECT_EQ(b.z.ErrCode(), 10150);
    // Messages carry the library's error value; Cancel is the answer to every callback.
    call(zacMessage, uenWrite, 0, "cannot write");
    EXPECT_EQ(b.messages.back(), std::make_pair(int(uenWrite), std::string("cannot write")));
    EXPECT_EQ(b.z.ErrCode(), uenWrite);
    b.z.SetCancel(true);
    EXPECT_EQ(call(zacProgress, 0, 1, ""), -1);
}

// A set spanned over removable disks: the library asks for each disk through the bridge's disk event.
TEST(ZipBridgeExtract, SetOnRemovableDisks) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    auto files = MakeTree(d / "src");
    fs::create_directories(d / "parts");
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -r -0 -s 100k ../parts/set.zip ."), 0);
    std::vector<fs::path> parts;
    for (int i = 1; fs::exists(d / "parts" / ("set.z0" + std::to_string(i))); ++i)
        parts.push_back(d / "parts" / ("set.z0" + std::to_string(i)));
    parts.push_back(d / "parts" / "set.zip");
    ASSERT_GE(parts.size(), 3u);
    const int last = static_cast<int>(parts.size());
    const fs::path floppy = d / "floppy";
    auto insert = [&](int disk) {
        fs::remove_all(floppy);
        fs::create_directories(floppy);
        fs::copy_file(parts[static_cast<size_t>(disk - 1)], floppy / "set.zip");
        char label[16];
        snprintf(label, sizeof label, "PKBACK# %03d", disk);
        ASSERT_TRUE(platform::MakeStandInDrive(floppy.string(), platform::dkRemovable, label,
                                               static_cast<uint32_t>(disk), 1457664));
    };
    insert(last);
    Bridge b(floppy / "set.zip");
    ASSERT_EQ(b.z.Count(), 3);
    EXPECT_TRUE(b.z.IsSpanned());
    std::vector<int> wanted;
    b.z.OnGetNextDisk = [&](TZipBridge&, int seq, int total, const std::string& drive, bool& abort) {
        wanted.push_back(seq);
        EXPECT_EQ(total, last);
        EXPECT_EQ(drive, floppy.string());
        EXPECT_FALSE(abort);
        insert(seq == 0 ? last : seq);
    };
    b.z.ExtrBaseDir = (d / "out").string();
    b.z.ExtrOptions = {ExtrDirNames};
    EXPECT_EQ(b.z.Extract(), 3);
    for (const auto& [n, data] : files)
        EXPECT_EQ(test::ReadText(d / "out" / n), data) << n;
    EXPECT_FALSE(wanted.empty());
    ASSERT_FALSE(b.progress.empty());
    EXPECT_EQ(b.progress.front(), std::make_tuple(3, std::string(), int64_t{3}));
    // Giving up when a disk is asked for ends the extract.
    insert(last);
    Bridge g(floppy / "set.zip");
    int asked = 0;
    g.z.OnGetNextDisk = [&](TZipBridge&, int, int, const std::string&, bool& abort) {
        ++asked;
        abort = true;
    };
    g.z.ExtrBaseDir = (d / "gave-up").string();
    EXPECT_LT(g.z.Extract(), 3);
    EXPECT_GE(asked, 1);
    EXPECT_LE(asked, 3);
}

// Every ZIP fixture extracts through the bridge and the library to what the peer tools extracted.
TEST(ZipBridgeExtract, FixturesMatchPeers) {
    auto root = test::FixturesDir();
    if (root.empty()) GTEST_SKIP() << "fixtures not available";
    int archives = 0, files = 0;
    TempDir d;
    for (const std::string& path : test::FixturesOfFormat("zip")) {
        const auto& entries = test::ExpectedOf(path);
        if (!test::ExtractedWhole(entries)) continue;
        if (path.find("encrypted") != std::string::npos) continue;
        Bridge b(root / path);
        if (std::string pw = test::PasswordOf(entries); !pw.empty()) b.z.Password = pw;
        auto out = d / std::to_string(archives);
        b.z.ExtrBaseDir = out.string();
        b.z.ExtrOptions = {ExtrDirNames};
        b.z.Extract();
        files += test::ExpectFilesAsPeers(out, entries);
        ++archives;
    }
    EXPECT_GT(archives, 25);
    printf("%d archives, %d files compared\n", archives, files);
}

}  // namespace
}  // namespace varnok
