// The RAR family in the registry (listed here; extraction goes through the RAR library): "Rar!" at the start
// or inside a self-extractor, RAR 1.5-4 and RAR 5 block layouts, and the walk over a set of volumes, a file
// split over them shown once with its parts' sizes summed. Encrypted headers (-hp) are read with the
// component's Password or one of Passwords, or (extractors) one asked for through OnGetPassword; the password
// that opens them stays in Password, so the extraction after the walk uses it too.
#include <cstring>

#include "archive/core/component.h"
#include "archive/core/unbase.h"
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
            crypt_.password = c_.Password;
        }
        while (!done_ && index_ < kMaxEntries) {
            rar::Block b;
            auto r = Read(pos_, b);
            if (r == rar::ReadResult::End) break;
            if (r == rar::ReadResult::Bad) {
                done_ = true;
                return Fail(E_BadFileHeader, pos_);
            }
            if (b.headersEncrypted && !crypt_.active && !Unlock(pos_, b)) {
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
                    crypt_.active = false;
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
    rar::ReadResult Read(uint64_t pos, rar::Block& b) {
        return fmt_ == rar::Format::Rar4 ? rar::ReadBlock4(c_.ArcFile, pos, c_.ArchiveSize, b, &crypt_)
                                         : rar::ReadBlock5(c_.ArcFile, pos, c_.ArchiveSize, b, &crypt_);
    }
    // Whether pw opens the encrypted headers announced by the block at pos: the block read again with it
    // (RAR 5 checks it there when the archive stores a check value), then the first encrypted block.
    bool Opens(const std::string& pw, uint64_t pos) {
        if (pw.empty()) return false;
        crypt_.password = pw;
        crypt_.active = crypt_.wrongPassword = crypt_.unsupported = false;
        rar::Block b;
        if (Read(pos, b) != rar::ReadResult::Ok || !crypt_.active) return false;
        rar::Block next;
        const bool ok = b.nextPos > pos && Read(b.nextPos, next) != rar::ReadResult::Bad;
        crypt_.active = false;
        if (ok) Read(pos, b);  // on again, for the walk to go on from this block
        return ok && crypt_.active;
    }
    bool Unlock(uint64_t pos, rar::Block& b) {
        bool ok = Opens(c_.Password, pos);
        for (size_t i = 0; !ok && i < c_.Passwords.size(); ++i)
            if (Opens(c_.Passwords[i], pos)) {
                ok = true;
                c_.Password = c_.Passwords[i];
            }
        auto* asker = dynamic_cast<TUnBase*>(&c_);
        for (int attempt = 0; !ok && asker && asker->OnGetPassword && attempt < 3; ++attempt) {
            std::string pw;
            bool again = true;
            asker->OnGetPassword(c_, c_.ArchiveFile(), pw, again);
            if (!again) break;
            if (Opens(pw, pos)) {
                ok = true;
                c_.Password = pw;
            }
        }
        if (!ok) {
            crypt_.active = false;
            return false;
        }
        // Opens leaves the keys active after the block at pos, which b already holds: reading it again with
        // them would decrypt a header that is not encrypted.
        (void)b;
        return true;
    }

    TZipCommon& c_;
    rar::HeaderCrypt crypt_;
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
