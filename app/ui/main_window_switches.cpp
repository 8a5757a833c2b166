// The main window's command line, shell switches and multi-archive extract: the arguments are read by the
// toolkit-neutral parser (app/command_line.h) and carried out here through the window's own commands; the
// Open command's file dialog, which leads to the multi-extract window when several files are chosen; and the
// batch with the progress window's title counting the archives.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>

#include "app/command_line.h"
#include "app/extract.h"
#include "app/mail/mail_window.h"
#include "app/mail/system_mail.h"
#include "app/multi_extract.h"
#include "app/paths.h"
#include "app/process.h"
#include "app/ui/main_window.h"
#include "app/ui/multi_extract_window.h"
#include "app/ui/progress_window.h"
#include "app/ui/sfx_dialog.h"
#include "app/ui/test_window.h"
#include "app/ui/ui_common.h"
#include "archive/core/arctype.h"
#include "archive/core/printable.h"
#include "platform/fileattr.h"

namespace varnok::ui {

using app::Cmd;

namespace {

QStringList QList(const std::vector<std::string>& v) {
    QStringList out;
    for (const auto& s : v)
        out << Q(s);
    return out;
}

// A summary of the archives a batch did not extract, for one box at its end.
std::string ProblemText(const app::MultiExtractResult& r) {
    std::string text = std::to_string(r.problems.size()) + " of " + std::to_string(r.archives) +
                       " archive(s) were not extracted completely:\n";
    const size_t shown = std::min<size_t>(r.problems.size(), 20);
    for (size_t i = 0; i < shown; ++i)
        text += "\n" + r.problems[i];
    if (r.problems.size() > shown) text += "\n... and " + std::to_string(r.problems.size() - shown) + " more";
    return text;
}

}  // namespace

// The switches' work in this window.
class SwitchGlue : public app::SwitchTarget {
  public:
    explicit SwitchGlue(MainWindow& w) : w_(w) {}

    bool OpenArchive(const std::string& path, bool buildRows) override {
        app::ArchiveModel& m = w_.Model();
        if (m.Busy()) return false;
        m.SetRowsEnabled(buildRows);
        w_.OpenArchive(Q(path));
        return m.IsOpen() && IsRecognised(m.ArcType()) && platform::FileExists(path);
    }

    bool ExtractAll(const std::string& destination, bool folderNames, bool skipOlder, bool overwrite) override {
        app::ExtractOperation& x = w_.Model().Extractor();
        const int n = x.Run({false, folderNames, destination, skipOlder, overwrite, std::nullopt});
        return n >= 0 && x.Errors().empty() && !x.LastRunCancelled();
    }

    bool ExtractWithDialog() override {
        w_.ExtractWithDialog(false);
        const app::ExtractOperation& x = w_.Model().Extractor();
        if (x.Last().cancelled) return true;
        return x.Errors().empty() && !x.LastRunCancelled();
    }

    bool ShowMultiExtract(const std::vector<std::string>& paths) override {
        return w_.ShowMultiExtract(QList(paths));
    }

    bool MultiExtract(const std::vector<std::string>& paths, const app::MultiExtractRequest& r) override {
        return w_.RunMultiExtract(paths, r);
    }

    bool AddToZip(const std::string& archive, const std::vector<std::string>& files,
                  const app::AddRequest& r) override {
        return CreateAndAdd(archive, app::ArchiveKind::Zip, files, r);
    }

    bool CreateAndAdd(const std::string& archive, app::ArchiveKind kind, const std::vector<std::string>& files,
                      const app::AddRequest& r) override {
        app::ArchiveModel& m = w_.Model();
        if (m.Busy()) return false;
        m.SetRowsEnabled(true);
        if (platform::FileExists(archive)) {
            // An archive that is there already gets the files added; nothing of it is lost.
            w_.OpenArchive(Q(archive));
            if (!m.IsOpen() || app::FamilyOf(m) == app::WriterFamily::None) {
                w_.Message("Error", app::AddOperation::kNotSupported);
                return false;
            }
        } else if (platform::PathExists(archive)) {
            w_.Message("Error", VisibleMarks(archive) + " is not a file.");
            return false;
        } else {
            w_.Adder().CreateArchive(archive, kind);
        }
        const int n = w_.Adder().Add(files, r);
        return n >= 0 && w_.Adder().Errors().empty();
    }

    bool ShowTestWindow(const std::vector<std::string>& files) override {
        TestWindow t(&w_, QString(), Q(w_.App().TempFolder()));
        t.AddArchives(QList(files));
        if (w_.toolWindowHook) w_.toolWindowHook(&t);
        t.exec();
        return true;
    }

    bool ShowAddWithOptions(const std::vector<std::string>& files) override {
        w_.AddWithOptions(QList(files));
        return w_.Adder().Errors().empty();
    }

    bool MailFiles(const std::vector<std::string>& files) override {
        app::Settings& s = w_.App().Config();
        if (s.InternalMail) {
            if (!mail::MailSettingsComplete(s)) {
                w_.Message("Error", mail::kMailSettingsMissing);
                return false;
            }
            mail::MailWindow mw(s, std::string(), OpenDialogFilterString(), &w_);
            mw.OnLog = [this](const std::string& line) { w_.Log(line); };
            bool all = true;
            for (const auto& f : files)
                if (!mw.AddAttachment(Q(f))) {
                    Report(VisibleMarks(f) + ": no such file; it is not attached");
                    all = false;
                }
            if (w_.toolWindowHook) w_.toolWindowHook(&mw);
            mw.exec();
            return all;
        }
        if (!app::ProgramOnPath(mail::kXdgEmail)) {
            w_.Message("Error", mail::XdgEmailMissingText());
            return false;
        }
        // One attachment per file; the compose window outlives this program.
        QStringList args;
        for (const auto& f : files)
            args << QStringLiteral("--attach") << Q(f);
        w_.Log("xdg-email " + S(args.join(QLatin1Char(' '))));
        return QProcess::startDetached(QString::fromLatin1(mail::kXdgEmail), args);
    }

    bool MakeExe() override {
        app::ArchiveModel& m = w_.Model();
        if (!m.IsOpen() || m.Engine() != app::EngineKind::ZipBridge) {
            w_.Message("Error", "Error - open ZIP file first");
            return false;
        }
        SfxDialog d(&w_, Q(app::WithoutSlash(w_.App().Config().TempFolder())));
        if (w_.toolWindowHook) w_.toolWindowHook(&d);
        if (d.exec() != QDialog::Accepted) return true;
        return w_.EntryCmds().MakeExe(d.Choices());
    }

    void Message(const std::string& title, const std::string& text) override { w_.Message(title, text); }

    void Report(const std::string& line) override {
        std::fprintf(stderr, "varnok: %s\n", line.c_str());
        w_.Log(line);
    }

    void Quit(int status) override {
        if (w_.quitHook)
            w_.quitHook(status);
        else
            QCoreApplication::exit(status);
    }

  private:
    MainWindow& w_;
};

bool MainWindow::IsBatchCommandLine(const QStringList& args) {
    return !args.isEmpty() && app::IsBatchSwitch(S(args.front()));
}

void MainWindow::HandleArguments(const QStringList& args) {
    std::vector<std::string> a;
    for (const QString& s : args)
        a.push_back(S(s));
    const app::CommandLineContext ctx{S(QDir::currentPath()), app::ShellListFolder()};
    const app::CommandLineRequest r = app::ParseCommandLine(a, ctx);
    // Batch work runs without the window.
    if (r.Batch()) hide();
    SwitchGlue glue(*this);
    app::RunCommandLine(r, glue, App().Config());
    Model().SetRowsEnabled(true);
}

void MainWindow::ConnectMultiExtract() {
    connect(Action(Cmd::MultiExtract), &QAction::triggered, this, [this] {
        if (Model().Enabled(Cmd::MultiExtract)) ShowMultiExtract();
    });
}

bool MainWindow::ShowMultiExtract(const QStringList& paths) {
    if (Model().Busy()) return false;
    MultiExtractWindow d(this, paths, Q(app::DefaultRootFolder()));
    if (multiExtractHook) multiExtractHook(&d);
    if (d.exec() != QDialog::Accepted) return true;
    const std::vector<std::string> list = d.Paths();
    if (list.empty()) return true;
    return RunMultiExtract(list, d.Request());
}

bool MainWindow::RunMultiExtract(const std::vector<std::string>& paths, const app::MultiExtractRequest& r) {
    if (Model().Busy()) return false;
    app::MultiExtract batch(Model());
    batch.OnArchive = [this](int current, int count) {
        progress_->setWindowTitle(Q(app::MultiExtract::ProgressTitle(current, count)));
    };
    // One progress window for the whole batch, not one per archive.
    struct Held {
        ProgressWindow* p;
        explicit Held(ProgressWindow* w) : p(w) { p->Hold(true); }
        ~Held() { p->Hold(false); }
    };
    app::MultiExtractResult result;
    {
        Held held(progress_);
        result = batch.Run(paths, r);
    }
    progress_->setWindowTitle(QStringLiteral("Status..."));
    SetStatusText(0, std::to_string(result.extracted) + " of " + std::to_string(result.archives) +
                         " archive(s) extracted");
    if (!result.problems.empty()) Message("Error", ProblemText(result));
    return result.Ok();
}

void MainWindow::OpenCommand() {
    app::Settings& s = App().Config();
    QFileDialog d(this, QStringLiteral("Open Archive"), s.OpenLast ? Q(s.Open) : QString(),
                  OpenDialogFilterString());
    d.setAcceptMode(QFileDialog::AcceptOpen);
    d.setFileMode(QFileDialog::ExistingFiles);
    if (openDialogHook) openDialogHook(&d);
    if (d.exec() != QDialog::Accepted) return;
    OpenChosenFiles(d.selectedFiles());
}

void MainWindow::OpenChosenFiles(const QStringList& files) {
    if (files.isEmpty()) return;
    if (files.size() == 1) {
        if (!QFileInfo(files.front()).isFile()) {
            Ask("Question", "This Archive doesn't exist. Do you want to create it now ?");
            return;
        }
        OpenArchive(files.front());
        return;
    }
    std::vector<std::string> paths;
    for (const QString& f : files)
        paths.push_back(S(QFileInfo(f).absoluteFilePath()));
    ShowMultiExtract(QList(app::WithoutEncryptedArchives(paths)));
}

}  // namespace varnok::ui
