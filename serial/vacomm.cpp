#include "serial/vacomm.h"

#include "serial/commthreads.h"
#include "serial/devicename.h"
#include "serial/linesettings.h"
#include "serial/posixport.h"

#include <QSocketNotifier>

#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace ormelin {

using namespace serialdetail;
using namespace std::chrono_literals;

namespace {

constexpr auto kPurgeAcknowledgeTimeout = 2000ms;

int rateOf(TVaBaudrate b)
{
    switch (b) {
    case TVaBaudrate::br110:
        return 110;
    case TVaBaudrate::br300:
        return 300;
    case TVaBaudrate::br600:
        return 600;
    case TVaBaudrate::br1200:
        return 1200;
    case TVaBaudrate::br2400:
        return 2400;
    case TVaBaudrate::br4800:
        return 4800;
    case TVaBaudrate::br9600:
        return 9600;
    case TVaBaudrate::br14400:
        return 14400;
    case TVaBaudrate::br19200:
        return 19200;
    case TVaBaudrate::br38400:
        return 38400;
    case TVaBaudrate::br56000:
        return 56000;
    case TVaBaudrate::br57600:
        return 57600;
    case TVaBaudrate::br115200:
        return 115200;
    case TVaBaudrate::br128000:
        return 128000;
    case TVaBaudrate::br256000:
        return 256000;
    case TVaBaudrate::brUser:
        break;
    }
    return 0;
}

int dataBitsOf(TVaDatabits d)
{
    switch (d) {
    case TVaDatabits::db4:
        return 4;
    case TVaDatabits::db5:
        return 5;
    case TVaDatabits::db6:
        return 6;
    case TVaDatabits::db7:
        return 7;
    case TVaDatabits::db8:
        break;
    }
    return 8;
}

LineParity lineParityOf(TVaParity p)
{
    switch (p) {
    case TVaParity::paNone:
        break;
    case TVaParity::paOdd:
        return LineParity::Odd;
    case TVaParity::paEven:
        return LineParity::Even;
    case TVaParity::paMark:
        return LineParity::Mark;
    case TVaParity::paSpace:
        return LineParity::Space;
    }
    return LineParity::None;
}

} // namespace

TVaComm::TVaComm(QObject *parent)
    : QObject(parent)
    , m_hub(std::make_unique<WorkerHub>())
{
}

TVaComm::~TVaComm()
{
    closePort(false);
}

bool TVaComm::IsOpen() const
{
    return m_port != nullptr;
}

bool TVaComm::hungUp() const
{
    return IsOpen() && m_hub->deviceGone();
}

int32_t TVaComm::queuedBytes() const
{
    return m_writer ? m_writer->queued() : 0;
}

int TVaComm::pendingDeliveries() const
{
    return m_hub->pending();
}

// ---- settings ----

void TVaComm::throwIfOpen() const
{
    if (IsOpen())
        throw EVaCommError(QString::fromLatin1(kPortIsOpen));
}

void TVaComm::SetDeviceName(const QString &name)
{
    throwIfOpen();
    m_deviceName = name;
}

void TVaComm::SetDeviceFolder(const QString &folder)
{
    throwIfOpen();
    m_deviceFolder = folder;
}

void TVaComm::SetPortNum(int portNum)
{
    throwIfOpen();
    m_portNum = portNum;
}

void TVaComm::SetUpdateDCB(bool update)
{
    throwIfOpen();
    m_updateDcb = update;
}

void TVaComm::SetBuffers(const TVaBuffers &buffers)
{
    if (buffers == m_buffers)
        return;
    throwIfOpen();
    m_buffers = buffers;
}

QString TVaComm::FormattedDeviceName() const
{
    return formatDeviceName(m_deviceName, m_portNum);
}

QString TVaComm::DevicePath() const
{
    return devicePathFor(FormattedDeviceName(), m_deviceFolder);
}

void TVaComm::SetBaudrate(TVaBaudrate baudrate)
{
    if (baudrate == m_baudrate)
        return;
    m_baudrate = baudrate;
    if (baudrate != TVaBaudrate::brUser)
        m_userBaudrate = 0;
    lineSettingsChanged();
}

void TVaComm::SetUserBaudrate(int baud)
{
    if (baud == m_userBaudrate)
        return;
    m_userBaudrate = baud;
    m_baudrate = TVaBaudrate::brUser;
    lineSettingsChanged();
}

void TVaComm::SetParity(TVaParity parity)
{
    m_parity = parity;
    lineSettingsChanged();
}

void TVaComm::SetDatabits(TVaDatabits databits)
{
    m_databits = databits;
    lineSettingsChanged();
}

void TVaComm::SetStopbits(TVaStopbits stopbits)
{
    m_stopbits = stopbits;
    lineSettingsChanged();
}

void TVaComm::SetOptions(TVaCommOptions options)
{
    m_options = options;
    lineSettingsChanged();
}

void TVaComm::SetFlowControl(const TVaFlowControl &flowControl)
{
    m_flowControl = flowControl;
    lineSettingsChanged();
}

void TVaComm::SetEventChars(const TVaEventChars &eventChars)
{
    m_eventChars = eventChars;
    lineSettingsChanged();
}

int TVaComm::lineRate() const
{
    return m_baudrate == TVaBaudrate::brUser ? m_userBaudrate : rateOf(m_baudrate);
}

int TVaComm::bitsPerByte() const
{
    const int stopBits = m_stopbits == TVaStopbits::sb1 ? 1 : 2; // 1.5 is sent as 2
    return 1 + dataBitsOf(m_databits) + (m_parity == TVaParity::paNone ? 0 : 1) + stopBits;
}

void TVaComm::lineSettingsChanged()
{
    if (!IsOpen() || !m_updateDcb)
        return;
    writeDcb(m_port->fd());
    applyControlLines(m_port->fd());
    m_writer->setByteTime(
        std::chrono::nanoseconds(1'000'000'000LL * bitsPerByte() / std::max(lineRate(), 1)));
}

void TVaComm::writeDcb(int fd) const
{
    LineSettings s;
    s.baud = lineRate();
    s.dataBits = dataBitsOf(m_databits);
    s.parity = lineParityOf(m_parity);
    s.twoStopBits = m_stopbits != TVaStopbits::sb1;
    s.parityCheck = m_options.testFlag(TVaCommOption::coParityCheck);
    s.xonXoffOut = m_flowControl.XonXoffOut;
    s.xonXoffIn = m_flowControl.XonXoffIn;
    s.xonChar = m_eventChars.XonChar;
    s.xoffChar = m_eventChars.XoffChar;
    s.rtsCtsFlow
        = m_flowControl.OutCtsFlow || m_flowControl.ControlRts == TVaControlRts::rtsHandshake;
    if (const int err = writeLineSettings(fd, s))
        throw commError(kWritingDcb, err);
}

// Linux raises DTR and RTS on every open; lines under handshake belong to the driver.
void TVaComm::applyControlLines(int fd) const
{
    int err = 0;
    if (m_flowControl.ControlDtr != TVaControlDtr::dtrHandshake)
        err = setModemLines(fd, TIOCM_DTR, m_flowControl.ControlDtr == TVaControlDtr::dtrEnabled);
    if (!err && m_flowControl.ControlRts != TVaControlRts::rtsHandshake
        && m_flowControl.ControlRts != TVaControlRts::rtsToggle)
        err = setModemLines(fd, TIOCM_RTS, m_flowControl.ControlRts == TVaControlRts::rtsEnabled);
    if (err)
        throw commError(kCallingCommFunction, err);
}

// A failure that says the device has gone is reported by whoever learns it first; the rest of
// the port's operations then go quiet instead of repeating it.
void TVaComm::raisePortFailure(const char *message, int errorCode)
{
    if (isDeviceGone(errorCode)) {
        if (!m_hub->claimDeviceGone(message, errorCode))
            return;
        // Told after the failure that is thrown here has been reported, not from inside the
        // operation that ran into it.
        const std::uint64_t session = m_hub->session();
        QMetaObject::invokeMethod(
            this, [this, session] { noteDeviceGone(session); }, Qt::QueuedConnection);
    }
    throw commError(message, errorCode);
}

void TVaComm::noteDeviceGone(std::uint64_t session)
{
    if (session != m_hub->session() || !IsOpen() || session == m_goneNoted)
        return;
    m_goneNoted = session;
    if (OnDeviceGone)
        guarded(OnDeviceGone);
}

QString TVaComm::deviceGoneText() const
{
    if (!hungUp())
        return QString();
    return commError(m_hub->goneMessage(), m_hub->goneErrorCode()).text();
}

// ---- open and close ----

void TVaComm::Open()
{
    throwIfOpen();
    const QString name = FormattedDeviceName();
    std::unique_ptr<PosixPort> port = PosixPort::open(devicePathFor(name, m_deviceFolder), name);
    const int fd = port->fd();
    if (m_updateDcb)
        writeDcb(fd);
    applyControlLines(fd);

    if (!m_doorbell) {
        m_doorbell = new QSocketNotifier(m_hub->doorbellFd(), QSocketNotifier::Read, this);
        connect(m_doorbell, &QSocketNotifier::activated, this, [this] { deliverNext(); });
    }
    const std::uint64_t session = m_hub->beginSession();

    // Declared after the port: on a failure below they are stopped and joined before it closes.
    std::unique_ptr<TVaCommEventThread> events;
    std::unique_ptr<TVaCommWriteThread> writer;
    try {
        events = std::make_unique<TVaCommEventThread>(*m_hub, fd, session);
        events->start();
    } catch (const std::system_error &e) {
        throw commError(kSettingEventMask, e.code().value());
    }
    try {
        writer = std::make_unique<TVaCommWriteThread>(
            *m_hub, std::make_unique<PortOutput>(fd), session, std::max(m_buffers.WriteSize, 0));
        writer->setByteTime(
            std::chrono::nanoseconds(1'000'000'000LL * bitsPerByte() / std::max(lineRate(), 1)));
        writer->start();
    } catch (const std::bad_alloc &) {
        throw commError(kInitializingBuffers, ENOMEM);
    } catch (const std::system_error &e) {
        throw commError(kInitializingBuffers, e.code().value());
    }

    port->keepSettings();
    m_port = std::move(port);
    m_events = std::move(events);
    m_writer = std::move(writer);
    if (OnOpen)
        guarded(OnOpen);
}

void TVaComm::Close()
{
    closePort(true);
}

void TVaComm::closePort(bool notify)
{
    if (!IsOpen())
        return;
    {
        // Both are told first so that they wind down together. A worker waiting for its delivery
        // to run wakes on the stop as well, so this holds also when Close comes from a handler.
        std::lock_guard lock(m_portLock);
        m_events->requestStop();
        m_writer->requestStop();
        m_events->join();
        m_writer->join();
    }
    m_events.reset();
    m_writer.reset();
    // Unsent bytes would make the close wait for them; Close discards them as a purge does.
    flushBoth(m_port->fd());
    m_port.reset();
    if (notify && OnClose)
        OnClose();
}

void TVaComm::PurgeAll()
{
    if (!IsOpen())
        return;
    std::lock_guard lock(m_portLock);
    // Unanswered, the queue stays as it is and the purge goes on with the driver's queues.
    m_writer->purge(kPurgeAcknowledgeTimeout);
    if (m_hub->deviceGone())
        return; // nothing left in a device that has gone
    if (const int err = flushBoth(m_port->fd()))
        raisePortFailure(kClearingBuffers, err);
}

// ---- lines ----

void TVaComm::SetDtrLine(bool on)
{
    if (m_flowControl.ControlDtr == TVaControlDtr::dtrHandshake)
        throw EVaCommError(QString::fromLatin1(kDtrHandshake));
    if (!IsOpen() || m_hub->deviceGone())
        return;
    if (const int err = setModemLines(m_port->fd(), TIOCM_DTR, on))
        raisePortFailure(kCallingCommFunction, err);
}

void TVaComm::SetRtsLine(bool on)
{
    if (m_flowControl.ControlRts == TVaControlRts::rtsHandshake
        || m_flowControl.ControlRts == TVaControlRts::rtsToggle)
        throw EVaCommError(QString::fromLatin1(kRtsHandshake));
    if (!IsOpen() || m_hub->deviceGone())
        return;
    if (const int err = setModemLines(m_port->fd(), TIOCM_RTS, on))
        raisePortFailure(kCallingCommFunction, err);
}

// ---- bytes ----

int32_t TVaComm::WriteBytes(const void *bytes, int32_t count)
{
    if (!IsOpen() || count < 0 || (count > 0 && !bytes))
        return 0;
    // A device that has gone takes nothing more, and its writer frees no room. Every send says
    // so with the failure the loss was reported with, at once, rather than taking the bytes
    // into a queue that never drains or stalling the window for the write timeout.
    if (m_hub->deviceGone())
        throw EVaCommError(deviceGoneText());
    const int64_t capacity = m_writer->capacity();
    if (m_writer->queued() + int64_t(count) > capacity) {
        // The writer frees room from its own thread; this thread only watches the count.
        const auto limit = std::chrono::milliseconds(std::max(m_buffers.WriteTimeout, 0));
        const auto start = std::chrono::steady_clock::now();
        while (m_writer->queued() + int64_t(count) > capacity) {
            if (std::chrono::steady_clock::now() - start > limit)
                throw EVaCommError(QString::fromLatin1(kOutputBufferFull));
            std::this_thread::yield();
        }
    }
    m_writer->append(bytes, count);
    return count;
}

bool TVaComm::WriteByte(uint8_t byte)
{
    return WriteBytes(&byte, 1) == 1;
}

int32_t TVaComm::ReadBytes(void *dest, int32_t count)
{
    if (!IsOpen() || count <= 0 || !dest || m_hub->deviceGone())
        return 0;
    std::lock_guard lock(m_portLock);
    int got = 0;
    if (const int err = readNow(m_port->fd(), dest, count, got))
        raisePortFailure(kReadError, err);
    return got;
}

// ---- delivery on the main thread ----

void TVaComm::deliverNext()
{
    const std::shared_ptr<Delivery> d = m_hub->takeNext();
    if (!d)
        return;
    guarded([&] { dispatch(*d); });
    m_hub->markRun(d);
}

void TVaComm::dispatch(const Delivery &d)
{
    if (d.events & EV_RXCHAR) {
        // A delivery from an earlier open finds its port closed.
        if (IsOpen() && d.session == m_hub->session() && !m_hub->deviceGone()) {
            int count = 0;
            int err;
            {
                std::lock_guard lock(m_portLock);
                err = bytesWaiting(m_port->fd(), count);
            }
            if (err)
                raisePortFailure(kRetrievingStatistics, err);
            else if (count > 0 && OnRxChar)
                OnRxChar(count);
        }
    }
    if ((d.events & EV_TXEMPTY) && OnTxEmpty)
        OnTxEmpty();
    if (d.failure != LineFailure::None) {
        // The link learns of the loss before the failure is shown, so that what the window
        // shows behind the failure box is already the lost port.
        noteDeviceGone(d.session);
        throw commError(d.failure == LineFailure::Read ? kReadError : kWriteError, d.errorCode);
    }
}

} // namespace ormelin
