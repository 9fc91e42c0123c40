// The list file reader on arbitrary bytes. The first byte picks the row offset (a load or an
// append to a list of a few rows) and how many bytes the device hands over at a time; the rest
// is the file. Beyond not crashing: reading from memory and from a device in small pieces give
// the same list, the list keeps its header row and one entry row, the selection stays on an
// entry row, and whatever loads is saved and read back to the same cells.
#include "objlist/listfile.h"
#include "objlist/objectlist.h"

#include <QBuffer>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int offset = data[0] % 4;
    const QByteArrayView file(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const qsizetype chunk = 1 + (data[0] >> 2) % 16;
    const auto prepared = [offset](ObjectList &list) {
        list.setRowCount(offset + 1);
        for (int r = 1; r <= offset + 3; ++r) // rows beyond the count are hidden texts
            list.setCell(r, ColFile, QStringLiteral("было %1").arg(r));
        list.selectRow(offset);
    };

    ObjectList list;
    prepared(list);
    const listfile::ReadResult result = listfile::readBytes(file, list, offset);

    ObjectList viaDevice;
    prepared(viaDevice);
    QByteArray copy = file.toByteArray();
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    check(listfile::readDevice(device, viaDevice, offset, chunk) == result);
    check(viaDevice.rowCount() == list.rowCount());
    for (int r = 0; r <= list.rowCount() + 3; ++r)
        for (int c = 0; c < kColumnCount; ++c)
            check(viaDevice.cell(r, c) == list.cell(r, c));

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
