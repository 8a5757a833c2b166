// Archives with the signature 13 5D 65 8C: a table of folder names and one record per file (listed, not
// extracted here).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace varnok {

namespace msgz {
struct Entry {
    uint64_t pos = 0;
    uint16_t dirIndex = 0;
    uint32_t unpackedSize = 0, packedSize = 0, dataOffset = 0, dosTime = 0, attributes = 0;
    uint16_t recordLength = 0;
    std::string name;
};
// The folder names of the directory table, and where the file records start.
bool ReadDirectoryTable(const platform::File& f, uint64_t fileSize, std::vector<std::string>& dirs,
                        uint64_t& start);
bool ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, Entry& e);
}  // namespace msgz

}  // namespace varnok
