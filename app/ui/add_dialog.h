// The add dialog ("Add files"), its "Archive options" page (shared with the drop window) and the password window
// in its set mode ("Set password"). They only collect the user's choices; the add itself is the model's
// (app/add_command.h).
#pragma once

#include <QDialog>
#include <QWidget>

#include "app/add_command.h"

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTreeView;

namespace varnok::ui {

// The options of an add: action, compression, spanning, password and the folder and file options. For writers
// the spanning choice is disabled, and the actions are those the writer knows.
class AddOptionsPage : public QWidget {
    Q_OBJECT
  public:
    AddOptionsPage(app::AddOperation& op, app::WriterFamily family, const app::Settings& settings,
                   QWidget* parent);
    // Shows the choices of another archive type (the drop window's archive changed).
    void SetFamily(app::WriterFamily family);
    app::AddRequest Request() const;

    QComboBox* ActionBox() const { return action_; }
    QComboBox* CompressionBox() const { return compression_; }
    QComboBox* SpanBox() const { return span_; }
    QPushButton* PasswordButton() const { return password_; }
    QCheckBox* FullPath() const { return fullPath_; }
    QCheckBox* RelativePath() const { return relative_; }
    QCheckBox* IncludeSubfolders() const { return subfolders_; }
    QCheckBox* Recurse() const { return recurse_; }
    QCheckBox* EmptyFolders() const { return empty_; }
    QCheckBox* HiddenFiles() const { return hidden_; }

  signals:
    // The OK button's caption follows the action ("&Add", "&Update", "&Freshen", "&Move").
    void ActionCaptionChanged(const QString& caption);

  private:
    void SpanChosen(int index);
    void AskPassword();
    void Couple(QCheckBox* changed, bool on);

    app::AddOperation& op_;
    const app::Settings& settings_;
    app::WriterFamily family_ = app::WriterFamily::None;
    std::string passwordText_;
    QComboBox* action_;
    QComboBox* compression_;
    QComboBox* span_;
    QPushButton* password_;
    QCheckBox* fullPath_;
    QCheckBox* relative_;
    QCheckBox* subfolders_;
    QCheckBox* recurse_;
    QCheckBox* empty_;
    QCheckBox* hidden_;
    QCheckBox* dos83_;
    bool coupling_ = false;
};

class AddDialog : public QDialog {
    Q_OBJECT
  public:
    AddDialog(app::AddOperation& op, app::WriterFamily family, const app::Settings& settings,
              const QString& startFolder, QWidget* parent);

    // The list "Files and folders to add:", as full paths.
    QStringList Paths() const;
    // Adds paths to the list (no duplicates).
    void AddPaths(const QStringList& paths);
    AddOptionsPage* Options() const { return options_; }
    QListWidget* List() const { return list_; }
    QPushButton* OkButton() const { return ok_; }
    QTabWidget* Pages() const { return pages_; }
    // The folder the browser was last in.
    QString LastFolder() const { return folder_; }

    // The file-system browser of the "Select files" page: a folder tree, the current folder's contents (as a
    // list or in detail, filtered by the mask) and the buttons that copy its selection into the list.
    void ShowFolder(const QString& folder);
    // The mask of the browser ("*.*" and "*" show everything, also names without an extension).
    void SetMask(const QString& mask);
    // The full paths of the items selected in the browser.
    QStringList BrowserSelection() const;
    // "A&dd >>": the browser's selection into the list.
    void AddSelected();
    QTreeView* FolderTree() const { return folders_; }
    QTreeView* DetailView() const { return details_; }
    QListView* ListView() const { return icons_; }
    QFileSystemModel* BrowserModel() const { return files_; }
    QLineEdit* MaskField() const { return mask_; }
    QLineEdit* FolderField() const { return folderField_; }

  private:
    void UpdateOk();
    QWidget* MakeBrowser(QWidget* parent);

    app::AddOperation& op_;
    QString folder_;
    QTabWidget* pages_;
    QListWidget* list_;
    QPushButton* ok_;
    AddOptionsPage* options_;
    QFileSystemModel* dirs_ = nullptr;
    QFileSystemModel* files_ = nullptr;
    QTreeView* folders_ = nullptr;
    QTreeView* details_ = nullptr;
    QListView* icons_ = nullptr;
    QStackedWidget* views_ = nullptr;
    QLineEdit* mask_ = nullptr;
    QLineEdit* folderField_ = nullptr;
};

// The password window in set mode: the password twice, compared exactly.
class SetPasswordDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SetPasswordDialog(QWidget* parent);
    std::string Password() const { return confirm_.Password(); }
    QLineEdit* Field() const { return field_; }
    QLabel* Hint() const { return hint_; }

  private:
    void Ok();
    app::PasswordConfirm confirm_;
    QLineEdit* field_;
    QLabel* hint_;
};

}  // namespace varnok::ui
