#include "app/commandline.h"
#include "app/failurebox.h"
#include "app/mainwindow.h"
#include "common/failure.h"
#include "common/terminationsignals.h"

#include <QApplication>

#include <cstdio>

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
    // Being told to end by the system (logout, shutdown, kill, Ctrl+C in the terminal) closes the
    // window with nobody to answer a question: a changed list is kept in a file of its own
    // instead, and the settings file is written.
    ormelin::handleTerminationSignals(&window, [&window] { window.closeUnattended(); });
    window.show();
    return app.exec();
}
