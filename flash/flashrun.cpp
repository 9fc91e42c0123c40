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

BarBlock::BarBlock(FILE *out, int columns)
    : m_out(out)
    , m_columns(columns)
{
}

void BarBlock::erase()
{
    if (m_drawn == 0)
        return;
    // Up to the first bar, and everything below it cleared. Flushed at once: a message on the
    // other stream must not reach the terminal before the bars are gone.
    std::fprintf(m_out, "\x1b[%dA\r\x1b[J", m_drawn);
    std::fflush(m_out);
    m_drawn = 0;
}

void BarBlock::draw(const QStringList &bars)
{
    erase();
    m_bars = bars;
    QByteArray text;
    for (const QString &bar : bars) {
        // One column short of the width: a line filling the last column wraps on some terminals.
        const qsizetype cut = m_columns > 1 ? m_columns - 1 : bar.size();
        text += QStringView(bar).left(cut).toUtf8() + '\n';
    }
    std::fwrite(text.constData(), 1, size_t(text.size()), m_out);
    std::fflush(m_out);
    m_drawn = int(bars.size());
}

void BarBlock::message(FILE *stream, const QString &text)
{
    const bool shown = m_drawn > 0;
    erase();
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
    if (shown)
        draw(m_bars);
}

FlashRun::FlashRun(const Options &options, const Console &console, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_console(console)
    , m_bars(console.out, console.columns)
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
    if (m_console.terminal) {
        m_bars.message(stream, text);
        return;
    }
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

bool FlashRun::reportWritable()
{
    if (m_options.jsonPath.isEmpty() || m_options.jsonPath == QLatin1String("-"))
        return true;
    // Found out before any port is touched, not after the flash has been written. The trial
    // file is the save file's own temporary one, removed again; an existing report stays.
    QSaveFile trial(m_options.jsonPath);
    if (trial.open(QIODevice::WriteOnly)) {
        trial.cancelWriting();
        return true;
    }
    print(m_console.err,
        QStringLiteral("ormelin-flash: cannot write the report ") + m_options.jsonPath
            + QStringLiteral(": ") + trial.errorString());
    return false;
}

int FlashRun::exec()
{
    if (!reportWritable())
        return ExitUsage;
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
    m_bars.leave();
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
    // The serial component's words for a lost device belong to that port's line and report.
    for (auto &job : m_jobs) {
        if (job->ownsLoss(text)) {
            job->onDeviceLost(text);
            return;
        }
    }
    for (auto &job : m_jobs) {
        if (!job->isFinished() && job->deviceGone()) {
            job->onDeviceLost(text);
            return;
        }
    }
    print(m_console.err, QStringLiteral("ormelin-flash: ") + text);
}

void FlashRun::drawBars()
{
    if (!m_console.terminal || m_options.task != Task::Write || m_jobs.empty())
        return;
    QStringList bars;
    for (auto &job : m_jobs)
        bars << progressLine(job->progress(), m_console.columns - 1);
    m_bars.draw(bars);
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
