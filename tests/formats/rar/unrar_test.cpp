// TUnRar against the real samples (the peers' checksums and bsdtar's output), volume sets of both naming
// schemes, passwords, entries the library cannot decode, a missing library, and hostile names.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "archive/core/engine_library.h"
#include "archive/core/errors.h"
#include "archive/formats/rar/unrar.h"
#include "tests/formats/rar/rar_builder.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string Sha256(const fs::path& p) {
    std::string out;
    test::Run("sha256sum " + test::Quote(p), &out);
    return out.substr(0, 64);
}

struct Outcome {
    int result = 0;
    std::vector<std::pair<int, std::string>> errors;  // code, file name
    std::map<std::string, int> failed;                // OnEntryFailed: stored name -> code
    int volumesAsked = 0;
    bool raised = false;
    int raisedCode = 0;
};

struct Options {
    bool testing = false;
    bool answerVolumes = true;
    std::string password;  // given through OnGetPassword
    bool askPassword = false;
};

Outcome Extract(const fs::path& archive, const fs::path& dest, const Options& o = {}) {
    TUnRar u;
    Outcome r;
    u.SetArchiveFile(archive.string());
    u.ExtractDir = dest.string();
    u.FileSpec = {"*.*"};
    u.ConfirmOverwrites = false;
    u.OnError = [&](TZipCommon&, const std::string& file, const std::string&, const std::string&, int code) {
        r.errors.push_back({code, file});
    };
    u.OnEntryFailed = [&](TZipCommon&, const std::string& name, const std::string&, int code,
                          const std::string&) { r.failed[name] = code; };
    if (o.answerVolumes)
        u.OnNextVolume = [&](TZipCommon&, std::string&, const std::string&, bool exists, bool& cancel) {
            ++r.volumesAsked;
            cancel = !exists;
        };
    if (o.askPassword)
        u.OnGetPassword = [&](TZipCommon&, const std::string&, std::string& pw, bool& again) {
            pw = o.password;
            again = !pw.empty();
        };
    try {
        r.result = o.testing ? u.TestArchive() : u.ExtractArchive();
    } catch (const ArchiveError& e) {
        r.raised = true;
        r.raisedCode = e.Code();
    }
    if (o.askPassword || !o.answerVolumes) r.errors.push_back({-1, u.FileSpec.empty() ? "" : "specs"});
    return r;
}

bool HasError(const Outcome& r, int code) {
    for (const auto& e : r.errors)
        if (e.first == code) return true;
    return false;
}

std::set<std::string> FilesBelow(const fs::path& d) {
    std::set<std::string> s;
    if (!fs::exists(d)) return s;
    for (auto& e : fs::recursive_directory_iterator(d))
        if (e.is_regular_file()) s.insert(fs::relative(e.path(), d).string());
    return s;
}

class UnRar : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { EngineLibrary::SetFolder(VARNOK_ENGINE_DIR); }
    fs::path Sample(const std::string& rel) {
        const fs::path p = test::Fixture("rar/" + rel);
        return fs::exists(p) ? p : fs::path();
    }
    TempDir tmp_;
};

// Without the library (a run in its own process, whose library folder is empty): the run fails at once.
TEST(UnRarWithoutLibrary, FailsAtOnceTouchingNoEntry) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TempDir empty;
            EngineLibrary::SetFolder(empty.Path().string());
            fs::path a = empty / "a.rar";
            test::WriteFile(a, test::MakeRar4({{"a.txt", "abc"}}));
            TUnRar u;
            u.SetArchiveFile(a.string());
            u.ExtractDir = (empty / "out").string();
            u.FileSpec = {"*.*"};
            bool begun = false;
            u.OnBegin = [&](TZipCommon&, const std::string&, int, bool&) { begun = true; };
            int code = 0;
            std::string text;
            try {
                u.ExtractArchive();
            } catch (const ArchiveError& e) {
                code = e.Code();
                text = e.what();
            }
            const bool ok = code == E_UnrarNotFound && text.find("Unrar.dll not found") != std::string::npos &&
                            !begun && FilesBelow(empty / "out").empty();
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(UnRar, HostileNamesStayInsideTheDestination) {
    const fs::path a = tmp_ / "h.rar";
    test::WriteFile(a, test::MakeRar4({{"..\\..\\escape.txt", "1"},
                                       {"\\abs\\inside.txt", "2"},
                                       {"sub\\..\\..\\up.txt", "3"},
                                       {"ok.txt", "4"}}));
    const fs::path out = tmp_ / "d" / "out";
    Outcome r = Extract(a, out);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(FilesBelow(tmp_ / "d"), (std::set<std::string>{"out/abs/inside.txt", "out/ok.txt"}));
    EXPECT_FALSE(fs::exists(tmp_ / "escape.txt"));
    EXPECT_FALSE(fs::exists(tmp_ / "up.txt"));
    EXPECT_EQ(r.failed.size(), 2u);
}

TEST_F(UnRar, DamagedDataFailOnceAndLeaveNoFile) {
    const fs::path a = tmp_ / "c.rar";
    test::WriteFile(a, test::MakeRar4({{"good.txt", "fine"}, {"bad.txt", std::string(5000, 'z'), true}}));
    const fs::path out = tmp_ / "out";
    Outcome r = Extract(a, out);
    EXPECT_EQ(FilesBelow(out), (std::set<std::string>{"good.txt"}));
    ASSERT_EQ(r.failed.size(), 1u);
    EXPECT_EQ(r.failed.begin()->first, "bad.txt");
    EXPECT_EQ(r.failed.begin()->second, E_BadFileHeader);
    // Testing says the same and writes nothing.
    Outcome t = Extract(a, tmp_ / "t", {.testing = true});
    EXPECT_EQ(t.failed.size(), 1u);
    EXPECT_TRUE(FilesBelow(tmp_ / "t").empty());
}

// Every sample against the checksums the peers gave (EXPECTED.tsv): each listed file is either extracted
// with the peer's content or failed with its own report, never written wrong or empty.
TEST_F(UnRar, SamplesMatchThePeersOrFailPerEntry) {
    const fs::path expected = test::FixturesDir() / "EXPECTED.tsv";
    if (!fs::exists(expected)) GTEST_SKIP() << "fixtures absent";
    std::map<std::string, std::map<std::string, std::string>> want;  // archive -> name -> sha
    std::ifstream in(expected);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t')) f.push_back(cell);
        if (f.size() < 4 || f[0].rfind("rar/", 0) != 0 || f[3].size() != 64) continue;
        if (f[2] != "-" && std::stoull(f[2]) > (32u << 20)) continue;  // too slow under the sanitizers
        // A row the peer wrote while failing on the entry (an empty file of an entry it could not decode) is
        // no evidence; the entry's own CRC judges it (the extraction fails it otherwise).
        if (f.size() > 4 && f[4].find("partial") != std::string::npos && f[2] == "0") continue;
        want[f[0]][f[1]] = f[3];
    }
    const std::map<std::string, std::string> passwords = {{"rar/rarfile_rar202-comment-psw.rar", "password"},
                                                          {"rar/rarfile_rar3-comment-psw.rar", "password"},
                                                          {"rar/rarfile_rar5-psw.rar", "password"},
                                                          {"rar/rarfile_rar5-hpsw.rar", "password"}};
    int matched = 0, failed = 0, n = 0;
    for (const auto& [arc, files] : want) {
        const fs::path out = tmp_ / ("o" + std::to_string(n++));
        Options o;
        if (passwords.count(arc)) {
            o.askPassword = true;
            o.password = passwords.at(arc);
        }
        Outcome r = Extract(test::FixturesDir() / arc, out, o);
        const std::set<std::string> got = FilesBelow(out);
        for (const auto& [name, sha] : files) {
            if (got.count(name)) {
                EXPECT_EQ(Sha256(out / name), sha) << arc << ": " << name;
                ++matched;
            } else {
                ++failed;
                EXPECT_FALSE(r.failed.empty() && r.errors.empty()) << arc << ": " << name << " missing unreported";
            }
        }
        for (const auto& g : got) {
            // Besides the listed files only Unix links come out, as files holding their targets.
            if (!files.count(g)) {
                EXPECT_GT(fs::file_size(out / g), 0u) << arc << ": " << g;
            }
        }
    }
    EXPECT_GE(matched, 25) << failed << " failed";
}

// What bsdtar extracts of a sample, we extract alike.
TEST_F(UnRar, SameFilesAsBsdtar) {
    if (!test::HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar absent";
    for (const char* s : {"libarchive_rar.rar", "libarchive_rar_filter.rar", "rarfile_rar5-solid.rar",
                          "rarfile_rar5-subdirs.rar", "libarchive_rar_sfx.exe", "ssokolow_testfile.rar3.av.rar"}) {
        const fs::path p = Sample(s);
        if (p.empty()) GTEST_SKIP() << "fixtures absent";
        const fs::path ours = tmp_ / (std::string(s) + ".ours"), theirs = tmp_ / (std::string(s) + ".bsd");
        fs::create_directories(theirs);
        test::Run("cd " + test::Quote(theirs) + " && bsdtar -xf " + test::Quote(p) + " 2>/dev/null");
        Extract(p, ours);
        std::set<std::string> bsd;
        for (auto& e : fs::recursive_directory_iterator(theirs))
            if (e.is_regular_file() && !e.is_symlink()) bsd.insert(fs::relative(e.path(), theirs).string());
        ASSERT_FALSE(bsd.empty()) << s;
        for (const auto& f : bsd) {
            ASSERT_TRUE(fs::exists(ours / f)) << s << ": " << f;
            EXPECT_EQ(test::ReadFile(ours / f), test::ReadFile(theirs / f)) << s << ": " << f;
        }
    }
}

TEST_F(UnRar, VolumeSetsOfBothNamingSchemes) {
    for (const char* first : {"vols3_rarfile/rar3-vols.part1.rar", "old_rarfile/rar3-old.rar",
                              "vols5_rarfile/rar5-vols.part1.rar"}) {
        const fs::path p = Sample(first);
        if (p.empty()) GTEST_SKIP() << "fixtures absent";
        const fs::path out = tmp_ / fs::path(first).stem();
        Outcome r = Extract(p, out);
        EXPECT_EQ(r.result, 2) << first;
        EXPECT_EQ(Sha256(out / "vols/bigfile.txt"),
                  "57613b4a0d18b31472c9abe90780dcaf834f4edf48e79008f027a99710cf3632")
            << first;
        // Each further volume is asked for once in the run, however often it is read.
        EXPECT_EQ(r.volumesAsked, 2) << first;
    }
}

TEST_F(UnRar, MissingNextVolumeWithoutOnNextVolumeEndsTheRun) {
    const fs::path p = Sample("vols3_rarfile/rar3-vols.part1.rar");
    if (p.empty()) GTEST_SKIP() << "fixtures absent";
    fs::copy_file(p, tmp_ / "set.part1.rar");
    Outcome r = Extract(tmp_ / "set.part1.rar", tmp_ / "out", {.answerVolumes = false});
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(HasError(r, E_BrokenMultiVolume));
    EXPECT_TRUE(FilesBelow(tmp_ / "out").empty());
}

TEST_F(UnRar, EncryptedEntryWithoutOnGetPasswordEndsTheRun) {
    const fs::path p = Sample("rarfile_rar202-comment-psw.rar");
    if (p.empty()) GTEST_SKIP() << "fixtures absent";
    TUnRar u;
    u.SetArchiveFile(p.string());
    u.ExtractDir = (tmp_ / "out").string();
    u.FileSpec = {"*.*"};
    std::vector<int> codes;
    u.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
        codes.push_back(code);
    };
    EXPECT_EQ(u.ExtractArchive(), 0);
    EXPECT_NE(std::find(codes.begin(), codes.end(), E_InvalidPassword), codes.end());
    EXPECT_TRUE(u.FileSpec.empty());
    EXPECT_TRUE(FilesBelow(tmp_ / "out").empty());
}

// An encrypted file of no bytes has nothing to decrypt: it comes out empty without a password, as its CRC says.
TEST_F(UnRar, EmptyEncryptedFilesNeedNoPassword) {
    const fs::path p = Sample("rarfile_rar3-comment-psw.rar");
    if (p.empty()) GTEST_SKIP() << "fixtures absent";
    auto r = Extract(p, tmp_ / "empty");
    EXPECT_FALSE(r.raised);
    EXPECT_TRUE(r.failed.empty());
    EXPECT_EQ(FilesBelow(tmp_ / "empty"), (std::set<std::string>{"file1.txt", "file2.txt"}));
    EXPECT_EQ(fs::file_size(tmp_ / "empty" / "file1.txt"), 0u);
}

TEST_F(UnRar, WrongPasswordFailsTheEntryAndLeavesNothing) {
    const fs::path psw = Sample("rarfile_rar5-psw.rar");
    const fs::path solid = Sample("rarfile_rar3-solid.rar");
    if (psw.empty() || solid.empty()) GTEST_SKIP() << "fixtures absent";
    Outcome r = Extract(psw, tmp_ / "p", {.password = "wrong", .askPassword = true});
    EXPECT_EQ(r.result, 0);
    // The check value refuses the password before any data: the entry fails, no password fits, the run ends.
    ASSERT_EQ(r.failed.size(), 1u);
    EXPECT_EQ(r.failed.begin()->second, E_InvalidPassword);
    EXPECT_TRUE(FilesBelow(tmp_ / "p").empty());
    Outcome good = Extract(psw, tmp_ / "g", {.password = "password", .askPassword = true});
    EXPECT_EQ(FilesBelow(tmp_ / "g"), (std::set<std::string>{"stest1.txt", "stest2.txt"}));
    Outcome s = Extract(solid, tmp_ / "s");
    EXPECT_EQ(FilesBelow(tmp_ / "s"), (std::set<std::string>{"stest1.txt", "stest2.txt"}));
}

// Archives whose headers are encrypted: the password asked for while reading the headers opens the data too, and
// every entry comes out; a wrong one ends the run with an error, never with "nothing to extract".
TEST_F(UnRar, EncryptedHeadersOpenWithThePasswordAskedForOnce) {
    for (const char* name : {"rarfile_rar5-hpsw.rar", "rarfile_rar3-comment-hpsw.rar"}) {
        SCOPED_TRACE(name);
        const fs::path a = Sample(name);
        if (a.empty()) GTEST_SKIP() << "fixtures absent";
        const fs::path out = tmp_ / (std::string(name) + ".out");
        Options o;
        o.askPassword = true;
        o.password = "password";
        auto r = Extract(a, out, o);
        EXPECT_FALSE(r.raised);
        EXPECT_EQ(FilesBelow(out).size(), 2u);
        for (const auto& row : test::ExpectedOf("rar/" + std::string(name))) {
            if (row.sha256.empty() || !fs::exists(out / row.entry)) continue;
            EXPECT_EQ(Sha256(out / row.entry), row.sha256) << row.entry;
        }
        Options wrong = o;
        wrong.password = "not it";
        const fs::path none = tmp_ / (std::string(name) + ".wrong");
        auto w = Extract(a, none, wrong);
        EXPECT_TRUE(w.raised || !w.errors.empty() || !w.failed.empty());
        EXPECT_TRUE(HasError(w, E_PasswordProtected) || HasError(w, E_InvalidPassword)) << w.errors.size();
        EXPECT_TRUE(FilesBelow(none).empty());
    }
}

}  // namespace
}  // namespace varnok
