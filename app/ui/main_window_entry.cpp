// The main window's entry and archive-file commands: the dialogs in front of the entry commands (rename,
// comment, self-extractor, find, properties) and of the archive-file commands (copy, move, rename, delete,
// shortcut), and dragging entries out of the list. The work is the Qt-free models'; this file only asks.
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

#include "app/paths.h"
#include "app/ui/comment_dialog.h"
#include "app/ui/find_dialog.h"
#include "app/ui/copy_move_dialog.h"
#include "app/ui/main_window.h"
#include "app/ui/progress_window.h"
#include "app/ui/properties_dialog.h"
#include "app/ui/rename_dialog.h"
#include "app/ui/sfx_dialog.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

using app::Cmd;

void MainWindow::SetUpEntryCommands() {
    entryCmds_ = std::make_unique<app::EntryCommands>(Model());
    fileCmds_ = std::make_unique<app::ArchiveFileCommands>(Model());
    connect(progress_, &ProgressWindow::CancelRequested, this, [this] { entryCmds_->Cancel(); });
    list_->DragData = [this] { return MakeEntryDragData(); };
}

bool MainWindow::OnEntryCommand(Cmd c) {
    switch (c) {
        case Cmd::OpenEntry:
            entryCmds_->OpenEntry();
            return true;
        case Cmd::ViewEntry:
            entryCmds_->ViewEntry();
            return true;
        case Cmd::OpenWithBoth:
            entryCmds_->OpenWithBoth();
            return true;
        case Cmd::Install:
            entryCmds_->Install();
            return true;
        case Cmd::RenameEntry:
            RenameEntryCommand();
            return true;
        case Cmd::Comment:
            CommentCommand();
            return true;
        case Cmd::MakeExe:
            MakeExeCommand();
            return true;
        case Cmd::ExeToZip:
            ExeToZipCommand();
            return true;
        case Cmd::FindFiles:
            FindCommand();
            return true;
        case Cmd::Properties:
            PropertiesCommand();
            return true;
        case Cmd::CopyArchive:
            CopyMoveArchiveCommand(false);
            return true;
        case Cmd::MoveArchive:
            CopyMoveArchiveCommand(true);
            return true;
        case Cmd::RenameArchive:
            RenameArchiveCommand();
            return true;
        case Cmd::DeleteArchive:
            fileCmds_->Delete();
            return true;
        case Cmd::CreateShortcut:
            fileCmds_->CreateShortcut();
            return true;
        default:
            return false;
    }
}

void MainWindow::RenameEntryCommand() {
    const int row = entryCmds_->RenameRow();
    if (row < 0) return;
    RenameEntryDialog d(this, Q(entryCmds_->RenameName(row)), Q(entryCmds_->RenamePath(row)));
    if (d.exec() != QDialog::Accepted) return;
    entryCmds_->RenameEntry(row, S(d.NewName()), S(d.NewPath()));
}

void MainWindow::CommentCommand() {
    CommentDialog d(this, Q(entryCmds_->Comment()),
                    [this](const std::string& path) { return entryCmds_->LoadCommentFile(path); });
    if (d.exec() != QDialog::Accepted) return;
    entryCmds_->SetComment(S(d.Text()));
}

void MainWindow::MakeExeCommand() {
    if (!Model().IsOpen() || Model().Engine() != app::EngineKind::ZipBridge) {
        Message("Error", "Error - open ZIP file first");
        return;
    }
    SfxDialog d(this, Q(app::WithoutSlash(App().Config().TempFolder())));
    if (d.exec() != QDialog::Accepted) return;
    entryCmds_->MakeExe(d.Choices());
}

void MainWindow::ExeToZipCommand() {
    entryCmds_->ExeToZip();
}

void MainWindow::FindCommand() {
    FindDialog d(this);
    if (d.exec() != QDialog::Accepted) return;
    entryCmds_->Find(d.Request());
}

void MainWindow::PropertiesCommand() {
    PropertiesDialog d(this, entryCmds_->Properties());
    d.exec();
}

void MainWindow::CopyMoveArchiveCommand(bool move) {
    CopyMoveDialog d(this, move, Q(Model().ArchiveFileName()), Q(Model().ArchiveFolder()));
    if (d.exec() != QDialog::Accepted || d.Target().isEmpty()) return;
    SetWaitCursor(true);
    if (d.Move())
        fileCmds_->MoveTo(S(d.Target()));
    else
        fileCmds_->CopyTo(S(d.Target()));
    SetWaitCursor(false);
}

void MainWindow::RenameArchiveCommand() {
    RenameArchiveDialog d(this, Q(Model().ArchiveFileName()));
    if (d.exec() != QDialog::Accepted) return;
    fileCmds_->Rename(S(d.NewName()));
}

QMimeData* MainWindow::MakeEntryDragData() {
    if (!Model().IsOpen() || Model().Busy()) return nullptr;
    std::vector<std::string> paths = entryCmds_->PrepareDrag();
    if (paths.empty()) return nullptr;
    QList<QUrl> urls;
    for (const auto& p : paths)
        urls << QUrl::fromLocalFile(Q(p));
    return new EntryDragData(urls, [this] { return entryCmds_->ExtractForDrag(); });
}

}  // namespace varnok::ui
