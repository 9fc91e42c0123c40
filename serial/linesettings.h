#pragma once
// Line settings as the driver takes them. Kept in their own file because the kernel's termios2
// header, which alone can set a rate like 250000 baud, cannot share a file with <termios.h>.
#include <cstdint>
#include <memory>

struct termios2;

namespace ormelin::serialdetail {

enum class LineParity { None, Odd, Even, Mark, Space };

struct LineSettings
{
    int baud = 0; // bit/s, any rate the driver can make
    int dataBits = 8; // 5..8
    LineParity parity = LineParity::None;
    bool twoStopBits = false;
    bool parityCheck = false; // drop received bytes with parity errors
    bool xonXoffOut = false; // stop sending on XOFF
    bool xonXoffIn = false; // send XOFF/XON as the input queue fills and empties
    std::uint8_t xonChar = 17;
    std::uint8_t xoffChar = 19;
    bool rtsCtsFlow = false;
};

// Writes the settings in one call (raw bytes both ways, reads that return what is there, a read
// of nothing meaning the line hung up) and reads them back. Returns 0, or the error code that
// says why the port does not run with them: a setting the driver silently changed (a rate it
// cannot make within 2 %, a frame it cannot send) is EINVAL.
int writeLineSettings(int fd, const LineSettings &settings);

// A terminal's settings as they were found, to be put back when an open goes no further after
// changing them: a device the program could not use is left as it was, not half configured.
class SavedLineSettings
{
public:
    SavedLineSettings();
    SavedLineSettings(SavedLineSettings &&) noexcept;
    SavedLineSettings &operator=(SavedLineSettings &&) noexcept;
    ~SavedLineSettings();

    // Reads the settings; 0, or the error code (ENOTTY for anything but a terminal).
    int take(int fd);
    // Writes back what take() read; nothing if it read nothing.
    void restore(int fd) const;

private:
    std::unique_ptr<termios2> m_settings;
};

} // namespace ormelin::serialdetail
