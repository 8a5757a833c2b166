// HA archive headers: the archive header with its file count and one record per entry (listed, not
// extracted here).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace varnok {

namespace ha {
struct Entry {
    uint64_t pos = 0;
    uint8_t version = 0, method = 0;  // method 0 Cpy, 1 Asc, 2 HSC, 14 directory, 15 special
    uint32_t packedSize = 0, unpackedSize = 0, crc = 0;
    int64_t unixTime = 0;
    std::string path, name;  // raw; the path uses 0xFF between folders
    uint64_t nextPos = 0;
    std::string FullName() const;
};
enum class ReadResult { Ok, End, Bad };
// The file count in the archive header ("HA", count).
bool ReadArchiveHeader(const platform::File& f, uint16_t& count);
ReadResult ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, Entry& e);
}  // namespace ha

}  // namespace varnok
