#include "app/update/update_window.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <thread>

namespace varnok::update {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The texts use "\r" as their line break.
QString Lines(QString text) {
    return text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QString Grouped(uint64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(n));
}

}  // namespace

std::string RunningVersion() {
    std::string v = VARNOK_VERSION;
    int dots = 0;
    for (char c : v)
        dots += c == '.';
    for (; dots < 3; ++dots)
        v += ".0";
    return v;
}

void ConfigureChecker(TWebFileInfo& wfi, const app::Settings& s) {
    wfi.AllowHttp = s.AllowHttp;
    if (!wfi.SetHomeURL(s.HomeURL)) wfi.SetHomeURL("");
    wfi.Http.caFile = s.UpdCaFile;
    wfi.ProxyHost = s.Proxy;
    wfi.ProxyPort = s.ProxyPortNumber();
    wfi.CurrentVersion = RunningVersion();
    wfi.InfoTags = TWfiTags::MainWindow();
    wfi.Options = wfioDisplayUI | wfioDisplayReadMe;
}

WaitWindow::WaitWindow(const QString& title, const QString& text, QWidget* parent)
    : QDialog(parent), withProgress_(title == QLatin1String("Download Progress")) {
    setWindowTitle(title);
    setModal(true);
    auto* box = new QVBoxLayout(this);
    label_ = new QLabel(text);
    box->addWidget(label_);
    if (withProgress_) {
        bar_ = new QProgressBar;
        bar_->setRange(0, 100);
        bytes_ = new QLabel;
        box->addWidget(bar_);
        box->addWidget(bytes_);
    }
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &WaitWindow::reject);
    box->addWidget(buttons);
}

void WaitWindow::SetText(const QString& text) {
    label_->setText(text);
}

void WaitWindow::SetProgress(uint64_t received, uint64_t total) {
    if (!withProgress_) return;
    if (total) {
        int percent = static_cast<int>(std::min<uint64_t>(100, received * 100 / total));
        shownPercent_ = std::max(shownPercent_, percent);  // the bar only moves forward
        bar_->setValue(shownPercent_);
    }
    bytes_->setText(QStringLiteral("%1 of %2 bytes received.").arg(Grouped(received), Grouped(total)));
}

void WaitWindow::Run(const std::function<void(const std::atomic<bool>*)>& work) {
    cancel_ = false;
    std::thread worker([this, &work] {
        work(&cancel_);
        QMetaObject::invokeMethod(
            this, [this] { QDialog::done(QDialog::Accepted); }, Qt::QueuedConnection);
    });
    exec();
    worker.join();
}

void WaitWindow::reject() {
    cancel_ = true;
    label_->setText(QStringLiteral("Canceling..."));
}

UpdateDialogue::UpdateDialogue(QWidget* parent, TWebFileInfo& wfi) : parent_(parent), wfi_(wfi) {
    DownloadFolder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (DownloadFolder.isEmpty()) DownloadFolder = QDir::homePath();
    Notify = [this](const QString& title, const QString& text) {
        bool info = title == QLatin1String("No Update Found") || title == QLatin1String("Information");
        QMessageBox box(info ? QMessageBox::Information : QMessageBox::Warning, title, text, QMessageBox::Ok,
                        parent_);
        box.exec();
    };
    Ask = [this](const QString& title, const QString& text) {
        return QMessageBox::question(parent_, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    ChooseTarget = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(parent_, QStringLiteral("Save the update"), suggested,
                                            QStringLiteral("Zipped File (*.zip);;All Files (*)"));
    };
    ShowText = [this](const QString& text) {
        QDialog d(parent_);
        d.setWindowTitle(QStringLiteral("Read Me"));
        auto* box = new QVBoxLayout(&d);
        auto* view = new QPlainTextEdit(text);
        view->setReadOnly(true);
        box->addWidget(view);
        auto* buttons = new QDialogButtonBox;
        buttons->addButton(QStringLiteral("&Ok"), QDialogButtonBox::AcceptRole);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
        box->addWidget(buttons);
        d.resize(520, 400);
        d.exec();
    };
}

bool UpdateDialogue::Check() {
    TWebFileInfo::CheckResult result = TWebFileInfo::CheckResult::Failed;
    if (wfi_.HomeURL().empty()) {
        result = TWebFileInfo::CheckResult::MissingHomeUrl;
    } else if (wfi_.InfoTags.AllEmpty()) {
        result = TWebFileInfo::CheckResult::MissingTags;
    } else {
        WaitWindow wait(QStringLiteral("Please Wait"), QStringLiteral("Checking For Update..."), parent_);
        wait.Run([&](const std::atomic<bool>* cancel) { result = wfi_.Check(cancel); });
        if (wait.Canceled()) return false;
    }
    switch (result) {
        case TWebFileInfo::CheckResult::Ok:
            return true;
        case TWebFileInfo::CheckResult::MissingHomeUrl:
            Notify(QStringLiteral("Missing Home URL"),
                   Lines(QStringLiteral("Can not retrieve version information\rbecause no home url was provided.")));
            return false;
        case TWebFileInfo::CheckResult::MissingTags:
            Notify(QStringLiteral("Missing Tag Information"),
                   Lines(QStringLiteral(
                       "Can not retrieve version information\rbecause no tag information was provided.")));
            return false;
        default:
            Notify(QStringLiteral("Connection Error"),
                   wfi_.LastError().empty()
                       ? Lines(QStringLiteral("Could not retrieve version information from the Internet.\rError "
                                              "unknown."))
                       : Lines(QStringLiteral("Could not retrieve version information from the Internet.\rError: "
                                              "\"%1.\"")
                                   .arg(Q(wfi_.LastError()))));
            return false;
    }
}

void UpdateDialogue::ShowReadMe(bool ask) {
    const VersionPage& p = wfi_.Page();
    if (p.ProductReadMe.empty() && p.ProductReadMeExt.empty()) return;
    if (ask && !Ask(QStringLiteral("Update Available"),
                    Lines(QStringLiteral("Current version is %1.\rVersion %2 is available.\rWould you like to view "
                                         "the ReadMe file?")
                              .arg(Q(wfi_.CurrentVersion), Q(p.ProductVersion)))))
        return;
    std::optional<std::string> text;
    WaitWindow wait(QStringLiteral("Please Wait"), QStringLiteral("Retrieving ReadMe..."), parent_);
    wait.Run([&](const std::atomic<bool>* cancel) { text = wfi_.ReadMeText(cancel); });
    if (wait.Canceled()) return;
    if (!text) {
        Notify(QStringLiteral("Error"),
               Lines(QStringLiteral("The ReadMe could not be retrieved.\rError: \"%1.\"").arg(Q(wfi_.LastError()))));
        return;
    }
    ShowText(QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())));
}

bool UpdateDialogue::CheckForUpdate() {
    saved_.clear();
    if (!Check()) return false;
    if (!wfi_.IsNewer()) {
        Notify(QStringLiteral("No Update Found"), QStringLiteral("There is no update available."));
        return false;
    }
    if (wfi_.Options & wfioDisplayReadMe) ShowReadMe(true);
    if (!Ask(QStringLiteral("Update Available"),
             Lines(QStringLiteral("Current version is %1.\rVersion %2 is available.\rDownload the update?")
                       .arg(Q(wfi_.CurrentVersion), Q(wfi_.Page().ProductVersion)))))
        return false;
    QString target = ChooseTarget(QDir(DownloadFolder).filePath(Q(wfi_.DefaultName())));
    if (target.isEmpty()) return false;

    bool ok = false;
    WaitWindow progress(QStringLiteral("Download Progress"), QStringLiteral("Downloading Update"), parent_);
    QPointer<WaitWindow> window(&progress);
    progress.Run([&](const std::atomic<bool>* cancel) {
        ok = wfi_.Download(wfi_.Page().DownloadURL, target.toStdString(), cancel, [window](uint64_t got, uint64_t all) {
            QMetaObject::invokeMethod(
                window, [window, got, all] { if (window) window->SetProgress(got, all); }, Qt::QueuedConnection);
        });
    });
    if (progress.Canceled()) return false;
    if (!ok) {
        Notify(QStringLiteral("Download Error"),
               wfi_.LastError().empty()
                   ? Lines(QStringLiteral("Error occurred while downloading update.\rError unknown."))
                   : Lines(QStringLiteral("Error occurred while downloading update.\rError: \"%1.\"")
                               .arg(Q(wfi_.LastError()))));
        return false;
    }
    saved_ = target;
    Notify(QStringLiteral("Information"),
           QStringLiteral("The update was saved as\n%1\n\nIt has not been opened or run; install it when you choose.")
               .arg(target));
    return true;
}

}  // namespace varnok::update
