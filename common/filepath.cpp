#include "common/filepath.h"

#include <QFile>

namespace ormelin {

QByteArray encodedPath(const QString &path)
{
    return QFile::encodeName(path);
}

bool pathFitsFileLayer(const QString &path)
{
    return encodedPath(path).size() <= kMaxPathBytes;
}

} // namespace ormelin
