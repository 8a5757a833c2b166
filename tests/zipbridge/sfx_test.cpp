// Self-extracting programs: the settings block, ZipToSfx and SfxToZip on the bridge, and the stub program run
// on what they make (peers read the result as a ZIP; the program extracts itself byte for byte, keeps every
// name inside its destination and refuses what it cannot check).
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "archive/core/bytes.h"
#include "archive/formats/zip/zip_writer.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"
#include "tests/support/writer_run.h"
#include "zipbridge/zip_bridge.h"

namespace varnok {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

struct Bridge {
    TZipBridge z;
    std::vector<std::string> messages;
    Bridge() {
        z.Unattended = true;
        z.HowToDelete = htdFinal;
        z.OnMessage = [this](TZipBridge&, int, const std::string& m) { messages.push_back(m); };
    }
    bool Said(const std::string& part) const {
        for (const auto& m : messages)
            if (m.find(part) != std::string::npos) return true;
        return false;
    }
};

fs::path WriteZipOfTree(const fs::path& root, const fs::path& zip, const std::string& password = {}) {
    TZip w;
    w.SyncBeforeReplace = false;
    auto o = test::RunWriter(w, zip, {"*"}, root, [&](TCompBase& c) { c.Password = password; });
    EXPECT_FALSE(o.failed);
    return zip;
}

std::vector<uint64_t> Offsets(const fs::path& archive) {
    TZipBridge z;
    z.Unattended = true;
    z.UseDirOnlyEntries = true;
    z.SetZipFileName(archive);
    std::vector<uint64_t> v;
    for (const auto& e : z.Entries())
        v.push_back(e.RelOffLocalHdr);
    return v;
}

// Runs a self-extractor with arguments; its exit status.
int RunSfx(const fs::path& program, const std::string& args, std::string* out = nullptr) {
    return test::Run(test::Quote(program) + " " + args + " </dev/null", out);
}

TEST(SfxBlock, LayoutLengthAndFlags) {
    SfxSettings s;
    std::vector<uint8_t> b = BuildSfxBlock(s);
    ASSERT_EQ(b.size(), 36u);  // 12 + 23, to a multiple of 4
    EXPECT_EQ(std::string(b.begin(), b.begin() + 3), "MPV");
    EXPECT_EQ(b[3], 0);  // SFXCheckSize and OvrConfirm
    EXPECT_EQ(b[4], 0);
    EXPECT_EQ(b[5], 1);
    EXPECT_EQ(Le16(&b[6]), 36);
    EXPECT_EQ(b[8], 23);

    s.Options = {SFXAskFiles, SFXNoSuccessMsg};
    s.OverWriteMode = OvrNever;
    s.DefaultDir = "out";
    s.CommandLine = "readme.txt";
    s.Message = "Hello";
    b = BuildSfxBlock(s);
    EXPECT_EQ(b[3], 0x02 | 0x10 | 0x20 | 0x80);
    SfxSettings back;
    ASSERT_TRUE(FindSfxBlock(b.data(), b.size(), back));
    EXPECT_EQ(back.Options, s.Options);
    EXPECT_EQ(back.OverWriteMode, OvrNever);
    EXPECT_EQ(back.DefaultDir, "out");
    EXPECT_EQ(back.CommandLine, "readme.txt");
    EXPECT_EQ(back.Message, "Hello");
}

TEST(SfxBlock, SearchNeverReadsPastItsBytes) {
    // A block whose caption length points beyond the bytes is no block, also at the very end.
    const uint8_t late[] = {'x', 'M', 'P', 'V', 0, 0, 1, 40, 0, 200, 'a', 'b'};
    SfxSettings s;
    EXPECT_FALSE(FindSfxBlock(late, sizeof late, s));
    const uint8_t tail[] = {'M', 'P'};
    EXPECT_FALSE(FindSfxBlock(tail, sizeof tail, s));
    // The older form: flags, three lengths, three texts.
    const uint8_t old[] = {'z', 'M', 'P', 'U', 0x08, 2, 1, 0, 'H', 'i', 'd'};
    ASSERT_TRUE(FindSfxBlock(old, sizeof old, s));
    EXPECT_EQ(s.Caption, "Hi");
    EXPECT_EQ(s.DefaultDir, "d");
    EXPECT_EQ(s.OverWriteMode, OvrAlways);
    EXPECT_TRUE(s.Message.empty());
}

class SfxRoundTrip : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Bridge().z.FindSfxStub().size()) GTEST_SKIP() << "varnok-sfx is not built beside the tests";
    }
};

TEST_F(SfxRoundTrip, OffsetsShiftedPeersReadItAndItExtractsItself) {
    TempDir d;
    const auto tree = test::MakeTree(d / "src");
    WriteZipOfTree(d / "src", d / "t.zip");
    const auto zipBytes = test::ReadFile(d / "t.zip");
    const auto before = Offsets(d / "t.zip");
    Bridge b;
    b.z.SFXCaption = "Test \x1b]0;title\x07 caption";
    b.z.SFXDefaultDir = "def";
    b.z.SFXMessage = "Thanks";
    b.z.SFXOverWriteMode = OvrAlways;
    b.z.SetZipFileName(d / "t.zip");
    ASSERT_EQ(b.z.ZipToSfx(), 0) << b.z.LastMessage();
    EXPECT_EQ(b.z.ZipFileName(), (d / "t.exe").string());
    EXPECT_FALSE(fs::exists(d / "t.zip"));
    EXPECT_TRUE(test::TempLeftovers(d.Path()).empty());
    struct stat st;
    ASSERT_EQ(stat((d / "t.exe").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    const uint64_t stub = fs::file_size(b.z.FindSfxStub());
    const auto after = Offsets(d / "t.exe");
    ASSERT_EQ(after.size(), before.size());
    const uint64_t block = 44;  // 12 + 23 + 3 + 6
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(after[i], before[i] + stub + block) << i;
    EXPECT_EQ(b.z.SFXOffset(), stub + block);

    std::string out;
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -t " + test::Quote(d / "t.exe"), &out), 0) << out;
        EXPECT_EQ(out.find("extra bytes"), std::string::npos) << out;
    }
    // 7-Zip looks for an archive only so far into a program: the stub of a sanitizer build is too large.
    if (test::HaveTool("7z") && stub < (8u << 20)) {
        EXPECT_EQ(test::Run("7z t " + test::Quote(d / "t.exe"), &out), 0) << out;
    }
    if (test::HaveTool("bsdtar")) {
        EXPECT_EQ(test::Run("bsdtar -tf " + test::Quote(d / "t.exe"), &out), 0) << out;
        EXPECT_NE(out.find("text/big.txt"), std::string::npos);
    }

    // It extracts itself into the folder named on its command line, and shows the caption made safe.
    ASSERT_EQ(RunSfx(d / "t.exe", "--yes --dir " + test::Quote(d / "out"), &out), 0) << out;
    test::ExpectTree(tree, d / "out");
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_NE(out.find("Thanks"), std::string::npos);
    struct stat rs;
    ASSERT_EQ(stat((d / "out/run.sh").c_str(), &rs), 0);
    EXPECT_TRUE(rs.st_mode & S_IXUSR);
    // Without a folder on the command line: the maker's default folder (relative to the current one).
    ASSERT_EQ(test::Run("cd " + test::Quote(d.Path()) + " && ./t.exe --yes </dev/null", &out), 0) << out;
    test::ExpectTree(tree, d / "def");
    // Testing writes nothing and passes.
    EXPECT_EQ(RunSfx(d / "t.exe", "--test --yes", &out), 0) << out;

    // And back: the very archive it was made of, with the settings taken over.
    Bridge back;
    back.z.SetZipFileName(d / "t.exe");
    ASSERT_EQ(back.z.SfxToZip(), 0) << back.z.LastMessage();
    EXPECT_EQ(back.z.ZipFileName(), (d / "t.zip").string());
    EXPECT_FALSE(fs::exists(d / "t.exe"));
    EXPECT_EQ(test::ReadFile(d / "t.zip"), zipBytes);
    EXPECT_EQ(back.z.SFXCaption, b.z.SFXCaption);
    EXPECT_EQ(back.z.SFXDefaultDir, "def");
    EXPECT_EQ(back.z.SFXMessage, "Thanks");
    EXPECT_EQ(back.z.SFXOverWriteMode, OvrAlways);
    EXPECT_EQ(back.z.SFXOptions, SFXOpts{SFXCheckSize});
}

TEST_F(SfxRoundTrip, OverwriteModesOfTheBlockAndTheCommandLine) {
    TempDir d;
    fs::create_directories(d / "src");
    test::WriteFile(d / "src/a.txt", "new contents");
    WriteZipOfTree(d / "src", d / "t.zip");
    Bridge b;
    b.z.SFXOverWriteMode = OvrNever;
    b.z.SetZipFileName(d / "t.zip");
    ASSERT_EQ(b.z.ZipToSfx(), 0);
    fs::create_directories(d / "out");
    test::WriteFile(d / "out/a.txt", "old");
    EXPECT_EQ(RunSfx(d / "t.exe", "--yes --dir " + test::Quote(d / "out")), 0);
    EXPECT_EQ(test::ReadText(d / "out/a.txt"), "old");
    // A link in the file's place is replaced, never written through.
    fs::remove(d / "out/a.txt");
    test::WriteFile(d / "victim", "keep");
    fs::create_symlink(d / "victim", d / "out/a.txt");
    EXPECT_EQ(RunSfx(d / "t.exe", "--yes --overwrite always --dir " + test::Quote(d / "out")), 0);
    EXPECT_EQ(test::ReadText(d / "victim"), "keep");
    EXPECT_FALSE(fs::is_symlink(d / "out/a.txt"));
    EXPECT_EQ(test::ReadText(d / "out/a.txt"), "new contents");
}

TEST_F(SfxRoundTrip, EncryptedEntriesNeedTheirPassword) {
    TempDir d;
    fs::create_directories(d / "src");
    const std::string secret = test::RandomBytes(20000, 3);
    test::WriteFile(d / "src/secret.bin", secret);
    WriteZipOfTree(d / "src", d / "t.zip", "pa55");
    Bridge b;
    b.z.SetZipFileName(d / "t.zip");
    ASSERT_EQ(b.z.ZipToSfx(), 0);
    std::string out;
    EXPECT_NE(RunSfx(d / "t.exe", "--yes --dir " + test::Quote(d / "none"), &out), 0);
    EXPECT_FALSE(fs::exists(d / "none/secret.bin")) << out;
    EXPECT_NE(RunSfx(d / "t.exe", "--yes --password wrong --dir " + test::Quote(d / "bad"), &out), 0);
    EXPECT_FALSE(fs::exists(d / "bad/secret.bin")) << out;
    ASSERT_EQ(RunSfx(d / "t.exe", "--yes --password pa55 --dir " + test::Quote(d / "good"), &out), 0) << out;
    EXPECT_EQ(test::ReadText(d / "good/secret.bin"), secret);
}

TEST_F(SfxRoundTrip, HostileNamesStayInsideTheDestination) {
    TempDir d;
    test::ZipItem link{"lnk", "/"};
    link.host = 3;
    link.externalAttr = 0120777u << 16;
    test::WriteFile(d / "h.zip", test::BuildZip({{"../escape.txt", "x"},
                                                  {"a/../../escape2.txt", "x"},
                                                  {"/abs/rooted.txt", "inside"},
                                                  link,
                                                  {"lnk/through.txt", "x"},
                                                  {"planted/pwn.txt", "x"},
                                                  {"\x1b[31mred.txt", "y"},
                                                  {"ok.txt", "fine"}}));
    Bridge b;
    b.z.SetZipFileName(d / "h.zip");
    ASSERT_EQ(b.z.ZipToSfx(), 0) << b.z.LastMessage();
    fs::create_directories(d / "dest");
    fs::create_directories(d / "elsewhere");
    fs::create_symlink(d / "elsewhere", d / "dest/planted");
    std::string out;
    EXPECT_EQ(RunSfx(d / "h.exe", "--yes --dir " + test::Quote(d / "dest") + " 2>&1", &out), 1);
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(d / "escape.txt"));
    EXPECT_FALSE(fs::exists(d.Path().parent_path() / "escape2.txt"));
    EXPECT_FALSE(fs::exists("/abs/rooted.txt"));
    EXPECT_EQ(test::ReadText(d / "dest/abs/rooted.txt"), "inside");
    EXPECT_FALSE(fs::exists(d / "elsewhere/pwn.txt"));
    EXPECT_FALSE(fs::is_symlink(d / "dest/lnk"));
    EXPECT_EQ(test::ReadText(d / "dest/ok.txt"), "fine");
    EXPECT_EQ(test::ReadText(d / "dest/\x1b[31mred.txt"), "y");
}

TEST_F(SfxRoundTrip, TruncatedProgramFailsCleanly) {
    TempDir d;
    fs::create_directories(d / "src");
    test::WriteFile(d / "src/big.bin", test::RandomBytes(300000, 9));
    WriteZipOfTree(d / "src", d / "t.zip");
    Bridge b;
    b.z.SetZipFileName(d / "t.zip");
    ASSERT_EQ(b.z.ZipToSfx(), 0);
    const auto whole = test::ReadFile(d / "t.exe");
    const uint64_t stub = b.z.SFXOffset();
    for (uint64_t cut : {stub - 10, stub + 5, stub + 150000, uint64_t(whole.size()) - 30}) {
        const fs::path p = d / ("cut" + std::to_string(cut));
        test::WriteFile(p, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut)));
        chmod(p.c_str(), 0755);
        std::string out;
        const int rc = RunSfx(p, "--yes --dir " + test::Quote(d / "o") + " 2>&1", &out);
        EXPECT_TRUE(rc == 1 || rc == 2) << cut << ": " << rc << " " << out;
        EXPECT_FALSE(fs::exists(d / "o/big.bin")) << cut;
    }
    // Data cut short behind an intact directory: the entry fails, nothing is left.
    auto damaged = whole;
    damaged[static_cast<size_t>(stub) + 2000] ^= 0x55;
    test::WriteFile(d / "dam", damaged);
    chmod((d / "dam").c_str(), 0755);
    EXPECT_EQ(RunSfx(d / "dam", "--yes --dir " + test::Quote(d / "o2") + " 2>/dev/null"), 1);
    EXPECT_FALSE(fs::exists(d / "o2/big.bin"));
}

TEST_F(SfxRoundTrip, RefusalsLeaveNothingBehind) {
    TempDir d;
    test::WriteFile(d / "a.zip", test::BuildZip({{"a.txt", "a"}}));
    const auto original = test::ReadFile(d / "a.zip");
    Bridge b;
    b.z.SetZipFileName(d / "a.zip");
    b.z.SFXCaption = std::string(256, 'c');
    EXPECT_EQ(b.z.ZipToSfx(), -9);
    EXPECT_EQ(b.z.ErrCode(), 10801);
    b.z.SFXCaption = "ok";
    // Our stub carries no icon: the icon option is refused with a message saying why.
    b.z.SFXIcon.assign(766, 0);
    EXPECT_EQ(b.z.ZipToSfx(), -10);
    EXPECT_TRUE(b.Said("Linux program")) << b.z.LastMessage();
    b.z.SFXIcon.clear();
    // A stub is never taken by a relative path, nor from the current folder.
    b.z.SFXPath = "varnok-sfx";
    EXPECT_EQ(b.z.ZipToSfx(), -9);
    EXPECT_EQ(b.z.ErrCode(), 10802);
    b.z.SFXPath.clear();
    // Not a ".zip".
    test::WriteFile(d / "a.bin", original);
    b.z.SetZipFileName(d / "a.bin");
    EXPECT_EQ(b.z.ZipToSfx(), -9);
    EXPECT_EQ(b.z.ErrCode(), 10803);
    // An output that cannot be made (a folder in its place) leaves the archive as it was.
    fs::create_directories(d / "a.exe/x");
    b.z.SetZipFileName(d / "a.zip");
    EXPECT_LT(b.z.ZipToSfx(), 0);
    EXPECT_EQ(test::ReadFile(d / "a.zip"), original);
    EXPECT_TRUE(test::TempLeftovers(d.Path()).empty());
    // SfxToZip on a program without an archive behind it.
    test::WriteFile(d / "plain.exe", std::string(4000, 'p'));
    b.z.SetZipFileName(d / "plain.exe");
    EXPECT_EQ(b.z.SfxToZip(), -9);
    EXPECT_FALSE(fs::exists(d / "plain.zip"));
    // SfxToZip on a plain archive.
    b.z.SetZipFileName(d / "a.zip");
    EXPECT_EQ(b.z.SfxToZip(), -3);
    EXPECT_EQ(b.z.ErrCode(), 10902);
}

TEST_F(SfxRoundTrip, StubOnlyModeMakesAnEmptySelfExtractor) {
    TempDir d;
    Bridge b;
    b.z.SetZipFileName(d / "new.exe");
    ASSERT_EQ(b.z.ZipToSfx(true), 0) << b.z.LastMessage();
    EXPECT_EQ(b.z.Count(), 0);
    const uint64_t stub = fs::file_size(b.z.FindSfxStub());
    const auto bytes = test::ReadFile(d / "new.exe");
    ASSERT_EQ(bytes.size(), stub + 36 + 22);
    EXPECT_EQ(Le32(&bytes[bytes.size() - 22]), 0x06054B50u);
    EXPECT_EQ(Le32(&bytes[bytes.size() - 6]), stub + 36);
    if (test::HaveTool("unzip")) {
        std::string out;
        test::Run("unzip -l " + test::Quote(d / "new.exe"), &out);
        EXPECT_EQ(out.find("extra bytes"), std::string::npos) << out;
    }
}

// SfxToZip on self-extractors made by other programs: the ZIP behind the stub comes out as a plain archive
// that peers read without correcting offsets.
TEST(SfxToZipFixtures, OtherProgramsSelfExtractors) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures absent";
    if (!test::HaveTool("unzip")) GTEST_SKIP() << "unzip missing";
    int done = 0;
    for (const char* rel : {"zip/generated_infozip_sfx", "zip/libarchive_zip_sfx_stub.bin"}) {
        const fs::path src = test::Fixture(rel);
        if (src.empty()) continue;
        TempDir d;
        fs::copy_file(src, d / "x.exe");
        std::string listing;
        test::Run("unzip -Z1 " + test::Quote(src), &listing);
        Bridge b;
        b.z.SetZipFileName(d / "x.exe");
        ASSERT_EQ(b.z.SfxToZip(), 0) << rel << ": " << b.z.LastMessage();
        std::string out;
        EXPECT_EQ(test::Run("unzip -t " + test::Quote(d / "x.zip"), &out), 0) << rel << out;
        EXPECT_EQ(out.find("extra bytes"), std::string::npos) << rel << out;
        std::string after;
        test::Run("unzip -Z1 " + test::Quote(d / "x.zip"), &after);
        EXPECT_EQ(after, listing) << rel;
        const auto z = test::ReadFile(d / "x.zip");
        EXPECT_EQ(Le32(z.data()), 0x04034B50u) << rel;
        ++done;
    }
    if (done == 0) GTEST_SKIP() << "no self-extracting ZIP fixtures";
}

// A minimal Windows program with one 744-byte icon image, as a Windows stub given through SFXPath.
std::vector<uint8_t> WindowsStub(bool withIcon) {
    std::vector<uint8_t> b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    PutLe32(&b[60], 0x80);
    std::memcpy(&b[0x80], "PE\0\0", 4);
    PutLe16(&b[0x80 + 4], 0x14C);
    PutLe16(&b[0x80 + 6], 1);      // one section
    PutLe16(&b[0x80 + 20], 224);   // optional header size (PE32)
    const size_t opt = 0x80 + 24;
    PutLe16(&b[opt], 0x10B);
    PutLe32(&b[opt + 92], 16);
    PutLe32(&b[opt + 96 + 16], 0x1000);  // resources at 0x1000
    PutLe32(&b[opt + 96 + 20], 0x400);
    const size_t sec = opt + 224;
    std::memcpy(&b[sec], ".rsrc\0\0\0", 8);
    PutLe32(&b[sec + 8], 0x400);
    PutLe32(&b[sec + 12], 0x1000);
    PutLe32(&b[sec + 16], 0x400);
    PutLe32(&b[sec + 20], 0x200);
    // Resource tree at file 0x200: type 3 -> id 1 -> language 0x409 -> data entry (744 bytes at 0x1080).
    const size_t r = 0x200;
    auto dir = [&](size_t at, uint32_t id, uint32_t to) {
        PutLe16(&b[at + 14], 1);
        PutLe32(&b[at + 16], id);
        PutLe32(&b[at + 20], to);
    };
    dir(r, withIcon ? 3 : 14, 0x80000000u | 0x18);
    dir(r + 0x18, 1, 0x80000000u | 0x30);
    dir(r + 0x30, 0x409, 0x48);
    PutLe32(&b[r + 0x48], 0x1080);
    PutLe32(&b[r + 0x4C], 744);
    b.resize(0x200 + 0x80 + 744, 0);
    PutLe32(&b[0x280], 40);
    PutLe32(&b[0x284], 32);
    PutLe32(&b[0x288], 64);
    PutLe16(&b[0x28E], 4);
    return b;
}

TEST(SfxWindowsStub, IconReplacedAndItsFailures) {
    TempDir d;
    test::WriteFile(d / "win.bin", WindowsStub(true));
    test::WriteFile(d / "noicon.bin", WindowsStub(false));
    test::WriteFile(d / "a.zip", test::BuildZip({{"a.txt", "a"}}));
    const auto original = test::ReadFile(d / "a.zip");
    std::vector<uint8_t> icon = {0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 1, 0, 4, 0};
    AppendLe32(icon, 744);
    AppendLe32(icon, 22);
    // The image: its bitmap header (32x32, 4 bits), then pixels.
    AppendLe32(icon, 40);
    AppendLe32(icon, 32);
    AppendLe32(icon, 64);
    AppendLe16(icon, 1);
    AppendLe16(icon, 4);
    for (int i = 16; i < 744; ++i)
        icon.push_back(static_cast<uint8_t>(i * 7));
    Bridge b;
    b.z.KeepConvertSource = true;
    b.z.SetZipFileName(d / "a.zip");
    b.z.SFXPath = (d / "noicon.bin").string();
    b.z.SFXIcon = icon;
    EXPECT_EQ(b.z.ZipToSfx(), -10);
    b.z.SFXPath = (d / "win.bin").string();
    b.z.SFXIcon.resize(700);
    EXPECT_EQ(b.z.ZipToSfx(), -12);
    EXPECT_FALSE(fs::exists(d / "a.exe"));
    EXPECT_EQ(test::ReadFile(d / "a.zip"), original);
    b.z.SFXIcon = icon;
    ASSERT_EQ(b.z.ZipToSfx(), 0) << b.z.LastMessage();
    const auto exe = test::ReadFile(d / "a.exe");
    ASSERT_GT(exe.size(), 0x280u + 744);
    EXPECT_TRUE(std::equal(icon.begin() + 22, icon.end(), exe.begin() + 0x280));
    EXPECT_TRUE(fs::exists(d / "a.zip"));  // kept on request
    // And back: the icon is taken over, the archive is the one it was made of.
    Bridge back;
    back.z.SetZipFileName(d / "a.exe");
    back.z.ConvertTarget = (d / "b.zip").string();
    ASSERT_EQ(back.z.SfxToZip(), 0);
    EXPECT_EQ(back.z.SFXIcon, icon);
    EXPECT_EQ(test::ReadFile(d / "b.zip"), original);
}

}  // namespace
}  // namespace varnok
