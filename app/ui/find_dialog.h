// The find dialog ("Find file(s) in archive..."): pages by file name, by date and by size; "&Search" adds the
// matching rows to the selection (the entry commands' Find).
#pragma once

#include <QDialog>

#include "app/entry_commands.h"

class QComboBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;
class QTabWidget;

namespace varnok::ui {

class FindDialog : public QDialog {
    Q_OBJECT
  public:
    explicit FindDialog(QWidget* parent);
    app::FindRequest Request() const;

    QTabWidget* Pages() const { return pages_; }
    QLineEdit* Pattern() const { return pattern_; }
    QRadioButton* Before() const { return before_; }
    QRadioButton* DateBetween() const { return dateBetween_; }
    QRadioButton* After() const { return after_; }
    QDateEdit* FirstDate() const { return date1_; }
    QDateEdit* SecondDate() const { return date2_; }
    QRadioButton* Above() const { return above_; }
    QRadioButton* Fit() const { return fit_; }
    QRadioButton* Below() const { return below_; }
    QRadioButton* SizeBetween() const { return sizeBetween_; }
    QLineEdit* FirstSize() const { return size1_; }
    QLineEdit* SecondSize() const { return size2_; }
    QComboBox* Unit() const { return unit_; }

  private:
    void UnitChanged(int index);

    QTabWidget* pages_;
    QLineEdit* pattern_;
    QRadioButton *before_, *dateBetween_, *after_;
    QDateEdit *date1_, *date2_;
    QRadioButton *above_, *fit_, *below_, *sizeBetween_;
    QLineEdit *size1_, *size2_;
    QComboBox* unit_;
    int unitIndex_ = 1;
};

}  // namespace varnok::ui
