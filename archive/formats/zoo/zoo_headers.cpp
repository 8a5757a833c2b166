#include "archive/formats/zoo/zoo_headers.h"

#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"

namespace varnok::zoo {

std::string Entry::FullName() const {
    std::string n = longName.empty() ? shortName : longName;
    if (dirName.empty()) return n;
    return dirName.back() == '/' || dirName.back() == '\\' ? dirName + n : dirName + "/" + n;
}

bool ReadArchiveHeader(const platform::File& f, uint64_t fileSize, ArchiveHeader& h) {
    uint8_t b[42];
    if (fileSize < 42 || f.ReadAt(0, b, sizeof b) != sizeof b) return false;
    if (Le32(b + 20) != kTag) return false;
    h.firstEntry = Le32(b + 24);
    // The first-entry offset and its negation must add up to 0.
    if (static_cast<uint32_t>(h.firstEntry + Le32(b + 28)) != 0) return false;
    h.majorVersion = b[32];
    h.minorVersion = b[33];
    h.type = b[34];
    h.commentPos = Le32(b + 35);
    h.commentLength = Le16(b + 39);
    return true;
}

ReadResult ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, Entry& e) {
    e = Entry{};
    e.pos = pos;
    uint8_t b[56];
    if (pos + sizeof b > fileSize || f.ReadAt(pos, b, sizeof b) != sizeof b) return ReadResult::Bad;
    if (Le32(b) != kTag) return ReadResult::Bad;
    e.type = b[4];
    e.method = b[5];
    e.next = Le32(b + 6);
    e.dataPos = Le32(b + 10);
    e.dosTime = SwapHalves(Le32(b + 14));
    e.crc = Le16(b + 18);
    e.unpackedSize = Le32(b + 20);
    e.packedSize = Le32(b + 24);
    e.majorVersion = b[28];
    e.minorVersion = b[29];
    e.deleted = b[30] != 0;
    e.commentPos = Le32(b + 32);
    e.commentLength = Le16(b + 36);
    e.shortName = FieldString(b + 38, 13);
    // The last entry of the chain is an empty one whose next pointer is 0.
    if (e.next == 0) return ReadResult::End;
    if (e.type == 2) {
        uint16_t varLen = Le16(b + 51);
        e.timeZone = b[53];
        if (varLen > 0 && varLen < 4096 && pos + 56 + varLen <= fileSize) {
            std::vector<uint8_t> v(varLen);
            if (f.ReadAt(pos + 56, v.data(), varLen) == varLen) {
                // Variable part: long-name length, folder length, long name, folder, system id, mode.
                uint8_t nameLen = v[0];
                uint8_t dirLen = varLen > 1 ? v[1] : 0;
                size_t p = 2;
                if (nameLen && p + nameLen <= varLen) e.longName = FieldString(&v[p], nameLen);
                p += nameLen;
                if (dirLen && p + dirLen <= varLen) e.dirName = FieldString(&v[p], dirLen);
                p += dirLen;
                if (p + 2 <= varLen) e.systemId = static_cast<uint16_t>(v[p] | (v[p + 1] << 8));
                p += 2;
                if (p + 3 <= varLen) {
                    // Bits 22-23 say what the low bits hold: 1 for Unix permissions.
                    uint32_t attr = v[p] | (v[p + 1] << 8) | (v[p + 2] << 16);
                    e.hasUnixMode = ((attr >> 22) & 3) == 1;
                    e.unixMode = attr & 0xFFFF;
                }
            }
        }
    }
    return ReadResult::Ok;
}

}  // namespace varnok::zoo
