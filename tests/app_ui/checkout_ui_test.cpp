// The checkout dialog end to end on a real archive, offscreen: its first fields, the folder picker keeping the
// field's last name, a folder that cannot be made keeping the dialog open, then the checkout with its menu
// folder and launchers; Cancel writes nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <optional>

#include "app/ui/checkout_dialog.h"
#include "app/ui/main_window.h"
#include "tests/app_ui/ui_test_support.h"
#include "tests/support/builders.h"

namespace varnok::ui {
namespace {

namespace fs = std::filesystem;
using app::Cmd;
using test::ClickButton;
using test::ModalDriver;
using test::Sandbox;
using varnok::test::WriteFile;

// The XDG folders of the sandbox for the time of a test.
class XdgHere {
  public:
    explicit XdgHere(const Sandbox& box) {
        for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            const char* old = getenv(v);
            saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        setenv("XDG_DATA_HOME", box.Path("data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", box.Path("config").c_str(), 1);
    }
    ~XdgHere() {
        for (const auto& [name, value] : saved_)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The files of a folder; only the checkout's own when ours is set (the window keeps its own launcher there).
std::vector<std::string> Files(const std::string& dir, bool ours = false) {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::directory_iterator(dir))
        if (!ours || e.path().filename().string().rfind("varnok-checkout-", 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CheckoutUi, TheDialogChecksOutTheArchiveIntoTheChosenFolder) {
    Sandbox box;
    box.Settings("");
    XdgHere xdg(box);
    fs::create_directories(box.Path("arc"));
    const std::string zip = box.Path("arc/kit.zip");
    varnok::test::ZipItem run{"run", "#!/bin/sh\n"};
    run.host = 3;
    run.externalAttr = (0100755u << 16) | 0x20;
    WriteFile(zip, varnok::test::BuildZip({run, {"readme.txt", "R"}, {"data.bin", "D"}}));
    WriteFile(box.Path("blocker"), std::string("x"));
    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(zip));
    ASSERT_TRUE(w.Action(Cmd::Checkout)->isEnabled());

    // Cancel at the dialog: nothing anywhere.
    w.checkoutHook = [](QDialog* d) { QTimer::singleShot(0, d, [d] { ClickButton(d, QStringLiteral("Cancel")); }); };
    w.Action(Cmd::Checkout)->trigger();
    EXPECT_FALSE(fs::exists(box.Path("data/varnok")));
    EXPECT_TRUE(Files(box.Path("data/applications"), true).empty());
    EXPECT_FALSE(fs::exists(box.Path("config/menus")));

    std::vector<QString> errors;
    bool stayedOpen = false;
    ModalDriver boxes([&](QWidget* m) {
        auto* b = qobject_cast<QMessageBox*>(m);
        if (!b) return false;
        errors.push_back(b->text());
        return ClickButton(b, QStringLiteral("OK"));
    });
    w.checkoutHook = [&](QDialog* dlg) {
        auto* d = qobject_cast<CheckoutDialog*>(dlg);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Checkout archive"));
        EXPECT_EQ(d->FolderField()->text(), QString::fromStdString(box.Path("data/varnok/checkout/kit")));
        EXPECT_EQ(d->GroupField()->text(), QStringLiteral("kit"));
        EXPECT_EQ(d->CountField()->text(), QStringLiteral("40"));
        EXPECT_TRUE(d->OnlyAppsBox()->isChecked());
        // The picker keeps the field's last name below the folder picked.
        d->pickFolder = [&](const QString&) { return QString::fromStdString(box.Path("blocker")); };
        d->PickButton()->click();
        EXPECT_EQ(d->FolderField()->text(), QString::fromStdString(box.Path("blocker/kit")));
        QTimer::singleShot(0, d, [&, d] {
            d->OkButton()->click();  // the folder cannot be made below a file
            stayedOpen = d->isVisible();
            d->FolderField()->setText(QString::fromStdString(box.Path("apps/kit")));
            d->OkButton()->click();
        });
    };
    w.Action(Cmd::Checkout)->trigger();
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("blocker")));
    EXPECT_EQ(Files(box.Path("apps/kit")), (std::vector<std::string>{"data.bin", "readme.txt", "run"}));
    EXPECT_EQ(Files(box.Path("data/applications"), true),
              (std::vector<std::string>{"varnok-checkout-kit-readme.desktop", "varnok-checkout-kit-run.desktop"}));
    EXPECT_EQ(Files(box.Path("config/menus/applications-merged")),
              (std::vector<std::string>{"varnok-checkout-kit.directory", "varnok-checkout-kit.menu"}));
}

}  // namespace
}  // namespace varnok::ui
