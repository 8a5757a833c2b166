// Headers of the single-file compressed formats: gzip (RFC 1952) and the compress family grouped with it
// (1F 9D compress, 1F 1E pack, 1F A0 LZH-compress, 1F 9E old gzip).
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace varnok::gzip {

enum Flags : uint8_t {
    fText = 0x01,
    fHeaderCrc = 0x02,
    fExtra = 0x04,
    fName = 0x08,
    fComment = 0x10,
    fEncrypted = 0x20
};

struct Header {
    uint16_t magic = 0;  // first two bytes as a little-endian value (0x8B1F for gzip)
    uint8_t method = 0;  // byte 2: 8 deflate; for compress the flags byte
    uint8_t flags = 0;
    uint32_t mtime = 0;
    uint8_t extraFlags = 0;
    uint8_t os = 0;
    uint16_t extraLength = 0;
    std::string name;  // raw, empty when not stored
    std::string comment;
    uint64_t dataPos = 0;     // first byte of the compressed data
    uint32_t trailerCrc = 0;  // CRC-32 of the last member (gzip only)
    uint32_t trailerSize = 0;
    bool isGzip() const { return magic == 0x8B1F || magic == 0x9E1F; }
    bool isCompress() const { return magic == 0x9D1F; }
};

// Parses the header at offset 0 and the trailer at the end of the file. False when the magic is not of the
// family or a gzip header runs past the end.
bool ReadHeader(const platform::File& f, uint64_t fileSize, Header& h);

// The name an entry gets when none is stored: the archive's file name without its compression extension
// (".tgz" and ".taz" name a ".tar").
std::string NameFromArchive(const std::string& archivePath);

}  // namespace varnok::gzip
