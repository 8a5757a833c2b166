// CRC-32 (ZIP, gzip) and CRC-16/ARC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace varnok {

// The CRC-32 table (reflected polynomial 0xEDB88320); the ZIP cipher's key update uses it too.
const uint32_t* Crc32Table();
const uint16_t* Crc16Table();

// Running CRC-32 without pre- or post-inversion: start at 0xFFFFFFFF and complement at the end.
uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t len);
inline uint32_t UpdateCrc32Byte(uint32_t crc, uint8_t b) {
    return Crc32Table()[(crc ^ b) & 0xFF] ^ (crc >> 8);
}
// The finished CRC-32 of a block.
inline uint32_t Crc32(const void* data, size_t len) {
    return ~UpdateCrc32(0xFFFFFFFFu, data, len);
}
inline uint32_t Crc32(std::span<const uint8_t> d) {
    return Crc32(d.data(), d.size());
}

// The running CRC-32 after n zero bytes, in O(log n).
uint32_t UpdateCrc32Zeros(uint32_t crc, uint64_t n);

// Running CRC-16/ARC (reflected polynomial 0xA001), started at 0.
uint16_t UpdateCrc16(uint16_t crc, const void* data, size_t len);
inline uint16_t Crc16(const void* data, size_t len) {
    return UpdateCrc16(0, data, len);
}
// The running CRC-16 after n zero bytes, in O(log n).
uint16_t UpdateCrc16Zeros(uint16_t crc, uint64_t n);

}  // namespace varnok
