// Pieces shared by the window tests: a main window on temporary folders, and a driver that answers the modal
// windows the code under test opens.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/application.h"
#include "app/ui/main_window.h"
#include "tests/support/test_support.h"

namespace varnok::ui::test {

// Folders of a user of its own: settings, desktop entries and MIME defaults live in a temporary folder.
struct Sandbox {
    varnok::test::TempDir dir;
    app::ApplicationFolders Folders() const {
        std::string d = dir.Path().string();
        return {d + "/config/varnok", d + "/config", d + "/data", "/usr/bin/varnok"};
    }
    std::string Ini() const { return dir.Path().string() + "/config/varnok/varnok.ini"; }
    // Writes settings before the window starts (no association dialog unless asked for).
    void Settings(const std::string& text, bool quietAssociations = true);
    std::string Path(const std::string& rel) const { return (dir.Path() / rel).string(); }
};

// Answers modal windows as they appear: the handler gets the active modal widget and returns true when it
// dealt with it; each showing of a window is dealt with once. Runs until destroyed.
class ModalDriver {
  public:
    explicit ModalDriver(std::function<bool(QWidget*)> handler);
    ~ModalDriver();
    int Handled() const { return handled_; }

  private:
    QTimer timer_;
    std::function<bool(QWidget*)> handler_;
    int handled_ = 0;
    QWidget* last_ = nullptr;
};

// With VARNOK_SCREENSHOTS set to a folder, saves a picture of the widget there, named after the running test
// (the driver below takes one of every window it answers, and of the window behind it); otherwise nothing.
void Screenshot(QWidget* w, const QString& what);

// Clicks the button with this text (ampersands ignored) in a widget, from the event loop; false when there is
// none.
bool ClickButton(QWidget* w, const QString& text);
// Waits (processing events) until pred holds or the time is up.
bool WaitFor(const std::function<bool()>& pred, int ms = 5000);

}  // namespace varnok::ui::test
