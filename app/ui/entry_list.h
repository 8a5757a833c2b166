// The entry list: a virtual table model over the open-archive model's rows (texts are made when a cell is
// painted), and the list view with its options (row selection, grid lines, hot tracking and underlining).
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include "app/archive_model.h"
#include "app/ui/file_types.h"

namespace varnok::ui {

class EntryTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    EntryTableModel(app::ArchiveModel& model, FileTypes& types, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    // The rows of the archive model are about to change / have changed.
    void BeginReset();
    void EndReset();

  private:
    app::ArchiveModel& model_;
    FileTypes& types_;
};

struct ListOptions {
    bool rowSelect = false;
    bool gridLines = false;
    bool singleClick = false;
    bool mousePoint = false;   // hand cursor and underline under the mouse
    bool alwaysUnder = false;  // hand cursor and all names underlined
};

class EntryListView : public QTableView {
    Q_OBJECT
  public:
    explicit EntryListView(QWidget* parent = nullptr);
    void SetOptions(const ListOptions& o);
    const ListOptions& Options() const { return options_; }
    int HotRow() const { return hotRow_; }

  signals:
    // Enter, a double click, or a single click with single-click opening.
    void EntryActivated(int row);
    void DeletePressed();

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

  private:
    ListOptions options_;
    int hotRow_ = -1;
};

}  // namespace varnok::ui
