// Any bytes as a bitmap file: a picture, or one of the decoder's own failures; never a read or
// write outside the file or the pixels. A picture beyond the payload buffer's size gives its
// size alone.
#include "payload/payload.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static ormelin::DecodedBitmap bitmap; // reused across inputs, as the holder does
    try {
        ormelin::decodeBitmap({ data, size }, bitmap);
    } catch (const ormelin::Failure &) {
        return 0;
    }
    if (bitmap.width < 0 || bitmap.height < 0)
        std::abort();
    const std::size_t count = std::size_t(bitmap.width) * std::size_t(bitmap.height);
    if (count * 2 > std::size_t(ormelin::kPayloadBufferSize))
        return 0; // no pixels decoded
    uint32_t seen = 0;
    for (std::size_t i = 0; i < count; ++i)
        seen |= bitmap.pixels.data()[i];
    if (seen > 0xFFFFFF)
        std::abort();
    return 0;
}
