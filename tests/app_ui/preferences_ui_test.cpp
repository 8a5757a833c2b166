// The Preferences dialog offscreen, opened from the main window's menu: its nine pages and their controls,
// the enabling rules, the folder chooser, what OK does to the window (and what the next start finds), and OK
// refused with the dialog left open.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <filesystem>
#include <optional>

#include "app/associations.h"
#include "app/ini_file.h"
#include "app/paths.h"
#include "app/ui/entry_list.h"
#include "app/ui/main_window.h"
#include "app/ui/preferences_dialog.h"
#include "tests/app_ui/ui_test_support.h"

namespace varnok::ui {
namespace {

using app::Cmd;
using app::PreferencesPage;
using test::Sandbox;

// Opens Preferences from the menu (or at a page) and runs act on the dialog once its loop runs; a dialog act
// leaves open is cancelled. False when the dialog never came.
bool WithPreferences(MainWindow& w, const std::function<void(PreferencesDialog&)>& act,
                     std::optional<PreferencesPage> page = std::nullopt) {
    bool ran = false;
    w.preferencesHook = [&](QDialog* dlg) {
        auto* d = qobject_cast<PreferencesDialog*>(dlg);
        if (!d) return;
        QTimer::singleShot(0, d, [&ran, &act, d] {
            act(*d);
            ran = true;
            if (d->isVisible()) d->reject();
        });
    };
    if (page)
        w.ShowPreferences(*page);
    else
        w.Action(Cmd::Preferences)->trigger();
    w.preferencesHook = nullptr;
    return ran;
}

template <class T>
T* Captioned(QWidget* root, const QString& text, int nth = 0) {
    for (T* b : root->findChildren<T*>())
        if (b->text() == text && nth-- == 0) return b;
    return nullptr;
}

QGroupBox* GroupOf(QWidget* root, const QString& title) {
    for (QGroupBox* g : root->findChildren<QGroupBox*>())
        if (g->title() == title) return g;
    return nullptr;
}

QStringList Items(QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

TEST(PreferencesUi, EveryPageIsThereInOrderWithItsControlsAsCaptioned) {
    Sandbox box;
    box.Settings("");
    MainWindow w(box.Folders());
    w.show();
    EXPECT_EQ(w.Action(Cmd::Preferences)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+P")));
    ASSERT_TRUE(w.Action(Cmd::Preferences)->isEnabled());
    bool checked = false;
    ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Preferences"));
        EXPECT_EQ(d.CurrentPage(), PreferencesPage::View);
        EXPECT_TRUE(d.OkButton()->isDefault());
        EXPECT_EQ(d.OkButton()->text(), QStringLiteral("&OK"));
        EXPECT_EQ(d.CancelButton()->text(), QStringLiteral("&Cancel"));
        QStringList pages;
        for (int i = 0; i < d.PageList()->count(); ++i)
            pages << d.PageList()->item(i)->text();
        EXPECT_EQ(pages, QStringList({"View", "Folders", "Miscellaneous", "Compression", "Extraction", "Mail",
                                      "Filetypes", "Shell Extension", "AutoUpdate"}));

        QWidget* view = d.Page(PreferencesPage::View);
        for (const char* g : {"General options", "Mouse options", "Status && Toolbar", "View Columns", "View Lines"})
            EXPECT_NE(GroupOf(view, QString::fromUtf8(g)), nullptr) << g;
        for (const char* c : {"Row selection", "Show grid lines", "Underline when mouse over",
                              "Always underline filenames", "View Toolbar", "View Statusbar", "Type", "Size",
                              "Packed", "Ratio", "Date", "CRC", "Attributes", "Path",
                              "Directory(ies) in ZIP archive"})
            EXPECT_NE(Captioned<QCheckBox>(view, QString::fromUtf8(c)), nullptr) << c;
        QCheckBox* name = Captioned<QCheckBox>(view, QStringLiteral("Name"));
        ASSERT_NE(name, nullptr);
        EXPECT_TRUE(name->isChecked());
        EXPECT_FALSE(name->isEnabled());
        // A fresh start opens with a double click.
        EXPECT_TRUE(Captioned<QRadioButton>(view, QStringLiteral("Double click to open"))->isChecked());
        EXPECT_NE(Captioned<QRadioButton>(view, QStringLiteral("Single click to open")), nullptr);

        QWidget* folders = d.Page(PreferencesPage::Folders);
        for (const char* g : {"Temp folder", "Work folders", "Extract to folder", "Favourite folder"})
            EXPECT_NE(GroupOf(folders, QString::fromUtf8(g)), nullptr) << g;
        EXPECT_NE(Captioned<QRadioButton>(folders, QStringLiteral("System default")), nullptr);
        EXPECT_NE(Captioned<QRadioButton>(folders, QStringLiteral("Last open folder"), 1), nullptr);
        EXPECT_NE(Captioned<QRadioButton>(folders, QStringLiteral("Other"), 2), nullptr);

        QWidget* misc = d.Page(PreferencesPage::Miscellaneous);
        EXPECT_NE(GroupOf(misc, QStringLiteral("To view files use...")), nullptr);
        EXPECT_NE(GroupOf(misc, QStringLiteral("Store varnok.ini (Settings)...")), nullptr);
        EXPECT_TRUE(Captioned<QRadioButton>(misc, QStringLiteral("Text editor (system default)"))->isChecked());
        EXPECT_NE(Captioned<QRadioButton>(misc, QStringLiteral("Other :")), nullptr);
        EXPECT_NE(Captioned<QRadioButton>(misc, QStringLiteral("in Application directory:   ") +
                                                    QString::fromStdString(box.Folders().config)),
                  nullptr);
        EXPECT_NE(Captioned<QRadioButton>(misc, QStringLiteral("in an extra location (local):")), nullptr);

        QWidget* comp = d.Page(PreferencesPage::Compression);
        EXPECT_NE(GroupOf(comp, QStringLiteral("Default Compression Rate for...")), nullptr);
        for (const char* l : {"Zip, Bh and Jar files", "Cabinets", "Lha files", "Tarred files"})
            EXPECT_NE(Captioned<QLabel>(comp, QString::fromUtf8(l)), nullptr) << l;
        auto* zip = comp->findChild<QComboBox*>(QStringLiteral("zipCombo"));
        EXPECT_EQ(Items(zip), QStringList({"None", "Super fast", "Fast", "Normal (standard)", "Maximum"}));
        EXPECT_EQ(zip->currentIndex(), 4);
        EXPECT_EQ(Items(comp->findChild<QComboBox*>(QStringLiteral("cabCombo"))),
                  QStringList({"None", "Lzx", "MsZip", "Quantum"}));
        EXPECT_EQ(Items(comp->findChild<QComboBox*>(QStringLiteral("lhaCombo"))), QStringList({"None", "Frozen"}));
        EXPECT_EQ(Items(comp->findChild<QComboBox*>(QStringLiteral("tarCombo"))),
                  QStringList({"Tarred (None)", "GZipTar"}));

        QWidget* extr = d.Page(PreferencesPage::Extraction);
        EXPECT_NE(GroupOf(extr, QStringLiteral("Extracting options")), nullptr);
        for (const char* c : {"Use folder names", "Overwrite existing files", "Skip older files"})
            EXPECT_TRUE(Captioned<QCheckBox>(extr, QString::fromUtf8(c))->isChecked()) << c;

        QWidget* mail = d.Page(PreferencesPage::Mail);
        EXPECT_NE(Captioned<QRadioButton>(mail, QStringLiteral("Use standard mail client")), nullptr);
        EXPECT_TRUE(Captioned<QRadioButton>(mail, QStringLiteral("Use internal mail client"))->isChecked());
        for (const char* l : {"Mail (SMTP) server:", "Username:", "Name:", "Email address:", "Port:"})
            EXPECT_NE(Captioned<QLabel>(mail, QString::fromUtf8(l)), nullptr) << l;

        QWidget* types = d.Page(PreferencesPage::Filetypes);
        EXPECT_NE(GroupOf(types, QStringLiteral("Filetypes")), nullptr);
        EXPECT_NE(Captioned<QPushButton>(types, QStringLiteral("Deselect all")), nullptr);
        EXPECT_NE(Captioned<QPushButton>(types, QStringLiteral("Select all")), nullptr);

        QWidget* shell = d.Page(PreferencesPage::ShellExtension);
        EXPECT_NE(GroupOf(shell, QStringLiteral("Show \"Add to\" for the following archive types")), nullptr);
        EXPECT_NE(GroupOf(shell, QStringLiteral("Shell extension items")), nullptr);
        // The switches' defaults: everything but the other "Add to" types and the test item.
        for (const char* c : {"Activate Shell Extensions", "Cascaded menu", "Display Icon in menu", "Zip",
                              "Extract to current folder", "Extract to custom folder", "Extract to subfolder",
                              "Create Exe from Zip", "Add to archive", "Add to archive with options",
                              "Send as Email"})
            EXPECT_TRUE(Captioned<QCheckBox>(shell, QString::fromUtf8(c))->isChecked()) << c;
        for (const char* c : {"Blakhole", "Cabinet", "Lha", "Jar", "GZip", "Test archive(s)"})
            EXPECT_FALSE(Captioned<QCheckBox>(shell, QString::fromUtf8(c))->isChecked()) << c;

        QWidget* upd = d.Page(PreferencesPage::AutoUpdate);
        EXPECT_NE(GroupOf(upd, QStringLiteral("AutoUpdate")), nullptr);
        EXPECT_NE(GroupOf(upd, QStringLiteral("AutoUpdate Options")), nullptr);
        EXPECT_NE(Captioned<QRadioButton>(upd, QStringLiteral("Deactivate AutoUpdate")), nullptr);
        EXPECT_TRUE(Captioned<QRadioButton>(upd, QStringLiteral("Check for Update..."))->isChecked());
        EXPECT_EQ(Items(upd->findChild<QComboBox*>(QStringLiteral("periodCombo"))),
                  QStringList({"once a day", "once a week", "once a month"}));
        EXPECT_NE(Captioned<QLabel>(upd, QStringLiteral("Proxyserver")), nullptr);
        EXPECT_NE(Captioned<QLabel>(upd, QStringLiteral("Port")), nullptr);
        EXPECT_NE(Captioned<QPushButton>(upd, QStringLiteral("&Check for Update NOW")), nullptr);
        checked = true;
    }));
    EXPECT_TRUE(checked);
    w.close();
}

TEST(PreferencesUi, FieldsAndUnderlineBoxesAreEnabledOnlyWithTheirChoice) {
    Sandbox box;
    box.Settings("");
    MainWindow w(box.Folders());
    w.show();
    ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
        QWidget* view = d.Page(PreferencesPage::View);
        auto* hot = Captioned<QCheckBox>(view, QStringLiteral("Underline when mouse over"));
        auto* always = Captioned<QCheckBox>(view, QStringLiteral("Always underline filenames"));
        EXPECT_FALSE(hot->isEnabled());
        EXPECT_FALSE(always->isEnabled());
        Captioned<QRadioButton>(view, QStringLiteral("Single click to open"))->click();
        EXPECT_TRUE(hot->isEnabled());
        EXPECT_TRUE(always->isEnabled());
        Captioned<QRadioButton>(view, QStringLiteral("Double click to open"))->click();
        EXPECT_FALSE(hot->isEnabled());

        QWidget* folders = d.Page(PreferencesPage::Folders);
        for (const char* name : {"temp", "open", "extract"}) {
            auto* edit = folders->findChild<QLineEdit*>(QString::fromUtf8(name) + QStringLiteral("Edit"));
            auto* browse = folders->findChild<QPushButton*>(QString::fromUtf8(name) + QStringLiteral("Browse"));
            EXPECT_FALSE(edit->isEnabled()) << name;
            EXPECT_FALSE(browse->isEnabled()) << name;
        }
        Captioned<QRadioButton>(folders, QStringLiteral("Other"), 1)->click();  // the work folder
        EXPECT_TRUE(folders->findChild<QLineEdit*>(QStringLiteral("openEdit"))->isEnabled());
        EXPECT_TRUE(folders->findChild<QPushButton*>(QStringLiteral("openBrowse"))->isEnabled());
        EXPECT_FALSE(folders->findChild<QLineEdit*>(QStringLiteral("tempEdit"))->isEnabled());
        EXPECT_TRUE(folders->findChild<QLineEdit*>(QStringLiteral("favouriteEdit"))->isEnabled());

        QWidget* misc = d.Page(PreferencesPage::Miscellaneous);
        EXPECT_FALSE(misc->findChild<QLineEdit*>(QStringLiteral("viewerEdit"))->isEnabled());
        Captioned<QRadioButton>(misc, QStringLiteral("Other :"))->click();
        EXPECT_TRUE(misc->findChild<QLineEdit*>(QStringLiteral("viewerEdit"))->isEnabled());
        EXPECT_TRUE(misc->findChild<QPushButton*>(QStringLiteral("viewerBrowse"))->isEnabled());

        QWidget* mail = d.Page(PreferencesPage::Mail);
        auto* host = mail->findChild<QLineEdit*>(QStringLiteral("mailHost"));
        EXPECT_TRUE(host->isEnabled());
        Captioned<QRadioButton>(mail, QStringLiteral("Use standard mail client"))->click();
        for (const char* f : {"mailHost", "mailUser", "mailName", "mailAddress"})
            EXPECT_FALSE(mail->findChild<QLineEdit*>(QString::fromUtf8(f))->isEnabled()) << f;
        Captioned<QRadioButton>(mail, QStringLiteral("Use internal mail client"))->click();
        EXPECT_TRUE(host->isEnabled());
    }));
    w.close();
}

TEST(PreferencesUi, TheFolderChooserStartsAtItsFieldAndFillsIt) {
    Sandbox box;
    const std::string temp = box.Path("tmp");
    std::filesystem::create_directories(temp);
    box.Settings("[Settings]\nSysTemp=0\n[Directories]\nTemp=" + temp + "\n");
    MainWindow w(box.Folders());
    w.show();
    ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
        QStringList starts;
        d.ChooseFolder = [&](const QString& start) {
            starts << start;
            return starts.size() == 1 ? QStringLiteral("/chosen/folder") : QString();
        };
        QWidget* folders = d.Page(PreferencesPage::Folders);
        auto* edit = folders->findChild<QLineEdit*>(QStringLiteral("tempEdit"));
        EXPECT_EQ(edit->text(), QString::fromStdString(temp + "/"));
        folders->findChild<QPushButton*>(QStringLiteral("tempBrowse"))->click();
        EXPECT_EQ(edit->text(), QStringLiteral("/chosen/folder/"));
        // Cancelled in the chooser: the field stays.
        folders->findChild<QPushButton*>(QStringLiteral("tempBrowse"))->click();
        EXPECT_EQ(edit->text(), QStringLiteral("/chosen/folder/"));
        // No favourite yet: the chooser starts at the home folder.
        folders->findChild<QPushButton*>(QStringLiteral("favouriteBrowse"))->click();
        ASSERT_EQ(starts.size(), 3);
        EXPECT_EQ(starts[0], QString::fromStdString(temp + "/"));
        EXPECT_EQ(starts[1], QStringLiteral("/chosen/folder/"));
        EXPECT_EQ(starts[2], QString::fromStdString(app::DefaultRootFolder()));
    }));
    w.close();
}

TEST(PreferencesUi, OkHidesTheBarsAndColumnsInTheWindowAndTheNextStartKeepsThem) {
    Sandbox box;
    box.Settings("[ZipList]\nCRC=0,7\n");
    {
        MainWindow w(box.Folders());
        w.show();
        QHeaderView* h = w.List()->horizontalHeader();
        ASSERT_TRUE(h->isSectionHidden(app::colCrc));
        ASSERT_TRUE(w.statusBar()->isVisible());
        ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
            QWidget* view = d.Page(PreferencesPage::View);
            EXPECT_FALSE(Captioned<QCheckBox>(view, QStringLiteral("CRC"))->isChecked());
            Captioned<QCheckBox>(view, QStringLiteral("View Statusbar"))->setChecked(false);
            Captioned<QCheckBox>(view, QStringLiteral("View Toolbar"))->setChecked(false);
            Captioned<QCheckBox>(view, QStringLiteral("Size"))->setChecked(false);
            Captioned<QCheckBox>(view, QStringLiteral("CRC"))->setChecked(true);
            Captioned<QCheckBox>(view, QStringLiteral("Show grid lines"))->setChecked(true);
            d.OkButton()->click();
            EXPECT_FALSE(d.isVisible());
        }));
        EXPECT_FALSE(w.statusBar()->isVisible());
        EXPECT_FALSE(w.MainToolBar()->isVisible());
        EXPECT_FALSE(w.Action(Cmd::ViewStatusbar)->isChecked());
        EXPECT_FALSE(w.Action(Cmd::ViewToolbar)->isChecked());
        EXPECT_TRUE(h->isSectionHidden(app::colSize));
        EXPECT_FALSE(h->isSectionHidden(app::colCrc));
        EXPECT_GT(h->sectionSize(app::colCrc), 0);
        EXPECT_TRUE(w.List()->showGrid());
        w.close();
    }
    MainWindow again(box.Folders());
    again.show();
    EXPECT_FALSE(again.statusBar()->isVisible());
    EXPECT_FALSE(again.MainToolBar()->isVisible());
    EXPECT_TRUE(again.List()->horizontalHeader()->isSectionHidden(app::colSize));
    EXPECT_FALSE(again.List()->horizontalHeader()->isSectionHidden(app::colCrc));
    EXPECT_TRUE(again.List()->showGrid());
    ASSERT_TRUE(WithPreferences(again, [&](PreferencesDialog& d) {
        QWidget* view = d.Page(PreferencesPage::View);
        EXPECT_FALSE(Captioned<QCheckBox>(view, QStringLiteral("View Statusbar"))->isChecked());
        EXPECT_FALSE(Captioned<QCheckBox>(view, QStringLiteral("Size"))->isChecked());
        EXPECT_TRUE(Captioned<QCheckBox>(view, QStringLiteral("CRC"))->isChecked());
    }));
    again.close();
}

TEST(PreferencesUi, DoubleClickLeavesTheListWithoutHotTrackingAndSingleClickTurnsItOn) {
    Sandbox box;
    box.Settings("[Visual]\nSingleClick=1\nMousePoint=1\n");
    MainWindow w(box.Folders());
    w.show();
    ASSERT_TRUE(w.List()->Options().singleClick);
    ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
        QWidget* view = d.Page(PreferencesPage::View);
        EXPECT_TRUE(Captioned<QCheckBox>(view, QStringLiteral("Underline when mouse over"))->isChecked());
        Captioned<QRadioButton>(view, QStringLiteral("Double click to open"))->click();
        d.OkButton()->click();
    }));
    EXPECT_FALSE(w.List()->Options().singleClick);
    EXPECT_FALSE(w.App().Config().SingleClick);

    ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
        QWidget* view = d.Page(PreferencesPage::View);
        Captioned<QRadioButton>(view, QStringLiteral("Single click to open"))->click();
        Captioned<QCheckBox>(view, QStringLiteral("Always underline filenames"))->setChecked(true);
        d.OkButton()->click();
    }));
    EXPECT_TRUE(w.List()->Options().singleClick);
    EXPECT_TRUE(w.List()->Options().alwaysUnder);
    w.close();
}

TEST(PreferencesUi, ABadPortKeepsTheDialogOpenAtItsPageAndCancelStillWritesTheStartUpChoice) {
    Sandbox box;
    box.Settings("");
    MainWindow w(box.Folders());
    w.show();
    QStringList errors;
    ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
        d.Notify = [&](const QString& title, const QString& text) { errors << title + QLatin1Char('|') + text; };
        Captioned<QCheckBox>(d.Page(PreferencesPage::View), QStringLiteral("View Statusbar"))->setChecked(false);
        d.Page(PreferencesPage::AutoUpdate)->findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText("80 80");
        d.ShowPage(PreferencesPage::Folders);
        d.OkButton()->click();
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.CurrentPage(), PreferencesPage::AutoUpdate);
        // The steps before the port are in force already.
        EXPECT_FALSE(w.statusBar()->isVisible());
        Captioned<QRadioButton>(d.Page(PreferencesPage::Folders), QStringLiteral("Other"), 1)->click();
        d.CancelButton()->click();
        EXPECT_FALSE(d.isVisible());
    }));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Error|"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("\"80 80\""))) << errors[0].toStdString();
    app::IniFile ini(box.Ini());
    EXPECT_EQ(ini.ReadString("Settings", "StartUp", ""), "1");
    EXPECT_EQ(ini.ReadString("AutoUpd", "ProxyPort", "<absent>"), "<absent>");
    w.close();
}

TEST(PreferencesUi, CheckForUpdateNowUsesTheProxyFieldsAndRefusesABadPort) {
    Sandbox box;
    box.Settings("[AutoUpd]\nProxy=stored.example\nProxyPort=1\n");
    MainWindow w(box.Folders());
    w.show();
    std::vector<std::pair<std::string, int>> checks;
    QStringList errors;
    ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
        d.OnCheckNow = [&](const std::string& host, int port) { checks.emplace_back(host, port); };
        d.Notify = [&](const QString&, const QString& text) { errors << text; };
        QWidget* upd = d.Page(PreferencesPage::AutoUpdate);
        upd->findChild<QLineEdit*>(QStringLiteral("proxyEdit"))->setText("proxy.example");
        upd->findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText("8080");
        Captioned<QPushButton>(upd, QStringLiteral("&Check for Update NOW"))->click();
        upd->findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText("eighty");
        Captioned<QPushButton>(upd, QStringLiteral("&Check for Update NOW"))->click();
        EXPECT_TRUE(d.isVisible());
    }));
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0], (std::pair<std::string, int>{"proxy.example", 8080}));
    EXPECT_EQ(errors.size(), 1);
    // Checking is no OK: the stored proxy stays.
    EXPECT_EQ(w.App().Config().Proxy, "stored.example");
    w.close();
}

TEST(PreferencesUi, TheFileTypeRowsAreReadWhenTheirPageIsShownAndSelectAllAssociatesEveryOne) {
    Sandbox box;
    box.Settings("");
    MainWindow w(box.Folders());
    w.show();
    int notified = 0;
    w.App().FileAssociations().OnNotify = [&] { ++notified; };
    ASSERT_TRUE(w.App().FileAssociations().Associate(".arj"));
    ASSERT_TRUE(WithPreferences(w, [&](PreferencesDialog& d) {
        EXPECT_EQ(d.FileTypeList()->count(), 0);
        d.ShowPage(PreferencesPage::Filetypes);
        const auto& rows = app::AssociationRows();
        ASSERT_EQ(d.FileTypeList()->count(), static_cast<int>(rows.size()));
        for (size_t i = 0; i < rows.size(); ++i) {
            QListWidgetItem* item = d.FileTypeList()->item(static_cast<int>(i));
            EXPECT_EQ(item->text(), QString::fromStdString(rows[i].caption));
            EXPECT_EQ(item->checkState() == Qt::Checked, rows[i].extensions == std::vector<std::string>{".arj"})
                << rows[i].caption;
        }
        Captioned<QPushButton>(d.Page(PreferencesPage::Filetypes), QStringLiteral("Select all"))->click();
        d.OkButton()->click();
    }));
    for (const auto& row : app::AssociationRows())
        for (const auto& ext : row.extensions)
            EXPECT_TRUE(w.App().FileAssociations().IsAssociated(ext)) << ext;
    EXPECT_EQ(notified, 1);

    // Opened at the page itself, the rows are read as well.
    ASSERT_TRUE(WithPreferences(
        w,
        [&](PreferencesDialog& d) {
            EXPECT_EQ(d.CurrentPage(), PreferencesPage::Filetypes);
            ASSERT_EQ(d.FileTypeList()->count(), static_cast<int>(app::AssociationRows().size()));
            Captioned<QPushButton>(d.Page(PreferencesPage::Filetypes), QStringLiteral("Deselect all"))->click();
            d.OkButton()->click();
        },
        PreferencesPage::Filetypes));
    EXPECT_FALSE(w.App().FileAssociations().IsAssociated(".zip"));
    EXPECT_FALSE(w.App().FileAssociations().IsAssociated(".arj"));
    w.close();
}

}  // namespace
}  // namespace varnok::ui
