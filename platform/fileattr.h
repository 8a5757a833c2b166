// DOS-style file attributes on a Unix file system, and file times.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace varnok::platform {

enum FileAttr : uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faVolumeId = 0x08,
    faDirectory = 0x10,
    faArchive = 0x20,
    faNormal = 0x80,
    faTemporary = 0x100,
};

// Attributes of a file: read-only when the owner may not write, hidden when its name starts with ".",
// directory for folders; regular files carry the archive bit. 0 when the file does not exist.
uint32_t AttributesOf(const std::string& path);
uint32_t AttributesOf(const std::string& path, const struct stat& st);
bool FileExists(const std::string& path);       // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);  // a folder (or a link to one)
bool PathExists(const std::string& path);       // anything, links not followed
// Size of a file, or -1.
int64_t FileSizeOf(const std::string& path);
// Last modification time in Unix seconds, or 0.
int64_t FileMTime(const std::string& path);

// Applies DOS attributes: read-only removes the write bits; everything else has no Unix counterpart.
bool ApplyDosAttributes(const std::string& path, uint32_t attr);
// Sets access and modification time of a file; symbolic links themselves when followLinks is false.
bool SetFileTime(const std::string& path, int64_t mtime, bool followLinks = true);
// Creates a folder and any missing parents (mode 0755 before the umask).
bool ForceDirectories(const std::string& path);

}  // namespace varnok::platform
