#include "archive/formats/msgz/msgz_headers.h"

#include <algorithm>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"

namespace varnok {

namespace msgz {

bool ReadDirectoryTable(const platform::File& f, uint64_t fileSize, std::vector<std::string>& dirs,
                        uint64_t& start) {
    dirs.clear();
    uint8_t h[255];
    if (fileSize < 255 || f.ReadAt(0, h, 255) != 255) return false;
    uint64_t table = Le32(h + 41);
    if (table + 6 > fileSize) {
        start = fileSize;
        return true;
    }
    uint64_t pos = table;
    for (int n = 0; n < 65536; ++n) {
        uint8_t r[6];
        if (pos + 6 > fileSize || f.ReadAt(pos, r, 6) != 6) break;
        uint16_t len = Le16(r + 2);
        if (len == 0) {
            pos += 6;
            break;
        }
        if (len < 6 || pos + len > fileSize) return false;
        std::string name(len - 6u, '\0');
        if (f.ReadAt(pos + 6, name.data(), name.size()) != name.size()) return false;
        dirs.push_back(FieldString(reinterpret_cast<const uint8_t*>(name.data()), name.size()));
        pos += len;
    }
    start = pos >= 4 ? pos - 4 : pos;
    return true;
}

bool ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, Entry& e) {
    e = Entry{};
    e.pos = pos;
    uint8_t b[29 + 255];
    if (pos + 29 > fileSize) return false;
    size_t got = f.ReadAt(pos, b, sizeof b);
    if (got < 29) return false;
    e.dirIndex = Le16(b);
    e.unpackedSize = Le32(b + 2);
    e.packedSize = Le32(b + 6);
    e.dataOffset = Le32(b + 10);
    e.dosTime = SwapHalves(Le32(b + 14));
    e.attributes = Le32(b + 18);
    e.recordLength = Le16(b + 22);
    uint8_t nameLen = b[28];
    if (29u + nameLen > got) return false;
    e.name.assign(reinterpret_cast<const char*>(b + 29), nameLen);
    return e.recordLength != 0;
}

}  // namespace msgz

}  // namespace varnok
