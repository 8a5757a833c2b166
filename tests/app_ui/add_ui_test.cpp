// The writing commands in the window, offscreen and end to end: files dropped from a file manager (text/uri-list)
// make new archives of each type through the drop window, the add dialog with a password set twice, delete
// through its dialog, and Cancel in the progress window leaving the archive byte for byte.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QLabel>
#include <QDropEvent>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QListView>
#include <QTreeView>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "app/ui/add_dialog.h"
#include "app/ui/delete_dialog.h"
#include "app/ui/drop_window.h"
#include "app/ui/main_window.h"
#include "app/ui/progress_window.h"
#include "app/ui/span_dialog.h"
#include "platform/fileattr.h"
#include "tests/app_ui/ui_test_support.h"
#include "tests/support/builders.h"

namespace varnok::ui {
namespace {

namespace fs = std::filesystem;
using app::Cmd;
using test::ClickButton;
using test::ModalDriver;
using test::Sandbox;
using varnok::test::ReadFile;
using varnok::test::WriteFile;

struct Files {
    explicit Files(Sandbox& box) : src(box.Path("src")) {
        fs::create_directories(src + "/docs");
        WriteFile(src + "/a.txt", std::string(2000, 'a'));
        WriteFile(src + "/docs/b.txt", "bee");
    }
    std::string src;
};

// Drops paths on the window as a file manager does: a drag entering with text/uri-list, then the drop.
void DropOn(MainWindow& w, const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls);
    ASSERT_TRUE(mime.hasFormat(QStringLiteral("text/uri-list")));
    const QPointF at(w.width() / 2.0, w.height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
}

std::vector<std::string> FileNames(MainWindow& w) {
    std::vector<std::string> out;
    for (int i = 0; i < w.Model().RowCount(); ++i)
        if (!w.Model().Row(i).directory) out.push_back(w.Model().Row(i).StoredName());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(AddUi, DroppedFilesMakeANewArchiveOfEachType) {
    Sandbox box;
    box.Settings("");
    Files files(box);
    MainWindow w(box.Folders());
    w.show();
    for (const char* name : {"made.zip", "made.lha", "made.tar", "made.cab"}) {
        SCOPED_TRACE(name);
        const std::string target = box.Path(name);
        std::vector<std::string> errors;
        ModalDriver driver([&](QWidget* m) {
            if (auto* d = qobject_cast<DropWindow*>(m)) {
                EXPECT_EQ(d->windowTitle(), QStringLiteral("Drag and Drop"));
                EXPECT_EQ(d->Summary()->text(), QStringLiteral("Files to add: 2"));
                d->SetArchive(QString::fromStdString(target));
                if (std::string(name) == "made.tar") d->Options()->CompressionBox()->setCurrentIndex(0);
                return ClickButton(d, QStringLiteral("Add"));
            }
            if (auto* b = qobject_cast<QMessageBox*>(m)) {
                errors.push_back(b->text().toStdString());
                b->reject();
                return true;
            }
            return false;
        });
        w.Model().Close();
        DropOn(w, {QString::fromStdString(files.src + "/a.txt"), QString::fromStdString(files.src + "/docs")});
        ASSERT_TRUE(test::WaitFor([&] { return w.Model().IsOpen() && w.Model().RowCount() > 0; }, 15000));
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
        EXPECT_EQ(w.Model().ArchivePath(), target);
        EXPECT_EQ(FileNames(w), (std::vector<std::string>{"a.txt", "docs/b.txt"}));
        // Nothing but the archive was left beside it.
        int stray = 0;
        for (const auto& e : fs::directory_iterator(box.dir.Path()))
            if (e.path().filename().string().rfind(".varnok", 0) == 0 || e.path().extension() == ".tmp") ++stray;
        EXPECT_EQ(stray, 0);
    }
}

// The browser of the "Select files" page: "*.*" must also show names without an extension, a mask narrows the
// view, and "Add >>" copies full paths once each, whichever form (list or details) the view has.
TEST(AddUi, AddDialogBrowserCopiesTheMaskedSelectionAsFullPaths) {
    Sandbox box;
    box.Settings("");
    Files files(box);
    WriteFile(files.src + "/noext", "no extension");
    MainWindow w(box.Folders());
    AddDialog d(w.Adder(), app::WriterFamily::Zip, w.App().Config(), QString::fromStdString(files.src), &w);
    QFileSystemModel* m = d.BrowserModel();
    const QModelIndex root = m->index(QString::fromStdString(files.src));
    auto shown = [&] {
        QStringList names;
        for (int i = 0; i < m->rowCount(root); ++i)
            names << m->fileName(m->index(i, 0, root));
        names.sort();
        return names;
    };
    const QString folder = QString::fromStdString(files.src);
    ASSERT_TRUE(test::WaitFor([&] { return m->rowCount(root) == 3; }, 10000));
    EXPECT_EQ(d.FolderField()->text(), folder);
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("a.txt"), QStringLiteral("docs"), QStringLiteral("noext")}));

    d.MaskField()->setText(QStringLiteral("*.txt"));
    ASSERT_TRUE(test::WaitFor([&] { return m->rowCount(root) == 2; }, 10000));
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("a.txt"), QStringLiteral("docs")})) << "folders stay to go into";
    d.ListView()->selectionModel()->select(m->index(folder + QStringLiteral("/a.txt")),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    d.AddSelected();
    EXPECT_EQ(d.Paths(), QStringList{folder + QStringLiteral("/a.txt")});
    EXPECT_TRUE(d.OkButton()->isEnabled());

    d.MaskField()->setText(QStringLiteral("*.*"));
    ASSERT_TRUE(test::WaitFor([&] { return m->rowCount(root) == 3; }, 10000));
    d.DetailView()->selectAll();  // the details form shares the list's selection
    EXPECT_EQ(d.BrowserSelection().size(), 3);
    d.AddSelected();
    EXPECT_EQ(d.Paths(), (QStringList{folder + QStringLiteral("/a.txt"), folder + QStringLiteral("/docs"),
                                      folder + QStringLiteral("/noext")}));

    // Into a folder: the browser follows and remembers where it was.
    d.ShowFolder(QString::fromStdString(files.src + "/docs"));
    EXPECT_EQ(d.LastFolder(), QString::fromStdString(files.src + "/docs"));
}

TEST(AddUi, AddDialogWithAPasswordSetTwiceEncryptsTheEntries) {
    Sandbox box;
    box.Settings("");
    Files files(box);
    MainWindow w(box.Folders());
    w.show();
    int mismatches = 0;
    int passwordStep = 0;
    ModalDriver driver([&](QWidget* m) {
        if (auto* d = qobject_cast<AddDialog*>(m)) {
            EXPECT_EQ(d->windowTitle(), QStringLiteral("Add files"));
            if (!d->property("asked").toBool()) {
                EXPECT_FALSE(d->OkButton()->isEnabled());  // nothing to add yet
            }
            d->AddPaths({QString::fromStdString(files.src + "/a.txt")});
            EXPECT_TRUE(d->OkButton()->isEnabled());
            if (passwordStep < 3) {
                if (!d->property("asked").toBool()) {
                    d->setProperty("asked", true);
                    QMetaObject::invokeMethod(d->Options()->PasswordButton(), &QPushButton::click,
                                              Qt::QueuedConnection);
                }
                return false;  // answered again once the password is set
            }
            return ClickButton(d, QStringLiteral("Add"));
        }
        if (auto* p = qobject_cast<SetPasswordDialog*>(m)) {
            // First entry, then one differing in case only (refused), then the same again. The window stays
            // open between them and clears its field for the next entry.
            static const char* const kTexts[] = {"Secret", "secret", "Secret"};
            if (passwordStep >= 3 || !p->Field()->text().isEmpty()) return false;
            p->Field()->setText(QString::fromLatin1(kTexts[passwordStep++]));
            ClickButton(p, QStringLiteral("OK"));
            return false;
        }
        if (auto* b = qobject_cast<QMessageBox*>(m)) {
            if (b->text() == QString::fromLatin1(app::PasswordConfirm::kMismatch)) ++mismatches;
            b->accept();
            return true;
        }
        return false;
    });
    ASSERT_TRUE(w.NewArchiveAt(QString::fromStdString(box.Path("secret.zip")), app::ArchiveKind::Zip, false));
    EXPECT_TRUE(w.Action(Cmd::Add)->isEnabled());
    w.Action(Cmd::Add)->trigger();
    ASSERT_TRUE(test::WaitFor([&] { return w.Model().RowCount() == 1; }, 15000));
    EXPECT_EQ(mismatches, 1);
    EXPECT_EQ(w.Adder().addPassword, "Secret");
    ASSERT_EQ(w.Model().Bridge().Count(), 1);
    EXPECT_TRUE(w.Model().Bridge().Entry(0).Encrypted);
}

TEST(AddUi, DeleteDialogByPatternAndItsQuestion) {
    Sandbox box;
    box.Settings("");
    const std::string zip = box.Path("d.zip");
    WriteFile(zip, varnok::test::BuildZip({{"a.txt", "a"}, {"B.TXT", "b"}, {"a.txt.bak", "c"}, {"x*", "x"}}));
    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(zip));
    ASSERT_EQ(w.Model().RowCount(), 4);
    const auto before = ReadFile(zip);
    bool sayYes = false;
    ModalDriver driver([&](QWidget* m) {
        if (auto* d = qobject_cast<DeleteDialog*>(m)) {
            d->Choice(2)->setChecked(true);
            d->Field()->setText(QStringLiteral("*.TXT"));
            return ClickButton(d, QStringLiteral("Delete"));
        }
        if (auto* b = qobject_cast<QMessageBox*>(m)) {
            EXPECT_EQ(b->text(), QString::fromLatin1(app::AddOperation::kDeleteQuestion));
            b->done(sayYes ? QMessageBox::Yes : QMessageBox::No);
            return true;
        }
        return false;
    });
    w.Action(Cmd::Delete)->trigger();
    QTest::qWait(200);
    EXPECT_EQ(ReadFile(zip), before);  // No: nothing deleted
    sayYes = true;
    w.Action(Cmd::Delete)->trigger();
    ASSERT_TRUE(test::WaitFor([&] { return w.Model().RowCount() == 2; }, 15000));
    EXPECT_EQ(FileNames(w), (std::vector<std::string>{"a.txt.bak", "x*"}));
}

TEST(AddUi, CancelInTheProgressWindowLeavesTheArchiveByteForByte) {
    Sandbox box;
    box.Settings("");
    Files files(box);
    // Enough data that the add is still running when Cancel is pressed.
    std::string big(24 << 20, '\0');
    uint32_t x = 1;
    for (char& c : big) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    WriteFile(files.src + "/big.bin", big);
    const std::string zip = box.Path("c.zip");
    WriteFile(zip, varnok::test::BuildZip({{"kept.txt", "kept"}}));
    MainWindow w(box.Folders());
    w.show();
    w.SetEventInterval(0);
    w.Progress()->SetShowDelay(0);
    w.OpenArchive(QString::fromStdString(zip));
    const auto before = ReadFile(zip);
    bool cancelled = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!cancelled && w.Progress()->Active() && w.Progress()->isVisible()) {
            cancelled = true;
            w.Progress()->CancelButton()->click();
        }
    });
    poll.start();
    ModalDriver driver([&](QWidget* m) {
        if (auto* d = qobject_cast<AddDialog*>(m)) {
            d->AddPaths({QString::fromStdString(files.src + "/big.bin")});
            return ClickButton(d, QStringLiteral("Add"));
        }
        return false;
    });
    w.Action(Cmd::Add)->trigger();
    ASSERT_TRUE(test::WaitFor([&] { return cancelled && !w.Model().Busy(); }, 20000));
    EXPECT_TRUE(w.Adder().LastRunCancelled());
    EXPECT_EQ(ReadFile(zip), before);
    EXPECT_EQ(w.Model().RowCount(), 1);
    int files_beside = 0;
    for (const auto& e : fs::directory_iterator(box.dir.Path()))
        if (e.is_regular_file()) ++files_beside;
    EXPECT_EQ(files_beside, 1);
}

}  // namespace
}  // namespace varnok::ui

namespace varnok::ui {
namespace {

TEST(AddUi, WriteSpanSplitsTheOpenZipAndOpensItsLastVolume) {
    Sandbox box;
    box.Settings("");
    std::string data(300 << 10, '\0');
    uint32_t x = 7;
    for (char& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    const std::string zip = box.Path("s.zip");
    WriteFile(zip, varnok::test::BuildZip({{"a.bin", data.substr(0, 150 << 10)}, {"b.bin", data.substr(150 << 10)}}));
    MainWindow w(box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(zip));
    ASSERT_TRUE(w.Action(Cmd::WriteSpan)->isEnabled());
    std::vector<std::string> errors;
    ModalDriver driver([&](QWidget* m) {
        if (auto* d = qobject_cast<SpanDialog*>(m)) {
            EXPECT_EQ(d->windowTitle(), QStringLiteral("Spanning options"));
            EXPECT_TRUE(d->Choice(1)->isChecked());
            d->Choice(2)->setChecked(true);
            d->Field()->setText(QStringLiteral("100"));
            return ClickButton(d, QStringLiteral("OK"));
        }
        if (auto* b = qobject_cast<QMessageBox*>(m)) {
            errors.push_back(b->text().toStdString());
            b->accept();
            return true;
        }
        return false;
    });
    w.Action(Cmd::WriteSpan)->trigger();
    ASSERT_TRUE(test::WaitFor([&] { return w.Model().IsOpen() && w.Model().ArchivePath() != zip; }, 15000))
        << (errors.empty() ? "" : errors.front());
    const std::string last = w.Model().ArchivePath();
    EXPECT_TRUE(platform::FileExists(last));
    EXPECT_TRUE(platform::FileExists(box.Path("s001.zip")));
    // The last volume the split wrote: none numbered after it.
    const char n = last[last.size() - 5];
    EXPECT_FALSE(platform::FileExists(box.Path(std::string("s00") + static_cast<char>(n + 1) + ".zip")));
    EXPECT_FALSE(platform::FileExists(box.Path("s.tmp")));
    EXPECT_FALSE(platform::FileExists(zip));  // the unsplit copy went once the set was complete
}

}  // namespace
}  // namespace varnok::ui
