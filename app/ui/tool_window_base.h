// What the encode, convert, test and repair windows share: the questions and boxes of a tool run, the progress
// window with its Cancel, the "Open Archiv" file choice, and the rule that closing a window during a run
// stops the run first.
#pragma once

#include <QDialog>
#include <QElapsedTimer>

#include "app/tool_windows.h"

class QListWidget;
class QPlainTextEdit;

namespace varnok::ui {

class ProgressWindow;

class ToolWindowBase : public QDialog, public app::ToolView {
    Q_OBJECT
  public:
    explicit ToolWindowBase(QWidget* parent);

    ProgressWindow* Progress() const { return progress_; }
    // How often input is handled during a run, at most (milliseconds).
    void SetEventInterval(int ms) { eventIntervalMs_ = ms; }

    // ToolView
    void Message(const std::string& title, const std::string& text) override;
    bool AskYesNo(const std::string& title, const std::string& text) override;
    int AskYesNoCancel(const std::string& title, const std::string& text) override;
    std::optional<std::string> AskPassword(const std::string& name) override;
    std::optional<std::string> AskNextVolume(const std::string& prompt, const std::string& path) override;
    void ProgressOpen(const std::string& header) override;
    void ProgressFile(const std::string& name) override;
    void ProgressBars(int file, int total) override;
    void ProgressClose() override;
    void ProcessEvents() override;

    // A filter written as "Name|patterns|Name|patterns|" in the file dialog's form.
    static QString DialogFilter(const QString& pipeFilter);

  public slots:
    void reject() override;

  protected:
    // The running tool's Cancel, and whether one runs.
    virtual void CancelRun() = 0;
    virtual bool RunActive() const = 0;
    // The "Open Archiv" dialog: the chosen files (empty when cancelled).
    QStringList PickArchives(const QString& pipeFilter, bool multiple);
    void closeEvent(QCloseEvent* e) override;
    // The selected rows of a list, as indexes.
    static std::vector<int> SelectedRows(QListWidget* list);
    static void AppendToLastLine(QPlainTextEdit* edit, const QString& text);

  private:
    ProgressWindow* progress_;
    QElapsedTimer eventsClock_;
    int eventIntervalMs_ = 40;
};

// The archive filter of the open dialogs of the tool windows.
extern const char* const kToolArchiveFilter;

}  // namespace varnok::ui
