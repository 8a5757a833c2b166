#include "archive/formats/ha/ha_headers.h"

#include <algorithm>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"

namespace varnok {

namespace ha {

std::string Entry::FullName() const {
    std::string p = path;
    for (char& c : p)
        if (static_cast<unsigned char>(c) == 0xFF) c = '/';
    while (!p.empty() && (p.back() == '/' || p.back() == '\\'))
        p.pop_back();
    return p.empty() ? name : p + "/" + name;
}

bool ReadArchiveHeader(const platform::File& f, uint16_t& count) {
    uint8_t b[4];
    if (f.ReadAt(0, b, 4) != 4 || b[0] != 'H' || b[1] != 'A') return false;
    count = Le16(b + 2);
    return true;
}

ReadResult ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, Entry& e) {
    e = Entry{};
    e.pos = pos;
    if (pos >= fileSize) return ReadResult::End;
    uint8_t b[17 + 512 + 2];
    size_t got = f.ReadAt(pos, b, sizeof b);
    if (got < 17) return ReadResult::Bad;
    e.version = b[0] >> 4;
    e.method = b[0] & 15;
    e.packedSize = Le32(b + 1);
    e.unpackedSize = Le32(b + 5);
    e.crc = Le32(b + 9);
    e.unixTime = Le32(b + 13);
    size_t p = 17;
    const uint8_t* z = static_cast<const uint8_t*>(std::memchr(b + p, 0, got - p));
    if (!z) return ReadResult::Bad;
    e.path.assign(reinterpret_cast<const char*>(b + p), static_cast<size_t>(z - (b + p)));
    p = static_cast<size_t>(z - b) + 1;
    z = p < got ? static_cast<const uint8_t*>(std::memchr(b + p, 0, got - p)) : nullptr;
    if (!z) return ReadResult::Bad;
    e.name.assign(reinterpret_cast<const char*>(b + p), static_cast<size_t>(z - (b + p)));
    p = static_cast<size_t>(z - b) + 1;
    if (p >= got) return ReadResult::Bad;
    uint8_t mdLen = b[p];
    p += 1 + mdLen;
    e.nextPos = pos + p + e.packedSize;
    return ReadResult::Ok;
}

}  // namespace ha

}  // namespace varnok
