// The list file reader on arbitrary bytes. The first byte picks the row offset (a load or an
// append to a list of a few rows); the rest is the file. Beyond not crashing: a plain second
// reading that splits the file at its LFs and decodes each line on its own gives the same list;
// the list keeps its header row and one entry row, the selection stays on an entry row, and
// whatever loads is saved and read back to the same cells and the same bytes.
#include "common/cp1251.h"
#include "common/numparse.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

using namespace ormelin;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The reading rules, the plain way: the file ends at its first 0x1A, lines end at LF, a line
// is its bytes decoded with every CR dropped, and a line asked for after the last is empty.
listfile::ReadResult readPlainly(QByteArrayView file, ObjectList &list, int offset)
{
    const qsizetype eof = file.indexOf('\x1a');
    if (eof >= 0)
        file = file.first(eof);
    QList<QByteArray> lines = file.toByteArray().split('\n');
    if (lines.back().isEmpty())
        lines.pop_back(); // nothing follows the last LF
    const auto line = [&](qsizetype i) {
        return i < lines.size() ? fromCp1251(lines[i]).remove(u'\r') : QString();
    };
    if (line(0) != listfile::headerLine() || line(1) != listfile::versionLine())
        return listfile::ReadResult::ReadError;
    const std::optional<std::int32_t> count = parseNumber(line(2));
    if (!count)
        return listfile::ReadResult::FormatError;
    if (*count <= 0 || *count > listfile::kMaxRowCount || (offset == 0 && *count == 1))
        return listfile::ReadResult::ReadError;
    list.setRowCount(offset + *count);
    qsizetype next = 3;
    for (int r = offset + 1; r < offset + *count; ++r) {
        for (int c = 0; c < kColumnCount; ++c) {
            if (next >= lines.size())
                return listfile::ReadResult::Ok;
            list.setCell(r, c, line(next++));
        }
    }
    return listfile::ReadResult::Ok;
}

bool sameCells(const ObjectList &a, const ObjectList &b, int rows)
{
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < kColumnCount; ++c) {
            if (a.cell(r, c) != b.cell(r, c))
                return false;
        }
    }
    return a.rowCount() == b.rowCount();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int offset = data[0] % 4;
    const QByteArrayView file(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const auto prepared = [offset](ObjectList &list) {
        list.setRowCount(offset + 1);
        for (int r = 1; r <= offset + 3; ++r) // rows beyond the count are hidden texts
            list.setCell(r, ColFile, QStringLiteral("было %1").arg(r));
        list.selectRow(offset);
    };

    ObjectList list;
    prepared(list);
    const listfile::ReadResult result = listfile::readBytes(file, list, offset);
    const int rows = list.rowCount() + 4;

    ObjectList plainly;
    prepared(plainly);
    check(readPlainly(file, plainly, offset) == result);
    check(sameCells(plainly, list, rows));

    check(list.rowCount() >= 2);
    check(list.selectedRow() >= 1 && list.selectedRow() < list.rowCount());
    if (result != listfile::ReadResult::Ok)
        return 0;
    check(list.rowCount() >= offset + 1 && list.rowCount() <= offset + listfile::kMaxRowCount);

    if (offset != 0)
        return 0;
    const std::optional<QByteArray> saved = listfile::encode(list);
    check(saved.has_value()); // every text a file gives can be written again
    ObjectList again;
    check(listfile::readBytes(*saved, again, 0) == listfile::ReadResult::Ok);
    check(again.rowCount() == list.rowCount());
    for (int r = 1; r < list.rowCount(); ++r)
        for (int c = 0; c < kColumnCount; ++c)
            check(again.cell(r, c) == list.cell(r, c));
    check(listfile::encode(again) == saved);
    return 0;
}
