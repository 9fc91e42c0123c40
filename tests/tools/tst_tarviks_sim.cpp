// The simulator as a program: started as the tests, benchmarks and demo start it, talked to over
// its pseudo-terminal with plain termios.
#include "link/protocol.h"
#include "link_simprocess.h"
#include "link_sinks.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kWait = 5000;

QByteArray h(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

QByteArray scriptUpload(int number, const QByteArray &payload)
{
    CaptureSink s;
    ormelin::proto::sendScriptUpload(s, number, int32_t(payload.size()));
    return s.bytes() + payload;
}

// CPU time the process has used, in clock ticks.
long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return f.value(11).toLong() + f.value(12).toLong(); // utime, stime
}

} // namespace

class TestTarviksSim : public QObject
{
    Q_OBJECT

    // Starts the simulator and connects a client to it.
    bool startWith(SimProcess &sim, PtyClient &client, const QStringList &args)
    {
        if (!sim.start(args)) {
            qWarning().noquote() << sim.error();
            return false;
        }
        return client.open(sim.port());
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(
            QFileInfo(SimProcess::program()).isExecutable(), qPrintable(SimProcess::program()));
    }

    void portLineAndLineSettings()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        QVERIFY(sim.port().startsWith(QStringLiteral("/dev/pts/")));
        const int fd = ::open(sim.port().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios t {};
        QCOMPARE(tcgetattr(fd, &t), 0);
        ::close(fd);
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(t.c_cflag & CSTOPB);
        QVERIFY(!(t.c_cflag & PARENB));
        QVERIFY(!(t.c_cflag & CRTSCTS));
        QVERIFY(!(t.c_lflag & (ICANON | ECHO)));
        QCOMPARE(sim.stop(), 0);
    }

    // One request and the answer it gets, and the least time from an event in the log to the
    // next: the answer's own shape, its delay, its pieces, and the pace at which the request is
    // read.
    void answer_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("frame"); // how the log names the request
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<double>("atLeast"); // seconds from the first to the second

        const QByteArray check = h("aa aa 0b 0b");
        const QByteArray plain = h("ff 40 01 f0 00 00 00 00 00 00");
        const QString checked = QStringLiteral("frame connection-check hex=aaaa0b0b");
        const QString frame = QStringLiteral("frame");
        const QString reply = QStringLiteral("reply");
        QTest::newRow("plain") << QStringList() << check << plain << checked << frame << reply
                               << 0.0;
        QTest::newRow("shifted") << QStringList { "--shifted" } << check
                                 << h("ff ff 40 01 f0 00 00 00 00 00") << checked << frame << reply
                                 << 0.0;
        QTest::newRow("resolution")
            << QStringList { "--resolution", "480x272" } << check
            << h("ff e0 01 10 01 00 00 00 00 00") << checked << frame << reply << 0.0;
        CaptureSink erase;
        ormelin::proto::sendEraseObjects(erase);
        QTest::newRow("erase protected")
            << QStringList { "--protect" } << erase.bytes() << h("ff ff 00 00 00 00 00 00 00 00")
            << QStringLiteral("frame erase") << frame << reply << 0.0;
        // Five pieces of two bytes, 3 ms apart: the last leaves at least four gaps after the
        // frame, and the client still gets the answer whole and in order.
        QTest::newRow("chunk") << QStringList { "--chunk", "2" } << check << plain << checked
                               << frame << reply << 0.012;
        QTest::newRow("delay") << QStringList { "--delay", "100-120", "--seed", "7" } << check
                               << plain << checked << frame << reply << 0.100;
        // 2750 bytes at 250000 baud take 121 ms on the line; the frame's 9 bytes and at most
        // 20 ms of the rest may be read at once after a pause.
        QTest::newRow("paced reading")
            << QStringList { "--baud", "250000" } << scriptUpload(1, QByteArray(2750 - 9, '\x5a'))
            << h("ff 00 00 00 00 00 00 00 00 00") << QStringLiteral("frame script-upload number=1")
            << frame << QStringLiteral("payload") << 0.121 - 0.020 - 0.001;
    }
    void answer()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, frame);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(double, atLeast);
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, args));
        QVERIFY(client.write(request));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), reply.size(), kWait);
        QCOMPARE(client.received.toHex(' '), reply.toHex(' '));
        QTRY_COMPARE_WITH_TIMEOUT(sim.log(QStringLiteral("reply")).size(), 1, kWait);
        const QStringList frames = sim.log(QStringLiteral("frame"));
        QCOMPARE(frames.size(), 1);
        QVERIFY2(frames[0].startsWith(frame), qPrintable(frames[0]));
        QCOMPARE(sim.timedLog(from).size(), 1);
        QCOMPARE(sim.timedLog(to).size(), 1);
        const double gap = sim.timedLog(to)[0].first - sim.timedLog(from)[0].first;
        QVERIFY2(gap >= atLeast, qPrintable(QString::number(gap)));
    }

    // A 3 x 2 picture of 16-bit pixels is stored: its bytes, a viewable picture and the table.
    void uploadStoredInDump()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, {}));
        const QByteArray pixels = h("1f00 e003 007c  ff7f 0000 1042");
        CaptureSink frame;
        ormelin::proto::sendImageUpload(
            frame, 7, 3, 2, ormelin::proto::kPictureKindPixels, int32_t(pixels.size()));
        QVERIFY(client.write(frame.bytes() + pixels));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
        QCOMPARE(client.received, h("ff 00 00 00 00 00 00 00 00 00"));

        QTRY_VERIFY_WITH_TIMEOUT(sim.dumpFile(QStringLiteral("table.txt")).contains("\n7 "), kWait);
        QCOMPARE(sim.dumpFile(QStringLiteral("7.bin")), pixels);
        // crc32 of the pixel bytes, worked out with zlib.
        QCOMPARE(QString::fromLatin1(sim.dumpFile(QStringLiteral("table.txt"))),
            QStringLiteral("# number type code kind width height size crc32\n"
                           "7 1 31 0 3 2 12 6da8d136\n"));
        QCOMPARE(sim.log(QStringLiteral("payload")),
            QStringList { "payload code=31 number=7 size=12 crc32=6da8d136 result=stored" });

        QImage picture(sim.dumpDir() + QStringLiteral("/7.png"));
        QCOMPARE(picture.size(), QSize(3, 2));
        QCOMPARE(picture.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(picture.pixel(1, 0), qRgb(0, 255, 0));
        QCOMPARE(picture.pixel(2, 0), qRgb(0, 0, 255));
        QCOMPARE(picture.pixel(0, 1), qRgb(255, 255, 255));
        QCOMPARE(picture.pixel(1, 1), qRgb(0, 0, 0));
        QCOMPARE(picture.pixel(2, 1), qRgb(0x84, 0x84, 0x84));
    }

    void refusal_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("result");
        const QByteArray refused = h("ff ff ff 00 00 00 00 00 00 00");
        QTest::newRow("protected")
            << QStringList { "--protect" } << 3 << refused << "refused-protected";
        QTest::newRow("over capacity")
            << QStringList { "--capacity", "11" } << 3 << refused << "refused-capacity";
        QTest::newRow("within capacity") << QStringList { "--capacity", "12" } << 3
                                         << h("ff 00 00 00 00 00 00 00 00 00") << "stored";
        QTest::newRow("number 1320") << QStringList() << 1320 << refused << "refused-number";
    }
    void refusal()
    {
        QFETCH(QStringList, args);
        QFETCH(int, number);
        QFETCH(QByteArray, reply);
        QFETCH(QString, result);
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, args));
        QVERIFY(client.write(scriptUpload(number, QByteArray(12, 'x'))));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
        QCOMPARE(client.received.toHex(' '), reply.toHex(' '));
        QTRY_COMPARE_WITH_TIMEOUT(sim.log(QStringLiteral("payload")).size(), 1, kWait);
        QVERIFY(
            sim.log(QStringLiteral("payload"))[0].endsWith(QStringLiteral(" result=") + result));
        const bool stored = result == QStringLiteral("stored");
        QCOMPARE(QFileInfo::exists(sim.dumpDir() + QStringLiteral("/%1.bin").arg(number)), stored);
    }

    void erase()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, {}));
        QVERIFY(client.write(scriptUpload(4, "abc")));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(sim.dumpDir() + QStringLiteral("/4.bin")), kWait);
        client.received.clear();

        CaptureSink frame;
        ormelin::proto::sendEraseObjects(frame);
        QVERIFY(client.write(frame.bytes()));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
        QCOMPARE(client.received, h("ff aa 00 00 00 00 00 00 00 00"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !QFileInfo::exists(sim.dumpDir() + QStringLiteral("/4.bin")), kWait);
        QCOMPARE(QString::fromLatin1(sim.dumpFile(QStringLiteral("table.txt"))),
            QStringLiteral("# number type code kind width height size crc32\n"));
    }

    // No answer ever: the filler sent behind the frame is read, and still nothing arrives.
    void silent()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, { "--silent" }));
        QSignalSpy arrived(client.notifier(), &QSocketNotifier::activated);
        QVERIFY(client.write(h("aa aa 0b 0b")));
        QTRY_COMPARE_WITH_TIMEOUT(sim.log(QStringLiteral("frame")).size(), 1, kWait);
        CaptureSink filler;
        ormelin::proto::sendFiller(filler);
        QVERIFY(client.write(filler.bytes()));
        QTRY_COMPARE_WITH_TIMEOUT(sim.log(QStringLiteral("filler")).size(), 1, kWait);
        QVERIFY(!arrived.wait(300));
        QCOMPARE(client.received, QByteArray());
        QVERIFY(sim.log(QStringLiteral("reply")).isEmpty());
    }

    // One to five stray bytes, never FF, in front of the reply; the log names them.
    void noise()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, { "--noise", "--seed", "3" }));
        for (int round = 0; round < 5; ++round) {
            client.received.clear();
            QVERIFY(client.write(h("aa aa 0b 0b")));
            QTRY_COMPARE_WITH_TIMEOUT(sim.log(QStringLiteral("reply")).size(), round + 1, kWait);
            const QString line = sim.log(QStringLiteral("reply"))[round];
            const int noise
                = line.section(QStringLiteral("noise="), 1).section(QLatin1Char(' '), 0, 0).toInt();
            QVERIFY2(noise >= 1 && noise <= 5, qPrintable(line));
            QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), noise + 10, kWait);
            QCOMPARE(QString::fromLatin1(client.received.toHex()),
                line.section(QStringLiteral("hex="), 1));
            QVERIFY(!client.received.left(noise).contains('\xff'));
            QCOMPARE(client.received.mid(noise), h("ff 40 01 f0 00 00 00 00 00 00"));
        }
    }

    // Every complete frame is answered with bytes that can never be taken for a reply.
    void garbage()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, { "--garbage" }));
        CaptureSink frames;
        ormelin::proto::sendConnectionCheck(frames);
        ormelin::proto::sendOutputImage(frames, 1);
        ormelin::proto::sendFiller(frames);
        QVERIFY(client.write(frames.bytes() + scriptUpload(2, "xy")));
        QTRY_COMPARE_WITH_TIMEOUT(sim.log(QStringLiteral("junk")).size(), 4, kWait);
        QByteArray junk;
        for (const QString &line : sim.log(QStringLiteral("junk")))
            junk += QByteArray::fromHex(line.section(QStringLiteral("hex="), 1).toLatin1());
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), junk.size(), kWait);
        QCOMPARE(client.received, junk);
        QVERIFY(!junk.contains('\xff'));
        QVERIFY(sim.log(QStringLiteral("reply")).isEmpty());
    }

    // The program's own frame builders against the simulator's independent decoder.
    void programFramesDecoded()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, { "--silent" }));
        using namespace ormelin::proto;
        CaptureSink s;
        sendConnectionCheck(s);
        sendImageUpload(s, 12, 320, 240, kPictureKindJpeg, 3);
        sendPayload(s, reinterpret_cast<const uint8_t *>("\xaa\xaa\x0b"), 3);
        sendFontUpload(s, 13, kFontFormatMicrochip, 2, 8, 16);
        sendPayload(s, reinterpret_cast<const uint8_t *>("\x00\xff"), 2);
        sendScriptUpload(s, 1319, 1);
        sendPayload(s, reinterpret_cast<const uint8_t *>("\xd5"), 1);
        sendOutputImage(s, 12);
        sendOutputScript(s, 1319);
        sendFontSample(s, 13);
        sendFiller(s);
        sendEraseObjects(s);
        QVERIFY(client.write(s.bytes()));
        QTRY_COMPARE_WITH_TIMEOUT(sim.log(QStringLiteral("frame")).size(), 10, kWait);
        QStringList decoded;
        for (const QString &line : sim.log()) {
            if (line.startsWith(QStringLiteral("frame"))
                || line.startsWith(QStringLiteral("payload"))
                || line.startsWith(QStringLiteral("filler"))
                || line.startsWith(QStringLiteral("garbage")))
                decoded << line.section(QStringLiteral(" hex="), 0, 0)
                               .section(QStringLiteral(" crc32="), 0, 0);
        }
        QCOMPARE(decoded,
            QStringList({ "frame connection-check",
                "frame image-upload number=12 width=320 height=240 kind=7 size=3",
                "payload code=31 number=12 size=3",
                "frame font-upload number=13 format=3 size=2 char-width=8 char-height=16",
                "payload code=41 number=13 size=2", "frame script-upload number=1319 size=1",
                "payload code=58 number=1319 size=1",
                "frame output-image number=12 arg1=0 arg2=0 stored=1",
                "frame output-script number=1319 arg1=0 arg2=0 stored=1",
                "frame font-sample-1 number=13 stored=1", "frame font-sample-2 arg1=0 arg2=0",
                "frame font-sample-3 text=d8f0e8f4f220edeeece5f0203133 number=13", "filler",
                "frame erase text-ok=1 result=erased" }));
    }

    // The program closes and reopens its port: the simulator stays usable, and while nobody is
    // connected it waits instead of spinning on a hang-up.
    void clientReconnects()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, {}));
        QVERIFY(client.write(h("aa aa 0b 0b")));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
        client.close();

        const long before = cpuTicks(sim.process().processId());
        QSignalSpy finished(&sim.process(), &QProcess::finished);
        QVERIFY(!finished.wait(500));
        const long used = cpuTicks(sim.process().processId()) - before;
        QVERIFY2(used >= 0 && used < sysconf(_SC_CLK_TCK) / 10, qPrintable(QString::number(used)));

        QVERIFY(client.open(sim.port()));
        client.received.clear();
        QVERIFY(client.write(h("aa aa 0b 0b")));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
        QCOMPARE(client.received, h("ff 40 01 f0 00 00 00 00 00 00"));
    }

    // The program opens its port in exclusive mode. The simulator's own descriptor keeps the
    // terminal alive, so that mode must be cleared when the program closes, or its next open
    // would be refused.
    void exclusiveModeEndsWithLastClose()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, {}));
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QStringLiteral("open clients=1")), kWait);
        QCOMPARE(ioctl(client.fd(), TIOCEXCL), 0);
        int exclusive = 0;
        QCOMPARE(ioctl(client.fd(), TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 1);
        client.close();
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QStringLiteral("close clients=0")), kWait);

        QVERIFY(client.open(sim.port()));
        QCOMPARE(ioctl(client.fd(), TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 0);
        QVERIFY(client.write(h("aa aa 0b 0b")));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
    }

    // An answer to a client that has gone never reaches the next one.
    void noStaleAnswerAfterReopen()
    {
        SimProcess sim;
        PtyClient client;
        QVERIFY(startWith(sim, client, {}));
        QVERIFY(client.write(h("aa aa 0b 0b")));
        client.close();
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QStringLiteral("close clients=0"))
                && (sim.log(QStringLiteral("reply")).size()
                       + sim.log(QStringLiteral("dropped")).size())
                    > 0,
            kWait);

        QVERIFY(client.open(sim.port()));
        QSignalSpy arrived(client.notifier(), &QSocketNotifier::activated);
        CaptureSink filler;
        ormelin::proto::sendFiller(filler);
        QVERIFY(client.write(filler.bytes()));
        QTRY_COMPARE_WITH_TIMEOUT(sim.log(QStringLiteral("filler")).size(), 1, kWait);
        QVERIFY(!arrived.wait(300));
        QCOMPARE(client.received, QByteArray());

        QVERIFY(client.write(h("aa aa 0b 0b")));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
        QCOMPARE(client.received, h("ff 40 01 f0 00 00 00 00 00 00"));
    }

    void sigtermRemovesLink()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("tarviks"));
        {
            QFile stale(link);
            QVERIFY(stale.open(QIODevice::WriteOnly)); // a leftover file is replaced
        }
        SimProcess sim;
        QVERIFY(sim.start({ "--link", link }));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.port());
        PtyClient client;
        QVERIFY(client.open(link));
        QVERIFY(client.write(h("aa aa 0b 0b")));
        QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), 10, kWait);
        QCOMPARE(sim.stop(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(link));
    }

    void sigintEndsCleanly()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        QSignalSpy finished(&sim.process(), &QProcess::finished);
        ::kill(pid_t(sim.process().processId()), SIGINT);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kWait);
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
    }

    void badOptionsRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("resolution") << QStringList { "--resolution", "320" };
        QTest::newRow("delay range") << QStringList { "--delay", "20-10" };
        QTest::newRow("chunk 0") << QStringList { "--chunk", "0" };
        QTest::newRow("unknown") << QStringList { "--frobnicate" };
        QTest::newRow("stray argument") << QStringList { "extra" };
    }
    void badOptionsRefused()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(SimProcess::program(), args);
        QVERIFY(p.waitForFinished(kWait));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTarviksSim)
#include "tst_tarviks_sim.moc"
