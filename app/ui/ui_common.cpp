#include "app/ui/ui_common.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStyle>

namespace varnok::ui {

void SetUpIconTheme() {
    QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == QLatin1String("hicolor")) {
        for (const char* t : {"Adwaita", "breeze", "gnome"}) {
            if (QDir(QStringLiteral("/usr/share/icons/") + QLatin1String(t)).exists()) {
                QIcon::setThemeName(QLatin1String(t));
                break;
            }
        }
    }
}

QIcon ThemeIcon(std::initializer_list<const char*> names, int standardPixmap) {
    for (const char* n : names) {
        QIcon i = QIcon::fromTheme(QLatin1String(n));
        if (!i.isNull()) return i;
    }
    if (standardPixmap >= 0)
        return QApplication::style()->standardIcon(static_cast<QStyle::StandardPixmap>(standardPixmap));
    return {};
}

QString MessageText(const std::string& text) {
    QString t = Q(text);
    t.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    t.remove(QLatin1Char('\r'));
    return t;
}

void ShowMessage(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::Icon icon = QMessageBox::Information;
    if (title == QLatin1String("Error"))
        icon = QMessageBox::Critical;
    else if (title == QLatin1String("Question") || title == QLatin1String("Confirm"))
        icon = QMessageBox::Question;
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool AskYesNo(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(title == QLatin1String("Error") ? QMessageBox::Critical : QMessageBox::Question, title,
                    text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace varnok::ui
