// The add/delete engine library through its exported entry points: the record layouts, every flag of the
// record and of the file entries, the callback flow and its answers, and above all that a stop, a full disk or
// a bad record leaves the archive byte for byte as it was and moved sources where they were.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/core/bytes.h"
#include "engines/zipdll/zipdll.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct Library {
    void* handle = nullptr;
    ZipDllExecFunc exec = nullptr;
    GetZipDllVersionFunc version = nullptr;
    explicit Library(const char* path) {
        handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        exec = reinterpret_cast<ZipDllExecFunc>(dlsym(handle, "ZipDllExec"));
        version = reinterpret_cast<GetZipDllVersionFunc>(dlsym(handle, "GetZipDllVersion"));
    }
};

const Library& Engine() {
    static Library lib(VARNOK_ZIPDLL_PATH);
    return lib;
}

// ---- record layouts ----

struct Field {
    std::string name;
    size_t offsetHere, sizeHere, offset32, size32, align32;
    bool pointer;
};
#define FIELD_ROW(type, field, offset, size, align, ptr) \
    Field{#field, offsetof(type, field), sizeof(type::field), offset, size, align, ptr != 0},

size_t AlignUp(size_t v, size_t a) { return (v + a - 1) / a * a; }

void CheckLayout(const std::vector<Field>& fields, size_t size32, size_t sizeHere) {
    size_t at32 = 0, atHere = 0, maxAlign = 1;
    for (const auto& f : fields) {
        SCOPED_TRACE(f.name);
        at32 = AlignUp(at32, f.align32);
        EXPECT_EQ(at32, f.offset32) << "the written offsets leave a gap or overlap";
        at32 += f.size32;
        const size_t align = f.pointer ? alignof(void*) : f.align32;
        const size_t size = f.pointer ? f.size32 / 4 * sizeof(void*) : f.size32;
        maxAlign = std::max(maxAlign, align);
        atHere = AlignUp(atHere, align);
        EXPECT_EQ(f.offsetHere, atHere);
        EXPECT_EQ(f.sizeHere, size);
        atHere += size;
    }
    EXPECT_EQ(at32, size32);
    EXPECT_EQ(AlignUp(atHere, maxAlign), sizeHere);
}

TEST(ZipDllRecords, FieldsSitAtTheWrittenOffsets) {
    CheckLayout({ZIP_EXEC_LAYOUT(FIELD_ROW)}, ZIP_EXEC_RECORD_SIZE_32, sizeof(ZipExecRecord));
    CheckLayout({ZIP_FILE_DATA_LAYOUT(FIELD_ROW)}, ZIP_FILE_DATA_SIZE_32, sizeof(ZipFileData));
    CheckLayout({ZIP_EXEC_OLD_LAYOUT(FIELD_ROW)}, ZIP_EXEC_OLD_RECORD_SIZE_32, sizeof(ZipExecRecordOld));
}

TEST(ZipDllLibrary, ExportsBothEntryPointsAndVersion160) {
    ASSERT_NE(Engine().handle, nullptr) << dlerror();
    ASSERT_NE(Engine().exec, nullptr);
    ASSERT_NE(Engine().version, nullptr);
    EXPECT_EQ(Engine().version(), 160);
    // The engine's internals stay inside.
    EXPECT_EQ(dlsym(Engine().handle, "_ZN6varnok6zipdll4ExecEPvi"), nullptr);
}

// ---- reading the result back ----

struct Central {
    std::string name, comment;
    uint16_t flags = 0, method = 0;
    uint32_t dosTime = 0;
};

// The central directory of a ZIP written in one piece (no ZIP64 needed here), and the archive comment.
std::vector<Central> ReadCentral(const fs::path& p, std::string* comment = nullptr) {
    std::vector<uint8_t> b = ReadFile(p);
    std::vector<Central> out;
    if (b.size() < 22) return out;
    size_t e = b.size() - 22;
    while (e > 0 && Le32(&b[e]) != 0x06054B50)
        --e;
    if (Le32(&b[e]) != 0x06054B50) return out;
    if (comment) comment->assign(reinterpret_cast<const char*>(&b[e + 22]), Le16(&b[e + 20]));
    size_t at = Le32(&b[e + 16]);
    for (unsigned n = Le16(&b[e + 10]); n > 0 && at + 46 <= b.size(); --n) {
        Central c;
        c.flags = Le16(&b[at + 8]);
        c.method = Le16(&b[at + 10]);
        c.dosTime = Le32(&b[at + 12]);
        const size_t nl = Le16(&b[at + 28]), xl = Le16(&b[at + 30]), cl = Le16(&b[at + 32]);
        c.name.assign(reinterpret_cast<const char*>(&b[at + 46]), nl);
        c.comment.assign(reinterpret_cast<const char*>(&b[at + 46 + nl + xl]), cl);
        out.push_back(c);
        at += 46 + nl + xl + cl;
    }
    return out;
}

std::vector<std::string> Names(const fs::path& p) {
    std::vector<std::string> n;
    for (const auto& c : ReadCentral(p))
        n.push_back(c.name);
    std::sort(n.begin(), n.end());
    return n;
}

const Central* Find(const std::vector<Central>& v, const std::string& name) {
    for (const auto& c : v)
        if (c.name == name) return &c;
    return nullptr;
}

struct Event {
    int action;
    int32_t value20;
    int64_t value24;
    std::string text;
};

// One call of the library: the record, its file entries, and a recording callback that may answer.
struct Call {
    ZipExecRecord rec;
    static constexpr int32_t kFollow = INT32_MIN;
    struct Item {
        std::string spec, password, root;
        bool hasPassword = false;
        int32_t encrypt = kFollow;  // kFollow: the record's encrypt value
        uint16_t recurse = 0;
    };
    std::vector<Item> items;
    std::vector<ZipFileData> files;
    std::vector<std::string> excl;
    std::vector<const char*> exclPtrs;
    std::string archive, password, suffixes, comment;
    bool hasComment = false;
    std::vector<Event> events;
    std::function<int32_t(ZipCallbackRecord&)> answer;

    Call() {
        std::memset(&rec, 0, sizeof rec);
        rec.Caller = this;
        rec.Version = 160;
        rec.Callback = &Thunk;
        rec.AlwaysTrue = -1;
        rec.Level = 9;
        rec.NoDirEntries = -1;
        rec.JunkDir = 0;
        rec.Grow = -1;
        rec.Seven = 7;
    }
    void Spec(const std::string& s, const fs::path& root, uint16_t recurse = 0) {
        Item i;
        i.spec = s;
        i.root = root.string();
        i.recurse = recurse;
        items.push_back(i);
    }
    static int32_t Thunk(ZipCallbackRecord* r) {
        auto* self = static_cast<Call*>(r->Caller);
        EXPECT_EQ(r->IsOperationZip, 1);
        EXPECT_EQ(r->Version, 160);
        const size_t n = strnlen(r->Text, sizeof r->Text);
        EXPECT_LT(n, sizeof r->Text) << "the text area is not terminated";
        const int64_t size =
            static_cast<int64_t>((uint64_t{r->FileSizeHigh} << 32) | static_cast<uint32_t>(r->FileSize));
        self->events.push_back({r->ActionCode, r->ErrorCode, size, std::string(r->Text, n)});
        return self->answer ? self->answer(*r) : 0;
    }
    int Exec(ZipDllExecFunc f = nullptr) {
        files.assign(items.size(), ZipFileData{});
        for (size_t i = 0; i < items.size(); ++i) {
            files[i].FileSpec = items[i].spec.c_str();
            files[i].Password = items[i].hasPassword ? items[i].password.c_str() : nullptr;
            files[i].Encrypt = items[i].encrypt == kFollow ? rec.Encrypt : items[i].encrypt;
            files[i].Recurse = items[i].recurse;
            files[i].RootDir = items[i].root.empty() ? nullptr : items[i].root.c_str();
        }
        exclPtrs.clear();
        for (const auto& x : excl)
            exclPtrs.push_back(x.c_str());
        rec.ExclCount = static_cast<int32_t>(exclPtrs.size());
        rec.ExclSpecs = exclPtrs.empty() ? nullptr : exclPtrs.data();
        rec.ArgCount = static_cast<int32_t>(files.size());
        rec.FileData = files.empty() ? nullptr : files.data();
        rec.ZipFileName = archive.c_str();
        rec.Password = password.empty() ? nullptr : password.c_str();
        rec.SuffixList = suffixes.empty() ? nullptr : suffixes.c_str();
        rec.ArchComment = hasComment ? comment.c_str() : nullptr;
        return (f ? f : Engine().exec)(&rec);
    }
    std::vector<Event> Of(int action) const {
        std::vector<Event> r;
        for (const auto& e : events)
            if (e.action == action) r.push_back(e);
        return r;
    }
    bool HasError(int value) const {
        for (const auto& e : Of(zacMessage))
            if (e.value20 == value) return true;
        return false;
    }
};

// A source tree: a.txt, b.txt, notes.log, sub/c.txt, sub/x.dat, .hidden.
struct Tree {
    TempDir dir;
    fs::path src = dir / "src";
    fs::path zip = dir / "out.zip";
    Tree() {
        fs::create_directories(src / "sub");
        WriteFile(src / "a.txt", std::string(3000, 'a'));
        WriteFile(src / "b.txt", std::string("bravo bravo bravo bravo bravo"));
        WriteFile(src / "notes.log", std::string("log"));
        WriteFile(src / "sub" / "c.txt", std::string(5000, 'c'));
        WriteFile(src / "sub" / "x.dat", std::string("data"));
        WriteFile(src / ".hidden", std::string("secret"));
    }
    // An archive holding a.txt and b.txt, made by the library itself.
    std::vector<uint8_t> Existing() {
        Call c;
        c.archive = zip.string();
        c.Spec("a.txt", src);
        c.Spec("b.txt", src);
        EXPECT_EQ(c.Exec(), 2);
        return ReadFile(zip);
    }
};

TEST(ZipDllAdd, AddsFilesAndReportsTotalsNewFilesProgressAndEndOfBatch) {
    Tree t;
    Call c;
    c.archive = t.zip.string();
    c.Spec("*.txt", t.src);
    EXPECT_EQ(c.Exec(), 2);
    EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "b.txt"}));
    ASSERT_EQ(c.Of(zacTotalFiles).size(), 1u);
    EXPECT_EQ(c.Of(zacTotalFiles)[0].value24, 2);
    EXPECT_EQ(c.Of(zacTotalSize)[0].value24, 3000 + 29);
    auto news = c.Of(zacNewFile);
    ASSERT_EQ(news.size(), 2u);
    EXPECT_EQ(news[0].text, "a.txt");
    EXPECT_EQ(news[0].value24, 3000);
    int64_t progress = 0;
    for (const auto& e : c.Of(zacProgress))
        progress += e.value24;
    EXPECT_EQ(progress, 3000 + 29);
    ASSERT_FALSE(c.events.empty());
    EXPECT_EQ(c.events.back().action, zacEndOfBatch);
}

TEST(ZipDllAdd, RecursionFollowsEachFileEntry) {
    Tree t;
    Call c;
    c.archive = t.zip.string();
    c.rec.Recurse = 0xFFFF;
    c.Spec("*.txt", t.src, 0xFFFF);
    c.Spec("*.dat", t.src, 0);  // "|" forbade it for this item
    EXPECT_EQ(c.Exec(), 3);
    EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "b.txt", "sub/c.txt"}));
}

TEST(ZipDllAdd, JunkedFolderNamesAndSeparateFolderEntries) {
    Tree t;
    {
        Call c;
        c.archive = t.zip.string();
        c.rec.JunkDir = -1;
        c.Spec("*.txt", t.src, 0xFFFF);
        EXPECT_EQ(c.Exec(), 3);
        EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    }
    fs::remove(t.zip);
    {
        Call c;
        c.archive = t.zip.string();
        c.rec.NoDirEntries = 0;
        c.Spec("*.dat", t.src, 0xFFFF);
        c.Exec();
        EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"sub/", "sub/x.dat"}));
    }
}

TEST(ZipDllAdd, HiddenFilesOnlyWithTheFlag) {
    Tree t;
    Call c;
    c.archive = t.zip.string();
    c.Spec("*", t.src);
    c.excl = {"*.log"};
    EXPECT_EQ(c.Exec(), 2);
    EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "b.txt"}));
    fs::remove(t.zip);
    Call h;
    h.archive = t.zip.string();
    h.rec.SystemFiles = -1;
    h.Spec("*", t.src);
    h.excl = {"*.log"};
    EXPECT_EQ(h.Exec(), 3);
    EXPECT_EQ(Names(t.zip), (std::vector<std::string>{".hidden", "a.txt", "b.txt"}));
}

TEST(ZipDllAdd, PerFilePasswordsAndUnencryptedItems) {
    Tree t;
    Call c;
    c.archive = t.zip.string();
    c.password = "global";
    c.rec.Encrypt = -1;
    c.Spec("a.txt", t.src);
    c.items.back().hasPassword = true;
    c.items.back().password = "Own<pw";
    c.items.back().encrypt = 65535;
    c.Spec("b.txt", t.src);  // the record's password
    c.Spec("notes.log", t.src);
    c.items.back().encrypt = 0;  // an item ending in "<": stored in clear although the record encrypts
    EXPECT_EQ(c.Exec(), 3);
    auto v = ReadCentral(t.zip);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_TRUE(Find(v, "a.txt")->flags & 1);
    EXPECT_TRUE(Find(v, "b.txt")->flags & 1);
    EXPECT_FALSE(Find(v, "notes.log")->flags & 1);
    if (test::HaveTool("unzip")) {
        std::string out;
        EXPECT_EQ(test::Run("unzip -P 'Own<pw' -p " + test::Quote(t.zip) + " a.txt", &out), 0);
        EXPECT_EQ(out, std::string(3000, 'a'));
        EXPECT_EQ(test::Run("unzip -P global -p " + test::Quote(t.zip) + " b.txt", &out), 0);
        EXPECT_EQ(out, "bravo bravo bravo bravo bravo");
        EXPECT_NE(test::Run("unzip -P global -p " + test::Quote(t.zip) + " a.txt >/dev/null 2>&1"), 0);
    }
}

TEST(ZipDllAdd, MissingPasswordIsAskedForAndNoAnswerChangesNothing) {
    Tree t;
    {
        Call c;
        c.archive = t.zip.string();
        c.rec.Encrypt = -1;
        c.Spec("a.txt", t.src);
        c.answer = [](ZipCallbackRecord& r) {
            if (r.ActionCode == zacPassword) {
                EXPECT_EQ(r.ErrorCode & 1, 1) << "adding asks for two entries";
                std::strcpy(r.Text, "typed");
                r.ErrorCode = 1;
            }
            return 0;
        };
        EXPECT_EQ(c.Exec(), 1);
        EXPECT_EQ(c.Of(zacPassword).size(), 1u);
        EXPECT_TRUE(ReadCentral(t.zip).at(0).flags & 1);
    }
    fs::remove(t.zip);
    Call none;
    none.archive = t.zip.string();
    none.rec.Encrypt = -1;
    none.Spec("a.txt", t.src);
    EXPECT_EQ(none.Exec(), 0);
    EXPECT_TRUE(none.HasError(zenPassword));
    EXPECT_FALSE(fs::exists(t.zip)) << "nothing may be written without the password";
}

TEST(ZipDllAdd, StoreSuffixesAndLevelZeroStoreCompressibleFiles) {
    Tree t;
    Call c;
    c.archive = t.zip.string();
    c.suffixes = ".gif:.TXT:.z";
    c.Spec("a.txt", t.src);
    c.Spec("sub/c.txt", t.src);
    c.Spec("notes.log", t.src);
    c.Exec();
    auto v = ReadCentral(t.zip);
    EXPECT_EQ(Find(v, "a.txt")->method, 0);
    EXPECT_EQ(Find(v, "sub/c.txt")->method, 0);
    fs::remove(t.zip);
    Call d;
    d.archive = t.zip.string();
    d.Spec("a.txt", t.src);
    d.Exec();
    EXPECT_EQ(ReadCentral(t.zip).at(0).method, 8) << "without a suffix list text is compressed";
    fs::remove(t.zip);
    Call s;
    s.archive = t.zip.string();
    s.rec.Level = 0;
    s.Spec("a.txt", t.src);
    s.Exec();
    EXPECT_EQ(ReadCentral(t.zip).at(0).method, 0);
}

TEST(ZipDllAdd, ForceDosNewNameAndFileCommentCallbacks) {
    Tree t;
    WriteFile(t.src / "longfilename.text", std::string("x"));
    Call c;
    c.archive = t.zip.string();
    c.rec.ForceDOS = -1;
    c.Spec("longfilename.text", t.src);
    c.Spec("b.txt", t.src);
    c.answer = [](ZipCallbackRecord& r) {
        const std::string text(r.Text);
        if (r.ActionCode == zacNewName && text == "B.TXT") {
            std::strcpy(r.Text, "renamed.txt");
            r.ErrorCode = 1;
        }
        if (r.ActionCode == zacFileComment && text == "renamed.txt") {
            std::strcpy(r.Text, "a comment");
            r.ErrorCode = 1;
            r.FileSize = 9;
        }
        return 0;
    };
    EXPECT_EQ(c.Exec(), 2);
    auto v = ReadCentral(t.zip);
    ASSERT_NE(Find(v, "LONGFILE.TEX"), nullptr);
    ASSERT_NE(Find(v, "renamed.txt"), nullptr);
    EXPECT_EQ(Find(v, "renamed.txt")->comment, "a comment");
    EXPECT_EQ(Find(v, "LONGFILE.TEX")->comment, "");
}

TEST(ZipDllAdd, ArchiveCommentSetOrKept) {
    Tree t;
    Call c;
    c.archive = t.zip.string();
    c.hasComment = true;
    c.comment = "made by the engine";
    c.Spec("a.txt", t.src);
    c.Exec();
    std::string comment;
    ReadCentral(t.zip, &comment);
    EXPECT_EQ(comment, "made by the engine");
    Call k;
    k.archive = t.zip.string();
    k.Spec("b.txt", t.src);
    EXPECT_EQ(k.Exec(), 1);
    ReadCentral(t.zip, &comment);
    EXPECT_EQ(comment, "made by the engine");
}

TEST(ZipDllAdd, UpdateAndFreshenReplaceOnlyNewerFiles) {
    Tree t;
    t.Existing();
    // a.txt becomes newer; b.txt stays; d.txt is new.
    WriteFile(t.src / "a.txt", std::string(10, 'A'));
    struct utimbuf later{time(nullptr) + 100, time(nullptr) + 100};
    utime((t.src / "a.txt").c_str(), &later);
    WriteFile(t.src / "d.txt", std::string("new"));
    {
        Call f;
        f.archive = t.zip.string();
        f.rec.Freshen = -1;
        f.Spec("*.txt", t.src);
        EXPECT_EQ(f.Exec(), 1);
        EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "b.txt"}));
    }
    // Older file in the folder than in the archive: update leaves the entry.
    struct utimbuf earlier{1000000000, 1000000000};
    utime((t.src / "b.txt").c_str(), &earlier);
    const auto before = ReadCentral(t.zip);
    Call u;
    u.archive = t.zip.string();
    u.rec.Update = -1;
    u.Spec("*.txt", t.src);
    EXPECT_EQ(u.Exec(), 1);
    EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "b.txt", "d.txt"}));
    EXPECT_EQ(Find(ReadCentral(t.zip), "b.txt")->dosTime, Find(before, "b.txt")->dosTime);
}

TEST(ZipDllAdd, LatestTimeGivesTheArchiveItsNewestEntrysTime) {
    Tree t;
    struct utimbuf old{1200000000, 1200000000};
    utime((t.src / "a.txt").c_str(), &old);
    utime((t.src / "b.txt").c_str(), &old);
    Call c;
    c.archive = t.zip.string();
    c.rec.LatestTime = -1;
    c.Spec("*.txt", t.src);
    EXPECT_EQ(c.Exec(), 2);
    struct stat st {};
    ASSERT_EQ(stat(t.zip.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1200000000);
}

TEST(ZipDllMove, SourcesGoOnlyAfterTheArchiveIsInPlace) {
    Tree t;
    bool sawArchiveGone = false;
    Call c;
    c.archive = t.zip.string();
    c.rec.Move = -1;
    c.Spec("*.txt", t.src);
    c.answer = [&](ZipCallbackRecord& r) {
        // While files are being added the sources are all still there.
        if (r.ActionCode == zacNewFile)
            sawArchiveGone = sawArchiveGone || !fs::exists(t.src / "a.txt") || !fs::exists(t.src / "b.txt");
        return 0;
    };
    EXPECT_EQ(c.Exec(), 2);
    EXPECT_FALSE(sawArchiveGone);
    EXPECT_FALSE(fs::exists(t.src / "a.txt"));
    EXPECT_FALSE(fs::exists(t.src / "b.txt"));
    EXPECT_TRUE(fs::exists(t.src / "notes.log"));
    EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// Every callback of a run, answered with stop in turn: the archive and the moved sources stay as they were.
TEST(ZipDllCancel, StopAtAnyCallbackLeavesArchiveAndSourcesUntouched) {
    Tree t;
    const std::vector<uint8_t> before = t.Existing();
    WriteFile(t.src / "d.txt", std::string(70000, 'd'));
    WriteFile(t.src / "a.txt", std::string(100, 'n'));
    int total = 0;
    {
        // Count the callbacks of a run that is not stopped, on a copy.
        fs::copy_file(t.zip, t.dir / "copy.zip");
        Call c;
        c.archive = (t.dir / "copy.zip").string();
        c.Spec("*.txt", t.src);
        c.Exec();
        total = static_cast<int>(c.events.size());
    }
    ASSERT_GT(total, 5);
    for (int stopAt = 1; stopAt < total; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int seen = 0;
        Call c;
        c.archive = t.zip.string();
        c.rec.Move = -1;
        c.Spec("*.txt", t.src);
        c.answer = [&](ZipCallbackRecord&) { return ++seen >= stopAt ? -1 : 0; };
        const int n = c.Exec();
        if (n != 0) {
            // Stopped only after the archive was complete (the last words of a finished run).
            EXPECT_GE(stopAt, total - 2);
            break;
        }
        EXPECT_EQ(ReadFile(t.zip), before);
        EXPECT_TRUE(fs::exists(t.src / "a.txt"));
        EXPECT_TRUE(fs::exists(t.src / "d.txt"));
        EXPECT_TRUE(c.HasError(zenAborted));
        for (const auto& e : fs::directory_iterator(t.dir.Path()))
            EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << "temporary file left";
    }
}

TEST(ZipDllCancel, FullDiskLeavesArchiveAndMovedSourcesUntouched) {
    Tree t;
    const std::vector<uint8_t> before = t.Existing();
    // Incompressible data far larger than the limit.
    std::string big(400000, '\0');
    uint32_t x = 1;
    for (auto& ch : big) {
        x = x * 1103515245 + 12345;
        ch = static_cast<char>(x >> 24);
    }
    WriteFile(t.src / "big.bin", big);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = before.size() + 100000;
        rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        Call c;
        c.archive = t.zip.string();
        c.rec.Move = -1;
        c.Spec("big.bin", t.src);
        const int n = c.Exec();
        _exit(n == 0 && c.HasError(zenWrite) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(t.zip), before);
    EXPECT_TRUE(fs::exists(t.src / "big.bin"));
}

TEST(ZipDllDelete, DeletesByPatternByExactNameAndByFolder) {
    Tree t;
    Call a;
    a.archive = t.zip.string();
    a.rec.Recurse = 0xFFFF;
    a.Spec("*", t.src, 0xFFFF);
    a.Exec();
    ASSERT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "b.txt", "notes.log", "sub/c.txt", "sub/x.dat"}));
    auto del = [&](std::vector<std::string> specs) {
        Call d;
        d.archive = t.zip.string();
        d.rec.DeleteEntries = -1;
        d.rec.Grow = 0;
        for (auto& s : specs)
            d.items.push_back({s, {}, {}, false, Call::kFollow, 0});
        return d.Exec();
    };
    EXPECT_EQ(del({"*.LOG"}), 1);
    EXPECT_EQ(del({"\\A.txt"}), 0) << "an exact name is compared byte for byte";
    EXPECT_EQ(del({"\\a.txt"}), 1);
    EXPECT_EQ(del({"\\sub/"}), 2);
    EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"b.txt"}));
    const std::vector<uint8_t> before = ReadFile(t.zip);
    EXPECT_EQ(del({"nothing*"}), 0);
    EXPECT_EQ(ReadFile(t.zip), before);
}

TEST(ZipDllDelete, StoppedDeleteLeavesTheArchive) {
    Tree t;
    const std::vector<uint8_t> before = t.Existing();
    Call d;
    d.archive = t.zip.string();
    d.rec.DeleteEntries = -1;
    d.items.push_back({"a.txt", {}, {}, false, Call::kFollow, 0});
    d.answer = [](ZipCallbackRecord&) { return -1; };
    // The engine says nothing before its work in a delete; a stop from the first word must still hold.
    d.rec.Verbose = -1;
    d.rec.TraceEnabled = -1;
    EXPECT_EQ(d.Exec(), 0);
    EXPECT_EQ(ReadFile(t.zip), before);
}

// Without verbose messages a delete has nothing to say, yet the caller must still be asked while it runs: a stop
// given at the first chance leaves the archive as it was, and without a stop the same delete goes through.
TEST(ZipDllDelete, QuietDeleteStillAsksTheCallerAndStops) {
    Tree t;
    const std::vector<uint8_t> before = t.Existing();
    Call d;
    d.archive = t.zip.string();
    d.rec.DeleteEntries = -1;
    d.items.push_back({"a.txt", {}, {}, false, Call::kFollow, 0});
    d.answer = [](ZipCallbackRecord&) { return -1; };
    EXPECT_EQ(d.Exec(), 0);
    EXPECT_FALSE(d.events.empty());
    EXPECT_EQ(ReadFile(t.zip), before);
    Call again;
    again.archive = t.zip.string();
    again.rec.DeleteEntries = -1;
    again.items.push_back({"a.txt", {}, {}, false, Call::kFollow, 0});
    EXPECT_EQ(again.Exec(), 1);
    EXPECT_NE(ReadFile(t.zip), before);
}

TEST(ZipDllRecord, UnusableRecordsChangeNothing) {
    Tree t;
    const std::vector<uint8_t> before = t.Existing();
    {
        Call c;
        c.archive = t.zip.string();
        c.Spec("notes.log", t.src);
        c.rec.Seven = 0;
        EXPECT_EQ(c.Exec(), 0);
        EXPECT_TRUE(c.HasError(zenArguments));
    }
    {
        Call c;
        c.archive = t.zip.string();
        c.Spec("notes.log", t.src);
        c.password = std::string(81, 'p');
        c.rec.Encrypt = -1;
        EXPECT_EQ(c.Exec(), 0);
        EXPECT_TRUE(c.HasError(zenArguments));
    }
    {
        Call c;
        c.archive = t.zip.string();
        c.rec.ArgCount = 3;  // counted, not given
        c.Exec();
        c.rec.ArgCount = 3;
        c.rec.FileData = nullptr;
        EXPECT_EQ(Engine().exec(&c.rec), 0);
    }
    {
        Call c;
        c.archive = "";
        c.Spec("notes.log", t.src);
        EXPECT_EQ(c.Exec(), 0);
        EXPECT_TRUE(c.HasError(zenArguments));
    }
    EXPECT_EQ(Engine().exec(nullptr), 0);
    EXPECT_EQ(ReadFile(t.zip), before);
}

TEST(ZipDllRecord, NotAZipArchiveIsLeftAlone) {
    Tree t;
    WriteFile(t.zip, std::string("this is not an archive at all, just some text"));
    const std::vector<uint8_t> before = ReadFile(t.zip);
    Call c;
    c.archive = t.zip.string();
    c.Spec("a.txt", t.src);
    EXPECT_EQ(c.Exec(), 0);
    EXPECT_TRUE(c.HasError(zenArchive));
    EXPECT_EQ(ReadFile(t.zip), before);
}

TEST(ZipDllOldRecord, Version150TakesThePointerArray) {
    Library old(VARNOK_ZIPDLL150_PATH);
    ASSERT_NE(old.exec, nullptr);
    EXPECT_EQ(old.version(), 150);
    Tree t;
    auto rec = std::make_unique<ZipExecRecordOld>();
    std::memset(rec.get(), 0, sizeof *rec);
    const std::string archive = t.zip.string();
    const std::string a = (t.src / "a.txt").string(), c = (t.src / "sub").string() + "/*.txt";
    rec->Version = 160;
    rec->AlwaysTrue = -1;
    rec->Level = 9;
    rec->Grow = -1;
    rec->NoDirEntries = -1;
    rec->JunkDir = -1;
    rec->ArgCount = 2;
    rec->ZipFileName = archive.c_str();
    rec->Seven = 7;
    rec->FileSpecs[0] = a.c_str();
    rec->FileSpecs[1] = c.c_str();
    EXPECT_EQ(old.exec(reinterpret_cast<ZipExecRecord*>(rec.get())), 2);
    EXPECT_EQ(Names(t.zip), (std::vector<std::string>{"a.txt", "c.txt"}));
}

TEST(ZipDllPeers, ArchivesPassUnzipAnd7z) {
    Tree t;
    Call c;
    c.archive = t.zip.string();
    c.password = "pw";
    c.rec.Encrypt = -1;
    c.rec.NoDirEntries = 0;
    c.Spec("*", t.src, 0xFFFF);
    EXPECT_GT(c.Exec(), 3);
    bool ran = false;
    if (test::HaveTool("unzip")) {
        ran = true;
        EXPECT_EQ(test::Run("unzip -P pw -tq " + test::Quote(t.zip) + " >/dev/null 2>&1"), 0);
    }
    if (test::HaveTool("7z")) {
        ran = true;
        EXPECT_EQ(test::Run("7z t -ppw " + test::Quote(t.zip) + " >/dev/null 2>&1"), 0);
    }
    if (!ran) GTEST_SKIP() << "neither unzip nor 7z is installed";
}

}  // namespace
}  // namespace varnok
