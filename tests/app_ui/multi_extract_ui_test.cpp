// The multi-extract window offscreen, the Open dialog's several-file path, the shell switches through the main
// window, and the real program run with "-e" and "/vnseh" on real archives.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/commands.h"
#include "app/paths.h"
#include "app/ui/main_window.h"
#include "app/ui/multi_extract_window.h"
#include "app/ui/progress_window.h"
#include "platform/fileattr.h"
#include "tests/app_ui/ui_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::ui {
namespace {

using app::Cmd;
using test::ModalDriver;
using test::Sandbox;
using varnok::test::ReadText;
using varnok::test::WriteFile;

QString Qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Three archives of three families in two folders of a sandbox.
struct Archives {
    std::string a, b, c;
    explicit Archives(const Sandbox& box) {
        a = box.Path("one/alpha.zip");
        b = box.Path("two/beta.lzh");
        c = box.Path("two/gamma.tar");
        WriteFile(a, varnok::test::BuildZip({{"a.txt", "from alpha"}, {"docs/a2.txt", "alpha docs"}}));
        WriteFile(b, varnok::test::BuildLzh({{"b.txt", "from beta"}}));
        WriteFile(c, varnok::test::BuildTar({{"c.txt", "from gamma"}}));
    }
};

// Records message boxes and answers them with OK.
struct Boxes {
    std::vector<std::pair<QString, QString>> seen;
    ModalDriver driver{[this](QWidget* m) {
        auto* b = qobject_cast<QMessageBox*>(m);
        if (!b) return false;
        seen.emplace_back(b->windowTitle(), b->text());
        return test::ClickButton(b, QStringLiteral("OK"));
    }};
};

TEST(MultiExtractWindowUi, RowsAreAddedOnceAndDeletedBySelection) {
    Sandbox box;
    Archives arc(box);
    MultiExtractWindow w(nullptr, {Qs(arc.a)}, Qs(app::DefaultRootFolder()));
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Extract multiple files"));
    EXPECT_EQ(w.DestinationField()->text(), Qs(app::DefaultRootFolder()));
    ASSERT_EQ(w.ModeList()->count(), 4);
    EXPECT_EQ(w.ModeList()->currentIndex(), 0);
    EXPECT_EQ(w.ModeList()->itemText(2), QStringLiteral("Each in its own Directory"));
    EXPECT_EQ(w.FileList()->headerItem()->text(0), QStringLiteral("Filename"));
    EXPECT_EQ(w.FileList()->headerItem()->text(1), QStringLiteral("Path"));
    EXPECT_TRUE(w.FolderNamesBox()->isChecked());
    EXPECT_FALSE(w.OverwriteBox()->isChecked());
    EXPECT_FALSE(w.SkipOlderBox()->isChecked());

    w.chooseFiles = [&] { return QStringList{Qs(arc.a), Qs(arc.b), Qs(arc.c), Qs(arc.b)}; };
    QTest::mouseClick(w.AddButton(), Qt::LeftButton);
    ASSERT_EQ(w.FileList()->topLevelItemCount(), 3);
    EXPECT_EQ(w.FileList()->topLevelItem(1)->text(0), QStringLiteral("beta.lzh"));
    EXPECT_EQ(w.FileList()->topLevelItem(1)->text(1), Qs(box.Path("two/")));
    w.FileList()->topLevelItem(0)->setSelected(true);
    w.FileList()->topLevelItem(2)->setSelected(true);
    QTest::mouseClick(w.DeleteButton(), Qt::LeftButton);
    EXPECT_EQ(w.Paths(), std::vector<std::string>{arc.b});
    EXPECT_EQ(w.Request().count, 1);
}

TEST(MultiExtractWindowUi, OkMakesAMissingDestinationOrSaysItCannotAndClosesAllTheSame) {
    Sandbox box;
    MultiExtractWindow w(nullptr, {}, QString());
    std::vector<QString> notes;
    w.notify = [&](const QString& t, const QString& x) { notes.push_back(t + "|" + x); };
    w.DestinationField()->setText(Qs(box.Path("a/b/c")));
    w.ModeList()->setCurrentIndex(1);
    w.OverwriteBox()->setChecked(true);
    w.show();
    QTest::mouseClick(w.OkButton(), Qt::LeftButton);
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_TRUE(platform::DirectoryExists(box.Path("a/b/c")));
    EXPECT_TRUE(notes.empty());
    const app::MultiExtractRequest r = w.Request();
    EXPECT_EQ(r.destination, box.Path("a/b/c/"));
    EXPECT_EQ(r.mode, 1);
    EXPECT_TRUE(r.overwrite && r.useFolderNames && !r.skipOlder);

    WriteFile(box.Path("file"), std::string("x"));
    MultiExtractWindow w2(nullptr, {}, Qs(box.Path("file/sub")));
    w2.notify = w.notify;
    w2.show();
    QTest::mouseClick(w2.OkButton(), Qt::LeftButton);
    EXPECT_EQ(w2.result(), QDialog::Accepted);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(notes[0].startsWith(QStringLiteral("Error|The directory you specified does not exist and")));
}

TEST(MultiExtractWindowUi, TheMenuCommandRunsTheBatchWhenOkIsClicked) {
    Sandbox box;
    box.Settings("");
    Archives arc(box);
    MainWindow w(box.Folders());
    w.show();
    ASSERT_TRUE(w.Action(Cmd::MultiExtract)->isEnabled());
    EXPECT_EQ(w.Action(Cmd::MultiExtract)->shortcut(), QKeySequence(QStringLiteral("Ctrl+M")));
    QString titleDuringRun;
    w.multiExtractHook = [&](QDialog* d) {
        auto* m = qobject_cast<MultiExtractWindow*>(d);
        ASSERT_NE(m, nullptr);
        EXPECT_TRUE(m->Paths().empty());
        m->AddFiles({Qs(arc.a), Qs(arc.b), Qs(arc.c)});
        m->DestinationField()->setText(Qs(box.Path("out")));
        m->ModeList()->setCurrentIndex(1);
        QTimer::singleShot(0, m, [m] { QTest::mouseClick(m->OkButton(), Qt::LeftButton); });
    };
    w.Progress()->SetShowDelay(0);
    QObject::connect(w.Progress(), &QWidget::windowTitleChanged, [&](const QString& t) {
        if (t != QStringLiteral("Status...")) titleDuringRun = t;
    });
    // One progress window for the batch: it does not close and open again between the archives.
    struct CountHides : QObject {
        int hides = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Hide) ++hides;
            return false;
        }
    } counter;
    w.Progress()->installEventFilter(&counter);
    Boxes boxes;
    w.Action(Cmd::MultiExtract)->trigger();
    EXPECT_EQ(counter.hides, 1);
    EXPECT_FALSE(w.Progress()->isVisible());
    EXPECT_EQ(ReadText(box.Path("out/alpha/docs/a2.txt")), "alpha docs");
    EXPECT_EQ(ReadText(box.Path("out/beta/b.txt")), "from beta");
    EXPECT_EQ(ReadText(box.Path("out/gamma/c.txt")), "from gamma");
    EXPECT_EQ(titleDuringRun, QStringLiteral("Status... (File 3 of 3)"));
    EXPECT_EQ(w.Progress()->windowTitle(), QStringLiteral("Status..."));
    EXPECT_FALSE(w.Model().IsOpen());
    EXPECT_TRUE(boxes.seen.empty());
}

TEST(MultiExtractWindowUi, CancelExtractsNothing) {
    Sandbox box;
    box.Settings("");
    Archives arc(box);
    MainWindow w(box.Folders());
    w.multiExtractHook = [&](QDialog* d) {
        auto* m = qobject_cast<MultiExtractWindow*>(d);
        m->ModeList()->setCurrentIndex(2);
        QTimer::singleShot(0, m, [m] { QTest::mouseClick(m->CancelButton(), Qt::LeftButton); });
    };
    EXPECT_TRUE(w.ShowMultiExtract({Qs(arc.a)}));
    EXPECT_FALSE(platform::PathExists(box.Path("one/a.txt")));
}

TEST(OpenDialogUi, SeveralChosenFilesGoToTheWindowWithoutTheEncryptedOne) {
    Sandbox box;
    box.Settings("");
    Archives arc(box);
    WriteFile(box.Path("one/secret.vca"), std::string("encrypted"));
    WriteFile(box.Path("one/second.zip"), varnok::test::BuildZip({{"s.txt", "s"}}));
    MainWindow w(box.Folders());
    w.show();
    QString title;
    bool severalAllowed = false;
    QStringList filters;
    w.openDialogHook = [&](QDialog* d) {
        auto* fd = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(fd, nullptr);
        title = fd->windowTitle();
        severalAllowed = fd->fileMode() == QFileDialog::ExistingFiles;
        filters = fd->nameFilters();
        fd->setOption(QFileDialog::DontUseNativeDialog);
        fd->setDirectory(Qs(box.Path("one")));
        QTimer::singleShot(0, fd, [fd] {
            auto* edit = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(edit, nullptr);
            edit->setText(QStringLiteral("\"alpha.zip\" \"secret.vca\" \"second.zip\""));
            static_cast<QDialog*>(fd)->accept();  // the dialog's own accept reads the name field
        });
    };
    std::vector<std::string> prefilled;
    w.multiExtractHook = [&](QDialog* d) {
        auto* m = qobject_cast<MultiExtractWindow*>(d);
        prefilled = m->Paths();
        QTimer::singleShot(0, m, [m] { m->reject(); });
    };
    w.Action(Cmd::OpenArchive)->trigger();
    EXPECT_EQ(title, QStringLiteral("Open Archive"));
    EXPECT_TRUE(severalAllowed);
    ASSERT_FALSE(filters.isEmpty());
    EXPECT_TRUE(filters.front().startsWith(QStringLiteral("All archives (*.zip")));
    EXPECT_EQ(filters.back(), QStringLiteral("All files (*)"));
    EXPECT_EQ(prefilled, (std::vector<std::string>{arc.a, box.Path("one/second.zip")}));
    EXPECT_FALSE(w.Model().IsOpen());

    // One file is opened as the archive.
    w.openDialogHook = nullptr;
    w.OpenChosenFiles({Qs(arc.b)});
    EXPECT_TRUE(w.Model().IsOpen());
    EXPECT_EQ(w.Model().ArchivePath(), arc.b);
}

// ---- The switches through the main window -----------------------------------------------------------------------

TEST(SwitchesUi, ExtractHereOnThreeArchivesRunsTheBatchHiddenAndEndsWithSuccess) {
    Sandbox box;
    box.Settings("");
    Archives arc(box);
    MainWindow w(box.Folders());
    w.show();
    std::vector<int> quit;
    w.quitHook = [&](int s) { quit.push_back(s); };
    w.HandleArguments({QStringLiteral("/vnseh"), Qs(arc.a), Qs(arc.b), Qs(arc.c)});
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(quit, std::vector<int>{0});
    EXPECT_EQ(ReadText(box.Path("one/docs/a2.txt")), "alpha docs");
    EXPECT_EQ(ReadText(box.Path("two/b.txt")), "from beta");
    EXPECT_EQ(ReadText(box.Path("two/c.txt")), "from gamma");
}

TEST(SwitchesUi, ExtractToFolderWithABrokenArchiveExtractsTheOthersAndEndsWithFailure) {
    Sandbox box;
    box.Settings("");
    Archives arc(box);
    const std::string broken = box.Path("two/broken.zip");
    WriteFile(broken, std::string("not an archive"));
    MainWindow w(box.Folders());
    std::vector<int> quit;
    w.quitHook = [&](int s) { quit.push_back(s); };
    Boxes boxes;
    w.HandleArguments({QStringLiteral("/vnsef"), Qs(arc.a), Qs(broken), Qs(arc.c)});
    EXPECT_EQ(quit, std::vector<int>{1});
    EXPECT_EQ(ReadText(box.Path("one/alpha/a.txt")), "from alpha");
    EXPECT_EQ(ReadText(box.Path("two/gamma/c.txt")), "from gamma");
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_TRUE(boxes.seen[0].second.contains(QStringLiteral("broken.zip")));
}

TEST(SwitchesUi, AddSwitchMakesAZipThatListsTheFiles) {
    Sandbox box;
    box.Settings("");
    WriteFile(box.Path("in/one.txt"), std::string("one"));
    WriteFile(box.Path("in/two.txt"), std::string("two"));
    MainWindow w(box.Folders());
    std::vector<int> quit;
    w.quitHook = [&](int s) { quit.push_back(s); };
    w.HandleArguments({QStringLiteral("-a"), Qs(box.Path("made.tar")), Qs(box.Path("in/one.txt")),
                       Qs(box.Path("in/two.txt"))});
    EXPECT_EQ(quit, std::vector<int>{0});
    ASSERT_TRUE(platform::FileExists(box.Path("made.zip")));
    w.OpenArchive(Qs(box.Path("made.zip")));
    EXPECT_EQ(w.Model().RowCount(), 2);
    EXPECT_EQ(w.Model().Engine(), app::EngineKind::ZipBridge);
}

TEST(SwitchesUi, AnExistingFileIsOpenedAndTheWindowStaysWithoutEnding) {
    Sandbox box;
    box.Settings("");
    Archives arc(box);
    MainWindow w(box.Folders());
    w.show();
    bool ended = false;
    w.quitHook = [&](int) { ended = true; };
    w.HandleArguments({Qs(arc.c)});
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(ended);
    EXPECT_EQ(w.Model().RowCount(), 1);
}

// ---- The real program --------------------------------------------------------------------------------------------

class RealProgram : public ::testing::Test {
  protected:
    std::string Env() const {
        const std::string d = box.dir.Path().string();
        return "env QT_QPA_PLATFORM=offscreen HOME=" + varnok::test::Quote(d + "/home") +
               " XDG_CONFIG_HOME=" + varnok::test::Quote(d + "/config") +
               " XDG_DATA_HOME=" + varnok::test::Quote(d + "/data") +
               " XDG_CACHE_HOME=" + varnok::test::Quote(d + "/cache") +
               " XDG_RUNTIME_DIR=" + varnok::test::Quote(d + "/run") + " ";
    }
    int Varnok(const std::string& args) {
        const auto program = varnok::test::BinDir() / "varnok";
        if (!platform::FileExists(program.string())) return -1000;
        return varnok::test::Run("cd " + varnok::test::Quote(box.dir.Path()) + " && timeout 120 " + Env() +
                                 varnok::test::Quote(program) + " " + args + " </dev/null >/dev/null 2>&1");
    }
    Sandbox box;
};

TEST_F(RealProgram, ExtractSwitchExtractsAndTheProgramEnds) {
    Archives arc(box);
    EXPECT_EQ(Varnok("-e -r one/alpha.zip out/x"), 0);
    EXPECT_EQ(ReadText(box.Path("out/x/docs/a2.txt")), "alpha docs");
    EXPECT_EQ(Varnok("-e two/missing.zip"), 1);
}

TEST_F(RealProgram, ExtractHereSwitchExtractsBesideTheArchiveAndTheProgramEnds) {
    Archives arc(box);
    EXPECT_EQ(Varnok("/vnseh two/gamma.tar"), 0);
    EXPECT_EQ(ReadText(box.Path("two/c.txt")), "from gamma");
    WriteFile(box.Path("run/varnok/shextdat.par"), arc.a + "\n" + arc.b + "\n");
    EXPECT_EQ(Varnok("/vnseh shextdat.par"), 0);
    EXPECT_EQ(ReadText(box.Path("one/a.txt")), "from alpha");
    EXPECT_EQ(ReadText(box.Path("two/b.txt")), "from beta");
}

}  // namespace
}  // namespace varnok::ui
