// The copy and move dialog of the archive file ("Copy & Move Archive"): the function (copy or move), a folder
// tree with the target field, and "New folder...". It only collects the choice; the copy or move itself is the
// archive-file commands' (app/archive_file_commands.h), which keep the history and the open archive right.
#pragma once

#include <QDialog>

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace varnok::ui {

class CopyMoveDialog : public QDialog {
    Q_OBJECT
  public:
    // move: the function it starts with; fileName: the archive's file name; startFolder: where the tree starts.
    CopyMoveDialog(QWidget* parent, bool move, const QString& fileName, const QString& startFolder);

    bool Move() const;
    // The target folder (the field's text, which follows the tree).
    QString Target() const;
    void SelectFolder(const QString& folder);
    // "New folder...": a folder made below the current one becomes the target.
    void NewFolder();

    QRadioButton* CopyChoice() const { return copy_; }
    QRadioButton* MoveChoice() const { return move_; }
    QLineEdit* TargetField() const { return target_; }
    QLabel* Caption() const { return caption_; }
    QPushButton* OkButton() const { return ok_; }
    QTreeView* Tree() const { return tree_; }

  private:
    void FunctionChanged();

    QString fileName_;
    QFileSystemModel* fs_;
    QTreeView* tree_;
    QRadioButton* copy_;
    QRadioButton* move_;
    QLineEdit* target_;
    QLabel* caption_;
    QPushButton* ok_;
};

}  // namespace varnok::ui
