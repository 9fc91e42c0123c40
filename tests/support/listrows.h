#pragma once
// The object list as the tests fill and read it: its rows, and list files as bytes.
#include "common/cp1251.h"
#include "objlist/objectlist.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace listtest {

// The lines encoded in Windows-1251, each followed by `eol`.
inline QByteArray encodeLines(const QStringList &lines, const QByteArray &eol = "\r\n")
{
    QByteArray bytes;
    for (const QString &line : lines) {
        const auto encoded = ormelin::toCp1251(line);
        if (!encoded)
            qFatal("test line has no Windows-1251 form");
        bytes += *encoded + eol;
    }
    return bytes;
}

// The three header lines of a list file with the given row count line.
inline QStringList headerLines(const QString &count)
{
    return { QStringLiteral("Файл ресурсов для записи во флэш"), QStringLiteral("10"), count };
}

// The row's cells, in column order.
inline QStringList rowCells(const ormelin::ObjectList &list, int row)
{
    QStringList cells;
    for (int c = 0; c < ormelin::kColumnCount; ++c)
        cells << list.cell(row, c);
    return cells;
}

// Fills one row as the list editor would have written it (a negative type: a type text that is
// none); the row count grows to hold it.
inline void setRow(ormelin::ObjectList &list, int row, const QString &number, int type,
    const QString &path, const QString &width = {}, const QString &height = {})
{
    using namespace ormelin;
    if (list.rowCount() <= row)
        list.setRowCount(row + 1);
    list.setCell(row, ColNumber, number);
    list.setCell(row, ColType, type >= 0 ? objectTypeTexts().at(type) : QStringLiteral("?"));
    list.setCell(row, ColWidth, width);
    list.setCell(row, ColHeight, height);
    list.setCell(row, ColFile, path);
}

} // namespace listtest
