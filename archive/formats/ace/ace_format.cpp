// The ACE family in the registry (listed here; extraction goes through the ACE library): "**ACE**" at
// offset 7 of the main header, also inside self-extractors, and the walk over a set of volumes, a file split
// over them shown once with its parts' sizes summed.
#include <cstring>

#include "archive/core/component.h"
#include "archive/core/utils.h"
#include "archive/formats/ace/ace_headers.h"
#include "archive/formats/ace/unace.h"

namespace varnok {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;

std::string MethodText(uint8_t quality) {
    static const char* const kNames[] = {"Fastest", "Fast", "Normal", "Good", "Best", "Lzw"};
    return quality <= 5 ? kNames[quality] : "Unsupported";
}

class Walk final : public EntryWalk {
  public:
    explicit Walk(TZipCommon& c) : c_(c) {}

    bool Next(ArchiveEntry& e) override {
        if (done_) return false;
        if (!started_) {
            started_ = true;
            if (!ReadMain(c_.StartOffset)) {
                done_ = true;
                return Fail(E_BadFileHeader, c_.StartOffset);
            }
        }
        while (!done_ && index_ < kMaxEntries) {
            ace::Block b;
            auto r = ace::ReadBlock(c_.ArcFile, pos_, c_.ArchiveSize, b);
            if (r == ace::ReadResult::End) break;
            if (r == ace::ReadResult::Bad) {
                done_ = true;
                return Fail(E_BadFileHeader, pos_);
            }
            if (b.nextPos <= pos_) done_ = true;
            pos_ = b.nextPos;
            if (!b.IsFile()) continue;
            packedSoFar_ = (b.flags & ace::fSplitBefore) ? packedSoFar_ + b.addSize : b.addSize;
            if (b.flags & ace::fSplitAfter) {
                // The next volume starts with this file's next part, which carries the totals.
                if (!c_.OpenNextVolume()) {
                    c_.SetCancel(true);
                    break;
                }
                LeftFirstVolume();
                if (!ReadMain(0)) {
                    done_ = true;
                    return Fail(E_BadFileHeader, 0);
                }
                done_ = false;
                continue;
            }
            e = ArchiveEntry{};
            e.RawName = b.name;
            e.Origin = NameOrigin::Dos;
            e.EntryDate = DosToUnixTime(b.dosTime);
            e.PackedSize = packedSoFar_;
            e.UnpackedSize = b.unpackedSize;
            e.EntryCrc = b.crc;
            e.Encrypted = b.flags & ace::fPassword;
            e.MethodCode = b.quality;
            e.MethodText = b.compressionType == 0 ? "Stored" : MethodText(b.quality);
            e.InternalAttr = static_cast<uint16_t>(b.attributes);
            e.ExternalAttr = b.attributes;
            e.IsDirectory = b.attributes & 0x10;
            e.Offset = b.pos;
            e.VolumeName = c_.CurrentVolume;
            e.Index = index_++;
            packedSoFar_ = 0;
            return true;
        }
        done_ = true;
        return false;
    }

  private:
    bool ReadMain(uint64_t at) {
        ace::Block m;
        if (ace::ReadBlock(c_.ArcFile, at, c_.ArchiveSize, m) != ace::ReadResult::Ok || m.type != ace::kTypeMain)
            return false;
        pos_ = m.nextPos;
        return true;
    }

    TZipCommon& c_;
    uint64_t pos_ = 0, packedSoFar_ = 0;
    bool started_ = false, done_ = false;
    uint32_t index_ = 0;
};

bool Marker(const uint8_t* p) {
    return std::memcmp(p, "**ACE**", 7) == 0;
}

std::optional<TArcType> Recognise(const platform::File&, std::span<const uint8_t> head, uint64_t,
                                  TArchiveBase& facts) {
    if (head.size() < 14 || !Marker(head.data() + 7)) return std::nullopt;
    facts.StartOffset = 0;
    return atAce;
}

std::optional<TArcType> Scan(const ScanView& v, bool program, const platform::File&, TArchiveBase& facts) {
    if (v.avail() < 7 || v.filePos < 7 || !Marker(v.here())) return std::nullopt;
    facts.StartOffset = v.filePos - 7;
    return program ? atAceExe : atAce;
}

}  // namespace

const FormatRecord& AceFormat() {
    static const FormatRecord r{
        .name = "ACE",
        .types = {{atAce, "ACE       ", "atAce"}, {atAceExe, "ACE SFX   ", "atAceExe"}},
        .fileTypes = {{"Ace", {"ace"}, "application/x-ace"}},
        .recognise = Recognise,
        .recogniseOverrides = true,
        .scan = Scan,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnAce>(); },
    };
    return r;
}

}  // namespace varnok
