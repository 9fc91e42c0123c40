#pragma once
// A pseudo-terminal pair for serial tests: the component under test opens the slave by its path
// (/dev/pts/N) as it would a serial port, and the test plays the device on the master side.
// Closing the master is a device that goes away. Waits are poll() with a deadline, never sleeps.
//
// The kernel's termios2 comes with this header (TCGETS2 on the master reads the settings the
// slave's driver holds); a file that includes it cannot include <termios.h> as well.
#include <QByteArray>
#include <QString>

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

class PtyPair
{
public:
    PtyPair()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            closeMaster();
            return;
        }
        char name[128];
        if (::ptsname_r(m_master, name, sizeof name) != 0) {
            closeMaster();
            return;
        }
        m_slavePath = QString::fromLocal8Bit(name);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;
    ~PtyPair() { closeMaster(); }

    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // The device goes away: the slave side hangs up.
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    // Bytes the slave has sent that the master can read now.
    int available() const
    {
        int n = 0;
        return ::ioctl(m_master, FIONREAD, &n) == 0 ? n : -1;
    }

    // Reads until n bytes have come or the timeout has passed; returns what came.
    QByteArray read(qsizetype n, std::chrono::milliseconds timeout)
    {
        QByteArray out;
        out.reserve(n);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char buffer[65536];
        while (out.size() < n) {
            const ssize_t r
                = ::read(m_master, buffer, std::min<size_t>(sizeof buffer, size_t(n - out.size())));
            if (r > 0) {
                out.append(buffer, r);
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && errno != EAGAIN)
                break; // EIO: no slave open
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p { m_master, POLLIN, 0 };
            ::poll(&p, 1, int(left.count()) + 1);
        }
        return out;
    }

    // Reads until `marker` has come or the timeout has passed; returns everything read.
    QByteArray readThrough(const QByteArray &marker, std::chrono::milliseconds timeout)
    {
        QByteArray out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!out.contains(marker)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            const QByteArray first = read(1, left);
            if (first.isEmpty())
                break;
            out += first;
            out += read(std::max(0, available()), std::chrono::milliseconds(0));
        }
        return out;
    }

    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t r = ::write(m_master, bytes.constData() + done, bytes.size() - done);
            if (r > 0) {
                done += r;
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && errno != EAGAIN)
                return false;
            pollfd p { m_master, POLLOUT, 0 };
            if (::poll(&p, 1, 5000) <= 0)
                return false;
        }
        return true;
    }

    // The slave's settings as its driver holds them.
    termios2 slaveSettings() const
    {
        termios2 t;
        std::memset(&t, 0, sizeof t);
        ::ioctl(m_master, TCGETS2, &t);
        return t;
    }

private:
    int m_master = -1;
    QString m_slavePath;
};
