// The write to flash end to end: the object list walked row by row, every frame and payload as
// the simulator received it, the pacing between objects, the gauge and the completion message,
// and every way a write ends early.
#include "eventwait.h"
#include "link/protocol.h"
#include "link_rig.h"
#include "oddfiles.h"
#include "payloadpictures.h"
#include "testpictures.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

using namespace ormelin;
using namespace std::chrono_literals;
using linktest::completion;
using linktest::frame;
using linktest::le16;
using linktest::le24;
using linktest::le8;
using testfiles::pattern;
using testpictures::jpegFile;

namespace {

constexpr int kWait = 5000;
// The pause after an accepted object and the response timeout, less what the two clocks'
// readings can differ by (the simulator stamps a line when its read returns).
constexpr double kAtLeast300ms = 0.295;
// Where the start of the 300 ms is the program's own event rather than a simulator's reply, the
// simulator's stamp of the transmission it ended may come late by however long it took to be
// scheduled: "about 300 ms" then.
constexpr double kAbout300ms = 0.2;

QString scriptFrame(int number, int size)
{
    return frame("script-upload", "aaaa58" + le16(uint32_t(number)) + le24(uint32_t(size)) + "58");
}

QStringList repeated(const QStringList &unit, int times)
{
    QStringList out;
    for (int i = 0; i < times; ++i)
        out << unit;
    return out;
}

const QStringList kOneObject { "frame", "payload", "reply" };

} // namespace

class TestLinkUpload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(!jpegFile(8, 8).isEmpty()); }

    // One object of each type, a free row between them and a font with width -1: every frame
    // as written out here from the frame table, every payload as the file (or the pixels) holds
    // it, 300 ms between an accepted reply and the next frame, and the completion message.
    void wholeListEveryType()
    {
        LinkRig rig;
        QVERIFY(rig.startConnected());
        const QByteArray jpeg = jpegFile(320, 240);
        // White, red / (200, 100, 50), (7, 7, 7): FF FF, 1F 00 / 99 19, 00 80 as 16-bit pixels.
        const QByteArray bmp = payloadtest::bmp24(2, 2, [](int x, int y) {
            static const payloadtest::Rgb colours[2][2]
                = { { { 255, 255, 255 }, { 255, 0, 0 } }, { { 200, 100, 50 }, { 7, 7, 7 } } };
            return colours[y][x];
        });
        const QByteArray pixels = QByteArray::fromHex("ffff1f00"
                                                      "99190080");
        const QByteArray microchipFont = pattern(700, 1);
        const QByteArray monoFont = pattern(300, 2);
        // 7.5 kB in all: reported as 8.
        const int scriptSize
            = 7680 - int(jpeg.size() + pixels.size() + microchipFont.size() + monoFont.size());
        QVERIFY2(scriptSize > 0, "the JPEG file came out too large");
        const QByteArray script = pattern(scriptSize, 3);

        rig.setRow(1, QStringLiteral("10"), TypeJpeg, rig.file(QStringLiteral("photo.jpg"), jpeg));
        rig.setRow(2, QStringLiteral("11"), TypeBitmap, rig.file(QStringLiteral("four.bmp"), bmp));
        rig.setRow(4, QStringLiteral("12"), TypeMicrochipFont,
            rig.file(QStringLiteral("a.fnt"), microchipFont), QStringLiteral("-1"),
            QStringLiteral("16"));
        rig.setRow(5, QStringLiteral("13"), TypeMonoFont,
            rig.file(QStringLiteral("b.fnt"), monoFont), QStringLiteral("8"), QStringLiteral("12"));
        rig.setRow(
            6, QStringLiteral("14"), TypeScript, rig.file(QStringLiteral("run.scr"), script));
        QVERIFY(rig.list.cell(3, ColNumber).isEmpty());
        rig.ui.statuses.clear();

        const double startedAt = monotonicSeconds();
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, 10000);
        const double completedBy = monotonicSeconds();
        QCOMPARE(rig.ui.messages.first(), completion(8));
        QVERIFY(rig.failures.isEmpty());

        QCOMPARE(rig.frames(),
            QStringList({
                frame("image-upload",
                    "aaaa31" + le16(10) + le16(320) + le16(240) + "07" + le24(uint32_t(jpeg.size()))
                        + "31"),
                frame("image-upload",
                    "aaaa31" + le16(11) + le16(2) + le16(2) + "00" + le24(8) + "31"),
                frame("font-upload",
                    "aaaa41" + le16(12) + "03" + le24(uint32_t(microchipFont.size())) + "ff"
                        + le8(16) + "41"),
                frame("font-upload",
                    "aaaa41" + le16(13) + "00" + le24(uint32_t(monoFont.size())) + le8(8) + le8(12)
                        + "41"),
                scriptFrame(14, scriptSize),
            }));
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("10.bin")), jpeg);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("11.bin")), pixels);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("12.bin")), microchipFont);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("13.bin")), monoFont);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("14.bin")), script);
        for (const QString &payload : rig.sim->log(QStringLiteral("payload")))
            QVERIFY2(payload.endsWith(QLatin1String(" result=stored")), qPrintable(payload));

        // Each object only after the previous one was accepted and 300 ms more have passed.
        QCOMPARE(rig.uploadTraffic(), repeated(kOneObject, 5));
        const QList<double> sent = rig.times(QStringLiteral("frame"));
        const QList<double> replies = rig.times(QStringLiteral("reply"));
        for (int i = 0; i + 1 < sent.size(); ++i)
            QVERIFY2(sent[i + 1] - replies[i + 1] >= kAtLeast300ms,
                qPrintable(QString::number(sent[i + 1] - replies[i + 1])));
        QVERIFY(completedBy - replies.last() >= kAtLeast300ms);

        QCOMPARE(rig.ui.gaugeMaximum, 5);
        QCOMPARE(rig.ui.gaugeProgress, QList<int>({ 0, 1, 2, 3, 4, 5 }));
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));
        QCOMPARE(rig.ui.statuses.mid(0, 5),
            QStringList({ "Передаем объект 10", "Передаем объект 11", "Передаем объект 12",
                "Передаем объект 13", "Передаем объект 14" }));
        // Then the time the write took, as measured here, and its rate against the line's.
        QCOMPARE(rig.ui.statuses.size(), 6);
        const QRegularExpression summary(QStringLiteral(
            "^Записано за (\\d+),(\\d) с: \\d+,\\d кБайт/с, \\d+% предельной скорости линии "
            "\\(22,7 кБайт/с\\)$"));
        const QRegularExpressionMatch m = summary.match(rig.ui.statuses.last());
        QVERIFY2(m.hasMatch(), qPrintable(rig.ui.statuses.last()));
        const double tookSeconds = m.captured(1).toInt() + m.captured(2).toInt() / 10.0;
        // At least the five pauses after the accepted objects; shown to a tenth of a second.
        QVERIFY2(tookSeconds >= 5 * 0.3 - 0.05 && tookSeconds <= completedBy - startedAt + 0.05,
            qPrintable(QString::number(tookSeconds)));
    }

    // Rows 1 and 3 hold objects, row 2 is free; the totals land on the rounding's edges.
    void freeRowBetween_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("kilobytes");
        QTest::newRow("1536 bytes") << 1000 << 536 << 2;
        QTest::newRow("2560 bytes") << 2000 << 560 << 2;
        QTest::newRow("1535 bytes") << 1000 << 535 << 1;
    }
    void freeRowBetween()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, kilobytes);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.setRow(1, QStringLiteral("1"), TypeScript,
            rig.file(QStringLiteral("1.scr"), pattern(first, 4)));
        rig.setRow(3, QStringLiteral("3"), TypeScript,
            rig.file(QStringLiteral("3.scr"), pattern(second, 5)));
        QCOMPARE(rig.list.rowCount(), 4);

        rig.writeToFlash();
        QCOMPARE(rig.ui.gaugeMaximum, 2);
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { completion(kilobytes) }, kWait);
        QCOMPARE(rig.frames(), QStringList({ scriptFrame(1, first), scriptFrame(3, second) }));
        QCOMPARE(rig.ui.gaugeProgress, QList<int>({ 0, 1, 2 }));
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));
    }

    void onlyFreeRows()
    {
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.list.setRowCount(4);
        rig.list.setCell(2, ColType, objectTypeTexts().at(TypeScript));
        rig.list.setCell(2, ColFile, rig.file(QStringLiteral("s"), "x"));
        rig.writeToFlash();
        QCOMPARE(rig.ui.status(), QStringLiteral("Список пуст"));
        QVERIFY(rig.ui.gaugeVisibility.isEmpty());
        QCOMPARE(rig.comm.queuedBytes(), 0);
        QVERIFY(rig.frames().isEmpty());
    }

    // A row that cannot be sent ends the write: the object before it stays written and the one
    // after it is never sent. What the rows of a file payload get wrong ends it with the upload's
    // message and hides the gauge; a picture that cannot be opened reaches the general failure
    // handler. Object files that are not regular files (FIFOs, sockets, folders, unreadable
    // kernel files, files gone by the time of the write) never make the write wait, and the list
    // and every file stay as they were.
    void badRowEndsWrite_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        // In the rig's directory: "fifo", "folder", "removed" or "socket" (with any extension) is
        // made as one; another name is a file of a few bytes; a name with a leading "/" is used
        // as it stands.
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message"); // "%1" stands for the file's path
        QTest::addColumn<bool>("caught"); // the upload's message, else the general failure
        const QString script = objectTypeTexts().at(TypeScript);
        const QString mono = objectTypeTexts().at(TypeMonoFont);
        const QString jpeg = objectTypeTexts().at(TypeJpeg);
        const QString bitmap = objectTypeTexts().at(TypeBitmap);
        const QString sizes
            = QStringLiteral("Ошибка в поле \"Высота символа\" и/или \"Ширина символа\"");
        const QString unreadable = QStringLiteral("Ошибка чтения файла %1");
        const QString unopened = QStringLiteral("Cannot open file %1");
        const auto row = [](const char *tag, const char *number, const QString &type,
                             const char *width, const char *height, const char *file,
                             const QString &message, bool caught = true) {
            QTest::newRow(tag) << QString::fromUtf8(number) << type << QString::fromUtf8(width)
                               << QString::fromUtf8(height) << QString::fromUtf8(file) << message
                               << caught;
        };
        row("number 1320", "1320", script, "", "", "s", "Неверный номер объекта: 1320");
        row("number -1", "-1", script, "", "", "s", "Неверный номер объекта: -1");
        row("number does not parse", "12a", script, "", "", "s", "Ошибка в поле \"Номер объекта\"");
        row("unknown type", "2", "Картинка", "", "", "s", "Неизвестный тип объекта: Картинка");
        row("font height empty", "2", mono, "8", "", "s", sizes);
        row("font width does not parse", "2", mono, "8 ", "8", "s", sizes);
        row("font width 256", "2", mono, "256", "8", "s", "Недопустимая ширина или высота символа");
        row("font height 256", "2", mono, "8", "256", "s",
            "Недопустимая ширина или высота символа");
        row("picture of unknown kind", "2", jpeg, "", "", "p.gif", "Ошибка чтения изображения %1");
        row("script, removed", "2", script, "", "", "removed", unreadable);
        row("script, folder", "2", script, "", "", "folder", unreadable);
        row("script, FIFO", "2", script, "", "", "fifo", unreadable);
        row("script, socket", "2", script, "", "", "socket", unreadable);
        row("script, unreadable kernel file", "2", script, "", "", "/proc/self/mem", unreadable);
        row("font, FIFO", "2", mono, "8", "16", "fifo", unreadable);
        row("JPEG, FIFO", "2", jpeg, "", "", "fifo.jpg", unopened, false);
        row("bitmap, folder", "2", bitmap, "", "", "folder.bmp", unopened, false);
        row("bitmap, removed", "2", bitmap, "", "", "removed.bmp", unopened, false);
    }
    void badRowEndsWrite()
    {
        QFETCH(QString, number);
        QFETCH(QString, typeText);
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(QString, file);
        QFETCH(QString, message);
        QFETCH(bool, caught);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        const QString kind = file.section(QLatin1Char('.'), 0, 0);
        std::unique_ptr<oddfiles::SocketFile> socket;
        QString path = rig.dir.filePath(file);
        if (file.startsWith(QLatin1Char('/'))) {
            path = file;
        } else if (kind == QLatin1String("socket")) {
            socket = std::make_unique<oddfiles::SocketFile>(path);
            QVERIFY(socket->ok());
        } else if (QStringList({ "fifo", "folder", "removed" }).contains(kind)) {
            QVERIFY(!oddfiles::make(kind, path).isEmpty());
        } else {
            rig.file(file, "GIF89a");
        }
        const QString first = rig.file(QStringLiteral("1.scr"), "one");
        rig.setRow(1, QStringLiteral("1"), TypeScript, first);
        rig.setRow(2, number, TypeScript, path, width, height);
        rig.list.setCell(2, ColType, typeText);
        rig.setRow(3, QStringLiteral("3"), TypeScript, rig.file(QStringLiteral("3.scr"), "three"));
        const auto cells = [&rig] {
            return listtest::rowCells(rig.list, 1) + listtest::rowCells(rig.list, 2)
                + listtest::rowCells(rig.list, 3);
        };
        const QStringList cellsBefore = cells();

        oddfiles::FifoRescue rescue(kind == QLatin1String("fifo") ? path : QString(), 3000ms);
        rig.writeToFlash();
        const QString said = message.contains(QLatin1String("%1")) ? message.arg(path) : message;
        if (caught) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, kWait);
            QCOMPARE(rig.ui.messages.first(), said);
            QVERIFY(rig.failures.isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(rig.failures.size(), 1, kWait);
            QCOMPARE(rig.failures.first(), said);
            QVERIFY(rig.ui.messages.isEmpty());
        }
        rescue.dismiss();
        QVERIFY2(!rescue.rescued(), "the write waited on the FIFO");
        QCOMPARE(rig.ui.gaugeProgress, QList<int>({ 0, 1 }));
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));
        QCOMPARE(rig.comm.queuedBytes(), 0);
        QCOMPARE(rig.frames(), QStringList { scriptFrame(1, 3) });
        QCOMPARE(rig.uploadTraffic(), kOneObject);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("1.bin")), QByteArray("one"));

        QCOMPARE(cells(), cellsBefore);
        QCOMPARE(testfiles::readFile(first), QByteArray("one"));
        struct stat info
        {
        };
        if (kind == QLatin1String("fifo")) {
            QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0);
            QVERIFY(S_ISFIFO(info.st_mode));
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QFileInfo(path).isDir());
        }
    }

    // The controller refuses: a closed write-protection jumper, or a flash that is full.
    void refusal_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("accepted");
        QTest::addColumn<QString>("result");
        QTest::newRow("write-protected") << QStringList { "--protect" } << 0 << "refused-protected";
        QTest::newRow("flash full")
            << QStringList { "--capacity", "1500" } << 1 << "refused-capacity";
    }
    void refusal()
    {
        QFETCH(QStringList, args);
        QFETCH(int, accepted);
        QFETCH(QString, result);
        LinkRig rig;
        QVERIFY(rig.startConnected(args));
        for (int row = 1; row <= 3; ++row)
            rig.setRow(row, QString::number(row), TypeScript,
                rig.file(QStringLiteral("%1.scr").arg(row), pattern(1000, row)));
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, kWait);
        QCOMPARE(rig.ui.messages.first(),
            QStringLiteral("Недостаточно места для записи или замкнута перемычка защиты от "
                           "записи."));
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));
        QCOMPARE(rig.ui.gaugeProgress.size(), accepted + 1);
        QCOMPARE(rig.ui.status(), QStringLiteral("Передаем объект %1").arg(accepted + 1));
        const QStringList payloads = rig.sim->log(QStringLiteral("payload"));
        QCOMPARE(payloads.size(), accepted + 1);
        QVERIFY2(payloads.last().endsWith(QStringLiteral("result=") + result),
            qPrintable(payloads.last()));
        // The simulator logs its reply once it has written it, which may be after the link read it.
        QTRY_COMPARE_WITH_TIMEOUT(rig.uploadTraffic(), repeated(kOneObject, accepted + 1), kWait);
    }

    // No reply ever, from a silent controller or one that answers every frame with bytes that
    // are never a reply: the connection check gets its one filler and waits; an upload gets a
    // filler about 300 ms after each transmission ends, five in all, then the link gives up,
    // switches the indicator off and hides the gauge. Junk never fills the reply buffer beyond
    // what it may hold, and nothing reaches the failure handler.
    void noReplyEver_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("silent") << "--silent";
        QTest::newRow("garbage only") << "--garbage";
    }
    void noReplyEver()
    {
        QFETCH(QString, answer);
        LinkRig rig;
        QVERIFY(rig.start({ answer }));
        QTRY_COMPARE_WITH_TIMEOUT(rig.sim->log(QStringLiteral("filler")).size(), 1, kWait);
        QVERIFY(!rig.ui.connected);
        QCOMPARE(rig.ui.status(), QStringLiteral("Порт %1 открыт").arg(rig.portPath()));
        rig.ui.connected = true; // as an earlier check would have left it
        rig.setRow(1, QStringLiteral("7"), TypeScript,
            rig.file(QStringLiteral("7.scr"), pattern(4000, 7)));
        rig.setRow(2, QStringLiteral("8"), TypeScript, rig.file(QStringLiteral("8.scr"), "8"));

        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.status(), QStringLiteral("Нет ответа от Тарвикса"), kWait);
        const double gaveUpBy = monotonicSeconds();
        QVERIFY(!rig.ui.connected);
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));
        QVERIFY(rig.ui.messages.isEmpty());

        // Nothing further once the link has given up.
        QVERIFY(!QTest::qWaitFor(
            [&] { return rig.sim->log(QStringLiteral("filler")).size() > 6; }, 1000));
        QCOMPARE(rig.uploadTraffic(),
            QStringList({ "frame", "payload", "filler", "filler", "filler", "filler", "filler" }));
        const QList<double> payloadAt = rig.times(QStringLiteral("payload"));
        QList<double> fillers = rig.times(QStringLiteral("filler"));
        fillers.removeFirst();
        double previous = payloadAt.first();
        for (double at : fillers) {
            QVERIFY2(at - previous >= kAbout300ms && at - previous < 1.5,
                qPrintable(QString::number(at - previous)));
            previous = at;
        }
        QVERIFY(gaveUpBy - fillers.last() >= kAbout300ms);
        if (answer == QLatin1String("--garbage"))
            QVERIFY(rig.sim->log(QStringLiteral("junk")).size() >= 2);
        QVERIFY(rig.failures.isEmpty());
    }

    // Pressing the button again between two objects starts over at row 1; the pause still
    // running from the first write must not send a second object behind the first.
    void writeStartsOver()
    {
        LinkRig rig;
        QVERIFY(rig.startConnected({ "--delay", "100" }));
        for (int row = 1; row <= 3; ++row)
            rig.setRow(row, QString::number(row), TypeScript,
                rig.file(QStringLiteral("%1.scr").arg(row), pattern(512, row)));
        rig.writeToFlash();
        // The first object's reply is in: the pause before the second has begun.
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.gaugeProgress.size(), 1, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(rig.sim->log(QStringLiteral("reply")).size(), 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(rig.receiveEvents >= 2, kWait);
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { completion(2) }, kWait);

        QCOMPARE(rig.frames(),
            QStringList({ scriptFrame(1, 512), scriptFrame(1, 512), scriptFrame(2, 512),
                scriptFrame(3, 512) }));
        QCOMPARE(rig.uploadTraffic(), repeated(kOneObject, 4));
        const QList<double> sent = rig.times(QStringLiteral("frame"));
        const QList<double> replies = rig.times(QStringLiteral("reply"));
        for (int i = 2; i < sent.size(); ++i)
            QVERIFY2(sent[i] - replies[i] >= kAtLeast300ms,
                qPrintable(QString::number(sent[i] - replies[i])));
        QCOMPARE(rig.ui.gaugeProgress, QList<int>({ 0, 0, 1, 2, 3 }));
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, true, false }));
    }
};

QTEST_GUILESS_MAIN(TestLinkUpload)
#include "tst_link_upload.moc"
