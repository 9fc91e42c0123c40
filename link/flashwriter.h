#pragma once
// Writing the whole object list into the controller's flash, one object at a time: each object
// is sent only after the controller accepted the previous one and a further 300 ms have passed.
// The replies, their timeouts and fillers are the link controller's; this side walks the list,
// turns each row into its payload and frame, keeps the gauge and reports the kilobytes sent.
#include "link/linkcontroller.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

namespace ormelin {

class PayloadBuffer;
class PictureHolder;

inline constexpr auto kPacingInterval = std::chrono::milliseconds(300);

class FlashWriter : public QObject
{
    Q_OBJECT
public:
    FlashWriter(TVaComm &comm, proto::FrameSink &sink, ObjectList &list, OperatorUi &ui,
        LinkState &state, LinkController &controller, PayloadBuffer &payload,
        PictureHolder &picture, NonRestartingTimer &responseTimer, NonRestartingTimer &pacingTimer,
        QObject *parent = nullptr);

    // The "Записать во флэш" button: starts over from row 1 whatever is under way, including the
    // pause after an accepted object, whose step would otherwise run as well. While an object
    // sent earlier still awaits its reply, the new write starts as soon as that reply has been
    // judged or given up, so that the reply is not taken for the new write's first object.
    void writeToFlash();
    // The link controller is done with an upload's reply: runs a write that was held for it.
    void onUploadSettled();
    // One object: run by writeToFlash and then at each expiry of the pacing timer.
    void uploadStep();

    void uploadImage(const QString &path, int32_t number, uint8_t kind);
    void uploadFont(const QString &path, const QString &widthText, const QString &heightText,
        int32_t number, uint8_t format);
    void uploadScript(const QString &path, int32_t number);

    int currentRow() const { return m_currentRow; }
    int objectsRemaining() const { return m_objectsRemaining; }

    // The kilobytes the completion message reports: total / 1024, halves rounded to even.
    static int64_t kilobytesRoundedHalfEven(int64_t bytes);
    // The status line after a completed write: how long it took and how close the effective
    // rate came to what the line can carry, so that a slow adapter or a slow controller shows.
    static QString completionSummary(int64_t bytes, int64_t elapsedMs, double lineBytesPerSecond);

private:
    bool portReady();
    bool numberInRange(int32_t number);
    // Reads the object's file into the payload buffer; on failure tells the operator and sets the
    // error flag.
    bool readPayloadOrReport(const QString &path, int32_t &size);
    void sendPayload(int32_t size);

    TVaComm &m_comm;
    proto::FrameSink &m_sink;
    ObjectList &m_list;
    OperatorUi &m_ui;
    LinkState &m_state;
    LinkController &m_controller;
    PayloadBuffer &m_payload;
    PictureHolder &m_picture;
    NonRestartingTimer &m_responseTimer;
    NonRestartingTimer &m_pacingTimer;
    bool m_restartHeld = false;
    QElapsedTimer m_started;
    int m_gaugeMaximum = 0;
    int m_currentRow = 1;
    int m_objectsRemaining = 0;
};

} // namespace ormelin
