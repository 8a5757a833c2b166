#include "archive/tools/zipcheck.h"

#include <algorithm>

#include "archive/core/errors.h"
#include "archive/extractors.h"
#include "archive/formats/gzip/ungzip.h"

namespace varnok {

bool TZipCheck::CanTest(TArcType t) {
    // Every type that extracts is tested by its extractor: cabinets and PAK archives too, since calling a sound
    // archive of either "not a valid archive" would be a plain falsehood.
    return IsRecognised(t) && HasExtractor(t);
}

bool TZipCheck::Test() {
    passed_ = failed_ = runErrors_ = 0;
    const std::string archive = ArchiveFile();
    if (archive.empty() || !CanTest(ArcType())) {
        ReportError(archive, "", E_InvalidArcType);
        return false;
    }
    if (!OnStatus) {
        ReportMissingEvent("OnStatus");
        return false;
    }
    SetCancel(false);

    std::unique_ptr<TUnBase> x = CreateExtractor(ArcType());
    x->ShareCancel(CancelPtr());
    x->CpuType = CpuType;
    x->CreateStoredDirs = VerifyStoredDirs;
    x->UseStoredDirs = false;
    x->TranslateOemChar = TranslateOemChar;
    x->NameCodePage = NameCodePage;
    x->OpenTarInside = OpenTarInside;
    x->MaxRatio = MaxRatio;
    x->LimitsHint = LimitsHint;
    x->FileSpec = FileSpec.empty() ? std::vector<std::string>{"*.*"} : FileSpec;
    x->Passwords = Passwords;
    x->PasswordAttempts = PasswordAttempts;
    x->Password = Password;
    x->OnBegin = OnBegin;
    x->OnActivate = OnActivate;
    x->OnDeactivate = OnDeactivate;
    x->OnGetPassword = OnGetPassword;
    x->OnGetZipFirstDisk = OnGetZipFirstDisk;
    x->OnGetZipNextDisk = OnGetZipNextDisk;
    x->OnGetZipLastDisk = OnGetZipLastDisk;
    x->OnProgress = OnProgress;
    x->OnElapsedTime = OnElapsedTime;
    x->OnCorruptZipHeader = OnCorruptZipHeader;
    x->OnFileExists = OnFileExists;
    x->ProcessMessages = ProcessMessages;
    if (OnNextVolume) {
        x->OnNextVolume = [this](TZipCommon&, std::string& volume, const std::string& id, bool exists,
                                 bool& cancel) { OnNextVolume(*this, volume, id, exists, cancel); };
    }
    if (auto* g = dynamic_cast<TUnGZip*>(x.get()); g && OnNestedTarFile) g->OnNestedTarFile = OnNestedTarFile;

    TUnBase* xp = x.get();
    x->OnError = [this, xp](TZipCommon& sender, const std::string& f, const std::string& m, const std::string& v,
                            int code) {
        // An error of an entry is counted with the entry's verdict; a wrong password that is asked for again,
        // and a warning, count for nothing; anything else is an error of the run.
        if (!xp->ReportingForEntry() && !xp->ReportingAttempt() && !xp->ReportingWarning() && code != E_UserCanceled)
            ++runErrors_;
        if (OnError) OnError(sender, f, m, v, code);
    };
    x->OnEntryFailed = [this](TZipCommon& sender, const std::string& stored, const std::string&, int code,
                              const std::string& detail) {
        if (OnEntryFailed) OnEntryFailed(sender, stored, code, detail);
    };
    x->OnEnd = [this](TZipCommon& sender, const std::string& name, bool pass) {
        ++(pass ? passed_ : failed_);
        OnStatus(sender, name, pass);
        if (OnEnd) OnEnd(sender, name);
    };

    bool raised = false;
    try {
        x->SetArchiveFile(archive);
        x->TestArchive();
    } catch (const ArchiveError&) {
        // Said through OnError where it was raised; a test that could not run is not a pass.
        raised = true;
    } catch (const std::exception& e) {
        raised = true;
        ReportError(archive, e.what(), E_ReadFile);
    }
    if (raised && runErrors_ == 0) ++runErrors_;
    // Passwords entered during the test are there for the next one.
    for (const std::string& p : x->Passwords)
        if (std::find(Passwords.begin(), Passwords.end(), p) == Passwords.end()) Passwords.push_back(p);
    if (!x->Password.empty() && std::find(Passwords.begin(), Passwords.end(), x->Password) == Passwords.end())
        Passwords.push_back(x->Password);
    // Failures the extractor counted without a verdict or an error said (none are known; never a pass).
    if (ErrorCount() == 0 && x->FailedEntries() > 0) runErrors_ = x->FailedEntries();
    if (Cancel()) return false;
    return ErrorCount() == 0;
}

}  // namespace varnok
