#pragma once
// Files and bytes the tests write and read back. Only QtCore, so that every test can include it.
#include <QByteArray>
#include <QFile>
#include <QString>

namespace testfiles {

// Bytes of every value in any 256 of them, so that payloads hold lead bytes, trailers and reply
// starts alike; `seed` makes two objects of one size differ.
inline QByteArray pattern(qsizetype size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return bytes;
}

// The whole file, or nothing when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the file anew; false when it could not be written whole.
[[nodiscard]] inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace testfiles
