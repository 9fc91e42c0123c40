#include "tools/simanswers.h"

#include "tools/simclock.h"
#include "tools/simdump.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tarviks {
namespace {

constexpr int64_t kChunkGapNs = 3 * kNsPerMs;

} // namespace

void Answers::queue(const Event &e, int64_t at)
{
    if (m_options.silent)
        return;
    std::vector<uint8_t> bytes;
    std::string line;
    if (m_options.garbage) {
        if (!e.completesCommand)
            return;
        bytes = randomNonReplyBytes(1, 12);
        line = "junk hex=" + hexText(bytes);
    } else {
        if (e.reply.empty())
            return;
        if (m_options.noise)
            bytes = randomNonReplyBytes(1, 5);
        const std::size_t noise = bytes.size();
        bytes.insert(bytes.end(), e.reply.begin(), e.reply.end());
        line = "reply noise=" + std::to_string(noise) + " hex=" + hexText(bytes);
    }
    int64_t due = at + delayMs() * kNsPerMs;
    // Random delays must not let a later answer overtake an earlier one.
    due = std::max(due, m_lastDue);
    const std::size_t piece = m_options.chunk ? m_options.chunk : bytes.size();
    for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
        const std::size_t n = std::min(piece, bytes.size() - offset);
        Outgoing o { due,
            std::vector<uint8_t>(
                bytes.begin() + std::ptrdiff_t(offset), bytes.begin() + std::ptrdiff_t(offset + n)),
            0, {} };
        if (offset + n == bytes.size())
            o.logLine = line;
        m_pending.push_back(std::move(o));
        m_lastDue = due;
        due += kChunkGapNs;
    }
}

bool Answers::send(int fd, bool connected, Log &log, int64_t now)
{
    while (!m_pending.empty() && m_pending.front().due <= now) {
        Outgoing &o = m_pending.front();
        if (!connected) {
            log.line(now,
                "dropped hex=" + hexText(o.bytes.data() + o.written, o.bytes.size() - o.written));
            m_pending.pop_front();
            continue;
        }
        const ssize_t n = write(fd, o.bytes.data() + o.written, o.bytes.size() - o.written);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return true;
            std::fprintf(stderr, "tarviks-sim: write: %s\n", std::strerror(errno));
            m_pending.pop_front();
            continue;
        }
        o.written += std::size_t(n);
        if (o.written < o.bytes.size())
            return true;
        if (!o.logLine.empty())
            log.line(nowNs(), o.logLine);
        m_pending.pop_front();
    }
    return false;
}

std::optional<int64_t> Answers::nextDue() const
{
    if (m_pending.empty())
        return std::nullopt;
    return m_pending.front().due;
}

int64_t Answers::delayMs()
{
    if (m_options.delayMaxMs <= m_options.delayMinMs)
        return m_options.delayMinMs;
    return std::uniform_int_distribution<int64_t>(m_options.delayMinMs, m_options.delayMaxMs)(
        m_rng);
}

std::vector<uint8_t> Answers::randomNonReplyBytes(int least, int most)
{
    const int n = std::uniform_int_distribution<int>(least, most)(m_rng);
    std::uniform_int_distribution<int> value(0, 0xFE);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < n; ++i)
        bytes.push_back(uint8_t(value(m_rng)));
    return bytes;
}

} // namespace tarviks
