#include "tools/simreader.h"

#include <unistd.h>

namespace tarviks {

long FrameReader::read(int fd, std::size_t allowance, std::vector<Event> &events, int64_t &at)
{
    const ssize_t n = ::read(fd, m_buffer.data(), std::min(m_buffer.size(), allowance));
    if (n > 0) {
        at = nowNs();
        m_pacer.consume(std::size_t(n));
        m_lastRead = at;
        events = m_sim.feed(m_buffer.data(), std::size_t(n));
    }
    return long(n);
}

std::optional<Event> FrameReader::abandonIfIdle(int64_t now)
{
    if (m_idleResetNs > 0 && m_sim.midFrame() && now - m_lastRead >= m_idleResetNs)
        return m_sim.abandonPartial();
    return std::nullopt;
}

std::optional<int64_t> FrameReader::idleResetDue() const
{
    if (m_idleResetNs > 0 && m_sim.midFrame())
        return m_lastRead + m_idleResetNs;
    return std::nullopt;
}

} // namespace tarviks
