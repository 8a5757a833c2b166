#include "app/ui/entry_list.h"

#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/ui/ui_common.h"

namespace varnok::ui {

namespace {

// Paints the selection over the name cell only unless whole rows are selected, and underlines names as the
// list options ask.
class EntryDelegate : public QStyledItemDelegate {
  public:
    explicit EntryDelegate(EntryListView* view) : QStyledItemDelegate(view), view_(view) {}

    void initStyleOption(QStyleOptionViewItem* o, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(o, index);
        const ListOptions& opt = view_->Options();
        if (!opt.rowSelect && index.column() != app::colName) o->state &= ~QStyle::State_Selected;
        if (index.column() == app::colName && opt.singleClick &&
            (opt.alwaysUnder || (opt.mousePoint && index.row() == view_->HotRow())))
            o->font.setUnderline(true);
    }

  private:
    EntryListView* view_;
};

}  // namespace

EntryTableModel::EntryTableModel(app::ArchiveModel& model, FileTypes& types, QObject* parent)
    : QAbstractTableModel(parent), model_(model), types_(types) {}

int EntryTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : model_.RowCount();
}

int EntryTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : app::kColumnCount;
}

QVariant EntryTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= model_.RowCount()) return {};
    switch (role) {
        case Qt::DisplayRole:
            return Q(model_.Text(index.row(), index.column()));
        case Qt::DecorationRole:
            if (index.column() == app::colName)
                return types_.IconFor(model_.TypeExtension(model_.Row(index.row()).type));
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == app::colSize || index.column() == app::colPacked ||
                index.column() == app::colRatio)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::ToolTipRole:
            if (index.column() == app::colName) return Q(model_.Row(index.row()).StoredName());
            return {};
        default:
            return {};
    }
}

QVariant EntryTableModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || section < 0 || section >= app::kColumnCount) return {};
    if (role == Qt::DisplayRole) return QLatin1String(app::kColumnCaptions[static_cast<size_t>(section)]);
    if (role == Qt::TextAlignmentRole &&
        (section == app::colSize || section == app::colPacked || section == app::colRatio))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

void EntryTableModel::BeginReset() {
    beginResetModel();
}
void EntryTableModel::EndReset() {
    endResetModel();
}

EntryListView::EntryListView(QWidget* parent) : QTableView(parent) {
    setItemDelegate(new EntryDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setShowGrid(false);
    setAlternatingRowColors(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setMouseTracking(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSortIndicatorShown(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
}

void EntryListView::SetOptions(const ListOptions& o) {
    options_ = o;
    setShowGrid(o.gridLines);
    if (!o.singleClick || !(o.mousePoint || o.alwaysUnder)) viewport()->unsetCursor();
    viewport()->update();
}

void EntryListView::keyPressEvent(QKeyEvent* e) {
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        emit EntryActivated(currentIndex().row());
        return;
    }
    if (e->key() == Qt::Key_Delete) {
        emit DeletePressed();
        return;
    }
    QTableView::keyPressEvent(e);
}

void EntryListView::mouseMoveEvent(QMouseEvent* e) {
    QModelIndex i = indexAt(e->position().toPoint());
    int row = i.isValid() ? i.row() : -1;
    if (row != hotRow_) {
        hotRow_ = row;
        if (options_.singleClick && (options_.mousePoint || options_.alwaysUnder)) {
            if (row >= 0)
                viewport()->setCursor(Qt::PointingHandCursor);
            else
                viewport()->unsetCursor();
            viewport()->update();
        }
    }
    QTableView::mouseMoveEvent(e);
}

void EntryListView::leaveEvent(QEvent* e) {
    if (hotRow_ != -1) {
        hotRow_ = -1;
        viewport()->update();
    }
    QTableView::leaveEvent(e);
}

void EntryListView::mouseReleaseEvent(QMouseEvent* e) {
    QTableView::mouseReleaseEvent(e);
    if (options_.singleClick && e->button() == Qt::LeftButton && e->modifiers() == Qt::NoModifier) {
        QModelIndex i = indexAt(e->position().toPoint());
        if (i.isValid()) emit EntryActivated(i.row());
    }
}

void EntryListView::mouseDoubleClickEvent(QMouseEvent* e) {
    QModelIndex i = indexAt(e->position().toPoint());
    if (i.isValid() && e->button() == Qt::LeftButton) {
        emit EntryActivated(i.row());
        return;
    }
    QTableView::mouseDoubleClickEvent(e);
}

// Dragging entries out

Qt::ItemFlags EntryTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid()) f |= Qt::ItemIsDragEnabled;
    return f;
}

EntryDragData::EntryDragData(const QList<QUrl>& urls, std::function<bool()> extract) : extract_(std::move(extract)) {
    setUrls(urls);
}

QVariant EntryDragData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (!extracted_ && extract_ && (mimeType == QLatin1String("text/uri-list") || mimeType.startsWith(QLatin1String("text/plain")))) {
        extracted_ = true;
        extract_();
    }
    return QMimeData::retrieveData(mimeType, type);
}

void EntryListView::startDrag(Qt::DropActions) {
    if (!DragData) return;
    QMimeData* data = DragData();
    if (!data) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
}

}  // namespace varnok::ui
