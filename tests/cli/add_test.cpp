// varnok-cli add and delete, as a script uses them: names that look like options, the type from the
// extension, exit statuses, and an archive left alone when the run fails.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::Quote;
using test::TempDir;

struct Result {
    int code;
    std::string out;
    std::string err;
};

// Runs varnok-cli in dir.
Result CliIn(const std::filesystem::path& dir, const std::string& args) {
    TempDir tmp;
    std::string out;
    auto errFile = tmp / "stderr";
    int code = test::Run("cd " + Quote(dir) + " && " + Quote(test::BinDir() / "varnok-cli") + " " + args + " 2>" +
                             Quote(errFile),
                         &out);
    return {code, out, test::ReadText(errFile)};
}

TEST(CliAdd, OptionLikeNamesAfterDoubleDashAndTypesFromExtensions) {
    TempDir d;
    test::WriteFile(d / "-x", "dash");
    test::WriteFile(d / "docs/a.txt", "alpha");
    for (const std::string archive : {"out.zip", "out.jar", "out.tar", "out.tgz", "out.bh", "out.lzh"}) {
        Result r = CliIn(d.Path(), "add " + archive + " -- -x docs");
        ASSERT_EQ(r.code, 0) << archive << r.err;
        Result l = CliIn(d.Path(), "list " + archive);
        EXPECT_EQ(l.code, 0) << archive;
        EXPECT_NE(l.out.find("-x"), std::string::npos) << archive << l.out;
        EXPECT_NE(l.out.find("docs/a.txt"), std::string::npos) << archive << l.out;
        TempDir out;
        Result x = CliIn(out.Path(), "extract " + Quote(d / archive));
        EXPECT_EQ(x.code, 0) << archive << x.err;
        EXPECT_EQ(test::ReadText(out / "-x"), "dash") << archive;
        EXPECT_EQ(test::ReadText(out / "docs/a.txt"), "alpha") << archive;
    }
    // Without "--" a name starting with "-" is an option, and an unknown one is refused.
    Result bad = CliIn(d.Path(), "add out2.zip -x");
    EXPECT_EQ(bad.code, 2);
    EXPECT_FALSE(std::filesystem::exists(d / "out2.zip"));
}

TEST(CliAdd, MissingFileIsAnErrorNamingIt) {
    TempDir d;
    test::WriteFile(d / "a.txt", "a");
    Result r = CliIn(d.Path(), "add out.zip a.txt nothere.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("nothere.txt"), std::string::npos) << r.err;
    Result only = CliIn(d.Path(), "add out3.zip nothere.txt");
    EXPECT_EQ(only.code, 1);
    EXPECT_FALSE(std::filesystem::exists(d / "out3.zip"));
}

// A pattern whose files are all in the archive already matched them: adding again is not "no file matches",
// whether the files changed (replaced) or not (kept).
TEST(CliAdd, PatternMatchingOnlyFilesAlreadyInTheArchiveIsNoError) {
    TempDir d;
    test::WriteFile(d / "a.txt", "a");
    test::WriteFile(d / "b.txt", "b");
    ASSERT_EQ(CliIn(d.Path(), "add z.zip '*.txt'").code, 0);
    Result same = CliIn(d.Path(), "add z.zip '*.txt'");  // unchanged: nothing to do, but matched
    EXPECT_EQ(same.err.find("no file matches"), std::string::npos) << same.err;
    test::WriteFile(d / "a.txt", "changed");
    Result changed = CliIn(d.Path(), "add z.zip '*.txt'");
    EXPECT_EQ(changed.code, 0) << changed.err;
    TempDir out;
    ASSERT_EQ(CliIn(out.Path(), "extract " + Quote(d / "z.zip")).code, 0);
    EXPECT_EQ(test::ReadText(out / "a.txt"), "changed");
    Result none = CliIn(d.Path(), "add z.zip '*.none'");
    EXPECT_EQ(none.code, 1);
    EXPECT_NE(none.err.find("no file matches"), std::string::npos) << none.err;
}

TEST(CliAdd, FreshenUpdateAndDelete) {
    TempDir d;
    test::WriteFile(d / "a.txt", "a");
    ASSERT_EQ(CliIn(d.Path(), "add --level 0 z.zip a.txt").code, 0);
    test::WriteFile(d / "b.txt", "b");
    // Freshen adds nothing new.
    CliIn(d.Path(), "add --freshen z.zip a.txt b.txt");
    Result l = CliIn(d.Path(), "list z.zip");
    EXPECT_EQ(l.out.find("b.txt"), std::string::npos) << l.out;
    EXPECT_EQ(CliIn(d.Path(), "add --update z.zip b.txt").code, 0);
    l = CliIn(d.Path(), "list z.zip");
    EXPECT_NE(l.out.find("b.txt"), std::string::npos) << l.out;
    EXPECT_EQ(CliIn(d.Path(), "delete z.zip a.txt").code, 0);
    l = CliIn(d.Path(), "list z.zip");
    EXPECT_EQ(l.out.find("a.txt"), std::string::npos) << l.out;
    // Deleting what is not there changes nothing and says so.
    const auto before = test::ReadFile(d / "z.zip");
    Result none = CliIn(d.Path(), "delete z.zip nothing.txt");
    EXPECT_EQ(none.code, 1);
    EXPECT_EQ(test::ReadFile(d / "z.zip"), before);
}

TEST(CliAdd, EncryptedZipNeedsItsPassword) {
    TempDir d;
    test::WriteFile(d / "s.txt", "secret text");
    ASSERT_EQ(CliIn(d.Path(), "add -p pw e.zip s.txt").code, 0);
    TempDir out;
    EXPECT_NE(CliIn(out.Path(), "extract -p wrong " + Quote(d / "e.zip")).code, 0);
    EXPECT_EQ(CliIn(out.Path(), "extract -p pw --overwrite " + Quote(d / "e.zip")).code, 0);
    EXPECT_EQ(test::ReadText(out / "s.txt"), "secret text");
}

}  // namespace
}  // namespace varnok
