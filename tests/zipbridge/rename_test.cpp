// Renaming entries in place: only the entries a record names (a file by its whole name, a folder by whole
// components), everything else kept byte for byte, peers read the result, and a refused, failed or cancelled
// rename leaves the archive exactly as it was.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

#include "archive/core/bytes.h"
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
        z.UseDirOnlyEntries = true;
        z.OnMessage = [this](TZipBridge&, int, const std::string& m) { messages.push_back(m); };
    }
    std::set<std::string> Names() const {
        std::set<std::string> s;
        for (const auto& e : z.Entries())
            s.insert(e.FileName);
        return s;
    }
};

std::vector<uint8_t> Sample() {
    test::ZipItem docs{"docs/", ""};
    docs.externalAttr = 0x10;
    test::ZipItem a{"a.txt", "file a"};
    a.comment = "comment of a";
    return test::BuildZip({a,
                           {"data.txt", "data"},
                           {"sub/a.txt", "sub a"},
                           docs,
                           {"docs/a.txt", "docs a"},
                           {"docs/sub/b.txt", "docs b"},
                           {"docsx/a.txt", "docsx a"}},
                          {"the archive comment"});
}

void ExpectPeersPass(const fs::path& zip) {
    std::string out;
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -t " + test::Quote(zip), &out), 0) << out;
    }
    if (test::HaveTool("7z")) {
        EXPECT_EQ(test::Run("7z t " + test::Quote(zip), &out), 0) << out;
    }
}

std::string PeerRead(const fs::path& zip, const std::string& name) {
    std::string out;
    test::Run("unzip -p " + test::Quote(zip) + " " + test::Quote(name), &out);
    return out;
}

TEST(ZipRename, AFileRenamesOnlyOnItsWholeName) {
    TempDir d;
    test::WriteFile(d / "t.zip", Sample());
    Bridge b;
    b.z.SetZipFileName(d / "t.zip");
    ASSERT_EQ(b.z.Rename({{"a.txt", "b.txt"}}), 0) << b.z.LastMessage();
    EXPECT_EQ(b.Names(), (std::set<std::string>{"b.txt", "data.txt", "sub/a.txt", "docs/", "docs/a.txt",
                                                "docs/sub/b.txt", "docsx/a.txt"}));
    EXPECT_EQ(b.z.Entry(0).FileComment, "comment of a");
    EXPECT_EQ(b.z.ZipComment(), "the archive comment");
    ExpectPeersPass(d / "t.zip");
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(PeerRead(d / "t.zip", "b.txt"), "file a");
        EXPECT_EQ(PeerRead(d / "t.zip", "sub/a.txt"), "sub a");
    }
}

TEST(ZipRename, AFolderRenamesByWholeComponents) {
    TempDir d;
    test::WriteFile(d / "t.zip", Sample());
    Bridge b;
    b.z.SetZipFileName(d / "t.zip");
    // The new name is reduced to its folder part: misc/x gives misc/.
    ASSERT_EQ(b.z.Rename({{"docs\\", "misc\\x"}}), 0) << b.z.LastMessage();
    EXPECT_EQ(b.Names(), (std::set<std::string>{"a.txt", "data.txt", "sub/a.txt", "misc/", "misc/a.txt",
                                                "misc/sub/b.txt", "docsx/a.txt"}));
    ExpectPeersPass(d / "t.zip");
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(PeerRead(d / "t.zip", "misc/sub/b.txt"), "docs b");
    }
    // A new name without a folder part is the new folder itself.
    ASSERT_EQ(b.z.Rename({{"misc/", "top"}}), 0);
    EXPECT_TRUE(b.Names().count("top/sub/b.txt"));
    EXPECT_TRUE(b.Names().count("docsx/a.txt"));
}

TEST(ZipRename, RefusalsLeaveTheArchiveByteForByte) {
    TempDir d;
    test::WriteFile(d / "t.zip", Sample());
    const auto original = test::ReadFile(d / "t.zip");
    Bridge b;
    b.z.SetZipFileName(d / "t.zip");
    EXPECT_EQ(b.z.Rename({{"docs/a.txt", "docs/"}}), -10);  // a file needs a file name
    EXPECT_EQ(b.z.Rename({{"a.txt", "data.txt"}}), -9);     // taken by another entry
    EXPECT_EQ(b.z.Rename({{"a.txt", "n.txt"}, {"data.txt", "n.txt"}}), -9);  // two entries, one name
    EXPECT_EQ(b.z.Rename({{"docs/", "docsx/"}}), -9);                         // docs/a.txt meets docsx/a.txt
    EXPECT_EQ(b.z.Rename({{"nothere.txt", "x.txt"}}), -9);
    EXPECT_EQ(test::ReadFile(d / "t.zip"), original);
    EXPECT_TRUE(test::TempLeftovers(d.Path()).empty());
    // Cancelled as soon as it starts.
    b.z.ProcessMessages = [&b] { b.z.SetCancel(true); };
    EXPECT_EQ(b.z.Rename({{"a.txt", "b.txt"}}), -8);
    b.z.SetCancel(false);
    b.z.ProcessMessages = nullptr;
    EXPECT_EQ(test::ReadFile(d / "t.zip"), original);
    EXPECT_TRUE(test::TempLeftovers(d.Path()).empty());
}

TEST(ZipRename, AFullDiskLeavesTheArchiveByteForByte) {
    TempDir d;
    std::string big = test::RandomBytes(3 << 20, 5);
    test::WriteFile(d / "t.zip", test::BuildZip({{"a.bin", big}, {"b.txt", "b"}}));
    const auto original = test::ReadFile(d / "t.zip");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // No file may grow past 1 MiB: the new archive cannot be written.
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &lim);
        Bridge b;
        b.z.SetZipFileName(d / "t.zip");
        _exit(b.z.Rename({{"b.txt", "c.txt"}}) == -8 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(test::ReadFile(d / "t.zip"), original);
    EXPECT_TRUE(test::TempLeftovers(d.Path()).empty());
}

TEST(ZipRename, DataDescriptorsAndTheStubInFrontAreKept) {
    if (!test::HaveTool("zip") || !test::HaveTool("unzip")) GTEST_SKIP() << "zip/unzip missing";
    TempDir d;
    // Info-ZIP writes an entry read from a pipe with a data descriptor (flag bit 3).
    ASSERT_EQ(test::Run("cd " + test::Quote(d.Path()) + " && printf 'streamed data' | zip -q - - | cat > s.zip"), 0);
    auto bytes = test::ReadFile(d / "s.zip");
    ASSERT_TRUE(Le16(&bytes[6]) & 0x08);
    // A stub in front, offsets counting it.
    std::string prefixed(1000, 'S');
    prefixed.append(bytes.begin(), bytes.end());
    test::WriteFile(d / "p.exe", prefixed);
    ASSERT_EQ(test::Run("zip -qA " + test::Quote(d / "p.exe")), 0);
    for (const char* name : {"s.zip", "p.exe"}) {
        const size_t at = std::string(name) == "p.exe" ? 1000 : 0;
        const auto before = test::ReadFile(d / name);
        const bool descriptor = Le16(&before[at + 6]) & 0x08;  // zip -A may have written the sizes in
        Bridge b;
        b.z.SetZipFileName(d / name);
        ASSERT_EQ(b.z.Rename({{"-", "renamed.txt"}}), 0) << name << b.z.LastMessage();
        const auto after = test::ReadFile(d / name);
        EXPECT_EQ(after.size(), before.size() + 2 * 10) << name;  // "-" became "renamed.txt" in both headers
        EXPECT_TRUE(std::all_of(after.begin(), after.begin() + static_cast<ptrdiff_t>(at), [](uint8_t c) { return c == 'S'; }));
        EXPECT_EQ(Le32(&after[at]), 0x04034B50u);
        EXPECT_EQ(bool(Le16(&after[at + 6]) & 0x08), descriptor) << name;
        ExpectPeersPass(d / name);
        EXPECT_EQ(PeerRead(d / name, "renamed.txt"), "streamed data") << name;
    }
}

}  // namespace
}  // namespace varnok
