// ormelin-flash's own rules: the command line, the exit code of several ports, and the lines it
// prints.
#include "flash/exitcodes.h"
#include "flash/flashrun.h"
#include "flash/options.h"
#include "flash/report.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

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
    void messagesAboveTheBars_data();
    void messagesAboveTheBars();
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
    // Looked up, never opened: neither name exists.
    QTest::newRow("same port under two spellings")
        << QStringList { p, "/dev/pts/9999", p, "pts/9999", "l.orm" }
        << "port given twice: pts/9999" << write << QStringList() << 0;
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
    QTest::addColumn<double>("fraction"); // of the object on the line
    QTest::addColumn<QString>("line");
    QTest::newRow("under way")
        << 5 << 20 << false << 0 << 0.0
        << "P  [####............] 5/20  obj 9  0.50 MiB  10.2 KiB/s  left 2:30";
    // The only object, half way: the bar moves before any object is through.
    QTest::newRow("within the first object")
        << 0 << 1 << false << 0 << 0.5
        << "P  [########........] 0/1  obj 9  0.50 MiB  10.2 KiB/s  left 2:30";
    QTest::newRow("done") << 20 << 20 << true << 0 << 0.0
                          << "P  [################] 20/20  done  0.50 MiB in 0:50";
    QTest::newRow("failed") << 0 << 20 << true << 7 << 0.5
                            << "P  [................] 0/20  failed (exit 7)  0.50 MiB in 0:50";
}

void TstFlashUnits::progressLine()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(bool, finished);
    QFETCH(int, exitCode);
    QFETCH(double, fraction);
    QFETCH(QString, line);
    Progress p;
    p.objectFraction = fraction;
    p.port = QStringLiteral("P");
    p.objectsDone = done;
    p.objectsTotal = total;
    p.currentNumber = 9;
    p.bytesDone = 524288;
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
    QTest::addColumn<QString>("json");
    QTest::newRow("off a terminal") << false << true << int(ExitUsage) << 0 << QString();
    QTest::newRow("declined") << true << false << int(ExitInterrupted) << 1 << QString();
    QTest::newRow("report cannot be written") << true << true << int(ExitUsage) << 0
                                              << QStringLiteral("/nonexistent-ormelin-test/r.json");
}

// Neither way opens the port: the name cannot exist, and opening it would end with exit 5.
void TstFlashUnits::eraseAsksFirst()
{
    QFETCH(bool, terminal);
    QFETCH(bool, answer);
    QFETCH(int, exitCode);
    QFETCH(int, questions);
    QFETCH(QString, json);
    Options options;
    options.task = Task::Erase;
    options.jsonPath = json;
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

namespace {

// What a terminal shows after the bytes: lines wrap at the width, ESC[nA goes up, ESC[J clears
// from the cursor down.
QStringList screen(const QByteArray &bytes, int width)
{
    QStringList lines { QString() };
    int row = 0;
    const QString text = QString::fromUtf8(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\x1b')) {
            qsizetype end = i + 2;
            while (end < text.size() && text.at(end).isDigit())
                ++end;
            const int count = text.mid(i + 2, end - i - 2).toInt();
            if (text.at(end) == QLatin1Char('A'))
                row = std::max(0, row - count);
            else if (text.at(end) == QLatin1Char('J'))
                lines = lines.mid(0, row) << QString();
            i = end;
        } else if (c == QLatin1Char('\r')) {
            lines[row].clear();
        } else if (c == QLatin1Char('\n')) {
            if (++row == lines.size())
                lines << QString();
        } else {
            if (lines[row].size() == width && ++row == lines.size())
                lines << QString();
            lines[row] += c;
        }
    }
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

void TstFlashUnits::messagesAboveTheBars_data()
{
    QTest::addColumn<int>("width");
    // "!text" prints a message on the error stream; anything else draws bars split at '|'.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("a message survives the next redraw")
        << 80 << QStringList { "A 1|B 1", "!A: refused [exit 6]", "A 2|B 2" }
        << QStringList { "A: refused [exit 6]", "A 2", "B 2" };
    QTest::newRow("every port's message stays")
        << 80
        << QStringList { "A 1|B 1|C 1", "!A: file error [exit 4]", "A 2|B 2|C 2",
               "!C: Read error (5) [exit 8]", "A 3|B 3|C 3" }
        << QStringList { "A: file error [exit 4]", "C: Read error (5) [exit 8]", "A 3", "B 3",
               "C 3" };
    QTest::newRow("bars cut short of the width, a long message wraps")
        << 10 << QStringList { "A 123456789012|B 1", "!0123456789abc", "A 123456789012|B 2" }
        << QStringList { "0123456789", "abc", "A 1234567", "B 2" };
}

// The bars go to standard output and the messages to standard error: two streams, each with
// its own buffer, meeting on one terminal.
void TstFlashUnits::messagesAboveTheBars()
{
    QFETCH(int, width);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, shown);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray path = dir.filePath(QStringLiteral("terminal")).toLocal8Bit();
    FILE *out = std::fopen(path.constData(), "a");
    FILE *err = std::fopen(path.constData(), "a");
    QVERIFY(out && err);
    std::setvbuf(out, nullptr, _IOFBF, 4096);
    std::setvbuf(err, nullptr, _IOFBF, 4096);
    {
        BarBlock bars(out, width);
        for (const QString &step : steps) {
            if (step.startsWith(QLatin1Char('!')))
                bars.message(err, step.mid(1));
            else
                bars.draw(step.split(QLatin1Char('|')));
        }
    }
    std::fclose(out);
    std::fclose(err);
    QFile file(QString::fromLocal8Bit(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(screen(file.readAll(), width), shown);
}

QTEST_APPLESS_MAIN(TstFlashUnits)
#include "tst_flash_units.moc"
