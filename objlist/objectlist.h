#pragma once
// objlist/ owns the operator's worklist and everything that keeps it between runs:
//  - ObjectList: the cells of the grid, stored by (row, column) apart from the row count, the row
//    count itself and the one selected row; the list's only storage, every value kept as text
//    (a loaded cell as the file's bytes until it is read or written);
//  - ListEditor: add or update, clear row, clear list, edit row, type changed, over the list, the
//    entry fields and the operator interface;
//  - ListDocument and listfile: list files, the settings file and the remembered list path
//    (cp1251table speeds up the Windows-1251 work of whole lists);
//  - ObjectListModel: the grid as a Qt table model for the window's view.
// It does not own the window, its widgets or the upload: those read the list through ObjectList.
#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <span>
#include <vector>

namespace ormelin {

inline constexpr int kColumnCount = 5;
inline constexpr int kMaxObjectNumber = 1319;

enum Column { ColNumber = 0, ColType = 1, ColWidth = 2, ColHeight = 3, ColFile = 4 };

// The object types, in the order whose index is the type code everywhere else.
enum ObjectType {
    TypeJpeg = 0,
    TypeBitmap = 1,
    TypeMicrochipFont = 2,
    TypeMonoFont = 3,
    TypeScript = 4
};
inline constexpr int kObjectTypeCount = 5;

// The five display texts, in type-code order.
const QStringList &objectTypeTexts();
// The type code of a whole type text, ignoring letter case (Cyrillic included); -1 for anything
// else, including a text with extra blanks.
int lookupObjectType(QStringView text);
// Font types are the ones whose text contains "рифт", exactly as written (case-sensitive).
bool isFontTypeText(QStringView text);

// The grid's cells, row count and selection. Row 0 is the header row; entry rows are
// 1 .. rowCount() - 1. Cell texts live independently of the row count: rows hidden by a lower
// row count keep their texts and show them again when the count grows.
class ObjectList : public QObject
{
    Q_OBJECT
public:
    explicit ObjectList(QObject *parent = nullptr);

    // Empty for a cell never written and for any row or column out of range.
    QString cell(int row, int column) const;
    // Writes outside the columns or below row 0 are ignored.
    void setCell(int row, int column, const QString &text);
    void setCell(int row, int column, QString &&text);
    void clearRow(int row);

    // Sets cells in reading order, row by row and five to a row, from (row, column) on, to the
    // texts of Windows-1251 lines lying inside `bytes`, every CR in them dropped: each as
    // setCell(r, c, cp1251table::decodeLine(line)) would, inside one batch. A line is decoded
    // only when its cell is read: the list holds a share of `bytes` instead, so a loaded file
    // costs one buffer rather than a string per cell. Once a batch ends, buffers no cell uses
    // are let go and cells using little of a buffer are given their own texts, so the buffers
    // held never come to more than four times the bytes in use. A line outside `bytes` is
    // decoded at once; a column outside the five sets nothing.
    void setCellsEncoded(
        int row, int column, const QByteArray &bytes, std::span<const QByteArrayView> lines);

    // A cell as stored, for writing it out without decoding it: for a cell set by
    // setCellsEncoded() and not written since, its bytes (never empty; any CR in them still
    // there, the one of a CR LF too), else its text. Valid until the list is next changed.
    struct StoredCell
    {
        QStringView text;
        QByteArrayView encoded;
        bool isEncoded() const { return !encoded.isEmpty(); }
    };
    StoredCell storedCell(int row, int column) const;
    // The capacity of the load buffers the list holds, for checking that it stays bounded.
    qsizetype heldEncodedBytes() const;

    // Counts the header row; 2 at start. A count below 2 is raised to 2: the grid always keeps
    // its header row and one entry row.
    int rowCount() const;
    void setRowCount(int count);

    // Exactly one entry row is selected; 1 at start. Rows outside 1 .. rowCount() - 1 are not
    // selectable and leave the selection as it is.
    int selectedRow() const;
    void selectRow(int row);

    // Collects the cell changes made while it lives into one cellsChanged() at its end, so that a
    // load of many rows does not repaint the grid cell by cell. Batches may nest.
    class Batch
    {
    public:
        explicit Batch(ObjectList &list);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        ObjectList &m_list;
    };

signals:
    void cellChanged(int row, int column);
    // Any cells of rows firstRow .. lastRow may have changed (the end of a batch).
    void cellsChanged(int firstRow, int lastRow);
    void rowCountChanged(int count);
    void selectionChanged(int row);

private:
    // Where a cell's text is: `length` bytes of m_sources[source] from `from` on, or for
    // kOwnText, the cell's string in m_texts. A cell never written, or emptied, is kNoText.
    // `length` is 0 unless there is a source.
    static constexpr int kNoText = -1;
    static constexpr int kOwnText = -2;
    struct Cell
    {
        quint32 from = 0; // lines of buffers larger than this allows are decoded at once
        qint32 length = 0; // and so are longer lines
        qint32 source = kNoText;
    };
    static size_t indexOf(int row, int column)
    {
        return size_t(row) * kColumnCount + size_t(column);
    }

    const Cell *findCell(int row, int column) const;
    // The cell to write, its row created if need be; null when the write is to be ignored.
    Cell *cellForWrite(int row, int column, bool emptyText);
    // setCellsEncoded() for one cell, whatever it holds and whatever the line; false when
    // nothing was written, or setCell() was left to do it.
    bool setCellFromLine(
        int row, int column, const QByteArray &bytes, QByteArrayView line, int source);
    int sourceFor(const QByteArray &bytes);
    QByteArrayView encodedBytes(const Cell &cell) const;
    void addToBatch(int firstRow, int lastRow);
    void changed(int row, int column);
    void releaseWastefulSources();
    void endBatch();

    // Row by row, five cells to a row, up to the highest row ever written. The texts are kept
    // apart so that a load, which sets cells to bytes, does not have to walk past them.
    std::vector<Cell> m_cells;
    std::vector<QString> m_texts;
    // A buffer of loaded lines, with the bytes of it that cells use.
    struct Source
    {
        QByteArray bytes; // null for a free one
        qsizetype usedBytes = 0;
    };
    std::vector<Source> m_sources;
    std::vector<int> m_freeSources;
    int m_lastSource = -1; // the source the last load used, tried first for the next lines
    bool m_sourcesChanged = false; // whether a cell has taken up or let go of a source
    int m_rowCount = 2;
    int m_selectedRow = 1;
    int m_batchDepth = 0;
    int m_batchFirst = -1;
    int m_batchLast = -1;
};

} // namespace ormelin
