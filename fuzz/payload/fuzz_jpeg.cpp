// JPEG headers through libjpeg with our error manager: every error must come back as a picture
// failure, never as an exit or a jump past live frames.
#include "payload/payload.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        const ormelin::PictureSize s = ormelin::readJpegSize({ data, size });
        if (s.width < 0 || s.height < 0 || (size > 0 && (s.width == 0 || s.height == 0)))
            std::abort();
    } catch (const ormelin::PictureError &e) {
        if (!e.text().startsWith(QLatin1String("JPEG error #")))
            std::abort();
    }
    return 0;
}
