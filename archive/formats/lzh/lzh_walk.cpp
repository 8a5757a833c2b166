#include "archive/formats/lzh/lzh_walk.h"

#include "archive/core/component.h"
#include "archive/core/utils.h"

namespace varnok::lzh {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;

}  // namespace

NameOrigin OriginOf(uint8_t osId) {
    switch (osId) {
        case 'U':  // Unix
        case 'A':  // Amiga: ISO-8859-1
            return NameOrigin::Unix;
        case 'm':  // classic Mac OS
            return NameOrigin::Mac;
        default:  // MS-DOS, Windows, OS/2, Human68k, the level-0 archivers that wrote no id, ...
            return NameOrigin::Dos;
    }
}

std::string MethodText(const std::string& id) {
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

ArchiveEntry EntryOf(const Header& h) {
    ArchiveEntry e;
    e.RawName = h.name;
    e.RawComment = h.comment;
    e.RawLinkTarget = h.symlinkTarget;
    e.Origin = h.nameIsUtf16 ? NameOrigin::Utf8 : OriginOf(h.osId);
    // Names from MS-DOS, OS/2 and Atari archivers in capitals only are shown in lower case, as lhasa does.
    e.LowerIfCapitals = !h.nameIsUtf16 && (h.osId == 0 || h.osId == 'a' || h.osId == '2' || h.osId == 'M');
    // Level 2 and 3 headers, and the Unix extensions, keep Unix times; levels 0 and 1 a local DOS time.
    e.EntryDate = h.level >= 2 || h.unixTime ? ArchiveUnixTime(h.unixTime) : DosToUnixTime(h.dosTime);
    e.PackedSize = h.packedSize;
    e.UnpackedSize = h.unpackedSize;
    e.EntryCrc = h.crc;
    e.CrcBits = 16;
    e.MethodCode = static_cast<uint8_t>(h.method[3]);
    e.MethodText = MethodText(h.method);
    e.IsSymlink = !h.symlinkTarget.empty();
    e.IsDirectory = h.isDirectory() && !e.IsSymlink;
    e.InternalAttr = 32;
    e.ExternalAttr = e.IsDirectory ? (h.attribute | 0x10) : h.attribute;
    if (h.hasUnixMode) e.UnixMode = h.unixMode;
    e.Offset = h.pos;
    return e;
}

Walk::Walk(TZipCommon& c) : c_(c), pos_(c.StartOffset) {
    // A file that starts with a zero byte carries a 128-byte MacBinary header in front of the archive.
    uint8_t first = 1;
    if (c_.ArcFile.ReadAt(pos_, &first, 1) == 1 && first == 0 && c_.ArcType() != atLhaExe) pos_ += 128;
}

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
    // Every header moves the walk forward, so a damaged size cannot make it loop.
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

}  // namespace varnok::lzh
