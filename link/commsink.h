#pragma once
#include "link/protocol.h"
#include "payload/payload.h"
#include "serial/vacomm.h"

namespace ormelin {

// Where the receive handler takes the controller's bytes from. The program reads them from the
// serial component; the fuzz target hands them in from its input.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Copies up to count bytes that are waiting and returns how many; never waits.
    virtual int32_t ReadBytes(void *dest, int32_t count) = 0;
};

// Frames go to the controller through the serial component's write queue.
class CommSink final : public proto::FrameSink
{
public:
    explicit CommSink(TVaComm &comm)
        : m_comm(comm)
    {
    }
    bool WriteByte(uint8_t byte) override { return m_comm.WriteByte(byte); }
    int32_t WriteBytes(const void *bytes, int32_t count) override
    {
        return m_comm.WriteBytes(bytes, count);
    }

private:
    TVaComm &m_comm;
};

// Replies come from the serial component's input.
class CommSource final : public ByteSource
{
public:
    explicit CommSource(TVaComm &comm)
        : m_comm(comm)
    {
    }
    int32_t ReadBytes(void *dest, int32_t count) override { return m_comm.ReadBytes(dest, count); }

private:
    TVaComm &m_comm;
};

// The largest upload the write queue must take in one piece: the image upload frame and a
// payload filling the whole payload buffer (a bitmap of 950,081 pixels). A smaller queue turns
// the largest objects into "Output buffer is full" after their frame has already gone out,
// leaving the controller waiting for a payload that never comes.
inline constexpr int kLargestUploadBytes = kPayloadBufferSize + proto::kImageUploadFrameSize;

// The line settings the Тарвикс needs, applied in the order the window's stored settings give
// them: 250000 baud, 8 data bits, no parity, 2 stop bits, no flow control of any kind, a write
// queue large enough for the biggest upload (kLargestUploadBytes).
void configureCommForTarviks(TVaComm &comm);

} // namespace ormelin
