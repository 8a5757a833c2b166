// Options > Extraction limits: the decompression-bomb limits every extraction of the window keeps to.
#pragma once

#include <QDialog>
#include <cstdint>

class QSpinBox;

namespace varnok::ui {

class LimitsDialog : public QDialog {
    Q_OBJECT
  public:
    // ratio: the most an entry may grow over its packed size (0: no limit); sizeMiB: the most one extraction
    // writes (0: the destination's free space).
    LimitsDialog(QWidget* parent, uint64_t ratio, uint64_t sizeMiB);
    uint64_t Ratio() const;
    uint64_t SizeMiB() const;
    QSpinBox* RatioBox() const { return ratio_; }
    QSpinBox* SizeBox() const { return size_; }

  private:
    QSpinBox* ratio_;
    QSpinBox* size_;
};

}  // namespace varnok::ui
