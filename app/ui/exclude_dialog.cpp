#include "app/ui/exclude_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextStream>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

ExcludeDialog::ExcludeDialog(const std::vector<std::string>& patterns, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Exclude from Adding"));
    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const auto& p : patterns)
        list_->addItem(Q(p));
    field_ = new QLineEdit(this);
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    auto* plus = new QPushButton(QStringLiteral("+"), this);
    auto* minus = new QPushButton(QStringLiteral("-"), this);
    auto* save = new QPushButton(QStringLiteral("&Save"), this);
    auto* load = new QPushButton(QStringLiteral("&Load"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(field_);
    row->addWidget(browse);
    row->addWidget(plus);
    row->addWidget(minus);
    auto* files = new QHBoxLayout;
    files->addWidget(save);
    files->addWidget(load);
    files->addStretch();
    auto* box = new QDialogButtonBox(this);
    box->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    auto* v = new QVBoxLayout(this);
    v->addWidget(list_);
    v->addLayout(row);
    v->addLayout(files);
    v->addWidget(box);

    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(plus, &QPushButton::clicked, this, &ExcludeDialog::AddPattern);
    connect(field_, &QLineEdit::returnPressed, this, &ExcludeDialog::AddPattern);
    connect(minus, &QPushButton::clicked, this, &ExcludeDialog::RemoveSelected);
    connect(browse, &QPushButton::clicked, this, [this] {
        QString f = QFileDialog::getOpenFileName(this, QStringLiteral("Exclude from Adding"));
        if (!f.isEmpty()) field_->setText(f);
    });
    connect(save, &QPushButton::clicked, this, [this] {
        QString f = QFileDialog::getSaveFileName(this, QStringLiteral("Save"), QString(),
                                                 QStringLiteral("Textfiles (*.txt)"));
        if (!f.isEmpty() && !Save(f)) ShowMessage(this, QStringLiteral("Error"), f);
    });
    connect(load, &QPushButton::clicked, this, [this] {
        QString f = QFileDialog::getOpenFileName(this, QStringLiteral("Load"), QString(),
                                                 QStringLiteral("Textfiles (*.txt);;All files (*)"));
        if (!f.isEmpty() && !Load(f)) ShowMessage(this, QStringLiteral("Error"), f);
    });
}

std::vector<std::string> ExcludeDialog::Patterns() const {
    std::vector<std::string> out;
    for (int i = 0; i < list_->count(); ++i)
        out.push_back(S(list_->item(i)->text()));
    return out;
}

void ExcludeDialog::AddPattern() {
    const QString t = field_->text().trimmed();
    if (t.isEmpty()) return;
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->text().compare(t, Qt::CaseInsensitive) == 0) return;
    list_->addItem(t);
    field_->clear();
}

void ExcludeDialog::RemoveSelected() {
    qDeleteAll(list_->selectedItems());
}

bool ExcludeDialog::Save(const QString& path) const {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
    QTextStream out(&f);
    for (int i = 0; i < list_->count(); ++i)
        out << list_->item(i)->text() << '\n';
    return out.status() == QTextStream::Ok;
}

bool ExcludeDialog::Load(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
    list_->clear();
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty()) list_->addItem(line);
    }
    return true;
}

}  // namespace varnok::ui
