// TUnAce: without the ACE library a run fails at once; with it, the real samples come out as the peers
// extracted them, or fail per entry with nothing left behind.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "archive/core/engine_library.h"
#include "archive/core/errors.h"
#include "archive/formats/ace/unace.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// The engine libraries of this build: beside the test programs' build tree.
std::string EngineDir() {
#ifdef VARNOK_ENGINE_DIR
    return VARNOK_ENGINE_DIR;
#else
    return (test::BinDir().parent_path() / "lib" / "varnok").string();
#endif
}

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
        EngineLibrary::SetFolder(EngineDir());
        if (!TUnAce::LibraryAvailable()) GTEST_SKIP() << "the ACE library is not built";
    }
    TempDir tmp_;
};

// The samples (a volume set and an encrypted one among them) as unar extracted them: the sha256 of every
// file from the fixtures' EXPECTED.tsv.
TEST_F(UnAce, SamplesMatchThePeers) {
    const fs::path expected = test::FixturesDir() / "EXPECTED.tsv";
    if (!fs::exists(expected)) GTEST_SKIP() << "fixtures absent";
    std::map<std::string, std::map<std::string, std::string>> want;
    std::ifstream in(expected);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t')) f.push_back(cell);
        if (f.size() >= 4 && f[0].rfind("ace/", 0) == 0 && f[3].size() == 64) want[f[0]][f[1]] = f[3];
    }
    int matched = 0, n = 0;
    for (const auto& [arc, files] : want) {
        TUnAce u;
        u.SetArchiveFile((test::FixturesDir() / arc).string());
        const fs::path out = tmp_ / std::to_string(n++);
        u.ExtractDir = out.string();
        u.FileSpec = {"*.*"};
        u.Passwords = {"test"};
        u.OnNextVolume = [](TZipCommon&, std::string&, const std::string&, bool exists, bool& cancel) {
            cancel = !exists;
        };
        u.ExtractArchive();
        EXPECT_EQ(u.FailedEntries(), 0) << arc;
        EXPECT_EQ(FilesBelow(out).size(), files.size()) << arc;
        for (const auto& [name, sha] : files) {
            std::string got;
            test::Run("sha256sum " + test::Quote(out / name), &got);
            EXPECT_EQ(got.substr(0, 64), sha) << arc << ": " << name;
            matched += got.substr(0, 64) == sha;
        }
    }
    EXPECT_GE(matched, 24);
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
