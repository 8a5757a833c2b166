#include "archive/tools/arc2arc.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "archive/core/compbase.h"
#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/utils.h"
#include "archive/extractors.h"
#include "archive/tools/zipcheck.h"
#include "platform/file.h"
#include "platform/fileattr.h"

namespace varnok {

namespace {

namespace fs = std::filesystem;

struct TargetKind {
    TArcType type;
    TCompressMethod method;
    const char* ext;
};

TargetKind KindOf(TOutArcType t) {
    switch (t) {
        case tyBh:
            return {atBh, cmFuse, ".bh"};
        case tyCab:
            return {atCab, cmMsZip, ".cab"};
        case tyGzipTar:
            return {atTar, cmGzipTar, ".tgz"};
        case tyLzh:
            return {atLha, cmFrozen6, ".lzh"};
        case tyTar:
            return {atTar, cmTarred, ".tar"};
        case tyZip:
            return {atZip, cmDeflate, ".zip"};
        case tyJar:
            return {atJar, cmDeflate, ".jar"};
    }
    return {atNA, cmStore, ""};
}

std::unique_ptr<TCompBase> WriterOf(TOutArcType t) {
    const TargetKind k = KindOf(t);
    const FormatRecord* f = FormatOf(k.type);
    if (!f || !f->writer) return nullptr;
    auto w = f->writer(k.type);
    if (w) w->SetCompressMethod(k.method);
    return w;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// A new private folder (mode 0700) under parent; empty when none could be made.
std::string MakePrivateFolder(const std::string& parent, const std::string& stem) {
    std::string tmpl = (parent.empty() ? std::string(".") : RemoveSlash(parent)) + "/" + stem + "XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

bool CopyWhole(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

}  // namespace

TArc2Arc::TArc2Arc() {
    PasswordAttempts = 3;
}

std::string TArc2Arc::TargetExtension(TOutArcType t) {
    return KindOf(t).ext;
}

bool TArc2Arc::CanWrite(TOutArcType t) {
    const FormatRecord* f = FormatOf(KindOf(t).type);
    return f && f->writer;
}

bool TArc2Arc::Convert() {
    extracted_ = packed_ = 0;
    encrypted_ = false;
    SetCancel(false);
    const std::string source = ArchiveFile();
    if (source.empty() || !IsRecognised(ArcType()) || !HasExtractor(ArcType())) {
        ReportError(source, source.empty() || !IsRecognised(ArcType()) ? "" : ArcTypeShortName(ArcType()),
                    E_InvalidArcType);
        return false;
    }
    if (NewArchive.empty()) {
        ReportError(source, "no target archive named", E_NothingToDo);
        return false;
    }
    if (!CanWrite(OutArcType)) {
        ReportError(NewArchive, std::string("no writer for ") + TargetExtension(OutArcType) + " archives",
                    E_InvalidArcType);
        return false;
    }
    const bool exists = platform::FileExists(NewArchive);
    if (exists && SameFile(source, NewArchive)) {
        ReportError(NewArchive, "", E_SameInOut);
        return false;
    }
    if (exists && OutArcMethod == amCreateNew && ConfirmOverwrites) {
        if (!OnFileExists) {
            ReportError(NewArchive, "the target exists and no one was asked to replace it", E_NothingToDo);
            return false;
        }
        TOverwriteMode mode = omOverwrite;
        OnFileExists(*this, NewArchive, mode);
        if (Cancel() || mode == omSkip) return false;
    }
    const std::string targetDir = ExtractFilePath(fs::absolute(NewArchive).string());
    if (!platform::DirectoryExists(targetDir) && !platform::ForceDirectories(targetDir)) {
        ReportError(targetDir, platform::LastErrorText(), E_UnableCreateDir);
        return false;
    }
    BeginRun();
    const std::string work = MakePrivateFolder(TempDir(), "vnkconv-");
    if (work.empty()) {
        ReportError(TempDir(), platform::LastErrorText(), E_UnableCreateDir);
        EndRun(false);
        return false;
    }
    bool ok = false;
    try {
        ok = Run(work);
    } catch (const RunCancelled&) {
    } catch (const ArchiveError&) {
        // Said where it was raised.
    }
    // Only the private folder goes, and nothing a link inside it points at.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(work, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (OnRemoveTempfile && it->is_regular_file(ec) && !it->is_symlink(ec))
            OnRemoveTempfile(*this, it->path().string());
    fs::remove_all(work, ec);
    if (OnRemoveTempfile) OnRemoveTempfile(*this, work + "/");
    EndRun(false);
    return ok && !Cancel();
}

bool TArc2Arc::Run(const std::string& work) {
    const std::string source = ArchiveFile();
    const std::string files = work + "/files";
    if (mkdir(files.c_str(), 0700) != 0) {
        ReportError(files, platform::LastErrorText(), E_UnableCreateDir);
        return false;
    }

    // ---- 1. everything out of the source ----
    std::unique_ptr<TUnBase> x = CreateExtractor(ArcType());
    x->ShareCancel(CancelPtr());
    x->SetArchiveFile(source);
    x->ExtractDir = files;
    x->UseStoredDirs = true;
    x->CreateStoredDirs = true;
    x->ConfirmOverwrites = false;
    x->Passwords = Passwords;
    x->PasswordAttempts = PasswordAttempts;
    x->DateAttribute = daFileDate;
    x->FileSpec = FileSpec.empty() ? std::vector<std::string>{"*.*"} : FileSpec;
    x->TranslateOemChar = TranslateOemChar;
    x->NameCodePage = NameCodePage;
    x->OpenTarInside = true;
    x->MaxRatio = MaxRatio;
    x->OnError = OnError;
    x->OnGetPassword = OnGetPassword;
    x->OnProgress = OnProgress;
    x->ProcessMessages = ProcessMessages;
    x->OnActivate = OnExtractActivate;
    x->OnDeactivate = OnExtractDeactivate;
    x->OnBegin = OnExtractBegin;
    if (OnNextVolume)
        x->OnNextVolume = [this](TZipCommon&, std::string& v, const std::string& id, bool exists, bool& cancel) {
            OnNextVolume(*this, v, id, exists, cancel);
        };
    x->OnEnd = [this](TZipCommon& s, const std::string& name, bool pass) {
        if (pass) ++extracted_;
        if (OnExtractEnd) OnExtractEnd(s, name, pass);
    };
    x->ExtractArchive();
    for (const auto& p : x->Passwords)
        if (std::find(Passwords.begin(), Passwords.end(), p) == Passwords.end()) Passwords.push_back(p);
    if (Cancel()) return false;
    // An entry that did not come out (said where it failed) would be missing from the target: no conversion.
    if (x->FailedEntries() > 0) return false;
    if (extracted_ == 0) {
        ReportError(source, "the archive has no entries to convert", E_NothingToDo);
        return false;
    }
    // The password the source needed, if any; a password left from other archives is not that.
    const std::string sourcePassword = x->Password;

    // ---- 2. packed under a private name beside the target ----
    std::unique_ptr<TCompBase> w = WriterOf(OutArcType);
    const std::string targetPath = fs::absolute(NewArchive).string();
    const std::string stageDir = MakePrivateFolder(ExtractFilePath(targetPath), ".vnkconv-");
    if (stageDir.empty()) {
        ReportError(ExtractFilePath(targetPath), platform::LastErrorText(), E_UnableCreateDir);
        return false;
    }
    struct StageCleanup {
        std::string dir;
        ~StageCleanup() {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup{stageDir};
    std::string stage = stageDir + "/" + ExtractFileName(targetPath);
    if (OutArcMethod == amAddToArc && platform::FileExists(targetPath) && !CopyWhole(targetPath, stage)) {
        ReportError(targetPath, platform::LastErrorText(), E_ReadFile);
        return false;
    }
    w->ShareCancel(CancelPtr());
    w->SetArchiveFile(stage);
    w->Switch = swAdd;
    w->RecurseDirs = true;
    w->StoredDirNames = sdRelative;
    w->StoreEmptySubDirs = true;
    w->SkipHidden = false;  // every file that came out of the source goes in, hidden ones too
    w->FileSpec = {files + "/*.*"};
    w->ExcludeSpec.clear();
    w->DateAttribute = DateAttribute;
    w->SetTempDir(TempDir());
    const std::string password = !TargetPassword.empty() ? TargetPassword : sourcePassword;
    const TArcType kind = KindOf(OutArcType).type;
    if (!password.empty() && (kind == atZip || kind == atJar || kind == atBh)) {
        w->Password = password;
        encrypted_ = true;
    }
    w->OnError = OnError;
    w->OnProgress = OnProgress;
    w->ProcessMessages = ProcessMessages;
    w->OnActivate = OnCompressActivate;
    w->OnDeactivate = OnCompressDeactivate;
    w->OnBegin = OnCompressBegin;
    w->OnEnd = OnCompressEnd;
    packed_ = w->CompressArchive();
    if (w->Failed() || Cancel()) return false;
    stage = w->ArchiveFile();
    if (!platform::FileExists(stage)) {
        ReportError(NewArchive, "nothing was written", E_NothingToDo);
        return false;
    }

    // ---- 3. the result tested ----
    if (IntegrityCheck) {
        TZipCheck ck;
        ck.ShareCancel(CancelPtr());
        ck.SetArchiveFile(stage);
        if (encrypted_) ck.Passwords = {password};
        ck.FileSpec = {"*.*"};
        ck.OnError = OnError;
        ck.OnProgress = OnProgress;
        ck.ProcessMessages = ProcessMessages;
        ck.OnActivate = OnIntegrityActivate;
        ck.OnDeactivate = OnIntegrityDeactivate;
        ck.OnBegin = [this](TZipCommon& s, const std::string& name, int, bool&) {
            if (OnIntegrityBegin) OnIntegrityBegin(s, name);
        };
        ck.OnEnd = OnIntegrityEnd;
        ck.OnStatus = [this](TZipCommon& s, const std::string& name, bool pass) {
            if (OnIntegrityStatus) OnIntegrityStatus(s, name, pass);
        };
        if (!TZipCheck::CanTest(ck.ArcType())) {
            ReportError(NewArchive, "the new archive cannot be tested", E_InvalidArcType);
            return false;
        }
        if (!ck.Test()) return false;
    }

    // ---- 4. in place, in one step ----
    if (rename(stage.c_str(), targetPath.c_str()) != 0) {
        ReportError(targetPath, platform::LastErrorText(), E_WriteFile);
        return false;
    }
    return true;
}

}  // namespace varnok
