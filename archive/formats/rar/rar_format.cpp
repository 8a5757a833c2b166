// The RAR family in the registry (listed here; extraction goes through the RAR library): "Rar!" at the start
// or inside a self-extractor, RAR 1.5-4 and RAR 5 block layouts, and the walk over a set of volumes, a file
// split over them shown once with its parts' sizes summed.
#include <cstring>

#include "archive/core/component.h"
#include "archive/core/utils.h"
#include "archive/formats/rar/rar_headers.h"
#include "archive/formats/rar/unrar.h"

namespace varnok {

namespace {

constexpr uint32_t kMaxEntries = 10'000'000;

std::string MethodText(uint8_t method, bool directory) {
    if (directory) return "<Dir>";
    static const char* const kNames[] = {"Stored", "Fastest", "Fast", "Normal", "Good", "Best"};
    if (method >= '0' && method <= '5') return kNames[method - '0'];
    return "Unsupported";
}

class Walk final : public EntryWalk {
  public:
    explicit Walk(TZipCommon& c) : c_(c) {}

    bool Next(ArchiveEntry& e) override {
        if (done_) return false;
        if (!started_) {
            started_ = true;
            fmt_ = rar::DetectFormat(c_.ArcFile, c_.StartOffset);
            if (fmt_ == rar::Format::None) {
                done_ = true;
                return Fail(E_BadFileHeader, c_.StartOffset);
            }
            pos_ = c_.StartOffset + (fmt_ == rar::Format::Rar4 ? rar::kMarker4Size : rar::kMarker5Size);
        }
        while (!done_ && index_ < kMaxEntries) {
            rar::Block b;
            auto r = fmt_ == rar::Format::Rar4 ? rar::ReadBlock4(c_.ArcFile, pos_, c_.ArchiveSize, b)
                                               : rar::ReadBlock5(c_.ArcFile, pos_, c_.ArchiveSize, b);
            if (r == rar::ReadResult::End) break;
            if (r == rar::ReadResult::Bad) {
                done_ = true;
                return Fail(E_BadFileHeader, pos_);
            }
            if (b.headersEncrypted) {
                done_ = true;
                return Fail(E_PasswordProtected, pos_, "the archive's headers are encrypted");
            }
            const uint64_t here = pos_;
            if (b.nextPos <= pos_) done_ = true;
            pos_ = b.nextPos;
            if (!b.isFile) continue;
            packedSoFar_ = b.splitBefore ? packedSoFar_ + b.dataSize : b.dataSize;
            if (b.splitAfter) {
                // The file goes on in the next volume: it is shown from its last part.
                if (!c_.OpenNextVolume()) {
                    c_.SetCancel(true);
                    done_ = true;
                    if (index_ > 0) return false;
                    packedSoFar_ = 0;
                } else {
                    LeftFirstVolume();
                    fmt_ = rar::DetectFormat(c_.ArcFile, 0);
                    if (fmt_ == rar::Format::None) {
                        done_ = true;
                        return Fail(E_BadFileHeader, 0);
                    }
                    pos_ = fmt_ == rar::Format::Rar4 ? rar::kMarker4Size : rar::kMarker5Size;
                    done_ = false;
                    continue;
                }
            }
            const bool rar4 = fmt_ == rar::Format::Rar4;
            const bool unixHost = rar4 ? b.hostOs == 3 : b.hostOs == 1;
            e = ArchiveEntry{};
            e.RawName = b.name;
            e.Origin = b.nameIsUtf8 ? NameOrigin::Utf8
                       : unixHost   ? NameOrigin::Unix
                       : b.hostOs == 4 ? NameOrigin::Mac
                                       : NameOrigin::Dos;
            // RAR 1.5 to 4 separate folders by "\\" on every system, RAR 5 by "/".
            e.BackslashSeparates = rar4;
            e.EntryDate = b.unixTime ? b.unixTime : DosToUnixTime(b.dosTime);
            e.PackedSize = packedSoFar_;
            e.UnpackedSize = b.unpackedSize;
            e.EntryCrc = b.crc;
            e.Encrypted = b.encrypted;
            e.MethodCode = b.method;
            e.MethodText = MethodText(b.method, b.isDirectory);
            e.VersionMadeBy = b.versionNeeded;
            e.IsDirectory = b.isDirectory;
            if (unixHost) {
                e.UnixMode = b.attributes & 0xFFFF;
                e.ExternalAttr = (b.attributes & 0170000) == 0040000 ? 16 : 32;
            } else {
                e.ExternalAttr = b.attributes;
            }
            e.Offset = here;
            e.VolumeName = c_.CurrentVolume;
            e.Index = index_++;
            packedSoFar_ = 0;
            return true;
        }
        done_ = true;
        return false;
    }

  private:
    TZipCommon& c_;
    rar::Format fmt_ = rar::Format::None;
    uint64_t pos_ = 0, packedSoFar_ = 0;
    bool started_ = false, done_ = false;
    uint32_t index_ = 0;
};

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() >= 4 && std::memcmp(p.data(), "Rar!", 4) == 0) return program ? atRarExe : atRar;
    return std::nullopt;
}

std::optional<TArcType> Scan(const ScanView& v, bool, const platform::File&, TArchiveBase& facts) {
    if (v.avail() < 7 || std::memcmp(v.here(), "Rar!\x1A\x07", 6) != 0) return std::nullopt;
    facts.StartOffset = v.filePos;
    return atRarExe;
}

}  // namespace

const FormatRecord& RarFormat() {
    static const FormatRecord r{
        .name = "RAR",
        .types = {{atRar, "RAR       ", "atRar"}, {atRarExe, "RAR SFX   ", "atRarExe"}},
        .fileTypes = {{"Rar", {"rar"}, "application/vnd.rar"}},
        .signature = Signature,
        .scan = Scan,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnRar>(); },
    };
    return r;
}

}  // namespace varnok
