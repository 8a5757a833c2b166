// The extract engine library through its exported entry points: the callback flow, the record's flags,
// answers to its questions, stopping, extraction to memory and checks on the record.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "engines/unzdll/unzdll.h"
#include "tests/engines/encrypted_zip.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Library {
    void* handle = nullptr;
    UnzDllExecFunc exec = nullptr;
    GetUnzDllVersionFunc version = nullptr;
    explicit Library(const char* path) {
        handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        exec = reinterpret_cast<UnzDllExecFunc>(dlsym(handle, "UnzDllExec"));
        version = reinterpret_cast<GetUnzDllVersionFunc>(dlsym(handle, "GetUnzDllVersion"));
    }
};

const Library& Engine() {
    static Library lib(VARNOK_UNZDLL_PATH);
    return lib;
}

struct Event {
    int action;
    int32_t value20;
    int64_t value24;
    std::string text;
};

// One call of the library with a recording callback; `answer` may fill in answers and ask to stop.
struct Call {
    UnzExecRecord rec;
    std::vector<std::string> specs;
    std::vector<UnzFileData> files;
    std::string archive, dest, password;
    std::vector<Event> events;
    std::function<int32_t(ZipCallbackRecord&)> answer;
    void* callerSeen = nullptr;

    Call() {
        std::memset(&rec, 0, sizeof rec);
        rec.Caller = this;
        rec.Version = 160;
        rec.Callback = &Thunk;
        rec.AlwaysTrue = -1;
        rec.PasswordReqCount = 1;
        rec.Directories = -1;
        rec.Seven = 7;
    }
    static int32_t Thunk(ZipCallbackRecord* r) {
        auto* self = static_cast<Call*>(r->Caller);
        EXPECT_EQ(r->IsOperationZip, 0);
        EXPECT_EQ(r->Version, 160);
        const size_t n = strnlen(r->Text, sizeof r->Text);
        EXPECT_LT(n, sizeof r->Text) << "the text area is not terminated";
        int64_t size =
            static_cast<int64_t>((uint64_t{r->FileSizeHigh} << 32) | static_cast<uint32_t>(r->FileSize));
        self->events.push_back({r->ActionCode, r->ErrorCode, size, std::string(r->Text, n)});
        return self->answer ? self->answer(*r) : 0;
    }
    int Exec(UnzDllExecFunc f = nullptr) {
        files.assign(specs.size(), UnzFileData{});
        for (size_t i = 0; i < specs.size(); ++i)
            files[i].FileSpec = specs[i].c_str();
        rec.ArgCount = static_cast<int32_t>(specs.size());
        rec.FileData = files.empty() ? nullptr : files.data();
        rec.ZipFileName = archive.c_str();
        rec.ExtractDir = dest.empty() ? nullptr : dest.c_str();
        rec.Password = password.empty() ? nullptr : password.c_str();
        return (f ? f : Engine().exec)(&rec);
    }
    std::vector<Event> Of(int action) const {
        std::vector<Event> r;
        for (const auto& e : events)
            if (e.action == action) r.push_back(e);
        return r;
    }
    int64_t ProgressBytes() const {
        int64_t s = 0;
        for (const auto& e : Of(zacProgress))
            s += e.value24;
        return s;
    }
    bool HasError(int value) const {
        for (const auto& e : events)
            if ((e.action == zacMessage || e.action == zacSkipped) && e.value20 == value) return true;
        return false;
    }
};

std::string Data(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

void SetMTime(const fs::path& p, time_t t) {
    struct utimbuf u {
        t, t
    };
    ASSERT_EQ(utime(p.c_str(), &u), 0);
}

TEST(UnzDll, ExportsAndVersions) {
    ASSERT_NE(Engine().handle, nullptr) << dlerror();
    ASSERT_NE(Engine().exec, nullptr);
    ASSERT_NE(Engine().version, nullptr);
    EXPECT_EQ(Engine().version(), 160);
    Library old(VARNOK_UNZDLL151_PATH);
    ASSERT_NE(old.version, nullptr);
    EXPECT_EQ(old.version(), 151);
    // Nothing but the two entry points leaves the library.
    EXPECT_EQ(dlsym(Engine().handle, "_ZN6varnok6TUnZip14ProcessArchiveEv"), nullptr);
}

TEST(UnzDll, CallbackFlowOfAnExtraction) {
    TempDir d;
    const std::string big = Data(700000, 1);
    test::WriteFile(
        d / "a.zip",
        test::BuildZip({{"one.txt", "first"}, {"sub/", ""}, {"sub/big.bin", big}, {"empty", ""}}));
    Call c;
    c.archive = (d / "a.zip").string();
    c.dest = (d / "out").string();
    EXPECT_EQ(c.Exec(), 3);
    EXPECT_EQ(test::ReadText(d / "out" / "one.txt"), "first");
    EXPECT_EQ(test::ReadText(d / "out" / "sub" / "big.bin"), big);
    EXPECT_TRUE(fs::exists(d / "out" / "empty"));
    for (const auto& e : c.events)
        EXPECT_EQ(e.action == zacMessage ? e.value20 : 0, 0) << e.text;
    // Totals first, the end of the batch last, a new-file report with its size before each file's progress.
    ASSERT_GE(c.events.size(), 6u);
    EXPECT_EQ(c.events[0].action, zacTotalFiles);
    EXPECT_EQ(c.events[0].value24, 3);
    EXPECT_EQ(c.events[1].action, zacTotalSize);
    EXPECT_EQ(c.events[1].value24, 5 + 700000);
    EXPECT_EQ(c.events.back().action, zacEndOfBatch);
    auto files = c.Of(zacNewFile);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].text, "one.txt");
    EXPECT_EQ(files[0].value24, 5);
    EXPECT_EQ(files[1].text, "sub/big.bin");
    EXPECT_EQ(files[1].value24, 700000);
    EXPECT_EQ(c.ProgressBytes(), 5 + 700000);
    // The big file reports its progress in several steps while it is written.
    int steps = 0;
    bool inBig = false;
    for (const auto& e : c.events) {
        if (e.action == zacNewFile)
            inBig = e.text == "sub/big.bin";
        else if (e.action == zacProgress && inBig)
            ++steps;
    }
    EXPECT_GE(steps, 2);

    // Verbose and trace add messages of value 0; folder names off puts every file in the destination.
    Call flat;
    flat.archive = c.archive;
    flat.dest = (d / "flat").string();
    flat.rec.Directories = 0;
    flat.rec.TraceEnabled = -1;
    EXPECT_EQ(flat.Exec(), 3);
    EXPECT_TRUE(fs::exists(d / "flat" / "big.bin"));
    EXPECT_FALSE(fs::exists(d / "flat" / "sub"));
    EXPECT_GE(flat.Of(zacMessage).size(), 6u);
}

TEST(UnzDll, SelectionByPatternAndExactName) {
    TempDir d;
    test::WriteFile(d / "s.zip", test::BuildZip({{"a*b.txt", "star"},
                                                 {"axb.txt", "x"},
                                                 {"A*B.txt", "upper"},
                                                 {"docs/q?.txt", "question"},
                                                 {"docs/q1.txt", "one"},
                                                 {"other/q1.txt", "other"}}));
    auto run = [&](std::vector<std::string> specs, const std::string& out) {
        Call c;
        c.archive = (d / "s.zip").string();
        c.dest = (d / out).string();
        c.specs = std::move(specs);
        int n = c.Exec();
        std::vector<std::string> names;
        for (const auto& e : c.Of(zacNewFile))
            names.push_back(e.text);
        return std::make_pair(n, names);
    };
    // A pattern matches ignoring case, and its "*" and "?" match any name.
    auto [n1, p1] = run({"a*b.txt"}, "p1");
    EXPECT_EQ(n1, 3);
    // The exact form takes one entry: the literal name, with its case.
    auto [n2, p2] = run({"\\a*b.txt"}, "p2");
    EXPECT_EQ(n2, 1);
    EXPECT_EQ(p2, std::vector<std::string>{"a*b.txt"});
    EXPECT_EQ(test::ReadText(d / "p2" / "a*b.txt"), "star");
    EXPECT_FALSE(fs::exists(d / "p2" / "A*B.txt"));
    auto [n3, p3] = run({"\\docs/q?.txt"}, "p3");
    EXPECT_EQ(p3, std::vector<std::string>{"docs/q?.txt"});
    // A folder named exactly takes what lies below it and nothing else.
    auto [n4, p4] = run({"\\docs/"}, "p4");
    EXPECT_EQ(n4, 2);
    EXPECT_FALSE(fs::exists(d / "p4" / "other"));
    // Nothing matching: a message says so.
    Call none;
    none.archive = (d / "s.zip").string();
    none.dest = (d / "none").string();
    none.specs = {"\\A*b.txt"};
    EXPECT_EQ(none.Exec(), 0);
    EXPECT_TRUE(none.HasError(uenNoMatch));
}

TEST(UnzDll, OverwriteUpdateAndFreshen) {
    TempDir d;
    test::WriteFile(d / "o.zip", test::BuildZip({{"old.txt", "new content"},
                                                 {"new.txt", "new content"},
                                                 {"absent.txt", "new content"}}));
    auto prepare = [&](const fs::path& dir) {
        test::WriteFile(dir / "old.txt", "disk");
        test::WriteFile(dir / "new.txt", "disk");
        SetMTime(dir / "old.txt", 946684800);  // 2000: older than the entries (2024)
    };
    auto run = [&](const fs::path& dir, auto setup) {
        Call c;
        c.archive = (d / "o.zip").string();
        c.dest = dir.string();
        setup(c);
        c.Exec();
        return c;
    };
    {
        // Without the overwrite flag the default answer is no; the question says which file is older.
        prepare(d / "keep");
        Call c = run(d / "keep", [](Call&) {});
        auto asks = c.Of(zacOverwrite);
        ASSERT_EQ(asks.size(), 2u);
        EXPECT_EQ(asks[0].value24, 0);
        EXPECT_EQ(asks[0].value20 & 1, 1);  // old.txt is older than its entry
        EXPECT_EQ(asks[1].value20 & 1, 0);
        EXPECT_EQ(test::ReadText(d / "keep" / "old.txt"), "disk");
        EXPECT_EQ(test::ReadText(d / "keep" / "absent.txt"), "new content");
        auto skips = c.Of(zacSkipped);
        ASSERT_EQ(skips.size(), 2u);
        EXPECT_EQ(skips[0].value24 & 0xFF, zstExisting);
        EXPECT_EQ(c.ProgressBytes(), 3 * 11);  // skipped entries count as done
    }
    {
        // The caller's answer decides: yes for old.txt only.
        prepare(d / "answer");
        Call c = run(d / "answer", [](Call& k) {
            k.answer = [](ZipCallbackRecord& r) {
                if (r.ActionCode == zacOverwrite) r.FileSize = std::strstr(r.Text, "old.txt") ? 1 : 0;
                return 0;
            };
        });
        EXPECT_EQ(test::ReadText(d / "answer" / "old.txt"), "new content");
        EXPECT_EQ(test::ReadText(d / "answer" / "new.txt"), "disk");
    }
    {
        // The overwrite flag makes yes the default.
        prepare(d / "over");
        Call c = run(d / "over", [](Call& k) { k.rec.Overwrite = -1; });
        EXPECT_EQ(c.Of(zacOverwrite).at(0).value24, 1);
        EXPECT_EQ(test::ReadText(d / "over" / "new.txt"), "new content");
    }
    {
        // Update: missing and older files; the newer one is skipped without a question.
        prepare(d / "update");
        Call c = run(d / "update", [](Call& k) { k.rec.Update = -1; });
        EXPECT_EQ(test::ReadText(d / "update" / "old.txt"), "new content");
        EXPECT_EQ(test::ReadText(d / "update" / "new.txt"), "disk");
        EXPECT_TRUE(fs::exists(d / "update" / "absent.txt"));
        ASSERT_EQ(c.Of(zacSkipped).size(), 1u);
        EXPECT_EQ(c.Of(zacSkipped)[0].value24 & 0xFF, zstNotNewer);
    }
    {
        // Freshen: only files that exist and are older.
        prepare(d / "fresh");
        Call c = run(d / "fresh", [](Call& k) { k.rec.Freshen = -1; });
        EXPECT_EQ(test::ReadText(d / "fresh" / "old.txt"), "new content");
        EXPECT_EQ(test::ReadText(d / "fresh" / "new.txt"), "disk");
        EXPECT_FALSE(fs::exists(d / "fresh" / "absent.txt"));
        std::map<std::string, int> types;
        for (const auto& e : c.Of(zacSkipped))
            types[e.text] = static_cast<int>(e.value24 & 0xFF);
        EXPECT_EQ(types["new.txt"], zstNotNewer);
        EXPECT_EQ(types["absent.txt"], zstNotPresent);
    }
}

TEST(UnzDll, PasswordQuestionsWithTheirRepeatCount) {
    TempDir d;
    test::WriteFile(d / "e.zip", test::BuildEncryptedZip({{"a.txt", Data(5000, 3)}, {"b.txt", Data(3000, 4)}},
                                                         "p4ss", {"wrong", ""}));
    const std::string archive = (d / "e.zip").string();
    {
        // The password in the record: no question.
        Call c;
        c.archive = archive;
        c.dest = (d / "rec").string();
        c.password = "p4ss";
        EXPECT_EQ(c.Exec(), 2);
        EXPECT_TRUE(c.Of(zacPassword).empty());
        EXPECT_EQ(test::ReadText(d / "rec" / "a.txt"), Data(5000, 3));
    }
    {
        // Asked up to three times per entry; the right answer on the third ask is kept for the next entry.
        Call c;
        c.archive = archive;
        c.dest = (d / "ask").string();
        c.rec.PasswordReqCount = 3;
        int asks = 0;
        c.answer = [&](ZipCallbackRecord& r) {
            if (r.ActionCode == zacPassword) {
                std::strcpy(r.Text, ++asks < 3 ? "wrong" : "p4ss");
                r.ErrorCode = 1;
            }
            return 0;
        };
        EXPECT_EQ(c.Exec(), 2);
        auto p = c.Of(zacPassword);
        ASSERT_EQ(p.size(), 3u);
        EXPECT_EQ(p[0].value24, 2);  // repeats left after this question
        EXPECT_EQ(p[1].value24, 1);
        EXPECT_EQ(p[2].value24, 0);
        EXPECT_EQ(p[0].text, "a.txt");
        EXPECT_TRUE(c.HasError(uenPassword));  // the wrong answers are reported
        EXPECT_EQ(test::ReadText(d / "ask" / "b.txt"), Data(3000, 4));
    }
    {
        // No password given (repeat count 0): the entries are skipped as missing a password, nothing is
        // written.
        Call c;
        c.archive = archive;
        c.dest = (d / "none").string();
        c.rec.PasswordReqCount = 5;
        c.answer = [](ZipCallbackRecord& r) {
            if (r.ActionCode == zacPassword) {
                r.ErrorCode = 0;
                r.FileSize = 0;
            }
            return 0;
        };
        EXPECT_EQ(c.Exec(), 0);
        EXPECT_EQ(c.Of(zacPassword).size(), 1u);
        auto skips = c.Of(zacSkipped);
        ASSERT_EQ(skips.size(), 2u);
        for (const auto& s : skips) {
            EXPECT_EQ(s.value24 & 0xFF, zstPassword);
            EXPECT_EQ(s.value20, uenPassword);
        }
        EXPECT_FALSE(fs::exists(d / "none" / "a.txt"));
    }
    {
        // A password count of 0 asks nothing; an answer longer than 80 characters is refused, not cut.
        Call c;
        c.archive = archive;
        c.dest = (d / "long").string();
        c.rec.PasswordReqCount = 0;
        EXPECT_EQ(c.Exec(), 0);
        EXPECT_TRUE(c.Of(zacPassword).empty());
        Call l;
        l.archive = archive;
        l.dest = (d / "long").string();
        l.rec.PasswordReqCount = 2;
        l.answer = [](ZipCallbackRecord& r) {
            if (r.ActionCode == zacPassword) {
                std::string p = "p4ss" + std::string(90, 'x');
                std::strcpy(r.Text, p.c_str());
                r.ErrorCode = 1;
                r.FileSize = 0;
            }
            return 0;
        };
        EXPECT_EQ(l.Exec(), 0);
        EXPECT_TRUE(l.HasError(uenPassword));
    }
    {
        // A password longer than 80 characters in the record: nothing happens.
        Call c;
        c.archive = archive;
        c.dest = (d / "rec81").string();
        c.password = std::string(81, 'p');
        EXPECT_EQ(c.Exec(), 0);
        EXPECT_TRUE(c.HasError(uenArguments));
        EXPECT_TRUE(c.Of(zacNewFile).empty());
        EXPECT_FALSE(fs::exists(d / "rec81"));
    }
}

// An archive whose stored entry "bad.txt" has one byte changed.
void WriteDamaged(const fs::path& p) {
    auto z = test::BuildZip({{"good.txt", "fine data"}, {"bad.txt", "damaged data!"}});
    std::string s(z.begin(), z.end());
    size_t at = s.find("damaged data!");
    z[at + 3] ^= 0x20;
    test::WriteFile(p, z);
}

TEST(UnzDll, CrcErrorsAndTheirAnswers) {
    TempDir d;
    WriteDamaged(d / "bad.zip");
    auto run = [&](const std::string& out, int answer, bool test) {
        Call c;
        c.archive = (d / "bad.zip").string();
        c.dest = (d / out).string();
        c.rec.Test = test ? -1 : 0;
        c.answer = [answer](ZipCallbackRecord& r) {
            if (r.ActionCode == zacCrcError && answer >= 0) r.ErrorCode = answer;
            return 0;
        };
        int n = c.Exec();
        EXPECT_EQ(n, 1) << out;
        return c;
    };
    Call keep = run("keep", 1, false);
    auto crc = keep.Of(zacCrcError);
    ASSERT_EQ(crc.size(), 1u);
    EXPECT_EQ(crc[0].text, "bad.txt");
    EXPECT_EQ(static_cast<uint32_t>(crc[0].value24), Crc32("damaged data!", 13));
    EXPECT_EQ(static_cast<uint32_t>(crc[0].value20), Crc32("damAged data!", 13));
    EXPECT_TRUE(keep.HasError(uenData));
    EXPECT_TRUE(fs::exists(d / "keep" / "bad.txt"));
    // No: the damaged file goes; no opinion (2): it stays.
    run("drop", 0, false);
    EXPECT_FALSE(fs::exists(d / "drop" / "bad.txt"));
    EXPECT_TRUE(fs::exists(d / "drop" / "good.txt"));
    run("none", 2, false);
    EXPECT_TRUE(fs::exists(d / "none" / "bad.txt"));
    // An entry of a method the library does not decode is skipped and leaves no file behind.
    auto z = test::BuildZip({{"ok.txt", "fine"}, {"bz.txt", "not really bzip2"}});
    PutLe16(&z[30 + 6 + 4 + 8], 12);  // the second local header's method
    std::string s(z.begin(), z.end());
    PutLe16(&z[s.rfind("PK\x01\x02") + 10], 12);  // and the second central header's
    test::WriteFile(d / "method.zip", z);
    Call m;
    m.archive = (d / "method.zip").string();
    m.dest = (d / "method").string();
    EXPECT_EQ(m.Exec(), 1);
    ASSERT_EQ(m.Of(zacSkipped).size(), 1u);
    EXPECT_EQ(m.Of(zacSkipped)[0].value20, uenMethod);
    EXPECT_FALSE(fs::exists(d / "method" / "bz.txt"));
    // Testing writes nothing and counts only the good entry.
    Call t = run("test", -1, true);
    EXPECT_FALSE(fs::exists(d / "test"));
    EXPECT_EQ(t.Of(zacCrcError).size(), 1u);
}

TEST(UnzDll, StopEndsTheRunAndRemovesOnlyItsPartialFile) {
    TempDir d;
    const std::string big = Data(3 << 20, 5);
    test::WriteFile(d / "s.zip", test::BuildZip({{"first.txt", "1"}, {"big.bin", big}, {"last.txt", "3"}}));
    test::WriteFile(d / "out" / "keep.txt", "mine");
    Call c;
    c.archive = (d / "s.zip").string();
    c.dest = (d / "out").string();
    c.answer = [](ZipCallbackRecord& r) { return r.ActionCode == zacProgress && r.FileSize > 1 ? -1 : 0; };
    EXPECT_EQ(c.Exec(), 1);
    EXPECT_TRUE(fs::exists(d / "out" / "first.txt"));
    EXPECT_FALSE(fs::exists(d / "out" / "big.bin"));
    EXPECT_FALSE(fs::exists(d / "out" / "last.txt"));
    EXPECT_EQ(test::ReadText(d / "out" / "keep.txt"), "mine");
    EXPECT_TRUE(c.HasError(uenAborted));
    EXPECT_EQ(c.events.back().action, zacEndOfBatch);
    // A stop at the new-file report starts nothing.
    Call n;
    n.archive = c.archive;
    n.dest = (d / "none").string();
    n.answer = [](ZipCallbackRecord& r) { return r.ActionCode == zacNewFile ? -1 : 0; };
    EXPECT_EQ(n.Exec(), 0);
    EXPECT_FALSE(fs::exists(d / "none" / "first.txt"));
}

TEST(UnzDll, ExtractToMemory) {
    TempDir d;
    const std::string body = Data(100000, 7);
    test::WriteFile(d / "m.zip", test::BuildZip({{"dir/x.bin", body}, {"Dir/x.bin", "other"}, {"e", ""}}));
    std::vector<uint8_t> block(body.size());
    Call c;
    c.archive = (d / "m.zip").string();
    c.specs = {"\\dir/x.bin"};
    c.rec.ExtractToMemory = -1;
    c.rec.MemoryBlock = block.data();
    c.rec.MemoryBlockSize = static_cast<uint32_t>(block.size());
    EXPECT_EQ(c.Exec(), 1);
    EXPECT_EQ(std::string(block.begin(), block.end()), body);
    EXPECT_EQ(c.Of(zacNewFile).size(), 1u);
    // A block of the wrong size, an empty entry, a pattern taking two entries.
    std::vector<uint8_t> small(10);
    c.rec.MemoryBlock = small.data();
    c.rec.MemoryBlockSize = 10;
    EXPECT_EQ(c.Exec(), 0);
    EXPECT_TRUE(c.HasError(uenMemory));
    c.specs = {"\\e"};
    c.rec.MemoryBlock = nullptr;
    c.rec.MemoryBlockSize = 0;
    EXPECT_EQ(c.Exec(), 1);
    c.specs = {"*.bin"};
    c.rec.MemoryBlock = block.data();
    c.rec.MemoryBlockSize = static_cast<uint32_t>(block.size());
    EXPECT_EQ(c.Exec(), 0);
}

TEST(UnzDll, RecordChecksAndUnsafeNames) {
    TempDir d;
    test::WriteFile(d / "t.zip", test::BuildZip({{"../evil.txt", "x"}, {"/abs.txt", "y"}, {"ok.txt", "z"}}));
    // Without the 7 the record is not trusted at all: not even its callback is called.
    Call bad;
    bad.archive = (d / "t.zip").string();
    bad.dest = (d / "bad").string();
    bad.rec.Seven = 0;
    EXPECT_EQ(bad.Exec(), 0);
    EXPECT_TRUE(bad.events.empty());
    EXPECT_EQ(Engine().exec(nullptr), 0);
    Call neg;
    neg.archive = bad.archive;
    neg.rec.ArgCount = -1;
    neg.rec.ZipFileName = neg.archive.c_str();
    EXPECT_EQ(Engine().exec(&neg.rec), 0);
    EXPECT_TRUE(neg.HasError(uenArguments));
    Call noName;
    EXPECT_EQ(noName.Exec(), 0);
    EXPECT_TRUE(noName.HasError(uenArguments));
    Call missing;
    missing.archive = (d / "none.zip").string();
    EXPECT_EQ(missing.Exec(), 0);
    EXPECT_TRUE(missing.HasError(uenArchive));
    test::WriteFile(d / "text.zip", std::string(300, 't'));
    Call notZip;
    notZip.archive = (d / "text.zip").string();
    EXPECT_EQ(notZip.Exec(), 0);
    EXPECT_TRUE(notZip.HasError(uenArchive));
    // Names leading out of the destination stay inside it or are refused.
    Call c;
    c.archive = (d / "t.zip").string();
    c.dest = (d / "in" / "out").string();
    c.Exec();
    EXPECT_FALSE(fs::exists(d / "in" / "evil.txt"));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    EXPECT_TRUE(fs::exists(d / "in" / "out" / "ok.txt"));
    bool refused = false;
    for (const auto& s : c.Of(zacSkipped))
        if (s.text == "../evil.txt") refused = s.value20 == uenName && (s.value24 & 0xFF) == zstError;
    EXPECT_TRUE(refused);
}

TEST(UnzDll, SplitSetWithAnImpossibleDirectorySize) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    test::WriteFile(d / "src" / "a.bin", Data(150000, 8));
    ASSERT_EQ(test::Run("cd " + test::Quote(d / "src") + " && zip -q -0 -s 64k ../set.zip a.bin"), 0);
    ASSERT_TRUE(fs::exists(d / "set.z01"));
    {
        Call c;
        c.archive = (d / "set.zip").string();
        c.rec.Test = -1;
        EXPECT_EQ(c.Exec(), 1);
    }
    // The end record claims a directory of 3.75 GiB: refused before anything is read or reserved.
    auto z = test::ReadFile(d / "set.zip");
    ASSERT_GE(z.size(), 22u);
    PutLe32(&z[z.size() - 22 + 12], 0xF0000000u);
    test::WriteFile(d / "set.zip", z);
    Call c;
    c.archive = (d / "set.zip").string();
    c.rec.Test = -1;
    EXPECT_EQ(c.Exec(), 0);
    EXPECT_TRUE(c.HasError(uenFormat));
}

TEST(UnzDll, LongNamesStayInsideTheTextArea) {
    TempDir d;
    std::string path = std::string(240, 'd') + "/" + std::string(200, 'n') + "/" + std::string(100, 'm');
    // A name longer than the text area, with multi-byte characters at the cut.
    std::string part;
    for (int i = 0; i < 100; ++i)
        part += "\xC3\xA9";
    const std::string wide = part + "/" + part + "/" + part;
    test::WriteFile(d / "l.zip", test::BuildZip({{path, "a"}, {wide, "b"}}));
    Call c;
    c.archive = (d / "l.zip").string();
    c.dest = (d / "o").string();
    EXPECT_EQ(c.Exec(), 2);
    auto files = c.Of(zacNewFile);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].text, path.substr(0, 511));
    EXPECT_EQ(files[1].text.size(), 510u);  // cut before a character that would not fit whole
}

TEST(UnzDll, OldRecordOfAVersion151Library) {
    TempDir d;
    test::WriteFile(d / "o.zip", test::BuildZip({{"a.txt", "A"}, {"b.txt", "B"}, {"c.dat", "C"}}));
    Library old(VARNOK_UNZDLL151_PATH);
    ASSERT_NE(old.exec, nullptr);
    auto rec = std::make_unique<UnzExecRecordOld>();
    std::memset(rec.get(), 0, sizeof *rec);
    std::vector<Event> events;
    struct Ctx {
        std::vector<Event>* ev;
    } ctx{&events};
    rec->Caller = &ctx;
    rec->Callback = [](ZipCallbackRecord* r) -> int32_t {
        static_cast<Ctx*>(r->Caller)->ev->push_back({r->ActionCode, r->ErrorCode, r->FileSize, r->Text});
        return 0;
    };
    rec->Version = 160;
    rec->Test = -1;
    rec->AlwaysTrue = -1;
    std::string archive = (d / "o.zip").string();
    rec->ZipFileName = archive.c_str();
    rec->FileSpecs[0] = "*.txt";
    rec->ArgCount = 1;
    rec->Seven = 7;
    EXPECT_EQ(old.exec(reinterpret_cast<UnzExecRecord*>(rec.get())), 2);
    int newFiles = 0;
    for (const auto& e : events)
        newFiles += e.action == zacNewFile;
    EXPECT_EQ(newFiles, 2);
    // The new record handed to the old library is refused (its 7 is not at 72).
    Call c;
    c.archive = archive;
    c.rec.Test = -1;
    EXPECT_EQ(c.Exec(old.exec), 0);
}

TEST(UnzDll, CallsRunSideBySide) {
    TempDir d;
    std::vector<std::string> bodies;
    for (int i = 0; i < 4; ++i) {
        bodies.push_back(Data(400000 + static_cast<size_t>(i) * 1000, static_cast<uint32_t>(10 + i)));
        test::WriteFile(d / ("t" + std::to_string(i) + ".zip"),
                        test::BuildZip({{"f.bin", bodies.back()}, {"g.txt", "g"}}));
    }
    std::vector<int> results(4, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            Call c;
            c.archive = (d / ("t" + std::to_string(i) + ".zip")).string();
            c.dest = (d / ("o" + std::to_string(i))).string();
            results[static_cast<size_t>(i)] = c.Exec();
        });
    }
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(results[static_cast<size_t>(i)], 2);
        EXPECT_EQ(test::ReadText(d / ("o" + std::to_string(i)) / "f.bin"), bodies[static_cast<size_t>(i)]);
    }
}

}  // namespace
}  // namespace varnok
