// The mail window and the update dialogue on the offscreen platform, against local servers: what is
// enabled when, a send that arrives, failures that keep the window open, a Cancel that works while the
// window stays responsive, and an update that is saved and left alone.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "app/ini_file.h"
#include "app/mail/mail_settings_dialog.h"
#include "app/mail/mail_window.h"
#include "app/update/update_window.h"
#include "app/ui/main_window.h"
#include "app/ui/preferences_dialog.h"
#include "tests/app_ui/ui_test_support.h"
#include "tests/mail/local_server.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::LocalServer;
using test::TempDir;

struct Box {
    QString title, text;
};

app::Settings MailSettings(int port) {
    app::Settings s;
    s.MailHost = "127.0.0.1";
    s.MailPort = port;
    s.MailSecurity = "none";
    s.MailUserID = "client.example.org";
    s.MailAddress = "me@example.org";
    return s;
}

TEST(MailWindowUi, SendIsEnabledByTheToFieldAndAdvancedShowsCcAndBcc) {
    TempDir dir;
    test::WriteFile(dir / "a.zip", std::string("PK"));
    app::Settings s = MailSettings(25);
    mail::MailWindow w(s, (dir / "a.zip").string(), QString());
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Mail archive a.zip"));
    ASSERT_EQ(w.Files()->count(), 1);
    EXPECT_EQ(w.Files()->item(0)->text().toStdString(), (dir / "a.zip").string());
    EXPECT_FALSE(w.SendButton()->isEnabled());
    QTest::keyClicks(w.ToEdit(), "   ");
    EXPECT_FALSE(w.SendButton()->isEnabled());
    QTest::keyClicks(w.ToEdit(), "you@example.org");
    EXPECT_TRUE(w.SendButton()->isEnabled());
    EXPECT_FALSE(w.CcEdit()->isVisible());
    QTest::mouseClick(w.AdvancedButton(), Qt::LeftButton);
    EXPECT_TRUE(w.CcEdit()->isVisible());
    EXPECT_TRUE(w.BccEdit()->isVisible());
    EXPECT_EQ(w.AdvancedButton()->text(), QStringLiteral("<< Advanced"));
    EXPECT_FALSE(w.AddAttachment(QString::fromStdString((dir / "missing.zip").string())));
    EXPECT_EQ(w.Files()->count(), 1);

    EXPECT_FALSE(mail::MailSettingsComplete(app::Settings{}));
    EXPECT_TRUE(mail::MailSettingsComplete(s));
}

TEST(MailWindowUi, ASendArrivesAndClosesTheWindowWithTheSuccessText) {
    TempDir dir;
    fs::create_directories(dir / "out");
    LocalServer server("smtp_server.py", {"--out", (dir / "out").string()});
    std::vector<uint8_t> data(70'000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    test::WriteFile(dir / "a.zip", data);
    app::Settings s = MailSettings(server.Port());
    mail::MailWindow w(s, (dir / "a.zip").string(), QString());
    std::vector<Box> boxes;
    w.Notify = [&](const QString& t, const QString& x) { boxes.push_back({t, x}); };
    std::vector<std::string> log;
    w.OnLog = [&](const std::string& l) { log.push_back(l); };
    w.show();
    QTest::keyClicks(w.ToEdit(), "Friend <you@example.org>");
    w.BodyEdit()->setPlainText("Here it is.\n.\n");
    QTest::mouseClick(w.SendButton(), Qt::LeftButton);
    EXPECT_TRUE(w.Sending());
    EXPECT_FALSE(w.ToEdit()->isEnabled()) << "the fields wait while the mail goes out";
    ASSERT_TRUE(ui::test::WaitFor([&] { return !w.Sending(); }, 20000));
    EXPECT_TRUE(w.Sent());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, QStringLiteral("Information"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("The email was sent successfully !"));
    EXPECT_EQ(w.StatusText(), QStringLiteral("Success !"));
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_FALSE(log.empty());

    auto r = test::ParseMime(dir / "out" / "msg1.eml", dir.Path());
    EXPECT_EQ(r["subject"], test::Json("a.zip"));
    EXPECT_EQ(r["date_parsed"], "true");
    EXPECT_EQ(r["part0.text"], test::Json("Here it is.\n."));
    EXPECT_EQ(test::ReadFile(dir / "part1"), data);
}

TEST(MailWindowUi, AFailureIsShownAndTheWindowStaysOpenForAnotherTry) {
    TempDir dir;
    fs::create_directories(dir / "out");
    LocalServer server("smtp_server.py", {"--out", (dir / "out").string(), "--refuse", "no@example.org"});
    app::Settings s = MailSettings(server.Port());
    mail::MailWindow w(s, "", QString());
    std::vector<Box> boxes;
    w.Notify = [&](const QString& t, const QString& x) { boxes.push_back({t, x}); };
    w.show();
    QTest::keyClicks(w.ToEdit(), "no@example.org");
    QTest::mouseClick(w.SendButton(), Qt::LeftButton);
    ASSERT_TRUE(ui::test::WaitFor([&] { return !w.Sending(); }, 20000));
    EXPECT_FALSE(w.Sent());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, QStringLiteral("Error"));
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("550"))) << boxes[0].text.toStdString();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.ToEdit()->isEnabled());
    EXPECT_TRUE(w.SendButton()->isEnabled());
    EXPECT_FALSE(fs::exists(dir / "out" / "msg1.eml"));
}

TEST(MailWindowUi, CancelStopsASendToASilentServerWithoutFreezingTheWindow) {
    TempDir dir;
    LocalServer server("smtp_server.py", {"--out", dir.Path().string(), "--stall-greeting"});
    app::Settings s = MailSettings(server.Port());
    mail::MailWindow w(s, "", QString());
    std::vector<Box> boxes;
    w.Notify = [&](const QString& t, const QString& x) { boxes.push_back({t, x}); };
    w.show();
    QTest::keyClicks(w.ToEdit(), "you@example.org");
    QTest::mouseClick(w.SendButton(), Qt::LeftButton);
    EXPECT_TRUE(w.StatusText().startsWith(QStringLiteral("Connecting to 127.0.0.1")));
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    ui::test::WaitFor([&] { return ticks >= 5; }, 5000);
    EXPECT_TRUE(w.Sending());
    QTest::mouseClick(w.CancelButton(), Qt::LeftButton);
    ASSERT_TRUE(ui::test::WaitFor([&] { return !w.Sending(); }, 20000));
    EXPECT_GE(ticks, 5) << "the window's loop ran while the client waited";
    EXPECT_FALSE(w.Sent());
    EXPECT_TRUE(boxes.empty()) << "a cancel is not an error box";
    EXPECT_EQ(w.result(), QDialog::Rejected);
    EXPECT_FALSE(w.isVisible());
}

TEST(MailWindowUi, MainWindowSendsToTheSettingsFirstAndReportsAMissingMailProgram) {
    ui::test::Sandbox box;
    box.Settings("[Mail]\nInternalMail=1\n");
    ui::MainWindow w(box.Folders());
    w.show();
    EXPECT_EQ(w.Action(app::Cmd::SendMail)->text(), QStringLiteral("Mail Archive..."));
    std::vector<QString> seen;
    {
        ui::test::ModalDriver driver([&](QWidget* m) {
            if (auto* mb = qobject_cast<QMessageBox*>(m)) {
                seen.push_back(mb->text());
                mb->accept();
                return true;
            }
            if (auto* d = qobject_cast<ui::PreferencesDialog*>(m)) {
                if (d->CurrentPage() == app::PreferencesPage::Mail) seen.push_back(QStringLiteral("settings"));
                d->reject();
                return true;
            }
            return false;
        });
        w.MailArchive();
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].startsWith(QStringLiteral("Before sending the archive as email")));
    EXPECT_EQ(seen[1], QStringLiteral("settings"));

    // The system mail route without xdg-email on the path.
    TempDir dir;
    test::WriteFile(dir / "a.zip", std::vector<uint8_t>{'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    w.OpenArchive(QString::fromStdString((dir / "a.zip").string()));
    ASSERT_TRUE(w.Model().IsOpen());
    w.App().Config().InternalMail = false;
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", dir.Path().c_str(), 1);
    seen.clear();
    {
        ui::test::ModalDriver driver([&](QWidget* m) {
            auto* mb = qobject_cast<QMessageBox*>(m);
            if (!mb) return false;
            seen.push_back(mb->text());
            mb->accept();
            return true;
        });
        w.MailArchive();
    }
    setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].contains(QStringLiteral("xdg-email is not installed")));
    w.close();
}

TEST(MailWindowUi, AFreshStartBeginsTheUpdateScheduleWithoutChecking) {
    ui::test::Sandbox box;
    box.Settings("[AutoUpd]\nAutoUpd=1\n");
    {
        ui::MainWindow w(box.Folders());
        w.show();
        ui::test::WaitFor([&] { return w.App().Config().LastCheck > 0; }, 3000);
        EXPECT_GT(w.App().Config().LastCheck, 0);
        w.close();
    }
    app::IniFile ini(box.Ini());
    EXPECT_GT(ini.ReadFloat("AutoUpd", "LastCheck", 0), 40000);
}

// An HTTPS page server and a dialogue whose boxes are recorded.
struct UpdateRig {
    TempDir dir;
    test::Certificate cert = test::MakeCertificate(dir.Path());
    LocalServer server{"http_server.py", {"--cert", cert.cert, "--key", cert.key}};
    update::TWebFileInfo wfi;
    std::vector<Box> boxes;
    std::unique_ptr<update::UpdateDialogue> dialogue;

    explicit UpdateRig(const std::string& page) {
        app::Settings s;
        s.HomeURL = "https://127.0.0.1:" + std::to_string(server.Port()) + page;
        s.UpdCaFile = cert.cert;
        update::ConfigureChecker(wfi, s);
        wfi.CurrentVersion = "1.2.3.4";
        wfi.Http.totalTimeoutMs = 1500;
        wfi.Http.stallSeconds = 1;
        dialogue = std::make_unique<update::UpdateDialogue>(nullptr, wfi);
        dialogue->Notify = [this](const QString& t, const QString& x) { boxes.push_back({t, x}); };
        dialogue->Ask = [](const QString&, const QString&) { return true; };
        dialogue->ShowText = [this](const QString& x) { boxes.push_back({QStringLiteral("Read Me"), x}); };
        dialogue->DownloadFolder = QString::fromStdString(dir.Path().string());
        dialogue->ChooseTarget = [](const QString& suggested) { return suggested; };
    }
};

TEST(UpdateUi, ANewerVersionIsSavedWhereTheUserChoseAndLeftAlone) {
    UpdateRig rig("/newer");
    EXPECT_TRUE(rig.dialogue->CheckForUpdate());
    fs::path saved = rig.dir / "update.zip";
    EXPECT_EQ(rig.dialogue->SavedPath().toStdString(), saved.string());
    EXPECT_EQ(fs::file_size(saved), 200003u);
    ASSERT_FALSE(rig.boxes.empty());
    EXPECT_EQ(rig.boxes.back().title, QStringLiteral("Information"));
    EXPECT_TRUE(rig.boxes.back().text.contains(QStringLiteral("has not been opened or run")));
}

TEST(UpdateUi, SameVersionSaysSoAndABrokenPageIsAConnectionError) {
    {
        UpdateRig rig("/same");
        rig.wfi.CurrentVersion = "1.2.3.4";
        EXPECT_FALSE(rig.dialogue->CheckForUpdate());
        ASSERT_EQ(rig.boxes.size(), 1u);
        EXPECT_EQ(rig.boxes[0].title, QStringLiteral("No Update Found"));
        EXPECT_EQ(rig.boxes[0].text, QStringLiteral("There is no update available."));
    }
    for (const char* page : {"/malformed", "/huge", "/slow"}) {
        UpdateRig rig(page);
        int ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(10);
        EXPECT_FALSE(rig.dialogue->CheckForUpdate()) << page;
        ASSERT_EQ(rig.boxes.size(), 1u) << page;
        EXPECT_EQ(rig.boxes[0].title, QStringLiteral("Connection Error")) << page;
        EXPECT_TRUE(rig.boxes[0].text.startsWith(QStringLiteral("Could not retrieve version information")));
        if (std::string(page) == "/slow") {
            EXPECT_GT(ticks, 0) << "the window's loop ran during the wait";
        }
    }
}

TEST(UpdateUi, CancelInTheWaitWindowEndsTheCheckQuietly) {
    UpdateRig rig("/slow");
    rig.wfi.Http.totalTimeoutMs = 30000;
    rig.wfi.Http.stallSeconds = 30;
    ui::test::ModalDriver driver([](QWidget* m) {
        if (m->windowTitle() != QStringLiteral("Please Wait")) return false;
        return ui::test::ClickButton(m, QStringLiteral("Cancel"));
    });
    EXPECT_FALSE(rig.dialogue->CheckForUpdate());
    EXPECT_TRUE(rig.boxes.empty());
    EXPECT_EQ(driver.Handled(), 1);
}

}  // namespace
}  // namespace varnok
