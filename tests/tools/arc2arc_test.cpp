#include "archive/tools/arc2arc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "archive/core/errors.h"
#include "archive/extractors.h"
#include "archive/tools/zipcheck.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

constexpr int64_t kWhen = 1'300'000'000;  // 2011-03-13, an even second for DOS dates

// A small tree: text, a binary, a nested file and an empty folder, all dated kWhen.
void MakeSourceTree(const fs::path& root) {
    fs::create_directories(root / "docs" / "deep");
    fs::create_directories(root / "empty");
    test::WriteFile(root / "readme.txt", std::string("hello, converter\n"));
    std::string bin(70000, '\0');
    for (size_t i = 0; i < bin.size(); ++i)
        bin[i] = static_cast<char>((i * 2654435761u) >> 13);
    test::WriteFile(root / "docs" / "data.bin", bin);
    test::WriteFile(root / "docs" / "deep" / "note.txt", std::string(3000, 'n'));
    ASSERT_EQ(test::Run("find " + Quote(root) + " -exec touch -d @" + std::to_string(kWhen) + " {} +"), 0);
}

// Every regular file below root by its relative name, with its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& root) {
    std::map<std::string, std::string> m;
    for (auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) m[fs::relative(e.path(), root).string()] = test::ReadText(e.path());
    return m;
}

struct Converted {
    bool ok = false;
    std::vector<int> codes;
};

Converted Convert(TArc2Arc& c, const fs::path& source, const fs::path& target, TOutArcType t,
                  const fs::path& temp) {
    Converted r;
    c.OnError = [&r](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
        r.codes.push_back(code);
    };
    c.SetTempDir(temp.string());
    c.SetArchiveFile(source.string());
    c.NewArchive = target.string();
    c.OutArcType = t;
    r.ok = c.Convert();
    return r;
}

fs::path ExtractAll(const fs::path& archive, const fs::path& dest, const std::string& password = {}) {
    auto x = CreateExtractor([&] {
        TZipCheck ck;
        ck.SetArchiveFile(archive.string());
        return ck.ArcType();
    }());
    EXPECT_TRUE(x);
    if (!x) return dest;
    x->SetArchiveFile(archive.string());
    x->ExtractDir = dest.string();
    x->FileSpec = {"*.*"};
    x->ConfirmOverwrites = false;
    x->CreateStoredDirs = true;
    if (!password.empty()) x->Passwords = {password};
    x->ExtractArchive();
    EXPECT_EQ(x->FailedEntries(), 0) << archive;
    return dest;
}

TEST(Arc2Arc, EveryTargetTypeCarriesNamesBytesFoldersAndDates) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    MakeSourceTree(d / "src");
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -r -X ../source.zip ."), 0);
    const auto want = FilesBelow(d / "src");
    fs::create_directory(d / "tmp");
    for (TOutArcType t : {tyBh, tyLzh, tyZip, tyJar, tyTar, tyGzipTar}) {
        const std::string ext = TArc2Arc::TargetExtension(t);
        SCOPED_TRACE(ext);
        TArc2Arc c;
        int statuses = 0;
        c.OnIntegrityStatus = [&statuses](TZipCommon&, const std::string&, bool pass) { statuses += pass; };
        auto r = Convert(c, d / "source.zip", d / ("out" + ext), t, d / "tmp");
        ASSERT_TRUE(r.ok) << ::testing::PrintToString(r.codes);
        EXPECT_GE(statuses, 3);
        EXPECT_EQ(c.Extracted(), c.Packed() > 0 ? c.Extracted() : -1);
        auto out = ExtractAll(d / ("out" + ext), d / ("x" + ext));
        EXPECT_EQ(FilesBelow(out), want);
        EXPECT_TRUE(fs::is_directory(out / "empty"));
        struct stat st;
        ASSERT_EQ(stat((out / "docs" / "deep" / "note.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, kWhen);
        // Nothing of the work is left: neither in the temporary folder nor beside the target.
        EXPECT_TRUE(fs::is_empty(d / "tmp"));
    }
    std::set<std::string> besides;
    for (auto& e : fs::directory_iterator(d.Path())) besides.insert(e.path().filename().string());
    for (const auto& n : besides) EXPECT_EQ(n.find(".vnkconv"), std::string::npos) << n;
}

TEST(Arc2Arc, FailedSourceEntryLeavesNoTargetAndAnExistingOneUntouched) {
    TempDir d;
    auto bytes = test::BuildZip({{"a.txt", "alpha"}, {"b.txt", "bravo"}});
    bytes[30 + 5] ^= 1;  // a.txt's data no longer matches its CRC
    test::WriteFile(d / "bad.zip", bytes);
    fs::create_directory(d / "tmp");

    TArc2Arc fresh;
    auto r = Convert(fresh, d / "bad.zip", d / "new.bh", tyBh, d / "tmp");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(fs::exists(d / "new.bh"));
    EXPECT_TRUE(fs::is_empty(d / "tmp"));

    test::WriteFile(d / "old.zip", test::BuildZip({{"old.txt", "kept"}}));
    const auto before = test::ReadFile(d / "old.zip");
    for (TOutArcMethod m : {amCreateNew, amAddToArc}) {
        TArc2Arc c;
        c.OutArcMethod = m;
        c.ConfirmOverwrites = false;
        EXPECT_FALSE(Convert(c, d / "bad.zip", d / "old.zip", tyZip, d / "tmp").ok);
        EXPECT_EQ(test::ReadFile(d / "old.zip"), before);
    }
}

TEST(Arc2Arc, AddingToAnExistingTargetKeepsItsEntries) {
    TempDir d;
    test::WriteFile(d / "src.tar", test::BuildTar({{"new.txt", "fresh"}}));
    test::WriteFile(d / "has.zip", test::BuildZip({{"old.txt", "kept"}}));
    fs::create_directory(d / "tmp");
    TArc2Arc c;
    c.OutArcMethod = amAddToArc;
    ASSERT_TRUE(Convert(c, d / "src.tar", d / "has.zip", tyZip, d / "tmp").ok);
    auto out = ExtractAll(d / "has.zip", d / "x");
    EXPECT_EQ(FilesBelow(out), (std::map<std::string, std::string>{{"new.txt", "fresh"}, {"old.txt", "kept"}}));
}

TEST(Arc2Arc, ExistingTargetIsReplacedOnlyWhenSomeoneSaysSo) {
    TempDir d;
    test::WriteFile(d / "src.tar", test::BuildTar({{"new.txt", "fresh"}}));
    test::WriteFile(d / "t.zip", test::BuildZip({{"old.txt", "kept"}}));
    const auto before = test::ReadFile(d / "t.zip");
    fs::create_directory(d / "tmp");

    TArc2Arc unasked;  // ConfirmOverwrites and no one to ask
    EXPECT_FALSE(Convert(unasked, d / "src.tar", d / "t.zip", tyZip, d / "tmp").ok);
    EXPECT_EQ(test::ReadFile(d / "t.zip"), before);

    TArc2Arc declined;
    declined.OnFileExists = [](TZipCommon&, const std::string&, TOverwriteMode& m) { m = omSkip; };
    EXPECT_FALSE(Convert(declined, d / "src.tar", d / "t.zip", tyZip, d / "tmp").ok);
    EXPECT_EQ(test::ReadFile(d / "t.zip"), before);

    TArc2Arc agreed;
    agreed.OnFileExists = [](TZipCommon&, const std::string&, TOverwriteMode& m) { m = omOverwrite; };
    ASSERT_TRUE(Convert(agreed, d / "src.tar", d / "t.zip", tyZip, d / "tmp").ok);
    EXPECT_EQ(FilesBelow(ExtractAll(d / "t.zip", d / "x")), (std::map<std::string, std::string>{{"new.txt", "fresh"}}));

    // A source is never its own target, by whatever name.
    fs::create_symlink(d / "src.tar", d / "alias.tar");
    TArc2Arc same;
    same.ConfirmOverwrites = false;
    auto r = Convert(same, d / "src.tar", d / "alias.tar", tyTar, d / "tmp");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.codes, std::vector<int>{E_SameInOut});
}

TEST(Arc2Arc, TargetIsEncryptedOnlyWithThePasswordItsSourceNeeded) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    test::WriteFile(d / "s.txt", std::string(500, 's'));
    ASSERT_EQ(test::Run("cd " + Quote(d.Path()) + " && zip -q -P opensesame locked.zip s.txt && zip -q open.zip s.txt"),
              0);
    fs::create_directory(d / "tmp");

    // A password left from earlier archives does not encrypt an unencrypted one.
    TArc2Arc plain;
    plain.Passwords = {"leftover", "opensesame"};
    ASSERT_TRUE(Convert(plain, d / "open.zip", d / "open.bh", tyBh, d / "tmp").ok);
    EXPECT_FALSE(plain.TargetEncrypted());
    TZipCheck ck;
    ck.OnStatus = [](TZipCommon&, const std::string&, bool) {};
    ck.SetArchiveFile((d / "open.bh").string());
    EXPECT_TRUE(ck.Test());

    // The source's own password protects the target.
    TArc2Arc locked;
    locked.Passwords = {"leftover", "opensesame"};
    ASSERT_TRUE(Convert(locked, d / "locked.zip", d / "locked.zip.zip", tyZip, d / "tmp").ok);
    EXPECT_TRUE(locked.TargetEncrypted());
    TZipCheck noPassword;
    noPassword.OnStatus = [](TZipCommon&, const std::string&, bool) {};
    noPassword.OnGetPassword = [](TZipCommon&, const std::string&, std::string&, bool& again) { again = false; };
    noPassword.SetArchiveFile((d / "locked.zip.zip").string());
    EXPECT_FALSE(noPassword.Test());
    EXPECT_EQ(FilesBelow(ExtractAll(d / "locked.zip.zip", d / "x", "opensesame")),
              (std::map<std::string, std::string>{{"s.txt", std::string(500, 's')}}));
}

TEST(Arc2Arc, StoppedConversionLeavesNothingBehind) {
    TempDir d;
    std::vector<test::TarItem> items;
    for (int i = 0; i < 20; ++i) items.push_back({"f" + std::to_string(i) + ".txt", std::string(1000, 'a' + i)});
    test::WriteFile(d / "src.tar", test::BuildTar(items));
    fs::create_directory(d / "tmp");
    for (int stopAt : {1, 2}) {  // during the extraction, during the packing
        TArc2Arc c;
        int seen = 0;
        if (stopAt == 1)
            c.OnExtractBegin = [&](TZipCommon&, const std::string&, int, bool&) {
                if (++seen == 5) c.SetCancel(true);
            };
        else
            c.OnCompressBegin = [&](TZipCommon&, const std::string&, int, bool&) {
                if (++seen == 5) c.SetCancel(true);
            };
        EXPECT_FALSE(Convert(c, d / "src.tar", d / "out.zip", tyZip, d / "tmp").ok);
        EXPECT_FALSE(fs::exists(d / "out.zip"));
        EXPECT_TRUE(fs::is_empty(d / "tmp"));
    }
}

TEST(Arc2Arc, CleanupNeverFollowsALinkFromTheSource) {
    TempDir d;
    fs::create_directory(d / "outside");
    test::WriteFile(d / "outside" / "precious.txt", std::string("do not touch"));
    test::TarItem link{"escape", "", '2', (d / "outside").string()};
    test::WriteFile(d / "src.tar", test::BuildTar({link, {"a.txt", "alpha"}}));
    fs::create_directory(d / "tmp");
    TArc2Arc c;
    Convert(c, d / "src.tar", d / "out.tar", tyTar, d / "tmp");
    EXPECT_EQ(test::ReadText(d / "outside" / "precious.txt"), "do not touch");
    EXPECT_TRUE(fs::is_empty(d / "tmp"));
}

}  // namespace
}  // namespace varnok
