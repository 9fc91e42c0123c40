#include "app/commandline.h"
#include "app/failurebox.h"
#include "app/mainwindow.h"
#include "common/failure.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A last line of defence: every handler of ours runs under the failure guard, but an exception
// that still reaches Qt's event dispatch is shown instead of ending the program.
class OrmelinApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception &e) {
            ormelin::reportFailure(ormelin::failureText(e));
        } catch (...) {
            ormelin::reportFailure(QStringLiteral("Unknown failure"));
        }
        return false;
    }
};

int g_signalPipe[2] = { -1, -1 };

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Being told to end by the system (logout, shutdown, kill, Ctrl+C in the terminal) closes the
// window with nobody to answer a question: a changed list is kept in a file of its own instead,
// and the settings file is written.
void closeOnTerminationSignals(ormelin::TSendForm &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        window.closeUnattended();
    });
    struct sigaction action
    {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(sig, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(ormelin::kApplicationTitle);
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    // Read before the application exists, so that --help and --version answer on a terminal
    // without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ormelin::CommandLine commandLine = ormelin::parseCommandLine(arguments);
    if (!commandLine.start) {
        std::fputs(commandLine.output.toLocal8Bit().constData(),
            commandLine.toErrorStream ? stderr : stdout);
        return commandLine.exitCode;
    }
    OrmelinApplication app(argc, argv);
    ormelin::TSendForm window(*commandLine.start);
    closeOnTerminationSignals(window);
    window.show();
    return app.exec();
}
