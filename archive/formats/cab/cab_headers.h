// Microsoft cabinet headers: CFHEADER with its set links, CFFOLDER and CFFILE records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace varnok::cab {

enum HeaderFlags : uint16_t { fPrevCabinet = 0x0001, fNextCabinet = 0x0002, fReservePresent = 0x0004 };
enum : uint16_t { kContinuedFromPrev = 0xFFFD, kContinuedToNext = 0xFFFE, kContinuedPrevAndNext = 0xFFFF };
enum : uint16_t { kAttrNameIsUtf = 0x80 };

struct Folder {
    uint32_t firstDataBlock = 0;
    uint16_t dataBlockCount = 0;
    uint16_t compression = 0;  // low 4 bits: 0 none, 1 MSZIP, 2 Quantum, 3 LZX
};

struct File {
    uint32_t size = 0;
    uint32_t folderOffset = 0;
    uint16_t folderIndex = 0;
    uint16_t date = 0, time = 0;
    uint16_t attributes = 0;
    std::string name;  // raw, "\" between folders as stored
    uint32_t dosTime() const { return (static_cast<uint32_t>(date) << 16) | time; }
    bool continuedFromPrev() const {
        return folderIndex == kContinuedFromPrev || folderIndex == kContinuedPrevAndNext;
    }
};

struct Cabinet {
    uint64_t base = 0;  // offset of "MSCF" in the file
    uint32_t cabinetSize = 0;
    uint32_t firstFileOffset = 0;
    uint8_t minorVersion = 0, majorVersion = 0;
    uint16_t folderCount = 0;
    uint16_t fileCount = 0;
    uint16_t flags = 0;
    uint16_t setId = 0;
    uint16_t cabinetIndex = 0;
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0, dataReserve = 0;
    std::string prevCabinet, prevDisk, nextCabinet, nextDisk;
    std::vector<Folder> folders;
    std::vector<File> files;
};

// Parses the whole directory of the cabinet starting at base. False on a malformed header; files read up to a
// damaged record are kept.
bool ReadCabinet(const platform::File& f, uint64_t base, uint64_t fileSize, Cabinet& c);

}  // namespace varnok::cab
