#include "archive/formats/uue/uue_walk.h"

#include <algorithm>

#include "archive/core/component.h"
#include "platform/fileattr.h"

namespace varnok::encoded {

ArchiveEntry EntryOf(const std::string& name, uint32_t mode) {
    ArchiveEntry e;
    e.RawName = name;
    // Encoded text passes through mail systems of every kind; its names are mostly UTF-8 or Latin-1 now.
    e.Origin = NameOrigin::Unix;
    e.BackslashSeparates = false;
    e.CrcBits = 0;
    e.InternalAttr = e.ExternalAttr = 32;
    e.UnixMode = mode;
    return e;
}

bool Walk::Next(ArchiveEntry& e) {
    if (done_) return false;
    done_ = true;
    Begin b;
    if (!FindBegin(c_.ArcFile, 0, std::min<uint64_t>(c_.ArchiveSize, 32768), b))
        return Fail(E_BadFileHeader, 0, "no encoded file found");
    e = EntryOf(b.name, b.mode);
    e.EntryDate = platform::FileMTime(c_.ArchiveFile());
    e.PackedSize = c_.ArchiveSize;
    e.UnpackedSize = DecodedSize(c_.ArcFile, b, c_.ArchiveSize, c_.ArchiveFile());
    e.Offset = 0;
    e.VolumeName = c_.ArchiveFile();
    // The one entry is shown whatever the file patterns say, and not counted.
    e.WholeFile = true;
    e.NotCounted = true;
    return true;
}

}  // namespace varnok::encoded
