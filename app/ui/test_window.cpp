#include "app/ui/test_window.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

TestWindow::TestWindow(QWidget* parent, const QString& openArchive, const QString& tempDir)
    : ToolWindowBase(parent) {
    setWindowTitle(QStringLiteral("Testing archive..."));
    setMinimumSize(500, 400);
    tool_.tempDir = S(tempDir);
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
    summary_ = new QPlainTextEdit(this);
    details_ = new QPlainTextEdit(this);
    for (QPlainTextEdit* e : {summary_, details_}) {
        e->setReadOnly(true);
        e->setLineWrapMode(QPlainTextEdit::NoWrap);
    }
    tabs_->addTab(summary_, QStringLiteral("Summary"));
    tabs_->addTab(details_, QStringLiteral("Details"));
    v->addWidget(tabs_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    test_ = new QPushButton(QStringLiteral("&Test"), this);
    test_->setDefault(true);
    close_ = new QPushButton(QStringLiteral("&Close"), this);
    close_->setAutoDefault(false);
    buttons->addWidget(test_);
    buttons->addWidget(close_);
    v->addLayout(buttons);
    resize(560, 440);

    connect(add_, &QPushButton::clicked, this,
            [this] { AddArchives(PickArchives(QString::fromUtf8(kToolArchiveFilter), true)); });
    connect(remove_, &QPushButton::clicked, this, [this] {
        tool_.list.Remove(SelectedRows(list_));
        FillList();
    });
    connect(test_, &QPushButton::clicked, this, [this] { TestAll(); });
    connect(close_, &QPushButton::clicked, this, [this] { reject(); });
    if (!openArchive.isEmpty()) AddArchives({openArchive});
}

void TestWindow::showEvent(QShowEvent* e) {
    ToolWindowBase::showEvent(e);
    if (!shown_) {
        shown_ = true;
        ClearLogs();
    }
}

void TestWindow::AddArchives(const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& f : files)
        paths.push_back(S(f));
    tool_.list.Add(paths, *this);
    FillList();
}

void TestWindow::FillList() {
    list_->clear();
    for (const auto& f : tool_.list.Files())
        list_->addItem(Q(f));
    test_->setEnabled(!tool_.list.Empty() && !tool_.Running());
}

void TestWindow::TestAll() {
    if (tool_.Running() || tool_.list.Empty()) return;
    tool_.Run();
}

void TestWindow::ClearLogs() {
    summary_->clear();
    details_->clear();
}

void TestWindow::SummaryLine(const std::string& line) {
    summary_->appendPlainText(Q(line));
}

void TestWindow::DetailsLine(const std::string& line) {
    details_->appendPlainText(Q(line));
}

void TestWindow::SetRunning(bool running) {
    for (QWidget* w : {static_cast<QWidget*>(list_), static_cast<QWidget*>(add_), static_cast<QWidget*>(remove_),
                       static_cast<QWidget*>(test_)})
        w->setEnabled(!running);
    close_->setText(running ? QStringLiteral("&Stop") : QStringLiteral("&Close"));
    if (!running) FillList();
}

}  // namespace varnok::ui
