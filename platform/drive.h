// Facts about the "drive" holding a path: the mounted file system, or a folder that stands in for a removable
// disk.
//
// A folder carrying a file named ".varnok-drive" is a drive of its own. The file holds "key=value" lines:
//   type=removable|fixed|remote|cdrom|ram   label=TEXT   serial=HEX   capacity=BYTES   fs=NAME
// With a capacity the free space is the capacity less what the folder holds. Such folders let the
// spanned-disk code run against "floppies" in tests; swapping the disk is rewriting the folder.
#pragma once

#include <cstdint>
#include <string>

namespace varnok::platform {

enum DriveKind : int {
    dkUnknown = 0,
    dkNoRoot = 1,
    dkRemovable = 2,
    dkFixed = 3,
    dkRemote = 4,
    dkCdRom = 5,
    dkRamDisk = 6,
};

struct DriveFacts {
    std::string root;  // mount point or the stand-in folder, without trailing "/" (except "/")
    int kind = dkUnknown;
    std::string label;
    uint32_t serial = 0;
    std::string fileSystem;
    uint32_t maxComponentLength = 255;
    uint64_t freeBytes = 0;
    uint64_t totalBytes = 0;
    bool ready = false;
    bool standIn = false;  // a folder with a ".varnok-drive" file
};

inline constexpr const char* kDriveFileName = ".varnok-drive";

// Facts of the drive holding path (which need not exist yet: its nearest existing parent is used).
DriveFacts QueryDrive(const std::string& path);
// The same with the mount table read from another file than /proc/self/mountinfo (tests).
DriveFacts QueryDrive(const std::string& path, const std::string& mountTable);
// Writes the label of a stand-in drive; real volumes are not relabelled (false).
bool SetDriveLabel(const std::string& root, const std::string& label);
// Makes a folder a stand-in drive with the given facts (tests and the disk-spanning tools).
bool MakeStandInDrive(const std::string& folder, int kind, const std::string& label, uint32_t serial,
                      uint64_t capacity);

}  // namespace varnok::platform
