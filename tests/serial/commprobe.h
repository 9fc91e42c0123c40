#pragma once
// Test helpers for the serial component: a probe that turns its handlers into signals (so tests
// wait with QSignalSpy) and records what reached the general failure handler, the settings this
// system opens its port with, a port on a pseudo-terminal, and a wait that keeps the event loop
// from running.
#include "common/failure.h"
#include "serial/vacomm.h"
#include "serial_pty.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <thread>

class CommProbe : public QObject
{
    Q_OBJECT
public:
    explicit CommProbe(ormelin::TVaComm &comm)
    {
        comm.OnRxChar = [this](int32_t count) {
            rxCounts << count;
            emit rxChar(count);
        };
        comm.OnTxEmpty = [this] {
            ++txEmpty;
            emit txEmptied();
        };
        comm.OnDeviceGone = [this] { ++deviceGone; };
        ormelin::setFailureHandler([this](const QString &text) { failures << text; });
    }
    ~CommProbe() override { ormelin::setFailureHandler({}); }

    QList<int> rxCounts;
    int txEmpty = 0;
    int deviceGone = 0;
    QStringList failures;

signals:
    void rxChar(int count);
    void txEmptied();
};

// Port settings of this system: 250000 baud, 8 data bits, no parity, 2 stop bits, a write queue
// that takes the largest payload.
inline void useSystemSettings(ormelin::TVaComm &comm, const QString &deviceName)
{
    comm.SetUserBaudrate(250000);
    comm.SetStopbits(ormelin::TVaStopbits::sb2);
    ormelin::TVaBuffers buffers;
    buffers.ReadSize = 2048;
    buffers.WriteSize = 1900000;
    comm.SetBuffers(buffers);
    comm.SetDeviceName(deviceName);
}

// A port with the settings of this system on the slave of a pseudo-terminal; the test plays the
// device on `pty`. The port is declared after the pseudo-terminal so that it closes first, as it
// would before its device goes away. A test starts with ok(), or with open() when it has no
// handlers to set first.
struct PtyPort
{
    PtyPort() { useSystemSettings(comm, pty.slavePath()); }

    bool ok() const { return pty.ok(); }
    bool open()
    {
        if (!ok())
            return false;
        comm.Open();
        return comm.IsOpen();
    }

    PtyPair pty;
    ormelin::TVaComm comm;
};

// The same with a probe on the port's handlers and on the general failure handler.
struct ProbedPort : PtyPort
{
    CommProbe probe { comm };
};

// The text a call fails with as a serial error; none when it goes through.
template <class Call> QString commErrorText(Call call)
{
    try {
        call();
    } catch (const ormelin::EVaCommError &e) {
        return e.text();
    }
    return {};
}

// Busy-waits for pred without processing events: for states the event loop must not disturb,
// such as a delivery the main thread has not yet run.
template <class Pred>
bool spinUntil(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}
