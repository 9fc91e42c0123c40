#pragma once
// Writing the whole object list into the controller's flash, one object at a time: each object
// is sent only after the controller accepted the previous one and a further 300 ms have passed.
// The replies, their timeouts and fillers are the link controller's; this side walks the list,
// turns each row into its payload and frame, keeps the gauge and reports the kilobytes sent. It
// owns the error flag, the total sent and the pacing timer.
#include "link/linkcontroller.h"
#include "payload/payload.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

namespace ormelin {

inline constexpr auto kPacingInterval = std::chrono::milliseconds(300);

class FlashWriter : public QObject
{
    Q_OBJECT
public:
    FlashWriter(CommPort &port, ObjectList &list, OperatorUi &ui, LinkController &controller,
        QObject *parent = nullptr);

    // The "Записать во флэш" button: starts over from row 1 whatever is under way, including the
    // pause after an accepted object. While a reply to another command is awaited, the new write
    // starts once that reply has been judged or given up, so that the reply is not taken for the
    // new write's first object.
    void writeToFlash();

    // The kilobytes the completion message reports: total / 1024, halves rounded to even.
    static int64_t kilobytesRoundedHalfEven(int64_t bytes);
    // The status line after a completed write: how long it took and how close the effective
    // rate came to what the line can carry, so that a slow adapter or a slow controller shows.
    static QString completionSummary(int64_t bytes, int64_t elapsedMs, double lineBytesPerSecond);

signals:
    // A write to flash has ended, however it ended; `written` only after the completion message.
    void finished(bool written);
    // For a caller that follows the write object by object (the command-line writer): an
    // object's frame and payload are queued and its verdict will come as the controller's
    // uploadSettled; the write stops at a row without sending it, the operator having been told
    // why (or the failure that ended the step being on its way to the failure handler).
    void objectSent(int row, int32_t number, int type, int64_t bytes);
    void objectNotSent(int row);

private:
    void start();
    // One object: run by start and then at each expiry of the pacing timer.
    void uploadStep();
    void sendRow();
    void onUploadSettled(UploadVerdict verdict);
    void onPacingExpiry();
    // Hides the gauge, stops the pacing and says so; nothing when no write runs.
    void end(bool written);
    void endUnstarted();

    void uploadImage(const QString &path, int32_t number, uint8_t kind);
    void uploadFont(const QString &path, const QString &widthText, const QString &heightText,
        int32_t number, uint8_t format);
    void uploadScript(const QString &path, int32_t number);
    bool portReady();
    bool numberInRange(int32_t number);
    // Reads the object's file into the payload buffer; on failure tells the operator and sets the
    // error flag.
    bool readPayloadOrReport(const QString &path, int32_t &size);
    void sendPayload(int32_t size);

    CommPort &m_port;
    ObjectList &m_list;
    OperatorUi &m_ui;
    LinkController &m_controller;
    PayloadBuffer m_payload;
    PictureHolder m_picture;
    NonRestartingTimer m_pacingTimer { kPacingInterval };
    bool m_running = false; // from the press until the write ends; the gauge is shown meanwhile
    bool m_errorFlag = false; // set by a failed upload step
    // Payload bytes queued during the current write. Wider than the 32 bits a full table of the
    // largest objects would overflow (1320 x 1.9 MB).
    int64_t m_totalSent = 0;
    QElapsedTimer m_started;
    int m_gaugeMaximum = 0;
    int m_currentRow = 1;
    int m_objectsRemaining = 0;
};

} // namespace ormelin
