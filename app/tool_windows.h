// The work of the four tool windows (encode, convert, test, repair) without their widgets: each drives its
// archive component, writes the window's logs, asks its questions through a ToolView and decides what the
// user is told at the end.
//
// Design rules shared by all four:
// - A run is cancellable: the view's Cancel reaches the running component's stop flag, and the component's
//   block callbacks let the window handle input. The components write beside their target and rename into
//   place, so a cancelled or failed run leaves every archive as it was and no partial output.
// - Errors are collected once each (file and reason), logged, and shown in one box after the run; a success
//   message appears only when nothing went wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/core/arctype.h"

namespace varnok::app {

// What a tool window shows and asks. Every call has a harmless default (tests record what they need).
class ToolView {
  public:
    virtual ~ToolView() = default;
    virtual void ClearLogs() {}
    virtual void SummaryLine(const std::string&) {}
    virtual void DetailsLine(const std::string&) {}
    // Appends text to the last line of Details.
    virtual void DetailsAppend(const std::string&) {}
    virtual void Status(int /*panel*/, const std::string&) {}
    // Title "Error", "Information"; a box with OK.
    virtual void Message(const std::string& /*title*/, const std::string& /*text*/) {}
    virtual bool AskYesNo(const std::string& /*title*/, const std::string& /*text*/) { return false; }
    // 0 Yes, 1 No, 2 Cancel.
    virtual int AskYesNoCancel(const std::string& /*title*/, const std::string& /*text*/) { return 2; }
    virtual std::optional<std::string> AskPassword(const std::string& /*name*/) { return std::nullopt; }
    virtual std::optional<std::string> AskNextVolume(const std::string& /*prompt*/, const std::string& path) {
        (void)path;
        return std::nullopt;
    }
    // The progress window with its Cancel.
    virtual void ProgressOpen(const std::string& /*header*/) {}
    virtual void ProgressFile(const std::string& /*name*/) {}
    virtual void ProgressBars(int /*file*/, int /*total*/) {}
    virtual void ProgressClose() {}
    // The window's own bar over a list of files (repair): shown while total > 0.
    virtual void ListBar(int /*done*/, int /*total*/) {}
    // The window's controls are disabled (true) while a run goes on.
    virtual void SetRunning(bool) {}
    virtual void ProcessEvents() {}
};

// The shared texts.
inline constexpr const char* kMissingArchiveText = "This Archive doesn't exist. Do you want to create it now ?";
inline constexpr const char* kSourceMissingText = "The source archive does not exist !\n\rProcess canceled.";
inline constexpr const char* kSourceInvalidText = "The source archive is not valid !\n\rProcess canceled.";
inline constexpr const char* kSeparator = "==========================================";

// A list of archives as the convert, test and repair windows keep it ("+" and "-").
class ArchiveList {
  public:
    // Adds the files that exist (once each); for one that does not, the missing-archive box. Returns the number
    // added.
    int Add(const std::vector<std::string>& paths, ToolView& view);
    // Removes the entries at these indexes.
    void Remove(std::vector<int> indexes);
    void Clear() { files_.clear(); }
    const std::vector<std::string>& Files() const { return files_; }
    bool Empty() const { return files_.empty(); }

  private:
    std::vector<std::string> files_;
};

// The result of a tool run.
enum class ToolResult { Done, Failed, Cancelled, Refused };

// ---- Encode window ----------------------------------------------------------------------------------------

enum class TextEncoding { UUE, XXE };

class EncodeTool {
  public:
    explicit EncodeTool(ToolView& view) : view_(view) {}

    std::string source, target;
    TextEncoding encoding = TextEncoding::UUE;
    bool writeTable = false;

    // On show: the main window's archive (empty when none) as source, the target beside it.
    void Start(const std::string& openArchive);
    // A source chosen with "...": false (and a box) when it does not exist.
    bool ChooseSource(const std::string& path);
    // A folder chosen for the target: the target keeps its file name.
    void ChooseTargetFolder(const std::string& folder);
    // Another encoding: a target with the other encoding's extension gets this one's.
    void SetEncoding(TextEncoding e);
    bool OkEnabled() const { return !target.empty(); }
    // The target a source gets: its name with ".uue" or ".xxe" in place of its extension.
    static std::string TargetFor(const std::string& source, TextEncoding e);

    // OK: checks the source (checkValidity: it must be an archive of a recognised type), encodes, and says how
    // it went. Done only when the text was written without an error.
    ToolResult Run(bool checkValidity);
    void Cancel();
    bool Running() const { return running_; }
    const std::vector<std::string>& Errors() const { return errors_; }

  private:
    ToolView& view_;
    bool running_ = false;
    bool cancel_ = false;
    std::function<void()> stop_;
    std::vector<std::string> errors_;
};

// ---- Convert window ---------------------------------------------------------------------------------------

// The "Archive Type:" group, in its order.
enum class ConvertType { Bh, Cab, GzipTar, Lha, Tar, Zip };
inline constexpr int kConvertTypeCount = 6;

struct ConvertOptions {
    bool addToArchive = false;  // "Action:": "Add to archive"
    bool deleteSource = false;
    bool integrityCheck = true;
    ConvertType type = ConvertType::Bh;
    bool ownDirectory = false;  // "Store in own directory"
    std::string folder;         // "Directory"
    std::string tempDir;        // where the source is extracted to
};

class ConvertTool {
  public:
    explicit ConvertTool(ToolView& view) : view_(view) {}

    ArchiveList list;
    ConvertOptions options;
    // Called before a source is deleted, so that the main window closes it when it is the open archive.
    std::function<void(const std::string& path)> releaseArchive;

    static const char* TypeCaption(ConvertType t);
    static std::string TargetExtension(ConvertType t);
    // Whether the program can write archives of the type.
    static bool TypeAvailable(ConvertType t);
    // The target of a source with the current options.
    std::string TargetName(const std::string& source) const;

    // OK: converts every archive of the list in order. Converted ones leave the list; the list keeps those
    // that failed. "All files have been converted." only when all were.
    ToolResult Run();
    void Cancel();
    bool Running() const { return running_; }
    const std::vector<std::string>& Errors() const { return errors_; }
    const std::vector<std::string>& Log() const { return log_; }
    // The targets written by the last run.
    const std::vector<std::string>& Written() const { return written_; }

  private:
    bool ConvertOne(const std::string& source);
    void LogLine(const std::string& line);
    void LogAppend(const std::string& text);
    void Error(const std::string& line);

    ToolView& view_;
    bool running_ = false;
    bool cancel_ = false;
    std::function<void()> stop_;
    std::vector<std::string> errors_, log_, written_;
    std::vector<std::string> passwords_;  // typed during this window's runs
};

// ---- Test window ------------------------------------------------------------------------------------------

struct TestVerdict {
    std::string file;
    bool valid = false;
    int errors = 0;
    bool tested = false;  // false: not an archive that can be tested, or stopped
};

class TestTool {
  public:
    explicit TestTool(ToolView& view) : view_(view) {}

    ArchiveList list;
    // Where the ZIP engine library is looked for (empty: the program's own folders).
    std::string zipEngineFolder;
    std::string tempDir;

    // "&Test": clears the logs and tests every archive of the list. Done when every archive is valid.
    ToolResult Run();
    void Cancel();
    bool Running() const { return running_; }
    const std::vector<TestVerdict>& Verdicts() const { return verdicts_; }
    const std::vector<std::string>& Summary() const { return summary_; }
    const std::vector<std::string>& Details() const { return details_; }

    // Whether a file is tested through the ZIP engine (its name ends in ".zip", any case).
    static bool TestedAsZip(const std::string& path);

  private:
    TestVerdict TestOne(const std::string& path);
    int TestZip(const std::string& path);
    int TestComponent(const std::string& path, bool& testable);
    void Detail(const std::string& line);
    void Summary(const std::string& line);

    ToolView& view_;
    bool running_ = false;
    bool cancel_ = false;
    std::function<void()> stop_;
    std::vector<TestVerdict> verdicts_;
    std::vector<std::string> summary_, details_;
    std::vector<std::string> passwords_;  // typed during this window's runs
};

// ---- Repair window ----------------------------------------------------------------------------------------

class RepairTool {
  public:
    explicit RepairTool(ToolView& view) : view_(view) {}

    ArchiveList list;
    bool RepairEnabled() const { return !list.Empty() && !running_; }

    // "&Repair": repairs every file of the list into NAME_fixed.zip beside it. Done when every file gave a
    // repaired archive with at least one entry.
    ToolResult Run();
    void Cancel();
    bool Running() const { return running_; }
    const std::vector<std::string>& Summary() const { return summary_; }
    const std::vector<std::string>& Details() const { return details_; }
    const std::vector<std::string>& Errors() const { return errors_; }
    // The repaired files of the last run.
    const std::vector<std::string>& Written() const { return written_; }

  private:
    bool RepairOne(const std::string& path);
    void Both(const std::string& line);
    void Detail(const std::string& line);

    ToolView& view_;
    bool running_ = false;
    bool cancel_ = false;
    std::function<void()> stop_;
    std::vector<std::string> summary_, details_, errors_, written_;
};

// The text of the box shown after a run with errors: a heading and the errors, at most 20 of them.
std::string ErrorBoxText(const std::string& heading, const std::vector<std::string>& errors);

}  // namespace varnok::app
