#include "serial/devicename.h"

#include "common/failure.h"

#include <QRegularExpression>

#include <optional>

namespace ormelin::serialdetail {
namespace {

[[noreturn]] void invalidFormat(const QString &nameTemplate)
{
    throw Failure(
        QStringLiteral("Format '%1' invalid or incompatible with argument").arg(nameTemplate));
}

[[noreturn]] void argumentMissing(const QString &nameTemplate)
{
    throw Failure(QStringLiteral("No argument for format '%1'").arg(nameTemplate));
}

// Reads decimal digits at pos; nothing if there are none.
std::optional<int> readDigits(const QString &s, qsizetype &pos)
{
    qsizetype start = pos;
    long long value = 0;
    while (pos < s.size() && s[pos].isDigit() && s[pos].unicode() < 128) {
        value = value * 10 + (s[pos].unicode() - '0');
        if (value > 1'000'000) // no device name is that wide
            return std::nullopt;
        ++pos;
    }
    if (pos == start)
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace

QString formatDeviceName(const QString &t, int portNumber)
{
    QString out;
    int nextArgument = 0; // there is exactly one argument, the port number
    const auto takeArgument = [&]() {
        if (nextArgument > 0)
            argumentMissing(t);
        ++nextArgument;
        return portNumber;
    };

    for (qsizetype i = 0; i < t.size(); ++i) {
        if (t[i] != u'%') {
            out += t[i];
            continue;
        }
        ++i;
        if (i >= t.size())
            invalidFormat(t);
        if (t[i] == u'%') {
            out += u'%';
            continue;
        }
        // Optional argument index "n:"; only index 0 exists.
        {
            qsizetype probe = i;
            const auto index = readDigits(t, probe);
            if (index && probe < t.size() && t[probe] == u':') {
                if (*index != 0)
                    argumentMissing(t);
                nextArgument = 0;
                i = probe + 1;
            }
        }
        bool leftAlign = false;
        if (i < t.size() && t[i] == u'-') {
            leftAlign = true;
            ++i;
        }
        int width = 0;
        if (i < t.size() && t[i] == u'*') {
            width = takeArgument();
            ++i;
        } else if (auto w = readDigits(t, i)) {
            width = *w;
        }
        int precision = -1;
        if (i < t.size() && t[i] == u'.') {
            ++i;
            if (i < t.size() && t[i] == u'*') {
                precision = takeArgument();
                ++i;
            } else {
                precision = readDigits(t, i).value_or(0);
            }
        }
        if (i >= t.size())
            invalidFormat(t);

        const QChar kind = t[i].toLower();
        QString digits;
        bool negative = false;
        if (kind == u'd') {
            const long long v = takeArgument();
            negative = v < 0;
            digits = QString::number(negative ? -v : v);
        } else if (kind == u'u') {
            digits = QString::number(static_cast<quint32>(takeArgument()));
        } else if (kind == u'x') {
            digits = QString::number(static_cast<quint32>(takeArgument()), 16).toUpper();
        } else {
            invalidFormat(t); // %s, %f, %p, ...: not for a number
        }
        if (precision > digits.size())
            digits = QString(precision - digits.size(), u'0') + digits;
        if (negative)
            digits.prepend(u'-');
        if (width > digits.size()) {
            const QString pad(width - digits.size(), u' ');
            digits = leftAlign ? digits + pad : pad + digits;
        }
        out += digits;
    }
    return out;
}

QString devicePathFor(const QString &deviceName, const QString &deviceFolder)
{
    if (deviceName.startsWith(u'/'))
        return deviceName;
    QString folder = deviceFolder;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    static const QRegularExpression comPort(
        QStringLiteral("^COM([1-9][0-9]{0,8})$"), QRegularExpression::CaseInsensitiveOption);
    const auto match = comPort.match(deviceName);
    if (match.hasMatch())
        return folder + QStringLiteral("ttyS%1").arg(match.captured(1).toLongLong() - 1);
    return folder + deviceName;
}

} // namespace ormelin::serialdetail
