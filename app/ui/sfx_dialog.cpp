#include "app/ui/sfx_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

SfxDialog::SfxDialog(QWidget* parent, const QString& destination) : QDialog(parent) {
    setWindowTitle(QStringLiteral("EXE-Options"));
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint) & ~Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    title_ = new QLineEdit(QStringLiteral("Varnok SFX"), this);
    title_->setMaxLength(255);
    cmd_ = new QLineEdit(this);
    cmd_->setMaxLength(255);
    cmd_->setToolTip(QStringLiteral("Shown by the self-extractor after extracting; it is never run by it."));
    dest_ = new QLineEdit(destination, this);
    dest_->setMaxLength(255);
    dest_->setToolTip(QStringLiteral("An absolute folder, or a folder below the one the program is started in"));
    form->addRow(QStringLiteral("Application title:"), title_);
    form->addRow(QStringLiteral("Commandline"), cmd_);
    form->addRow(QStringLiteral("Destination: "), dest_);
    layout->addLayout(form);
    auto* mode = new QGroupBox(QStringLiteral("Overwritemode"), this);
    auto* ml = new QVBoxLayout(mode);
    confirm_ = new QRadioButton(QStringLiteral("Confirm"), mode);
    overwrite_ = new QRadioButton(QStringLiteral("Overwrite"), mode);
    never_ = new QRadioButton(QStringLiteral("Don\"t overwrite"), mode);
    confirm_->setChecked(true);
    ml->addWidget(confirm_);
    ml->addWidget(overwrite_);
    ml->addWidget(never_);
    layout->addWidget(mode);
    askCmd_ = new QCheckBox(QStringLiteral("Ask for commandline"), this);
    askFiles_ = new QCheckBox(QStringLiteral("Ask for files"), this);
    askFiles_->setChecked(true);
    hide_ = new QCheckBox(QStringLiteral("Hide Overwritebox"), this);
    layout->addWidget(askCmd_);
    layout->addWidget(askFiles_);
    layout->addWidget(hide_);
    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    ok_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

app::SfxChoices SfxDialog::Choices() const {
    app::SfxChoices c;
    c.title = S(title_->text());
    c.commandLine = S(cmd_->text());
    c.destination = S(dest_->text().trimmed());
    c.overwrite = overwrite_->isChecked() ? varnok::OvrAlways : never_->isChecked() ? varnok::OvrNever : varnok::OvrConfirm;
    c.askCommandLine = askCmd_->isChecked();
    c.askFiles = askFiles_->isChecked();
    c.hideOverwriteBox = hide_->isChecked();
    return c;
}

}  // namespace varnok::ui
