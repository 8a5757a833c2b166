#include "platform/tempfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/fileattr.h"

namespace varnok::platform {

std::string SystemTempDir() {
    const char* t = getenv("TMPDIR");
    if (t && *t && DirectoryExists(t)) {
        std::string s = t;
        while (s.size() > 1 && s.back() == '/')
            s.pop_back();
        return s;
    }
    return "/tmp";
}

std::string CreateTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                           File* file) {
    std::string d = dir.empty() ? SystemTempDir() : dir;
    if (d.size() > 1 && d.back() == '/') d.pop_back();
    std::string tmpl = d + "/" + prefix + "XXXXXX" + suffix;
    int fd = mkostemps(tmpl.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) return {};
    if (file)
        file->Adopt(fd, tmpl);
    else
        ::close(fd);
    return tmpl;
}

std::string CreateTempDir(const std::string& dir, const std::string& prefix) {
    std::string d = dir.empty() ? SystemTempDir() : dir;
    if (d.size() > 1 && d.back() == '/') d.pop_back();
    std::string tmpl = d + "/" + prefix + "XXXXXX";
    if (!mkdtemp(tmpl.data())) return {};
    return tmpl;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, unsigned mode, std::string* why) {
    auto fail = [why](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/")
                                                                                      : path.substr(0, slash);
    if (!DirectoryExists(dir) && !ForceDirectories(dir))
        return fail("cannot create the folder " + dir + ": " + std::strerror(errno));
    File f;
    const std::string tmp = CreateTempFile(dir, ".varnok-", ".tmp", &f);
    if (tmp.empty()) return fail(std::strerror(errno));
    bool ok = f.Write(text.data(), text.size());
    ok = f.Close() && ok;
    ok = ok && ::chmod(tmp.c_str(), static_cast<mode_t>(mode)) == 0;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int e = errno;
        ::unlink(tmp.c_str());
        return fail(std::strerror(e));
    }
    return true;
}

bool RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);  // does not follow symbolic links
    return !PathExists(path);
}

std::string HomeTrashDir() {
    const char* x = getenv("XDG_DATA_HOME");
    if (x && *x == '/') return std::string(x) + "/Trash";
    const char* h = getenv("HOME");
    return std::string(h && *h ? h : "/tmp") + "/.local/share/Trash";
}

namespace {

std::string PercentEncode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : s) {
        if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~')
            r += static_cast<char>(c);
        else {
            r += '%';
            r += hex[c >> 4];
            r += hex[c & 15];
        }
    }
    return r;
}

std::string AbsolutePath(const std::string& p) {
    std::error_code ec;
    auto a = std::filesystem::absolute(p, ec);
    return ec ? p : a.lexically_normal().string();
}

bool TrashInto(const std::string& trash, const std::string& abs) {
    if (!ForceDirectories(trash + "/files") || !ForceDirectories(trash + "/info")) return false;
    chmod(trash.c_str(), 0700);
    std::string base = abs.substr(abs.find_last_of('/') + 1);
    for (int n = 1; n < 10000; ++n) {
        std::string name = n == 1 ? base : base + "." + std::to_string(n);
        std::string info = trash + "/info/" + name + ".trashinfo";
        int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        time_t now = time(nullptr);
        struct tm tm {};
        localtime_r(&now, &tm);
        char date[32];
        strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
        std::string text = "[Trash Info]\nPath=" + PercentEncode(abs) + "\nDeletionDate=" + date + "\n";
        bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(fd);
        if (ok && ::rename(abs.c_str(), (trash + "/files/" + name).c_str()) == 0) return true;
        ::unlink(info.c_str());
        return false;
    }
    return false;
}

}  // namespace

bool MoveToTrash(const std::string& path) {
    if (!PathExists(path)) return false;
    std::string abs = AbsolutePath(path);
    std::string home = HomeTrashDir();
    ForceDirectories(home);
    struct stat a, b;
    if (lstat(abs.c_str(), &a) == 0 && stat(home.c_str(), &b) == 0 && a.st_dev == b.st_dev)
        return TrashInto(home, abs);
    // Another file system: its top folder's per-user trash.
    std::string top = abs;
    while (true) {
        auto s = top.find_last_of('/');
        std::string up = s == 0 ? "/" : top.substr(0, s);
        struct stat u;
        if (up == top || stat(up.c_str(), &u) != 0 || u.st_dev != a.st_dev) break;
        top = up;
        if (top == "/") break;
    }
    std::string root = top;
    struct stat r;
    if (stat(root.c_str(), &r) == 0 && !S_ISDIR(r.st_mode)) root = root.substr(0, root.find_last_of('/'));
    return TrashInto(root + "/.Trash-" + std::to_string(getuid()), abs);
}

}  // namespace varnok::platform
