#include "app/ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTimer>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTextStream>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "app/extract.h"
#include "app/mail/mail_settings_dialog.h"
#include "app/mail/mail_window.h"
#include "app/mail/system_mail.h"
#include "app/process.h"
#include "app/update/update_settings_dialog.h"
#include "app/update/update_window.h"
#include "app/paths.h"
#include "app/placement.h"
#include "app/ui/association_dialog.h"
#include "app/ui/extract_dialog.h"
#include "app/ui/limits_dialog.h"
#include "app/ui/progress_window.h"
#include "app/ui/prompts.h"
#include "app/ui/ui_common.h"
#include "archive/core/names.h"

namespace varnok::ui {

using app::Cmd;

namespace {

// The Open dialog's filter list, from the format registry: every archive, every archive and the programs
// that may carry one, then one entry per kind of archive file.
QString OpenFilters() {
    QStringList all, withPrograms, own;
    auto patterns = [](const std::vector<std::string>& exts) {
        QStringList p;
        for (const auto& e : exts)
            p << QStringLiteral("*.") + QString::fromStdString(e);
        return p;
    };
    for (const FileType* t : app::DesktopFileTypes()) {
        QStringList p = patterns(t->extensions);
        if (!t->openFilter) continue;
        all << p;
        withPrograms << p;
        own << QString::fromUtf8(t->name) + QStringLiteral(" files (") + p.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
    }
    withPrograms << QStringLiteral("*.exe");
    QStringList out;
    out << QStringLiteral("All archives (") + all.join(QLatin1Char(' ')) + QLatin1Char(')');
    out << QStringLiteral("All archives and .exe files (") + withPrograms.join(QLatin1Char(' ')) +
               QLatin1Char(')');
    out << own;
    out << QStringLiteral("All files (*)");
    return out.join(QStringLiteral(";;"));
}

bool IsArchiveExtension(const QString& path) {
    const QString lower = path.toLower();
    for (const FileType* t : app::DesktopFileTypes())
        for (const auto& e : t->extensions)
            if (lower.endsWith(QLatin1Char('.') + QString::fromStdString(e))) return true;
    return false;
}

QIcon IconOf(Cmd c) {
    switch (c) {
        case Cmd::OpenArchive:
            return ThemeIcon({"document-open"}, QStyle::SP_DialogOpenButton);
        case Cmd::NewArchive:
            return ThemeIcon({"document-new"}, QStyle::SP_FileIcon);
        case Cmd::Extract:
            return ThemeIcon({"archive-extract", "folder-download", "go-down"}, QStyle::SP_ArrowDown);
        case Cmd::Add:
            return ThemeIcon({"archive-insert", "list-add"}, QStyle::SP_ArrowUp);
        case Cmd::Delete:
            return ThemeIcon({"edit-delete"}, QStyle::SP_TrashIcon);
        case Cmd::ViewEntry:
            return ThemeIcon({"document-print-preview", "edit-find"}, QStyle::SP_FileDialogContentsView);
        case Cmd::Test:
            return ThemeIcon({"emblem-default", "dialog-ok"}, QStyle::SP_DialogApplyButton);
        case Cmd::Install:
            return ThemeIcon({"system-software-install", "system-run"}, QStyle::SP_ComputerIcon);
        case Cmd::Preferences:
            return ThemeIcon({"preferences-system", "preferences-other"}, QStyle::SP_FileDialogDetailedView);
        case Cmd::CloseArchive:
            return ThemeIcon({"window-close", "document-close"}, QStyle::SP_DialogCloseButton);
        case Cmd::Exit:
            return ThemeIcon({"application-exit"}, QStyle::SP_DialogCloseButton);
        case Cmd::Properties:
            return ThemeIcon({"document-properties"});
        case Cmd::FindFiles:
            return ThemeIcon({"edit-find"});
        case Cmd::SelectAll:
            return ThemeIcon({"edit-select-all"});
        case Cmd::About:
            return ThemeIcon({"help-about"});
        case Cmd::HelpTopics:
            return ThemeIcon({"help-contents", "help-browser"});
        case Cmd::SendMail:
            return ThemeIcon({"mail-send", "document-send"});
        default:
            return {};
    }
}

}  // namespace

MainWindow::MainWindow(app::ApplicationFolders folders, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Varnok"));
    setWindowIcon(ThemeIcon({"varnok", "package-x-generic", "application-x-archive"}));
    setAcceptDrops(true);
    // The shared windows, made once.
    overwrite_ = new OverwriteDialog(this);
    password_ = new PasswordDialog(this);
    progress_ = new ProgressWindow(this);
    connect(progress_, &ProgressWindow::CancelRequested, this, &MainWindow::CancelRunning);

    app_ = std::make_unique<app::Application>(*this, std::move(folders));
    Model().SetTypeDescriber([this](const std::string& ext) { return types_.Describe(ext); });
    // ZIP rows show the local short date (with the century) and the local short time.
    QLocale locale = QLocale::system();
    QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    if (!dateFormat.contains(QLatin1String("yyyy")))
        dateFormat.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    timeFormat.remove(QLatin1String(":ss"));
    Model().SetDateFormatter([locale, dateFormat, timeFormat](int64_t t) {
        QDateTime dt = QDateTime::fromSecsSinceEpoch(t);
        return S(locale.toString(dt.date(), dateFormat) + QLatin1String("  ") +
                 locale.toString(dt.time(), timeFormat));
    });

    CreateActions();
    CreateList();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateLogPane();
    SetUpEntryCommands();
    ConnectToolWindows();
    ConnectMultiExtract();
    SetStatusText(0, "Welcome to Varnok.");

    app_->Start();
    ApplySettings();
    RestoreGeometry();
    HistoryChanged();
    QuickExtractCaptionsChanged();
    CommandsChanged();
    SetUpAddCommands();
}

MainWindow::~MainWindow() {
    if (!exited_) {
        exited_ = true;
        app_->Exit();
    }
    // The widgets outlive this body: none of their signals may reach this window any more, and the list must
    // not reach the model once it is gone.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
    list_->setModel(nullptr);
    delete table_;
    table_ = nullptr;
    app_.reset();
}

// ---------------------------------------------------------------------------------------------------------------
// Construction

void MainWindow::CreateActions() {
    for (const auto& info : app::AllCommands()) {
        auto* a = new QAction(QString::fromUtf8(info.caption), this);
        if (*info.shortcut) a->setShortcut(QKeySequence(QString::fromUtf8(info.shortcut)));
        a->setIcon(IconOf(info.id));
        a->setIconVisibleInMenu(false);
        if (*info.toolText) a->setIconText(QString::fromUtf8(info.toolText));
        const Cmd c = info.id;
        connect(a, &QAction::triggered, this, [this, c] { OnCommand(c); });
        actions_[c] = a;
    }
    for (Cmd c : {Cmd::ViewToolbar, Cmd::ViewStatusbar, Cmd::ViewLog})
        actions_[c]->setCheckable(true);
    auto* sortGroup = new QActionGroup(this);
    sortGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int col = 0; col < 7; ++col) {
        QAction* a = actions_[app::SortCommandOf(col)];
        a->setCheckable(true);
        sortGroup->addAction(a);
    }
    popupExtract_ = new QAction(QStringLiteral("&Extract..."), this);
    connect(popupExtract_, &QAction::triggered, this, [this] {
        if (Model().Enabled(Cmd::Extract)) ExtractWithDialog(true);
    });
    for (size_t i = 0; i < openHistory_.size(); ++i) {
        openHistory_[i] = new QAction(this);
        connect(openHistory_[i], &QAction::triggered, this, [this, i] {
            const std::string& p = App().Config().OpenHistory.Slots()[i];
            if (!p.empty() && !Model().Busy()) OpenArchive(Q(p));
        });
        extractHistory_[i] = new QAction(this);
        connect(extractHistory_[i], &QAction::triggered, this, [this, i] {
            const std::string& p = App().Config().ExtractHistory.Slots()[i];
            if (!p.empty() && Model().Enabled(Cmd::Extract)) Model().Extractor().ExtractToRemembered(p);
        });
    }
}

void MainWindow::CreateMenus() {
    auto add = [this](QMenu* m, std::initializer_list<Cmd> cmds) {
        for (Cmd c : cmds)
            m->addAction(actions_[c]);
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    add(file, {Cmd::OpenArchive, Cmd::NewArchive, Cmd::CloseArchive});
    file->addSeparator();
    for (QAction* a : openHistory_)
        file->addAction(a);
    file->addSeparator();
    add(file, {Cmd::CopyArchive, Cmd::MoveArchive, Cmd::RenameArchive, Cmd::DeleteArchive});
    file->addSeparator();
    add(file, {Cmd::Properties, Cmd::CreateShortcut});
    file->addSeparator();
    add(file, {Cmd::Exit});

    QMenu* actions = menuBar()->addMenu(QStringLiteral("&Actions"));
    add(actions, {Cmd::Extract, Cmd::ExtractToNamedFolder, Cmd::ExtractHere, Cmd::ExtractToFavourite});
    extractHistorySeparator_ = actions->addSeparator();
    for (QAction* a : extractHistory_)
        actions->addAction(a);
    actions->addSeparator();
    add(actions, {Cmd::Add, Cmd::Delete});
    actions->addSeparator();
    add(actions, {Cmd::OpenEntry, Cmd::ViewEntry, Cmd::OpenWithBoth, Cmd::Install});
    actions->addSeparator();
    add(actions, {Cmd::RenameEntry, Cmd::Comment, Cmd::MakeExe, Cmd::ExeToZip, Cmd::WriteSpan});
    actions->addSeparator();
    add(actions, {Cmd::Test, Cmd::FindFiles});
    actions->addSeparator();
    add(actions, {Cmd::SelectAll, Cmd::UnselectAll, Cmd::InvertSelection});

    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    add(options, {Cmd::Preferences});
    options->addSeparator();
    add(options, {Cmd::ViewToolbar, Cmd::ViewStatusbar, Cmd::ViewLog});
    options->addSeparator();
    QMenu* sort = options->addMenu(QStringLiteral("&Sort"));
    for (int col = 0; col < 7; ++col)
        sort->addAction(actions_[app::SortCommandOf(col)]);
    // The code page of the open archive's names: decided from them, or chosen here for this archive.
    encodingMenu_ = options->addMenu(QStringLiteral("Name &encoding"));
    connect(encodingMenu_, &QMenu::aboutToShow, this, [this] { FillEncodingMenu(); });
    limitsAction_ = options->addAction(QStringLiteral("Extraction &limits..."));
    connect(limitsAction_, &QAction::triggered, this, [this] { EditLimits(); });
    mailSettingsAction_ = options->addAction(QStringLiteral("&Mail settings..."));
    connect(mailSettingsAction_, &QAction::triggered, this, [this] { EditMailSettings(); });
    updateSettingsAction_ = options->addAction(QStringLiteral("&Update settings..."));
    connect(updateSettingsAction_, &QAction::triggered, this, [this] { EditUpdateSettings(); });

    QMenu* extras = menuBar()->addMenu(QStringLiteral("E&xtras"));
    add(extras, {Cmd::Checkout, Cmd::SendMail, Cmd::UUEncode, Cmd::ConvertArchive, Cmd::RepairZips});
    extras->addSeparator();
    add(extras, {Cmd::MultiExtract});

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    add(help, {Cmd::HelpTopics});
    checkUpdateAction_ = help->addAction(QStringLiteral("&Check for Update NOW"));
    connect(checkUpdateAction_, &QAction::triggered, this, [this] { CheckForUpdate(false); });
    help->addSeparator();
    add(help, {Cmd::About});
    topMenus_ = {file, actions, options, extras, help};

    popup_ = new QMenu(this);
    popup_->addAction(popupExtract_);
    add(popup_, {Cmd::OpenEntry, Cmd::ViewEntry, Cmd::OpenWithBoth});
    popup_->addSeparator();
    add(popup_, {Cmd::Add, Cmd::Delete, Cmd::RenameEntry});
    popup_->addSeparator();
    add(popup_, {Cmd::SelectAll, Cmd::UnselectAll, Cmd::InvertSelection});
    popup_->addSeparator();
    QMenu* popupSort = popup_->addMenu(QStringLiteral("&Sort"));
    for (int col = 0; col < 7; ++col)
        popupSort->addAction(actions_[app::SortCommandOf(col)]);
    popup_->addSeparator();
    add(popup_, {Cmd::Comment, Cmd::MakeExe, Cmd::ExeToZip});
    popup_->addSeparator();
    add(popup_, {Cmd::Properties, Cmd::CreateShortcut});
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { popup_->popup(list_->viewport()->mapToGlobal(p)); });
}

void MainWindow::EditLimits() {
    app::Settings& s = App().Config();
    LimitsDialog d(this, s.MaxRatio, s.MaxSizeMiB);
    if (d.exec() != QDialog::Accepted) return;
    s.MaxRatio = d.Ratio();
    s.MaxSizeMiB = d.SizeMiB();
}

void MainWindow::FillEncodingMenu() {
    encodingMenu_->clear();
    app::ArchiveModel& m = Model();
    auto* group = new QActionGroup(encodingMenu_);
    const bool usable = m.IsOpen() && !m.Busy();
    auto add = [&](const QString& text, const std::string& page) {
        QAction* a = encodingMenu_->addAction(text);
        a->setCheckable(true);
        a->setChecked(m.NameCodePage() == page);
        a->setEnabled(usable);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, page] { Model().SetNameCodePage(page); });
    };
    QString automatic = QStringLiteral("&Automatic");
    if (m.IsOpen() && m.NameCodePage().empty())
        automatic += QStringLiteral(" (") + Q(m.NamesReadAs()) + QLatin1Char(')');
    add(automatic, {});
    encodingMenu_->addSeparator();
    std::vector<std::string> pages = NameCoding::CandidatePages(NameOrigin::Dos);
    for (const auto& p : NameCoding::CandidatePages(NameOrigin::Unix))
        if (std::find(pages.begin(), pages.end(), p) == pages.end()) pages.push_back(p);
    for (const auto& p : pages)
        add(Q(p), p);
}

void MainWindow::CreateToolBar() {
    toolbar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    toolbar_->setObjectName(QStringLiteral("vnToolbar"));
    toolbar_->setIconSize(QSize(24, 24));
    toolbar_->addAction(actions_[Cmd::OpenArchive]);
    toolbar_->addAction(actions_[Cmd::NewArchive]);
    toolbar_->addSeparator();
    toolbar_->addAction(actions_[Cmd::Extract]);
    toolbar_->addAction(actions_[Cmd::Add]);
    toolbar_->addAction(actions_[Cmd::Delete]);
    if (auto* b = qobject_cast<QToolButton*>(toolbar_->widgetForAction(actions_[Cmd::Delete]))) {
        auto* m = new QMenu(b);
        m->addAction(actions_[Cmd::DeleteSelected]);
        m->addAction(actions_[Cmd::DeleteAll]);
        b->setMenu(m);
        b->setPopupMode(QToolButton::MenuButtonPopup);
    }
    toolbar_->addSeparator();
    toolbar_->addAction(actions_[Cmd::ViewEntry]);
    toolbar_->addAction(actions_[Cmd::Test]);
    installToolAction_ = toolbar_->addAction(actions_[Cmd::Install]->icon(), QStringLiteral("Install"));
    installToolAction_->setIconText(QStringLiteral("Install"));
    connect(installToolAction_, &QAction::triggered, this, [this] { Trigger(Cmd::Install); });
    installToolAction_->setVisible(false);
    toolbar_->addSeparator();
    toolbar_->addAction(actions_[Cmd::Preferences]);
    toolbar_->installEventFilter(this);
    addToolBar(Qt::TopToolBarArea, toolbar_);
    connect(toolbar_, &QToolBar::visibilityChanged, this,
            [this](bool v) { actions_[Cmd::ViewToolbar]->setChecked(v); });
}

void MainWindow::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    for (size_t i = 0; i < panels_.size(); ++i) {
        panels_[i] = new QLabel(bar);
        panels_[i]->setTextFormat(Qt::PlainText);
        panels_[i]->setFrameShape(QFrame::StyledPanel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        panels_[i]->setContentsMargins(3, 0, 3, 0);
    }
    panels_[1]->setAlignment(Qt::AlignCenter);
    bar->addWidget(panels_[0]);
    bar->addWidget(panels_[1]);
    bar->addWidget(panels_[2], 1);
    panels_[1]->hide();
    panels_[2]->hide();
    panels_[0]->setMinimumWidth(app::kStatusPanel0Width);
}

void MainWindow::CreateLogPane() {
    logDock_ = new QDockWidget(QStringLiteral("Log"), this);
    logDock_->setObjectName(QStringLiteral("vnLog"));
    logDock_->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
    log_ = new QPlainTextEdit(logDock_);
    log_->setReadOnly(true);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setContextMenuPolicy(Qt::CustomContextMenu);
    log_->setMinimumHeight(30);
    logDock_->setWidget(log_);
    addDockWidget(Qt::BottomDockWidgetArea, logDock_);
    auto* menu = new QMenu(log_);
    menu->addAction(actions_[Cmd::ClearLog]);
    menu->addAction(actions_[Cmd::SaveLog]);
    connect(log_, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint& p) { menu->popup(log_->viewport()->mapToGlobal(p)); });
    connect(logDock_, &QDockWidget::visibilityChanged, this, [this](bool) {
        if (!isMinimized()) actions_[Cmd::ViewLog]->setChecked(!logDock_->isHidden());
    });
}

void MainWindow::CreateList() {
    list_ = new EntryListView(this);
    table_ = new EntryTableModel(Model(), types_, list_);
    list_->setModel(table_);
    setCentralWidget(list_);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                if (syncingSelection_) return;
                for (const auto& r : deselected)
                    Model().SetRangeSelected(r.top(), r.bottom(), false);
                for (const auto& r : selected)
                    Model().SetRangeSelected(r.top(), r.bottom(), true);
            });
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& cur) { Model().SetFocusedRow(cur.isValid() ? cur.row() : -1); });
    connect(list_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int col) {
        if (Model().IsOpen() && !Model().Busy()) Model().SortByColumn(col);
    });
    connect(list_, &EntryListView::EntryActivated, this, [this](int) { Trigger(Cmd::OpenEntry); });
    connect(list_, &EntryListView::DeletePressed, this, [this] { Trigger(Cmd::Delete); });
}

void MainWindow::ApplySettings() {
    const app::Settings& s = App().Config();
    ListOptions o;
    o.rowSelect = s.RowSelect;
    o.gridLines = s.GridLines;
    o.singleClick = s.SingleClick;
    o.mousePoint = s.MousePoint;
    o.alwaysUnder = s.AlwaysUnder;
    list_->SetOptions(o);
    toolbar_->setToolButtonStyle(s.tbShowText ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    for (QAction* a : toolbar_->actions())
        if (auto* b = qobject_cast<QToolButton*>(toolbar_->widgetForAction(a))) b->setAutoRaise(s.tbFlat);
    QHeaderView* h = list_->horizontalHeader();
    for (int c = 0; c < app::kColumnCount; ++c) {
        int w = s.ColumnWidth(c);
        h->resizeSection(c, w > 0 ? w : app::kDefaultColumnWidths[static_cast<size_t>(c)]);
        h->setSectionHidden(c, w == 0 && c != app::colName);
    }
    // The stored positions: columns by their index, in order.
    std::vector<std::pair<int, int>> order;
    for (int c = 0; c < app::kColumnCount; ++c)
        order.emplace_back(s.Columns[static_cast<size_t>(c)].index, c);
    std::stable_sort(order.begin(), order.end());
    for (int pos = 0; pos < app::kColumnCount; ++pos) {
        int logical = order[static_cast<size_t>(pos)].second;
        int from = h->visualIndex(logical);
        if (from != pos) h->moveSection(from, pos);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Layout: restore at the first showing, save at exit

void MainWindow::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!firstShow_) return;
    firstShow_ = false;
    RestoreLayout();
    RunAssociationCheck();
    QTimer::singleShot(0, this, [this] { RunUpdateSchedule(); });
}

void MainWindow::RestoreGeometry() {
    app::Settings& s = App().Config();
    QScreen* scr = screen() ? screen() : QGuiApplication::primaryScreen();
    QRect area = scr->availableGeometry();
    app::WindowRect r{s.HasPosition ? s.X - area.x() : (area.width() - s.Width) / 2,
                      s.HasPosition ? s.Y - area.y() : (area.height() - s.Height) / 2, s.Width, s.Height};
    r = app::FitToScreen(r, area.width(), area.height());
    resize(r.width, r.height);
    move(area.x() + r.x, area.y() + r.y);
    if (s.Maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::RestoreLayout() {
    app::Settings& s = App().Config();

    switch (app::DockOfName(s.Docked)) {
        case app::Dock::Bottom:
            addToolBar(Qt::BottomToolBarArea, toolbar_);
            break;
        case app::Dock::Left:
            addToolBar(Qt::LeftToolBarArea, toolbar_);
            break;
        case app::Dock::Right:
            addToolBar(Qt::RightToolBarArea, toolbar_);
            break;
        default:
            addToolBar(Qt::TopToolBarArea, toolbar_);
            break;
    }
    toolbar_->setVisible(s.tbVisible != 0);
    statusBar()->setVisible(s.sbVisible != 0);
    actions_[Cmd::ViewToolbar]->setChecked(s.tbVisible != 0);
    actions_[Cmd::ViewStatusbar]->setChecked(s.sbVisible != 0);

    const bool floating = app::LogFloatingOf(s.tbLogVisible);
    logDock_->setFloating(floating);
    if (floating) {
        logDock_->setGeometry(s.tbLogLeft, s.tbLogTop, s.tbLogWidth, s.LogHeight(true));
    } else {
        resizeDocks({logDock_}, {app::DockedLogHeight(s.LogHeight(false), log_->minimumHeight())},
                    Qt::Vertical);
    }
    logDock_->setVisible(app::LogVisibleOf(s.tbLogVisible));
    actions_[Cmd::ViewLog]->setChecked(app::LogVisibleOf(s.tbLogVisible));
    LayoutStatusPanels();
}

void MainWindow::SaveLayout() {
    app::Settings& s = App().Config();
    s.Maximized = isMaximized();
    QRect g = s.Maximized ? normalGeometry() : geometry();
    s.X = g.x();
    s.Y = g.y();
    s.Width = g.width();
    s.Height = g.height();
    s.HasPosition = true;
    if (toolbar_->isFloating()) {
        s.Docked = app::NameOfDock(app::Dock::Floating);
        s.ToolbarLeft = toolbar_->x();
        s.ToolbarTop = toolbar_->y();
    } else {
        switch (toolBarArea(toolbar_)) {
            case Qt::BottomToolBarArea:
                s.Docked = app::NameOfDock(app::Dock::Bottom);
                break;
            case Qt::LeftToolBarArea:
                s.Docked = app::NameOfDock(app::Dock::Left);
                break;
            case Qt::RightToolBarArea:
                s.Docked = app::NameOfDock(app::Dock::Right);
                break;
            default:
                s.Docked = app::NameOfDock(app::Dock::Top);
                break;
        }
    }
    s.tbVisible = toolbar_->isHidden() ? 0 : 1;
    s.sbVisible = statusBar()->isHidden() ? 0 : 1;
    const bool floating = logDock_->isFloating();
    s.tbLogVisible = app::LogStateOf(!logDock_->isHidden(), floating);
    if (floating) {
        s.tbLogLeft = logDock_->x();
        s.tbLogTop = logDock_->y();
        s.tbLogWidth = logDock_->width();
    }
    s.tbLogHeight = app::StoredLogHeight(logDock_->height(), floating);
    QHeaderView* h = list_->horizontalHeader();
    for (int c = 0; c < app::kColumnCount; ++c) {
        auto& col = s.Columns[static_cast<size_t>(c)];
        col.width = h->isSectionHidden(c) ? 0 : h->sectionSize(c);
        col.index = h->visualIndex(c);
    }
}

void MainWindow::RunAssociationCheck() {
    if (App().CheckAssociations() != app::AssociationAction::Dialog) return;
    AssociationDialog d(this);
    if (d.exec() == QDialog::Accepted)
        app::ApplyAssociationDialog(App().FileAssociations(), App().Ini(), App().Config(), d.Ticked(),
                                    d.NeverAsk());
    else
        app::CancelAssociationDialog(App().Ini(), App().Config(), d.NeverAsk());
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (Model().Busy()) {
        // The running operation stops first; the window closes when it has.
        closePending_ = true;
        CancelRunning();
        e->ignore();
        return;
    }
    if (!exited_) {
        SaveLayout();
        exited_ = true;
        app_->Exit();
    }
    progress_->End();
    e->accept();
}

void MainWindow::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    LayoutStatusPanels();
}

void MainWindow::LayoutStatusPanels() {
    if (threePanels_) {
        auto w = app::StatusPanelWidths(statusBar()->width());
        panels_[0]->setFixedWidth(std::max(w[0], 60));
        panels_[1]->setFixedWidth(std::max(w[1], 60));
    } else {
        panels_[0]->setMinimumWidth(0);
        panels_[0]->setMaximumWidth(QWIDGETSIZE_MAX);
    }
    for (int i = 0; i < 3; ++i)
        ShowStatusText(i);
}

// ---------------------------------------------------------------------------------------------------------------
// Commands

void MainWindow::Trigger(Cmd c) {
    if (actions_[c]->isEnabled()) actions_[c]->trigger();
}

void MainWindow::OnCommand(Cmd c) {
    app::ArchiveModel& m = Model();
    if (!m.Enabled(c)) return;
    if (OnEntryCommand(c)) return;
    switch (c) {
        case Cmd::OpenArchive:
            OpenCommand();
            break;
        case Cmd::CloseArchive:
            m.Close();
            break;
        case Cmd::Exit:
            close();
            break;
        case Cmd::Extract:
            ExtractWithDialog(false);
            break;
        case Cmd::ExtractToNamedFolder:
            m.Extractor().ExtractToNamedFolder();
            break;
        case Cmd::ExtractHere:
            m.Extractor().ExtractHere();
            break;
        case Cmd::ExtractToFavourite:
            m.Extractor().ExtractToFavourite();
            break;
        case Cmd::SelectAll:
            m.SelectAll();
            break;
        case Cmd::UnselectAll:
            m.UnselectAll();
            break;
        case Cmd::InvertSelection:
            m.InvertSelection();
            break;
        case Cmd::ViewToolbar:
            toolbar_->setVisible(actions_[c]->isChecked());
            break;
        case Cmd::ViewStatusbar:
            statusBar()->setVisible(actions_[c]->isChecked());
            break;
        case Cmd::ViewLog:
            logDock_->setVisible(actions_[c]->isChecked());
            break;
        case Cmd::SendMail:
            MailArchive();
            break;
        case Cmd::Checkout:
            CheckoutArchiveCommand();
            break;
        case Cmd::Preferences:
            ShowPreferences();
            break;
        case Cmd::HelpTopics:
            ShowHelpTopics();
            break;
        case Cmd::ClearLog:
            log_->clear();
            break;
        case Cmd::SaveLog:
            SaveLogCommand();
            break;
        case Cmd::About:
            QMessageBox::about(
                this, QStringLiteral("About Varnok"),
                QStringLiteral("<b>Varnok</b><p>An archive manager for ZIP, JAR, ARJ, LZH, ARC, ZOO, "
                               "BH, TAR, GZIP, compress, UUE/XXE, RAR, ACE and CAB archives.</p>"));
            break;
        default: {
            if (OnAddCommand(c)) break;
            int col = app::ColumnOfSortCommand(c);
            if (col >= 0) m.SortByColumn(col);
            break;
        }
    }
}

void MainWindow::EditMailSettings() {
    mail::MailSettingsDialog d(App().Config(), App().Ini(), this);
    d.exec();
}

void MainWindow::EditUpdateSettings() {
    update::UpdateSettingsDialog d(App().Config(), App().Ini(), this);
    d.exec();
}

void MainWindow::MailArchive() {
    app::Settings& s = App().Config();
    const std::string archive = Model().IsOpen() ? Model().ArchivePath() : std::string();
    if (!s.InternalMail) {
        if (archive.empty()) return;
        if (!app::ProgramOnPath(mail::kXdgEmail)) {
            Message("Error", mail::XdgEmailMissingText());
            return;
        }
        // The mail program's compose window may stay open for long: its end is reported when it comes.
        auto* p = new QProcess(this);
        const auto argv = mail::XdgEmailCommand(archive);
        QStringList args;
        for (size_t i = 1; i < argv.size(); ++i)
            args << Q(argv[i]);
        connect(p, &QProcess::finished, this, [this, p](int code, QProcess::ExitStatus status) {
            std::string text = status == QProcess::NormalExit ? mail::XdgEmailStatusText(code)
                                                              : mail::XdgEmailStatusText(-1);
            if (!text.empty()) Message("Error", text);
            p->deleteLater();
        });
        connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart) return;
            Message("Error", mail::XdgEmailMissingText());
            p->deleteLater();
        });
        p->start(Q(argv[0]), args);
        Log("xdg-email --attach " + archive);
        return;
    }
    if (!mail::MailSettingsComplete(s)) {
        Message("Error", mail::kMailSettingsMissing);
        ShowPreferences(app::PreferencesPage::Mail);
        return;
    }
    mail::MailWindow w(s, archive, OpenFilters(), this);
    w.OnLog = [this](const std::string& line) { Log(line); };
    w.exec();
}

void MainWindow::CheckForUpdate(bool scheduled) {
    app::Settings& s = App().Config();
    update::TWebFileInfo wfi;
    update::ConfigureChecker(wfi, s);
    if (scheduled && wfi.HomeURL().empty()) return;
    update::UpdateDialogue dialogue(this, wfi);
    dialogue.CheckForUpdate();
    if (!dialogue.SavedPath().isEmpty()) Log("Update saved as " + S(dialogue.SavedPath()));
}

void MainWindow::RunUpdateSchedule() {
    app::Settings& s = App().Config();
    update::ScheduleDecision d = update::DecideSchedule(s.AutoUpd, s.LastCheck, s.CheckPeriod, update::NowAsDays());
    if (d.writeNow) {
        s.LastCheck = update::NowAsDays();
        App().Ini().WriteFloat("AutoUpd", "LastCheck", s.LastCheck);
        App().Ini().Flush();
    }
    if (d.runCheck) CheckForUpdate(true);
}

void MainWindow::OpenArchive(const QString& path) {
    if (Model().Busy()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Model().Open(S(QFileInfo(path).absoluteFilePath()));
    QApplication::restoreOverrideCursor();
}

void MainWindow::ExtractWithDialog(bool fromPopup) {
    app::Settings& s = App().Config();
    ExtractDialog d(this, Q(s.Extract), Model().TotalUnpacked(),
                    app::ExtractDialogStartsWithSelection(fromPopup, Model().SelectionCount()));
    d.exec();
    app::LastExtractChoices c = d.Choices();
    QString tree = d.TreeFolder();
    if (s.ExtractLast && !tree.isEmpty()) s.Extract = app::WithSlash(S(tree));
    Model().Extractor().RunDialogChoices(c);
}

void MainWindow::SaveLogCommand() {
    QFileDialog dlg(this, QStringLiteral("Save Log..."), Q(App().Config().Open),
                    QStringLiteral("Text files (*.txt)"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
    QFile f(dlg.selectedFiles().front());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        ShowMessage(this, QStringLiteral("Error"), f.errorString());
        return;
    }
    QTextStream(&f) << log_->toPlainText() << '\n';
}

void MainWindow::CancelRunning() {
    if (Model().Extractor().Running())
        Model().Extractor().Cancel();
    else
        Model().Lister().SetCancel(true);
}

// ---------------------------------------------------------------------------------------------------------------
// Dropping an archive onto the window

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (!Model().Busy() && e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    QStringList paths;
    for (const QUrl& u : e->mimeData()->urls())
        if (u.isLocalFile()) paths << u.toLocalFile();
    if (paths.isEmpty() || Model().Busy()) return;
    e->acceptProposedAction();
    // The drop's own event loop ends before the windows that follow open.
    QMetaObject::invokeMethod(this, [this, paths] {
        const QString& path = paths.front();
        if (paths.size() == 1 && QFileInfo(path).isFile() && IsArchiveExtension(path) &&
            Ask("Question", "The file you dragged is an archive, do you want to open it ?")) {
            OpenArchive(path);
            return;
        }
        AddWithOptions(paths);
    }, Qt::QueuedConnection);
}

bool MainWindow::eventFilter(QObject* o, QEvent* e) {
    // Tool tips of the toolbar follow the tbToolTips setting.
    if (e->type() == QEvent::ToolTip && !App().Config().tbToolTips) {
        QWidget* w = qobject_cast<QWidget*>(o);
        if (w && (w == toolbar_ || toolbar_->isAncestorOf(w))) return true;
    }
    return QMainWindow::eventFilter(o, e);
}

// ---------------------------------------------------------------------------------------------------------------
// ArchiveView

void MainWindow::SetTitle(const std::string& t) {
    setWindowTitle(Q(t));
}

void MainWindow::EnsureStatusPanels() {
    if (threePanels_) return;
    threePanels_ = true;
    panels_[0]->setFixedWidth(app::kStatusPanel0Width);
    panels_[1]->setFixedWidth(app::kStatusPanel1Width);
    panels_[1]->show();
    panels_[2]->show();
    LayoutStatusPanels();
}

void MainWindow::RemoveStatusPanels() {
    threePanels_ = false;
    panels_[1]->hide();
    panels_[2]->hide();
    statusTexts_[1].clear();
    statusTexts_[2].clear();
    LayoutStatusPanels();
}

void MainWindow::SetStatusText(int panel, const std::string& text) {
    if (panel < 0 || panel > 2) return;
    statusTexts_[static_cast<size_t>(panel)] = Q(text);
    ShowStatusText(panel);
}

void MainWindow::ShowStatusText(int panel) {
    QLabel* l = panels_[static_cast<size_t>(panel)];
    const QString& t = statusTexts_[static_cast<size_t>(panel)];
    int width = l->width() - 5 - l->contentsMargins().left() - l->contentsMargins().right();
    // Paths are shortened in the middle, keeping the archive's name visible.
    if (panel == 0 && threePanels_ && width > 20)
        l->setText(l->fontMetrics().elidedText(t, Qt::ElideMiddle, width));
    else
        l->setText(t);
    l->setToolTip(t);
}

void MainWindow::SetWaitCursor(bool on) {
    if (on) {
        if (waitCursor_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (waitCursor_ > 0 && --waitCursor_ == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::SetBusy(bool busy) {
    for (QMenu* m : topMenus_)
        m->menuAction()->setEnabled(!busy);
    toolbar_->setEnabled(!busy);
    list_->setEnabled(!busy);
    setAcceptDrops(!busy);
    if (!busy && closePending_) {
        closePending_ = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

void MainWindow::Log(const std::string& line) {
    log_->appendPlainText(Q(line));
}

void MainWindow::BeginRowsUpdate() {
    if (resetDepth_++ == 0) {
        table_->BeginReset();
        list_->setUpdatesEnabled(false);
    }
}

void MainWindow::EndRowsUpdate() {
    if (resetDepth_ == 0) {
        table_->BeginReset();
        table_->EndReset();
    } else if (--resetDepth_ == 0) {
        table_->EndReset();
        list_->setUpdatesEnabled(true);
    }
    UpdateSortIndicator();
}

void MainWindow::RowsSorted() {
    table_->BeginReset();
    table_->EndReset();
    ApplySelectionFromModel();
    UpdateSortIndicator();
}

void MainWindow::SelectionReset() {
    ApplySelectionFromModel();
}

void MainWindow::ApplySelectionFromModel() {
    app::ArchiveModel& m = Model();
    QItemSelection sel;
    const int n = m.RowCount();
    const int last = app::kColumnCount - 1;
    for (int i = 0; i < n;) {
        if (!m.IsSelected(i)) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < n && m.IsSelected(j + 1))
            ++j;
        sel.select(table_->index(i, 0), table_->index(j, last));
        i = j + 1;
    }
    syncingSelection_ = true;
    QItemSelectionModel* sm = list_->selectionModel();
    int focused = m.FocusedRow();
    if (focused >= 0) sm->setCurrentIndex(table_->index(focused, 0), QItemSelectionModel::NoUpdate);
    sm->select(sel, QItemSelectionModel::ClearAndSelect);
    syncingSelection_ = false;
}

void MainWindow::UpdateSortIndicator() {
    QHeaderView* h = list_->horizontalHeader();
    int col = Model().SortColumn();
    h->setSortIndicatorShown(col >= 0);
    if (col >= 0)
        h->setSortIndicator(col, Model().SortedDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void MainWindow::CommandsChanged() {
    app::ArchiveModel& m = Model();
    for (auto& [c, a] : actions_)
        a->setEnabled(m.Enabled(c));
    popupExtract_->setEnabled(m.Enabled(Cmd::Extract));
    installToolAction_->setEnabled(m.Enabled(Cmd::Install));
    int col = m.SortColumn();
    for (int i = 0; i < 7; ++i)
        actions_[app::SortCommandOf(i)]->setChecked(i == col);
    for (QAction* a : extractHistory_)
        a->setEnabled(m.Enabled(Cmd::Extract));
    for (QAction* a : openHistory_)
        a->setEnabled(!m.Busy());
}

void MainWindow::SetInstallVisible(bool visible) {
    installToolAction_->setVisible(visible);
    actions_[Cmd::Install]->setVisible(true);
}

void MainWindow::HistoryChanged() {
    const app::Settings& s = App().Config();
    bool anyExtract = false;
    for (size_t i = 0; i < app::kHistorySlots; ++i) {
        const std::string& o = s.OpenHistory.Slots()[i];
        openHistory_[i]->setText(QStringLiteral("&%1 ").arg(i + 1) + Q(o));
        openHistory_[i]->setVisible(!o.empty());
        const std::string& x = s.ExtractHistory.Slots()[i];
        extractHistory_[i]->setText(Q(x));
        extractHistory_[i]->setVisible(!x.empty());
        anyExtract = anyExtract || !x.empty();
    }
    if (extractHistorySeparator_) extractHistorySeparator_->setVisible(anyExtract);
}

void MainWindow::QuickExtractCaptionsChanged() {
    app::ArchiveModel& m = Model();
    QFontMetrics fm(menuBar()->font());
    auto caption = [&](const std::string& folder) {
        if (folder.empty()) return QStringLiteral("Extract to");
        return fm.elidedText(Q(app::ExtractToCaption(folder)), Qt::ElideMiddle,
                             180 + fm.horizontalAdvance(QStringLiteral("Extract to ")));
    };
    actions_[Cmd::ExtractToNamedFolder]->setText(caption(m.QuickExtractFolderNamed()));
    actions_[Cmd::ExtractHere]->setText(caption(m.QuickExtractFolderHere()));
}

bool MainWindow::Ask(const std::string& title, const std::string& text) {
    return AskYesNo(this, Q(title), MessageText(text));
}

void MainWindow::Message(const std::string& title, const std::string& text) {
    ShowMessage(this, Q(title), MessageText(text));
}

app::OverwriteAnswer MainWindow::AskOverwrite(const app::OverwritePrompt& p) {
    return overwrite_->Ask(p);
}

std::optional<std::string> MainWindow::AskPassword(const std::string& entryName) {
    return password_->AskForExtract(entryName);
}

std::optional<std::string> MainWindow::AskNextVolume(const std::string& prompt, const std::string& path) {
    bool ok = false;
    QString r = QInputDialog::getText(this, QStringLiteral("Get next volume"), Q(prompt), QLineEdit::Normal,
                                      Q(path), &ok);
    if (!ok) return std::nullopt;
    return S(r);
}

void MainWindow::ProgressOpen(const std::string& header) {
    progress_->Begin(Q(header));
    eventsClock_.start();
}

void MainWindow::ProgressHeader(const std::string& header) {
    progress_->SetHeader(Q(header));
}

void MainWindow::ProgressFile(const std::string& name) {
    progress_->SetFile(Q(name));
    ProcessEvents();
}

void MainWindow::ProgressBars(int file, int total) {
    progress_->SetBars(file, total);
}

void MainWindow::ProgressClose() {
    progress_->End();
}

void MainWindow::ProcessEvents() {
    // Between blocks and entries: often enough for a responsive Cancel, rarely enough to cost nothing.
    if (eventsClock_.isValid() && eventsClock_.elapsed() < eventIntervalMs_) return;
    eventsClock_.restart();
    progress_->Poll();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace varnok::ui
