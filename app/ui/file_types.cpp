#include "app/ui/file_types.h"

#include <QStyle>

#include "app/ui/ui_common.h"

namespace varnok::ui {

std::string FileTypes::Describe(const std::string& extLower) {
    if (extLower.size() < 2) return {};
    QMimeType t = db_.mimeTypeForFile(QLatin1String("x") + Q(extLower), QMimeDatabase::MatchExtension);
    if (!t.isValid() || t.isDefault()) return {};
    return S(t.comment());
}

QIcon FileTypes::IconFor(const std::string& extLower) {
    QString key = Q(extLower);
    auto it = icons_.constFind(key);
    if (it != icons_.constEnd()) return *it;
    QIcon icon;
    if (extLower == "/") {
        icon = ThemeIcon({"folder-documents", "folder"}, QStyle::SP_DirIcon);
    } else {
        QMimeType t = extLower.size() > 1
                          ? db_.mimeTypeForFile(QLatin1String("x") + key, QMimeDatabase::MatchExtension)
                          : QMimeType();
        if (t.isValid() && !t.isDefault()) {
            icon = QIcon::fromTheme(t.iconName());
            if (icon.isNull()) icon = QIcon::fromTheme(t.genericIconName());
        }
        if (icon.isNull()) icon = ThemeIcon({"text-x-generic", "application-x-generic"}, QStyle::SP_FileIcon);
    }
    icons_.insert(key, icon);
    return icon;
}

}  // namespace varnok::ui
