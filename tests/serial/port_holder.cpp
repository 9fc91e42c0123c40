// Holds a serial device the way another program would: opens it, takes the exclusive lock, says
// "held" and keeps it until its standard input closes.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 3;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return 4;
    if (::write(1, "held\n", 5) != 5)
        return 5;
    char c;
    while (::read(0, &c, 1) > 0) { }
    return 0;
}
