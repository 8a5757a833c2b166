// The questions asked while extracting: the overwrite prompt ("Confirm file overwrite") and the password
// window in its extract mode ("Password needed").
#pragma once

#include <QDialog>

#include "app/view.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace varnok::ui {

class OverwriteDialog : public QDialog {
    Q_OBJECT
  public:
    explicit OverwriteDialog(QWidget* parent);
    // Shows the prompt for one file; the answer (None when the window was closed otherwise).
    app::OverwriteAnswer Ask(const app::OverwritePrompt& p);
    void Fill(const app::OverwritePrompt& p);

    QPushButton* Button(app::OverwriteAnswer a) const;
    QLabel* ExistingLabel() const { return existing_; }
    QLabel* EntryLabel() const { return entry_; }

  private:
    void Answer(app::OverwriteAnswer a);

    QLabel* existing_;
    QLabel* existingFacts_;
    QLabel* entry_;
    QLabel* entryFacts_;
    QPushButton* yes_;
    QPushButton* yesAll_;
    QPushButton* no_;
    QPushButton* noAll_;
    QPushButton* cancel_;
    app::OverwriteAnswer answer_ = app::OverwriteAnswer::None;
};

class PasswordDialog : public QDialog {
    Q_OBJECT
  public:
    explicit PasswordDialog(QWidget* parent);
    // Extract mode: the password typed, or nothing when cancelled.
    std::optional<std::string> AskForExtract(const std::string& entryName);

    QLineEdit* Field() const { return field_; }
    QCheckBox* MaskBox() const { return mask_; }
    QLabel* Hint() const { return hint_; }

  private:
    QLabel* hint_;
    QLineEdit* field_;
    QCheckBox* mask_;
};

}  // namespace varnok::ui
