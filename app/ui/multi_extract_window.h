// The multi-extract window ("Extract multiple files"): the archives to extract, where they go (a destination
// folder and the four modes of the list "Extract.."), and the three choices of every extract. OK makes the
// destination when it is missing and closes as accepted; the batch is then the caller's (the main window's).
// The list logic is the toolkit-neutral MultiExtractList; this is only its view.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "app/multi_extract.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace varnok::ui {

// The Open dialog's and "&Add files"' filter list in the form of Qt's file dialogs.
QString OpenDialogFilterString();

class MultiExtractWindow : public QDialog {
    Q_OBJECT
  public:
    // paths: the archives to list at first; destination: the field's first text (the home folder).
    MultiExtractWindow(QWidget* parent, const QStringList& paths, const QString& destination);

    // The archives of the list, in list order.
    std::vector<std::string> Paths() const { return list_.Paths(); }
    // The request of the window's choices (count: the rows).
    app::MultiExtractRequest Request() const;
    // Adds rows for the files (each folder and name once).
    void AddFiles(const QStringList& files);

    // The file dialog of "&Add files" and the folder chooser (tests replace them).
    std::function<QStringList()> chooseFiles;
    std::function<QString()> chooseFolder;
    // Shows a box (title, text); a message box unless replaced.
    std::function<void(const QString&, const QString&)> notify;

    QLineEdit* DestinationField() const { return destination_; }
    QPushButton* BrowseButton() const { return browse_; }
    QComboBox* ModeList() const { return modes_; }
    QPushButton* AddButton() const { return add_; }
    QPushButton* DeleteButton() const { return delete_; }
    QTreeWidget* FileList() const { return files_; }
    QCheckBox* FolderNamesBox() const { return folderNames_; }
    QCheckBox* OverwriteBox() const { return overwrite_; }
    QCheckBox* SkipOlderBox() const { return skipOlder_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

  private:
    void Refill();
    void DeleteSelected();
    void Ok();

    app::MultiExtractList list_;
    QLineEdit* destination_;
    QPushButton* browse_;
    QComboBox* modes_;
    QPushButton* add_;
    QPushButton* delete_;
    QTreeWidget* files_;
    QCheckBox* folderNames_;
    QCheckBox* overwrite_;
    QCheckBox* skipOlder_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace varnok::ui
