// LZH/LHA headers of levels 0 to 3 with their extended headers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace varnok::lzh {

struct Header {
    uint64_t pos = 0;
    uint8_t level = 0;
    std::string method;       // "-lh5-" and the like, five characters
    uint64_t packedSize = 0;  // of the data alone (extended headers of level 1 excluded)
    uint64_t unpackedSize = 0;
    uint32_t dosTime = 0;   // levels 0 and 1
    int64_t unixTime = 0;   // level 2 and 3 headers, or the Unix time extension; 0 when none
    uint8_t attribute = 0;  // MS-DOS attribute byte (levels 0 and 1), or the 0x40 extension
    uint16_t crc = 0;       // CRC-16 of the data
    uint8_t osId = 0;
    std::string name;  // raw bytes; folders separated by "/" (stored as 0xFF) or "\"; folder part from 0x02
    std::string symlinkTarget;  // Unix LHa keeps links as "name|target"
    std::string comment;        // Amiga LhA file comment
    bool hasUnixMode = false;
    uint16_t unixMode = 0;
    uint16_t uid = 0, gid = 0;
    bool nameIsUtf16 = false;  // the name came from the UTF-16 extensions and is UTF-8 now
    uint64_t headerSize = 0;   // bytes from pos to the data
    uint64_t dataPos = 0;
    uint64_t nextPos = 0;
    bool headerChecksumOk = true;
    bool isDirectory() const { return method == "-lhd-"; }
};

enum class ReadResult { Ok, End, Bad };

// Reads the header at pos. End: a zero size byte (the archive's end mark) or the end of the file.
ReadResult ReadHeader(const platform::File& f, uint64_t pos, uint64_t fileSize, Header& h);

}  // namespace varnok::lzh
