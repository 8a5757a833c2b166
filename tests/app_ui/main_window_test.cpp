#include <gtest/gtest.h>
#include <signal.h>

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include "app/associations.h"

#include "app/ini_file.h"
#include "app/placement.h"
#include "app/ui/association_dialog.h"
#include "app/ui/entry_list.h"
#include "app/ui/limits_dialog.h"
#include "app/ui/main_window.h"
#include "app/ui/session_end.h"
#include "tests/app_ui/ui_test_support.h"
#include "tests/support/builders.h"

namespace varnok::ui {
namespace {

using app::Cmd;
using test::ModalDriver;
using test::Sandbox;
using varnok::test::ZipItem;

std::string WriteZip(const Sandbox& s, const std::string& name, const std::vector<ZipItem>& items,
                     const varnok::test::ZipOptions& opt = {}) {
    std::string p = s.Path(name);
    varnok::test::WriteFile(p, varnok::test::BuildZip(items, opt));
    return p;
}

TEST(MainWindow, AFreshStartAsksForAssociationsAndSavesTheLayoutAtExit) {
    Sandbox box;
    std::vector<QString> rows;
    bool neverAsk = false;
    QSize firstSize;
    {
        ModalDriver driver([&](QWidget* w) {
            auto* d = qobject_cast<AssociationDialog*>(w);
            if (!d || !rows.empty()) return false;
            for (int i = 0; i < d->List()->count(); ++i)
                rows.push_back(d->List()->item(i)->text());
            d->NeverAskBox()->setChecked(true);
            neverAsk = true;
            return test::ClickButton(d, QStringLiteral("Cancel"));
        });
        MainWindow w(box.Folders());
        w.show();
        ASSERT_TRUE(test::WaitFor([&] { return !rows.empty() && !QApplication::activeModalWidget(); }));
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnok"));
        EXPECT_EQ(w.StatusText(0), QStringLiteral("Welcome to Varnok."));
        // The first-start size, fitted to the screen.
        const QRect area = w.screen()->availableGeometry();
        const app::WindowRect fit = app::FitToScreen(
            {0, 0, app::kDefaultWindowWidth, app::kDefaultWindowHeight}, area.width(), area.height());
        EXPECT_EQ(w.size(), QSize(fit.width, fit.height));
        firstSize = w.size();
        EXPECT_EQ(w.toolBarArea(w.MainToolBar()), Qt::TopToolBarArea);
        EXPECT_TRUE(w.MainToolBar()->isVisible());
        EXPECT_TRUE(w.statusBar()->isVisible());
        EXPECT_TRUE(w.LogDock()->isVisible());
        EXPECT_FALSE(w.LogDock()->isFloating());
        EXPECT_TRUE(w.Action(Cmd::OpenArchive)->isEnabled());
        EXPECT_FALSE(w.Action(Cmd::Extract)->isEnabled());
        EXPECT_FALSE(w.Action(Cmd::CloseArchive)->isEnabled());
        EXPECT_FALSE(w.Action(Cmd::Add)->isEnabled());
        EXPECT_TRUE(w.Action(Cmd::ViewLog)->isChecked());
        w.close();
    }
    // The dialog shows the rows of the association list.
    ASSERT_EQ(rows.size(), app::AssociationRows().size());
    EXPECT_EQ(rows.front(), QStringLiteral("Ace archives (*.ace)"));
    EXPECT_NE(std::find(rows.begin(), rows.end(), QStringLiteral("Zip archives (*.zip)")), rows.end());
    app::IniFile ini(box.Ini());
    EXPECT_EQ(ini.ReadString("FileAssociation", "NoDialog", ""), "1");
    EXPECT_EQ(ini.ReadString("FileAssociation", "Associate", ""), "0");
    EXPECT_EQ(ini.ReadInteger("Position", "width", 0), firstSize.width());
    EXPECT_EQ(ini.ReadInteger("Position", "height", 0), firstSize.height());
    EXPECT_EQ(ini.ReadString("Toolbar", "Docked", ""), "vnDockTop");
    EXPECT_EQ(ini.ReadString("Log", "tbLogVisible", ""), "1");
    EXPECT_EQ(ini.ReadString("ZipList", "Name", ""), "220,0");
    EXPECT_EQ(ini.ReadString("Compression", "zipCR", ""), "4");
    app::IniFile registry(box.Path("config/varnok/registry.ini"));
    EXPECT_EQ(registry.ReadString("Software\\Varnok", "App", ""), "/usr/bin/varnok");
    // The class key is the desktop entry.
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(box.Path("data/applications/varnok.desktop"))));
}

TEST(MainWindow, TheStoredLayoutIsRestoredAndFittedToTheScreen) {
    Sandbox box;
    box.Settings(
        "[Position]\nx=300\ny=10\nwidth=20000\nheight=300\n[Toolbar]\nDocked=vnDockBottom\ntbShowText=1\n"
        "[Log]\ntbLogVisible=0\n[ZipList]\nSize=0,2\nPath=150,1\nType=90,6\n[Visual]\nGridLines=1\nRowSelect="
        "1\n");
    MainWindow w(box.Folders());
    w.show();
    QTest::qWait(20);
    QRect screen = w.screen()->availableGeometry();
    EXPECT_EQ(w.width(), screen.width());
    EXPECT_EQ(w.x(), screen.x());
    EXPECT_EQ(w.height(), 300);
    EXPECT_EQ(w.toolBarArea(w.MainToolBar()), Qt::BottomToolBarArea);
    EXPECT_EQ(w.MainToolBar()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_FALSE(w.LogDock()->isVisible());
    EXPECT_FALSE(w.Action(Cmd::ViewLog)->isChecked());
    QHeaderView* h = w.List()->horizontalHeader();
    EXPECT_TRUE(h->isSectionHidden(app::colSize));
    EXPECT_EQ(h->sectionSize(app::colPath), 150);
    EXPECT_EQ(h->visualIndex(app::colPath), 1);
    EXPECT_EQ(h->visualIndex(app::colType), 6);
    EXPECT_TRUE(w.List()->showGrid());
    EXPECT_TRUE(w.List()->Options().rowSelect);

    // Changes made in the window are what the next start finds.
    h->resizeSection(app::colName, 333);
    w.Action(Cmd::ViewLog)->trigger();
    EXPECT_TRUE(w.LogDock()->isVisible());
    w.Action(Cmd::ViewStatusbar)->trigger();
    EXPECT_FALSE(w.statusBar()->isVisible());
    w.close();
    app::IniFile ini(box.Ini());
    EXPECT_EQ(ini.ReadString("ZipList", "Name", ""), "333,0");
    EXPECT_EQ(ini.ReadString("ZipList", "Size", ""), "0,2");
    EXPECT_EQ(ini.ReadString("ZipList", "Path", ""), "150,1");
    EXPECT_EQ(ini.ReadString("Toolbar", "Docked", ""), "vnDockBottom");
    EXPECT_EQ(ini.ReadString("Toolbar", "sbVisible", ""), "0");
    EXPECT_EQ(ini.ReadString("Log", "tbLogVisible", ""), "1");
    EXPECT_EQ(ini.ReadString("Visual", "GridLines", ""), "1");
}

TEST(MainWindow, TheDockedLogKeepsItsHeightFromRunToRun) {
    Sandbox box;
    box.Settings("[Log]\ntbLogVisible=1\ntbLogHeight=150\n");
    for (int run = 0; run < 2; ++run) {
        MainWindow w(box.Folders());
        w.show();
        QTest::qWait(20);
        EXPECT_EQ(w.LogDock()->height(), 150 - app::kLogFrameAllowance) << run;
        w.close();
        app::IniFile ini(box.Ini());
        EXPECT_EQ(ini.ReadString("Log", "tbLogHeight", ""), "150") << run;
    }
}

TEST(MainWindow, TheExtractionLimitsAreChosenInOptionsAndKept) {
    Sandbox box;
    box.Settings("[Settings]\nMaxRatio=5000\n");
    QString shownRatio, shownSize;
    {
        ModalDriver driver([&](QWidget* w) {
            auto* d = qobject_cast<LimitsDialog*>(w);
            if (!d || !shownRatio.isEmpty()) return false;
            shownRatio = d->RatioBox()->text();
            shownSize = d->SizeBox()->text();
            d->RatioBox()->setValue(0);
            d->SizeBox()->setValue(2048);
            return test::ClickButton(d, QStringLiteral("OK"));
        });
        MainWindow w(box.Folders());
        w.show();
        QAction* limits = nullptr;
        for (QAction* a : w.findChildren<QAction*>())
            if (a->text() == QStringLiteral("Extraction &limits...")) limits = a;
        ASSERT_NE(limits, nullptr);
        limits->trigger();
        ASSERT_TRUE(
            test::WaitFor([&] { return !shownRatio.isEmpty() && !QApplication::activeModalWidget(); }));
        EXPECT_EQ(w.App().Config().MaxRatio, 0u);
        EXPECT_EQ(w.App().Config().MaxSizeMiB, 2048u);
        w.close();
    }
    EXPECT_EQ(shownRatio, QStringLiteral("5000 to one"));
    EXPECT_EQ(shownSize, QStringLiteral("the destination's free space"));
    app::IniFile ini(box.Ini());
    EXPECT_EQ(ini.ReadString("Settings", "MaxRatio", ""), "0");
    EXPECT_EQ(ini.ReadString("Settings", "MaxSizeMiB", ""), "2048");
}

TEST(MainWindow, AnOpenArchiveFillsTheListTitleStatusAndMenus) {
    Sandbox box;
    box.Settings("");
    std::string zip =
        WriteZip(box, "docs.zip",
                 {{"readme.txt", std::string(3000, 'r')}, {"src/main.c", "int main;"}, {"b.bin", "12"}});
    MainWindow w(box.Folders());
    w.show();
    w.HandleArguments({QString::fromStdString(zip)});
    EntryTableModel* m = w.TableModel();
    ASSERT_EQ(m->rowCount(), 3);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Name"));
    EXPECT_EQ(m->headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Attributes"));
    EXPECT_EQ(m->index(0, app::colSize).data().toString(), QStringLiteral("3.000"));
    EXPECT_EQ(m->index(1, app::colPath).data().toString(), QStringLiteral("src/"));
    EXPECT_TRUE(m->index(0, app::colSize).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignRight);
    EXPECT_FALSE(m->index(0, app::colName).data(Qt::DecorationRole).isNull());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnok - docs.zip"));
    EXPECT_EQ(w.StatusText(0), QString::fromStdString(zip));
    EXPECT_EQ(w.StatusText(2), QStringLiteral("Total 3 entry(ies), 3 KB [3 KB]"));
    EXPECT_TRUE(w.StatusPanel(2)->isVisible());
    EXPECT_TRUE(w.Action(Cmd::Extract)->isEnabled());
    EXPECT_TRUE(w.Action(Cmd::CloseArchive)->isEnabled());
    EXPECT_TRUE(w.Action(Cmd::Checkout)->isEnabled());
    EXPECT_TRUE(w.Action(Cmd::ExtractToNamedFolder)->text().startsWith(QStringLiteral("Extract to /")));
    EXPECT_TRUE(w.OpenHistoryActions()[0]->isVisible());
    EXPECT_TRUE(w.OpenHistoryActions()[0]->text().endsWith(QString::fromStdString(zip)));
    EXPECT_FALSE(w.OpenHistoryActions()[1]->isVisible());

    // Header clicks sort; the sort items show the column; the selection stays with its rows.
    w.List()->selectRow(2);  // b.bin
    EXPECT_EQ(w.Model().SelectionCount(), 1);
    QHeaderView* h = w.List()->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(app::colName) + 5, 5));
    EXPECT_EQ(m->index(0, app::colName).data().toString(), QStringLiteral("b.bin"));
    EXPECT_TRUE(w.Action(Cmd::SortByName)->isChecked());
    EXPECT_TRUE(h->isSortIndicatorShown());
    EXPECT_EQ(h->sortIndicatorSection(), app::colName);
    EXPECT_TRUE(w.List()->selectionModel()->isRowSelected(0, {}));
    w.Action(Cmd::SortByName)->trigger();  // the same column again: descending
    EXPECT_EQ(m->index(0, app::colName).data().toString(), QStringLiteral("readme.txt"));
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_TRUE(w.List()->selectionModel()->isRowSelected(2, {}));

    // Selection commands reach the view; view selections reach the model.
    w.Action(Cmd::SelectAll)->trigger();
    EXPECT_EQ(w.List()->selectionModel()->selectedRows().size(), 3);
    w.Action(Cmd::InvertSelection)->trigger();
    EXPECT_TRUE(w.List()->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(w.Model().SelectionCount(), 0);
    w.List()->selectRow(1);
    EXPECT_EQ(w.Model().SelectedRows(), std::vector<int>{1});

    w.Action(Cmd::CloseArchive)->trigger();
    EXPECT_EQ(m->rowCount(), 0);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnok"));
    EXPECT_EQ(w.StatusText(0), QStringLiteral("Ready"));
    EXPECT_FALSE(w.StatusPanel(2)->isVisible());
    EXPECT_FALSE(w.Action(Cmd::Extract)->isEnabled());
    EXPECT_FALSE(h->isSortIndicatorShown());
}

TEST(MainWindow, TheNextVolumeBoxAndTheStatusPanels) {
    Sandbox box;
    box.Settings("");
    MainWindow w(box.Folders());
    w.show();
    QString label, value;
    bool cancel = false;
    ModalDriver driver([&](QWidget* m) {
        auto* d = qobject_cast<QInputDialog*>(m);
        if (!d) return false;
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Get next volume"));
        label = d->labelText();
        value = d->textValue();
        if (cancel) return test::ClickButton(d, QStringLiteral("Cancel"));
        d->setTextValue(QStringLiteral("/media/disk2/set.a01"));
        return test::ClickButton(d, QStringLiteral("OK"));
    });
    auto r = w.AskNextVolume("Insert next disk or locate the file: set.a01 (ID: 2)", "/data/set.a01");
    EXPECT_EQ(r, std::optional<std::string>("/media/disk2/set.a01"));
    EXPECT_EQ(label, QStringLiteral("Insert next disk or locate the file: set.a01 (ID: 2)"));
    EXPECT_EQ(value, QStringLiteral("/data/set.a01"));
    cancel = true;
    EXPECT_EQ(w.AskNextVolume("x", "/y"), std::nullopt);

    // Three panels while an archive is open, sized 36 % and 27 % of the bar.
    w.OpenArchive(QString::fromStdString(WriteZip(box, "p.zip", {{"a", "b"}})));
    w.resize(1000, 500);
    QTest::qWait(10);
    auto widths = app::StatusPanelWidths(w.statusBar()->width());
    EXPECT_EQ(w.StatusPanel(0)->width(), widths[0]);
    EXPECT_EQ(w.StatusPanel(1)->width(), widths[1]);
    EXPECT_TRUE(w.StatusPanel(1)->isVisible());
}

TEST(MainWindow, InstallEntriesShowTheInstallCommand) {
    Sandbox box;
    box.Settings("");
    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(
        QString::fromStdString(WriteZip(box, "setup.zip", {{"disk1/Setup.EXE", "MZ"}, {"a.txt", "a"}})));
    QAction* install = nullptr;
    for (QAction* a : w.MainToolBar()->actions())
        if (a->iconText() == QStringLiteral("Install")) install = a;
    ASSERT_TRUE(install);
    EXPECT_TRUE(install->isVisible());
    w.OpenArchive(QString::fromStdString(WriteZip(box, "plain.zip", {{"a.txt", "a"}})));
    EXPECT_FALSE(install->isVisible());
}

TEST(MainWindow, BridgeMessagesGoToTheLogAndADroppedArchiveIsOpenedAfterAsking) {
    Sandbox box;
    box.Settings("");
    varnok::test::ZipOptions opt;
    opt.trailer = std::string(100, 'G');
    std::string zip = WriteZip(box, "tail.zip", {{"a.txt", "a"}}, opt);
    QStringList boxes;
    ModalDriver driver([&](QWidget* w) {
        auto* mb = qobject_cast<QMessageBox*>(w);
        if (!mb || mb->property("answered").toBool()) return false;
        mb->setProperty("answered", true);
        boxes << mb->windowTitle() + QStringLiteral(": ") + mb->text();
        return test::ClickButton(mb, mb->text().contains(QStringLiteral("dragged")) ? QStringLiteral("Yes")
                                                                                    : QStringLiteral("OK"));
    });
    MainWindow w(box.Folders());
    w.show();
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(zip))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    ASSERT_TRUE(test::WaitFor([&] { return w.Model().IsOpen(); }));
    // The warning is only logged; the question was the one box.
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0],
              QStringLiteral("Question: The file you dragged is an archive, do you want to open it ?"));
    EXPECT_TRUE(
        w.LogView()->toPlainText().contains(QStringLiteral("Warning - Garbage at the end of the zipfile!")));
    EXPECT_EQ(w.TableModel()->rowCount(), 1);
    w.Action(Cmd::ClearLog)->trigger();
    EXPECT_TRUE(w.LogView()->toPlainText().isEmpty());
}

// The session ends while the window is open (logout: SIGTERM; a closed terminal: SIGHUP): the window closes
// as the user would close it, so a setting changed since the start (here the grid lines, as Preferences sets
// them) is saved, and the program's status is that of the signal. Killed on the spot, it would be lost.
TEST(SessionEnd, TheSignalClosesTheWindowAndSavesTheSettings) {
    for (int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        Sandbox box;
        box.Settings("[Visual]\nGridLines=0\n");
        int status = -1;
        {
            MainWindow w(box.Folders());
            w.show();
            EndWithTheSession(w, [&](int s) { status = s; });
            w.App().Config().GridLines = true;
            raise(sig);
            QTRY_COMPARE_WITH_TIMEOUT(status, 128 + sig, 10000);
            EXPECT_TRUE(w.Exited());
            EXPECT_FALSE(w.isVisible());
            // Once the end has begun, a second signal is not caught again: it ends the program at once.
            struct sigaction after {};
            sigaction(sig, nullptr, &after);
            EXPECT_EQ(after.sa_handler, SIG_DFL);
        }
        EXPECT_EQ(app::IniFile(box.Ini()).ReadString("Visual", "GridLines", ""), "1");
    }
    // A dialog open at the time (here the first start's question about file types) is answered as by
    // Escape first; its loop must end before the program can.
    {
        Sandbox box;
        box.Settings("[Visual]\nGridLines=0\n", false);
        int status = -1;
        MainWindow w(box.Folders());
        EndWithTheSession(w, [&](int s) { status = s; });
        w.App().Config().GridLines = true;
        QTimer::singleShot(200, [] { raise(SIGTERM); });
        w.show();  // the question runs here, modal, until the signal answers it
        QTRY_COMPARE_WITH_TIMEOUT(status, 128 + SIGTERM, 10000);
        EXPECT_TRUE(w.Exited());
        EXPECT_EQ(app::IniFile(box.Ini()).ReadString("Visual", "GridLines", ""), "1");
    }
    // With the window gone the signals are handled by default again.
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace varnok::ui
