#include "flash/portjob.h"

#include "common/failure.h"
#include "common/numparse.h"
#include "objlist/listdocument.h"

#include <algorithm>

namespace ormelin::flash {

namespace {

// The output commands get no reply. Closing the port discards what has not gone out, so the
// port stays open until the write queue has drained and the line has had time to carry the
// last frame, a few dozen bytes: a few milliseconds at 250000 baud.
constexpr int kDrainPollMs = 20;
constexpr int kLineTailMs = 100;

} // namespace

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Written:
        return QStringLiteral("written");
    case Verdict::Refused:
        return QStringLiteral("refused");
    case Verdict::NoReply:
        return QStringLiteral("no reply");
    case Verdict::FileError:
        return QStringLiteral("file error");
    case Verdict::DeviceLost:
        return QStringLiteral("device lost");
    case Verdict::Interrupted:
        return QStringLiteral("interrupted");
    case Verdict::Failure:
        break;
    }
    return QStringLiteral("failure");
}

PortJob::PortJob(const QString &port, const Options &options, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_options(options)
{
    configureCommForTarviks(m_comm);
    m_link = std::make_unique<DeviceLink>(m_comm, m_list, static_cast<OperatorUi &>(*this));
    // Every handler below is reached from a link handler that already runs under the failure
    // guard, or from a timer of this job, which guards its own.
    connect(m_link.get(), &DeviceLink::objectSent, this, &PortJob::objectSent);
    connect(m_link.get(), &DeviceLink::objectNotSent, this, &PortJob::objectNotSent);
    connect(m_link.get(), &DeviceLink::writeFinished, this, &PortJob::writeFinished);
    connect(m_link.get(), &DeviceLink::uploadSettled, this, &PortJob::uploadSettled);
    connect(m_link.get(), &DeviceLink::eraseAnswered, this, &PortJob::eraseAnswered);

    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(kAnswerWaitMs);
    connect(
        &m_answerTimer, &QTimer::timeout, this, [this] { guarded([this] { answerOverdue(); }); });
    m_drainTimer.setInterval(kDrainPollMs);
    connect(
        &m_drainTimer, &QTimer::timeout, this, [this] { guarded([this] { outputDrained(); }); });
}

PortJob::~PortJob()
{
    m_link.reset();
    m_comm.Close();
}

bool PortJob::loadList(const QString &path, QString *error)
{
    // The window's own reader and messages; this job stands in for the window's operator.
    ListDocument document(m_list, *this);
    m_messages.clear();
    if (document.readListFile(path, true, 0))
        return true;
    if (error)
        *error = m_messages.join(QLatin1Char('\n'));
    m_messages.clear();
    return false;
}

void PortJob::start()
{
    m_clock.start();
    m_link->selectPort(m_port);
    if (!m_comm.IsOpen()) {
        finish(ExitPortNotOpen, takeWords());
        return;
    }
    m_answerTimer.start();
}

void PortJob::setConnected(bool on)
{
    if (!on)
        return;
    m_resolution = m_status;
    if (m_taskStarted || m_finished)
        return;
    m_answerTimer.stop();
    // The controller is still finishing the check's reply when it says so: the task starts once
    // that handler has returned.
    QTimer::singleShot(0, this, [this] { guarded([this] { runTask(); }); });
}

void PortJob::answerOverdue()
{
    if (m_finished)
        return;
    if (!m_taskStarted) {
        if (m_options.task == Task::Write) {
            // The write has its own way of finding a silent controller: fillers, then "no reply".
            runTask();
            return;
        }
        finish(ExitNoReply, QStringLiteral("no answer to the connection check"));
        return;
    }
    finish(ExitNoReply, QStringLiteral("no answer to the erase"));
}

void PortJob::runTask()
{
    if (m_taskStarted || m_finished)
        return;
    m_taskStarted = true;
    m_messages.clear();
    switch (m_options.task) {
    case Task::Check:
        finish(ExitWritten, m_resolution);
        return;
    case Task::Erase:
        m_link->eraseObjectTable();
        m_answerTimer.start();
        return;
    case Task::Output: {
        int found = -1;
        for (int row = 1; row < m_list.rowCount() && found < 0; ++row) {
            const auto number = parseNumber(m_list.cell(row, ColNumber));
            if (number && *number == m_options.outputNumber)
                found = row;
        }
        if (found < 0) {
            finish(ExitListError,
                QStringLiteral("object %1 is not in the list").arg(m_options.outputNumber));
            return;
        }
        m_list.selectRow(found);
        m_link->outputSelectedObject();
        m_drainTimer.start();
        return;
    }
    case Task::Write:
        m_clock.start();
        m_link->writeToFlash();
        return;
    }
}

void PortJob::outputDrained()
{
    if (m_finished || m_comm.queuedBytes() > 0)
        return;
    m_drainTimer.stop();
    const QString words = takeWords();
    QTimer::singleShot(kLineTailMs, this, [this, words] {
        guarded([this, words] {
            if (!m_finished)
                finish(ExitWritten, words);
        });
    });
}

void PortJob::objectSent(int row, int32_t number, int type, int64_t bytes)
{
    ObjectRecord record;
    record.row = row;
    record.numberText = m_list.cell(row, ColNumber);
    record.number = number;
    record.typeText = m_list.cell(row, ColType);
    record.type = type;
    record.bytes = bytes;
    m_current = record;
    m_objectClock.start();
    m_messages.clear();
}

void PortJob::objectNotSent(int row)
{
    ObjectRecord record;
    record.row = row;
    record.numberText = m_list.cell(row, ColNumber);
    record.number = parseNumber(record.numberText).value_or(-1);
    record.typeText = m_list.cell(row, ColType);
    record.type = lookupObjectType(record.typeText);
    record.verdict = Verdict::FileError;
    m_notSent = record;
    m_failure.clear();
    // A step that failed on an exception has its text still on the way to the failure handler:
    // the verdict is settled once that has run.
    QTimer::singleShot(0, this, [this] { guarded([this] { settleNotSent(); }); });
}

bool PortJob::takeFailure(const QString &text)
{
    if (!m_notSent || !m_failure.isEmpty())
        return false;
    m_failure = text;
    return true;
}

void PortJob::settleNotSent()
{
    if (!m_notSent || m_finished)
        return;
    ObjectRecord record = *m_notSent;
    m_notSent.reset();
    QString words = m_messages.join(QLatin1Char('\n'));
    m_messages.clear();
    if (!m_failure.isEmpty())
        words = words.isEmpty() ? m_failure : words + QLatin1Char('\n') + m_failure;
    if (words.isEmpty())
        words = takeWords();
    int code = ExitObjectError;
    if (deviceGone()) {
        record.verdict = Verdict::DeviceLost;
        code = ExitDeviceLost;
        words = lossText();
    }
    record.error = words;
    m_objects << record;
    emit objectSettled(record);
    finish(code, words);
}

void PortJob::uploadSettled(UploadVerdict verdict)
{
    if (!m_current || m_finished)
        return;
    if (verdict == UploadVerdict::Accepted) {
        settleCurrent(Verdict::Written);
        return;
    }
    if (deviceGone()) {
        const QString cause = lossText();
        settleCurrent(Verdict::DeviceLost, cause);
        finish(ExitDeviceLost, cause);
        return;
    }
    const QString words = takeWords();
    switch (verdict) {
    case UploadVerdict::Refused:
        settleCurrent(Verdict::Refused, words);
        finish(ExitRefused, words);
        return;
    case UploadVerdict::NoAnswer:
        settleCurrent(Verdict::NoReply, words);
        finish(ExitNoReply, words);
        return;
    default:
        settleCurrent(Verdict::Failure, words);
        finish(ExitFailure, words);
        return;
    }
}

void PortJob::writeFinished(bool written)
{
    if (m_finished)
        return;
    if (written) {
        finish(ExitWritten, takeWords());
        return;
    }
    // The writer ends before the controller passes on the verdict that ended it, and a failure
    // that ended it is reported after: what ended the write is known once both have run.
    QTimer::singleShot(0, this, [this] { guarded([this] { writeEnded(); }); });
}

void PortJob::writeEnded()
{
    if (m_finished || m_notSent)
        return;
    if (m_current) {
        const bool gone = deviceGone();
        const QString words = gone ? lossText() : takeWords();
        settleCurrent(gone ? Verdict::DeviceLost : Verdict::Failure, words);
        finish(gone ? ExitDeviceLost : ExitFailure, words);
        return;
    }
    // Nothing was sent and no object failed: the write did not start (an empty list).
    finish(ExitListError, takeWords());
}

void PortJob::eraseAnswered(EraseOutcome outcome)
{
    if (m_finished || m_options.task != Task::Erase)
        return;
    m_answerTimer.stop();
    switch (outcome) {
    case EraseOutcome::Erased:
        finish(ExitWritten, takeWords());
        return;
    case EraseOutcome::Refused:
        finish(ExitRefused, takeWords());
        return;
    case EraseOutcome::NoMeaning:
        break;
    }
    finish(ExitFailure, QStringLiteral("the controller's answer to the erase means nothing"));
}

bool PortJob::deviceGone() const
{
    return m_comm.IsOpen() && m_comm.hungUp();
}

bool PortJob::ownsLoss(const QString &text) const
{
    return !text.isEmpty()
        && (text == m_lossText || (deviceGone() && text == m_comm.deviceGoneText()));
}

QString PortJob::lossText()
{
    // The serial component's own words for the loss, not the step the write was at.
    m_lossText = m_comm.deviceGoneText();
    m_messages.clear();
    return m_lossText.isEmpty() ? takeWords() : m_lossText;
}

void PortJob::onDeviceLost(const QString &text)
{
    if (m_finished)
        return;
    m_lossText = text;
    if (m_current)
        settleCurrent(Verdict::DeviceLost, text);
    finish(ExitDeviceLost, text);
}

void PortJob::interrupt()
{
    if (m_finished)
        return;
    if (m_current)
        settleCurrent(Verdict::Interrupted, QStringLiteral("interrupted"));
    finish(ExitInterrupted, QStringLiteral("interrupted"));
}

void PortJob::settleCurrent(Verdict verdict, const QString &error)
{
    ObjectRecord record = *m_current;
    m_current.reset();
    record.seconds = double(m_objectClock.nsecsElapsed()) / 1e9;
    record.verdict = verdict;
    record.error = error;
    m_objects << record;
    emit objectSettled(record);
}

void PortJob::finish(int exitCode, const QString &outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_endSeconds = seconds();
    m_exitCode = exitCode;
    m_outcome = outcome;
    m_answerTimer.stop();
    m_drainTimer.stop();
    disconnect(m_link.get(), nullptr, this, nullptr);
    // This may run inside one of the link's handlers: the link is let go once it has returned.
    QTimer::singleShot(0, this, [this] {
        guarded([this] {
            m_link.reset();
            m_comm.PurgeAll();
            m_comm.Close();
        });
        emit finished();
    });
}

QString PortJob::takeWords()
{
    QString words = m_messages.join(QLatin1Char('\n'));
    m_messages.clear();
    if (words.isEmpty()) {
        words = m_status;
        if (!m_statusDetail.isEmpty())
            words += QStringLiteral(" (") + m_statusDetail + QLatin1Char(')');
    }
    return words;
}

double PortJob::seconds() const
{
    if (m_endSeconds >= 0)
        return m_endSeconds;
    return m_clock.isValid() ? double(m_clock.nsecsElapsed()) / 1e9 : 0.0;
}

int64_t PortJob::bytesWritten() const
{
    int64_t total = 0;
    for (const ObjectRecord &o : m_objects) {
        if (o.verdict == Verdict::Written)
            total += o.bytes;
    }
    return total;
}

Progress PortJob::progress() const
{
    Progress p;
    p.port = m_port;
    p.objectsTotal = m_gaugeMaximum;
    p.objectsDone = int(std::count_if(m_objects.begin(), m_objects.end(),
        [](const ObjectRecord &o) { return o.verdict == Verdict::Written; }));
    p.bytesDone = bytesWritten();
    p.seconds = m_taskStarted ? seconds() : 0.0;
    p.finished = m_finished;
    p.exitCode = m_exitCode;
    double fraction = 0;
    if (m_current && !m_finished) {
        p.currentNumber = m_current->number;
        // The writer reports an object only once it is through; in between, the line carries it
        // at its own rate from the moment it was queued.
        const double rate = m_comm.IsOpen() && m_comm.lineBytesPerSecond() > 0
            ? m_comm.lineBytesPerSecond()
            : kLineBytesPerSecond;
        const double sent = double(m_objectClock.nsecsElapsed()) / 1e9 * rate;
        const int64_t out = std::clamp<int64_t>(int64_t(sent), 0, m_current->bytes);
        p.bytesDone += out;
        if (m_current->bytes > 0)
            fraction = double(out) / double(m_current->bytes);
    }
    p.objectFraction = fraction;
    const double done = p.objectsDone + fraction;
    if (done > 0 && p.objectsTotal > 0)
        p.secondsLeft = std::max(0.0, p.seconds / done * (p.objectsTotal - done));
    return p;
}

void PortJob::showMessage(const QString &text)
{
    m_messages << text;
}

bool PortJob::askYesNo(const QString &)
{
    // The link asks nothing; a question here would have no one to answer it.
    return false;
}

void PortJob::setStatus(const QString &text)
{
    m_status = text;
}

void PortJob::setStatusDetail(const QString &detail)
{
    m_statusDetail = detail;
}

} // namespace ormelin::flash
