#include "link/replybuffer.h"

#include <algorithm>
#include <cstring>

namespace ormelin {

void ReplyBuffer::append(const uint8_t *bytes, int32_t count)
{
    if (!bytes || count <= 0)
        return;
    // Taken in pieces that fit: after each piece the buffer is resynchronised, which frees the
    // room of any stray bytes, so a reply behind a long run of noise is still found.
    while (count > 0) {
        const int room = kCapacity - m_count;
        if (room == 0)
            return;
        const int take = std::min(room, int(count));
        std::memcpy(m_bytes.data() + m_count, bytes, size_t(take));
        m_count += take;
        bytes += take;
        count -= take;
        resynchronise();
    }
}

void ReplyBuffer::resynchronise()
{
    if (m_count == 0 || m_bytes[0] == kReplyStart)
        return;
    const auto begin = m_bytes.begin();
    const auto found = std::find(begin + 1, begin + m_count, kReplyStart);
    if (found == begin + m_count) {
        m_count = 0;
        return;
    }
    const int p = int(found - begin);
    std::memmove(m_bytes.data(), m_bytes.data() + p, size_t(m_count - p));
    m_count -= p;
}

ScreenResolution connectionCheckResolution(const ReplyBuffer &reply)
{
    const int s = reply.at(1) == 0xFF ? 1 : 0;
    const auto value16 = [&](int i) { return int(reply.at(i)) | int(reply.at(i + 1)) << 8; };
    return { value16(1 + s), value16(3 + s) };
}

bool uploadRefused(const ReplyBuffer &reply)
{
    return reply.at(1) == 0xFF && reply.at(2) == 0xFF;
}

bool uploadAnswerShaped(const ReplyBuffer &reply)
{
    return reply.at(1) == reply.at(2) && (reply.at(1) == 0x00 || reply.at(1) == 0xFF);
}

EraseOutcome eraseOutcome(const ReplyBuffer &reply)
{
    switch (reply.at(1)) {
    case 0xFF:
        return EraseOutcome::Refused;
    case 0xAA:
        return EraseOutcome::Erased;
    default:
        return EraseOutcome::NoMeaning;
    }
}

} // namespace ormelin
