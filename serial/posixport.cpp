#include "serial/posixport.h"

#include "common/filepath.h"
#include "serial/commerror.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace ormelin::serialdetail {

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

std::unique_ptr<PosixPort> PosixPort::open(const QString &path, const QString &shownName)
{
    const QByteArray encoded = encodedPath(path);
    UniqueFd fd(::open(encoded.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        throw openError(shownName, errno);

    // Taken before any setting is touched, so that a second opener never disturbs the first.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        throw openError(shownName, err == EWOULDBLOCK ? EBUSY : err);
    }
    // Anything but a terminal would take the written bytes as data to keep (a file, a disk).
    SavedLineSettings found;
    if (const int err = found.take(fd.get()))
        throw openError(shownName, err);
    // Stops other openers that do not take the lock (but not root, hence the lock above).
    if (::ioctl(fd.get(), TIOCEXCL) != 0 && errno != ENOTTY)
        throw openError(shownName, errno);
    return std::unique_ptr<PosixPort>(new PosixPort(std::move(fd), std::move(found)));
}

PosixPort::~PosixPort()
{
    if (!m_keepSettings)
        m_found.restore(m_fd.get());
    // Exclusive mode outlives the descriptor on a pseudo-terminal whose other end stays open:
    // without this, the next non-root open of the same device would be refused.
    ::ioctl(m_fd.get(), TIOCNXCL);
}

int setModemLines(int fd, int lines, bool on)
{
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &lines) == 0)
        return 0;
    const int err = errno;
    return (err == ENOTTY || err == EINVAL) ? 0 : err;
}

int bytesWaiting(int fd, int &count)
{
    count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? 0 : errno;
}

int bytesUnsent(int fd, int &count)
{
    count = 0;
    if (::ioctl(fd, TIOCOUTQ, &count) == 0)
        return 0;
    const int err = errno;
    return (err == ENOTTY || err == EINVAL) ? 0 : err;
}

bool transmitterIdle(int fd)
{
    unsigned int lsr = 0;
    if (::ioctl(fd, TIOCSERGETLSR, &lsr) != 0)
        return true;
    return (lsr & TIOCSER_TEMT) != 0;
}

int flushBoth(int fd)
{
    return ::tcflush(fd, TCIOFLUSH) == 0 ? 0 : errno;
}

int readNow(int fd, void *dest, int count, int &got)
{
    got = 0;
    for (;;) {
        const ssize_t r = ::read(fd, dest, static_cast<size_t>(count));
        if (r >= 0) {
            got = static_cast<int>(r);
            return 0;
        }
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : errno;
    }
}

} // namespace ormelin::serialdetail
