// File-type descriptions and icons by extension, from the shared MIME database and the icon theme. Both are
// cached by lower-case extension.
#pragma once

#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <string>

namespace varnok::ui {

class FileTypes {
  public:
    // The description of a lower-case extension with its dot ("" when the database does not know it).
    std::string Describe(const std::string& extLower);
    // The icon of an extension ("/" stands for a folder).
    QIcon IconFor(const std::string& extLower);

  private:
    QMimeDatabase db_;
    QHash<QString, QIcon> icons_;
};

}  // namespace varnok::ui
