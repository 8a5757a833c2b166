// TUnCab through the built cabinet library: the real cabinets against the peers' digests and cabextract's
// output, cabinets gcab makes read back byte for byte, damaged cabinets failing per file and leaving nothing,
// sets and their next-cabinet questions, names that would leave the destination, skips inside a solid folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>

#include "archive/core/engine_library.h"
#include "archive/formats/cab/uncab.h"
#include "tests/formats/cab/cab_builder.h"
#include "tests/support/extractor_run.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// The engines of this build, before the first run looks for them.
const bool kEngines = EngineLibrary::SetFolder(VARNOK_ENGINE_DIR);

std::map<std::string, std::string> Digests(const fs::path& dir) {
    std::map<std::string, std::string> out;
    if (!fs::exists(dir)) return out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out[e.path().lexically_relative(dir).string()] = test::Sha256OfFile(e.path());
    return out;
}

// Extracts (or tests, without dir); the next cabinets are confirmed when they exist and counted.
test::Outcome RunCab(const fs::path& archive, const fs::path& dir, int* asked = nullptr,
                  const std::function<void(TUnBase&)>& more = {}) {
    TUnCab x;
    return test::RunExtractor(x, archive, dir, [&](TUnBase& b) {
        b.OnNextVolume = [asked](TZipCommon&, std::string&, const std::string&, bool exists, bool& cancel) {
            if (asked) ++*asked;
            cancel = !exists;
        };
        if (more) more(b);
    });
}

void Write(const fs::path& p, const std::string& s) {
    fs::create_directories(p.parent_path());
    test::WriteFile(p, s);
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 r(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(r());
    return s;
}

std::string Text(size_t n) {
    std::string s;
    for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the cabinet test\n";
    s.resize(n);
    return s;
}

TEST(CabLibrary, IsLoadedFromTheBuildsEngineFolder) {
    ASSERT_TRUE(kEngines);
    EXPECT_TRUE(TUnCab::LibraryLoaded());
}

// ---- Real cabinets ----

const char* const kFixtures[] = {
    "cab/cabextract_simple.cab",
    "cab/cabextract_mixed.cab",
    "cab/cabextract_dir.cab",
    "cab/cabextract_encoding-latin1.cab",
    "cab/cabextract_case-utf8.cab",
    "cab/gcab_test-none.cab",
    "cab/gcab_test-mszip.cab",
    "cab/gcab_test-signed.cab",
    "cab/libarchive_cab_1.cab",
    "cab/libarchive_cab_2.cab",
    "cab/libarchive_cab_3.cab",
    "cab/libarchive_cab_lzx_16bit.cab",
    "cab/libarchive_cab_filename_cp932.cab",
    "cab/libmspack_mszip_lzx_qtm.cab",
    "cab/libmspack_normal_2files_1folder.cab",
    "cab/libmspack_normal_2files_2folders.cab",
    "cab/libmspack_normal_255c_filename.cab",
    "cab/split_cabextract/split-1.cab",
    "cab/multi_libmspack/cabd_multi_basic_pt1.cab",
};

class CabFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(CabFixture, ExtractsEveryFileAsThePeersDidAndTestsSound) {
    VARNOK_REQUIRE_FIXTURE(path, GetParam());
    auto rows = test::ExtractedFiles(GetParam());
    ASSERT_FALSE(rows.empty());
    TempDir t;
    auto o = RunCab(path, t / "out");
    EXPECT_FALSE(o.threw) << o.thrownCode;
    EXPECT_EQ(o.failed, 0);
    for (const auto& m : o.messages) ADD_FAILURE() << m;
    auto ours = Digests(t / "out");
    EXPECT_EQ(ours.size(), rows.size());
    std::multiset<std::string> contents;
    for (const auto& [n, d] : ours) contents.insert(d);
    for (const auto& row : rows) {
        // Names stored in a legacy code page are shown decoded; those rows are matched by content.
        if (row.escaped) {
            EXPECT_TRUE(contents.count(row.sha256)) << row.entry;
        } else {
            EXPECT_EQ(ours[row.entry], row.sha256) << row.entry;
        }
    }
    // Testing: every file passes, nothing is written.
    auto tested = RunCab(path, {});
    EXPECT_EQ(tested.failed, 0);
    EXPECT_EQ(tested.result, static_cast<int>(rows.size()));
    for (const auto& [name, pass] : tested.ends) EXPECT_TRUE(pass) << name;
}

TEST_P(CabFixture, MatchesCabextractFileForFile) {
    VARNOK_REQUIRE_FIXTURE(path, GetParam());
    VARNOK_REQUIRE_TOOL("cabextract");
    TempDir t;
    ASSERT_EQ(test::Run("cabextract -q -d " + test::Quote(t / "peer") + " " + test::Quote(path) + " 2>/dev/null"), 0);
    RunCab(path, t / "ours");
    auto peer = Digests(t / "peer"), ours = Digests(t / "ours");
    std::multiset<std::string> peerData, ourData;
    for (const auto& [n, d] : peer) peerData.insert(d);
    for (const auto& [n, d] : ours) ourData.insert(d);
    EXPECT_EQ(ourData, peerData);
    for (const auto& [n, d] : peer) {
        const bool ascii = std::all_of(n.begin(), n.end(), [](char c) { return c > 0 && c < 0x7F; });
        if (ascii) {
            EXPECT_EQ(ours[n], d) << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CabFixture, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             std::string n = p.param;
                             n = n.substr(n.rfind('/') + 1);
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// ---- Cabinets made by gcab ----

class CabGcab : public ::testing::TestWithParam<const char*> {
  protected:
    void Make(const fs::path& src) {
        Write(src / "empty.txt", "");
        Write(src / "one.bin", "x");
        Write(src / "text.txt", Text(100'000));
        Write(src / "random.bin", RandomBytes(200'000, 7));
        Write(src / "zeros.bin", std::string(70'000, '\0'));
        Write(src / "sub/deeper/inner.txt", Text(40'000));
    }
};

TEST_P(CabGcab, ReadsBackByteForByte) {
    VARNOK_REQUIRE_TOOL("gcab");
    TempDir t;
    Make(t / "src");
    fs::path cab = t / "made.cab";
    ASSERT_EQ(test::Run("cd " + test::Quote(t / "src") + " && gcab " + GetParam() + " " + test::Quote(cab) +
                        " empty.txt one.bin text.txt random.bin zeros.bin sub/deeper/inner.txt"),
              0);
    auto o = RunCab(cab, t / "out");
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(o.result, 6);
    EXPECT_EQ(test::FilesUnder(t / "out"), test::FilesUnder(t / "src"));
}

INSTANTIATE_TEST_SUITE_P(Methods, CabGcab, ::testing::Values("-c", "-cz"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param) == "-c" ? "Stored" : "Mszip";
                         });

// Makes an MSZIP cabinet of three files with gcab; the last one is the large one.
fs::path GcabThree(const TempDir& t) {
    Write(t / "src/a.txt", Text(5'000));
    Write(t / "src/b.txt", Text(9'000));
    Write(t / "src/c.bin", RandomBytes(150'000, 3));
    fs::path cab = t / "three.cab";
    EXPECT_EQ(test::Run("cd " + test::Quote(t / "src") + " && gcab -cz " + test::Quote(cab) + " a.txt b.txt c.bin"),
              0);
    return cab;
}

TEST(CabDamage, ABlockFailingItsChecksumFailsItsFileAloneAndLeavesNothingOfIt) {
    VARNOK_REQUIRE_TOOL("gcab");
    TempDir t;
    fs::path cab = GcabThree(t);
    auto data = test::ReadFile(cab);
    data[data.size() - 100] ^= 0x40;  // inside the last data block: only c.bin's data
    test::WriteFile(cab, data);
    auto o = RunCab(cab, t / "out");
    EXPECT_EQ(o.failed, 1);
    EXPECT_TRUE(o.FailedEntry("c.bin"));
    EXPECT_TRUE(o.Passed("a.txt"));
    EXPECT_TRUE(o.Passed("b.txt"));
    EXPECT_FALSE(fs::exists(t / "out/c.bin"));
    EXPECT_EQ(test::ReadText(t / "out/b.txt"), test::ReadText(t / "src/b.txt"));
    bool named = false;
    for (const auto& m : o.messages) named = named || (m.find("checksum") != std::string::npos);
    EXPECT_TRUE(named) << "the reason is not said";
    // Testing finds the same.
    auto tested = RunCab(cab, {});
    EXPECT_EQ(tested.failed, 1);
    EXPECT_TRUE(tested.FailedEntry("c.bin"));
    EXPECT_TRUE(tested.Passed("a.txt"));
}

TEST(CabDamage, ACabinetCutShortFailsTheFilesPastTheCut) {
    VARNOK_REQUIRE_TOOL("gcab");
    TempDir t;
    fs::path cab = GcabThree(t);
    auto data = test::ReadFile(cab);
    data.resize(data.size() - 30'000);
    test::WriteFile(cab, data);
    auto o = RunCab(cab, t / "out");
    EXPECT_TRUE(o.FailedEntry("c.bin"));
    EXPECT_FALSE(fs::exists(t / "out/c.bin"));
    EXPECT_EQ(test::ReadText(t / "out/a.txt"), test::ReadText(t / "src/a.txt"));
}

TEST(CabDamage, ACabinetWithoutDataFailsEveryFileAndLeavesNone) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/libmspack_partial_nodata.cab");
    TempDir t;
    auto o = RunCab(path, t / "out");
    EXPECT_EQ(o.failed, 2);
    EXPECT_TRUE(o.FailedEntry("hello.c"));
    EXPECT_TRUE(o.FailedEntry("welcome.c"));
    EXPECT_TRUE(Digests(t / "out").empty());
    auto tested = RunCab(path, {});
    EXPECT_EQ(tested.failed, 2);
}

TEST(CabDamage, DamagedHeadersFailTheRunAndWriteNothing) {
    for (const char* rel : {"cab/libmspack_partial_shortfile1.cab", "cab/libmspack_bad_signature.cab",
                            "cab/libmspack_qtm_max_size_block.cab"}) {
        SCOPED_TRACE(rel);
        auto path = test::Fixture(rel);
        if (path.empty()) continue;
        TempDir t;
        auto o = RunCab(path, t / "out");
        EXPECT_TRUE(o.threw || o.failed > 0);
        EXPECT_FALSE(o.codes.empty());
        EXPECT_TRUE(Digests(t / "out").empty());
        for (const auto& [name, pass] : o.ends) EXPECT_FALSE(pass) << name;
    }
}

// ---- Sets ----

TEST(CabSet, EachNextCabinetIsAskedForOncePerCabinet) {
    VARNOK_REQUIRE_FIXTURE(split, "cab/split_cabextract/split-1.cab");
    VARNOK_REQUIRE_FIXTURE(multi, "cab/multi_libmspack/cabd_multi_basic_pt1.cab");
    TempDir t;
    int asked = 0;
    auto o = RunCab(split, t / "split", &asked);
    EXPECT_EQ(o.result, 6);
    EXPECT_EQ(asked, 4);
    asked = 0;
    o = RunCab(multi, t / "multi", &asked);
    EXPECT_EQ(o.result, 3);
    EXPECT_EQ(asked, 4);
}

TEST(CabSet, AMissingNextCabinetWithoutAHandlerFailsTheFilesThatNeedIt) {
    VARNOK_REQUIRE_FIXTURE(split, "cab/split_cabextract/split-1.cab");
    TempDir t;
    fs::copy_file(split, t / "split-1.cab");
    TUnCab x;
    auto o = test::RunExtractor(x, t / "split-1.cab", t / "out");
    EXPECT_FALSE(o.threw);
    EXPECT_TRUE(o.HasCode(E_EventNotAssigned));
    EXPECT_TRUE(o.Passed("small1.bin"));
    EXPECT_TRUE(o.FailedEntry("small2.bin"));
    EXPECT_TRUE(o.FailedEntry("medium1.bin"));
    EXPECT_EQ(Digests(t / "out").size(), 1u);
    EXPECT_TRUE(fs::exists(t / "out/small1.bin"));
}

TEST(CabSet, ADeclinedNextCabinetIsNotAskedForAgain) {
    VARNOK_REQUIRE_FIXTURE(split, "cab/split_cabextract/split-1.cab");
    TempDir t;
    int asked = 0;
    auto o = RunCab(split, t / "out", nullptr, [&](TUnBase& b) {
        b.OnNextVolume = [&](TZipCommon&, std::string&, const std::string&, bool, bool& cancel) {
            ++asked;
            cancel = true;
        };
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(o.failed, 2);
    EXPECT_EQ(Digests(t / "out").size(), 1u);
}

// ---- Names, selection, skips ----

TEST(CabNames, NamesLeavingTheDestinationAreRefusedAndAbsoluteOnesStayInside) {
    TempDir t;
    test::WriteFile(t / "hostile.cab", test::StoredCabinet({{"..\\..\\evil.txt", "evil"},
                                                            {"\\abs.txt", "abs"},
                                                            {"C:\\drive.txt", "drive"},
                                                            {"a\\b\\c.txt", "deep"},
                                                            {"ok.txt", "fine"}}));
    auto o = RunCab(t / "hostile.cab", t / "d1/d2/out");
    EXPECT_FALSE(fs::exists(t / "evil.txt"));
    EXPECT_FALSE(fs::exists(t / "d1/evil.txt"));
    EXPECT_TRUE(o.HasCode(E_InvalidFileName));
    auto ours = test::FilesUnder(t / "d1");
    EXPECT_EQ(ours, (std::map<std::string, std::string>{{"d2/out/abs.txt", "abs"},
                                                        {"d2/out/drive.txt", "drive"},
                                                        {"d2/out/a/b/c.txt", "deep"},
                                                        {"d2/out/ok.txt", "fine"}}));
}

TEST(CabNames, AFolderPatternSelectsOnlyTheFilesBelowIt) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/cabextract_dir.cab");
    TempDir t;
    auto o = RunCab(path, t / "out", nullptr, [](TUnBase& b) { b.FileSpec = {"1/*.c"}; });
    EXPECT_EQ(Digests(t / "out").size(), 1u);
    EXPECT_TRUE(fs::exists(t / "out/1/2/3/4.c"));
}

TEST(CabSkip, AFileDeclinedInsideASolidFolderIsNotWrittenAndTheNextIsExact) {
    VARNOK_REQUIRE_TOOL("gcab");
    TempDir t;
    fs::path cab = GcabThree(t);
    auto o = RunCab(cab, t / "out", nullptr, [](TUnBase& b) {
        b.OnBegin = [](TZipCommon&, const std::string& name, int, bool& extract) {
            extract = name.find("b.txt") == std::string::npos;
        };
    });
    EXPECT_EQ(o.result, 2);
    EXPECT_FALSE(fs::exists(t / "out/b.txt"));
    EXPECT_EQ(test::ReadFile(t / "out/c.bin"), test::ReadFile(t / "src/c.bin"));
}

TEST(CabSkip, AnExistingFileIsKeptWhenNoOneIsAskedAndTheRestComes) {
    VARNOK_REQUIRE_TOOL("gcab");
    TempDir t;
    fs::path cab = GcabThree(t);
    Write(t / "out/a.txt", "mine");
    auto o = RunCab(cab, t / "out", nullptr, [](TUnBase& b) { b.ConfirmOverwrites = true; });
    EXPECT_EQ(test::ReadText(t / "out/a.txt"), "mine");
    EXPECT_EQ(test::ReadFile(t / "out/c.bin"), test::ReadFile(t / "src/c.bin"));
}

TEST(CabCancel, StoppingInsideAFileLeavesNoPartOfIt) {
    VARNOK_REQUIRE_TOOL("gcab");
    TempDir t;
    Write(t / "src/a.txt", Text(5'000));
    Write(t / "src/big.bin", RandomBytes(900'000, 5));
    fs::path cab = t / "two.cab";
    ASSERT_EQ(test::Run("cd " + test::Quote(t / "src") + " && gcab -cz " + test::Quote(cab) + " a.txt big.bin"), 0);
    TUnCab x;
    auto o = test::RunExtractor(x, cab, t / "out", [&](TUnBase& b) {
        // Stopped at the first progress report inside the large file.
        b.DoProgress = [&b](int byFile, int) {
            if (byFile > 0 && byFile < 100) b.SetCancel(true);
        };
    });
    EXPECT_TRUE(x.Cancel());
    EXPECT_FALSE(fs::exists(t / "out/big.bin"));
    EXPECT_EQ(test::ReadText(t / "out/a.txt"), test::ReadText(t / "src/a.txt"));
}

// ---- varnok-cli, which reaches the extractor through the registry ----

TEST(CabCli, ExtractsASetAndTestsADamagedCabinetAsFailed) {
    VARNOK_REQUIRE_FIXTURE(split, "cab/split_cabextract/split-1.cab");
    VARNOK_REQUIRE_FIXTURE(nodata, "cab/libmspack_partial_nodata.cab");
    const fs::path cli = test::BinDir() / "varnok-cli";
    if (!fs::exists(cli)) GTEST_SKIP() << "varnok-cli not built";
    TempDir t;
    EXPECT_EQ(test::Run(test::Quote(cli) + " extract " + test::Quote(split) + " -d " + test::Quote(t / "out") +
                        " >/dev/null 2>&1"),
              0);
    auto ours = Digests(t / "out");
    for (const auto& row : test::ExtractedFiles("cab/split_cabextract/split-1.cab"))
        EXPECT_EQ(ours[row.entry], row.sha256) << row.entry;
    EXPECT_NE(test::Run(test::Quote(cli) + " test " + test::Quote(nodata) + " >/dev/null 2>&1"), 0);
    EXPECT_NE(test::Run(test::Quote(cli) + " extract " + test::Quote(nodata) + " -d " + test::Quote(t / "bad") +
                        " >/dev/null 2>&1"),
              0);
    EXPECT_TRUE(Digests(t / "bad").empty());
}

}  // namespace
}  // namespace varnok
