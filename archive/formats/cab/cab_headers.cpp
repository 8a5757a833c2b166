#include "archive/formats/cab/cab_headers.h"

#include <algorithm>

#include "archive/core/bytes.h"

namespace varnok::cab {
namespace {

bool ReadZ(const platform::File& f, uint64_t& pos, uint64_t end, std::string& out) {
    out.clear();
    uint8_t buf[257];
    size_t got = pos < end ? f.ReadAt(pos, buf, std::min<uint64_t>(sizeof buf, end - pos)) : 0;
    for (size_t i = 0; i < got; ++i) {
        if (buf[i] == 0) {
            pos += i + 1;
            return true;
        }
        out += static_cast<char>(buf[i]);
    }
    return false;
}

}  // namespace

bool ReadCabinet(const platform::File& f, uint64_t base, uint64_t fileSize, Cabinet& c) {
    c = Cabinet{};
    c.base = base;
    uint8_t h[36];
    if (base + 36 > fileSize || f.ReadAt(base, h, 36) != 36 || Le32(h) != 0x4643534D) return false;
    c.cabinetSize = Le32(h + 8);
    c.firstFileOffset = Le32(h + 16);
    c.minorVersion = h[24];
    c.majorVersion = h[25];
    c.folderCount = Le16(h + 26);
    c.fileCount = Le16(h + 28);
    c.flags = Le16(h + 30);
    c.setId = Le16(h + 32);
    c.cabinetIndex = Le16(h + 34);
    uint64_t pos = base + 36;
    if (c.flags & fReservePresent) {
        uint8_t r[4];
        if (f.ReadAt(pos, r, 4) != 4) return false;
        c.headerReserve = Le16(r);
        c.folderReserve = r[2];
        c.dataReserve = r[3];
        pos += 4 + c.headerReserve;
    }
    if (c.flags & fPrevCabinet) {
        if (!ReadZ(f, pos, fileSize, c.prevCabinet) || !ReadZ(f, pos, fileSize, c.prevDisk)) return false;
    }
    if (c.flags & fNextCabinet) {
        if (!ReadZ(f, pos, fileSize, c.nextCabinet) || !ReadZ(f, pos, fileSize, c.nextDisk)) return false;
    }
    for (uint16_t i = 0; i < c.folderCount; ++i) {
        uint8_t r[8];
        if (f.ReadAt(pos, r, 8) != 8) return false;
        c.folders.push_back({Le32(r), Le16(r + 4), Le16(r + 6)});
        pos += 8 + c.folderReserve;
    }
    pos = base + c.firstFileOffset;
    for (uint16_t i = 0; i < c.fileCount; ++i) {
        uint8_t r[16];
        if (pos + 16 > fileSize || f.ReadAt(pos, r, 16) != 16) break;
        File e;
        e.size = Le32(r);
        e.folderOffset = Le32(r + 4);
        e.folderIndex = Le16(r + 8);
        e.date = Le16(r + 10);
        e.time = Le16(r + 12);
        e.attributes = Le16(r + 14);
        pos += 16;
        if (!ReadZ(f, pos, fileSize, e.name)) break;
        c.files.push_back(std::move(e));
    }
    return true;
}

}  // namespace varnok::cab
