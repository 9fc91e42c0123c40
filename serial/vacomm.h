#pragma once
// serial/ owns the serial port component: opening and configuring one port, the write queue its
// writer thread drains onto the line, the event worker that watches for received bytes, and the
// delivery of "bytes received" and "write queue empty" on the main thread. It knows nothing of
// frames or of the controller at the other end (that is link/).
//
//   TVaComm (main thread) --append--> write queue --writer--> port
//   port --event worker--> delivery --main thread--> OnRxChar / OnTxEmpty
//
// The termios and ioctl code lives in posixport and linesettings_linux; the threads and the
// hand-over to the main thread in commthreads.
#include "serial/commerror.h"
#include "serial/devicename.h"

#include <QFlags>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

namespace ormelin {

namespace serialdetail {
class PosixPort;
class TVaCommEventThread;
class TVaCommWriteThread;
class WorkerHub;
struct Delivery;
} // namespace serialdetail

enum class TVaBaudrate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    brUser
};
enum class TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum class TVaDatabits { db4, db5, db6, db7, db8 };
enum class TVaStopbits { sb1, sb15, sb2 };
enum class TVaControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum class TVaControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

enum class TVaCommOption { coErrorChar = 0x1, coNullStrip = 0x2, coParityCheck = 0x4 };
Q_DECLARE_FLAGS(TVaCommOptions, TVaCommOption)

struct TVaBuffers
{
    int ReadSize = 4096; // the driver sizes its own input queue on this system
    int WriteSize = 2048; // capacity of the write queue
    int ReadTimeout = 1000; // reads never wait on this system
    int WriteTimeout = 1000; // ms WriteBytes waits for room
    int XonLimit = 1024;
    int XoffLimit = 1024;
    friend bool operator==(const TVaBuffers &, const TVaBuffers &) = default;
};

struct TVaFlowControl
{
    bool OutCtsFlow = false, OutDsrFlow = false, XonXoffOut = false, XonXoffIn = false,
         DsrSensitivity = false, TxContinueOnXoff = false;
    TVaControlDtr ControlDtr = TVaControlDtr::dtrDisabled;
    TVaControlRts ControlRts = TVaControlRts::rtsDisabled;
    friend bool operator==(const TVaFlowControl &, const TVaFlowControl &) = default;
};

struct TVaEventChars
{
    uint8_t XonChar = 17, XoffChar = 19, ErrorChar = 0, EventChar = 0, EofChar = 0;
    friend bool operator==(const TVaEventChars &, const TVaEventChars &) = default;
};

// One serial port. Lives on the main thread: every operation is called there and every handler
// runs there, one at a time, between the thread's other events. While it is open a writer thread
// and an event worker run; Close (and destruction) stops and joins both.
class TVaComm : public QObject
{
    Q_OBJECT
public:
    explicit TVaComm(QObject *parent = nullptr);
    ~TVaComm() override; // Close without OnClose

    // Throws EVaCommError, or Failure for a device name template that cannot be formatted; a
    // failed Open leaves the port closed.
    void Open();
    void Close();
    // Drops everything queued or under way in both directions. Nothing when closed.
    void PurgeAll();
    bool IsOpen() const;
    void SetDtrLine(bool on);
    void SetRtsLine(bool on);
    // Queues all count bytes or none: waits up to WriteTimeout ms for room, without letting the
    // event loop run, then throws "Output buffer is full. ...". 0 when closed. Once the device
    // has gone (hungUp), throws the failure the loss was reported with: nothing is sent any more.
    int32_t WriteBytes(const void *bytes, int32_t count);
    bool WriteByte(uint8_t byte);
    // Copies up to count bytes that are waiting, without waiting for more. 0 when closed.
    int32_t ReadBytes(void *dest, int32_t count);

    // Settings that need a closed port throw "Can't perform this operation while port is open".
    QString DeviceName() const { return m_deviceName; }
    void SetDeviceName(const QString &name);
    int PortNum() const { return m_portNum; }
    void SetPortNum(int portNum);
    QString FormattedDeviceName() const; // the name messages show
    QString DevicePath() const; // the node it opens
    // Where names that are not paths are looked up: the system's /dev, unless a test gives a
    // folder of its own so that no name can reach a device of the machine.
    QString DeviceFolder() const { return m_deviceFolder; }
    void SetDeviceFolder(const QString &folder);
    bool UpdateDCB() const { return m_updateDcb; }
    void SetUpdateDCB(bool update);
    TVaBuffers Buffers() const { return m_buffers; }
    void SetBuffers(const TVaBuffers &buffers); // throws while open if changed

    // Line settings may change at any time; while open they are written to the driver at once.
    TVaBaudrate Baudrate() const { return m_baudrate; }
    void SetBaudrate(TVaBaudrate baudrate);
    int UserBaudrate() const { return m_userBaudrate; }
    void SetUserBaudrate(int baud);
    TVaParity Parity() const { return m_parity; }
    void SetParity(TVaParity parity);
    TVaDatabits Databits() const { return m_databits; }
    void SetDatabits(TVaDatabits databits);
    TVaStopbits Stopbits() const { return m_stopbits; }
    void SetStopbits(TVaStopbits stopbits);
    TVaCommOptions Options() const { return m_options; }
    void SetOptions(TVaCommOptions options);
    TVaFlowControl FlowControl() const { return m_flowControl; }
    void SetFlowControl(const TVaFlowControl &flowControl);
    TVaEventChars EventChars() const { return m_eventChars; }
    void SetEventChars(const TVaEventChars &eventChars);

    // Handlers, run on the main thread through the general failure guard.
    std::function<void(int32_t count)> OnRxChar; // bytes waiting when it runs, at least 1
    std::function<void()> OnTxEmpty; // everything queued has gone out
    std::function<void()> OnOpen, OnClose;
    // The open port's device has gone; once per open, after the failure that says so has been
    // raised or delivered.
    std::function<void()> OnDeviceGone;

    // True once the open port's device has gone (adapter pulled, far end closed). The failure is
    // reported once through the general failure handler; the port stays open, quiet, until
    // closed, and can be opened again when the device is back.
    bool hungUp() const;
    // The failure text the loss was reported with ("Read error (5), Input/output error"); every
    // later send fails with it. Empty while the device is there.
    QString deviceGoneText() const;
    // Bytes in the write queue.
    int32_t queuedBytes() const;
    // Deliveries handed to the main thread and not yet taken up by it.
    int pendingDeliveries() const;
    // The most bytes per second the line settings can carry: the rate over the bits each byte
    // takes with its start, parity and stop bits.
    double lineBytesPerSecond() const { return double(lineRate()) / bitsPerByte(); }

private:
    void closePort(bool notify);
    void throwIfOpen() const;
    void lineSettingsChanged();
    void writeDcb(int fd) const;
    void applyControlLines(int fd) const;
    void raisePortFailure(const char *message, int errorCode);
    void noteDeviceGone(std::uint64_t session);
    void deliverNext();
    void dispatch(const serialdetail::Delivery &d);
    int bitsPerByte() const;
    int lineRate() const;

    QString m_deviceName = QStringLiteral("COM%d");
    QString m_deviceFolder = QString::fromLatin1(serialdetail::kSystemDeviceFolder);
    int m_portNum = 0;
    bool m_updateDcb = true;
    TVaBaudrate m_baudrate = TVaBaudrate::br1200;
    int m_userBaudrate = 0;
    TVaParity m_parity = TVaParity::paNone;
    TVaDatabits m_databits = TVaDatabits::db8;
    TVaStopbits m_stopbits = TVaStopbits::sb1;
    TVaCommOptions m_options;
    TVaFlowControl m_flowControl;
    TVaEventChars m_eventChars;
    TVaBuffers m_buffers;

    std::unique_ptr<serialdetail::WorkerHub> m_hub;
    std::uint64_t m_goneNoted = 0; // the open whose loss OnDeviceGone has told
    QSocketNotifier *m_doorbell = nullptr;
    std::mutex m_portLock; // serialises purge, stopping the workers, reads and byte counts
    // Declared in the order they are torn down in reverse: workers before the port they use.
    std::unique_ptr<serialdetail::PosixPort> m_port;
    std::unique_ptr<serialdetail::TVaCommEventThread> m_events;
    std::unique_ptr<serialdetail::TVaCommWriteThread> m_writer;
};

} // namespace ormelin

Q_DECLARE_OPERATORS_FOR_FLAGS(ormelin::TVaCommOptions)
