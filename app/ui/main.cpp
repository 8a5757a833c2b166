// varnok: the archive manager's main window. "varnok FILE" opens FILE.
#include <QApplication>
#include <QTimer>

#include "app/ui/main_window.h"
#include "app/ui/ui_common.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnok"));
    QApplication::setDesktopFileName(QStringLiteral("varnok"));
    varnok::ui::SetUpIconTheme();
    varnok::ui::MainWindow w;
    w.show();
    QStringList args = QApplication::arguments();
    args.removeFirst();
    QTimer::singleShot(0, &w, [&w, args] { w.HandleArguments(args); });
    return QApplication::exec();
}
