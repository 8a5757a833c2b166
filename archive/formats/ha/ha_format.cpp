// The HA family in the registry (listed, not extracted): "HA" and the file count at the start, then one
// record per entry.
#include "archive/core/component.h"
#include "archive/formats/ha/ha_headers.h"
#include "platform/datetime.h"

namespace varnok {

namespace {

std::string MethodText(uint8_t method) {
    switch (method) {
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
}

class Walk final : public EntryWalk {
  public:
    explicit Walk(TZipCommon& c) : c_(c) {}

    bool Next(ArchiveEntry& e) override {
        if (!started_) {
            started_ = true;
            if (!ha::ReadArchiveHeader(c_.ArcFile, files_)) return Fail(E_BadFileHeader, 0);
        }
        if (index_ >= files_) return false;
        ha::Entry h;
        auto r = ha::ReadEntry(c_.ArcFile, pos_, c_.ArchiveSize, h);
        if (r != ha::ReadResult::Ok) {
            files_ = 0;
            if (r == ha::ReadResult::Bad) return Fail(E_BadFileHeader, pos_);
            return false;
        }
        e = ArchiveEntry{};
        e.RawName = h.FullName();
        e.EntryDate = h.unixTime ? h.unixTime : platform::NowUnix();
        e.PackedSize = h.packedSize;
        e.UnpackedSize = h.unpackedSize;
        e.EntryCrc = h.crc;
        e.MethodCode = h.method;
        e.MethodText = MethodText(h.method);
        e.VersionMadeBy = e.VersionNeeded = h.version;
        e.InternalAttr = e.ExternalAttr = 32;
        e.IsDirectory = h.method == 14;
        e.Offset = h.pos;
        e.VolumeName = c_.ArchiveFile();
        e.Index = index_++;
        if (h.nextPos <= pos_)
            files_ = 0;
        else
            pos_ = h.nextPos;
        return true;
    }

  private:
    TZipCommon& c_;
    bool started_ = false;
    uint16_t files_ = 0;
    uint64_t pos_ = 4;
    uint32_t index_ = 0;
};

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() >= 2 && p[0] == 'H' && p[1] == 'A') return program ? atUnsupported : atHA;
    return std::nullopt;
}

}  // namespace

const FormatRecord& HaFormat() {
    static const FormatRecord r{
        .name = "HA",
        .types = {{atHA, "HA        ", "atHA"}},
        .fileTypes = {{"HA", {"ha"}, "application/x-ha", "HA archive", false, false}},
        .signature = Signature,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<Walk>(c); },
    };
    return r;
}

}  // namespace varnok
