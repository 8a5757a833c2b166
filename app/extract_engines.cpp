// The program's extract engines: the extractor component of each archive family (through the extractor
// factory) and the ZIP bridge's extract call. Each is compiled in when its component is part of the build.
#include <algorithm>
#include <unordered_set>

#include "app/extract.h"
#include "app/paths.h"
#include "archive/core/unbase.h"
#include "archive/extractors.h"
#include "engines/unzdll/unzdll.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::app {

namespace {

// An archive family's extractor. The run selects entries by their exact stored names: the file patterns
// name them, and the begin event drops anything the patterns' wildcards let through that is not one of them
// (names may hold "*" and "?", and matching ignores case).
// How the window's user raises the limits a refusal names.
constexpr const char* kLimitsHint = "Options > Extraction limits raises them";

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
        x.NameCodePage = job.codePage;
        x.MaxRatio = job.maxRatio;
        x.MaxSize = job.maxSize;
        x.LimitsHint = kLimitsHint;
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
            // A typed password is tried; Cancel in the password window gives up on this entry.
            tryAgain = ev.Password(name, password);
            if (!tryAgain) {
                password.clear();
                if (ev.CancelRequested()) c.SetCancel(true);
            }
        };
        x.OnNextVolume = [&](TZipCommon&, std::string& volume, const std::string& id, bool exists,
                             bool& cancel) { cancel = !ev.NextVolume(volume, id, exists); };
        x.OnProgress = [&](TZipCommon&, int byFile, int byArchive) { ev.Progress(byFile, byArchive); };
        bool attemptSaid = false;  // a wrong password of the entry in hand was said
        int lastRunError = 0;      // the last error of the run said through the events
        x.OnError = [&](TZipCommon&, const std::string& file, const std::string& msg, const std::string&,
                        int code) {
            if (x.ReportingAttempt()) {
                // A wrong password is said once for its entry, whatever follows.
                if (attemptSaid) return;
                attemptSaid = true;
            } else if (x.ReportingForEntry() && !x.ReportingWarning()) {
                return;  // said with the entry's verdict
            }
            lastRunError = code;
            ev.Error(
                file, code,
                msg.empty() || msg == ErrorText(code) ? std::string() : ErrorText(code) + " (" + msg + ")");
        };
        x.OnEntryFailed = [&](TZipCommon&, const std::string& stored, const std::string& output, int code,
                              const std::string& detail) {
            const bool said = attemptSaid && (code == E_InvalidPassword || code == E_PasswordProtected);
            if (!said)
                ev.EntryFailed(stored, output, code,
                               detail.empty() ? ErrorText(code) : ErrorText(code) + " (" + detail + ")");
        };
        x.OnEnd = [&](TZipCommon&, const std::string&, bool) { attemptSaid = false; };
        x.ProcessMessages = [&]() {
            ev.Activity();
            if (ev.CancelRequested()) x.SetCancel(true);
        };
        try {
            out.extracted = x.ExtractArchive();
        } catch (const ArchiveError& e) {
            // A failure that ended the run was said where it happened; only one that was not is shown now.
            if (e.Code() != E_UserCanceled && !ev.CancelRequested() && e.Code() != lastRunError) {
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

// The ZIP bridge driving the extract engine library. Entries are named by the bridge's exact patterns,
// so that names holding "*" or "?" select themselves only.
class ZipBridgeEngine final : public ExtractEngine {
  public:
    explicit ZipBridgeEngine(TZipBridge& bridge) : b_(bridge) {}

    ExtractOutcome Run(const ExtractJob& job, ExtractEvents& ev) override {
        TZipBridge& b = b_;
        ExtractOutcome out;
        b.ExtrBaseDir = job.destination;
        b.ExtrMaxRatio = job.maxRatio;
        b.ExtrMaxSize = job.maxSize;
        ExtrOpts opts;
        if (job.useFolderNames) opts.Include(ExtrDirNames);
        if (job.overwrite) opts.Include(ExtrOverWrite);
        if (job.skipOlder) opts.Include(ExtrUpdate);
        b.ExtrOptions = opts;
        b.FSpecArgs.clear();
        if (job.allEntries) {
            b.FSpecArgs.push_back("*.*");
        } else {
            for (const auto& n : job.names)
                b.FSpecArgs.push_back(TZipBridge::ExactSpec(n));
        }

        int64_t fileSize = 0, fileDone = 0, totalSize = 0, totalDone = 0;
        int filePercent = 0, totalPercent = 0;
        // Done / size in percent, rounded, plus one (so that a started file shows), at most 100.
        auto percent = [](int64_t done, int64_t size) {
            int64_t p = (done * 200 + size) / (2 * size) + 1;
            return static_cast<int>(std::min<int64_t>(p, 100));
        };
        b.OnProgress = [&](TZipBridge&, int kind, const std::string& name, int64_t number) {
            switch (kind) {
                case 0: {
                    fileSize = number;
                    fileDone = 0;
                    filePercent = 0;
                    std::string rel = SafeRelativeName(name);
                    std::string output;
                    if (!rel.empty()) output = job.destination + (job.useFolderNames ? rel : FileNameOf(rel));
                    ev.FileStarting(name, output);
                    break;
                }
                case 1:
                    fileDone += number;
                    totalDone += number;
                    filePercent = fileSize > 0 ? percent(fileDone, fileSize) : 100;
                    if (totalSize > 0) totalPercent = percent(totalDone, totalSize);
                    ev.Progress(filePercent, totalPercent);
                    break;
                case 2:
                    ev.Progress(0, 0);
                    break;
                case 4:
                    totalSize = number;
                    totalDone = 0;
                    totalPercent = 0;
                    break;
                default:
                    break;
            }
        };
        b.OnExtractOverwrite = [&](TZipBridge& z, const std::string& fileName, bool, bool& overwrite) {
            ExistsDecision d = ev.FileExists(std::string(), fileName);
            overwrite = d == ExistsDecision::Overwrite;
            if (d == ExistsDecision::Cancel) z.SetCancel(true);
        };
        b.OnPasswordError = [&](TZipBridge&, std::string& password, const std::string& fileName, unsigned&) {
            std::string p;
            password = ev.Password(fileName, p) ? p : std::string();
        };
        // A damaged entry is reported by the library's message; the library's default decision stands.
        b.OnCRC32Error = [](TZipBridge&, const std::string&, uint32_t, uint32_t, bool&) {};
        auto logged = b.OnMessage;
        b.OnMessage = [&, logged](TZipBridge& z, int code, const std::string& text) {
            if (logged) logged(z, code, text);
            // The library's failures (not information, warnings or the stop the user asked for).
            if (code >= uenArguments && code != uenAborted && !ev.CancelRequested()) ev.Failure(text);
        };
        b.ProcessMessages = [&]() {
            ev.Activity();
            if (ev.CancelRequested()) b.SetCancel(true);
        };
        try {
            out.extracted = b.Extract();
        } catch (const std::exception& e) {
            out.fatal = true;
            out.fatalText = e.what();
        }
        // The handlers hold this run's state: none may outlive it.
        b.OnMessage = logged;
        b.OnProgress = nullptr;
        b.OnExtractOverwrite = nullptr;
        b.OnPasswordError = nullptr;
        b.OnCRC32Error = nullptr;
        b.ProcessMessages = nullptr;
        return out;
    }

    void Cancel() override { b_.SetCancel(true); }

  private:
    TZipBridge& b_;
};

class DefaultFactory final : public ExtractEngineFactory {
  public:
    std::unique_ptr<ExtractEngine> ForZip(TZipBridge& bridge, TArcType) override {
        return std::make_unique<ZipBridgeEngine>(bridge);
    }

    std::unique_ptr<ExtractEngine> ForType(TArcType type) override {
        if (auto x = CreateExtractor(type)) return std::make_unique<ComponentEngine>(std::move(x));
        return nullptr;
    }
};

}  // namespace

std::shared_ptr<ExtractEngineFactory> MakeDefaultEngineFactory() {
    return std::make_shared<DefaultFactory>();
}

}  // namespace varnok::app
