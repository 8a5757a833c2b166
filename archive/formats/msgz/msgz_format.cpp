// Archives with the signature 13 5D 65 8C in the registry (listed, not extracted): a table of folder names,
// then one record per file naming its folder by index.
#include "archive/core/component.h"
#include "archive/core/utils.h"
#include "archive/formats/msgz/msgz_headers.h"

namespace varnok {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;

class Walk final : public EntryWalk {
  public:
    explicit Walk(TZipCommon& c) : c_(c) {}

    bool Next(ArchiveEntry& e) override {
        if (!started_) {
            started_ = true;
            if (!msgz::ReadDirectoryTable(c_.ArcFile, c_.ArchiveSize, dirs_, pos_)) {
                done_ = true;
                return Fail(E_BadFileHeader, 0);
            }
        }
        if (done_ || index_ >= kMaxEntries || pos_ + 29 >= c_.ArchiveSize) return false;
        msgz::Entry m;
        if (!msgz::ReadEntry(c_.ArcFile, pos_, c_.ArchiveSize, m)) {
            done_ = true;
            return false;
        }
        e = ArchiveEntry{};
        e.RawName = m.name;
        if (m.dirIndex < dirs_.size() && !dirs_[m.dirIndex].empty())
            e.RawName = AppendSlash(dirs_[m.dirIndex]) + m.name;
        e.EntryDate = DosToUnixTime(m.dosTime);
        e.PackedSize = m.packedSize;
        e.UnpackedSize = m.unpackedSize;
        e.CrcBits = 0;
        e.InternalAttr = static_cast<uint16_t>(m.attributes);
        e.ExternalAttr = m.attributes;
        e.Offset = m.dataOffset;
        e.VolumeName = c_.ArchiveFile();
        e.Index = index_++;
        pos_ += m.recordLength;
        return true;
    }

  private:
    TZipCommon& c_;
    std::vector<std::string> dirs_;
    uint64_t pos_ = 0;
    bool started_ = false, done_ = false;
    uint32_t index_ = 0;
};

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() >= 4 && p[0] == 0x13 && p[1] == 0x5D && p[2] == 0x65 && p[3] == 0x8C)
        return program ? atUnsupported : atMSGZ;
    return std::nullopt;
}

}  // namespace

const FormatRecord& MsgzFormat() {
    static const FormatRecord r{
        .name = "MsGZ",
        .types = {{atMSGZ, "MsGZ     \t", "atMSGZ"}},
        .fileTypes = {},
        .signature = Signature,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<Walk>(c); },
    };
    return r;
}

}  // namespace varnok
