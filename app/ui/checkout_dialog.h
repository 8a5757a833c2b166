// The checkout dialog ("Checkout archive"): the folder the archive is extracted to (with a folder picker), the
// name of the menu folder, the most launchers to make and whether only programs and documents get one. OK hands
// the fields to the run, which says whether the dialog may close (it stays open when the folder cannot be made).
#pragma once

#include <QDialog>
#include <functional>

#include "app/checkout_command.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace varnok::ui {

class CheckoutDialog : public QDialog {
    Q_OBJECT
  public:
    // run: the checkout itself; false keeps the dialog open.
    CheckoutDialog(QWidget* parent, const app::CheckoutRequest& defaults,
                   std::function<bool(const app::CheckoutRequest&)> run);
    app::CheckoutRequest Request() const;
    QLineEdit* FolderField() const { return folder_; }
    QLineEdit* GroupField() const { return group_; }
    QLineEdit* CountField() const { return count_; }
    QCheckBox* OnlyAppsBox() const { return onlyApps_; }
    QPushButton* PickButton() const { return pick_; }
    QPushButton* OkButton() const { return ok_; }
    // How the "..." button asks for a folder (tests answer it); empty: nothing picked.
    std::function<QString(const QString& start)> pickFolder;

  private:
    void Pick();
    void Ok();
    QLineEdit* folder_;
    QLineEdit* group_;
    QLineEdit* count_;
    QCheckBox* onlyApps_;
    QPushButton* pick_;
    QPushButton* ok_;
    std::function<bool(const app::CheckoutRequest&)> run_;
};

}  // namespace varnok::ui
