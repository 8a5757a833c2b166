// The ZIP writer's settings that an engine record asks for one pattern at a time (recursion, password) or that
// override the base's defaults (hidden files, the suffixes stored as they are, folder entries, comments of new
// files). A setting that leaked from one pattern to another would encrypt or leave out the wrong files.
#include <gtest/gtest.h>

#include <algorithm>

#include "archive/core/bytes.h"
#include "archive/formats/zip/zip_writer.h"
#include "tests/support/writer_run.h"

namespace varnok::test {
namespace {

struct Rec {
    std::string name, comment;
    uint16_t flags = 0, method = 0;
};

std::vector<Rec> CentralOf(const fs::path& p) {
    std::vector<uint8_t> b = ReadFile(p);
    std::vector<Rec> out;
    size_t e = b.size() - 22;
    while (e > 0 && Le32(&b[e]) != 0x06054B50)
        --e;
    size_t at = Le32(&b[e + 16]);
    for (unsigned n = Le16(&b[e + 10]); n > 0; --n) {
        Rec r;
        r.flags = Le16(&b[at + 8]);
        r.method = Le16(&b[at + 10]);
        const size_t nl = Le16(&b[at + 28]), xl = Le16(&b[at + 30]), cl = Le16(&b[at + 32]);
        r.name.assign(reinterpret_cast<const char*>(&b[at + 46]), nl);
        r.comment.assign(reinterpret_cast<const char*>(&b[at + 46 + nl + xl]), cl);
        out.push_back(r);
        at += 46 + nl + xl + cl;
    }
    std::sort(out.begin(), out.end(), [](const Rec& a, const Rec& b2) { return a.name < b2.name; });
    return out;
}

std::vector<std::string> NamesOf(const fs::path& p) {
    std::vector<std::string> n;
    for (const auto& r : CentralOf(p))
        n.push_back(r.name);
    return n;
}

struct Src {
    TempDir dir;
    fs::path src = dir / "src", zip = dir / "o.zip";
    Src() {
        fs::create_directories(src / "sub");
        fs::create_directories(src / ".git");
        WriteFile(src / "a.txt", Text(4000));
        WriteFile(src / "b.dat", Text(4000));
        WriteFile(src / "sub/c.txt", Text(4000));
        WriteFile(src / "sub/d.dat", Text(4000));
        WriteFile(src / ".profile", "hidden");
        WriteFile(src / ".git/config", "hidden too");
    }
};

TEST(ZipWriterOptions, RecursionIsDecidedPerPattern) {
    Src s;
    TZip w;
    WriteOutcome o = RunWriter(w, s.zip, {"*.txt", "*.dat"}, s.src, [](TCompBase& c) {
        c.StoreEmptySubDirs = false;
        c.RecurseDirs = true;
        static_cast<TZip&>(c).SpecRecurse = {-1, 0};  // the first follows RecurseDirs, the second stays put
    });
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(NamesOf(s.zip), (std::vector<std::string>{"a.txt", "b.dat", "sub/c.txt"}));
}

TEST(ZipWriterOptions, HiddenFilesAndFoldersAreSkippedOnlyWhenAsked) {
    Src s;
    TZip w;
    RunWriter(w, s.zip, {"*"}, s.src, [](TCompBase& c) {
        c.StoreEmptySubDirs = false;
        c.SkipHidden = true;
    });
    EXPECT_EQ(NamesOf(s.zip), (std::vector<std::string>{"a.txt", "b.dat", "sub/c.txt", "sub/d.dat"}));
    fs::remove(s.zip);
    TZip all;
    RunWriter(all, s.zip, {"*"}, s.src, [](TCompBase& c) { c.StoreEmptySubDirs = false; });
    EXPECT_EQ(NamesOf(s.zip).size(), 6u);
}

TEST(ZipWriterOptions, PatternPasswordsEncryptOnlyTheirOwnFiles) {
    Src s;
    TZip w;
    RunWriter(w, s.zip, {"*.txt", "*.dat"}, s.src, [](TCompBase& c) {
        c.StoreEmptySubDirs = false;
        c.RecurseDirs = false;
        c.Password = "run";
        static_cast<TZip&>(c).SpecPassword = {{0, "own"}, {1, ""}};
    });
    auto r = CentralOf(s.zip);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_TRUE(r[0].name == "a.txt" && (r[0].flags & 1));
    EXPECT_TRUE(r[1].name == "b.dat" && !(r[1].flags & 1));
    EXPECT_EQ(w.Password, "run") << "the run's password is given back after each file";
    if (HaveTool("unzip")) {
        std::string out;
        EXPECT_EQ(test::Run("unzip -P own -p " + Quote(s.zip) + " a.txt", &out), 0);
        EXPECT_EQ(out, Text(4000));
    }
}

TEST(ZipWriterOptions, StoreSuffixesReplaceTheCompressedTable) {
    Src s;
    WriteFile(s.src / "x.zip", Text(4000));  // in the base's table, not in ours
    TZip w;
    RunWriter(w, s.zip, {"a.txt", "b.dat", "x.zip"}, s.src, [](TCompBase& c) {
        static_cast<TZip&>(c).StoreSuffixes = std::vector<std::string>{".DAT"};
    });
    auto r = CentralOf(s.zip);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].method, 8);  // a.txt
    EXPECT_EQ(r[1].method, 0);  // b.dat
    EXPECT_EQ(r[2].method, 8);  // x.zip: compressible text, compressed
}

TEST(ZipWriterOptions, EveryFolderEntryAndNewFileComments) {
    Src s;
    TZip w;
    RunWriter(w, s.zip, {"*.txt"}, s.src, [](TCompBase& c) {
        c.SkipHidden = true;
        auto& z = static_cast<TZip&>(c);
        z.AllDirEntries = true;
        z.NewEntryComment = [](const std::string& name) { return name == "a.txt" ? "first" : ""; };
    });
    auto r = CentralOf(s.zip);
    std::vector<std::string> names;
    for (const auto& x : r)
        names.push_back(x.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub/", "sub/c.txt"}));
    EXPECT_EQ(r[0].comment, "first");
    EXPECT_EQ(r[2].comment, "");
}

}  // namespace
}  // namespace varnok::test
