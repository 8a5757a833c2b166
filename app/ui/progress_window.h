// The progress window ("Status..."): the operation's header, the current file, one bar for the file and one
// for the whole operation, and Cancel. It stays on top of the main window and has no system buttons. It
// appears only when an operation lasts longer than a moment, so that quick ones do not flash it.
#pragma once

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace varnok::ui {

class ProgressWindow : public QDialog {
    Q_OBJECT
  public:
    explicit ProgressWindow(QWidget* parent);

    // Starts an operation: zeroes the bars; the window shows after delayMs (-1: the window's show delay).
    void Begin(const QString& header, int delayMs = -1);
    // How long an operation runs before the window shows (0: at once).
    void SetShowDelay(int ms) { showDelayMs_ = ms; }
    void SetHeader(const QString& header);
    void SetFile(const QString& name);
    void SetBars(int file, int total);
    void End();
    // While held, an operation's end leaves the window where it is, so that the operations of a batch share one
    // window instead of each opening and closing its own; releasing the hold hides it when nothing runs.
    void Hold(bool on);
    // Shows the window when the operation has run longer than its delay.
    void Poll();
    bool Active() const { return active_; }

    QLabel* HeaderLabel() const { return header_; }
    QLabel* FileLabel() const { return file_; }
    QProgressBar* FileBar() const { return fileBar_; }
    QProgressBar* TotalBar() const { return totalBar_; }
    QPushButton* CancelButton() const { return cancel_; }

  signals:
    void CancelRequested();

  protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    QLabel* header_;
    QLabel* file_;
    QProgressBar* fileBar_;
    QProgressBar* totalBar_;
    QPushButton* cancel_;
    QElapsedTimer clock_;
    int delayMs_ = 0;
    int showDelayMs_ = 350;
    bool active_ = false;
    bool held_ = false;
};

}  // namespace varnok::ui
