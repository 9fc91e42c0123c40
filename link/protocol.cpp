#include "link/protocol.h"

#include "common/cp1251.h"
#include "common/failure.h"

#include <QByteArray>
#include <QString>
#include <initializer_list>

namespace ormelin::proto {
namespace {

void putBytes(FrameSink &sink, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t b : bytes)
        sink.WriteByte(b);
}

void put8(FrameSink &sink, int32_t value)
{
    sink.WriteByte(uint8_t(uint32_t(value) & 0xFFu));
}

void put16(FrameSink &sink, int32_t value)
{
    const auto v = uint32_t(value);
    sink.WriteByte(uint8_t(v & 0xFFu));
    sink.WriteByte(uint8_t((v >> 8) & 0xFFu));
}

void put24(FrameSink &sink, int32_t value)
{
    const auto v = uint32_t(value);
    sink.WriteByte(uint8_t(v & 0xFFu));
    sink.WriteByte(uint8_t((v >> 8) & 0xFFu));
    sink.WriteByte(uint8_t((v >> 16) & 0xFFu));
}

void putText(FrameSink &sink, const QByteArray &text)
{
    if (!text.isEmpty())
        sink.WriteBytes(text.constData(), int32_t(text.size()));
}

// Encoded before the first byte of a frame is queued, so a failure never leaves half a frame
// on the line for the controller to misread.
QByteArray frameText(const QString &text)
{
    const auto bytes = toCp1251(text);
    if (!bytes)
        throw Failure(QStringLiteral("Cannot encode a frame text in Windows-1251: ") + text);
    return *bytes;
}

} // namespace

void sendConnectionCheck(FrameSink &sink)
{
    putBytes(sink, { kLeadByte, kLeadByte, kConnectionCheck, kConnectionCheck });
}

void sendImageUpload(
    FrameSink &sink, int32_t number, int32_t width, int32_t height, uint8_t kind, int32_t size)
{
    putBytes(sink, { kLeadByte, kLeadByte, kImageUpload });
    put16(sink, number);
    put16(sink, width);
    put16(sink, height);
    sink.WriteByte(kind);
    put24(sink, size);
    sink.WriteByte(kImageUpload);
}

void sendFontUpload(FrameSink &sink, int32_t number, uint8_t format, int32_t size,
    int32_t charWidth, int32_t charHeight)
{
    putBytes(sink, { kLeadByte, kLeadByte, kFontUpload });
    put16(sink, number);
    sink.WriteByte(format);
    put24(sink, size);
    put8(sink, charWidth);
    put8(sink, charHeight);
    sink.WriteByte(kFontUpload);
}

void sendScriptUpload(FrameSink &sink, int32_t number, int32_t size)
{
    putBytes(sink, { kLeadByte, kLeadByte, kScriptUpload });
    put16(sink, number);
    put24(sink, size);
    sink.WriteByte(kScriptUpload);
}

void sendPayload(FrameSink &sink, const uint8_t *bytes, int32_t size)
{
    if (bytes && size > 0)
        sink.WriteBytes(bytes, size);
}

void sendEraseObjects(FrameSink &sink)
{
    const QByteArray text = frameText(QStringLiteral("Удалить объекты"));
    putBytes(sink, { kLeadByte, kLeadByte, kEraseObjects });
    putText(sink, text);
    sink.WriteByte(kEraseObjects);
}

void sendOutputImage(FrameSink &sink, int32_t number)
{
    putBytes(sink, { kLeadByte, kLeadByte, kOutputImage });
    put16(sink, number);
    putBytes(sink, { 0, 0, 0, 0, kOutputImage });
}

void sendOutputScript(FrameSink &sink, int32_t number)
{
    putBytes(sink, { kLeadByte, kLeadByte, kOutputScript });
    put16(sink, number);
    putBytes(sink, { 0, 0, 0, 0, kOutputScript });
}

void sendFontSample(FrameSink &sink, int32_t number)
{
    const QByteArray text = frameText(QStringLiteral("Шрифт номер ") + QString::number(number));

    putBytes(sink, { kLeadByte, kLeadByte, kFontSample1 });
    put16(sink, number);
    sink.WriteByte(kFontSample1);

    putBytes(sink, { kLeadByte, kFontSample2, 0, 0, 0, 0, kFontSample2 });

    putBytes(sink, { kLeadByte, kFontSample3, kFontSample3 });
    putText(sink, text);
    sink.WriteByte(0);
}

void sendFiller(FrameSink &sink)
{
    putBytes(sink, { kLeadByte, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 });
}

} // namespace ormelin::proto
