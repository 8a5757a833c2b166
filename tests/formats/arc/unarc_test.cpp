// TUnArc: ARC and PAK archives built here (stored, packed, squashed, old stored headers, PAK folders,
// garbled entries, damage, hostile names) and the real samples in the fixtures.
#include <gtest/gtest.h>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/utils.h"
#include "archive/formats/arc/unarc.h"
#include "archive/extractors.h"
#include "platform/fileattr.h"
#include "tests/formats/gzip_tar/codec_test_util.h"
#include "tests/support/extractor_run.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Str;

struct ArcItem {
    std::string name;
    std::string data;
    int method = 2;      // 1 (old stored), 2, 3 (packed), 9 (squashed); 30 opens a folder, 31 closes it
    std::string garble;  // the key the compressed bytes are garbled with
    uint32_t dosTime = 0x5A8C6B20;  // time in the low half
    std::vector<uint8_t> raw;  // compressed bytes as given (method other than 1-3, 9), data then the original
};

// ARC packing: a byte repeated 3 or more times becomes byte, 0x90, count; 0x90 itself is 0x90, 0 (and is
// never repeated by a count: it does not become the byte a count repeats).
std::vector<uint8_t> Pack(const std::string& s) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < s.size();) {
        auto b = static_cast<uint8_t>(s[i]);
        size_t run = 1;
        while (b != 0x90 && i + run < s.size() && static_cast<uint8_t>(s[i + run]) == b && run < 255)
            ++run;
        out.push_back(b);
        if (b == 0x90) out.push_back(0);
        if (run >= 3) {
            out.push_back(0x90);
            out.push_back(static_cast<uint8_t>(run));
            i += run;
        } else {
            ++i;
        }
    }
    return out;
}

std::vector<uint8_t> BuildArc(const std::vector<ArcItem>& items) {
    std::vector<uint8_t> a;
    // Offsets of open folder headers, whose sizes are filled in when they close.
    std::vector<size_t> open;
    for (const auto& it : items) {
        if (it.method == 31) {
            a.push_back(0x1A);
            a.push_back(31);
            size_t start = open.back();
            open.pop_back();
            PutLe32(&a[start + 15], static_cast<uint32_t>(a.size() - start - 29));
            continue;
        }
        std::vector<uint8_t> packed;
        if (it.method == 1 || it.method == 2)
            packed = Bytes(it.data);
        else if (it.method == 3)
            packed = Pack(it.data);
        else if (it.method == 9)
            packed = [&] {
                test::TestLzwLayout l;
                l.maxBits = 13;
                return test::TestLzwCompress(Bytes(it.data), l);
            }();
        else if (it.method != 30)
            packed = it.raw;
        for (size_t i = 0; !it.garble.empty() && i < packed.size(); ++i)
            packed[i] ^= static_cast<uint8_t>(it.garble[i % it.garble.size()]);
        size_t start = a.size();
        a.push_back(0x1A);
        a.push_back(static_cast<uint8_t>(it.method));
        uint8_t name[13] = {};
        std::memcpy(name, it.name.data(), std::min<size_t>(12, it.name.size()));
        a.insert(a.end(), name, name + 13);
        AppendLe32(a, static_cast<uint32_t>(packed.size()));
        AppendLe16(a, static_cast<uint16_t>(it.dosTime >> 16));
        AppendLe16(a, static_cast<uint16_t>(it.dosTime));
        AppendLe16(a, Crc16(it.data.data(), it.data.size()));
        if (it.method != 1) AppendLe32(a, static_cast<uint32_t>(it.data.size()));
        if (it.method == 30) {
            open.push_back(start);
            continue;
        }
        a.insert(a.end(), packed.begin(), packed.end());
    }
    a.push_back(0x1A);
    a.push_back(0);
    return a;
}

class UnArc : public ::testing::Test {
  protected:
    fs::path Write(const std::vector<uint8_t>& data, const std::string& name = "t.arc") {
        fs::path p = tmp_ / name;
        test::WriteFile(p, data);
        return p;
    }
    fs::path Out() const { return tmp_ / "out"; }
    test::TempDir tmp_;
};

TEST_F(UnArc, ExtractsEveryStoredAndCompressedForm) {
    std::string text = "ARC keeps the original bytes\n";
    std::string runs = std::string(300, 'x') + "\x90\x90" + std::string(5, '\x90') + "end";
    std::string big;
    for (int i = 0; i < 3000; ++i)
        big += "line " + std::to_string(i % 97) + " of the squashed text\n";
    auto arc = Write(BuildArc({{"A.TXT", text, 2},
                               {"OLD.TXT", "old stored header", 1},
                               {"RUNS.BIN", runs, 3},
                               {"BIG.TXT", big, 9},
                               {"EMPTY", "", 2}}));
    TUnArc x;
    auto o = test::RunExtractor(x, arc, Out());
    EXPECT_EQ(o.result, 5);
    EXPECT_EQ(o.failed, 0);
    EXPECT_TRUE(o.codes.empty()) << o.messages.front();
    auto files = test::FilesUnder(Out());
    EXPECT_EQ(files["A.TXT"], text);
    EXPECT_EQ(files["OLD.TXT"], "old stored header");
    EXPECT_EQ(files["RUNS.BIN"], runs);
    EXPECT_EQ(files["BIG.TXT"], big);
    EXPECT_EQ(files["EMPTY"], "");
    // The header's DOS date and time.
    EXPECT_EQ(platform::FileMTime((Out() / "A.TXT").string()), DosToUnixTime(0x5A8C6B20));

    // Testing writes nothing and passes every entry.
    TUnArc t;
    fs::path other = tmp_ / "nothing";
    auto ot = test::RunExtractor(t, arc, {}, [&](TUnBase& b) { b.ExtractDir = other.string(); });
    EXPECT_EQ(ot.result, 5);
    EXPECT_EQ(ot.failed, 0);
    EXPECT_TRUE(test::FilesUnder(other).empty());
}

TEST_F(UnArc, DamageFailsOnlyItsEntry) {
    auto bytes =
        BuildArc({{"GOOD1", "first entry", 2}, {"BAD", "the damaged one", 3}, {"GOOD2", "third", 2}});
    // A byte of the second entry's data (its header starts after the first entry's 29 + 11 bytes).
    bytes[29 + 11 + 29 + 2] ^= 0x40;
    auto o = test::RunExtractor(*std::make_unique<TUnArc>(), Write(bytes), Out());
    EXPECT_TRUE(o.Passed("GOOD1"));
    EXPECT_TRUE(o.FailedEntry("BAD"));
    EXPECT_TRUE(o.Passed("GOOD2"));
    EXPECT_EQ(o.failed, 1);

    // Cut inside the last entry: the entries before it are still extracted, the cut one fails.
    auto whole = BuildArc({{"ONE", "complete", 2}, {"TWO", std::string(200, 'q') + "tail", 2}});
    whole.resize(whole.size() - 60);
    TUnArc x;
    auto cut = test::RunExtractor(x, Write(whole, "cut.arc"), tmp_ / "cut");
    EXPECT_TRUE(cut.Passed("ONE"));
    EXPECT_TRUE(cut.FailedEntry("TWO"));

    // An unknown method is reported, a damaged header ends the walk with an error; what came before stays.
    ArcItem odd{"ODD", "whatever", 12};
    odd.raw = Bytes("????????");
    auto walk = BuildArc({{"A", "a", 2}, odd, {"B", "b", 2}, {"C", "lost", 2}});
    walk[walk.size() - 2 - 4 - 29] = 0x55;  // the marker byte of C's header
    TUnArc y;
    auto w = test::RunExtractor(y, Write(walk, "walk.arc"), tmp_ / "walk");
    EXPECT_TRUE(w.HasCode(E_UnsupportedMethod));
    EXPECT_TRUE(w.HasCode(E_BadFileHeader));
    EXPECT_EQ(test::FilesUnder(tmp_ / "walk"), (std::map<std::string, std::string>{{"A", "a"}, {"B", "b"}}));
}

TEST_F(UnArc, GarbledEntriesNeedTheirPassword) {
    std::string secret = "garbled content, stored and squashed alike\n";
    ArcItem g1{"G1.TXT", secret, 2};
    g1.garble = "SESAME";
    ArcItem g2{"G2.TXT", secret + secret + secret, 9};
    g2.garble = "SESAME";
    auto arc = Write(BuildArc({{"PLAIN.TXT", "not garbled", 2}, g1, g2}));

    // A password given in lower case: ARC took them in upper case.
    for (const char* password : {"sesame", "SESAME"}) {
        TUnArc x;
        fs::path out = tmp_ / password;
        auto o = test::RunExtractor(x, arc, out, [&](TUnBase& b) { b.Passwords = {password}; });
        EXPECT_EQ(o.failed, 0) << password;
        auto files = test::FilesUnder(out);
        EXPECT_EQ(files["PLAIN.TXT"], "not garbled");
        EXPECT_EQ(files["G1.TXT"], secret);
        EXPECT_EQ(files["G2.TXT"], secret + secret + secret);
    }
    // A wrong password, and none: the garbled entries fail, the plain one does not.
    for (bool give : {true, false}) {
        TUnArc x;
        auto o = test::RunExtractor(x, arc, {}, [&](TUnBase& b) {
            if (give) b.Passwords = {"wrong"};
        });
        EXPECT_TRUE(o.Passed("PLAIN.TXT"));
        EXPECT_TRUE(o.FailedEntry("G1.TXT"));
        EXPECT_TRUE(o.FailedEntry("G2.TXT"));
    }
    // Asked for through OnGetPassword when the one given does not fit.
    TUnArc x;
    int asked = 0;
    auto o = test::RunExtractor(x, arc, {}, [&](TUnBase& b) {
        b.Passwords = {"wrong"};
        b.OnGetPassword = [&](TZipCommon&, const std::string&, std::string& pw, bool& again) {
            ++asked;
            pw = "Sesame";
            again = true;
        };
    });
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(asked, 1);  // the password found is kept for the next entry
}

TEST_F(UnArc, PakFoldersNestAndFlatten) {
    auto arc = Write(BuildArc({{"TOP.TXT", "top", 2},
                               {"DOCS", "", 30},
                               {"A.TXT", "in docs", 2},
                               {"SUB", "", 30},
                               {"B.TXT", "in docs/sub", 3},
                               {"", "", 31},
                               {"C.TXT", "docs again", 2},
                               {"", "", 31},
                               {"LAST.TXT", "after the folders", 2}}),
                     "f.arc");
    TUnArc x;
    auto o = test::RunExtractor(x, arc, Out(), [](TUnBase& b) { b.CreateStoredDirs = true; });
    EXPECT_EQ(o.failed, 0);
    auto files = test::FilesUnder(Out());
    EXPECT_EQ(files["TOP.TXT"], "top");
    EXPECT_EQ(files["DOCS/A.TXT"], "in docs");
    EXPECT_EQ(files["DOCS/SUB/B.TXT"], "in docs/sub");
    EXPECT_EQ(files["DOCS/C.TXT"], "docs again");
    EXPECT_EQ(files["LAST.TXT"], "after the folders");

    // Selection by folder, and without stored folders.
    TUnArc y;
    fs::path flat = tmp_ / "flat";
    auto f = test::RunExtractor(y, arc, flat, [](TUnBase& b) {
        b.FileSpec = {"DOCS/*.TXT"};
        b.UseStoredDirs = false;
    });
    EXPECT_EQ(test::FilesUnder(flat),
              (std::map<std::string, std::string>{
                  {"A.TXT", "in docs"}, {"B.TXT", "in docs/sub"}, {"C.TXT", "docs again"}}));
}

TEST_F(UnArc, HostileNamesStayInsideTheDestination) {
    auto arc = Write(BuildArc({{"..\\EVIL.TXT", "escape", 2},
                               {"..", "", 30},
                               {"X.TXT", "escape too", 2},
                               {"", "", 31},
                               {"\\ABS.TXT", "rooted", 2},
                               {"OK.TXT", "fine", 2}}));
    fs::path out = tmp_ / "deep" / "out";
    TUnArc x;
    auto o = test::RunExtractor(x, arc, out);
    EXPECT_TRUE(o.HasCode(E_InvalidFileName));
    EXPECT_EQ(test::FilesUnder(tmp_ / "deep"),
              (std::map<std::string, std::string>{{"out/ABS.TXT", "rooted"}, {"out/OK.TXT", "fine"}}));
}

// ---- the real samples: every one the peers extracted whole, through the factory (PAK included) ----

TEST(UnArcFixtures, ExtractWhatThePeersExtracted) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    int archives = 0;
    for (auto& f : fs::directory_iterator(test::FixturesDir() / "arc")) {
        std::string rel = "arc/" + f.path().filename().string();
        auto rows = test::ExpectedFor(rel);
        if (rows.empty() || rows[0].peer.find("partial") != std::string::npos) continue;
        size_t pw = rows[0].peer.find("(password ");
        std::string password =
            pw == std::string::npos ? "" : rows[0].peer.substr(pw + 10, rows[0].peer.size() - pw - 11);
        TUnArc probe;
        probe.SetArchiveFile(f.path().string());
        auto x = CreateExtractor(probe.ArcType());
        ASSERT_NE(x, nullptr) << rel;
        test::TempDir tmp;
        auto o = test::RunExtractor(*x, f.path(), tmp.Path(), [&](TUnBase& b) {
            if (!password.empty()) b.Passwords = {password};
        });
        EXPECT_EQ(o.failed, 0) << rel;
        for (const auto& row : rows)
            EXPECT_EQ(test::Sha256Hex(test::ReadFile(tmp.Path() / row.entry)), row.sha256)
                << rel << " " << row.entry;
        ++archives;
    }
    EXPECT_GE(archives, 17);
}

TEST(UnArcDamagedSamples, WrongCrcIsReported) {
    VARNOK_REQUIRE_FIXTURE(path, "arc/unarcrs_wrongcrc16.arc");
    TUnArc x;
    auto o = test::RunExtractor(x, path, {});
    EXPECT_TRUE(o.FailedEntry("LICENSE"));
    EXPECT_EQ(o.failed, 1);
    // The distilled PAK sample has a damaged entry too (no peer extracted it whole).
    VARNOK_REQUIRE_FIXTURE(pak, "arc/unarcrs_license.pak");
    TUnArc y;
    auto p = test::RunExtractor(y, pak, {});
    EXPECT_FALSE(p.threw);
}

}  // namespace
}  // namespace varnok
