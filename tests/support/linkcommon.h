#pragma once
// What the link's tests share whichever port they drive it through (the simulator, a scripted
// port, a fuzzer's): the operator texts they expect, and the frame notation.
#include <QByteArray>
#include <QString>

#include <cstdint>

namespace linktest {

const QString kHeld = QStringLiteral("Ждем ответа Тарвикса на предыдущую команду");
const QString kRefused
    = QStringLiteral("Недостаточно места для записи или замкнута перемычка защиты от записи.");
const QString kErased = QStringLiteral("Таблица объектов во флэш очищена");
const QString kWriteEnded = QStringLiteral("Запись во флэш прервана: очистка флэш");
const QString kWriteCutByPort = QStringLiteral("Отменено из-за смены порта: запись во флэш");

inline QString completion(qint64 kilobytes)
{
    return QStringLiteral("Передача успешно завершена. Передано %1 кБайт.").arg(kilobytes);
}

// Little-endian fields as hex text, for frames written out by hand in the tests.
inline QByteArray le8(uint32_t v)
{
    return QByteArray(1, char(v & 0xFF)).toHex();
}
inline QByteArray le16(uint32_t v)
{
    return le8(v) + le8(v >> 8);
}
inline QByteArray le24(uint32_t v)
{
    return le16(v) + le8(v >> 16);
}

// A frame as "<name> <hex>", the way the simulator's log names it.
inline QString frame(const char *name, const QByteArray &hex)
{
    return QString::fromLatin1(name) + QLatin1Char(' ') + QString::fromLatin1(hex);
}

} // namespace linktest
