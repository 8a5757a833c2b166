// The CAB family in the registry: "MSCF" at the start, the walk over a cabinet and the cabinets it continues
// into, and the extractor (through the cabinet library).
#include <sys/stat.h>

#include <set>

#include "archive/core/component.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "archive/formats/cab/cab_headers.h"
#include "archive/formats/cab/cab_writer.h"
#include "archive/formats/cab/uncab.h"

namespace varnok {

namespace {

std::string MethodText(uint16_t compression) {
    switch (compression & 15) {
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
}

// A file continued from the previous cabinet is shown with the cabinet it starts in.
class Walk final : public EntryWalk {
  public:
    explicit Walk(TZipCommon& c) : c_(c) {}

    bool Next(ArchiveEntry& e) override {
        if (done_) return false;
        if (!started_) {
            started_ = true;
            if (!cab::ReadCabinet(c_.ArcFile, c_.StartOffset, c_.ArchiveSize, cab_)) {
                done_ = true;
                return Fail(E_BadFileHeader, c_.StartOffset);
            }
            visited_.insert(c_.ArchiveFile());
        }
        for (int cabinets = 0; cabinets < 1000; ++cabinets) {
            while (next_ < cab_.files.size()) {
                const cab::File& f = cab_.files[next_++];
                if (fromPrevious_ && f.continuedFromPrev()) continue;
                e = ArchiveEntry{};
                e.RawName = f.name;
                e.Origin = (f.attributes & cab::kAttrNameIsUtf) ? NameOrigin::Utf8 : NameOrigin::Dos;
                e.EntryDate = DosToUnixTime(f.dosTime());
                e.PackedSize = e.UnpackedSize = f.size;
                e.CrcBits = 0;
                e.MethodCode = cab_.folders.empty() ? 0 : cab_.folders[0].compression;
                e.MethodText = cab_.folders.empty() ? "Stored" : MethodText(cab_.folders[0].compression);
                e.VersionMadeBy = cab_.minorVersion;
                e.VersionNeeded = cab_.majorVersion;
                e.InternalAttr = e.ExternalAttr = f.attributes & 0x7F;
                e.IsDirectory = f.attributes & 0x10;
                e.Offset = cab_.base;
                e.VolumeName = c_.CurrentVolume;
                e.Index = index_++;
                return true;
            }
            if (!NextCabinet()) break;
        }
        done_ = true;
        return false;
    }

  private:
    bool NextCabinet() {
        if (!(cab_.flags & cab::fNextCabinet) || cab_.nextCabinet.empty()) return false;
        std::string next = ExtractFilePath(c_.ArchiveFile()) + cab_.nextCabinet;
        // Names in cabinets come from DOS: find the file whatever the case of its name.
        std::string found = FindFileIgnoringCase(next);
        if (!found.empty()) next = found;
        if (visited_.count(next)) return false;
        // The name comes from the cabinet: only a regular file is read as the next one (a FIFO would block
        // its opening, a terminal or another device its reading).
        struct stat st;
        if (stat(next.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return Fail(E_OpenFile, 0, next + " is not a regular file");
        if (!c_.RequestVolume(next, c_.VolumeNumber + 1)) {
            c_.SetCancel(true);
            return false;
        }
        visited_.insert(next);
        if (!c_.ArcFile.Close()) c_.RaiseError(next, "", E_CloseFile);
        if (!c_.ArcFile.Open(next, platform::File::Mode::Read)) {
            c_.ArcFile.Open(c_.ArchiveFile(), platform::File::Mode::Read);
            c_.RaiseError(next, "", E_ReadFile);
        }
        c_.CurrentVolume = next;
        c_.ArchiveSize = c_.ArcFile.Size();
        LeftFirstVolume();
        if (!cab::ReadCabinet(c_.ArcFile, 0, c_.ArchiveSize, cab_)) return Fail(E_BadFileHeader, 0, next);
        next_ = 0;
        fromPrevious_ = true;
        return true;
    }

    TZipCommon& c_;
    cab::Cabinet cab_;
    size_t next_ = 0;
    bool started_ = false, done_ = false, fromPrevious_ = false;
    std::set<std::string> visited_;
    uint32_t index_ = 0;
};

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() >= 4 && p[0] == 'M' && p[1] == 'S' && p[2] == 'C' && p[3] == 'F')
        return program ? atUnsupported : atCab;
    return std::nullopt;
}

}  // namespace

const FormatRecord& CabFormat() {
    static const FormatRecord r{
        .name = "CAB",
        .types = {{atCab, "CAB       ", "atCab"}},
        .fileTypes = {{"Cabinet", {"cab"}, "application/vnd.ms-cab-compressed"}},
        .signature = Signature,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnCab>(); },
        .writer = [](TArcType) -> std::unique_ptr<TCompBase> { return std::make_unique<TMakeCab>(); },
    };
    return r;
}

}  // namespace varnok
