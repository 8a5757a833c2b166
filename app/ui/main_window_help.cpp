// The main window's Help topics command (F1): the help pages shipped with the program, shown by the user's
// browser. The finding and starting are the Qt-free HelpOpener's; the window only owns one and answers its
// messages.
#include "app/ui/main_window.h"

namespace varnok::ui {

app::HelpOpener& MainWindow::Help() {
    if (!help_) help_ = std::make_unique<app::HelpOpener>();
    return *help_;
}

void MainWindow::ShowHelpTopics() {
    Help().Open(*this);
}

}  // namespace varnok::ui
