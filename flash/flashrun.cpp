#include "flash/flashrun.h"

#include "common/failure.h"
#include "flash/exitcodes.h"
#include "flash/report.h"

#include <QEventLoop>
#include <QFile>
#include <QSaveFile>

namespace ormelin::flash {

namespace {
constexpr int kBarRefreshMs = 200;
}

FlashRun::FlashRun(const Options &options, const Console &console, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_console(console)
{
    m_barTimer.setInterval(kBarRefreshMs);
    connect(&m_barTimer, &QTimer::timeout, this, [this] { guarded([this] { drawBars(); }); });
}

FlashRun::~FlashRun()
{
    setFailureHandler({});
}

void FlashRun::print(FILE *stream, const QString &text)
{
    clearBars();
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
    drawBars();
}

int FlashRun::exec()
{
    if (m_options.task == Task::Erase && !m_options.yes) {
        if (!m_console.terminal || !m_console.confirm) {
            print(m_console.err,
                QStringLiteral("ormelin-flash: --erase needs --yes when input is not a terminal"));
            return ExitUsage;
        }
        if (!m_console.confirm(QStringLiteral("Erase the object table on %1? Type yes: ")
                                   .arg(m_options.ports.join(QStringLiteral(", "))))) {
            print(m_console.err, QStringLiteral("ormelin-flash: nothing erased"));
            return ExitInterrupted;
        }
    }

    for (const QString &port : m_options.ports)
        m_jobs.push_back(std::make_unique<PortJob>(port, m_options));

    setFailureHandler([this](const QString &text) { routeFailure(text); });
    QEventLoop loop;
    m_running = int(m_jobs.size());
    for (auto &job : m_jobs) {
        PortJob *j = job.get();
        connect(j, &PortJob::objectSettled, this,
            [this, j](const ObjectRecord &record) { guarded([&] { objectSettled(j, record); }); });
        connect(j, &PortJob::finished, this, [this, j, &loop] {
            guarded([&] { portFinished(j); });
            if (--m_running == 0)
                loop.quit();
        });
    }
    // Every port reads the list for its own link; a list that does not read ends every port
    // before any opens, and the report still says so.
    QString listError;
    if (!m_options.listPath.isEmpty()) {
        for (auto &job : m_jobs) {
            if (!job->loadList(m_options.listPath, &listError))
                break;
        }
    }
    if (!listError.isEmpty()) {
        for (auto &job : m_jobs)
            job->abandon(ExitListError, listError);
    } else {
        if (m_console.terminal && m_options.task == Task::Write)
            m_barTimer.start();
        drawBars();
        // Each port opens and is checked in turn; the rest happens in the loop, all at once.
        for (auto &job : m_jobs) {
            PortJob *j = job.get();
            guarded([j] { j->start(); });
        }
    }
    if (m_running > 0)
        loop.exec();
    m_barTimer.stop();
    drawBars();
    setFailureHandler({});

    QList<int> codes;
    for (auto &job : m_jobs)
        codes << job->exitCode();
    int code = combinedExitCode(codes);
    if (m_interrupted)
        code = ExitInterrupted;
    if (!writeReport(code) && code == ExitWritten)
        code = ExitFailure;
    return code;
}

void FlashRun::interrupt()
{
    m_interrupted = true;
    for (auto &job : m_jobs)
        job->interrupt();
}

void FlashRun::objectSettled(PortJob *job, const ObjectRecord &record)
{
    const bool written = record.verdict == Verdict::Written;
    // On a terminal the bar shows the objects written; only failures get a line there.
    if (written && m_console.terminal)
        return;
    print(written ? m_console.out : m_console.err, objectLine(job->port(), record));
}

void FlashRun::portFinished(PortJob *job)
{
    const bool ok = job->exitCode() == ExitWritten;
    QString text = job->port() + QStringLiteral(": ") + job->outcomeText();
    if (!ok)
        text += QStringLiteral(" [exit %1]").arg(job->exitCode());
    print(ok ? m_console.out : m_console.err, text);
}

void FlashRun::routeFailure(const QString &text)
{
    for (auto &job : m_jobs) {
        if (job->takeFailure(text))
            return;
    }
    for (auto &job : m_jobs) {
        if (!job->isFinished() && job->deviceGone()) {
            job->onDeviceLost(text);
            return;
        }
    }
    print(m_console.err, QStringLiteral("ormelin-flash: ") + text);
}

void FlashRun::clearBars()
{
    if (m_barsDrawn == 0)
        return;
    // Up to the first bar, and everything below it cleared.
    std::fprintf(m_console.out, "\x1b[%dA\r\x1b[J", m_barsDrawn);
    m_barsDrawn = 0;
}

void FlashRun::drawBars()
{
    if (!m_console.terminal || m_options.task != Task::Write || m_jobs.empty())
        return;
    clearBars();
    QByteArray text;
    for (auto &job : m_jobs)
        text += progressLine(job->progress(), m_console.columns - 1).toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), m_console.out);
    std::fflush(m_console.out);
    m_barsDrawn = int(m_jobs.size());
}

bool FlashRun::writeReport(int exitCode)
{
    if (m_options.jsonPath.isEmpty())
        return true;
    QList<const PortJob *> jobs;
    for (auto &job : m_jobs)
        jobs << job.get();
    const QByteArray report = runReport(m_options, jobs, exitCode);
    if (m_options.jsonPath == QLatin1String("-")) {
        std::fwrite(report.constData(), 1, size_t(report.size()), stdout);
        std::fflush(stdout);
        return true;
    }
    QSaveFile file(m_options.jsonPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(report) != report.size() || !file.commit()) {
        print(m_console.err,
            QStringLiteral("ormelin-flash: cannot write the report ") + m_options.jsonPath
                + QStringLiteral(": ") + file.errorString());
        return false;
    }
    return true;
}

} // namespace ormelin::flash
