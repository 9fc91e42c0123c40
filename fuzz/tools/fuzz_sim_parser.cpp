// The simulator's frame decoder on arbitrary bytes. Besides memory safety it checks what must
// hold whatever arrives: the same events however the stream is cut into reads, replies of ten
// bytes that start with FF, and a table that never holds more than its capacity.
//
// Input: byte 0 chooses the configuration, byte 1 the read sizes, the rest is the line.
#include "tools/simcore.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using tarviks::Event;

std::vector<std::string> normalised(const std::vector<Event> &events)
{
    std::vector<std::string> out;
    std::vector<uint8_t> garbage;
    for (const Event &e : events) {
        if (e.kind == Event::Kind::Garbage) {
            garbage.insert(garbage.end(), e.bytes.begin(), e.bytes.end());
            continue;
        }
        if (!garbage.empty())
            out.push_back("garbage " + tarviks::hexText(garbage));
        garbage.clear();
        out.push_back(e.line + " reply=" + tarviks::hexText(e.reply));
    }
    if (!garbage.empty())
        out.push_back("garbage " + tarviks::hexText(garbage));
    return out;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    tarviks::SimConfig config;
    config.writeProtected = data[0] & 1;
    config.shifted = data[0] & 2;
    if (data[0] & 4)
        config.capacity = uint64_t(data[0] >> 3) * 4;
    const unsigned cut = data[1] % 7 + 1;
    data += 2;
    size -= 2;

    tarviks::Simulator whole(config);
    const std::vector<Event> all = whole.feed(data, size);

    tarviks::Simulator pieces(config);
    std::vector<Event> split;
    for (size_t offset = 0, n = cut; offset < size; offset += n, n = n % 7 + 1) {
        const size_t take = std::min(n, size - offset);
        const auto events = pieces.feed(data + offset, take);
        split.insert(split.end(), events.begin(), events.end());
    }

    check(normalised(all) == normalised(split));
    check(whole.tableText() == pieces.tableText());
    check(whole.midFrame() == pieces.midFrame());

    uint64_t total = 0;
    for (int n = 0; n < tarviks::kTableSize; ++n)
        if (const auto *o = whole.object(n))
            total += o->bytes.size();
    check(total == whole.storedBytes());
    check(!config.capacity || total <= *config.capacity);
    for (const Event &e : all)
        check(e.reply.empty()
            || (e.reply.size() == size_t(tarviks::kReplySize) && e.reply[0] == 0xFF));

    if (whole.midFrame()) {
        const auto abandoned = whole.abandonPartial();
        check(abandoned.has_value() && !whole.midFrame());
    }
    return 0;
}
