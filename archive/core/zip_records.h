// ZIP records: local header, central directory header, end of central directory (with its ZIP64 forms), data
// descriptor. One reader for identification, the lister, the ZIP bridge, the extractors and the writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace varnok::zip {

inline constexpr uint32_t kLocalSig = 0x04034B50;
inline constexpr uint32_t kCentralSig = 0x02014B50;
inline constexpr uint32_t kEndSig = 0x06054B50;
inline constexpr uint32_t kEnd64Sig = 0x06064B50;
inline constexpr uint32_t kEnd64LocatorSig = 0x07064B50;
inline constexpr uint32_t kSpanSig = 0x08074B50;  // first bytes of a spanned set; also the data descriptor's
inline constexpr size_t kLocalSize = 30;
inline constexpr size_t kCentralSize = 46;
inline constexpr size_t kEndSize = 22;
// The end record and the longest comment it can carry.
inline constexpr size_t kEndSearchWindow = kEndSize + 65535;

struct EndRecord {
    uint64_t pos = 0;  // file offset of the 22-byte record
    uint16_t thisDisk = 0;
    uint16_t cdDisk = 0;
    uint64_t entriesThisDisk = 0;
    uint64_t entriesTotal = 0;
    uint64_t cdSize = 0;
    uint64_t cdOffset = 0;
    uint16_t commentLength = 0;
    uint8_t raw[kEndSize] = {};  // the record as stored
    std::string comment;         // raw bytes; may be shorter than commentLength when the file ends early
    bool zip64 = false;          // the sizes and counts came from a ZIP64 end record
    uint64_t end() const { return pos + kEndSize + commentLength; }
};

// Searches the last 65,557 bytes of the file backwards for the end record (offset 0 included) and reads the
// ZIP64 record when the 32-bit fields say so. The first hit from the end wins.
bool FindEndRecord(const platform::File& f, uint64_t fileSize, EndRecord& out);
// Parses the 22 fixed bytes of an end record.
void ParseEndRecord(const uint8_t* p, EndRecord& out);

struct CentralHeader {
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosTime = 0;
    uint32_t crc = 0;
    uint64_t packedSize = 0;  // after ZIP64 extension
    uint64_t unpackedSize = 0;
    uint16_t nameLength = 0, extraLength = 0, commentLength = 0;
    uint32_t diskStart = 0;
    uint16_t internalAttr = 0;
    uint32_t externalAttr = 0;
    uint64_t localOffset = 0;
    std::string name;  // raw bytes
    std::vector<uint8_t> extra;
    std::string comment;                 // raw bytes
    uint8_t raw[kCentralSize - 4] = {};  // the 42 bytes after the signature, as stored
    uint64_t recordSize() const { return kCentralSize + nameLength + extraLength + commentLength; }
    bool utf8() const { return flags & 0x0800; }
    bool encrypted() const { return flags & 0x0001; }
    uint8_t hostSystem() const { return static_cast<uint8_t>(versionMadeBy >> 8); }
    // Unix mode bits from the external attributes when the entry was made on a Unix-like host (0 otherwise).
    uint32_t unixMode() const;
    bool isDirectory() const;
};

// Parses one central header from a buffer holding at least its fixed part; false when the signature is wrong
// or the variable part runs past avail. Applies the ZIP64 extra field and the Info-ZIP Unicode path field.
bool ParseCentralHeader(const uint8_t* p, size_t avail, CentralHeader& h);

struct LocalHeader {
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosTime = 0;
    uint32_t crc = 0;
    uint64_t packedSize = 0;
    uint64_t unpackedSize = 0;
    uint16_t nameLength = 0, extraLength = 0;
    std::string name;
    std::vector<uint8_t> extra;
    uint64_t headerSize() const { return kLocalSize + nameLength + extraLength; }
    bool hasDescriptor() const { return flags & 0x0008; }
};

// Reads the local header at pos (name and extra included); false on a wrong signature or a short read.
bool ReadLocalHeader(const platform::File& f, uint64_t pos, LocalHeader& h);

// Modification time from the extended-timestamp (0x5455) or Info-ZIP Unix (0x5855) extra fields; 0 when none.
int64_t ExtraUnixTime(const std::vector<uint8_t>& extra);
// The name of an Info-ZIP Unicode path extra field (0x7075) when its CRC matches the stored name, else empty.
std::string ExtraUnicodePath(const std::vector<uint8_t>& extra, const std::string& storedName);

}  // namespace varnok::zip
