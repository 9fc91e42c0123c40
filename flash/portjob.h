#pragma once
// One port's share of a run: its own serial component, object list and device link, driven
// through the link's public operations exactly as the window drives them, with this job as the
// link's operator. The job turns what the link tells the operator, and the writer's and
// controller's notifications, into a verdict per object and an exit code for the port.
#include "common/operatorui.h"
#include "flash/exitcodes.h"
#include "flash/options.h"
#include "link/devicelink.h"
#include "objlist/objectlist.h"
#include "serial/vacomm.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

namespace ormelin::flash {

enum class Verdict { Written, Refused, NoReply, FileError, DeviceLost, Interrupted, Failure };
QString verdictText(Verdict verdict);

struct ObjectRecord
{
    int row = 0;
    QString numberText; // as the list holds it
    int32_t number = -1; // -1 when the row's number does not parse
    QString typeText;
    int type = -1;
    int64_t bytes = 0;
    double seconds = 0;
    Verdict verdict = Verdict::Written;
    QString error; // what the operator was told when the object was not written
};

// What a progress line shows at one moment.
struct Progress
{
    QString port;
    int objectsDone = 0;
    int objectsTotal = 0;
    int32_t currentNumber = -1; // the object on the line, -1 between objects
    int64_t bytesDone = 0; // payload bytes through, and the estimate of the object on the line
    double objectFraction = 0; // of the object on the line, estimated from the line's rate
    double seconds = 0; // since the write began
    double secondsLeft = -1; // -1 while there is nothing to estimate from
    bool finished = false;
    int exitCode = 0;
};

class PortJob : public QObject, private OperatorUi
{
    Q_OBJECT
public:
    PortJob(const QString &port, const Options &options, QObject *parent = nullptr);
    ~PortJob() override;

    // Reads the list file into this port's list; false with the window's message in `error`.
    bool loadList(const QString &path, QString *error);
    // Opens the port and runs the task; finished() follows, now or later.
    void start();
    // Ctrl+C: stops at once, queues purged and the port closed.
    void interrupt();
    // Ends the job before it starts, for a reason common to the whole run (the list file).
    void abandon(int exitCode, const QString &text) { finish(exitCode, text); }
    // A failure the link raised through the general failure handler while this job was busy
    // with it: the text belongs to this port. Returns false when the job is not expecting one.
    bool takeFailure(const QString &text);
    // The serial component saw its device go: the port's run ends here.
    bool deviceGone() const;
    void onDeviceLost(const QString &text);
    // The text is the serial component's failure for this port's lost device.
    bool ownsLoss(const QString &text) const;

    QString port() const { return m_port; }
    bool isFinished() const { return m_finished; }
    int exitCode() const { return m_exitCode; }
    // What the run ended with, in the operator's words (the link's messages and statuses).
    QString outcomeText() const { return m_outcome; }
    QString resolutionText() const { return m_resolution; }
    const QList<ObjectRecord> &objects() const { return m_objects; }
    double seconds() const;
    int64_t bytesWritten() const;
    Progress progress() const;

    // How long a connection check or an erase is waited for: the link gives each one filler
    // and then waits without limit, which a command line cannot.
    static constexpr int kAnswerWaitMs = 2000;
    // 250000 baud with a start bit, 8 data bits and 2 stop bits, when the port cannot say.
    static constexpr double kLineBytesPerSecond = 250000.0 / 11.0;

signals:
    // An object got its verdict.
    void objectSettled(const ormelin::flash::ObjectRecord &record);
    // The port's run is over; outcomeText() and exitCode() hold its end.
    void finished();

private:
    // OperatorUi: the link's words are kept, to be reported with the verdict they belong to.
    void showMessage(const QString &text) override;
    bool askYesNo(const QString &text) override;
    Answer askYesNoOrDismiss(const QString &) override { return Answer::Dismissed; }
    void setStatus(const QString &text) override;
    void setStatusDetail(const QString &detail) override;
    QString title() const override { return QString(); }
    void setTitle(const QString &) override { }
    void setConnected(bool on) override;
    void setGaugeMaximum(int maximum) override { m_gaugeMaximum = maximum; }
    void setGaugeProgress(int progress) override { m_gaugeProgress = progress; }
    void setGaugeVisible(bool) override { }
    std::optional<QString> chooseOpenFile() override { return std::nullopt; }
    std::optional<QString> chooseSaveFile(const QString &) override { return std::nullopt; }

    void connected();
    void runTask();
    void objectSent(int row, int32_t number, int type, int64_t bytes);
    void objectNotSent(int row);
    void settleNotSent();
    void uploadSettled(UploadVerdict verdict);
    void writeFinished(bool written);
    void writeEnded();
    void eraseAnswered(EraseOutcome outcome);
    void answerOverdue();
    void outputDrained();
    void settleCurrent(Verdict verdict, const QString &error = QString());
    // Ends the port's run: the link is let go, queues purged, the port closed.
    void finish(int exitCode, const QString &outcome);
    // The messages shown since the last verdict, else the last status with its detail.
    QString takeWords();
    // What the serial component said when the device went; kept for the failure that follows.
    QString lossText();

    QString m_port;
    Options m_options;
    TVaComm m_comm;
    ObjectList m_list;
    std::unique_ptr<DeviceLink> m_link;
    QTimer m_answerTimer;
    QTimer m_drainTimer;
    QElapsedTimer m_clock;
    QElapsedTimer m_objectClock;
    double m_endSeconds = -1; // the run's length, once it is over
    QStringList m_messages;
    QString m_status;
    QString m_statusDetail;
    QString m_resolution;
    QString m_outcome;
    QList<ObjectRecord> m_objects;
    std::optional<ObjectRecord> m_current;
    std::optional<ObjectRecord> m_notSent;
    QString m_failure;
    QString m_lossText;
    bool m_taskStarted = false;
    bool m_finished = false;
    int m_exitCode = ExitWritten;
    int m_gaugeMaximum = 0;
    int m_gaugeProgress = 0;
};

} // namespace ormelin::flash
