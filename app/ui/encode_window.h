// The encode window ("UUEncode or XXEncode archive..."): a source file, a target text file, UUE or XXE, and
// whether the alphabet is written into the text; OK encodes with progress and Cancel.
#pragma once

#include "app/ui/tool_window_base.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace varnok::ui {

class EncodeWindow : public ToolWindowBase {
    Q_OBJECT
  public:
    // openArchive: the main window's archive (empty when none); checkValidity: the source must be an archive
    // of a recognised type (the main window's archive is served by the archive components).
    EncodeWindow(QWidget* parent, const QString& openArchive, bool checkValidity);

    app::EncodeTool& Tool() { return tool_; }
    // OK: encodes; the window closes when the text was written.
    void Encode();
    // The source "..." after its dialog, and the target "..." after its folder choice.
    void SourceChosen(const QString& path);
    void TargetFolderChosen(const QString& folder);
    app::ToolResult LastResult() const { return last_; }

    QLineEdit* SourceField() const { return source_; }
    QLineEdit* TargetField() const { return target_; }
    QComboBox* EncodingList() const { return encoding_; }
    QCheckBox* TableBox() const { return table_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

    void SetRunning(bool running) override;

  protected:
    void CancelRun() override { tool_.Cancel(); }
    bool RunActive() const override { return tool_.Running(); }
    bool eventFilter(QObject* o, QEvent* e) override;

  private:
    void ShowTool();

    app::EncodeTool tool_{*this};
    bool checkValidity_;
    app::ToolResult last_ = app::ToolResult::Refused;
    QLineEdit* source_;
    QLineEdit* target_;
    QPushButton* sourceBrowse_;
    QPushButton* targetBrowse_;
    QComboBox* encoding_;
    QCheckBox* table_;
    QPushButton* ok_;
    QPushButton* cancel_;
    bool filling_ = false;
};

}  // namespace varnok::ui
