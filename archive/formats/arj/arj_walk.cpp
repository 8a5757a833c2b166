#include "archive/formats/arj/arj_walk.h"

#include "archive/core/component.h"
#include "archive/core/utils.h"

namespace varnok::arj {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;

}  // namespace

bool UnixHost(uint8_t hostOs) {
    return hostOs == 2 || hostOs == 8;
}

NameOrigin OriginOf(uint8_t hostOs) {
    switch (hostOs) {
        case 2:  // UNIX
        case 3:  // Amiga
        case 8:  // NeXT
        case 9:  // VAX VMS
            return NameOrigin::Unix;
        case 4:  // Mac OS
            return NameOrigin::Mac;
        default:  // MS-DOS, OS/2, Windows 95 and NT, Atari ST, ...
            return NameOrigin::Dos;
    }
}

bool HoldsEntry(const Header& h) {
    return h.fileType == ftBinary || h.fileType == ftText || h.fileType == ftDirectory;
}

std::string MethodText(uint8_t method, bool directory) {
    static const char* const kNames[] = {"Stored", "Most", "2nd Most", "2nd Fast", "Fastest"};
    if (method <= 4) return kNames[method];
    return directory ? "Dir" : "Unsupported";
}

ArchiveEntry EntryOf(const Header& h) {
    ArchiveEntry e;
    e.RawName = h.name;
    e.RawComment = h.comment;
    e.Origin = OriginOf(h.hostOs);
    // Only MS-DOS archivers wrote "\" between folders; elsewhere it is part of a name.
    e.BackslashSeparates = h.hostOs == 0;
    const bool unixHost = UnixHost(h.hostOs);
    e.EntryDate = unixHost ? ArchiveUnixTime(h.dosTime) : DosToUnixTime(h.dosTime);
    e.PackedSize = h.packedSize;
    e.UnpackedSize = h.unpackedSize;
    e.EntryCrc = h.crc;
    e.Encrypted = h.flags & fGarbled;
    e.MethodCode = h.method;
    e.IsDirectory = h.fileType == ftDirectory;
    e.MethodText = MethodText(h.method, e.IsDirectory);
    e.InternalAttr = e.ExternalAttr = h.accessMode;
    if (unixHost) {
        e.UnixMode = h.accessMode;
        e.ExternalAttr = e.IsDirectory ? 0x10 : 0x20;
        if (!(h.accessMode & 0200)) e.ExternalAttr |= 0x01;
        e.InternalAttr = static_cast<uint16_t>(e.ExternalAttr);
    } else if (e.IsDirectory) {
        e.ExternalAttr |= 0x10;
    }
    e.VersionMadeBy = h.archiverVersion;
    e.VersionNeeded = h.minVersion;
    // A file continued in the next volume has its size spread over the parts.
    e.SizeKnown = !(h.flags & fVolume);
    e.Offset = h.pos;
    return e;
}

Walk::Walk(TZipCommon& c) : c_(c) {}

bool Walk::NextVolume() {
    if (!c_.OpenNextVolume()) {
        c_.SetCancel(true);
        return false;
    }
    LeftFirstVolume();
    return true;
}

bool Walk::Next(ArchiveEntry& e) {
    if (!started_) {
        started_ = true;
        Header main;
        if (ReadHeader(c_.ArcFile, c_.StartOffset, c_.ArchiveSize, main) != ReadResult::Ok) {
            done_ = true;
            return Fail(E_BadFileHeader, c_.StartOffset);
        }
        multiVolume_ = main.flags & fVolume;
        pos_ = main.dataPos;
    }
    while (!done_ && index_ < kMaxEntries) {
        Header h;
        auto r = ReadHeader(c_.ArcFile, pos_, c_.ArchiveSize, h);
        if (r != ReadResult::Ok) {
            done_ = true;
            if (r == ReadResult::Bad) return Fail(E_BadFileHeader, pos_);
            return false;
        }
        // A part continued from the previous volume was counted with its file's first part.
        if (!(h.flags & fVolume) && (h.flags & fExtFile) && multiVolume_) {
            pos_ = h.nextPos;
            continue;
        }
        uint64_t packed = h.packedSize, unpacked = h.unpackedSize;
        Header last = h;
        uint64_t next = h.nextPos;
        while (last.flags & fVolume) {
            if (!NextVolume()) {
                done_ = true;
                return false;
            }
            Header vm, part;
            if (ReadHeader(c_.ArcFile, 0, c_.ArchiveSize, vm) != ReadResult::Ok ||
                ReadHeader(c_.ArcFile, vm.dataPos, c_.ArchiveSize, part) != ReadResult::Ok) {
                done_ = true;
                return Fail(E_BadFileHeader, 0);
            }
            packed += part.packedSize;
            unpacked += part.unpackedSize;
            last = part;
            next = part.nextPos;
        }
        pos_ = next;
        if (!HoldsEntry(h)) continue;
        e = EntryOf(h);
        // The file as a whole: the last part's name and check value, the parts' sizes summed.
        e.RawName = last.name;
        e.EntryCrc = last.crc;
        e.PackedSize = packed;
        e.UnpackedSize = unpacked;
        e.SizeKnown = true;
        e.VolumeName = c_.CurrentVolume;
        e.Index = index_++;
        return true;
    }
    return false;
}

}  // namespace varnok::arj
