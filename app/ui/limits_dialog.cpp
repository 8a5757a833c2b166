#include "app/ui/limits_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

namespace varnok::ui {

namespace {

int ToBox(uint64_t v) {
    return static_cast<int>(std::min<uint64_t>(v, INT_MAX));
}

}  // namespace

LimitsDialog::LimitsDialog(QWidget* parent, uint64_t ratio, uint64_t sizeMiB) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Extraction limits"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(
        QStringLiteral(
            "An archive can hold a small entry that decodes to far more than any disk takes (a "
            "decompression bomb). Such entries are refused, naming them, and leave no file behind."),
        this);
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* form = new QFormLayout;
    ratio_ = new QSpinBox(this);
    ratio_->setObjectName(QStringLiteral("maxRatio"));
    ratio_->setRange(0, INT_MAX);
    ratio_->setSpecialValueText(QStringLiteral("no limit"));
    ratio_->setSuffix(QStringLiteral(" to one"));
    ratio_->setValue(ToBox(ratio));
    ratio_->setToolTip(
        QStringLiteral("Entries that decode to less than 64 MiB are never refused. Deflate "
                       "reaches about 1,032 to one at most."));
    form->addRow(QStringLiteral("Largest &ratio of an entry:"), ratio_);
    size_ = new QSpinBox(this);
    size_->setObjectName(QStringLiteral("maxSize"));
    size_->setRange(0, INT_MAX);
    size_->setSpecialValueText(QStringLiteral("the destination's free space"));
    size_->setSuffix(QStringLiteral(" MiB"));
    size_->setValue(ToBox(sizeMiB));
    form->addRow(QStringLiteral("Most one extraction &writes:"), size_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

uint64_t LimitsDialog::Ratio() const {
    return static_cast<uint64_t>(ratio_->value());
}

uint64_t LimitsDialog::SizeMiB() const {
    return static_cast<uint64_t>(size_->value());
}

}  // namespace varnok::ui
