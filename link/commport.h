#pragma once
// What the link needs of a serial port, and nothing more: open and close it by name, queue frame
// bytes, read the controller's bytes, and learn of three events on the main thread (bytes
// received, everything queued has gone out, the device has gone). The program's port is the
// serial component (TVaCommPort); tests and tools can stand in a port of their own that
// delivers those events when they choose.
#include "link/protocol.h"
#include "payload/payload.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace ormelin {

class TVaComm;

// Where the receive handler takes the controller's bytes from.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Copies up to count bytes that are waiting and returns how many; never waits.
    virtual int32_t ReadBytes(void *dest, int32_t count) = 0;
};

class CommPort : public proto::FrameSink, public ByteSource
{
public:
    // Run on the main thread, one at a time, between its other events.
    struct Events
    {
        std::function<void(int32_t count)> received; // count bytes are waiting, at least 1
        std::function<void()> transmitEmpty; // everything queued is on the wire
        std::function<void()> deviceGone; // once per open, after the failure was reported
    };
    // Replaces the handlers; empty ones detach.
    virtual void setEvents(Events events) = 0;

    virtual bool IsOpen() const = 0;
    // The device to open, as the operator typed it; only while closed.
    virtual void SetDeviceName(const QString &name) = 0;
    // The name the port's messages show.
    virtual QString DeviceName() const = 0;
    // Throws EVaCommError when the port does not open; it stays closed then.
    virtual void Open() = 0;
    virtual void Close() = 0;
    // Drops everything queued or under way in both directions.
    virtual void PurgeAll() = 0;
    // The open port's device has gone: every send fails, nothing arrives.
    virtual bool hungUp() const = 0;
    // The most payload bytes per second the line can carry; 0 when unknown.
    virtual double lineBytesPerSecond() const = 0;
};

// The serial component as the link's port. It takes the component's three handlers for as long
// as it lives.
class TVaCommPort final : public CommPort
{
public:
    explicit TVaCommPort(TVaComm &comm)
        : m_comm(comm)
    {
    }
    ~TVaCommPort() override;
    TVaCommPort(const TVaCommPort &) = delete;
    TVaCommPort &operator=(const TVaCommPort &) = delete;

    void setEvents(Events events) override;
    bool IsOpen() const override;
    void SetDeviceName(const QString &name) override;
    QString DeviceName() const override;
    void Open() override;
    void Close() override;
    void PurgeAll() override;
    bool hungUp() const override;
    double lineBytesPerSecond() const override;
    bool WriteByte(uint8_t byte) override;
    int32_t WriteBytes(const void *bytes, int32_t count) override;
    int32_t ReadBytes(void *dest, int32_t count) override;

private:
    TVaComm &m_comm;
    bool m_eventsSet = false;
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
