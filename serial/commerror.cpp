#include "serial/commerror.h"

#include <QStringList>

#include <cerrno>
#include <cstring>

namespace ormelin::serialdetail {
namespace {

// Puts the arguments into the "%d" and "%s" places of one of our own messages, in order, in a
// single pass: an argument (a device name, say) is never scanned for placeholders itself.
QString fillIn(const char *message, const QStringList &args)
{
    const QString text = QString::fromLatin1(message);
    QString out;
    out.reserve(text.size() + 64);
    qsizetype next = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size() && (text[i + 1] == u'd' || text[i + 1] == u's')
            && next < args.size()) {
            out += args[next++];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool isTrimmed(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control || c == u'.';
}

} // namespace

QString systemErrorText(int errorCode)
{
    char buffer[256];
    // GNU strerror_r: returns either our buffer or a static string.
    const char *raw = strerror_r(errorCode, buffer, sizeof buffer);
    QString text = QString::fromLocal8Bit(raw);
    while (!text.isEmpty() && isTrimmed(text.back()))
        text.chop(1);
    return text;
}

EVaCommError commError(const char *message, int errorCode)
{
    return EVaCommError(
        fillIn(message, { QString::number(errorCode), systemErrorText(errorCode) }));
}

EVaCommError openError(const QString &deviceName, int errorCode)
{
    if (errorCode == ENOENT)
        return EVaCommError(fillIn(kDeviceNotFound, { deviceName }));
    return EVaCommError(fillIn(
        kCantOpenDevice, { deviceName, QString::number(errorCode), systemErrorText(errorCode) }));
}

bool isDeviceGone(int errorCode)
{
    return errorCode == EIO || errorCode == ENXIO || errorCode == ENODEV;
}

} // namespace ormelin::serialdetail
