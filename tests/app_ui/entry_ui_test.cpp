// The entry commands' dialogs end to end on real archives, offscreen: rename, comment and the self-extractor
// both ways, each also cancelled at its dialog and during its run (the archive stays byte for byte as it was,
// and no file is left behind), find with its units, and dragging entries out through the mime data.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <optional>

#include "app/ui/comment_dialog.h"
#include "app/ui/copy_move_dialog.h"
#include "app/ui/find_dialog.h"
#include "app/ui/main_window.h"
#include "app/ui/progress_window.h"
#include "app/ui/rename_dialog.h"
#include "app/ui/sfx_dialog.h"
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

// The trash of the sandbox, not the user's.
class TrashHere {
  public:
    explicit TrashHere(const std::string& dataHome) {
        if (const char* v = getenv("XDG_DATA_HOME")) old_ = v;
        setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    }
    ~TrashHere() {
        if (old_)
            setenv("XDG_DATA_HOME", old_->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }

  private:
    std::optional<std::string> old_;
};

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int RowOf(MainWindow& w, const std::string& stored) {
    for (int i = 0; i < w.Model().RowCount(); ++i)
        if (w.Model().Row(i).StoredName() == stored) return i;
    return -1;
}

void SelectOnly(MainWindow& w, const std::string& stored) {
    const int r = RowOf(w, stored);
    ASSERT_GE(r, 0);
    w.Model().UnselectAll();
    w.Model().SetSelected(r, true);
    w.Model().SetFocusedRow(r);
}

struct Fixture {
    Sandbox box;
    std::string folder, zip;
    Fixture(const std::vector<varnok::test::ZipItem>& items) {
        box.Settings("");
        folder = box.Path("arc");
        fs::create_directories(folder);
        zip = folder + "/a.zip";
        WriteFile(zip, varnok::test::BuildZip(items));
    }
};

TEST(EntryUi, RenameThroughTheDialogAndCancelAtTheDialog) {
    Fixture f({{"a.txt", "A"}, {"data.txt", "D"}});
    const auto before = ReadFile(f.zip);
    MainWindow w(f.box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(f.zip));
    SelectOnly(w, "a.txt");
    w.CommandsChanged();
    ASSERT_TRUE(w.Action(Cmd::RenameEntry)->isEnabled());
    {
        ModalDriver d([](QWidget* m) {
            auto* r = qobject_cast<RenameEntryDialog*>(m);
            if (!r) return false;
            EXPECT_EQ(r->NameField()->text(), QStringLiteral("a.txt"));
            r->NameField()->setText(QStringLiteral("changed.txt"));
            return ClickButton(r, QStringLiteral("Cancel"));
        });
        w.Action(Cmd::RenameEntry)->trigger();
        EXPECT_EQ(d.Handled(), 1);
    }
    EXPECT_EQ(ReadFile(f.zip), before);
    {
        ModalDriver d([](QWidget* m) {
            auto* r = qobject_cast<RenameEntryDialog*>(m);
            if (!r) return false;
            r->NameField()->setText(QStringLiteral("b.txt"));
            r->PathField()->setText(QStringLiteral("docs"));
            return ClickButton(r, QStringLiteral("OK"));
        });
        w.Action(Cmd::RenameEntry)->trigger();
        EXPECT_EQ(d.Handled(), 1);
    }
    EXPECT_GE(RowOf(w, "docs/b.txt"), 0);
    EXPECT_GE(RowOf(w, "data.txt"), 0);
    EXPECT_EQ(Listing(f.folder), (std::vector<std::string>{"a.zip"}));
}

// Copy leaves the open archive where it is; Move takes it along (the window follows it). The function can be
// switched in the dialog, and its caption and button follow.
TEST(EntryUi, CopyAndMoveArchiveThroughTheDialog) {
    Fixture f({{"a.txt", "A"}, {"b.txt", "B"}});
    const auto before = ReadFile(f.zip);
    const std::string other = f.box.Path("other");
    fs::create_directories(other);
    MainWindow w(f.box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(f.zip));
    {
        ModalDriver d([&](QWidget* m) {
            auto* c = qobject_cast<CopyMoveDialog*>(m);
            if (!c) return false;
            EXPECT_TRUE(c->MoveChoice()->isChecked()) << "the menu item chose the function";
            EXPECT_EQ(c->Caption()->text(), QStringLiteral("Move Archive a.zip to:"));
            EXPECT_EQ(c->OkButton()->text(), QStringLiteral("Move"));
            c->CopyChoice()->setChecked(true);
            EXPECT_EQ(c->Caption()->text(), QStringLiteral("Copy Archive a.zip to:"));
            EXPECT_EQ(c->TargetField()->text(), QString::fromStdString(f.folder)) << "starts at the archive";
            c->SelectFolder(QString::fromStdString(other));
            // The OK button, not the radio button of the same caption.
            QMetaObject::invokeMethod(c->OkButton(), "click", Qt::QueuedConnection);
            return true;
        });
        w.Action(Cmd::MoveArchive)->trigger();
        EXPECT_EQ(d.Handled(), 1);
    }
    EXPECT_EQ(ReadFile(other + "/a.zip"), before);
    EXPECT_EQ(ReadFile(f.zip), before);
    EXPECT_EQ(w.Model().ArchivePath(), f.zip);
    fs::remove(other + "/a.zip");
    {
        ModalDriver d([&](QWidget* m) {
            auto* c = qobject_cast<CopyMoveDialog*>(m);
            if (!c) return false;
            EXPECT_TRUE(c->CopyChoice()->isChecked());
            c->MoveChoice()->setChecked(true);
            c->SelectFolder(QString::fromStdString(other));
            EXPECT_EQ(c->OkButton()->text(), QStringLiteral("Move"));
            QMetaObject::invokeMethod(c->OkButton(), "click", Qt::QueuedConnection);
            return true;
        });
        w.Action(Cmd::CopyArchive)->trigger();
        EXPECT_EQ(d.Handled(), 1);
    }
    EXPECT_FALSE(fs::exists(f.zip));
    EXPECT_EQ(ReadFile(other + "/a.zip"), before);
    EXPECT_EQ(w.Model().ArchivePath(), other + "/a.zip");
    EXPECT_TRUE(w.Model().IsOpen());
}

TEST(EntryUi, CommentSetThroughTheDialogCancelledAtTheDialogAndDuringTheRun) {
    std::vector<varnok::test::ZipItem> items;
    for (int i = 0; i < 300; ++i)
        items.push_back({"f" + std::to_string(i), std::string(4000, 'x')});
    Fixture f(items);
    const auto before = ReadFile(f.zip);
    MainWindow w(f.box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(f.zip));
    auto setText = [](const QString& text, const QString& button) {
        return [text, button](QWidget* m) {
            auto* c = qobject_cast<CommentDialog*>(m);
            if (!c) return false;
            c->Editor()->setPlainText(text);
            return ClickButton(c, button);
        };
    };
    {
        ModalDriver d(setText(QStringLiteral("never"), QStringLiteral("Cancel")));
        w.Action(Cmd::Comment)->trigger();
    }
    EXPECT_EQ(ReadFile(f.zip), before);
    // Cancel in the progress window while the archive is rewritten.
    w.Progress()->SetShowDelay(0);
    w.SetEventInterval(0);
    QTimer cancel;
    cancel.setInterval(1);
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (w.Progress()->Active() && w.Progress()->CancelButton()->isVisible()) w.Progress()->CancelButton()->click();
    });
    cancel.start();
    {
        ModalDriver d(setText(QStringLiteral("never either"), QStringLiteral("Set comment")));
        w.Action(Cmd::Comment)->trigger();
    }
    cancel.stop();
    EXPECT_TRUE(w.EntryCmds().LastCancelled());
    EXPECT_EQ(ReadFile(f.zip), before);
    EXPECT_EQ(Listing(f.folder), (std::vector<std::string>{"a.zip"}));
    {
        ModalDriver d(setText(QStringLiteral("Hello\nworld"), QStringLiteral("Set comment")));
        w.Action(Cmd::Comment)->trigger();
    }
    EXPECT_EQ(w.Model().Bridge().ZipComment(), "Hello\nworld");
    EXPECT_EQ(w.Model().RowCount(), 300);
    EXPECT_EQ(Listing(f.folder), (std::vector<std::string>{"a.zip"}));
}

TEST(EntryUi, SelfExtractorMadeAndTakenBackThroughTheMenus) {
    Fixture f({{"big.bin", std::string(3 << 20, 'q')}, {"docs/r.txt", "read me"}});
    TrashHere trash(f.box.Path("data"));
    const auto before = ReadFile(f.zip);
    MainWindow w(f.box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(f.zip));
    if (w.Model().Bridge().FindSfxStub().empty()) GTEST_SKIP() << "varnok-sfx is not built";
    ASSERT_TRUE(w.Action(Cmd::MakeExe)->isEnabled());
    ASSERT_FALSE(w.Action(Cmd::ExeToZip)->isEnabled());
    // Cancelled at the dialog, then during the run: nothing made.
    {
        ModalDriver d([](QWidget* m) {
            auto* s = qobject_cast<SfxDialog*>(m);
            return s && ClickButton(s, QStringLiteral("Cancel"));
        });
        w.Action(Cmd::MakeExe)->trigger();
        EXPECT_EQ(d.Handled(), 1);
    }
    w.Progress()->SetShowDelay(0);
    w.SetEventInterval(0);
    QTimer cancel;
    cancel.setInterval(1);
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (w.Progress()->Active() && w.Progress()->CancelButton()->isVisible()) w.Progress()->CancelButton()->click();
    });
    auto ok = [](QWidget* m) {
        auto* s = qobject_cast<SfxDialog*>(m);
        if (!s) return false;
        s->TitleField()->setText(QStringLiteral("My SFX"));
        return ClickButton(s, QStringLiteral("OK"));
    };
    cancel.start();
    {
        ModalDriver d(ok);
        w.Action(Cmd::MakeExe)->trigger();
    }
    cancel.stop();
    EXPECT_TRUE(w.EntryCmds().LastCancelled());
    EXPECT_EQ(Listing(f.folder), (std::vector<std::string>{"a.zip"}));
    EXPECT_EQ(ReadFile(f.zip), before);
    // Made.
    {
        ModalDriver d(ok);
        w.Action(Cmd::MakeExe)->trigger();
    }
    EXPECT_EQ(Listing(f.folder), (std::vector<std::string>{"a.exe", "a.zip"}));
    EXPECT_EQ(ReadFile(f.zip), before);
    EXPECT_EQ(w.Model().ArchivePath(), f.zip);

    // Back, over the ZIP archive beside it (asked first).
    w.OpenArchive(QString::fromStdString(f.folder + "/a.exe"));
    ASSERT_TRUE(w.Action(Cmd::ExeToZip)->isEnabled());
    int asked = 0;
    {
        ModalDriver d([&](QWidget* m) {
            auto* box = qobject_cast<QMessageBox*>(m);
            if (!box) return false;
            ++asked;
            return ClickButton(box, QStringLiteral("Yes"));
        });
        w.Action(Cmd::ExeToZip)->trigger();
    }
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Listing(f.folder), (std::vector<std::string>{"a.zip"}));
    EXPECT_EQ(ReadFile(f.zip), before);
    EXPECT_EQ(w.Model().ArchivePath(), f.zip);
    EXPECT_EQ(w.Model().Bridge().SFXCaption, "My SFX");
}

TEST(EntryUi, DraggedEntriesAreExtractedWhenTheDropAsksForThem) {
    Fixture f({{"d/x.txt", "x"}, {"top.txt", "t"}});
    MainWindow w(f.box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(f.zip));
    w.Model().SelectAll();
    std::unique_ptr<QMimeData> data(w.MakeEntryDragData());
    ASSERT_TRUE(data);
    ASSERT_TRUE(data->hasUrls());
    auto* drag = qobject_cast<EntryDragData*>(data.get());
    ASSERT_TRUE(drag);
    EXPECT_FALSE(drag->Extracted()) << "nothing is extracted before the drop";
    const QList<QUrl> urls = data->urls();
    ASSERT_EQ(urls.size(), 2);
    EXPECT_TRUE(drag->Extracted());
    EXPECT_EQ(varnok::test::ReadText(urls[0].toLocalFile().toStdString() + "/x.txt"), "x");
    EXPECT_EQ(varnok::test::ReadText(urls[1].toLocalFile().toStdString()), "t");
    EXPECT_EQ(Listing(f.folder), (std::vector<std::string>{"a.zip"}));
}

TEST(EntryUi, FindBySizeKeepsTheSizeWhenTheUnitChanges) {
    Fixture f({{"small", std::string(1024, 's')}, {"large", std::string(1025, 'l')}});
    MainWindow w(f.box.Folders());
    w.show();
    w.OpenArchive(QString::fromStdString(f.zip));
    ModalDriver d([](QWidget* m) {
        auto* fd = qobject_cast<FindDialog*>(m);
        if (!fd) return false;
        fd->Pages()->setCurrentIndex(2);
        fd->Unit()->setCurrentIndex(0);  // MB
        fd->FirstSize()->setText(QStringLiteral("1"));
        fd->Unit()->setCurrentIndex(1);  // KB: 1 MB is 1024 KB
        EXPECT_EQ(fd->FirstSize()->text(), QStringLiteral("1024"));
        fd->FirstSize()->setText(QStringLiteral("1"));
        return ClickButton(fd, QStringLiteral("Search"));
    });
    w.Action(Cmd::FindFiles)->trigger();
    EXPECT_EQ(d.Handled(), 1);
    EXPECT_TRUE(w.Model().IsSelected(RowOf(w, "large")));
    EXPECT_FALSE(w.Model().IsSelected(RowOf(w, "small")));
}

}  // namespace
}  // namespace varnok::ui
