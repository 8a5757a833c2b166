// ACE 1.0 and 2.0 headers: the one reader of the family's blocks, for the lister and the decoding engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace varnok::ace {

enum : uint8_t { kTypeMain = 0, kTypeFile = 1, kTypeRecovery = 2, kTypeFile64 = 3 };
enum HeaderFlags : uint16_t {
    fAddSize = 0x0001,
    fComment = 0x0002,
    f64Bit = 0x0004,  // file and recovery headers of types 3..5: 64-bit sizes
    fMainMultiVolume = 0x0800,
    fMainAdvert = 0x1000,  // main header: an advertisement text follows the reserved bytes
    fSplitBefore = 0x1000,  // continued from the previous volume
    fSplitAfter = 0x2000,   // continues in the next volume
    fPassword = 0x4000,
    fSolid = 0x8000,
};

struct Block {
    uint64_t pos = 0;
    uint16_t headerCrc = 0;
    uint16_t headerSize = 0;  // bytes after the size field
    uint8_t type = 0;
    uint16_t flags = 0;
    uint64_t addSize = 0;  // data after the header
    uint64_t nextPos = 0;
    bool crcOk = false;
    // Main header.
    uint8_t versionExtract = 0, versionMadeBy = 0, hostOs = 0, volumeNumber = 0;
    // File header.
    uint64_t unpackedSize = 0;
    uint32_t dosTime = 0;
    uint32_t attributes = 0;
    uint32_t crc = 0;
    uint8_t compressionType = 0;
    uint8_t quality = 0;
    uint16_t parameters = 0;
    std::string name;  // raw bytes, "\" between folders
    // Main header: creation time and the advertisement text. Main and file headers: the packed comment
    // (DecodeComment in ace_comment.h turns it into text), empty without one.
    uint32_t creationTime = 0;
    std::string advert;
    std::vector<uint8_t> comment;

    // A file header (the 32-bit kind, or the 64-bit kind of later writers).
    bool IsFile() const { return type == kTypeFile || type == kTypeFile64; }
};

enum class ReadResult { Ok, End, Bad };

// Reads the block at pos. The main header carries "**ACE**" at offset 7.
ReadResult ReadBlock(const platform::File& f, uint64_t pos, uint64_t fileSize, Block& b);

}  // namespace varnok::ace
