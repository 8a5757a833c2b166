#include "app/update/update_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>

#include "app/update/http_client.h"

namespace varnok::update {

UpdateSettingsDialog::UpdateSettingsDialog(app::Settings& settings, app::IniFile& ini, QWidget* parent)
    : QDialog(parent), settings_(settings), ini_(ini) {
    setWindowTitle(QStringLiteral("Update settings"));
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    address_ = new QLineEdit(q(settings.HomeURL));
    address_->setPlaceholderText(QStringLiteral("https://..."));
    allowHttp_ = new QCheckBox(QStringLiteral("Accept a plain http address (not secure)"));
    allowHttp_->setChecked(settings.AllowHttp);
    caFile_ = new QLineEdit(q(settings.UpdCaFile));
    caFile_->setPlaceholderText(QStringLiteral("the system's certificates"));
    auto_ = new QCheckBox(QStringLiteral("Check for updates automatically"));
    auto_->setChecked(settings.AutoUpd);
    period_ = new QComboBox;
    period_->addItems({QStringLiteral("Daily"), QStringLiteral("Weekly"), QStringLiteral("Monthly")});
    period_->setCurrentIndex(settings.CheckPeriod >= 0 && settings.CheckPeriod <= 2 ? settings.CheckPeriod : 1);
    proxy_ = new QLineEdit(q(settings.Proxy));
    proxyPort_ = new QLineEdit(q(settings.ProxyPort));

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Version page:"), address_);
    form->addRow(allowHttp_);
    form->addRow(QStringLiteral("Trusted certificates:"), caFile_);
    form->addRow(auto_);
    form->addRow(QStringLiteral("Check:"), period_);
    form->addRow(QStringLiteral("Proxy:"), proxy_);
    form->addRow(QStringLiteral("Proxy port:"), proxyPort_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void UpdateSettingsDialog::accept() {
    std::string url = address_->text().trimmed().toStdString();
    if (!url.empty() && !UrlAllowed(url, allowHttp_->isChecked())) {
        QMessageBox::warning(this, QStringLiteral("Error"),
                             QStringLiteral("The version page must be an https address (or http, when accepted)."));
        return;
    }
    settings_.HomeURL = url;
    settings_.AllowHttp = allowHttp_->isChecked();
    settings_.UpdCaFile = caFile_->text().trimmed().toStdString();
    settings_.AutoUpd = auto_->isChecked();
    settings_.CheckPeriod = period_->currentIndex();
    settings_.Proxy = proxy_->text().trimmed().toStdString();
    settings_.ProxyPort = proxyPort_->text().trimmed().toStdString();
    settings_.SaveAutoUpd(ini_);
    ini_.Flush();
    QDialog::accept();
}

}  // namespace varnok::update
