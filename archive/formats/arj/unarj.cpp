#include "archive/formats/arj/unarj.h"

#include "archive/core/utils.h"
#include "archive/formats/arj/arj_methods.h"
#include "archive/codecs/check_sink.h"

namespace varnok {

namespace {

constexpr int kMaxEntries = 10'000'000;
constexpr int kMaxVolumes = 1000;
// The highest "minimum version to extract" of the formats decoded here.
constexpr uint8_t kMaxMinVersion = 3;
constexpr int kMaxPasswordAttempts = 10;

// Where a password test decodes to: nothing is kept, but the application stays responsive and can stop it.
class PollingSink final : public ByteSink {
  public:
    explicit PollingSink(TZipCommon& c) : c_(c) {}
    void Write(const uint8_t*, size_t n) override {
        count_ += n;
        if (count_ - polled_ < (1u << 18)) return;
        polled_ = count_;
        if (c_.ProcessMessages) c_.ProcessMessages();
        if (c_.Cancel()) throw RunCancelled();
    }

  private:
    TZipCommon& c_;
    uint64_t count_ = 0, polled_ = 0;
};

// Puts the volume numbering back after a run that walked through volumes.
class VolumeGuard {
  public:
    explicit VolumeGuard(TZipCommon& c) : c_(c), number_(c.VolumeNumber), letter_(c.VolumeLetter) {}
    ~VolumeGuard() {
        c_.VolumeNumber = number_;
        c_.VolumeLetter = letter_;
    }

  private:
    TZipCommon& c_;
    int number_;
    char letter_;
};

}  // namespace

bool TUnArj::AcceptsType(TArcType t) const {
    return t == atArj || t == atArjExe;
}

ArchiveEntry TUnArj::EntryFor(const arj::Header& h) const {
    ArchiveEntry e = arj::EntryOf(h);
    DecodeTexts(e, Names());
    return e;
}

bool TUnArj::NextVolume() {
    if (!OnNextVolume) {
        ReportMissingEvent("OnNextVolume");
        return false;
    }
    if (!OpenNextVolume()) return false;
    ArchiveEnd = ArchiveSize;
    return true;
}

void TUnArj::ProcessArchive() {
    VolumeGuard restore(*this);
    if (ArcType() == atArjExe && VolumeNumber == 0) {
        // The volumes after a self-extracting first one are name.a01, name.a02, ...
        VolumeNumber = 1;
        VolumeLetter = 'a';
    }
    if (PasswordAttempts > kMaxPasswordAttempts) PasswordAttempts = kMaxPasswordAttempts;
    skipContinuation_.clear();
    encryptionVersion_ = 0;

    Chain chain;
    if (arj::ReadHeader(ArcFile, StartOffset, ArchiveEnd, chain.main) != arj::ReadResult::Ok) {
        ReportError(CurrentVolume, "", E_BadFileHeader, "1");
        return;
    }
    // The headers of the first volume: the names' code page is decided from them, and the progress of the
    // run counts their selected files.
    std::vector<arj::Header> firstVolume;
    uint64_t pos = chain.main.dataPos;
    BeginNames();
    for (int count = 0; count < kMaxEntries; ++count) {
        arj::Header h;
        if (arj::ReadHeader(ArcFile, pos, ArchiveEnd, h) != arj::ReadResult::Ok || h.nextPos <= pos) break;
        if (arj::HoldsEntry(h)) {
            SampleTexts(arj::EntryOf(h), names_);
            firstVolume.push_back(h);
        }
        pos = h.nextPos;
    }
    names_.Decide();
    uint64_t total = 0;
    for (const arj::Header& h : firstVolume)
        if (h.fileType != arj::ftDirectory && SpecMatch(EntryFor(h).EntryName)) total += h.unpackedSize;
    SetRunTotal(total);

    int volume = 1;
    encryptionVersion_ = static_cast<uint8_t>(chain.main.hostData & 0xFF);
    pos = chain.main.dataPos;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (Cancel()) return;
        arj::Header h;
        auto r = arj::ReadHeader(ArcFile, pos, ArchiveEnd, h);
        if (r == arj::ReadResult::Bad) {
            ReportError(CurrentVolume, "at offset " + std::to_string(pos), E_BadFileHeader,
                        std::to_string(volume));
            return;
        }
        if (r == arj::ReadResult::End) {
            // The volume is done; the main header tells whether another one follows.
            if (!(chain.main.flags & arj::fVolume) || volume >= kMaxVolumes) return;
            if (!NextVolume()) return;
            ++volume;
            if (arj::ReadHeader(ArcFile, 0, ArchiveEnd, chain.main) != arj::ReadResult::Ok) {
                ReportError(CurrentVolume, "", E_BadFileHeader, std::to_string(volume));
                return;
            }
            encryptionVersion_ = static_cast<uint8_t>(chain.main.hostData & 0xFF);
            pos = chain.main.dataPos;
            continue;
        }
        if (!h.crcOk) {
            // The fields of a damaged header cannot be trusted, nor where the next one is.
            ReportError(CurrentVolume, "at offset " + std::to_string(pos), E_HeaderCrc,
                        std::to_string(volume));
            return;
        }
        chain.moved = chain.complete = chain.lastContinues = chain.volumeMissing = false;
        chain.volumesMoved = 0;
        HandleEntry(h, chain);
        if (chain.volumeMissing) return;
        if (chain.moved) {
            volume += chain.volumesMoved;
            pos = chain.resumePos;
        } else {
            pos = h.nextPos;
        }
    }
}

void TUnArj::HandleEntry(const arj::Header& h, Chain& chain) {
    // Volume labels, chapter marks and comments hold no file.
    if (!arj::HoldsEntry(h)) return;
    ArchiveEntry e = EntryFor(h);
    const std::string& name = e.EntryName;
    const bool folder = e.IsDirectory;
    const bool selected = Selects(e);
    if (h.flags & arj::fExtFile) {
        // A part that continues a file from the previous volume is read together with the file's first part.
        // It shows up here only when that part was not written in this run, and is then never appended to
        // anything. A test checks it on its own: every part carries the CRC-32 of its data.
        if (h.name == skipContinuation_) {
            if (!(h.flags & arj::fVolume)) skipContinuation_.clear();
            return;
        }
        if (!Testing()) {
            if (selected) {
                BuildOutputName(name);
                EntryFailed(name, E_BrokenMultiVolume,
                            "it continues a file whose first part is in an earlier volume");
            }
            // Said once for the file; its further parts are passed over.
            if (h.flags & arj::fVolume) skipContinuation_ = h.name;
            return;
        }
    }
    skipContinuation_.clear();
    if (!selected) {
        if (h.flags & arj::fVolume) skipContinuation_ = h.name;
        return;
    }
    auto refuse = [&](int code, const std::string& why) {
        if (h.flags & arj::fVolume) skipContinuation_ = h.name;
        BuildOutputName(name);
        EntryFailed(name, code, why);
        SkipProgress(h.unpackedSize);
    };
    if (h.minVersion > kMaxMinVersion)
        return refuse(E_VersionError, "version " + std::to_string(h.minVersion));
    if (h.method > 4 || (h.method == 4 && h.archiverVersion == 1))
        return refuse(E_UnsupportedMethod, "method " + std::to_string(h.method));

    if (folder) {
        ExtractEntry(e, CrcKind::None, 0, nullptr);
        return;
    }
    if (e.Encrypted) {
        if (encryptionVersion_ >= 2) return refuse(E_UnsupportedMethod, "GOST encryption");
        // Garbled data carries no password check: a password fits when it decodes the data to its CRC.
        if (!PasswordFailed() &&
            !AcquirePassword(name, [&](const std::string& pw) { return PasswordFits(h, pw); }))
            SetPasswordFailed();
    }
    ExtractEntry(e, CrcKind::None, 0, [&](ByteSink& sink) { return DecodeFile(h, sink, chain); });
    if ((h.flags & arj::fVolume) && !chain.complete && (!chain.moved || chain.lastContinues))
        skipContinuation_ = h.name;
}

DecodeResult TUnArj::DecodePart(const arj::Header& part, ByteSink& out) {
    FileSource src(ArcFile, part.dataPos);
    LimitedSource data(src, part.packedSize);
    if (!(part.flags & arj::fGarbled))
        return DecodeArjMethod(part.method, data, part.packedSize, out, part.unpackedSize, CancelPtr());
    // Garbled data are decrypted as they are read: each byte XORed with a password character plus the
    // part's own modifier, the password cycled from its first character at the start of every part.
    size_t at = 0;
    const uint8_t shift = part.passwordModifier;
    TransformSource in(data, [this, &at, shift](uint8_t* b, size_t n) {
        if (Password.empty()) return;
        for (size_t i = 0; i < n; ++i, ++at)
            b[i] ^= static_cast<uint8_t>(Password[at % Password.size()] + shift);
    });
    return DecodeArjMethod(part.method, in, part.packedSize, out, part.unpackedSize, CancelPtr());
}

bool TUnArj::PasswordFits(const arj::Header& h, const std::string& password) {
    if (password.empty()) return false;
    const std::string current = Password;
    Password = password;
    PollingSink poll(*this);
    CheckSink check(&poll, CrcKind::Crc32);
    DecodeResult r;
    try {
        r = DecodePart(h, check);
    } catch (...) {
        Password = current;
        throw;
    }
    Password = current;
    return r.Ok() && check.Size() == h.unpackedSize && check.Matches(h.crc);
}

DecodeResult TUnArj::DecodeFile(const arj::Header& first, ByteSink& out, Chain& chain) {
    CheckSink check(&out, CrcKind::Crc32);
    arj::Header part = first;
    bool partsOk = true;
    // Where the first part read starts in the whole file (not 0 when a test starts at a later part).
    const uint64_t origin =
        (first.flags & arj::fExtFile) && first.firstHeaderSize >= 34 ? first.extFilePos : 0;
    auto broken = [&](DecodeStatus status, const std::string& why) {
        ReportError(CurrentVolume, why, E_BrokenMultiVolume);
        return MakeResult(status, E_BrokenMultiVolume, check.Size(), 0);
    };
    for (int n = 0; n < kMaxVolumes; ++n) {
        check.Restart();
        const uint64_t before = check.Size();
        DecodeResult r = DecodePart(part, check);
        if (!r.Ok()) {
            r.produced = check.Size();
            return r;
        }
        if (check.Size() - before != part.unpackedSize || !check.Matches(part.crc)) partsOk = false;
        if (!(part.flags & arj::fVolume)) {
            chain.complete = true;
            break;
        }
        // The file goes on at the start of the next volume.
        if (!NextVolume()) {
            chain.volumeMissing = true;
            return MakeResult(DecodeStatus::Truncated, E_BrokenMultiVolume, check.Size(), 0);
        }
        chain.moved = true;
        ++chain.volumesMoved;
        chain.lastContinues = false;
        if (arj::ReadHeader(ArcFile, 0, ArchiveEnd, chain.main) != arj::ReadResult::Ok) {
            chain.volumeMissing = true;
            return broken(DecodeStatus::Corrupt, "the next volume has no archive header");
        }
        encryptionVersion_ = static_cast<uint8_t>(chain.main.hostData & 0xFF);
        chain.resumePos = chain.main.dataPos;
        arj::Header next;
        if (arj::ReadHeader(ArcFile, chain.main.dataPos, ArchiveEnd, next) != arj::ReadResult::Ok ||
            !next.crcOk || !(next.flags & arj::fExtFile) || next.name != first.name ||
            (next.firstHeaderSize >= 34 && next.extFilePos != origin + check.Size()))
            return broken(DecodeStatus::Corrupt, "the next volume does not continue " + EntryName());
        chain.resumePos = next.nextPos;
        chain.lastContinues = next.flags & arj::fVolume;
        part = next;
    }
    if (!chain.complete) return broken(DecodeStatus::Corrupt, "too many volumes");
    DecodeResult r = MakeResult(DecodeStatus::Ok, 0, check.Size(), 0);
    if (!partsOk) {
        r.status = DecodeStatus::Corrupt;
        r.errorCode = E_CrcCheck;
    }
    return r;
}

}  // namespace varnok
