#include "flash/report.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace ormelin::flash {

namespace {

// Binary units throughout, as the window's kilobyte of 1024 bytes, and labelled so.
QString mebibytes(int64_t bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 2) + QStringLiteral(" MiB");
}

QString minutesSeconds(double seconds)
{
    const int64_t whole = std::llround(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString objectLine(const QString &port, const ObjectRecord &record)
{
    QString line = QStringLiteral("%1 object %2 (%3) %4 bytes %5 s %6")
                       .arg(port, record.numberText, record.typeText)
                       .arg(record.bytes)
                       .arg(record.seconds, 0, 'f', 2)
                       .arg(verdictText(record.verdict));
    if (record.verdict != Verdict::Written && !record.error.isEmpty())
        line += QStringLiteral(": ")
            + QString(record.error).replace(QLatin1Char('\n'), QStringLiteral("; "));
    return line;
}

QString progressLine(const Progress &p, int columns)
{
    constexpr int kBarWidth = 16;
    const double share = p.objectsTotal > 0
        ? std::clamp((double(p.objectsDone) + (p.finished ? 0.0 : p.objectFraction))
                / double(p.objectsTotal),
            0.0, 1.0)
        : (p.finished && p.exitCode == 0 ? 1.0 : 0.0);
    const int filled = int(share * kBarWidth);
    QString line = p.port + QStringLiteral("  [") + QString(filled, QLatin1Char('#'))
        + QString(kBarWidth - filled, QLatin1Char('.')) + QStringLiteral("] ")
        + QStringLiteral("%1/%2").arg(p.objectsDone).arg(p.objectsTotal);
    if (p.finished) {
        line += p.exitCode == 0 ? QStringLiteral("  done")
                                : QStringLiteral("  failed (exit %1)").arg(p.exitCode);
        line += QStringLiteral("  ") + mebibytes(p.bytesDone) + QStringLiteral(" in ")
            + minutesSeconds(p.seconds);
    } else {
        if (p.currentNumber >= 0)
            line += QStringLiteral("  obj %1").arg(p.currentNumber);
        line += QStringLiteral("  ") + mebibytes(p.bytesDone);
        if (p.seconds > 0)
            line += QStringLiteral("  %1 KiB/s")
                        .arg(double(p.bytesDone) / p.seconds / 1024.0, 0, 'f', 1);
        if (p.secondsLeft >= 0)
            line += QStringLiteral("  left ") + minutesSeconds(p.secondsLeft);
    }
    if (columns > 0 && line.size() > columns)
        line.truncate(columns);
    return line;
}

QString taskName(Task task)
{
    switch (task) {
    case Task::Write:
        return QStringLiteral("write");
    case Task::Check:
        return QStringLiteral("check");
    case Task::Erase:
        return QStringLiteral("erase");
    case Task::Output:
        break;
    }
    return QStringLiteral("output");
}

QJsonObject portReport(const PortJob &job)
{
    QJsonArray objects;
    for (const ObjectRecord &o : job.objects()) {
        QJsonObject entry {
            { QStringLiteral("row"), o.row },
            { QStringLiteral("number"),
                o.number >= 0 ? QJsonValue(o.number) : QJsonValue(o.numberText) },
            { QStringLiteral("type"), o.typeText },
            { QStringLiteral("typeCode"), o.type },
            { QStringLiteral("bytes"), qint64(o.bytes) },
            { QStringLiteral("seconds"), std::round(o.seconds * 1000.0) / 1000.0 },
            { QStringLiteral("verdict"), verdictText(o.verdict) },
        };
        if (o.verdict != Verdict::Written)
            entry.insert(QStringLiteral("error"), o.error);
        objects.append(entry);
    }
    QJsonObject port {
        { QStringLiteral("port"), job.port() },
        { QStringLiteral("exitCode"), job.exitCode() },
        { QStringLiteral("outcome"), job.outcomeText() },
        { QStringLiteral("seconds"), std::round(job.seconds() * 1000.0) / 1000.0 },
        { QStringLiteral("bytes"), qint64(job.bytesWritten()) },
        { QStringLiteral("objects"), objects },
    };
    if (!job.resolutionText().isEmpty())
        port.insert(QStringLiteral("connection"), job.resolutionText());
    return port;
}

QByteArray runReport(const Options &options, const QList<const PortJob *> &jobs, int exitCode)
{
    QJsonArray ports;
    for (const PortJob *job : jobs)
        ports.append(portReport(*job));
    QJsonObject run {
        { QStringLiteral("task"), taskName(options.task) },
        { QStringLiteral("exitCode"), exitCode },
        { QStringLiteral("ports"), ports },
    };
    if (!options.listPath.isEmpty())
        run.insert(QStringLiteral("list"), options.listPath);
    return QJsonDocument(run).toJson(QJsonDocument::Indented);
}

} // namespace ormelin::flash
