// The convert window ("Convert archive..."): a list of source archives, the target type, where the targets go,
// and a log of every conversion; OK converts the list in order with progress and Cancel.
#pragma once

#include <array>

#include "app/ui/tool_window_base.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace varnok::ui {

class ConvertWindow : public ToolWindowBase {
    Q_OBJECT
  public:
    // openArchive: the main window's archive (put into the list); tempDir: where sources are extracted.
    ConvertWindow(QWidget* parent, const QString& openArchive, const QString& tempDir);

    app::ConvertTool& Tool() { return tool_; }
    void AddArchives(const QStringList& files);
    // OK: takes the options and converts the list.
    void ConvertAll();
    app::ToolResult LastResult() const { return last_; }

    QListWidget* List() const { return list_; }
    QComboBox* ActionList() const { return action_; }
    QCheckBox* DeleteSourceBox() const { return deleteSource_; }
    QCheckBox* IntegrityBox() const { return integrity_; }
    QRadioButton* TypeButton(app::ConvertType t) const { return types_.at(static_cast<size_t>(t)); }
    QLineEdit* FolderField() const { return folder_; }
    QPushButton* FolderButton() const { return browse_; }
    QComboBox* DestModeList() const { return destMode_; }
    QPlainTextEdit* LogView() const { return log_; }
    QTabWidget* Tabs() const { return tabs_; }
    QLabel* StatusPanel(int i) const { return panels_.at(static_cast<size_t>(i)); }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

    // ToolView
    void DetailsLine(const std::string& line) override;
    void DetailsAppend(const std::string& text) override;
    void Status(int panel, const std::string& text) override;
    void SetRunning(bool running) override;

  protected:
    void CancelRun() override { tool_.Cancel(); }
    bool RunActive() const override { return tool_.Running(); }

  private:
    void FillList();
    void DestModeChanged();

    app::ConvertTool tool_{*this};
    app::ToolResult last_ = app::ToolResult::Refused;
    QListWidget* list_;
    QTabWidget* tabs_;
    QComboBox* action_;
    QCheckBox* deleteSource_;
    QCheckBox* integrity_;
    std::array<QRadioButton*, app::kConvertTypeCount> types_{};
    QLineEdit* folder_;
    QPushButton* browse_;
    QComboBox* destMode_;
    QPlainTextEdit* log_;
    std::array<QLabel*, 3> panels_{};
    QPushButton* ok_;
    QPushButton* cancel_;
    QPushButton* add_;
    QPushButton* remove_;
    QWidget* options_;
};

}  // namespace varnok::ui
