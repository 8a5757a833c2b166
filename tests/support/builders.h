// Small archives built in memory for tests: stored ZIP files and TAR files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::test {

struct ZipItem {
    std::string name;
    std::string data;
    uint32_t externalAttr = 0x20;
    uint8_t host = 0;  // high byte of "version made by"
    uint16_t flags = 0;
    std::string comment;
    std::string extra;
};

struct ZipOptions {
    std::string comment;
    std::string prefix;   // bytes in front of the archive (offsets count them)
    std::string trailer;  // bytes after the end record
    bool omitCentral = false;
};

// A ZIP file with stored entries.
std::vector<uint8_t> BuildZip(const std::vector<ZipItem>& items, const ZipOptions& opt = {});

struct TarItem {
    std::string name;
    std::string data;
    char type = '0';
    std::string link;
    uint32_t mode = 0644;
};
std::vector<uint8_t> BuildTar(const std::vector<TarItem>& items);

}  // namespace varnok::test
