#include "app/archive_file_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "app/archive_model.h"
#include "app/paths.h"
#include "archive/core/printable.h"
#include "archive/core/utils.h"
#include "platform/file.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::app {

namespace {

// Copies a file into dest through a temporary file beside it; the copy keeps the mode and time.
bool CopyFileAtomically(const std::string& from, const std::string& dest, std::string& error) {
    platform::File in;
    if (!in.Open(from, platform::File::Mode::Read)) {
        error = from + ": " + platform::LastErrorText();
        return false;
    }
    platform::File out;
    const std::string tmp =
        platform::CreateTempFile(WithoutSlash(ParentFolder(dest)), "." + FileNameOf(dest) + ".", ".tmp", &out);
    if (tmp.empty()) {
        error = dest + ": " + platform::LastErrorText();
        return false;
    }
    std::vector<uint8_t> buf(1 << 16);
    uint64_t pos = 0;
    bool ok = true;
    while (true) {
        const size_t n = in.ReadAt(pos, buf.data(), buf.size());
        if (n == 0) break;
        if (!out.Write(buf.data(), n)) {
            ok = false;
            break;
        }
        pos += n;
    }
    struct stat st;
    if (ok && stat(from.c_str(), &st) == 0) fchmod(out.Fd(), st.st_mode & 07777);
    ok = ok && pos == in.Size() && out.Sync() && out.Close();
    if (ok) platform::SetFileTime(tmp, platform::FileMTime(from));
    if (!ok || rename(tmp.c_str(), dest.c_str()) != 0) {
        error = dest + ": " + platform::LastErrorText();
        out.Close();
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::string Unquoted(std::string v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return v;
}

}  // namespace

bool ArchiveNameAcceptable(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("\"*/:<>?\\|") == std::string::npos;
}

std::string DesktopFolder() {
    std::ifstream in(ConfigHome() + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("XDG_DESKTOP_DIR=", 0) != 0) continue;
        std::string v = Unquoted(line.substr(16));
        if (v.rfind("$HOME", 0) == 0) v = HomeDir() + v.substr(5);
        if (!v.empty() && v.front() == '/') return WithoutSlash(v);
    }
    return HomeDir() + "/Desktop";
}

std::string LinkDesktopEntry(const std::string& name, const std::string& target) {
    // Values hold no line breaks; the URL escapes what a URL cannot hold.
    auto oneLine = [](std::string s) {
        for (char& c : s)
            if (c == '\n' || c == '\r') c = ' ';
        return s;
    };
    std::string url = "file://";
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : target) {
        if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~')
            url += static_cast<char>(c);
        else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return "[Desktop Entry]\nVersion=1.0\nType=Link\nName=" + oneLine(name) + "\nComment=" + oneLine(name) +
           "\nIcon=package-x-generic\nURL=" + url + "\n";
}

bool ArchiveFileCommands::Transfer(const std::string& folderIn, bool move) {
    if (!model_.IsOpen() || model_.Busy()) return false;
    const std::string from = model_.ArchivePath();
    const std::string folder = AbsoluteFolder(folderIn);
    if (!platform::DirectoryExists(folder)) {
        model_.View().Message("Error", folder + " is not a folder.");
        return false;
    }
    const std::string dest = WithSlash(folder) + model_.ArchiveFileName();
    struct stat a, b;
    if (stat(from.c_str(), &a) == 0 && stat(dest.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
        model_.View().Message("Error", dest + " is the archive itself.");
        return false;
    }
    if (platform::PathExists(dest)) {
        if (platform::DirectoryExists(dest)) {
            model_.View().Message("Error", dest + " is a folder.");
            return false;
        }
        if (!model_.View().Ask("Question", dest + " already exists. Do you want to replace it?")) return false;
    }
    model_.View().SetWaitCursor(true);
    std::string error;
    bool ok;
    if (move) {
        model_.Close();
        ok = rename(from.c_str(), dest.c_str()) == 0;
        if (!ok && errno == EXDEV) {
            ok = CopyFileAtomically(from, dest, error);
            if (ok && unlink(from.c_str()) != 0)
                model_.View().Log(from + ": copied, but the original could not be removed: " +
                                  platform::LastErrorText());
        } else if (!ok) {
            error = dest + ": " + platform::LastErrorText();
        }
        model_.Open(ok ? dest : from);
        if (ok) FollowMovedArchive(from, dest);
    } else {
        ok = CopyFileAtomically(from, dest, error);
    }
    model_.View().SetWaitCursor(false);
    if (!ok) {
        model_.View().Message("Error", VisibleMarks(error));
        return false;
    }
    model_.View().Log(VisibleMarks(from) + (move ? " moved to " : " copied to ") + VisibleMarks(dest));
    return true;
}

bool ArchiveFileCommands::CopyTo(const std::string& folder) {
    return Transfer(folder, false);
}

bool ArchiveFileCommands::MoveTo(const std::string& folder) {
    return Transfer(folder, true);
}

void ArchiveFileCommands::FollowMovedArchive(const std::string& from, const std::string& to) {
    Settings& s = model_.Config();
    bool changed = false;
    for (auto& slot : s.OpenHistory.Slots())
        if (!slot.empty() && slot != to && LowerAscii(slot) == LowerAscii(from)) {
            slot = to;
            changed = true;
        }
    // The new path may now be in two slots: the one pushed by opening it stays.
    if (changed) {
        auto& slots = s.OpenHistory.Slots();
        bool seen = false;
        for (auto& slot : slots) {
            if (slot != to) continue;
            if (seen) slot.clear();
            seen = true;
        }
        if (IniFile* ini = model_.SettingsFile()) {
            s.SaveHistory(*ini);
            ini->Flush();
        }
        model_.View().HistoryChanged();
    }
}

bool ArchiveFileCommands::Rename(const std::string& newName) {
    if (!model_.IsOpen() || model_.Busy() || !ArchiveNameAcceptable(newName)) return false;
    const std::string from = model_.ArchivePath();
    const std::string to = model_.ArchiveFolder() + newName;
    if (to == from) return true;
    // Never replace another file by renaming onto it.
    if (platform::PathExists(to)) {
        model_.View().Message("Error", "Error renaming archive !\n\n" + VisibleMarks(to) + " already exists.");
        return false;
    }
    model_.Close();
    const bool ok = rename(from.c_str(), to.c_str()) == 0;
    const std::string reason = ok ? std::string() : platform::LastErrorText();
    model_.Open(ok ? to : from);
    if (!ok) {
        model_.View().Message("Error", "Error renaming archive !\n\n" + VisibleMarks(to) + ": " + reason);
        return false;
    }
    FollowMovedArchive(from, to);
    return true;
}

bool ArchiveFileCommands::Delete() {
    if (!model_.IsOpen() || model_.Busy()) return false;
    const std::string path = model_.ArchivePath();
    if (!model_.View().Ask("Confirm", "Do you want to move " + VisibleMarks(model_.ArchiveFileName()) +
                                          " to the trash?"))
        return false;
    if (!platform::MoveToTrash(path)) {
        model_.View().Message("Error", VisibleMarks(path) + " could not be moved to the trash: " +
                                           platform::LastErrorText());
        return false;
    }
    model_.Close();
    model_.View().Log(VisibleMarks(path) + " moved to the trash");
    return true;
}

std::string ArchiveFileCommands::CreateShortcut() {
    if (!model_.IsOpen()) return {};
    const std::string desktop = DesktopFolder();
    const std::string path = model_.ArchivePath();
    std::string base = WithoutExtension(model_.ArchiveFileName());
    if (base.empty() || base.front() == '.') base = model_.ArchiveFileName();
    const std::string link = desktop + "/" + base + ".desktop";
    if (!platform::ForceDirectories(desktop)) {
        model_.View().Message("Error", desktop + ": " + platform::LastErrorText());
        return {};
    }
    if (platform::PathExists(link) &&
        !model_.View().Ask("Question", link + " already exists. Do you want to replace it?"))
        return {};
    platform::File out;
    const std::string tmp = platform::CreateTempFile(desktop, "." + base + ".", ".tmp", &out);
    const std::string text = LinkDesktopEntry(model_.ArchiveFileName(), path);
    bool ok = !tmp.empty() && out.Write(text.data(), text.size());
    // Desktops trust a launcher on the desktop only when it may be executed.
    ok = ok && fchmod(out.Fd(), 0755) == 0 && out.Close() && rename(tmp.c_str(), link.c_str()) == 0;
    if (!ok) {
        const std::string reason = platform::LastErrorText();
        out.Close();
        if (!tmp.empty()) unlink(tmp.c_str());
        model_.View().Message("Error", link + ": " + reason);
        return {};
    }
    model_.View().Message("Information", "A shortcut has been created on the Desktop pointing to this archive.");
    return link;
}

}  // namespace varnok::app
