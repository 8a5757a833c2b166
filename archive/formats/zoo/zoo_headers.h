// ZOO archive header and directory entries (ZOO 2.x).
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace varnok::zoo {

inline constexpr uint32_t kTag = 0xFDC4A7DC;

struct ArchiveHeader {
    uint32_t firstEntry = 0;
    uint8_t majorVersion = 0, minorVersion = 0, type = 0;
    uint32_t commentPos = 0;
    uint16_t commentLength = 0;
};

struct Entry {
    uint64_t pos = 0;
    uint8_t type = 0;
    uint8_t method = 0;
    uint32_t next = 0;
    uint32_t dataPos = 0;
    uint32_t dosTime = 0;  // halves exchanged into time-low order
    uint16_t crc = 0;
    uint32_t unpackedSize = 0;
    uint32_t packedSize = 0;
    uint8_t majorVersion = 0, minorVersion = 0;
    bool deleted = false;
    uint32_t commentPos = 0;
    uint16_t commentLength = 0;
    std::string shortName;  // raw
    std::string longName;   // raw, may be empty
    std::string dirName;    // raw, "/" or "\" separated, may be empty
    uint16_t systemId = 1;  // the system that wrote the entry: 0 Unix, 1 MS-DOS, 2 portable
    uint8_t timeZone = 0x7F;
    bool hasUnixMode = false;
    uint32_t unixMode = 0;
    // The stored name with its folder ("dir/name", the folder's separators as stored); the long name wins
    // over the short one.
    std::string FullName() const;
};

enum class ReadResult { Ok, End, Bad };

bool ReadArchiveHeader(const platform::File& f, uint64_t fileSize, ArchiveHeader& h);
// Reads the directory entry at pos; End when the entry is the empty end-of-chain entry.
ReadResult ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, Entry& e);

}  // namespace varnok::zoo
