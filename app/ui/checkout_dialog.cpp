#include "app/ui/checkout_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/paths.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

CheckoutDialog::CheckoutDialog(QWidget* parent, const app::CheckoutRequest& defaults,
                               std::function<bool(const app::CheckoutRequest&)> run)
    : QDialog(parent), run_(std::move(run)) {
    setWindowTitle(QStringLiteral("Checkout archive"));
    auto* text = new QLabel(QStringLiteral("All files of this archive will be extracted to the folder you specified "
                                           "and a program group will be built within the Startmenu."),
                            this);
    text->setWordWrap(true);
    folder_ = new QLineEdit(Q(defaults.folder), this);
    pick_ = new QPushButton(QStringLiteral("..."), this);
    group_ = new QLineEdit(Q(defaults.group), this);
    count_ = new QLineEdit(Q(defaults.maxIcons), this);
    onlyApps_ = new QCheckBox(QStringLiteral("Create shortcuts for applications and documents only"), this);
    onlyApps_->setChecked(defaults.appsAndDocsOnly);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_);
    folderRow->addWidget(pick_);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Folder:"), folderRow);
    form->addRow(QStringLiteral("Group name:"), group_);
    form->addRow(QStringLiteral("Max. number of icons:"), count_);
    auto* box = new QDialogButtonBox(this);
    ok_ = box->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    ok_->setDefault(true);
    connect(box, &QDialogButtonBox::accepted, this, &CheckoutDialog::Ok);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(pick_, &QPushButton::clicked, this, &CheckoutDialog::Pick);
    pickFolder = [this](const QString& start) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Folder"), start);
    };
    auto* v = new QVBoxLayout(this);
    v->addWidget(text);
    v->addLayout(form);
    v->addWidget(onlyApps_);
    v->addWidget(box);
}

app::CheckoutRequest CheckoutDialog::Request() const {
    app::CheckoutRequest r;
    r.folder = S(folder_->text());
    r.group = S(group_->text());
    r.maxIcons = S(count_->text());
    r.appsAndDocsOnly = onlyApps_->isChecked();
    return r;
}

void CheckoutDialog::Pick() {
    const std::string field = S(folder_->text());
    const QString picked = pickFolder(Q(app::ParentFolder(app::WithoutSlash(field))));
    if (picked.isEmpty()) return;
    folder_->setText(Q(app::CheckoutFolderPicked(field, S(picked))));
}

void CheckoutDialog::Ok() {
    if (run_ && !run_(Request())) return;
    accept();
}

}  // namespace varnok::ui
