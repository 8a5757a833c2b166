// The span size dialog ("Spanning options"): the size of the volumes of a spanned ZIP set, one of two disk
// sizes or a number of KB.
#pragma once

#include <QDialog>

class QLineEdit;
class QRadioButton;

namespace varnok::ui {

class SpanDialog : public QDialog {
    Q_OBJECT
  public:
    // rememberedKB: the size chosen before in this run (0: none).
    SpanDialog(int rememberedKB, QWidget* parent);
    int SizeKB() const { return size_; }
    QRadioButton* Choice(int i) const { return choices_[i]; }
    QLineEdit* Field() const { return field_; }

  private:
    void Ok();
    QRadioButton* choices_[3];
    QLineEdit* field_;
    int size_ = 0;
};

}  // namespace varnok::ui
