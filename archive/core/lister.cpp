#include "archive/core/lister.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "archive/core/bytes.h"
#include "archive/formats/ace/ace_headers.h"
#include "archive/formats/arc/arc_headers.h"
#include "archive/formats/arj/arj_headers.h"
#include "archive/formats/bh/bh_headers.h"
#include "archive/formats/cab/cab_headers.h"
#include "archive/formats/gzip/gzip_headers.h"
#include "archive/formats/lzh/lzh_headers.h"
#include "archive/formats/ha/ha_headers.h"
#include "archive/formats/msgz/msgz_headers.h"
#include "archive/formats/uue/uue_headers.h"
#include "archive/formats/rar/rar_headers.h"
#include "archive/formats/tar/tar_headers.h"
#include "archive/core/zip_records.h"
#include "archive/formats/zoo/zoo_headers.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/fileattr.h"

namespace varnok {

namespace {

// Walks are bounded: no archive has more headers than this.
constexpr int kMaxEntries = 10'000'000;

std::string Hex3(int n) {
    char b[16];
    snprintf(b, sizeof b, "%03d", n);
    return b;
}

}  // namespace

std::string MethodText(TArcType type, uint16_t code, uint16_t flags, bool directory) {
    switch (type) {
        case atAce:
        case atAceExe: {
            static const char* n[] = {"Fastest", "Fast", "Normal", "Good", "Best", "Lzw"};
            return code <= 5 ? n[code] : "Unsupported";
        }
        case atArc:
        case atArcExe:
            if (code == 1 || code == 2) return "Stored";
            if (code == 3) return "Packed";
            if (code == 4) return "Squeezed";
            if (code >= 5 && code <= 7) return "crunched";
            if (code == 8) return "Crunched";
            if (code == 9) return "Squashed";
            if (code == 10) return "Pack10";
            if (code == 11) return "Pack11";
            if (code == 12) return "Pack12";
            if (code == 30) return "Dir";
            return "Unsupported";
        case atPak:
        case atPakExe:
            if (code == 1 || code == 2) return "Stored";
            if (code == 3) return "RLE";
            if (code == 4) return "Squeezed";
            if (code >= 5 && code <= 7) return "FIXEDLEN";
            if (code == 8 || code == 9) return "VARIBLE";
            if (code == 10) return "Crushed";
            if (code == 11) return "Distill";
            if (code == 30) return "Dir";
            return "Unsupported";
        case atArj:
        case atArjExe: {
            static const char* n[] = {"Stored", "Most", "2nd Most", "2nd Fast", "Fastest"};
            if (code <= 4) return n[code];
            return directory ? "Dir" : "Unsupported";
        }
        case atBh:
        case atBhExe:
            if (code == 0) return "Stored";
            if (code == 1) return "Fused";
            if (code == 2) return "Deflate";
            if (code == 8) return DeflateName(flags);
            return "Unsupported";
        case atCab:
            switch (code & 15) {
                case 0:
                    return "Stored";
                case 1:
                    return "MsZIP";
                case 2:
                    return "Quantum";
                case 3:
                    return "Lzx";
                default:
                    return "Unsupported";
            }
        case atGZip:
            if (code == 0) return "Stored";
            if (code == 8) return "Deflate";
            if (code == 144) return "LzwMAGIC";
            if (flags == 0x1E1F) return "PackMAGIC";
            if (flags == 0xA01F) return "LzhMAGIC";
            if (flags == 0x9D1F) return "LzwMAGIC";
            return "Unsupported";
        case atHA:
            switch (code) {
                case 0:
                    return "Cpy";
                case 1:
                    return "Asc";
                case 2:
                    return "HSC";
                case 14:
                    return "Dir";
                case 15:
                    return "Special";
                default:
                    return "Unsupported";
            }
        case atRar:
        case atRarExe: {
            if (directory) return "<Dir>";
            static const char* n[] = {"Stored", "Fastest", "Fast", "Normal", "Good", "Best"};
            if (code >= '0' && code <= '5') return n[code - '0'];
            return "Unsupported";
        }
        case atTar:
            return "Tarred";
        case atZip:
        case atZipExe:
        case atZipMV:
        case atJar:
        case atJarExe: {
            static const char* n[] = {"Stored",   "Shrunk",   "Reduce-1", "Reduce-2",
                                      "Reduce-3", "Reduce-4", "Imploded", "Tokened"};
            if (code <= 7) return n[code];
            if (code == 8) return DeflateName(flags);
            if (code == 9) return "Deflate64";
            return directory ? "Dir" : "Unsupported";
        }
        case atZoo:
            if (code == 0) return "Stored";
            if (code == 1) return "Fastest";
            if (code == 2) return "Greatest";
            return "Unsupported";
        default:
            return "";
    }
}

namespace {

// LZH method names go by the whole identifier.
std::string LzhMethodText(const std::string& id) {
    if (id == "-lh0-" || id == "-lz4-") return "Stored";
    if (id == "-lhd-") return "<DIR>";
    if (id.size() == 5 && id.compare(0, 3, "-lh") == 0 && id[3] >= '1' && id[3] <= '7')
        return std::string("Frozen-") + id[3];
    if (id == "-lzs-") return "LArc-s";
    if (id == "-lz5-") return "LArc-5";
    if (id == "-pm0-") return "Stored";
    if (id == "-pm2-") return "PMarc-2";
    return "Unsupported";
}

}  // namespace

TArcLister::TArcLister() {
    SetZipCmntBufSize(32000);
}

std::string TArcLister::Name(const std::string& raw, bool dosHost) const {
    std::string s = TranslateOemChar ? platform::ToDisplayUtf8(raw) : raw;
    if (dosHost)
        for (char& c : s)
            if (c == '\\') c = '/';
    return s;
}

bool TArcLister::StopRequested() {
    if (ProcessMessages) ProcessMessages();
    return Cancel();
}

void TArcLister::Report(ListEntry& e, bool testSpec) {
    if (OnReadFile) OnReadFile(*this, e.EntryName);
    if (testSpec && !SpecMatch(e.EntryName)) return;
    if (e.IsDirectory) {
        if (!ShowEmptyDirs) return;
    } else {
        ++FileCount;
        TotalPacked += e.PackedSize;
        TotalUnpacked += e.UnpackedSize;
    }
    e.Ratio = RatioOf(e.PackedSize, e.UnpackedSize);
    e.FileNum = ++reported_;
    entry_ = e;
    if (OnReadBegin) OnReadBegin(*this);
    if (OnRead) OnRead(*this, entry_.Offset, entry_.FileNum);
    if (OnReadEnd) OnReadEnd(*this);
}

void TArcLister::BadHeader(bool anyReported) {
    if (walkError_ == 0) walkError_ = E_BadFileHeader;
    if (!anyReported) ReportError(ArchiveFile(), "", E_BadFileHeader);
}

bool TArcLister::ReadArchive() {
    BeginRun();
    reported_ = 0;
    walkError_ = 0;
    ExcludeSpec.clear();
    if (ArchiveFile().empty() || !platform::PathExists(ArchiveFile())) {
        ReportError(ArchiveFile(), "", E_FileNotFound);
        return false;
    }
    if (!OnRead) {
        ReportMissingEvent("OnRead");
        return false;
    }
    TArcType t = ArcType();
    if (t == atNA || t == atUnknown || t == atUnsupported) {
        ReportError(ArchiveFile(), "", E_UnknownFileType);
        return false;
    }
    if (t == atFileOpenErr) {
        ReportError(ArchiveFile(), "", E_FileNotFound);
        return false;
    }
    if (!OpenArchiveForRead()) {
        ReportError(ArchiveFile(), platform::LastErrorText(), E_ReadFile);
        return false;
    }
    end_ = ArchiveSize;
    bool ok = true;
    bool activated = false;
    try {
        activated = true;
        if (OnActivate) OnActivate(*this);
        Walk();
        if (OnTotals)
            OnTotals(*this, TotalUnpacked, TotalPacked, RatioOf(TotalPacked, TotalUnpacked), FileCount);
    } catch (const RunCancelled&) {
    } catch (const ArchiveError&) {
        ok = false;
    } catch (const std::exception& ex) {
        ReportError(ArchiveFile(), ex.what(), E_ReadFile);
        ok = false;
    }
    EndRun(activated);
    return ok;
}

void TArcLister::Walk() {
    switch (ArcType()) {
        case atZip:
        case atZipExe:
        case atZipMV:
        case atJar:
        case atJarExe:
            WalkZip();
            break;
        case atArj:
        case atArjExe:
            WalkArj();
            break;
        case atLha:
        case atLhaExe:
        case atLzh:
        case atLzhExe:
            WalkLzh();
            break;
        case atArc:
        case atArcExe:
            WalkArc(false);
            break;
        case atPak:
        case atPakExe:
            WalkArc(true);
            break;
        case atZoo:
            WalkZoo();
            break;
        case atBh:
        case atBhExe:
            WalkBh();
            break;
        case atTar:
            WalkTar();
            break;
        case atGZip:
            WalkGzip();
            break;
        case atCab:
            WalkCab();
            break;
        case atRar:
        case atRarExe:
            WalkRar();
            break;
        case atAce:
        case atAceExe:
            WalkAce();
            break;
        case atHA:
            WalkHa();
            break;
        case atMSGZ:
            WalkMsgz();
            break;
        case atUue:
            WalkEncoded();
            break;
        default:
            ReportError(ArchiveFile(), "", E_UnknownFileType);
            break;
    }
}

// ----------------------------------------------------------------------------------------------------------
// ZIP

void TArcLister::WalkZip() {
    uint64_t start = StartOffset;
    if (ArcType() == atZipMV && DiskManager.IsRemovable()) {
        if (!RequestZipLastDisk()) return;
        int cdDisk = HasEndRecord ? EndRecord.cdDisk + 1 : 1;
        if (!RequestZipDisk(cdDisk)) return;
        HeadFlag |= hfCentralHeader;
        start = EndRecord.cdOffset;
        end_ = ArchiveSize;
        WalkZipCentral(start);
        return;
    }
    if (ArcType() == atZipMV && HasEndRecord && EndRecord.thisDisk > 0) {
        // A set split into files side by side.
        WalkZipCentral(EndRecord.cdOffset);
        return;
    }
    if (ArcType() != atZipMV && OnCorruptZipHeader &&
        (!(HeadFlag & hfEndRecord) || !(HeadFlag & hfCentralHeader) || !(HeadFlag & hfLocalHeader))) {
        bool cancel = true;
        OnCorruptZipHeader(*this, HeadFlag, cancel);
        if (cancel) return;
    }
    if (HeadFlag & hfCentralHeader)
        WalkZipCentral(start);
    else {
        HeadFlag = hfLocalHeader;
        WalkZipLocal(start);
    }
}

void TArcLister::WalkZipCentral(uint64_t start) {
    // A split set on ordinary files: the directory may begin in an earlier part.
    ZipVolumeSet vols(ArchiveFile(), HasEndRecord ? EndRecord.thisDisk : 0);
    bool split = ArcType() == atZipMV && !DiskManager.IsRemovable() && HasEndRecord && EndRecord.thisDisk > 0;
    uint64_t cdSize = HasEndRecord ? EndRecord.cdSize : 0;
    std::vector<uint8_t> dir;
    if (split && EndRecord.cdDisk != EndRecord.thisDisk) {
        if (!vols.ReadSpan(EndRecord.cdDisk, EndRecord.cdOffset, cdSize, dir)) {
            ReportError(vols.MissingVolume(), "", E_FileNotFound);
            return;
        }
    } else {
        uint64_t size = HasEndRecord && start < end_ ? std::min<uint64_t>(cdSize, end_ - start) : 0;
        if (!HasEndRecord || size == 0 || start + size > end_) size = end_ > start ? end_ - start : 0;
        if (size > (uint64_t{1} << 32)) size = uint64_t{1} << 32;
        dir.resize(static_cast<size_t>(size));
        dir.resize(ArcFile.ReadAt(start, dir.data(), dir.size()));
    }
    size_t p = 0;
    int count = 0;
    while (p + zip::kCentralSize <= dir.size() && count < kMaxEntries) {
        if (StopRequested()) return;
        zip::CentralHeader h;
        if (!zip::ParseCentralHeader(dir.data() + p, dir.size() - p, h)) {
            if (Le32(dir.data() + p) != zip::kCentralSig) {
                if (Le32(dir.data() + p) != zip::kEndSig && Le32(dir.data() + p) != zip::kEnd64Sig &&
                    Le32(dir.data() + p) != 0x05054B50)
                    BadHeader(reported_ > 0);
            } else {
                BadHeader(reported_ > 0);
            }
            return;
        }
        ++count;
        ListEntry e;
        std::string name = h.name;
        std::string unicode = zip::ExtraUnicodePath(h.extra, h.name);
        if (!unicode.empty())
            e.EntryName = unicode;
        else if (h.utf8())
            e.EntryName = name;
        else
            e.EntryName = Name(name, true);
        for (char& c : e.EntryName)
            if (c == '\\') c = '/';
        e.EntryDate = DosToUnixTime(h.dosTime);
        e.PackedSize = h.packedSize;
        e.UnpackedSize = h.unpackedSize;
        e.EntryCrc = h.crc;
        e.Encrypted = h.encrypted();
        e.MethodCode = h.method;
        e.IsDirectory = (h.externalAttr & 0x18) || h.isDirectory();
        e.MethodText = e.IsDirectory ? "" : MethodText(ArcType(), h.method, h.flags, false);
        e.InternalAttr = h.internalAttr;
        e.ExternalAttr = h.externalAttr & 0xFFFF;
        e.VersionMadeBy = h.versionMadeBy;
        e.VersionNeeded = h.versionNeeded;
        e.EntryComment = TranslateOemChar ? platform::ToDisplayUtf8(h.comment) : h.comment;
        e.UnixMode = h.unixMode();
        if (e.UnixMode && (e.ExternalAttr & 0x3F) == 0) {
            // Made on Unix: the DOS attributes follow from the mode.
            e.ExternalAttr = e.IsDirectory ? 0x10 : 0x20;
            if (!(e.UnixMode & 0200)) e.ExternalAttr |= 0x01;
        }
        e.Offset = static_cast<uint64_t>(static_cast<int64_t>(h.localOffset) + ZipOffsetDelta);
        e.VolumeName =
            ArcType() == atZipMV ? "PKBACK# " + Hex3(static_cast<int>(h.diskStart) + 1) : ArchiveFile();
        Report(e);
        p += static_cast<size_t>(h.recordSize());
    }
}

void TArcLister::WalkZipLocal(uint64_t pos) {
    uint8_t sig[4];
    if (ArcFile.ReadAt(pos, sig, 4) == 4 && Le32(sig) == zip::kSpanSig) pos += 4;
    for (int count = 0; count < kMaxEntries && pos + zip::kLocalSize <= end_; ++count) {
        if (StopRequested()) return;
        zip::LocalHeader h;
        if (!zip::ReadLocalHeader(ArcFile, pos, h)) {
            if (ArcFile.ReadAt(pos, sig, 4) != 4 ||
                (Le32(sig) != zip::kCentralSig && Le32(sig) != zip::kEndSig && Le32(sig) != 0x05054B50))
                BadHeader(reported_ > 0);
            return;
        }
        ListEntry e;
        std::string unicode = zip::ExtraUnicodePath(h.extra, h.name);
        e.EntryName = !unicode.empty() ? unicode : (h.flags & 0x800) ? h.name : Name(h.name, true);
        for (char& c : e.EntryName)
            if (c == '\\') c = '/';
        e.EntryDate = DosToUnixTime(h.dosTime);
        e.PackedSize = h.packedSize;
        e.UnpackedSize = h.unpackedSize;
        e.EntryCrc = h.crc;
        e.Encrypted = h.flags & 1;
        e.MethodCode = h.method;
        e.IsDirectory = !e.EntryName.empty() && e.EntryName.back() == '/';
        e.MethodText = e.IsDirectory ? "" : MethodText(ArcType(), h.method, h.flags, false);
        e.VersionMadeBy = e.VersionNeeded = h.versionNeeded;
        e.Offset = pos;
        e.VolumeName = ArchiveFile();
        uint64_t data = pos + h.headerSize();
        uint64_t next = data + h.packedSize;
        if (h.hasDescriptor() && h.packedSize == 0 && h.method != 0) {
            // Streamed entry: find the data descriptor whose compressed size fits its distance from the data.
            bool found = false;
            std::vector<uint8_t> buf(65536 + 24);
            for (uint64_t at = data; at < end_ && !found; at += 65536) {
                size_t got = ArcFile.ReadAt(at, buf.data(), buf.size());
                for (size_t i = 0; i + 16 <= got && i < 65536; ++i) {
                    if (Le32(&buf[i]) != zip::kSpanSig) continue;
                    uint64_t csize = Le32(&buf[i + 8]);
                    if (csize == at + i - data) {
                        e.EntryCrc = Le32(&buf[i + 4]);
                        e.PackedSize = csize;
                        e.UnpackedSize = Le32(&buf[i + 12]);
                        next = at + i + 16;
                        found = true;
                        break;
                    }
                }
                if (StopRequested()) return;
            }
            if (!found) {
                Report(e);
                return;
            }
        } else if (h.hasDescriptor()) {
            uint8_t d[4];
            if (ArcFile.ReadAt(next, d, 4) == 4 && Le32(d) == zip::kSpanSig)
                next += 16;
            else if (ArcFile.ReadAt(next + 12, d, 4) == 4 && Le32(d) == zip::kLocalSig)
                next += 12;
        }
        Report(e);
        if (next <= pos) return;
        pos = next;
    }
}

// ----------------------------------------------------------------------------------------------------------
// ARJ

bool TArcLister::NextVolume() {
    if (!OpenNextVolume()) {
        SetCancel(true);
        return false;
    }
    end_ = ArchiveSize;
    return true;
}

void TArcLister::WalkArj() {
    arj::Header main;
    if (arj::ReadHeader(ArcFile, StartOffset, end_, main) != arj::ReadResult::Ok)
        RaiseError(ArchiveFile(), "", E_BadFileHeader);
    const bool multiVolume = main.flags & arj::fVolume;
    uint64_t pos = main.dataPos;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (StopRequested()) return;
        arj::Header h;
        auto r = arj::ReadHeader(ArcFile, pos, end_, h);
        if (r == arj::ReadResult::End) return;
        if (r == arj::ReadResult::Bad) {
            BadHeader(reported_ > 0);
            return;
        }
        if (!(h.flags & arj::fVolume) && (h.flags & arj::fExtFile) && multiVolume) {
            pos = h.nextPos;
            continue;
        }
        ListEntry e;
        e.PackedSize = h.packedSize;
        e.UnpackedSize = h.unpackedSize;
        arj::Header last = h;
        uint64_t next = h.nextPos;
        while (last.flags & arj::fVolume) {
            if (!NextVolume()) return;
            arj::Header vm, part;
            if (arj::ReadHeader(ArcFile, 0, end_, vm) != arj::ReadResult::Ok ||
                arj::ReadHeader(ArcFile, vm.dataPos, end_, part) != arj::ReadResult::Ok) {
                BadHeader(reported_ > 0);
                return;
            }
            e.PackedSize += part.packedSize;
            e.UnpackedSize += part.unpackedSize;
            last = part;
            next = part.nextPos;
        }
        const bool unixHost = h.hostOs == 2 || h.hostOs == 8;  // UNIX and NeXT store Unix times and modes
        e.EntryName = Name(last.name, h.hostOs == 0);
        e.EntryDate = unixHost ? ArchiveUnixTime(h.dosTime) : DosToUnixTime(h.dosTime);
        e.EntryCrc = last.crc;
        e.Encrypted = h.flags & arj::fGarbled;
        e.MethodCode = h.method;
        e.IsDirectory = h.fileType == arj::ftDirectory;
        e.MethodText = MethodText(ArcType(), h.method, 0, e.IsDirectory);
        e.InternalAttr = e.ExternalAttr = h.accessMode;
        if (unixHost) {
            e.UnixMode = h.accessMode;
            e.ExternalAttr = e.IsDirectory ? 0x10 : 0x20;
            if (!(h.accessMode & 0200)) e.ExternalAttr |= 0x01;
            e.InternalAttr = static_cast<uint16_t>(e.ExternalAttr);
        }
        e.VersionMadeBy = h.archiverVersion;
        e.VersionNeeded = h.minVersion;
        e.EntryComment = Name(h.comment, false);
        e.Offset = h.pos;
        e.VolumeName = CurrentVolume;
        if (h.fileType == arj::ftBinary || h.fileType == arj::ftText || e.IsDirectory) Report(e);
        pos = next;
    }
}

// ----------------------------------------------------------------------------------------------------------
// LZH

void TArcLister::WalkLzh() {
    uint64_t pos = StartOffset;
    uint8_t first;
    if (ArcFile.ReadAt(pos, &first, 1) == 1 && first == 0 && ArcType() != atLhaExe) pos += 128;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (StopRequested()) return;
        lzh::Header h;
        auto r = lzh::ReadHeader(ArcFile, pos, end_, h);
        if (r == lzh::ReadResult::End) return;
        if (r == lzh::ReadResult::Bad) {
            BadHeader(reported_ > 0);
            return;
        }
        ListEntry e;
        e.EntryName = h.nameIsUtf16 ? h.name : Name(h.name, h.osId != 'U');
        e.EntryDate = h.level >= 2 || h.unixTime ? ArchiveUnixTime(h.unixTime) : DosToUnixTime(h.dosTime);
        e.PackedSize = h.packedSize;
        e.UnpackedSize = h.unpackedSize;
        e.EntryCrc = h.crc;
        e.CrcBits = 16;
        e.MethodCode = static_cast<uint8_t>(h.method[3]);
        e.MethodText = LzhMethodText(h.method);
        e.InternalAttr = 32;
        e.ExternalAttr = h.attribute;
        e.IsDirectory = h.isDirectory();
        if (h.hasUnixMode) e.UnixMode = h.unixMode;
        e.LinkTarget = h.symlinkTarget;
        e.Offset = h.pos;
        e.VolumeName = ArchiveFile();
        if (e.IsDirectory && !e.EntryName.empty() && e.EntryName.back() == '/') e.EntryName.pop_back();
        Report(e);
        if (h.nextPos <= pos) return;
        pos = h.nextPos;
    }
}

// ----------------------------------------------------------------------------------------------------------
// ARC

void TArcLister::WalkArc(bool pak) {
    uint64_t pos = StartOffset;
    std::vector<std::string> prefix;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (StopRequested()) return;
        arc::Header h;
        auto r = arc::ReadHeader(ArcFile, pos, end_, h);
        if (r == arc::ReadResult::End) {
            // The end of a folder's entries: back to its parent.
            if (h.method == arc::kEndOfDirectory && !prefix.empty()) {
                prefix.pop_back();
                pos = h.nextPos;
                continue;
            }
            return;
        }
        if (r == arc::ReadResult::Bad) {
            BadHeader(reported_ > 0);
            return;
        }
        std::string dir;
        for (const auto& p : prefix)
            dir += p + "/";
        ListEntry e;
        e.EntryName = dir + Name(h.name, true);
        e.EntryDate = DosToUnixTime(h.dosTime);
        e.PackedSize = h.packedSize;
        e.UnpackedSize = h.unpackedSize;
        e.EntryCrc = h.crc;
        e.CrcBits = 16;
        e.MethodCode = h.method;
        e.MethodText = MethodText(ArcType(), h.method);
        e.IsDirectory = h.method == arc::kDirectory;
        e.InternalAttr = e.ExternalAttr = (e.IsDirectory && !pak) ? 16 : 32;
        e.Offset = h.pos;
        e.VolumeName = ArchiveFile();
        if (e.IsDirectory) {
            e.PackedSize = e.UnpackedSize = 0;
            if (prefix.size() < 64) prefix.push_back(Name(h.name, true));
        }
        Report(e);
        if (h.nextPos <= pos) return;
        pos = h.nextPos;
    }
}

// ----------------------------------------------------------------------------------------------------------
// ZOO

void TArcLister::WalkZoo() {
    zoo::ArchiveHeader ah;
    if (!zoo::ReadArchiveHeader(ArcFile, end_, ah)) {
        BadHeader(false);
        return;
    }
    uint64_t pos = ah.firstEntry;
    std::set<uint64_t> seen;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (StopRequested()) return;
        zoo::Entry z;
        auto r = zoo::ReadEntry(ArcFile, pos, end_, z);
        if (r == zoo::ReadResult::End) return;
        if (r == zoo::ReadResult::Bad) {
            BadHeader(reported_ > 0);
            return;
        }
        if (!z.deleted) {
            ListEntry e;
            e.EntryName = Name(z.FullName(), true);
            e.EntryDate = DosToUnixTime(z.dosTime);
            e.PackedSize = z.packedSize;
            e.UnpackedSize = z.unpackedSize;
            e.EntryCrc = z.crc;
            e.CrcBits = 16;
            e.MethodCode = z.method;
            e.MethodText = MethodText(ArcType(), z.method);
            e.VersionMadeBy = z.majorVersion;
            e.VersionNeeded = z.minorVersion;
            if (z.hasUnixMode) e.UnixMode = z.unixMode;
            if (z.commentLength && z.commentPos + static_cast<uint64_t>(z.commentLength) <= end_) {
                std::string c(z.commentLength, '\0');
                c.resize(ArcFile.ReadAt(z.commentPos, c.data(), c.size()));
                e.EntryComment = Name(c, false);
            }
            e.Offset = z.pos;
            e.VolumeName = ArchiveFile();
            Report(e);
        }
        // The chain must move forward; a pointer back would loop.
        if (z.next < 1 || z.next <= pos || !seen.insert(z.next).second) return;
        pos = z.next;
    }
}

// ----------------------------------------------------------------------------------------------------------
// BH

void TArcLister::WalkBh() {
    uint64_t pos = StartOffset;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (StopRequested()) return;
        bh::Header h;
        auto r = bh::ReadHeader(ArcFile, pos, end_, h);
        if (r == bh::ReadResult::End) return;
        if (r == bh::ReadResult::Bad) {
            BadHeader(reported_ > 0);
            return;
        }
        ListEntry e;
        e.EntryName = Name(h.name, true);
        e.EntryDate = DosToUnixTime(h.dosTime);
        e.PackedSize = h.packedSize;
        e.UnpackedSize = h.unpackedSize;
        e.EntryCrc = h.crc;
        e.Encrypted = h.encrypted();
        e.MethodCode = h.method;
        e.MethodText = MethodText(ArcType(), h.method, h.flags);
        e.VersionMadeBy = h.versionMadeBy;
        e.VersionNeeded = h.versionNeeded;
        e.InternalAttr = e.ExternalAttr = h.attributes;
        e.IsDirectory = h.isDirectory();
        e.Offset = h.pos;
        e.VolumeName = ArchiveFile();
        Report(e);
        if (h.nextPos <= pos) return;
        pos = h.nextPos;
    }
}

// ----------------------------------------------------------------------------------------------------------
// TAR

void TArcLister::WalkTar() {
    uint64_t pos = StartOffset;
    tar::PaxGlobals globals;
    std::map<std::string, uint64_t> sizes;  // hard links show the size of what they link to
    for (int count = 0; count < kMaxEntries; ++count) {
        if (StopRequested()) return;
        tar::Entry t;
        auto r = tar::ReadEntry(ArcFile, pos, end_, globals, t);
        if (r == tar::ReadResult::End) return;
        if (r == tar::ReadResult::Bad) {
            BadHeader(reported_ > 0);
            return;
        }
        if (t.name.empty()) return;
        ListEntry e;
        e.EntryName = Name(t.name, false);
        while (e.EntryName.size() > 1 && e.EntryName.back() == '/')
            e.EntryName.pop_back();
        e.EntryDate = t.mtimeValid ? t.mtime : DosToUnixTime(0);
        e.PackedSize = t.size;
        e.UnpackedSize = t.realSize;
        if (t.type == '1' || t.type == '2' || t.type == '3' || t.type == '4' || t.type == '6') {
            e.PackedSize = 0;
            e.UnpackedSize = t.type == '1' || t.type == '2' ? 0 : e.UnpackedSize;
            if (t.type == '3' || t.type == '4' || t.type == '6') e.UnpackedSize = 0;
        }
        if (t.isFile()) sizes[t.name] = t.realSize;
        if (t.type == '1') {
            auto it = sizes.find(t.linkName);
            if (it != sizes.end()) e.UnpackedSize = it->second;
        }
        e.EntryCrc = t.checksum;
        e.CrcBits = 0;
        e.MethodText = MethodText(atTar, 0);
        e.IsDirectory = t.isDirectory();
        e.UnixMode = t.mode;
        if (t.type == '1' || t.type == '2') e.LinkTarget = t.linkName;
        e.Offset = t.firstPos;
        e.VolumeName = ArchiveFile();
        if (t.type != 'V' && t.type != 'M' && t.type != 'D') Report(e);
        if (t.nextPos <= pos) return;
        pos = t.nextPos;
    }
}

// ----------------------------------------------------------------------------------------------------------
// GZIP

void TArcLister::WalkGzip() {
    gzip::Header h;
    if (!gzip::ReadHeader(ArcFile, end_, h)) {
        BadHeader(false);
        return;
    }
    ListEntry e;
    std::string name = h.name;
    uint64_t fileSize = end_;
    if (h.isGzip() && fileSize >= 16) {
        uint8_t t[8];
        ArcFile.ReadAt(fileSize - 8, t, 8);
        // Some writers append the name after the data: 1F 8B 00 00, its length, then the name before them.
        if (Le32(t) == 35615) {
            uint64_t len = Le32(t + 4);
            if (len > 0 && len < 4096 && len + 16 <= fileSize) {
                std::string n(static_cast<size_t>(len), '\0');
                if (ArcFile.ReadAt(fileSize - len - 8, n.data(), n.size()) == n.size())
                    name = FieldString(reinterpret_cast<const uint8_t*>(n.data()), n.size());
                uint8_t c[4];
                if (ArcFile.ReadAt(fileSize - len - 16, c, 4) == 4) h.trailerCrc = Le32(c);
            }
        }
    }
    e.EntryName = name.empty() ? gzip::NameFromArchive(ArchiveFile()) : Name(name, false);
    e.EntryDate = h.isGzip() ? ArchiveUnixTime(h.mtime) : platform::FileMTime(ArchiveFile());
    if (h.isGzip()) {
        e.PackedSize = (h.flags & gzip::fExtra) ? fileSize - h.extraLength - 8 : fileSize - 10;
        if (fileSize < 18) e.PackedSize = fileSize;
        e.UnpackedSize = std::max<uint64_t>(h.trailerSize, 0);
        if (OnMeasureGzip) {
            if (auto n = OnMeasureGzip(ArcFile, fileSize)) e.UnpackedSize = *n;
        }
        e.EntryCrc = h.trailerCrc;
    } else {
        e.PackedSize = fileSize;
        e.CrcBits = 0;
        e.UnpackedSize = fileSize;
        if (h.isCompress() && OnMeasureStream) {
            if (auto n = OnMeasureStream(ArcFile, h.dataPos)) e.UnpackedSize = *n;
        }
    }
    e.Encrypted = h.flags & gzip::fEncrypted;
    e.MethodCode = h.method;
    e.MethodText = MethodText(atGZip, h.method, h.magic);
    e.ExternalAttr = platform::AttributesOf(ArchiveFile()) & 0x3F;
    e.VolumeName = ArchiveFile();
    Report(e, false);
}

// ----------------------------------------------------------------------------------------------------------
// CAB

void TArcLister::WalkCab() {
    cab::Cabinet c;
    if (!cab::ReadCabinet(ArcFile, StartOffset, end_, c)) {
        ReportError(ArchiveFile(), "", E_BadFileHeader);
        return;
    }
    std::string method = c.folders.empty() ? "Stored" : MethodText(atCab, c.folders[0].compression);
    bool fromPrevious = false;
    std::set<std::string> visited{ArchiveFile()};
    for (int cabinets = 0; cabinets < 1000; ++cabinets) {
        for (const auto& f : c.files) {
            if (StopRequested()) return;
            // A file continued from the previous cabinet was reported there already.
            if (fromPrevious && f.continuedFromPrev()) continue;
            ListEntry e;
            bool utf = f.attributes & cab::kAttrNameIsUtf;
            e.EntryName = utf ? f.name : Name(f.name, true);
            e.EntryDate = DosToUnixTime(f.dosTime());
            e.PackedSize = e.UnpackedSize = f.size;
            e.CrcBits = 0;
            e.MethodCode = c.folders.empty() ? 0 : c.folders[0].compression;
            e.MethodText = method;
            e.VersionMadeBy = c.minorVersion;
            e.VersionNeeded = c.majorVersion;
            e.InternalAttr = e.ExternalAttr = f.attributes & 0x7F;
            e.IsDirectory = f.attributes & 0x10;
            e.Offset = c.base;
            e.VolumeName = CurrentVolume;
            Report(e);
        }
        if (!(c.flags & cab::fNextCabinet) || c.nextCabinet.empty()) return;
        std::string next = ExtractFilePath(ArchiveFile()) + c.nextCabinet;
        // Names in cabinets come from DOS: find the file whatever the case of its name.
        std::string found = FindFileIgnoringCase(next);
        if (!found.empty()) next = found;
        if (visited.count(next)) return;
        if (!RequestVolume(next, VolumeNumber + 1)) {
            SetCancel(true);
            return;
        }
        visited.insert(next);
        if (!ArcFile.Close()) RaiseError(next, "", E_CloseFile);
        if (!ArcFile.Open(next, platform::File::Mode::Read)) {
            ArcFile.Open(ArchiveFile(), platform::File::Mode::Read);
            RaiseError(next, "", E_ReadFile);
        }
        CurrentVolume = next;
        end_ = ArcFile.Size();
        if (!cab::ReadCabinet(ArcFile, 0, end_, c)) {
            ReportError(next, "", E_BadFileHeader);
            return;
        }
        fromPrevious = true;
    }
}

// ----------------------------------------------------------------------------------------------------------
// RAR

void TArcLister::WalkRar() {
    rar::Format fmt = rar::DetectFormat(ArcFile, StartOffset);
    if (fmt == rar::Format::None) {
        BadHeader(false);
        return;
    }
    uint64_t pos = StartOffset + (fmt == rar::Format::Rar4 ? rar::kMarker4Size : rar::kMarker5Size);
    uint64_t packedSoFar = 0;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (StopRequested()) return;
        rar::Block b;
        auto r = fmt == rar::Format::Rar4 ? rar::ReadBlock4(ArcFile, pos, end_, b)
                                          : rar::ReadBlock5(ArcFile, pos, end_, b);
        if (r == rar::ReadResult::End) return;
        if (r == rar::ReadResult::Bad) {
            BadHeader(reported_ > 0);
            return;
        }
        if (b.headersEncrypted) {
            ReportError(ArchiveFile(), "", E_PasswordProtected);
            return;
        }
        if (b.isFile) {
            packedSoFar = b.splitBefore ? packedSoFar + b.dataSize : b.dataSize;
            if (b.splitAfter) {
                if (!NextVolume()) {
                    if (reported_ > 0) return;
                    packedSoFar = 0;
                } else {
                    fmt = rar::DetectFormat(ArcFile, 0);
                    if (fmt == rar::Format::None) {
                        BadHeader(reported_ > 0);
                        return;
                    }
                    pos = fmt == rar::Format::Rar4 ? rar::kMarker4Size : rar::kMarker5Size;
                    continue;
                }
            }
            ListEntry e;
            e.EntryName = b.nameIsUtf8 ? b.name : Name(b.name, b.hostOs != 3);
            e.EntryDate = b.unixTime ? b.unixTime : DosToUnixTime(b.dosTime);
            e.PackedSize = packedSoFar;
            e.UnpackedSize = b.unpackedSize;
            e.EntryCrc = b.crc;
            e.Encrypted = b.encrypted;
            e.MethodCode = b.method;
            e.MethodText = MethodText(ArcType(), b.method, 0, b.isDirectory);
            e.VersionMadeBy = b.versionNeeded;
            e.IsDirectory = b.isDirectory;
            bool unixHost = fmt == rar::Format::Rar4 ? b.hostOs == 3 : b.hostOs == 1;
            if (unixHost) {
                e.UnixMode = b.attributes & 0xFFFF;
                e.ExternalAttr = (b.attributes & 0170000) == 0040000 ? 16 : 32;
            } else {
                e.ExternalAttr = b.attributes;
            }
            e.Offset = b.pos;
            e.VolumeName = CurrentVolume;
            Report(e);
            packedSoFar = 0;
        }
        if (b.nextPos <= pos) return;
        pos = b.nextPos;
    }
}

// ----------------------------------------------------------------------------------------------------------
// ACE

void TArcLister::WalkAce() {
    auto readMain = [&](uint64_t at, uint64_t& next) {
        ace::Block m;
        if (ace::ReadBlock(ArcFile, at, end_, m) != ace::ReadResult::Ok || m.type != ace::kTypeMain)
            return false;
        next = m.nextPos;
        return true;
    };
    uint64_t pos;
    if (!readMain(StartOffset, pos)) {
        BadHeader(false);
        return;
    }
    uint64_t packedSoFar = 0;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (StopRequested()) return;
        ace::Block b;
        auto r = ace::ReadBlock(ArcFile, pos, end_, b);
        if (r == ace::ReadResult::End) return;
        if (r == ace::ReadResult::Bad) {
            BadHeader(reported_ > 0);
            return;
        }
        if (b.type == ace::kTypeFile) {
            packedSoFar = (b.flags & ace::fSplitBefore) ? packedSoFar + b.addSize : b.addSize;
            ListEntry e;
            e.EntryName = Name(b.name, true);
            e.EntryDate = DosToUnixTime(b.dosTime);
            e.PackedSize = packedSoFar;
            e.UnpackedSize = b.unpackedSize;
            e.EntryCrc = b.crc;
            e.Encrypted = b.flags & ace::fPassword;
            e.MethodCode = b.quality;
            e.MethodText = b.compressionType == 0 ? "Stored" : MethodText(atAce, b.quality);
            e.InternalAttr = static_cast<uint16_t>(b.attributes);
            e.ExternalAttr = b.attributes;
            e.IsDirectory = b.attributes & 0x10;
            e.Offset = b.pos;
            e.VolumeName = CurrentVolume;
            bool continued = b.flags & ace::fSplitBefore;
            if (b.flags & ace::fSplitAfter) {
                if (!NextVolume()) return;
                if (!readMain(0, pos)) {
                    BadHeader(reported_ > 0);
                    return;
                }
                // The next volume starts with this file's next part, which carries the totals.
                continue;
            }
            if (e.IsDirectory)
                Report(e);
            else {
                (void)continued;
                Report(e);
            }
            packedSoFar = 0;
        }
        if (b.nextPos <= pos) return;
        pos = b.nextPos;
    }
}

// ----------------------------------------------------------------------------------------------------------
// HA

void TArcLister::WalkHa() {
    uint16_t files = 0;
    if (!ha::ReadArchiveHeader(ArcFile, files)) {
        BadHeader(false);
        return;
    }
    uint64_t pos = 4;
    for (int count = 0; count < files; ++count) {
        if (StopRequested()) return;
        ha::Entry h;
        auto r = ha::ReadEntry(ArcFile, pos, end_, h);
        if (r != ha::ReadResult::Ok) {
            if (r == ha::ReadResult::Bad) BadHeader(reported_ > 0);
            return;
        }
        ListEntry e;
        e.EntryName = Name(h.FullName(), true);
        e.EntryDate = h.unixTime ? h.unixTime : platform::NowUnix();
        e.PackedSize = h.packedSize;
        e.UnpackedSize = h.unpackedSize;
        e.EntryCrc = h.crc;
        e.MethodCode = h.method;
        e.MethodText = MethodText(atHA, h.method);
        e.VersionMadeBy = e.VersionNeeded = h.version;
        e.InternalAttr = e.ExternalAttr = 32;
        e.IsDirectory = h.method == 14;
        e.Offset = h.pos;
        e.VolumeName = ArchiveFile();
        Report(e);
        if (h.nextPos <= pos) return;
        pos = h.nextPos;
    }
}

// ----------------------------------------------------------------------------------------------------------
// MSGZ

void TArcLister::WalkMsgz() {
    std::vector<std::string> dirs;
    uint64_t pos;
    if (!msgz::ReadDirectoryTable(ArcFile, end_, dirs, pos)) {
        BadHeader(false);
        return;
    }
    for (int count = 0; count < kMaxEntries && pos + 29 < end_; ++count) {
        if (StopRequested()) return;
        msgz::Entry m;
        if (!msgz::ReadEntry(ArcFile, pos, end_, m)) return;
        ListEntry e;
        std::string name = Name(m.name, true);
        if (!dirs.empty() && m.dirIndex < dirs.size() && !dirs[m.dirIndex].empty())
            name = AppendSlash(Name(dirs[m.dirIndex], true)) + name;
        e.EntryName = name;
        e.EntryDate = DosToUnixTime(m.dosTime);
        e.PackedSize = m.packedSize;
        e.UnpackedSize = m.unpackedSize;
        e.CrcBits = 0;
        e.InternalAttr = static_cast<uint16_t>(m.attributes);
        e.ExternalAttr = m.attributes;
        e.Offset = m.dataOffset;
        e.VolumeName = ArchiveFile();
        Report(e);
        pos += m.recordLength;
    }
}

// ----------------------------------------------------------------------------------------------------------
// text

void TArcLister::WalkEncoded() {
    encoded::Begin b;
    if (!encoded::FindBegin(ArcFile, 0, std::min<uint64_t>(end_, 32768), b)) {
        BadHeader(false);
        return;
    }
    ListEntry e;
    e.EntryName = Name(b.name, false);
    e.EntryDate = platform::FileMTime(ArchiveFile());
    e.PackedSize = end_;
    e.UnpackedSize = encoded::DecodedSize(ArcFile, b, end_, ArchiveFile());
    e.CrcBits = 0;
    e.InternalAttr = e.ExternalAttr = 32;
    e.UnixMode = b.mode;
    e.Offset = 0;
    e.VolumeName = ArchiveFile();
    // One entry, reported without the file pattern and not counted.
    if (OnReadFile) OnReadFile(*this, e.EntryName);
    e.FileNum = ++reported_;
    entry_ = e;
    if (OnReadBegin) OnReadBegin(*this);
    if (OnRead) OnRead(*this, 0, 1);
    if (OnReadEnd) OnReadEnd(*this);
}

}  // namespace varnok
