#pragma once
// The object list as a table model for the window's grid. The list's header row is the view's
// horizontal header; model row r is list row r + 1. Cells are shown, never edited in place.
#include <QAbstractTableModel>

namespace ormelin {

class ObjectList;

class ObjectListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit ObjectListModel(ObjectList &list, QObject *parent = nullptr);

    static constexpr int kRowHeight = 20;
    // Longer cells are shown cut to this many characters and "…". A cell of megabytes (from a
    // hand-made list file) would otherwise be laid out whole at every repaint of the grid, for
    // seconds each time; no column shows more than a few dozen characters.
    static constexpr int kMaxShownLength = 1000;
    // Display widths in pixels; 0 for a column that does not exist.
    static int columnWidth(int column);
    static QString headerText(int column);
    static int listRow(int modelRow) { return modelRow + 1; }
    static int modelRow(int listRow) { return listRow - 1; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void onRowCountChanged(int count);
    void onCellsChanged(int firstRow, int lastRow);

    ObjectList &m_list;
    // The rows the view knows of. Kept apart from the list's count so that the view is told of
    // a change before it sees the new count.
    int m_rows;
};

} // namespace ormelin
