// Helpers for the ZIP method decoder tests: a bit writer for hand-built streams, sources that deliver data
// in small pieces, raw deflate through zlib, sample data, SHA-256, and a small walker over ZIP local headers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/core/stream.h"

#include "tests/support/sha256.h"

namespace varnok::test {

// Writes bits least significant first, as ZIP's methods pack them.
class BitWriter {
  public:
    void Bits(uint32_t value, unsigned count);
    // A prefix code as deflate sends it: most significant code bit first.
    void Code(uint32_t code, unsigned length);
    void AlignToByte();
    void Byte(uint8_t b) { Bits(b, 8); }
    std::vector<uint8_t> Finish();

  private:
    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;
    unsigned count_ = 0;
};

// Canonical prefix codes (RFC 1951 section 3.2.2) for a list of code lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

// Deflate stream building blocks for hand-made blocks.
struct DeflateWriter {
    BitWriter w;
    // Fixed-code symbols.
    void FixedLitLen(unsigned symbol);
    void FixedDistance(unsigned symbol) { w.Code(symbol, 5); }
    // A dynamic block header for the given code lengths (code lengths sent without repeat codes unless
    // `raw` supplies the code-length symbols and their extra bits explicitly).
    void DynamicHeader(bool last, const std::vector<uint8_t>& litlen, const std::vector<uint8_t>& dist);
    // The header fields and a given code-length code, then raw code-length symbols {symbol, extra}.
    void DynamicHeaderRaw(bool last, unsigned hlit, unsigned hdist,
                          const std::vector<uint8_t>& precodeLengths,
                          const std::vector<std::pair<unsigned, unsigned>>& symbols);
};

// Delivers at most `piece` bytes per Read.
class TrickleSource final : public ByteSource {
  public:
    TrickleSource(const std::vector<uint8_t>& data, size_t piece) : data_(data), piece_(piece) {}
    size_t Read(uint8_t* buf, size_t n) override;
    size_t Position() const { return pos_; }

  private:
    const std::vector<uint8_t>& data_;
    size_t piece_;
    size_t pos_ = 0;
};

// Raw deflate (no zlib header) of `data` by zlib. `flushEvery` > 0 inserts Z_SYNC_FLUSH / Z_FULL_FLUSH points
// alternately and switches the level and strategy at those points (mixing block types).
std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& data, int level, int strategy = 0,
                                 int windowBits = 15, size_t flushEvery = 0);
// Raw inflate by zlib (for cross-checks).
std::vector<uint8_t> ZlibInflate(const std::vector<uint8_t>& compressed, size_t expected);

// Sample data of several kinds, deterministic for a seed.
std::vector<uint8_t> TextData(size_t size, uint32_t seed);
std::vector<uint8_t> RandomData(size_t size, uint32_t seed);
std::vector<uint8_t> RunData(size_t size, uint32_t seed);  // runs and short periods (distances 1..7)
std::vector<uint8_t> MixedData(size_t size, uint32_t seed);


// One entry of a ZIP file as its headers describe it.
struct ZipEntry {
    std::string name;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t dataOffset = 0;  // position of the entry's compressed data
};

// Walks the local headers from the start of the file. Sizes and CRC come from the central directory record
// of the same entry when the local header defers them (flag bit 3).
std::vector<ZipEntry> ReadZipEntries(const std::vector<uint8_t>& file);

}  // namespace varnok::test
