#include "app/ui/add_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeView>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/ui/exclude_dialog.h"
#include "app/ui/span_dialog.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

// ---------------------------------------------------------------------------------------------------------------
// Archive options

AddOptionsPage::AddOptionsPage(app::AddOperation& op, app::WriterFamily family, const app::Settings& settings,
                               QWidget* parent)
    : QWidget(parent), op_(op), settings_(settings) {
    auto* form = new QFormLayout;
    action_ = new QComboBox(this);
    compression_ = new QComboBox(this);
    span_ = new QComboBox(this);
    form->addRow(QStringLiteral("Action:"), action_);
    form->addRow(QStringLiteral("Compression:"), compression_);
    form->addRow(QStringLiteral("Multiple disk spanning:"), span_);
    password_ = new QPushButton(QStringLiteral("&Password"), this);

    auto* folders = new QGroupBox(QStringLiteral("Adding options"), this);
    auto* fl = new QVBoxLayout(folders);
    fullPath_ = new QCheckBox(QStringLiteral("Save full path info"), folders);
    relative_ = new QCheckBox(QStringLiteral("Save relative path info"), folders);
    subfolders_ = new QCheckBox(QStringLiteral("Include subfolders"), folders);
    recurse_ = new QCheckBox(QStringLiteral("Recursive through folders"), folders);
    empty_ = new QCheckBox(QStringLiteral("Include empty subdirectories"), folders);
    hidden_ = new QCheckBox(QStringLiteral("Add hidden files"), folders);
    dos83_ = new QCheckBox(QStringLiteral("Add in 8.3 format"), folders);
    for (QCheckBox* b : {fullPath_, relative_, subfolders_, recurse_, empty_, hidden_, dos83_})
        fl->addWidget(b);
    relative_->setChecked(true);
    subfolders_->setChecked(true);
    hidden_->setChecked(true);
    // Short DOS names have no meaning for the files of this system.
    dos83_->setEnabled(false);
    for (QCheckBox* b : {fullPath_, relative_, subfolders_, recurse_})
        connect(b, &QCheckBox::toggled, this, [this, b](bool on) { Couple(b, on); });

    auto* v = new QVBoxLayout(this);
    v->addLayout(form);
    v->addWidget(password_, 0, Qt::AlignLeft);
    v->addWidget(folders);
    v->addStretch();

    connect(span_, &QComboBox::activated, this, &AddOptionsPage::SpanChosen);
    connect(password_, &QPushButton::clicked, this, &AddOptionsPage::AskPassword);
    connect(action_, &QComboBox::currentIndexChanged, this, [this](int i) {
        static const char* const k[] = {"&Add", "&Update", "&Freshen", "&Move"};
        const int a = family_ == app::WriterFamily::Zip ? i : (i == 1 ? 3 : 0);
        emit ActionCaptionChanged(QString::fromLatin1(k[a < 0 ? 0 : a]));
    });
    // The add password stays set for later adds of the run.
    if (op_.passwordSet) passwordText_ = op_.addPassword;
    SetFamily(family);
}

void AddOptionsPage::SetFamily(app::WriterFamily family) {
    family_ = family;
    const QSignalBlocker b1(action_), b2(compression_);
    action_->clear();
    if (family == app::WriterFamily::Zip)
        action_->addItems({QStringLiteral("Add files"), QStringLiteral("Update files"),
                           QStringLiteral("Freshen files"), QStringLiteral("Move files")});
    else if (app::CanMove(family))
        action_->addItems({QStringLiteral("Add files"), QStringLiteral("Move files")});
    else
        action_->addItem(QStringLiteral("Add files"));
    compression_->clear();
    app::CompressionChoices c = app::CompressionFor(family, settings_);
    for (const auto& s : c.captions)
        compression_->addItem(Q(s));
    compression_->setCurrentIndex(c.start);
    span_->clear();
    if (family == app::WriterFamily::Zip && op_.CanSpan()) {
        span_->addItems({QStringLiteral("User defined"), QStringLiteral("Automatic"),
                         QStringLiteral("Automatic & disk format"), QStringLiteral("No spanning")});
        span_->setCurrentIndex(3);
        span_->setEnabled(true);
    } else {
        span_->addItem(QStringLiteral("No spanning availible"));
        span_->setEnabled(false);
    }
    password_->setEnabled(app::CanEncrypt(family));
    emit ActionCaptionChanged(QStringLiteral("&Add"));
}

void AddOptionsPage::Couple(QCheckBox* changed, bool on) {
    if (coupling_) return;
    coupling_ = true;
    app::PathOptions o{fullPath_->isChecked(), relative_->isChecked(), subfolders_->isChecked(),
                       recurse_->isChecked()};
    if (changed == fullPath_) o.SetFullPath(on);
    if (changed == relative_) o.SetRelativePath(on);
    if (changed == subfolders_) o.SetIncludeSubfolders(on);
    if (changed == recurse_) o.SetRecurse(on);
    fullPath_->setChecked(o.fullPath);
    relative_->setChecked(o.relativePath);
    subfolders_->setChecked(o.includeSubfolders);
    recurse_->setChecked(o.recurse);
    coupling_ = false;
}

void AddOptionsPage::SpanChosen(int index) {
    if (!span_->isEnabled()) return;
    if (index == 0) {
        SpanDialog d(op_.spanSizeKB, this);
        if (d.exec() == QDialog::Accepted) {
            op_.spanSizeKB = d.SizeKB();
            op_.spanAfterAdd = true;
        } else {
            span_->setCurrentIndex(3);
        }
    } else if (index == 1 || index == 2) {
        if (!op_.AutomaticSpanAllowed()) span_->setCurrentIndex(3);
    }
}

void AddOptionsPage::AskPassword() {
    SetPasswordDialog d(this);
    if (d.exec() != QDialog::Accepted) return;
    passwordText_ = d.Password();
    op_.addPassword = passwordText_;
    op_.passwordSet = true;
}

app::AddRequest AddOptionsPage::Request() const {
    app::AddRequest r;
    const int a = action_->currentIndex();
    r.action = family_ == app::WriterFamily::Zip ? a : (a == 1 ? 3 : 0);
    r.compression = compression_->currentIndex();
    r.spanMode = span_->isEnabled() ? span_->currentIndex() : 3;
    r.password = app::CanEncrypt(family_) ? passwordText_ : std::string();
    r.fullPath = fullPath_->isChecked();
    r.relativePath = relative_->isChecked();
    r.includeSubfolders = subfolders_->isChecked();
    r.recurse = recurse_->isChecked();
    r.emptyFolders = empty_->isChecked();
    r.hiddenFiles = hidden_->isChecked();
    r.dos83 = dos83_->isChecked();
    return r;
}

// ---------------------------------------------------------------------------------------------------------------
// Add dialog

AddDialog::AddDialog(app::AddOperation& op, app::WriterFamily family, const app::Settings& settings,
                     const QString& startFolder, QWidget* parent)
    : QDialog(parent), op_(op), folder_(startFolder) {
    setWindowTitle(QStringLiteral("Add files"));
    pages_ = new QTabWidget(this);

    auto* select = new QWidget(pages_);
    auto* sl = new QHBoxLayout(select);
    sl->addWidget(MakeBrowser(select), 3);

    auto* middle = new QVBoxLayout;
    auto* add = new QPushButton(QStringLiteral("A&dd >>"), select);
    auto* remove = new QPushButton(QStringLiteral("<< &Remove"), select);
    middle->addStretch();
    middle->addWidget(add);
    middle->addWidget(remove);
    middle->addStretch();
    sl->addLayout(middle);

    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Files and folders to add:"), select));
    list_ = new QListWidget(select);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    right->addWidget(list_);
    auto* listButtons = new QHBoxLayout;
    auto* selectList = new QPushButton(QStringLiteral("Select a&ll"), select);
    auto* exclude = new QPushButton(QStringLiteral("Exclude..."), select);
    listButtons->addWidget(selectList);
    listButtons->addStretch();
    listButtons->addWidget(exclude);
    right->addLayout(listButtons);
    sl->addLayout(right, 2);
    pages_->addTab(select, QStringLiteral("Select files"));

    options_ = new AddOptionsPage(op, family, settings, pages_);
    pages_->addTab(options_, QStringLiteral("Archive options"));

    auto* box = new QDialogButtonBox(this);
    ok_ = box->addButton(QStringLiteral("&Add"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    auto* v = new QVBoxLayout(this);
    v->addWidget(pages_);
    v->addWidget(box);

    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(options_, &AddOptionsPage::ActionCaptionChanged, ok_, &QPushButton::setText);
    connect(add, &QPushButton::clicked, this, &AddDialog::AddSelected);
    connect(remove, &QPushButton::clicked, this, [this] {
        qDeleteAll(list_->selectedItems());
        UpdateOk();
    });
    connect(selectList, &QPushButton::clicked, list_, &QListWidget::selectAll);
    connect(exclude, &QPushButton::clicked, this, [this] {
        ExcludeDialog d(op_.excludeList, this);
        if (d.exec() == QDialog::Accepted) op_.excludeList = d.Patterns();
    });
    UpdateOk();
    ShowFolder(QFileInfo(startFolder).isDir() ? startFolder : QDir::homePath());
    resize(900, 520);
}

QWidget* AddDialog::MakeBrowser(QWidget* parent) {
    auto* w = new QWidget(parent);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    folderField_ = new QLineEdit(w);
    folderField_->setObjectName(QStringLiteral("folder"));
    v->addWidget(folderField_);

    // Two models over the file system: folders only for the tree, the chosen folder's entries for the views.
    dirs_ = new QFileSystemModel(w);
    dirs_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    dirs_->setRootPath(QStringLiteral("/"));
    files_ = new QFileSystemModel(w);
    // Folders stay visible whatever the mask, so that the user can still go into them.
    files_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden);
    files_->setNameFilterDisables(false);
    files_->setReadOnly(true);

    auto* split = new QSplitter(Qt::Horizontal, w);
    folders_ = new QTreeView(split);
    folders_->setModel(dirs_);
    for (int c = 1; c < dirs_->columnCount(); ++c)
        folders_->hideColumn(c);
    folders_->header()->hide();
    views_ = new QStackedWidget(split);
    icons_ = new QListView(views_);
    icons_->setModel(files_);
    icons_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    details_ = new QTreeView(views_);
    details_->setModel(files_);
    details_->setRootIsDecorated(false);
    details_->setItemsExpandable(false);
    details_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // One selection for both forms of the view.
    details_->setSelectionModel(icons_->selectionModel());
    views_->addWidget(icons_);
    views_->addWidget(details_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    v->addWidget(split, 1);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Mask:"), w));
    mask_ = new QLineEdit(QStringLiteral("*.*"), w);
    mask_->setObjectName(QStringLiteral("mask"));
    row->addWidget(mask_);
    auto* all = new QPushButton(QStringLiteral("Select &all"), w);
    auto* asList = new QPushButton(QStringLiteral("List"), w);
    auto* asReport = new QPushButton(QStringLiteral("Details"), w);
    asList->setCheckable(true);
    asReport->setCheckable(true);
    asList->setChecked(true);
    row->addWidget(all);
    row->addWidget(asList);
    row->addWidget(asReport);
    v->addLayout(row);

    connect(folders_, &QTreeView::clicked, this,
            [this](const QModelIndex& i) { ShowFolder(dirs_->filePath(i)); });
    connect(icons_, &QListView::doubleClicked, this, [this](const QModelIndex& i) {
        if (files_->isDir(i)) ShowFolder(files_->filePath(i));
    });
    connect(details_, &QTreeView::doubleClicked, this, [this](const QModelIndex& i) {
        if (files_->isDir(i)) ShowFolder(files_->filePath(i));
    });
    connect(folderField_, &QLineEdit::returnPressed, this, [this] {
        if (QFileInfo(folderField_->text()).isDir()) ShowFolder(folderField_->text());
    });
    connect(mask_, &QLineEdit::textChanged, this, &AddDialog::SetMask);
    connect(all, &QPushButton::clicked, this, [this] {
        QAbstractItemView* view = views_->currentIndex() == 0 ? static_cast<QAbstractItemView*>(icons_) : details_;
        view->selectAll();
    });
    connect(asList, &QPushButton::clicked, this, [this, asList, asReport] {
        views_->setCurrentIndex(0);
        asList->setChecked(true);
        asReport->setChecked(false);
    });
    connect(asReport, &QPushButton::clicked, this, [this, asList, asReport] {
        views_->setCurrentIndex(1);
        asList->setChecked(false);
        asReport->setChecked(true);
    });
    return w;
}

void AddDialog::ShowFolder(const QString& folder) {
    const QString abs = QDir(folder).absolutePath();
    folder_ = abs;
    folderField_->setText(abs);
    const QModelIndex root = files_->setRootPath(abs);
    icons_->setRootIndex(root);
    details_->setRootIndex(root);
    const QModelIndex d = dirs_->index(abs);
    if (d.isValid()) {
        folders_->setCurrentIndex(d);
        folders_->scrollTo(d);
    }
}

void AddDialog::SetMask(const QString& mask) {
    QStringList filters;
    for (const QString& m : mask.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString t = m.trimmed();
        // "*.*" means every file here, also those without an extension.
        if (t == QStringLiteral("*.*") || t == QStringLiteral("*")) {
            filters.clear();
            break;
        }
        filters << t;
    }
    files_->setNameFilters(filters);
}

QStringList AddDialog::BrowserSelection() const {
    QStringList out;
    for (const QModelIndex& i : icons_->selectionModel()->selectedIndexes())
        if (i.column() == 0) out << files_->filePath(i);
    out.sort();
    return out;
}

void AddDialog::AddSelected() {
    const QStringList picked = BrowserSelection();
    if (picked.isEmpty()) return;
    AddPaths(picked);
}

QStringList AddDialog::Paths() const {
    QStringList out;
    for (int i = 0; i < list_->count(); ++i)
        out << list_->item(i)->text();
    return out;
}

void AddDialog::AddPaths(const QStringList& paths) {
    for (const QString& p : paths) {
        const QString abs = QFileInfo(p).absoluteFilePath();
        if (list_->findItems(abs, Qt::MatchExactly).isEmpty()) list_->addItem(abs);
    }
    UpdateOk();
}

void AddDialog::UpdateOk() {
    ok_->setEnabled(list_->count() > 0);
}

// ---------------------------------------------------------------------------------------------------------------
// Password, set mode

SetPasswordDialog::SetPasswordDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Set password"));
    hint_ = new QLabel(this);
    hint_->hide();
    field_ = new QLineEdit(this);
    field_->setEchoMode(QLineEdit::Password);
    auto* mask = new QCheckBox(QStringLiteral("Mask password"), this);
    mask->setChecked(true);
    connect(mask, &QCheckBox::toggled, this,
            [this](bool on) { field_->setEchoMode(on ? QLineEdit::Password : QLineEdit::Normal); });
    auto* box = new QDialogButtonBox(this);
    box->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    connect(box, &QDialogButtonBox::accepted, this, &SetPasswordDialog::Ok);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow(hint_);
    form->addRow(QStringLiteral("Password:"), field_);
    form->addRow(mask);
    form->addRow(box);
}

void SetPasswordDialog::Ok() {
    const bool first = confirm_.Current() == app::PasswordConfirm::Step::First;
    if (!confirm_.Ok(S(field_->text()))) {
        ShowMessage(this, QStringLiteral("Error"), Q(confirm_.Error()));
        field_->clear();
        return;
    }
    field_->clear();
    if (first) {
        setWindowTitle(QStringLiteral("Reenter password"));
        hint_->setText(QString::fromLatin1(app::PasswordConfirm::kReenter));
        hint_->show();
        return;
    }
    accept();
}

}  // namespace varnok::ui
