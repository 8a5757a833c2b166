#include "app/ui/encode_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

EncodeWindow::EncodeWindow(QWidget* parent, const QString& openArchive, bool checkValidity)
    : ToolWindowBase(parent), checkValidity_(checkValidity) {
    setWindowTitle(QStringLiteral("UUEncode or XXEncode archive..."));
    auto* v = new QVBoxLayout(this);
    auto* g = new QGridLayout;
    g->addWidget(new QLabel(QStringLiteral("Source:"), this), 0, 0);
    source_ = new QLineEdit(this);
    g->addWidget(source_, 0, 1);
    sourceBrowse_ = new QPushButton(QStringLiteral("..."), this);
    g->addWidget(sourceBrowse_, 0, 2);
    g->addWidget(new QLabel(QStringLiteral("Target:"), this), 1, 0);
    target_ = new QLineEdit(this);
    g->addWidget(target_, 1, 1);
    targetBrowse_ = new QPushButton(QStringLiteral("..."), this);
    g->addWidget(targetBrowse_, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Encoding:"), this), 2, 0);
    encoding_ = new QComboBox(this);
    encoding_->addItems({QStringLiteral("UUEncode"), QStringLiteral("XXEncode")});
    g->addWidget(encoding_, 2, 1);
    table_ = new QCheckBox(QStringLiteral("Write table to file"), this);
    g->addWidget(table_, 3, 1);
    g->setColumnStretch(1, 1);
    v->addLayout(g);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok_ = new QPushButton(QStringLiteral("&OK"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel_->setAutoDefault(false);
    for (QPushButton* b : {sourceBrowse_, targetBrowse_})
        b->setAutoDefault(false);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    v->addLayout(buttons);
    setMinimumWidth(460);
    source_->installEventFilter(this);

    tool_.Start(S(openArchive));
    ShowTool();

    connect(source_, &QLineEdit::textEdited, this, [this](const QString& t) { tool_.source = S(t); });
    connect(target_, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (filling_) return;
        tool_.target = S(t);
        ok_->setEnabled(tool_.OkEnabled());
    });
    connect(encoding_, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (filling_) return;
        tool_.SetEncoding(i == 1 ? app::TextEncoding::XXE : app::TextEncoding::UUE);
        ShowTool();
    });
    connect(sourceBrowse_, &QPushButton::clicked, this, [this] {
        QStringList f = PickArchives(QString::fromUtf8(kToolArchiveFilter), false);
        if (!f.isEmpty()) SourceChosen(f.front());
    });
    connect(targetBrowse_, &QPushButton::clicked, this, [this] {
        QString d = QFileDialog::getExistingDirectory(this, QStringLiteral("Select folder"),
                                                      QFileInfo(Q(tool_.target)).absolutePath());
        if (!d.isEmpty()) TargetFolderChosen(d);
    });
    connect(ok_, &QPushButton::clicked, this, [this] { Encode(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
}

void EncodeWindow::ShowTool() {
    filling_ = true;
    source_->setText(Q(tool_.source));
    target_->setText(Q(tool_.target));
    encoding_->setCurrentIndex(tool_.encoding == app::TextEncoding::XXE ? 1 : 0);
    ok_->setEnabled(tool_.OkEnabled() && !tool_.Running());
    filling_ = false;
}

void EncodeWindow::SourceChosen(const QString& path) {
    if (tool_.ChooseSource(S(path))) ShowTool();
}

void EncodeWindow::TargetFolderChosen(const QString& folder) {
    tool_.ChooseTargetFolder(S(folder));
    ShowTool();
}

void EncodeWindow::Encode() {
    if (tool_.Running() || !tool_.OkEnabled()) return;
    tool_.source = S(source_->text());
    tool_.target = S(target_->text());
    tool_.writeTable = table_->isChecked();
    last_ = tool_.Run(checkValidity_);
    if (last_ == app::ToolResult::Refused) {
        ok_->setEnabled(false);
        return;
    }
    if (last_ == app::ToolResult::Done) accept();
}

void EncodeWindow::SetRunning(bool running) {
    for (QWidget* w : {static_cast<QWidget*>(source_), static_cast<QWidget*>(target_),
                       static_cast<QWidget*>(sourceBrowse_), static_cast<QWidget*>(targetBrowse_),
                       static_cast<QWidget*>(encoding_), static_cast<QWidget*>(table_), static_cast<QWidget*>(ok_)})
        w->setEnabled(!running);
    if (!running) ok_->setEnabled(tool_.OkEnabled());
}

bool EncodeWindow::eventFilter(QObject* o, QEvent* e) {
    // Enter in the source field moves on to the target.
    if (o == source_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            tool_.source = S(source_->text());
            target_->setFocus();
            return true;
        }
    }
    return ToolWindowBase::eventFilter(o, e);
}

}  // namespace varnok::ui
