// The repair window ("Repair damaged zip files"): a list of ZIP files, "&Repair" to rebuild each into
// NAME_fixed.zip beside it, a summary with a bar over the list, and the details of every entry found.
#pragma once

#include "app/ui/tool_window_base.h"

class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace varnok::ui {

class RepairWindow : public ToolWindowBase {
    Q_OBJECT
  public:
    RepairWindow(QWidget* parent, const QString& openArchive);

    app::RepairTool& Tool() { return tool_; }
    void AddArchives(const QStringList& files);
    // "&Repair".
    void RepairAll();

    QListWidget* List() const { return list_; }
    QPlainTextEdit* SummaryView() const { return summary_; }
    QPlainTextEdit* DetailsView() const { return details_; }
    QProgressBar* Bar() const { return bar_; }
    QPushButton* RepairButton() const { return repair_; }
    QPushButton* CloseButton() const { return close_; }
    QPushButton* RemoveButton() const { return remove_; }

    // ToolView
    void ClearLogs() override;
    void SummaryLine(const std::string& line) override;
    void DetailsLine(const std::string& line) override;
    void ListBar(int done, int total) override;
    void SetRunning(bool running) override;

  protected:
    void CancelRun() override { tool_.Cancel(); }
    bool RunActive() const override { return tool_.Running(); }

  private:
    void FillList();

    app::RepairTool tool_{*this};
    QListWidget* list_;
    QTabWidget* tabs_;
    QPlainTextEdit* summary_;
    QPlainTextEdit* details_;
    QProgressBar* bar_;
    QPushButton* repair_;
    QPushButton* close_;
    QPushButton* add_;
    QPushButton* remove_;
};

}  // namespace varnok::ui
