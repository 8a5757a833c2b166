#include "archive/core/zip_records.h"

#include <algorithm>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"

namespace varnok::zip {

void ParseEndRecord(const uint8_t* p, EndRecord& e) {
    std::copy(p, p + kEndSize, e.raw);
    e.thisDisk = Le16(p + 4);
    e.cdDisk = Le16(p + 6);
    e.entriesThisDisk = Le16(p + 8);
    e.entriesTotal = Le16(p + 10);
    e.cdSize = Le32(p + 12);
    e.cdOffset = Le32(p + 16);
    e.commentLength = Le16(p + 20);
}

namespace {

// Reads the ZIP64 end record through its locator just before the classic record.
void ApplyZip64(const platform::File& f, EndRecord& e) {
    if (e.pos < 20) return;
    uint8_t loc[20];
    if (f.ReadAt(e.pos - 20, loc, 20) != 20 || Le32(loc) != kEnd64LocatorSig) return;
    uint64_t recPos = Le64(loc + 8);
    uint8_t rec[56];
    if (recPos >= e.pos || f.ReadAt(recPos, rec, 56) != 56 || Le32(rec) != kEnd64Sig) {
        // Some writers leave the locator's offset relative to a prefix: look just before the locator.
        if (e.pos < 20 + 56) return;
        recPos = e.pos - 20 - 56;
        if (f.ReadAt(recPos, rec, 56) != 56 || Le32(rec) != kEnd64Sig) return;
    }
    if (e.thisDisk == 0xFFFF) e.thisDisk = static_cast<uint16_t>(std::min<uint32_t>(Le32(rec + 16), 0xFFFF));
    if (e.cdDisk == 0xFFFF) e.cdDisk = static_cast<uint16_t>(std::min<uint32_t>(Le32(rec + 20), 0xFFFF));
    if (e.entriesThisDisk == 0xFFFF) e.entriesThisDisk = Le64(rec + 24);
    if (e.entriesTotal == 0xFFFF) e.entriesTotal = Le64(rec + 32);
    if (e.cdSize == 0xFFFFFFFF) e.cdSize = Le64(rec + 40);
    if (e.cdOffset == 0xFFFFFFFF) e.cdOffset = Le64(rec + 48);
    e.zip64 = true;
}

}  // namespace

bool FindEndRecord(const platform::File& f, uint64_t fileSize, EndRecord& e) {
    if (fileSize < kEndSize) return false;
    uint64_t window = std::min<uint64_t>(fileSize, kEndSearchWindow);
    std::vector<uint8_t> buf(static_cast<size_t>(window));
    uint64_t base = fileSize - window;
    if (f.ReadAt(base, buf.data(), buf.size()) != buf.size()) return false;
    for (size_t i = buf.size() - kEndSize + 1; i-- > 0;) {
        if (buf[i] == 'P' && buf[i + 1] == 'K' && buf[i + 2] == 5 && buf[i + 3] == 6) {
            e = EndRecord{};
            e.pos = base + i;
            ParseEndRecord(buf.data() + i, e);
            size_t avail = buf.size() - i - kEndSize;
            size_t n = std::min<size_t>(avail, e.commentLength);
            e.comment.assign(reinterpret_cast<const char*>(buf.data() + i + kEndSize), n);
            if (e.entriesTotal == 0xFFFF || e.cdSize == 0xFFFFFFFF || e.cdOffset == 0xFFFFFFFF ||
                e.thisDisk == 0xFFFF)
                ApplyZip64(f, e);
            return true;
        }
    }
    return false;
}

uint32_t CentralHeader::unixMode() const {
    uint8_t host = hostSystem();
    // Unix, VMS-with-Unix-modes writers, Mac OS X and others that put a mode in the high word.
    if (host == 3 || host == 19 || host == 16 || host == 2 || host == 5) return externalAttr >> 16;
    return 0;
}

bool CentralHeader::isDirectory() const {
    if (externalAttr & 0x10) return true;
    uint32_t mode = unixMode();
    if (mode && (mode & 0170000) == 0040000) return true;
    return !name.empty() && (name.back() == '/' || (name.back() == '\\' && hostSystem() == 0));
}

bool ParseCentralHeader(const uint8_t* p, size_t avail, CentralHeader& h) {
    if (avail < kCentralSize || Le32(p) != kCentralSig) return false;
    std::copy(p + 4, p + kCentralSize, h.raw);
    h.versionMadeBy = Le16(p + 4);
    h.versionNeeded = Le16(p + 6);
    h.flags = Le16(p + 8);
    h.method = Le16(p + 10);
    h.dosTime = Le32(p + 12);
    h.crc = Le32(p + 16);
    h.packedSize = Le32(p + 20);
    h.unpackedSize = Le32(p + 24);
    h.nameLength = Le16(p + 28);
    h.extraLength = Le16(p + 30);
    h.commentLength = Le16(p + 32);
    h.diskStart = Le16(p + 34);
    h.internalAttr = Le16(p + 36);
    h.externalAttr = Le32(p + 38);
    h.localOffset = Le32(p + 42);
    if (avail < h.recordSize()) return false;
    const uint8_t* q = p + kCentralSize;
    h.name.assign(reinterpret_cast<const char*>(q), h.nameLength);
    q += h.nameLength;
    h.extra.assign(q, q + h.extraLength);
    q += h.extraLength;
    h.comment.assign(reinterpret_cast<const char*>(q), h.commentLength);
    // ZIP64 extended information: present fields follow the order of the maxed-out ones.
    for (size_t i = 0; i + 4 <= h.extra.size();) {
        uint16_t id = Le16(&h.extra[i]), len = Le16(&h.extra[i + 2]);
        if (i + 4 + len > h.extra.size()) break;
        if (id == 0x0001) {
            const uint8_t* d = &h.extra[i + 4];
            size_t k = 0;
            if (h.unpackedSize == 0xFFFFFFFF && k + 8 <= len) h.unpackedSize = Le64(d + k), k += 8;
            if (h.packedSize == 0xFFFFFFFF && k + 8 <= len) h.packedSize = Le64(d + k), k += 8;
            if (h.localOffset == 0xFFFFFFFF && k + 8 <= len) h.localOffset = Le64(d + k), k += 8;
            if (h.diskStart == 0xFFFF && k + 4 <= len) h.diskStart = Le32(d + k), k += 4;
        }
        i += 4 + len;
    }
    return true;
}

bool ReadLocalHeader(const platform::File& f, uint64_t pos, LocalHeader& h) {
    uint8_t p[kLocalSize];
    if (f.ReadAt(pos, p, kLocalSize) != kLocalSize || Le32(p) != kLocalSig) return false;
    h.versionNeeded = Le16(p + 4);
    h.flags = Le16(p + 6);
    h.method = Le16(p + 8);
    h.dosTime = Le32(p + 10);
    h.crc = Le32(p + 14);
    h.packedSize = Le32(p + 18);
    h.unpackedSize = Le32(p + 22);
    h.nameLength = Le16(p + 26);
    h.extraLength = Le16(p + 28);
    std::vector<uint8_t> var(static_cast<size_t>(h.nameLength) + h.extraLength);
    if (!var.empty() && f.ReadAt(pos + kLocalSize, var.data(), var.size()) != var.size()) return false;
    h.name.assign(var.begin(), var.begin() + h.nameLength);
    h.extra.assign(var.begin() + h.nameLength, var.end());
    for (size_t i = 0; i + 4 <= h.extra.size();) {
        uint16_t id = Le16(&h.extra[i]), len = Le16(&h.extra[i + 2]);
        if (i + 4 + len > h.extra.size()) break;
        if (id == 0x0001) {
            const uint8_t* d = &h.extra[i + 4];
            size_t k = 0;
            if (h.unpackedSize == 0xFFFFFFFF && k + 8 <= len) h.unpackedSize = Le64(d + k), k += 8;
            if (h.packedSize == 0xFFFFFFFF && k + 8 <= len) h.packedSize = Le64(d + k), k += 8;
        }
        i += 4 + len;
    }
    return true;
}

int64_t ExtraUnixTime(const std::vector<uint8_t>& extra) {
    for (size_t i = 0; i + 4 <= extra.size();) {
        uint16_t id = Le16(&extra[i]), len = Le16(&extra[i + 2]);
        if (i + 4 + len > extra.size()) break;
        const uint8_t* d = &extra[i + 4];
        if (id == 0x5455 && len >= 5 && (d[0] & 1)) return static_cast<int32_t>(Le32(d + 1));
        if (id == 0x5855 && len >= 8) return static_cast<int32_t>(Le32(d + 4));
        i += 4 + len;
    }
    return 0;
}

std::string ExtraUnicodePath(const std::vector<uint8_t>& extra, const std::string& storedName) {
    for (size_t i = 0; i + 4 <= extra.size();) {
        uint16_t id = Le16(&extra[i]), len = Le16(&extra[i + 2]);
        if (i + 4 + len > extra.size()) break;
        const uint8_t* d = &extra[i + 4];
        if (id == 0x7075 && len >= 5 && d[0] == 1 &&
            Le32(d + 1) == Crc32(storedName.data(), storedName.size()))
            return std::string(reinterpret_cast<const char*>(d + 5), len - 5);
        i += 4 + len;
    }
    return {};
}

}  // namespace varnok::zip
