// Compressed TAR files made by GNU tar and bsdtar, listed as the TAR inside them: the same entries and sizes
// as the peers list, whatever the compression and the TAR dialect; with the raw reading, the one compressed
// file. And the TAR's entries extract and test straight out of the stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "archive/core/lister.h"
#include "archive/formats/gzip/ungzip.h"
#include "tests/support/extractor_run.h"
#include "platform/codepage.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using Sizes = std::map<std::string, uint64_t>;  // name (folders with a trailing "/") -> size

// A tree with folders (one empty), a link, a large file, UTF-8 and Latin-1 names.
void MakeTree(const fs::path& root) {
    fs::create_directories(root / "docs" / "deep" / "er");
    fs::create_directories(root / "empty");
    test::WriteFile(root / "docs" / "a.txt", std::string("alpha"));
    test::WriteFile(root / "docs" / "deep" / "er" / "b.bin", std::string(200000, 'b'));
    test::WriteFile(root / "top level.txt", std::string("with a blank"));
    test::WriteFile(root / "\xC3\xA9t\xC3\xA9.txt", std::string("utf-8 name"));
    test::WriteFile(root / "caf\xE9.txt", std::string("latin-1 name"));
    std::string big;
    for (int i = 0; i < 300000; ++i)
        big += static_cast<char>("abcdefgh"[(i * 7) % 8]);
    test::WriteFile(root / "docs" / "big.txt", big);
    fs::create_symlink("docs/a.txt", root / "link");
}

// What `tar -tv` (GNU tar) says of an archive: names and sizes, read literally.
Sizes PeerListing(const fs::path& archive) {
    std::string out;
    EXPECT_EQ(test::Run("tar --quoting-style=literal --numeric-owner -tvf " + test::Quote(archive) + " 2>/dev/null", &out), 0);
    Sizes s;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        // mode owner/group size date time name[ -> target]
        std::istringstream f(line);
        std::string mode, owner, size, date, time;
        f >> mode >> owner >> size >> date >> time;
        std::string name;
        std::getline(f, name);
        if (!name.empty() && name[0] == ' ') name.erase(0, 1);
        if (mode[0] == 'l') name = name.substr(0, name.find(" -> "));
        if (name.rfind("./", 0) == 0) name.erase(0, 2);
        if (name.empty() || name == ".") continue;
        // The peer shows the Latin-1 name's bytes; its author typed "café".
        if (!platform::IsValidUtf8(name)) name = platform::ConvertCharset(name, "ISO-8859-1", "UTF-8");
        s[name] = mode[0] == '-' ? std::stoull(size) : 0;
    }
    return s;
}

Sizes OurListing(const fs::path& archive, bool raw = false) {
    TArcLister l;
    Sizes s;
    l.ShowEmptyDirs = true;
    l.OpenTarInside = !raw;
    l.FileSpec = {"*.*"};
    l.OnRead = [&](TZipCommon&, uint64_t, int) {
        const ListEntry& e = l.Entry();
        std::string n = e.EntryName;
        if (n.rfind("./", 0) == 0) n.erase(0, 2);
        if (n.empty() || n == ".") return;
        s[e.IsDirectory ? n + "/" : n] = e.IsDirectory || e.IsSymlink ? 0 : e.UnpackedSize;
    };
    l.SetArchiveFile(archive.string());
    EXPECT_TRUE(l.ReadArchive());
    EXPECT_EQ(l.WalkError(), 0) << archive;
    return s;
}

TEST(CompressedTar, ListsAsThePeersListTheTarInside) {
    VARNOK_REQUIRE_TOOL("tar");
    VARNOK_REQUIRE_TOOL("gzip");
    test::TempDir d;
    MakeTree(d / "src");
    const std::string src = test::Quote(d / "src");
    std::vector<std::pair<std::string, std::string>> made = {
        {"gnu.tgz", "tar --format=gnu -czf " + test::Quote(d / "gnu.tgz") + " -C " + src + " ."},
        {"posix.tar.gz", "tar --format=posix -czf " + test::Quote(d / "posix.tar.gz") + " -C " + src + " ."},
        {"ustar.tgz", "tar --format=ustar -czf " + test::Quote(d / "ustar.tgz") + " -C " + src + " ."},
    };
    if (test::HaveTool("compress"))
        made.push_back({"gnu.tar.Z", "tar -Z -cf " + test::Quote(d / "gnu.tar.Z") + " -C " + src + " ."});
    if (test::HaveTool("bsdtar")) {
        made.push_back({"bsd.tar.gz", "bsdtar -czf " + test::Quote(d / "bsd.tar.gz") + " -C " + src + " ."});
        made.push_back({"bsdpax.tgz", "bsdtar --format pax -czf " + test::Quote(d / "bsdpax.tgz") + " -C " + src + " ."});
        if (test::HaveTool("compress"))
            made.push_back({"bsd.taz", "bsdtar -cZf " + test::Quote(d / "bsd.taz") + " -C " + src + " ."});
    }
    for (const auto& [name, cmd] : made) {
        SCOPED_TRACE(name);
        ASSERT_EQ(test::Run(cmd + " 2>/dev/null"), 0);
        const Sizes peer = PeerListing(d / name);
        ASSERT_GE(peer.size(), 9u);
        EXPECT_EQ(OurListing(d / name), peer);
        // Raw: the one compressed file.
        EXPECT_EQ(OurListing(d / name, true).size(), 1u);
    }
}

TEST(CompressedTar, EntriesExtractAndTestStraightOutOfTheStream) {
    VARNOK_REQUIRE_TOOL("tar");
    test::TempDir d;
    MakeTree(d / "src");
    ASSERT_EQ(test::Run("tar -czf " + test::Quote(d / "t.tgz") + " -C " + test::Quote(d / "src") + " ."), 0);
    TUnGZip x;
    auto o = test::RunExtractor(x, d / "t.tgz", d / "out", [](TUnBase& b) { b.CreateStoredDirs = true; });
    EXPECT_EQ(o.failed, 0) << (o.messages.empty() ? "" : o.messages.front());
    auto got = test::FilesUnder(d / "out");
    EXPECT_EQ(got["docs/a.txt"], "alpha");
    EXPECT_EQ(got["docs/deep/er/b.bin"].size(), 200000u);
    EXPECT_EQ(got["caf\xC3\xA9.txt"], "latin-1 name");  // the Latin-1 name, written in UTF-8
    EXPECT_EQ(got.count("t.tar"), 0u);                   // no TAR file on the way
    EXPECT_TRUE(fs::is_symlink(d / "out" / "link"));
    EXPECT_TRUE(fs::is_directory(d / "out" / "empty"));
    // A pattern selects among the TAR's entries.
    TUnGZip one;
    auto p = test::RunExtractor(one, d / "t.tgz", d / "one", [](TUnBase& b) { b.FileSpec = {"docs/deep/*.*"}; });
    EXPECT_EQ(test::FilesUnder(d / "one").size(), 1u);
    // Testing decodes every entry and writes nothing.
    TUnGZip t;
    auto ot = test::RunExtractor(t, d / "t.tgz", {});
    EXPECT_EQ(ot.failed, 0);
    EXPECT_TRUE(ot.Passed("docs/big.txt"));
}

// A Latin-1 name makes the extraction sample the names with a second decoding, which runs while the
// extraction's own decoding is under way in another thread. That name comes first and megabytes of data follow,
// so both decodings are busy at once; any decoder state shared between them garbles the data or crashes.
TEST(CompressedTar, TheNameSamplingDecodingSharesNothingWithTheExtraction) {
    VARNOK_REQUIRE_TOOL("tar");
    test::TempDir d;
    fs::create_directories(d / "src");
    std::string list = test::Quote("caf\xE9.txt");
    test::WriteFile(d / "src" / "caf\xE9.txt", std::string("latin-1 name"));
    uint32_t seed = 12345;
    for (int f = 0; f < 12; ++f) {
        std::string body;
        for (int i = 0; i < 400000; ++i) {
            seed = seed * 1103515245u + 12345u;
            body += static_cast<char>('a' + (seed >> 16) % 26);
        }
        const std::string name = "part" + std::to_string(f) + ".txt";
        test::WriteFile(d / "src" / name, body);
        list += " " + name;
    }
    ASSERT_EQ(test::Run("tar -czf " + test::Quote(d / "t.tgz") + " -C " + test::Quote(d / "src") + " " + list), 0);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        TUnGZip t;
        auto o = test::RunExtractor(t, d / "t.tgz", {});
        EXPECT_EQ(o.failed, 0) << (o.messages.empty() ? "" : o.messages.front());
        EXPECT_TRUE(o.Passed("caf\xC3\xA9.txt"));
        for (int f = 0; f < 12; ++f) EXPECT_TRUE(o.Passed("part" + std::to_string(f) + ".txt")) << f;
    }
}

}  // namespace
}  // namespace varnok
