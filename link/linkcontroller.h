#pragma once
// The conversation with the Тарвикс: opening the chosen port, the connection check, erasing the
// object table, asking for a stored object to be shown, and judging every reply. One command
// that expects a reply is on the line at a time: one started while another's reply is awaited is
// held until that reply has been judged, the link has given up on it, or the port was closed,
// changed or lost, so that no reply is ever judged for a command it does not answer. The reply
// is awaited with a 300 ms response timer that sends filler frames when it is late. Everything
// runs on the main thread: the port delivers its events there and the timer expires there.
//
// The controller alone owns the command in progress, the fillers left, the reply buffer and the
// response timer; the flash writer starts its uploads through it and hears their verdicts.
#include "link/nonrestartingtimer.h"
#include "link/replybuffer.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>

namespace ormelin {

class CommPort;
class ObjectList;
class OperatorUi;

inline constexpr auto kResponseTimeout = std::chrono::milliseconds(300);
inline constexpr uint8_t kFillerRetries = 5;

// How the reply to an upload ended.
enum class UploadVerdict {
    Accepted,
    Refused, // the controller answered 0xFFFF: no room, or the flash is write-protected
    NoAnswer, // five fillers and a last expiry without a reply
    Dropped, // the port was closed, changed or lost, or sending it failed
};

// A command waiting for the line, by what it is for the operator; one of each kind is held at
// most.
enum class HeldCommand { ConnectionCheck, Erase, WriteToFlash, NextObject };

class LinkController : public QObject
{
    Q_OBJECT
public:
    LinkController(CommPort &port, ObjectList &list, OperatorUi &ui, QObject *parent = nullptr);
    ~LinkController() override;

    // Closes whatever port is open, opens the one named, and checks the connection. Commands
    // held for the old port are dropped, and the operator told so.
    void selectPort(const QString &portText);
    void connectionCheck();
    // Ends a write to flash pressed before it, running or held, and tells the operator so.
    void eraseObjectTable();
    // Output commands expect no reply: they are sent at once, even while a reply is awaited.
    void outputSelectedObject();

    // Runs `start` at once when no reply is awaited; otherwise holds it until the line is free
    // and says so in the status line. A command of a kind already held replaces it.
    void whenLineFree(HeldCommand kind, std::function<void()> start);
    void dropHeld(HeldCommand kind);

    // The flash writer's upload: the command in progress becomes `code` with fresh fillers and
    // an empty reply buffer; the caller then queues the frame and payload. Its verdict comes as
    // uploadSettled.
    void beginUpload(uint8_t code);
    // Sending the upload failed part way: nothing will answer it.
    void abandonUpload();

    // True, after telling the operator, when the port's device has gone.
    bool lineLost();

signals:
    // The reply to an upload has been judged, the link gave up on it, or it was dropped.
    // Emitted once the controller's own handling is done, before any held command runs.
    void uploadSettled(ormelin::UploadVerdict verdict);
    // The erase's reply has been judged; emitted once the status has been set.
    void eraseAnswered(ormelin::EraseOutcome outcome);
    // The port is being closed or changed (lost: its device has gone). Whatever runs on it ends
    // now; a receiver that ends something the operator started adds its name to `cancelled`.
    void lineReset(bool lost, QStringList *cancelled);
    // The erase was pressed. A write to flash under way ends now, before the erase is sent or
    // held: its later objects would otherwise go into the table the erase has just emptied, and
    // its completion message would report objects that are no longer there. A receiver that
    // ends one sets `ended`.
    void eraseRequested(bool *ended);

private:
    void onBytesReceived(int32_t count);
    void onTransmitQueueEmpty();
    void onResponseTimerExpiry();
    void onDeviceGone();

    void startConnectionCheck();
    void startErase();
    void begin(uint8_t code);
    void sendOrForget(const std::function<void()> &send);
    bool awaitingReply() const;
    bool uploadInProgress() const;
    void finish();
    void releaseHeld();
    // Ends whatever is under way on the port, for a port that closes or is lost; the names of
    // what the operator had started and will not run.
    QStringList reset(bool lost);

    struct Held
    {
        HeldCommand kind;
        std::function<void()> start;
    };

    CommPort &m_port;
    ObjectList &m_list;
    OperatorUi &m_ui;
    uint8_t m_command = 0; // whose reply is awaited (or the last output command); 0 = none
    uint8_t m_retriesLeft = 0; // filler frames still allowed for it
    ReplyBuffer m_reply;
    NonRestartingTimer m_responseTimer { kResponseTimeout };
    std::deque<Held> m_held;
    bool m_lossTold = false;
    // A check or an erase was given up to let a held command run: its answer may still come,
    // during this upload or a later one, until it does or the port changes.
    bool m_lateReplyPossible = false;
    // The upload's bytes are still going out: no reply to it can have come yet.
    bool m_uploadOnLine = false;
    // What a port change cancelled, told after each port's own status until a port opens: a name
    // typed into the port box selects a port at every keystroke, and only the first of them
    // found the commands still running.
    QStringList m_cancelledByPortChange;
};

} // namespace ormelin
