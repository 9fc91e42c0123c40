#pragma once
// Test helpers around the controller simulator:
//  - SimProcess runs tarviks-sim (found through simpath.h) with a log and a dump directory in a
//    temporary directory of its own, and reads both;
//  - PtyClient opens the simulator's port the plain way (raw termios, non-blocking) and collects
//    what arrives, for tests that want the line without the program's serial component.
// The log and dump formats are described at the top of tools/simcore.h.
#include "simpath.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

class SimProcess
{
public:
    // How the simulator is started. QProcess forks the test process, which ThreadSanitizer does
    // not support in a multi-threaded process; the link tests, which run under it, spawn the
    // simulator with posix_spawn instead. process() belongs to the QProcess way only.
    enum class Launch { QtProcess, Spawn };

    explicit SimProcess(Launch launch = Launch::QtProcess)
        : m_launch(launch)
    {
    }
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    ~SimProcess() { stop(); }

    static QString program() { return QFile::decodeName(simulatorPath()); }

    // Starts the simulator with `args` plus --log and --dump (unless turned off; and --baud 0
    // unless the arguments name a rate), and waits for the port line. False, with the reason in
    // error(), on failure.
    bool start(QStringList args = {})
    {
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("no temporary directory");
            return false;
        }
        if (!args.contains(QStringLiteral("--baud")))
            args << QStringLiteral("--baud") << QStringLiteral("0");
        args << QStringLiteral("--log") << logPath();
        if (m_dump)
            args << QStringLiteral("--dump") << dumpDir();
        return m_launch == Launch::Spawn ? spawn(args) : startProcess(args);
    }

    // SIGTERM and the exit status; -1 if it did not end in time or crashed.
    int stop()
    {
        if (m_launch == Launch::QtProcess) {
            if (m_process.state() == QProcess::NotRunning)
                return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
            m_process.terminate();
            if (!m_process.waitForFinished(10000)) {
                m_process.kill();
                m_process.waitForFinished(10000);
                return -1;
            }
            return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        }
        if (m_pid <= 0)
            return m_exitCode;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        if (!reap(status, 10000)) {
            ::kill(m_pid, SIGKILL);
            reap(status, 10000);
            m_exitCode = -1;
        } else {
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        m_pid = -1;
        return m_exitCode;
    }

    // Without the dump, the simulator writes no object files (call before start).
    void setDump(bool on) { m_dump = on; }

    // The simulator dies at once, as a controller that loses power: no goodbye, its end of the
    // line simply closes.
    void kill()
    {
        if (m_launch == Launch::QtProcess) {
            m_process.kill();
            m_process.waitForFinished(10000);
            return;
        }
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        int status = 0;
        reap(status, 10000);
        m_pid = -1;
        m_exitCode = -1;
    }

    qint64 pid() const { return m_launch == Launch::QtProcess ? m_process.processId() : m_pid; }

    // Bytes the simulator has read so far (its rchar: every read, those of its own start-up
    // included); -1 when it cannot be told.
    qint64 bytesRead() const
    {
        QFile io(QStringLiteral("/proc/%1/io").arg(pid()));
        if (!io.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : io.readAll().split('\n')) {
            if (line.startsWith("rchar:"))
                return line.mid(6).trimmed().toLongLong();
        }
        return -1;
    }

    QProcess &process() { return m_process; }
    QString error() const { return m_error; }
    QString port() const { return m_port; }
    QString dir() const { return m_dir.path(); }
    QString logPath() const { return m_dir.filePath(QStringLiteral("sim.log")); }
    QString dumpDir() const { return m_dir.filePath(QStringLiteral("dump")); }

    // Log lines without their timestamps; with `kind`, only lines of that kind ("frame",
    // "payload", "reply", "filler", "garbage", "junk", ...).
    QStringList log(const QString &kind = {}) const
    {
        QStringList lines;
        for (const auto &[time, text] : timedLog(kind)) {
            Q_UNUSED(time)
            lines << text;
        }
        return lines;
    }

    // Log lines with their timestamps in seconds.
    QList<std::pair<double, QString>> timedLog(const QString &kind = {}) const
    {
        QList<std::pair<double, QString>> lines;
        QFile f(logPath());
        if (!f.open(QIODevice::ReadOnly))
            return lines;
        QList<QByteArray> all = f.readAll().split('\n');
        all.removeLast(); // empty, or a line still being written
        for (const QByteArray &raw : all) {
            const qsizetype blank = raw.indexOf(' ');
            if (blank > 0) {
                const QString text = QString::fromUtf8(raw.mid(blank + 1));
                if (kind.isEmpty() || text.section(QLatin1Char(' '), 0, 0) == kind)
                    lines.append({ raw.left(blank).toDouble(), text });
            }
        }
        return lines;
    }

    QByteArray dumpFile(const QString &name) const
    {
        QFile f(dumpDir() + QLatin1Char('/') + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    bool startProcess(const QStringList &args)
    {
        m_process.setProgram(program());
        m_process.setArguments(args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A test that crashes or is killed by its timeout takes its simulator with it.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            m_error = QStringLiteral("cannot start ") + program();
            return false;
        }
        QDeadlineTimer deadline(10000);
        QByteArray out;
        while (!out.contains('\n') && !deadline.hasExpired()) {
            if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
                break;
            out += m_process.readAllStandardOutput();
        }
        const QByteArray line = out.left(out.indexOf('\n'));
        if (!line.startsWith("port: ")) {
            m_error = QStringLiteral("no port line, got: ") + QString::fromUtf8(out);
            return false;
        }
        m_port = QString::fromUtf8(line.mid(6));
        return true;
    }

    bool spawn(const QStringList &args)
    {
        if (m_pid > 0) {
            m_error = QStringLiteral("already started");
            return false;
        }
        std::vector<QByteArray> storage { QFile::encodeName(program()) };
        for (const QString &a : args)
            storage.push_back(a.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &a : storage)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            m_error = QStringLiteral("no pipe");
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const int spawned = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (spawned != 0) {
            ::close(out[0]);
            m_pid = -1;
            m_error = QStringLiteral("cannot start ") + program();
            return false;
        }

        // The first line names the port; the simulator writes nothing more to its output.
        QDeadlineTimer deadline(10000);
        QByteArray text;
        while (!text.contains('\n') && !deadline.hasExpired()) {
            pollfd p { out[0], POLLIN, 0 };
            if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
                continue;
            char buffer[512];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, n);
        }
        ::close(out[0]);
        const QByteArray line = text.left(text.indexOf('\n'));
        if (!line.startsWith("port: ")) {
            m_error = QStringLiteral("no port line, got: ") + QString::fromUtf8(text);
            return false;
        }
        m_port = QString::fromUtf8(line.mid(6));
        return true;
    }

    // Waits up to `ms` for the simulator to end, without running the event loop.
    bool reap(int &status, int ms)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid || (r < 0 && errno != EINTR))
                return r == m_pid;
            if (deadline.hasExpired())
                return false;
            const timespec pause { 0, 2000000 };
            ::nanosleep(&pause, nullptr);
        }
    }

    Launch m_launch;
    QTemporaryDir m_dir;
    QProcess m_process;
    pid_t m_pid = -1;
    int m_exitCode = -1;
    QString m_port;
    QString m_error;
    bool m_dump = true;
};

class PtyClient
{
public:
    PtyClient() = default;
    PtyClient(const PtyClient &) = delete;
    PtyClient &operator=(const PtyClient &) = delete;
    ~PtyClient() { close(); }

    bool open(const QString &path)
    {
        close();
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return false;
        termios t {};
        if (tcgetattr(m_fd, &t) != 0) {
            close();
            return false;
        }
        cfmakeraw(&t);
        if (tcsetattr(m_fd, TCSANOW, &t) != 0) {
            close();
            return false;
        }
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(
            m_notifier.get(), &QSocketNotifier::activated, [this] { readAvailable(); });
        return true;
    }

    void close()
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (n > 0)
                done += n;
            else
                waitWritable();
        }
        return true;
    }

    QSocketNotifier *notifier() const { return m_notifier.get(); }
    int fd() const { return m_fd; }

    QByteArray received;
    int reads = 0;

private:
    void readAvailable()
    {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(m_fd, buf, sizeof buf)) > 0) {
            received.append(buf, n);
            ++reads;
        }
    }

    void waitWritable()
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_fd, &set);
        timeval limit { 1, 0 };
        ::select(m_fd + 1, nullptr, &set, nullptr, &limit);
    }

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
