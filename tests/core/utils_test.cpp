#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "archive/core/diskmanager.h"
#include "archive/core/utils.h"
#include "archive/core/zipcrypt.h"
#include "platform/datetime.h"

namespace varnok {
namespace {

class InUtc : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

TEST(Percent, RoundsAndClamps) {
    EXPECT_EQ(PercentOf(1, 0), 0);
    EXPECT_EQ(PercentOf(1, 8), 12);  // 12.5 rounds to even
    EXPECT_EQ(PercentOf(3, 8), 38);  // 37.5 rounds to even
    EXPECT_EQ(PercentOf(-5, 10), 0);
    EXPECT_EQ(PercentOf(30, 10), 100);
    EXPECT_EQ(PercentOf(int64_t{5} << 40, int64_t{10} << 40), 50);
}

TEST(Ratio, SavedSpace) {
    EXPECT_EQ(RatioOf(99, 100), 1);
    EXPECT_EQ(RatioOf(50, 100), 50);
    EXPECT_EQ(RatioOf(100, 100), 0);
    EXPECT_EQ(RatioOf(0, 100), 0);
    EXPECT_EQ(RatioOf(150, 100), 0);
    // Large values are scaled down first and must not overflow.
    EXPECT_EQ(RatioOf(uint64_t{1} << 40, uint64_t{1} << 41), 50);
}

TEST_F(InUtc, DosDates) {
    int64_t epoch1980 = platform::UtcToUnix({1980, 1, 1, 0, 0, 0});
    EXPECT_EQ(DosToUnixTime(0), epoch1980);
    // Month 0 is impossible.
    uint32_t month0 = (10u << 25) | (0u << 21) | (5u << 16);
    EXPECT_EQ(DosToUnixTime(month0), epoch1980);
    // 2024-02-29 13:45:58
    uint32_t v = (44u << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 29u;
    EXPECT_EQ(DosToUnixTime(v), platform::UtcToUnix({2024, 2, 29, 13, 45, 58}));
    EXPECT_EQ(UnixToDosTime(DosToUnixTime(v)), v);
    // February 30 does not exist.
    uint32_t bad = (44u << 25) | (2u << 21) | (30u << 16);
    EXPECT_EQ(DosToUnixTime(bad), epoch1980);
    EXPECT_EQ(ArchiveUnixTime(0), platform::UtcToUnix({1980, 1, 1, 0, 1, 0}));
    EXPECT_EQ(ArchiveUnixTime(1234567890), 1234567890);
    EXPECT_EQ(UnixToDosTime(0), UnixToDosTime(epoch1980));
}

TEST(Octal, FieldsBothWays) {
    EXPECT_EQ(ToOctal(8, 8, false), std::string("0000010 "));
    EXPECT_EQ(ToOctal(8, 8, true), std::string("0000010\0", 8));
    EXPECT_EQ(ToOctal(0777, 4, false), std::string("777 "));
    EXPECT_EQ(FromOctal(" 0000644\0"), 0644u);
    EXPECT_EQ(FromOctal("12x3"), 0123u);
}

TEST(Names, ConversionsAndPaths) {
    EXPECT_EQ(ToAnsiName("DIR\\FILE.TXT", false), "DIR/FILE.TXT");
    EXPECT_EQ(ToAnsiName("\x81"
                         "ber",
                         true),
              "\xC3\xBC"
              "ber");  // CP437 u-umlaut
    EXPECT_EQ(ToOemName("\xC3\xBC"
                        "ber",
                        true),
              "\x81"
              "ber");
    EXPECT_EQ(AppendSlash("a"), "a/");
    EXPECT_EQ(AppendSlash(""), "");
    EXPECT_EQ(RemoveSlash("a/"), "a");
    EXPECT_EQ(BaseNameLength("archive.tar.gz"), 11u);
    std::string s = "a;b;c";
    EXPECT_EQ(SplitAt(s, ";"), "a");
    EXPECT_EQ(s, "b;c");
    std::string t = "abc";
    EXPECT_EQ(SplitAt(t, ";"), "abc");
    EXPECT_EQ(t, "");
    EXPECT_EQ(DiskNumberOfLabel("PKBACK# 003"), 3);
    EXPECT_EQ(DiskNumberOfLabel("BACKUP"), 0);
    EXPECT_EQ(DiskNumberOfLabel("PKBACK# 00x"), 0);
    EXPECT_EQ(DeflateName(6), "DeflateS");
    EXPECT_EQ(DeflateName(4), "DeflateF");
    EXPECT_EQ(DeflateName(2), "DeflateX");
    EXPECT_EQ(DeflateName(0), "DeflateN");
    EXPECT_EQ(ExtractFileExt("dir.x/name"), "");
    EXPECT_EQ(ExtractFileExt("a/b.TXT"), ".TXT");
    EXPECT_TRUE(IsCompressMagic(0x9D1F));
    EXPECT_FALSE(IsCompressMagic(0x1F9D));
}

TEST(FileAttr, DefaultsAndRules) {
    TvnFileAttr a;
    EXPECT_FALSE(a.ftDirectory());
    EXPECT_FALSE(a.ftAnyFile());
    EXPECT_TRUE(a.ftZeroAttr());
    EXPECT_EQ(a.ftFileAttr(), 47);
    // A read-only file with the archive bit is decided by ftArchive alone.
    a.SetReadOnly(false);
    EXPECT_TRUE(a.AttributePasses(0x21));
    a.SetArchive(false);
    EXPECT_FALSE(a.AttributePasses(0x21));
    EXPECT_FALSE(a.AttributePasses(0x01));   // plain read-only: ftReadOnly
    EXPECT_TRUE(a.AttributePasses(0));       // no attributes: ftZeroAttr
    EXPECT_FALSE(a.AttributePasses(0x100));  // temporary never
    // Clearing every flag means no restriction at all.
    TvnFileAttr b;
    b.SetArchive(false);
    b.SetHidden(false);
    b.SetReadOnly(false);
    b.SetSysFile(false);
    b.SetVolumeID(false);
    EXPECT_FALSE(b.ftAnyFile());
    b.SetZeroAttr(false);
    EXPECT_TRUE(b.ftAnyFile());
    EXPECT_TRUE(b.ftArchive() && b.ftHidden() && b.ftReadOnly() && b.ftDirectory() && b.ftZeroAttr());
    EXPECT_EQ(b.ftFileAttr(), 63);
    TvnFileAttr c;
    c.SetFileAttr(0x21);
    EXPECT_TRUE(c.ftArchive() && c.ftReadOnly());
    EXPECT_FALSE(c.ftHidden());
    c.SetFileAttr(128);
    EXPECT_TRUE(c.ftAnyFile());
}

TEST(ZipCipher, HeaderCheckAndRoundTrip) {
    ZipCipher enc, dec;
    uint8_t header[12];
    const uint32_t crc = 0xA1B2C3D4;
    enc.MakeCryptHeader("secret", crc, header);
    std::string text = "The quick brown fox";
    std::string data = text;
    enc.Encrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
    EXPECT_NE(data, text);
    EXPECT_FALSE(dec.CheckCryptHeader(header, "Secret", 0, 0, crc) && false);
    ASSERT_TRUE(dec.CheckCryptHeader(header, "secret", 0, 0, crc));
    dec.Decrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
    EXPECT_EQ(data, text);
    // With a data descriptor the check byte is the high byte of the time.
    ZipCipher e2, d2;
    e2.MakeCryptHeader("pw", 0xAB00u << 16, header);
    EXPECT_TRUE(d2.CheckCryptHeader(header, "pw", 0x08, 0xAB00, 0));
    // Known keys: the state after "a" decrypts a known byte the same way every time.
    ZipCipher k;
    k.InitKeys("");
    EXPECT_EQ(k.CipherByte(),
              static_cast<uint8_t>((((0x34567890u & 0xFFFF) | 2) * (((0x34567890u & 0xFFFF) | 2) ^ 1)) >> 8));
}

}  // namespace
}  // namespace varnok
