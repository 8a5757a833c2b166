#include "platform/drive.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fileattr.h"

namespace varnok::platform {
namespace {

std::string Absolute(const std::string& path) {
    std::string p = path.empty() ? "." : path;
    if (p[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) p = std::string(cwd) + "/" + p;
    }
    // Walk up to the nearest existing folder and resolve it.
    while (true) {
        char real[PATH_MAX];
        if (realpath(p.c_str(), real)) {
            struct stat st;
            if (stat(real, &st) == 0 && !S_ISDIR(st.st_mode)) {
                std::string r(real);
                auto s = r.find_last_of('/');
                return s == 0 ? "/" : r.substr(0, s);
            }
            return real;
        }
        auto s = p.find_last_of('/');
        if (s == std::string::npos || s == 0) return "/";
        p = p.substr(0, s);
    }
}

std::map<std::string, std::string> ReadKeyValues(const std::string& file) {
    std::map<std::string, std::string> kv;
    std::ifstream f(file);
    std::string line;
    while (std::getline(f, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string v = line.substr(eq + 1);
        if (!v.empty() && v.back() == '\r') v.pop_back();
        kv[line.substr(0, eq)] = v;
    }
    return kv;
}

uint64_t FolderBytes(const std::string& dir, int depth = 0) {
    if (depth > 16) return 0;
    uint64_t sum = 0;
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || n == kDriveFileName) continue;
        std::string full = dir + "/" + n;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            sum += FolderBytes(full, depth + 1);
        else if (S_ISREG(st.st_mode))
            sum += static_cast<uint64_t>(st.st_size);
    }
    closedir(d);
    return sum;
}

int KindFromName(const std::string& v) {
    if (v == "removable" || v == "floppy") return dkRemovable;
    if (v == "remote") return dkRemote;
    if (v == "cdrom") return dkCdRom;
    if (v == "ram") return dkRamDisk;
    return dkFixed;
}

const char* KindName(int k) {
    switch (k) {
        case dkRemovable:
            return "removable";
        case dkRemote:
            return "remote";
        case dkCdRom:
            return "cdrom";
        case dkRamDisk:
            return "ram";
        default:
            return "fixed";
    }
}

bool StandIn(const std::string& dir, DriveFacts& f) {
    std::string file = dir + "/" + kDriveFileName;
    if (!FileExists(file)) return false;
    auto kv = ReadKeyValues(file);
    f.root = dir;
    f.standIn = true;
    f.kind = KindFromName(kv["type"]);
    f.label = kv["label"];
    f.serial = static_cast<uint32_t>(strtoul(kv["serial"].c_str(), nullptr, 16));
    f.fileSystem = kv.count("fs") ? kv["fs"] : "FAT";
    f.maxComponentLength = 255;
    if (kv.count("capacity")) {
        f.totalBytes = strtoull(kv["capacity"].c_str(), nullptr, 10);
        uint64_t used = FolderBytes(dir);
        f.freeBytes = used >= f.totalBytes ? 0 : f.totalBytes - used;
    } else {
        struct statvfs sv;
        if (statvfs(dir.c_str(), &sv) == 0) {
            f.totalBytes = static_cast<uint64_t>(sv.f_blocks) * sv.f_frsize;
            f.freeBytes = static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize;
        }
    }
    f.ready = true;
    return true;
}

struct MountEntry {
    std::string mountPoint, fsType, source;
    unsigned major = 0, minor = 0;
};

// Mount tables write blanks and the like as a backslash and three octal digits.
std::string Unescape(const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const char* d = s.data() + i + 1;
            if (d[0] >= '0' && d[0] <= '3' && d[1] >= '0' && d[1] <= '7' && d[2] >= '0' && d[2] <= '7') {
                r += static_cast<char>((d[0] - '0') * 64 + (d[1] - '0') * 8 + (d[2] - '0'));
                i += 3;
                continue;
            }
        }
        r += s[i];
    }
    return r;
}

bool FindMount(const std::string& abs, const std::string& table, MountEntry& best) {
    std::ifstream f(table);
    std::string line;
    size_t bestLen = 0;
    bool found = false;
    while (std::getline(f, line)) {
        std::istringstream ss(line);
        std::string id, parent, devno, root, mp;
        ss >> id >> parent >> devno >> root >> mp;
        std::string tok;
        while (ss >> tok && tok != "-") {
        }
        std::string fstype, source;
        ss >> fstype >> source;
        mp = Unescape(mp);
        bool prefix = mp == "/" || abs == mp ||
                      (abs.size() > mp.size() && abs.compare(0, mp.size(), mp) == 0 && abs[mp.size()] == '/');
        if (prefix && mp.size() >= bestLen) {
            bestLen = mp.size();
            best.mountPoint = mp;
            best.fsType = fstype;
            best.source = source;
            unsigned ma = 0, mi = 0;
            sscanf(devno.c_str(), "%u:%u", &ma, &mi);
            best.major = ma;
            best.minor = mi;
            found = true;
        }
    }
    return found;
}

std::string LinkTargetDeviceName(const std::string& byDir, const std::string& devPath, std::string* keyOut) {
    DIR* d = opendir(byDir.c_str());
    if (!d) return {};
    char realDev[PATH_MAX];
    if (!realpath(devPath.c_str(), realDev)) {
        closedir(d);
        return {};
    }
    std::string result;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        char real[PATH_MAX];
        if (realpath((byDir + "/" + n).c_str(), real) && std::string(real) == realDev) {
            result = Unescape(n);
            if (keyOut) *keyOut = n;
            break;
        }
    }
    closedir(d);
    return result;
}

bool SysRemovable(unsigned major, unsigned minor) {
    char link[PATH_MAX];
    std::string sys = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    ssize_t n = readlink(sys.c_str(), link, sizeof link - 1);
    if (n <= 0) return false;
    // The partition's parent folder names the whole disk.
    std::string devDir = sys;
    for (std::string p : {devDir + "/removable", devDir + "/../removable"}) {
        std::ifstream f(p);
        int v = 0;
        if (f >> v) return v == 1;
    }
    return false;
}

}  // namespace

DriveFacts QueryDrive(const std::string& path) {
    return QueryDrive(path, "/proc/self/mountinfo");
}

DriveFacts QueryDrive(const std::string& path, const std::string& mountTable) {
    DriveFacts f;
    std::string abs = Absolute(path);
    // The nearest stand-in folder wins over the mounted file system.
    for (std::string d = abs;;) {
        if (StandIn(d, f)) return f;
        if (d == "/" || d.empty()) break;
        auto s = d.find_last_of('/');
        d = s == 0 ? "/" : d.substr(0, s);
    }
    MountEntry m;
    if (!FindMount(abs, mountTable, m)) {
        // A process whose root is not a mount point (a chroot, some sandboxes) sees no mount that holds its
        // files. A path on a file system that answers is then on a fixed drive rooted at "/", not on a drive
        // that is missing.
        struct statvfs probe;
        std::string existing = abs;
        bool answers = false;
        while (!(answers = statvfs(existing.c_str(), &probe) == 0) && existing != "/" && !existing.empty()) {
            auto s = existing.find_last_of('/');
            existing = s == 0 ? "/" : existing.substr(0, s);
        }
        if (!answers) {
            f.kind = dkNoRoot;
            return f;
        }
        m.mountPoint = "/";
    }
    f.root = m.mountPoint;
    f.fileSystem = m.fsType;
    const std::string& t = m.fsType;
    if (t == "tmpfs" || t == "ramfs")
        f.kind = dkRamDisk;
    else if (t == "nfs" || t == "nfs4" || t == "cifs" || t == "smb3" || t == "smbfs" || t == "fuse.sshfs" ||
             t == "9p" || t == "afs")
        f.kind = dkRemote;
    else if (t == "iso9660" || t == "udf")
        f.kind = dkCdRom;
    else if (m.major != 0 && SysRemovable(m.major, m.minor))
        f.kind = dkRemovable;
    else
        f.kind = dkFixed;
    if (m.source.rfind("/dev/", 0) == 0) {
        f.label = LinkTargetDeviceName("/dev/disk/by-label", m.source, nullptr);
        std::string uuid = LinkTargetDeviceName("/dev/disk/by-uuid", m.source, nullptr);
        std::string hex;
        for (char c : uuid)
            if (isxdigit(static_cast<unsigned char>(c))) hex += c;
        if (!hex.empty()) f.serial = static_cast<uint32_t>(strtoul(hex.substr(0, 8).c_str(), nullptr, 16));
    }
    struct statvfs sv;
    if (statvfs(abs.c_str(), &sv) == 0) {
        f.totalBytes = static_cast<uint64_t>(sv.f_blocks) * sv.f_frsize;
        f.freeBytes = static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize;
        f.maxComponentLength = static_cast<uint32_t>(sv.f_namemax);
        if (f.serial == 0) f.serial = static_cast<uint32_t>(sv.f_fsid);
    }
    f.ready = true;
    return f;
}

bool SetDriveLabel(const std::string& root, const std::string& label) {
    std::string file = root + "/" + kDriveFileName;
    if (!FileExists(file)) return false;
    auto kv = ReadKeyValues(file);
    kv["label"] = label;
    std::ofstream o(file, std::ios::trunc);
    for (auto& [k, v] : kv)
        o << k << "=" << v << "\n";
    return static_cast<bool>(o);
}

bool MakeStandInDrive(const std::string& folder, int kind, const std::string& label, uint32_t serial,
                      uint64_t capacity) {
    if (!ForceDirectories(folder)) return false;
    std::ofstream o(folder + "/" + kDriveFileName, std::ios::trunc);
    char ser[16];
    snprintf(ser, sizeof ser, "%08X", serial);
    o << "type=" << KindName(kind) << "\nlabel=" << label << "\nserial=" << ser << "\n";
    if (capacity) o << "capacity=" << capacity << "\n";
    return static_cast<bool>(o);
}

}  // namespace varnok::platform
