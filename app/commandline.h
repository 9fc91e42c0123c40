#pragma once
// What the program is told when it starts: the command line, and the few things the window's
// start-up takes from it.
#include <QString>
#include <QStringList>

#include <optional>

namespace ormelin {

struct StartUpOptions
{
    // A list file opened at start-up instead of the list remembered in the settings file.
    std::optional<QString> listPath;
    // The port box's text at start-up, the port opened first.
    QString port = QStringLiteral("COM3");
    // Where port names that are not paths are looked up. The program always uses the system's;
    // tests give an empty folder of their own, so that no name reaches a device of the machine.
    QString deviceFolder = QStringLiteral("/dev");
};

// The outcome of reading the command line: either the options to start with, or an answer
// (help, version, a usage error) to print before ending at once with exitCode.
struct CommandLine
{
    std::optional<StartUpOptions> start;
    QString output;
    bool toErrorStream = false;
    int exitCode = 0;
};

//   ormelin [LIST] [--port NAME]   |   ormelin --help   |   ormelin --version
// arguments are the program's own, the program name first.
CommandLine parseCommandLine(const QStringList &arguments);

} // namespace ormelin
