#pragma once
#include <QIcon>
#include <QTreeWidget>
#include <QVector>
#include <functional>

// An image list: icons addressed by index.
class TImageList {
public:
    TImageList() = default;
    TImageList(QString name, QSize size) : m_name(std::move(name)), m_size(size) {}
    void Add(const QIcon& icon) { m_icons.push_back(icon); }
    int Count() const { return int(m_icons.size()); }
    QIcon Icon(int index) const {
        return index >= 0 && index < m_icons.size() ? m_icons[index] : QIcon();
    }
    QSize Size() const { return m_size; }
    const QString& Name() const { return m_name; }

private:
    QString m_name;
    QSize m_size;
    QVector<QIcon> m_icons;
};

// A report-style list view: column 0 is the row's caption (hidden in every list of
// the desk), sub-item j is column j + 1, and the image of sub-item 0 is column 1's
// icon, remembered by its index in the small image list.
//
// Rows are added and removed through AddItem/InsertItem/DeleteItem so that the
// insertion and deletion handling (OnInsert, OnDeletion) runs for every row.
class TListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TListView(QWidget* parent = nullptr);

    void SetSmallImages(const TImageList* images) { m_images = images; }
    const TImageList* SmallImages() const { return m_images; }

    int RowCount() const { return topLevelItemCount(); }
    QTreeWidgetItem* Row(int index) const { return topLevelItem(index); }
    int RowIndex(QTreeWidgetItem* item) const { return indexOfTopLevelItem(item); }

    // Appends an empty row (caption empty, no sub-items) and runs OnInsert.
    QTreeWidgetItem* AddItem();
    // A detached row with these sub-items and image, for AppendRows.
    QTreeWidgetItem* MakeRow(const QStringList& subItems, int image) const;
    // Appends detached rows in one step, then runs OnInsert for each.
    void AppendRows(const QList<QTreeWidgetItem*>& rows);
    // Inserts an empty row at index and runs OnInsert.
    QTreeWidgetItem* InsertItem(int index);
    // Removes the row at index and runs OnDeletion once it is gone.
    void DeleteItem(int index);
    // Moves the row at from so that it sits at to (the same row: its cells, image
    // and selection go with it); runs OnMoved, neither OnInsert nor OnDeletion.
    void MoveItem(int from, int to);
    // Removes every row, running OnDeletion for each (last to first).
    void ClearItems();

    // Sub-items of a row.
    static int SubItemCount(const QTreeWidgetItem* item);
    static QString SubItem(const QTreeWidgetItem* item, int j);
    void AddSubItem(QTreeWidgetItem* item, const QString& text) const;
    void SetSubItem(QTreeWidgetItem* item, int j, const QString& text) const;
    // Image index of sub-item 0 (column 1); -1 when none.
    static int SubItemImage(const QTreeWidgetItem* item);
    void SetSubItemImage(QTreeWidgetItem* item, int index) const;

    // The row's id: unique in the process, given when the row is made (or on first
    // use for a row made elsewhere) and kept while the row moves.
    static quint64 RowId(QTreeWidgetItem* item);

    // Tells the view that the data of a row changed (its texts, image or icon), so
    // that the row is drawn again.
    void ReportRowChanged(QTreeWidgetItem* item);

    // Runs edit, which changes the data of rows (texts, colours, roles) but adds,
    // removes and moves none, and then reports the change once for every row: the
    // view repaints once instead of once per changed cell.
    void EditRows(const std::function<void()>& edit);

    // Background of a row, asked each time the row is drawn; an invalid colour
    // keeps the list's own background.
    std::function<QColor(int row)> RowColour;

    // Row indices of the selected rows, in ascending order.
    QList<int> SelectedRows() const;
    // The focused row (the current item), or nullptr.
    QTreeWidgetItem* FocusedRow() const { return currentItem(); }

signals:
    void OnInsert(QTreeWidgetItem* item);
    // count rows were inserted at first (before their OnInsert runs); the list held
    // rowsBefore rows until then.
    void OnRowsInserted(int first, int count, int rowsBefore);
    // The row that was at index is gone.
    void OnDeletion(int index);
    void OnMoved(int from, int to);
    // A row became selected or unselected.
    void OnSelectItem(QTreeWidgetItem* item, bool selected);

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    const TImageList* m_images = nullptr;
};
