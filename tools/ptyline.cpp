#include "tools/ptyline.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tarviks {
namespace {

std::string failed(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

bool openControllerPty(PtyPair &pty, std::string &error)
{
    pty = {};
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0) {
        error = failed("posix_openpt");
        return false;
    }
    const char *name = nullptr;
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 || !(name = ptsname(pty.master))) {
        error = failed("preparing the pseudo-terminal");
        closePty(pty);
        return false;
    }
    pty.slavePath = name;
    // The simulator keeps a slave descriptor of its own for its whole run. Without it, every
    // time the program closes the port the master would report a hang-up (POLLHUP, reads failing
    // with EIO) until the next open, and the line settings would fall back to the defaults. It
    // is never locked and never read, so the program's flock and exclusive mode work as usual.
    pty.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0) {
        error = failed("opening the slave");
        closePty(pty);
        return false;
    }

    struct termios2 line
    {
    };
    if (ioctl(pty.slave, TCGETS2, &line) != 0) {
        error = failed("reading the line settings");
        closePty(pty);
        return false;
    }
    line.c_iflag = 0;
    line.c_oflag = 0;
    line.c_lflag = 0;
    line.c_cflag = BOTHER | CS8 | CSTOPB | CREAD | CLOCAL;
    line.c_ispeed = kControllerBaud;
    line.c_ospeed = kControllerBaud;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (ioctl(pty.slave, TCSETS2, &line) != 0) {
        error = failed("setting the line");
        closePty(pty);
        return false;
    }

    const int flags = fcntl(pty.master, F_GETFL);
    if (flags < 0 || fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = failed("making the master non-blocking");
        closePty(pty);
        return false;
    }
    return true;
}

void releasePort(const PtyPair &pty)
{
    if (pty.slave < 0)
        return;
    ioctl(pty.slave, TIOCNXCL);
    ioctl(pty.slave, TCFLSH, TCIFLUSH);
}

void closePty(PtyPair &pty)
{
    if (pty.slave >= 0)
        close(pty.slave);
    if (pty.master >= 0)
        close(pty.master);
    pty.slave = pty.master = -1;
}

} // namespace tarviks
