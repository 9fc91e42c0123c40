#pragma once
// Object files that are not regular files, for the tests of bad input from the disk: FIFOs,
// sockets, folders and files gone by the time they are read; and the rescue that keeps a reader
// stuck in a FIFO's open() from hanging the test run.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace oddfiles {

// A listening Unix socket bound at a path, for as long as it lives.
class SocketFile
{
public:
    explicit SocketFile(const QString &path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        if (m_fd < 0 || name.size() >= qsizetype(sizeof address.sun_path))
            return;
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        m_ok = ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
            && ::listen(m_fd, 1) == 0;
    }
    ~SocketFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_ok; }

private:
    int m_fd = -1;
    bool m_ok = false;
};

// A file system object of the given kind ("folder", "fifo", "removed": named in a list, gone by
// the time of the write) at `path`: the path, or nothing when it could not be made.
inline QString make(const QString &kind, const QString &path)
{
    if (kind == QLatin1String("folder")) {
        if (!QDir().mkpath(path))
            return {};
    } else if (kind == QLatin1String("fifo")) {
        if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
            return {};
    } else if (kind == QLatin1String("removed")) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write("gone") != 4)
            return {};
        f.close();
        f.remove();
    }
    return path;
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

} // namespace oddfiles
