#include "archive/core/diskmanager.h"

#include <cstdio>

#include "archive/core/utils.h"

namespace varnok {

std::string TDiskManager::DriveTypeNameOf(int driveType, int floppyKind) {
    static const char* names[] = {"Unknown", "None", "Floppy",           "Fixed",           "Network",
                                  "CD-ROM",  "RAM",  "3\xC2\xBD Floppy", "5\xC2\xBC Floppy"};
    if (driveType == platform::dkRemovable) {
        if (floppyKind == 7 || floppyKind == 8) return names[floppyKind];
        return names[platform::dkRemovable];
    }
    if (driveType >= 0 && driveType <= 6) return names[driveType];
    return names[0];
}

void TDiskManager::SetDrive(const std::string& pathOnDrive) {
    path_ = pathOnDrive;
    Refresh();
    if (Ready && OnDriveReady) OnDriveReady(*this);
}

bool TDiskManager::Refresh() {
    platform::DriveFacts f = platform::QueryDrive(path_.empty() ? Drive : path_);
    Ready = f.ready;
    if (!f.ready) {
        DriveType = f.kind;
        DriveTypeName = DriveTypeNameOf(DriveType, 0);
        return false;
    }
    Drive = f.root;
    VolumeLabel = f.label;
    DiskNumber = DiskNumberOfLabel(f.label);
    SerialNumber = f.serial;
    char buf[16];
    snprintf(buf, sizeof buf, "%08X", f.serial);
    SerialText = buf;
    MaxComponentLength = f.maxComponentLength;
    FileSystemName = f.fileSystem;
    DriveType = f.kind;
    FloppyKind = 0;
    DriveTypeName = DriveTypeNameOf(DriveType, FloppyKind);
    TotalBytes = f.totalBytes;
    FreeBytes = f.freeBytes;
    return true;
}

bool TDiskManager::SetLabel(const std::string& label) {
    if (label == VolumeLabel) return true;
    if (!platform::SetDriveLabel(Drive, label)) return false;
    Refresh();
    return true;
}

void TDiskManager::SetMonitoring(bool on) {
    if (!on) {
        monitoring_ = false;
        return;
    }
    if (monitoring_) {
        Ready = true;
        return;
    }
    if (Interval <= 0 || (DriveType != platform::dkRemovable && DriveType != platform::dkCdRom)) return;
    monitoring_ = true;
    lastSerial_ = SerialText;
}

void TDiskManager::Poll() {
    if (!monitoring_) return;
    Refresh();
    if (SerialText != lastSerial_) {
        lastSerial_ = SerialText;
        if (OnDiskChanged) OnDiskChanged(*this);
    }
}

TvnFileAttr::TvnFileAttr() {
    // Everything passes, except that folders are not taken as files.
    Normalise();
    SetDirectory(false);
}

void TvnFileAttr::SetFlag(bool& flag, bool v) {
    flag = v;
    bool all = archive_ && hidden_ && readOnly_ && sysFile_ && directory_ && zeroAttr_;
    bool none = !archive_ && !hidden_ && !readOnly_ && !sysFile_ && !directory_ && !volumeId_ && !zeroAttr_;
    if (all || none)
        anyFile_ = true;
    else if (!v)
        anyFile_ = false;
    Normalise();
}

void TvnFileAttr::SetFileAttr(int value) {
    anyFile_ = value == 0 || (value & 63) == 63 || (value & 128);
    if (!anyFile_) {
        readOnly_ = value & 1;
        hidden_ = value & 2;
        sysFile_ = value & 4;
        volumeId_ = value & 8;
        directory_ = value & 16;
        archive_ = value & 32;
    }
    Normalise();
}

void TvnFileAttr::Normalise() {
    if (anyFile_) {
        fileAttr_ = 63;
        zeroAttr_ = true;
    } else {
        fileAttr_ =
            32 * archive_ + 2 * hidden_ + 1 * readOnly_ + 4 * sysFile_ + 16 * directory_ + 8 * volumeId_;
    }
    readOnly_ = fileAttr_ & 1;
    hidden_ = fileAttr_ & 2;
    sysFile_ = fileAttr_ & 4;
    volumeId_ = fileAttr_ & 8;
    directory_ = fileAttr_ & 16;
    archive_ = fileAttr_ & 32;
}

bool TvnFileAttr::AttributePasses(uint32_t a) const {
    if (a & 0x100) return false;
    if (a & 0x10) return directory_;
    if (a & 0x20) return archive_;
    if (a == 0 || (a & 0x3F) == 0 || (a & 0x80)) return zeroAttr_;
    return ((a & 1) && readOnly_) || ((a & 2) && hidden_) || ((a & 4) && sysFile_);
}

}  // namespace varnok
