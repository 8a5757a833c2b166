#include "archive/formats/ace/ace_headers.h"

#include <cstring>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"

namespace varnok::ace {

namespace {

// What follows the main header's reserved bytes (offset 26 of the header bytes): the advertisement's length
// byte and text, then with fComment the comment's length and packed bytes. Writers up to 1.2 store the length
// byte also without the advertisement flag (as 0); later ones store it only with the flag. The layout whose
// comment ends exactly at the header's end wins, then the one whose comment fits.
void ReadMainTail(const std::vector<uint8_t>& d, Block& b) {
    constexpr size_t kTail = 26;
    if (d.size() <= kTail) return;
    struct Layout {
        size_t advertAt = 0, advertLen = 0, commentAt = 0, commentLen = 0;
        bool fits = false, exact = false;
    };
    auto layout = [&](bool lengthByte) {
        Layout l;
        size_t q = kTail;
        if (lengthByte) {
            l.advertLen = d[q];
            l.advertAt = q + 1;
            q += 1 + l.advertLen;
            if (q > d.size()) return l;
        }
        if (!(b.flags & fComment)) {
            l.fits = true;
            l.exact = q == d.size();
            return l;
        }
        if (q + 2 > d.size()) return l;
        l.commentLen = Le16(&d[q]);
        l.commentAt = q + 2;
        l.fits = l.commentAt + l.commentLen <= d.size();
        l.exact = l.commentAt + l.commentLen == d.size();
        return l;
    };
    Layout l = layout(true);
    if (!(b.flags & fMainAdvert)) {
        Layout without = layout(false);
        if ((without.exact && !l.exact) || (without.fits && !l.fits)) l = without;
    }
    if (!l.fits) return;
    if (l.advertLen) b.advert.assign(reinterpret_cast<const char*>(&d[l.advertAt]), l.advertLen);
    if (l.commentLen) b.comment.assign(d.begin() + l.commentAt, d.begin() + l.commentAt + l.commentLen);
}

}  // namespace

ReadResult ReadBlock(const platform::File& f, uint64_t pos, uint64_t fileSize, Block& b) {
    b = Block{};
    b.pos = pos;
    if (pos + 4 > fileSize) return ReadResult::End;
    uint8_t h[4];
    if (f.ReadAt(pos, h, 4) != 4) return ReadResult::Bad;
    b.headerCrc = Le16(h);
    b.headerSize = Le16(h + 2);
    if (b.headerSize < 3 || pos + 4 + b.headerSize > fileSize) return ReadResult::Bad;
    std::vector<uint8_t> d(b.headerSize);
    if (f.ReadAt(pos + 4, d.data(), d.size()) != d.size()) return ReadResult::Bad;
    // The header check is the low half of the CRC-32 of the header bytes.
    b.crcOk = (~Crc32(d.data(), d.size()) & 0xFFFF) == b.headerCrc ||
              (UpdateCrc32(0xFFFFFFFFu, d.data(), d.size()) & 0xFFFF) == b.headerCrc;
    b.type = d[0];
    b.flags = Le16(&d[1]);
    // Types 3..5 (64-bit file and recovery headers) carry 64-bit sizes.
    const bool wide = b.type >= kTypeFile64 && (b.flags & f64Bit);
    const size_t sizeBytes = wide ? 8 : 4;
    size_t p = 3;
    if (b.flags & fAddSize) {
        if (d.size() < 3 + sizeBytes) return ReadResult::Bad;
        b.addSize = wide ? Le64(&d[3]) : Le32(&d[3]);
        if (b.addSize > (uint64_t{1} << 62)) return ReadResult::Bad;
        p += sizeBytes;
    }
    if (b.type == kTypeMain) {
        if (d.size() < 3 + 7 + 4 || std::memcmp(&d[3], "**ACE**", 7) != 0) return ReadResult::Bad;
        b.versionExtract = d[10];
        b.versionMadeBy = d[11];
        b.hostOs = d[12];
        b.volumeNumber = d[13];
        if (d.size() >= 18) b.creationTime = Le32(&d[14]);
        ReadMainTail(d, b);
    } else if (b.type == kTypeFile || b.type == kTypeFile64) {
        if (b.type == kTypeFile64 && !wide) return ReadResult::Bad;
        if (d.size() < p + sizeBytes + 20) return ReadResult::Bad;
        b.unpackedSize = wide ? Le64(&d[p]) : Le32(&d[p]);
        p += sizeBytes - 4;  // the fields below are placed as in the 32-bit header
        b.dosTime = Le32(&d[p + 4]);
        b.attributes = Le32(&d[p + 8]);
        b.crc = Le32(&d[p + 12]);
        b.compressionType = d[p + 16];
        b.quality = d[p + 17];
        b.parameters = Le16(&d[p + 18]);
        uint16_t nameLen = Le16(&d[p + 22]);
        if (p + 24 + nameLen > d.size()) return ReadResult::Bad;
        b.name.assign(reinterpret_cast<const char*>(&d[p + 24]), nameLen);
        size_t q = p + 24 + nameLen;
        if ((b.flags & fComment) && q + 2 <= d.size()) {
            size_t len = Le16(&d[q]);
            if (q + 2 + len <= d.size()) b.comment.assign(d.begin() + q + 2, d.begin() + q + 2 + len);
        }
    }
    b.nextPos = pos + 4 + b.headerSize + b.addSize;
    return ReadResult::Ok;
}

}  // namespace varnok::ace
