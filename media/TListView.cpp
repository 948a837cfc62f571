#include "media/TListView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QSignalBlocker>
#include <algorithm>
#include <atomic>

namespace {
constexpr int ImageIndexRole = Qt::UserRole + 1;
constexpr int RowIdRole = Qt::UserRole + 4;
std::atomic<quint64> g_lastRowId{0};

// A row of a list. Its sub-items (the texts of columns 1 and on), its id, its image
// index and the image's icon are members rather than entries of the item's role
// lists: a row made from a list of texts takes that list as it is (shared, not
// copied cell by cell), and costs two allocations instead of six, so ten thousand
// rows are made several times faster. Read and written through data() and setData()
// like any item's.
class TListRow final : public QTreeWidgetItem {
public:
    static constexpr int Type = UserType + 1;

    TListRow() : QTreeWidgetItem(Type), m_id(++g_lastRowId) {
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled);
    }
    TListRow(const TListRow&) = default;

    static TListRow* Of(QTreeWidgetItem* item) {
        return item && item->type() == Type ? static_cast<TListRow*>(item) : nullptr;
    }
    static const TListRow* Of(const QTreeWidgetItem* item) {
        return item && item->type() == Type ? static_cast<const TListRow*>(item) : nullptr;
    }

    void SetSubItems(const QStringList& texts) { m_cells = texts; }
    const QStringList& SubItems() const { return m_cells; }
    void SetImage(int image, const QIcon& icon) {
        m_hasImage = true;
        m_image = image;
        m_icon = icon;
    }
    // Columns as the item's own columnCount() counts them, the sub-items included.
    int Columns() const {
        const int own = columnCount();
        return m_cells.isEmpty() ? own : std::max(own, int(m_cells.size()) + 1);
    }

    QVariant data(int column, int role) const override {
        if (column >= 1 && (role == Qt::DisplayRole || role == Qt::EditRole))
            return column - 1 < m_cells.size() ? QVariant(m_cells[column - 1]) : QVariant();
        if (column == 0 && role == RowIdRole)
            return m_id;
        if (column == 1 && role == ImageIndexRole)
            return m_hasImage ? QVariant(m_image) : QVariant();
        if (column == 1 && role == Qt::DecorationRole)
            return m_icon.isNull() ? QVariant() : QVariant(m_icon);
        return QTreeWidgetItem::data(column, role);
    }

    void setData(int column, int role, const QVariant& value) override {
        if (column >= 1 && (role == Qt::DisplayRole || role == Qt::EditRole)) {
            const QString text = value.toString();
            if (column - 1 < m_cells.size() && m_cells[column - 1] == text)
                return;
            while (m_cells.size() < column)
                m_cells.push_back(QString());
            m_cells[column - 1] = text;
            Changed();
        } else if (column == 0 && role == RowIdRole) {
            m_id = value.toULongLong();
        } else if (column == 1 && role == ImageIndexRole) {
            m_hasImage = value.isValid();
            m_image = value.toInt();
            Changed();
        } else if (column == 1 && role == Qt::DecorationRole) {
            m_icon = qvariant_cast<QIcon>(value);
            Changed();
        } else {
            QTreeWidgetItem::setData(column, role, value);
        }
    }

    QTreeWidgetItem* clone() const override { return new TListRow(*this); }

private:
    // The item's own change report covers only the columns of its role lists, which
    // hold none of these: the list reports the whole row.
    void Changed() {
        if (auto* list = qobject_cast<TListView*>(treeWidget()))
            list->ReportRowChanged(this);
    }

    QStringList m_cells;
    quint64 m_id;
    bool m_hasImage = false;
    int m_image = 0;
    QIcon m_icon;
};

// The columns of a row, its sub-items included.
int Columns(const QTreeWidgetItem* item) {
    const TListRow* row = TListRow::Of(item);
    return row ? row->Columns() : item->columnCount();
}

// A row as the lists make it: selectable, draggable, with its id.
QTreeWidgetItem* NewRow() {
    return new TListRow();
}
} // namespace

TListView::TListView(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                for (const QModelIndex& i : deselected.indexes())
                    if (i.column() == 0)
                        if (auto* item = itemFromIndex(i))
                            emit OnSelectItem(item, false);
                for (const QModelIndex& i : selected.indexes())
                    if (i.column() == 0)
                        if (auto* item = itemFromIndex(i))
                            emit OnSelectItem(item, true);
            });
}

QTreeWidgetItem* TListView::AddItem() {
    return InsertItem(topLevelItemCount());
}

QTreeWidgetItem* TListView::MakeRow(const QStringList& subItems, int image) const {
    auto* item = new TListRow();
    item->SetSubItems(subItems);
    if (!subItems.isEmpty())
        item->SetImage(image, m_images && image >= 0 ? m_images->Icon(image) : QIcon());
    return item;
}

void TListView::AppendRows(const QList<QTreeWidgetItem*>& rows) {
    const int before = topLevelItemCount();
    addTopLevelItems(rows);
    emit OnRowsInserted(before, int(rows.size()), before);
    for (QTreeWidgetItem* item : rows)
        emit OnInsert(item);
}

QTreeWidgetItem* TListView::InsertItem(int index) {
    QTreeWidgetItem* item = NewRow();
    const int before = topLevelItemCount();
    const int at = std::clamp(index, 0, before);
    insertTopLevelItem(at, item);
    emit OnRowsInserted(at, 1, before);
    emit OnInsert(item);
    return item;
}

void TListView::DeleteItem(int index) {
    QTreeWidgetItem* item = takeTopLevelItem(index);
    if (!item)
        return;
    delete item;
    emit OnDeletion(index);
}

void TListView::MoveItem(int from, int to) {
    const int rows = topLevelItemCount();
    if (from == to || from < 0 || from >= rows || to < 0 || to >= rows)
        return;
    const bool selected = topLevelItem(from)->isSelected();
    const bool focused = currentItem() == topLevelItem(from);
    QTreeWidgetItem* item = takeTopLevelItem(from);
    insertTopLevelItem(to, item);
    if (focused)
        setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    item->setSelected(selected);
    emit OnMoved(from, to);
}

void TListView::ClearItems() {
    for (int i = topLevelItemCount() - 1; i >= 0; --i)
        DeleteItem(i);
}

int TListView::SubItemCount(const QTreeWidgetItem* item) {
    return item ? std::max(0, Columns(item) - 1) : 0;
}

QString TListView::SubItem(const QTreeWidgetItem* item, int j) {
    if (const TListRow* row = TListRow::Of(item))
        return row->SubItems().value(j);
    return item && j >= 0 && j + 1 < item->columnCount() ? item->text(j + 1) : QString();
}

void TListView::AddSubItem(QTreeWidgetItem* item, const QString& text) const {
    // A row whose caption was never set still owns column 0.
    const int column = std::max(1, Columns(item));
    item->setText(column, text);
}

void TListView::SetSubItem(QTreeWidgetItem* item, int j, const QString& text) const {
    if (j < 0)
        return;
    while (SubItemCount(item) < j)
        AddSubItem(item, QString());
    item->setText(j + 1, text);
}

int TListView::SubItemImage(const QTreeWidgetItem* item) {
    if (!item || Columns(item) < 2)
        return -1;
    const QVariant v = item->data(1, ImageIndexRole);
    return v.isValid() ? v.toInt() : -1;
}

void TListView::SetSubItemImage(QTreeWidgetItem* item, int index) const {
    if (Columns(item) < 2)
        item->setText(1, item->text(1));
    item->setData(1, ImageIndexRole, index);
    item->setIcon(1, m_images && index >= 0 ? m_images->Icon(index) : QIcon());
}

quint64 TListView::RowId(QTreeWidgetItem* item) {
    const QVariant v = item->data(0, RowIdRole);
    if (v.isValid())
        return v.toULongLong();
    const quint64 id = ++g_lastRowId;
    item->setData(0, RowIdRole, id);
    return id;
}

void TListView::ReportRowChanged(QTreeWidgetItem* item) {
    const int columns = columnCount();
    if (columns > 0)
        emit model()->dataChanged(indexFromItem(item, 0), indexFromItem(item, columns - 1));
}

void TListView::EditRows(const std::function<void()>& edit) {
    QAbstractItemModel* m = model();
    {
        const QSignalBlocker quiet(m);
        edit();
    }
    const int rows = topLevelItemCount();
    const int columns = columnCount();
    if (rows > 0 && columns > 0)
        emit m->dataChanged(m->index(0, 0), m->index(rows - 1, columns - 1));
}

QList<int> TListView::SelectedRows() const {
    QList<int> rows;
    for (QTreeWidgetItem* item : selectedItems())
        rows.push_back(indexOfTopLevelItem(item));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
    if (RowColour && !index.parent().isValid()) {
        const QColor colour = RowColour(index.row());
        if (colour.isValid())
            painter->fillRect(option.rect, colour);
    }
    QTreeWidget::drawRow(painter, option, index);
}
