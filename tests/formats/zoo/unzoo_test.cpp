// TUnZoo: ZOO archives built here (stored, LZW and -lh5- entries, folders, long names, Unix modes, deleted
// entries, data away from its directory entry, damage, looping chains, hostile names) and the fixtures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/utils.h"
#include "archive/formats/zoo/unzoo.h"
#include "archive/extractors.h"
#include "platform/fileattr.h"
#include "tests/formats/gzip_tar/codec_test_util.h"
#include "tests/support/extractor_run.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

struct ZooItem {
    std::string shortName;
    std::string data;
    int method = 0;  // 0 stored, 1 LZW; other methods take `raw` as their compressed data
    std::string longName;
    std::string dir;
    int mode = -1;  // Unix permissions, when stored
    bool deleted = false;
    std::vector<uint8_t> raw;
};

constexpr uint32_t kDosTime = 0x5A8C6B20;  // time in the low half

std::vector<uint8_t> Compressed(const ZooItem& it) {
    if (it.method == 0) return Bytes(it.data);
    if (it.method == 1) {
        test::TestLzwLayout l;
        l.maxBits = 13;
        l.endCode = true;
        l.groupAlign = false;
        l.leadingClear = true;
        return test::TestLzwCompress(Bytes(it.data), l);
    }
    return it.raw;
}

struct ZooOptions {
    bool dataFirst = false;   // all data before the directory chain (found only through the offset fields)
    int64_t loopBackTo = -1;  // the last entry's next pointer leads back to this entry
    bool shareFirstData = false;  // with dataFirst: every entry's offset names the first entry's data
};

std::vector<uint8_t> BuildZoo(const std::vector<ZooItem>& items, const ZooOptions& opt = {}) {
    std::vector<uint8_t> a(64, 0);
    std::memcpy(a.data(), "ZOO 2.10 Archive.\x1a", 18);
    PutLe32(&a[20], zoo::kTag);
    a[32] = 2;
    a[33] = 1;
    a[34] = 1;
    std::vector<std::vector<uint8_t>> packed;
    for (const auto& it : items)
        packed.push_back(Compressed(it));
    std::vector<uint32_t> dataAt(items.size());
    if (opt.dataFirst) {
        for (size_t i = 0; i < items.size(); ++i) {
            dataAt[i] = static_cast<uint32_t>(a.size());
            a.insert(a.end(), packed[i].begin(), packed[i].end());
        }
    }
    uint32_t first = static_cast<uint32_t>(a.size());
    PutLe32(&a[24], first);
    PutLe32(&a[28], static_cast<uint32_t>(-static_cast<int64_t>(first)));
    std::vector<size_t> entryAt;
    for (size_t i = 0; i < items.size(); ++i) {
        const ZooItem& it = items[i];
        size_t pos = a.size();
        entryAt.push_back(pos);
        std::vector<uint8_t> var;
        var.push_back(static_cast<uint8_t>(it.longName.size() + (it.longName.empty() ? 0 : 1)));
        var.push_back(static_cast<uint8_t>(it.dir.size() + (it.dir.empty() ? 0 : 1)));
        if (!it.longName.empty())
            AppendBytes(var, std::string_view(it.longName.c_str(), it.longName.size() + 1));
        if (!it.dir.empty()) AppendBytes(var, std::string_view(it.dir.c_str(), it.dir.size() + 1));
        AppendLe16(var, 0);  // system id
        uint32_t attr = it.mode >= 0 ? (static_cast<uint32_t>(it.mode) | (1u << 22)) : 0;
        var.push_back(static_cast<uint8_t>(attr));
        var.push_back(static_cast<uint8_t>(attr >> 8));
        var.push_back(static_cast<uint8_t>(attr >> 16));
        AppendLe16(var, 0);  // version flag
        AppendLe16(var, 0);
        std::vector<uint8_t> e(56, 0);
        PutLe32(&e[0], zoo::kTag);
        e[4] = 2;
        e[5] = static_cast<uint8_t>(it.method);
        size_t end = pos + 56 + var.size() + (opt.dataFirst ? 0 : packed[i].size());
        PutLe32(&e[6], static_cast<uint32_t>(end));
        uint32_t data =
            opt.dataFirst ? dataAt[opt.shareFirstData ? 0 : i] : static_cast<uint32_t>(pos + 56 + var.size());
        PutLe32(&e[10], data);
        PutLe16(&e[14], static_cast<uint16_t>(kDosTime >> 16));
        PutLe16(&e[16], static_cast<uint16_t>(kDosTime));
        PutLe16(&e[18], Crc16(it.data.data(), it.data.size()));
        PutLe32(&e[20], static_cast<uint32_t>(it.data.size()));
        PutLe32(&e[24], static_cast<uint32_t>(packed[i].size()));
        e[28] = 2;
        e[29] = 1;
        e[30] = it.deleted ? 1 : 0;
        std::memcpy(&e[38], it.shortName.data(), std::min<size_t>(12, it.shortName.size()));
        PutLe16(&e[51], static_cast<uint16_t>(var.size()));
        e[53] = 0x7F;
        a.insert(a.end(), e.begin(), e.end());
        a.insert(a.end(), var.begin(), var.end());
        if (!opt.dataFirst) a.insert(a.end(), packed[i].begin(), packed[i].end());
    }
    if (opt.loopBackTo >= 0 && !entryAt.empty())
        PutLe32(&a[entryAt.back() + 6], static_cast<uint32_t>(entryAt[static_cast<size_t>(opt.loopBackTo)]));
    // The empty entry that ends the chain.
    std::vector<uint8_t> last(56, 0);
    PutLe32(&last[0], zoo::kTag);
    last[4] = 2;
    a.insert(a.end(), last.begin(), last.end());
    return a;
}

// The -lh5- data of a file as the LHA tool compresses it (level-2 header: its first two bytes give its
// length).
std::vector<uint8_t> Lh5Data(const fs::path& dir, const std::string& content) {
    test::WriteFile(dir / "lh5.txt", content);
    fs::remove(dir / "lh5.lzh");
    if (test::Run("cd " + test::Quote(dir) + " && lha a lh5.lzh lh5.txt >/dev/null 2>&1") != 0) return {};
    auto f = test::ReadFile(dir / "lh5.lzh");
    if (f.size() < 24 || std::memcmp(&f[2], "-lh5-", 5) != 0 || f[20] != 2) return {};
    size_t header = Le16(&f[0]);
    size_t packed = Le32(&f[7]);
    if (header + packed > f.size()) return {};
    return std::vector<uint8_t>(f.begin() + static_cast<std::ptrdiff_t>(header),
                                f.begin() + static_cast<std::ptrdiff_t>(header + packed));
}

class UnZoo : public ::testing::Test {
  protected:
    fs::path Write(const std::vector<uint8_t>& data, const std::string& name = "t.zoo") {
        fs::path p = tmp_ / name;
        test::WriteFile(p, data);
        return p;
    }
    fs::path Out() const { return tmp_ / "out"; }
    test::TempDir tmp_;
};

std::string Text(int lines) {
    std::string s;
    for (int i = 0; i < lines; ++i)
        s += "zoo line " + std::to_string(i * 7 % 113) + " with some words to repeat\n";
    return s;
}

TEST_F(UnZoo, ExtractsStoredAndLzwEntriesWithFoldersAndModes) {
    std::string big = Text(4000);
    auto zoo =
        Write(BuildZoo({{"PLAIN.TXT", "stored bytes", 0},
                        {"BIG.TXT", big, 1, "", "src/util", 0755},
                        {"LONGNA~1.TXT", "long name wins", 0, "long name of the file.txt", "docs", 0600},
                        {"EMPTY", "", 1}}));
    TUnZoo x;
    auto o = test::RunExtractor(x, zoo, Out());
    EXPECT_EQ(o.result, 4);
    EXPECT_EQ(o.failed, 0) << (o.messages.empty() ? "" : o.messages.front());
    auto files = test::FilesUnder(Out());
    EXPECT_EQ(files["PLAIN.TXT"], "stored bytes");
    EXPECT_EQ(files["src/util/BIG.TXT"], big);
    EXPECT_EQ(files["docs/long name of the file.txt"], "long name wins");
    EXPECT_EQ(files["EMPTY"], "");
    struct stat st;
    ASSERT_EQ(stat((Out() / "src/util/BIG.TXT").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat((Out() / "docs/long name of the file.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(platform::FileMTime((Out() / "PLAIN.TXT").string()), DosToUnixTime(kDosTime));
}

TEST_F(UnZoo, Lh5EntriesFromTheLhaTool) {
    VARNOK_REQUIRE_TOOL("lha");
    std::string content = Text(3000);
    auto lh5 = Lh5Data(tmp_.Path(), content);
    ASSERT_FALSE(lh5.empty());
    ZooItem hp{"HP.TXT", content, 2};
    hp.raw = lh5;
    auto zoo = Write(BuildZoo({hp}));
    TUnZoo x;
    auto o = test::RunExtractor(x, zoo, Out());
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(Out())["HP.TXT"], content);
}

TEST_F(UnZoo, DataIsTakenFromTheEntrysOwnOffset) {
    // Data ahead of the directory: only the offset field finds it.
    auto zoo = Write(BuildZoo(
        {{"A.TXT", "first data", 0, "a long name.txt", "some/folder"}, {"B.TXT", Text(50), 1, "", "other"}},
        {true}));
    TUnZoo x;
    auto o = test::RunExtractor(x, zoo, Out());
    EXPECT_EQ(o.failed, 0);
    auto files = test::FilesUnder(Out());
    EXPECT_EQ(files["some/folder/a long name.txt"], "first data");
    EXPECT_EQ(files["other/B.TXT"], Text(50));

    // Deleted entries are passed over; an unknown method is reported.
    ZooItem odd{"ODD", "x", 7};
    odd.raw = Bytes("???");
    ZooItem gone{"GONE.TXT", "deleted", 0};
    gone.deleted = true;
    TUnZoo y;
    auto d =
        test::RunExtractor(y, Write(BuildZoo({gone, odd, {"KEPT.TXT", "kept", 0}}), "d.zoo"), tmp_ / "d");
    EXPECT_TRUE(d.HasCode(E_UnsupportedMethod));
    EXPECT_EQ(test::FilesUnder(tmp_ / "d"), (std::map<std::string, std::string>{{"KEPT.TXT", "kept"}}));
}

TEST_F(UnZoo, EntriesSharingTheirDataAreRefused) {
    // Many directory entries naming one stretch of data: a small archive that would extract to many times its
    // size. Nothing is written, in a test nothing is decoded, and the error names two of the entries.
    std::vector<ZooItem> items;
    for (int i = 0; i < 50; ++i)
        items.push_back({"COPY" + std::to_string(i), Text(200), 0});
    for (bool testing : {false, true}) {
        TUnZoo x;
        auto o = test::RunExtractor(x, Write(BuildZoo(items, {true, -1, true}), "s.zoo"), testing ? fs::path() : Out(),
                                    {});
        EXPECT_TRUE(o.threw);
        EXPECT_EQ(o.thrownCode, E_BadFileHeader);
        EXPECT_TRUE(o.ends.empty());
        EXPECT_TRUE(test::FilesUnder(Out()).empty());
        ASSERT_FALSE(o.messages.empty());
        EXPECT_NE(o.messages.front().find("COPY"), std::string::npos) << o.messages.front();
    }
    // Data of neighbouring entries that only touch is no overlap.
    TUnZoo y;
    auto n = test::RunExtractor(y, Write(BuildZoo({items[0], items[1]}, {true}), "n.zoo"), tmp_ / "n");
    EXPECT_EQ(n.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "n").size(), 2u);
}

TEST_F(UnZoo, DamageFailsOnlyItsEntry) {
    auto bytes = BuildZoo({{"ONE", "first entry", 0}, {"TWO", Text(40), 1}, {"THREE", "third", 0}});
    // Into the LZW data of the second entry: after the header, the first entry and the second's directory.
    size_t second = 64 + 56 + 11 + 11;
    bytes[second + 56 + 11 + 20] ^= 0x21;
    TUnZoo x;
    auto o = test::RunExtractor(x, Write(bytes), {});
    EXPECT_TRUE(o.Passed("ONE"));
    EXPECT_TRUE(o.FailedEntry("TWO"));
    EXPECT_TRUE(o.Passed("THREE"));
}

TEST_F(UnZoo, ChainsThatTurnBackEndTheWalk) {
    TUnZoo x;
    auto o = test::RunExtractor(x, Write(BuildZoo({{"A", "a", 0}, {"B", "b", 0}, {"C", "c", 0}}, {false, 1})),
                                Out());
    // Every entry up to the bad pointer is extracted once; the loop is reported.
    EXPECT_EQ(test::FilesUnder(Out()),
              (std::map<std::string, std::string>{{"A", "a"}, {"B", "b"}, {"C", "c"}}));
    EXPECT_EQ(o.result, 3);
    EXPECT_TRUE(o.HasCode(E_BadFileHeader));

    // An archive header whose negated first-entry offset does not match is an error, not an empty archive.
    auto bytes = BuildZoo({{"A", "a", 0}});
    bytes[28] ^= 1;
    TUnZoo y;
    auto h = test::RunExtractor(y, Write(bytes, "h.zoo"), tmp_ / "h");
    EXPECT_EQ(h.result, 0);
    EXPECT_TRUE(h.HasCode(E_BadFileHeader));
}

TEST_F(UnZoo, HostileFoldersStayInside) {
    fs::path out = tmp_ / "deep" / "out";
    TUnZoo x;
    auto o = test::RunExtractor(x,
                                Write(BuildZoo({{"EVIL", "up", 0, "", "../.."},
                                                {"ABS", "rooted", 0, "", "/etc"},
                                                {"MID", "middle", 0, "", "a/../../b"},
                                                {"OK", "fine", 0, "", "./sub"}})),
                                out);
    EXPECT_TRUE(o.HasCode(E_InvalidFileName));
    EXPECT_EQ(test::FilesUnder(tmp_ / "deep"),
              (std::map<std::string, std::string>{{"out/etc/ABS", "rooted"}, {"out/sub/OK", "fine"}}));
}

TEST(UnZooFixtures, ExtractsWhatThePeersExtracted) {
    for (const char* archive : {"zoo/unarcrs_default.zoo", "zoo/patool_t.zoo"}) {
        VARNOK_REQUIRE_FIXTURE(path, archive);
        test::TempDir tmp;
        auto x = CreateExtractor(atZoo);
        auto o = test::RunExtractor(*x, path, tmp.Path());
        EXPECT_EQ(o.failed, 0) << archive;
        for (const auto& row : test::ExpectedFor(archive))
            EXPECT_EQ(test::Sha256Hex(test::ReadFile(tmp.Path() / row.entry)), row.sha256) << row.entry;
    }
}

TEST(UnZooFixtures, ParentFolderNamesAreRefused) {
    // These samples store "../license": it is not written (outside the destination), and nothing else is.
    for (const char* archive : {"zoo/unarcrs_high_per.zoo", "zoo/unarcrs_store.zoo"}) {
        VARNOK_REQUIRE_FIXTURE(path, archive);
        test::TempDir tmp;
        TUnZoo x;
        auto o = test::RunExtractor(x, path, tmp.Path() / "out");
        EXPECT_TRUE(o.HasCode(E_InvalidFileName)) << archive;
        EXPECT_EQ(o.result, 0);
        EXPECT_TRUE(test::FilesUnder(tmp.Path()).empty());
    }
}

TEST(UnZooFixtures, WrongCrcIsReported) {
    VARNOK_REQUIRE_FIXTURE(path, "zoo/unarcrs_wrongcrc16.zoo");
    // The sample's only entry is "../license"; read through a copy whose folder is "./".
    auto bytes = test::ReadFile(path);
    for (size_t i = 0; i + 2 < bytes.size(); ++i)
        if (bytes[i] == '.' && bytes[i + 1] == '.' && bytes[i + 2] == 0) bytes[i + 1] = '/';
    test::TempDir tmp;
    test::WriteFile(tmp / "w.zoo", bytes);
    TUnZoo x;
    auto o = test::RunExtractor(x, tmp / "w.zoo", {});
    EXPECT_FALSE(o.HasCode(E_InvalidFileName));
    EXPECT_EQ(o.failed, 1);
    EXPECT_EQ(o.ends.size(), 1u);
    EXPECT_FALSE(o.ends.begin()->second);
}

}  // namespace
}  // namespace varnok
