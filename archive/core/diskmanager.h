// The disk manager of the archive components, and the attribute filter of the writers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/drive.h"

namespace varnok {

// Facts about the drive an archive lies on: label, serial number, type, free space. Removable disks are
// polled when monitoring is on (Poll is called by the application's timer every Interval milliseconds).
class TDiskManager {
  public:
    std::string Drive;  // drive root (a mount point or a stand-in folder)
    int Interval = 2000;
    std::string VolumeLabel;
    int DiskNumber = 0;
    uint32_t SerialNumber = 0;
    std::string SerialText;  // eight hexadecimal digits
    uint32_t MaxComponentLength = 0;
    std::string FileSystemName;
    int DriveType = platform::dkUnknown;
    int FloppyKind = 0;  // not detectable here: 0
    std::string DriveTypeName;
    bool Ready = false;
    uint64_t TotalBytes = 0;
    uint64_t FreeBytes = 0;
    std::function<void(TDiskManager&)> OnDiskChanged;
    std::function<void(TDiskManager&)> OnDriveReady;

    // Sets the drive from any path on it and refreshes.
    void SetDrive(const std::string& pathOnDrive);
    // Reads the volume information again. False (Ready false) when the drive cannot be reached.
    bool Refresh();
    // Writes a new label (only stand-in drives can be relabelled here). Refreshes on success.
    bool SetLabel(const std::string& label);
    bool Monitoring() const { return monitoring_; }
    void SetMonitoring(bool on);
    // One polling step: refreshes and reports a changed serial number through OnDiskChanged.
    void Poll();
    bool IsRemovable() const { return DriveType == platform::dkRemovable; }

    static std::string DriveTypeNameOf(int driveType, int floppyKind);

  private:
    bool monitoring_ = false;
    std::string lastSerial_;
    std::string path_;
};

// Which files a writer takes by their attributes (read-only 1, hidden 2, system 4, volume 8, directory 16,
// archive 32).
class TvnFileAttr {
  public:
    TvnFileAttr();
    int ftFileAttr() const { return fileAttr_; }
    bool ftArchive() const { return archive_; }
    bool ftHidden() const { return hidden_; }
    bool ftReadOnly() const { return readOnly_; }
    bool ftSysFile() const { return sysFile_; }
    bool ftCompressed() const { return true; }
    bool ftVolumeID() const { return volumeId_; }
    bool ftDirectory() const { return directory_; }
    bool ftTemporary() const { return false; }
    bool ftAnyFile() const { return anyFile_; }
    bool ftZeroAttr() const { return zeroAttr_; }

    void SetFileAttr(int value);
    void SetArchive(bool v) { SetFlag(archive_, v); }
    void SetHidden(bool v) { SetFlag(hidden_, v); }
    void SetReadOnly(bool v) { SetFlag(readOnly_, v); }
    void SetSysFile(bool v) { SetFlag(sysFile_, v); }
    void SetVolumeID(bool v) { SetFlag(volumeId_, v); }
    void SetDirectory(bool v) { SetFlag(directory_, v); }
    void SetZeroAttr(bool v) { SetFlag(zeroAttr_, v); }
    void SetAnyFile(bool v) {
        anyFile_ = v;
        Normalise();
    }

    // Whether a file with these attributes is taken.
    bool AttributePasses(uint32_t attributes) const;

  private:
    void SetFlag(bool& flag, bool v);
    void Normalise();
    int fileAttr_ = 63;
    bool archive_ = true, hidden_ = true, readOnly_ = true, sysFile_ = true, volumeId_ = true,
         directory_ = true;
    bool anyFile_ = true, zeroAttr_ = true;
};

}  // namespace varnok
