#pragma once
// The list file and the settings file as bytes on disk, without the operator: reading and
// writing report their outcome and leave the messages to ListDocument.
//
// A list file is Windows-1251 text, one value per line, written with CR LF:
//   "Файл ресурсов для записи во флэш" / "10" / row count (header row included) /
//   then five lines per entry row: number, type text, width, height, file name.
// When reading, a line ends at LF (a CR LF's CR, like any other CR, is dropped from the value),
// the first 0x1A byte ends the file, and a line read at the end of the file is empty.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>

class QIODevice;

namespace ormelin {

class ObjectList;

namespace listfile {

inline constexpr int kMaxRowCount = 1319;
QString headerLine();
QString versionLine();
// Relative on purpose: the settings file lives in the current directory of the moment.
QString settingsFileName();

enum class ReadResult {
    Ok,
    ReadError, // cannot open or read, wrong header or version, row count out of range
    FormatError, // the row count line is not a number
};

// Reads a list file into the list from row offset + 1 on, after setting the row count to
// offset + the file's count. On an error after that point the rows read so far stay. A count of
// 0, or of 1 at offset 0, is refused before the list changes: it would take the grid's header
// row or its last entry row away. Paths the file layer cannot take and anything but a regular
// file are refused before opening. The file is only ever opened for reading.
ReadResult read(const QString &path, ObjectList &list, int offset);
// The same over bytes in memory, copied as they are read: they need not outlive the list.
ReadResult readBytes(QByteArrayView bytes, ObjectList &list, int offset);
// The same over an open device. Nothing past the list's last cell is read.
ReadResult readDevice(QIODevice &device, ObjectList &list, int offset);

// The file's bytes, or nothing when a cell cannot be written so that it reads back the same: a
// character without a Windows-1251 form, a line break or 0x1A in a cell, or more rows than a
// list file may hold. Then `reason` says which, in the operator's words (the row and the
// character, or the number of rows).
std::optional<QByteArray> encode(const ObjectList &list, QString *reason = nullptr);
// Replaces the file only once every byte is written; on failure the old file stays as it was,
// and `reason` says why: as for encode(), or the system's error text.
bool write(const QString &path, const ObjectList &list, QString *reason = nullptr);

// The first line of the settings file in the current directory; nothing when it cannot be read.
std::optional<QString> readSettings();
// Writes the path as the settings file's one line, atomically. A path the file cannot hold (a
// character without a Windows-1251 form, a line break) is written as an empty line. False when
// the path was not written.
bool writeSettings(const QString &listPath);

} // namespace listfile
} // namespace ormelin
