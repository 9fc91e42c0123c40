// The link's small rules on their own: the kilobytes the completion message reports, the
// summary after it, and the timer whose start leaves a running countdown alone.
#include "link/flashwriter.h"
#include "link/nonrestartingtimer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace ormelin;
using namespace std::chrono_literals;

class TestLinkUnits : public QObject
{
    Q_OBJECT

private slots:
    void kilobytesRoundedHalfEven_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("kilobytes");
        QTest::newRow("nothing") << qint64(0) << qint64(0);
        QTest::newRow("just under a half") << qint64(511) << qint64(0);
        QTest::newRow("half, down to even 0") << qint64(512) << qint64(0);
        QTest::newRow("just over a half") << qint64(513) << qint64(1);
        QTest::newRow("1535") << qint64(1535) << qint64(1);
        QTest::newRow("1536, up to even 2") << qint64(1536) << qint64(2);
        QTest::newRow("2560, down to even 2") << qint64(2560) << qint64(2);
        QTest::newRow("2561") << qint64(2561) << qint64(3);
        QTest::newRow("3584, up to even 4") << qint64(3584) << qint64(4);
        QTest::newRow("largest payload") << qint64(1900001) << qint64(1855);
        QTest::newRow("past 32 bits, half") << qint64(2147484160) << qint64(2097152);
        QTest::newRow("a full table of the largest objects")
            << qint64(1320) * 1900162 << qint64(2449428);
    }
    void kilobytesRoundedHalfEven()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, kilobytes);
        QCOMPARE(FlashWriter::kilobytesRoundedHalfEven(bytes), kilobytes);
    }

    // The rate is the bytes over the whole write, and its share is of the line's own ceiling.
    void completionSummary_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<double>("lineBytesPerSecond");
        QTest::addColumn<QString>("summary");
        const double line250k = 250000.0 / 11; // start, 8 data and 2 stop bits
        QTest::newRow("twenty objects at line rate")
            << qint64(1999997) << qint64(93740) << line250k
            << QStringLiteral("Записано за 93,7 с: 21,3 кБайт/с, 94% предельной скорости линии "
                              "(22,7 кБайт/с)");
        QTest::newRow("one small object, mostly the pause")
            << qint64(7680) << qint64(2349) << line250k
            << QStringLiteral("Записано за 2,3 с: 3,3 кБайт/с, 14% предельной скорости линии "
                              "(22,7 кБайт/с)");
        QTest::newRow("9600 baud, one stop bit")
            << qint64(96000) << qint64(100000) << 960.0
            << QStringLiteral("Записано за 100,0 с: 1,0 кБайт/с, 100% предельной скорости линии "
                              "(1,0 кБайт/с)");
        QTest::newRow("no time measured is not a division by zero")
            << qint64(1000) << qint64(0) << line250k
            << QStringLiteral("Записано за 0,0 с: 1000,0 кБайт/с, 4400% предельной скорости "
                              "линии (22,7 кБайт/с)");
        QTest::newRow("rate unknown: no share") << qint64(5000) << qint64(1000) << 0.0
                                                << QStringLiteral("Записано за 1,0 с: 5,0 кБайт/с");
    }
    void completionSummary()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, elapsedMs);
        QFETCH(double, lineBytesPerSecond);
        QFETCH(QString, summary);
        QCOMPARE(FlashWriter::completionSummary(bytes, elapsedMs, lineBytesPerSecond), summary);
    }

    // A start while the countdown runs does not push the expiry back; each start expires once.
    void startDoesNotRestart()
    {
        NonRestartingTimer timer(300ms);
        QSignalSpy expiries(&timer, &NonRestartingTimer::expired);
        QElapsedTimer clock;
        clock.start();
        timer.start();
        QVERIFY(timer.isActive());
        QVERIFY(QTest::qWaitFor([&] { return clock.elapsed() >= 200; }, 1000));
        QVERIFY(timer.isActive());
        timer.start(); // restarted, it would expire at 500 ms
        QVERIFY(expiries.wait(2000));
        const qint64 at = clock.elapsed();
        QVERIFY2(at >= 299 && at < 480, qPrintable(QString::number(at)));
        QVERIFY(!timer.isActive());
        QVERIFY(!expiries.wait(500));
        QCOMPARE(expiries.size(), 1);

        timer.start();
        timer.stop();
        QVERIFY(!timer.isActive());
        QVERIFY(!expiries.wait(500));
        timer.start();
        QVERIFY(expiries.wait(2000));
        QCOMPARE(expiries.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLinkUnits)
#include "tst_link_units.moc"
