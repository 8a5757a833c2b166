// The main window's tool windows: UUEncode..., Convert Archive..., Test and Repair zips... each open their
// window over the open archive and run it modally; the window's commands stay disabled meanwhile.
#include <QAction>
#include <QFileInfo>

#include "app/ui/convert_window.h"
#include "app/ui/encode_window.h"
#include "app/ui/main_window.h"
#include "app/ui/repair_window.h"
#include "app/ui/test_window.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

using app::Cmd;

void MainWindow::ConnectToolWindows() {
    connect(Action(Cmd::UUEncode), &QAction::triggered, this, [this] { ShowEncodeWindow(); });
    connect(Action(Cmd::ConvertArchive), &QAction::triggered, this, [this] { ShowConvertWindow(); });
    connect(Action(Cmd::Test), &QAction::triggered, this, [this] { ShowTestWindow(); });
    connect(Action(Cmd::RepairZips), &QAction::triggered, this, [this] { ShowRepairWindow(); });
}

namespace {

QString OpenArchiveOf(app::ArchiveModel& m) {
    return m.IsOpen() ? Q(m.ArchivePath()) : QString();
}

}  // namespace

void MainWindow::ShowEncodeWindow() {
    if (!Model().Enabled(Cmd::UUEncode)) return;
    app::ArchiveModel& m = Model();
    // An archive served by the archive components must be one of a recognised type to be encoded.
    EncodeWindow w(this, OpenArchiveOf(m), m.IsOpen() && m.Engine() != app::EngineKind::ZipBridge);
    if (toolWindowHook) toolWindowHook(&w);
    w.exec();
}

void MainWindow::ShowConvertWindow() {
    if (!Model().Enabled(Cmd::ConvertArchive)) return;
    app::ArchiveModel& m = Model();
    ConvertWindow w(this, OpenArchiveOf(m), Q(App().TempFolder()));
    // A source about to be deleted is closed first when it is the open archive.
    w.Tool().releaseArchive = [this](const std::string& path) {
        app::ArchiveModel& model = Model();
        if (model.IsOpen() &&
            QFileInfo(Q(model.ArchivePath())).canonicalFilePath() == QFileInfo(Q(path)).canonicalFilePath())
            model.Close();
    };
    if (toolWindowHook) toolWindowHook(&w);
    w.exec();
}

void MainWindow::ShowTestWindow() {
    if (!Model().Enabled(Cmd::Test)) return;
    TestWindow w(this, OpenArchiveOf(Model()), Q(App().TempFolder()));
    if (toolWindowHook) toolWindowHook(&w);
    w.exec();
}

void MainWindow::ShowRepairWindow() {
    if (!Model().Enabled(Cmd::RepairZips)) return;
    app::ArchiveModel& m = Model();
    // Only a ZIP file is offered for repair.
    QString open = m.IsOpen() && m.Engine() == app::EngineKind::ZipBridge ? Q(m.ArchivePath()) : QString();
    RepairWindow w(this, open);
    if (toolWindowHook) toolWindowHook(&w);
    w.exec();
}

}  // namespace varnok::ui
