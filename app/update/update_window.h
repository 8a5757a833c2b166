// The update check's windows: the "Please Wait" window while the version page is read, the "Download
// Progress" window, the read-me text, and the whole dialogue of checking for an update.
//
// Every transfer runs on a worker thread while a small modal window waits with a working Cancel, so a slow
// or silent server never freezes the main window; the worker ends by closing that window through a queued
// call. The dialogue ends with the download saved in the folder the user chose (the download folder by
// default) and says where it is: nothing downloaded is opened or run by the program.
//
// Boxes, questions and the save dialog go through replaceable functions so tests can answer them.
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>

#include "app/settings.h"
#include "app/update/web_file_info.h"

class QLabel;
class QProgressBar;

namespace varnok::update {

// The running program's version, four numbers joined by ".".
std::string RunningVersion();
// A checker set up from the settings (address, http permission, certificates, proxy) and the main window's
// tags and options. An address the checker refuses leaves it empty.
void ConfigureChecker(TWebFileInfo& wfi, const app::Settings& s);

// A small modal window with a text and "&Cancel" that stays up while work runs on a worker thread.
class WaitWindow : public QDialog {
    Q_OBJECT
  public:
    WaitWindow(const QString& title, const QString& text, QWidget* parent);
    // Runs work(cancel) on a worker thread, showing the window until it returns.
    void Run(const std::function<void(const std::atomic<bool>* cancel)>& work);
    void SetText(const QString& text);
    void SetProgress(uint64_t received, uint64_t total);
    void reject() override;  // Cancel: asks the work to stop; the window closes when it has
    bool Canceled() const { return cancel_; }

  private:
    QLabel* label_;
    QLabel* bytes_ = nullptr;
    QProgressBar* bar_ = nullptr;
    std::atomic<bool> cancel_{false};
    int shownPercent_ = 0;
    bool withProgress_;
};

class UpdateDialogue {
  public:
    UpdateDialogue(QWidget* parent, TWebFileInfo& wfi);

    // Replaceable for tests: a box (title, text), a Yes/No question, the save dialog (default path -> chosen
    // path or empty), the read-me window (text).
    std::function<void(const QString&, const QString&)> Notify;
    std::function<bool(const QString&, const QString&)> Ask;
    std::function<QString(const QString&)> ChooseTarget;
    std::function<void(const QString&)> ShowText;
    // Where the save dialog starts (default: the user's download folder).
    QString DownloadFolder;

    // The whole dialogue; true when an update was downloaded. The saved file's path is in SavedPath().
    bool CheckForUpdate();
    // Reads the page with the wait window; false after showing why (missing address or tags too).
    bool Check();
    // The read-me as text in a window, after asking when ask is set.
    void ShowReadMe(bool ask);
    const QString& SavedPath() const { return saved_; }

  private:
    QWidget* parent_;
    TWebFileInfo& wfi_;
    QString saved_;
};

}  // namespace varnok::update
