#pragma once
// objlist/ owns the operator's worklist and everything that keeps it between runs:
//  - ObjectList: the cells of the grid, stored by (row, column) apart from the row count, the row
//    count itself and the one selected row; the list's only storage, every value kept as text;
//  - ListEditor: add or update, clear row, clear list, edit row, type changed, over the list, the
//    entry fields and the operator interface;
//  - ListDocument and listfile: list files, the settings file and the remembered list path;
//  - recovery: where a changed list goes when the program is ended without the operator;
//  - ObjectListModel: the grid as a Qt table model for the window's view.
// It does not own the window, its widgets or the upload: those read the list through ObjectList.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
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
    void addToBatch(int firstRow, int lastRow);
    void changed(int row, int column);
    void endBatch();

    // Up to the highest row ever written, whatever the row count.
    std::vector<std::array<QString, kColumnCount>> m_rows;
    int m_rowCount = 2;
    int m_selectedRow = 1;
    int m_batchDepth = 0;
    int m_batchFirst = -1;
    int m_batchLast = -1;
};

} // namespace ormelin
