#include "link/commport.h"

#include "serial/vacomm.h"

namespace ormelin {

TVaCommPort::~TVaCommPort()
{
    // The component may outlive the link; it must not call into a destroyed one.
    if (m_eventsSet)
        setEvents({});
}

void TVaCommPort::setEvents(Events events)
{
    m_comm.OnRxChar = std::move(events.received);
    m_comm.OnTxEmpty = std::move(events.transmitEmpty);
    m_comm.OnDeviceGone = std::move(events.deviceGone);
    m_eventsSet = true;
}

bool TVaCommPort::IsOpen() const
{
    return m_comm.IsOpen();
}

void TVaCommPort::SetDeviceName(const QString &name)
{
    m_comm.SetDeviceName(name);
}

QString TVaCommPort::DeviceName() const
{
    return m_comm.DeviceName();
}

void TVaCommPort::Open()
{
    m_comm.Open();
}

void TVaCommPort::Close()
{
    m_comm.Close();
}

void TVaCommPort::PurgeAll()
{
    m_comm.PurgeAll();
}

bool TVaCommPort::hungUp() const
{
    return m_comm.hungUp();
}

double TVaCommPort::lineBytesPerSecond() const
{
    return m_comm.lineBytesPerSecond();
}

bool TVaCommPort::WriteByte(uint8_t byte)
{
    return m_comm.WriteByte(byte);
}

int32_t TVaCommPort::WriteBytes(const void *bytes, int32_t count)
{
    return m_comm.WriteBytes(bytes, count);
}

int32_t TVaCommPort::ReadBytes(void *dest, int32_t count)
{
    return m_comm.ReadBytes(dest, count);
}

void configureCommForTarviks(TVaComm &comm)
{
    comm.SetBaudrate(TVaBaudrate::brUser);
    comm.SetStopbits(TVaStopbits::sb2);
    comm.SetFlowControl(TVaFlowControl {});
    comm.SetPortNum(3);
    comm.SetDeviceName(QStringLiteral("COM3"));
    TVaBuffers buffers = comm.Buffers();
    buffers.ReadSize = 2048;
    buffers.WriteSize = kLargestUploadBytes;
    comm.SetBuffers(buffers);
    comm.SetUserBaudrate(250000);
}

} // namespace ormelin
