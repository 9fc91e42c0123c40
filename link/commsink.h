#pragma once
#include "link/protocol.h"
#include "serial/vacomm.h"

namespace ormelin {

// Frames go to the controller through the serial component's write queue.
class CommSink final : public proto::FrameSink
{
public:
    explicit CommSink(TVaComm &comm) : m_comm(comm) {}
    bool WriteByte(uint8_t byte) override { return m_comm.WriteByte(byte); }
    int32_t WriteBytes(const void *bytes, int32_t count) override
    {
        return m_comm.WriteBytes(bytes, count);
    }

private:
    TVaComm &m_comm;
};

// The line settings the Тарвикс needs, applied in the order the window's stored settings give
// them: 250000 baud, 8 data bits, no parity, 2 stop bits, no flow control of any kind, a write
// queue large enough for the biggest payload.
void configureCommForTarviks(TVaComm &comm);

} // namespace ormelin
