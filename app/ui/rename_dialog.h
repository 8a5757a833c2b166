// The two rename dialogs: "Rename file of this archive" (an entry's new name and folder) and "Rename Archive"
// (the archive file's new name within its folder). Thin views: the models check and do the work.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace varnok::ui {

class RenameEntryDialog : public QDialog {
    Q_OBJECT
  public:
    RenameEntryDialog(QWidget* parent, const QString& name, const QString& path);
    QString NewName() const;
    QString NewPath() const;
    QLineEdit* NameField() const { return name_; }
    QLineEdit* PathField() const { return path_; }
    QPushButton* OkButton() const { return ok_; }

  private:
    QLineEdit* name_;
    QLineEdit* path_;
    QPushButton* ok_;
};

class RenameArchiveDialog : public QDialog {
    Q_OBJECT
  public:
    RenameArchiveDialog(QWidget* parent, const QString& fileName);
    QString NewName() const;
    QLineEdit* NewNameField() const { return new_; }

  private:
    QLineEdit* new_;
};

}  // namespace varnok::ui
