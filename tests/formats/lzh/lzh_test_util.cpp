#include "tests/formats/lzh/lzh_test_util.h"

#include <cstdio>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "tests/support/fixtures.h"

namespace varnok::test {

void HashSink::Write(const uint8_t* buf, size_t n) {
    if (writes && lastWrite_ < smallestNonFinalWrite) smallestNonFinalWrite = lastWrite_;
    ++writes;
    lastWrite_ = n;
    size += n;
    crc16 = UpdateCrc16(crc16, buf, n);
    crc32 = UpdateCrc32(crc32, buf, n);
    sha_.Update(buf, n);
    if (keep_) data.insert(data.end(), buf, buf + n);
}

void BitWriter::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        acc_ = (acc_ << 1) | ((value >> i) & 1);
        if (++n_ == 8) {
            out_.push_back(static_cast<uint8_t>(acc_));
            acc_ = 0;
            n_ = 0;
        }
    }
}

std::vector<uint8_t> BitWriter::Finish() {
    if (n_) out_.push_back(static_cast<uint8_t>(acc_ << (8 - n_)));
    acc_ = 0;
    n_ = 0;
    return out_;
}

namespace {

bool PlausibleLzhHeader(const std::vector<uint8_t>& f, size_t off) {
    if (off + 22 > f.size()) return false;
    const uint8_t* p = f.data() + off;
    if (p[2] != '-' || p[6] != '-' || (p[3] != 'l' && p[3] != 'p')) return false;
    return p[20] <= 3;
}

std::string DirName(const uint8_t* p, size_t n) {
    std::string s(reinterpret_cast<const char*>(p), n);
    for (char& c : s)
        if (c == '\xFF' || c == '\\') c = '/';
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

}  // namespace

std::vector<LzhEntry> WalkLzh(const std::vector<uint8_t>& f) {
    std::vector<LzhEntry> out;
    size_t off = 0;
    if (!PlausibleLzhHeader(f, 0)) {
        off = SIZE_MAX;
        for (size_t i = 0; i + 22 <= f.size(); ++i)
            if (PlausibleLzhHeader(f, i) && f[i] != 0) {
                off = i;
                break;
            }
    }
    while (off != SIZE_MAX && off + 22 <= f.size() && f[off] != 0 && PlausibleLzhHeader(f, off)) {
        const uint8_t* p = f.data() + off;
        LzhEntry e;
        e.method.assign(reinterpret_cast<const char*>(p + 2), 5);
        e.packed = Le32(p + 7);
        e.unpacked = Le32(p + 11);
        e.level = p[20];
        std::string dir, name;
        size_t extStart = 0, next = 0;
        uint64_t extTotal = 0;
        size_t sizeField = 2;
        if (e.level == 0 || e.level == 1) {
            size_t hsize = p[0];
            size_t nameLen = p[21];
            if (off + hsize + 2 > f.size() || 22 + nameLen + 2 > hsize + 2) break;
            name.assign(reinterpret_cast<const char*>(p + 22), nameLen);
            e.crc16 = Le16(p + 22 + nameLen);
            if (e.level == 1) {
                extStart = off + hsize + 2;
                next = Le16(p + hsize);
            }
            e.dataOffset = off + hsize + 2;
        } else if (e.level == 2) {
            size_t hsize = Le16(p);
            if (off + hsize > f.size() || hsize < 26) break;
            e.crc16 = Le16(p + 21);
            extStart = off + 26;
            next = Le16(p + 24);
            e.dataOffset = off + hsize;
        } else {
            if (off + 32 > f.size()) break;
            size_t hsize = Le32(p + 24);
            e.crc16 = Le16(p + 21);
            sizeField = 4;
            extStart = off + 32;
            next = Le32(p + 28);
            e.dataOffset = off + hsize;
            if (e.dataOffset > f.size()) break;
        }
        // Extended headers: type, data, then the size of the next one.
        size_t q = extStart;
        while (next) {
            if (next < 1 + sizeField || q + next > f.size()) return out;
            const uint8_t* x = f.data() + q;
            size_t dataLen = next - 1 - sizeField;
            if (x[0] == 0x01) name.assign(reinterpret_cast<const char*>(x + 1), dataLen);
            if (x[0] == 0x02) dir = DirName(x + 1, dataLen);
            if (x[0] == 0x42 && dataLen >= 16) {  // 64-bit sizes
                e.packed = Le64(x + 1);
                e.unpacked = Le64(x + 9);
            }
            extTotal += next;
            q += next;
            next = sizeField == 2 ? Le16(x + next - 2) : Le32(x + next - 4);
        }
        // Some OS-9/68k writers leave the extended headers out of a level-2 header's size; the data
        // then starts where the chain ends.
        if (e.level == 2 && q > e.dataOffset) e.dataOffset = q;
        if (e.level == 1) {
            e.dataOffset = q;
            if (e.packed < extTotal) break;
            e.packed -= extTotal;
        }
        for (char& c : name)
            if (c == '\\' || c == '\xFF') c = '/';
        e.name = dir + name;
        if (e.dataOffset + e.packed > f.size()) {
            // Keep a truncated last entry: its data ends with the file.
            out.push_back(e);
            break;
        }
        out.push_back(e);
        off = e.dataOffset + e.packed;
    }
    return out;
}

std::vector<ArjEntry> WalkArj(const std::vector<uint8_t>& f) {
    std::vector<ArjEntry> out;
    auto validAt = [&](size_t off) {
        if (off + 4 > f.size() || f[off] != 0x60 || f[off + 1] != 0xEA) return false;
        size_t bsize = Le16(f.data() + off + 2);
        if (bsize == 0 || bsize > 2600 || off + 4 + bsize + 4 > f.size()) return false;
        return Crc32(f.data() + off + 4, bsize) == Le32(f.data() + off + 4 + bsize);
    };
    size_t off = 0;
    while (off < f.size() && !validAt(off))
        ++off;
    bool first = true;
    while (validAt(off)) {
        size_t bsize = Le16(f.data() + off + 2);
        const uint8_t* h = f.data() + off + 4;
        size_t q = off + 4 + bsize + 4;
        while (q + 2 <= f.size()) {
            size_t s = Le16(f.data() + q);
            q += 2;
            if (!s) break;
            q += s + 4;
        }
        ArjEntry e;
        size_t firstSize = h[0];
        e.flags = h[4];
        e.method = h[5];
        e.fileType = h[6];
        e.passwordModifier = h[7];
        e.packed = Le32(h + 12);
        e.unpacked = Le32(h + 16);
        e.crc32 = Le32(h + 20);
        if (firstSize < bsize) e.name = FieldString(h + firstSize, bsize - firstSize);
        for (char& c : e.name)
            if (c == '\\') c = '/';
        e.dataOffset = q;
        if (first) {
            first = false;
            off = q;
            continue;
        }
        out.push_back(e);
        off = q + e.packed;
    }
    return out;
}

std::vector<ExpectedRow> ExpectedFor(const std::string& archive) {
    std::vector<ExpectedRow> rows;
    for (const auto& r : ExtractedFiles(archive))
        rows.push_back({r.entry, r.size.value_or(0), r.sha256, r.peer});
    return rows;
}

}  // namespace varnok::test
