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
    // Another method than stored: packed holds the entry's stored bytes, data what they decode to.
    uint16_t method = 0;
    std::string packed;
};

struct ZipOptions {
    std::string comment;
    std::string prefix;   // bytes in front of the archive (offsets count them)
    std::string trailer;  // bytes after the end record
    bool omitCentral = false;
};

// A ZIP file; entries are stored unless they give a method and its packed bytes.
std::vector<uint8_t> BuildZip(const std::vector<ZipItem>& items, const ZipOptions& opt = {});

struct TarItem {
    std::string name;
    std::string data;
    char type = '0';
    std::string link;
    uint32_t mode = 0644;
};
std::vector<uint8_t> BuildTar(const std::vector<TarItem>& items);

// LZH archives of stored (-lh0-) entries; names as raw bytes, "\" or 0xFF between folders as the level
// stores them.
struct LzhItem {
    std::string name;
    std::string data;
    int level = 1;       // 0, 1 or 2
    uint8_t osId = 'M';  // level 1 and 2 ('M' MS-DOS, 'U' Unix, ...)
    std::string method = "-lh0-";
};
std::vector<uint8_t> BuildLzh(const std::vector<LzhItem>& items);

// ARJ archives of stored (method 0) entries.
struct ArjItem {
    std::string name;  // raw bytes
    std::string data;
    uint8_t hostOs = 0;    // 0 MS-DOS, 2 UNIX, ...
    uint8_t fileType = 0;  // 0 binary, 3 folder
};
std::vector<uint8_t> BuildArj(const std::vector<ArjItem>& items);

// A raw deflate stream of one fixed-Huffman block decoding to 1 + 258 * matches zero bytes: 13 bits for every
// 258 bytes, the densest deflate gets (a decompression bomb).
std::string DeflateZeros(size_t matches);

}  // namespace varnok::test
