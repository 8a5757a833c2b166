// varnok-cli add and delete with --engine, through the ZIP bridge and the add/delete engine library, against the
// same commands run by the writer itself: the two paths must give archives with the same entries and data, the
// same exit statuses, and leave a failed run's archive alone.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::Quote;
using test::TempDir;

int CliIn(const std::filesystem::path& dir, const std::string& args, std::string* out = nullptr) {
    return test::Run("cd " + Quote(dir) + " && " + Quote(test::BinDir() / "varnok-cli") + " " + args +
                         " 2>/dev/null",
                     out);
}

// Every entry's name, size and CRC as unzip lists them, in name order.
std::string Listing(const std::filesystem::path& zip) {
    std::string out;
    test::Run("unzip -Zl " + Quote(zip) + " | awk 'NF>=10 {print $4, $NF}' | sort", &out);
    std::string crc;
    test::Run("unzip -v " + Quote(zip) + " | awk 'NF==8 && $7 ~ /^[0-9a-f]+$/ {print $7, $8}' | sort", &crc);
    return out + crc;
}

struct Tree {
    TempDir d;
    Tree() {
        test::WriteFile(d / "docs/a.txt", std::string(3000, 'a'));
        test::WriteFile(d / "docs/deep/b.txt", "bravo");
        test::WriteFile(d / "docs/.hidden", "h");
        test::WriteFile(d / "c.log", "log");
    }
};

TEST(CliEngine, AddAndDeleteGiveTheSameArchivesAsTheWriter) {
    VARNOK_REQUIRE_TOOL("unzip");
    Tree t;
    const std::vector<std::string> commands = {"add %s docs c.log", "add %s -r '*.txt' --exclude 'b*'",
                                               "add %s docs -p secret --level 0", "add %s docs --paths none"};
    for (const auto& c : commands) {
        SCOPED_TRACE(c);
        auto with = [&](const std::string& name) {
            std::string s = c;
            s.replace(s.find("%s"), 2, name);
            return s;
        };
        std::filesystem::remove(t.d / "w.zip");
        std::filesystem::remove(t.d / "e.zip");
        ASSERT_EQ(CliIn(t.d.Path(), with("w.zip")), 0);
        ASSERT_EQ(CliIn(t.d.Path(), with("e.zip") + " --engine"), 0);
        EXPECT_EQ(Listing(t.d / "w.zip"), Listing(t.d / "e.zip"));
        EXPECT_FALSE(Listing(t.d / "e.zip").empty());
    }
    std::filesystem::remove(t.d / "w.zip");
    std::filesystem::remove(t.d / "e.zip");
    ASSERT_EQ(CliIn(t.d.Path(), "add w.zip docs c.log"), 0);
    ASSERT_EQ(CliIn(t.d.Path(), "add e.zip docs c.log --engine"), 0);
    EXPECT_EQ(CliIn(t.d.Path(), "delete w.zip docs/deep '*.log'"), 0);
    EXPECT_EQ(CliIn(t.d.Path(), "delete e.zip docs/deep '*.log' --engine"), 0);
    EXPECT_EQ(Listing(t.d / "w.zip"), Listing(t.d / "e.zip"));
    EXPECT_EQ(test::Run("unzip -tq " + Quote(t.d / "e.zip") + " >/dev/null"), 0);
}

TEST(CliEngine, FailuresExitAlikeAndLeaveTheArchive) {
    Tree t;
    ASSERT_EQ(CliIn(t.d.Path(), "add e.zip c.log --engine"), 0);
    const auto before = test::ReadFile(t.d / "e.zip");
    EXPECT_EQ(CliIn(t.d.Path(), "add e.zip missing.txt --engine"), CliIn(t.d.Path(), "add e.zip missing.txt"));
    EXPECT_EQ(CliIn(t.d.Path(), "add e.zip missing.txt --engine"), 1);
    EXPECT_EQ(test::ReadFile(t.d / "e.zip"), before);
    EXPECT_EQ(CliIn(t.d.Path(), "delete e.zip 'nothing*' --engine"), 1);
    EXPECT_EQ(test::ReadFile(t.d / "e.zip"), before);
    EXPECT_EQ(CliIn(t.d.Path(), "add e.tar c.log --engine"), 2) << "the engine writes ZIP archives only";
}

TEST(CliEngine, MoveRemovesSourcesOnlyWhenTheArchiveIsWritten) {
    Tree t;
    ASSERT_EQ(CliIn(t.d.Path(), "add e.zip docs --move --engine"), 0);
    EXPECT_FALSE(std::filesystem::exists(t.d / "docs/a.txt"));
    EXPECT_FALSE(std::filesystem::exists(t.d / "docs/deep/b.txt"));
    test::WriteFile(t.d / "bad.zip", "not an archive");
    EXPECT_EQ(CliIn(t.d.Path(), "add bad.zip c.log --move --engine"), 1);
    EXPECT_TRUE(std::filesystem::exists(t.d / "c.log"));
    EXPECT_EQ(test::ReadText(t.d / "bad.zip"), "not an archive");
}

}  // namespace
}  // namespace varnok
