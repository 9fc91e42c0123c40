// The real window when the controller dies in the middle of a 1.9 MB write at line rate: one
// failure box, a window that stays idle and keeps its list, and, once the controller is back on
// the same port, a choice of that port and a new write that completes.
#include "app/mainwindow.h"
#include "common/cp1251.h"
#include "link_rig.h"
#include "windowdriver.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace ormelin;
using namespace std::chrono_literals;

namespace {

constexpr int kWait = 10000;
// The box answerer looks every 10 ms; a spinning thread would use the whole second.
constexpr double kIdleCpuBound = 0.25;

void setField(QWidget *w, const char *name, const QString &text)
{
    auto *edit = child<QLineEdit>(w, name);
    edit->selectAll();
    edit->del();
    edit->insert(text);
}

// The port box as the operator uses it: its text replaced, each change selecting that port.
void choosePort(QWidget *w, const QString &port)
{
    auto *box = child<QComboBox>(w, "PortCombo");
    box->setEditText(QString());
    box->setEditText(port);
}

} // namespace

class TestRelWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_startDir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The settings file lives in the current folder.
        m_startDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(m_startDir); }

    void controllerKilledMidWrite()
    {
        const QString portPath = m_dir.filePath(QStringLiteral("ttyTarviks"));
        const QByteArray largest = testfiles::pattern(kMaxFilePayload, 2);
        const QString objectPath = m_dir.filePath(QStringLiteral("large.scr"));
        {
            QFile f(objectPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(largest), largest.size());
        }

        auto sim = std::make_unique<SimProcess>();
        QVERIFY2(sim->start({ "--baud", "250000", "--link", portPath }), qPrintable(sim->error()));
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        choosePort(&w, portPath);
        const QString connected = QStringLiteral("Тарвикс на связи. Разрешение экрана: 320x240");
        QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), connected, kWait);

        setField(&w, "NumEdit", QStringLiteral("1000"));
        child<QComboBox>(&w, "TypeCombo")->setCurrentIndex(TypeScript);
        setField(&w, "FNameEdit", objectPath);
        click(&w, "AddBtn");
        QCOMPARE(w.objectList().cell(1, ColFile), objectPath);

        const qint64 readBefore = sim->bytesRead();
        QVERIFY(readBefore >= 0);
        QElapsedTimer transfer;
        transfer.start();
        click(&w, "WriteBtn");
        QVERIFY(child<QWidget>(&w, "ProgrBar")->isVisible());
        // A second or so into the payload (22.7 kB/s at 250000 baud).
        QTRY_VERIFY_WITH_TIMEOUT(sim->bytesRead() - readBefore > 25000, kWait);
        QVERIFY2(transfer.elapsed() > 800, qPrintable(QString::number(transfer.elapsed())));
        QCOMPARE(w.statusText(), QStringLiteral("Передаем объект 1000"));
        sim->kill();

        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts("failure").size(), 1, kWait);
        const QString failure = boxes.texts("failure").first();
        QVERIFY2(failure.endsWith(QLatin1String("(5), Input/output error."))
                && (failure.startsWith(QLatin1String("Write error"))
                    || failure.startsWith(QLatin1String("Read error"))),
            qPrintable(failure));
        // The box has been answered and the window is back in its own loop.
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), kWait);

        const double cpu = cpuSecondsWhileRunning(1000);
        QVERIFY2(cpu < kIdleCpuBound, qPrintable(QStringLiteral("%1 s of CPU in 1 s").arg(cpu)));
        QCOMPARE(boxes.seen.size(), 1);
        // The write ended with the loss: the lost port named, the gauge hidden.
        QCOMPARE(w.statusText(),
            QStringLiteral("Связь с портом %1 потеряна. Отменено: запись во флэш").arg(portPath));
        QVERIFY(!child<QWidget>(&w, "ProgrBar")->isVisible());
        QCOMPARE(w.objectList().rowCount(), 2);
        QCOMPARE(w.objectList().cell(1, ColNumber), QStringLiteral("1000"));

        // The controller is back on the same path (at full speed, so that the test is quick).
        sim = std::make_unique<SimProcess>();
        QVERIFY2(sim->start({ "--link", portPath }), qPrintable(sim->error()));
        choosePort(&w, portPath);
        QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), connected, kWait);
        click(&w, "WriteBtn");
        QTRY_COMPARE_WITH_TIMEOUT(
            boxes.texts("message"), QStringList { linktest::completion(1855) }, 30000);
        QVERIFY(!child<QWidget>(&w, "ProgrBar")->isVisible());
        QCOMPARE(sim->dumpFile(QStringLiteral("1000.bin")), largest);
        QCOMPARE(boxes.texts("failure").size(), 1);
    }

    // A list file whose cells are megabytes long, loaded through the window's own button and
    // written: the grid shows it, the write stops at the absurd row with its message, and none
    // of it freezes the window: every box is up and answered within moments.
    void absurdListThroughTheWindow()
    {
        const QByteArray megabytes(4 * 1024 * 1024, '7');
        QByteArray bytes
            = *toCp1251(QStringLiteral("Файл ресурсов для записи во флэш\r\n10\r\n3\r\n"));
        // Row 1: a type of 4 MB; row 2: a file name of 4 MB.
        bytes += "1\r\n" + megabytes + "\r\n\r\n\r\nx\r\n";
        bytes
            += "2\r\n" + *toCp1251(QStringLiteral("Скрипт")) + "\r\n\r\n\r\n" + megabytes + "\r\n";
        const QString listPath = m_dir.filePath(QStringLiteral("absurd.orm"));
        {
            QFile f(listPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(bytes), bytes.size());
        }
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        choosePort(&w, sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(&w, "ConnLabel")->isEnabled(), kWait);

        QElapsedTimer clock;
        clock.start();
        boxes.answers.enqueue({ true, listPath });
        click(&w, "LoadListBtn");
        QCOMPARE(w.objectList().rowCount(), 3);
        QCOMPARE(w.objectList().cell(2, ColFile).size(), megabytes.size());
        w.grab(); // the grid painted with its absurd cells
        const qint64 loaded = clock.elapsed();

        clock.restart();
        click(&w, "WriteBtn");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts("message").size(), 1, kWait);
        const qint64 stopped = clock.elapsed();
        QVERIFY(boxes.texts("message").first().startsWith(
            QStringLiteral("Неизвестный тип объекта: 777")));
        QVERIFY2(loaded < 3000 && stopped < 3000,
            qPrintable(
                QStringLiteral("load and paint %1 ms, write %2 ms").arg(loaded).arg(stopped)));

        // Row 1 cleared: the write goes on to row 2 and stops at its file name.
        w.objectList().clearRow(1);
        clock.restart();
        click(&w, "WriteBtn");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts("message").size(), 2, kWait);
        QVERIFY(
            boxes.texts("message").last().startsWith(QStringLiteral("Ошибка чтения файла 777")));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(boxes.texts("failure").isEmpty());
    }
};

QTEST_MAIN(TestRelWindow)
#include "tst_rel_window.moc"
