#include "archive/tools/arc2arc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <algorithm>
#include <map>
#include <set>

#include "archive/core/engine_library.h"
#include "archive/core/errors.h"
#include "archive/extractors.h"
#include "archive/tools/zipcheck.h"
#include "tests/support/builders.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

constexpr int64_t kWhen = 1'300'000'000;  // 2011-03-13, an even second for DOS dates

// A small tree: text, a binary, a file without an extension, a hidden one, a nested file and an empty folder,
// all dated kWhen.
void MakeSourceTree(const fs::path& root) {
    fs::create_directories(root / "docs" / "deep");
    fs::create_directories(root / "empty");
    test::WriteFile(root / "readme.txt", std::string("hello, converter\n"));
    test::WriteFile(root / "LICENSE", std::string("a file without an extension\n"));
    test::WriteFile(root / "docs" / ".hidden", std::string("a hidden file\n"));
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

// One sample of every family that reads, into every type that writes: the target holds the source's files byte
// for byte (read back by our own extractor) and the target's peers read it without complaint.
struct Peer {
    const char* tool;
    const char* command;  // {} is the archive
};

std::vector<Peer> PeersOf(TOutArcType t) {
    switch (t) {
        case tyZip:
        case tyJar:
            return {{"unzip", "unzip -tqq {}"}, {"7z", "7z t {} >/dev/null"}};
        case tyLzh:
            return {{"lhasa", "lhasa t {} >/dev/null"}};
        case tyTar:
            return {{"tar", "tar tf {} >/dev/null"}, {"bsdtar", "bsdtar tf {} >/dev/null"}};
        case tyGzipTar:
            return {{"tar", "tar tzf {} >/dev/null"}, {"gzip", "gzip -t {}"}};
        case tyCab:
            return {{"cabextract", "cabextract -q -t {}"}, {"7z", "7z t {} >/dev/null"}};
        case tyBh:
            return {};  // no other program reads BlakHole archives
    }
    return {};
}

// The files whose names are ASCII, and the contents of the others under one placeholder name each.
std::map<std::string, std::string> WithoutNonAsciiNames(const std::map<std::string, std::string>& files) {
    std::map<std::string, std::string> out;
    int others = 0;
    std::vector<std::string> contents;
    for (const auto& [name, data] : files) {
        if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            out[name] = data;
        else
            contents.push_back(data);
    }
    std::sort(contents.begin(), contents.end());
    for (const auto& c : contents) out["\x01other " + std::to_string(others++)] = c;
    return out;
}

TEST(Arc2ArcInterop, EveryReadableFamilyIntoEveryWritableType) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures absent";
    EngineLibrary::SetFolder(VARNOK_ENGINE_DIR);
    const char* sources[] = {
        "ace/sharpcompress_Ace.method2.ace", "arc/newtua_crunch.arc", "arj/ark_one_toplevel_folder.arj",
        "cab/libmspack_mszip_lzx_qtm.cab",   "gzip/commons_bla.tgz",  "lzh/unix114i_h0_lh5.lzh",
        "rar/rarfile_rar5-subdirs.rar",      "tar/ark_tar-v7.tar",    "uue/generated_lh7_long.lzh.uue",
        "zip/commons_bla.zip",               "zoo/patool_t.zoo",      "compress/commons_bla.tar.Z",
    };
    TempDir d;
    fs::create_directory(d / "tmp");
    int converted = 0;
    for (const char* rel : sources) {
        const fs::path src = test::Fixture(rel);
        if (src.empty()) continue;
        SCOPED_TRACE(rel);
        const auto want = FilesBelow(ExtractAll(src, d / ("want-" + fs::path(rel).filename().string())));
        ASSERT_FALSE(want.empty());
        for (TOutArcType t : {tyBh, tyCab, tyLzh, tyZip, tyJar, tyTar, tyGzipTar}) {
            if (!TArc2Arc::CanWrite(t)) continue;
            const std::string ext = TArc2Arc::TargetExtension(t);
            SCOPED_TRACE(ext);
            const fs::path target = d / (fs::path(rel).parent_path().string() + "-" + fs::path(rel).stem().string() + ext);
            TArc2Arc c;
            auto r = Convert(c, src, target, t, d / "tmp");
            ASSERT_TRUE(r.ok) << ::testing::PrintToString(r.codes);
            ++converted;
            auto got = FilesBelow(ExtractAll(target, d / ("got-" + target.filename().string())));
            if (t == tyBh) {
                // BH marks no code page for its names: a reader decides it from the names themselves, which a
                // made-up name of letters from four scripts does not give away. The bytes must all be there.
                got = WithoutNonAsciiNames(got);
                EXPECT_EQ(got, WithoutNonAsciiNames(want));
            } else {
                EXPECT_EQ(got, want);
            }
            for (const Peer& p : PeersOf(t)) {
                if (!test::HaveTool(p.tool)) continue;
                std::string cmd = p.command;
                cmd.replace(cmd.find("{}"), 2, Quote(target));
                EXPECT_EQ(test::Run(cmd + " 2>&1"), 0) << cmd;
            }
            EXPECT_TRUE(fs::is_empty(d / "tmp"));
        }
    }
    EXPECT_GT(converted, 0);
}

}  // namespace
}  // namespace varnok
