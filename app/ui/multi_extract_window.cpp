#include "app/ui/multi_extract_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/paths.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

QString OpenDialogFilterString() {
    QStringList out;
    for (const auto& [caption, patterns] : app::OpenDialogFilters()) {
        // Qt reads the patterns from the parentheses at the end: the caption's own are replaced by the real ones.
        QString c = Q(caption);
        const qsizetype paren = c.lastIndexOf(QStringLiteral(" ("));
        if (paren > 0 && c.endsWith(QLatin1Char(')'))) c.truncate(paren);
        out << c + QStringLiteral(" (") + Q(patterns) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

MultiExtractWindow::MultiExtractWindow(QWidget* parent, const QStringList& paths, const QString& destination)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Extract multiple files"));
    destination_ = new QLineEdit(destination, this);
    browse_ = new QPushButton(QStringLiteral("..."), this);
    browse_->setToolTip(QStringLiteral("Choose the destination folder"));
    modes_ = new QComboBox(this);
    for (int m = 0; m < app::kMultiExtractModeCount; ++m)
        modes_->addItem(QString::fromUtf8(app::MultiExtractModeCaption(m)));
    modes_->setCurrentIndex(app::meSameDirectory);
    add_ = new QPushButton(QStringLiteral("&Add files"), this);
    delete_ = new QPushButton(QStringLiteral("&Delete files"), this);
    files_ = new QTreeWidget(this);
    files_->setColumnCount(2);
    files_->setHeaderLabels({QStringLiteral("Filename"), QStringLiteral("Path")});
    files_->setRootIsDecorated(false);
    files_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    files_->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    files_->header()->resizeSection(0, 200);
    folderNames_ = new QCheckBox(QStringLiteral("Use folder names"), this);
    folderNames_->setChecked(true);
    overwrite_ = new QCheckBox(QStringLiteral("Overwrite existing files"), this);
    skipOlder_ = new QCheckBox(QStringLiteral("Skip older files"), this);
    ok_ = new QPushButton(QStringLiteral("&OK"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);

    auto* destRow = new QHBoxLayout;
    destRow->addWidget(destination_, 1);
    destRow->addWidget(browse_);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(new QLabel(QStringLiteral("Extract.."), this));
    modeRow->addWidget(modes_, 1);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(add_);
    listButtons->addWidget(delete_);
    listButtons->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* v = new QVBoxLayout(this);
    v->addWidget(new QLabel(QStringLiteral("Destination"), this));
    v->addLayout(destRow);
    v->addLayout(modeRow);
    v->addLayout(listButtons);
    v->addWidget(files_, 1);
    v->addWidget(folderNames_);
    v->addWidget(overwrite_);
    v->addWidget(skipOlder_);
    v->addLayout(buttons);
    resize(560, 420);

    chooseFiles = [this] {
        return QFileDialog::getOpenFileNames(this, QStringLiteral("Select the files for extract"), QString(),
                                             OpenDialogFilterString());
    };
    chooseFolder = [this] {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Destination"), destination_->text());
    };
    notify = [this](const QString& title, const QString& text) { ShowMessage(this, title, text); };

    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString f = chooseFolder ? chooseFolder() : QString();
        if (!f.isEmpty()) destination_->setText(f);
    });
    connect(add_, &QPushButton::clicked, this, [this] {
        if (chooseFiles) AddFiles(chooseFiles());
    });
    connect(delete_, &QPushButton::clicked, this, [this] { DeleteSelected(); });
    connect(ok_, &QPushButton::clicked, this, [this] { Ok(); });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    for (const QString& p : paths)
        list_.Add(S(p));
    Refill();
}

void MultiExtractWindow::AddFiles(const QStringList& files) {
    bool added = false;
    for (const QString& f : files)
        added = list_.Add(S(f)) || added;
    if (added) Refill();
}

void MultiExtractWindow::Refill() {
    files_->clear();
    const QIcon icon = ThemeIcon({"package-x-generic", "application-x-archive"});
    for (const auto& row : list_.Rows()) {
        auto* item = new QTreeWidgetItem(files_, {Q(row.name), Q(row.folder)});
        item->setIcon(0, icon);
    }
}

void MultiExtractWindow::DeleteSelected() {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : files_->selectedItems())
        rows.push_back(files_->indexOfTopLevelItem(item));
    if (rows.empty()) return;
    list_.Remove(rows);
    Refill();
}

app::MultiExtractRequest MultiExtractWindow::Request() const {
    app::MultiExtractRequest r;
    r.destination = S(destination_->text().trimmed());
    if (!r.destination.empty()) r.destination = app::WithSlash(r.destination);
    r.mode = modes_->currentIndex();
    r.useFolderNames = folderNames_->isChecked();
    r.overwrite = overwrite_->isChecked();
    r.skipOlder = skipOlder_->isChecked();
    r.count = static_cast<int>(list_.Rows().size());
    return r;
}

void MultiExtractWindow::Ok() {
    const std::string dest = S(destination_->text().trimmed());
    // A destination that cannot be made is said; the window closes all the same (the batch names each archive
    // it could not extract).
    if (!app::PrepareMultiExtractDestination(dest) && notify)
        notify(QStringLiteral("Error"), MessageText(app::kDestinationError));
    accept();
}

}  // namespace varnok::ui
