// The writing commands of the main window without their dialogs: New archive, Add (from the add dialog, the
// drop window or a switch), Delete and the split of a ZIP archive into a spanned set.
//
// Every write goes through a writer on the compression base (TZip for ZIP and JAR, TLha, TTar, TGZip, TBlakHole,
// TMakeCab), which builds the new archive beside the old one and replaces it only after a complete run: a
// cancelled or failed add or delete leaves the archive byte for byte as it was. The operation runs on the window
// thread; the writer calls back between blocks so that the progress window's Cancel is seen.
//
// Rows are deleted by their exact stored names, never by patterns built from them: on Linux a name may hold
// "*", "?" or "[" and names may differ only in case. The pattern of the delete dialog selects rows (whole name,
// ignoring case); the rows it selected are then deleted by name.
//
// A split replaces the archive by its spanned set only when the set is complete: the archive is moved aside,
// the set written from it, and the moved copy is removed only after the writer reported success; otherwise it
// is moved back. The volume opened afterwards is the last one the split wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/archive_model.h"

namespace varnok {
class TCompBase;
class TZipBridge;
}

namespace varnok::app {

// The kinds of "Create archive": 1 ZIP, 2 BH, 3 CAB, 4 LHA, 5 JAR, 6 TAR, 7 GZIP.
enum class ArchiveKind { Zip = 1, Bh, Cab, Lha, Jar, Tar, GZip };

// The filter of the "Create new Archive" file dialog; entry i (0-based) gives kind i + 1.
const std::vector<std::pair<std::string, std::string>>& NewArchiveFilters();  // (caption, "*.ext" patterns)
// The extension a kind gives a new archive (".zip", ".bh", ".cab", ".lha", ".jar", ".tar", ".gz").
std::string KindExtension(ArchiveKind k);
// The path with its extension replaced by the kind's (kept when it already has one of the kind's own, such as
// ".lzh" for LHA).
std::string PathForKind(const std::string& path, ArchiveKind k);
NewWriterKind WriterKindOf(ArchiveKind k);
// The kind a file name suggests (nullopt when no writable type has that extension).
std::optional<ArchiveKind> KindOfPath(const std::string& path);

// The compression choices the add dialog lists for an archive's writer, and the one it starts at.
struct CompressionChoices {
    std::vector<std::string> captions;
    int start = 0;
};
// What the open archive is written with; None when it cannot be written.
enum class WriterFamily { None, Zip, Jar, Bh, Lha, Cab, Tar, GZip };
WriterFamily FamilyOf(const ArchiveModel& m);
CompressionChoices CompressionFor(WriterFamily f, const Settings& s);
// Whether the family's writer can encrypt (ZIP, JAR, BH).
bool CanEncrypt(WriterFamily f);
// Whether the family's writer knows "Move files" (all but CAB).
bool CanMove(WriterFamily f);

// The arguments of an add.
struct AddRequest {
    int action = 0;     // 0 add, 1 update, 2 freshen, 3 move
    int spanMode = 3;   // 0 user defined (split after add), 1 automatic, 2 automatic with format, 3 none
    int compression = -1;  // index into CompressionFor's captions; -1: the settings' choice
    std::string password;  // empty: none
    bool emptyFolders = false;
    bool dos83 = false;
    bool hiddenFiles = true;
    bool fullPath = false;
    bool relativePath = true;
    bool includeSubfolders = true;
    bool recurse = false;
};

// The coupled check boxes of the add dialog: full/relative path exclude each other, and so do include
// subfolders/recursive.
struct PathOptions {
    bool fullPath = false, relativePath = true, includeSubfolders = true, recurse = false;
    void SetFullPath(bool on);
    void SetRelativePath(bool on);
    void SetIncludeSubfolders(bool on);
    void SetRecurse(bool on);
};

// The root folder of an add and its entries relative to it.
struct RootedList {
    std::string root;                  // with a trailing "/", or empty (entries are absolute)
    std::vector<std::string> entries;  // file names, folder names or "folder/*" patterns
    std::vector<bool> folder;          // per entry: a folder (added with what is below it)
};
// Works out the root of the added paths (absolute, "/" separated; folders may end in "/"). isFolder tells
// which exist as folders. With relative paths the root is the deepest folder all entries share.
RootedList RootAndEntries(const std::vector<std::string>& paths, bool relative, bool recurse,
                          const std::function<bool(const std::string&)>& isFolder);

// The whole-name match of the delete dialog's pattern: "*" any run, "?" one character, ASCII letters ignoring
// case; nothing else is special.
bool PatternMatches(const std::string& name, const std::string& pattern);

// The password window in its set mode: two entries that must be the same, compared exactly.
class PasswordConfirm {
  public:
    enum class Step { First, Again, Done };
    // The result of OK: false (with the mismatch text in Error) when the second entry differs.
    bool Ok(const std::string& text);
    Step Current() const { return step_; }
    const std::string& Password() const { return password_; }
    const std::string& Error() const { return error_; }
    static constexpr const char* kMismatch = "The password you typed is not the same as before";
    static constexpr const char* kReenter = "Please reenter the same password to validate it.";

  private:
    Step step_ = Step::First;
    std::string first_, password_, error_;
};

// The span size dialog's choice: the radio button index (0 720 KB, 1 1430 KB, 2 user defined) and the field.
struct SpanSizeChoice {
    int choice = 1;
    std::string field = "500";
};
// What the dialog shows for a remembered size in KB (0: none remembered).
SpanSizeChoice SpanChoiceFor(int rememberedKB);
// The size in KB a choice gives (720, 1410, or the field's integer); nullopt when the field is not one.
std::optional<int> SpanSizeOf(const SpanSizeChoice& c);

// Writes a spanned set: input ZIP file, output name, largest volume (0: the disk's size); returns 0 on success
// and fills the volume files in order, else a failure (its message already said).
using SpanWriter = std::function<int(const std::string& input, const std::string& output, int64_t maxVolume,
                                     std::vector<std::string>& volumes)>;

enum class DeleteMode { Selected, All, Pattern };

class AddOperation {
  public:
    explicit AddOperation(ArchiveModel& model);
    ~AddOperation();

    // State kept for the whole run.
    std::vector<std::string> excludeList;
    std::string addPassword;  // set by the password window in set mode
    bool passwordSet = false;
    int spanSizeKB = 0;  // the user-defined volume size
    bool spanAfterAdd = false;
    // ZIP archives are added to and deleted from through the ZIP bridge and its add/delete engine library;
    // off: through the ZIP writer itself (what the engine runs inside).
    bool useBridge = true;
    // Where the engine library is loaded from (empty: the bridge's own search).
    std::string engineFolder;

    // Whether spanning is there (the bridge can write spanned sets).
    void SetSpanWriter(SpanWriter w, std::function<void()> cancel = {}) {
        spanWriter_ = std::move(w);
        spanCancel_ = std::move(cancel);
    }
    bool CanSpan() const { return static_cast<bool>(spanWriter_); }

    // New archive after the file dialog: an existing file is replaced only when the user says yes (it is
    // removed when the first add succeeds, not before). False when nothing was created.
    bool NewArchive(const std::string& path, ArchiveKind kind);
    // Create archive (path, kind): the open archive becomes a new archive without a file until the first add.
    void CreateArchive(const std::string& path, ArchiveKind kind);

    // Checks the spanning choice of the dialogs: automatic spanning needs the archive on a removable disk
    // (otherwise the "Disk span error" box, and false).
    bool AutomaticSpanAllowed();

    // The add operation on the open archive. Returns the number of files added, or -1 when nothing ran.
    int Add(const std::vector<std::string>& paths, const AddRequest& r);
    // Delete: rows by the mode (pattern for DeleteMode::Pattern), after the question. Returns the number of
    // entries deleted, or -1 when nothing ran.
    int Delete(DeleteMode mode, const std::string& pattern = {});
    // Splits the open ZIP archive into volumes of sizeKB; the last volume is opened. False on failure (the
    // archive is then where it was).
    bool Split(int sizeKB);

    void Cancel();
    bool Running() const { return running_; }
    bool LastRunCancelled() const { return cancelled_; }
    const std::vector<std::string>& Errors() const { return errors_; }

    static constexpr const char* kNoFiles = "No files selected";
    static constexpr const char* kNotSupported = "Compression not supported for this archive";
    static constexpr const char* kDeleteQuestion = "Do you really want to delete these files?";
    static constexpr const char* kSpanError =
        "To use this function, the archive must be on\n\ra removable disk. Create an archive on a disk or\n\r"
        "choose user-defined spanning";

  private:
    std::unique_ptr<TCompBase> MakeWriter(WriterFamily f, int compression, bool forNew);
    bool UsesBridge(WriterFamily f) const;
    int RunBridge(const std::string& header, const std::string& archive,
                  const std::function<int(TZipBridge&)>& op);
    int RunBridgeAdd(const std::string& archive, const RootedList& list, bool recurse, const AddRequest& r);
    int RunWriter(TCompBase& w, const std::string& header);
    void ShowErrors(const std::string& what);

    ArchiveModel& model_;
    SpanWriter spanWriter_;
    std::function<void()> spanCancel_;
    TCompBase* writer_ = nullptr;
    TZipBridge* bridge_ = nullptr;
    bool running_ = false;
    bool cancelled_ = false;
    std::vector<std::string> errors_;
    std::string replaceOnAdd_;  // an existing file New archive may replace
};

}  // namespace varnok::app
