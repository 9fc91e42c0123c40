// The program as the operator starts it: the real executable, ended by the system, and its
// command line. The program looks port names up in the system's /dev, so a run here names its
// port by a full path that cannot exist.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "objlist/listfile.h"
#include "objlist/objectlist.h"

#include <csignal>

namespace {
// True once the process catches the signal (its handler is installed).
bool catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}
} // namespace

class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    // Being told to end (logout, shutdown, kill) runs the window's shutdown: the settings file is
    // written and the program exits normally.
    void endsCleanlyOnTerminationSignals_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void endsCleanlyOnTerminationSignals()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        ormelin::ObjectList list;
        list.setCell(1, ormelin::ColNumber, QStringLiteral("1"));
        const QString listPath = dir.filePath(QStringLiteral("list.orm"));
        QVERIFY(ormelin::listfile::write(listPath, list));

        QProcess program;
        program.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        program.setProcessEnvironment(env);
        program.setProgram(QStringLiteral(ORMELIN_BIN));
        program.setArguments({ "--port", dir.filePath(QStringLiteral("no-port")) });
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start();
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), signal), 10000);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("ormelin.ini"))));
        ::kill(pid_t(program.processId()), signal);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("ormelin.ini"))));
    }

    // Answers that end the program at once, before any window or port; they need no display.
    void answersWithoutAWindow_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("help") << "--help" << 0 << "--port <ИМЯ>";
        QTest::newRow("version") << "--version" << 0 << "Ормелин 1.0\n";
        QTest::newRow("unknown option") << "--speed" << 2 << "Unknown option 'speed'.";
        QTest::newRow("port without a name") << "--port" << 2 << "Missing value after '--port'.";
    }
    void answersWithoutAWindow()
    {
        QFETCH(QString, argument);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *display : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
            env.remove(QString::fromLatin1(display));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(ORMELIN_BIN), { argument });
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), exitCode);
        const QString out = QString::fromUtf8(
            exitCode ? program.readAllStandardError() : program.readAllStandardOutput());
        QVERIFY2(
            out.startsWith(output) || (exitCode == 0 && out.contains(output)), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
