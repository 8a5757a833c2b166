#include "archive/formats/tar/tar_walk.h"

#include "archive/core/component.h"
#include "archive/core/utils.h"

namespace varnok::tar {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;
constexpr size_t kMaxKnownSizes = 2'000'000;

}  // namespace

bool Listed(const Entry& t) {
    return t.type != 'V' && t.type != 'M' && t.type != 'D' && t.type != 'N';
}

ArchiveEntry EntryOf(const Entry& t) {
    ArchiveEntry e;
    e.RawName = t.name;
    e.Origin = t.nameIsUtf8 ? NameOrigin::Utf8 : NameOrigin::Unix;
    e.BackslashSeparates = false;
    e.EntryDate = t.mtimeValid ? t.mtime : DosToUnixTime(0);
    e.PackedSize = t.size;
    e.UnpackedSize = t.realSize;
    e.EntryCrc = t.checksum;
    e.CrcBits = 0;
    e.MethodText = "Tarred";
    e.IsDirectory = t.isDirectory() || t.type == 'D';
    e.ExternalAttr = e.IsDirectory ? 0x10 : 0;
    e.UnixMode = t.mode;
    switch (t.type) {
        case '2':
            e.IsSymlink = true;
            e.RawLinkTarget = t.linkName;
            e.PackedSize = e.UnpackedSize = 0;
            break;
        case '1':
            // A hard link with data of its own is stored like a file.
            e.IsHardLink = t.size == 0;
            e.RawLinkTarget = t.linkName;
            e.PackedSize = t.size;
            e.UnpackedSize = t.size;
            break;
        case '3':
        case '4':
        case '6':
            e.PackedSize = e.UnpackedSize = 0;
            break;
        default:
            break;
    }
    e.Offset = t.firstPos;
    return e;
}

Walk::Walk(TZipCommon& c)
    : own_(std::make_unique<FileRecordReader>(c.ArcFile)),
      in_(*own_),
      pos_(c.StartOffset),
      end_(c.ArchiveSize),
      volume_(c.ArchiveFile()) {}

Walk::Walk(RecordReader& in, uint64_t start, uint64_t end, std::string volumeName)
    : in_(in), pos_(start), end_(end), volume_(std::move(volumeName)) {}

bool Walk::Next(ArchiveEntry& e) {
    while (!done_ && index_ < kMaxEntries) {
        auto r = ReadEntry(in_, pos_, end_, globals_, last_);
        if (r == ReadResult::End) {
            done_ = true;
            return false;
        }
        if (r == ReadResult::Bad && !last_.problem.empty()) {
            done_ = true;
            return Fail(E_BadFileHeader, pos_,
                        "the TAR entry \"" + last_.name + "\" at offset " + std::to_string(pos_) + ": " +
                            last_.problem);
        }
        if (r == ReadResult::Bad || last_.name.empty()) {
            done_ = true;
            return Fail(E_BadFileHeader, pos_,
                        "the TAR header at offset " + std::to_string(pos_) + " is damaged");
        }
        const uint64_t here = pos_;
        if (last_.nextPos <= pos_)
            done_ = true;
        else
            pos_ = last_.nextPos;
        if (last_.isFile() && (sizes_.size() < kMaxKnownSizes || sizes_.count(last_.name)))
            sizes_[last_.name] = last_.realSize;
        if (!IncludeUnlisted && !Listed(last_)) continue;
        e = EntryOf(last_);
        if (e.IsHardLink) {
            auto it = sizes_.find(last_.linkName);
            if (it != sizes_.end()) e.UnpackedSize = it->second;
        }
        e.Offset = here;
        e.Index = index_++;
        e.VolumeName = volume_;
        return true;
    }
    return false;
}

}  // namespace varnok::tar
