// The add/delete side of TZipBridge: loading the add/delete engine library, turning the component's
// properties and FSpecArgs into its parameter record, and the run around the call.
//
// The bridge itself never writes the archive: the library builds the new archive beside the old one and puts it
// in place only when it is complete, and deletes moved files only after that. So the bridge's part in "nothing
// lost" is to refuse before the call what cannot work (no files, a password the record cannot carry), to keep
// the record's texts alive through the call, and to take away a self-extractor stub it made for an add that
// then did not happen. The callback, shared with the extract library, is in zip_extract.cpp.
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "archive/core/utils.h"
#include "engines/zipdll/zipdll.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"
#include "zipbridge/engine_library.h"
#include "zipbridge/messages.h"
#include "zipbridge/zip_bridge.h"

namespace varnok {

namespace {

constexpr size_t kMaxRecordPassword = 80;

bool EndsWithExe(const std::string& name) {
    return name.size() >= 4 && UpperAscii(name.substr(name.size() - 4)) == ".EXE";
}

// One FSpecArgs item as the library takes it.
struct Item {
    std::string spec, password;
    bool ownPassword = false;
    int32_t encrypt = 0;
    uint16_t recurse = 0;
};

// ">" forces the search of subfolders and "|" forbids it; "pattern<password" gives the item its own password
// (encrypt value 65535) and "pattern<" stores it unencrypted; the marker characters are not part of the pattern.
// The last "<" is the marker, so a caller can always pass a name holding "<" by ending the item with its own
// "<" (and a leading "|" or ">" protects a name beginning with one of those).
Item ParseItem(const std::string& arg, int32_t encrypt, uint16_t recurse) {
    Item it;
    it.encrypt = encrypt;
    it.recurse = recurse;
    std::string s = arg;
    if (!s.empty() && s[0] == '>') {
        it.recurse = 0xFFFF;
        s.erase(0, 1);
    } else if (!s.empty() && s[0] == '|') {
        it.recurse = 0;
        s.erase(0, 1);
    }
    const size_t lt = s.rfind('<');
    if (lt != std::string::npos) {
        it.password = s.substr(lt + 1);
        s.resize(lt);
        if (it.password.empty()) {
            it.encrypt = 0;
        } else {
            it.ownPassword = true;
            it.encrypt = 65535;
        }
    }
    it.spec = s;
    return it;
}

const char* const kSuffixes[] = {"gif", "png", "z", "zip", "zoo", "arc", "lzh", "arj", "taz", "tgz", "lha", "exe"};

}  // namespace

void TZipBridge::SetRootDir(const std::string& dir) {
    rootDir_ = dir;
    std::replace(rootDir_.begin(), rootDir_.end(), '\\', '/');
    if (!rootDir_.empty() && rootDir_.back() != '/') rootDir_.push_back('/');
}

bool TZipBridge::LoadZipDll() {
    if (zip_) return true;
    zip_ = LoadEngine(kZipDllName, "ZipDllExec", "GetZipDllVersion", 10600);
    return zip_ != nullptr;
}

void TZipBridge::UnloadZipDll() {
    zip_.reset();
}

std::string TZipBridge::ZipDllPath() const {
    return zip_ ? zip_->path : std::string();
}

int TZipBridge::ZipDllVersion() {
    if (zip_) return zip_->version();
    if (!LoadZipDll()) return 0;
    int v = zip_->version();
    UnloadZipDll();
    return v;
}

int TZipBridge::Add() {
    const bool span = AddOptions.Has(AddDiskSpan) || AddOptions.Has(AddDiskSpanErase);
    if (!span || AddOptions.Has(AddFreshen) || AddOptions.Has(AddUpdate) || EndsWithExe(zipFileName_) ||
        zipFileName_.empty())
        return AddRun(false);  // refused there with its message, or an ordinary add
    return AddSpanned();
}

// A new spanned set: the engine adds to an ordinary ZIP file in a private folder, and WriteSpan spreads it over
// the volumes (numbered files, or labelled disks) under the archive's name. The set appears only when both
// steps succeeded; the private folder goes whatever happens.
int TZipBridge::AddSpanned() {
    const std::string target = zipFileName_;
    if (platform::FileExists(target)) {
        Say("Adding to a spanned set that exists is not available; join it first, add, and span it again", true);
        return 0;
    }
    const std::string base = TempDir.empty() ? platform::SystemTempDir() : TempDir;
    std::string tmpl = (base.empty() || base.back() != '/' ? base + "/" : base) + "vnkspanXXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        Say("No temporary folder could be made in " + base + ": " + std::strerror(errno), true);
        return 0;
    }
    const std::string folder = buf.data();
    const std::string whole = folder + "/" + ExtractFileName(target);
    const AddOpts saved = AddOptions;
    AddOptions.Exclude(AddDiskSpan);
    AddOptions.Exclude(AddDiskSpanErase);
    zipFileName_ = whole;
    int added = AddRun(false);
    zipFileName_ = target;
    AddOptions = saved;
    if (added > 0 && platform::FileExists(whole) && WriteSpan(whole, target) != 0) added = 0;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return added;
}
int TZipBridge::Delete() {
    return AddRun(true);
}

int TZipBridge::AddRun(bool deleting) {
    if (addBusy_) return 0;
    successCnt_ = 0;
    bool loadedHere = false;
    std::string madeStub;
    // Whatever happens: the specifications and the comment are used up, the run's state undone.
    struct Finish {
        TZipBridge& z;
        bool& loaded;
        ~Finish() {
            z.FSpecArgs.clear();
            z.FSpecArgsExcl.clear();
            z.AddComment.reset();
            if (loaded) z.UnloadZipDll();
            z.SetCancel(false);
            z.addBusy_ = false;
            z.callbackFailure_ = nullptr;
        }
    } finish{*this, loadedHere};

    if (FSpecArgs.empty()) {
        Message(deleting ? 10401 : 10301);
        return 0;
    }
    if (zipFileName_.empty()) {
        Message(10102);
        return 0;
    }
    const bool encrypt = !deleting && AddOptions.Has(AddEncrypt);
    if (!deleting && Unattended && encrypt && Password.empty()) {
        Message(10302);
        return 0;
    }
    if (Password.size() > kMaxRecordPassword) {
        // The record carries 80 characters: a longer password is refused rather than cut.
        Message(10504);
        return 0;
    }
    if (deleting && !platform::FileExists(zipFileName_)) {
        Message(10102);
        return 0;
    }
    if (!deleting && (AddOptions.Has(AddDiskSpan) || AddOptions.Has(AddDiskSpanErase))) {
        if (AddOptions.Has(AddFreshen) || AddOptions.Has(AddUpdate)) {
            Message(10303);
            return 0;
        }
        if (EndsWithExe(zipFileName_)) {
            Message(11041);
            return 0;
        }
    }
    if (!deleting && EndsWithExe(zipFileName_) && !platform::FileExists(zipFileName_)) {
        // A new self-extractor: the stub first, taken away again when the add does not happen.
        const int r = ZipToSfx(true);
        if (r <= 0 && !platform::FileExists(zipFileName_)) {
            Message(10304, std::to_string(r));
            return 0;
        }
        madeStub = zipFileName_;
    }

    addBusy_ = true;
    SetCancel(false);
    callbackFailure_ = nullptr;
    if (!zip_) {
        if (!LoadZipDll()) {
            if (!madeStub.empty()) unlink(madeStub.c_str());
            return 0;
        }
        loadedHere = true;
    }
    const int version = zip_->version();

    std::string root = rootDir_;
    if (!root.empty() && root[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) root = std::string(cwd) + "/" + root;
    }
    std::string suffixes;
    for (int i = assGIF; i <= assEXE; ++i)
        if (AddStoreSuffixes.Has(static_cast<AddStoreSuffixEnum>(i))) {
            if (!suffixes.empty()) suffixes += ":";
            suffixes += std::string(".") + kSuffixes[i];
        }

    auto flag = [](bool b) { return b ? -1 : 0; };
    const uint16_t recurse = !deleting && AddOptions.Has(AddRecurseDirs) ? 0xFFFF : 0;
    const int32_t encryptValue = flag(encrypt);
    std::vector<Item> items;
    for (const auto& a : FSpecArgs) {
        if (deleting) {
            Item it;
            it.spec = a;
            items.push_back(std::move(it));
        } else {
            items.push_back(ParseItem(a, encryptValue, recurse));
        }
        if (items.back().password.size() > kMaxRecordPassword) {
            Message(10504, " (" + items.back().spec + ")");
            if (!madeStub.empty()) unlink(madeStub.c_str());
            return 0;
        }
    }
    const std::string comment = CommentBytes(AddComment.value_or(std::string()));

    // The fields both record forms share.
    auto fill = [&](auto& rec) {
        rec.Handle = nullptr;
        rec.Caller = this;
        rec.Version = 160;
        rec.Callback = &TZipBridge::EngineCallback;
        rec.TraceEnabled = flag(Trace);
        rec.Password = Password.empty() ? nullptr : Password.c_str();
        rec.SuffixList = deleting || suffixes.empty() ? nullptr : suffixes.c_str();
        rec.Encrypt = encryptValue;
        rec.SystemFiles = flag(AddOptions.Has(AddHiddenFiles));
        rec.Volume = flag(AddOptions.Has(AddVolume));
        rec.NoDirEntries = flag(!AddOptions.Has(AddSeparateDirs));
        rec.Verbose = flag(Verbose || Trace);
        rec.AlwaysTrue = -1;
        rec.Level = std::clamp(AddCompLevel, 0, 9);
        rec.JunkDir = deleting ? 0 : flag(!AddOptions.Has(AddDirNames));
        rec.Recurse = recurse;
        rec.Grow = flag(!deleting);
        rec.ForceDOS = flag(AddOptions.Has(AddForceDOS));
        rec.Move = deleting ? 0 : flag(AddOptions.Has(AddMove));
        rec.DeleteEntries = flag(deleting);
        const bool update = !deleting && AddOptions.Has(AddUpdate);
        rec.Update = flag(update);
        rec.Freshen = flag(!deleting && AddOptions.Has(AddFreshen) && !update);
        rec.LatestTime = flag(AddOptions.Has(AddZipTime));
        rec.ZipFileName = zipFileName_.c_str();
    };
    try {
        if (version > 150) {
            std::vector<ZipFileData> files(items.size());
            for (size_t i = 0; i < items.size(); ++i) {
                std::memset(&files[i], 0, sizeof files[i]);
                files[i].FileSpec = items[i].spec.c_str();
                if (!deleting) {
                    files[i].Password = items[i].ownPassword ? items[i].password.c_str()
                                                             : (items[i].encrypt && !Password.empty() ? Password.c_str() : nullptr);
                    files[i].Encrypt = items[i].encrypt;
                    files[i].Recurse = items[i].recurse;
                    files[i].RootDir = root.empty() ? nullptr : root.c_str();
                }
            }
            std::vector<const char*> excl;
            if (!deleting)
                for (const auto& x : FSpecArgsExcl)
                    excl.push_back(x.c_str());
            ZipExecRecord rec;
            std::memset(&rec, 0, sizeof rec);
            fill(rec);
            rec.ArgCount = static_cast<int32_t>(files.size());
            rec.FileData = files.data();
            rec.TempDir = TempDir.empty() ? nullptr : TempDir.c_str();
            rec.ArchComment = !deleting && AddComment ? comment.c_str() : nullptr;
            rec.ArchiveOnly = AddOptions.Has(AddArchiveOnly) ? 1 : 0;
            rec.ResetArchive = AddOptions.Has(AddResetArchive) ? 1 : 0;
            rec.ExclCount = static_cast<int32_t>(excl.size());
            rec.ExclSpecs = excl.empty() ? nullptr : excl.data();
            rec.Seven = 7;
            successCnt_ = zip_->Exec<ZipDllExecFunc>()(&rec);
        } else if (items.size() > ZIP_OLD_MAX_SPECS) {
            // One call must do the whole add: several calls would replace the archive several times.
            Say("An engine library of version 1.50 takes at most 4097 file specifications", true);
        } else {
            // An old library knows no per-item settings, exclusions, root folder or comment: it takes the
            // specifications from the current folder.
            auto rec = std::make_unique<ZipExecRecordOld>();
            std::memset(rec.get(), 0, sizeof *rec);
            fill(*rec);
            std::vector<std::string> specs;
            for (const auto& it : items)
                specs.push_back(!root.empty() && !it.spec.empty() && it.spec[0] != '/' ? root + it.spec : it.spec);
            for (size_t i = 0; i < specs.size(); ++i)
                rec->FileSpecs[i] = specs[i].c_str();
            rec->ArgCount = static_cast<int32_t>(specs.size());
            rec->Seven = 7;
            successCnt_ = zip_->Exec<ZipDllExecFunc>()(reinterpret_cast<ZipExecRecord*>(rec.get()));
        }
    } catch (const std::exception& e) {
        Message(10101, std::string("\n") + e.what());
    } catch (...) {
        Message(10101);
    }
    if (callbackFailure_) {
        std::string what;
        try {
            std::rethrow_exception(callbackFailure_);
        } catch (const std::exception& e) {
            what = std::string("\n") + e.what();
        } catch (...) {
        }
        Message(10101, what);
    }
    if (successCnt_ <= 0 && !madeStub.empty()) {
        // The stub alone is not what was asked for.
        unlink(madeStub.c_str());
    }
    if (successCnt_ > 0) List();
    return successCnt_;
}

}  // namespace varnok
