#pragma once
// The port's descriptor and the few driver calls the component makes on it. Every function
// returns 0 or the error code; turning codes into messages is the component's business.
#include "serial/linesettings.h"

#include <QString>

#include <memory>

namespace ormelin::serialdetail {

// A descriptor with one owner.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(other.release())
    {
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// An open serial device held by this process alone: an exclusive lock on the device node, which
// holds against every other opener, root included, and the terminal's own exclusive mode on top.
// Dropping it gives both up and closes the descriptor; it does not flush, so a caller that does
// not want a close to wait for queued output flushes first. Until keepSettings() is called,
// dropping it also puts back the terminal settings it found: an open that fails half way leaves
// the device as it was.
class PosixPort
{
public:
    // Throws EVaCommError ("not found" or "can't open", shownName in the text).
    static std::unique_ptr<PosixPort> open(const QString &path, const QString &shownName);
    ~PosixPort();

    int fd() const { return m_fd.get(); }
    // The port is in use with the settings it now has; they stay when it is closed.
    void keepSettings() { m_keepSettings = true; }

private:
    PosixPort(UniqueFd fd, SavedLineSettings found)
        : m_fd(std::move(fd))
        , m_found(std::move(found))
    {
    }
    UniqueFd m_fd;
    SavedLineSettings m_found;
    bool m_keepSettings = false;
};

// Sets (on) or clears the given TIOCM_* lines. A device without modem lines (a
// pseudo-terminal) answers 0: there is nothing to change.
int setModemLines(int fd, int lines, bool on);
// Bytes received and waiting to be read.
int bytesWaiting(int fd, int &count);
// Bytes the driver still holds for sending. A driver that cannot tell answers 0 with count 0.
int bytesUnsent(int fd, int &count);
// Whether the transmitter itself has sent its last bit, where the driver can tell (a UART's
// shift register); true where it cannot.
bool transmitterIdle(int fd);
// Drops everything received and not read and everything written and not yet sent.
int flushBoth(int fd);
// Reads without waiting: got is 0 when nothing is there or the line has hung up.
int readNow(int fd, void *dest, int count, int &got);

} // namespace ormelin::serialdetail
