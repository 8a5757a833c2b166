#include "app/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::app {

namespace fs = std::filesystem;

namespace {

std::string AbsoluteEnv(const char* name) {
    const char* v = getenv(name);
    if (v && *v == '/') return WithoutSlash(v);
    return {};
}

}  // namespace

std::string HomeDir() {
    std::string h = AbsoluteEnv("HOME");
    if (!h.empty()) return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
        return WithoutSlash(pw->pw_dir);
    return "/tmp";
}

std::string ConfigHome() {
    std::string c = AbsoluteEnv("XDG_CONFIG_HOME");
    return c.empty() ? HomeDir() + "/.config" : c;
}

std::string DataHome() {
    std::string d = AbsoluteEnv("XDG_DATA_HOME");
    return d.empty() ? HomeDir() + "/.local/share" : d;
}

std::string AppConfigDir() {
    return ConfigHome() + "/varnok";
}

std::string ProgramPath() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string ProgramDir() {
    std::string p = ProgramPath();
    if (p.empty()) return fs::current_path().string();
    return WithoutSlash(ParentFolder(p));
}

std::vector<std::string> ProgramFolders() {
    std::string dir = ProgramDir();
    std::vector<std::string> out{dir};
    for (const char* rel : {"/../lib/varnok", "/../lib", "/../share/varnok"}) {
        std::string f = AbsoluteFolder(dir + rel);
        if (platform::DirectoryExists(f)) out.push_back(f);
    }
    return out;
}

std::string FindInProgramFolders(const std::vector<std::string>& names) {
    for (const std::string& dir : ProgramFolders()) {
        bool all = true;
        for (const std::string& n : names)
            all = all && platform::FileExists(dir + "/" + n);
        if (all) return dir;
    }
    return {};
}

std::string DefaultRootFolder() {
    return WithSlash(HomeDir());
}

std::string DefaultTempFolder() {
    return WithSlash(platform::SystemTempDir());
}

std::string NativeFolder(const std::string& stored) {
    std::string s = stored;
    for (char& c : s)
        if (c == '\\') c = '/';
    // "C:", "C:/..." : a drive of the classic system. Its root stands for the home folder.
    if (s.size() >= 2 && s[1] == ':' && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'))) {
        std::string rest = s.substr(2);
        while (!rest.empty() && rest.front() == '/')
            rest.erase(0, 1);
        if (rest.empty()) return DefaultRootFolder();
        if (rest == "Temp" || rest == "Temp/" || rest == "TEMP" || rest == "TEMP/")
            return DefaultTempFolder();
        return DefaultRootFolder() + rest;
    }
    return s;
}

std::string WithSlash(const std::string& path) {
    if (path.empty() || path.back() == '/') return path;
    return path + "/";
}

std::string WithoutSlash(const std::string& path) {
    if (path.size() > 1 && path.back() == '/') return path.substr(0, path.size() - 1);
    return path;
}

std::string ParentFolder(const std::string& path) {
    size_t p = path.rfind('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string FileNameOf(const std::string& path) {
    size_t p = path.rfind('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtensionOf(const std::string& path) {
    std::string name = FileNameOf(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string WithoutExtension(const std::string& path) {
    std::string ext = ExtensionOf(path);
    return path.substr(0, path.size() - ext.size());
}

std::string AbsoluteFolder(const std::string& path) {
    std::error_code ec;
    fs::path a = fs::absolute(path.empty() ? "." : path, ec);
    if (ec) return WithoutSlash(path);
    return WithoutSlash(a.lexically_normal().string());
}

}  // namespace varnok::app
