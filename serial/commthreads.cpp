#include "serial/commthreads.h"

#include "serial/commerror.h"
#include "serial/posixport.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace ormelin::serialdetail {
namespace {

using namespace std::chrono_literals;

[[noreturn]] void throwErrno()
{
    throw std::system_error(errno, std::generic_category());
}

// Linux may refuse a raised priority to an ordinary user; the writer then runs at normal priority.
void requestPriority(int niceValue)
{
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), niceValue);
}

constexpr int kNormalPriority = 0;
constexpr int kHighestNormalPriority = -2; // two steps above normal

} // namespace

// ---- EventFd ----

EventFd::EventFd(int flags)
    : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | flags))
{
    if (m_fd < 0)
        throwErrno();
}

EventFd::~EventFd()
{
    ::close(m_fd);
}

void EventFd::ring()
{
    const std::uint64_t one = 1;
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) { }
}

bool EventFd::take()
{
    std::uint64_t value = 0;
    for (;;) {
        if (::read(m_fd, &value, sizeof value) == sizeof value)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// ---- TVaWaitEvent ----

void TVaWaitEvent::set()
{
    {
        std::lock_guard lock(m_hub.lock);
        m_on = true;
    }
    m_hub.changed.notify_all();
    if (m_wake)
        m_wake->ring();
}

void TVaWaitEvent::reset()
{
    std::lock_guard lock(m_hub.lock);
    m_on = false;
}

bool TVaWaitEvent::wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_hub.lock);
    return m_hub.changed.wait_for(lock, timeout, [this] { return m_on; });
}

// ---- WorkerHub ----

WorkerHub::WorkerHub()
    : m_doorbell(EFD_SEMAPHORE)
{
}

bool WorkerHub::handOver(const std::shared_ptr<Delivery> &d, const TVaWaitEvent &stop,
    const TVaWaitEvent *purgeRequest, const std::function<void()> &onPurge)
{
    std::unique_lock lock(sync.lock);
    m_queue.push_back(d);
    m_doorbell.ring();
    for (;;) {
        if (d->ran)
            return true;
        if (stop.isSet(lock))
            return false;
        if (purgeRequest && purgeRequest->isSet(lock)) {
            lock.unlock();
            onPurge();
            lock.lock();
            continue;
        }
        sync.changed.wait(lock);
    }
}

std::shared_ptr<Delivery> WorkerHub::takeNext()
{
    if (!m_doorbell.take())
        return nullptr;
    std::lock_guard lock(sync.lock);
    if (m_queue.empty())
        return nullptr;
    auto d = m_queue.front();
    m_queue.pop_front();
    return d;
}

void WorkerHub::markRun(const std::shared_ptr<Delivery> &d)
{
    {
        std::lock_guard lock(sync.lock);
        d->ran = true;
    }
    sync.changed.notify_all();
}

int WorkerHub::pending()
{
    std::lock_guard lock(sync.lock);
    return static_cast<int>(m_queue.size());
}

std::uint64_t WorkerHub::beginSession()
{
    m_deviceGone.store(false);
    return ++m_session;
}

bool WorkerHub::claimDeviceGone(const char *message, int errorCode)
{
    std::lock_guard lock(sync.lock);
    if (m_deviceGone.exchange(true))
        return false;
    m_goneMessage = message;
    m_goneErrorCode = errorCode;
    return true;
}

const char *WorkerHub::goneMessage()
{
    std::lock_guard lock(sync.lock);
    return m_goneMessage ? m_goneMessage : kWriteError;
}

int WorkerHub::goneErrorCode()
{
    std::lock_guard lock(sync.lock);
    return m_goneErrorCode;
}

// ---- TVaCommBuffer ----

TVaCommBuffer::TVaCommBuffer(std::int32_t capacity)
    : m_storage(std::make_unique_for_overwrite<char[]>(static_cast<size_t>(std::max(capacity, 1))))
    , m_capacity(std::max(capacity, 0))
{
}

void TVaCommBuffer::append(const void *bytes, std::int32_t n)
{
    const std::int32_t count = m_count.load(std::memory_order_relaxed);
    if (n > 0)
        std::memcpy(m_storage.get() + count, bytes, static_cast<size_t>(n));
    m_count.store(count + n, std::memory_order_release);
}

void TVaCommBuffer::removeFront(std::int32_t n)
{
    const std::int32_t count = m_count.load(std::memory_order_relaxed);
    n = std::clamp(n, 0, count);
    std::memmove(m_storage.get(), m_storage.get() + n, static_cast<size_t>(count - n));
    m_count.store(count - n, std::memory_order_release);
}

// ---- CommWorker ----

void CommWorker::start()
{
    m_thread = std::thread([this] { run(); });
}

void CommWorker::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

// ---- PortOutput ----

long PortOutput::write(const char *bytes, std::size_t n)
{
    return long(::write(m_fd, bytes, n));
}

int PortOutput::unsent(int &count)
{
    return bytesUnsent(m_fd, count);
}

bool PortOutput::transmitterIdle()
{
    return serialdetail::transmitterIdle(m_fd);
}

// ---- TVaCommWriteThread ----

TVaCommWriteThread::TVaCommWriteThread(
    WorkerHub &hub, std::unique_ptr<LineOutput> line, std::uint64_t session, std::int32_t capacity)
    : m_hub(hub)
    , m_line(std::move(line))
    , m_session(session)
    , m_wake(0)
    , m_queue(capacity)
    // Rings the writer out of its wait for the line to drain: bytes queued meanwhile go out
    // behind the others instead of after a silence.
    , m_dataReady(hub.sync, &m_wake)
    , m_stop(hub.sync, &m_wake)
    , m_purgeRequest(hub.sync, &m_wake)
    , m_purgeAcknowledged(hub.sync)
{
}

TVaCommWriteThread::~TVaCommWriteThread()
{
    requestStop();
    join();
}

void TVaCommWriteThread::append(const void *bytes, std::int32_t count)
{
    std::lock_guard lock(m_queueLock);
    m_queue.append(bytes, count);
    m_dataReady.set();
}

bool TVaCommWriteThread::purge(std::chrono::milliseconds timeout)
{
    m_purgeAcknowledged.reset();
    m_purgeRequest.set();
    return m_purgeAcknowledged.wait(timeout);
}

void TVaCommWriteThread::acknowledgePurge()
{
    // The writer empties the queue itself: it is the one that knows no write is reading it.
    {
        std::lock_guard lock(m_queueLock);
        m_queue.clear();
    }
    m_purgeRequest.reset();
    m_purgeAcknowledged.set();
}

TVaCommWriteThread::Interrupt TVaCommWriteThread::takeInterrupt()
{
    m_wake.take();
    std::unique_lock lock(m_hub.sync.lock);
    if (m_stop.isSet(lock))
        return Interrupt::Stop;
    if (m_purgeRequest.isSet(lock)) {
        lock.unlock();
        acknowledgePurge();
        return Interrupt::Purge;
    }
    return Interrupt::None;
}

void TVaCommWriteThread::run()
{
    requestPriority(kHighestNormalPriority);
    for (;;) {
        {
            std::unique_lock lock(m_hub.sync.lock);
            m_hub.sync.changed.wait(lock, [&] {
                return m_stop.isSet(lock) || m_purgeRequest.isSet(lock) || m_dataReady.isSet(lock);
            });
            if (m_stop.isSet(lock))
                return;
            if (m_purgeRequest.isSet(lock)) {
                lock.unlock();
                acknowledgePurge();
                continue;
            }
        }
        std::int32_t n;
        {
            std::lock_guard lock(m_queueLock);
            n = m_queue.count();
        }
        int errorCode = 0;
        Outcome outcome = sendQueued(n, errorCode);
        if (outcome == Outcome::Sent) {
            if (!removeSent(n))
                continue; // queued meanwhile: straight behind, the line still busy
            outcome = waitUntilSent(errorCode);
            if (outcome == Outcome::Sent && !reportEmpty())
                return;
        }
        switch (outcome) {
        case Outcome::Sent:
        case Outcome::MoreQueued:
        case Outcome::Abandoned:
            break;
        case Outcome::Stopped:
            return;
        case Outcome::Failed:
            failed(errorCode);
            return;
        }
    }
}

// Hands the first n queued bytes to the line. Bytes appended meanwhile go behind these n and are
// not part of this write.
TVaCommWriteThread::Outcome TVaCommWriteThread::sendQueued(std::int32_t n, int &errorCode)
{
    const char *bytes = m_queue.data();
    std::int32_t done = 0;
    bool lineReportedTrouble = false;
    while (done < n) {
        const long r = m_line->write(bytes + done, static_cast<size_t>(n - done));
        if (r > 0) {
            done += static_cast<std::int32_t>(r);
            lineReportedTrouble = false;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN) {
            errorCode = errno;
            return Outcome::Failed;
        }
        if (lineReportedTrouble) {
            // poll() said hang-up or error, yet write() neither fails nor takes anything:
            // waiting again would spin.
            errorCode = EIO;
            return Outcome::Failed;
        }
        pollfd fds[2] = { { m_line->pollFd(), POLLOUT, 0 }, { m_wake.fd(), POLLIN, 0 } };
        if (::poll(fds, 2, -1) < 0)
            continue; // EINTR
        if (fds[1].revents) {
            switch (takeInterrupt()) {
            case Interrupt::Stop:
                return Outcome::Stopped;
            case Interrupt::Purge:
                return Outcome::Abandoned;
            case Interrupt::None:
                break;
            }
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            lineReportedTrouble = true;
    }
    return Outcome::Sent;
}

// The driver has every byte and nothing more is queued; wait until it has sent them, checking at
// intervals sized to what it still holds, so that the transmit-empty event comes when the line
// falls silent. Bytes queued meanwhile end the wait: they go out at once.
TVaCommWriteThread::Outcome TVaCommWriteThread::waitUntilSent(int &errorCode)
{
    for (;;) {
        if (m_queue.count() > 0)
            return Outcome::MoreQueued;
        int unsent = 0;
        if (const int err = m_line->unsent(unsent)) {
            errorCode = err;
            return Outcome::Failed;
        }
        if (unsent <= 0 && m_line->transmitterIdle())
            return Outcome::Sent;
        const auto byteTime = std::chrono::nanoseconds(m_byteTimeNs.load());
        const auto wait = std::clamp(byteTime * std::max(unsent, 1),
            std::chrono::nanoseconds(100us), std::chrono::nanoseconds(1s));
        const timespec ts { static_cast<time_t>(wait.count() / 1'000'000'000),
            static_cast<long>(wait.count() % 1'000'000'000) };
        pollfd wake { m_wake.fd(), POLLIN, 0 };
        if (::ppoll(&wake, 1, &ts, nullptr) > 0) {
            switch (takeInterrupt()) {
            case Interrupt::Stop:
                return Outcome::Stopped;
            case Interrupt::Purge:
                return Outcome::Abandoned;
            case Interrupt::None:
                break;
            }
        }
    }
}

bool TVaCommWriteThread::removeSent(std::int32_t n)
{
    std::lock_guard lock(m_queueLock);
    m_queue.removeFront(n);
    return m_queue.count() == 0;
}

// Reports the queue empty and the line silent. False when told to stop meanwhile; true also when
// bytes came in at the last moment, which the next turn sends.
bool TVaCommWriteThread::reportEmpty()
{
    {
        std::lock_guard lock(m_queueLock);
        if (m_queue.count() > 0)
            return true;
        // Reset under the queue lock, so that bytes appended right now keep their signal.
        m_dataReady.reset();
    }
    auto d = std::make_shared<Delivery>();
    d->events = EV_TXEMPTY;
    d->session = m_session;
    return m_hub.handOver(d, m_stop, &m_purgeRequest, [this] { acknowledgePurge(); });
}

// The port no longer takes bytes (its device has gone). Retrying would only spin: report it once
// and from then on answer purges and wait for the stop.
void TVaCommWriteThread::failed(int errorCode)
{
    const auto onPurge = [this] { acknowledgePurge(); };
    if (m_hub.claimDeviceGone(kWriteError, errorCode)) {
        auto d = std::make_shared<Delivery>();
        d->session = m_session;
        d->failure = LineFailure::Write;
        d->errorCode = errorCode;
        if (!m_hub.handOver(d, m_stop, &m_purgeRequest, onPurge))
            return;
    }
    for (;;) {
        std::unique_lock lock(m_hub.sync.lock);
        m_hub.sync.changed.wait(
            lock, [&] { return m_stop.isSet(lock) || m_purgeRequest.isSet(lock); });
        if (m_stop.isSet(lock))
            return;
        lock.unlock();
        acknowledgePurge();
    }
}

// ---- TVaCommEventThread ----

TVaCommEventThread::TVaCommEventThread(WorkerHub &hub, int fd, std::uint64_t session)
    : m_hub(hub)
    , m_fd(fd)
    , m_session(session)
    , m_wake(0)
    , m_stop(hub.sync, &m_wake)
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        throwErrno();
    // Edge-triggered: one wake-up per arrival, none for bytes that are merely still there.
    epoll_event port {};
    port.events = EPOLLIN | EPOLLET;
    port.data.fd = m_fd;
    epoll_event stop {};
    stop.events = EPOLLIN;
    stop.data.fd = m_wake.fd();
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_fd, &port) != 0
        || ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake.fd(), &stop) != 0) {
        const int err = errno;
        ::close(m_epoll);
        throw std::system_error(err, std::generic_category());
    }
}

TVaCommEventThread::~TVaCommEventThread()
{
    requestStop();
    join();
    ::close(m_epoll);
}

void TVaCommEventThread::run()
{
    requestPriority(kNormalPriority);
    for (;;) {
        epoll_event events[2];
        const int n = ::epoll_wait(m_epoll, events, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // cannot happen with our own descriptors; never spin on it
        }
        std::uint32_t portEvents = 0;
        bool stopRung = false;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == m_wake.fd())
                stopRung = true;
            else
                portEvents |= events[i].events;
        }
        if (stopRung) {
            std::unique_lock lock(m_hub.sync.lock);
            if (m_stop.isSet(lock))
                return;
        }
        if (portEvents & (EPOLLHUP | EPOLLERR)) {
            // The device has gone: it will never report anything else. Watch only for the stop.
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_fd, nullptr);
            if (m_hub.claimDeviceGone(kReadError, EIO)) {
                auto d = std::make_shared<Delivery>();
                d->session = m_session;
                d->failure = LineFailure::Read;
                d->errorCode = EIO; // what a read would answer; a hung-up read just returns 0
                if (!m_hub.handOver(d, m_stop))
                    return;
            }
            continue;
        }
        if (portEvents & EPOLLIN) {
            auto d = std::make_shared<Delivery>();
            d->events = EV_RXCHAR;
            d->session = m_session;
            if (!m_hub.handOver(d, m_stop))
                return;
        }
    }
}

} // namespace ormelin::serialdetail
