// The link when the line misbehaves, end to end through a pseudo-terminal to tarviks-sim: the
// controller vanishing in the middle of a long payload and coming back, the device node gone
// and back, the port held by another process, a controller that answers late. Nothing may hang
// or spin, the operator is told once, and the link works again as soon as the controller does.
#include "link_rig.h"

#include "link/protocol.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace ormelin;
using namespace std::chrono_literals;
using linktest::completion;
using testfiles::pattern;

namespace {

constexpr int kWait = 10000;
// A whole core for a second would be 1.0; an idle program uses a few milliseconds.
constexpr double kIdleCpuBound = 0.2;

const QString kNoAnswer = QStringLiteral("Нет ответа от Тарвикса");
const QString kLost = QStringLiteral("Связь с портом %1 потеряна");
const QString kLostMidWrite
    = QStringLiteral("Связь с портом %1 потеряна. Отменено: запись во флэш");

// What a port whose far end has gone answers, whichever worker learns it first.
bool isHangUpFailure(const QString &text)
{
    return (text.startsWith(QLatin1String("Write error (5)"))
               || text.startsWith(QLatin1String("Read error (5)")))
        && text.endsWith(QLatin1String("Input/output error"));
}

int count(const QStringList &items, const QString &item)
{
    return int(items.count(item));
}

} // namespace

class TestRelLinkFaults : public QObject
{
    Q_OBJECT

    QByteArray m_largest; // a script as large as a payload can be

private slots:
    void initTestCase() { m_largest = pattern(kMaxFilePayload, 1); }

    // The controller dies while a 1.9 MB payload is on its way at line rate. Within a second the
    // program is told once, the write ends with the gauge hidden, the indicator goes off and the
    // status names the lost port; nothing spins, the list stays. Every later send fails with the
    // same failure. Once a controller answers on the same path again, choosing the port again
    // works and the whole payload goes through.
    void controllerKilledMidUpload()
    {
        LinkRig rig;
        QVERIFY(rig.startSim({ "--baud", "250000" }));
        QVERIFY(rig.connect());
        const QString path = rig.file(QStringLiteral("large.scr"), m_largest);
        rig.setRow(1, QStringLiteral("1200"), TypeScript, path);

        const qint64 readBefore = rig.sim->bytesRead();
        QVERIFY(readBefore >= 0);
        QElapsedTimer transfer;
        transfer.start();
        rig.writeToFlash();
        QCOMPARE(rig.ui.status(), QStringLiteral("Передаем объект 1200"));
        // A second or so into the payload (22.7 kB/s at 250000 baud).
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->bytesRead() - readBefore > 25000, kWait);
        QVERIFY2(transfer.elapsed() > 800, qPrintable(QString::number(transfer.elapsed())));
        QVERIFY(rig.comm.queuedBytes() > 1000000); // still far from sent
        QVERIFY(rig.ui.connected);
        QElapsedTimer sinceKill;
        sinceKill.start();
        rig.sim->kill();

        QTRY_VERIFY_WITH_TIMEOUT(!rig.ui.gaugeVisible, kWait);
        const qint64 endedAfter = sinceKill.elapsed();
        QCOMPARE(rig.failures.size(), 1);
        QVERIFY2(isHangUpFailure(rig.failures.first()), qPrintable(rig.failures.first()));
        QCOMPARE(rig.ui.status(), kLostMidWrite.arg(rig.portPath()));
        QVERIFY(!rig.ui.connected);
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));
        QVERIFY2(endedAfter < 1000, qPrintable(QString::number(endedAfter)));

        const double cpu = cpuSecondsWhileRunning(1000);
        QVERIFY2(cpu < kIdleCpuBound, qPrintable(QStringLiteral("%1 s of CPU in 1 s").arg(cpu)));
        // Told once while nobody asked for anything.
        QCOMPARE(rig.failures.size(), 1);
        QVERIFY(rig.ui.messages.isEmpty());
        QCOMPARE(rig.ui.status(), kLostMidWrite.arg(rig.portPath()));

        // Write pressed again on the dead line fails at once with the same failure, and does not
        // leave the gauge shown.
        QElapsedTimer again;
        again.start();
        rig.writeToFlash();
        QVERIFY2(again.elapsed() < 500, qPrintable(QString::number(again.elapsed())));
        QCOMPARE(rig.failures, QStringList({ rig.failures.first(), rig.failures.first() }));
        QVERIFY(!rig.ui.gaugeVisible);
        QCOMPARE(rig.list.cell(1, ColFile), path);
        QCOMPARE(rig.list.rowCount(), 2);

        // Back on the same path; --baud 0 so that the 1.9 MB do not take 84 s here.
        QVERIFY(rig.startSim());
        QVERIFY(rig.connect());
        QVERIFY(!rig.comm.hungUp());
        QCOMPARE(rig.ui.status(), QStringLiteral("Тарвикс на связи. Разрешение экрана: 320x240"));
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { completion(1855) }, 30000);
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("1200.bin")), m_largest);
        QCOMPARE(rig.failures.size(), 2);
        QVERIFY(!rig.ui.gaugeVisible);
    }

    // The controller goes away in good order while the port is open and idle: its device node
    // disappears with it. The hang-up is told once, with the lost port in the status line; each
    // command on the dead line then fails loudly; choosing the port while the node is gone says
    // so in the status line; once the node is back, the port opens and a write completes.
    void deviceNodeVanishesAndReturns()
    {
        LinkRig rig;
        QVERIFY(rig.startSim());
        QVERIFY(rig.connect());
        QCOMPARE(rig.sim->stop(), 0);
        QVERIFY(!QFileInfo::exists(rig.portPath()));

        QTRY_COMPARE_WITH_TIMEOUT(rig.failures.size(), 1, kWait);
        QVERIFY2(isHangUpFailure(rig.failures.first()), qPrintable(rig.failures.first()));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.status(), kLost.arg(rig.portPath()), kWait);
        QVERIFY(!rig.ui.connected);
        const double cpu = cpuSecondsWhileRunning(1000);
        QVERIFY2(cpu < kIdleCpuBound, qPrintable(QStringLiteral("%1 s of CPU in 1 s").arg(cpu)));
        QCOMPARE(rig.failures.size(), 1);

        // Commands on the dead line fail loudly, each with the failure the loss was told with.
        ormelin::guarded([&] { rig.link.connectionCheck(); });
        ormelin::guarded([&] { rig.link.eraseObjectTable(); });
        QCOMPARE(rig.failures, QStringList(3, rig.failures.first()));

        rig.selectPort();
        QVERIFY(!rig.comm.IsOpen());
        QCOMPARE(rig.ui.status(), QStringLiteral("Не могу открыть порт ") + rig.portPath());
        QCOMPARE(rig.ui.statusDetail,
            QStringLiteral("Specified device not found (%1).").arg(rig.portPath()));

        QVERIFY(rig.startSim());
        QVERIFY(rig.connect());
        QVERIFY(rig.ui.statusDetail.isEmpty());
        rig.setRow(1, QStringLiteral("3"), TypeScript,
            rig.file(QStringLiteral("3.scr"), pattern(3000, 3)));
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { completion(3) }, kWait);
        QCOMPARE(rig.failures.size(), 3);
    }

    // Another program has the port: the selection fails with the serial component's reason in
    // the status detail, and succeeds once that program has let go.
    void portHeldByAnotherProcess()
    {
        LinkRig rig;
        QVERIFY(rig.startSim());
        QProcess holder;
        holder.start(QStringLiteral(ORMELIN_PORT_HOLDER), { rig.portPath() });
        QVERIFY(holder.waitForStarted(kWait));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += holder.readAllStandardOutput()).contains("held"), kWait);

        rig.selectPort();
        QVERIFY(!rig.comm.IsOpen());
        QCOMPARE(rig.ui.status(), QStringLiteral("Не могу открыть порт ") + rig.portPath());
        QVERIFY2(rig.ui.statusDetail.startsWith(
                     QStringLiteral("Can't open specified device %1 (Error ").arg(rig.portPath())),
            qPrintable(rig.ui.statusDetail));
        QVERIFY(rig.failures.isEmpty());
        rig.writeToFlash();
        QCOMPARE(rig.ui.status(), QStringLiteral("Порт для связи не открыт. Передача невозможна"));

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(kWait));
        QCOMPARE(holder.exitCode(), 0);
        QVERIFY(rig.connect());
        QVERIFY(rig.failures.isEmpty());
    }

    // Replies later than the 300 ms response timer: just inside it nothing extra is sent; just
    // outside, one filler per object goes out and the write still completes; later than five
    // fillers can wait, the link gives up with its status, and the reply that comes after that
    // changes nothing.
    void lateReplies_data()
    {
        QTest::addColumn<QString>("delay");
        QTest::addColumn<int>("fillersPerObject"); // -1: the link gives up
        QTest::newRow("inside, 200 ms") << "200" << 0;
        QTest::newRow("outside, 450 ms") << "450" << 1;
        QTest::newRow("beyond five fillers, 2500 ms") << "2500" << -1;
    }
    void lateReplies()
    {
        QFETCH(QString, delay);
        QFETCH(int, fillersPerObject);
        LinkRig rig;
        QVERIFY(rig.startSim({ "--delay", delay }));
        QVERIFY(rig.connect());
        for (int row = 1; row <= 3; ++row)
            rig.setRow(row, QString::number(row), TypeScript,
                rig.file(QStringLiteral("%1.scr").arg(row), pattern(700, row)));

        rig.writeToFlash();
        if (fillersPerObject >= 0) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { completion(2) }, 20000);
            const QStringList traffic = rig.uploadTraffic();
            QCOMPARE(count(traffic, QStringLiteral("filler")), 3 * fillersPerObject);
            QCOMPARE(count(traffic, QStringLiteral("payload")), 3);
            QCOMPARE(count(traffic, QStringLiteral("reply")), 3);
            for (int row = 1; row <= 3; ++row)
                QCOMPARE(rig.sim->dumpFile(QStringLiteral("%1.bin").arg(row)), pattern(700, row));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(rig.ui.status(), kNoAnswer, kWait);
            QVERIFY(!rig.ui.connected);
            QVERIFY(!rig.ui.gaugeVisible);
            // The late reply arrives and is thrown away: no next object, no message, and it
            // does not stand in front of the next reply.
            QTRY_COMPARE_WITH_TIMEOUT(rig.sim->log(QStringLiteral("reply")).size(), 2, kWait);
            QTRY_COMPARE_WITH_TIMEOUT(rig.comm.pendingDeliveries(), 0, kWait);
            QCOMPARE(rig.uploadTraffic(),
                QStringList({ "frame", "payload", "filler", "filler", "filler", "filler", "filler",
                    "reply" }));
            QVERIFY(rig.ui.messages.isEmpty());
            rig.link.connectionCheck();
            QTRY_VERIFY_WITH_TIMEOUT(rig.ui.connected, kWait);
            QCOMPARE(rig.uploadedNumbers(), QList<int> { 1 });
        }
        QVERIFY(rig.failures.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRelLinkFaults)
#include "tst_rel_link_faults.moc"
