#include "app/ui/copy_move_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/ui/extract_dialog.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

CopyMoveDialog::CopyMoveDialog(QWidget* parent, bool move, const QString& fileName, const QString& startFolder)
    : QDialog(parent), fileName_(fileName) {
    setWindowTitle(QStringLiteral("Copy & Move Archive"));
    auto* v = new QVBoxLayout(this);

    auto* function = new QGroupBox(QStringLiteral("Function"), this);
    auto* fl = new QHBoxLayout(function);
    copy_ = new QRadioButton(QStringLiteral("Copy"), function);
    move_ = new QRadioButton(QStringLiteral("Move"), function);
    fl->addWidget(copy_);
    fl->addWidget(move_);
    v->addWidget(function);

    caption_ = new QLabel(this);
    caption_->setTextFormat(Qt::PlainText);
    v->addWidget(caption_);
    target_ = new QLineEdit(this);
    v->addWidget(target_);

    fs_ = new QFileSystemModel(this);
    fs_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    fs_->setRootPath(QStringLiteral("/"));
    tree_ = new QTreeView(this);
    tree_->setModel(fs_);
    for (int c = 1; c < fs_->columnCount(); ++c)
        tree_->hideColumn(c);
    tree_->header()->hide();
    v->addWidget(tree_, 1);

    auto* box = new QDialogButtonBox(this);
    auto* newFolder = box->addButton(QStringLiteral("New folder..."), QDialogButtonBox::ActionRole);
    ok_ = box->addButton(QStringLiteral("Copy"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    v->addWidget(box);

    connect(copy_, &QRadioButton::toggled, this, &CopyMoveDialog::FunctionChanged);
    connect(box, &QDialogButtonBox::accepted, this, [this] {
        if (!Target().isEmpty()) accept();
    });
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(newFolder, &QPushButton::clicked, this, &CopyMoveDialog::NewFolder);
    connect(tree_, &QTreeView::clicked, this, [this](const QModelIndex& i) { target_->setText(fs_->filePath(i)); });
    connect(target_, &QLineEdit::textChanged, this, [this] { ok_->setEnabled(!Target().isEmpty()); });

    (move ? move_ : copy_)->setChecked(true);
    FunctionChanged();
    SelectFolder(QFileInfo(startFolder).isDir() ? startFolder : QDir::homePath());
    resize(460, 480);
}

bool CopyMoveDialog::Move() const {
    return move_->isChecked();
}

QString CopyMoveDialog::Target() const {
    return target_->text().trimmed();
}

void CopyMoveDialog::FunctionChanged() {
    const bool move = Move();
    caption_->setText((move ? QStringLiteral("Move Archive ") : QStringLiteral("Copy Archive ")) + fileName_ +
                      QStringLiteral(" to:"));
    ok_->setText(move ? QStringLiteral("Move") : QStringLiteral("Copy"));
}

void CopyMoveDialog::SelectFolder(const QString& folder) {
    const QString abs = QDir(folder).absolutePath();
    target_->setText(abs);
    const QModelIndex i = fs_->index(abs);
    if (i.isValid()) {
        tree_->setCurrentIndex(i);
        tree_->scrollTo(i);
    }
}

void CopyMoveDialog::NewFolder() {
    const QString base = QFileInfo(Target()).isDir() ? Target() : QDir::homePath();
    NewFolderDialog d(this, base);
    if (d.exec() != QDialog::Accepted) return;
    SelectFolder(d.Created());
}

}  // namespace varnok::ui
