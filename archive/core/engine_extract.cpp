#include "archive/core/engine_extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "archive/core/crc.h"
#include "archive/core/errors.h"

namespace varnok {

int RarResultError(int code) {
    switch (code) {
        case 10: return E_EofNotFound;
        case 11: return E_OutOfMemory;
        case 12: return E_BadFileHeader;
        case 13:
        case 14: return E_InvalidArcType;
        case 15: return E_OpenFile;
        case 16:
        case 19: return E_WriteFile;
        case 17: return E_CloseFile;
        case 18: return E_ReadFile;
        case 21: return E_BrokenMultiVolume;
        case 22: return E_InvalidPassword;
        default: return 0;
    }
}

int AceResultError(int code) {
    switch (code) {
        case 1: return E_OutOfMemory;
        case 3: return E_FileNotFound;
        case 4: return E_DiskFull;
        case 5: return E_OpenFile;
        case 6: return E_ReadFile;
        case 7: return E_WriteFile;
        case 9: return E_CrcCheck;
        case 128:
        case 132: return E_InvalidArcType;
        case 131: return E_InvalidPassword;
        case 255: return E_UserCanceled;
        default: return 0;
    }
}

int EngineExtract::Data(const uint8_t* data, size_t size) {
    if (pending_) return 0;
    try {
        if (o_.Cancel()) throw RunCancelled();
        if (probing_) {
            if (size > probeLimit_ - probeSize_) return 0;  // more than the entry holds: not its data
            probeSize_ += size;
            probeCrc_ = UpdateCrc32(probeCrc_, data, size);
            if (o_.ProcessMessages) o_.ProcessMessages();
            return 1;
        }
        if (!sink_) return 1;  // skipping: nothing to keep
        sink_->Write(data, size);
        return 1;
    } catch (...) {
        // Never through the library: kept, and thrown again once it has returned.
        pending_ = std::current_exception();
        return 0;
    }
}

void EngineExtract::RethrowPending() {
    if (!pending_) return;
    std::exception_ptr p = pending_;
    pending_ = nullptr;
    std::rethrow_exception(p);
}

int EngineExtract::Probe(const ArchiveEntry& e, CrcKind kind, const Library& lib) {
    probing_ = true;
    probeCrc_ = 0xFFFFFFFFu;
    probeSize_ = 0;
    probeLimit_ = e.UnpackedSize;
    int rc = 0;
    try {
        rc = lib.process(1);
    } catch (...) {
        probing_ = false;
        throw;
    }
    probing_ = false;
    RethrowPending();
    if (rc == lib.userCode && o_.Cancel()) throw RunCancelled();
    if (rc != 0) return rc;
    // Decoded with a wrong key, data may still come out whole: their check tells.
    const bool crcOk = kind != CrcKind::Crc32 || e.EntryCrc == probeCrc_ || e.EntryCrc == ~probeCrc_;
    return crcOk && probeSize_ == e.UnpackedSize ? 0 : lib.passwordCode;
}

EngineExtract::Step EngineExtract::Entry(const ArchiveEntry& e, CrcKind kind, const Library& lib) {
    pending_ = nullptr;
    if (!o_.SelectsEntry(e.EntryName, e.IsDirectory)) {
        lib.process(0);
        return Step::Next;
    }
    const bool empty = e.UnpackedSize == 0 && e.EntryCrc == 0 && lib.emptyNeedsNoPassword;
    const bool encrypted = e.Encrypted && !e.IsDirectory && !empty;
    if (encrypted) {
        int last = -1;  // the result of the last probe; -1: the library still stands at the entry
        bool lost = false;
        const bool ok = o_.AcquirePassword(e.EntryName, [&](const std::string& pw) {
            if (pw.empty() || lost) return false;
            if (last != -1 && !lib.rewind()) {
                lost = true;
                return false;
            }
            lib.setPassword(pw);
            last = Probe(e, kind, lib);
            return last != lib.passwordCode;
        });
        if (lost) {
            o_.EntryFailed(e.EntryName, E_BadFileHeader, "the archive cannot be read again: " + lib.reason());
            return Step::EndRun;
        }
        if (!ok) {
            // No password: nothing more of the archive is extracted.
            o_.FileSpec.clear();
            if (last == -1) lib.process(0);
            o_.EntryFailed(e.EntryName, E_InvalidPassword,
                           last == -1 ? "no password was given" : "no password given fits");
            return Step::EndRun;
        }
        if (last != 0) {
            // A failure no password mends (an unsupported cipher, damaged data).
            const int id = lib.translate(last);
            o_.BuildOutputName(e.EntryName);
            o_.EntryFailed(e.EntryName, id ? id : E_CorruptInput, lib.reason());
            o_.SkipProgress(e.PackedSize);
            return Step::Next;
        }
        if (!lib.rewind()) {
            o_.EntryFailed(e.EntryName, E_BadFileHeader, "the archive cannot be read again: " + lib.reason());
            return Step::EndRun;
        }
    }

    bool ran = false;
    const auto result = o_.ExtractEntry(e, kind, e.EntryCrc, [&](ByteSink& sink) {
        ran = true;
        sink_ = &sink;
        int rc;
        try {
            rc = lib.process(1);
        } catch (...) {
            sink_ = nullptr;
            throw;
        }
        sink_ = nullptr;
        RethrowPending();
        if (rc == lib.userCode) throw RunCancelled();
        if (rc != 0) {
            const int id = lib.translate(rc);
            throw ArchiveError(id && id != E_WriteFile ? id : E_CorruptInput, e.EntryName, lib.reason());
        }
        return MakeResult(DecodeStatus::Ok, 0, e.UnpackedSize, e.PackedSize);
    });
    // An entry the base did not hand to the decoder (a folder, a declined or unusable name) is passed over.
    if (!ran) lib.process(0);
    if (result == TUnBase::EntryResult::Failed && ran && !o_.Testing() && !o_.OutputName().empty()) {
        // Nothing of a failed entry stays behind.
        struct stat st;
        if (lstat(o_.OutputName().c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(o_.OutputName().c_str());
    }
    return Step::Next;
}

namespace {

class RunFailure final : public EntryWalk {
  public:
    RunFailure(int code, std::string detail) { Fail(code, 0, std::move(detail)); }
    bool Next(ArchiveEntry&) override { return false; }
};

}  // namespace

void TEngineUnBase::RunFailed(int code, const std::string& detail) {
    RunFailure f(code, detail);
    WalkFailed(f);
}

bool TEngineUnBase::ConfirmVolume(char* name, size_t size) {
    std::string proposed(name, strnlen(name, size));
    if (!ConfirmedVolumes.count(proposed)) {
        // Not met in the pre-scan: the user is asked (with no one to ask, the set ends here).
        if (!OnNextVolume || !RequestVolume(proposed, VolumesMet)) return false;
        if (proposed.size() >= size) {
            ReportError(proposed, "the name is too long", E_OpenFile);
            return false;
        }
        ConfirmedVolumes.insert(proposed);
        std::memcpy(name, proposed.c_str(), proposed.size() + 1);
    }
    ++VolumesMet;
    CurrentVolume = proposed;
    return true;
}

bool TEngineUnBase::PreScan(const FormatRecord& family, std::vector<ArchiveEntry>& all, size_t& selected) {
    ConfirmedVolumes.clear();
    VolumesMet = 1;
    const int volumeNumber = VolumeNumber;
    const char volumeLetter = VolumeLetter;
    std::vector<bool> firstVolume;
    bool volumeMissing = false;
    if (!OpenArchiveForRead()) RaiseError(ArchiveFile(), platform::LastErrorText(), E_OpenFile);
    TOnNextVolume user = OnNextVolume;
    if (user)
        OnNextVolume = [&](TZipCommon& s, std::string& name, const std::string& id, bool exists, bool& cancel) {
            user(s, name, id, exists, cancel);
            if (!cancel) ConfirmedVolumes.insert(name);
        };
    const bool cancelBefore = Cancel();
    auto walk = family.walk(*this);
    ArchiveEntry e;
    try {
        while (!Cancel() && walk->Next(e)) {
            firstVolume.push_back(!walk->PastFirstVolume());
            all.push_back(std::move(e));
        }
    } catch (...) {
        OnNextVolume = user;
        throw;
    }
    OnNextVolume = user;
    if (Cancel() && !cancelBefore) {
        // The walk stops a set whose next volume was not given.
        volumeMissing = true;
        SetCancel(false);
    }
    ArcFile.Close();
    if (walk->Error()) WalkFailed(*walk);
    VolumeNumber = volumeNumber;
    VolumeLetter = volumeLetter;
    CurrentVolume.clear();
    if (volumeMissing) {
        RunFailed(E_BrokenMultiVolume, "the next volume of the set is missing");
        return false;
    }
    BeginNames();
    for (size_t i = 0; i < all.size(); ++i)
        if (firstVolume[i]) SampleTexts(all[i], names_);
    names_.Decide();
    uint64_t total = 0;
    selected = 0;
    for (ArchiveEntry& x : all) {
        DecodeTexts(x, names_);
        if (!SelectsEntry(x.EntryName, x.IsDirectory)) continue;
        ++selected;
        total += x.UnpackedSize;
    }
    SetRunTotal(total);
    return true;
}

}  // namespace varnok
