// ZIP disk spanning in the writer: when the archive is meant for a removable disk that cannot hold it, the
// finished temporary archive is laid out over several disks instead of being moved into place.
//
// The layout is the one spanned-set writer of the library (zip_spanset.h), so the writer's sets and the
// bridge's are the same: headers whole on a disk, data running on, per-disk offsets, labels "PKBACK# 001", ...
// What is the writer's own are its events: OnInsertDisk for each disk, OnClearDisk when a disk holds files
// and too little room.
//
// Nothing is lost: the temporary archive is built in the system's temporary folder (never on a disk that
// leaves the drive) and stays the source of every byte; each disk's volume is written under a private
// temporary name and takes the archive's name only when that disk is full. The last volume is handed back to
// the compression base, which puts it in place like any finished archive, so sources moved into the archive
// are deleted only once the whole set is written. A cancel or failure removes the volume being written; the
// disks already taken out hold whole volumes of an incomplete set, and the archive a spanned run was to
// replace on the first disk stays only if the run ends before that disk is full.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "archive/core/errors.h"
#include "archive/core/utils.h"
#include "archive/formats/zip/zip_spanset.h"
#include "archive/formats/zip/zip_writer.h"
#include "platform/drive.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok {
namespace {

constexpr uint64_t kDiskRequirement = 50000;  // room a disk must offer for entry data
constexpr int kMaxAttempts = 32;              // questions for one disk before the run gives up

std::string Label(int disk) {
    char buf[32];
    snprintf(buf, sizeof buf, "PKBACK# %03d", disk + 1);
    return buf;
}

std::string TargetDir(const std::string& target) {
    std::string d = ExtractFilePath(target);
    return d.empty() ? "." : RemoveSlash(d);
}

}  // namespace

struct TZip::DiskSpan : zip::VolumeSink {
    TZip& z;
    std::string target;
    platform::File vol;
    std::string volTemp;
    std::string lastTemp;  // the last volume, left for the base to put in place

    DiskSpan(TZip& zip, std::string t) : z(zip), target(std::move(t)) {}
    ~DiskSpan() override {
        vol.Close();
        if (!volTemp.empty()) unlink(volTemp.c_str());
    }

    void Poll() override {
        if (z.ProcessMessages) z.ProcessMessages();
        z.CheckCancel();
    }

    platform::DriveFacts Drive() {
        platform::DriveFacts df = platform::QueryDrive(target);
        if (!df.ready) z.RaiseError(target, "the drive is not ready", E_WriteFile);
        return df;
    }

    uint64_t OpenVolume(int disk) override {
        const uint64_t leave = disk == 0 ? z.LeaveSpaceOnFirstDisk : 0;
        const uint64_t required = leave + kDiskRequirement;
        platform::DriveFacts df;
        for (int attempt = 0;; ++attempt) {
            if (attempt >= kMaxAttempts) z.RaiseError(target, "no usable disk " + std::to_string(disk + 1), E_UserCanceled);
            Poll();
            if (!z.OnInsertDisk) z.RaiseError(target, "OnInsertDisk " + std::to_string(disk + 1), E_EventNotAssigned);
            bool cancel = false;
            z.OnInsertDisk(z, std::to_string(disk + 1), cancel);
            if (cancel) z.RaiseError(target, "", E_UserCanceled);
            df = Drive();
            // The first disk or the one just filled, inserted again: ask anew.
            if (disk > 0 && (df.label == Label(0) || df.label == Label(disk - 1))) continue;
            for (int clear = 0; df.freeBytes < df.totalBytes && df.freeBytes < required; ++clear) {
                if (clear >= kMaxAttempts) z.RaiseError(target, "the disk was not cleared", E_UserCanceled);
                if (!z.OnClearDisk) z.RaiseError(target, "OnClearDisk", E_EventNotAssigned);
                cancel = false;
                z.OnClearDisk(z, df.root, required, df.freeBytes, df.totalBytes, cancel);
                if (cancel) z.RaiseError(target, "", E_UserCanceled);
                df = Drive();
            }
            if (df.freeBytes >= required) break;
        }
        volTemp = platform::CreateTempFile(TargetDir(target), "." + ExtractFileName(target) + ".", ".tmp", &vol);
        if (volTemp.empty()) z.RaiseError(target, platform::LastErrorText(), E_WriteFile);
        if (!platform::SetDriveLabel(df.root, Label(disk))) z.RaiseError(target, Label(disk), E_SpanLabel);
        return df.freeBytes - leave;
    }

    bool Write(const uint8_t* p, size_t n) override { return vol.Write(p, n); }

    void CloseVolume(int disk, bool last) override {
        (void)disk;
        if (!vol.Close()) z.RaiseError(target, "Error writing to file", E_WriteFile);
        if (last) {
            lastTemp = volTemp;  // the base syncs it and renames it over the target
        } else {
            mode_t mask = umask(0);
            umask(mask);
            chmod(volTemp.c_str(), 0666 & ~mask);
            if (rename(volTemp.c_str(), target.c_str()) != 0)
                z.RaiseError(target, platform::LastErrorText(), E_WriteFile);
        }
        volTemp.clear();
    }
};

void TZip::UpdateArchive() {
    removableTarget_ = platform::QueryDrive(ArchiveFile()).kind == platform::dkRemovable;
    if (!removableTarget_ || !TempDirOverride.empty()) {
        TCompBase::UpdateArchive();
        return;
    }
    // The temporary archive is the source of every disk: it must not lie on a disk that leaves the drive.
    struct Restore {
        std::string& dir;
        ~Restore() { dir.clear(); }
    } restore{TempDirOverride};
    TempDirOverride = platform::SystemTempDir();
    TCompBase::UpdateArchive();
}

std::string TZip::SealOutput(platform::File& out, const std::string& path) {
    if (!removableTarget_) return path;
    const std::string target = ArchiveFile();
    platform::DriveFacts df = platform::QueryDrive(target);
    const uint64_t size = out.Size();
    uint64_t free = df.freeBytes;
    if (int64_t old = platform::FileSizeOf(target); old > 0) free += static_cast<uint64_t>(old);
    if (free >= size) {
        // It fits: a copy beside the target, which the base renames into place.
        platform::File copy;
        std::string name = platform::CreateTempFile(TargetDir(target), "." + ExtractFileName(target) + ".", ".tmp", &copy);
        if (name.empty()) RaiseError(target, platform::LastErrorText(), E_WriteFile);
        std::vector<uint8_t> buf(65536);
        for (uint64_t at = 0; at < size;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), size - at));
            if (out.ReadAt(at, buf.data(), n) != n || !copy.Write(buf.data(), n)) {
                copy.Close();
                unlink(name.c_str());
                RaiseError(target, "Error writing to file", E_WriteFile);
            }
            at += n;
        }
        return name;
    }
    DiskSpan span(*this, target);
    try {
        zip::WriteSpanSet(out, span);
    } catch (const zip::SpanError& e) {
        if (!span.lastTemp.empty()) unlink(span.lastTemp.c_str());
        RaiseError(target, std::string(zip::SpanFaultText(e.fault)) + (e.detail.empty() ? "" : ": " + e.detail),
                   E_WriteFile);
    } catch (...) {
        if (!span.lastTemp.empty()) unlink(span.lastTemp.c_str());
        throw;
    }
    return span.lastTemp;
}

}  // namespace varnok
