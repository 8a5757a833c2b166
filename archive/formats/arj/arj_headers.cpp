#include "archive/formats/arj/arj_headers.h"

#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"

namespace varnok::arj {

ReadResult ReadHeader(const platform::File& f, uint64_t pos, uint64_t fileSize, Header& h) {
    h = Header{};
    h.pos = pos;
    uint8_t idsz[4];
    if (pos + 4 > fileSize || f.ReadAt(pos, idsz, 4) != 4) return ReadResult::Bad;
    if (Le16(idsz) != kHeaderId) return ReadResult::Bad;
    h.basicSize = Le16(idsz + 2);
    if (h.basicSize == 0) return ReadResult::End;
    if (h.basicSize > kMaxBasicSize || h.basicSize < 30) return ReadResult::Bad;
    std::vector<uint8_t> b(h.basicSize + 4u);
    if (f.ReadAt(pos + 4, b.data(), b.size()) != b.size()) return ReadResult::Bad;
    h.crcOk = Crc32(b.data(), h.basicSize) == Le32(&b[h.basicSize]);
    h.firstHeaderSize = b[0];
    h.archiverVersion = b[1];
    h.minVersion = b[2];
    h.hostOs = b[3];
    h.flags = b[4];
    h.method = b[5];
    h.fileType = b[6];
    h.passwordModifier = b[7];
    h.dosTime = Le32(&b[8]);
    h.packedSize = Le32(&b[12]);
    h.unpackedSize = Le32(&b[16]);
    h.crc = Le32(&b[20]);
    h.fileSpecPos = Le16(&b[24]);
    h.accessMode = Le16(&b[26]);
    h.hostData = Le16(&b[28]);
    if (h.firstHeaderSize < 30 || h.firstHeaderSize > h.basicSize) return ReadResult::Bad;
    if (h.firstHeaderSize >= 34) h.extFilePos = Le32(&b[30]);
    size_t p = h.firstHeaderSize;
    size_t e = p;
    while (e < h.basicSize && b[e])
        ++e;
    h.name.assign(reinterpret_cast<const char*>(&b[p]), e - p);
    if (e < h.basicSize) {
        size_t c = e + 1, ce = c;
        while (ce < h.basicSize && b[ce])
            ++ce;
        h.comment.assign(reinterpret_cast<const char*>(&b[c]), ce - c);
    }
    // Extended headers: a 2-byte size (0 ends them), the data and its CRC-32.
    uint64_t q = pos + 4 + h.basicSize + 4;
    for (int n = 0; n < 64; ++n) {
        uint8_t s[2];
        if (q + 2 > fileSize || f.ReadAt(q, s, 2) != 2) return ReadResult::Bad;
        uint16_t ext = Le16(s);
        q += 2;
        if (ext == 0) break;
        q += ext + 4u;
    }
    h.dataPos = q;
    h.nextPos = q + h.packedSize;
    return ReadResult::Ok;
}

}  // namespace varnok::arj
