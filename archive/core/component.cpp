#include "archive/core/component.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "archive/core/wildcard.h"
#include "platform/datetime.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok {

void FileSink::Write(const uint8_t* buf, size_t n) {
    if (!f_.Write(buf, n)) throw ArchiveError(E_WriteFile, f_.Path(), platform::LastErrorText());
}

TZipCommon::TZipCommon() = default;
TZipCommon::~TZipCommon() = default;

std::string TZipCommon::TempDir() const {
    if (!tempDir_.empty() && platform::DirectoryExists(tempDir_)) return tempDir_;
    return platform::SystemTempDir();
}

void TZipCommon::SetTempDir(const std::string& dir) {
    if (dir.empty()) {
        tempDir_.clear();
        return;
    }
    std::string d = RemoveSlash(dir);
    if (!platform::DirectoryExists(d)) {
        bool create = true;
        if (OnConfirmCreateDir) create = OnConfirmCreateDir(d + "\n\n" + ErrorText(E_DirNotExistCreate));
        if (!create || !platform::ForceDirectories(d)) d.clear();
    }
    tempDir_ = d;
}

void TZipCommon::PauseClock() {
    if (pauseDepth_++ == 0) pauseStart_ = platform::TickMs();
}

void TZipCommon::ResumeClock() {
    if (pauseDepth_ > 0 && --pauseDepth_ == 0) clockStart_ += platform::TickMs() - pauseStart_;
}

void TZipCommon::ReportError(const std::string& fileName, const std::string& extendedMsg, int code,
                             const std::string& volumeId) {
    PauseClock();
    if (Cancel()) code = E_UserCanceled;
    if (OnError) OnError(*this, fileName, extendedMsg, volumeId, code);
    ResumeClock();
}

void TZipCommon::RaiseError(const std::string& fileName, const std::string& extendedMsg, int code,
                            const std::string& volumeId) {
    ReportError(fileName, extendedMsg, code, volumeId);
    if (Cancel()) throw RunCancelled();
    throw ArchiveError(code, fileName, extendedMsg == "0" ? std::string() : extendedMsg);
}

void TZipCommon::ReportMissingEvent(const std::string& eventName) {
    ReportError(ArchiveFile(), eventName, E_EventNotAssigned);
}

void TZipCommon::UpdateProgress(uint64_t doneInFile, uint64_t fileSize, uint64_t archiveTotal) {
    int byFile = PercentOf(static_cast<int64_t>(doneInFile), static_cast<int64_t>(fileSize));
    uint64_t done = archiveTotal > BytesRemaining ? archiveTotal - BytesRemaining : 0;
    int byArchive = PercentOf(static_cast<int64_t>(done), static_cast<int64_t>(archiveTotal));
    if (ProcessMessages) ProcessMessages();
    if (byFile == lastByFile_ && byArchive == lastByArchive_) return;
    lastByFile_ = byFile;
    lastByArchive_ = byArchive;
    if (DoProgress)
        DoProgress(byFile, byArchive);
    else if (OnProgress)
        OnProgress(*this, byFile, byArchive);
}

bool TZipCommon::SpecMatch(const std::string& name) const {
    return varnok::SpecMatch(name, FileSpec, ExcludeSpec);
}

std::string TZipCommon::VolumeFileName(const std::string& name, int n) {
    if (name.empty() || n < 0) return {};
    if (arcType_ == atRar || arcType_ == atRarExe) {
        // r00 .. r99, then s00 ...
        int m = n % 100;
        if (m == 0) VolumeLetter = static_cast<char>(VolumeLetter + 1);
        n = m;
    }
    std::string dir = ExtractFilePath(name);
    std::string file = ExtractFileName(name);
    size_t dot = file.find_last_of('.');
    std::string stem = dot == std::string::npos ? file : file.substr(0, dot);
    char ext[32];
    if (n <= 9)
        snprintf(ext, sizeof ext, ".%c0%d", VolumeLetter, n);
    else if (n <= 99)
        snprintf(ext, sizeof ext, ".%c%d", VolumeLetter, n);
    else
        snprintf(ext, sizeof ext, ".%d", n);
    return dir + stem + ext;
}

bool TZipCommon::RequestVolume(std::string& name, int n) {
    if (n > 999) {
        ReportError(name, "", E_MaxVolumes, std::to_string(n));
        return false;
    }
    if (name.empty()) {
        ReportError(name, "", E_InvalidFileName, std::to_string(n));
        return false;
    }
    if (!OnNextVolume) {
        ReportError(name, "OnNextVolumeFile", E_EventNotAssigned, std::to_string(n));
        return false;
    }
    if (name.find('/') == std::string::npos) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) name = std::string(cwd) + "/" + name;
    }
    // Ask until the handler names an existing file or gives up; a handler that keeps answering without a file
    // is stopped after a bounded number of tries.
    for (int tries = 0; tries < 1000; ++tries) {
        bool cancel = true;
        PauseClock();
        OnNextVolume(*this, name, std::to_string(n), platform::FileExists(name), cancel);
        ResumeClock();
        if (cancel || Cancel()) return false;
        if (platform::FileExists(name)) {
            ++VolumeNumber;
            return true;
        }
    }
    return false;
}

bool TZipCommon::OpenNextVolume() {
    if (!OnNextVolume) return false;
    std::string current = CurrentVolume.empty() ? archiveFile_ : CurrentVolume;
    std::string name = (arcType_ == atRar || arcType_ == atRarExe) ? NextRarPartName(current) : std::string();
    if (name.empty()) name = VolumeFileName(current, VolumeNumber);
    // Volumes made on DOS may differ from the first in the case of their names.
    if (std::string found = FindFileIgnoringCase(name); !found.empty()) name = found;
    if (!RequestVolume(name, VolumeNumber)) return false;
    if (!ArcFile.Close()) RaiseError(name, "", E_CloseFile, std::to_string(VolumeNumber));
    if (!ArcFile.Open(name, platform::File::Mode::Read)) {
        ArcFile.Open(archiveFile_, platform::File::Mode::Read);
        RaiseError(name, platform::LastErrorText(), E_ReadFile, std::to_string(VolumeNumber));
    }
    CurrentVolume = name;
    ArchiveSize = ArcFile.Size();
    return true;
}

bool TZipCommon::RequestZipDisk(int n) {
    DiskManager.Refresh();
    if (DiskManager.DiskNumber == n) return true;
    ArcFile.Close();
    bool accepted = false;
    const int lastDisk = HasEndRecord ? EndRecord.thisDisk + 1 : 0;
    for (int tries = 0; tries < 1000 && !accepted; ++tries) {
        if (DiskManager.DiskNumber == n) {
            accepted = true;
            break;
        }
        bool cancel = true;
        PauseClock();
        if (n == 1) {
            if (!OnGetZipFirstDisk) {
                ResumeClock();
                ReportMissingEvent("OnGetZipFirstDisk");
                break;
            }
            OnGetZipFirstDisk(*this, cancel);
            ResumeClock();
            DiskManager.Refresh();
            if (!cancel && DiskManager.DiskNumber == 0) {
                // A disk without a number in its label is taken as the first when its file starts a ZIP set.
                platform::File f;
                uint8_t b[4];
                if (f.Open(archiveFile_, platform::File::Mode::Read) && f.ReadAt(0, b, 4) == 4) {
                    uint32_t s =
                        (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
                    if (s == zip::kSpanSig || s == zip::kLocalSig) accepted = true;
                }
            }
        } else if (n == lastDisk) {
            ResumeClock();
            DiskManager.Refresh();
            if (DiskManager.DiskNumber == 0) {
                uint8_t saveFlag = HeadFlag;
                uint64_t saveStart = StartOffset;
                IdentifyFile(archiveFile_);
                bool found = HeadFlag & hfEndRecord;
                HeadFlag = saveFlag;
                StartOffset = saveStart;
                if (found) {
                    accepted = true;
                    break;
                }
            }
            if (!OnGetZipLastDisk) {
                ReportMissingEvent("OnGetZipLastDisk");
                break;
            }
            PauseClock();
            OnGetZipLastDisk(*this, cancel);
            ResumeClock();
        } else {
            if (!OnGetZipNextDisk) {
                ResumeClock();
                ReportMissingEvent("OnGetZipNextDisk");
                break;
            }
            OnGetZipNextDisk(*this, std::to_string(n), cancel);
            ResumeClock();
        }
        if (accepted) break;
        if (cancel || Cancel()) break;
        DiskManager.Refresh();
    }
    if (!ArcFile.Open(archiveFile_, platform::File::Mode::Read))
        ReportError(archiveFile_, "", E_ReadFile);
    else
        ArchiveSize = ArcFile.Size();
    return accepted;
}

bool TZipCommon::RequestZipLastDisk() {
    if (!OnGetZipLastDisk) {
        ReportMissingEvent("OnGetZipLastDisk");
        return false;
    }
    ArcFile.Close();
    TArcType t = IdentifyFile(archiveFile_);
    for (int tries = 0; tries < 1000 && !(HeadFlag & hfEndRecord); ++tries) {
        bool cancel = true;
        PauseClock();
        OnGetZipLastDisk(*this, cancel);
        ResumeClock();
        if (cancel || Cancel()) break;
        t = IdentifyFile(archiveFile_);
    }
    if (!ArcFile.Open(archiveFile_, platform::File::Mode::Read))
        ReportError(archiveFile_, "", E_ReadFile);
    else
        ArchiveSize = ArcFile.Size();
    return IsRecognised(t) && (HeadFlag & hfEndRecord);
}

std::string TZipCommon::CreateTempFile() {
    std::string dir = TempDir();
    platform::ForceDirectories(dir);
    return platform::CreateTempFile(dir, "vnk");
}

void TZipCommon::BeginRun() {
    SetCancel(false);
    FileCount = 0;
    TotalPacked = TotalUnpacked = 0;
    lastByFile_ = lastByArchive_ = -1;
    pauseDepth_ = 0;
    CurrentVolume = archiveFile_;
    clockStart_ = platform::TickMs();
}

void TZipCommon::EndRun(bool activated) {
    uint64_t elapsed = platform::TickMs() - clockStart_;
    ArcFile.Close();
    if (activated && OnDeactivate) OnDeactivate(*this);
    if (OnElapsedTime) OnElapsedTime(*this, static_cast<double>(elapsed) / 1000.0);
}

void TZipCommon::BeginNames() {
    names_ = NameCoding();
    if (!NameCodePage.empty()) names_.Force(NameCodePage);
}

bool TZipCommon::OpenArchiveForRead() {
    if (!ArcFile.Open(archiveFile_, platform::File::Mode::Read)) return false;
    ArchiveSize = ArcFile.Size();
    return true;
}

}  // namespace varnok
