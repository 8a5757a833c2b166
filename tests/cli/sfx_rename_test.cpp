// varnok-cli sfx, unsfx, rename and comment: the commands keep their input, peers read what they write, and a
// refused command changes nothing.
#include <gtest/gtest.h>

#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

int Cli(const std::string& args, std::string* out = nullptr) {
    return test::Run(test::Quote(test::BinDir() / "varnok-cli") + " " + args + " 2>&1", out);
}

TEST(CliSfx, MakeRunAndTakeBackASelfExtractor) {
    TempDir d;
    test::WriteFile(d / "a.zip", test::BuildZip({{"x/one.txt", "one"}, {"two.txt", "two"}}, {"note"}));
    const auto original = test::ReadFile(d / "a.zip");
    std::string out;
    ASSERT_EQ(Cli("sfx " + test::Quote(d / "a.zip") + " -o " + test::Quote(d / "prog") + " --caption Hello", &out), 0)
        << out;
    EXPECT_EQ(test::ReadFile(d / "a.zip"), original);  // the input stays
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -t " + test::Quote(d / "prog"), &out), 0) << out;
    }
    ASSERT_EQ(test::Run(test::Quote(d / "prog") + " --yes --dir " + test::Quote(d / "out") + " </dev/null", &out), 0)
        << out;
    EXPECT_NE(out.find("Hello"), std::string::npos);
    EXPECT_EQ(test::ReadText(d / "out/x/one.txt"), "one");
    ASSERT_EQ(Cli("unsfx " + test::Quote(d / "prog") + " -o " + test::Quote(d / "b.zip"), &out), 0) << out;
    EXPECT_EQ(test::ReadFile(d / "b.zip"), original);
    EXPECT_TRUE(fs::exists(d / "prog"));
    EXPECT_NE(Cli("sfx " + test::Quote(d / "a.zip") + " --overwrite sometimes", &out), 0);
    EXPECT_NE(Cli("unsfx " + test::Quote(d / "a.zip"), &out), 0);
}

TEST(CliRename, RenameAndCommentKeepEverythingElse) {
    TempDir d;
    test::WriteFile(d / "a.zip", test::BuildZip({{"a.txt", "a"}, {"data.txt", "d"}, {"dir/a.txt", "x"}}, {"old"}));
    std::string out;
    ASSERT_EQ(Cli("rename " + test::Quote(d / "a.zip") + " a.txt b.txt", &out), 0) << out;
    ASSERT_EQ(Cli("comment " + test::Quote(d / "a.zip"), &out), 0);
    EXPECT_EQ(out, "old\n");
    ASSERT_EQ(Cli("comment " + test::Quote(d / "a.zip") + " --set " + test::Quote("new \x1b[2J text"), &out), 0) << out;
    ASSERT_EQ(Cli("comment " + test::Quote(d / "a.zip"), &out), 0);
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;  // shown made safe
    EXPECT_NE(out.find("text"), std::string::npos);
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -Z1 " + test::Quote(d / "a.zip"), &out), 0);
        EXPECT_EQ(out, "b.txt\ndata.txt\ndir/a.txt\n");
    }
    const auto now = test::ReadFile(d / "a.zip");
    EXPECT_NE(Cli("rename " + test::Quote(d / "a.zip") + " b.txt data.txt", &out), 0);
    EXPECT_NE(Cli("rename " + test::Quote(d / "a.zip") + " b.txt dir/", &out), 0);
    EXPECT_EQ(test::ReadFile(d / "a.zip"), now);
}

// A comment set here and shown again reads as typed, whether the archive's OEM page holds it ("Grüße" is
// stored in CP437 as the window stores it) or not (Japanese stays UTF-8).
TEST(CliRename, ACommentComesBackAsTyped) {
    TempDir d;
    test::WriteFile(d / "a.zip", test::BuildZip({{"a.txt", "a"}}));
    std::string out;
    for (const std::string text : {"Gr\xC3\xBC\xC3\x9F" "e", "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xBC"}) {
        ASSERT_EQ(Cli("comment " + test::Quote(d / "a.zip") + " --set " + test::Quote(text), &out), 0) << out;
        ASSERT_EQ(Cli("comment " + test::Quote(d / "a.zip"), &out), 0);
        EXPECT_EQ(out, text + "\n");
    }
    ASSERT_EQ(Cli("comment " + test::Quote(d / "a.zip") + " --set " + test::Quote("Gr\xC3\xBC\xC3\x9F" "e"), &out), 0);
    const auto bytes = test::ReadFile(d / "a.zip");
    EXPECT_EQ(std::string(bytes.end() - 5, bytes.end()), "Gr\x81\xE1" "e");
}

}  // namespace
}  // namespace varnok
