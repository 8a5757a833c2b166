#include "app/ui/span_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/add_command.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

SpanDialog::SpanDialog(int rememberedKB, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Spanning options"));
    auto* group = new QGroupBox(QStringLiteral("File size:"), this);
    auto* g = new QVBoxLayout(group);
    choices_[0] = new QRadioButton(QStringLiteral("720 KB (DD-Disk)"), group);
    choices_[1] = new QRadioButton(QStringLiteral("1430 KB (HD-Disk)"), group);
    choices_[2] = new QRadioButton(QStringLiteral("User defined size"), group);
    field_ = new QLineEdit(group);
    for (QRadioButton* r : choices_)
        g->addWidget(r);
    g->addWidget(field_);
    const app::SpanSizeChoice c = app::SpanChoiceFor(rememberedKB);
    choices_[c.choice]->setChecked(true);
    field_->setText(Q(c.field));
    auto* box = new QDialogButtonBox(this);
    box->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    connect(box, &QDialogButtonBox::accepted, this, &SpanDialog::Ok);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* v = new QVBoxLayout(this);
    v->addWidget(group);
    v->addWidget(box);
}

void SpanDialog::Ok() {
    app::SpanSizeChoice c;
    c.choice = choices_[0]->isChecked() ? 0 : choices_[1]->isChecked() ? 1 : 2;
    c.field = S(field_->text());
    auto size = app::SpanSizeOf(c);
    if (!size) {
        ShowMessage(this, QStringLiteral("Error"), QStringLiteral("Not an integer value, try again"));
        return;
    }
    size_ = *size;
    accept();
}

}  // namespace varnok::ui
