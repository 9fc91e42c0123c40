// ormelin-flash end to end: the program run as its own process against tarviks-sim on
// pseudo-terminals, judged by its exit code, its report and what the simulator stored.
#include "link_simprocess.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"
#include "payloadpictures.h"
#include "testfiles.h"
#include "testpictures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace ormelin;
using testfiles::pattern;
using testpictures::jpegFile;

namespace {

constexpr int kRunWait = 60000;

struct ListedObject
{
    int number = 0;
    int type = 0;
    QString path;
    QString width, height;
    QByteArray stored; // what the controller should hold; empty for a re-encoded bitmap
    int storedSize = 0;
};

struct Run
{
    int exitCode = -1;
    QString out, err;
    QJsonObject report;
};

// The list file and the object files it names, in a directory of its own.
class ListFixture
{
public:
    QTemporaryDir dir;
    QList<ListedObject> objects;

    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        if (!testfiles::writeFile(path, bytes))
            QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
        return path;
    }

    // One object of every type, payloads holding every byte value.
    void addEveryType()
    {
        const QByteArray jpeg = jpegFile(24, 16);
        objects << ListedObject { 3, TypeJpeg, file(QStringLiteral("a.jpg"), jpeg), {}, {}, jpeg,
            int(jpeg.size()) };
        const QByteArray bmp = payloadtest::bmp24(10, 8, [](int x, int y) {
            return payloadtest::Rgb { uint8_t(x * 20), uint8_t(y * 30), 7 };
        });
        objects << ListedObject { 7, TypeBitmap, file(QStringLiteral("b.bmp"), bmp), {}, {}, {},
            10 * 8 * 2 };
        const QByteArray font = pattern(3000, 1);
        objects << ListedObject { 12, TypeMicrochipFont, file(QStringLiteral("f.fnt"), font),
            QStringLiteral("8"), QStringLiteral("16"), font, int(font.size()) };
        const QByteArray mono = pattern(1500, 2);
        objects << ListedObject { 13, TypeMonoFont, file(QStringLiteral("m.fnt"), mono),
            QStringLiteral("6"), QStringLiteral("8"), mono, int(mono.size()) };
        const QByteArray script = pattern(700, 3);
        objects << ListedObject { 1319, TypeScript, file(QStringLiteral("s.scr"), script), {}, {},
            script, int(script.size()) };
    }

    QString writeList(const QString &name = QStringLiteral("list.orm"))
    {
        ObjectList list;
        list.setRowCount(int(objects.size()) + 1);
        for (int i = 0; i < objects.size(); ++i) {
            const ListedObject &o = objects.at(i);
            list.setCell(i + 1, ColNumber, QString::number(o.number));
            list.setCell(i + 1, ColType, objectTypeTexts().at(o.type));
            list.setCell(i + 1, ColWidth, o.width);
            list.setCell(i + 1, ColHeight, o.height);
            list.setCell(i + 1, ColFile, o.path);
        }
        const QString path = dir.filePath(name);
        if (!listfile::write(path, list))
            QTest::qFail("cannot write the list file", __FILE__, __LINE__);
        return path;
    }
};

QString reportPath(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("report.json"));
}

void startFlash(QProcess &process, const QStringList &args)
{
    process.setProgram(QStringLiteral(ORMELIN_FLASH));
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
}

Run finishFlash(QProcess &process, const QString &report = {})
{
    Run run;
    if (!process.waitForFinished(kRunWait)) {
        process.kill();
        process.waitForFinished();
        QTest::qFail("ormelin-flash did not end", __FILE__, __LINE__);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    if (!report.isEmpty()) {
        QFile file(report);
        if (file.open(QIODevice::ReadOnly))
            run.report = QJsonDocument::fromJson(file.readAll()).object();
    }
    return run;
}

Run flash(const QStringList &args, const QString &report = {})
{
    QProcess process;
    startFlash(process, args);
    return finishFlash(process, report);
}

// The simulator's table, "number type size" per stored object.
QStringList storedTable(const SimProcess &sim)
{
    QStringList rows;
    for (const QByteArray &line : sim.dumpFile(QStringLiteral("table.txt")).split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> f = line.split(' ');
        rows << QStringLiteral("%1 %2 %3")
                    .arg(QString::fromLatin1(f.value(0)), QString::fromLatin1(f.value(1)),
                        QString::fromLatin1(f.value(6)));
    }
    return rows;
}

QStringList expectedTable(const QList<ListedObject> &objects)
{
    QStringList rows;
    for (const ListedObject &o : objects)
        rows << QStringLiteral("%1 %2 %3").arg(o.number).arg(o.type).arg(o.storedSize);
    return rows;
}

// The report's objects of one port, "number type verdict bytes".
QStringList reportedObjects(const QJsonObject &port)
{
    QStringList rows;
    for (const QJsonValue &v : port.value(QStringLiteral("objects")).toArray()) {
        const QJsonObject o = v.toObject();
        rows << QStringLiteral("%1 %2 %3 %4")
                    .arg(o.value(QStringLiteral("number")).toInt())
                    .arg(o.value(QStringLiteral("typeCode")).toInt())
                    .arg(o.value(QStringLiteral("verdict")).toString())
                    .arg(o.value(QStringLiteral("bytes")).toInteger());
    }
    return rows;
}

QJsonObject portEntry(const QJsonObject &report, const QString &port)
{
    for (const QJsonValue &v : report.value(QStringLiteral("ports")).toArray()) {
        if (v.toObject().value(QStringLiteral("port")).toString() == port)
            return v.toObject();
    }
    return {};
}

int fillersAfterLastUpload(const SimProcess &sim)
{
    int fillers = 0;
    for (const QString &line : sim.log()) {
        if (line.startsWith(QLatin1String("frame ")) && line.contains(QLatin1String("-upload ")))
            fillers = 0;
        else if (line.startsWith(QLatin1String("filler")))
            ++fillers;
    }
    return fillers;
}

} // namespace

class TstFlash : public QObject
{
    Q_OBJECT
private slots:
    void writesTheWholeList();
    void writeEndsEarly_data();
    void writeEndsEarly();
    void refusesToStart_data();
    void refusesToStart();
    void twoPortsOneSilent();
    void commands_data();
    void commands();
    void interruptClosesEveryPort();
    void signalAtTheEraseQuestion_data();
    void signalAtTheEraseQuestion();
    void deviceLostEndsOnlyItsPort();
};

void TstFlash::writesTheWholeList()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.error()));
    ListFixture fixture;
    fixture.addEveryType();
    const QString list = fixture.writeList();
    const QString report = reportPath(fixture.dir);

    const Run run = flash(
        { QStringLiteral("--port"), sim.port(), QStringLiteral("--json"), report, list }, report);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(storedTable(sim), expectedTable(fixture.objects));
    for (const ListedObject &o : fixture.objects) {
        if (!o.stored.isEmpty())
            QCOMPARE(sim.dumpFile(QString::number(o.number) + QStringLiteral(".bin")), o.stored);
    }
    // One plain line per object, and the window's completion message.
    QCOMPARE(run.out.count(QStringLiteral(" written\n")), fixture.objects.size());
    QVERIFY2(run.out.contains(QStringLiteral("Передача успешно завершена. Передано ")),
        qPrintable(run.out));

    // The report says what the simulator stored, object by object.
    const QJsonObject port = portEntry(run.report, sim.port());
    QCOMPARE(run.report.value(QStringLiteral("exitCode")).toInt(), 0);
    QCOMPARE(port.value(QStringLiteral("exitCode")).toInt(), 0);
    QStringList stored;
    for (const QString &row : storedTable(sim)) {
        const QStringList f = row.split(QLatin1Char(' '));
        stored << QStringLiteral("%1 %2 written %3").arg(f.at(0), f.at(1), f.at(2));
    }
    QCOMPARE(reportedObjects(port), stored);
    int64_t total = 0;
    for (const ListedObject &o : fixture.objects)
        total += o.storedSize;
    QCOMPARE(port.value(QStringLiteral("bytes")).toInteger(), total);
}

void TstFlash::writeEndsEarly_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<bool>("missingFile");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("told");
    QTest::addColumn<int>("fillers");
    QTest::addColumn<int>("stored"); // objects the simulator holds afterwards

    QTest::newRow("write-protected")
        << QStringList { QStringLiteral("--protect") } << false << 6 << QStringLiteral("refused")
        << QStringLiteral("Недостаточно места для записи или замкнута "
                          "перемычка защиты от записи.")
        << 0 << 0;
    QTest::newRow("silent") << QStringList { QStringLiteral("--silent") } << false << 7
                            << QStringLiteral("no reply")
                            << QStringLiteral("Нет ответа от Тарвикса") << 5 << 1;
    // The check's answer, 2.5 s late, comes while the write waits for its first object's: it is
    // not taken for that object's acceptance, whose own refusal is later still.
    QTest::newRow("check answered late, write-protected")
        << QStringList { QStringLiteral("--protect"), QStringLiteral("--delay"),
               QStringLiteral("2500") }
        << false << 7 << QStringLiteral("no reply") << QStringLiteral("Нет ответа от Тарвикса") << 5
        << 0;
    QTest::newRow("object file missing")
        << QStringList() << true << 4 << QStringLiteral("file error")
        << QStringLiteral("Ошибка чтения файла ") << 0 << 1;
}

void TstFlash::writeEndsEarly()
{
    QFETCH(QStringList, simArgs);
    QFETCH(bool, missingFile);
    QFETCH(int, exitCode);
    QFETCH(QString, verdict);
    QFETCH(QString, told);
    QFETCH(int, fillers);
    QFETCH(int, stored);

    SimProcess sim;
    QVERIFY2(sim.start(simArgs), qPrintable(sim.error()));
    ListFixture fixture;
    fixture.addEveryType();
    // The first object stays; the second is the one that fails.
    if (missingFile) {
        fixture.objects[0] = ListedObject { 2, TypeScript,
            fixture.file(QStringLiteral("first.scr"), pattern(100, 9)), {}, {}, {}, 100 };
        fixture.objects[1] = ListedObject { 5, TypeScript,
            fixture.dir.filePath(QStringLiteral("missing.scr")), {}, {}, {}, 0 };
    }
    const QString list = fixture.writeList();
    const QString report = reportPath(fixture.dir);

    const Run run = flash(
        { QStringLiteral("--port"), sim.port(), QStringLiteral("--json"), report, list }, report);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(told), qPrintable(run.err));
    const QJsonObject port = portEntry(run.report, sim.port());
    QCOMPARE(port.value(QStringLiteral("exitCode")).toInt(), exitCode);
    const QJsonArray objects = port.value(QStringLiteral("objects")).toArray();
    QVERIFY(!objects.isEmpty());
    const QJsonObject last = objects.last().toObject();
    QCOMPARE(last.value(QStringLiteral("verdict")).toString(), verdict);
    QVERIFY2(last.value(QStringLiteral("error")).toString().contains(told),
        qPrintable(last.value(QStringLiteral("error")).toString()));
    if (missingFile) {
        QCOMPARE(objects.size(), 2);
        QCOMPARE(objects.first().toObject().value(QStringLiteral("verdict")).toString(),
            QStringLiteral("written"));
        QVERIFY(last.value(QStringLiteral("error")).toString().endsWith(fixture.objects[1].path));
    } else {
        // Nothing after the failing object was sent.
        QCOMPARE(objects.size(), 1);
    }
    QCOMPARE(storedTable(sim), expectedTable(fixture.objects.mid(0, stored)));
    QCOMPARE(fillersAfterLastUpload(sim), fillers);
}

void TstFlash::refusesToStart_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("listBytes"); // written as the list file when not empty
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");

    const QString nowhere = QStringLiteral("/nonexistent-ormelin-test/ttyNONE");
    QTest::newRow("no port") << QStringList { QStringLiteral("LIST") } << QByteArray() << 2
                             << QStringLiteral("no port given");
    QTest::newRow("no list") << QStringList { QStringLiteral("--port"), nowhere } << QByteArray()
                             << 2 << QStringLiteral("no list file given");
    QTest::newRow("port does not open")
        << QStringList { QStringLiteral("--port"), nowhere, QStringLiteral("LIST") } << QByteArray()
        << 5 << QStringLiteral("Не могу открыть порт ") + nowhere;
    QTest::newRow("list file missing")
        << QStringList { QStringLiteral("--port"), nowhere, QStringLiteral("LIST") } << QByteArray()
        << 3 << QStringLiteral("Ошибка чтения файла ");
    QTest::newRow("list file damaged")
        << QStringList { QStringLiteral("--port"), nowhere, QStringLiteral("LIST") }
        << QByteArray("not a list\r\n") << 3
        << QStringLiteral(". Файл имеет неверный формат или поврежден");
}

void TstFlash::refusesToStart()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, listBytes);
    QFETCH(int, exitCode);
    QFETCH(QString, told);

    ListFixture fixture;
    QString listPath = fixture.dir.filePath(QStringLiteral("list.orm"));
    if (QByteArray(QTest::currentDataTag()) == "port does not open") {
        fixture.objects << ListedObject { 1, TypeScript,
            fixture.file(QStringLiteral("x.scr"), pattern(10, 1)), {}, {}, {}, 10 };
        listPath = fixture.writeList();
    } else if (!listBytes.isEmpty()) {
        QVERIFY(testfiles::writeFile(listPath, listBytes));
    }
    args.replaceInStrings(QStringLiteral("LIST"), listPath);

    const QString report = reportPath(fixture.dir);
    if (exitCode != 2)
        args << QStringLiteral("--json") << report;
    const Run run = flash(args, report);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(told), qPrintable(run.err));
    // Past the options, the report is written whatever happened.
    if (exitCode != 2) {
        QCOMPARE(run.report.value(QStringLiteral("exitCode")).toInt(), exitCode);
        const QJsonArray ports = run.report.value(QStringLiteral("ports")).toArray();
        QCOMPARE(ports.size(), 1);
        QVERIFY(
            ports.first().toObject().value(QStringLiteral("outcome")).toString().contains(told));
    }
}

void TstFlash::twoPortsOneSilent()
{
    SimProcess good;
    SimProcess silent;
    QVERIFY2(good.start(), qPrintable(good.error()));
    QVERIFY2(silent.start({ QStringLiteral("--silent") }), qPrintable(silent.error()));
    ListFixture fixture;
    fixture.addEveryType();
    const QString list = fixture.writeList();
    const QString report = reportPath(fixture.dir);

    const Run run = flash({ QStringLiteral("--port"), silent.port(), QStringLiteral("--port"),
                              good.port(), QStringLiteral("--json"), report, list },
        report);
    QCOMPARE(run.exitCode, 7);
    QCOMPARE(storedTable(good), expectedTable(fixture.objects));
    const QJsonObject goodPort = portEntry(run.report, good.port());
    const QJsonObject silentPort = portEntry(run.report, silent.port());
    QCOMPARE(goodPort.value(QStringLiteral("exitCode")).toInt(), 0);
    QCOMPARE(goodPort.value(QStringLiteral("objects")).toArray().size(), fixture.objects.size());
    QCOMPARE(silentPort.value(QStringLiteral("exitCode")).toInt(), 7);
    QCOMPARE(reportedObjects(silentPort),
        QStringList { QStringLiteral("3 0 no reply %1").arg(fixture.objects[0].storedSize) });
    // The silent port held nobody up: the good one was done before the silent one gave up.
    QVERIFY(goodPort.value(QStringLiteral("seconds")).toDouble()
        < silentPort.value(QStringLiteral("seconds")).toDouble());
}

void TstFlash::commands_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("simLogged");

    QTest::newRow("check") << QStringList { QStringLiteral("--resolution"),
        QStringLiteral("480x272") }
                           << QStringList { QStringLiteral("--check") } << 0
                           << QStringLiteral("Тарвикс на связи. Разрешение экрана: 480x272")
                           << QStringLiteral("frame connection-check");
    QTest::newRow("check, silent")
        << QStringList { QStringLiteral("--silent") } << QStringList { QStringLiteral("--check") }
        << 7 << QStringLiteral("no answer to the connection check")
        << QStringLiteral("frame connection-check");
    QTest::newRow("erase") << QStringList()
                           << QStringList { QStringLiteral("--erase"), QStringLiteral("--yes") }
                           << 0 << QStringLiteral("Таблица объектов во флэш очищена")
                           << QStringLiteral("frame erase text-ok=1 result=erased");
    QTest::newRow("erase, protected")
        << QStringList { QStringLiteral("--protect") }
        << QStringList { QStringLiteral("--erase"), QStringLiteral("--yes") } << 6
        << QStringLiteral("Удаление не выполнено: флэш защищена от записи")
        << QStringLiteral("frame erase text-ok=1 result=refused");
    QTest::newRow("erase, not confirmed")
        << QStringList() << QStringList { QStringLiteral("--erase") } << 2
        << QStringLiteral("--erase needs --yes") << QString();
    QTest::newRow("output script")
        << QStringList()
        << QStringList { QStringLiteral("--output"), QStringLiteral("1319"),
               QStringLiteral("LIST") }
        << 0 << QStringLiteral("Команда на вывод объекта 1319 отправлена")
        << QStringLiteral("frame output-script number=1319");
    QTest::newRow("output font") << QStringList()
                                 << QStringList { QStringLiteral("--output"), QStringLiteral("$C"),
                                        QStringLiteral("LIST") }
                                 << 0 << QStringLiteral("Команда на вывод объекта 12 отправлена")
                                 << QStringLiteral("frame font-sample-3 text=");
    QTest::newRow("write, no object in the list")
        << QStringList() << QStringList { QStringLiteral("EMPTY") } << 3
        << QStringLiteral("Список пуст") << QStringLiteral("frame connection-check");
    QTest::newRow("output, not listed")
        << QStringList()
        << QStringList { QStringLiteral("--output"), QStringLiteral("99"), QStringLiteral("LIST") }
        << 3 << QStringLiteral("object 99 is not in the list") << QString();
}

void TstFlash::commands()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, told);
    QFETCH(QString, simLogged);

    SimProcess sim;
    QVERIFY2(sim.start(simArgs), qPrintable(sim.error()));
    ListFixture fixture;
    args.replaceInStrings(QStringLiteral("EMPTY"), fixture.writeList(QStringLiteral("empty.orm")));
    fixture.addEveryType();
    args.replaceInStrings(QStringLiteral("LIST"), fixture.writeList());
    const Run run = flash(QStringList { QStringLiteral("--port"), sim.port() } + args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? run.out : run.err).contains(told), qPrintable(run.out + run.err));
    if (!simLogged.isEmpty()) {
        const QString log = sim.log().join(QLatin1Char('\n'));
        QVERIFY2(log.contains(simLogged), qPrintable(log));
    }
}

void TstFlash::interruptClosesEveryPort()
{
    SimProcess first;
    SimProcess second;
    // At the line's own rate, so that the write is still under way when it is interrupted.
    const QStringList lineRate { QStringLiteral("--baud"), QStringLiteral("250000") };
    QVERIFY2(first.start(lineRate), qPrintable(first.error()));
    QVERIFY2(second.start(lineRate), qPrintable(second.error()));
    ListFixture fixture;
    const QByteArray big = pattern(200000, 5);
    fixture.objects << ListedObject { 1, TypeScript, fixture.file(QStringLiteral("big.scr"), big),
        {}, {}, big, int(big.size()) };
    const QString list = fixture.writeList();
    const QString report = reportPath(fixture.dir);

    QProcess process;
    startFlash(process,
        { QStringLiteral("--port"), first.port(), QStringLiteral("--port"), second.port(),
            QStringLiteral("--json"), report, list });
    QTRY_VERIFY_WITH_TIMEOUT(
        !first.log(QStringLiteral("frame")).filter(QStringLiteral("script-upload")).isEmpty()
            && !second.log(QStringLiteral("frame"))
                    .filter(QStringLiteral("script-upload"))
                    .isEmpty(),
        10000);
    ::kill(pid_t(process.processId()), SIGINT);
    const Run run = finishFlash(process, report);
    QCOMPARE(run.exitCode, 130);
    for (const SimProcess *sim : { &first, &second }) {
        const QJsonObject port = portEntry(run.report, sim->port());
        QCOMPARE(port.value(QStringLiteral("exitCode")).toInt(), 130);
        QCOMPARE(reportedObjects(port),
            QStringList { QStringLiteral("1 4 interrupted %1").arg(big.size()) });
        // Both ports were closed, and the payload was cut short: the queue was purged.
        QTRY_VERIFY_WITH_TIMEOUT(
            sim->log(QStringLiteral("close")).contains(QStringLiteral("close clients=0")), 5000);
        QVERIFY(sim->log(QStringLiteral("payload")).isEmpty());
    }
}

void TstFlash::deviceLostEndsOnlyItsPort()
{
    SimProcess lost;
    SimProcess kept;
    const QStringList lineRate { QStringLiteral("--baud"), QStringLiteral("250000") };
    QVERIFY2(lost.start(lineRate), qPrintable(lost.error()));
    QVERIFY2(kept.start(lineRate), qPrintable(kept.error()));
    ListFixture fixture;
    const QByteArray payload = pattern(60000, 6);
    fixture.objects << ListedObject { 1, TypeScript, fixture.file(QStringLiteral("a.scr"), payload),
        {}, {}, payload, int(payload.size()) };
    const QString list = fixture.writeList();
    const QString report = reportPath(fixture.dir);

    QProcess process;
    startFlash(process,
        { QStringLiteral("--port"), lost.port(), QStringLiteral("--port"), kept.port(),
            QStringLiteral("--json"), report, list });
    QTRY_VERIFY_WITH_TIMEOUT(
        !lost.log(QStringLiteral("frame")).filter(QStringLiteral("script-upload")).isEmpty(),
        10000);
    lost.stop();
    const Run run = finishFlash(process, report);
    QCOMPARE(run.exitCode, 8);
    QCOMPARE(reportedObjects(portEntry(run.report, lost.port())),
        QStringList { QStringLiteral("1 4 device lost %1").arg(payload.size()) });
    QCOMPARE(reportedObjects(portEntry(run.report, kept.port())),
        QStringList { QStringLiteral("1 4 written %1").arg(payload.size()) });
    QCOMPARE(storedTable(kept), expectedTable(fixture.objects));
    // The serial component's words for the loss end the port, not the step the write was at,
    // and no line of its own names no port.
    const QJsonObject lostEntry = portEntry(run.report, lost.port());
    const QString outcome = lostEntry.value(QStringLiteral("outcome")).toString();
    QVERIFY2(outcome.contains(QStringLiteral(" error (")), qPrintable(outcome));
    QCOMPARE(lostEntry.value(QStringLiteral("objects"))
                 .toArray()
                 .first()
                 .toObject()
                 .value(QStringLiteral("error"))
                 .toString(),
        outcome);
    QVERIFY2(run.err.contains(
                 lost.port() + QStringLiteral(": ") + outcome + QStringLiteral(" [exit 8]")),
        qPrintable(run.err));
    QVERIFY2(!run.err.contains(QStringLiteral("ormelin-flash: ")), qPrintable(run.err));
}

void TstFlash::signalAtTheEraseQuestion_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl+C") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

// The question is asked on a terminal only: input and output go to a pseudo-terminal nobody
// answers on, and the signal alone has to end the wait.
void TstFlash::signalAtTheEraseQuestion()
{
    QFETCH(int, signal);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString terminal = QString::fromLocal8Bit(::ptsname(master));
    QProcess process;
    process.setProgram(QStringLiteral(ORMELIN_FLASH));
    process.setArguments({ QStringLiteral("--port"),
        QStringLiteral("/nonexistent-ormelin-test/ttyNONE"), QStringLiteral("--erase") });
    process.setStandardInputFile(terminal);
    process.setStandardOutputFile(terminal);
    process.start();
    QByteArray asked;
    QTRY_VERIFY2_WITH_TIMEOUT(
        (asked += process.readAllStandardError()).contains("Type yes"), asked.constData(), 10000);
    ::kill(pid_t(process.processId()), signal);
    const Run run = finishFlash(process);
    ::close(master);
    QCOMPARE(run.exitCode, 130);
    QVERIFY2(run.err.contains(QStringLiteral("nothing erased")), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TstFlash)
#include "tst_flash.moc"
