// What the open-archive model and its commands ask of the window that shows them. Every call has a harmless
// default, so that a view implements only what it shows (tests record what they need).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnok::app {

// The answers of the overwrite prompt.
enum class OverwriteAnswer { None, Yes, YesToAll, No, NoToAll, Cancel };

// What the overwrite prompt shows: the existing file and the entry that would replace it.
struct OverwritePrompt {
    std::string existingPath;
    uint64_t existingSize = 0;
    std::string existingTime;  // as the list shows times
    std::string entryName;
    uint64_t entrySize = 0;
    std::string entryTime;  // as listed
};

class ArchiveView {
  public:
    virtual ~ArchiveView() = default;

    // Window and status bar.
    virtual void SetTitle(const std::string&) {}
    // Makes sure the status bar has its three panels (path, selection, totals).
    virtual void EnsureStatusPanels() {}
    // Leaves the status bar with its first panel only.
    virtual void RemoveStatusPanels() {}
    virtual void SetStatusText(int /*panel*/, const std::string&) {}
    virtual void SetWaitCursor(bool) {}
    // Disables (true) or enables the menus, toolbar and list while an operation runs.
    virtual void SetBusy(bool) {}
    virtual void Log(const std::string&) {}

    // The row list. Between BeginRowsUpdate and EndRowsUpdate the view does not paint; EndRowsUpdate means
    // the rows may all have changed.
    virtual void BeginRowsUpdate() {}
    virtual void EndRowsUpdate() {}
    // The same rows in a new order (selection travels with the rows).
    virtual void RowsSorted() {}
    // The model changed the selection itself (select all, invert, ...): the view shows the model's selection.
    virtual void SelectionReset() {}

    // Menus and buttons.
    virtual void CommandsChanged() {}
    virtual void SetInstallVisible(bool) {}
    virtual void HistoryChanged() {}
    virtual void QuickExtractCaptionsChanged() {}

    // Questions and messages. Titles are "Error", "Question", "Information" or "Confirm".
    virtual bool Ask(const std::string& /*title*/, const std::string& /*text*/) { return false; }
    virtual void Message(const std::string& /*title*/, const std::string& /*text*/) {}
    virtual OverwriteAnswer AskOverwrite(const OverwritePrompt&) { return OverwriteAnswer::No; }
    // The password window in extract mode; nullopt when cancelled.
    virtual std::optional<std::string> AskPassword(const std::string& /*entryName*/) { return std::nullopt; }
    // The next-volume box: the prompt and the editable path; nullopt when cancelled.
    virtual std::optional<std::string> AskNextVolume(const std::string& /*prompt*/, const std::string& path) {
        (void)path;
        return std::nullopt;
    }

    // The progress window.
    virtual void ProgressOpen(const std::string& /*header*/) {}
    virtual void ProgressHeader(const std::string& /*header*/) {}
    virtual void ProgressFile(const std::string& /*name*/) {}
    virtual void ProgressBars(int /*file*/, int /*total*/) {}
    virtual void ProgressClose() {}
    // Lets the window handle pending input (the Cancel button) during a long operation.
    virtual void ProcessEvents() {}
};

}  // namespace varnok::app
