#include "app/extract.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>

#include "app/archive_model.h"
#include "app/formatting.h"
#include "app/paths.h"
#include "archive/core/errors.h"
#include "archive/core/printable.h"
#include "archive/core/unbase.h"
#include "platform/fileattr.h"
#include "zipbridge/messages.h"

namespace varnok::app {

namespace {

const char* const kExtracting = "Extracting...";

// The destination as the extractors name their outputs: made when missing, links resolved, with "/".
std::string CanonicalFolder(const std::string& folder) {
    std::string f = WithoutSlash(folder);
    if (f.empty()) return {};
    if (!platform::DirectoryExists(f)) platform::ForceDirectories(f);
    char real[PATH_MAX];
    if (realpath(f.c_str(), real)) f = real;
    return WithSlash(f);
}
constexpr int kUnzipEngineMissing = 10704;
constexpr size_t kSummaryLines = 20;

}  // namespace

ExtractOperation::ExtractOperation(ArchiveModel& model, std::shared_ptr<ExtractEngineFactory> engines)
    : model_(model), engines_(std::move(engines)) {}

std::vector<int> ExtractOperation::RowsOf(const ExtractRequest& r) const {
    if (r.rows) return *r.rows;
    if (r.selectedOnly) return model_.SelectedRows();
    std::vector<int> all(static_cast<size_t>(model_.RowCount()));
    for (int i = 0; i < model_.RowCount(); ++i)
        all[static_cast<size_t>(i)] = i;
    return all;
}

int ExtractOperation::Run(const ExtractRequest& r) {
    if (running_ || !model_.IsOpen()) return -1;
    if (model_.Engine() == EngineKind::ZipBridge) return RunZip(r);
    return RunComponent(r);
}

int ExtractOperation::RunZip(const ExtractRequest& r) {
    TZipBridge& bridge = model_.Bridge();
    if (bridge.Count() == 0) {
        model_.View().Message("Error", "No files to extract");
        return -1;
    }
    ExtractJob job;
    job.archivePath = model_.ArchivePath();
    job.type = model_.ArcType();
    job.codePage = model_.NameCodePage();
    job.maxRatio = model_.Config().MaxRatio;
    job.maxSize =
        model_.Config().MaxSizeMiB > (UINT64_MAX >> 20) ? UINT64_MAX : model_.Config().MaxSizeMiB << 20;
    job.destination = CanonicalFolder(r.destination);
    job.useFolderNames = r.useFolderNames;
    job.skipOlder = r.skipOlder;
    job.overwrite = r.overwrite;
    std::vector<int> rows = RowsOf(r);
    job.allEntries = !r.selectedOnly && !r.rows;
    if (!job.allEntries)
        for (int i : rows)
            job.names.push_back(model_.Row(i).StoredName());

    auto engine = engines_ ? engines_->ForZip(bridge, model_.ArcType()) : nullptr;
    if (!engine) {
        model_.View().Message("Error", BridgeMessageText(kUnzipEngineMissing));
        return -1;
    }
    if (!job.allEntries && job.names.empty()) {
        model_.View().SetStatusText(0, "0 entry(ies) successfully extracted !");
        return 0;
    }
    // Folders stored as entries of their own are extracted only when the directory lists them.
    const bool listDirs = job.allEntries && !bridge.UseDirOnlyEntries;
    if (listDirs) {
        model_.SetRowsEnabled(false);
        bridge.UseDirOnlyEntries = true;
        bridge.List();
    }
    IndexOutputs(job, rows);
    int n = Drive(*engine, job);
    if (listDirs) {
        bridge.UseDirOnlyEntries = false;
        bridge.List();
        model_.SetRowsEnabled(true);
    }
    model_.View().SetStatusText(0, std::to_string(n < 0 ? 0 : n) + " entry(ies) successfully extracted !");
    return n;
}

int ExtractOperation::RunComponent(const ExtractRequest& r) {
    auto engine = engines_ ? engines_->ForType(model_.ArcType()) : nullptr;
    if (!engine) {
        model_.View().Log(VisibleMarks(model_.ArchiveFileName()) + ": " + ErrorText(E_InvalidArcType));
        return -1;
    }
    ExtractJob job;
    job.archivePath = model_.ArchivePath();
    job.type = model_.ArcType();
    job.codePage = model_.NameCodePage();
    job.maxRatio = model_.Config().MaxRatio;
    job.maxSize =
        model_.Config().MaxSizeMiB > (UINT64_MAX >> 20) ? UINT64_MAX : model_.Config().MaxSizeMiB << 20;
    job.destination = CanonicalFolder(r.destination);
    job.useFolderNames = r.useFolderNames;
    job.skipOlder = r.skipOlder;
    job.overwrite = r.overwrite;
    std::vector<int> rows = RowsOf(r);
    // Without rows (nothing listed) the whole archive is asked for.
    job.allEntries = (!r.selectedOnly && !r.rows) || model_.RowCount() == 0;
    if (!job.allEntries)
        for (int i : rows)
            job.names.push_back(model_.Row(i).StoredName());
    IndexOutputs(job, rows);
    int n = Drive(*engine, job);
    model_.View().SetStatusText(0, std::to_string(n < 0 ? 0 : n) + " entry(ies) successfully extracted !");
    return n;
}

void ExtractOperation::IndexOutputs(const ExtractJob& job, const std::vector<int>& rows) {
    rowOfOutput_.clear();
    for (int i : rows) {
        const EntryRow& row = model_.Row(i);
        if (row.directory) continue;
        // The output names as the extractors make them (unsafe names have none).
        std::string rel = SafeRelativeName(row.StoredName());
        if (rel.empty()) continue;
        rowOfOutput_[job.destination + (job.useFolderNames ? rel : FileNameOf(rel))] = i;
    }
}

int ExtractOperation::Drive(ExtractEngine& engine, const ExtractJob& job) {
    // "Selected files" with nothing selected extracts nothing (an engine would take no names as "all").
    if (!job.allEntries && job.names.empty()) {
        errors_.clear();
        created_.clear();
        cancelled_ = false;
        return 0;
    }
    errors_.clear();
    created_.clear();
    cancelRequested_ = false;
    cancelled_ = false;
    // Each operation starts without an answer, or with "Yes to all" when existing files are to be replaced.
    answer_ = job.overwrite ? OverwriteAnswer::YesToAll : OverwriteAnswer::None;
    skipOlder_ = job.skipOlder;
    if (!platform::DirectoryExists(job.destination)) platform::ForceDirectories(job.destination);

    ArchiveView& view = model_.View();
    running_ = true;
    engine_ = &engine;
    model_.SetBusy(true);
    view.ProgressOpen(kExtracting);
    view.ProgressBars(0, 0);
    ExtractOutcome out;
    try {
        out = engine.Run(job, *this);
    } catch (const std::exception& e) {
        out.fatal = true;
        out.fatalText = e.what();
    }
    engine_ = nullptr;
    running_ = false;
    view.ProgressBars(0, 0);
    view.ProgressClose();
    model_.SetBusy(false);
    rowOfOutput_.clear();

    if (cancelled_) DeleteCreatedFiles();
    if (out.fatal) {
        if (model_.Engine() == EngineKind::ZipBridge) {
            view.Message("Error", "Error in Extract; Fatal DLL Exception in mainunit");
        } else {
            view.Message("Error", out.fatalText.empty() ? ErrorText(E_ReadFile) : out.fatalText);
        }
    }
    if (!errors_.empty() && !cancelled_) view.Message("Error", ErrorSummary());
    return out.extracted;
}

void ExtractOperation::Cancel() {
    if (!running_) return;
    cancelRequested_ = true;
    cancelled_ = true;
    if (engine_) engine_->Cancel();
}

void ExtractOperation::DeleteCreatedFiles() {
    // Only what this run created goes; files that were there before stay (even when the run replaced them).
    for (const auto& p : created_) {
        struct stat st {};
        if (lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(p.c_str());
    }
}

void ExtractOperation::FileStarting(const std::string& entryName, const std::string& outputPath) {
    model_.View().ProgressFile(VisibleMarks(FileNameOf(entryName.empty() ? outputPath : entryName)));
    struct stat st {};
    if (!outputPath.empty() && lstat(outputPath.c_str(), &st) != 0) created_.push_back(outputPath);
}

ExistsDecision ExtractOperation::FileExists(const std::string& entryName, const std::string& outputPath) {
    if (cancelRequested_) return ExistsDecision::Cancel;
    auto it = rowOfOutput_.find(outputPath);
    const EntryRow* row = it == rowOfOutput_.end() ? nullptr : &model_.Row(it->second);
    // Update mode: an entry that is not newer than the existing file is left out, without a question.
    if (skipOlder_ && row && platform::FileMTime(outputPath) >= row->time) return ExistsDecision::Skip;
    if (answer_ == OverwriteAnswer::YesToAll) return ExistsDecision::Overwrite;
    if (answer_ == OverwriteAnswer::NoToAll) return ExistsDecision::Skip;

    OverwritePrompt p;
    p.existingPath = outputPath;
    int64_t size = platform::FileSizeOf(outputPath);
    p.existingSize = size < 0 ? 0 : static_cast<uint64_t>(size);
    int64_t mtime = platform::FileMTime(outputPath);
    p.existingTime = model_.DateText(mtime);
    if (row) {
        p.entryName = row->StoredName();
        p.entrySize = row->size;
        p.entryTime = model_.Text(it->second, colDate);
    } else {
        p.entryName = entryName.empty() ? FileNameOf(outputPath) : entryName;
    }
    OverwriteAnswer a = model_.View().AskOverwrite(p);
    switch (a) {
        case OverwriteAnswer::Yes:
            return ExistsDecision::Overwrite;
        case OverwriteAnswer::YesToAll:
            answer_ = a;
            return ExistsDecision::Overwrite;
        case OverwriteAnswer::NoToAll:
            answer_ = a;
            return ExistsDecision::Skip;
        case OverwriteAnswer::Cancel:
            Cancel();
            return ExistsDecision::Cancel;
        case OverwriteAnswer::No:
        case OverwriteAnswer::None:
            return ExistsDecision::Skip;
    }
    return ExistsDecision::Skip;
}

bool ExtractOperation::Password(const std::string& entryName, std::string& password) {
    auto p = model_.View().AskPassword(entryName);
    if (!p) return false;
    password = *p;
    return true;
}

bool ExtractOperation::NextVolume(std::string& path, const std::string& volumeId, bool exists) {
    if (exists) return true;
    auto p = model_.View().AskNextVolume(
        "Insert next disk or locate the file: " + FileNameOf(path) + " (ID: " + volumeId + ")", path);
    if (!p) {
        Cancel();
        return false;
    }
    path = *p;
    return true;
}

void ExtractOperation::Progress(int byFile, int byTotal) {
    ArchiveView& v = model_.View();
    v.ProgressHeader(kExtracting);
    v.ProgressBars(byFile, byTotal);
}

void ExtractOperation::Error(const std::string& name, int code, const std::string& text) {
    if (code == E_UserCanceled || cancelRequested_) return;
    std::string line = name.empty() ? std::string() : FileNameOf(name) + ": ";
    line += text.empty() ? ErrorText(code) : text;
    if (code > 0) line += " (" + std::to_string(code) + ")";
    line = VisibleMarks(line);
    errors_.push_back(line);
    model_.View().Log(line);
}

void ExtractOperation::EntryFailed(const std::string& entryName, const std::string& outputPath, int code,
                                   const std::string& text) {
    if (code == E_UserCanceled || cancelRequested_) return;
    const std::string& name = entryName.empty() ? outputPath : entryName;
    std::string line = FileNameOf(name) + ": " + (text.empty() ? ErrorText(code) : text);
    if (code > 0) line += " (" + std::to_string(code) + ")";
    line = VisibleMarks(line);
    errors_.push_back(line);
    model_.View().Log(line);
}

void ExtractOperation::Failure(const std::string& text) {
    if (!cancelRequested_ && !text.empty()) errors_.push_back(text);
}

void ExtractOperation::Activity() {
    model_.View().ProcessEvents();
}

std::string ExtractOperation::ErrorSummary() const {
    if (errors_.empty()) return {};
    std::string s = std::to_string(errors_.size()) + " error(s) occurred while extracting:\n";
    for (size_t i = 0; i < errors_.size() && i < kSummaryLines; ++i)
        s += "\n" + errors_[i];
    if (errors_.size() > kSummaryLines)
        s += "\n... and " + std::to_string(errors_.size() - kSummaryLines) + " more";
    return s;
}

int ExtractOperation::ExtractToNamedFolder() {
    std::string dest = model_.QuickExtractFolderNamed();
    if (dest.empty()) return -1;
    if (!platform::DirectoryExists(dest)) platform::ForceDirectories(dest);
    const Settings& s = model_.Config();
    return Run({false, s.optZipDirs, dest, s.optUpdate, s.optOverwrite, std::nullopt});
}

int ExtractOperation::ExtractHere() {
    std::string dest = model_.QuickExtractFolderHere();
    if (dest.empty()) return -1;
    const Settings& s = model_.Config();
    return Run({false, s.optZipDirs, dest, s.optUpdate, s.optOverwrite, std::nullopt});
}

int ExtractOperation::ExtractToFavourite() {
    const Settings& s = model_.Config();
    if (s.optFavFolder.empty() || !platform::DirectoryExists(s.optFavFolder)) {
        model_.View().Message("Question", "Directory does not exist !");
        return -1;
    }
    return Run({false, s.optZipDirs, s.optFavFolder, s.optUpdate, s.optOverwrite, std::nullopt});
}

int ExtractOperation::ExtractToRemembered(const std::string& folder) {
    if (folder.empty()) return -1;
    if (!platform::DirectoryExists(folder)) platform::ForceDirectories(folder);
    return Run({last_.selectedOnly, true, folder, last_.skipOlder, last_.overwrite, std::nullopt});
}

int ExtractOperation::RunDialogChoices(const LastExtractChoices& c) {
    last_ = c;
    if (c.cancelled || c.destination.empty()) return -1;
    Settings& s = model_.Config();
    if (s.ExtractHistory.Push(c.destination) && model_.SettingsFile()) {
        s.SaveHistory(*model_.SettingsFile());
        model_.SettingsFile()->Flush();
    }
    model_.View().HistoryChanged();
    return Run({c.selectedOnly, c.useFolderNames, c.destination, c.skipOlder, c.overwrite, std::nullopt});
}

}  // namespace varnok::app
