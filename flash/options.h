#pragma once
// The command line of ormelin-flash.
#include <QString>
#include <QStringList>

#include <cstdint>

namespace ormelin::flash {

enum class Task { Write, Check, Erase, Output };

struct Options
{
    Task task = Task::Write;
    QStringList ports;
    QString listPath;
    int32_t outputNumber = 0;
    bool yes = false; // --erase without asking
    QString jsonPath; // "-" for standard output; empty for no report
};

struct ParsedCommandLine
{
    Options options;
    bool helpAsked = false;
    bool versionAsked = false;
    QString error; // empty when the options are usable
};

ParsedCommandLine parseCommandLine(const QStringList &arguments);
QString usageText();

} // namespace ormelin::flash
