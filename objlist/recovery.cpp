#include "objlist/recovery.h"

#include "objlist/listfile.h"
#include "objlist/objectlist.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace ormelin::recovery {
namespace {

QString noteName()
{
    return QStringLiteral("recovered-list");
}

// The list file's lines, whatever they hold.
QByteArray asUtf8(const ObjectList &list)
{
    const QString crLf = QStringLiteral("\r\n");
    QString text = listfile::headerLine() + crLf + listfile::versionLine() + crLf
        + QString::number(list.rowCount()) + crLf;
    for (int row = 1; row < list.rowCount(); ++row) {
        for (int column = 0; column < kColumnCount; ++column)
            text += list.cell(row, column) + crLf;
    }
    return text.toUtf8();
}

bool writeNew(const QString &path, const QByteArray &bytes, QString *reason)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (reason)
        *reason = file.errorString();
    return false;
}

} // namespace

std::optional<QString> keepList(const ObjectList &list, const QString &folder, QString *reason)
{
    if (!QDir().mkpath(folder)) {
        if (reason)
            *reason = QStringLiteral("Не могу создать папку ") + folder;
        return std::nullopt;
    }
    std::optional<QByteArray> bytes = listfile::encode(list);
    const QString extension = bytes ? QStringLiteral(".orm") : QStringLiteral(".txt");
    if (!bytes)
        bytes = asUtf8(list);
    const QString stem = QDir(folder).filePath(QStringLiteral("ormelin-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString path = stem + extension;
    for (int n = 2; QFile::exists(path); ++n)
        path = stem + QStringLiteral("-%1").arg(n) + extension;
    if (!writeNew(path, *bytes, reason))
        return std::nullopt;
    return path;
}

bool leaveNote(const QString &folder, const QString &keptIn)
{
    return writeNew(QDir(folder).filePath(noteName()), keptIn.toUtf8(), nullptr);
}

std::optional<QString> takeNote(const QString &folder)
{
    QFile note(QDir(folder).filePath(noteName()));
    if (!note.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A note is a path: anything longer is not one of ours.
    const QString keptIn = QString::fromUtf8(note.read(64 * 1024));
    note.close();
    note.remove();
    return keptIn;
}

} // namespace ormelin::recovery
