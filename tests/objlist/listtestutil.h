#pragma once
// Small helpers shared by the object list tests: list files as bytes.
#include "common/cp1251.h"
#include "objlist/objectlist.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

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

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace listtest
