#include "objlist/objectlist.h"

#include <algorithm>

namespace ormelin {

const QStringList &objectTypeTexts()
{
    static const QStringList texts = {
        QStringLiteral("Изображение JPEG"),
        QStringLiteral("Двоичное изображение"),
        QStringLiteral("Шрифт в формате Микрочип"),
        QStringLiteral("Моноширинный шрифт"),
        QStringLiteral("Скрипт"),
    };
    return texts;
}

int lookupObjectType(QStringView text)
{
    const QStringList &texts = objectTypeTexts();
    for (int i = 0; i < texts.size(); ++i) {
        if (text.compare(texts[i], Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool isFontTypeText(QStringView text)
{
    return text.contains(u"рифт", Qt::CaseSensitive);
}

ObjectList::ObjectList(QObject *parent)
    : QObject(parent)
{
}

QString ObjectList::cell(int row, int column) const
{
    if (row < 0 || size_t(row) >= m_rows.size() || column < 0 || column >= kColumnCount)
        return QString();
    return m_rows[size_t(row)][size_t(column)];
}

void ObjectList::addToBatch(int firstRow, int lastRow)
{
    m_batchFirst = m_batchFirst < 0 ? firstRow : std::min(m_batchFirst, firstRow);
    m_batchLast = std::max(m_batchLast, lastRow);
}

void ObjectList::changed(int row, int column)
{
    if (m_batchDepth > 0)
        addToBatch(row, row);
    else
        emit cellChanged(row, column);
}

void ObjectList::setCell(int row, int column, const QString &text)
{
    setCell(row, column, QString(text));
}

void ObjectList::setCell(int row, int column, QString &&text)
{
    if (row < 0 || column < 0 || column >= kColumnCount)
        return;
    if (size_t(row) >= m_rows.size()) {
        // An empty text is what an unstored cell reads as already.
        if (text.isEmpty())
            return;
        m_rows.resize(size_t(row) + 1);
    }
    m_rows[size_t(row)][size_t(column)] = std::move(text);
    changed(row, column);
}

void ObjectList::clearRow(int row)
{
    Batch batch(*this);
    for (int c = 0; c < kColumnCount; ++c)
        setCell(row, c, QString());
}

int ObjectList::rowCount() const
{
    return m_rowCount;
}

void ObjectList::setRowCount(int count)
{
    count = std::max(count, 2);
    if (count == m_rowCount)
        return;
    m_rowCount = count;
    emit rowCountChanged(count);
    if (m_selectedRow >= count) {
        m_selectedRow = count - 1;
        emit selectionChanged(m_selectedRow);
    }
}

int ObjectList::selectedRow() const
{
    return m_selectedRow;
}

void ObjectList::selectRow(int row)
{
    if (row < 1 || row >= m_rowCount || row == m_selectedRow)
        return;
    m_selectedRow = row;
    emit selectionChanged(row);
}

ObjectList::Batch::Batch(ObjectList &list)
    : m_list(list)
{
    ++m_list.m_batchDepth;
}

ObjectList::Batch::~Batch()
{
    m_list.endBatch();
}

void ObjectList::endBatch()
{
    if (--m_batchDepth > 0)
        return;
    if (m_batchFirst < 0)
        return;
    const int first = m_batchFirst;
    const int last = m_batchLast;
    m_batchFirst = m_batchLast = -1;
    emit cellsChanged(first, last);
}

} // namespace ormelin
