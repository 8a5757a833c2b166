// The "ZIP Comment" dialog: the archive comment in a multi-line editor, "&Set comment", "&Clear", "&Insert from
// file" and "&Cancel". Loading and writing are the entry commands' (the model says what went wrong).
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace varnok::ui {

class CommentDialog : public QDialog {
    Q_OBJECT
  public:
    // load: reads a text file for the editor (nullopt when it could not, the reason already shown).
    CommentDialog(QWidget* parent, const QString& comment,
                  std::function<std::optional<std::string>(const std::string&)> load);
    QString Text() const;
    QPlainTextEdit* Editor() const { return editor_; }
    QPushButton* SetButton() const { return set_; }
    // The "&Insert from file" button's work after its file dialog.
    void InsertFromFile(const QString& path);

  private:
    QPlainTextEdit* editor_;
    QPushButton* set_;
    std::function<std::optional<std::string>(const std::string&)> load_;
};

}  // namespace varnok::ui
