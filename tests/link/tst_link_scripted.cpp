// The link driven through a scripted port: transmit-empty, replies and the device's going come
// exactly when the test says, so that the order of events decides what is seen, not the speed of
// a pseudo-terminal. A pseudo-terminal reports transmit-empty as soon as the bytes are queued;
// here the line can stay busy for as long as the test likes.
#include "fakeoperator.h"
#include "link/devicelink.h"
#include "linkcommon.h"
#include "listrows.h"
#include "objlist/objectlist.h"
#include "scriptedport.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace ormelin;
using namespace linktest;

namespace {

constexpr int kWait = 5000;
const QString kCompleted = linktest::completion(0);

// The frames the link queued, by kind, with each upload's payload skipped.
QStringList frameKinds(const QByteArray &sent)
{
    QStringList out;
    qsizetype i = 0;
    const auto at = [&](qsizetype k) { return k < sent.size() ? uint8_t(sent[k]) : 0; };
    while (i < sent.size()) {
        if (at(i) == 0xAA && at(i + 1) == 0xAA) {
            switch (at(i + 2)) {
            case 0x0B:
                out << QStringLiteral("check");
                i += 4;
                continue;
            case 0xD5:
                out << QStringLiteral("erase");
                i += 19;
                continue;
            case 0x58:
                out << QStringLiteral("script");
                i += 9 + (at(i + 5) | at(i + 6) << 8 | at(i + 7) << 16);
                continue;
            default:
                break;
            }
        } else if (at(i) == 0xAA && at(i + 1) == 0x00) {
            out << QStringLiteral("filler");
            i += 12;
            continue;
        }
        out << QStringLiteral("?");
        break;
    }
    return out;
}

QByteArray reply(const char *hex)
{
    QByteArray bytes = QByteArray::fromHex(hex);
    bytes.resize(10, '\0');
    return bytes;
}

struct Rig
{
    Rig()
    {
        setFailureHandler([this](const QString &text) { failures << text; });
        const QString script = dir.filePath(QStringLiteral("7.scr"));
        if (!testfiles::writeFile(script, "run"))
            QTest::qFail("cannot write the script", __FILE__, __LINE__);
        listtest::setRow(list, 1, QStringLiteral("7"), TypeScript, script);
        port.failingDevices = QStringList { "ttyM", "ttyMissing" };
        link.selectPort(QStringLiteral("ttyA"));
    }
    ~Rig() { setFailureHandler({}); }

    QStringList frames() const { return frameKinds(port.sent); }
    int count(const QString &kind) const { return int(frames().count(kind)); }

    QTemporaryDir dir;
    ScriptedPort port;
    FakeOperator ui;
    ObjectList list;
    DeviceLink link { port, list, ui };
    QStringList failures;
};

} // namespace

class TestLinkScripted : public QObject
{
    Q_OBJECT

private slots:
    // The response timer of an upload starts when the line has fallen silent, however long the
    // payload takes, not when it was queued.
    void responseTimerCountsFromTransmitEmpty()
    {
        Rig rig;
        rig.port.receive(reply("ff4001f000"));
        QVERIFY(rig.ui.connected);
        guarded([&] { rig.link.writeToFlash(); });
        QCOMPARE(rig.frames(), QStringList({ "check", "script" }));

        // The payload still on the line: no filler however long it takes.
        QVERIFY(!QTest::qWaitFor([&] { return rig.count(QStringLiteral("filler")) > 0; }, 900));
        QElapsedTimer sinceSilent;
        sinceSilent.start();
        rig.port.transmitEmpty();
        QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("filler")), 1, kWait);
        QVERIFY2(sinceSilent.elapsed() >= 295, qPrintable(QString::number(sinceSilent.elapsed())));

        // The filler's own transmit-empty starts the next count; the reply ends the wait.
        rig.port.transmitEmpty();
        QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("filler")), 2, kWait);
        rig.port.receive(reply("ff0000"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { kCompleted }, kWait);
        QVERIFY(rig.failures.isEmpty());
    }

    // Commands started while a reply is awaited wait for it, one at a time, and every reply is
    // judged for the command it answers. Steps: a button ("write", "erase", "check"), a port
    // event ("tx", "lose"), a reply ("check-reply", "ok", "refused", "erased"), "select NAME",
    // "clear" (the list's only object is cleared), "until KIND" (waits for the next frame of that
    // kind), "until ended" (waits for the gauge to be hidden), "said TEXT" (the status line now).
    void oneCommandOnTheLine_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("status"); // the last one; empty: not looked at
        QTest::addColumn<bool>("heldSaid");
        QTest::addColumn<bool>("connected"); // the indicator at the end

        QTest::newRow("write behind an unanswered check, object refused")
            << QStringList { "write", "check-reply", "tx", "refused" }
            << QStringList { "check", "script" } << QStringList { kRefused } << "Передаем объект 7"
            << true << true;
        QTest::newRow("write behind an unanswered check, object accepted")
            << QStringList { "write", "check-reply", "tx", "ok", "until ended" }
            << QStringList { "check", "script" } << QStringList { kCompleted } << "" << true
            << true;
        QTest::newRow("write behind an unanswered erase")
            << QStringList { "check-reply", "erase", "write", "erased", "tx", "ok", "until ended" }
            << QStringList { "check", "erase", "script" } << QStringList { kCompleted } << ""
            << true << true;
        // Past its filler a check waits without limit; with a write held behind it, its next
        // expiry ends the wait.
        QTest::newRow("check never answered")
            << QStringList { "write", "until filler", "until script", "tx", "ok", "until ended" }
            << QStringList { "check", "filler", "script" } << QStringList { kCompleted } << ""
            << true << false;
        // The check's answer coming while the object is still on the line is not the object's.
        QTest::newRow("check given up, its late answer while the object is sent")
            << QStringList { "write", "until filler", "until script", "check-reply", "tx",
                   "refused" }
            << QStringList { "check", "filler", "script" } << QStringList { kRefused }
            << "Передаем объект 7" << true << false;
        // After the object has left the line, the given-up answer is still told apart by its
        // shape: a check's carries the width, an erase's its 0xAA, where an object's status is
        // 0x0000 or 0xFFFF. It may come during a later write as well.
        QTest::newRow("check given up, its late answer after the object has left the line")
            << QStringList { "write", "until filler", "until script", "tx", "check-reply",
                   "refused" }
            << QStringList { "check", "filler", "script" } << QStringList { kRefused }
            << "Передаем объект 7" << true << false;
        QTest::newRow("erase given up, its late answer after the object has left the line")
            << QStringList { "check-reply", "erase", "write", "until filler", "until script", "tx",
                   "erased", "refused" }
            << QStringList { "check", "erase", "filler", "script" } << QStringList { kRefused }
            << "Передаем объект 7" << true << true;
        QTest::newRow("check given up, its late answer during the next write")
            << QStringList { "write", "until filler", "until script", "tx", "ok", "until ended",
                   "write", "tx", "check-reply", "refused" }
            << QStringList { "check", "filler", "script", "script" }
            << QStringList { kCompleted, kRefused } << "Передаем объект 7" << true << false;
        // An erase ends the write pressed before it, held or running: the table it empties is
        // not reported as written. A write pressed after it runs after it.
        QTest::newRow("write, write again, erase, all while an object is unanswered")
            << QStringList { "check-reply", "write", "write", "erase", "said " + kWriteEnded, "tx",
                   "ok", "said " + kWriteEnded, "erased" }
            << QStringList { "check", "script", "erase" } << QStringList() << kErased << true
            << true;
        QTest::newRow("erase pressed in the pause between objects") << QStringList { "check-reply",
            "write", "tx", "ok", "erase", "said " + kWriteEnded,
            "erased" } << QStringList { "check", "script", "erase" } << QStringList()
                                                                    << kErased << false << true;
        QTest::newRow("erase while an object is unanswered, write-protected")
            << QStringList { "check-reply", "write", "erase", "tx", "ok", "refused" }
            << QStringList { "check", "script", "erase" } << QStringList()
            << "Удаление не выполнено: флэш защищена от записи" << true << true;
        QTest::newRow("erase while an object is never answered")
            << QStringList { "check-reply", "write", "erase", "tx", "until filler", "tx",
                   "until filler", "tx", "until filler", "tx", "until filler", "tx", "until filler",
                   "tx", "until erase", "erased" }
            << QStringList { "check", "script", "filler", "filler", "filler", "filler", "filler",
                   "erase" }
            << QStringList() << kErased << true << false;
        QTest::newRow("write pressed after the erase runs after it")
            << QStringList { "check-reply", "write", "erase", "write", "tx", "ok", "erased", "tx",
                   "ok", "until ended" }
            << QStringList { "check", "script", "erase", "script" } << QStringList { kCompleted }
            << "" << true << true;
        QTest::newRow("held write dropped when the port changes")
            << QStringList { "write", "select ttyB" } << QStringList { "check", "check" }
            << QStringList() << "Отменено из-за смены порта: запись во флэш" << true << false;
        QTest::newRow("held write dropped when the device goes")
            << QStringList { "write", "lose" } << QStringList { "check" } << QStringList()
            << "Связь с портом ttyA потеряна. Отменено: запись во флэш" << true << false;
        QTest::newRow("connected, then a port that has not answered yet")
            << QStringList { "check-reply", "select ttyB" } << QStringList { "check", "check" }
            << QStringList() << "Порт ttyB открыт" << false << false;
        QTest::newRow("write in its pause, then a port that does not open, then write")
            << QStringList { "check-reply", "write", "tx", "ok", "select ttyMissing", "write" }
            << QStringList { "check", "script" } << QStringList()
            << "Порт для связи не открыт. Передача невозможна" << false << false;
        QTest::newRow("write again in the pause of a write whose list was cleared")
            << QStringList { "check-reply", "write", "tx", "ok", "clear", "write" }
            << QStringList { "check", "script" } << QStringList() << "Список пуст" << false << true;
        // Typed into the port box, a name selects a port at every keystroke: the write cut by
        // the first one is still named after the last one's status, until a port opens.
        QTest::newRow("write running, a port that does not open typed a name at a time")
            << QStringList { "check-reply", "write", "select ttyM", "said " + kWriteCutByPort,
                   "select ttyMissing" }
            << QStringList { "check", "script" } << QStringList() << kWriteCutByPort << false
            << false;
        QTest::newRow("write in its pause, a port typed a name at a time, then another")
            << QStringList { "check-reply", "write", "tx", "ok", "select ttyM", "select ttyB",
                   "said " + kWriteCutByPort, "check-reply", "select ttyM" }
            << QStringList { "check", "script", "check" } << QStringList()
            << "Не могу открыть порт ttyM" << false << false;
        QTest::newRow("device gone in the pause between objects")
            << QStringList { "check-reply", "write", "tx", "ok", "lose" }
            << QStringList { "check", "script" } << QStringList()
            << "Связь с портом ttyA потеряна. Отменено: запись во флэш" << false << false;
    }
    void oneCommandOnTheLine()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, frames);
        QFETCH(QStringList, messages);
        QFETCH(QString, status);
        QFETCH(bool, heldSaid);
        QFETCH(bool, connected);
        Rig rig;
        for (const QString &step : steps) {
            if (step == QLatin1String("write"))
                guarded([&] { rig.link.writeToFlash(); });
            else if (step == QLatin1String("erase"))
                guarded([&] { rig.link.eraseObjectTable(); });
            else if (step == QLatin1String("check"))
                guarded([&] { rig.link.connectionCheck(); });
            else if (step == QLatin1String("tx"))
                rig.port.transmitEmpty();
            else if (step == QLatin1String("lose"))
                rig.port.loseDevice();
            else if (step == QLatin1String("check-reply"))
                rig.port.receive(reply("ff4001f000"));
            else if (step == QLatin1String("ok"))
                rig.port.receive(reply("ff0000"));
            else if (step == QLatin1String("refused"))
                rig.port.receive(reply("ffffff"));
            else if (step == QLatin1String("erased"))
                rig.port.receive(reply("ffaa"));
            else if (step.startsWith(QLatin1String("select ")))
                guarded([&] { rig.link.selectPort(step.section(QLatin1Char(' '), 1)); });
            else if (step == QLatin1String("clear"))
                rig.list.setCell(1, ColNumber, QString());
            else if (step.startsWith(QLatin1String("said ")))
                QCOMPARE(rig.ui.status(), step.section(QLatin1Char(' '), 1));
            else if (step == QLatin1String("until ended"))
                QTRY_VERIFY_WITH_TIMEOUT(!rig.ui.gaugeVisible, kWait);
            else if (step.startsWith(QLatin1String("until "))) {
                const QString kind = step.section(QLatin1Char(' '), 1);
                const int before = rig.count(kind);
                QTRY_COMPARE_WITH_TIMEOUT(rig.count(kind), before + 1, kWait);
            } else
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
        QCOMPARE(rig.frames(), frames);
        QCOMPARE(rig.ui.messages, messages);
        if (!status.isEmpty())
            QCOMPARE(rig.ui.status(), status);
        QCOMPARE(rig.ui.statuses.contains(kHeld), heldSaid);
        QCOMPARE(rig.ui.connected, connected);
        QVERIFY(!rig.ui.gaugeVisible);
        QVERIFY(rig.failures.isEmpty());
    }

    // Once the device has gone, every send fails loudly with the port's failure, and a write
    // pressed then does not leave the gauge shown.
    void sendsFailOnceTheDeviceHasGone()
    {
        Rig rig;
        rig.port.receive(reply("ff4001f000"));
        rig.port.loseDevice();
        QVERIFY(!rig.ui.connected);
        for (const auto &press : { std::function<void()>([&] { rig.link.writeToFlash(); }),
                 std::function<void()>([&] { rig.link.eraseObjectTable(); }),
                 std::function<void()>([&] { rig.link.connectionCheck(); }) })
            guarded(press);
        QCOMPARE(
            rig.failures, QStringList(3, QStringLiteral("Write error (5), Input/output error")));
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));

        // Chosen again, the port is back.
        rig.link.selectPort(QStringLiteral("ttyA"));
        rig.port.receive(reply("ff4001f000"));
        QVERIFY(rig.ui.connected);
    }
};

QTEST_GUILESS_MAIN(TestLinkScripted)
#include "tst_link_scripted.moc"
