#include "archive/formats/gzip/gzip_headers.h"

#include <algorithm>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"

namespace varnok::gzip {

namespace {

bool ReadZString(const platform::File& f, uint64_t& pos, uint64_t fileSize, std::string& out) {
    out.clear();
    uint8_t buf[256];
    while (pos < fileSize) {
        size_t got = f.ReadAt(pos, buf, sizeof buf);
        if (got == 0) return false;
        for (size_t i = 0; i < got; ++i) {
            if (buf[i] == 0) {
                pos += i + 1;
                return true;
            }
            if (out.size() >= 65536) return false;
            out += static_cast<char>(buf[i]);
        }
        pos += got;
    }
    return false;
}

}  // namespace

bool ReadHeader(const platform::File& f, uint64_t fileSize, Header& h) {
    h = Header{};
    uint8_t b[10];
    if (fileSize < 3 || f.ReadAt(0, b, std::min<uint64_t>(10, fileSize)) < 3) return false;
    h.magic = Le16(b);
    if (!IsCompressMagic(h.magic) && !(b[0] == 0x25 && b[1] == 0x21)) return false;
    h.method = b[2];
    if (!h.isGzip()) {
        h.dataPos = h.isCompress() ? 3 : 2;
        return true;
    }
    if (fileSize < 18) return false;
    h.flags = b[3];
    h.mtime = Le32(b + 4);
    h.extraFlags = b[8];
    h.os = b[9];
    uint64_t pos = 10;
    if (h.flags & fExtra) {
        uint8_t x[2];
        if (f.ReadAt(pos, x, 2) != 2) return false;
        h.extraLength = Le16(x);
        pos += 2 + h.extraLength;
    }
    if ((h.flags & fName) && !ReadZString(f, pos, fileSize, h.name)) return false;
    if ((h.flags & fComment) && !ReadZString(f, pos, fileSize, h.comment)) return false;
    if (h.flags & fHeaderCrc) pos += 2;
    if (pos > fileSize) return false;
    h.dataPos = pos;
    uint8_t t[8];
    if (f.ReadAt(fileSize - 8, t, 8) == 8) {
        h.trailerCrc = Le32(t);
        h.trailerSize = Le32(t + 4);
    }
    return true;
}

std::string NameFromArchive(const std::string& archivePath) {
    std::string name = ExtractFileName(archivePath);
    std::string ext = LowerAscii(ExtractFileExt(name));
    std::string stem = name.substr(0, name.size() - ext.size());
    if (ext == ".tgz" || ext == ".taz" || ext == ".tz") return stem + ".tar";
    if (ext.empty()) return name;
    return stem;
}

}  // namespace varnok::gzip
