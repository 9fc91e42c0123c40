#pragma once
// Shared by the benchmarks and long-running drivers: clocks, and a wait that sleeps in a real
// event loop until a condition holds (QTest::qWait sleeps between event batches, which would
// distort what a benchmark measures).
#include <QEventLoop>
#include <QTimer>
#include <ctime>

inline double monotonicSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// CPU seconds the whole process (every thread) used while its event loop ran for `ms`, as the
// program's loop runs between events. A spin check, not a speed measure.
inline double cpuSecondsWhileRunning(int ms)
{
    const double before = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return cpuSeconds() - before;
}

// Runs the event loop until condition() holds or ms milliseconds have passed; looks every 5 ms.
template <class F> bool waitInEventLoop(F condition, int ms)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start(5);
    loop.exec();
    return condition();
}
