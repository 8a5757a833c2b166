#include "archive/formats/arc/arc_walk.h"

#include "archive/core/component.h"
#include "archive/core/utils.h"

namespace varnok::arc {

namespace {

constexpr uint32_t kMaxEntries = 1'000'000;
constexpr size_t kMaxFolderDepth = 64;

}  // namespace

std::string MethodText(uint8_t method, bool pak) {
    if (method == 1 || method == 2) return "Stored";
    if (method == kDirectory) return "Dir";
    if (pak) {
        if (method == 3) return "RLE";
        if (method == 4) return "Squeezed";
        if (method >= 5 && method <= 7) return "FIXEDLEN";
        if (method == 8 || method == 9) return "VARIBLE";
        if (method == 10) return "Crushed";
        if (method == 11) return "Distill";
        return "Unsupported";
    }
    if (method == 3) return "Packed";
    if (method == 4) return "Squeezed";
    if (method >= 5 && method <= 7) return "crunched";
    if (method == 8) return "Crunched";
    if (method == 9) return "Squashed";
    if (method == 10) return "Pack10";
    if (method == 11) return "Pack11";
    if (method == 12) return "Pack12";
    return "Unsupported";
}

ArchiveEntry EntryOf(const Header& h, const std::string& folder, bool pak) {
    ArchiveEntry e;
    e.RawName = folder + h.name;
    e.EntryDate = DosToUnixTime(h.dosTime);
    e.IsDirectory = h.method == kDirectory;
    e.PackedSize = e.IsDirectory ? 0 : h.packedSize;
    e.UnpackedSize = e.IsDirectory ? 0 : h.unpackedSize;
    e.EntryCrc = h.crc;
    e.CrcBits = 16;
    e.MethodCode = h.method;
    e.MethodText = MethodText(h.method, pak);
    e.InternalAttr = e.ExternalAttr = (e.IsDirectory && !pak) ? 16 : 32;
    e.Offset = h.pos;
    return e;
}

Walk::Walk(TZipCommon& c)
    : c_(c), pak_(c.ArcType() == atPak || c.ArcType() == atPakExe), pos_(c.StartOffset) {}

bool Walk::Next(Item& item) {
    while (!done_ && index_ < kMaxEntries) {
        auto r = ReadHeader(c_.ArcFile, pos_, c_.ArchiveSize, item.header);
        const Header& h = item.header;
        if (r == ReadResult::End) {
            // The end of a folder's entries: back to the folder around it.
            if (h.method == kEndOfDirectory && !folders_.empty()) {
                folders_.pop_back();
                pos_ = h.nextPos;
                continue;
            }
            done_ = true;
            return false;
        }
        if (r == ReadResult::Bad) {
            done_ = true;
            return Fail(E_BadFileHeader, pos_);
        }
        std::string folder;
        for (const auto& f : folders_)
            folder += f + "/";
        item.entry = EntryOf(h, folder, pak_);
        item.entry.Index = index_++;
        item.entry.VolumeName = c_.ArchiveFile();
        if (item.entry.IsDirectory) {
            if (folders_.size() >= kMaxFolderDepth) {
                done_ = true;
                return Fail(E_TooManyNestedDirs, pos_);
            }
            folders_.push_back(h.name);
        }
        // Headers follow each other forward; anything else is damage that would loop.
        if (h.nextPos <= pos_)
            done_ = true;
        else
            pos_ = h.nextPos;
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

}  // namespace varnok::arc
