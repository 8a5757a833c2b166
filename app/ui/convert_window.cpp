#include "app/ui/convert_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

namespace {

const char* const kConvertFilter =
    "All archives|*.zip;*.rar;*.jar;*.ace;*.arc;*.arj;*.cab;*.vca;*.gz;*.lzh;*.tar;*.zoo;*.lha;*.bh;|"
    "Zip files (*.zip)|*.zip;|Arj files (*.arj)|*.arj;|Ace files (*.ace)|*.ace;|Arc files (*.arc)|*.arc;|"
    "BlakHole files (*.bh)|*.bh;|Cabinet files (*.cab)|*.cab;|GZip files (*.gz)|*.gz;|Jar files (*.jar)|*.jar;|"
    "Lha files (*.lzh)|*.lzh;|Rar files (*.rar)|*.rar;|Tar files (*.tar)|*.tar;|Zoo files (*.zoo)|*.zoo;|";

}  // namespace

ConvertWindow::ConvertWindow(QWidget* parent, const QString& openArchive, const QString& tempDir)
    : ToolWindowBase(parent) {
    setWindowTitle(QStringLiteral("Convert archive..."));
    tool_.options.tempDir = S(tempDir);
    auto* v = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setMaximumHeight(110);
    top->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    add_ = new QPushButton(QStringLiteral("+"), this);
    remove_ = new QPushButton(QStringLiteral("-"), this);
    add_->setAutoDefault(false);
    remove_->setAutoDefault(false);
    side->addWidget(add_);
    side->addWidget(remove_);
    side->addStretch(1);
    top->addLayout(side);
    v->addLayout(top);

    tabs_ = new QTabWidget(this);
    options_ = new QWidget(this);
    auto* og = new QGridLayout(options_);
    og->addWidget(new QLabel(QStringLiteral("Action:"), options_), 0, 0);
    action_ = new QComboBox(options_);
    action_->addItems({QStringLiteral("Create new archive"), QStringLiteral("Add to archive")});
    og->addWidget(action_, 0, 1);
    deleteSource_ = new QCheckBox(QStringLiteral("Delete source file"), options_);
    integrity_ = new QCheckBox(QStringLiteral("Integrity check"), options_);
    integrity_->setChecked(true);
    og->addWidget(deleteSource_, 1, 0, 1, 2);
    og->addWidget(integrity_, 2, 0, 1, 2);
    auto* typeBox = new QGroupBox(QStringLiteral("Archive Type:"), options_);
    auto* tv = new QVBoxLayout(typeBox);
    auto* group = new QButtonGroup(this);
    for (int i = 0; i < app::kConvertTypeCount; ++i) {
        const auto t = static_cast<app::ConvertType>(i);
        auto* r = new QRadioButton(QString::fromUtf8(app::ConvertTool::TypeCaption(t)), typeBox);
        // A type this program cannot write is shown, but cannot be chosen.
        r->setEnabled(app::ConvertTool::TypeAvailable(t));
        group->addButton(r, i);
        tv->addWidget(r);
        types_[static_cast<size_t>(i)] = r;
    }
    for (QRadioButton* r : types_)
        if (r->isEnabled()) {
            r->setChecked(true);
            break;
        }
    og->addWidget(typeBox, 0, 2, 4, 1);
    auto* dest = new QGroupBox(QStringLiteral("Convert archive to:"), options_);
    auto* dg = new QGridLayout(dest);
    dg->addWidget(new QLabel(QStringLiteral("Directory"), dest), 0, 0);
    folder_ = new QLineEdit(QDir::homePath(), dest);
    dg->addWidget(folder_, 0, 1);
    browse_ = new QPushButton(QStringLiteral("..."), dest);
    browse_->setAutoDefault(false);
    dg->addWidget(browse_, 0, 2);
    dg->addWidget(new QLabel(QStringLiteral("Dest. mode"), dest), 1, 0);
    destMode_ = new QComboBox(dest);
    destMode_->addItems({QStringLiteral("Store in directory given above"), QStringLiteral("Store in own directory")});
    dg->addWidget(destMode_, 1, 1, 1, 2);
    og->addWidget(dest, 4, 0, 1, 3);
    og->setColumnStretch(1, 1);
    tabs_->addTab(options_, QStringLiteral("Options"));
    log_ = new QPlainTextEdit(this);
    log_->setReadOnly(true);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    tabs_->addTab(log_, QStringLiteral("Details"));
    v->addWidget(tabs_, 1);

    auto* status = new QHBoxLayout;
    for (size_t i = 0; i < panels_.size(); ++i) {
        panels_[i] = new QLabel(this);
        panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panels_[i]->setTextFormat(Qt::PlainText);
        panels_[i]->setMinimumWidth(60);
        status->addWidget(panels_[i], i == 2 ? 0 : 1);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok_ = new QPushButton(QStringLiteral("&OK"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel_->setAutoDefault(false);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    v->addLayout(buttons);
    v->addLayout(status);
    resize(580, 480);

    connect(add_, &QPushButton::clicked, this,
            [this] { AddArchives(PickArchives(QString::fromUtf8(kConvertFilter), true)); });
    connect(remove_, &QPushButton::clicked, this, [this] {
        tool_.list.Remove(SelectedRows(list_));
        FillList();
    });
    connect(browse_, &QPushButton::clicked, this, [this] {
        QString d = QFileDialog::getExistingDirectory(this, QStringLiteral("Select folder"), folder_->text());
        if (!d.isEmpty()) folder_->setText(d);
    });
    connect(destMode_, &QComboBox::currentIndexChanged, this, [this] { DestModeChanged(); });
    connect(ok_, &QPushButton::clicked, this, [this] { ConvertAll(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    if (!openArchive.isEmpty()) AddArchives({openArchive});
    FillList();
}

void ConvertWindow::AddArchives(const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& f : files)
        paths.push_back(S(f));
    tool_.list.Add(paths, *this);
    FillList();
}

void ConvertWindow::FillList() {
    list_->clear();
    for (const auto& f : tool_.list.Files())
        list_->addItem(Q(f));
    ok_->setEnabled(!tool_.list.Empty() && !tool_.Running());
}

void ConvertWindow::DestModeChanged() {
    const bool own = destMode_->currentIndex() == 1;
    folder_->setEnabled(!own);
    browse_->setEnabled(!own);
}

void ConvertWindow::ConvertAll() {
    if (tool_.Running() || tool_.list.Empty()) return;
    app::ConvertOptions& o = tool_.options;
    o.addToArchive = action_->currentIndex() == 1;
    o.deleteSource = deleteSource_->isChecked();
    o.integrityCheck = integrity_->isChecked();
    for (int i = 0; i < app::kConvertTypeCount; ++i)
        if (types_[static_cast<size_t>(i)]->isChecked()) o.type = static_cast<app::ConvertType>(i);
    o.ownDirectory = destMode_->currentIndex() == 1;
    o.folder = S(QDir::fromNativeSeparators(folder_->text().trimmed()));
    last_ = tool_.Run();
    FillList();
}

void ConvertWindow::DetailsLine(const std::string& line) {
    log_->appendPlainText(Q(line));
}

void ConvertWindow::DetailsAppend(const std::string& text) {
    AppendToLastLine(log_, Q(text));
}

void ConvertWindow::Status(int panel, const std::string& text) {
    if (panel < 0 || panel > 2) return;
    QLabel* l = panels_[static_cast<size_t>(panel)];
    l->setToolTip(Q(text));
    l->setText(l->fontMetrics().elidedText(Q(text), Qt::ElideMiddle, std::max(l->width() - 6, 40)));
}

void ConvertWindow::SetRunning(bool running) {
    for (QWidget* w : {static_cast<QWidget*>(list_), static_cast<QWidget*>(add_), static_cast<QWidget*>(remove_),
                       static_cast<QWidget*>(ok_), options_})
        w->setEnabled(!running);
    if (running) tabs_->setCurrentWidget(log_);
    if (!running) {
        FillList();
        DestModeChanged();
    }
}

}  // namespace varnok::ui
