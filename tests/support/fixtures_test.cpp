// The fixture tables' reader, against small tables written here.
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace varnok::test {
namespace {

const std::string kDigest(64, 'a');

// One small table with a case of every rule; each test looks at its own archives.
const ExpectedTable& Sample() {
    static const ExpectedTable table = [] {
        const std::string d = kDigest;
        TempDir dir;
        WriteFile(dir / "EXPECTED.tsv",
                  "archive path\tentry name\tsize\tsha256\tpeer used\n"
                  // escapes
                  "a.lzh\t\\x8a\\xbf.txt\t1\t" + d + "\tlhasa x\n"
                  "a.lzh\t\\x95\\.txt\t2\t" + d + "\tlhasa x\n"
                  "a.lzh\ttmp/\\x1b]2;m\\x07 \t3\t" + d + "\tlhasa x\n"
                  "a.lzh\t..\\Temp\\e.txt\t4\t" + d + "\tlhasa x\n"
                  "a.lzh\t\\xA0\\xZZ\\x4g\\x4\t5\t" + d + "\tlhasa x\n"
                  // folders, links, sizes
                  "t.tar\tdir/\t-\t-\tbsdtar x\n"
                  "t.tar\tdir/l \\xe9 -> ../f\\xe9\t-\t-\tbsdtar x\n"
                  "t.tar\tnamed a -> b\t3\t" + d + "\tbsdtar x\n"
                  "t.tar\tneg\t-851052703811341868\t-\tlsar list only; no peer extracted\n"
                  "t.tar\thuge\t99999999999999999999\t" + d + "\tbsdtar x\n"
                  // the peer column
                  "e.zip\ta.txt\t1\t" + d + "\tunzip (password pa ss)\n"
                  "e.zip\tb.txt\t1\t" + d + "\tunzip\n"
                  "d.zip\tx\t2\t" + d + "\t7z x (rc=2, partial)\n"
                  "r.zip\ty\t2\t" + d + "\t7z x (rc=2; other entries are Reduced)\n"
                  "n.rar\t-\t-\t-\tnone: unar rc=2: This archive requires a password\n"
                  "v.a01\t(non-first volume; see the set's first volume)\t-\t-\t-\n"
                  // unreadable lines among readable ones
                  "m.zip\tone\t1\t" + d + "\tunzip\r\n"
                  "m.zip\tshort\t1\t" + d + "\n"
                  "m.zip\tbad digest\t1\tabc\tunzip\n"
                  "\tno archive\t1\t" + d + "\tunzip\n"
                  "\n"
                  "b.zip\ttwo\t2\t" + std::string(64, 'B') + "\tunzip\n"
                  "m.zip\tthree\t3\t" + d + "\tunzip");
        return ExpectedTable::Read(dir / "EXPECTED.tsv");
    }();
    return table;
}

TEST(FixtureTables, EscapedBytesComeBackAndOtherBackslashesStay) {
    const auto& rows = Sample().Of("a.lzh");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].entry, "\x8a\xbf.txt");
    EXPECT_EQ(rows[1].entry, "\x95\\.txt");  // the second byte of a CP932 character
    EXPECT_EQ(rows[2].entry, "tmp/\x1b]2;m\x07 ");  // control characters, and the trailing space kept
    EXPECT_EQ(rows[3].entry, "..\\Temp\\e.txt");
    EXPECT_FALSE(rows[3].escaped);
    EXPECT_EQ(rows[4].entry, "\xA0\\xZZ\\x4g\\x4");  // only two hex digits make a byte
    for (int i : {0, 1, 2, 4})
        EXPECT_TRUE(rows[static_cast<size_t>(i)].escaped) << i;
}

TEST(FixtureTables, FoldersLinksAndSizes) {
    const auto& rows = Sample().Of("t.tar");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_TRUE(rows[0].directory);
    EXPECT_FALSE(rows[0].size);
    EXPECT_FALSE(rows[0].HasDigest());
    EXPECT_TRUE(rows[1].symlink);
    EXPECT_FALSE(rows[1].directory);
    EXPECT_EQ(rows[1].entry, "dir/l \xe9");
    EXPECT_EQ(rows[1].linkTarget, "../f\xe9");
    // With content it is a file whose name has an arrow.
    EXPECT_FALSE(rows[2].symlink);
    EXPECT_EQ(rows[2].entry, "named a -> b");
    EXPECT_EQ(rows[2].size, 3u);
    EXPECT_EQ(rows[2].sha256, kDigest);
    EXPECT_FALSE(rows[3].size);
    EXPECT_TRUE(rows[3].unextracted);
    EXPECT_EQ(rows[3].entry, "neg");
    EXPECT_FALSE(rows[4].size);
}

TEST(FixtureTables, PeerColumnPasswordsDamageAndVolumes) {
    const auto& t = Sample();
    EXPECT_EQ(t.Of("e.zip")[0].password, "pa ss");
    EXPECT_EQ(t.Of("e.zip")[1].password, "");
    EXPECT_EQ(PasswordOf(t.Of("e.zip")), "pa ss");
    const auto& damaged = t.Of("d.zip")[0];
    EXPECT_TRUE(damaged.partial);
    EXPECT_TRUE(damaged.peerFailed);
    EXPECT_EQ(damaged.password, "");
    EXPECT_TRUE(t.Of("r.zip")[0].peerFailed);
    EXPECT_FALSE(t.Of("r.zip")[0].partial);
    const auto& none = t.Of("n.rar")[0];
    EXPECT_TRUE(none.unextracted);
    EXPECT_EQ(none.entry, "");
    EXPECT_EQ(none.password, "");
    const auto& later = t.Of("v.a01");
    ASSERT_EQ(later.size(), 1u);
    EXPECT_TRUE(later[0].nonFirstVolume);
    EXPECT_EQ(later[0].entry, "");
    EXPECT_FALSE(later[0].unextracted);
}

TEST(FixtureTables, UnreadableLinesAreLeftOut) {
    const auto& t = Sample();
    EXPECT_EQ(t.Skipped(), 3);
    const auto& m = t.Of("m.zip");
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].peer, "unzip");
    EXPECT_EQ(m[1].entry, "three");
    EXPECT_EQ(t.Of("b.zip")[0].sha256, std::string(64, 'b'));
    EXPECT_TRUE(t.Of("c.zip").empty());
    EXPECT_TRUE(ExpectedTable::Read("/nonexistent/EXPECTED.tsv").Archives().empty());

    TempDir d;
    WriteFile(d / "MANIFEST.tsv", std::string("path\tformat\twhat it exercises\tsource\tsource path\tlicense\n"
                                              "lzh/a.lzh\tlzh\tlevel 0\tx/y@1\ta.lzh\tISC\n"
                                              "broken line\n"
                                              "arc/b.pak\tpak\tPAK\n"));
    auto manifest = ReadManifest(d / "MANIFEST.tsv");
    ASSERT_EQ(manifest.size(), 2u);
    EXPECT_EQ(manifest[0].path, "lzh/a.lzh");
    EXPECT_EQ(manifest[0].description, "level 0");
    EXPECT_EQ(manifest[1].format, "pak");
}

}  // namespace
}  // namespace varnok::test
