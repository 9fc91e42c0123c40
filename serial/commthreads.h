#pragma once
// The component's two workers and what they share with the main thread. Everything here uses the
// standard library's threads and locks, never Qt's: the workers never call into Qt, and every
// hand-off between them and the main thread goes through one lock that a race detector sees.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ormelin::serialdetail {

// An eventfd: rung by one thread, waited on in poll() by another.
class EventFd
{
public:
    explicit EventFd(int flags); // throws std::system_error
    EventFd(const EventFd &) = delete;
    EventFd &operator=(const EventFd &) = delete;
    ~EventFd();

    int fd() const { return m_fd; }
    void ring();
    bool take(); // false when nothing was rung

private:
    int m_fd = -1;
};

// The one lock and condition behind every signal of a component: a worker waits for the first of
// several signals, and the main thread for an answer, without any question of lock order.
struct SignalHub
{
    std::mutex lock;
    std::condition_variable changed;
};

// A manual-reset signal, unsignalled when created; reset only by the side that consumes it.
// One that a worker must notice while it sits in poll() also rings that worker's eventfd.
class TVaWaitEvent
{
public:
    explicit TVaWaitEvent(SignalHub &hub, EventFd *wake = nullptr)
        : m_hub(hub)
        , m_wake(wake)
    {
    }
    void set();
    void reset();
    // True when signalled within the timeout.
    bool wait(std::chrono::milliseconds timeout);
    // For a waiter that already holds the hub's lock.
    bool isSet(const std::unique_lock<std::mutex> &) const { return m_on; }

private:
    SignalHub &m_hub;
    EventFd *m_wake;
    bool m_on = false;
};

// Line event bits a delivery carries.
enum CommEventBits : std::uint32_t { EV_RXCHAR = 0x0001, EV_TXEMPTY = 0x0004 };

enum class LineFailure { None, Read, Write };

// One event set on its way to the main thread.
struct Delivery
{
    std::uint32_t events = 0;
    std::uint64_t session = 0; // the open it was raised in
    LineFailure failure = LineFailure::None;
    int errorCode = 0;
    bool ran = false; // under the hub's lock
};

// What the workers share with the main-thread side of the component; it outlives every worker,
// so a delivery still queued after Close is safe to run.
class WorkerHub
{
public:
    WorkerHub();

    SignalHub sync;

    // Readable once per delivery handed over (a semaphore), for the main thread's notifier.
    int doorbellFd() const { return m_doorbell.fd(); }

    // Worker side: queue d for the main thread and wait until it has run (true) or stop is
    // signalled (false). A purge requested meanwhile is answered through onPurge, so that a
    // purge never has to wait for a delivery that waits for the purging thread.
    bool handOver(const std::shared_ptr<Delivery> &d, const TVaWaitEvent &stop,
        const TVaWaitEvent *purgeRequest = nullptr, const std::function<void()> &onPurge = {});

    // Main side: the next delivery, one per ring of the doorbell; then markRun when it is done.
    std::shared_ptr<Delivery> takeNext();
    void markRun(const std::shared_ptr<Delivery> &d);
    int pending();

    // A new open: a new session number, and its device is not known to be gone.
    std::uint64_t beginSession();
    std::uint64_t session() const { return m_session.load(); }
    // The first caller in a session to learn that the device has gone gets true and reports it
    // with `message` and `errorCode`, which stay as the failure of every later send; everyone
    // after stays quiet.
    bool claimDeviceGone(const char *message, int errorCode);
    bool deviceGone() const { return m_deviceGone.load(); }
    // The failure the device's going was reported with; only once deviceGone().
    const char *goneMessage();
    int goneErrorCode();

private:
    EventFd m_doorbell;
    std::deque<std::shared_ptr<Delivery>> m_queue; // under sync.lock
    std::atomic<std::uint64_t> m_session { 0 };
    std::atomic<bool> m_deviceGone { false };
    const char *m_goneMessage = nullptr; // under sync.lock
    int m_goneErrorCode = 0; // under sync.lock
};

// The write queue's storage: allocated once at open at its full capacity; bytes go in behind
// and come out at the front. The count may be read without the lock; it changes only under it.
class TVaCommBuffer
{
public:
    explicit TVaCommBuffer(std::int32_t capacity); // throws std::bad_alloc
    std::int32_t capacity() const { return m_capacity; }
    std::int32_t count() const { return m_count.load(std::memory_order_acquire); }
    const char *data() const { return m_storage.get(); }
    // The queue lock is held for these three.
    void append(const void *bytes, std::int32_t n);
    void removeFront(std::int32_t n);
    void clear() { m_count.store(0, std::memory_order_release); }

private:
    std::unique_ptr<char[]> m_storage;
    std::int32_t m_capacity;
    std::atomic<std::int32_t> m_count { 0 };
};

// A joinable worker thread with a stop request; the owner asks it to stop and joins it.
class CommWorker
{
public:
    CommWorker(const CommWorker &) = delete;
    CommWorker &operator=(const CommWorker &) = delete;
    virtual ~CommWorker() = default;
    void start();
    virtual void requestStop() = 0;
    void join();

protected:
    CommWorker() = default;
    virtual void run() = 0;
    std::thread m_thread;
};

// Where the writer puts its bytes. The component's own is the port's descriptor; a test can
// stand a line of its own in its place, one that takes its time as a real line does.
class LineOutput
{
public:
    virtual ~LineOutput() = default;
    // As ::write on a non-blocking descriptor: bytes taken, or -1 with errno set.
    virtual long write(const char *bytes, std::size_t n) = 0;
    // Bytes taken and not yet sent; 0 or the error code.
    virtual int unsent(int &count) = 0;
    // Whether the last bit has left the transmitter, where that can be told.
    virtual bool transmitterIdle() = 0;
    // What poll() waits on for room; negative when there is nothing to wait on.
    virtual int pollFd() const = 0;
};

// The port's descriptor as the writer's line.
class PortOutput final : public LineOutput
{
public:
    explicit PortOutput(int fd)
        : m_fd(fd)
    {
    }
    long write(const char *bytes, std::size_t n) override;
    int unsent(int &count) override;
    bool transmitterIdle() override;
    int pollFd() const override { return m_fd; }

private:
    int m_fd;
};

// The writer: hands everything queued to the port and reports, through a transmit-empty
// delivery, the moment the queue has gone out completely: every byte accepted by the driver and
// the driver's own output queue drained, so "empty" means "on the wire". Bytes queued while it
// writes go to the driver right behind the bytes before them; it waits for the line to fall
// silent only once nothing is queued, so a frame queued byte by byte and its payload leave as
// one stream.
class TVaCommWriteThread final : public CommWorker
{
public:
    TVaCommWriteThread(WorkerHub &hub, std::unique_ptr<LineOutput> line, std::uint64_t session,
        std::int32_t capacity);
    ~TVaCommWriteThread() override;

    void requestStop() override { m_stop.set(); }

    // Main thread.
    std::int32_t queued() const { return m_queue.count(); }
    std::int32_t capacity() const { return m_queue.capacity(); }
    // The caller has made sure the bytes fit.
    void append(const void *bytes, std::int32_t count);
    // Asks the writer to drop what it is writing and everything queued; true when it did so
    // within the timeout.
    bool purge(std::chrono::milliseconds timeout);
    // Time one byte takes on the line: paces the checks for the driver's queue to drain.
    void setByteTime(std::chrono::nanoseconds t) { m_byteTimeNs.store(t.count()); }

private:
    enum class Outcome { Sent, MoreQueued, Abandoned, Stopped, Failed };
    enum class Interrupt { None, Stop, Purge };

    void run() override;
    Outcome sendQueued(std::int32_t n, int &errorCode);
    Outcome waitUntilSent(int &errorCode);
    // Removes the n bytes handed to the line; true when nothing is left queued.
    bool removeSent(std::int32_t n);
    bool reportEmpty();
    Interrupt takeInterrupt();
    void acknowledgePurge();
    void failed(int errorCode);

    WorkerHub &m_hub;
    const std::unique_ptr<LineOutput> m_line;
    const std::uint64_t m_session;
    EventFd m_wake;
    std::mutex m_queueLock;
    TVaCommBuffer m_queue;
    TVaWaitEvent m_dataReady;
    TVaWaitEvent m_stop;
    TVaWaitEvent m_purgeRequest;
    TVaWaitEvent m_purgeAcknowledged;
    std::atomic<std::int64_t> m_byteTimeNs { 44000 };
};

// The event worker: waits for bytes to arrive and hands each arrival to the main thread, which
// counts what is waiting when it gets there. Bytes the main thread leaves unread do not wake it
// again; only new ones do.
class TVaCommEventThread final : public CommWorker
{
public:
    TVaCommEventThread(WorkerHub &hub, int fd, std::uint64_t session); // throws system_error
    ~TVaCommEventThread() override;

    void requestStop() override { m_stop.set(); }

private:
    void run() override;

    WorkerHub &m_hub;
    const int m_fd;
    const std::uint64_t m_session;
    EventFd m_wake;
    TVaWaitEvent m_stop;
    int m_epoll = -1;
};

} // namespace ormelin::serialdetail
