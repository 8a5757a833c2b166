// The mail window: composes a message with the archive attached and sends it with the SMTP client.
//
// The send runs on a worker thread (libcurl blocks), so the window keeps painting and its Cancel button
// aborts the transfer; the client's events come back to the window thread as queued calls that update the
// status line. The window stays open after a failure so the user can correct the fields; it closes after
// the server accepted the message. Message boxes go through Notify so the tests can read them.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/mail/smtp_client.h"
#include "app/settings.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace varnok::mail {

// Whether the internal client can be used: server, HELO name and sender address are set.
bool MailSettingsComplete(const app::Settings& s);
// What is shown when they are not.
extern const char* const kMailSettingsMissing;

class MailWindow : public QDialog {
    Q_OBJECT
  public:
    // archivePath: the open archive (the first attachment), or empty. openFilter: the file dialog's filter.
    MailWindow(const app::Settings& settings, const std::string& archivePath, const QString& openFilter,
               QWidget* parent = nullptr);
    ~MailWindow() override;

    // Shows a box (title, text); a message box unless replaced.
    std::function<void(const QString&, const QString&)> Notify;
    // Receives the dialogue lines (passwords masked), e.g. for the main window's log.
    std::function<void(const std::string&)> OnLog;

    QLineEdit* ToEdit() const { return to_; }
    QLineEdit* CcEdit() const { return cc_; }
    QLineEdit* BccEdit() const { return bcc_; }
    QLineEdit* SubjectEdit() const { return subject_; }
    QPlainTextEdit* BodyEdit() const { return body_; }
    QListWidget* Files() const { return files_; }
    QPushButton* SendButton() const { return send_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* AdvancedButton() const { return advanced_; }
    QString StatusText() const;
    bool Sending() const { return sending_; }
    bool Sent() const { return sent_; }
    // Adds a file to the attachment list (the "+" button's work for one file); false when it does not exist.
    bool AddAttachment(const QString& path);

  public slots:
    void Send();

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* e) override;

  private:
    void UpdateEnabling();
    void ToggleAdvanced();
    void AddFiles();
    void RemoveFiles();
    void LoadText();
    void SetFieldsEnabled(bool on);
    void Finished(bool ok, int kind, const QString& text);
    void Status(const QString& text);
    void StopWorker();

    const app::Settings& settings_;
    QString openFilter_;
    QLabel* from_ = nullptr;
    QLineEdit *to_ = nullptr, *cc_ = nullptr, *bcc_ = nullptr, *subject_ = nullptr;
    QWidget* advancedPart_ = nullptr;
    QPlainTextEdit* body_ = nullptr;
    QListWidget* files_ = nullptr;
    QPushButton *add_ = nullptr, *remove_ = nullptr, *loadText_ = nullptr, *advanced_ = nullptr, *send_ = nullptr,
                *cancel_ = nullptr;
    QLabel* status_ = nullptr;
    std::unique_ptr<TNMSMTP> smtp_;
    std::thread worker_;
    bool sending_ = false;
    bool sent_ = false;
    bool closeAfterSend_ = false;
};

}  // namespace varnok::mail
