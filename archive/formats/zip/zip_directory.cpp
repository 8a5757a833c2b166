#include "archive/formats/zip/zip_directory.h"

#include <algorithm>
#include <cstdio>

#include "archive/core/bytes.h"
#include "archive/core/component.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"

namespace varnok::zip {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;
constexpr uint32_t kDigitalSignatureSig = 0x05054B50;

std::string DiskLabel(uint32_t diskStart) {
    char b[16];
    snprintf(b, sizeof b, "%03u", diskStart + 1);
    return std::string("PKBACK# ") + b;
}

}  // namespace

NameOrigin OriginOf(uint16_t versionMadeBy, uint16_t flags) {
    if (flags & 0x0800) return NameOrigin::Utf8;
    switch (versionMadeBy >> 8) {
        case 0:   // MS-DOS and OS/2 FAT
        case 5:   // Atari ST
        case 6:   // OS/2 HPFS
        case 9:   // CP/M
        case 11:  // Windows NTFS
        case 14:  // Windows VFAT
            return NameOrigin::Dos;
        case 7:  // classic Mac OS
            return NameOrigin::Mac;
        default:  // Unix, OS X, BeOS, VMS, ...
            return NameOrigin::Unix;
    }
}

std::string MethodText(uint16_t method, uint16_t flags, bool directory) {
    static const char* const kNames[] = {"Stored",   "Shrunk",   "Reduce-1", "Reduce-2",
                                         "Reduce-3", "Reduce-4", "Imploded", "Tokened"};
    if (method <= 7) return kNames[method];
    if (method == 8) return DeflateName(flags);
    if (method == 9) return "Deflate64";
    return directory ? "Dir" : "Unsupported";
}

std::string MethodName(uint16_t method) {
    static const struct {
        uint16_t method;
        const char* name;
    } kNames[] = {{10, "PKWARE DCL implode"},
                  {12, "bzip2"},
                  {14, "LZMA"},
                  {18, "IBM TERSE"},
                  {19, "IBM LZ77"},
                  {20, "Zstandard"},
                  {93, "Zstandard"},
                  {94, "MP3"},
                  {95, "xz"},
                  {96, "JPEG"},
                  {97, "WavPack"},
                  {98, "PPMd"}};
    std::string t = "method " + std::to_string(method);
    for (const auto& n : kNames)
        if (n.method == method) return t + " (" + n.name + ")";
    return t;
}

ArchiveEntry TextsOf(const CentralHeader& h) {
    ArchiveEntry e;
    std::string unicode = ExtraUnicodePath(h.extra, h.name);
    if (!unicode.empty()) {
        e.RawName = std::move(unicode);
        e.Origin = NameOrigin::Utf8;
    } else {
        e.RawName = h.name;
        e.Origin = OriginOf(h.versionMadeBy, h.flags);
    }
    e.RawComment = h.comment;
    return e;
}

ArchiveEntry EntryOf(const CentralHeader& h, bool jar) {
    ArchiveEntry e = TextsOf(h);
    e.EntryDate = DosToUnixTime(h.dosTime);
    e.PackedSize = h.packedSize;
    e.UnpackedSize = h.unpackedSize;
    e.EntryCrc = h.crc;
    e.Encrypted = h.encrypted();
    e.MethodCode = h.method;
    e.UnixMode = h.unixMode();
    e.IsSymlink = (e.UnixMode & 0170000) == 0120000;
    if (jar) {
        // Java tools leave the attributes empty: a folder is a name ending in "/".
        e.IsDirectory = !h.name.empty() && h.name.back() == '/';
    } else {
        e.IsDirectory = h.isDirectory();
        e.IsVolumeLabel = (h.externalAttr & 0x08) && !e.IsDirectory;
    }
    e.MethodText = e.IsDirectory || e.IsVolumeLabel ? "" : MethodText(h.method, h.flags, false);
    e.InternalAttr = h.internalAttr;
    e.ExternalAttr = h.externalAttr & 0xFFFF;
    if (jar) e.ExternalAttr = e.IsDirectory ? 0x10 : 0x20;
    if (e.UnixMode && (e.ExternalAttr & 0x3F) == 0) {
        // Made on Unix: the DOS attributes follow from the mode.
        e.ExternalAttr = e.IsDirectory ? 0x10 : 0x20;
        if (!(e.UnixMode & 0200)) e.ExternalAttr |= 0x01;
    }
    e.VersionMadeBy = h.versionMadeBy;
    e.VersionNeeded = h.versionNeeded;
    e.Offset = h.localOffset;
    return e;
}

ArchiveEntry EntryOf(const LocalHeader& h, uint64_t pos) {
    ArchiveEntry e;
    std::string unicode = ExtraUnicodePath(h.extra, h.name);
    if (!unicode.empty()) {
        e.RawName = unicode;
        e.Origin = NameOrigin::Utf8;
    } else {
        e.RawName = h.name;
        // The local header does not say which system made it.
        e.Origin = OriginOf(0, h.flags);
    }
    e.EntryDate = DosToUnixTime(h.dosTime);
    e.PackedSize = h.packedSize;
    e.UnpackedSize = h.unpackedSize;
    e.EntryCrc = h.crc;
    e.Encrypted = h.flags & 1;
    e.MethodCode = h.method;
    e.IsDirectory = !h.name.empty() && (h.name.back() == '/' || h.name.back() == '\\');
    e.ExternalAttr = e.IsDirectory ? 0x10 : 0x20;
    e.MethodText = e.IsDirectory ? "" : MethodText(h.method, h.flags, false);
    e.VersionMadeBy = e.VersionNeeded = h.versionNeeded;
    e.Offset = pos;
    return e;
}

bool EndsDirectory(const uint8_t* p) {
    uint32_t s = Le32(p);
    return s == kEndSig || s == kEnd64Sig || s == kEnd64LocatorSig || s == kDigitalSignatureSig;
}

DirResult ParseCentralDirectory(std::span<const uint8_t> dir, uint64_t count,
                                const std::function<bool(CentralHeader& h)>& each) {
    DirResult r;
    size_t p = 0;
    while (r.records < count) {
        r.offset = p;
        if (count == UINT64_MAX && p == dir.size()) return r;
        if (p + kCentralSize > dir.size()) {
            r.stop = DirStop::Short;
            return r;
        }
        if (Le32(dir.data() + p) != kCentralSig) {
            r.stop = DirStop::NotCentral;
            return r;
        }
        CentralHeader h;
        if (!ParseCentralHeader(dir.data() + p, dir.size() - p, h)) {
            r.stop = DirStop::Truncated;
            return r;
        }
        p += static_cast<size_t>(h.recordSize());
        ++r.records;
        if (!each(h)) break;
    }
    r.offset = p;
    return r;
}

bool FindDescriptor(const platform::File& f, uint64_t data, uint64_t end, Descriptor& d,
                    const std::function<bool()>& stop) {
    constexpr size_t kBlock = 65536;
    std::vector<uint8_t> buf(kBlock + 16);
    for (uint64_t at = data; at < end; at += kBlock) {
        size_t got = f.ReadAt(at, buf.data(), buf.size());
        for (size_t i = 0; i + 16 <= got && i < kBlock; ++i) {
            if (Le32(&buf[i]) != kSpanSig || Le32(&buf[i + 8]) != at + i - data) continue;
            d.crc = Le32(&buf[i + 4]);
            d.packedSize = Le32(&buf[i + 8]);
            d.unpackedSize = Le32(&buf[i + 12]);
            d.next = at + i + 16;
            return true;
        }
        if (stop && stop()) return false;
    }
    return false;
}

// --------------------------------------------------------------------------------------------- overlaps

void OverlapCheck::Add(const Item& item) {
    if (!item.fromCentral || item.entry.IsDirectory) return;
    const uint64_t end = item.localOffset + kLocalSize + item.central.packedSize;
    spans_.push_back({item.disk, item.localOffset, end < item.localOffset ? UINT64_MAX : end,
                      static_cast<uint32_t>(rawNames_.size())});
    rawNames_.push_back(item.central.name);
}

std::optional<std::pair<std::string, std::string>> OverlapCheck::Find() {
    std::sort(spans_.begin(), spans_.end(), [](const Span& a, const Span& b) {
        if (a.disk != b.disk) return a.disk < b.disk;
        return a.start != b.start ? a.start < b.start : a.index < b.index;
    });
    for (size_t i = 1; i < spans_.size(); ++i) {
        const Span& a = spans_[i - 1];
        const Span& b = spans_[i];
        if (a.disk == b.disk && b.start < a.end) return std::make_pair(rawNames_[a.index], rawNames_[b.index]);
    }
    return std::nullopt;
}

// ------------------------------------------------------------------------------------------------- walk

Walk::Walk(TZipCommon& c) : c_(c) {}
Walk::~Walk() = default;

bool Walk::Start() {
    started_ = true;
    removable_ = c_.ArcType() == atZipMV && c_.DiskManager.IsRemovable();
    const bool split = c_.ArcType() == atZipMV && !removable_ && c_.HasEndRecord && c_.EndRecord.thisDisk > 0;
    if (removable_) {
        // A set on removable disks: the last disk holds the end record, and the directory starts on the disk
        // it names.
        if (!(c_.HeadFlag & hfEndRecord) && !c_.RequestZipLastDisk()) return false;
        if (!c_.RequestZipDisk(c_.EndRecord.cdDisk + 1)) return false;
        c_.HeadFlag |= hfCentralHeader;
    } else if (c_.ArcType() != atZipMV && c_.OnCorruptZipHeader &&
               (!(c_.HeadFlag & hfEndRecord) || !(c_.HeadFlag & hfCentralHeader) ||
                !(c_.HeadFlag & hfLocalHeader))) {
        bool cancel = true;
        c_.OnCorruptZipHeader(c_, c_.HeadFlag, cancel);
        if (cancel) return false;
    }
    central_ = (c_.HeadFlag & hfCentralHeader) || split || removable_;
    if (!central_) {
        c_.HeadFlag = hfLocalHeader;
        pos_ = c_.StartOffset;
        uint8_t sig[4];
        if (c_.ArcFile.ReadAt(pos_, sig, 4) == 4 && Le32(sig) == kSpanSig) pos_ += 4;
        return true;
    }
    const uint64_t end = c_.ArchiveSize;
    const uint64_t cdSize = c_.HasEndRecord ? c_.EndRecord.cdSize : 0;
    if (split && c_.EndRecord.cdDisk != c_.EndRecord.thisDisk) {
        // The directory begins in an earlier part of a set split into files.
        volumes_ = std::make_unique<ZipVolumeSet>(c_.ArchiveFile(), c_.EndRecord.thisDisk);
        if (!volumes_->ReadSpan(c_.EndRecord.cdDisk, c_.EndRecord.cdOffset, cdSize, dir_))
            return Fail(E_FileNotFound, 0, volumes_->MissingVolume());
        return true;
    }
    if (split) volumes_ = std::make_unique<ZipVolumeSet>(c_.ArchiveFile(), c_.EndRecord.thisDisk);
    const uint64_t start = removable_ || split ? c_.EndRecord.cdOffset : c_.StartOffset;
    uint64_t size = c_.HasEndRecord && start < end ? std::min<uint64_t>(cdSize, end - start) : 0;
    if (!c_.HasEndRecord || size == 0) size = end > start ? end - start : 0;
    if (size > (uint64_t{1} << 32)) return Fail(E_BadFileHeader, start, "the central directory is too large");
    dir_.resize(static_cast<size_t>(size));
    dir_.resize(c_.ArcFile.ReadAt(start, dir_.data(), dir_.size()));
    return true;
}

bool Walk::Next(Item& item) {
    if (!started_ && !Start()) done_ = true;
    if (done_ || index_ >= kMaxEntries) return false;
    bool got = central_ ? NextCentral(item) : NextLocal(item);
    if (!got) {
        done_ = true;
        return false;
    }
    item.entry.Index = index_++;
    return true;
}

bool Walk::NextCentral(Item& item) {
    bool got = false;
    DirResult r = ParseCentralDirectory(std::span<const uint8_t>(dir_).subspan(p_), 1, [&](CentralHeader& h) {
        item.central = std::move(h);
        got = true;
        return true;
    });
    if (!got) {
        // The directory ends where fewer bytes than a record remain, or at one of the records that follow it.
        const bool damaged = r.stop == DirStop::Truncated ||
                             (r.stop == DirStop::NotCentral && !EndsDirectory(dir_.data() + p_));
        if (damaged) Fail(E_BadFileHeader, p_, "the central directory is damaged");
        return false;
    }
    p_ += r.offset;
    const CentralHeader& h = item.central;
    item.fromCentral = true;
    item.entry = EntryOf(h, c_.ArcType() == atJar || c_.ArcType() == atJarExe);
    item.disk = static_cast<int>(h.diskStart);
    item.localOffset = h.localOffset;
    if (!volumes_ && !removable_)
        item.localOffset = static_cast<uint64_t>(static_cast<int64_t>(h.localOffset) + c_.ZipOffsetDelta);
    item.entry.Offset = item.localOffset;
    item.entry.VolumeName = c_.ArcType() == atZipMV ? DiskLabel(h.diskStart) : c_.ArchiveFile();
    return true;
}

bool Walk::NextLocal(Item& item) {
    const uint64_t end = c_.ArchiveSize;
    if (pos_ + kLocalSize > end) return false;
    LocalHeader h;
    if (!ReadLocalHeader(c_.ArcFile, pos_, h)) {
        uint8_t sig[4];
        if (c_.ArcFile.ReadAt(pos_, sig, 4) != 4 || (Le32(sig) != kCentralSig && !EndsDirectory(sig)))
            Fail(E_BadFileHeader, pos_);
        return false;
    }
    item.entry = EntryOf(h, pos_);
    item.entry.VolumeName = c_.ArchiveFile();
    item.fromCentral = false;
    item.localOffset = pos_;
    // What the central directory would say, made from the local header.
    CentralHeader& c = item.central;
    c = CentralHeader{};
    c.versionMadeBy = c.versionNeeded = h.versionNeeded;
    c.flags = h.flags;
    c.method = h.method;
    c.dosTime = h.dosTime;
    c.crc = h.crc;
    c.packedSize = h.packedSize;
    c.unpackedSize = h.unpackedSize;
    c.name = h.name;
    c.extra = h.extra;
    c.nameLength = h.nameLength;
    c.externalAttr = item.entry.ExternalAttr;
    const uint64_t data = pos_ + h.headerSize();
    uint64_t next = data + h.packedSize;
    if (h.hasDescriptor() && h.packedSize == 0 && h.method != 0) {
        // A streamed entry: its sizes follow the data.
        Descriptor d;
        if (!FindDescriptor(c_.ArcFile, data, end, d, [this] { return c_.Cancel(); })) {
            // Nothing after it can be found: the entry is the last one read.
            done_ = true;
            return true;
        }
        c.crc = item.entry.EntryCrc = d.crc;
        c.packedSize = item.entry.PackedSize = d.packedSize;
        c.unpackedSize = item.entry.UnpackedSize = d.unpackedSize;
        next = d.next;
    } else if (h.hasDescriptor()) {
        uint8_t d[4];
        if (c_.ArcFile.ReadAt(next, d, 4) == 4 && Le32(d) == kSpanSig)
            next += 16;
        else if (c_.ArcFile.ReadAt(next + 12, d, 4) == 4 && Le32(d) == kLocalSig)
            next += 12;
    }
    if (next <= pos_)
        done_ = true;
    else
        pos_ = next;
    return true;
}

bool Walk::Next(ArchiveEntry& e) {
    Item item;
    if (!Next(item)) return false;
    e = std::move(item.entry);
    return true;
}

}  // namespace varnok::zip
