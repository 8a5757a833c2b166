// The delete dialog ("Delete files"): the selected rows, all rows, or the rows whose name matches a pattern.
#pragma once

#include <QDialog>

#include "app/add_command.h"

class QLineEdit;
class QRadioButton;

namespace varnok::ui {

class DeleteDialog : public QDialog {
    Q_OBJECT
  public:
    explicit DeleteDialog(QWidget* parent);
    app::DeleteMode Mode() const;
    std::string Pattern() const;
    QRadioButton* Choice(int i) const { return choices_[i]; }
    QLineEdit* Field() const { return field_; }

  private:
    QRadioButton* choices_[3];
    QLineEdit* field_;
};

}  // namespace varnok::ui
