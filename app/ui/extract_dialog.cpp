#include "app/ui/extract_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/formatting.h"
#include "app/paths.h"
#include "app/ui/ui_common.h"
#include "platform/drive.h"

namespace varnok::ui {

namespace {

const char* const kCantCreate = "Can\"t create directory !";

}  // namespace

NewFolderDialog::NewFolderDialog(QWidget* parent, const QString& currentFolder)
    : QDialog(parent), folder_(currentFolder) {
    setWindowTitle(QStringLiteral("Create new folder"));
    auto* v = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* actual = new QLabel(currentFolder, this);
    actual->setTextFormat(Qt::PlainText);
    form->addRow(QStringLiteral("Actual Dir:"), actual);
    name_ = new QLineEdit(this);
    form->addRow(QStringLiteral("New Folder"), name_);
    v->addLayout(form);
    auto* h = new QHBoxLayout;
    h->addStretch(1);
    create_ = new QPushButton(QStringLiteral("&Create"), this);
    create_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    h->addWidget(create_);
    h->addWidget(cancel);
    v->addLayout(h);
    connect(create_, &QPushButton::clicked, this, &NewFolderDialog::Create);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(380);
}

void NewFolderDialog::Create() {
    QString name = name_->text().trimmed();
    if (name.isEmpty()) return;
    QString path = QDir(folder_).filePath(name);
    if (QFileInfo::exists(path)) {
        ShowMessage(this, QStringLiteral("Error"), QStringLiteral("Directory already exists !"));
        return;
    }
    if (name.contains(QLatin1Char('/')) || !QDir().mkdir(path)) {
        ShowMessage(this, QStringLiteral("Error"), QLatin1String(kCantCreate));
        return;
    }
    created_ = path;
    accept();
}

ExtractDialog::ExtractDialog(QWidget* parent, const QString& startFolder, uint64_t requiredBytes,
                             bool selectedFiles)
    : QDialog(parent), required_bytes_(requiredBytes) {
    setWindowTitle(QStringLiteral("Extract files"));
    setMinimumSize(466, 300);
    resize(600, 440);
    FreeSpace = [](const QString& path) { return platform::QueryDrive(S(path)).freeBytes; };

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* body = new QHBoxLayout;
    body->setContentsMargins(9, 9, 9, 0);

    auto* left = new QVBoxLayout;
    auto* destRow = new QFormLayout;
    dest_ = new QLineEdit(this);
    destRow->addRow(QStringLiteral("Destination Dir:"), dest_);
    left->addLayout(destRow);
    fs_ = new QFileSystemModel(this);
    fs_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    fs_->setRootPath(QStringLiteral("/"));
    tree_ = new QTreeView(this);
    tree_->setModel(fs_);
    tree_->setRootIndex(fs_->index(QStringLiteral("/")));
    for (int c = 1; c < fs_->columnCount(); ++c)
        tree_->hideColumn(c);
    tree_->setHeaderHidden(true);
    tree_->setAnimated(false);
    tree_->setUniformRowHeights(true);
    left->addWidget(tree_, 1);
    body->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    auto* files = new QGroupBox(QStringLiteral("Files"), this);
    auto* fv = new QVBoxLayout(files);
    all_ = new QRadioButton(QStringLiteral("All files"), files);
    selected_ = new QRadioButton(QStringLiteral("Selected files"), files);
    fv->addWidget(all_);
    fv->addWidget(selected_);
    (selectedFiles ? selected_ : all_)->setChecked(true);
    right->addWidget(files);
    folderNames_ = new QCheckBox(QStringLiteral("Use folder names"), this);
    folderNames_->setChecked(true);
    overwrite_ = new QCheckBox(QStringLiteral("Overwrite existing files"), this);
    skipOlder_ = new QCheckBox(QStringLiteral("Skip older files"), this);
    right->addWidget(folderNames_);
    right->addWidget(overwrite_);
    right->addWidget(skipOlder_);
    right->addStretch(1);
    extract_ = new QPushButton(QStringLiteral("&Extract"), this);
    extract_->setDefault(true);
    newFolder_ = new QPushButton(QStringLiteral("&New Folder"), this);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    right->addWidget(extract_);
    right->addWidget(newFolder_);
    right->addWidget(cancel);
    body->addLayout(right);
    outer->addLayout(body, 1);

    auto* bar = new QStatusBar(this);
    bar->setSizeGripEnabled(true);
    required_ = new QLabel(this);
    free_ = new QLabel(this);
    bar->addWidget(required_, 1);
    bar->addWidget(free_, 1);
    outer->addWidget(bar);

    connect(extract_, &QPushButton::clicked, this, &ExtractDialog::TryExtract);
    connect(newFolder_, &QPushButton::clicked, this, &ExtractDialog::NewFolder);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        revealing_.clear();
        FolderChanged();
    });
    // Once the user scrolls, the view is theirs.
    connect(tree_->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { revealing_.clear(); });
    // Folders are read in the background: the chosen one is brought into view as the rows above it arrive.
    auto reveal = [this] {
        if (!revealing_.isEmpty()) QTimer::singleShot(0, this, [this] { RevealCurrent(); });
    };
    connect(fs_, &QAbstractItemModel::rowsInserted, this, reveal);
    connect(fs_, &QAbstractItemModel::layoutChanged, this, reveal);

    QString start = startFolder;
    if (start.isEmpty() || !QFileInfo(start).isDir()) start = QDir::homePath();
    SelectFolder(QDir::cleanPath(start));
}

void ExtractDialog::SelectFolder(const QString& path) {
    QModelIndex i = fs_->index(path);
    if (!i.isValid()) return;
    for (QModelIndex p = i.parent(); p.isValid(); p = p.parent())
        tree_->expand(p);
    tree_->setCurrentIndex(i);
    tree_->expand(i);
    tree_->scrollTo(i, QAbstractItemView::PositionAtCenter);
    revealing_ = path;
    FolderChanged();
}

QString ExtractDialog::TreeFolder() const {
    QModelIndex i = tree_->currentIndex();
    return i.isValid() ? fs_->filePath(i) : QString();
}

void ExtractDialog::FolderChanged() {
    QString folder = TreeFolder();
    newFolder_->setEnabled(!folder.isEmpty());
    if (!folder.isEmpty()) dest_->setText(folder);
    ShowFree(folder);
}

void ExtractDialog::ShowFree(const QString& folder) {
    if (folder.size() < 1 || !folder.startsWith(QLatin1Char('/'))) {
        free_->setText(QStringLiteral("n/a"));
        return;
    }
    free_->setText(QStringLiteral("free: %1 MB").arg(Q(app::MegabytesText(FreeSpace(folder)))));
}

void ExtractDialog::showEvent(QShowEvent* e) {
    required_->setText(QStringLiteral("required: %1 MB").arg(Q(app::MegabytesText(required_bytes_))));
    ShowFree(TreeFolder());
    QDialog::showEvent(e);
    QTimer::singleShot(0, this, [this] { RevealCurrent(); });
    QTimer::singleShot(3000, this, [this] { revealing_.clear(); });
}

void ExtractDialog::RevealCurrent() {
    QModelIndex i = tree_->currentIndex();
    if (!i.isValid() || !isVisible()) return;
    tree_->scrollTo(i, QAbstractItemView::PositionAtCenter);
}

void ExtractDialog::NewFolder() {
    QString folder = TreeFolder();
    if (folder.isEmpty()) return;
    NewFolderDialog d(this, folder);
    if (d.exec() != QDialog::Accepted) return;
    SelectFolder(d.Created());
    dest_->setText(d.Created());
}

void ExtractDialog::TryExtract() {
    QString folder = TreeFolder();
    if (folder.size() < 1) {
        free_->setText(QStringLiteral("n/a"));
        return;
    }
    QString dest = dest_->text().trimmed();
    if (dest.isEmpty()) dest = folder;
    if (!dest.startsWith(QLatin1Char('/'))) dest = QDir(folder).filePath(dest);
    dest = QDir::cleanPath(dest);
    if (FreeSpace(dest) < required_bytes_ &&
        !AskYesNo(this, QStringLiteral("Confirm"),
                  QStringLiteral("Not enough free disk space. Continue extracting ?")))
        return;
    // A missing destination is made, one level deep.
    if (!QFileInfo(dest).isDir() && !QDir().mkdir(dest)) {
        ShowMessage(this, QStringLiteral("Error"), QLatin1String(kCantCreate));
        return;
    }
    dest_->setText(dest);
    accepted_ = true;
    accept();
}

app::LastExtractChoices ExtractDialog::Choices() const {
    app::LastExtractChoices c;
    c.destination = accepted_ ? app::WithSlash(S(dest_->text())) : std::string();
    c.selectedOnly = selected_->isChecked();
    c.useFolderNames = folderNames_->isChecked();
    c.overwrite = overwrite_->isChecked();
    c.skipOlder = skipOlder_->isChecked();
    c.cancelled = !accepted_;
    return c;
}

}  // namespace varnok::ui
