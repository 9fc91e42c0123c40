#pragma once
// The conversation with the Тарвикс: opening the chosen port, the connection check, erasing the
// object table, asking for a stored object to be shown, and judging every reply. One command is
// in progress at a time; its reply is awaited with a 300 ms response timer that sends filler
// frames when the reply is late. Everything runs on the main thread: the serial component
// delivers its events there and the timers expire there, so nothing here needs a lock.
#include "link/nonrestartingtimer.h"
#include "link/replybuffer.h"

#include <QObject>
#include <QString>
#include <cstdint>

namespace ormelin {

class TVaComm;
class ByteSource;
class ObjectList;
class OperatorUi;
namespace proto {
class FrameSink;
}

inline constexpr auto kResponseTimeout = std::chrono::milliseconds(300);
inline constexpr uint8_t kFillerRetries = 5;

// What the link knows between events. The upload sequencer shares it: it starts uploads and reads
// the error flag, and the controller judges their replies.
struct LinkState
{
    uint8_t commandInProgress = 0; // command code whose reply is awaited; 0 = none
    uint8_t retriesLeft = 0; // filler frames still allowed for that command
    bool errorFlag = false; // set by a failed upload step or a refused operation
    // Payload bytes queued during the current write to flash. Wider than the 32 bits a full
    // table of the largest objects would overflow (1320 x 1.9 MB).
    int64_t totalSent = 0;
};

class LinkController : public QObject
{
    Q_OBJECT
public:
    // Frames go out through `sink` and replies are read from `source`; the program binds both to
    // `comm`, which the controller opens, purges and closes.
    LinkController(TVaComm &comm, proto::FrameSink &sink, ByteSource &source, ObjectList &list,
        OperatorUi &ui, LinkState &state, ReplyBuffer &reply, NonRestartingTimer &responseTimer,
        NonRestartingTimer &pacingTimer, QObject *parent = nullptr);

    // Closes whatever port is open, opens the one named, and checks the connection.
    void selectPort(const QString &portText);
    void connectionCheck();
    void eraseObjectTable();
    void outputSelectedObject();

    // Serial component and timer events.
    void onBytesReceived(int32_t count);
    void onTransmitQueueEmpty();
    void onResponseTimerExpiry();

    // The serial component's own text for the last failed open ("Can't open specified device
    // /dev/ttyUSB0 (Error 13, Permission denied)"), empty after a successful one.
    QString openFailureText() const { return m_openFailure; }

    // Starts a command that awaits a reply: fresh retries, empty reply buffer.
    void beginCommand(uint8_t code);
    // An upload's reply is still to come: its payload may still be going out, or the controller
    // has not answered yet and the link has not given up.
    bool uploadAwaitingReply() const;

signals:
    // The reply to an upload has been judged (accepted or refused), or the link gave up waiting
    // for it. Emitted last, once the controller's own handling is done.
    void uploadSettled();

private:
    void finish();

    TVaComm &m_comm;
    proto::FrameSink &m_sink;
    ByteSource &m_source;
    ObjectList &m_list;
    OperatorUi &m_ui;
    LinkState &m_state;
    ReplyBuffer &m_reply;
    NonRestartingTimer &m_responseTimer;
    NonRestartingTimer &m_pacingTimer;
    QString m_openFailure;
};

} // namespace ormelin
