// The extraction base's defences against archives that declare more than they hold: declared holes cost
// nothing, decompression bombs are refused by ratio and by the run's size, and absolute names land inside the
// destination with a warning. Each test is one hazard, built in memory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/formats/arj/unarj.h"
#include "archive/formats/lzh/unlha.h"
#include "archive/formats/tar/untar.h"
#include "archive/formats/zip/unzip.h"
#include "platform/file.h"
#include "tests/support/builders.h"
#include "tests/support/extractor_run.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

TEST(ZeroRuns, CrcOverDeclaredZerosEqualsTheCrcOverWrittenZeros) {
    std::vector<uint8_t> zeros(300000, 0);
    for (uint64_t n : {0ull, 1ull, 7ull, 4096ull, 65537ull, 299999ull}) {
        EXPECT_EQ(UpdateCrc32Zeros(0xFFFFFFFFu, n), UpdateCrc32(0xFFFFFFFFu, zeros.data(), n)) << n;
        EXPECT_EQ(UpdateCrc32Zeros(0x12345678u, n), UpdateCrc32(0x12345678u, zeros.data(), n)) << n;
        EXPECT_EQ(UpdateCrc16Zeros(0xBEEF, n), UpdateCrc16(0xBEEF, zeros.data(), n)) << n;
    }
    // Splitting a run anywhere gives the same check as the whole run.
    EXPECT_EQ(UpdateCrc32Zeros(UpdateCrc32Zeros(1u, 1ull << 40), 12345),
              UpdateCrc32Zeros(1u, (1ull << 40) + 12345));
}

// A GNU sparse TAR entry (type S) of declared length `length` whose only data are 512 bytes of 'x' at its
// end.
std::vector<uint8_t> SparseTar(uint64_t length) {
    std::vector<uint8_t> out(512, 0);
    uint8_t* h = out.data();
    std::memcpy(h, "huge.img", 8);
    std::memcpy(h + 100, "0000644", 7);
    std::memcpy(h + 108, "0001750", 7);
    std::memcpy(h + 116, "0001750", 7);
    std::memcpy(h + 124, "00000001000", 11);  // 512 bytes stored
    std::memcpy(h + 136, "14000000000", 11);
    h[156] = 'S';
    std::memcpy(h + 257, "ustar  ", 8);
    auto base256 = [](uint8_t* f, uint64_t v) {
        f[0] = 0x80;
        for (int i = 11; i >= 4; --i, v >>= 8)
            f[i] = static_cast<uint8_t>(v);
    };
    base256(h + 386, length - 512);  // the map's one region: offset, length
    std::memcpy(h + 398, "00000001000", 11);
    base256(h + 483, length);  // the file's real length
    std::memset(h + 148, ' ', 8);
    unsigned sum = 0;
    for (int i = 0; i < 512; ++i)
        sum += h[i];
    snprintf(reinterpret_cast<char*>(h + 148), 8, "%06o", sum);
    out.resize(1024, 'x');
    out.resize(1024 + 1024, 0);
    return out;
}

TEST(ZeroRuns, ATebibyteSparseFileIsTestedAndWrittenAsItsStoredBytes) {
    test::TempDir tmp;
    test::WriteFile(tmp / "s.tar", SparseTar(1ull << 40));
    TUnTar t;
    auto tested = test::RunExtractor(t, tmp / "s.tar", {});
    EXPECT_EQ(tested.failed, 0) << (tested.messages.empty() ? "" : tested.messages.front());
    EXPECT_TRUE(tested.Passed("huge.img"));

    TUnTar x;
    auto o = test::RunExtractor(x, tmp / "s.tar", tmp / "out");
    if (o.HasCode(E_FileSizeExceedsOs)) GTEST_SKIP() << "this file system takes no 1 TiB file";
    EXPECT_EQ(o.failed, 0) << (o.messages.empty() ? "" : o.messages.front());
    struct stat st {};
    ASSERT_EQ(stat((tmp / "out" / "huge.img").c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 1ull << 40);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1u << 20);  // the holes take no disk
    platform::File f;
    ASSERT_TRUE(f.Open((tmp / "out" / "huge.img").string(), platform::File::Mode::Read));
    char tail[512];
    ASSERT_EQ(f.ReadAt((1ull << 40) - 512, tail, 512), 512u);
    EXPECT_EQ(std::string(tail, 512), std::string(512, 'x'));
}

TEST(ZeroRuns, ALengthNoFileSystemTakesIsRefusedBeforeAnythingIsWritten) {
    test::TempDir tmp;
    test::WriteFile(tmp / "s.tar", SparseTar(1ull << 62));
    TUnTar t;
    EXPECT_EQ(test::RunExtractor(t, tmp / "s.tar", {}).failed, 0);  // testing writes nothing: it passes
    TUnTar x;
    auto o = test::RunExtractor(x, tmp / "s.tar", tmp / "out");
    struct stat st {};
    if (stat((tmp / "out" / "huge.img").c_str(), &st) == 0) {
        // A file system of 63-bit offsets (XFS, tmpfs) takes it, as holes.
        EXPECT_EQ(o.failed, 0);
        EXPECT_EQ(static_cast<uint64_t>(st.st_size), 1ull << 62);
    } else {
        EXPECT_EQ(o.failed, 1);
        ASSERT_TRUE(o.HasCode(E_FileSizeExceedsOs));
        EXPECT_NE(o.messages.front().find("huge.img"), std::string::npos) << o.messages.front();
    }
}

class Bombs : public ::testing::Test {
  protected:
    void SetUp() override {
        // 69 MB of zeros from 438 KB: 159 to one, refused by a ratio limit of 100.
        const size_t matches = 270000;
        test::ZipItem bomb{"bomb.bin", std::string(1 + 258 * matches, '\0')};
        bomb.method = 8;
        bomb.packed = test::DeflateZeros(matches);
        test::WriteFile(tmp_ / "bomb.zip", test::BuildZip({bomb, {"after.txt", "still extracted"}}));
    }
    test::TempDir tmp_;
};

TEST_F(Bombs, AnEntryPastTheRatioIsRefusedNamedAndLeavesNothing) {
    TUnZip x;
    auto o = test::RunExtractor(x, tmp_ / "bomb.zip", tmp_ / "out", [](TUnBase& b) { b.MaxRatio = 100; });
    EXPECT_TRUE(o.FailedEntry("bomb.bin"));
    ASSERT_TRUE(o.HasCode(E_MaxFileSize));
    EXPECT_NE(o.messages.front().find("bomb.bin"), std::string::npos) << o.messages.front();
    EXPECT_NE(o.messages.front().find("100 times"), std::string::npos) << o.messages.front();
    EXPECT_EQ(test::FilesUnder(tmp_ / "out"),
              (std::map<std::string, std::string>{{"after.txt", "still extracted"}}));

    TUnZip t;
    auto tested = test::RunExtractor(t, tmp_ / "bomb.zip", {}, [](TUnBase& b) { b.MaxRatio = 100; });
    EXPECT_TRUE(tested.FailedEntry("bomb.bin"));
    EXPECT_TRUE(tested.Passed("after.txt"));
}

TEST_F(Bombs, TheDefaultRatioLetsRealDeflateDataThrough) {
    // Deflate reaches about 1,032 to one at most; the default limit is far above anything real.
    TUnZip x;
    auto o = test::RunExtractor(x, tmp_ / "bomb.zip", tmp_ / "out");
    EXPECT_EQ(o.failed, 0) << (o.messages.empty() ? "" : o.messages.front());
    EXPECT_EQ(fs::file_size(tmp_ / "out" / "bomb.bin"), 1 + 258u * 270000);
    // Zeros come out as holes, even where the decoder's pieces do not fall on the file system's blocks.
    struct stat st {};
    ASSERT_EQ(stat((tmp_ / "out" / "bomb.bin").c_str(), &st), 0);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 64u << 10);
    EXPECT_EQ(test::ReadFile(tmp_ / "out" / "bomb.bin"), std::vector<uint8_t>(1 + 258u * 270000, 0));
}

TEST(RunSize, TheRunEndsAtItsLimitAndTheEntryThatPassedItGoes) {
    test::TempDir tmp;
    std::string a(1000, 'a'), b(1000, 'b'), c(1000, 'c');
    test::WriteFile(tmp / "three.zip", test::BuildZip({{"a.txt", a}, {"b.txt", b}, {"c.txt", c}}));
    TUnZip x;
    auto o = test::RunExtractor(x, tmp / "three.zip", tmp / "out", [](TUnBase& u) { u.MaxSize = 1500; });
    EXPECT_TRUE(o.threw);
    EXPECT_EQ(o.thrownCode, E_MaxFileSize);
    EXPECT_EQ(test::FilesUnder(tmp / "out"), (std::map<std::string, std::string>{{"a.txt", a}}));
    // Testing writes nothing, so the size limit does not apply to it.
    TUnZip t;
    EXPECT_EQ(test::RunExtractor(t, tmp / "three.zip", {}, [](TUnBase& u) { u.MaxSize = 1500; }).failed, 0);
}

TEST(AbsoluteNames, EveryFamilyWritesThemInsideWithAWarningNamingTheEntry) {
    struct Case {
        const char* family;
        std::vector<uint8_t> archive;
        std::function<std::unique_ptr<TUnBase>()> make;
    };
    const std::vector<Case> cases{
        {"zip", test::BuildZip({{"/abs/x.txt", "zip data"}}), [] { return std::make_unique<TUnZip>(); }},
        {"tar", test::BuildTar({{"/abs/x.txt", "tar data"}}), [] { return std::make_unique<TUnTar>(); }},
        {"lzh", test::BuildLzh({{"\\abs\\x.txt", "lzh data", 1}}), [] { return std::make_unique<TUnLha>(); }},
        {"arj", test::BuildArj({{"C:\\abs\\x.txt", "arj data"}}), [] { return std::make_unique<TUnArj>(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.family);
        test::TempDir tmp;
        test::WriteFile(tmp / "a", c.archive);
        auto x = c.make();
        auto o =
            test::RunExtractor(*x, tmp / "a", tmp / "out", [](TUnBase& b) { b.CreateStoredDirs = true; });
        EXPECT_EQ(o.failed, 0);
        ASSERT_EQ(o.messages.size(), 1u);
        EXPECT_NE(o.messages[0].find("x.txt: "), std::string::npos) << o.messages[0];
        EXPECT_NE(o.messages[0].find("absolute path was stripped"), std::string::npos) << o.messages[0];
        EXPECT_EQ(test::FilesUnder(tmp / "out"),
                  (std::map<std::string, std::string>{{"abs/x.txt", std::string(c.family) + " data"}}));
        // Testing writes nothing, so there is nothing to warn of.
        auto t = c.make();
        auto tested = test::RunExtractor(*t, tmp / "a", {});
        EXPECT_EQ(tested.failed, 0);
        EXPECT_TRUE(tested.messages.empty()) << tested.messages.front();
    }
}

TEST(UnnamedEntries, AreReportedUnderTheirPlaceAndTheOthersStillComeOut) {
    test::TempDir tmp;
    test::WriteFile(tmp / "a.zip", test::BuildZip({{"one.txt", "1"}, {"", "no name"}, {"two.txt", "2"}}));
    for (bool testing : {true, false}) {
        SCOPED_TRACE(testing ? "test" : "extract");
        TUnZip x;
        auto o = test::RunExtractor(x, tmp / "a.zip", testing ? fs::path() : tmp / "out");
        EXPECT_EQ(o.failed, 1);
        ASSERT_EQ(o.messages.size(), 1u);
        EXPECT_NE(o.messages[0].find("(the unnamed entry at offset 38): "), std::string::npos)
            << o.messages[0];
        EXPECT_NE(o.messages[0].find("it has no name"), std::string::npos) << o.messages[0];
        EXPECT_TRUE(o.FailedEntry("(the unnamed entry at offset 38)"));
    }
    EXPECT_EQ(test::FilesUnder(tmp / "out"),
              (std::map<std::string, std::string>{{"one.txt", "1"}, {"two.txt", "2"}}));
    // Picked by pattern, an unnamed entry is not among the picked.
    TUnZip y;
    EXPECT_EQ(test::RunExtractor(y, tmp / "a.zip", {}, [](TUnBase& b) { b.FileSpec = {"one.txt"}; }).failed,
              0);
}

}  // namespace
}  // namespace varnok
