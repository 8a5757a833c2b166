#include "app/ui/tool_window_base.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QInputDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

#include "app/ui/progress_window.h"
#include "app/ui/prompts.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

const char* const kToolArchiveFilter =
    "All archives|*.zip;*.rar;*.jar;*.ace;*.arc;*.arj;*.cab;*.vca;*.gz;*.lzh;*.tar;*.zoo;*.lha;*.bh;|"
    "All archives and .exe files|*.zip;*.rar;*.jar;*.ace;*.arc;*.arj;*.cab;*.gz;*.exe;*.lzh;*.lha;*.bh;*.tar;*.zoo|"
    "Zip files (*.zip)|*.zip;|Arj files (*.arj)|*.arj;|Ace files (*.ace)|*.ace;|Arc files (*.arc)|*.arc;|"
    "BlakHole files (*.bh)|*.bh;|Cabinet files (*.cab)|*.cab;|GZip files (*.gz)|*.gz;|Jar files (*.jar)|*.jar;|"
    "Lha files (*.lzh)|*.lzh;|Rar files (*.rar)|*.rar;|Tar files (*.tar)|*.tar;|Zoo files (*.zoo)|*.zoo;|"
    "All files (*.*)|*.*";

ToolWindowBase::ToolWindowBase(QWidget* parent) : QDialog(parent) {
    progress_ = new ProgressWindow(this);
    connect(progress_, &ProgressWindow::CancelRequested, this, [this] { CancelRun(); });
    eventsClock_.start();
}

QString ToolWindowBase::DialogFilter(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << (p == QLatin1String("*.*") ? QStringLiteral("*") : p);
        QString name = parts[i];
        // "Zip files (*.zip)" already names its patterns; the dialog adds them only where they are missing.
        if (name.contains(QLatin1Char('('))) name = name.left(name.indexOf(QLatin1Char('('))).trimmed();
        out << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

QStringList ToolWindowBase::PickArchives(const QString& pipeFilter, bool multiple) {
    QFileDialog dlg(this, QStringLiteral("Open Archiv"), QString(), DialogFilter(pipeFilter));
    dlg.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::ReadOnly, true);
    if (dlg.exec() != QDialog::Accepted) return {};
    return dlg.selectedFiles();
}

void ToolWindowBase::Message(const std::string& title, const std::string& text) {
    ShowMessage(this, Q(title), MessageText(text));
}

bool ToolWindowBase::AskYesNo(const std::string& title, const std::string& text) {
    return ui::AskYesNo(this, Q(title), MessageText(text));
}

int ToolWindowBase::AskYesNoCancel(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::Question, Q(title), MessageText(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return 0;
        case QMessageBox::No:
            return 1;
        default:
            return 2;
    }
}

std::optional<std::string> ToolWindowBase::AskPassword(const std::string& name) {
    PasswordDialog d(this);
    return d.AskForExtract(name);
}

std::optional<std::string> ToolWindowBase::AskNextVolume(const std::string& prompt, const std::string& path) {
    bool ok = false;
    QString p = QInputDialog::getText(this, QStringLiteral("Get next volume"), Q(prompt), QLineEdit::Normal,
                                      Q(path), &ok);
    if (!ok) return std::nullopt;
    return S(p);
}

void ToolWindowBase::ProgressOpen(const std::string& header) {
    progress_->Begin(Q(header));
}

void ToolWindowBase::ProgressFile(const std::string& name) {
    progress_->SetFile(Q(name));
    ProcessEvents();
}

void ToolWindowBase::ProgressBars(int file, int total) {
    progress_->SetBars(file, total);
}

void ToolWindowBase::ProgressClose() {
    progress_->End();
}

void ToolWindowBase::ProcessEvents() {
    // Between blocks and entries: often enough for a responsive Cancel, rarely enough to cost nothing.
    if (eventsClock_.elapsed() < eventIntervalMs_) return;
    eventsClock_.restart();
    progress_->Poll();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void ToolWindowBase::reject() {
    // Escape or the window's close button during a run stops the run; the window stays.
    if (RunActive()) {
        CancelRun();
        return;
    }
    QDialog::reject();
}

void ToolWindowBase::closeEvent(QCloseEvent* e) {
    if (RunActive()) {
        CancelRun();
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

std::vector<int> ToolWindowBase::SelectedRows(QListWidget* list) {
    std::vector<int> rows;
    for (QListWidgetItem* i : list->selectedItems())
        rows.push_back(list->row(i));
    return rows;
}

void ToolWindowBase::AppendToLastLine(QPlainTextEdit* edit, const QString& text) {
    QTextCursor c(edit->document());
    c.movePosition(QTextCursor::End);
    c.insertText(text);
}

}  // namespace varnok::ui
