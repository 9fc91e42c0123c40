#pragma once
// link/ owns the device link: the wire protocol (frames and reply framing), the link controller
// (port selection, connection check, erase, output commands, reply judging with the response
// timer and fillers) and the flash writer (the write of the whole list). It does not own the
// serial component, the object list or the operator interface: the window does, and hands them
// in. DeviceLink holds the rest of the link's state for the window's whole life and wires the
// serial events and both timers to their handlers, each run under the general failure guard.
#include "link/commsink.h"
#include "link/flashwriter.h"
#include "link/linkcontroller.h"
#include "link/nonrestartingtimer.h"
#include "link/replybuffer.h"
#include "payload/payload.h"

#include <QObject>

namespace ormelin {

class DeviceLink : public QObject
{
    Q_OBJECT
public:
    DeviceLink(TVaComm &comm, ObjectList &list, OperatorUi &ui, QObject *parent = nullptr);
    ~DeviceLink() override;

    LinkController &controller() { return m_controller; }
    FlashWriter &writer() { return m_writer; }
    LinkState &state() { return m_state; }
    ReplyBuffer &reply() { return m_reply; }
    PictureHolder &picture() { return m_picture; }
    NonRestartingTimer &responseTimer() { return m_responseTimer; }
    NonRestartingTimer &pacingTimer() { return m_pacingTimer; }

    // The operations behind the window's controls.
    void selectPort(const QString &portText) { m_controller.selectPort(portText); }
    void eraseObjectTable() { m_controller.eraseObjectTable(); }
    void outputSelectedObject() { m_controller.outputSelectedObject(); }
    void writeToFlash() { m_writer.writeToFlash(); }

private:
    TVaComm &m_comm;
    CommSink m_sink;
    CommSource m_source;
    LinkState m_state;
    ReplyBuffer m_reply;
    PayloadBuffer m_payload;
    PictureHolder m_picture;
    NonRestartingTimer m_responseTimer { kResponseTimeout };
    NonRestartingTimer m_pacingTimer { kPacingInterval };
    LinkController m_controller;
    FlashWriter m_writer;
};

} // namespace ormelin
