// The extract dialog ("Extract files"): the destination with its folder tree, the file choice, the three
// extract options, the required and free space, and "New Folder" with its small dialog ("Create new folder").
#pragma once

#include <QDialog>
#include <cstdint>

#include "app/extract.h"

class QCheckBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace varnok::ui {

class NewFolderDialog : public QDialog {
    Q_OBJECT
  public:
    NewFolderDialog(QWidget* parent, const QString& currentFolder);
    // The folder made (valid after the dialog was accepted).
    const QString& Created() const { return created_; }
    QLineEdit* NameField() const { return name_; }
    QPushButton* CreateButton() const { return create_; }

  private:
    void Create();

    QString folder_;
    QString created_;
    QLineEdit* name_;
    QPushButton* create_;
};

class ExtractDialog : public QDialog {
    Q_OBJECT
  public:
    // startFolder: where the tree starts (the Extract folder); required: the archive's unpacked total.
    ExtractDialog(QWidget* parent, const QString& startFolder, uint64_t requiredBytes, bool selectedFiles);

    // The choices (cancelled unless the dialog was closed with "&Extract").
    app::LastExtractChoices Choices() const;
    // The tree's folder when the dialog closed (it becomes the Extract folder).
    QString TreeFolder() const;

    // Opens the new-folder dialog for the tree's folder (the button's action).
    void NewFolder();
    // Selects a folder in the tree (and puts it into the destination field).
    void SelectFolder(const QString& path);
    void RevealCurrent();

    QLineEdit* DestinationField() const { return dest_; }
    QTreeView* Tree() const { return tree_; }
    QRadioButton* AllFiles() const { return all_; }
    QRadioButton* SelectedFiles() const { return selected_; }
    QCheckBox* UseFolderNames() const { return folderNames_; }
    QCheckBox* Overwrite() const { return overwrite_; }
    QCheckBox* SkipOlder() const { return skipOlder_; }
    QPushButton* ExtractButton() const { return extract_; }
    QPushButton* NewFolderButton() const { return newFolder_; }
    QLabel* RequiredPanel() const { return required_; }
    QLabel* FreePanel() const { return free_; }
    // Free bytes at a path (replaceable in tests).
    std::function<uint64_t(const QString&)> FreeSpace;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void FolderChanged();
    void TryExtract();
    void ShowFree(const QString& folder);

    uint64_t required_bytes_;
    QFileSystemModel* fs_;
    QString revealing_;  // a chosen folder not yet in view because its parents are still being read
    QTreeView* tree_;
    QLineEdit* dest_;
    QRadioButton* all_;
    QRadioButton* selected_;
    QCheckBox* folderNames_;
    QCheckBox* overwrite_;
    QCheckBox* skipOlder_;
    QPushButton* extract_;
    QPushButton* newFolder_;
    QLabel* required_;
    QLabel* free_;
    bool accepted_ = false;
};

}  // namespace varnok::ui
