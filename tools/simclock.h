#pragma once
// The simulator's one clock: monotonic nanoseconds, as the log stamps them and the reading pace
// and the answers' delays count them.
#include <algorithm>
#include <cstdint>
#include <ctime>

namespace tarviks {

inline constexpr int64_t kNsPerMs = 1000000;
inline constexpr int64_t kNsPerSecond = 1000000000;

inline int64_t nowNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

inline timespec toTimespec(int64_t ns)
{
    ns = std::max<int64_t>(0, ns);
    return timespec { time_t(ns / kNsPerSecond), long(ns % kNsPerSecond) };
}

} // namespace tarviks
