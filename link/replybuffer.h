#pragma once
// The controller answers with 10-byte replies that start with 0xFF; they arrive in any grouping,
// possibly behind stray bytes. ReplyBuffer collects them and keeps itself either empty or
// starting with 0xFF, so a reply is complete once 10 bytes are held. The functions below read
// the fields of a complete reply; which of them applies depends on the command in progress,
// which the link controller knows and this file does not.
#include <array>
#include <cstddef>
#include <cstdint>

namespace ormelin {

class ReplyBuffer
{
public:
    static constexpr int kCapacity = 1002;
    static constexpr int kReplySize = 10;
    static constexpr uint8_t kReplyStart = 0xFF;

    // Appends the batch and resynchronises on the first 0xFF. Stray bytes in front of a reply
    // are skipped before they can take room, so only a buffer that is full and already starts
    // with 0xFF drops anything: then the rest of the batch is dropped and what is held, the
    // oldest reply candidate, stays intact. Nothing is ever written past the buffer.
    void append(const uint8_t *bytes, int32_t count);

    int count() const { return m_count; }
    void clear() { m_count = 0; }
    bool complete() const { return m_count >= kReplySize; }
    // Bytes beyond count() read as whatever was last there; outside the buffer they read as 0.
    uint8_t at(int i) const { return i >= 0 && i < kCapacity ? m_bytes[std::size_t(i)] : 0; }
    const uint8_t *data() const { return m_bytes.data(); }

private:
    void resynchronise();

    std::array<uint8_t, kCapacity> m_bytes {};
    int m_count = 0;
};

struct ScreenResolution
{
    int first;
    int second;
};

// The connection-check reply: FF, then the two 16-bit dimensions; a controller may send a second
// FF in front of them, which is then skipped.
ScreenResolution connectionCheckResolution(const ReplyBuffer &reply);
// An upload reply whose 16-bit status at [1] is 0xFFFF: no room, or the flash is write-protected.
bool uploadRefused(const ReplyBuffer &reply);
// The controller answers an upload with the status 0x0000 or 0xFFFF. Any other status counts as
// an acceptance, except where the link knows that an answer to another command may still come:
// a check's answer carries the screen's width there, an erase's its 0xAA.
bool uploadAnswerShaped(const ReplyBuffer &reply);

enum class EraseOutcome { Refused, Erased, NoMeaning };
EraseOutcome eraseOutcome(const ReplyBuffer &reply);

} // namespace ormelin
