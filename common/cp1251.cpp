#include "common/cp1251.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace ormelin {
namespace {

constexpr const char *kCodePage = "windows-1251";

} // namespace

// A fresh converter per call: opening one costs under a microsecond, and only a stateful
// converter reports unmappable characters (a stateless one substitutes silently).
bool cp1251Available()
{
    return QStringEncoder(kCodePage).isValid() && QStringDecoder(kCodePage).isValid();
}

std::optional<QByteArray> toCp1251(QStringView text)
{
    // A trailing lone surrogate would be held back as converter state, not reported.
    if (!text.isValidUtf16())
        return std::nullopt;
    QStringEncoder enc(kCodePage);
    if (!enc.isValid())
        return std::nullopt;
    QByteArray bytes = enc.encode(text);
    if (enc.hasError())
        return std::nullopt;
    return bytes;
}

QString fromCp1251(QByteArrayView bytes)
{
    QStringDecoder dec(kCodePage);
    return dec.decode(bytes);
}

} // namespace ormelin
