// The "EXE-Options" dialog of "&Make .EXE file...": the self-extractor's title, command line, destination,
// overwrite mode and questions. It has no close button: OK or Cancel ends it.
#pragma once

#include <QDialog>

#include "app/entry_commands.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace varnok::ui {

class SfxDialog : public QDialog {
    Q_OBJECT
  public:
    // destination: the field's first value (the temporary folder).
    SfxDialog(QWidget* parent, const QString& destination);
    app::SfxChoices Choices() const;

    QLineEdit* TitleField() const { return title_; }
    QLineEdit* CommandLineField() const { return cmd_; }
    QLineEdit* DestinationField() const { return dest_; }
    QRadioButton* Confirm() const { return confirm_; }
    QRadioButton* Overwrite() const { return overwrite_; }
    QRadioButton* Never() const { return never_; }
    QCheckBox* AskCommandLine() const { return askCmd_; }
    QCheckBox* AskFiles() const { return askFiles_; }
    QCheckBox* HideOverwriteBox() const { return hide_; }
    QPushButton* OkButton() const { return ok_; }

  private:
    QLineEdit *title_, *cmd_, *dest_;
    QRadioButton *confirm_, *overwrite_, *never_;
    QCheckBox *askCmd_, *askFiles_, *hide_;
    QPushButton* ok_;
};

}  // namespace varnok::ui
