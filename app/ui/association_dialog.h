// The association dialog shown at start when the archive types are not (all) opened by this program.
#pragma once

#include <QDialog>
#include <vector>

class QCheckBox;
class QListWidget;

namespace varnok::ui {

class AssociationDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AssociationDialog(QWidget* parent);
    // One flag per row of app::AssociationRows().
    std::vector<bool> Ticked() const;
    bool NeverAsk() const;
    QListWidget* List() const { return list_; }
    QCheckBox* NeverAskBox() const { return never_; }

  private:
    QListWidget* list_;
    QCheckBox* never_;
};

}  // namespace varnok::ui
