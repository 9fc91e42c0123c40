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
