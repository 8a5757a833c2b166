#include "archive/formats/uue/uue_walk.h"

#include <algorithm>

#include "archive/core/component.h"
#include "platform/fileattr.h"

namespace varnok::encoded {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;

}  // namespace

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

bool Walk::FindNext(Begin& b) {
    // Window by window, small ones first (files often follow each other closely); a window ends at a blank
    // line (or a line end) so that no begin line or MIME header block is cut in two.
    constexpr uint64_t kMaxWindow = uint64_t{1} << 20;
    uint64_t window = 4096;
    std::string buf;
    for (uint64_t from = next_; from < c_.ArchiveSize;) {
        buf.resize(static_cast<size_t>(std::min(window, c_.ArchiveSize - from)));
        buf.resize(c_.ArcFile.ReadAt(from, buf.data(), buf.size()));
        if (buf.empty()) return false;
        uint64_t limit = buf.size();
        if (from + buf.size() < c_.ArchiveSize) {
            // Up to and with the last blank line, else the last line end.
            size_t cut = buf.rfind("\n\n");
            cut = cut != std::string::npos ? cut + 1 : buf.rfind('\n');
            if (cut == std::string::npos && window < kMaxWindow) {
                window *= 2;  // a line longer than the window: read it whole
                continue;
            }
            if (cut != std::string::npos) limit = cut + 1;
        }
        if (FindBegin(c_.ArcFile, from, limit, b)) return true;
        from += limit;
        window = std::min(window * 2, kMaxWindow);
    }
    return false;
}

bool Walk::Next(ArchiveEntry& e) {
    if (done_) return false;
    Begin b;
    if (!started_) {
        started_ = true;
        // The text is encoded files when one starts near its beginning.
        if (!FindBegin(c_.ArcFile, 0, std::min<uint64_t>(c_.ArchiveSize, 32768), b)) {
            done_ = true;
            return Fail(E_BadFileHeader, 0, "no encoded file found");
        }
    } else if (index_ >= kMaxEntries || !FindNext(b)) {
        done_ = true;
        return false;
    }
    e = EntryOf(b.name, b.mode);
    e.EntryDate = platform::FileMTime(c_.ArchiveFile());
    // The next one is looked for where this one ends, so that the text is read once.
    uint64_t stop = b.dataPos;
    e.UnpackedSize = DecodedSize(c_.ArcFile, b, c_.ArchiveSize, c_.ArchiveFile(), &stop);
    e.PackedSize = stop - b.linePos;
    next_ = stop;
    e.Offset = b.linePos;
    e.Index = index_++;
    e.VolumeName = c_.ArchiveFile();
    // Each is shown whatever the file patterns say, and none is counted.
    e.WholeFile = true;
    e.NotCounted = true;
    return true;
}

}  // namespace varnok::encoded
