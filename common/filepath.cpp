#include "common/filepath.h"

#include <QFile>

namespace ormelin {

QByteArray encodedPath(const QString &path)
{
    return QFile::encodeName(path);
}

qsizetype pathBytes(const QString &path)
{
    qsizetype bytes = path.size();
    for (qsizetype i = 0; i + 1 < path.size(); ++i) {
        if (path[i].isHighSurrogate() && path[i + 1].isLowSurrogate())
            --bytes;
    }
    return bytes;
}

bool pathFitsFileLayer(const QString &path)
{
    return pathBytes(path) <= kMaxPathBytes;
}

} // namespace ormelin
