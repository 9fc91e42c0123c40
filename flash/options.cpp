#include "flash/options.h"

#include "common/numparse.h"
#include "flash/exitcodes.h"
#include "serial/devicename.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace ormelin::flash {

namespace {

const QString kPort = QStringLiteral("port");
const QString kCheck = QStringLiteral("check");
const QString kErase = QStringLiteral("erase");
const QString kYes = QStringLiteral("yes");
const QString kOutput = QStringLiteral("output");
const QString kJson = QStringLiteral("json");
const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");

// The node a port name opens, so that "pts/3", "/dev/pts/3" and a link to it are one port. Only
// looked up, never opened.
QString deviceNode(const QString &name)
{
    const QString path
        = serialdetail::devicePathFor(name, QString::fromLatin1(serialdetail::kSystemDeviceFolder));
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

} // namespace

QString usageText()
{
    return QStringLiteral(
               "Usage:\n"
               "  ormelin-flash --port PORT [--port PORT]... [--json FILE] LIST\n"
               "  ormelin-flash --port PORT... --check\n"
               "  ormelin-flash --port PORT... --erase [--yes]\n"
               "  ormelin-flash --port PORT... --output N LIST\n"
               "\n"
               "Writes every object of the list file LIST into the flash of the Тарвикс on each\n"
               "PORT, all ports at once, with the same link as the window.\n"
               "\n"
               "Options:\n"
               "  --port PORT   serial device (ttyUSB0, /dev/ttyUSB0, COM1); repeat for more\n"
               "                controllers, each written in parallel with its own link\n"
               "  --check       connect and print the controller's screen resolution\n"
               "  --erase       erase the object table; asks for \"yes\" on a terminal\n"
               "  --yes         erase without asking (needed when input is not a terminal)\n"
               "  --output N    have the controller output object N of LIST\n"
               "  --json FILE   write a report of every port and object to FILE ('-': standard\n"
               "                output, the other output then goes to standard error)\n"
               "  --version     the program's version\n"
               "  --help        this text\n"
               "\n"
               "On a terminal each port shows a progress bar; otherwise one line per object.\n"
               "\n"
               "Exit codes:\n")
        + exitCodeTable();
}

ParsedCommandLine parseCommandLine(const QStringList &arguments)
{
    ParsedCommandLine parsed;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({ kPort, QString(), QStringLiteral("PORT") });
    parser.addOption({ kCheck, QString() });
    parser.addOption({ kErase, QString() });
    parser.addOption({ kYes, QString() });
    parser.addOption({ kOutput, QString(), QStringLiteral("N") });
    parser.addOption({ kJson, QString(), QStringLiteral("FILE") });
    parser.addOption({ { kHelp, QStringLiteral("h") }, QString() });
    parser.addOption({ kVersion, QString() });
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    if (parser.isSet(kHelp)) {
        parsed.helpAsked = true;
        return parsed;
    }
    if (parser.isSet(kVersion)) {
        parsed.versionAsked = true;
        return parsed;
    }

    Options &o = parsed.options;
    o.ports = parser.values(kPort);
    o.yes = parser.isSet(kYes);
    o.jsonPath = parser.value(kJson);
    const int tasks
        = int(parser.isSet(kCheck)) + int(parser.isSet(kErase)) + int(parser.isSet(kOutput));
    if (tasks > 1) {
        parsed.error = QStringLiteral("--check, --erase and --output exclude each other");
        return parsed;
    }
    if (parser.isSet(kCheck))
        o.task = Task::Check;
    else if (parser.isSet(kErase))
        o.task = Task::Erase;
    else if (parser.isSet(kOutput))
        o.task = Task::Output;

    if (o.ports.isEmpty()) {
        parsed.error = QStringLiteral("no port given: name at least one with --port");
        return parsed;
    }
    QStringList nodes;
    for (int i = 0; i < o.ports.size(); ++i) {
        if (o.ports.at(i).isEmpty()) {
            parsed.error = QStringLiteral("--port needs a device name");
            return parsed;
        }
        const QString node = deviceNode(o.ports.at(i));
        if (nodes.contains(node)) {
            // Two links on one device would take each other's replies.
            parsed.error = QStringLiteral("port given twice: ") + o.ports.at(i);
            return parsed;
        }
        nodes << node;
    }
    if (o.task == Task::Output) {
        const auto number = parseNumber(parser.value(kOutput));
        if (!number) {
            parsed.error = QStringLiteral("--output needs an object number, not \"")
                + parser.value(kOutput) + QLatin1Char('"');
            return parsed;
        }
        o.outputNumber = *number;
    }

    const QStringList positional = parser.positionalArguments();
    const bool needsList = o.task == Task::Write || o.task == Task::Output;
    if (needsList && positional.size() != 1) {
        parsed.error = positional.isEmpty() ? QStringLiteral("no list file given")
                                            : QStringLiteral("more than one list file given");
        return parsed;
    }
    if (!needsList && !positional.isEmpty()) {
        parsed.error = QStringLiteral("--check and --erase take no list file");
        return parsed;
    }
    if (needsList)
        o.listPath = positional.first();
    return parsed;
}

} // namespace ormelin::flash
