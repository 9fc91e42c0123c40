#include "link/devicelink.h"

#include "serial/vacomm.h"

namespace ormelin {

DeviceLink::DeviceLink(CommPort &port, ObjectList &list, OperatorUi &ui, QObject *parent)
    : QObject(parent)
    , m_controller(port, list, ui)
    , m_writer(port, list, ui, m_controller)
{
    connect(&m_writer, &FlashWriter::finished, this, &DeviceLink::writeFinished);
}

DeviceLink::DeviceLink(TVaComm &comm, ObjectList &list, OperatorUi &ui, QObject *parent)
    : QObject(parent)
    , m_ownPort(std::make_unique<TVaCommPort>(comm))
    , m_controller(*m_ownPort, list, ui)
    , m_writer(*m_ownPort, list, ui, m_controller)
{
    connect(&m_writer, &FlashWriter::finished, this, &DeviceLink::writeFinished);
}

DeviceLink::~DeviceLink() = default;

} // namespace ormelin
