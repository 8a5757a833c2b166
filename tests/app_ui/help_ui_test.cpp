// Help topics in the window, offscreen: F1 and the Help menu start the browser on the help the build lays out
// beside the program (build/share/varnok/help), and missing pages are said in an error box instead of nothing
// happening. The browser is never really started: the window's help opener records what it would run.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <filesystem>

#include "app/ui/main_window.h"
#include "tests/app_ui/ui_test_support.h"

namespace varnok::ui {
namespace {

namespace fs = std::filesystem;
using app::Cmd;
using test::ClickButton;
using test::ModalDriver;
using test::Sandbox;

struct Recorder {
    std::vector<std::vector<std::string>> started;
    void Wire(app::HelpOpener& h) {
        h.onPath = [](const std::string& p) { return p == "xdg-open"; };
        h.spawn = [this](const std::vector<std::string>& argv, const std::string&) {
            started.push_back(argv);
            return true;
        };
    }
};

TEST(HelpUi, F1OpensTheIndexTheBuildLaysOutBesideTheProgram) {
    Sandbox box;
    box.Settings("");
    MainWindow w(box.Folders());
    w.show();
    QAction* a = w.Action(Cmd::HelpTopics);
    ASSERT_TRUE(a->isEnabled());
    EXPECT_EQ(a->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(w.TopMenu(4)->actions().contains(a));
    Recorder r;
    r.Wire(w.Help());
    // The tests run from build/tests: the program's folder one below the build, as build/bin is.
    const std::string index = app::FindHelpIndex(w.Help().programDir);
    ASSERT_FALSE(index.empty()) << "no help pages beside " << w.Help().programDir;
    EXPECT_NE(index.find("/share/varnok/help/index.html"), std::string::npos);
    a->trigger();
    ASSERT_EQ(r.started.size(), 1u);
    EXPECT_EQ(r.started[0], (std::vector<std::string>{"xdg-open", index}));
    // The key itself, as a user presses it.
    QApplication::setActiveWindow(&w);
    QTest::keyClick(&w, Qt::Key_F1);
    EXPECT_EQ(r.started.size(), 2u);
}

TEST(HelpUi, MissingPagesShowAnErrorNamingWhereTheyWereLookedFor) {
    Sandbox box;
    box.Settings("");
    MainWindow w(box.Folders());
    w.show();
    Recorder r;
    r.Wire(w.Help());
    fs::create_directories(box.Path("prefix/bin"));
    w.Help().programDir = box.Path("prefix/bin");
    QString text, title;
    {
        ModalDriver d([&](QWidget* m) {
            auto* mb = qobject_cast<QMessageBox*>(m);
            if (!mb) return false;
            text = mb->text();
            title = mb->windowTitle();
            return ClickButton(mb, QStringLiteral("OK"));
        });
        w.Action(Cmd::HelpTopics)->trigger();
    }
    EXPECT_TRUE(r.started.empty());
    EXPECT_EQ(title, QStringLiteral("Error"));
    EXPECT_TRUE(text.contains(QString::fromStdString(box.Path("prefix/share/varnok/help")))) << text.toStdString();
}

}  // namespace
}  // namespace varnok::ui
