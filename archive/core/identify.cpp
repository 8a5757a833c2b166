// Identification of archives by their content.
#include <algorithm>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/component.h"
#include "archive/core/crc.h"
#include "archive/core/pe.h"
#include "archive/core/utils.h"
#include "platform/fileattr.h"

namespace varnok {

namespace {

constexpr size_t kHeadRead = 32767;
constexpr uint64_t kScanStart = 17000;
constexpr size_t kScanBlock = 32768;
constexpr int kScanBlocks = 6;

bool Is(const uint8_t* p, const char* sig, size_t n) {
    return std::memcmp(p, sig, n) == 0;
}

// A plausible ARC/PAK entry name: up to 12 printable characters and a zero byte within its 13-byte field.
bool ArcNameOk(const uint8_t* p, size_t avail) {
    if (avail < 29) return false;
    size_t k = 0;
    while (k < 13 && p[2 + k]) {
        if (p[2 + k] < 0x20) return false;
        ++k;
    }
    return k > 0 && k < 13;
}

// Checks the header checksum of an LZH level-0/1 header, or the shape of a level-2 header.
bool LzhHeaderOk(const uint8_t* p, size_t avail) {
    if (avail < 22 || p[2] != '-' || p[6] != '-' || (p[3] != 'l' && p[3] != 'p')) return false;
    uint8_t level = p[20];
    if (level == 0 || level == 1) {
        size_t size = p[0];
        if (size < 20 || size + 2 > avail) return false;
        uint8_t sum = 0;
        for (size_t i = 2; i < size + 2; ++i)
            sum = static_cast<uint8_t>(sum + p[i]);
        return sum == p[1];
    }
    if (level == 2) return Le16(p) >= 26;
    if (level == 3) return Le16(p) == 4;
    return false;
}

// Checks an ARJ header's CRC-32.
bool ArjHeaderOk(const uint8_t* p, size_t avail) {
    if (avail < 4 || p[0] != 0x60 || p[1] != 0xEA) return false;
    size_t size = Le16(p + 2);
    if (size < 30 || size > 2600 || 4 + size + 4 > avail) return false;
    return Crc32(p + 4, size) == Le32(p + 4 + size);
}

}  // namespace

TArchiveBase::TArchiveBase() = default;
TArchiveBase::~TArchiveBase() = default;

void TArchiveBase::SetZipCmntBufSize(int v) {
    zipCmntBufSize_ = v == 0 ? 0 : std::clamp(v, 2000, 32767);
}

void TArchiveBase::SetArchiveFile(const std::string& name) {
    archiveFile_ = name;
    VolumeNumber = 0;
    VolumeLetter = 0;
    if (name.empty()) {
        arcType_ = atNA;
        return;
    }
    Identify();
    if (IsRecognised(arcType_)) DeriveVolumeNumber();
}

void TArchiveBase::SetArcType(TArcType) {
    if (archiveFile_.empty()) {
        arcType_ = atNA;
        return;
    }
    Identify();
    if (IsRecognised(arcType_)) DeriveVolumeNumber();
}

void TArchiveBase::RefreshDrive() {
    DiskManager.SetDrive(archiveFile_);
}

void TArchiveBase::Identify() {
    arcType_ = IdentifyFile(archiveFile_);
    if (arcType_ == atZip && UpperAscii(ExtractFileExt(archiveFile_)) == ".JAR") arcType_ = atJar;
}

TArcType TArchiveBase::IdentifyFile(const std::string& path) {
    RefreshDrive();
    StartOffset = 0;
    HeadFlag = 0;
    HasEndRecord = false;
    ZipOffsetDelta = 0;
    ArchiveSize = 0;
    platform::File f;
    if (!f.Open(path, platform::File::Mode::Read)) {
        ReportError(path, platform::LastErrorText(), E_OpenFile);
        return atFileOpenErr;
    }
    uint64_t size = f.Size();
    ArchiveSize = size;
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(size, kHeadRead)));
    head.resize(f.ReadAt(0, head.data(), head.size()));
    if (size <= 19) {
        // Too short for any archive, except the smallest compress and gzip streams (a few bytes of data).
        if (head.size() >= 4 && head[0] == 0x1F && (head[1] == 0x9D || (head[1] == 0x8B && size >= 18)))
            return atGZip;
        return atFileOpenErr;
    }
    if (head.size() < 20) return atFileOpenErr;
    if (head[0] == 'M' && head[1] == 'Z') return IdentifyProgram(f, head, size);
    return IdentifyPlain(f, head, size);
}

TArcType TArchiveBase::TestSignature(const uint8_t* p, bool program) {
    const bool removable = DiskManager.IsRemovable();
    uint16_t lo = Le16(p), hi = Le16(p + 2);
    if (lo == 0x4B50) {
        if (hi == 0x0807) {
            HeadFlag |= hfLocalHeader;
            return removable ? atZipMV : atZip;
        }
        if (hi == 0x0201) return removable ? atZipMV : atNA;
        if (p[2] == 'G' && p[3] == '4') return atNA;
        return program ? atZipExe : atZip;
    }
    if (Is(p, "MSCF", 4)) return program ? atUnsupported : atCab;
    if (Is(p, "BH\x05\x07", 4)) return program ? atBhExe : atBh;
    if (Is(p, "\x13\x5D\x65\x8C", 4)) return program ? atUnsupported : atMSGZ;
    if (Is(p, "HA", 2)) return program ? atUnsupported : atHA;
    if (p[0] == 0x1F && (p[1] == 0x8B || p[1] == 0x9D || p[1] == 0x9E || p[1] == 0x1E || p[1] == 0xA0))
        return program ? atUnsupported : atGZip;
    if (p[0] == 0x25 && p[1] == 0x21) return program ? atUnsupported : atGZip;
    if (p[0] == 0x60 && p[1] == 0xEA) return program ? atArjExe : atArj;
    if (Is(p, "ZO", 2)) return program ? atUnsupported : atZoo;
    if (p[2] == '-' && p[3] == 'l') return program ? atLhaExe : atLha;
    if (Is(p, "Rar!", 4)) return program ? atRarExe : atRar;
    if (p[0] == 0x1A) {
        if (p[1] == 0x0A || p[1] == 0x0B) return program ? atPakExe : atPak;
        if (p[1] == 0x1E || p[1] == 0x02) return program ? atUnsupported : atArc;
        if (p[1] == 0x08 || p[1] == 0x09) return program ? atArcExe : atArc;
    }
    if (p[0] == 0xB7 && (p[1] == 0x92 || p[1] == 0xDF)) {
        StartOffset = 7716;
        return atArcExe;
    }
    return atUnknown;
}

TArcType TArchiveBase::IdentifyPlain(const platform::File& f, const std::vector<uint8_t>& head,
                                     uint64_t size) {
    const bool removable = DiskManager.IsRemovable();
    size_t zeros = 0;
    while (zeros < head.size() && head[zeros] == 0)
        ++zeros;
    TArcType t = atUnknown;
    if (zeros + 4 <= head.size()) {
        t = TestSignature(&head[zeros], false);
        // ARC entries of the methods the signature table leaves out (1, 3 to 7), recognised by a sane name
        // field.
        if (t == atUnknown && head[zeros] == 0x1A && head[zeros + 1] >= 1 && head[zeros + 1] <= 7 &&
            ArcNameOk(&head[zeros], head.size() - zeros))
            t = atArc;
        // PMarc archives share the LZH header layout under "-pm0-" and "-pm2-".
        if (t == atUnknown && head.size() >= zeros + 21 && head[zeros + 2] == '-' && head[zeros + 3] == 'p' &&
            head[zeros + 4] == 'm' && head[zeros + 6] == '-' &&
            LzhHeaderOk(&head[zeros], head.size() - zeros))
            t = atLha;
        if (zeros > 0 && t != atZip && t != atZipMV && t != atUnknown) StartOffset = zeros;
    }
    if (t == atZip) {
        StartOffset = FindEndOfCentral(f);
        if (!(HeadFlag & hfLocalHeader) && StartOffset == 0) {
            StartOffset = zeros;
            HeadFlag |= hfLocalHeader;
        }
        if (removable && !(HeadFlag & hfEndRecord)) t = atZipMV;
    } else if (t != atZipMV && head.size() >= 14 && Is(&head[7], "**ACE**", 7)) {
        t = atAce;
        StartOffset = 0;
    }
    if (!IsRecognised(t)) {
        if (removable && DiskManager.DiskNumber > 0) {
            StartOffset = FindEndOfCentral(f);
            if (!(HeadFlag & hfLocalHeader)) t = atZipMV;
        } else if (head.size() >= 14 && Is(&head[7], "**ACE**", 7)) {
            t = atAce;
        } else if (EncodedTextTest(head)) {
            t = atUue;
            StartOffset = 0;
        } else if (TarTest(f, size)) {
            t = atTar;
        } else {
            StartOffset = FindEndOfCentral(f);
            if ((HeadFlag & hfLocalHeader) && (HeadFlag & hfEndRecord))
                t = atZip;
            else if (removable && (HeadFlag & hfEndRecord))
                t = atZipMV;
            else if (HasEndRecord && EndRecord.thisDisk > 0 && EndRecord.thisDisk != 0xFFFF &&
                     EndRecord.cdDisk <= EndRecord.thisDisk) {
                // The last part of a set split into files (name.z01, name.z02, ..., name.zip).
                t = atZipMV;
                StartOffset = EndRecord.cdOffset;
            } else if (t == atUnknown) {
                // Self-extractors that are not Windows programs (DOS .COM files, Unix programs): look for a
                // header that proves itself by its checksum.
                uint64_t saveStart = StartOffset;
                uint8_t saveFlag = HeadFlag;
                t = ScanForArchive(f, 0, size, false);
                if (t == atUnknown) {
                    StartOffset = saveStart;
                    HeadFlag = saveFlag;
                }
            }
        }
    }
    return t;
}

TArcType TArchiveBase::IdentifyProgram(const platform::File& f, const std::vector<uint8_t>& head,
                                       uint64_t size) {
    uint8_t b[8];
    // 1. Known stub layouts.
    if (f.ReadAt(7716, b, 2) == 2 && b[0] == 0x1A && b[1] == 0x09) {
        StartOffset = 7716;
        return atArcExe;
    }
    for (uint64_t at : {uint64_t{7612}, uint64_t{25661}}) {
        if (size > at + 4 && f.ReadAt(at, b, 4) == 4 && Le32(b) == zip::kLocalSig) {
            StartOffset = at;
            return atZipExe;
        }
    }
    // 2. Offsets named by the self-extractor's string resources 1 to 4.
    for (int id = 1; id <= 4; ++id) {
        std::string s = ReadPeStringResource(f, size, id);
        if (s.size() > 5) s.resize(5);
        if (s.empty() || !IsDigits(s)) break;
        uint64_t at = std::stoull(s);
        if (at >= size) break;
        if (f.ReadAt(at, b, 4) != 4) break;
        TArcType t = TestSignature(b, true);
        if (t != atUnknown) {
            StartOffset = at;
            HeadFlag = hfLocalHeader;
            return t;
        }
    }
    // 3. The DOS overlay, and the data after the last section of a Windows program.
    uint64_t overlay = (static_cast<uint64_t>(Le16(&head[4])) - 1) * 512 + Le16(&head[2]);
    if (Le16(&head[4]) == 0) overlay = 0;
    std::vector<uint64_t> overlays;
    if (overlay > 0) overlays.push_back(overlay);
    if (uint64_t pe = PeOverlayOffset(f, size)) overlays.push_back(pe);
    for (uint64_t o : overlays) {
        if (o + 4 >= size) continue;
        if (f.ReadAt(o + 2, b, 2) == 2 && b[0] == 0x60 && b[1] == 0xEA) o += 2;
        if (o + 5 < size && f.ReadAt(o, b, 4) == 4 && Le32(b) != zip::kLocalSig) {
            uint64_t saveStart = StartOffset;
            StartOffset = o;
            TArcType t = TestSignature(b, true);
            if (IsRecognised(t)) return t;
            StartOffset = saveStart;
        }
    }
    // 4. A ZIP end record whose directory points into the file.
    if (uint64_t cd = FindEndOfCentral(f)) {
        StartOffset = cd;
        return atZipExe;
    }
    StartOffset = 0;
    HeadFlag = 0;
    // 5. Scan the program for an archive header: its whole stub too, candidates being checked.
    return ScanForArchive(f, 0, size, true);
}

TArcType TArchiveBase::ScanForArchive(const platform::File& f, uint64_t from, uint64_t size, bool program) {
    // Blocks overlap by a few hundred bytes so that a header across a block boundary is still seen. Every
    // candidate must prove itself (a header checksum, a full signature), so that strings inside the extractor
    // program are not taken for an archive.
    constexpr size_t kOverlap = 512;
    std::vector<uint8_t> buf(kScanBlock + kOverlap);
    const uint64_t limit = program ? kScanStart + kScanBlocks * kScanBlock : 2 * kScanBlock;
    for (uint64_t base = from; base < size && base < limit; base += kScanBlock) {
        size_t got = f.ReadAt(base, buf.data(), buf.size());
        if (got == 0) break;
        size_t blockEnd = std::min(got, kScanBlock);
        for (size_t i = 0; i < blockEnd; ++i) {
            const uint8_t* p = &buf[i];
            size_t avail = got - i;
            uint64_t pos = base + i;
            if (avail >= 7 && pos >= 7 && Is(p, "**ACE**", 7)) {
                StartOffset = pos - 7;
                return program ? atAceExe : atAce;
            }
            if (avail >= 5 && p[0] == '-' && p[4] == '-' && (p[1] == 'l' || p[1] == 'p') && i >= 2 &&
                LzhHeaderOk(p - 2, avail + 2)) {
                StartOffset = pos - 2;
                return atLhaExe;
            }
            if (program && avail >= 8 && Is(p, "BH\x05\x07", 4) && !Is(p + 4, "\x0F\x94\xC3\x84", 4) &&
                Le16(p + 4) >= 37) {
                StartOffset = pos;
                return atBhExe;
            }
            if (program && avail >= 30 && Le32(p) == zip::kLocalSig && !Is(p + 4, "\x74\x0B\x3D\x00", 4) &&
                Le16(p + 4) < 100 && Le16(p + 26) > 0 && Le16(p + 26) < 1024) {
                uint64_t cd = FindEndOfCentral(f);
                StartOffset = cd ? cd : pos;
                if (!cd) HeadFlag = hfLocalHeader;
                return atZipExe;
            }
            if (avail >= 7 && Is(p, "Rar!\x1A\x07", 6)) {
                StartOffset = pos;
                return atRarExe;
            }
            if (p[0] == 0x60 && p[1] == 0xEA && ArjHeaderOk(p, avail)) {
                StartOffset = pos;
                return atArjExe;
            }
        }
    }
    return atUnknown;
}

uint64_t TArchiveBase::FindEndOfCentral(const platform::File& f) {
    HeadFlag = 0;
    HasEndRecord = false;
    ZipOffsetDelta = 0;
    uint64_t size = f.Size();
    zip::EndRecord e;
    if (!zip::FindEndRecord(f, size, e)) return 0;
    HasEndRecord = true;
    EndRecord = e;
    HeadFlag |= hfEndRecord;
    uint8_t c[zip::kCentralSize];
    auto centralAt = [&](uint64_t at) {
        return at < size && f.ReadAt(at, c, sizeof c) == sizeof c && Le32(c) == zip::kCentralSig;
    };
    uint64_t cd = e.cdOffset;
    bool found = centralAt(cd);
    if (!found && e.thisDisk == e.cdDisk && e.pos >= e.cdSize) {
        // Bytes in front of the archive that its offsets do not count (self-extractors, prefixed archives).
        uint64_t actual = e.pos - e.cdSize;
        if (e.zip64 && actual >= 76) {
            // The ZIP64 end record and locator sit between the directory and the classic record.
            uint8_t loc[4];
            if (f.ReadAt(e.pos - 20, loc, 4) == 4 && Le32(loc) == zip::kEnd64LocatorSig) actual -= 76;
        }
        if (actual != cd && centralAt(actual)) {
            ZipOffsetDelta = static_cast<int64_t>(actual) - static_cast<int64_t>(cd);
            cd = actual;
            found = true;
        }
    }
    if (found) {
        HeadFlag |= hfCentralHeader;
        uint64_t local = static_cast<uint64_t>(static_cast<int64_t>(Le32(c + 42)) + ZipOffsetDelta);
        uint8_t l[4];
        if (f.ReadAt(local, l, 4) == 4 && Le32(l) == zip::kLocalSig)
            HeadFlag |= hfLocalHeader;
        else if (Le32(c + 42) == 0xFFFFFFFF) {
            zip::CentralHeader h;
            std::vector<uint8_t> rec(zip::kCentralSize + Le16(c + 28) + Le16(c + 30) + Le16(c + 32));
            if (f.ReadAt(cd, rec.data(), rec.size()) == rec.size() &&
                zip::ParseCentralHeader(rec.data(), rec.size(), h) &&
                f.ReadAt(h.localOffset + static_cast<uint64_t>(ZipOffsetDelta), l, 4) == 4 &&
                Le32(l) == zip::kLocalSig)
                HeadFlag |= hfLocalHeader;
        }
        return cd;
    }
    // No directory where the record says: find the first local header instead.
    std::vector<uint8_t> buf(kScanBlock + 3);
    for (int blk = 0; blk < 4; ++blk) {
        uint64_t base = static_cast<uint64_t>(blk) * kScanBlock;
        if (base >= size) break;
        size_t got = f.ReadAt(base, buf.data(), buf.size());
        for (size_t i = 0; i + 4 <= got && i < kScanBlock; ++i) {
            if (Le32(&buf[i]) == zip::kLocalSig) {
                HeadFlag = hfLocalHeader;
                return base + i;
            }
        }
    }
    return 0;
}

bool TArchiveBase::TarTest(const platform::File& f, uint64_t size) {
    if (size <= 512) return false;
    uint8_t h[512];
    uint64_t at = 0;
    if (f.ReadAt(0, h, 512) != 512) return false;
    if (h[156] == 'V' && size >= 1024) {
        if (f.ReadAt(512, h, 512) != 512) return false;
        at = 512;
    }
    uint64_t stored = FromOctal(std::string_view(reinterpret_cast<const char*>(h + 148), 8));
    bool digits = false;
    for (int i = 148; i < 156; ++i)
        if (h[i] >= '0' && h[i] <= '7') digits = true;
    if (!digits) return false;
    uint64_t sum = 0;
    int64_t ssum = 0;
    for (int i = 0; i < 512; ++i) {
        uint8_t c = (i >= 148 && i < 156) ? ' ' : h[i];
        sum += c;
        ssum += static_cast<int8_t>(c);
    }
    // Some old tar programs summed the bytes as signed characters.
    if (stored == sum || static_cast<int64_t>(stored) == ssum) {
        StartOffset = at;
        return true;
    }
    return false;
}

bool TArchiveBase::EncodedTextTest(const std::vector<uint8_t>& head) {
    size_t n = std::min<size_t>(head.size(), 5000);
    for (size_t i = 0; i + 3 < n; ++i) {
        if (i != 0 && head[i - 1] != '\n') continue;
        size_t left = n - i;
        const uint8_t* p = &head[i];
        if (left >= 7 && Is(p, "begin ", 6) && (p[6] == '6' || p[6] == '7')) return true;
        // "begin" with other octal modes, and Base64 encodings (uuencode -m, MIME attachments).
        if (left >= 10 && Is(p, "begin ", 6) && p[6] >= '0' && p[6] <= '7' && p[7] >= '0' && p[7] <= '7' &&
            p[8] >= '0' && p[8] <= '7')
            return true;
        if (left >= 13 && Is(p, "begin-base64 ", 13)) return true;
        static constexpr char kMime[] = "content-transfer-encoding: base64";
        if (left >= sizeof kMime - 1) {
            bool eq = true;
            for (size_t k = 0; k + 1 < sizeof kMime && eq; ++k)
                eq = static_cast<char>(std::tolower(p[k])) == kMime[k];
            if (eq) return true;
        }
    }
    return false;
}

void TArchiveBase::DeriveVolumeNumber() {
    VolumeNumber = 0;
    TArcType t = arcType_;
    if (t != atAce && t != atArj && t != atRar && t != atRarExe) return;
    VolumeLetter = t == atAce ? 'C' : t == atArj ? 'a' : 'q';
    std::string ext = ExtractFileExt(archiveFile_);
    if (!ext.empty()) ext.erase(0, 1);
    if (ext.empty()) ext = t == atAce ? "Ace" : t == atArj ? "Arj" : "Rar";
    size_t k = ext.size();
    while (k > 0 && ext[k - 1] >= '0' && ext[k - 1] <= '9')
        --k;
    if (k < ext.size()) {
        std::string digits = ext.substr(k);
        if (digits.size() > 6) digits = digits.substr(digits.size() - 6);
        VolumeNumber = std::stoi(digits) + 1;
        VolumeLetter = ext[0];
    } else {
        VolumeNumber = t == atArj ? 1 : 0;
    }
}

}  // namespace varnok
