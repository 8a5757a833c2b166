#include "archive/tools/zipcheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "archive/core/errors.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::Quote;
using test::TempDir;

struct Outcome {
    bool result = false;
    std::map<std::string, bool> status;
    std::vector<int> errors;
    std::vector<std::string> errorTexts;
};

Outcome Check(TZipCheck& ck, const std::filesystem::path& archive) {
    Outcome o;
    ck.OnError = [&o](TZipCommon&, const std::string&, const std::string& m, const std::string&, int code) {
        o.errors.push_back(code);
        o.errorTexts.push_back(m);
    };
    if (!ck.OnStatus)
        ck.OnStatus = [&o](TZipCommon&, const std::string& name, bool pass) { o.status[name] = pass; };
    ck.SetArchiveFile(archive.string());
    o.result = ck.Test();
    return o;
}

std::vector<uint8_t> TwoEntryZip() {
    return test::BuildZip({{"a.txt", "alpha"}, {"sub/b.txt", "beta"}});
}

TEST(ZipCheck, UntestableFileOrMissingStatusHandlerStopsBeforeReading) {
    TempDir d;
    test::WriteFile(d / "notes.lzh", std::string("a text file with an archive's extension\n"));
    TZipCheck text;
    auto t = Check(text, d / "notes.lzh");
    EXPECT_FALSE(t.result);
    EXPECT_EQ(t.errors, std::vector<int>{E_InvalidArcType});
    EXPECT_TRUE(t.status.empty());

    test::WriteFile(d / "x.zip", TwoEntryZip());
    TZipCheck noHandler;
    Outcome o;
    noHandler.OnError = [&o](TZipCommon&, const std::string&, const std::string& m, const std::string&, int code) {
        o.errors.push_back(code);
        o.errorTexts.push_back(m);
    };
    noHandler.SetArchiveFile((d / "x.zip").string());
    EXPECT_FALSE(noHandler.Test());
    ASSERT_EQ(o.errors, std::vector<int>{E_EventNotAssigned});
    EXPECT_EQ(o.errorTexts[0], "OnStatus");
}

TEST(ZipCheck, OneDamagedEntryFailsAloneAndTheArchiveFails) {
    TempDir d;
    test::WriteFile(d / "good.zip", TwoEntryZip());
    TZipCheck good;
    auto g = Check(good, d / "good.zip");
    EXPECT_TRUE(g.result);
    EXPECT_EQ(g.status, (std::map<std::string, bool>{{"a.txt", true}, {"sub/b.txt", true}}));
    EXPECT_EQ(good.ErrorCount(), 0);

    auto bytes = TwoEntryZip();
    bytes[30 + 5] ^= 0x40;  // the first data byte of a.txt
    test::WriteFile(d / "bad.zip", bytes);
    TZipCheck bad;
    auto b = Check(bad, d / "bad.zip");
    EXPECT_FALSE(b.result);
    EXPECT_EQ(b.status, (std::map<std::string, bool>{{"a.txt", false}, {"sub/b.txt", true}}));
    EXPECT_EQ(bad.Passed(), 1);
    EXPECT_EQ(bad.Failed(), 1);
    EXPECT_EQ(bad.ErrorCount(), 1);
}

TEST(ZipCheck, AWalkEndedByADamagedHeaderIsNotAPass) {
    TempDir d;
    auto whole = test::BuildLzh({{"one.txt", "first"}, {"two.txt", std::string(300, 't')}});
    whole.resize(test::BuildLzh({{"one.txt", "first"}}).size() - 1 + 12);
    test::WriteFile(d / "cut.lzh", whole);
    TZipCheck ck;
    auto o = Check(ck, d / "cut.lzh");
    EXPECT_EQ(o.status, (std::map<std::string, bool>{{"one.txt", true}}));
    EXPECT_FALSE(o.result);
    EXPECT_EQ(ck.RunErrors(), 1);
    EXPECT_EQ(ck.ErrorCount(), 1);
}

TEST(ZipCheck, TestingWritesNothingAnywhere) {
    TempDir d;
    test::WriteFile(d / "x.zip", TwoEntryZip());
    std::filesystem::create_directory(d / "dest");
    TZipCheck ck;
    ck.ExtractDir = (d / "dest").string();
    const auto cwdBefore = std::distance(std::filesystem::directory_iterator(std::filesystem::current_path()),
                                         std::filesystem::directory_iterator());
    EXPECT_TRUE(Check(ck, d / "x.zip").result);
    EXPECT_TRUE(std::filesystem::is_empty(d / "dest"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::current_path()),
                            std::filesystem::directory_iterator()),
              cwdBefore);
}

TEST(ZipCheck, PasswordTypedDuringATestComesBackAndAWrongOneFails) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    test::WriteFile(d / "secret.txt", std::string(2000, 's'));
    ASSERT_EQ(test::Run("cd " + Quote(d.Path()) + " && zip -q -P opensesame locked.zip secret.txt"), 0);

    TZipCheck asked;
    int asks = 0;
    asked.OnGetPassword = [&asks](TZipCommon&, const std::string&, std::string& pw, bool&) {
        ++asks;
        pw = "opensesame";
    };
    auto ok = Check(asked, d / "locked.zip");
    EXPECT_TRUE(ok.result);
    EXPECT_EQ(asks, 1);
    EXPECT_NE(std::find(asked.Passwords.begin(), asked.Passwords.end(), "opensesame"), asked.Passwords.end());

    // The password gathered there opens the archive again without asking.
    asked.OnGetPassword = [&asks](TZipCommon&, const std::string&, std::string&, bool& tryAgain) {
        ++asks;
        tryAgain = false;
    };
    EXPECT_TRUE(Check(asked, d / "locked.zip").result);
    EXPECT_EQ(asks, 1);

    TZipCheck wrong;
    wrong.Passwords = {"letmein"};
    wrong.OnGetPassword = [](TZipCommon&, const std::string&, std::string&, bool& tryAgain) { tryAgain = false; };
    auto bad = Check(wrong, d / "locked.zip");
    EXPECT_FALSE(bad.result);
    EXPECT_EQ(bad.status, (std::map<std::string, bool>{{"secret.txt", false}}));
}

TEST(ZipCheck, CompressedTarIsTestedEntryByEntry) {
    VARNOK_REQUIRE_TOOL("gzip");
    TempDir d;
    test::WriteFile(d / "x.tar", test::BuildTar({{"docs/a.txt", "alpha"}, {"b.txt", std::string(5000, 'b')}}));
    ASSERT_EQ(test::Run("gzip -c " + Quote(d / "x.tar") + " > " + Quote(d / "x.tgz")), 0);
    TZipCheck ck;
    std::vector<std::string> asked;
    ck.OnNestedTarFile = [&asked](TZipCommon&, const std::string& name, bool&) { asked.push_back(name); };
    auto o = Check(ck, d / "x.tgz");
    EXPECT_TRUE(o.result);
    EXPECT_EQ(o.status, (std::map<std::string, bool>{{"docs/a.txt", true}, {"b.txt", true}}));
    EXPECT_EQ(asked, std::vector<std::string>{"x.tar"});

    // Damage in the compressed stream fails the test, whatever was read before it.
    auto bytes = test::ReadFile(d / "x.tgz");
    bytes[bytes.size() - 6] ^= 0xFF;  // inside the CRC-32 of the trailer
    test::WriteFile(d / "bad.tgz", bytes);
    TZipCheck bad;
    EXPECT_FALSE(Check(bad, d / "bad.tgz").result);
    EXPECT_GT(bad.ErrorCount(), 0);
}

TEST(ZipCheck, StoppedTestIsNoPass) {
    TempDir d;
    test::WriteFile(d / "x.zip", TwoEntryZip());
    TZipCheck ck;
    Outcome o;
    ck.OnStatus = [&ck, &o](TZipCommon&, const std::string& name, bool pass) {
        o.status[name] = pass;
        ck.SetCancel(true);
    };
    EXPECT_FALSE(Check(ck, d / "x.zip").result);
    EXPECT_EQ(o.status.size(), 1u);
}

}  // namespace
}  // namespace varnok
