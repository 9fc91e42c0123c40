#include "objlist/objectlistmodel.h"

#include "objlist/objectlist.h"

#include <QSize>

#include <algorithm>
#include <array>

namespace ormelin {
namespace {

constexpr std::array<int, kColumnCount> kColumnWidths = { 52, 162, 43, 44, 567 };

} // namespace

ObjectListModel::ObjectListModel(ObjectList &list, QObject *parent)
    : QAbstractTableModel(parent)
    , m_list(list)
    , m_rows(list.rowCount() - 1)
{
    connect(&list, &ObjectList::rowCountChanged, this, &ObjectListModel::onRowCountChanged);
    connect(
        &list, &ObjectList::cellChanged, this, [this](int row, int) { onCellsChanged(row, row); });
    connect(&list, &ObjectList::cellsChanged, this, &ObjectListModel::onCellsChanged);
}

int ObjectListModel::columnWidth(int column)
{
    return column >= 0 && column < kColumnCount ? kColumnWidths[size_t(column)] : 0;
}

QString ObjectListModel::headerText(int column)
{
    switch (column) {
    case ColNumber:
        return QStringLiteral("Номер");
    case ColType:
        return QStringLiteral("Тип объекта");
    case ColFile:
        return QStringLiteral("Имя файла с объектом");
    default:
        return QString();
    }
}

int ObjectListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ObjectListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ObjectListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    QString text = m_list.cell(listRow(index.row()), index.column());
    if (text.size() > kMaxShownLength) {
        qsizetype keep = kMaxShownLength;
        if (text.at(keep - 1).isHighSurrogate())
            --keep;
        text.truncate(keep);
        text += QChar(0x2026);
    }
    return text;
}

QVariant ObjectListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section < 0 || section >= kColumnCount)
        return QVariant();
    if (role == Qt::DisplayRole)
        return headerText(section);
    if (role == Qt::SizeHintRole)
        return QSize(columnWidth(section), kRowHeight);
    return QVariant();
}

Qt::ItemFlags ObjectListModel::flags(const QModelIndex &index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void ObjectListModel::onRowCountChanged(int count)
{
    const int rows = count - 1;
    if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    } else if (rows < m_rows) {
        beginRemoveRows(QModelIndex(), rows, m_rows - 1);
        m_rows = rows;
        endRemoveRows();
    }
}

void ObjectListModel::onCellsChanged(int firstRow, int lastRow)
{
    const int first = std::max(modelRow(firstRow), 0);
    const int last = std::min(modelRow(lastRow), m_rows - 1);
    if (first > last)
        return;
    emit dataChanged(index(first, 0), index(last, kColumnCount - 1), { Qt::DisplayRole });
}

} // namespace ormelin
