#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "archive/core/bytes.h"
#include "archive/core/lister.h"
#include "tests/support/builders.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::TempDir;

struct Listing {
    std::vector<ListEntry> entries;
    std::vector<int> fileNums;
    std::vector<std::string> readFiles;
    std::vector<int> errors;
    int totalsFiles = -1;
    uint64_t totalsPacked = 0;
    bool ok = false;
};

Listing List(const std::string& path, std::vector<std::string> spec = {"*.*"}, bool dirs = false,
             std::function<void(TArcLister&)> setup = {}) {
    Listing l;
    TArcLister c;
    c.FileSpec = std::move(spec);
    c.ShowEmptyDirs = dirs;
    c.OnRead = [&](TZipCommon&, uint64_t, int num) {
        l.entries.push_back(c.Entry());
        l.fileNums.push_back(num);
    };
    c.OnReadFile = [&](TZipCommon&, const std::string& n) { l.readFiles.push_back(n); };
    c.OnTotals = [&](TZipCommon&, uint64_t, uint64_t packed, int, int files) {
        l.totalsFiles = files;
        l.totalsPacked = packed;
    };
    c.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
        l.errors.push_back(code);
    };
    if (setup) setup(c);
    c.SetArchiveFile(path);
    l.ok = c.ReadArchive();
    return l;
}

TEST(Lister, TarSelectionNumberingAndTotals) {
    TempDir d;
    test::WriteFile(d / "t.tar",
                    test::BuildTar({{"a.txt", "1"}, {"dir/", "", '5'}, {"b.txt", "22"}, {"c.txt", "333"}}));
    auto all = List(d / "t.tar");
    ASSERT_TRUE(all.ok);
    ASSERT_EQ(all.entries.size(), 3u);
    EXPECT_EQ(all.fileNums, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(all.totalsFiles, 3);
    EXPECT_EQ(all.entries[2].EntryName, "c.txt");
    EXPECT_EQ(all.entries[2].UnpackedSize, 3u);
    EXPECT_EQ(all.entries[2].MethodText, "Tarred");
    // Only the second file selected: one entry, and the walk still reaches the end.
    auto one = List(d / "t.tar", {"b.txt"});
    ASSERT_EQ(one.entries.size(), 1u);
    EXPECT_EQ(one.entries[0].EntryName, "b.txt");
    EXPECT_EQ(one.readFiles.size(), 4u);
    EXPECT_EQ(one.totalsFiles, 1);
    // Folders are shown on request and never counted.
    auto withDirs = List(d / "t.tar", {"*.*"}, true);
    EXPECT_EQ(withDirs.entries.size(), 4u);
    EXPECT_EQ(withDirs.totalsFiles, 3);
    // Nothing selected, nothing listed.
    EXPECT_TRUE(List(d / "t.tar", {}).entries.empty());
}

TEST(Lister, ZipCentralDirectory) {
    TempDir d;
    test::ZipItem dir{"docs/", ""};
    dir.externalAttr = 0x10;
    test::ZipItem withAll{"docs/a.txt", "alpha"};
    withAll.extra = std::string("\x55\x54\x05\x00\x01\x00\x00\x00\x00", 9);
    withAll.comment = "first";
    test::ZipItem label{"VOLUME", ""};
    label.externalAttr = 0x08;
    test::WriteFile(d / "z.zip", test::BuildZip({dir, withAll, label, {"b.txt", "beta"}}));
    auto l = List(d / "z.zip");
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.entries.size(), 2u);  // the entry after name, extra field and comment is found
    EXPECT_EQ(l.entries[0].EntryName, "docs/a.txt");
    EXPECT_EQ(l.entries[0].EntryComment, "first");
    EXPECT_EQ(l.entries[0].MethodText, "Stored");
    EXPECT_EQ(l.entries[1].EntryName, "b.txt");
    EXPECT_EQ(l.totalsFiles, 2);
    auto dirs = List(d / "z.zip", {"*.*"}, true);
    ASSERT_EQ(dirs.entries.size(), 4u);
    EXPECT_TRUE(dirs.entries[0].IsDirectory);
    EXPECT_EQ(dirs.entries[0].MethodText, "");
    EXPECT_EQ(dirs.totalsFiles, 2);
}

TEST(Lister, CorruptZipAsksBeforeWalkingLocalHeaders) {
    TempDir d;
    test::ZipOptions o;
    o.omitCentral = true;  // the end record points at nothing
    test::WriteFile(d / "bad.zip", test::BuildZip({{"a.txt", "hello"}, {"b.txt", "world"}}, o));
    uint8_t seen = 0xFF;
    auto refused = List(d / "bad.zip", {"*.*"}, false, [&](TArcLister& c) {
        c.OnCorruptZipHeader = [&](TZipCommon&, uint8_t flag, bool& cancel) {
            seen = flag;
            cancel = true;
        };
    });
    EXPECT_FALSE(seen & hfCentralHeader);
    EXPECT_TRUE(refused.entries.empty());
    auto walked = List(d / "bad.zip", {"*.*"}, false, [&](TArcLister& c) {
        c.OnCorruptZipHeader = [&](TZipCommon&, uint8_t, bool& cancel) { cancel = false; };
    });
    ASSERT_EQ(walked.entries.size(), 2u);
    EXPECT_EQ(walked.entries[1].EntryName, "b.txt");
}

TEST(Lister, EncodedTextIsOneUncountedEntry) {
    TempDir d;
    test::WriteFile(d / "x.uue", std::string("From: someone\n\nbegin 644 report.txt\n#86)C\n`\nend\n") +
                                     std::string(40, '\n'));
    auto l = List(d / "x.uue");
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].EntryName, "report.txt");
    EXPECT_EQ(l.entries[0].UnpackedSize, 3u);
    EXPECT_EQ(l.totalsFiles, 0);
}

TEST(Lister, UnknownAndMissingFiles) {
    TempDir d;
    test::WriteFile(d / "junk", std::string(100, 'j'));
    auto l = List(d / "junk");
    EXPECT_FALSE(l.ok);
    ASSERT_FALSE(l.errors.empty());
    EXPECT_EQ(l.errors[0], E_UnknownFileType);
    auto m = List(d / "none");
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.errors.back(), E_FileNotFound);
    // Without an OnRead handler nothing runs.
    TArcLister c;
    int code = 0;
    c.OnError = [&](TZipCommon&, const std::string&, const std::string& msg, const std::string&, int e) {
        code = e;
        EXPECT_EQ(msg, "OnRead");
    };
    test::WriteFile(d / "t.tar", test::BuildTar({{"a", "b"}}));
    c.SetArchiveFile(d / "t.tar");
    EXPECT_FALSE(c.ReadArchive());
    EXPECT_EQ(code, E_EventNotAssigned);
}

TEST(Lister, ZooChainThatPointsBackEnds) {
    TempDir d;
    // Archive header, then one entry whose next pointer leads back to itself.
    std::vector<uint8_t> z(200, 0);
    std::memcpy(z.data(), "ZOO 2.10 Archive.\x1A", 18);
    PutLe32(&z[20], 0xFDC4A7DC);
    PutLe32(&z[24], 42);
    PutLe32(&z[28], static_cast<uint32_t>(-42));
    PutLe32(&z[42], 0xFDC4A7DC);
    z[42 + 4] = 1;
    PutLe32(&z[42 + 6], 42);  // next = itself
    std::memcpy(&z[42 + 38], "loop.txt", 8);
    test::WriteFile(d / "loop.zoo", z);
    auto l = List(d / "loop.zoo");
    EXPECT_EQ(l.entries.size(), 1u);
}

TEST(Lister, ArjVolumesAreJoined) {
    VARNOK_REQUIRE_TOOL("arj");
    TempDir d;
    std::string data(30000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 2654435761u) >> 13);
    test::WriteFile(d / "data.bin", data);
    ASSERT_EQ(
        test::Run("cd " + test::Quote(d.Path()) + " && arj a -v10k -m0 -y t.arj data.bin >/dev/null 2>&1"),
        0);
    std::vector<std::string> asked;
    auto l = List(d / "t.arj", {"*.*"}, false, [&](TArcLister& c) {
        c.OnNextVolume = [&](TZipCommon&, std::string& name, const std::string&, bool exists, bool& cancel) {
            asked.push_back(name);
            cancel = !exists;
        };
    });
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].UnpackedSize, 30000u);
    EXPECT_EQ(l.entries[0].PackedSize, 30000u);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0], (d / "t.a01").string());
    EXPECT_EQ(asked[1], (d / "t.a02").string());
    // A missing volume ends the walk with the handler's refusal.
    std::filesystem::remove(d / "t.a02");
    auto cut = List(d / "t.arj", {"*.*"}, false, [&](TArcLister& c) {
        c.OnNextVolume = [&](TZipCommon&, std::string&, const std::string&, bool exists, bool& cancel) {
            cancel = !exists;
        };
    });
    EXPECT_TRUE(cut.entries.empty());
}

// Every fixture lists the entries the peer tools extracted, with their sizes. The few deliberate differences
// are named with the reason.
TEST(Lister, FixturesAgreeWithPeers) {
    auto root = test::FixturesDir();
    if (root.empty()) GTEST_SKIP() << "fixtures not available";
    const std::set<std::string> differ = {
        "lzh/morphos_h2_huge.lzh",     // peers cut the 64-bit size to 32 bits
        "lzh/regression_dotdot.lzh",   // we list the stored "..", peers drop it
        "lzh/regression_badterm.lzh",  // we list the stored leading "/", peers drop it
        "lzh/maclha224_l2_lh5.lzh",    // peers strip the MacBinary header from the data
        "lzh/maclha224_l1_full_subdir.lzh",
        "zoo/unarcrs_high_per.zoo",  // peers rename ".." to "__Parent__"
        "zoo/unarcrs_store.zoo",
        "rar/rarfile_rar5-hpsw.rar",          // encrypted headers
        "lzh/unlha32_lh2.lzh",                // unar keeps MS-DOS upper case; lhasa (and we) show lower case
        "lzh/libarchive_filename_utf16.lzh",  // peers write "_" for characters they cannot show
        "gzip/commons_multiple.gz",           // several members: the trailer gives the last one's size
        "gzip/libarchive_compat_gzip_1.tgz",
    };
    int checked = 0, files = 0;
    for (const auto& [path, rows] : test::Expected().Archives()) {
        if (differ.count(path)) continue;
        // Archives the peers did not read whole, and those with entries they gave no digest for, are left
        // out; so are the names the peers wrote with escapes or backslashes.
        bool whole = true;
        std::map<std::string, uint64_t> entries;
        for (const auto& r : rows) {
            whole = whole && !r.partial && !r.unextracted && !r.nonFirstVolume && r.HasDigest() && r.size;
            if (r.escaped || r.entry.find('\\') != std::string::npos || r.symlink || r.directory) continue;
            entries[r.entry] = r.size.value_or(0);
        }
        if (!whole || entries.empty()) continue;
        bool ascii = true;
        for (const auto& [n, s] : entries)
            for (unsigned char ch : n)
                ascii &= ch < 0x80;
        if (!ascii) continue;
        auto l = List(root / path, {"*.*"}, false, [](TArcLister& c) {
            c.OnNextVolume = [](TZipCommon&, std::string&, const std::string&, bool exists, bool& cancel) {
                cancel = !exists;
            };
            // The peers list a compressed TAR as its one compressed file.
            c.OpenTarInside = false;
        });
        std::map<std::string, uint64_t> got;
        for (const auto& e : l.entries) {
            std::string n = e.EntryName;
            while (!n.empty() && n[0] == '/')
                n.erase(0, 1);  // peers drop a leading "/"
            got[n] = e.UnpackedSize;
        }
        for (const auto& [n, s] : entries) {
            auto it = got.find(n);
            ASSERT_TRUE(it != got.end()) << path << ": " << n;
            EXPECT_EQ(it->second, s) << path << ": " << n;
            ++files;
        }
        ++checked;
    }
    EXPECT_GT(checked, 150);
    printf("%d archives, %d files compared\n", checked, files);
}

// Damaged copies of every fixture: cut short and with bytes flipped. The lister must end on its own.
TEST(Lister, DamagedFixturesNeverCrash) {
    auto root = test::FixturesDir();
    if (root.empty()) GTEST_SKIP() << "fixtures not available";
    TempDir d;
    int n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_regular_file() || e.path().extension() == ".tsv" || e.path().extension() == ".txt" ||
            e.path().extension() == ".md")
            continue;
        auto data = test::ReadFile(e.path());
        if (data.size() > 300000) continue;
        for (size_t cut : {data.size() / 2, data.size() * 9 / 10, size_t{100}}) {
            if (cut >= data.size()) continue;
            auto copy = std::vector<uint8_t>(data.begin(), data.begin() + static_cast<long>(cut));
            test::WriteFile(d / "cut", copy);
            List(d / "cut");
        }
        auto flipped = data;
        for (size_t i = 7; i < flipped.size(); i += 97)
            flipped[i] ^= 0x5A;
        test::WriteFile(d / ("flip" + e.path().extension().string()), flipped);
        List(d / ("flip" + e.path().extension().string()));
        ++n;
    }
    EXPECT_GT(n, 100);
}

}  // namespace
}  // namespace varnok
