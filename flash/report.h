#pragma once
// What ormelin-flash prints and writes: the plain line per object, the terminal's progress line
// per port, and the JSON report.
#include "flash/options.h"
#include "flash/portjob.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace ormelin::flash {

// "PORT object N (TYPE) BYTES bytes SECONDS s VERDICT[: what the operator was told]"
QString objectLine(const QString &port, const ObjectRecord &record);
// One port's progress bar, cut to `columns` characters.
QString progressLine(const Progress &progress, int columns);

QString taskName(Task task);
QJsonObject portReport(const PortJob &job);
QByteArray runReport(const Options &options, const QList<const PortJob *> &jobs, int exitCode);

} // namespace ormelin::flash
