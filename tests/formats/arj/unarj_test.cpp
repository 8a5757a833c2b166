// TUnArj: archives made by arj with every method, garbling and volumes, read back byte for byte with their
// Unix modes and times; passwords; files continued over volumes (appended only to their own first part);
// damaged, out-of-version and hostile headers; the real samples against the peers' digests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <set>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/formats/arj/unarj.h"
#include "tests/formats/lzh/extract_harness.h"
#include "tests/formats/lzh/lzh_test_util.h"
#include "tests/formats/lzh/test_data.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::ExtractOptions;
using test::RunExtractor;

constexpr time_t kStamp = 1300000000;

// Bytes that do not compress, so that they fill volumes.
std::vector<uint8_t> Noise(size_t n, uint32_t s) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b = static_cast<uint8_t>(s >> 7);
    }
    return v;
}

// A tree of files with known modes and times.
void MakeTree(const fs::path& src) {
    test::WriteFile(src / "r.bin", Noise(150 * 1024, 31));
    test::WriteFile(src / "t.txt", test::MixedData(90 * 1024, 32));
    test::WriteFile(src / "sub/tool.sh", std::string("#!/bin/sh\necho hi\n"));
    test::WriteFile(src / "sub/empty", std::string());
    chmod((src / "sub/tool.sh").c_str(), 0750);
    for (const char* f : {"r.bin", "t.txt", "sub/tool.sh", "sub/empty"}) {
        struct timespec ts[2] = {{kStamp, 0}, {kStamp, 0}};
        utimensat(AT_FDCWD, (src / f).c_str(), ts, 0);
    }
}

// Makes t.arj in dir from dir/src with arj's options; false when arj fails.
bool Arj(const fs::path& dir, const std::string& options) {
    return test::Run("cd " + test::Quote(dir / "src") + " && arj a -y -r " + options +
                     " ../t.arj r.bin t.txt sub >/dev/null 2>&1") == 0;
}

// Positions of the file headers (the main header left out).
std::vector<size_t> FileHeaders(const std::vector<uint8_t>& f) {
    std::vector<size_t> out;
    size_t pos = 0;
    for (bool main = true; pos + 4 <= f.size() && Le16(&f[pos]) == 0xEA60 && Le16(&f[pos + 2]);
         main = false) {
        size_t basic = Le16(&f[pos + 2]);
        size_t next = pos + 4 + basic + 4;
        while (next + 2 <= f.size() && Le16(&f[next]))
            next += 2 + Le16(&f[next]) + 4;
        next += 2;
        if (!main) {
            out.push_back(pos);
            next += Le32(&f[pos + 4 + 12]);
        }
        pos = next;
    }
    return out;
}

// Changes a file header's basic header and puts its CRC right again.
void PatchHeader(const fs::path& p, int index, const std::function<void(uint8_t* basic)>& edit) {
    auto f = test::ReadFile(p);
    size_t pos = FileHeaders(f).at(static_cast<size_t>(index));
    size_t basic = Le16(&f[pos + 2]);
    edit(&f[pos + 4]);
    PutLe32(&f[pos + 4 + basic], Crc32(&f[pos + 4], basic));
    test::WriteFile(p, f);
}

// ----------------------------------------------------------------------------------------- made by arj

struct ArjCase {
    const char* name;
    const char* options;
    const char* password;  // for -g
};

class UnArjPeer : public ::testing::TestWithParam<ArjCase> {};

TEST_P(UnArjPeer, ExtractsWhatArjWroteWithModesAndTimes) {
    VARNOK_REQUIRE_TOOL("arj");
    const ArjCase c = GetParam();
    test::TempDir dir;
    MakeTree(dir / "src");
    ASSERT_TRUE(Arj(dir.Path(), c.options));
    if (std::string(c.options).find("-v") != std::string::npos) {
        ASSERT_TRUE(fs::exists(dir / "t.a02"));
    }
    ExtractOptions o;
    if (*c.password) o.passwords = {c.password};
    TUnArj x;
    auto log = RunExtractor(x, dir / "t.arj", dir / "out", o);
    EXPECT_EQ(log.failed, 0);
    EXPECT_TRUE(log.errors.empty());
    EXPECT_EQ(log.result, 4);
    EXPECT_EQ(test::ReadTree(dir / "out"), test::ReadTree(dir / "src"));
    struct stat st;
    ASSERT_EQ(stat((dir / "out/sub/tool.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_EQ(st.st_mtime, kStamp);
    ASSERT_EQ(stat((dir / "out/r.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, kStamp);

    TUnArj t;
    o.test = true;
    auto tested = RunExtractor(t, dir / "t.arj", dir / "none", o);
    EXPECT_EQ(tested.failed, 0);
    EXPECT_EQ(tested.verdicts.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, UnArjPeer,
    ::testing::Values(ArjCase{"stored", "-m0", ""}, ArjCase{"m1", "-m1", ""}, ArjCase{"m2", "-m2", ""},
                      ArjCase{"m3", "-m3", ""}, ArjCase{"m4", "-m4", ""},
                      ArjCase{"garbled_m1", "-m1 -gsecret", "secret"},
                      ArjCase{"garbled_m4", "-m4 -gKey9", "Key9"}, ArjCase{"volumes_m1", "-m1 -v40k", ""},
                      ArjCase{"volumes_garbled", "-m0 -v40k -gpw", "pw"}),
    [](const ::testing::TestParamInfo<ArjCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------- passwords

TEST(UnArjPasswords, WrongAnswersAreBoundedAndNothingIsWritten) {
    VARNOK_REQUIRE_TOOL("arj");
    test::TempDir dir;
    MakeTree(dir / "src");
    ASSERT_TRUE(Arj(dir.Path(), "-m1 -gright"));
    TUnArj x;
    x.PasswordAttempts = 25;  // at most 10 for ARJ
    auto log =
        RunExtractor(x, dir / "t.arj", dir / "out", {.answers = std::vector<std::string>(30, "wrong")});
    EXPECT_EQ(log.passwordRequests, 10);
    EXPECT_TRUE(log.Has(E_InvalidPassword));
    EXPECT_EQ(log.failed, 4);  // the first after its attempts, the others without being asked
    EXPECT_TRUE(test::ReadTree(dir / "out").empty());

    TUnArj y;
    auto good = RunExtractor(y, dir / "t.arj", dir / "out2", {.passwords = {"a", "b", "right"}});
    EXPECT_EQ(good.passwordRequests, 0);
    EXPECT_EQ(good.failed, 0);
    EXPECT_EQ(test::ReadTree(dir / "out2"), test::ReadTree(dir / "src"));
}

// ------------------------------------------------------------------------------------------------ volumes

class UnArjVolumes : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveTool("arj")) GTEST_SKIP() << "peer tool not installed: arj";
        MakeTree(dir_ / "src");
        ASSERT_TRUE(Arj(dir_.Path(), "-m1 -v60k"));
        // r.bin starts in the first volume and goes on in the next ones.
        ASSERT_TRUE(fs::exists(dir_ / "t.a02"));
    }
    std::vector<uint8_t> Src(const std::string& n) { return test::ReadFile(dir_ / "src" / n); }
    test::TempDir dir_;
};

TEST_F(UnArjVolumes, SkippedFirstPartIsNotContinuedIntoAnotherFile) {
    test::WriteFile(dir_ / "out/r.bin", std::string("unrelated file"));
    TUnArj x;
    auto log = RunExtractor(x, dir_ / "t.arj", dir_ / "out", {.skipExisting = true});
    EXPECT_EQ(test::ReadText(dir_ / "out/r.bin"), "unrelated file");
    EXPECT_EQ(test::ReadFile(dir_ / "out/t.txt"), Src("t.txt"));
    EXPECT_EQ(log.failed, 0);
}

TEST_F(UnArjVolumes, UnselectedSplitFileLeavesTheNextFileAlone) {
    TUnArj x;
    auto log = RunExtractor(x, dir_ / "t.arj", dir_ / "out", {.fileSpec = {"t.txt"}});
    EXPECT_EQ(log.result, 1);
    EXPECT_FALSE(fs::exists(dir_ / "out/r.bin"));
    EXPECT_EQ(test::ReadFile(dir_ / "out/t.txt"), Src("t.txt"));
}

TEST_F(UnArjVolumes, ALaterVolumeAloneNeverAppends) {
    test::WriteFile(dir_ / "out/r.bin", std::string("unrelated file"));
    TUnArj x;
    auto log = RunExtractor(x, dir_ / "t.a01", dir_ / "out");
    EXPECT_TRUE(log.Has(E_BrokenMultiVolume));
    EXPECT_EQ(test::ReadText(dir_ / "out/r.bin"), "unrelated file");
    EXPECT_EQ(test::ReadFile(dir_ / "out/t.txt"), Src("t.txt"));
    // A test checks such parts on their own.
    TUnArj t;
    auto tested = RunExtractor(t, dir_ / "t.a01", dir_ / "none", {.test = true});
    EXPECT_EQ(tested.failed, 0);
    EXPECT_TRUE(tested.Passed("r.bin"));
}

TEST_F(UnArjVolumes, MissingVolumeFailsTheSplitFile) {
    fs::rename(dir_ / "t.a02", dir_ / "moved");
    TUnArj x;
    auto log = RunExtractor(x, dir_ / "t.arj", dir_ / "out");
    EXPECT_TRUE(log.Failed("r.bin"));
    EXPECT_GE(log.failed, 1);
}

// ------------------------------------------------------------------------------------------------ damage

class UnArjDamage : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveTool("arj")) GTEST_SKIP() << "peer tool not installed: arj";
        MakeTree(dir_ / "src");
        ASSERT_TRUE(Arj(dir_.Path(), "-m2"));
        arc_ = dir_ / "t.arj";
    }
    test::ExtractLog Run(bool testing = false) {
        TUnArj x;
        return RunExtractor(x, arc_, dir_ / "out", {.test = testing});
    }
    test::TempDir dir_;
    fs::path arc_;
};

TEST_F(UnArjDamage, FlippedByteFailsThatEntryOnly) {
    auto f = test::ReadFile(arc_);
    size_t pos = FileHeaders(f)[0];
    f[pos + 4 + Le16(&f[pos + 2]) + 4 + 2 + 100] ^= 0x10;  // inside the first entry's data
    test::WriteFile(arc_, f);
    for (bool testing : {true, false}) {
        auto log = Run(testing);
        EXPECT_EQ(log.failed, 1);
        EXPECT_EQ(log.verdicts.size(), 4u);
    }
}

TEST_F(UnArjDamage, DamagedHeaderStopsTheWalk) {
    auto f = test::ReadFile(arc_);
    f[FileHeaders(f)[1] + 4 + 12] ^= 1;  // the second header's compressed size, under its CRC
    test::WriteFile(arc_, f);
    auto log = Run();
    EXPECT_TRUE(log.Has(E_HeaderCrc));
    EXPECT_EQ(log.result, 1);
}

TEST_F(UnArjDamage, NewerVersionAndUnknownMethodAreRefused) {
    PatchHeader(arc_, 0, [](uint8_t* b) { b[2] = 4; });  // minimum version to extract
    PatchHeader(arc_, 1, [](uint8_t* b) { b[5] = 7; });  // method
    auto log = Run();
    EXPECT_TRUE(log.Has(E_VersionError));
    EXPECT_TRUE(log.Has(E_UnsupportedMethod));
    EXPECT_EQ(log.result, 2);
    EXPECT_EQ(test::ReadTree(dir_ / "out").size(), 2u);
}

TEST_F(UnArjDamage, NamesLeavingTheDestinationAreRefused) {
    PatchHeader(arc_, 0, [](uint8_t* b) { std::memcpy(b + b[0], "/x.bn", 5); });  // was "r.bin"
    PatchHeader(arc_, 1, [](uint8_t* b) { std::memcpy(b + b[0], "../tt", 5); });  // was "t.txt"
    auto log = Run();
    EXPECT_TRUE(log.Has(E_InvalidFileName));
    EXPECT_FALSE(fs::exists(dir_ / "tt"));
    EXPECT_TRUE(fs::exists(dir_ / "out/x.bn"));
    EXPECT_EQ(log.result, 3);
}

// ----------------------------------------------------------------------------------------- real samples

TEST(UnArjFixtures, ContentMatchesWhatPeersExtracted) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    int archives = 0, files = 0;
    for (const std::string& path : test::FixturesOfFormat("arj")) {
        auto rows = test::ExtractedFiles(path);
        if (rows.empty()) continue;
        SCOPED_TRACE(path);
        ++archives;
        ExtractOptions o;
        if (std::string pw = test::PasswordOf(rows); !pw.empty()) o.passwords = {pw};
        test::TempDir out;
        TUnArj x;
        auto log = RunExtractor(x, test::FixturesDir() / path, out.Path(), o);
        EXPECT_EQ(log.failed, 0);
        auto tree = test::ReadTree(out.Path());
        for (const auto& r : rows) {
            auto it = tree.find(r.entry);
            ASSERT_NE(it, tree.end()) << r.entry;
            EXPECT_EQ(test::Sha256Hex(it->second), r.sha256) << r.entry;
            ++files;
        }
    }
    EXPECT_GE(archives, 12);
    printf("%d archives, %d files compared\n", archives, files);
}

}  // namespace
}  // namespace varnok
