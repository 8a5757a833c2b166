// varnok: the archive manager's main window. "varnok FILE" opens FILE; "-e", "-a" and the shell switches do
// their work and end.
#include <QApplication>
#include <QTimer>

#include "app/ui/main_window.h"
#include "app/ui/session_end.h"
#include "app/ui/ui_common.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnok"));
    QApplication::setDesktopFileName(QStringLiteral("varnok"));
    varnok::ui::SetUpIconTheme();
    varnok::ui::MainWindow w;
    varnok::ui::EndWithTheSession(w);
    QStringList args = QApplication::arguments();
    args.removeFirst();
    // Batch switches work with the window hidden and end the program with their status; only the windows
    // they open are seen.
    if (varnok::ui::MainWindow::IsBatchCommandLine(args))
        qapp.setQuitOnLastWindowClosed(false);
    else
        w.show();
    QTimer::singleShot(0, &w, [&w, args] { w.HandleArguments(args); });
    return QApplication::exec();
}
