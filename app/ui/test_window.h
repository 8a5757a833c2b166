// The test window ("Testing archive..."): a list of archives, "&Test" to test them all in order, a summary
// with one verdict per archive and the details of every test.
#pragma once

#include "app/ui/tool_window_base.h"

class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace varnok::ui {

class TestWindow : public ToolWindowBase {
    Q_OBJECT
  public:
    // openArchive: the main window's archive (put into the list); tempDir: where the ZIP engine may work.
    TestWindow(QWidget* parent, const QString& openArchive, const QString& tempDir);

    app::TestTool& Tool() { return tool_; }
    void AddArchives(const QStringList& files);
    // "&Test".
    void TestAll();

    QListWidget* List() const { return list_; }
    QPlainTextEdit* SummaryView() const { return summary_; }
    QPlainTextEdit* DetailsView() const { return details_; }
    QTabWidget* Tabs() const { return tabs_; }
    QPushButton* TestButton() const { return test_; }
    QPushButton* CloseButton() const { return close_; }
    QPushButton* AddButton() const { return add_; }
    QPushButton* RemoveButton() const { return remove_; }

    // ToolView
    void ClearLogs() override;
    void SummaryLine(const std::string& line) override;
    void DetailsLine(const std::string& line) override;
    void SetRunning(bool running) override;

  protected:
    void CancelRun() override { tool_.Cancel(); }
    bool RunActive() const override { return tool_.Running(); }
    void showEvent(QShowEvent* e) override;

  private:
    void FillList();

    app::TestTool tool_{*this};
    QListWidget* list_;
    QTabWidget* tabs_;
    QPlainTextEdit* summary_;
    QPlainTextEdit* details_;
    QPushButton* test_;
    QPushButton* close_;
    QPushButton* add_;
    QPushButton* remove_;
    bool shown_ = false;
};

}  // namespace varnok::ui
