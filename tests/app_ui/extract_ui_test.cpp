#include <gtest/gtest.h>
#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include "app/extract.h"
#include "app/ini_file.h"
#include "app/ui/extract_dialog.h"
#include "app/ui/main_window.h"
#include "app/ui/progress_window.h"
#include "app/ui/prompts.h"
#include "platform/fileattr.h"
#include "tests/app_ui/ui_test_support.h"
#include "tests/support/builders.h"

namespace varnok::ui {
namespace {

using app::Cmd;
using test::ModalDriver;
using test::Sandbox;
using varnok::test::ReadText;
using varnok::test::WriteFile;

int RowOf(MainWindow& w, const std::string& stored) {
    for (int i = 0; i < w.Model().RowCount(); ++i)
        if (w.Model().Row(i).StoredName() == stored) return i;
    return -1;
}

TEST(ExtractUi, OpenSelectExtractWithTheDialogAndAnswerTheOverwritePrompt) {
    Sandbox box;
    box.Settings("");
    std::string zip = box.Path("pack.zip");
    WriteFile(zip, varnok::test::BuildZip({{"a.txt", "new a"}, {"b.txt", "new b"}, {"docs/c.txt", "new c"}}));
    std::string out = box.Path("out");
    platform::ForceDirectories(out);
    WriteFile(out + "/a.txt", std::string("old a"));

    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(zip));
    ASSERT_EQ(w.TableModel()->rowCount(), 3);
    // Two rows selected in the list, the way a user does: a click and a control-click.
    QTableView* list = w.List();
    auto click = [&](int row, Qt::KeyboardModifiers mod) {
        QRect r = list->visualRect(w.TableModel()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mod, r.center());
    };
    click(RowOf(w, "a.txt"), Qt::NoModifier);
    click(RowOf(w, "docs/c.txt"), Qt::ControlModifier);
    ASSERT_EQ(w.Model().SelectionCount(), 2);

    std::vector<std::string> seen;
    bool busyDuringRun = false;
    app::OverwritePrompt shown;
    auto driver = std::make_unique<ModalDriver>([&](QWidget* m) {
        if (auto* d = qobject_cast<ExtractDialog*>(m)) {
            seen.push_back("dialog");
            EXPECT_EQ(d->windowTitle(), QStringLiteral("Extract files"));
            EXPECT_TRUE(d->SelectedFiles()->isChecked());  // rows are selected: the choice starts there
            EXPECT_TRUE(d->UseFolderNames()->isChecked());
            EXPECT_FALSE(d->Overwrite()->isChecked());
            EXPECT_FALSE(d->SkipOlder()->isChecked());
            EXPECT_EQ(d->RequiredPanel()->text(), QStringLiteral("required: 0.00 MB"));
            d->SelectFolder(QString::fromStdString(out));
            EXPECT_EQ(d->DestinationField()->text(), QString::fromStdString(out));
            EXPECT_TRUE(d->FreePanel()->text().startsWith(QStringLiteral("free: ")));
            d->SelectedFiles()->setChecked(true);
            return test::ClickButton(d, QStringLiteral("Extract"));
        }
        if (auto* o = qobject_cast<OverwriteDialog*>(m)) {
            seen.push_back("overwrite");
            busyDuringRun = !w.TopMenu(0)->menuAction()->isEnabled() && !w.List()->isEnabled() &&
                            !w.MainToolBar()->isEnabled();
            shown.existingPath = o->ExistingLabel()->toolTip().toStdString();
            shown.entryName = o->EntryLabel()->text().toStdString();
            return test::ClickButton(o, QStringLiteral("Yes"));
        }
        return false;
    });
    w.Action(Cmd::Extract)->trigger();
    EXPECT_EQ(seen, (std::vector<std::string>{"dialog", "overwrite"}));
    EXPECT_TRUE(busyDuringRun);
    EXPECT_EQ(shown.existingPath, out + "/a.txt");
    EXPECT_EQ(shown.entryName, "a.txt");
    EXPECT_EQ(ReadText(out + "/a.txt"), "new a");
    EXPECT_EQ(ReadText(out + "/docs/c.txt"), "new c");
    EXPECT_FALSE(platform::PathExists(out + "/b.txt"));
    EXPECT_EQ(w.StatusText(0), QStringLiteral("2 entry(ies) successfully extracted !"));
    EXPECT_TRUE(w.List()->isEnabled());
    EXPECT_TRUE(w.TopMenu(1)->menuAction()->isEnabled());
    // The destination is remembered: in the history menu and as the next dialog's folder.
    EXPECT_TRUE(w.ExtractHistoryActions()[0]->isVisible());
    EXPECT_EQ(w.ExtractHistoryActions()[0]->text(), QString::fromStdString(out + "/"));
    EXPECT_EQ(w.App().Config().Extract, out + "/");

    // The remembered destination extracts the selected rows again without the dialog; "No to all" this time.
    driver.reset();
    seen.clear();
    ModalDriver second([&](QWidget* m) {
        auto* o = qobject_cast<OverwriteDialog*>(m);
        if (!o) return false;
        seen.push_back("overwrite");
        return test::ClickButton(o, QStringLiteral("No to all"));
    });
    WriteFile(out + "/a.txt", std::string("mine"));
    w.ExtractHistoryActions()[0]->trigger();
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(ReadText(out + "/a.txt"), "mine");
}

TEST(ExtractUi, TheDialogChecksSpaceAndMakesTheDestination) {
    Sandbox box;
    std::string base = box.Path("tree");
    platform::ForceDirectories(base + "/existing");
    QWidget parent;
    ExtractDialog d(&parent, QString::fromStdString(base), 12 * 1048576, true);
    EXPECT_TRUE(d.SelectedFiles()->isChecked());  // opened from the list's pop-up menu
    EXPECT_GE(d.minimumWidth(), 466);
    EXPECT_GE(d.minimumHeight(), 300);
    uint64_t free = 10 * 1048576;
    d.FreeSpace = [&](const QString&) { return free; };
    d.show();
    EXPECT_EQ(d.RequiredPanel()->text(), QStringLiteral("required: 12.00 MB"));
    d.SelectFolder(QString::fromStdString(base));
    EXPECT_EQ(d.FreePanel()->text(), QStringLiteral("free: 10.00 MB"));

    // Not enough room: the user is asked; No keeps the dialog open.
    QStringList asked;
    bool answerYes = false;
    ModalDriver driver([&](QWidget* m) {
        auto* mb = qobject_cast<QMessageBox*>(m);
        if (!mb || mb->property("answered").toBool()) return false;
        mb->setProperty("answered", true);
        asked << mb->windowTitle() + QStringLiteral(": ") + mb->text();
        if (mb->standardButtons() & QMessageBox::Yes)
            return test::ClickButton(mb, answerYes ? QStringLiteral("Yes") : QStringLiteral("No"));
        return test::ClickButton(mb, QStringLiteral("OK"));
    });
    QTest::mouseClick(d.ExtractButton(), Qt::LeftButton);
    ASSERT_TRUE(test::WaitFor([&] { return !asked.isEmpty() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(asked.back(), QStringLiteral("Confirm: Not enough free disk space. Continue extracting ?"));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.result(), 0);

    // A destination whose parent is missing cannot be made.
    free = 12 * 1048576;
    d.DestinationField()->setText(QString::fromStdString(base + "/no/such"));
    QTest::mouseClick(d.ExtractButton(), Qt::LeftButton);
    ASSERT_TRUE(test::WaitFor([&] { return asked.size() == 2 && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(asked.back(), QStringLiteral("Error: Can\"t create directory !"));
    EXPECT_TRUE(d.isVisible());

    // One level is made; with enough room nobody is asked.
    d.DestinationField()->setText(QString::fromStdString(base + "/new"));
    QTest::mouseClick(d.ExtractButton(), Qt::LeftButton);
    EXPECT_EQ(asked.size(), 2);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(platform::DirectoryExists(base + "/new"));
    app::LastExtractChoices c = d.Choices();
    EXPECT_FALSE(c.cancelled);
    EXPECT_EQ(c.destination, base + "/new/");
    EXPECT_TRUE(c.selectedOnly);
    EXPECT_TRUE(c.useFolderNames);
    EXPECT_EQ(d.TreeFolder(), QString::fromStdString(base));
}

// The tree opens on the starting folder, in view, although its parents are read in the background.
TEST(ExtractUi, TheStartingFolderIsInView) {
    Sandbox box;
    std::string base = box.Path("a/b/c/d");
    platform::ForceDirectories(base);
    QWidget parent;
    ExtractDialog d(&parent, QString::fromStdString(base), 0, false);
    d.resize(d.minimumSize());
    d.show();
    QTreeView* tree = d.Tree();
    auto inView = [&] {
        QModelIndex i = tree->currentIndex();
        return i.isValid() && tree->viewport()->rect().contains(tree->visualRect(i).center());
    };
    // Once the top folder is listed (and sorted) the choice must still be in view.
    ASSERT_TRUE(test::WaitFor([&] { return tree->model()->rowCount(tree->rootIndex()) > 3; }));
    QTest::qWait(300);
    EXPECT_TRUE(inView());
    EXPECT_EQ(d.TreeFolder(), QString::fromStdString(base));
}

TEST(ExtractUi, ClosingTheDialogAnyOtherWayExtractsNothing) {
    Sandbox box;
    QWidget parent;
    ExtractDialog d(&parent, QString::fromStdString(box.dir.Path().string()), 0, false);
    d.show();
    d.close();
    EXPECT_TRUE(d.Choices().cancelled);
    EXPECT_TRUE(d.Choices().destination.empty());
    EXPECT_FALSE(d.Choices().selectedOnly);
}

TEST(ExtractUi, NewFolderMakesAndSelectsTheFolder) {
    Sandbox box;
    std::string base = box.Path("nf");
    platform::ForceDirectories(base + "/taken");
    QWidget parent;
    ExtractDialog d(&parent, QString::fromStdString(base), 0, false);
    d.show();
    QStringList messages;
    int step = 0;
    ModalDriver driver([&](QWidget* m) {
        if (auto* mb = qobject_cast<QMessageBox*>(m)) {
            if (mb->property("answered").toBool()) return false;
            mb->setProperty("answered", true);
            messages << mb->text();
            return test::ClickButton(mb, QStringLiteral("OK"));
        }
        auto* n = qobject_cast<NewFolderDialog*>(m);
        if (!n) return false;
        if (step == 0) {
            EXPECT_EQ(n->windowTitle(), QStringLiteral("Create new folder"));
            n->NameField()->setText(QStringLiteral("taken"));
            ++step;
            test::ClickButton(n, QStringLiteral("Create"));
            return false;  // the window stays open after the refusal and is answered again
        }
        if (step == 1 && !messages.isEmpty()) {
            n->NameField()->setText(QStringLiteral("fresh"));
            ++step;
            return test::ClickButton(n, QStringLiteral("Create"));
        }
        return false;
    });
    d.NewFolder();
    EXPECT_EQ(messages, QStringList{QStringLiteral("Directory already exists !")});
    EXPECT_TRUE(platform::DirectoryExists(base + "/fresh"));
    EXPECT_EQ(d.DestinationField()->text(), QString::fromStdString(base + "/fresh"));
    EXPECT_EQ(d.TreeFolder(), QString::fromStdString(base + "/fresh"));
}

TEST(ExtractUi, TheOverwritePromptAndThePasswordWindowAnswer) {
    QWidget parent;
    OverwriteDialog o(&parent);
    EXPECT_EQ(o.windowTitle(), QStringLiteral("Confirm file overwrite"));
    app::OverwritePrompt p{"/data/out/x.txt", 1234, "01.02.2024 10:00", "docs/x.txt", 99, "02.02.2024 11:00"};
    const std::pair<QString, app::OverwriteAnswer> buttons[] = {
        {QStringLiteral("Yes"), app::OverwriteAnswer::Yes},
        {QStringLiteral("Yes to all"), app::OverwriteAnswer::YesToAll},
        {QStringLiteral("No"), app::OverwriteAnswer::No},
        {QStringLiteral("No to all"), app::OverwriteAnswer::NoToAll},
        {QStringLiteral("Cancel"), app::OverwriteAnswer::Cancel},
    };
    for (const auto& [text, answer] : buttons) {
        EXPECT_EQ(o.Button(answer)->text().remove(QLatin1Char('&')), text);
        ModalDriver driver([&, text = text](QWidget* m) { return m == &o && test::ClickButton(&o, text); });
        EXPECT_EQ(o.Ask(p), answer) << text.toStdString();
    }
    EXPECT_EQ(o.EntryLabel()->text(), QStringLiteral("docs/x.txt"));
    EXPECT_EQ(o.ExistingLabel()->toolTip(), QStringLiteral("/data/out/x.txt"));
    // Closing the prompt otherwise is no answer.
    {
        ModalDriver driver([&](QWidget* m) {
            if (m != &o) return false;
            QMetaObject::invokeMethod(&o, "reject", Qt::QueuedConnection);
            return true;
        });
        EXPECT_EQ(o.Ask(p), app::OverwriteAnswer::None);
    }

    PasswordDialog pw(&parent);
    EXPECT_EQ(pw.windowTitle(), QStringLiteral("Password needed"));
    EXPECT_EQ(pw.Hint()->text(), QStringLiteral("Please enter password to extract files."));
    EXPECT_EQ(pw.Field()->echoMode(), QLineEdit::Password);
    pw.MaskBox()->setChecked(false);
    EXPECT_EQ(pw.Field()->echoMode(), QLineEdit::Normal);
    {
        ModalDriver driver([&](QWidget* m) {
            if (m != &pw || !pw.Field()->text().isEmpty()) return false;
            QTest::keyClicks(pw.Field(), QStringLiteral("Secret"));
            return test::ClickButton(&pw, QStringLiteral("OK"));
        });
        EXPECT_EQ(pw.AskForExtract("x.txt"), std::optional<std::string>("Secret"));
    }
    {
        ModalDriver driver(
            [&](QWidget* m) { return m == &pw && test::ClickButton(&pw, QStringLiteral("Cancel")); });
        EXPECT_EQ(pw.AskForExtract("x.txt"), std::nullopt);
    }
}

TEST(ExtractUi, CancelInTheProgressWindowStopsTheRunAndRemovesItsFiles) {
    Sandbox box;
    box.Settings("[Settings]\noptOverwrite=0\n");
    std::vector<varnok::test::ZipItem> items;
    for (int i = 0; i < 30; ++i)
        items.push_back({"f" + std::to_string(i) + ".bin", std::string(100000, 'a' + i % 26)});
    std::string zip = box.Path("many.zip");
    WriteFile(zip, varnok::test::BuildZip(items));
    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(zip));
    w.SetEventInterval(0);
    w.Progress()->SetShowDelay(0);
    bool clicked = false, shownWhileRunning = false;
    std::function<void()> poll = [&] {
        if (w.Progress()->isVisible() && w.Model().Busy()) {
            shownWhileRunning = true;
            EXPECT_EQ(w.Progress()->windowTitle(), QStringLiteral("Status..."));
            EXPECT_EQ(w.Progress()->HeaderLabel()->text(), QStringLiteral("Extracting..."));
            QTest::mouseClick(w.Progress()->CancelButton(), Qt::LeftButton);
            clicked = true;
            return;
        }
        if (!clicked) QTimer::singleShot(0, poll);
    };
    QTimer::singleShot(0, poll);
    w.Action(Cmd::ExtractToNamedFolder)->trigger();
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(shownWhileRunning);
    EXPECT_TRUE(w.Model().Extractor().LastRunCancelled());
    EXPECT_FALSE(w.Progress()->isVisible());
    EXPECT_FALSE(w.Model().Busy());
    int left = 0;
    for (int i = 0; i < 30; ++i)
        left += platform::PathExists(box.Path("many/f" + std::to_string(i) + ".bin"));
    EXPECT_EQ(left, 0);
}

TEST(ExtractUi, ClosingTheWindowDuringARunStopsItFirst) {
    Sandbox box;
    box.Settings("");
    std::vector<varnok::test::ZipItem> items;
    for (int i = 0; i < 30; ++i)
        items.push_back({"g" + std::to_string(i) + ".bin", std::string(100000, 'b')});
    std::string zip = box.Path("close.zip");
    WriteFile(zip, varnok::test::BuildZip(items));
    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(zip));
    w.SetEventInterval(0);
    bool closedDuringRun = false, stillOpenDuringRun = false;
    std::function<void()> poll = [&] {
        if (w.Model().Busy()) {
            closedDuringRun = !w.close();  // refused while the run stops
            stillOpenDuringRun = w.isVisible();
            return;
        }
        QTimer::singleShot(0, poll);
    };
    QTimer::singleShot(0, poll);
    w.Action(Cmd::ExtractHere)->trigger();
    EXPECT_TRUE(closedDuringRun);
    EXPECT_TRUE(stillOpenDuringRun);
    EXPECT_TRUE(w.Model().Extractor().LastRunCancelled());
    // The window goes once the run has stopped, saving its settings.
    ASSERT_TRUE(test::WaitFor([&] { return !w.isVisible(); }));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(box.Ini())));
    app::IniFile ini(box.Ini());
    EXPECT_TRUE(ini.HasKey("Position", "width"));
    int left = 0;
    for (int i = 0; i < 30; ++i)
        left += platform::PathExists(box.Path("g" + std::to_string(i) + ".bin"));
    EXPECT_EQ(left, 0);
}

}  // namespace
}  // namespace varnok::ui
