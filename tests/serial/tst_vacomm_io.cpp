// Bytes through the serial component, its write queue, purges, deliveries and a device that goes
// away, over pseudo-terminals.
#include "commprobe.h"
#include "eventwait.h"
#include "serial/commthreads.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <clocale>

using namespace ormelin;
using namespace std::chrono_literals;

namespace {

// A line that takes its bytes at once and sends them at its own pace, kByteTime each, and notes
// every moment it fell silent with bytes still to come.
class SlowLine final : public serialdetail::LineOutput
{
public:
    static constexpr auto kByteTime = 20ms;

    long write(const char *bytes, std::size_t n) override
    {
        std::lock_guard lock(m_lock);
        const auto now = std::chrono::steady_clock::now();
        if (!m_taken.isEmpty() && now > m_busyUntil)
            ++m_silences;
        m_busyUntil = std::max(now, m_busyUntil) + kByteTime * long(n);
        m_taken.append(bytes, qsizetype(n));
        return long(n);
    }
    int unsent(int &count) override
    {
        std::lock_guard lock(m_lock);
        const auto left = m_busyUntil - std::chrono::steady_clock::now();
        count = left.count() > 0 ? int(left / kByteTime) + 1 : 0;
        return 0;
    }
    bool transmitterIdle() override { return true; }
    int pollFd() const override { return -1; }

    QByteArray taken()
    {
        std::lock_guard lock(m_lock);
        return m_taken;
    }
    int silences()
    {
        std::lock_guard lock(m_lock);
        return m_silences;
    }

private:
    std::mutex m_lock;
    QByteArray m_taken;
    std::chrono::steady_clock::time_point m_busyUntil {};
    int m_silences = 0;
};

// Queues one byte and waits, without running the event loop, until the transmit-empty that
// follows it waits for the main thread.
bool leaveATxEmptyPending(TVaComm &comm, std::uint8_t byte)
{
    return comm.WriteByte(byte) && spinUntil([&] { return comm.pendingDeliveries() == 1; });
}

QByteArray everyByteValue()
{
    QByteArray bytes(256, 0);
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}

} // namespace

class TestVaCommIo : public QObject
{
    Q_OBJECT

    // The writer is stuck in a write the pseudo-terminal cannot take until the master reads.
    static constexpr int kStallSize = 300000;

private slots:
    void initTestCase() { std::setlocale(LC_ALL, "C"); }

    void everyByteValuePassesBothWaysUnchanged()
    {
        ProbedPort port;
        QVERIFY(port.ok());
        QByteArray received;
        port.comm.OnRxChar = [&](int32_t n) {
            QByteArray b(n, 0);
            b.resize(port.comm.ReadBytes(b.data(), n));
            received += b;
        };
        port.comm.Open();

        const QByteArray all = everyByteValue() + everyByteValue();
        QCOMPARE(port.comm.WriteBytes(all.constData(), int32_t(all.size())), int32_t(all.size()));
        QCOMPARE(port.pty.read(all.size(), 5s), all);

        QVERIFY(port.pty.write(all));
        QTRY_COMPARE_WITH_TIMEOUT(received, all, 5000);
        QVERIFY(port.probe.failures.isEmpty());
    }

    void largestPayloadGoesOutIntact()
    {
        ProbedPort port;
        QVERIFY(port.open());
        const QByteArray payload = testfiles::pattern(1900000, 7);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(port.comm.WriteBytes(payload.constData(), int32_t(payload.size())), 1900000);
        QVERIFY(timer.elapsed() < 900); // into an empty queue: no wait for room
        QCOMPARE(port.pty.read(payload.size(), 30s), payload);
        QTRY_COMPARE_WITH_TIMEOUT(port.probe.txEmpty, 1, 5000);
    }

    // Bytes left unread are counted again with the next arrival, and only then.
    void unreadBytesAreCountedAgainWhenMoreArrive()
    {
        ProbedPort port; // reads nothing
        QVERIFY(port.open());
        QVERIFY(port.pty.write("abc"));
        QTRY_COMPARE_WITH_TIMEOUT(port.probe.rxCounts, QList<int>({ 3 }), 5000);
        QVERIFY(port.pty.write("d"));
        QTRY_COMPARE_WITH_TIMEOUT(port.probe.rxCounts, QList<int>({ 3, 4 }), 5000);
        char buffer[8];
        QCOMPARE(port.comm.ReadBytes(buffer, 8), 4);
        QCOMPARE(QByteArray(buffer, 4), QByteArray("abcd"));
        QCOMPARE(port.comm.ReadBytes(buffer, 8), 0); // nothing there: no wait
    }

    // Bytes that came while a handler ran and were read by it raise one more receive event;
    // it finds nothing waiting and calls no handler.
    void receiveEventWithNothingLeftCallsNoHandler()
    {
        PtyPort port;
        QVERIFY(port.ok());
        QList<int> counts;
        QByteArray received;
        port.comm.OnRxChar = [&](int32_t n) {
            counts << n;
            QByteArray b(64, 0);
            b.resize(port.comm.ReadBytes(b.data(), 64));
            received += b;
            if (counts.size() == 1) {
                port.pty.write("xyz");
                const bool arrived = spinUntil([&] {
                    QByteArray more(8, 0);
                    more.resize(port.comm.ReadBytes(more.data(), 8));
                    received += more;
                    return received.endsWith("xyz");
                });
                QVERIFY(arrived);
            }
        };
        port.comm.Open();
        QVERIFY(port.pty.write("a"));
        QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("axyz"), 5000);
        QVERIFY(port.pty.write("w"));
        QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("axyzw"), 5000);
        QCOMPARE(counts, QList<int>({ 1, 1 }));
    }

    void handlerFailureIsReportedAndDeliveriesGoOn()
    {
        ProbedPort port;
        QVERIFY(port.ok());
        int calls = 0;
        port.comm.OnRxChar = [&](int32_t n) {
            QByteArray b(n, 0);
            port.comm.ReadBytes(b.data(), n);
            if (++calls == 1)
                throw EVaCommError(QStringLiteral("from the handler"));
        };
        port.comm.Open();
        QVERIFY(port.pty.write("1"));
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 5000);
        QVERIFY(port.pty.write("2"));
        QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 5000);
        QCOMPARE(port.probe.failures, QStringList { QStringLiteral("from the handler") });
    }

    // Frame bytes queued one by one behind a write under way, then a payload: the writer never
    // finds the queue empty in between, so one transmit-empty comes, after the last byte.
    void oneTxEmptyForFrameBytesAndPayload()
    {
        ProbedPort port;
        QVERIFY(port.open());
        QSignalSpy txEmpty(&port.probe, &CommProbe::txEmptied);

        const QByteArray stall = testfiles::pattern(kStallSize, 1);
        const QByteArray frame = QByteArray::fromHex("aa31000500000000001d4c00");
        const QByteArray payload = testfiles::pattern(20000, 2);
        QCOMPARE(port.comm.WriteBytes(stall.constData(), int32_t(stall.size())), kStallSize);
        for (char c : frame)
            QVERIFY(port.comm.WriteByte(uint8_t(c)));
        QCOMPARE(port.comm.WriteBytes(payload.constData(), int32_t(payload.size())), 20000);

        const QByteArray expected = stall + frame + payload;
        QCOMPARE(port.pty.read(expected.size(), 20s), expected);
        QTRY_COMPARE_WITH_TIMEOUT(txEmpty.count(), 1, 5000);
        QVERIFY(!txEmpty.wait(300));
        QCOMPARE(port.comm.queuedBytes(), 0);
    }

    // Frame bytes queued one by one while the writer is already sending the first, then the
    // payload: on a line slower than the queueing, each goes to the line right behind the bytes
    // before it, which never falls silent until the last byte; one transmit-empty follows.
    void queuedBytesFollowWithoutASilence()
    {
        serialdetail::WorkerHub hub;
        auto owned = std::make_unique<SlowLine>();
        SlowLine &line = *owned;
        serialdetail::TVaCommWriteThread writer(hub, std::move(owned), hub.beginSession(), 4096);
        writer.start();

        const QByteArray frame = QByteArray::fromHex("aaaa58070040000058");
        const QByteArray payload = testfiles::pattern(64, 5);
        for (char c : frame)
            writer.append(&c, 1);
        writer.append(payload.constData(), int32_t(payload.size()));

        std::shared_ptr<serialdetail::Delivery> emptied;
        QVERIFY(spinUntil([&] { return (emptied = hub.takeNext()) != nullptr; }, 10s));
        QCOMPARE(emptied->events, std::uint32_t(serialdetail::EV_TXEMPTY));
        QCOMPARE(line.taken(), frame + payload);
        QCOMPARE(line.silences(), 0);
        hub.markRun(emptied);
        QCOMPARE(hub.pending(), 0);
        writer.requestStop();
        writer.join();
    }

    // A WriteBytes that has to wait for room gets it when the writer empties the queue, and its
    // bytes follow the others; a transmit-empty comes once the line has fallen silent.
    void waitForRoomEndsWhenTheWriterEmptiesTheQueue()
    {
        ProbedPort port;
        QVERIFY(port.ok());
        TVaBuffers small = port.comm.Buffers();
        small.WriteSize = 16;
        port.comm.SetBuffers(small);
        QList<int> queuedAtTxEmpty;
        port.comm.OnTxEmpty = [&] {
            ++port.probe.txEmpty;
            queuedAtTxEmpty << port.comm.queuedBytes();
        };
        port.comm.Open();

        const QByteArray first = testfiles::pattern(14, 3);
        const QByteArray second = testfiles::pattern(16, 4);
        QCOMPARE(port.comm.WriteBytes(first.constData(), 14), 14);
        QCOMPARE(port.comm.WriteBytes(second.constData(), 16), 16);
        // The event loop runs meanwhile: the writer waits for each transmit-empty to be handled.
        // One may come between the two writes, if the writer found the queue empty then; the
        // last comes once the second write has gone out.
        QTRY_COMPARE_WITH_TIMEOUT(port.pty.available(), 30, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!queuedAtTxEmpty.isEmpty() && queuedAtTxEmpty.last() == 0, 5000);
        QVERIFY(port.probe.txEmpty <= 2);
        QCOMPARE(port.pty.read(30, 5s), first + second);
    }

    void writeLargerThanTheQueueFailsAfterTheTimeout()
    {
        ProbedPort port;
        QVERIFY(port.open());
        QCOMPARE(port.comm.WriteBytes("before", 6), 6);

        const QByteArray tooLarge(1900001, 'z');
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(commErrorText(
                     [&] { port.comm.WriteBytes(tooLarge.constData(), int32_t(tooLarge.size())); }),
            QStringLiteral("Output buffer is full. Please check comm status."));
        QVERIFY2(timer.elapsed() >= 1000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(port.pty.read(6, 5s), QByteArray("before")); // earlier bytes still go
        QVERIFY(port.pty.read(1, 200ms).isEmpty()); // nothing of the failed call
        QCOMPARE(port.comm.queuedBytes(), 0);
        QCOMPARE(port.comm.WriteBytes(nullptr, -1), 0); // a negative count queues nothing
    }

    void purgeEndsALongWrite()
    {
        ProbedPort port;
        QVERIFY(port.open());
        QSignalSpy txEmpty(&port.probe, &CommProbe::txEmptied);
        const QByteArray payload = testfiles::pattern(1000000, 5);
        QCOMPARE(port.comm.WriteBytes(payload.constData(), int32_t(payload.size())), 1000000);
        QVERIFY(spinUntil([&] { return port.pty.available() > 0; }));

        QElapsedTimer timer;
        timer.start();
        port.comm.PurgeAll();
        QVERIFY(timer.elapsed() < 1500); // the writer answered, no 2 s wait
        QCOMPARE(port.comm.queuedBytes(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(txEmpty.count(), 1, 5000); // one follows the purge
        QVERIFY(!txEmpty.wait(300));

        QCOMPARE(port.comm.WriteBytes("MARK", 4), 4);
        const QByteArray got = port.pty.readThrough("MARK", 10s);
        QVERIFY(got.endsWith("MARK"));
        QVERIFY2(got.size() < 100000, qPrintable(QString::number(got.size())));
        QVERIFY(payload.startsWith(got.left(got.size() - 4))); // what did go out was in order
    }

    // A purge while the writer waits for its transmit-empty to run is answered at once and
    // empties the queue, instead of leaving it to be sent after the purge.
    void purgeWhileTheWriterWaitsForItsDelivery()
    {
        ProbedPort port;
        QVERIFY(port.open());
        QVERIFY(leaveATxEmptyPending(port.comm, 0x41));
        QCOMPARE(port.comm.WriteBytes("discarded", 9), 9);

        QElapsedTimer timer;
        timer.start();
        port.comm.PurgeAll();
        QVERIFY(timer.elapsed() < 1500);
        QCOMPARE(port.comm.queuedBytes(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(port.probe.txEmpty, 2, 5000);
        QCOMPARE(port.comm.WriteBytes("Z", 1), 1);
        const QByteArray got = port.pty.readThrough("Z", 5s);
        QVERIFY2(got == "AZ" || got == "Z", got.constData()); // the purge may drop the "A" too
    }

    void closeFromTheTransmitEmptyHandler()
    {
        PtyPort port;
        QVERIFY(port.ok());
        int calls = 0;
        port.comm.OnTxEmpty = [&] {
            ++calls;
            port.comm.Close();
        };
        port.comm.Open();
        QCOMPARE(port.comm.WriteBytes("bye", 3), 3);
        QTRY_VERIFY_WITH_TIMEOUT(!port.comm.IsOpen(), 5000);
        QCOMPARE(calls, 1);
        port.comm.OnTxEmpty = {};
        port.comm.Open();
        QCOMPARE(port.comm.WriteBytes("again", 5), 5);
        QCOMPARE(port.pty.readThrough("again", 5s), QByteArray("byeagain"));
    }

    void closeFromTheReceiveHandler()
    {
        PtyPort port;
        QVERIFY(port.ok());
        int calls = 0;
        port.comm.OnRxChar = [&](int32_t) {
            ++calls;
            port.comm.Close();
        };
        port.comm.Open();
        QVERIFY(port.pty.write("hello"));
        QTRY_VERIFY_WITH_TIMEOUT(!port.comm.IsOpen(), 5000);
        QCOMPARE(calls, 1);
        port.comm.Open();
        QVERIFY(port.comm.IsOpen());
    }

    // Close while a transmit-empty waits for the main thread: Close ends both workers at once;
    // the delivery still runs afterwards and calls its handler.
    void closeWithATransmitEmptyPending()
    {
        ProbedPort port;
        QVERIFY(port.open());
        QVERIFY(leaveATxEmptyPending(port.comm, 0x42));
        port.comm.Close();
        QVERIFY(!port.comm.IsOpen());
        QCOMPARE(port.probe.txEmpty, 0);
        QTRY_COMPARE_WITH_TIMEOUT(port.comm.pendingDeliveries(), 0, 5000);
        QCOMPARE(port.probe.txEmpty, 1);
    }

    // A receive delivery pending at Close finds the port closed, also when it is open again by
    // then, and calls nothing.
    void closeWithAReceivePending_data()
    {
        QTest::addColumn<bool>("reopen");
        QTest::newRow("closed") << false;
        QTest::newRow("opened again") << true;
    }

    void closeWithAReceivePending()
    {
        QFETCH(bool, reopen);
        ProbedPort port;
        QVERIFY(port.open());
        QVERIFY(port.pty.write("late"));
        QVERIFY(spinUntil([&] { return port.comm.pendingDeliveries() == 1; }));
        port.comm.Close();
        if (reopen)
            port.comm.Open();
        QTRY_COMPARE_WITH_TIMEOUT(port.comm.pendingDeliveries(), 0, 5000);
        QVERIFY(port.probe.rxCounts.isEmpty());
        QVERIFY(port.probe.failures.isEmpty());
    }

    // The device goes away while the port is idle: reported once, no thread spins, the port
    // stays quiet until closed, and opens again when a device is back.
    void deviceGoneIsReportedOnceWithoutSpinning()
    {
        ProbedPort port;
        QVERIFY(port.open());
        QVERIFY(!port.comm.hungUp());

        port.pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(port.probe.failures.size(), 1, 5000);
        QCOMPARE(port.probe.failures[0], QStringLiteral("Read error (5), Input/output error"));
        QVERIFY(port.comm.hungUp());
        QVERIFY(port.comm.IsOpen());

        // A spinning worker would burn about a second of CPU here.
        const double cpu = cpuSecondsWhileRunning(1000);
        QVERIFY2(cpu < 0.25, qPrintable(QStringLiteral("CPU %1 s in 1 s").arg(cpu)));

        // A send fails at once with the failure the loss was reported with; the rest stays
        // quiet.
        QCOMPARE(port.probe.deviceGone, 1);
        QCOMPARE(port.comm.deviceGoneText(), port.probe.failures[0]);
        for (int32_t size : { 5, 1900001 }) {
            const QByteArray bytes(size, 'x');
            QCOMPARE(commErrorText([&] { port.comm.WriteBytes(bytes.constData(), size); }),
                port.probe.failures[0]);
        }
        char buffer[4];
        QCOMPARE(port.comm.ReadBytes(buffer, 4), 0);
        port.comm.SetDtrLine(true);
        port.comm.PurgeAll();
        port.comm.Close();
        QCOMPARE(port.probe.failures.size(), 1);
        QCOMPARE(port.probe.deviceGone, 1);
        QVERIFY(port.probe.rxCounts.isEmpty());

        PtyPair back; // the device is back
        QVERIFY(back.ok());
        port.comm.SetDeviceName(back.slavePath());
        port.comm.Open();
        QVERIFY(!port.comm.hungUp());
        QVERIFY(port.comm.deviceGoneText().isEmpty());
        QCOMPARE(port.comm.WriteBytes("back", 4), 4);
        QCOMPARE(back.read(4, 5s), QByteArray("back"));
        port.comm.Close(); // before this device goes as well
    }

    void deviceGoneDuringATransfer()
    {
        ProbedPort port;
        QVERIFY(port.open());
        const QByteArray payload = testfiles::pattern(1000000, 9);
        QCOMPARE(port.comm.WriteBytes(payload.constData(), int32_t(payload.size())), 1000000);
        QVERIFY(spinUntil([&] { return port.pty.available() > 0; }));
        port.pty.closeMaster();

        QTRY_COMPARE_WITH_TIMEOUT(port.probe.failures.size(), 1, 5000);
        QVERIFY2(port.probe.failures[0] == QStringLiteral("Read error (5), Input/output error")
                || port.probe.failures[0] == QStringLiteral("Write error (5), Input/output error"),
            qPrintable(port.probe.failures[0]));
        const double cpu = cpuSecondsWhileRunning(1000);
        QVERIFY2(cpu < 0.25, qPrintable(QStringLiteral("CPU %1 s in 1 s").arg(cpu)));
        QCOMPARE(port.probe.failures.size(), 1);
        QCOMPARE(port.probe.deviceGone, 1);
        QCOMPARE(port.probe.txEmpty, 0); // nothing was transmitted to the end
        QElapsedTimer timer;
        timer.start();
        port.comm.PurgeAll();
        port.comm.Close();
        QVERIFY(timer.elapsed() < 1500);
    }
};

QTEST_GUILESS_MAIN(TestVaCommIo)
#include "tst_vacomm_io.moc"
