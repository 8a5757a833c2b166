#include "archive/formats/zoo/zoo_walk.h"

#include "archive/core/component.h"
#include "archive/core/utils.h"

namespace varnok::zoo {

namespace {

constexpr uint32_t kMaxEntries = 1'000'000;

}  // namespace

std::string MethodText(uint8_t method) {
    if (method == 0) return "Stored";
    if (method == 1) return "Fastest";
    if (method == 2) return "Greatest";
    return "Unsupported";
}

ArchiveEntry EntryOf(const Entry& z, std::string comment) {
    ArchiveEntry e;
    e.RawName = z.FullName();
    e.RawComment = std::move(comment);
    e.Origin = z.systemId == 0 ? NameOrigin::Unix : NameOrigin::Dos;
    e.EntryDate = DosToUnixTime(z.dosTime);
    e.PackedSize = z.packedSize;
    e.UnpackedSize = z.unpackedSize;
    e.EntryCrc = z.crc;
    e.CrcBits = 16;
    e.MethodCode = z.method;
    e.MethodText = MethodText(z.method);
    e.VersionMadeBy = z.majorVersion;
    e.VersionNeeded = z.minorVersion;
    if (z.hasUnixMode) e.UnixMode = z.unixMode;
    e.Offset = z.pos;
    return e;
}

Walk::Walk(TZipCommon& c) : c_(c) {}

bool Walk::Next(Item& item) {
    if (!started_) {
        started_ = true;
        ArchiveHeader ah;
        if (!ReadArchiveHeader(c_.ArcFile, c_.ArchiveSize, ah)) {
            done_ = true;
            return Fail(E_BadFileHeader, 0, "the archive header is damaged");
        }
        pos_ = ah.firstEntry;
    }
    while (!done_ && index_ < kMaxEntries) {
        Entry& z = item.header;
        auto r = ReadEntry(c_.ArcFile, pos_, c_.ArchiveSize, z);
        if (r == ReadResult::End) {
            done_ = true;
            return false;
        }
        if (r == ReadResult::Bad) {
            done_ = true;
            return Fail(E_BadFileHeader, pos_);
        }
        const uint64_t here = pos_;
        // The chain must lead forward: a pointer back (or to itself) would walk in circles.
        if (z.next <= pos_) {
            done_ = true;
            if (!z.deleted) Fail(E_BadFileHeader, pos_, "the directory chain turns back");
        } else {
            pos_ = z.next;
        }
        if (z.deleted) {
            if (done_) return false;
            continue;
        }
        std::string comment;
        if (z.commentLength && z.commentPos + static_cast<uint64_t>(z.commentLength) <= c_.ArchiveSize) {
            comment.resize(z.commentLength);
            comment.resize(c_.ArcFile.ReadAt(z.commentPos, comment.data(), comment.size()));
        }
        item.entry = EntryOf(z, std::move(comment));
        item.entry.Offset = here;
        item.entry.Index = index_++;
        item.entry.VolumeName = c_.ArchiveFile();
        return true;
    }
    return false;
}

bool Walk::Next(ArchiveEntry& e) {
    Item item;
    if (!Next(item)) return false;
    e = std::move(item.entry);
    return true;
}

}  // namespace varnok::zoo
