#include "app/ui/repair_window.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

RepairWindow::RepairWindow(QWidget* parent, const QString& openArchive) : ToolWindowBase(parent) {
    setWindowTitle(QStringLiteral("Repair damaged zip files"));
    setMinimumSize(500, 400);
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
    auto* summaryPage = new QWidget(this);
    auto* sv = new QVBoxLayout(summaryPage);
    sv->setContentsMargins(0, 0, 0, 0);
    summary_ = new QPlainTextEdit(summaryPage);
    bar_ = new QProgressBar(summaryPage);
    bar_->hide();
    sv->addWidget(summary_, 1);
    sv->addWidget(bar_);
    details_ = new QPlainTextEdit(this);
    for (QPlainTextEdit* e : {summary_, details_}) {
        e->setReadOnly(true);
        e->setLineWrapMode(QPlainTextEdit::NoWrap);
    }
    tabs_->addTab(summaryPage, QStringLiteral("Summary"));
    tabs_->addTab(details_, QStringLiteral("Details"));
    v->addWidget(tabs_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    repair_ = new QPushButton(QStringLiteral("&Repair"), this);
    repair_->setDefault(true);
    close_ = new QPushButton(QStringLiteral("&Close"), this);
    close_->setAutoDefault(false);
    buttons->addWidget(repair_);
    buttons->addWidget(close_);
    v->addLayout(buttons);
    resize(560, 440);

    connect(add_, &QPushButton::clicked, this,
            [this] { AddArchives(PickArchives(QStringLiteral("Zip files (*.zip)|*.zip;|"), true)); });
    connect(remove_, &QPushButton::clicked, this, [this] {
        tool_.list.Remove(SelectedRows(list_));
        FillList();
    });
    connect(repair_, &QPushButton::clicked, this, [this] { RepairAll(); });
    connect(close_, &QPushButton::clicked, this, [this] { reject(); });
    if (!openArchive.isEmpty()) AddArchives({openArchive});
    FillList();
}

void RepairWindow::AddArchives(const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& f : files)
        paths.push_back(S(f));
    tool_.list.Add(paths, *this);
    FillList();
}

void RepairWindow::FillList() {
    list_->clear();
    for (const auto& f : tool_.list.Files())
        list_->addItem(Q(f));
    // "&Repair" exactly when there is something to repair.
    repair_->setEnabled(tool_.RepairEnabled());
}

void RepairWindow::RepairAll() {
    if (!tool_.RepairEnabled()) return;
    tool_.Run();
}

void RepairWindow::ClearLogs() {
    summary_->clear();
    details_->clear();
}

void RepairWindow::SummaryLine(const std::string& line) {
    summary_->appendPlainText(Q(line));
}

void RepairWindow::DetailsLine(const std::string& line) {
    details_->appendPlainText(Q(line));
}

void RepairWindow::ListBar(int done, int total) {
    if (total <= 0) {
        bar_->hide();
        return;
    }
    bar_->setRange(0, total);
    bar_->setValue(done);
    bar_->show();
}

void RepairWindow::SetRunning(bool running) {
    for (QWidget* w : {static_cast<QWidget*>(list_), static_cast<QWidget*>(add_), static_cast<QWidget*>(remove_),
                       static_cast<QWidget*>(repair_)})
        w->setEnabled(!running);
    close_->setText(running ? QStringLiteral("&Stop") : QStringLiteral("&Close"));
    if (!running) FillList();
}

}  // namespace varnok::ui
