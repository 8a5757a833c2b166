// The extract side of TZipBridge: loading the extract engine library, the parameter record, the callback and
// the built-in password prompt.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/core/utils.h"
#include "engines/unzdll/unzdll.h"
#include "platform/drive.h"
#include "platform/fileattr.h"
#include "zipbridge/engine_library.h"
#include "zipbridge/messages.h"
#include "zipbridge/zip_bridge.h"

namespace varnok {

namespace {

constexpr size_t kMaxRecordPassword = 80;
constexpr size_t kMaxText = ZIP_CALLBACK_TEXT_SIZE - 1;

// The folder of the running program.
std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string p(buf, static_cast<size_t>(n));
    size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
}

// The text area of a callback record, read no further than its size, with "\" taken as "/".
std::string CallbackText(const ZipCallbackRecord& r) {
    std::string s(r.Text, strnlen(r.Text, sizeof r.Text));
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

// Writes a text of at most 511 bytes (checked by the caller) and its terminator into the text area.
void PutCallbackText(ZipCallbackRecord& r, const std::string& s) {
    size_t n = std::min(s.size(), kMaxText);
    if (n) std::memcpy(r.Text, s.data(), n);
    r.Text[n] = '\0';
}

int64_t CallbackSize(const ZipCallbackRecord& r) {
    return static_cast<int64_t>((static_cast<uint64_t>(r.FileSizeHigh) << 32) |
                                static_cast<uint32_t>(r.FileSize));
}

}  // namespace

TZipBridge::TZipBridge() = default;
TZipBridge::~TZipBridge() = default;

std::string TZipBridge::UnzDllPath() const {
    return unz_ ? unz_->path : std::string();
}

void TZipBridge::SetDLLDirectory(const std::string& dir) {
    dllDirectory_ = dir;
    while (dllDirectory_.size() > 1 && (dllDirectory_.back() == '/' || dllDirectory_.back() == '\\'))
        dllDirectory_.pop_back();
}

std::string TZipBridge::FormatMessage(int id, std::initializer_list<std::string> args) const {
    std::string text = BridgeMessageText(id);
    // Each "%" placeholder ("%d", "%s", "%.1d") takes the next argument.
    auto arg = args.begin();
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && arg != args.end()) {
            size_t end = text.find_first_of("ds", i);
            if (end != std::string::npos) {
                out += *arg++;
                i = end;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::unique_ptr<TZipBridge::EngineLibrary> TZipBridge::LoadEngine(const char* fileName, const char* execName,
                                                                   const char* versionName, int messageBase) {
    // Only the program's own folders, or an absolute folder the caller chose; never a search by bare name,
    // never the current folder or the archive's folder.
    std::vector<std::string> candidates;
    if (!dllDirectory_.empty()) {
        if (dllDirectory_[0] != '/') {
            Message(messageBase + 4, " (" + dllDirectory_ + " is not an absolute folder)");
            return nullptr;
        }
        candidates.push_back(dllDirectory_ == "/" ? std::string("/") + fileName : dllDirectory_ + "/" + fileName);
    } else {
        std::string prog = ProgramFolder();
        if (!prog.empty()) {
            candidates.push_back(prog + "/" + fileName);
            candidates.push_back(prog + "/../lib/varnok/" + fileName);
        }
    }
    auto lib = std::make_unique<EngineLibrary>();
    std::string failure;
    for (const auto& c : candidates) {
        if (!platform::FileExists(c)) continue;
        lib->handle = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib->handle) {
            char real[PATH_MAX];
            lib->path = realpath(c.c_str(), real) ? real : c;
            break;
        }
        const char* e = dlerror();
        failure = e ? e : c;
    }
    if (!lib->handle) {
        Message(messageBase + 4, failure.empty() ? std::string() : " (" + failure + ")");
        return nullptr;
    }
    lib->execEntry = dlsym(lib->handle, execName);
    if (!lib->execEntry) {
        Message(messageBase + 2);
        return nullptr;
    }
    lib->version = reinterpret_cast<int32_t (*)()>(dlsym(lib->handle, versionName));
    if (!lib->version) {
        Message(messageBase + 3);
        return nullptr;
    }
    if (Trace) Message(messageBase + 1, " (" + lib->path + ")", false);
    return lib;
}

bool TZipBridge::LoadUnzDll() {
    if (unz_) return true;
    unz_ = LoadEngine(kUnzDllName, "UnzDllExec", "GetUnzDllVersion", 10700);
    return unz_ != nullptr;
}

void TZipBridge::UnloadUnzDll() {
    unz_.reset();
}

int TZipBridge::UnzDllVersion() {
    if (unz_) return unz_->version();
    if (!LoadUnzDll()) return 0;
    int v = unz_->version();
    UnloadUnzDll();
    return v;
}

int TZipBridge::Extract() {
    return ExtractRun(false);
}
int TZipBridge::ExtractToMemory() {
    return ExtractRun(true);
}

int TZipBridge::ExtractRun(bool toMemory) {
    if (extractBusy_) return 0;
    successCnt_ = 0;
    if (toMemory) memory_.clear();
    const unsigned savedRequests = passwordReqCount_;
    bool loadedHere = false;
    // Whatever happens: the patterns are used up, the settings of this run undone.
    struct Finish {
        TZipBridge& z;
        unsigned requests;
        bool& loaded;
        ~Finish() {
            z.FSpecArgs.clear();
            z.passwordReqCount_ = requests;
            if (loaded) z.UnloadUnzDll();
            z.SetCancel(false);
            z.extractBusy_ = false;
            z.callbackFailure_ = nullptr;
        }
    } finish{*this, savedRequests, loadedHere};

    if (zipFileName_.empty() || !platform::FileExists(zipFileName_)) {
        Message(10102);
        return 0;
    }
    if (Password.size() > kMaxRecordPassword) {
        // The record carries 80 characters: a longer password is refused rather than cut.
        Message(10504);
        return 0;
    }
    if (Unattended && Password.empty() && !OnPasswordError) {
        passwordReqCount_ = 0;
        Message(10502, {}, false);
    }
    extractBusy_ = true;
    SetCancel(false);
    callbackFailure_ = nullptr;
    if (!unz_) {
        if (!LoadUnzDll()) return 0;
        loadedHere = true;
    }
    // A spanned set goes to the library as it is: its extractor reads split sets and removable-disk sets
    // itself.
    const int version = unz_->version();
    if (toMemory && version < 160) {
        Message(10503);
        return 0;
    }

    std::string dest = ExtrBaseDir;
    const std::string codePage = ForcedCodePage();
    if (!dest.empty() && dest[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) dest = std::string(cwd) + "/" + dest;
    }
    if (dest.size() > 1) dest = RemoveSlash(dest);

    std::vector<std::string> specs = FSpecArgs;
    if (toMemory) {
        if (specs.empty()) return 0;
        std::string want = specs[0];
        if (!want.empty() && want[0] == '\\') want.erase(0, 1);
        std::replace(want.begin(), want.end(), '\\', '/');
        // The entry of exactly that name, else one that differs only in the case of its letters.
        const ZipDirEntry* hit = nullptr;
        for (const auto& e : entries_)
            if (e.FileName == want) {
                hit = &e;
                break;
            }
        if (!hit)
            for (const auto& e : entries_)
                if (UpperAscii(e.FileName) == UpperAscii(want)) {
                    hit = &e;
                    break;
                }
        if (!hit) return 0;
        if (hit->UncompressedSize > UINT32_MAX) {
            Message(10103);
            return 0;
        }
        try {
            memory_.assign(static_cast<size_t>(hit->UncompressedSize), 0);
        } catch (const std::bad_alloc&) {
            Message(10103);
            return 0;
        }
        specs = {ExactSpec(hit->FileName)};
    }

    auto flag = [](bool b) { return b ? -1 : 0; };
    const bool update = ExtrOptions.Has(ExtrUpdate);
    try {
        if (version > 151) {
            std::vector<UnzFileData> files(specs.size());
            for (size_t i = 0; i < specs.size(); ++i) {
                std::memset(&files[i], 0, sizeof files[i]);
                files[i].FileSpec = specs[i].c_str();
            }
            UnzExecRecord rec;
            std::memset(&rec, 0, sizeof rec);
            rec.Handle = nullptr;
            rec.Caller = this;
            rec.Version = 160;
            rec.Callback = &TZipBridge::EngineCallback;
            rec.TraceEnabled = flag(Trace);
            rec.Password = Password.empty() ? nullptr : Password.c_str();
            rec.Test = flag(ExtrOptions.Has(ExtrTest));
            rec.AlwaysTrue = -1;
            rec.Verbose = flag(Verbose || Trace);
            rec.Update = flag(update);
            rec.Freshen = flag(ExtrOptions.Has(ExtrFreshen) && !update);
            rec.Directories = flag(ExtrOptions.Has(ExtrDirNames));
            rec.Overwrite = flag(ExtrOptions.Has(ExtrOverWrite));
            rec.ArgCount = static_cast<int32_t>(specs.size());
            rec.ZipFileName = zipFileName_.c_str();
            rec.FileData = files.empty() ? nullptr : files.data();
            if (toMemory) {
                rec.ExtractToMemory = -1;
                rec.MemoryBlock = memory_.data();
                rec.MemoryBlockSize = static_cast<uint32_t>(memory_.size());
            }
            if (version >= 160) {
                rec.PasswordReqCount = static_cast<int32_t>(passwordReqCount_);
                rec.ExtractDir = dest.empty() ? nullptr : dest.c_str();
                rec.NameCodePage = codePage.empty() ? nullptr : codePage.c_str();
                rec.MaxRatio = ExtrMaxRatio == 0
                                   ? 0xFFFFFFFFu
                                   : static_cast<uint32_t>(std::min<uint64_t>(ExtrMaxRatio, 0xFFFFFFFEu));
                const uint64_t mib = (ExtrMaxSize >> 20) + ((ExtrMaxSize & 0xFFFFF) != 0);
                rec.MaxSizeMiB = static_cast<uint32_t>(std::min<uint64_t>(mib, 0xFFFFFFFFu));
            }
            rec.Seven = 7;
            successCnt_ = unz_->Exec<UnzDllExecFunc>()(&rec);
        } else {
            // An old library takes at most 4097 patterns per call and extracts into the current folder.
            int saved = -1;
            if (!dest.empty() && platform::DirectoryExists(dest)) {
                saved = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (saved >= 0 && chdir(dest.c_str()) != 0) {
                    close(saved);
                    saved = -1;
                }
            }
            size_t at = 0;
            do {
                auto rec = std::make_unique<UnzExecRecordOld>();
                std::memset(rec.get(), 0, sizeof *rec);
                rec->Caller = this;
                rec->Version = 160;
                rec->Callback = &TZipBridge::EngineCallback;
                rec->TraceEnabled = flag(Trace);
                rec->Password = Password.empty() ? nullptr : Password.c_str();
                rec->Test = flag(ExtrOptions.Has(ExtrTest));
                rec->AlwaysTrue = -1;
                rec->Verbose = flag(Verbose || Trace);
                rec->Update = flag(update);
                rec->Freshen = flag(ExtrOptions.Has(ExtrFreshen) && !update);
                rec->Directories = flag(ExtrOptions.Has(ExtrDirNames));
                rec->Overwrite = flag(ExtrOptions.Has(ExtrOverWrite));
                size_t n = std::min<size_t>(specs.size() - at, UNZ_OLD_MAX_SPECS);
                for (size_t i = 0; i < n; ++i)
                    rec->FileSpecs[i] = specs[at + i].c_str();
                rec->ArgCount = static_cast<int32_t>(n);
                rec->ZipFileName = zipFileName_.c_str();
                rec->Seven = 7;
                successCnt_ += unz_->Exec<UnzDllExecFunc>()(reinterpret_cast<UnzExecRecord*>(rec.get()));
                at += n;
            } while (at < specs.size() && !Cancel());
            if (saved >= 0) {
                if (fchdir(saved) != 0) {
                    // The folder the process started from is gone; nothing better to return to.
                }
                close(saved);
            }
        }
    } catch (const std::exception& e) {
        Message(10501, std::string("\n") + e.what());
    } catch (...) {
        Message(10501);
    }
    if (callbackFailure_) {
        std::string what;
        try {
            std::rethrow_exception(callbackFailure_);
        } catch (const std::exception& e) {
            what = std::string("\n") + e.what();
        } catch (...) {
        }
        Message(10501, what);
    }
    if (toMemory && successCnt_ != 1) memory_.clear();
    return successCnt_;
}

int32_t TZipBridge::EngineCallback(ZipCallbackRecord* record) {
    if (!record || !record->Caller) return 0;
    auto* self = static_cast<TZipBridge*>(record->Caller);
    try {
        return self->HandleCallback(*record);
    } catch (...) {
        // Nothing may pass through the library: remember the failure and stop the run.
        if (!self->callbackFailure_) self->callbackFailure_ = std::current_exception();
        self->SetCancel(true);
        return -1;
    }
}

std::string TZipBridge::AskPassword(bool adding) {
    if (Unattended || !PasswordDialog) {
        Message(adding ? 10150 : 10151, {}, false);
        return {};
    }
    PasswordPrompt p;
    p.Caption = FormatMessage(10154, {});
    p.OkText = FormatMessage(10152, {});
    p.CancelText = FormatMessage(10153, {});
    p.MaxLength = kMaxRecordPassword;
    p.Prompt = FormatMessage(10155, {});
    std::string first;
    if (!PasswordDialog(p, first)) return {};
    if (!adding) return first;
    p.Prompt = FormatMessage(10156, {});
    std::string second;
    if (!PasswordDialog(p, second)) return {};
    // The two entries must be the same, letter case included.
    if (first != second) {
        Message(10104);
        return {};
    }
    return first;
}

int32_t TZipBridge::HandleCallback(ZipCallbackRecord& r) {
    const std::string text = CallbackText(r);
    switch (r.ActionCode) {
        case zacNewFile:
            if (OnProgress) OnProgress(*this, 0, text, CallbackSize(r));
            break;
        case zacProgress:
            if (OnProgress) OnProgress(*this, 1, {}, CallbackSize(r));
            break;
        case zacEndOfBatch:
            if (OnProgress) OnProgress(*this, 2, {}, 0);
            break;
        case zacMessage:
            if (r.ErrorCode != 0) errCode_ = r.ErrorCode;
            lastMessage_ = text;
            if (OnMessage) OnMessage(*this, r.ErrorCode, text);
            break;
        case zacTotalFiles:
            if (OnProgress) OnProgress(*this, 3, {}, static_cast<uint32_t>(r.FileSize));
            break;
        case zacTotalSize:
            totalSize_ = CallbackSize(r);
            if (OnProgress) OnProgress(*this, 4, {}, totalSize_);
            break;
        case zacNewName: {
            std::string name = text;
            bool changed = false;
            if (OnSetNewName) OnSetNewName(*this, name, changed);
            r.ErrorCode = 0;
            if (changed) {
                if (name.size() > kMaxText) {
                    Message(10505, name, false);
                } else {
                    PutCallbackText(r, name);
                    r.ErrorCode = 1;
                }
            }
            break;
        }
        case zacPassword: {
            const bool adding = (r.ErrorCode & 1) != 0;
            unsigned repeat = static_cast<unsigned>(std::clamp<int32_t>(r.FileSize, 0, 15));
            std::string password;
            if (OnPasswordError)
                OnPasswordError(*this, password, text, repeat);
            else
                password = AskPassword(adding);
            if (password.size() > kMaxRecordPassword) {
                // Refused rather than cut: the library may ask again while the repeat count allows.
                Message(10504, {}, false);
                r.ErrorCode = 0;
                r.Text[0] = '\0';
            } else if (!password.empty()) {
                PutCallbackText(r, password);
                r.ErrorCode = 1;
            } else {
                r.ErrorCode = 0;
                r.Text[0] = '\0';
                repeat = 0;
            }
            r.FileSize = static_cast<int32_t>(std::min(repeat, 15u));
            break;
        }
        case zacCrcError:
            if (OnCRC32Error) {
                bool anyway = true;
                OnCRC32Error(*this, text, static_cast<uint32_t>(r.ErrorCode),
                             static_cast<uint32_t>(r.FileSize), anyway);
                r.ErrorCode = anyway ? 1 : 0;
            } else {
                r.ErrorCode = 2;
            }
            break;
        case zacOverwrite: {
            bool overwrite = r.FileSize != 0;
            if (OnExtractOverwrite) OnExtractOverwrite(*this, text, (r.ErrorCode & 1) != 0, overwrite);
            r.FileSize = overwrite ? 1 : 0;
            break;
        }
        case zacSkipped:
            if (r.ErrorCode != 0) errCode_ = r.ErrorCode;
            if (OnExtractSkipped) OnExtractSkipped(*this, text, r.FileSize & 0xFF, r.ErrorCode);
            break;
        case zacFileComment: {
            std::string comment;
            bool changed = false;
            if (OnFileComment) OnFileComment(*this, text, comment, changed);
            if (changed && comment.size() > kMaxText) {
                Message(10505, text, false);
                changed = false;
            }
            if (changed && !comment.empty())
                PutCallbackText(r, comment);
            else
                r.Text[0] = '\0';
            r.ErrorCode = changed ? 1 : 0;
            r.FileSize = changed ? static_cast<int32_t>(comment.size()) : 0;
            break;
        }
        case zacDisk: {
            const int wanted = std::max<int32_t>(r.FileSize, 0);
            const int total = lastDisk_ + 1;
            const std::string drive = platform::QueryDrive(zipFileName_).root;
            bool abort = false;
            if (OnGetNextDisk) {
                OnGetNextDisk(*this, wanted, total, drive, abort);
            } else if (Unattended || !ShowMessage) {
                abort = true;
            } else {
                std::string prompt =
                    wanted == 0 ? FormatMessage(11033, {})
                                : FormatMessage(11034, {std::to_string(wanted), std::to_string(total)});
                ShowMessage(prompt + FormatMessage(11035, {drive}));
            }
            r.ErrorCode = abort ? 1 : 0;
            break;
        }
        default:
            break;
    }
    if (ProcessMessages) ProcessMessages();
    return Cancel() ? -1 : 0;
}

}  // namespace varnok
