#include "app/ui/association_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/associations.h"

namespace varnok::ui {

AssociationDialog::AssociationDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("File associations"));
    auto* v = new QVBoxLayout(this);
    auto* text = new QLabel(
        QStringLiteral(
            "Varnok is not the program that opens these archive types.\nTick the types Varnok is to open:"),
        this);
    v->addWidget(text);
    list_ = new QListWidget(this);
    for (const auto& row : app::AssociationRows()) {
        auto* item = new QListWidgetItem(QString::fromStdString(row.caption), list_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(row.tickedByDefault ? Qt::Checked : Qt::Unchecked);
    }
    v->addWidget(list_, 1);
    never_ = new QCheckBox(QStringLiteral("Never ask again"), this);
    v->addWidget(never_);
    auto* h = new QHBoxLayout;
    h->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("&Associate"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    h->addWidget(ok);
    h->addWidget(cancel);
    v->addLayout(h);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(380, 460);
}

std::vector<bool> AssociationDialog::Ticked() const {
    std::vector<bool> t;
    for (int i = 0; i < list_->count(); ++i)
        t.push_back(list_->item(i)->checkState() == Qt::Checked);
    return t;
}

bool AssociationDialog::NeverAsk() const {
    return never_->isChecked();
}

}  // namespace varnok::ui
