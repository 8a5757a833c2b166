// The model of the main window's open archive: which engine serves it, the rows of the entry list with their
// nine column texts, the sort order, the selection and its totals, the status texts, the title and which
// commands are available. At most one archive is open at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/commands.h"
#include "app/formatting.h"
#include "app/settings.h"
#include "app/view.h"
#include "archive/core/arctype.h"
#include "archive/core/lister.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::app {

class ExtractOperation;
class ExtractEngineFactory;
struct ExtractRequest;

enum class EngineKind { None, ZipBridge, Lister };
enum class NewWriterKind { None, Bh, Cab, GZip, Jar, Lha, Tar, Zip };

enum Column : int { colName, colType, colSize, colPacked, colRatio, colDate, colPath, colCrc, colAttributes };

// One row of the entry list. The texts of the columns are made from these fields when the view asks.
struct EntryRow {
    std::string name;    // file name without folder (the full stored name for a directory entry)
    std::string folder;  // the stored name's folder part with its trailing "/" (empty for none)
    uint64_t size = 0;
    uint64_t packed = 0;
    int64_t time = 0;  // Unix seconds
    uint32_t crc = 0;
    uint32_t attr = 0;   // DOS attribute bits
    uint32_t type = 0;   // index into the model's file-type table
    uint32_t order = 0;  // position in the archive's directory
    bool directory = false;

    // The stored name inside the archive (folder and name).
    std::string StoredName() const { return directory ? name : folder + name; }
};

// How the view decides file-type descriptions: the description of a lower-case extension ("" when unknown).
using TypeDescriber = std::function<std::string(const std::string& extLower)>;
// How ZIP rows show their time (the local short date and time by default).
using DateFormatter = std::function<std::string(int64_t unixTime)>;

class ArchiveModel {
  public:
    ArchiveModel(Settings& settings, ArchiveView& view);
    ~ArchiveModel();
    ArchiveModel(const ArchiveModel&) = delete;
    ArchiveModel& operator=(const ArchiveModel&) = delete;

    // Settings through which the model reads ShowDirEntry, the folders and the history, and the settings file
    // that history pushes are written to (may be null).
    void SetSettingsFile(IniFile* ini) { ini_ = ini; }
    IniFile* SettingsFile() const { return ini_; }
    void SetTypeDescriber(TypeDescriber d) { describe_ = std::move(d); }
    void SetDateFormatter(DateFormatter f) { zipDate_ = std::move(f); }
    // A time as the Date column shows it for the open archive's engine.
    std::string DateText(int64_t unixTime) const;
    // The engines used by Extract (the program's real ones unless replaced).
    void SetEngineFactory(std::shared_ptr<ExtractEngineFactory> f);
    // The folder holding this session's temporary files (extracted follow-ups, viewed entries).
    void SetSessionTempDir(std::string dir) { sessionTemp_ = std::move(dir); }
    const std::string& SessionTempDir() const { return sessionTemp_; }

    // Opening and closing.
    // Opens path (closing any open archive first). Returns false only when the path is empty.
    bool Open(const std::string& path);
    void Close();
    // A new archive: open, without a file until the first add writes it, written by the writer of kind (Zip:
    // served by the ZIP bridge once it exists).
    void OpenNew(const std::string& path, NewWriterKind kind);
    // Reads the open archive again after a command changed it (at path when it moved), keeping the sort
    // order; an archive whose file is gone stays open as a new archive of its type.
    void Reread(const std::string& path = {});
    bool IsOpen() const { return open_; }
    const std::string& ArchivePath() const { return path_; }
    std::string ArchiveFileName() const;
    std::string ArchiveFolder() const;  // with trailing "/"
    EngineKind Engine() const { return engine_; }
    TArcType ArcType() const { return arcType_; }
    bool IsExecutable() const { return isExe_; }
    NewWriterKind NewWriter() const { return newWriter_; }
    const std::string& InstallRow() const { return installRow_; }
    // The engine routing: ZIP archives (any extension, programs included) go to the ZIP bridge, everything
    // else to the lister.
    static EngineKind EngineForType(TArcType t);

    // The code page of the open archive's names, when the user chose one (empty: decided from the names).
    // The choice is kept for each archive until the program ends; choosing reads the archive again.
    const std::string& NameCodePage() const { return codePage_; }
    void SetNameCodePage(const std::string& codePage);
    // What the names of the open archive are read in, as the menu shows it ("CP866").
    std::string NamesReadAs() const;

    // Rows.
    int RowCount() const { return static_cast<int>(rows_.size()); }
    const EntryRow& Row(int i) const { return rows_.at(static_cast<size_t>(i)); }
    const std::vector<EntryRow>& Rows() const { return rows_; }
    std::string Text(int row, int col) const;
    std::string TypeDescription(uint32_t type) const;
    const std::string& TypeExtension(uint32_t type) const;
    int CrcDigits() const;

    // Totals.
    uint64_t TotalCount() const { return totalCount_; }
    uint64_t TotalUnpacked() const { return totalUnpacked_; }
    uint64_t TotalPacked() const { return totalPacked_; }
    std::string TotalsStatus() const { return TotalsText(totalCount_, totalUnpacked_, totalPacked_); }

    // Sorting: a click on header col. The first click on a column sorts ascending, the next click on the same
    // column descending; the one direction flag flips on every click.
    void SortByColumn(int col);
    int SortColumn() const { return sortColumn_; }
    bool SortedDescending() const { return lastDescending_; }
    // Sorts again by the column and direction in force (after the rows were rebuilt); the flag is not
    // flipped.
    void Resort();

    // Selection.
    void SetSelected(int row, bool selected);
    void SetRangeSelected(int first, int last, bool selected);
    void SelectAll();
    void UnselectAll();
    void InvertSelection();
    bool IsSelected(int row) const { return row >= 0 && row < RowCount() && sel_[static_cast<size_t>(row)]; }
    int SelectionCount() const { return selCount_; }
    uint64_t SelectionSum() const { return selSum_; }
    std::vector<int> SelectedRows() const;
    void SetFocusedRow(int row) { focused_ = row; }
    int FocusedRow() const { return focused_ >= 0 && focused_ < RowCount() ? focused_ : -1; }
    // The status text of panel 1 for the selection (empty unless a ZIP archive lists its directory entries).
    std::string SelectionStatus() const;

    // Commands.
    CommandState State() const;
    bool Enabled(Cmd c) const { return CommandEnabled(c, State()); }
    bool Busy() const { return busy_; }
    void SetBusy(bool b);
    // While false no rows are built (batch work).
    void SetRowsEnabled(bool b) { rowsEnabled_ = b; }

    // The two quick-extract destinations: the folder named after the archive, and the archive's folder.
    std::string QuickExtractFolderNamed() const;
    std::string QuickExtractFolderHere() const;

    // Extraction (Extract command and its quick forms).
    ExtractOperation& Extractor() { return *extract_; }
    void Extract(const ExtractRequest& r);

    // Temporary files made for viewing; deleted when the archive closes.
    void AddViewFile(const std::string& path) { viewFiles_.push_back(path); }
    const std::vector<std::string>& ViewFiles() const { return viewFiles_; }

    TZipBridge& Bridge() { return bridge_; }
    TArcLister& Lister() { return lister_; }
    Settings& Config() { return settings_; }
    ArchiveView& View() { return view_; }

    // Builds rows from the bridge's directory (its directory-update event).
    void BuildZipRows();

  private:
    void AttachEvents();
    void ClearRows();
    void AddListerRow(const ListEntry& e);
    uint32_t TypeIndexOf(const std::string& name, bool directory);
    void UpdateSelectionStatus();
    void SortRows(int col, bool descending);
    void FollowUps(int depth);
    void PushOpenHistory();
    bool OpenAt(const std::string& path, int depth);

    Settings& settings_;
    ArchiveView& view_;
    IniFile* ini_ = nullptr;
    TZipBridge bridge_;
    TArcLister lister_;
    std::unique_ptr<ExtractOperation> extract_;
    TypeDescriber describe_;
    DateFormatter zipDate_;
    std::string sessionTemp_;

    bool open_ = false;
    std::string path_;
    EngineKind engine_ = EngineKind::None;
    TArcType arcType_ = atNA;
    bool isExe_ = false;
    NewWriterKind newWriter_ = NewWriterKind::None;
    std::string installRow_;
    bool rowsEnabled_ = true;
    bool closing_ = false;
    bool busy_ = false;
    bool closeRequested_ = false;

    std::vector<EntryRow> rows_;
    uint64_t totalCount_ = 0, totalUnpacked_ = 0, totalPacked_ = 0;

    std::vector<uint8_t> sel_;
    int selCount_ = 0;
    uint64_t selSum_ = 0;
    int focused_ = -1;

    int sortColumn_ = -1;
    int prevSortColumn_ = -1;
    bool directionFlag_ = false;
    bool lastDescending_ = false;

    struct TypeInfo {
        std::string ext;  // lower case, with its dot ("" for none; "/" for directories)
        mutable std::string description;
        mutable bool described = false;
    };
    std::vector<TypeInfo> types_;
    std::unordered_map<std::string, uint32_t> typeIndex_;

    std::vector<std::string> viewFiles_;
    std::string codePage_;
    std::unordered_map<std::string, std::string> codePages_;  // archive path -> the code page chosen for it
};

}  // namespace varnok::app
