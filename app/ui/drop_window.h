// The drop window ("Drag and Drop"): files dropped on the main window (or named by a switch) and where they go.
// The archive is the open one, or a new ZIP archive named after the first dropped file; "&New" and "&Open" choose
// another. The options are those of the add dialog.
#pragma once

#include <QDialog>

#include "app/add_command.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace varnok::ui {

class AddOptionsPage;

class DropWindow : public QDialog {
    Q_OBJECT
  public:
    DropWindow(app::AddOperation& op, const app::Settings& settings, const QStringList& dropped,
               const QString& openArchive, app::WriterFamily openFamily, QWidget* parent);

    QStringList Paths() const;
    QString ArchivePath() const;
    // The kind of archive to create when the archive field names no existing file (by its extension; ZIP when
    // the extension is not one of a writable type).
    app::ArchiveKind Kind() const;
    // Whether the archive named is the open one.
    bool IsOpenArchive() const;
    AddOptionsPage* Options() const { return options_; }
    QLineEdit* ArchiveField() const { return archive_; }
    QListWidget* List() const { return list_; }
    QLabel* Summary() const { return summary_; }
    void SetArchive(const QString& path);

  protected:
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void ChooseNew();
    void ChooseOpen();
    void UpdateFamily();
    void UpdateSummary();

    app::AddOperation& op_;
    QString open_;
    app::WriterFamily openFamily_;
    QLabel* summary_;
    QLineEdit* archive_;
    QListWidget* list_;
    AddOptionsPage* options_;
};

}  // namespace varnok::ui
