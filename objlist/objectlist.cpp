#include "objlist/objectlist.h"

#include "objlist/cp1251table.h"

#include <algorithm>
#include <limits>

namespace ormelin {
namespace {

constexpr qsizetype kLongestEncoded = std::numeric_limits<qint32>::max();

} // namespace

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

const ObjectList::Cell *ObjectList::findCell(int row, int column) const
{
    if (row < 0 || column < 0 || column >= kColumnCount)
        return nullptr;
    const size_t index = indexOf(row, column);
    return index < m_cells.size() ? &m_cells[index] : nullptr;
}

QByteArrayView ObjectList::encodedBytes(const Cell &cell) const
{
    return QByteArrayView(m_sources[size_t(cell.source)].bytes).sliced(cell.from, cell.length);
}

QString ObjectList::cell(int row, int column) const
{
    const Cell *cell = findCell(row, column);
    if (!cell || cell->source == kNoText)
        return QString();
    if (cell->source == kOwnText)
        return m_texts[indexOf(row, column)];
    return cp1251table::decodeLine(encodedBytes(*cell));
}

ObjectList::StoredCell ObjectList::storedCell(int row, int column) const
{
    const Cell *cell = findCell(row, column);
    if (!cell || cell->source == kNoText)
        return {};
    if (cell->source == kOwnText)
        return { m_texts[indexOf(row, column)], {} };
    return { {}, encodedBytes(*cell) };
}

ObjectList::Cell *ObjectList::cellForWrite(int row, int column, bool emptyText)
{
    if (row < 0 || column < 0 || column >= kColumnCount)
        return nullptr;
    const size_t index = indexOf(row, column);
    if (index >= m_cells.size()) {
        // An empty text is what an unstored cell reads as already.
        if (emptyText)
            return nullptr;
        m_cells.resize((size_t(row) + 1) * kColumnCount);
        m_texts.resize(m_cells.size());
    }
    Cell &cell = m_cells[index];
    if (cell.source == kOwnText) {
        m_texts[index] = QString();
    } else if (cell.source >= 0) {
        m_sources[size_t(cell.source)].usedBytes -= cell.length;
        m_sourcesChanged = true;
    }
    cell = Cell();
    return &cell;
}

void ObjectList::addToBatch(int firstRow, int lastRow)
{
    m_batchFirst = m_batchFirst < 0 ? firstRow : std::min(m_batchFirst, firstRow);
    m_batchLast = std::max(m_batchLast, lastRow);
}

void ObjectList::changed(int row, int column)
{
    if (m_batchDepth > 0) {
        addToBatch(row, row);
        return;
    }
    releaseWastefulSources();
    emit cellChanged(row, column);
}

void ObjectList::setCell(int row, int column, const QString &text)
{
    setCell(row, column, QString(text));
}

void ObjectList::setCell(int row, int column, QString &&text)
{
    Cell *cell = cellForWrite(row, column, text.isEmpty());
    if (!cell)
        return;
    if (!text.isEmpty()) {
        cell->source = kOwnText;
        m_texts[indexOf(row, column)] = std::move(text);
    }
    changed(row, column);
}

void ObjectList::setCellsEncoded(
    int row, int column, const QByteArray &bytes, std::span<const QByteArrayView> lines)
{
    if (column < 0 || column >= kColumnCount || lines.empty())
        return;
    Batch batch(*this);
    const char *const begin = bytes.constData();
    // Offsets beyond 32 bits take the slow way.
    const char *const end = begin + std::min<qsizetype>(bytes.size(), kLongestEncoded);
    // Taken up before it is known to be needed: one no cell uses is let go at the batch's end.
    const int source = sourceFor(bytes);
    m_sourcesChanged = true;

    // A load spends most of its time here, on 6,600 cells. Most cells are of rows already
    // there, hold no text of their own and get a line that does not start with a CR (or is
    // nothing but the CR of a CR LF, which is the empty text): the inner loop does no more than
    // store where their lines are, keeping count of the bytes the cells take from their source
    // and give back to the ones they held (mostly the one buffer of the load before). It calls
    // nothing, so that all it needs stays in registers; anything else goes to
    // setCellFromLine(), one line at a time.
    const QByteArrayView *line = lines.data();
    const QByteArrayView *const lastLine = line + lines.size();
    qsizetype at = qsizetype(row) * kColumnCount + column;
    qsizetype firstWritten = -1;
    qsizetype lastWritten = -1;
    qsizetype taken = 0;
    int givenBackTo = kNoText;
    qsizetype givenBack = 0;
    while (line != lastLine) {
        if (at >= 0 && size_t(at) < m_cells.size()) {
            Cell *cell = m_cells.data() + at;
            Cell *const lastCell = m_cells.data() + m_cells.size();
            const QByteArrayView *const runStart = line;
            for (; line != lastLine && cell != lastCell; ++line, ++cell) {
                const Cell old = *cell;
                qsizetype size = line->size();
                if (size > 0 && line->front() == '\r') {
                    if (size > 1)
                        break;
                    size = 0; // the empty line of a CR LF
                }
                if (old.source == kOwnText
                    || (size > 0 && (line->data() < begin || line->data() + size > end))) {
                    break;
                }
                // A cell without a source gives back nothing, wherever the count stands.
                if ((old.source != givenBackTo) & (old.source >= 0)) {
                    if (givenBackTo >= 0)
                        m_sources[size_t(givenBackTo)].usedBytes -= givenBack;
                    givenBackTo = old.source;
                    givenBack = 0;
                }
                givenBack += old.length;
                taken += size;
                *cell
                    = { quint32(line->data() - begin), qint32(size), size == 0 ? kNoText : source };
            }
            if (line != runStart) {
                firstWritten = firstWritten < 0 ? at : firstWritten;
                at += line - runStart;
                lastWritten = at - 1;
            }
            if (line == lastLine)
                break;
        }
        if (at / kColumnCount > std::numeric_limits<int>::max())
            break; // no such rows
        if (at >= 0
            && setCellFromLine(
                int(at / kColumnCount), int(at % kColumnCount), bytes, *line, source)) {
            firstWritten = firstWritten < 0 ? at : firstWritten;
            lastWritten = at;
        }
        ++line;
        ++at;
    }
    if (givenBackTo >= 0)
        m_sources[size_t(givenBackTo)].usedBytes -= givenBack;
    m_sources[size_t(source)].usedBytes += taken;
    if (firstWritten >= 0)
        addToBatch(int(firstWritten / kColumnCount), int(lastWritten / kColumnCount));
}

bool ObjectList::setCellFromLine(
    int row, int column, const QByteArray &bytes, QByteArrayView line, int source)
{
    // A line of nothing but CRs is the empty text, and no reason to hold a buffer.
    const bool emptyText = std::all_of(line.begin(), line.end(), [](char b) { return b == '\r'; });
    const char *begin = bytes.constData();
    if (!emptyText
        && (line.data() < begin || line.data() + line.size() > begin + bytes.size()
            || line.data() + line.size() - begin > kLongestEncoded)) {
        setCell(row, column, cp1251table::decodeLine(line));
        return false;
    }
    Cell *cell = cellForWrite(row, column, emptyText);
    if (!cell)
        return false;
    if (!emptyText) {
        *cell = { quint32(line.data() - begin), qint32(line.size()), source };
        m_sources[size_t(source)].usedBytes += line.size();
    }
    return true;
}

int ObjectList::sourceFor(const QByteArray &bytes)
{
    // A load passes the same buffer again and again.
    if (m_lastSource >= 0) {
        const QByteArray &last = m_sources[size_t(m_lastSource)].bytes;
        if (last.constData() == bytes.constData() && last.size() == bytes.size())
            return m_lastSource;
    }
    if (m_freeSources.empty()) {
        m_freeSources.push_back(int(m_sources.size()));
        m_sources.emplace_back();
    }
    m_lastSource = m_freeSources.back();
    m_freeSources.pop_back();
    m_sources[size_t(m_lastSource)] = { bytes, 0 };
    return m_lastSource;
}

qsizetype ObjectList::heldEncodedBytes() const
{
    qsizetype held = 0;
    for (const Source &source : m_sources)
        held += source.bytes.capacity();
    return held;
}

// A buffer no cell uses is let go; one whose cells use less than a quarter of it (a file that
// went on far past its last cell, or a few cells left over from an earlier load) is let go
// after its cells are given their own texts. Every cell of a source holds a byte of it at
// least, so a source without used bytes has no cells.
void ObjectList::releaseWastefulSources()
{
    if (!m_sourcesChanged)
        return;
    m_sourcesChanged = false;
    std::vector<bool> wasteful(m_sources.size());
    bool decode = false;
    for (size_t s = 0; s < m_sources.size(); ++s) {
        const Source &source = m_sources[s];
        const bool unused = source.usedBytes == 0;
        if (source.bytes.isNull() || (!unused && source.usedBytes * 4 >= source.bytes.capacity()))
            continue;
        wasteful[s] = true;
        decode |= !unused;
        if (unused) {
            m_sources[s] = Source();
            m_freeSources.push_back(int(s));
        }
    }
    for (size_t i = 0; decode && i < m_cells.size(); ++i) {
        Cell &cell = m_cells[i];
        if (cell.source < 0 || !wasteful[size_t(cell.source)])
            continue;
        m_texts[i] = cp1251table::decodeLine(encodedBytes(cell));
        m_sources[size_t(cell.source)].usedBytes -= cell.length;
        cell = Cell { 0, 0, kOwnText };
    }
    for (size_t s = 0; decode && s < m_sources.size(); ++s) {
        if (!wasteful[s] || m_sources[s].bytes.isNull())
            continue;
        Q_ASSERT(m_sources[s].usedBytes == 0);
        m_sources[s] = Source();
        m_freeSources.push_back(int(s));
    }
    if (m_lastSource >= 0 && m_sources[size_t(m_lastSource)].bytes.isNull())
        m_lastSource = -1;
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
    releaseWastefulSources();
    if (m_batchFirst < 0)
        return;
    const int first = m_batchFirst;
    const int last = m_batchLast;
    m_batchFirst = m_batchLast = -1;
    emit cellsChanged(first, last);
}

} // namespace ormelin
