#include "payload/payload.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        const ormelin::PictureSize s = ormelin::readIconSize({ data, size });
        if (s.width < 1 || s.width > 256 || s.height < 1 || s.height > 256)
            std::abort();
    } catch (const ormelin::PictureError &) {
    }
    return 0;
}
