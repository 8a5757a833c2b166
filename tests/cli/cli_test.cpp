#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "archive/core/crc.h"
#include "tests/support/builders.h"
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

Result Cli(const std::string& args) {
    TempDir tmp;
    std::string out;
    auto errFile = tmp / "stderr";
    int code = test::Run(Quote(test::BinDir() / "varnok-cli") + " " + args + " 2>" + Quote(errFile), &out);
    return {code, out, test::ReadText(errFile)};
}

TEST(Cli, ListJsonShape) {
    TempDir d;
    test::ZipItem dir{"docs/", ""};
    dir.externalAttr = 0x10;
    test::ZipItem a{"docs/a.txt", "alpha"};
    a.comment = "say \"hi\"";
    test::WriteFile(d / "x.zip", test::BuildZip({dir, a, {"b.bin", std::string(10, 'b')}}));
    auto r = Cli("list " + Quote(d / "x.zip") + " --json");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("{\"archive\": "), 0u);
    EXPECT_NE(r.out.find("\"type\": \"ZIP\""), std::string::npos);
    EXPECT_NE(r.out.find("{\"name\": \"docs/a.txt\", \"size\": 5, \"packed\": 5, \"method\": \"Stored\", "
                         "\"crc\": \"D0E0396A\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"comment\": \"say \\\"hi\\\"\""), std::string::npos);
    EXPECT_NE(r.out.find("\"totals\": {\"files\": 2, \"size\": 15, \"packed\": 15}"), std::string::npos);
    EXPECT_EQ(r.out.find("\"docs\""), std::string::npos);
    auto withDirs = Cli("list " + Quote(d / "x.zip") + " --json --dirs");
    EXPECT_NE(withDirs.out.find("\"dir\": true"), std::string::npos);
    auto pattern = Cli("list " + Quote(d / "x.zip") + " '*.bin' --json");
    EXPECT_EQ(pattern.out.find("a.txt"), std::string::npos);
    EXPECT_NE(pattern.out.find("b.bin"), std::string::npos);
}

TEST(Cli, TableAndTotals) {
    TempDir d;
    test::WriteFile(d / "t.tar", test::BuildTar({{"one.txt", "1"}, {"two.txt", "22"}}));
    auto r = Cli("list " + Quote(d / "t.tar"));
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("one.txt"), std::string::npos);
    EXPECT_NE(r.out.find("Tarred"), std::string::npos);
    EXPECT_NE(r.out.find("2 files, 3 bytes"), std::string::npos);
}

TEST(Cli, ErrorsAndExitStatus) {
    TempDir d;
    auto usage = Cli("list");
    EXPECT_EQ(usage.code, 2);
    EXPECT_EQ(Cli("frobnicate x").code, 2);
    EXPECT_EQ(Cli("list --bogus x").code, 2);
    test::WriteFile(d / "junk.bin", std::string(100, 'j'));
    auto junk = Cli("list " + Quote(d / "junk.bin"));
    EXPECT_EQ(junk.code, 1);
    EXPECT_EQ(junk.err, "varnok-cli: " + (d / "junk.bin").string() + ": Unknown file type (code 25327)\n");
    auto missing = Cli("list " + Quote(d / "nothing.zip") + " --json");
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("(code 25235)"), std::string::npos);
    EXPECT_NE(missing.out.find("\"entries\": []"), std::string::npos);  // still one JSON object
}

TEST(Cli, BombLimitsAreOptionsWithTheirOwnUsageErrors) {
    TempDir d;
    test::ZipItem bomb{"bomb.bin", std::string(1 + 258 * 270000, '\0')};
    bomb.method = 8;
    bomb.packed = test::DeflateZeros(270000);
    test::WriteFile(d / "bomb.zip", test::BuildZip({bomb, {"a.txt", std::string(1000, 'a')}}));
    const std::string zip = Quote(d / "bomb.zip");

    auto refused = Cli("extract " + zip + " -d " + Quote(d / "r") + " --max-ratio 100");
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("bomb.bin: Max file size exceeded: its data grow past 100 times"),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("--max-ratio and --max-size raise the limits"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(d / "r" / "bomb.bin"));
    EXPECT_TRUE(std::filesystem::exists(d / "r" / "a.txt"));
    auto tested = Cli("test " + zip + " --max-ratio 100");
    EXPECT_EQ(tested.code, 1);
    EXPECT_NE(tested.out.find("FAILED  bomb.bin"), std::string::npos) << tested.out;
    EXPECT_NE(tested.out.find("INVALID: Archive " + (d / "bomb.zip").string() + " tested, 1 errors were found.\n"),
              std::string::npos)
        << tested.out;
    EXPECT_EQ(Cli("test " + zip + " --max-ratio 0").code, 0);

    // The run's size: the bomb is holes on disk, the 1000 bytes of a.txt are what count.
    auto sized = Cli("extract " + zip + " -d " + Quote(d / "s") + " --max-size 999");
    EXPECT_EQ(sized.code, 1);
    EXPECT_NE(sized.err.find("a.txt: Max file size exceeded: the run would write more than 999 bytes"),
              std::string::npos)
        << sized.err;
    EXPECT_FALSE(std::filesystem::exists(d / "s" / "a.txt"));
    EXPECT_EQ(Cli("extract " + zip + " -d " + Quote(d / "k") + " --max-size 1K").code, 0);

    for (const char* bad : {"--max-ratio 5x", "--max-ratio -1", "--max-size 0", "--max-size 2Q",
                            "--max-size 99999999999999999999", "--max-size 20000000T"}) {
        auto u = Cli("extract " + zip + " -d " + Quote(d / "u") + " " + bad);
        EXPECT_EQ(u.code, 2) << bad;
        EXPECT_NE(u.err.find("usage:"), std::string::npos) << bad;
    }
    EXPECT_EQ(Cli("test " + zip + " --max-size 1G").code, 2);  // testing writes nothing
    EXPECT_FALSE(std::filesystem::exists(d / "u"));
}

TEST(Cli, AbsoluteNamesAreWrittenInsideWithAWarning) {
    TempDir d;
    test::WriteFile(d / "abs.zip", test::BuildZip({{"/etc/abs.txt", "inside"}, {"C:\\x.txt", "drive"}}));
    auto r = Cli("extract " + Quote(d / "abs.zip") + " -d " + Quote(d / "out"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(
        r.err.find("varnok-cli: /etc/abs.txt: Invalid file name: its absolute path was stripped: written as "
                   "etc/abs.txt"),
        std::string::npos)
        << r.err;
    EXPECT_NE(
        r.err.find(
            "varnok-cli: C:/x.txt: Invalid file name: its absolute path was stripped: written as x.txt"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(test::ReadText(d / "out" / "etc" / "abs.txt"), "inside");
    EXPECT_EQ(test::ReadText(d / "out" / "x.txt"), "drive");
    EXPECT_NE(r.out.find("2 files extracted"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("test " + Quote(d / "abs.zip")).code, 0);
}

// An ARC entry stored (method 2) with the sizes and check given, its data following.
std::string ArcEntry(const std::string& name, const std::string& data, uint32_t packed, uint32_t original,
                     uint16_t crc) {
    std::string h{'\x1A', '\x02'};
    std::string n = name;
    n.resize(13, '\0');
    h += n;
    auto le = [&h](uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            h.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    le(packed, 4);
    le(0x5021, 2);
    le(0, 2);
    le(crc, 2);
    le(original, 4);
    return h + data;
}

TEST(Cli, EachEntrysTestLineAgreesWithTheCountAndOnlyPasswordsTalkOfPasswords) {
    TempDir d;
    const std::string good = ArcEntry("ok.txt", "hello", 5, 5, UpdateCrc16(0, "hello", 5));
    const std::string data = "0123456789";
    const uint16_t crc = UpdateCrc16(0, data.data(), data.size());
    const std::string end("\x1A\0", 2);
    const std::vector<std::pair<std::string, std::string>> cases{
        {"long.arc", good + ArcEntry("bad.txt", data, 10, 100, crc) + end},
        {"short.arc", good + ArcEntry("bad.txt", data, 10, 3, crc) + end},
        {"past.arc", good + ArcEntry("bad.txt", data, 1000, 10, crc) + end},
        {"crc.arc", good + ArcEntry("bad.txt", data, 10, 10, crc ^ 1) + end},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        test::WriteFile(d / name, bytes);
        for (const std::string& password : {std::string(), std::string(" -p secret")}) {
            auto r = Cli("test " + Quote(d / name) + password);
            EXPECT_EQ(r.code, 1);
            EXPECT_NE(r.out.find("OK      ok.txt\n"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("FAILED  bad.txt: "), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(" tested, 1 errors were found.\n"), std::string::npos) << r.out;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(r.err.find("assword"), std::string::npos) << r.err;
            EXPECT_EQ(r.out.find("assword"), std::string::npos) << r.out;
            auto x = Cli("extract " + Quote(d / name) + password + " --overwrite -d " + Quote(d / "out"));
            EXPECT_EQ(x.code, 1);
            EXPECT_EQ(x.err.find("assword"), std::string::npos) << x.err;
            EXPECT_EQ(test::ReadText(d / "out" / "ok.txt"), "hello");
        }
    }
}

TEST(Cli, MissingVolumeIsNamed) {
    VARNOK_REQUIRE_TOOL("arj");
    TempDir d;
    std::string data(25000, 'q');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7919 >> 3);
    test::WriteFile(d / "big.bin", data);
    ASSERT_EQ(test::Run("cd " + Quote(d.Path()) + " && arj a -v10k -m0 -y set.arj big.bin >/dev/null 2>&1"),
              0);
    auto ok = Cli("list " + Quote(d / "set.arj") + " --json");
    ASSERT_EQ(ok.code, 0) << ok.err;
    EXPECT_NE(ok.out.find("\"size\": 25000"), std::string::npos);
    std::filesystem::remove(d / "set.a01");
    auto cut = Cli("list " + Quote(d / "set.arj"));
    EXPECT_EQ(cut.code, 1);
    EXPECT_NE(cut.err.find((d / "set.a01").string()), std::string::npos) << cut.err;
}

TEST(Cli, ExtractAndTest) {
    TempDir d;
    test::WriteFile(d / "x.zip", test::BuildZip({{"a.txt", "alpha"}, {"sub/b.txt", "beta"}}));
    auto r = Cli("extract " + Quote(d / "x.zip") + " -d " + Quote(d / "out"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "2 files extracted to " + (d / "out").string() + "\n");
    EXPECT_EQ(test::ReadText(d / "out" / "sub" / "b.txt"), "beta");
    // Existing files are kept without a terminal to ask, and that is not an error.
    auto again = Cli("extract " + Quote(d / "x.zip") + " -d " + Quote(d / "out") + " </dev/null");
    EXPECT_EQ(again.code, 0);
    EXPECT_NE(again.out.find("0 files extracted"), std::string::npos);
    EXPECT_NE(again.out.find("2 skipped"), std::string::npos);
    auto flat = Cli("extract " + Quote(d / "x.zip") + " '*b.txt' --flat -d " + Quote(d / "flat"));
    EXPECT_EQ(flat.code, 0);
    EXPECT_TRUE(std::filesystem::exists(d / "flat" / "b.txt"));
    EXPECT_FALSE(std::filesystem::exists(d / "flat" / "a.txt"));
    auto t = Cli("test " + Quote(d / "x.zip"));
    EXPECT_EQ(t.code, 0);
    EXPECT_NE(t.out.find("OK      sub/b.txt"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find("VALID: Archive " + (d / "x.zip").string() + " tested, no errors were found.\n"),
              std::string::npos)
        << t.out;
    // A damaged entry: its line says so, the verdict fails, exit status 1.
    auto bytes = test::ReadFile(d / "x.zip");
    bytes[30 + 5] ^= 1;  // first data byte of a.txt
    test::WriteFile(d / "bad.zip", bytes);
    auto bad = Cli("test " + Quote(d / "bad.zip"));
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.out.find("FAILED  a.txt: "), std::string::npos) << bad.out;
    EXPECT_NE(bad.out.find("OK      sub/b.txt"), std::string::npos);
    EXPECT_NE(bad.out.find("INVALID: Archive " + (d / "bad.zip").string() + " tested, 1 errors were found.\n"),
              std::string::npos)
        << bad.out;
    auto badX = Cli("extract " + Quote(d / "bad.zip") + " -d " + Quote(d / "bx"));
    EXPECT_EQ(badX.code, 1);
    EXPECT_NE(badX.out.find("1 file extracted"), std::string::npos) << badX.out;
}

// A wrong password: one error line per entry, naming it, and nothing written.
TEST(Cli, WrongPasswordOneLinePerEntry) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    test::WriteFile(d / "src" / "a.txt", std::string(5000, 'a'));
    test::WriteFile(d / "src" / "sub" / "b.txt", std::string(5000, 'b'));
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -r -P right " + Quote(d / "e.zip") + " ."), 0);
    for (std::string cmd : {"extract", "test"}) {
        const std::string dest = cmd == "extract" ? " -d " + Quote(d / "out") : std::string();
        auto r = Cli(cmd + " " + Quote(d / "e.zip") + " -p wrong" + dest + " </dev/null");
        EXPECT_EQ(r.code, 1) << cmd;
        int lines = 0;
        for (char c : r.err)
            lines += c == '\n';
        EXPECT_EQ(lines, 2) << cmd << ":\n" << r.err;
        EXPECT_NE(r.err.find("a.txt"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("b.txt"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(d / "out" / "a.txt"));
}

TEST(Cli, IdentifyLines) {
    TempDir d;
    test::ZipOptions o;
    o.prefix = std::string(100, 'p');
    test::WriteFile(d / "p.zip", test::BuildZip({{"a", "b"}}, o));
    test::WriteFile(d / "t.tar", test::BuildTar({{"a", "b"}}));
    auto r = Cli("identify " + Quote(d / "p.zip") + " " + Quote(d / "t.tar"));
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("p.zip\tZIP\toffset="), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("headflag=0x19"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("t.tar\tTAR\toffset=0"), std::string::npos);
}

TEST(Cli, TestGivesOneVerdictPerArchiveAndGoesOnAfterABadOne) {
    TempDir d;
    test::WriteFile(d / "good.zip", test::BuildZip({{"a.txt", "alpha"}}));
    auto bytes = test::BuildZip({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    bytes[30 + 5] ^= 1;
    test::WriteFile(d / "bad.zip", bytes);
    test::WriteFile(d / "text.lzh", std::string("just some text, not an archive\n"));
    auto r = Cli("test " + Quote(d / "bad.zip") + " " + Quote(d / "text.lzh") + " " + Quote(d / "good.zip"));
    EXPECT_EQ(r.code, 1);
    const std::string bad = "INVALID: Archive " + (d / "bad.zip").string() + " tested, 1 errors were found.\n";
    const std::string text = "INVALID: Archive " + (d / "text.lzh").string() + " is not an valid archive\n";
    const std::string good = "VALID: Archive " + (d / "good.zip").string() + " tested, no errors were found.\n";
    ASSERT_NE(r.out.find(bad), std::string::npos) << r.out;
    ASSERT_NE(r.out.find(text), std::string::npos) << r.out;
    ASSERT_NE(r.out.find(good), std::string::npos) << r.out;
    EXPECT_LT(r.out.find(bad), r.out.find(text));
    EXPECT_LT(r.out.find(text), r.out.find(good));
    EXPECT_NE(r.err.find("text.lzh: Unknown file type"), std::string::npos) << r.err;
    // Only sound archives: exit status 0.
    EXPECT_EQ(Cli("test " + Quote(d / "good.zip") + " " + Quote(d / "good.zip")).code, 0);
}

TEST(Cli, ATruncatedArchiveIsInvalidEvenWhenEveryEntryReadPassed) {
    TempDir d;
    auto whole = test::BuildLzh({{"one.txt", "first"}, {"two.txt", std::string(4000, 't')}});
    // The second header is cut in the middle: the first entry tests sound, the walk ends on a damaged header.
    const size_t firstEnd = test::BuildLzh({{"one.txt", "first"}}).size() - 1;  // without the end mark
    ASSERT_GT(whole.size(), firstEnd + 10);
    whole.resize(firstEnd + 10);
    test::WriteFile(d / "cut.lzh", whole);
    auto r = Cli("test " + Quote(d / "cut.lzh"));
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("INVALID: Archive " + (d / "cut.lzh").string() + " tested, 1 errors were found."),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("\nVALID: Archive"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("cut.lzh"), std::string::npos) << r.err;
}

TEST(Cli, ProgressLineNeverReachesAPipe) {
    TempDir d;
    std::string big;
    for (int i = 0; i < 400000; ++i) big += std::to_string(i) + "\n";
    test::WriteFile(d / "x.tar", test::BuildTar({{"big.txt", big}}));
    auto t = Cli("test " + Quote(d / "x.tar"));
    EXPECT_EQ(t.code, 0);
    EXPECT_EQ(t.err, "");
    EXPECT_EQ(t.out.find('\r'), std::string::npos);
    auto x = Cli("extract " + Quote(d / "x.tar") + " -d " + Quote(d / "out"));
    EXPECT_EQ(x.code, 0);
    EXPECT_EQ(x.err, "");
    EXPECT_EQ(x.out.find('\r'), std::string::npos);
}

TEST(Cli, ConvertNamesTargetsAfterTheirSourcesAndNeverReplacesUnasked) {
    TempDir d;
    test::WriteFile(d / "one.zip", test::BuildZip({{"a.txt", "alpha"}}));
    test::WriteFile(d / "two.tar", test::BuildTar({{"b.txt", "bravo"}}));
    ASSERT_EQ(test::Run("gzip -c " + Quote(d / "two.tar") + " > " + Quote(d / "three.tar.gz")), 0);
    std::filesystem::create_directory(d / "out");
    auto r = Cli("convert " + Quote(d / "one.zip") + " " + Quote(d / "three.tar.gz") + " --type lzh -o " +
                 Quote(d / "out"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(d / "out" / "one.lzh"));
    EXPECT_TRUE(std::filesystem::exists(d / "out" / "three.lzh"));
    EXPECT_NE(r.out.find("-> " + (d / "out" / "three.lzh").string() + ": 1 file, tested\n"), std::string::npos)
        << r.out;
    auto beside = Cli("convert " + Quote(d / "two.tar") + " --type zip");
    ASSERT_EQ(beside.code, 0) << beside.err;
    EXPECT_TRUE(std::filesystem::exists(d / "two.zip"));

    const auto before = test::ReadFile(d / "two.zip");
    auto again = Cli("convert " + Quote(d / "one.zip") + " --type zip -o " + Quote(d / "two.zip"));
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("exists (--overwrite replaces it, --add-to adds to it)"), std::string::npos) << again.err;
    EXPECT_EQ(test::ReadFile(d / "two.zip"), before);
    auto added = Cli("convert " + Quote(d / "one.zip") + " --type zip --add-to -o " + Quote(d / "two.zip"));
    ASSERT_EQ(added.code, 0) << added.err;
    auto listed = Cli("list " + Quote(d / "two.zip"));
    EXPECT_NE(listed.out.find("a.txt"), std::string::npos);
    EXPECT_NE(listed.out.find("b.txt"), std::string::npos);

    EXPECT_EQ(Cli("convert " + Quote(d / "one.zip") + " --type rar").code, 2);
    EXPECT_EQ(Cli("convert " + Quote(d / "one.zip")).code, 2);
    auto junk = Cli("convert " + Quote(d / "out") + "/nothing.zip --type bh");
    EXPECT_EQ(junk.code, 1);
}

}  // namespace
}  // namespace varnok
