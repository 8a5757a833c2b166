#include "platform/fileattr.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace varnok::platform {

uint32_t AttributesOf(const std::string& path, const struct stat& st) {
    uint32_t a = 0;
    if (S_ISDIR(st.st_mode))
        a |= faDirectory;
    else
        a |= faArchive;
    if (!(st.st_mode & S_IWUSR)) a |= faReadOnly;
    auto slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!base.empty() && base[0] == '.' && base != "." && base != "..") a |= faHidden;
    return a;
}

uint32_t AttributesOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    return AttributesOf(path, st);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

int64_t FileSizeOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t FileMTime(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_mtime);
}

bool ApplyDosAttributes(const std::string& path, uint32_t attr) {
    if (!(attr & faReadOnly)) return true;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;
    return chmod(path.c_str(), st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777) == 0;
}

bool SetFileTime(const std::string& path, int64_t mtime, bool followLinks) {
    struct timespec ts[2];
    ts[0].tv_sec = static_cast<time_t>(mtime);
    ts[0].tv_nsec = 0;
    ts[1] = ts[0];
    return utimensat(AT_FDCWD, path.c_str(), ts, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (DirectoryExists(path)) return true;
    std::string cur;
    size_t i = 0;
    if (path[0] == '/') {
        cur = "/";
        i = 1;
    }
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (!part.empty()) {
            if (!cur.empty() && cur.back() != '/') cur += '/';
            cur += part;
            if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
            if (!DirectoryExists(cur)) return false;
        }
        i = j + 1;
    }
    return DirectoryExists(path);
}

}  // namespace varnok::platform
