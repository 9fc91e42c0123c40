#include "tools/simcore.h"

#include <QTest>

using namespace tarviks;

namespace {

std::vector<uint8_t> bytes(const char *hex)
{
    const QByteArray b = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    return std::vector<uint8_t>(b.begin(), b.end());
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<Event> feedAll(Simulator &sim, const std::vector<uint8_t> &data)
{
    return sim.feed(data.data(), data.size());
}

QString hex(const std::vector<uint8_t> &b)
{
    return QString::fromStdString(hexText(b));
}

// The events with neighbouring garbage merged: how the stream was cut must not matter.
QStringList normalised(const std::vector<Event> &events)
{
    QStringList out;
    std::vector<uint8_t> garbage;
    const auto flush = [&] {
        if (!garbage.empty())
            out << QStringLiteral("garbage ") + hex(garbage);
        garbage.clear();
    };
    for (const Event &e : events) {
        if (e.kind == Event::Kind::Garbage) {
            garbage.insert(garbage.end(), e.bytes.begin(), e.bytes.end());
            continue;
        }
        flush();
        out << QString::fromStdString(e.line) + QStringLiteral(" reply=") + hex(e.reply);
    }
    flush();
    return out;
}

QStringList lines(const std::vector<Event> &events)
{
    QStringList out;
    for (const Event &e : events)
        out << QString::fromStdString(e.line);
    return out;
}

const char *const kEraseFrame = "aa aa d5 d3 e4 e0 eb e8 f2 fc 20 ee e1 fa e5 ea f2 fb d5";
const char *const kAccept = "ff000000000000000000";
const char *const kRefuse = "ffffff00000000000000";

std::vector<uint8_t> scriptUpload(int number, const std::vector<uint8_t> &payload)
{
    const auto n = uint16_t(number);
    const auto s = uint32_t(payload.size());
    std::vector<uint8_t> f = { 0xAA, 0xAA, 0x58, uint8_t(n), uint8_t(n >> 8), uint8_t(s),
        uint8_t(s >> 8), uint8_t(s >> 16), 0x58 };
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

} // namespace

class TestSimCore : public QObject
{
    Q_OBJECT
private slots:
    // Each frame alone: its log line and its answer.
    void frames_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("expectedLines");
        QTest::addColumn<QString>("lastReply");

        const auto row = [](const char *name, const char *in, QStringList out, const char *reply) {
            QTest::newRow(name) << QByteArray::fromHex(QByteArray(in).replace(' ', "")) << out
                                << QString::fromLatin1(reply);
        };
        row("connection check", "aa aa 0b 0b", { "frame connection-check hex=aaaa0b0b" },
            "ff4001f0000000000000");
        row("image upload", "aa aa 31 05 00 03 00 02 00 00 06 00 00 31 aa aa 0b 0b ff 00",
            { "frame image-upload number=5 width=3 height=2 kind=0 size=6 "
              "hex=aaaa3105000300020000060000"
              "31",
                "payload code=31 number=5 size=6 crc32=7ba2818e result=stored" },
            kAccept);
        row("font upload",
            "aa aa 41 64 00 03 0c 00 00 08 10 41 00 01 02 03 04 05 06 07 08 09 0a 0b",
            { "frame font-upload number=100 format=3 size=12 char-width=8 char-height=16 "
              "hex=aaaa41640003"
              "0c0000081041",
                "payload code=41 number=100 size=12 crc32=9270c965 result=stored" },
            kAccept);
        row("script upload", "aa aa 58 27 05 05 00 00 58 68 65 6c 6c 6f",
            { "frame script-upload number=1319 size=5 hex=aaaa58270505000058",
                "payload code=58 number=1319 size=5 crc32=3610a686 result=stored" },
            kAccept);
        row("empty upload", "aa aa 58 01 00 00 00 00 58",
            { "frame script-upload number=1 size=0 hex=aaaa58010000000058",
                "payload code=58 number=1 size=0 crc32=00000000 result=stored" },
            kAccept);
        row("erase", kEraseFrame,
            { "frame erase text-ok=1 result=erased hex=aaaad5d3e4e0ebe8f2fc20eee1fae5eaf2fbd5" },
            "ffaa0000000000000000");
        row("erase with a wrong text", "aa aa d5 d3 e4 e0 eb e8 f2 fc 20 ee e1 fa e5 ea f2 00 d5",
            { "frame erase text-ok=0 result=ignored hex=aaaad5d3e4e0ebe8f2fc20eee1fae5eaf200d5" },
            "");
        row("output image", "aa aa 30 07 00 00 00 00 00 30",
            { "frame output-image number=7 arg1=0 arg2=0 stored=0 hex=aaaa3007000000000030" }, "");
        row("output script", "aa aa 5a 34 12 01 00 02 00 5a",
            { "frame output-script number=4660 arg1=1 arg2=2 stored=0 hex=aaaa5a3412010002005a" },
            "");
        row("font sample",
            "aa aa 40 0c 00 40 aa 3a 00 00 00 00 3a "
            "aa 49 49 d8 f0 e8 f4 f2 20 ed ee ec e5 f0 20 31 32 00",
            { "frame font-sample-1 number=12 stored=0 hex=aaaa400c0040",
                "frame font-sample-2 arg1=0 arg2=0 hex=aa3a000000003a",
                "frame font-sample-3 text=d8f0e8f4f220edeeece5f0203132 number=12 "
                "hex=aa4949d8f0e8f4f220edeeece5f020313200" },
            "");
        row("font sample negative", "aa 49 49 41 20 2d 33 00",
            { "frame font-sample-3 text=41202d33 number=-3 hex=aa494941202d3300" }, "");
        row("filler", "aa 00 00 00 00 00 00 00 00 00 00 00", { "filler" }, "");
    }
    void frames()
    {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, expectedLines);
        QFETCH(QString, lastReply);
        Simulator sim;
        const auto events
            = sim.feed(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
        QCOMPARE(lines(events), expectedLines);
        QCOMPARE(hex(events.back().reply), lastReply);
        QVERIFY(!sim.midFrame());
    }

    void connectionCheckReplies_data()
    {
        QTest::addColumn<bool>("shifted");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<QString>("reply");
        QTest::newRow("plain") << false << 320 << 240 << "ff4001f0000000000000";
        QTest::newRow("shifted") << true << 320 << 240 << "ffff4001f00000000000";
        QTest::newRow("480x272") << false << 480 << 272 << "ffe00110010000000000";
    }
    void connectionCheckReplies()
    {
        QFETCH(bool, shifted);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(QString, reply);
        SimConfig config;
        config.shifted = shifted;
        config.firstDimension = uint16_t(first);
        config.secondDimension = uint16_t(second);
        Simulator sim(config);
        const auto events = feedAll(sim, bytes("aa aa 0b 0b"));
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(hex(events[0].reply), reply);
    }

    // A stream of garbage, frames and a payload holding frame-like bytes, cut in two at every
    // position and fed byte by byte: the decoder must see the same thing every time.
    void splitAtEveryPosition()
    {
        const std::vector<uint8_t> stream = cat({
            bytes("12 34 aa 55"),
            bytes("aa aa 0b 0b"),
            scriptUpload(3, bytes("aa aa 0b 0b aa 00 00 00 00 00 00 00 00 00 00 00 ff")),
            bytes("aa 00 00 00 00 00 00 00 00 00 00 00"),
            bytes("aa aa 0b 0c"),
            bytes("aa aa 40 03 00 40 aa 3a 00 00 00 00 3a aa 49 49 41 20 33 00"),
            bytes(kEraseFrame),
            bytes("00"),
        });
        Simulator whole;
        const QStringList expected = normalised(feedAll(whole, stream));
        QCOMPARE(expected,
            QStringList({ "garbage 1234aa55",
                "frame connection-check hex=aaaa0b0b reply=ff4001f0000000000000",
                "frame script-upload number=3 size=17 hex=aaaa58030011000058 reply=",
                QStringLiteral(
                    "payload code=58 number=3 size=17 crc32=45188109 result=stored reply=")
                    + kAccept,
                "filler reply=", "garbage aaaa0b0c",
                "frame font-sample-1 number=3 stored=1 hex=aaaa40030040 reply=",
                "frame font-sample-2 arg1=0 arg2=0 hex=aa3a000000003a reply=",
                "frame font-sample-3 text=412033 number=3 hex=aa494941203300 reply=",
                "frame erase text-ok=1 result=erased "
                "hex=aaaad5d3e4e0ebe8f2fc20eee1fae5eaf2fbd5 reply=ffaa0000000000000000",
                "garbage 00" }));

        for (size_t cut = 1; cut < stream.size(); ++cut) {
            Simulator sim;
            auto events = sim.feed(stream.data(), cut);
            const auto rest = sim.feed(stream.data() + cut, stream.size() - cut);
            events.insert(events.end(), rest.begin(), rest.end());
            QVERIFY2(
                normalised(events) == expected, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        }
        Simulator bytewise;
        std::vector<Event> events;
        for (uint8_t b : stream) {
            const auto e = bytewise.feed(&b, 1);
            events.insert(events.end(), e.begin(), e.end());
        }
        QCOMPARE(normalised(events), expected);
    }

    // A payload is taken whole: frame-like bytes inside it are not frames.
    void payloadHoldsAnyBytes()
    {
        Simulator sim;
        const auto payload = bytes("aa aa 0b 0b aa aa d5 ff ff ff aa 00");
        const auto events = feedAll(sim, scriptUpload(9, payload));
        QCOMPARE(events.size(), size_t(2));
        QCOMPARE(events[1].kind, Event::Kind::Payload);
        QCOMPARE(events[1].stored, 9);
        QVERIFY(sim.object(9) != nullptr);
        QCOMPARE(hex(sim.object(9)->bytes), hex(payload));
    }

    // A frame whose trailer does not match is not taken, and what it would have announced does
    // not swallow the frames behind it.
    void trailerMismatch_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("garbage");
        QTest::newRow("connection check") << QByteArray::fromHex("aaaa0b0caaaa0b0b") << "aaaa0b0c";
        QTest::newRow("upload announcing a payload") << QByteArray::fromHex(
            "aaaa31050003000200000600"
            "0032"
            "aaaa0b0b") << "aaaa310500030002000006000032";
        QTest::newRow("unknown code") << QByteArray::fromHex("aaaa77aaaa0b0b") << "aaaa77";
        QTest::newRow("two-byte lead for a one-byte frame")
            << QByteArray::fromHex("aaaa3a000000003aaaaa0b0b") << "aa";
        QTest::newRow("broken filler")
            << QByteArray::fromHex("aa0000000100aaaa0b0b") << "aa0000000100";
    }
    void trailerMismatch()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, garbage);
        Simulator sim;
        const auto events
            = sim.feed(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
        QVERIFY(!events.empty());
        QCOMPARE(events.front().kind, Event::Kind::Garbage);
        QCOMPARE(hex(events.front().bytes), garbage);
        QCOMPARE(QString::fromStdString(events.back().name), QStringLiteral("connection-check"));
        QVERIFY(!sim.midFrame());
    }

    // A font-sample text with no end is given up rather than waited for forever.
    void overlongSampleText()
    {
        Simulator sim;
        std::vector<uint8_t> input = bytes("aa 49 49");
        input.insert(input.end(), 300, 0x41);
        const auto tail = bytes("aa aa 0b 0b");
        input.insert(input.end(), tail.begin(), tail.end());
        const auto events = feedAll(sim, input);
        QCOMPARE(QString::fromStdString(events.back().name), QStringLiteral("connection-check"));
    }

    // The object table's rules: range, protection, capacity, replacement, erase.
    void refusals_data()
    {
        QTest::addColumn<bool>("protect");
        QTest::addColumn<qlonglong>("capacity"); // -1: unlimited
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("result");
        QTest::newRow("stored") << false << -1LL << 0 << "stored";
        QTest::newRow("number 1320") << false << -1LL << 1320 << "refused-number";
        QTest::newRow("number 65535") << false << -1LL << 65535 << "refused-number";
        QTest::newRow("protected") << true << -1LL << 5 << "refused-protected";
        QTest::newRow("over capacity") << false << 9LL << 5 << "refused-capacity";
        QTest::newRow("exactly capacity") << false << 10LL << 5 << "stored";
    }
    void refusals()
    {
        QFETCH(bool, protect);
        QFETCH(qlonglong, capacity);
        QFETCH(int, number);
        QFETCH(QString, result);
        SimConfig config;
        config.writeProtected = protect;
        if (capacity >= 0)
            config.capacity = uint64_t(capacity);
        Simulator sim(config);
        const auto events = feedAll(sim, scriptUpload(number, std::vector<uint8_t>(10, 0x11)));
        QCOMPARE(events.size(), size_t(2));
        const QString line = QString::fromStdString(events[1].line);
        QVERIFY2(line.endsWith(QStringLiteral(" result=") + result), qPrintable(line));
        const bool stored = result == QStringLiteral("stored");
        QCOMPARE(hex(events[1].reply), QString::fromLatin1(stored ? kAccept : kRefuse));
        QCOMPARE(sim.objectCount(), stored ? 1 : 0);
        QCOMPARE(sim.storedBytes(), stored ? 10u : 0u);
    }

    void capacityCountsReplacedObjectOnce()
    {
        SimConfig config;
        config.capacity = 25;
        Simulator sim(config);
        QCOMPARE(feedAll(sim, scriptUpload(1, std::vector<uint8_t>(10, 1)))[1].stored, 1);
        QCOMPARE(feedAll(sim, scriptUpload(2, std::vector<uint8_t>(10, 2)))[1].stored, 2);
        // 20 stored: a third object of 10 does not fit, but object 1 may grow from 10 to 15.
        QCOMPARE(feedAll(sim, scriptUpload(3, std::vector<uint8_t>(10, 3)))[1].stored, -1);
        QCOMPARE(feedAll(sim, scriptUpload(1, std::vector<uint8_t>(15, 4)))[1].stored, 1);
        QCOMPARE(sim.storedBytes(), 25u);
        QCOMPARE(sim.object(1)->bytes.size(), size_t(15));
    }

    // A wrong text is no erase: nothing happens, nothing is answered.
    void erase_data()
    {
        QTest::addColumn<bool>("protect");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("left");
        QTest::newRow("erased") << false << QByteArray(kEraseFrame) << "ffaa0000000000000000" << 0;
        QTest::newRow("protected")
            << true << QByteArray(kEraseFrame) << "ffff0000000000000000" << 0;
        QTest::newRow("wrong text")
            << false << QByteArray("aa aa d5 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 d5")
            << QString() << 1;
    }
    void erase()
    {
        QFETCH(bool, protect);
        QFETCH(QByteArray, frame);
        QFETCH(QString, reply);
        QFETCH(int, left);
        SimConfig config;
        config.writeProtected = protect;
        Simulator sim(config);
        if (!protect) {
            feedAll(sim, scriptUpload(4, bytes("01 02")));
            QCOMPARE(sim.objectCount(), 1);
        }
        const auto events = feedAll(sim, bytes(frame.constData()));
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(hex(events[0].reply), reply);
        QCOMPARE(events[0].tableCleared, !reply.isEmpty() && !protect);
        QCOMPARE(sim.objectCount(), left);
        QCOMPARE(sim.storedBytes(), left ? 2u : 0u);
    }

    // An object stored and erased within one batch is still there for whoever handles the
    // events of the batch afterwards (the dump).
    void storedObjectOutlivesErase()
    {
        Simulator sim;
        const auto events
            = feedAll(sim, cat({ scriptUpload(4, bytes("01 02")), bytes(kEraseFrame) }));
        QCOMPARE(events.size(), size_t(3));
        QCOMPARE(events[1].stored, 4);
        QVERIFY(events[1].object);
        QCOMPARE(hex(events[1].object->bytes), QStringLiteral("0102"));
        QVERIFY(events[2].tableCleared);
        QCOMPARE(sim.object(4), nullptr);
    }

    void outputReportsStoredObject()
    {
        Simulator sim;
        feedAll(sim, scriptUpload(7, bytes("01")));
        const auto events = feedAll(sim, bytes("aa aa 5a 07 00 00 00 00 00 5a aa aa 40 08 00 40"));
        QCOMPARE(lines(events),
            QStringList(
                { "frame output-script number=7 arg1=0 arg2=0 stored=1 hex=aaaa5a0700000000005a",
                    "frame font-sample-1 number=8 stored=0 hex=aaaa40080040" }));
        QVERIFY(events[0].reply.empty() && events[1].reply.empty());
    }

    void tableText()
    {
        Simulator sim;
        QCOMPARE(QString::fromStdString(sim.tableText()),
            QStringLiteral("# number type code kind width height size crc32\n"));
        feedAll(sim, bytes("aa aa 31 05 00 03 00 02 00 00 06 00 00 31 aa aa 0b 0b ff 00"));
        feedAll(sim, bytes("aa aa 41 02 00 00 01 00 00 08 10 41 55"));
        feedAll(sim, bytes("aa aa 31 01 00 40 01 f0 00 07 01 00 00 31 00"));
        feedAll(sim, scriptUpload(1319, bytes("68 65 6c 6c 6f")));
        QCOMPARE(QString::fromStdString(sim.tableText()),
            QStringLiteral("# number type code kind width height size crc32\n"
                           "1 0 31 7 320 240 1 d202ef8d\n"
                           "2 3 41 0 8 16 1 c9034af6\n"
                           "5 1 31 0 3 2 6 7ba2818e\n"
                           "1319 4 58 0 0 0 5 3610a686\n"));
    }

    void abandonPartial()
    {
        Simulator sim;
        QVERIFY(!sim.abandonPartial().has_value());
        feedAll(sim, bytes("aa aa 58 01 00 0a 00 00 58 01 02 03"));
        QVERIFY(sim.midFrame());
        const auto e = sim.abandonPartial();
        QVERIFY(e.has_value());
        QCOMPARE(QString::fromStdString(e->line), QStringLiteral("abandoned hex= payload=3/10"));
        QVERIFY(!sim.midFrame());
        const auto events = feedAll(sim, bytes("aa aa 0b 0b"));
        QCOMPARE(QString::fromStdString(events.back().name), QStringLiteral("connection-check"));
        QCOMPARE(sim.objectCount(), 0);

        feedAll(sim, bytes("aa aa 31 05"));
        QCOMPARE(QString::fromStdString(sim.abandonPartial()->line),
            QStringLiteral("abandoned hex=aaaa3105"));
    }

    void crcKnownValues()
    {
        const QByteArray check("123456789");
        QCOMPARE(crc32(reinterpret_cast<const uint8_t *>(check.constData()), 9), 0xCBF43926u);
        QCOMPARE(crc32(nullptr, 0), 0u);
    }

    void pixels_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QByteArray>("rgb");
        QTest::newRow("primaries") << QByteArray::fromHex("1f00e003007c0000ff7f") << 5 << 1
                                   << QByteArray::fromHex("ff0000"
                                                          "00ff00"
                                                          "0000ff"
                                                          "000000"
                                                          "ffffff");
        QTest::newRow("mid values") << QByteArray::fromHex("1042") << 1 << 1 // 0x4210: 16,16,16
                                    << QByteArray::fromHex("848484");
        QTest::newRow("size mismatch") << QByteArray::fromHex("1f00e003") << 1 << 1 << QByteArray();
        QTest::newRow("no pixels") << QByteArray() << 0 << 0 << QByteArray();
    }
    void pixels()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QByteArray, rgb);
        const auto out
            = pixelsToRgb(std::vector<uint8_t>(payload.begin(), payload.end()), width, height);
        QCOMPARE(
            QByteArray(reinterpret_cast<const char *>(out.data()), qsizetype(out.size())).toHex(),
            rgb.toHex());
    }
};

QTEST_GUILESS_MAIN(TestSimCore)
#include "tst_simcore.moc"
