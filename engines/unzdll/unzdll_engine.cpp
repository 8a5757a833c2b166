#include "engines/unzdll/unzdll_engine.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "archive/core/errors.h"
#include "archive/core/lister.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "archive/formats/zip/unzip.h"
#include "engines/unzdll/unzdll.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::unzdll {
namespace {

constexpr int32_t kMaxArgs = 1 << 20;     // file patterns in one call
constexpr size_t kMaxPassword = 80;       // characters the record may carry
constexpr size_t kMaxText = 65535;        // longest name or pattern taken from the record
constexpr int kMaxPasswordRequests = 15;  // per entry

// The extractor with the engine's selection: patterns as the extraction base matches them, plus exact names.
class EngineUnZip final : public TUnZip {
  public:
    std::vector<std::string> Exact;  // full names; one ending in "/" takes that folder and what lies below it
    mutable int Matched = 0;

    bool SpecMatch(const std::string& name) const override {
        bool hit = false;
        for (const auto& e : Exact) {
            if (name == e || (!e.empty() && e.back() == '/' && name.size() > e.size() &&
                              name.compare(0, e.size(), e) == 0)) {
                hit = true;
                break;
            }
        }
        if (!hit && !FileSpec.empty()) hit = TUnZip::SpecMatch(name);
        if (hit) ++Matched;
        return hit;
    }
};

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
    size_t n = strnlen(p, max + 1);
    if (n > max) return false;
    out.assign(p, n);
    return true;
}

bool IsDataError(int code) {
    switch (code) {
        case E_CrcCheck:
        case E_BadBlock:
        case E_BadHuffmanCode:
        case E_InvalidCode:
        case E_IncorrectBits:
        case E_IncompleteCodeSet:
        case E_CorruptInput:
        case E_InvalidDecodeTree:
        case E_UnexpectedEof:
        case E_AmbiguousTree:
        case E_StackOverflow:
        case E_BadLengths:
            return true;
        default:
            return false;
    }
}

// The library's error value for a numbered error of the archive components.
int MapError(int code, bool aboutArchive) {
    if (IsDataError(code)) return uenData;
    switch (code) {
        case E_FileNotFound:
        case E_InvalidArcType:
        case E_ReadFile:
        case E_SeekError:
            return uenArchive;
        case E_OpenFile:
            return aboutArchive ? uenArchive : uenWrite;
        case E_BadFileHeader:
        case E_HeaderCrc:
        case E_HeaderId:
        case E_InconsistentLocal:
        case E_BrokenMultiVolume:
        case E_HeaderNotFound:
            return uenFormat;
        case E_InvalidPassword:
        case E_PasswordFailed:
        case E_PasswordProtected:
            return uenPassword;
        case E_UnsupportedMethod:
        case E_UnsupportedVersion:
            return uenMethod;
        case E_WriteFile:
        case E_CloseFile:
        case E_CreateDir:
        case E_UnableCreateDir:
        case E_DiskFull:
        case E_NotEnoughSpace:
        case E_MaxFileSize:        // past a bomb limit
        case E_FileSizeExceedsOs:  // longer than the destination takes
            return uenWrite;
        case E_InvalidFileName:
            return uenName;
        case E_OutOfMemory:
            return uenMemory;
        case E_UserCanceled:
            return uenAborted;
        default:
            return uenWarning;
    }
}

// What the parameter record asks for.
struct Request {
    void* handle = nullptr;
    void* caller = nullptr;
    ZipCallback callback = nullptr;
    bool trace = false, verbose = false, test = false, update = false, freshen = false, dirNames = false,
         overwrite = false;
    std::string archive, password, extractDir, codePage;
    bool passwordTooLong = false;
    std::vector<std::string> specs;
    bool toMemory = false;
    uint8_t* block = nullptr;
    uint32_t blockSize = 0;
    int passwordRequests = 1;
    uint64_t maxRatio = 1'000'000, maxSize = 0;  // TUnBase's MaxRatio and MaxSize
};

class Engine {
  public:
    explicit Engine(int version) : version_(version) {}
    int32_t Run(void* record);

  private:
    bool Load(void* record);
    template <typename R>
    void LoadCommon(const R& r);
    bool Call(int action, int32_t value20, uint64_t value24, std::string_view text);
    void Message(int error, const std::string& text);
    int32_t Extract(bool test, const std::string& destination, bool useDirs);
    int32_t ExtractToMemory();
    void Totals();
    void Hook();
    void OnBegin(const std::string& name, bool& extract);
    void OnEnd(const std::string& name, bool pass);
    void OnError(const std::string& file, const std::string& detail, int code);
    void OnEntryFailed(const std::string& stored, const std::string& output, int code,
                       const std::string& detail);
    void OnPassword(const std::string& entry, std::string& password, bool& tryAgain);
    bool AskDisk(int disk);
    void Skip(const std::string& entry, int type, int error);
    void Progress();
    void TopUp(const std::string& entry);
    void EndEntry();

    struct Info {
        uint64_t size = 0;
        uint32_t crc = 0;
        bool encrypted = false;
    };
    const Info* Find(const std::string& entry) const {
        auto it = infos_.find(entry);
        return it == infos_.end() ? nullptr : &it->second;
    }

    const int version_;
    Request req_;
    ZipCallbackRecord cb_{};
    bool stop_ = false;
    EngineUnZip* z_ = nullptr;
    std::map<std::string, Info> infos_;
    int passed_ = 0;
    int seen_ = 0;
    int lastReported_ = 0;       // the last numbered error of the run passed on as a message
    int entryError_ = 0;         // why the entry in progress failed
    std::string entryText_;      // and the message that says so
    bool attemptSaid_ = false;   // a wrong password of the entry was said
    std::string current_;        // the entry between its begin and its verdict
    std::string currentOutput_;  // the file it is written to (deleted when the run is stopped half-way)
    uint64_t currentSize_ = 0;
    uint64_t reported_ = 0;    // progress bytes given for the entry in progress
    uint64_t staleCount_ = 0;  // the output counter as the previous entry left it
    bool started_ = false;
    std::string askEntry_;
    int asksLeft_ = 0;
    std::vector<std::string> passedOutputs_;
};

bool Engine::Call(int action, int32_t value20, uint64_t value24, std::string_view text) {
    if (!req_.callback) return stop_;
    std::memset(&cb_, 0, sizeof cb_);
    cb_.Handle = req_.handle;
    cb_.Caller = req_.caller;
    cb_.Version = version_;
    cb_.IsOperationZip = 0;
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
    if (r != 0 && !stop_) {
        stop_ = true;
        if (z_) z_->SetCancel(true);
    }
    return stop_;
}

void Engine::Message(int error, const std::string& text) {
    Call(zacMessage, error, 0, text);
}

template <typename R>
void Engine::LoadCommon(const R& r) {
    req_.handle = r.Handle;
    req_.caller = r.Caller;
    req_.callback = r.Callback;
    req_.trace = r.TraceEnabled != 0;
    req_.verbose = r.Verbose != 0 || req_.trace;
    req_.test = r.Test != 0;
    req_.update = r.Update != 0;
    req_.freshen = r.Freshen != 0 && !req_.update;
    req_.dirNames = r.Directories != 0;
    req_.overwrite = r.Overwrite != 0;
}

bool Engine::Load(void* record) {
    if (!record) return false;
    const char* archive = nullptr;
    const char* password = nullptr;
    std::vector<const char*> specs;
    if (version_ <= 151) {
        const auto& r = *static_cast<const UnzExecRecordOld*>(record);
        // Without the 7 the record is not one of ours: nothing in it, the callback included, can be trusted.
        if (r.Seven != 7) return false;
        LoadCommon(r);
        if (r.ArgCount < 0 || r.ArgCount > UNZ_OLD_MAX_SPECS) {
            Message(uenArguments, "Bad number of file patterns: " + std::to_string(r.ArgCount));
            return false;
        }
        specs.assign(r.FileSpecs, r.FileSpecs + r.ArgCount);
        archive = r.ZipFileName;
        password = r.Password;
        req_.passwordRequests = 1;
    } else {
        const auto& r = *static_cast<const UnzExecRecord*>(record);
        if (r.Seven != 7) return false;
        LoadCommon(r);
        if (r.ArgCount < 0 || r.ArgCount > kMaxArgs || (r.ArgCount > 0 && !r.FileData)) {
            Message(uenArguments, "Bad number of file patterns: " + std::to_string(r.ArgCount));
            return false;
        }
        for (int32_t i = 0; i < r.ArgCount; ++i)
            specs.push_back(r.FileData[i].FileSpec);
        archive = r.ZipFileName;
        password = r.Password;
        req_.passwordRequests =
            version_ >= 160 ? std::clamp<int32_t>(r.PasswordReqCount, 0, kMaxPasswordRequests) : 1;
        if (version_ >= 160 && r.ExtractToMemory) {
            req_.toMemory = true;
            req_.block = static_cast<uint8_t*>(r.MemoryBlock);
            req_.blockSize = r.MemoryBlockSize;
        }
        if (!ReadText(r.ExtractDir, kMaxText, req_.extractDir)) {
            Message(uenArguments, "The destination folder's name is too long");
            return false;
        }
        if (!ReadText(r.NameCodePage, 64, req_.codePage)) {
            Message(uenArguments, "The code page's name is too long");
            return false;
        }
        if (r.MaxRatio) req_.maxRatio = r.MaxRatio == 0xFFFFFFFFu ? 0 : r.MaxRatio;
        req_.maxSize = uint64_t{r.MaxSizeMiB} << 20;
    }
    if (!ReadText(archive, kMaxText, req_.archive) || req_.archive.empty()) {
        Message(uenArguments, "No archive name given");
        return false;
    }
    // A longer password cannot have come through the record intact: refuse it rather than use a cut one.
    if (!ReadText(password, kMaxPassword, req_.password)) {
        Message(uenArguments, "The password is longer than 80 characters; nothing was extracted");
        return false;
    }
    for (const char* s : specs) {
        std::string spec;
        if (!ReadText(s, kMaxText, spec)) {
            Message(uenArguments, "A file pattern is too long");
            return false;
        }
        if (!spec.empty()) req_.specs.push_back(std::move(spec));
    }
    if (req_.toMemory) {
        // One entry, written as it is: the update rules and testing do not apply.
        req_.test = req_.update = req_.freshen = false;
    }
    if (req_.toMemory && ((!req_.block && req_.blockSize > 0) || req_.specs.empty())) {
        Message(uenArguments, "No entry or no memory block given for extraction to memory");
        return false;
    }
    return true;
}

void Engine::Hook() {
    EngineUnZip& z = *z_;
    z.OnBegin = [this](TZipCommon&, const std::string& name, int, bool& extract) { OnBegin(name, extract); };
    z.OnEnd = [this](TZipCommon&, const std::string& name, bool pass) { OnEnd(name, pass); };
    z.OnEntryFailed = [this](TZipCommon&, const std::string& stored, const std::string& output, int code,
                             const std::string& detail) { OnEntryFailed(stored, output, code, detail); };
    z.OnError = [this](TZipCommon&, const std::string& file, const std::string& detail, const std::string&,
                       int code) { OnError(file, detail, code); };
    z.OnGetPassword = [this](TZipCommon&, const std::string& entry, std::string& password, bool& tryAgain) {
        OnPassword(entry, password, tryAgain);
    };
    z.ProcessMessages = [this] { Progress(); };
    z.OnCorruptZipHeader = [this](TZipCommon&, uint8_t, bool& cancel) {
        Message(uenWarning,
                "The central directory is missing or damaged; the local headers are read instead");
        cancel = stop_;
    };
    z.OnGetZipFirstDisk = [this](TZipCommon&, bool& cancel) { cancel = !AskDisk(1); };
    z.OnGetZipLastDisk = [this](TZipCommon&, bool& cancel) { cancel = !AskDisk(0); };
    z.OnGetZipNextDisk = [this](TZipCommon&, const std::string& disk, bool& cancel) {
        int n = IsDigits(disk) && !disk.empty() && disk.size() < 6 ? std::stoi(disk) : 0;
        cancel = !AskDisk(n);
    };
}

bool Engine::AskDisk(int disk) {
    std::string text = disk == 0 ? "Please insert the last disk of the set"
                                 : "Please insert disk " + std::to_string(disk) + " of the set";
    // A caller that does not know the question leaves 20 at 1: give up.
    if (!req_.callback || Call(zacDisk, 1, static_cast<uint64_t>(disk), text)) return false;
    return cb_.ErrorCode == 0;
}

void Engine::Totals() {
    // The entries' sizes and check values, for the totals, the new-file reports and the CRC questions.
    TArcLister l;
    l.NameCodePage = req_.codePage;
    l.SetArchiveFile(req_.archive);
    l.FileSpec = {"*.*"};
    l.ShowEmptyDirs = true;
    // A set on removable disks: the directory's disk is asked for as the extraction will ask for it.
    l.OnGetZipFirstDisk = z_->OnGetZipFirstDisk;
    l.OnGetZipLastDisk = z_->OnGetZipLastDisk;
    l.OnGetZipNextDisk = z_->OnGetZipNextDisk;
    uint64_t files = 0, bytes = 0;
    l.OnRead = [&](TZipCommon&, uint64_t, int) {
        const ListEntry& e = l.Entry();
        infos_[e.EntryName] = Info{e.UnpackedSize, e.EntryCrc, e.Encrypted};
        if (!e.IsDirectory && z_->SpecMatch(e.EntryName)) {
            ++files;
            bytes += e.UnpackedSize;
        }
    };
    l.ReadArchive();
    z_->Matched = 0;
    Call(zacTotalFiles, 0, files, {});
    Call(zacTotalSize, 0, bytes, {});
}

void Engine::Progress() {
    if (current_.empty()) return;
    uint64_t c = z_->OutputCount();
    // Until the entry's data start, the counter still holds the previous entry's count.
    if (!started_) {
        if (c == staleCount_) return;
        started_ = true;
    }
    c = std::min(c, currentSize_);
    if (c > reported_) {
        uint64_t d = c - reported_;
        reported_ = c;
        Call(zacProgress, 0, d, {});
    }
}

void Engine::TopUp(const std::string& entry) {
    // Every selected entry counts with its whole size, whether it was extracted, skipped or failed.
    const Info* info = Find(entry);
    uint64_t size = info ? info->size : currentSize_;
    if (size > reported_) Call(zacProgress, 0, size - reported_, {});
    reported_ = 0;
}

void Engine::EndEntry() {
    current_.clear();
    currentOutput_.clear();
    currentSize_ = 0;
    reported_ = 0;
    entryError_ = 0;
    entryText_.clear();
    attemptSaid_ = false;
}

void Engine::Skip(const std::string& entry, int type, int error) {
    TopUp(entry);
    Call(zacSkipped, error, static_cast<uint64_t>(type), entry);
}

void Engine::OnBegin(const std::string& name, bool& extract) {
    ++seen_;
    entryError_ = 0;
    entryText_.clear();
    const std::string entry = z_->TUnBase::EntryName();
    const Info* info = Find(entry);
    extract = false;
    if (stop_) return;
    if (!req_.test) {
        struct stat st;
        const bool exists = lstat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
        const bool older = exists && st.st_mtime < z_->CurrentEntryDate();
        if (req_.freshen && !exists) {
            Skip(entry, zstNotPresent, uenOk);
            return;
        }
        if ((req_.update || req_.freshen) && exists && !older) {
            Skip(entry, zstNotNewer, uenOk);
            return;
        }
        if (exists) {
            // Update and freshen replace older files unless the caller says otherwise.
            int32_t def = (req_.update || req_.freshen || req_.overwrite) ? 1 : 0;
            if (Call(zacOverwrite, older ? 1 : 0, static_cast<uint64_t>(def), name)) return;
            int32_t answer = req_.callback ? cb_.FileSize : def;
            if (answer == 0) {
                Skip(entry, zstExisting, uenOk);
                return;
            }
        }
    }
    current_ = entry;
    currentOutput_ = req_.test ? std::string() : name;
    currentSize_ = info ? info->size : 0;
    reported_ = 0;
    staleCount_ = z_->OutputCount();
    started_ = false;
    if (req_.verbose) Message(uenOk, (req_.test ? "Testing: " : "Extracting: ") + entry);
    if (Call(zacNewFile, 0, currentSize_, entry)) {
        EndEntry();
        return;
    }
    extract = true;
}

void Engine::OnEntryFailed(const std::string& stored, const std::string& output, int code,
                           const std::string& detail) {
    entryError_ = code;
    if (code == E_CrcCheck && detail.empty()) {
        entryText_ = "CRC error in " + stored;
        return;
    }
    entryText_ = ErrorText(code) + ": " + (output.empty() ? stored : output);
    if (!detail.empty()) entryText_ += " (" + detail + ")";
}

void Engine::OnEnd(const std::string& name, bool pass) {
    const std::string entry = current_.empty() ? name : current_;
    const Info* info = Find(entry);
    Progress();
    TopUp(entry);
    if (pass) {
        ++passed_;
        if (!currentOutput_.empty()) passedOutputs_.push_back(currentOutput_);
        if (req_.verbose) Message(uenOk, (req_.test ? "OK: " : "Extracted: ") + entry);
        EndEntry();
        return;
    }
    // The entry's one failure report (OnEntryFailed) said why.
    const int code = entryError_ ? entryError_ : E_CrcCheck;
    const std::string text = entryText_.empty() ? "CRC error in " + entry : entryText_;
    const bool password =
        code == E_InvalidPassword || code == E_PasswordProtected || code == E_PasswordFailed;
    if (password && (!info || info->encrypted)) {
        // One message per entry: a wrong password said already is the reason.
        if (!attemptSaid_) Message(uenPassword, text);
        Call(zacSkipped, uenPassword, zstPassword, entry);
    } else if (IsDataError(code)) {
        // The data came out wrong: say so, and let the caller decide whether the file stays.
        Message(uenData, text);
        const uint32_t found = ~z_->Crc32Value;
        const uint32_t stored = info ? info->crc : 0;
        std::string output = currentOutput_;
        if (!Call(zacCrcError, static_cast<int32_t>(found), stored, entry) && req_.callback &&
            cb_.ErrorCode == 0 && !output.empty()) {
            // Discard the damaged file this run has written.
            unlink(output.c_str());
        }
    } else {
        Message(MapError(code, false), text);
        // A method that cannot be decoded leaves nothing worth keeping in the file this run opened for it.
        if (code == E_UnsupportedMethod && !currentOutput_.empty()) unlink(currentOutput_.c_str());
        Call(zacSkipped, MapError(code, false), zstError, entry);
    }
    EndEntry();
}

void Engine::OnError(const std::string& file, const std::string& detail, int code) {
    if (code == E_UserCanceled) return;
    if (z_->ReportingAttempt()) {
        // A wrong password is said once for its entry, whether the entry then comes out or not.
        if (attemptSaid_) return;
        attemptSaid_ = true;
    } else if (z_->ReportingWarning()) {
        Message(uenWarning, ErrorText(code) + ": " + file + (detail.empty() ? "" : " (" + detail + ")"));
        return;
    } else if (z_->ReportingForEntry()) {
        // What is said of an entry comes once, with its verdict.
        return;
    }
    lastReported_ = code;
    std::string text = ErrorText(code);
    if (!file.empty()) text += ": " + file;
    if (!detail.empty()) text += " (" + detail + ")";
    Message(MapError(code, file == req_.archive), text);
}

void Engine::OnPassword(const std::string& entry, std::string& password, bool& tryAgain) {
    tryAgain = false;
    password.clear();
    if (entry != askEntry_) {
        askEntry_ = entry;
        asksLeft_ = req_.passwordRequests;
    }
    while (asksLeft_ > 0 && !stop_) {
        --asksLeft_;
        if (Call(zacPassword, 0, static_cast<uint64_t>(asksLeft_), entry)) return;
        if (!req_.callback) return;
        asksLeft_ = std::clamp<int32_t>(cb_.FileSize, 0, kMaxPasswordRequests);
        if (cb_.ErrorCode != 1) continue;  // no password this time; ask again while the count allows
        std::string given;
        if (!ReadText(cb_.Text, kMaxPassword, given)) {
            Message(uenPassword, "A password longer than 80 characters was refused");
            continue;
        }
        password = given;
        tryAgain = true;
        return;
    }
}

int32_t Engine::Extract(bool test, const std::string& destination, bool useDirs) {
    EngineUnZip z;
    z_ = &z;
    struct Reset {
        EngineUnZip*& p;
        ~Reset() { p = nullptr; }
    } reset{z_};
    if (!platform::FileExists(req_.archive)) {
        Message(uenArchive, "Archive not found: " + req_.archive);
        return 0;
    }
    z.SetArchiveFile(req_.archive);
    if (!IsZipType(z.ArcType())) {
        Message(uenArchive, "Not a ZIP archive: " + req_.archive);
        return 0;
    }
    if (z.ArcType() == atZipMV && !z.DiskManager.IsRemovable() && z.HasEndRecord &&
        z.EndRecord.thisDisk > 0) {
        // A set split into files: the directory must fit into the parts it lies in, or its claimed size would
        // be reserved for nothing.
        ZipVolumeSet parts(req_.archive, z.EndRecord.thisDisk);
        uint64_t available = 0;
        for (int disk = z.EndRecord.cdDisk; disk <= z.EndRecord.thisDisk && available < z.EndRecord.cdSize;
             ++disk) {
            int64_t size = platform::FileSizeOf(parts.PathOf(disk));
            if (size < 0) break;
            uint64_t from = disk == z.EndRecord.cdDisk ? z.EndRecord.cdOffset : 0;
            if (static_cast<uint64_t>(size) > from) available += static_cast<uint64_t>(size) - from;
        }
        if (z.EndRecord.cdSize > available) {
            Message(uenFormat,
                    "The central directory does not fit into the parts of the set: " + req_.archive);
            return 0;
        }
    }
    for (const auto& s : req_.specs) {
        if (s[0] == '\\') {
            std::string exact = s.substr(1);
            std::replace(exact.begin(), exact.end(), '\\', '/');
            if (!exact.empty()) z.Exact.push_back(exact);
        } else {
            z.FileSpec.push_back(s);
        }
    }
    if (req_.specs.empty()) z.FileSpec = {"*.*"};
    z.NameCodePage = req_.codePage;
    z.MaxRatio = req_.maxRatio;
    z.MaxSize = req_.maxSize;
    z.LimitsHint = "the extraction limits can be raised";
    z.ExtractDir = test ? std::string() : destination;  // testing creates no folder
    z.UseStoredDirs = useDirs;
    z.CreateStoredDirs = useDirs;
    z.ConfirmOverwrites = false;
    if (!req_.password.empty()) z.Passwords = {req_.password};
    z.PasswordAttempts = kMaxPasswordRequests + 1;
    Hook();
    if (req_.trace) {
        Message(uenOk, "Archive: " + req_.archive);
        if (!test) Message(uenOk, "Destination: " + destination);
    }
    Totals();
    if (stop_) return 0;
    auto dropPartial = [this] {
        // Stopped in the middle of a file: what this run wrote of it is not kept.
        if (!current_.empty() && !currentOutput_.empty()) unlink(currentOutput_.c_str());
        if (!current_.empty()) EndEntry();
    };
    try {
        if (test)
            z.TestArchive();
        else
            z.ExtractArchive();
    } catch (const ArchiveError& e) {
        if (e.Code() != lastReported_) {
            std::string text = e.what();
            Message(MapError(e.Code(), e.FileName() == req_.archive), text);
        }
    } catch (...) {
        dropPartial();
        throw;
    }
    dropPartial();
    if (stop_)
        Message(uenAborted, "Stopped by the caller");
    else if (!req_.specs.empty() && seen_ == 0 && z.Matched == 0)
        Message(uenNoMatch, "No entry matches the file patterns");
    return passed_;
}

int32_t Engine::ExtractToMemory() {
    // The entry is extracted into a private folder and read back from there.
    std::string dir = platform::CreateTempDir(platform::SystemTempDir(), "vnkunz");
    if (dir.empty()) {
        Message(uenWrite, "A temporary folder could not be created");
        return 0;
    }
    struct Remove {
        std::string d;
        ~Remove() { platform::RemoveTree(d); }
    } remove{dir};
    req_.specs.resize(1);
    Extract(false, dir, true);
    if (stop_ || passedOutputs_.size() != 1) {
        if (passedOutputs_.size() > 1) Message(uenArguments, "The file pattern selects more than one entry");
        return 0;
    }
    int fd = ::open(passedOutputs_[0].c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Message(uenWrite, "The extracted entry cannot be read back");
        return 0;
    }
    struct stat st;
    bool ok =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) == req_.blockSize;
    size_t done = 0;
    while (ok && done < req_.blockSize) {
        ssize_t n = ::read(fd, req_.block + done, static_cast<size_t>(req_.blockSize) - done);
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (!ok) {
        Message(uenMemory, "The entry does not fit the memory block");
        return 0;
    }
    return 1;
}

int32_t Engine::Run(void* record) {
    int32_t result = 0;
    bool loaded = false;
    try {
        loaded = Load(record);
        if (loaded) {
            if (req_.toMemory) {
                result = ExtractToMemory();
            } else {
                std::string dest = req_.extractDir;
                if (dest.empty() && !req_.test) {
                    char cwd[PATH_MAX];
                    dest = getcwd(cwd, sizeof cwd) ? cwd : ".";
                }
                result = Extract(req_.test, dest, req_.dirNames);
            }
        }
    } catch (const std::bad_alloc&) {
        result = passed_;
        Message(uenMemory, "Out of memory");
    } catch (const std::exception& e) {
        result = passed_;
        Message(uenInternal, std::string("Unexpected failure: ") + e.what());
    } catch (...) {
        result = passed_;
        Message(uenInternal, "Unexpected failure");
    }
    if (loaded) Call(zacEndOfBatch, 0, 0, {});
    return result;
}

}  // namespace

int32_t Exec(void* record, int version) noexcept {
    try {
        Engine e(version);
        return e.Run(record);
    } catch (...) {
        return 0;
    }
}

}  // namespace varnok::unzdll
