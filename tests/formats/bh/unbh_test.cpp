// TUnBh on archives built here (no tool writes BH): stored, fused (static Huffman) and deflated entries, the
// traditional cipher with both key schedules, passwords, folders and labels, long names, damage, hostile
// names.
#include <gtest/gtest.h>
#include <zlib.h>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/zipcrypt.h"
#include "archive/formats/bh/unbh.h"
#include "tests/formats/lzh/extract_harness.h"
#include "tests/formats/lzh/lzh_test_util.h"
#include "tests/formats/lzh/test_data.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::ExtractOptions;
using test::RunExtractor;

constexpr uint32_t kDosTime = 0x52A46A8C;  // 2021-05-04 13:20:24

struct Entry {
    std::string name;
    std::string data;             // what the entry holds
    uint8_t method = 0;           // 0 stored, 1 fused, 2 and 8 deflate
    std::vector<uint8_t> packed;  // the compressed form (stored and deflate are made here)
    uint8_t version = 3;
    std::string password;    // encrypted when not empty
    bool timeCheck = false;  // flag bit 3: the time's high byte checks the password
    uint16_t attributes = 0x20;
    std::string extra;
    std::string alsoFits;  // a wrong password the header's one-byte check lets through as well
};

std::vector<uint8_t> RawDeflate(const std::string& s) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, s.size()) + 16);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.data()));
    z.avail_in = static_cast<uInt>(s.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A fused stream of one block whose literal code is the single symbol c: n codes, no code bits.
std::vector<uint8_t> FusedRun(char c, uint16_t n) {
    test::BitWriter w;
    w.Put(n, 16);
    w.Put(0, 5), w.Put(0, 5);                        // code-length code: one symbol, no bits
    w.Put(0, 9), w.Put(static_cast<uint8_t>(c), 9);  // literals: the one symbol c
    w.Put(0, 4), w.Put(0, 4);                        // positions: one symbol
    return w.Finish();
}

std::vector<uint8_t> BuildBh(const std::vector<Entry>& entries) {
    std::vector<uint8_t> out;
    for (const Entry& e : entries) {
        std::vector<uint8_t> payload = e.packed;
        if (e.method == 0 && payload.empty()) payload.assign(e.data.begin(), e.data.end());
        if ((e.method == 2 || e.method == 8) && payload.empty()) payload = RawDeflate(e.data);
        const uint32_t crc = Crc32(e.data.data(), e.data.size());
        uint8_t flags = e.timeCheck ? 0x08 : 0;
        std::vector<uint8_t> head;
        if (!e.password.empty()) {
            flags |= 1;
            ZipCipher c;
            head.resize(12);
            // The header's check is one byte: a header that the wrong passwords of these tests would pass by
            // chance is made again, so that the tests do not fail once in a few hundred runs.
            auto passes = [&](const char* pw) {
                ZipCipher probe;
                return probe.CheckCryptHeader(head.data(), pw, e.timeCheck ? 0x08 : 0, kDosTime, crc);
            };
            auto passesAWrongOne = [&] {
                if (!e.alsoFits.empty() && !passes(e.alsoFits == "(empty)" ? "" : e.alsoFits.c_str())) return true;
                for (const char* wrong : {"", "x", "y", "z", "w", "one", "two"}) {
                    const bool meant = e.alsoFits == (*wrong ? wrong : "(empty)");
                    if (!meant && passes(wrong)) return true;
                }
                return false;
            };
            do {
                c = ZipCipher();
                c.MakeCryptHeader(e.password, e.timeCheck ? (kDosTime & 0xFFFF) << 16 : crc, head.data());
            } while (passesAWrongOne());
            // Before version 3 the data's key stream starts again from the password, and stored data stays
            // plain.
            if (e.version < 3) c.InitKeys(e.password);
            if (e.version >= 3 || e.method != 0) c.Encrypt(payload.data(), payload.size());
        }
        std::vector<uint8_t> h(37, 0);
        std::memcpy(h.data(), "BH\x05\x07", 4);
        PutLe16(&h[4], static_cast<uint16_t>(37 + e.name.size() + e.extra.size()));
        h[6] = 37;
        h[7] = e.version;
        h[8] = e.version;
        h[9] = flags;
        h[10] = e.method;
        PutLe32(&h[11], kDosTime);
        PutLe32(&h[15], static_cast<uint32_t>(head.size() + payload.size()));
        PutLe32(&h[19], static_cast<uint32_t>(e.data.size()));
        PutLe32(&h[23], crc);
        PutLe16(&h[27], e.attributes);
        PutLe16(&h[33], static_cast<uint16_t>(e.name.size()));
        PutLe16(&h[35], static_cast<uint16_t>(e.extra.size()));
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.extra.begin(), e.extra.end());
        out.insert(out.end(), head.begin(), head.end());
        out.insert(out.end(), payload.begin(), payload.end());
    }
    return out;
}

class UnBh : public ::testing::Test {
  protected:
    test::ExtractLog Run(const std::vector<uint8_t>& archive, ExtractOptions o = {}) {
        test::WriteFile(dir_ / "t.bh", archive);
        TUnBh x;
        return RunExtractor(x, dir_ / "t.bh", dir_ / "out", o);
    }
    std::string Out(const std::string& name) { return test::ReadText(dir_ / "out" / name); }
    test::TempDir dir_;
};

TEST_F(UnBh, EveryMethodFoldersLabelsAndLongNames) {
    const std::string text =
        "The quick brown fox jumps over the lazy dog. " + std::string(3000, 'z') + " end";
    const std::string longName = std::string(150, 'n') + "/" + std::string(149, 'm');  // 300 bytes
    auto log = Run(BuildBh(
        {{.name = "stored.txt", .data = "kept as it is"},
         {.name = "fused.txt", .data = std::string(1000, 'A'), .method = 1, .packed = FusedRun('A', 1000)},
         {.name = "docs/deflate8.txt", .data = text, .method = 8, .extra = "xyz"},
         {.name = "deflate2.txt", .data = text, .method = 2},
         {.name = "docs", .attributes = 0x10},
         {.name = "LABEL", .attributes = 0x08},
         {.name = longName, .data = "long"},
         {.name = "empty", .data = ""}}));
    EXPECT_EQ(log.failed, 0);
    EXPECT_TRUE(log.errors.empty());
    EXPECT_EQ(log.result, 6);
    EXPECT_EQ(Out("stored.txt"), "kept as it is");
    EXPECT_EQ(Out("fused.txt"), std::string(1000, 'A'));
    EXPECT_EQ(Out("docs/deflate8.txt"), text);
    EXPECT_EQ(Out("deflate2.txt"), text);
    EXPECT_EQ(Out(longName), "long");
    EXPECT_EQ(Out("empty"), "");
    EXPECT_FALSE(fs::exists(dir_ / "out/LABEL"));
    EXPECT_EQ(fs::last_write_time(dir_ / "out/docs/deflate8.txt"),
              fs::last_write_time(dir_ / "out/stored.txt"));
}

TEST_F(UnBh, FusedDataAsLhaCompressesIt) {
    // -lh5- uses the same stream with the same 8 KiB dictionary.
    VARNOK_REQUIRE_TOOL("lha");
    const auto data = test::MixedData(300 * 1024, 41);
    test::WriteFile(dir_ / "src/f.bin", data);
    ASSERT_EQ(test::Run("cd " + test::Quote(dir_ / "src") + " && lha a2qo5 ../f.lzh f.bin >/dev/null 2>&1"),
              0);
    auto lzh = test::ReadFile(dir_ / "f.lzh");
    auto entries = test::WalkLzh(lzh);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0].method, "-lh5-");
    std::vector<uint8_t> packed(
        lzh.begin() + static_cast<ptrdiff_t>(entries[0].dataOffset),
        lzh.begin() + static_cast<ptrdiff_t>(entries[0].dataOffset + entries[0].packed));
    const std::string s(data.begin(), data.end());
    auto log = Run(BuildBh({{.name = "f.bin", .data = s, .method = 1, .packed = packed},
                            {.name = "g.bin", .data = s, .method = 1, .packed = packed, .password = "k"}}),
                   {.passwords = {"k"}});
    EXPECT_EQ(log.failed, 0);
    EXPECT_EQ(test::ReadFile(dir_ / "out/f.bin"), data);
    EXPECT_EQ(test::ReadFile(dir_ / "out/g.bin"), data);
}

TEST_F(UnBh, EncryptedEntriesOfBothKeySchedules) {
    const std::string text = "secret text, " + std::string(500, 's');
    std::vector<Entry> entries;
    for (uint8_t version : {2, 3}) {
        const std::string v = "v" + std::to_string(version) + "_";
        entries.push_back({.name = v + "stored", .data = text, .version = version, .password = "pw"});
        entries.push_back({.name = v + "fused",
                           .data = std::string(700, 'A'),
                           .method = 1,
                           .packed = FusedRun('A', 700),
                           .version = version,
                           .password = "pw",
                           .timeCheck = true});
        entries.push_back(
            {.name = v + "deflate", .data = text, .method = 8, .version = version, .password = "pw"});
    }
    entries.push_back({.name = "plain", .data = "no secret"});
    const auto archive = BuildBh(entries);

    // The right password third in the list: no question asked.
    auto log = Run(archive, {.passwords = {"one", "two", "pw"}});
    EXPECT_EQ(log.passwordRequests, 0);
    EXPECT_EQ(log.failed, 0);
    EXPECT_EQ(Out("v2_stored"), text);
    EXPECT_EQ(Out("v3_stored"), text);
    EXPECT_EQ(Out("v2_fused"), std::string(700, 'A'));
    EXPECT_EQ(Out("v3_deflate"), text);

    // Wrong answers: asked PasswordAttempts times for the first entry, later ones fail without a question.
    fs::remove_all(dir_ / "out");
    log = Run(archive, {.answers = {"x", "y", "z", "w"}});
    EXPECT_EQ(log.passwordRequests, 3);
    EXPECT_TRUE(log.Has(E_InvalidPassword));
    EXPECT_EQ(log.failed, 6);
    EXPECT_EQ(test::ReadTree(dir_ / "out").size(), 1u);  // only "plain"
}

// One header in 256 decrypts to the right check byte under the empty password as well. The empty password is
// never tried unasked, so the password given opens the entry instead of a CRC failure.
TEST_F(UnBh, EmptyPasswordPassingTheCheckByChanceIsNotTaken) {
    const std::string text = "chance, " + std::string(3000, 'c');
    const auto archive = BuildBh({{.name = "stored", .data = text, .password = "pw", .alsoFits = "(empty)"},
                                  {.name = "deflated", .data = text, .method = 8, .password = "pw",
                                   .alsoFits = "(empty)"}});
    auto log = Run(archive, {.passwords = {"pw"}});
    EXPECT_EQ(log.failed, 0);
    EXPECT_EQ(log.passwordRequests, 0);
    EXPECT_EQ(Out("stored"), text);
    EXPECT_EQ(Out("deflated"), text);
}

TEST_F(UnBh, DamageStaysWithItsEntry) {
    auto a = BuildBh({{.name = "a.txt", .data = std::string(400, 'a') + "tail", .method = 8},
                      {.name = "b.txt", .data = "bee"}});
    a[37 + 5 + 3] ^= 0x20;  // inside a.txt's deflate stream
    for (bool testing : {false, true}) {
        auto log = Run(a, {.test = testing});
        EXPECT_TRUE(log.Failed("a.txt"));
        EXPECT_TRUE(log.Passed("b.txt"));
    }
    // Cut short: what is there is tried, nothing made up.
    a = BuildBh({{.name = "c.txt", .data = std::string(1000, 'c')}});
    a.resize(a.size() - 500);
    auto log = Run(a);
    EXPECT_TRUE(log.Failed("c.txt"));
    // A first header of size 0 ends the archive at once.
    a = BuildBh({{.name = "d.txt", .data = "dee"}});
    PutLe16(&a[4], 0);
    log = Run(a);
    EXPECT_EQ(log.result, 0);
    EXPECT_TRUE(log.verdicts.empty());
}

TEST_F(UnBh, HostileNamesStayInside) {
    auto log = Run(BuildBh({{.name = "../evil.txt", .data = "x"},
                            {.name = "..\\evil2.txt", .data = "x"},
                            {.name = "/abs/a.txt", .data = "inside"},
                            {.name = "ok.txt", .data = "ok"}}));
    EXPECT_TRUE(log.Has(E_InvalidFileName));
    EXPECT_FALSE(fs::exists(dir_ / "evil.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "evil2.txt"));
    EXPECT_EQ(Out("abs/a.txt"), "inside");
    EXPECT_EQ(Out("ok.txt"), "ok");
}

}  // namespace
}  // namespace varnok
