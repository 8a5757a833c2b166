// Checkout: extract everything into the chosen folder, then the menu folder with its launchers. The files of the
// menu are written under private names in their own folders and renamed into place, so a reader never sees half
// a file; a file of ours is recognised by the marker it carries, anything else at our name is left alone.
#include "app/checkout_command.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "app/archive_model.h"
#include "app/desktop_entry.h"
#include "app/extract.h"
#include "app/paths.h"
#include "archive/core/utils.h"
#include "platform/file.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::app {

namespace {

const char* const kPrefix = "varnok-checkout-";
const char* const kMarkerKey = "X-Varnok-Checkout";

bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether the file at path may be replaced by us: there is none, or it is a regular file carrying our marker.
bool MayReplace(const std::string& path, const std::string& marker) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) return true;
    if (!S_ISREG(st.st_mode)) return false;
    return ReadText(path).find(marker) != std::string::npos;
}

// The real path of an existing path, or empty.
std::string RealPath(const std::string& path) {
    char* r = realpath(path.c_str(), nullptr);
    if (!r) return {};
    std::string s(r);
    free(r);
    return s;
}

// The launcher name of a row: its name up to the first ".".
std::string ShortName(const std::string& name) {
    return name.substr(0, name.find('.'));
}

}  // namespace

std::string CheckoutFolderPicked(const std::string& field, const std::string& picked) {
    const std::string last = FileNameOf(WithoutSlash(field));
    if (last.empty() || last == "." || last == "..") return WithoutSlash(picked);
    return WithSlash(picked) + last;
}

std::string CheckoutNamePart(const std::string& text) {
    std::string out;
    bool changed = false;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '_';
            changed = true;
        }
    }
    if (out.empty()) {
        out = "entry";
        changed = true;
    }
    if (changed) {
        uint32_t h = 2166136261u;  // FNV-1a of the original text
        for (unsigned char c : text)
            h = (h ^ c) * 16777619u;
        char buf[16];
        snprintf(buf, sizeof buf, "-%08x", h);
        out += buf;
    }
    return out;
}

std::string DesktopValue(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c < 0x20 || c == 0x7f)
            out += ' ';
        else
            out += static_cast<char>(c);
    }
    // Spaces after "=" are not part of the value unless escaped.
    if (!out.empty() && out.front() == ' ') out = "\\s" + out.substr(1);
    return out;
}

std::string FileUrl(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

bool CheckoutCounts(const std::string& name, bool executable) {
    static const std::set<std::string> kinds = {".exe", ".com", ".hlp", ".txt", ".doc"};
    return executable || kinds.count(LowerAscii(ExtensionOf(name))) != 0;
}

std::string CheckoutCommand::MenuFolder() {
    return ConfigHome() + "/menus/applications-merged";
}

std::string CheckoutCommand::LauncherFolder() {
    return DataHome() + "/applications";
}

CheckoutRequest CheckoutCommand::Defaults() const {
    CheckoutRequest r;
    std::string base = WithoutExtension(model_.ArchiveFileName());
    if (base.empty()) base = model_.ArchiveFileName();
    r.folder = DataHome() + "/varnok/checkout/" + base;
    r.group = base;
    return r;
}

bool CheckoutCommand::WriteLauncher(const std::string& path, const std::string& text) {
    if (!MayReplace(path, std::string(kMarkerKey) + "=")) {
        Problem(path + " belongs to another program and was left as it was.");
        return false;
    }
    if (!platform::WriteFileAtomically(path, text)) {
        Problem(path + ": " + platform::LastErrorText());
        return false;
    }
    return true;
}

bool CheckoutCommand::WriteMenu(const std::string& gid, const std::string& groupName,
                                const std::vector<std::string>& ids) {
    const std::string folder = MenuFolder();
    const std::string menuName = kPrefix + gid;
    directoryFile_ = folder + "/" + menuName + ".directory";
    menuFile_ = folder + "/" + menuName + ".menu";
    const std::string directory = "[Desktop Entry]\nVersion=1.0\nType=Directory\nName=" + DesktopValue(groupName) +
                                  "\nIcon=folder\n" + kMarkerKey + "=" + gid + "\n";
    if (!WriteLauncher(directoryFile_, directory)) {
        directoryFile_.clear();
        menuFile_.clear();
        return false;
    }
    std::string menu =
        "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/menu-spec/menu-1.0.dtd\">\n"
        "<Menu>\n"
        "  <Name>Applications</Name>\n"
        "  <Menu>\n"
        "    <Name>" + menuName + "</Name>\n"
        "    <DirectoryDir>" + XmlEscape(folder) + "</DirectoryDir>\n"
        "    <Directory>" + menuName + ".directory</Directory>\n";
    if (!ids.empty()) {
        menu += "    <Include>\n";
        for (const std::string& id : ids)
            menu += "      <Filename>" + id + "</Filename>\n";
        menu += "    </Include>\n";
    }
    menu += "  </Menu>\n</Menu>\n";
    if (!MayReplace(menuFile_, "<Name>" + menuName + "</Name>")) {
        Problem(menuFile_ + " belongs to another program and was left as it was.");
        menuFile_.clear();
        return false;
    }
    if (!platform::WriteFileAtomically(menuFile_, menu)) {
        Problem(menuFile_ + ": " + platform::LastErrorText());
        menuFile_.clear();
        return false;
    }
    return true;
}

CheckoutStatus CheckoutCommand::Run(const CheckoutRequest& r) {
    if (!model_.IsOpen() || running_ || model_.Busy()) return CheckoutStatus::NotStarted;
    launchers_.clear();
    problems_.clear();
    menuFile_.clear();
    directoryFile_.clear();
    folder_.clear();
    ArchiveView& view = model_.View();

    // 1. The folder, with all its parents.
    if (r.folder.empty()) {
        view.Message("Error", "Enter the folder the archive is extracted to.");
        return CheckoutStatus::FolderFailed;
    }
    const std::string folder = AbsoluteFolder(r.folder);
    if (!platform::ForceDirectories(folder) || !platform::DirectoryExists(folder)) {
        view.Message("Error", folder + ": the folder cannot be made: " + platform::LastErrorText());
        return CheckoutStatus::FolderFailed;
    }
    folder_ = folder;
    running_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{running_};

    // 2. Everything, with folder names, replacing what is there.
    std::vector<int> all(static_cast<size_t>(model_.RowCount()));
    for (int i = 0; i < model_.RowCount(); ++i)
        all[static_cast<size_t>(i)] = i;
    ExtractRequest req;
    req.rows = all;
    req.selectedOnly = true;
    req.useFolderNames = true;
    req.overwrite = true;
    req.destination = WithSlash(folder);
    model_.Extractor().Run(req);
    if (model_.Extractor().LastRunCancelled()) return CheckoutStatus::Cancelled;

    // 3. The menu folder (its launchers follow).
    const std::string groupName = r.group.empty() ? WithoutExtension(model_.ArchiveFileName()) : r.group;
    const std::string gid = CheckoutNamePart(groupName);
    const std::string menuFolder = MenuFolder(), launcherFolder = LauncherFolder();
    if (!platform::ForceDirectories(menuFolder) || !platform::ForceDirectories(launcherFolder)) {
        view.Message("Error", "The menu folder cannot be made: " + platform::LastErrorText());
        return CheckoutStatus::Done;
    }
    const bool menuMade = WriteMenu(gid, groupName, {});

    // 4. The number of launchers.
    std::string count = r.maxIcons;
    bool number = !count.empty();
    size_t i0 = (number && (count[0] == '-' || count[0] == '+')) ? 1 : 0;
    number = number && count.size() > i0 && count.size() - i0 <= 9;
    for (size_t i = i0; number && i < count.size(); ++i)
        number = std::isdigit(static_cast<unsigned char>(count[i])) != 0;
    if (!number) {
        view.Message("Error", "You entered a wrong char!");
        return CheckoutStatus::WrongCount;
    }
    const long max = std::stol(count);

    // 5. The launchers, in list order, while fewer than the maximum have been tried.
    const std::string realFolder = RealPath(folder);
    std::vector<std::string> ids;
    long attempted = 0;
    for (int i = 0; i < model_.RowCount() && attempted < max; ++i) {
        const EntryRow& row = model_.Row(i);
        if (row.directory) continue;
        const std::string target = WithSlash(folder) + row.StoredName();
        const std::string real = RealPath(target);
        struct stat st{};
        const bool present = !real.empty() && !realFolder.empty() &&
                             real.compare(0, realFolder.size() + 1, realFolder + "/") == 0 &&
                             stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        const bool executable = present && (st.st_mode & 0111) != 0;
        if (r.appsAndDocsOnly && !CheckoutCounts(row.name, executable)) continue;
        ++attempted;
        if (!present) continue;  // not extracted, or not a file of the folder
        if (HasControl(real)) {
            Problem(row.StoredName() + ": a name with a line break or control character gets no launcher.");
            continue;
        }
        std::string shortName = ShortName(row.name);
        if (shortName.empty()) shortName = row.name;
        const std::string id = kPrefix + gid + "-" + CheckoutNamePart(shortName) + ".desktop";
        std::string text = "[Desktop Entry]\nVersion=1.0\n";
        if (executable) {
            text += "Type=Application\nName=" + DesktopValue(shortName) + "\nComment=" + DesktopValue(row.name) +
                    "\nExec=" + DesktopExecArgument(real) + "\nPath=" + DesktopValue(WithoutSlash(ParentFolder(real))) +
                    "\nTerminal=false\nIcon=application-x-executable\n";
        } else {
            text += "Type=Link\nName=" + DesktopValue(shortName) + "\nComment=" + DesktopValue(row.name) +
                    "\nURL=" + FileUrl(real) + "\nIcon=text-x-generic\n";
        }
        text += std::string(kMarkerKey) + "=" + gid + "\n";
        const std::string path = launcherFolder + "/" + id;
        if (!WriteLauncher(path, text)) continue;
        bool known = false;
        for (const std::string& d : ids)
            known = known || d == id;
        if (!known) {
            ids.push_back(id);
            launchers_.push_back(path);
        }
    }
    if (menuMade) WriteMenu(gid, groupName, ids);
    if (!problems_.empty()) {
        std::string text = "Some launchers of the checkout were not made:";
        for (const std::string& p : problems_)
            text += "\n" + p;
        view.Message("Error", text);
    }
    return CheckoutStatus::Done;
}

}  // namespace varnok::app
