// Identification of archives by their content.
#include <algorithm>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/component.h"
#include "archive/core/format.h"
#include "archive/core/pe.h"
#include "archive/core/utils.h"
#include "platform/fileattr.h"

namespace varnok {

namespace {

constexpr size_t kHeadRead = 32767;
constexpr uint64_t kScanStart = 17000;
constexpr size_t kScanBlock = 32768;
constexpr int kScanBlocks = 6;

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

TArcType TArchiveBase::TestSignature(std::span<const uint8_t> p, bool program) {
    // The families in the registry's order: the first whose signature applies decides.
    for (const FormatRecord* f : Formats())
        if (f->signature)
            if (auto t = f->signature(p, program, *this)) return *t;
    return atUnknown;
}

TArcType TArchiveBase::Recognise(const platform::File& f, const std::vector<uint8_t>& head, uint64_t size,
                                 bool overridingOnly) {
    for (const FormatRecord* r : Formats())
        if (r->recognise && (!overridingOnly || r->recogniseOverrides))
            if (auto t = r->recognise(f, head, size, *this)) return *t;
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
        t = TestSignature(std::span<const uint8_t>(head).subspan(zeros), false);
        if (zeros > 0 && t != atZip && t != atZipMV && t != atUnknown) StartOffset = zeros;
    }
    if (t == atZip) {
        StartOffset = FindEndOfCentral(f);
        if (!(HeadFlag & hfLocalHeader) && StartOffset == 0) {
            StartOffset = zeros;
            HeadFlag |= hfLocalHeader;
        }
        if (removable && !(HeadFlag & hfEndRecord)) t = atZipMV;
    } else if (t != atZipMV) {
        // A marker that overrides what the first bytes seemed to say.
        if (TArcType o = Recognise(f, head, size, true); o != atUnknown) t = o;
    }
    if (!IsRecognised(t)) {
        if (removable && DiskManager.DiskNumber > 0) {
            StartOffset = FindEndOfCentral(f);
            if (!(HeadFlag & hfLocalHeader)) t = atZipMV;
        } else if (TArcType r = Recognise(f, head, size, false); r != atUnknown) {
            t = r;
        } else {
            StartOffset = FindEndOfCentral(f);
            if ((HeadFlag & hfLocalHeader) && (HeadFlag & hfEndRecord)) {
                // A ZIP behind a Unix program (our self-extractor, Info-ZIP's unzipsfx) is a self-extracting ZIP
                // as a Windows one is.
                const bool elf = head.size() >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' &&
                                 head[3] == 'F';
                t = elf ? atZipExe : atZip;
            } else if (removable && (HeadFlag & hfEndRecord))
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
    for (const FormatRecord* r : Formats())
        if (r->stub)
            if (auto t = r->stub(f, size, *this)) return *t;
    // 2. Offsets named by the self-extractor's string resources 1 to 4.
    for (int id = 1; id <= 4; ++id) {
        std::string s = ReadPeStringResource(f, size, id);
        if (s.size() > 5) s.resize(5);
        if (s.empty() || !IsDigits(s)) break;
        uint64_t at = std::stoull(s);
        if (at >= size) break;
        if (f.ReadAt(at, b, 4) != 4) break;
        TArcType t = TestSignature(std::span<const uint8_t>(b, 4), true);
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
        // Some stubs leave two bytes between their image and an ARJ archive.
        if (f.ReadAt(o + 2, b, 2) == 2 && b[0] == 0x60 && b[1] == 0xEA) o += 2;
        if (o + 5 < size && f.ReadAt(o, b, 4) == 4 && Le32(b) != zip::kLocalSig) {
            uint64_t saveStart = StartOffset;
            StartOffset = o;
            TArcType t = TestSignature(std::span<const uint8_t>(b, 4), true);
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
    // Blocks overlap by a few hundred bytes so that a header across a block boundary is still seen, and keep
    // a few bytes before the block for the families whose marker lies inside their header. Every candidate
    // must prove itself (a header checksum, a full signature), so that strings inside the extractor program
    // are not taken for an archive.
    constexpr size_t kBehind = 8;
    constexpr size_t kOverlap = 512;
    std::vector<uint8_t> buf(kBehind + kScanBlock + kOverlap);
    const uint64_t limit = program ? kScanStart + kScanBlocks * kScanBlock : 2 * kScanBlock;
    std::vector<const FormatRecord*> scanners;
    for (const FormatRecord* r : Formats())
        if (r->scan) scanners.push_back(r);
    for (uint64_t base = from; base < size && base < limit; base += kScanBlock) {
        const size_t behind = static_cast<size_t>(std::min<uint64_t>(base, kBehind));
        size_t got = f.ReadAt(base - behind, buf.data(), buf.size() - (kBehind - behind));
        if (got <= behind) break;
        const size_t blockEnd = std::min(got, behind + kScanBlock);
        for (size_t i = behind; i < blockEnd; ++i) {
            ScanView v{buf.data(), i, got, base - behind + i};
            for (const FormatRecord* r : scanners)
                if (auto t = r->scan(v, program, f, *this)) return *t;
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
