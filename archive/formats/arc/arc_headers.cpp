#include "archive/formats/arc/arc_headers.h"

#include "archive/core/bytes.h"
#include "archive/core/utils.h"

namespace varnok::arc {

ReadResult ReadHeader(const platform::File& f, uint64_t pos, uint64_t fileSize, Header& h) {
    h = Header{};
    h.pos = pos;
    uint8_t b[29];
    size_t got = pos < fileSize ? f.ReadAt(pos, b, sizeof b) : 0;
    if (got < 2) return got == 0 ? ReadResult::End : ReadResult::Bad;
    if (b[0] != kMarker) return ReadResult::Bad;
    h.method = b[1];
    if (h.method == kEnd || h.method == kEndOfDirectory) {
        h.nextPos = pos + 2;
        return ReadResult::End;
    }
    size_t hsize = h.method == 1 ? 25 : 29;
    if (got < hsize) return ReadResult::Bad;
    h.name = FieldString(b + 2, 13);
    h.packedSize = Le32(b + 15);
    h.dosTime = SwapHalves(Le32(b + 19));
    h.crc = Le16(b + 23);
    h.unpackedSize = h.method == 1 ? h.packedSize : Le32(b + 25);
    h.dataPos = pos + hsize;
    // A folder's entries follow its header directly, inside its data.
    h.nextPos = h.method == kDirectory ? h.dataPos : h.dataPos + h.packedSize;
    return ReadResult::Ok;
}

}  // namespace varnok::arc
