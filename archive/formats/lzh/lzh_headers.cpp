#include "archive/formats/lzh/lzh_headers.h"

#include <algorithm>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"
#include "platform/codepage.h"

namespace varnok::lzh {
namespace {

constexpr size_t kMaxExtHeaders = 256;

// UTF-16 text of the Unicode name extensions; folders are separated by the unit FFFF.
std::string Utf16LeToUtf8(const uint8_t* p, size_t n) {
    std::string out, piece;
    for (size_t i = 0; i + 1 < n; i += 2) {
        if (p[i] == 0xFF && p[i + 1] == 0xFF) {
            out += platform::ConvertCharset(piece, "UTF-16LE", "UTF-8") + "/";
            piece.clear();
            continue;
        }
        piece += static_cast<char>(p[i]);
        piece += static_cast<char>(p[i + 1]);
    }
    return out + platform::ConvertCharset(piece, "UTF-16LE", "UTF-8");
}

// Applies one extended header (type byte first) to the entry.
void ApplyExtension(Header& h, const uint8_t* d, size_t n, std::string& dir, std::string& name16,
                    std::string& dir16) {
    if (n < 1) return;
    uint8_t type = d[0];
    const uint8_t* v = d + 1;
    size_t len = n - 1;
    switch (type) {
        case 0x01:
            h.name.assign(reinterpret_cast<const char*>(v), len);
            break;
        case 0x02:
            dir.assign(reinterpret_cast<const char*>(v), len);
            break;
        case 0x40:
            if (len >= 2) h.attribute = static_cast<uint8_t>(Le16(v));
            break;
        case 0x42:
            if (len >= 16) {
                h.packedSize = Le64(v);
                h.unpackedSize = Le64(v + 8);
            }
            break;
        case 0x44:
            name16 = Utf16LeToUtf8(v, len);
            break;
        case 0x45:
            dir16 = Utf16LeToUtf8(v, len);
            break;
        case 0x50:
            if (len >= 2) {
                h.unixMode = Le16(v);
                h.hasUnixMode = true;
            }
            break;
        case 0x51:
            if (len >= 4) {
                h.gid = Le16(v);
                h.uid = Le16(v + 2);
            }
            break;
        case 0x54:
            if (len >= 4) h.unixTime = static_cast<int64_t>(Le32(v));
            break;
        default:
            break;
    }
}

// Walks the chain of extended headers starting at q with the given first size. Sizes are 2 bytes (4 for level
// 3) and count the type byte, the data and the next size field.
bool WalkExtensions(const platform::File& f, uint64_t q, uint64_t size, size_t sizeBytes, uint64_t fileSize,
                    Header& h, uint64_t& end, uint64_t& total, std::string& dir, std::string& name16,
                    std::string& dir16) {
    total = 0;
    for (size_t count = 0; size != 0; ++count) {
        if (count >= kMaxExtHeaders || size < 1 + sizeBytes || size > 65536 || q + size > fileSize)
            return false;
        std::vector<uint8_t> e(static_cast<size_t>(size));
        if (f.ReadAt(q, e.data(), e.size()) != e.size()) return false;
        ApplyExtension(h, e.data(), e.size() - sizeBytes, dir, name16, dir16);
        total += size;
        q += size;
        size = sizeBytes == 2 ? Le16(&e[e.size() - 2]) : Le32(&e[e.size() - 4]);
    }
    end = q;
    return true;
}

// The separator 0xFF of folder names becomes "/"; a "\\" stays as stored, since in the double-byte code pages
// of Japanese archivers it can be the second byte of a character: it is read as a separator only once the
// name is decoded.
void FolderSeparators(std::string& s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) == 0xFF) c = '/';
}

void FinishName(Header& h, const std::string& dir, const std::string& name16, const std::string& dir16) {
    if (!name16.empty() || !dir16.empty()) {
        // A UTF-16 folder with a name in the archive's code page is rare; that name is read as OEM text.
        std::string n = name16.empty() ? platform::ToDisplayUtf8(h.name) : name16;
        h.name = dir16.empty() ? n : AppendSlash(dir16) + n;
        h.nameIsUtf16 = true;
    } else if (!dir.empty()) {
        std::string d = dir;
        FolderSeparators(d);
        h.name = AppendSlash(d) + h.name;
    }
    // Amiga LhA keeps a file comment after a zero byte in the name.
    size_t zero = h.name.find('\0');
    if (zero != std::string::npos) {
        h.comment = h.name.substr(zero + 1);
        h.name.erase(zero);
    }
    // LHa for Unix stores a symbolic link as a folder entry named "name|target". Only there: "|" is also the
    // second byte of Shift_JIS characters (0x837C is a common katakana) in the folder names of other systems.
    const bool linkMode = !h.hasUnixMode || (h.unixMode & 0170000) == 0120000;
    size_t bar = h.name.find('|');
    if (bar != std::string::npos && h.method == "-lhd-" && h.osId == 'U' && linkMode) {
        h.symlinkTarget = h.name.substr(bar + 1);
        h.name.erase(bar);
    }
}

}  // namespace

ReadResult ReadHeader(const platform::File& f, uint64_t pos, uint64_t fileSize, Header& h) {
    h = Header{};
    h.pos = pos;
    uint8_t b[32];
    size_t got = pos < fileSize ? f.ReadAt(pos, b, sizeof b) : 0;
    if (got == 0) return ReadResult::End;
    // A zero size byte is the end mark, except in a level-2 header: its first two bytes are a 16-bit total
    // length, whose low byte is 0 for lengths of 256, 512, ...
    const bool level2Multiple256 =
        b[0] == 0 && got >= 22 && b[1] != 0 && b[20] == 2 && b[2] == '-' && b[6] == '-';
    if (b[0] == 0 && !level2Multiple256) return ReadResult::End;
    if (got < 22) return ReadResult::Bad;
    h.method.assign(reinterpret_cast<const char*>(b + 2), 5);
    if (h.method[0] != '-' || h.method[4] != '-') return ReadResult::Bad;
    h.packedSize = Le32(b + 7);
    h.unpackedSize = Le32(b + 11);
    h.level = b[20];
    std::string dir, name16, dir16;
    if (h.level == 0 || h.level == 1) {
        size_t hsize = b[0];
        if (hsize < 20 || pos + hsize + 2 > fileSize) return ReadResult::Bad;
        std::vector<uint8_t> hdr(hsize + 2);
        if (f.ReadAt(pos, hdr.data(), hdr.size()) != hdr.size()) return ReadResult::Bad;
        uint8_t sum = 0;
        for (size_t i = 2; i < hdr.size(); ++i)
            sum = static_cast<uint8_t>(sum + hdr[i]);
        h.headerChecksumOk = sum == hdr[1];
        h.dosTime = Le32(&hdr[15]);
        h.attribute = hdr[19];
        size_t nameLen = hdr[21];
        if (22 + nameLen > hdr.size()) return ReadResult::Bad;
        h.name.assign(reinterpret_cast<const char*>(&hdr[22]), nameLen);
        size_t p = 22 + nameLen;
        if (p + 2 <= hdr.size()) h.crc = Le16(&hdr[p]);
        p += 2;
        uint64_t q = pos + hdr.size();
        if (h.level == 0) {
            // LHa for Unix appends an "U" extension: OS id, Unix time, mode, uid, gid.
            if (p < hdr.size()) {
                h.osId = hdr[p];
                if (hdr[p] == 'U' && p + 1 + 4 + 2 + 2 + 2 <= hdr.size()) {
                    h.unixTime = Le32(&hdr[p + 1]);
                    h.unixMode = Le16(&hdr[p + 5]);
                    h.hasUnixMode = true;
                    h.uid = Le16(&hdr[p + 7]);
                    h.gid = Le16(&hdr[p + 9]);
                }
            }
            FolderSeparators(h.name);
            h.dataPos = q;
            h.headerSize = q - pos;
        } else {
            if (p + 3 > hdr.size()) return ReadResult::Bad;
            h.osId = hdr[p];
            uint64_t ext = Le16(&hdr[p + 1]);
            uint64_t end, total;
            if (!WalkExtensions(f, q, ext, 2, fileSize, h, end, total, dir, name16, dir16))
                return ReadResult::Bad;
            if (total > h.packedSize) return ReadResult::Bad;
            h.packedSize -= total;
            h.dataPos = end;
            h.headerSize = end - pos;
            FolderSeparators(h.name);
        }
    } else if (h.level == 2) {
        uint64_t total = Le16(b);
        if (total < 26 || pos + total > fileSize) return ReadResult::Bad;
        h.unixTime = Le32(b + 15);
        h.crc = Le16(b + 21);
        h.osId = b[23];
        uint64_t ext = Le16(b + 24);
        uint64_t end, sum;
        if (!WalkExtensions(f, pos + 26, ext, 2, fileSize, h, end, sum, dir, name16, dir16))
            return ReadResult::Bad;
        // The total counts everything, including a possible padding byte after the last extension; some
        // writers count two bytes short, and the data then starts where the extensions end.
        if (end > pos + total + 2) return ReadResult::Bad;
        h.dataPos = std::max(pos + total, end);
        h.headerSize = total;
        FolderSeparators(h.name);
    } else if (h.level == 3) {
        if (got < 32 || Le16(b) != 4) return ReadResult::Bad;
        h.unixTime = Le32(b + 15);
        h.crc = Le16(b + 21);
        h.osId = b[23];
        uint64_t total = Le32(b + 24);
        uint64_t ext = Le32(b + 28);
        uint64_t end, sum;
        if (total < 32 || pos + total > fileSize) return ReadResult::Bad;
        if (!WalkExtensions(f, pos + 32, ext, 4, fileSize, h, end, sum, dir, name16, dir16))
            return ReadResult::Bad;
        h.dataPos = pos + total;
        h.headerSize = total;
        FolderSeparators(h.name);
    } else {
        return ReadResult::Bad;
    }
    FinishName(h, dir, name16, dir16);
    h.nextPos = h.dataPos + h.packedSize;
    return ReadResult::Ok;
}

}  // namespace varnok::lzh
