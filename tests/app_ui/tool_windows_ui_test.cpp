// The tool windows end to end, offscreen: opened from the main window's commands over real archives, run with
// their buttons, answered like a user answers them, and stopped with the progress window's Cancel.
#include <gtest/gtest.h>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/commands.h"
#include "app/ui/convert_window.h"
#include "app/ui/encode_window.h"
#include "app/ui/extract_dialog.h"
#include "app/ui/main_window.h"
#include "app/ui/progress_window.h"
#include "app/ui/repair_window.h"
#include "app/ui/test_window.h"
#include "archive/tools/zipcheck.h"
#include "tests/app_ui/ui_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::ui {
namespace {

namespace fs = std::filesystem;
using app::Cmd;
using test::ModalDriver;
using test::Sandbox;
using varnok::test::ReadFile;
using varnok::test::WriteFile;

// Answers every message box with OK and keeps its title and text.
struct BoxRecorder {
    std::vector<std::pair<QString, QString>> boxes;
    ModalDriver driver{[this](QWidget* m) {
        auto* b = qobject_cast<QMessageBox*>(m);
        if (!b) return false;
        boxes.emplace_back(b->windowTitle(), b->text());
        return test::ClickButton(b, QStringLiteral("OK"));
    }};
    bool Has(const QString& title, const QString& start) const {
        for (const auto& [t, x] : boxes)
            if (t == title && x.startsWith(start)) return true;
        return false;
    }
};

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(dir))
        n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
}

int SoundEntries(const std::string& path) {
    TZipCheck ck;
    ck.SetArchiveFile(path);
    ck.FileSpec = {"*.*"};
    int n = 0;
    ck.OnStatus = [&](TZipCommon&, const std::string&, bool pass) { n += pass ? 1 : -1000; };
    return ck.Test() ? n : -1;
}

std::string BigZip(const Sandbox& box, const std::string& name) {
    std::vector<varnok::test::ZipItem> items;
    for (int i = 0; i < 20; ++i)
        items.push_back({"f" + std::to_string(i) + ".bin", std::string(150000, static_cast<char>('a' + i))});
    std::string p = box.Path(name);
    WriteFile(p, varnok::test::BuildZip(items));
    return p;
}

// Clicks the progress window's Cancel as soon as it shows during a run.
struct CancelWhenShown {
    ProgressWindow* progress;
    bool clicked = false;
    std::function<void()> poll;
    explicit CancelWhenShown(ProgressWindow* p) : progress(p) {
        progress->SetShowDelay(0);
        poll = [this] {
            if (progress->isVisible() && progress->Active()) {
                QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
                clicked = true;
                return;
            }
            QTimer::singleShot(0, poll);
        };
        QTimer::singleShot(0, poll);
    }
};

TEST(ToolCommands, TheFourToolCommandsArePresent) {
    app::CommandState open;
    open.open = true;
    for (Cmd c : {Cmd::UUEncode, Cmd::Test, Cmd::ConvertArchive, Cmd::RepairZips})
        EXPECT_TRUE(app::CommandEnabled(c, open)) << app::Info(c).caption;
    app::CommandState none;
    EXPECT_FALSE(app::CommandEnabled(Cmd::Test, none));
    EXPECT_FALSE(app::CommandEnabled(Cmd::UUEncode, none));
    EXPECT_TRUE(app::CommandEnabled(Cmd::ConvertArchive, none));
    open.busy = true;
    EXPECT_FALSE(app::CommandEnabled(Cmd::RepairZips, open));
}

// ---- Test ---------------------------------------------------------------------------------------------------

TEST(TestWindowUi, TheTestCommandTestsTheOpenZipAndADamagedCopyIsInvalid) {
    VARNOK_REQUIRE_FIXTURE(fixture, "zip/commons_bla.zip");
    Sandbox box;
    box.Settings("");
    const std::string good = box.Path("bla.zip");
    fs::copy_file(fixture, good);
    auto bytes = ReadFile(good);
    bytes[60] ^= 0x5A;  // inside the first entry's compressed data
    const std::string bad = box.Path("bla-damaged.zip");
    WriteFile(bad, bytes);

    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(good));
    ASSERT_TRUE(w.Action(Cmd::Test)->isEnabled());
    QStringList summary, listed;
    QString title;
    w.toolWindowHook = [&](QDialog* d) {
        auto* t = qobject_cast<TestWindow*>(d);
        ASSERT_NE(t, nullptr);
        QTimer::singleShot(0, t, [&, t] {
            title = t->windowTitle();
            for (int i = 0; i < t->List()->count(); ++i)
                listed << t->List()->item(i)->text();
            t->AddArchives({QString::fromStdString(bad)});
            QTest::mouseClick(t->TestButton(), Qt::LeftButton);
            summary = t->SummaryView()->toPlainText().split(QLatin1Char('\n'));
            EXPECT_TRUE(t->DetailsView()->toPlainText().contains(QStringLiteral("Testing archive: ") +
                                                                  QString::fromStdString(bad)));
            QTest::mouseClick(t->CloseButton(), Qt::LeftButton);
        });
    };
    w.Action(Cmd::Test)->trigger();
    EXPECT_EQ(title, QStringLiteral("Testing archive..."));
    EXPECT_EQ(listed, QStringList{QString::fromStdString(good)});
    ASSERT_EQ(summary.size(), 2);
    EXPECT_EQ(summary[0], QStringLiteral("VALID: Archive %1 tested, no errors were found.").arg(QString::fromStdString(good)));
    EXPECT_TRUE(summary[1].startsWith(QStringLiteral("INVALID: Archive %1 tested, ").arg(QString::fromStdString(bad))));
    EXPECT_EQ(Names(box.dir.Path()), (std::vector<std::string>{"bla-damaged.zip", "bla.zip", "config", "data"}));
}

TEST(TestWindowUi, CancelStopsTheTestWhichIsThenNotValid) {
    Sandbox box;
    std::vector<varnok::test::LzhItem> items;
    for (int i = 0; i < 40; ++i)
        items.push_back({"f" + std::to_string(i), std::string(60000, static_cast<char>('a' + i % 26))});
    WriteFile(box.Path("many.lzh"), varnok::test::BuildLzh(items));
    TestWindow t(nullptr, QString::fromStdString(box.Path("many.lzh")), QString());
    t.SetEventInterval(0);
    t.show();
    CancelWhenShown c(t.Progress());
    QTest::mouseClick(t.TestButton(), Qt::LeftButton);
    EXPECT_TRUE(c.clicked);
    EXPECT_TRUE(t.SummaryView()->toPlainText().startsWith(QStringLiteral("INVALID: ")));
    EXPECT_FALSE(t.Progress()->isVisible());
    EXPECT_TRUE(t.TestButton()->isEnabled());
}

// ---- Convert ------------------------------------------------------------------------------------------------

TEST(ConvertWindowUi, AnArchiveConvertsToEveryTypeTheWindowOffers) {
    VARNOK_REQUIRE_FIXTURE(fixture, "zip/commons_bla.zip");
    Sandbox box;
    const std::string src = box.Path("bla.zip");
    fs::copy_file(fixture, src);
    const auto original = ReadFile(src);
    int done = 0;
    for (int i = 0; i < app::kConvertTypeCount; ++i) {
        const auto type = static_cast<app::ConvertType>(i);
        ConvertWindow cw(nullptr, QString::fromStdString(src), QString::fromStdString(box.Path("")));
        if (!cw.TypeButton(type)->isEnabled()) continue;
        cw.show();
        EXPECT_EQ(cw.windowTitle(), QStringLiteral("Convert archive..."));
        EXPECT_TRUE(cw.IntegrityBox()->isChecked());
        cw.TypeButton(type)->setChecked(true);
        if (type == app::ConvertType::Zip) {
            // Beside the source it would be the source itself.
            cw.FolderField()->setText(QString::fromStdString(box.Path("out")));
        } else {
            cw.DestModeList()->setCurrentIndex(1);  // "Store in own directory"
            EXPECT_FALSE(cw.FolderField()->isEnabled());
        }
        BoxRecorder boxes;
        QTest::mouseClick(cw.OkButton(), Qt::LeftButton);
        EXPECT_TRUE(boxes.Has(QStringLiteral("Information"), QStringLiteral("All files have been converted.")))
            << app::ConvertTool::TypeCaption(type);
        const std::string target = cw.Tool().TargetName(src);
        EXPECT_EQ(SoundEntries(target), 2) << target;
        EXPECT_EQ(cw.List()->count(), 0);
        EXPECT_TRUE(cw.LogView()->toPlainText().contains(QStringLiteral("Conversion finished. New archive has ")));
        ++done;
    }
    EXPECT_GE(done, 5);
    EXPECT_EQ(ReadFile(src), original);
}

TEST(ConvertWindowUi, CancelInTheProgressWindowLeavesNoTargetAndTheSourceAsItWas) {
    Sandbox box;
    const std::string src = BigZip(box, "big.zip");
    const auto original = ReadFile(src);
    fs::create_directories(box.Path("tmp"));
    ConvertWindow cw(nullptr, QString::fromStdString(src), QString::fromStdString(box.Path("tmp")));
    cw.SetEventInterval(0);
    cw.show();
    cw.TypeButton(app::ConvertType::Zip)->setChecked(true);
    cw.FolderField()->setText(QString::fromStdString(box.Path("out")));
    BoxRecorder boxes;
    CancelWhenShown c(cw.Progress());
    QTest::mouseClick(cw.OkButton(), Qt::LeftButton);
    EXPECT_TRUE(c.clicked);
    EXPECT_FALSE(boxes.Has(QStringLiteral("Information"), QString()));
    EXPECT_EQ(ReadFile(src), original);
    EXPECT_TRUE(!fs::exists(box.Path("out")) || fs::is_empty(box.Path("out")));
    EXPECT_TRUE(fs::is_empty(box.Path("tmp")));
    EXPECT_EQ(cw.List()->count(), 1);  // still there to convert
    EXPECT_TRUE(cw.OkButton()->isEnabled());
}

// ---- Repair -------------------------------------------------------------------------------------------------

TEST(RepairWindowUi, ADamagedZipIsRepairedFromTheMenu) {
    VARNOK_REQUIRE_FIXTURE(fixture, "zip/commons_bla.zip");
    Sandbox box;
    box.Settings("");
    // The file cut off in its central directory.
    auto bytes = ReadFile(fixture);
    bytes.resize(bytes.size() - 40);
    const std::string damaged = box.Path("bla.zip");
    WriteFile(damaged, bytes);
    MainWindow w(box.Folders());
    w.show();
    QString title;
    bool emptyDisables = false;
    QStringList summary;
    w.toolWindowHook = [&](QDialog* d) {
        auto* r = qobject_cast<RepairWindow*>(d);
        ASSERT_NE(r, nullptr);
        QTimer::singleShot(0, r, [&, r] {
            title = r->windowTitle();
            emptyDisables = !r->RepairButton()->isEnabled();
            r->AddArchives({QString::fromStdString(damaged)});
            EXPECT_TRUE(r->RepairButton()->isEnabled());
            QTest::mouseClick(r->RepairButton(), Qt::LeftButton);
            summary = r->SummaryView()->toPlainText().split(QLatin1Char('\n'));
            EXPECT_FALSE(r->Bar()->isVisible());
            EXPECT_TRUE(r->DetailsView()->toPlainText().contains(QStringLiteral("test1.xml ...Ok")));
            QTest::mouseClick(r->CloseButton(), Qt::LeftButton);
        });
    };
    w.Action(Cmd::RepairZips)->trigger();
    EXPECT_EQ(title, QStringLiteral("Repair damaged zip files"));
    EXPECT_TRUE(emptyDisables);
    const std::string fixed = box.Path("bla_fixed.zip");
    ASSERT_GE(summary.size(), 2);
    EXPECT_EQ(summary[0], QStringLiteral("Fixing file %1 ...").arg(QString::fromStdString(damaged)));
    EXPECT_EQ(summary[1], QStringLiteral("...done, new filename is %1").arg(QString::fromStdString(fixed)));
    EXPECT_EQ(SoundEntries(fixed), 2);
    EXPECT_EQ(ReadFile(damaged), bytes);
}

TEST(RepairWindowUi, CancelWritesNoRepairedFile) {
    Sandbox box;
    const std::string src = BigZip(box, "big.zip");
    const auto original = ReadFile(src);
    RepairWindow r(nullptr, QString::fromStdString(src));
    r.SetEventInterval(0);
    r.show();
    CancelWhenShown c(r.Progress());
    QTest::mouseClick(r.RepairButton(), Qt::LeftButton);
    EXPECT_TRUE(c.clicked);
    EXPECT_EQ(Names(box.dir.Path()), std::vector<std::string>{"big.zip"});
    EXPECT_EQ(ReadFile(src), original);
}

// ---- Encode -------------------------------------------------------------------------------------------------

TEST(EncodeWindowUi, TheOpenArchiveIsEncodedFromTheMenuAndSuccessIsSaidOnce) {
    VARNOK_REQUIRE_FIXTURE(fixture, "zip/commons_bla.zip");
    Sandbox box;
    box.Settings("");
    const std::string src = box.Path("bla.zip");
    fs::copy_file(fixture, src);
    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(src));
    QString target, title;
    bool okInitially = false;
    BoxRecorder boxes;
    w.toolWindowHook = [&](QDialog* d) {
        auto* e = qobject_cast<EncodeWindow*>(d);
        ASSERT_NE(e, nullptr);
        QTimer::singleShot(0, e, [&, e] {
            title = e->windowTitle();
            target = e->TargetField()->text();
            okInitially = e->OkButton()->isEnabled();
            e->EncodingList()->setCurrentIndex(1);  // XXEncode
            QTest::mouseClick(e->OkButton(), Qt::LeftButton);
        });
    };
    w.Action(Cmd::UUEncode)->trigger();
    EXPECT_EQ(title, QStringLiteral("UUEncode or XXEncode archive..."));
    EXPECT_EQ(target, QString::fromStdString(box.Path("bla.uue")));
    EXPECT_TRUE(okInitially);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].second, QStringLiteral("The archive was succesfully encoded."));
    const std::string text = varnok::test::ReadText(box.Path("bla.xxe"));
    const size_t begin = text.find("\r\nbegin ");
    ASSERT_NE(begin, std::string::npos);
    EXPECT_EQ(text.substr(begin + 11, 10), " bla.zip\r\n");  // "begin", the mode, the archive's own name
    EXPECT_FALSE(fs::exists(box.Path("bla.uue")));
}

TEST(EncodeWindowUi, CancelLeavesNoTextAndKeepsTheWindowOpen) {
    Sandbox box;
    const std::string src = BigZip(box, "big.zip");
    EncodeWindow e(nullptr, QString::fromStdString(src), false);
    e.SetEventInterval(0);
    e.show();
    BoxRecorder boxes;
    CancelWhenShown c(e.Progress());
    QTest::mouseClick(e.OkButton(), Qt::LeftButton);
    EXPECT_TRUE(c.clicked);
    EXPECT_EQ(e.LastResult(), app::ToolResult::Cancelled);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(e.isVisible());
    EXPECT_EQ(Names(box.dir.Path()), std::vector<std::string>{"big.zip"});
}

// ---- The extract dialog's first choice ------------------------------------------------------------------------

TEST(ExtractChoiceUi, WithoutASelectionTheDialogOffersAllFiles) {
    Sandbox box;
    box.Settings("");
    const std::string zip = box.Path("pack.zip");
    WriteFile(zip, varnok::test::BuildZip({{"a.txt", "a"}, {"b.txt", "b"}}));
    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(zip));
    w.Model().UnselectAll();
    bool all = false, seen = false;
    ModalDriver driver([&](QWidget* m) {
        auto* d = qobject_cast<ExtractDialog*>(m);
        if (!d) return false;
        seen = true;
        all = d->AllFiles()->isChecked();
        d->reject();
        return true;
    });
    w.Action(Cmd::Extract)->trigger();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(all);
}

}  // namespace
}  // namespace varnok::ui
