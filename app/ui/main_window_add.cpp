// The main window's writing commands: New archive, Add with its dialog, the drop window, Delete (dialog and the
// two fixed forms) and Write Zip span. The work is the add operation's (app/add_command.h); these slots show the
// dialogs and hand the choices over.
#include <QFileDialog>
#include <QFileInfo>

#include "app/archive_model.h"
#include "app/paths.h"
#include "app/ui/add_dialog.h"
#include "app/ui/delete_dialog.h"
#include "app/ui/drop_window.h"
#include "app/ui/main_window.h"
#include "app/ui/progress_window.h"
#include "app/ui/span_dialog.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

using app::Cmd;

namespace {

std::vector<std::string> StdPaths(const QStringList& l) {
    std::vector<std::string> out;
    for (const QString& p : l)
        out.push_back(S(QFileInfo(p).absoluteFilePath()));
    return out;
}

}  // namespace

void MainWindow::SetUpAddCommands() {
    adder_ = std::make_unique<app::AddOperation>(Model());
    // Spanned sets are the bridge's: volumes of the size asked (0: what the disk holds), named after the archive.
    adder_->SetSpanWriter(
        [this](const std::string& input, const std::string& output, int64_t maxVolume,
               std::vector<std::string>& volumes) {
            TZipBridge& b = Model().Bridge();
            b.SetCancel(false);
            b.MaxVolumeSize = maxVolume;
            b.ProcessMessages = [this] { ProcessEvents(); };
            const int rc = b.WriteSpan(input, output);
            b.ProcessMessages = nullptr;
            if (rc == 0) volumes = b.SpanVolumes();
            return rc;
        },
        [this] { Model().Bridge().SetCancel(true); });
    connect(progress_, &ProgressWindow::CancelRequested, this, [this] {
        if (adder_ && adder_->Running()) adder_->Cancel();
    });
}

bool MainWindow::OnAddCommand(Cmd c) {
    switch (c) {
        case Cmd::NewArchive:
            NewArchiveCommand();
            return true;
        case Cmd::Add:
            AddCommand();
            return true;
        case Cmd::Delete:
        case Cmd::DeleteSelected:
        case Cmd::DeleteAll:
            DeleteCommand(c);
            return true;
        case Cmd::WriteSpan:
            WriteSpanCommand();
            return true;
        default:
            return false;
    }
}

void MainWindow::NewArchiveCommand() {
    app::Settings& s = App().Config();
    QStringList filters;
    for (const auto& [caption, patterns] : app::NewArchiveFilters())
        filters << Q(caption) + QStringLiteral(" (") + Q(patterns) + QStringLiteral(")");
    QFileDialog d(this, QStringLiteral("Create new Archive"), s.OpenLast ? Q(s.Open) : QString());
    d.setNameFilters(filters);
    d.setAcceptMode(QFileDialog::AcceptSave);
    // The overwrite question is the command's own.
    d.setOption(QFileDialog::DontConfirmOverwrite);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return;
    const int kind = static_cast<int>(filters.indexOf(d.selectedNameFilter())) + 1;
    NewArchiveAt(d.selectedFiles().front(), static_cast<app::ArchiveKind>(kind < 1 ? 1 : kind));
}

bool MainWindow::NewArchiveAt(const QString& path, app::ArchiveKind kind, bool withDialog) {
    if (Model().Busy()) return false;
    if (!adder_->NewArchive(S(QFileInfo(path).absoluteFilePath()), kind)) return false;
    if (withDialog) AddCommand();
    return true;
}

void MainWindow::AddCommand() {
    const app::WriterFamily family = app::FamilyOf(Model());
    if (family == app::WriterFamily::None) {
        Message("Error", app::AddOperation::kNotSupported);
        return;
    }
    // The browser starts in the open archive's folder.
    AddDialog d(*adder_, family, App().Config(), Q(Model().ArchiveFolder()), this);
    const bool ok = d.exec() == QDialog::Accepted;
    if (!d.LastFolder().isEmpty() && App().Config().OpenLast)
        App().Config().Open = app::WithSlash(S(d.LastFolder()));
    if (!ok) return;
    adder_->Add(StdPaths(d.Paths()), d.Options()->Request());
}

void MainWindow::AddWithOptions(const QStringList& paths) {
    if (Model().Busy()) return;
    const bool open = Model().IsOpen() && app::FamilyOf(Model()) != app::WriterFamily::None;
    DropWindow w(*adder_, App().Config(), paths, open ? Q(Model().ArchivePath()) : QString(),
                 open ? app::FamilyOf(Model()) : app::WriterFamily::Zip, this);
    if (w.exec() != QDialog::Accepted) return;
    const app::AddRequest r = w.Options()->Request();
    const QStringList files = w.Paths();
    if (!w.IsOpenArchive()) {
        const QString target = w.ArchivePath();
        if (QFileInfo(target).isFile()) {
            OpenArchive(target);
            if (!Model().IsOpen() || app::FamilyOf(Model()) == app::WriterFamily::None) {
                if (Model().IsOpen()) Message("Error", app::AddOperation::kNotSupported);
                return;
            }
        } else if (!adder_->NewArchive(S(target), w.Kind())) {
            return;
        }
    }
    adder_->Add(StdPaths(files), r);
}

void MainWindow::DeleteCommand(Cmd c) {
    if (c == Cmd::DeleteSelected) {
        adder_->Delete(app::DeleteMode::Selected);
        return;
    }
    if (c == Cmd::DeleteAll) {
        adder_->Delete(app::DeleteMode::All);
        return;
    }
    DeleteDialog d(this);
    if (d.exec() != QDialog::Accepted) return;
    adder_->Delete(d.Mode(), d.Pattern());
}

void MainWindow::WriteSpanCommand() {
    if (!adder_->CanSpan()) return;
    SpanDialog d(adder_->spanSizeKB, this);
    if (d.exec() != QDialog::Accepted) return;
    adder_->spanSizeKB = d.SizeKB();
    adder_->Split(d.SizeKB());
}

}  // namespace varnok::ui
