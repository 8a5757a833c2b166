#include "app/mail/mail_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "app/mail/smtp_client.h"

namespace varnok::mail {

MailSettingsDialog::MailSettingsDialog(app::Settings& settings, app::IniFile& ini, QWidget* parent)
    : QDialog(parent), settings_(settings), ini_(ini) {
    setWindowTitle(QStringLiteral("Mail settings"));
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    internal_ = new QCheckBox(QStringLiteral("Use internal mail client"));
    internal_->setChecked(settings.InternalMail);
    host_ = new QLineEdit(q(settings.MailHost));
    port_ = new QSpinBox;
    port_->setRange(1, 65535);
    port_->setValue(settings.MailPort);
    security_ = new QComboBox;
    security_->addItem(QStringLiteral("None"), QStringLiteral("none"));
    security_->addItem(QStringLiteral("STARTTLS"), QStringLiteral("starttls"));
    security_->addItem(QStringLiteral("SMTPS (TLS from the start)"), QStringLiteral("smtps"));
    security_->setCurrentIndex(security_->findData(QString::fromLatin1(
        SecurityText(SecurityFromText(settings.MailSecurity)))));
    helo_ = new QLineEdit(q(settings.MailUserID));
    name_ = new QLineEdit(q(settings.MailName));
    address_ = new QLineEdit(q(settings.MailAddress));
    user_ = new QLineEdit(q(settings.MailAuthUser));
    password_ = new QLineEdit(q(settings.MailPassword));
    password_->setEchoMode(QLineEdit::Password);
    caFile_ = new QLineEdit(q(settings.MailCaFile));
    caFile_->setPlaceholderText(QStringLiteral("the system's certificates"));

    auto* form = new QFormLayout(this);
    form->addRow(internal_);
    form->addRow(QStringLiteral("SMTP server:"), host_);
    form->addRow(QStringLiteral("Port:"), port_);
    form->addRow(QStringLiteral("Security:"), security_);
    form->addRow(QStringLiteral("User name (AUTH):"), user_);
    form->addRow(QStringLiteral("Password:"), password_);
    form->addRow(QStringLiteral("Trusted certificates:"), caFile_);
    form->addRow(QStringLiteral("Name sent with HELO:"), helo_);
    form->addRow(QStringLiteral("Your name:"), name_);
    form->addRow(QStringLiteral("Your address:"), address_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void MailSettingsDialog::accept() {
    auto s = [](const QLineEdit* e) { return e->text().trimmed().toStdString(); };
    settings_.InternalMail = internal_->isChecked();
    settings_.MailHost = s(host_);
    settings_.MailPort = port_->value();
    settings_.MailSecurity = security_->currentData().toString().toStdString();
    settings_.MailUserID = s(helo_);
    settings_.MailName = s(name_);
    settings_.MailAddress = s(address_);
    settings_.MailAuthUser = s(user_);
    settings_.MailPassword = password_->text().toStdString();
    settings_.MailCaFile = s(caFile_);
    settings_.SaveMail(ini_);
    ini_.Flush();
    QDialog::accept();
}

}  // namespace varnok::mail
