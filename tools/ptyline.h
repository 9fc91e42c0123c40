#pragma once
// The simulator's end of the line: a pseudo-terminal pair whose slave is the port the program
// opens. Kept in its own file because the kernel's termios2 header, needed for a rate such as
// 250000 that has no B-constant, cannot share a translation unit with <termios.h>.
#include <string>

namespace tarviks {

struct PtyPair
{
    int master = -1;
    int slave = -1; // held open by the simulator itself, see openControllerPty
    std::string slavePath;
};

inline constexpr unsigned kControllerBaud = 250000;

// Opens the pair with the master non-blocking, and sets the slave raw with the controller's line
// settings: 250000 bit/s, 8 data bits, no parity, 2 stop bits, no flow control. Returns false
// with a text in `error` on failure, closing whatever it opened.
bool openControllerPty(PtyPair &pty, std::string &error);
void closePty(PtyPair &pty);

// What a serial port's last close does: clears the exclusive mode a client set (TIOCEXCL is a
// property of the terminal, which the simulator's own descriptor keeps alive, so it would
// otherwise refuse the client's next open) and discards input nobody read.
void releasePort(const PtyPair &pty);

} // namespace tarviks
