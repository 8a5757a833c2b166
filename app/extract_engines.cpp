// The program's extract engines: the extractor component of each archive family (through the extractor
// factory) and the ZIP bridge's extract call. Each is compiled in when its component is part of the build.
#include <unordered_set>

#include "app/extract.h"
#include "app/paths.h"
#include "zipbridge/zip_bridge.h"

#if __has_include("archive/extractors.h") && __has_include("archive/core/unbase.h")
#define VARNOK_APP_HAVE_EXTRACTORS 1
#include "archive/core/unbase.h"
#include "archive/extractors.h"
#endif

namespace varnok::app {

namespace {

#ifdef VARNOK_APP_HAVE_EXTRACTORS

// An archive family's extractor. The run selects entries by their exact stored names: the file specification
// names them, and the begin event drops anything the specification's wildcards let through that is not one of
// them (names may hold "*" and "?", and matching ignores case).
class ComponentEngine final : public ExtractEngine {
  public:
    explicit ComponentEngine(std::unique_ptr<TUnBase> x) : x_(std::move(x)) {}

    ExtractOutcome Run(const ExtractJob& job, ExtractEvents& ev) override {
        TUnBase& x = *x_;
        ExtractOutcome out;
        std::unordered_set<std::string> wanted(job.names.begin(), job.names.end());
        std::unordered_set<std::string> wantedNames;
        for (const auto& n : job.names)
            wantedNames.insert(FileNameOf(n));
        x.SetArchiveFile(job.archivePath);
        x.ExtractDir = job.destination;
        x.UseStoredDirs = job.useFolderNames;
        // Existing files are decided by the operation (overwrite, skip older, the prompt), file by file.
        x.ConfirmOverwrites = true;
        x.OverwriteMode = omOverwrite;
        x.FileSpec = job.allEntries ? std::vector<std::string>{"*.*"} : job.names;
        x.OnBegin = [&](TZipCommon&, const std::string& outputName, int, bool& extract) {
            if (!job.allEntries) {
                bool ok;
                if (job.useFolderNames && outputName.compare(0, job.destination.size(), job.destination) == 0)
                    ok = wanted.count(outputName.substr(job.destination.size())) > 0;
                else
                    ok = wantedNames.count(FileNameOf(outputName)) > 0;
                if (!ok) {
                    extract = false;
                    return;
                }
            }
            ev.FileStarting(std::string(), outputName);
        };
        x.OnFileExists = [&](TZipCommon& c, const std::string& fileName, std::string& newName,
                             TOverwriteMode& mode) {
            switch (ev.FileExists(std::string(), fileName)) {
                case ExistsDecision::Overwrite:
                    mode = omOverwrite;
                    newName = fileName;
                    break;
                case ExistsDecision::Cancel:
                    c.SetCancel(true);
                    mode = omSkip;
                    break;
                case ExistsDecision::Skip:
                    mode = omSkip;
                    break;
            }
        };
        x.OnGetPassword = [&](TZipCommon& c, const std::string& name, std::string& password, bool& tryAgain) {
            if (!ev.Password(name, password)) {
                password.clear();
                if (ev.CancelRequested()) c.SetCancel(true);
            }
            tryAgain = false;
        };
        x.OnNextVolume = [&](TZipCommon&, std::string& volume, const std::string& id, bool exists,
                             bool& cancel) { cancel = !ev.NextVolume(volume, id, exists); };
        x.OnProgress = [&](TZipCommon&, int byFile, int byArchive) { ev.Progress(byFile, byArchive); };
        x.OnError = [&](TZipCommon&, const std::string& file, const std::string& msg, const std::string&,
                        int code) {
            ev.Error(file, code,
                     msg == ErrorText(code) ? std::string()
                     : msg.empty()          ? std::string()
                                            : ErrorText(code) + " (" + msg + ")");
        };
        x.OnEnd = [&](TZipCommon&, const std::string& name, bool crcPass) {
            if (!crcPass) ev.CrcFailed(name);
        };
        x.ProcessMessages = [&]() {
            ev.Activity();
            if (ev.CancelRequested()) x.SetCancel(true);
        };
        try {
            out.extracted = x.ExtractArchive();
        } catch (const ArchiveError& e) {
            if (e.Code() != E_UserCanceled && !ev.CancelRequested()) {
                out.fatal = true;
                out.fatalText = e.what();
            }
        }
        return out;
    }

    void Cancel() override { x_->SetCancel(true); }

  private:
    std::unique_ptr<TUnBase> x_;
};

#endif

class DefaultFactory final : public ExtractEngineFactory {
  public:
    // Until the bridge drives the ZIP engine library, ZIP archives are extracted by the ZIP extractor
    // component.
    std::unique_ptr<ExtractEngine> ForZip(TZipBridge&, TArcType type) override { return ForType(type); }

    std::unique_ptr<ExtractEngine> ForType(TArcType type) override {
#ifdef VARNOK_APP_HAVE_EXTRACTORS
        if (auto x = CreateExtractor(type)) return std::make_unique<ComponentEngine>(std::move(x));
#else
        (void)type;
#endif
        return nullptr;
    }
};

}  // namespace

std::shared_ptr<ExtractEngineFactory> MakeDefaultEngineFactory() {
    return std::make_shared<DefaultFactory>();
}

bool HaveExtractorComponents() {
#ifdef VARNOK_APP_HAVE_EXTRACTORS
    return true;
#else
    return false;
#endif
}

bool HaveZipExtract() {
    return false;
}

}  // namespace varnok::app
