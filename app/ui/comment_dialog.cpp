#include "app/ui/comment_dialog.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/ui_common.h"

namespace varnok::ui {

CommentDialog::CommentDialog(QWidget* parent, const QString& comment,
                             std::function<std::optional<std::string>(const std::string&)> load)
    : QDialog(parent), load_(std::move(load)) {
    setWindowTitle(QStringLiteral("ZIP Comment"));
    auto* layout = new QVBoxLayout(this);
    editor_ = new QPlainTextEdit(this);
    editor_->setObjectName(QStringLiteral("comment"));
    editor_->setPlainText(comment);
    editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(editor_);
    auto* row = new QHBoxLayout;
    set_ = new QPushButton(QStringLiteral("&Set comment"), this);
    auto* clear = new QPushButton(QStringLiteral("&Clear"), this);
    auto* insert = new QPushButton(QStringLiteral("&Insert from file"), this);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    set_->setAutoDefault(false);
    clear->setAutoDefault(false);
    insert->setAutoDefault(false);
    row->addWidget(set_);
    row->addWidget(clear);
    row->addWidget(insert);
    row->addStretch(1);
    row->addWidget(cancel);
    layout->addLayout(row);
    connect(set_, &QPushButton::clicked, this, &QDialog::accept);
    connect(clear, &QPushButton::clicked, editor_, &QPlainTextEdit::clear);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(insert, &QPushButton::clicked, this, [this] {
        QString f = QFileDialog::getOpenFileName(this, QStringLiteral("Insert from file"), QString(),
                                                 QStringLiteral("Text files (*.txt);;All files (*)"));
        if (!f.isEmpty()) InsertFromFile(f);
    });
    resize(520, 320);
}

QString CommentDialog::Text() const {
    return editor_->toPlainText();
}

void CommentDialog::InsertFromFile(const QString& path) {
    if (!load_) return;
    if (auto text = load_(S(path))) editor_->insertPlainText(Q(*text));
}

}  // namespace varnok::ui
