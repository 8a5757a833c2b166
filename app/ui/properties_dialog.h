// The "Archive properties" window: name, folder, type, unpacked size, entry count, compression with a bar, and
// the archive file's date and time.
#pragma once

#include <QDialog>

#include "app/entry_commands.h"

class QLabel;
class QProgressBar;

namespace varnok::ui {

class PropertiesDialog : public QDialog {
    Q_OBJECT
  public:
    PropertiesDialog(QWidget* parent, const app::ArchiveProperties& p);
    QLabel* Value(int row) const { return values_.at(static_cast<size_t>(row)); }
    QProgressBar* Bar() const { return bar_; }

  private:
    std::vector<QLabel*> values_;
    QProgressBar* bar_;
};

}  // namespace varnok::ui
