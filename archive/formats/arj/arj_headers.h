// ARJ headers: the main header and the local file headers, each a basic header with its CRC-32 and any number
// of extended headers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace varnok::arj {

inline constexpr uint16_t kHeaderId = 0xEA60;
inline constexpr size_t kMaxBasicSize = 2600;

enum Flags : uint8_t {
    fGarbled = 0x01,
    fVolume = 0x04,   // main header: multi-volume archive; file header: continues in the next volume
    fExtFile = 0x08,  // continued from the previous volume
    fPathSym = 0x10,  // "\" was translated to "/"
    fBackup = 0x20,
};

enum FileType : uint8_t {
    ftBinary = 0,
    ftText = 1,
    ftComment = 2,
    ftDirectory = 3,
    ftVolumeLabel = 4,
    ftChapter = 5
};

struct Header {
    uint64_t pos = 0;        // where the id is
    uint16_t basicSize = 0;  // 0: end of archive
    uint8_t firstHeaderSize = 0;
    uint8_t archiverVersion = 0;
    uint8_t minVersion = 0;
    uint8_t hostOs = 0;
    uint8_t flags = 0;
    uint8_t method = 0;
    uint8_t fileType = 0;
    uint8_t passwordModifier = 0;
    uint32_t dosTime = 0;
    uint32_t packedSize = 0;
    uint32_t unpackedSize = 0;
    uint32_t crc = 0;
    uint16_t fileSpecPos = 0;
    uint16_t accessMode = 0;
    uint16_t hostData = 0;
    uint32_t extFilePos = 0;  // with fExtFile: where this part starts in the whole file
    std::string name;         // raw bytes
    std::string comment;      // raw bytes
    bool crcOk = false;       // the basic header's CRC-32 matched
    uint64_t dataPos = 0;     // first byte of the compressed data
    uint64_t nextPos = 0;     // the next header (after the data)
};

enum class ReadResult { Ok, End, Bad };

// Reads the header at pos. End: a basic-header size of 0. Bad: wrong id, a size out of range, or the file
// ends.
ReadResult ReadHeader(const platform::File& f, uint64_t pos, uint64_t fileSize, Header& h);

}  // namespace varnok::arj
