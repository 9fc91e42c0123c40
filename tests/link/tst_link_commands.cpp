// The link controller's commands end to end: the window's operations on a real serial component,
// through a pseudo-terminal, to tarviks-sim, and the simulator's answers back.
#include "common/numparse.h"
#include "link/protocol.h"
#include "link_rig.h"

#include <QSignalSpy>
#include <QTest>

using namespace ormelin;
using linktest::completion;
using linktest::frame;
using linktest::le16;
using testfiles::pattern;

namespace {

constexpr int kWait = 5000;

const QString kCheckFrame = frame("connection-check", "aaaa0b0b");
// "Удалить объекты" in Windows-1251.
const QByteArray kEraseText = "d3e4e0ebe8f2fc20eee1fae5eaf2fb";

} // namespace

class TestLinkCommands : public QObject
{
    Q_OBJECT

private slots:
    void selectPortChecksConnection_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("resolution");
        QTest::newRow("plain") << QStringList() << "320x240";
        QTest::newRow("shifted") << QStringList { "--shifted" } << "320x240";
        QTest::newRow("other screen")
            << QStringList { "--resolution", "480x272", "--shifted" } << "480x272";
    }
    void selectPortChecksConnection()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, resolution);
        LinkRig rig;
        QVERIFY(rig.start(args));
        QCOMPARE(rig.ui.status(), QStringLiteral("Порт %1 открыт").arg(rig.portPath()));

        QTRY_VERIFY_WITH_TIMEOUT(rig.ui.connected, kWait);
        QCOMPARE(rig.ui.statuses,
            QStringList({ QStringLiteral("Порт %1 открыт").arg(rig.portPath()),
                QStringLiteral("Тарвикс на связи. Разрешение экрана: ") + resolution }));
        QCOMPARE(rig.frames(LinkRig::Frames::All), QStringList { kCheckFrame });
        QVERIFY(rig.failures.isEmpty());
    }

    // The open port is closed and opened again, and the connection checked anew; the indicator
    // goes out with the old port and comes on again with the answer.
    void selectPortAgainReopens()
    {
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.ui.statuses.clear();
        rig.link.selectPort(rig.portPath());
        QVERIFY(!rig.ui.connected);
        QCOMPARE(rig.ui.status(), QStringLiteral("Порт %1 открыт").arg(rig.portPath()));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.statuses.size(), 2, kWait);
        QVERIFY(rig.ui.connected);
        QCOMPARE(
            rig.ui.statuses.last(), QStringLiteral("Тарвикс на связи. Разрешение экрана: 320x240"));
        QCOMPARE(rig.frames(LinkRig::Frames::All), QStringList({ kCheckFrame, kCheckFrame }));
        QStringList sessions;
        for (const QString &line : rig.sim->log()) {
            if (line.startsWith(QLatin1String("open ")) || line.startsWith(QLatin1String("close ")))
                sessions << line;
        }
        QCOMPARE(sessions, QStringList({ "open clients=1", "close clients=0", "open clients=1" }));
    }

    void selectPortFails_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("reasonStart");
        QTest::newRow("missing") << false << "Specified device not found (";
        QTest::newRow("held by another program") << true << "Can't open specified device ";
    }
    void selectPortFails()
    {
        QFETCH(bool, busy);
        QFETCH(QString, reasonStart);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        TVaComm other;
        QString name = rig.dir.filePath(QStringLiteral("ttyMissing"));
        if (busy) {
            // The link gives its port up, another program takes it, and the link wants it back.
            rig.link.selectPort(name);
            other.SetDeviceName(rig.portPath());
            other.Open();
            QVERIFY(other.IsOpen());
            name = rig.portPath();
        }

        rig.link.selectPort(name);
        QVERIFY(!rig.comm.IsOpen());
        QCOMPARE(rig.ui.status(), QStringLiteral("Не могу открыть порт ") + name);
        const QString reason = rig.ui.statusDetail;
        QVERIFY2(reason.startsWith(reasonStart + name), qPrintable(reason));
        QVERIFY(rig.failures.isEmpty());
        QVERIFY(!rig.ui.connected); // no port open, nothing connected

        // Everything later finds the port closed.
        rig.ui.statuses.clear();
        rig.link.connectionCheck();
        rig.link.eraseObjectTable();
        QVERIFY(rig.ui.statuses.isEmpty());
        rig.setRow(1, QStringLiteral("5"), TypeScript, rig.file(QStringLiteral("s"), "x"));
        rig.link.outputSelectedObject();
        QCOMPARE(rig.ui.status(), QStringLiteral("Порт для связи не открыт. Передача невозможна"));
        rig.writeToFlash();
        QCOMPARE(rig.ui.statuses.size(), 2);
        QCOMPARE(rig.ui.status(), QStringLiteral("Порт для связи не открыт. Передача невозможна"));
        QVERIFY(rig.ui.gaugeVisibility.isEmpty());

        // A later successful selection clears the reason.
        other.Close();
        rig.link.selectPort(rig.portPath());
        QVERIFY(rig.comm.IsOpen());
        QVERIFY(rig.ui.statusDetail.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(
            rig.frames(LinkRig::Frames::All), QStringList({ kCheckFrame, kCheckFrame }), kWait);
    }

    // One filler about 300 ms after the check, then the link waits without limit.
    void connectionCheckWithoutReply()
    {
        LinkRig rig;
        QVERIFY(rig.start({ "--silent" }));
        QTRY_COMPARE_WITH_TIMEOUT(rig.sim->log(QStringLiteral("filler")).size(), 1, kWait);
        QVERIFY(!QTest::qWaitFor(
            [&] { return rig.sim->log(QStringLiteral("filler")).size() > 1; }, 1000));

        const auto log = rig.sim->timedLog();
        QStringList kinds;
        double checkAt = 0, fillerAt = 0;
        for (const auto &[t, text] : log) {
            const QString kind = text.section(QLatin1Char(' '), 0, 0);
            if (kind == QLatin1String("frame"))
                checkAt = t;
            if (kind == QLatin1String("filler"))
                fillerAt = t;
            if (kind != QLatin1String("start") && kind != QLatin1String("open"))
                kinds << kind;
        }
        QCOMPARE(kinds, QStringList({ "frame", "filler" }));
        // About 300 ms: the simulator stamps the check when it has read it, a little after the
        // timer started.
        QVERIFY2(fillerAt - checkAt >= 0.2 && fillerAt - checkAt < 1.5,
            qPrintable(QString::number(fillerAt - checkAt)));
        QCOMPARE(
            rig.ui.statuses, QStringList { QStringLiteral("Порт %1 открыт").arg(rig.portPath()) });
        QVERIFY(!rig.ui.connected);
    }

    void erase_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("status");
        QTest::newRow("erased") << QStringList() << "Таблица объектов во флэш очищена";
        QTest::newRow("write-protected")
            << QStringList { "--protect" } << "Удаление не выполнено: флэш защищена от записи";
    }
    void erase()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, status);
        LinkRig rig;
        QVERIFY(rig.startConnected(args));
        rig.link.eraseObjectTable();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.status(), status, kWait);
        QCOMPARE(rig.frames(LinkRig::Frames::All),
            QStringList({ kCheckFrame, frame("erase", "aaaad5" + kEraseText + "d5") }));
        QCOMPARE(rig.sim->log(QStringLiteral("frame")).last().section(QLatin1Char(' '), 2, 3),
            QStringLiteral("text-ok=1 result=") + (args.isEmpty() ? "erased" : "refused"));
        QVERIFY(rig.ui.messages.isEmpty());
    }

    void outputSelectedObject_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("bytes");
        const auto output = [](const char *name, int code, int n) {
            const QByteArray c = QByteArray(1, char(code)).toHex();
            return frame(name, "aaaa" + c + le16(uint32_t(n)) + "00000000" + c);
        };
        QTest::newRow("JPEG picture")
            << int(TypeJpeg) << "7" << QStringList { output("output-image", 0x30, 7) } << 10;
        QTest::newRow("bitmap picture")
            << int(TypeBitmap) << "$12C" << QStringList { output("output-image", 0x30, 300) } << 10;
        QTest::newRow("script") << int(TypeScript) << "1319"
                                << QStringList { output("output-script", 0x5A, 1319) } << 10;
        // "Шрифт номер 12" in Windows-1251.
        const QByteArray text = "d8f0e8f4f220edeeece5f020"
                                "3132";
        const QStringList sample { frame("font-sample-1", "aaaa40" + le16(12) + "40"),
            frame("font-sample-2", "aa3a000000003a"),
            frame("font-sample-3", "aa4949" + text + "00") };
        QTest::newRow("Microchip font")
            << int(TypeMicrochipFont) << "12" << sample << 6 + 7 + 3 + 14 + 1;
        QTest::newRow("monospace font")
            << int(TypeMonoFont) << "12" << sample << 6 + 7 + 3 + 14 + 1;
    }
    void outputSelectedObject()
    {
        QFETCH(int, type);
        QFETCH(QString, number);
        QFETCH(QStringList, expected);
        QFETCH(int, bytes);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.setRow(1, QStringLiteral("99"), TypeScript, QStringLiteral("unused"));
        rig.setRow(
            2, number, type, QStringLiteral("unused"), QStringLiteral("8"), QStringLiteral("16"));
        rig.list.selectRow(2);
        const int emptiedBefore = rig.transmitEmptyEvents;

        rig.link.outputSelectedObject();
        QCOMPARE(rig.ui.status(),
            QStringLiteral("Команда на вывод объекта %1 отправлена")
                .arg(parseNumber(number).value()));
        QTRY_COMPARE_WITH_TIMEOUT(
            rig.frames(LinkRig::Frames::All).size(), 1 + expected.size(), kWait);
        QCOMPARE(rig.frames(LinkRig::Frames::All).mid(1), expected);
        int sent = 0;
        for (const QString &f : rig.frames(LinkRig::Frames::All).mid(1))
            sent += f.section(QLatin1Char(' '), 1).size() / 2;
        QCOMPARE(sent, bytes);

        // No reply is awaited: an erase right behind it is not held, and the line's falling
        // silent sends no filler.
        QTRY_VERIFY_WITH_TIMEOUT(rig.transmitEmptyEvents > emptiedBefore, kWait);
        rig.link.eraseObjectTable();
        QTRY_COMPARE_WITH_TIMEOUT(
            rig.ui.status(), QStringLiteral("Таблица объектов во флэш очищена"), kWait);
        QVERIFY(!rig.ui.statuses.contains(
            QStringLiteral("Ждем ответа Тарвикса на предыдущую команду")));
        QVERIFY(rig.sim->log(QStringLiteral("filler")).isEmpty());
    }

    void outputSelectedObjectRefuses_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<QString>("status"); // empty: nothing at all
        QTest::newRow("free row") << ""
                                  << "Скрипт"
                                  << "";
        QTest::newRow("unknown type") << "5"
                                      << "Скрипт "
                                      << "Неизвестный тип объекта";
        QTest::newRow("bad number") << "5 "
                                    << "Скрипт"
                                    << "Ошибка в поле \"Номер объекта\"";
    }
    void outputSelectedObjectRefuses()
    {
        QFETCH(QString, number);
        QFETCH(QString, typeText);
        QFETCH(QString, status);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.ui.statuses.clear();
        rig.list.setCell(1, ColNumber, number);
        rig.list.setCell(1, ColType, typeText);
        rig.link.outputSelectedObject();
        QCOMPARE(rig.ui.statuses, status.isEmpty() ? QStringList() : QStringList { status });
        QCOMPARE(rig.comm.queuedBytes(), 0);
        QCOMPARE(rig.frames(LinkRig::Frames::All), QStringList { kCheckFrame });
    }

    // A reply that nobody waits for is thrown away as it arrives, and judges nothing: here the
    // controller answers a connection check the link did not start.
    void bytesWhileIdleDiscarded()
    {
        LinkRig rig;
        QVERIFY(rig.startConnected({ "--resolution", "480x272" }));
        rig.ui.connected = false;
        rig.ui.statuses.clear();
        const int before = rig.receiveEvents;

        TVaCommPort line(rig.comm);
        proto::sendConnectionCheck(line);
        QTRY_VERIFY_WITH_TIMEOUT(rig.receiveEvents > before, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(rig.comm.pendingDeliveries(), 0, kWait);
        QVERIFY(rig.ui.statuses.isEmpty());
        QVERIFY(!rig.ui.connected);

        // What was thrown away does not stand in front of the next reply.
        rig.link.connectionCheck();
        QTRY_VERIFY_WITH_TIMEOUT(rig.ui.connected, kWait);
        QCOMPARE(rig.ui.statuses,
            QStringList { QStringLiteral("Тарвикс на связи. Разрешение экрана: 480x272") });
    }

    // Replies cut into pieces and preceded by stray bytes are found whole, for every command
    // that reads one and every kind of file upload: each reply is judged once its tenth byte is
    // in, and every object arrives whole.
    void splitRepliesBehindNoise_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("split"); // the pieces are far enough apart to be read apart
        QTest::addColumn<bool>("noise");
        QTest::newRow("byte by byte, with noise")
            << QStringList { "--chunk", "1", "--noise", "--seed", "7" } << true << true;
        QTest::newRow("three at a time, shifted")
            << QStringList { "--chunk", "3", "--shifted", "--seed", "8" } << false << false;
        QTest::newRow("noise only") << QStringList { "--noise", "--seed", "9" } << false << true;
    }
    void splitRepliesBehindNoise()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, split);
        QFETCH(bool, noise);
        LinkRig rig;
        QVERIFY(rig.startConnected(args));
        QCOMPARE(rig.ui.status(), QStringLiteral("Тарвикс на связи. Разрешение экрана: 320x240"));
        if (split)
            QVERIFY2(rig.receiveEvents >= 2, "the reply came in one piece");

        rig.link.eraseObjectTable();
        QTRY_COMPARE_WITH_TIMEOUT(
            rig.ui.status(), QStringLiteral("Таблица объектов во флэш очищена"), kWait);

        const QByteArray script = pattern(900, 1), mono = pattern(1200, 2), chip = pattern(300, 3);
        rig.setRow(1, QStringLiteral("1"), TypeScript, rig.file(QStringLiteral("1.scr"), script));
        rig.setRow(2, QStringLiteral("2"), TypeMonoFont, rig.file(QStringLiteral("2.fnt"), mono),
            QStringLiteral("8"), QStringLiteral("16"));
        rig.setRow(3, QStringLiteral("3"), TypeMicrochipFont,
            rig.file(QStringLiteral("3.fnt"), chip), QStringLiteral("6"), QStringLiteral("9"));
        const int eventsBefore = rig.receiveEvents;
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { completion(2) }, kWait);
        if (split)
            QVERIFY2(rig.receiveEvents - eventsBefore > 3, "the replies came in one piece each");
        QVERIFY(rig.sim->log(QStringLiteral("filler")).isEmpty());
        const QStringList replies = rig.sim->log(QStringLiteral("reply"));
        QCOMPARE(replies.size(), 5);
        for (const QString &reply : replies)
            QCOMPARE(!reply.startsWith(QLatin1String("reply noise=0 ")), noise);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("1.bin")), script);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("2.bin")), mono);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("3.bin")), chip);
        QVERIFY(rig.failures.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLinkCommands)
#include "tst_link_commands.moc"
