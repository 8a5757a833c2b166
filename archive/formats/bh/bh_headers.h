// BH (BlakHole) entry headers: 37 fixed bytes, the name, an extra field, then the data.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace varnok::bh {

inline constexpr uint32_t kSignature = 0x07054842;  // "BH" 05 07
inline constexpr size_t kFixedSize = 37;

struct Header {
    uint64_t pos = 0;
    uint16_t headerSize = 0;  // 37 + name + extra; 0 ends the archive
    uint8_t fixedLength = 0;
    uint8_t versionMadeBy = 0;
    uint8_t versionNeeded = 0;
    uint8_t flags = 0;  // bit 0 encrypted, bits 1-2 deflate option, bit 3 time is the password check
    uint8_t method = 0;
    uint32_t dosTime = 0;
    uint32_t packedSize = 0;  // includes a 12-byte encryption header
    uint32_t unpackedSize = 0;
    uint32_t crc = 0;
    uint16_t attributes = 0;
    std::string name;  // raw, "\" between folders as stored
    uint16_t extraLength = 0;
    uint64_t dataPos = 0;
    uint64_t nextPos = 0;
    bool encrypted() const { return flags & 1; }
    bool isDirectory() const { return attributes & 0x10; }
};

enum class ReadResult { Ok, End, Bad };

ReadResult ReadHeader(const platform::File& f, uint64_t pos, uint64_t fileSize, Header& h);

}  // namespace varnok::bh
