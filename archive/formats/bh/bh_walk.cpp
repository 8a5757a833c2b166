#include "archive/formats/bh/bh_walk.h"

#include "archive/core/component.h"
#include "archive/core/utils.h"

namespace varnok::bh {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;

}  // namespace

std::string MethodText(uint8_t method, uint8_t flags) {
    if (method == 0) return "Stored";
    if (method == 1) return "Fused";
    if (method == 2) return "Deflate";
    if (method == 8) return DeflateName(flags);
    return "Unsupported";
}

ArchiveEntry EntryOf(const Header& h) {
    ArchiveEntry e;
    e.RawName = h.name;
    e.EntryDate = DosToUnixTime(h.dosTime);
    e.PackedSize = h.packedSize;
    e.UnpackedSize = h.unpackedSize;
    e.EntryCrc = h.crc;
    e.Encrypted = h.encrypted();
    e.MethodCode = h.method;
    e.MethodText = MethodText(h.method, h.flags);
    e.VersionMadeBy = h.versionMadeBy;
    e.VersionNeeded = h.versionNeeded;
    e.InternalAttr = e.ExternalAttr = h.attributes;
    e.IsDirectory = h.isDirectory();
    e.IsVolumeLabel = !e.IsDirectory && (h.attributes & 0x08);
    e.Offset = h.pos;
    return e;
}

Walk::Walk(TZipCommon& c) : c_(c), pos_(c.StartOffset) {}

bool Walk::Next(Item& item) {
    if (done_ || index_ >= kMaxEntries) return false;
    auto r = ReadHeader(c_.ArcFile, pos_, c_.ArchiveSize, item.header);
    if (r != ReadResult::Ok) {
        done_ = true;
        if (r == ReadResult::Bad) Fail(E_BadFileHeader, pos_);
        return false;
    }
    item.entry = EntryOf(item.header);
    item.entry.Index = index_++;
    item.entry.VolumeName = c_.ArchiveFile();
    if (item.header.nextPos <= pos_)
        done_ = true;
    else
        pos_ = item.header.nextPos;
    return true;
}

bool Walk::Next(ArchiveEntry& e) {
    Item item;
    if (!Next(item)) return false;
    e = std::move(item.entry);
    return true;
}

}  // namespace varnok::bh
