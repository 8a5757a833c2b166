// The Preferences dialog: nine pages chosen from a list beside them, each showing one page struct of the
// toolkit-neutral PreferencesModel. The controls are filled from the model when the dialog is made and read
// back into it before OK's steps, Cancel's closing and "Check for Update NOW". The steps themselves are the
// caller's (OnApply and OnClose), so the dialog never decides what a setting does.
//
// Folder and program choosers, messages and the update check go through replaceable functions, so tests drive
// the whole dialog offscreen without native windows.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>

#include "app/preferences.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;

namespace varnok::ui {

class PreferencesDialog : public QDialog {
    Q_OBJECT
  public:
    PreferencesDialog(app::PreferencesModel& model, app::PreferencesPage first = app::PreferencesPage::View,
                      QWidget* parent = nullptr);

    // OK's steps over the model (called after the controls were read into it).
    std::function<app::PreferencesResult()> OnApply;
    // Closing, after OK and after Cancel alike.
    std::function<void()> OnClose;
    // Fills the model's file-type page; called when that page is first shown.
    std::function<void()> OnFileTypesShown;
    // "&Check for Update NOW" with the proxy host and port of the fields.
    std::function<void(const std::string& proxy, int port)> OnCheckNow;
    // The folder chooser ("Select Directory", starting at start): the chosen folder or empty.
    std::function<QString(const QString& start)> ChooseFolder;
    // The viewer program chooser: the chosen file or empty.
    std::function<QString(const QString& start)> ChooseProgram;
    // A message box (title "Error" or "Information").
    std::function<void(const QString& title, const QString& text)> Notify;

    void accept() override;
    void done(int r) override;

    void ShowPage(app::PreferencesPage p);
    app::PreferencesPage CurrentPage() const;
    QListWidget* PageList() const { return pageList_; }
    QWidget* Page(app::PreferencesPage p) const;
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    // The file-type rows (filled when their page is shown).
    QListWidget* FileTypeList() const { return types_; }

  protected:
    // The page opened first is read now, when the caller's functions are in place.
    void showEvent(QShowEvent* e) override;

  private:
    QWidget* MakeViewPage();
    QWidget* MakeFoldersPage();
    QWidget* MakeMiscPage();
    QWidget* MakeCompressionPage();
    QWidget* MakeExtractionPage();
    QWidget* MakeMailPage();
    QWidget* MakeFileTypesPage();
    QWidget* MakeShellPage();
    QWidget* MakeAutoUpdatePage();
    // A line edit and its browse button on one row; the button runs chooser over the edit.
    QWidget* FieldWithBrowse(QLineEdit* edit, QPushButton* browse, bool program);
    void Fill();
    void Store();
    void UpdateEnabling();
    void PageShown(int index);
    QWidget* FieldOfStep(int step) const;

    app::PreferencesModel& model_;
    QListWidget* pageList_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QPushButton *ok_ = nullptr, *cancel_ = nullptr;
    bool closed_ = false;

    // View
    QCheckBox *rowSelect_ = nullptr, *gridLines_ = nullptr;
    QRadioButton *singleClick_ = nullptr, *doubleClick_ = nullptr;
    QCheckBox *underlineHot_ = nullptr, *underlineAlways_ = nullptr;
    QCheckBox *toolbar_ = nullptr, *statusbar_ = nullptr;
    std::array<QCheckBox*, app::kColumnCount> columns_{};
    QCheckBox* dirEntries_ = nullptr;
    // Folders
    QRadioButton *tempSystem_ = nullptr, *tempOther_ = nullptr;
    QRadioButton *openLast_ = nullptr, *openOther_ = nullptr;
    QRadioButton *extractLast_ = nullptr, *extractOther_ = nullptr;
    QLineEdit *temp_ = nullptr, *open_ = nullptr, *extract_ = nullptr, *favourite_ = nullptr;
    QPushButton *tempBrowse_ = nullptr, *openBrowse_ = nullptr, *extractBrowse_ = nullptr,
                *favouriteBrowse_ = nullptr;
    // Miscellaneous
    QRadioButton *viewerSystem_ = nullptr, *viewerOther_ = nullptr;
    QLineEdit* viewer_ = nullptr;
    QPushButton* viewerBrowse_ = nullptr;
    QRadioButton *iniApp_ = nullptr, *iniExtra_ = nullptr;
    QLineEdit* iniFolder_ = nullptr;
    QPushButton* iniBrowse_ = nullptr;
    // Compression
    QComboBox *zip_ = nullptr, *cab_ = nullptr, *lha_ = nullptr, *tar_ = nullptr;
    // Extraction
    QCheckBox *useFolderNames_ = nullptr, *overwrite_ = nullptr, *skipOlder_ = nullptr;
    // Mail
    QRadioButton *mailSystem_ = nullptr, *mailInternal_ = nullptr;
    QLineEdit *mailHost_ = nullptr, *mailUser_ = nullptr, *mailName_ = nullptr, *mailAddress_ = nullptr;
    QSpinBox* mailPort_ = nullptr;
    QComboBox* mailSecurity_ = nullptr;
    QLineEdit *mailAuthUser_ = nullptr, *mailPassword_ = nullptr;
    // Filetypes
    QListWidget* types_ = nullptr;
    // Shell Extension
    QCheckBox *shellOn_ = nullptr, *cascaded_ = nullptr, *showIcons_ = nullptr;
    QCheckBox *addZip_ = nullptr, *addBh_ = nullptr, *addCab_ = nullptr, *addLha_ = nullptr, *addJar_ = nullptr,
              *addTar_ = nullptr;
    QCheckBox *extractHere_ = nullptr, *extractTo_ = nullptr, *extractToFolder_ = nullptr, *createExe_ = nullptr,
              *addTo_ = nullptr, *add_ = nullptr, *email_ = nullptr, *test_ = nullptr;
    // AutoUpdate
    QRadioButton *updateOff_ = nullptr, *updateOn_ = nullptr;
    QComboBox* period_ = nullptr;
    QLineEdit *proxy_ = nullptr, *proxyPort_ = nullptr;
    QPushButton* checkNow_ = nullptr;
};

}  // namespace varnok::ui
