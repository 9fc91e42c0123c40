#pragma once
// link/ owns the device link: the wire protocol (frames and reply framing), the link controller
// (port selection, connection check, erase, output commands, reply judging with the response
// timer and fillers) and the flash writer (the write of the whole list). It does not own the
// port, the object list or the operator interface: its user does, and hands them in. DeviceLink
// is the link as a whole, for the window or a tool without one: everything the operator learns
// goes through OperatorUi, and writeFinished tells when a write to flash has ended.
#include "link/commport.h"
#include "link/flashwriter.h"
#include "link/linkcontroller.h"

#include <QObject>
#include <memory>

namespace ormelin {

class TVaComm;

class DeviceLink : public QObject
{
    Q_OBJECT
public:
    // The link on any port; `port` must outlive it.
    DeviceLink(CommPort &port, ObjectList &list, OperatorUi &ui, QObject *parent = nullptr);
    // The link on the serial component, as the program runs it.
    DeviceLink(TVaComm &comm, ObjectList &list, OperatorUi &ui, QObject *parent = nullptr);
    ~DeviceLink() override;

    // The operations behind the window's controls.
    void selectPort(const QString &portText) { m_controller.selectPort(portText); }
    void connectionCheck() { m_controller.connectionCheck(); }
    void eraseObjectTable() { m_controller.eraseObjectTable(); }
    void outputSelectedObject() { m_controller.outputSelectedObject(); }
    void writeToFlash() { m_writer.writeToFlash(); }

signals:
    // A write to flash has ended, however it ended; `written` only when every object was
    // accepted and the completion message shown.
    void writeFinished(bool written);
    // For a caller that follows a write object by object, or wants an erase's outcome: the
    // flash writer's and the controller's own notifications, passed on.
    void objectSent(int row, int32_t number, int type, int64_t bytes);
    void objectNotSent(int row);
    void uploadSettled(ormelin::UploadVerdict verdict);
    void eraseAnswered(ormelin::EraseOutcome outcome);

private:
    void passOnNotifications();

    std::unique_ptr<CommPort> m_ownPort;
    LinkController m_controller;
    FlashWriter m_writer;
};

} // namespace ormelin
