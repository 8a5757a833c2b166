// Small helpers shared by the windows: text conversion, theme icons, message boxes.
#pragma once

#include <QIcon>
#include <QString>
#include <initializer_list>
#include <string>

class QWidget;

namespace varnok::ui {

inline QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

// Picks an icon theme when the desktop did not set one (Adwaita when it is installed).
void SetUpIconTheme();
// The first theme icon of the names that exists, else the style's standard icon.
QIcon ThemeIcon(std::initializer_list<const char*> names, int standardPixmap = -1);

// Message boxes titled as the application's texts say ("Error", "Question", "Information", "Confirm").
void ShowMessage(QWidget* parent, const QString& title, const QString& text);
// Yes/No question; true for Yes.
bool AskYesNo(QWidget* parent, const QString& title, const QString& text);
// The texts use "\n\r" line breaks in places; a message box needs only "\n".
QString MessageText(const std::string& text);

}  // namespace varnok::ui
