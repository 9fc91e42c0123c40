#pragma once
// The exit codes of ormelin-flash. A job runner tells the outcomes apart by these alone; the
// JSON report gives the same code per port.
#include <QList>
#include <QString>

namespace ormelin::flash {

enum ExitCode : int {
    ExitWritten = 0, // everything asked for was done
    ExitFailure = 1, // a failure the link reported through the general failure handler
    ExitUsage = 2, // wrong or missing options
    ExitListError = 3, // the list file cannot be read or is empty, or lacks the object asked for
    ExitObjectError = 4, // an object's file or picture, or its row, could not be sent
    ExitPortNotOpen = 5, // the port did not open
    ExitRefused = 6, // the controller refused an object or the erase
    ExitNoReply = 7, // the controller did not answer
    ExitDeviceLost = 8, // the port's device went away while in use
    ExitInterrupted = 130, // Ctrl+C, SIGTERM or SIGHUP: every port stopped and closed
};

// One line per code for --help.
QString exitCodeTable();

// With several ports the program's code is the most serious of the ports' codes, so that a
// single failed station is never hidden behind the others' success.
int combinedExitCode(const QList<int> &codes);

} // namespace ormelin::flash
