// Test-only helpers for the LZH-family decoder tests: a hashing sink, SHA-256, an MSB-first bit
// writer for hand-made streams, minimal LZH and ARJ header walkers that locate each entry's data,
// and the files the peers extracted from a fixture.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/core/stream.h"
#include "tests/support/sha256.h"

namespace varnok::test {

// Keeps size, CRC-16, CRC-32 and SHA-256 of what is written, and optionally the bytes; records the
// size of every Write call.
class HashSink final : public ByteSink {
  public:
    explicit HashSink(bool keep = false) : keep_(keep) {}
    void Write(const uint8_t* buf, size_t n) override;
    uint64_t size = 0;
    uint16_t crc16 = 0;
    uint32_t crc32 = 0xFFFFFFFFu;
    size_t writes = 0;
    size_t smallestNonFinalWrite = SIZE_MAX;
    std::vector<uint8_t> data;
    std::string Sha() { return sha_.FinishHex(); }
    uint32_t Crc32() const { return ~crc32; }

  private:
    bool keep_;
    size_t lastWrite_ = 0;
    Sha256 sha_;
};

// MSB-first bit writer.
class BitWriter {
  public:
    void Put(uint32_t value, int bits);
    std::vector<uint8_t> Finish();  // pads the last byte with zeros

  private:
    std::vector<uint8_t> out_;
    uint32_t acc_ = 0;
    int n_ = 0;
};

struct LzhEntry {
    std::string method;  // "-lh5-"
    std::string name;    // directory (with '/') + file name
    int level = 0;
    uint64_t dataOffset = 0;
    uint64_t packed = 0;
    uint64_t unpacked = 0;
    uint16_t crc16 = 0;
    bool hasCrc = true;
};
// Walks the LZH headers of levels 0 to 3 (searching past a self-extractor stub when needed).
std::vector<LzhEntry> WalkLzh(const std::vector<uint8_t>& file);

struct ArjEntry {
    std::string name;
    int method = 0;
    int fileType = 0;
    int flags = 0;
    uint8_t passwordModifier = 0;
    uint64_t dataOffset = 0;
    uint64_t packed = 0;
    uint64_t unpacked = 0;
    uint32_t crc32 = 0;
};
// Walks the ARJ headers (the main header is skipped).
std::vector<ArjEntry> WalkArj(const std::vector<uint8_t>& file);

// The files of one archive (path relative to the fixtures folder) that a peer extracted whole, as the LZH
// and ARJ tests compare them.
struct ExpectedRow {
    std::string entry;
    uint64_t size = 0;
    std::string sha;
    std::string peer;
};
std::vector<ExpectedRow> ExpectedFor(const std::string& archive);

}  // namespace varnok::test
