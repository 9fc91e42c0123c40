// ormelin-flash's own rules: the command line, the exit code of several ports, and the lines it
// prints.
#include "flash/exitcodes.h"
#include "flash/flashrun.h"
#include "flash/options.h"
#include "flash/report.h"

#include <QTest>

using namespace ormelin::flash;

class TstFlashUnits : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data();
    void commandLine();
    void combinedExitCode_data();
    void combinedExitCode();
    void progressLine_data();
    void progressLine();
    void eraseAsksFirst_data();
    void eraseAsksFirst();
};

void TstFlashUnits::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error"); // a part of it; empty when the line is usable
    QTest::addColumn<int>("task");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<int>("outputNumber");

    const QString p = QStringLiteral("--port");
    const int write = int(Task::Write), check = int(Task::Check), erase = int(Task::Erase),
              output = int(Task::Output);
    QTest::newRow("write, two ports") << QStringList { p, "A", p, "B", "l.orm" } << QString()
                                      << write << QStringList { "A", "B" } << 0;
    QTest::newRow("no port") << QStringList { "l.orm" } << "no port given" << write << QStringList()
                             << 0;
    QTest::newRow("same port twice") << QStringList { p, "A", p, "A", "l.orm" }
                                     << "port given twice: A" << write << QStringList() << 0;
    QTest::newRow("empty port") << QStringList { "--port=", "l.orm" } << "needs a device name"
                                << write << QStringList() << 0;
    QTest::newRow("two lists") << QStringList { p, "A", "a.orm", "b.orm" } << "more than one list"
                               << write << QStringList() << 0;
    QTest::newRow("check") << QStringList { p, "A", "--check" } << QString() << check
                           << QStringList { "A" } << 0;
    QTest::newRow("check with a list") << QStringList { p, "A", "--check", "l.orm" }
                                       << "take no list" << check << QStringList() << 0;
    QTest::newRow("erase") << QStringList { p, "A", "--erase", "--yes" } << QString() << erase
                           << QStringList { "A" } << 0;
    QTest::newRow("output, hexadecimal") << QStringList { p, "A", "--output", "$1F", "l.orm" }
                                         << QString() << output << QStringList { "A" } << 31;
    QTest::newRow("output, not a number")
        << QStringList { p, "A", "--output", "1 ", "l.orm" } << "needs an object number" << output
        << QStringList() << 0;
    QTest::newRow("check and erase") << QStringList { p, "A", "--check", "--erase" }
                                     << "exclude each other" << check << QStringList() << 0;
    QTest::newRow("unknown option")
        << QStringList { p, "A", "--fast", "l.orm" } << "fast" << write << QStringList() << 0;
}

void TstFlashUnits::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QFETCH(int, task);
    QFETCH(QStringList, ports);
    QFETCH(int, outputNumber);

    const ParsedCommandLine parsed = parseCommandLine(QStringList { "ormelin-flash" } + args);
    if (!error.isEmpty()) {
        QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
        return;
    }
    QCOMPARE(parsed.error, QString());
    QCOMPARE(int(parsed.options.task), task);
    QCOMPARE(parsed.options.ports, ports);
    QCOMPARE(parsed.options.outputNumber, outputNumber);
}

void TstFlashUnits::combinedExitCode_data()
{
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<int>("combined");
    QTest::newRow("all written") << QList<int> { 0, 0 } << 0;
    QTest::newRow("one refused") << QList<int> { 0, 6 } << 6;
    QTest::newRow("no reply over refused") << QList<int> { 6, 7, 0 } << 7;
    QTest::newRow("port over object") << QList<int> { 4, 5 } << 5;
    QTest::newRow("interrupted over all") << QList<int> { 5, 130, 8 } << 130;
    QTest::newRow("unknown still fails") << QList<int> { 0, 42 } << 42;
}

void TstFlashUnits::combinedExitCode()
{
    QFETCH(QList<int>, codes);
    QFETCH(int, combined);
    QCOMPARE(ormelin::flash::combinedExitCode(codes), combined);
}

void TstFlashUnits::progressLine_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");
    QTest::newRow("under way")
        << 5 << 20 << false << 0
        << "P  [####............] 5/20  obj 9  0.50 MB  10.0 kB/s  left 2:30";
    QTest::newRow("done") << 20 << 20 << true << 0
                          << "P  [################] 20/20  done  0.50 MB in 0:50";
    QTest::newRow("failed") << 0 << 20 << true << 7
                            << "P  [................] 0/20  failed (exit 7)  0.50 MB in 0:50";
}

void TstFlashUnits::progressLine()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(bool, finished);
    QFETCH(int, exitCode);
    QFETCH(QString, line);
    Progress p;
    p.port = QStringLiteral("P");
    p.objectsDone = done;
    p.objectsTotal = total;
    p.currentNumber = 9;
    p.bytesDone = 500000;
    p.seconds = 50;
    p.secondsLeft = 150;
    p.finished = finished;
    p.exitCode = exitCode;
    QCOMPARE(ormelin::flash::progressLine(p, 200), line);
    QCOMPARE(ormelin::flash::progressLine(p, 10), line.left(10));
}

void TstFlashUnits::eraseAsksFirst_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("questions");
    QTest::newRow("off a terminal") << false << true << int(ExitUsage) << 0;
    QTest::newRow("declined") << true << false << int(ExitInterrupted) << 1;
}

// Neither way opens the port: the name cannot exist, and opening it would end with exit 5.
void TstFlashUnits::eraseAsksFirst()
{
    QFETCH(bool, terminal);
    QFETCH(bool, answer);
    QFETCH(int, exitCode);
    QFETCH(int, questions);
    Options options;
    options.task = Task::Erase;
    options.ports = QStringList { QStringLiteral("/nonexistent-ormelin-test/ttyNONE") };
    QStringList asked;
    Console console;
    console.out = console.err = stderr;
    console.terminal = terminal;
    console.confirm = [&](const QString &question) {
        asked << question;
        return answer;
    };
    FlashRun run(options, console);
    QCOMPARE(run.exec(), exitCode);
    QCOMPARE(asked.size(), questions);
    if (questions > 0)
        QVERIFY(asked.first().contains(options.ports.first()));
}

QTEST_APPLESS_MAIN(TstFlashUnits)
#include "tst_flash_units.moc"
