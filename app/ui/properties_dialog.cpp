#include "app/ui/properties_dialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

PropertiesDialog::PropertiesDialog(QWidget* parent, const app::ArchiveProperties& p) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Archive properties"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto add = [&](const char* caption, const QString& value) {
        auto* l = new QLabel(value, this);
        l->setTextFormat(Qt::PlainText);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(QString::fromUtf8(caption), l);
        values_.push_back(l);
    };
    const QLocale locale = QLocale::system();
    add("Name:", Q(p.name));
    add("Path:", Q(p.folder));
    add("Archive type:", Q(p.type));
    add("Size:", locale.toString(static_cast<qulonglong>(p.size)) + QStringLiteral(" bytes"));
    add("File(s):", locale.toString(static_cast<qulonglong>(p.files)));
    add("Compression:", QString::number(p.compression) + QStringLiteral(" %"));
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setValue(std::clamp(p.compression, 0, 100));
    form->addRow(QString(), bar_);
    add("Date/Time", locale.toString(QDateTime::fromSecsSinceEpoch(p.time), QLocale::ShortFormat));
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::AcceptRole);
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace varnok::ui
