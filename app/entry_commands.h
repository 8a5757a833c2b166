// The commands of the main window that act on the open archive's entries and its ZIP data, without a toolkit:
// open and view an entry, install, rename an entry, the ZIP comment, make and undo a self-extractor, find,
// the archive's properties and dragging entries out.
//
// Design: every run that rewrites the archive goes through a component that builds the new file beside the old
// one and renames it into place only when it is complete (the bridge's Rename, ZipToSfx and SfxToZip, the ZIP
// writer for the comment), so a failed or cancelled run leaves the archive byte for byte as it was and no file
// behind. The model shows progress through the view, polls Cancel through the component's shared flag, and
// says each failure once, naming the file. Anything taken out of the archive to be opened goes into a private
// folder below the session's temporary folder, and nothing that could run is opened without a question that
// names it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zipbridge/zip_bridge.h"

namespace varnok::app {

class ArchiveModel;

// The whole name against a pattern, ignoring case: "*" any run of characters (none too), "?" one character.
bool WildcardMatch(const std::string& name, const std::string& pattern);

// Whether opening the file with its associated program could run it: programs (an executable mode, ELF or
// "MZ" bytes, "#!" scripts), desktop entries and the extensions of scripts and Windows programs.
bool MayRunWhenOpened(const std::string& path);
// Whether the name is that of a Windows program (".exe", ".com", ".bat", ".cmd", ".msi").
bool IsWindowsProgramName(const std::string& name);

// The choices of the self-extractor dialog.
struct SfxChoices {
    std::string title = "Varnok SFX";
    std::string commandLine;
    std::string destination;  // the dialog's field; empty: the temporary folder
    OvrOpts overwrite = OvrConfirm;
    bool askCommandLine = false;
    bool askFiles = true;
    bool hideOverwriteBox = false;
};
// The folder the self-extractor proposes, from the dialog's field: empty gives the temporary folder, an
// absolute path is used as it is, anything else is taken below the folder the program is started in.
std::string SfxDefaultDirOf(const std::string& field, const std::string& tempFolder);

// Find files.
struct FindRequest {
    enum class By { Name, Date, Size } by = By::Name;
    std::string pattern = "*.*";
    // Dates as day ranges [start, end) in Unix seconds: Before = on or before the first day, Between = from the
    // first day to the second day, After = after the first day.
    enum class DateMode { Before, Between, After } dateMode = DateMode::Before;
    int64_t firstDayStart = 0, firstDayEnd = 0, secondDayEnd = 0;
    enum class SizeMode { Above, Fit, Below, Between } sizeMode = SizeMode::Above;
    uint64_t first = 0, second = 0;  // in bytes (the number times the unit)
};
// A number field of the find dialog: not a number counts as 0.
uint64_t FindNumber(const std::string& field);

// The archive properties window.
struct ArchiveProperties {
    std::string name, folder, type;
    uint64_t size = 0;  // unpacked total
    uint64_t files = 0;
    int compression = 0;  // percent saved
    int64_t time = 0;     // the archive file's modification time
};

// How helper programs are started (detached); replaced by tests.
using Spawner = std::function<bool(const std::vector<std::string>& argv, const std::string& workDir)>;

class EntryCommands {
  public:
    explicit EntryCommands(ArchiveModel& model);
    void SetSpawner(Spawner s) { spawn_ = std::move(s); }
    // How programs are looked up on PATH (tests decide what is installed).
    void SetProgramFinder(std::function<bool(const std::string&)> f) { onPath_ = std::move(f); }

    // The Cancel button of the progress window; harmless when nothing runs.
    void Cancel();
    bool Running() const { return running_; }
    bool LastCancelled() const { return cancelled_; }

    // Rename an entry: the row the dialog shows (the focused row when selected, else the first selected), with
    // its name and folder as the dialog shows them; -1 when no row is selected.
    int RenameRow() const;
    std::string RenameName(int row) const;
    std::string RenamePath(int row) const;
    // Renames the row to newPath + "/" + newName. True when the archive was rewritten (or nothing changed).
    bool RenameEntry(int row, const std::string& newName, const std::string& newPath);

    // The archive comment.
    std::string Comment() const;
    bool SetComment(const std::string& text);
    // A text file for the comment editor; nullopt (with the message shown) when it cannot be read.
    std::optional<std::string> LoadCommentFile(const std::string& path);

    // Self-extractors: the program made of the open ZIP archive (beside it, ".exe"), and back.
    std::string ExeTarget() const;
    std::string ZipTarget() const;
    bool MakeExe(const SfxChoices& c);
    bool ExeToZip();

    // Open, view and install.
    bool OpenEntry();
    bool ViewEntry();
    bool OpenWithBoth();
    bool Install();

    // Find: adds the matching rows to the selection; returns how many rows match.
    int Find(const FindRequest& r);
    ArchiveProperties Properties() const;

    // Dragging entries out: the paths a drop will receive (in a new private folder), and the extraction that
    // makes them (at the drop). ExtractForDrag is done once per drag.
    std::vector<std::string> PrepareDrag();
    bool ExtractForDrag();
    const std::string& DragFolder() const { return dragFolder_; }

  private:
    // Extracts rows into a new private folder below the session's temporary folder; the folder, or empty.
    std::string ExtractPrivately(const std::vector<int>& rows, bool folderNames, const std::string& prefix);
    int TargetRow() const;
    bool Launch(const std::vector<std::string>& argv, const std::string& workDir);
    bool ConfirmOpening(const std::string& path, const std::string& shownName);
    // Runs a bridge operation with the progress window: header, bytes or entries it goes through.
    int RunBridge(const std::string& header, uint64_t unitsTotal, uint64_t unitSize, const std::function<int()>& op);
    void ShowBridgeFailure(const std::string& fallback);
    bool ReplaceQuestion(const std::string& target);

    ArchiveModel& model_;
    Spawner spawn_;
    std::function<bool(const std::string&)> onPath_;
    std::function<void()> cancel_;
    bool running_ = false;
    bool cancelled_ = false;
    std::string dragFolder_;
    std::vector<int> dragRows_;
    bool dragExtracted_ = false;
};

}  // namespace varnok::app
