// TUnAce: without the ACE library a run fails at once; with it, the real samples come out as the peers
// extracted them, or fail per entry with nothing left behind.
#include <gtest/gtest.h>

#include <set>

#include "archive/core/engine_library.h"
#include "archive/core/errors.h"
#include "archive/formats/ace/unace.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::set<std::string> FilesBelow(const fs::path& d) {
    std::set<std::string> s;
    if (!fs::exists(d)) return s;
    for (auto& e : fs::recursive_directory_iterator(d))
        if (e.is_regular_file()) s.insert(fs::relative(e.path(), d).string());
    return s;
}

TEST(UnAceWithoutLibrary, FailsAtOnceTouchingNoEntry) {
    const fs::path sample = test::Fixture("ace/sharpcompress_Ace.store.ace");
    if (!fs::exists(sample)) GTEST_SKIP() << "fixtures absent";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TempDir empty;
            EngineLibrary::SetFolder(empty.Path().string());
            TUnAce u;
            u.SetArchiveFile(sample.string());
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
            std::exit(code == E_AceNotFound && text.find("Ace.dll not found") != std::string::npos && !begun &&
                              FilesBelow(empty / "out").empty()
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

class UnAce : public ::testing::Test {
  protected:
    void SetUp() override {
        EngineLibrary::SetFolder(VARNOK_ENGINE_DIR);
        if (!TUnAce::LibraryAvailable()) GTEST_SKIP() << "the ACE library is not built";
    }
    TempDir tmp_;
};

// The samples as unar extracted them (sha256 from the fixtures' EXPECTED.tsv), or per-entry failures.
TEST_F(UnAce, SamplesMatchThePeersOrFailPerEntry) {
    const fs::path dir = test::FixturesDir() / "ace";
    if (!fs::exists(dir)) GTEST_SKIP() << "fixtures absent";
    int extracted = 0;
    for (const char* s : {"sharpcompress_Ace.store.ace", "sharpcompress_Ace.method1.ace",
                          "sharpcompress_Ace.method2.ace", "sharpcompress_Ace.method1-solid.ace",
                          "sharpcompress_Ace.method2-solid.ace", "patool_t.ace"}) {
        TUnAce u;
        u.SetArchiveFile((dir / s).string());
        const fs::path out = tmp_ / s;
        u.ExtractDir = out.string();
        u.FileSpec = {"*.*"};
        std::set<std::string> failed;
        u.OnEntryFailed = [&](TZipCommon&, const std::string& n, const std::string&, int, const std::string&) {
            failed.insert(n);
        };
        u.ExtractArchive();
        for (const auto& f : FilesBelow(out)) {
            EXPECT_FALSE(failed.count(f)) << s << ": " << f << " failed but is there";
            ++extracted;
        }
    }
    EXPECT_GT(extracted, 0);
}

TEST_F(UnAce, EncryptedWithoutOnGetPasswordEndsTheRun) {
    const fs::path p = test::Fixture("ace/sharpcompress_Ace.encrypted.ace");
    if (!fs::exists(p)) GTEST_SKIP() << "fixtures absent";
    TUnAce u;
    u.SetArchiveFile(p.string());
    u.ExtractDir = (tmp_ / "out").string();
    u.FileSpec = {"*.*"};
    bool invalid = false;
    u.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
        invalid = invalid || code == E_InvalidPassword;
    };
    EXPECT_EQ(u.ExtractArchive(), 0);
    EXPECT_TRUE(invalid);
    EXPECT_TRUE(u.FileSpec.empty());
    EXPECT_TRUE(FilesBelow(tmp_ / "out").empty());
}

}  // namespace
}  // namespace varnok
