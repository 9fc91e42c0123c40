// Any bytes as a bitmap file: either a picture within the payload buffer's size or one of the
// decoder's own failures; never a read or write outside the file or the pixels.
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
    const std::size_t count = std::size_t(bitmap.width) * std::size_t(bitmap.height);
    if (bitmap.width < 0 || bitmap.height < 0
        || count * 2 > std::size_t(ormelin::kPayloadBufferSize))
        std::abort();
    uint32_t seen = 0;
    for (std::size_t i = 0; i < count; ++i)
        seen |= bitmap.pixels.data()[i];
    if (seen > 0xFFFFFF)
        std::abort();
    return 0;
}
