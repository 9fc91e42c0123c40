#pragma once
// How tarviks-sim reads the line: at the pace of its baud rate, into the frame decoder, and,
// when asked to, forgetting a partial frame or payload after a silence.
#include "tools/simclock.h"
#include "tools/simcore.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarviks {

// Reads at the pace of the line: a token bucket against the monotonic clock. The credit is
// counted from an anchor so that rounding never accumulates over a long payload; after a pause
// at most kBurstNs of credit is kept, as a line cannot deliver bytes it did not carry.
class Pacer
{
public:
    explicit Pacer(unsigned baud)
        : m_baud(baud)
    {
    }

    std::size_t allowance(int64_t now)
    {
        if (m_baud == 0)
            return SIZE_MAX;
        int64_t earned = earnedBytes(now);
        const int64_t burst
            = std::max<int64_t>(1, int64_t(__int128(kBurstNs) * m_baud / kByteTimeScale));
        if (earned - m_consumed > burst) {
            m_anchor = now - kBurstNs;
            m_consumed = 0;
            earned = earnedBytes(now);
        }
        return std::size_t(std::max<int64_t>(0, earned - m_consumed));
    }

    void consume(std::size_t n) { m_consumed += int64_t(n); }

    // Nanoseconds until the next batch may be read. Waking for every byte (44 us apart at
    // 250000 baud) would cost a fifth of a core; a batch of about 2 ms keeps the pace exact over a
    // payload and delays a frame's last byte by at most that.
    int64_t waitNs(int64_t now) const
    {
        const int64_t batch
            = std::max<int64_t>(1, int64_t(__int128(kBatchNs) * m_baud / kByteTimeScale));
        const __int128 due = __int128(m_consumed + batch) * kByteTimeScale;
        const int64_t at = m_anchor + int64_t((due + m_baud - 1) / m_baud);
        return std::max<int64_t>(0, at - now);
    }

private:
    static constexpr int64_t kBurstNs = 20 * kNsPerMs;
    static constexpr int64_t kBatchNs = 2 * kNsPerMs;
    static constexpr unsigned kBitsPerByte = 11; // start, 8 data, 2 stop
    static constexpr int64_t kByteTimeScale = int64_t(kBitsPerByte) * kNsPerSecond;

    int64_t earnedBytes(int64_t now) const
    {
        return int64_t(__int128(now - m_anchor) * m_baud / kByteTimeScale);
    }

    unsigned m_baud;
    int64_t m_anchor = nowNs();
    int64_t m_consumed = 0;
};

class FrameReader
{
public:
    // idleResetMs 0: a partial frame waits for its rest however long it takes.
    FrameReader(Simulator &sim, unsigned baud, int64_t idleResetMs)
        : m_sim(sim)
        , m_pacer(baud)
        , m_idleResetNs(idleResetMs * kNsPerMs)
    {
    }

    // How many bytes the line has carried by `now` that are not read yet; none: wait waitNs().
    std::size_t allowance(int64_t now) { return m_pacer.allowance(now); }
    int64_t waitNs(int64_t now) const { return m_pacer.waitNs(now); }

    // Reads at most `allowance` bytes from `fd` and decodes them. The number read (0 or less:
    // nothing, as read() returns), with their events and the time they were read.
    long read(int fd, std::size_t allowance, std::vector<Event> &events, int64_t &at);

    // The partial frame abandoned, if the line has been silent long enough in the middle of one.
    std::optional<Event> abandonIfIdle(int64_t now);
    // When the partial frame will be abandoned, if one is waiting to be.
    std::optional<int64_t> idleResetDue() const;

private:
    Simulator &m_sim;
    Pacer m_pacer;
    std::vector<uint8_t> m_buffer = std::vector<uint8_t>(65536);
    const int64_t m_idleResetNs;
    int64_t m_lastRead = nowNs();
};

} // namespace tarviks
