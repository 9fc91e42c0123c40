#include "link/devicelink.h"

#include "serial/vacomm.h"

namespace ormelin {

DeviceLink::DeviceLink(CommPort &port, ObjectList &list, OperatorUi &ui, QObject *parent)
    : QObject(parent)
    , m_controller(port, list, ui)
    , m_writer(port, list, ui, m_controller)
{
    passOnNotifications();
}

DeviceLink::DeviceLink(TVaComm &comm, ObjectList &list, OperatorUi &ui, QObject *parent)
    : QObject(parent)
    , m_ownPort(std::make_unique<TVaCommPort>(comm))
    , m_controller(*m_ownPort, list, ui)
    , m_writer(*m_ownPort, list, ui, m_controller)
{
    passOnNotifications();
}

DeviceLink::~DeviceLink() = default;

void DeviceLink::passOnNotifications()
{
    connect(&m_writer, &FlashWriter::finished, this, &DeviceLink::writeFinished);
    connect(&m_writer, &FlashWriter::objectSent, this, &DeviceLink::objectSent);
    connect(&m_writer, &FlashWriter::objectNotSent, this, &DeviceLink::objectNotSent);
    connect(&m_controller, &LinkController::uploadSettled, this, &DeviceLink::uploadSettled);
    connect(&m_controller, &LinkController::eraseAnswered, this, &DeviceLink::eraseAnswered);
}

} // namespace ormelin
