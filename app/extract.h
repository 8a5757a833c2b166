// The extract operation of the main window: its five arguments, the engine that does the work (the ZIP bridge
// for ZIP archives, the extractor component of the archive's type otherwise), and what the window does around
// it: the overwrite prompt and its answers, the password and next-volume questions, progress, Cancel, and the
// summary of what went wrong.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/view.h"
#include "archive/core/arctype.h"

namespace varnok {
class TZipBridge;
}

namespace varnok::app {

class ArchiveModel;

// The five arguments of the extract operation.
struct ExtractRequest {
    bool selectedOnly = false;
    bool useFolderNames = true;
    std::string destination;
    bool skipOlder = false;
    bool overwrite = false;
    // Rows to extract instead of the selection (follow-ups that extract one known row).
    std::optional<std::vector<int>> rows;
};

// The choices of the last extract dialog, kept for the whole run.
struct LastExtractChoices {
    std::string destination;
    bool selectedOnly = false;
    bool useFolderNames = true;
    bool overwrite = false;
    bool skipOlder = false;
    bool cancelled = false;
};

// Whether the extract dialog's file choice starts at "Selected files": when rows are selected (the user
// selected them to act on them) or the dialog comes from the list's pop-up menu; otherwise "All files".
inline bool ExtractDialogStartsWithSelection(bool fromPopup, int selectedRows) {
    return fromPopup || selectedRows > 0;
}

// What an engine is asked to do.
struct ExtractJob {
    std::string archivePath;
    TArcType type = atNA;
    bool allEntries = true;
    // The stored names (folder and name, "/" separated) of the entries to extract when not allEntries. They
    // are names, never patterns: an engine selects exactly these entries.
    std::vector<std::string> names;
    std::string destination;  // with a trailing "/"
    bool useFolderNames = true;
    bool skipOlder = false;
    bool overwrite = false;
    // The code page the names are read in, when the user chose one for this archive (empty: decided from
    // the names, as the list did).
    std::string codePage;
    // The decompression-bomb limits (Settings::MaxRatio, and MaxSizeMiB in bytes).
    uint64_t maxRatio = 1'000'000;
    uint64_t maxSize = 0;
};

// Whether the existing output file is replaced.
enum class ExistsDecision { Overwrite, Skip, Cancel };

// The questions and reports of a running engine, answered by the operation.
class ExtractEvents {
  public:
    virtual ~ExtractEvents() = default;
    // An entry is about to be written to outputPath (before the file is created or replaced).
    virtual void FileStarting(const std::string& entryName, const std::string& outputPath) = 0;
    // outputPath exists; the entry's time (Unix seconds) when known, else 0.
    virtual ExistsDecision FileExists(const std::string& entryName, const std::string& outputPath) = 0;
    // A password for an encrypted entry; false when the user cancelled.
    virtual bool Password(const std::string& entryName, std::string& password) = 0;
    // The next volume of a multi-volume archive; path may be changed; false cancels the run.
    virtual bool NextVolume(std::string& path, const std::string& volumeId, bool exists) = 0;
    virtual void Progress(int byFile, int byTotal) = 0;
    // A numbered error of the run as a whole (the run may go on).
    virtual void Error(const std::string& name, int code, const std::string& text) = 0;
    // An entry did not come out (its data, its password, its output): said once per entry, naming it as
    // stored and by its output path (empty when there is none), with the reason.
    virtual void EntryFailed(const std::string& entryName, const std::string& outputPath, int code,
                             const std::string& text) = 0;
    // A failure the engine has already described (and logged): the text goes into the run's summary.
    virtual void Failure(const std::string& text) = 0;
    // A chance to process window input between blocks.
    virtual void Activity() = 0;
    virtual bool CancelRequested() const = 0;
};

struct ExtractOutcome {
    int extracted = 0;
    bool fatal = false;  // a failure escaped from the engine
    std::string fatalText;
};

class ExtractEngine {
  public:
    virtual ~ExtractEngine() = default;
    virtual ExtractOutcome Run(const ExtractJob& job, ExtractEvents& events) = 0;
    // Stops the running engine at its next check.
    virtual void Cancel() = 0;
};

class ExtractEngineFactory {
  public:
    virtual ~ExtractEngineFactory() = default;
    // The engine for an archive served by the ZIP bridge (identified as type); null when there is none.
    virtual std::unique_ptr<ExtractEngine> ForZip(TZipBridge& bridge, TArcType type) = 0;
    // The extractor of a type served by the lister; null for a type without one.
    virtual std::unique_ptr<ExtractEngine> ForType(TArcType type) = 0;
};

// The program's engines: the ZIP bridge's extract call and the extractor components.
std::shared_ptr<ExtractEngineFactory> MakeDefaultEngineFactory();

// The extract operation on the open archive of a model.
class ExtractOperation : private ExtractEvents {
  public:
    ExtractOperation(ArchiveModel& model, std::shared_ptr<ExtractEngineFactory> engines);
    void SetEngineFactory(std::shared_ptr<ExtractEngineFactory> f) { engines_ = std::move(f); }

    // Runs an extract. Returns the number of files extracted, or -1 when nothing was started.
    int Run(const ExtractRequest& r);
    // The Cancel button of the progress window.
    void Cancel();
    bool Running() const { return running_; }

    // The destinations of the quick forms.
    int ExtractToNamedFolder();
    int ExtractHere();
    int ExtractToFavourite();
    // One of the remembered destinations (history slot text).
    int ExtractToRemembered(const std::string& folder);
    // After the extract dialog: remembers its choices; when not cancelled and the destination is not empty,
    // pushes the destination onto the history and extracts.
    int RunDialogChoices(const LastExtractChoices& c);

    const LastExtractChoices& Last() const { return last_; }

    // Results of the last run.
    const std::vector<std::string>& Errors() const { return errors_; }
    const std::vector<std::string>& CreatedFiles() const { return created_; }
    bool LastRunCancelled() const { return cancelled_; }
    // The text of the error summary shown after a run with errors (empty when none).
    std::string ErrorSummary() const;

  private:
    // ExtractEvents
    void FileStarting(const std::string& entryName, const std::string& outputPath) override;
    ExistsDecision FileExists(const std::string& entryName, const std::string& outputPath) override;
    bool Password(const std::string& entryName, std::string& password) override;
    bool NextVolume(std::string& path, const std::string& volumeId, bool exists) override;
    void Progress(int byFile, int byTotal) override;
    void Error(const std::string& name, int code, const std::string& text) override;
    void EntryFailed(const std::string& entryName, const std::string& outputPath, int code,
                     const std::string& text) override;
    void Failure(const std::string& text) override;
    void Activity() override;
    bool CancelRequested() const override { return cancelRequested_; }

    int RunZip(const ExtractRequest& r);
    int RunComponent(const ExtractRequest& r);
    int Drive(ExtractEngine& engine, const ExtractJob& job);
    std::vector<int> RowsOf(const ExtractRequest& r) const;
    void IndexOutputs(const ExtractJob& job, const std::vector<int>& rows);
    void DeleteCreatedFiles();

    ArchiveModel& model_;
    std::shared_ptr<ExtractEngineFactory> engines_;
    ExtractEngine* engine_ = nullptr;
    LastExtractChoices last_;
    bool running_ = false;
    bool cancelRequested_ = false;
    bool cancelled_ = false;
    OverwriteAnswer answer_ = OverwriteAnswer::None;
    bool skipOlder_ = false;
    std::vector<std::string> errors_;
    std::vector<std::string> created_;
    std::unordered_map<std::string, int> rowOfOutput_;  // output path -> row
};

}  // namespace varnok::app
