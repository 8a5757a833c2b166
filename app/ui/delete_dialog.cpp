#include "app/ui/delete_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

DeleteDialog::DeleteDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Delete files"));
    auto* group = new QGroupBox(QStringLiteral("Files to delete"), this);
    auto* g = new QVBoxLayout(group);
    choices_[0] = new QRadioButton(QStringLiteral("Selected files"), group);
    choices_[1] = new QRadioButton(QStringLiteral("All files"), group);
    choices_[2] = new QRadioButton(QStringLiteral("Files:"), group);
    field_ = new QLineEdit(QStringLiteral("*.*"), group);
    g->addWidget(choices_[0]);
    g->addWidget(choices_[1]);
    auto* row = new QHBoxLayout;
    row->addWidget(choices_[2]);
    row->addWidget(field_);
    g->addLayout(row);
    choices_[0]->setChecked(true);
    field_->setEnabled(false);
    connect(choices_[2], &QRadioButton::toggled, field_, &QLineEdit::setEnabled);
    auto* box = new QDialogButtonBox(this);
    QPushButton* del = box->addButton(QStringLiteral("&Delete"), QDialogButtonBox::AcceptRole);
    del->setDefault(true);
    box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* v = new QVBoxLayout(this);
    v->addWidget(group);
    v->addWidget(box);
}

app::DeleteMode DeleteDialog::Mode() const {
    return choices_[0]->isChecked()   ? app::DeleteMode::Selected
           : choices_[1]->isChecked() ? app::DeleteMode::All
                                      : app::DeleteMode::Pattern;
}

std::string DeleteDialog::Pattern() const {
    return S(field_->text());
}

}  // namespace varnok::ui
