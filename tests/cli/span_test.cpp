// varnok-cli span and join: the set's volumes and names, peers reading a "zip -s" named set, the archive
// joined back byte for byte, and refusals that change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::Quote;
using test::TempDir;
namespace fs = std::filesystem;

int SpanCli(const std::string& args, std::string* out = nullptr) {
    return test::Run(Quote(test::BinDir() / "varnok-cli") + " " + args + " 2>&1 </dev/null", out);
}

std::vector<uint8_t> Archive() {
    std::mt19937 rng(5);
    std::string big(120000, '\0');
    for (auto& c : big)
        c = static_cast<char>(rng());
    test::ZipOptions o;
    o.comment = "cli set";
    return test::BuildZip({{"a.txt", "alpha\n"}, {"big.bin", big}, {"z/b.txt", std::string(5000, 'b')}}, o);
}

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> v;
    for (auto& e : fs::directory_iterator(dir))
        v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}

TEST(CliSpan, NumberedVolumesJoinBackByteForByte) {
    TempDir d;
    auto zip = Archive();
    test::WriteFile(d / "a.zip", zip);
    std::string out;
    ASSERT_EQ(SpanCli("span " + Quote(d / "a.zip") + " --volume-size 50K", &out), 0) << out;
    EXPECT_EQ(Names(d.Path()), (std::vector<std::string>{"a.zip", "a001.zip", "a002.zip", "a003.zip"}));
    EXPECT_EQ(test::ReadFile(d / "a.zip"), zip);
    for (auto n : {"a001.zip", "a002.zip", "a003.zip"})
        EXPECT_LE(fs::file_size(d / n), 51200u) << n;
    // The numbered set is read where it lies: every entry tests and extracts from its own part.
    ASSERT_EQ(SpanCli("test " + Quote(d / "a003.zip"), &out), 0) << out;
    ASSERT_EQ(SpanCli("extract " + Quote(d / "a003.zip") + " -d " + Quote(d / "x"), &out), 0) << out;
    EXPECT_EQ(test::ReadText(d / "x" / "a.txt"), "alpha\n");
    EXPECT_EQ(fs::file_size(d / "x" / "big.bin"), 120000u);
    EXPECT_EQ(test::ReadText(d / "x" / "z" / "b.txt"), std::string(5000, 'b'));
    fs::remove_all(d / "x");
    ASSERT_EQ(SpanCli("join " + Quote(d / "a003.zip") + " -o " + Quote(d / "j.zip"), &out), 0) << out;
    EXPECT_EQ(test::ReadFile(d / "j.zip"), zip);
    // An existing output is not replaced without --overwrite.
    test::WriteFile(d / "j.zip", std::string("keep"));
    EXPECT_NE(SpanCli("join " + Quote(d / "a003.zip") + " -o " + Quote(d / "j.zip"), &out), 0);
    EXPECT_EQ(test::ReadText(d / "j.zip"), "keep");
    EXPECT_EQ(SpanCli("join " + Quote(d / "a003.zip") + " -o " + Quote(d / "j.zip") + " --overwrite", &out), 0);
    EXPECT_EQ(test::ReadFile(d / "j.zip"), zip);
}

TEST(CliSpan, Z01SetsAreReadByThePeers) {
    TempDir d;
    auto zip = Archive();
    test::WriteFile(d / "a.zip", zip);
    std::string out;
    ASSERT_EQ(SpanCli("span " + Quote(d / "a.zip") + " --volume-size 100K --naming z01 -o " + Quote(d / "s" / "set"),
                      &out),
              1)
        << "a missing folder is an error";
    fs::create_directories(d / "s");
    ASSERT_EQ(SpanCli("span " + Quote(d / "a.zip") + " --volume-size 100K --naming z01 -o " + Quote(d / "s" / "set.zip"),
                      &out),
              0)
        << out;
    EXPECT_EQ(Names(d / "s"), (std::vector<std::string>{"set.z01", "set.zip"}));
    if (test::HaveTool("7z")) {
        EXPECT_EQ(test::Run("7z t " + Quote(d / "s" / "set.zip") + " > /dev/null 2>&1"), 0);
    }
    if (test::HaveTool("zip") && test::HaveTool("unzip")) {
        ASSERT_EQ(test::Run("zip -q -s 0 " + Quote(d / "s" / "set.zip") + " --out " + Quote(d / "byzip.zip") +
                            " > /dev/null 2>&1"),
                  0);
        std::string big;
        test::Run("unzip -p " + Quote(d / "byzip.zip") + " big.bin", &big);
        EXPECT_EQ(big.size(), 120000u);
        EXPECT_EQ(test::Run("unzip -tq " + Quote(d / "byzip.zip") + " > /dev/null 2>&1"), 0);
    }
    ASSERT_EQ(SpanCli("join " + Quote(d / "s" / "set.zip") + " -o " + Quote(d / "j"), &out), 0) << out;
    EXPECT_EQ(test::ReadFile(d / "j.zip"), zip);
}

TEST(CliSpan, RefusalsChangeNothing) {
    TempDir d;
    auto zip = Archive();
    test::WriteFile(d / "a.zip", zip);
    std::string out;
    EXPECT_EQ(SpanCli("span " + Quote(d / "a.zip"), &out), 2) << "no volume size";
    EXPECT_EQ(SpanCli("span " + Quote(d / "a.zip") + " --volume-size 64K --naming rar", &out), 2);
    // The last volume of a z01 set would take the archive's own name.
    EXPECT_EQ(SpanCli("span " + Quote(d / "a.zip") + " --volume-size 64K --naming z01", &out), 1);
    EXPECT_NE(out.find("archive being spanned"), std::string::npos) << out;
    // A volume smaller than a header.
    EXPECT_EQ(SpanCli("span " + Quote(d / "a.zip") + " --volume-size 40", &out), 1);
    // An existing volume is kept without --overwrite (nobody at the terminal to ask).
    test::WriteFile(d / "a002.zip", std::string("mine"));
    EXPECT_EQ(SpanCli("span " + Quote(d / "a.zip") + " --volume-size 50K", &out), 1);
    EXPECT_NE(out.find("--overwrite"), std::string::npos) << out;
    EXPECT_EQ(Names(d.Path()), (std::vector<std::string>{"a.zip", "a002.zip"}));
    EXPECT_EQ(test::ReadText(d / "a002.zip"), "mine");
    EXPECT_EQ(test::ReadFile(d / "a.zip"), zip);
    EXPECT_EQ(SpanCli("span " + Quote(d / "a.zip") + " --volume-size 50K --overwrite", &out), 0) << out;
    EXPECT_NE(test::ReadText(d / "a002.zip"), "mine");
    // Joining from a volume that is not the last names it.
    EXPECT_EQ(SpanCli("join " + Quote(d / "a001.zip") + " -o " + Quote(d / "j.zip"), &out), 1);
    EXPECT_NE(out.find("first disk"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(d / "j.zip"));
}

}  // namespace
}  // namespace varnok
