#include "serial/linesettings.h"

// The kernel's termios2 with BOTHER: glibc's cfsetospeed knows only the fixed rate codes.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace ormelin::serialdetail {
namespace {

bool rateClose(unsigned actual, int wanted)
{
    // A UART receiver copes with a few per cent between the two ends; a driver that reports a
    // rate further off than that would make every byte on the wire wrong.
    return std::llabs(static_cast<long long>(actual) - wanted) * 50 <= wanted;
}

} // namespace

int writeLineSettings(int fd, const LineSettings &s)
{
    if (s.baud <= 0) // a rate of 0 would hang the line up
        return EINVAL;

    termios2 t;
    std::memset(&t, 0, sizeof t); // built from nothing, not from what the driver had
    switch (s.dataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    case 8:
        t.c_cflag |= CS8;
        break;
    default:
        return EINVAL;
    }
    switch (s.parity) {
    case LineParity::None:
        break;
    case LineParity::Odd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case LineParity::Even:
        t.c_cflag |= PARENB;
        break;
    case LineParity::Mark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case LineParity::Space:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (s.twoStopBits)
        t.c_cflag |= CSTOPB;
    if (s.rtsCtsFlow)
        t.c_cflag |= CRTSCTS;
    t.c_cflag |= CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = t.c_ospeed = static_cast<unsigned>(s.baud);

    if (s.parityCheck)
        t.c_iflag |= INPCK;
    if (s.xonXoffOut)
        t.c_iflag |= IXON;
    if (s.xonXoffIn)
        t.c_iflag |= IXOFF;
    // c_oflag and c_lflag stay 0: no output processing, no echo, no line editing, no signals.
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    t.c_cc[VMIN] = 1; // an empty non-blocking read is EAGAIN; a read of 0 means hang-up
    t.c_cc[VTIME] = 0;

    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;

    termios2 back;
    if (ioctl(fd, TCGETS2, &back) != 0)
        return errno;
    constexpr tcflag_t frameBits = CSIZE | PARENB | CSTOPB;
    const tcflag_t parityKind = (t.c_cflag & PARENB) ? (PARODD | CMSPAR) : 0;
    if ((back.c_cflag & (frameBits | parityKind)) != (t.c_cflag & (frameBits | parityKind))
        || (back.c_cflag & CRTSCTS) != (t.c_cflag & CRTSCTS) || !rateClose(back.c_ospeed, s.baud)
        || !rateClose(back.c_ispeed, s.baud))
        return EINVAL;
    return 0;
}

SavedLineSettings::SavedLineSettings() = default;
SavedLineSettings::SavedLineSettings(SavedLineSettings &&) noexcept = default;
SavedLineSettings &SavedLineSettings::operator=(SavedLineSettings &&) noexcept = default;
SavedLineSettings::~SavedLineSettings() = default;

int SavedLineSettings::take(int fd)
{
    auto t = std::make_unique<termios2>();
    if (ioctl(fd, TCGETS2, t.get()) != 0)
        return errno;
    m_settings = std::move(t);
    return 0;
}

void SavedLineSettings::restore(int fd) const
{
    if (m_settings)
        ioctl(fd, TCSETS2, m_settings.get());
}

} // namespace ormelin::serialdetail
