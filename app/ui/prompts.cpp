#include "app/ui/prompts.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/formatting.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

namespace {

QString Facts(uint64_t size, const std::string& time) {
    return Q(app::GroupDigits(size)) + QStringLiteral(" Bytes, ") + Q(time);
}

}  // namespace

OverwriteDialog::OverwriteDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Confirm file overwrite"));
    auto* v = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->addWidget(new QLabel(QStringLiteral("Replace file:"), this));
    existing_ = new QLabel(this);
    existing_->setTextFormat(Qt::PlainText);
    existing_->setIndent(12);
    existingFacts_ = new QLabel(this);
    existingFacts_->setIndent(12);
    texts->addWidget(existing_);
    texts->addWidget(existingFacts_);
    texts->addSpacing(8);
    texts->addWidget(new QLabel(QStringLiteral("with file:"), this));
    entry_ = new QLabel(this);
    entry_->setTextFormat(Qt::PlainText);
    entry_->setIndent(12);
    entryFacts_ = new QLabel(this);
    entryFacts_->setIndent(12);
    texts->addWidget(entry_);
    texts->addWidget(entryFacts_);
    top->addLayout(texts, 1);
    v->addLayout(top);
    auto* buttons = new QHBoxLayout;
    yes_ = new QPushButton(QStringLiteral("&Yes"), this);
    yesAll_ = new QPushButton(QStringLiteral("Y&es to all"), this);
    no_ = new QPushButton(QStringLiteral("&No"), this);
    noAll_ = new QPushButton(QStringLiteral("N&o to all"), this);
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    for (auto* b : {yes_, yesAll_, no_, noAll_, cancel_})
        buttons->addWidget(b);
    yes_->setDefault(true);
    v->addLayout(buttons);
    connect(yes_, &QPushButton::clicked, this, [this] { Answer(app::OverwriteAnswer::Yes); });
    connect(yesAll_, &QPushButton::clicked, this, [this] { Answer(app::OverwriteAnswer::YesToAll); });
    connect(no_, &QPushButton::clicked, this, [this] { Answer(app::OverwriteAnswer::No); });
    connect(noAll_, &QPushButton::clicked, this, [this] { Answer(app::OverwriteAnswer::NoToAll); });
    connect(cancel_, &QPushButton::clicked, this, [this] { Answer(app::OverwriteAnswer::Cancel); });
    setMinimumWidth(480);
}

QPushButton* OverwriteDialog::Button(app::OverwriteAnswer a) const {
    switch (a) {
        case app::OverwriteAnswer::Yes:
            return yes_;
        case app::OverwriteAnswer::YesToAll:
            return yesAll_;
        case app::OverwriteAnswer::No:
            return no_;
        case app::OverwriteAnswer::NoToAll:
            return noAll_;
        default:
            return cancel_;
    }
}

void OverwriteDialog::Fill(const app::OverwritePrompt& p) {
    // The path is shortened in its middle to the label's width less a margin.
    int width = std::max(existing_->width(), 440) - 30;
    existing_->setText(fontMetrics().elidedText(Q(p.existingPath), Qt::ElideMiddle, width));
    existing_->setToolTip(Q(p.existingPath));
    existingFacts_->setText(Facts(p.existingSize, p.existingTime));
    entry_->setText(Q(p.entryName));
    entryFacts_->setText(Facts(p.entrySize, p.entryTime));
}

app::OverwriteAnswer OverwriteDialog::Ask(const app::OverwritePrompt& p) {
    Fill(p);
    answer_ = app::OverwriteAnswer::None;
    yes_->setFocus();
    exec();
    return answer_;
}

void OverwriteDialog::Answer(app::OverwriteAnswer a) {
    answer_ = a;
    accept();
}

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Password needed"));
    auto* v = new QVBoxLayout(this);
    hint_ = new QLabel(QStringLiteral("Please enter password to extract files."), this);
    v->addWidget(hint_);
    auto* form = new QFormLayout;
    field_ = new QLineEdit(this);
    field_->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Password:"), field_);
    v->addLayout(form);
    mask_ = new QCheckBox(QStringLiteral("Mask password"), this);
    mask_->setChecked(true);
    v->addWidget(mask_);
    connect(mask_, &QCheckBox::toggled, this,
            [this](bool on) { field_->setEchoMode(on ? QLineEdit::Password : QLineEdit::Normal); });
    auto* h = new QHBoxLayout;
    h->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    ok->setDefault(true);
    h->addWidget(ok);
    h->addWidget(cancel);
    v->addLayout(h);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(340);
}

std::optional<std::string> PasswordDialog::AskForExtract(const std::string& entryName) {
    field_->clear();
    field_->setToolTip(Q(entryName));
    field_->setFocus();
    if (exec() != QDialog::Accepted) return std::nullopt;
    std::string pw = S(field_->text());
    field_->clear();
    return pw;
}

}  // namespace varnok::ui
