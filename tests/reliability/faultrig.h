#pragma once
// The device link as the window wires it (real TVaComm, ObjectList, DeviceLink, FakeOperator)
// against a simulator that can be killed and started again on the same port path, the way a
// controller is unplugged and plugged back in. Also the measures the fault tests take: the
// process's CPU time while its event loop runs, how far the simulator has read, and the wait
// for a FIFO that a blocked open would need rescuing from.
#include "common/failure.h"
#include "eventwait.h"
#include "fakeoperator.h"
#include "link/devicelink.h"
#include "link_simprocess.h"
#include "objlist/objectlist.h"
#include "serial/vacomm.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace reliability {

// CPU seconds the whole process (every thread) used while its event loop ran for `window`, as
// the program's loop runs between events. A spin check, not a speed measure.
inline double cpuSecondsWhileRunning(std::chrono::milliseconds window)
{
    const double before = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(window, &loop, &QEventLoop::quit);
    loop.exec();
    return cpuSeconds() - before;
}

// Bytes a process has read so far (its rchar: every read, those of its own start-up included);
// -1 when it cannot be told.
inline qint64 bytesReadBy(qint64 pid)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

inline QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return bytes;
}

inline QString completion(qint64 kilobytes)
{
    return QStringLiteral("Передача успешно завершена. Передано %1 кБайт.").arg(kilobytes);
}

// Opens the write end of a FIFO after `patience`, and then whenever a reader is there, until
// dismissed, so that a reader stuck in open() gets out (and then reads an empty file) instead of
// hanging the test run. rescued() tells whether it had to.
class FifoRescue
{
public:
    // `alsoOnRescue` runs on the rescuing thread once it has acted: a test holding a writer of
    // its own closes it there, so that a reader stuck in read() sees the end of the file too.
    FifoRescue(const QString &fifoPath, std::chrono::milliseconds patience,
        std::function<void()> alsoOnRescue = {})
        : m_path(QFile::encodeName(fifoPath))
        , m_alsoOnRescue(std::move(alsoOnRescue))
        , m_thread([this, patience] { run(patience); })
    {
    }
    ~FifoRescue() { dismiss(); }
    FifoRescue(const FifoRescue &) = delete;
    FifoRescue &operator=(const FifoRescue &) = delete;

    void dismiss()
    {
        {
            std::lock_guard lock(m_lock);
            m_dismissed = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    bool rescued() const { return m_rescued.load(); }

private:
    void run(std::chrono::milliseconds patience)
    {
        std::unique_lock lock(m_lock);
        if (m_changed.wait_for(lock, patience, [this] { return m_dismissed; }))
            return;
        // Only a reader that is there can be rescued: without one, a non-blocking open for
        // writing fails. Looked for again and again, since a reader may come back for more.
        while (!m_dismissed) {
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_rescued = true;
                ::close(fd);
                if (m_alsoOnRescue)
                    m_alsoOnRescue();
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(20));
        }
    }

    QByteArray m_path;
    std::function<void()> m_alsoOnRescue;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_dismissed = false;
    std::atomic<bool> m_rescued { false };
    std::thread m_thread;
};

// The scripted operator, with the moment of every message on the simulator log's clock.
class TimedOperator : public FakeOperator
{
public:
    QList<double> messageTimes;
    void showMessage(const QString &text) override
    {
        FakeOperator::showMessage(text);
        messageTimes << monotonicSeconds();
    }
};

} // namespace reliability

class FaultRig
{
public:
    FaultRig()
    {
        ormelin::configureCommForTarviks(comm);
        ormelin::setFailureHandler([this](const QString &text) { failures << text; });
    }
    ~FaultRig() { ormelin::setFailureHandler({}); }
    FaultRig(const FaultRig &) = delete;
    FaultRig &operator=(const FaultRig &) = delete;

    // The port's stable name: a link the simulator makes to whatever pseudo-terminal it has.
    QString portPath() const { return dir.filePath(QStringLiteral("ttyTarviks")); }

    // A new simulator on the port path (--baud 0 unless the arguments name a rate).
    bool startSim(QStringList args = {})
    {
        sim = std::make_unique<SimProcess>();
        args << QStringLiteral("--link") << portPath();
        if (!sim->start(args)) {
            qWarning().noquote() << sim->error();
            return false;
        }
        return true;
    }

    // The simulator dies at once, as a controller that loses power: no goodbye, its end of the
    // line simply closes.
    void killSim()
    {
        sim->process().kill();
        sim->process().waitForFinished(10000);
    }

    // The port box's selection, under the failure guard as the window runs it.
    void selectPort()
    {
        ormelin::guarded([this] { link.selectPort(portPath()); });
    }

    // Selects the port and waits for the controller's answer to the connection check.
    bool connect(int ms = 10000)
    {
        ui.connected = false;
        selectPort();
        return QTest::qWaitFor([this] { return ui.connected; }, ms);
    }

    void writeToFlash()
    {
        ormelin::guarded([this] { link.writeToFlash(); });
    }

    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    void setRow(int row, const QString &number, int type, const QString &path,
        const QString &width = {}, const QString &height = {})
    {
        using namespace ormelin;
        if (list.rowCount() <= row)
            list.setRowCount(row + 1);
        list.setCell(row, ColNumber, number);
        list.setCell(row, ColType, objectTypeTexts().at(type));
        list.setCell(row, ColWidth, width);
        list.setCell(row, ColHeight, height);
        list.setCell(row, ColFile, path);
    }

    // The object numbers of the upload frames the simulator received, in order.
    QList<int> uploadedNumbers() const
    {
        QList<int> numbers;
        for (const QString &line : sim->log(QStringLiteral("frame"))) {
            if (line.contains(QLatin1String("-upload ")))
                numbers << line.section(QStringLiteral("number="), 1)
                               .section(QLatin1Char(' '), 0, 0)
                               .toInt();
        }
        return numbers;
    }

    // Upload frame, payload, filler and reply lines of the simulator's log from the first upload
    // frame on, each as its kind.
    QStringList uploadTraffic() const
    {
        QStringList out;
        for (const QString &line : sim->log()) {
            const QString kind = line.section(QLatin1Char(' '), 0, 0);
            const bool upload
                = kind == QLatin1String("frame") && line.contains(QLatin1String("-upload "));
            if (upload
                || (!out.isEmpty()
                    && (kind == QLatin1String("payload") || kind == QLatin1String("reply")
                        || kind == QLatin1String("filler"))))
                out << kind;
        }
        return out;
    }

    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;
    reliability::TimedOperator ui;
    ormelin::ObjectList list;
    ormelin::TVaComm comm;
    ormelin::DeviceLink link { comm, list, ui };
    QStringList failures;
};
