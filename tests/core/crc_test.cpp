#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "archive/core/crc.h"
#include "archive/core/errors.h"

namespace varnok {
namespace {

TEST(Crc, KnownValues) {
    EXPECT_EQ(~UpdateCrc32(0xFFFFFFFFu, "abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(UpdateCrc16(0, "abc", 3), 0x9738);
    EXPECT_EQ(Crc16("123456789", 9), 0xBB3D);
    EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(Crc, SlicedMatchesBytewiseAtEveryAlignmentAndLength) {
    std::vector<uint8_t> data(1000);
    std::iota(data.begin(), data.end(), 7);
    for (size_t start = 0; start < 9; ++start) {
        for (size_t len : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 500u, 991u}) {
            uint32_t slow = 0xFFFFFFFFu;
            for (size_t i = 0; i < len; ++i)
                slow = UpdateCrc32Byte(slow, data[start + i]);
            EXPECT_EQ(UpdateCrc32(0xFFFFFFFFu, data.data() + start, len), slow) << start << " " << len;
        }
    }
    for (size_t len : {0u, 1u, 7u, 8u, 9u, 17u, 999u}) {
        uint16_t slow = 0;
        for (size_t i = 0; i < len; ++i)
            slow = static_cast<uint16_t>(Crc16Table()[(slow ^ data[i]) & 0xFF] ^ (slow >> 8));
        EXPECT_EQ(UpdateCrc16(0, data.data(), len), slow) << len;
    }
    // Running over pieces equals running over the whole.
    uint32_t whole = UpdateCrc32(0xFFFFFFFFu, data.data(), data.size());
    uint32_t parts =
        UpdateCrc32(UpdateCrc32(0xFFFFFFFFu, data.data(), 333), data.data() + 333, data.size() - 333);
    EXPECT_EQ(whole, parts);
}

TEST(Errors, TableTextsAndUnknownCodes) {
    EXPECT_EQ(ErrorText(E_CrcCheck), "File fails CRC check");
    EXPECT_EQ(ErrorText(E_UserCanceled), "User canceled");
    EXPECT_EQ(ErrorText(E_64BitHeader), "64 bit hearder");
    EXPECT_EQ(ErrorText(E_DirNotExistCreate), "Directory does not exist... Create?");
    EXPECT_EQ(ErrorText(12345), "Error 12345");
    EXPECT_FALSE(IsKnownError(25103));
    ArchiveError e(E_OpenFile, "a.zip");
    EXPECT_EQ(e.Code(), 25235);
    EXPECT_STREQ(e.what(), "Error opening file");
    EXPECT_EQ(e.FileName(), "a.zip");
}

}  // namespace
}  // namespace varnok
