// TUnLha: archives made by lha (jlha) at every header level and checked against lhasa, the real samples
// against what the peers extracted, and hand-made archives for the header corner cases, damage and hostile
// names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/utils.h"
#include "archive/formats/lzh/unlha.h"
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

// ---------------------------------------------------------------------------------------------- hand-made
// LZH

// One entry of a level-2 archive; the data is stored as it is (-lh0- and the like).
struct Item {
    std::string name;  // folders separated by "/" (kept in the folder extension, 0xFF between parts)
    std::string data;
    std::string method = "-lh0-";
    uint8_t os = 'U';
    int mode = -1;  // a Unix mode extension when not negative
    uint32_t time = 1600000000;
    std::string link;       // a symbolic link: "name|target"
    size_t headerSize = 0;  // pad the header to this total size when not 0
};

void Ext(std::vector<uint8_t>& h, uint8_t type, const std::string& data) {
    // The previous size field (the last two bytes) announces this extension: type, data, next size.
    PutLe16(&h[h.size() - 2], static_cast<uint16_t>(1 + data.size() + 2));
    h.push_back(type);
    h.insert(h.end(), data.begin(), data.end());
    h.push_back(0);
    h.push_back(0);
}

std::vector<uint8_t> BuildLzh(const std::vector<Item>& items) {
    std::vector<uint8_t> out;
    for (const Item& it : items) {
        std::vector<uint8_t> h(26, 0);
        std::memcpy(&h[2], it.method.data(), 5);
        PutLe32(&h[7], static_cast<uint32_t>(it.data.size()));
        PutLe32(&h[11], static_cast<uint32_t>(it.data.size()));
        PutLe32(&h[15], it.time);
        h[19] = 0x20;
        h[20] = 2;
        PutLe16(&h[21], Crc16(it.data.data(), it.data.size()));
        h[23] = it.os;
        size_t slash = it.name.rfind('/');
        std::string file = slash == std::string::npos ? it.name : it.name.substr(slash + 1);
        if (!it.link.empty()) file += "|" + it.link;
        Ext(h, 0x01, file);
        if (slash != std::string::npos) {
            std::string dir = it.name.substr(0, slash + 1);
            std::replace(dir.begin(), dir.end(), '/', '\xFF');
            Ext(h, 0x02, dir);
        }
        if (it.mode >= 0)
            Ext(h, 0x50, std::string{static_cast<char>(it.mode & 0xFF), static_cast<char>(it.mode >> 8)});
        if (it.headerSize) Ext(h, 0x7E, std::string(it.headerSize - h.size() - 3, 'p'));
        PutLe16(&h[0], static_cast<uint16_t>(h.size()));
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), it.data.begin(), it.data.end());
    }
    out.push_back(0);
    return out;
}

class UnLhaHandMade : public ::testing::Test {
  protected:
    test::ExtractLog Run(const std::vector<uint8_t>& archive, ExtractOptions o = {}) {
        test::WriteFile(dir_ / "t.lzh", archive);
        TUnLha x;
        return RunExtractor(x, dir_ / "t.lzh", dir_ / "out", o);
    }
    std::string Out(const std::string& name) { return test::ReadText(dir_ / "out" / name); }
    test::TempDir dir_;
};

TEST_F(UnLhaHandMade, LevelTwoHeaderOf256BytesIsNotTheEndMark) {
    auto a = BuildLzh(
        {{.name = "first.txt", .data = "one", .headerSize = 256}, {.name = "second.txt", .data = "two"}});
    ASSERT_EQ(a[0], 0);  // the low byte of the header length
    auto log = Run(a);
    EXPECT_EQ(log.result, 2);
    EXPECT_EQ(Out("first.txt"), "one");
    EXPECT_EQ(Out("second.txt"), "two");
}

TEST_F(UnLhaHandMade, MethodsGoByTheWholeId) {
    // -lz4- is LArc's stored method (not -lh4-); an unknown id fails that entry alone.
    auto log = Run(BuildLzh({{.name = "larc.txt", .data = "plain larc data", .method = "-lz4-"},
                             {.name = "odd.bin", .data = "xxxx", .method = "-lh9-"},
                             {.name = "after.txt", .data = "still here"}}));
    EXPECT_EQ(Out("larc.txt"), "plain larc data");
    EXPECT_TRUE(log.Has(E_UnsupportedMethod));
    EXPECT_TRUE(log.Failed("odd.bin"));
    EXPECT_FALSE(fs::exists(dir_ / "out" / "odd.bin"));
    EXPECT_EQ(Out("after.txt"), "still here");
}

TEST_F(UnLhaHandMade, FlippedByteFailsThatEntryOnly) {
    auto a = BuildLzh({{.name = "a.txt", .data = "alpha alpha alpha"}, {.name = "b.txt", .data = "beta"}});
    a[26 + 8 + 2] ^= 0x40;  // inside a.txt's data, after its header and file-name extension
    for (bool testing : {false, true}) {
        SCOPED_TRACE(testing ? "test" : "extract");
        auto log = Run(a, {.test = testing});
        EXPECT_TRUE(log.Failed("a.txt"));
        EXPECT_TRUE(log.Passed("b.txt"));
        EXPECT_EQ(log.failed, 1);
    }
}

TEST_F(UnLhaHandMade, UnixModesTimesFoldersAndLinks) {
    auto log = Run(BuildLzh({{.name = "bin/", .method = "-lhd-", .mode = 040750, .time = 1500000000},
                             {.name = "bin/tool", .data = "#!/bin/sh\n", .mode = 0100751, .time = 1234567890},
                             {.name = "bin/alias", .method = "-lhd-", .link = "tool"}}));
    EXPECT_EQ(log.result, 2);
    struct stat st;
    ASSERT_EQ(stat((dir_ / "out/bin/tool").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_mtime, 1234567890);
    ASSERT_EQ(stat((dir_ / "out/bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
    ASSERT_TRUE(fs::is_symlink(dir_ / "out/bin/alias"));
    EXPECT_EQ(fs::read_symlink(dir_ / "out/bin/alias"), "tool");
}

TEST_F(UnLhaHandMade, HostileNamesAndLinksStayInside) {
    test::TempDir outside;
    auto log = Run(BuildLzh({{.name = "../evil.txt", .data = "x"},
                             {.name = "/abs/a.txt", .data = "absolute"},
                             {.name = "esc", .method = "-lhd-", .link = outside.Path().string()},
                             {.name = "esc/pwned.txt", .data = "through the link"},
                             {.name = "ok.txt", .data = "fine"}}));
    EXPECT_TRUE(log.Has(E_InvalidFileName));
    EXPECT_TRUE(fs::is_empty(outside.Path()));
    EXPECT_FALSE(fs::exists(dir_ / "evil.txt"));
    EXPECT_EQ(Out("abs/a.txt"), "absolute");
    EXPECT_TRUE(log.Failed("pwned.txt"));
    EXPECT_EQ(Out("ok.txt"), "fine");
}

TEST_F(UnLhaHandMade, MacBinaryKeepsTheDataFork) {
    std::string data = "data fork bytes";
    std::string mac(128, '\0');
    mac[1] = 4;
    mac.replace(2, 4, "name");
    mac[86] = static_cast<char>(data.size());  // data fork length, big-endian at 83
    mac[90] = static_cast<char>(128);          // resource fork length, big-endian at 87
    const std::string wrapped = mac + data + std::string(128 - data.size(), '\0') + std::string(128, 'R');
    auto log = Run(BuildLzh({{.name = "mac", .data = wrapped, .os = 'm'},
                             {.name = "notmac", .data = std::string(200, 'z'), .os = 'm'},
                             {.name = "unix", .data = wrapped}}));
    EXPECT_EQ(log.failed, 0);
    EXPECT_EQ(Out("mac"), data);
    EXPECT_EQ(Out("notmac"), std::string(200, 'z'));
    EXPECT_EQ(Out("unix"), wrapped);
}

TEST_F(UnLhaHandMade, TruncatedArchiveFailsWithoutWritingPastTheData) {
    auto a = BuildLzh(
        {{.name = "whole.txt", .data = "complete"}, {.name = "cut.bin", .data = std::string(5000, 'c')}});
    a.resize(a.size() - 3000);
    auto log = Run(a);
    EXPECT_TRUE(log.Passed("whole.txt"));
    EXPECT_TRUE(log.Failed("cut.bin"));
    EXPECT_LE(fs::file_size(dir_ / "out/cut.bin"), 2001u);  // what is there, nothing made up
}

// ------------------------------------------------------------------------------------------- made by lha

struct LhaCase {
    const char*
        command;  // lha's options: header level first (a0, a1, a2), then quiet, method (o5 o6 o7, z stored)
    bool exactTime;  // level 2 keeps Unix seconds; levels 0 and 1 a DOS time (2 s)
};

class UnLhaPeer : public ::testing::TestWithParam<LhaCase> {};

TEST_P(UnLhaPeer, ExtractsWhatLhaWroteLikeLhasa) {
    VARNOK_REQUIRE_TOOL("lha");
    test::TempDir dir;
    const fs::path src = dir / "src";
    test::WriteFile(src / "d/big.bin", test::MixedData(400 * 1024, 21));
    test::WriteFile(src / "d/sub/small.txt", test::MixedData(3333, 22));
    test::WriteFile(src / "d/sub/deeper/empty", std::vector<uint8_t>{});
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    const auto stamp = std::chrono::floor<std::chrono::seconds>(when);
    for (const char* f : {"d/big.bin", "d/sub/small.txt", "d/sub/deeper/empty"})
        fs::last_write_time(src / f, stamp - std::chrono::seconds(stamp.time_since_epoch().count() % 2));
    ASSERT_EQ(
        test::Run("cd " + test::Quote(src) + " && lha " + GetParam().command + " ../t.lzh d >/dev/null 2>&1"),
        0);

    TUnLha x;
    auto log = RunExtractor(x, dir / "t.lzh", dir / "ours");
    EXPECT_EQ(log.failed, 0);
    EXPECT_TRUE(log.errors.empty());
    EXPECT_EQ(log.result, 3);
    EXPECT_EQ(test::ReadTree(dir / "ours"), test::ReadTree(src));
    for (const char* f : {"d/big.bin", "d/sub/small.txt"}) {
        auto d = fs::last_write_time(dir / "ours" / f) - fs::last_write_time(src / f);
        EXPECT_LE(std::chrono::abs(d), std::chrono::seconds(GetParam().exactTime ? 0 : 1)) << f;
    }
    EXPECT_TRUE(fs::is_directory(dir / "ours/d/sub/deeper"));

    TUnLha t;
    auto tested = RunExtractor(t, dir / "t.lzh", dir / "none", {.test = true});
    EXPECT_EQ(tested.failed, 0);
    EXPECT_EQ(tested.verdicts.size(), 3u);
    EXPECT_FALSE(fs::exists(dir / "none/d"));

    if (test::HaveTool("lhasa")) {
        fs::create_directories(dir / "lhasa");
        ASSERT_EQ(test::Run("cd " + test::Quote(dir / "lhasa") + " && lhasa xq ../t.lzh >/dev/null 2>&1"), 0);
        EXPECT_EQ(test::ReadTree(dir / "ours"), test::ReadTree(dir / "lhasa"));
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, UnLhaPeer,
                         ::testing::Values(LhaCase{"a0qo5", false}, LhaCase{"a1qo6", false},
                                           LhaCase{"a2qo7", true}, LhaCase{"a2qo5", true},
                                           LhaCase{"a1qz", false}, LhaCase{"a0qo7", false}),
                         [](const ::testing::TestParamInfo<LhaCase>& p) {
                             return std::string(p.param.command);
                         });

// ----------------------------------------------------------------------------------------- real samples

// Samples on which we deliberately differ from the peers' output.
bool Differs(const std::string& path) {
    static const char* const kDiffer[] = {
        "lzh/regression_dotdot.lzh",  // ".." names are refused
        "lzh/morphos_h2_huge.lzh",    // 4.5 GB with 64-bit sizes; lhasa stops at 2^32 (too big for a test)
    };
    for (const char* d : kDiffer)
        if (path == d) return true;
    return false;
}

TEST(UnLhaFixtures, ContentMatchesWhatPeersExtracted) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    int archives = 0, files = 0;
    for (const std::string& path : test::FixturesOfFormat("lzh")) {
        if (Differs(path)) continue;
        auto rows = test::ExtractedFiles(path);
        if (rows.empty()) continue;
        SCOPED_TRACE(path);
        ++archives;
        test::TempDir out;
        TUnLha x;
        auto log = RunExtractor(x, test::FixturesDir() / path, out.Path());
        EXPECT_EQ(log.failed, 0);
        // Names may differ in case and code page from the peer's; the content of each must be there.
        std::multiset<std::string> got;
        for (const auto& [name, bytes] : test::ReadTree(out.Path()))
            got.insert(test::Sha256Hex(bytes));
        for (const auto& r : rows) {
            auto it = got.find(r.sha256);
            EXPECT_NE(it, got.end()) << r.entry;
            if (it != got.end()) got.erase(it);
            ++files;
        }
    }
    EXPECT_GT(archives, 50);
    printf("%d archives, %d files compared\n", archives, files);
}

}  // namespace
}  // namespace varnok
