// ARC and PAK entry headers (29 bytes; 25 for the oldest stored entries of method 1).
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace varnok::arc {

enum : uint8_t { kMarker = 0x1A, kEnd = 0, kDirectory = 30, kEndOfDirectory = 31 };

struct Header {
    uint64_t pos = 0;
    uint8_t method = 0;  // header type: 0 end, 1-11 methods, 30 folder, 31 end of folder
    std::string name;    // raw bytes of the 13-byte field up to its zero byte
    uint32_t packedSize = 0;
    uint32_t dosTime = 0;  // time in the low half (halves already exchanged)
    uint16_t crc = 0;
    uint32_t unpackedSize = 0;
    uint64_t dataPos = 0;
    uint64_t nextPos = 0;
};

enum class ReadResult { Ok, End, Bad };

// Reads a header; End for the end marker (type 0) or the end of the file.
ReadResult ReadHeader(const platform::File& f, uint64_t pos, uint64_t fileSize, Header& h);

}  // namespace varnok::arc
