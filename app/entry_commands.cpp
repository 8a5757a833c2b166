#include "app/entry_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/archive_model.h"
#include "app/extract.h"
#include "app/paths.h"
#include "app/process.h"
#include "archive/core/arctype.h"
#include "archive/core/errors.h"
#include "archive/core/names.h"
#include "archive/core/printable.h"
#include "archive/core/unbase.h"
#include "archive/core/utils.h"
#include "archive/formats/zip/zip_writer.h"
#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::app {

namespace {

constexpr uint64_t kSfxPiece = 8192;  // the bridge's conversions report activity once per piece copied
constexpr size_t kMaxComment = 65535;

std::string Quoted(const std::string& s) {
    return "\u201c" + VisibleMarks(s) + "\u201d";
}

bool EndsWithAny(const std::string& lower, std::initializer_list<const char*> exts) {
    for (const char* e : exts) {
        const std::string x = e;
        if (lower.size() >= x.size() && lower.compare(lower.size() - x.size(), x.size(), x) == 0) return true;
    }
    return false;
}

// A name typed by the user as an entry name: relative, no "." or ".." components, no empty components.
bool SafeEntryName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.back() == '/') return false;
    if (name.find('\\') != std::string::npos || name.find('\0') != std::string::npos) return false;
    return SafeRelativeName(name) == name;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '/' || s.back() == ' ')) s.pop_back();
    while (!s.empty() && (s.front() == '/' || s.front() == ' ')) s.erase(0, 1);
    return s;
}

// The folder stored for a row and its last name, directories included ("docs/sub/" -> "docs/" and "sub").
void SplitRow(const EntryRow& r, std::string& folder, std::string& name) {
    if (!r.directory) {
        folder = r.folder;
        name = r.name;
        return;
    }
    std::string full = r.StoredName();
    while (!full.empty() && full.back() == '/') full.pop_back();
    const size_t slash = full.find_last_of('/');
    folder = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
    name = slash == std::string::npos ? full : full.substr(slash + 1);
}

}  // namespace

bool WildcardMatch(const std::string& name, const std::string& pattern) {
    const std::string n = LowerAscii(name), p = LowerAscii(pattern);
    // Iterative matching with one backtrack point for the last "*".
    size_t i = 0, j = 0, star = std::string::npos, mark = 0;
    while (i < n.size()) {
        if (j < p.size() && (p[j] == '?' || p[j] == n[i])) {
            ++i;
            ++j;
        } else if (j < p.size() && p[j] == '*') {
            star = j++;
            mark = i;
        } else if (star != std::string::npos) {
            j = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < p.size() && p[j] == '*') ++j;
    return j == p.size();
}

bool IsWindowsProgramName(const std::string& name) {
    return EndsWithAny(LowerAscii(name), {".exe", ".com", ".bat", ".cmd", ".msi", ".pif", ".scr"});
}

bool MayRunWhenOpened(const std::string& path) {
    const std::string lower = LowerAscii(FileNameOf(path));
    if (IsWindowsProgramName(lower) ||
        EndsWithAny(lower, {".desktop", ".sh", ".bash", ".csh", ".zsh", ".ksh", ".py", ".pl", ".rb", ".jar",
                            ".appimage", ".run", ".bin", ".command", ".x86_64", ".elf", ".ps1", ".vbs", ".js",
                            ".lnk", ".url"}))
        return true;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111)) return true;
    unsigned char head[4] = {};
    if (FILE* f = fopen(path.c_str(), "rb")) {
        const size_t n = fread(head, 1, sizeof head, f);
        fclose(f);
        if (n >= 2 && head[0] == '#' && head[1] == '!') return true;
        if (n >= 2 && head[0] == 'M' && head[1] == 'Z') return true;
        if (n >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') return true;
    }
    return false;
}

std::string SfxDefaultDirOf(const std::string& field, const std::string& tempFolder) {
    if (field.empty()) return WithSlash(tempFolder);
    if (field.front() == '/') return WithSlash(field);
    std::string f = field;
    while (f.size() > 2 && f.compare(0, 2, "./") == 0) f.erase(0, 2);
    return "./" + WithSlash(f);
}

uint64_t FindNumber(const std::string& field) {
    uint64_t v = 0;
    size_t i = 0;
    while (i < field.size() && field[i] == ' ') ++i;
    if (i == field.size()) return 0;
    for (; i < field.size(); ++i) {
        if (field[i] < '0' || field[i] > '9') return 0;
        const uint64_t d = static_cast<uint64_t>(field[i] - '0');
        if (v > (UINT64_MAX - d) / 10) return 0;
        v = v * 10 + d;
    }
    return v;
}

EntryCommands::EntryCommands(ArchiveModel& model) : model_(model) {
    spawn_ = [](const std::vector<std::string>& argv, const std::string& dir) { return SpawnDetached(argv, dir); };
    onPath_ = [](const std::string& name) { return ProgramOnPath(name); };
}

void EntryCommands::Cancel() {
    if (!running_) return;
    cancelled_ = true;
    if (cancel_) cancel_();
}

// ---------------------------------------------------------------------------------------------------------------
// Runs through the ZIP bridge

int EntryCommands::RunBridge(const std::string& header, uint64_t unitsTotal, uint64_t unitSize,
                             const std::function<int()>& op) {
    TZipBridge& b = model_.Bridge();
    ArchiveView& view = model_.View();
    const bool unattended = b.Unattended;
    auto oldProcess = b.ProcessMessages;
    uint64_t done = 0;
    b.Unattended = true;  // failures are shown here, once
    b.SetCancel(false);
    b.ProcessMessages = [&] {
        done += unitSize;
        const uint64_t pct = unitsTotal ? std::min<uint64_t>(100, done * 100 / unitsTotal) : 0;
        view.ProgressBars(static_cast<int>(pct), static_cast<int>(pct));
        view.ProcessEvents();
    };
    cancel_ = [&b] { b.SetCancel(true); };
    running_ = true;
    cancelled_ = false;
    model_.SetBusy(true);
    view.SetWaitCursor(true);
    view.ProgressOpen(header);
    view.ProgressBars(0, 0);
    int r = -9;
    try {
        r = op();
    } catch (const std::exception& e) {
        view.Log(VisibleMarks(e.what()));
        r = -9;
    }
    view.ProgressBars(100, 100);
    view.ProgressClose();
    view.SetWaitCursor(false);
    model_.SetBusy(false);
    running_ = false;
    cancel_ = nullptr;
    if (b.Cancel()) cancelled_ = true;
    b.SetCancel(false);
    b.ProcessMessages = oldProcess;
    b.Unattended = unattended;
    return r;
}

void EntryCommands::ShowBridgeFailure(const std::string& fallback) {
    if (cancelled_) {
        model_.View().SetStatusText(0, "Cancelled; " + model_.ArchiveFileName() + " is unchanged");
        return;
    }
    const std::string& last = model_.Bridge().LastMessage();
    model_.View().Message("Error", last.empty() ? fallback : VisibleMarks(last));
}

bool EntryCommands::ReplaceQuestion(const std::string& target) {
    if (!platform::PathExists(target)) return true;
    if (platform::DirectoryExists(target)) {
        model_.View().Message("Error", target + " is a folder; nothing was written.");
        return false;
    }
    return model_.View().Ask("Question", target + " already exists. Do you want to replace it?");
}

// ---------------------------------------------------------------------------------------------------------------
// Rename an entry

int EntryCommands::TargetRow() const {
    const int f = model_.FocusedRow();
    if (f >= 0 && model_.IsSelected(f)) return f;
    std::vector<int> sel = model_.SelectedRows();
    return sel.empty() ? -1 : sel.front();
}

int EntryCommands::RenameRow() const {
    if (!model_.IsOpen() || model_.Engine() != EngineKind::ZipBridge) return -1;
    return TargetRow();
}

std::string EntryCommands::RenameName(int row) const {
    if (row < 0 || row >= model_.RowCount()) return {};
    std::string folder, name;
    SplitRow(model_.Row(row), folder, name);
    return name;
}

std::string EntryCommands::RenamePath(int row) const {
    if (row < 0 || row >= model_.RowCount()) return {};
    std::string folder, name;
    SplitRow(model_.Row(row), folder, name);
    return WithoutSlash(folder);
}

bool EntryCommands::RenameEntry(int row, const std::string& newName, const std::string& newPath) {
    if (row < 0 || row >= model_.RowCount() || model_.Engine() != EngineKind::ZipBridge || running_) return false;
    const EntryRow& r = model_.Row(row);
    const std::string name = Trimmed(newName), path = Trimmed(newPath);
    const std::string stored = path.empty() ? name : path + "/" + name;
    if (name.empty() || !SafeEntryName(stored)) {
        model_.View().Message("Error", "The new name " + Quoted(stored) +
                                           " cannot be stored: a name must not be empty, absolute, or hold \".\" "
                                           "or \"..\" as a folder.");
        return false;
    }
    std::string oldFolder, oldName;
    SplitRow(r, oldFolder, oldName);
    const std::string oldStored = oldFolder + oldName;
    if (stored == oldStored) return true;
    // Another entry already has that name: the archive would hold two of it.
    for (int i = 0; i < model_.RowCount(); ++i) {
        std::string f, n;
        SplitRow(model_.Row(i), f, n);
        if (i != row && f + n == stored) {
            model_.View().Message("Error", model_.ArchiveFileName() + ": an entry named " + Quoted(stored) +
                                               " is already there; nothing was renamed.");
            return false;
        }
    }
    ZipRenameRec rec;
    rec.OldName = r.directory ? oldStored + "/" : oldStored;
    rec.NewName = r.directory ? stored + "/" : stored;
    const std::string archive = model_.ArchivePath();
    const int result = RunBridge("Renaming...", static_cast<uint64_t>(model_.Bridge().Count()) + 1, 1,
                                 [&] { return model_.Bridge().Rename({rec}, 0); });
    if (result != 0) {
        if (result == -10)
            model_.View().Message("Error", "A file must be renamed to a file name, not to a folder.");
        else
            ShowBridgeFailure(archive + ": the entry was not renamed.");
        return false;
    }
    model_.Resort();
    model_.View().SetStatusText(0, VisibleMarks(oldStored) + " renamed to " + VisibleMarks(stored));
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// The archive comment

std::string EntryCommands::Comment() const {
    if (!model_.IsOpen() || model_.Engine() != EngineKind::ZipBridge) return {};
    return model_.Bridge().ZipComment();
}

bool EntryCommands::SetComment(const std::string& text) {
    if (!model_.IsOpen() || model_.Engine() != EngineKind::ZipBridge || running_) return false;
    TZipBridge& b = model_.Bridge();
    const std::string raw = b.CommentBytes(text);
    if (raw.size() > kMaxComment) {
        model_.View().Message("Error", model_.ArchiveFileName() +
                                           ": a ZIP comment holds at most 65535 bytes; this one has " +
                                           std::to_string(raw.size()) + ". Nothing was written.");
        return false;
    }
    if (text == b.ZipComment()) return true;
    const std::string archive = model_.ArchivePath();
    TZip w;
    std::string failure;
    w.OnError = [&](TZipCommon&, const std::string& file, const std::string& msg, const std::string&, int code) {
        if (!failure.empty()) return;
        failure = (file.empty() ? archive : file) + ": " + ErrorText(code);
        if (!msg.empty() && msg != ErrorText(code)) failure += " (" + msg + ")";
    };
    ArchiveView& view = model_.View();
    const uint64_t total = static_cast<uint64_t>(b.Count()) + 1;
    uint64_t done = 0;
    w.ProcessMessages = [&] {
        ++done;
        const int pct = static_cast<int>(std::min<uint64_t>(100, done * 100 / total));
        view.ProgressBars(pct, pct);
        view.ProcessEvents();
    };
    cancel_ = [&w] { w.SetCancel(true); };
    running_ = true;
    cancelled_ = false;
    model_.SetBusy(true);
    view.SetWaitCursor(true);
    view.ProgressOpen("Writing the comment...");
    view.ProgressBars(0, 0);
    bool ok = false;
    try {
        w.SetArchiveFile(archive);
        w.SetArchiveComment(raw);
        w.FileSpec.clear();
        w.Switch = swAdd;
        w.CompressArchive();
        ok = !w.Failed();
    } catch (const std::exception& e) {
        if (failure.empty()) failure = archive + ": " + e.what();
    }
    if (w.Cancel()) cancelled_ = true;
    view.ProgressClose();
    view.SetWaitCursor(false);
    model_.SetBusy(false);
    running_ = false;
    cancel_ = nullptr;
    if (!ok || cancelled_) {
        if (cancelled_)
            view.SetStatusText(0, "Cancelled; " + model_.ArchiveFileName() + " is unchanged");
        else
            view.Message("Error", VisibleMarks(failure.empty() ? archive + ": the comment was not written" : failure));
        return false;
    }
    b.List();
    model_.Resort();
    view.Log("Comment of " + VisibleMarks(archive) + (text.empty() ? " removed" : " set"));
    return true;
}

std::optional<std::string> EntryCommands::LoadCommentFile(const std::string& path) {
    std::string text;
    FILE* f = platform::FileExists(path) ? fopen(path.c_str(), "rb") : nullptr;
    if (!f) {
        model_.View().Message("Error", "Error loading textfile");
        return std::nullopt;
    }
    char buf[4096];
    size_t n;
    bool tooLong = false;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
        if (text.size() > kMaxComment) {
            tooLong = true;
            break;
        }
    }
    const bool bad = ferror(f) != 0;
    fclose(f);
    if (bad || tooLong) {
        model_.View().Message("Error", "Error loading textfile");
        return std::nullopt;
    }
    return platform::ToDisplayUtf8(text);
}

// ---------------------------------------------------------------------------------------------------------------
// Self-extractors

std::string EntryCommands::ExeTarget() const {
    return model_.IsOpen() ? WithoutExtension(model_.ArchivePath()) + ".exe" : std::string();
}

std::string EntryCommands::ZipTarget() const {
    return model_.IsOpen() ? WithoutExtension(model_.ArchivePath()) + ".zip" : std::string();
}

bool EntryCommands::MakeExe(const SfxChoices& c) {
    if (!model_.IsOpen() || model_.Engine() != EngineKind::ZipBridge || model_.ArchivePath().empty()) {
        model_.View().Message("Error", "Error - open ZIP file first");
        return false;
    }
    if (running_ || model_.IsExecutable()) return false;
    TZipBridge& b = model_.Bridge();
    const std::string archive = model_.ArchivePath();
    const std::string target = ExeTarget();
    if (b.FindSfxStub().empty()) {
        model_.View().Message("Error", "The self-extractor program " + std::string(TZipBridge::kSfxStubName) +
                                           " is not installed beside Varnok; no .EXE file was made.");
        return false;
    }
    for (const std::string* t : {&c.title, &c.commandLine, &c.destination})
        if (t->size() > 255) {
            model_.View().Message("Error", "A text of the self-extractor holds at most 255 characters.");
            return false;
        }
    if (!ReplaceQuestion(target)) return false;
    SFXOpts opts;
    if (c.askCommandLine) opts.Include(SFXAskCmdLine);
    if (c.askFiles) opts.Include(SFXAskFiles);
    if (c.hideOverwriteBox) opts.Include(SFXHideOverWriteBox);
    opts.Include(SFXCheckSize);
    b.SFXOptions = opts;
    b.SFXOverWriteMode = c.overwrite;
    b.SFXDefaultDir = SfxDefaultDirOf(c.destination, model_.Config().TempFolder());
    b.SFXCommandLine = c.commandLine;
    b.SFXCaption = c.title.empty() ? "Varnok SFX" : c.title;
    b.SFXMessage.clear();
    b.SFXIcon.clear();  // our stub is a Linux program: it carries no icon
    b.SFXPath.clear();
    b.ConvertTarget = target;
    b.KeepConvertSource = true;  // the program is made beside the archive, which stays as it is
    const uint64_t size = b.ZipFileSize();
    const int r = RunBridge("Making .EXE file...", size ? size : 1, kSfxPiece, [&] { return b.ZipToSfx(); });
    b.ConvertTarget.clear();
    b.KeepConvertSource = false;
    if (r != 0) {
        ShowBridgeFailure(target + ": the self-extractor was not made.");
        // The bridge still names the archive; its rows are as they were.
        if (b.ZipFileName() != archive) model_.Open(archive);
        return false;
    }
    model_.View().Log(VisibleMarks(target) + " made from " + VisibleMarks(archive));
    // The window shows the archive again.
    model_.Open(archive);
    model_.View().SetStatusText(0, VisibleMarks(target) + " has been created");
    return true;
}

bool EntryCommands::ExeToZip() {
    if (!model_.IsOpen() || model_.Engine() != EngineKind::ZipBridge || running_) return false;
    TZipBridge& b = model_.Bridge();
    const std::string program = model_.ArchivePath();
    const std::string target = ZipTarget();
    if (b.SFXOffset() == 0) {
        model_.View().Message("Error", program + ": " + "Error determining the type of SFX archive");
        return false;
    }
    if (!ReplaceQuestion(target)) return false;
    b.ConvertTarget = target;
    b.KeepConvertSource = false;
    b.HowToDelete = htdAllowUndo;  // the program goes to the trash
    const uint64_t size = b.ZipFileSize();
    const int r = RunBridge(".EXE -> Zip...", size ? size : 1, kSfxPiece, [&] { return b.SfxToZip(); });
    b.ConvertTarget.clear();
    if (r != 0) {
        ShowBridgeFailure(target + ": the archive was not taken out of the program.");
        if (b.ZipFileName() != program) model_.Open(program);
        return false;
    }
    model_.View().Log(VisibleMarks(target) + " made from " + VisibleMarks(program) +
                      (platform::PathExists(program) ? "" : "; the program was moved to the trash"));
    model_.Open(target);
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Open, view, install

std::string EntryCommands::ExtractPrivately(const std::vector<int>& rows, bool folderNames,
                                            const std::string& prefix) {
    std::string base = model_.SessionTempDir();
    if (base.empty()) base = WithoutSlash(model_.Config().TempFolder());
    const std::string dir = platform::CreateTempDir(WithoutSlash(base), prefix);
    if (dir.empty()) {
        model_.View().Message("Error", base + ": a temporary folder cannot be made: " + platform::LastErrorText());
        return {};
    }
    ExtractRequest req;
    req.rows = rows;
    req.selectedOnly = true;
    req.useFolderNames = folderNames;
    req.destination = WithSlash(dir);
    req.overwrite = true;
    const int n = model_.Extractor().Run(req);
    if (n <= 0 || model_.Extractor().LastRunCancelled()) {
        platform::RemoveTree(dir);
        return {};
    }
    return WithSlash(dir);
}

bool EntryCommands::Launch(const std::vector<std::string>& argv, const std::string& workDir) {
    if (!spawn_(argv, workDir)) {
        model_.View().Message("Error", argv.front() + " could not be started.");
        return false;
    }
    return true;
}

bool EntryCommands::ConfirmOpening(const std::string& path, const std::string& shownName) {
    if (!MayRunWhenOpened(path)) return true;
    return model_.View().Ask("Question", Quoted(shownName) +
                                             " is a program, a script or a launcher: opening it may run it.\n\n"
                                             "Do you want to open it anyway?");
}

bool EntryCommands::OpenEntry() {
    const int row = TargetRow();
    if (row < 0 || model_.Row(row).directory || running_) return false;
    const EntryRow& r = model_.Row(row);
    const std::string shown = r.StoredName();
    const std::string dir = ExtractPrivately({row}, false, "open-");
    if (dir.empty()) return false;
    const std::string path = dir + model_.Row(row).name;
    if (!platform::FileExists(path)) return false;
    model_.AddViewFile(path);
    if (!ConfirmOpening(path, shown)) return false;
    if (!onPath_("xdg-open")) {
        model_.View().Message("Error", "xdg-open is not installed: " + path + " cannot be opened.");
        return false;
    }
    return Launch({"xdg-open", path}, dir);
}

bool EntryCommands::ViewEntry() {
    const int row = TargetRow();
    if (row < 0 || model_.Row(row).directory || running_) return false;
    const std::string shown = model_.Row(row).StoredName();
    const Settings& s = model_.Config();
    if (s.View == "3" && !platform::FileExists(s.ViewProg)) {
        model_.View().Message("Error", "The viewer " + s.ViewProg + " does not exist.");
        return false;
    }
    const std::string dir = ExtractPrivately({row}, false, "view-");
    if (dir.empty()) return false;
    const std::string path = dir + model_.Row(row).name;
    if (!platform::FileExists(path)) return false;
    model_.AddViewFile(path);
    // A viewed file is read, never run.
    chmod(path.c_str(), 0600);
    if (s.View == "3") return Launch({s.ViewProg, path}, ParentFolder(s.ViewProg));
    for (const char* editor : {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "xed", "pluma",
                               "featherpad", "leafpad"})
        if (onPath_(editor)) return Launch({editor, path}, dir);
    if (!ConfirmOpening(path, shown)) return false;
    if (!onPath_("xdg-open")) {
        model_.View().Message("Error", "No text viewer is installed: " + path + " cannot be shown.");
        return false;
    }
    return Launch({"xdg-open", path}, dir);
}

bool EntryCommands::OpenWithBoth() {
    const bool viewed = ViewEntry();
    return OpenEntry() && viewed;
}

bool EntryCommands::Install() {
    const std::string entry = model_.InstallRow();
    if (!model_.IsOpen() || entry.empty() || running_) return false;
    int row = -1;
    for (int i = 0; i < model_.RowCount(); ++i)
        if (model_.Row(i).StoredName() == entry) row = i;
    if (row < 0) return false;
    const bool windows = IsWindowsProgramName(entry);
    if (windows && !onPath_("wine")) {
        model_.View().Message("Error", Quoted(entry) +
                                           " is a Windows program. To install it, a Windows runner (Wine) must "
                                           "be installed; nothing was extracted or run.");
        return false;
    }
    if (!model_.View().Ask("Question", "Do you want to run the install program " + Quoted(entry) + " from " +
                                           Quoted(model_.ArchiveFileName()) + "?\n\nThe archive is extracted "
                                           "into a private temporary folder first" +
                                           (windows ? "; the program runs under Wine." : "."))) {
        return false;
    }
    std::vector<int> all(static_cast<size_t>(model_.RowCount()));
    for (int i = 0; i < model_.RowCount(); ++i) all[static_cast<size_t>(i)] = i;
    const std::string base = Trimmed(WithoutExtension(model_.ArchiveFileName()));
    const std::string dir = ExtractPrivately(all, true, "install-" + (base.empty() ? "archive" : base) + "-");
    if (dir.empty()) return false;
    const std::string program = dir + entry;
    if (!platform::FileExists(program)) {
        model_.View().Message("Error", Quoted(entry) + " was not extracted; nothing was run.");
        return false;
    }
    const std::string work = ParentFolder(program);
    if (windows) return Launch({"wine", program}, work);
    chmod(program.c_str(), 0700);
    return Launch({program}, work);
}

// ---------------------------------------------------------------------------------------------------------------
// Find, properties

int EntryCommands::Find(const FindRequest& r) {
    int matched = 0;
    for (int i = 0; i < model_.RowCount(); ++i) {
        const EntryRow& row = model_.Row(i);
        bool hit = false;
        switch (r.by) {
            case FindRequest::By::Name: {
                std::string folder, name;
                SplitRow(row, folder, name);
                hit = WildcardMatch(name, r.pattern.empty() ? "*" : r.pattern);
                break;
            }
            case FindRequest::By::Date:
                switch (r.dateMode) {
                    case FindRequest::DateMode::Before:
                        hit = row.time < r.firstDayEnd;
                        break;
                    case FindRequest::DateMode::Between:
                        hit = row.time >= r.firstDayStart && row.time < r.secondDayEnd;
                        break;
                    case FindRequest::DateMode::After:
                        hit = row.time >= r.firstDayEnd;
                        break;
                }
                break;
            case FindRequest::By::Size:
                switch (r.sizeMode) {
                    case FindRequest::SizeMode::Above:
                        hit = row.size > r.first;
                        break;
                    case FindRequest::SizeMode::Fit:
                        hit = row.size == r.first;
                        break;
                    case FindRequest::SizeMode::Below:
                        hit = row.size < r.first;
                        break;
                    case FindRequest::SizeMode::Between:
                        hit = row.size >= r.first && row.size <= r.second;
                        break;
                }
                break;
        }
        if (!hit) continue;
        ++matched;
        model_.SetSelected(i, true);
    }
    model_.View().SelectionReset();
    return matched;
}

ArchiveProperties EntryCommands::Properties() const {
    ArchiveProperties p;
    if (!model_.IsOpen()) return p;
    p.name = model_.ArchiveFileName();
    p.folder = WithoutSlash(model_.ArchiveFolder());
    p.type = model_.Engine() == EngineKind::ZipBridge ? std::string("ZIP") : ArcTypeShortName(model_.ArcType());
    p.size = model_.TotalUnpacked();
    p.files = model_.TotalCount();
    const uint64_t packed = model_.TotalPacked();
    if (p.size > 0) {
        const double kept = static_cast<double>(packed) * 100.0 / static_cast<double>(p.size);
        p.compression = static_cast<int>(std::lround(100.0 - kept));
    }
    p.time = platform::FileMTime(model_.ArchivePath());
    return p;
}

// ---------------------------------------------------------------------------------------------------------------
// Dragging entries out

std::vector<std::string> EntryCommands::PrepareDrag() {
    dragRows_ = model_.SelectedRows();
    dragExtracted_ = false;
    dragFolder_.clear();
    if (dragRows_.empty()) return {};
    std::string base = model_.SessionTempDir();
    if (base.empty()) base = WithoutSlash(model_.Config().TempFolder());
    const std::string dir = platform::CreateTempDir(WithoutSlash(base), "drag-");
    if (dir.empty()) return {};
    dragFolder_ = WithSlash(dir);
    const bool folders = model_.Config().optZipDirs;
    std::vector<std::string> paths;
    auto add = [&](const std::string& p) {
        if (std::find(paths.begin(), paths.end(), p) == paths.end()) paths.push_back(p);
    };
    for (int i : dragRows_) {
        const EntryRow& r = model_.Row(i);
        std::string folder, name;
        SplitRow(r, folder, name);
        if (folders && !folder.empty()) {
            const std::string first = folder.substr(0, folder.find('/'));
            if (SafeRelativeName(first) == first) add(dragFolder_ + first);
        } else if (folders && r.directory) {
            if (SafeRelativeName(name) == name) add(dragFolder_ + name);
        } else if (!r.directory) {
            if (SafeRelativeName(name) == name) add(dragFolder_ + name);
        }
    }
    return paths;
}

bool EntryCommands::ExtractForDrag() {
    if (dragExtracted_) return true;
    if (dragRows_.empty() || dragFolder_.empty() || running_) return false;
    dragExtracted_ = true;
    const Settings& s = model_.Config();
    ExtractRequest req;
    req.rows = dragRows_;
    req.selectedOnly = true;
    req.useFolderNames = s.optZipDirs;
    req.destination = dragFolder_;
    req.overwrite = s.optOverwrite;
    req.skipOlder = s.optUpdate;
    const int n = model_.Extractor().Run(req);
    return n > 0 && !model_.Extractor().LastRunCancelled();
}

}  // namespace varnok::app
