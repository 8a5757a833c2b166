// The add/delete engine. It writes nothing of its own: the record's flags become the settings of the project's
// ZIP writer (TZip on the compression base), which builds the new archive beside the old one and renames it
// into place only when the whole run succeeded. That is what keeps a failed, stopped or disk-full run from
// touching the archive, and what deletes moved sources only once the new archive is in place. The engine's own
// work is reading the caller's record defensively (every text bounded, every count checked), turning the
// writer's events into callback actions, and turning a stop answer from the callback into the writer's Cancel.
#include "engines/zipdll/zipdll_engine.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/core/errors.h"
#include "archive/core/utils.h"
#include "archive/core/wildcard.h"
#include "archive/formats/zip/zip_writer.h"
#include "engines/zipdll/zipdll.h"

namespace varnok::zipdll {
namespace {

constexpr int32_t kMaxArgs = 1 << 20;  // specifications or exclusions in one call
constexpr size_t kMaxPassword = 80;    // characters a password may have
constexpr size_t kMaxText = 65535;     // longest name, folder or pattern taken from the record

// Copies text into the callback's text area: at most 511 bytes, cut on a character boundary, then a zero.
void PutText(char* dst, std::string_view s) {
    size_t n = std::min(s.size(), size_t{ZIP_CALLBACK_TEXT_SIZE - 1});
    if (n < s.size())
        while (n > 0 && (static_cast<uint8_t>(s[n]) & 0xC0) == 0x80)
            --n;
    if (n) std::memcpy(dst, s.data(), n);
    dst[n] = '\0';
}

// A zero-terminated text of the caller, read with a bound; false when it is longer than max.
bool ReadText(const char* p, size_t max, std::string& out) {
    out.clear();
    if (!p) return true;
    const size_t n = strnlen(p, max + 1);
    if (n > max) return false;
    out.assign(p, n);
    return true;
}

// The library's error value for a numbered error of the writer.
int MapError(int code, bool aboutArchive) {
    switch (code) {
        case E_UserCanceled:
            return zenAborted;
        case E_NothingToDo:
            return zenNothing;
        case E_FileNotFound:
        case E_SkippedFile:
        case E_FileSizeDifferent:
            return aboutArchive ? zenArchive : zenSource;
        case E_OpenFile:
        case E_ReadFile:
            return aboutArchive ? zenArchive : zenSource;
        case E_InvalidArcType:
        case E_FileReadOnly:
        case E_FileDirectory:
        case E_EventNotAssigned:
            return zenArchive;
        case E_BadFileHeader:
        case E_HeaderNotFound:
        case E_InconsistentLocal:
        case E_BrokenMultiVolume:
            return zenFormat;
        case E_WriteFile:
        case E_CloseFile:
        case E_DiskFull:
        case E_NotEnoughSpace:
        case E_InvalidFileName:
            return zenWrite;
        case E_OutOfMemory:
            return zenMemory;
        default:
            return zenWarning;
    }
}

// One component of a path in the 8.3 form: upper case, at most eight characters, a dot and three more;
// characters DOS names cannot hold become "_".
std::string DosComponent(const std::string& c) {
    auto clean = [](std::string s, size_t max) {
        std::string out;
        for (char ch : s) {
            const unsigned char u = static_cast<unsigned char>(ch);
            if (out.size() == max) break;
            if (u < 0x80 && (std::isalnum(u) || std::strchr("!#$%&'()-@^_`{}~", ch)))
                out.push_back(static_cast<char>(std::toupper(u)));
            else if (u != '.' && u != ' ')
                out.push_back('_');
        }
        return out;
    };
    const size_t dot = c.find_last_of('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    std::string base = clean(hasExt ? c.substr(0, dot) : c, 8);
    const std::string ext = hasExt ? clean(c.substr(dot + 1), 3) : std::string();
    if (base.empty()) base = "_";
    return ext.empty() ? base : base + "." + ext;
}

std::string DosName(const std::string& name) {
    std::string out;
    size_t i = 0;
    while (i <= name.size()) {
        size_t j = name.find('/', i);
        if (j == std::string::npos) j = name.size();
        if (j > i) {
            if (!out.empty()) out.push_back('/');
            out += DosComponent(name.substr(i, j - i));
        }
        i = j + 1;
    }
    return out;
}

struct Spec {
    std::string spec, password, root;
    bool encrypt = false;
    bool ownPassword = false;
    int recurse = -1;  // -1: the record's
};

// What the parameter record asks for.
struct Request {
    void* handle = nullptr;
    void* caller = nullptr;
    ZipCallback callback = nullptr;
    bool trace = false, verbose = false, encrypt = false, hidden = false, noDirEntries = true, junkDir = false,
         recurse = false, forceDos = false, move = false, del = false, update = false, freshen = false,
         latestTime = false;
    int level = 9;
    std::string archive, password, tempDir;
    std::optional<std::string> comment;
    std::vector<std::string> suffixes;
    std::vector<Spec> specs;
    std::vector<std::string> exclusions;
};

class Engine {
  public:
    explicit Engine(int version) : version_(version) {}
    int32_t Run(void* record);

  private:
    bool Load(void* record, std::string& why);
    template <typename R>
    bool LoadCommon(const R& r, std::string& why);
    bool Call(int action, int32_t value20, uint64_t value24, std::string_view text);
    void Message(int error, const std::string& text) { Call(zacMessage, error, 0, text); }
    bool ObtainPassword();
    int32_t Add();
    int32_t Delete();
    void Wire(TZip& z);
    void Totals();
    void ProgressUpTo(uint64_t done);

    const int version_;
    Request req_;
    ZipCallbackRecord cb_{};
    bool stop_ = false;
    TZip* z_ = nullptr;
    bool totalsSaid_ = false;
    uint64_t total_ = 0, reported_ = 0;
    bool replaced_ = false;  // the new archive took the old one's place
};

bool Engine::Call(int action, int32_t value20, uint64_t value24, std::string_view text) {
    if (!req_.callback) return stop_;
    std::memset(&cb_, 0, sizeof cb_);
    cb_.Handle = req_.handle;
    cb_.Caller = req_.caller;
    cb_.Version = version_;
    cb_.IsOperationZip = 1;
    cb_.ActionCode = action;
    cb_.ErrorCode = value20;
    cb_.FileSize = static_cast<int32_t>(static_cast<uint32_t>(value24));
    cb_.FileSizeHigh = static_cast<uint32_t>(value24 >> 32);
    PutText(cb_.Text, text);
    int32_t r = 0;
    try {
        r = req_.callback(&cb_);
    } catch (...) {
        r = -1;
    }
    // The text area may have been written by the caller: it ends inside the record whatever it holds.
    cb_.Text[ZIP_CALLBACK_TEXT_SIZE - 1] = '\0';
    if (r != 0 && !stop_) {
        stop_ = true;
        if (z_) z_->SetCancel(true);
    }
    return stop_;
}

template <typename R>
bool Engine::LoadCommon(const R& r, std::string& why) {
    req_.handle = r.Handle;
    req_.caller = r.Caller;
    req_.callback = r.Callback;
    req_.trace = r.TraceEnabled != 0;
    req_.verbose = r.Verbose != 0 || req_.trace;
    req_.del = r.DeleteEntries != 0;
    req_.encrypt = !req_.del && r.Encrypt != 0;
    req_.hidden = r.SystemFiles != 0;
    req_.noDirEntries = r.NoDirEntries != 0;
    req_.junkDir = !req_.del && r.JunkDir != 0;
    req_.recurse = !req_.del && r.Recurse != 0;
    req_.forceDos = r.ForceDOS != 0;
    req_.move = !req_.del && r.Move != 0;
    req_.update = r.Update != 0;
    req_.freshen = r.Freshen != 0 && !req_.update;
    req_.latestTime = r.LatestTime != 0;
    req_.level = std::clamp<int32_t>(r.Level, 0, 9);
    if (r.Seven != 7) {
        why = "the record does not end in the value 7";
        return false;
    }
    if (!r.ZipFileName || !ReadText(r.ZipFileName, PATH_MAX, req_.archive) || req_.archive.empty()) {
        why = "no archive name, or one longer than a path can be";
        return false;
    }
    if (!ReadText(r.Password, kMaxPassword, req_.password)) {
        why = "the password is longer than 80 characters";
        return false;
    }
    std::string list;
    if (!ReadText(r.SuffixList, kMaxText, list)) {
        why = "the list of suffixes to store is too long";
        return false;
    }
    size_t i = 0;
    while (i < list.size()) {
        size_t j = list.find_first_of(":;", i);
        if (j == std::string::npos) j = list.size();
        std::string x = list.substr(i, j - i);
        if (!x.empty()) req_.suffixes.push_back(x[0] == '.' ? x : "." + x);
        i = j + 1;
    }
    if (r.ArgCount < 0 || r.ArgCount > kMaxArgs) {
        why = "the number of file specifications is out of range";
        return false;
    }
    return true;
}

bool Engine::Load(void* record, std::string& why) {
    if (version_ > 150) {
        const auto& r = *static_cast<const ZipExecRecord*>(record);
        if (!LoadCommon(r, why)) return false;
        if (r.ArgCount > 0 && !r.FileData) {
            why = "file specifications are counted but not given";
            return false;
        }
        for (int32_t n = 0; n < r.ArgCount; ++n) {
            const ZipFileData& f = r.FileData[n];
            Spec s;
            if (!f.FileSpec || !ReadText(f.FileSpec, kMaxText, s.spec) ||
                !ReadText(f.RootDir, PATH_MAX, s.root)) {
                why = "file specification " + std::to_string(n + 1) + " is missing or too long";
                return false;
            }
            if (!ReadText(f.Password, kMaxPassword, s.password)) {
                why = "the password of file specification " + std::to_string(n + 1) + " is longer than 80 characters";
                return false;
            }
            s.ownPassword = f.Password != nullptr && !s.password.empty();
            s.encrypt = !req_.del && f.Encrypt != 0;
            s.recurse = f.Recurse != 0 ? 1 : 0;
            if (!s.spec.empty()) req_.specs.push_back(std::move(s));
        }
        if (!ReadText(r.TempDir, PATH_MAX, req_.tempDir)) {
            why = "the temporary folder's name is too long";
            return false;
        }
        if (r.ArchComment) {
            std::string c;
            if (!ReadText(r.ArchComment, 0xFFFF, c)) {
                why = "the archive comment is longer than 65535 bytes";
                return false;
            }
            req_.comment = std::move(c);
        }
        if (r.ExclCount < 0 || r.ExclCount > kMaxArgs || (r.ExclCount > 0 && !r.ExclSpecs)) {
            why = "the exclusion patterns are counted wrongly";
            return false;
        }
        for (int32_t n = 0; n < r.ExclCount; ++n) {
            std::string x;
            if (!ReadText(r.ExclSpecs[n], kMaxText, x)) {
                why = "an exclusion pattern is too long";
                return false;
            }
            if (!x.empty()) req_.exclusions.push_back(std::move(x));
        }
    } else {
        const auto& r = *static_cast<const ZipExecRecordOld*>(record);
        if (!LoadCommon(r, why)) return false;
        if (r.ArgCount > ZIP_OLD_MAX_SPECS) {
            why = "more file specifications than the record holds";
            return false;
        }
        for (int32_t n = 0; n < r.ArgCount; ++n) {
            Spec s;
            if (!r.FileSpecs[n] || !ReadText(r.FileSpecs[n], kMaxText, s.spec)) {
                why = "file specification " + std::to_string(n + 1) + " is missing or too long";
                return false;
            }
            s.encrypt = req_.encrypt;
            if (!s.spec.empty()) req_.specs.push_back(std::move(s));
        }
    }
    return true;
}

// Asks the caller for the run's password when a specification is to be encrypted without one of its own.
bool Engine::ObtainPassword() {
    const bool needed = std::any_of(req_.specs.begin(), req_.specs.end(),
                                    [](const Spec& s) { return s.encrypt && !s.ownPassword; });
    if (!needed || !req_.password.empty()) return true;
    // The question carries the archive's name; an answer is a rewritten text with 20 set to 1 (a caller
    // that leaves the record alone has not given the name as its password).
    if (!req_.callback || Call(zacPassword, 1, 1, req_.archive)) return false;
    if (cb_.ErrorCode == 1) {
        const size_t n = strnlen(cb_.Text, sizeof cb_.Text);
        const std::string answer(cb_.Text, n);
        if (n > 0 && n <= kMaxPassword && answer != req_.archive.substr(0, ZIP_CALLBACK_TEXT_SIZE - 1))
            req_.password = answer;
    }
    if (req_.password.empty()) {
        Message(zenPassword, "Encryption was asked for and no password was given; the archive was not changed");
        return false;
    }
    return true;
}

void Engine::Totals() {
    if (totalsSaid_ || !z_) return;
    totalsSaid_ = true;
    int files = 0;
    for (const auto& e : z_->Entries())
        if (e.action == acNew || e.action == acReplace) ++files;
    total_ = z_->BytesRemaining;
    Call(zacTotalFiles, 0, static_cast<uint64_t>(files), {});
    Call(zacTotalSize, 0, total_, {});
}

void Engine::ProgressUpTo(uint64_t done) {
    if (done > reported_) {
        Call(zacProgress, 0, done - reported_, {});
        reported_ = done;
    }
}

void Engine::Wire(TZip& z) {
    z.OnError = [this](TZipCommon&, const std::string& file, const std::string& detail, const std::string&,
                       int code) {
        const int value = MapError(code, file == req_.archive);
        if (code == E_UserCanceled) return;  // said once, at the end
        std::string text = ErrorText(code);
        if (!file.empty()) text += ": " + file;
        if (!detail.empty()) text += " (" + detail + ")";
        Message(value, text);
    };
    z.OnBegin = [this](TZipCommon&, const std::string& name, int count, bool& go) {
        Totals();
        const auto& list = z_->Entries();
        const uint64_t size = count >= 1 && static_cast<size_t>(count) <= list.size()
                                  ? list[static_cast<size_t>(count - 1)].size
                                  : 0;
        if (Call(zacNewFile, 0, size, name)) go = false;
    };
    z.OnEnd = [this](TZipCommon&, const std::string& name, bool) {
        if (total_ >= z_->BytesRemaining) ProgressUpTo(total_ - z_->BytesRemaining);
        if (req_.verbose) Message(zenOk, "  adding: " + name);
    };
    z.DoProgress = [this](int, int) {
        if (total_ >= z_->BytesRemaining) ProgressUpTo(total_ - z_->BytesRemaining);
    };
    z.OnRenameFile = [this](TZipCommon&, const std::string& oldName, std::string& newName) {
        std::string name = req_.forceDos ? DosName(oldName) : oldName;
        if (Call(zacNewName, 0, 0, name)) return;
        if (cb_.ErrorCode == 1) {
            std::string answer(cb_.Text, strnlen(cb_.Text, sizeof cb_.Text));
            std::replace(answer.begin(), answer.end(), '\\', '/');
            while (!answer.empty() && answer.front() == '/')
                answer.erase(answer.begin());
            if (!answer.empty()) name = answer;
        }
        newName = name;
    };
    z.NewEntryComment = [this](const std::string& name) {
        if (Call(zacFileComment, 0, 0, name) || cb_.ErrorCode == 0) return std::string();
        const size_t n = std::min<size_t>(strnlen(cb_.Text, sizeof cb_.Text),
                                          static_cast<size_t>(std::clamp<int32_t>(cb_.FileSize, 0, 511)));
        return std::string(cb_.Text, n);
    };
}

int32_t Engine::Add() {
    if (req_.specs.empty()) {
        Message(zenNothing, "No files to add; the archive was not changed");
        return 0;
    }
    if (!ObtainPassword() || stop_) return 0;
    TZip z;
    z_ = &z;
    z.SetArchiveFile(req_.archive);
    Wire(z);
    char cwd[PATH_MAX];
    const std::string current = getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
    // Names are stored relative to the root folder the caller gave (the first one), else the current folder.
    std::string root;
    for (const auto& s : req_.specs)
        if (!s.root.empty()) {
            root = s.root;
            break;
        }
    if (!root.empty() && root[0] != '/') root = current + "/" + root;
    z.SetDefaultDir(root.empty() ? current : root);
    for (size_t i = 0; i < req_.specs.size(); ++i) {
        const Spec& s = req_.specs[i];
        std::string base = s.root.empty() ? current : (s.root[0] == '/' ? s.root : current + "/" + s.root);
        if (base.back() != '/') base.push_back('/');
        z.FileSpec.push_back(s.spec[0] == '/' ? s.spec : base + s.spec);
        z.SpecRecurse.push_back(s.recurse);
        z.SpecPassword[static_cast<int>(i)] = s.encrypt ? (s.ownPassword ? s.password : req_.password) : std::string();
    }
    z.Password = req_.encrypt ? req_.password : std::string();
    z.RecurseDirs = req_.recurse;
    z.StoredDirNames = req_.junkDir ? sdNone : sdExplorer;
    z.SkipHidden = !req_.hidden;
    z.StoreEmptySubDirs = !req_.noDirEntries;
    z.AllDirEntries = !req_.noDirEntries;
    if (req_.level == 0) {
        z.SetCompressMethod(cmStore);
    } else {
        z.SetCompressMethod(cmDeflate);
        z.DeflateType = req_.level == 1 ? dtDeflateS : req_.level <= 3 ? dtDeflateF : req_.level <= 7 ? dtDeflateN : dtDeflateX;
    }
    z.StoreAlreadyCompressedFiles = false;
    z.StoreSuffixes = req_.suffixes;
    z.ExcludeSpec = req_.exclusions;
    z.Switch = req_.move ? swMove : swAdd;
    z.DeleteOptions = doFinal;
    z.VerifyBeforeDelete = true;
    z.FreshenOnly = req_.freshen;
    const bool onlyNewer = req_.update || req_.freshen;
    z.OnReplaceFile = [onlyNewer](TZipCommon&, const std::string&, const std::string&, int64_t oldDate,
                                  int64_t newDate, uint64_t, uint64_t, uint32_t, uint32_t, bool& replace) {
        replace = !onlyNewer || newDate > oldDate + 1;  // DOS times hold even seconds
    };
    if (req_.comment) z.SetArchiveComment(*req_.comment);
    if (!req_.tempDir.empty()) {
        // Only a folder on the archive's file system: the finished archive must be renamed into place.
        struct stat a {}, t {};
        std::string dir = ExtractFilePath(req_.archive);
        if (dir.empty()) dir = ".";
        if (stat(dir.c_str(), &a) == 0 && stat(req_.tempDir.c_str(), &t) == 0 && S_ISDIR(t.st_mode) &&
            a.st_dev == t.st_dev)
            z.TempDirOverride = req_.tempDir;
    }
    int added = z.CompressArchive();
    if (z.Failed()) added = 0;
    replaced_ = added > 0;
    if (added > 0 && req_.latestTime) {
        int64_t newest = 0;
        for (const auto& e : z.Entries())
            if (e.action != acDrop) newest = std::max(newest, e.mtime);
        if (newest > 0) {
            struct timespec times[2] = {{newest, 0}, {newest, 0}};
            if (utimensat(AT_FDCWD, req_.archive.c_str(), times, 0) != 0)
                Message(zenWarning, "The archive's time could not be set: " + req_.archive);
        }
    }
    z_ = nullptr;
    return added;
}

int32_t Engine::Delete() {
    if (req_.specs.empty()) {
        Message(zenNothing, "No entries selected for deletion; the archive was not changed");
        return 0;
    }
    if (stop_) return 0;
    TZip z;
    z_ = &z;
    z.SetArchiveFile(req_.archive);
    Wire(z);
    std::vector<std::string> specs;
    for (const auto& s : req_.specs)
        specs.push_back(s.spec);
    z.FileSpec = specs;
    z.SelectForDelete = [specs](const std::string& name) {
        for (const auto& s : specs) {
            if (s[0] == '\\') {
                // One entry by its exact name; a folder's name ("docs/") with everything below it.
                std::string exact = s.substr(1);
                std::replace(exact.begin(), exact.end(), '\\', '/');
                if (!exact.empty() && exact.back() == '/') {
                    exact.pop_back();
                    if (name == exact || name.compare(0, exact.size() + 1, exact + "/") == 0) return true;
                } else if (name == exact) {
                    return true;
                }
            } else {
                std::string p = s;
                std::replace(p.begin(), p.end(), '\\', '/');
                while (p.size() > 1 && p.back() == '/')
                    p.pop_back();
                if (NameMatchesSpec(name, p) ||
                    (p.find_first_of("*?") == std::string::npos && name.size() > p.size() &&
                     UpperAscii(name.substr(0, p.size() + 1)) == UpperAscii(p + "/")))
                    return true;
            }
        }
        return false;
    };
    // A delete compresses nothing, so the writer's progress never speaks: every entry it goes past is a
    // callback of its own (no bytes), which gives the caller its chance to stop the run before the archive is
    // replaced.
    z.ProcessMessages = [this] { Call(zacProgress, 0, 0, {}); };
    z.Switch = swDelete;
    int deleted = z.CompressArchive();
    if (z.Failed()) deleted = 0;
    replaced_ = deleted > 0;
    z_ = nullptr;
    return deleted;
}

int32_t Engine::Run(void* record) {
    if (!record) return 0;
    std::string why;
    if (!Load(record, why)) {
        Message(zenArguments, "The parameter record cannot be used: " + why);
        Call(zacEndOfBatch, 0, 0, {});
        return 0;
    }
    if (req_.trace)
        Message(zenOk, std::string(req_.del ? "Deleting from " : "Adding to ") + req_.archive);
    int32_t done = 0;
    try {
        done = req_.del ? Delete() : Add();
    } catch (const std::bad_alloc&) {
        z_ = nullptr;
        Message(zenMemory, "Out of memory; the archive was not changed");
        done = 0;
    } catch (const std::exception& e) {
        z_ = nullptr;
        Message(zenInternal, std::string("Internal error; the archive was not changed: ") + e.what());
        done = 0;
    }
    if (stop_ && !replaced_) {
        Message(zenAborted, "Stopped; the archive was not changed");
        done = 0;
    }
    if (req_.verbose || req_.trace)
        Message(zenOk, std::to_string(done) + (req_.del ? " entries deleted" : " files added"));
    Call(zacEndOfBatch, 0, 0, {});
    return done;
}

}  // namespace

int32_t Exec(void* record, int version) noexcept {
    try {
        Engine engine(version);
        return engine.Run(record);
    } catch (...) {
        return 0;
    }
}

}  // namespace varnok::zipdll
