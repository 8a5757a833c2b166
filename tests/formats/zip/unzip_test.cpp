#include "archive/formats/zip/unzip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "archive/core/bytes.h"
#include "archive/core/lister.h"
#include "archive/extractors.h"
#include "platform/fileattr.h"
#include "tests/support/builders.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

struct Extraction {
    std::unique_ptr<TUnBase> x;
    std::vector<int> errors;
    std::map<std::string, bool> ends;
    int passwordAsks = 0;
    int result = -1;

    explicit Extraction(const fs::path& archive) {
        TArcLister probe;
        probe.SetArchiveFile(archive);
        x = CreateExtractor(probe.ArcType());
        if (!x) return;
        x->SetArchiveFile(archive);
        x->FileSpec = {"*.*"};
        x->OnError = [this](TZipCommon&, const std::string&, const std::string&, const std::string&,
                            int code) { errors.push_back(code); };
        x->OnEnd = [this](TZipCommon&, const std::string& n, bool pass) { ends[n] = pass; };
    }
    int Extract(const fs::path& dir) {
        x->ExtractDir = dir.string();
        return result = x->ExtractArchive();
    }
    bool Has(int code) const { return std::find(errors.begin(), errors.end(), code) != errors.end(); }
};

std::string Data(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        s[i] = (i % 3 == 0) ? static_cast<char>(x >> 24) : "abcdefgh \n"[(x >> 16) % 10];
    }
    return s;
}

// A tree of files to archive with peer tools.
std::map<std::string, std::string> MakeTree(const fs::path& dir) {
    std::map<std::string, std::string> files = {
        {"empty.txt", ""},
        {"small.txt", "hello, world\n"},
        {"docs/text.txt", Data(70000, 1)},
        {"docs/deep/random.bin", Data(200000, 2)},
        {"docs/deep/runs.bin", std::string(300000, 'z')},
    };
    for (const auto& [n, d] : files)
        test::WriteFile(dir / n, d);
    return files;
}

void ExpectTree(const fs::path& dir, const std::map<std::string, std::string>& files) {
    for (const auto& [n, d] : files) {
        ASSERT_TRUE(fs::exists(dir / n)) << n;
        EXPECT_EQ(test::ReadText(dir / n), d) << n;
    }
}

TEST(UnZip, InfoZipLevelsAndTraditionalEncryption) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    auto files = MakeTree(d / "src");
    for (int level : {0, 1, 6, 9}) {
        std::string z = (d / ("l" + std::to_string(level) + ".zip")).string();
        ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -r -" + std::to_string(level) + " " +
                            Quote(z) + " ."),
                  0);
        Extraction r(z);
        ASSERT_TRUE(r.x);
        auto out = d / ("out" + std::to_string(level));
        EXPECT_EQ(r.Extract(out), 5) << level;
        EXPECT_TRUE(r.errors.empty()) << level;
        ExpectTree(out, files);
    }
    std::string enc = (d / "enc.zip").string();
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -r -e -P 's3cr3t' " + Quote(enc) + " ."), 0);
    {
        Extraction r(enc);
        r.x->Password = "s3cr3t";
        r.x->Passwords = {"s3cr3t"};
        EXPECT_EQ(r.Extract(d / "dec"), 5);
        ExpectTree(d / "dec", files);
    }
    {
        // The right password third in the list: no question asked.
        Extraction r(enc);
        r.x->Passwords = {"one", "two", "s3cr3t"};
        r.x->OnGetPassword = [&](TZipCommon&, const std::string&, std::string&, bool&) { ++r.passwordAsks; };
        r.Extract(d / "list");
        EXPECT_EQ(r.passwordAsks, 0);
        ExpectTree(d / "list", files);
    }
    {
        // A wrong password: nothing written, the entries fail, and after the first failure no more questions.
        Extraction r(enc);
        r.x->OnGetPassword = [&](TZipCommon&, const std::string&, std::string& p, bool&) {
            ++r.passwordAsks;
            p = "nope";
        };
        r.x->PasswordAttempts = 2;
        r.Extract(d / "wrong");
        // zip draws the encryption headers at random: once in a few hundred archives a wrong password passes
        // an entry's one-byte check, and that entry then fails its CRC instead (and the question comes
        // again).
        const bool chancePass = r.Has(E_CrcCheck);
        if (!chancePass) {
            EXPECT_EQ(r.passwordAsks, 2);
        }
        EXPECT_TRUE(r.Has(E_InvalidPassword));
        EXPECT_FALSE(fs::exists(d / "wrong" / "small.txt"));
        EXPECT_FALSE(fs::exists(d / "wrong" / "docs" / "text.txt"));
        int failed = 0;
        for (const auto& [n, pass] : r.ends)
            failed += !pass;
        EXPECT_GE(failed, 4);  // the empty file needs no data; the others fail
        // One report per wrong attempt, then one per entry left out.
        if (!chancePass) {
            EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), E_InvalidPassword), 2 + failed);
        }
    }
}

TEST(UnZip, AWrongPasswordThatPassesTheCheckByteIsNotTaken) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    std::string text = Data(5000, 3);
    test::WriteFile(d / "src" / "t.txt", text);
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -e -P right " + Quote(d / "e.zip") + " t.txt"),
              0);
    // Find a wrong password whose header check passes (one in 256 do).
    platform::File f;
    ASSERT_TRUE(f.Open((d / "e.zip").string(), platform::File::Mode::Read));
    zip::LocalHeader h;
    ASSERT_TRUE(zip::ReadLocalHeader(f, 0, h));
    uint8_t header[12];
    ASSERT_EQ(f.ReadAt(h.headerSize(), header, 12), 12u);
    std::string impostor;
    for (int i = 0; i < 100000 && impostor.empty(); ++i) {
        ZipCipher probe;
        std::string p = "w" + std::to_string(i);
        if (probe.CheckCryptHeader(header, p, h.flags, h.dosTime, h.crc)) impostor = p;
    }
    ASSERT_FALSE(impostor.empty());
    Extraction r(d / "e.zip");
    r.x->Passwords = {impostor, "right"};
    EXPECT_EQ(r.Extract(d / "out"), 1);
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(test::ReadText(d / "out" / "t.txt"), text);
    // With only the impostor the data fail their CRC, and the garbage is not left on disk.
    Extraction alone(d / "e.zip");
    alone.x->Passwords = {impostor};
    alone.Extract(d / "alone");
    EXPECT_FALSE(alone.ends[(d / "alone" / "t.txt").string()]);
    EXPECT_FALSE(fs::exists(d / "alone" / "t.txt"));
}

TEST(UnZip, SplitSetOfFiles) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    auto files = MakeTree(d / "src");
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -r -0 -s 100k " + Quote(d / "set.zip") + " ."),
              0);
    ASSERT_TRUE(fs::exists(d / "set.z01"));
    Extraction r(d / "set.zip");
    ASSERT_TRUE(r.x);
    EXPECT_EQ(r.Extract(d / "out"), 5);
    EXPECT_TRUE(r.errors.empty());
    ExpectTree(d / "out", files);
    fs::remove(d / "set.z02");
    Extraction missing(d / "set.zip");
    missing.Extract(d / "out2");
    EXPECT_FALSE(missing.errors.empty());
}

TEST(UnZip, OtherWriters) {
    TempDir d;
    auto files = MakeTree(d / "src");
    if (test::HaveTool("python3")) {
        std::string py =
            "import zipfile,os\n"
            "os.chdir('" +
            (d / "src").string() +
            "')\n"
            "for m,n in ((zipfile.ZIP_STORED,'s'),(zipfile.ZIP_DEFLATED,'d')):\n"
            "  z=zipfile.ZipFile('../py'+n+'.zip','w',m)\n"
            "  for r,_,fs in os.walk('.'):\n"
            "    for f in fs: z.write(os.path.join(r,f))\n"
            "  z.close()\n";
        test::WriteFile(d / "mk.py", py);
        ASSERT_EQ(test::Run("python3 " + Quote(d / "mk.py")), 0);
        for (const char* n : {"pys.zip", "pyd.zip"}) {
            Extraction r(d / n);
            EXPECT_EQ(r.Extract(d / (std::string(n) + ".out")), 5);
            ExpectTree(d / (std::string(n) + ".out"), files);
        }
    }
    if (test::HaveTool("7z")) {
        for (std::string m : {"Deflate", "Deflate64", "Copy"}) {
            auto z = d / ("7z-" + m + ".zip");
            ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && 7z a -tzip -mm=" + m + " " + Quote(z) +
                                " . >/dev/null"),
                      0);
            Extraction r(z);
            EXPECT_EQ(r.Extract(d / ("7z-" + m)), 5) << m;
            EXPECT_TRUE(r.errors.empty()) << m;
            ExpectTree(d / ("7z-" + m), files);
        }
    }
}

TEST(UnZip, WinZipAesFromSevenZip) {
    VARNOK_REQUIRE_TOOL("7z");
    TempDir d;
    auto files = MakeTree(d / "src");
    fs::create_symlink("docs/text.txt", d / "src" / "link");  // stored as a link whose target is encrypted
    for (std::string strength : {"AES128", "AES256"}) {
        auto z = d / (strength + ".zip");
        ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && 7z a -tzip -mem=" + strength + " -p'pa ss' " +
                            Quote(z) + " . >/dev/null"),
                  0);
        Extraction r(z);
        r.x->Passwords = {"pa ss"};
        EXPECT_EQ(r.Extract(d / strength), 6) << strength;
        EXPECT_TRUE(r.errors.empty()) << strength;
        ExpectTree(d / strength, files);
        ASSERT_TRUE(fs::is_symlink(d / strength / "link")) << strength;
        EXPECT_EQ(fs::read_symlink(d / strength / "link"), "docs/text.txt");
        Extraction wrong(z);
        wrong.x->Passwords = {"pass"};
        wrong.Extract(d / (strength + "-wrong"));
        EXPECT_TRUE(wrong.Has(E_InvalidPassword));
        EXPECT_FALSE(fs::exists(d / (strength + "-wrong") / "small.txt"));
    }
    // A flipped byte of the encrypted data fails the authentication code.
    auto bytes = test::ReadFile(d / "AES256.zip");
    platform::File f;
    ASSERT_TRUE(f.Open((d / "AES256.zip").string(), platform::File::Mode::Read));
    zip::LocalHeader h;
    uint64_t pos = 0;
    while (zip::ReadLocalHeader(f, pos, h) && h.name != "docs/text.txt")
        pos += h.headerSize() + h.packedSize;
    ASSERT_EQ(h.name, "docs/text.txt");
    bytes[pos + h.headerSize() + 16 + 2 + 100] ^= 0x20;
    test::WriteFile(d / "bad.zip", bytes);
    Extraction bad(d / "bad.zip");
    bad.x->Passwords = {"pa ss"};
    bad.Extract(d / "bad");
    EXPECT_FALSE(bad.ends[(d / "bad" / "docs" / "text.txt").string()]);
    EXPECT_TRUE(bad.ends[(d / "bad" / "small.txt").string()]);
}

TEST(UnZip, NothingLandsOutsideTheDestination) {
    TempDir d;
    test::ZipItem link{"link", "../../outside"};
    link.host = 3;
    link.externalAttr = 0120777u << 16;
    test::WriteFile(d / "evil.zip", test::BuildZip({{"../escape.txt", "x"},
                                                    {"/abs/escape.txt", "absolute"},
                                                    {"a/../../up.txt", "y"},
                                                    {"C:\\drive.txt", "drive"},
                                                    link,
                                                    {"link/through.txt", "via link"},
                                                    {"good/ok.txt", "fine"}}));
    auto out = d / "dest" / "out";
    fs::create_directories(out);
    Extraction r(d / "evil.zip");
    r.Extract(out);
    // The safe names are kept below the destination; the others are refused with a reason.
    EXPECT_EQ(test::ReadText(out / "good" / "ok.txt"), "fine");
    EXPECT_EQ(test::ReadText(out / "abs" / "escape.txt"), "absolute");
    EXPECT_EQ(test::ReadText(out / "drive.txt"), "drive");
    EXPECT_TRUE(fs::is_symlink(out / "link"));
    EXPECT_FALSE(fs::exists(d / "dest" / "escape.txt"));
    EXPECT_FALSE(fs::exists(d / "escape.txt"));
    EXPECT_FALSE(fs::exists(d / "up.txt"));
    EXPECT_FALSE(fs::exists(d / "outside"));
    EXPECT_TRUE(r.Has(E_InvalidFileName));
    EXPECT_TRUE(r.Has(E_OpenFile));  // the path through the link
    int entries = 0;
    for (const auto& e : fs::recursive_directory_iterator(d.Path()))
        entries += e.path().string().find("/dest/") == std::string::npos;
    EXPECT_EQ(entries, 2);  // only evil.zip and the folder dest
}

TEST(UnZip, DamageStaysWithItsEntry) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    test::WriteFile(d / "src" / "a.txt", Data(50000, 7));
    test::WriteFile(d / "src" / "b.txt", Data(50000, 8));
    test::WriteFile(d / "src" / "c.txt", Data(50000, 9));
    ASSERT_EQ(
        test::Run("cd " + Quote(d / "src") + " && zip -q -9 " + Quote(d / "x.zip") + " a.txt b.txt c.txt"),
        0);
    auto bytes = test::ReadFile(d / "x.zip");
    // Flip a byte in the middle of b.txt's compressed data.
    zip::LocalHeader h;
    platform::File f;
    ASSERT_TRUE(f.Open((d / "x.zip").string(), platform::File::Mode::Read));
    uint64_t pos = 0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(zip::ReadLocalHeader(f, pos, h));
        if (i == 0) pos += h.headerSize() + h.packedSize;
    }
    bytes[pos + h.headerSize() + h.packedSize / 2] ^= 0x55;
    test::WriteFile(d / "bad.zip", bytes);
    Extraction r(d / "bad.zip");
    r.Extract(d / "out");
    EXPECT_EQ(test::ReadText(d / "out" / "a.txt"), Data(50000, 7));
    EXPECT_EQ(test::ReadText(d / "out" / "c.txt"), Data(50000, 9));
    EXPECT_TRUE(r.ends[(d / "out" / "a.txt").string()]);
    EXPECT_FALSE(r.ends[(d / "out" / "b.txt").string()]);
    EXPECT_TRUE(r.ends[(d / "out" / "c.txt").string()]);
    EXPECT_EQ(r.x->FailedEntries(), 1);
}

// An entry of a method this program does not decode is refused by name, leaves nothing behind, and does not
// stop the others.
TEST(UnZip, AMethodNotDecodedLeavesNothing) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    test::WriteFile(d / "src" / "sub" / "b.txt", Data(20000, 3));
    test::WriteFile(d / "src" / "d.txt", Data(20000, 4));
    const std::string cd = "cd " + Quote(d / "src") + " && ";
    if (test::Run(cd + "zip -q -Z bzip2 " + Quote(d / "x.zip") + " sub/b.txt 2>/dev/null") != 0)
        GTEST_SKIP() << "zip without bzip2";
    ASSERT_EQ(test::Run(cd + "zip -q " + Quote(d / "x.zip") + " d.txt"), 0);
    Extraction r(d / "x.zip");
    std::string detail;
    r.x->OnError = [&](TZipCommon&, const std::string&, const std::string& text, const std::string&,
                       int code) {
        r.errors.push_back(code);
        detail = text;
    };
    EXPECT_EQ(r.Extract(d / "out"), 1);
    EXPECT_TRUE(r.Has(E_UnsupportedMethod));
    EXPECT_NE(detail.find("bzip2"), std::string::npos) << detail;
    EXPECT_FALSE(fs::exists(d / "out" / "sub"));
    EXPECT_EQ(test::ReadText(d / "out" / "d.txt"), Data(20000, 4));
}

TEST(UnZip, OverwriteDecisions) {
    TempDir d;
    test::WriteFile(d / "x.zip",
                    test::BuildZip({{"one.txt", "new one"}, {"two.txt", "new two"}, {"three.txt", "3"}}));
    auto out = d / "out";
    test::WriteFile(out / "one.txt", std::string("old one"));
    test::WriteFile(out / "taken.txt", std::string("taken"));
    {
        // No one to ask: only the existing file is kept; the others are extracted.
        Extraction r(d / "x.zip");
        EXPECT_EQ(r.Extract(out), 2);
        EXPECT_EQ(test::ReadText(out / "one.txt"), "old one");
        EXPECT_EQ(test::ReadText(out / "two.txt"), "new two");
        EXPECT_TRUE(r.Has(E_EventNotAssigned));
    }
    {
        // A new name that exists too is asked about again.
        Extraction r(d / "x.zip");
        std::vector<std::string> asked;
        r.x->FileSpec = {"one.txt"};
        r.x->OnFileExists = [&](TZipCommon&, const std::string& f, std::string& nn, TOverwriteMode& m) {
            asked.push_back(fs::path(f).filename().string());
            nn = asked.size() == 1 ? (out / "taken.txt").string() : (out / "fresh.txt").string();
            m = omOverwrite;
        };
        EXPECT_EQ(r.Extract(out), 1);
        EXPECT_EQ(asked, (std::vector<std::string>{"one.txt", "taken.txt"}));
        EXPECT_EQ(test::ReadText(out / "fresh.txt"), "new one");
        EXPECT_EQ(test::ReadText(out / "taken.txt"), "taken");
    }
    {
        // Overwriting without questions replaces even a read-only file.
        platform::ApplyDosAttributes((out / "one.txt").string(), platform::faReadOnly);
        Extraction r(d / "x.zip");
        r.x->ConfirmOverwrites = false;
        EXPECT_EQ(r.Extract(out), 3);
        EXPECT_EQ(test::ReadText(out / "one.txt"), "new one");
    }
}

TEST(UnZip, NamingSelectionAndTest) {
    TempDir d;
    test::ZipItem jarDir{"META-INF/", ""};
    jarDir.externalAttr = 0x20;  // a JAR's folder entries may claim to be files
    test::WriteFile(
        d / "x.jar",
        test::BuildZip(
            {jarDir, {"docs/a.txt", "A"}, {"docs/sub/b.txt", "B"}, {"readme.txt", "R"}, {"zero", ""}}));
    {
        Extraction r(d / "x.jar");
        r.x->FileSpec = {"docs/*.txt"};
        r.x->RecurseDirs = true;
        EXPECT_EQ(r.Extract(d / "rec"), 2);
        EXPECT_TRUE(fs::exists(d / "rec" / "docs" / "sub" / "b.txt"));
        EXPECT_FALSE(fs::exists(d / "rec" / "readme.txt"));
    }
    {
        Extraction r(d / "x.jar");
        r.x->FileSpec = {"docs/*.txt"};
        r.x->RecurseDirs = false;
        EXPECT_EQ(r.Extract(d / "flat"), 1);
        EXPECT_FALSE(fs::exists(d / "flat" / "docs" / "sub" / "b.txt"));
    }
    {
        Extraction r(d / "x.jar");
        r.x->UseStoredDirs = false;
        r.x->CreateStoredDirs = true;
        EXPECT_EQ(r.Extract(d / "nodirs"), 4);
        EXPECT_EQ(test::ReadText(d / "nodirs" / "b.txt"), "B");
        EXPECT_TRUE(fs::exists(d / "nodirs" / "zero"));
        EXPECT_EQ(fs::file_size(d / "nodirs" / "zero"), 0u);
    }
    {
        Extraction r(d / "x.jar");
        r.x->CreateStoredDirs = true;
        r.Extract(d / "dirs");
        EXPECT_TRUE(fs::is_directory(d / "dirs" / "META-INF"));
    }
    {
        Extraction r(d / "x.jar");
        EXPECT_EQ(r.x->TestArchive(), 4);
        EXPECT_EQ(r.ends.size(), 4u);
        for (const auto& [n, pass] : r.ends)
            EXPECT_TRUE(pass) << n;
    }
    {
        // A folder entry for the top itself, as tar-style writers store it, is no error.
        test::ZipItem top{"./", ""};
        top.externalAttr = 0x10;
        test::ZipItem dots{"../", ""};
        dots.externalAttr = 0x10;
        test::WriteFile(d / "top.zip", test::BuildZip({top, {"./a.txt", "A"}}));
        Extraction r(d / "top.zip");
        EXPECT_EQ(r.Extract(d / "top"), 1);
        EXPECT_TRUE(r.errors.empty());
        EXPECT_EQ(test::ReadText(d / "top" / "a.txt"), "A");
        test::WriteFile(d / "up.zip", test::BuildZip({dots, {"./a.txt", "A"}}));
        Extraction u(d / "up.zip");
        u.Extract(d / "up");
        EXPECT_TRUE(u.Has(E_InvalidFileName));
    }
    EXPECT_EQ(SafeRelativeName("a/./b//c"), "a/b/c");
    EXPECT_EQ(SafeRelativeName("\\x\\y"), "x/y");
    EXPECT_EQ(SafeRelativeName("D:\\x\\a.txt"), "x/a.txt");
    EXPECT_EQ(SafeRelativeName("a/../b"), "");
    EXPECT_EQ(SafeRelativeName("///"), "");
}

TEST(UnZip, DatesAndModes) {
    VARNOK_REQUIRE_TOOL("zip");
    TempDir d;
    test::WriteFile(d / "src" / "run.sh", std::string("#!/bin/sh\n"));
    chmod((d / "src" / "run.sh").c_str(), 0751);
    platform::SetFileTime((d / "src" / "run.sh").string(), 1500000000);
    ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q " + Quote(d / "m.zip") + " run.sh"), 0);
    Extraction r(d / "m.zip");
    r.Extract(d / "out");
    struct stat st;
    ASSERT_EQ(stat((d / "out" / "run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0751u);
    EXPECT_EQ(st.st_mtime, 1500000000);
}

// Zero runs come out exact whether they end a file, sit between data or straddle the decoder's buffers; a
// long run takes no disk space where the file system keeps holes.
TEST(UnZip, ZeroRuns) {
    TempDir d;
    const std::string tail = Data(5000, 3) + std::string(3u << 20, '\0');
    const std::map<std::string, std::string> files = {
        {"zeros.bin", std::string(4u << 20, '\0')},
        {"tail.bin", tail},
        {"middle.bin",
         Data(4097, 4) + std::string(100000, '\0') + Data(33, 5) + std::string(8191, '\0') + "x"},
        {"short.bin", std::string(4095, '\0')},
    };
    std::vector<test::ZipItem> items;
    for (const auto& [n, data] : files)
        items.push_back({n, data});
    test::WriteFile(d / "stored.zip", test::BuildZip(items));
    std::vector<fs::path> archives = {d / "stored.zip"};
    if (test::HaveTool("zip")) {
        for (const auto& [n, data] : files)
            test::WriteFile(d / "src" / n, data);
        ASSERT_EQ(test::Run("cd " + Quote(d / "src") + " && zip -q -9 " + Quote(d / "deflated.zip") + " *"),
                  0);
        archives.push_back(d / "deflated.zip");
    }
    // Whether this file system keeps holes at all.
    const fs::path probe = d / "probe";
    {
        test::WriteFile(probe, std::string());
        std::filesystem::resize_file(probe, 8u << 20);
    }
    struct stat st;
    ASSERT_EQ(stat(probe.c_str(), &st), 0);
    const bool holes = st.st_blocks * 512 < (1 << 20);
    for (const auto& a : archives) {
        Extraction r(a);
        const fs::path out = d / ("out-" + a.stem().string());
        EXPECT_EQ(r.Extract(out), static_cast<int>(files.size())) << a;
        EXPECT_TRUE(r.errors.empty()) << a;
        ExpectTree(out, files);
        ASSERT_EQ(stat((out / "zeros.bin").c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 4 << 20);
        if (holes) {
            EXPECT_LT(st.st_blocks * 512, 1 << 20) << a;
        }
    }
}

// Every ZIP fixture extracts the content the peer tools extracted.
TEST(UnZip, FixturesMatchPeers) {
    auto root = test::FixturesDir();
    if (root.empty()) GTEST_SKIP() << "fixtures not available";
    int archives = 0, files = 0;
    TempDir d;
    for (const std::string& path : test::FixturesOfFormat("zip")) {
        const auto& entries = test::ExpectedOf(path);
        if (!test::ExtractedWhole(entries)) continue;
        Extraction r(root / path);
        ASSERT_TRUE(r.x) << path;
        if (std::string pw = test::PasswordOf(entries); !pw.empty()) r.x->Passwords = {pw};
        auto out = d / std::to_string(archives);
        r.Extract(out);
        files += test::ExpectFilesAsPeers(out, entries);
        ++archives;
    }
    EXPECT_GT(archives, 25);
    printf("%d archives, %d files compared\n", archives, files);
}

}  // namespace
}  // namespace varnok
