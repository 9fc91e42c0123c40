#pragma once
// How tarviks-sim answers: which bytes for each event (the reply, or noise before it, or junk
// instead of it, or nothing), when (after a delay, never overtaking an earlier answer), in what
// pieces, and the writing of what is due to the port.
#include "tools/simcore.h"
#include "tools/simoptions.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tarviks {

class Log;

struct Outgoing
{
    int64_t due;
    std::vector<uint8_t> bytes;
    std::size_t written = 0;
    std::string logLine; // logged when this piece, the last of its answer, is written
};

class Answers
{
public:
    Answers(const Options &o, std::mt19937_64 &rng)
        : m_options(o)
        , m_rng(rng)
    {
    }

    void queue(const Event &e, int64_t at);

    // Writes every piece due by `now` to `fd`. Nobody connected: like a closed port, an unopened
    // one loses what the controller sends, and the log says so. True when the port would take no
    // more for now.
    bool send(int fd, bool connected, Log &log, int64_t now);

    // When the next piece is due, if any is waiting.
    std::optional<int64_t> nextDue() const;

private:
    int64_t delayMs();
    std::vector<uint8_t> randomNonReplyBytes(int least, int most);

    const Options &m_options;
    std::mt19937_64 &m_rng;
    std::deque<Outgoing> m_pending;
    int64_t m_lastDue = 0;
};

} // namespace tarviks
