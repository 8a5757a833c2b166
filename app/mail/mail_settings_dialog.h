// The mail settings: the road (internal client or the system mail program), the server and how to reach it
// (port, STARTTLS or SMTPS, AUTH name and password, certificates to trust), the HELO name and the sender.
// Opened from the Options menu and instead of the mail window when the settings are incomplete; OK writes
// the [Mail] keys at once.
#pragma once

#include <QDialog>

#include "app/ini_file.h"
#include "app/settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace varnok::mail {

class MailSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    MailSettingsDialog(app::Settings& settings, app::IniFile& ini, QWidget* parent = nullptr);
    void accept() override;

    QCheckBox* InternalBox() const { return internal_; }
    QLineEdit* HostEdit() const { return host_; }
    QSpinBox* PortBox() const { return port_; }
    QComboBox* SecurityBox() const { return security_; }
    QLineEdit* HeloEdit() const { return helo_; }
    QLineEdit* NameEdit() const { return name_; }
    QLineEdit* AddressEdit() const { return address_; }
    QLineEdit* UserEdit() const { return user_; }
    QLineEdit* PasswordEdit() const { return password_; }

  private:
    app::Settings& settings_;
    app::IniFile& ini_;
    QCheckBox* internal_;
    QLineEdit *host_, *helo_, *name_, *address_, *user_, *password_, *caFile_;
    QSpinBox* port_;
    QComboBox* security_;
};

}  // namespace varnok::mail
