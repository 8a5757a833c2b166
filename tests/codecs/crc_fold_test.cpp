// The CRC-32 and CRC-16 of long inputs go through carry-less folding, short ones through the sliced
// tables. The hazards are where the two meet: the length at which folding starts, a tail that is not
// a whole 16-byte block, an input that does not start on a 16-byte boundary, a running CRC handed in
// from an earlier piece (the register is added to the first block), and constants for one width used
// with the other. Every case is checked against a plain bit-at-a-time CRC written out here.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "archive/core/crc.h"

namespace varnok {
namespace {

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        b = static_cast<uint8_t>(seed);
    }
    return v;
}

uint32_t BitwiseCrc(uint32_t crc, const uint8_t* p, size_t n, uint32_t reflectedPoly) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? (crc >> 1) ^ reflectedPoly : crc >> 1;
    }
    return crc;
}

TEST(CrcFolding, EveryLengthAroundTheFoldingThresholdAndEveryTail) {
    const auto data = Noise(2048 + 64, 3);
    for (size_t len = 200; len <= 600; ++len) {
        EXPECT_EQ(UpdateCrc32(0xFFFFFFFFu, data.data(), len),
                  BitwiseCrc(0xFFFFFFFFu, data.data(), len, 0xEDB88320u))
            << len;
        EXPECT_EQ(UpdateCrc16(0, data.data(), len), BitwiseCrc(0, data.data(), len, 0xA001u)) << len;
    }
}

TEST(CrcFolding, UnalignedStartsAndLargeBlocks) {
    const auto data = Noise(300000, 9);
    for (size_t start = 0; start < 17; ++start) {
        for (size_t len : {256u, 1000u, 4095u, 65536u, 131072u + 7u, 299000u}) {
            const uint8_t* p = data.data() + start;
            EXPECT_EQ(UpdateCrc32(0xFFFFFFFFu, p, len), BitwiseCrc(0xFFFFFFFFu, p, len, 0xEDB88320u))
                << start << " " << len;
            EXPECT_EQ(UpdateCrc16(0, p, len), BitwiseCrc(0, p, len, 0xA001u)) << start << " " << len;
        }
    }
}

TEST(CrcFolding, RunningRegisterFromAnEarlierPieceIsCarriedIntoTheFold) {
    const auto data = Noise(100000, 21);
    const uint32_t whole32 = BitwiseCrc(0xFFFFFFFFu, data.data(), data.size(), 0xEDB88320u);
    const uint32_t whole16 = BitwiseCrc(0, data.data(), data.size(), 0xA001u);
    for (size_t cut : {1u, 100u, 255u, 256u, 4097u, 70000u}) {
        uint32_t c32 = UpdateCrc32(0xFFFFFFFFu, data.data(), cut);
        c32 = UpdateCrc32(c32, data.data() + cut, data.size() - cut);
        EXPECT_EQ(c32, whole32) << cut;
        uint16_t c16 = UpdateCrc16(0, data.data(), cut);
        c16 = UpdateCrc16(c16, data.data() + cut, data.size() - cut);
        EXPECT_EQ(c16, whole16) << cut;
    }
}

TEST(CrcFolding, AllZeroAndAllOnesBlocksKeepTheKnownChecks) {
    // Zeros leave a zero CRC-16 register at zero: the fold must not invent bits.
    std::vector<uint8_t> zeros(4096, 0);
    EXPECT_EQ(UpdateCrc16(0, zeros.data(), zeros.size()), 0);
    EXPECT_EQ(UpdateCrc32(0xFFFFFFFFu, zeros.data(), zeros.size()),
              BitwiseCrc(0xFFFFFFFFu, zeros.data(), zeros.size(), 0xEDB88320u));
    std::vector<uint8_t> ones(4096, 0xFF);
    EXPECT_EQ(UpdateCrc32(0, ones.data(), ones.size()), BitwiseCrc(0, ones.data(), ones.size(), 0xEDB88320u));
    EXPECT_EQ(UpdateCrc16(0xFFFF, ones.data(), ones.size()),
              BitwiseCrc(0xFFFF, ones.data(), ones.size(), 0xA001u));
}

}  // namespace
}  // namespace varnok
