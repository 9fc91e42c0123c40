#include "link/protocol.h"
#include "link/replybuffer.h"
#include "link_sinks.h"

#include <QTest>
#include <functional>
#include <memory>

using namespace ormelin;
using Builder = std::function<void(proto::FrameSink &)>;
Q_DECLARE_METATYPE(Builder)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray repeated(int n, char byte)
{
    return QByteArray(n, byte);
}

void feed(ReplyBuffer &buffer, const QByteArray &bytes)
{
    buffer.append(reinterpret_cast<const uint8_t *>(bytes.constData()), int32_t(bytes.size()));
}

QByteArray held(const ReplyBuffer &buffer)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), buffer.count());
}

// "B" per WriteByte call, "T<n>" per WriteBytes call.
QString bytesShape(int n)
{
    QStringList parts;
    for (int i = 0; i < n; ++i)
        parts << QStringLiteral("B");
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    // Every frame against bytes worked out by hand from the frame table, and the calling pattern
    // the serial writer sees: frame bytes one WriteByte each, texts one WriteBytes each.
    void frames_data()
    {
        QTest::addColumn<Builder>("build");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("shape");

        using namespace proto;
        QTest::newRow("connection check") << Builder([](FrameSink &s) { sendConnectionCheck(s); })
                                          << hex("aa aa 0b 0b") << bytesShape(4);
        QTest::newRow("image upload jpeg") << Builder([](FrameSink &s) {
            sendImageUpload(s, 5, 320, 240, kPictureKindJpeg, 0x012345);
        }) << hex("aa aa 31  05 00  40 01  f0 00  07  45 23 01  31")
                                           << bytesShape(14);
        QTest::newRow("image upload pixels") << Builder([](FrameSink &s) {
            sendImageUpload(s, 1319, 16, 8, kPictureKindPixels, 256);
        }) << hex("aa aa 31  27 05  10 00  08 00  00  00 01 00  31")
                                             << bytesShape(14);
        QTest::newRow("image upload values cut")
            << Builder([](FrameSink &s) { sendImageUpload(s, 65537, -1, 0x12345, 7, 0x1234567); })
            << hex("aa aa 31  01 00  ff ff  45 23  07  67 45 23  31") << bytesShape(14);
        QTest::newRow("font upload microchip") << Builder([](FrameSink &s) {
            sendFontUpload(s, 100, kFontFormatMicrochip, 1000, 8, 16);
        }) << hex("aa aa 41  64 00  03  e8 03 00  08  10  41")
                                               << bytesShape(12);
        QTest::newRow("font upload values cut") << Builder([](FrameSink &s) {
            sendFontUpload(s, 65537, kFontFormatMonospace, 0x1FFFFFF, -1, 256);
        }) << hex("aa aa 41  01 00  00  ff ff ff  ff  00  41")
                                                << bytesShape(12);
        QTest::newRow("script upload") << Builder([](FrameSink &s) { sendScriptUpload(s, 2, 5); })
                                       << hex("aa aa 58  02 00  05 00 00  58") << bytesShape(9);
        QTest::newRow("script upload size of 2^24 is 0")
            << Builder([](FrameSink &s) { sendScriptUpload(s, -1, 1 << 24); })
            << hex("aa aa 58  ff ff  00 00 00  58") << bytesShape(9);
        // "Удалить объекты" in Windows-1251, 15 bytes.
        QTest::newRow("erase") << Builder([](FrameSink &s) { sendEraseObjects(s); })
                               << hex("aa aa d5  d3 e4 e0 eb e8 f2 fc 20 ee e1 fa e5 ea f2 fb  d5")
                               << QStringLiteral("B B B T15 B");
        QTest::newRow("output image") << Builder([](FrameSink &s) { sendOutputImage(s, 7); })
                                      << hex("aa aa 30  07 00  00 00  00 00  30") << bytesShape(10);
        QTest::newRow("output script")
            << Builder([](FrameSink &s) { sendOutputScript(s, 0x1234); })
            << hex("aa aa 5a  34 12  00 00  00 00  5a") << bytesShape(10);
        // "Шрифт номер 12": Ш d8 р f0 и e8 ф f4 т f2, blank, н ed о ee м ec е e5 р f0, blank, 1 2.
        QTest::newRow("font sample 12")
            << Builder([](FrameSink &s) { sendFontSample(s, 12); })
            << hex("aa aa 40 0c 00 40"
                   "aa 3a 00 00 00 00 3a"
                   "aa 49 49  d8 f0 e8 f4 f2 20 ed ee ec e5 f0 20 31 32  00")
            << bytesShape(6 + 7 + 3) + QStringLiteral(" T14 B");
        QTest::newRow("font sample number beyond 16 bits")
            << Builder([](FrameSink &s) { sendFontSample(s, 65537); })
            << hex("aa aa 40 01 00 40"
                   "aa 3a 00 00 00 00 3a"
                   "aa 49 49  d8 f0 e8 f4 f2 20 ed ee ec e5 f0 20 36 35 35 33 37  00")
            << bytesShape(16) + QStringLiteral(" T17 B");
        QTest::newRow("font sample negative")
            << Builder([](FrameSink &s) { sendFontSample(s, -3); })
            << hex("aa aa 40 fd ff 40"
                   "aa 3a 00 00 00 00 3a"
                   "aa 49 49  d8 f0 e8 f4 f2 20 ed ee ec e5 f0 20 2d 33  00")
            << bytesShape(16) + QStringLiteral(" T14 B");
        QTest::newRow("filler") << Builder([](FrameSink &s) { sendFiller(s); })
                                << hex("aa 00 00 00 00 00 00 00 00 00 00 00") << bytesShape(12);
    }
    void frames()
    {
        QFETCH(Builder, build);
        QFETCH(QByteArray, expected);
        QFETCH(QString, shape);
        CaptureSink sink;
        build(sink);
        QCOMPARE(sink.bytes().toHex(' '), expected.toHex(' '));
        QCOMPARE(sink.shape(), shape);
    }

    // The lengths the link tests and the frame table agree on.
    void frameLengths()
    {
        using namespace proto;
        CaptureSink s;
        sendEraseObjects(s);
        QCOMPARE(s.bytes().size(), kEraseFrameSize);
        s.clear();
        sendImageUpload(s, 1, 2, 3, kPictureKindPixels, 12);
        QCOMPARE(s.bytes().size(), kImageUploadFrameSize);
        s.clear();
        sendFontUpload(s, 1, kFontFormatMicrochip, 12, 8, 8);
        QCOMPARE(s.bytes().size(), kFontUploadFrameSize);
        s.clear();
        sendScriptUpload(s, 1, 12);
        QCOMPARE(s.bytes().size(), kScriptUploadFrameSize);
        s.clear();
        sendOutputImage(s, 1);
        QCOMPARE(s.bytes().size(), kOutputFrameSize);
        s.clear();
        sendOutputScript(s, 1);
        QCOMPARE(s.bytes().size(), kOutputFrameSize);
        s.clear();
        sendFiller(s);
        QCOMPARE(s.bytes().size(), kFillerFrameSize);
    }

    // The payload goes whole through one WriteBytes, whatever bytes it holds; an empty one
    // queues nothing.
    void payload()
    {
        const QByteArray bytes = hex("aa aa 0b 0b ff 00");
        CaptureSink sink;
        proto::sendImageUpload(sink, 3, 1, 3, proto::kPictureKindPixels, int32_t(bytes.size()));
        proto::sendPayload(
            sink, reinterpret_cast<const uint8_t *>(bytes.constData()), int32_t(bytes.size()));
        QCOMPARE(sink.shape(), bytesShape(14) + QStringLiteral(" T6"));
        QCOMPARE(sink.bytes().mid(14), bytes);

        sink.clear();
        proto::sendPayload(sink, reinterpret_cast<const uint8_t *>(bytes.constData()), 0);
        proto::sendPayload(sink, nullptr, 5);
        QVERIFY(sink.calls.isEmpty());
    }

    // Reply framing: batches in, what the buffer holds after the last one.
    void framing_data()
    {
        QTest::addColumn<QList<QByteArray>>("batches");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("stray bytes before FF")
            << QList<QByteArray> { hex("12 34 ff 00") } << hex("ff 00");
        QTest::newRow("no FF at all") << QList<QByteArray> { hex("01 02 03") } << QByteArray();
        QTest::newRow("starts with FF") << QList<QByteArray> { hex("ff 01") } << hex("ff 01");
        QTest::newRow("FF in a later batch")
            << QList<QByteArray> { hex("01 02"), hex("03 ff 04") } << hex("ff 04");
        QTest::newRow("bytes behind a held FF are kept")
            << QList<QByteArray> { hex("ff 01"), hex("02 ff") } << hex("ff 01 02 ff");
        QTest::newRow("first of several FF")
            << QList<QByteArray> { hex("00 ff ff 01") } << hex("ff ff 01");
        QTest::newRow("empty batch") << QList<QByteArray> { hex("ff"), QByteArray() } << hex("ff");
    }
    void framing()
    {
        QFETCH(QList<QByteArray>, batches);
        QFETCH(QByteArray, expected);
        ReplyBuffer buffer;
        for (const QByteArray &b : batches)
            feed(buffer, b);
        QCOMPARE(held(buffer).toHex(' '), expected.toHex(' '));
        QCOMPARE(buffer.count(), int(expected.size()));
    }

    void replyInTwoBatches()
    {
        ReplyBuffer buffer;
        feed(buffer, hex("ff 00 00 00"));
        QCOMPARE(buffer.count(), 4);
        QVERIFY(!buffer.complete());
        feed(buffer, hex("00 00 00 00 00"));
        QVERIFY(!buffer.complete());
        feed(buffer, hex("00"));
        QCOMPARE(buffer.count(), 10);
        QVERIFY(buffer.complete());
        buffer.clear();
        QCOMPARE(buffer.count(), 0);
        QVERIFY(!buffer.complete());
    }

    void connectionCheck_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::newRow("plain") << hex("ff 40 01 f0 00 00 00 00 00 00") << 320 << 240;
        QTest::newRow("shifted") << hex("ff ff 40 01 f0 00 00 00 00 00") << 320 << 240;
        QTest::newRow("behind noise") << hex("12 00 ff 40 01 f0 00 00 00 00 00 00") << 320 << 240;
        QTest::newRow("high bytes") << hex("ff 00 03 e0 01 00 00 00 00 00") << 768 << 480;
    }
    void connectionCheck()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, first);
        QFETCH(int, second);
        ReplyBuffer buffer;
        feed(buffer, reply);
        QVERIFY(buffer.complete());
        const ScreenResolution r = connectionCheckResolution(buffer);
        QCOMPARE(r.first, first);
        QCOMPARE(r.second, second);
    }

    void uploadStatus_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("refused");
        QTest::newRow("refusal") << hex("ff ff ff 00 00 00 00 00 00 00") << true;
        QTest::newRow("refusal, other tail") << hex("ff ff ff 12 34 56 78 9a bc de") << true;
        QTest::newRow("acceptance") << hex("ff 00 00 00 00 00 00 00 00 00") << false;
        QTest::newRow("status 00FF") << hex("ff ff 00 00 00 00 00 00 00 00") << false;
        QTest::newRow("status FF00") << hex("ff 00 ff 00 00 00 00 00 00 00") << false;
    }
    void uploadStatus()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, refused);
        ReplyBuffer buffer;
        feed(buffer, reply);
        QVERIFY(buffer.complete());
        QCOMPARE(uploadRefused(buffer), refused);
    }

    void erase_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("outcome");
        QTest::newRow("erased") << hex("ff aa 00 00 00 00 00 00 00 00")
                                << int(EraseOutcome::Erased);
        QTest::newRow("protected")
            << hex("ff ff 00 00 00 00 00 00 00 00") << int(EraseOutcome::Refused);
        QTest::newRow("zero") << hex("ff 00 aa 00 00 00 00 00 00 00")
                              << int(EraseOutcome::NoMeaning);
        QTest::newRow("other") << hex("ff 55 00 00 00 00 00 00 00 00")
                               << int(EraseOutcome::NoMeaning);
    }
    void erase()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, outcome);
        ReplyBuffer buffer;
        feed(buffer, reply);
        QCOMPARE(int(eraseOutcome(buffer)), outcome);
    }

    // Overflow: the buffer lives on the heap so that AddressSanitizer sees any write past it; the
    // count, stored next to the bytes, would show one even without it.
    void overflowOneBatch()
    {
        auto buffer = std::make_unique<ReplyBuffer>();
        QByteArray bytes;
        for (int i = 0; i < 3000; ++i)
            bytes.append(char(i == 0 ? 0xFF : i % 251));
        feed(*buffer, bytes);
        QCOMPARE(buffer->count(), ReplyBuffer::kCapacity);
        QCOMPARE(held(*buffer), bytes.left(ReplyBuffer::kCapacity));
        // A full buffer takes nothing more and keeps what it has.
        feed(*buffer, hex("ff 01 02"));
        QCOMPARE(buffer->count(), ReplyBuffer::kCapacity);
        QCOMPARE(held(*buffer), bytes.left(ReplyBuffer::kCapacity));
        QCOMPARE(buffer->at(ReplyBuffer::kCapacity), uint8_t(0));
        QCOMPARE(buffer->at(-1), uint8_t(0));
    }

    void overflowAcrossBatches()
    {
        auto buffer = std::make_unique<ReplyBuffer>();
        feed(*buffer, hex("ff") + repeated(998, 0x11));
        QCOMPARE(buffer->count(), 999);
        feed(*buffer, hex("21 22 23 24 25"));
        QCOMPARE(buffer->count(), ReplyBuffer::kCapacity);
        QCOMPARE(held(*buffer).right(4).toHex(' '), QByteArray("11 21 22 23"));
    }

    // Stray bytes never take the room of a reply that follows them in the same batch.
    void replyBehindLongNoise()
    {
        auto buffer = std::make_unique<ReplyBuffer>();
        const QByteArray reply = hex("ff 40 01 f0 00 00 00 00 00 00");
        feed(*buffer, repeated(2500, 0x55) + reply);
        QCOMPARE(held(*buffer), reply);
        QCOMPARE(connectionCheckResolution(*buffer).first, 320);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
