// ormelin-flash: the list written to the Тарвикс from the command line, one link per port.
#include "common/terminationsignals.h"
#include "flash/exitcodes.h"
#include "flash/flashrun.h"
#include "flash/options.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Readable once a termination signal has come: Ctrl+C, SIGTERM and SIGHUP stop every port
// through the event loop, and end a wait for an answer at the terminal.
int g_interrupted = -1;

int terminalColumns(int fd)
{
    winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// The answer is read byte by byte beside the signal pipe, so that Ctrl+C or SIGTERM at the
// question ends the wait at once: an answer that never came erases nothing.
bool confirmOnTerminal(const QString &question)
{
    std::fputs(question.toUtf8().constData(), stderr);
    std::fflush(stderr);
    std::string answer;
    for (;;) {
        pollfd fds[2] = { { STDIN_FILENO, POLLIN, 0 }, { g_interrupted, POLLIN, 0 } };
        const int ready = ::poll(fds, g_interrupted >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (g_interrupted >= 0 && (fds[1].revents & POLLIN) != 0) {
            std::fputc('\n', stderr);
            return false;
        }
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        answer += c;
    }
    return answer == "yes";
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace ormelin::flash;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ormelin-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORMELIN_VERSION));

    const ParsedCommandLine parsed = parseCommandLine(QCoreApplication::arguments());
    if (parsed.helpAsked) {
        std::fputs(usageText().toUtf8().constData(), stdout);
        return ExitWritten;
    }
    if (parsed.versionAsked) {
        std::printf("%s %s\n", "ormelin-flash", ORMELIN_VERSION);
        return ExitWritten;
    }
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "ormelin-flash: %s\n%s", parsed.error.toUtf8().constData(),
            "Try 'ormelin-flash --help'.\n");
        return ExitUsage;
    }

    Console console;
    // With the report on standard output, everything else goes to standard error.
    if (parsed.options.jsonPath == QLatin1String("-"))
        console.out = stderr;
    console.terminal = ::isatty(::fileno(console.out)) == 1;
    console.columns = terminalColumns(::fileno(console.out));
    if (::isatty(STDIN_FILENO) == 1)
        console.confirm = confirmOnTerminal;
    else
        console.confirm = nullptr;

    FlashRun run(parsed.options, console);
    g_interrupted = ormelin::handleTerminationSignals(&run, [&run] { run.interrupt(); });
    return run.exec();
}
