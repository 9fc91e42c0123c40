#pragma once
#include <QByteArray>
#include <QString>

namespace ormelin {

// The file layer the program was made for takes at most 259 bytes of path, counted in
// Windows-1251 like every other length here; a longer path is refused before any open, with
// the operation's own failure message.
inline constexpr int kMaxPathBytes = 259;

// The path as the file system sees it (the platform's file-name encoding).
QByteArray encodedPath(const QString &path);
// The path's length in Windows-1251 bytes: one per character, a character without a form of its
// own counted as the one byte that would stand for it.
qsizetype pathBytes(const QString &path);
bool pathFitsFileLayer(const QString &path);

} // namespace ormelin
