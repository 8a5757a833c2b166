#include "app/ui/progress_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace varnok::ui {

ProgressWindow::ProgressWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral("Status..."));
    setModal(false);
    auto* v = new QVBoxLayout(this);
    header_ = new QLabel(this);
    QFont f = header_->font();
    f.setBold(true);
    header_->setFont(f);
    v->addWidget(header_);
    auto* g = new QGridLayout;
    g->addWidget(new QLabel(QStringLiteral("Current file :"), this), 0, 0);
    file_ = new QLabel(this);
    file_->setMinimumWidth(260);
    file_->setTextFormat(Qt::PlainText);
    g->addWidget(file_, 0, 1);
    fileBar_ = new QProgressBar(this);
    fileBar_->setRange(0, 100);
    g->addWidget(fileBar_, 1, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Entire progress :"), this), 2, 0, 1, 2);
    totalBar_ = new QProgressBar(this);
    totalBar_->setRange(0, 100);
    g->addWidget(totalBar_, 3, 0, 1, 2);
    g->setColumnStretch(1, 1);
    v->addLayout(g);
    auto* h = new QHBoxLayout;
    h->addStretch(1);
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel_->setAutoDefault(false);
    h->addWidget(cancel_);
    v->addLayout(h);
    connect(cancel_, &QPushButton::clicked, this, &ProgressWindow::CancelRequested);
    setMinimumWidth(400);
}

void ProgressWindow::Begin(const QString& header, int delayMs) {
    header_->setText(header);
    file_->clear();
    fileBar_->setValue(0);
    totalBar_->setValue(0);
    cancel_->setEnabled(true);
    active_ = true;
    delayMs_ = delayMs < 0 ? showDelayMs_ : delayMs;
    clock_.start();
    if (delayMs_ <= 0) Poll();
}

void ProgressWindow::SetHeader(const QString& header) {
    if (header_->text() != header) header_->setText(header);
}

void ProgressWindow::SetFile(const QString& name) {
    file_->setText(fontMetrics().elidedText(name, Qt::ElideMiddle, std::max(file_->width(), 260)));
    Poll();
}

void ProgressWindow::SetBars(int file, int total) {
    fileBar_->setValue(std::clamp(file, 0, 100));
    totalBar_->setValue(std::clamp(total, 0, 100));
}

void ProgressWindow::End() {
    active_ = false;
    fileBar_->setValue(0);
    totalBar_->setValue(0);
    if (!held_) hide();
}

void ProgressWindow::Hold(bool on) {
    held_ = on;
    if (!held_ && !active_) hide();
}

void ProgressWindow::Poll() {
    if (!active_ || isVisible() || clock_.elapsed() < delayMs_) return;
    if (QWidget* p = parentWidget()) {
        adjustSize();
        QRect r = p->geometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
}

void ProgressWindow::closeEvent(QCloseEvent* e) {
    // No system buttons: the window goes away with its operation, or through Cancel.
    if (active_) {
        e->ignore();
        emit CancelRequested();
        return;
    }
    QDialog::closeEvent(e);
}

void ProgressWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        if (active_) emit CancelRequested();
        return;
    }
    QDialog::keyPressEvent(e);
}

}  // namespace varnok::ui
