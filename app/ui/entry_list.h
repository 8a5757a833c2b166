// The entry list: a virtual table model over the open-archive model's rows (texts are made when a cell is
// painted), and the list view with its options (row selection, grid lines, hot tracking and underlining).
#pragma once

#include <QAbstractTableModel>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>

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
    // Rows may be dragged out of the list.
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The rows of the archive model are about to change / have changed.
    void BeginReset();
    void EndReset();

  private:
    app::ArchiveModel& model_;
    FileTypes& types_;
};

// The data of entries dragged out of the list: the files a drop receives, extracted only when the drop asks
// for them (once).
class EntryDragData : public QMimeData {
    Q_OBJECT
  public:
    EntryDragData(const QList<QUrl>& urls, std::function<bool()> extract);
    bool Extracted() const { return extracted_; }

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

  private:
    std::function<bool()> extract_;
    mutable bool extracted_ = false;
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
    // Makes the data of a drag out of the list (null: no drag).
    std::function<QMimeData*()> DragData;

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
    void startDrag(Qt::DropActions supported) override;

  private:
    ListOptions options_;
    int hotRow_ = -1;
};

}  // namespace varnok::ui
