#include "app/ui/rename_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace varnok::ui {

RenameEntryDialog::RenameEntryDialog(QWidget* parent, const QString& name, const QString& path) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Rename file of this archive"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    name_ = new QLineEdit(name, this);
    name_->setObjectName(QStringLiteral("newName"));
    path_ = new QLineEdit(path, this);
    path_->setObjectName(QStringLiteral("newPath"));
    form->addRow(QStringLiteral("New filename:"), name_);
    form->addRow(QStringLiteral("New path:"), path_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    ok_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    auto enable = [this] { ok_->setEnabled(!name_->text().trimmed().isEmpty()); };
    connect(name_, &QLineEdit::textChanged, this, enable);
    enable();
    name_->selectAll();
    name_->setFocus();
    resize(420, sizeHint().height());
}

QString RenameEntryDialog::NewName() const {
    return name_->text().trimmed();
}

QString RenameEntryDialog::NewPath() const {
    return path_->text().trimmed();
}

RenameArchiveDialog::RenameArchiveDialog(QWidget* parent, const QString& fileName) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Rename Archive"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* old = new QLineEdit(fileName, this);
    old->setReadOnly(true);
    new_ = new QLineEdit(fileName, this);
    new_->setObjectName(QStringLiteral("newArchiveName"));
    form->addRow(QStringLiteral("Old name:"), old);
    form->addRow(QStringLiteral("New name:"), new_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("Rename"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    new_->setFocus();
    resize(420, sizeHint().height());
}

QString RenameArchiveDialog::NewName() const {
    return new_->text().trimmed();
}

}  // namespace varnok::ui
