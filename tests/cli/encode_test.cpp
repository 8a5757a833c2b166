// varnok-cli encode, as a script uses it: where the texts go, that extract reads them back (also split into
// volumes), that a second run keeps what the first wrote, and that no success is printed after an error.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::Quote;
using test::TempDir;
namespace fs = std::filesystem;

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result CliIn(const fs::path& dir, const std::string& args) {
    TempDir tmp;
    std::string out;
    auto errFile = tmp / "stderr";
    int code = test::Run("cd " + Quote(dir) + " && " + Quote(test::BinDir() / "varnok-cli") + " " + args +
                             " 2>" + Quote(errFile),
                         &out);
    return {code, out, test::ReadText(errFile)};
}

std::string Binary(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7919 + i / 256) & 0xFF);
    return s;
}

TEST(CliEncode, TextsGoWhereAskedAndExtractReadsThemBackAlsoInVolumes) {
    TempDir d;
    const std::string data = Binary(20000);
    test::WriteFile(d / "report one.bin", data);
    test::WriteFile(d / "b.txt", "second\n");
    for (const std::string how : {"uue", "xxe", "mime"}) {
        const std::string ext = how == "mime" ? ".mim" : "." + how;
        // Beside the file by default; split with --volume-size.
        Result r = CliIn(d.Path(), "encode " + how + " 'report one.bin' --volume-size 4K");
        ASSERT_EQ(r.code, 0) << how << r.err;
        ASSERT_TRUE(fs::exists(d / ("report one.bin" + ext))) << how;
        EXPECT_LE(fs::file_size(d / ("report one.bin" + ext)), 4096u);
        TempDir x;
        Result e = CliIn(x.Path(), "extract " + Quote(d / ("report one.bin" + ext)));
        EXPECT_EQ(e.code, 0) << how << e.err;
        EXPECT_EQ(test::ReadText(x / "report one.bin"), data) << how;
        // Several files into a folder given with -o; one file to a name given with -o.
        fs::create_directories(d / ("out-" + how));
        Result m = CliIn(d.Path(), "encode " + how + " 'report one.bin' b.txt -o out-" + how + " -v");
        ASSERT_EQ(m.code, 0) << how << m.err;
        EXPECT_NE(m.out.find("b.txt -> out-" + how + "/b.txt" + ext), std::string::npos) << m.out;
        EXPECT_TRUE(fs::exists(d / ("out-" + how) / ("report one.bin" + ext)));
        Result one = CliIn(d.Path(), "encode " + how + " b.txt -o single");
        ASSERT_EQ(one.code, 0) << how << one.err;
        TempDir y;
        EXPECT_EQ(CliIn(y.Path(), "extract " + Quote(d / ("single" + ext))).code, 0) << how;
        EXPECT_EQ(test::ReadText(y / "b.txt"), "second\n") << how;
    }
}

TEST(CliEncode, SecondRunKeepsTheTextAndErrorsAreNotReportedAsSuccess) {
    TempDir d;
    test::WriteFile(d / "a.bin", "first");
    ASSERT_EQ(CliIn(d.Path(), "encode uue a.bin").code, 0);
    const std::string first = test::ReadText(d / "a.bin.uue");
    test::WriteFile(d / "a.bin", "changed contents");
    // Without --overwrite the text stays; the file is named; nothing claims success.
    Result again = CliIn(d.Path(), "encode uue a.bin -v");
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("a.bin.uue"), std::string::npos) << again.err;
    EXPECT_EQ(again.out.find("->"), std::string::npos) << again.out;
    EXPECT_EQ(test::ReadText(d / "a.bin.uue"), first);
    Result over = CliIn(d.Path(), "encode uue a.bin --overwrite");
    EXPECT_EQ(over.code, 0) << over.err;
    EXPECT_NE(test::ReadText(d / "a.bin.uue"), first);
    // A missing input among good ones: the good one is written, the run fails naming the missing one, whose
    // name reaches the terminal escaped.
    Result missing = CliIn(d.Path(), "encode xxe a.bin \"$(printf 'gone\\033[2J.bin')\" -v");
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("gone\\x1B[2J.bin"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find('\x1b'), std::string::npos);
    EXPECT_NE(missing.out.find("a.bin -> a.bin.xxe"), std::string::npos) << missing.out;
    EXPECT_EQ(missing.out.find("gone"), std::string::npos) << missing.out;
    EXPECT_FALSE(fs::exists(d / "gone\x1b[2J.bin.xxe"));
    // Usage errors: exit status 2, nothing written.
    for (const std::string bad : {"encode", "encode zip a.bin", "encode uue a.bin --volume-size lots",
                                  "encode mime a.bin --table", "encode uue a.bin b.bin -o notafolder"}) {
        Result u = CliIn(d.Path(), bad);
        EXPECT_EQ(u.code, 2) << bad << u.err;
    }
    EXPECT_FALSE(fs::exists(d / "a.bin.mim"));
    EXPECT_FALSE(fs::exists(d / "notafolder"));
}

}  // namespace
}  // namespace varnok
