#include "app/command_line.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/paths.h"
#include "app/settings.h"
#include "archive/core/printable.h"
#include "platform/fileattr.h"
#include "archive/core/utils.h"

namespace varnok::app {

namespace {

bool HasLetter(const std::string& options, char lower) {
    const char upper = static_cast<char>(lower - 32);
    // The letters follow the leading "-".
    return options.find(lower, 1) != std::string::npos || options.find(upper, 1) != std::string::npos;
}

// A name as given, made absolute against the starting folder.
std::string Resolve(const std::string& name, const CommandLineContext& ctx) {
    if (name.empty() || name.front() == '/') return name;
    std::filesystem::path p = std::filesystem::path(ctx.currentDir.empty() ? "." : ctx.currentDir) / name;
    std::string s = p.lexically_normal().string();
    return s.size() > 1 && s.back() == '/' ? s.substr(0, s.size() - 1) : s;
}

// One path a line; blank lines are passed over, a DOS line end is taken off. False when it cannot be read.
bool ReadList(const std::string& path, const CommandLineContext& ctx, std::vector<std::string>& out) {
    if (!platform::FileExists(path)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        out.push_back(Resolve(line, ctx));
    }
    return !in.bad();
}

struct SwitchName {
    const char* name;
    SwitchMode mode;
};
constexpr SwitchName kSlashSwitches[] = {
    {"/vnset", SwitchMode::ExtractDialog}, {"/vnseh", SwitchMode::ExtractHere},
    {"/vnsef", SwitchMode::ExtractToFolder}, {"/vnsma", SwitchMode::Mail},
    {"/vnsce", SwitchMode::MakeExe},       {"/vnsta", SwitchMode::Test},
    {"/vnsaz", SwitchMode::AddAsType},     {"/vnsac", SwitchMode::AddWithOptions},
};

SwitchMode SlashSwitchOf(const std::string& arg) {
    const std::string a = LowerAscii(arg);
    for (const auto& s : kSlashSwitches)
        if (a == s.name) return s.mode;
    return SwitchMode::None;
}

std::string EnvFolder(const char* name) {
    const char* v = getenv(name);
    return v && *v == '/' ? WithoutSlash(v) : std::string();
}

}  // namespace

bool IsBatchSwitch(const std::string& firstArgument) {
    const std::string a = LowerAscii(firstArgument);
    return a == "-e" || a == "-a" || SlashSwitchOf(a) != SwitchMode::None;
}

std::string ShellListFolder() {
    std::string base = EnvFolder("XDG_RUNTIME_DIR");
    if (base.empty()) base = EnvFolder("XDG_CACHE_HOME");
    if (base.empty()) base = HomeDir() + "/.cache";
    return base + "/varnok";
}

std::optional<ArchiveKind> KindOfSwitchType(const std::string& type) {
    const std::string t = LowerAscii(type);
    if (t == "zip") return ArchiveKind::Zip;
    if (t == "bh") return ArchiveKind::Bh;
    if (t == "cab") return ArchiveKind::Cab;
    if (t == "lha") return ArchiveKind::Lha;
    if (t == "jar") return ArchiveKind::Jar;
    if (t == "tar") return ArchiveKind::Tar;
    return std::nullopt;
}

CommandLineRequest ParseCommandLine(const std::vector<std::string>& args, const CommandLineContext& ctx) {
    CommandLineRequest r;
    if (args.empty() || args[0].empty()) return r;
    const std::string first = LowerAscii(args[0]);
    auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::string(); };

    if (first == "-e" || first == "-a") {
        size_t next = 1;
        // Options only when the argument starts with "-": "my-archive.zip" is an archive.
        if (!arg(1).empty() && arg(1).front() == '-') {
            r.options = arg(1);
            next = 2;
        }
        r.archive = Resolve(arg(next), ctx);
        if (first == "-e") {
            r.mode = SwitchMode::ExtractAll;
            r.folderNames = HasLetter(r.options, 'r');
            r.overwrite = HasLetter(r.options, 'o');
            r.skipOlder = HasLetter(r.options, 'u');
            r.destination = Resolve(arg(next + 1), ctx);
            return r;
        }
        r.mode = SwitchMode::AddToZip;
        r.separateFolders = HasLetter(r.options, 'i');
        r.recurse = HasLetter(r.options, 'r') && !r.separateFolders;
        r.relativePaths = HasLetter(r.options, 'p');
        r.fullPaths = HasLetter(r.options, 'f');
        r.useListFile = HasLetter(r.options, 's');
        r.directoryEntries = HasLetter(r.options, 'y');
        if (!r.archive.empty()) r.archive = PathForKind(r.archive, ArchiveKind::Zip);
        size_t i = next + 1;
        if (r.useListFile && i < args.size()) {
            r.listFile = Resolve(args[i++], ctx);
            if (!ReadList(r.listFile, ctx, r.files)) {
                r.error = kListFileError;
                r.files.clear();
                return r;
            }
        }
        for (; i < args.size(); ++i)
            r.files.push_back(Resolve(args[i], ctx));
        return r;
    }

    const SwitchMode sw = SlashSwitchOf(first);
    if (sw == SwitchMode::None) {
        // Anything else that is not an existing file (an unknown switch, a missing name) does nothing.
        if (first.front() == '-') return r;
        const std::string path = Resolve(args[0], ctx);
        if (platform::FileExists(path)) {
            r.mode = SwitchMode::OpenFile;
            r.archive = path;
        }
        return r;
    }
    r.mode = sw;
    size_t from = 1;
    if (LowerAscii(arg(1)) == "-nomf") {
        r.noMainForm = true;
        from = 2;
    }
    size_t to = args.size();
    if (sw == SwitchMode::AddAsType) {
        // The type is the last argument.
        if (to > from) r.type = LowerAscii(args[--to]);
    }
    std::vector<std::string> names(args.begin() + static_cast<std::ptrdiff_t>(std::min(from, to)),
                                   args.begin() + static_cast<std::ptrdiff_t>(to));
    if (names.size() == 1 && names[0] == kShellListName) {
        r.listFile = WithSlash(ctx.listFolder) + kShellListName;
        r.deleteListFile = sw == SwitchMode::AddAsType;
        if (!ReadList(r.listFile, ctx, r.files)) {
            r.error = kListFileError;
            r.files.clear();
        }
    } else {
        for (const auto& n : names)
            r.files.push_back(Resolve(n, ctx));
    }
    if (sw == SwitchMode::AddAsType && !r.files.empty()) {
        auto kind = KindOfSwitchType(r.type);
        if (kind) r.archive = WithoutExtension(r.files.front()) + "." + r.type;
    }
    return r;
}

AddRequest AddRequestOf(const CommandLineRequest& r) {
    AddRequest a;
    a.action = 0;
    a.spanMode = 3;
    a.password.clear();
    a.dos83 = false;
    a.hiddenFiles = true;
    if (r.mode == SwitchMode::AddAsType) {
        a.emptyFolders = true;
        a.relativePath = true;
        a.fullPath = false;
        a.includeSubfolders = true;
        a.recurse = false;
        return a;
    }
    a.emptyFolders = r.directoryEntries;
    a.recurse = r.recurse;
    a.includeSubfolders = r.separateFolders;
    a.fullPath = r.fullPaths;
    a.relativePath = r.relativePaths && !r.fullPaths;
    return a;
}

int RunCommandLine(const CommandLineRequest& r, SwitchTarget& t, const Settings& s) {
    auto end = [&](bool ok) {
        const int status = ok ? 0 : 1;
        if (r.Batch()) t.Quit(status);
        return status;
    };
    if (r.mode == SwitchMode::None) return 0;
    if (r.mode == SwitchMode::OpenFile) {
        t.OpenArchive(r.archive, true);
        return 0;
    }
    if (!r.error.empty()) {
        t.Message("Error", r.error);
        t.Report(VisibleMarks(r.listFile) + ": " + r.error);
        if (r.deleteListFile) unlink(r.listFile.c_str());
        return end(false);
    }
    auto openOrReport = [&](const std::string& path, bool rows) {
        if (!platform::FileExists(path)) {
            t.Report(VisibleMarks(path) + ": no such archive");
            return false;
        }
        if (!t.OpenArchive(path, rows)) {
            t.Report(VisibleMarks(path) + ": not an archive that can be read");
            return false;
        }
        return true;
    };
    auto needFiles = [&] {
        if (!r.files.empty()) return true;
        t.Report("No files were named.");
        return false;
    };

    switch (r.mode) {
        case SwitchMode::ExtractAll: {
            if (r.archive.empty() || !openOrReport(r.archive, false)) return end(false);
            std::string dest = r.destination.empty() ? ParentFolder(r.archive) : WithSlash(r.destination);
            if (!r.destination.empty() && !PrepareMultiExtractDestination(dest)) {
                t.Message("Error", kCantCreateDirectory);
                return end(false);
            }
            return end(t.ExtractAll(dest, r.folderNames, r.skipOlder, r.overwrite));
        }
        case SwitchMode::AddToZip:
            if (r.archive.empty()) {
                t.Report("No archive was named.");
                return end(false);
            }
            return end(t.AddToZip(r.archive, r.files, AddRequestOf(r)));
        case SwitchMode::ExtractDialog:
            if (!needFiles()) return end(false);
            if (r.files.size() > 1) return end(t.ShowMultiExtract(r.files));
            if (!openOrReport(r.files.front(), true)) return end(false);
            return end(t.ExtractWithDialog());
        case SwitchMode::ExtractHere:
        case SwitchMode::ExtractToFolder: {
            if (!needFiles()) return end(false);
            const bool named = r.mode == SwitchMode::ExtractToFolder;
            const std::string& first = r.files.front();
            if (r.files.size() > 1) {
                MultiExtractRequest m;
                m.mode = named ? meOwnDirectorySubdirs : meOwnDirectory;
                m.destination = named ? WithoutExtension(first) + "/" : ParentFolder(first);
                m.useFolderNames = true;
                m.skipOlder = true;
                m.overwrite = false;
                return end(t.MultiExtract(r.files, m));
            }
            if (!platform::FileExists(first)) {
                t.Report(VisibleMarks(first) + ": no such archive");
                return end(false);
            }
            const std::string dest = named ? WithoutExtension(first) + "/" : ParentFolder(first);
            if (named && !PrepareMultiExtractDestination(dest)) {
                t.Message("Error", kCantCreateDirectory);
                return end(false);
            }
            if (!openOrReport(first, false)) return end(false);
            return end(t.ExtractAll(dest, true, s.optUpdate, s.optOverwrite));
        }
        case SwitchMode::Mail:
            if (!needFiles()) return end(false);
            return end(t.MailFiles(r.files));
        case SwitchMode::MakeExe:
            if (!needFiles() || !openOrReport(r.files.front(), false)) return end(false);
            return end(t.MakeExe());
        case SwitchMode::Test:
            if (!needFiles()) return end(false);
            return end(t.ShowTestWindow(r.files));
        case SwitchMode::AddAsType: {
            bool ok = false;
            const auto kind = KindOfSwitchType(r.type);
            if (!kind)
                t.Report("\"" + VisibleMarks(r.type) + "\" is not a type of archive that can be made; nothing was made.");
            else if (needFiles())
                ok = t.CreateAndAdd(r.archive, *kind, r.files, AddRequestOf(r));
            if (r.deleteListFile) unlink(r.listFile.c_str());
            return end(ok);
        }
        case SwitchMode::AddWithOptions:
            if (!needFiles()) return end(false);
            return end(t.ShowAddWithOptions(r.files));
        case SwitchMode::None:
        case SwitchMode::OpenFile:
            break;
    }
    return 0;
}

}  // namespace varnok::app
