#include "app/ui/drop_window.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/add_dialog.h"
#include "app/ui/exclude_dialog.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

namespace {

app::WriterFamily FamilyOfKind(app::ArchiveKind k) {
    switch (k) {
        case app::ArchiveKind::Zip: return app::WriterFamily::Zip;
        case app::ArchiveKind::Bh: return app::WriterFamily::Bh;
        case app::ArchiveKind::Cab: return app::WriterFamily::Cab;
        case app::ArchiveKind::Lha: return app::WriterFamily::Lha;
        case app::ArchiveKind::Jar: return app::WriterFamily::Jar;
        case app::ArchiveKind::Tar: return app::WriterFamily::Tar;
        case app::ArchiveKind::GZip: return app::WriterFamily::GZip;
    }
    return app::WriterFamily::Zip;
}

QString NewArchiveFilter() {
    QStringList parts;
    for (const auto& [caption, patterns] : app::NewArchiveFilters())
        parts << Q(caption) + QStringLiteral(" (") + Q(patterns) + QStringLiteral(")");
    return parts.join(QStringLiteral(";;"));
}

}  // namespace

DropWindow::DropWindow(app::AddOperation& op, const app::Settings& settings, const QStringList& dropped,
                       const QString& openArchive, app::WriterFamily openFamily, QWidget* parent)
    : QDialog(parent), op_(op), open_(openArchive), openFamily_(openFamily) {
    setWindowTitle(QStringLiteral("Drag and Drop"));
    // Wide enough for a whole archive path in its field.
    setMinimumWidth(560);
    summary_ = new QLabel(this);
    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const QString& p : dropped)
        list_->addItem(QFileInfo(p).absoluteFilePath());
    archive_ = new QLineEdit(this);
    auto* newButton = new QPushButton(QStringLiteral("&New"), this);
    auto* openButton = new QPushButton(QStringLiteral("&Open"), this);
    auto* exclude = new QPushButton(QStringLiteral("Exclude..."), this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Archive file"), this));
    row->addWidget(archive_, 1);
    row->addWidget(newButton);
    row->addWidget(openButton);
    options_ = new AddOptionsPage(op, openFamily, settings, this);
    auto* box = new QDialogButtonBox(this);
    QPushButton* ok = box->addButton(QStringLiteral("&Add"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    auto* v = new QVBoxLayout(this);
    v->addWidget(summary_);
    v->addWidget(list_);
    v->addLayout(row);
    v->addWidget(exclude, 0, Qt::AlignLeft);
    v->addWidget(options_);
    v->addWidget(box);

    connect(box, &QDialogButtonBox::accepted, this, [this] {
        if (list_->count() == 0) {
            ShowMessage(this, QStringLiteral("Error"), QString::fromLatin1(app::AddOperation::kNoFiles));
            return;
        }
        if (archive_->text().trimmed().isEmpty()) return;
        accept();
    });
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(options_, &AddOptionsPage::ActionCaptionChanged, ok, &QPushButton::setText);
    connect(newButton, &QPushButton::clicked, this, &DropWindow::ChooseNew);
    connect(openButton, &QPushButton::clicked, this, &DropWindow::ChooseOpen);
    connect(exclude, &QPushButton::clicked, this, [this] {
        ExcludeDialog d(op_.excludeList, this);
        if (d.exec() == QDialog::Accepted) op_.excludeList = d.Patterns();
    });
    connect(archive_, &QLineEdit::editingFinished, this, &DropWindow::UpdateFamily);

    if (!open_.isEmpty())
        archive_->setText(open_);
    else if (!dropped.isEmpty())
        archive_->setText(Q(app::PathForKind(S(QFileInfo(dropped.front()).absoluteFilePath()), app::ArchiveKind::Zip)));
    UpdateFamily();
    UpdateSummary();
}

QStringList DropWindow::Paths() const {
    QStringList out;
    for (int i = 0; i < list_->count(); ++i)
        out << list_->item(i)->text();
    return out;
}

QString DropWindow::ArchivePath() const {
    return QFileInfo(archive_->text().trimmed()).absoluteFilePath();
}

bool DropWindow::IsOpenArchive() const {
    return !open_.isEmpty() && ArchivePath() == QFileInfo(open_).absoluteFilePath();
}

app::ArchiveKind DropWindow::Kind() const {
    return app::KindOfPath(S(ArchivePath())).value_or(app::ArchiveKind::Zip);
}

void DropWindow::SetArchive(const QString& path) {
    archive_->setText(path);
    UpdateFamily();
}

void DropWindow::UpdateFamily() {
    options_->SetFamily(IsOpenArchive() ? openFamily_ : FamilyOfKind(Kind()));
}

void DropWindow::UpdateSummary() {
    if (list_->count() == 1)
        summary_->setText(QStringLiteral("File: ") + list_->item(0)->text());
    else
        summary_->setText(QStringLiteral("Files to add: ") + QString::number(list_->count()));
}

void DropWindow::ChooseNew() {
    QFileDialog d(this, QStringLiteral("Create new Archive"), QFileInfo(ArchivePath()).absolutePath(),
                  NewArchiveFilter());
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setOption(QFileDialog::DontConfirmOverwrite);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return;
    const int kind = static_cast<int>(d.nameFilters().indexOf(d.selectedNameFilter())) + 1;
    const auto k = static_cast<app::ArchiveKind>(kind < 1 ? 1 : kind);
    SetArchive(Q(app::PathForKind(S(d.selectedFiles().front()), k)));
}

void DropWindow::ChooseOpen() {
    QString f = QFileDialog::getOpenFileName(this, QStringLiteral("Open Archiv"), QFileInfo(ArchivePath()).absolutePath());
    if (f.isEmpty()) return;
    if (!QFileInfo::exists(f)) {
        AskYesNo(this, QStringLiteral("Question"),
                 QStringLiteral("This Archive doesn't exist. Do you want to create it now ?"));
        return;
    }
    SetArchive(f);
}

void DropWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Delete && list_->hasFocus()) {
        qDeleteAll(list_->selectedItems());
        UpdateSummary();
        return;
    }
    QDialog::keyPressEvent(e);
}

}  // namespace varnok::ui
