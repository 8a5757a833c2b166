// The main window: menus, toolbar, the entry list, the status bar with its three panels and the log pane,
// over the toolkit-neutral application (settings, the open-archive model, the commands).
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <array>
#include <map>
#include <memory>

#include "app/add_command.h"
#include "app/application.h"
#include "app/multi_extract.h"
#include "app/archive_file_commands.h"
#include "app/checkout_command.h"
#include "app/entry_commands.h"
#include "app/preferences.h"
#include "app/help_topics.h"
#include "app/ui/entry_list.h"
#include "app/ui/file_types.h"
#include "app/view.h"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QToolBar;

namespace varnok::ui {

class OverwriteDialog;
class PasswordDialog;
class ProgressWindow;

class MainWindow : public QMainWindow, public app::ArchiveView {
    Q_OBJECT
  public:
    explicit MainWindow(app::ApplicationFolders folders = app::ApplicationFolders::ForUser(),
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // Opens an archive (the command line's FILE, a history item, a dropped archive).
    void OpenArchive(const QString& path);
    // Interprets the command line (main_window_switches.cpp): an existing file is opened; "-e", "-a" and the
    // shell switches do their work with the window hidden and end the program through quitHook.
    void HandleArguments(const QStringList& args);
    // Whether the arguments ask for batch work (the window is then not shown at all).
    static bool IsBatchCommandLine(const QStringList& args);
    // The multi-extract window pre-filled with paths; OK runs the batch. False when the batch had failures.
    bool ShowMultiExtract(const QStringList& paths = {});
    // The batch over the archives; false when any was not extracted completely.
    bool RunMultiExtract(const std::vector<std::string>& paths, const app::MultiExtractRequest& r);
    // The Open dialog's choice: one file is opened, several go to the multi-extract window (".vca" left out).
    void OpenChosenFiles(const QStringList& files);
    // Whether the window has stopped its work and saved the settings (closed, or ended by the session).
    bool Exited() const { return exited_; }
    // How batch work ends the program (QCoreApplication::exit unless set: tests record the status).
    std::function<void(int)> quitHook;
    // The multi-extract window and the Open dialog are set up before they run (tests answer them).
    std::function<void(QDialog*)> multiExtractHook;
    std::function<void(QDialog*)> openDialogHook;
    // The Extract command with its dialog; fromPopup starts the file choice at "Selected files".
    void ExtractWithDialog(bool fromPopup);

    app::Application& App() { return *app_; }
    app::ArchiveModel& Model() { return app_->Model(); }
    QAction* Action(app::Cmd c) const { return actions_.at(c); }
    QAction* PopupExtractAction() const { return popupExtract_; }
    EntryListView* List() const { return list_; }
    EntryTableModel* TableModel() const { return table_; }
    ProgressWindow* Progress() const { return progress_; }
    OverwriteDialog* OverwritePrompt() const { return overwrite_; }
    PasswordDialog* PasswordWindow() const { return password_; }
    QLabel* StatusPanel(int i) const { return panels_.at(static_cast<size_t>(i)); }
    QPlainTextEdit* LogView() const { return log_; }
    QDockWidget* LogDock() const { return logDock_; }
    QToolBar* MainToolBar() const { return toolbar_; }
    QMenu* PopupMenu() const { return popup_; }
    QMenu* TopMenu(int i) const { return topMenus_.at(static_cast<size_t>(i)); }
    const std::array<QAction*, app::kHistorySlots>& OpenHistoryActions() const { return openHistory_; }
    const std::array<QAction*, app::kHistorySlots>& ExtractHistoryActions() const { return extractHistory_; }
    // How often input is handled during an operation, at most (milliseconds).
    void SetEventInterval(int ms) { eventIntervalMs_ = ms; }
    // Mail Archive...: the mail window, or the system mail program when the internal client is off.
    void MailArchive();
    // The update check with its windows; scheduled: started by the start-up schedule (silent without an
    // address).
    void CheckForUpdate(bool scheduled);
    // The start-up schedule of the update check.
    void RunUpdateSchedule();
    QAction* MailSettingsAction() const { return mailSettingsAction_; }
    QAction* UpdateSettingsAction() const { return updateSettingsAction_; }
    QAction* CheckUpdateAction() const { return checkUpdateAction_; }
    // The full text of a status panel (the label shows it shortened).
    QString StatusText(int panel) const { return statusTexts_.at(static_cast<size_t>(panel)); }

    // ArchiveView
    void SetTitle(const std::string& t) override;
    void EnsureStatusPanels() override;
    void RemoveStatusPanels() override;
    void SetStatusText(int panel, const std::string& text) override;
    void SetWaitCursor(bool on) override;
    void SetBusy(bool busy) override;
    void Log(const std::string& line) override;
    void BeginRowsUpdate() override;
    void EndRowsUpdate() override;
    void RowsSorted() override;
    void SelectionReset() override;
    void CommandsChanged() override;
    void SetInstallVisible(bool visible) override;
    void HistoryChanged() override;
    void QuickExtractCaptionsChanged() override;
    bool Ask(const std::string& title, const std::string& text) override;
    void Message(const std::string& title, const std::string& text) override;
    app::OverwriteAnswer AskOverwrite(const app::OverwritePrompt& p) override;
    std::optional<std::string> AskPassword(const std::string& entryName) override;
    std::optional<std::string> AskNextVolume(const std::string& prompt, const std::string& path) override;
    void ProgressOpen(const std::string& header) override;
    void ProgressHeader(const std::string& header) override;
    void ProgressFile(const std::string& name) override;
    void ProgressBars(int file, int total) override;
    void ProgressClose() override;
    void ProcessEvents() override;

    // ---- Entry and archive-file commands (main_window_entry.cpp) ----
    // Open, view, install, rename, comment, self-extractors, find, properties, the archive file's commands, the
    // desktop shortcut; false for any other command.
    bool OnEntryCommand(app::Cmd c);
    app::EntryCommands& EntryCmds() { return *entryCmds_; }
    app::ArchiveFileCommands& ArchiveFileCmds() { return *fileCmds_; }
    // The data of a drag of the selected rows out of the list (null when nothing is selected).
    QMimeData* MakeEntryDragData();

    // ---- Writing commands: New archive, Add, the drop window, Delete, Write Zip span (main_window_add.cpp) ----
    app::AddOperation& Adder() { return *adder_; }
    // New archive at a chosen path and kind (after the file dialog); then the add dialog unless withDialog is off.
    bool NewArchiveAt(const QString& path, app::ArchiveKind kind, bool withDialog = true);
    // Files dropped on the window or named by a switch: the drop window, then the add.
    void AddWithOptions(const QStringList& paths);

    // ---- Tool windows: encode, convert, test, repair (main_window_tools.cpp) ----
    // Each opens its window over the open archive (when there is one) and runs it modally.
    void ShowEncodeWindow();
    void ShowConvertWindow();
    void ShowTestWindow();
    void ShowRepairWindow();
    // Connects the four commands to their windows (called once by the constructor).
    void ConnectToolWindows();
    // A tool window is set up before it runs (tests answer it); null: none.
    std::function<void(QDialog*)> toolWindowHook;

    // ---- Checkout (main_window_checkout.cpp) ----
    // The checkout dialog over the open archive; OK extracts it and makes its menu folder.
    void CheckoutArchiveCommand();
    // The checkout dialog is set up before it runs (tests answer it); null: none.
    std::function<void(QDialog*)> checkoutHook;

    // ---- Preferences (main_window_prefs.cpp) ----
    // The Preferences dialog at a page (Options > Preferences..., and the mail window's missing settings); OK
    // applies it to this window at once.
    void ShowPreferences(app::PreferencesPage page = app::PreferencesPage::View);
    // The Preferences dialog is set up before it runs (tests answer it); null: none.
    std::function<void(QDialog*)> preferencesHook;

    // ---- Help topics (main_window_help.cpp) ----
    // Help topics (F1): the shipped help pages in the user's browser, or a message saying why not.
    void ShowHelpTopics();
    // What finds and starts the help (tests replace its program folder and its launcher).
    app::HelpOpener& Help();

  protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

  private:
    void FillEncodingMenu();
    // Options > Extraction limits: the bomb limits of every extraction (kept in the settings).
    void EditLimits();
    QMenu* encodingMenu_ = nullptr;
    QAction* limitsAction_ = nullptr;
    QAction* mailSettingsAction_ = nullptr;
    QAction* updateSettingsAction_ = nullptr;
    QAction* checkUpdateAction_ = nullptr;
    void EditMailSettings();
    void EditUpdateSettings();
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateLogPane();
    void CreateList();
    void ApplySettings();
    void RestoreGeometry();
    void RestoreLayout();
    void SaveLayout();
    void RunAssociationCheck();
    void ApplySelectionFromModel();
    void UpdateSortIndicator();
    void LayoutStatusPanels();
    void ShowStatusText(int panel);
    void OnCommand(app::Cmd c);
    void OpenCommand();
    // The switches' work and the MultiExtract... command (main_window_switches.cpp).
    friend class SwitchGlue;
    void ConnectMultiExtract();
    void SaveLogCommand();
    void CancelRunning();
    void Trigger(app::Cmd c);
    // Writing commands (main_window_add.cpp).
    void SetUpAddCommands();
    bool OnAddCommand(app::Cmd c);
    void NewArchiveCommand();
    void AddCommand();
    void DeleteCommand(app::Cmd c);
    void WriteSpanCommand();
    std::unique_ptr<app::AddOperation> adder_;

    std::unique_ptr<app::Application> app_;
    FileTypes types_;
    std::map<app::Cmd, QAction*> actions_;
    QAction* popupExtract_ = nullptr;
    std::array<QAction*, app::kHistorySlots> openHistory_{};
    std::array<QAction*, app::kHistorySlots> extractHistory_{};
    QAction* extractHistorySeparator_ = nullptr;
    std::vector<QMenu*> topMenus_;
    QMenu* popup_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QAction* installToolAction_ = nullptr;
    EntryListView* list_ = nullptr;
    EntryTableModel* table_ = nullptr;
    std::array<QLabel*, 3> panels_{};
    std::array<QString, 3> statusTexts_;
    bool threePanels_ = false;
    QPlainTextEdit* log_ = nullptr;
    QDockWidget* logDock_ = nullptr;
    ProgressWindow* progress_ = nullptr;
    OverwriteDialog* overwrite_ = nullptr;
    PasswordDialog* password_ = nullptr;

    int resetDepth_ = 0;
    bool syncingSelection_ = false;
    int waitCursor_ = 0;
    bool firstShow_ = true;
    bool closePending_ = false;
    bool exited_ = false;
    // Entry and archive-file commands (main_window_entry.cpp).
    void SetUpEntryCommands();
    void RenameEntryCommand();
    void CommentCommand();
    void MakeExeCommand();
    void ExeToZipCommand();
    void FindCommand();
    void PropertiesCommand();
    void CopyMoveArchiveCommand(bool move);
    void RenameArchiveCommand();
    std::unique_ptr<app::EntryCommands> entryCmds_;
    std::unique_ptr<app::ArchiveFileCommands> fileCmds_;
    std::unique_ptr<app::CheckoutCommand> checkout_;
    std::unique_ptr<app::HelpOpener> help_;
    QElapsedTimer eventsClock_;
    int eventIntervalMs_ = 40;
};

}  // namespace varnok::ui
