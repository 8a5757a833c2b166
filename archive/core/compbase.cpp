#include "archive/core/compbase.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fnmatch.h>

#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/utils.h"
#include "archive/core/wildcard.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok {

namespace {

constexpr size_t kCopyBlock = 64 * 1024;
constexpr int kMaxDepth = 512;  // folders deeper than this are not searched (a loop through bind mounts)

// Extensions of files that are compressed already; ".exe" is in the list but never counts.
constexpr const char* kCompressedExt[] = {".UUE", ".XXE", ".ENC", ".TAR", ".Z",   ".GZ",  ".ZIP",
                                          ".ZOO", ".LHA", ".LZH", ".ARC", ".ARJ", ".BH",  ".PAK",
                                          ".CAB", ".RAR", ".EXE", ".JAR", ".ACE", ".TGZ"};

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

std::string WithSlash(std::string s) {
    if (!s.empty() && s.back() != '/') s.push_back('/');
    return s;
}

std::string CurrentDir() {
    char buf[PATH_MAX];
    if (getcwd(buf, sizeof buf)) return WithSlash(buf);
    return "./";
}

// "a/./b/../c" as "a/c": the stored name rules compare prefixes, which must not differ by such steps.
std::string Tidy(const std::string& path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (path.empty() || path[0] != '/')
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out = !path.empty() && path[0] == '/' ? "/" : "";
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) out.push_back('/');
        out += parts[k];
    }
    return out;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return !prefix.empty() && s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool SameTime(int64_t a, int64_t b) { return (a > b ? a - b : b - a) < 2; }  // DOS times hold even seconds

}  // namespace

TCompBase::TCompBase(TArcType ownType, std::string ownExt)
    : ownType_(ownType), method_(cmStore), ownExt_(std::move(ownExt)), defaultExt_(LowerAscii(ownExt_)) {
    arcType_ = ownType;
}

TCompBase::~TCompBase() = default;

void TCompBase::SetArchiveFile(const std::string& name) {
    archiveFile_ = name;
    StartOffset = 0;
    RefreshDrive();
    SetCancel(false);
    arcType_ = ownType_;
}

void TCompBase::SetCompressMethod(TCompressMethod m) {
    if (AcceptsMethod(m)) method_ = m;
}

void TCompBase::SetDefaultExt(const std::string& ext) {
    std::string before = defaultExt_;
    std::string e = ext;
    if (e.empty() || e == ".") {
        e = ownExt_;
    } else {
        if (e[0] != '.') e.insert(e.begin(), '.');
        e = LowerAscii(e.substr(0, 4));
    }
    defaultExt_ = e;
    if (archiveFile_.empty()) return;
    std::string cur = ExtractFileExt(archiveFile_);
    if (cur.empty())
        archiveFile_ += defaultExt_;
    else if (UpperAscii(cur) == UpperAscii(before))
        archiveFile_ = archiveFile_.substr(0, archiveFile_.size() - cur.size()) + defaultExt_;
}

std::string TCompBase::DefaultDir() const { return defaultDir_.empty() ? CurrentDir() : defaultDir_; }

void TCompBase::SetDefaultDir(const std::string& dir) {
    if (dir.empty() || !platform::DirectoryExists(dir))
        defaultDir_.clear();
    else
        defaultDir_ = WithSlash(dir[0] == '/' ? dir : CurrentDir() + dir);
}

std::string TCompBase::StoredName(const std::string& fullName, const std::string& base) const {
    const std::string full = Tidy(fullName);
    const std::string b = base.empty() ? std::string() : WithSlash(Tidy(base));
    auto noRoot = [](std::string s) {
        size_t i = s.find_first_not_of('/');
        return i == std::string::npos ? std::string() : s.substr(i);
    };
    std::string out;
    switch (StoredDirNames) {
        case sdNone:
            out = ExtractFileName(full);
            break;
        case sdAbsolute:
            out = full;
            break;
        case sdAbsoluteNoDrv:
            out = noRoot(full);
            break;
        case sdRelative:
            out = StartsWith(full, b) ? full.substr(b.size()) : noRoot(full);
            break;
        case sdRelativeStoreStart: {
            // The base's last folder stays in front of the name.
            std::string parent = ExtractFilePath(RemoveSlash(b));
            out = StartsWith(full, b) && !parent.empty() ? full.substr(parent.size()) : noRoot(full);
            break;
        }
        case sdExplorer: {
            const std::string d = WithSlash(Tidy(DefaultDir()));
            if (StartsWith(full, d))
                out = full.substr(d.size());
            else if (StartsWith(full, b))
                out = full.substr(b.size());
            else
                out = noRoot(full);
            break;
        }
    }
    return out;
}

int TCompBase::CompressArchive() {
    failed_ = false;
    added_ = deleted_ = skipped_ = 0;
    totalBytes_ = 0;
    newestDate_ = 0;
    entries_.clear();
    index_.clear();
    if (ArchiveFile().empty()) return 0;
    BeginRun();
    try {
        UpdateArchive();
    } catch (const RunCancelled&) {
        failed_ = true;
    } catch (const ArchiveError&) {
        failed_ = true;  // reported where it happened
    }
    EndRun(true);
    return Switch == swDelete ? deleted_ : added_;
}

bool TCompBase::CheckWritable() {
    if (Cancel() || OverwriteMode != omOverwrite) return false;
    struct stat st {};
    if (stat(ArchiveFile().c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
        ReportError(ArchiveFile(), "it is a folder", E_FileDirectory);
        return false;
    }
    // The owner's write bit says read-only, as the DOS attribute did (the superuser may write anyway).
    if ((st.st_mode & S_IWUSR) && access(ArchiveFile().c_str(), W_OK) == 0) return true;
    if (!OnNonWriteableArchive) {
        ReportMissingEvent("OnNonWriteableArchive");
        return false;
    }
    bool write = false;
    OnNonWriteableArchive(*this, ArchiveFile(), write);
    if (!write) return false;
    if (chmod(ArchiveFile().c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) {
        ReportError(ArchiveFile(), platform::LastErrorText(), E_FileReadOnly);
        return false;
    }
    return true;
}

namespace {
// Removes the temporary archive on every way out of the run unless it became the archive.
struct TempGuard {
    std::string path;
    ~TempGuard() {
        if (!path.empty()) unlink(path.c_str());
    }
};
}  // namespace

void TCompBase::UpdateArchive() {
    // A link to the archive is followed: the archive it names is updated and the link stays.
    std::string target = ArchiveFile();
    struct stat lst {};
    if (lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        if (char* real = realpath(target.c_str(), nullptr)) {
            target = real;
            free(real);
        }
    }
    struct stat st {};
    isNew_ = stat(target.c_str(), &st) != 0;
    if (Switch == swRead) {
        if (!isNew_) ReadMode();
        return;
    }
    if (Switch == swDelete && isNew_) {
        ReportError(ArchiveFile(), "", E_NothingToDo);
        failed_ = true;
        return;
    }
    if (!isNew_) {
        if (!CheckWritable()) {
            failed_ = true;
            return;
        }
        targetDev_ = st.st_dev;
        targetIno_ = st.st_ino;
    }
    std::string dir = TempDirOverride.empty() ? ExtractFilePath(target) : WithSlash(TempDirOverride);
    if (dir.empty()) dir = "./";
    platform::File out;
    TempGuard guard;
    guard.path = platform::CreateTempFile(RemoveSlash(dir), "." + ExtractFileName(target) + ".", ".tmp", &out);
    if (guard.path.empty()) RaiseError(RemoveSlash(dir), platform::LastErrorText(), E_OpenFile);
    struct stat tst {};
    if (fstat(out.Fd(), &tst) == 0) {
        tempDev_ = tst.st_dev;
        tempIno_ = tst.st_ino;
    }
    if (OnActivate) OnActivate(*this);

    if (!isNew_) {
        if (!OpenArchiveForRead()) RaiseError(ArchiveFile(), platform::LastErrorText(), E_OpenFile);
        LoadEntries();
        if (uint64_t prefix = PrefixLength()) CopyOld(out, 0, prefix);
    }
    if (Switch != swDelete) FindFiles();
    CheckCancel();
    ProcessFiles(out);
    CheckCancel();

    const bool changed = deleted_ > 0 || added_ > 0 || OtherChanges() ||
                         std::any_of(entries_.begin(), entries_.end(),
                                     [](const TCompBaseHeaderObj& x) { return x.action == acRename; });
    if (!changed) {
        // Nothing to write: the archive stays as it was (a new one is not made empty).
        if (Switch == swDelete || isNew_ || skipped_ == 0) ReportError(ArchiveFile(), "", E_NothingToDo);
        failed_ = true;
        return;
    }
    bool any = false;
    for (const auto& e : entries_)
        any = any || e.action != acDrop;
    if (!any && EmptyArchiveIsDeleted()) {
        // The last entry was deleted: the archive goes.
        out.Close();
        ArcFile.Close();
        if (unlink(target.c_str()) != 0) RaiseError(ArchiveFile(), platform::LastErrorText(), E_DeleteFiles);
        return;
    }
    FinishArchive(out);
    CheckCancel();
    // The new archive gets the old one's permissions (a new one the usual ones) and reaches the disk before it
    // takes the old one's place.
    mode_t mode = 0;
    if (isNew_) {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    } else {
        mode = st.st_mode & 07777;
    }
    TempGuard sealed;
    sealed.path = SealOutput(out, guard.path);
    if (sealed.path == guard.path) sealed.path.clear();
    const std::string& final = sealed.path.empty() ? guard.path : sealed.path;
    platform::File done;
    if (!sealed.path.empty() && !done.Open(final, platform::File::Mode::ReadWrite))
        RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
    platform::File& result = sealed.path.empty() ? out : done;
    if (fchmod(result.Fd(), mode) != 0 || (SyncBeforeReplace && !result.Sync()) || !result.Close())
        RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
    ArcFile.Close();
    if (rename(final.c_str(), target.c_str()) != 0)
        RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
    (sealed.path.empty() ? guard.path : sealed.path).clear();
    if (Switch == swMove) MoveCleanup();
}

void TCompBase::ReadMode() {
    if (!OnRead) {
        ReportMissingEvent("OnRead");
        return;
    }
    const FormatRecord* f = FormatOf(ownType_);
    if (!f || !f->walk) return;
    TArcType found = IdentifyFile(ArchiveFile());
    if (!f->Has(found)) {
        ReportError(ArchiveFile(), "", E_InvalidArcType);
        return;
    }
    if (!OpenArchiveForRead()) RaiseError(ArchiveFile(), platform::LastErrorText(), E_OpenFile);
    std::unique_ptr<EntryWalk> walk = f->walk(*this);
    ArchiveEntry e;
    int n = 0;
    while (!Cancel() && walk->Next(e)) {
        OnRead(*this, e.Offset, ++n);
        e = ArchiveEntry{};
    }
}

void TCompBase::CheckCancel() {
    if (Cancel()) RaiseError(ArchiveFile(), "", E_UserCanceled);
}

bool TCompBase::Excluded(const std::string& stored) const {
    for (const auto& x : ExcludeSpec) {
        if (x.empty()) continue;
        // A pattern without a folder is compared with the file name, as a shell user expects "*.o" to work
        // in every folder; one with a folder with the whole stored name.
        if (x.find('/') == std::string::npos ? WildcardMatch(ExtractFileName(stored), x)
                                             : NameMatchesSpec(stored, x))
            return true;
    }
    return false;
}

void TCompBase::FindFiles() {
    for (size_t i = 0; i < FileSpec.size(); ++i) {
        CheckCancel();
        if (ProcessMessages) ProcessMessages();
        const std::string& spec = FileSpec[i];
        if (spec.empty()) continue;
        std::string full = spec[0] == '/' ? spec : DefaultDir() + spec;
        const uint64_t foundBefore = found_;
        int skippedBefore = skipped_;
        struct stat st {};
        // A name that exists is taken as it is, even when it holds "*" or "?".
        if (stat(full.c_str(), &st) == 0 && !(spec.size() > 1 && spec.back() == '/' && !S_ISDIR(st.st_mode))) {
            const std::string path = Tidy(full);
            const std::string parent = ExtractFilePath(path);
            if (S_ISDIR(st.st_mode)) {
                // A folder is added with everything under it, named from the folder on.
                FoundFile(path, parent, static_cast<int>(i), st);
                SearchDir(WithSlash(path), "*", parent, static_cast<int>(i), true, 0);
            } else {
                FoundFile(path, parent, static_cast<int>(i), st);
            }
        } else if (HasWildcard(ExtractFileName(full))) {
            std::string dir = ExtractFilePath(full);
            const bool recurse = i < SpecRecurse.size() && SpecRecurse[i] >= 0 ? SpecRecurse[i] != 0 : RecurseDirs;
            SearchDir(dir, ExtractFileName(full), dir, static_cast<int>(i), recurse, 0);
        } else {
            ReportError(spec, platform::LastErrorText(), E_FileNotFound);
            ++skipped_;
            continue;
        }
        if (found_ == foundBefore && skipped_ == skippedBefore && HasWildcard(spec)) {
            ReportError(spec, "no file matches", E_FileNotFound);
            ++skipped_;
        }
    }
    if (DateAttribute == daMaxFileDate)
        for (auto& e : entries_)
            if (e.action == acNew || e.action == acReplace) e.mtime = newestDate_;
}

void TCompBase::SearchDir(const std::string& dir, const std::string& mask, const std::string& base, int pattern,
                          bool recurse, int depth) {
    if (depth > kMaxDepth) {
        ReportError(dir, "", E_TooManyNestedDirs);
        ++skipped_;
        return;
    }
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) {
        ReportError(dir, platform::LastErrorText(), E_OpenFile);
        ++skipped_;
        return;
    }
    std::vector<std::string> names;
    while (dirent* de = readdir(d)) {
        std::string n = de->d_name;
        if (n != "." && n != ".." && !(SkipHidden && n[0] == '.')) names.push_back(std::move(n));
    }
    closedir(d);
    // The same tree gives the same archive.
    std::sort(names.begin(), names.end());
    std::vector<std::string> subdirs;
    for (const auto& n : names) {
        CheckCancel();
        const std::string path = dir + n;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
        if (S_ISDIR(st.st_mode)) {
            if (recurse) subdirs.push_back(n);
            continue;
        }
        // "*.*" is every file, with an extension or without, as it always was on DOS.
        if (mask != "*.*" && fnmatch(mask.c_str(), n.c_str(), FNM_NOESCAPE) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            // A link is added as the file it leads to; links to folders are not followed (they may loop).
            if (stat(path.c_str(), &st) != 0) {
                ReportError(path, "the link leads nowhere", E_FileNotFound);
                ++skipped_;
                continue;
            }
            if (S_ISDIR(st.st_mode)) continue;
        }
        FoundFile(path, base, pattern, st);
    }
    for (const auto& n : subdirs) {
        const std::string path = dir + n;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) continue;
        if (OnRecurseDir) OnRecurseDir(*this, path);
        FoundFile(path, base, pattern, st);
        SearchDir(path + "/", mask, base, pattern, true, depth + 1);
    }
}

void TCompBase::FoundFile(const std::string& path, const std::string& base, int pattern, const struct stat& st) {
    const bool dir = S_ISDIR(st.st_mode);
    if (!dir && !S_ISREG(st.st_mode)) {
        // Devices, pipes and sockets have no contents to store (reading a pipe would wait for ever).
        ReportError(path, "not a regular file", E_SkippedFile);
        ++skipped_;
        return;
    }
    // Never the archive itself, nor the archive being built.
    if ((st.st_dev == targetDev_ && st.st_ino == targetIno_ && targetIno_) ||
        (st.st_dev == tempDev_ && st.st_ino == tempIno_ && tempIno_))
        return;
    ++found_;  // a match, whether it becomes a new entry, replaces one or is the same as one
    if (dir) {
        if (!StoreEmptySubDirs) return;
        if (!WantsDirectory(path)) return;
    }
    const uint32_t attr = platform::AttributesOf(path, st);
    // The attribute filter picks files; folders are entered whatever it says.
    if (!dir && !FileAttribute.AttributePasses(attr)) return;
    std::string stored = StoredName(path, base);
    if (stored.empty()) return;
    if (Excluded(stored)) return;
    int64_t mtime = st.st_mtime;
    newestDate_ = std::max(newestDate_, mtime);
    if (DateAttribute == daSysDate) mtime = time(nullptr);

    TCompBaseHeaderObj e;
    e.name = stored;
    e.diskPath = path;
    e.directory = dir;
    e.size = dir ? 0 : static_cast<uint64_t>(st.st_size);
    e.mtime = mtime;
    e.attr = attr;
    e.mode = st.st_mode;
    e.pattern = pattern;
    e.dev = st.st_dev;
    e.ino = st.st_ino;

    int found = FindEntry(stored);
    if (found < 0) {
        if (FreshenOnly) return;
        index_[stored] = entries_.size();
        totalBytes_ += e.size;
        entries_.push_back(std::move(e));
        return;
    }
    TCompBaseHeaderObj& old = entries_[static_cast<size_t>(found)];
    if (old.action == acNew || old.action == acReplace || old.action == acRename) return;  // found twice
    const bool differs = old.size != e.size || !SameTime(old.mtime, e.mtime) ||
                         (ComparesAttributes() && (old.attr & 0x17) != (attr & 0x17) && !old.directory);
    if (old.directory || dir) return;
    bool replace = false;
    if (differs) {
        if (!OnReplaceFile) {
            ReportMissingEvent("OnReplaceFile");
            return;
        }
        OnReplaceFile(*this, old.name, path, old.mtime, e.mtime, old.size, e.size, old.attr, attr, replace);
    }
    if (!replace) {
        RenameDuplicate(static_cast<size_t>(found), std::move(e));
        return;
    }
    // The old entry's place and record stay with it: when the new file cannot be read, the old entry is kept.
    old.diskPath = e.diskPath;
    old.directory = e.directory;
    totalBytes_ += e.size;
    old.size = e.size;
    old.mtime = e.mtime;
    old.attr = e.attr;
    old.mode = e.mode;
    old.pattern = e.pattern;
    old.dev = e.dev;
    old.ino = e.ino;
    old.action = acReplace;
}

void TCompBase::RenameDuplicate(size_t found, TCompBaseHeaderObj&& file) {
    if (!OnRenameDupFile) return;
    const std::string oldName = entries_[found].name;
    const std::string folder = ExtractFilePath(oldName);
    const std::string oldFile = ExtractFileName(oldName);
    // Asked again while the answer names an entry that exists; a few hundred answers are enough for anyone.
    for (int tries = 0; tries < 256; ++tries) {
        std::string answer = oldName;
        OnRenameDupFile(*this, oldName, answer);
        const std::string part = ExtractFileName(answer);
        if (part.empty() || part == oldFile) return;
        const std::string renamed = folder + part;
        if (FindEntry(renamed) >= 0) continue;
        TCompBaseHeaderObj& old = entries_[found];
        index_.erase(oldName);
        old.name = renamed;
        old.action = acRename;
        index_[renamed] = found;
        if (FreshenOnly) return;
        index_[oldName] = entries_.size();
        totalBytes_ += file.size;
        entries_.push_back(std::move(file));
        return;
    }
}

bool TCompBase::WantsDirectory(const std::string& path) const {
    // A folder needs an entry of its own only when nothing inside it will carry its name.
    DIR* d = opendir(path.c_str());
    if (!d) return false;
    bool empty = true;
    while (dirent* de = readdir(d)) {
        std::string n = de->d_name;
        if (n != "." && n != "..") {
            empty = false;
            break;
        }
    }
    closedir(d);
    return empty;
}

int TCompBase::FindEntry(const std::string& name) const {
    auto it = index_.find(name);
    return it == index_.end() ? -1 : static_cast<int>(it->second);
}

bool TCompBase::AddOldEntry(TCompBaseHeaderObj e) {
    e.action = acKeep;
    if (Switch == swDelete) {
        bool gone = SelectForDelete && SelectForDelete(e.name);
        for (const auto& spec : FileSpec)
            gone = gone || (!SelectForDelete && !spec.empty() && NameMatchesSpec(e.name, spec));
        if (gone) {
            e.action = acDrop;
            ++deleted_;
        }
    }
    if (e.action == acKeep && !index_.count(e.name)) index_[e.name] = entries_.size();
    entries_.push_back(std::move(e));
    return entries_.back().action == acKeep;
}

void TCompBase::ProcessFiles(platform::File& out) {
    BytesRemaining = totalBytes_;
    for (size_t i = 0; i < entries_.size(); ++i) {
        CheckCancel();
        if (ProcessMessages) ProcessMessages();
        FileCount = static_cast<int>(i) + 1;
        TCompBaseHeaderObj& e = entries_[i];
        switch (e.action) {
            case acKeep:
                e.newOffset = out.Tell();
                CopyKept(out, e);
                break;
            case acRename:
                e.newOffset = out.Tell();
                CopyRenamed(out, e);
                break;
            case acNew:
            case acReplace: {
                const bool replacing = e.action == acReplace;
                const uint64_t start = out.Tell();
                e.newOffset = start;
                if (BeginFile(e) && CompressFile(out, e)) {
                    e.added = true;
                    e.action = acNew;
                    ++added_;
                    break;
                }
                CheckCancel();
                // Not added: the output goes back to where the entry began; a replaced entry keeps its old
                // contents.
                if (!out.Truncate(start) || !out.Seek(start))
                    RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
                if (replacing) {
                    e.action = acKeep;
                    e.newOffset = start;
                    CopyKept(out, e);
                } else {
                    e.action = acDrop;
                }
                break;
            }
            case acDrop:
                break;
        }
    }
}

bool TCompBase::BeginFile(TCompBaseHeaderObj& e) {
    bool go = true;
    if (OnBegin) OnBegin(*this, e.name, FileCount, go);
    if (!go) {
        BytesRemaining -= std::min(BytesRemaining, e.size);
        return false;
    }
    if (OnRenameFile && e.action == acNew) {
        std::string newName = e.name;
        OnRenameFile(*this, e.name, newName);
        if (!newName.empty() && newName != e.name && FindEntry(newName) < 0) {
            index_.erase(e.name);
            e.name = newName;
            index_[e.name] = static_cast<size_t>(&e - entries_.data());
        }
    }
    return true;
}

bool TCompBase::OpenSource(const TCompBaseHeaderObj& e, platform::File& src) {
    if (src.Open(e.diskPath, platform::File::Mode::Read)) {
        // The file must still be the one that was found: a name now naming a pipe or a folder is not read.
        struct stat st {};
        if (fstat(src.Fd(), &st) == 0 && S_ISREG(st.st_mode)) return true;
        src.Close();
        errno = EINVAL;
    }
    ReportError(e.diskPath, platform::LastErrorText(), E_OpenFile);
    ++skipped_;
    BytesRemaining -= std::min(BytesRemaining, e.size);
    return false;
}

void TCompBase::OpenOldArchive(TArcType family, const std::string& notOurs) {
    const FormatRecord* f = FormatOf(family);
    if (!f || !f->Has(IdentifyFile(ArchiveFile()))) RaiseError(ArchiveFile(), notOurs, E_InvalidArcType);
    if (!OpenArchiveForRead()) RaiseError(ArchiveFile(), platform::LastErrorText(), E_OpenFile);
}

bool TCompBase::ShortRead(const TCompBaseHeaderObj& e, uint64_t got) {
    if (got >= e.size) return false;
    ReportError(e.diskPath,
                platform::LastErrorText() + " (read " + std::to_string(got) + " of " + std::to_string(e.size) +
                    " bytes)",
                E_ReadFile);
    return true;
}

void TCompBase::Write(platform::File& out, const void* buf, size_t n) {
    if (n && !out.Write(buf, n)) RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
}

void TCompBase::WriteAt(platform::File& out, uint64_t pos, const void* buf, size_t n) {
    if (n && !out.WriteAt(pos, buf, n)) RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
}

void TCompBase::CopyOld(platform::File& out, uint64_t pos, uint64_t n) {
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(n, kCopyBlock)));
    while (n) {
        CheckCancel();
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n, buf.size()));
        if (ArcFile.ReadAt(pos, buf.data(), want) != want)
            RaiseError(ArchiveFile(), "the archive ends inside an entry it keeps", E_ReadFile);
        Write(out, buf.data(), want);
        pos += want;
        n -= want;
    }
}

void TCompBase::CopyKept(platform::File& out, TCompBaseHeaderObj& e) { CopyOld(out, e.oldOffset, e.oldLength); }

bool TCompBase::AlreadyCompressed(const std::string& name) const {
    if (!StoreAlreadyCompressedFiles) return false;
    const std::string ext = UpperAscii(ExtractFileExt(name));
    if (ext.empty() || ext == ".EXE") return false;
    for (const char* x : kCompressedExt)
        if (ext == x) return true;
    return false;
}

void TCompBase::Progress(uint64_t doneInFile, uint64_t fileSize) { UpdateProgress(doneInFile, fileSize, totalBytes_); }

void TCompBase::MoveCleanup() {
    std::vector<const TCompBaseHeaderObj*> moved;
    for (const auto& e : entries_)
        if (e.added && !e.directory) moved.push_back(&e);
    int index = 0;
    for (const TCompBaseHeaderObj* e : moved) {
        // A file that changed since it was read is not the file the archive holds: it stays.
        struct stat st {};
        if (stat(e->diskPath.c_str(), &st) != 0) continue;
        if (VerifyBeforeDelete && (st.st_dev != e->dev || st.st_ino != e->ino ||
                                   static_cast<uint64_t>(st.st_size) != e->size ||
                                   (DateAttribute == daFileDate && st.st_mtime != e->mtime))) {
            ReportError(e->diskPath, "it changed while it was added; not deleted", E_DeleteFiles);
            continue;
        }
        const bool gone = DeleteOptions == doAllowUndo ? platform::MoveToTrash(e->diskPath)
                                                        : unlink(e->diskPath.c_str()) == 0;
        if (!gone) {
            ReportError(e->diskPath, platform::LastErrorText(), E_DeleteFiles);
            continue;
        }
        if (OnDeleteFile) OnDeleteFile(*this, e->diskPath, index, static_cast<int>(moved.size()));
        ++index;
    }
}

}  // namespace varnok
