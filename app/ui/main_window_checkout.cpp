// The main window's Checkout command: the checkout dialog in front of the Qt-free checkout model, which the
// dialog's OK runs (the dialog stays open while the folder cannot be made).
#include "app/ui/checkout_dialog.h"
#include "app/ui/main_window.h"

namespace varnok::ui {

void MainWindow::CheckoutArchiveCommand() {
    if (!Model().IsOpen()) return;
    if (!checkout_) checkout_ = std::make_unique<app::CheckoutCommand>(Model());
    CheckoutDialog d(this, checkout_->Defaults(), [this](const app::CheckoutRequest& r) {
        return checkout_->Run(r) != app::CheckoutStatus::FolderFailed;
    });
    if (checkoutHook) checkoutHook(&d);
    d.exec();
}

}  // namespace varnok::ui
