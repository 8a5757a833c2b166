#include "archive/formats/bh/bh_headers.h"

#include <vector>

#include "archive/core/bytes.h"

namespace varnok::bh {

ReadResult ReadHeader(const platform::File& f, uint64_t pos, uint64_t fileSize, Header& h) {
    h = Header{};
    h.pos = pos;
    uint8_t b[kFixedSize];
    size_t got = pos < fileSize ? f.ReadAt(pos, b, sizeof b) : 0;
    if (got == 0) return ReadResult::End;
    if (got < 6 || Le32(b) != kSignature) return ReadResult::Bad;
    h.headerSize = Le16(b + 4);
    if (h.headerSize == 0) return ReadResult::End;
    if (got < kFixedSize) return ReadResult::Bad;
    h.fixedLength = b[6];
    h.versionMadeBy = b[7];
    h.versionNeeded = b[8];
    h.flags = b[9];
    h.method = b[10];
    h.dosTime = Le32(b + 11);
    h.packedSize = Le32(b + 15);
    h.unpackedSize = Le32(b + 19);
    h.crc = Le32(b + 23);
    h.attributes = Le16(b + 27);
    uint16_t nameLen = Le16(b + 33);
    h.extraLength = Le16(b + 35);
    uint64_t varPos = pos + kFixedSize;
    if (varPos + nameLen + h.extraLength > fileSize) return ReadResult::Bad;
    std::vector<uint8_t> name(nameLen);
    if (nameLen && f.ReadAt(varPos, name.data(), nameLen) != nameLen) return ReadResult::Bad;
    h.name.assign(name.begin(), name.end());
    h.dataPos = varPos + nameLen + h.extraLength;
    h.nextPos = h.dataPos + h.packedSize;
    return ReadResult::Ok;
}

}  // namespace varnok::bh
