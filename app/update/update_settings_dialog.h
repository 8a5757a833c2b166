// The update settings: the version page's address (the program ships none), whether a plain-http address
// is accepted, certificates to trust, the automatic check and its period, and the proxy. OK writes the
// [AutoUpd] keys at once.
#pragma once

#include <QDialog>

#include "app/ini_file.h"
#include "app/settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace varnok::update {

class UpdateSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    UpdateSettingsDialog(app::Settings& settings, app::IniFile& ini, QWidget* parent = nullptr);
    void accept() override;
    QLineEdit* AddressEdit() const { return address_; }
    QCheckBox* AllowHttpBox() const { return allowHttp_; }

  private:
    app::Settings& settings_;
    app::IniFile& ini_;
    QLineEdit *address_, *caFile_, *proxy_, *proxyPort_;
    QCheckBox *allowHttp_, *auto_;
    QComboBox* period_;
};

}  // namespace varnok::update
