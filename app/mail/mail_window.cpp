#include "app/mail/mail_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <ctime>

namespace varnok::mail {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string S(const QString& s) {
    return s.toStdString();
}

std::vector<std::string> List(const QString& text) {
    return SplitAddressList(S(text));
}

}  // namespace

const char* const kMailSettingsMissing =
    "Before sending the archive as email, please go to Options\n\rdialog (F4) and change your mail settings, or "
    "deselect \"Use internal\n\rmail client\"";

bool MailSettingsComplete(const app::Settings& s) {
    return !s.MailHost.empty() && !s.MailUserID.empty() && !s.MailAddress.empty();
}

MailWindow::MailWindow(const app::Settings& settings, const std::string& archivePath, const QString& openFilter,
                       QWidget* parent)
    : QDialog(parent), settings_(settings), openFilter_(openFilter) {
    setModal(true);
    QString name = archivePath.empty() ? QString() : QFileInfo(Q(archivePath)).fileName();
    setWindowTitle(QStringLiteral("Mail archive ") + name);
    Notify = [this](const QString& title, const QString& text) {
        QMessageBox box(title == QLatin1String("Error") ? QMessageBox::Critical : QMessageBox::Information, title,
                        text, QMessageBox::Ok, this);
        box.exec();
    };

    auto* form = new QFormLayout;
    from_ = new QLabel(Q(settings.MailAddress));
    form->addRow(QStringLiteral("From:"), from_);
    to_ = new QLineEdit;
    form->addRow(QStringLiteral("To:"), to_);
    advancedPart_ = new QWidget;
    auto* adv = new QFormLayout(advancedPart_);
    adv->setContentsMargins(0, 0, 0, 0);
    cc_ = new QLineEdit;
    bcc_ = new QLineEdit;
    adv->addRow(QStringLiteral("Cc:"), cc_);
    adv->addRow(QStringLiteral("Bcc:"), bcc_);
    form->addRow(advancedPart_);
    advancedPart_->hide();
    subject_ = new QLineEdit(name);
    form->addRow(QStringLiteral("Subject:"), subject_);

    body_ = new QPlainTextEdit;
    files_ = new QListWidget;
    files_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    files_->setMaximumHeight(90);
    if (!archivePath.empty()) files_->addItem(Q(archivePath));
    add_ = new QPushButton(QStringLiteral("+"));
    remove_ = new QPushButton(QStringLiteral("-"));
    auto* fileButtons = new QVBoxLayout;
    fileButtons->addWidget(add_);
    fileButtons->addWidget(remove_);
    fileButtons->addStretch();
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(files_);
    fileRow->addLayout(fileButtons);

    loadText_ = new QPushButton(QStringLiteral("Load text..."));
    advanced_ = new QPushButton(QStringLiteral(">> Advanced"));
    send_ = new QPushButton(QStringLiteral("Send email"));
    cancel_ = new QPushButton(QStringLiteral("&Cancel"));
    send_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(loadText_);
    buttons->addWidget(advanced_);
    buttons->addStretch();
    buttons->addWidget(send_);
    buttons->addWidget(cancel_);
    status_ = new QLabel;

    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(body_, 1);
    top->addWidget(new QLabel(QStringLiteral("Attachments:")));
    top->addLayout(fileRow);
    top->addLayout(buttons);
    top->addWidget(status_);
    resize(560, 480);

    connect(to_, &QLineEdit::textChanged, this, [this] { UpdateEnabling(); });
    connect(advanced_, &QPushButton::clicked, this, [this] { ToggleAdvanced(); });
    connect(add_, &QPushButton::clicked, this, [this] { AddFiles(); });
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveFiles(); });
    connect(loadText_, &QPushButton::clicked, this, [this] { LoadText(); });
    connect(send_, &QPushButton::clicked, this, &MailWindow::Send);
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    UpdateEnabling();
}

MailWindow::~MailWindow() {
    StopWorker();
}

QString MailWindow::StatusText() const {
    return status_->text();
}

void MailWindow::Status(const QString& text) {
    status_->setText(text);
}

void MailWindow::UpdateEnabling() {
    send_->setEnabled(!sending_ && !to_->text().trimmed().isEmpty());
}

void MailWindow::ToggleAdvanced() {
    bool show = advancedPart_->isHidden();
    advancedPart_->setVisible(show);
    advanced_->setText(show ? QStringLiteral("<< Advanced") : QStringLiteral(">> Advanced"));
}

bool MailWindow::AddAttachment(const QString& path) {
    if (!QFileInfo(path).isFile()) return false;
    files_->addItem(path);
    return true;
}

void MailWindow::AddFiles() {
    const QStringList chosen = QFileDialog::getOpenFileNames(this, QStringLiteral("Open Archiv"), QString(),
                                                             openFilter_);
    for (const QString& f : chosen)
        if (!AddAttachment(f))
            Notify(QStringLiteral("Error"),
                   QStringLiteral("This Archive doesn't exist. Do you want to create it now ?"));
}

void MailWindow::RemoveFiles() {
    for (QListWidgetItem* item : files_->selectedItems())
        delete item;
}

void MailWindow::LoadText() {
    QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Load text"), QString(),
                                                QStringLiteral("Textfiles (*.txt);;All files (*)"));
    if (file.isEmpty()) return;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        Notify(QStringLiteral("Error"), QStringLiteral("The file could not be read: ") + file);
        return;
    }
    body_->setPlainText(QString::fromUtf8(f.readAll()));
}

void MailWindow::SetFieldsEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{to_, cc_, bcc_, subject_, body_, files_, add_, remove_,
                                                       loadText_, advanced_})
        w->setEnabled(on);
    UpdateEnabling();
}

void MailWindow::Send() {
    if (sending_ || to_->text().trimmed().isEmpty()) return;
    StopWorker();
    smtp_ = std::make_unique<TNMSMTP>();
    TNMSMTP& c = *smtp_;
    c.Host = settings_.MailHost;
    c.Port = settings_.MailPort;
    c.UserID = settings_.MailUserID;
    c.Security = SecurityFromText(settings_.MailSecurity);
    c.AuthUser = settings_.MailAuthUser;
    c.AuthPassword = settings_.MailPassword;
    c.CaFile = settings_.MailCaFile;
    TPostMessage& m = c.PostMessage;
    m.FromAddress = settings_.MailAddress;
    m.FromName = settings_.MailName.empty() ? settings_.MailAddress : settings_.MailName;
    m.ReplyTo = settings_.MailAddress;
    m.ToAddress = List(to_->text());
    m.ToCarbonCopy = List(cc_->text());
    m.ToBlindCarbonCopy = List(bcc_->text());
    m.Subject = S(subject_->text());
    m.LocalProgram = "Varnok internal mail client";
    m.Date = RfcDate(std::time(nullptr));
    const QStringList lines = body_->toPlainText().split(QLatin1Char('\n'));
    for (const QString& l : lines)
        m.Body.push_back(S(l));
    if (!m.Body.empty() && m.Body.back().empty()) m.Body.pop_back();
    for (int i = 0; i < files_->count(); ++i)
        m.Attachments.push_back(S(files_->item(i)->text()));

    // The client's events arrive on the worker thread; the window handles them on its own.
    QPointer<MailWindow> self(this);
    auto post = [self](std::function<void(MailWindow&)> f) {
        QMetaObject::invokeMethod(
            qApp, [self, f] { if (self) f(*self); }, Qt::QueuedConnection);
    };
    c.OnSendStart = [post] { post([](MailWindow& w) { w.Status(QStringLiteral("Sending mail...")); }); };
    c.OnPacketSent = [post](uint64_t sent, uint64_t total) {
        post([sent, total](MailWindow& w) {
            if (total) w.Status(QStringLiteral("Sending mail... %1%").arg(sent * 100 / total));
        });
    };
    c.OnLog = [post](const std::string& line) {
        post([line](MailWindow& w) {
            if (w.OnLog) w.OnLog(line);
        });
    };

    sending_ = true;
    sent_ = false;
    SetFieldsEnabled(false);
    Status(QStringLiteral("Connecting to %1 ...").arg(Q(settings_.MailHost)));
    worker_ = std::thread([this, post] {
        bool ok = false;
        int kind = -1;
        QString text;
        try {
            smtp_->SendMail();
            ok = true;
        } catch (const MailError& e) {
            kind = static_cast<int>(e.GetKind());
            text = QString::fromStdString(e.what());
        } catch (const std::exception& e) {
            text = QString::fromStdString(e.what());
        }
        post([ok, kind, text](MailWindow& w) { w.Finished(ok, kind, text); });
    });
}

void MailWindow::Finished(bool ok, int kind, const QString& text) {
    if (worker_.joinable()) worker_.join();
    sending_ = false;
    SetFieldsEnabled(true);
    if (ok) {
        sent_ = true;
        Status(QStringLiteral("Success !"));
        Notify(QStringLiteral("Information"), QStringLiteral("The email was sent successfully !"));
        accept();
        return;
    }
    Status(text.section(QLatin1Char('\n'), 0, 0));
    if (closeAfterSend_) {
        QDialog::reject();
        return;
    }
    if (kind == static_cast<int>(MailError::Kind::Canceled)) return;
    QString shown = text;
    if (kind == static_cast<int>(MailError::Kind::Connect))
        shown = QStringLiteral("Could not connect to mail server, please check your settings!\n\n") + text;
    Notify(QStringLiteral("Error"), shown);
}

void MailWindow::StopWorker() {
    if (smtp_) smtp_->Abort();
    if (worker_.joinable()) worker_.join();
}

void MailWindow::reject() {
    if (sending_) {
        // Cancel stops the transfer; the window closes once the client has let go.
        closeAfterSend_ = true;
        Status(QStringLiteral("Canceling..."));
        smtp_->Abort();
        return;
    }
    QDialog::reject();
}

void MailWindow::closeEvent(QCloseEvent* e) {
    if (sending_) {
        e->ignore();
        reject();
        return;
    }
    QDialog::closeEvent(e);
}

}  // namespace varnok::mail
